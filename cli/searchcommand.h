// devicesearch-cli search: one search, each answer printed in the chosen format, and a
// summary on standard error. The filter and the summary are plain, so tests call them.
#pragma once

#include "output.h"
#include "search.h"

#include <QSet>
#include <QString>

struct SearchRequest {
    SearchOptions search;
    OutputFormat format = OutputFormat::Table;
    bool byteOrderMark = false; // before CSV, for spreadsheets that guess the encoding
    bool unique = false; // one entry per serial number, the first heard
    bool verbose = false; // also describe every datagram that made no entry
};

// The entries a search prints: with unique only the first of each serial number, and every
// entry without one. Counts the serial numbers either way.
class EntryFilter {
public:
    explicit EntryFilter(bool unique)
        : m_unique(unique)
    {
    }
    bool keep(const Entry& entry);
    int serials() const { return m_serials.size(); }

private:
    bool m_unique = false;
    QSet<QString> m_serials;
};

// The line that ends a search, and the warning that follows it when the kernel dropped
// answers (empty when it did not). stoppedBy: the stop request that cut the wait short, or
// 0; seconds: how long it listened then.
QString SearchSummary(int entries, int serials, const SearchStats& stats, const SearchOptions& options,
    int stoppedBy = 0, double seconds = 0);
QString DropWarning(const SearchStats& stats);

// The whole command; returns its exit status.
int RunSearch(const SearchRequest& request);
