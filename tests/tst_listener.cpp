// The announcement listener on a real socket inside the private network.
#include "deviceframe.h"
#include "devicereceiver.h"
#include "service.h"
#include "stdoutcapture.h"
#include "threadgetdevice.h"
#include "udptestsocket.h"

#include <QtTest>

namespace {
StdoutCapture* g_capture = nullptr;

QByteArray announcement(const QByteArray& text)
{
    return QByteArray::fromHex("82000000000000f0000000") + text;
}

constexpr int kSlotStride = kAnnounceSlotSize + 1;

// Datagrams that UDP sockets of this private network have read so far: the kernel counts a
// datagram when a program takes it, not when it arrives.
long long udpDatagramsRead()
{
    QFile snmp("/proc/net/snmp");
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> names;
    for (const QByteArray& line : snmp.readAll().split('\n')) {
        if (!line.startsWith("Udp: "))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (names.isEmpty())
            names = fields;
        else if (names.indexOf("InDatagrams") > 0 && names.indexOf("InDatagrams") < fields.size())
            return fields.at(names.indexOf("InDatagrams")).toLongLong();
    }
    return -1;
}
}

class TestListener : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void printsOwnAddressAtStart();
    void outcomes_data();
    void outcomes();
    void rejectedDatagramLeavesSlotToNextAccepted();
    void ringWrapsAfterTenAccepted();
    void stopsAtOnceWhenIdle();
    void stopsWhileBlockedInEmission();

private:
    // Sends the datagrams, then a marker, and waits until the marker has arrived.
    void sendAndSettle(const QList<QByteArray>& datagrams);

    ThreadGetDevice* listener = nullptr;
    DeviceReceiver receiver;
    QByteArray startOutput;
};

// Before init() binds the port for every other case. Where the port is held, the listener
// ends by itself: an unbound socket fails every wait at once on Winsock and would spin.
void TestListener::initTestCase()
{
    UdpTestSocket holder(kAnnouncePort, true, false);
    QVERIFY(holder.bound);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^sendto is error, errno= \\d+$"));
    ThreadGetDevice failing;
    failing.start();
    QTRY_VERIFY_WITH_TIMEOUT(failing.isFinished(), 10000);
    failing.requestStop();
    QVERIFY(failing.wait(5000));
}

void TestListener::init()
{
    receiver.calls.clear();
    listener = new ThreadGetDevice;
    connect(listener, SIGNAL(sig_getdevice(char*, unsigned char, unsigned int)), &receiver,
        SLOT(take(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    g_capture->takeNew();
    listener->start();
    QTRY_VERIFY_WITH_TIMEOUT(PortHeldHere(kAnnouncePort), 10000);
    // It joins the group just after it binds: until then an announcement is lost, so ask
    // until one is heard, then let any still on the way arrive.
    UdpTestSocket device;
    QTRY_VERIFY_WITH_TIMEOUT(device.sendToGroup(kAnnouncePort, announcement("joined"))
            && !receiver.calls.isEmpty() && receiver.calls.last().text == "joined",
        10000);
    sendAndSettle({});
    receiver.calls.clear();
    startOutput = g_capture->takeNew();
}

void TestListener::cleanup()
{
    listener->requestStop();
    while (!listener->wait(10))
        QCoreApplication::processEvents();
    delete listener;
}

void TestListener::sendAndSettle(const QList<QByteArray>& datagrams)
{
    UdpTestSocket device;
    for (const QByteArray& datagram : datagrams)
        QVERIFY(device.sendToGroup(kAnnouncePort, datagram));
    QVERIFY(device.sendToGroup(kAnnouncePort, announcement("marker")));
    QTRY_VERIFY_WITH_TIMEOUT(!receiver.calls.isEmpty() && receiver.calls.last().text == "marker", 10000);
}

void TestListener::printsOwnAddressAtStart()
{
#ifdef _WIN32
    // Wine answers the host name with the LAN adapter's address, as Windows does.
    QCOMPARE(startOutput, QByteArray("ip = 10.77.0.1\n"));
#else
    // The private network maps the host name to 127.0.1.1, as Debian does.
    QCOMPARE(startOutput, QByteArray("ip = 127.0.1.1\n"));
#endif
}

void TestListener::outcomes_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("printed");
    const QByteArray rejectMessages("Buff is error!\nCheckRetuenDate is error!\n");
    QTest::newRow("bare header") << announcement("") << true << QByteArray();
    QTest::newRow("text") << announcement("1.2.3.4@SN@ID") << true << QByteArray();
    QTest::newRow("fills the slot") << announcement(QByteArray(kAnnounceSlotSize - 11, 'f')) << true
                                    << QByteArray();
    QTest::newRow("one byte over the slot")
        << announcement(QByteArray(kAnnounceSlotSize - 10, 'g')) << false << QByteArray();
    QTest::newRow("200 bytes") << announcement(QByteArray(189, 'h')) << false << QByteArray();
    QTest::newRow("discovery request")
        << QByteArray::fromHex("82000bf000112233440000") << false << rejectMessages;
    QTest::newRow("10 bytes") << QByteArray::fromHex("82000000000000f00000") << false << QByteArray();
    QTest::newRow("not 0x82") << QByteArray::fromHex("83000000000000f0000000") << false << QByteArray();
}

void TestListener::outcomes()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, printed);
    sendAndSettle({ datagram });
    QCOMPARE(receiver.calls.size(), accepted ? 2 : 1);
    if (accepted) {
        const DeviceReceiver::Call call = receiver.calls.first();
        QCOMPARE(call.text, datagram.mid(kFrameHeaderSize));
        QCOMPARE(call.kind, 0);
        QCOMPARE(call.length, unsigned(datagram.size() - kFrameHeaderSize));
    }
    QCOMPARE(g_capture->takeNew(), printed);
}

void TestListener::rejectedDatagramLeavesSlotToNextAccepted()
{
    sendAndSettle({ announcement("A"), QByteArray::fromHex("82000bf000112233440000"),
        QByteArray::fromHex("82000000"), announcement("B") });
    QCOMPARE(receiver.calls.size(), 3);
    QCOMPARE(receiver.calls.at(1).text, QByteArray("B"));
    QCOMPARE(receiver.calls.at(1).pointer - receiver.calls.at(0).pointer, ptrdiff_t(kSlotStride));
}

void TestListener::ringWrapsAfterTenAccepted()
{
    QList<QByteArray> datagrams;
    for (int i = 0; i < kAnnounceRingSlots; ++i)
        datagrams << announcement(QByteArray::number(i));
    sendAndSettle(datagrams);
    QCOMPARE(receiver.calls.size(), kAnnounceRingSlots + 1);
    QCOMPARE(receiver.calls.at(kAnnounceRingSlots).pointer, receiver.calls.at(0).pointer);
    QSet<const char*> distinct;
    for (int i = 0; i < kAnnounceRingSlots; ++i)
        distinct.insert(receiver.calls.at(i).pointer);
    QCOMPARE(distinct.size(), kAnnounceRingSlots);
}

void TestListener::stopsAtOnceWhenIdle()
{
    QTest::qWait(200); // well inside a 5-second wait
    QElapsedTimer timer;
    timer.start();
    listener->requestStop();
    QVERIFY(listener->wait(4000)); // a missed wake-up would take the full 5 s
    qInfo() << "idle listener stopped in" << timer.elapsed() << "ms";
}

void TestListener::stopsWhileBlockedInEmission()
{
    // The announcement reaches the listener while this thread runs no events, so the
    // listener sits in its blocking emission when the stop is asked for.
    UdpTestSocket device;
    const long long readBefore = udpDatagramsRead();
    QVERIFY(device.sendToGroup(kAnnouncePort, announcement("late")));
    // Once the listener has read it, it emits whatever the stop request says.
    QElapsedTimer reading;
    reading.start();
    while (udpDatagramsRead() == readBefore && reading.elapsed() < 10000)
        QThread::msleep(5);
    QVERIFY(udpDatagramsRead() > readBefore);
    listener->requestStop();
    QElapsedTimer timer;
    timer.start();
    while (!listener->wait(10))
        QCoreApplication::processEvents();
    QVERIFY(timer.elapsed() < 4000);
    QCOMPARE(receiver.calls.size(), 1);
    QCOMPARE(receiver.calls.first().text, QByteArray("late"));
}

int main(int argc, char** argv)
{
    return StdoutCapture::exec<TestListener>(argc, argv, &g_capture);
}

#include "tst_listener.moc"
