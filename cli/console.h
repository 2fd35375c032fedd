// What vantrel-cli says on stderr: one line per message, prefixed with the
// file it concerns, and a progress line while stderr is a terminal. Safe to
// call from any thread.
#pragma once

#include <cstdint>
#include <string>

// Prints "PATH: TEXT" on its own line (above the progress line, if shown).
// Texts are UTF-8; a Windows console shows them through its wide interface,
// so that every name reads as it is.
void ConsoleMessage(const std::string &path, const std::string &text);

// Prints `lines` (UTF-8, each ending in a newline) as they stand.
void ConsoleLines(const std::string &lines);

// Whether stderr is a terminal (a console on Windows).
bool StderrIsTerminal();

// Starts the progress line for `files` files of `totalBytes` bytes in all,
// `totalWork` units of work (see ProgressWork); shows nothing unless `show`.
void ProgressStart(bool show, const char *verb, int files, std::int64_t totalBytes,
                   std::int64_t totalWork);

// Adds finished work and input bytes; redraws the line at most a few times
// a second.
void ProgressAdd(std::int64_t work, std::int64_t bytes, bool fileDone);

// Draws the final line and ends it.
void ProgressFinish();

// The work units of a run that has used `keyValues` key values and
// `inputBytes` input bytes, of which `seedValues` key values go to the key
// state before the first byte. A seeding key value costs about a ninth of
// an input byte: nine units for a byte, one for a seeding value.
std::int64_t ProgressWork(std::int64_t keyValues, std::int64_t inputBytes,
                          std::int64_t seedValues);

// The progress line for the given state, without control characters: input
// bytes done, percent and time left from the work done (which counts the
// key state too), and the rate of input bytes over the time so far.
std::string FormatProgress(const char *verb, int filesDone, int files, std::int64_t bytes,
                           std::int64_t totalBytes, std::int64_t work, std::int64_t totalWork,
                           double seconds);
