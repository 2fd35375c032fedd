// Drives the real vantrel.exe from another process, as a user would: it
// starts the program, finds its windows by class and title, reads what they
// show, and works them with the keyboard through the platform's input queue.
// Every wait is bounded. Used by the end-to-end test and by the program that
// takes the README's pictures; no test framework in here.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace driver {

// Window lookups allow for a slow start of Wine; runs of large files take
// longer.
constexpr DWORD kWindowTimeout = 20000;
constexpr DWORD kQuietTime = 1500;  // how long "nothing happens" is watched

// Waits until `done` holds or `timeoutMs` passes; returns the last answer.
inline bool WaitUntil(const std::function<bool()> &done, DWORD timeoutMs = kWindowTimeout)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        Sleep(25);
    }
}

inline std::string ClassOf(HWND hwnd)
{
    char name[128] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// The text the window system keeps for a window: captions, static texts and
// buttons of another process, read without disturbing it.
inline std::string TextOf(HWND hwnd)
{
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// The text a control holds now (an edit field, a status bar), asked of the
// control itself; empty with `*answered` false when its thread is busy.
inline std::string LiveTextOf(HWND hwnd, bool *answered = nullptr, UINT timeoutMs = 3000)
{
    char text[512] = "";
    DWORD_PTR length = 0;
    LRESULT ok = SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                     SMTO_NORMAL, timeoutMs, &length);
    if (answered)
        *answered = ok != 0;
    return ok ? std::string(text) : std::string();
}

inline BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list)
{
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(hwnd);
    return TRUE;
}

inline std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

inline HWND ChildOfClass(HWND parent, const std::string &className)
{
    for (HWND child : ChildrenOf(parent)) {
        if (ClassOf(child) == className)
            return child;
    }
    return nullptr;
}

inline std::vector<std::string> ChildTexts(HWND parent)
{
    std::vector<std::string> texts;
    for (HWND child : ChildrenOf(parent))
        texts.push_back(TextOf(child));
    return texts;
}

// ---- Keyboard -------------------------------------------------------------------

inline void SendKey(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
    Sleep(15);
}

// Presses `vk`, with the modifier keys held down around it.
inline void Press(WORD vk, std::initializer_list<WORD> modifiers = {})
{
    for (WORD modifier : modifiers)
        SendKey(modifier, false);
    SendKey(vk, false);
    SendKey(vk, true);
    for (auto it = modifiers.end(); it != modifiers.begin();)
        SendKey(*--it, true);
    Sleep(60);
}

// Types text as characters, whatever the keyboard layout.
inline void Type(const std::string &text)
{
    for (unsigned char c : text) {
        INPUT keys[2] = {};
        for (INPUT &key : keys) {
            key.type = INPUT_KEYBOARD;
            key.ki.wScan = c;
            key.ki.dwFlags = KEYEVENTF_UNICODE;
        }
        keys[1].ki.dwFlags |= KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof(INPUT));
        Sleep(5);
    }
    Sleep(60);
}

// The window with the keyboard focus in the thread of `hwnd`.
inline HWND FocusOf(HWND hwnd)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

// Makes `hwnd` the window that takes the keyboard; false if it will not.
inline bool BringToFront(HWND hwnd)
{
    if (GetForegroundWindow() == hwnd)
        return true;
    SetForegroundWindow(hwnd);
    return WaitUntil([&] { return GetForegroundWindow() == hwnd; }, 3000);
}

// ---- The program ------------------------------------------------------------------

// build/win32/vantrel.exe, beside the folder of the running program
// (build/win32/tests or build/win32).
inline std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    folder.erase(folder.find_last_of('\\'));
    if (folder.size() > 6 && folder.compare(folder.size() - 6, 6, "\\tests") == 0)
        folder.erase(folder.size() - 6);
    return folder + "\\vantrel.exe";
}

// One running vantrel.exe. Ending the object ends a program still running.
class Program {
public:
    // Starts the program with `folder` as its current directory.
    bool Start(const std::string &folder, std::string *error)
    {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + ProgramPath() + "\"";
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                            &startup, &info_)) {
            *error = "cannot start " + ProgramPath() + " (error " + std::to_string(GetLastError()) + ")";
            return false;
        }
        CloseHandle(info_.hThread);
        info_.hThread = nullptr;
        return true;
    }
    ~Program() { Kill(); }

    // Ends the program at once if it still runs; true if it had to.
    bool Kill()
    {
        if (!info_.hProcess)
            return false;
        bool running = Running();
        if (running) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
        info_.hProcess = nullptr;
        return running;
    }

    bool Running() const { return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

    // Waits for the program to end; its exit code, or -1000 if it did not end.
    long WaitForExit(DWORD timeoutMs = kWindowTimeout)
    {
        if (!info_.hProcess || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return -1000;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }

    // The program's visible top-level windows, top of the z-order first.
    std::vector<HWND> Windows() const
    {
        std::vector<HWND> all, found;
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
        for (HWND hwnd : all) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid == info_.dwProcessId && IsWindowVisible(hwnd))
                found.push_back(hwnd);
        }
        return found;
    }

    // A visible top-level window of the program with this class and title.
    HWND Find(const std::string &className, const std::string &title) const
    {
        for (HWND hwnd : Windows()) {
            if (ClassOf(hwnd) == className && TextOf(hwnd) == title)
                return hwnd;
        }
        return nullptr;
    }

    HWND WaitFor(const std::string &className, const std::string &title, DWORD timeoutMs = kWindowTimeout) const
    {
        HWND found = nullptr;
        WaitUntil([&] { return (found = Find(className, title)) != nullptr; }, timeoutMs);
        return found;
    }

    // A dialog (message box or file dialog) by its caption.
    HWND WaitForDialog(const std::string &title, DWORD timeoutMs = kWindowTimeout) const
    {
        return WaitFor("#32770", title, timeoutMs);
    }

    // The dialogs that are up, as "caption" strings, for failure messages.
    std::string DescribeWindows() const
    {
        std::string list;
        for (HWND hwnd : Windows())
            list += "[" + ClassOf(hwnd) + " \"" + TextOf(hwnd) + "\"] ";
        return list.empty() ? "no windows" : list;
    }

    HWND MainWindow() const { return WaitFor("vantrelwinWndClass", "Vantrel"); }

    // True when the program's thread answers messages again (no run under
    // way) within `timeoutMs`.
    bool Responsive(HWND main, DWORD timeoutMs) const
    {
        DWORD_PTR ignored;
        return SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &ignored) != 0;
    }

private:
    PROCESS_INFORMATION info_ = {};
};

// The status bar of the main window and what it shows now.
inline std::string StatusText(HWND main)
{
    HWND bar = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);
    return bar ? LiveTextOf(bar) : std::string("(no status bar)");
}

inline bool WaitForStatus(HWND main, const std::string &text, DWORD timeoutMs = 5000)
{
    return WaitUntil([&] { return StatusText(main) == text; }, timeoutMs);
}

// ---- File dialogs -----------------------------------------------------------------

// The file-name field of a platform file dialog (the edit control, inside a
// combo box on newer dialogs).
inline HWND FileNameField(HWND dialog)
{
    for (HWND child : ChildrenOf(dialog)) {
        if (ClassOf(child) == "Edit" && (GetDlgCtrlID(child) == 0x47c || GetDlgCtrlID(child) == 0x480))
            return child;
    }
    return nullptr;
}

// The folder the dialog shows (its "Look in" box).
inline std::string DialogFolder(HWND dialog)
{
    HWND lookIn = GetDlgItem(dialog, 0x471);
    return lookIn ? LiveTextOf(lookIn) : std::string();
}

// Types `path` into the dialog's file-name field in place of what it holds
// and presses Return. False, with the reason, if the field did not take it.
// A folder's path opens that folder in the dialog; a file's path chooses it
// (leaving the dialog's folder, and so the current directory, as it was).
inline bool ChooseInFileDialog(HWND dialog, const std::string &path, std::string *error)
{
    HWND field = FileNameField(dialog);
    if (!field) {
        *error = "the dialog has no file-name field";
        return false;
    }
    if (!BringToFront(dialog)) {
        *error = "the dialog does not come to the front";
        return false;
    }
    if (!WaitUntil([&] { return FocusOf(dialog) == field; }, 3000)) {
        *error = "the file-name field does not have the keyboard focus";
        return false;
    }
    Press(VK_END);
    Press(VK_HOME, {VK_SHIFT});
    Type(path);
    if (!WaitUntil([&] { return LiveTextOf(field) == path; }, 3000)) {
        *error = "the field holds \"" + LiveTextOf(field) + "\" instead of \"" + path + "\"";
        return false;
    }
    Press(VK_RETURN);
    return true;
}

}  // namespace driver

namespace driver {

// Browses the dialog into `folder` (typed, as a user may), waits until the
// dialog shows it, then chooses `name` there: the dialog's folder becomes
// the current directory, as it does when the user browses with the mouse.
inline bool BrowseAndChoose(HWND dialog, const std::string &folder, const std::string &name, std::string *error)
{
    std::string shown = folder.substr(folder.find_last_of('\\') + 1);
    if (!ChooseInFileDialog(dialog, folder, error))
        return false;
    if (!WaitUntil([&] { return DialogFolder(dialog) == shown; }, 5000)) {
        *error = "the dialog shows \"" + DialogFolder(dialog) + "\" instead of \"" + shown + "\"";
        return false;
    }
    return ChooseInFileDialog(dialog, name, error);
}

}  // namespace driver
