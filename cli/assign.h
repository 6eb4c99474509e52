// devicesearch-cli assign: search, check everything, send one set-network command per
// device on the interface where it was heard, then search again until each answers with
// its new address.
#pragma once

#include "output.h"
#include "search.h"

#include <QString>
#include <QStringList>

struct AssignRequest {
    SearchOptions search;
    OutputFormat format = OutputFormat::Table;
    QString planFile; // empty: a range
    QString start;
    QString end; // empty: as long as the list of devices
    QString mask; // for a plan, the default of an empty or absent cell
    QString gateway; // empty: the address's first three octets and .1
    QStringList serials; // in the order given
    bool all = false; // every configurable device found, in serial-number order
    bool dryRun = false;
    double verifySeconds = 30; // 0: no confirmation
};

// The whole command; returns its exit status.
int RunAssign(const AssignRequest& request);
