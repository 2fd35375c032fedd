// Known-answer vectors of the cipher engine. Every value comes from the
// cipher's published worked examples; results are compared bit for bit.
#include <gtest/gtest.h>

#include <cinttypes>
#include <string>

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
    const struct { double in; std::uint64_t out; } table[] = {
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
    for (const auto &row : table) {
        SCOPED_TRACE(row.in);
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(Normalize(row.in))));
    }
}

TEST(KeyState, ModifyPushesByTheChosenStep)
{
    const struct { double in; int bit; std::uint64_t out; } table[] = {
        {0.5, OFF, 0x3FEAAAAAA8E0896D},
        {0.5, ON, 0x3FC5555547044B68},
        {0.0, OFF, 0x3FD5555551C112DA},
        {1.0, OFF, 0x3FD5555551C112D8},  // 1.33333333 rounds before 1.0 goes
        {1.0, ON, 0x3FE5555551C112DA},
        {0.9, ON, 0x3FE222221E8DDFA8},
        {0.5, 5, 0x3FC5555547044B68},    // any nonzero bit acts as ON
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::Message() << row.in << " bit " << row.bit);
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(Modify(row.in, row.bit))));
    }
}

// --- InitKey ---

TEST(KeyState, InitKeyIterationsForConstantKeys)
{
    // {key value, iterations, state value after them}
    const struct { int key; int iterations; std::uint64_t out; } table[] = {
        {-1, 1, 0x3FEEBFB15B573EA8}, {-1, 2, 0x3FE23C9EECBFB160},
        {-1, 3, 0x3FE51DE69AD42C40}, {-1, 4, 0x3FE1EAB367A0F908},
        {-1, 5, 0x3FE1EAB367A0F908}, {-1, 0, 0x3FE1EAB367A0F908},
        {0, 1, 0x3FF0000000000000},  {0, 2, 0x3FF0000000000000},
        {0, 7, 0x3FF0000000000000},  {0, 0, 0x3FF0000000000000},
        {255, 1, 0x3FEEBFB15B573EB0}, {255, 2, 0x3FE23C9EECBFB160},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::Message() << "key " << row.key << " size " << row.iterations);
        g_keyValue = row.key;
        g_keyCalls = 0;
        EXPECT_EQ(Hex(row.out), Hex(BitsOf(InitKey(row.iterations, ConstantKey))));
        EXPECT_EQ(row.iterations == 0 ? 1000 : row.iterations, g_keyCalls);
    }
}

TEST(KeyState, InitKeyNegativeSizeReadsNoKey)
{
    for (int size : {-1, -5, -2147483647 - 1}) {
        g_keyValue = 7;
        g_keyCalls = 0;
        EXPECT_EQ(Hex(0x3FE0000000000000), Hex(BitsOf(InitKey(size, ConstantKey))));
        EXPECT_EQ(0, g_keyCalls);
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

struct RunVector {
    const char *name;
    int mode;
    Bytes input;
    Bytes key;          // empty: the empty key file, -1 on every call
    int dataSize;
    Bytes output;       // the whole output, or its first bytes when crc is set
    std::uint32_t crc;  // CRC-32 of the whole output; 0: output is whole
    long keyCalls;
    long incrementCalls;
};

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

static const RunVector kRunVectors[] = {
    {"empty input", ENCRYPT, {}, kEmptyKey, 0, {}, 0, 1001, 0},
    {"hello, empty key", ENCRYPT, kHello, kEmptyKey, 5, {0x78, 0x4E, 0x5C, 0xE4, 0xB7}, 0, 8, 5},
    {"hello back, empty key", DECRYPT, {0x78, 0x4E, 0x5C, 0xE4, 0xB7}, kEmptyKey, 5, kHello, 0, 8, 5},
    {"decrypt of plain hello", DECRYPT, kHello, kEmptyKey, 5, {0x78, 0x27, 0xF4, 0xE0, 0xE4}, 0, -1, 5},
    {"hello, zero key", ENCRYPT, kHello, kZeroKey, 5, {0xEF, 0x62, 0x5E, 0x61, 0xA0}, 0, -1, 5},
    {"hello, size -1", ENCRYPT, kHello, kEmptyKey, -1, {0x79, 0xEF, 0x3E, 0x4A, 0x4C}, 0, 3, 0},
    {"hello back, size -1", DECRYPT, {0x79, 0xEF, 0x3E, 0x4A, 0x4C}, kEmptyKey, -1, kHello, 0, 3, 0},
    {"hello, size 6", ENCRYPT, kHello, kEmptyKey, 6, {0x78, 0x4E, 0x5C, 0xE4, 0xB7}, 0, -1, 5},
    {"hello, size 0, empty key", ENCRYPT, kHello, kEmptyKey, 0, {0x78, 0x4E, 0x5C, 0xE4, 0xB7}, 0, 1003, 0},
    {"hello, size 0, zero key", ENCRYPT, kHello, kZeroKey, 0, {0xEF, 0x62, 0x5E, 0x61, 0xA0}, 0, -1, 0},
    {"eight 00, empty key", ENCRYPT, Bytes(8, 0x00), kEmptyKey, 8, Bytes(8, 0x00), 0, 9, 8},
    {"eight 00, zero key", ENCRYPT, Bytes(8, 0x00), kZeroKey, 8,
     {0xD7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 16, 8},
    {"eight FF, empty key", ENCRYPT, Bytes(8, 0xFF), kEmptyKey, 8,
     {0xDB, 0x52, 0xE4, 0xEE, 0xC7, 0x92, 0xC7, 0x2B}, 0, -1, 8},
    {"eight FF, zero key", ENCRYPT, Bytes(8, 0xFF), kZeroKey, 8,
     {0x32, 0x49, 0x3A, 0xC7, 0x91, 0x94, 0xC6, 0xCE}, 0, -1, 8},
    {"ascending, empty key", ENCRYPT, Ascending(), kEmptyKey, 256,
     {0x00, 0x0B, 0x06, 0xB1, 0xF7, 0xED, 0x76, 0x1B, 0x38, 0x0D, 0xDE, 0x2D, 0x44, 0x22, 0x56, 0xD5},
     0x278E8B6E, 390, 128},
    {"ascending, zero key", ENCRYPT, Ascending(), kZeroKey, 256,
     {0xD7, 0xD6, 0xDD, 0x90, 0xB5, 0x7D, 0x0E, 0x3F, 0x78, 0x05, 0x02, 0xFF, 0x45, 0xFB, 0x09, 0xB7},
     0xF0EA8BA3, 387, 128},
};

static void CheckRun(const RunVector &v, const RunRecord &got)
{
    ASSERT_EQ(v.input.size(), got.output.size());
    if (v.crc == 0) {
        EXPECT_EQ(v.output, got.output);
    } else {
        EXPECT_EQ(v.output, Bytes(got.output.begin(), got.output.begin() + v.output.size()));
        EXPECT_EQ(v.crc, Crc32(got.output));
    }
    EXPECT_EQ(static_cast<long>(v.input.size()) + 1, got.nextByteCalls);
    if (v.keyCalls >= 0) {
        EXPECT_EQ(v.keyCalls, got.nextKeyCalls);
    }
    EXPECT_EQ(v.incrementCalls, got.incrementCalls);
}

TEST(StreamTransform, WorkedExamplesThroughBothEntries)
{
    for (const RunVector &v : kRunVectors) {
        SCOPED_TRACE(v.name);
        {
            SCOPED_TRACE("EncodeBuffer");
            CheckRun(v, RunPlain(v.mode, v.input, v.key, v.dataSize));
        }
        {
            SCOPED_TRACE("EncodeBufferWith");
            CheckRun(v, RunWith(v.mode, v.input, v.key, v.dataSize));
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
