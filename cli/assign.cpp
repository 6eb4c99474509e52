#include "assign.h"

#include "addressrules.h"
#include "console.h"
#include "plan.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace {
// What the first search heard of one serial number.
struct Heard {
    bool configurable = false;
    Entry reply; // the first configurable reply: where to send and the address it had
    QSet<QString> addresses; // reported by its replies; two mean two devices share it
};

bool readPlanFile(const QString& name, QByteArray* bytes, QString* why)
{
    QFile file(name);
    if (QFileInfo(name).isDir() || !file.open(QIODevice::ReadOnly)) {
        *why = QFileInfo(name).isDir() ? QStringLiteral("is a folder") : file.errorString();
        return false;
    }
    // Read in pieces, so that a pipe or a device without a size ends too.
    while (!file.atEnd() || file.isSequential()) {
        const QByteArray piece = file.read(1 << 20);
        if (piece.isEmpty())
            break;
        bytes->append(piece);
        if (bytes->size() > kMaxPlanBytes) {
            *why = QStringLiteral("larger than %1 MiB: not a plan").arg(kMaxPlanBytes >> 20);
            return false;
        }
    }
    return true;
}

// The progress line while standard error is a terminal: rewritten in place, and cleared
// before any other line.
class Progress {
public:
    Progress()
        : m_terminal(isatty(fileno(stderr)) == 1)
    {
    }
    void show(const QString& text)
    {
        if (!m_terminal)
            return;
        fputs(qPrintable(QStringLiteral("\r\033[K") + text), stderr);
        fflush(stderr);
        m_shown = true;
    }
    void line(const QString& text)
    {
        clear();
        err(text);
    }
    void clear()
    {
        if (m_shown) {
            fputs("\r\033[K", stderr);
            fflush(stderr);
            m_shown = false;
        }
    }

private:
    bool m_terminal = false;
    bool m_shown = false;
};

// Rows in the chosen format: CSV and JSON lines as each row is final, the others at the end.
class RowWriter {
public:
    explicit RowWriter(OutputFormat format)
        : m_format(format)
    {
        if (m_format == OutputFormat::Csv)
            out(AssignCsvHeader().toUtf8());
    }
    void final(const AssignRow& row)
    {
        if (m_format == OutputFormat::Csv)
            out(AssignCsvRecord(row).toUtf8());
        else if (m_format == OutputFormat::JsonLines)
            out(AssignJsonLine(row));
    }
    void finish(const QList<AssignRow>& rows)
    {
        if (m_format == OutputFormat::Table)
            out(AssignTableText(rows).toUtf8());
        else if (m_format == OutputFormat::Json)
            out(AssignJsonArray(rows));
    }

private:
    OutputFormat m_format;
};

int refuse(const AssignRequest& request, const PlanError& problem)
{
    const QString where
        = problem.line > 0 ? QStringLiteral("%1:%2: ").arg(request.planFile).arg(problem.line) : QString();
    err(QStringLiteral("devicesearch-cli: %1%2").arg(where, problem.text));
    return kUsage;
}

// Every device of the plan must have been heard, once, with "libver"; and no new address
// may belong to a device outside the plan on the same network.
bool checkAgainstSearch(
    const QList<Assignment>& plan, const QHash<QString, Heard>& heard, const QList<Entry>& entries)
{
    QStringList problems;
    QSet<QString> planned;
    for (const Assignment& a : plan) {
        planned.insert(a.sn);
        const QString sn = SerialForMessage(a.sn);
        const auto found = heard.constFind(a.sn);
        if (found == heard.constEnd())
            problems << QStringLiteral("  %1: not found").arg(sn);
        else if (!found->configurable)
            problems
                << QStringLiteral("  %1: answered without \"libver\", so it cannot be configured").arg(sn);
        else if (found->addresses.size() > 1) {
            QStringList addresses = found->addresses.values();
            std::sort(addresses.begin(), addresses.end());
            problems << QStringLiteral("  %1: answered by more than one device (%2)")
                            .arg(sn, TerminalSafe(addresses.join(QStringLiteral(", "))));
        }
    }
    if (!problems.isEmpty()) {
        err(QStringLiteral("devicesearch-cli: %1 of %2 devices cannot be assigned; nothing was sent:")
                .arg(problems.size())
                .arg(plan.size()));
        for (const QString& problem : problems)
            err(problem);
        return false;
    }
    // Who answers with which address on which interface, outside the plan.
    QHash<QString, QString> holders; // "ip interface" to a serial number, empty if none
    for (const Entry& e : entries) {
        const QString other = e.device.sn.value_or(QString());
        if (e.device.ip && (other.isEmpty() || !planned.contains(other)))
            holders.insert(*e.device.ip + QLatin1Char(' ') + e.interfaceName, other);
    }
    for (const Assignment& a : plan) {
        const QString ip = AddressText(a.ip);
        const QString iface = heard.value(a.sn).reply.interfaceName;
        const auto holder = holders.constFind(ip + QLatin1Char(' ') + iface);
        if (holder == holders.constEnd())
            continue;
        err(QStringLiteral("devicesearch-cli: %1 for %2 is in use on %3 by %4, which is not in the plan; "
                           "nothing was sent")
                .arg(ip, SerialForMessage(a.sn),
                    iface.isEmpty() ? QStringLiteral("the network") : TerminalSafe(iface),
                    holder->isEmpty() ? QStringLiteral("a device without a serial number")
                                      : SerialForMessage(*holder)));
        return false;
    }
    return true;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}
}

int RunAssign(const AssignRequest& request)
{
    QList<Assignment> plan;
    AddressRange range;
    PlanError problem;
    if (!request.planFile.isEmpty()) {
        QByteArray bytes;
        QString why;
        if (!readPlanFile(request.planFile, &bytes, &why)) {
            err(QStringLiteral("devicesearch-cli: %1: %2").arg(request.planFile, why));
            return kUsage;
        }
        if (!ReadPlan(bytes, request.mask, request.gateway, &plan, &problem)
            || !CheckAssignments(plan, &problem))
            return refuse(request, problem);
    } else if (!ReadAddressRange(request.start, request.end, request.mask, request.gateway, &range, &problem)
        || (!request.all
            && (!RangeAssignments(range, request.serials, &plan, &problem)
                || !CheckAssignments(plan, &problem)))) {
        return refuse(request, problem);
    }

    Progress progress;
    DeviceSearch search(
        request.search, [&](const QString& line) { progress.line("devicesearch-cli: " + line); }, false);
    QString why;
    if (!search.open(&why)) {
        err("devicesearch-cli: " + why);
        return kNoNetwork;
    }
    QHash<QString, Heard> heard;
    QList<Entry> entries;
    QMetaObject::Connection collecting
        = QObject::connect(&search, &DeviceSearch::answered, [&](const Entry& e) {
              entries.append(e);
              if (!e.device.sn || e.device.sn->isEmpty())
                  return;
              Heard& h = heard[*e.device.sn];
              if (e.device.kind != AnswerKind::Reply)
                  return;
              if (e.device.ip)
                  h.addresses.insert(*e.device.ip);
              if (e.device.configurable && !h.configurable) {
                  h.configurable = true;
                  h.reply = e;
              }
          });
    QObject::connect(&search, &DeviceSearch::finished, QCoreApplication::instance(), &QCoreApplication::quit);
    progress.show(QStringLiteral("searching for %1 s").arg(request.search.waitSeconds));
    search.start();
    QCoreApplication::exec();
    progress.clear();
    QObject::disconnect(collecting);

    if (request.all) {
        QStringList serials;
        for (auto h = heard.constBegin(); h != heard.constEnd(); ++h) {
            if (h->configurable)
                serials << h.key();
        }
        if (serials.isEmpty()) {
            err(QStringLiteral("devicesearch-cli: no configurable device answered; nothing was sent"));
            return kNoAnswer;
        }
        std::sort(serials.begin(), serials.end());
        if (!RangeAssignments(range, serials, &plan, &problem) || !CheckAssignments(plan, &problem))
            return refuse(request, problem);
    }
    if (!checkAgainstSearch(plan, heard, entries))
        return kNoAnswer;

    QList<AssignRow> rows;
    for (const Assignment& a : plan) {
        const Entry reply = heard.value(a.sn).reply;
        rows.append({ a.sn, reply.device.ip, AddressText(a.ip), AddressText(a.mask), AddressText(a.gateway),
            reply.interfaceName, QStringLiteral("planned"), std::nullopt });
    }
    RowWriter writer(request.format);
    if (request.dryRun) {
        for (const AssignRow& row : rows)
            writer.final(row);
        writer.finish(rows);
        err(QStringLiteral("%1 devices planned; nothing was sent (--dry-run)").arg(rows.size()));
        return kDone;
    }

    // Back to back, before any answer is read.
    QElapsedTimer clock;
    clock.start();
    QVector<qint64> sentAt(rows.size(), -1);
    int sent = 0;
    for (int i = 0; i < rows.size(); ++i) {
        if (search.sendCommand(rows[i].interfaceName, AssignmentFrame(plan.at(i)), &why)) {
            rows[i].status = QStringLiteral("sent");
            sentAt[i] = clock.elapsed();
            ++sent;
        } else {
            rows[i].status = QStringLiteral("not sent");
            progress.line(QStringLiteral("devicesearch-cli: the command for %1 was not sent %2")
                              .arg(SerialForMessage(rows[i].sn), why));
            writer.final(rows[i]);
        }
    }
    if (request.verifySeconds <= 0 || sent == 0) {
        for (const AssignRow& row : rows) {
            if (row.status == QLatin1String("sent"))
                writer.final(row);
        }
        writer.finish(rows);
        err(QStringLiteral("%1 of %2 commands sent").arg(sent).arg(rows.size()));
        return sent == rows.size() ? kDone : kNoAnswer;
    }

    QHash<QString, int> rowOf;
    for (int i = 0; i < rows.size(); ++i)
        rowOf.insert(rows[i].sn, i);
    QVector<QString> otherAddress(rows.size());
    QVector<bool> stillOld(rows.size(), false);
    int confirmed = 0;
    const qint64 verifyMs = qint64(request.verifySeconds * 1000);
    const auto showProgress = [&] {
        const qint64 left = std::max<qint64>(0, verifyMs - clock.elapsed());
        progress.show(
            QStringLiteral("%1/%2 confirmed, %3 s left").arg(confirmed).arg(sent).arg((left + 999) / 1000));
    };
    QObject::connect(&search, &DeviceSearch::answered, [&](const Entry& e) {
        if (!e.device.sn || !e.device.ip)
            return;
        const auto found = rowOf.constFind(*e.device.sn);
        if (found == rowOf.constEnd())
            return;
        AssignRow& row = rows[*found];
        if (row.status != QLatin1String("sent"))
            return;
        if (*e.device.ip != row.ip) {
            // Still at its old address is a command that did not take; a third address
            // means something else changed it.
            if (*e.device.ip != row.oldIp)
                otherAddress[*found] = *e.device.ip;
            else
                stillOld[*found] = true;
            return;
        }
        row.status = QStringLiteral("confirmed");
        row.seconds = (clock.elapsed() - sentAt[*found]) / 1000.0;
        ++confirmed;
        progress.line(QStringLiteral("%1 confirmed at %2 after %3 s")
                          .arg(TerminalSafe(row.sn), row.ip, secondsText(*row.seconds)));
        writer.final(row);
        showProgress();
        if (confirmed == sent)
            search.stop();
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, showProgress);
    ticker.start(1000);
    showProgress();
    search.searchAgain(request.verifySeconds, std::max(1, int(std::ceil(request.verifySeconds))));
    QCoreApplication::exec();
    ticker.stop();
    progress.clear();

    for (int i = 0; i < rows.size(); ++i) {
        AssignRow& row = rows[i];
        if (row.status != QLatin1String("sent"))
            continue;
        if (otherAddress[i].isEmpty()) {
            row.status = QStringLiteral("not confirmed");
            err(stillOld[i]
                    ? QStringLiteral("%1 not confirmed: it still answers at %2")
                          .arg(TerminalSafe(row.sn), TerminalSafe(row.oldIp.value_or(QString())))
                    : QStringLiteral("%1 not confirmed: no answer from it").arg(TerminalSafe(row.sn)));
        } else {
            row.status = QStringLiteral("other address");
            err(QStringLiteral("%1 answered with %2, not %3")
                    .arg(TerminalSafe(row.sn), TerminalSafe(otherAddress[i]), row.ip));
        }
        writer.final(row);
    }
    writer.finish(rows);
    err(QStringLiteral("%1 of %2 devices confirmed in %3 s")
            .arg(confirmed)
            .arg(rows.size())
            .arg(secondsText(clock.elapsed() / 1000.0)));
    return confirmed == rows.size() ? kDone : kNoAnswer;
}
