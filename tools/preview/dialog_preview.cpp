// Shows one of Vantrel's dialogs, built from the program's own resources and
// procedures, over a plain owner window, for screenshots:
//   dialog-preview.exe progress|about [RECT-FILE [SECONDS]]
// Once the dialog is up its window rectangle (left top right bottom, in
// screen coordinates) is written to RECT-FILE. Ends when the owner window is
// closed, the dialog is ended, or after SECONDS.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "about.h"
#include "progress.h"
#include "resource.h"

static LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The texts and bar position the run would give it during an Encrypt.
static void FillProgressSample(HWND hDlg)
{
    SetDlgItemTextA(hDlg, ID_PHEADER, "Encrypting...");
    SetDlgItemTextA(hDlg, ID_FROMFILEV, "C:\\Documents\\Quarterly report.doc");
    SetDlgItemTextA(hDlg, ID_TOFILEV, "C:\\Documents\\Quarterly report.vtl");
    SetDlgItemTextA(hDlg, ID_KEYV, "C:\\Keys\\holiday-photo.jpg");
    SendDlgItemMessageA(hDlg, ID_PBAR, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
    SendDlgItemMessageA(hDlg, ID_PBAR, PBM_SETPOS, 40, 0);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    const char *which = __argc > 1 ? __argv[1] : "";
    const char *rectFile = __argc > 2 ? __argv[2] : nullptr;
    int seconds = __argc > 3 ? std::atoi(__argv[3]) : 0;
    bool progress = std::strcmp(which, "progress") == 0;
    if (!progress && std::strcmp(which, "about") != 0) {
        MessageBoxA(nullptr, "usage: dialog-preview.exe progress|about [RECT-FILE [SECONDS]]",
                    "dialog-preview", MB_ICONERROR);
        return 2;
    }

    // The program gets the progress bar class by importing comctl32.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "DialogPreviewOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowA("DialogPreviewOwner", "Dialog preview",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 420, 360,
                               nullptr, nullptr, hInstance, nullptr);
    if (!owner)
        return 1;

    HWND dlg = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(progress ? IDD_PROGRESS : IDD_ABOUT),
                                  owner, progress ? Progress : About, 0);
    if (!dlg)
        return 1;
    if (progress)
        FillProgressSample(dlg);
    UpdateWindow(dlg);

    if (rectFile) {
        RECT rc;
        GetWindowRect(dlg, &rc);
        if (FILE *out = std::fopen(rectFile, "w")) {
            std::fprintf(out, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right, rc.bottom);
            std::fclose(out);
        }
    }

    if (seconds > 0)
        SetTimer(owner, 1, seconds * 1000, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == owner) {
            DestroyWindow(owner);
            owner = nullptr;
            continue;
        }
        if (!IsDialogMessageA(dlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (owner && !IsWindowVisible(dlg)) {  // ended (OK, Escape)
            DestroyWindow(owner);
            owner = nullptr;
        }
    }
    return 0;
}
