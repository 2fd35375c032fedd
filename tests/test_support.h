// Shared helpers of the tests: the printed, settable seed, CRC-32, key
// sources and a recorder of one engine run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "encode.h"

using Bytes = std::vector<std::uint8_t>;

// Seed of the property tests: VANTREL_TEST_SEED when set, else fresh each run.
// Printed once, so that a failure can be replayed.
inline std::uint64_t TestSeed()
{
    static const std::uint64_t seed = [] {
        const char *text = std::getenv("VANTREL_TEST_SEED");
        std::uint64_t value = text ? std::strtoull(text, nullptr, 0)
                                   : (std::uint64_t(std::random_device{}()) << 32) ^ std::random_device{}();
        std::printf("[  SEED    ] VANTREL_TEST_SEED=%llu\n", static_cast<unsigned long long>(value));
        return value;
    }();
    return seed;
}

inline Bytes RandomBytes(std::mt19937_64 &rng, std::size_t length)
{
    Bytes bytes(length);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// Standard CRC-32 (ISO-HDLC: reflected, polynomial 0x04C11DB7).
inline std::uint32_t Crc32(const Bytes &bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline std::uint64_t BitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A key file's bytes read cyclically; an empty key gives -1 on every call,
// as the run's key source does for an empty key file.
struct CyclicKey {
    Bytes bytes;
    std::size_t pos = 0;
    long calls = 0;

    int operator()()
    {
        ++calls;
        if (bytes.empty())
            return -1;
        int value = bytes[pos];
        pos = (pos + 1) % bytes.size();
        return value;
    }
};

// Everything one engine run shows through its callbacks.
struct RunRecord {
    Bytes output;
    long nextByteCalls = 0;
    long nextKeyCalls = 0;
    long incrementCalls = 0;
    std::vector<std::size_t> incrementAfter;  // output bytes before each Increment
};

// Runs the context form over input with the cyclic key.
inline RunRecord RunWith(int mode, const Bytes &input, const Bytes &key, int dataSize,
                         float increment = 0.01f)
{
    RunRecord record;
    CyclicKey keySource{key};
    std::size_t pos = 0;
    EncodeBufferWith(
        mode, dataSize, increment,
        [&] { ++record.nextByteCalls; return pos < input.size() ? int(input[pos++]) : -1; }, keySource,
        [&](int byte) { record.output.push_back(static_cast<std::uint8_t>(byte)); },
        [&] { ++record.incrementCalls; record.incrementAfter.push_back(record.output.size()); });
    record.nextKeyCalls = keySource.calls;
    return record;
}

// Runs the plain entry EncodeBuffer, whose callbacks are bare functions.
RunRecord RunPlain(int mode, const Bytes &input, const Bytes &key, int dataSize,
                   float increment = 0.01f);
