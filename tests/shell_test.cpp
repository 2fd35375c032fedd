// The status bar with its menu help, the main window's procedure, and the
// whole start-up: WinMain run in this test program, driven from a timer on
// its own thread while its About box and message loop run.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "about.h"
#include "dialog_test_support.h"
#include "resource.h"
#include "vantrelwin.h"

namespace {

std::string StatusText()
{
    char text[256] = "";
    SendMessageA(hWndStatusbar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<int> StatusParts()
{
    int edges[64] = {};
    int count = static_cast<int>(SendMessageA(hWndStatusbar, SB_GETPARTS, 64, reinterpret_cast<LPARAM>(edges)));
    return std::vector<int>(edges, edges + count);
}

int ClientWidth(HWND hwnd)
{
    RECT rect;
    GetClientRect(hwnd, &rect);
    return rect.right;
}

HWND WINAPI RefuseStatusWindow(LONG, LPCSTR, HWND, UINT)
{
    return nullptr;
}

HWND WINAPI RefuseWindow(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    return nullptr;
}

// A window that hands its messages to MainWndProc, with the program's menu
// bar; hInst and the status bar globals are set up for it.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hInst = GetModuleHandleA(nullptr);
        hWndStatusbar = nullptr;
        owner_ = CreateOwnerWindow();
        ASSERT_NE(owner_, nullptr);
        SetMenu(owner_, LoadMenuA(hInst, MAKEINTRESOURCEA(IDVANTREL)));
    }
    void TearDown() override
    {
        DestroyWindow(owner_);
        hWndStatusbar = nullptr;
    }
    HWND owner_ = nullptr;
};

// What the program asked of CreateStatusWindowA (the control itself drops
// WS_BORDER on some platforms).
struct StatusRequest {
    static inline ImportPatch *patch;
    static inline LONG style;
    static inline std::string text;
    static inline UINT id;
    static HWND WINAPI Record(LONG style, LPCSTR text, HWND parent, UINT id)
    {
        StatusRequest::style = style;
        StatusRequest::text = text;
        StatusRequest::id = id;
        return patch->original<HWND(WINAPI *)(LONG, LPCSTR, HWND, UINT)>()(style, text, parent, id);
    }
};

TEST_F(MainWindowTest, StatusBarStartsWithOnePartAcrossTheBottom)
{
    {
        ImportPatch patch("comctl32.dll", "CreateStatusWindowA", reinterpret_cast<void *>(StatusRequest::Record));
        StatusRequest::patch = &patch;
        ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    }
    EXPECT_EQ(StatusRequest::style, WS_CHILD | WS_VISIBLE | WS_BORDER | SBARS_SIZEGRIP);
    EXPECT_EQ(StatusRequest::text, "Ready");
    EXPECT_EQ(StatusRequest::id, static_cast<UINT>(IDM_STATUSBAR));
    ASSERT_NE(hWndStatusbar, nullptr);
    EXPECT_EQ(GetParent(hWndStatusbar), owner_);
    EXPECT_EQ(GetDlgCtrlID(hWndStatusbar), IDM_STATUSBAR);
    EXPECT_EQ(ClassName(hWndStatusbar), STATUSCLASSNAMEA);
    EXPECT_TRUE(GetWindowLongA(hWndStatusbar, GWL_STYLE) & SBARS_SIZEGRIP) << "a size grip at its right end";
    EXPECT_EQ(StatusText(), "Ready");
    EXPECT_EQ(StatusParts(), std::vector<int>{ClientWidth(owner_)});

    RECT bar, client;
    GetWindowRect(hWndStatusbar, &bar);
    GetClientRect(owner_, &client);
    MapWindowPoints(owner_, nullptr, reinterpret_cast<POINT *>(&client), 2);
    EXPECT_EQ(bar.bottom, client.bottom) << "along the bottom edge";
    EXPECT_EQ(bar.right - bar.left, client.right - client.left) << "at full width";
}

TEST_F(MainWindowTest, StatusBarCreationFailureLeavesTheOperationsHarmless)
{
    ImportPatch patch("comctl32.dll", "CreateStatusWindowA", reinterpret_cast<void *>(RefuseStatusWindow));
    EXPECT_EQ(CreateSBar(owner_, "Ready", 1), 0);
    EXPECT_EQ(hWndStatusbar, nullptr);
    // The resize handling, the layout and the menu help run on without it.
    EXPECT_EQ(MainWndProc(owner_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200)), 0);
    InitializeStatusBar(owner_, 1);
    UpdateStatusBar("text", 0, 0);
    EXPECT_EQ(MsgMenuSelect(owner_, WM_MENUSELECT, MAKEWPARAM(IDM_EXIT, 0), 0), 0);
}

// Each highlight in the menus, with the text the status bar then shows. The
// text is set to a sentinel before each, so an empty answer is seen.
TEST_F(MainWindowTest, MenuHelpFollowsTheHighlightedItem)
{
    ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    HMENU bar = GetMenu(owner_);
    HMENU file = GetSubMenu(bar, 0);
    HMENU system = GetSystemMenu(owner_, FALSE);
    struct Case {
        const char *what;
        WORD id;
        WORD flags;
        HMENU menu;
        const char *text;
    };
    const Case cases[] = {
        {"Encrypt", IDM_ENCRYPT, MF_HILITE, file, "Encrypts a document"},
        {"Encrypt greyed", IDM_ENCRYPT, MF_HILITE | MF_GRAYED | MF_DISABLED, file, "Encrypts a document"},
        {"Decrypt greyed", IDM_DECRYPT, MF_HILITE | MF_GRAYED, file, "Decrypts a document"},
        {"Set Key", IDM_SETKEY, MF_HILITE, file, "Sets the encryption key"},
        {"Exit", IDM_EXIT, MF_HILITE | MF_MOUSESELECT, file, "Quits this application"},
        {"About", IDM_ABOUT, MF_HILITE, GetSubMenu(bar, 1), "Displays information about this application"},
        {"popup File", 0, MF_POPUP | MF_HILITE, bar, ""},
        {"popup Help", 1, MF_POPUP | MF_HILITE, bar, ""},
        {"separator", 0, MFT_SEPARATOR | MF_HILITE, file, ""},
        {"system menu", 0, MF_POPUP | MF_SYSMENU | MF_HILITE, system, ""},
        {"system menu Close", SC_CLOSE, MF_SYSMENU | MF_HILITE, system, ""},
        {"item without a string", 4321, MF_HILITE, file, ""},
        {"menu closed", 0, 0xFFFF, nullptr, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        UpdateStatusBar("sentinel", 0, 0);
        LRESULT result = MainWndProc(owner_, WM_MENUSELECT, MAKEWPARAM(c.id, c.flags),
                                     reinterpret_cast<LPARAM>(c.menu));
        EXPECT_EQ(result, 0);
        EXPECT_EQ(StatusText(), c.text);
    }
}

TEST_F(MainWindowTest, ResizeMovesTheBarAndPutsReadyBack)
{
    ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    for (SIZE size : {SIZE{420, 260}, SIZE{700, 500}, SIZE{250, 180}}) {
        SCOPED_TRACE(std::to_string(size.cx) + "x" + std::to_string(size.cy));
        UpdateStatusBar("Quits this application", 0, 0);
        // The owner's own procedure does nothing on WM_SIZE: hand the
        // message to MainWndProc the way the main window would get it.
        SetWindowPos(owner_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT client;
        GetClientRect(owner_, &client);
        MainWndProc(owner_, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
        EXPECT_EQ(StatusText(), "Ready");
        EXPECT_EQ(StatusParts(), std::vector<int>{client.right}) << "one part across the whole bar";
        RECT bar;
        GetWindowRect(hWndStatusbar, &bar);
        EXPECT_EQ(bar.right - bar.left, client.right);
    }
}

// The layout keeps its parts within the 40 that it has room for; the parts
// before the last share the width.
TEST_F(MainWindowTest, LayoutOfSeveralPartsStaysWithinItsRoom)
{
    ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    int width = ClientWidth(owner_);
    InitializeStatusBar(owner_, 3);
    EXPECT_EQ(StatusParts(), (std::vector<int>{width / 3, width * 2 / 3, width}));
    InitializeStatusBar(owner_, 100);
    std::vector<int> parts = StatusParts();
    ASSERT_EQ(parts.size(), 40u);
    EXPECT_EQ(parts.back(), width);
    InitializeStatusBar(owner_, 0);
    EXPECT_EQ(StatusParts(), std::vector<int>{width});
    EXPECT_EQ(StatusText(), "Ready");
}

TEST_F(MainWindowTest, UpdateStatusBarPassesPartAndDrawingType)
{
    ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    InitializeStatusBar(owner_, 2);
    UpdateStatusBar("second", 1, SBT_POPOUT);
    char text[64] = "";
    LRESULT answer = SendMessageA(hWndStatusbar, SB_GETTEXTA, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "second");
    EXPECT_EQ(HIWORD(answer), SBT_POPOUT);
}

TEST_F(MainWindowTest, UnknownCommandsAndCommandsFromControlsAreIgnoredOrDispatchedAlike)
{
    ASSERT_EQ(CreateSBar(owner_, "Ready", 1), 1);
    EXPECT_EQ(MainWndProc(owner_, WM_COMMAND, MAKEWPARAM(4321, 0), 0), 0);
    EXPECT_EQ(MainWndProc(owner_, WM_COMMAND, MAKEWPARAM(IDM_STATUSBAR, 1), 0), 0);
    EXPECT_TRUE(IsWindow(owner_));

    // Exit, from the menu (0) or the accelerator (1): a posted WM_CLOSE.
    for (WORD code : {0, 1}) {
        MSG msg;
        while (PeekMessageA(&msg, owner_, WM_CLOSE, WM_CLOSE, PM_REMOVE)) {
        }
        MainWndProc(owner_, WM_COMMAND, MAKEWPARAM(IDM_EXIT, code), 0);
        EXPECT_TRUE(IsWindow(owner_)) << "posted, not sent";
        ASSERT_TRUE(PeekMessageA(&msg, owner_, WM_CLOSE, WM_CLOSE, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 0u);
        EXPECT_EQ(msg.lParam, 0);
    }
}

// ---- WinMain, driven from inside --------------------------------------------

// Runs WinMain on this thread. `script` is called every 50 ms from a thread
// timer, which fires in the About box's modal loop and in the message loop
// alike, with the step number; Driver::Repeat() makes the same step come
// again (waiting for a window). It returns false once it is done. After 20
// seconds every window of the thread is destroyed, so the test cannot hang.
struct Driver {
    static inline std::function<bool(int)> script;
    static inline int step;
    static inline bool timedOut;
    static void Repeat() { --step; }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (script && !script(step++))
            script = nullptr;
    }
    static BOOL CALLBACK Destroy(HWND hwnd, LPARAM)
    {
        if (hwnd != hwndMain)
            DestroyWindow(hwnd);
        return TRUE;
    }
    static void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD)
    {
        KillTimer(nullptr, id);
        timedOut = true;
        script = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), Destroy, 0);
        DestroyWindow(hwndMain);
    }
};

int RunWinMain(std::function<bool(int)> script)
{
    Driver::script = std::move(script);
    Driver::step = 0;
    Driver::timedOut = false;
    hwndMain = nullptr;
    hWndStatusbar = nullptr;
    UINT_PTR tick = SetTimer(nullptr, 0, 50, Driver::Tick);
    UINT_PTR watchdog = SetTimer(nullptr, 0, 20000, Driver::Watchdog);
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    KillTimer(nullptr, tick);
    KillTimer(nullptr, watchdog);
    Driver::script = nullptr;
    UnregisterClassA("vantrelwinWndClass", GetModuleHandleA(nullptr));
    EXPECT_FALSE(Driver::timedOut) << "the script did not finish";
    return result;
}

// The visible dialog owned by `owner`, or null.
HWND DialogOwnedBy(HWND owner)
{
    for (HWND dialog = FindWindowA("#32770", nullptr); dialog;
         dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)) {
        if (IsWindowVisible(dialog) && GetWindow(dialog, GW_OWNER) == owner)
            return dialog;
    }
    return nullptr;
}

bool Greyed(UINT id)
{
    return (GetMenuState(GetMenu(hwndMain), id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

void PressCtrlQ()
{
    INPUT keys[4] = {};
    WORD sequence[4][2] = {{VK_CONTROL, 0}, {'Q', 0}, {'Q', KEYEVENTF_KEYUP}, {VK_CONTROL, KEYEVENTF_KEYUP}};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = sequence[i][0];
        keys[i].ki.dwFlags = sequence[i][1];
    }
    SendInput(4, keys, sizeof(INPUT));
}

// Start-up up to the About box, Ctrl+Q held off while it is up, then the
// message loop: a resize, About again, an unknown command, and Ctrl+Q.
TEST(WinMainTest, StartsWithAboutOverTheMainWindowAndQuitsOnCtrlQ)
{
    HWND about = nullptr;
    int aboutShown = 0;
    std::vector<std::string> log;
    int result = RunWinMain([&](int step) {
        HWND dialog = hwndMain ? DialogOwnedBy(hwndMain) : nullptr;
        switch (step) {
        case 0:
            if (!dialog) {
                Driver::Repeat();  // not up yet
                return true;
            }
            about = dialog;
            ++aboutShown;
            EXPECT_EQ(WindowText(about), "About Vantrel");
            EXPECT_TRUE(IsWindowVisible(hwndMain)) << "the main window is visible behind it";
            EXPECT_FALSE(IsWindowEnabled(hwndMain)) << "and takes no input";
            EXPECT_EQ(WindowText(hwndMain), "Vantrel");
            EXPECT_EQ(ClassName(hwndMain), "vantrelwinWndClass");
            EXPECT_EQ(StatusText(), "Ready");
            EXPECT_EQ(StatusParts(), std::vector<int>{ClientWidth(hwndMain)});
            EXPECT_TRUE(Greyed(IDM_ENCRYPT));
            EXPECT_TRUE(Greyed(IDM_DECRYPT));
            EXPECT_FALSE(Greyed(IDM_SETKEY));
            EXPECT_FALSE(Greyed(IDM_EXIT));
            EXPECT_FALSE(Greyed(IDM_ABOUT));
            SetForegroundWindow(about);
            PressCtrlQ();
            return true;
        case 6:  // Ctrl+Q has had time to arrive
            EXPECT_TRUE(IsWindow(about)) << "Ctrl+Q does nothing while the About box is up";
            EXPECT_TRUE(IsWindow(hwndMain));
            SendDlgItemMessageA(about, IDOK, BM_CLICK, 0, 0);
            return true;
        case 8: {
            EXPECT_FALSE(IsWindow(about));
            EXPECT_TRUE(IsWindowEnabled(hwndMain));
            UpdateStatusBar("", 0, 0);
            SetWindowPos(hwndMain, nullptr, 0, 0, 500, 300, SWP_NOMOVE | SWP_NOZORDER);
            EXPECT_EQ(StatusText(), "Ready") << "a resize puts Ready back";
            EXPECT_EQ(StatusParts(), std::vector<int>{ClientWidth(hwndMain)});
            PostMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(4321, 0), 0);
            PostMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
            return true;
        }
        case 9:
            return true;
        case 10:
            if (!dialog) {
                Driver::Repeat();  // the second About box is not up yet
                return true;
            }
            ++aboutShown;
            EXPECT_EQ(WindowText(dialog), "About Vantrel");
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return true;
        case 12:
            EXPECT_EQ(DialogOwnedBy(hwndMain), nullptr);
            SetForegroundWindow(hwndMain);
            SetFocus(hwndMain);
            PressCtrlQ();
            return false;
        default:
            return true;
        }
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(aboutShown, 2);
    EXPECT_FALSE(IsWindow(hwndMain)) << "Ctrl+Q closed the main window";
}

// File, Exit (a posted WM_CLOSE) and the window's own close both end the
// program with 0.
TEST(WinMainTest, ExitAndCloseEndWithZero)
{
    for (bool fromMenu : {true, false}) {
        SCOPED_TRACE(fromMenu ? "File, Exit" : "close box");
        int result = RunWinMain([&](int step) {
            HWND dialog = hwndMain ? DialogOwnedBy(hwndMain) : nullptr;
            if (step == 0) {
                if (dialog)
                    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
                else
                    Driver::Repeat();
                return true;
            }
            if (fromMenu)
                PostMessageA(hwndMain, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
            else
                PostMessageA(hwndMain, WM_SYSCOMMAND, SC_CLOSE, 0);
            return false;
        });
        EXPECT_EQ(result, 0);
        EXPECT_FALSE(IsWindow(hwndMain));
    }
}

// Counts the windows created on this thread while it lives.
struct CreationCounter {
    static inline int windows;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND)
            ++windows;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    CreationCounter()
    {
        windows = 0;
        hook_ = SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId());
    }
    ~CreationCounter() { UnhookWindowsHookEx(hook_); }
    HHOOK hook_;
};

TEST(WinMainTest, RefusedClassEndsAtOnceWithZero)
{
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = "vantrelwinWndClass";
    ASSERT_NE(RegisterClassA(&taken), 0);  // the program's own registration now fails

    CreationCounter created;
    hwndMain = nullptr;
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOW), 0);
    EXPECT_EQ(CreationCounter::windows, 0) << "no window, no message box";
    EXPECT_EQ(hwndMain, nullptr);
    UnregisterClassA("vantrelwinWndClass", GetModuleHandleA(nullptr));
}

TEST(WinMainTest, FailedMainWindowEndsAtOnceWithZero)
{
    CreationCounter created;
    {
        ImportPatch patch("user32.dll", "CreateWindowExA", reinterpret_cast<void *>(RefuseWindow));
        hwndMain = nullptr;
        hWndStatusbar = nullptr;
        EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOW), 0);
    }
    EXPECT_EQ(CreationCounter::windows, 0) << "no status bar, no About box, no message box";
    EXPECT_EQ(hwndMain, nullptr);
    EXPECT_EQ(hWndStatusbar, nullptr);
    UnregisterClassA("vantrelwinWndClass", GetModuleHandleA(nullptr));
}

}  // namespace
