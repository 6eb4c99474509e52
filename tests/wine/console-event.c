/* Raises a console event in a running Windows program as Windows itself does: a new
 * thread of that process starts in kernelbase's CtrlRoutine with the event as its argument.
 * For the end-to-end tests under Wine, where no console window can be closed.
 *
 *   console-event IMAGE.exe c|break|close
 * Exit status 0 once the thread runs; 1 with the reason when there is no such program. */
#include <windows.h>

#include <stdio.h>
#include <tlhelp32.h>
#include <wchar.h>

static DWORD findProcess(const wchar_t* image)
{
    DWORD pid = 0;
    HANDLE all = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = { sizeof(entry) };
    for (BOOL more = Process32FirstW(all, &entry); more; more = Process32NextW(all, &entry))
        if (_wcsicmp(entry.szExeFile, image) == 0)
            pid = entry.th32ProcessID;
    CloseHandle(all);
    return pid;
}

/* The routine's address in that process: its kernelbase's base, plus the routine's offset
 * in this process's copy. */
static LPTHREAD_START_ROUTINE routineIn(DWORD pid)
{
    HMODULE mine = GetModuleHandleW(L"kernelbase.dll");
    FARPROC routine = mine ? GetProcAddress(mine, "CtrlRoutine") : NULL;
    BYTE* theirs = NULL;
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    MODULEENTRY32W entry = { sizeof(entry) };
    for (BOOL more = Module32FirstW(modules, &entry); more; more = Module32NextW(modules, &entry))
        if (_wcsicmp(entry.szModule, L"kernelbase.dll") == 0)
            theirs = entry.modBaseAddr;
    CloseHandle(modules);
    if (!routine || !theirs)
        return NULL;
    return (LPTHREAD_START_ROUTINE)(void*)(theirs + ((BYTE*)(void*)routine - (BYTE*)mine));
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        fputs("usage: console-event IMAGE.exe c|break|close\n", stderr);
        return 2;
    }
    const DWORD event = wcscmp(argv[2], L"c") == 0 ? CTRL_C_EVENT
        : wcscmp(argv[2], L"break") == 0           ? CTRL_BREAK_EVENT
                                                   : CTRL_CLOSE_EVENT;
    const DWORD pid = findProcess(argv[1]);
    LPTHREAD_START_ROUTINE routine = pid ? routineIn(pid) : NULL;
    HANDLE process = routine ? OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION
                             | PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                         FALSE, pid)
                             : NULL;
    HANDLE thread
        = process ? CreateRemoteThread(process, NULL, 0, routine, (void*)(DWORD_PTR)event, 0, NULL) : NULL;
    if (!thread) {
        fprintf(stderr, "console-event: cannot reach %ls (process %lu, error %lu)\n", argv[1], pid,
            GetLastError());
        return 1;
    }
    CloseHandle(thread);
    CloseHandle(process);
    return 0;
}
