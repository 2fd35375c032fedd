// The About box's procedure.

#include "about.h"

#include "dlgsupport.h"
#include "resource.h"

static tagWeditDlgParams WeditDlgParams;  // all zero, never changed

void AboutOKSelected(HWND hDlg)
{
    EndDialog(hDlg, 1);
}

INT_PTR CALLBACK About(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(&WeditDlgParams));
        SetPropA(hwnd, "InputArgument", reinterpret_cast<HANDLE>(lParam));
        break;
    case WM_COMMAND:
        // Any notification from OK counts here; the fallback then ends the
        // dialog once more with the same result when wParam is exactly IDOK.
        if (LOWORD(wParam) == IDOK)
            AboutOKSelected(hwnd);
        break;
    case WM_DESTROY:
        FreeGdiObjects(hwnd);
        RemovePropA(hwnd, "InputArgument");
        break;
    case WM_CTLCOLORSTATIC: {
        HDC hdc = reinterpret_cast<HDC>(wParam);
        HWND hwndCtl = reinterpret_cast<HWND>(lParam);
        int id = GetWindowLongA(hwndCtl, GWL_ID);
        if (id == ID_ABOUTMOTTO || id == ID_ABOUTNAME)
            SetTextColor(hdc, RGB(0, 0, 0));
        SetBkMode(hdc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE));
    }
    }
    return HandleDefaultMessages(hwnd, msg, wParam, lParam);
}
