// Runs a program of this build as a child process and measures it: wall
// time and peak resident memory. For the whole-run figures of the benchmark.
#pragma once

#include <string>
#include <vector>

struct ChildRun {
    bool ok = false;             // started, and exited with status 0
    double seconds = 0.0;        // wall time from start to exit
    double peakMiB = 0.0;        // peak resident set (working set on Windows)
};

// Runs `program` with `args` (no shell), stdout and stderr discarded, and
// waits for it.
ChildRun RunChild(const std::string &program, const std::vector<std::string> &args);

// The folder of the running benchmark program, where vantrel-cli lands too.
std::string ProgramFolder();

// A fresh, empty temporary folder; RemoveTree deletes it with its files.
std::string MakeTempFolder();
void RemoveTree(const std::string &folder);

// Makes `path` a file of `size` bytes that reads as zeros without taking
// the room (sparse where the file system allows).
bool MakeZeroFile(const std::string &path, long long size);
