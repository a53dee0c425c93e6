// A menu bar brought back to the full resource and adapted again, for a host
// whose user changed while it ran.
#include "XTRmRestrictionsMenu.h"

namespace
{
// Moves the top-level items of hFrom to the end of hTo; the popups change
// owner without being copied, so hFrom can be destroyed empty afterwards.
bool MoveMenuItems(HMENU hFrom, HMENU hTo)
{
    const int nCount = ::GetMenuItemCount(hFrom);
    for (int i = 0; i < nCount; ++i)
    {
        wchar_t szText[256] = {};
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_DATA | MIIM_BITMAP;
        info.dwTypeData = szText;
        info.cch = static_cast<UINT>(sizeof(szText) / sizeof(szText[0]));
        if (!::GetMenuItemInfoW(hFrom, static_cast<UINT>(i), TRUE, &info))
            return false;
        if (!::InsertMenuItemW(hTo, static_cast<UINT>(::GetMenuItemCount(hTo)), TRUE, &info))
            return false;
    }
    // RemoveMenu leaves the popups alive: they belong to hTo now.
    while (::GetMenuItemCount(hFrom) > 0)
        ::RemoveMenu(hFrom, 0, MF_BYPOSITION);
    return true;
}
} // namespace

bool XTRmRestrictionsMenu::ReloadMenu(CWnd* pWnd, unsigned int nMenuResourceId) const
{
    const HWND hWnd = pWnd != nullptr ? pWnd->GetSafeHwnd() : nullptr;
    const HMENU hBar = hWnd != nullptr ? ::GetMenu(hWnd) : nullptr;
    if (hBar == nullptr)
        return false;
    LPCTSTR lpszName = MAKEINTRESOURCE(nMenuResourceId);
    const HMENU hFresh = ::LoadMenuW(AfxFindResourceHandle(lpszName, RT_MENU), lpszName);
    if (hFresh == nullptr)
        return false;

    // Deleting by position destroys the old popups with their items.
    while (::GetMenuItemCount(hBar) > 0)
        ::DeleteMenu(hBar, 0, MF_BYPOSITION);
    const bool bMoved = MoveMenuItems(hFresh, hBar);
    ::DestroyMenu(hFresh);

    CMenu* pBar = CMenu::FromHandle(hBar);
    AdaptToRestrictions(pBar);
    ::DrawMenuBar(hWnd);
    return bMoved;
}
