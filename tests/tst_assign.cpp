// devicesearch-cli assign end to end, inside the private network: what devsim receives,
// what the devices answer afterwards, and that no check failure lets a command out.
#include "clirun.h"
#include "devsimprocess.h"
#include "netsettext.h"
#include "service.h"
#include "wireheader.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtTest>

namespace {
const QByteArray kSetNetworkHeader = QByteArray::fromHex("f001112233440000");

// The set-network payloads devsim reported, after a fence that every earlier datagram precedes.
// iface is the way to devsim's host.
QStringList commandsReceived(DevsimProcess& devsim, const QString& iface = DefaultInterface())
{
    static int fences = 0;
    QByteArray frame
        = QByteArray::fromHex("820000f003112233440000") + "fence " + QByteArray::number(++fences);
    frame[2] = char(frame.size());
    QUdpSocket socket;
    socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    socket.setMulticastInterface(QNetworkInterface::interfaceFromName(iface));
    socket.writeDatagram(frame, QHostAddress(QString::fromLatin1(kGroupAddress)), kCommandPort);
    const QString hex = QString::fromLatin1(frame.toHex());
    if (!devsim.waitFor([&](const DevsimProcess::Lines& lines) {
            return std::any_of(
                lines.begin(), lines.end(), [&](const QJsonObject& l) { return l.value("hex") == hex; });
        }))
        return { QStringLiteral("<fence lost>") };
    QStringList payloads;
    for (const QJsonObject& line : devsim.received()) {
        const QByteArray bytes = QByteArray::fromHex(line.value("hex").toString().toLatin1());
        if (line.value("port").toInt() == kCommandPort && line.value("cmd").toInt() == 1) {
            // Everything but the payload is the window's header: start, length, marker,
            // command 1, the program's sender id.
            const bool header = bytes.size() > kHeaderSize && bytes.at(0) == char(0x82)
                && ((uchar(bytes.at(1)) << 8) | uchar(bytes.at(2))) == bytes.size()
                && bytes.mid(3, 8) == kSetNetworkHeader;
            payloads << (header ? QString::fromUtf8(bytes.mid(kHeaderSize)) : QStringLiteral("<bad header>"));
        }
    }
    return payloads;
}

QMap<QString, QJsonObject> rowsBySerial(const CliRun& run)
{
    QMap<QString, QJsonObject> rows;
    for (const QJsonValue& v : jsonOf(run))
        rows.insert(v.toObject().value("sn").toString(), v.toObject());
    return rows;
}

QString writePlan(
    QTemporaryDir& dir, const QByteArray& bytes, const QString& fileName = QStringLiteral("plan.csv"))
{
    const QString name = dir.filePath(fileName);
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return QString();
    return name;
}
}

class TestAssign : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void rangeSendsTheWindowsFramesAndConfirms_data();
    void rangeSendsTheWindowsFramesAndConfirms();
    void ignoredCommandIsNotConfirmed();
    void thirdAddressIsOtherAddress();
    void planErrorsSendNothing_data();
    void planErrorsSendNothing();
    void searchErrorsSendNothing_data();
    void searchErrorsSendNothing();
    void planOverTwoLans();

private:
    QTemporaryDir m_dir;
};

void TestAssign::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
    QVERIFY(m_dir.isValid());
}

void TestAssign::rangeSendsTheWindowsFramesAndConfirms_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("expected"); // sn=ip, in the order sent
    QTest::newRow("--sn in the order given")
        << QStringList { "--count", "3" } << QStringList { "--sn", "SN0003", "--sn", "SN0001" }
        << QStringList { "SN0003=192.168.1.20", "SN0001=192.168.1.21" };
    QTest::newRow("--all: every device with libver, by serial number")
        << QStringList { "--count", "3", "--no-libver=2" } << QStringList { "--all" }
        << QStringList { "SN0001=192.168.1.20", "SN0003=192.168.1.21" };
}

void TestAssign::rangeSendsTheWindowsFramesAndConfirms()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, args);
    QFETCH(QStringList, expected);
    DevsimProcess devsim;
    QVERIFY2(devsim.start(devices), qPrintable(devsim.error()));
    const CliRun run = runCli(QStringList { "assign", "--start", "192.168.1.20", "--mask", "255.255.255.0",
                                  "--wait", "0.5", "--verify", "10", "--format", "json" }
        + args);
    QVERIFY2(run.status == 0, run.err.constData());

    QStringList wanted;
    for (const QString& pair : expected)
        wanted << WindowNetSetText(
            pair.section('=', 0, 0), pair.section('=', 1), "255.255.255.0", "192.168.1.1");
    QCOMPARE(commandsReceived(devsim), wanted);

    const QMap<QString, QJsonObject> rows = rowsBySerial(run);
    QCOMPARE(rows.size(), expected.size());
    for (const QString& pair : expected) {
        const QJsonObject row = rows.value(pair.section('=', 0, 0));
        QCOMPARE(row.value("status").toString(), QStringLiteral("confirmed"));
        QCOMPARE(row.value("ip").toString(), pair.section('=', 1));
        QVERIFY(row.value("seconds").isDouble());
    }
    // The devices now answer with their new addresses.
    const CliRun after = runCli({ "search", "--wait", "0.5", "--format", "json" });
    QStringList heard;
    for (const QJsonValue& v : jsonOf(after)) {
        const QJsonObject o = v.toObject();
        if (o.value("kind") == "reply" && o.value("configurable").toBool())
            heard << o.value("sn").toString() + '=' + o.value("ip").toString();
    }
    for (const QString& pair : expected)
        QVERIFY2(heard.contains(pair), qPrintable(heard.join(' ')));
}

void TestAssign::ignoredCommandIsNotConfirmed()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2", "--ignore-set=2" }), qPrintable(devsim.error()));
    const double wait = 0.5, verify = 2;
    QElapsedTimer clock;
    clock.start();
    const CliRun run = runCli({ "assign", "--all", "--start", "192.168.1.20", "--mask", "255.255.255.0",
        "--wait", QString::number(wait), "--verify", QString::number(verify), "--format", "json" });
    const qint64 ms = clock.elapsed();
    QCOMPARE(run.status, 1);
    const QMap<QString, QJsonObject> rows = rowsBySerial(run);
    QCOMPARE(rows.value("SN0001").value("status").toString(), QStringLiteral("confirmed"));
    QCOMPARE(rows.value("SN0002").value("status").toString(), QStringLiteral("not confirmed"));
    QVERIFY(rows.value("SN0002").value("seconds").isNull());
    QVERIFY2(
        run.err.contains("SN0002 not confirmed: it still answers at 192.168.1.102"), run.err.constData());
    // The whole wait for confirmation, and not much more.
    QVERIFY2(ms >= verify * 1000 && ms < (wait + verify + 1) * 1000, qPrintable(QString::number(ms)));
}

// A device, played here, that takes any set-network command but then answers with an
// address of its own choosing.
void TestAssign::thirdAddressIsOtherAddress()
{
    QUdpSocket device;
    QVERIFY(device.bind(QHostAddress(QHostAddress::AnyIPv4), kCommandPort, QUdpSocket::ShareAddress));
    QVERIFY(device.joinMulticastGroup(QHostAddress(QString::fromLatin1(kGroupAddress))));
    QString address = QStringLiteral("192.168.1.50");
    connect(&device, &QUdpSocket::readyRead, [&] {
        while (device.hasPendingDatagrams()) {
            const QByteArray frame = device.receiveDatagram().data();
            if (frame.size() >= kHeaderSize && frame.at(4) == 1)
                address = QStringLiteral("192.168.1.77");
            else if (frame.size() >= kHeaderSize && frame.at(4) == 0)
                device.writeDatagram(QByteArray::fromHex("82000bf000aabbccddeeff") + "ACK-"
                        + QStringLiteral(R"({"name":"odd","ip":"%1","sn":"ODD1","libver":"1"})")
                              .arg(address)
                              .toUtf8(),
                    QHostAddress(QString::fromLatin1(kGroupAddress)), kReplyPort);
        }
    });
    const CliRun run = Cli({ "assign", "--sn", "ODD1", "--start", "192.168.1.20", "--mask", "255.255.255.0",
                               "--wait", "0.5", "--verify", "1.5", "--format", "csv" })
                           .finishServing();
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out,
        "sn,old_ip,ip,mask,gateway,interface,status,seconds\r\n"
        "ODD1,192.168.1.50,192.168.1.20,255.255.255.0,192.168.1.1,"
            + DefaultInterface().toUtf8() + ",other address,\r\n");
    QVERIFY2(run.err.contains("ODD1 answered with 192.168.1.77, not 192.168.1.20"), run.err.constData());
}

// One refusal end to end; tst_plan checks every other on the plan reader's own answer.
void TestAssign::planErrorsSendNothing_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("message"); // after the file name and ":"
    const QByteArray head = "sn,ip,mask,gateway\n";
    const QByteArray first = "SN0001,192.168.1.20,255.255.255.0,192.168.1.1\n";
    QTest::newRow("bad address")
        << head + first + "SN0002,192.168.1.x,,\n"
        << "3: ip '192.168.1.x' is not a plain dotted IPv4 address: octet x is not a "
           "decimal number";
}

void TestAssign::planErrorsSendNothing()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, message);
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    // a name with a placeholder in it must come out as it is
    const QString file = writePlan(m_dir, plan, QStringLiteral("plan %2.csv"));
    QVERIFY(!file.isEmpty());
    const CliRun run
        = runCli({ "assign", "--plan", file, "--mask", "255.255.255.0", "--wait", "0.5", "--verify", "2" });
    QCOMPARE(run.status, 2);
    const QByteArray line = "devicesearch-cli: " + file.toUtf8() + ':' + message.toUtf8();
    QVERIFY2(run.err.startsWith(line) && run.err.count('\n') == 1, run.err.constData());
    QVERIFY(run.out.isEmpty());
    QCOMPARE(commandsReceived(devsim), QStringList());
}

void TestAssign::searchErrorsSendNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("range too small for the devices")
        << QStringList { "--all", "--start", "192.168.1.20", "--end", "192.168.1.21" } << 2
        << "devicesearch-cli: the range 192.168.1.20 to 192.168.1.21 holds 2 addresses, but there are 3 "
           "devices";
    QTest::newRow("unknown serial number")
        << QStringList { "--sn", "SN0001", "--sn", "SN0099", "--start", "192.168.1.20" } << 1
        << "devicesearch-cli: 1 of 2 devices cannot be assigned; nothing was sent:\n  SN0099: not found";
    QTest::newRow("device without libver") << QStringList { "--sn", "SN0004", "--start",
        "192.168.1.20" } << 1 << "  SN0004: answered without \"libver\", so it cannot be configured";
    QTest::newRow("address held by a device outside the plan")
        << QStringList { "--sn", "SN0001", "--start", "192.168.1.102" } << 1
        << "devicesearch-cli: 192.168.1.102 for SN0001 is in use on " + DefaultInterface()
            + " by SN0002, which is not in the plan";
    QTest::newRow("--dry-run: every check passes") << QStringList { "--all", "--start", "192.168.1.20",
        "--dry-run" } << 0 << "3 devices planned; nothing was sent";
}

void TestAssign::searchErrorsSendNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "4", "--no-libver=4" }), qPrintable(devsim.error()));
    const CliRun run = runCli(QStringList { "assign", "--mask", "255.255.255.0", "--wait", "0.5" } + args);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message.toUtf8()), run.err.constData());
    QCOMPARE(commandsReceived(devsim), QStringList());
}

// Runs as tst_assign_lans, inside `isolated --two-lans`.
void TestAssign::planOverTwoLans()
{
    if (qEnvironmentVariableIsEmpty("LAN2_NETNS"))
        QSKIP("needs two LAN hosts; runs as tst_assign_lans");
    DevsimProcess first(DevsimProcess::LanHost), second(DevsimProcess::SecondLanHost);
    QVERIFY2(first.start({ "--count", "100", "--sn-prefix", "A", "--base-ip", "10.77.0.100" }),
        qPrintable(first.error()));
    QVERIFY2(second.start({ "--count", "100", "--sn-prefix", "B", "--base-ip", "10.78.0.100" }),
        qPrintable(second.error()));
    // Interleaved, so that consecutive commands leave on different interfaces.
    QByteArray plan = "sn,ip,mask\r\n";
    QStringList wantedFirst, wantedSecond;
    for (int k = 1; k <= 100; ++k) {
        const QString a = QStringLiteral("A%1").arg(k, 4, 10, QChar('0'));
        const QString b = QStringLiteral("B%1").arg(k, 4, 10, QChar('0'));
        plan += QStringLiteral("%1,10.77.1.%2,\r\n%3,10.78.1.%2,255.255.0.0\r\n")
                    .arg(a)
                    .arg(k + 1)
                    .arg(b)
                    .toUtf8();
        wantedFirst << WindowNetSetText(
            a, QStringLiteral("10.77.1.%1").arg(k + 1), "255.255.255.0", "10.77.1.1");
        wantedSecond << WindowNetSetText(
            b, QStringLiteral("10.78.1.%1").arg(k + 1), "255.255.0.0", "10.78.1.1");
    }
    const QString file = writePlan(m_dir, plan);
    QVERIFY(!file.isEmpty());
    const CliRun run = runCli({ "assign", "--plan", file, "--mask", "255.255.255.0", "--wait", "1",
        "--verify", "20", "--format", "json" });
    QVERIFY2(run.status == 0, run.err.constData());
    const QMap<QString, QJsonObject> rows = rowsBySerial(run);
    QCOMPARE(rows.size(), 200);
    for (const QJsonObject& row : rows) {
        QCOMPARE(row.value("status").toString(), QStringLiteral("confirmed"));
        QCOMPARE(row.value("interface").toString(),
            row.value("sn").toString().startsWith('A') ? QStringLiteral("veth0") : QStringLiteral("veth2"));
    }
    // Each LAN got its own devices' commands and no other.
    QCOMPARE(commandsReceived(first, "veth0"), wantedFirst);
    QCOMPARE(commandsReceived(second, "veth2"), wantedSecond);
}

QTEST_GUILESS_MAIN(TestAssign)
#include "tst_assign.moc"
