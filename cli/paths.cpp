// Path facts and default names.
#include "paths.h"

#include <cctype>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

PathKind PathKindOf(const std::string &path)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return PATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_FOLDER : PATH_FILE;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return PATH_MISSING;
    return S_ISDIR(info.st_mode) ? PATH_FOLDER : PATH_FILE;
#endif
}

bool FileSizeOfPath(const std::string &path, long long *size)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    *size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
#else
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    *size = static_cast<long long>(info.st_size);
    return true;
#endif
}

bool PathTaken(const std::string &path)
{
#ifdef _WIN32
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
#endif
}

std::string JoinPath(const std::string &folder, const std::string &name)
{
    if (FolderPart(folder).size() == folder.size())  // empty, or ends in a separator
        return folder + name;
    return folder + "/" + name;
}

bool HasVtlExtension(const std::string &path)
{
    std::string base = BaseName(path);
    std::size_t length = std::string(VTL_EXTENSION).size();
    if (base.size() <= length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(base[base.size() - length + i]);
        if (std::tolower(c) != VTL_EXTENSION[i])
            return false;
    }
    return true;
}

std::string DefaultOutputName(const std::string &input, bool decrypt)
{
    if (!decrypt)
        return input + VTL_EXTENSION;
    return input.substr(0, input.size() - std::string(VTL_EXTENSION).size());
}

bool NamesFoldCase()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}
