// The cipher engine: a keyed byte-stream transform driven by one binary64
// state value. Portable C++, no platform headers, no allocation.
//
// Every floating-point step is one binary64 operation rounded to nearest, in
// the written order: a wider intermediate or a fused multiply-add changes the
// output within a few bytes. The build refuses the settings it can see (x87
// arithmetic, -ffast-math); contraction it cannot see, so besides
// -ffp-contract=off the engine keeps it out itself (see KeepRounded).
#pragma once

#include <cfloat>

#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "The cipher engine needs doubles evaluated as binary64 (FLT_EVAL_METHOD 0): on i686 build with -msse2 -mfpmath=sse."
#endif
#if defined(__FAST_MATH__)
#error "The cipher engine must not be built with -ffast-math: it reorders and contracts the state arithmetic."
#endif
// No contraction in the rest of every file that includes this, for the
// compilers that honour the standard pragma: Clang does (short of
// -ffp-contract=fast); GCC ignores it.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

constexpr int ENCRYPT = 0;
constexpr int DECRYPT = 1;

constexpr int OFF = 0;
constexpr int ON = 1;

// Folds dX into 0.0 to 1.0 by adding 1.0 while it is negative, then
// subtracting 1.0 while it exceeds 1.0, each step rounded. Meant for the
// values the engine produces (about -0.04 to 20); it does not end for
// infinities.
double Normalize(double dX);

// Returns Normalize(dX + 0.33333333) for bBit 0, Normalize(dX + 0.66666666)
// for any other bBit.
double Modify(double dX, int bBit);

// Derives the starting state value from the key stream: NextKey is called
// lDataSize times when it is positive, 1000 times when it is 0, never when it
// is negative (the result is then 0.5). Key values are -1 to 255.
double InitKey(int lDataSize, int (*NextKey)());

// Transforms one bit in mode mMode: reads bSrc, reads and rewrites *bKey,
// writes *bDst, and moves *dX on by one push and two chaotic steps.
void TransformBits(int mMode, int bSrc, int *bKey, int *bDst, double *dX);

// Runs the whole transform: seeds the state from lDataSize key values, then
// turns every byte from NextByte (until it returns -1) into one byte for
// OutputChar, pulling further key values as the cipher-text asks for them and
// calling Increment about once per fIncrement of lDataSize bytes. The key
// source must never run dry. Reports nothing; cannot fail.
void EncodeBuffer(int mMode, int lDataSize, float fIncrement,
                  int (*NextByte)(), int (*NextKeyVal)(),
                  void (*OutputChar)(int), void (*Increment)());

// The same transforms over callables that carry their own context, so that
// runs on several threads stay apart and the callbacks inline. Same call
// order, same bytes, same callback counts as InitKey and EncodeBuffer.
template <class NextKeyFn>
double InitKeyWith(int lDataSize, NextKeyFn &&nextKey);

template <class NextByteFn, class NextKeyFn, class OutputFn, class IncrementFn>
void EncodeBufferWith(int mMode, int lDataSize, float fIncrement,
                      NextByteFn &&nextByte, NextKeyFn &&nextKeyVal,
                      OutputFn &&outputChar, IncrementFn &&increment);

// Bytes handed over a run at a time, read from pos to end.
struct ByteSpan {
    const unsigned char *pos;
    const unsigned char *end;
};

// Room for bytes, written from pos to end.
struct ByteRoom {
    unsigned char *pos;
    unsigned char *end;
};

// Key values handed over a run at a time: the bytes from pos to end, or,
// when bMinusOne is set, one value -1 for each of them (the empty key file,
// or a key that can no longer be read).
struct KeySpan {
    const unsigned char *pos;
    const unsigned char *end;
    bool bMinusOne;
};

// The same transform for callers that hold their data in buffers: the engine
// reads input and key values and writes output through the cursors `input`,
// `keys` and `output`, with no call at all in its byte loop, and calls the
// owner only when one runs out:
//   takeInput()        the next input span; an empty one ends the input;
//   takeKeys()         the next key span (never empty);
//   takeRoom(upTo)     takes the bytes written up to upTo (the full room) and
//                      hands out fresh room (never empty);
//   increment()        as Increment, after the same bytes; the cursors then
//                      show where the run stands.
// On return the cursors show where reading and writing stopped: the output
// bytes up to output.pos are not yet taken. Same bytes, same number of key
// values and Increment calls as EncodeBufferWith over the same streams.
template <class TakeInputFn, class TakeKeysFn, class TakeRoomFn, class IncrementFn>
void EncodeSpansWith(int mMode, int lDataSize, float fIncrement,
                     ByteSpan &input, TakeInputFn &&takeInput,
                     KeySpan &keys, TakeKeysFn &&takeKeys,
                     ByteRoom &output, TakeRoomFn &&takeRoom,
                     IncrementFn &&increment);

#include "encode_inline.h"
