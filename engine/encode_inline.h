// Inline body of the cipher engine's context form; included by encode.h only.
#pragma once

#include <climits>

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
// above -1 and takes one rounded addition.
inline double FoldRounder(int iRounder, double dRounder)
{
    if (iRounder < 0)
        return dRounder + 1.0;
    int iWhole = iRounder / 10000;
    if (iRounder % 10000 == 0)
        iWhole -= 1;  // 2.0 folds to 1.0, not 0.0
    if (iWhole <= 0)
        return dRounder;
    return dRounder - static_cast<double>(iWhole);
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

// Two logistic steps; the constant multiplies first, each result rounded.
inline double Chaos(double dX)
{
    dX = (kChaos * dX) * (1.0 - dX);
    return (kChaos * dX) * (1.0 - dX);
}

// The byte loop for one mode, so that the mode tests leave the bit loop.
template <bool kEncrypt, class NextByteFn, class NextKeyFn, class OutputFn, class IncrementFn>
inline void RunBytes(int lDataSize, int lStep, double dX, int iCurKey,
                     NextByteFn &nextByte, NextKeyFn &nextKeyVal,
                     OutputFn &outputChar, IncrementFn &increment)
{
    int iKeyPos = 0;
    int lCurrent = 0;
    int lNext = lStep;
    for (;;) {
        int iCurChar = nextByte();
        if (iCurChar == -1)
            return;
        int iCharOut = 0;
        for (int iX = 0; iX < 8; ++iX) {
            int bIn = (iCurChar >> iX) & 1;
            int bKey = (iCurKey >> iKeyPos) & 1;
            int bHigh = dX > kHalf;
            // p is the plain bit, c the cipher-text bit; both modes write
            // p XOR k back as key bit and push the state by p.
            int bPlain = kEncrypt ? bIn : (bIn ^ bHigh ^ bKey);
            int bCipher = kEncrypt ? (bIn ^ bKey ^ bHigh) : bIn;
            int bOut = kEncrypt ? bCipher : bPlain;
            dX = Chaos(Push(dX, bPlain ? kStepOn : kStepOff));
            iCharOut |= bOut << iX;
            iCurKey = (iCurKey & ~(1 << iKeyPos)) | ((bPlain ^ bKey) << iKeyPos);
            if (bCipher && ++iKeyPos == 8) {
                iKeyPos = 0;
                iCurKey ^= nextKeyVal();
            }
        }
        outputChar(iCharOut);
        if (lDataSize > 0) {
            lCurrent = WrapAdd(lCurrent, 1);
            if (lCurrent >= lNext) {
                lNext = WrapAdd(lNext, lStep);
                increment();
            }
        }
    }
}

} // namespace encode_detail

template <class NextKeyFn>
inline double InitKeyWith(int lDataSize, NextKeyFn &&nextKey)
{
    using namespace encode_detail;
    double dX = kHalf;
    int iCount = lDataSize == 0 ? kEmptySizeIterations : lDataSize;
    while (iCount > 0) {
        --iCount;
        int iKeyVal = nextKey();
        double dDeltaX = iKeyVal / kKeyDivisor;
        dX = dX + dDeltaX;
        int iRounder = TruncToInt(kRounderScale * dX);
        double dRounder = iRounder / kRounderDivisor;
        dX = FoldRounder(iRounder, dRounder);
    }
    return dX;
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
    if (mMode == ENCRYPT)
        RunBytes<true>(lDataSize, lStep, dX, iCurKey, nextByte, nextKeyVal, outputChar, increment);
    else
        RunBytes<false>(lDataSize, lStep, dX, iCurKey, nextByte, nextKeyVal, outputChar, increment);
}
