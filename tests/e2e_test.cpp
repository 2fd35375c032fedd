// The real vantrel.exe, started as its own process and worked only through
// its windows: menus by keyboard, paths typed into the platform's Open and
// Save dialogs, message boxes read and dismissed. Each test starts a fresh
// copy in a folder of its own and ends it with Ctrl+Q or File, Exit.

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "file_support.h"
#include "program_driver.h"
#include "test_support.h"

namespace {

using namespace driver;

constexpr DWORD kQuietTime = 1500;  // how long "nothing happens" is watched

const char kKeyTitle[] = "Select file to use as encryption key";
const char kEncryptTitle[] = "Select file to encrypt";
const char kDecryptTitle[] = "Select file to decrypt";
const char kEncryptSaveTitle[] = "Select file to receive encrypted data";
const char kDecryptSaveTitle[] = "Select file to receive decrypted data";

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

        std::string error;
        ASSERT_TRUE(program_.Start(Path("start"), &error)) << error;
        main_ = program_.MainWindow();
        ASSERT_NE(main_, nullptr) << program_.DescribeWindows();
        about_ = program_.WaitForDialog("About Vantrel");
        ASSERT_NE(about_, nullptr) << program_.DescribeWindows();
    }
    void TearDown() override
    {
        if (program_.Kill())
            ADD_FAILURE() << "the program was still running: " << program_.DescribeWindows();
    }

    std::string Path(const std::string &name) const { return work_.Path(name); }
    std::string KeyPath() const { return Path("keys\\key.bin"); }

    // Waits until `window` has gone and, unless another dialog or a run may
    // follow, the main window takes input again.
    void ExpectClosed(HWND window, bool backToMain = true)
    {
        ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window) && (!backToMain || IsWindowEnabled(main_)); }))
            << "still up: " << program_.DescribeWindows();
    }

    // Opens the File menu with Alt+F and presses `key` there. Right after a
    // dialog has gone, Wine may sync its key state with the X keyboard (where
    // the test's Alt is not down) and the F arrives alone: then once more.
    // (Once a step has failed, the steps that follow do nothing.)
    void FromFileMenu(WORD key)
    {
        if (HasFatalFailure())
            return;
        for (int attempt = 0; attempt < 3; ++attempt) {
            BringToFront(main_);
            Press('F', {VK_MENU});
            if (WaitUntil([&] { return program_.Find("#32768", "") != nullptr; }, 2000)) {
                Press(key);
                return;
            }
        }
        FAIL() << "the File menu does not open: " << program_.DescribeWindows();
    }

    // Opens a file dialog through the File menu item with mnemonic `key`.
    HWND OpenDialog(WORD key, const std::string &title)
    {
        FromFileMenu(key);
        HWND dialog = HasFatalFailure() ? nullptr : program_.WaitForDialog(title);
        EXPECT_TRUE(dialog || HasFatalFailure()) << "no dialog \"" << title << "\": " << program_.DescribeWindows();
        return dialog;
    }

    void Choose(HWND dialog, const std::string &path)
    {
        if (HasFatalFailure())
            return;
        ASSERT_NE(dialog, nullptr);
        std::string error;
        ASSERT_TRUE(ChooseInFileDialog(dialog, path, &error)) << error;
        ExpectClosed(dialog, false);
    }

    void Cancel(HWND dialog)
    {
        if (HasFatalFailure())
            return;
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(BringToFront(dialog));
        Press(VK_ESCAPE);
        ExpectClosed(dialog);
    }

    // A message box comes up under `caption`, over the main window, and
    // says `text`; then it is dismissed.
    void ExpectMessage(const std::string &caption, const std::string &text)
    {
        if (HasFatalFailure())
            return;
        HWND box = program_.WaitForDialog(caption);
        ASSERT_NE(box, nullptr) << "no message \"" << text << "\": " << program_.DescribeWindows();
        EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), text);  // its static text
        EXPECT_EQ(TextOf(box), caption);
        EXPECT_EQ(GetWindow(box, GW_OWNER), main_);
        ASSERT_TRUE(BringToFront(box));
        Press(VK_RETURN);
        ExpectClosed(box);
    }

    // After a quiet while, only the main window is up: no dialog, no message.
    void ExpectNothingElseUp()
    {
        Sleep(kQuietTime);
        std::vector<HWND> windows = program_.Windows();
        EXPECT_TRUE(windows.size() == 1 && windows[0] == main_) << program_.DescribeWindows();
    }

    // Encrypt and Decrypt are greyed: choosing either does nothing. (Another
    // process cannot read the program's menu under Wine.)
    void ExpectCommandsGreyed()
    {
        for (WORD key : {'E', 'D'}) {
            FromFileMenu(key);
            ExpectNothingElseUp();
            while (program_.Find("#32768", "") && BringToFront(main_))
                Press(VK_ESCAPE);
        }
    }

    void SetKeyTo(const std::string &path)
    {
        Choose(OpenDialog('S', kKeyTitle), path);
        ExpectMessage("", "Key successfully set!");
    }

    // Encrypt or Decrypt from the menu with both files by full path; waits
    // until the run is over (the program's thread answers again).
    void Transform(bool encrypt, const std::string &input, const std::string &output)
    {
        Choose(OpenDialog(encrypt ? 'E' : 'D', encrypt ? kEncryptTitle : kDecryptTitle), input);
        Choose(program_.WaitForDialog(encrypt ? kEncryptSaveTitle : kDecryptSaveTitle), output);
        ASSERT_TRUE(program_.Responsive(main_, 120000)) << "the run did not end";
    }

    void QuitWithCtrlQ()
    {
        ASSERT_TRUE(BringToFront(main_));
        Press('Q', {VK_CONTROL});
        EXPECT_EQ(program_.WaitForExit(), 0) << program_.DescribeWindows();
    }

    TempFolder work_;
    Program program_;
    HWND main_ = nullptr, about_ = nullptr;
    Bytes key_, letter_;
};

// Start-up: the About box over the main window, which takes no input until
// it closes; Encrypt and Decrypt wait for a key. Menu help follows the
// highlight, greyed items included; a popup title and a closed menu show
// nothing, and only a resize brings "Ready" back. File, Exit quits with 0.
TEST_F(EndToEnd, StartUpMenuHelpAndExit)
{
    EXPECT_EQ(GetWindow(about_, GW_OWNER), main_) << "and so above it";
    for (const char *text : {"Vantrel", "WHO DO YOU TRUST?"})
        EXPECT_NE(FindWindowExA(about_, nullptr, nullptr, text), nullptr) << text;
    EXPECT_TRUE(IsWindowVisible(main_));
    EXPECT_FALSE(IsWindowEnabled(main_));
    EXPECT_EQ(StatusText(main_), "Ready");
    Cancel(about_);  // Esc, as a user may
    ExpectNothingElseUp();
    EXPECT_EQ(StatusText(main_), "Ready");
    ExpectCommandsGreyed();

    const struct {
        WORD key;
        const char *status;
    } walk[] = {
        {VK_F10, ""},  // the menu bar, File highlighted but not open
        {VK_DOWN, "Encrypts a document"},  // File opens on Encrypt, greyed
        {VK_DOWN, "Decrypts a document"},
        {VK_DOWN, "Sets the encryption key"},  // over the separator
        {VK_DOWN, "Quits this application"},
        {VK_RIGHT, "Displays information about this application"},
        {VK_MENU, ""},  // Alt closes the whole menu
    };
    ASSERT_TRUE(BringToFront(main_));
    for (const auto &step : walk) {
        Press(step.key);
        EXPECT_TRUE(WaitForStatus(main_, step.status)) << "after key " << step.key << ": " << StatusText(main_);
    }
    EXPECT_TRUE(WaitUntil([&] { return program_.Find("#32768", "") == nullptr; }));
    Sleep(300);
    EXPECT_EQ(StatusText(main_), "") << "nothing but a resize puts Ready back";
    RECT rect;
    GetWindowRect(main_, &rect);
    SetWindowPos(main_, nullptr, 0, 0, rect.right - rect.left + 60, rect.bottom - rect.top + 40,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_TRUE(WaitForStatus(main_, "Ready")) << StatusText(main_);

    FromFileMenu(VK_UP);  // from Encrypt round to Exit
    EXPECT_TRUE(WaitForStatus(main_, "Quits this application")) << StatusText(main_);
    Press(VK_RETURN);
    EXPECT_EQ(program_.WaitForExit(), 0) << program_.DescribeWindows();
}

// Set Key, Encrypt and Decrypt with real files: the output is the engine's
// bytes for the key and decrypts back to the original. The save dialog
// opens in the folder where the input was chosen (browsed to, so that the
// dialog moves the current directory there); the next Set Key opens on the
// key in use, and Return takes it again.
TEST_F(EndToEnd, SetKeyEncryptAndDecryptARealFile)
{
    Cancel(about_);
    HWND dialog = OpenDialog('S', kKeyTitle);
    EXPECT_EQ(DialogFolder(dialog), "start") << "the program's current folder";
    Choose(dialog, KeyPath());
    ExpectMessage("", "Key successfully set!");

    dialog = OpenDialog('E', kEncryptTitle);
    std::string error;
    ASSERT_TRUE(ChooseInFileDialog(dialog, Path("docs"), &error)) << error;
    ASSERT_TRUE(WaitUntil([&] { return DialogFolder(dialog) == "docs"; }, 5000)) << DialogFolder(dialog);
    Choose(dialog, "letter.txt");
    dialog = program_.WaitForDialog(kEncryptSaveTitle);
    ASSERT_NE(dialog, nullptr) << program_.DescribeWindows();
    EXPECT_EQ(DialogFolder(dialog), "docs") << "the save dialog opens where the input was chosen";
    Choose(dialog, "letter.vtl");  // a bare name lands in the folder shown
    ASSERT_TRUE(program_.Responsive(main_, 120000));
    Bytes cipher = ReadFileBytes(Path("docs\\letter.vtl"));
    EXPECT_EQ(cipher, ReferenceOutput(ENCRYPT, letter_, key_)) << "the engine's bytes for this key";

    Transform(false, Path("docs\\letter.vtl"), Path("start\\letter back.txt"));
    EXPECT_EQ(ReadFileBytes(Path("start\\letter back.txt")), letter_);

    dialog = OpenDialog('S', kKeyTitle);
    EXPECT_EQ(DialogFolder(dialog), "keys");
    ASSERT_TRUE(BringToFront(dialog));
    Press(VK_RETURN);
    ExpectMessage("", "Key successfully set!");
    QuitWithCtrlQ();
}

// Every file below `folder` with its size and time of last writing.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> Snapshot(const std::string &folder)
{
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        files[entry.path().string()] = {entry.is_regular_file() ? entry.file_size() : 0, entry.last_write_time()};
    return files;
}

// A file that cannot be read shared gives "Bad filename" (as key or input);
// Cancel in each dialog ends the command, touches no file and keeps the
// key; a key file deleted after Set Key gives "Bad key file", no output,
// and Encrypt and Decrypt greyed again.
TEST_F(EndToEnd, BadFilenameCancelAndBadKeyFile)
{
    Cancel(about_);
    std::string locked = Path("docs\\locked.bin");
    WriteFileBytes(locked, Bytes{1, 2, 3});
    HANDLE held = CreateFileA(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    WriteFileBytes(Path("docs\\letter.vtl"), ReferenceOutput(ENCRYPT, letter_, key_));
    auto before = Snapshot(work_.Path());

    Cancel(OpenDialog('S', kKeyTitle));
    Choose(OpenDialog('S', kKeyTitle), locked);
    ExpectMessage("ERROR", "Bad filename");
    ExpectCommandsGreyed();

    SetKeyTo(KeyPath());
    Choose(OpenDialog('E', kEncryptTitle), locked);
    ExpectMessage("ERROR", "Bad filename");
    ExpectNothingElseUp();  // no save dialog
    Cancel(OpenDialog('S', kKeyTitle));
    Cancel(OpenDialog('E', kEncryptTitle));
    Cancel(OpenDialog('D', kDecryptTitle));
    Choose(OpenDialog('E', kEncryptTitle), Path("docs\\letter.txt"));
    Cancel(program_.WaitForDialog(kEncryptSaveTitle));
    Choose(OpenDialog('D', kDecryptTitle), Path("docs\\letter.vtl"));
    Cancel(program_.WaitForDialog(kDecryptSaveTitle));
    ExpectNothingElseUp();
    CloseHandle(held);
    EXPECT_TRUE(Snapshot(work_.Path()) == before) << "no file created or changed";
    Transform(false, Path("docs\\letter.vtl"), Path("docs\\back.txt"));
    EXPECT_EQ(ReadFileBytes(Path("docs\\back.txt")), letter_) << "the key is still the one set";

    fs::remove(KeyPath());
    Choose(OpenDialog('E', kEncryptTitle), Path("docs\\letter.txt"));
    Choose(program_.WaitForDialog(kEncryptSaveTitle), Path("docs\\out.vtl"));
    ExpectMessage("ERROR", "Bad key file");
    EXPECT_FALSE(fs::exists(Path("docs\\out.vtl")));
    ExpectCommandsGreyed();
    QuitWithCtrlQ();
}

// Killed in the middle of an Encrypt that replaces a file (as Task Manager
// or a crash would end it), the program leaves that file as it was: the new
// bytes go to a temporary file beside it, which goes with the process.
TEST_F(EndToEnd, KilledMidRunLeavesTheOutputAsItWas)
{
    Cancel(about_);
    const Bytes old = {'o', 'l', 'd'};
    WriteFileBytes(Path("docs\\big.bin"), Bytes(24 << 20, 7));  // still at work when it is killed
    WriteFileBytes(Path("docs\\big.vtl"), old);
    SetKeyTo(KeyPath());
    Choose(OpenDialog('E', kEncryptTitle), Path("docs\\big.bin"));
    HWND save = program_.WaitForDialog(kEncryptSaveTitle), prompt = nullptr;
    std::string error;
    ASSERT_TRUE(save && ChooseInFileDialog(save, Path("docs\\big.vtl"), &error)) << error;
    // The save dialog asks whether to replace the file: Yes.
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND window : program_.Windows())
            prompt = window != save && GetWindow(window, GW_OWNER) == save ? window : prompt;
        return prompt != nullptr;
    })) << program_.DescribeWindows();
    ASSERT_TRUE(BringToFront(prompt));
    Press(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::uintmax_t> sizes = TemporaryFiles(Path("docs"));
        return sizes.size() == 1 && sizes[0] > 0;
    })) << "no temporary file filling up beside the output";
    ASSERT_TRUE(program_.Suspend());
    EXPECT_EQ(TemporaryFiles(Path("docs")).size(), 1u) << "the run is still under way";
    EXPECT_EQ(ReadFileBytes(Path("docs\\big.vtl")), old);
    program_.Kill();
    EXPECT_EQ(ReadFileBytes(Path("docs\\big.vtl")), old);
    EXPECT_TRUE(TemporaryFiles(Path("docs")).empty()) << "the temporary file is left";
}

}  // namespace
