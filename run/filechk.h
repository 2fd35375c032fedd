// The program's file checks: whether a file can be used, and its size.
#pragma once

#include <windows.h>

// TRUE when pszFileName names a file that can be opened for reading while
// others read it too; FALSE for a missing file, a folder, a name that is not
// valid, and a file that someone holds open for writing or without shared
// reading. The handle it opens is closed before it returns.
BOOL IsFile(const char *pszFileName);

// The size of the file in bytes, its low 32 bits taken as a signed value
// (negative from 2 GiB on, wrapped from 4 GiB on); -1 when the file cannot be
// opened as IsFile opens it.
LONG FileSize(const char *pszFileName);
