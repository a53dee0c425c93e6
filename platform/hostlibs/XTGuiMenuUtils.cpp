// Separator clean-up after items were taken out of a menu.
#include <afxwin.h>

#include "XTGuiLibrary.h"

namespace
{
bool IsSeparator(CMenu* pMenu, UINT nPosition)
{
    // Read the item type rather than the state: a popup's state carries its
    // item count in the bits where MF_SEPARATOR would be.
    MENUITEMINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    return pMenu->GetMenuItemInfo(nPosition, &info, TRUE) && (info.fType & MFT_SEPARATOR) != 0;
}
} // namespace

void XTGuiMenuUtils::CleanUpSeparators(CMenu* pMenu)
{
    if (pMenu == nullptr || pMenu->GetSafeHmenu() == nullptr)
        return;
    const int nCount = static_cast<int>(pMenu->GetMenuItemCount());

    // From the end: a separator is superfluous when what follows it (after
    // the deletions already made) is the menu's end or another separator.
    bool bFollowedBySeparatorOrEnd = true;
    for (int nPos = nCount - 1; nPos >= 0; --nPos)
    {
        bool bSeparator = IsSeparator(pMenu, static_cast<UINT>(nPos));
        if (bSeparator && bFollowedBySeparatorOrEnd)
        {
            pMenu->DeleteMenu(static_cast<UINT>(nPos), MF_BYPOSITION);
            continue;
        }
        bFollowedBySeparatorOrEnd = bSeparator;
    }
    // Doubles are gone, so at most one separator leads.
    if (static_cast<int>(pMenu->GetMenuItemCount()) > 0 && IsSeparator(pMenu, 0))
        pMenu->DeleteMenu(0, MF_BYPOSITION);
}
