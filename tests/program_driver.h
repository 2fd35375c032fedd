// Drives the real vantrel.exe from another process, as a user would: starts
// it, finds its windows by class and title, reads what they show and works
// them with the keyboard. Every wait is bounded. Used by the end-to-end test
// and by the program that takes the README's pictures.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace driver {

constexpr DWORD kWindowTimeout = 60000;  // allows for Wine emulated on a busy machine

inline bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs = kWindowTimeout)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        Sleep(25);
    return done();
}

inline std::string ClassOf(HWND hwnd)
{
    char name[128] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// The caption or static text the window system keeps for a window.
inline std::string TextOf(HWND hwnd)
{
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// The text a control holds now (an edit field, a status bar), asked of the
// control itself; empty when its thread does not answer.
inline std::string LiveTextOf(HWND hwnd)
{
    char text[512] = "";
    DWORD_PTR length = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 3000, &length);
    return text;
}

inline void SendKey(WORD vk, DWORD flags, WORD scan = 0, DWORD pauseMs = 15)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = scan;
    input.ki.dwFlags = flags;
    SendInput(1, &input, sizeof input);
    Sleep(pauseMs);
}

// Presses `vk` with the modifier keys held down around it.
inline void Press(WORD vk, std::initializer_list<WORD> modifiers = {})
{
    for (WORD modifier : modifiers)
        SendKey(modifier, 0);
    SendKey(vk, 0);
    SendKey(vk, KEYEVENTF_KEYUP);
    for (WORD modifier : modifiers)
        SendKey(modifier, KEYEVENTF_KEYUP);
    Sleep(60);
}

// Makes `hwnd` the window that takes the keyboard; false if it will not.
inline bool BringToFront(HWND hwnd)
{
    SetForegroundWindow(hwnd);
    return WaitUntil([&] { return GetForegroundWindow() == hwnd; }, 3000);
}

// One running vantrel.exe (build/win32/vantrel.exe, beside the folder of
// the running program), or another program of the build tree. Ending the
// object ends a program still running.
class Program {
public:
    // Starts the program with `folder` as its current directory: vantrel.exe,
    // or `program` (a path in the build tree) with `arguments`, its standard
    // output and error going to `output` and `errors` when given (inheritable
    // handles).
    bool Start(const std::string &folder, std::string *error, const std::string &program = "vantrel.exe",
               const std::string &arguments = "", HANDLE output = nullptr, HANDLE errors = nullptr)
    {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string path = self;
        path.erase(path.rfind('\\'));
        if (path.substr(path.rfind('\\')) == "\\tests")
            path.erase(path.rfind('\\'));
        std::string commandLine = "\"" + path + "\\" + program + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (output || errors) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = errors;
        }
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, output || errors, 0, nullptr, folder.c_str(),
                            &startup, &info)) {
            *error = "cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
        return true;
    }
    ~Program() { Kill(); }

    // Ends the program at once if it still runs; true if it had to.
    bool Kill()
    {
        bool running = process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
        if (running)
            TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
        process_ = nullptr;
        return running;
    }

    // Stops every thread of the program where it is, for a look at what it
    // has done so far; false if none could be stopped.
    bool Suspend() const
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        int stopped = 0;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            HANDLE thread = entry.th32OwnerProcessID == id_
                                ? OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID)
                                : nullptr;
            if (!thread)
                continue;
            // Asking for its registers waits until it has really stopped.
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            stopped += SuspendThread(thread) != static_cast<DWORD>(-1) && GetThreadContext(thread, &context);
            CloseHandle(thread);
        }
        CloseHandle(snapshot);
        return stopped > 0;
    }

    // The program's exit code, or -1000 if it does not end in time.
    long WaitForExit(DWORD timeoutMs = kWindowTimeout)
    {
        DWORD code = 0;
        if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(process_, &code))
            return -1000;
        return static_cast<long>(code);
    }

    // The program's visible top-level windows, top of the z-order first.
    std::vector<HWND> Windows() const
    {
        std::vector<HWND> found;
        for (HWND hwnd = GetTopWindow(nullptr); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid == id_ && IsWindowVisible(hwnd))
                found.push_back(hwnd);
        }
        return found;
    }

    HWND Find(const std::string &className, const std::string &title) const
    {
        for (HWND hwnd : Windows()) {
            if (ClassOf(hwnd) == className && TextOf(hwnd) == title)
                return hwnd;
        }
        return nullptr;
    }

    HWND WaitFor(const std::string &className, const std::string &title) const
    {
        // Keeps the first window found: a later look may miss it while the
        // z-order changes under the walk.
        HWND found = nullptr;
        WaitUntil([&] {
            if (!found)
                found = Find(className, title);
            return found != nullptr;
        });
        return found;
    }
    // A dialog (file dialog, About box, message box) by its caption.
    HWND WaitForDialog(const std::string &title) const { return WaitFor("#32770", title); }
    HWND MainWindow() const { return WaitFor("vantrelwinWndClass", "Vantrel"); }
    HANDLE Handle() const { return process_; }

    // The windows that are up, for failure messages.
    std::string DescribeWindows() const
    {
        std::string list;
        for (HWND hwnd : Windows())
            list += "[" + ClassOf(hwnd) + " \"" + TextOf(hwnd) + "\"] ";
        return list.empty() ? "no windows" : list;
    }

    // True when the program's thread answers again (no run under way).
    bool Responsive(HWND main, DWORD timeoutMs) const
    {
        DWORD_PTR ignored;
        return SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
    }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

inline std::string StatusText(HWND main)
{
    HWND bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
    return bar ? LiveTextOf(bar) : "(no status bar)";
}

inline bool WaitForStatus(HWND main, const std::string &text, DWORD timeoutMs = 5000)
{
    return WaitUntil([&] { return StatusText(main) == text; }, timeoutMs);
}

// Which of the system's message icons (IDI_ERROR, IDI_WARNING,
// IDI_INFORMATION, IDI_QUESTION) a message box shows, told by its pixels on
// the screen; null when it shows no icon. (Another process cannot read the
// box's icon handle under Wine.)
inline LPCSTR MessageIconOf(HWND box)
{
    HWND icon = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child))
            icon = child;
    }
    RECT rect = {};
    if (!icon || !GetWindowRect(icon, &rect))
        return nullptr;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC shown = CreateCompatibleDC(screen), drawn = CreateCompatibleDC(screen);
    HGDIOBJ shownBitmap = SelectObject(shown, CreateCompatibleBitmap(screen, width, height));
    HGDIOBJ drawnBitmap = SelectObject(drawn, CreateCompatibleBitmap(screen, width, height));
    BitBlt(shown, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    HBRUSH background = CreateSolidBrush(GetPixel(shown, 0, 0));  // a corner the icon leaves clear
    const RECT all = {0, 0, width, height};
    LPCSTR best = nullptr;
    long fewest = long(width) * height / 4;  // a match differs in less than a quarter of the pixels
    for (LPCSTR candidate : {IDI_ERROR, IDI_WARNING, IDI_INFORMATION, IDI_QUESTION}) {
        FillRect(drawn, &all, background);
        DrawIconEx(drawn, 0, 0, LoadIconA(nullptr, candidate), width, height, 0, nullptr, DI_NORMAL);
        long differing = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                differing += GetPixel(shown, x, y) != GetPixel(drawn, x, y);
        }
        if (differing < fewest) {
            fewest = differing;
            best = candidate;
        }
    }
    DeleteObject(background);
    DeleteObject(SelectObject(shown, shownBitmap));
    DeleteObject(SelectObject(drawn, drawnBitmap));
    DeleteDC(shown);
    DeleteDC(drawn);
    ReleaseDC(nullptr, screen);
    return best;
}

// The folder a file dialog shows (its "Look in" box).
inline std::string DialogFolder(HWND dialog)
{
    return LiveTextOf(GetDlgItem(dialog, 0x471));
}

// Types `path` over the file-name field and presses Return: a folder's path
// opens that folder in the dialog, a file's path chooses the file. False,
// with the reason, if the field did not take it.
inline bool ChooseInFileDialog(HWND dialog, const std::string &path, std::string *error)
{
    // The file-name field: the edit inside the combo box of cmb13, all three with its id.
    HWND field = GetDlgItem(GetDlgItem(GetDlgItem(dialog, 0x47c), 0x47c), 0x47c);
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    auto focused = [&] {
        return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus == field;
    };
    if (!field || !BringToFront(dialog) || !WaitUntil(focused, 3000)) {
        *error = "the dialog's file-name field does not take the keyboard";
        return false;
    }
    // The path typed over what the field holds. On a loaded machine the
    // selection can miss (the field was still being filled, or Home came
    // before Shift was seen down): then it is typed over again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Press(VK_END);
        Press(VK_HOME, {VK_SHIFT});
        for (unsigned char c : path) {  // as characters, whatever the keyboard layout
            SendKey(0, KEYEVENTF_UNICODE, c, 0);
            SendKey(0, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, c, 5);
        }
        if (WaitUntil([&] { return LiveTextOf(field) == path; }, 3000)) {
            Press(VK_RETURN);
            return true;
        }
    }
    *error = "the field holds \"" + LiveTextOf(field) + "\" instead of \"" + path + "\"";
    return false;
}

}  // namespace driver
