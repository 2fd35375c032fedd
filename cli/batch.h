// The files of one vantrel-cli command, each run from its input to its
// output through the shared run, several at once.
#pragma once

#include <string>
#include <vector>

struct BatchJob {
    std::string input;    // "-" for standard input
    std::string output;   // "-" for standard output; empty when `refusal` says why there is none
    std::string refusal;  // a reason given before the run, reported as it stands
};

struct BatchOptions {
    int mMode;            // ENCRYPT or DECRYPT
    std::string keyPath;  // "-" for standard input
    bool force;           // replace existing outputs
    bool quiet;           // no progress line
    int jobs;             // files at once, at least 1
};

// Checks the key file once ("Bad key file", "Cannot open key file", a
// warning for an empty one); returns false when no file can be done. A key
// that is not a regular file (a pipe, standard input, a device) is read here,
// whole, into memory and kept for every file of the batch.
bool CheckKeyFile(const std::string &keyPath);

// Runs every job, up to options.jobs at once, each output written to a
// temporary file and put in place when complete (standard output is
// written as the run goes). An input that is not a regular file is first
// copied whole to a scratch file, so that its size is known. Every failure is
// reported on stderr, prefixed with the file it concerns; the other files
// are still done. Returns the number of files that failed.
int RunBatch(const BatchOptions &options, const std::vector<BatchJob> &jobs);
