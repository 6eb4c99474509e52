// The window when another program holds one of its ports: the status line names the port
// and what will not be heard, since on Windows the diagnostics reach nobody.
#include "customsignal.h"
#include "devicewiring.h"
#include "privatenetwork.h"
#include "protocol.h"
#include "threadgetdevice.h"
#include "udpstats.h"
#include "udptestsocket.h"
#include "windowfixture.h"

#include <QLabel>
#include <QProcess>
#include <QtTest>

namespace {
// A socket on port that no other may share: without address reuse, and on Windows with
// SO_EXCLUSIVEADDRUSE, which a socket that asks for reuse cannot take over either.
struct ExclusiveHolder {
    explicit ExclusiveHolder(unsigned short port)
    {
        s = socket(AF_INET, SOCK_DGRAM, 0);
#ifdef _WIN32
        const BOOL on = TRUE;
        net::setOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof(on));
#endif
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        bound = bind(s, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
    }
    ~ExclusiveHolder()
    {
        net::closeSocket(s);
    }
    net::Socket s;
    bool bound = false;
};

QLabel* portStatus(WindowFixture& fixture)
{
    return fixture.window.findChild<QLabel*>(QStringLiteral("portStatus"));
}
}

class TestWindowPorts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    // First: the command channel is the process's own once it is open.
    void replyPortHeldExclusively();
    void announcePortHeldByTheCommandLine();
};

void TestWindowPorts::initTestCase()
{
    QString why;
    QVERIFY2(InsidePrivateNetwork(&why), qPrintable(why));
    g_customSignal = new CustomSignal;
}

void TestWindowPorts::replyPortHeldExclusively()
{
    ExclusiveHolder holder(kReplyPort);
    QVERIFY(holder.bound);
    WindowFixture fixture;
    QVERIFY(portStatus(fixture)->isVisible());
    QCOMPARE(portStatus(fixture)->text(),
        QStringLiteral("UDP 端口 8839 无法打开，可能被其他程序占用：收不到设备的应答，也无法发送设置"));
}

void TestWindowPorts::announcePortHeldByTheCommandLine()
{
    QProcess watch;
    watch.start(QStringLiteral(CLI_PATH), { "watch", "--every", "5" });
    // Asked of the system: a bind to find out could take the port just as watch binds it.
    QTRY_VERIFY_WITH_TIMEOUT(UdpPortHeldBy(watch.processId(), kAnnouncePort), 30000);
    WindowFixture fixture;
    QVERIFY(!portStatus(fixture)->isVisible());
    ThreadGetDevice listener;
    ConnectDeviceSources(listener, fixture.window);
    listener.start();
    QTRY_VERIFY_WITH_TIMEOUT(portStatus(fixture)->isVisible(), 10000);
    QCOMPARE(portStatus(fixture)->text(),
        QStringLiteral(
            "UDP 端口 7839 无法打开，可能被其他程序（如 devicesearch-cli watch）占用：收不到设备的通告"));
    StopDeviceSources(listener);
    watch.kill();
    watch.waitForFinished(10000);
}

QTEST_MAIN(TestWindowPorts)
#include "tst_window_ports.moc"
