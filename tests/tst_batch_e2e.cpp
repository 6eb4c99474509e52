// A batch end to end: rows found by a real search of devsim, the set button, and what
// devsim received and then reports on the next search. Runs inside the private network.
#include "customsignal.h"
#include "devsimprocess.h"
#include "myipaddredit.h"
#include "netsettext.h"
#include "service.h"
#include "windowfixture.h"
#include "wireheader.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {
const QString kMask = QStringLiteral("255.255.255.0");

QString netSetText(const QString& sn, const QString& ip)
{
    return WindowNetSetText(sn, ip, kMask, QStringLiteral("192.168.1.1"));
}

QString devsimAddress(int device)
{
    return QStringLiteral("192.168.1.%1").arg(100 + device);
}
}

class TstBatchE2e : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void ticksThreeOfSixRows();
    void rangeShorterThanTickedRows();
    void statusLineTellsWhichTook();

private:
    // One window per process: the command channel starts once.
    std::unique_ptr<WindowFixture> fixture;
    MainWindow* window = nullptr;
    QTableWidget* table = nullptr;
    int fenceNumber = 0;

    bool search(int devices);
    QMap<QString, QString> addressesBySerial() const;
    void setBatch(const QList<int>& ticked, const QString& start, const QString& end);
    QStringList setNetworkPayloads(DevsimProcess& devsim, int from);
};

void TstBatchE2e::initTestCase()
{
    if (!g_customSignal)
        g_customSignal = new CustomSignal;
    fixture = std::make_unique<WindowFixture>();
    window = &fixture->window;
    table = fixture->table;
    // Only the replies to the discovery request fill the table here, so every row is a
    // tickable device row.
    QVERIFY(connect(g_customSignal, SIGNAL(sig_DiscoverDetDevice(char*, unsigned char, unsigned int)), window,
        SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection));
    QVERIFY(fixture->exposed());
    QVERIFY(table);
}

void TstBatchE2e::cleanupTestCase()
{
    // The receive thread may be blocked handing a reply to the window.
    DiscoverCallbackClose();
    fixture.reset();
}

bool TstBatchE2e::search(int devices)
{
    fixture->search();
    if (table->rowCount() != 0)
        return false;
    if (!QTest::qWaitFor([&] { return table->rowCount() >= devices; }, 10000) || table->rowCount() != devices)
        return false;
    // one tickable row per device
    QSet<QString> serials;
    for (int row = 0; row < devices; ++row) {
        if (!table->item(row, 0))
            return false;
        serials.insert(fixture->cell(row, 4));
    }
    return serials.size() == devices;
}

QMap<QString, QString> TstBatchE2e::addressesBySerial() const
{
    QMap<QString, QString> addresses;
    for (int row = 0; row < table->rowCount(); ++row)
        addresses.insert(fixture->cell(row, 4), fixture->cell(row, 3));
    return addresses;
}

void TstBatchE2e::setBatch(const QList<int>& ticked, const QString& start, const QString& end)
{
    for (int row : ticked)
        table->item(row, 0)->setCheckState(Qt::Checked);
    window->findChild<MyIpAddrEdit*>("StartIp")->settext(start);
    window->findChild<MyIpAddrEdit*>("EndIp")->settext(end);
    window->findChild<MyIpAddrEdit*>("NetMask")->settext(kMask);

    // A refused batch would wait on its message box; close it and fail instead.
    QString refusal;
    QObject guard;
    QTimer::singleShot(2000, &guard, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refusal = box->text();
            box->reject();
        }
    });
    QTest::mouseClick(window->findChild<QPushButton*>("SetIpButton"), Qt::LeftButton);
    QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
}

// The payloads of the set-network frames devsim received from line `from` on. A marker
// frame sent after the batch on the same socket tells when all of them are in.
QStringList TstBatchE2e::setNetworkPayloads(DevsimProcess& devsim, int from)
{
    const QString fence = QStringLiteral("fence %1").arg(++fenceNumber);
    QStringList payloads;
    if (ServiceSendCmd(3, fence.toLatin1().constData()) != 0)
        return payloads << QStringLiteral("<fence not sent>");
    const auto payloadOf = [](const QJsonObject& line) {
        return QByteArray::fromHex(line.value("hex").toString().toLatin1()).mid(kHeaderSize);
    };
    const bool fenced = devsim.waitFor([&](const DevsimProcess::Lines& lines) {
        return std::any_of(lines.begin() + from, lines.end(), [&](const QJsonObject& line) {
            return line.value("cmd").toInt() == 3 && payloadOf(line) == fence.toLatin1();
        });
    });
    if (!fenced)
        return payloads << QStringLiteral("<fence lost>");
    const DevsimProcess::Lines& lines = devsim.received();
    for (int i = from; i < lines.size(); ++i) {
        const QJsonObject& line = lines.at(i);
        if (line.value("port").toInt() == kCommandPort && line.value("cmd").toInt() == 1)
            payloads << QString::fromUtf8(payloadOf(line));
        if (line.value("cmd").toInt() == 3)
            break;
    }
    return payloads;
}

void TstBatchE2e::ticksThreeOfSixRows()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "6" }), qPrintable(devsim.error()));
    QVERIFY(search(6));
    QStringList serials, before;
    for (int row = 0; row < 6; ++row) {
        serials << fixture->cell(row, 4);
        before << fixture->cell(row, 3);
    }

    const int from = devsim.received().size();
    setBatch({ 0, 2, 5 }, "192.168.1.10", "192.168.1.20");

    QCOMPARE(setNetworkPayloads(devsim, from),
        QStringList({ netSetText(serials[0], "192.168.1.10"), netSetText(serials[2], "192.168.1.11"),
            netSetText(serials[5], "192.168.1.12") }));
    QStringList after = before;
    after[0] = "192.168.1.10";
    after[2] = "192.168.1.11";
    after[5] = "192.168.1.12";
    for (int row = 0; row < 6; ++row)
        QCOMPARE(fixture->cell(row, 3), after[row]);

    // The devices took the addresses: a new search lists them so.
    QVERIFY(search(6));
    QMap<QString, QString> expected;
    for (int row = 0; row < 6; ++row)
        expected.insert(serials[row], after[row]);
    QCOMPARE(addressesBySerial(), expected);
}

void TstBatchE2e::rangeShorterThanTickedRows()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    QVERIFY(search(3));
    const QStringList serials { fixture->cell(0, 4), fixture->cell(1, 4), fixture->cell(2, 4) };
    const QString thirdBefore = fixture->cell(2, 3);
    QCOMPARE(thirdBefore, devsimAddress(serials[2].right(4).toInt()));

    const int from = devsim.received().size();
    setBatch({ 0, 1, 2 }, "192.168.1.10", "192.168.1.11");

    QCOMPARE(setNetworkPayloads(devsim, from),
        QStringList({ netSetText(serials[0], "192.168.1.10"), netSetText(serials[1], "192.168.1.11") }));
    QCOMPARE(fixture->cell(0, 3), QString("192.168.1.10"));
    QCOMPARE(fixture->cell(1, 3), QString("192.168.1.11"));
    QCOMPARE(fixture->cell(2, 3), thirdBefore);

    QVERIFY(search(3));
    const QMap<QString, QString> expected { { serials[0], "192.168.1.10" }, { serials[1], "192.168.1.11" },
        { serials[2], thirdBefore } };
    QCOMPARE(addressesBySerial(), expected);
}

// Five set, two of them ignoring the command: the status line says so after the set and
// after the next search, and names the two; the table shows what it always showed.
void TstBatchE2e::statusLineTellsWhichTook()
{
    DevsimProcess devsim;
    QVERIFY2(devsim.start({ "--count", "5", "--ignore-set=2,4" }), qPrintable(devsim.error()));
    auto* found = window->findChild<QLabel*>("foundStatus");
    auto* set = window->findChild<QLabel*>("setStatus");
    QVERIFY(found && set);
    QVERIFY(search(5));
    // The adapters depend on the network the test runs in.
    QTRY_VERIFY2(found->text().startsWith("找到 5 台设备（"), qPrintable(found->text()));
    QStringList serials;
    for (int row = 0; row < 5; ++row)
        serials << fixture->cell(row, 4);

    setBatch({ 0, 1, 2, 3, 4 }, "192.168.1.10", "192.168.1.14");
    QCOMPARE(set->text(), QString("已向 5 台设备发送设置，点击“搜索”查看结果"));
    QCOMPARE(fixture->cell(1, 3), QString("192.168.1.11"));

    QVERIFY(search(5));
    QTRY_COMPARE(set->text(), QString("5 台中 3 台已使用新地址"));
    QStringList ignoring { QString("SN0002"), QString("SN0004") };
    QCOMPARE(ShownToolTip(set), "尚未在新地址应答：" + ignoring.join("、"));
    QVERIFY(serials.contains("SN0002") && serials.contains("SN0004"));
}

QTEST_MAIN(TstBatchE2e)
#include "tst_batch_e2e.moc"
