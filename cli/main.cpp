// devicesearch-cli: the window's search on every interface, for scripts and headless
// machines. Results go to standard output, everything else to standard error.
#include "interfaces.h"
#include "output.h"
#include "search.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSet>
#include <QTextStream>

#include <cstdio>

namespace {
// The same in every subcommand.
enum Exit { kDone = 0, kNoAnswer = 1, kUsage = 2, kNoNetwork = 3 };

const char kExitStatuses[]
    = "Exit status: 0 done (search: at least one device answered), 1 the network answered\n"
      "but not as wanted (search: no device answered), 2 bad command line,\n"
      "3 cannot use the network.\n";

void err(const QString& line)
{
    fputs(qPrintable(line + QLatin1Char('\n')), stderr);
    fflush(stderr);
}

void out(const QByteArray& bytes)
{
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

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
    parser.addOptions({
        { "wait", "Listen for SEC seconds (default 2; decimals allowed).", "SEC", "2" },
        { "interface",
            "Search on NAME only; repeat for several (default: every interface that is up "
            "and can multicast, loopback only when there is no other).",
            "NAME" },
        { "format", "Output: table (default), csv, json or jsonl.", "FORMAT", "table" },
        { "unique", "One entry per serial number, the first heard; entries without one are all kept." },
        { "probes", "Send the search N times spread over the wait, for lossy networks (default 1).", "N",
            "1" },
        { "verbose", "Also describe on standard error every datagram that made no entry." },
    });
    int status = kDone;
    if (!parseOrHelp(parser, args, "search", &status))
        return status;

    bool ok = false;
    SearchOptions options;
    options.waitSeconds = parser.value("wait").toDouble(&ok);
    if (!ok || !(options.waitSeconds > 0) || options.waitSeconds > 3600)
        return usage("search",
            QStringLiteral("--wait takes seconds above 0, at most 3600: '%1'").arg(parser.value("wait")));
    options.probes = parser.value("probes").toInt(&ok);
    if (!ok || options.probes < 1 || options.probes > 100)
        return usage("search",
            QStringLiteral("--probes takes a whole number from 1 to 100: '%1'").arg(parser.value("probes")));
    OutputFormat format = OutputFormat::Table;
    if (!ParseOutputFormat(parser.value("format"), &format))
        return usage("search",
            QStringLiteral("unknown format '%1' (table, csv, json, jsonl)").arg(parser.value("format")));
    QString why;
    const QList<InterfaceInfo> all = Ipv4Interfaces();
    if (!ChooseInterfaces(all, parser.values("interface"), &options.interfaces, &why))
        return parser.values("interface").isEmpty() ? (err("devicesearch-cli: " + why), int(kNoNetwork))
                                                    : usage("search", why);

    DeviceSearch search(
        options, [](const QString& line) { err("devicesearch-cli: " + line); }, parser.isSet("verbose"));
    if (!search.open(&why)) {
        err("devicesearch-cli: " + why);
        return kNoNetwork;
    }
    const bool unique = parser.isSet("unique");
    QList<Entry> entries;
    QSet<QString> serials;
    if (format == OutputFormat::Csv)
        out(CsvHeader().toUtf8());
    QObject::connect(&search, &DeviceSearch::answered, [&](const Entry& entry) {
        if (entry.device.sn && !entry.device.sn->isEmpty()) {
            if (unique && serials.contains(*entry.device.sn))
                return;
            serials.insert(*entry.device.sn);
        }
        entries.append(entry);
        if (format == OutputFormat::Csv)
            out(CsvRecord(entry).toUtf8());
        else if (format == OutputFormat::JsonLines)
            out(JsonLine(entry));
    });
    QObject::connect(&search, &DeviceSearch::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    search.start();
    QCoreApplication::exec();

    if (format == OutputFormat::Table)
        out(TableText(entries).toUtf8());
    else if (format == OutputFormat::Json)
        out(JsonArray(entries));
    const SearchStats& stats = search.stats();
    QStringList names;
    for (const InterfaceInfo& info : options.interfaces)
        names << info.name;
    QString summary
        = QStringLiteral("%1 entries, %2 serial numbers, %3 replies, %4 announcements, on %5, in %6 s")
              .arg(entries.size())
              .arg(serials.size())
              .arg(stats.replies)
              .arg(stats.announcements)
              .arg(names.join(", "))
              .arg(options.waitSeconds);
    if (stats.drops >= 0)
        summary += QStringLiteral(", %1 datagrams dropped by the kernel").arg(stats.drops);
    err(summary);
    if (stats.drops > 0)
        err(QStringLiteral("devicesearch-cli: some answers were lost in a full receive buffer (%1 bytes); "
                           "see \"Many devices at once\" in the README to raise net.core.rmem_max")
                .arg(stats.replyBuffer));
    return entries.isEmpty() ? kNoAnswer : kDone;
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devicesearch-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DEVICESEARCH_VERSION));
    QStringList args = QCoreApplication::arguments();
    const QString command = args.size() > 1 ? args.at(1) : QString();
    if (command == "search" || command == "interfaces") {
        args.removeAt(1);
        args[0] = QStringLiteral("devicesearch-cli ") + command;
        return command == "search" ? searchCommand(args) : interfacesCommand(args);
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
                       "  interfaces  list the IPv4 interfaces and which a search uses\n\n"
                       "'devicesearch-cli COMMAND --help' describes a command's options.\n")
            + kExitStatuses);
        return kDone;
    }
    return usage(QString(),
        command.isEmpty() ? QStringLiteral("no command given")
                          : QStringLiteral("unknown command '%1'").arg(command));
}
