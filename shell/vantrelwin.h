// Start-up, the main window and its status bar. WinMain (declared by
// <windows.h>) is the program's entry: it installs the main window class,
// creates the main window and its status bar, greys Encrypt and Decrypt,
// shows the About box once and runs the message loop; its result, the
// process exit code, is 0 after a normal quit and 0 when the window class or
// the main window cannot be created (then without any message).
#pragma once

#include <windows.h>

// The program's instance and its main window: set once at start-up and never
// changed. The run and the commands use them as owner of their dialogs and
// message boxes, and to load resources.
extern HINSTANCE hInst;
extern HWND hwndMain;

// The status bar (control id IDM_STATUSBAR); null until CreateSBar succeeds,
// and for the whole run when it fails. Every status bar operation then has
// no effect.
extern HWND hWndStatusbar;

// Creates the main window ("Vantrel", class "vantrelwinWndClass", the menu
// bar IDVANTREL, placed and sized by the platform). Returns it, or null.
HWND CreatevantrelwinWndClassWnd();

// The main window's procedure: commands go to MainWndProc_OnCommand, a
// resize puts the status bar along the bottom edge and shows "Ready", menu
// highlighting shows menu help, WM_DESTROY ends the message loop with 0.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The command dispatch: Encrypt, Decrypt, Set Key and About run to completion
// before it returns; Exit posts WM_CLOSE to hwnd. Other ids are ignored;
// hwndCtl and codeNotify are not used (menu and accelerator alike).
void MainWndProc_OnCommand(HWND hwnd, int id, HWND hwndCtl, UINT codeNotify);

// Creates the status bar at the bottom of hwndParent with initialText and
// lays out nrOfParts parts. Returns 1, or 0 when the control is not created.
int CreateSBar(HWND hwndParent, const char *initialText, int nrOfParts);

// Lays out nrOfParts parts (1 to 40; the last ends at the right edge of
// hwndParent's client area, the others share the width evenly) and shows
// "Ready" in part 0.
void InitializeStatusBar(HWND hwndParent, int nrOfParts);

// Shows lpszStatusString (the control copies it) in part partNumber, drawn
// as displayFlags asks (SB_SETTEXT drawing types; 0 is the sunken part).
void UpdateStatusBar(const char *lpszStatusString, WORD partNumber, WORD displayFlags);

// WM_MENUSELECT of the main window: shows the highlighted command's help text
// from the string table (greyed or not), or the empty text for popup titles,
// separators, the system menu and a closed menu. Returns 0.
LRESULT MsgMenuSelect(HWND hwnd, UINT uMessage, WPARAM wparam, LPARAM lparam);
