// devicesearch-cli assign where another host holds a new address, on the LAN of
// `isolated --lan`: the LAN host holds 10.81.1.42 (on this side's subnet) and 10.20.0.7 (off
// it) and does not speak the devices' protocol; devsim's devices there answer as 10.81.1.10x.
#include "clirun.h"
#include "commandsreceived.h"
#include "devsimprocess.h"
#include "linkholders.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// The new addresses devsim received, in the order sent.
QStringList addressesSent(DevsimProcess& devsim)
{
    QStringList ips;
    for (const QString& payload : commandsReceived(devsim, "veth0"))
        ips << QJsonDocument::fromJson(payload.toUtf8()).object().value("ip").toString();
    return ips;
}
}

class TestAssignTaken : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void takenAddresses_data();
    void takenAddresses();
    void aLargeFlatSite();

private:
    LinkHolders m_holders;
    QString m_mac;
};

void TestAssignTaken::initTestCase()
{
    QString why;
    QVERIFY2(LinkHolders::available(), "runs inside tests/netns/isolated --lan");
    QVERIFY2(m_holders.hereOnLan("10.81.1.1/24", &why), qPrintable(why));
    QVERIFY2(m_holders.onLanHost("10.81.1.42/24", &why), qPrintable(why));
    QVERIFY2(m_holders.onLanHost("10.20.0.7/24", &why), qPrintable(why));
    m_mac = LinkHolders::lanHostMac();
    QVERIFY(!m_mac.isEmpty());
}

void TestAssignTaken::takenAddresses_data()
{
    QTest::addColumn<bool>("raw"); // false: the program may not send raw probes
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // on standard error; MAC stands for the LAN host's
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("checks"); // the CSV's check column, or empty for no output
    const QStringList range { "--start", "10.81.1.41", "--end", "10.81.1.50" };
    const QString taken
        = "devicesearch-cli: 10.81.1.42 for SN0002 is in use on veth0 by MAC (not a device of "
          "this search); ";
    QTest::newRow("refused") << true << range << 1 << taken + "nothing was sent" << QStringList() << "";
    QTest::newRow("refused, --dry-run too") << true << range + QStringList { "--dry-run" } << 1
                                            << taken + "nothing was sent" << QStringList() << "";
    QTest::newRow("--skip-taken") << true << range + QStringList { "--skip-taken" } << 0 << ""
                                  << QStringList { "10.81.1.41", "10.81.1.43", "10.81.1.44" }
                                  << "free free free";
    QTest::newRow("--allow-taken") << true << range + QStringList { "--allow-taken" } << 0
                                   << taken + "sent anyway (--allow-taken)"
                                   << QStringList { "10.81.1.41", "10.81.1.42", "10.81.1.43" }
                                   << "free allowed free";
    QTest::newRow("--no-check") << true << range + QStringList { "--no-check" } << 0 << ""
                                << QStringList { "10.81.1.41", "10.81.1.42", "10.81.1.43" }
                                << "unchecked unchecked unchecked";
    QTest::newRow("a free range sends as before")
        << true << QStringList { "--start", "10.81.1.60" } << 0 << ""
        << QStringList { "10.81.1.60", "10.81.1.61", "10.81.1.62" } << "free free free";
    const QStringList offLink { "--start", "10.20.0.5", "--dry-run" };
    QTest::newRow("off-link holder, raw probes")
        << true << offLink << 1
        << "devicesearch-cli: 10.20.0.7 for SN0003 is in use on veth0 by MAC (not a device of this search); "
           "nothing was sent"
        << QStringList() << "";
    QTest::newRow("off-link, without raw access: unchecked")
        << false << offLink << 0
        << "devicesearch-cli: 3 new addresses on veth0 were not checked: they are outside" << QStringList()
        << "unchecked unchecked unchecked";
    QTest::newRow("on-link holder, without raw access")
        << false << range << 1 << taken + "nothing was sent" << QStringList() << "";
}

void TestAssignTaken::takenAddresses()
{
    QFETCH(bool, raw);
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QStringList, sent);
    QFETCH(QString, checks);
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "3", "--base-ip", "10.81.1.100" }), qPrintable(devsim.error()));
    QStringList command { CliPath(), "assign", "--all", "--mask", "255.255.255.0", "--wait", "0.5",
        "--no-verify", "--no-log", "--format", "csv" };
    command += args;
    if (!raw) {
        // Without CAP_NET_RAW: the probe helper beside it has none either, so the system resolves.
        QStringList quoted;
        for (const QString& a : command)
            quoted << "'" + a + "'";
        command = QStringList { "capsh", "--drop=cap_net_raw", "--", "-c", quoted.join(' ') };
    }
    QProcess p;
    p.start(command.first(), command.mid(1));
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitCode(), status);
    message.replace("MAC", m_mac);
    QVERIFY2(err.contains(message.toUtf8()), err.constData());
    QStringList column;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n').mid(1)) {
        if (!line.trimmed().isEmpty())
            column << QString::fromUtf8(line.trimmed().split(',').last());
    }
    QCOMPARE(column.join(' '), checks);
    QCOMPARE(addressesSent(devsim), sent);
}

// A plan for 1,100 devices on one adapter, more than one run of the check takes: checked in
// runs, and the one address the LAN host holds among them found before anything is sent.
void TestAssignTaken::aLargeFlatSite()
{
    DevsimProcess first(DevsimProcess::LanHost);
    DevsimProcess second(DevsimProcess::LanHost);
    QVERIFY2(first.start({ "--count", "600", "--sn-prefix", "SA", "--base-ip", "10.81.2.0" }),
        qPrintable(first.error()));
    QVERIFY2(second.start({ "--count", "500", "--sn-prefix", "SB", "--base-ip", "10.81.5.0" }),
        qPrintable(second.error()));
    QByteArray plan = "sn,ip,mask,gateway\n";
    const auto row = [&plan](const QString& sn, uint32_t ip) {
        plan += QStringLiteral("%1,%2,255.255.0.0,10.81.0.1\n").arg(sn, QHostAddress(ip).toString()).toUtf8();
    };
    const uint32_t base = QHostAddress("10.81.16.1").toIPv4Address();
    for (int k = 1; k <= 600; ++k)
        row(QStringLiteral("SA%1").arg(k, 4, 10, QLatin1Char('0')), base + uint32_t(k));
    for (int k = 1; k <= 500; ++k)
        row(QStringLiteral("SB%1").arg(k, 4, 10, QLatin1Char('0')),
            k == 250 ? QHostAddress("10.81.1.42").toIPv4Address() : base + 1000 + uint32_t(k));
    QTemporaryDir dir;
    QFile file(dir.filePath("site.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(plan) == plan.size());
    file.close();
    QProcess p;
    p.start(CliPath(), { "assign", "--plan", file.fileName(), "--wait", "2", "--no-verify", "--no-log" });
    QVERIFY(p.waitForFinished(120000));
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitCode(), 1);
    const QString taken = "devicesearch-cli: 10.81.1.42 for SB0250 is in use on veth0 by " + m_mac;
    QVERIFY2(err.contains(taken.toUtf8()) && !err.contains("not checked"), err.constData());
    QCOMPARE(addressesSent(first), QStringList());
}

QTEST_GUILESS_MAIN(TestAssignTaken)
#include "tst_assign_taken.moc"
