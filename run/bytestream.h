// Buffered byte streams of a run over standard-library FILE streams: the
// engine takes and gives one byte at a time, the file sees chunked fread and
// fwrite, and every read, write and flush error is kept for the run to
// report. One object per stream and run: runs on several threads share
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "encode.h"

constexpr std::size_t STREAM_CHUNK = std::size_t(64) << 10;

// Spans (ByteSpan, ByteRoom) hand bytes out whole, for a caller that reads
// or writes them on its own: its cursor then stays in a register on the
// per-byte path, and the object is called only when the span runs out.

// Reads a stream opened "rb" (not owned, not closed).
class ByteReader {
public:
    explicit ByteReader(std::FILE *file);
    ByteReader(const ByteReader &) = delete;
    ByteReader &operator=(const ByteReader &) = delete;

    // The next byte, 0 to 255, or -1 at the end of the input, after a read
    // error, or once the refill gate said stop; -1 again on every later call.
    int Next() { return pos_ != end_ ? *pos_++ : (Load() ? *pos_++ : -1); }

    // The rest of the current chunk, or the next one; an empty span where
    // Next() would give -1. Asking again means the last span was used up.
    // A span's bytes count as read once the next one is asked for, or up to
    // `pos` when PutBack(pos) ends the caller's reading.
    ByteSpan TakeChunk();
    void PutBack(const unsigned char *pos)
    {
        if (spanOut_)
            pos_ = pos;
        spanOut_ = false;
    }

    // A read error ended the input (or no buffer could be had).
    bool Failed() const { return failed_; }

    // Bytes handed out so far.
    std::int64_t BytesRead() const { return handedOut_ + (pos_ - begin_); }

    // `gate` is called with `context` before each chunk is read; when it
    // returns false the input ends there, as at the end of the file.
    void SetRefillGate(bool (*gate)(void *), void *context)
    {
        gate_ = gate;
        gateContext_ = context;
    }

private:
    // Reads the next chunk; false at the end of the input (and after).
    bool Load();

    const unsigned char *pos_ = nullptr;
    const unsigned char *end_ = nullptr;
    const unsigned char *begin_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    std::FILE *file_;
    bool ended_ = false;
    bool failed_ = false;
    bool spanOut_ = false;  // a span is with the caller
    std::int64_t handedOut_ = 0;
    bool (*gate_)(void *) = nullptr;
    void *gateContext_ = nullptr;
};

// Writes a stream opened "wb" (not owned, not closed).
class ByteWriter {
public:
    explicit ByteWriter(std::FILE *file);
    ByteWriter(const ByteWriter &) = delete;
    ByteWriter &operator=(const ByteWriter &) = delete;

    // Queues the low 8 bits of `byte`. After a failed write further bytes
    // are dropped.
    void Put(int byte)
    {
        if (pos_ == end_)
            Drain();
        *pos_++ = static_cast<unsigned char>(byte);
    }

    // Room for the caller's own cursor; Commit(upTo) takes back the bytes
    // written up to upTo and, when the room is full, writes them out and
    // hands out fresh room (after a failure, room whose bytes are dropped).
    // The last Commit before Flush() passes the final cursor.
    ByteRoom TakeRoom() { return ByteRoom{pos_, end_}; }
    ByteRoom Commit(unsigned char *upTo);

    // Writes everything queued and flushes the stream. Returns false when
    // any write or the flush failed (then Failed() is set). Closing the
    // stream stays the caller's, who must check that as well.
    bool Flush();

    bool Failed() const { return failed_; }

private:
    void Drain();

    unsigned char *pos_;
    unsigned char *end_;
    unsigned char *begin_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::FILE *file_;
    bool failed_ = false;
    unsigned char spare_[16];  // takes dropped bytes after a failure
};

// The size in bytes of the file behind an open stream. Returns false when
// the stream is not a plain file on disk (a pipe, a device) or cannot be
// asked.
bool StreamFileSize(std::FILE *stream, std::int64_t *size);

// What tells one state of a plain file from another: its size and the time
// of its last write (in the system's own units).
struct FileStamp {
    std::int64_t size;
    std::int64_t writeTime;
};

inline bool operator==(const FileStamp &a, const FileStamp &b)
{
    return a.size == b.size && a.writeTime == b.writeTime;
}

// The stamp of the plain file behind an open stream; false as for
// StreamFileSize.
bool StreamFileStamp(std::FILE *stream, FileStamp *stamp);

// Flushes the stream and asks the system to put its file on disk. Returns
// false when either fails.
bool SyncStreamToDisk(std::FILE *stream);
