// The stop requests as the event loop sees them, and the second one that ends the process.
#include "stopsignals.h"

#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TestStopSignals : public QObject {
    Q_OBJECT
private slots:
    void eachSignalReachesTheLoop_data();
    void eachSignalReachesTheLoop();
    void aSignalWhileFinishingEndsAtOnce_data() { eachSignalReachesTheLoop_data(); }
    void aSignalWhileFinishingEndsAtOnce();
};

void TestStopSignals::eachSignalReachesTheLoop_data()
{
    QTest::addColumn<int>("n");
    QTest::newRow("INT") << int(SIGINT);
    QTest::newRow("TERM") << int(SIGTERM);
    QTest::newRow("HUP") << int(SIGHUP);
}

void TestStopSignals::eachSignalReachesTheLoop()
{
    QFETCH(int, n);
    StopSignals stops;
    QSignalSpy spy(&stops, &StopSignals::stopRequested);
    QVERIFY(stops.install());
    raise(n);
    raise(n);
    // Nothing in the handler: both wait for the loop.
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), n);
    QCOMPARE(spy.at(1).at(0).toInt(), n);
}

void TestStopSignals::aSignalWhileFinishingEndsAtOnce()
{
    QFETCH(int, n);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        StopSignals stops;
        stops.install();
        StopSignals::setFinishing();
        raise(n);
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 128 + n);
}

QTEST_GUILESS_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
