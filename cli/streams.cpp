// Streams and special files: their kind from the system before the first
// read, FIFOs opened without blocking, and scratch copies that vanish with
// their handle.
#include "streams.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "bytestream.h"
#include "pending.h"
#include "sysfile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// How long a FIFO that no program writes to is waited for: long enough for
// a writer started beside this command, short enough that a forgotten one
// does not hold up a whole batch.
constexpr int kWriterWaitMilliseconds = 2000;

static const char kIsFolder[] = "it is a folder";
static const char kIsDevice[] = "it is a device; files, pipes and standard input are read";
static const char kIsSocket[] = "it is a socket; files, pipes and standard input are read";
static const char kIsTerminal[] = "it is a terminal; give a file, or pipe the key in";

#ifdef _WIN32

static bool IsConsole(HANDLE handle)
{
    DWORD mode;
    return GetConsoleMode(handle, &mode) != 0;
}

// What an open handle reads; the handle stays the caller's. Standard input
// is read whatever it is, but a terminal never gives a key.
static SourceResult ClassifyHandle(HANDLE handle, SourceRole role, bool standardInput,
                                   Source *source, std::string *reason)
{
    DWORD type = GetFileType(handle);
    source->regular = type == FILE_TYPE_DISK;
    if (type == FILE_TYPE_CHAR && IsConsole(handle) && role == SOURCE_KEY)
        *reason = kIsTerminal;
    else if (!standardInput && type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE &&
             (type != FILE_TYPE_CHAR || role == SOURCE_INPUT))
        *reason = kIsDevice;
    return reason->empty() ? SOURCE_OK : SOURCE_BAD;
}

SourceResult OpenSource(const std::string &path, SourceRole role, Source *source,
                        std::string *reason)
{
    reason->clear();
    if (path == STDIO_NAME) {
        _setmode(_fileno(stdin), _O_BINARY);
        HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
        SourceResult result = ClassifyHandle(handle, role, true, source, reason);
        if (result != SOURCE_OK)
            return result;
        // Read where it is only from its start, and only as an input (every
        // run would read a key again); otherwise as a stream.
        source->regular = source->regular && role == SOURCE_INPUT &&
                          _lseeki64(_fileno(stdin), 0, SEEK_CUR) == 0;
        int descriptor = _dup(_fileno(stdin));
        source->stream.reset(descriptor == -1 ? nullptr : _fdopen(descriptor, "rb"));
        if (!source->stream) {
            *reason = SystemErrorText(errno);
            return SOURCE_CANNOT_OPEN;
        }
        return SOURCE_OK;
    }
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *reason = kIsFolder;
        return SOURCE_BAD;
    }
    source->stream.reset(OpenStream(path, "rb"));
    if (!source->stream) {
        int error = errno;
        if (attributes == INVALID_FILE_ATTRIBUTES && (error == ENOENT || error == EINVAL))
            return SOURCE_BAD;
        *reason = SystemErrorText(error);
        return SOURCE_CANNOT_OPEN;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(source->stream.get())));
    SourceResult result = ClassifyHandle(handle, role, false, source, reason);
    if (result != SOURCE_OK)
        source->stream.reset();
    return result;
}

bool StreamIdOf(const std::string &, FileId *)
{
    return false;  // pipes here have no identity to compare; "-" is checked by name
}

// A stream read: as much as there is, 0 at its end, -1 on an error (errno).
static long ReadSome(Source *source, unsigned char *buffer, std::size_t size, bool *noWriter)
{
    *noWriter = false;  // a pipe here has its writer from the start
    std::size_t got = std::fread(buffer, 1, size, source->stream.get());
    if (got == 0 && std::ferror(source->stream.get()))
        return -1;
    return static_cast<long>(got);
}

// The variable that names the folder of scratch files.
static const char kScratchVariable[] = "TMP";

static std::string ScratchFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return ".\\";
    return Utf8FromWide(buffer);
}

// The system removes the file once its last handle is closed, whatever
// way the process ends.
static std::FILE *CreateScratchFile(const std::string &folder, int *error)
{
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "vantrel-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(serial++) + ".tmp";
        HANDLE file = CreateFileW(WidePath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                continue;
            *error = code == ERROR_ACCESS_DENIED ? EACCES : code == ERROR_PATH_NOT_FOUND ? ENOENT : EIO;
            return nullptr;
        }
        int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
        std::FILE *stream = descriptor == -1 ? nullptr : _fdopen(descriptor, "w+b");
        if (stream)
            return stream;
        *error = errno;
        if (descriptor != -1)
            _close(descriptor);
        else
            CloseHandle(file);
        return nullptr;
    }
    *error = EEXIST;
    return nullptr;
}

std::FILE *StandardOutput()
{
    _setmode(_fileno(stdout), _O_BINARY);
    return stdout;
}

bool StdoutIsTerminal()
{
    return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool StandardOutputFileId(FileId *id)
{
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    return GetFileType(handle) == FILE_TYPE_DISK && FileIdOfStream(stdout, id);
}

std::string OutputKindRefusal(const std::string &path)
{
    std::wstring wide = WidePath(path);
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_DISK ? std::string() : "it is a device or a pipe";
}

std::string WriteFailureReason(const std::string &folder, int error)
{
    // The C library does not always tell a full disk from other failures
    // (under Wine a write that fills the disk fails with EINVAL): ask the
    // volume. The run's writes are at most a chunk and a stream buffer.
    ULARGE_INTEGER room;
    std::wstring wide = WidePath(folder.empty() ? std::string(".") : folder);
    if (GetDiskFreeSpaceExW(wide.c_str(), &room, nullptr, nullptr) &&
        room.QuadPart < 2 * STREAM_CHUNK)
        error = ENOSPC;
    return SystemErrorText(error);
}

#else  // POSIX

// Why a named file of mode `mode` is refused in `role`; empty when it is not.
static const char *KindRefusal(mode_t mode, SourceRole role)
{
    if (S_ISDIR(mode))
        return kIsFolder;
    if (S_ISSOCK(mode))
        return kIsSocket;
    if ((S_ISCHR(mode) || S_ISBLK(mode)) && role == SOURCE_INPUT)
        return kIsDevice;
    return "";
}

// Fills *source from the open descriptor, which it then owns. Standard
// input is read whatever it is, but a terminal never gives a key.
static SourceResult TakeDescriptor(int descriptor, SourceRole role, bool standardInput,
                                   Source *source, std::string *reason)
{
    struct stat info;
    if (fstat(descriptor, &info) != 0) {
        *reason = SystemErrorText(errno);
        close(descriptor);
        return SOURCE_CANNOT_OPEN;
    }
    *reason = standardInput ? "" : KindRefusal(info.st_mode, role);
    if (reason->empty() && role == SOURCE_KEY && isatty(descriptor))
        *reason = kIsTerminal;
    if (!reason->empty()) {
        close(descriptor);
        return SOURCE_BAD;
    }
    source->regular = S_ISREG(info.st_mode);
    source->permissions = source->regular ? static_cast<unsigned>(info.st_mode) & 0777 : 0600;
    source->awaitingWriter = !standardInput && S_ISFIFO(info.st_mode);
    if (!source->awaitingWriter) {
        int flags = fcntl(descriptor, F_GETFL);
        if (flags != -1 && (flags & O_NONBLOCK))
            fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    }
    source->stream.reset(fdopen(descriptor, "rb"));
    if (!source->stream) {
        *reason = SystemErrorText(errno);
        close(descriptor);
        return SOURCE_CANNOT_OPEN;
    }
    return SOURCE_OK;
}

SourceResult OpenSource(const std::string &path, SourceRole role, Source *source,
                        std::string *reason)
{
    reason->clear();
    if (path == STDIO_NAME) {
        // A copy of the descriptor: standard input's own flags are shared
        // with the caller's shell and stay as they are.
        int descriptor = fcntl(0, F_DUPFD_CLOEXEC, 3);
        if (descriptor == -1) {
            *reason = SystemErrorText(errno);
            return SOURCE_CANNOT_OPEN;
        }
        SourceResult result = TakeDescriptor(descriptor, role, true, source, reason);
        // Read where it is only from its start, and only as an input: every
        // run would read a key again, and this descriptor shares its place
        // with the caller's. Otherwise as a stream.
        if (result == SOURCE_OK && source->regular &&
            (role == SOURCE_KEY || lseek(descriptor, 0, SEEK_CUR) != 0))
            source->regular = false;
        return result;
    }
    // The kind first: a device is refused without being opened.
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            *reason = SystemErrorText(errno);
        return SOURCE_BAD;
    }
    *reason = KindRefusal(info.st_mode, role);
    if (!reason->empty())
        return SOURCE_BAD;
    // Not blocking: a FIFO opens at once, with a writer or not (ReadSome
    // then waits a while for one).
    int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor == -1) {
        *reason = SystemErrorText(errno);
        return SOURCE_CANNOT_OPEN;
    }
    return TakeDescriptor(descriptor, role, false, source, reason);
}

bool StreamIdOf(const std::string &path, FileId *id)
{
    struct stat info;
    int result = path == STDIO_NAME ? fstat(0, &info) : stat(path.c_str(), &info);
    if (result != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        return false;
    id->volume = static_cast<std::uint64_t>(info.st_dev);
    id->index = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

// A stream read: as much as there is, 0 at its end, -1 on an error (errno)
// or, with *noWriter, for a FIFO that no program opened for writing within
// the wait. A FIFO opened before its writer reads as ended until one comes.
static long ReadSome(Source *source, unsigned char *buffer, std::size_t size, bool *noWriter)
{
    using Clock = std::chrono::steady_clock;
    int descriptor = fileno(source->stream.get());
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriterWaitMilliseconds);
    for (;;) {
        ssize_t got = read(descriptor, buffer, size);
        if (got > 0) {
            source->awaitingWriter = false;
            return static_cast<long>(got);
        }
        pollfd wait{descriptor, POLLIN, 0};
        if (got == -1 && errno == EINTR)
            continue;
        if (got == -1 && errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        if (got == -1) {
            // A writer is there with nothing written yet: wait as long as it takes.
            source->awaitingWriter = false;
            poll(&wait, 1, -1);
            continue;
        }
        if (!source->awaitingWriter)
            return 0;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            *noWriter = true;
            return -1;
        }
        // Data, or the end from a writer that came and went, ends the wait.
        if (poll(&wait, 1, static_cast<int>(left.count())) > 0)
            source->awaitingWriter = false;
    }
}

// The variable that names the folder of scratch files.
static const char kScratchVariable[] = "TMPDIR";

static std::string ScratchFolder()
{
    const char *folder = std::getenv("TMPDIR");
    std::string path = folder && *folder ? folder : "/tmp";
    return path.back() == '/' ? path : path + "/";
}

// Owner-only, and without a name from the start where the file system
// allows (otherwise named for an instant): nothing is left whatever way the
// process ends.
static std::FILE *CreateScratchFile(const std::string &folder, int *error)
{
    int descriptor = -1;
#ifdef O_TMPFILE
    descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (descriptor == -1) {
        std::string name = folder + ".vantrel-XXXXXX";
        descriptor = mkstemp(&name[0]);  // mode 600
        if (descriptor == -1) {
            *error = errno;
            return nullptr;
        }
        unlink(name.c_str());
        fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    }
    std::FILE *stream = fdopen(descriptor, "w+b");
    if (!stream) {
        *error = errno;
        close(descriptor);
    }
    return stream;
}

std::FILE *StandardOutput()
{
    return stdout;
}

bool StdoutIsTerminal()
{
    return isatty(1) != 0;
}

bool StandardOutputFileId(FileId *id)
{
    struct stat info;
    if (fstat(1, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    id->volume = static_cast<std::uint64_t>(info.st_dev);
    id->index = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

std::string OutputKindRefusal(const std::string &path)
{
    struct stat info;
    bool special = lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
                   !S_ISLNK(info.st_mode) && !S_ISDIR(info.st_mode);
    special = special || (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) &&
                          !S_ISDIR(info.st_mode));
    if (!special)
        return std::string();
    return S_ISFIFO(info.st_mode) ? "it is a FIFO" : S_ISSOCK(info.st_mode) ? "it is a socket"
                                                                            : "it is a device";
}

std::string WriteFailureReason(const std::string &, int error)
{
    return SystemErrorText(error);
}

#endif

// Reads the whole stream, handing each piece to `take`, which returns false
// (with *reason) to stop.
template <class Take>
static StreamResult ReadAll(Source *source, std::string *reason, Take take)
{
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[STREAM_CHUNK]);
    for (;;) {
        bool noWriter = false;
        long got = ReadSome(source, buffer.get(), STREAM_CHUNK, &noWriter);
        if (noWriter) {
            *reason = "no program opened this FIFO for writing; start the writer first";
            return STREAM_NO_WRITER;
        }
        if (got < 0) {
            *reason = SystemErrorText(errno);
            return STREAM_READ_FAILED;
        }
        if (got == 0)
            return STREAM_OK;
        StreamResult taken = take(buffer.get(), static_cast<std::size_t>(got));
        if (taken != STREAM_OK)
            return taken;
    }
}

StreamResult CopyToScratch(Source *source, std::string *reason)
{
    std::string folder = ScratchFolder();
    int error = 0;
    FileHandle scratch(CreateScratchFile(folder, &error));
    auto copyFailed = [&](int code) {
        *reason = "in " + folder + ": " + WriteFailureReason(folder, code) + "; set " +
                  kScratchVariable + " to a folder with room for it";
        return STREAM_COPY_FAILED;
    };
    if (!scratch)
        return copyFailed(error);
    StreamResult result = ReadAll(source, reason, [&](const unsigned char *bytes, std::size_t length) {
        return std::fwrite(bytes, 1, length, scratch.get()) == length ? STREAM_OK : copyFailed(errno);
    });
    if (result != STREAM_OK)
        return result;
    if (std::fflush(scratch.get()) != 0 || std::fseek(scratch.get(), 0, SEEK_SET) != 0)
        return copyFailed(errno);
    source->stream = std::move(scratch);
    source->regular = true;
    return STREAM_OK;
}

StreamResult ReadWholeKey(Source *source, std::vector<unsigned char> *bytes, std::string *reason)
{
    bytes->clear();
    return ReadAll(source, reason, [&](const unsigned char *chunk, std::size_t length) {
        if (bytes->size() + length > STREAM_KEY_LIMIT) {
            *reason = "more than " + std::to_string(STREAM_KEY_LIMIT >> 20) +
                      " MiB from a pipe or device; save the key to a file and give that";
            return STREAM_TOO_LONG;
        }
        bytes->insert(bytes->end(), chunk, chunk + length);
        return STREAM_OK;
    });
}
