// Outputs written under a temporary name in their destination folder and put
// in place only when complete, so that a failure, an interrupt or a crash
// leaves no partial file and an existing output untouched. Names are UTF-8
// (see sysfile.h). Safe to use from several threads.
#pragma once

#include <cstdio>
#include <string>

struct PendingOutput {
    std::string finalPath;
    std::string tempPath;         // empty while the file has no name (POSIX)
    std::FILE *stream = nullptr;  // open "wb" while pending
    int folder = -1;              // POSIX: the output's folder, open while pending
    unsigned permissions = 0600;  // POSIX: the bits the output gets when put in place
};

// Creates a new, empty temporary file in the folder of `finalPath`, open for
// writing, and registers it for AbandonPendingOutputs. On Linux, where the
// file system allows, the file has no name at all until it is put in place
// (so that even a kill leaves nothing); elsewhere it has a short name of its
// own beside the output. On Windows it is marked for deletion until then, so
// that the system removes it however the process ends (killed, crashed). On
// POSIX it is readable by its owner only until then. On failure returns
// false with the system's reason in *reason.
bool CreatePendingOutput(const std::string &finalPath, PendingOutput *pending,
                         std::string *reason);

// POSIX: the permission bits (of 0777) the output gets when it is put in
// place, never more than a file it replaces had. Nothing on Windows.
void SetPendingPermissions(PendingOutput *pending, unsigned permissions);

enum CommitResult {
    COMMIT_DONE,
    COMMIT_EXISTS,  // the final name exists and `replace` was false
    COMMIT_FAILED,  // with the reason in *reason
};

// Puts the stream's data on disk, closes it and renames the temporary file
// to the final name, replacing an existing file only when `replace`, and
// never anything that is not a regular file (or a link to one). The rename
// is atomic: the final name holds the old file or the whole new one. On any
// failure the temporary file is removed.
CommitResult CommitPendingOutput(PendingOutput *pending, bool replace, std::string *reason);

// Closes the stream and removes the temporary file.
void DiscardPendingOutput(PendingOutput *pending);

#ifdef _WIN32
// For the fault handler: removes the temporary file of every pending output
// still being written, without taking a lock or allocating memory, so that
// it is safe on a thread of its own while the faulting thread is stopped
// anywhere. Their streams are left broken: the process must end next. (A
// commit's last moment, between closing the file and putting it in place,
// is not covered.)
void RemovePendingOutputsAfterFault();

// Whether a commit that replaces could put an output at `finalPath` as
// things stand, asked before the work starts: true when nothing has that
// name in an existing folder, or when the file there opens for writing and
// deletion with others' sharing respected (not read-only, not a folder or a
// device, not held open by someone who shares neither). Changes nothing; on
// false gives the system's reason in *reason.
bool CanReplaceOutput(const std::string &finalPath, std::string *reason);
#endif

// For a process about to end (an interrupt): removes every registered
// temporary file and keeps any from being created or put in place from now
// on; the calling thread must not hold pending outputs of its own in the
// middle of a create or commit. Never returns the lock it takes.
void AbandonPendingOutputs();

// The system's text for an error number (errno).
std::string SystemErrorText(int error);
