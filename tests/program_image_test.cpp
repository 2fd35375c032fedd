// build/win32/vantrel.exe as shipped: a GUI program that needs no DLL beside
// the system's, and its menu bar, accelerator table and string table.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "resource.h"

namespace {

// build/win32/vantrel.exe, beside the folder of this test program.
std::string ProgramPath()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    folder.erase(folder.find_last_of('\\'));  // build/win32/tests
    folder.erase(folder.find_last_of('\\'));  // build/win32
    return folder + "\\vantrel.exe";
}

// The program's file, read whole, with its headers and imported DLLs.
class ProgramImage {
public:
    ProgramImage()
    {
        std::ifstream file(ProgramPath(), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    bool Loaded() const { return bytes_.size() > 4096; }

    const IMAGE_NT_HEADERS32 &Headers() const
    {
        auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(bytes_.data());
        return *reinterpret_cast<const IMAGE_NT_HEADERS32 *>(bytes_.data() + dos->e_lfanew);
    }

    // Imported DLL (upper case) -> the functions imported from it by name.
    std::map<std::string, std::set<std::string>> Imports() const
    {
        std::map<std::string, std::set<std::string>> imports;
        const IMAGE_DATA_DIRECTORY &directory = Headers().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto *entry = At<IMAGE_IMPORT_DESCRIPTOR>(directory.VirtualAddress); entry && entry->Name; ++entry) {
            std::string dll = At<char>(entry->Name);
            std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
            std::set<std::string> &functions = imports[dll];
            DWORD names = entry->OriginalFirstThunk ? entry->OriginalFirstThunk : entry->FirstThunk;
            for (auto *thunk = At<IMAGE_THUNK_DATA32>(names); thunk && thunk->u1.AddressOfData; ++thunk) {
                if (!(thunk->u1.Ordinal & IMAGE_ORDINAL_FLAG32))
                    functions.insert(At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name);
            }
        }
        return imports;
    }

private:
    // The bytes at a relative virtual address, through the section table.
    template <typename T>
    const T *At(DWORD rva) const
    {
        const IMAGE_NT_HEADERS32 &nt = Headers();
        auto *section = IMAGE_FIRST_SECTION(&nt);
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i, ++section) {
            DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
                return reinterpret_cast<const T *>(bytes_.data() + section->PointerToRawData +
                                                   (rva - section->VirtualAddress));
        }
        return nullptr;
    }
    std::vector<char> bytes_;
};

TEST(ProgramImage, IsAWindowsGuiProgramThatNeedsOnlySystemDlls)
{
    ProgramImage image;
    ASSERT_TRUE(image.Loaded()) << ProgramPath();
    EXPECT_EQ(image.Headers().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.Headers().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI) << "no console window";

    auto imports = image.Imports();
    // DLLs that every Windows since NT 4 carries.
    const std::set<std::string> system = {"KERNEL32.DLL", "USER32.DLL",   "GDI32.DLL",   "COMCTL32.DLL",
                                          "COMDLG32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
    for (const auto &[dll, functions] : imports)
        EXPECT_TRUE(system.count(dll)) << dll << " would have to ship beside the program";
    // The status bar's import is what loads the common controls, and with
    // them the progress bar class: the program makes no initialisation call.
    EXPECT_TRUE(imports["COMCTL32.DLL"].count("CreateStatusWindowA"));
    EXPECT_FALSE(imports["COMCTL32.DLL"].count("InitCommonControls"));
    EXPECT_FALSE(imports["COMCTL32.DLL"].count("InitCommonControlsEx"));
}

// The program's resources, loaded as data.
class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << ProgramPath();
    }
    void TearDown() override
    {
        if (module_)
            FreeLibrary(module_);
    }
    // The bytes of one resource in English (United States).
    const BYTE *Resource(LPCSTR type, int id, DWORD *size = nullptr)
    {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (!found)
            return nullptr;
        if (size)
            *size = SizeofResource(module_, found);
        return static_cast<const BYTE *>(LockResource(LoadResource(module_, found)));
    }
    HMODULE module_ = nullptr;
};

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR types)
{
    reinterpret_cast<std::vector<ULONG_PTR> *>(types)->push_back(reinterpret_cast<ULONG_PTR>(type));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names)
{
    reinterpret_cast<std::vector<LPSTR> *>(names)->push_back(name);
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<WORD> *>(languages)->push_back(language);
    return TRUE;
}

// Menu bar, accelerators, dialogs and strings, each in English (United
// States) only; no icon, no version resource.
TEST_F(ProgramResources, AreTheFourKindsInEnglishUnitedStatesOnly)
{
    std::vector<ULONG_PTR> types;
    EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
    std::sort(types.begin(), types.end());
    EXPECT_EQ(types, (std::vector<ULONG_PTR>{4, 5, 6, 9}))  // RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR
        << "only menu, dialog, string table and accelerator resources";
    for (ULONG_PTR type : types) {
        std::vector<LPSTR> names;
        EnumResourceNamesA(module_, MAKEINTRESOURCEA(type), CollectName, reinterpret_cast<LONG_PTR>(&names));
        for (LPSTR name : names) {
            std::vector<WORD> languages;
            EnumResourceLanguagesA(module_, MAKEINTRESOURCEA(type), name, CollectLanguage,
                                   reinterpret_cast<LONG_PTR>(&languages));
            EXPECT_EQ(languages, std::vector<WORD>{1033})
                << "type " << type << ", id " << reinterpret_cast<ULONG_PTR>(name);
        }
    }
}

// The menu bar as stored: a standard template, items in order with their
// flags (MF_POPUP 0x10, MF_END 0x80 on the last item of each level).
TEST_F(ProgramResources, MenuBarHasFileAndHelpInOrder)
{
    struct Item {
        int level;
        WORD flags;
        WORD id;
        std::string text;
        bool operator==(const Item &o) const
        {
            return level == o.level && flags == o.flags && id == o.id && text == o.text;
        }
    };
    const std::vector<Item> designed = {
        {1, MF_POPUP, 0, "&File"},
        {2, 0, IDM_ENCRYPT, "&Encrypt"},
        {2, 0, IDM_DECRYPT, "&Decrypt"},
        {2, 0, 0, ""},  // separator
        {2, 0, IDM_SETKEY, "&Set Key"},
        {2, 0, 0, ""},
        {2, MF_END, IDM_EXIT, "&E&xit"},
        {1, MF_POPUP | MF_END, 0, "&Help"},
        {2, MF_END, IDM_ABOUT, "&About"},
    };

    DWORD size = 0;
    const BYTE *data = Resource(RT_MENU, IDVANTREL, &size);
    ASSERT_NE(data, nullptr);
    auto word = [&](const BYTE *&at) {
        WORD value;
        std::memcpy(&value, at, 2);
        at += 2;
        return value;
    };
    const BYTE *at = data;
    EXPECT_EQ(word(at), 0) << "version";
    EXPECT_EQ(word(at), 0) << "header size";
    std::vector<Item> stored;
    std::vector<bool> levelOpen = {true};  // a level ends with its MF_END item
    while (!levelOpen.empty() && at < data + size) {
        Item item = {static_cast<int>(levelOpen.size()), word(at), 0, ""};
        if (!(item.flags & MF_POPUP))
            item.id = word(at);
        while (WORD unit = word(at))
            item.text += static_cast<char>(unit);
        stored.push_back(item);
        if (item.flags & MF_END)
            levelOpen.back() = false;
        if (item.flags & MF_POPUP)
            levelOpen.push_back(true);
        while (!levelOpen.empty() && !levelOpen.back())
            levelOpen.pop_back();
    }
    ASSERT_EQ(stored.size(), designed.size());
    for (size_t i = 0; i < designed.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(stored[i].level, designed[i].level);
        EXPECT_EQ(stored[i].flags, designed[i].flags) << "nothing greyed, checked or disabled";
        EXPECT_EQ(stored[i].id, designed[i].id);
        EXPECT_EQ(stored[i].text, designed[i].text);
    }
}

// Exactly one accelerator: Ctrl+Q gives Exit.
TEST_F(ProgramResources, AcceleratorTableHasCtrlQForExitOnly)
{
    struct Entry {
        WORD flags, key, id, padding;
    };
    DWORD size = 0;
    const BYTE *data = Resource(RT_ACCELERATOR, IDACCEL, &size);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, sizeof(Entry));
    Entry entry;
    std::memcpy(&entry, data, sizeof entry);
    EXPECT_EQ(entry.flags, FVIRTKEY | FCONTROL | 0x80) << "virtual key, Ctrl, end of table";
    EXPECT_EQ(entry.key, 'Q');
    EXPECT_EQ(entry.id, IDM_EXIT);
}

// The whole string table, and nothing under IDS_SYSMENU: the system menu's
// help is the empty text.
TEST_F(ProgramResources, StringTableHoldsTheTwelveTexts)
{
    const std::map<UINT, std::string> designed = {
        {IDM_ENCRYPT, "Encrypts a document"},
        {IDM_DECRYPT, "Decrypts a document"},
        {IDM_SETKEY, "Sets the encryption key"},
        {IDM_EXIT, "Quits this application"},
        {IDM_ABOUT, "Displays information about this application"},
        {2000, "Encrypt/decrypt documents or set the key"},
        {2010, "Get help"},
        {IDS_ENCRYPT, "Select file to encrypt"},
        {IDS_TENCRYPT, "Select file to receive encrypted data"},
        {IDS_DECRYPT, "Select file to decrypt"},
        {IDS_TDECRYPT, "Select file to receive decrypted data"},
        {IDS_SETKEY, "Select file to use as encryption key"},
    };

    // Every string of every block, walked as stored (16 counted UTF-16
    // strings per block, block n holding ids 16(n-1) to 16n-1).
    std::map<UINT, std::string> stored;
    std::vector<LPSTR> blocks;
    EnumResourceNamesA(module_, RT_STRING, CollectName, reinterpret_cast<LONG_PTR>(&blocks));
    for (LPSTR block : blocks) {
        UINT first = (static_cast<UINT>(reinterpret_cast<ULONG_PTR>(block)) - 1) * 16;
        const BYTE *at = Resource(RT_STRING, static_cast<int>(reinterpret_cast<ULONG_PTR>(block)));
        ASSERT_NE(at, nullptr);
        for (UINT i = 0; i < 16; ++i) {
            WORD length;
            std::memcpy(&length, at, 2);
            at += 2;
            std::string text;
            for (WORD c = 0; c < length; ++c, at += 2)
                text += static_cast<char>(at[0]);
            if (length)
                stored[first + i] = text;
        }
    }
    EXPECT_EQ(stored, designed);

    char text[256] = "untouched";
    EXPECT_EQ(LoadStringA(module_, IDS_SYSMENU, text, sizeof text), 0);
    EXPECT_EQ(LoadStringA(module_, IDS_SETKEY, text, sizeof text), 36);
    EXPECT_STREQ(text, "Select file to use as encryption key");
}

}  // namespace
