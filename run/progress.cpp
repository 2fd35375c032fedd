// The progress dialog's procedure.

#include "progress.h"

#include "dlgsupport.h"
#include "resource.h"

static tagWeditDlgParams WeditDlgParams;  // all zero, never changed

// The static texts drawn in black: everything but the progress bar.
static constexpr int kBlackTextIds[] = {
    ID_PHEADER, ID_KEYV, ID_KEY, ID_TOFILEV, ID_TOFILE, ID_FROMFILEV, ID_FROMFILE,
};

INT_PTR CALLBACK Progress(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(&WeditDlgParams));
        SetPropA(hwnd, "InputArgument", reinterpret_cast<HANDLE>(lParam));
        break;
    case WM_DESTROY:
        FreeGdiObjects(hwnd);
        RemovePropA(hwnd, "InputArgument");
        break;
    case WM_CTLCOLORSTATIC: {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        HWND hwndCtl = reinterpret_cast<HWND>(lParam);
        int id = GetWindowLongA(hwndCtl, GWL_ID);
        for (int blackId : kBlackTextIds) {
            if (id == blackId)
                SetTextColor(hdc, RGB(0, 0, 0));
        }
        SetBkMode(hdc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
    }
    }
    return HandleDefaultMessages(hwnd, msg, wParam, lParam);
}
