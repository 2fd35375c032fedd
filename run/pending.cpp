// Pending outputs. One lock guards the registry of temporary files; creating
// a temporary file and renaming it into place happen under that lock, and
// AbandonPendingOutputs takes it for good before removing what is
// registered, so no temporary file can appear or vanish behind its back.
#include "pending.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "bytestream.h"
#include "sysfile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

static std::mutex g_lock;
static std::vector<std::string> g_temps;  // registered temporary files
static std::atomic<unsigned> g_serial{0};

static void Unregister(const std::string &path)
{
    for (auto it = g_temps.begin(); it != g_temps.end(); ++it) {
        if (*it == path) {
            g_temps.erase(it);
            return;
        }
    }
}

// A short name of its own beside the output, whatever the output's length:
// ".vantrel-PID-N.tmp" (hidden on POSIX, and easy to recognise).
static std::string TempName(const std::string &finalPath)
{
#ifdef _WIN32
    unsigned long process = GetCurrentProcessId();
#else
    unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return FolderPart(finalPath) + ".vantrel-" + std::to_string(process) + "-" +
           std::to_string(g_serial.fetch_add(1)) + ".tmp";
}

#ifdef _WIN32
std::string SystemErrorText(int error)
{
    return std::strerror(error);  // the Windows C library keeps its text per thread
}
#else
// strerror_r comes in two shapes: GNU's returns the text, XSI's fills the
// buffer and returns 0.
template <class Result>
static const char *PickErrorText(Result result, const char *buffer)
{
    if constexpr (std::is_same<Result, int>::value)
        return result == 0 ? buffer : "unknown error";
    else
        return result;
}

std::string SystemErrorText(int error)
{
    char buffer[256] = "";
    return PickErrorText(strerror_r(error, buffer, sizeof buffer), buffer);
}
#endif

#ifdef _WIN32

static std::string WindowsErrorText(DWORD error)
{
    char buffer[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.'))
        --length;
    if (length == 0)
        return "error " + std::to_string(error);
    return std::string(buffer, length);
}

// Marks an open file for deletion, or lifts the mark. While it is marked
// the system deletes the file when its last handle closes, which a killed
// or crashed process does too.
static bool MarkForDeletion(HANDLE file, bool bDelete)
{
    FILE_DISPOSITION_INFO disposition{static_cast<BOOLEAN>(bDelete)};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The temporary file is to be put in place: closing it must keep it.
static void KeepWhenClosed(std::FILE *stream)
{
    MarkForDeletion(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), false);
}

// Creates temp as a new file open for writing. Returns nullptr with
// *bExists set when the name is taken, or with *reason when creation fails.
static std::FILE *CreateNewFile(const std::string &temp, bool *bExists, std::string *reason)
{
    // Delete sharing lets an interrupt remove it while it is open.
    HANDLE file = CreateFileW(WidePath(temp).c_str(), GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        *bExists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        *reason = WindowsErrorText(error);
        return nullptr;
    }
    // Where the file system cannot mark it, a kill leaves it behind (as on
    // POSIX), named so that it is recognised.
    MarkForDeletion(file, true);
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    std::FILE *stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
    if (!stream) {
        *reason = SystemErrorText(errno);
        if (descriptor != -1)
            _close(descriptor);
        else
            CloseHandle(file);
        RemoveFile(temp);
    }
    return stream;
}

static CommitResult RenameIntoPlace(const PendingOutput &pending, bool replace,
                                    std::string *reason)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(WidePath(pending.tempPath).c_str(), WidePath(pending.finalPath).c_str(), flags))
        return COMMIT_DONE;
    DWORD error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
        return COMMIT_EXISTS;
    *reason = WindowsErrorText(error);
    return COMMIT_FAILED;
}

bool CanReplaceOutput(const std::string &finalPath, std::string *reason)
{
    std::wstring wide = WidePath(finalPath);
    if (wide.empty()) {
        *reason = "not a valid file name";
        return false;
    }
    // Write and delete access with all sharing offered: refused where the
    // replacing rename would be, without truncating anything.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;  // a new output, in a folder that exists
        *reason = WindowsErrorText(error);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool bDisk = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!bDisk) {
        *reason = "not a file on disk";
        return false;
    }
    // The read-only mark is asked for itself: an administrator's open for
    // writing may pass over it, and a replacing rename must not.
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        *reason = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "it is a folder"
                                                                   : "it is read-only";
        return false;
    }
    return true;
}

#else  // POSIX

static std::FILE *CreateNewFile(const std::string &temp, bool *bExists, std::string *reason)
{
    int descriptor = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor == -1) {
        *bExists = errno == EEXIST;
        *reason = SystemErrorText(errno);
        return nullptr;
    }
    std::FILE *stream = fdopen(descriptor, "wb");
    if (!stream) {
        *reason = SystemErrorText(errno);
        close(descriptor);
        RemoveFile(temp);
    }
    return stream;
}

static CommitResult RenameIntoPlace(const PendingOutput &pending, bool replace,
                                    std::string *reason)
{
    const char *temp = pending.tempPath.c_str();
    const char *final = pending.finalPath.c_str();
    if (!replace) {
        // A hard link never replaces: it fails when the name exists.
        if (link(temp, final) == 0) {
            unlink(temp);
            return COMMIT_DONE;
        }
        if (errno == EEXIST)
            return COMMIT_EXISTS;
        // File systems without hard links: check, then rename.
        struct stat info;
        if (lstat(final, &info) == 0)
            return COMMIT_EXISTS;
    }
    if (rename(temp, final) == 0)
        return COMMIT_DONE;
    *reason = SystemErrorText(errno);
    return COMMIT_FAILED;
}

#endif

bool CreatePendingOutput(const std::string &finalPath, PendingOutput *pending,
                         std::string *reason)
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = TempName(finalPath);
        bool bExists = false;
        std::FILE *stream = CreateNewFile(temp, &bExists, reason);
        if (!stream) {
            if (bExists)
                continue;
            return false;
        }
        g_temps.push_back(temp);
        pending->finalPath = finalPath;
        pending->tempPath = temp;
        pending->stream = stream;
        return true;
    }
    *reason = "no free temporary name";
    return false;
}

CommitResult CommitPendingOutput(PendingOutput *pending, bool replace, std::string *reason)
{
    bool synced = SyncStreamToDisk(pending->stream);
    int syncError = errno;
#ifdef _WIN32
    if (synced)
        KeepWhenClosed(pending->stream);
#endif
    bool closed = std::fclose(pending->stream) == 0;
    int closeError = errno;
    pending->stream = nullptr;
    std::lock_guard<std::mutex> hold(g_lock);
    CommitResult result;
    if (!synced || !closed) {
        *reason = SystemErrorText(synced ? closeError : syncError);
        result = COMMIT_FAILED;
    } else {
        result = RenameIntoPlace(*pending, replace, reason);
    }
    if (result != COMMIT_DONE)
        RemoveFile(pending->tempPath);
    Unregister(pending->tempPath);
    return result;
}

void DiscardPendingOutput(PendingOutput *pending)
{
    if (pending->stream) {
        std::fclose(pending->stream);
        pending->stream = nullptr;
    }
    std::lock_guard<std::mutex> hold(g_lock);
    RemoveFile(pending->tempPath);
    Unregister(pending->tempPath);
}

void AbandonPendingOutputs()
{
    g_lock.lock();  // held until the process ends
    for (const std::string &path : g_temps)
        RemoveFile(path);  // Windows: marked for deletion, gone once closed
}
