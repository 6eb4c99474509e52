#include "assign.h"

#include "addressrules.h"
#include "assignlog.h"
#include "console.h"
#include "planmatch.h"
#include "rowwriter.h"
#include "serialhints.h"
#include "stopsignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <QHostAddress>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace {
// The progress line while standard error is a terminal that takes escapes: rewritten in
// place, and cleared before any other line.
class Progress {
public:
    Progress()
        : m_terminal(ProgramConsole().useEscapes(2))
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

int refuse(const AssignRequest& request, const PlanError& problem)
{
    const QString where = problem.line > 0
        ? QStringLiteral("%1:%2: ").arg(request.planFile, QString::number(problem.line))
        : QString();
    err(QStringLiteral("devicesearch-cli: %1%2").arg(where, problem.text));
    return kUsage;
}

// The plan as far as it is known before the search: a plan file, or a range and its
// serial numbers; for --all the range alone.
bool planBeforeSearch(
    const AssignRequest& request, QList<Assignment>* plan, AddressRange* range, PlanError* error)
{
    if (!request.planFile.isEmpty()) {
        QString codePage;
        const bool read = ReadPlanFile(
            request.planFile, { request.encoding, request.mask, request.gateway }, plan, error, &codePage);
        // Read in the system's code page: say so, in case the file came from elsewhere.
        if (!codePage.isEmpty())
            err(QStringLiteral("devicesearch-cli: %1 is not UTF-8: read in the system's code page %2")
                    .arg(request.planFile, codePage));
        return read;
    }
    if (!ReadAddressRange(request.start, request.end, request.mask, request.gateway, range, error))
        return false;
    return request.all
        || (RangeAssignments(*range, request.serials, plan, error) && CheckAssignments(*plan, error));
}

QStringList unassignable(const QList<Assignment>& plan, const SearchHeard& heard)
{
    QList<FoundAnswer> found;
    QHash<QString, int> adapterOf; // any number per interface name will do
    for (const Entry& e : heard.entries) {
        const int adapter = adapterOf.value(e.interfaceName, int(adapterOf.size()) + 1);
        adapterOf.insert(e.interfaceName, adapter);
        found.append({ e.device.sn.value_or(QString()), e.device.ip.value_or(QString()), adapter,
            e.device.kind == AnswerKind::Reply, e.device.configurable });
    }
    const PlanMatch match = MatchPlan(plan, found);
    QStringList problems;
    for (int k = 0; k < plan.size(); ++k) {
        const PlanLine& line = match.lines.at(k);
        const QString sn = SerialForMessage(plan.at(k).sn);
        switch (line.state) {
        case PlanState::NotFound:
            // Never a guess to send by: only a word on what the spreadsheet did.
            problems << (line.hint.isEmpty() ? QStringLiteral("  %1: not found").arg(sn)
                                             : QStringLiteral("  %1: not found; %2 %3")
                                                   .arg(sn, TerminalSafe(line.hint), SpreadsheetAdvice()));
            break;
        case PlanState::NotConfigurable:
            problems
                << QStringLiteral("  %1: answered without \"libver\", so it cannot be configured").arg(sn);
            break;
        case PlanState::TwoAddresses:
            problems << QStringLiteral("  %1: answered by more than one device (%2)")
                            .arg(sn, TerminalSafe(line.addresses.join(QStringLiteral(", "))));
            break;
        case PlanState::TwoAdapters: // sent where it answered first
        case PlanState::NoMask: // refused with the plan, before the search
        case PlanState::Set:
            break;
        }
    }
    return problems;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 1);
}

int countStatus(const QList<AssignRow>& rows, AssignStatus status)
{
    return int(std::count_if(
        rows.begin(), rows.end(), [status](const AssignRow& row) { return row.status == status; }));
}

// Rows whose command went out, whatever came of it since.
int countSent(const QList<AssignRow>& rows)
{
    return int(rows.size()) - countStatus(rows, AssignStatus::Planned)
        - countStatus(rows, AssignStatus::NotSent);
}

// One run of the command over one event loop: the search, then the checks and the
// commands, then the search for the new addresses.
class AssignRun {
public:
    AssignRun(const AssignRequest& request, const AssignPlan& plan);
    int exec();

private:
    void answered(const Entry& entry);
    std::optional<int> startCheck();
    // What follows the address check: its verdicts, then the commands.
    using VerdictOf = std::function<AddressVerdict(uint32_t address, int adapter)>;
    void checked();
    VerdictOf checkVerdicts() const;
    std::optional<int> skipTaken(const VerdictOf& verdict);
    std::optional<int> noteVerdicts(const VerdictOf& verdict);
    std::optional<int> sendOrShow();
    int adapterIndex(const QString& interfaceName) const;
    void stopRequested(int n);
    void searchEnded();
    std::optional<int> afterSearch(); // none: confirming
    std::optional<int> sendAll();
    void send(AssignRow* row);
    void settled(const AssignRow& row);
    void startConfirming();
    void confirm(const Entry& entry);
    void showProgress();
    int report();

    const AssignRequest& m_request;
    QList<Assignment> m_plan;
    AddressRange m_range;
    Progress m_progress;
    DeviceSearch m_search;
    RowWriter<AssignRow> m_writer;
    SearchHeard m_heard;
    QList<AssignRow> m_rows;
    QHash<QString, int> m_rowOf; // by serial number
    bool m_confirming = false;
    QElapsedTimer m_clock; // from the first command
    QTimer m_ticker;
    int m_status = kDone;
    StopSignals m_stops;
    int m_stoppedBy = 0; // the stop request that ends the run, or 0
    bool m_sending = false;
    AssignLog m_log;
    QString m_logError; // why the log took no more lines
    std::unique_ptr<AddressCheckThread> m_check;
};
}

void NoteHeard(SearchHeard* heard, const Entry& e)
{
    heard->entries.append(e);
    if (!e.device.sn || e.device.sn->isEmpty())
        return;
    HeardDevice& h = heard->devices[*e.device.sn];
    if (e.device.kind != AnswerKind::Reply)
        return;
    if (e.device.ip)
        h.addresses.insert(*e.device.ip);
    if (e.device.configurable && !h.configurable) {
        h.configurable = true;
        h.reply = e;
    }
}

QStringList ConfigurableSerials(const SearchHeard& heard)
{
    QStringList serials;
    for (auto h = heard.devices.constBegin(); h != heard.devices.constEnd(); ++h) {
        if (h->configurable)
            serials << h.key();
    }
    std::sort(serials.begin(), serials.end());
    return serials;
}

QStringList CheckAgainstSearch(const QList<Assignment>& plan, const SearchHeard& heard)
{
    const QStringList problems = unassignable(plan, heard);
    if (!problems.isEmpty())
        return QStringList { QStringLiteral("devicesearch-cli: %1 of %2 devices cannot be assigned; nothing "
                                            "was sent:")
                                 .arg(problems.size())
                                 .arg(plan.size()) }
        + problems;
    return QStringList();
}

QList<AssignRow> PlannedRows(const QList<Assignment>& plan, const SearchHeard& heard)
{
    QList<AssignRow> rows;
    for (const Assignment& a : plan) {
        const Entry reply = heard.devices.value(a.sn).reply;
        AssignRow row;
        row.planned = a;
        row.oldIp = reply.device.ip;
        row.interfaceName = reply.interfaceName;
        rows.append(row);
    }
    return rows;
}

bool NoteAnswerAfterCommand(AssignRow* row, const QString& ip, qint64 ms)
{
    if (row->status != AssignStatus::Sent)
        return false;
    if (ip != AddressText(row->planned.ip)) {
        // Still at its old address is a command that did not take; a third address
        // means something else changed it.
        if (ip != row->oldIp)
            row->otherAddress = ip;
        else
            row->answeredAtOld = true;
        return false;
    }
    row->status = AssignStatus::Confirmed;
    row->seconds = (ms - row->sentMs) / 1000.0;
    return true;
}

QString SettleUnconfirmed(AssignRow* row)
{
    const QString sn = TerminalSafe(row->planned.sn);
    if (!row->otherAddress.isEmpty()) {
        row->status = AssignStatus::OtherAddress;
        return QStringLiteral("%1 answered with %2, not %3")
            .arg(sn, TerminalSafe(row->otherAddress), AddressText(row->planned.ip));
    }
    row->status = AssignStatus::NotConfirmed;
    return row->answeredAtOld ? QStringLiteral("%1 not confirmed: it still answers at %2")
                                    .arg(sn, TerminalSafe(row->oldIp.value_or(QString())))
                              : QStringLiteral("%1 not confirmed: no answer from it").arg(sn);
}

AssignRun::AssignRun(const AssignRequest& request, const AssignPlan& plan)
    : m_request(request)
    , m_plan(plan.assignments)
    , m_range(plan.range)
    , m_search(
          request.search, [this](const QString& line) { m_progress.line("devicesearch-cli: " + line); },
          false)
    , m_writer(request.format, AssignCsvHeader(request.byteOrderMark))
{
}

int AssignRun::exec()
{
    QString why;
    if (!m_request.logPath.isEmpty() && !m_log.open(m_request.logPath, &why)) {
        err(QStringLiteral("devicesearch-cli: cannot keep the log %1: %2; nothing was sent")
                .arg(m_request.logPath, why));
        return kUsage;
    }
    if (!m_search.open(&why)) {
        err("devicesearch-cli: " + why);
        return kNoNetwork;
    }
    QObject::connect(&m_search, &DeviceSearch::answered, [this](const Entry& e) { answered(e); });
    QObject::connect(&m_search, &DeviceSearch::finished, [this] { searchEnded(); });
    QObject::connect(&m_ticker, &QTimer::timeout, [this] { showProgress(); });
    QObject::connect(&m_stops, &StopSignals::stopRequested, [this](int n) { stopRequested(n); });
    if (!m_stops.install(&why))
        m_progress.line("devicesearch-cli: " + why);
    m_progress.show(QStringLiteral("searching for %1 s").arg(m_request.search.waitSeconds));
    m_search.start();
    QCoreApplication::exec();
    return m_status;
}

void AssignRun::answered(const Entry& entry)
{
    if (m_confirming)
        confirm(entry);
    else
        NoteHeard(&m_heard, entry);
}

// Nothing more goes out: the search or the confirmation ends now, the commands still to
// send are not sent, and a further request ends the process at once.
void AssignRun::stopRequested(int n)
{
    StopSignals::setFinishing();
    m_stoppedBy = n;
    if (m_check)
        m_check->cancel(); // checked() then reports
    // The sending loop asks before each command.
    if (!m_sending)
        m_search.stop();
}

void AssignRun::searchEnded()
{
    if (m_stoppedBy != 0 && !m_confirming) {
        // Cut short during the first search: the devices known so far, none sent.
        m_progress.clear();
        m_rows = PlannedRows(m_plan, m_heard);
        m_writer.begin();
    }
    const std::optional<int> status = m_confirming || m_stoppedBy != 0 ? report() : afterSearch();
    if (!status)
        return;
    m_status = *status;
    QCoreApplication::quit();
}

std::optional<int> AssignRun::afterSearch()
{
    m_progress.clear();
    if (m_request.all) {
        const QStringList serials = ConfigurableSerials(m_heard);
        if (serials.isEmpty()) {
            err(QStringLiteral("devicesearch-cli: no configurable device answered; nothing was sent"));
            return kNoAnswer;
        }
        PlanError problem;
        if (!RangeAssignments(m_range, serials, &m_plan, &problem) || !CheckAssignments(m_plan, &problem))
            return refuse(m_request, problem);
    }
    const QStringList problems = CheckAgainstSearch(m_plan, m_heard);
    if (!problems.isEmpty()) {
        for (const QString& line : problems)
            err(line);
        return kNoAnswer;
    }
    return startCheck();
}

int AssignRun::adapterIndex(const QString& interfaceName) const
{
    for (const InterfaceInfo& info : m_request.search.interfaces) {
        if (info.name == interfaceName)
            return info.index;
    }
    return 0;
}

// Whether the new addresses are held, on each device's link, while the loop goes on.
std::optional<int> AssignRun::startCheck()
{
    m_rows = PlannedRows(m_plan, m_heard);
    AddressCheckInput input;
    QSet<QString> planned;
    for (const Assignment& a : m_plan)
        planned.insert(a.sn);
    for (const Entry& e : m_heard.entries) {
        bool ok = false;
        const quint32 address = e.device.ip ? QHostAddress(*e.device.ip).toIPv4Address(&ok) : 0;
        if (!ok || e.device.kind != AnswerKind::Reply)
            continue;
        const HeardAddress heard { e.device.sn.value_or(QString()), address, adapterIndex(e.interfaceName) };
        input.heard.append(heard);
        // A device of the plan leaves where it answers; a serial number that answered from
        // two addresses was refused before.
        if (planned.contains(heard.serial))
            input.moving.append(heard);
    }
    input.own = ThisComputerAddresses();
    if (m_request.taken == TakenAddresses::Skip) {
        // Every address of the range on each adapter: the free ones are handed out in turn.
        QSet<int> adapters;
        for (const AssignRow& row : m_rows)
            adapters.insert(adapterIndex(row.interfaceName));
        for (int adapter : adapters) {
            for (uint64_t a = m_range.start; a <= SkipRangeLast(m_range); ++a)
                input.queries.push_back({ uint32_t(a), adapter });
        }
    } else {
        for (const AssignRow& row : m_rows)
            input.queries.push_back({ row.planned.ip, adapterIndex(row.interfaceName) });
    }
    m_progress.show(QStringLiteral("checking %1 addresses").arg(input.queries.size()));
    std::unique_ptr<LinkProbe> link = m_request.linkCheck ? SystemLinkProbe() : nullptr;
    m_check = std::make_unique<AddressCheckThread>(std::move(input), std::move(link));
    // Queued to this thread: finished() is emitted by the check's own.
    QObject::connect(m_check.get(), &QThread::finished, &m_search, [this] { checked(); });
    m_check->start();
    return std::nullopt;
}

void AssignRun::checked()
{
    m_progress.clear();
    std::optional<int> end;
    if (m_stoppedBy != 0) {
        m_writer.begin();
        end = report();
    } else {
        const VerdictOf verdict = checkVerdicts();
        if (m_request.taken == TakenAddresses::Skip)
            end = skipTaken(verdict);
        if (!end)
            end = noteVerdicts(verdict);
        if (!end)
            end = sendOrShow();
    }
    if (end) {
        m_status = *end;
        QCoreApplication::quit();
    }
}

// The check's verdict on an address on an adapter.
AssignRun::VerdictOf AssignRun::checkVerdicts() const
{
    const AddressCheckInput& input = m_check->input();
    const std::vector<AddressVerdict>& verdicts = m_check->verdicts();
    auto verdictOf = std::make_shared<std::map<std::pair<uint32_t, int>, AddressVerdict>>();
    for (size_t i = 0; i < verdicts.size(); ++i) {
        AddressVerdict v = verdicts[i];
        // --no-check: what the link was not asked stays unchecked without a word.
        if (!m_request.linkCheck && v.state == AddressState::Unchecked)
            v.reason = UncheckedReason::None;
        (*verdictOf)[{ input.queries[i].address, input.queries[i].adapter }] = v;
    }
    return [verdictOf](uint32_t address, int adapter) {
        const auto found = verdictOf->find({ address, adapter });
        return found == verdictOf->end() ? AddressVerdict::unchecked(UncheckedReason::None) : found->second;
    };
}

// --skip-taken: each device gets the next address of the range that no other host holds.
// The exit status when the range runs short or the new plan fails its checks.
std::optional<int> AssignRun::skipTaken(const VerdictOf& verdict)
{
    std::vector<int> adapters;
    for (const AssignRow& row : m_rows)
        adapters.push_back(adapterIndex(row.interfaceName));
    const uint32_t last = SkipRangeLast(m_range);
    const std::vector<std::optional<uint32_t>> given = SkipTaken(m_range.start, last, adapters, verdict);
    const int usable = int(std::count_if(given.begin(), given.end(), [](const auto& a) { return bool(a); }));
    if (usable < m_rows.size()) {
        err(QStringLiteral(
            "devicesearch-cli: the range %1-%2 has %3 addresses that no other host holds for %4 "
            "devices; nothing was sent")
                .arg(AddressText(m_range.start), AddressText(last))
                .arg(usable)
                .arg(m_rows.size()));
        return kNoAnswer;
    }
    for (int k = 0; k < m_rows.size(); ++k) {
        Assignment& a = m_rows[k].planned;
        a.ip = *given[size_t(k)];
        a.gateway = m_range.gateway.value_or(DefaultGatewayAddress(a.ip));
        m_plan[k] = a;
    }
    PlanError problem;
    if (!CheckAssignments(m_plan, &problem))
        return refuse(m_request, problem);
    return std::nullopt;
}

// Each row's check, and a line for what was taken or could not be checked. The exit status
// when a taken address stops the run.
std::optional<int> AssignRun::noteVerdicts(const VerdictOf& verdict)
{
    QStringList taken;
    std::vector<AddressVerdict> plannedVerdicts;
    // (interface, reason) to a count, and the most recent sighting of a holder last seen long ago
    std::map<std::pair<QString, int>, std::pair<int, int>> unchecked;
    for (AssignRow& row : m_rows) {
        const AddressVerdict v = verdict(row.planned.ip, adapterIndex(row.interfaceName));
        plannedVerdicts.push_back(v);
        const bool allowed = v.state == AddressState::Taken && m_request.taken == TakenAddresses::Allow;
        row.check = CheckText(v, allowed);
        if (v.state == AddressState::Taken)
            taken << TakenLine(row.planned, row.interfaceName, v, allowed);
        else if (v.state == AddressState::Unchecked && v.reason != UncheckedReason::None) {
            auto& [count, minutes] = unchecked[{ row.interfaceName, int(v.reason) }];
            minutes = count == 0 ? v.lastSeenMinutes : std::min(minutes, v.lastSeenMinutes);
            ++count;
        }
    }
    for (const auto& [where, seen] : unchecked)
        err(UncheckedLine(seen.first, where.first, UncheckedReason(where.second), seen.second));
    for (const QString& line : taken)
        err(line);
    for (const QString& mac : ManyAddressHolders(plannedVerdicts))
        err(QStringLiteral(
            "devicesearch-cli: %1 answers for %2 of these addresses: most likely a router answering "
            "for others (proxy ARP)")
                .arg(mac)
                .arg(std::count_if(plannedVerdicts.begin(), plannedVerdicts.end(),
                    [&mac](const AddressVerdict& v) { return v.mac == mac; })));
    if (!taken.isEmpty() && m_request.taken != TakenAddresses::Allow)
        return kNoAnswer;
    return std::nullopt;
}

// The commands, or with --dry-run the rows as they would be sent. None: confirming.
std::optional<int> AssignRun::sendOrShow()
{
    m_writer.begin();
    if (!m_request.dryRun)
        return sendAll();
    for (const AssignRow& row : m_rows)
        m_writer.final(row);
    m_writer.finish(m_rows);
    err(QStringLiteral("%1 devices planned; nothing was sent (--dry-run)").arg(m_rows.size()));
    return kDone;
}

std::optional<int> AssignRun::sendAll()
{
    // Back to back, before any answer is read; a stop request or a log that fails keeps
    // the rest back.
    m_clock.start();
    m_sending = true;
    for (AssignRow& row : m_rows) {
        m_stops.deliverPending();
        if (m_stoppedBy != 0 || !m_logError.isEmpty())
            break;
        send(&row);
    }
    m_sending = false;
    if (m_request.verifySeconds > 0 && countSent(m_rows) > 0 && m_stoppedBy == 0) {
        startConfirming();
        return std::nullopt;
    }
    return report();
}

void AssignRun::send(AssignRow* row)
{
    QString why;
    if (m_log.isOpen() && !m_log.write(*row, true, &why)) {
        m_logError
            = QStringLiteral("devicesearch-cli: cannot write to the log %1: %2; the commands left were "
                             "not sent")
                  .arg(m_request.logPath, why);
        m_progress.line(m_logError);
        return;
    }
    if (m_search.sendCommand(row->interfaceName, AssignmentFrame(row->planned), &why)) {
        row->status = AssignStatus::Sent;
        row->sentMs = m_clock.elapsed();
        return;
    }
    row->status = AssignStatus::NotSent;
    m_progress.line(QStringLiteral("devicesearch-cli: the command for %1 was not sent %2")
                        .arg(SerialForMessage(row->planned.sn), why));
    settled(*row);
}

// A row's status is final: its line in the log, and in the output as it comes.
void AssignRun::settled(const AssignRow& row)
{
    QString why;
    if (m_log.isOpen() && m_logError.isEmpty() && !m_log.write(row, false, &why)) {
        m_logError
            = QStringLiteral("devicesearch-cli: cannot write to the log %1: %2").arg(m_request.logPath, why);
        m_progress.line(m_logError);
    }
    m_writer.final(row);
}

void AssignRun::startConfirming()
{
    for (int i = 0; i < m_rows.size(); ++i)
        m_rowOf.insert(m_rows[i].planned.sn, i);
    m_confirming = true;
    m_ticker.start(1000);
    showProgress();
    const double seconds = m_request.verifySeconds;
    m_search.searchAgain(seconds, std::max(1, int(std::ceil(seconds))));
}

void AssignRun::confirm(const Entry& e)
{
    if (!e.device.sn || !e.device.ip)
        return;
    const auto found = m_rowOf.constFind(*e.device.sn);
    if (found == m_rowOf.constEnd())
        return;
    AssignRow& row = m_rows[*found];
    if (!NoteAnswerAfterCommand(&row, *e.device.ip, m_clock.elapsed()))
        return;
    m_progress.line(
        QStringLiteral("%1 confirmed at %2 after %3 s")
            .arg(TerminalSafe(row.planned.sn), AddressText(row.planned.ip), secondsText(*row.seconds)));
    settled(row);
    showProgress();
    if (countStatus(m_rows, AssignStatus::Sent) == 0)
        m_search.stop();
}

void AssignRun::showProgress()
{
    const qint64 verifyMs = qint64(m_request.verifySeconds * 1000);
    const qint64 left = std::max<qint64>(0, verifyMs - m_clock.elapsed());
    const int confirmed = countStatus(m_rows, AssignStatus::Confirmed);
    m_progress.show(QStringLiteral("%1/%2 confirmed, %3 s left")
                        .arg(confirmed)
                        .arg(confirmed + countStatus(m_rows, AssignStatus::Sent))
                        .arg((left + 999) / 1000));
}

// Every row's final status, the summary and the exit status, however the run ended.
int AssignRun::report()
{
    m_ticker.stop();
    m_progress.clear();
    // Without a confirmation, a command sent is as far as a row gets.
    const int sent = countSent(m_rows);
    const bool verifying = m_request.verifySeconds > 0 && sent > 0;
    QList<AssignRow> settling;
    QStringList unconfirmed; // why, for standard error
    for (AssignRow& row : m_rows) {
        if (row.status == AssignStatus::Planned)
            row.status = AssignStatus::NotSent;
        else if (row.status == AssignStatus::Sent && verifying)
            unconfirmed << SettleUnconfirmed(&row);
        else if (row.status != AssignStatus::Sent)
            continue;
        settling << row;
    }
    // The log first and at one go: after a closed console only seconds are left, and the
    // console may be gone.
    QString problem;
    if (m_log.isOpen() && m_logError.isEmpty() && !m_log.writeFinal(settling, &problem)) {
        m_logError = QStringLiteral("devicesearch-cli: cannot write to the log %1: %2")
                         .arg(m_request.logPath, problem);
        err(m_logError);
    }
    for (const QString& line : unconfirmed)
        err(line);
    for (const AssignRow& row : settling)
        m_writer.final(row);
    m_writer.finish(m_rows);
    const int confirmed = countStatus(m_rows, AssignStatus::Confirmed);
    const int done = verifying ? confirmed : sent;
    err(verifying ? QStringLiteral("%1 of %2 devices confirmed in %3 s")
                        .arg(confirmed)
                        .arg(m_rows.size())
                        .arg(secondsText(m_clock.elapsed() / 1000.0))
                  : QStringLiteral("%1 of %2 commands sent").arg(sent).arg(m_rows.size()));
    if (m_stoppedBy != 0)
        err(QStringLiteral("devicesearch-cli: interrupted by %1; %2 of %3 commands not sent")
                .arg(StopSignalName(m_stoppedBy))
                .arg(countStatus(m_rows, AssignStatus::NotSent))
                .arg(m_rows.size()));
    if (!m_logError.isEmpty())
        return kUsage;
    return m_stoppedBy != 0 ? 128 + m_stoppedBy : done == m_rows.size() ? kDone : kNoAnswer;
}

bool PlanAssign(const AssignRequest& request, AssignPlan* plan)
{
    PlanError problem;
    if (planBeforeSearch(request, &plan->assignments, &plan->range, &problem))
        return true;
    refuse(request, problem);
    return false;
}

int RunAssign(const AssignRequest& request, const AssignPlan& plan)
{
    return AssignRun(request, plan).exec();
}

QString TakenLine(const Assignment& a, const QString& interfaceName, const AddressVerdict& v, bool sent)
{
    QString holder;
    switch (v.holder) {
    case HolderKind::ThisComputer:
        holder = QStringLiteral("this computer");
        break;
    case HolderKind::Device:
        holder = v.holderSerial.isEmpty()
            ? QStringLiteral("a device of this search that names no serial number")
            : SerialForMessage(v.holderSerial) + QStringLiteral(", a device of this search");
        break;
    default:
        holder = v.mac + QStringLiteral(" (not a device of this search)");
    }
    return QStringLiteral("devicesearch-cli: %1 for %2 is in use on %3 by %4; %5")
        .arg(AddressText(a.ip), SerialForMessage(a.sn),
            interfaceName.isEmpty() ? QStringLiteral("the network") : TerminalSafe(interfaceName), holder,
            sent ? QStringLiteral("sent anyway (--allow-taken)") : QStringLiteral("nothing was sent"));
}

QString UncheckedLine(int count, const QString& interfaceName, UncheckedReason why, int minutes)
{
    const QString name
        = interfaceName.isEmpty() ? QStringLiteral("the network") : TerminalSafe(interfaceName);
    QString because;
    switch (why) {
    case UncheckedReason::OffLink:
#ifdef _WIN32
        because
            = QStringLiteral("they are outside %1's subnets (add an address of their subnet to %1 to have "
                             "them checked)")
                  .arg(name);
#else
        because = QStringLiteral(
            "they are outside %1's subnets, and only raw ARP probes reach them (run as root, "
            "or install devicesearch-probe with CAP_NET_RAW)")
                      .arg(name);
#endif
        break;
    case UncheckedReason::AdapterGone:
        because = QStringLiteral("%1 went away during the check").arg(name);
        break;
    case UncheckedReason::UnknownAdapter:
        because = QStringLiteral("the system did not say which adapter their devices answered on");
        break;
    case UncheckedReason::ProbeBusy:
        because
            = QStringLiteral("the probe helper is busy (another check on %1 did not end in time)").arg(name);
        break;
    case UncheckedReason::ProbeFailed:
        because = QStringLiteral("the probe helper failed");
        break;
    case UncheckedReason::HolderLastSeen:
        because = QStringLiteral("the system last saw a holder %1 %2 ago, and none answered during the check")
                      .arg(count == 1 ? QString::number(minutes) : QStringLiteral("%1 or more").arg(minutes),
                          minutes == 1 && count == 1 ? QStringLiteral("minute") : QStringLiteral("minutes"));
        break;
    default:
        because = QStringLiteral("%1 resolves no addresses").arg(name);
    }
    return QStringLiteral("devicesearch-cli: %1 %2 on %3 %4 not checked: %5")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("new address") : QStringLiteral("new addresses"), name,
            count == 1 ? QStringLiteral("was") : QStringLiteral("were"), because);
}

QString CheckText(const AddressVerdict& v, bool allowed)
{
    switch (v.state) {
    case AddressState::Free:
        return QStringLiteral("free");
    case AddressState::Taken:
        return allowed ? QStringLiteral("allowed") : QStringLiteral("taken");
    default:
        return QStringLiteral("unchecked");
    }
}

uint32_t SkipRangeLast(const AddressRange& range)
{
    return range.end.value_or((range.start & 0xFFFFFF00u) | 254u);
}
