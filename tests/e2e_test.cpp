// The real vantrel.exe, started as its own process and worked only through
// its windows: the menus by keyboard, paths typed into the platform's Open
// and Save dialogs, message boxes read and dismissed. Each test starts a
// fresh copy in a folder of its own and ends it with Ctrl+Q or File, Exit.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "file_support.h"
#include "program_driver.h"
#include "test_support.h"

namespace {

using namespace driver;

constexpr DWORD kRunTimeout = 300000;  // a whole run of the large file

struct FileState {
    std::uintmax_t size;
    fs::file_time_type written;
    bool operator==(const FileState &other) const { return size == other.size && written == other.written; }
};

// Every file below `folder`, with its size and time of last writing.
std::map<std::string, FileState> Snapshot(const std::string &folder)
{
    std::map<std::string, FileState> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[entry.path().string()] = {entry.file_size(), entry.last_write_time()};
    }
    return files;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937_64 rng(TestSeed());
        for (const char *folder : {"start", "keys", "docs"})
            fs::create_directories(Path(folder));
        key_ = RandomBytes(rng, 300);
        WriteFileBytes(KeyPath(), key_);
        letter_ = RandomBytes(rng, 40000);
        WriteFileBytes(Path("docs\\letter.txt"), letter_);
        // Decoys: keys under the same name in the other folders.
        WriteFileBytes(Path("start\\key.bin"), RandomBytes(rng, 300));
        WriteFileBytes(Path("docs\\key.bin"), RandomBytes(rng, 300));

        std::string error;
        ASSERT_TRUE(program_.Start(Path("start"), &error)) << error;
        main_ = program_.MainWindow();
        ASSERT_NE(main_, nullptr) << "no main window: " << program_.DescribeWindows();
    }
    void TearDown() override
    {
        if (program_.Kill())
            ADD_FAILURE() << "the program was still running: " << program_.DescribeWindows();
    }

    std::string Path(const std::string &name = "") const { return name.empty() ? work_.Path() : work_.Path(name); }
    std::string KeyPath() const { return Path("keys\\key.bin"); }

    void CloseAbout()
    {
        HWND about = program_.WaitForDialog("About Vantrel");
        ASSERT_NE(about, nullptr) << program_.DescribeWindows();
        ASSERT_TRUE(BringToFront(about));
        Press(VK_RETURN);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about) || !IsWindowVisible(about); }));
        ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(main_) != FALSE; }));
    }

    // Opens the File menu with Alt+F. Right after a dialog has gone, Wine may
    // sync its key state with the X keyboard (where the test's Alt is not
    // down) and the F arrives alone: then once more, up to three times.
    bool OpenFileMenu()
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!BringToFront(main_))
                continue;
            Press('F', {VK_MENU});
            if (WaitUntil([&] { return program_.Find("#32768", "") != nullptr; }, 2000))
                return true;
        }
        ADD_FAILURE() << "the File menu does not open: " << program_.DescribeWindows();
        return false;
    }

    // Opens the File menu and presses `key` there.
    void FromFileMenu(WORD key)
    {
        ASSERT_TRUE(OpenFileMenu());
        Press(key);
    }

    // Opens a file dialog through the File menu item with mnemonic `key`.
    HWND OpenDialog(WORD key, const std::string &title)
    {
        FromFileMenu(key);
        HWND dialog = program_.WaitForDialog(title);
        EXPECT_NE(dialog, nullptr) << "no dialog \"" << title << "\": " << program_.DescribeWindows();
        return dialog;
    }

    void Choose(HWND dialog, const std::string &path)
    {
        ASSERT_NE(dialog, nullptr);
        std::string error;
        ASSERT_TRUE(ChooseInFileDialog(dialog, path, &error)) << error;
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
            << "the dialog stayed up: " << program_.DescribeWindows();
    }

    // Browses the dialog into the folder of `path`, then chooses its file.
    void Browse(HWND dialog, const std::string &path)
    {
        ASSERT_NE(dialog, nullptr);
        std::string error;
        std::size_t slash = path.find_last_of('\\');
        ASSERT_TRUE(BrowseAndChoose(dialog, path.substr(0, slash), path.substr(slash + 1), &error)) << error;
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }))
            << "the dialog stayed up: " << program_.DescribeWindows();
    }

    // File, Exit: Up from the first item of File wraps round to Exit.
    void ExitFromMenu()
    {
        ASSERT_TRUE(OpenFileMenu());
        ASSERT_TRUE(WaitForStatus(main_, "Encrypts a document")) << StatusText(main_);
        Press(VK_UP);
        ASSERT_TRUE(WaitForStatus(main_, "Quits this application")) << StatusText(main_);
        Press(VK_RETURN);
        EXPECT_EQ(program_.WaitForExit(), 0) << program_.DescribeWindows();
    }

    void Cancel(HWND dialog)
    {
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(BringToFront(dialog));
        Press(VK_ESCAPE);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
    }

    struct Message {
        HWND box = nullptr;
        std::string caption, text;
    };

    // The message box that comes up next (a dialog with the message text
    // control), and what it says.
    Message WaitForMessage()
    {
        Message message;
        WaitUntil([&] {
            for (HWND hwnd : program_.Windows()) {
                HWND text = GetDlgItem(hwnd, 0xFFFF);
                if (ClassOf(hwnd) == "#32770" && text) {
                    message = {hwnd, TextOf(hwnd), TextOf(text)};
                    return true;
                }
            }
            return false;
        });
        return message;
    }

    void ExpectMessage(const std::string &caption, const std::string &text)
    {
        Message message = WaitForMessage();
        ASSERT_NE(message.box, nullptr) << "no message \"" << text << "\": " << program_.DescribeWindows();
        EXPECT_EQ(message.text, text);
        EXPECT_EQ(message.caption, caption);
        EXPECT_EQ(GetWindow(message.box, GW_OWNER), main_) << "owned by the main window";
        ASSERT_TRUE(BringToFront(message.box));
        Press(VK_RETURN);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(message.box) || !IsWindowVisible(message.box); }));
    }

    // Only the main window is up: no dialog, no menu, no message.
    bool OnlyMainWindowUp() const
    {
        std::vector<HWND> windows = program_.Windows();
        return windows.size() == 1 && windows[0] == main_;
    }

    // Encrypt and Decrypt are greyed: choosing either from the menu does
    // nothing (a greyed item cannot be chosen; the menu closes).
    void ExpectCommandsGreyed()
    {
        for (WORD key : {'E', 'D'}) {
            FromFileMenu(key);
            Sleep(kQuietTime);
            EXPECT_TRUE(OnlyMainWindowUp()) << "choosing " << static_cast<char>(key)
                                            << " opened: " << program_.DescribeWindows();
            while (program_.Find("#32768", "") && BringToFront(main_))
                Press(VK_ESCAPE);
        }
    }

    // The run is over when the program's thread answers again.
    void WaitForRunToEnd()
    {
        ASSERT_TRUE(program_.Responsive(main_, kRunTimeout)) << "the run did not end";
    }

    void SetKeyTo(const std::string &path)
    {
        Choose(OpenDialog('S', "Select file to use as encryption key"), path);
        ExpectMessage("", "Key successfully set!");
    }

    // Encrypt or Decrypt from the menu: the input by full path, the output
    // as typed (a bare name lands in the folder the save dialog shows).
    void Transform(bool encrypt, const std::string &input, const std::string &output)
    {
        Choose(OpenDialog(encrypt ? 'E' : 'D', encrypt ? "Select file to encrypt" : "Select file to decrypt"), input);
        Choose(program_.WaitForDialog(encrypt ? "Select file to receive encrypted data"
                                              : "Select file to receive decrypted data"),
               output);
        WaitForRunToEnd();
    }

    void QuitWithCtrlQ()
    {
        ASSERT_TRUE(BringToFront(main_));
        Press('Q', {VK_CONTROL});
        EXPECT_EQ(program_.WaitForExit(), 0) << program_.DescribeWindows();
    }

    TempFolder work_;
    Program program_;
    HWND main_ = nullptr;
    Bytes key_, letter_;
};

// At start-up the About box is over the visible main window, which takes no
// input until it is closed; Ctrl+Q waits for it. Encrypt and Decrypt wait
// for a key. Ctrl+Q then quits with exit code 0.
TEST_F(EndToEnd, StartsWithTheAboutBoxAndQuitsOnCtrlQ)
{
    HWND about = program_.WaitForDialog("About Vantrel");
    ASSERT_NE(about, nullptr) << program_.DescribeWindows();
    EXPECT_EQ(GetWindow(about, GW_OWNER), main_);
    std::vector<std::string> texts = ChildTexts(about);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Vantrel"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "WHO DO YOU TRUST?"), texts.end());
    EXPECT_TRUE(IsWindowVisible(main_));
    EXPECT_FALSE(IsWindowEnabled(main_)) << "the main window takes no input under the About box";
    std::vector<HWND> windows = program_.Windows();
    auto aboutAt = std::find(windows.begin(), windows.end(), about);
    auto mainAt = std::find(windows.begin(), windows.end(), main_);
    EXPECT_LT(aboutAt, mainAt) << "the About box is above the main window";
    RECT aboutRect, mainRect, overlap;
    GetWindowRect(about, &aboutRect);
    GetWindowRect(main_, &mainRect);
    EXPECT_TRUE(IntersectRect(&overlap, &aboutRect, &mainRect)) << "over the main window";
    EXPECT_EQ(StatusText(main_), "Ready");

    ASSERT_TRUE(BringToFront(about));
    Press('Q', {VK_CONTROL});
    Sleep(kQuietTime);
    EXPECT_TRUE(program_.Running()) << "Ctrl+Q does nothing while the About box is up";
    EXPECT_TRUE(IsWindowVisible(about));

    CloseAbout();
    EXPECT_TRUE(OnlyMainWindowUp());
    EXPECT_EQ(StatusText(main_), "Ready");
    ExpectCommandsGreyed();
    QuitWithCtrlQ();
}

// Menu help: the highlighted item's text in the status bar, greyed or not;
// nothing for a popup title, the system menu or a closed menu; "Ready" again
// after a resize. File, Exit quits with exit code 0.
TEST_F(EndToEnd, StatusBarShowsMenuHelpAndExitQuits)
{
    CloseAbout();
    ASSERT_TRUE(BringToFront(main_));
    Press(VK_F10);  // the menu bar, File highlighted but not open
    EXPECT_TRUE(WaitForStatus(main_, "")) << StatusText(main_);
    Press(VK_DOWN);  // File opens on Encrypt, which is greyed
    EXPECT_TRUE(WaitForStatus(main_, "Encrypts a document")) << StatusText(main_);
    Press(VK_DOWN);
    EXPECT_TRUE(WaitForStatus(main_, "Decrypts a document")) << StatusText(main_);
    Press(VK_DOWN);  // over the separator
    EXPECT_TRUE(WaitForStatus(main_, "Sets the encryption key")) << StatusText(main_);
    Press(VK_DOWN);
    EXPECT_TRUE(WaitForStatus(main_, "Quits this application")) << StatusText(main_);
    Press(VK_RIGHT);  // the Help menu, on About
    EXPECT_TRUE(WaitForStatus(main_, "Displays information about this application")) << StatusText(main_);
    Press(VK_MENU);  // Alt closes the whole menu
    EXPECT_TRUE(WaitUntil([&] { return program_.Find("#32768", "") == nullptr; }));
    EXPECT_TRUE(WaitForStatus(main_, "")) << "a closed menu leaves the status bar empty: " << StatusText(main_);
    Sleep(300);
    EXPECT_EQ(StatusText(main_), "") << "and nothing puts Ready back but a resize";

    RECT rect;
    GetWindowRect(main_, &rect);
    SetWindowPos(main_, nullptr, 0, 0, rect.right - rect.left + 60, rect.bottom - rect.top + 40,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(WaitForStatus(main_, "Ready")) << StatusText(main_);
    HWND bar = FindWindowExA(main_, nullptr, STATUSCLASSNAMEA, nullptr);
    ASSERT_NE(bar, nullptr);
    RECT barRect, client;
    GetWindowRect(bar, &barRect);
    GetClientRect(main_, &client);
    EXPECT_EQ(barRect.right - barRect.left, client.right) << "the bar spans the resized window";

    // The system menu has no help text.
    ASSERT_TRUE(BringToFront(main_));
    Press(VK_SPACE, {VK_MENU});
    EXPECT_TRUE(WaitForStatus(main_, "")) << StatusText(main_);
    Press(VK_ESCAPE);
    Press(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return program_.Find("#32768", "") == nullptr; }));

    ExitFromMenu();
}

// Set Key, Encrypt and Decrypt from the menu with real files: the output is
// the cipher's bytes for the key and decrypts back to the original. The save
// dialog opens in the folder where the input was chosen (browsed to, so that
// the dialog moves the current directory there); the next Set Key opens on
// the current key.
TEST_F(EndToEnd, SetKeyEncryptAndDecryptARealFile)
{
    CloseAbout();
    HWND keyDialog = OpenDialog('S', "Select file to use as encryption key");
    ASSERT_NE(keyDialog, nullptr);
    EXPECT_EQ(LiveTextOf(FileNameField(keyDialog)), "*.*");
    EXPECT_EQ(DialogFolder(keyDialog), "start") << "the program's current folder";
    Choose(keyDialog, KeyPath());
    ExpectMessage("", "Key successfully set!");

    HWND input = OpenDialog('E', "Select file to encrypt");
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(LiveTextOf(FileNameField(input)), "*.*");
    Browse(input, Path("docs\\letter.txt"));
    HWND output = program_.WaitForDialog("Select file to receive encrypted data");
    ASSERT_NE(output, nullptr) << program_.DescribeWindows();
    EXPECT_EQ(LiveTextOf(FileNameField(output)), "*.vtl");
    EXPECT_EQ(DialogFolder(output), "docs") << "the save dialog opens where the input was chosen";
    Choose(output, "letter.vtl");  // a bare name: saved in the folder shown
    WaitForRunToEnd();
    Bytes cipher = ReadFileBytes(Path("docs\\letter.vtl"));
    EXPECT_EQ(cipher, ReferenceOutput(ENCRYPT, letter_, key_)) << "the engine's bytes for this key";

    HWND encrypted = OpenDialog('D', "Select file to decrypt");
    ASSERT_NE(encrypted, nullptr);
    EXPECT_EQ(LiveTextOf(FileNameField(encrypted)), "*.vtl");
    Choose(encrypted, Path("docs\\letter.vtl"));
    HWND plain = program_.WaitForDialog("Select file to receive decrypted data");
    ASSERT_NE(plain, nullptr) << program_.DescribeWindows();
    EXPECT_EQ(LiveTextOf(FileNameField(plain)), "*.*");
    Choose(plain, Path("start\\letter back.txt"));
    WaitForRunToEnd();
    EXPECT_EQ(ReadFileBytes(Path("start\\letter back.txt")), letter_);
    EXPECT_EQ(OnlyMainWindowUp(), true) << program_.DescribeWindows();

    // The program now stands in another folder, beside a decoy key.bin: the
    // next Set Key opens on the key in keys, and Return takes it again.
    keyDialog = OpenDialog('S', "Select file to use as encryption key");
    ASSERT_NE(keyDialog, nullptr);
    std::string field = LiveTextOf(FileNameField(keyDialog));
    EXPECT_TRUE(field == "key.bin" || field == KeyPath()) << field;
    EXPECT_EQ(DialogFolder(keyDialog), "keys");
    ASSERT_TRUE(BringToFront(keyDialog));
    Press(VK_RETURN);
    ExpectMessage("", "Key successfully set!");
    Transform(true, Path("docs\\letter.txt"), Path("docs\\again.vtl"));
    EXPECT_EQ(ReadFileBytes(Path("docs\\again.vtl")), cipher) << "encrypted with the same key";
    QuitWithCtrlQ();
}

// A large run shows the progress dialog with the direction of the work and
// the three paths while the program works; its bar comes with comctl32,
// which the program loads by importing the status bar.
TEST_F(EndToEnd, LargeRunShowsTheProgressDialog)
{
    std::mt19937_64 rng(TestSeed() + 1);
    Bytes large = RandomBytes(rng, 24 << 20);
    WriteFileBytes(Path("docs\\large.bin"), large);
    CloseAbout();
    SetKeyTo(KeyPath());
    Choose(OpenDialog('E', "Select file to encrypt"), Path("docs\\large.bin"));
    Choose(program_.WaitForDialog("Select file to receive encrypted data"), Path("docs\\large.vtl"));

    HWND progress = nullptr;
    WaitUntil([&] {
        for (HWND hwnd : program_.Windows()) {
            if (ClassOf(hwnd) == "#32770" && TextOf(hwnd) == "Vantrel")
                progress = hwnd;
        }
        return progress != nullptr;
    });
    ASSERT_NE(progress, nullptr) << "no progress dialog: " << program_.DescribeWindows();
    EXPECT_EQ(GetWindow(progress, GW_OWNER), main_);
    EXPECT_NE(ChildOfClass(progress, "msctls_progress32"), nullptr) << "the progress bar class is there";
    std::vector<std::string> texts = ChildTexts(progress);
    for (const std::string &text : {std::string("Encrypting..."), Path("docs\\large.bin"), Path("docs\\large.vtl"), KeyPath()})
        EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
    WaitForRunToEnd();
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(progress); })) << "the dialog goes with the run";
    Bytes cipher = ReadFileBytes(Path("docs\\large.vtl"));
    ASSERT_EQ(cipher.size(), large.size());
    EXPECT_TRUE(cipher == ReferenceOutput(ENCRYPT, large, key_));
    QuitWithCtrlQ();
}

// An input or key that cannot be read shared gives "Bad filename"; a key
// file deleted after Set Key gives "Bad key file", no output, and greys
// Encrypt and Decrypt until a key is set again.
TEST_F(EndToEnd, BadFilenameAndBadKeyFile)
{
    CloseAbout();
    std::string locked = Path("docs\\locked.bin");
    WriteFileBytes(locked, Bytes{1, 2, 3});
    HANDLE held = CreateFileA(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    Choose(OpenDialog('S', "Select file to use as encryption key"), locked);
    ExpectMessage("ERROR", "Bad filename");
    ExpectCommandsGreyed();

    SetKeyTo(KeyPath());
    Choose(OpenDialog('E', "Select file to encrypt"), locked);
    ExpectMessage("ERROR", "Bad filename");
    Sleep(kQuietTime);
    EXPECT_TRUE(OnlyMainWindowUp()) << "no save dialog: " << program_.DescribeWindows();
    CloseHandle(held);

    fs::remove(KeyPath());
    Choose(OpenDialog('E', "Select file to encrypt"), Path("docs\\letter.txt"));
    Choose(program_.WaitForDialog("Select file to receive encrypted data"), Path("docs\\out.vtl"));
    ExpectMessage("ERROR", "Bad key file");
    EXPECT_FALSE(fs::exists(Path("docs\\out.vtl")));
    ExpectCommandsGreyed();

    WriteFileBytes(KeyPath(), key_);
    SetKeyTo(KeyPath());
    Transform(false, Path("docs\\letter.txt"), Path("docs\\out.txt"));
    EXPECT_EQ(ReadFileBytes(Path("docs\\out.txt")), ReferenceOutput(DECRYPT, letter_, key_));
    QuitWithCtrlQ();
}

// Cancel in each dialog ends the command: no message, no file created or
// changed, the key state as it was.
TEST_F(EndToEnd, CancelInEachDialogChangesNothing)
{
    CloseAbout();
    WriteFileBytes(Path("docs\\letter.vtl"), ReferenceOutput(ENCRYPT, letter_, key_));
    auto before = Snapshot(Path());

    Cancel(OpenDialog('S', "Select file to use as encryption key"));
    Sleep(kQuietTime);
    EXPECT_TRUE(OnlyMainWindowUp()) << program_.DescribeWindows();
    ExpectCommandsGreyed();

    SetKeyTo(KeyPath());
    Cancel(OpenDialog('S', "Select file to use as encryption key"));
    Cancel(OpenDialog('E', "Select file to encrypt"));
    Cancel(OpenDialog('D', "Select file to decrypt"));
    Choose(OpenDialog('E', "Select file to encrypt"), Path("docs\\letter.txt"));
    Cancel(program_.WaitForDialog("Select file to receive encrypted data"));
    Choose(OpenDialog('D', "Select file to decrypt"), Path("docs\\letter.vtl"));
    Cancel(program_.WaitForDialog("Select file to receive decrypted data"));
    Sleep(kQuietTime);
    EXPECT_TRUE(OnlyMainWindowUp()) << "no message, no run: " << program_.DescribeWindows();
    EXPECT_TRUE(Snapshot(Path()) == before) << "no file created or changed";

    // The key set before the cancelled Set Key is still the key.
    Transform(false, Path("docs\\letter.vtl"), Path("docs\\back.txt"));
    EXPECT_EQ(ReadFileBytes(Path("docs\\back.txt")), letter_);

    ExitFromMenu();
}

}  // namespace
