// The transformation run: checks, opening order, the progress dialog, the
// engine over the shared file layer, closing order and what a failure leaves.
#include "process.h"

#include <commctrl.h>

#include "encode.h"
#include "filechk.h"
#include "filemngr.h"
#include "fileid.h"
#include "filerun.h"
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

// Closes *stream and clears it; false when the close failed (for the
// output: what was still buffered did not reach the file).
static bool CloseStream(FILE **stream)
{
    if (!*stream)
        return true;
    bool bClosed = fclose(*stream) == 0;
    *stream = nullptr;
    return bClosed;
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
        return "Input file changed during the run";
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
    // Opening the output empties it: were it the input or the key under
    // another name, that file would be lost before it is read.
    if (OutputNamesInputOrKey(Utf8FromAnsi(szOutFile), Utf8FromAnsi(szInFile),
                              Utf8FromAnsi(szKeyFile))) {
        ShowError("Output file must differ from input and key files");
        CloseStream(&fInFile);
        CloseStream(&fKeyFile);
        return;
    }
    fOutFile = fopen(szOutFile, "wb");
    if (!fOutFile) {
        ShowError("Cannot open output file");
        CloseStream(&fInFile);
        CloseStream(&fKeyFile);
        return;
    }

    ShowProgress(mMode, szInFile, szOutFile);
    RunHooks hooks{StepProgress, nullptr, nullptr};
    RunStatus status = TransformStreams(mMode, lFileSize, fInFile, fKeyFile, fOutFile, hooks);
    EndProgress();

    CloseStream(&fInFile);
    bool bOutputClosed = CloseStream(&fOutFile);
    CloseStream(&fKeyFile);
    if (status == RUN_OK && !bOutputClosed)
        status = RUN_CANNOT_WRITE_OUTPUT;
    if (status == RUN_OK)
        return;
    // The output holds a part of the result only: it must not pass for a
    // good file.
    remove(szOutFile);
    ShowError(FailureMessage(status));
}

int NextByte()
{
    int iCurByte = fgetc(fInFile);
    return iCurByte == EOF ? -1 : iCurByte;
}

int NextKeyVal()
{
    if (!fKeyFile)
        return -1;
    int iNextKeyByte = fgetc(fKeyFile);
    if (iNextKeyByte == EOF) {
        // The key stream starts over at the key file's first byte.
        fclose(fKeyFile);
        fKeyFile = fopen(szKeyFile, "rb");
        if (!fKeyFile)
            return -1;
        iNextKeyByte = fgetc(fKeyFile);
    }
    return iNextKeyByte == EOF ? -1 : iNextKeyByte;
}

void OutputChar(int iOutChar)
{
    fputc(static_cast<unsigned char>(iOutChar), fOutFile);
}

void Increment()
{
    SendDlgItemMessageA(hProgress, ID_PBAR, PBM_STEPIT, 0, 0);
    RepaintProgress();
}
