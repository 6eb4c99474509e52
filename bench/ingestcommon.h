// What the phases of the ingest benchmark share: the traffic cases and what was measured of
// them, the rows of the table it prints, and the running of devsim and of the event loop.
#pragma once

#include <QString>

#include <functional>
#include <vector>

class DevsimProcess;

constexpr int kPacedSeconds = 5;
constexpr int kBurstRuns = 5; // a burst lasts milliseconds, so where the threads run weighs
constexpr int kGrowthRows = 10000;
constexpr int kGrowthBlock = 100;

void progress(const QString& text);
QString thousands(long long n);
QString yesNo(bool met);
QString msText(double ms);

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
Ingest medianRun(std::vector<Ingest> runs);

// The median of kBurstRuns runs for a burst, of one run otherwise.
Ingest medianIngest(const Traffic& traffic, const std::function<Ingest()>& run);

// Runs the event loop until done() holds, checking it every pollMs; false after timeoutMs.
// Unlike QTest's waits, which sleep between their turns, this keeps the GUI thread free to
// take every queued call as soon as it comes.
bool runEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 20);

// Starts devsim ready to answer a discovery request with the traffic; on failure the
// reason is in result.
bool startDevsim(DevsimProcess& devsim, const Traffic& traffic, Ingest* result);

// Runs devsim for one traffic case, asks it with a discovery request, and returns once it
// has sent everything and rows(), the receiver's count, stood still for a while.
Ingest runTraffic(const Traffic& traffic, const std::function<int()>& rows, long long* firstSendNs);

// The phases, one file each; what runs in this process's window is in programinprocess.h.

// A bare socket with the program's options reads the traffic (bareingest.cpp).
Ingest bareIngest(const Traffic& traffic);

// devicesearch-cli search reads the traffic (cliingest.cpp).
Ingest cliIngest(const Traffic& traffic);

// devicesearch-cli assign gives 1,000 devices their addresses (assignrun.cpp).
Row assignRow(bool* complete);

// devicesearch-cli watch on 5,000 devices for a minute: CPU and memory (watchrun.cpp).
std::vector<Row> watchRows(bool* complete);

// The address check of 254 free addresses by each method, on the LAN (addresscheckrun.cpp).
std::vector<Row> addressCheckRows(bool* complete);

// The real program under Xvfb: start-up, exit and idle wake-ups (realprogram.cpp).
std::vector<Row> realProgramRows(const QString& display, bool* complete);
