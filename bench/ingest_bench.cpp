// Ingest benchmark: how many of devsim's replies the program turns into table rows, and how
// fast, next to what a bare socket reads of the same traffic; then the table's growth cost,
// and the real program's start-up, exit and idle wake-ups under Xvfb. Prints one Markdown
// table on stdout and its progress on stderr. Run it only inside tests/netns/isolated
// (`make bench`): it sends to the multicast group.

#include "benchprobes.h"
#include "deviceframe.h"
#include "devicesearchfixture.h"
#include "devsimprocess.h"
#include "groupsocket.h"
#include "service.h"
#include "udpstats.h"
#include "udptestsocket.h"
#include "xwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

const std::string kTitle = "设备搜索V2.1";
constexpr int kPacedSeconds = 5;
constexpr int kBurstRuns = 5; // a burst lasts milliseconds, so where the threads run weighs
constexpr int kQuietMs = 300;
constexpr int kGrowthRows = 10000;
constexpr int kGrowthBlock = 100;
constexpr int kWakeSeconds = 30;

void progress(const QString& text)
{
    fprintf(stderr, "ingest_bench: %s\n", qPrintable(text));
}

QString thousands(long long n)
{
    return QLocale(QLocale::English).toString(n);
}

QString yesNo(bool met)
{
    return met ? QStringLiteral("yes") : QStringLiteral("**no**");
}

struct Row {
    QString measure, program, bare, ratio, target, met;
};

struct Traffic {
    int burst = 0; // distinct replies back to back on one discovery request
    int rate = 0; // else: distinct replies per second for kPacedSeconds
    QString label() const
    {
        return burst ? QStringLiteral("burst of %1").arg(thousands(burst))
                     : QStringLiteral("paced %1/s × %2 s").arg(thousands(rate)).arg(kPacedSeconds);
    }
};

struct Ingest {
    QString error; // set when the case could not be run
    long long sent = 0;
    int rows = 0;
    long long drops = 0;
    double firstToLastMs = -1;
    double sendMs = -1; // devsim's first send to its last
    int runs = 1;
    int fewestRows = 0;
    int mostRows = 0;
};

// The run with the median row count, with the spread of all runs.
Ingest medianRun(std::vector<Ingest> runs)
{
    for (const Ingest& run : runs) {
        if (!run.error.isEmpty())
            return run;
    }
    std::sort(runs.begin(), runs.end(), [](const Ingest& a, const Ingest& b) { return a.rows < b.rows; });
    Ingest median = runs[runs.size() / 2];
    median.runs = static_cast<int>(runs.size());
    median.fewestRows = runs.front().rows;
    median.mostRows = runs.back().rows;
    return median;
}

// Runs the event loop until done() holds, checking it every pollMs; false after timeoutMs.
// Unlike QTest's waits, which sleep between their turns, this keeps the GUI thread free to
// take every queued call as soon as it comes.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 20)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    bool result = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((result = done()) || elapsed.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(pollMs);
    loop.exec();
    return result;
}

// Starts devsim ready to answer a discovery request with the traffic; on failure the
// reason is in result.
bool startDevsim(DevsimProcess& devsim, const Traffic& traffic, Ingest* result)
{
    const QStringList args = traffic.burst ? QStringList { "--burst", QString::number(traffic.burst) }
                                           : QStringList { "--paced", QString::number(traffic.rate),
                                                 "--paced-for", QString::number(kPacedSeconds) };
    if (devsim.start(args, 60000))
        return true;
    result->error = devsim.error();
    return false;
}

// Runs devsim for one traffic case, asks it with a discovery request, and returns once it
// has sent everything and rows(), the receiver's count, stood still for a while.
Ingest runTraffic(const Traffic& traffic, const std::function<int()>& rows, long long* firstSendNs)
{
    Ingest result;
    DevsimProcess devsim;
    if (!startDevsim(devsim, traffic, &result))
        return result;
    unsigned char request[kFrameBufferSize];
    const int length = BuildDeviceFrame(request, kDiscoveryCommand, ProgramSenderId, nullptr);
    UdpTestSocket trigger;
    trigger.sendToGroup(kCommandPort, QByteArray(reinterpret_cast<const char*>(request), length));

    QJsonObject sentLine;
    const bool sent = runEventsUntil(
        [&] {
            for (const QJsonObject& line : devsim.received()) {
                if (line.contains("sent")) {
                    sentLine = line;
                    return true;
                }
            }
            return false;
        },
        (kPacedSeconds + 60) * 1000);
    if (!sent) {
        result.error = QStringLiteral("devsim did not report its sends");
        return result;
    }
    int seen = rows();
    QElapsedTimer still;
    still.start();
    runEventsUntil(
        [&] {
            if (rows() != seen) {
                seen = rows();
                still.restart();
            }
            return still.elapsed() >= kQuietMs;
        },
        600000);
    devsim.stop();
    result.sent = static_cast<long long>(sentLine.value("sent").toDouble());
    *firstSendNs = static_cast<long long>(sentLine.value("first").toDouble());
    result.sendMs = (sentLine.value("last").toDouble() - sentLine.value("first").toDouble()) / 1e6;
    return result;
}

// The command line's search against one traffic case: devsim answers its discovery request,
// and the entries it prints are counted.
Ingest cliIngest(const Traffic& traffic)
{
    Ingest result;
    DevsimProcess devsim;
    if (!startDevsim(devsim, traffic, &result))
        return result;
    const int waitSeconds = traffic.burst ? 3 : kPacedSeconds + 3;
    QProcess cli;
    cli.start(QStringLiteral(CLI_PATH),
        { "search", "--interface", "lo", "--format", "csv", "--wait", QString::number(waitSeconds) });
    if (!cli.waitForStarted(10000) || !runEventsUntil([&] { return cli.state() == QProcess::NotRunning; },
                                          (waitSeconds + 30) * 1000)) {
        cli.kill();
        cli.waitForFinished(5000);
        result.error = QStringLiteral("devicesearch-cli did not finish");
        return result;
    }
    const QByteArray out = cli.readAllStandardOutput();
    const QString summary = QString::fromUtf8(cli.readAllStandardError());
    // Replies only: devsim's own device also answers the announcement query.
    for (const QByteArray& line : out.split('\n'))
        result.rows += line.startsWith("reply,") ? 1 : 0;
    const QRegularExpressionMatch dropped = QRegularExpression("(\\d+) datagrams dropped").match(summary);
    result.drops = dropped.hasMatch() ? dropped.captured(1).toLongLong() : -1;
    for (const QJsonObject& line : devsim.received()) {
        if (line.contains("sent"))
            result.sent = static_cast<long long>(line.value("sent").toDouble());
    }
    devsim.stop();
    return result;
}

// A receiver with the program's socket options and nothing else, except that it keeps the
// default receive buffer: counts the datagrams that the program would have turned into rows.
class BareReceiver {
public:
    BareReceiver()
    {
        char localIp[32] = {};
        ServiceGetLocalIpAddress(0, localIp);
        GroupSocketOptions options;
        options.port = kReplyPort;
        options.membershipInterface = ServiceMembershipInterface(localIp);
        m_fd = OpenGroupSocket(options);
        if (!ok())
            return;
        m_inode = SocketInode(m_fd);
        m_thread = std::thread([this] { loop(); });
    }
    ~BareReceiver()
    {
        if (!ok())
            return;
        m_stopping.store(true);
        shutdown(m_fd, SHUT_RDWR); // wakes the blocked receive
        m_thread.join();
        close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    int rows() const { return m_rows.load(); }
    long long lastRowNs() const { return m_lastRowNs.load(); }
    long long drops() const { return UdpDropsOfInode(m_inode); }

private:
    void loop()
    {
        unsigned char buf[kFrameBufferSize + 1];
        for (;;) {
            const ssize_t n = recv(m_fd, buf, sizeof(buf), 0);
            if (m_stopping.load())
                return;
            if (n < 0 || n > kFrameBufferSize)
                continue;
            const char* head = nullptr;
            const char* body = nullptr;
            if (ReadReply(buf, static_cast<int>(n), &head, &body) == ReplyOutcome::Accepted
                && strchr(body, '{')) {
                m_lastRowNs.store(MonotonicNs());
                m_rows.fetch_add(1);
            }
        }
    }

    int m_fd = -1;
    unsigned long m_inode = 0;
    std::atomic<bool> m_stopping { false };
    std::atomic<int> m_rows { 0 };
    std::atomic<long long> m_lastRowNs { 0 };
    std::thread m_thread;
};

Ingest bareRun(const Traffic& traffic)
{
    BareReceiver receiver;
    if (!receiver.ok())
        return { QStringLiteral("the bare receiver could not open port %1").arg(kReplyPort) };
    const long long drops = receiver.drops();
    long long firstNs = 0;
    Ingest result = runTraffic(
        traffic, [&] { return receiver.rows(); }, &firstNs);
    result.rows = receiver.rows();
    result.drops = receiver.drops() - drops;
    if (receiver.lastRowNs() > 0)
        result.firstToLastMs = (receiver.lastRowNs() - firstNs) / 1e6;
    return result;
}

Ingest bareIngest(const Traffic& traffic)
{
    std::vector<Ingest> runs;
    for (int i = 0; i < (traffic.burst ? kBurstRuns : 1); ++i)
        runs.push_back(bareRun(traffic));
    return medianRun(runs);
}

// Hands rows to the window's device slot from its own thread, through a blocking queued
// connection as the receive threads do, and notes when each call returned.
class RowFeeder : public QThread {
    Q_OBJECT
public:
    explicit RowFeeder(int rows)
    {
        for (int k = 1; k <= rows; ++k) {
            const quint32 ip = 0xC0A80164u + quint32(k);
            const QString dotted = QStringLiteral("%1.%2.%3.%4").arg(ip >> 24).arg((ip >> 16) & 0xFF);
            const QString address = dotted.arg((ip >> 8) & 0xFF).arg(ip & 0xFF);
            const QString gateway = dotted.arg((ip >> 8) & 0xFF).arg(1);
            m_payloads.push_back(
                QStringLiteral("{\"name\":\"Device-%1\",\"ip\":\"%2\",\"sn\":\"SN%3\",\"mode\":\"MODEID%3\","
                               "\"mask\":\"255.255.255.0\",\"gw\":\"%4\",\"libver\":\"1.2.3\"}")
                    .arg(k, 2, 10, QChar('0'))
                    .arg(address)
                    .arg(k, 4, 10, QChar('0'))
                    .arg(gateway)
                    .toLatin1());
        }
        m_returnedNs.resize(static_cast<size_t>(rows));
    }

    long long startNs = 0;
    // Element k: when the call that added row k + 1 returned.
    const std::vector<long long>& returnedNs() const { return m_returnedNs; }

signals:
    void sig_row(char*, unsigned char, unsigned int);

protected:
    void run() override
    {
        startNs = MonotonicNs();
        for (size_t k = 0; k < m_payloads.size(); ++k) {
            emit sig_row(m_payloads[k].data(), 1, 0);
            m_returnedNs[k] = MonotonicNs();
        }
    }

private:
    std::vector<QByteArray> m_payloads;
    std::vector<long long> m_returnedNs;
};

// The program's own pieces in this process, wired as main() wires them.
class ProgramInProcess {
public:
    ProgramInProcess()
    {
        QObject::connect(
            fixture.table->model(), &QAbstractItemModel::rowsInserted, [this] { lastRowNs = MonotonicNs(); });
        if (!fixture.exposed())
            progress(QStringLiteral("the window was not exposed; its painting may not count"));
    }

    // The receive buffer each of the program's sockets really got, beside a new socket's default.
    std::vector<Row> bufferRows() const
    {
        const int plain = socket(AF_INET, SOCK_DGRAM, 0);
        const int byDefault = net::receiveBufferSize(plain);
        close(plain);
        const long long cap = UdpReceiveBufferCap();
        const long long granted = GrantedReceiveBuffer();
        std::vector<Row> rows;
        for (const auto& [port, name] :
            { std::pair<unsigned short, const char*> { kReplyPort, "command channel" },
                { kAnnouncePort, "listener" } }) {
            const std::vector<int> fds = OwnUdpSocketsOnPort(port);
            const int got = fds.size() == 1 ? net::receiveBufferSize(fds.front()) : -1;
            rows.push_back({ QStringLiteral(
                                 "receive buffer of the %1 socket (port %2) as getsockopt reports it; "
                                 "asked %3, net.core.rmem_max %4")
                                 .arg(name)
                                 .arg(port)
                                 .arg(thousands(net::kReceiveBufferBytes))
                                 .arg(thousands(cap)),
                got < 0 ? QStringLiteral("socket not found") : QStringLiteral("%1 bytes").arg(thousands(got)),
                QStringLiteral("%1 bytes (default)").arg(thousands(byDefault)), "–",
                QStringLiteral("≥ %1 bytes").arg(thousands(granted)), yesNo(got >= granted) });
        }
        return rows;
    }

    // A search with no device listening empties the table.
    void clear()
    {
        fixture.search();
        runEventsUntil([] { return false; }, 100);
    }

    Ingest ingest(const Traffic& traffic)
    {
        std::vector<Ingest> runs;
        for (int i = 0; i < (traffic.burst ? kBurstRuns : 1); ++i)
            runs.push_back(run(traffic));
        return medianRun(runs);
    }

    Ingest run(const Traffic& traffic)
    {
        clear();
        const long long drops = OwnUdpDropsOnPort(kReplyPort);
        if (drops < 0)
            return { QStringLiteral("the program's socket on %1 is not listed").arg(kReplyPort) };
        lastRowNs = 0;
        long long firstNs = 0;
        Ingest result = runTraffic(
            traffic, [this] { return fixture.table->rowCount(); }, &firstNs);
        result.rows = fixture.table->rowCount();
        result.drops = OwnUdpDropsOnPort(kReplyPort) - drops;
        if (lastRowNs > 0)
            result.firstToLastMs = (lastRowNs - firstNs) / 1e6;
        return result;
    }

    DeviceSearchFixture fixture;
    long long lastRowNs = 0;
};

// Adding one block of rows: the whole time, and the median call, which leaves out the
// calls that a repaint of the table happened to follow.
struct Block {
    double totalMs = 0;
    double medianUs = 0;
};

struct Growth {
    Block first; // rows 1-100
    Block last; // the last 100 rows
    long long fullKiB = 0; // resident
    long long heapBytes = 0; // the heap that the rows took
};

// The block of calls that ended at returned[from] to returned[to - 1]; start: when the
// call of returned[from] began.
Block block(const std::vector<long long>& returned, size_t from, size_t to, long long start)
{
    std::vector<double> calls;
    for (size_t k = from; k < to; ++k)
        calls.push_back((returned[k] - (k == from ? start : returned[k - 1])) / 1e3);
    std::sort(calls.begin(), calls.end());
    return { (returned[to - 1] - start) / 1e6, calls[calls.size() / 2] };
}

Growth tableGrowth(ProgramInProcess& program, int rows)
{
    program.clear();
    runEventsUntil([] { return false; }, 300);
    Growth growth;
    const long long heap = HeapInUse();
    RowFeeder feeder(rows);
    QObject::connect(&feeder, SIGNAL(sig_row(char*, unsigned char, unsigned int)), &program.fixture.window,
        SLOT(slo_getdevice(char*, unsigned char, unsigned int)), Qt::BlockingQueuedConnection);
    QEventLoop loop;
    QObject::connect(&feeder, &QThread::finished, &loop, &QEventLoop::quit);
    feeder.start();
    loop.exec();
    feeder.wait();
    runEventsUntil([] { return false; }, 300);
    growth.fullKiB = ResidentKiB();
    growth.heapBytes = HeapInUse() - heap;
    const std::vector<long long>& done = feeder.returnedNs();
    const size_t end = static_cast<size_t>(rows);
    growth.first = block(done, 0, kGrowthBlock, feeder.startNs);
    growth.last = block(done, end - kGrowthBlock, end, done[end - kGrowthBlock - 1]);
    program.clear();
    return growth;
}

// The real program under Xvfb.
class RealProgram {
public:
    explicit RealProgram(const QString& display)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        m_process.setProcessEnvironment(env);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_display = display.toStdString();
    }
    ~RealProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Milliseconds from the start of the process to its window on the display; -1 on failure.
    double start()
    {
        QElapsedTimer timer;
        timer.start();
        m_process.start(APP_PATH, QStringList());
        if (!m_process.waitForStarted(10000))
            return -1;
        while (!xWindowShown(m_display, kTitle)) {
            if (timer.elapsed() > 20000 || m_process.state() == QProcess::NotRunning)
                return -1;
            QThread::usleep(1000);
        }
        return timer.nsecsElapsed() / 1e6;
    }

    // Milliseconds from the close request to the end of the process; -1 when it did not end.
    double close()
    {
        QElapsedTimer timer;
        timer.start();
        if (!xCloseWindow(m_display, kTitle))
            return -1;
        if (!m_process.waitForFinished(5000))
            return -1;
        const double ms = timer.nsecsElapsed() / 1e6;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0 ? ms : -1;
    }

    pid_t pid() const { return static_cast<pid_t>(m_process.processId()); }

private:
    QProcess m_process;
    std::string m_display;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

QString msText(double ms)
{
    return ms < 0 ? QStringLiteral("failed") : QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 1 : 0);
}

QString timesText(const std::vector<double>& values)
{
    if (values.empty() || std::any_of(values.begin(), values.end(), [](double v) { return v < 0; }))
        return QStringLiteral("failed");
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return QStringLiteral("%1 (%2–%3)")
        .arg(msText(median(values)))
        .arg(*low, 0, 'f', 0)
        .arg(*high, 0, 'f', 0);
}

QString ingestText(const Ingest& r, bool withTime)
{
    if (!r.error.isEmpty())
        return r.error;
    QString text = QStringLiteral("%1 rows").arg(thousands(r.rows));
    if (r.runs > 1 && r.fewestRows != r.mostRows)
        text += QStringLiteral(" (%1–%2)").arg(thousands(r.fewestRows)).arg(thousands(r.mostRows));
    text += QStringLiteral(", %1 drops").arg(thousands(r.drops));
    if (withTime) {
        text += QStringLiteral(", ") + (r.firstToLastMs < 0 ? QStringLiteral("–") : msText(r.firstToLastMs));
        text += QStringLiteral(" (sent in %1)").arg(msText(r.sendMs));
    }
    return text;
}

void printTable(FILE* out, const std::vector<Row>& rows)
{
    fprintf(out, "| Measure | Program | Bare receiver | Program ÷ bare | Target | Met |\n");
    fprintf(out, "|---|---|---|---|---|---|\n");
    for (const Row& r : rows)
        fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", qPrintable(r.measure), qPrintable(r.program),
            qPrintable(r.bare), qPrintable(r.ratio), qPrintable(r.target), qPrintable(r.met));
    fflush(out);
}

const char* const kUsage = "usage: ingest_bench [--only PHASES] [--rows N]\n"
                           "  --only PHASES  comma-separated, from bare,real,program,growth,cli,assign\n"
                           "                 (default: all)\n"
                           "  --rows N       rows of the table growth, at least 200 (default 10000)\n";

struct BenchOptions {
    QStringList phases { "bare", "cli", "assign", "real", "program", "growth" };
    int rows = kGrowthRows;
};

bool parseOptions(const QStringList& args, BenchOptions* options)
{
    for (int i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return false;
        const QString value = args.at(++i);
        bool ok = true;
        if (args.at(i - 1) == "--only") {
            options->phases = value.split(',');
            for (const QString& phase : options->phases)
                ok = ok && QStringList({ "bare", "cli", "assign", "real", "program", "growth" }).contains(phase);
        } else if (args.at(i - 1) == "--rows") {
            options->rows = value.toInt(&ok);
            ok = ok && options->rows >= 2 * kGrowthBlock;
        } else {
            ok = false;
        }
        if (!ok)
            return false;
    }
    return true;
}

std::vector<Row> ingestRows(
    const std::vector<Traffic>& cases, const std::vector<Ingest>& own, const std::vector<Ingest>& bare)
{
    std::vector<Row> rows;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Traffic& traffic = cases[i];
        const Ingest none { QStringLiteral("not run") };
        const Ingest& p = i < own.size() ? own[i] : none;
        const Ingest& b = i < bare.size() ? bare[i] : none;
        Row row;
        row.measure = traffic.label() + QStringLiteral(": rows, drops")
            + (traffic.burst
                    ? QStringLiteral(", first datagram → last row; median (fewest–most rows) of %1 runs")
                          .arg(kBurstRuns)
                    : QString());
        row.program = ingestText(p, traffic.burst);
        row.bare = ingestText(b, traffic.burst);
        const bool both = p.error.isEmpty() && b.error.isEmpty();
        const double share = b.rows > 0 ? 100.0 * p.rows / b.rows : 0;
        row.ratio = both ? QStringLiteral("%1 % of rows").arg(share, 0, 'f', 1) : QStringLiteral("–");
        if (both && traffic.burst && p.firstToLastMs > 0 && b.firstToLastMs > 0)
            row.ratio += QStringLiteral(", %1× time").arg(p.firstToLastMs / b.firstToLastMs, 0, 'f', 1);
        row.target = row.met = QStringLiteral("–");
        if (traffic.burst) {
            row.target = QStringLiteral("≥ 98 % of bare rows");
            if (both)
                row.met = yesNo(share >= 98.0);
        } else if (traffic.rate == 5000) {
            row.target = QStringLiteral("no loss");
            row.met = yesNo(p.error.isEmpty() && p.rows == p.sent && p.drops == 0);
        }
        rows.push_back(row);
    }
    return rows;
}

// The command line beside the bare receiver, for the cases where it must lose nothing.
std::vector<Row> cliRows(const std::vector<Traffic>& cases, const std::vector<Ingest>& cli,
    const std::vector<Ingest>& bare)
{
    std::vector<Row> rows;
    for (size_t i = 0; i < cases.size() && i < cli.size(); ++i) {
        const Ingest none { QStringLiteral("not run") };
        const Ingest& c = cli[i];
        const Ingest& b = i < bare.size() ? bare[i] : none;
        if (c.error == none.error)
            continue;
        Row row;
        row.measure = QStringLiteral("devicesearch-cli search, %1: reply entries, drops").arg(cases[i].label());
        row.program = c.error.isEmpty() ? QStringLiteral("%1 entries, %2 drops").arg(thousands(c.rows)).arg(thousands(c.drops))
                                        : c.error;
        row.bare = ingestText(b, false);
        const bool both = c.error.isEmpty() && b.error.isEmpty();
        const double share = b.rows > 0 ? 100.0 * c.rows / b.rows : 0;
        row.ratio = both ? QStringLiteral("%1 % of rows").arg(share, 0, 'f', 1) : QStringLiteral("–");
        row.target = QStringLiteral("≥ 98 % of bare rows");
        row.met = both ? yesNo(share >= 98.0) : QStringLiteral("–");
        rows.push_back(row);
    }
    return rows;
}

// devicesearch-cli assign on 1,000 devsim devices from a plan file: the time from the first
// command to the last confirmation, as the command line reports it.
Row assignRow(bool* complete)
{
    constexpr int kDevices = 1000;
    Row row;
    row.measure = QStringLiteral("devicesearch-cli assign, plan of %1 devices: confirmed, time to the last").arg(thousands(kDevices));
    row.bare = row.ratio = QStringLiteral("–");
    row.target = QStringLiteral("all confirmed");
    row.met = QStringLiteral("–");
    DevsimProcess devsim;
    if (!devsim.start({ "--count", QString::number(kDevices), "--base-ip", "10.30.0.0" })) {
        row.program = devsim.error();
        *complete = false;
        return row;
    }
    QTemporaryDir dir;
    QFile plan(dir.filePath("plan.csv"));
    QByteArray text = "sn,ip\n";
    for (int k = 1; k <= kDevices; ++k)
        text += QStringLiteral("SN%1,10.40.%2.%3\n").arg(k, 4, 10, QChar('0')).arg(k / 200).arg(k % 200 + 2).toUtf8();
    if (!dir.isValid() || !plan.open(QIODevice::WriteOnly) || plan.write(text) != text.size()) {
        row.program = QStringLiteral("cannot write the plan");
        *complete = false;
        return row;
    }
    plan.close();
    QProcess cli;
    cli.start(QStringLiteral(CLI_PATH),
        { "assign", "--plan", plan.fileName(), "--mask", "255.255.0.0", "--interface", "lo", "--wait", "2",
            "--verify", "30", "--format", "csv" });
    if (!cli.waitForStarted(10000)
        || !runEventsUntil([&] { return cli.state() == QProcess::NotRunning; }, 60000)) {
        cli.kill();
        cli.waitForFinished(5000);
        row.program = QStringLiteral("devicesearch-cli did not finish");
        *complete = false;
        return row;
    }
    const QString summary = QString::fromUtf8(cli.readAllStandardError());
    const QRegularExpressionMatch m
        = QRegularExpression("(\\d+) of (\\d+) devices confirmed in ([0-9.]+) s").match(summary);
    if (!m.hasMatch()) {
        row.program = QStringLiteral("no summary: ") + summary.trimmed().left(200);
        *complete = false;
        return row;
    }
    row.program = QStringLiteral("%1 of %2 confirmed, %3 s").arg(m.captured(1), m.captured(2), m.captured(3));
    row.met = yesNo(m.captured(1) == m.captured(2));
    return row;
}

QString blockText(const Block& b)
{
    return QStringLiteral("%1 ms; median row %2 µs").arg(b.totalMs, 0, 'f', 1).arg(b.medianUs, 0, 'f', 0);
}

std::vector<Row> growthRows(const Growth& growth, int rows)
{
    const double ratio = growth.last.medianUs / growth.first.medianUs;
    return {
        { QStringLiteral("table: adding rows 1–%1 (slot calls from a thread, as the receivers make them)")
                .arg(kGrowthBlock),
            blockText(growth.first), "–", "–", "–", "–" },
        { QStringLiteral("table: adding rows %1–%2")
                .arg(thousands(rows - kGrowthBlock + 1))
                .arg(thousands(rows)),
            blockText(growth.last), "–",
            QStringLiteral("%1× the median row of 1–%2; %3× the time")
                .arg(ratio, 0, 'f', 2)
                .arg(kGrowthBlock)
                .arg(growth.last.totalMs / growth.first.totalMs, 0, 'f', 2),
            QStringLiteral("≤ 2× rows 1–%1").arg(kGrowthBlock), yesNo(ratio <= 2.0) },
        { QStringLiteral("resident memory at %1 rows").arg(thousands(rows)),
            QStringLiteral("%1 MiB resident; the rows' heap %2 MiB, %3 bytes a row")
                .arg(growth.fullKiB / 1024.0, 0, 'f', 1)
                .arg(growth.heapBytes / 1048576.0, 0, 'f', 1)
                .arg(growth.heapBytes / rows),
            "–", "–", "–", "–" },
    };
}

bool allBelow(const std::vector<double>& values, double limit)
{
    return !values.empty()
        && std::all_of(values.begin(), values.end(), [limit](double v) { return v >= 0 && v < limit; });
}

// The real program under Xvfb: start-up, exit idle and flooded, and idle wake-ups.
std::vector<Row> realProgramRows(const QString& display, bool* complete)
{
    std::vector<double> startups, idleExits, floodExits;
    for (int i = 0; i < 3; ++i) {
        progress(QStringLiteral("start-up and idle exit, run %1 of 3").arg(i + 1));
        RealProgram program(display);
        startups.push_back(program.start());
        QTest::qWait(500);
        idleExits.push_back(program.close());
    }
    for (int i = 0; i < 3; ++i) {
        progress(QStringLiteral("exit under a flood, run %1 of 3").arg(i + 1));
        DevsimProcess devsim;
        RealProgram program(display);
        if (!devsim.start({ "--count", "12", "--flood", "2000" }) || program.start() < 0) {
            floodExits.push_back(-1);
            continue;
        }
        QTest::qWait(1000);
        floodExits.push_back(program.close());
        devsim.stop();
    }
    std::map<int, ThreadSwitches> before, after;
    pid_t pid = 0;
    {
        progress(QStringLiteral("idle wake-ups over %1 s").arg(kWakeSeconds));
        RealProgram program(display);
        if (program.start() >= 0) {
            QTest::qWait(2000);
            pid = program.pid();
            before = ThreadContextSwitches(pid);
            QTest::qWait(kWakeSeconds * 1000);
            after = ThreadContextSwitches(pid);
            idleExits.push_back(program.close());
        }
    }

    std::vector<Row> rows;
    rows.push_back({ QStringLiteral("start-up: process start → window shown, median (min–max) of 3"),
        timesText(startups), "–", "–", "–", "–" });
    rows.push_back({ QStringLiteral("exit, idle: window closed → process gone, median (min–max) of %1")
                         .arg(idleExits.size()),
        timesText(idleExits), "–", "–", QStringLiteral("< 500 ms"), yesNo(allBelow(idleExits, 500)) });
    rows.push_back(
        { QStringLiteral("exit under 2,000 replies/s + 2,000 announcements/s, median (min–max) of 3"),
            timesText(floodExits), "–", "–", QStringLiteral("< 500 ms"), yesNo(allBelow(floodExits, 500)) });
    *complete = *complete && !after.empty() && allBelow(startups, 1e9) && allBelow(idleExits, 1e9)
        && allBelow(floodExits, 1e9);
    for (const auto& [tid, now] : after) {
        const auto then = before.find(tid);
        const long long wakes = now.voluntary + now.involuntary
            - (then == before.end() ? 0 : then->second.voluntary + then->second.involuntary);
        QString name = QString::fromStdString(now.name);
        // Threads are named after the process unless they name themselves, as QThreads do.
        if (tid == pid)
            name += QStringLiteral(", the GUI thread");
        else if (after.count(pid) && now.name == after.at(pid).name)
            name += QStringLiteral(", the command channel's receive thread");
        rows.push_back(
            { QStringLiteral("idle wake-ups over %1 s: thread %2 (%3)").arg(kWakeSeconds).arg(tid).arg(name),
                thousands(wakes), "–", "–", QStringLiteral("≤ %1").arg(kWakeSeconds / 5),
                yesNo(wakes <= kWakeSeconds / 5) });
    }
    return rows;
}

// The one-minute load average: the figures mean little on a machine busy with other work.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()).section(' ', 0, 0)
                                          : QStringLiteral("?");
}

} // namespace

int main(int argc, char** argv)
{
    BenchOptions options;
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (!parseOptions(args, &options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    {
        QString why;
        if (!InsidePrivateNetwork(&why)) {
            fprintf(stderr, "ingest_bench: %s\n", qPrintable(why));
            return 1;
        }
    }
    // The table alone goes to standard output; the program's diagnostics printed in this
    // process go to standard error with the progress.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    dup2(STDERR_FILENO, STDOUT_FILENO);

    // The in-process window is a real X window too, so that its painting counts.
    XvfbServer xvfb;
    std::string error;
    if (!xvfb.start(&error)) {
        fprintf(stderr, "ingest_bench: %s\n", error.c_str());
        return 1;
    }
    qputenv("DISPLAY", QByteArray::fromStdString(xvfb.display()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const QString display = QString::fromStdString(xvfb.display());
    const QString loadAtStart = loadAverage();
    bool complete = true;

    const std::vector<Traffic> cases
        = { { 50, 0 }, { 200, 0 }, { 1000, 0 }, { 5000, 0 }, { 0, 1000 }, { 0, 5000 }, { 0, 20000 } };

    // The bare receiver first: the program's socket, once open, stays open to the end.
    std::vector<Ingest> bare;
    if (options.phases.contains("bare")) {
        for (const Traffic& traffic : cases) {
            progress(QStringLiteral("bare receiver, %1").arg(traffic.label()));
            bare.push_back(bareIngest(traffic));
        }
    }
    // The command line, which must keep up with the bursts and the fastest paced run.
    std::vector<Ingest> cli;
    if (options.phases.contains("cli")) {
        for (const Traffic& traffic : cases) {
            const bool wanted = traffic.burst >= 1000 || traffic.rate >= 20000;
            if (wanted)
                progress(QStringLiteral("devicesearch-cli, %1").arg(traffic.label()));
            cli.push_back(wanted ? cliIngest(traffic) : Ingest { QStringLiteral("not run") });
        }
    }
    std::vector<Row> assign;
    if (options.phases.contains("assign")) {
        progress(QStringLiteral("devicesearch-cli assign"));
        assign.push_back(assignRow(&complete));
    }
    // Then the real program, before this process shows a window of the same title.
    std::vector<Row> real;
    if (options.phases.contains("real"))
        real = realProgramRows(display, &complete);

    // Last, the program's pieces in this process.
    std::vector<Ingest> own;
    std::vector<Row> growth;
    std::vector<Row> buffers;
    if (options.phases.contains("program") || options.phases.contains("growth")) {
        progress(QStringLiteral("the program's pieces in this process"));
        ProgramInProcess program;
        buffers = program.bufferRows();
        if (options.phases.contains("growth")) {
            progress(QStringLiteral("table growth to %1 rows").arg(thousands(options.rows)));
            growth = growthRows(tableGrowth(program, options.rows), options.rows);
        }
        if (options.phases.contains("program")) {
            for (const Traffic& traffic : cases) {
                progress(QStringLiteral("program, %1").arg(traffic.label()));
                own.push_back(program.ingest(traffic));
            }
        }
    }

    std::vector<Row> table;
    if (!bare.empty() || !own.empty()) {
        table = ingestRows(cases, own, bare);
        for (size_t i = 0; i < cases.size(); ++i) {
            complete = complete && (i >= own.size() || own[i].error.isEmpty())
                && (i >= bare.size() || bare[i].error.isEmpty());
        }
    }
    const std::vector<Row> cliTable = cliRows(cases, cli, bare);
    for (const Ingest& c : cli)
        complete = complete && (c.error.isEmpty() || c.error == QLatin1String("not run"));
    table.insert(table.end(), cliTable.begin(), cliTable.end());
    table.insert(table.end(), assign.begin(), assign.end());
    table.insert(table.begin(), buffers.begin(), buffers.end());
    table.insert(table.end(), growth.begin(), growth.end());
    table.insert(table.end(), real.begin(), real.end());
    printTable(out, table);
    fprintf(out, "\n%d cores; load average %s at the start, %s at the end; Qt %s.\n",
        QThread::idealThreadCount(), qPrintable(loadAtStart), qPrintable(loadAverage()), qVersion());
    fclose(out);
    return complete ? 0 : 1;
}

#include "ingest_bench.moc"
