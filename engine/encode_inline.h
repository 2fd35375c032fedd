// Inline body of the cipher engine's context form; included by encode.h only.
#pragma once

#include <climits>
#include <cmath>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace encode_detail {

constexpr double kHalf = 0.5;            // start of InitKey, threshold of "high"
constexpr double kKeyDivisor = 256.0;
constexpr double kRounderScale = 100000.0;
constexpr double kRounderDivisor = 10000.0;
constexpr int kEmptySizeIterations = 1000;
constexpr double kStepOff = 0.33333333;  // not 1/3: the eight-digit decimal
constexpr double kStepOn = 0.66666666;
constexpr double kChaos = 3.56999999;    // not 3.57

// Truncation toward zero into 32 bits. Values outside the int range (which
// the engine's own values never reach) give INT_MIN, as the x86 conversion
// instruction does, instead of undefined behaviour.
inline int TruncToInt(double dValue)
{
    if (dValue > -2147483649.0 && dValue < 2147483648.0)
        return static_cast<int>(dValue);
    return INT_MIN;
}

// Two's complement addition, as the 32-bit counters of the run behave on
// inputs longer than 2 GiB.
inline int WrapAdd(int a, int b)
{
    return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

// The fold of InitKey, from iRounder (-391 to 200000) and dRounder =
// iRounder / 10000.0. Subtracting 1.0 from a value between 1 and 20 is exact,
// so the repeated subtractions of the plain fold equal one subtraction of
// their count; the count comes from the integer, since dRounder is a whole
// number exactly when iRounder is a multiple of 10000. A negative value lies
// above -1 and takes one rounded addition, written as subtracting -1.0. A
// value already in range subtracts 0.0, which is exact.
inline double FoldRounder(int iRounder, double dRounder)
{
    int iWhole = iRounder / 10000;
    if (iRounder % 10000 == 0)
        iWhole -= 1;  // 2.0 folds to 1.0, not 0.0
    if (iWhole < 0)
        iWhole = 0;
    if (iRounder < 0)
        iWhole = -1;
    return dRounder - static_cast<double>(iWhole);
}

// Number of bits set among the low eight of iByte.
inline int PopCount8(int iByte)
{
    unsigned uBits = static_cast<unsigned>(iByte) & 0xFFu;
    uBits = uBits - ((uBits >> 1) & 0x55u);
    uBits = (uBits & 0x33u) + ((uBits >> 2) & 0x33u);
    return static_cast<int>((uBits + (uBits >> 4)) & 0x0Fu);
}

// Bytes per progress step: fIncrement widened to binary64 times the size,
// rounded, then truncated; 0 for sizes of 0 or less.
inline int ProgressStep(float fIncrement, int lDataSize)
{
    if (lDataSize <= 0)
        return 0;
    return TruncToInt(static_cast<double>(fIncrement) * static_cast<double>(lDataSize));
}

// Normalize(dX + dStep) for dX in 0.0 to 1.0, where the sum lies between
// 0.33333333 and 1.66666666 and the fold subtracts at most once.
inline double Push(double dX, double dStep)
{
    double dSum = dX + dStep;
    return dSum > 1.0 ? dSum - 1.0 : dSum;
}

// A product of the state's chain, handed on through an empty statement the
// compiler cannot see into: it stays a rounded binary64 value, and no
// contraction setting can fuse it into the difference or sum that uses it
// (Clang tuned for some cores, Apple M1 among them, fuses a product into its
// sum even where it keeps the rounded product for other uses as well). Adds
// no instruction. On other machines -ffp-contract=off alone guards.
inline double KeepRounded(double dProduct)
{
#if defined(__GNUC__) && defined(__SSE2__)
    __asm__("" : "+x"(dProduct));
#elif defined(__GNUC__) && defined(__aarch64__)
    __asm__("" : "+w"(dProduct));
#elif defined(__GNUC__) && defined(__s390x__)
    __asm__("" : "+f"(dProduct));
#endif
    return dProduct;
}

// Two logistic steps; the constant multiplies first, each result rounded.
inline double Chaos(double dX)
{
    dX = KeepRounded((kChaos * dX) * (1.0 - dX));
    return KeepRounded((kChaos * dX) * (1.0 - dX));
}

// The two pushes, indexed by the plain bit. Whether a push folds can be told
// from the state before the sum: rounding is monotonic, so the sum exceeds
// 1.0 exactly when the state exceeds foldAbove. That takes the test off the
// state's dependency chain, and the fold becomes subtracting 1.0 or 0.0
// (the latter exact), with no branch to mispredict.
struct PushTable {
    double step[2];
    double foldAbove[2];  // largest state whose sum with step still rounds to at most 1.0
};

inline double FoldAbove(double dStep)
{
    double dX = 1.0 - dStep;
    while (dX + dStep > 1.0)
        dX = std::nextafter(dX, 0.0);
    while (std::nextafter(dX, 1.0) + dStep <= 1.0)
        dX = std::nextafter(dX, 1.0);
    return dX;
}

inline const PushTable &Pushes()
{
    static const PushTable table = {{kStepOff, kStepOn}, {FoldAbove(kStepOff), FoldAbove(kStepOn)}};
    return table;
}

// The state value as the byte loop carries it. With SSE2 it stays in a
// vector register whose upper half is never read, and every step is a
// scalar instruction on it: no moves, no shuffles, no branches on the chain.
// GCC keeps each of these intrinsics as its own instruction and never fuses
// them.
#if defined(__SSE2__)
using StateValue = __m128d;

inline StateValue ToState(double dX) { return _mm_set_sd(dX); }
inline double FromState(StateValue vX) { return _mm_cvtsd_f64(vX); }
inline int IsHigh(StateValue vX) { return _mm_comigt_sd(vX, _mm_set_sd(kHalf)); }

// All ones in the low half when vX exceeds vLimit.
inline __m128d Above(__m128d vX, __m128d vLimit) { return _mm_cmplt_sd(vLimit, vX); }

inline StateValue ChaosState(StateValue vX)
{
    const __m128d vChaos = _mm_set_sd(kChaos), vOne = _mm_set_sd(1.0);
    vX = _mm_mul_sd(_mm_mul_sd(vChaos, vX), _mm_sub_sd(vOne, vX));
    return _mm_mul_sd(_mm_mul_sd(vChaos, vX), _mm_sub_sd(vOne, vX));
}

// Modify(x, p) for x in 0.0 to 1.0: the sum, less the fold amount told from
// x itself.
inline StateValue PushFolded(__m128d vX, int bPlain, const PushTable &pushes)
{
    __m128d vSum = _mm_add_sd(vX, _mm_load_sd(&pushes.step[bPlain]));
    __m128d vFold = _mm_and_pd(Above(vX, _mm_load_sd(&pushes.foldAbove[bPlain])), _mm_set_sd(1.0));
    return _mm_sub_sd(vSum, vFold);
}

// One ENCRYPT step for the plain bit bPlain (0 or 1): Chaos(Modify(x, p)).
inline StateValue StepEncrypt(StateValue vX, int bPlain, const PushTable &pushes)
{
    return ChaosState(PushFolded(vX, bPlain, pushes));
}

// One DECRYPT step: the plain bit is bCipherKey (cipher bit XOR key bit),
// inverted when the state is high; it goes to *bPlain and picks the push.
// Both candidate pushes, each with its fold, are formed while the high test
// runs, and the test then picks one: as short a chain as the one push of
// ENCRYPT plus a select, and few enough values at once for the eight vector
// registers of 32-bit x86.
inline StateValue StepDecrypt(StateValue vX, int bCipherKey, const PushTable &pushes, int *bPlain)
{
    *bPlain = bCipherKey ^ IsHigh(vX);
    __m128d vLow = PushFolded(vX, bCipherKey, pushes);
    __m128d vHigh = PushFolded(vX, bCipherKey ^ 1, pushes);
    __m128d vIsHigh = Above(vX, _mm_set_sd(kHalf));
    return ChaosState(_mm_or_pd(_mm_and_pd(vIsHigh, vHigh), _mm_andnot_pd(vIsHigh, vLow)));
}
#else
using StateValue = double;

inline StateValue ToState(double dX) { return dX; }
inline double FromState(StateValue dX) { return dX; }
inline int IsHigh(StateValue dX) { return dX > kHalf; }

inline StateValue StepEncrypt(StateValue dX, int bPlain, const PushTable &pushes)
{
    return Chaos(Push(dX, pushes.step[bPlain]));
}

inline StateValue StepDecrypt(StateValue dX, int bCipherKey, const PushTable &pushes, int *bPlain)
{
    *bPlain = bCipherKey ^ IsHigh(dX);
    return Chaos(Push(dX, pushes.step[*bPlain]));
}
#endif

// Callbacks the compiler cannot see into (plain function pointers) clobber
// every vector register, so the state value must cross them in memory. Left
// to itself the compiler may store and reload it around each call, and each
// reload lengthens the state's chain; one slot saved once per byte, before
// the byte's group of calls, and loaded once after it, keeps that to one.
template <bool kOpaqueCalls>
struct CallCrossing {
    StateValue Save(StateValue vX) { return vX; }
    StateValue Restore(StateValue vX) { return vX; }
};

template <>
struct CallCrossing<true> {
    volatile double dSlot = 0.0;
    StateValue Save(StateValue vX)
    {
        dSlot = FromState(vX);
        return vX;
    }
    StateValue Restore(StateValue) { return ToState(dSlot); }
};

// What carries over from byte to byte: the state value, the key word and
// the key position.
struct ByteCore {
    StateValue vX;
    int iCurKey;
    int iKeyPos;
};

// How a byte's transform takes a key value: a call for each value (the
// callback forms), or the next byte of a key span (the span form).
template <class NextKeyFn>
struct KeyByCall {
    NextKeyFn &nextKey;
    int Next() { return nextKey(); }
};

struct KeyFromSpan {
    const unsigned char *pKey;
    bool bMinusOne;  // the values read as -1
    int Next()
    {
        int iValue = *pKey++;
        return bMinusOne ? -1 : iValue;
    }
};

// Transforms one byte in one mode and returns the output byte, taking a key
// value through `keys` when the key position wraps (once per byte at most:
// the position advances eight times at most). With opaque calls the crossing
// keeps the state in its slot while they run.
template <bool kEncrypt, class KeyAccess, class Crossing>
inline int TransformByte(ByteCore &core, int iCurChar, const PushTable &pushes,
                         KeyAccess &keys, Crossing &crossing)
{
    StateValue vX = core.vX;
    int iCurKey = core.iCurKey;
    int iKeyPos = core.iKeyPos;
    int iCharOut = 0;
    if (kEncrypt) {
        // The state's chain depends on the plain bits alone, and the key word
        // only reads its high tests: the byte's whole chain goes first, the
        // key word after it. A key wrap, which depends on those tests, is a
        // branch that mispredicts at random; following the chain, it resolves
        // before the chain needs what it discards. And a key value fetched
        // through a call then meets no state in a register. (One int per
        // bit: a packed mask of the tests would make every bit wait for the
        // last.)
        vX = crossing.Restore(vX);
        int bHigh[8];
#pragma GCC unroll 8
        for (int iX = 0; iX < 8; ++iX) {
            bHigh[iX] = IsHigh(vX);
            vX = StepEncrypt(vX, (iCurChar >> iX) & 1, pushes);
        }
        vX = crossing.Save(vX);
#pragma GCC unroll 8
        for (int iX = 0; iX < 8; ++iX) {
            int bPlain = (iCurChar >> iX) & 1;
            int bCipher = bPlain ^ ((iCurKey >> iKeyPos) & 1) ^ bHigh[iX];
            iCharOut |= bCipher << iX;
            // The key bit becomes p XOR k: flipped exactly when p is 1.
            iCurKey ^= bPlain << iKeyPos;
            iKeyPos += bCipher;
            if (iKeyPos == 8) {
                iKeyPos = 0;
                iCurKey ^= keys.Next();
            }
        }
    } else {
        // The key position advances on the received bits, so whether the
        // byte wraps it (at most once: it advances eight times at most) is
        // known before its first bit. The key value it then mixes in is
        // fetched here, at the same place in the order of callbacks, and the
        // wrap itself needs no branch.
        int iWrapValue = 0;
        if (iKeyPos + PopCount8(iCurChar) >= 8)
            iWrapValue = keys.Next();
        vX = crossing.Restore(vX);
#pragma GCC unroll 8
        for (int iX = 0; iX < 8; ++iX) {
            int bCipher = (iCurChar >> iX) & 1;
            int bPlain;
            vX = StepDecrypt(vX, bCipher ^ ((iCurKey >> iKeyPos) & 1), pushes, &bPlain);
            iCharOut |= bPlain << iX;
            iCurKey ^= bPlain << iKeyPos;
            iKeyPos += bCipher;
            iCurKey ^= iWrapValue & -(iKeyPos >> 3);
            iKeyPos &= 7;
        }
        vX = crossing.Save(vX);
    }
    core.vX = vX;
    core.iCurKey = iCurKey;
    core.iKeyPos = iKeyPos;
    return iCharOut;
}

// Progress after each byte: lCurrent counts the bytes, and Increment is due
// when it reaches lNext, which then moves on by lStep. Both wrap as 32-bit
// counters do.
struct Progress {
    int lCurrent;
    int lNext;
    int lStep;

    // Counts one byte; true when an Increment is due.
    bool Count()
    {
        lCurrent = WrapAdd(lCurrent, 1);
        if (lCurrent < lNext)
            return false;
        lNext = WrapAdd(lNext, lStep);
        return true;
    }

    // How many bytes can be counted before one may be due: up to the next
    // step, and never across the counter's wrap (at INT_MAX the next step is
    // never more than one byte away, so one byte at a time is counted there).
    long long Distance() const
    {
        if (static_cast<long long>(lNext) <= static_cast<long long>(lCurrent) + 1)
            return 1;
        return static_cast<long long>(lNext) - lCurrent;
    }

    // Counts n bytes, n at most Distance(); true when an Increment is due.
    bool CountMany(long long n)
    {
        if (n == 1)
            return Count();
        lCurrent = WrapAdd(lCurrent, static_cast<int>(n - 1));
        return Count();
    }
};

// The byte loop over callbacks, for one mode.
template <bool kEncrypt, bool kOpaqueCalls, class NextByteFn, class NextKeyFn, class OutputFn,
          class IncrementFn>
inline void RunBytes(int lDataSize, int lStep, ByteCore core, NextByteFn &nextByte,
                     NextKeyFn &nextKeyVal, OutputFn &outputChar, IncrementFn &increment)
{
    const PushTable &pushes = Pushes();
    CallCrossing<kOpaqueCalls> crossing;
    KeyByCall<NextKeyFn> keys{nextKeyVal};
    Progress progress{0, lStep, lStep};
    core.vX = crossing.Save(core.vX);
    for (;;) {
        int iCurChar = nextByte();
        if (iCurChar == -1)
            return;
        int iCharOut = TransformByte<kEncrypt>(core, iCurChar, pushes, keys, crossing);
        outputChar(iCharOut);
        if (lDataSize > 0 && progress.Count())
            increment();
    }
}

// One run of bytes over spans, with no call at all: out of line, so that the
// compiler keeps the state in a register here whatever the calls around it.
// Takes one key value at most per byte from *ppKey (values read as -1 when
// bMinusOne).
template <bool kEncrypt>
__attribute__((noinline)) void TransformRun(ByteCore &core, const unsigned char *pIn,
                                            unsigned char *pOut, long long lRun,
                                            const unsigned char **ppKey, bool bMinusOne)
{
    const PushTable &pushes = Pushes();
    CallCrossing<false> noCalls;
    ByteCore local = core;
    KeyFromSpan keys{*ppKey, bMinusOne};
    for (long long i = 0; i < lRun; ++i)
        pOut[i] = static_cast<unsigned char>(
            TransformByte<kEncrypt>(local, pIn[i], pushes, keys, noCalls));
    core = local;
    *ppKey = keys.pKey;
}

// The byte loop over spans, for one mode: runs of bytes, each as long as the
// input, the room, the key values (one per byte at most) and the distance to
// the next progress step allow.
template <bool kEncrypt, class TakeInputFn, class TakeKeysFn, class TakeRoomFn, class IncrementFn>
inline void RunSpans(int lDataSize, int lStep, ByteCore core, ByteSpan &input,
                     TakeInputFn &takeInput, KeySpan &keys, TakeKeysFn &takeKeys,
                     ByteRoom &output, TakeRoomFn &takeRoom, IncrementFn &increment)
{
    Progress progress{0, lStep, lStep};
    const unsigned char *pIn = input.pos, *pInEnd = input.end;
    const unsigned char *pKey = keys.pos, *pKeyEnd = keys.end;
    bool bMinusOne = keys.bMinusOne;
    unsigned char *pOut = output.pos, *pOutEnd = output.end;
    for (;;) {
        if (pIn == pInEnd) {
            input = takeInput();
            pIn = input.pos;
            pInEnd = input.end;
            if (pIn == pInEnd)
                break;
        }
        if (pOut == pOutEnd) {
            output = takeRoom(pOut);
            pOut = output.pos;
            pOutEnd = output.end;
        }
        long long lRun = pInEnd - pIn;
        if (pOutEnd - pOut < lRun)
            lRun = pOutEnd - pOut;
        if (pKey == pKeyEnd) {
            keys = takeKeys();
            pKey = keys.pos;
            pKeyEnd = keys.end;
            bMinusOne = keys.bMinusOne;
        }
        if (pKeyEnd - pKey < lRun)
            lRun = pKeyEnd - pKey;
        if (lDataSize > 0 && progress.Distance() < lRun)
            lRun = progress.Distance();
        TransformRun<kEncrypt>(core, pIn, pOut, lRun, &pKey, bMinusOne);
        pIn += lRun;
        pOut += lRun;
        if (lDataSize > 0 && progress.CountMany(lRun)) {
            input.pos = pIn;  // the cursors show where the run stands
            keys.pos = pKey;
            output.pos = pOut;
            increment();
        }
    }
    input.pos = pIn;
    keys.pos = pKey;
    output.pos = pOut;
}

} // namespace encode_detail

// Kept out of line: compiled on its own, the state's register is chosen for
// this loop alone and not for the byte loop's calls as well.
template <class NextKeyFn>
__attribute__((noinline)) double InitKeyWith(int lDataSize, NextKeyFn &&nextKey)
{
    using namespace encode_detail;
    double dX = kHalf;
    int iCount = lDataSize == 0 ? kEmptySizeIterations : lDataSize;
    if (iCount <= 0)
        return dX;
    // Each key value is asked for while the state passes through its integer
    // form iRounder: a callback then leaves the state in a register it keeps,
    // instead of the state crossing the call through memory.
    int iKeyVal = nextKey();
    for (;;) {
        // Exact (a small integer over a power of two): a compiler that fuses
        // it into the sum as a product gives the same sum.
        double dDeltaX = iKeyVal / kKeyDivisor;
        dX = dX + dDeltaX;
        int iRounder = TruncToInt(kRounderScale * dX);
        bool bLast = --iCount == 0;
        if (!bLast)
            iKeyVal = nextKey();
        double dRounder = iRounder / kRounderDivisor;
        dX = FoldRounder(iRounder, dRounder);
        if (bLast)
            return dX;
    }
}

template <class NextByteFn, class NextKeyFn, class OutputFn, class IncrementFn>
inline void EncodeBufferWith(int mMode, int lDataSize, float fIncrement,
                             NextByteFn &&nextByte, NextKeyFn &&nextKeyVal,
                             OutputFn &&outputChar, IncrementFn &&increment)
{
    using namespace encode_detail;
    int lStep = ProgressStep(fIncrement, lDataSize);
    double dX = InitKeyWith(lDataSize, nextKeyVal);
    int iCurKey = nextKeyVal();
    constexpr bool kOpaque = std::is_pointer<std::decay_t<NextByteFn>>::value;
    ByteCore core{ToState(dX), iCurKey, 0};
    if (mMode == ENCRYPT)
        RunBytes<true, kOpaque>(lDataSize, lStep, core, nextByte, nextKeyVal, outputChar, increment);
    else
        RunBytes<false, kOpaque>(lDataSize, lStep, core, nextByte, nextKeyVal, outputChar, increment);
}

template <class TakeInputFn, class TakeKeysFn, class TakeRoomFn, class IncrementFn>
inline void EncodeSpansWith(int mMode, int lDataSize, float fIncrement,
                            ByteSpan &input, TakeInputFn &&takeInput,
                            KeySpan &keys, TakeKeysFn &&takeKeys,
                            ByteRoom &output, TakeRoomFn &&takeRoom,
                            IncrementFn &&increment)
{
    using namespace encode_detail;
    int lStep = ProgressStep(fIncrement, lDataSize);
    // The key state takes its values one by one.
    auto nextKey = [&]() -> int {
        if (keys.pos == keys.end)
            keys = takeKeys();
        int iValue = *keys.pos++;
        return keys.bMinusOne ? -1 : iValue;
    };
    double dX = InitKeyWith(lDataSize, nextKey);
    int iCurKey = nextKey();
    ByteCore core{ToState(dX), iCurKey, 0};
    if (mMode == ENCRYPT)
        RunSpans<true>(lDataSize, lStep, core, input, takeInput, keys, takeKeys, output, takeRoom,
                       increment);
    else
        RunSpans<false>(lDataSize, lStep, core, input, takeInput, keys, takeKeys, output, takeRoom,
                        increment);
}
