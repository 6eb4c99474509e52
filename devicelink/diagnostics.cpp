#include "diagnostics.h"

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
    perror(what);
    fflush(stderr);
}
