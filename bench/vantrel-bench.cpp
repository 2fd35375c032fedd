// Speed of the cipher against its latency floor, measured in one run.
//
// The floor kernels execute only the state value's dependency chain (the push
// with its fold, and two logistic steps per bit; in DECRYPT also the high
// test that picks the push), with the same operations, order and rounding
// over the same data. Nothing can run the cipher faster on one core, so each
// figure is printed as a ratio against its floor.
//
// Sections: the engine (EncodeBuffer in both modes, InitKey), whole runs
// file to file through vantrel-cli, peak memory of a long run against a short
// one, and files in parallel.
//
//   vantrel-bench [--mib N] [--reps N] [engine] [runs] [memory] [parallel]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "encode.h"

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include "filemngr.h"
#include "process.h"
#include "vantrelwin.h"

// What the Windows program's shell provides to its runs.
HINSTANCE hInst;
HWND hwndMain;
char szKeyFile[256];
#endif

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using namespace encode_detail;

static double g_sink;  // keeps floor results alive

static double FloorEncrypt(const Bytes &data)
{
    const PushTable &pushes = Pushes();
    StateValue vX = ToState(0.5);
    for (std::uint8_t byte : data)
        for (int iX = 0; iX < 8; ++iX)
            vX = StepEncrypt(vX, (byte >> iX) & 1, pushes);
    return FromState(vX);
}

static double FloorDecrypt(const Bytes &data)
{
    const PushTable &pushes = Pushes();
    StateValue vX = ToState(0.5);
    int bPlain;
    for (std::uint8_t byte : data)
        for (int iX = 0; iX < 8; ++iX)
            vX = StepDecrypt(vX, (byte >> iX) & 1, pushes, &bPlain);
    return FromState(vX);
}

// InitKey's chain over `count` values of the key file `key` read cyclically
// (-1 each for an empty key file).
static double FloorInitKey(const Bytes &key, std::size_t count)
{
    double dX = 0.5;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        int iKeyVal = key.empty() ? -1 : key[pos];
        pos = pos + 1 == key.size() ? 0 : pos + 1;
        dX = dX + iKeyVal / 256.0;
        int iRounder = TruncToInt(100000.0 * dX);
        dX = FoldRounder(iRounder, iRounder / 10000.0);
    }
    return dX;
}

// The plain entry's callbacks: bare functions over module state.
static const Bytes *g_in;
static std::size_t g_inPos;
static std::uint8_t *g_out;
static const Bytes *g_key;
static std::size_t g_keyPos;

static int BenchNextByte() { return g_inPos < g_in->size() ? (*g_in)[g_inPos++] : -1; }
static int BenchNextKey()
{
    int value = (*g_key)[g_keyPos];
    if (++g_keyPos == g_key->size())
        g_keyPos = 0;
    return value;
}
static void BenchOutput(int byte) { *g_out++ = static_cast<std::uint8_t>(byte); }
static void BenchIncrement() {}

// The engine state costs lDataSize key values before the first byte; the
// benchmarks pass size -1 so that the byte loop alone is timed, and time
// InitKey on its own.
static void RunPlain(int mode, const Bytes &in, const Bytes &key, Bytes &out)
{
    g_in = &in;
    g_inPos = 0;
    g_out = out.data();
    g_key = &key;
    g_keyPos = 0;
    EncodeBuffer(mode, -1, 0.01f, BenchNextByte, BenchNextKey, BenchOutput, BenchIncrement);
}

static void RunWith(int mode, const Bytes &in, const Bytes &key, Bytes &out)
{
    std::size_t inPos = 0, keyPos = 0;
    std::uint8_t *outPos = out.data();
    EncodeBufferWith(
        mode, -1, 0.01f, [&] { return inPos < in.size() ? int(in[inPos++]) : -1; },
        [&] {
            int value = key[keyPos];
            keyPos = keyPos + 1 == key.size() ? 0 : keyPos + 1;
            return value;
        },
        [&](int byte) { *outPos++ = static_cast<std::uint8_t>(byte); }, [] {});
}

// The span form over the same data, in spans of 64 KiB as the file runs use.
static void RunSpans(int mode, const Bytes &in, const Bytes &key, Bytes &out)
{
    constexpr std::size_t kSpan = std::size_t(64) << 10;
    std::size_t inPos = 0, outPos = 0, keyPos = 0;
    Bytes keyRun(kSpan);
    ByteSpan input{nullptr, nullptr};
    KeySpan keys{nullptr, nullptr, false};
    ByteRoom room{out.data(), out.data() + std::min(kSpan, out.size())};
    EncodeSpansWith(
        mode, -1, 0.01f, input,
        [&] {
            std::size_t n = std::min(kSpan, in.size() - inPos);
            ByteSpan span{in.data() + inPos, in.data() + inPos + n};
            inPos += n;
            return span;
        },
        keys,
        [&] {
            for (auto &b : keyRun) {
                b = key[keyPos];
                keyPos = keyPos + 1 == key.size() ? 0 : keyPos + 1;
            }
            return KeySpan{keyRun.data(), keyRun.data() + kSpan, false};
        },
        room,
        [&](unsigned char *upTo) {
            outPos = static_cast<std::size_t>(upTo - out.data());
            std::size_t n = std::max<std::size_t>(1, std::min(kSpan, out.size() - outPos));
            return ByteRoom{out.data() + outPos, out.data() + outPos + n};
        },
        [] {});
}

template <class Fn>
static double SecondsOf(Fn &&fn)
{
    Clock::time_point start = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

static bool g_allWithin = true;

static Bytes RandomBytes(std::mt19937_64 &rng, std::size_t length)
{
    Bytes bytes(length);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

static bool WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

// The machine's speed drifts over seconds, so each run is timed right after
// a floor run of its own, and the figure is the median of those ratios.
struct Paired {
    std::vector<double> ratios, seconds;

    void Add(double runSeconds, double floorSeconds)
    {
        ratios.push_back(runSeconds / floorSeconds);
        seconds.push_back(runSeconds);
    }
    static double Median(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }
};

static void ReportPaired(const char *what, const Paired &paired, std::size_t count, const char *unit,
                         double target)
{
    double ratio = Paired::Median(paired.ratios);
    bool within = ratio <= target;
    g_allWithin = g_allWithin && within;
    std::printf("  %-34s %7.2f ns/%s  %5.3fx floor  (target <= %.2f: %s)\n", what,
                Paired::Median(paired.seconds) * 1e9 / count, unit, ratio, target,
                within ? "ok" : "MISSED");
}

static void EngineFigures(const Bytes &data, int reps, std::mt19937_64 &rng)
{
    Bytes out(data.size());
    const std::size_t keyLengths[] = {1, 37, 4096};
    const char *forms[] = {"EncodeBuffer", "EncodeBufferWith", "EncodeSpansWith"};
    for (int mode : {ENCRYPT, DECRYPT}) {
        Paired figures[3][3];  // [key][form]
        std::vector<double> floorSeconds;
        for (int rep = 0; rep < reps; ++rep) {
            for (int k = 0; k < 3; ++k) {
                Bytes key = RandomBytes(rng, keyLengths[k]);
                for (int form = 0; form < 3; ++form) {
                    double f = SecondsOf([&] { g_sink += mode == ENCRYPT ? FloorEncrypt(data) : FloorDecrypt(data); });
                    double t = SecondsOf([&] {
                        if (form == 0)
                            RunPlain(mode, data, key, out);
                        else if (form == 1)
                            RunWith(mode, data, key, out);
                        else
                            RunSpans(mode, data, key, out);
                    });
                    figures[k][form].Add(t, f);
                    floorSeconds.push_back(f);
                }
            }
        }
        std::printf("%s: floor %.2f ns/byte\n", mode == ENCRYPT ? "ENCRYPT" : "DECRYPT",
                    Paired::Median(floorSeconds) * 1e9 / data.size());
        for (int k = 0; k < 3; ++k) {
            for (int form = 0; form < 3; ++form) {
                char label[64];
                std::snprintf(label, sizeof label, "%s, key %zu", forms[form], keyLengths[k]);
                ReportPaired(label, figures[k][form], data.size(), "byte", 1.10);
            }
        }
    }

    // The key state: one key value per byte of the size.
    Bytes keys = RandomBytes(rng, data.size() / 4);
    Paired initKey;
    std::vector<double> initFloorSeconds;
    for (int rep = 0; rep < reps; ++rep) {
        double f = SecondsOf([&] { g_sink += FloorInitKey(keys, keys.size()); });
        g_key = &keys;
        g_keyPos = 0;
        double t = SecondsOf([&] { g_sink += InitKey(static_cast<int>(keys.size()), BenchNextKey); });
        initKey.Add(t, f);
        initFloorSeconds.push_back(f);
    }
    std::printf("InitKey: floor %.2f ns/key value\n", Paired::Median(initFloorSeconds) * 1e9 / keys.size());
    ReportPaired("InitKey", initKey, keys.size(), "value", 1.25);
}

static std::string CliProgram()
{
#ifdef _WIN32
    return ProgramFolder() + "\\vantrel-cli.exe";
#else
    return ProgramFolder() + "/vantrel-cli";
#endif
}

static std::string Join(const std::string &folder, const std::string &name)
{
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

// A whole run, file to file: runRun(mode, keyPath, input, output) runs it
// and returns its seconds, or a negative number when it failed.
using WholeRun = double (*)(int mode, const std::string &keyPath, const std::string &input,
                            const std::string &output);

// Whole runs over key files of 0, 1, 37 bytes, 1 MiB and 64 MiB. The floor
// of a run is the key state's chain over as many key values as the input has
// bytes, plus the byte chain.
static void WholeRunFigures(const char *through, WholeRun runRun, const Bytes &data, int reps,
                            std::mt19937_64 &rng)
{
    std::string folder = MakeTempFolder();
    std::string input = Join(folder, "input.bin");
    std::string output = Join(folder, "output.vtl");
    std::string keyPath = Join(folder, "key.bin");
    WriteFile(input, data);
    const std::size_t keyLengths[] = {0, 1, 37, std::size_t(1) << 20, std::size_t(64) << 20};
    const char *keyNames[] = {"0 B", "1 B", "37 B", "1 MiB", "64 MiB"};
    std::printf("Whole runs through %s, %zu MiB input:\n", through, data.size() >> 20);
    for (int k = 0; k < 5; ++k) {
        Bytes key = RandomBytes(rng, keyLengths[k]);
        WriteFile(keyPath, key);
        for (int mode : {ENCRYPT, DECRYPT}) {
            Paired run;
            bool ok = true;
            for (int rep = 0; rep < reps; ++rep) {
                double f = SecondsOf([&] {
                    g_sink += FloorInitKey(key, data.size());
                    g_sink += mode == ENCRYPT ? FloorEncrypt(data) : FloorDecrypt(data);
                });
                double t = runRun(mode, keyPath, input, output);
                ok = ok && t >= 0;
                run.Add(t, f);
            }
            char label[64];
            std::snprintf(label, sizeof label, "%s %s, key %s%s", through,
                          mode == ENCRYPT ? "encrypt" : "decrypt", keyNames[k], ok ? "" : " (FAILED)");
            g_allWithin = g_allWithin && ok;
            ReportPaired(label, run, data.size(), "byte", 1.15);
        }
    }
    RemoveTree(folder);
}

static double CliRun(int mode, const std::string &keyPath, const std::string &input,
                     const std::string &output)
{
    ChildRun run = RunChild(CliProgram(), {mode == ENCRYPT ? "encrypt" : "decrypt", "-q", "-f", "-k",
                                           keyPath, "-o", output, input});
    return run.ok ? run.seconds : -1.0;
}

#ifdef _WIN32
// The Windows program's Algorithm, progress dialog and all.
static double AlgorithmRun(int mode, const std::string &keyPath, const std::string &input,
                           const std::string &output)
{
    std::snprintf(szKeyFile, sizeof szKeyFile, "%s", keyPath.c_str());
    return SecondsOf([&] { Algorithm(mode, input.c_str(), output.c_str()); });
}
#endif

// Peak memory of a 1 GiB run against a 1 MiB run with the same key.
static void MemoryFigures(std::mt19937_64 &rng)
{
    std::string folder = MakeTempFolder();
    std::string keyPath = Join(folder, "key.bin");
    WriteFile(keyPath, RandomBytes(rng, 37));
    std::string small = Join(folder, "small.bin"), large = Join(folder, "large.bin");
    WriteFile(small, RandomBytes(rng, std::size_t(1) << 20));
    MakeZeroFile(large, 1LL << 30);
    std::printf("Peak memory of vantrel-cli (key 37 B); the 1 GiB run takes a minute or so:\n");
    ChildRun smallRun = RunChild(CliProgram(), {"encrypt", "-q", "-f", "-k", keyPath, small});
    ChildRun largeRun = RunChild(CliProgram(), {"encrypt", "-q", "-f", "-k", keyPath, large});
    bool within = smallRun.ok && largeRun.ok && largeRun.peakMiB <= smallRun.peakMiB + 0.5;
    g_allWithin = g_allWithin && within;
    std::printf("  1 MiB run %.1f MiB, 1 GiB run %.1f MiB  (target: no larger, within 0.5 MiB: %s)\n",
                smallRun.peakMiB, largeRun.peakMiB, within ? "ok" : "MISSED");
    RemoveTree(folder);
}

// N equal files with -j N against one file alone.
static void ParallelFigures(std::size_t fileBytes, std::mt19937_64 &rng)
{
    unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0)
        cores = 1;
    std::string folder = MakeTempFolder();
    std::string keyPath = Join(folder, "key.bin");
    WriteFile(keyPath, RandomBytes(rng, 37));
    std::vector<std::string> files;
    for (unsigned i = 0; i < cores; ++i) {
        files.push_back(Join(folder, "file" + std::to_string(i) + ".bin"));
        WriteFile(files.back(), RandomBytes(rng, fileBytes));
    }
    ChildRun one = RunChild(CliProgram(), {"encrypt", "-q", "-f", "-j", "1", "-k", keyPath, files[0]});
    std::printf("Files in parallel through vantrel-cli, %zu MiB each, one file: %.2f s\n",
                fileBytes >> 20, one.seconds);
    for (unsigned n = 2; n <= cores; ++n) {
        std::vector<std::string> args = {"encrypt", "-q", "-f", "-j", std::to_string(n), "-k", keyPath};
        args.insert(args.end(), files.begin(), files.begin() + n);
        ChildRun many = RunChild(CliProgram(), args);
        double speedup = one.seconds * n / many.seconds;
        bool within = one.ok && many.ok && speedup >= 0.8 * n;
        g_allWithin = g_allWithin && within;
        std::printf("  -j %u on %u files: %.2f s, %.2fx the throughput of one  (target >= %.1f: %s)\n", n,
                    n, many.seconds, speedup, 0.8 * n, within ? "ok" : "MISSED");
    }
    if (cores < 2)
        std::printf("  (one core: nothing to run in parallel)\n");
    RemoveTree(folder);
}

int main(int argc, char **argv)
{
    std::size_t mib = 64;
    int reps = 2;
    bool engine = false, runs = false, memory = false, parallel = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--mib") && i + 1 < argc)
            mib = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--reps") && i + 1 < argc)
            reps = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "engine"))
            engine = true;
        else if (!std::strcmp(argv[i], "runs"))
            runs = true;
        else if (!std::strcmp(argv[i], "memory"))
            memory = true;
        else if (!std::strcmp(argv[i], "parallel"))
            parallel = true;
        else {
            std::fprintf(stderr, "usage: vantrel-bench [--mib N] [--reps N] [engine] [runs] [memory] [parallel]\n");
            return 2;
        }
    }
    if (!engine && !runs && !memory && !parallel)
        engine = runs = memory = parallel = true;
    if (mib == 0 || reps <= 0) {
        std::fprintf(stderr, "vantrel-bench: --mib and --reps must be positive\n");
        return 2;
    }

    const std::uint64_t seed = 20261206;
    std::mt19937_64 rng(seed);
    Bytes data = RandomBytes(rng, mib << 20);
#if defined(_WIN32)
    const char *build = "win32 (i686, SSE2)";
#elif defined(__x86_64__)
    const char *build = "host (x86_64)";
#else
    const char *build = "host";
#endif
    std::printf("Vantrel benchmark, %s build: %zu MiB of random data (seed %llu), %d rounds\n"
                "(each figure: the median of the rounds, each round a run timed beside a floor run of its own)\n",
                build, mib, static_cast<unsigned long long>(seed), reps);

    if (engine)
        EngineFigures(data, reps, rng);
    if (runs) {
        WholeRunFigures("vantrel-cli", CliRun, data, reps, rng);
#ifdef _WIN32
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        hInst = GetModuleHandleA(nullptr);
        WholeRunFigures("Algorithm", AlgorithmRun, data, reps, rng);
#endif
    }
    if (memory)
        MemoryFigures(rng);
    if (parallel)
        ParallelFigures(data.size() / 2, rng);

    std::printf("%s\n", g_allWithin ? "All figures within target." : "Some figures MISSED their target.");
    return g_sink == 12345.0 ? 3 : 0;
}
