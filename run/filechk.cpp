// The file checks open the file as a reader that lets other readers in, and
// close it again at once.
#include "filechk.h"

static HANDLE OpenForSharedReading(const char *pszFileName)
{
    return CreateFileA(pszFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_READONLY, nullptr);
}

BOOL IsFile(const char *pszFileName)
{
    BOOL bSuccess = TRUE;
    HANDLE hFile = OpenForSharedReading(pszFileName);
    if (hFile == INVALID_HANDLE_VALUE)
        bSuccess = FALSE;
    else
        CloseHandle(hFile);
    return bSuccess;
}

LONG FileSize(const char *pszFileName)
{
    HANDLE hFile = OpenForSharedReading(pszFileName);
    if (hFile == INVALID_HANDLE_VALUE)
        return -1;
    // Only the low part is asked for: the engine takes the size as 32 bits.
    DWORD dwLowSize = GetFileSize(hFile, nullptr);
    CloseHandle(hFile);
    return static_cast<LONG>(dwLowSize);
}
