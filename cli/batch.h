// The files of one vantrel-cli command, each run from its input to its
// output through the shared run, several at once.
#pragma once

#include <string>
#include <vector>

struct BatchJob {
    std::string input;
    std::string output;   // empty when `refusal` says why there is none
    std::string refusal;  // a reason given before the run, reported as it stands
};

struct BatchOptions {
    int mMode;            // ENCRYPT or DECRYPT
    std::string keyPath;
    bool force;           // replace existing outputs
    bool quiet;           // no progress line
    int jobs;             // files at once, at least 1
};

// Checks the key file once ("Bad key file", "Cannot open key file", a
// warning for an empty one); returns false when no file can be done.
bool CheckKeyFile(const std::string &keyPath);

// Runs every job, up to options.jobs at once, each output written under a
// temporary name and renamed into place when complete. Every failure is
// reported on stderr, prefixed with the file it concerns; the other files
// are still done. Returns the number of files that failed.
int RunBatch(const BatchOptions &options, const std::vector<BatchJob> &jobs);
