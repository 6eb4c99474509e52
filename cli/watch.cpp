#include "watch.h"

#include "console.h"
#include "devicetracker.h"
#include "searchcommand.h"
#include "stopsignals.h"
#include "watchoutput.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {
// How often gone devices are looked for and the live view is drawn.
constexpr int kTickMs = 500;

class WatchRun {
public:
    explicit WatchRun(const WatchRequest& request)
        : m_request(request)
        , m_search(
              request.search, [](const QString& line) { err("devicesearch-cli: " + line); }, false)
        , m_tracker(qint64(std::llround(request.goneAfterSeconds * 1000)))
        , m_live(request.format == OutputFormat::Table && !DataFile() && ProgramConsole().useEscapes(1))
    {
    }
    int run();

private:
    void startRound();
    void endRound();
    void readDrops();
    void reportDrops();
    void heard(Entry entry);
    void tick();
    void report(const QList<WatchEvent>& events);
    void draw();
    WatchStatus status() const;

    WatchRequest m_request;
    DeviceSearch m_search;
    DeviceTracker m_tracker;
    bool m_live = false;
    QElapsedTimer m_clock; // since watch started
    QElapsedTimer m_roundClock;
    QTimer m_tick;
    int m_rounds = 0;
    int m_counts[4] = {};
    long long m_drops = 0; // the kernel's count at the last look, since the sockets opened
    long long m_roundStartDrops = 0;
    bool m_dropsUnknown = false;
    int m_dropRounds = 0;
};

int WatchRun::run()
{
    QString why;
    StopSignals stops;
    // Caught before the network is touched, so that no stop is lost; the first one ends the
    // loop and a second while the summary is written ends the process.
    QObject::connect(&stops, &StopSignals::stopRequested, [] {
        StopSignals::setFinishing();
        QCoreApplication::exit(kDone);
    });
    if (!stops.install(&why))
        err("devicesearch-cli: cannot catch the stop signals: " + why);
    if (!m_search.open(&why)) {
        err("devicesearch-cli: " + why);
        return kNoNetwork;
    }
    QObject::connect(&m_search, &DeviceSearch::answered, [this](const Entry& entry) { heard(entry); });
    // Each round lasts until the next one: the sockets stay open and keep listening.
    QObject::connect(&m_search, &DeviceSearch::finished, [this] {
        endRound();
        startRound();
    });
    QObject::connect(&m_tick, &QTimer::timeout, [this] { tick(); });
    if (!m_live && m_request.format == OutputFormat::Table)
        out(WatchEventHeader().toUtf8());
    m_clock.start();
    m_tick.start(kTickMs);
    startRound();
    QCoreApplication::exec();

    m_tick.stop();
    readDrops();
    reportDrops();
    if (m_live)
        draw();
    err(WatchSummary(m_tracker, status(), InterfaceNames(m_request.search.interfaces)));
    return kDone;
}

void WatchRun::startRound()
{
    ++m_rounds;
    m_roundClock.start();
    m_search.searchAgain(m_request.everySeconds, 1);
}

void WatchRun::endRound()
{
    readDrops();
    reportDrops();
    m_roundStartDrops = m_drops;
    m_tracker.roundEnded();
}

void WatchRun::readDrops()
{
    const long long drops = m_search.readDrops();
    if (drops < 0) {
        m_dropsUnknown = true;
        return;
    }
    if (drops > m_drops)
        m_tracker.noteDrops();
    m_drops = drops;
}

// A line for the round when the kernel dropped some of its datagrams, and the first time
// what to do about it.
void WatchRun::reportDrops()
{
    const long long dropped = m_drops - m_roundStartDrops;
    if (dropped <= 0)
        return;
    err(QStringLiteral("devicesearch-cli: round %1: %2 datagrams dropped by the kernel")
            .arg(m_rounds)
            .arg(dropped));
    if (++m_dropRounds == 1) {
        err(DropWarning(m_search.stats()));
        err("devicesearch-cli: a device not heard is reported gone only once a round without drops missed it "
            "too");
    }
}

void WatchRun::heard(Entry entry)
{
    // The search's own clock starts again every round; watch's goes on.
    entry.ms = m_clock.elapsed();
    report(m_tracker.heard(entry, entry.ms));
}

void WatchRun::tick()
{
    // Cheap enough to look every tick, so that the tracker knows before it expires anyone.
    readDrops();
    report(m_tracker.expire(m_clock.elapsed()));
    if (m_live)
        draw();
}

void WatchRun::report(const QList<WatchEvent>& events)
{
    for (const WatchEvent& event : events) {
        ++m_counts[int(event.kind)];
        if (m_live)
            continue;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        out(m_request.format == OutputFormat::JsonLines ? CompactJsonLine(ToJson(event, now))
                                                        : WatchEventLine(event, now.toLocalTime()).toUtf8());
    }
}

void WatchRun::draw()
{
    QString text = LiveViewText(m_tracker, m_clock.elapsed(), status(), TerminalRows());
    // Home, each line over the old one, then the rest of the screen cleared: no flicker.
    text.replace(QLatin1Char('\n'), QStringLiteral("\033[K\n"));
    out(QByteArray("\033[H") + text.toUtf8() + "\033[J");
}

WatchStatus WatchRun::status() const
{
    WatchStatus s;
    s.rounds = m_rounds;
    s.elapsedMs = m_clock.elapsed();
    const qint64 left = qint64(m_request.everySeconds * 1000) - m_roundClock.elapsed();
    s.nextRoundS = int(std::max<qint64>(0, (left + 999) / 1000));
    std::copy(std::begin(m_counts), std::end(m_counts), s.counts);
    s.drops = m_dropsUnknown ? -1 : m_drops;
    s.dropRounds = m_dropRounds;
    return s;
}
}

int RunWatch(const WatchRequest& request)
{
    WatchRun run(request);
    return run.run();
}
