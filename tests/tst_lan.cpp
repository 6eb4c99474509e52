// Two hosts: the program here, devsim on a LAN host behind a veth pair. The host name
// resolves to a loopback address, as on a Debian desktop, so replies only arrive when the
// group is joined on the interface that leads to the LAN.
#include "devicesearchfixture.h"
#include "devsimprocess.h"

#include <QtTest>
#include <QtWidgets>

class TestLan : public QObject {
    Q_OBJECT
private slots:
    void searchFindsDevicesOnTheLan();
};

void TestLan::searchFindsDevicesOnTheLan()
{
    DevsimProcess devsim(DevsimProcess::LanHost);
    QVERIFY2(devsim.start({ "--count", "3" }), qPrintable(devsim.error()));
    DeviceSearchFixture fixture;
    fixture.search();
    // Three replies and three announcements crossed the veth pair.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.table->rowCount(), 6, 10000);
    int replies = 0;
    for (int row = 0; row < 6; ++row)
        replies += fixture.cell(row, 2).isEmpty() ? 0 : 1;
    QCOMPARE(replies, 3);
    QVERIFY(devsim.waitFor([](const DevsimProcess::Lines& lines) { return lines.size() == 2; }));
}

QTEST_MAIN(TestLan)
#include "tst_lan.moc"
