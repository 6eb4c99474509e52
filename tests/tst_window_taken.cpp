// The set button and addresses already in use: what the batch asks the link, which address
// each row gets, what the notice and the status line say (plain functions, with a link
// that says what the row tells it); then the real window on the LAN of `isolated --lan`,
// where the LAN host holds 10.81.1.42 and devsim's devices answer from 10.81.1.101...
#include "addressrules.h"
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "linkholders.h"
#include "myipaddredit.h"
#include "netsettext.h"
#include "service.h"
#include "takenaddresses.h"
#include "wireheader.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <memory>

namespace {
const QString kMac = QStringLiteral("7e:9d:2e:47:c5:04");

// "x S1 10.0.0.5 3": ticked (x) or not (o), serial number (spaces allowed), IP cell, adapter;
// "-" for a row without a serial number or without an IP cell.
QList<ListedRow> tableOf(const QStringList& rows)
{
    QList<ListedRow> table;
    for (const QString& row : rows) {
        const QStringList f = row.split(' ');
        const QString serial = f.mid(1, f.size() - 3).join(' ');
        const QString& ip = f[f.size() - 2];
        table.append({ ip == "-" ? QString() : ip, serial == "-" ? QString() : serial, f.last().toInt(),
            f[0] == "x" });
    }
    return table;
}

QString heardText(const QList<HeardAddress>& heard)
{
    QStringList texts;
    for (const HeardAddress& h : heard)
        texts << QStringLiteral("%1 %2@%3").arg(h.serial, AddressText(h.address)).arg(h.adapter);
    return texts.join(", ");
}

uint32_t address(const QString& text)
{
    return AddressFromText(text);
}

// Answers "10.0.0.42@1" as held by kMac, and every other address as `otherwise`.
class ListedLink : public LinkProbe {
public:
    QStringList held;
    AddressVerdict otherwise = AddressVerdict::free();
    QStringList asked;

    std::vector<AddressVerdict> probe(
        const std::vector<AddressQuery>& queries, const std::atomic<bool>&) override
    {
        std::vector<AddressVerdict> verdicts;
        for (const AddressQuery& q : queries) {
            const QString key = QStringLiteral("%1@%2").arg(AddressText(q.address)).arg(q.adapter);
            asked << key;
            verdicts.push_back(
                held.contains(key) || held.contains("*") ? AddressVerdict::host(kMac) : otherwise);
        }
        return verdicts;
    }
};

struct Checked {
    BatchCheck batch;
    std::unique_ptr<BatchVerdicts> verdicts;
};

Checked check(const QStringList& rows, const QString& start, const QString& end, ListedLink& link,
    const QSet<uint32_t>& own = {})
{
    Checked c;
    c.batch = PrepareBatchCheck(tableOf(rows), address(start), address(end), own);
    const std::atomic<bool> cancel { false };
    c.verdicts = std::make_unique<BatchVerdicts>(c.batch.input, CheckAddresses(c.batch.input, &link, cancel));
    return c;
}

QStringList texts(const RowAddresses& given)
{
    QStringList list;
    for (const std::optional<uint32_t>& a : given)
        list << (a ? AddressText(*a) : QStringLiteral("-"));
    return list;
}

// The serial numbers of the set-network commands, and the addresses they give, in order.
QStringList commanded(const DevsimProcess::Lines& lines)
{
    QStringList seen;
    for (const QJsonObject& line : lines) {
        if (line.value("cmd").toInt() != 1 || line.value("port").toInt() != kCommandPort)
            continue;
        const QByteArray payload
            = QByteArray::fromHex(line.value("hex").toString().toLatin1()).mid(kHeaderSize);
        seen << QString::fromUtf8(payload);
    }
    return seen;
}

// Answers the next notice as a person would, and notes what it showed.
class NoticeHand : public QObject {
public:
    QWidget* window = nullptr;
    QString answer; // "return", "escape", or the text of the button to click
    int seen = 0;
    QString title, text, defaultButton, escapeButton;
    Qt::TextFormat format = Qt::AutoText;
    QStringList buttons;
    bool parentIsWindow = false;

    NoticeHand()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &NoticeHand::look);
    }
    void arm(const QString& how)
    {
        answer = how;
        seen = 0;
        m_timer.start();
    }
    void disarm() { m_timer.stop(); }

private:
    void look()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        ++seen;
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        parentIsWindow = box->parentWidget() == window;
        buttons.clear();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        buttons.sort();
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        escapeButton = box->escapeButton() ? box->escapeButton()->text() : QString();
        if (answer == "return") {
            QTest::keyClick(box, Qt::Key_Return);
        } else if (answer == "escape") {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == answer)
                    QTest::mouseClick(b, Qt::LeftButton);
            }
        }
        if (box->isVisible()) // not the notice it expected: never leave a test hanging on it
            box->reject();
    }

    QTimer m_timer;
};
}

class TestWindowTaken : public QObject {
    Q_OBJECT
private slots:
    void checkInput_data();
    void checkInput();
    void rowAddresses_data();
    void rowAddresses();
    void notice_data();
    void notice();
    void statusNote_data();
    void statusNote();

    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void takenAddressInTheRange_data();
    void takenAddressInTheRange();
    void freeRangeSendsAsToday();
    void aForgedReplyFreesNothing();
    void closingDuringACheckSendsNothing();

private:
    std::unique_ptr<LinkHolders> m_holders;
    std::unique_ptr<DeviceSearchFixture> m_fixture;
    std::unique_ptr<DevsimProcess> m_devsim;
    QPushButton* m_setButton = nullptr;
    QLabel* m_checkStatus = nullptr;
    NoticeHand m_hand;
    QList<int> m_ticked; // the rows ticked, in order
    QStringList m_serials; // theirs
    int m_fence = 0;

    void press(const QString& start, const QString& end);
    QStringList commandsSincePress(int from);
};

void TestWindowTaken::checkInput_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("queries");
    QTest::addColumn<QString>("heard");
    QTest::addColumn<QString>("moving");

    QTest::newRow("one row: its start alone, the end ignored")
        << QStringList { "x S1 10.0.0.5 3" } << "10.0.0.10"
        << "10.0.0.20"
        << "10.0.0.10@3"
        << "S1 10.0.0.5@3"
        << "S1 10.0.0.5@3";
    QTest::newRow("every address of the range on each adapter of the batch")
        << QStringList { "x S1 10.0.0.5 3", "x S2 10.0.0.6 4", "o S3 10.0.0.7 5", "x S4 10.0.0.8 3" }
        << "10.0.0.10"
        << "10.0.0.12"
        << "10.0.0.10@3 10.0.0.11@3 10.0.0.12@3 10.0.0.10@4 10.0.0.11@4 10.0.0.12@4"
        << "S1 10.0.0.5@3, S2 10.0.0.6@4, S3 10.0.0.7@5, S4 10.0.0.8@3"
        << "S1 10.0.0.5@3, S2 10.0.0.6@4, S4 10.0.0.8@3";
    QTest::newRow("heard: every row whose cell is an address; moving: the ticked ones with a serial number")
        << QStringList { "o S1 - 1", "o S2 1.2.3 1", "o S3 1.1.1.300 1", "o S4 010.0.0.1 1", "x - 10.0.0.7 0",
               "x S6 10.0.0.8 0", "x S7 - 0", "o S6 10.0.0.9 0" }
        << "10.0.0.10"
        << "10.0.0.11"
        << "10.0.0.10@0 10.0.0.11@0"
        << " 10.0.0.7@0, S6 10.0.0.8@0, S6 10.0.0.9@0"
        << "S6 10.0.0.8@0";
    QTest::newRow("a ticked row past the range's end gets nothing, so it stays where it is")
        << QStringList { "x S1 10.0.0.5 1", "x S2 10.0.0.6 1", "x S3 10.0.0.11 1" } << "10.0.0.10"
        << "10.0.0.11"
        << "10.0.0.10@1 10.0.0.11@1"
        << "S1 10.0.0.5@1, S2 10.0.0.6@1, S3 10.0.0.11@1"
        << "S1 10.0.0.5@1, S2 10.0.0.6@1";
}

void TestWindowTaken::checkInput()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, queries);
    QFETCH(QString, heard);
    QFETCH(QString, moving);

    const QSet<uint32_t> own { address("10.0.0.1") };
    const BatchCheck batch = PrepareBatchCheck(tableOf(rows), address(start), address(end), own);
    QStringList asked;
    for (const AddressQuery& q : batch.input.queries)
        asked << QStringLiteral("%1@%2").arg(AddressText(q.address)).arg(q.adapter);
    QCOMPARE(asked.join(' '), queries);
    QCOMPARE(heardText(batch.input.heard), heard);
    QCOMPARE(heardText(batch.input.moving), moving);
    QCOMPARE(batch.input.own, own);
}

void TestWindowTaken::rowAddresses_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("held"); // by a host on the link
    QTest::addColumn<bool>("skip");
    QTest::addColumn<QStringList>("given");

    const QStringList three { "x S1 10.0.0.101 1", "o S2 10.0.0.102 1", "x S3 10.0.0.103 1",
        "x S4 10.0.0.104 1" };
    QTest::newRow("plan: one row gets the start")
        << QStringList { "x S1 10.0.0.101 1" } << "10.0.0.41"
        << "10.0.0.50" << QStringList() << false << QStringList { "10.0.0.41" };
    QTest::newRow("plan: start + k, taken or not") << three << "10.0.0.41"
                                                   << "10.0.0.50" << QStringList { "10.0.0.42@1" } << false
                                                   << QStringList { "10.0.0.41", "10.0.0.42", "10.0.0.43" };
    QTest::newRow("plan: rows beyond the end get nothing")
        << three << "10.0.0.41"
        << "10.0.0.42" << QStringList() << false << QStringList { "10.0.0.41", "10.0.0.42", "-" };
    QTest::newRow("skip: the taken address is passed over")
        << three << "10.0.0.41"
        << "10.0.0.50" << QStringList { "10.0.0.42@1" } << true
        << QStringList { "10.0.0.41", "10.0.0.43", "10.0.0.44" };
    QTest::newRow("skip: rows beyond the free addresses get nothing")
        << three << "10.0.0.41"
        << "10.0.0.43" << QStringList { "10.0.0.41@1" } << true
        << QStringList { "10.0.0.42", "10.0.0.43", "-" };
    QTest::newRow("skip: taken on one adapter is free on another")
        << QStringList { "x S1 10.0.0.101 1", "x S2 10.0.0.102 2" } << "10.0.0.41"
        << "10.0.0.50" << QStringList { "10.0.0.41@1" } << true << QStringList { "10.0.0.42", "10.0.0.41" };
    QTest::newRow("skip: a device of the search holds one, a moving one frees its own")
        << QStringList { "x S1 10.0.0.42 1", "o S2 10.0.0.43 1", "x S3 10.0.0.103 1" } << "10.0.0.42"
        << "10.0.0.50" << QStringList() << true << QStringList { "10.0.0.42", "10.0.0.44" };
    QTest::newRow("skip: a moving device's announcement leaves with it")
        << QStringList { "x S1 10.0.0.42 1", "o S1 10.0.0.42 1" } << "10.0.0.42"
        << "10.0.0.50" << QStringList() << true << QStringList { "10.0.0.42" };
    QTest::newRow("skip: an answer that names a moving device elsewhere holds its address")
        << QStringList { "x S1 10.0.0.101 1", "o S1 10.0.0.42 1", "x S2 10.0.0.102 1" } << "10.0.0.42"
        << "10.0.0.50" << QStringList() << true << QStringList { "10.0.0.43", "10.0.0.44" };
    QTest::newRow("skip: a row left without an address keeps its own, which no other row gets")
        << QStringList { "x S1 10.0.0.101 1", "x S2 10.0.0.42 1" } << "10.0.0.41"
        << "10.0.0.42" << QStringList { "10.0.0.41@1" } << true << QStringList { "-", "-" };
}

void TestWindowTaken::rowAddresses()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, held);
    QFETCH(bool, skip);
    QFETCH(QStringList, given);

    ListedLink link;
    link.held = held;
    const Checked c = check(rows, start, end, link);
    QCOMPARE(texts(skip ? SkippingTaken(c.batch, *c.verdicts) : PlannedAddresses(c.batch)), given);
}

void TestWindowTaken::notice_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("held");
    QTest::addColumn<bool>("ownAddress"); // 10.0.0.42 is this computer's
    QTest::addColumn<QString>("text");

    const QString one = "1 个新地址已被占用：\n";
    QTest::newRow("a host, by its MAC")
        << QStringList { "x S1 10.0.0.101 1" } << "10.0.0.42" << QStringList { "10.0.0.42@1" } << false
        << one + "10.0.0.42（S1 的新地址）已被 " + kMac + " 占用";
    QTest::newRow("this computer") << QStringList { "x S1 10.0.0.101 1" } << "10.0.0.42" << QStringList()
                                   << true << one + "10.0.0.42（S1 的新地址）已被本机占用";
    QTest::newRow("a device of this search")
        << QStringList { "x S1 10.0.0.101 1", "o S9 10.0.0.42 1" } << "10.0.0.42" << QStringList() << false
        << one + "10.0.0.42（S1 的新地址）已被本次搜索到的设备 S9 占用";
    QTest::newRow("an unticked row naming a ticked device, as a forged reply does")
        << QStringList { "x S1 10.0.0.101 1", "o S1 10.0.0.42 1" } << "10.0.0.42" << QStringList() << false
        << one + "10.0.0.42（S1 的新地址）已被本次搜索到的设备 S1 占用";
    QTest::newRow("serial numbers as written")
        << QStringList { "x <b>SN-H</b> 10.0.0.101 1", "o <img src=\"/dev/zero\"> 10.0.0.42 1" }
        << "10.0.0.42" << QStringList() << false
        << one + "10.0.0.42（<b>SN-H</b> 的新地址）已被本次搜索到的设备 <img src=\"/dev/zero\"> 占用";
    QTest::newRow("a device of this search without a serial number")
        << QStringList { "x S1 10.0.0.101 1", "o - 10.0.0.42 1" } << "10.0.0.42" << QStringList() << false
        << one + "10.0.0.42（S1 的新地址）已被本次搜索到的一台无序列号的设备占用";
    QTest::newRow("a row without a serial number")
        << QStringList { "x - 10.0.0.101 1" } << "10.0.0.42" << QStringList { "10.0.0.42@1" } << false
        << one + "10.0.0.42（无序列号设备的新地址）已被 " + kMac + " 占用";
    QTest::newRow("a device on another adapter holds nothing here")
        << QStringList { "x S1 10.0.0.101 1", "o S9 10.0.0.42 2" } << "10.0.0.42" << QStringList() << false
        << QString();
    QTest::newRow("one host for the whole range: proxy ARP")
        << QStringList { "x S1 10.0.0.101 1", "x S2 10.0.0.102 1" } << "10.0.0.50" << QStringList { "*" }
        << false
        << "2 个新地址已被占用：\n10.0.0.42（S1 的新地址）已被 " + kMac
            + " 占用\n10.0.0.43（S2 的新地址）已被 " + kMac + " 占用\n" + kMac
            + " 应答了许多地址，可能是一台代替其他主机应答的路由器（代理 ARP）。";
}

void TestWindowTaken::notice()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, end);
    QFETCH(QStringList, held);
    QFETCH(bool, ownAddress);
    QFETCH(QString, text);

    ListedLink link;
    link.held = held;
    QSet<uint32_t> own { address("10.0.0.1") };
    if (ownAddress)
        own.insert(address("10.0.0.42"));
    const Checked c = check(rows, "10.0.0.42", end, link, own);
    QCOMPARE(TakenNotice(c.batch, PlannedAddresses(c.batch), *c.verdicts), text);
}

void TestWindowTaken::statusNote_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("reason"); // of every address the link is asked about; -1: free
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    const QStringList two { "x S1 10.0.0.101 1", "x - 10.0.0.102 1" };
    QTest::newRow("all checked and given: nothing to say")
        << two << "10.0.0.50" << -1 << QString() << QString();
    QTest::newRow("outside the adapter's subnets")
        << two << "10.0.0.50" << int(UncheckedReason::OffLink) << "2 个地址未能检查：不在该网卡的网段内"
        << "10.0.0.41  S1\n10.0.0.42  （无序列号）";
    QTest::newRow("the adapter went away")
        << QStringList { two[0] } << "10.0.0.50" << int(UncheckedReason::AdapterGone)
        << "1 个地址未能检查：网卡已断开或停用"
        << "10.0.0.41  S1";
    QTest::newRow("no reason given reads as cannot resolve")
        << QStringList { two[0] } << "10.0.0.50" << int(UncheckedReason::None)
        << "1 个地址未能检查：该网卡无法解析地址"
        << "10.0.0.41  S1";
    QTest::newRow("adapter unknown, without asking the link, beside another reason")
        << QStringList { "x S1 10.0.0.101 0", "x S2 10.0.0.102 1" } << "10.0.0.50"
        << int(UncheckedReason::CannotResolve)
        << "1 个地址未能检查：该网卡无法解析地址；1 个地址未能检查：不知道设备应答所用的网卡"
        << "10.0.0.42  S2\n10.0.0.41  S1";
    QTest::newRow("a holder the system last saw 7 minutes ago")
        << two << "10.0.0.50" << int(UncheckedReason::HolderLastSeen)
        << "2 个地址未能检查：系统上次见到占用者已是 7 分钟以前"
        << "10.0.0.41  S1\n10.0.0.42  （无序列号）";
    QTest::newRow("rows beyond the range")
        << QStringList { "x S1 10.0.0.101 1", "x S2 10.0.0.102 1", "x S3 10.0.0.103 1" } << "10.0.0.42" << -1
        << "1 台设备未分配到地址：范围内的地址不够"
        << "未分配到地址：S3";
}

void TestWindowTaken::statusNote()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, end);
    QFETCH(int, reason);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    ListedLink link;
    if (reason == int(UncheckedReason::HolderLastSeen))
        link.otherwise = AddressVerdict::lastSeen(QStringLiteral("02:00:00:00:00:07"), 7);
    else if (reason >= 0)
        link.otherwise = AddressVerdict::unchecked(UncheckedReason(reason));
    const Checked c = check(rows, "10.0.0.41", end, link);
    const StatusNote note = AssignmentNote(c.batch, PlannedAddresses(c.batch), *c.verdicts);
    QCOMPARE(note.text, text);
    QCOMPARE(note.toolTip, toolTip);
}

// The window on the LAN: 10.81.1.1/24 here, so that the devices' subnet is on the link, and
// the LAN host holding 10.81.1.42.
void TestWindowTaken::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
    if (!LinkHolders::available())
        QFAIL("no LAN host: run through tests/netns/isolated --lan");
    m_holders = std::make_unique<LinkHolders>();
    QVERIFY2(m_holders->hereOnLan("10.81.1.1/24", &why), qPrintable(why));
    QVERIFY2(m_holders->onLanHost("10.81.1.42/24", &why), qPrintable(why));
    m_fixture = std::make_unique<DeviceSearchFixture>();
    QVERIFY(m_fixture->exposed());
    m_setButton = m_fixture->window.findChild<QPushButton*>("SetIpButton");
    m_checkStatus = m_fixture->window.findChild<QLabel*>("checkStatus");
    QVERIFY(m_setButton && m_checkStatus);
    m_hand.window = &m_fixture->window;
}

// Three devices found: three replies (the rows with a check box) and three announcements.
void TestWindowTaken::init()
{
    if (!m_fixture)
        return;
    m_devsim = std::make_unique<DevsimProcess>(DevsimProcess::LanHost);
    QVERIFY2(m_devsim->start({ "--count", "3", "--base-ip", "10.81.1.100" }), qPrintable(m_devsim->error()));
    m_fixture->search();
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture->table->rowCount(), 6, 10000);
    m_ticked.clear();
    m_serials.clear();
    for (int row = 0; row < 6; ++row) {
        if (QTableWidgetItem* box = m_fixture->table->item(row, 0)) {
            box->setCheckState(Qt::Checked);
            m_ticked << row;
            m_serials << m_fixture->cell(row, 4);
        }
    }
    QCOMPARE(m_ticked.size(), 3);
}

void TestWindowTaken::cleanup()
{
    m_hand.disarm();
    m_devsim.reset();
}

void TestWindowTaken::cleanupTestCase()
{
    m_fixture.reset();
    m_holders.reset();
}

void TestWindowTaken::press(const QString& start, const QString& end)
{
    MainWindow& window = m_fixture->window;
    window.findChild<MyIpAddrEdit*>("StartIp")->settext(start);
    window.findChild<MyIpAddrEdit*>("EndIp")->settext(end);
    window.findChild<MyIpAddrEdit*>("NetMask")->settext("255.255.255.0");
    QTest::mouseClick(m_setButton, Qt::LeftButton);
}

// The set-network payloads devsim received from line `from` on, up to a marker frame sent
// now on the same socket as the commands.
QStringList TestWindowTaken::commandsSincePress(int from)
{
    const QByteArray fence = "fence " + QByteArray::number(++m_fence);
    if (ServiceSendCmd(3, fence.constData()) != 0)
        return { "<fence not sent>" };
    const auto isFence = [&](const QJsonObject& line) {
        return line.value("cmd").toInt() == 3
            && QByteArray::fromHex(line.value("hex").toString().toLatin1()).mid(kHeaderSize) == fence;
    };
    if (!m_devsim->waitFor([&](const DevsimProcess::Lines& lines) {
            return std::any_of(lines.begin() + from, lines.end(), isFence);
        }))
        return { "<fence lost>" };
    const DevsimProcess::Lines& lines = m_devsim->received();
    const auto end = std::find_if(lines.begin() + from, lines.end(), isFence);
    return commanded(DevsimProcess::Lines(lines.mid(from, int(end - lines.begin()) - from)));
}

void TestWindowTaken::takenAddressInTheRange_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("given"); // last octets, per ticked row

    QTest::newRow("Escape sends nothing") << "escape" << QStringList();
    QTest::newRow("Return skips the taken address") << "return" << QStringList { "41", "43", "44" };
    QTest::newRow("set anyway sends the plan") << "仍然设置" << QStringList { "41", "42", "43" };
}

void TestWindowTaken::takenAddressInTheRange()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, given);

    QStringList cellsBefore;
    for (int row : m_ticked)
        cellsBefore << m_fixture->cell(row, 3);
    const int from = m_devsim->received().size();
    m_hand.arm(answer);
    press("10.81.1.41", "10.81.1.50");
    // The probes take their time; the notice comes once they are answered.
    QTRY_VERIFY_WITH_TIMEOUT(
        m_hand.seen > 0 && !QApplication::activeModalWidget() && m_setButton->isEnabled(), 30000);
    m_hand.disarm();

    QCOMPARE(m_hand.seen, 1);
    QCOMPARE(m_hand.title, QString("提示"));
    QVERIFY(m_hand.parentIsWindow);
    QVERIFY2(m_hand.text.contains(
                 "10.81.1.42（" + m_serials[1] + " 的新地址）已被 " + LinkHolders::lanHostMac() + " 占用"),
        qPrintable(m_hand.text));
    QCOMPARE(m_hand.buttons, QStringList({ "仍然设置", "取消", "跳过已占用的地址" }));
    QCOMPARE(m_hand.defaultButton, QString("跳过已占用的地址"));
    QCOMPARE(m_hand.escapeButton, QString("取消"));

    QStringList expected, cells = cellsBefore;
    for (int k = 0; k < given.size(); ++k) {
        const QString ip = "10.81.1." + given[k];
        expected << WindowNetSetText(m_serials[k], ip, "255.255.255.0", "10.81.1.1");
        cells[k] = ip;
    }
    QCOMPARE(commandsSincePress(from), expected);
    QStringList cellsAfter;
    for (int row : m_ticked)
        cellsAfter << m_fixture->cell(row, 3);
    QCOMPARE(cellsAfter, cells);
}

// Nothing taken: while the link is asked the window says so and takes no second press nor
// a search; then the commands are today's, with no notice.
void TestWindowTaken::freeRangeSendsAsToday()
{
    QPushButton* search = m_fixture->searchButton;
    const int from = m_devsim->received().size();
    m_hand.arm("escape");
    press("10.81.1.60", "10.81.1.70");
    QCOMPARE(m_checkStatus->text(), QString("正在检查 11 个地址…"));
    QVERIFY(!m_setButton->isEnabled());
    QVERIFY(!search->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(m_setButton->isEnabled(), 30000);
    QVERIFY(search->isEnabled());
    QCOMPARE(m_hand.seen, 0);
    QCOMPARE(m_checkStatus->text(), QString());

    QStringList expected;
    for (int k = 0; k < 3; ++k) {
        const QString ip = QStringLiteral("10.81.1.%1").arg(60 + k);
        expected << WindowNetSetText(m_serials[k], ip, "255.255.255.0", "10.81.1.1");
        QCOMPARE(m_fixture->cell(m_ticked[k], 3), ip);
    }
    QCOMPARE(commandsSincePress(from), expected);
}

// A reply that names a ticked device's serial number from an address nobody holds on the
// link (a gateway that does not answer ARP, say): the address is not the device's to leave.
void TestWindowTaken::aForgedReplyFreesNothing()
{
    const QByteArray forged = QJsonDocument(
        QJsonObject { { "name", "gw" }, { "ip", "10.81.1.45" }, { "sn", m_serials[0] },
            { "libver", "1" } }).toJson(QJsonDocument::Compact);
    QByteArray payload = forged;
    m_fixture->window.slo_getdevice(payload.data(), 1, 0);
    QCOMPARE(m_fixture->table->rowCount(), 7);

    const int from = m_devsim->received().size();
    m_hand.arm("escape");
    press("10.81.1.45", "10.81.1.50");
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget() && m_setButton->isEnabled(), 30000);
    m_hand.disarm();
    QCOMPARE(m_hand.seen, 1);
    QCOMPARE(m_hand.text,
        "1 个新地址已被占用：\n10.81.1.45（" + m_serials[0] + " 的新地址）已被本次搜索到的设备 "
            + m_serials[0] + " 占用");
    QCOMPARE(m_hand.format, Qt::PlainText);
    QCOMPARE(commandsSincePress(from), QStringList());
}

// Last: the window closes while the link is asked; the check ends with it, and nothing goes.
void TestWindowTaken::closingDuringACheckSendsNothing()
{
    const int from = m_devsim->received().size();
    m_hand.arm("escape");
    press("10.81.1.60", "10.81.1.70");
    QVERIFY(!m_setButton->isEnabled());
    QElapsedTimer clock;
    clock.start();
    m_fixture->window.close();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(500);
    QCOMPARE(m_hand.seen, 0);
    QVERIFY(m_setButton->isEnabled());
    QCOMPARE(commandsSincePress(from), QStringList());
}

QTEST_MAIN(TestWindowTaken)
#include "tst_window_taken.moc"
