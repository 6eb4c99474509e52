#include "diagnostics.h"

#include "netcompat.h"

#include <cstdarg>
#include <cstdio>

void DiagPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}

void DiagPerror(const char* what)
{
    fflush(stdout);
    if (net::kErrnoTellsSocketErrors)
        perror(what);
    else
        fprintf(stderr, "%s: socket error %d\n", what, net::lastError());
    fflush(stderr);
}
