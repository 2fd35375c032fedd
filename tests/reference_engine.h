// The cipher's rules written out straight, with no shortcut: the reference
// that the engine's fast loop is compared with. Slow on purpose.
#pragma once

#include <functional>

namespace reference {

inline double Normalize(double x)
{
    while (x < 0.0)
        x = x + 1.0;
    while (x > 1.0)
        x = x - 1.0;
    return x;
}

inline double Modify(double x, int bit)
{
    return Normalize(bit == 0 ? x + 0.33333333 : x + 0.66666666);
}

inline double InitKey(int size, const std::function<int()> &nextKey)
{
    double x = 0.5;
    int count = size == 0 ? 1000 : size;
    while (count > 0) {
        --count;
        int keyValue = nextKey();
        double delta = keyValue / 256.0;
        x = x + delta;
        int rounder = static_cast<int>(100000.0 * x);
        double scaled = rounder / 10000.0;
        x = Normalize(scaled);
    }
    return x;
}

inline void TransformBits(int mode, int src, int *key, int *dst, double *x)
{
    bool high = *x > 0.5;
    if (mode == 1 && high)
        src = src ? 0 : 1;
    *dst = src ^ *key;
    if (mode == 0)
        *key = *dst;
    else
        *key = *key ^ *dst;
    if (mode == 0 && high)
        *dst = *dst ? 0 : 1;
    *x = Modify(*x, mode == 0 ? src : *dst);
    for (int i = 0; i < 2; ++i) {
        double scaled = 3.56999999 * *x;
        double rest = 1.0 - *x;
        *x = scaled * rest;
    }
}

inline void EncodeBuffer(int mode, int size, float fraction,
                         const std::function<int()> &nextByte,
                         const std::function<int()> &nextKey,
                         const std::function<void(int)> &output,
                         const std::function<void()> &increment)
{
    long long current = 0;  // counters kept wide, then seen as 32 bits
    int step = size > 0 ? static_cast<int>(static_cast<double>(fraction) * size) : 0;
    long long next = step;
    int keyPos = 0;
    double x = InitKey(size, nextKey);
    int curKey = nextKey();
    for (;;) {
        int curChar = nextByte();
        if (curChar == -1)
            return;
        int charOut = 0;
        for (int bitIndex = 0; bitIndex < 8; ++bitIndex) {
            int src = (curChar >> bitIndex) & 1;
            int key = (curKey >> keyPos) & 1;
            int dst = 0;
            TransformBits(mode, src, &key, &dst, &x);
            if (dst)
                charOut |= 1 << bitIndex;
            curKey &= ~(1 << keyPos);
            if (key)
                curKey |= 1 << keyPos;
            int cipherBit = mode == 0 ? dst : src;
            if (cipherBit) {
                keyPos += 1;
                if (keyPos == 8) {
                    keyPos = 0;
                    curKey ^= nextKey();
                }
            }
        }
        output(charOut);
        if (size > 0) {
            current = static_cast<int>(static_cast<unsigned>(current + 1));
            if (current >= next) {
                next = static_cast<int>(static_cast<unsigned>(next + step));
                increment();
            }
        }
    }
}

} // namespace reference
