// What the end-to-end test cannot see from outside the program: the file
// dialogs' requests (recorded by replacing this program's imports of them),
// paths that do not fit the commands' buffers, start-up that fails, and the
// shipped vantrel.exe's image.

#include <windows.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "file_support.h"
#include "filemngr.h"
#include "vantrelwin.h"

namespace {

// What a file dialog was asked. The filter list is shown with '|' for each
// NUL, or "(none)" when there is none.
struct Request {
    bool save;
    DWORD structSize, filterIndex, flags, maxFile;
    HWND owner;
    std::string filter, file, title;
    bool hasFolder;
    std::string folder;  // the initial folder
};

constexpr char kCutPath[] = "(cut)";  // an answer that fills the buffer without a NUL

std::vector<Request> requests;
std::deque<std::string> answers;  // a path chosen, or "" to cancel

// The fake dialogs answer from `answers`; a chosen path moves the current
// directory to its folder, as the real dialogs do.
BOOL Answer(bool save, OPENFILENAMEA *ofn)
{
    std::string filter = "(none)";
    if (ofn->lpstrFilter) {
        filter.clear();
        for (const char *at = ofn->lpstrFilter; *at; at += std::strlen(at) + 1)
            filter += std::string(at) + "|";
    }
    requests.push_back({save, ofn->lStructSize, ofn->nFilterIndex, ofn->Flags, ofn->nMaxFile, ofn->hwndOwner,
                        filter, ofn->lpstrFile, ofn->lpstrTitle, ofn->lpstrInitialDir != nullptr,
                        ofn->lpstrInitialDir ? ofn->lpstrInitialDir : ""});
    std::string answer = answers.empty() ? "" : answers.front();
    if (!answers.empty())
        answers.pop_front();
    if (answer == kCutPath)
        std::memset(ofn->lpstrFile, 'x', ofn->nMaxFile);
    else if (answer.empty())
        return FALSE;
    else {
        std::strcpy(ofn->lpstrFile, answer.c_str());
        SetCurrentDirectoryA(answer.substr(0, answer.find_last_of('\\')).c_str());
    }
    return TRUE;
}

BOOL WINAPI FakeOpen(OPENFILENAMEA *ofn) { return Answer(false, ofn); }
BOOL WINAPI FakeSave(OPENFILENAMEA *ofn) { return Answer(true, ofn); }

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        requests.clear();
        answers.clear();
        hInst = GetModuleHandleA(nullptr);
        hwndMain = CreateOwnerWindow();
        szKeyFile[0] = '\0';
        GetCurrentDirectoryA(sizeof startDir_, startDir_);
        SetCurrentDirectoryA(work_.Path().c_str());
        WriteFileBytes(File(), Bytes{'d', 'a', 't', 'a'});
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDir_);
        DestroyWindow(hwndMain);
        EXPECT_TRUE(answers.empty()) << "a planned dialog was not shown";
    }
    std::string File() const { return work_.Path("file.txt"); }

    TempFolder work_;
    char startDir_[MAX_PATH] = "";
    ImportPatch open_{"comdlg32.dll", "GetOpenFileNameA", reinterpret_cast<void *>(FakeOpen)};
    ImportPatch save_{"comdlg32.dll", "GetSaveFileNameA", reinterpret_cast<void *>(FakeSave)};
    MessageBoxCapture messages_;
};

// Set Key, then Encrypt and Decrypt up to their save dialogs (cancelled):
// the five requests in order. All are the 76-byte request of Windows NT 4
// (no places bar) over 256-character buffers, owned by the main window.
TEST_F(Commands, FileDialogRequests)
{
    constexpr DWORD kOpen = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    constexpr DWORD kSave = OFN_SHOWHELP | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    const struct {
        bool save;
        const char *title, *filter;
        DWORD filterIndex;
        const char *pattern;
        DWORD flags;
    } designed[] = {
        {false, "Select file to use as encryption key", "(none)", 0, "*.*", kOpen},
        {false, "Select file to encrypt",
         "All files (*.*)|*.*|Document files (*.doc)|*.doc|Executable files (*.exe)|*.exe|Text files (*.txt)|*.txt|",
         0, "*.*", kOpen},
        {true, "Select file to receive encrypted data", "VANTREL files (*.vtl)|*.vtl|", 1, "*.vtl", kSave},
        {false, "Select file to decrypt", "All files (*.*)|*.*|VANTREL files (*.vtl)|*.vtl|", 2, "*.vtl", kOpen},
        {true, "Select file to receive decrypted data", "", 0, "*.*", kSave},
    };
    answers = {File(), File(), "", File(), ""};
    SetKey();
    Encrypt();
    Decrypt();
    ASSERT_EQ(requests.size(), std::size(designed));
    for (size_t i = 0; i < requests.size(); ++i) {
        const Request &request = requests[i];
        SCOPED_TRACE(designed[i].title);
        EXPECT_EQ(request.save, designed[i].save);
        EXPECT_EQ(request.title, designed[i].title);
        EXPECT_EQ(request.filter, designed[i].filter);
        EXPECT_EQ(request.filterIndex, designed[i].filterIndex);
        EXPECT_EQ(request.file, designed[i].pattern);
        EXPECT_EQ(request.flags, designed[i].flags);
        EXPECT_EQ(request.structSize, 76u);
        EXPECT_EQ(request.maxFile, 256u);
        EXPECT_EQ(request.owner, hwndMain);
        EXPECT_EQ(request.folder, work_.Path());
    }
    EXPECT_STREQ(szKeyFile, File().c_str());
}

// A current directory longer than the dialogs' 256 characters is not handed
// to them, not even in part. A chosen path returned without its terminator
// would be cut into the name of some other file: the command ends silently.
TEST_F(Commands, PathsThatDoNotFit)
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
    answers = {"", File(), ""};
    SetKey();
    Encrypt();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].hasFolder) << requests[0].folder;
    EXPECT_FALSE(requests[1].hasFolder) << requests[1].folder;
    EXPECT_EQ(requests[2].folder, work_.Path()) << "the input's folder fits again";

    answers = {kCutPath, kCutPath, File(), kCutPath};
    SetKey();
    Encrypt();
    Decrypt();
    EXPECT_EQ(requests.size(), 7u) << "no save dialog after a cut input";
    EXPECT_STREQ(szKeyFile, "");
    EXPECT_TRUE(messages_.Take().empty());
    EXPECT_EQ(work_.Names(), (std::vector<std::string>{"deep", "file.txt"}));
}

HWND WINAPI RefuseWindow(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID)
{
    return nullptr;
}

void CALLBACK EndTheLoop(HWND, UINT, UINT_PTR, DWORD)
{
    PostQuitMessage(99);
}

// Start-up that cannot register its window class or create its main window
// ends at once with 0: no About box, no message loop waiting for a user
// (one would be ended with 99 here).
TEST(WinMain, RefusedClassOrFailedWindowEndsWithZero)
{
    HINSTANCE self = GetModuleHandleA(nullptr);
    UINT_PTR timer = SetTimer(nullptr, 0, 5000, EndTheLoop);
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = self;
    taken.lpszClassName = "vantrelwinWndClass";
    ASSERT_NE(RegisterClassA(&taken), 0);  // the program's own registration now fails
    hwndMain = nullptr;
    EXPECT_EQ(WinMain(self, nullptr, const_cast<LPSTR>(""), SW_SHOW), 0);
    EXPECT_EQ(hwndMain, nullptr);
    UnregisterClassA("vantrelwinWndClass", self);
    {
        ImportPatch patch("user32.dll", "CreateWindowExA", reinterpret_cast<void *>(RefuseWindow));
        EXPECT_EQ(WinMain(self, nullptr, const_cast<LPSTR>(""), SW_SHOW), 0);
    }
    EXPECT_EQ(hwndMain, nullptr);
    UnregisterClassA("vantrelwinWndClass", self);
    KillTimer(nullptr, timer);
}

// build/win32/vantrel.exe is a GUI program (no console window) that needs
// no DLL beside those every Windows since NT 4 carries.
TEST(ProgramImage, IsAGuiProgramNeedingOnlySystemDlls)
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program = path;
    program.erase(program.find_last_of('\\'));  // build/win32/tests
    program.erase(program.find_last_of('\\') + 1);
    program += "vantrel.exe";
    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(image, nullptr) << program;
    auto *base = reinterpret_cast<const BYTE *>(image);
    auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    const std::set<std::string> system = {"KERNEL32.DLL", "USER32.DLL",   "GDI32.DLL",  "COMCTL32.DLL",
                                          "COMDLG32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
    auto *entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    int dlls = 0;
    for (; entry->Name; ++entry, ++dlls) {
        std::string dll = reinterpret_cast<const char *>(base + entry->Name);
        for (char &c : dll)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(system.count(dll)) << dll << " would have to ship beside the program";
    }
    EXPECT_GE(dlls, 3);
    FreeLibrary(image);
}

}  // namespace
