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
#include "sysfile.h"

// The Windows program's words, and the few this tool adds.
static const char kBadInputFile[] = "Bad input file";
static const char kBadKeyFile[] = "Bad key file";
static const char kCannotOpenInput[] = "Cannot open input file";
static const char kCannotOpenKey[] = "Cannot open key file";
static const char kCannotOpenOutput[] = "Cannot open output file";
static const char kCannotReadInput[] = "Cannot read input file";
static const char kCannotWriteOutput[] = "Cannot write output file";
static const char kInputChanged[] = "Input file changed during the run";
static const char kOutputMustDiffer[] = "Output file must differ from input and key files";
static const char kOutputExists[] = "Output file exists (use -f to replace it)";
static const char kEmptyKey[] = "Warning: the key file is empty; such a key protects nothing";

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

static std::string WithReason(const char *message, const std::string &reason)
{
    return reason.empty() ? std::string(message) : std::string(message) + " (" + reason + ")";
}

static std::string ErrnoReason(int error)
{
    return error != 0 ? SystemErrorText(error) : std::string();
}

// Key values the engine takes for its key state before the first byte.
static std::int64_t SeedValues(int lDataSize)
{
    return lDataSize > 0 ? lDataSize : lDataSize == 0 ? 1000 : 0;
}

bool CheckKeyFile(const std::string &keyPath)
{
    if (PathKindOf(keyPath) != PATH_FILE) {
        ConsoleMessage(keyPath, kBadKeyFile);
        return false;
    }
    FileHandle key(OpenStream(keyPath, "rb"));
    if (!key) {
        ConsoleMessage(keyPath, WithReason(kCannotOpenKey, ErrnoReason(errno)));
        return false;
    }
    std::int64_t size;
    if (StreamFileSize(key.get(), &size) && size == 0)
        ConsoleMessage(keyPath, kEmptyKey);
    return true;
}

namespace {

struct Batch {
    const BatchOptions *options;
    const std::vector<BatchJob> *jobs;
    std::vector<std::string> conflicts;  // per job: why its output is taken by another
    std::vector<FileId> inputIds;        // the inputs that exist
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

// Runs one job; reports its failure and returns false.
static bool RunJob(const Batch &batch, std::size_t index, RunProgress *progress)
{
    const BatchOptions &options = *batch.options;
    const BatchJob &job = (*batch.jobs)[index];
    if (!job.refusal.empty()) {
        ConsoleMessage(job.input, job.refusal);
        return false;
    }
    if (PathKindOf(job.input) != PATH_FILE) {
        ConsoleMessage(job.input, kBadInputFile);
        return false;
    }
    if (!batch.conflicts[index].empty()) {
        ConsoleMessage(job.output, batch.conflicts[index]);
        return false;
    }
    // Refused before anything is opened: an output that is one of the
    // command's own files would be lost, however it is spelled.
    FileId outputId;
    if (FileIdOfPath(job.output, &outputId) == FILEID_FOUND &&
        NamesABatchFile(batch, outputId)) {
        ConsoleMessage(job.output, kOutputMustDiffer);
        return false;
    }
    if (PathKindOf(job.output) == PATH_FOLDER) {
        ConsoleMessage(job.output, WithReason(kCannotOpenOutput, "it is a folder"));
        return false;
    }
    if (!options.force && PathTaken(job.output)) {
        ConsoleMessage(job.output, kOutputExists);
        return false;
    }

    FileHandle input(OpenStream(job.input, "rb"));
    if (!input) {
        ConsoleMessage(job.input, WithReason(kCannotOpenInput, ErrnoReason(errno)));
        return false;
    }
    FileHandle key(OpenStream(options.keyPath, "rb"));
    if (!key) {
        ConsoleMessage(options.keyPath, WithReason(kCannotOpenKey, ErrnoReason(errno)));
        return false;
    }
    PendingOutput pending;
    std::string reason;
    if (!CreatePendingOutput(job.output, &pending, &reason)) {
        ConsoleMessage(job.output, WithReason(kCannotOpenOutput, reason));
        return false;
    }

    std::int64_t size = 0;
    StreamFileSize(input.get(), &size);  // not a plain file: size 0
    int lDataSize = EngineDataSize(size);
    progress->seedValues = SeedValues(lDataSize);
    RunHooks hooks{nullptr, OnAdvance, progress};
    errno = 0;
    RunStatus status =
        TransformStreams(options.mMode, lDataSize, input.get(), key.get(), pending.stream, hooks);
    int runError = errno;
    if (status != RUN_OK) {
        DiscardPendingOutput(&pending);
        switch (status) {
        case RUN_CANNOT_READ_INPUT:
            ConsoleMessage(job.input, WithReason(kCannotReadInput, ErrnoReason(runError)));
            break;
        case RUN_CANNOT_OPEN_KEY:
            ConsoleMessage(options.keyPath,
                           WithReason(kCannotOpenKey, "it could not be read again, or changed, "
                                                      "while doing " + job.input));
            break;
        case RUN_INPUT_CHANGED:
            ConsoleMessage(job.input, WithReason(kInputChanged, "nothing was written; try again "
                                                                "once it is unchanged"));
            break;
        default:
            ConsoleMessage(job.output, WithReason(kCannotWriteOutput, ErrnoReason(runError)));
            break;
        }
        return false;
    }
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
    batch.keyKnown = FileIdOfPath(options.keyPath, &batch.keyId) == FILEID_FOUND;
    std::int64_t totalWork = 0, totalBytes = 0;
    for (const BatchJob &job : jobs) {
        FileId id;
        if (FileIdOfPath(job.input, &id) == FILEID_FOUND)
            batch.inputIds.push_back(id);
        long long size = 0;
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
