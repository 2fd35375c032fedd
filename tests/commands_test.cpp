// The Encrypt, Decrypt and Set Key commands with the real file check and
// run, under Wine. The platform's file dialogs and message boxes are replaced
// through this program's imports: the fakes record every request and answer
// from a plan, moving the current directory as the real dialogs do.

#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "dialog_test_support.h"
#include "file_support.h"
#include "filemngr.h"
#include "resource.h"
#include "vantrelwin.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// What a file dialog was asked, copied while it was up.
struct DialogRequest {
    bool save;
    DWORD structSize;
    HWND owner;
    bool hasFilter;
    Pairs filter;
    bool hasCustomFilter;
    DWORD filterIndex;
    std::string file;
    DWORD maxFile;
    bool hasInitialDir;
    std::string initialDir;
    std::string title;
    DWORD flags;
    std::string defaultExtension;
};

// How a fake dialog answers: a chosen path, or cancel (path empty). With
// `cutPath` it fills the whole buffer without a terminator.
struct DialogAnswer {
    std::string path;
    bool cutPath = false;
};

struct MessageRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

std::vector<DialogRequest> requests;
std::deque<DialogAnswer> plan;
std::vector<MessageRecord> messages;

Pairs FilterPairs(const char *list)
{
    Pairs pairs;
    while (list && *list) {
        std::string text = list;
        list += text.size() + 1;
        std::string pattern = list;
        list += pattern.size() + 1;
        pairs.emplace_back(text, pattern);
    }
    return pairs;
}

BOOL AnswerDialog(bool save, OPENFILENAMEA *ofn)
{
    DialogRequest request = {};
    request.save = save;
    request.structSize = ofn->lStructSize;
    request.owner = ofn->hwndOwner;
    request.hasFilter = ofn->lpstrFilter != nullptr;
    request.filter = FilterPairs(ofn->lpstrFilter);
    request.hasCustomFilter = ofn->lpstrCustomFilter != nullptr;
    request.filterIndex = ofn->nFilterIndex;
    request.file = ofn->lpstrFile ? ofn->lpstrFile : "";
    request.maxFile = ofn->nMaxFile;
    request.hasInitialDir = ofn->lpstrInitialDir != nullptr;
    request.initialDir = ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "";
    request.title = ofn->lpstrTitle ? ofn->lpstrTitle : "";
    request.flags = ofn->Flags;
    request.defaultExtension = ofn->lpstrDefExt ? ofn->lpstrDefExt : "";
    requests.push_back(request);

    if (plan.empty()) {
        ADD_FAILURE() << "a dialog that the test did not plan for";
        return FALSE;
    }
    DialogAnswer answer = plan.front();
    plan.pop_front();
    if (answer.cutPath) {
        std::memset(ofn->lpstrFile, 'x', ofn->nMaxFile);
        return TRUE;
    }
    if (answer.path.empty())
        return FALSE;
    if (answer.path.size() >= ofn->nMaxFile) {
        // The platform's answer to a buffer too small: the size needed in
        // the first two bytes, and failure.
        *reinterpret_cast<WORD *>(ofn->lpstrFile) = static_cast<WORD>(answer.path.size() + 1);
        return FALSE;
    }
    std::strcpy(ofn->lpstrFile, answer.path.c_str());
    // The real dialogs leave the current directory at the chosen folder.
    std::string folder = answer.path.substr(0, answer.path.find_last_of('\\'));
    SetCurrentDirectoryA(folder.c_str());
    return TRUE;
}

BOOL WINAPI FakeOpen(OPENFILENAMEA *ofn) { return AnswerDialog(false, ofn); }
BOOL WINAPI FakeSave(OPENFILENAMEA *ofn) { return AnswerDialog(true, ofn); }

int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    messages.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", style});
    return IDOK;
}

DWORD WINAPI CurrentDirectoryTooLong(DWORD size, LPSTR buffer)
{
    if (size > 0)
        buffer[0] = 'C';  // part of a path that did not fit: must not be used
    return 300;
}

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        requests.clear();
        plan.clear();
        messages.clear();
        hInst = GetModuleHandleA(nullptr);
        hwndMain = CreateOwnerWindow();
        ASSERT_NE(hwndMain, nullptr);
        SetMenu(hwndMain, LoadMenuA(hInst, MAKEINTRESOURCEA(IDVANTREL)));
        szKeyFile[0] = '\0';
        GetCurrentDirectoryA(sizeof startDir_, startDir_);
        // The commands start in a folder of their own, as a fresh program
        // starts in its working folder.
        SetCurrentDirectoryA(work_.Path().c_str());
        CreateDirectoryA(work_.Path("in").c_str(), nullptr);
        CreateDirectoryA(work_.Path("keys").c_str(), nullptr);
        key_ = Bytes{'p', 'a', 's', 's', ' ', 'p', 'h', 'r', 'a', 's', 'e', 0, 255, 17};
        WriteFileBytes(KeyPath(), key_);
        plain_.clear();
        for (int i = 0; i < 5000; ++i)
            plain_.push_back(static_cast<std::uint8_t>(i * 7 + i / 13));
        WriteFileBytes(In("report.txt"), plain_);
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDir_);
        DestroyWindow(hwndMain);
        EXPECT_TRUE(plan.empty()) << "a planned dialog was not shown";
    }

    std::string KeyPath() const { return work_.Path("keys\\key.bin"); }
    std::string In(const std::string &name) const { return work_.Path("in\\" + name); }

    void SetKeyTo(const std::string &path)
    {
        plan.push_back({path});
        SetKey();
    }

    // Whether Encrypt and Decrypt are greyed: both must agree.
    bool CommandsGreyed()
    {
        HMENU menu = GetMenu(hwndMain);
        bool encrypt = GetMenuState(menu, IDM_ENCRYPT, MF_BYCOMMAND) & MF_GRAYED;
        bool decrypt = GetMenuState(menu, IDM_DECRYPT, MF_BYCOMMAND) & MF_GRAYED;
        EXPECT_EQ(encrypt, decrypt);
        return encrypt;
    }
    void GreyCommands()
    {
        EnableMenuItem(GetMenu(hwndMain), IDM_ENCRYPT, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(GetMenu(hwndMain), IDM_DECRYPT, MF_BYCOMMAND | MF_GRAYED);
    }

    TempFolder work_;
    char startDir_[MAX_PATH] = "";
    Bytes key_, plain_;
    ImportPatch open_{"comdlg32.dll", "GetOpenFileNameA", reinterpret_cast<void *>(FakeOpen)};
    ImportPatch save_{"comdlg32.dll", "GetSaveFileNameA", reinterpret_cast<void *>(FakeSave)};
    ImportPatch box_{"user32.dll", "MessageBoxA", reinterpret_cast<void *>(FakeMessageBox)};
};

// The fields that every request of the commands shares.
void ExpectCommonRequest(const DialogRequest &request)
{
    EXPECT_EQ(request.structSize, 76u) << "the request without the later extension fields";
    EXPECT_EQ(request.owner, hwndMain);
    EXPECT_EQ(request.maxFile, 256u);
    EXPECT_FALSE(request.hasCustomFilter);
    EXPECT_EQ(request.defaultExtension, "") << "a name is used as typed";
}

struct CommandDesign {
    const char *name;
    void (*command)();
    int mode;
    Pairs openFilter;
    DWORD openIndex;
    const char *openPattern;
    const char *openTitle;
    Pairs saveFilter;
    DWORD saveIndex;
    const char *savePattern;
    const char *saveTitle;
};

const CommandDesign kEncrypt = {
    "Encrypt", Encrypt, ENCRYPT,
    {{"All files (*.*)", "*.*"}, {"Document files (*.doc)", "*.doc"},
     {"Executable files (*.exe)", "*.exe"}, {"Text files (*.txt)", "*.txt"}},
    0, "*.*", "Select file to encrypt",
    {{"VANTREL files (*.vtl)", "*.vtl"}}, 1, "*.vtl", "Select file to receive encrypted data"};

const CommandDesign kDecrypt = {
    "Decrypt", Decrypt, DECRYPT,
    {{"All files (*.*)", "*.*"}, {"VANTREL files (*.vtl)", "*.vtl"}},
    2, "*.vtl", "Select file to decrypt",
    {}, 0, "*.*", "Select file to receive decrypted data"};

// Each command asks for its input in the folder where the program stands,
// for its output in the input's folder, and runs the cipher over the files:
// Encrypt gives the engine's bytes for the key, Decrypt gives them back.
TEST_F(CommandsTest, EncryptThenDecryptAskWithTheirDialogsAndRunTheCipher)
{
    SetKeyTo(KeyPath());
    std::string cipherPath = In("report.vtl");
    std::string backPath = In("report back.txt");
    for (const CommandDesign *design : {&kEncrypt, &kDecrypt}) {
        SCOPED_TRACE(design->name);
        SetCurrentDirectoryA(work_.Path().c_str());
        requests.clear();
        messages.clear();
        bool encrypt = design->mode == ENCRYPT;
        plan.push_back({encrypt ? In("report.txt") : cipherPath});
        plan.push_back({encrypt ? cipherPath : backPath});
        design->command();

        ASSERT_EQ(requests.size(), 2u);
        const DialogRequest &open = requests[0], &save = requests[1];
        EXPECT_FALSE(open.save);
        ExpectCommonRequest(open);
        EXPECT_EQ(open.filter, design->openFilter);
        EXPECT_EQ(open.filterIndex, design->openIndex);
        EXPECT_EQ(open.file, design->openPattern);
        EXPECT_EQ(open.initialDir, work_.Path()) << "the program's current folder";
        EXPECT_EQ(open.title, design->openTitle);
        EXPECT_EQ(open.flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));

        EXPECT_TRUE(save.save);
        ExpectCommonRequest(save);
        EXPECT_TRUE(save.hasFilter) << "an empty list, not a missing one";
        EXPECT_EQ(save.filter, design->saveFilter);
        EXPECT_EQ(save.filterIndex, design->saveIndex);
        EXPECT_EQ(save.file, design->savePattern);
        EXPECT_EQ(save.initialDir, work_.Path("in")) << "the folder where the input was chosen";
        EXPECT_EQ(save.title, design->saveTitle);
        EXPECT_EQ(save.flags, static_cast<DWORD>(OFN_SHOWHELP | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
        EXPECT_TRUE(messages.empty());
    }
    Bytes cipher = ReadFileBytes(cipherPath);
    EXPECT_EQ(cipher, ReferenceOutput(ENCRYPT, plain_, key_));
    EXPECT_NE(cipher, plain_);
    EXPECT_EQ(ReadFileBytes(backPath), plain_);
}

// A cancelled dialog ends the command without a message, and no file is
// written or changed.
TEST_F(CommandsTest, CancelInEitherDialogTouchesNoFile)
{
    SetKeyTo(KeyPath());
    WriteFileBytes(In("old.vtl"), Bytes{1, 2, 3});
    for (void (*command)() : {Encrypt, Decrypt}) {
        requests.clear();
        messages.clear();
        plan.push_back({""});  // cancel the input dialog
        command();
        EXPECT_EQ(requests.size(), 1u) << "no output dialog";

        plan.push_back({In("report.txt")});
        plan.push_back({""});  // cancel the output dialog
        command();
        EXPECT_EQ(requests.size(), 3u);
        EXPECT_TRUE(messages.empty());
    }
    EXPECT_EQ(work_.Names("in"), (std::vector<std::string>{"old.vtl", "report.txt"}));
    EXPECT_EQ(ReadFileBytes(In("old.vtl")), (Bytes{1, 2, 3}));
    EXPECT_EQ(ReadFileBytes(In("report.txt")), plain_);
}

// An input that cannot be opened for shared reading (a folder, a file held
// open for writing by someone else) is refused before the output is asked.
TEST_F(CommandsTest, UnreadableInputGivesBadFilenameAndNoOutputDialog)
{
    SetKeyTo(KeyPath());
    HANDLE held = CreateFileA(In("report.txt").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    for (const std::string &input : {In("report.txt"), work_.Path("in")}) {
        for (void (*command)() : {Encrypt, Decrypt}) {
            SCOPED_TRACE(input);
            requests.clear();
            messages.clear();
            plan.push_back({input});
            command();
            EXPECT_EQ(requests.size(), 1u) << "no output dialog";
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, "Bad filename");
            EXPECT_EQ(messages[0].caption, "ERROR");
            EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_ICONERROR));
            EXPECT_EQ(messages[0].owner, hwndMain);
        }
    }
    CloseHandle(held);
    EXPECT_EQ(work_.Names("in"), std::vector<std::string>{"report.txt"});
}

// Set Key: its dialog, the key recorded, both commands enabled and the
// confirmation; the next Set Key opens on the key; cancel and an unusable
// file change nothing.
TEST_F(CommandsTest, SetKeyRecordsTheKeyAndEnablesBothCommands)
{
    GreyCommands();
    SetKeyTo(KeyPath());
    ASSERT_EQ(requests.size(), 1u);
    const DialogRequest &first = requests[0];
    ExpectCommonRequest(first);
    EXPECT_FALSE(first.hasFilter) << "no file types";
    EXPECT_EQ(first.filterIndex, 0u);
    EXPECT_EQ(first.file, "*.*");
    EXPECT_EQ(first.initialDir, work_.Path());
    EXPECT_EQ(first.title, "Select file to use as encryption key");
    EXPECT_EQ(first.flags, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
    EXPECT_STREQ(szKeyFile, KeyPath().c_str());
    EXPECT_FALSE(CommandsGreyed());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Key successfully set!");
    EXPECT_EQ(messages[0].caption, "") << "an empty caption, not the platform's default";
    EXPECT_EQ(messages[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(messages[0].owner, hwndMain);

    // Cancel keeps the key; so does a file that cannot be read shared.
    SetCurrentDirectoryA(work_.Path().c_str());
    plan.push_back({""});
    SetKey();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].file, KeyPath()) << "opens on the current key";
    EXPECT_EQ(requests[1].initialDir, work_.Path());
    WriteFileBytes(In("locked.bin"), Bytes{9});
    HANDLE held = CreateFileA(In("locked.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SetKeyTo(In("locked.bin"));
    CloseHandle(held);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "Bad filename");
    EXPECT_EQ(messages[1].caption, "ERROR");
    EXPECT_EQ(messages[1].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_STREQ(szKeyFile, KeyPath().c_str());
    EXPECT_FALSE(CommandsGreyed());

    // With the key lost (both greyed by a run), a failed choice leaves them
    // greyed and a good one enables both again.
    GreyCommands();
    plan.push_back({""});
    SetKey();
    SetKeyTo(work_.Path("in"));  // a folder
    EXPECT_TRUE(CommandsGreyed());
    SetKeyTo(In("report.txt"));
    EXPECT_STREQ(szKeyFile, In("report.txt").c_str());
    EXPECT_FALSE(CommandsGreyed());
    EXPECT_EQ(messages.back().text, "Key successfully set!");
}

// An empty file is a key like any other.
TEST_F(CommandsTest, EmptyKeyFileCanBeSet)
{
    GreyCommands();
    WriteFileBytes(work_.Path("keys\\empty"), Bytes{});
    SetKeyTo(work_.Path("keys\\empty"));
    EXPECT_STREQ(szKeyFile, work_.Path("keys\\empty").c_str());
    EXPECT_FALSE(CommandsGreyed());
}

// A current directory longer than the dialogs' 256 characters is not handed
// to them, not even in part: the dialogs get no initial folder.
TEST_F(CommandsTest, CurrentDirectoryThatDoesNotFitGivesNoInitialFolder)
{
    // A real folder of 257 characters: the platform allows it as current
    // directory, and GetCurrentDirectoryA then asks for a larger buffer.
    std::string deep = work_.Path("deep");
    CreateDirectoryA(deep.c_str(), nullptr);
    while (deep.size() < 230) {
        deep += "\\" + std::string(20, 'd');
        CreateDirectoryA(deep.c_str(), nullptr);
    }
    deep += "\\" + std::string(256 - deep.size(), 'e');
    ASSERT_EQ(deep.size(), 257u);
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    SetKeyTo(KeyPath());
    ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str()));
    plan.push_back({In("report.txt")});
    plan.push_back({""});
    Encrypt();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].hasInitialDir) << requests[0].initialDir;
    EXPECT_FALSE(requests[1].hasInitialDir) << requests[1].initialDir;
    EXPECT_EQ(requests[2].initialDir, work_.Path("in")) << "the input's folder fits again";
    SetCurrentDirectoryA(work_.Path().c_str());

    // Every dialog, as the platform answers for any directory too long.
    requests.clear();
    ImportPatch tooLong("kernel32.dll", "GetCurrentDirectoryA", reinterpret_cast<void *>(CurrentDirectoryTooLong));
    SetKeyTo(KeyPath());
    plan.push_back({In("report.txt")});
    plan.push_back({In("report.vtl")});
    Encrypt();
    plan.push_back({In("report.vtl")});
    plan.push_back({""});
    Decrypt();
    ASSERT_EQ(requests.size(), 5u);
    for (const DialogRequest &request : requests) {
        SCOPED_TRACE(request.title);
        EXPECT_FALSE(request.hasInitialDir) << request.initialDir;
    }
    EXPECT_EQ(ReadFileBytes(In("report.vtl")), ReferenceOutput(ENCRYPT, plain_, key_));
}

// A chosen path too long for the 256-character buffer makes the dialog fail;
// one returned without its terminator would be a cut path naming another
// file. Either way the command ends silently and changes nothing.
TEST_F(CommandsTest, PathsThatDoNotFitEndTheCommandSilently)
{
    SetKeyTo(KeyPath());
    messages.clear();
    requests.clear();
    std::string longName = std::string(300, 'k');
    for (DialogAnswer answer : {DialogAnswer{work_.Path(longName)}, DialogAnswer{"", true}}) {
        plan.push_back(answer);
        SetKey();
        EXPECT_STREQ(szKeyFile, KeyPath().c_str());
        plan.push_back(answer);
        Encrypt();
        plan.push_back({In("report.txt")});
        plan.push_back(answer);
        Decrypt();
    }
    EXPECT_EQ(requests.size(), 8u) << "no output dialog after a bad input path";
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(CommandsGreyed());
    EXPECT_EQ(work_.Names("in"), std::vector<std::string>{"report.txt"});
}

}  // namespace
