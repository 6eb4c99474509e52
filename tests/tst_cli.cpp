// The command-line companion end to end: the real program against devsim and hand-made
// devices inside the private network, its datagrams read off the wire, its output read
// back with CSV and JSON readers.
#include "clirun.h"
#include "csvreader.h"
#include "devicefields.h"
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "interfaces.h"
#include "service.h"
#include "udptestsocket.h"
#include "wirecapture.h"
#include "xlsxcells.h"

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <thread>

namespace {
QByteArray replyFrame(const QByteArray& body)
{
    return QByteArray::fromHex("82000bf000aabbccddeeff") + "ACK-" + body;
}

QByteArray announceFrame(const QByteArray& text)
{
    return QByteArray::fromHex("82000000000000f0000000") + text;
}

// One answer in a form both the window's rows and the command line's entries reduce to.
QString key(bool configurable, const QJsonValue& name, const QJsonValue& ip, const QJsonValue& sn,
    const QJsonValue& id)
{
    QStringList parts { configurable ? "box" : "-" };
    for (const QJsonValue& v : { name, ip, sn, id })
        parts << (v.isNull() ? QStringLiteral("<absent>") : v.toString());
    return parts.join('|');
}
}

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void needsNeitherWidgetsNorADisplay();
    void wireCarriesTheWindowsTwoDatagrams_data();
    void wireCarriesTheWindowsTwoDatagrams();
    void hostileAnswersReadBack_data();
    void hostileAnswersReadBack();
    void uniqueKeepsTheFirstPerSerial();
    void searchWritesAWorkbook_data();
    void searchWritesAWorkbook();
    void workbookRefusedOnATerminal();
    void workbookWhateverTheTemporaryFolderIsCalled_data();
    void workbookWhateverTheTemporaryFolderIsCalled();
    void failedOutputLeavesTheFileAsItWas_data();
    void failedOutputLeavesTheFileAsItWas();
    void busyAnnouncementPortLeavesReplies();
    void exitStatuses_data();
    void exitStatuses();
    void usageBeforeTheNetwork_data();
    void usageBeforeTheNetwork();
    void signalEndsTheWaitEarly_data();
    void signalEndsTheWaitEarly();
    void searchesEveryLan();
    void watchKeepsAnAdapterWhoseAddressIsReplaced();
    void interfaceByEitherName_data();
    void interfaceByEitherName();
    void floodLeavesTheSearchOnTime();
    // Last: it starts the window's command channel, which stays open to the end.
    void sameEntriesAsTheWindow();

private:
    QTemporaryDir m_state;
};

void TestCli::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
    // An assign that got as far as its log would write it here, never into the home folder.
    QVERIFY(m_state.isValid());
    qputenv("XDG_STATE_HOME", m_state.path().toUtf8());
    qputenv("LOCALAPPDATA", m_state.path().toUtf8());
}

// It runs over SSH and on machines without a desktop.
void TestCli::needsNeitherWidgetsNorADisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        env.remove(name);
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(CliPath(), { "--version" });
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 0);
    if (CliPath() != QLatin1String(CLI_PATH))
        return; // a Windows build: static, so there are no libraries to list
    QProcess readelf;
    readelf.start("readelf", { "-d", CLI_PATH });
    QVERIFY(readelf.waitForFinished(10000) && readelf.exitCode() == 0);
    const QByteArray needed = readelf.readAllStandardOutput();
    QVERIFY(needed.contains("libQt5Network"));
    QVERIFY2(!needed.contains("libQt5Widgets") && !needed.contains("libQt5Gui"), needed);
}

void TestCli::wireCarriesTheWindowsTwoDatagrams_data()
{
    QTest::addColumn<int>("probes");
    QTest::newRow("one probe") << 1;
    QTest::newRow("three probes spread over the wait") << 3;
}

void TestCli::wireCarriesTheWindowsTwoDatagrams()
{
    QFETCH(int, probes);
    WireCapture capture(DefaultInterface().toLatin1().constData());
    QVERIFY(capture.ok());
    const CliRun run = runCli({ "search", "--wait", "0.6", "--probes", QString::number(probes) });
    QCOMPARE(run.status, 1); // nobody answered
    QVector<WireDatagram> sent;
    for (const WireDatagram& d : capture.take(200)) {
        if (d.destinationPort == kProbePort || d.destinationPort == kCommandPort)
            sent << d;
    }
    QCOMPARE(sent.size(), 2 * probes);
    for (int i = 0; i < sent.size(); i += 2) {
        QCOMPARE(sent.at(i).destinationPort, kProbePort);
        QCOMPARE(sent.at(i).payload, QByteArray::fromHex("82000900000000f0000000"));
        QCOMPARE(sent.at(i + 1).destinationPort, kCommandPort);
        QCOMPARE(sent.at(i + 1).sourcePort, kReplyPort);
        QCOMPARE(sent.at(i + 1).payload, QByteArray::fromHex("82000bf0001122334400 00"));
    }
}

void TestCli::hostileAnswersReadBack_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("csv") << "csv";
    QTest::newRow("json") << "json";
    QTest::newRow("jsonl") << "jsonl";
    QTest::newRow("table") << "table";
}

void TestCli::hostileAnswersReadBack()
{
    QFETCH(QString, format);
    UdpTestSocket device(kCommandPort, true);
    // The wait leaves ample time for this process to answer, however busy the machine.
    QStringList args { "search", "--wait", "3", "--format", format };
    if (format == "table")
        args << "--verbose";
    Cli cli(args);
    // Answer the search as a device would, once it has been asked.
    QVERIFY(!device.receive(10).isEmpty());
    if (format == "csv") {
        // Both of its sockets asked for room for a burst.
        for (const char* port : { "8839", "7839" }) {
            QProcess ss;
            ss.start("ss", { "-uamnH", "sport", "=", QString(":") + port });
            QVERIFY(ss.waitForFinished(10000));
            const QRegularExpressionMatch rb = QRegularExpression("skmem:\\(r\\d+,rb(\\d+),")
                                                   .match(QString::fromLatin1(ss.readAllStandardOutput()));
            QVERIFY2(rb.hasMatch(), port);
            QVERIFY2(rb.captured(1).toLongLong() >= GrantedReceiveBuffer(), qPrintable(rb.captured(0)));
        }
    }
    const QByteArray name("a,b \"q\"\r\nline\ttab\x1b[2J");
    QVERIFY(device.sendToGroup(kReplyPort,
        replyFrame("{\"name\":\"a,b \\\"q\\\"\\r\\nline\\ttab\\u001b[2J\",\"ip\":\"10.0.0.4\",\"sn\":\"S,1\","
                   "\"mode\":\"xxxxI\\\"D\",\"libver\":\"1\"}")));
    QVERIFY(device.sendToGroup(kReplyPort, replyFrame("{\"name\":\"bad\xff\xfe utf8\",\"sn\":5}")));
    QVERIFY(device.sendToGroup(kAnnouncePort, announceFrame("10.0.0.5@SN\xe9@ID\x1b[2J")));
    QVERIFY(device.sendToGroup(kReplyPort, "\x83junk")); // no entry in any format
    const CliRun run = cli.finish();
    QCOMPARE(run.status, 0);
    QVERIFY(!run.out.isEmpty());
    QVERIFY2(QString::fromUtf8(run.out).toUtf8() == run.out, "the output is not valid UTF-8");

    const QStringList names { QString::fromUtf8(name),
        QString::fromUtf8("bad\xef\xbf\xbd\xef\xbf\xbd utf8") };
    const QString announcedSn = QString::fromUtf8("SN\xc3\xa9");
    if (format == "table") {
        // No device's control character reaches the terminal.
        for (const char c : run.out)
            QVERIFY2(
                uchar(c) >= 0x20 || c == '\n', qPrintable(QString("control byte %1").arg(int(uchar(c)))));
        QVERIFY(run.out.contains("line\\x09tab"));
        QVERIFY(run.out.contains("ID\\x1b[2J"));
        QCOMPARE(run.out.count('\n'), 4);
        QVERIFY2(run.err.contains(": reply of 5 bytes from "), run.err);
        QVERIFY2(run.err.contains(" on " + DefaultInterface().toUtf8() + ": not a frame\n"), run.err);
        return;
    }
    QList<QStringList> rows; // kind, name, ip, sn, id, configurable, interface
    if (format == "csv") {
        QVector<QStringList> records;
        QVERIFY2(ReadCsv(QString::fromUtf8(run.out), &records), run.out.constData());
        QCOMPARE(records.size(), 4);
        QCOMPARE(records.first(),
            QStringList({ "kind", "name", "ip", "sn", "id", "configurable", "from", "interface" }));
        for (int i = 1; i < records.size(); ++i) {
            const QStringList& r = records.at(i);
            QCOMPARE(r.size(), 8);
            rows << QStringList { r[0], r[1], r[2], r[3], r[4], r[5], r[7] };
        }
    } else {
        QJsonArray entries;
        if (format == "json") {
            entries = jsonOf(run);
        } else {
            for (const QByteArray& line : run.out.split('\n')) {
                if (!line.isEmpty())
                    entries.append(QJsonDocument::fromJson(line).object());
            }
        }
        QCOMPARE(entries.size(), 3);
        for (const QJsonValue& v : entries) {
            const QJsonObject o = v.toObject();
            QCOMPARE(o.keys(),
                QStringList({ "configurable", "from", "id", "interface", "ip", "kind", "name", "sn", "t" }));
            const auto text = [&](const char* k) {
                return o.value(k).isNull() ? QStringLiteral("null") : o.value(k).toString();
            };
            rows << QStringList { text("kind"), text("name"), text("ip"), text("sn"), text("id"),
                o.value("configurable").toBool() ? "true" : "false", text("interface") };
        }
    }
    std::sort(rows.begin(), rows.end());
    const QString absent = format == "csv" ? QString() : QStringLiteral("null");
    QCOMPARE(rows.at(0),
        QStringList(
            { "announce", absent, "10.0.0.5", announcedSn, "ID\x1b[2J", "false", DefaultInterface() }));
    QCOMPARE(rows.at(1),
        QStringList({ "reply", names.at(0), "10.0.0.4", "S,1", "I\"D", "true", DefaultInterface() }));
    // A key with a number is there but empty, as in the window's table.
    QCOMPARE(
        rows.at(2), QStringList({ "reply", names.at(1), absent, "", absent, "false", DefaultInterface() }));
}

void TestCli::uniqueKeepsTheFirstPerSerial()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    const CliRun all = runCli({ "search", "--wait", "1.5", "--format", "json" });
    const CliRun unique = runCli({ "search", "--wait", "1.5", "--format", "json", "--unique" });
    QCOMPARE(all.status, 0);
    QCOMPARE(unique.status, 0);
    QCOMPARE(jsonOf(all).size(), 6); // a reply and an announcement from each
    const QJsonArray kept = jsonOf(unique);
    QCOMPARE(kept.size(), 3);
    QSet<QString> serials;
    for (const QJsonValue& v : kept)
        serials.insert(v.toObject().value("sn").toString());
    QCOMPARE(serials, QSet<QString>({ "SN0001", "SN0002", "SN0003" }));
    QVERIFY2(unique.err.contains("3 entries, 3 serial numbers, 3 replies, 3 announcements, on "
                 + DefaultInterface().toUtf8()),
        unique.err);
    // Windows keeps no drop count: "unknown" there, never a made-up 0.
    QVERIFY2(unique.err.contains(CliPath() == QLatin1String(CLI_PATH)
                     ? ", 0 datagrams dropped by the kernel\n"
                     : ", datagrams dropped by the kernel: unknown\n"),
        unique.err);
}

void TestCli::searchWritesAWorkbook_data()
{
    QTest::addColumn<bool>("toFile");
    QTest::newRow("--output") << true;
    QTest::newRow("standard output, redirected") << false;
}

// Serial numbers a spreadsheet would make numbers of and names it would run, each as the
// device said it, in a string cell.
void TestCli::searchWritesAWorkbook()
{
    QFETCH(bool, toFile);
    QTemporaryDir dir;
    const QList<QPair<QString, QString>> devices { { "0012345", "=HYPERLINK(\"http://x\",\"y\")" },
        { "1234567890123456", QString::fromUtf8("\xe6\x91\x84\xe5\x83\x8f\xe6\x9c\xba\n@2") } };
    QJsonArray identities;
    for (const auto& [sn, name] : devices)
        identities.append(QJsonObject { { "sn", sn }, { "name", name } });
    QFile file(dir.filePath("identities.json"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(identities).toJson()) > 0);
    file.close();
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2", "--identities", file.fileName() }), qPrintable(devsim.error()));

    const QString workbook = dir.filePath("devices.xlsx");
    QStringList args { "search", "--wait", "1.5", "--format", "xlsx" };
    if (toFile)
        args << "--output" << workbook;
    const CliRun run = runCli(args);
    QVERIFY2(run.status == 0, run.err.constData());
    if (toFile) {
        QVERIFY(run.out.isEmpty());
    } else {
        QFile saved(workbook);
        QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(run.out) == run.out.size());
    }
    XlsxSheet sheet;
    QString why;
    QVERIFY2(ReadXlsx(workbook, &sheet, &why), qPrintable(why));
    QCOMPARE(sheet.cells.value("D1").value, QString("sn"));
    QStringList replies; // sn|name of every reply
    int row = 1;
    for (; sheet.cells.contains(XlsxRef(row, 0)); ++row) {
        for (int c = 0; c < 8; ++c) {
            const XlsxCell cell = sheet.cells.value(XlsxRef(row, c));
            QVERIFY2(!sheet.cells.contains(XlsxRef(row, c)) || (cell.type == "s" && !cell.formula),
                qPrintable(XlsxRef(row, c)));
        }
        if (sheet.cells.value(XlsxRef(row, 0)).value == "reply")
            replies << sheet.cells.value(XlsxRef(row, 3)).value + '|'
                    + sheet.cells.value(XlsxRef(row, 1)).value;
    }
    QCOMPARE(row, 5); // the header, then a reply and an announcement from each
    replies.sort();
    QCOMPARE(replies,
        QStringList(
            { devices[0].first + '|' + devices[0].second, devices[1].first + '|' + devices[1].second }));
}

// A workbook is no text for a terminal: refused before the network, status 2. `script`
// gives the program a terminal (under Wine a console) for its standard output.
void TestCli::workbookRefusedOnATerminal()
{
    QStringList command { CliPath(), "search", "--format", "xlsx" };
    const bool linuxBuild = qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI");
    if (linuxBuild)
        command = QStringList { "unshare", "-rn" } + command; // no network at all
    QProcess script;
    script.setStandardInputFile(QProcess::nullDevice());
    script.start("script", { "-qec", "'" + command.join("' '") + "'", "/dev/null" });
    QVERIFY(script.waitForFinished(60000));
    QCOMPARE(script.exitCode(), 2);
    // Wine's console redraws what it shows, so the words are read from the Linux build's.
    if (linuxBuild)
        QVERIFY2(script.readAllStandardOutput().contains("--format xlsx writes a binary file"),
            script.readAllStandardOutput());
}

void TestCli::workbookWhateverTheTemporaryFolderIsCalled_data()
{
    QTest::addColumn<QString>("user");
    QTest::newRow("Cyrillic") << QString::fromUtf8(
        "\xd0\x9f\xd0\xbe\xd0\xbb\xd1\x8c\xd0\xb7\xd0\xbe\xd0\xb2\xd0\xb0\xd1\x82\xd0\xb5\xd0\xbb\xd1\x8c");
    QTest::newRow("Chinese") << QString::fromUtf8("\xe7\x94\xa8\xe6\x88\xb7");
}

// A temporary folder and a workbook under a user's name in any script: the workbook is
// written and nothing is left in the temporary folder. Under Wine only the workbook's name
// is the user's: Wine takes TMP and TEMP from its registry, so the suite's own step sets
// them, on an English Windows whose code page cannot spell either name.
void TestCli::workbookWhateverTheTemporaryFolderIsCalled()
{
    QFETCH(QString, user);
    QTemporaryDir dir;
    const QString temp = dir.filePath(user + "/Temp");
    QVERIFY(QDir().mkpath(temp));
    const QByteArray before = qgetenv("TMPDIR");
    if (qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
        qputenv("TMPDIR", temp.toUtf8());
    const QString workbook = dir.filePath(user + "/found.xlsx");
    const CliRun run = runCli({ "search", "--wait", "0.3", "--format", "xlsx", "--output", workbook });
    if (before.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", before);
    QVERIFY2(run.status == 1, run.err.constData()); // nothing answers
    XlsxSheet sheet;
    QString why;
    QVERIFY2(ReadXlsx(workbook, &sheet, &why), qPrintable(why));
    QCOMPARE(sheet.cells.value("D1").value, QString("sn"));
    QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestCli::failedOutputLeavesTheFileAsItWas_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("csv, written as it comes") << "csv";
    QTest::newRow("a workbook, written at the end") << "xlsx";
}

// A full disk: the earlier file stays as it was, nothing is left beside it, status 2.
void TestCli::failedOutputLeavesTheFileAsItWas()
{
    QFETCH(QString, format);
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
        QSKIP("a Linux file system mounted in the test's namespace");
    QTemporaryDir dir;
    QByteArray why;
    QVERIFY2(MountSmallFileSystem(dir.path(), "size=16k", &why), why.constData());
    const QString output = dir.filePath("found." + format);
    const QByteArray before = "kind,name\r\nreply,found earlier\r\n";
    QFile earlier(output);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write(before) == before.size());
    earlier.close();
    QFile filler(dir.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(4096, 'x')) == 4096 && filler.flush()) { }
    filler.close();
    const CliRun run = runCli({ "search", "--wait", "0.3", "--format", format, "--output", output });
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    const QByteArray after = earlier.readAll();
    earlier.close();
    const QStringList files
        = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QProcess::execute("umount", { dir.path() });
    QVERIFY2(run.status == 2, run.err.constData());
    QVERIFY2(run.err.contains(QStringLiteral("cannot write %1: ").arg(output).toUtf8()), run.err.constData());
    QCOMPARE(after, before);
    QCOMPARE(files, QStringList({ "filler", "found." + format }));
}

void TestCli::busyAnnouncementPortLeavesReplies()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    UdpTestSocket holder(kAnnouncePort, true, false);
    QVERIFY(holder.bound);
    const CliRun run = runCli({ "search", "--wait", "1.5", "--format", "json" });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.startsWith("devicesearch-cli: port 7839 is in use (is devicesearch running?): "
                                "announcements will not be heard\n"),
        run.err);
    QVERIFY2(!run.err.contains("QNativeSocketEngine"), run.err); // the socket not bound is left alone
    const QJsonArray entries = jsonOf(run);
    QCOMPARE(entries.size(), 2);
    for (const QJsonValue& v : entries)
        QCOMPARE(v.toObject().value("kind").toString(), QString("reply"));
}

void TestCli::exitStatuses_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("holdReplyPort");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("nobody answers") << QStringList { "search", "--wait", "0.3" } << false << 1
                                    << QByteArray("0 entries");
    QTest::newRow("no command") << QStringList {} << false << 2 << QByteArray("no command given");
    QTest::newRow("unknown command") << QStringList { "serch" } << false << 2
                                     << QByteArray("unknown command 'serch'");
    QTest::newRow("unknown option") << QStringList { "search", "--colour" } << false << 2
                                    << QByteArray("colour");
    QTest::newRow("wait not a number")
        << QStringList { "search", "--wait", "2s" } << false << 2 << QByteArray("--wait");
    QTest::newRow("wait zero") << QStringList { "search", "--wait", "0" } << false << 2
                               << QByteArray("--wait");
    QTest::newRow("probes zero") << QStringList { "search", "--probes", "0" } << false << 2
                                 << QByteArray("--probes");
    QTest::newRow("unknown format") << QStringList { "search", "--format", "xml" } << false << 2
                                    << QByteArray("unknown format 'xml'");
    QTest::newRow("unknown interface") << QStringList { "search", "--interface", "eth9" } << false << 2
                                       << QByteArray("unknown interface 'eth9'");
    QTest::newRow("stray argument") << QStringList { "interfaces", "now" } << false << 2
                                    << QByteArray("'now'");
    QTest::newRow("reply port held") << QStringList { "search", "--wait", "0.3" } << true << 3
                                     << QByteArray("cannot open the reply socket on UDP 8839");
    QTest::newRow("help") << QStringList { "search", "--help" } << false << 0 << QByteArray();
}

void TestCli::exitStatuses()
{
    QFETCH(QStringList, args);
    QFETCH(bool, holdReplyPort);
    QFETCH(int, status);
    QFETCH(QByteArray, said);
    std::unique_ptr<UdpTestSocket> holder;
    if (holdReplyPort)
        holder = std::make_unique<UdpTestSocket>(kReplyPort, false, false);
    const CliRun run = runCli(args);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(said), run.err);
    if (status == 2)
        QVERIFY(run.out.isEmpty()); // the usage goes to standard error
    if (status == 0)
        QVERIFY(run.out.contains("Exit status: 0 done"));
}

void TestCli::usageBeforeTheNetwork_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("assign without arguments") << QStringList { "assign" } << QByteArray("give a range");
    QTest::newRow("assign, a plan that is missing")
        << QStringList { "assign", "--plan", "/nonexistent/plan.csv" } << QByteArray("/nonexistent/plan.csv");
    QTest::newRow("assign, --log and --no-log") << QStringList { "assign", "--all", "--start", "10.0.0.2",
        "--mask", "255.0.0.0", "--log", "x", "--no-log" }
                                                << QByteArray("exclude each other");
    QTest::newRow("search, unknown format")
        << QStringList { "search", "--format", "xml" } << QByteArray("unknown format");
}

// A namespace of its own with loopback down: no interface at all, yet the command line is
// judged first.
void TestCli::usageBeforeTheNetwork()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, said);
    if (!qEnvironmentVariableIsEmpty("DEVICESEARCH_CLI"))
        QSKIP("needs the Linux build: Wine's server cannot follow the program into a network of its own");
    QProcess cli;
    cli.start("unshare", QStringList { "-rn", CliPath() } + args);
    QVERIFY(cli.waitForFinished(30000));
    QCOMPARE(cli.exitCode(), 2);
    QVERIFY(cli.readAllStandardError().contains(said));
}

void TestCli::signalEndsTheWaitEarly_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("format");
    QTest::newRow("INT, json") << int(SIGINT) << "json";
    QTest::newRow("TERM, csv") << int(SIGTERM) << "csv";
    QTest::newRow("HUP, jsonl") << int(SIGHUP) << "jsonl";
}

// What was heard before the signal is printed whole, and the status is the wait's.
void TestCli::signalEndsTheWaitEarly()
{
    QFETCH(int, n);
    QFETCH(QString, format);
    if (!SignalReachesTheProgram(n))
        QSKIP("Wine ends a Windows program on SIGTERM and SIGHUP; Windows has Ctrl-C, which is SIGINT here");
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "3", "--verbose" }), qPrintable(devsim.error()));
    QElapsedTimer clock;
    clock.start();
    Cli cli({ "search", "--wait", "60", "--format", format });
    // Sent before the signal, so in the socket's buffer, which the end of the wait reads.
    const QByteArray reply = "bytes to " + QByteArray::number(kReplyPort) + '\n';
    QVERIFY(QTest::qWaitFor([&] { return devsim.stderrText().count(reply) >= 3; }, 20000));
    QVERIFY(cli.signal(n));
    const CliRun run = cli.finish(20000);
    QVERIFY(clock.elapsed() < 30000);
    QCOMPARE(run.status, 0);
    QVector<QStringList> records;
    if (format == "json") {
        for (const QJsonValue& v : jsonOf(run))
            records << QStringList { v.toObject().value("kind").toString(),
                v.toObject().value("sn").toString() };
    } else if (format == "jsonl") {
        for (const QByteArray& line : run.out.split('\n'))
            if (!line.isEmpty())
                records << QStringList { QJsonDocument::fromJson(line).object().value("kind").toString(),
                    QJsonDocument::fromJson(line).object().value("sn").toString() };
    } else {
        QVERIFY(ReadCsv(QString::fromUtf8(run.out), &records));
        records.removeFirst();
        for (QStringList& r : records)
            r = QStringList { r.value(0), r.value(3) };
    }
    for (const char* sn : { "SN0001", "SN0002", "SN0003" })
        QVERIFY2(records.contains(QStringList { "reply", sn }), run.out.constData());
    const QByteArray name = n == SIGINT ? "SIGINT" : n == SIGTERM ? "SIGTERM" : "SIGHUP";
    QVERIFY2(run.err.startsWith(QByteArray::number(records.size()) + " entries, "), run.err.constData());
    QVERIFY2(run.err.contains(", interrupted by " + name + " after "), run.err.constData());
}

void TestCli::searchesEveryLan()
{
    if (qEnvironmentVariableIsEmpty("LAN2_NETNS"))
        QSKIP("needs two LAN hosts; runs as tst_cli_lans");
    DevsimProcess first(DevsimProcess::LanHost);
    DevsimProcess second(DevsimProcess::SecondLanHost);
    QString started;
    QVERIFY2(StartOnBothLans(first, 2, second, 3, &started), qPrintable(started));

    WireCapture onFirst("veth0"), onSecond("veth2");
    const CliRun both = runCli({ "search", "--wait", "1", "--format", "json" });
    QCOMPARE(both.status, 0);
    QMap<QString, int> perInterface;
    for (const QJsonValue& v : jsonOf(both)) {
        const QJsonObject o = v.toObject();
        const QString lan = o.value("sn").toString().startsWith('A') ? "veth0" : "veth2";
        QCOMPARE(o.value("interface").toString(), lan);
        QVERIFY(o.value("from").toString().startsWith(
            (lan == "veth0" ? QStringLiteral("10.77.0.2") : TwoLanAddresses().secondThere) + ':'));
        ++perInterface[lan];
    }
    QCOMPARE(perInterface.value("veth0"), 4);
    QCOMPARE(perInterface.value("veth2"), 6);
    // The search left on each LAN, loopback left out while real interfaces qualify.
    for (WireCapture* capture : { &onFirst, &onSecond }) {
        QVector<WireDatagram> sent;
        for (const WireDatagram& d : capture->take(200)) {
            if (d.destinationPort == kProbePort || d.destinationPort == kCommandPort)
                sent << d;
        }
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).destinationPort, kProbePort);
        QCOMPARE(sent.at(1).destinationPort, kCommandPort);
    }
    QVERIFY2(both.err.contains("on veth0, veth2"), both.err);

    const CliRun listed = runCli({ "interfaces" });
    QCOMPARE(listed.status, 0);
    const QStringList lines = QString::fromUtf8(listed.out).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // Windows adds the system's names in a last column.
    QVERIFY2(
        lines.at(0).simplified().startsWith("NAME ADDRESS UP MULTICAST SEARCH"), qPrintable(lines.at(0)));
    QString secondLan = QStringLiteral("veth2");
    for (const QString& expected : { QStringLiteral("lo     127.0.0.1/8   yes  yes        -"),
             QStringLiteral("veth0  10.77.0.1/24  yes  yes        default"),
             QStringLiteral("veth2  %1/24  yes  yes        default").arg(TwoLanAddresses().secondHere) }) {
        const auto line = std::find_if(
            lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(expected); });
        QVERIFY2(line != lines.end(), qPrintable(expected));
        const QStringList fields = line->split(' ', Qt::SkipEmptyParts);
        if (fields.first() == "veth2" && fields.size() == 6)
            secondLan = fields.last(); // choosing it by its system name
    }

    const CliRun one = runCli({ "search", "--wait", "1", "--format", "json", "--interface", secondLan });
    QCOMPARE(one.status, 0);
    const QJsonArray entries = jsonOf(one);
    QCOMPARE(entries.size(), 6);
    for (const QJsonValue& v : entries)
        QVERIFY(v.toObject().value("sn").toString().startsWith('B'));
}

// watch chose its adapters once; an automatic address that gives way to a DHCP one leaves
// the adapter the same, so every round still goes out on it.
void TestCli::watchKeepsAnAdapterWhoseAddressIsReplaced()
{
    if (qEnvironmentVariableIsEmpty("LAN_NETNS"))
        QSKIP("needs a LAN host; runs as tst_cli_lans");
    const auto ip = [](const QStringList& args) {
        QProcess p;
        p.start("ip", args);
        return p.waitForFinished(10000) && p.exitCode() == 0;
    };
    const auto rounds = [](DevsimProcess& devsim) {
        const DevsimProcess::Lines& lines = devsim.received();
        return std::count_if(lines.begin(), lines.end(),
            [](const QJsonObject& l) { return l.value("hex").toString() == "82000bf000112233440000"; });
    };
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));
    QProcess watch;
    watch.start(CliPath(), { "watch", "--every", "1", "--format", "jsonl", "--interface", "veth0" });
    QVERIFY(devsim.waitFor([&](const DevsimProcess::Lines&) { return rounds(devsim) >= 1; }));

    // Gone, then another: the moment without an address takes the adapter's routes too.
    struct Restore {
        std::function<bool(const QStringList&)> ip;
        ~Restore()
        {
            ip({ "addr", "flush", "dev", "veth0" });
            ip({ "addr", "add", "10.77.0.1/24", "dev", "veth0" });
            ip({ "route", "replace", "224.0.0.0/4", "dev", "veth0" });
        }
    } restore { ip };
    QVERIFY(ip({ "addr", "del", "10.77.0.1/24", "dev", "veth0" }));
    QVERIFY(ip({ "addr", "add", "10.77.0.9/24", "dev", "veth0" }));
    const long before = rounds(devsim);
    QVERIFY2(devsim.waitFor([&](const DevsimProcess::Lines&) { return rounds(devsim) >= before + 2; }),
        watch.readAllStandardError().constData());

    ::kill(pid_t(watch.processId()), SignalReachesTheProgram(SIGTERM) ? SIGTERM : SIGINT);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitCode(), 0);
    const QByteArray said = watch.readAllStandardError();
    QVERIFY2(!said.contains("cannot send"), said.constData());
    QVERIFY2(!watch.readAllStandardOutput().contains("\"gone\""), said.constData());
}

// Windows shows adapters by friendly name; its own names must work as well.
void TestCli::interfaceByEitherName_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("chosen"); // empty: refused
    QTest::newRow("friendly name") << "Ethernet 2"
                                   << "Ethernet 2";
    QTest::newRow("system name") << "ethernet_32769"
                                 << "Ethernet 2";
    QTest::newRow("both names, chosen once") << "Ethernet 2,ethernet_32769"
                                             << "Ethernet 2";
    QTest::newRow("unknown") << "Ethernet 3"
                             << "";
}

void TestCli::interfaceByEitherName()
{
    QFETCH(QString, given);
    QFETCH(QString, chosen);
    InterfaceInfo lan;
    lan.name = QStringLiteral("Ethernet 2");
    lan.systemName = QStringLiteral("ethernet_32769");
    lan.address = QHostAddress(QStringLiteral("10.0.0.1"));
    lan.prefix = 24;
    QList<InterfaceInfo> picked;
    QString why;
    const bool ok = ChooseInterfaces({ lan }, given.split(','), &picked, &why);
    QCOMPARE(ok, !chosen.isEmpty());
    if (ok) {
        QCOMPARE(picked.size(), 1);
        QCOMPARE(picked.first().name, chosen);
    } else {
        QVERIFY2(why.startsWith("unknown interface 'Ethernet 3'"), qPrintable(why));
    }
    // The listing names both only where they differ.
    QVERIFY(InterfacesText({ lan }).contains(QRegularExpression("SYSTEM NAME\n.*ethernet_32769")));
    lan.systemName = lan.name;
    QVERIFY(!InterfacesText({ lan }).contains("SYSTEM NAME"));
}

// Replies faster than the program can read them: its search still ends when its time is
// up, since reading hands back to the event loop now and then.
void TestCli::floodLeavesTheSearchOnTime()
{
    std::atomic<bool> flooding { true };
    std::atomic<long> sent { 0 };
    std::thread flood([&] {
        const UdpTestSocket device;
        const QByteArray reply = replyFrame("{\"name\":\"flood\",\"ip\":\"10.0.0.9\",\"sn\":\"FLOOD\","
                                            "\"libver\":\"1\"}");
        while (flooding)
            sent += device.sendToGroup(kReplyPort, reply) ? 1 : 0;
    });
    QElapsedTimer clock;
    clock.start();
    // Its wait is 1 s; the rest is for a busy machine and the sanitizers. The flood lasts
    // longer.
    const CliRun run = Cli({ "search", "--wait", "1", "--format", "jsonl" }).finish(30000);
    const qint64 ms = clock.elapsed();
    flooding = false;
    flood.join();
    QVERIFY2(run.status == 0, run.err.constData());
    QVERIFY2(ms < 30000, qPrintable(QStringLiteral("the search took %1 ms").arg(ms)));
    QVERIFY(run.out.contains("\"FLOOD\""));
    qInfo("%ld datagrams sent; the search took %lld ms", long(sent), ms);
}

void TestCli::sameEntriesAsTheWindow()
{
    // Every kind of device and answer, with junk around them.
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "8", "--no-libver=2,5", "--announce-only=7", "--jitter-ms", "30",
                 "--garbage" }),
        qPrintable(devsim.error()));
    const CliRun run = runCli({ "search", "--wait", "1.5", "--format", "json" });
    QCOMPARE(run.status, 0);
    QStringList fromCli;
    int replies = 0;
    for (const QJsonValue& v : jsonOf(run)) {
        const QJsonObject o = v.toObject();
        replies += o.value("kind").toString() == "reply" ? 1 : 0;
        fromCli << key(
            o.value("configurable").toBool(), o.value("name"), o.value("ip"), o.value("sn"), o.value("id"));
    }

    DeviceSearchFixture fixture;
    fixture.search();
    QTRY_VERIFY_WITH_TIMEOUT(fixture.table->rowCount() >= fromCli.size(), 10000);
    QTest::qWait(500); // anything later than the last expected row would be a difference
    QStringList fromWindow;
    const auto cell = [&](int row, int column) {
        QTableWidgetItem* item = fixture.table->item(row, column);
        return item ? QJsonValue(item->text()) : QJsonValue(QJsonValue::Null);
    };
    for (int row = 0; row < fixture.table->rowCount(); ++row)
        fromWindow << key(
            fixture.table->item(row, 0), cell(row, 2), cell(row, 3), cell(row, 4), cell(row, 5));
    fromCli.sort();
    fromWindow.sort();
    QCOMPARE(fromCli, fromWindow);
    QVERIFY(fromCli.size() >= 15); // 7 replies, 8 announcements, and junk that passes as answers

    // Both at once: the window keeps its ports, the command line still hears the replies.
    const CliRun beside = runCli({ "search", "--wait", "1", "--format", "json" });
    QCOMPARE(beside.status, 0);
    QVERIFY2(beside.err.contains("port 7839 is in use (is devicesearch running?)"), beside.err);
    QCOMPARE(jsonOf(beside).size(), replies);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"
