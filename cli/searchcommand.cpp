#include "searchcommand.h"

#include "console.h"
#include "rowwriter.h"
#include "stopsignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

bool EntryFilter::keep(const Entry& entry)
{
    if (entry.device.sn && !entry.device.sn->isEmpty()) {
        if (m_unique && m_serials.contains(*entry.device.sn))
            return false;
        m_serials.insert(*entry.device.sn);
    }
    return true;
}

QString SearchSummary(int entries, int serials, const SearchStats& stats, const SearchOptions& options,
    int stoppedBy, double seconds)
{
    QString summary
        = QStringLiteral("%1 entries, %2 serial numbers, %3 replies, %4 announcements, on %5, in %6 s")
              .arg(entries)
              .arg(serials)
              .arg(stats.replies)
              .arg(stats.announcements)
              .arg(InterfaceNames(options.interfaces).join(", "))
              .arg(options.waitSeconds);
    if (stoppedBy != 0)
        summary += QStringLiteral(", interrupted by %1 after %2 s")
                       .arg(StopSignalName(stoppedBy), QString::number(seconds, 'f', 1));
    // Windows keeps no per-socket drop count: say so rather than claim none were lost.
    summary += stats.drops >= 0 ? QStringLiteral(", %1 datagrams dropped by the kernel").arg(stats.drops)
                                : QStringLiteral(", datagrams dropped by the kernel: unknown");
    return summary;
}

QString DropWarning(const SearchStats& stats)
{
    if (stats.drops <= 0)
        return QString();
    return QStringLiteral("devicesearch-cli: some answers were lost in a full receive buffer (%1 bytes); "
                          "see \"Many devices at once\" in the README to raise net.core.rmem_max")
        .arg(stats.replyBuffer);
}

int RunSearch(const SearchRequest& request)
{
    DeviceSearch search(
        request.search, [](const QString& line) { err("devicesearch-cli: " + line); }, request.verbose);
    QString why;
    if (!search.open(&why)) {
        err("devicesearch-cli: " + why);
        return kNoNetwork;
    }
    EntryFilter filter(request.unique);
    QList<Entry> entries;
    const RowWriter<Entry> writer(request.format, CsvHeader(request.byteOrderMark));
    writer.begin();
    QObject::connect(&search, &DeviceSearch::answered, [&](const Entry& entry) {
        if (!filter.keep(entry))
            return;
        entries.append(entry);
        writer.final(entry);
    });
    QObject::connect(&search, &DeviceSearch::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    // A stop request ends the wait early: what was heard is printed as at its end.
    StopSignals stops;
    int stoppedBy = 0;
    QObject::connect(&stops, &StopSignals::stopRequested, [&](int n) {
        StopSignals::setFinishing();
        stoppedBy = n;
        search.stop();
    });
    stops.install();
    QElapsedTimer clock;
    clock.start();
    search.start();
    QCoreApplication::exec();

    writer.finish(entries);
    err(SearchSummary(entries.size(), filter.serials(), search.stats(), request.search, stoppedBy,
        clock.elapsed() / 1000.0));
    const QString warning = DropWarning(search.stats());
    if (!warning.isEmpty())
        err(warning);
    return entries.isEmpty() ? kNoAnswer : kDone;
}
