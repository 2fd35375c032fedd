// Start-up, the main window and its status bar.
#pragma once

#include <windows.h>

// The program's instance and its main window: set once at start-up and never
// changed. The run and the commands use them as owner of their dialogs and
// message boxes, and to load resources.
extern HINSTANCE hInst;
extern HWND hwndMain;
