// The shared file layer of the runs, over real files in a temporary folder:
// the key stream against the Windows program's way of reading it, buffered
// streams and their error reporting, the run over streams against the
// engine, the size rule, and file identity.
#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "bytestream.h"
#include "file_support.h"
#include "fileid.h"
#include "filerun.h"
#include "keysource.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle Open(const std::string &path, const char *mode)
{
    FileHandle file(std::fopen(path.c_str(), mode));
    EXPECT_NE(nullptr, file.get()) << path;
    return file;
}

// Values of a started key source next to the Windows program's key stream:
// the first cycles against reopening the file by name at each end, the rest
// (while the file stays unchanged) against its bytes cycled, which is what
// the reopening gives then, without paying a reopen per value.
void ExpectSameKeyStream(KeySource &source, const std::string &keyPath, long count)
{
    ReopeningKey reference(keyPath);
    Bytes bytes = ReadFileBytes(keyPath);
    long reopened = static_cast<long>(3 * bytes.size() + 20);
    for (long i = 0; i < count; ++i) {
        int expected = i < reopened ? reference()
                       : bytes.empty() ? -1
                                       : bytes[static_cast<std::size_t>(i) % bytes.size()];
        int got = source.Next();
        if (expected != got) {
            ADD_FAILURE() << "key value " << i << ": expected " << expected << ", got " << got;
            return;
        }
    }
    EXPECT_FALSE(source.Failed());
}

struct RunOutcome {
    RunStatus status;
    Bytes output;
    long increments = 0;
    std::int64_t lastKeyValues = 0;
    std::int64_t lastInputBytes = 0;
    bool advanceMonotone = true;
};

void CountIncrement(void *context) { ++static_cast<RunOutcome *>(context)->increments; }

void RecordAdvance(void *context, std::int64_t keyValues, std::int64_t inputBytes)
{
    RunOutcome &outcome = *static_cast<RunOutcome *>(context);
    if (keyValues < outcome.lastKeyValues || inputBytes < outcome.lastInputBytes)
        outcome.advanceMonotone = false;
    outcome.lastKeyValues = keyValues;
    outcome.lastInputBytes = inputBytes;
}

// TransformStreams over files, the output read back.
RunOutcome RunFiles(int mode, const std::string &in, const std::string &key, const std::string &out)
{
    RunOutcome outcome;
    FileHandle input = Open(in, "rb"), keyFile = Open(key, "rb"), output = Open(out, "wb");
    std::int64_t size = 0;
    EXPECT_TRUE(StreamFileSize(input.get(), &size));
    RunHooks hooks{CountIncrement, RecordAdvance, &outcome};
    outcome.status = TransformStreams(mode, EngineDataSize(size), input.get(), keyFile.get(),
                                      output.get(), hooks);
    output.reset();
    outcome.output = ReadFileBytes(out);
    return outcome;
}

// A stream that opens for reading but whose every read fails: on Windows a
// handle opened for writing only, given to the C library as a reading
// stream; on POSIX a folder, which opens but holds no bytes to read.
FileHandle Unreadable(const std::string &folderPath)
{
#ifdef _WIN32
    std::string path = folderPath + "\\unreadable";
    WriteFileBytes(path, Bytes(1000, 7));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY);
    FileHandle stream(descriptor == -1 ? nullptr : _fdopen(descriptor, "rb"));
    EXPECT_NE(nullptr, stream.get());
    return stream;
#else
    return Open(folderPath, "rb");
#endif
}

} // namespace

// --- the key stream ---

TEST(KeySource, CyclesLikeReopeningTheFileByName)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    // {key length, in-memory limit}: held in memory, exactly at the limit,
    // one byte over it (streamed), and streamed across several chunks.
    const struct { std::size_t length; std::size_t limit; } cases[] = {
        {0, KEY_IN_MEMORY_LIMIT}, {1, KEY_IN_MEMORY_LIMIT}, {2, KEY_IN_MEMORY_LIMIT},
        {7, KEY_IN_MEMORY_LIMIT}, {4096, KEY_IN_MEMORY_LIMIT},
        {64, 64}, {65, 64}, {300, 64}, {1, 0}, {7, 3},
        {KEY_IN_MEMORY_LIMIT, KEY_IN_MEMORY_LIMIT},
        {KEY_IN_MEMORY_LIMIT + 37, KEY_IN_MEMORY_LIMIT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.length << " limit " << c.limit);
        std::string path = folder.Path("key" + std::to_string(c.length) + "-" + std::to_string(c.limit));
        WriteFileBytes(path, RandomBytes(rng, c.length));
        FileHandle file = Open(path, "rb");
        KeySource source;
        ASSERT_TRUE(source.Start(file.get(), c.limit));
        long count = static_cast<long>(3 * c.length + 70000);
        ExpectSameKeyStream(source, path, count);
        EXPECT_EQ(count, source.ValuesRead());
    }
}

TEST(KeySource, HeldKeyNoLongerNeedsItsFile)
{
    TempFolder folder;
    std::string path = folder.Path("key");
    WriteFileBytes(path, {1, 2, 3});
    KeySource source;
    {
        FileHandle file = Open(path, "rb");
        ASSERT_TRUE(source.Start(file.get()));
    }
    fs::remove(path);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(i % 3 + 1, source.Next());
    EXPECT_FALSE(source.Failed());
}

TEST(KeySource, StreamedKeyThatChangesDuringTheRunFails)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    // Emptied, shortened and lengthened after the first values were taken:
    // each is found at the end of the cycle, and the values stay -1 after.
    const std::size_t newLengths[] = {0, 150, 500};
    for (std::size_t newLength : newLengths) {
        SCOPED_TRACE(newLength);
        std::string path = folder.Path("key" + std::to_string(newLength));
        WriteFileBytes(path, RandomBytes(rng, 300));
        FileHandle file = Open(path, "rb");
        KeySource source;
        ASSERT_TRUE(source.Start(file.get(), 64));
        for (int i = 0; i < 100; ++i)
            source.Next();
        fs::resize_file(path, newLength);
        long failedAt = -1;
        for (long i = 0; i < 5000; ++i) {
            int value = source.Next();
            if (source.Failed() && failedAt < 0)
                failedAt = i;
            if (failedAt >= 0) {
                ASSERT_EQ(-1, value) << "value " << i;
            }
        }
        EXPECT_TRUE(source.Failed());
        EXPECT_GE(failedAt, 0);
        EXPECT_LE(failedAt, 600);  // within the cycle under way
    }
}

TEST(KeySource, UnreadableKeyFailsAtStart)
{
    TempFolder folder;
    FileHandle file = Unreadable(folder.Path());
    KeySource source;
    EXPECT_FALSE(source.Start(file.get()));
    EXPECT_TRUE(source.Failed());
    EXPECT_EQ(-1, source.Next());
    EXPECT_EQ(-1, source.Next());
}

// --- buffered streams ---

TEST(ByteStreams, CopyEveryByteAcrossChunkBorders)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    const std::size_t lengths[] = {0, 1, STREAM_CHUNK - 1, STREAM_CHUNK, STREAM_CHUNK + 1,
                                   3 * STREAM_CHUNK + 5};
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        Bytes data = RandomBytes(rng, length);
        WriteFileBytes(folder.Path("in"), data);
        FileHandle in = Open(folder.Path("in"), "rb"), out = Open(folder.Path("out"), "wb");
        ByteReader reader(in.get());
        ByteWriter writer(out.get());
        int byte;
        while ((byte = reader.Next()) != -1)
            writer.Put(byte);
        EXPECT_EQ(-1, reader.Next());
        EXPECT_FALSE(reader.Failed());
        EXPECT_EQ(static_cast<std::int64_t>(length), reader.BytesRead());
        EXPECT_TRUE(writer.Flush());
        out.reset();
        EXPECT_EQ(data, ReadFileBytes(folder.Path("out")));
    }
}

TEST(ByteStreams, RefillGateEndsTheInput)
{
    TempFolder folder;
    WriteFileBytes(folder.Path("in"), Bytes(3 * STREAM_CHUNK, 9));
    FileHandle in = Open(folder.Path("in"), "rb");
    ByteReader reader(in.get());
    int chunks = 0;
    reader.SetRefillGate([](void *context) { return ++*static_cast<int *>(context) <= 2; }, &chunks);
    std::int64_t count = 0;
    while (reader.Next() != -1)
        ++count;
    EXPECT_EQ(static_cast<std::int64_t>(2 * STREAM_CHUNK), count);
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(-1, reader.Next());
}

TEST(ByteStreams, ReadErrorIsKept)
{
    TempFolder folder;
    std::vector<FileHandle> streams;
    streams.push_back(Unreadable(folder.Path()));
#ifdef __linux__
    // A plain file whose reads fail: address 0 of our memory is never mapped.
    streams.push_back(Open("/proc/self/mem", "rb"));
#endif
    for (FileHandle &in : streams) {
        ByteReader reader(in.get());
        EXPECT_EQ(-1, reader.Next());
        EXPECT_TRUE(reader.Failed());
        EXPECT_EQ(-1, reader.Next());
    }
}

TEST(ByteStreams, WriteErrorIsKept)
{
    TempFolder folder;
    WriteFileBytes(folder.Path("readonly"), Bytes(10, 1));
    std::vector<std::string> targets = {folder.Path("readonly")};  // opened "rb": writes fail
#ifdef __linux__
    targets.push_back("/dev/full");  // every write fails with ENOSPC
#endif
    for (const std::string &target : targets) {
        SCOPED_TRACE(target);
        FileHandle out = Open(target, target == "/dev/full" ? "wb" : "rb");
        ByteWriter writer(out.get());
        for (std::size_t i = 0; i < 2 * STREAM_CHUNK + 3; ++i)
            writer.Put(static_cast<int>(i));
        EXPECT_FALSE(writer.Flush());
        EXPECT_TRUE(writer.Failed());
    }
    // A small write fails no sooner than at the flush.
    FileHandle out = Open(folder.Path("readonly"), "rb");
    ByteWriter writer(out.get());
    writer.Put(1);
    EXPECT_FALSE(writer.Failed());
    EXPECT_FALSE(writer.Flush());
}

// --- the run over streams ---

TEST(TransformStreams, SameBytesAndCallsAsTheEngine)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    const struct { std::size_t input; std::size_t key; } cases[] = {
        {0, 0}, {0, 5}, {1, 0}, {5, 1}, {200, 2}, {1000, 7}, {STREAM_CHUNK + 17, 37},
        {150000, 4096}, {3000, 70000},
    };
    for (const auto &c : cases) {
        for (int mode : {ENCRYPT, DECRYPT}) {
            SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key << " mode " << mode);
            Bytes input = RandomBytes(rng, c.input), key = RandomBytes(rng, c.key);
            WriteFileBytes(folder.Path("in"), input);
            WriteFileBytes(folder.Path("key"), key);
            RunOutcome outcome = RunFiles(mode, folder.Path("in"), folder.Path("key"), folder.Path("out"));
            RunRecord engine = RunWith(mode, input, key, static_cast<int>(input.size()));
            EXPECT_EQ(RUN_OK, outcome.status);
            EXPECT_EQ(engine.output, outcome.output);
            EXPECT_EQ(engine.incrementCalls, outcome.increments);
            EXPECT_TRUE(outcome.advanceMonotone);
            EXPECT_EQ(engine.nextKeyCalls, outcome.lastKeyValues);
            EXPECT_EQ(static_cast<std::int64_t>(input.size()), outcome.lastInputBytes);
        }
    }
}

TEST(TransformStreams, StreamedKeyGivesTheEngineBytes)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    // The key state alone takes more key values than the key holds, so the
    // streamed key starts over during the run.
    Bytes input = RandomBytes(rng, KEY_IN_MEMORY_LIMIT + 70000);
    Bytes key = RandomBytes(rng, KEY_IN_MEMORY_LIMIT + 1000);
    WriteFileBytes(folder.Path("in"), input);
    WriteFileBytes(folder.Path("key"), key);
    RunOutcome outcome = RunFiles(ENCRYPT, folder.Path("in"), folder.Path("key"), folder.Path("out"));
    EXPECT_EQ(RUN_OK, outcome.status);
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, input, key) == outcome.output);
}

TEST(TransformStreams, ParallelRunsShareNothing)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    const int kRuns = 6;
    std::vector<Bytes> inputs, keys;
    for (int i = 0; i < kRuns; ++i) {
        inputs.push_back(RandomBytes(rng, 20000 + rng() % 50000));
        keys.push_back(RandomBytes(rng, i));  // lengths 0 to 5, the empty key too
        WriteFileBytes(folder.Path("in" + std::to_string(i)), inputs.back());
        WriteFileBytes(folder.Path("key" + std::to_string(i)), keys.back());
    }
    std::vector<RunOutcome> outcomes(kRuns);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&, i] {
            std::string n = std::to_string(i);
            outcomes[i] = RunFiles(i % 2, folder.Path("in" + n), folder.Path("key" + n), folder.Path("out" + n));
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(RUN_OK, outcomes[i].status);
        EXPECT_TRUE(ReferenceOutput(i % 2, inputs[i], keys[i]) == outcomes[i].output);
    }
}

TEST(TransformStreams, ReportsEachFailure)
{
    TempFolder folder;
    std::mt19937_64 rng(TestSeed());
    Bytes input = RandomBytes(rng, 4 * STREAM_CHUNK);
    WriteFileBytes(folder.Path("in"), input);
    WriteFileBytes(folder.Path("key"), {1, 2, 3});
    RunHooks none{nullptr, nullptr, nullptr};

    {
        SCOPED_TRACE("input read error");
        FileHandle in = Unreadable(folder.Path());
        FileHandle key = Open(folder.Path("key"), "rb"), out = Open(folder.Path("out"), "wb");
        EXPECT_EQ(RUN_CANNOT_READ_INPUT, TransformStreams(ENCRYPT, 10, in.get(), key.get(), out.get(), none));
    }
    {
        SCOPED_TRACE("output write error: the run stops early");
        FileHandle in = Open(folder.Path("in"), "rb"), key = Open(folder.Path("key"), "rb");
        FileHandle out = Open(folder.Path("key"), "rb");
        RunOutcome seen;
        RunHooks hooks{nullptr, RecordAdvance, &seen};
        EXPECT_EQ(RUN_CANNOT_WRITE_OUTPUT,
                  TransformStreams(ENCRYPT, static_cast<int>(input.size()), in.get(), key.get(), out.get(), hooks));
        EXPECT_LT(seen.lastInputBytes, static_cast<std::int64_t>(input.size()));
    }
    {
        SCOPED_TRACE("key unreadable from the start: nothing written");
        FileHandle key = Unreadable(folder.Path());
        FileHandle in = Open(folder.Path("in"), "rb"), out = Open(folder.Path("out"), "wb");
        EXPECT_EQ(RUN_CANNOT_OPEN_KEY, TransformStreams(ENCRYPT, 10, in.get(), key.get(), out.get(), none));
        out.reset();
        EXPECT_TRUE(ReadFileBytes(folder.Path("out")).empty());
    }
}

TEST(TransformStreams, KeyEmptiedDuringTheRunFails)
{
    std::mt19937_64 rng(TestSeed());
    TempFolder folder;
    std::string keyPath = folder.Path("key");
    Bytes input = RandomBytes(rng, KEY_IN_MEMORY_LIMIT + 1000);
    WriteFileBytes(folder.Path("in"), input);
    WriteFileBytes(keyPath, RandomBytes(rng, KEY_IN_MEMORY_LIMIT + 100));
    FileHandle in = Open(folder.Path("in"), "rb"), key = Open(keyPath, "rb");
    FileHandle out = Open(folder.Path("out"), "wb");
    // The first progress report comes after the key's second read: empty it there.
    struct Emptier {
        std::string path;
        bool done = false;
        std::int64_t lastInput = 0;
    } emptier{keyPath};
    RunHooks hooks{nullptr,
                   [](void *context, std::int64_t, std::int64_t inputBytes) {
                       Emptier &e = *static_cast<Emptier *>(context);
                       if (!e.done)
                           fs::resize_file(e.path, 0);
                       e.done = true;
                       e.lastInput = inputBytes;
                   },
                   &emptier};
    EXPECT_EQ(RUN_CANNOT_OPEN_KEY,
              TransformStreams(ENCRYPT, static_cast<int>(input.size()), in.get(), key.get(), out.get(), hooks));
    EXPECT_TRUE(emptier.done);
    EXPECT_EQ(0, emptier.lastInput);  // stopped before the input was read
}

// --- the size rule ---

TEST(EngineDataSize, LowThirtyTwoBitsAsSigned)
{
    const struct { std::int64_t size; int expected; } table[] = {
        {0, 0}, {5, 5}, {2147483647, INT_MAX}, {2147483648LL, INT_MIN},
        {4294967295LL, -1}, {4294967296LL, 0}, {4294967296LL + 5, 5},
        {6442450944LL + 7, INT_MIN + 7},
    };
    for (const auto &row : table)
        EXPECT_EQ(row.expected, EngineDataSize(row.size)) << row.size;
}

TEST(EngineDataSize, FromTheSizeOfALargeSparseFile)
{
    TempFolder folder;
    const struct { std::int64_t size; int expected; } table[] = {
        {4294967296LL + 5, 5}, {2147483648LL, INT_MIN},
    };
    for (const auto &row : table) {
        std::string path = folder.Path("sparse");
        WriteFileBytes(path, {});
        std::error_code error;
        fs::resize_file(path, static_cast<std::uintmax_t>(row.size), error);
        if (error) {
            GTEST_SKIP() << "this file system holds no sparse file of " << row.size << " bytes";
        }
        FileHandle file = Open(path, "rb");
        std::int64_t size = 0;
        ASSERT_TRUE(StreamFileSize(file.get(), &size));
        EXPECT_EQ(row.size, size);
        EXPECT_EQ(row.expected, EngineDataSize(size));
        file.reset();
        fs::remove(path);
    }
}

// --- file identity ---

TEST(FileIdentity, SameFileHoweverNamed)
{
    TempFolder folder;
    std::string input = folder.Path("input.txt"), key = folder.Path("key.bin");
    WriteFileBytes(input, {1});
    WriteFileBytes(key, {2});
    WriteFileBytes(folder.Path("other"), {1});
    std::string hardLink = folder.Path("hardlink");
    fs::create_hard_link(input, hardLink);

    // Names reached from the folder as the working directory.
    fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    std::vector<std::string> sameAsInput = {input, "input.txt", "./input.txt", hardLink, "hardlink",
                                            "../" + fs::path(folder.Path()).filename().string() + "/input.txt"};
#ifdef _WIN32
    sameAsInput.push_back("INPUT.TXT");
    sameAsInput.push_back(folder.Path("Input.Txt"));
    char shortName[MAX_PATH];
    DWORD length = GetShortPathNameA(folder.Path("input.txt").c_str(), shortName, MAX_PATH);
    if (length > 0 && length < MAX_PATH && std::string(shortName) != folder.Path("input.txt"))
        sameAsInput.push_back(shortName);
    else
        std::printf("no short 8.3 name here for %s\n", input.c_str());
#else
    fs::create_symlink("input.txt", "symlink");
    sameAsInput.push_back("symlink");
#endif
    for (const std::string &name : sameAsInput) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(OutputNamesInputOrKey(name.c_str(), input.c_str(), key.c_str()));
        EXPECT_TRUE(OutputNamesInputOrKey(name.c_str(), folder.Path("other").c_str(), input.c_str()));
    }
    for (const std::string &name : {std::string("other"), std::string("missing"), folder.Path("nothing/x")}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(OutputNamesInputOrKey(name.c_str(), input.c_str(), key.c_str()));
    }
    FileId byPath, byStream, other;
    EXPECT_EQ(FILEID_FOUND, FileIdOfPath("hardlink", &byPath));
    EXPECT_EQ(FILEID_FOUND, FileIdOfPath("other", &other));
    EXPECT_EQ(FILEID_MISSING, FileIdOfPath("missing", &other));
    FileHandle stream = Open(input, "rb");
    EXPECT_TRUE(FileIdOfStream(stream.get(), &byStream));
    EXPECT_TRUE(SameFile(byPath, byStream));
    EXPECT_EQ(FILEID_FOUND, FileIdOfPath("other", &other));
    EXPECT_FALSE(SameFile(byPath, other));
    stream.reset();
    fs::current_path(previous);
}
