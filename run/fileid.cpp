// File identity from the file system, never from the spelling of names.
#include "fileid.h"

#include <initializer_list>

#include "sysfile.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

#ifdef _WIN32
static bool FileIdOfHandle(HANDLE file, FileId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
#endif

FileIdResult FileIdOfPath(const std::string &path, FileId *id)
{
#ifdef _WIN32
    std::wstring wide = WidePath(path);
    if (wide.empty())
        return FILEID_MISSING;
    // No access asked, every sharing allowed: this opens files that others
    // hold open, and folders too (backup semantics).
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FILEID_MISSING
                                                                              : FILEID_UNKNOWN;
    }
    bool known = FileIdOfHandle(file, id);
    CloseHandle(file);
    return known ? FILEID_FOUND : FILEID_UNKNOWN;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FILEID_MISSING : FILEID_UNKNOWN;
    id->volume = static_cast<std::uint64_t>(info.st_dev);
    id->index = static_cast<std::uint64_t>(info.st_ino);
    return FILEID_FOUND;
#endif
}

bool FileIdOfStream(std::FILE *stream, FileId *id)
{
#ifdef _WIN32
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return file != INVALID_HANDLE_VALUE && FileIdOfHandle(file, id);
#else
    struct stat info;
    if (fstat(fileno(stream), &info) != 0)
        return false;
    id->volume = static_cast<std::uint64_t>(info.st_dev);
    id->index = static_cast<std::uint64_t>(info.st_ino);
    return true;
#endif
}

bool SameFile(const FileId &a, const FileId &b)
{
    return a.volume == b.volume && a.index == b.index;
}

bool OutputNamesInputOrKey(const std::string &output, const std::string &input,
                           const std::string &key)
{
    FileId out;
    if (FileIdOfPath(output, &out) != FILEID_FOUND)
        return false;
    for (const std::string *other : {&input, &key}) {
        FileId id;
        if (FileIdOfPath(*other, &id) == FILEID_FOUND && SameFile(out, id))
            return true;
    }
    return false;
}
