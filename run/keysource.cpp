// The cyclic key stream; the per-value path is inline in the header.
#include "keysource.h"

#include <cstring>
#include <new>

#include "bytestream.h"

// A small key is repeated in memory up to at least this many values, so
// that a short key does not wrap on every call.
constexpr std::size_t kMinimumSpan = std::size_t(64) << 10;

// Reads from `file` until its end or until `most` bytes are in, into a
// buffer that starts at the file's size when known and grows as needed.
// Returns false on a read error or when no memory could be had; *whole says
// whether the end of the file was seen.
static bool ReadUpTo(std::FILE *file, std::size_t most, std::int64_t sizeHint,
                     std::unique_ptr<unsigned char[]> *bytes, std::size_t *length, bool *whole)
{
    std::size_t capacity = most;
    if (sizeHint >= 0 && static_cast<std::uint64_t>(sizeHint) < most)
        capacity = static_cast<std::size_t>(sizeHint) + 1;  // +1 sees a file that grew
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[capacity]);
    if (!buffer)
        return false;
    std::size_t filled = 0;
    *whole = false;
    for (;;) {
        std::size_t got = std::fread(buffer.get() + filled, 1, capacity - filled, file);
        filled += got;
        if (got == 0) {
            if (std::ferror(file))
                return false;
            *whole = true;
            break;
        }
        if (filled < capacity)
            continue;
        if (capacity == most)
            break;
        std::size_t larger = capacity * 2 < most ? capacity * 2 : most;
        std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[larger]);
        if (!grown)
            return false;
        std::memcpy(grown.get(), buffer.get(), filled);
        buffer = std::move(grown);
        capacity = larger;
    }
    *bytes = std::move(buffer);
    *length = filled;
    return true;
}

bool KeySource::Start(std::FILE *file, std::size_t inMemoryLimit)
{
    std::int64_t fileSize;
    bool sized = StreamFileSize(file, &fileSize);
    // One byte more than the limit tells a key that fits from one to stream.
    std::unique_ptr<unsigned char[]> first;
    std::size_t length = 0;
    bool whole = false;
    if (!ReadUpTo(file, inMemoryLimit + 1, sized ? fileSize : -1, &first, &length, &whole)) {
        Fail();
        return false;
    }

    if (whole)
        return UseWholeKey(first.get(), length);

    // A large key: the bytes read so far are the first buffer, later ones
    // are read in chunks through the caller's stream.
    streamed_ = true;
    file_ = file;
    buffer_ = std::move(first);
    capacity_ = length;
    begin_ = pos_ = buffer_.get();
    end_ = begin_ + length;
    cycleRead_ = static_cast<std::int64_t>(length);
    cycleLength_ = sized ? fileSize : -1;
    return true;
}

bool KeySource::StartFromBytes(const unsigned char *bytes, std::size_t length)
{
    if (length >= kMinimumSpan) {
        // Long enough to cycle over as it stands: no copy.
        begin_ = pos_ = bytes;
        end_ = begin_ + length;
        return true;
    }
    return UseWholeKey(bytes, length);
}

// A whole key in memory, repeated up to the minimum span in a buffer of its
// own; the empty key leaves everything null (-1 on every call).
bool KeySource::UseWholeKey(const unsigned char *bytes, std::size_t length)
{
    if (length == 0)
        return true;
    std::size_t copies = (kMinimumSpan + length - 1) / length;
    std::unique_ptr<unsigned char[]> cycle(new (std::nothrow) unsigned char[copies * length]);
    if (!cycle) {
        Fail();
        return false;
    }
    for (std::size_t i = 0; i < copies; ++i)
        std::memcpy(cycle.get() + i * length, bytes, length);
    buffer_ = std::move(cycle);
    capacity_ = copies * length;
    begin_ = pos_ = buffer_.get();
    end_ = begin_ + capacity_;
    return true;
}

int KeySource::Fail()
{
    failed_ = true;
    handedOut_ += pos_ - begin_;
    begin_ = pos_ = end_ = nullptr;
    return -1;
}

// Starts the buffer over (or reads the streamed key's next chunk); false
// for the empty key file and once the key failed.
bool KeySource::Advance()
{
    if (failed_)
        return false;
    if (begin_ == nullptr) {
        // The empty key file. Progress hears of it now and then.
        if ((++handedOut_ & 0xFFFF) == 0 && hook_)
            hook_(hookContext_);
        return false;
    }
    handedOut_ += end_ - begin_;
    pos_ = begin_;
    if (streamed_) {
        std::size_t got = std::fread(buffer_.get(), 1, capacity_, file_);
        if (got == 0) {
            if (std::ferror(file_))
                return Fail(), false;
            // The end of the key file: the cycle must have kept its length,
            // or the file changed under the run.
            if (cycleRead_ == 0 || (cycleLength_ >= 0 && cycleRead_ != cycleLength_))
                return Fail(), false;
            cycleLength_ = cycleRead_;
            cycleRead_ = 0;
            if (std::fseek(file_, 0, SEEK_SET) != 0)
                return Fail(), false;
            got = std::fread(buffer_.get(), 1, capacity_, file_);
            if (got == 0)
                return Fail(), false;
        }
        cycleRead_ += static_cast<std::int64_t>(got);
        end_ = begin_ + got;
    }
    if (hook_)
        hook_(hookContext_);
    return true;
}

int KeySource::Wrap()
{
    return Advance() ? *pos_++ : -1;
}

// Stands for the -1 values of an empty or failed key; its bytes are never
// used as key values.
static const unsigned char kNoKey[STREAM_CHUNK] = {};

KeySpan KeySource::TakeChunk()
{
    if (spanOut_) {
        // The caller used the last span up.
        if (noKeySpan_)
            handedOut_ += static_cast<std::int64_t>(sizeof kNoKey);
        else
            pos_ = end_;
    }
    spanOut_ = true;
    noKeySpan_ = begin_ == nullptr || (pos_ == end_ && !Advance());
    if (noKeySpan_) {
        // The empty key file, or the key failed. Progress hears of it too.
        if (hook_)
            hook_(hookContext_);
        return KeySpan{kNoKey, kNoKey + sizeof kNoKey, true};
    }
    return KeySpan{pos_, end_, false};
}

void KeySource::PutBack(const unsigned char *pos)
{
    if (spanOut_) {
        if (noKeySpan_)
            handedOut_ += pos - kNoKey;
        else
            pos_ = pos;
    }
    spanOut_ = false;
}
