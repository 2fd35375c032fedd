// The dialog support: HandleDefaultMessages on real dialogs from the
// program's resources, and the per-window list of drawing objects.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "dlgsupport.h"
#include "dlgsupport_testing.h"
#include "resource.h"

namespace {

// Leaves everything to the fallback, except a posted WM_APP, which ends the
// dialog with kStillOpen: proof that its modal loop was still running.
constexpr INT_PTR kStillOpen = 42;

INT_PTR CALLBACK FallbackOnly(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_APP) {
        EndDialog(hwnd, kStillOpen);
        return TRUE;
    }
    return HandleDefaultMessages(hwnd, msg, wParam, lParam);
}

// A modeless dialog from the About template whose procedure is the fallback.
class FallbackDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner = CreateOwnerWindow();
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner,
                                    FallbackOnly, 0);
        ASSERT_NE(dialog, nullptr);
        PumpMessages();
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        DestroyWindow(owner);
    }
    HWND owner = nullptr;
    HWND dialog = nullptr;
};

}  // namespace

TEST(HandleDefaultMessages, OkCancelAndCloseEndTheDialog)
{
    // wParam counts as a whole: a notification code in the high word makes
    // the command no OK or Cancel.
    struct Case {
        const char *what;
        UINT msg;
        WPARAM wParam;
        INT_PTR answer;
        INT_PTR result;  // kStillOpen: the dialog stays open
    } cases[] = {
        {"IDOK", WM_COMMAND, IDOK, TRUE, 1},
        {"IDCANCEL", WM_COMMAND, IDCANCEL, TRUE, 0},
        {"WM_CLOSE", WM_CLOSE, 0, TRUE, 0},
        {"IDOK with notification 1", WM_COMMAND, MAKEWPARAM(IDOK, 1), FALSE, kStillOpen},
        {"IDCANCEL with notification 1", WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), FALSE, kStillOpen},
        {"another control's command", WM_COMMAND, ID_ABOUTNAME, FALSE, kStillOpen},
        {"command 0", WM_COMMAND, 0, FALSE, kStillOpen},
    };
    HWND owner = CreateOwnerWindow();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        INT_PTR answer = -1;
        bool visibleAfter = false;
        INT_PTR result = RunModal(IDD_ABOUT, FallbackOnly, 0, owner, [&](HWND dialog) {
            answer = HandleDefaultMessages(dialog, c.msg, c.wParam, 0);
            visibleAfter = IsWindowVisible(dialog);
            PostMessageA(dialog, WM_APP, 0, 0);
        });
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(visibleAfter, c.result == kStillOpen);
    }
    DestroyWindow(owner);
}

TEST_F(FallbackDialog, InitDialogAnswersFalseAndSetsNoFocus)
{
    std::vector<WPARAM> proposals = {0, reinterpret_cast<WPARAM>(dialog), 0xDEAD};
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        proposals.push_back(reinterpret_cast<WPARAM>(child));
    HWND name = GetDlgItem(dialog, ID_ABOUTNAME);
    SetFocus(name);
    for (WPARAM proposal : proposals) {
        EXPECT_EQ(HandleDefaultMessages(dialog, WM_INITDIALOG, proposal, 0), FALSE) << proposal;
        EXPECT_EQ(GetFocus(), name);
    }
}

TEST_F(FallbackDialog, OtherMessagesAnswerFalseAndDoNothing)
{
    NonClientRecorder recorder(dialog);
    struct Case { const char *what; UINT msg; WPARAM wParam; } cases[] = {
        {"WM_DESTROY", WM_DESTROY, 0},
        {"WM_NULL", WM_NULL, 0},
        {"WM_MOUSEMOVE with the left button", WM_MOUSEMOVE, MK_LBUTTON},
        {"WM_RBUTTONDOWN", WM_RBUTTONDOWN, MK_RBUTTON},
        {"WM_MBUTTONDOWN", WM_MBUTTONDOWN, MK_MBUTTON},
        {"WM_KEYDOWN Escape", WM_KEYDOWN, VK_ESCAPE},
        {"WM_SYSCOMMAND SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE},
        {"WM_NCLBUTTONDOWN", WM_NCLBUTTONDOWN, HTCAPTION},
        {"WM_APP", WM_APP, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(HandleDefaultMessages(dialog, c.msg, c.wParam, 0), FALSE);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_TRUE(recorder.messages.empty());
    }
}

TEST_F(FallbackDialog, PlainLeftButtonDragsByTheCaption)
{
    struct Case {
        const char *what;
        UINT msg;
        WPARAM wParam;
        UINT sent;  // 0: nothing is sent
    } cases[] = {
        {"press", WM_LBUTTONDOWN, MK_LBUTTON, WM_NCLBUTTONDOWN},
        {"release, button still reported", WM_LBUTTONUP, MK_LBUTTON, WM_NCLBUTTONUP},
        {"double click", WM_LBUTTONDBLCLK, MK_LBUTTON, WM_NCLBUTTONDBLCLK},
        {"press with Shift", WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 0},
        {"press with Ctrl", WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, 0},
        {"press with the right button", WM_LBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, 0},
        {"release as it arrives (no button)", WM_LBUTTONUP, 0, 0},
        {"double click with Shift", WM_LBUTTONDBLCLK, MK_LBUTTON | MK_SHIFT, 0},
        {"release with Shift", WM_LBUTTONUP, MK_LBUTTON | MK_SHIFT, 0},
    };
    const LPARAM at = MAKELPARAM(17, 23);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NonClientRecorder recorder(dialog);
        EXPECT_EQ(HandleDefaultMessages(dialog, c.msg, c.wParam, at), c.sent ? TRUE : FALSE);
        if (!c.sent) {
            EXPECT_TRUE(recorder.messages.empty());
            continue;
        }
        ASSERT_EQ(recorder.messages.size(), 1u);
        EXPECT_EQ(recorder.messages[0].msg, c.sent);
        EXPECT_EQ(recorder.messages[0].wParam, static_cast<WPARAM>(HTCAPTION));
        EXPECT_EQ(recorder.messages[0].lParam, at);
    }
}

TEST_F(FallbackDialog, ColourMessagesPrepareTheDcAndAnswerNull)
{
    const COLORREF black = RGB(0, 0, 0);
    const DcState s = kSentinelDc;
    struct Case { const char *what; UINT msg; DcState after; } cases[] = {
        {"WM_CTLCOLORMSGBOX", WM_CTLCOLORMSGBOX, {s.text, black, s.mode}},
        {"WM_CTLCOLOREDIT", WM_CTLCOLOREDIT, {s.text, black, s.mode}},
        {"WM_CTLCOLORLISTBOX", WM_CTLCOLORLISTBOX, {black, s.background, TRANSPARENT}},
        {"WM_CTLCOLORBTN", WM_CTLCOLORBTN, {black, s.background, TRANSPARENT}},
        {"WM_CTLCOLORDLG", WM_CTLCOLORDLG, s},
        {"WM_CTLCOLORSCROLLBAR", WM_CTLCOLORSCROLLBAR, s},
        {"WM_CTLCOLORSTATIC", WM_CTLCOLORSTATIC, {black, s.background, TRANSPARENT}},
        {"just below the range", WM_CTLCOLORMSGBOX - 1, s},
        {"just above the range", WM_CTLCOLORSTATIC + 1, s},
    };
    HWND control = GetDlgItem(dialog, ID_ABOUTMOTTO);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HDC hdc = GetDC(control);
        kSentinelDc.ApplyTo(hdc);
        EXPECT_EQ(HandleDefaultMessages(dialog, c.msg, reinterpret_cast<WPARAM>(hdc),
                                        reinterpret_cast<LPARAM>(control)),
                  0);
        EXPECT_EQ(DcState::Of(hdc), c.after);
        ReleaseDC(control, hdc);
    }
}

// ---- The object list ---------------------------------------------------------

namespace {

std::vector<HGDIOBJ> deletedObjects;
std::vector<HGLOBAL> freedBlocks;
std::vector<HGLOBAL> allocatedBlocks;
ImportPatch *deletePatch, *freePatch, *allocPatch;

BOOL WINAPI RecordingDeleteObject(HGDIOBJ object)
{
    deletedObjects.push_back(object);
    return deletePatch->original<BOOL(WINAPI *)(HGDIOBJ)>()(object);
}

HGLOBAL WINAPI RecordingGlobalFree(HGLOBAL block)
{
    freedBlocks.push_back(block);
    return freePatch->original<HGLOBAL(WINAPI *)(HGLOBAL)>()(block);
}

HGLOBAL WINAPI RecordingGlobalAlloc(UINT flags, SIZE_T bytes)
{
    HGLOBAL block = allocPatch->original<HGLOBAL(WINAPI *)(UINT, SIZE_T)>()(flags, bytes);
    allocatedBlocks.push_back(block);
    return block;
}

HGLOBAL WINAPI FailingGlobalAlloc(UINT, SIZE_T)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

LPVOID WINAPI FailingGlobalLock(HGLOBAL)
{
    return nullptr;
}

// Watches the dialog support's deletions and releases of memory blocks.
class GdiObjectList : public ::testing::Test {
protected:
    void SetUp() override
    {
        deletedObjects.clear();
        freedBlocks.clear();
        allocatedBlocks.clear();
        deletePatch = &deleteObject;
        freePatch = &globalFree;
    }
    void TearDown() override
    {
        for (HWND window : windows)
            FreeGdiObjects(window);
        EXPECT_TRUE(GdiObjectsListForTesting().empty());
        for (HWND window : windows)
            DestroyWindow(window);
    }
    HWND NewWindow()
    {
        windows.push_back(CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr));
        return windows.back();
    }
    std::vector<HGDIOBJ> AddBrushes(HWND owner, int count)
    {
        std::vector<HGDIOBJ> brushes;
        for (int i = 0; i < count; ++i) {
            brushes.push_back(CreateSolidBrush(RGB(i, 2 * i, 3 * i)));
            AddGdiObject(owner, brushes.back());
        }
        return brushes;
    }
    static bool Alive(const std::vector<HGDIOBJ> &objects)
    {
        for (HGDIOBJ object : objects) {
            if (GetObjectType(object) != OBJ_BRUSH)
                return false;
        }
        return true;
    }
    static bool AllGone(const std::vector<HGDIOBJ> &objects)
    {
        for (HGDIOBJ object : objects) {
            if (GetObjectType(object) != 0)
                return false;
        }
        return true;
    }
    static std::vector<HWND> Owners()
    {
        std::vector<HWND> owners;
        for (const GdiNodeView &node : GdiObjectsListForTesting())
            owners.push_back(node.hwndOwner);
        return owners;
    }
    static std::vector<HGDIOBJ> Join(std::vector<HGDIOBJ> a, const std::vector<HGDIOBJ> &b)
    {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }

    ImportPatch deleteObject{"gdi32.dll", "DeleteObject", reinterpret_cast<void *>(RecordingDeleteObject)};
    ImportPatch globalFree{"kernel32.dll", "GlobalFree", reinterpret_cast<void *>(RecordingGlobalFree)};
    std::vector<HWND> windows;
};

}  // namespace

TEST_F(GdiObjectList, NewestOwnerFirstAndFreedInTheOrderAdded)
{
    HWND a = NewWindow(), b = NewWindow(), c = NewWindow(), unknown = NewWindow();
    std::vector<HGDIOBJ> objectsA = AddBrushes(a, 2);
    std::vector<HGDIOBJ> objectsB = AddBrushes(b, 1);
    objectsA = Join(objectsA, AddBrushes(a, 2));  // goes to A's node, not a new one
    std::vector<HGDIOBJ> objectsC = AddBrushes(c, 3);

    std::vector<GdiNodeView> list = GdiObjectsListForTesting();
    ASSERT_EQ(Owners(), (std::vector<HWND>{c, b, a}));
    EXPECT_EQ(list[2].objects, objectsA);
    EXPECT_EQ(list[1].objects, objectsB);
    for (const GdiNodeView &node : list)
        EXPECT_EQ(node.blockBytes, 256u) << "one 256-byte block per node";

    // Freeing from the middle, then the tail, then the head of the list.
    FreeGdiObjects(b);
    EXPECT_EQ(deletedObjects, objectsB);
    EXPECT_EQ(Owners(), (std::vector<HWND>{c, a}));

    deletedObjects.clear();
    FreeGdiObjects(a);
    EXPECT_EQ(deletedObjects, objectsA);
    EXPECT_TRUE(AllGone(objectsA));
    EXPECT_EQ(freedBlocks.size(), 2u) << "one block each for B and A";
    EXPECT_EQ(Owners(), std::vector<HWND>{c});
    EXPECT_TRUE(Alive(objectsC));

    deletedObjects.clear();
    freedBlocks.clear();
    FreeGdiObjects(a);
    FreeGdiObjects(unknown);
    FreeGdiObjects(nullptr);
    EXPECT_TRUE(deletedObjects.empty());
    EXPECT_TRUE(freedBlocks.empty());
    EXPECT_EQ(Owners(), std::vector<HWND>{c});
    EXPECT_TRUE(Alive(objectsC));

    FreeGdiObjects(c);
    EXPECT_EQ(deletedObjects, objectsC);
    EXPECT_TRUE(GdiObjectsListForTesting().empty());
}

TEST_F(GdiObjectList, MoreThanSixtyObjectsTakeFurtherNodes)
{
    HWND a = NewWindow(), b = NewWindow();
    std::vector<HGDIOBJ> objectsA = AddBrushes(a, 60);
    std::vector<HGDIOBJ> objectsB = AddBrushes(b, 1);
    EXPECT_EQ(Owners(), (std::vector<HWND>{b, a}));
    objectsA = Join(objectsA, AddBrushes(a, 70));

    std::vector<GdiNodeView> list = GdiObjectsListForTesting();
    ASSERT_EQ(Owners(), (std::vector<HWND>{a, a, b, a}));
    EXPECT_EQ(list[3].objects, std::vector<HGDIOBJ>(objectsA.begin(), objectsA.begin() + 60));
    EXPECT_EQ(list[1].objects, std::vector<HGDIOBJ>(objectsA.begin() + 60, objectsA.begin() + 120));
    EXPECT_EQ(list[0].objects, std::vector<HGDIOBJ>(objectsA.begin() + 120, objectsA.end()));
    for (const GdiNodeView &node : list)
        EXPECT_EQ(node.blockBytes, 256u);
    EXPECT_TRUE(Alive(objectsA));

    FreeGdiObjects(a);
    EXPECT_EQ(deletedObjects, objectsA) << "all 130, in the order added";
    EXPECT_TRUE(AllGone(objectsA));
    EXPECT_EQ(freedBlocks.size(), 3u);
    EXPECT_EQ(Owners(), std::vector<HWND>{b});
    EXPECT_TRUE(Alive(objectsB));
}

TEST_F(GdiObjectList, ObjectWithoutRoomIsDeletedAtOnce)
{
    HWND a = NewWindow(), b = NewWindow();
    std::vector<HGDIOBJ> objectsB = AddBrushes(b, 60);
    {
        ImportPatch failingAlloc("kernel32.dll", "GlobalAlloc", reinterpret_cast<void *>(FailingGlobalAlloc));
        std::vector<HGDIOBJ> refusedA = AddBrushes(a, 1);
        std::vector<HGDIOBJ> refusedB = AddBrushes(b, 1);  // B's node is full
        EXPECT_EQ(deletedObjects, Join(refusedA, refusedB));
        EXPECT_TRUE(AllGone(refusedA) && AllGone(refusedB));
    }
    EXPECT_EQ(Owners(), std::vector<HWND>{b});
    EXPECT_EQ(GdiObjectsListForTesting()[0].objects, objectsB);

    // A block that cannot be locked goes back to the heap.
    deletedObjects.clear();
    {
        ImportPatch recordingAlloc("kernel32.dll", "GlobalAlloc", reinterpret_cast<void *>(RecordingGlobalAlloc));
        allocPatch = &recordingAlloc;
        ImportPatch failingLock("kernel32.dll", "GlobalLock", reinterpret_cast<void *>(FailingGlobalLock));
        std::vector<HGDIOBJ> refused = AddBrushes(a, 1);
        EXPECT_EQ(deletedObjects, refused);
        ASSERT_EQ(allocatedBlocks.size(), 1u);
        EXPECT_EQ(freedBlocks, allocatedBlocks);
    }
    EXPECT_EQ(Owners(), std::vector<HWND>{b});

    // With memory again, the list works as before.
    std::vector<HGDIOBJ> objectsA = AddBrushes(a, 1);
    EXPECT_EQ(Owners(), (std::vector<HWND>{a, b}));
    deletedObjects.clear();
    FreeGdiObjects(a);
    FreeGdiObjects(b);
    EXPECT_EQ(deletedObjects, Join(objectsA, objectsB));
}
