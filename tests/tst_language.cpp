// The window's language: the choice over locale names, then the window as the system's
// locale makes it. ctest runs this under C, zh_CN.UTF-8 and en_US.UTF-8, and says in
// EXPECT_LANGUAGE (zh or en) what the window must speak.
#include "devicefields.h"
#include "devicetally.h"
#include "mainwindow.h"
#include "windowfixture.h"
#include "windowlanguage.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

Q_DECLARE_METATYPE(WindowLanguage)

namespace {
bool english()
{
    return qgetenv("EXPECT_LANGUAGE") == "en";
}

// The text of the language under test.
QString pick(const char* zh, const char* en)
{
    return QString::fromUtf8(english() ? en : zh);
}

DeviceFields device(const char* sn, const char* ip)
{
    DeviceFields d;
    if (sn)
        d.sn = QString::fromLatin1(sn);
    d.ip = QString::fromLatin1(ip);
    return d;
}
}

class TstLanguage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void choice_data();
    void choice();
    void windowTexts_data();
    void windowTexts();
    void englishTextsFit();
    void noticeBox();
    void statusLine_data();
    void statusLine();

private:
    std::unique_ptr<WindowFixture> fixture;
};

void TstLanguage::initTestCase()
{
    QVERIFY2(qgetenv("EXPECT_LANGUAGE") == "zh" || english(), "EXPECT_LANGUAGE must be zh or en");
    // As the entry point does: the catalogue first, then the window, then the font.
    const WindowLanguage chosen = InstallWindowLanguage(qApp);
    QCOMPARE(chosen, english() ? WindowLanguage::English : WindowLanguage::Chinese);
    fixture = std::make_unique<WindowFixture>();
    QApplication::setFont(QFont("Microsoft Yahei", 9, -1, false));
    QVERIFY(fixture->exposed());
}

void TstLanguage::cleanupTestCase()
{
    fixture.reset();
}

void TstLanguage::choice_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<WindowLanguage>("expected");
    const auto zh = WindowLanguage::Chinese;
    const auto en = WindowLanguage::English;
    QTest::newRow("C") << "C" << QStringList { "C" } << zh;
    QTest::newRow("POSIX") << "POSIX" << QStringList { "POSIX" } << zh;
    QTest::newRow("C.UTF-8") << "C" << QStringList { "C.UTF-8" } << zh;
    QTest::newRow("zh_CN") << "zh_CN" << QStringList { "zh-CN", "zh-Hans-CN", "zh" } << zh;
    QTest::newRow("zh_TW") << "zh_TW" << QStringList { "zh-TW", "zh-Hant-TW" } << zh;
    QTest::newRow("en_US") << "en_US" << QStringList { "en-US", "en" } << en;
    QTest::newRow("de_DE") << "de_DE" << QStringList { "de-DE", "de" } << en;
    QTest::newRow("empty list, English locale") << "en_US" << QStringList() << en;
    QTest::newRow("empty list, C locale") << "C" << QStringList() << zh;
    QTest::newRow("nothing known") << "" << QStringList() << zh;
    QTest::newRow("zh first, en after") << "zh_CN" << QStringList { "zh-CN", "en-US" } << zh;
    QTest::newRow("en first, zh after") << "en_GB" << QStringList { "en-GB", "zh-CN" } << en;
    QTest::newRow("LANGUAGE=en under LANG=C") << "C" << QStringList { "en-US", "en" } << en;
}

void TstLanguage::choice()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, uiLanguages);
    QFETCH(WindowLanguage, expected);
    QCOMPARE(ChooseWindowLanguage(locale, uiLanguages), expected);
}

void TstLanguage::windowTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("title") << "" << pick("设备搜索V2.1", "Device Search V2.1");
    QTest::newRow("column 1") << "1" << pick("序号", "No.");
    QTest::newRow("column 2") << "2" << pick("设备名称", "Device name");
    QTest::newRow("column 3") << "3" << pick("IP地址", "IP address");
    QTest::newRow("column 4") << "4" << pick("序列号", "Serial number");
    QTest::newRow("column 5") << "5" << pick("识别码", "ID code");
    QTest::newRow("search") << "pushButton" << pick("搜索", "Search");
    QTest::newRow("heading") << "label" << pick("批量设置IP:", "Batch IP:");
    QTest::newRow("start") << "label_2" << pick("起始IP：", "Start IP:");
    QTest::newRow("end") << "label_3" << pick("结束IP：", "End IP:");
    QTest::newRow("mask") << "label_4" << pick("子网掩码：", "Mask:");
    QTest::newRow("gateway") << "label_5" << pick("网关地址：", "Router:");
    QTest::newRow("set") << "SetIpButton" << pick("设置", "Set");
}

void TstLanguage::windowTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    MainWindow& window = fixture->window;
    bool isColumn = false;
    const int column = name.toInt(&isColumn);
    if (name.isEmpty())
        QCOMPARE(window.windowTitle(), text);
    else if (isColumn)
        QCOMPARE(fixture->table->horizontalHeaderItem(column)->text(), text);
    else if (auto* label = window.findChild<QLabel*>(name))
        QCOMPARE(label->text(), text);
    else
        QCOMPARE(window.findChild<QPushButton*>(name)->text(), text);
}

// Every English text in its fixed place, measured in the font the widget shows.
void TstLanguage::englishTextsFit()
{
    if (!english())
        QSKIP("the Chinese texts are the window's own");
    MainWindow& window = fixture->window;
    QStringList tooWide;
    for (auto* label : window.centralWidget()->findChildren<QLabel*>()) {
        const int width = label->fontMetrics().horizontalAdvance(label->text());
        if (width > label->contentsRect().width())
            tooWide << QStringLiteral("%1 \"%2\": %3 > %4")
                           .arg(label->objectName(), label->text())
                           .arg(width)
                           .arg(label->contentsRect().width());
    }
    for (auto* button : window.centralWidget()->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        const int margins = 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        const int width = button->fontMetrics().horizontalAdvance(button->text()) + margins;
        if (width > button->width())
            tooWide << QStringLiteral("%1 \"%2\": %3 > %4")
                           .arg(button->objectName(), button->text())
                           .arg(width)
                           .arg(button->width());
    }
    QHeaderView* header = fixture->table->horizontalHeader();
    const int headerMargins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = 1; column < fixture->table->columnCount(); ++column) {
        const QString title = fixture->table->horizontalHeaderItem(column)->text();
        const int width = header->fontMetrics().horizontalAdvance(title) + headerMargins;
        if (width > header->sectionSize(column))
            tooWide << QStringLiteral("column %1 \"%2\": %3 > %4")
                           .arg(column)
                           .arg(title)
                           .arg(width)
                           .arg(header->sectionSize(column));
    }
    QVERIFY2(tooWide.isEmpty(), qPrintable(tooWide.join("; ")));
}

// A refused batch: the box speaks the language too, and its one button is Qt's own "OK".
void TstLanguage::noticeBox()
{
    QString title, text, button;
    QTimer::singleShot(0, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                button = ok->text();
            box->reject();
        }
    });
    QTest::mouseClick(fixture->window.findChild<QPushButton*>("SetIpButton"), Qt::LeftButton);
    QCOMPARE(title, pick("提示", "Notice"));
    QCOMPARE(text, pick("请先选择设备！", "Select a device first."));
    QCOMPARE(button, QStringLiteral("OK"));
}

void TstLanguage::statusLine_data()
{
    QTest::addColumn<QString>("found");
    QTest::addColumn<QString>("foundTip");
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("setTip");
    QTest::newRow("found on two adapters")
        << pick("找到 3 台设备（2 个网卡：以太网、WLAN）", "3 devices found on 2 adapters: 以太网, WLAN")
        << "以太网  192.168.1.5\nWLAN  10.0.0.3"
        << ""
        << "";
    QTest::newRow("found on the system's adapter")
        << pick("找到 1 台设备（系统默认网卡）", "1 device found on the system's default adapter")
        << pick("由系统选择搜索所用的网卡", "The system chooses the adapter to search on") << ""
        << "";
    QTest::newRow("sent") << ""
                          << ""
                          << pick("已向 5 台设备发送设置，点击“搜索”查看结果",
                                 "Settings sent to 5 devices. Search to see which took.")
                          << "";
    QTest::newRow("sent to one") << ""
                                 << ""
                                 << pick("已向 1 台设备发送设置，点击“搜索”查看结果",
                                        "Settings sent to 1 device. Search to see whether it took.")
                                 << "";
    QTest::newRow("none sent") << ""
                               << "" << pick("设置未能发送", "No settings could be sent.") << "";
    QTest::newRow("3 of 5 took")
        << pick("找到 5 台设备（系统默认网卡）", "5 devices found on the system's default adapter")
        << pick("由系统选择搜索所用的网卡", "The system chooses the adapter to search on")
        << pick("5 台中 3 台已使用新地址", "3 of 5 devices answer at their new address")
        << pick("尚未在新地址应答：S4、S5", "Not yet at the new address: S4, S5");
    QTest::newRow("all took") << ""
                              << ""
                              << pick("2 台中 2 台已使用新地址", "2 of 2 devices answer at their new address")
                              << "";
}

// The tally as the window keeps it, over the steps each row names.
void TstLanguage::statusLine()
{
    QFETCH(QString, found);
    QFETCH(QString, foundTip);
    QFETCH(QString, set);
    QFETCH(QString, setTip);
    DeviceTally tally;
    const QByteArray row = QTest::currentDataTag();
    if (row == "found on two adapters") {
        tally.startSearch({ { "以太网", "192.168.1.5" }, { "WLAN", "10.0.0.3" } });
        // S1 answers both ways; a row without a serial number is a device of its own.
        for (const DeviceFields& d : { device("S1", "10.0.0.7"), device("S1", "10.0.0.7"),
                 device("S2", "10.0.0.8"), device(nullptr, "10.0.0.9") })
            tally.addDevice(d);
    } else if (row == "found on the system's adapter") {
        tally.startSearch({});
        tally.addDevice(device("S1", "10.0.0.7"));
    } else if (row == "sent") {
        tally.settingsSent({ { "S1", "a" }, { "S2", "b" }, { "S3", "c" }, { "S4", "d" } }, 5);
    } else if (row == "sent to one") {
        tally.settingsSent({ { "S1", "a" } }, 1);
    } else if (row == "none sent") {
        tally.settingsSent({}, 0);
    } else if (row == "3 of 5 took") {
        tally.settingsSent({ { "S1", "10.1.0.1" }, { "S2", "10.1.0.2" }, { "S3", "10.1.0.3" },
                               { "S4", "10.1.0.4" }, { "S5", "10.1.0.5" } },
            5);
        tally.startSearch({});
        for (const DeviceFields& d :
            { device("S1", "10.1.0.1"), device("S4", "10.0.0.4"), device("S2", "10.1.0.2"),
                device("S3", "10.1.0.3"), device("S5", "10.0.0.5"), device("S3", "10.1.0.3") })
            tally.addDevice(d);
    } else if (row == "all took") {
        tally.settingsSent({ { "S1", "10.1.0.1" }, { "S2", "10.1.0.2" } }, 2);
        tally.startSearch({});
        tally.addDevice(device("S2", "10.1.0.2"));
        tally.addDevice(device("S1", "10.1.0.1"));
    }
    if (!found.isEmpty() || !foundTip.isEmpty()) {
        QCOMPARE(tally.foundText(), found);
        QCOMPARE(tally.foundToolTip(), foundTip);
    }
    QCOMPARE(tally.setText(), set);
    QCOMPARE(tally.setToolTip(), setTip);
}

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
