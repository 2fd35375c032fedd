// The Encrypt, Decrypt and Set Key commands: their file dialogs, the check
// of the chosen input, and the key file's path.

#include "filemngr.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "encode.h"
#include "filechk.h"
#include "process.h"
#include "resource.h"
#include "vantrelwin.h"

char szKeyFile[256];

// Every path buffer of the commands holds 256 characters with the NUL.
constexpr DWORD kPathChars = 256;

// The request of Windows NT 4, without the fields added later (76 bytes on
// 32-bit Windows): later versions then show their dialogs without the
// places bar. (OPENFILENAME_SIZE_VERSION_400A, as a constant expression.)
constexpr DWORD kOpenFileNameSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
static_assert(sizeof(void *) != 4 || kOpenFileNameSize == 76, "the NT 4 request is 76 bytes");

constexpr DWORD kOpenFlags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
constexpr DWORD kSaveFlags = OFN_SHOWHELP | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;

// What sets the two commands apart. The filter lists are pairs of text and
// pattern, each NUL-terminated; the literal's own NUL ends the list.
struct CommandDialogs {
    int mMode;
    const char *szList;  // open dialog
    DWORD openFilterIndex;
    const char *openPattern;
    UINT openTitle;
    const char *szSList;  // save dialog
    DWORD saveFilterIndex;
    const char *savePattern;
    UINT saveTitle;
};

static const CommandDialogs kEncryptDialogs = {
    ENCRYPT,
    "All files (*.*)\0*.*\0"
    "Document files (*.doc)\0*.doc\0"
    "Executable files (*.exe)\0*.exe\0"
    "Text files (*.txt)\0*.txt\0",
    0, "*.*", IDS_ENCRYPT,
    "VANTREL files (*.vtl)\0*.vtl\0",
    1, "*.vtl", IDS_TENCRYPT,
};

static const CommandDialogs kDecryptDialogs = {
    DECRYPT,
    "All files (*.*)\0*.*\0"
    "VANTREL files (*.vtl)\0*.vtl\0",
    2, "*.vtl", IDS_DECRYPT,
    "",  // no file types: the list ends at once
    0, "*.*", IDS_TDECRYPT,
};

static void ShowError(const char *text)
{
    MessageBoxA(hwndMain, text, "ERROR", MB_ICONERROR);
}

// Reads the process's current directory into szDirName and returns it as
// the dialog's initial folder. A directory that does not fit leaves the
// buffer unwritten: the dialog then gets no initial folder (null).
static const char *InitialFolder(char (&szDirName)[kPathChars])
{
    DWORD length = GetCurrentDirectoryA(kPathChars, szDirName);
    if (length == 0 || length >= kPathChars) {
        szDirName[0] = '\0';
        return nullptr;
    }
    return szDirName;
}

// Copies the path that a file dialog returned in szFile. The dialog writes at
// most its 256 characters; one without a terminator inside them would be a
// cut path, naming some other file, and is refused (false).
static bool TakeChosenPath(char (&to)[kPathChars], const char (&szFile)[kPathChars])
{
    const void *end = std::memchr(szFile, '\0', kPathChars);
    if (!end)
        return false;
    std::memcpy(to, szFile, static_cast<const char *>(end) - szFile + 1);
    return true;
}

// Sets a pattern or a path that fits into the dialog's name field.
static void SetNameField(char (&szFile)[kPathChars], const char *text)
{
    std::strncpy(szFile, text, kPathChars - 1);
    szFile[kPathChars - 1] = '\0';
}

// The two dialogs of Encrypt and Decrypt, then the run.
static void RunCommand(const CommandDialogs &dialogs)
{
    char szDirName[kPathChars];
    char szFile[kPathChars];
    char szTitle[kPathChars];
    char infile[kPathChars];
    char outfile[kPathChars];
    const char *szList = dialogs.szList;
    const char *szSList = dialogs.szSList;

    const char *initialDir = InitialFolder(szDirName);
    SetNameField(szFile, dialogs.openPattern);
    LoadStringA(hInst, dialogs.openTitle, szTitle, kPathChars);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = hwndMain;
    ofn.lpstrFilter = szList;
    ofn.nFilterIndex = dialogs.openFilterIndex;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrInitialDir = initialDir;
    ofn.lpstrTitle = szTitle;
    ofn.Flags = kOpenFlags;
    if (!GetOpenFileNameA(&ofn) || !TakeChosenPath(infile, szFile))
        return;
    if (!IsFile(infile)) {
        ShowError("Bad filename");
        return;
    }

    // The open dialog has moved the current directory to the input's folder:
    // the save dialog opens there.
    initialDir = InitialFolder(szDirName);
    SetNameField(szFile, dialogs.savePattern);
    LoadStringA(hInst, dialogs.saveTitle, szTitle, kPathChars);
    ofn.lpstrFilter = szSList;
    ofn.nFilterIndex = dialogs.saveFilterIndex;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrInitialDir = initialDir;
    ofn.lpstrTitle = szTitle;
    ofn.Flags = kSaveFlags;
    ofn.nFileOffset = 0;
    ofn.nFileExtension = 0;
    if (!GetSaveFileNameA(&ofn) || !TakeChosenPath(outfile, szFile))
        return;

    Algorithm(dialogs.mMode, infile, outfile);
}

void Encrypt()
{
    RunCommand(kEncryptDialogs);
}

void Decrypt()
{
    RunCommand(kDecryptDialogs);
}

void EnableDecrypt()
{
    HMENU hMainMenu = GetMenu(hwndMain);
    EnableMenuItem(hMainMenu, IDM_DECRYPT, MF_BYCOMMAND | MF_ENABLED);
}

void SetKey()
{
    char szDirName[kPathChars];
    char szFile[kPathChars];
    char szTitle[kPathChars];

    const char *initialDir = InitialFolder(szDirName);
    // The dialog opens on the current key file, if there is one.
    SetNameField(szFile, szKeyFile[0] != '\0' ? szKeyFile : "*.*");
    LoadStringA(hInst, IDS_SETKEY, szTitle, kPathChars);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = hwndMain;
    ofn.lpstrFilter = nullptr;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrInitialDir = initialDir;
    ofn.lpstrTitle = szTitle;
    ofn.Flags = kOpenFlags;
    char chosen[kPathChars];
    if (!GetOpenFileNameA(&ofn) || !TakeChosenPath(chosen, szFile))
        return;
    if (!IsFile(chosen)) {
        ShowError("Bad filename");
        return;
    }

    std::strcpy(szKeyFile, chosen);
    HMENU hMainMenu = GetMenu(hwndMain);
    EnableMenuItem(hMainMenu, IDM_ENCRYPT, MF_BYCOMMAND | MF_ENABLED);
    EnableDecrypt();
    // An empty caption, not a missing one: the platform would put in "Error".
    MessageBoxA(hwndMain, "Key successfully set!", "", MB_ICONINFORMATION);
}
