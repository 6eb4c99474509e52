// The command channel and the reply ring, on real sockets inside the private network.
#include "customsignal.h"
#include "deviceframe.h"
#include "devicereceiver.h"
#include "netcompat.h"
#include "protocol.h"
#include "service.h"
#include "stdoutcapture.h"
#include "udptestsocket.h"

#include <QNetworkInterface>
#include <QtTest>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace {
const unsigned char kSenderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };

QByteArray replyFrame(const QByteArray& payload, unsigned char command = 0)
{
    QByteArray frame = QByteArray::fromHex("82000bf000aabbccddeeff");
    frame[4] = char(command);
    return frame + payload;
}

StdoutCapture* g_capture = nullptr;
}

class TestChannel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void initRefusesNullArguments();
    void boundPortMakesInitFail();
    void initSucceeds();
    void sendCmdPutsFramesOnTheWire();
    void replyReachesSlotThroughBlockingQueuedConnection();
    void receiveDiagnostics_data();
    void receiveDiagnostics();
    void datagramsAroundTheBufferSize();
    void ringCutsAndWraps();
    void callbackIgnoresStatusAndNullBody();
    void groupByAdapterIndex();
    void socketsStayOutOfChildren();

private:
    DeviceReceiver receiver;
};

void TestChannel::initTestCase()
{
    g_customSignal = new CustomSignal;
    QVERIFY(connect(g_customSignal, SIGNAL(sig_DiscoverDetDevice(char*, unsigned char, unsigned int)),
        &receiver, SLOT(take(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection));
}

void TestChannel::initRefusesNullArguments()
{
    QCOMPARE(ServiceInit(0, kSenderId, nullptr), -1);
    QCOMPARE(ServiceInit(0, nullptr, DiscoverCallback), -1);
    QVERIFY(!PortHeldHere(kReplyPort));
}

void TestChannel::boundPortMakesInitFail()
{
    UdpTestSocket holder(kReplyPort, false, false);
    QVERIFY(holder.bound);
    g_capture->takeNew();
    QCOMPARE(ServiceInit(0, kSenderId, DiscoverCallback), -8839);
    QCOMPARE(g_capture->takeNew(), QByteArray("Bind port 8839 failed!\n"));
}

void TestChannel::initSucceeds()
{
    QCOMPARE(ServiceInit(0, kSenderId, DiscoverCallback), 0);
}

void TestChannel::sendCmdPutsFramesOnTheWire()
{
    UdpTestSocket device(kCommandPort, true);
    QCOMPARE(ServiceSendCmd(0, "ignored"), 0);
    QCOMPARE(device.receive().toHex(), QByteArray("82000bf000112233440000"));

    QCOMPARE(ServiceSendCmd(1, "{\"a\":1}"), 0);
    QCOMPARE(device.receive(), QByteArray::fromHex("820012f001112233440000") + "{\"a\":1}");

    QCOMPARE(ServiceSendCmd(4, "x"), 0);
    QCOMPARE(ServiceSendCmd(1, nullptr), -1);
    QCOMPARE(ServiceSendCmd(1, QByteArray(kMaxFramePayload + 1, 'x').constData()), -1);
    // None of the three refused calls sent anything: the next frame is this one.
    QCOMPARE(ServiceSendCmd(2, "z"), 0);
    QCOMPARE(device.receive(), QByteArray::fromHex("82000cf002112233440000") + "z");
}

void TestChannel::replyReachesSlotThroughBlockingQueuedConnection()
{
    receiver.calls.clear();
    UdpTestSocket device;
    QVERIFY(device.sendToGroup(kReplyPort, replyFrame("ACK-{\"sn\":\"A-1\"}")));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.calls.size(), 1, 10000);
    const DeviceReceiver::Call call = receiver.calls.first();
    QCOMPARE(call.text, QByteArray("{\"sn\":\"A-1\"}"));
    QCOMPARE(call.kind, 1);
    QCOMPARE(call.length, 0u);
    QVERIFY(call.onOwnThread);
}

void TestChannel::receiveDiagnostics_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("printed");
    QTest::newRow("not 0x82") << QByteArray("hello, devices!!") << QByteArray("There is no data!\n");
    QTest::newRow("empty datagram") << QByteArray() << QByteArray("There is no data!\n");
    QTest::newRow("15 bytes") << replyFrame("a-{}") << QByteArray("CheckRetuenDate is error!\n");
    QTest::newRow("command 1") << replyFrame("ab-{}", 1) << QByteArray("CheckRetuenDate is error!\n");
    QTest::newRow("no hyphen") << replyFrame("{\"sn\":\"A1\"}") << QByteArray();
}

void TestChannel::receiveDiagnostics()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, printed);
    receiver.calls.clear();
    g_capture->takeNew();
    UdpTestSocket device;
    QVERIFY(device.sendToGroup(kReplyPort, datagram));
    // A valid reply afterwards marks the point by which the datagram has been handled.
    QVERIFY(device.sendToGroup(kReplyPort, replyFrame("m-{\"sn\":\"marker\"}")));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.calls.size(), 1, 10000);
    QCOMPARE(receiver.calls.first().text, QByteArray("{\"sn\":\"marker\"}"));
    QCOMPARE(g_capture->takeNew(), printed);
}

void TestChannel::datagramsAroundTheBufferSize()
{
    receiver.calls.clear();
    g_capture->takeNew();
    UdpTestSocket device;
    // 1400 bytes fill the frame buffer and are kept whole; 1500 do not fit and are dropped.
    const QByteArray full = replyFrame("h-" + QByteArray(kFrameBufferSize - 13, 'b'));
    QCOMPARE(full.size(), 1400);
    QVERIFY(device.sendToGroup(kReplyPort, full));
    QVERIFY(device.sendToGroup(kReplyPort, replyFrame("h-" + QByteArray(1500 - 13, 'c'))));
    QVERIFY(device.sendToGroup(kReplyPort, replyFrame("mm-{}")));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.calls.size(), 2, 10000);
    QCOMPARE(receiver.calls.at(0).text, QByteArray(kReplyRingSlotSize - 1, 'b'));
    QCOMPARE(receiver.calls.at(1).text, QByteArray("{}"));
    QCOMPARE(g_capture->takeNew(),
        QByteArray("Recvfrom failed ") + QByteArray::number(net::kMessageTooLong) + "!\n");
}

void TestChannel::ringCutsAndWraps()
{
    // Direct calls on this thread: the blocking queued connection would wait for itself.
    QObject::disconnect(g_customSignal, nullptr, &receiver, nullptr);
    DeviceReceiver direct;
    const auto connection = connect(g_customSignal, &CustomSignal::sig_DiscoverDetDevice, &direct,
        &DeviceReceiver::take, Qt::DirectConnection);
    const QByteArray longBody(600, 'L');
    for (int i = 0; i < kReplyRingSlots + 1; ++i) {
        const QByteArray body = i == 0 ? longBody : QByteArray::number(i);
        QCOMPARE(DiscoverCallback(0, "head", body.constData()), 0);
    }
    disconnect(connection);
    QCOMPARE(direct.calls.size(), kReplyRingSlots + 1);
    QCOMPARE(direct.calls.at(0).text, QByteArray(511, 'L'));
    QCOMPARE(direct.calls.at(3).text, QByteArray("3"));
    QSet<const char*> ringSlots;
    for (int i = 0; i < kReplyRingSlots; ++i)
        ringSlots.insert(direct.calls.at(i).pointer);
    QCOMPARE(ringSlots.size(), kReplyRingSlots);
    QCOMPARE(direct.calls.at(kReplyRingSlots).pointer, direct.calls.at(0).pointer);
}

void TestChannel::callbackIgnoresStatusAndNullBody()
{
    DeviceReceiver direct;
    const auto connection = connect(g_customSignal, &CustomSignal::sig_DiscoverDetDevice, &direct,
        &DeviceReceiver::take, Qt::DirectConnection);
    QCOMPARE(DiscoverCallback(0, "h", "first"), 0);
    QCOMPARE(DiscoverCallback(1, "h", "status one"), 0);
    QCOMPARE(DiscoverCallback(0, "h", nullptr), -1);
    QCOMPARE(DiscoverCallback(0, "h", "second"), 0);
    disconnect(connection);
    QCOMPARE(direct.calls.size(), 2);
    // The ignored calls did not move the ring on either.
    const ptrdiff_t step = direct.calls.at(1).pointer - direct.calls.at(0).pointer;
    QVERIFY(step == kReplyRingSlotSize || step == -(kReplyRingSlots - 1) * kReplyRingSlotSize);
}

// A program started from one of ours (the probe helper, a test's Windows program under Wine)
// must not inherit its sockets: one that outlived it would keep holding its port.
void TestChannel::socketsStayOutOfChildren()
{
    const UdpTestSocket group(0, true);
    const net::Socket plain = net::udpSocket();
    for (const net::Socket s : { group.fd, plain }) {
        QVERIFY(net::isValid(s));
#ifdef _WIN32
        DWORD flags = 0;
        QVERIFY(GetHandleInformation(reinterpret_cast<HANDLE>(s), &flags));
        QVERIFY(!(flags & HANDLE_FLAG_INHERIT));
#else
        QVERIFY(fcntl(s, F_GETFD) & FD_CLOEXEC);
#endif
    }
    net::closeSocket(plain);
}

int main(int argc, char** argv)
{
    return StdoutCapture::exec<TestChannel>(argc, argv, &g_capture);
}

// The group joined, sent to and left by the adapter's index, as both programs do; an index
// no adapter has fails, before and after Winsock's form is known, whatever its address.
// WINSOCK_INDEX_FORM (the Wine suite) says whether Winsock is to take the 0.0.0.n form
// ("taken") or refuse it for the address ("refused").
void TestChannel::groupByAdapterIndex()
{
    int index = 0;
    uint32_t address = 0;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& e : iface.addressEntries()) {
            if (iface.flags().testFlag(QNetworkInterface::IsLoopBack)
                && e.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                index = iface.index();
                address = htonl(e.ip().toIPv4Address());
            }
        }
    }
    QVERIFY(index > 0);
    const net::Socket s = socket(AF_INET, SOCK_DGRAM, 0);
    QVERIFY(net::isValid(s));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    net::SockLen length = sizeof(to);
    QCOMPARE(bind(s, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 0);
    QCOMPARE(getsockname(s, reinterpret_cast<sockaddr*>(&to), &length), 0);
    QVERIFY(net::enablePacketInfo(s));
    const uint32_t group = inet_addr(kGroupAddress);
    to.sin_addr.s_addr = group;
    const auto goneAdapterFails = [&] {
        QVERIFY(!net::joinGroup(s, group, 99999, address));
        QVERIFY(!net::setMulticastInterface(s, 99999, address));
    };
    goneAdapterFails();
    QVERIFY(net::joinGroup(s, group, index, address));
    QVERIFY(net::setMulticastInterface(s, index, address));
    const unsigned char sent[] = { 'x' };
    QCOMPARE(net::sendTo(s, sent, 1, to), 1);
    QCOMPARE(net::waitReadable(s, net::kInvalidSocket, 10), s);
    unsigned char got[8];
    sockaddr_in from {};
    net::SockLen fromLength = sizeof(from);
    int arrivedOn = 0;
    QCOMPARE(net::receiveWithInterface(s, got, sizeof(got), &from, &fromLength, &arrivedOn), 1);
    QCOMPARE(arrivedOn, index);
    goneAdapterFails();
    QVERIFY(net::leaveGroup(s, group, index, address));
    net::closeSocket(s);
#ifdef _WIN32
    const bool refused = net::indexFormRefused();
    qInfo("Winsock %s",
        refused ? "refused the index as 0.0.0.n; the address named the adapter"
                : "took the index as 0.0.0.n");
    const QByteArray expected = qgetenv("WINSOCK_INDEX_FORM");
    if (!expected.isEmpty())
        QCOMPARE(refused ? "refused" : "taken", expected.constData());
#endif
}

#include "tst_channel.moc"
