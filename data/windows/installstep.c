// The installer's steps that NSIS's own strings cannot do: Path edits at any length Windows
// allows (NSIS keeps a string in 1,024 characters), and asking the firewall whether local
// rules take effect. The installer and the uninstaller carry it and run it from their
// temporary folder; it is never installed.
//
//   installstep path-add all|user FOLDER
//   installstep path-remove all|user FOLDER
//   installstep firewall-policy
//
// Path: 0 changed, 1 nothing to do, 2 too long, 3 the registry refused, 4 not a text value.
// Firewall: 0 local rules apply, 1 Group Policy overrides them, 2 all inbound traffic is
// blocked, 3 could not find out. 64: bad command line. What follows a failure on standard
// output (a Windows error code, a value type, an HRESULT) goes into the installer's details.
#include <windows.h>
// defines the firewall's GUIDs here rather than needing a library of them
#include <initguid.h>
#include <netfw.h>

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

enum {
    PATH_CHANGED = 0,
    PATH_UNCHANGED = 1,
    PATH_TOO_LONG = 2,
    PATH_REFUSED = 3,
    PATH_NOT_TEXT = 4,
    POLICY_LOCAL = 0,
    POLICY_GROUP = 1,
    POLICY_INBOUND_BLOCKED = 2,
    POLICY_UNKNOWN = 3,
    USAGE = 64
};

// Longer than this, Windows cannot hold the variable in a process's environment.
#define PATH_MAX_CHARS 32767

typedef struct {
    wchar_t* text; // not terminated; may hold anything a REG_SZ can, embedded NULs too
    size_t length;
    DWORD type;
} PathValue;

// One entry compared as Windows finds folders: case aside, and with its quotes or one
// trailing backslash aside.
static void trimEntry(const wchar_t** text, size_t* length)
{
    if (*length >= 2 && (*text)[0] == L'"' && (*text)[*length - 1] == L'"') {
        ++*text;
        *length -= 2;
    }
    if (*length > 0 && (*text)[*length - 1] == L'\\')
        --*length;
}

static int sameFolder(const wchar_t* entry, size_t entryLength, const wchar_t* folder)
{
    size_t folderLength = wcslen(folder);
    trimEntry(&entry, &entryLength);
    trimEntry(&folder, &folderLength);
    if (entryLength == 0 || entryLength > INT_MAX || folderLength > INT_MAX)
        return 0;
    return CompareStringOrdinal(entry, (int)entryLength, folder, (int)folderLength, TRUE) == CSTR_EQUAL;
}

// The first entry equal to FOLDER at or after FROM: its start and end (the ';' or the end).
// A ';' between quotes is part of its entry.
static int findEntry(const PathValue* path, size_t from, const wchar_t* folder, size_t* start, size_t* end)
{
    size_t begin = from;
    int quoted = 0;
    for (size_t i = from; i <= path->length; ++i) {
        if (i < path->length && path->text[i] == L'"')
            quoted = !quoted;
        if (i < path->length && (quoted || path->text[i] != L';'))
            continue;
        if (sameFolder(path->text + begin, i - begin, folder)) {
            *start = begin;
            *end = i;
            return 1;
        }
        begin = i + 1;
    }
    return 0;
}

// The value as it is, at any length: it may grow between the two calls.
static LONG readPath(HKEY key, PathValue* path)
{
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, L"Path", NULL, &path->type, NULL, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        // none yet: written as Windows itself would, expandable
        path->type = REG_EXPAND_SZ;
        path->text = NULL;
        path->length = 0;
        return ERROR_SUCCESS;
    }
    BYTE* data = NULL;
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        free(data);
        data = malloc(size + sizeof(wchar_t));
        if (!data)
            return ERROR_NOT_ENOUGH_MEMORY;
        DWORD got = size;
        status = RegQueryValueExW(key, L"Path", NULL, &path->type, data, &got);
        if (status == ERROR_SUCCESS) {
            size = got;
            break;
        }
        if (status == ERROR_MORE_DATA)
            size = got;
    }
    if (status != ERROR_SUCCESS) {
        free(data);
        return status;
    }
    path->text = (wchar_t*)data;
    path->length = size / sizeof(wchar_t);
    // the terminator(s) the value was stored with; everything before them is kept
    while (path->length > 0 && path->text[path->length - 1] == L'\0')
        --path->length;
    return ERROR_SUCCESS;
}

static LONG writePath(HKEY key, const PathValue* path)
{
    size_t bytes = (path->length + 1) * sizeof(wchar_t);
    wchar_t* data = malloc(bytes);
    if (!data)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (path->length)
        memcpy(data, path->text, path->length * sizeof(wchar_t));
    data[path->length] = L'\0';
    // the value's own type: a REG_EXPAND_SZ written back as REG_SZ would stop expanding
    // its %VARS%
    LONG status = RegSetValueExW(key, L"Path", 0, path->type, (const BYTE*)data, (DWORD)bytes);
    free(data);
    return status;
}

// Running programs, Explorer first, read the environment again; one that hangs is not
// waited for.
static void announceEnvironment(void)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(
        HWND_BROADCAST, WM_SETTINGCHANGE, 0, (LPARAM)L"Environment", SMTO_ABORTIFHUNG, 5000, &result);
}

// Added at the end, so nothing already there is shadowed; a value that ends in ';' keeps
// its ending after the folder, so that taking it off again gives the value back as it was.
static int addFolder(PathValue* path, const wchar_t* folder)
{
    size_t start, end;
    if (findEntry(path, 0, folder, &start, &end))
        return PATH_UNCHANGED;
    int quote = wcschr(folder, L';') != NULL;
    size_t folderLength = wcslen(folder) + (quote ? 2 : 0);
    int endsInSeparator = path->length > 0 && path->text[path->length - 1] == L';';
    size_t length = path->length + folderLength + (path->length > 0 ? 1 : 0);
    if (length > PATH_MAX_CHARS)
        return PATH_TOO_LONG;
    wchar_t* text = malloc((length + 1) * sizeof(wchar_t));
    if (!text)
        return PATH_REFUSED;
    size_t at = path->length;
    if (at)
        memcpy(text, path->text, at * sizeof(wchar_t));
    if (at > 0 && !endsInSeparator)
        text[at++] = L';';
    if (quote)
        text[at++] = L'"';
    memcpy(text + at, folder, wcslen(folder) * sizeof(wchar_t));
    at += wcslen(folder);
    if (quote)
        text[at++] = L'"';
    if (endsInSeparator)
        text[at++] = L';';
    free(path->text);
    path->text = text;
    path->length = at;
    return PATH_CHANGED;
}

// The last entry equal to the folder, where addFolder put it, goes with the ';' after it,
// or at the end with the one before it: the reverse of addFolder. Everything else stays as
// it was, an earlier copy of the folder and empty entries too.
static int removeFolder(PathValue* path, const wchar_t* folder)
{
    size_t start, end, from = 0;
    int found = 0;
    while (findEntry(path, from, folder, &start, &end)) {
        found = 1;
        from = end + 1;
    }
    if (!found)
        return PATH_UNCHANGED;
    // start and end are the last match's: findEntry writes them only when it finds one
    if (end < path->length)
        ++end;
    else if (start > 0)
        --start;
    memmove(path->text + start, path->text + end, (path->length - end) * sizeof(wchar_t));
    path->length -= end - start;
    return PATH_CHANGED;
}

static int editPath(int add, const wchar_t* scope, const wchar_t* folder)
{
    HKEY root;
    const wchar_t* subkey;
    if (wcscmp(scope, L"all") == 0) {
        root = HKEY_LOCAL_MACHINE;
        subkey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    } else if (wcscmp(scope, L"user") == 0) {
        root = HKEY_CURRENT_USER;
        subkey = L"Environment";
    } else {
        return USAGE;
    }
    if (folder[0] == L'\0')
        return USAGE;

    HKEY key;
    LONG status = add
        ? RegCreateKeyExW(root, subkey, 0, NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key, NULL)
        : RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (!add && status == ERROR_FILE_NOT_FOUND)
        return PATH_UNCHANGED;
    if (status != ERROR_SUCCESS) {
        printf("error %ld", status);
        return PATH_REFUSED;
    }
    PathValue path = { NULL, 0, REG_NONE };
    status = readPath(key, &path);
    int result;
    if (status != ERROR_SUCCESS) {
        printf("error %ld", status);
        result = PATH_REFUSED;
    } else if (path.type != REG_EXPAND_SZ && path.type != REG_SZ) {
        printf("type %lu", path.type);
        result = PATH_NOT_TEXT;
    } else {
        result = add ? addFolder(&path, folder) : removeFolder(&path, folder);
        if (result == PATH_CHANGED) {
            // a Path that held only the folder goes, as it was before the install made it
            status = !add && path.length == 0 ? RegDeleteValueW(key, L"Path") : writePath(key, &path);
            if (status != ERROR_SUCCESS) {
                printf("error %ld", status);
                result = PATH_REFUSED;
            }
        }
    }
    free(path.text);
    RegCloseKey(key);
    if (result == PATH_CHANGED)
        announceEnvironment();
    return result;
}

// Whether rules added to the local store take effect on the current profiles.
static int firewallPolicy(void)
{
    HRESULT hr = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        printf("0x%08lX", (unsigned long)hr);
        return POLICY_UNKNOWN;
    }
    INetFwPolicy2* policy = NULL;
    NET_FW_MODIFY_STATE state = NET_FW_MODIFY_STATE_OK;
    hr = CoCreateInstance(
        &CLSID_NetFwPolicy2, NULL, CLSCTX_INPROC_SERVER, &IID_INetFwPolicy2, (void**)&policy);
    if (SUCCEEDED(hr)) {
        hr = policy->lpVtbl->get_LocalPolicyModifyState(policy, &state);
        policy->lpVtbl->Release(policy);
    }
    CoUninitialize();
    if (FAILED(hr)) {
        printf("0x%08lX", (unsigned long)hr);
        return POLICY_UNKNOWN;
    }
    switch (state) {
    case NET_FW_MODIFY_STATE_OK:
        return POLICY_LOCAL;
    case NET_FW_MODIFY_STATE_GP_OVERRIDE:
        return POLICY_GROUP;
    case NET_FW_MODIFY_STATE_INBOUND_BLOCKED:
        return POLICY_INBOUND_BLOCKED;
    }
    printf("state %d", (int)state);
    return POLICY_UNKNOWN;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && wcscmp(argv[1], L"path-add") == 0)
        return editPath(1, argv[2], argv[3]);
    if (argc == 4 && wcscmp(argv[1], L"path-remove") == 0)
        return editPath(0, argv[2], argv[3]);
    if (argc == 2 && wcscmp(argv[1], L"firewall-policy") == 0)
        return firewallPolicy();
    fputs("usage: installstep path-add|path-remove all|user FOLDER | firewall-policy\n", stderr);
    return USAGE;
}
