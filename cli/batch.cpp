// One command's files: checks in the Windows program's order where it has
// them, then the shared run into a pending output, on up to N threads.
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

#include "bytestream.h"
#include "console.h"
#include "encode.h"
#include "fileid.h"
#include "filerun.h"
#include "paths.h"
#include "pending.h"
#include "streams.h"
#include "sysfile.h"

// The Windows program's words, and the few this tool adds.
static const char kBadInputFile[] = "Bad input file";
static const char kBadKeyFile[] = "Bad key file";
static const char kCannotOpenInput[] = "Cannot open input file";
static const char kCannotOpenKey[] = "Cannot open key file";
static const char kCannotOpenOutput[] = "Cannot open output file";
static const char kCannotReadInput[] = "Cannot read input file";
static const char kCannotReadKey[] = "Cannot read key file";
static const char kCannotCopyInput[] = "Cannot copy input file to a scratch file";
static const char kCannotWriteOutput[] = "Cannot write output file";
static const char kInputChanged[] = "Input file changed during the run";
static const char kOutputMustDiffer[] = "Output file must differ from input and key files";
static const char kOutputExists[] = "Output file exists (use -f to replace it)";
static const char kOutputSpecial[] = "Output file is not a regular file and is never replaced";
static const char kOutputTerminal[] =
    "Output is a terminal, which encrypted bytes would garble (redirect it, or use -f)";
static const char kEmptyKey[] = "Warning: the key file is empty; such a key protects nothing";
static const char kStandardInput[] = "standard input";
static const char kStandardOutput[] = "standard output";

// A key that is not a regular file, read once for the whole command.
static bool g_keyInMemory = false;
static std::vector<unsigned char> g_keyBytes;

static std::string WithReason(const char *message, const std::string &reason)
{
    return reason.empty() ? std::string(message) : std::string(message) + " (" + reason + ")";
}

static std::string ErrnoReason(int error)
{
    return error != 0 ? SystemErrorText(error) : std::string();
}

// How messages name a file: "-" is standard input as INPUT or KEYFILE.
static std::string Shown(const std::string &path)
{
    return path == STDIO_NAME ? kStandardInput : path;
}

// Key values the engine takes for its key state before the first byte.
static std::int64_t SeedValues(int lDataSize)
{
    return lDataSize > 0 ? lDataSize : lDataSize == 0 ? 1000 : 0;
}

// The identity of the file a path (or "-", standard input) reads.
static bool IdOf(const std::string &path, FileId *id)
{
    if (path == STDIO_NAME)
        return FileIdOfStream(stdin, id);
    return FileIdOfPath(path, id) == FILEID_FOUND;
}

bool CheckKeyFile(const std::string &keyPath)
{
    std::string shown = Shown(keyPath);
    Source key;
    std::string reason;
    SourceResult opened = OpenSource(keyPath, SOURCE_KEY, &key, &reason);
    if (opened != SOURCE_OK) {
        ConsoleMessage(shown, WithReason(opened == SOURCE_BAD ? kBadKeyFile : kCannotOpenKey, reason));
        return false;
    }
    std::int64_t size = 0;
    if (key.regular) {
        StreamFileSize(key.stream.get(), &size);
    } else {
        switch (ReadWholeKey(&key, &g_keyBytes, &reason)) {
        case STREAM_OK:
            break;
        case STREAM_READ_FAILED:
            ConsoleMessage(shown, WithReason(kCannotReadKey, reason));
            return false;
        default:
            ConsoleMessage(shown, WithReason(kBadKeyFile, reason));
            return false;
        }
        g_keyInMemory = true;
        size = static_cast<std::int64_t>(g_keyBytes.size());
    }
    if (size == 0)
        ConsoleMessage(shown, kEmptyKey);
    return true;
}

namespace {

struct Batch {
    const BatchOptions *options;
    const std::vector<BatchJob> *jobs;
    std::vector<std::string> conflicts;      // per job: why its output is taken by another
    std::vector<std::string> inputRefusals;  // per job: why its input cannot be read
    std::vector<FileId> inputIds;            // the inputs that exist
    bool keyKnown = false;
    FileId keyId{};
    std::vector<std::int64_t> plannedWork;
    std::vector<std::int64_t> plannedBytes;
    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
};

// Progress of one run: the console's work units and input bytes reported.
struct RunProgress {
    std::int64_t seedValues;
    std::int64_t reportedWork;
    std::int64_t reportedBytes;
};

} // namespace

static void OnAdvance(void *context, std::int64_t keyValues, std::int64_t inputBytes)
{
    RunProgress &progress = *static_cast<RunProgress *>(context);
    std::int64_t work = ProgressWork(keyValues, inputBytes, progress.seedValues);
    if (work > progress.reportedWork) {
        ProgressAdd(work - progress.reportedWork, inputBytes - progress.reportedBytes, false);
        progress.reportedWork = work;
        progress.reportedBytes = inputBytes;
    }
}

static bool NamesABatchFile(const Batch &batch, const FileId &id)
{
    if (batch.keyKnown && SameFile(id, batch.keyId))
        return true;
    for (const FileId &input : batch.inputIds) {
        if (SameFile(id, input))
            return true;
    }
    return false;
}

// Whether the job's output may be written; reports why not.
static bool OutputAllowed(const Batch &batch, std::size_t index)
{
    const BatchJob &job = (*batch.jobs)[index];
    FileId outputId;
    if (job.output == STDIO_NAME) {
        if (StandardOutputFileId(&outputId) && NamesABatchFile(batch, outputId)) {
            ConsoleMessage(kStandardOutput, kOutputMustDiffer);
            return false;
        }
        if (batch.options->mMode == ENCRYPT && !batch.options->force && StdoutIsTerminal()) {
            ConsoleMessage(kStandardOutput, kOutputTerminal);
            return false;
        }
        return true;
    }
    if (!batch.conflicts[index].empty()) {
        ConsoleMessage(job.output, batch.conflicts[index]);
        return false;
    }
    // Refused before anything is written: an output that is one of the
    // command's own files would be lost, however it is spelled.
    if (FileIdOfPath(job.output, &outputId) == FILEID_FOUND && NamesABatchFile(batch, outputId)) {
        ConsoleMessage(job.output, kOutputMustDiffer);
        return false;
    }
    if (PathKindOf(job.output) == PATH_FOLDER) {
        ConsoleMessage(job.output, WithReason(kCannotOpenOutput, "it is a folder"));
        return false;
    }
    std::string special = OutputKindRefusal(job.output);
    if (!special.empty()) {
        ConsoleMessage(job.output, WithReason(kOutputSpecial, special + "; write into it with -o -"));
        return false;
    }
    if (!batch.options->force && PathTaken(job.output)) {
        ConsoleMessage(job.output, kOutputExists);
        return false;
    }
    return true;
}

// Opens the job's input, a regular file or a scratch copy of a stream;
// reports why not.
static bool OpenInput(const BatchJob &job, Source *input)
{
    std::string shown = Shown(job.input), reason;
    switch (OpenSource(job.input, SOURCE_INPUT, input, &reason)) {
    case SOURCE_OK:
        return true;
    case SOURCE_BAD:
        ConsoleMessage(shown, WithReason(kBadInputFile, reason));
        return false;
    default:
        ConsoleMessage(shown, WithReason(kCannotOpenInput, reason));
        return false;
    }
}

static bool CopyInput(const BatchJob &job, Source *input)
{
    std::string reason;
    switch (CopyToScratch(input, &reason)) {
    case STREAM_OK:
        return true;
    case STREAM_NO_WRITER:
        ConsoleMessage(Shown(job.input), WithReason(kBadInputFile, reason));
        return false;
    case STREAM_READ_FAILED:
        ConsoleMessage(Shown(job.input), WithReason(kCannotReadInput, reason));
        return false;
    default:
        ConsoleMessage(Shown(job.input), WithReason(kCannotCopyInput, reason));
        return false;
    }
}

// The key file of one run, when it is not held in memory.
static bool OpenKey(const std::string &keyPath, FileHandle *key)
{
    Source source;
    std::string reason;
    if (OpenSource(keyPath, SOURCE_KEY, &source, &reason) == SOURCE_OK && !source.regular)
        reason = "it is no longer a regular file";
    if (!source.regular) {
        ConsoleMessage(Shown(keyPath), WithReason(kCannotOpenKey, reason));
        return false;
    }
    *key = std::move(source.stream);
    return true;
}

// Reports a failed run of one job.
static void ReportRunFailure(const BatchJob &job, const std::string &keyPath, RunStatus status,
                             int error)
{
    bool toStdout = job.output == STDIO_NAME;
    switch (status) {
    case RUN_CANNOT_READ_INPUT:
        ConsoleMessage(Shown(job.input), WithReason(kCannotReadInput, ErrnoReason(error)));
        break;
    case RUN_CANNOT_OPEN_KEY:
        ConsoleMessage(Shown(keyPath), WithReason(kCannotOpenKey, "it could not be read again, or "
                                                                  "changed, while doing " +
                                                                      Shown(job.input)));
        break;
    case RUN_INPUT_CHANGED:
        ConsoleMessage(Shown(job.input),
                       WithReason(kInputChanged, toStdout ? "what went to standard output is not "
                                                            "usable; try again once it is unchanged"
                                                          : "nothing was written; try again once "
                                                            "it is unchanged"));
        break;
    default:
        ConsoleMessage(toStdout ? kStandardOutput : job.output,
                       WithReason(kCannotWriteOutput,
                                  toStdout ? ErrnoReason(error)
                                           : WriteFailureReason(FolderPart(job.output), error)));
        break;
    }
}

// Runs one job; reports its failure and returns false.
static bool RunJob(const Batch &batch, std::size_t index, RunProgress *progress)
{
    const BatchOptions &options = *batch.options;
    const BatchJob &job = (*batch.jobs)[index];
    if (!job.refusal.empty()) {
        ConsoleMessage(Shown(job.input), job.refusal);
        return false;
    }
    if (!batch.inputRefusals[index].empty()) {
        ConsoleMessage(Shown(job.input), WithReason(kBadInputFile, batch.inputRefusals[index]));
        return false;
    }
    Source input;
    FileHandle key;
    if (!OpenInput(job, &input) || !OutputAllowed(batch, index) ||
        (!g_keyInMemory && !OpenKey(options.keyPath, &key)) ||
        (!input.regular && !CopyInput(job, &input)))
        return false;

    bool toStdout = job.output == STDIO_NAME;
    PendingOutput pending;
    std::string reason;
    if (!toStdout && !CreatePendingOutput(job.output, &pending, &reason)) {
        ConsoleMessage(job.output, WithReason(kCannotOpenOutput, reason));
        return false;
    }
    SetPendingPermissions(&pending, input.permissions);
    std::FILE *output = toStdout ? StandardOutput() : pending.stream;

    std::int64_t size = 0;
    StreamFileSize(input.stream.get(), &size);
    int lDataSize = EngineDataSize(size);
    progress->seedValues = SeedValues(lDataSize);
    RunHooks hooks{nullptr, OnAdvance, progress};
    errno = 0;
    RunStatus status =
        g_keyInMemory ? TransformStreamsWithKeyBytes(options.mMode, lDataSize, input.stream.get(),
                                                     g_keyBytes.data(), g_keyBytes.size(), output, hooks)
                      : TransformStreams(options.mMode, lDataSize, input.stream.get(), key.get(),
                                         output, hooks);
    if (status != RUN_OK) {
        ReportRunFailure(job, options.keyPath, status, errno);  // while the output still holds its room
        if (!toStdout)
            DiscardPendingOutput(&pending);
        return false;
    }
    if (toStdout)
        return true;  // flushed by the run
    switch (CommitPendingOutput(&pending, options.force, &reason)) {
    case COMMIT_DONE:
        return true;
    case COMMIT_EXISTS:
        ConsoleMessage(job.output, kOutputExists);
        return false;
    default:
        ConsoleMessage(job.output, WithReason(kCannotWriteOutput, reason));
        return false;
    }
}

static void Work(Batch *batch)
{
    for (;;) {
        std::size_t index = batch->next.fetch_add(1);
        if (index >= batch->jobs->size())
            return;
        RunProgress progress{0, 0, 0};
        if (!RunJob(*batch, index, &progress))
            batch->failures.fetch_add(1);
        // Whatever the run did, the file's share is now done.
        std::int64_t work = batch->plannedWork[index] - progress.reportedWork;
        std::int64_t bytes = batch->plannedBytes[index] - progress.reportedBytes;
        ProgressAdd(work > 0 ? work : 0, bytes > 0 ? bytes : 0, true);
    }
}

// Outputs of one command that reach the same name in the same folder: all
// but the first are refused, so that no run overwrites another's output.
static void FindConflicts(Batch *batch)
{
    const std::vector<BatchJob> &jobs = *batch->jobs;
    batch->conflicts.assign(jobs.size(), std::string());
    std::map<std::string, std::size_t> seen;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].output.empty())
            continue;
        std::string folder = FolderPart(jobs[i].output);
        FileId folderId;
        if (FileIdOfPath(folder.empty() ? "." : folder, &folderId) != FILEID_FOUND)
            continue;
        std::string name = BaseName(jobs[i].output);
        if (NamesFoldCase())
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string slot = std::to_string(folderId.volume) + ":" + std::to_string(folderId.index) +
                           "/" + name;
        auto found = seen.find(slot);
        if (found == seen.end())
            seen.emplace(slot, i);
        else
            batch->conflicts[i] = "Output file is also the output of " + jobs[found->second].input;
    }
}

int RunBatch(const BatchOptions &options, const std::vector<BatchJob> &jobs)
{
    Batch batch;
    batch.options = &options;
    batch.jobs = &jobs;
    FindConflicts(&batch);
    batch.keyKnown = IdOf(options.keyPath, &batch.keyId);
    // A pipe gives its bytes to one reader only: the key, or one input.
    FileId keyStream;
    bool keyIsStream = StreamIdOf(options.keyPath, &keyStream);
    std::vector<FileId> streams;
    std::int64_t totalWork = 0, totalBytes = 0;
    for (const BatchJob &job : jobs) {
        FileId id;
        if (IdOf(job.input, &id))
            batch.inputIds.push_back(id);
        std::string refusal;
        if (StreamIdOf(job.input, &id)) {
            if (keyIsStream && SameFile(id, keyStream))
                refusal = "it is the key's pipe, which the key has drained";
            for (const FileId &earlier : streams) {
                if (SameFile(id, earlier))
                    refusal = "this command reads that pipe already, as another input";
            }
            streams.push_back(id);
        }
        batch.inputRefusals.push_back(refusal);
        long long size = 0;
        if (job.input != STDIO_NAME)
            FileSizeOfPath(job.input, &size);
        std::int64_t seed = SeedValues(EngineDataSize(size));
        batch.plannedWork.push_back(ProgressWork(seed, size, seed));
        batch.plannedBytes.push_back(size);
        totalWork += batch.plannedWork.back();
        totalBytes += size;
    }

    bool show = !options.quiet && StderrIsTerminal();
    ProgressStart(show, options.mMode == ENCRYPT ? "Encrypting" : "Decrypting",
                  static_cast<int>(jobs.size()), totalBytes, totalWork);
    std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(options.jobs), jobs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < workers; ++i) {
        try {
            threads.emplace_back(Work, &batch);
        } catch (const std::system_error &) {
            break;  // fewer threads: the others take the files
        }
    }
    Work(&batch);
    for (std::thread &thread : threads)
        thread.join();
    ProgressFinish();
    return batch.failures.load();
}
