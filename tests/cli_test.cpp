// vantrel-cli as a user runs it: the shipped program in its own process, over
// real files in a temporary folder that is the working folder.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

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
#endif

namespace {

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
    fs::create_directory("folder");
    WriteFileBytes("folder/in", {5});
    WriteFileBytes("folder/in.vtl", {6});
    fs::create_hard_link("in", "link");
#ifdef _WIN32
    WriteFileBytes("locked", {1});  // held open without sharing: nobody else can open it
    HANDLE locked = CreateFileA("locked", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const std::string unopenable = "locked";
#else
    const std::string unopenable = "/proc/sys/vm/drop_caches";  // write only, even for root
#endif
    const std::vector<std::string> names = folder_.Names();
    const std::string differ = ": Output file must differ from input and key files";
    const std::string here = "../" + fs::path(folder_.Path()).filename().string();
    const std::string usage = "Try 'vantrel-cli --help'.";
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
        std::string shellBefore = "";  // POSIX
    } table[] = {
        {{"encrypt", "-k", "key", "-o", "old", "missing"}, 1, "missing: Bad input file"},
        {{"encrypt", "-k", "nokey", "-o", "old", "in"}, 1, "nokey: Bad key file"},
        {{"encrypt", "-f", "-k", "key", "-o", "old", unopenable}, 1, unopenable + ": Cannot open input file"},
        {{"encrypt", "-f", "-k", unopenable, "-o", "old", "in"}, 1, unopenable + ": Cannot open key file"},
        {{"encrypt", "-k", "key", "-o", "nofolder/out", "in"}, 1, "nofolder/out: Cannot open output file"},
        {{"encrypt", "-k", "key", "-o", "old", "in"}, 1, "old: Output file exists (use -f to replace it)"},
        {{"decrypt", "-k", "key", "in"}, 1, "in: Input file name does not end in .vtl"},
        // The output is never one of the command's own files, however named.
        {{"encrypt", "-f", "-k", "key", "-o", "./in", "in"}, 1, "./in" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", folder_.Path("in"), "in"}, 1, folder_.Path("in") + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "link", "in"}, 1, "link" + differ},
        {{"decrypt", "-f", "-k", "key", "-o", here + "/key", "in"}, 1, here + "/key" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "folder", "in", "folder/in.vtl"}, 1, "folder/in.vtl" + differ},
        {{"encrypt", "-f", "-k", "key", "-o", "folder", "in", "folder/in"}, 1, "folder/in.vtl: Output file is also the output of in"},
#ifdef _WIN32
        {{"encrypt", "-f", "-k", "key", "-o", "IN", "in"}, 1, "IN" + differ},
#else
        // Reading address 0 of the program's own memory fails; a file size
        // limit (in 512-byte blocks) fails the writes part way, as a full disk does.
        {{"encrypt", "-f", "-k", "key", "-o", "old", "/proc/self/mem"}, 1, "/proc/self/mem: Cannot read input file"},
        {{"encrypt", "-f", "-k", "key", "-o", "old", "in"}, 1, "old: Cannot write output file", "ulimit -f 128; "},
#endif
        {{}, 2, usage},
        {{"encrypt", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-x", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-j", "0", "in"}, 2, usage},
        {{"encrypt", "-k", "key", "-o", "old", "in", "key"}, 2, usage},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        CliResult result = RunCli(row.args, row.shellBefore);
        EXPECT_EQ(row.exitCode, result.exitCode);
        EXPECT_NE(std::string::npos, result.output.find(row.message)) << result.output;
        // Nothing lost, nothing half written left behind.
        EXPECT_TRUE(input == ReadFileBytes("in") && key == ReadFileBytes("key") && old == ReadFileBytes("old"));
        EXPECT_EQ(names, folder_.Names());
    }
#ifdef _WIN32
    CloseHandle(locked);
#endif
}

// Outputs beside the inputs (replaced with -f) and in a folder; several
// files at once give the bytes of one at a time.
TEST_F(CliTest, DefaultNamesFoldersAndParallelFiles)
{
    Bytes key = RandomBytes(rng_, 37);
    WriteFileBytes("key", key);
    fs::create_directory("sub");
    fs::create_directory("one");
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i) {
        inputs.push_back((i % 2 ? "sub/file" : "file") + std::to_string(i));
        WriteFileBytes(inputs.back(), RandomBytes(rng_, i == 0 ? 0 : rng_() % 120000));
    }
    WriteFileBytes("file2.vtl", {'o', 'l', 'd'});
    std::vector<std::string> oneByOne = {"encrypt", "-j1", "-k", "key", "-o", "one"}, atOnce = {"encrypt", "-f", "-j4", "-k", "key"};
    oneByOne.insert(oneByOne.end(), inputs.begin(), inputs.end());
    atOnce.insert(atOnce.end(), inputs.begin(), inputs.end());
    EXPECT_EQ("", RunCli(oneByOne).output);  // not a word, and no progress where stderr is no terminal
    EXPECT_EQ(0, RunCli(atOnce).exitCode);
    for (const std::string &input : inputs) {
        Bytes sealed = ReadFileBytes(input + ".vtl");
        EXPECT_TRUE(ReferenceOutput(ENCRYPT, ReadFileBytes(input), key) == sealed) << input;
        EXPECT_TRUE(sealed == ReadFileBytes("one/" + fs::path(input).filename().string() + ".vtl")) << input;
    }
    // Back beside the input, from any case of .vtl, and into a folder.
    fs::rename("one/file2.vtl", "one/file2.VTL");
    EXPECT_EQ(0, RunCli({"decrypt", "-k", "key", "one/file2.VTL", "one/file3.vtl"}).exitCode);
    EXPECT_EQ(0, RunCli({"decrypt", "-k", "key", "-o", "sub", "one/file4.vtl"}).exitCode);
    EXPECT_TRUE(ReadFileBytes("file2") == ReadFileBytes("one/file2") &&
                ReadFileBytes("sub/file3") == ReadFileBytes("one/file3") && ReadFileBytes("file4") == ReadFileBytes("sub/file4"));
}

#ifndef _WIN32
// Ctrl+C or a kill while two files are half written: the run ends by the signal, leaving
// the existing output as it was. (Under Wine no console event can reach the program.)
TEST_F(CliTest, InterruptLeavesNothingBehind)
{
    WriteFileBytes("big1", RandomBytes(rng_, 24 << 20));  // still at work when the signal comes
    fs::copy_file("big1", "big2");
    WriteFileBytes("key", {3, 1, 4});
    WriteFileBytes("big1.vtl", {'o', 'l', 'd'});
    const std::vector<std::string> names = folder_.Names();
    for (int number : {SIGINT, SIGTERM}) {
        // In the background until both temporary outputs are there (or the run is done).
        std::string signal = " & until [ $(ls -a | grep -c '[.]tmp$') -ge 2 ] || [ -e big2.vtl ]; do sleep 0.01; done; "
                             "kill -" + std::to_string(number) + " $!; wait $! 2>/dev/null";
        CliResult result = RunCli({"encrypt", "-f", "-q", "-j2", "-k", "key", "big1", "big2"}, "", signal);
        EXPECT_EQ(128 + number, result.exitCode) << result.output;
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
