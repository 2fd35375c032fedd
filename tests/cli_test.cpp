// vantrel-cli as a user runs it: the shipped program in its own process, over
// real files in a temporary folder that is the working folder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <map>

#include "cli_process.h"
#include "keysource.h"
#include "knownanswers.h"

#ifdef _WIN32
#include "dialog_test_support.h"
#include "process.h"

// The program's globals, provided here until the shell defines them.
HINSTANCE hInst;
HWND hwndMain;
char szKeyFile[256];

const std::string kFullDisk = "Z:" VANTREL_FULL_DISK;
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

const std::string kFullDisk = VANTREL_FULL_DISK;
#endif

namespace {

// Whether the 64 KiB volume of the full-disk checks is there (full_disk.sh).
bool HaveFullDisk()
{
#ifdef _WIN32
    ULARGE_INTEGER total{};  // fs::space here measures the drive Z: as a whole
    return GetDiskFreeSpaceExW(fs::u8path(kFullDisk).c_str(), nullptr, &total, nullptr) &&
           total.QuadPart <= (1u << 20);
#else
    std::error_code unknown;
    fs::space_info space = fs::space(kFullDisk, unknown);
    return !unknown && space.capacity <= (1u << 20);
#endif
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { fs::current_path(folder_.Path()); }
    void TearDown() override { fs::current_path(home_); }

    fs::path home_ = fs::current_path();
    TempFolder folder_;
    std::mt19937_64 rng_{TestSeed()};
};

const char *Verb(int mode) { return mode == ENCRYPT ? "encrypt" : "decrypt"; }

// vantrel-cli and, in the win32 tree, the Windows program's run give the engine's
// bytes (CliCrossBuild compares the host and win32 builds of vantrel-cli).
TEST_F(CliTest, SameBytesAsTheEngineAndBack)
{
    // {input length, key length}: empty input and key, keys shorter and longer than the
    // input, and one streamed from its file (over the in-memory limit) that starts over.
    const struct { std::size_t input, key; } cases[] = {
        {0, 7}, {1, 0}, {5, 1}, {1000, 2}, {70000, 37}, {150000, 4096}, {3000, 9000},
        {KEY_IN_MEMORY_LIMIT + 70000, KEY_IN_MEMORY_LIMIT + 1000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key);
        Bytes plain = RandomBytes(rng_, c.input), key = RandomBytes(rng_, c.key);
        WriteFileBytes("plain", plain);
        WriteFileBytes("key", key);
        for (int mode : {ENCRYPT, DECRYPT}) {
            Bytes expected = ReferenceOutput(mode, plain, key);
            CliResult result = RunCli({Verb(mode), "-q", "-f", "-k", "key", "-o", "out", "plain"});
            EXPECT_EQ(0, result.exitCode);
            // Quiet, but an empty key is always warned about.
            EXPECT_EQ(key.empty() ? "key: Warning: the key file is empty; such a key protects nothing\n" : "",
                      result.output);
            EXPECT_TRUE(expected == ReadFileBytes("out"));
#ifdef _WIN32
            // Its progress dialog owned by no window; a message box is a failure.
            fs::remove("out");
            LoadCommonControls();
            hInst = GetModuleHandleA(nullptr);
            std::strcpy(szKeyFile, "key");
            MessageBoxCapture messages;
            Algorithm(mode, "plain", "out");
            for (const auto &shown : messages.Take())
                ADD_FAILURE() << "Algorithm showed: " << shown.text;
            EXPECT_TRUE(expected == ReadFileBytes("out")) << "Algorithm differs";
#endif
            // And back: the other mode with the same key restores the input.
            EXPECT_EQ(0, RunCli({Verb(1 - mode), "-q", "-f", "-k", "key", "-o", "back", "out"}).exitCode);
            EXPECT_TRUE(plain == ReadFileBytes("back"));
        }
    }
}

TEST_F(CliTest, EachFailureWithItsMessageAndExitCode)
{
    Bytes input = RandomBytes(rng_, 200000), key = {1, 2}, old = {'o', 'l', 'd'};
    WriteFileBytes("in", input);
    WriteFileBytes("key", key);
    WriteFileBytes("old", old);
    WriteFileBytes("k2", old);
    fs::create_directory("folder");
    WriteFileBytes("folder/in", {5});
    WriteFileBytes("folder/in.vtl", {6});
    fs::create_hard_link("in", "link");
#ifdef _WIN32
    WriteFileBytes("locked", {1});  // held open without sharing: nobody else can open it
    HANDLE locked = CreateFileA("locked", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string unopenable = "locked", device = "NUL";
#else
    const std::string unopenable = "/proc/sys/vm/drop_caches";  // write only, even for root
    const std::string device = "/dev/null";
    ASSERT_EQ(0, mkfifo("fifo", 0600));
    sockaddr_un address{};  // a socket's file: one bound, then closed
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "sock");
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address));
    close(listener);
#endif
    const bool fullDisk = HaveFullDisk();
    const std::vector<std::string> names = folder_.Names();
    const std::string differ = ": Output file must differ from input and key files";
    const std::string special = ": Output file is not a regular file and is never replaced";
    const std::string here = "../" + fs::path(folder_.Path()).filename().string();
    const std::string usage = "Try 'vantrel-cli --help'.";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
        std::string shellBefore = "", shellAfter = "";  // POSIX
    } table[] = {
        {{"encrypt", "-k", "key", "-o", "old", "missing"}, 1, "missing: Bad input file"},
        {{"encrypt", "-k", "nokey", "-o", "old", "in"}, 1, "nokey: Bad key file"},
        {{"encrypt", "-k", "k*", "-o", "old", "in"}, 1, "k*: Bad key file"},  // never expanded
        {{"encrypt", "-f", "-k", "key", "-o", "old", unopenable}, 1, unopenable + ": Cannot open input file"},
        {{"encrypt", "-f", "-k", unopenable, "-o", "old", "in"}, 1, unopenable + ": Cannot open key file"},
        {{"encrypt", "-k", "key", "-o", "nofolder/out", "in"}, 1, "nofolder/out: Cannot open output file"},
        {{"encrypt", "-k", "key", "-o", "old", "in"}, 1, "old: Output file exists (use -f to replace it)"},
        {{"decrypt", "-k", "key", "in"}, 1, "in: Input file name does not end in .vtl (name the output with -o)"},
        {{"decrypt", "-k", "key", "-o", "folder", "in"}, 1, "in: Input file name does not end in .vtl (decrypt it on its own"},
        // The output is never one of the command's own files, however named,
        // nor anything but a regular file, even with -f.
        {{"encrypt", "-f", "-k", "key", "-o", "./in", "in"}, 1, "./in" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", folder_.Path("in"), "in"}, 1, folder_.Path("in") + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "link", "in"}, 1, "link" + differ},
        {{"decrypt", "-f", "-k", "key", "-o", here + "/key", "in"}, 1, here + "/key" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "folder", "in", "folder/in.vtl"}, 1, "folder/in.vtl" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "folder", "in", "folder/in"}, 1, "folder/in.vtl: Output file is also the output of in"},
        {{"encrypt", "-f", "-k", "key", "-o", device, "in"}, 1, device + special},
        {{"encrypt", "-k", "key", "-o", "out", device}, 1, device + ": Bad input file (it is a device"},
        {{"encrypt", "-k", "key", "-o", kFullDisk + "/out", "in"}, 1, kFullDisk + "/out: Cannot write output file (No space left on device)"},
#ifdef _WIN32
        {{"encrypt", "-f", "-k", "key", "-o", "IN", "in"}, 1, "IN" + differ},
#else
        {{"encrypt", "-f", "-k", "key", "-o", "fifo", "in"}, 1, "fifo" + special},
        {{"encrypt", "-f", "-k", "key", "-o", "sock", "in"}, 1, "sock" + special},
        {{"encrypt", "-k", "key", "-o", "out", "sock"}, 1, "sock: Bad input file (it is a socket"},
        {{"encrypt", "-k", "key", "-o", "out", "fifo"}, 1, "fifo: Bad input file (no program opened this FIFO for writing"},
        {{"encrypt", "-k", "/dev/zero", "-o", "out", "in"}, 1, "/dev/zero: Bad key file (more than 64 MiB from a pipe or device"},
        {{"encrypt", "-k", "/dev/stdin", "-o", "out", "/dev/stdin"}, 1, "/dev/stdin: Bad input file (it is the key's pipe", "cat key | "},
        {{"encrypt", "-k", "key", "-o", "out", "-"}, 1, "standard input: Cannot copy input file to a scratch file (in " + kFullDisk +
             "/: No space left on device; set TMPDIR", "cat in | TMPDIR=" + kFullDisk + " "},
        {{"encrypt", "-k", "key", "-o", "-", "in"}, 1, "standard output: Output is a terminal", "script -qec \"", "\" /dev/null"},
        // Reading address 0 of the program's own memory fails; a file size
        // limit (in 512-byte blocks) fails the writes part way.
        {{"encrypt", "-f", "-k", "key", "-o", "old", "/proc/self/mem"}, 1, "/proc/self/mem: Cannot read input file"},
        {{"encrypt", "-f", "-k", "key", "-o", "old", "in"}, 1, "old: Cannot write output file", "ulimit -f 128; "},
#endif
        {{}, 2, usage},
        {{"encrypt", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-x", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-j", "0", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-o", "old", "in", "key"}, 2, usage},
        {{"encrypt", "-k", "key", "-o", "-", "in", "key"}, 2, "-o - (standard output) takes one INPUT"},
        {{"encrypt", "-k", "-", "-o", "out", "-"}, 2, "standard input (-) can be read once only"},
        {{"encrypt", "-k", "key", "-"}, 2, "standard input (-) as INPUT needs -o naming the output file"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        if (!fullDisk && row.message.find(kFullDisk) != std::string::npos) {
            std::printf("No small volume at %s: no full-disk check.\n", kFullDisk.c_str());
            continue;
        }
        CliResult result = RunCli(row.args, row.shellBefore, row.shellAfter);
        EXPECT_EQ(row.exitCode, result.exitCode);
        EXPECT_NE(std::string::npos, result.output.find(row.message)) << result.output;
        // Nothing lost or replaced, nothing half written left behind.
        EXPECT_TRUE(input == ReadFileBytes("in") && key == ReadFileBytes("key") && old == ReadFileBytes("old") &&
                    old == ReadFileBytes("k2"));
        EXPECT_EQ(names, folder_.Names());
        EXPECT_TRUE(!fullDisk || fs::is_empty(fs::u8path(kFullDisk)));
#ifndef _WIN32
        EXPECT_TRUE(fs::is_fifo("fifo") && fs::is_socket("sock") && fs::is_character_file(device));
#endif
    }
#ifdef _WIN32
    CloseHandle(locked);
#endif
}

// Every file below the working folder (UTF-8 names, with /) and its bytes.
std::map<std::string, Bytes> FilesHere()
{
    std::map<std::string, Bytes> files;
    for (const auto &entry : fs::recursive_directory_iterator(".")) {
        std::string name = entry.path().lexically_relative(".").generic_u8string();
        if (entry.is_regular_file())
            files[name] = ReadFileBytes(name);
    }
    return files;
}

// Every name reaches its own file, and no other: outputs beside the inputs
// (replaced with -f) or in a folder, several at once as one at a time, back
// from any case of .vtl; names outside the ANSI code page beside their
// look-alikes; wildcards in inputs only (on Windows the program expands
// them); names up to the system's limit (255 bytes). Not a word, and no
// temporary file left.
TEST_F(CliTest, EveryNameReachesItsOwnFile)
{
    const Bytes key = RandomBytes(rng_, 37);
    WriteFileBytes("key", key);
    fs::create_directories("sub");
    fs::create_directories("one");
    const std::string longest(251, 'n');
    const std::vector<std::string> inputs = {"c.txt", "ĉ.txt", "a.txt", "ａ.txt", "sub/f", longest, "empty"};
    std::map<std::string, std::string> beside, inOne;  // output: the input it comes from
    for (const std::string &input : inputs) {
        WriteFileBytes(input, RandomBytes(rng_, input == "empty" ? 0 : rng_() % 120000));
        beside[input + ".vtl"] = input;
        inOne["one/" + fs::u8path(input).filename().u8string() + ".vtl"] = input;
    }
    WriteFileBytes("a.txt.vtl", {'o', 'l', 'd'});
    auto withInputs = [&](std::vector<std::string> args) {
        args.insert(args.end(), inputs.begin(), inputs.end());
        return args;
    };
    const struct {
        std::vector<std::string> args;
        std::map<std::string, std::string> made;
    } table[] = {
        {withInputs({"encrypt", "-j1", "-k", "key", "-o", "one"}), inOne},
        {withInputs({"encrypt", "-f", "-j4", "-k", "key"}), beside},
        {{"encrypt", "-k", "key", "-o", "one/x.VTL", "c.txt"}, {{"one/x.VTL", "c.txt"}}},
        {{"decrypt", "-k", "key", "one/x.VTL", "one/ĉ.txt.vtl"}, {{"one/x", "one/x.VTL"}, {"one/ĉ.txt", "one/ĉ.txt.vtl"}}},
        {{"decrypt", "-k", "key", "-o", "sub", "one/ａ.txt.vtl"}, {{"sub/ａ.txt", "one/ａ.txt.vtl"}}},
        {{"encrypt", "-f", "-k", "key", "-o", "ĉ.txt", "a.txt"}, {{"ĉ.txt", "a.txt"}}},
        {{"encrypt", "-f", "-k", "key", longest}, {{longest + ".vtl", longest}}},
#ifdef _WIN32
        {{"encrypt", "-f", "-k", "key", "*.txt"},
         {{"a.txt.vtl", "a.txt"}, {"c.txt.vtl", "c.txt"}, {"ĉ.txt.vtl", "ĉ.txt"}, {"ａ.txt.vtl", "ａ.txt"}}},
#endif
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const int mode = row.args[0] == "encrypt" ? ENCRYPT : DECRYPT;
        std::map<std::string, Bytes> before = FilesHere(), expected = before;
        for (const auto &[output, input] : row.made)
            expected[output] = ReferenceOutput(mode, before[input], key);
        CliResult result = RunCli(row.args);
        EXPECT_EQ(0, result.exitCode);
        EXPECT_EQ("", result.output);  // and no progress where stderr is no terminal
        std::map<std::string, Bytes> after = FilesHere();
        for (const auto &[name, bytes] : expected)
            EXPECT_TRUE(after.count(name) && after[name] == bytes) << name;
        for (const auto &[name, bytes] : after)
            EXPECT_TRUE(expected.count(name)) << name << " was made";
    }
}

#ifndef _WIN32
// Standard input and output, pipes and FIFOs, as inputs and as a key that
// serves several inputs: read whole first, so that each output is that of the
// file. Outputs get their input's permissions, never more than a file they
// replace had. An input that changes while it is read fails the run: the
// output, piped, is held back until the input has changed (no timing).
TEST_F(CliTest, StreamsPermissionsAndChangingInputs)
{
    const Bytes input = RandomBytes(rng_, 300000), key = RandomBytes(rng_, 5000);
    const std::string change = "; echo $? > ../status) | (head -c 1 > /dev/null; ";
    const std::string drain = "; cat > /dev/null); exit $(cat ../status)";
    const struct {
        std::string before;
        std::vector<std::string> args;
        std::string after;
        std::map<std::string, unsigned> made;  // output: its permissions (0: not asked)
        int exitCode = 0;
        std::string message = "";
    } table[] = {
        {"cat in | ", {"encrypt", "-k", "key", "-o", "out", "-"}, "", {{"out", 0600}}},
        {"cat in | ", {"encrypt", "-k", "key", "-o", "out", "/dev/stdin"}, "", {{"out", 0600}}},
        {"cat in > fifo & ", {"encrypt", "-k", "key", "-o", "out", "fifo"}, "", {{"out", 0600}}},
        {"", {"encrypt", "-k", "key", "-o", "-", "in"}, " > out", {{"out", 0}}},
        {"cat key | ", {"encrypt", "-k", "-", "-o", "d", "in", "in644"}, "", {{"d/in.vtl", 0600}, {"d/in644.vtl", 0644}}},
        {"cat key > fifo & ", {"encrypt", "-k", "fifo", "-o", "d", "in", "in644"}, "", {{"d/in.vtl", 0600}, {"d/in644.vtl", 0644}}},
        {"", {"decrypt", "-k", "key", "-o", "out", "in"}, "", {{"out", 0600}}},
        {"", {"decrypt", "-f", "-k", "key", "-o", "old644", "in"}, "", {{"old644", 0600}}},
        {"", {"decrypt", "-f", "-k", "key", "-o", "old600", "in644"}, "", {{"old600", 0600}}},
        {"", {"encrypt", "-k", "/dev/null", "-o", "out", "in"}, "", {{"out", 0600}}, 0, "/dev/null: Warning: the key file is empty"},
        {"(", {"encrypt", "-k", "key", "-o", "-", "in"}, change + "echo more >> in" + drain, {}, 1, "in: Input file changed during the run"},
        {"(", {"encrypt", "-k", "key", "-o", "-", "in"}, change + "truncate -s 1000 in" + drain, {}, 1, "in: Input file changed"},
        {"touch -d @1000000000 in; (", {"encrypt", "-k", "key", "-o", "-", "in"},
         change + "dd if=/dev/zero of=in bs=1000 count=1 conv=notrunc status=none" + drain, {}, 1, "in: Input file changed"},
    };
    for (std::size_t i = 0; i < std::size(table); ++i) {
        const auto &row = table[i];
        SCOPED_TRACE(row.before + testing::PrintToString(row.args) + row.after);
        const std::string at = "row" + std::to_string(i);
        fs::create_directories(at + "/d");
        fs::current_path(at);
        const std::map<std::string, unsigned> fixture = {{"in", 0600}, {"in644", 0644}, {"old600", 0600}, {"old644", 0644}};
        for (const auto &[name, mode] : fixture) {
            WriteFileBytes(name, name[0] == 'i' ? input : Bytes{'o', 'l', 'd'});
            fs::permissions(name, static_cast<fs::perms>(mode));
        }
        WriteFileBytes("key", key);
        ASSERT_EQ(0, mkfifo("fifo", 0600));
        std::vector<std::string> expected = folder_.Names(at), inFolder;
        // Scratch copies are made here too, and must be gone with the rest.
        CliResult result = RunCli(row.args, row.before + "TMPDIR=. ", row.after);
        EXPECT_EQ(row.exitCode, result.exitCode);
        EXPECT_NE(std::string::npos, result.output.find(row.message)) << result.output;
        const int mode = row.args[0] == "encrypt" ? ENCRYPT : DECRYPT;
        const bool emptyKey = std::find(row.args.begin(), row.args.end(), "/dev/null") != row.args.end();
        for (const auto &[name, bits] : row.made) {
            EXPECT_TRUE(ReferenceOutput(mode, input, emptyKey ? Bytes{} : key) == ReadFileBytes(name)) << name;
            struct stat info;
            EXPECT_TRUE(bits == 0 || (stat(name.c_str(), &info) == 0 && (info.st_mode & 0777) == bits)) << name;
            (name.compare(0, 2, "d/") == 0 ? inFolder : expected).push_back(fs::path(name).filename().string());
        }
        fs::current_path("..");
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        // No scratch or temporary file left.
        EXPECT_EQ(expected, folder_.Names(at));
        EXPECT_EQ(inFolder, folder_.Names(at + "/d"));
    }
}

// A signal mid-run ends it as the signal would have (128 + N), with nothing
// left behind and the existing output as it was, SIGKILL too (outputs have no
// name until complete). A signal the caller had ignored (nohup) stays
// ignored. (Under Wine no console event reaches the program from here; see
// cli_cross_build.sh.)
TEST_F(CliTest, SignalsLeaveNothingBehind)
{
    WriteFileBytes("big1", RandomBytes(rng_, 24 << 20));  // still at work when the signal comes
    fs::copy_file("big1", "big2");
    WriteFileBytes("key", {3, 1, 4});
    WriteFileBytes("big1.vtl", {'o', 'l', 'd'});
    const std::vector<std::string> names = folder_.Names();
    const struct { int number; std::string ignore; } table[] = {
        {SIGINT, ""}, {SIGTERM, ""}, {SIGUSR1, ""}, {SIGKILL, ""}, {SIGHUP, "trap '' HUP; "}};
    for (const auto &row : table) {
        SCOPED_TRACE(strsignal(row.number));
        // In the background (where the shell ignores SIGINT: restored) until
        // both outputs are open, or the run is done.
        std::string signal = " & until [ $(ls -l /proc/$!/fd 2>/dev/null | grep -c '(deleted)') -ge 2 ] || "
                             "! kill -0 $! 2>/dev/null; do sleep 0.01; done; kill -" + std::to_string(row.number) + " $!; wait $!";
        CliResult result = RunCli({"encrypt", "-f", "-q", "-j2", "-k", "key", "big1", "big2"},
                                  row.ignore + "env --default-signal=INT ", signal);
        if (!row.ignore.empty()) {
            EXPECT_EQ(0, result.exitCode) << result.output;
            EXPECT_EQ(fs::file_size("big1"), fs::file_size("big1.vtl"));
            continue;
        }
        EXPECT_EQ(128 + row.number, result.exitCode) << result.output;
        EXPECT_EQ(names, folder_.Names());
        EXPECT_TRUE((Bytes{'o', 'l', 'd'}) == ReadFileBytes("big1.vtl"));
    }
}
#endif

TEST_F(CliTest, SelftestPassesAndFailsOnAWrongVector)
{
    CliResult result = RunCli({"selftest"});
    EXPECT_EQ(0, result.exitCode);
    EXPECT_NE(std::string::npos, result.output.find("this build's arithmetic is conformant")) << result.output;
    // The check it runs, fed one wrong answer.
    KnownAnswers wrong = kKnownAnswers;
    std::vector<KnownNormalize> normalize(wrong.normalize, wrong.normalize + wrong.normalizeCount);
    normalize[0].out ^= 1;
    wrong.normalize = normalize.data();
    EXPECT_EQ(1, CheckKnownAnswers(wrong, nullptr, nullptr));
}

} // namespace
