// Files for the tests of the runs: a temporary folder that removes itself,
// whole-file reading and writing, and the key stream as the Windows program
// reads it (closing and reopening the key file by name at its end).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

inline unsigned long TestProcessId()
{
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        static std::atomic<int> serial{0};
        path_ = fs::temp_directory_path() /
                ("vantrel-test-" + std::to_string(TestProcessId()) + "-" + std::to_string(serial++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    std::string Path() const { return path_.string(); }
    std::string Path(const std::string &name) const { return (path_ / name).string(); }

    // The names in the folder, sorted.
    std::vector<std::string> Names(const std::string &sub = std::string()) const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(sub.empty() ? path_ : path_ / sub))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

inline void WriteFileBytes(const std::string &path, const Bytes &bytes)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), file));
    }
    ASSERT_EQ(0, std::fclose(file));
}

inline Bytes ReadFileBytes(const std::string &path)
{
    Bytes bytes;
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    unsigned char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

// The Windows program's key stream: one byte at a time; at the end of the
// file close it, open it again by name and read its first byte; -1 when the
// reopened file is empty.
class ReopeningKey {
public:
    explicit ReopeningKey(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {}
    ~ReopeningKey()
    {
        if (file_)
            std::fclose(file_);
    }
    int operator()()
    {
        int value = std::fgetc(file_);
        if (value == EOF) {
            std::fclose(file_);
            file_ = std::fopen(path_.c_str(), "rb");
            value = std::fgetc(file_);
        }
        return value == EOF ? -1 : value;
    }

private:
    std::string path_;
    std::FILE *file_;
};

// The output the cipher gives for `input` and `key` when the engine is
// handed the size as both tools hand it: the low 32 bits as a signed int.
inline Bytes ReferenceOutput(int mode, const Bytes &input, const Bytes &key)
{
    int size = static_cast<int>(static_cast<std::uint32_t>(input.size()));
    return RunWith(mode, input, key, size).output;
}
