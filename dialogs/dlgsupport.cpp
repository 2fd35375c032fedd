// Dialog support: default message handling and the per-window list of
// drawing objects.

#include "dlgsupport.h"

#include "dlgsupport_testing.h"

namespace {

constexpr int kObjectsPerNode = 60;

// One node per block of the global heap. A window with more than
// kObjectsPerNode objects gets a further node, newest first like any other.
struct GdiObjectsNode {
    GdiObjectsNode *pNext;  // next (older) node, null at the end
    HWND hwndOwner;
    HGDIOBJ hObjects[kObjectsPerNode];  // in the order they were added
    HGLOBAL hMem;                       // the block holding this node
    int nObjects;                       // used slots of hObjects
};

constexpr SIZE_T kNodeBytes = sizeof(GdiObjectsNode);
static_assert(sizeof(void *) != 4 || kNodeBytes == 256,
              "on 32-bit Windows a node fills one 256-byte block exactly");

}  // namespace

static GdiObjectsNode *GdiObjectsList;  // newest node first

// A plain left-button message drags the dialog as a press on its caption
// would; with another button or a modifier key held it is left alone.
static INT_PTR SendAsCaptionClick(HWND hwnd, UINT ncMsg, WPARAM wParam, LPARAM lParam)
{
    if (wParam != MK_LBUTTON)
        return FALSE;
    SendMessageA(hwnd, ncMsg, HTCAPTION, lParam);
    return TRUE;
}

INT_PTR HandleDefaultMessages(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    HDC hdc = reinterpret_cast<HDC>(wParam);
    switch (msg) {
    case WM_INITDIALOG:
        return FALSE;  // the dialog manager must not move the focus
    case WM_COMMAND:
        // The whole wParam: a notification code in the high word is no OK.
        if (wParam == IDOK) {
            EndDialog(hwnd, 1);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(hwnd, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(hwnd, 0);
        return TRUE;
    case WM_LBUTTONDOWN:
        return SendAsCaptionClick(hwnd, WM_NCLBUTTONDOWN, wParam, lParam);
    case WM_LBUTTONUP:
        return SendAsCaptionClick(hwnd, WM_NCLBUTTONUP, wParam, lParam);
    case WM_LBUTTONDBLCLK:
        return SendAsCaptionClick(hwnd, WM_NCLBUTTONDBLCLK, wParam, lParam);
    // The null brush tells the dialog manager that the platform colours the
    // control; only the device context is prepared here.
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
        SetBkColor(hdc, RGB(0, 0, 0));
        return 0;
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        SetBkMode(hdc, TRANSPARENT);
        SetTextColor(hdc, RGB(0, 0, 0));
        return 0;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
        return 0;
    default:
        return FALSE;
    }
}

// A new zero-filled node for hwndOwner at the head of the list, or null when
// the global heap has no block for it.
static GdiObjectsNode *NewNode(HWND hwndOwner)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_ZEROINIT, kNodeBytes);
    if (!hMem)
        return nullptr;
    auto *node = static_cast<GdiObjectsNode *>(GlobalLock(hMem));
    if (!node) {
        GlobalFree(hMem);
        return nullptr;
    }
    node->hMem = hMem;
    node->hwndOwner = hwndOwner;
    node->pNext = GdiObjectsList;
    GdiObjectsList = node;
    return node;
}

void AddGdiObject(HWND hwndOwner, HGDIOBJ hObject)
{
    // The first node of the owner is its newest, the only one with room.
    GdiObjectsNode *node = GdiObjectsList;
    while (node && node->hwndOwner != hwndOwner)
        node = node->pNext;
    if (!node || node->nObjects == kObjectsPerNode)
        node = NewNode(hwndOwner);
    if (!node) {
        DeleteObject(hObject);  // the caller gave it away: it must not leak
        return;
    }
    node->hObjects[node->nObjects++] = hObject;
}

void FreeGdiObjects(HWND hwndOwner)
{
    // Unlink every node of the owner into a chain that reverses their order,
    // so that the oldest node, holding the first objects, comes first.
    GdiObjectsNode *oldestFirst = nullptr;
    GdiObjectsNode **link = &GdiObjectsList;
    while (GdiObjectsNode *node = *link) {
        if (node->hwndOwner == hwndOwner) {
            *link = node->pNext;
            node->pNext = oldestFirst;
            oldestFirst = node;
        } else {
            link = &node->pNext;
        }
    }
    while (GdiObjectsNode *node = oldestFirst) {
        oldestFirst = node->pNext;
        for (int i = 0; i < node->nObjects; ++i)
            DeleteObject(node->hObjects[i]);
        HGLOBAL hMem = node->hMem;
        GlobalUnlock(hMem);
        GlobalFree(hMem);
    }
}

// ---- Test-only view (dlgsupport_testing.h) ---------------------------------

std::vector<GdiNodeView> GdiObjectsListForTesting()
{
    std::vector<GdiNodeView> nodes;
    for (GdiObjectsNode *node = GdiObjectsList; node; node = node->pNext)
        nodes.push_back({node->hwndOwner,
                         std::vector<HGDIOBJ>(node->hObjects, node->hObjects + node->nObjects),
                         GlobalSize(node->hMem)});
    return nodes;
}
