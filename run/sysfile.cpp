// UTF-8 names to the system's interfaces.
#include "sysfile.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

static bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

std::string FolderPart(const std::string &path)
{
    std::size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1]))
        --cut;
    return path.substr(0, cut);
}

std::string BaseName(const std::string &path)
{
    return path.substr(FolderPart(path).size());
}

#ifdef _WIN32

// Names from this length on would hit the system's classic path limit
// (MAX_PATH with its terminator) somewhere: a temporary name beside them.
constexpr std::size_t kShortPathLimit = 240;

std::wstring WidePath(const std::string &path)
{
    if (path.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                     static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                        &wide[0], length);
    // A NUL inside the name would cut it short at the system: no such file.
    if (wide.find(L'\0') != std::wstring::npos)
        return std::wstring();
    if (wide.size() < kShortPathLimit || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    // Longer names reach the system whole only as full paths marked \\?\,
    // which the system takes as they stand: no relative parts, no slashes.
    DWORD fullLength = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (fullLength == 0)
        return wide;
    std::wstring full(fullLength, L'\0');
    fullLength = GetFullPathNameW(wide.c_str(), fullLength, &full[0], nullptr);
    full.resize(fullLength);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    return L"\\\\?\\" + full;
}

std::string Utf8FromWide(const wchar_t *text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length) - 1);
    return utf8;
}

std::string Utf8FromAnsi(const char *text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return std::string();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return Utf8FromWide(wide.c_str());
}

std::FILE *OpenStream(const std::string &path, const char *mode)
{
    std::wstring wide = WidePath(path);
    if (wide.empty()) {
        errno = path.empty() ? ENOENT : EINVAL;
        return nullptr;
    }
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(wide.c_str(), wideMode.c_str());
}

bool RemoveFile(const std::string &path)
{
    std::wstring wide = WidePath(path);
    return !wide.empty() && DeleteFileW(wide.c_str());
}

#else

std::FILE *OpenStream(const std::string &path, const char *mode)
{
    return std::fopen(path.c_str(), mode);
}

bool RemoveFile(const std::string &path)
{
    return unlink(path.c_str()) == 0;
}

#endif
