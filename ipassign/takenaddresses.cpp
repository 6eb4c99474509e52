#include "takenaddresses.h"

#include "addressrules.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {
// A notice taller than the screen hides its buttons; proxy ARP can take a whole range.
constexpr int kNoticeLines = 15;

// The texts are in the window's context, in its catalogue beside the form's.
QString list(const QStringList& items)
{
    return items.join(QCoreApplication::translate("MainWindow", "、", "between the items of a list"));
}

QString serialText(const QString& serial)
{
    return serial.isEmpty() ? QCoreApplication::translate("MainWindow", "（无序列号）") : serial;
}

QString holderText(const AddressVerdict& verdict)
{
    switch (verdict.holder) {
    case HolderKind::ThisComputer:
        return QCoreApplication::translate("MainWindow", "已被本机占用");
    case HolderKind::Device:
        if (verdict.holderSerial.isEmpty())
            return QCoreApplication::translate("MainWindow", "已被本次搜索到的一台无序列号的设备占用");
        return QCoreApplication::translate("MainWindow", "已被本次搜索到的设备 %1 占用")
            .arg(verdict.holderSerial);
    case HolderKind::Host:
    case HolderKind::None:
        break;
    }
    return QCoreApplication::translate("MainWindow", "已被 %1 占用").arg(verdict.mac);
}

// An unchecked verdict without a reason is a failure of the system, as far as anyone can tell.
UncheckedReason shownReason(const AddressVerdict& verdict)
{
    return verdict.reason == UncheckedReason::None ? UncheckedReason::CannotResolve : verdict.reason;
}

// minutes: for a holder last seen long ago, the most recent sighting among the addresses.
QString reasonText(UncheckedReason reason, int count, int minutes)
{
    switch (reason) {
    case UncheckedReason::OffLink:
        return QCoreApplication::translate(
            "MainWindow", "%n 个地址未能检查：不在该网卡的网段内", nullptr, count);
    case UncheckedReason::AdapterGone:
        return QCoreApplication::translate(
            "MainWindow", "%n 个地址未能检查：网卡已断开或停用", nullptr, count);
    case UncheckedReason::UnknownAdapter:
        return QCoreApplication::translate(
            "MainWindow", "%n 个地址未能检查：不知道设备应答所用的网卡", nullptr, count);
    case UncheckedReason::ProbeBusy:
        return QCoreApplication::translate("MainWindow", "%n 个地址未能检查：探测助手正忙", nullptr, count);
    case UncheckedReason::ProbeFailed:
        return QCoreApplication::translate("MainWindow", "%n 个地址未能检查：探测助手出错", nullptr, count);
    case UncheckedReason::HolderLastSeen:
        return QCoreApplication::translate(
            "MainWindow", "%n 个地址未能检查：系统上次见到占用者已是 %1 分钟以前", nullptr, count)
            .arg(minutes);
    case UncheckedReason::CannotResolve:
    case UncheckedReason::None:
        break;
    }
    return QCoreApplication::translate("MainWindow", "%n 个地址未能检查：该网卡无法解析地址", nullptr, count);
}
}

namespace {
// Where a row's device answers from: its IP cell, where that is an address.
bool heardAddress(const ListedRow& listed, uint32_t* address)
{
    return !listed.ip.isNull() && DottedAddressProblem(listed.ip, address).isEmpty();
}
}

BatchCheck PrepareBatchCheck(
    const QList<ListedRow>& table, uint32_t start, uint32_t end, const QSet<uint32_t>& own)
{
    BatchCheck batch;
    QList<int> adapters;
    int ticked = 0;
    for (const ListedRow& listed : table)
        ticked += listed.ticked ? 1 : 0;
    batch.first = start;
    batch.last = ticked >= 2 ? end : start;
    // A ticked row past the end of the range gets no address, so it stays where it is.
    const uint64_t given = batch.last >= batch.first ? uint64_t(batch.last) - batch.first + 1 : 0;
    for (int row = 0; row < table.size(); ++row) {
        const ListedRow& listed = table.at(row);
        uint32_t address = 0;
        const bool heard = heardAddress(listed, &address);
        if (heard)
            batch.input.heard.append({ listed.serial, address, listed.adapter });
        if (!listed.ticked)
            continue;
        batch.rows.push_back({ row, listed.serial, listed.adapter, {} });
        if (heard)
            batch.rows.back().heardAt = address;
        // Its other rows (its announcement) at this address leave with it; a row at another
        // address that names its serial number stays.
        if (heard && !listed.serial.isEmpty() && batch.rows.size() <= given)
            batch.input.moving.append({ listed.serial, address, listed.adapter });
        if (!adapters.contains(listed.adapter))
            adapters.append(listed.adapter);
    }
    for (int adapter : adapters) {
        for (uint64_t a = batch.first; a <= batch.last; ++a)
            batch.input.queries.push_back({ uint32_t(a), adapter });
    }
    batch.input.own = own;
    return batch;
}

BatchCheck PreparePlanCheck(const QList<ListedRow>& table, const QList<QPair<int, uint32_t>>& planned,
    const QSet<uint32_t>& own, RowAddresses* given)
{
    BatchCheck batch;
    QHash<int, uint32_t> heardAt; // by row
    for (int row = 0; row < table.size(); ++row) {
        const ListedRow& listed = table.at(row);
        uint32_t address = 0;
        if (heardAddress(listed, &address)) {
            batch.input.heard.append({ listed.serial, address, listed.adapter });
            heardAt.insert(row, address);
        }
    }
    given->clear();
    for (const auto& [row, address] : planned) {
        const ListedRow& listed = table.at(row);
        batch.rows.push_back({ row, listed.serial, listed.adapter, {} });
        if (heardAt.contains(row)) {
            batch.rows.back().heardAt = heardAt.value(row);
            batch.input.moving.append({ listed.serial, heardAt.value(row), listed.adapter });
        }
        batch.input.queries.push_back({ address, listed.adapter });
        given->push_back(address);
    }
    batch.input.own = own;
    return batch;
}

BatchVerdicts::BatchVerdicts(const AddressCheckInput& input, std::vector<AddressVerdict> verdicts)
    : m_all(std::move(verdicts))
{
    m_all.resize(input.queries.size(), AddressVerdict::unchecked(UncheckedReason::CannotResolve));
    for (size_t i = 0; i < input.queries.size(); ++i)
        m_index.insert({ input.queries[i].address, input.queries[i].adapter }, int(i));
}

AddressVerdict BatchVerdicts::of(uint32_t address, int adapter) const
{
    const auto found = m_index.constFind({ address, adapter });
    return found == m_index.constEnd() ? AddressVerdict::unchecked(UncheckedReason::CannotResolve)
                                       : m_all[size_t(*found)];
}

RowAddresses PlannedAddresses(const BatchCheck& batch)
{
    RowAddresses planned(batch.rows.size());
    for (size_t k = 0; k < planned.size(); ++k) {
        const uint64_t address = uint64_t(batch.first) + k;
        if (address > batch.last)
            break;
        planned[k] = uint32_t(address);
    }
    return planned;
}

RowAddresses SkippingTaken(const BatchCheck& batch, const BatchVerdicts& verdicts)
{
    std::vector<int> adapters;
    for (const BatchRow& row : batch.rows)
        adapters.push_back(row.adapter);
    // A row that skipping leaves without an address keeps the one it has, which the check
    // took as vacated: hold it and skip again, until no such row's address is given away.
    QSet<QPair<uint32_t, int>> kept;
    for (;;) {
        const RowAddresses given
            = SkipTaken(batch.first, batch.last, adapters, [&](uint32_t address, int adapter) {
                  return kept.contains({ address, adapter }) ? AddressVerdict { AddressState::Taken,
                      HolderKind::Device, {}, {}, UncheckedReason::None }
                                                             : verdicts.of(address, adapter);
              });
        bool more = false;
        for (size_t k = 0; k < given.size(); ++k) {
            const BatchRow& row = batch.rows[k];
            if (!given[k] && row.heardAt && !kept.contains({ *row.heardAt, row.adapter })) {
                kept.insert({ *row.heardAt, row.adapter });
                more = true;
            }
        }
        if (!more)
            return given;
    }
}

QStringList TakenLines(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts)
{
    QStringList lines;
    for (size_t k = 0; k < batch.rows.size() && k < given.size(); ++k) {
        if (!given[k])
            continue;
        const AddressVerdict verdict = verdicts.of(*given[k], batch.rows[k].adapter);
        if (verdict.state != AddressState::Taken)
            continue;
        const QString& serial = batch.rows[k].serial;
        const QString address = AddressText(*given[k]);
        lines << (serial.isEmpty() ? QCoreApplication::translate("MainWindow", "%1（无序列号设备的新地址）%2")
                                         .arg(address, holderText(verdict))
                                   : QCoreApplication::translate("MainWindow", "%1（%2 的新地址）%3")
                                         .arg(address, serial, holderText(verdict)));
    }
    return lines;
}

QString TakenNotice(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts)
{
    QStringList lines = TakenLines(batch, given, verdicts);
    if (lines.isEmpty())
        return QString();
    const int taken = lines.size();
    if (lines.size() > kNoticeLines) {
        const int more = lines.size() - (kNoticeLines - 1);
        lines = lines.mid(0, kNoticeLines - 1);
        lines << QCoreApplication::translate("MainWindow", "……另有 %n 个", nullptr, more);
    }
    lines.prepend(QCoreApplication::translate("MainWindow", "%n 个新地址已被占用：", nullptr, taken));
    for (const QString& mac : ManyAddressHolders(verdicts.all())) {
        lines << QCoreApplication::translate(
            "MainWindow", "%1 应答了许多地址，可能是一台代替其他主机应答的路由器（代理 ARP）。")
                     .arg(mac);
    }
    return lines.join(QLatin1Char('\n'));
}

QString CheckingText(int addresses)
{
    return QCoreApplication::translate("MainWindow", "正在检查 %n 个地址…", nullptr, addresses);
}

StatusNote AssignmentNote(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts)
{
    const UncheckedReason reasons[] = { UncheckedReason::OffLink, UncheckedReason::AdapterGone,
        UncheckedReason::CannotResolve, UncheckedReason::UnknownAdapter, UncheckedReason::ProbeBusy,
        UncheckedReason::ProbeFailed, UncheckedReason::HolderLastSeen };
    QStringList sentences;
    QStringList tipLines;
    for (UncheckedReason reason : reasons) {
        int count = 0;
        int minutes = 0;
        for (size_t k = 0; k < batch.rows.size() && k < given.size(); ++k) {
            if (!given[k])
                continue;
            const AddressVerdict verdict = verdicts.of(*given[k], batch.rows[k].adapter);
            if (verdict.state != AddressState::Unchecked || shownReason(verdict) != reason)
                continue;
            minutes = count == 0 ? verdict.lastSeenMinutes : std::min(minutes, verdict.lastSeenMinutes);
            ++count;
            tipLines << QStringLiteral("%1  %2").arg(
                AddressText(*given[k]), serialText(batch.rows[k].serial));
        }
        if (count > 0)
            sentences << reasonText(reason, count, minutes);
    }
    QStringList without;
    for (size_t k = 0; k < batch.rows.size(); ++k) {
        if (k >= given.size() || !given[k])
            without << serialText(batch.rows[k].serial);
    }
    if (!without.isEmpty()) {
        sentences << QCoreApplication::translate(
            "MainWindow", "%n 台设备未分配到地址：范围内的地址不够", nullptr, without.size());
        tipLines << QCoreApplication::translate("MainWindow", "未分配到地址：%1").arg(list(without));
    }
    return { sentences.join(
                 QCoreApplication::translate("MainWindow", "；", "between the sentences of the status line")),
        tipLines.join(QLatin1Char('\n')) };
}
