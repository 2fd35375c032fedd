// One run of the cipher engine from an input stream to an output stream
// with a key stream: the single path from files to engine that the Windows
// run and vantrel-cli share. The caller opens and closes the streams and
// turns the result into its own message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum RunStatus {
    RUN_OK,
    RUN_CANNOT_READ_INPUT,    // a read error ended the input early
    RUN_CANNOT_WRITE_OUTPUT,  // a write or the final flush failed
    RUN_CANNOT_OPEN_KEY,      // the key could not be read, or not read again
    RUN_INPUT_CHANGED,        // the input is not the size the key state was
                              // seeded for, or it changed during the run
};

// What the caller hears of a run while it works; every member may be null.
struct RunHooks {
    // The engine's Increment, passed on call for call: about once per
    // hundredth of lDataSize (every byte for sizes up to 200).
    void (*increment)(void *context);
    // Now and then (every 64 KiB of input, and of key values while the
    // engine derives its key state): key values and input bytes used so far.
    void (*advance)(void *context, std::int64_t keyValues, std::int64_t inputBytes);
    void *context;
};

// The size the engine is given for an input of `size` bytes: its low 32 bits
// taken as a signed int, as the Windows run reads GetFileSize's low part.
// Files move between the tools only when both pass this same value.
int EngineDataSize(std::int64_t size);

// Runs the engine once in mode mMode (ENCRYPT or DECRYPT) with lDataSize:
// bytes from `input` (opened "rb"), the key cycled from `key` (opened "rb",
// not yet read; see KeySource), output to `output` (opened "wb"), which is
// flushed at the end. The streams stay open and the caller's. A failure
// stops the run within one input chunk; the output then holds a part and
// must be thrown away. When several fail, the status names the first of:
// key, input read, output, input changed.
//
// The output is only good for the input as it was measured: a plain file
// whose size does not give lDataSize (EngineDataSize), whose bytes read
// differ from that size, or whose size or last-write time changed during
// the run, gives RUN_INPUT_CHANGED (a file that grows stops being read one
// chunk past its size). For another kind of input (a pipe) the bytes read
// must give lDataSize. Memory is constant in the input size; runs on several
// threads share nothing.
RunStatus TransformStreams(int mMode, int lDataSize, std::FILE *input, std::FILE *key,
                           std::FILE *output, const RunHooks &hooks);

// The same run with a key read once into memory by the caller: `key` holds
// all `keyLength` bytes of it (see KeySource::StartFromBytes) and is only
// read, so several runs may share it.
RunStatus TransformStreamsWithKeyBytes(int mMode, int lDataSize, std::FILE *input,
                                       const unsigned char *key, std::size_t keyLength,
                                       std::FILE *output, const RunHooks &hooks);
