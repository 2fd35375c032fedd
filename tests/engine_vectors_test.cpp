// Known-answer vectors of the cipher engine. Every value comes from the
// cipher's published worked examples (the shared table in
// engine/knownanswers.cpp, and the bit-by-bit rows below); results are
// compared bit for bit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

#include "knownanswers.h"
#include "test_support.h"

// --- the plain entry, whose callbacks are bare functions over globals ---

static const Bytes *g_input;
static std::size_t g_inputPos;
static CyclicKey g_key;
static RunRecord *g_record;

static int PlainNextByte()
{
    ++g_record->nextByteCalls;
    return g_inputPos < g_input->size() ? int((*g_input)[g_inputPos++]) : -1;
}
static int PlainNextKey() { return g_key(); }
static void PlainOutput(int byte) { g_record->output.push_back(static_cast<std::uint8_t>(byte)); }
static void PlainIncrement() { ++g_record->incrementCalls; }

RunRecord RunPlain(int mode, const Bytes &input, const Bytes &key, int dataSize, float increment)
{
    RunRecord record;
    g_input = &input;
    g_inputPos = 0;
    g_key = CyclicKey{key};
    g_record = &record;
    EncodeBuffer(mode, dataSize, increment, PlainNextByte, PlainNextKey, PlainOutput, PlainIncrement);
    record.nextKeyCalls = g_key.calls;
    return record;
}

static int g_keyValue;
static long g_keyCalls;
static int ConstantKey()
{
    ++g_keyCalls;
    return g_keyValue;
}

static Bytes g_keyStream;
static int StreamKey() { return g_keyStream[static_cast<std::size_t>(g_keyCalls++)]; }

static std::string Hex(std::uint64_t bits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, bits);
    return text;
}

#define EXPECT_SAME_DOUBLE(expected, actual) \
    EXPECT_EQ(Hex(BitsOf(expected)), Hex(BitsOf(actual)))

// --- constants, Normalize, Modify ---

TEST(KeyState, ConstantsHaveTheirBinary64Bits)
{
    using namespace encode_detail;
    const struct { double value; std::uint64_t bits; } table[] = {
        {kHalf, 0x3FE0000000000000}, {kKeyDivisor, 0x4070000000000000},
        {kRounderScale, 0x40F86A0000000000}, {kRounderDivisor, 0x40C3880000000000},
        {kStepOff, 0x3FD5555551C112DA}, {kStepOn, 0x3FE5555551C112DA},
        {kChaos, 0x400C8F5C279E29A1},
    };
    for (const auto &row : table)
        EXPECT_EQ(Hex(row.bits), Hex(BitsOf(row.value)));
}

TEST(KeyState, NormalizeFoldsIntoTheUnitRange)
{
    for (std::size_t i = 0; i < kKnownAnswers.normalizeCount; ++i) {
        const KnownNormalize &row = kKnownAnswers.normalize[i];
        SCOPED_TRACE(row.dIn);
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(Normalize(row.dIn))));
    }
}

TEST(KeyState, ModifyPushesByTheChosenStep)
{
    for (std::size_t i = 0; i < kKnownAnswers.modifyCount; ++i) {
        const KnownModify &row = kKnownAnswers.modify[i];
        SCOPED_TRACE(testing::Message() << row.dIn << " bit " << row.bBit);
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(Modify(row.dIn, row.bBit))));
    }
}

// --- InitKey ---

TEST(KeyState, InitKeyIterationsForConstantKeys)
{
    for (std::size_t i = 0; i < kKnownAnswers.initKeyCount; ++i) {
        const KnownInitKey &row = kKnownAnswers.initKey[i];
        SCOPED_TRACE(testing::Message() << "key " << row.iKeyValue << " size " << row.lDataSize);
        g_keyValue = row.iKeyValue;
        g_keyCalls = 0;
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(InitKey(row.lDataSize, ConstantKey))));
        EXPECT_EQ(row.nextKeyCalls, g_keyCalls);
    }
}

TEST(KeyState, InitKeyTruncatesTheRoundedProduct)
{
    // Key 97 takes 0.5 to the sum 0.87890625 and the state 0.7889999999999997;
    // then key 8 gives the product 82024.99999999997, truncated to 82024.
    g_keyStream = {97, 8};
    g_keyCalls = 0;
    EXPECT_EQ(Hex(0x3FE93F7CED916870), Hex(BitsOf(InitKey(1, StreamKey))));
    g_keyCalls = 0;
    EXPECT_EQ(Hex(0x3FC9E83E425AEE80), Hex(BitsOf(InitKey(2, StreamKey))));
    g_keyCalls = 0;
    CyclicKey key{{97, 8}};
    EXPECT_EQ(Hex(0x3FC9E83E425AEE80), Hex(BitsOf(InitKeyWith(2, key))));
}

// --- EncodeBuffer ---

static Bytes Ascending()
{
    Bytes bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

static const Bytes kHello = {0x68, 0x65, 0x6C, 0x6C, 0x6F};
static const Bytes kEmptyKey = {};
static const Bytes kZeroKey = {0x00};

static Bytes BytesOf(const unsigned char *bytes, std::size_t length)
{
    return length == 0 ? Bytes() : Bytes(bytes, bytes + length);
}

static void CheckRun(const KnownRun &v, const RunRecord &got)
{
    Bytes expected = BytesOf(v.output, v.outputLength);
    ASSERT_EQ(v.inputLength, got.output.size());
    if (!v.hasCrc) {
        EXPECT_EQ(expected, got.output);
    } else {
        EXPECT_EQ(expected, Bytes(got.output.begin(), got.output.begin() + expected.size()));
        EXPECT_EQ(v.crc, Crc32(got.output));
    }
    EXPECT_EQ(static_cast<long>(v.inputLength) + 1, got.nextByteCalls);
    if (v.nextKeyCalls >= 0) {
        EXPECT_EQ(v.nextKeyCalls, got.nextKeyCalls);
    }
    EXPECT_EQ(v.incrementCalls, got.incrementCalls);
}

TEST(StreamTransform, WorkedExamplesThroughBothEntries)
{
    for (std::size_t i = 0; i < kKnownAnswers.runCount; ++i) {
        const KnownRun &v = kKnownAnswers.runs[i];
        SCOPED_TRACE(v.name);
        Bytes input = BytesOf(v.input, v.inputLength);
        Bytes key = BytesOf(v.key, v.keyLength);
        {
            SCOPED_TRACE("EncodeBuffer");
            CheckRun(v, RunPlain(v.mMode, input, key, v.lDataSize));
        }
        {
            SCOPED_TRACE("EncodeBufferWith");
            CheckRun(v, RunWith(v.mMode, input, key, v.lDataSize));
        }
    }
}

TEST(StreamTransform, AscendingBytesDecryptBack)
{
    for (const Bytes &key : {kEmptyKey, kZeroKey}) {
        RunRecord sealed = RunPlain(ENCRYPT, Ascending(), key, 256);
        EXPECT_EQ(Ascending(), RunPlain(DECRYPT, sealed.output, key, 256).output);
    }
}

TEST(StreamTransform, ProgressStepsFollowTheSize)
{
    // {size, step, Increment calls over that many bytes}
    const struct { int size; int step; long calls; } table[] = {
        {5, 0, 5}, {100, 0, 100}, {101, 1, 101}, {200, 1, 200}, {250, 2, 125},
        {1000, 9, 111}, {10000, 99, 101}, {12345, 123, 100}, {1000000, 9999, 100},
        {2147483647, 21474835, -1},  // too long to run here; the step is checked
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.size);
        EXPECT_EQ(row.step, encode_detail::ProgressStep(0.01f, row.size));
        if (row.calls >= 0) {
            EXPECT_EQ(row.calls, RunWith(ENCRYPT, Bytes(row.size, 0x5A), kZeroKey, row.size).incrementCalls);
        }
    }
}

// The first two bytes of "hello" under the empty key, bit by bit, through
// TransformBits and the byte loop's key-word rules. DECRYPT of 78 4E passes
// through the same rows, receiving c and giving back p.
TEST(StreamTransform, FirstTwoBytesBitByBit)
{
    const struct {
        int p, k;
        double entry;
        int h, c, newKey;
        double exit;
        int keyPos;
    } rows[] = {
        {0, 1, 0.5598999999999998, 1, 0, 1, 0.8016351909121423, 0},
        {0, 1, 0.8016351909121423, 1, 0, 1, 0.8677903972565894, 0},
        {0, 1, 0.8677903972565894, 1, 0, 1, 0.8731601291550845, 0},
        {1, 1, 0.8731601291550845, 1, 1, 0, 0.3582739797440994, 1},
        {0, 1, 0.3582739797440994, 0, 1, 1, 0.6484998887053217, 2},
        {1, 1, 0.6484998887053217, 1, 1, 0, 0.6312114297472261, 3},
        {1, 1, 0.6312114297472261, 1, 1, 0, 0.6753079279926706, 4},
        {0, 1, 0.6753079279926706, 1, 0, 1, 0.10584126002091966, 4},
        {1, 1, 0.10584126002091966, 0, 0, 0, 0.8345654842712705, 4},
        {0, 0, 0.8345654842712705, 1, 1, 0, 0.8924945120151492, 5},
        {1, 1, 0.8924945120151492, 1, 1, 0, 0.3769788683939123, 6},
        {0, 1, 0.3769788683939123, 0, 1, 1, 0.696026482969405, 7},
        {0, 1, 0.696026482969405, 1, 0, 1, 0.32625065984201707, 7},
        {1, 1, 0.32625065984201707, 0, 0, 0, 0.08737848442820913, 7},
        {1, 0, 0.08737848442820913, 0, 1, 1, 0.7986978450394057, 0},  // wraps
        {0, 1, 0.7986978450394057, 1, 0, 1, 0.8630135954174393, 0},
    };
    const int keyWordAfterByte[] = {0xF2, 0x3D};
    const Bytes cipher = {0x78, 0x4E};

    for (int mode : {ENCRYPT, DECRYPT}) {
        SCOPED_TRACE(mode == ENCRYPT ? "ENCRYPT" : "DECRYPT");
        const Bytes &in = mode == ENCRYPT ? kHello : cipher;
        g_keyValue = -1;
        double x = InitKey(5, ConstantKey);
        int keyWord = ConstantKey();
        int keyPos = 0;
        for (int i = 0; i < 16; ++i) {
            const auto &row = rows[i];
            SCOPED_TRACE(testing::Message() << "byte " << i / 8 + 1 << " bit " << i % 8);
            int bit = (in[i / 8] >> (i % 8)) & 1;
            int key = (keyWord >> keyPos) & 1;
            ASSERT_EQ(mode == ENCRYPT ? row.p : row.c, bit);
            ASSERT_EQ(row.k, key);
            EXPECT_SAME_DOUBLE(row.entry, x);
            EXPECT_EQ(row.h, x > 0.5 ? 1 : 0);
            int out = -1;
            TransformBits(mode, bit, &key, &out, &x);
            EXPECT_EQ(mode == ENCRYPT ? row.c : row.p, out);
            EXPECT_EQ(row.newKey, key);
            EXPECT_SAME_DOUBLE(row.exit, x);
            keyWord = (keyWord & ~(1 << keyPos)) | (key << keyPos);
            if (row.c && ++keyPos == 8) {
                keyPos = 0;
                keyWord ^= ConstantKey();
            }
            EXPECT_EQ(row.keyPos, keyPos);
            if (i % 8 == 7) {
                EXPECT_EQ(keyWordAfterByte[i / 8], keyWord & 0xFF);
            }
        }
    }
}

// --- the known-answer check that `vantrel-cli selftest` runs ---

namespace {

struct CheckLog {
    std::vector<std::string> failed;
    int checks = 0;
};

void LogCheck(void *context, const char *what, bool passed)
{
    CheckLog &log = *static_cast<CheckLog *>(context);
    ++log.checks;
    if (!passed)
        log.failed.push_back(what);
}

} // namespace

TEST(KnownAnswerCheck, PassesOnThisBuild)
{
    CheckLog log;
    EXPECT_EQ(0, CheckKnownAnswers(kKnownAnswers, LogCheck, &log));
    EXPECT_TRUE(log.failed.empty());
    const KnownAnswers &t = kKnownAnswers;
    EXPECT_EQ(static_cast<int>(t.normalizeCount + t.modifyCount + t.initKeyCount + 2 * t.runCount), log.checks);
}

TEST(KnownAnswerCheck, FailsOnAWrongVector)
{
    // Each kind of vector, spoiled in one field at a time, fails and is named.
    std::vector<KnownNormalize> normalize(kKnownAnswers.normalize, kKnownAnswers.normalize + kKnownAnswers.normalizeCount);
    std::vector<KnownModify> modify(kKnownAnswers.modify, kKnownAnswers.modify + kKnownAnswers.modifyCount);
    std::vector<KnownInitKey> initKey(kKnownAnswers.initKey, kKnownAnswers.initKey + kKnownAnswers.initKeyCount);
    std::vector<KnownRun> runs(kKnownAnswers.runs, kKnownAnswers.runs + kKnownAnswers.runCount);
    auto table = [&] {
        return KnownAnswers{normalize.data(), normalize.size(), modify.data(), modify.size(),
                            initKey.data(), initKey.size(), runs.data(), runs.size()};
    };
    auto expectOneWrong = [&](const std::string &named, int failures) {
        CheckLog log;
        EXPECT_EQ(failures, CheckKnownAnswers(table(), LogCheck, &log));
        ASSERT_EQ(static_cast<std::size_t>(failures), log.failed.size());
        for (const std::string &what : log.failed)
            EXPECT_NE(std::string::npos, what.find(named)) << what;
    };

    normalize[3].out ^= 1;  // one bit of a result
    expectOneWrong("Normalize(", 1);
    normalize[3].out ^= 1;

    modify[0].out += 1;
    expectOneWrong("Modify(", 1);
    modify[0].out -= 1;

    initKey[5].nextKeyCalls = 999;  // the right value, the wrong number of calls
    expectOneWrong("InitKey(", 1);
    initKey[5].nextKeyCalls = 1000;

    const std::size_t ascending = kKnownAnswers.runCount - 1;
    const KnownRun original = runs[ascending];
    unsigned char spoiled[16];
    std::memcpy(spoiled, original.output, sizeof spoiled);
    spoiled[15] ^= 0x80;  // an output byte: both entries fail
    runs[ascending].output = spoiled;
    expectOneWrong(original.name, 2);
    runs[ascending] = original;
    runs[ascending].crc ^= 1;
    expectOneWrong(original.name, 2);
    runs[ascending] = original;
    runs[ascending].incrementCalls += 1;
    expectOneWrong(original.name, 2);
    runs[ascending] = original;
    runs[ascending].nextKeyCalls -= 1;
    expectOneWrong(original.name, 2);
    runs[ascending] = original;
    runs[ascending].lDataSize = -1;  // no key state derived: other bytes
    expectOneWrong(original.name, 2);
    runs[ascending] = original;

    CheckLog log;
    EXPECT_EQ(0, CheckKnownAnswers(table(), LogCheck, &log));
}
