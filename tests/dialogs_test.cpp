// The dialogs from the program's resources under Wine: Progress and About as
// built, drawn and ended, the fallback, the list of drawing objects.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "about.h"
#include "dialog_test_support.h"
#include "dlgsupport.h"
#include "dlgsupport_testing.h"
#include "progress.h"
#include "resource.h"

namespace {

struct ControlDesign {
    int id;
    const char *className, *text;
    int x, y, cx, cy;  // dialog units
    DWORD style, exStyle;
    bool black;  // its text drawn in black
};

constexpr DWORD kText = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;

// Creates the dialog and checks its caption, style (no system menu, hence no
// close box; the platform adds WS_CLIPSIBLINGS and DS_3DLOOK), its controls
// in creation order and their colouring, what it keeps until WM_DESTROY.
void ExpectAsDesigned(int templateId, DLGPROC proc, const char *caption, const std::vector<ControlDesign> &controls)
{
    LoadCommonControls();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, proc, 0x5A5A);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), caption);
    EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & ~(WS_CLIPSIBLINGS | DS_3DLOOK),
              WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT);
    HWND control = GetWindow(dialog, GW_CHILD);  // z-order is creation order
    for (const ControlDesign &want : controls) {
        SCOPED_TRACE("control " + std::to_string(want.id));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), want.id);
        EXPECT_EQ(ClassName(control), want.className);
        EXPECT_EQ(WindowText(control), want.text);
        // WS_BORDER turns into WS_EX_CLIENTEDGE; Wine's bar lacks comctl32's static edge.
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)), want.style & ~WS_BORDER);
        if (want.id != ID_PBAR) {
            EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & (WS_EX_STATICEDGE | WS_EX_CLIENTEDGE),
                      static_cast<LONG>(want.exStyle));
        }
        // Position and size each converted from dialog units, as the dialog manager does.
        RECT at, place = {want.x, want.y, 0, 0}, size = {0, 0, want.cx, want.cy};
        MapDialogRect(dialog, &place);
        MapDialogRect(dialog, &size);
        GetWindowRect(control, &at);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT *>(&at), 2);
        EXPECT_EQ(std::make_tuple(at.left, at.top, at.right - at.left, at.bottom - at.top),
                  std::make_tuple(place.left, place.top, size.right, size.bottom));
        // Black text for the listed controls only, transparent, the face colour.
        HDC hdc = SentinelDc(control);
        EXPECT_EQ(proc(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(control)),
                  reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE)));
        EXPECT_EQ(DcStateOf(hdc), DcState(want.black ? RGB(0, 0, 0) : kSentinelText, kSentinelBack, TRANSPARENT));
        ReleaseDC(control, hdc);
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "a control beyond the design";

    // The module's record in the user slot; the parameter in "InputArgument"
    // until WM_DESTROY.
    EXPECT_NE(GetWindowLongPtrA(dialog, DWLP_USER), 0);
    EXPECT_EQ(GetPropA(dialog, "InputArgument"), reinterpret_cast<HANDLE>(0x5A5A));
    proc(dialog, WM_DESTROY, 0, 0);
    EXPECT_EQ(GetPropA(dialog, "InputArgument"), nullptr);
    DestroyWindow(dialog);
}

// Non-client button messages reaching the dialog (0 unless on its caption at kAt), swallowed: no move loop.
constexpr LPARAM kAt = MAKELPARAM(17, 23);
std::vector<UINT> nonClient;
WNDPROC dialogProc;

LRESULT CALLBACK RecordNonClient(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg < WM_NCLBUTTONDOWN || msg > WM_NCLBUTTONDBLCLK)
        return CallWindowProcA(dialogProc, hwnd, msg, wParam, lParam);
    nonClient.push_back(wParam == HTCAPTION && lParam == kAt ? msg : 0);
    return 0;
}

std::vector<HGDIOBJ> deleted;
ImportPatch *deletePatch;

BOOL WINAPI RecordDelete(HGDIOBJ object)
{
    deleted.push_back(object);
    return deletePatch->original<BOOL(WINAPI *)(HGDIOBJ)>()(object);
}

std::vector<HGDIOBJ> AddBrushes(HWND owner, int count)
{
    std::vector<HGDIOBJ> brushes;
    for (int i = 0; i < count; ++i) {
        brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
        AddGdiObject(owner, brushes.back());
    }
    return brushes;
}

std::vector<HWND> Owners()
{
    std::vector<HWND> owners;
    for (const GdiNodeView &node : GdiObjectsListForTesting())
        owners.push_back(node.hwndOwner);
    return owners;
}

}  // namespace

TEST(ProgressDialog, AsDesigned)
{
    ExpectAsDesigned(IDD_PROGRESS, Progress, "Vantrel", {
        {ID_FROMFILE, "Static", "From file :", 10, 24, 84, 9, kText, 0, true},
        {ID_FROMFILEV, "Static", "Text", 9, 37, 162, 9, kText, 0, true},
        {ID_TOFILE, "Static", "To file :", 9, 51, 57, 9, kText, 0, true},
        {ID_TOFILEV, "Static", "Text", 9, 64, 162, 9, kText, 0, true},
        {ID_KEY, "Static", "Using key file :", 8, 76, 74, 9, kText, 0, true},
        {ID_KEYV, "Static", "Text", 8, 89, 164, 9, kText, 0, true},
        {ID_PBAR, "msctls_progress32", "", 9, 113, 162, 11, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, false},
        {ID_PHEADER, "Static", "Text", 9, 9, 158, 9, kText, 0, true},
    });
}

TEST(AboutBox, AsDesigned)
{
    ExpectAsDesigned(IDD_ABOUT, About, "About Vantrel", {
        {IDOK, "Button", "OK", 100, 93, 40, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, false},
        {ID_ABOUTNAME, "Static", "Vantrel", 9, 10, 120, 14, kText, 0, true},
        {ID_ABOUTMOTTO, "Static", "WHO DO YOU TRUST?", 9, 65, 131, 17, kText | SS_CENTER | WS_BORDER,
         WS_EX_STATICEDGE | WS_EX_CLIENTEDGE, true},
    });
}

TEST(AboutBox, OkAndEnterEndWithOneEscapeAndCloseWithZero)
{
    // Keys go through the dialog manager as a modal loop hands them over.
    const struct { const char *what; UINT msg; WPARAM wParam; INT_PTR result; } cases[] = {
        {"clicking OK", BM_CLICK, 0, 1},
        {"Enter", WM_KEYDOWN, VK_RETURN, 1},
        {"Escape", WM_KEYDOWN, VK_ESCAPE, 0},
        {"WM_CLOSE", WM_CLOSE, 0, 0},
        {"OK with a notification code", WM_COMMAND, MAKEWPARAM(IDOK, 1), 1},  // unlike the fallback
    };
    LPARAM param = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EndDialogLog ended;
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, About,
                                         ++param);
        // Each showing afresh: its own parameter, no objects of the one before.
        EXPECT_EQ(GetPropA(dialog, "InputArgument"), reinterpret_cast<HANDLE>(param));
        EXPECT_TRUE(GdiObjectsListForTesting().empty());
        HGDIOBJ brush = CreateSolidBrush(RGB(1, 2, 3));
        AddGdiObject(dialog, brush);
        MSG key = {GetDlgItem(dialog, IDOK), c.msg, c.wParam, 0, 0, {0, 0}};
        if (c.msg == WM_KEYDOWN)
            IsDialogMessageA(dialog, &key);
        else
            SendMessageA(c.msg == BM_CLICK ? key.hwnd : dialog, c.msg, c.wParam, 0);
        ASSERT_FALSE(ended.calls.empty());
        EXPECT_EQ(ended.calls.back(), std::make_pair(dialog, c.result));
        DestroyWindow(dialog);
        EXPECT_EQ(GetObjectType(brush), 0u) << "freed when the box goes";
    }
}

TEST(HandleDefaultMessages, EveryRowInARealDialog)
{
    constexpr INT_PTR kOpen = -1;  // the dialog is not ended
    constexpr WPARAM kDc = 0xDC;   // stands for the motto's device context
    constexpr COLORREF kBlack = RGB(0, 0, 0);
    const struct Row {
        UINT msg;
        WPARAM wParam;
        INT_PTR answer, result;
        UINT sent = 0;  // the non-client message sent on
        DcState dc = {kSentinelText, kSentinelBack, OPAQUE};
    } rows[] = {
        {WM_COMMAND, IDOK, TRUE, 1},
        {WM_COMMAND, IDCANCEL, TRUE, 0},
        {WM_CLOSE, 0, TRUE, 0},
        // The whole wParam counts: a notification code makes it no OK.
        {WM_COMMAND, MAKEWPARAM(IDOK, 1), FALSE, kOpen},
        {WM_INITDIALOG, 0xDEAD, FALSE, kOpen},
        {WM_LBUTTONDOWN, MK_LBUTTON, TRUE, kOpen, WM_NCLBUTTONDOWN},
        {WM_LBUTTONUP, MK_LBUTTON, TRUE, kOpen, WM_NCLBUTTONUP},
        {WM_LBUTTONDBLCLK, MK_LBUTTON, TRUE, kOpen, WM_NCLBUTTONDBLCLK},
        {WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, FALSE, kOpen},
        {WM_LBUTTONUP, 0, FALSE, kOpen},
        {WM_CTLCOLORMSGBOX, kDc, 0, kOpen, 0, {kSentinelText, kBlack, OPAQUE}},
        {WM_CTLCOLOREDIT, kDc, 0, kOpen, 0, {kSentinelText, kBlack, OPAQUE}},
        {WM_CTLCOLORLISTBOX, kDc, 0, kOpen, 0, {kBlack, kSentinelBack, TRANSPARENT}},
        {WM_CTLCOLORBTN, kDc, 0, kOpen, 0, {kBlack, kSentinelBack, TRANSPARENT}},
        {WM_CTLCOLORSTATIC, kDc, 0, kOpen, 0, {kBlack, kSentinelBack, TRANSPARENT}},
        {WM_CTLCOLORDLG, kDc, 0, kOpen},
        {WM_CTLCOLORSCROLLBAR, kDc, 0, kOpen},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "message 0x" << std::hex << row.msg << ", wParam 0x" << row.wParam);
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, About, 0);
        dialogProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordNonClient)));
        nonClient.clear();
        EndDialogLog ended;
        HDC hdc = SentinelDc(GetDlgItem(dialog, ID_ABOUTMOTTO));
        WPARAM wParam = row.wParam == kDc ? reinterpret_cast<WPARAM>(hdc) : row.wParam;
        EXPECT_EQ(HandleDefaultMessages(dialog, row.msg, wParam, kAt), row.answer);
        EXPECT_EQ(DcStateOf(hdc), row.dc);
        ReleaseDC(GetDlgItem(dialog, ID_ABOUTMOTTO), hdc);
        EXPECT_EQ(nonClient, row.sent ? std::vector<UINT>{row.sent} : std::vector<UINT>{});
        using Calls = std::vector<std::pair<HWND, INT_PTR>>;
        EXPECT_EQ(ended.calls, (row.result == kOpen ? Calls{} : Calls{{dialog, row.result}}));
        DestroyWindow(dialog);
    }
}

TEST(GdiObjectList, NewestOwnerFirstFreedInOrderBeyondSixty)
{
    ImportPatch patch("gdi32.dll", "DeleteObject", reinterpret_cast<void *>(RecordDelete));
    deletePatch = &patch;
    HWND a = reinterpret_cast<HWND>(0xA0), b = reinterpret_cast<HWND>(0xB0);  // only kept: any values do
    std::vector<HGDIOBJ> objectsA = AddBrushes(a, 2), objectsB = AddBrushes(b, 1);
    // Newest owner first; A's node fills up to 60 objects, then A takes further nodes.
    std::vector<HGDIOBJ> more = AddBrushes(a, 128);
    objectsA.insert(objectsA.end(), more.begin(), more.end());
    std::vector<GdiNodeView> list = GdiObjectsListForTesting();
    ASSERT_EQ(Owners(), (std::vector<HWND>{a, a, b, a}));
    EXPECT_EQ(list[3].objects, std::vector<HGDIOBJ>(objectsA.begin(), objectsA.begin() + 60));
    EXPECT_EQ(list[1].objects, std::vector<HGDIOBJ>(objectsA.begin() + 60, objectsA.begin() + 120));
    EXPECT_EQ(list[0].objects, std::vector<HGDIOBJ>(objectsA.begin() + 120, objectsA.end()));

    FreeGdiObjects(a);
    FreeGdiObjects(a);  // again, and for a window without objects: nothing
    FreeGdiObjects(reinterpret_cast<HWND>(0xC0));
    EXPECT_EQ(deleted, objectsA) << "A's objects once each, in the order added";
    EXPECT_EQ(std::count_if(objectsA.begin(), objectsA.end(), [](HGDIOBJ o) { return GetObjectType(o) != 0; }), 0);
    EXPECT_EQ(GetObjectType(objectsB[0]), static_cast<DWORD>(OBJ_BRUSH));
    EXPECT_EQ(Owners(), std::vector<HWND>{b});
    FreeGdiObjects(b);
    EXPECT_TRUE(GdiObjectsListForTesting().empty());
}
