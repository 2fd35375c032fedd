// Resource identifiers of Vantrel, shared by the resource script
// (shell/vantrel.rc) and the code. Only #define lines: windres reads it too.
#pragma once

// Version information of each program (vantrel.exe, vantrel-cli.exe):
// Windows looks for it under id 1
#define IDV_VERSION     1

// Menu bar and accelerator table of the main window
#define IDVANTREL       600
#define IDACCEL         100

// Commands; each is also the string id of its menu help text
#define IDM_ENCRYPT     200
#define IDM_DECRYPT     210
#define IDM_SETKEY      220
#define IDM_EXIT        300
#define IDM_ABOUT       500

// Control id of the main window's status bar
#define IDM_STATUSBAR   3000

// Other strings
#define IDS_SYSMENU     2030
#define IDS_ENCRYPT     4000
#define IDS_TENCRYPT    4010
#define IDS_DECRYPT     5000
#define IDS_TDECRYPT    5010
#define IDS_SETKEY      6000

// Progress dialog and its controls
#define IDD_PROGRESS    900
#define ID_FROMFILE     901
#define ID_FROMFILEV    902
#define ID_TOFILE       903
#define ID_TOFILEV      904
#define ID_KEY          905
#define ID_KEYV         906
#define ID_PBAR         907
#define ID_PHEADER      908

// About dialog and its controls (its OK button is IDOK)
#define IDD_ABOUT       9000
#define ID_ABOUTNAME    9001
#define ID_ABOUTMOTTO   9004
