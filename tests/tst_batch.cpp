// Batch IP assignment: address conversions, the set-network text, the gateway auto-fill,
// the checks of the set button and the frames the batch multicasts. Opens sockets, so it
// runs inside the private network namespace.
#include "myipaddredit.h"
#include "netsetjson.h"
#include "netsettext.h"
#include "service.h"
#include "udptestsocket.h"
#include "windowfixture.h"
#include "wireheader.h"

#include <QApplication>
#include <QFrame>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {
const QString kFrameBlack = QStringLiteral("QFrame{border: 2px solid black}");
const QString kFrameRed = QStringLiteral("QFrame{border: 2px solid red}");
// Put on every editor before a press, so that a check that did not run shows as unchanged.
const QString kFrameUntested = QStringLiteral("QFrame{border: 1px solid black}");
const QString kNoItem = QStringLiteral("<no item>");

QString device(const QString& sn, const QString& ip)
{
    return QStringLiteral(R"({"name":"d","ip":"%1","sn":"%2","libver":"1"})").arg(ip, sn);
}

// cJSON allocation hooks that count live blocks and can fail the n-th allocation.
struct AllocCounter {
    static inline int live = 0;
    static inline int calls = 0;
    static inline int failAt = -1; // -1: never fail
    static void* allocate(size_t size)
    {
        if (calls++ == failAt || failAt == -2)
            return nullptr;
        ++live;
        return malloc(size);
    }
    static void release(void* p)
    {
        if (p)
            --live;
        free(p);
    }
};

// Installs the counting hooks for one scope and restores cJSON's defaults on every path.
struct HooksGuard {
    explicit HooksGuard(int failAt)
    {
        AllocCounter::live = 0;
        AllocCounter::calls = 0;
        AllocCounter::failAt = failAt;
        cJSON_Hooks hooks { &AllocCounter::allocate, &AllocCounter::release };
        cJSON_InitHooks(&hooks);
    }
    ~HooksGuard() { cJSON_InitHooks(nullptr); }
};

// Redirects standard error into a temporary file until finish().
class StderrCapture {
public:
    StderrCapture()
    {
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        file = tmpfile();
        if (file)
            dup2(fileno(file), STDERR_FILENO);
    }
    ~StderrCapture() { finish(); }
    QByteArray finish()
    {
        QByteArray text;
        if (saved < 0)
            return text;
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        saved = -1;
        if (file) {
            rewind(file);
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof(buf), file)) > 0)
                text.append(buf, static_cast<int>(n));
            fclose(file);
            file = nullptr;
        }
        return text;
    }

private:
    int saved = -1;
    FILE* file = nullptr;
};

// Catches the modal message box that a press opens, records it and closes it with OK.
class BoxCatcher : public QObject {
public:
    QWidget* expectedParent = nullptr;
    int count = 0;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    bool okOnly = false;
    bool parentRight = false;

    void arm()
    {
        ++generation;
        count = 0;
        title.clear();
        text.clear();
        schedule();
    }
    void disarm() { ++generation; }

private:
    int generation = 0;

    // A poll chain ends once its press is over, so presses never share one.
    void schedule()
    {
        const int mine = generation;
        QTimer::singleShot(5, this, [this, mine] {
            if (mine == generation)
                poll();
        });
    }

    void poll()
    {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++count;
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            okOnly = box->standardButtons() == QMessageBox::Ok && box->icon() == QMessageBox::Information;
            parentRight = box->parentWidget() == expectedParent;
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        }
        schedule();
    }
};
}

class TstBatch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void ipStrToInt_data();
    void ipStrToInt();
    void ipIntToStr_data();
    void ipIntToStr();

    void netSetJson_data();
    void netSetJson();
    void netSetJsonMnsEntries();
    void netSetJsonWithoutRequest();
    void netSetJsonOutOfMemory();

    void gatewayFollowsStart_data();
    void gatewayFollowsStart();
    void gatewayKeptWhileStartIncomplete();

    void rejectsInvalidBatch_data();
    void rejectsInvalidBatch();
    void assignsAddresses_data();
    void assignsAddresses();
    void unsentRowKeepsItsCell_data();
    void unsentRowKeepsItsCell();
    void deviceTextsShownAsWritten_data();
    void deviceTextsShownAsWritten();

private:
    std::unique_ptr<WindowFixture> fixture;
    MainWindow* window = nullptr;
    QTableWidget* table = nullptr;
    MyIpAddrEdit* startIp = nullptr;
    MyIpAddrEdit* endIp = nullptr;
    MyIpAddrEdit* netMask = nullptr;
    MyIpAddrEdit* gateway = nullptr;
    QPushButton* setButton = nullptr;
    QPushButton* searchButton = nullptr;
    // On the devices' command port in the group: receives what the batch sends.
    UdpTestSocket sink { kCommandPort, true };
    BoxCatcher catcher;
    int fenceNumber = 0;

    static QFrame* border(MyIpAddrEdit* edit)
    {
        return edit->findChild<QFrame*>(QString(), Qt::FindDirectChildrenOnly);
    }
    void addRows(const QStringList& payloads, const QString& ticks);
    void fillForm(const QString& start, const QString& end, const QString& mask, const QString& gw);
    QStringList ipCells() const;
    QStringList commandFrames();
    void press();
};

void TstBatch::initTestCase()
{
    // Frames go to the command port of the group; listen there as a device would.
    QVERIFY2(sink.bound, "cannot bind the command port");

    fixture = std::make_unique<WindowFixture>();
    window = &fixture->window;
    QVERIFY(fixture->exposed());
    table = fixture->table;
    startIp = window->findChild<MyIpAddrEdit*>("StartIp");
    endIp = window->findChild<MyIpAddrEdit*>("EndIp");
    netMask = window->findChild<MyIpAddrEdit*>("NetMask");
    gateway = window->findChild<MyIpAddrEdit*>("Gateway");
    setButton = window->findChild<QPushButton*>("SetIpButton");
    searchButton = fixture->searchButton;
    QVERIFY(table && startIp && endIp && netMask && gateway && setButton && searchButton);
    for (MyIpAddrEdit* edit : { startIp, endIp, netMask, gateway })
        QVERIFY(border(edit));
    catcher.expectedParent = window;
}

void TstBatch::cleanupTestCase()
{
    fixture.reset();
    window = nullptr;
}

void TstBatch::init()
{
    if (!window)
        return;
    // A search empties the table and restarts its row counter.
    QTest::mouseClick(searchButton, Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    commandFrames();
}

void TstBatch::addRows(const QStringList& payloads, const QString& ticks)
{
    for (const QString& payload : payloads) {
        QByteArray bytes = payload.toUtf8();
        window->slo_getdevice(bytes.data(), 1, 0);
    }
    QCOMPARE(table->rowCount(), payloads.size());
    for (int row = 0; row < ticks.size(); ++row) {
        if (ticks.at(row) == QLatin1Char('x')) {
            QVERIFY(table->item(row, 0));
            table->item(row, 0)->setCheckState(Qt::Checked);
        }
    }
}

void TstBatch::fillForm(const QString& start, const QString& end, const QString& mask, const QString& gw)
{
    // The start address fills the gateway; "auto" keeps that fill. Emptying it first makes
    // the fill happen even when the start address is the same as in the previous case.
    startIp->settext(QString());
    startIp->settext(start);
    endIp->settext(end);
    netMask->settext(mask);
    if (gw != QLatin1String("auto"))
        gateway->settext(gw);
}

QStringList TstBatch::ipCells() const
{
    QStringList cells;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* item = table->item(row, 3);
        cells << (item ? item->text() : kNoItem);
    }
    return cells;
}

// The payloads of the command-1 frames received since the last call. A marker frame sent
// after them on the same socket tells when all of them have arrived.
QStringList TstBatch::commandFrames()
{
    const QByteArray fence = "fence " + QByteArray::number(++fenceNumber);
    if (ServiceSendCmd(3, fence.constData()) != 0) {
        qWarning("fence frame not sent");
        return {};
    }
    QStringList payloads;
    for (;;) {
        const QByteArray datagram = sink.receive();
        if (datagram.isNull())
            break;
        if (datagram.size() < kHeaderSize)
            continue;
        const QByteArray payload = datagram.mid(kHeaderSize);
        if (datagram.at(4) == 3 && payload == fence)
            return payloads;
        if (datagram.at(4) == 1)
            payloads << QString::fromUtf8(payload);
    }
    qWarning("fence frame never arrived");
    return payloads << QStringLiteral("<fence lost>");
}

void TstBatch::press()
{
    catcher.arm();
    QTest::mouseClick(setButton, Qt::LeftButton);
    catcher.disarm();
}

void TstBatch::ipStrToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("value");
    QTest::newRow("dotted address") << "192.168.1.10" << 0xC0A8010Au;
    QTest::newRow("first octet of 128 or more") << "255.255.255.254" << 0xFFFFFFFEu;
    QTest::newRow("leading zeros") << "010.001.000.009" << 0x0A010009u;
    QTest::newRow("three parts") << "1.2.3" << 0u;
    QTest::newRow("five parts") << "1.2.3.4.5" << 0u;
    QTest::newRow("empty text") << "" << 0u;
    QTest::newRow("empty part counts as a part") << "1.2..4" << 0x01020004u;
    QTest::newRow("non-number part converts to 0") << "1.x.3.4" << 0x01000304u;
}

void TstBatch::ipStrToInt()
{
    QFETCH(QString, text);
    QFETCH(uint, value);
    QCOMPARE(static_cast<uint>(MainWindow::ipStrToInt(text)), value);
}

void TstBatch::ipIntToStr_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("low first octet") << 0x0A000001u << "10.0.0.1";
    QTest::newRow("negative as signed") << 0xC0A8010Au << "192.168.1.10";
    QTest::newRow("all ones") << 0xFFFFFFFFu << "255.255.255.255";
}

void TstBatch::ipIntToStr()
{
    QFETCH(uint, value);
    QFETCH(QString, text);
    QCOMPARE(MainWindow::ipIntToStr(static_cast<int>(value)), text);
    QCOMPARE(static_cast<uint>(MainWindow::ipStrToInt(text)), value);
}

void TstBatch::netSetJson_data()
{
    QTest::addColumn<QByteArray>("sn");
    QTest::addColumn<bool>("nullSn");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("device A1")
        << QByteArray("A1") << false << QByteArray("192.168.1.10") << QByteArray("255.255.255.0")
        << QByteArray(R"({"user":"","pass":"","sn":"A1","net":1,"ip":"192.168.1.10",)"
                      R"("mask":"255.255.255.0","gw":"192.168.1.1","mdns":"","adns":"","MNS":[]})");
    QTest::newRow("quote and backslash escaped")
        << QByteArray(R"(a"b\c)") << false << QByteArray("1.2.3.4") << QByteArray("255.0.0.0")
        << WindowNetSetText(R"(a\"b\\c)", "1.2.3.4", "255.0.0.0", "192.168.1.1").toUtf8();
    QTest::newRow("control characters escaped")
        << QByteArray("\b\f\n\r\t\x01\x1f") << false << QByteArray("1.2.3.4") << QByteArray("255.0.0.0")
        << WindowNetSetText(R"(\b\f\n\r\t\u0001\u001f)", "1.2.3.4", "255.0.0.0", "192.168.1.1").toUtf8();
    QTest::newRow("utf-8 unchanged")
        << QString("序列号é").toUtf8() << false << QByteArray("1.2.3.4") << QByteArray("255.0.0.0")
        << WindowNetSetText("序列号é", "1.2.3.4", "255.0.0.0", "192.168.1.1").toUtf8();
    QTest::newRow("null serial") << QByteArray() << true << QByteArray("1.2.3.4") << QByteArray("255.0.0.0")
                                 << WindowNetSetText("", "1.2.3.4", "255.0.0.0", "192.168.1.1").toUtf8();
    QTest::newRow("empty serial") << QByteArray("") << false << QByteArray("1.2.3.4")
                                  << QByteArray("255.0.0.0")
                                  << WindowNetSetText("", "1.2.3.4", "255.0.0.0", "192.168.1.1").toUtf8();
}

void TstBatch::netSetJson()
{
    QFETCH(QByteArray, sn);
    QFETCH(bool, nullSn);
    QFETCH(QByteArray, ip);
    QFETCH(QByteArray, mask);
    QFETCH(QByteArray, expected);

    NetSetParam param;
    param.net = 1;
    param.ip = ip.isNull() ? nullptr : ip.constData();
    param.mask = mask.isNull() ? nullptr : mask.constData();
    param.gw = "192.168.1.1";
    int err = -1;
    std::unique_ptr<char, decltype(&free)> text(
        BuildNetSetJson(&param, nullSn ? nullptr : sn.constData(), &err), &free);
    QVERIFY(text);
    QCOMPARE(err, 0);
    QCOMPARE(QByteArray(text.get()), expected);
}

void TstBatch::netSetJsonMnsEntries()
{
    MnsEntry second;
    second.no = 2;
    MnsEntry first;
    first.no = 1;
    first.sip = "10.0.0.2";
    first.smask = "255.0.0.0";
    first.next = &second;
    NetSetParam param;
    param.net = 255;
    param.mdns = "8.8.8.8";
    param.mns = &first;
    int err = -1;
    std::unique_ptr<char, decltype(&free)> text(BuildNetSetJson(&param, "S", &err), &free);
    QVERIFY(text);
    QCOMPARE(err, 0);
    QCOMPARE(QByteArray(text.get()),
        QByteArray(
            R"({"user":"","pass":"","sn":"S","net":255,"ip":"","mask":"","gw":"","mdns":"8.8.8.8",)"
            R"("adns":"","MNS":[{"no":1,"sip":"10.0.0.2","smask":"255.0.0.0"},{"no":2,"sip":"","smask":""}]})"));
}

void TstBatch::netSetJsonWithoutRequest()
{
    int err = 0;
    QCOMPARE(BuildNetSetJson(nullptr, "A1", &err), static_cast<char*>(nullptr));
    QCOMPARE(static_cast<uint>(err), 0x80000008u);
}

// Fails each allocation in turn: every failure gives null and the error code, and leaves
// nothing allocated behind.
void TstBatch::netSetJsonOutOfMemory()
{
    MnsEntry entry;
    entry.no = 1;
    entry.sip = "10.0.0.2";
    NetSetParam param;
    param.net = 1;
    param.ip = "192.168.1.10";
    param.mns = &entry;

    for (int failAt = 0;; ++failAt) {
        QVERIFY2(failAt < 1000, "the builder never succeeded");
        HooksGuard hooks(failAt);
        int err = -1;
        char* text = BuildNetSetJson(&param, "A1", &err);
        if (text) {
            QCOMPARE(err, 0);
            QCOMPARE(AllocCounter::live, 1);
            AllocCounter::release(text);
            QVERIFY2(failAt > 20, "too few allocations for every member to be checked");
            break;
        }
        QCOMPARE(static_cast<uint>(err), 0x80000008u);
        QVERIFY2(
            AllocCounter::live == 0, qPrintable(QString("leak after failing allocation %1").arg(failAt)));
    }
}

void TstBatch::gatewayFollowsStart_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("expected");
    QTest::newRow("private address") << "10.0.5.20"
                                     << "10.0.5.1";
    QTest::newRow("another segment") << "172.16.8.9"
                                     << "172.16.8.1";
    QTest::newRow("leading zeros kept") << "010.001.000.255"
                                        << "010.001.000.1";
    QTest::newRow("incomplete start fills nothing") << "1.2.3"
                                                    << "9.9.9.9";
}

void TstBatch::gatewayFollowsStart()
{
    QFETCH(QString, start);
    QFETCH(QString, expected);
    startIp->settext(QString());
    gateway->settext("9.9.9.9");
    startIp->settext(start);
    QCOMPARE(gateway->text(), expected);
}

void TstBatch::gatewayKeptWhileStartIncomplete()
{
    startIp->settext("172.16.8.9");
    QCOMPARE(gateway->text(), QString("172.16.8.1"));
    const QList<QLineEdit*> octets = startIp->findChildren<QLineEdit*>();
    QCOMPARE(octets.size(), 4);
    QLineEdit* last = octets.last();

    last->setFocus();
    last->selectAll();
    QTest::keyClick(last, Qt::Key_Backspace);
    QCOMPARE(startIp->text(), QString("0.0.0.0"));
    gateway->settext("5.5.5.5");

    QTest::keyClick(last, Qt::Key_7);
    QCOMPARE(gateway->text(), QString("172.16.8.1"));
    gateway->settext("5.5.5.5");
    // every further keystroke in the last octet fills the gateway again
    QTest::keyClick(last, Qt::Key_1);
    QCOMPARE(startIp->text(), QString("172.16.8.71"));
    QCOMPARE(gateway->text(), QString("172.16.8.1"));
}

void TstBatch::rejectsInvalidBatch_data()
{
    // ticks: x ticked row, o unticked row, - row without a check box.
    QTest::addColumn<QString>("ticks");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gw");
    QTest::addColumn<QString>("message");
    // Borders of start, end, mask and gateway afterwards: r red, b black, - untested.
    QTest::addColumn<QString>("borders");

    const QString s = "192.168.1.10", e = "192.168.1.20", m = "255.255.255.0";
    QTest::newRow("empty table") << "" << s << e << m << "auto"
                                 << "请先选择设备！"
                                 << "----";
    QTest::newRow("nothing ticked") << "o-o" << s << e << m << "auto"
                                    << "请先选择设备！"
                                    << "----";
    QTest::newRow("one row, no start") << "x"
                                       << "" << e << m << "auto"
                                       << "请设置起始IP！"
                                       << "r---";
    QTest::newRow("two rows, no mask") << "xox" << s << e << ""
                                       << "auto"
                                       << "请设置子网掩码！"
                                       << "b-r-";
    QTest::newRow("two rows, no gateway") << "x-x" << s << e << m << ""
                                          << "请设置网关地址！"
                                          << "b-br";
    QTest::newRow("two rows, no end") << "xx" << s << "" << m << "auto"
                                      << "有多个设备，请设置结束IP！"
                                      << "brbb";
    QTest::newRow("third octet differs, mask no wider") << "xx" << s << "192.168.2.20"
                                                        << "255.255.0.0"
                                                        << "auto"
                                                        << "起始IP和结束IP必需在同一个网段！"
                                                        << "bbbb";
    QTest::newRow("first octet differs") << "xx"
                                         << "10.1.1.1"
                                         << "11.1.1.5" << m << "auto"
                                         << "起始IP和结束IP必需在同一个网段！"
                                         << "bbbb";
    QTest::newRow("start equals end") << "xx" << s << s << m << "auto"
                                      << "起始IP必需小于结束IP！"
                                      << "bbbb";
    QTest::newRow("start above end, high first octet") << "xx"
                                                       << "200.1.1.30"
                                                       << "200.1.1.20" << m << "auto"
                                                       << "起始IP必需小于结束IP！"
                                                       << "bbbb";
    QTest::newRow("end ends in 255") << "xx" << s << "192.168.1.255" << m << "auto"
                                     << "IP地址最后一位不能为255！"
                                     << "bbbb";
    QTest::newRow("one row, start ends in 255, end ignored") << "x"
                                                             << "192.168.1.255"
                                                             << "10.0.0.1"
                                                             << ""
                                                             << ""
                                                             << "IP地址最后一位不能为255！"
                                                             << "b---";
}

void TstBatch::rejectsInvalidBatch()
{
    QFETCH(QString, ticks);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, mask);
    QFETCH(QString, gw);
    QFETCH(QString, message);
    QFETCH(QString, borders);

    QStringList rows;
    for (int i = 0; i < ticks.size(); ++i) {
        const QString ip = QString("1.1.1.%1").arg(i + 1);
        rows << (ticks.at(i) == QLatin1Char('-')
                ? QString(R"({"name":"d","ip":"%1","sn":"N%2"})").arg(ip).arg(i)
                : device(QString("S%1").arg(i), ip));
    }
    addRows(rows, ticks);
    fillForm(start, end, mask, gw);
    const QStringList cellsBefore = ipCells();
    MyIpAddrEdit* const edits[] = { startIp, endIp, netMask, gateway };
    for (MyIpAddrEdit* edit : edits)
        border(edit)->setStyleSheet(kFrameUntested);

    press();

    QCOMPARE(catcher.count, 1);
    QCOMPARE(catcher.title, QString("提示"));
    QCOMPARE(catcher.text, message);
    QVERIFY(catcher.okOnly);
    QVERIFY(catcher.parentRight);
    const char* names[] = { "StartIp", "EndIp", "NetMask", "Gateway" };
    for (int i = 0; i < 4; ++i) {
        const QChar want = borders.at(i);
        const QString expected = want == 'r' ? kFrameRed : want == 'b' ? kFrameBlack : kFrameUntested;
        QVERIFY2(border(edits[i])->styleSheet() == expected,
            qPrintable(QString("%1 border: %2").arg(names[i], border(edits[i])->styleSheet())));
    }
    QCOMPARE(commandFrames(), QStringList());
    QCOMPARE(ipCells(), cellsBefore);
}

void TstBatch::assignsAddresses_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("ticks");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("gw");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<QStringList>("cells");

    const QString m = "255.255.255.0", g = "192.168.1.1";
    const QStringList pair { device("S0", "1.1.1.1"), device("S1", "1.1.1.2") };

    QTest::newRow("one row, device A1")
        << QStringList { device("A1", "1.1.1.1") } << "x"
        << "192.168.1.10"
        << "" << m << "auto"
        << QStringList { R"({"user":"","pass":"","sn":"A1","net":1,"ip":"192.168.1.10","mask":"255.255.255.0",)"
                         R"("gw":"192.168.1.1","mdns":"","adns":"","MNS":[]})" }
        << QStringList { "192.168.1.10" };
    QTest::newRow("unticked rows and rows without a check box leave no gap")
        << QStringList { R"({"name":"d","ip":"1.1.1.1","sn":"N0"})", device("S1", "1.1.1.2"),
               device("S2", "1.1.1.3"), device("S3", "1.1.1.4") }
        << ".x.x"
        << "10.0.0.0"
        << "10.0.0.1" << m << "10.0.0.254"
        << QStringList { WindowNetSetText("S1", "10.0.0.0", m, "10.0.0.254"),
               WindowNetSetText("S3", "10.0.0.1", m, "10.0.0.254") }
        << QStringList { "1.1.1.1", "10.0.0.0", "1.1.1.3", "10.0.0.1" };
    QTest::newRow("high first octet") << pair << "xx"
                                      << "200.1.1.10"
                                      << "200.1.1.12" << m << "auto"
                                      << QStringList { WindowNetSetText("S0", "200.1.1.10", m, "200.1.1.1"),
                                             WindowNetSetText("S1", "200.1.1.11", m, "200.1.1.1") }
                                      << QStringList { "200.1.1.10", "200.1.1.11" };
    QTest::newRow("one row, end field ignored")
        << pair << ".x"
        << "10.1.1.7"
        << "9.9.9.9" << m << "auto" << QStringList { WindowNetSetText("S1", "10.1.1.7", m, "10.1.1.1") }
        << QStringList { "1.1.1.1", "10.1.1.7" };
    QTest::newRow("mask and gateway as typed")
        << QStringList { pair[0] } << "x"
        << "192.168.001.010"
        << ""
        << "255.255.255.000"
        << "192.168.001.001"
        << QStringList { WindowNetSetText("S0", "192.168.1.10", "255.255.255.000", "192.168.001.001") }
        << QStringList { "192.168.1.10" };
    QTest::newRow("one row, empty mask and gateway")
        << QStringList { pair[0] } << "x"
        << "192.168.1.10"
        << ""
        << ""
        << "" << QStringList { WindowNetSetText("S0", "192.168.1.10", "0.0.0.0", "0.0.0.0") }
        << QStringList { "192.168.1.10" };
    QTest::newRow("serial with a double quote")
        << QStringList { R"({"ip":"1.1.1.1","sn":"Q\"1","libver":"1"})" } << "x"
        << "192.168.1.10"
        << "" << m << "auto" << QStringList { WindowNetSetText(R"(Q\"1)", "192.168.1.10", m, g) }
        << QStringList { "192.168.1.10" };
    QTest::newRow("no serial cell, no ip cell")
        << QStringList { R"({"name":"d","libver":"1"})" } << "x"
        << "192.168.1.10"
        << "" << m << "auto" << QStringList { WindowNetSetText("", "192.168.1.10", m, g) }
        << QStringList { "192.168.1.10" };
}

void TstBatch::assignsAddresses()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, ticks);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, mask);
    QFETCH(QString, gw);
    QFETCH(QStringList, frames);
    QFETCH(QStringList, cells);

    addRows(rows, ticks);
    fillForm(start, end, mask, gw);
    press();

    QCOMPARE(catcher.count, 0);
    QCOMPARE(commandFrames(), frames);
    QCOMPARE(ipCells(), cells);
}

void TstBatch::unsentRowKeepsItsCell_data()
{
    QTest::addColumn<QString>("firstSerial");
    QTest::addColumn<bool>("outOfMemory");
    QTest::addColumn<bool>("firstSent");

    // Everything of the text but the serial number takes 128 bytes; a frame carries 1388.
    QTest::newRow("text fills the frame") << QString(1388 - 128, 'S') << false << true;
    QTest::newRow("text one byte too long") << QString(1388 - 128 + 1, 'S') << false << false;
    QTest::newRow("builder out of memory") << QString("A1") << true << false;
}

void TstBatch::unsentRowKeepsItsCell()
{
    QFETCH(QString, firstSerial);
    QFETCH(bool, outOfMemory);
    QFETCH(bool, firstSent);

    cJSON* first = cJSON_CreateObject();
    cJSON_AddStringToObject(first, "ip", "1.1.1.1");
    cJSON_AddStringToObject(first, "sn", firstSerial.toUtf8().constData());
    cJSON_AddStringToObject(first, "libver", "1");
    std::unique_ptr<char, decltype(&free)> firstRow(cJSON_PrintUnformatted(first), &free);
    cJSON_Delete(first);
    addRows({ QString::fromUtf8(firstRow.get()), device("B2", "1.1.1.2") }, "xx");
    fillForm("192.168.1.10", "192.168.1.20", "255.255.255.0", "auto");

    StderrCapture capture;
    {
        std::unique_ptr<HooksGuard> hooks(outOfMemory ? new HooksGuard(-2) : nullptr);
        press();
    }
    const QByteArray diagnostics = capture.finish();

    QCOMPARE(catcher.count, 0);
    const QString firstText = WindowNetSetText(firstSerial, "192.168.1.10", "255.255.255.0", "192.168.1.1");
    const QString secondText = WindowNetSetText("B2", "192.168.1.11", "255.255.255.0", "192.168.1.1");
    QStringList expectedFrames;
    if (firstSent)
        expectedFrames << firstText;
    if (!outOfMemory)
        expectedFrames << secondText;
    QCOMPARE(commandFrames(), expectedFrames);
    // The second row keeps start + 1 whether or not the first went out.
    QCOMPARE(ipCells(),
        QStringList({ firstSent ? "192.168.1.10" : "1.1.1.1", outOfMemory ? "1.1.1.2" : "192.168.1.11" }));
    QCOMPARE(diagnostics.contains("set-network command for row 0 not sent\n"), !firstSent);
    QCOMPARE(diagnostics.contains("set-network command for row 1 not sent\n"), outOfMemory);
}

void TstBatch::deviceTextsShownAsWritten_data()
{
    QTest::addColumn<QString>("text"); // the device's name and serial number
    QTest::newRow("bold") << "<b>SN-H</b>";
    QTest::newRow("an image that reads a file") << R"(<img src="/dev/zero">)";
    QTest::newRow("a table wider than the screen") << "<table width=9999>";
    QTest::newRow("a coloured font") << "<font color=red>x</font>";
    QTest::newRow("an entity") << "&amp;";
    QTest::newRow("a line break") << "SN\nH";
}

// A device that names itself in markup: the table, the notice, and the status line's texts
// and tool tips show its words as written.
void TstBatch::deviceTextsShownAsWritten()
{
    QFETCH(QString, text);
    const auto reply = [&](const char* ip) {
        const QJsonObject fields { { "name", text }, { "ip", ip }, { "sn", text }, { "libver", "1" } };
        return QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact));
    };
    // Ticked where it answers, and named once more from the address it is about to get.
    addRows({ reply("1.1.1.1"), reply("10.0.0.10") }, "x");
    for (int column : { 2, 4 }) {
        QCOMPARE(table->item(0, column)->text(), text);
        QVERIFY(!table->item(0, column)->data(Qt::ToolTipRole).isValid());
    }

    fillForm("10.0.0.10", "", "255.255.255.0", "auto");
    press();
    QCOMPARE(catcher.count, 1);
    QCOMPARE(catcher.format, Qt::PlainText);
    QCOMPARE(catcher.text,
        "1 个新地址已被占用：\n10.0.0.10（" + text + " 的新地址）已被本次搜索到的设备 " + text + " 占用");
    QCOMPARE(commandFrames(), QStringList());

    // Rows heard on no known adapter: sent, and their addresses named unchecked.
    fillForm("10.0.0.20", "", "255.255.255.0", "auto");
    press();
    QCOMPARE(catcher.count, 0);
    QCOMPARE(commandFrames().size(), 1);
    auto* checkStatus = window->findChild<QLabel*>("checkStatus");
    QCOMPARE(checkStatus->textFormat(), Qt::PlainText);
    QCOMPARE(checkStatus->text(), QString("1 个地址未能检查：不知道设备应答所用的网卡"));
    QCOMPARE(ShownToolTip(checkStatus), "10.0.0.20  " + text);

    QTest::mouseClick(searchButton, Qt::LeftButton);
    auto* setStatus = window->findChild<QLabel*>("setStatus");
    QCOMPARE(setStatus->textFormat(), Qt::PlainText);
    QCOMPARE(setStatus->text(), QString("1 台中 0 台已使用新地址"));
    QCOMPARE(ShownToolTip(setStatus), "尚未在新地址应答：" + text);
    QCOMPARE(window->findChild<QLabel*>("foundStatus")->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TstBatch)
#include "tst_batch.moc"
