// A search end to end: the program's pieces against devsim inside the private network.
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "service.h"
#include "udpstats.h"
#include "udptestsocket.h"
#ifndef _WIN32
#include "wirecapture.h"
#endif

#include <QtTest>
#include <QtWidgets>

namespace {
bool isJsonRow(DeviceSearchFixture& f, int row)
{
    return !f.cell(row, 2).isEmpty();
}
}

class TestSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void spontaneousAnnouncementsAddRowsBeforeAnySearch();
    void searchSendsTwoDatagramsInOrder();
    void searchListsEveryDevice();
    void socketsGetTheLargeReceiveBuffer_data();
    void socketsGetTheLargeReceiveBuffer();

private:
    // One per process, as in the program: the command channel starts once.
    DeviceSearchFixture* fixture = nullptr;
};

void TestSearch::initTestCase()
{
    fixture = new DeviceSearchFixture;
}

void TestSearch::cleanupTestCase()
{
    delete fixture;
}

void TestSearch::searchSendsTwoDatagramsInOrder()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "1" }), qPrintable(devsim.error()));
#ifndef _WIN32
    // Windows has no packet sockets: there, what devsim heard below is the check.
    WireCapture capture;
    QVERIFY(capture.ok());
    capture.take(100);

    fixture->search();
    // Only the program's two datagrams are sent by port 8839 or to 7838/8838.
    QVector<WireDatagram> sent;
    for (const WireDatagram& d : capture.take(500)) {
        if (d.destinationPort == kProbePort || d.destinationPort == kCommandPort)
            sent.append(d);
    }
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.at(0).destinationPort, kProbePort);
    QCOMPARE(sent.at(0).payload.toHex(), QByteArray("82000900000000f0000000"));
    QCOMPARE(sent.at(1).destinationPort, kCommandPort);
    QCOMPARE(sent.at(1).sourcePort, kReplyPort);
    QCOMPARE(sent.at(1).payload.toHex(), QByteArray("82000bf000112233440000"));
#else
    fixture->search();
#endif

    // And devsim heard exactly these.
    QVERIFY(devsim.waitFor([](const DevsimProcess::Lines& lines) { return lines.size() >= 2; }));
    QTest::qWait(200);
    QCOMPARE(devsim.received().size(), 2);
    for (const QJsonObject& line : devsim.received()) {
        const int port = line.value("port").toInt();
        QCOMPARE(line.value("hex").toString(),
            QString(port == kProbePort ? "82000900000000f0000000" : "82000bf000112233440000"));
    }
}

void TestSearch::searchListsEveryDevice()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "12", "--no-libver=3,7", "--announce-only=11,12" }),
        qPrintable(devsim.error()));
    fixture->search();

    // 12 announcements and 10 replies (devices 11 and 12 only announce).
    QTRY_COMPARE_WITH_TIMEOUT(fixture->table->rowCount(), 22, 10000);
    QTest::qWait(300);
    QCOMPARE(fixture->table->rowCount(), 22);

    QMap<QString, int> announced, replied;
    int tickable = 0;
    for (int row = 0; row < 22; ++row) {
        QCOMPARE(fixture->cell(row, 1), QString::number(row + 1));
        const QString sn = fixture->cell(row, 4);
        if (isJsonRow(*fixture, row)) {
            ++replied[sn];
            if (fixture->table->item(row, 0)) {
                ++tickable;
                QCOMPARE(fixture->table->item(row, 0)->checkState(), Qt::Unchecked);
            }
        } else {
            ++announced[sn];
            QVERIFY(!fixture->table->item(row, 0));
            QVERIFY(!fixture->cell(row, 3).isEmpty());
            QVERIFY(!fixture->cell(row, 5).isEmpty());
        }
    }
    QCOMPARE(announced.size(), 12);
    QCOMPARE(replied.size(), 10);
    QCOMPARE(tickable, 8);
    for (int device = 1; device <= 12; ++device) {
        const QString sn = QString("SN%1").arg(device, 4, 10, QChar('0'));
        QCOMPARE(announced.value(sn), 1);
        QCOMPARE(replied.value(sn), device <= 10 ? 1 : 0);
    }

    // A second search starts over.
    fixture->search();
    QCOMPARE(fixture->table->rowCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(fixture->table->rowCount(), 22, 10000);
    QCOMPARE(fixture->cell(0, 1), QString("1"));
}

void TestSearch::spontaneousAnnouncementsAddRowsBeforeAnySearch()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "2", "--announce-every", "0.2" }), qPrintable(devsim.error()));
    QTRY_VERIFY_WITH_TIMEOUT(fixture->table->rowCount() >= 4, 10000);
    for (int row = 0; row < 4; ++row)
        QVERIFY(!isJsonRow(*fixture, row));
    QVERIFY(devsim.received().isEmpty()); // nothing was asked
}

// Hundreds of replies to one search must fit in the socket's queue.
void TestSearch::socketsGetTheLargeReceiveBuffer_data()
{
    QTest::addColumn<unsigned short>("port");
    QTest::newRow("command channel, replies") << kReplyPort;
    QTest::newRow("listener, announcements") << kAnnouncePort;
}

void TestSearch::socketsGetTheLargeReceiveBuffer()
{
    QFETCH(unsigned short, port);
#ifdef _WIN32
    QSKIP("Windows lists a process's ports, not its socket handles, so the socket cannot be asked");
#endif
    const std::vector<int> sockets = OwnUdpSocketsOnPort(port);
    QCOMPARE(sockets.size(), size_t(1));
    QVERIFY2(net::receiveBufferSize(sockets.front()) >= GrantedReceiveBuffer(),
        qPrintable(QString("%1 bytes, the kernel grants %2")
                       .arg(net::receiveBufferSize(sockets.front()))
                       .arg(GrantedReceiveBuffer())));
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
