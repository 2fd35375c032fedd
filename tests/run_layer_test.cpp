// The file layer both tools share, over real files: the key stream, read and write
// errors, the size rule. Its bytes and file identity are shown through vantrel-cli
// and Algorithm (cli_test).
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "bytestream.h"
#include "file_support.h"
#include "filerun.h"
#include "keysource.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

FileHandle Open(const std::string &path, const char *mode)
{
    FileHandle file(std::fopen(path.c_str(), mode), std::fclose);
    EXPECT_NE(nullptr, file.get()) << path;
    return file;
}

// The Windows program's key stream: at the end of the file, close it, open it again by
// name and read its first byte; -1 when the reopened file is empty.
int NextReopening(FileHandle &file, const std::string &path)
{
    int value = std::fgetc(file.get());
    if (value == EOF) {
        file = Open(path, "rb");
        value = std::fgetc(file.get());
    }
    return value == EOF ? -1 : value;
}

// A stream whose every read fails: one opened only for writing. (Windows' C library
// takes reading such a stream for its end: there, a write-only file as a reading one.)
FileHandle Unreadable(const std::string &path)
{
#ifdef _WIN32
    return FileHandle(_fdopen(_open(path.c_str(), _O_WRONLY | _O_BINARY), "rb"), std::fclose);
#else
    return Open(path, "ab");
#endif
}

} // namespace

TEST(KeySource, CyclesLikeReopeningTheFileByName)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    // Held in memory, and over the limit streamed from the file.
    const std::size_t lengths[] = {0, 1, 2, 7, KEY_IN_MEMORY_LIMIT + 37};
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        std::string path = folder.Path("key" + std::to_string(length));
        WriteFileBytes(path, RandomBytes(rng, length));
        FileHandle file = Open(path, "rb"), reference = Open(path, "rb");
        KeySource source;
        ASSERT_TRUE(source.Start(file.get()));
        long count = static_cast<long>(3 * length + 1000), same = 0;
        while (same < count && source.Next() == NextReopening(reference, path))
            ++same;
        EXPECT_EQ(count, same) << "key value " << same << " differs";
        EXPECT_FALSE(source.Failed());
    }
}

TEST(TransformStreams, ReportsReadAndWriteErrors)
{
    TempFolder folder;
    const std::string in = folder.Path("in"), key = folder.Path("key"), out = folder.Path("out");
    const int size = 4 * STREAM_CHUNK;
    WriteFileBytes(in, Bytes(size, 7));
    WriteFileBytes(key, {1, 2, 3});
    std::int64_t inputRead = 0;
    auto noteInput = [](void *read, std::int64_t, std::int64_t bytes) { *static_cast<std::int64_t *>(read) = bytes; };
    RunHooks hooks{nullptr, noteInput, &inputRead};
    auto run = [&](FileHandle input, FileHandle keyFile, FileHandle output) {
        return TransformStreams(ENCRYPT, size, input.get(), keyFile.get(), output.get(), hooks);
    };
    EXPECT_EQ(RUN_CANNOT_READ_INPUT, run(Unreadable(in), Open(key, "rb"), Open(out, "wb")));
    EXPECT_EQ(RUN_CANNOT_OPEN_KEY, run(Open(in, "rb"), Unreadable(key), Open(out, "wb")));
    EXPECT_TRUE(ReadFileBytes(out).empty());
    // An output opened for reading fails every write: the run stops there,
    // not at the end of the input.
    EXPECT_EQ(RUN_CANNOT_WRITE_OUTPUT, run(Open(in, "rb"), Open(key, "rb"), Open(key, "rb")));
    EXPECT_LT(inputRead, size);
    EXPECT_EQ(RUN_OK, run(Open(in, "rb"), Open(key, "rb"), Open(out, "wb")));
}

TEST(EngineDataSize, LowThirtyTwoBitsAsSigned)
{
    const struct { std::int64_t size; int expected; } table[] = {
        {0, 0}, {5, 5}, {2147483647, INT_MAX}, {2147483648LL, INT_MIN},
        {4294967295LL, -1}, {4294967296LL, 0}, {4294967296LL + 5, 5}, {6442450944LL + 7, INT_MIN + 7},
    };
    for (const auto &row : table)
        EXPECT_EQ(row.expected, EngineDataSize(row.size)) << row.size;
    // The size as the runs read it from a file: all 64 bits (a sparse file
    // keeps this instant).
    TempFolder folder;
    const std::int64_t size = 4294967296LL + 5;
    WriteFileBytes(folder.Path("sparse"), {});
    std::error_code error;
    fs::resize_file(folder.Path("sparse"), static_cast<std::uintmax_t>(size), error);
    if (error)
        GTEST_SKIP() << "this file system holds no sparse file of " << size << " bytes";
    std::int64_t got = 0;
    EXPECT_TRUE(StreamFileSize(Open(folder.Path("sparse"), "rb").get(), &got));
    EXPECT_EQ(size, got);
}
