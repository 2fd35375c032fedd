// vantrel-cli as a user runs it: the shipped program in a separate process,
// real files in a temporary folder, stdout, stderr and the exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cli_process.h"
#include "console.h"

#ifdef _WIN32
#include <windows.h>

#include "dialog_test_support.h"
#include "filemngr.h"
#include "process.h"
#include "vantrelwin.h"

// The program's globals, provided here until the shell defines them.
HINSTANCE hInst;
HWND hwndMain;
char szKeyFile[256];
#else
#include <sys/socket.h>
#include <sys/un.h>
#endif

namespace {

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

#define EXPECT_CONTAINS(text, part) EXPECT_TRUE(Contains(text, part)) << "missing \"" << (part) << "\" in:\n" << (text)

// A temporary folder that is the working folder of the program.
class CliTest : public testing::Test {
protected:
    CliResult Cli(const std::vector<std::string> &args)
    {
        CliOptions options;
        options.workDir = folder_.Path();
        return RunCli(args, options);
    }
    CliOptions InFolder() const
    {
        CliOptions options;
        options.workDir = folder_.Path();
        return options;
    }
    std::string At(const std::string &name) const { return folder_.Path(name); }
    void Write(const std::string &name, const Bytes &bytes) { WriteFileBytes(At(name), bytes); }
    Bytes Read(const std::string &name) const { return ReadFileBytes(At(name)); }
    std::vector<std::string> Names(const std::string &sub = std::string()) const { return folder_.Names(sub); }

    TempFolder folder_;
    std::mt19937_64 rng_{TestSeed()};
};

const char *Verb(int mode) { return mode == ENCRYPT ? "encrypt" : "decrypt"; }

// --- byte identity ---

// Every tool that turns a file into a file with the cipher, compared byte
// for byte over the same files: in the win32 tree the Windows program's run
// (Algorithm) too. The host and Windows builds of vantrel-cli are compared
// by CliCrossBuild.
using Producer = Bytes (*)(int mode, const std::string &in, const std::string &key, const std::string &out);

Bytes ByEngine(int mode, const std::string &in, const std::string &key, const std::string &)
{
    return ReferenceOutput(mode, ReadFileBytes(in), ReadFileBytes(key));
}

Bytes ByCli(int mode, const std::string &in, const std::string &key, const std::string &out)
{
    CliResult result = RunCli({Verb(mode), "-q", "-k", key, "-o", out, in});
    EXPECT_EQ(0, result.exitCode) << result.err;
    return ReadFileBytes(out);
}

#ifdef _WIN32
// The Windows program's run, its progress dialog owned by no window. It
// would report a failure in a message box: caught here, and a failure.
Bytes ByAlgorithm(int mode, const std::string &in, const std::string &key, const std::string &out)
{
    LoadCommonControls();
    hInst = GetModuleHandleA(nullptr);
    std::snprintf(szKeyFile, sizeof szKeyFile, "%s", key.c_str());
    MessageBoxCapture messages;
    Algorithm(mode, in.c_str(), out.c_str());
    for (const auto &shown : messages.Take())
        ADD_FAILURE() << "Algorithm showed: " << shown.text;
    return ReadFileBytes(out);
}
#endif

const struct {
    const char *name;
    Producer produce;
} kProducers[] = {
    {"engine", ByEngine},
    {"vantrel-cli", ByCli},
#ifdef _WIN32
    {"Algorithm", ByAlgorithm},
#endif
};

TEST_F(CliTest, SameBytesAsTheEngineAndBack)
{
    // {input length, key length}: empty input and key, keys shorter and
    // longer than the input, inputs across the stream chunks.
    const struct { std::size_t input; std::size_t key; } cases[] = {
        {0, 7}, {1, 0}, {5, 1}, {1000, 2}, {70000, 37}, {150000, 4096}, {3000, 9000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key);
        Bytes plain = RandomBytes(rng_, c.input);
        Write("plain", plain);
        Write("key", RandomBytes(rng_, c.key));
        for (int mode : {ENCRYPT, DECRYPT}) {
            Bytes first;
            for (const auto &producer : kProducers) {
                SCOPED_TRACE(producer.name);
                std::string out = At(std::string("out-") + producer.name);
                Bytes got = producer.produce(mode, At("plain"), At("key"), out);
                ASSERT_EQ(c.input, got.size());
                if (&producer == &kProducers[0])
                    first = got;
                else
                    EXPECT_TRUE(first == got) << "differs from " << kProducers[0].name;
                std::error_code ignored;
                fs::remove(out, ignored);
            }
            // And back: the other mode with the same key restores the input.
            Write("turned", first);
            CliResult back = Cli({Verb(1 - mode), "-q", "-k", "key", "-o", "back", "turned"});
            EXPECT_EQ(0, back.exitCode) << back.err;
            EXPECT_TRUE(plain == Read("back"));
            fs::remove(At("back"));
        }
    }
}

// --- names, -o, -f ---

TEST_F(CliTest, DefaultNamesBesideTheInputs)
{
    Bytes plain = RandomBytes(rng_, 500);
    Write("key", {42, 7});
    Write("a.txt", plain);
    fs::create_directory(At("sub"));
    Write("sub/b.bin", plain);
    CliResult sealed = Cli({"encrypt", "-k", "key", "a.txt", "sub/b.bin"});
    EXPECT_EQ(0, sealed.exitCode) << sealed.err;
    EXPECT_EQ("", sealed.err);
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, {42, 7}) == Read("a.txt.vtl"));
    EXPECT_TRUE(Read("a.txt.vtl") == Read("sub/b.bin.vtl"));

    fs::rename(At("a.txt.vtl"), At("c.VTL"));  // any case of .vtl
    fs::remove(At("sub/b.bin"));
    CliResult opened = Cli({"decrypt", "-k", "key", "c.VTL", "sub/b.bin.vtl", "a.txt"});
    EXPECT_EQ(1, opened.exitCode);
    EXPECT_TRUE(plain == Read("c"));
    EXPECT_TRUE(plain == Read("sub/b.bin"));
    // The input without .vtl is refused; the others are still done.
    EXPECT_CONTAINS(opened.err, "a.txt: Input file name does not end in .vtl");
    EXPECT_EQ((std::vector<std::string>{"a.txt", "c", "c.VTL", "key", "sub"}), Names());
}

TEST_F(CliTest, OutputFolder)
{
    Bytes one = RandomBytes(rng_, 300), two = RandomBytes(rng_, 3000);
    Write("key", RandomBytes(rng_, 37));
    Write("one", one);
    Write("two.dat", two);
    fs::create_directory(At("vault"));
    fs::create_directory(At("back"));
    CliResult sealed = Cli({"encrypt", "-k", "key", "-o", "vault", "one", At("two.dat")});
    EXPECT_EQ(0, sealed.exitCode) << sealed.err;
    EXPECT_EQ((std::vector<std::string>{"one.vtl", "two.dat.vtl"}), Names("vault"));
    CliResult opened = Cli({"decrypt", "-k", "key", "-o", "back", "vault/one.vtl", "vault/two.dat.vtl"});
    EXPECT_EQ(0, opened.exitCode) << opened.err;
    EXPECT_TRUE(one == Read("back/one"));
    EXPECT_TRUE(two == Read("back/two.dat"));
    // One input and a folder: the output goes into it.
    fs::remove(At("back/one"));
    EXPECT_EQ(0, Cli({"decrypt", "-k", "key", "-o", "back", "vault/one.vtl"}).exitCode);
    EXPECT_TRUE(one == Read("back/one"));
}

#ifdef _WIN32
TEST_F(CliTest, WildcardsExpandAsInAShell)
{
    Write("key", {6});
    Write("a.txt", {1});
    Write("b.txt", {2});
    Write("c.bin", {3});
    CliResult result = Cli({"encrypt", "-k", "key", "*.txt"});
    EXPECT_EQ(0, result.exitCode) << result.err;
    EXPECT_EQ((std::vector<std::string>{"a.txt", "a.txt.vtl", "b.txt", "b.txt.vtl", "c.bin", "key"}), Names());
}
#endif

TEST_F(CliTest, ExistingOutputNeedsForce)
{
    Bytes plain = RandomBytes(rng_, 800), old = {'o', 'l', 'd'};
    Write("key", {1, 2, 3});
    Write("in", plain);
    Write("in.vtl", old);
    CliResult refused = Cli({"encrypt", "-k", "key", "in"});
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_CONTAINS(refused.err, "in.vtl: Output file exists (use -f to replace it)");
    EXPECT_TRUE(old == Read("in.vtl"));
    CliResult forced = Cli({"encrypt", "-f", "-k", "key", "in"});
    EXPECT_EQ(0, forced.exitCode) << forced.err;
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, {1, 2, 3}) == Read("in.vtl"));
    EXPECT_EQ((std::vector<std::string>{"in", "in.vtl", "key"}), Names());
}

TEST_F(CliTest, OutputNeverTheInputOrKey)
{
    Bytes plain = RandomBytes(rng_, 100), key = {9, 9};
    Write("in", plain);
    Write("key", key);
    fs::create_hard_link(At("in"), At("link"));
    std::vector<std::vector<std::string>> commands = {
        {"encrypt", "-f", "-k", "key", "-o", "./in", "in"},
        {"encrypt", "-f", "-k", "key", "-o", At("in"), "in"},
        {"encrypt", "-f", "-k", "key", "-o", "link", "in"},
        {"encrypt", "-f", "-k", "key", "-o", "key", "in"},
        {"decrypt", "-f", "-k", "key", "-o", "../" + fs::path(At("")).parent_path().filename().string() + "/key", "in"},
#ifdef _WIN32
        {"encrypt", "-f", "-k", "key", "-o", "IN", "in"},
        {"encrypt", "-f", "-k", "key", "-o", "KEY", "in"},
#endif
    };
    for (const auto &command : commands) {
        SCOPED_TRACE(command[5]);
        CliResult result = Cli(command);
        EXPECT_EQ(1, result.exitCode);
        EXPECT_CONTAINS(result.err, command[5] + ": Output file must differ from input and key files");
        EXPECT_TRUE(plain == Read("in"));
        EXPECT_TRUE(key == Read("key"));
    }
    // Another input of the same command counts too: in.vtl is read by the
    // second run, so the first may not replace it.
    Write("in.vtl", plain);
    CliResult batch = Cli({"encrypt", "-f", "-k", "key", "in", "in.vtl"});
    EXPECT_EQ(1, batch.exitCode);
    EXPECT_CONTAINS(batch.err, "in.vtl: Output file must differ from input and key files");
    EXPECT_TRUE(plain == Read("in.vtl"));
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, key) == Read("in.vtl.vtl"));
}

TEST_F(CliTest, TwoInputsNeverShareAnOutput)
{
    Write("key", {5});
    fs::create_directory(At("x"));
    fs::create_directory(At("y"));
    fs::create_directory(At("out"));
    Write("x/same", {1, 2});
    Write("y/same", {3, 4});
    CliResult result = Cli({"encrypt", "-f", "-k", "key", "-o", "out", "x/same", "y/same"});
    EXPECT_EQ(1, result.exitCode);
    EXPECT_CONTAINS(result.err, "Output file is also the output of x/same");
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, {1, 2}, {5}) == Read("out/same.vtl"));
}

// --- failures ---

// A file that exists but cannot be opened for reading.
void MakeUnopenable(const std::string &path)
{
#ifdef _WIN32
    WriteFileBytes(path, {1, 2, 3});
#else
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address));
    close(sock);
#endif
}

#ifdef _WIN32
// Holds a file open with no sharing: nobody else can open it.
struct Exclusive {
    HANDLE handle;
    explicit Exclusive(const std::string &path)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        EXPECT_NE(INVALID_HANDLE_VALUE, handle);
    }
    ~Exclusive() { CloseHandle(handle); }
};
#endif

TEST_F(CliTest, EachFailureWithItsMessage)
{
    Write("in", RandomBytes(rng_, 1000));
    Write("key", {1});
    Write("old", {'o', 'l', 'd'});
    fs::create_directory(At("folder"));
    MakeUnopenable(At("locked"));
#ifdef _WIN32
    Exclusive hold(At("locked"));
#endif
    const struct {
        std::vector<std::string> args;
        std::string message;
    } table[] = {
        {{"encrypt", "-k", "key", "-o", "old", "missing"}, "missing: Bad input file"},
        {{"encrypt", "-k", "key", "-o", "old", "folder"}, "folder: Bad input file"},
        {{"encrypt", "-k", "nokey", "-o", "old", "in"}, "nokey: Bad key file"},
        {{"encrypt", "-k", "folder", "-o", "old", "in"}, "folder: Bad key file"},
        {{"encrypt", "-f", "-k", "key", "-o", "old", "locked"}, "locked: Cannot open input file"},
        {{"encrypt", "-f", "-k", "locked", "-o", "old", "in"}, "locked: Cannot open key file"},
        {{"encrypt", "-k", "key", "-o", "nofolder/out", "in"}, "nofolder/out: Cannot open output file"},
        {{"encrypt", "-f", "-k", "key", "-o", "folder", "folder"}, "folder: Bad input file"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.message);
        CliResult result = Cli(row.args);
        EXPECT_EQ(1, result.exitCode);
        EXPECT_CONTAINS(result.err, row.message);
        EXPECT_EQ((std::vector<std::string>{"folder", "in", "key", "locked", "old"}), Names());
        EXPECT_TRUE((Bytes{'o', 'l', 'd'}) == Read("old"));
    }
}

#ifdef __linux__
TEST_F(CliTest, ReadAndWriteErrorsLeaveNoOutput)
{
    Write("key", {1, 2});
    Write("old", {'o', 'l', 'd'});
    Write("big", RandomBytes(rng_, 1 << 20));
    // Address 0 of the program's own memory is never mapped: reading fails.
    CliResult unreadable = Cli({"encrypt", "-f", "-k", "key", "-o", "old", "/proc/self/mem"});
    EXPECT_EQ(1, unreadable.exitCode);
    EXPECT_CONTAINS(unreadable.err, "/proc/self/mem: Cannot read input file");
    // A file size limit makes the writes fail part way, as a full disk does.
    CliOptions limited = InFolder();
    limited.fileSizeLimit = 64 << 10;
    CliResult full = RunCli({"encrypt", "-f", "-k", "key", "-o", "old", "big"}, limited);
    EXPECT_EQ(1, full.exitCode);
    EXPECT_CONTAINS(full.err, "old: Cannot write output file");
    EXPECT_EQ((std::vector<std::string>{"big", "key", "old"}), Names());
    EXPECT_TRUE((Bytes{'o', 'l', 'd'}) == Read("old"));
}
#endif

TEST_F(CliTest, UsageErrorsExitTwo)
{
    Write("in", {1});
    Write("key", {2});
    Write("other", {3});
    const std::vector<std::vector<std::string>> table = {
        {},
        {"shred", "in"},
        {"encrypt", "in"},
        {"encrypt", "-k", "key"},
        {"encrypt", "-k"},
        {"encrypt", "-k", "key", "-x", "in"},
        {"encrypt", "-k", "key", "--force", "in"},
        {"encrypt", "-k", "key", "-j", "0", "in"},
        {"encrypt", "-k", "key", "-j", "two", "in"},
        {"encrypt", "-k", "key", "-k", "key", "in"},
        {"encrypt", "-k", "key", "-o", "x", "-o", "y", "in"},
        {"decrypt", "-k", "key", "-o", "other", "in", "key"},
        {"selftest", "now"},
    };
    for (const auto &args : table) {
        std::string line;
        for (const std::string &arg : args)
            line += arg + " ";
        SCOPED_TRACE(line);
        CliResult result = Cli(args);
        EXPECT_EQ(2, result.exitCode);
        EXPECT_CONTAINS(result.err, "Try 'vantrel-cli --help'.");
        EXPECT_EQ("", result.out);
        EXPECT_EQ((std::vector<std::string>{"in", "key", "other"}), Names());
    }
}

TEST_F(CliTest, EmptyKeyWorksWithAWarning)
{
    Bytes plain = RandomBytes(rng_, 2000);
    Write("in", plain);
    Write("empty", {});
    CliResult result = Cli({"encrypt", "-k", "empty", "in"});
    EXPECT_EQ(0, result.exitCode);
    EXPECT_CONTAINS(result.err, "empty: Warning: the key file is empty; such a key protects nothing");
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, {}) == Read("in.vtl"));
}

// --- several files at once ---

TEST_F(CliTest, ParallelFilesGiveTheBytesOfOneAtATime)
{
    Write("key", RandomBytes(rng_, 37));
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i) {
        std::string name = "file" + std::to_string(i);
        Write(name, RandomBytes(rng_, i == 0 ? 0 : rng_() % 120000));
        inputs.push_back(name);
    }
    for (const char *jobs : {"1", "4", ""}) {
        std::string out = std::string("out") + (jobs[0] ? jobs : "default");
        fs::create_directory(At(out));
        std::vector<std::string> args = {"encrypt", "-k", "key", "-o", out};
        if (jobs[0]) {
            args.push_back("-j");
            args.push_back(jobs);
        }
        args.insert(args.end(), inputs.begin(), inputs.end());
        CliResult result = Cli(args);
        EXPECT_EQ(0, result.exitCode) << result.err;
    }
    for (const std::string &input : inputs) {
        SCOPED_TRACE(input);
        Bytes one = Read("out1/" + input + ".vtl");
        EXPECT_TRUE(ReferenceOutput(ENCRYPT, Read(input), Read("key")) == one);
        EXPECT_TRUE(one == Read("out4/" + input + ".vtl"));
        EXPECT_TRUE(one == Read("outdefault/" + input + ".vtl"));
    }
}

// --- interrupts ---

// Waits until `count` temporary outputs are in `folder`; false if the run
// ended first.
bool WaitForTemporaries(const TempFolder &folder, std::size_t count)
{
    for (int i = 0; i < 20000; ++i) {
        std::size_t found = 0;
        for (const std::string &name : folder.Names())
            found += name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0;
        if (found >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

#ifndef _WIN32
TEST_F(CliTest, InterruptLeavesNothingBehind)
{
    // Large enough that the runs are still at work when the signal comes.
    Write("big1", RandomBytes(rng_, 24 << 20));
    fs::copy_file(At("big1"), At("big2"));
    Write("key", {3, 1, 4});
    Write("big1.vtl", {'o', 'l', 'd'});
    for (int number : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(number);
        CliRun run({"encrypt", "-f", "-q", "-j", "2", "-k", "key", "big1", "big2"}, InFolder());
        ASSERT_TRUE(WaitForTemporaries(folder_, 2)) << run.Wait().err;
        run.Signal(number);
        CliResult result = run.Wait();
        EXPECT_EQ(number, result.signal);
        EXPECT_EQ((std::vector<std::string>{"big1", "big1.vtl", "big2", "key"}), Names());
        EXPECT_TRUE((Bytes{'o', 'l', 'd'}) == Read("big1.vtl"));
    }
}

TEST_F(CliTest, ProgressOnlyOnATerminal)
{
    Write("in", RandomBytes(rng_, 300000));
    Write("key", {8});
    CliOptions terminal = InFolder();
    terminal.stderrTerminal = true;
    CliResult shown = RunCli({"encrypt", "-k", "key", "-o", "a", "in"}, terminal);
    EXPECT_EQ(0, shown.exitCode);
    EXPECT_CONTAINS(shown.err, "Encrypting: ");
    EXPECT_CONTAINS(shown.err, "100%");
    EXPECT_CONTAINS(shown.err, "of 293.0 KiB");
    CliResult quiet = RunCli({"decrypt", "-q", "-k", "key", "-o", "b", "a"}, terminal);
    EXPECT_EQ(0, quiet.exitCode);
    EXPECT_EQ("", quiet.err);
    CliResult notTerminal = Cli({"encrypt", "-k", "key", "-o", "c", "in"});
    EXPECT_EQ(0, notTerminal.exitCode);
    EXPECT_EQ("", notTerminal.err);
    EXPECT_TRUE(Read("in") == Read("b"));
}
#else
// Console control events cannot be sent to the program here (under Wine the
// tests have no console), so this checks what the interrupt relies on: the
// pending output is open with delete sharing, so removing it while the run
// still writes it works, and the name is gone once the process has ended;
// an existing output stays untouched.
TEST_F(CliTest, InterruptLeavesNothingBehind)
{
    Write("big1", RandomBytes(rng_, 24 << 20));
    Write("key", {3, 1, 4});
    Write("big1.vtl", {'o', 'l', 'd'});
    CliRun run({"encrypt", "-f", "-q", "-k", "key", "big1"}, InFolder());
    ASSERT_TRUE(WaitForTemporaries(folder_, 1)) << run.Wait().err;
    for (const std::string &name : Names()) {
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
            EXPECT_TRUE(DeleteFileA(At(name).c_str())) << name << " error " << GetLastError();
        }
    }
    run.Kill();
    run.Wait();
    EXPECT_EQ((std::vector<std::string>{"big1", "big1.vtl", "key"}), Names());
    EXPECT_TRUE((Bytes{'o', 'l', 'd'}) == Read("big1.vtl"));
}
#endif

// --- help, version, selftest ---

TEST_F(CliTest, HelpExplainsEveryOption)
{
    CliResult help = Cli({"--help"});
    EXPECT_EQ(0, help.exitCode);
    for (const char *part : {"encrypt -k KEYFILE", "decrypt -k KEYFILE", "selftest", "  -k KEYFILE",
                             "  -o OUTPUT", "  -f ", "  -q ", "  -j N", "  --help", "  --version",
                             "Exit status", "INPUT.vtl"})
        EXPECT_CONTAINS(help.out, part);
    CliResult version = Cli({"--version"});
    EXPECT_EQ(0, version.exitCode);
    EXPECT_EQ(std::string("vantrel-cli ") + VANTREL_VERSION + "\n", version.out);
}

TEST_F(CliTest, SelftestPassesInTheShippedProgram)
{
    CliResult result = Cli({"selftest"});
    EXPECT_EQ(0, result.exitCode);
    EXPECT_CONTAINS(result.out, "this build's arithmetic is conformant");
    EXPECT_FALSE(Contains(result.out, "FAILED"));
}

TEST(Progress, LineShowsBytesPercentRateAndTimeLeft)
{
    // One of four MiB in two seconds, a quarter of the work.
    std::string line = FormatProgress("Encrypting", 1, 4, 1 << 20, 4 << 20, 30, 120, 2.0);
    EXPECT_CONTAINS(line, "Encrypting 1/4 files: ");
    EXPECT_CONTAINS(line, "1.0 MiB of 4.0 MiB");
    EXPECT_CONTAINS(line, "25%");
    EXPECT_CONTAINS(line, "512.0 KiB/s");
    EXPECT_CONTAINS(line, "0:06 left");
    // The key state is work before the first byte: time left, no bytes yet.
    std::string seeding = FormatProgress("Encrypting", 0, 1, 0, 1000, 10, 100, 1.0);
    EXPECT_CONTAINS(seeding, "0 B of 1000 B, 10%, 0 B/s, 0:09 left");
    std::string done = FormatProgress("Decrypting", 1, 1, 1000, 1000, 3000, 3000, 75.0);
    EXPECT_CONTAINS(done, "Decrypting: 1000 B of 1000 B, 100%");
    EXPECT_CONTAINS(done, "1:15");
    EXPECT_FALSE(Contains(done, "left"));
    // The key state's values count a ninth of a byte each.
    EXPECT_EQ(9 * 10 + 5, ProgressWork(7, 10, 5));
    EXPECT_EQ(2 + 0, ProgressWork(2, 0, 5));
}

} // namespace
