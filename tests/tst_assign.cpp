// devicesearch-cli assign end to end, inside the private network: what devsim receives,
// what the devices answer afterwards, and that no check failure lets a command out.
#include "clirun.h"
#include "commandsreceived.h"
#include "csvreader.h"
#include "devsimprocess.h"
#include "netsettext.h"
#include "numberedplan.h"
#include "service.h"
#include "wireheader.h"
#include "workbookfixture.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
QMap<QString, QJsonObject> rowsBySerial(const CliRun& run)
{
    QMap<QString, QJsonObject> rows;
    for (const QJsonValue& v : jsonOf(run))
        rows.insert(v.toObject().value("sn").toString(), v.toObject());
    return rows;
}

// The serial numbers devsim received a set-network command for.
QSet<QString> commandedSerials(DevsimProcess& devsim)
{
    QSet<QString> serials;
    for (const QString& payload : commandsReceived(devsim))
        serials.insert(QJsonDocument::fromJson(payload.toUtf8()).object().value("sn").toString());
    return serials;
}

// Each row's status by serial number, from any machine format.
QMap<QString, QString> statusesOf(const CliRun& run, const QString& format)
{
    QMap<QString, QString> statuses;
    if (format == "csv") {
        QVector<QStringList> records;
        if (!ReadCsv(QString::fromUtf8(run.out), &records) || records.isEmpty())
            return statuses;
        for (const QStringList& r : records.mid(1))
            statuses.insert(r.value(0), r.value(6));
        return statuses;
    }
    QJsonArray rows = jsonOf(run);
    if (format == "jsonl") {
        for (const QByteArray& line : run.out.split('\n'))
            if (!line.isEmpty())
                rows.append(QJsonDocument::fromJson(line).object());
    }
    for (const QJsonValue& v : rows)
        statuses.insert(v.toObject().value("sn").toString(), v.toObject().value("status").toString());
    return statuses;
}

// The log's lines, each an object; a line that is not one shows as an empty object.
QList<QJsonObject> logLines(const QString& name)
{
    QFile file(name);
    QList<QJsonObject> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            lines << QJsonDocument::fromJson(line).object();
    return lines;
}

// The serial numbers of the log's lines with this event.
QSet<QString> loggedSerials(const QList<QJsonObject>& lines, const QString& event)
{
    QSet<QString> serials;
    for (const QJsonObject& line : lines)
        if (line.value("event") == event)
            serials.insert(line.value("sn").toString());
    return serials;
}

bool isCommand(const QJsonObject& line)
{
    return line.value("port").toInt() == kCommandPort && line.value("cmd").toInt() == 1;
}

bool isProbe(const QJsonObject& line)
{
    return line.value("port").toInt() == kCommandPort && line.value("cmd").toInt() == 0;
}

// devsim's devices SN0001.. at 10.1.0.1..; NumberedPlan(n, "10.2") gives them new addresses.
const QStringList kNumberedDevices { "--base-ip", "10.1.0.0" };

// Serial numbers as any device may send them: CSV's and JSON's specials, a formula, a
// terminal's controls, Chinese.
const QStringList kHostileSerials { "=SN1+1", "SN,\"2\"", QStringLiteral("设备三"), "SN\x1b[2J4", "SN\\5" };

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
    void notFoundSaysWhatASpreadsheetChanged();
    void planOverTwoLans();
    void workbookPlan_data();
    void workbookPlan();
    void planFromASearchRoundTrips_data();
    void planFromASearchRoundTrips();
    void legacyCodePagePlan_data();
    void legacyCodePagePlan();
    void stopReportsEveryDevice_data();
    void stopReportsEveryDevice();
    void closedConsoleLogsEveryDevice();
    void logAfterKillListsEveryFrame();
    void unusableFileSendsNothing_data();
    void unusableFileSendsNothing();
    void outputFileHoldsStandardOutput_data();
    void outputFileHoldsStandardOutput();
    void logGoesWhereAsked_data();
    void logGoesWhereAsked();
    void concurrentRunsShareTheLog();
    void logRefusals_data();
    void logRefusals();
    void fullDiskLeavesNoPartOfALine();

private:
    QTemporaryDir m_dir;
};

void TestAssign::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
    QVERIFY(m_dir.isValid());
    // The default log goes here, never into the home folder.
    qputenv("XDG_STATE_HOME", m_dir.filePath("state").toUtf8());
    qputenv("LOCALAPPDATA", m_dir.filePath("state").toUtf8());
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
    if (qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI")) // Wine may keep its own LOCALAPPDATA
        QVERIFY(QFile::exists(m_dir.filePath("state/devicesearch/assign.jsonl")));

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
    // The whole wait for confirmation; the upper bound only catches a run that waits on, with
    // room for a busy machine and for Wine starting the Windows program.
    QVERIFY2(ms >= verify * 1000 && ms < (wait + 2 * verify + 1) * 1000, qPrintable(QString::number(ms)));
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
        "sn,old_ip,ip,mask,gateway,interface,status,seconds,check\r\n"
        "ODD1,192.168.1.50,192.168.1.20,255.255.255.0,192.168.1.1,"
            + DefaultInterface().toUtf8() + ",other address,,unchecked\r\n");
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

// A plan saved as a workbook: sent as its rows say, or refused with its row before anything
// is sent; tst_workbook_plan checks the reader's every answer.
void TestAssign::workbookPlan_data()
{
    QTest::addColumn<QByteArray>("plan");
    QTest::addColumn<QString>("message"); // after the file name; empty when the plan is sent
    const QList<QStringList> rows { { "序列号", "IP地址", "备注" }, { "SN0001", "192.168.1.20", "a;\"b\"" },
        { "SN0002", "192.168.1.21" } };
    QTest::newRow("xlsx") << XlsxOfTexts(rows) << "";
    QByteArray ods;
    for (const QStringList& row : rows) {
        ods += "<table:table-row>";
        for (const QString& cell : row)
            ods += "<table:table-cell office:value-type=\"string\"><text:p>" + cell.toHtmlEscaped().toUtf8()
                + "</text:p></table:table-cell>";
        ods += "</table:table-row><table:table-row table:number-rows-repeated=\"2\"/>";
    }
    QTest::newRow("ods with empty rows")
        << OdsOf(ods + "<table:table-row table:number-rows-repeated=\"1048000\"/>") << "";
    QTest::newRow("a formula in the ip column") << XlsxOf(
        "<row><c t=\"inlineStr\"><is><t>sn</t></is></c><c t=\"inlineStr\"><is><t>ip</t></is></c></row>"
        "<row r=\"3\"><c t=\"inlineStr\"><is><t>SN0001</t></is></c><c t=\"str\"><f>\"192.168.1.\"&amp;20</f>"
        "<v>192.168.1.20</v></c></row>")
                                                << ":3: ip: cell B3 holds a formula; copy the column and "
                                                   "paste it back as values";
    QTest::newRow("a cell repeated 2^63-1 times") << OdsOf(
        "<table:table-row><table:table-cell><text:p>sn</text:p></table:table-cell><table:table-cell "
        "table:number-columns-repeated=\"9223372036854775807\"><text:p>ip</text:p></table:table-cell>"
        "</table:table-row>") << ":1: a cell with content past column XFD (16384): not a plan";
    QTest::newRow("a zip file that is no workbook")
        << ZipOf({ { "plan.csv", "sn,ip\nSN0001,192.168.1.20\n" } })
        << ": is a zip file but not a workbook (.xlsx or .ods)";
}

void TestAssign::workbookPlan()
{
    QFETCH(QByteArray, plan);
    QFETCH(QString, message);
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    // The content decides, not the name.
    const QString file = writePlan(m_dir, plan, QStringLiteral("plan %1.txt").arg(QTest::currentDataTag()));
    QVERIFY(!file.isEmpty());
    const CliRun run = runCli({ "assign", "--plan", file, "--mask", "255.255.255.0", "--wait", "0.5",
        "--verify", "10", "--format", "json" });
    if (!message.isEmpty()) {
        QCOMPARE(run.status, 2);
        QCOMPARE(QString::fromUtf8(run.err), "devicesearch-cli: " + file + message + '\n');
        QCOMPARE(commandsReceived(devsim), QStringList());
        return;
    }
    QVERIFY2(run.status == 0, run.err.constData());
    QCOMPARE(commandsReceived(devsim),
        QStringList({ WindowNetSetText("SN0001", "192.168.1.20", "255.255.255.0", "192.168.1.1"),
            WindowNetSetText("SN0002", "192.168.1.21", "255.255.255.0", "192.168.1.1") }));
    const QMap<QString, QJsonObject> rows = rowsBySerial(run);
    QCOMPARE(rows.size(), 2);
    for (const QJsonObject& row : rows)
        QCOMPARE(row.value("status").toString(), QStringLiteral("confirmed"));
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
            + " by SN0002, a device of this search; nothing was sent";
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

// The serial numbers as a spreadsheet saved them: the line says which device was meant,
// and nothing goes to it.
void TestAssign::notFoundSaysWhatASpreadsheetChanged()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2", "--sn-prefix", "00" }), qPrintable(devsim.error()));
    const CliRun run = runCli({ "assign", "--mask", "255.255.255.0", "--wait", "0.5", "--sn", "1", "--sn",
        "000002", "--start", "192.168.1.20" });
    QCOMPARE(run.status, 1);
    QVERIFY2(
        run.err.contains("devicesearch-cli: 1 of 2 devices cannot be assigned; nothing was sent:\n  1: not "
                         "found; 000001 answered: a spreadsheet dropped its leading zeros (format that "
                         "column as Text, or use --format xlsx)\n"),
        run.err.constData());
    QCOMPARE(commandsReceived(devsim), QStringList());
}

// Runs as tst_assign_lans, inside `isolated --two-lans`.
void TestAssign::planOverTwoLans()
{
    if (qEnvironmentVariableIsEmpty("LAN2_NETNS"))
        QSKIP("needs two LAN hosts; runs as tst_assign_lans");
    DevsimProcess first(DevsimProcess::LanHost), second(DevsimProcess::SecondLanHost);
    QString started;
    QVERIFY2(StartOnBothLans(first, 100, second, 100, &started), qPrintable(started));
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

void TestAssign::planFromASearchRoundTrips_data()
{
    QTest::addColumn<QString>("separator"); // as the spreadsheet saves the edited file
    QTest::newRow("saved again with commas") << ",";
    QTest::newRow("saved again with semicolons, as on a German Windows") << ";";
}

void TestAssign::planFromASearchRoundTrips()
{
    QFETCH(QString, separator);
    // Names and serial numbers as any machine on the LAN may answer them.
    const QList<QPair<QString, QString>> devices { { "=SN1+1", "=HYPERLINK(\"http://x/?\"&A1,\"open\")" },
        { "-SN2", "@SUM(A1:A9)" }, { "+SN,3", "a \"quoted\", name\nwith a new line" },
        { "SN 4", QStringLiteral("设备\t四") }, { "SN\"5;", "\tTab" } };
    QJsonArray identities;
    for (const auto& [sn, name] : devices)
        identities.append(QJsonObject { { "sn", sn }, { "name", name } });
    const QString file = writePlan(m_dir, QJsonDocument(identities).toJson(), "identities.json");
    DevsimProcess devsim;
    QVERIFY2(devsim.start(kNumberedDevices + QStringList { "--count", "5", "--identities", file }),
        qPrintable(devsim.error()));
    const CliRun search = runCli({ "search", "--unique", "--format", "csv", "--bom", "--wait", "0.5" });
    QVERIFY2(search.status == 0 && search.out.startsWith("\xEF\xBB\xBF"), search.err.constData());

    // A person fills in a new column, and the spreadsheet saves every cell as it read it.
    QVector<QStringList> records;
    QVERIFY2(ReadCsv(QString::fromUtf8(search.out).mid(1), &records), search.out.constData());
    QCOMPARE(records.size(), devices.size() + 1);
    QMap<QString, QString> expected; // by the serial number the device has
    QByteArray plan = "\xEF\xBB\xBF";
    for (int r = 0; r < records.size(); ++r) {
        const QString ip = QStringLiteral("10.2.0.%1").arg(10 + r);
        QStringList cells = records.at(r);
        cells << (r == 0 ? QStringLiteral("New IP") : ip);
        // The sn column holds what the device sent, after the guard against formulas.
        const auto device = std::find_if(devices.begin(), devices.end(),
            [&](const auto& d) { return cells.at(3) == d.first || cells.at(3) == '\'' + d.first; });
        if (r > 0) {
            QVERIFY2(device != devices.end(), qPrintable(cells.at(3)));
            expected.insert(device->first, ip + " confirmed");
        }
        for (QString& cell : cells)
            cell = '"' + cell.replace('"', "\"\"") + '"';
        plan += cells.join(separator).toUtf8() + "\r\n";
    }

    const CliRun run = runCli({ "assign", "--plan", writePlan(m_dir, plan), "--mask", "255.255.0.0", "--wait",
        "0.5", "--verify", "10", "--format", "json" });
    QVERIFY2(run.status == 0, run.err.constData());
    QMap<QString, QString> assigned;
    for (const QJsonValue& v : jsonOf(run))
        assigned.insert(v.toObject().value("sn").toString(),
            v.toObject().value("ip").toString() + ' ' + v.toObject().value("status").toString());
    QCOMPARE(assigned, expected);
    QCOMPARE(commandedSerials(devsim), QSet<QString>(expected.keyBegin(), expected.keyEnd()));
}

void TestAssign::legacyCodePagePlan_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // the start of standard error
    // Windows reads such a file in its own code page; the suite runs Wine as a Chinese one.
    const bool windows = !qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI");
    QTest::newRow("no --encoding")
        << QStringList() << (windows ? 0 : 2)
        << (windows ? "devicesearch-cli: %1 is not UTF-8: read in the system's code "
                      "page GBK"
                    : "devicesearch-cli: %1:1: not UTF-8 text: save it as \"CSV "
                      "UTF-8\", or give its encoding with --encoding");
    QTest::newRow("--encoding GB18030") << QStringList { "--encoding", "GB18030" } << 0 << "";
}

void TestAssign::legacyCodePagePlan()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    if (qEnvironmentVariable("WINE_LOCALE", "zh").startsWith("en"))
        QSKIP("Wine runs with another code page");
    DevsimProcess devsim;
    QVERIFY2(devsim.start(kNumberedDevices), qPrintable(devsim.error()));
    // As a spreadsheet saves "CSV" on a Chinese Windows: GBK, with a Chinese note column.
    const QString plan
        = writePlan(m_dir, "sn,ip,\xb1\xb8\xd7\xa2\r\nSN0001,10.2.0.5,\xd6\xd0\xce\xc4\r\n", "gbk.csv");
    const CliRun run = runCli(QStringList { "assign", "--plan", plan, "--mask", "255.255.0.0", "--wait",
                                  "0.5", "--dry-run", "--format", "csv" }
        + args);
    QVERIFY2(run.status == status && run.err.startsWith(QString(message).replace("%1", plan).toUtf8()),
        run.err.constData());
    QCOMPARE(run.out.contains("SN0001,10.1.0.1,10.2.0.5"), status == 0);
    QCOMPARE(commandsReceived(devsim), QStringList());
}

void TestAssign::stopReportsEveryDevice_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("phase"); // when the signal comes
    QTest::addColumn<QString>("format");
    QTest::newRow("INT during the search") << int(SIGINT) << "search"
                                           << "json";
    QTest::newRow("TERM during the search") << int(SIGTERM) << "search"
                                            << "csv";
    QTest::newRow("HUP during the search") << int(SIGHUP) << "search"
                                           << "jsonl";
    QTest::newRow("INT while sending") << int(SIGINT) << "sending"
                                       << "json";
    QTest::newRow("TERM while sending") << int(SIGTERM) << "sending"
                                        << "csv";
    QTest::newRow("HUP during the confirmation") << int(SIGHUP) << "confirmation"
                                                 << "jsonl";
    QTest::newRow("TERM during the confirmation") << int(SIGTERM) << "confirmation"
                                                  << "json";
}

// Whenever the signal comes, every device of the plan is reported, exactly those sent a
// command have one at devsim, and the log says the same.
void TestAssign::stopReportsEveryDevice()
{
    QFETCH(int, n);
    QFETCH(QString, phase);
    QFETCH(QString, format);
    if (!SignalReachesTheProgram(n))
        QSKIP("Wine ends a Windows program on SIGTERM and SIGHUP; Windows has Ctrl-C, which is SIGINT here");
    const int devices = 200;
    DevsimProcess devsim;
    // SN0001 ignores its command, so the confirmation lasts until the signal.
    QVERIFY2(devsim.start(
                 kNumberedDevices + QStringList { "--count", QString::number(devices), "--ignore-set=1" }),
        qPrintable(devsim.error()));
    const QString plan = writePlan(m_dir, NumberedPlan(devices, "10.2"));
    const QString log = m_dir.filePath(QStringLiteral("stop-%1.jsonl").arg(QTest::currentDataTag()));
    Cli cli({ "assign", "--plan", plan, "--mask", "255.255.0.0", "--wait", phase == "search" ? "60" : "0.3",
        "--verify", "60", "--format", format, "--log", log });
    const int seen = phase == "confirmation" ? devices : 1;
    if (!devsim.waitForCount(phase == "search" ? isProbe : isCommand, seen, 20000))
        QFAIL(cli.finish(1000).err.constData());
    QVERIFY(cli.signal(n));
    const CliRun run = cli.finish(20000);
    QVERIFY2(run.status == 128 + n, run.err.constData());
    const QByteArray name = n == SIGINT ? "SIGINT" : n == SIGTERM ? "SIGTERM" : "SIGHUP";
    QVERIFY2(run.err.contains("interrupted by " + name), run.err.constData());

    const QMap<QString, QString> statuses = statusesOf(run, format);
    QCOMPARE(statuses.size(), devices);
    const QSet<QString> commanded = commandedSerials(devsim);
    const QStringList finals { "confirmed", "not confirmed", "other address", "not sent" };
    for (auto row = statuses.constBegin(); row != statuses.constEnd(); ++row) {
        QVERIFY2(finals.contains(row.value()), qPrintable(row.key() + ": " + row.value()));
        QVERIFY2(commanded.contains(row.key()) == (row.value() != "not sent"), qPrintable(row.key()));
    }
    if (phase == "search")
        QVERIFY(commanded.isEmpty());
    if (phase == "confirmation")
        QCOMPARE(commanded.size(), devices);
    QCOMPARE(statuses.value("SN0001"),
        phase == "search" ? QStringLiteral("not sent") : QStringLiteral("not confirmed"));

    const QList<QJsonObject> lines = logLines(log);
    QCOMPARE(loggedSerials(lines, "sending"), commanded);
    for (const QString& status : finals) {
        QSet<QString> withStatus;
        for (auto row = statuses.constBegin(); row != statuses.constEnd(); ++row)
            if (row.value() == status)
                withStatus.insert(row.key());
        QCOMPARE(loggedSerials(lines, status), withStatus);
    }
}

// A console closed during a plan of 1000 devices (SIGHUP here; under Wine the event that
// Windows sends, raised by tests/wine/console-event): every device has its final line in
// the log, and the time from the event to the last line is printed, to hold against the
// 5 s that Windows leaves.
void TestAssign::closedConsoleLogsEveryDevice()
{
    const QString raiser = qEnvironmentVariable("DEVICESEARCH_CONSOLE_EVENT");
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI") && raiser.isEmpty())
        QSKIP("needs DEVICESEARCH_CONSOLE_EVENT to close the Windows program's console");
    const int devices = 1000;
    DevsimProcess devsim;
    QVERIFY2(
        devsim.start(kNumberedDevices + QStringList { "--count", QString::number(devices), "--ignore-set" }),
        qPrintable(devsim.error()));
    const QString log = m_dir.filePath("closed.jsonl");
    Cli cli({ "assign", "--plan", writePlan(m_dir, NumberedPlan(devices, "10.2"), "plan1000.csv"), "--mask",
        "255.255.0.0", "--wait", "3", "--probes", "3", "--verify", "60", "--format", "jsonl", "--log", log });
    if (!devsim.waitForCount(isCommand, 1, 60000))
        QFAIL(cli.finish(1000).err.constData());
    const QDateTime event = QDateTime::currentDateTimeUtc();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(raiser.isEmpty() ? cli.signal(SIGHUP) : QProcess::execute(raiser, { "close" }) == 0);
    const CliRun run = cli.finish(60000);
    const qint64 exitMs = clock.elapsed();
    QVERIFY2(run.status == 129, run.err.constData());

    const QList<QJsonObject> lines = logLines(log);
    const QSet<QString> commanded = commandedSerials(devsim);
    QCOMPARE(loggedSerials(lines, "sending"), commanded);
    QSet<QString> settled;
    QDateTime last = event;
    for (const QJsonObject& line : lines) {
        const QString sn = line.value("sn").toString();
        const QString status = line.value("event").toString();
        if (status == "sending")
            continue;
        QVERIFY2(status == (commanded.contains(sn) ? "not confirmed" : "not sent"),
            qPrintable(sn + ": " + status));
        QVERIFY2(!settled.contains(sn), qPrintable(sn + " twice"));
        settled.insert(sn);
        last = std::max(last, QDateTime::fromString(line.value("time").toString(), Qt::ISODateWithMs));
    }
    QCOMPARE(settled.size(), devices);
    qInfo(
        "%d commands sent, %d final lines; the last %lld ms after the event, the program gone after %lld ms",
        int(commanded.size()), int(settled.size()), event.msecsTo(last), exitMs);
}

// Each line is on disk before its command goes out, so a killed run leaves them all.
void TestAssign::logAfterKillListsEveryFrame()
{
    const int devices = 50;
    DevsimProcess devsim;
    QVERIFY2(devsim.start(
                 kNumberedDevices + QStringList { "--count", QString::number(devices), "--ignore-set=1" }),
        qPrintable(devsim.error()));
    const QString log = m_dir.filePath("killed.jsonl");
    QProcess cli;
    cli.start(CliPath(),
        { "assign", "--plan", writePlan(m_dir, NumberedPlan(devices, "10.2")), "--mask", "255.255.0.0",
            "--wait", "0.3", "--verify", "60", "--log", log });
    QVERIFY(devsim.waitForCount(isCommand, devices, 20000));
    cli.kill();
    QVERIFY(cli.waitForFinished(10000));
    const QList<QJsonObject> lines = logLines(log);
    const QSet<QString> commanded = commandedSerials(devsim);
    QCOMPARE(commanded.size(), devices);
    QCOMPARE(loggedSerials(lines, "sending"), commanded);
    const QRegularExpression utcMs("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
    for (const QJsonObject& line : lines)
        QVERIFY2(
            utcMs.match(line.value("time").toString()).hasMatch(), QJsonDocument(line).toJson().constData());
}

void TestAssign::unusableFileSendsNothing_data()
{
    const QStringList assign { "assign", "--plan", "DIR/plan.csv", "--mask", "255.255.255.0", "--wait",
        "0.5" };
    QTest::addColumn<QStringList>("args"); // DIR: the test's folder
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("log in a folder that is a file")
        << assign + QStringList { "--log", "DIR/plan.csv/assign.jsonl" }
        << QByteArray("cannot keep the log ");
    QTest::newRow("log, a folder") << assign + QStringList { "--log", "DIR" }
                                   << QByteArray("cannot keep the log ");
    QTest::newRow("assign --output in a folder that is not there") << assign
            + QStringList { "--output", "DIR/missing/out.csv" } << QByteArray("cannot write DIR/missing/");
    QTest::newRow("search --output, a folder")
        << QStringList { "search", "--wait", "0.5", "--output", "DIR" } << QByteArray("cannot write DIR");
    QTest::newRow("watch --output in a folder that is not there") << QStringList { "watch", "--every", "1",
        "--output", "DIR/missing/events" } << QByteArray("cannot write DIR/missing/");
    QTest::newRow("--output, the plan")
        << assign + QStringList { "--output", "DIR/plan.csv" } << QByteArray("--output names DIR/plan.csv");
    QTest::newRow("--output, the plan through a link")
        << assign + QStringList { "--output", "DIR/link.csv" }
        << QByteArray("--output names DIR/link.csv, which is DIR/plan.csv under another name");
    QTest::newRow("--output, the log")
        << assign + QStringList { "--log", "DIR/a.jsonl", "--output", "DIR/a.jsonl" }
        << QByteArray("--output names DIR/a.jsonl");
}

// Refused before the network: not even the search goes out.
void TestAssign::unusableFileSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, said);
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    const QByteArray plan = "sn,ip\nSN0001,192.168.1.20\n";
    QVERIFY(!writePlan(m_dir, plan).isEmpty());
    if (args.contains("DIR/link.csv")) {
        if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
            QSKIP("a Unix link, which a Windows program sees as a file of its own");
        QFile::remove(m_dir.filePath("link.csv"));
        QVERIFY(QFile::link(m_dir.filePath("plan.csv"), m_dir.filePath("link.csv")));
    }
    for (QString& arg : args)
        arg.replace("DIR", m_dir.path());
    const CliRun run = runCli(args);
    QVERIFY2(run.status == 2, run.err.constData());
    said.replace("DIR", m_dir.path().toUtf8());
    QVERIFY2(run.err.startsWith("devicesearch-cli: " + said), run.err.constData());
    QVERIFY(run.out.isEmpty());
    QFile kept(m_dir.filePath("plan.csv"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), plan);
    QCOMPARE(commandsReceived(devsim), QStringList());
    const auto& lines = devsim.received();
    QVERIFY(std::none_of(lines.begin(), lines.end(), isProbe));
}

void TestAssign::outputFileHoldsStandardOutput_data()
{
    QTest::addColumn<QStringList>("format");
    QTest::newRow("table") << QStringList { "--format", "table" };
    QTest::newRow("csv") << QStringList { "--format", "csv" };
    QTest::newRow("csv with a byte-order mark") << QStringList { "--format", "csv", "--bom" };
    QTest::newRow("json") << QStringList { "--format", "json" };
    QTest::newRow("jsonl") << QStringList { "--format", "jsonl" };
}

// --output writes the very bytes standard output gets, serial numbers in any script and
// with any character included; standard output then stays empty.
void TestAssign::outputFileHoldsStandardOutput()
{
    QFETCH(QStringList, format);
    QJsonArray identities;
    QByteArray plan = "sn,ip\r\n";
    for (const QString& sn : kHostileSerials) {
        identities.append(QJsonObject { { "sn", sn } });
        plan += '"' + QString(sn).replace('"', "\"\"").toUtf8() + "\",10.2.0."
            + QByteArray::number(10 + identities.size()) + "\r\n";
    }
    const QString file = writePlan(m_dir, QJsonDocument(identities).toJson(), "identities.json");
    DevsimProcess devsim;
    QVERIFY2(devsim.start(kNumberedDevices
                 + QStringList { "--count", QString::number(identities.size()), "--identities", file }),
        qPrintable(devsim.error()));
    const QStringList args = QStringList {
        "assign", "--plan", writePlan(m_dir, plan), "--mask", "255.255.0.0", "--wait", "0.5", "--dry-run"
    } + format;
    const CliRun shown = runCli(args);
    QVERIFY2(shown.status == 0 && !shown.out.isEmpty(), shown.err.constData());
    const QString output = m_dir.filePath(QStringLiteral("%1 输出.txt").arg(QTest::currentDataTag()));
    QVERIFY(writePlan(m_dir, "an older file, longer than what replaces it, all of it" + shown.out,
                QFileInfo(output).fileName())
        == output);
    const CliRun saved = runCli(args + QStringList { "--output", output });
    QVERIFY2(saved.status == 0 && saved.out.isEmpty(),
        qPrintable(QStringLiteral("status %1, %2 bytes on standard output: %3")
                       .arg(saved.status)
                       .arg(saved.out.size())
                       .arg(QString::fromUtf8(saved.err))));
    QFile written(output);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), shown.out);
}

void TestAssign::logGoesWhereAsked_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("log"); // under a fresh state folder; empty: no file anywhere
    QTest::newRow("default, with its folder") << QStringList() << "state/devicesearch/assign.jsonl";
    QTest::newRow("--log") << QStringList { "--log", "chosen.jsonl" } << "chosen.jsonl";
    QTest::newRow("--no-log") << QStringList { "--no-log" } << "";
    QTest::newRow("--dry-run") << QStringList { "--dry-run" } << "";
}

void TestAssign::logGoesWhereAsked()
{
    QFETCH(QStringList, args);
    QFETCH(QString, log);
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
        QSKIP("Wine may keep its own LOCALAPPDATA");
    QTemporaryDir dir;
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
    DevsimProcess devsim;
    QVERIFY2(devsim.start(), qPrintable(devsim.error()));
    for (QString& arg : args)
        arg.replace("chosen.jsonl", dir.filePath("chosen.jsonl"));
    const CliRun run = runCli(QStringList { "assign", "--sn", "SN0001", "--start", "192.168.1.20", "--mask",
                                  "255.255.255.0", "--wait", "0.5", "--verify", "10" }
        + args);
    qputenv("XDG_STATE_HOME", state);
    QVERIFY2(run.status == 0, run.err.constData());
    QDirIterator files(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    QStringList written;
    while (files.hasNext())
        written << QDir(dir.path()).relativeFilePath(files.next());
    QCOMPARE(written, log.isEmpty() ? QStringList() : QStringList { log });
    if (log.isEmpty())
        return;
    QCOMPARE(QFileInfo(dir.filePath(log)).permissions(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QList<QJsonObject> lines = logLines(dir.filePath(log));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0].value("event").toString(), QStringLiteral("sending"));
    QCOMPARE(lines[1].value("event").toString(), QStringLiteral("confirmed"));
}

// Two runs at once on one log, each with devices of its own: every line whole, and every
// line of both there. An append that seeks to the end once at open shows as lines
// overwritten by the other run.
void TestAssign::concurrentRunsShareTheLog()
{
    const int perRun = 40;
    DevsimProcess devsim;
    QVERIFY2(devsim.start(kNumberedDevices + QStringList { "--count", QString::number(2 * perRun) }),
        qPrintable(devsim.error()));
    const QList<QByteArray> rows = NumberedPlan(2 * perRun, "10.2").split('\n').mid(1, 2 * perRun);
    const QString log = m_dir.filePath("shared.jsonl");
    std::vector<std::unique_ptr<Cli>> runs;
    for (int r = 0; r < 2; ++r) {
        const QString plan = writePlan(m_dir, "sn,ip\n" + rows.mid(r * perRun, perRun).join('\n') + '\n',
            QStringLiteral("shared%1.csv").arg(r));
        runs.push_back(std::make_unique<Cli>(QStringList { "assign", "--plan", plan, "--mask", "255.255.0.0",
            "--wait", "1", "--verify", "30", "--format", "jsonl", "--log", log }));
    }
    for (const auto& cli : runs) {
        const CliRun run = cli->finish(60000);
        QVERIFY2(run.status == 0, run.err.constData());
    }

    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.endsWith('\n'));
    QMap<QString, QStringList> events; // by serial number, in the order logged
    for (const QByteArray& line : text.left(text.size() - 1).split('\n')) {
        QJsonParseError error {};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError && object.contains("time"), line.constData());
        events[object.value("sn").toString()] << object.value("event").toString();
    }
    QCOMPARE(events.size(), 2 * perRun);
    for (auto e = events.constBegin(); e != events.constEnd(); ++e)
        QVERIFY2(e.value() == QStringList({ "sending", "confirmed" }),
            qPrintable(e.key() + ": " + e.value().join(',')));
}

void TestAssign::logRefusals_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("said"); // DIR: the test's folder
    const QByteArray cannot = "cannot keep the log DIR/log.jsonl: ";
    QTest::newRow("a link to a file") << "link" << cannot + "is a symbolic link";
    QTest::newRow("a link to no file yet") << "dangling link" << cannot + "is a symbolic link";
    QTest::newRow("group may write") << "0620" << cannot + "group or others may write to it (mode 0620)";
    QTest::newRow("others may write") << "0602" << cannot + "group or others may write to it (mode 0602)";
    QTest::newRow("another user's") << "owner" << cannot + "belongs to another user (uid 4242)";
    QTest::newRow("--output, a hard link of the log")
        << "hard link"
        << QByteArray("--output names DIR/target.jsonl, which is DIR/log.jsonl under another name");
}

// Refused before anything is sent, and neither the log nor what a link leads to changes.
void TestAssign::logRefusals()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, said);
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI") && setup != "hard link")
        QSKIP("Unix links, modes and owners; Windows refuses reparse points instead");
    QTemporaryDir dir;
    const QString log = dir.filePath("log.jsonl");
    const QString target = dir.filePath("target.jsonl");
    const QByteArray kept = "{\"event\":\"an earlier run\"}\n";
    QVERIFY(writePlan(dir, kept, "target.jsonl") == target);
    QStringList extra;
    if (setup.endsWith("link") && setup != "hard link") {
        if (setup == "dangling link")
            QVERIFY(QFile::remove(target));
        QVERIFY(QFile::link(target, log));
    } else {
        QVERIFY(QFile::rename(target, log));
        if (setup.startsWith('0'))
            QCOMPARE(::chmod(QFile::encodeName(log).constData(), mode_t(setup.toUInt(nullptr, 8))), 0);
        if (setup == "hard link") {
            QCOMPARE(::link(QFile::encodeName(log).constData(), QFile::encodeName(target).constData()), 0);
            extra = QStringList { "--output", target };
        }
        if (setup == "owner" && ::chown(QFile::encodeName(log).constData(), 4242, 4242) != 0) {
            // A user namespace that maps root alone has no second user.
            if (qEnvironmentVariableIsSet("DEVICESEARCH_SECOND_USER"))
                QFAIL(qPrintable(
                    QStringLiteral("cannot give the log to uid 4242: %1").arg(qt_error_string(errno))));
            QSKIP("no second user in this namespace: tst_assign_second_user runs this as the real root");
        }
    }
    DevsimProcess devsim;
    QVERIFY2(devsim.start(), qPrintable(devsim.error()));
    const CliRun run = runCli(QStringList { "assign", "--sn", "SN0001", "--start", "192.168.1.20", "--mask",
                                  "255.255.255.0", "--wait", "0.5", "--no-verify", "--log", log }
        + extra);
    QVERIFY2(run.status == 2, run.err.constData());
    said.replace("DIR", dir.path().toUtf8());
    QVERIFY2(run.err.startsWith("devicesearch-cli: " + said), run.err.constData());
    const auto& lines = devsim.received();
    QVERIFY(std::none_of(lines.begin(), lines.end(), isProbe));
    if (setup == "dangling link") {
        QVERIFY(!QFile::exists(target));
        return;
    }
    QFile file(setup == "link" ? target : log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kept);
}

// A log on a file system with room for one line and a half: the first command goes out
// after its whole line, the second's line does not fit, so it is taken back, nothing more
// is sent and the run ends with status 2.
void TestAssign::fullDiskLeavesNoPartOfALine()
{
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
        QSKIP("a Linux file system mounted in the test's namespace");
    QTemporaryDir dir;
    QByteArray why;
    QVERIFY2(MountSmallFileSystem(dir.path(), "size=16k,mode=0700", &why), why.constData());
    const QString log = dir.filePath("log.jsonl");
    // A "sending" line of devsim's devices on lo takes about 200 bytes.
    const int room = 300;
    const QByteArray filler = "{\"filler\":\"" + QByteArray(16 * 1024 - room - 14, 'x') + "\"}\n";
    QCOMPARE(writePlan(dir, filler, "log.jsonl"), log);
    QVERIFY(QFile::setPermissions(log, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    const CliRun run = runCli({ "assign", "--sn", "SN0001", "--sn", "SN0002", "--sn", "SN0003", "--start",
        "192.168.1.20", "--mask", "255.255.255.0", "--wait", "0.5", "--no-verify", "--log", log });
    const QList<QJsonObject> lines = logLines(log);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    file.close();
    QProcess::execute("umount", { dir.path() });
    QVERIFY2(run.status == 2, run.err.constData());
    QVERIFY2(run.err.contains("the part written was taken back; the commands left were not sent"),
        run.err.constData());
    // The file as it was, and the first line whole; nothing after it.
    QVERIFY(text.startsWith(filler) && text.endsWith('\n'));
    QVERIFY2(lines.size() == 2, "a line no longer takes between 150 and 300 bytes: change the room");
    QCOMPARE(lines[1].value("event").toString(), QStringLiteral("sending"));
    QCOMPARE(lines[1].value("sn").toString(), QStringLiteral("SN0001"));
    QCOMPARE(commandedSerials(devsim), QSet<QString> { "SN0001" });
}

QTEST_GUILESS_MAIN(TestAssign)
#include "tst_assign.moc"
