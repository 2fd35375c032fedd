// Child processes for the benchmark, on POSIX and on Windows.
#include "child.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace fs = std::filesystem;

std::string ProgramFolder()
{
#ifdef _WIN32
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    return fs::path(std::string(self, length)).parent_path().string();
#else
    return fs::read_symlink("/proc/self/exe").parent_path().string();
#endif
}

std::string MakeTempFolder()
{
    for (int attempt = 0;; ++attempt) {
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        fs::path folder = fs::temp_directory_path() /
                          ("vantrel-bench-" + std::to_string(stamp) + "-" + std::to_string(attempt));
        std::error_code error;
        if (fs::create_directory(folder, error))
            return folder.string();
    }
}

void RemoveTree(const std::string &folder)
{
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

bool MakeZeroFile(const std::string &path, long long size)
{
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD ignored;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
#else
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0)
        return false;
    bool ok = ftruncate(file, size) == 0;
    close(file);
    return ok;
#endif
}

#ifndef _WIN32
// VmHWM of a running process, in MiB; 0 once it is gone.
static double HighWaterMiB(const std::string &statusPath)
{
    std::ifstream status(statusPath);
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;  // kB
    return 0.0;
}
#endif

ChildRun RunChild(const std::string &program, const std::vector<std::string> &args)
{
    ChildRun run;
    auto start = std::chrono::steady_clock::now();
#ifdef _WIN32
    std::string line = "\"" + program + "\"";
    for (const std::string &arg : args)
        line += " \"" + arg + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
    startup.hStdOutput = startup.hStdError = nul;
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        CloseHandle(nul);
        return run;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory))
        run.peakMiB = memory.PeakWorkingSetSize / 1048576.0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(nul);
    run.ok = code == 0;
#else
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child;
    int started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return run;
    // The child's own high-water mark, read while it runs: the rusage of a
    // spawned child also counts the pages it shared with this process before
    // its exec.
    int status = 0;
    std::string statusPath = "/proc/" + std::to_string(child) + "/status";
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (done < 0)
            return run;
        run.peakMiB = std::max(run.peakMiB, HighWaterMiB(statusPath));
        usleep(2000);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
    return run;
}
