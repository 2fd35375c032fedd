// File names as the shared file layer takes them: UTF-8 strings on every
// system. On Windows they go to the system's wide-character (UTF-16)
// interfaces, so every name the file system can hold is reached and no name
// is ever mapped to a look-alike; on POSIX they are the bytes of the name.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` as std::fopen would with `mode` ("rb", "wb", ...). Null on
// failure, with errno set; a name that is not valid UTF-8 on Windows opens
// nothing (EINVAL).
std::FILE *OpenStream(const std::string &path, const char *mode);

// Removes the file `path`; false when it could not be removed.
bool RemoveFile(const std::string &path);

// The folder part of a path with its separator, "" for none ("a/b.txt"
// gives "a/"). On Windows both slashes and a drive's colon separate.
std::string FolderPart(const std::string &path);

// The last component of a path ("a/b.txt" gives "b.txt").
std::string BaseName(const std::string &path);

#ifdef _WIN32
// `path` in UTF-16 for the wide interfaces; empty when it is not valid UTF-8
// (an empty name opens nothing). A long name comes as a full path marked
// \\?\, so that names past the classic 260-character limit work too.
std::wstring WidePath(const std::string &path);

// UTF-16 text (a wide argument or name) as UTF-8.
std::string Utf8FromWide(const wchar_t *text);

// A name in the ANSI code page, as the Windows program's dialogs give it, as
// UTF-8: the file the ANSI interfaces would open under that name.
std::string Utf8FromAnsi(const char *text);
#endif
