// Works the real vantrel.exe through its windows, as the end-to-end test
// does, and stops at four moments for tools/screenshot-program.sh to take a
// picture:
//   program-pictures.exe FOLDER
// At each moment it writes FOLDER\NAME.rect (left top right bottom of the
// area to take, in screen coordinates) and waits for FOLDER\NAME.done. The
// moments: about (start-up), main, file-menu (help text in the status bar),
// progress (a large run). Exit code 0 when all four were taken.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "program_driver.h"

using namespace driver;

namespace {

std::string folder;

RECT RectOf(HWND hwnd)
{
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    return rect;
}

RECT Union(RECT a, RECT b)
{
    RECT both;
    UnionRect(&both, &a, &b);
    return both;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks for the picture `name` of `area` and waits until it is taken.
bool Picture(const std::string &name, RECT area)
{
    {
        std::ofstream rect(folder + "\\" + name + ".rect.part");
        rect << area.left << ' ' << area.top << ' ' << area.right << ' ' << area.bottom << '\n';
    }
    MoveFileA((folder + "\\" + name + ".rect.part").c_str(), (folder + "\\" + name + ".rect").c_str());
    if (!WaitUntil([&] { return Exists(folder + "\\" + name + ".done"); }, 60000)) {
        std::fprintf(stderr, "program-pictures: the picture %s was not taken\n", name.c_str());
        return false;
    }
    return true;
}

bool Fail(const char *what, const Program &program)
{
    std::fprintf(stderr, "program-pictures: %s (%s)\n", what, program.DescribeWindows().c_str());
    return false;
}

void WriteFile(const std::string &path, std::size_t size, unsigned seed)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::fputc(static_cast<int>(seed >> 16) & 0xFF, file);
    }
    std::fclose(file);
}

// Short paths, so that the progress dialog shows them whole.
const std::string documents = "C:\\Documents";

bool TakeAll(Program &program)
{
    CreateDirectoryA(documents.c_str(), nullptr);
    WriteFile(documents + "\\photo.jpg", 4096, 1);
    WriteFile(documents + "\\report.doc", std::size_t(96) << 20, 2);

    std::string error;
    if (!program.Start(documents, &error))
        return Fail(error.c_str(), program);
    HWND main = program.MainWindow();
    HWND about = program.WaitForDialog("About Vantrel");
    if (!main || !about)
        return Fail("the program did not come up", program);
    // A compact window: the platform's default size is most of the screen.
    SetWindowPos(main, nullptr, 0, 0, 560, 380, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(800);
    if (!Picture("about", Union(RectOf(main), RectOf(about))))
        return false;

    BringToFront(about);
    Press(VK_RETURN);
    if (!WaitUntil([&] { return !IsWindowVisible(about) && IsWindowEnabled(main); }))
        return Fail("the About box did not close", program);
    Sleep(500);
    if (!Picture("main", RectOf(main)))
        return false;

    // A key, so that the menu shows every command available.
    BringToFront(main);
    Press('F', {VK_MENU});
    Press('S');
    HWND keyDialog = program.WaitForDialog("Select file to use as encryption key");
    if (!keyDialog || !ChooseInFileDialog(keyDialog, documents + "\\photo.jpg", &error))
        return Fail("Set Key did not work", program);
    HWND box = program.WaitFor("#32770", "");
    if (!box)
        return Fail("no confirmation of the key", program);
    BringToFront(box);
    Press(VK_RETURN);
    WaitUntil([&] { return !IsWindowVisible(box); });

    BringToFront(main);
    Press('F', {VK_MENU});
    HWND menu = program.WaitFor("#32768", "");
    if (!menu || !WaitForStatus(main, "Encrypts a document"))
        return Fail("the File menu did not open on Encrypt", program);
    Sleep(500);
    if (!Picture("file-menu", Union(RectOf(main), RectOf(menu))))
        return false;

    Press('E');
    HWND input = program.WaitForDialog("Select file to encrypt");
    if (!input || !ChooseInFileDialog(input, documents + "\\report.doc", &error))
        return Fail("Encrypt did not take its input", program);
    HWND output = program.WaitForDialog("Select file to receive encrypted data");
    if (!output || !ChooseInFileDialog(output, documents + "\\report.vtl", &error))
        return Fail("Encrypt did not take its output", program);
    HWND progress = program.WaitFor("#32770", "Vantrel");
    if (!progress)
        return Fail("no progress dialog", program);
    Sleep(1500);  // some way into the run
    if (!Picture("progress", Union(RectOf(main), RectOf(progress))))
        return false;

    program.Responsive(main, 600000);
    BringToFront(main);
    Press('Q', {VK_CONTROL});
    return program.WaitForExit() == 0 || Fail("Ctrl+Q did not end the program", program);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: program-pictures.exe FOLDER\n");
        return 2;
    }
    folder = argv[1];
    Program program;
    bool ok = TakeAll(program);
    program.Kill();
    for (const char *name : {"photo.jpg", "report.doc", "report.vtl"})
        DeleteFileA((documents + "\\" + name).c_str());
    RemoveDirectoryA(documents.c_str());
    return ok ? 0 : 1;
}
