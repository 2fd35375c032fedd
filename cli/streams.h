// What vantrel-cli reads and writes besides plain files: standard input and
// output ("-"), pipes, FIFOs and devices, told apart before anything is read,
// and private scratch copies that give a stream its true size.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fileid.h"

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The name that stands for standard input (INPUT, KEYFILE) or standard
// output (OUTPUT).
constexpr const char *STDIO_NAME = "-";

// The most a key that is not a regular file may hold: it is read whole into
// memory once and kept for the whole command.
constexpr std::size_t STREAM_KEY_LIMIT = std::size_t(64) << 20;

enum SourceRole {
    SOURCE_INPUT,  // devices and sockets refused
    SOURCE_KEY,    // sockets and terminals refused; devices read like pipes
};

enum SourceResult {
    SOURCE_OK,
    SOURCE_BAD,          // missing, or of a kind that is refused: *reason says which (or is empty)
    SOURCE_CANNOT_OPEN,  // the system refused to open it: *reason
};

struct Source {
    FileHandle stream;
    bool regular = false;         // a regular file, measured and read where it is
    unsigned permissions = 0600;  // a regular file's permission bits; 0600 for a stream
    bool awaitingWriter = false;  // POSIX: a FIFO that no writer has opened yet
};

// Opens `path` (STDIO_NAME for standard input) for reading in `role`, never
// blocking: its kind is known before anything is read. A regular file is
// read where it is; anything else is a stream, read once (see CopyToScratch,
// ReadWholeKey).
SourceResult OpenSource(const std::string &path, SourceRole role, Source *source,
                        std::string *reason);

// The identity of what `path` (or standard input) reads, when it is a
// stream that only one reader can drain (pipe, FIFO, socket, device); false
// for a regular file or when it cannot be asked.
bool StreamIdOf(const std::string &path, FileId *id);

enum StreamResult {
    STREAM_OK,
    STREAM_NO_WRITER,    // a FIFO that no program opened for writing in time
    STREAM_READ_FAILED,  // with the system's reason
    STREAM_COPY_FAILED,  // the scratch copy could not be written (*reason names the folder)
    STREAM_TOO_LONG,     // a key past STREAM_KEY_LIMIT
};

// Copies a stream whole into a private scratch file (owner-only, without a
// name where the system allows, and gone once closed on every system) and
// makes that the source: a regular file of the stream's true size.
StreamResult CopyToScratch(Source *source, std::string *reason);

// Reads a stream whole into *bytes, at most STREAM_KEY_LIMIT bytes.
StreamResult ReadWholeKey(Source *source, std::vector<unsigned char> *bytes, std::string *reason);

// Standard output, switched to binary, for writing an output into.
std::FILE *StandardOutput();

// Whether standard output is a terminal (a console on Windows).
bool StdoutIsTerminal();

// The identity of standard output when it is a regular file; false otherwise.
bool StandardOutputFileId(FileId *id);

// Why an existing `path` can never be an output: a device, FIFO or socket
// (or a link to one); empty when it can.
std::string OutputKindRefusal(const std::string &path);

// The reason for a failed write in `folder` with error number `error`: a
// full disk says so on every system.
std::string WriteFailureReason(const std::string &folder, int error);
