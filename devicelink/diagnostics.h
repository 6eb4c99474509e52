#pragma once

// printf to standard output, flushed at once so that a log or a pipe sees each line
// even when the process is later killed.
void DiagPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// perror for a failed socket call, flushed likewise; where errno does not tell socket
// errors (Winsock), the socket error number after the text instead.
void DiagPerror(const char* what);
