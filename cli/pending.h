// Outputs written under a temporary name in their destination folder and
// renamed into place only when complete, so that a failure or an interrupt
// leaves no partial file and an existing output untouched.
#pragma once

#include <cstdio>
#include <string>

// Makes an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl+C, Ctrl+Break
// and closing the console on Windows) remove every pending output and end
// the process as the interrupt would have. Call once, before any thread
// starts.
void InstallInterruptCleanup();

// `notice` is called on an interrupt, after the pending outputs are gone and
// just before the process ends; null for none. It may only write to stderr.
void SetInterruptNotice(void (*notice)());

struct PendingOutput {
    std::string finalPath;
    std::string tempPath;
    std::FILE *stream = nullptr;  // open "wb" while pending
};

// Creates a new, empty temporary file in the folder of `finalPath`, open for
// writing, and registers it for removal on interrupt. On failure returns
// false with the system's reason in *reason.
bool CreatePendingOutput(const std::string &finalPath, PendingOutput *pending,
                         std::string *reason);

enum CommitResult {
    COMMIT_DONE,
    COMMIT_EXISTS,  // the final name exists and `replace` was false
    COMMIT_FAILED,  // with the reason in *reason
};

// Puts the stream's data on disk, closes it and renames the temporary file
// to the final name, replacing an existing file only when `replace`. The
// rename is atomic: the final name holds the old file or the whole new one.
// On any failure the temporary file is removed.
CommitResult CommitPendingOutput(PendingOutput *pending, bool replace, std::string *reason);

// Closes the stream and removes the temporary file.
void DiscardPendingOutput(PendingOutput *pending);

// The system's text for an error number (errno).
std::string SystemErrorText(int error);
