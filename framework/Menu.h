// CMenu: the window's system menu. Windows draws it; here it is a list of
// items that CWnd::ShowSystemMenu turns into a popup menu. Only appending is
// kept, as that is all the program does with it.
#pragma once

#include "framework/Afx.h"

#include <vector>

class CMenu
{
public:
    struct Item
    {
        UINT flags = MF_STRING;
        UINT_PTR id = 0;
        CString text;
    };

    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const CString& text = CString());
    int GetMenuItemCount() const { return int(m_items.size()); }
    // 0 for a separator, -1 for an index out of range (as Windows).
    UINT GetMenuItemID(int index) const;
    UINT GetMenuState(int index) const;
    CString GetMenuString(int index) const;
    const std::vector<Item>& Items() const { return m_items; }

private:
    std::vector<Item> m_items;
};
