// The device simulator, driven over real multicast inside the private namespace.

#include "devsimprocess.h"

#include "deviceframe.h"
#include "service.h"
#include "udptestsocket.h"

#include <QJsonArray>
#include <QSet>
#include <QtTest>

#include <csignal>

namespace {

const QByteArray kProbe(reinterpret_cast<const char*>(SearchProbe), kFrameHeaderSize);
const QByteArray kAnnounceHeader = QByteArray::fromHex("820000000000 00f0000000");
const unsigned char kTestSenderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };

QByteArray deviceFrame(unsigned command, const char* payload = nullptr)
{
    unsigned char buf[kFrameBufferSize];
    const int n = BuildDeviceFrame(buf, command, kTestSenderId, payload);
    return QByteArray(reinterpret_cast<const char*>(buf), qMax(n, 0));
}

QByteArray setNetwork(const char* sn, const char* ip, const char* mask, const char* gw)
{
    const QByteArray json
        = QStringLiteral("{\"user\":\"\",\"pass\":\"\",\"sn\":\"%1\",\"net\":1,\"ip\":\"%2\",\"mask\":\"%3\","
                         "\"gw\":\"%4\",\"mdns\":\"\",\"adns\":\"\",\"MNS\":[]}")
              .arg(sn, ip, mask, gw)
              .toUtf8();
    return deviceFrame(1, json.constData());
}

QString dotted(quint32 a)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xFF)
        .arg((a >> 8) & 0xFF)
        .arg(a & 0xFF);
}

// A socket in the group on one port, as the program's receivers open theirs (port 0: one
// to send from), that keeps what it has received.
class GroupSocket : public UdpTestSocket {
public:
    explicit GroupSocket(unsigned short port)
        : UdpTestSocket(options(port))
    {
    }
    bool ok() const { return bound; }
    bool send(const QByteArray& bytes, unsigned short port) const { return sendToGroup(port, bytes); }

    // Everything received so far; reading is done here, so QTRY_* polls it.
    const QList<QByteArray>& datagrams()
    {
        m_datagrams += takePending();
        return m_datagrams;
    }

private:
    static GroupSocketOptions options(unsigned short port)
    {
        GroupSocketOptions options;
        options.port = port;
        options.join = port != 0;
        options.receiveBuffer = 1 << 20;
        return options;
    }

    QList<QByteArray> m_datagrams;
};

// The JSON body of a reply that passes the program's reply test, or an empty object.
QJsonObject replyBody(const QByteArray& datagram, QByteArray* head = nullptr)
{
    if (datagram.size() > kFrameBufferSize)
        return {};
    QByteArray buf = datagram;
    buf.append('\0');
    const char* h = nullptr;
    const char* body = nullptr;
    if (ReadReply(reinterpret_cast<unsigned char*>(buf.data()), datagram.size(), &h, &body)
        != ReplyOutcome::Accepted)
        return {};
    if (head)
        *head = h;
    return QJsonDocument::fromJson(body).object();
}

bool isAnnouncement(const QByteArray& d)
{
    return CheckAnnounce(reinterpret_cast<const unsigned char*>(d.constData()), d.size())
        == AnnounceOutcome::Accepted;
}

// Waits for the datagrams to stop coming: the last must be followed by a quiet spell.
void settle(GroupSocket& socket)
{
    int seen = -1;
    while (seen != socket.datagrams().size()) {
        seen = socket.datagrams().size();
        QTest::qWait(300);
    }
}

} // namespace

class TestDevsim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void discoveryGetsOneReplyPerDevice_data();
    void discoveryGetsOneReplyPerDevice();
    void probeGetsOneAnnouncementPerDevice_data();
    void probeGetsOneAnnouncementPerDevice();
    void setNetworkChangesTheNextAnswers();
    void receivedFramesAreReported_data();
    void receivedFramesAreReported();
    void garbageSurroundsTheValidReplies();
    void announcesByItselfAndFloods();
    void numberedRepliesOnRequest_data();
    void numberedRepliesOnRequest();
    void endsCleanly_data();
    void endsCleanly();
    void badOptionsExitWithUsage_data();
    void badOptionsExitWithUsage();
    void lanHostAnswersAcrossTheVeth();
};

void TestDevsim::initTestCase()
{
    QString why;
    if (!InsidePrivateNetwork(&why))
        QFAIL(qPrintable(why));
}

void TestDevsim::discoveryGetsOneReplyPerDevice_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<quint32>("base");
    QTest::addColumn<QString>("snPrefix");
    QTest::addColumn<QList<int>>("repliers");
    QTest::addColumn<QList<int>>("withLibver");

    const quint32 defaultBase = 0xC0A80164;
    QTest::newRow("one device by default")
        << QStringList() << defaultBase << "SN" << QList<int> { 1 } << QList<int> { 1 };
    QTest::newRow("no libver for anyone") << QStringList { "--count", "3", "--no-libver" } << defaultBase
                                          << "SN" << QList<int> { 1, 2, 3 } << QList<int>();
    QTest::newRow("no libver for device 2") << QStringList { "--count", "3", "--no-libver=2" } << defaultBase
                                            << "SN" << QList<int> { 1, 2, 3 } << QList<int> { 1, 3 };
    QTest::newRow("announce-only devices stay silent")
        << QStringList { "--count", "4", "--announce-only=1,3" } << defaultBase << "SN" << QList<int> { 2, 4 }
        << QList<int> { 2, 4 };
    QTest::newRow("addresses carry across an octet")
        << QStringList { "--count", "3", "--base-ip", "10.0.0.254", "--sn-prefix", "XY" }
        << quint32(0x0A0000FE) << "XY" << QList<int> { 1, 2, 3 } << QList<int> { 1, 2, 3 };
    QTest::newRow("jittered replies all arrive")
        << QStringList { "--count", "5", "--jitter-ms", "300" } << defaultBase << "SN"
        << QList<int> { 1, 2, 3, 4, 5 } << QList<int> { 1, 2, 3, 4, 5 };
}

void TestDevsim::discoveryGetsOneReplyPerDevice()
{
    QFETCH(QStringList, args);
    QFETCH(quint32, base);
    QFETCH(QString, snPrefix);
    QFETCH(QList<int>, repliers);
    QFETCH(QList<int>, withLibver);

    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim;
    QVERIFY2(devsim.start(args), qPrintable(devsim.error()));

    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    QTRY_VERIFY_WITH_TIMEOUT(replies.datagrams().size() >= repliers.size(), 10000);
    settle(replies);
    QCOMPARE(replies.datagrams().size(), repliers.size());
    QVERIFY(announcements.datagrams().isEmpty());

    QList<int> seen;
    for (const QByteArray& d : replies.datagrams()) {
        QCOMPARE(quint8(d[0]), quint8(0x82));
        QCOMPARE(quint8(d[3]), quint8(0xF0));
        QCOMPARE(quint8(d[4]), quint8(0x00));
        QCOMPARE((quint8(d[1]) << 8) | quint8(d[2]), d.size());
        QByteArray head;
        const QJsonObject body = replyBody(d, &head);
        QCOMPARE(head, QByteArray("ACK"));
        const int k = body.value("name").toString().mid(7).toInt();
        QCOMPARE(body.value("name").toString(), QString::asprintf("Device-%02d", k));
        const quint32 ip = base + quint32(k);
        QCOMPARE(body.value("ip").toString(), dotted(ip));
        QCOMPARE(body.value("sn").toString(), snPrefix + QString::asprintf("%04d", k));
        QCOMPARE(body.value("mode").toString(), QString::asprintf("MODEID%04d", k));
        QCOMPARE(body.value("mask").toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(body.value("gw").toString(), dotted((ip & 0xFFFFFF00u) | 1u));
        QCOMPARE(body.contains("libver"), withLibver.contains(k));
        seen << k;
    }
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, repliers);
    QCOMPARE(devsim.stop(), 0);
}

void TestDevsim::probeGetsOneAnnouncementPerDevice_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("probe");
    QTest::addColumn<unsigned short>("port");
    QTest::addColumn<int>("expected");

    QByteArray wrongLength = kProbe;
    wrongLength[2] = 0x0B;
    QTest::newRow("announce-only devices announce too")
        << QStringList { "--count", "3", "--announce-only=2" } << kProbe << kProbePort << 3;
    QTest::newRow("jittered announcements all arrive")
        << QStringList { "--count", "4", "--jitter-ms", "300" } << kProbe << kProbePort << 4;
    QTest::newRow("a probe off by one byte gets nothing")
        << QStringList { "--count", "2" } << wrongLength << kProbePort << 0;
    QTest::newRow("a probe with a payload gets nothing")
        << QStringList { "--count", "2" } << kProbe + "x" << kProbePort << 0;
    QTest::newRow("a discovery request on the probe port gets nothing")
        << QStringList { "--count", "2" } << deviceFrame(0) << kProbePort << 0;
    QTest::newRow("the probe on the command port gets nothing")
        << QStringList { "--count", "2" } << kProbe << kCommandPort << 0;
}

void TestDevsim::probeGetsOneAnnouncementPerDevice()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, probe);
    QFETCH(unsigned short, port);
    QFETCH(int, expected);

    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim;
    QVERIFY2(devsim.start(args), qPrintable(devsim.error()));

    QVERIFY(sender.send(probe, port));
    QVERIFY(devsim.waitForCount([](const QJsonObject&) { return true; }, 1));
    QTRY_VERIFY_WITH_TIMEOUT(announcements.datagrams().size() >= expected, 10000);
    settle(announcements);
    QCOMPARE(announcements.datagrams().size(), expected);
    QVERIFY(replies.datagrams().isEmpty());

    QSet<QByteArray> texts;
    for (const QByteArray& d : announcements.datagrams()) {
        QCOMPARE(d.left(kFrameHeaderSize), kAnnounceHeader);
        QVERIFY(isAnnouncement(d));
        texts.insert(d.mid(kFrameHeaderSize));
    }
    QSet<QByteArray> wanted;
    for (int k = 1; k <= expected; ++k)
        wanted.insert(QString::asprintf("192.168.1.%d@SN%04d@ID%04d", 100 + k, k, k).toUtf8());
    QCOMPARE(texts, wanted);
    QCOMPARE(devsim.stop(), 0);
}

void TestDevsim::setNetworkChangesTheNextAnswers()
{
    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));

    QVERIFY(sender.send(setNetwork("SN0002", "10.1.2.3", "255.255.0.0", "10.1.0.1"), kCommandPort));
    QVERIFY(sender.send(setNetwork("SN9999", "10.9.9.9", "255.0.0.0", "10.0.0.1"), kCommandPort));
    QVERIFY(sender.send(deviceFrame(1, "{\"sn\":\"SN0003\",\"ip\":\"10.7.7.7\""), kCommandPort));
    QVERIFY(devsim.waitForCount([](const QJsonObject& l) { return l.value("cmd").toInt() == 1; }, 3));
    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    QVERIFY(sender.send(kProbe, kProbePort));
    QTRY_VERIFY_WITH_TIMEOUT(replies.datagrams().size() >= 3 && announcements.datagrams().size() >= 3, 10000);
    settle(replies);
    QCOMPARE(replies.datagrams().size(), 3);
    QCOMPARE(announcements.datagrams().size(), 3);

    QHash<QString, QJsonObject> bySn;
    for (const QByteArray& d : replies.datagrams()) {
        const QJsonObject body = replyBody(d);
        bySn.insert(body.value("sn").toString(), body);
    }
    QCOMPARE(bySn.size(), 3);
    QCOMPARE(bySn["SN0002"].value("ip").toString(), QStringLiteral("10.1.2.3"));
    QCOMPARE(bySn["SN0002"].value("mask").toString(), QStringLiteral("255.255.0.0"));
    QCOMPARE(bySn["SN0002"].value("gw").toString(), QStringLiteral("10.1.0.1"));
    QCOMPARE(bySn["SN0001"].value("ip").toString(), QStringLiteral("192.168.1.101"));
    QCOMPARE(bySn["SN0003"].value("ip").toString(), QStringLiteral("192.168.1.103"));
    QCOMPARE(bySn["SN0003"].value("mask").toString(), QStringLiteral("255.255.255.0"));

    QSet<QByteArray> texts;
    for (const QByteArray& d : announcements.datagrams())
        texts.insert(d.mid(kFrameHeaderSize));
    QVERIFY2(texts.contains("10.1.2.3@SN0002@ID0002"), texts.values().join(' ').constData());
    QCOMPARE(devsim.stop(), 0);
}

void TestDevsim::receivedFramesAreReported_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<unsigned short>("port");
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<bool>("probe");

    const QByteArray netSet = setNetwork("SN0001", "10.0.0.9", "255.0.0.0", "10.0.0.1");
    QTest::newRow("discovery request") << deviceFrame(0) << kCommandPort << QJsonObject() << false;
    QTest::newRow("set-network command carries its JSON")
        << netSet << kCommandPort << QJsonDocument::fromJson(netSet.mid(kFrameHeaderSize)).object() << false;
    QTest::newRow("a payload that is not JSON")
        << deviceFrame(2, "hello") << kCommandPort << QJsonObject() << false;
    QTest::newRow("JSON followed by other text")
        << deviceFrame(1, "{\"sn\":\"A\"} tail") << kCommandPort << QJsonObject() << false;
    QTest::newRow("a few bytes of noise")
        << QByteArray::fromHex("01020304050607") << kCommandPort << QJsonObject() << false;
    QTest::newRow("search probe") << kProbe << kProbePort << QJsonObject() << true;
    QTest::newRow("search probe with a payload") << kProbe + "x" << kProbePort << QJsonObject() << false;
}

void TestDevsim::receivedFramesAreReported()
{
    QFETCH(QByteArray, frame);
    QFETCH(unsigned short, port);
    QFETCH(QJsonObject, json);
    QFETCH(bool, probe);

    GroupSocket sender(0);
    DevsimProcess devsim;
    QVERIFY2(devsim.start(), qPrintable(devsim.error()));
    QVERIFY(sender.send(frame, port));
    QVERIFY(devsim.waitForCount([](const QJsonObject&) { return true; }, 1));
    QCOMPARE(devsim.stop(), 0);

    QCOMPARE(devsim.received().size(), 1);
    const QJsonObject line = devsim.received().first();
    QCOMPARE(line.value("port").toInt(), int(port));
    QCOMPARE(line.value("len").toInt(), frame.size());
    QCOMPARE(line.value("hex").toString().toLatin1(), frame.toHex());
    QCOMPARE(line.value("cmd").toInt(), int(quint8(frame[4])));
    QCOMPARE(line.value("json").toObject(), json);
    QCOMPARE(line.contains("json"), !json.isEmpty());
    QCOMPARE(line.value("probe").toBool(), probe);
}

void TestDevsim::garbageSurroundsTheValidReplies()
{
    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2", "--garbage" }), qPrintable(devsim.error()));

    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    QTRY_VERIFY_WITH_TIMEOUT(replies.datagrams().size() > 10 && announcements.datagrams().size() > 10, 10000);
    settle(replies);

    int valid = 0;
    bool tooLong = false, wrongStart = false, tooShort = false;
    for (const QByteArray& d : replies.datagrams()) {
        const QJsonObject body = replyBody(d);
        valid += body.contains("sn") && body.contains("name");
        tooLong |= d.size() > kFrameBufferSize;
        wrongStart |= !d.isEmpty() && quint8(d[0]) != 0x82;
        tooShort |= d.size() < kMinReplySize;
    }
    QCOMPARE(valid, 2);
    QVERIFY(tooLong && wrongStart && tooShort);

    // Only a discovery request was sent: whatever passes as an announcement is marked junk.
    int junk = 0;
    for (const QByteArray& d : announcements.datagrams()) {
        if (isAnnouncement(d)) {
            QVERIFY2(d.mid(kFrameHeaderSize).contains("@JUNK"), d.constData());
            ++junk;
        }
    }
    QCOMPARE(junk, 1); // the 128-byte one; 129 and 200 bytes do not fit a slot
    QCOMPARE(devsim.stop(), 0);
}

void TestDevsim::announcesByItselfAndFloods()
{
    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    QVERIFY(replies.ok() && announcements.ok());
    {
        DevsimProcess devsim;
        QVERIFY2(devsim.start({ "--count", "2", "--announce-every", "0.1" }), qPrintable(devsim.error()));
        QTRY_VERIFY_WITH_TIMEOUT(announcements.datagrams().size() >= 6, 10000);
        QCOMPARE(devsim.stop(), 0);
        QVERIFY(replies.datagrams().isEmpty());
        QVERIFY(devsim.received().isEmpty());
        QVERIFY(
            std::all_of(announcements.datagrams().begin(), announcements.datagrams().end(), isAnnouncement));
    }
    {
        const int before = announcements.datagrams().size();
        DevsimProcess devsim;
        QVERIFY2(devsim.start({ "--count", "3", "--flood", "1000" }), qPrintable(devsim.error()));
        QTRY_VERIFY_WITH_TIMEOUT(
            replies.datagrams().size() >= 200 && announcements.datagrams().size() >= before + 200, 10000);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(devsim.stop(), 0);
        QVERIFY2(timer.elapsed() < 2000, "slow to leave under load");
        QVERIFY(!replyBody(replies.datagrams().last()).isEmpty());
    }
}

void TestDevsim::numberedRepliesOnRequest_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("expected");
    QTest::addColumn<double>("minSeconds"); // from the first send to the last

    // More devices than --count allows, each reply distinct.
    QTest::newRow("a burst, back to back") << QStringList { "--burst", "1200" } << 1200 << 0.0;
    QTest::newRow("paced over a quarter second")
        << QStringList { "--paced", "2000", "--paced-for", "0.25" } << 500 << 0.2;
}

void TestDevsim::numberedRepliesOnRequest()
{
    QFETCH(QStringList, args);
    QFETCH(int, expected);
    QFETCH(double, minSeconds);

    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim;
    QVERIFY2(devsim.start(args), qPrintable(devsim.error()));
    QTest::qWait(200);
    QVERIFY2(replies.datagrams().isEmpty(), "sent before it was asked");

    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    QVERIFY(devsim.waitForCount([](const QJsonObject& l) { return l.contains("sent"); }, 1));
    const QJsonObject report = *std::find_if(devsim.received().begin(), devsim.received().end(),
        [](const QJsonObject& l) { return l.contains("sent"); });
    QCOMPARE(report.value("sent").toInt(), expected);
    const double seconds = (report.value("last").toDouble() - report.value("first").toDouble()) / 1e9;
    QVERIFY2(seconds >= minSeconds, qPrintable(QString::number(seconds)));

    // The socket holds a few hundred of these, so a burst is read as it comes in.
    QSet<QString> serials;
    QElapsedTimer timer;
    timer.start();
    while (serials.size() < expected && timer.elapsed() < 10000) {
        for (const QByteArray& d : replies.datagrams())
            serials.insert(replyBody(d).value("sn").toString());
        QTest::qWait(20);
    }
    const int received = replies.datagrams().size();
    QVERIFY2(received <= expected, qPrintable(QString::number(received)));
    QVERIFY(announcements.datagrams().isEmpty());
    // A burst may outrun the socket; whatever arrived is numbered from 1 without repeats.
    QCOMPARE(serials.size(), received);
    if (minSeconds > 0)
        QCOMPARE(received, expected);
    QVERIFY(serials.contains(QStringLiteral("SN0001")));
    if (received == expected)
        QVERIFY(serials.contains(QString::asprintf("SN%04d", expected)));
    qInfo("%d of %d replies read", received, expected);
    for (const QString& sn : serials) {
        const int k = sn.mid(2).toInt();
        QVERIFY2(k >= 1 && k <= expected && sn == QString::asprintf("SN%04d", k), qPrintable(sn));
    }
    QCOMPARE(devsim.stop(), 0);
}

void TestDevsim::endsCleanly_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("signal");

    QTest::newRow("SIGTERM") << QStringList() << int(SIGTERM);
    QTest::newRow("SIGINT") << QStringList() << int(SIGINT);
    QTest::newRow("SIGTERM while jittered answers wait") << QStringList { "--count", "50", "--jitter-ms",
        "60000", "--announce-every", "0.05" } << int(SIGTERM);
    QTest::newRow("after its duration") << QStringList { "--duration", "0.3" } << 0;
}

void TestDevsim::endsCleanly()
{
    QFETCH(QStringList, args);
    QFETCH(int, signal);

    GroupSocket sender(0);
    DevsimProcess devsim;
    QVERIFY2(devsim.start(args), qPrintable(devsim.error()));
    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    if (signal)
        ::kill(static_cast<pid_t>(devsim.process().processId()), signal);
    QVERIFY(devsim.process().waitForFinished(5000));
    QCOMPARE(devsim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(devsim.process().exitCode(), 0);
}

void TestDevsim::badOptionsExitWithUsage_data()
{
    QTest::addColumn<QStringList>("args");

    QTest::newRow("unknown option") << QStringList { "--bogus" };
    QTest::newRow("stray argument") << QStringList { "3" };
    QTest::newRow("missing value") << QStringList { "--count" };
    QTest::newRow("zero devices") << QStringList { "--count", "0" };
    QTest::newRow("count not a number") << QStringList { "--count", "3x" };
    QTest::newRow("bad base address") << QStringList { "--base-ip", "192.168.1.300" };
    QTest::newRow("addresses run out") << QStringList { "--base-ip", "255.255.255.254", "--count", "2" };
    QTest::newRow("list names a device that is not there") << QStringList { "--count", "2", "--no-libver=3" };
    QTest::newRow("list with a zero") << QStringList { "--announce-only=0" };
    QTest::newRow("empty list entry") << QStringList { "--count", "3", "--announce-only=1,,2" };
    QTest::newRow("negative jitter") << QStringList { "--jitter-ms", "-1" };
    QTest::newRow("flag given a value") << QStringList { "--garbage=1" };
    QTest::newRow("zero flood rate") << QStringList { "--flood", "0" };
    QTest::newRow("duration not a number") << QStringList { "--duration", "soon" };
    QTest::newRow("empty burst") << QStringList { "--burst", "0" };
    QTest::newRow("paced without its length") << QStringList { "--paced", "1000" };
    QTest::newRow("a paced run's length alone") << QStringList { "--paced-for", "2" };
    QTest::newRow("burst and paced together")
        << QStringList { "--burst", "5", "--paced", "10", "--paced-for", "1" };
    QTest::newRow("a paced run over the limit") << QStringList { "--paced", "100000", "--paced-for", "3" };
}

void TestDevsim::badOptionsExitWithUsage()
{
    QFETCH(QStringList, args);

    QProcess devsim;
    devsim.start(QStringLiteral(DEVSIM_PATH), args);
    QVERIFY(devsim.waitForFinished(10000));
    QCOMPARE(devsim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(devsim.exitCode(), 2);
    QVERIFY(devsim.readAllStandardOutput().isEmpty());
    QVERIFY(devsim.readAllStandardError().contains("usage: devsim"));
}

// Registered a second time as tst_devsim_lan, under `isolated --lan`, for this slot alone.
void TestDevsim::lanHostAnswersAcrossTheVeth()
{
    if (qEnvironmentVariableIsEmpty("LAN_NETNS"))
        QSKIP("needs the LAN host; runs as tst_devsim_lan");

    GroupSocket replies(kReplyPort);
    GroupSocket announcements(kAnnouncePort);
    GroupSocket sender(0);
    QVERIFY(replies.ok() && announcements.ok());
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "2" }), qPrintable(devsim.error()));

    QVERIFY(sender.send(deviceFrame(0), kCommandPort));
    QVERIFY(sender.send(kProbe, kProbePort));
    QTRY_VERIFY_WITH_TIMEOUT(replies.datagrams().size() >= 2 && announcements.datagrams().size() >= 2, 10000);
    QVERIFY(devsim.waitForCount(
        [](const QJsonObject& l) { return l.value("from").toString() == "10.77.0.1"; }, 2));
    QCOMPARE(replyBody(replies.datagrams().first()).value("name").toString(), QStringLiteral("Device-01"));
    QCOMPARE(devsim.stop(), 0);
}

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
