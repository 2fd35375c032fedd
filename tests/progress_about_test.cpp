// The progress dialog's and the About box's own procedures, on the real
// dialogs from the program's resources.

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "about.h"
#include "dialog_test_support.h"
#include "dlgsupport.h"
#include "dlgsupport_testing.h"
#include "progress.h"
#include "resource.h"

namespace {

HWND CreateProgress(HWND owner, LPARAM param)
{
    LoadCommonControls();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), owner,
                                     Progress, param);
    EXPECT_NE(dialog, nullptr);
    return dialog;
}

const tagWeditDlgParams *RecordOf(HWND dialog)
{
    return reinterpret_cast<const tagWeditDlgParams *>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void ExpectZeroRecord(const tagWeditDlgParams *record)
{
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->underscoreYOffset, 0);
    EXPECT_EQ(record->TextColor, 0u);
    EXPECT_EQ(record->Styles, 0);
}

// Sends WM_CTLCOLORSTATIC for each control of `dialog` (and for a static
// control of its own with an id of no template) straight to `proc`: the text
// turns black for the ids in `blackIds` only, the background mode turns
// transparent for all, the background colour stays, and the answer is the
// face-colour system brush.
void ExpectStaticColouring(HWND dialog, DLGPROC proc, const std::set<int> &blackIds)
{
    HWND stranger = CreateWindowA("STATIC", "stranger", WS_CHILD | WS_VISIBLE, 0, 0, 20, 10, dialog,
                                  reinterpret_cast<HMENU>(999), GetModuleHandleA(nullptr), nullptr);
    int controls = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(control);
        SCOPED_TRACE("control " + std::to_string(id));
        ++controls;
        HDC hdc = GetDC(control);
        kSentinelDc.ApplyTo(hdc);
        INT_PTR answer = proc(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc),
                              reinterpret_cast<LPARAM>(control));
        EXPECT_EQ(answer, reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_3DFACE)));
        DcState want = {blackIds.count(id) ? RGB(0, 0, 0) : kSentinelDc.text, kSentinelDc.background,
                        TRANSPARENT};
        EXPECT_EQ(DcState::Of(hdc), want);
        ReleaseDC(control, hdc);
    }
    EXPECT_GT(controls, 1);
    DestroyWindow(stranger);
}

// Checks, at the dialog's WM_DESTROY, that the property "InputArgument" is
// there before its procedure runs and gone after it, and that the objects
// handed to the dialog support for it are deleted by then.
struct DestroyCheck {
    std::vector<HGDIOBJ> objects;
    bool propertyBefore = false, propertyAfter = true, objectsAliveAfter = true;

    void Watch(HWND dialog)
    {
        objects = {CreateSolidBrush(RGB(1, 2, 3)), CreatePen(PS_SOLID, 1, RGB(4, 5, 6))};
        for (HGDIOBJ object : objects)
            AddGdiObject(dialog, object);
        watcher = std::make_unique<DestroyWatcher>(dialog, [this](HWND hwnd, bool before) {
            if (before) {
                propertyBefore = HasProperty(hwnd, "InputArgument");
                return;
            }
            propertyAfter = HasProperty(hwnd, "InputArgument");
            objectsAliveAfter = false;
            for (HGDIOBJ object : objects)
                objectsAliveAfter |= GetObjectType(object) != 0;
        });
    }
    void ExpectCleanedUp() const
    {
        ASSERT_TRUE(watcher && watcher->seen);
        EXPECT_TRUE(propertyBefore);
        EXPECT_FALSE(propertyAfter);
        EXPECT_FALSE(objectsAliveAfter);
        EXPECT_TRUE(GdiObjectsListForTesting().empty());
    }
    std::unique_ptr<DestroyWatcher> watcher;
};

}  // namespace

// ---- Progress ------------------------------------------------------------------

TEST(ProgressDialog, SevenTextsBlackOverTheFaceColour)
{
    HWND owner = CreateOwnerWindow();
    HWND dialog = CreateProgress(owner, 0);
    ExpectStaticColouring(dialog, Progress,
                          {ID_PHEADER, ID_KEYV, ID_KEY, ID_TOFILEV, ID_TOFILE, ID_FROMFILEV, ID_FROMFILE});
    DestroyWindow(owner);
}

TEST(ProgressDialog, RecordAndInputArgumentLiveWithTheDialog)
{
    HWND owner = CreateOwnerWindow();
    HWND first = CreateProgress(owner, 0x5A5A);
    HWND second = CreateProgress(owner, 0);
    ExpectZeroRecord(RecordOf(first));
    EXPECT_EQ(RecordOf(first), RecordOf(second)) << "one record for the module";
    EXPECT_EQ(reinterpret_cast<LPARAM>(GetPropA(first, "InputArgument")), 0x5A5A);
    EXPECT_TRUE(HasProperty(second, "InputArgument")) << "set also when the parameter is 0";

    DestroyCheck check;
    check.Watch(first);
    DestroyWindow(first);
    check.ExpectCleanedUp();
    EXPECT_TRUE(IsWindow(second));
    DestroyWindow(owner);
}

TEST(ProgressDialog, OtherMessagesGoToTheFallback)
{
    HWND owner = CreateOwnerWindow();
    HWND dialog = CreateProgress(owner, 0);
    EXPECT_EQ(Progress(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(GetDlgItem(dialog, ID_PBAR)), 0), FALSE);

    HWND bar = GetDlgItem(dialog, ID_PBAR);
    HDC hdc = GetDC(bar);
    kSentinelDc.ApplyTo(hdc);
    EXPECT_EQ(Progress(dialog, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(bar)), 0);
    EXPECT_EQ(DcState::Of(hdc), (DcState{RGB(0, 0, 0), kSentinelDc.background, TRANSPARENT}));
    ReleaseDC(bar, hdc);

    {
        NonClientRecorder recorder(dialog);
        SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        EXPECT_EQ(recorder.messages.size(), 1u) << "the dialog can be dragged";
    }
    // A modeless dialog that is ended is hidden.
    EXPECT_TRUE(IsWindowVisible(dialog));
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
    DestroyWindow(owner);
}

// ---- About -----------------------------------------------------------------------

TEST(AboutBox, NameAndMottoBlackOverTheFaceColour)
{
    HWND owner = CreateOwnerWindow();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), owner, About, 0);
    ASSERT_NE(dialog, nullptr);
    ExpectStaticColouring(dialog, About, {ID_ABOUTNAME, ID_ABOUTMOTTO});
    DestroyWindow(owner);
}

TEST(AboutBox, OkAndEnterEndWithOneEscapeAndCloseWithZero)
{
    struct Case {
        const char *what;
        void (*act)(HWND dialog);
        INT_PTR result;
    } cases[] = {
        {"clicking OK", [](HWND dialog) { ClickCentreOf(GetDlgItem(dialog, IDOK)); }, 1},
        {"Enter", [](HWND) { PressKey(VK_RETURN); }, 1},
        {"Escape", [](HWND) { PressKey(VK_ESCAPE); }, 0},
        {"WM_CLOSE", [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); }, 0},
        // The box's own test looks at the low word only; the fallback alone
        // would keep the dialog open.
        {"OK with notification 1",
         [](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0); }, 1},
    };
    HWND owner = CreateOwnerWindow();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bool ownerEnabled = true;
        INT_PTR result = RunModal(IDD_ABOUT, About, 0, owner, [&](HWND dialog) {
            ownerEnabled = IsWindowEnabled(owner);
            c.act(dialog);
        });
        EXPECT_EQ(result, c.result);
        EXPECT_FALSE(ownerEnabled) << "modal: the owner takes no input";
        EXPECT_TRUE(IsWindowEnabled(owner));
    }
    DestroyWindow(owner);
}

TEST(AboutBox, SecondShowingKeepsNothingOfTheFirst)
{
    HWND owner = CreateOwnerWindow();
    HWND progress = CreateProgress(owner, 0);
    const tagWeditDlgParams *progressRecord = RecordOf(progress);
    const tagWeditDlgParams *records[2] = {};
    for (LPARAM param : {LPARAM(0x1111), LPARAM(0x2222)}) {
        SCOPED_TRACE("showing with " + std::to_string(param));
        DestroyCheck check;
        INT_PTR result = RunModal(IDD_ABOUT, About, param, owner, [&](HWND dialog) {
            EXPECT_TRUE(GdiObjectsListForTesting().empty()) << "no objects left from before";
            EXPECT_EQ(reinterpret_cast<LPARAM>(GetPropA(dialog, "InputArgument")), param);
            records[param == 0x2222] = RecordOf(dialog);
            check.Watch(dialog);
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
        EXPECT_EQ(result, 1);
        check.ExpectCleanedUp();
    }
    ExpectZeroRecord(records[0]);
    EXPECT_EQ(records[0], records[1]) << "one record for the module";
    EXPECT_NE(records[0], progressRecord) << "each dialog module has its own";
    DestroyWindow(owner);
}
