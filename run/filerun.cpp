// The run itself: the engine's context form over the buffered streams, so
// that the per-byte callbacks inline into the engine's loop.
#include "filerun.h"

#include "bytestream.h"
#include "encode.h"
#include "keysource.h"

// The progress fraction both tools give the engine: single-precision 0.01.
constexpr float kProgressFraction = 0.01f;

struct RunState {
    ByteReader *reader;
    KeySource *key;
    ByteWriter *writer;
    const RunHooks *hooks;
    std::int64_t inputSize;  // the plain input's size at the start; -1 for another kind
};

static void Advance(RunState &run)
{
    if (run.hooks->advance)
        run.hooks->advance(run.hooks->context, run.key->ValuesRead(), run.reader->BytesRead());
}

// Before each input chunk: stop when the key or the output already failed,
// or when a plain input has grown past the size it had.
static bool InputGate(void *context)
{
    RunState &run = *static_cast<RunState *>(context);
    Advance(run);
    if (run.inputSize >= 0 && run.reader->BytesRead() > run.inputSize)
        return false;
    return !run.key->Failed() && !run.writer->Failed();
}

// Key refills before the first input byte belong to the key-state
// derivation, which reads no input: progress hears of them too.
static void KeyRefilled(void *context)
{
    RunState &run = *static_cast<RunState *>(context);
    if (run.reader->BytesRead() == 0)
        Advance(run);
}

int EngineDataSize(std::int64_t size)
{
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(size)));
}

// The run once the key source has started.
static RunStatus RunWithKey(int mMode, int lDataSize, std::FILE *input, KeySource &keySource,
                            std::FILE *output, const RunHooks &hooks)
{
    // The key state is seeded for lDataSize: an input of another size would
    // be encrypted into bytes that no run can turn back.
    FileStamp before;
    bool plain = StreamFileStamp(input, &before);
    if (plain && EngineDataSize(before.size) != lDataSize)
        return RUN_INPUT_CHANGED;
    ByteReader reader(input);
    ByteWriter writer(output);
    RunState run{&reader, &keySource, &writer, &hooks, plain ? before.size : -1};
    reader.SetRefillGate(InputGate, &run);
    keySource.SetRefillHook(KeyRefilled, &run);

    // The engine reads and writes through these cursors with no call in its
    // byte loop; the objects hear from it only when a span runs out.
    ByteSpan in{nullptr, nullptr};
    KeySpan keys{nullptr, nullptr, false};
    ByteRoom out = writer.TakeRoom();
    EncodeSpansWith(
        mMode, lDataSize, kProgressFraction,
        in, [&] { return reader.TakeChunk(); },
        keys, [&] { return keySource.TakeChunk(); },
        out, [&](unsigned char *upTo) { return writer.Commit(upTo); },
        [&] {
            if (hooks.increment)
                hooks.increment(hooks.context);
        });

    writer.Commit(out.pos);
    reader.PutBack(in.pos);
    keySource.PutBack(keys.pos);
    bool written = writer.Flush();
    Advance(run);
    if (keySource.Failed())
        return RUN_CANNOT_OPEN_KEY;
    if (reader.Failed())
        return RUN_CANNOT_READ_INPUT;
    if (!written)
        return RUN_CANNOT_WRITE_OUTPUT;  // it also stops the input early
    FileStamp after;
    bool changed = plain ? reader.BytesRead() != before.size || !StreamFileStamp(input, &after) ||
                               !(after == before)
                         : EngineDataSize(reader.BytesRead()) != lDataSize;
    return changed ? RUN_INPUT_CHANGED : RUN_OK;
}

RunStatus TransformStreams(int mMode, int lDataSize, std::FILE *input, std::FILE *key,
                           std::FILE *output, const RunHooks &hooks)
{
    KeySource keySource;
    if (!keySource.Start(key))
        return RUN_CANNOT_OPEN_KEY;
    return RunWithKey(mMode, lDataSize, input, keySource, output, hooks);
}

RunStatus TransformStreamsWithKeyBytes(int mMode, int lDataSize, std::FILE *input,
                                       const unsigned char *key, std::size_t keyLength,
                                       std::FILE *output, const RunHooks &hooks)
{
    KeySource keySource;
    if (!keySource.StartFromBytes(key, keyLength))
        return RUN_CANNOT_OPEN_KEY;
    return RunWithKey(mMode, lDataSize, input, keySource, output, hooks);
}
