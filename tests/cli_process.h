// Runs the vantrel-cli of this build tree as a separate process, the way a
// user or a script does: arguments, working folder, stdout and stderr
// captured, exit status. On Windows (and under Wine) through CreateProcess.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

struct CliResult {
    int exitCode = -1;  // when it exited
    int signal = 0;     // POSIX: the signal that ended it, if one did
    std::string out;
    std::string err;
};

struct CliOptions {
    std::string workDir;        // empty: the test's own
    long long fileSizeLimit = -1;  // POSIX: RLIMIT_FSIZE for the process
    bool stderrTerminal = false;   // POSIX: stderr on a pseudo-terminal
};

// The program under test: vantrel-cli beside the tests folder.
inline std::string CliPath()
{
#ifdef _WIN32
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    return fs::path(path).parent_path().parent_path().string() + "\\vantrel-cli.exe";
#else
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "vantrel-cli").string();
#endif
}

inline std::string ReadText(const std::string &path)
{
    Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A started vantrel-cli; Wait() collects it.
class CliRun {
public:
    CliRun(const std::vector<std::string> &args, const CliOptions &options = CliOptions())
    {
        static int serial = 0;
        std::string stem = (fs::temp_directory_path() /
                            ("vantrel-cli-log-" + std::to_string(TestProcessId()) + "-" +
                             std::to_string(serial++)))
                               .string();
        outPath_ = stem + ".out";
        errPath_ = stem + ".err";
        Start(args, options);
    }
    ~CliRun()
    {
        if (!waited_)
            Wait();
        std::error_code ignored;
        fs::remove(outPath_, ignored);
        fs::remove(errPath_, ignored);
    }

    CliResult Wait();
#ifdef _WIN32
    void Kill() { TerminateProcess(process_.hProcess, 0xC000013A); }
#else
    void Signal(int number) { kill(pid_, number); }
#endif

private:
    void Start(const std::vector<std::string> &args, const CliOptions &options);

    std::string outPath_, errPath_;
    bool waited_ = false;
    CliResult result_;
#ifdef _WIN32
    PROCESS_INFORMATION process_{};
#else
    pid_t pid_ = -1;
    int terminal_ = -1;  // the pseudo-terminal's master side
#endif
};

#ifdef _WIN32

inline std::string WithoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// One argument as the C runtime splits command lines: quoted, with
// backslashes doubled before a quote.
inline std::string QuoteArgument(const std::string &arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

inline void CliRun::Start(const std::vector<std::string> &args, const CliOptions &options)
{
    std::string line = QuoteArgument(CliPath());
    for (const std::string &arg : args)
        line += " " + QuoteArgument(arg);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  options.workDir.empty() ? nullptr : options.workDir.c_str(),
                                  &startup, &process_);
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(in);
    if (!started) {
        ADD_FAILURE() << "cannot start " << line << " (error " << GetLastError() << ")";
        waited_ = true;
    }
}

inline CliResult CliRun::Wait()
{
    if (!waited_) {
        WaitForSingleObject(process_.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        result_.exitCode = static_cast<int>(code);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        waited_ = true;
        // Text written in the C library's text mode ends its lines in CR LF.
        result_.out = WithoutCarriageReturns(ReadText(outPath_));
        result_.err = WithoutCarriageReturns(ReadText(errPath_));
    }
    return result_;
}

#else

inline void CliRun::Start(const std::vector<std::string> &args, const CliOptions &options)
{
    std::string cli = CliPath();
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(cli.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::string terminalName;
    if (options.stderrTerminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(terminal_, 0);
        ASSERT_EQ(0, grantpt(terminal_));
        ASSERT_EQ(0, unlockpt(terminal_));
        terminalName = ptsname(terminal_);
    }
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
            _exit(126);
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = options.stderrTerminal ? open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                                         : open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (options.fileSizeLimit >= 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

inline CliResult CliRun::Wait()
{
    if (waited_)
        return result_;
    if (terminal_ >= 0) {
        // Read the terminal while the program runs, so that it never blocks
        // on a full terminal; the read fails once its last user is gone.
        char chunk[4096];
        ssize_t got;
        while ((got = read(terminal_, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0)
                result_.err.append(chunk, static_cast<std::size_t>(got));
        }
        close(terminal_);
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result_.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result_.signal = WTERMSIG(status);
    result_.out = ReadText(outPath_);
    if (terminal_ < 0)
        result_.err = ReadText(errPath_);
    waited_ = true;
    return result_;
}

#endif

// Runs vantrel-cli to its end.
inline CliResult RunCli(const std::vector<std::string> &args, const CliOptions &options = CliOptions())
{
    CliRun run(args, options);
    return run.Wait();
}
