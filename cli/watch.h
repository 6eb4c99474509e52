// devicesearch-cli watch: a search every few seconds on the same sockets, listening all the
// time, and an event each time a device appears, changes, goes away or comes back.
#pragma once

#include "output.h"
#include "search.h"

struct WatchRequest {
    SearchOptions search; // its interfaces; the rounds set the rest
    double everySeconds = 15;
    double goneAfterSeconds = 45; // three rounds unless asked
    OutputFormat format = OutputFormat::Table; // or JsonLines
};

// The whole command, until it is stopped; returns its exit status.
int RunWatch(const WatchRequest& request);
