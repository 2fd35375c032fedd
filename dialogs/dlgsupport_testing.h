// Test-only view of the dialog support's object list, for checking its
// shape (order of nodes, objects per node). The program never calls it.
#pragma once

#include <windows.h>

#include <vector>

struct GdiNodeView {
    HWND hwndOwner;
    std::vector<HGDIOBJ> objects;  // in the order they were added
    SIZE_T blockBytes;             // size of the global-heap block of the node
};

// The list's nodes, head (newest) first.
std::vector<GdiNodeView> GdiObjectsListForTesting();
