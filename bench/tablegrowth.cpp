#include "programinprocess.h"

#include "benchprobes.h"

#include <QtWidgets>

#include <algorithm>

namespace {

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

} // namespace

std::vector<Row> tableGrowthRows(ProgramInProcess& program, int rows)
{
    return growthRows(tableGrowth(program, rows), rows);
}

#include "tablegrowth.moc"
