// Path facts and names of vantrel-cli: what a path names, and the default
// output names.
#pragma once

#include <string>

#include "sysfile.h"

enum PathKind {
    PATH_MISSING,  // nothing by that name (a dangling link counts as missing)
    PATH_FILE,     // anything that is not a folder
    PATH_FOLDER,
};

// What `path` names, following links.
PathKind PathKindOf(const std::string &path);

// The size of the file `path` names; false when it cannot be asked.
bool FileSizeOfPath(const std::string &path, long long *size);

// Whether anything, even a dangling link, holds the name `path`.
bool PathTaken(const std::string &path);

// `name` inside `folder`.
std::string JoinPath(const std::string &folder, const std::string &name);

// The extension of encrypted files.
constexpr const char *VTL_EXTENSION = ".vtl";

// Whether `path` ends in ".vtl" (any case) after a non-empty name.
bool HasVtlExtension(const std::string &path);

// The default output of encrypting `input` (INPUT.vtl) or decrypting it
// (INPUT without its .vtl, which it must have).
std::string DefaultOutputName(const std::string &input, bool decrypt);

// Two output names that differ only in case reach the same file here.
bool NamesFoldCase();
