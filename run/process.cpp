// The transformation run: checks, opening order, the progress dialog, the
// engine over the shared file layer into a pending output, closing order and
// what a failure leaves.
#include "process.h"

#include <commctrl.h>

#include <string>

#include "encode.h"
#include "filechk.h"
#include "filemngr.h"
#include "fileid.h"
#include "filerun.h"
#include "pending.h"
#include "progress.h"
#include "resource.h"
#include "sysfile.h"
#include "vantrelwin.h"

FILE *fInFile = nullptr;
FILE *fKeyFile = nullptr;
FILE *fOutFile = nullptr;
HWND hProgress = nullptr;

static void ShowError(const char *pszMessage)
{
    MessageBoxA(hwndMain, pszMessage, "ERROR", MB_ICONERROR);
}

// Closes an input stream (the input, the key) and clears it.
static void CloseStream(FILE **stream)
{
    if (*stream) {
        fclose(*stream);
        *stream = nullptr;
    }
}

// The thread takes no messages from the queue while the engine works, so
// the dialog would never be painted: paint whatever is pending now.
static void RepaintProgress()
{
    if (hProgress)
        RedrawWindow(hProgress, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

static void ShowProgress(int mMode, const char *szInFile, const char *szOutFile)
{
    hProgress = CreateDialogParamA(hInst, MAKEINTRESOURCEA(IDD_PROGRESS), hwndMain, Progress, 0);
    if (!hProgress)
        return;
    // The bar runs from 1, not 0, and starts there.
    SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
    SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETPOS, 1, 0);
    SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETSTEP, 1, 0);
    SetDlgItemTextA(hProgress, ID_FROMFILEV, szInFile);
    SetDlgItemTextA(hProgress, ID_TOFILEV, szOutFile);
    SetDlgItemTextA(hProgress, ID_KEYV, szKeyFile);
    SetDlgItemTextA(hProgress, ID_PHEADER, mMode == ENCRYPT ? "Encrypting..." : "Decrypting...");
    RepaintProgress();
}

// Ends the dialog and destroys it now: hidden dialogs of earlier runs would
// otherwise pile up until the main window goes.
static void EndProgress()
{
    if (!hProgress)
        return;
    EndDialog(hProgress, TRUE);
    DestroyWindow(hProgress);
    hProgress = nullptr;
}

static void StepProgress(void *)
{
    Increment();
}

static const char *FailureMessage(RunStatus status)
{
    switch (status) {
    case RUN_CANNOT_READ_INPUT:
        return "Cannot read input file";
    case RUN_CANNOT_OPEN_KEY:
        return "Cannot open key file";
    case RUN_INPUT_CHANGED:
        return "Input file changed during the run: nothing was written";
    default:
        return "Cannot write output file";
    }
}

void Algorithm(int mMode, const char *szInFile, const char *szOutFile)
{
    if (!IsFile(szInFile)) {
        ShowError("Bad input file");
        return;
    }
    LONG lFileSize = FileSize(szInFile);
    if (!IsFile(szKeyFile)) {
        ShowError("Bad key file");
        // The key has to be chosen again before the next run.
        HMENU hMainMenu = GetMenu(hwndMain);
        EnableMenuItem(hMainMenu, IDM_ENCRYPT, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(hMainMenu, IDM_DECRYPT, MF_BYCOMMAND | MF_GRAYED);
        return;
    }
    fInFile = fopen(szInFile, "rb");
    if (!fInFile) {
        ShowError("Cannot open input file");
        return;
    }
    fKeyFile = fopen(szKeyFile, "rb");
    if (!fKeyFile) {
        ShowError("Cannot open key file");
        CloseStream(&fInFile);
        return;
    }
    // Replacing the input or the key under another name would lose that
    // file.
    std::string outPath = Utf8FromAnsi(szOutFile);
    if (OutputNamesInputOrKey(outPath, Utf8FromAnsi(szInFile), Utf8FromAnsi(szKeyFile))) {
        ShowError("Output file must differ from input and key files");
        CloseStream(&fInFile);
        CloseStream(&fKeyFile);
        return;
    }
    // The result goes to a temporary file beside the output and takes the
    // output's name only when it is complete: until then that name keeps
    // what it held. An output that could not be replaced is refused now,
    // before the user waits for the run.
    PendingOutput pending;
    std::string reason;
    if (!CanReplaceOutput(outPath, &reason) || !CreatePendingOutput(outPath, &pending, &reason)) {
        ShowError("Cannot open output file");
        CloseStream(&fInFile);
        CloseStream(&fKeyFile);
        return;
    }
    fOutFile = pending.stream;

    ShowProgress(mMode, szInFile, szOutFile);
    RunHooks hooks{StepProgress, nullptr, nullptr};
    RunStatus status = TransformStreams(mMode, lFileSize, fInFile, fKeyFile, fOutFile, hooks);
    EndProgress();

    CloseStream(&fInFile);
    // The commit or the discard closes the output and leaves no temporary
    // file; a failed commit leaves the output's name as it was.
    fOutFile = nullptr;
    if (status != RUN_OK)
        DiscardPendingOutput(&pending);
    else if (CommitPendingOutput(&pending, true, &reason) != COMMIT_DONE)
        status = RUN_CANNOT_WRITE_OUTPUT;
    CloseStream(&fKeyFile);
    if (status != RUN_OK)
        ShowError(FailureMessage(status));
}

void Increment()
{
    SendDlgItemMessageA(hProgress, ID_PBAR, PBM_STEPIT, 0, 0);
    RepaintProgress();
}
