// Known-answer vectors of the cipher engine and their check. Every value
// comes from the cipher's published worked examples; results are compared
// bit for bit.
#include "knownanswers.h"

#include <cstdio>
#include <cstring>

#include "encode.h"

// --- the vectors ---

static const KnownNormalize kNormalize[] = {
    {1.0, 0x3FF0000000000000},
    {0.0, 0x0000000000000000},
    {2.0, 0x3FF0000000000000},
    {-0.25, 0x3FE8000000000000},
    {-1e-20, 0x3FF0000000000000},  // rounds up to exactly 1.0 and stays
    {1.0000000000000002, 0x3CB0000000000000},
    {8.789, 0x3FE93F7CED916870},
    {19.9999, 0x3FEFFF2E48E8A720},
    {-0.0390625, 0x3FEEC00000000000},
};

static const KnownModify kModify[] = {
    {0.5, OFF, 0x3FEAAAAAA8E0896D},
    {0.5, ON, 0x3FC5555547044B68},
    {0.0, OFF, 0x3FD5555551C112DA},
    {1.0, OFF, 0x3FD5555551C112D8},  // 1.33333333 rounds before 1.0 goes
    {1.0, ON, 0x3FE5555551C112DA},
    {0.9, ON, 0x3FE222221E8DDFA8},
    {0.5, 5, 0x3FC5555547044B68},    // any nonzero bit acts as ON
};

// lDataSize 0 means 1000 iterations.
static const KnownInitKey kInitKey[] = {
    {-1, 1, 0x3FEEBFB15B573EA8, 1},  {-1, 2, 0x3FE23C9EECBFB160, 2},
    {-1, 3, 0x3FE51DE69AD42C40, 3},  {-1, 4, 0x3FE1EAB367A0F908, 4},
    {-1, 5, 0x3FE1EAB367A0F908, 5},  {-1, 0, 0x3FE1EAB367A0F908, 1000},
    {0, 1, 0x3FF0000000000000, 1},   {0, 2, 0x3FF0000000000000, 2},
    {0, 7, 0x3FF0000000000000, 7},   {0, 0, 0x3FF0000000000000, 1000},
    {255, 1, 0x3FEEBFB15B573EB0, 1}, {255, 2, 0x3FE23C9EECBFB160, 2},
    {7, -1, 0x3FE0000000000000, 0},  {7, -2147483647 - 1, 0x3FE0000000000000, 0},
};

struct AscendingBytes {
    unsigned char bytes[256];
    constexpr AscendingBytes() : bytes()
    {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<unsigned char>(i);
    }
};
static constexpr AscendingBytes kAscending{};

static const unsigned char kHello[] = {0x68, 0x65, 0x6C, 0x6C, 0x6F};
static const unsigned char kHelloSealed[] = {0x78, 0x4E, 0x5C, 0xE4, 0xB7};
static const unsigned char kHelloDecrypted[] = {0x78, 0x27, 0xF4, 0xE0, 0xE4};
static const unsigned char kHelloZeroKey[] = {0xEF, 0x62, 0x5E, 0x61, 0xA0};
static const unsigned char kHelloSizeMinus1[] = {0x79, 0xEF, 0x3E, 0x4A, 0x4C};
static const unsigned char kEight00[8] = {};
static const unsigned char kEight00ZeroKey[] = {0xD7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
static const unsigned char kEightFF[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
static const unsigned char kEightFFEmptyKey[] = {0xDB, 0x52, 0xE4, 0xEE, 0xC7, 0x92, 0xC7, 0x2B};
static const unsigned char kEightFFZeroKey[] = {0x32, 0x49, 0x3A, 0xC7, 0x91, 0x94, 0xC6, 0xCE};
static const unsigned char kAscendingEmptyKeyHead[] = {
    0x00, 0x0B, 0x06, 0xB1, 0xF7, 0xED, 0x76, 0x1B, 0x38, 0x0D, 0xDE, 0x2D, 0x44, 0x22, 0x56, 0xD5};
static const unsigned char kAscendingZeroKeyHead[] = {
    0xD7, 0xD6, 0xDD, 0x90, 0xB5, 0x7D, 0x0E, 0x3F, 0x78, 0x05, 0x02, 0xFF, 0x45, 0xFB, 0x09, 0xB7};
static const unsigned char kZeroKey[] = {0x00};

#define BYTES(array) array, sizeof array
#define NO_BYTES nullptr, 0
#define WHOLE false, 0

static const KnownRun kRuns[] = {
    {"empty input", ENCRYPT, NO_BYTES, NO_BYTES, 0, NO_BYTES, WHOLE, 1001, 0},
    {"hello, empty key", ENCRYPT, BYTES(kHello), NO_BYTES, 5, BYTES(kHelloSealed), WHOLE, 8, 5},
    {"hello back, empty key", DECRYPT, BYTES(kHelloSealed), NO_BYTES, 5, BYTES(kHello), WHOLE, 8, 5},
    {"decrypt of plain hello", DECRYPT, BYTES(kHello), NO_BYTES, 5, BYTES(kHelloDecrypted), WHOLE, -1, 5},
    {"hello, zero key", ENCRYPT, BYTES(kHello), BYTES(kZeroKey), 5, BYTES(kHelloZeroKey), WHOLE, -1, 5},
    {"hello, size -1", ENCRYPT, BYTES(kHello), NO_BYTES, -1, BYTES(kHelloSizeMinus1), WHOLE, 3, 0},
    {"hello back, size -1", DECRYPT, BYTES(kHelloSizeMinus1), NO_BYTES, -1, BYTES(kHello), WHOLE, 3, 0},
    {"hello, size 6", ENCRYPT, BYTES(kHello), NO_BYTES, 6, BYTES(kHelloSealed), WHOLE, -1, 5},
    {"hello, size 0, empty key", ENCRYPT, BYTES(kHello), NO_BYTES, 0, BYTES(kHelloSealed), WHOLE, 1003, 0},
    {"hello, size 0, zero key", ENCRYPT, BYTES(kHello), BYTES(kZeroKey), 0, BYTES(kHelloZeroKey), WHOLE, -1, 0},
    {"eight 00, empty key", ENCRYPT, BYTES(kEight00), NO_BYTES, 8, BYTES(kEight00), WHOLE, 9, 8},
    {"eight 00, zero key", ENCRYPT, BYTES(kEight00), BYTES(kZeroKey), 8, BYTES(kEight00ZeroKey), WHOLE, 16, 8},
    {"eight FF, empty key", ENCRYPT, BYTES(kEightFF), NO_BYTES, 8, BYTES(kEightFFEmptyKey), WHOLE, -1, 8},
    {"eight FF, zero key", ENCRYPT, BYTES(kEightFF), BYTES(kZeroKey), 8, BYTES(kEightFFZeroKey), WHOLE, -1, 8},
    {"ascending, empty key", ENCRYPT, BYTES(kAscending.bytes), NO_BYTES, 256,
     BYTES(kAscendingEmptyKeyHead), true, 0x278E8B6E, 390, 128},
    {"ascending, zero key", ENCRYPT, BYTES(kAscending.bytes), BYTES(kZeroKey), 256,
     BYTES(kAscendingZeroKeyHead), true, 0xF0EA8BA3, 387, 128},
};

#undef BYTES
#undef NO_BYTES
#undef WHOLE

const KnownAnswers kKnownAnswers = {
    kNormalize, sizeof kNormalize / sizeof kNormalize[0],
    kModify, sizeof kModify / sizeof kModify[0],
    kInitKey, sizeof kInitKey / sizeof kInitKey[0],
    kRuns, sizeof kRuns / sizeof kRuns[0],
};

// --- the check ---

// One byte of CRC-32 (ISO-HDLC: reflected, polynomial 0x04C11DB7).
static std::uint32_t CrcStep(std::uint32_t crc, unsigned char byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    return crc;
}


static std::uint64_t BitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// What one run shows through its callbacks: the first bytes of the output
// (no example states more than these), its length and its running CRC.
struct RunSeen {
    unsigned char output[256];
    std::size_t outputLength;
    std::uint32_t crcState;
    long nextByteCalls;
    long nextKeyCalls;
    long incrementCalls;
};

struct RunFeed {
    const KnownRun *run;
    std::size_t inputPos;
    std::size_t keyPos;
    int constantKey;
    RunSeen seen;
};

static int FeedByte(RunFeed &feed)
{
    ++feed.seen.nextByteCalls;
    if (feed.inputPos < feed.run->inputLength)
        return feed.run->input[feed.inputPos++];
    return -1;
}

static int FeedKey(RunFeed &feed)
{
    ++feed.seen.nextKeyCalls;
    if (feed.run->keyLength == 0)
        return -1;
    int value = feed.run->key[feed.keyPos];
    feed.keyPos = (feed.keyPos + 1) % feed.run->keyLength;
    return value;
}

static void FeedOutput(RunFeed &feed, int byte)
{
    unsigned char value = static_cast<unsigned char>(byte);
    if (feed.seen.outputLength < sizeof feed.seen.output)
        feed.seen.output[feed.seen.outputLength] = value;
    ++feed.seen.outputLength;
    feed.seen.crcState = CrcStep(feed.seen.crcState, value);
}

// The plain entry takes bare functions: they reach the run through this.
static RunFeed *g_feed;
static int PlainNextByte() { return FeedByte(*g_feed); }
static int PlainNextKey() { return FeedKey(*g_feed); }
static void PlainOutput(int byte) { FeedOutput(*g_feed, byte); }
static void PlainIncrement() { ++g_feed->seen.incrementCalls; }

static int ConstantKeyValue(RunFeed &feed)
{
    ++feed.seen.nextKeyCalls;
    return feed.constantKey;
}

static bool RunMatches(const KnownRun &run, const RunSeen &seen)
{
    if (seen.outputLength != run.inputLength || run.outputLength > seen.outputLength ||
        run.outputLength > sizeof seen.output)
        return false;
    if (run.outputLength > 0 && std::memcmp(seen.output, run.output, run.outputLength) != 0)
        return false;
    if (run.hasCrc ? ~seen.crcState != run.crc : run.outputLength != seen.outputLength)
        return false;
    if (seen.nextByteCalls != static_cast<long>(run.inputLength) + 1)
        return false;
    if (run.nextKeyCalls >= 0 && seen.nextKeyCalls != run.nextKeyCalls)
        return false;
    return seen.incrementCalls == run.incrementCalls;
}

int CheckKnownAnswers(const KnownAnswers &table, KnownAnswerReport report, void *context)
{
    int failures = 0;
    char what[160];
    // Names the check just made (printf-style) and counts a failure.
    auto check = [&](bool passed, const char *format, auto... args) {
        std::snprintf(what, sizeof what, format, args...);
        if (report)
            report(context, what, passed);
        failures += !passed;
    };

    for (std::size_t i = 0; i < table.normalizeCount; ++i) {
        const KnownNormalize &row = table.normalize[i];
        check(BitsOf(Normalize(row.dIn)) == row.out, "Normalize(%.17g)", row.dIn);
    }
    for (std::size_t i = 0; i < table.modifyCount; ++i) {
        const KnownModify &row = table.modify[i];
        check(BitsOf(Modify(row.dIn, row.bBit)) == row.out, "Modify(%.17g, %d)", row.dIn,
              row.bBit);
    }
    for (std::size_t i = 0; i < table.initKeyCount; ++i) {
        const KnownInitKey &row = table.initKey[i];
        RunFeed feed{};
        feed.constantKey = row.iKeyValue;
        double dX = InitKeyWith(row.lDataSize, [&] { return ConstantKeyValue(feed); });
        check(BitsOf(dX) == row.out && feed.seen.nextKeyCalls == row.nextKeyCalls,
              "InitKey(size %d, key always %d)", row.lDataSize, row.iKeyValue);
    }
    for (std::size_t i = 0; i < table.runCount; ++i) {
        const KnownRun &run = table.runs[i];

        RunFeed plain{};
        plain.run = &run;
        plain.seen.crcState = 0xFFFFFFFFu;
        g_feed = &plain;
        EncodeBuffer(run.mMode, run.lDataSize, 0.01f, PlainNextByte, PlainNextKey, PlainOutput,
                     PlainIncrement);
        g_feed = nullptr;
        check(RunMatches(run, plain.seen), "EncodeBuffer: %s", run.name);

        RunFeed inlined{};
        inlined.run = &run;
        inlined.seen.crcState = 0xFFFFFFFFu;
        EncodeBufferWith(
            run.mMode, run.lDataSize, 0.01f, [&] { return FeedByte(inlined); },
            [&] { return FeedKey(inlined); }, [&](int byte) { FeedOutput(inlined, byte); },
            [&] { ++inlined.seen.incrementCalls; });
        check(RunMatches(run, inlined.seen), "EncodeBufferWith: %s", run.name);

        // The span form, in short spans so that every border is crossed.
        RunFeed spans{};
        spans.run = &run;
        spans.seen.crcState = 0xFFFFFFFFu;
        unsigned char keyValues[5], room[3];
        ByteSpan input{nullptr, nullptr};
        KeySpan keys{nullptr, nullptr, false};
        ByteRoom output{room, room + sizeof room};
        EncodeSpansWith(
            run.mMode, run.lDataSize, 0.01f, input,
            [&] {
                std::size_t left = run.inputLength - spans.inputPos;
                std::size_t take = left < 7 ? left : 7;
                ByteSpan span{run.input + spans.inputPos, run.input + spans.inputPos + take};
                spans.inputPos += take;
                spans.seen.nextByteCalls += static_cast<long>(take);
                return span;
            },
            keys,
            [&] {
                for (unsigned char &value : keyValues)
                    value = static_cast<unsigned char>(FeedKey(spans));
                return KeySpan{keyValues, keyValues + sizeof keyValues, run.keyLength == 0};
            },
            output,
            [&](unsigned char *upTo) {
                for (unsigned char *byte = room; byte != upTo; ++byte)
                    FeedOutput(spans, *byte);
                return ByteRoom{room, room + sizeof room};
            },
            [&] { ++spans.seen.incrementCalls; });
        for (unsigned char *byte = room; byte != output.pos; ++byte)
            FeedOutput(spans, *byte);
        spans.seen.nextByteCalls += 1;  // the end of the input counts as one more
        spans.seen.nextKeyCalls -= static_cast<long>(keys.end - keys.pos);  // handed out, not used
        check(RunMatches(run, spans.seen), "EncodeSpansWith: %s", run.name);
    }
    return failures;
}
