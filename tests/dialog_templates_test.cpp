// The two dialog templates of the resource script, read back as stored and
// as the dialog manager builds them.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "about.h"
#include "dialog_test_support.h"
#include "progress.h"
#include "resource.h"

namespace {

constexpr WORD kButtonClass = 0x0080;  // template ordinals of predefined classes
constexpr WORD kStaticClass = 0x0082;

struct ControlDesign {
    int id;
    WORD classOrdinal;      // 0: the class is stored by name
    const char *className;  // the class as the platform names it
    const char *text;
    short x, y, cx, cy;
    DWORD style;
    DWORD exStyle;
};

struct DialogDesign {
    int templateId;
    DLGPROC proc;
    DWORD style;
    short x, y, cx, cy;
    const char *caption;
    WORD pointSize;
    const char *face;
    std::vector<ControlDesign> controls;  // in template (= creation) order
};

// The dialogs as designed: the progress dialog of a run and the About box.
const DialogDesign kProgressDesign = {
    IDD_PROGRESS, Progress, 0x90C000C0, 6, 18, 180, 135, "Vantrel", 8, "Helv",
    {
        {ID_FROMFILE, kStaticClass, "Static", "From file :", 10, 24, 84, 9, 0x50020000, 0},
        {ID_FROMFILEV, kStaticClass, "Static", "Text", 9, 37, 162, 9, 0x50020000, 0},
        {ID_TOFILE, kStaticClass, "Static", "To file :", 9, 51, 57, 9, 0x50020000, 0},
        {ID_TOFILEV, kStaticClass, "Static", "Text", 9, 64, 162, 9, 0x50020000, 0},
        {ID_KEY, kStaticClass, "Static", "Using key file :", 8, 76, 74, 9, 0x50020000, 0},
        {ID_KEYV, kStaticClass, "Static", "Text", 8, 89, 164, 9, 0x50020000, 0},
        {ID_PBAR, 0, "msctls_progress32", "", 9, 113, 162, 11, 0x54000000, 0},
        {ID_PHEADER, kStaticClass, "Static", "Text", 9, 9, 158, 9, 0x50020000, 0},
    }};

const DialogDesign kAboutDesign = {
    IDD_ABOUT, About, 0x90C000C0, 6, 18, 147, 123, "About Vantrel", 8, "Helv",
    {
        {IDOK, kButtonClass, "Button", "OK", 100, 93, 40, 14, 0x50010000, 0},
        {ID_ABOUTNAME, kStaticClass, "Static", "Vantrel", 9, 10, 120, 14, 0x50020000, 0},
        {ID_ABOUTMOTTO, kStaticClass, "Static", "WHO DO YOU TRUST?", 9, 65, 131, 17, 0x50820001,
         WS_EX_STATICEDGE | WS_EX_CLIENTEDGE},
    }};

// ---- The template as stored (classic DLGTEMPLATE) ----------------------------

struct StoredControl {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    WORD classOrdinal;
    std::string className;
    std::string text;
    WORD creationDataBytes;
};

struct StoredDialog {
    bool extended;
    DWORD style, exStyle;
    short x, y, cx, cy;
    std::string menu, windowClass, caption;
    WORD pointSize;
    std::string face;
    std::vector<StoredControl> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE *data) : at_(data) {}

    template <typename T>
    T Read()
    {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A null-terminated UTF-16 string (all texts here are ASCII).
    std::string String()
    {
        std::string text;
        while (WORD unit = Read<WORD>())
            text += unit < 0x80 ? static_cast<char>(unit) : '?';
        return text;
    }
    // A class, menu or text field: 0xFFFF and an ordinal, or a string.
    void NameOrOrdinal(WORD &ordinal, std::string &name)
    {
        ordinal = 0;
        name.clear();
        if (Peek() == 0xFFFF) {
            Read<WORD>();
            ordinal = Read<WORD>();
        } else {
            name = String();
        }
    }
    void AlignToDword()
    {
        while (reinterpret_cast<ULONG_PTR>(at_) % 4)
            ++at_;
    }
    WORD Peek() const
    {
        WORD value;
        std::memcpy(&value, at_, sizeof value);
        return value;
    }

private:
    const BYTE *at_;
};

StoredDialog ReadStoredDialog(int templateId)
{
    HRSRC found = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(templateId),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(found, nullptr);
    StoredDialog dialog = {};
    if (!found)
        return dialog;
    TemplateReader reader(static_cast<const BYTE *>(LockResource(LoadResource(nullptr, found))));
    dialog.extended = reader.Peek() == 1;  // DLGTEMPLATEEX starts with version 1
    dialog.style = reader.Read<DWORD>();
    dialog.exStyle = reader.Read<DWORD>();
    WORD count = reader.Read<WORD>();
    dialog.x = reader.Read<short>();
    dialog.y = reader.Read<short>();
    dialog.cx = reader.Read<short>();
    dialog.cy = reader.Read<short>();
    WORD ordinal;
    reader.NameOrOrdinal(ordinal, dialog.menu);
    if (ordinal)
        dialog.menu = "#" + std::to_string(ordinal);
    reader.NameOrOrdinal(ordinal, dialog.windowClass);
    if (ordinal)
        dialog.windowClass = "#" + std::to_string(ordinal);
    dialog.caption = reader.String();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.Read<WORD>();
        dialog.face = reader.String();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignToDword();
        StoredControl control = {};
        control.style = reader.Read<DWORD>();
        control.exStyle = reader.Read<DWORD>();
        control.x = reader.Read<short>();
        control.y = reader.Read<short>();
        control.cx = reader.Read<short>();
        control.cy = reader.Read<short>();
        control.id = reader.Read<WORD>();
        reader.NameOrOrdinal(control.classOrdinal, control.className);
        WORD textOrdinal;
        reader.NameOrOrdinal(textOrdinal, control.text);
        control.creationDataBytes = reader.Read<WORD>();
        dialog.controls.push_back(control);
    }
    return dialog;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages)
{
    reinterpret_cast<std::vector<WORD> *>(languages)->push_back(language);
    return TRUE;
}

void ExpectStoredAsDesigned(const DialogDesign &design)
{
    std::vector<WORD> languages;
    EnumResourceLanguagesA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(design.templateId), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{1033}) << "English (United States) only";

    StoredDialog stored = ReadStoredDialog(design.templateId);
    EXPECT_FALSE(stored.extended);
    EXPECT_EQ(stored.style, design.style);
    EXPECT_EQ(stored.style & WS_SYSMENU, 0u) << "no system menu, hence no close box";
    EXPECT_EQ(stored.exStyle, 0u);
    EXPECT_EQ(stored.x, design.x);
    EXPECT_EQ(stored.y, design.y);
    EXPECT_EQ(stored.cx, design.cx);
    EXPECT_EQ(stored.cy, design.cy);
    EXPECT_EQ(stored.menu, "");
    EXPECT_EQ(stored.windowClass, "");
    EXPECT_EQ(stored.caption, design.caption);
    EXPECT_EQ(stored.pointSize, design.pointSize);
    EXPECT_EQ(stored.face, design.face);
    ASSERT_EQ(stored.controls.size(), design.controls.size());
    for (size_t i = 0; i < design.controls.size(); ++i) {
        const ControlDesign &want = design.controls[i];
        const StoredControl &got = stored.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.classOrdinal, want.classOrdinal);
        if (!want.classOrdinal) {  // windres stores class names in capitals
            EXPECT_EQ(_stricmp(got.className.c_str(), want.className), 0) << got.className;
        }
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.creationDataBytes, 0);
    }
}

// ---- The dialog as the user meets it ----------------------------------------

// A control's rectangle in the dialog's client area as the dialog manager
// places it: position and size each converted from dialog units.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy)
{
    RECT at = {x, y, 0, 0}, size = {0, 0, cx, cy};
    MapDialogRect(dialog, &at);
    MapDialogRect(dialog, &size);
    return {at.left, at.top, at.left + size.right, at.top + size.bottom};
}

void ExpectCreatedAsDesigned(const DialogDesign &design)
{
    LoadCommonControls();
    HWND owner = CreateOwnerWindow();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(design.templateId),
                                     owner, design.proc, 0);
    ASSERT_NE(dialog, nullptr);
    PumpMessages();

    EXPECT_EQ(WindowText(dialog), design.caption);
    EXPECT_EQ(ClassName(dialog), "#32770");
    // The platform adds WS_CLIPSIBLINGS to a top-level window and DS_3DLOOK
    // to every dialog.
    DWORD style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & ~(WS_CLIPSIBLINGS | DS_3DLOOK), design.style) << std::hex << style;
    EXPECT_EQ(style & WS_SYSMENU, 0u) << "no close box";
    EXPECT_EQ(GetMenu(dialog), nullptr);
    EXPECT_NE(SendMessageA(dialog, WM_GETFONT, 0, 0), 0) << "the template's font is in use";

    // The client area is placed at the template position in the owner's
    // client area (no centring) and has the template's size.
    POINT ownerOrigin = {0, 0}, origin = {0, 0};
    ClientToScreen(owner, &ownerOrigin);
    ClientToScreen(dialog, &origin);
    RECT placed = DialogUnits(dialog, design.x, design.y, design.cx, design.cy);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(origin.x, ownerOrigin.x + placed.left);
    EXPECT_EQ(origin.y, ownerOrigin.y + placed.top);
    EXPECT_EQ(client.right, placed.right - placed.left);
    EXPECT_EQ(client.bottom, placed.bottom - placed.top);

    // Children in z-order, which is the order of creation.
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_EQ(children.size(), design.controls.size());
    for (size_t i = 0; i < children.size(); ++i) {
        const ControlDesign &want = design.controls[i];
        HWND control = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(GetDlgCtrlID(control), want.id);
        EXPECT_EQ(ClassName(control), want.className);
        EXPECT_EQ(WindowText(control), want.text);
        // The dialog manager turns a control's WS_BORDER into
        // WS_EX_CLIENTEDGE and adds WS_EX_NOPARENTNOTIFY to every control; a
        // progress bar gives itself a static edge.
        DWORD style = GetWindowLongA(control, GWL_STYLE);
        DWORD exStyle = GetWindowLongA(control, GWL_EXSTYLE);
        DWORD wantStyle = want.style, wantExStyle = want.exStyle | WS_EX_NOPARENTNOTIFY;
        if (wantStyle & WS_BORDER) {
            wantStyle &= ~WS_BORDER;
            wantExStyle |= WS_EX_CLIENTEDGE;
        }
        if (want.id == ID_PBAR) {  // native comctl32 adds it, Wine's does not
            exStyle &= ~WS_EX_STATICEDGE;
        }
        EXPECT_EQ(style, wantStyle) << std::hex << style;
        EXPECT_EQ(exStyle, wantExStyle) << std::hex << exStyle;
        RECT rc;
        GetWindowRect(control, &rc);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&rc), 2);
        RECT expected = DialogUnits(dialog, want.x, want.y, want.cx, want.cy);
        EXPECT_TRUE(EqualRect(&rc, &expected))
            << "at " << rc.left << "," << rc.top << "-" << rc.right << "," << rc.bottom << ", designed "
            << expected.left << "," << expected.top << "-" << expected.right << "," << expected.bottom;
    }
    DestroyWindow(dialog);
    DestroyWindow(owner);
}

}  // namespace

TEST(DialogTemplates, ProgressStoredAsDesigned)
{
    ExpectStoredAsDesigned(kProgressDesign);
}

TEST(DialogTemplates, AboutStoredAsDesigned)
{
    ExpectStoredAsDesigned(kAboutDesign);
}

TEST(DialogTemplates, ProgressCreatedAsDesigned)
{
    ExpectCreatedAsDesigned(kProgressDesign);
}

TEST(DialogTemplates, AboutCreatedAsDesigned)
{
    ExpectCreatedAsDesigned(kAboutDesign);
}
