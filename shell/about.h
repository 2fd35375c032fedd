// The About box (template IDD_ABOUT), shown modal at start-up and from
// Help, About.
#pragma once

#include <windows.h>

// Dialog procedure of the About box. OK and Enter end it with 1, Escape and
// WM_CLOSE with 0. Draws the name and the motto in black over the face
// colour (the answer to WM_CTLCOLORSTATIC is the COLOR_3DFACE system brush);
// keeps the creation parameter in the property "InputArgument" from
// WM_INITDIALOG to WM_DESTROY; every other message, OK included, goes to
// HandleDefaultMessages, whose answer it returns.
INT_PTR CALLBACK About(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Ends the About box hDlg with result 1.
void AboutOKSelected(HWND hDlg);
