// One device of an assignment, from its plan to its last status.
#pragma once

#include "plan.h"

#include <QString>

#include <optional>

enum class AssignStatus { Planned, Sent, NotSent, Confirmed, NotConfirmed, OtherAddress };

// The status as every output format writes it.
QString AssignStatusText(AssignStatus status);

struct AssignRow {
    Assignment planned; // its serial number and new settings
    std::optional<QString> oldIp; // absent when its answer carried none
    QString interfaceName; // empty: every chosen interface
    AssignStatus status = AssignStatus::Planned;
    std::optional<double> seconds; // from its command to its confirmation
    QString check; // whether its new address was free: free, taken, unchecked, allowed
    qint64 sentMs = -1; // when its command went out, on the run's clock
    // What it answered with after its command, other than its new address.
    bool answeredAtOld = false;
    QString otherAddress; // the last third address
};
