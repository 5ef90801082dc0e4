#include "framework/Menu.h"

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const CString& text)
{
    Item item;
    item.flags = flags;
    item.id = (flags & MF_SEPARATOR) ? 0 : id;
    item.text = (flags & MF_SEPARATOR) ? CString() : text;
    m_items.push_back(item);
    return TRUE;
}

UINT CMenu::GetMenuItemID(int index) const
{
    if (index < 0 || index >= GetMenuItemCount())
        return UINT(-1);
    return UINT(m_items[index].id);
}

UINT CMenu::GetMenuState(int index) const
{
    if (index < 0 || index >= GetMenuItemCount())
        return UINT(-1);
    return m_items[index].flags;
}

CString CMenu::GetMenuString(int index) const
{
    if (index < 0 || index >= GetMenuItemCount())
        return CString();
    return m_items[index].text;
}
