// A minute of device traffic and random datagrams against the program's pieces, on the
// sanitizer build: afterwards a device must still be listed promptly, nothing may have
// been reported, and resident memory must not have grown beyond noise.
#include "deviceframe.h"
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "service.h"
#include "stdoutcapture.h"
#include "udptestsocket.h"

#include <QtTest>
#include <QtWidgets>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace {
constexpr int kSoakMs = 60000;
constexpr int kWarmUpMs = 5000;
// Searches empty the table, so what stays in memory is the program's, not the rows'.
constexpr int kSearchEveryMs = 3000;
// Both ports together; the kernel drops what the program cannot keep up with.
constexpr int kStreamRate = 2000;
constexpr int kMaxDatagram = 2000;
constexpr long kMaxGrowthKb = 5 * 1024;
const QString kDevsimPrefix = QStringLiteral("SOAK");

StdoutCapture* g_capture = nullptr;

using Rng = std::mt19937;

int pick(Rng& rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

bool chance(Rng& rng, int percent)
{
    return pick(rng, 1, 100) <= percent;
}

QByteArray randomBytes(Rng& rng, int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; i += 4) {
        const quint32 word = rng();
        memcpy(bytes.data() + i, &word, size_t(qMin(4, n - i)));
    }
    return bytes;
}

// Mostly the characters JSON and the announcement text are made of, so that the parsers
// get past their first byte, with raw bytes mixed in.
QByteArray textish(Rng& rng, int n)
{
    static const char alphabet[] = "{}[]\":,-@.\\/ 0123456789abcdefEnrtlsuACKipmody";
    QByteArray text(n, Qt::Uninitialized);
    for (char& c : text)
        c = chance(rng, 10) ? char(pick(rng, 0, 255)) : alphabet[pick(rng, 0, int(sizeof(alphabet)) - 2)];
    return text;
}

QByteArray jsonValue(Rng& rng, int depth)
{
    switch (pick(rng, 0, depth > 3 ? 4 : 6)) {
    case 0:
        return '"' + textish(rng, pick(rng, 0, 80)) + '"';
    case 1:
        return QByteArray::number(pick(rng, -100000, 100000)) + (chance(rng, 30) ? "e308" : "");
    case 2:
        return chance(rng, 50) ? "null" : (chance(rng, 50) ? "true" : "false");
    case 3:
        return '"' + QByteArray(pick(rng, 0, 600), 'x') + '"';
    case 4:
        return "\"\\u00e9\\u4e2d\\ud83d\\ude00\\n\\\"\\\\\\u0000x\"";
    case 5: {
        QByteArrayList items;
        for (int i = pick(rng, 0, 4); i > 0; --i)
            items << jsonValue(rng, depth + 1);
        return '[' + items.join(',') + ']';
    }
    default: {
        QByteArrayList members;
        for (int i = pick(rng, 0, 4); i > 0; --i)
            members << '"' + textish(rng, pick(rng, 0, 8)) + "\":" + jsonValue(rng, depth + 1);
        return '{' + members.join(',') + '}';
    }
    }
}

// An object with some of the keys a reply carries, each with a value of any type.
QByteArray deviceObject(Rng& rng)
{
    static const char* const keys[] = { "name", "ip", "sn", "mode", "libver", "mask", "gw", "other", "" };
    QByteArrayList members;
    for (const char* key : keys) {
        if (chance(rng, 60))
            members << '"' + QByteArray(key) + "\":"
                    + (chance(rng, 70) ? '"' + textish(rng, pick(rng, 0, 40)) + '"' : jsonValue(rng, 1));
    }
    return '{' + members.join(',') + '}';
}

// A few bytes changed, or the end cut off, or as it was.
QByteArray mutate(Rng& rng, QByteArray bytes)
{
    if (bytes.isEmpty())
        return bytes;
    switch (pick(rng, 0, 2)) {
    case 0:
        for (int i = pick(rng, 1, 3); i > 0; --i)
            bytes[pick(rng, 0, bytes.size() - 1)] = char(pick(rng, 0, 255));
        return bytes;
    case 1:
        return bytes.left(pick(rng, 0, bytes.size()));
    default:
        return bytes;
    }
}

// A DeviceFrame header that passes the reply test most of the time, then any payload.
QByteArray replyLike(Rng& rng)
{
    QByteArray payload;
    switch (pick(rng, 0, 5)) {
    case 0:
        payload = randomBytes(rng, pick(rng, 0, kMaxDatagram - kFrameHeaderSize));
        break;
    case 1:
        payload = "ACK-" + textish(rng, pick(rng, 0, 1500));
        break;
    default: {
        static const char* const prefixes[] = { "ACK-", "ACK-", "ACK-", "", "-", "ACK", "X-Y-" };
        payload = prefixes[pick(rng, 0, 6)] + mutate(rng, deviceObject(rng));
        break;
    }
    }
    // Now and then right at the frame buffer's edge.
    if (chance(rng, 5))
        payload = payload.leftJustified(kFrameBufferSize - kFrameHeaderSize + pick(rng, -2, 2), ' ', true);

    QByteArray frame = randomBytes(rng, kFrameHeaderSize);
    const int length = kFrameHeaderSize + payload.size();
    frame[0] = char(0x82);
    frame[1] = chance(rng, 80) ? char(length >> 8) : char(pick(rng, 0, 255));
    frame[2] = chance(rng, 80) ? char(length & 0xFF) : char(pick(rng, 0, 255));
    frame[3] = char(0xF0);
    frame[4] = chance(rng, 90) ? 0 : char(pick(rng, 0, 255));
    return frame + payload;
}

// An AnnounceFrame header that passes the announcement test most of the time, then text
// of any length, often close to the slot size.
QByteArray announceLike(Rng& rng)
{
    int length = 0;
    switch (pick(rng, 0, 3)) {
    case 0:
    case 1:
        length = pick(rng, 0, 60);
        break;
    case 2:
        length = kAnnounceSlotSize - kFrameHeaderSize + pick(rng, -8, 8);
        break;
    default:
        length = pick(rng, 0, kMaxDatagram - kFrameHeaderSize);
        break;
    }
    QByteArray text;
    while (text.size() < length) {
        switch (pick(rng, 0, 3)) {
        case 0:
            text += QByteArray::number(pick(rng, 0, 300)) + '.' + QByteArray::number(pick(rng, 0, 300))
                + ".1.2";
            break;
        case 1:
            text += randomBytes(rng, pick(rng, 0, 20));
            break;
        default:
            text += textish(rng, pick(rng, 0, 20));
            break;
        }
        text += '@';
    }
    text.truncate(length);

    QByteArray frame = randomBytes(rng, kFrameHeaderSize);
    frame[0] = char(0x82);
    frame[7] = char(0xF0);
    frame[8] = chance(rng, 90) ? 0 : char(pick(rng, 0, 255));
    return frame + text;
}

QByteArray randomDatagram(Rng& rng, unsigned short* port)
{
    const int kind = pick(rng, 1, 100);
    if (kind <= 20) {
        *port = chance(rng, 50) ? kReplyPort : kAnnouncePort;
        return randomBytes(rng, pick(rng, 0, kMaxDatagram));
    }
    if (kind <= 40) {
        *port = chance(rng, 50) ? kReplyPort : kAnnouncePort;
        QByteArray bytes = randomBytes(rng, pick(rng, 1, kMaxDatagram));
        bytes[0] = char(0x82);
        return bytes;
    }
    if (kind <= 85) {
        *port = chance(rng, 85) ? kReplyPort : kAnnouncePort;
        return replyLike(rng);
    }
    *port = chance(rng, 85) ? kAnnouncePort : kReplyPort;
    return announceLike(rng);
}

// Sends random datagrams to both of the program's ports from its own thread, at a bounded
// rate, and ends by itself after the given time even if nobody stops it.
class RandomStream {
public:
    explicit RandomStream(quint32 seed)
        : m_seed(seed)
    {
    }
    ~RandomStream() { stop(); }

    void start(int durationMs)
    {
        m_thread = std::thread([this, durationMs] { run(durationMs); });
    }
    void stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }
    long long sent() const { return m_sent.load(); }

private:
    void run(int durationMs)
    {
        using Clock = std::chrono::steady_clock;
        Rng rng(m_seed);
        UdpTestSocket socket;
        const auto start = Clock::now();
        long long attempted = 0;
        while (!m_stop.load()) {
            const auto elapsedMs
                = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (elapsedMs >= durationMs)
                break;
            const long long due = elapsedMs * kStreamRate / 1000;
            // Bounded per turn: after a stall the stream catches up gradually, not in a burst.
            for (int i = 0; attempted < due && i < 100; ++i, ++attempted) {
                unsigned short port = 0;
                const QByteArray datagram = randomDatagram(rng, &port);
                if (socket.sendToGroup(port, datagram))
                    m_sent.fetch_add(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    const quint32 m_seed;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<long long> m_sent { 0 };
};

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int rowWithSerial(const DeviceSearchFixture& fixture, const QString& sn)
{
    for (int row = 0; row < fixture.table->rowCount(); ++row) {
        if (fixture.cell(row, 4) == sn)
            return row;
    }
    return -1;
}
}

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void survivesAMinuteOfGarbage();
    void stillListsDevicesAfterwards_data();
    void stillListsDevicesAfterwards();
    void residentMemoryStaysBounded();

private:
    // The devsim devices currently in the table; read before each search empties it.
    void countDevsimRows();

    // One per process, as in the program: the command channel starts once.
    DeviceSearchFixture* fixture = nullptr;
    long long rowsSeen = 0;
    int devsimRows = 0;
    long warmUpKb = -1;
    long peakKb = -1;
};

void TestSoak::initTestCase()
{
    QString why;
    QVERIFY2(InsidePrivateNetwork(&why), qPrintable(why));
    fixture = new DeviceSearchFixture;
    connect(fixture->table->model(), &QAbstractItemModel::rowsInserted,
        [this](const QModelIndex&, int first, int last) { rowsSeen += last - first + 1; });
}

void TestSoak::cleanupTestCase()
{
    delete fixture;
    fixture = nullptr;
    // The program's own line for each datagram it refused, as a sign of how deep they went.
    const QByteArray printed = g_capture->takeNew();
    qInfo("diagnostics: %d \"There is no data!\", %d \"CheckRetuenDate is error!\", %d \"Buff is error!\", "
          "%d \"Recvfrom failed\"",
        printed.count("There is no data!"), printed.count("CheckRetuenDate is error!"),
        printed.count("Buff is error!"), printed.count("Recvfrom failed"));
}

void TestSoak::countDevsimRows()
{
    for (int row = 0; row < fixture->table->rowCount(); ++row) {
        if (fixture->cell(row, 4).startsWith(kDevsimPrefix))
            ++devsimRows;
    }
}

void TestSoak::survivesAMinuteOfGarbage()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "8", "--sn-prefix", kDevsimPrefix, "--garbage", "--flood", "20",
                 "--announce-every", "1" }),
        qPrintable(devsim.error()));

    bool seeded = false;
    quint32 seed = quint32(qEnvironmentVariable("SOAK_SEED").toULong(&seeded));
    if (!seeded)
        seed = QRandomGenerator::global()->generate();
    qInfo("random stream seed %u (SOAK_SEED=%u replays it)", seed, seed);
    RandomStream stream(seed);

    QElapsedTimer clock;
    clock.start();
    stream.start(kSoakMs);
    int searches = 0;
    qint64 lastSearch = 0;
    while (clock.elapsed() < kSoakMs) {
        QTest::qWait(100);
        const bool warmUp = warmUpKb < 0;
        if (warmUp ? clock.elapsed() < kWarmUpMs : clock.elapsed() - lastSearch < kSearchEveryMs)
            continue;
        countDevsimRows();
        fixture->search();
        ++searches;
        lastSearch = clock.elapsed();
        const long kb = residentKb();
        if (warmUp)
            warmUpKb = kb;
        peakKb = qMax(peakKb, kb);
    }
    stream.stop();
    const int devsimStatus = devsim.stop();
    countDevsimRows();

    // The last queued datagrams drain, then the table stays as it is.
    QElapsedTimer quiet;
    quiet.start();
    int rows = -1;
    while (rows != fixture->table->rowCount() && quiet.elapsed() < 30000) {
        rows = fixture->table->rowCount();
        QTest::qWait(1000);
    }

    qInfo("%lld datagrams sent in %lld ms, %d searches, %lld rows seen (%d of devsim's devices), "
          "settled after %lld ms",
        stream.sent(), clock.elapsed(), searches, rowsSeen, devsimRows, quiet.elapsed());
    QCOMPARE(devsimStatus, 0);
    QVERIFY2(
        rows == fixture->table->rowCount(), "rows were still being added 30 s after the traffic stopped");
    QVERIFY(fixture->listener.isRunning());
    QVERIFY(stream.sent() > 0);
    QVERIFY2(devsimRows > 0, "no device of devsim was listed during the soak");
}

void TestSoak::stillListsDevicesAfterwards_data()
{
    QTest::addColumn<unsigned short>("port");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("sn");

    const QByteArray payload = "ACK-{\"name\":\"After\",\"ip\":\"10.9.8.7\",\"sn\":\"AFTER0001\","
                               "\"mode\":\"MODEID0001\",\"libver\":\"1.0\"}";
    QByteArray reply = QByteArray::fromHex("820000f000d05e00000001") + payload;
    reply[1] = char(reply.size() >> 8);
    reply[2] = char(reply.size() & 0xFF);
    QTest::newRow("reply on 8839") << kReplyPort << reply << "AFTER0001";
    QTest::newRow("announcement on 7839")
        << kAnnouncePort << QByteArray::fromHex("82000000000000f0000000") + "10.9.8.6@AFTER0002@ID0002"
        << "AFTER0002";
}

void TestSoak::stillListsDevicesAfterwards()
{
    QFETCH(unsigned short, port);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, sn);

    fixture->search();
    UdpTestSocket device;
    QElapsedTimer latency;
    latency.start();
    QVERIFY(device.sendToGroup(port, datagram));
    // Meant to take well under a second; the bound only catches a program that stopped.
    const bool listed = QTest::qWaitFor([&] { return rowWithSerial(*fixture, sn) >= 0; }, 10000);
    qInfo("listed after %lld ms", latency.elapsed());
    QVERIFY2(listed, "not listed within 10 s");
}

void TestSoak::residentMemoryStaysBounded()
{
    QVERIFY2(warmUpKb > 0, "no reading at the warm-up point");
    fixture->search();
    QTest::qWait(500);
    QCOMPARE(fixture->table->rowCount(), 0);
    const long endKb = residentKb();
    qInfo("resident memory: %ld kB after warm-up, %ld kB peak at a search, %ld kB at the end (%+ld kB)",
        warmUpKb, peakKb, endKb, endKb - warmUpKb);
    QVERIFY2(endKb - warmUpKb < kMaxGrowthKb, "resident memory grew by 5 MB or more");
}

// AddressSanitizer keeps freed memory in a quarantine of 256 MB to catch late uses, which
// would show here as growth; a small one still catches the uses that follow a free closely.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=1:thread_local_quarantine_size_kb=256";
}

int main(int argc, char** argv)
{
    // The program prints a line for every refused datagram: keep that out of the log.
    return StdoutCapture::exec<TestSoak, QApplication>(argc, argv, &g_capture);
}

#include "tst_soak.moc"
