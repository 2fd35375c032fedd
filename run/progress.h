// The progress dialog (template IDD_PROGRESS), shown modeless while a file is
// transformed. The run creates it, fills its texts, steps its bar and ends it.
#pragma once

#include <windows.h>

// Dialog procedure of the progress dialog. Draws the seven static texts in
// black over the face colour (the answer to WM_CTLCOLORSTATIC is the
// COLOR_3DFACE system brush); keeps the creation parameter in the property
// "InputArgument" from WM_INITDIALOG to WM_DESTROY; every other message goes
// to HandleDefaultMessages, whose answer it returns.
INT_PTR CALLBACK Progress(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
