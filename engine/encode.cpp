// The cipher engine's plain entry points. The byte loop itself lives in
// encode_inline.h so that the context form can inline its callbacks.
#include "encode.h"

using namespace encode_detail;

double Normalize(double dX)
{
    while (dX < 0.0)
        dX = dX + 1.0;
    while (dX > 1.0)
        dX = dX - 1.0;
    return dX;
}

double Modify(double dX, int bBit)
{
    if (bBit == OFF)
        dX = dX + kStepOff;
    else
        dX = dX + kStepOn;
    return Normalize(dX);
}

double InitKey(int lDataSize, int (*NextKey)())
{
    return InitKeyWith(lDataSize, NextKey);
}

void TransformBits(int mMode, int bSrc, int *bKey, int *bDst, double *dX)
{
    // Both tests of "high" see the state value on entry.
    bool bHigh = *dX > kHalf;
    if (mMode != ENCRYPT && bHigh)
        bSrc = !bSrc;
    *bDst = bSrc ^ *bKey;
    if (mMode == ENCRYPT)
        *bKey = *bDst;
    else
        *bKey = *bKey ^ *bDst;
    if (mMode == ENCRYPT && bHigh)
        *bDst = !*bDst;
    *dX = Modify(*dX, mMode == ENCRYPT ? bSrc : *bDst);
    *dX = Chaos(*dX);
}

void EncodeBuffer(int mMode, int lDataSize, float fIncrement,
                  int (*NextByte)(), int (*NextKeyVal)(),
                  void (*OutputChar)(int), void (*Increment)())
{
    EncodeBufferWith(mMode, lDataSize, fIncrement, NextByte, NextKeyVal, OutputChar, Increment);
}
