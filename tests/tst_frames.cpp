// Frame building and the two acceptance tests, on byte buffers.
#include "devicefields.h"
#include "deviceframe.h"
#include "netcompat.h"
#include "service.h"

#include <QtTest>

namespace {
const unsigned char kSenderId[kSenderIdSize] = { 0x11, 0x22, 0x33, 0x44, 0x00, 0x00 };

QByteArray bytes(const unsigned char* data, int n)
{
    return QByteArray(reinterpret_cast<const char*>(data), n);
}

QByteArray reply(const QByteArray& payload, unsigned char command = 0)
{
    QByteArray frame = QByteArray::fromHex("82000bf000112233440000");
    frame[4] = char(command);
    return frame + payload;
}
}

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void discoveryRequestIsElevenFixedBytes();
    void setNetworkFrameLength_data();
    void setNetworkFrameLength();
    void buildRefusals_data();
    void buildRefusals();
    void searchProbeBytes();
    void checkRetuenDate_data();
    void checkRetuenDate();
    void replyCutAtFirstHyphen_data();
    void replyCutAtFirstHyphen();
    void replyOutcomes_data();
    void replyOutcomes();
    void fullBufferReplyKeepsItsTerminatorInside();
    void announcement_data();
    void announcement();
    void answerDatagrams_data();
    void answerDatagrams();
    void membershipInterface_data();
    void membershipInterface();
};

void TestFrames::discoveryRequestIsElevenFixedBytes()
{
    unsigned char frame[kFrameBufferSize];
    QCOMPARE(BuildDeviceFrame(frame, 0, kSenderId, "ignored payload"), 11);
    QCOMPARE(bytes(frame, 11).toHex(), QByteArray("82000bf000112233440000"));
}

void TestFrames::setNetworkFrameLength_data()
{
    QTest::addColumn<int>("payloadLength");
    QTest::addColumn<unsigned int>("command");
    QTest::addColumn<QByteArray>("lengthBytes");
    QTest::newRow("100 characters") << 100 << 1u << QByteArray("\x00\x6f", 2);
    QTest::newRow("300 characters") << 300 << 1u << QByteArray("\x01\x37", 2);
    QTest::newRow("command 3 like 1") << 5 << 3u << QByteArray("\x00\x10", 2);
    QTest::newRow("largest payload") << kMaxFramePayload << 1u << QByteArray("\x05\x77", 2);
}

void TestFrames::setNetworkFrameLength()
{
    QFETCH(int, payloadLength);
    QFETCH(unsigned int, command);
    QFETCH(QByteArray, lengthBytes);
    const QByteArray payload(payloadLength, 'x');
    unsigned char frame[kFrameBufferSize];
    const int n = BuildDeviceFrame(frame, command, kSenderId, payload.constData());
    QCOMPARE(n, 11 + payloadLength);
    QCOMPARE(bytes(frame + 1, 2), lengthBytes);
    QCOMPARE(frame[0], 0x82);
    QCOMPARE(frame[3], 0xF0);
    QCOMPARE(int(frame[4]), int(command));
    QCOMPARE(bytes(frame + 5, 6), bytes(kSenderId, 6));
    QCOMPARE(bytes(frame + 11, payloadLength), payload);
}

void TestFrames::buildRefusals_data()
{
    QTest::addColumn<unsigned int>("command");
    QTest::addColumn<int>("payloadLength"); // -1: no payload
    QTest::addColumn<int>("result");
    QTest::newRow("set-network without payload") << 1u << -1 << -1;
    QTest::newRow("command 2 without payload") << 2u << -1 << -1;
    QTest::newRow("command above 3 sends nothing") << 4u << 10 << 0;
    QTest::newRow("payload one byte too long") << 1u << kMaxFramePayload + 1 << -1;
    QTest::newRow("payload far too long") << 1u << 5000 << -1;
}

void TestFrames::buildRefusals()
{
    QFETCH(unsigned int, command);
    QFETCH(int, payloadLength);
    QFETCH(int, result);
    const QByteArray payload(qMax(payloadLength, 0), 'y');
    // Guard bytes after the frame buffer catch a write past it.
    unsigned char frame[kFrameBufferSize + 16];
    memset(frame, 0xA5, sizeof(frame));
    QCOMPARE(BuildDeviceFrame(frame, command, kSenderId, payloadLength < 0 ? nullptr : payload.constData()),
        result);
    for (int i = kFrameBufferSize; i < kFrameBufferSize + 16; ++i)
        QCOMPARE(frame[i], 0xA5);
}

void TestFrames::searchProbeBytes()
{
    QCOMPARE(bytes(SearchProbe, sizeof(SearchProbe)).toHex(), QByteArray("82000900000000f0000000"));
}

void TestFrames::checkRetuenDate_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("15 bytes") << reply("abcd") << false;
    QTest::newRow("16 bytes") << reply("abcde") << true;
    QTest::newRow("command 1") << reply("a-{}xx", 1) << false;
    QByteArray marker = reply("a-{}xx");
    marker[3] = char(0xF1);
    QTest::newRow("wrong marker") << marker << false;
    QByteArray start = reply("a-{}xx");
    start[0] = char(0x83);
    QTest::newRow("wrong start byte") << start << false;
    QByteArray length = reply("a-{}xx");
    length[1] = char(0x7F);
    QTest::newRow("length field disagrees with size") << length << true;
}

void TestFrames::checkRetuenDate()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, accepted);
    QCOMPARE(
        CheckRetuenDate(reinterpret_cast<const unsigned char*>(frame.constData()), frame.size()), accepted);
}

void TestFrames::replyCutAtFirstHyphen_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("head and JSON") << QByteArray("abc-{\"sn\":\"A1\"}") << QByteArray("abc")
                                   << QByteArray("{\"sn\":\"A1\"}");
    QTest::newRow("later hyphens stay in body")
        << QByteArray("a-b-c-d") << QByteArray("a") << QByteArray("b-c-d");
    QTest::newRow("empty head") << QByteArray("-{}  xyz") << QByteArray() << QByteArray("{}  xyz");
    QTest::newRow("NUL ends the text") << QByteArray("ab-cd\0-ef", 9) << QByteArray("ab") << QByteArray("cd");
}

void TestFrames::replyCutAtFirstHyphen()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QByteArray frame = reply(payload);
    frame.append('\xEE'); // the byte past the datagram, which the reader may overwrite
    const char* h = nullptr;
    const char* b = nullptr;
    QCOMPARE(ReadReply(reinterpret_cast<unsigned char*>(frame.data()), frame.size() - 1, &h, &b),
        ReplyOutcome::Accepted);
    QCOMPARE(QByteArray(h), head);
    QCOMPARE(QByteArray(b), body);
}

void TestFrames::replyOutcomes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("outcome");
    QTest::newRow("empty datagram") << QByteArray() << int(ReplyOutcome::NotAFrame);
    QTest::newRow("not 0x82") << QByteArray("hello world, this is long") << int(ReplyOutcome::NotAFrame);
    QTest::newRow("too short") << reply("a-b") << int(ReplyOutcome::Rejected);
    QTest::newRow("no hyphen") << reply("{\"sn\":\"A1\"}") << int(ReplyOutcome::NoSeparator);
    QTest::newRow("hyphen after a NUL")
        << reply(QByteArray("abcde\0-{}", 9)) << int(ReplyOutcome::NoSeparator);
    QTest::newRow("accepted") << reply("abcd-{}") << int(ReplyOutcome::Accepted);
}

void TestFrames::replyOutcomes()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, outcome);
    QByteArray buffer = frame + '\0';
    const char* h = nullptr;
    const char* b = nullptr;
    QCOMPARE(int(ReadReply(reinterpret_cast<unsigned char*>(buffer.data()), frame.size(), &h, &b)), outcome);
}

void TestFrames::fullBufferReplyKeepsItsTerminatorInside()
{
    // A datagram that fills the whole frame buffer is read in a buffer one byte larger.
    unsigned char buffer[kFrameBufferSize + 1 + 8];
    memset(buffer, 'x', sizeof(buffer));
    const QByteArray frame = reply("h-" + QByteArray(kFrameBufferSize - 13, 'b'));
    QCOMPARE(frame.size(), kFrameBufferSize);
    memcpy(buffer, frame.constData(), frame.size());
    const char* h = nullptr;
    const char* b = nullptr;
    QCOMPARE(ReadReply(buffer, kFrameBufferSize, &h, &b), ReplyOutcome::Accepted);
    QCOMPARE(int(strlen(b)), kFrameBufferSize - 13);
    QCOMPARE(buffer[kFrameBufferSize], 0);
    QCOMPARE(buffer[kFrameBufferSize + 1], 'x');
}

void TestFrames::announcement_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("outcome");
    QTest::newRow("bare valid header")
        << QByteArray::fromHex("82000000000000f0000000") << int(AnnounceOutcome::Accepted);
    QTest::newRow("with text") << QByteArray::fromHex("82000000000000f0000000") + "1.2.3.4@SN@ID"
                               << int(AnnounceOutcome::Accepted);
    QTest::newRow("discovery request is rejected")
        << QByteArray::fromHex("82000bf000112233440000") << int(AnnounceOutcome::Rejected);
    QTest::newRow("byte 8 not zero") << QByteArray::fromHex("82000000000000f0010000")
                                     << int(AnnounceOutcome::Rejected);
    QTest::newRow("10 bytes") << QByteArray::fromHex("82000000000000f00000") << int(AnnounceOutcome::Ignored);
    QTest::newRow("fills a slot") << QByteArray::fromHex("82000000000000f0000000") + QByteArray(117, 'a')
                                  << int(AnnounceOutcome::Accepted);
    QTest::newRow("did not fit a slot") << QByteArray::fromHex("82000000000000f0000000")
            + QByteArray(118, 'a') << int(AnnounceOutcome::Ignored);
    QTest::newRow("not 0x82") << QByteArray::fromHex("81000000000000f0000000")
                              << int(AnnounceOutcome::Ignored);
    QTest::newRow("failed receive") << QByteArray() << int(AnnounceOutcome::Ignored);
}

void TestFrames::announcement()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, outcome);
    const int n = frame.isEmpty() ? -1 : frame.size();
    QCOMPARE(int(CheckAnnounce(reinterpret_cast<const unsigned char*>(frame.constData()), n)), outcome);
}

// Whole datagrams as both programs read them: the frame tests, the body limit, the fields.
void TestFrames::answerDatagrams_data()
{
    QTest::addColumn<bool>("announcement");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("sn"); // "<absent>" when the answer has none
    const QByteArray announce = QByteArray::fromHex("82000000000000f0000000");
    const auto padded = [&](int bodyLength) {
        // {"sn":"xxx…"} padded to bodyLength bytes before its closing quote and brace
        return reply("h-{\"sn\":\"" + QByteArray(bodyLength - 9, 'x') + "\"}");
    };
    const int accepted = int(AnswerOutcome::Accepted);
    QTest::newRow("reply") << false << reply("h-{\"sn\":\"A1\"}") << accepted << "A1";
    QTest::newRow("reply body of 511 bytes") << false << padded(511) << accepted << QString(502, 'x');
    QTest::newRow("reply body of 512 bytes loses its brace")
        << false << padded(512) << int(AnswerOutcome::NoDevice) << "<absent>";
    QTest::newRow("reply of 1,401 bytes")
        << false << reply(QByteArray(1390, 'a')) << int(AnswerOutcome::TooLong) << "<absent>";
    QTest::newRow("empty") << false << QByteArray() << int(AnswerOutcome::NotAFrame) << "<absent>";
    QTest::newRow("wrong marker") << false << QByteArray::fromHex("82000b0000112233440000") + "h-{}"
                                  << int(AnswerOutcome::Rejected) << "<absent>";
    QTest::newRow("no hyphen") << false << reply("{\"sn\":\"A1\"}") << int(AnswerOutcome::NoSeparator)
                               << "<absent>";
    QTest::newRow("no known key") << false << reply("h-{\"libver\":\"1\"}") << int(AnswerOutcome::NoDevice)
                                  << "<absent>";
    QTest::newRow("announcement") << true << announce + "1.2.3.4@S9@ID" << accepted << "S9";
    QTest::newRow("announcement of 128 bytes")
        << true << announce + "1@" + QByteArray(115, 's') << accepted << QString(115, 's');
    QTest::newRow("announcement of 129 bytes")
        << true << announce + "1@" + QByteArray(116, 's') << int(AnswerOutcome::Ignored) << "<absent>";
    QTest::newRow("discovery request on the announcement port")
        << true << QByteArray::fromHex("82000bf000112233440000") << int(AnswerOutcome::Rejected)
        << "<absent>";
}

void TestFrames::answerDatagrams()
{
    QFETCH(bool, announcement);
    QFETCH(QByteArray, datagram);
    QFETCH(int, outcome);
    QFETCH(QString, sn);
    const Answer answer = announcement ? ReadAnnounceDatagram(datagram.constData(), datagram.size())
                                       : ReadReplyDatagram(datagram.constData(), datagram.size());
    QCOMPARE(int(answer.outcome), outcome);
    if (answer.outcome == AnswerOutcome::Accepted)
        QCOMPARE(answer.device.sn.value_or("<absent>"), sn);
}

void TestFrames::membershipInterface_data()
{
    QTest::addColumn<QByteArray>("localIp");
    QTest::addColumn<QByteArray>("joinedOn");
    QTest::newRow("LAN address") << QByteArray("192.168.1.5") << QByteArray("192.168.1.5");
    QTest::newRow("Debian host-name mapping") << QByteArray("127.0.1.1") << QByteArray("0.0.0.0");
    QTest::newRow("localhost") << QByteArray("127.0.0.1") << QByteArray("0.0.0.0");
    QTest::newRow("failed lookup") << QByteArray("") << QByteArray("0.0.0.0");
    QTest::newRow("not an address") << QByteArray("host") << QByteArray("0.0.0.0");
}

void TestFrames::membershipInterface()
{
    QFETCH(QByteArray, localIp);
    QFETCH(QByteArray, joinedOn);
    in_addr addr;
    addr.s_addr = ServiceMembershipInterface(localIp.constData());
    QCOMPARE(QByteArray(inet_ntoa(addr)), joinedOn);
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
