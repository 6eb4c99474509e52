#include "listenerreports.h"

ListenerReports* ListenerReports::instance()
{
    static ListenerReports* const kept = new ListenerReports;
    return kept;
}
