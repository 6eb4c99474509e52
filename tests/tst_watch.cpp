// watch's bookkeeping and output as plain functions: which answers make which events, the
// limit on devices tracked, and what the formats and the live view print. Then the program
// against devsim in the private network: devices that appear, change, fall silent and come
// back, a search on the wire once a round, and a flood of answers the kernel cannot hold.
#include "clirun.h"
#include "devicetracker.h"
#include "devsimprocess.h"
#include "netsettext.h"
#include "protocol.h"
#include "udptestsocket.h"
#include "watchoutput.h"
#include "wireheader.h"

#include <QNetworkInterface>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

namespace {
// "r SN ip iface ms [name]": a reply with libver; "n ...": one without; "a SN ip iface ms":
// an announcement; "x ms": a look for gone devices; "drops": the kernel dropped datagrams
// in this round; "end": the round ends, shown as "end" among the events. SN "-" is an
// answer without one.
Entry answerOf(const QStringList& w)
{
    Entry e;
    e.device.kind = w[0] == "a" ? AnswerKind::Announcement : AnswerKind::Reply;
    e.device.configurable = w[0] == "r";
    if (w[1] != "-")
        e.device.sn = w[1];
    e.device.ip = w[2];
    e.device.id = QStringLiteral("ID");
    if (w[0] != "a")
        e.device.name = w.size() > 5 ? w[5] : QStringLiteral("Device");
    e.interfaceName = w[3];
    e.from = w[2] + QStringLiteral(":8839");
    return e;
}

// An event as "kind key", with "field:old" for each change.
QString eventText(const WatchEvent& event)
{
    QString text = QString::fromLatin1(WatchEventName(event.kind)) + ' '
        + (event.entry.device.sn ? *event.entry.device.sn : QStringLiteral("-"));
    for (const auto& [key, old] : event.was)
        text += ' ' + key + ':' + old;
    return text;
}

// The frames of one kind that arrived at socket: the probe, or a DeviceFrame with command.
int countFrames(const UdpTestSocket& socket, const QByteArray& start)
{
    int count = 0;
    for (const QByteArray& frame : socket.takePending())
        count += frame.startsWith(start);
    return count;
}

// "event sn" of each JSON line of watch's output so far; lines held in events.
// "event sn" for each event.
QStringList eventTexts(const QList<QJsonObject>& events)
{
    QStringList texts;
    for (const QJsonObject& e : events)
        texts << e.value("event").toString() + ' ' + e.value("sn").toString();
    return texts;
}

QStringList readEvents(QProcess& watch, QList<QJsonObject>* events)
{
    while (watch.canReadLine())
        events->append(QJsonDocument::fromJson(watch.readLine()).object());
    return eventTexts(*events);
}

// The end of the summary when the kernel dropped nothing; Windows keeps no count.
QString noDropsText()
{
    return CliPath() == QLatin1String(CLI_PATH)
        ? QStringLiteral("; 0 datagrams dropped by the kernel")
        : QStringLiteral("; datagrams dropped by the kernel: unknown");
}

QStringList play(DeviceTracker& tracker, const QStringList& steps)
{
    QStringList events;
    for (const QString& step : steps) {
        const QStringList w = step.split(' ');
        if (w[0] == "drops") {
            tracker.noteDrops();
            continue;
        }
        if (w[0] == "end") {
            tracker.roundEnded();
            events << "end";
            continue;
        }
        const QList<WatchEvent> made
            = w[0] == "x" ? tracker.expire(w[1].toLongLong()) : tracker.heard(answerOf(w), w[4].toLongLong());
        for (const WatchEvent& event : made)
            events << eventText(event);
    }
    return events;
}
}

class TestWatch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void events_data();
    void events();
    void limitCountsWithoutStoring();
    void jsonCarriesTheEntryAndWhatWas();
    void eventLinesAreAlignedAndSafe();
    void liveViewIsSortedAndFitsTheScreen();
    void summaryTellsTheDrops_data();
    void summaryTellsTheDrops();
    void badUsageTouchesNoNetwork_data();
    void badUsageTouchesNoNetwork();
    void devicesComeChangeGoAndComeBack();
    void eachSignalEndsIt_data();
    void eachSignalEndsIt();
    void floodIsToldAndGoneWaits();
};

void TestWatch::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
}

void TestWatch::events_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("first answer is new, the same again nothing")
        << QStringList { "r SN1 10.0.0.1 lo 0", "r SN1 10.0.0.1 lo 500" } << QStringList { "new SN1" };
    QTest::newRow("an announcement beside the replies changes nothing")
        << QStringList { "r SN1 10.0.0.1 lo 0", "a SN1 10.0.0.1 lo 100", "r SN1 10.0.0.1 lo 200" }
        << QStringList { "new SN1" };
    QTest::newRow("a reply after an announcement fills in; only then can it change")
        << QStringList { "a SN1 10.0.0.1 lo 0", "n SN1 10.0.0.1 lo 100", "r SN1 10.0.0.1 lo 200 Other" }
        << QStringList { "new SN1", "changed SN1 name:Device configurable:false" };
    QTest::newRow("address, name, configurable and interface each change")
        << QStringList { "r SN1 10.0.0.1 lo 0", "a SN1 10.0.0.9 lo 100", "r SN1 10.0.0.9 lo 200 Other",
               "n SN1 10.0.0.9 lo 300 Other", "n SN1 10.0.0.9 eth0 400 Other" }
        << QStringList { "new SN1", "changed SN1 ip:10.0.0.1", "changed SN1 name:Device",
               "changed SN1 configurable:true", "changed SN1 interface:lo" };
    QTest::newRow("gone once, after exactly the gone time") << QStringList { "r SN1 10.0.0.1 lo 0", "x 2999",
        "x 3000", "x 9000" } << QStringList { "new SN1", "gone SN1" };
    QTest::newRow("heard in time is not gone") << QStringList { "r SN1 10.0.0.1 lo 0",
        "a SN1 10.0.0.1 lo 2000", "x 4999" } << QStringList { "new SN1" };
    QTest::newRow("back, then back with a new address") << QStringList {
        "r SN1 10.0.0.1 lo 0", "x 3000", "r SN1 10.0.0.1 lo 3500", "x 6500", "r SN1 10.0.0.7 lo 7000"
    } << QStringList { "new SN1", "gone SN1", "back SN1", "gone SN1", "back SN1", "changed SN1 ip:10.0.0.1" };
    QTest::newRow("without a serial number: by interface and address") << QStringList {
        "r - 10.0.0.1 lo 0", "r - 10.0.0.1 eth0 0", "r - 10.0.0.2 lo 0", "r - 10.0.0.1 lo 9"
    } << QStringList { "new -", "new -", "new -" };
    QTest::newRow("a serial number outranks the address") << QStringList { "r SN1 10.0.0.1 lo 0",
        "r SN2 10.0.0.1 lo 0", "r - 10.0.0.1 lo 0" } << QStringList { "new SN1", "new SN2", "new -" };
    const QString heard = "r SN1 10.0.0.1 lo 0";
    QTest::newRow("rounds without drops change nothing") << QStringList { heard, "end", "x 2999", "end",
        "x 3000" } << QStringList { "new SN1", "end", "end", "gone SN1" };
    QTest::newRow("drops in the round it was heard in hold it back")
        << QStringList { heard, "drops", "x 3000", "end", "x 9000" } << QStringList { "new SN1", "end" };
    QTest::newRow("drops in the next round hold it back too") << QStringList { heard, "end", "drops",
        "x 3000", "end", "x 9000" } << QStringList { "new SN1", "end", "end" };
    QTest::newRow("a clean round that missed it lets it go") << QStringList { heard, "drops", "end", "x 3000",
        "end", "x 3000" } << QStringList { "new SN1", "end", "end", "gone SN1" };
    QTest::newRow("drops in every round: never gone") << QStringList { heard, "drops", "end", "drops", "end",
        "drops", "end", "drops", "x 60000" } << QStringList { "new SN1", "end", "end", "end" };
    QTest::newRow("drops after a clean round missed it: gone as before") << QStringList { heard, "end", "end",
        "drops", "x 3000" } << QStringList { "new SN1", "end", "end", "gone SN1" };
    QTest::newRow("heard again, the drops of its new round hold it") << QStringList { heard, "drops", "end",
        "end", "r SN1 10.0.0.1 lo 2000", "drops", "x 5000" } << QStringList { "new SN1", "end", "end" };
}

void TestWatch::events()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    DeviceTracker tracker(3000);
    QCOMPARE(play(tracker, steps), expected);
}

void TestWatch::limitCountsWithoutStoring()
{
    DeviceTracker tracker(3000, 2);
    const QStringList events = play(tracker,
        { "r SN1 10.0.0.1 lo 0", "r SN2 10.0.0.2 lo 0", "r SN3 10.0.0.3 lo 0", "r SN3 10.0.0.3 lo 1",
            "r - 10.0.0.4 lo 2", "r SN1 10.0.0.8 lo 3" });
    // The tracked ones still change; the others are counted once each.
    QCOMPARE(events, QStringList({ "new SN1", "new SN2", "changed SN1 ip:10.0.0.1" }));
    QCOMPARE(int(tracker.devices().size()), 2);
    QCOMPARE(tracker.untracked(), 2LL);
    QVERIFY(WatchSummary(tracker, WatchStatus(), { "lo" }).contains("about 2 more devices"));
}

void TestWatch::jsonCarriesTheEntryAndWhatWas()
{
    DeviceTracker tracker(3000);
    const QStringList changed = play(tracker, { "r SN1 10.0.0.1 lo 0", "x 3000" });
    const QList<WatchEvent> events = tracker.heard(answerOf({ "n", "SN1", "10.0.0.2", "lo", "4000" }), 4000);
    QCOMPARE(events.size(), 2);
    const QDateTime time(QDate(2024, 5, 6), QTime(7, 8, 9, 12), Qt::UTC);
    const QJsonObject back = ToJson(events[0], time);
    QCOMPARE(back.keys(),
        QStringList(
            { "configurable", "event", "from", "id", "interface", "ip", "kind", "name", "sn", "t", "time" }));
    QCOMPARE(back.value("event").toString(), QStringLiteral("back"));
    QCOMPARE(back.value("time").toString(), QStringLiteral("2024-05-06T07:08:09.012Z"));
    const QJsonObject change = ToJson(events[1], time);
    QCOMPARE(change.value("ip").toString(), QStringLiteral("10.0.0.2"));
    QCOMPARE(change.value("was").toObject(), QJsonObject({ { "ip", "10.0.0.1" }, { "configurable", true } }));
}

void TestWatch::eventLinesAreAlignedAndSafe()
{
    DeviceTracker tracker(3000);
    const QDateTime time(QDate(2024, 5, 6), QTime(7, 8, 9));
    QList<WatchEvent> events = tracker.heard(answerOf({ "r", "SN1", "10.0.0.1", "lo", "0" }), 0);
    Entry hostile = answerOf({ "r", "SN1", "10.0.0.9", "lo", "0" });
    hostile.device.name = QString::fromUtf8("bad\x1b[2J\xc2\x9b");
    events += tracker.heard(hostile, 1);
    const QString header = WatchEventHeader();
    const QString first = WatchEventLine(events[0], time);
    const QString second = WatchEventLine(events[1], time);
    QCOMPARE(first.indexOf("SN1"), header.indexOf("SERIAL"));
    QCOMPARE(second.indexOf("10.0.0.9"), header.indexOf("IP"));
    QVERIFY2(second.contains("name Device -> bad\\x1b[2J\\x9b, ip 10.0.0.1 -> 10.0.0.9"), qPrintable(second));
    QVERIFY(!QRegularExpression("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]").match(second).hasMatch());
}

void TestWatch::liveViewIsSortedAndFitsTheScreen()
{
    DeviceTracker tracker(3000);
    play(tracker, { "r SN3 10.0.0.3 lo 0", "r SN1 10.0.0.1 lo 0", "r SN2 10.0.0.2 lo 2500", "x 3000" });
    WatchStatus status;
    status.rounds = 4;
    status.nextRoundS = 2;
    const QStringList all = LiveViewText(tracker, 5000, status, 24).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(all.size(), 5);
    QVERIFY(all[1].startsWith("SN1") && all[2].startsWith("SN2") && all[3].startsWith("SN3"));
    QVERIFY(QRegularExpression("^SN1 .* gone +5 s$").match(all[1]).hasMatch());
    QVERIFY(QRegularExpression("^SN2 .* online +2 s$").match(all[2]).hasMatch());
    QCOMPARE(all[4], QStringLiteral("1 online, 2 gone, 4 rounds, next round in 2 s"));
    const QStringList cut = LiveViewText(tracker, 5000, status, 5).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(cut.size(), 5);
    QCOMPARE(cut[3], QStringLiteral("... and 1 more"));
}

void TestWatch::summaryTellsTheDrops_data()
{
    QTest::addColumn<long long>("drops");
    QTest::addColumn<int>("dropRounds");
    QTest::addColumn<QString>("summaryEnd");
    QTest::addColumn<QString>("statusEnd");
    QTest::newRow("none") << 0LL << 0 << "; 0 datagrams dropped by the kernel"
                          << "next round in 0 s";
    QTest::newRow("some") << 1234LL << 3 << "; 1234 datagrams dropped by the kernel in 3 rounds"
                          << "next round in 0 s, drops in 3 rounds";
    QTest::newRow("no count kept") << -1LL << 0 << "; datagrams dropped by the kernel: unknown"
                                   << "next round in 0 s";
}

void TestWatch::summaryTellsTheDrops()
{
    QFETCH(long long, drops);
    QFETCH(int, dropRounds);
    QFETCH(QString, summaryEnd);
    QFETCH(QString, statusEnd);
    const DeviceTracker tracker(3000);
    WatchStatus status;
    status.drops = drops;
    status.dropRounds = dropRounds;
    const QString summary = WatchSummary(tracker, status, { "lo" });
    QVERIFY2(summary.endsWith("0 back" + summaryEnd), qPrintable(summary));
    const QString live = LiveViewText(tracker, 0, status, 24);
    QVERIFY2(live.endsWith(statusEnd + '\n'), qPrintable(live));
}

void TestWatch::badUsageTouchesNoNetwork_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("--every 0") << QStringList { "--every", "0" };
    QTest::newRow("--every over an hour") << QStringList { "--every", "3601" };
    QTest::newRow("--every not a number") << QStringList { "--every", "x" };
    QTest::newRow("--gone-after 0") << QStringList { "--gone-after", "0" };
    QTest::newRow("csv is no watch format") << QStringList { "--format", "csv" };
    QTest::newRow("unknown interface") << QStringList { "--interface", "nosuch0" };
    QTest::newRow("an argument too many") << QStringList { "now" };
}

void TestWatch::badUsageTouchesNoNetwork()
{
    QFETCH(QStringList, args);
    UdpTestSocket probes(kProbePort, true);
    const CliRun run = runCli(QStringList { "watch" } + args);
    QCOMPARE(run.status, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY(run.err.contains("Try 'devicesearch-cli watch --help'."));
    QVERIFY(probes.takePending().isEmpty());
}

void TestWatch::devicesComeChangeGoAndComeBack()
{
    QString why;
    QVERIFY2(InsidePrivateNetwork(&why), qPrintable(why));
    const UdpTestSocket probes(kProbePort, true);
    const UdpTestSocket commands(kCommandPort, true);
    QProcess watch;
    watch.start(
        CliPath(), { "watch", "--every", "1", "--format", "jsonl", "--interface", DefaultInterface() });
    QList<QJsonObject> events;
    // Devices that appear once watch runs.
    const QByteArray probe = QByteArray::fromHex("82000900000000f0000000");
    int probesSeen = 0;
    QTRY_VERIFY_WITH_TIMEOUT((probesSeen += countFrames(probes, probe)) > 0, 10000);
    DevsimProcess stays;
    DevsimProcess leaves;
    QVERIFY2(stays.start({ "--sn-prefix", "A", "--base-ip", "10.0.0.10" }), qPrintable(stays.error()));
    QVERIFY2(leaves.start({ "--sn-prefix", "B", "--base-ip", "10.0.0.20" }), qPrintable(leaves.error()));
    QTRY_VERIFY_WITH_TIMEOUT(readEvents(watch, &events).size() >= 2, 10000);
    QStringList first = readEvents(watch, &events);
    first.sort();
    QCOMPARE(first, QStringList({ "new A0001", "new B0001" }));

    QByteArray frame = QByteArray::fromHex("820000f001112233440000")
        + WindowNetSetText("A0001", "10.0.0.99", "255.255.255.0", "10.0.0.1").toUtf8();
    frame[2] = char(frame.size());
    QUdpSocket sender;
    QVERIFY(sender.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    sender.setMulticastInterface(QNetworkInterface::interfaceFromName(DefaultInterface()));
    QCOMPARE(sender.writeDatagram(frame, QHostAddress(QString::fromLatin1(kGroupAddress)), kCommandPort),
        qint64(frame.size()));
    QTRY_COMPARE_WITH_TIMEOUT(readEvents(watch, &events).size(), 3, 10000);
    QCOMPARE(events[2].value("ip").toString(), QStringLiteral("10.0.0.99"));
    QCOMPARE(events[2].value("was").toObject(), QJsonObject({ { "ip", "10.0.0.11" } }));

    ::kill(pid_t(leaves.process().processId()), SIGUSR1);
    QTRY_COMPARE_WITH_TIMEOUT(readEvents(watch, &events).size(), 4, 10000);
    ::kill(pid_t(leaves.process().processId()), SIGUSR2);
    QTRY_COMPARE_WITH_TIMEOUT(readEvents(watch, &events).size(), 5, 10000);

    ::kill(pid_t(watch.processId()), SignalReachesTheProgram(SIGTERM) ? SIGTERM : SIGINT);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    QCOMPARE(readEvents(watch, &events).mid(2), QStringList({ "changed A0001", "gone B0001", "back B0001" }));
    const QString summary = QString::fromUtf8(watch.readAllStandardError());
    const QRegularExpressionMatch m
        = QRegularExpression("^(\\d+) rounds in \\d+ s on " + QRegularExpression::escape(DefaultInterface())
            + ": 2 devices, 2 online, 0 gone; 2 new, 1 changed, 1 gone, 1 back"
            + QRegularExpression::escape(noDropsText()) + "\n$")
              .match(summary);
    QVERIFY2(m.hasMatch(), qPrintable(summary));
    // Once a round on the one interface: the announcement query and the discovery request.
    const int rounds = m.captured(1).toInt();
    QCOMPARE(probesSeen + countFrames(probes, probe), rounds);
    QCOMPARE(countFrames(commands, QByteArray::fromHex("82000bf000112233440000")), rounds);
}

void TestWatch::eachSignalEndsIt_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("toFile"); // --output
    QTest::newRow("INT") << int(SIGINT) << false;
    QTest::newRow("TERM") << int(SIGTERM) << false;
    QTest::newRow("HUP") << int(SIGHUP) << false;
    QTest::newRow("INT, the events into a file") << int(SIGINT) << true;
}

// Stopped by any of the three, watch sums up and exits 0.
void TestWatch::eachSignalEndsIt()
{
    QFETCH(int, n);
    QFETCH(bool, toFile);
    if (!SignalReachesTheProgram(n))
        QSKIP("Wine ends a Windows program on SIGTERM and SIGHUP; Windows has Ctrl-C, which is SIGINT here");
    DevsimProcess devsim;
    QVERIFY2(devsim.start(), qPrintable(devsim.error()));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("事件.jsonl"));
    QProcess watch;
    watch.start(CliPath(),
        QStringList { "watch", "--every", "1", "--format", "jsonl" }
            + (toFile ? QStringList { "--output", file } : QStringList()));
    QList<QJsonObject> events;
    const auto heard = [&] {
        if (!toFile)
            return readEvents(watch, &events);
        QFile written(file);
        QList<QByteArray> lines
            = written.open(QIODevice::ReadOnly) ? written.readAll().split('\n') : QList<QByteArray>();
        if (!lines.isEmpty())
            lines.removeLast(); // empty, or a line still being written
        events.clear();
        for (const QByteArray& line : lines)
            events.append(QJsonDocument::fromJson(line).object());
        return eventTexts(events);
    };
    QTRY_COMPARE_WITH_TIMEOUT(heard(), QStringList { "new SN0001" }, 10000);
    ::kill(pid_t(watch.processId()), n);
    QVERIFY(watch.waitForFinished(10000));
    QCOMPARE(watch.readAllStandardOutput(), QByteArray());
    QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
    QCOMPARE(watch.exitCode(), 0);
    const QByteArray summary = watch.readAllStandardError();
    QVERIFY2(summary.endsWith(": 1 devices, 1 online, 0 gone; 1 new, 0 changed, 0 gone, 0 back"
                 + noDropsText().toUtf8() + '\n'),
        summary.constData());
}

// A burst far beyond the receive buffer every round (the kernel drops about two thirds of
// the first here): watch says so, and devices whose answers were dropped are not gone.
void TestWatch::floodIsToldAndGoneWaits()
{
    if (CliPath() != QLatin1String(CLI_PATH))
        QSKIP("Windows keeps no drop count, so watch cannot tell a lost answer from a silent device");
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--burst", "100000" }), qPrintable(devsim.error()));
    QProcess watch;
    watch.start(CliPath(), { "watch", "--every", "1", "--gone-after", "2", "--format", "jsonl" });
    // Six bursts: room for a device to miss two rounds in a row.
    QVERIFY(devsim.waitForCount([](const QJsonObject& line) { return line.contains("sent"); }, 6, 120000));
    ::kill(pid_t(watch.processId()), SIGTERM);
    QVERIFY(watch.waitForFinished(60000));
    QCOMPARE(watch.exitCode(), 0);

    QMap<QString, int> kinds;
    for (const QByteArray& line : watch.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            ++kinds[QJsonDocument::fromJson(line).object().value("event").toString()];
    }
    QVERIFY2(kinds.keys() == QStringList { "new" },
        qPrintable(QStringLiteral("%1 gone, %2 back").arg(kinds.value("gone")).arg(kinds.value("back"))));
    const QString err = QString::fromUtf8(watch.readAllStandardError());
    long long dropped = 0;
    int rounds = 0;
    QRegularExpressionMatchIterator lines
        = QRegularExpression("^devicesearch-cli: round \\d+: (\\d+) datagrams dropped by the kernel$",
            QRegularExpression::MultilineOption)
              .globalMatch(err);
    for (; lines.hasNext(); ++rounds)
        dropped += lines.next().captured(1).toLongLong();
    QVERIFY2(dropped > 0, qPrintable(err));
    QCOMPARE(err.count("see \"Many devices at once\" in the README"), 1);
    const QString summaryEnd
        = QStringLiteral("; %1 new, 0 changed, 0 gone, 0 back; %2 datagrams dropped by the "
                         "kernel in %3 rounds\n")
              .arg(kinds.value("new"))
              .arg(dropped)
              .arg(rounds);
    QVERIFY2(err.endsWith(summaryEnd), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
