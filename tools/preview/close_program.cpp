// Asks every running copy of a program to close, the way its close box
// would: WM_CLOSE to each of its top-level windows.
//   close-program.exe NAME.exe
// Exit code 0 when some window was asked, 1 when none was found.
//
// Wine's own `taskkill /im` finds processes by reading their memory, which
// fails where Wine runs under an emulator; this reads only the process list.

#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <vector>

static std::vector<DWORD> g_processes;
static int g_asked;

static BOOL CALLBACK AskToClose(HWND hwnd, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    for (DWORD wanted : g_processes) {
        if (process == wanted && PostMessageA(hwnd, WM_CLOSE, 0, 0))
            ++g_asked;
    }
    return TRUE;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, argv[1]) == 0)
            g_processes.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    EnumWindows(AskToClose, 0);
    return g_asked > 0 ? 0 : 1;
}
