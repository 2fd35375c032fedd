// Helpers of the Windows tests (under Wine): owner window, window texts,
// device-context states, and the test program's own imports redirected (its
// message boxes and dialog endings among them).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// The progress bar class comes with comctl32 (the program imports it).
inline void LoadCommonControls()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

// A plain visible top-level window, the owner of the dialogs under test.
inline HWND CreateOwnerWindow()
{
    const WNDCLASSA wc = {0, DefWindowProcA, 0, 0, GetModuleHandleA(nullptr), nullptr, nullptr, nullptr, nullptr,
                          "VantrelTestOwner"};
    RegisterClassA(&wc);  // fails harmlessly from the second call on
    return CreateWindowA(wc.lpszClassName, "Test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 640, 480,
                         nullptr, nullptr, wc.hInstance, nullptr);
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

// What control colouring may set in a device context (text colour, background
// colour and mode), and a control's context set to values none would pick.
using DcState = std::tuple<COLORREF, COLORREF, int>;
constexpr COLORREF kSentinelText = RGB(10, 20, 30), kSentinelBack = RGB(40, 50, 60);

inline HDC SentinelDc(HWND control)
{
    HDC hdc = GetDC(control);
    SetTextColor(hdc, kSentinelText);
    SetBkColor(hdc, kSentinelBack);
    SetBkMode(hdc, OPAQUE);
    return hdc;
}

inline DcState DcStateOf(HDC hdc)
{
    return {GetTextColor(hdc), GetBkColor(hdc), GetBkMode(hdc)};
}

// Points the test program's own import of `function` from `dll` at
// `replacement` while it lives, so that the program's calls can be observed
// or made to fail. original() is the real function.
class ImportPatch {
public:
    ImportPatch(const char *dll, const char *function, void *replacement)
    {
        auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
        DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports); entry->Name; ++entry) {
            if (_stricmp(reinterpret_cast<char *>(base + entry->Name), dll) != 0)
                continue;
            auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
            auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) && std::strcmp(byName->Name, function) == 0)
                    slots_.push_back(reinterpret_cast<void **>(&slots->u1.Function));
            }
        }
        EXPECT_FALSE(slots_.empty()) << "the test program does not import " << function << " from " << dll;
        for (void **slot : slots_)
            original_ = Write(slot, replacement);
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
    static void *Write(void **slot, void *value)  // returns what the slot held
    {
        DWORD old;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
        std::swap(*slot, value);
        VirtualProtect(slot, sizeof *slot, old, &old);
        return value;
    }
    std::vector<void **> slots_;
    void *original_ = nullptr;
};

// The message boxes of the code under test, recorded instead of shown while
// this lives (a real box would wait for a user); each answers IDOK.
class MessageBoxCapture {
public:
    struct Shown {
        HWND owner;
        std::string text, caption;
        UINT style;
    };
    MessageBoxCapture() { log.clear(); }
    // The boxes shown since the last call, in order.
    std::vector<Shown> Take() { return std::exchange(log, {}); }

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
    {
        log.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", style});
        return IDOK;
    }
    static inline std::vector<Shown> log;
    ImportPatch patch_{"user32.dll", "MessageBoxA", reinterpret_cast<void *>(&Record)};
};

// The code's EndDialog calls while this lives (dialog, result; the last one counts), passed on.
class EndDialogLog {
public:
    EndDialogLog() { calls.clear(); current = this; }
    static inline std::vector<std::pair<HWND, INT_PTR>> calls;

private:
    static BOOL WINAPI Record(HWND dialog, INT_PTR result)
    {
        calls.push_back({dialog, result});
        return current->patch_.original<BOOL(WINAPI *)(HWND, INT_PTR)>()(dialog, result);
    }
    static inline EndDialogLog *current;
    ImportPatch patch_{"user32.dll", "EndDialog", reinterpret_cast<void *>(&Record)};
};
