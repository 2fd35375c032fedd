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

// A registered temporary file: its path, and on POSIX its folder (open) and
// name there, which reach it even when the folder is renamed meanwhile.
struct TempEntry {
    std::string path;
    int folder;
    std::string name;
};

static std::mutex g_lock;
static std::vector<TempEntry> g_temps;  // registered temporary files
static std::atomic<unsigned> g_serial{0};

static void Unregister(const std::string &path)
{
    for (auto it = g_temps.begin(); it != g_temps.end(); ++it) {
        if (it->path == path) {
            g_temps.erase(it);
            return;
        }
    }
}

// A short name of its own, whatever the output's length: ".vantrel-PID-N.tmp"
// (hidden on POSIX, and easy to recognise).
static std::string TempBaseName()
{
#ifdef _WIN32
    unsigned long process = GetCurrentProcessId();
#else
    unsigned long process = static_cast<unsigned long>(getpid());
#endif
    return ".vantrel-" + std::to_string(process) + "-" + std::to_string(g_serial.fetch_add(1)) +
           ".tmp";
}

#ifdef _WIN32
// The temporary name beside the output.
static std::string TempName(const std::string &finalPath)
{
    return FolderPart(finalPath) + TempBaseName();
}
#endif

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

// The open temporary files, for RemovePendingOutputsAfterFault: fixed
// slots, taken and given back without a lock, holding only handles.
constexpr int kFaultSlots = 64;
static std::atomic<HANDLE> g_faultSlots[kFaultSlots];

static HANDLE HandleOf(std::FILE *stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

static void HoldForFault(HANDLE file)
{
    for (std::atomic<HANDLE> &slot : g_faultSlots) {
        HANDLE empty = nullptr;
        if (slot.compare_exchange_strong(empty, file))
            return;
    }
    // All slots taken: the deletion mark alone removes it, when the process ends.
}

static void ReleaseForFault(HANDLE file)
{
    for (std::atomic<HANDLE> &slot : g_faultSlots) {
        HANDLE held = file;
        if (slot.compare_exchange_strong(held, nullptr))
            return;
    }
}

// The temporary file is to be put in place: closing it must keep it.
static void KeepWhenClosed(std::FILE *stream)
{
    ReleaseForFault(HandleOf(stream));
    MarkForDeletion(HandleOf(stream), false);
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
    HoldForFault(file);
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
    std::FILE *stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "wb");
    if (!stream) {
        *reason = SystemErrorText(errno);
        ReleaseForFault(file);
        if (descriptor != -1)
            _close(descriptor);
        else
            CloseHandle(file);
        RemoveFile(temp);
    }
    return stream;
}

// Gives the temporary file the access rules (DACL) of the file it is to
// replace, so that replacing never lets in anyone the old file kept out.
// True when there is nothing to carry over (no such file, or a file system
// without access rules); false when the rules were read but could not be
// given to the new file.
static std::vector<unsigned char> AccessRulesOf(const std::wstring &path)
{
    DWORD needed = 0;
    GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<unsigned char> rules(needed);
    if (needed == 0 ||
        !GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, rules.data(), needed, &needed))
        rules.clear();
    return rules;
}

static bool KeepAccessRules(const std::wstring &temp, const std::wstring &final)
{
    std::vector<unsigned char> rules = AccessRulesOf(final);
    // Rules that are the same already are left alone: some file systems
    // only approximate the rules they are given.
    if (rules.empty() || rules == AccessRulesOf(temp))
        return true;
    return SetFileSecurityW(temp.c_str(), DACL_SECURITY_INFORMATION, rules.data()) != 0;
}

static CommitResult RenameIntoPlace(const PendingOutput &pending, bool replace,
                                    std::string *reason)
{
    if (replace && !KeepAccessRules(WidePath(pending.tempPath), WidePath(pending.finalPath))) {
        *reason = "the access rules of the file it replaces could not be kept (" +
                  WindowsErrorText(GetLastError()) + ")";
        return COMMIT_FAILED;
    }
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

// The name under which the system reaches an open file, for linking a file
// that has no name of its own into a folder.
static std::string DescriptorPath(int descriptor)
{
    return "/proc/self/fd/" + std::to_string(descriptor);
}

// Opens the temporary file as a file without a name in `folder`, where the
// system and its file system can: -1 otherwise (the caller then names one).
// A failure that a named file would meet as well is reported as *error.
static int CreateUnnamedFile(int folder, int *error)
{
#ifdef O_TMPFILE
    int descriptor = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (descriptor == -1) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            *error = errno;
        return -1;
    }
    // Linking it into place later goes through /proc.
    if (access(DescriptorPath(descriptor).c_str(), F_OK) == 0)
        return descriptor;
    close(descriptor);
#else
    (void)folder;
    (void)error;
#endif
    return -1;
}

// Creates the pending file in pending->folder, unnamed or under a fresh
// short name (registered); the lock is held. Returns the descriptor or -1
// with *reason.
static int CreateTempFile(PendingOutput *pending, std::string *reason)
{
    int error = 0;
    int descriptor = CreateUnnamedFile(pending->folder, &error);
    if (descriptor != -1 || error != 0) {
        if (error != 0)
            *reason = SystemErrorText(error);
        return descriptor;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempBaseName();
        descriptor = openat(pending->folder, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (descriptor != -1) {
            pending->tempPath = FolderPart(pending->finalPath) + name;
            g_temps.push_back(TempEntry{pending->tempPath, pending->folder, name});
            return descriptor;
        }
        if (errno != EEXIST) {
            *reason = SystemErrorText(errno);
            return -1;
        }
    }
    *reason = "no free temporary name";
    return -1;
}

// Whether the name `name` in `folder` is free or holds what an output may
// replace: a regular file, or a link (to one, or to nothing).
static bool Replaceable(int folder, const std::string &name)
{
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return true;
    if (S_ISLNK(info.st_mode) && fstatat(folder, name.c_str(), &info, 0) != 0)
        return true;
    return S_ISREG(info.st_mode);
}

// Links the unnamed file into `folder` as `name`; false with errno set.
static bool LinkUnnamed(int descriptor, int folder, const std::string &name)
{
    return linkat(AT_FDCWD, DescriptorPath(descriptor).c_str(), folder, name.c_str(),
                  AT_SYMLINK_FOLLOW) == 0;
}

// Puts the file in place; the lock is held, the file is on disk.
static CommitResult PutInPlace(PendingOutput *pending, int descriptor, bool replace,
                               std::string *reason)
{
    int folder = pending->folder;
    std::string name = BaseName(pending->finalPath);
    bool unnamed = pending->tempPath.empty();
    std::string temp = BaseName(pending->tempPath);
    if (!replace) {
        // A hard link never replaces: it fails when the name exists.
        if (unnamed ? LinkUnnamed(descriptor, folder, name)
                    : linkat(folder, temp.c_str(), folder, name.c_str(), 0) == 0) {
            if (!unnamed)
                unlinkat(folder, temp.c_str(), 0);
            return COMMIT_DONE;
        }
        if (errno == EEXIST)
            return COMMIT_EXISTS;
        // File systems without hard links have no unnamed files either:
        // check, then rename.
        struct stat info;
        if (unnamed || fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            *reason = SystemErrorText(errno);
            return unnamed ? COMMIT_FAILED : COMMIT_EXISTS;
        }
    } else if (!Replaceable(folder, name)) {
        *reason = "it is not a regular file, and is never replaced";
        return COMMIT_FAILED;
    }
    if (unnamed) {
        // Replacing takes a name first; a kill between the two steps leaves
        // that whole file under its temporary name.
        for (int attempt = 0; temp.empty() && attempt < 100; ++attempt) {
            std::string candidate = TempBaseName();
            if (LinkUnnamed(descriptor, folder, candidate))
                temp = candidate;
            else if (errno != EEXIST)
                break;
        }
        if (temp.empty()) {
            *reason = SystemErrorText(errno);
            return COMMIT_FAILED;
        }
    }
    if (renameat(folder, temp.c_str(), folder, name.c_str()) == 0)
        return COMMIT_DONE;
    *reason = SystemErrorText(errno);
    if (unnamed)
        unlinkat(folder, temp.c_str(), 0);
    return COMMIT_FAILED;
}

bool CreatePendingOutput(const std::string &finalPath, PendingOutput *pending,
                         std::string *reason)
{
    std::string folderPath = FolderPart(finalPath);
#ifdef O_PATH
    int folderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    int folder = open(folderPath.empty() ? "." : folderPath.c_str(), folderFlags);
    if (folder == -1) {
        *reason = SystemErrorText(errno);
        return false;
    }
    std::lock_guard<std::mutex> hold(g_lock);
    pending->finalPath = finalPath;
    pending->tempPath.clear();
    pending->folder = folder;
    int descriptor = CreateTempFile(pending, reason);
    std::FILE *stream = descriptor == -1 ? nullptr : fdopen(descriptor, "wb");
    if (!stream) {
        if (descriptor != -1) {
            *reason = SystemErrorText(errno);
            close(descriptor);
            if (!pending->tempPath.empty()) {
                unlinkat(folder, BaseName(pending->tempPath).c_str(), 0);
                Unregister(pending->tempPath);
            }
        }
        close(folder);
        pending->folder = -1;
        return false;
    }
    pending->stream = stream;
    return true;
}

void SetPendingPermissions(PendingOutput *pending, unsigned permissions)
{
    pending->permissions = permissions & 0777;
}

CommitResult CommitPendingOutput(PendingOutput *pending, bool replace, std::string *reason)
{
    int descriptor = fileno(pending->stream);
    bool done = SyncStreamToDisk(pending->stream);
    int error = errno;
    if (done) {
        // Never wider than what it replaces: whoever could not read that
        // file cannot read this one either.
        unsigned permissions = pending->permissions;
        struct stat old;
        if (replace && fstatat(pending->folder, BaseName(pending->finalPath).c_str(), &old, 0) == 0 &&
            S_ISREG(old.st_mode))
            permissions &= static_cast<unsigned>(old.st_mode);
        done = fchmod(descriptor, permissions) == 0;
        error = errno;
    }
    bool unnamed = pending->tempPath.empty();
    if (!unnamed) {
        // A named file is closed first, and its close checked; an unnamed one
        // must stay open to be linked, and its data is on disk already.
        bool closed = std::fclose(pending->stream) == 0;
        if (done && !closed)
            error = errno;
        done = done && closed;
        pending->stream = nullptr;
    }
    CommitResult result = COMMIT_FAILED;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!done)
            *reason = SystemErrorText(error);
        else
            result = PutInPlace(pending, descriptor, replace, reason);
        if (!unnamed) {
            if (result != COMMIT_DONE)
                unlinkat(pending->folder, BaseName(pending->tempPath).c_str(), 0);
            Unregister(pending->tempPath);
        }
    }
    if (pending->stream) {
        std::fclose(pending->stream);
        pending->stream = nullptr;
    }
    close(pending->folder);
    pending->folder = -1;
    return result;
}

void DiscardPendingOutput(PendingOutput *pending)
{
    if (pending->stream) {
        std::fclose(pending->stream);
        pending->stream = nullptr;
    }
    if (pending->folder == -1)
        return;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!pending->tempPath.empty()) {
            unlinkat(pending->folder, BaseName(pending->tempPath).c_str(), 0);
            Unregister(pending->tempPath);
        }
    }
    close(pending->folder);
    pending->folder = -1;
}

void AbandonPendingOutputs()
{
    g_lock.lock();  // held until the process ends
    for (const TempEntry &temp : g_temps)
        unlinkat(temp.folder, temp.name.c_str(), 0);
}

#endif

#ifdef _WIN32
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
        g_temps.push_back(TempEntry{temp, -1, std::string()});
        pending->finalPath = finalPath;
        pending->tempPath = temp;
        pending->stream = stream;
        return true;
    }
    *reason = "no free temporary name";
    return false;
}

void SetPendingPermissions(PendingOutput *, unsigned)
{
    // Windows files take their permissions from their folder.
}

CommitResult CommitPendingOutput(PendingOutput *pending, bool replace, std::string *reason)
{
    bool synced = SyncStreamToDisk(pending->stream);
    int syncError = errno;
    if (synced)
        KeepWhenClosed(pending->stream);
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
        ReleaseForFault(HandleOf(pending->stream));
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
    for (const TempEntry &temp : g_temps)
        RemoveFile(temp.path);  // marked for deletion, gone once closed
}

void RemovePendingOutputsAfterFault()
{
    // Each file in a slot is marked for deletion: closing its handle makes
    // the system remove it now, unless a reader still has it open. Nothing
    // here locks or allocates.
    for (std::atomic<HANDLE> &slot : g_faultSlots) {
        if (HANDLE file = slot.exchange(nullptr))
            CloseHandle(file);
    }
}

#endif
