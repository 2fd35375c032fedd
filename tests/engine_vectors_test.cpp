// Known-answer vectors of the cipher engine. Every value comes from the
// cipher's published worked examples (the shared table in
// engine/knownanswers.cpp, and the tables below); results are compared bit
// for bit.
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
static int ConstantKey() { return g_keyValue; }

static std::string Hex(std::uint64_t bits)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIX64, bits);
    return text;
}

// --- the shared table, as `vantrel-cli selftest` checks it ---

static void FailNamed(void *failures, const char *what, bool passed)
{
    if (!passed)
        static_cast<std::vector<std::string> *>(failures)->push_back(what);
}

// Normalize, Modify, InitKey and every worked run through the plain entry,
// the context form and the span form.
TEST(KnownAnswers, EveryWorkedExamplePasses)
{
    std::vector<std::string> failures;
    EXPECT_EQ(0, CheckKnownAnswers(kKnownAnswers, FailNamed, &failures));
    for (const std::string &what : failures)
        ADD_FAILURE() << what;
}

TEST(KnownAnswers, AWrongVectorFailsAndIsNamed)
{
    std::vector<KnownNormalize> normalize(kKnownAnswers.normalize, kKnownAnswers.normalize + kKnownAnswers.normalizeCount);
    std::vector<KnownInitKey> initKey(kKnownAnswers.initKey, kKnownAnswers.initKey + kKnownAnswers.initKeyCount);
    std::vector<KnownRun> runs(kKnownAnswers.runs, kKnownAnswers.runs + kKnownAnswers.runCount);
    normalize[3].out ^= 1;           // one bit of a result
    initKey[5].nextKeyCalls = 999;   // the right value after the wrong number of calls
    runs.back().incrementCalls += 1;  // the 256 ascending bytes
    KnownAnswers spoiled = kKnownAnswers;
    spoiled.normalize = normalize.data();
    spoiled.initKey = initKey.data();
    spoiled.runs = runs.data();

    std::vector<std::string> failures;
    EXPECT_EQ(5, CheckKnownAnswers(spoiled, FailNamed, &failures));  // the run in all three forms
    ASSERT_EQ(5u, failures.size());
    EXPECT_NE(std::string::npos, failures[0].find("Normalize("));
    EXPECT_NE(std::string::npos, failures[1].find("InitKey("));
    for (int i = 2; i < 5; ++i)
        EXPECT_NE(std::string::npos, failures[i].find(runs.back().name)) << failures[i];
}

// --- examples beyond the table ---

TEST(KeyState, InitKeyTruncatesTheRoundedProduct)
{
    // Key 97 takes 0.5 to the sum 0.87890625 and the state 0.7889999999999997;
    // then key 8 gives the product 82024.99999999997, truncated to 82024.
    CyclicKey first{{97}}, both{{97, 8}};
    EXPECT_EQ(Hex(0x3FE93F7CED916870), Hex(BitsOf(InitKeyWith(1, first))));
    EXPECT_EQ(Hex(0x3FC9E83E425AEE80), Hex(BitsOf(InitKeyWith(2, both))));
}

static const Bytes kHello = {0x68, 0x65, 0x6C, 0x6C, 0x6F};
static const Bytes kZeroKey = {0x00};

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
            EXPECT_EQ(Hex(BitsOf(row.entry)), Hex(BitsOf(x)));
            EXPECT_EQ(row.h, x > 0.5 ? 1 : 0);
            int out = -1;
            TransformBits(mode, bit, &key, &out, &x);
            EXPECT_EQ(mode == ENCRYPT ? row.c : row.p, out);
            EXPECT_EQ(row.newKey, key);
            EXPECT_EQ(Hex(BitsOf(row.exit)), Hex(BitsOf(x)));
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
