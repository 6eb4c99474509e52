// The program's own pieces in this process, wired as main() wires them: the window's ingest
// of the traffic (programingest.cpp) and the growth of its table (tablegrowth.cpp).
#pragma once

#include "devicesearchfixture.h"
#include "ingestcommon.h"

class ProgramInProcess {
public:
    ProgramInProcess();

    // The receive buffer each of the program's sockets really got, beside a new socket's default.
    std::vector<Row> bufferRows() const;

    // A search with no device listening empties the table.
    void clear();

    Ingest ingest(const Traffic& traffic);
    Ingest run(const Traffic& traffic);

    DeviceSearchFixture fixture;
    long long lastRowNs = 0;
};

// Rows added one by one from a thread up to rows: the first and the last block of them,
// and the memory they take.
std::vector<Row> tableGrowthRows(ProgramInProcess& program, int rows);

// The window on two LANs: bursts on both adapters at once, and a search on twenty adapters.
std::vector<Row> twoLanRows(ProgramInProcess& program, bool* complete);
