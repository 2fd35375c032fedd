// The key stream of a run: the key file's bytes 0, 1, ..., k-1, 0, 1, ...
// from its first byte for as long as the engine asks, or -1 on every call
// for an empty key file; the same values as closing and reopening the file
// by name at its end, while the file stays unchanged, without paying a
// reopen per cycle. A key file of up to `inMemoryLimit` bytes is held in
// memory; a larger one is streamed and sought back to its first byte at its
// end. One object per run: runs on several threads share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "bytestream.h"

constexpr std::size_t KEY_IN_MEMORY_LIMIT = std::size_t(1) << 20;

class KeySource {
public:
    KeySource() = default;
    KeySource(const KeySource &) = delete;
    KeySource &operator=(const KeySource &) = delete;

    // Takes the key from `file`, a stream opened "rb" and not yet read. The
    // stream stays the caller's, who closes it after the run: a key file held
    // in memory is read whole here and its stream is not used again; a
    // streamed one is read through `file` for the whole run. Returns false
    // when the key cannot be read (read error, no memory): Failed() is then
    // set and Next() gives -1.
    bool Start(std::FILE *file, std::size_t inMemoryLimit = KEY_IN_MEMORY_LIMIT);

    // Takes the key from `bytes`, all `length` bytes of it, read once by the
    // caller (a key that cannot be read twice, such as a pipe). The bytes stay
    // the caller's and must outlive the run; runs on several threads may share
    // them. Returns false when no memory could be had (Failed() is then set).
    bool StartFromBytes(const unsigned char *bytes, std::size_t length);

    // The next key value, 0 to 255; -1 for an empty key file, and -1 forever
    // once the key failed.
    int Next() { return pos_ != end_ ? *pos_++ : Wrap(); }

    // The key values from here to the end of the buffer, handed out whole;
    // never empty: where Next() would give -1, a span of values that read as
    // -1 (bMinusOne). Asking again means the last span was used up. A span's
    // values count as read once the next one is asked for, or up to `pos`
    // when PutBack(pos) ends the caller's reading.
    KeySpan TakeChunk();
    void PutBack(const unsigned char *pos);

    // The streamed key could not be read again: a read or seek error, or a
    // cycle whose length differs from the file's (it changed during the
    // run). The values from then on are -1 and belong to no key.
    bool Failed() const { return failed_; }

    // Key values handed out so far.
    std::int64_t ValuesRead() const { return handedOut_ + (pos_ - begin_); }

    // `hook` is called with `context` each time the buffer is refilled or
    // starts over (every 64 KiB to 1 MiB of key values), for progress.
    void SetRefillHook(void (*hook)(void *), void *context)
    {
        hook_ = hook;
        hookContext_ = context;
    }

private:
    bool UseWholeKey(const unsigned char *bytes, std::size_t length);
    int Wrap();
    bool Advance();
    int Fail();

    const unsigned char *pos_ = nullptr;
    const unsigned char *end_ = nullptr;
    const unsigned char *begin_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t capacity_ = 0;
    std::FILE *file_ = nullptr;     // streamed key only
    bool streamed_ = false;
    bool failed_ = false;
    bool spanOut_ = false;          // a span is with the caller
    bool noKeySpan_ = false;        // ... and it stands for -1 values
    std::int64_t handedOut_ = 0;    // values before the current buffer
    std::int64_t cycleLength_ = -1; // streamed key: the file's length, once known
    std::int64_t cycleRead_ = 0;    // streamed key: bytes read in this cycle
    void (*hook_)(void *) = nullptr;
    void *hookContext_ = nullptr;
};
