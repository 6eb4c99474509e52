// Leaving: the real program, under Xvfb inside the private network, closes promptly and
// cleanly when its window is closed, also while devices keep flooding both ports.
#include "xwindow.h"

#include <QtTest>

class TestExit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void closingTheWindowEndsTheProcess_data();
    void closingTheWindowEndsTheProcess();

private:
    QProcess xvfb;
    QString display;
};

void TestExit::initTestCase()
{
    // -displayfd 1: Xvfb picks a free display and prints its number.
    xvfb.start("Xvfb", { "-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "1400x700x24" });
    QVERIFY2(xvfb.waitForStarted(10000), "Xvfb is needed (package xvfb)");
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), 20000);
    display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
}

void TestExit::cleanupTestCase()
{
    xvfb.terminate();
    xvfb.waitForFinished(5000);
}

void TestExit::closingTheWindowEndsTheProcess_data()
{
    QTest::addColumn<int>("floodRate");
    QTest::newRow("idle") << 0;
    QTest::newRow("flooded") << 2000;
}

void TestExit::closingTheWindowEndsTheProcess()
{
    QFETCH(int, floodRate);
    QProcess devsim;
    auto stopDevsim = qScopeGuard([&devsim] {
        devsim.terminate();
        devsim.waitForFinished(5000);
    });
    QProcess app;
    auto stopApp = qScopeGuard([&app] {
        app.kill();
        app.waitForFinished(5000);
    });
    if (floodRate > 0) {
        devsim.start(DEVSIM_PATH, { "--count", "12", "--flood", QString::number(floodRate) });
        QVERIFY(devsim.waitForStarted(5000));
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    // The X11 and D-Bus client libraries keep allocations to the end of a process; what
    // this test looks for is how the program ends, and the other tests check for leaks.
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    app.setProcessEnvironment(env);
    // DEVICESEARCH_APP: the same checks on an installed copy.
    app.start(qEnvironmentVariable("DEVICESEARCH_APP", QStringLiteral(APP_PATH)), QStringList());
    QVERIFY(app.waitForStarted(5000));
    const std::string title = "设备搜索V2.1";
    QTRY_VERIFY2_WITH_TIMEOUT(xWindowShown(display.toStdString(), title),
        qPrintable(display + ": " + QString::fromUtf8(app.readAllStandardError())), 20000);
    QTest::qWait(1000); // let the flood reach the table

    QElapsedTimer timer;
    timer.start();
    QVERIFY(xCloseWindow(display.toStdString(), title));
    // Half a second is the goal; the bound only catches a hang or a 5-second wait.
    const bool finished = app.waitForFinished(3000);
    const qint64 elapsed = timer.elapsed();
    qInfo() << "window closed to process gone:" << elapsed << "ms";
    QVERIFY2(finished, "the program did not end after its window closed");
    const QString errors = QString::fromUtf8(app.readAllStandardError());
    QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, qPrintable(errors.right(3000)));
    for (const char* fault :
        { "QThread", "Dead lock", "QObject", "QSocketNotifier", "runtime error", "Sanitizer" })
        QVERIFY2(!errors.contains(fault), qPrintable(errors.right(2000)));
}

QTEST_GUILESS_MAIN(TestExit)
#include "tst_exit.moc"
