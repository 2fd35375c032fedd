// Speed of the cipher against its latency floor, measured in one run.
//
// The floor kernels execute only the state value's dependency chain (the push
// with its fold, and two logistic steps per bit; in DECRYPT also the high
// test that picks the push), with the same operations, order and rounding
// over the same data. Nothing can run the cipher faster on one core, so each
// figure is printed as a ratio against its floor.
//
//   vantrel-bench [--mib N] [--reps N]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "encode.h"

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

static double FloorInitKey(const Bytes &keys)
{
    double dX = 0.5;
    for (std::uint8_t key : keys) {
        dX = dX + key / 256.0;
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

template <class Fn>
static double SecondsOf(Fn &&fn)
{
    Clock::time_point start = Clock::now();
    fn();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

static bool g_allWithin = true;

static void Report(const char *what, double seconds, double floorSeconds, std::size_t count,
                   const char *unit, double target)
{
    double ratio = seconds / floorSeconds;
    bool within = ratio <= target;
    g_allWithin = g_allWithin && within;
    std::printf("  %-34s %7.2f ns/%s  %5.3fx floor  (target <= %.2f: %s)\n", what,
                seconds * 1e9 / count, unit, ratio, target, within ? "ok" : "MISSED");
}

int main(int argc, char **argv)
{
    std::size_t mib = 64;
    int reps = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mib"))
            mib = std::strtoul(argv[i + 1], nullptr, 10);
        else if (!std::strcmp(argv[i], "--reps"))
            reps = std::atoi(argv[i + 1]);
    }
    const std::uint64_t seed = 20261206;
    std::mt19937_64 rng(seed);
    Bytes data(mib << 20);
    for (auto &b : data)
        b = static_cast<std::uint8_t>(rng());
    Bytes out(data.size());

#if defined(_WIN32)
    const char *build = "win32 (i686, SSE2)";
#elif defined(__x86_64__)
    const char *build = "host (x86_64)";
#else
    const char *build = "host";
#endif
    std::printf("Vantrel benchmark, %s build: %zu MiB of random data (seed %llu), best of %d\n", build,
                mib, static_cast<unsigned long long>(seed), reps);

    const std::size_t keyLengths[] = {1, 37, 4096};
    for (int mode : {ENCRYPT, DECRYPT}) {
        double floorSeconds = 1e30;
        double plain[3], with[3];
        for (double &t : plain)
            t = 1e30;
        for (double &t : with)
            t = 1e30;
        for (int rep = 0; rep < reps; ++rep) {
            double f = SecondsOf([&] { g_sink += mode == ENCRYPT ? FloorEncrypt(data) : FloorDecrypt(data); });
            floorSeconds = f < floorSeconds ? f : floorSeconds;
            for (int k = 0; k < 3; ++k) {
                Bytes key(keyLengths[k]);
                for (auto &b : key)
                    b = static_cast<std::uint8_t>(rng());
                double p = SecondsOf([&] { RunPlain(mode, data, key, out); });
                double w = SecondsOf([&] { RunWith(mode, data, key, out); });
                plain[k] = p < plain[k] ? p : plain[k];
                with[k] = w < with[k] ? w : with[k];
            }
        }
        std::printf("%s: floor %.2f ns/byte\n", mode == ENCRYPT ? "ENCRYPT" : "DECRYPT",
                    floorSeconds * 1e9 / data.size());
        for (int k = 0; k < 3; ++k) {
            char label[64];
            std::snprintf(label, sizeof label, "EncodeBuffer, key %zu", keyLengths[k]);
            Report(label, plain[k], floorSeconds, data.size(), "byte", 1.10);
            std::snprintf(label, sizeof label, "EncodeBufferWith, key %zu", keyLengths[k]);
            Report(label, with[k], floorSeconds, data.size(), "byte", 1.10);
        }
    }

    // The key state: one key value per byte of the size.
    Bytes keys(data.size() / 4);
    for (auto &b : keys)
        b = static_cast<std::uint8_t>(rng());
    double floorSeconds = 1e30, initSeconds = 1e30;
    for (int rep = 0; rep < reps; ++rep) {
        double f = SecondsOf([&] { g_sink += FloorInitKey(keys); });
        g_key = &keys;
        g_keyPos = 0;
        double t = SecondsOf([&] { g_sink += InitKey(static_cast<int>(keys.size()), BenchNextKey); });
        floorSeconds = f < floorSeconds ? f : floorSeconds;
        initSeconds = t < initSeconds ? t : initSeconds;
    }
    std::printf("InitKey: floor %.2f ns/key value\n", floorSeconds * 1e9 / keys.size());
    Report("InitKey", initSeconds, floorSeconds, keys.size(), "value", 1.25);

    std::printf("%s\n", g_allWithin ? "All figures within target." : "Some figures MISSED their target.");
    return g_sink == 12345.0 ? 3 : 0;
}
