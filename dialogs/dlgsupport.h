// Dialog support: the common fallback of the program's dialog procedures,
// and a per-window list of drawing objects that goes with its dialog.
#pragma once

#include <windows.h>

// Per-dialog parameter record. Each dialog module owns one static instance,
// all zero and never changed, and puts its address into the dialog's user
// slot (DWLP_USER) at WM_INITDIALOG. Nothing reads it back.
struct tagWeditDlgParams {
    LONG underscoreYOffset;  // vertical offset of underscores
    DWORD TextColor;         // 0x00BBGGRR
    LONG Styles;             // style flags
};

// The default handling of a dialog message, called with a dialog procedure's
// own four arguments; the procedure returns the answer unchanged.
// - WM_COMMAND with wParam exactly IDOK ends the dialog with 1, exactly
//   IDCANCEL with 0 (TRUE); WM_CLOSE ends it with 0 (TRUE).
// - A left-button message whose wParam is exactly MK_LBUTTON is sent on as
//   the matching non-client message on HTCAPTION, so that the client area
//   drags the dialog (TRUE); with any other button or key held, FALSE.
// - Control-colour messages set up the control's device context and answer
//   the null brush, leaving the colouring to the platform.
// - Everything else, WM_INITDIALOG included (no focus is set), is FALSE.
INT_PTR HandleDefaultMessages(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Hands hObject to the list of hwndOwner: FreeGdiObjects(hwndOwner) deletes
// it. Stored unchanged (no check for null or duplicate handles). Ownership
// passes in every case: if no room can be allocated for it, the object is
// deleted at once rather than leaked.
void AddGdiObject(HWND hwndOwner, HGDIOBJ hObject);

// Deletes every object handed over for hwndOwner, in the order they were
// added, and releases the list's memory for it. Nothing happens for a window
// without objects, so a second call does nothing.
void FreeGdiObjects(HWND hwndOwner);
