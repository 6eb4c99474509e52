// The set button's look at the addresses it is about to give: which rows the batch is,
// what to ask the link, which address each row gets, and what the notice and the status
// line say about taken and unchecked addresses. Plain functions over the table's contents
// and the check's verdicts; the window only shows them.
#pragma once

#include "addresscheck.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// A row of the table as the batch sees it.
struct ListedRow {
    QString ip; // the IP cell as shown; null when the row has none
    QString serial; // the serial number cell
    int adapter = 0; // the interface its device answered on; 0 when not known
    bool ticked = false;
};

// A device of the batch: a ticked row.
struct BatchRow {
    int row = 0;
    QString serial;
    int adapter = 0;
    std::optional<uint32_t> heardAt; // the address its row shows, where that is one
};

// Per row of the batch, the address it gets; none where the range ran short.
using RowAddresses = std::vector<std::optional<uint32_t>>;

struct BatchCheck {
    uint32_t first = 0;
    uint32_t last = 0; // the end address for several rows, the start address for one
    std::vector<BatchRow> rows; // the ticked rows, in table order
    AddressCheckInput input;
};

// The ticked rows, and what to ask about every address of [start, end] (start alone for one
// row) on each adapter of the batch, so that skipping knows the free ones too. Every row
// whose IP cell is an address is a device heard, and a ticked one a device that moves; own
// is this computer's addresses.
BatchCheck PrepareBatchCheck(
    const QList<ListedRow>& table, uint32_t start, uint32_t end, const QSet<uint32_t>& own);

// A plan's rows: the table row of each device to set, in the plan's order, and its new
// address; given gets those addresses. Every row whose IP cell is an address is a device
// heard, and each of the plan's a device that moves.
BatchCheck PreparePlanCheck(const QList<ListedRow>& table, const QList<QPair<int, uint32_t>>& planned,
    const QSet<uint32_t>& own, std::vector<std::optional<uint32_t>>* given);

// The verdicts of a check, by address and adapter.
class BatchVerdicts {
public:
    BatchVerdicts(const AddressCheckInput& input, std::vector<AddressVerdict> verdicts);
    // Unchecked when it was not asked.
    AddressVerdict of(uint32_t address, int adapter) const;
    const std::vector<AddressVerdict>& all() const { return m_all; }

private:
    std::vector<AddressVerdict> m_all;
    QHash<QPair<uint32_t, int>, int> m_index;
};

// The k-th row gets first + k, up to last.
RowAddresses PlannedAddresses(const BatchCheck& batch);
// The k-th row gets the k-th address of the range that is not taken on its adapter.
RowAddresses SkippingTaken(const BatchCheck& batch, const BatchVerdicts& verdicts);

// One line per taken address among those given: the address, its row's serial number and
// who holds it.
QStringList TakenLines(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts);
// The notice's text: the taken addresses, and the hosts that answer for many addresses of
// the check. Empty when none of those given is taken.
QString TakenNotice(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts);

// What the status line says while the link is asked.
QString CheckingText(int addresses);

struct StatusNote {
    QString text;
    QString toolTip;
};
// After the commands: the addresses that could not be checked, by reason, and the rows that
// got no address. Empty when every address given was checked and every row got one.
StatusNote AssignmentNote(const BatchCheck& batch, const RowAddresses& given, const BatchVerdicts& verdicts);
