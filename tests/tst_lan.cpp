// The window with devsim on LAN hosts behind veth pairs. The host name resolves to a
// loopback address, as on a Debian desktop, so replies only arrive where the group is
// joined on the interface that leads to a LAN. Run on one LAN (tst_lan) and on two
// (tst_lan_two, where only the second LAN's interface has no multicast route).
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "myipaddredit.h"
#include "protocol.h"
#include "wirecapture.h"

#include <QNetworkInterface>
#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {
const QString kProbeHex = QStringLiteral("82000900000000f0000000");
const QString kDiscoveryHex = QStringLiteral("82000bf000112233440000");

bool twoLans()
{
    return !qEnvironmentVariableIsEmpty("LAN2_NETNS");
}

// ip ARGS..., here, where the test is root of its own network.
bool ipCommand(const QStringList& args)
{
    QProcess ip;
    ip.start("ip", args);
    return ip.waitForFinished(10000) && ip.exitCode() == 0;
}
bool setLink(const QString& device, const char* state)
{
    return ipCommand({ "link", "set", device, state });
}

// The search's datagrams devsim received, as "port hex", sorted: devsim reads its two ports
// apart, so the order it prints them in is its own.
QStringList queries(DevsimProcess& devsim)
{
    QStringList seen;
    for (const QJsonObject& line : devsim.received()) {
        const QString hex = line.value("hex").toString();
        if (hex == kProbeHex || hex == kDiscoveryHex)
            seen << QStringLiteral("%1 %2").arg(line.value("port").toInt()).arg(hex);
    }
    seen.sort();
    return seen;
}

// The serial numbers of the set-network commands devsim received.
QStringList commandedSerials(DevsimProcess& devsim)
{
    QStringList serials;
    for (const QJsonObject& line : devsim.received()) {
        if (line.value("cmd").toInt() == 1)
            serials << line.value("json").toObject().value("sn").toString();
    }
    serials.sort();
    return serials;
}

QStringList serials(const QString& prefix, int count)
{
    QStringList list;
    for (int k = 1; k <= count; ++k)
        list << QStringLiteral("%1%2").arg(prefix).arg(k, 4, 10, QLatin1Char('0'));
    return list;
}
}

// One window for the whole run, as in the program: the channel it opens stays open.
class TestLan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void searchFindsDevicesOnTheLan();
    void searchesInARowSendTodaysTwoDatagrams();
    void oneSearchReachesBothLans();
    void adapterThatComesAndGoes();
    void adapterWhoseAddressIsReplaced();

private:
    std::unique_ptr<DeviceSearchFixture> m_fixture;
};

void TestLan::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
    m_fixture = std::make_unique<DeviceSearchFixture>();
}

void TestLan::cleanupTestCase()
{
    m_fixture.reset();
}

void TestLan::searchFindsDevicesOnTheLan()
{
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    DeviceSearchFixture& fixture = *m_fixture;
    fixture.search();
    // Three replies and three announcements crossed the veth pair.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 6, 10000);
    int replies = 0;
    for (int row = 0; row < 6; ++row)
        replies += fixture.cell(row, 2).isEmpty() ? 0 : 1;
    QCOMPARE(replies, 3);
    QVERIFY(devsim.waitFor([](const DevsimProcess::Lines& lines) { return lines.size() == 2; }));
}

// On one adapter a search is the two datagrams it always was, once each, in order, from
// the same ports.
void TestLan::searchesInARowSendTodaysTwoDatagrams()
{
    if (twoLans())
        QSKIP("one LAN: runs as tst_lan");
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    DeviceSearchFixture& fixture = *m_fixture;
    WireCapture wire("veth0");
    QVERIFY(wire.ok());
    for (int search = 1; search <= 3; ++search) {
        fixture.search();
        QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 4, 10000);
    }
    const QVector<WireDatagram> sent = wire.take(300);
    QCOMPARE(sent.size(), 6);
    for (int i = 0; i < 6; i += 2) {
        QCOMPARE(sent[i].destinationPort, kProbePort);
        QCOMPARE(sent[i].payload.toHex(), kProbeHex.toLatin1());
        QCOMPARE(sent[i].sourcePort, sent[0].sourcePort);
        QCOMPARE(sent[i + 1].destinationPort, kCommandPort);
        QCOMPARE(sent[i + 1].payload.toHex(), kDiscoveryHex.toLatin1());
        QCOMPARE(sent[i + 1].sourcePort, kReplyPort);
    }
    for (const QJsonObject& line : devsim.received())
        QCOMPARE(line.value("from").toString(), QStringLiteral("10.77.0.1"));
}

void TestLan::oneSearchReachesBothLans()
{
    if (!twoLans())
        QSKIP("needs two LAN hosts; runs as tst_lan_two");
    DevsimProcess first(DevsimProcess::LanHost);
    DevsimProcess second(DevsimProcess::SecondLanHost);
    QString started;
    QVERIFY2(StartOnBothLans(first, 6, second, 4, &started), qPrintable(started));
    DeviceSearchFixture& fixture = *m_fixture;
    fixture.search();
    // Ten replies and ten announcements.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 20, 10000);
    QTest::qWait(300);
    QCOMPARE(fixture.table->rowCount(), 20);
    const QStringList once { QStringLiteral("7838 ") + kProbeHex, QStringLiteral("8838 ") + kDiscoveryHex };
    QCOMPARE(queries(first), once);
    QCOMPARE(queries(second), once);
    // Each device answered twice and is counted once.
    auto* found = fixture.window.findChild<QLabel*>("foundStatus");
    QTRY_COMPARE(found->text(), QStringLiteral("找到 10 台设备（2 个网卡：veth0、veth2）"));
    QCOMPARE(ShownToolTip(found), QStringLiteral("veth0  10.77.0.1\nveth2  ") + TwoLanAddresses().secondHere);

    // Every row ticked in the header; each device's command goes out on its own LAN only.
    QVERIFY(QMetaObject::invokeMethod(&fixture.window, "on_table_checkbox_all", Q_ARG(bool, true)));
    fixture.window.findChild<MyIpAddrEdit*>("StartIp")->settext("192.168.1.10");
    fixture.window.findChild<MyIpAddrEdit*>("EndIp")->settext("192.168.1.90");
    fixture.window.findChild<MyIpAddrEdit*>("NetMask")->settext("255.255.255.0");
    QTest::mouseClick(fixture.window.findChild<QPushButton*>("SetIpButton"), Qt::LeftButton);
    QVERIFY2(first.waitFor([&](const DevsimProcess::Lines&) { return commandedSerials(first).size() >= 6; }),
        qPrintable(commandedSerials(first).join(' ')));
    QVERIFY2(
        second.waitFor([&](const DevsimProcess::Lines&) { return commandedSerials(second).size() >= 4; }),
        qPrintable(commandedSerials(second).join(' ')));
    QTest::qWait(300);
    QCOMPARE(commandedSerials(first), serials("A", 6));
    QCOMPARE(commandedSerials(second), serials("B", 4));
    QCOMPARE(fixture.window.findChild<QLabel*>("setStatus")->text(),
        QStringLiteral("已向 10 台设备发送设置，点击“搜索”查看结果"));
}

// A cable plugged in after start is searched at the next press; one pulled leaves the
// others working.
void TestLan::adapterThatComesAndGoes()
{
    if (!twoLans())
        QSKIP("needs two LAN hosts; runs as tst_lan_two");
    DevsimProcess first(DevsimProcess::LanHost);
    DevsimProcess second(DevsimProcess::SecondLanHost);
    QString started;
    QVERIFY2(StartOnBothLans(first, 2, second, 3, &started), qPrintable(started));
    DeviceSearchFixture& fixture = *m_fixture;
    const auto running = [](const char* name) {
        return QNetworkInterface::interfaceFromName(name).flags().testFlag(QNetworkInterface::IsRunning);
    };

    QVERIFY(setLink("veth2", "down"));
    QTRY_VERIFY_WITH_TIMEOUT(!running("veth2"), 10000);
    fixture.search();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 4, 10000);
    QCOMPARE(queries(second).size(), 0);

    QVERIFY(setLink("veth2", "up"));
    QTRY_VERIFY_WITH_TIMEOUT(running("veth2"), 10000);
    fixture.search();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 10, 10000);
    QCOMPARE(queries(second).size(), 2);

    QVERIFY(setLink("veth0", "down"));
    QTRY_VERIFY_WITH_TIMEOUT(!running("veth0"), 10000);
    fixture.search();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 6, 10000);
    QTest::qWait(300);
    QCOMPARE(fixture.table->rowCount(), 6);
    QCOMPARE(queries(first).size(), 4);
    QCOMPARE(queries(second).size(), 4);
    for (int row = 0; row < 6; ++row)
        QVERIFY2(fixture.cell(row, 4).startsWith('B'), qPrintable(fixture.cell(row, 4)));
    QVERIFY(setLink("veth0", "up"));
    QTRY_VERIFY_WITH_TIMEOUT(running("veth0"), 10000);
}

// As an automatic address gives way to the one a DHCP server hands out: the adapter is the
// same, so it stays joined and searched.
void TestLan::adapterWhoseAddressIsReplaced()
{
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    DeviceSearchFixture& fixture = *m_fixture;
    fixture.search();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 6, 10000);

    struct Restore {
        ~Restore()
        {
            ipCommand({ "addr", "flush", "dev", "veth0" });
            ipCommand({ "addr", "add", "10.77.0.1/24", "dev", "veth0" });
        }
    } restore;
    QVERIFY(ipCommand({ "addr", "del", "10.77.0.1/24", "dev", "veth0" }));
    QVERIFY(ipCommand({ "addr", "add", "10.77.0.9/24", "dev", "veth0" }));
    fixture.search();
    QVERIFY(devsim.waitFor([&](const DevsimProcess::Lines&) { return queries(devsim).size() == 4; }));
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 6, 10000);
    auto* found = fixture.window.findChild<QLabel*>("foundStatus");
    QTRY_VERIFY2(ShownToolTip(found).startsWith("veth0  10.77.0.9"), qPrintable(found->toolTip()));
}

QTEST_MAIN(TestLan)
#include "tst_lan.moc"
