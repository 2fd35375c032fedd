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

// Each file dialog request as one line: open or save, title, filter list
// ('|' for each NUL, "-" when there is none), filter index, initial name,
// flags; and its initial folder, "-" when there is none.
std::vector<std::string> requests, folders;
std::deque<std::string> answers;  // a path chosen, or "" to cancel
constexpr char kCutPath[] = "(cut)";  // an answer that fills the buffer without a NUL

// The fake dialogs answer from `answers`; a chosen path moves the current
// directory to its folder, as the real dialogs do. Every request must be
// the 76-byte one of Windows NT 4 (no places bar) over 256-character
// buffers, owned by the main window.
BOOL Answer(const char *kind, OPENFILENAMEA *ofn)
{
    EXPECT_EQ(ofn->lStructSize, 76u);
    EXPECT_EQ(ofn->nMaxFile, 256u);
    EXPECT_EQ(ofn->hwndOwner, hwndMain);
    std::string line = std::string(kind) + " " + ofn->lpstrTitle + ": " + (ofn->lpstrFilter ? "" : "-");
    for (const char *at = ofn->lpstrFilter; at && *at; at += std::strlen(at) + 1)
        line += std::string(at) + "|";
    requests.push_back(line + " " + std::to_string(ofn->nFilterIndex) + " " + ofn->lpstrFile + " " +
                       std::to_string(ofn->Flags));
    folders.push_back(ofn->lpstrInitialDir ? ofn->lpstrInitialDir : "-");
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

BOOL WINAPI FakeOpen(OPENFILENAMEA *ofn) { return Answer("open", ofn); }
BOOL WINAPI FakeSave(OPENFILENAMEA *ofn) { return Answer("save", ofn); }

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        requests.clear();
        folders.clear();
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
// the five requests in order, all in the current folder.
TEST_F(Commands, FileDialogRequests)
{
    const std::string open = " " + std::to_string(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
    const std::string save = " " + std::to_string(OFN_SHOWHELP | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    const std::vector<std::string> designed = {
        "open Select file to use as encryption key: - 0 *.*" + open,
        "open Select file to encrypt: All files (*.*)|*.*|Document files (*.doc)|*.doc|"
        "Executable files (*.exe)|*.exe|Text files (*.txt)|*.txt| 0 *.*" + open,
        "save Select file to receive encrypted data: VANTREL files (*.vtl)|*.vtl| 1 *.vtl" + save,
        "open Select file to decrypt: All files (*.*)|*.*|VANTREL files (*.vtl)|*.vtl| 2 *.vtl" + open,
        "save Select file to receive decrypted data:  0 *.*" + save,
    };
    answers = {File(), File(), "", File(), ""};
    SetKey();
    Encrypt();
    Decrypt();
    EXPECT_EQ(requests, designed);
    EXPECT_EQ(folders, std::vector<std::string>(5, work_.Path()));
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
    EXPECT_EQ(folders, (std::vector<std::string>{"-", "-", work_.Path()})) << "the input's folder fits again";

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
    GetModuleFileNameA(nullptr, path, sizeof path);  // build/win32/tests/shell_test.exe
    std::string program = path;
    program = program.substr(0, program.rfind('\\', program.rfind('\\') - 1)) + "\\vantrel.exe";
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
    std::set<std::string> imported;
    for (; entry->Name; ++entry) {
        std::string dll = reinterpret_cast<const char *>(base + entry->Name);
        CharUpperA(&dll[0]);
        EXPECT_TRUE(system.count(dll)) << dll << " would have to ship beside the program";
        imported.insert(dll);
    }
    EXPECT_TRUE(imported.count("KERNEL32.DLL")) << "the import table was read";
    FreeLibrary(image);
}

}  // namespace
