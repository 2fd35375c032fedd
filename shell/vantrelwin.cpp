// Start-up, the main window with its command dispatch, and the status bar
// with its menu help.

#include "vantrelwin.h"

#include <commctrl.h>

#include "about.h"
#include "filemngr.h"
#include "resource.h"

HINSTANCE hInst;
HWND hwndMain;
HWND hWndStatusbar;

static constexpr char kClassName[] = "vantrelwinWndClass";

// The status bar keeps at most this many parts.
static constexpr int kMaxParts = 40;

// The menu help text on show; the control keeps its own copy.
static char szBuffer[256];

// Installs the main window class. Returns 1, or 0 when the platform refuses.
static int InitApplication()
{
    WNDCLASSA wc = {};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInst;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDVANTREL);
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc) != 0 ? 1 : 0;
}

HWND CreatevantrelwinWndClassWnd()
{
    return CreateWindowExA(0, kClassName, "Vantrel",
                           WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                               WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, hInst, nullptr);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    hInst = hInstance;
    if (!InitApplication())
        return 0;
    // Without the table Ctrl+Q does nothing; the program runs on.
    HACCEL hAccelTable = LoadAcceleratorsA(hInst, MAKEINTRESOURCEA(IDACCEL));
    hwndMain = CreatevantrelwinWndClassWnd();
    if (!hwndMain)
        return 0;
    CreateSBar(hwndMain, "Ready", 1);  // without a status bar the program runs on
    ShowWindow(hwndMain, SW_SHOW);

    // Encrypt and Decrypt wait for a key.
    HMENU hMainMenu = GetMenu(hwndMain);
    EnableMenuItem(hMainMenu, IDM_ENCRYPT, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(hMainMenu, IDM_DECRYPT, MF_BYCOMMAND | MF_GRAYED);

    DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_ABOUT), hwndMain, About, 0);

    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(msg.hwnd, hAccelTable, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

void MainWndProc_OnCommand(HWND hwnd, int id, HWND, UINT)
{
    switch (id) {
    case IDM_ENCRYPT:
        Encrypt();
        break;
    case IDM_DECRYPT:
        Decrypt();
        break;
    case IDM_SETKEY:
        SetKey();
        break;
    case IDM_EXIT:
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        break;
    case IDM_ABOUT:
        DialogBoxParamA(hInst, MAKEINTRESOURCEA(IDD_ABOUT), hwndMain, About, 0);
        break;
    }
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND:
        MainWndProc_OnCommand(hwnd, LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_SIZE:
        // The first WM_SIZE comes during window creation, before the bar.
        if (hWndStatusbar) {
            // The bar moves itself along the new bottom edge; its own client
            // area then gives the width of its part.
            SendMessageA(hWndStatusbar, WM_SIZE, wParam, lParam);
            InitializeStatusBar(hWndStatusbar, 1);
        }
        return 0;
    case WM_MENUSELECT:
        return MsgMenuSelect(hwnd, msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int CreateSBar(HWND hwndParent, const char *initialText, int nrOfParts)
{
    hWndStatusbar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | WS_BORDER | SBARS_SIZEGRIP, initialText,
                                        hwndParent, IDM_STATUSBAR);
    if (!hWndStatusbar)
        return 0;
    InitializeStatusBar(hwndParent, nrOfParts);
    return 1;
}

void InitializeStatusBar(HWND hwndParent, int nrOfParts)
{
    int ptArray[kMaxParts];
    if (nrOfParts < 1)
        nrOfParts = 1;
    if (nrOfParts > kMaxParts)
        nrOfParts = kMaxParts;
    RECT rect = {};
    GetClientRect(hwndParent, &rect);
    for (int part = 0; part < nrOfParts - 1; ++part)
        ptArray[part] = rect.right * (part + 1) / nrOfParts;
    ptArray[nrOfParts - 1] = rect.right;
    SendMessageA(hWndStatusbar, SB_SETPARTS, nrOfParts, reinterpret_cast<LPARAM>(ptArray));
    UpdateStatusBar("Ready", 0, 0);
}

void UpdateStatusBar(const char *lpszStatusString, WORD partNumber, WORD displayFlags)
{
    SendMessageA(hWndStatusbar, SB_SETTEXTA, partNumber | displayFlags,
                 reinterpret_cast<LPARAM>(lpszStatusString));
}

LRESULT MsgMenuSelect(HWND, UINT, WPARAM wparam, LPARAM lparam)
{
    UINT fuFlags = HIWORD(wparam);
    UINT uCmd = LOWORD(wparam);
    HMENU hMenu = reinterpret_cast<HMENU>(lparam);

    szBuffer[0] = '\0';
    UINT nStringID;
    if (fuFlags == 0xFFFF && !hMenu)
        nStringID = 0;  // the menu has closed
    else if (fuFlags & MFT_SEPARATOR)
        nStringID = 0;
    else if ((fuFlags & MF_POPUP) && (fuFlags & MF_SYSMENU))
        nStringID = IDS_SYSMENU;
    else if (fuFlags & MF_POPUP)
        nStringID = 0;
    else
        nStringID = uCmd;  // a command, greyed or not

    if (nStringID != 0)
        LoadStringA(hInst, nStringID, szBuffer, sizeof szBuffer);
    UpdateStatusBar(szBuffer, 0, 0);
    return 0;
}
