// The transformation run as the program does it, under Wine: whole files
// in a temporary folder through Algorithm, the messages it shows, the
// progress dialog it drives, and what every failure leaves behind.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "dialog_test_support.h"
#include "file_support.h"
#include "filemngr.h"
#include "keysource.h"
#include "process.h"
#include "progress.h"
#include "resource.h"
#include "vantrelwin.h"

// The program's globals, provided here until the shell defines them.
HINSTANCE hInst;
HWND hwndMain;
char szKeyFile[256];

namespace {

// What a run does to its progress dialog, seen by a thread hook on sent
// messages: the run takes nothing from the queue, so everything it does to
// the dialog arrives as a sent message.
class ProgressWatch {
public:
    struct BarMessage {
        UINT msg;
        WPARAM wParam;
        LPARAM lParam;
    };

    ProgressWatch()
    {
        current_ = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Proc, nullptr, GetCurrentThreadId());
        EXPECT_NE(nullptr, hook_);
    }
    ~ProgressWatch()
    {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    ProgressWatch(const ProgressWatch &) = delete;
    ProgressWatch &operator=(const ProgressWatch &) = delete;

    int dialogs = 0;                               // progress dialogs created
    HWND dialog = nullptr, owner = nullptr;
    std::vector<std::pair<int, std::string>> texts;  // texts set, by control id, in order
    bool visibleWhenFilled = false;
    std::vector<BarMessage> bar;                   // the PBM_SET... and PBM_STEPIT messages, in order
    int steps = 0;
    int paintChecks = 0, leftUnpainted = 0;        // at each step and when the dialog is ended
    // At the dialog's destruction:
    bool destroyed = false;
    std::string caption;
    std::map<int, std::string> shownTexts;
    PBRANGE range = {-1, -1};
    int position = -1;
    // Called at each step (1, 2, ...), before the bar takes it.
    std::function<void(int)> atStep;

private:
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION && current_ && !current_->busy_) {
            current_->busy_ = true;  // the queries below send messages too
            current_->See(*reinterpret_cast<const CWPSTRUCT *>(lParam));
            current_->busy_ = false;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void See(const CWPSTRUCT &m)
    {
        if (m.message == WM_INITDIALOG && ClassName(GetDlgItem(m.hwnd, ID_PBAR)) == PROGRESS_CLASSA) {
            ++dialogs;
            dialog = m.hwnd;
            owner = GetWindow(m.hwnd, GW_OWNER);
            return;
        }
        if (!dialog || !IsWindow(dialog))
            return;
        if (m.hwnd == GetDlgItem(dialog, ID_PBAR)) {
            if (m.message >= PBM_SETRANGE && m.message <= PBM_SETRANGE32)
                bar.push_back({m.message, m.wParam, m.lParam});
            if (m.message == PBM_STEPIT) {
                ++steps;
                CheckPainted();
                if (atStep)
                    atStep(steps);
            }
        } else if (m.message == WM_SETTEXT && GetParent(m.hwnd) == dialog) {
            texts.push_back({GetDlgCtrlID(m.hwnd), reinterpret_cast<const char *>(m.lParam)});
            visibleWhenFilled = IsWindowVisible(dialog);
        } else if (m.hwnd == dialog && m.message == WM_WINDOWPOSCHANGING &&
                   (reinterpret_cast<const WINDOWPOS *>(m.lParam)->flags & SWP_HIDEWINDOW)) {
            CheckPainted();
        } else if (m.hwnd == dialog && m.message == WM_DESTROY) {
            destroyed = true;
            caption = WindowText(dialog);
            for (int id : {ID_PHEADER, ID_FROMFILEV, ID_TOFILEV, ID_KEYV})
                shownTexts[id] = WindowText(GetDlgItem(dialog, id));
            SendDlgItemMessageA(dialog, ID_PBAR, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
            position = static_cast<int>(SendDlgItemMessageA(dialog, ID_PBAR, PBM_GETPOS, 0, 0));
        }
    }

    // Whether the dialog or one of its controls still waits for a paint.
    void CheckPainted()
    {
        if (!IsWindowVisible(dialog))
            return;
        ++paintChecks;
        bool pending = GetUpdateRect(dialog, nullptr, FALSE);
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            pending = pending || GetUpdateRect(child, nullptr, FALSE);
        leftUnpainted += pending;
    }

    static inline ProgressWatch *current_ = nullptr;
    HHOOK hook_;
    bool busy_ = false;
};

BOOL CALLBACK CountDialog(HWND hwnd, LPARAM counter)
{
    if (ClassName(hwnd) == "#32770")
        ++*reinterpret_cast<int *>(counter);
    return TRUE;
}

// Dialog windows of this thread, visible or hidden.
int DialogWindowsOfThisThread()
{
    int count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountDialog, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Nobody else has the file open: it opens with no sharing at all.
bool NobodyHolds(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Takes the C library's streams until it has none left, then gives back
// `spare` of them; gives the rest back when it goes.
class StreamHog {
public:
    StreamHog(const std::string &path, int spare) : path_(path)
    {
        while (std::FILE *file = std::fopen(path.c_str(), "rb"))
            held_.push_back(file);
        EXPECT_GT(held_.size(), 10u) << "the C library gave out no streams";
        for (int i = 0; i < spare && !held_.empty(); ++i) {
            std::fclose(held_.back());
            held_.pop_back();
        }
    }
    ~StreamHog()
    {
        for (std::FILE *file : held_)
            std::fclose(file);
    }
    StreamHog(const StreamHog &) = delete;
    StreamHog &operator=(const StreamHog &) = delete;

    // How many streams can be had now.
    int Free() const
    {
        std::vector<std::FILE *> taken;
        while (std::FILE *file = std::fopen(path_.c_str(), "rb"))
            taken.push_back(file);
        for (std::FILE *file : taken)
            std::fclose(file);
        return static_cast<int>(taken.size());
    }

private:
    std::string path_;
    std::vector<std::FILE *> held_;
};

// The process works in `path` while this lives (a folder that is the
// current directory cannot be removed).
class WorkingIn {
public:
    explicit WorkingIn(const std::string &path)
    {
        GetCurrentDirectoryA(sizeof before_, before_);
        EXPECT_TRUE(SetCurrentDirectoryA(path.c_str()));
    }
    ~WorkingIn() { SetCurrentDirectoryA(before_); }
    WorkingIn(const WorkingIn &) = delete;
    WorkingIn &operator=(const WorkingIn &) = delete;

private:
    char before_[MAX_PATH] = "";
};

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// A test with the program's main window (its menu holds Encrypt and Decrypt,
// enabled) and a temporary folder.
class RunTest : public testing::Test {
protected:
    void SetUp() override
    {
        LoadCommonControls();
        hInst = GetModuleHandleA(nullptr);
        hwndMain = CreateOwnerWindow();
        HMENU menuBar = CreateMenu(), fileMenu = CreatePopupMenu();
        AppendMenuA(fileMenu, MF_STRING, IDM_ENCRYPT, "&Encrypt");
        AppendMenuA(fileMenu, MF_STRING, IDM_DECRYPT, "&Decrypt");
        AppendMenuA(menuBar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), "&File");
        SetMenu(hwndMain, menuBar);
        szKeyFile[0] = '\0';
    }
    void TearDown() override
    {
        DestroyWindow(hwndMain);
        hwndMain = nullptr;
    }

    std::string At(const std::string &name) const { return folder_.Path(name); }
    void Write(const std::string &name, const Bytes &bytes) { WriteFileBytes(At(name), bytes); }
    Bytes Read(const std::string &name) const { return ReadFileBytes(At(name)); }
    bool Exists(const std::string &path) const { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
    static void SetKey(const std::string &path) { std::snprintf(szKeyFile, sizeof szKeyFile, "%s", path.c_str()); }

    static bool Greyed(int id) { return GetMenuState(GetMenu(hwndMain), id, MF_BYCOMMAND) & MF_GRAYED; }
    static void EnableCommands()
    {
        EnableMenuItem(GetMenu(hwndMain), IDM_ENCRYPT, MF_BYCOMMAND | MF_ENABLED);
        EnableMenuItem(GetMenu(hwndMain), IDM_DECRYPT, MF_BYCOMMAND | MF_ENABLED);
    }

    // The run left nothing open and no dialog behind.
    void ExpectRunOver() const
    {
        EXPECT_EQ(nullptr, fInFile);
        EXPECT_EQ(nullptr, fKeyFile);
        EXPECT_EQ(nullptr, fOutFile);
        EXPECT_EQ(nullptr, hProgress);
        EXPECT_EQ(0, DialogWindowsOfThisThread());
    }

    // Exactly one error box with `text`, owned by the main window.
    static void ExpectOneError(const std::vector<MessageBoxCapture::Shown> &shown, const std::string &text)
    {
        ASSERT_EQ(1u, shown.size()) << (shown.empty() ? "no message" : shown[0].text);
        EXPECT_EQ(text, shown[0].text);
        EXPECT_EQ("ERROR", shown[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), shown[0].style);
        EXPECT_EQ(hwndMain, shown[0].owner);
    }

    TempFolder folder_;
    std::mt19937_64 rng_{TestSeed()};
};

const Bytes kOld = {'o', 'l', 'd'};

}  // namespace

TEST_F(RunTest, WholeFilesGiveTheEngineBytesAndBack)
{
    // {input length, key length}: keys shorter than the input (cycled),
    // longer, empty, one byte, one held in memory whole and one read from its
    // file during the run; and an empty input.
    const struct { std::size_t input; std::size_t key; } cases[] = {
        {0, 7}, {1000, 0}, {1000, 1}, {70000, 37}, {300, 5000}, {5000, KEY_IN_MEMORY_LIMIT + 17},
    };
    MessageBoxCapture messages;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key);
        Bytes plain = RandomBytes(rng_, c.input), key = RandomBytes(rng_, c.key);
        Write("plain", plain);
        Write("key", key);
        Write("sealed", kOld);  // an existing output is replaced
        SetKey(At("key"));
        Algorithm(ENCRYPT, At("plain").c_str(), At("sealed").c_str());
        EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, key) == Read("sealed"));
        Algorithm(DECRYPT, At("sealed").c_str(), At("back").c_str());
        EXPECT_TRUE(plain == Read("back"));
        Algorithm(DECRYPT, At("plain").c_str(), At("opened").c_str());
        EXPECT_TRUE(ReferenceOutput(DECRYPT, plain, key) == Read("opened"));
        EXPECT_TRUE(messages.Take().empty()) << "a good run shows no message";
        EXPECT_TRUE(key == Read("key"));
        ExpectRunOver();
    }
}

TEST_F(RunTest, FailuresInTheirOrder)
{
    Write("in", RandomBytes(rng_, 1000));
    Write("key", {1, 2, 3});
    Write("old", kOld);
    CreateDirectoryA(At("folder").c_str(), nullptr);
    // Each row also carries the faults of the rows after it where it can:
    // the first fault found is the one reported.
    const struct {
        const char *input;
        const char *key;
        const char *output;
        int spareStreams;  // -1: streams as usual
        const char *message;
    } table[] = {
        {"missing", "nokey", "old", 0, "Bad input file"},
        {"in", "nokey", "old", 0, "Bad key file"},
        {"in", "key", "old", 0, "Cannot open input file"},
        {"in", "key", "old", 1, "Cannot open key file"},
        {"in", "key", "IN", -1, "Output file must differ from input and key files"},
        {"in", "key", "nofolder\\out", -1, "Cannot open output file"},
        // More ways to fail the same checks.
        {"folder", "key", "old", -1, "Bad input file"},
        {"in", "", "old", -1, "Bad key file"},
        {"in", "folder", "old", -1, "Bad key file"},
        {"in", "key", "folder", -1, "Cannot open output file"},
    };
    MessageBoxCapture messages;
    for (const auto &row : table) {
        SCOPED_TRACE(row.message + std::string(" from ") + row.input + ", " + row.key + ", " + row.output);
        EnableCommands();
        SetKey(row.key[0] ? At(row.key) : std::string());
        ProgressWatch watch;
        std::unique_ptr<StreamHog> hog;
        if (row.spareStreams >= 0)
            hog = std::make_unique<StreamHog>(At("key"), row.spareStreams);
        Algorithm(ENCRYPT, At(row.input).c_str(), At(row.output).c_str());
        if (hog) {
            EXPECT_EQ(row.spareStreams, hog->Free()) << "every stream the run opened is closed again";
            hog.reset();
        }
        ExpectOneError(messages.Take(), row.message);
        EXPECT_EQ(row.key[0] ? At(row.key) : std::string(), std::string(szKeyFile)) << "the key path is kept";
        bool badKey = std::string(row.message) == "Bad key file";
        EXPECT_EQ(badKey, Greyed(IDM_ENCRYPT));
        EXPECT_EQ(badKey, Greyed(IDM_DECRYPT));
        EXPECT_EQ(0, watch.dialogs);
        EXPECT_TRUE(kOld == Read("old"));
        EXPECT_EQ((std::vector<std::string>{"folder", "in", "key", "old"}), folder_.Names());
        EXPECT_TRUE(NobodyHolds(At("in")) && NobodyHolds(At("key")));
        ExpectRunOver();
    }
}

TEST_F(RunTest, ProgressDialogOfARun)
{
    // Bar steps: every byte up to 200 bytes, above that every
    // trunc(0.01f * size) bytes, as the engine paces them.
    const struct { std::size_t size; int steps; } table[] = {
        {0, 0}, {5, 5}, {100, 100}, {101, 101}, {250, 125}, {10000, 101},
    };
    Write("key", RandomBytes(rng_, 11));
    SetKey(At("key"));
    MessageBoxCapture messages;
    for (const auto &row : table) {
        for (int mode : {ENCRYPT, DECRYPT}) {
            SCOPED_TRACE(testing::Message() << "size " << row.size << " mode " << mode);
            Bytes input = RandomBytes(rng_, row.size);
            Write("in", input);
            ProgressWatch watch;
            Algorithm(mode, At("in").c_str(), At("out").c_str());
            EXPECT_TRUE(messages.Take().empty());
            EXPECT_TRUE(ReferenceOutput(mode, input, Read("key")) == Read("out"));

            ASSERT_EQ(1, watch.dialogs);
            EXPECT_EQ(hwndMain, watch.owner);
            EXPECT_TRUE(watch.visibleWhenFilled);
            std::string header = mode == ENCRYPT ? "Encrypting..." : "Decrypting...";
            EXPECT_EQ((std::vector<std::pair<int, std::string>>{
                          {ID_FROMFILEV, At("in")}, {ID_TOFILEV, At("out")}, {ID_KEYV, At("key")}, {ID_PHEADER, header}}),
                      watch.texts);
            // The bar: range 1 to 100 from position 1 in steps of 1, then the steps.
            ASSERT_GE(watch.bar.size(), 3u);
            EXPECT_EQ(static_cast<UINT>(PBM_SETRANGE), watch.bar[0].msg);
            EXPECT_EQ(0u, watch.bar[0].wParam);
            EXPECT_EQ(MAKELPARAM(1, 100), watch.bar[0].lParam);
            EXPECT_EQ(static_cast<UINT>(PBM_SETPOS), watch.bar[1].msg);
            EXPECT_EQ(1u, watch.bar[1].wParam);
            EXPECT_EQ(static_cast<UINT>(PBM_SETSTEP), watch.bar[2].msg);
            EXPECT_EQ(1u, watch.bar[2].wParam);
            for (std::size_t i = 3; i < watch.bar.size(); ++i) {
                EXPECT_EQ(static_cast<UINT>(PBM_STEPIT), watch.bar[i].msg);
                EXPECT_EQ(0u, watch.bar[i].wParam);
                EXPECT_EQ(0, watch.bar[i].lParam);
            }
            EXPECT_EQ(row.steps, watch.steps);
            EXPECT_EQ(row.steps, RunWith(mode, input, Read("key"), static_cast<int>(row.size)).incrementCalls);

            // Painted before each step and before it goes; gone at the end
            // of the run, showing what the run put in.
            EXPECT_EQ(row.steps + 1, watch.paintChecks);
            EXPECT_EQ(0, watch.leftUnpainted);
            ASSERT_TRUE(watch.destroyed);
            EXPECT_FALSE(IsWindow(watch.dialog));
            EXPECT_EQ("Vantrel", watch.caption);
            EXPECT_EQ(header, watch.shownTexts[ID_PHEADER]);
            EXPECT_EQ(At("in"), watch.shownTexts[ID_FROMFILEV]);
            EXPECT_EQ(At("out"), watch.shownTexts[ID_TOFILEV]);
            EXPECT_EQ(At("key"), watch.shownTexts[ID_KEYV]);
            EXPECT_EQ(1, watch.range.iLow);
            EXPECT_EQ(100, watch.range.iHigh);
            if (row.steps < 100) {
                EXPECT_EQ(1 + row.steps, watch.position);
            }
            ExpectRunOver();
        }
    }
}

TEST_F(RunTest, OutputNamingTheInputOrKeyIsRefused)
{
    Bytes plain = RandomBytes(rng_, 500), key = {9, 8, 7};
    Write("a-long-input-name.data", plain);
    Write("key", key);
    ASSERT_TRUE(CreateHardLinkA(At("link").c_str(), At("a-long-input-name.data").c_str(), nullptr));
    char shortName[MAX_PATH] = "";
    ASSERT_NE(0u, GetShortPathNameA(At("a-long-input-name.data").c_str(), shortName, sizeof shortName));
    ASSERT_NE(At("a-long-input-name.data"), std::string(shortName));
    std::string slashes = At("key");
    for (char &c : slashes)
        c = c == '\\' ? '/' : c;
    WorkingIn here(folder_.Path());
    SetKey(At("key"));

    const std::string outputs[] = {
        "a-long-input-name.data", ".\\a-long-input-name.data", At("a-long-input-name.data"),
        "A-LONG-INPUT-NAME.DATA", shortName, "link", "key", "KEY", slashes,
        "..\\" + fs::path(folder_.Path()).filename().string() + "\\key",
    };
    MessageBoxCapture messages;
    for (const std::string &output : outputs) {
        SCOPED_TRACE(output);
        ProgressWatch watch;
        Algorithm(ENCRYPT, "a-long-input-name.data", output.c_str());
        ExpectOneError(messages.Take(), "Output file must differ from input and key files");
        EXPECT_EQ(0, watch.dialogs);
        EXPECT_TRUE(plain == Read("a-long-input-name.data"));
        EXPECT_TRUE(key == Read("key"));
        ExpectRunOver();
    }
    // A name for a file that does not exist yet is fine.
    Algorithm(ENCRYPT, "a-long-input-name.data", "new");
    EXPECT_TRUE(messages.Take().empty());
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, plain, key) == Read("new"));
}

TEST_F(RunTest, ReadErrorsDeleteTheOutput)
{
    if (!UnderWine())
        GTEST_SKIP() << "needs Wine's Z: drive for a file whose reads fail";
    // The first page of this process's own memory is never mapped: the file
    // opens, and every read of it fails.
    const std::string unreadable = "Z:\\proc\\self\\mem";
    Write("in", RandomBytes(rng_, 1000));
    Write("key", {5, 6});
    const struct { std::string input; std::string key; const char *message; } table[] = {
        {unreadable, At("key"), "Cannot read input file"},
        {At("in"), unreadable, "Cannot open key file"},
    };
    MessageBoxCapture messages;
    for (const auto &row : table) {
        SCOPED_TRACE(row.message);
        Write("out", kOld);
        SetKey(row.key);
        ProgressWatch watch;
        Algorithm(ENCRYPT, row.input.c_str(), At("out").c_str());
        ExpectOneError(messages.Take(), row.message);
        EXPECT_EQ(1, watch.dialogs);
        EXPECT_FALSE(Exists(At("out")));
        EXPECT_FALSE(Greyed(IDM_ENCRYPT));
        ExpectRunOver();
    }
}

TEST_F(RunTest, KeyChangedDuringTheRunEndsIt)
{
    // A key larger than what is held in memory is read from its file all
    // through the run. It is emptied, or shortened, at the first step.
    Bytes input = RandomBytes(rng_, 3 << 20);
    Write("in", input);
    MessageBoxCapture messages;
    for (std::uintmax_t shortened : {std::uintmax_t(0), std::uintmax_t(1000)}) {
        SCOPED_TRACE(shortened);
        Write("key", RandomBytes(rng_, KEY_IN_MEMORY_LIMIT + 100));
        Write("out", kOld);
        SetKey(At("key"));
        ProgressWatch watch;
        std::error_code resized;
        watch.atStep = [&](int step) {
            if (step == 1)
                fs::resize_file(At("key"), shortened, resized);
        };
        Algorithm(ENCRYPT, At("in").c_str(), At("out").c_str());
        EXPECT_FALSE(resized) << resized.message();
        ExpectOneError(messages.Take(), "Cannot open key file");
        EXPECT_GE(watch.steps, 1);
        EXPECT_LT(watch.steps, 100) << "the run ended early";
        EXPECT_FALSE(Exists(At("out")));
        ExpectRunOver();
    }
}

// A small volume that fills up: mounted for the test run (as root) and seen
// through Wine's Z: drive.
TEST_F(RunTest, FullDiskDeletesTheOutput)
{
    std::string volume = std::string("Z:") + VANTREL_FULL_DISK;
    for (char &c : volume)
        c = c == '/' ? '\\' : c;
    ULARGE_INTEGER total{}, free{};
    if (!GetDiskFreeSpaceExA((volume + "\\").c_str(), nullptr, &total, &free) || total.QuadPart > (1u << 20))
        GTEST_SKIP() << "no small volume mounted at " << VANTREL_FULL_DISK << " (mounted as a tmpfs when the "
                     << "tests run as root)";
    ASSERT_GT(free.QuadPart, 4096u);
    std::string out = volume + "\\out";
    Write("key", {3, 1, 4});
    SetKey(At("key"));
    MessageBoxCapture messages;

    // A file that fits is written...
    Bytes small = RandomBytes(rng_, 1000);
    Write("small", small);
    Algorithm(ENCRYPT, At("small").c_str(), out.c_str());
    EXPECT_TRUE(messages.Take().empty());
    EXPECT_TRUE(ReferenceOutput(ENCRYPT, small, {3, 1, 4}) == ReadFileBytes(out));
    ASSERT_TRUE(DeleteFileA(out.c_str()));

    // ... one that does not is reported and deleted: much larger than the
    // room, and just larger.
    for (std::uint64_t size : {std::uint64_t(1) << 20, free.QuadPart + 100}) {
        SCOPED_TRACE(size);
        Write("big", RandomBytes(rng_, static_cast<std::size_t>(size)));
        Algorithm(ENCRYPT, At("big").c_str(), out.c_str());
        ExpectOneError(messages.Take(), "Cannot write output file");
        EXPECT_FALSE(Exists(out));
        ULARGE_INTEGER freeAfter{};
        GetDiskFreeSpaceExA((volume + "\\").c_str(), nullptr, nullptr, &freeAfter);
        EXPECT_EQ(free.QuadPart, freeAfter.QuadPart) << "the room is given back";
        ExpectRunOver();
    }
}

// --- the engine's callbacks over the module's streams ---

TEST_F(RunTest, CallbacksOverTheStreamsGiveTheRunsBytes)
{
    const struct { std::size_t input; std::size_t key; } cases[] = {{0, 3}, {50, 7}, {3000, 5}, {400, 0}};
    for (const auto &c : cases) {
        for (int mode : {ENCRYPT, DECRYPT}) {
            SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key << " mode " << mode);
            Bytes input = RandomBytes(rng_, c.input), key = RandomBytes(rng_, c.key);
            Write("in", input);
            Write("key", key);
            SetKey(At("key"));
            Algorithm(mode, At("in").c_str(), At("by-run").c_str());

            fInFile = std::fopen(At("in").c_str(), "rb");
            fKeyFile = std::fopen(At("key").c_str(), "rb");
            fOutFile = std::fopen(At("by-callbacks").c_str(), "wb");
            hProgress = CreateDialogParamA(hInst, MAKEINTRESOURCEA(IDD_PROGRESS), hwndMain, Progress, 0);
            SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
            SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETPOS, 1, 0);
            SendDlgItemMessageA(hProgress, ID_PBAR, PBM_SETSTEP, 1, 0);
            static long keyCalls;
            keyCalls = 0;
            EncodeBuffer(mode, static_cast<int>(c.input), 0.01f, NextByte,
                         [] {
                             ++keyCalls;
                             return NextKeyVal();
                         },
                         OutputChar, Increment);
            int position = static_cast<int>(SendDlgItemMessageA(hProgress, ID_PBAR, PBM_GETPOS, 0, 0));
            DestroyWindow(hProgress);
            hProgress = nullptr;
            for (FILE **stream : {&fInFile, &fKeyFile, &fOutFile}) {
                ASSERT_NE(nullptr, *stream);
                std::fclose(*stream);
                *stream = nullptr;
            }
            EXPECT_TRUE(Read("by-run") == Read("by-callbacks"));
            RunRecord engine = RunWith(mode, input, key, static_cast<int>(c.input));
            EXPECT_TRUE(engine.output == Read("by-callbacks"));
            // An empty input still takes 1000 key values for the key state.
            EXPECT_EQ(engine.nextKeyCalls, keyCalls);
            if (c.input == 0) {
                EXPECT_EQ(1000 + 1, keyCalls);
            }
            if (engine.incrementCalls < 99) {
                EXPECT_EQ(1 + engine.incrementCalls, position);
            }
        }
    }
}

TEST_F(RunTest, KeyCallbackAfterTheKeyVanished)
{
    Write("key", {7, 8});
    fKeyFile = std::fopen(At("key").c_str(), "rb");
    ASSERT_NE(nullptr, fKeyFile);
    // The key file's name no longer reaches a file when it is read again.
    SetKey(At("gone"));
    EXPECT_EQ(7, NextKeyVal());
    EXPECT_EQ(8, NextKeyVal());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(-1, NextKeyVal());
    EXPECT_EQ(nullptr, fKeyFile);
}
