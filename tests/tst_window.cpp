// The main window as built: widget tree, geometry, texts, fonts, styles, table settings.
#include "aicheckboxheader.h"
#include "mainwindow.h"
#include "myipaddredit.h"
#include "privatenetwork.h"
#include "threadgetdevice.h"

#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(const QMetaObject*)

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowIsFixedAndTitled();
    void widgets_data();
    void widgets();
    void tableSettings();
    void columnTitlesAndWidths();
    void stylesAndFonts();
    void columnsFitWithRowsPresent();
    // Other code finds these methods by index and name: the class's own, in this order.
    void ownMetaMethods_data();
    void ownMetaMethods();

private:
    MainWindow* window = nullptr;
};

void TestWindow::initTestCase()
{
    const RefuseOutsidePrivateNetwork guard;
    window = new MainWindow;
    // As the entry point does, after the window is built.
    QApplication::setFont(QFont("Microsoft Yahei", 9, -1, false));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TestWindow::cleanupTestCase()
{
    delete window;
}

void TestWindow::windowIsFixedAndTitled()
{
    QCOMPARE(window->objectName(), QString("MainWindow"));
    QCOMPARE(window->windowTitle(), QString::fromUtf8("设备搜索V2.1"));
    QCOMPARE(window->size(), QSize(1250, 613));
    QCOMPARE(window->minimumSize(), QSize(1250, 613));
    QCOMPARE(window->maximumSize(), QSize(1250, 613));
    QCOMPARE(window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    auto* toolBar = window->findChild<QToolBar*>("mainToolBar");
    QVERIFY(toolBar);
    QCOMPARE(window->toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(toolBar->actions().isEmpty());
    QCOMPARE(window->statusBar()->objectName(), QString("statusBar"));
    QCOMPARE(window->centralWidget()->objectName(), QString("centralWidget"));
}

void TestWindow::widgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("table") << "tableWidget"
                           << "QTableWidget" << QRect(1, 50, 961, 531) << "";
    QTest::newRow("search") << "pushButton"
                            << "QPushButton" << QRect(10, 10, 75, 23) << "搜索";
    QTest::newRow("start") << "StartIp"
                           << "MyIpAddrEdit" << QRect(1050, 80, 186, 25) << "";
    QTest::newRow("heading") << "label"
                             << "QLabel" << QRect(980, 50, 81, 21) << "批量设置IP:";
    QTest::newRow("start label") << "label_2"
                                 << "QLabel" << QRect(980, 90, 54, 12) << "起始IP：";
    QTest::newRow("end label") << "label_3"
                               << "QLabel" << QRect(980, 130, 54, 12) << "结束IP：";
    QTest::newRow("end") << "EndIp"
                         << "MyIpAddrEdit" << QRect(1050, 120, 186, 25) << "";
    QTest::newRow("mask") << "NetMask"
                          << "MyIpAddrEdit" << QRect(1050, 160, 186, 25) << "";
    QTest::newRow("mask label") << "label_4"
                                << "QLabel" << QRect(980, 170, 54, 12) << "子网掩码：";
    QTest::newRow("gateway") << "Gateway"
                             << "MyIpAddrEdit" << QRect(1050, 200, 186, 25) << "";
    QTest::newRow("gateway label") << "label_5"
                                   << "QLabel" << QRect(980, 210, 54, 12) << "网关地址：";
    QTest::newRow("set") << "SetIpButton"
                         << "QPushButton" << QRect(1160, 250, 75, 23) << "设置";
}

void TestWindow::widgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    auto* widget = window->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), window->centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), text);
}

void TestWindow::tableSettings()
{
    auto* table = window->findChild<QTableWidget*>("tableWidget");
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 6);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(table->alternatingRowColors());
    QVERIFY(table->testAttribute(Qt::WA_MouseTracking));
    QVERIFY(qobject_cast<AiCheckBoxHeader*>(table->horizontalHeader()));
    QVERIFY(table->horizontalHeader()->isVisible());
    QCOMPARE(table->horizontalHeader()->minimumHeight(), 25);
    QVERIFY(!table->verticalHeader()->isVisible());
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 30);
}

void TestWindow::columnTitlesAndWidths()
{
    auto* table = window->findChild<QTableWidget*>("tableWidget");
    const QStringList titles { "", "序号", "设备名称", "IP地址", "序列号", "识别码" };
    const QList<int> widths { 20, 60, 340, 139, 300, 100 };
    for (int column = 0; column < 6; ++column) {
        QVERIFY(table->horizontalHeaderItem(column));
        QCOMPARE(table->horizontalHeaderItem(column)->text(), titles.at(column));
        QCOMPARE(table->columnWidth(column), widths.at(column));
    }
}

void TestWindow::columnsFitWithRowsPresent()
{
    auto* table = window->findChild<QTableWidget*>("tableWidget");
    for (int i = 0; i < 3; ++i) {
        QByteArray reply("{\"name\":\"camera with a long name\",\"ip\":\"10.0.0.9\",\"sn\":\"SN1\","
                         "\"mode\":\"xxxxID\",\"libver\":\"1\"}");
        window->slo_getdevice(reply.data(), 1, 0);
    }
    QTRY_COMPARE(table->rowCount(), 3);
    QTest::qWait(100); // the held paint and the layout of the new rows
    QCOMPARE(table->horizontalHeader()->length(), table->viewport()->width());
    QVERIFY(!table->horizontalScrollBar()->isVisible());
}

void TestWindow::stylesAndFonts()
{
    auto* table = window->findChild<QTableWidget*>("tableWidget");
    QCOMPARE(table->styleSheet(),
        QString("color:#000000;gridline-color:gray;background:#0;selection-background-color:lightblue;"
                "border:1px solid black;"));
    QCOMPARE(window->findChild<QPushButton*>("pushButton")->styleSheet(),
        QString("border:1px solid black;border-radius:5px;padding:2px 4px;"));
    QVERIFY(window->findChild<QPushButton*>("SetIpButton")->styleSheet().isEmpty());

    const QFont heading = window->findChild<QLabel*>("label")->font();
    QCOMPARE(heading.family(), QString("Abyssinica SIL"));
    QCOMPARE(heading.pointSize(), 10);
    QCOMPARE(heading.weight(), int(QFont::Bold));
    QVERIFY(!heading.italic());
    // The search button is left out: its style sheet keeps the font it was polished with.
    for (const char* name : { "label_2", "label_3", "label_4", "label_5", "SetIpButton" }) {
        const QFont font = window->findChild<QWidget*>(name)->font();
        QCOMPARE(font.family(), QString("Microsoft Yahei"));
        QCOMPARE(font.pointSize(), 9);
    }
}

void TestWindow::ownMetaMethods_data()
{
    QTest::addColumn<const QMetaObject*>("metaObject");
    QTest::addColumn<QStringList>("methods");
    QTest::newRow("MainWindow") << &MainWindow::staticMetaObject
                                << QStringList { "public signal sig_askdevice()",
                                       "public slot slo_getdevice(char*,uchar,uint)",
                                       "private slot on_pushButton_clicked()",
                                       "private slot on_table_checkbox_all(bool)",
                                       "private slot on_SetIpButton_clicked()",
                                       "private slot on_ipddr_changed(QString)" };
    QTest::newRow("ThreadGetDevice") << &ThreadGetDevice::staticMetaObject
                                     << QStringList { "public signal sig_getdevice(char*,uchar,uint)" };
}

void TestWindow::ownMetaMethods()
{
    QFETCH(const QMetaObject*, metaObject);
    QFETCH(QStringList, methods);
    static const char* const access[] = { "private", "protected", "public" };
    static const char* const type[] = { "method", "signal", "slot", "constructor" };
    QStringList own;
    for (int i = metaObject->methodOffset(); i < metaObject->methodCount(); ++i) {
        const QMetaMethod method = metaObject->method(i);
        own << QString("%1 %2 %3")
                   .arg(access[method.access()], type[method.methodType()], method.methodSignature());
        for (const QByteArray& name : method.parameterNames())
            QVERIFY2(name.isEmpty(), (method.methodSignature() + " names its parameters").constData());
    }
    QCOMPARE(own, methods);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
