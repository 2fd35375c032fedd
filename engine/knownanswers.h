// Known-answer vectors of the cipher engine, as data, and the routine that
// checks a build against them. The engine tests and `vantrel-cli selftest`
// walk the same table.
#pragma once

#include <cstddef>
#include <cstdint>

struct KnownNormalize {
    double dIn;
    std::uint64_t out;  // binary64 bits of Normalize(dIn)
};

struct KnownModify {
    double dIn;
    int bBit;
    std::uint64_t out;  // binary64 bits of Modify(dIn, bBit)
};

// InitKey over a key source that returns iKeyValue on every call.
struct KnownInitKey {
    int iKeyValue;
    int lDataSize;
    std::uint64_t out;   // binary64 bits of the result
    long nextKeyCalls;
};

// One whole EncodeBuffer run with the progress fraction 0.01f.
struct KnownRun {
    const char *name;
    int mMode;
    const unsigned char *input;
    std::size_t inputLength;
    const unsigned char *key;  // read cyclically
    std::size_t keyLength;     // 0: the empty key file, -1 on every call
    int lDataSize;
    const unsigned char *output;  // the whole output, or its first bytes (at most 256) when hasCrc
    std::size_t outputLength;
    bool hasCrc;
    std::uint32_t crc;            // CRC-32 (ISO-HDLC) of the whole output
    long nextKeyCalls;            // -1: not stated by the example
    long incrementCalls;
};

struct KnownAnswers {
    const KnownNormalize *normalize;
    std::size_t normalizeCount;
    const KnownModify *modify;
    std::size_t modifyCount;
    const KnownInitKey *initKey;
    std::size_t initKeyCount;
    const KnownRun *runs;
    std::size_t runCount;
};

// The cipher's worked examples.
extern const KnownAnswers kKnownAnswers;

// Called once per vector checked: what names it ("Normalize #3", or a run's
// name and entry), and whether this build gave the expected answer.
using KnownAnswerReport = void (*)(void *context, const char *what, bool passed);

// Checks every vector of `table` against this build's engine; each run
// vector goes through both EncodeBuffer and EncodeBufferWith. `report` may
// be null. Returns the number of failed checks (0: conformant). Not
// re-entrant: the plain entry's callbacks are bare functions over module
// state, so call it from one thread at a time.
int CheckKnownAnswers(const KnownAnswers &table, KnownAnswerReport report, void *context);
