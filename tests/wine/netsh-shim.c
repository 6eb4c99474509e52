/* Stands in for netsh.exe in the test prefix (Wine's own stores no firewall rule): appends
   its command line to C:\netsh.log, one line a call, and succeeds; while C:\netsh-fail
   exists it fails every call, as netsh does when the firewall's service is stopped. */
#include <stdio.h>
#include <windows.h>

int main(void)
{
    FILE* log = fopen("C:\\netsh.log", "ab");
    if (!log)
        return 1;
    fprintf(log, "%s\n", GetCommandLineA());
    fclose(log);
    return GetFileAttributesA("C:\\netsh-fail") == INVALID_FILE_ATTRIBUTES ? 0 : 1;
}
