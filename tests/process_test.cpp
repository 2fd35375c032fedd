// The run under Wine on real files in a temporary folder: the bytes, the
// messages, the progress dialog, what failures leave behind; the file checks.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "dialog_test_support.h"
#include "file_support.h"
#include "filechk.h"
#include "filemngr.h"
#include "keysource.h"
#include "process.h"
#include "resource.h"
#include "vantrelwin.h"

// The program's globals, provided here until the shell defines them.
HINSTANCE hInst;
HWND hwndMain;
char szKeyFile[256];

namespace {

// The run's progress dialog, seen in the messages sent to it (it takes none from the queue).
struct ProgressWatch {
    static inline ProgressWatch *current;
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, Proc, nullptr, GetCurrentThreadId());
    int dialogs = 0, steps = 0, unpainted = 0;
    HWND dialog = nullptr;
    PBRANGE range = {-1, -1};
    std::vector<std::string> texts;        // at its end: header, input, output, key
    std::function<void(int step)> atStep;  // before the bar takes the step

    ProgressWatch() { current = this; }
    ~ProgressWatch() { UnhookWindowsHookEx(hook); }
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION && current)
            current->See(*reinterpret_cast<const CWPSTRUCT *>(lParam));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    void See(const CWPSTRUCT &m)
    {
        if (m.message == WM_INITDIALOG && GetDlgItem(m.hwnd, ID_PBAR)) {
            dialogs += GetWindow(m.hwnd, GW_OWNER) == hwndMain;
            dialog = m.hwnd;
        } else if (m.message == PBM_STEPIT && m.hwnd == GetDlgItem(dialog, ID_PBAR)) {
            // Nothing of the dialog waits for a paint since the step before.
            bool pending = GetUpdateRect(dialog, nullptr, FALSE);
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                pending = pending || GetUpdateRect(child, nullptr, FALSE);
            unpainted += pending;
            if (atStep)
                atStep(steps + 1);
            ++steps;
        } else if (m.message == WM_DESTROY && m.hwnd == dialog) {
            for (int id : {ID_PHEADER, ID_FROMFILEV, ID_TOFILEV, ID_KEYV})
                texts.push_back(WindowText(GetDlgItem(dialog, id)));
            SendDlgItemMessageA(dialog, ID_PBAR, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        }
    }
};

// fopen as the run sees it: failing for the names in `unopenable`.
std::vector<std::string> unopenable;
ImportPatch *fopenPatch;

FILE *__cdecl SelectiveFopen(const char *path, const char *mode)
{
    if (std::count(unopenable.begin(), unopenable.end(), path))
        return nullptr;
    return fopenPatch->original<FILE *(__cdecl *)(const char *, const char *)>()(path, mode);
}

const Bytes kOld = {'o', 'l', 'd'};

// A main window with the program's menu, and a temporary folder.
class RunTest : public testing::Test {
protected:
    void SetUp() override
    {
        LoadCommonControls();
        hInst = GetModuleHandleA(nullptr);
        hwndMain = CreateOwnerWindow();
        SetMenu(hwndMain, LoadMenuA(hInst, MAKEINTRESOURCEA(IDVANTREL)));
    }
    void TearDown() override { DestroyWindow(hwndMain); }

    std::string At(const std::string &name) const { return folder_.Path(name); }
    void Write(const std::string &name, const Bytes &bytes) { WriteFileBytes(At(name), bytes); }
    Bytes Read(const std::string &name) const { return ReadFileBytes(At(name)); }
    static void UseKey(const std::string &path) { std::snprintf(szKeyFile, sizeof szKeyFile, "%s", path.c_str()); }

    // Runs Algorithm: it must show `error` alone (nothing if empty) and leave
    // nothing open, and no temporary file beside the output.
    void Run(int mode, const std::string &in, const std::string &out, const std::string &error = "")
    {
        Algorithm(mode, in.c_str(), out.c_str());
        EXPECT_TRUE(!fInFile && !fKeyFile && !fOutFile && !hProgress) << "a stream or the dialog is left";
        fs::path folder = fs::absolute(out).parent_path();
        EXPECT_TRUE(!fs::is_directory(folder) || TemporaryFiles(folder).empty()) << "a temporary file is left";
        std::vector<MessageBoxCapture::Shown> shown = messages_.Take();
        ASSERT_EQ(shown.size(), error.empty() ? 0u : 1u) << (shown.empty() ? "no message" : shown[0].text);
        if (error.empty())
            return;
        EXPECT_EQ(std::tie(shown[0].text, shown[0].caption, shown[0].style, shown[0].owner),
                  std::make_tuple(error, std::string("ERROR"), static_cast<UINT>(MB_ICONERROR), hwndMain));
    }

    TempFolder folder_;
    std::mt19937_64 rng_{TestSeed()};
    MessageBoxCapture messages_;
};

// The SID of the user the test runs as, as text.
std::string UserSid()
{
    HANDLE token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    unsigned char buffer[256];
    DWORD length = 0;
    char *text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length))
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &text);
    CloseHandle(token);
    std::string sid = text ? text : "";
    LocalFree(text);
    return sid;
}

// A file's access rules (its DACL), as text and from text.
std::string AccessRules(const std::string &path)
{
    unsigned char buffer[1024];
    DWORD length = 0;
    char *text = nullptr;
    if (GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &length))
        ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr);
    std::string rules = text ? text : "";
    LocalFree(text);
    return rules;
}

void SetAccessRules(const std::string &path, const std::string &rules)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(rules.c_str(), SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    EXPECT_TRUE(SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    LocalFree(descriptor);
    ASSERT_EQ(AccessRules(path), rules);
}

}  // namespace

TEST_F(RunTest, WholeFilesGiveTheEngineBytesAndBackUnderTheProgressDialog)
{
    // An empty input; keys empty, of one byte, shorter than the input
    // (cycled), longer, too long to be held in memory. The bar steps once a
    // byte up to 200 bytes, then every trunc(0.01f * size) (a bit under 1%).
    const struct { std::size_t input, key; int steps; } cases[] = {
        {0, 7, 0}, {5, 1, 5}, {100, 0, 100}, {101, 37, 101}, {250, 5000, 125}, {10000, 3, 101},
        {70000, 37, 100}, {5000, KEY_IN_MEMORY_LIMIT + 17, 102},
    };
    // Full names of up to 255 characters, the most the dialogs give: the
    // temporary file beside "sealed" has a longer one.
    const fs::path deep = At(std::string(248 - folder_.Path().size() - 1, 'd'));
    fs::create_directory(deep);
    auto at = [&](const char *name) { return (deep / name).string(); };
    ASSERT_EQ(at("sealed").size(), 255u);
    // The outputs are kept from everyone but their owner and the system:
    // their replacements are too.
    const std::string ownerOnly = "D:(A;;FA;;;SY)(A;;FA;;;" + UserSid() + ")";
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input << " key " << c.key);
        Bytes plain = RandomBytes(rng_, c.input), key = RandomBytes(rng_, c.key);
        WriteFileBytes(at("plain"), plain);
        WriteFileBytes(at("key"), key);
        for (const char *out : {"sealed", "back"}) {
            WriteFileBytes(at(out), kOld);  // replaced, and only at the end
            SetAccessRules(at(out), ownerOnly);
        }
        UseKey(at("key"));
        for (int mode : {ENCRYPT, DECRYPT}) {
            std::string in = at(mode == ENCRYPT ? "plain" : "sealed");
            std::string out = at(mode == ENCRYPT ? "sealed" : "back");
            ProgressWatch watch;
            int oldAtStep = 0;
            watch.atStep = [&](int) { oldAtStep += ReadFileBytes(out) == kOld && TemporaryFiles(deep).size() == 1; };
            Run(mode, in, out);
            EXPECT_EQ(oldAtStep, watch.steps) << "the output as it was, a temporary file beside it";
            EXPECT_EQ(watch.dialogs, 1) << "one progress dialog, owned by the main window";
            std::string header = mode == ENCRYPT ? "Encrypting..." : "Decrypting...";
            EXPECT_EQ(watch.texts, (std::vector<std::string>{header, in, out, at("key")}));
            EXPECT_TRUE(watch.range.iLow == 1 && watch.range.iHigh == 100);
            EXPECT_EQ(watch.steps, c.steps);
            EXPECT_EQ(watch.unpainted, 0) << "painted after each step";
            EXPECT_FALSE(IsWindow(watch.dialog)) << "destroyed at the end of the run";
        }
        EXPECT_TRUE(ReadFileBytes(at("sealed")) == ReferenceOutput(ENCRYPT, plain, key));
        EXPECT_TRUE(ReadFileBytes(at("back")) == plain);
        EXPECT_EQ(AccessRules(at("sealed")) + AccessRules(at("back")), ownerOnly + ownerOnly);
    }
}

TEST_F(RunTest, FailuresInTheirOrderLeaveEveryFileAlone)
{
    const std::string in = "long-input.data", kDiffer = "Output file must differ from input and key files";
    const std::string kCannotOpen = "Cannot open output file";
    const Bytes input = RandomBytes(rng_, 1000), key = {1, 2, 3};
    Write(in, input);
    Write("key", key);
    // Outputs that could not be replaced: read-only, and held open by
    // someone who lets others write but not delete.
    Write("readonly", kOld);
    SetFileAttributesA(At("readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    Write("held", kOld);
    HANDLE held = CreateFileA(At("held").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    CreateDirectoryA(At("folder").c_str(), nullptr);
    ASSERT_TRUE(CreateHardLinkA(At("link").c_str(), At(in).c_str(), nullptr));
    char shortName[MAX_PATH] = "";
    GetShortPathNameA(At(in).c_str(), shortName, sizeof shortName);
    ImportPatch patch("msvcrt.dll", "fopen", reinterpret_cast<void *>(SelectiveFopen));
    fopenPatch = &patch;
    // Names relative to the folder, the current one. Each row also carries
    // the faults of the rows after it where it can: the first is reported.
    const struct {
        std::string input, key, output;
        std::vector<std::string> unopenable;
        std::string message;
    } table[] = {
        {"missing", "nokey", in, {in, "key"}, "Bad input file"},
        {in, "nokey", in, {in, "key"}, "Bad key file"},
        {in, "key", in, {in, "key"}, "Cannot open input file"},
        {in, "key", in, {"key"}, "Cannot open key file"},
        // The output is the input or the key, however named.
        {in, "key", "LONG-INPUT.DATA", {}, kDiffer},
        {in, "key", At(in), {}, kDiffer},
        {in, "key", shortName, {}, kDiffer},
        {in, "key", "link", {}, kDiffer},
        {in, "key", "..\\" + fs::path(folder_.Path()).filename().string() + "\\KEY", {}, kDiffer},
        {in, "key", "folder", {}, kCannotOpen},
        {in, "key", "nofolder\\out", {}, kCannotOpen},
        {in, "key", "readonly", {}, kCannotOpen},
        {in, "key", "held", {}, kCannotOpen},
    };
    const fs::path before = fs::current_path();
    fs::current_path(folder_.Path());
    for (const auto &row : table) {
        SCOPED_TRACE(row.message + " from " + row.input + ", " + row.key + ", " + row.output);
        for (int id : {IDM_ENCRYPT, IDM_DECRYPT})
            EnableMenuItem(GetMenu(hwndMain), id, MF_BYCOMMAND | MF_ENABLED);
        UseKey(row.key);
        unopenable = row.unopenable;
        ProgressWatch watch;
        Run(ENCRYPT, row.input, row.output, row.message);
        for (int id : {IDM_ENCRYPT, IDM_DECRYPT})
            EXPECT_EQ(GetMenuState(GetMenu(hwndMain), id, MF_BYCOMMAND) & MF_GRAYED,
                      row.message == "Bad key file" ? MF_GRAYED : 0u);
        EXPECT_EQ(watch.dialogs, 0);
        EXPECT_TRUE(Read(in) == input && Read("key") == key && Read("readonly") == kOld && Read("held") == kOld);
        EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"folder", "held", "key", "link", in, "readonly"}));
    }
    fs::current_path(before);
    CloseHandle(held);
    SetFileAttributesA(At("readonly").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(RunTest, FailuresDuringTheRunKeepTheOutputAsItWas)
{
    // Wine's view of this process's memory opens, and fails at its first read.
    const std::string unreadable = "Z:\\proc\\self\\mem";
    // A 64 KiB volume, mounted for the tests when they run as root (full_disk.sh).
    const std::string volume = "Z:" VANTREL_FULL_DISK "/";
    ULARGE_INTEGER total{}, room{};
    bool small = GetDiskFreeSpaceExA(volume.c_str(), nullptr, &total, &room) && total.QuadPart <= (1u << 20);
    if (!small)
        std::printf("No small volume at " VANTREL_FULL_DISK ": no full-disk check.\n");
    const std::uintmax_t size = 3 << 20;
    Write("just-more", RandomBytes(rng_, static_cast<std::size_t>(room.QuadPart) + 100));
    const std::string kChanged = "Input file changed during the run: nothing was written";
    // At the first step of the bar: a file resized (none when `resize` is
    // empty). A key too long to be held in memory is read all through the
    // run; an input that grows or shrinks is no longer the one measured.
    const struct {
        std::string input, key, output;
        std::string resize;
        std::uintmax_t to;
        const char *message;
    } table[] = {
        {unreadable, "key", "out", "", 0, "Cannot read input file"},
        {"in", unreadable, "out", "", 0, "Cannot open key file"},
        {"in", "key", "out", "key", 0, "Cannot open key file"},
        {"in", "key", "out", "key", 1000, "Cannot open key file"},
        {"in", "key", "out", "in", size + 100000, kChanged.c_str()},
        {"in", "key", "new", "in", 1000, kChanged.c_str()},  // a new output stays absent
        {"in", "key", volume + "out", "", 0, "Cannot write output file"},
        {"just-more", "key", volume + "out", "", 0, "Cannot write output file"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.message + (" to " + row.output));
        if (row.output != "out" && row.output != "new" && !small)
            continue;
        Write("in", RandomBytes(rng_, size));
        Write("key", RandomBytes(rng_, KEY_IN_MEMORY_LIMIT + 100));
        if (row.output != "new")
            Write(row.output, kOld);
        UseKey(At(row.key));
        ProgressWatch watch;
        std::error_code resized;
        watch.atStep = [&](int step) {
            if (step == 1 && !row.resize.empty())
                fs::resize_file(At(row.resize), row.to, resized);
        };
        Run(ENCRYPT, At(row.input), At(row.output), row.message);
        EXPECT_FALSE(resized) << resized.message();
        EXPECT_TRUE(row.resize.empty() || row.to > size || watch.steps < 100) << "the run ended early";
        if (row.output == "new")
            EXPECT_FALSE(fs::exists(At(row.output)));
        else
            EXPECT_TRUE(Read(row.output) == kOld);
    }
}

TEST(FileChecks, IsFileWhenOthersLetUsReadFileSizeTheLow32Bits)
{
    TempFolder folder;
    const std::string file = folder.Path("file");
    WriteFileBytes(file, {1, 2, 3});
    EXPECT_FALSE(IsFile(folder.Path("missing").c_str()));
    EXPECT_FALSE(IsFile(folder.Path().c_str())) << "a folder";
    // Held by another handle: usable while that one shares reading and does
    // not write. Each open here fails if IsFile left a handle open.
    const struct { DWORD access, share; BOOL usable; } held[] = {
        {GENERIC_READ, FILE_SHARE_READ, TRUE}, {GENERIC_READ, 0, FALSE}, {GENERIC_WRITE, FILE_SHARE_READ, FALSE}};
    for (const auto &other : held) {
        HANDLE handle = CreateFileA(file.c_str(), other.access, other.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(IsFile(file.c_str()), other.usable) << other.access << " " << other.share;
        CloseHandle(handle);
    }
    const std::string path = folder.Path("sparse");
    WriteFileBytes(path, {});
    // Resized files are sparse: this is instant.
    const std::pair<LONGLONG, LONG> table[] = {{5, 5}, {(1LL << 32) + 5, 5}, {1LL << 31, INT_MIN}};
    for (const auto &[size, expected] : table) {
        std::error_code unsized;
        fs::resize_file(path, size, unsized);
        if (unsized)
            GTEST_SKIP() << "this file system holds no file of " << size << " bytes: " << unsized.message();
        EXPECT_EQ(FileSize(path.c_str()), expected) << size;
    }
}
