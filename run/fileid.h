// File identity: whether two names reach the same file, however they are
// spelled (relative or absolute, other case, short 8.3 names, symbolic or
// hard links). POSIX compares device and inode, Windows the volume serial
// number and the file index.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct FileId {
    std::uint64_t volume;
    std::uint64_t index;
};

enum FileIdResult {
    FILEID_FOUND,    // *id holds the file's identity
    FILEID_MISSING,  // no file by that name (a file not yet created)
    FILEID_UNKNOWN,  // it may exist but cannot be asked
};

// The identity of the file (or folder) that `path` (UTF-8) names.
FileIdResult FileIdOfPath(const std::string &path, FileId *id);

// The identity of the file behind an open stream; false when it cannot be
// asked.
bool FileIdOfStream(std::FILE *stream, FileId *id);

bool SameFile(const FileId &a, const FileId &b);

// Whether `output` names the same existing file as `input` or `key` (all
// UTF-8). An output that does not exist yet, or cannot be asked, names
// neither.
bool OutputNamesInputOrKey(const std::string &output, const std::string &input,
                           const std::string &key);
