// Ingest benchmark: how many of devsim's replies the program turns into table rows, and how
// fast, next to what a bare socket reads of the same traffic; then the table's growth cost,
// and the real program's start-up, exit and idle wake-ups under Xvfb. Prints one Markdown
// table on stdout and its progress on stderr. Run it only inside tests/netns/isolated
// (`make bench`): it sends to the multicast group.

#include "benchprobes.h"
#include "devsimprocess.h"
#include "ingestcommon.h"
#include "programinprocess.h"

#include <QtWidgets>

#include <cstdio>
#include <unistd.h>

namespace {

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

const char* const kUsage
    = "usage: ingest_bench [--only PHASES] [--rows N]\n"
      "  --only PHASES  comma-separated, from bare,real,program,growth,cli,assign,watch\n"
      "                 (default: all), or lans: the window on two LANs, and check: the\n"
      "                 address check, inside tests/netns/isolated --two-lans\n"
      "  --rows N       rows of the table growth, at least 200 (default 10000)\n";

struct BenchOptions {
    QStringList phases { "bare", "cli", "assign", "watch", "real", "program", "growth" };
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
                ok = ok
                    && QStringList(
                        { "bare", "cli", "assign", "watch", "real", "program", "growth", "lans", "check" })
                           .contains(phase);
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
std::vector<Row> cliRows(
    const std::vector<Traffic>& cases, const std::vector<Ingest>& cli, const std::vector<Ingest>& bare)
{
    std::vector<Row> rows;
    for (size_t i = 0; i < cases.size() && i < cli.size(); ++i) {
        const Ingest none { QStringLiteral("not run") };
        const Ingest& c = cli[i];
        const Ingest& b = i < bare.size() ? bare[i] : none;
        if (c.error == none.error)
            continue;
        Row row;
        row.measure
            = QStringLiteral("devicesearch-cli search, %1: reply entries, drops").arg(cases[i].label());
        row.program = c.error.isEmpty()
            ? QStringLiteral("%1 entries, %2 drops").arg(thousands(c.rows)).arg(thousands(c.drops))
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

// The one-minute load average: the figures mean little on a machine busy with other work.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()).section(' ', 0, 0)
                                          : QStringLiteral("?");
}

// What the phases measured.
struct Results {
    std::vector<Ingest> bare, cli, own;
    std::vector<Row> assign, watch, real, growth, buffers, lans, check;
    bool complete = true; // no phase failed
};

// Runs the phases asked for, in an order that keeps each from disturbing the next.
Results runPhases(const BenchOptions& options, const std::vector<Traffic>& cases, const QString& display)
{
    Results r;
    // The bare receiver first: the program's socket, once open, stays open to the end.
    if (options.phases.contains("bare")) {
        for (const Traffic& traffic : cases) {
            progress(QStringLiteral("bare receiver, %1").arg(traffic.label()));
            r.bare.push_back(bareIngest(traffic));
        }
    }
    // The command line, which must keep up with the bursts and the fastest paced run.
    if (options.phases.contains("cli")) {
        for (const Traffic& traffic : cases) {
            const bool wanted = traffic.burst >= 1000 || traffic.rate >= 20000;
            if (wanted)
                progress(QStringLiteral("devicesearch-cli, %1").arg(traffic.label()));
            r.cli.push_back(wanted ? cliIngest(traffic) : Ingest { QStringLiteral("not run") });
        }
    }
    if (options.phases.contains("assign")) {
        progress(QStringLiteral("devicesearch-cli assign"));
        r.assign.push_back(assignRow(&r.complete));
    }
    if (options.phases.contains("watch")) {
        progress(QStringLiteral("devicesearch-cli watch for a minute"));
        r.watch = watchRows(&r.complete);
    }
    // Then the real program, before this process shows a window of the same title.
    if (options.phases.contains("real"))
        r.real = realProgramRows(display, &r.complete);

    if (options.phases.contains("lans")) {
        if (qEnvironmentVariableIsEmpty("LAN2_NETNS")) {
            progress(QStringLiteral("lans needs tests/netns/isolated --two-lans"));
            r.complete = false;
        } else {
            ProgramInProcess program;
            r.lans = twoLanRows(program, &r.complete);
        }
    }
    if (options.phases.contains("check")) {
        progress(QStringLiteral("the address check, 254 and 2,000 addresses by each method"));
        r.check = addressCheckRows(&r.complete);
    }
    // Last, the program's pieces in this process.
    if (options.phases.contains("program") || options.phases.contains("growth")) {
        progress(QStringLiteral("the program's pieces in this process"));
        ProgramInProcess program;
        r.buffers = program.bufferRows();
        if (options.phases.contains("growth")) {
            progress(QStringLiteral("table growth to %1 rows").arg(thousands(options.rows)));
            r.growth = tableGrowthRows(program, options.rows);
        }
        if (options.phases.contains("program")) {
            for (const Traffic& traffic : cases) {
                progress(QStringLiteral("program, %1").arg(traffic.label()));
                r.own.push_back(program.ingest(traffic));
            }
        }
    }
    return r;
}

// The rows in the order they are printed; a case that failed clears r.complete.
std::vector<Row> tableOf(const std::vector<Traffic>& cases, Results& r)
{
    std::vector<Row> table;
    if (!r.bare.empty() || !r.own.empty()) {
        table = ingestRows(cases, r.own, r.bare);
        for (size_t i = 0; i < cases.size(); ++i) {
            r.complete = r.complete && (i >= r.own.size() || r.own[i].error.isEmpty())
                && (i >= r.bare.size() || r.bare[i].error.isEmpty());
        }
    }
    const std::vector<Row> cliTable = cliRows(cases, r.cli, r.bare);
    for (const Ingest& c : r.cli)
        r.complete = r.complete && (c.error.isEmpty() || c.error == QLatin1String("not run"));
    table.insert(table.end(), cliTable.begin(), cliTable.end());
    table.insert(table.end(), r.assign.begin(), r.assign.end());
    table.insert(table.end(), r.watch.begin(), r.watch.end());
    table.insert(table.begin(), r.buffers.begin(), r.buffers.end());
    table.insert(table.end(), r.growth.begin(), r.growth.end());
    table.insert(table.end(), r.real.begin(), r.real.end());
    table.insert(table.end(), r.lans.begin(), r.lans.end());
    table.insert(table.end(), r.check.begin(), r.check.end());
    return table;
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

    const std::vector<Traffic> cases
        = { { 50, 0 }, { 200, 0 }, { 1000, 0 }, { 5000, 0 }, { 0, 1000 }, { 0, 5000 }, { 0, 20000 } };

    Results results = runPhases(options, cases, display);
    printTable(out, tableOf(cases, results));
    fprintf(out, "\n%d cores; load average %s at the start, %s at the end; Qt %s.\n",
        QThread::idealThreadCount(), qPrintable(loadAtStart), qPrintable(loadAverage()), qVersion());
    fclose(out);
    return results.complete ? 0 : 1;
}
