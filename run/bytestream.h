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

constexpr std::size_t STREAM_CHUNK = std::size_t(64) << 10;

// Reads a stream opened "rb" (not owned, not closed).
class ByteReader {
public:
    explicit ByteReader(std::FILE *file);
    ByteReader(const ByteReader &) = delete;
    ByteReader &operator=(const ByteReader &) = delete;

    // The next byte, 0 to 255, or -1 at the end of the input, after a read
    // error, or once the refill gate said stop; -1 again on every later call.
    int Next() { return pos_ != end_ ? *pos_++ : Refill(); }

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
    int Refill();

    const unsigned char *pos_ = nullptr;
    const unsigned char *end_ = nullptr;
    const unsigned char *begin_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    std::FILE *file_;
    bool ended_ = false;
    bool failed_ = false;
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

// Flushes the stream and asks the system to put its file on disk. Returns
// false when either fails.
bool SyncStreamToDisk(std::FILE *stream);
