// Buffered byte streams of a run; the per-byte paths are inline in the
// header, the chunk transfers here.
#include "bytestream.h"

#include <new>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

// --- reading ---

ByteReader::ByteReader(std::FILE *file)
    : buffer_(new (std::nothrow) unsigned char[STREAM_CHUNK]), file_(file)
{
    begin_ = pos_ = end_ = buffer_.get();
    if (!buffer_) {
        failed_ = true;
        ended_ = true;
    }
}

bool ByteReader::Load()
{
    if (ended_)
        return false;
    handedOut_ += end_ - begin_;
    pos_ = end_ = begin_;
    if (gate_ && !gate_(gateContext_)) {
        ended_ = true;
        return false;
    }
    std::size_t got = std::fread(buffer_.get(), 1, STREAM_CHUNK, file_);
    if (got == 0) {
        // A read error ends the input as the end of the file does, but is kept.
        failed_ = std::ferror(file_) != 0;
        ended_ = true;
        return false;
    }
    end_ = begin_ + got;
    return true;
}

ByteSpan ByteReader::TakeChunk()
{
    if (spanOut_)
        pos_ = end_;
    spanOut_ = false;
    if (pos_ == end_ && !Load())
        return ByteSpan{pos_, pos_};
    spanOut_ = true;
    return ByteSpan{pos_, end_};
}

// --- writing ---

ByteWriter::ByteWriter(std::FILE *file)
    : buffer_(new (std::nothrow) unsigned char[STREAM_CHUNK]), file_(file)
{
    if (buffer_) {
        begin_ = pos_ = buffer_.get();
        end_ = begin_ + STREAM_CHUNK;
    } else {
        failed_ = true;
        begin_ = pos_ = spare_;
        end_ = spare_ + sizeof spare_;
    }
}

void ByteWriter::Drain()
{
    if (!failed_) {
        std::size_t length = static_cast<std::size_t>(pos_ - begin_);
        if (std::fwrite(begin_, 1, length, file_) != length) {
            failed_ = true;
            begin_ = spare_;
            end_ = spare_ + sizeof spare_;
        }
    }
    pos_ = begin_;
}

ByteRoom ByteWriter::Commit(unsigned char *upTo)
{
    pos_ = upTo;
    if (pos_ == end_)
        Drain();
    return ByteRoom{pos_, end_};
}

bool ByteWriter::Flush()
{
    if (pos_ != begin_)
        Drain();
    if (!failed_ && (std::fflush(file_) != 0 || std::ferror(file_)))
        failed_ = true;
    return !failed_;
}

// --- file facts ---

bool StreamFileStamp(std::FILE *stream, FileStamp *stamp)
{
#ifdef _WIN32
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp->size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                            info.nFileSizeLow);
    stamp->writeTime = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
    return true;
#else
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    stamp->size = static_cast<std::int64_t>(info.st_size);
    stamp->writeTime = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                       info.st_mtim.tv_nsec;
    return true;
#endif
}

bool StreamFileSize(std::FILE *stream, std::int64_t *size)
{
    FileStamp stamp;
    if (!StreamFileStamp(stream, &stamp))
        return false;
    *size = stamp.size;
    return true;
}

bool SyncStreamToDisk(std::FILE *stream)
{
    if (std::fflush(stream) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(stream)) == 0;
#else
    return fsync(fileno(stream)) == 0;
#endif
}
