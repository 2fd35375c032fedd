// vantrel-cli: Vantrel's cipher on the command line. Reads the command line,
// names the outputs and hands the files to the batch; `selftest` checks this
// build's arithmetic against the cipher's known answers.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "encode.h"
#include "knownanswers.h"
#include "console.h"
#include "interrupt.h"
#include "paths.h"
#include "streams.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "unknown"
#endif

#ifdef _WIN32
#include <windows.h>

#include "fault.h"
#include "pending.h"
#else
#include <fcntl.h>
#endif

#ifdef _WIN32
// The C runtime would expand wildcards in every argument, option values
// included, through the ANSI code page: the program expands them itself,
// in its inputs only (ExpandWildcards).
extern "C" int _dowildcard;
int _dowildcard = 0;
#endif

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int kMostJobs = 1024;

static int DefaultJobs()
{
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores < kMostJobs ? cores : kMostJobs);
}

static void PrintHelp()
{
    std::printf(
        "Usage:\n"
        "  vantrel-cli encrypt -k KEYFILE [-o OUTPUT] [-f] [-q] [-j N] INPUT...\n"
        "  vantrel-cli decrypt -k KEYFILE [-o OUTPUT] [-f] [-q] [-j N] INPUT...\n"
        "  vantrel-cli selftest\n"
        "  vantrel-cli --help | --version\n"
        "\n"
        "Encrypts and decrypts whole files with a key taken from another file, byte for\n"
        "byte as the Vantrel Windows program does: the output has exactly the input's\n"
        "length, no header, and only the same key file turns it back.\n"
        "\n"
        "Commands:\n"
        "  encrypt     encrypt each INPUT; without -o the output is INPUT.vtl\n"
        "  decrypt     decrypt each INPUT; without -o the output is INPUT without its\n"
        "              .vtl, and an INPUT that does not end in .vtl is refused\n"
        "  selftest    run the cipher's known-answer vectors in this program and say\n"
        "              whether this build's arithmetic is conformant (exit status 0\n"
        "              only when all pass)\n"
        "\n"
        "Options:\n"
        "  -k KEYFILE  the key file (required): any file, read cyclically from its\n"
        "              first byte; - for standard input. A key that is not a regular\n"
        "              file (a pipe, <(command), a device) is read once, whole, into\n"
        "              memory and serves every INPUT; at most %d MiB. An empty key\n"
        "              is accepted with a warning: such a key protects nothing.\n"
        "  -o OUTPUT   with one INPUT, the output file, or - for standard output\n"
        "              (refused on a terminal for encrypt, unless -f); with several,\n"
        "              an existing folder that takes each output under its default\n"
        "              name (a folder works with one INPUT too)\n"
        "  -f          replace output files that exist (never the input or key file,\n"
        "              nor anything that is not a regular file)\n"
        "  -q          quiet: no progress line\n"
        "  -j N        work on up to N files at once (default: the number of cores,\n"
        "              %d here)\n"
        "  --help      show this help and exit\n"
        "  --version   show the version and exit\n"
        "\n"
        "INPUT is a file, or - for standard input (which needs -o). An INPUT that is\n"
        "not a regular file (a pipe, <(command), a FIFO) is first copied whole to a\n"
        "private scratch file in "
#ifdef _WIN32
        "%%TMP%%"
#else
        "$TMPDIR (or /tmp)"
#endif
        ", so that its size is known; devices\n"
        "and sockets are refused. A file that changes while it is read fails its run.\n"
#ifdef _WIN32
        "Wildcards (*, ?) in an INPUT are expanded here, never in option values.\n"
#endif
        "\n"
#ifdef _WIN32
        "Each output is written to a temporary file in its folder and put in place\n"
        "only when complete: a failure or Ctrl+C leaves no partial file and an\n"
        "existing output untouched.\n"
#else
        "Each output is written to a temporary file in its folder (one without a\n"
        "name, where the file system allows) and put in place only when complete: a\n"
        "failure, a signal, even kill -9 then, leaves no partial file and an existing\n"
        "output untouched. An output gets its input's permissions (owner-only for a\n"
        "piped input), never more than a file it replaces had.\n"
#endif
        "The output is never the input or the key file, however it is named.\n"
        "Messages go to stderr, prefixed with the file they concern; while stderr is\n"
        "a terminal (and without -q) a progress line there shows bytes done,\n"
        "percent, rate and time left.\n"
        "\n"
        "Exit status: 0 when every file succeeded, 1 when any failed (the others are\n"
        "still done), 2 for a usage error, 128+N when signal N ended it (130 for\n"
        "Ctrl+C"
#ifdef _WIN32
        " or Ctrl+Break, 129 when the console was closed"
#endif
        ").\n"
        "\n"
        "Examples:\n"
        "  vantrel-cli encrypt -k photo.jpg report.pdf        writes report.pdf.vtl\n"
        "  vantrel-cli decrypt -k photo.jpg report.pdf.vtl    writes report.pdf\n"
        "  vantrel-cli encrypt -k photo.jpg -o vault -j 4 *.txt\n"
        "  tar c docs | vantrel-cli encrypt -k photo.jpg -o docs.tar.vtl -\n"
        "  vantrel-cli decrypt -k photo.jpg -o - docs.tar.vtl | tar x\n",
        static_cast<int>(STREAM_KEY_LIMIT >> 20), DefaultJobs());
}

static int UsageError(const std::string &problem)
{
    ConsoleLines("vantrel-cli: " + problem + "\nTry 'vantrel-cli --help'.\n");
    return EXIT_USAGE;
}

namespace {

struct SelftestTally {
    int checks;
};

} // namespace

static void ReportKnownAnswer(void *context, const char *what, bool passed)
{
    ++static_cast<SelftestTally *>(context)->checks;
    if (!passed)
        std::printf("FAILED: %s\n", what);
}

static int Selftest()
{
    SelftestTally tally{0};
    int failures = CheckKnownAnswers(kKnownAnswers, ReportKnownAnswer, &tally);
    if (failures == 0) {
        std::printf("selftest: all %d known-answer checks passed: this build's arithmetic is "
                    "conformant.\n",
                    tally.checks);
        return EXIT_OK;
    }
    std::printf("selftest: %d of %d known-answer checks FAILED: this build's arithmetic is not "
                "conformant; its files would not match other Vantrel programs.\n",
                failures, tally.checks);
    return EXIT_FAILED;
}

static bool ParseJobs(const std::string &text, int *jobs)
{
    if (text.empty() || text.size() > 5)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    int value = std::atoi(text.c_str());
    if (value < 1 || value > kMostJobs)
        return false;
    *jobs = value;
    return true;
}

// Names each input's output; an input that cannot be named gets a refusal.
static std::vector<BatchJob> NameOutputs(const std::vector<std::string> &inputs,
                                         const std::string &output, bool toFolder, bool decrypt)
{
    std::vector<BatchJob> jobs;
    for (const std::string &input : inputs) {
        BatchJob job;
        job.input = input;
        if (!output.empty() && !toFolder) {
            job.output = output;
        } else if (decrypt && !HasVtlExtension(input)) {
            job.refusal = std::string("Input file name does not end in ") + VTL_EXTENSION +
                          (toFolder ? " (decrypt it on its own with -o naming the output file)"
                                    : " (name the output with -o)");
        } else if (toFolder) {
            job.output = JoinPath(output, DefaultOutputName(BaseName(input), decrypt));
        } else {
            job.output = DefaultOutputName(input, decrypt);
        }
        jobs.push_back(job);
    }
    return jobs;
}

#ifdef _WIN32
// `pattern` with * or ? in its last part: the names it matches, sorted, or
// the pattern itself when none does (then reported as a missing file).
static std::vector<std::string> ExpandWildcards(const std::string &pattern)
{
    std::string folder = FolderPart(pattern);
    if (BaseName(pattern).find_first_of("*?") == std::string::npos)
        return {pattern};
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WidePath(pattern).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = Utf8FromWide(found.cFileName);
            if (name != "." && name != "..")
                names.push_back(folder + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    if (names.empty())
        names.push_back(pattern);
    return names;
}
#else
// A POSIX shell has expanded them already.
static std::vector<std::string> ExpandWildcards(const std::string &pattern)
{
    return {pattern};
}
#endif

static int Transform(int mMode, const std::vector<std::string> &args)
{
    BatchOptions options{mMode, std::string(), false, false, DefaultJobs()};
    std::string output;
    bool haveKey = false, haveOutput = false;
    std::vector<std::string> inputs;
    bool optionsEnd = false;
    std::size_t argc = args.size();

    for (std::size_t i = 2; i < argc; ++i) {
        const std::string &arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            for (const std::string &input : ExpandWildcards(arg))
                inputs.push_back(input);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg[1] == '-')
            return UsageError("unknown option " + arg);
        // Single-letter options, which may be grouped (-fq) and take their
        // value attached (-j4) or as the next argument (-j 4).
        for (std::size_t at = 1; at < arg.size(); ++at) {
            char letter = arg[at];
            if (letter == 'f') {
                options.force = true;
                continue;
            }
            if (letter == 'q') {
                options.quiet = true;
                continue;
            }
            if (letter != 'k' && letter != 'o' && letter != 'j')
                return UsageError(std::string("unknown option -") + letter);
            std::string value;
            if (at + 1 < arg.size())
                value = arg.substr(at + 1);
            else if (i + 1 < argc)
                value = args[++i];
            else
                return UsageError(std::string("option -") + letter + " needs a value");
            if (letter == 'k') {
                if (haveKey)
                    return UsageError("-k given twice");
                if (value.empty())
                    return UsageError("-k needs a file name");
                options.keyPath = value;
                haveKey = true;
            } else if (letter == 'o') {
                if (haveOutput)
                    return UsageError("-o given twice");
                if (value.empty())
                    return UsageError("-o needs a file or folder name");
                output = value;
                haveOutput = true;
            } else if (!ParseJobs(value, &options.jobs)) {
                return UsageError("-j needs a whole number from 1 to " +
                                  std::to_string(kMostJobs) + ", not '" + value + "'");
            }
            break;
        }
    }
    if (!haveKey)
        return UsageError("no key file: give one with -k KEYFILE");
    if (inputs.empty())
        return UsageError("no input file");
    std::size_t readers = std::count(inputs.begin(), inputs.end(), STDIO_NAME) +
                          (options.keyPath == STDIO_NAME ? 1 : 0);
    if (readers > 1)
        return UsageError("standard input (-) can be read once only");
    bool toStdout = output == STDIO_NAME;
    bool toFolder = haveOutput && !toStdout && PathKindOf(output) == PATH_FOLDER;
    if (readers == 1 && options.keyPath != STDIO_NAME && (!haveOutput || toFolder))
        return UsageError("standard input (-) as INPUT needs -o naming the output file (or -o - "
                          "for standard output)");
    if (haveOutput && !toFolder && inputs.size() > 1)
        return UsageError(toStdout ? "-o - (standard output) takes one INPUT"
                                   : "with several inputs, -o must name an existing folder: " + output);

    std::vector<BatchJob> jobs = NameOutputs(inputs, output, toFolder, mMode == DECRYPT);
    InstallInterruptCleanup();
    if (!CheckKeyFile(options.keyPath))
        return EXIT_FAILED;
    return RunBatch(options, jobs) == 0 ? EXIT_OK : EXIT_FAILED;
}

static int Main(const std::vector<std::string> &args)
{
    if (args.size() < 2)
        return UsageError("no command: encrypt, decrypt or selftest");
    const std::string &command = args[1];
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--")
            break;
        if (args[i] == "--help") {
            PrintHelp();
            return EXIT_OK;
        }
        if (args[i] == "--version") {
            std::printf("vantrel-cli %s\n", VANTREL_VERSION);
            return EXIT_OK;
        }
    }
    if (command == "encrypt")
        return Transform(ENCRYPT, args);
    if (command == "decrypt")
        return Transform(DECRYPT, args);
    if (command == "selftest") {
        if (args.size() > 2)
            return UsageError("selftest takes no arguments");
        return Selftest();
    }
    return UsageError("unknown command '" + command + "': encrypt, decrypt or selftest");
}

#ifdef _WIN32
// The arguments as the system holds them (UTF-16), as UTF-8.
int wmain(int argc, wchar_t **argv)
{
    // A crash removes the temporary outputs of the runs under way first.
    SetFaultCleanup(RemovePendingOutputsAfterFault);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(Utf8FromWide(argv[i]));
    return Main(args);
}
#else
// A standard stream that was closed is opened on /dev/null the wrong way
// round, so that no file opened later takes its number and using it fails.
static void FillClosedStandardStreams()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) == -1)
            open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
    }
}

int main(int argc, char **argv)
{
    FillClosedStandardStreams();
    return Main(std::vector<std::string>(argv, argv + argc));
}
#endif
