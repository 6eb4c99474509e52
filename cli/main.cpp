// devicesearch-cli: the window's search on every interface, for scripts and headless
// machines. Results go to standard output, everything else to standard error.
#include "appendfile.h"
#include "assign.h"
#include "assignlog.h"
#include "console.h"
#include "interfaces.h"
#include "output.h"
#include "searchcommand.h"
#include "watch.h"
#include "workbookout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
const char kExitStatuses[]
    = "Exit status: 0 done (search: at least one device answered; assign: every device\n"
      "confirmed, or every command sent with --no-verify, or every check passed with\n"
      "--dry-run), 1 the network answered but not as wanted (search: no device answered;\n"
      "assign: a device was not found or cannot be configured, a new address is in use,\n"
      "or a device was not confirmed), 2 bad command line, input file or --output file\n"
      "(assign: a check failed and nothing was sent, or the log cannot be written), 3\n"
      "cannot use the network; assign stopped by a signal: 128 + its number (130 SIGINT,\n"
      "143 SIGTERM, 129 SIGHUP).\n";

// A usage error: the reason and how to get help, on standard error.
int usage(const QString& command, const QString& why)
{
    err(QStringLiteral("devicesearch-cli: %1").arg(why));
    err(QStringLiteral("Try 'devicesearch-cli %1--help'.")
            .arg(command.isEmpty() ? QString() : command + ' '));
    return kUsage;
}

// Parses a subcommand's arguments; --help prints the help and exits 0.
bool parseOrHelp(QCommandLineParser& parser, const QStringList& args, const QString& command, int* status)
{
    parser.addHelpOption();
    if (!parser.parse(args)) {
        *status = usage(command, parser.errorText());
        return false;
    }
    if (parser.isSet("help")) {
        QString help = parser.helpText();
        // Qt names only the program on the usage line; the subcommand belongs there too.
        help.replace(0, help.indexOf(QLatin1Char('\n')),
            QStringLiteral("Usage: devicesearch-cli %1 [options]").arg(command));
        out(help.toUtf8() + '\n' + kExitStatuses);
        *status = kDone;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *status = usage(
            command, QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
        return false;
    }
    return true;
}

// --interface, as search, assign and watch take it.
QCommandLineOption interfaceOption()
{
    return { "interface",
        "Search on NAME only; repeat for several (default: every interface that is up "
        "and can multicast, loopback only when there is no other).",
        "NAME" };
}

// --output; watch's events go to the file as they come, the others' output at the end.
QCommandLineOption outputOption(bool asTheyCome = false)
{
    return { "output",
        QStringLiteral("Write the output to FILE instead of standard output, as UTF-8 bytes whatever the "
                       "console or shell would make of them: %1.")
            .arg(asTheyCome ? QStringLiteral("created, or emptied first")
                            : QStringLiteral("written beside it and renamed over it at the end, so a "
                                             "write that fails leaves FILE as it was")),
        "FILE" };
}

QString g_outputPath; // --output's, once open

// --output: the data goes to its file from now on, unless it names one of the files the
// command reads or appends to (emptying it would lose the plan or the log). False with
// exit status 2.
bool openOutput(
    const QCommandLineParser& parser, const QString& command, const QStringList& keep, int* status)
{
    if (!parser.isSet("output"))
        return true;
    const QString path = parser.value("output");
    if (path.isEmpty()) {
        *status = usage(command, QStringLiteral("--output takes a file name"));
        return false;
    }
    for (const QString& other : keep) {
        if (!other.isEmpty() && SameFile(path, other)) {
            *status = usage(command,
                path == other
                    ? QStringLiteral("--output names %1, which would be emptied").arg(other)
                    : QStringLiteral("--output names %1, which is %2 under another name and would be emptied")
                          .arg(path, other));
            return false;
        }
    }
    // watch's events are followed in the file as they come, and it has no end but a stop.
    QString why;
    if (!OpenDataFile(path, command == "watch" ? DataFileWrite::Directly : DataFileWrite::Beside, &why)) {
        err(QStringLiteral("devicesearch-cli: cannot write %1: %2; nothing was sent").arg(path, why));
        *status = kUsage;
        return false;
    }
    g_outputPath = path;
    return true;
}

// The end of the --output file, at every end that comes back here (a stop request's too):
// what was written takes its name, unless a write or the workbook failed, which leaves the
// file as it was and makes a success exit status 2.
int closeOutput(int status)
{
    if (WorkbookOutFailed() && (status == kDone || status == kNoAnswer))
        status = kUsage;
    if (g_outputPath.isEmpty())
        return status;
    QString why;
    if (!CloseDataFile(!WorkbookOutFailed(), &why)) {
        err("devicesearch-cli: " + why);
        return status == kDone || status == kNoAnswer ? kUsage : status;
    }
    return status;
}

// The options search and assign share: how to search and what to print.
void addSearchOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        { "wait", "Listen for SEC seconds (default 2; decimals allowed).", "SEC", "2" },
        interfaceOption(),
        { "probes", "Send the search N times spread over the wait, for lossy networks (default 1).", "N",
            "1" },
        { "format",
            "Output: table (default), csv, json, jsonl or xlsx (a workbook with the CSV's columns, "
            "every text kept as text; to --output FILE or a redirected standard output).",
            "FORMAT", "table" },
        { "bom",
            "Begin CSV with a UTF-8 byte-order mark, so that a spreadsheet opening the file shows "
            "names in any script (not for Unix tools, which take it for text)." },
        outputOption(),
    });
}

// Every option but the interfaces, which are chosen once the whole command line is read.
bool readSearchOptions(const QCommandLineParser& parser, const QString& command, SearchOptions* options,
    OutputFormat* format, bool* byteOrderMark, int* status)
{
    bool ok = false;
    options->waitSeconds = parser.value("wait").toDouble(&ok);
    if (!ok || !(options->waitSeconds > 0) || options->waitSeconds > 3600) {
        *status = usage(command,
            QStringLiteral("--wait takes seconds above 0, at most 3600: '%1'").arg(parser.value("wait")));
        return false;
    }
    options->probes = parser.value("probes").toInt(&ok);
    if (!ok || options->probes < 1 || options->probes > 100) {
        *status = usage(command,
            QStringLiteral("--probes takes a whole number from 1 to 100: '%1'").arg(parser.value("probes")));
        return false;
    }
    if (!ParseOutputFormat(parser.value("format"), format)) {
        *status = usage(command,
            QStringLiteral("unknown format '%1' (table, csv, json, jsonl, xlsx)")
                .arg(parser.value("format")));
        return false;
    }
    *byteOrderMark = parser.isSet("bom");
    if (*byteOrderMark && *format != OutputFormat::Csv) {
        *status = usage(command, QStringLiteral("--bom goes with --format csv"));
        return false;
    }
    if (*format == OutputFormat::Xlsx && !parser.isSet("output") && StandardOutputIsTerminal()) {
        *status = usage(command,
            QStringLiteral(
                "--format xlsx writes a binary file: give --output FILE or redirect standard output"));
        return false;
    }
    return true;
}

// The network's first look: which interfaces to search on.
bool chooseInterfaces(
    const QCommandLineParser& parser, const QString& command, SearchOptions* options, int* status)
{
    QString why;
    if (!ChooseInterfaces(Ipv4Interfaces(), parser.values("interface"), &options->interfaces, &why)) {
        if (parser.values("interface").isEmpty()) {
            err("devicesearch-cli: " + why);
            *status = kNoNetwork;
        } else {
            *status = usage(command, why);
        }
        return false;
    }
    return true;
}

int interfacesCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the IPv4 interfaces and which of them a search uses."));
    int status = kDone;
    if (!parseOrHelp(parser, args, "interfaces", &status))
        return status;
    out(InterfacesText(Ipv4Interfaces()).toUtf8());
    return kDone;
}

int searchCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Searches for devices on every interface (or those named) and prints each answer:\n"
                       "the same answers the window lists, one entry for each, duplicates included."));
    addSearchOptions(parser);
    parser.addOptions({
        { "unique", "One entry per serial number, the first heard; entries without one are all kept." },
        { "verbose", "Also describe on standard error every datagram that made no entry." },
    });
    int status = kDone;
    if (!parseOrHelp(parser, args, "search", &status))
        return status;
    SearchRequest request;
    if (!readSearchOptions(
            parser, "search", &request.search, &request.format, &request.byteOrderMark, &status)
        || !openOutput(parser, "search", {}, &status)
        || !chooseInterfaces(parser, "search", &request.search, &status))
        return status;
    request.unique = parser.isSet("unique");
    request.verbose = parser.isSet("verbose");
    return RunSearch(request);
}
// The options of assign beyond the search's, into request; what is wrong with them, or empty.
QString readAssignOptions(const QCommandLineParser& parser, AssignRequest* request)
{
    request->planFile = parser.value("plan");
    request->start = parser.value("start");
    request->end = parser.value("end");
    request->mask = parser.value("mask");
    request->gateway = parser.value("gateway");
    request->serials = parser.values("sn");
    request->all = parser.isSet("all");
    request->dryRun = parser.isSet("dry-run");
    if (parser.isSet("plan") == parser.isSet("start"))
        return parser.isSet("plan") ? QStringLiteral("--plan and --start exclude each other")
                                    : QStringLiteral("give a range (--start) or a plan (--plan)");
    if (parser.isSet("plan") && (parser.isSet("sn") || request->all || parser.isSet("end")))
        return QStringLiteral("--sn, --all and --end belong to a range, not to --plan");
    if (parser.isSet("plan") && request->planFile.isEmpty())
        return QStringLiteral("--plan takes a file name");
    request->encoding = parser.value("encoding").toLatin1();
    if (parser.isSet("encoding") && !parser.isSet("plan"))
        return QStringLiteral("--encoding belongs to --plan");
    if (parser.isSet("encoding") && !KnownEncoding(request->encoding))
        return QStringLiteral("unknown encoding '%1' (GB18030, windows-1252, UTF-16LE, for example)")
            .arg(parser.value("encoding"));
    if (parser.isSet("start")) {
        if (request->mask.isEmpty())
            return QStringLiteral("a range needs --mask (it has no default)");
        if (request->all == !request->serials.isEmpty())
            return request->all ? QStringLiteral("--sn and --all exclude each other")
                                : QStringLiteral("a range needs --sn SN (repeatable) or --all");
        if (request->serials.contains(QString()))
            return QStringLiteral("--sn takes a serial number, not an empty text");
    }
    if (parser.isSet("skip-taken") && parser.isSet("allow-taken"))
        return QStringLiteral("--skip-taken and --allow-taken exclude each other");
    if (parser.isSet("skip-taken") && parser.isSet("plan"))
        return QStringLiteral("--skip-taken belongs to a range, not to --plan (a plan names each address)");
    request->taken = parser.isSet("skip-taken") ? TakenAddresses::Skip
        : parser.isSet("allow-taken")           ? TakenAddresses::Allow
                                                : TakenAddresses::Refuse;
    request->linkCheck = !parser.isSet("no-check");
    if (parser.isSet("verify") && parser.isSet("no-verify"))
        return QStringLiteral("--verify and --no-verify exclude each other");
    if (parser.isSet("log") && parser.isSet("no-log"))
        return QStringLiteral("--log and --no-log exclude each other");
    if (parser.isSet("log") && parser.value("log").isEmpty())
        return QStringLiteral("--log takes a file name");
    if (!request->dryRun && parser.isSet("log"))
        request->logPath = parser.value("log");
    else if (!request->dryRun && !parser.isSet("no-log")) {
        QString why;
        request->logPath
            = DefaultAssignLogPath([](const char* name) { return qEnvironmentVariable(name); }, &why);
        if (request->logPath.isEmpty())
            return QStringLiteral("nowhere to keep the log: %1; name one with --log FILE").arg(why);
    }
    bool ok = false;
    request->verifySeconds = parser.isSet("no-verify") ? 0 : parser.value("verify").toDouble(&ok);
    if (!parser.isSet("no-verify") && (!ok || !(request->verifySeconds > 0) || request->verifySeconds > 3600))
        return QStringLiteral("--verify takes seconds above 0, at most 3600: '%1'")
            .arg(parser.value("verify"));
    return QString();
}

int assignCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Gives found devices new network settings: searches, checks everything, sends one\n"
        "set-network command per device on the interface where it answered, then searches\n"
        "about once a second until each answers with its new address.\n"
        "Devices and addresses come from a range (--start, --mask, and --sn or --all) or from\n"
        "a plan file (--plan). Nothing is sent when any check fails."));
    addSearchOptions(parser);
    parser.addOptions({
        { "start", "Range: the first new address; the k-th device gets start + k.", "A" },
        { "end", "Range: the last address it may use (default: as many as there are devices).", "B" },
        { "mask", "The subnet mask (no default); for a plan, where its mask cell is empty or absent.", "M" },
        { "gateway",
            "The gateway (default: the new address's first three octets and .1); for a plan, "
            "where its gateway cell is empty or absent.",
            "G" },
        { "sn", "Range: a device's serial number; repeat for several, in the order given.", "SN" },
        { "all", "Range: every configurable device found, in serial-number order." },
        { "plan",
            "A CSV file whose header row names sn and ip, and may name mask and gateway; "
            "one device per row. Comma, semicolon or tab between cells, as spreadsheets save it. "
            "Or a workbook (.xlsx or .ods, told by its content): its first sheet, read alike; a "
            "formula, date or other cell that is not text or a whole number is refused in the "
            "columns the plan reads.",
            "FILE" },
        { "encoding",
            "The plan file's encoding when it is not UTF-8 or UTF-16 with a byte-order mark: any "
            "that Qt knows, such as GB18030 or windows-1252 (default: on Windows the system's "
            "code page; elsewhere such a file is refused).",
            "NAME" },
        { "dry-run", "Check and print the plan, and send nothing." },
        {
            "skip-taken",
            "Range: give the k-th device the k-th address of the range that no other host holds "
            "(without --end the range may run to .254).",
        },
        { "allow-taken", "Send addresses that another host holds too, and say which." },
        { "no-check", "Do not ask the link whether a new address is held (no ARP probe goes out)." },
        { "verify", "Wait up to SEC seconds for every device to answer with its new address (default 30).",
            "SEC", "30" },
        { "no-verify", "Send and stop: no confirmation." },
        { "log",
            "Append a JSON line to FILE before each command goes out and when a device's status is "
            "final (default: $XDG_STATE_HOME/devicesearch/assign.jsonl, on Windows under "
            "%LOCALAPPDATA%; --dry-run writes none). It is created readable by you alone; a symbolic "
            "link, another user's file or one that others may write is refused.",
            "FILE" },
        { "no-log", "Keep no log." },
    });
    int status = kDone;
    if (!parseOrHelp(parser, args, "assign", &status))
        return status;
    AssignRequest request;
    if (!readSearchOptions(
            parser, "assign", &request.search, &request.format, &request.byteOrderMark, &status))
        return status;
    const QString why = readAssignOptions(parser, &request);
    if (!why.isEmpty())
        return usage("assign", why);
    AssignPlan plan;
    if (!PlanAssign(request, &plan))
        return kUsage;
    if (!openOutput(parser, "assign", { request.planFile, request.logPath }, &status)
        || !chooseInterfaces(parser, "assign", &request.search, &status))
        return status;
    return RunAssign(request, plan);
}

// Seconds from min to max in option name, decimals allowed; false with the usage error.
bool readSeconds(const QCommandLineParser& parser, const QString& name, double min, double max,
    double* seconds, int* status)
{
    bool ok = false;
    *seconds = parser.value(name).toDouble(&ok);
    if (ok && *seconds >= min && *seconds <= max)
        return true;
    *status = usage("watch",
        QStringLiteral("--%1 takes seconds from %2 to %3: '%4'")
            .arg(name)
            .arg(min)
            .arg(max)
            .arg(parser.value(name)));
    return false;
}

int watchCommand(const QStringList& args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Searches every few seconds, listens all the time (announcements count too) and\n"
                       "reports each device that appears (new), changes its name, address, id, configurable\n"
                       "or interface (changed), is not heard for a while (gone) or is heard again (back),\n"
                       "until it is stopped (Ctrl-C, SIGTERM or SIGHUP): then a summary on standard error\n"
                       "and exit status 0."));
    parser.addOptions({
        { "every", "Search every SEC seconds, from 1 to 3600 (default 15).", "SEC", "15" },
        { "gone-after", "A device not heard for SEC seconds is gone (default: three rounds).", "SEC" },
        interfaceOption(),
        { "format",
            "Output: table (default; on a terminal a live view of every device, else a line "
            "per event) or jsonl (an object per event).",
            "FORMAT", "table" },
        outputOption(true),
    });
    int status = kDone;
    if (!parseOrHelp(parser, args, "watch", &status))
        return status;
    WatchRequest request;
    if (!readSeconds(parser, "every", 1, 3600, &request.everySeconds, &status))
        return status;
    request.goneAfterSeconds = 3 * request.everySeconds;
    if (parser.isSet("gone-after")
        && !readSeconds(parser, "gone-after", 1, 86400, &request.goneAfterSeconds, &status))
        return status;
    if (!ParseOutputFormat(parser.value("format"), &request.format)
        || (request.format != OutputFormat::Table && request.format != OutputFormat::JsonLines))
        return usage(
            "watch", QStringLiteral("watch prints table or jsonl, not '%1'").arg(parser.value("format")));
    if (!openOutput(parser, "watch", {}, &status)
        || !chooseInterfaces(parser, "watch", &request.search, &status))
        return status;
    return RunWatch(request);
}
}

int main(int argc, char** argv)
{
    UseUtf8Streams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devicesearch-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DEVICESEARCH_VERSION));
    QStringList args = QCoreApplication::arguments();
    const QString command = args.size() > 1 ? args.at(1) : QString();
    if (command == "search" || command == "assign" || command == "watch" || command == "interfaces") {
        args.removeAt(1);
        args[0] = QStringLiteral("devicesearch-cli ") + command;
        return closeOutput(command == "search" ? searchCommand(args)
                : command == "assign"          ? assignCommand(args)
                : command == "watch"           ? watchCommand(args)
                                               : interfacesCommand(args));
    }
    if (command == "--version" || command == "-v") {
        out(QStringLiteral("devicesearch-cli %1\n").arg(DEVICESEARCH_VERSION).toUtf8());
        return kDone;
    }
    if (command == "--help" || command == "-h" || command == "help") {
        out(QByteArray("Usage: devicesearch-cli COMMAND [OPTIONS]\n"
                       "Finds the devices that answer the search protocol on the local networks.\n\n"
                       "Commands:\n"
                       "  search      search on every interface and print the answers\n"
                       "  assign      give found devices new addresses from a range or a plan file\n"
                       "  watch       search every few seconds and report devices that come, change and go\n"
                       "  interfaces  list the IPv4 interfaces and which a search uses\n\n"
                       "'devicesearch-cli COMMAND --help' describes a command's options.\n")
            + kExitStatuses);
        return kDone;
    }
    return usage(QString(),
        command.isEmpty() ? QStringLiteral("no command given")
                          : QStringLiteral("unknown command '%1'").arg(command));
}
