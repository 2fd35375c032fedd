// Runs the vantrel-cli of this build tree as its own process through the
// system's command interpreter, in the test's working folder, the way a user
// or a script does: what it wrote to stdout and stderr, and its exit status.
#pragma once

#include "file_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

// What starts a program of this tree on the machine the tests run on: an
// emulator and its options, each followed by a space; nothing when native.
#ifndef VANTREL_CLI_LAUNCHER
#define VANTREL_CLI_LAUNCHER ""
#endif

struct CliResult {
    int exitCode = -1;   // POSIX: 128 + N when signal N ended it
    std::string output;  // stdout and stderr together
};

// Runs vantrel-cli to its end, each argument (UTF-8) quoted whole (the tests'
// arguments hold no quotes and end in no backslash). POSIX only: the shell
// runs `before`, the command and `after` as one line in a subshell, whose
// stdout and stderr are the result's; `before` can start a pipe into the
// command, `after` redirect its stdout or act while it runs in the
// background.
inline CliResult RunCli(const std::vector<std::string> &args, [[maybe_unused]] const std::string &before = "",
                        [[maybe_unused]] const std::string &after = "")
{
    static TempFolder logs;
    const std::string log = logs.Path("cli.log");
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    fs::path tests = fs::path(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH))).parent_path();
    // cmd /c drops the outer quotes around the whole line; the wide call
    // passes every name as it is.
    std::string line = "\"\"" + (tests.parent_path() / "vantrel-cli.exe").u8string() + "\"";
    for (const std::string &arg : args)
        line += " \"" + arg + "\"";
    line += " > \"" + log + "\" 2>&1\"";
    int status = _wsystem(fs::u8path(line).wstring().c_str());
#else
    std::string line = "(" + before + VANTREL_CLI_LAUNCHER + (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "vantrel-cli").string();
    for (const std::string &arg : args)
        line += " '" + arg + "'";
    int status = std::system((line + after + ") > '" + log + "' 2>&1").c_str());
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    Bytes text = ReadFileBytes(log);
    CliResult result{status, std::string(text.begin(), text.end())};
    // Text written in the C library's text mode ends its lines in CR LF.
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}
