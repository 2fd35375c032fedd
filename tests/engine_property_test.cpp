// Properties of the cipher engine over seeded random data: the fast loop
// equals the rules written out straight, DECRYPT undoes ENCRYPT, and the
// size given to the engine never bounds the bytes it processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "reference_engine.h"
#include "test_support.h"

static RunRecord RunReference(int mode, const Bytes &input, const Bytes &key, int dataSize)
{
    RunRecord record;
    CyclicKey keySource{key};
    std::size_t pos = 0;
    reference::EncodeBuffer(
        mode, dataSize, 0.01f,
        [&] {
            ++record.nextByteCalls;
            return pos < input.size() ? int(input[pos++]) : -1;
        },
        [&] { return keySource(); },
        [&](int byte) { record.output.push_back(static_cast<std::uint8_t>(byte)); },
        [&] { ++record.incrementCalls; });
    record.nextKeyCalls = keySource.calls;
    return record;
}

static void ExpectSameRun(const RunRecord &expected, const RunRecord &actual)
{
    ASSERT_EQ(expected.output, actual.output);
    EXPECT_EQ(expected.nextByteCalls, actual.nextByteCalls);
    EXPECT_EQ(expected.nextKeyCalls, actual.nextKeyCalls);
    EXPECT_EQ(expected.incrementCalls, actual.incrementCalls);
}

// Sizes the engine may be given for an input of `length` bytes.
static int PickDataSize(std::mt19937_64 &rng, std::size_t length)
{
    int n = static_cast<int>(length);
    switch (rng() % 6) {
    case 0: return 0;
    case 1: return -1 - static_cast<int>(rng() % 100000);
    case 2: return n > 0 ? static_cast<int>(rng() % n) : 0;  // smaller
    case 3: return n + 1 + static_cast<int>(rng() % 300);    // larger
    default: return n;
    }
}

TEST(EngineProperties, FastLoopEqualsTheReference)
{
    std::mt19937_64 rng(TestSeed());
    for (int round = 0; round < 400; ++round) {
        std::size_t length = rng() % 700;
        Bytes input = RandomBytes(rng, length);
        // Cycles of every length from 1 to 9, the empty key (-1), and longer keys.
        std::size_t keyLength = round % 12 < 10 ? round % 12 : 10 + rng() % 3000;
        Bytes key = RandomBytes(rng, keyLength);
        int dataSize = PickDataSize(rng, length);
        int mode = static_cast<int>(rng() % 2);
        SCOPED_TRACE(testing::Message() << "round " << round << " length " << length << " key "
                                        << keyLength << " size " << dataSize << " mode " << mode);
        RunRecord expected = RunReference(mode, input, key, dataSize);
        ExpectSameRun(expected, RunWith(mode, input, key, dataSize));
        if (round % 8 == 0)
            ExpectSameRun(expected, RunPlain(mode, input, key, dataSize));
    }
}

TEST(EngineProperties, DecryptUndoesEncrypt)
{
    std::mt19937_64 rng(TestSeed());
    const std::size_t keyLengths[] = {0, 1, 2, 7, 256, 5000};
    for (std::size_t keyLength : keyLengths) {
        for (int round = 0; round < 12; ++round) {
            std::size_t length = round == 0 ? 0 : rng() % 4000;
            Bytes input = RandomBytes(rng, length);
            Bytes key = RandomBytes(rng, keyLength);
            int dataSize = PickDataSize(rng, length);
            SCOPED_TRACE(testing::Message() << "key " << keyLength << " length " << length
                                            << " size " << dataSize);
            RunRecord sealed = RunWith(ENCRYPT, input, key, dataSize);
            RunRecord opened = RunWith(DECRYPT, sealed.output, key, dataSize);
            ASSERT_EQ(input, opened.output);
            EXPECT_EQ(sealed.nextKeyCalls, opened.nextKeyCalls);
        }
    }
}

TEST(EngineProperties, SizeNeverBoundsTheBytesProcessed)
{
    std::mt19937_64 rng(TestSeed());
    Bytes input = RandomBytes(rng, 1000);
    Bytes key = RandomBytes(rng, 13);
    for (int dataSize : {1, 10, 999, 1000, 1001, 5000, -3, 0}) {
        SCOPED_TRACE(dataSize);
        RunRecord run = RunWith(ENCRYPT, input, key, dataSize);
        EXPECT_EQ(input.size(), run.output.size());
        EXPECT_EQ(1001, run.nextByteCalls);
        EXPECT_EQ(input, RunWith(DECRYPT, run.output, key, dataSize).output);
    }
    // The size changes the bytes only through the key values InitKey takes.
    EXPECT_NE(RunWith(ENCRYPT, input, key, 1000).output, RunWith(ENCRYPT, input, key, 999).output);
}

TEST(EngineProperties, OneStepFoldEqualsRepeatedSubtraction)
{
    // Every truncated product InitKey can meet with key values -1 to 255.
    for (int rounder = -391; rounder <= 200000; ++rounder) {
        double scaled = rounder / 10000.0;
        ASSERT_EQ(BitsOf(reference::Normalize(scaled)),
                  BitsOf(encode_detail::FoldRounder(rounder, scaled)))
            << "rounder " << rounder;
    }
}

// The fast bit steps against the rules written out straight, over random
// states and the states where a push just does or does not fold.
TEST(EngineProperties, BitStepsEqualTheReference)
{
    using namespace encode_detail;
    std::mt19937_64 rng(TestSeed());
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const PushTable &pushes = Pushes();
    std::vector<double> states = {0.0, 1.0, 0.5, std::nextafter(0.5, 1.0), 1e-300};
    for (double limit : pushes.foldAbove) {
        double x = limit;
        for (int i = 0; i < 2000; ++i)
            x = std::nextafter(x, 0.0);
        for (int i = 0; i < 4000; ++i, x = std::nextafter(x, 1.0))
            states.push_back(x);
    }
    for (int i = 0; i < 100000; ++i)
        states.push_back(unit(rng));

    for (double x : states) {
        for (int bit = 0; bit < 2; ++bit) {
            int key = 0, out = 0;
            double expected = x;
            reference::TransformBits(ENCRYPT, bit, &key, &out, &expected);
            ASSERT_EQ(BitsOf(expected), BitsOf(FromState(StepEncrypt(ToState(x), bit, pushes))))
                << "ENCRYPT x " << x << " p " << bit;

            // DECRYPT receives c; with key bit 0, c XOR k is c itself.
            key = 0;
            expected = x;
            reference::TransformBits(DECRYPT, bit, &key, &out, &expected);
            int plain = -1;
            double got = FromState(StepDecrypt(ToState(x), bit, pushes, &plain));
            ASSERT_EQ(out, plain) << "DECRYPT x " << x << " c " << bit;
            ASSERT_EQ(BitsOf(expected), BitsOf(got)) << "DECRYPT x " << x << " c " << bit;
        }
    }
}

// The span form against the one-value form: random span lengths for input,
// key and output room, keys that read as -1, every size kind; the same bytes,
// key values taken and Increment calls.
TEST(EngineProperties, SpanFormEqualsTheOneValueForm)
{
    std::mt19937_64 rng(TestSeed());
    for (int round = 0; round < 300; ++round) {
        std::size_t length = rng() % 3000;
        Bytes input = RandomBytes(rng, length);
        Bytes key = RandomBytes(rng, round % 10 == 0 ? 0 : 1 + rng() % 40);
        int dataSize = PickDataSize(rng, length);
        int mode = static_cast<int>(rng() % 2);
        std::size_t most = 1 + rng() % 300;  // longest span handed out
        SCOPED_TRACE(testing::Message() << "round " << round << " length " << length << " key "
                                        << key.size() << " size " << dataSize << " mode " << mode
                                        << " spans " << most);
        RunRecord expected = RunWith(mode, input, key, dataSize);

        // Spans cut at random lengths from the input, the cycled key (its
        // bytes laid out end to end) and an output buffer.
        std::size_t inPos = 0, keyPos = 0, keyValues = 0;
        Bytes keyStream(most);
        Bytes room(most), output;
        std::vector<std::size_t> incrementAfter;
        auto cut = [&]() -> std::size_t { return 1 + rng() % most; };
        ByteSpan in{nullptr, nullptr};
        KeySpan keys{nullptr, nullptr, false};
        ByteRoom out{room.data(), room.data() + cut()};
        EncodeSpansWith(
            mode, dataSize, 0.01f, in,
            [&] {
                std::size_t n = std::min<std::size_t>(cut(), input.size() - inPos);
                ByteSpan span{input.data() + inPos, input.data() + inPos + n};
                inPos += n;
                return span;
            },
            keys,
            [&] {
                std::size_t n = cut();
                keyValues += n;
                for (std::size_t i = 0; i < n; ++i) {
                    keyStream[i] = key.empty() ? 0 : key[keyPos];
                    keyPos = key.empty() ? 0 : (keyPos + 1) % key.size();
                }
                return KeySpan{keyStream.data(), keyStream.data() + n, key.empty()};
            },
            out,
            [&](unsigned char *upTo) {
                output.insert(output.end(), room.data(), upTo);
                return ByteRoom{room.data(), room.data() + cut()};
            },
            [&] { incrementAfter.push_back(output.size() + (out.pos - room.data())); });
        output.insert(output.end(), room.data(), out.pos);
        long keysTaken = static_cast<long>(keyValues) - static_cast<long>(keys.end - keys.pos);

        ASSERT_EQ(expected.output, output);
        EXPECT_EQ(expected.nextKeyCalls, keysTaken);
        EXPECT_EQ(expected.incrementAfter, incrementAfter);
        EXPECT_EQ(in.pos, in.end);
    }
}

// Counting progress a run of bytes at a time equals counting byte by byte,
// also where the 32-bit counters wrap.
TEST(EngineProperties, ProgressCountedInRunsEqualsByteByByte)
{
    std::mt19937_64 rng(TestSeed());
    using encode_detail::Progress;
    const int starts[] = {0, 5, INT_MAX - 1000, INT_MAX - 3, INT_MIN, -7};
    const int steps[] = {0, 1, 2, 99, 12345, 21474835};
    for (int start : starts) {
        for (int step : steps) {
            Progress byByte{start, encode_detail::WrapAdd(start, step), step};
            Progress inRuns = byByte;
            // The bytes after which an Increment is due.
            std::vector<long long> due, dueInRuns;
            for (long long i = 1; i <= 5000; ++i)
                if (byByte.Count())
                    due.push_back(i);
            long long done = 0;
            while (done < 5000) {
                long long n = std::min<long long>(
                    {5000 - done, inRuns.Distance(), 1 + static_cast<long long>(rng() % 50)});
                done += n;
                if (inRuns.CountMany(n))
                    dueInRuns.push_back(done);
            }
            SCOPED_TRACE(testing::Message() << "start " << start << " step " << step);
            EXPECT_EQ(due, dueInRuns);
            EXPECT_EQ(byByte.lCurrent, inRuns.lCurrent);
            EXPECT_EQ(byByte.lNext, inRuns.lNext);
        }
    }
}
