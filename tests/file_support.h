// Files for the tests of the runs: a temporary folder that removes itself,
// whole files written and read, and the bytes both tools must give.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        do
            path_ = fs::temp_directory_path() / ("vantrel-test-" + std::to_string(std::random_device{}()));
        while (!fs::create_directory(path_));
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

    // The names in the folder (or its subfolder `sub`), sorted.
    std::vector<std::string> Names(const std::string &sub = std::string()) const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(path_ / sub))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

// The sizes of the runs' temporary files (".vantrel-...") in `folder`.
inline std::vector<std::uintmax_t> TemporaryFiles(const fs::path &folder)
{
    std::vector<std::uintmax_t> sizes;
    std::error_code gone;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".vantrel-", 0) == 0)
            sizes.push_back(entry.file_size(gone));
    }
    return sizes;
}

// Names are UTF-8 on every system, as the programs take them.
inline void WriteFileBytes(const std::string &path, const Bytes &bytes)
{
    std::ofstream file(fs::u8path(path), std::ios::binary);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    ASSERT_TRUE(file) << "cannot write " << path;
}

inline Bytes ReadFileBytes(const std::string &path)
{
    std::ifstream file(fs::u8path(path), std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "cannot open " << path;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The output the cipher gives for `input` and `key` when the engine is
// handed the size as both tools hand it: the low 32 bits as a signed int.
inline Bytes ReferenceOutput(int mode, const Bytes &input, const Bytes &key)
{
    int size = static_cast<int>(static_cast<std::uint32_t>(input.size()));
    return RunWith(mode, input, key, size).output;
}
