// One accepted answer as the command line reports it.
#pragma once

#include "devicefields.h"

#include <QString>

struct Entry {
    DeviceFields device;
    QString from; // "a.b.c.d:port"
    QString interfaceName; // empty when the system did not say
    qint64 ms = 0; // since the first probe
};
