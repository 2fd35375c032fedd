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
};

static void Advance(RunState &run)
{
    if (run.hooks->advance)
        run.hooks->advance(run.hooks->context, run.key->ValuesRead(), run.reader->BytesRead());
}

// Before each input chunk: stop when the key or the output already failed.
static bool InputGate(void *context)
{
    RunState &run = *static_cast<RunState *>(context);
    Advance(run);
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

RunStatus TransformStreams(int mMode, int lDataSize, std::FILE *input, std::FILE *key,
                           std::FILE *output, const RunHooks &hooks)
{
    KeySource keySource;
    if (!keySource.Start(key))
        return RUN_CANNOT_OPEN_KEY;
    ByteReader reader(input);
    ByteWriter writer(output);
    RunState run{&reader, &keySource, &writer, &hooks};
    reader.SetRefillGate(InputGate, &run);
    keySource.SetRefillHook(KeyRefilled, &run);

    // The cursors live here, in registers; the objects are called only when
    // a span runs out, on paths the compiler is told are rare.
    ByteSpan in{nullptr, nullptr}, keys{nullptr, nullptr};
    ByteRoom out = writer.TakeRoom();
    EncodeBufferWith(
        mMode, lDataSize, kProgressFraction,
        [&]() -> int {
            if (__builtin_expect(in.pos == in.end, 0)) {
                in = reader.TakeChunk();
                if (in.pos == in.end)
                    return -1;
            }
            return *in.pos++;
        },
        [&]() -> int {
            if (__builtin_expect(keys.pos == keys.end, 0)) {
                keys = keySource.TakeChunk();
                if (keys.pos == keys.end)
                    return -1;
            }
            return *keys.pos++;
        },
        [&](int byte) {
            if (__builtin_expect(out.pos == out.end, 0))
                out = writer.Commit(out.pos);
            *out.pos++ = static_cast<unsigned char>(byte);
        },
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
    return written ? RUN_OK : RUN_CANNOT_WRITE_OUTPUT;
}
