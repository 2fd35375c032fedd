// Helpers of the dialog tests (win32 tree, under Wine): real dialogs from the
// program's resources, a modal-loop driver, device-context states, message
// recording and interception of the test program's own imports.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

// The progress bar class comes with comctl32 (the program imports it).
inline void LoadCommonControls()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

// A plain visible top-level window, the owner of the dialogs under test.
inline HWND CreateOwnerWindow(int x = 100, int y = 80, int width = 640, int height = 480)
{
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = "VantrelTestOwner";
        return RegisterClassA(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowA("VantrelTestOwner", "Test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                         x, y, width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// Handles the messages already queued, then returns.
inline void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

inline std::string WindowText(HWND hwnd)
{
    char text[256] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

inline std::string ClassName(HWND hwnd)
{
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// Whether hwnd carries the window property `name`, whatever its value (a
// property may hold 0).
struct PropertySearch { const char *name; bool found; };

inline BOOL CALLBACK FindProperty(HWND, LPSTR propName, HANDLE, ULONG_PTR data)
{
    auto *search = reinterpret_cast<PropertySearch *>(data);
    if (HIWORD(reinterpret_cast<ULONG_PTR>(propName)) && std::strcmp(propName, search->name) == 0)
        search->found = true;
    return TRUE;
}

inline bool HasProperty(HWND hwnd, const char *name)
{
    PropertySearch search = {name, false};
    EnumPropsExA(hwnd, FindProperty, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The three parts of a device context that control colouring may set.
struct DcState {
    COLORREF text;
    COLORREF background;
    int mode;

    static DcState Of(HDC hdc) { return {GetTextColor(hdc), GetBkColor(hdc), GetBkMode(hdc)}; }
    void ApplyTo(HDC hdc) const
    {
        SetTextColor(hdc, text);
        SetBkColor(hdc, background);
        SetBkMode(hdc, mode);
    }
    bool operator==(const DcState &other) const
    {
        return text == other.text && background == other.background && mode == other.mode;
    }
};

inline std::ostream &operator<<(std::ostream &out, const DcState &state)
{
    char text[96];
    std::snprintf(text, sizeof text, "{text %06lX, background %06lX, mode %d}",
                  static_cast<unsigned long>(state.text), static_cast<unsigned long>(state.background), state.mode);
    return out << text;
}

// No colour-message handler would choose these by accident.
constexpr DcState kSentinelDc = {RGB(10, 20, 30), RGB(40, 50, 60), OPAQUE};

// Records the non-client messages that reach a window by subclassing it;
// they are swallowed, so a caption press starts no move loop.
class NonClientRecorder {
public:
    struct Message { UINT msg; WPARAM wParam; LPARAM lParam; };

    explicit NonClientRecorder(HWND hwnd) : hwnd_(hwnd)
    {
        SetPropA(hwnd, "NonClientRecorder", this);
        previous_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    ~NonClientRecorder()
    {
        if (IsWindow(hwnd_)) {
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
            RemovePropA(hwnd_, "NonClientRecorder");
        }
    }
    std::vector<Message> messages;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto *self = static_cast<NonClientRecorder *>(GetPropA(hwnd, "NonClientRecorder"));
        if (msg == WM_NCLBUTTONDOWN || msg == WM_NCLBUTTONUP || msg == WM_NCLBUTTONDBLCLK) {
            self->messages.push_back({msg, wParam, lParam});
            return 0;
        }
        return CallWindowProcA(self->previous_, hwnd, msg, wParam, lParam);
    }
    HWND hwnd_;
    WNDPROC previous_;
};

// Calls `atDestroy(hwnd, before)` when the window receives WM_DESTROY: once
// with before = true, then again after its own procedure handled it.
class DestroyWatcher {
public:
    using Callback = std::function<void(HWND, bool before)>;
    DestroyWatcher(HWND hwnd, Callback atDestroy) : atDestroy_(std::move(atDestroy))
    {
        SetPropA(hwnd, "DestroyWatcher", this);
        previous_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    bool seen = false;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto *self = static_cast<DestroyWatcher *>(GetPropA(hwnd, "DestroyWatcher"));
        if (msg != WM_DESTROY)
            return CallWindowProcA(self->previous_, hwnd, msg, wParam, lParam);
        self->seen = true;
        self->atDestroy_(hwnd, true);
        LRESULT result = CallWindowProcA(self->previous_, hwnd, msg, wParam, lParam);
        self->atDestroy_(hwnd, false);
        RemovePropA(hwnd, "DestroyWatcher");
        return result;
    }
    Callback atDestroy_;
    WNDPROC previous_;
};

// Runs the dialog `templateId` modally (DialogBoxParamA) with `proc` and
// `param`, owned by `owner`, and calls `whileUp(dialog)` once from inside its
// modal loop when it is up. A dialog still up after 10 seconds is ended with
// kModalTimedOut. Returns the dialog's result.
constexpr INT_PTR kModalTimedOut = -77;

struct ModalRun {
    static inline HWND dialog;
    static inline std::function<void(HWND)> whileUp;

    // The dialog is the first window of the dialog class created.
    static LRESULT CALLBACK SpotDialog(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND && !dialog) {
            HWND created = reinterpret_cast<HWND>(wParam);
            char name[16] = "";
            GetClassNameA(created, name, sizeof name);
            if (std::strcmp(name, "#32770") == 0)
                dialog = created;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static void CALLBACK Step(HWND, UINT, UINT_PTR id, DWORD)
    {
        if (!dialog || !IsWindowVisible(dialog) || !whileUp)
            return;
        KillTimer(nullptr, id);
        auto action = std::move(whileUp);
        whileUp = nullptr;
        action(dialog);
    }

    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD)
    {
        KillTimer(nullptr, id);
        if (dialog && IsWindow(dialog))
            EndDialog(dialog, kModalTimedOut);
    }
};

inline INT_PTR RunModal(int templateId, DLGPROC proc, LPARAM param, HWND owner,
                        std::function<void(HWND)> whileUp)
{
    ModalRun::dialog = nullptr;
    ModalRun::whileUp = std::move(whileUp);
    HHOOK hook = SetWindowsHookExA(WH_CBT, ModalRun::SpotDialog, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook, nullptr);
    UINT_PTR step = SetTimer(nullptr, 0, 20, ModalRun::Step);
    UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, ModalRun::Watchdog);

    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                     owner, proc, param);
    KillTimer(nullptr, step);
    KillTimer(nullptr, watchdog);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(ModalRun::whileUp, nullptr) << "the dialog never came up";
    ModalRun::whileUp = nullptr;
    return result;
}

// A key pressed and released through the platform's input queue: it goes to
// the window with the keyboard focus.
inline void PressKey(WORD vk)
{
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = vk;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

// A left click at the centre of hwnd through the platform's input queue.
inline void ClickCentreOf(HWND hwnd)
{
    RECT rc;
    GetWindowRect(hwnd, &rc);
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT clicks[3] = {};
    for (INPUT &click : clicks) {
        click.type = INPUT_MOUSE;
        click.mi.dx = ((rc.left + rc.right) / 2 * 65536 + width / 2) / width;
        click.mi.dy = ((rc.top + rc.bottom) / 2 * 65536 + height / 2) / height;
        click.mi.dwFlags = MOUSEEVENTF_ABSOLUTE;
    }
    clicks[0].mi.dwFlags |= MOUSEEVENTF_MOVE;
    clicks[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    clicks[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, clicks, sizeof(INPUT));
}

// Points the test program's own import of `function` from `dll` at
// `replacement` while it lives, so that the program's calls (the dialog
// support's among them) can be observed or made to fail. original() calls
// the real function.
class ImportPatch {
public:
    ImportPatch(const char *dll, const char *function, void *replacement)
    {
        auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
        auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
        for (; entry->Name; ++entry) {
            if (_stricmp(reinterpret_cast<char *>(base + entry->Name), dll) != 0)
                continue;
            auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
            auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<char *>(byName->Name), function) == 0)
                    slots_.push_back(reinterpret_cast<void **>(&slots->u1.Function));
            }
        }
        EXPECT_FALSE(slots_.empty()) << "the test program does not import " << function << " from " << dll;
        if (!slots_.empty())
            original_ = *slots_.front();
        for (void **slot : slots_)
            Write(slot, replacement);
    }
    ~ImportPatch()
    {
        for (void **slot : slots_)
            Write(slot, original_);
    }
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;

    template <typename F>
    F original() const { return reinterpret_cast<F>(original_); }

private:
    static void Write(void **slot, void *value)
    {
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        *slot = value;
        VirtualProtect(slot, sizeof *slot, old, &old);
    }
    std::vector<void **> slots_;
    void *original_ = nullptr;
};

// The message boxes of the code under test, recorded instead of shown while
// this lives (a real box would wait for a user): owner, text, caption and
// style of each, in order. Each answers IDOK.
class MessageBoxCapture {
public:
    struct Shown {
        HWND owner;
        std::string text;
        std::string caption;
        UINT style;
    };

    MessageBoxCapture() : patch_("user32.dll", "MessageBoxA", reinterpret_cast<void *>(&Record))
    {
        Log().clear();
    }
    ~MessageBoxCapture() { Log().clear(); }
    MessageBoxCapture(const MessageBoxCapture &) = delete;
    MessageBoxCapture &operator=(const MessageBoxCapture &) = delete;

    // The boxes shown since the last call.
    std::vector<Shown> Take()
    {
        std::vector<Shown> shown = std::move(Log());
        Log().clear();
        return shown;
    }

private:
    static std::vector<Shown> &Log()
    {
        static std::vector<Shown> log;
        return log;
    }
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
    {
        Log().push_back({owner, text ? text : "(null)", caption ? caption : "(null)", style});
        return IDOK;
    }
    ImportPatch patch_;
};
