// The check box painted in the table header and the clicks that toggle it.
#include "aicheckboxheader.h"
#include "windowfixture.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {
// Counts the paints of a widget, to see that a click repainted the header.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Records the check-box primitive the header asks its style to draw.
class RecordingStyle : public QProxyStyle {
public:
    struct Draw {
        int state;
        QRect rect;
        QSize iconSize;
        bool checkBoxWithoutParent;
    };
    QVector<Draw> draws;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
        const QWidget* widget) const override
    {
        if (element == PE_IndicatorCheckBox) {
            auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            const_cast<RecordingStyle*>(this)->draws.append(
                { int(option->state), option->rect, button ? button->iconSize : QSize(),
                    qobject_cast<const QCheckBox*>(widget) && !widget->parent() });
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};
}

class TestHeader : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void clicks_data();
    void clicks();
    void doubleClickTogglesTwice();
    void handUntickedRowLeavesHeaderTicked();
    void paintedBoxShowsState();
    void boxOptionCoversSectionZero();

private:
    QPoint sectionPoint(int logicalIndex) const;
    void addTickableRows(int count);
    QImage sectionZero();

    std::unique_ptr<WindowFixture> fixture;
    MainWindow* window = nullptr;
    QTableWidget* table = nullptr;
    AiCheckBoxHeader* header = nullptr;
};

void TestHeader::initTestCase()
{
    fixture = std::make_unique<WindowFixture>();
    window = &fixture->window;
    table = fixture->table;
    header = qobject_cast<AiCheckBoxHeader*>(table->horizontalHeader());
    QVERIFY(header);
    QVERIFY(fixture->exposed());
}

void TestHeader::init()
{
    fixture->search();
    addTickableRows(3);
}

void TestHeader::cleanupTestCase()
{
    fixture.reset();
}

QPoint TestHeader::sectionPoint(int logicalIndex) const
{
    if (logicalIndex < 0) // past the last section
        return QPoint(header->length() + 5, header->height() / 2);
    return QPoint(header->sectionViewportPosition(logicalIndex) + header->sectionSize(logicalIndex) / 2,
        header->height() / 2);
}

void TestHeader::addTickableRows(int count)
{
    for (int i = 0; i < count; ++i) {
        QByteArray payload = R"({"sn":"S","libver":"1"})";
        window->slo_getdevice(payload.data(), 1, 0);
    }
}

QImage TestHeader::sectionZero()
{
    QApplication::processEvents();
    return header->grab(
                     QRect(header->sectionViewportPosition(0), 0, header->sectionSize(0), header->height()))
        .toImage();
}

void TestHeader::clicks_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("section");
    QTest::addColumn<bool>("toggles");
    QTest::newRow("left on section 0") << int(Qt::LeftButton) << 0 << true;
    QTest::newRow("right on section 0") << int(Qt::RightButton) << 0 << false;
    QTest::newRow("left on a title") << int(Qt::LeftButton) << 3 << false;
    QTest::newRow("left past the last section") << int(Qt::LeftButton) << -1 << false;
}

void TestHeader::clicks()
{
    QFETCH(int, button);
    QFETCH(int, section);
    QFETCH(bool, toggles);
    QSignalSpy toggled(header, SIGNAL(signalStateTrange(bool)));
    PaintCounter counter;
    header->viewport()->installEventFilter(&counter);
    QApplication::processEvents();
    counter.paints = 0;

    QTest::mouseClick(header->viewport(), Qt::MouseButton(button), Qt::NoModifier, sectionPoint(section));
    QTRY_VERIFY(counter.paints > 0); // every press repaints, toggled or not
    header->viewport()->removeEventFilter(&counter);

    QCOMPARE(toggled.size(), toggles ? 1 : 0);
    const Qt::CheckState rows = toggles ? Qt::Checked : Qt::Unchecked;
    for (int row = 0; row < table->rowCount(); ++row)
        QCOMPARE(table->item(row, 0)->checkState(), rows);
    if (toggles) {
        QCOMPARE(toggled.first().first().toBool(), true);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
        QCOMPARE(toggled.last().first().toBool(), false);
    }
}

void TestHeader::doubleClickTogglesTwice()
{
    QSignalSpy toggled(header, SIGNAL(signalStateTrange(bool)));
    const QPoint at = sectionPoint(0);
    // A double click as the window system delivers it: press, release, double-click, release.
    QTest::mousePress(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &doubleClick);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);

    QCOMPARE(toggled.size(), 2);
    QCOMPARE(toggled.at(0).first().toBool(), true);
    QCOMPARE(toggled.at(1).first().toBool(), false);
    for (int row = 0; row < table->rowCount(); ++row)
        QCOMPARE(table->item(row, 0)->checkState(), Qt::Unchecked);
}

void TestHeader::handUntickedRowLeavesHeaderTicked()
{
    QSignalSpy toggled(header, SIGNAL(signalStateTrange(bool)));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    table->item(1, 0)->setCheckState(Qt::Unchecked);
    QCOMPARE(table->item(0, 0)->checkState(), Qt::Checked);
    // Still ticked: the next click unticks.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    QCOMPARE(toggled.size(), 2);
    QCOMPARE(toggled.last().first().toBool(), false);
}

void TestHeader::paintedBoxShowsState()
{
    const QImage unticked = sectionZero();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    const QImage ticked = sectionZero();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    const QImage untickedAgain = sectionZero();
    QVERIFY(!unticked.isNull());
    QVERIFY(ticked != unticked);
    QCOMPARE(untickedAgain, unticked);
}

void TestHeader::boxOptionCoversSectionZero()
{
    auto* style = new RecordingStyle;
    header->setStyle(style);
    for (bool ticked : { false, true }) {
        style->draws.clear();
        header->viewport()->repaint();
        QCOMPARE(style->draws.size(), 1); // section 0 only
        const RecordingStyle::Draw draw = style->draws.first();
        QCOMPARE(draw.state, ticked ? 0x20 : 0x18);
        QCOMPARE(draw.rect,
            QRect(
                header->sectionViewportPosition(0), 0, header->sectionSize(0), header->viewport()->height()));
        QCOMPARE(draw.iconSize, QSize(20, 20));
        QVERIFY(draw.checkBoxWithoutParent);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    }
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionPoint(0));
    header->setStyle(nullptr);
    delete style;
}

QTEST_MAIN(TestHeader)
#include "tst_header.moc"
