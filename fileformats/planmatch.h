// A plan held against the devices a search found: which rows can be set, and why the others
// cannot. Both programs present this answer; neither guesses from a hint.
#pragma once

#include "plan.h"

#include <QList>
#include <QString>
#include <QStringList>

// One answer of the search.
struct FoundAnswer {
    QString serial; // empty when the answer named none
    QString address; // as it answered; empty when it did not say
    int adapter = 0; // where it answered; 0 when not known
    bool reply = true; // an announcement says where a device is, not that it can be set
    bool configurable = false; // a reply that names "libver"
};

enum class PlanState {
    Set,
    NotFound,
    NotConfigurable, // answered, but never with "libver"
    TwoAddresses, // replies from more than one address: more than one device has that serial
    TwoAdapters, // replies on more than one adapter: which one leads to it is not known
    NoMask, // neither the row nor the defaults give a mask
};

struct PlanLine {
    PlanState state = PlanState::NotFound;
    int found = -1; // the first configurable reply of its serial number: where to send
    int first = -1; // what describes the device: its first reply, else its first answer
    QStringList addresses; // TwoAddresses: every one, sorted
    QString hint; // NotFound: the serial number as a spreadsheet may have changed it
};

struct PlanMatch {
    QList<PlanLine> lines; // one per row of the plan, in its order
    // What describes each device the plan does not name, as PlanLine::first (an answer without a serial
    // number counts on its own), in the order found.
    QList<int> notInPlan;
    int count(PlanState state) const;
};

// The checks in order: found, configurable, one address, one adapter, a mask.
PlanMatch MatchPlan(const QList<Assignment>& plan, const QList<FoundAnswer>& found);
