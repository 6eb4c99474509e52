/* Stands in for netsh.exe in the test prefix (Wine's own stores no firewall rule): appends
   its command line to C:\netsh.log, one line a call, and succeeds. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    FILE* log = fopen("C:\\netsh.log", "ab");
    if (!log)
        return 1;
    fprintf(log, "%s\n", GetCommandLineA());
    fclose(log);
    return 0;
}
