// Applying the restriction tables to menus, toolbars and command-update
// handlers. Nothing here asks the rights service: the tables already hold the
// outcome of every registration.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmRestrictionsMenu.h"
#include "XTGuiLibrary.h"

namespace
{
const UINT kPopupItemId = static_cast<UINT>(-1);

// Reads the whole text of the item at a position, mnemonic ampersand and
// anything behind a tab included (that is the popup's registered name), into
// strText. The buffer is the caller's and keeps its room from one popup to the
// next, so a level allocates for names only when one is longer than any before
// (short names fit the string's own small buffer).
void ReadItemTextByPosition(CMenu* pMenu, UINT nPosition, std::wstring& strText)
{
    strText.resize(strText.capacity());
    const int nRoom = static_cast<int>(strText.size());
    int nLength = pMenu->GetMenuString(nPosition, &strText[0], nRoom + 1, MF_BYPOSITION);
    if (nLength >= nRoom)
    {
        // Filled to the last character: the name may go on. Ask for its
        // length and read again.
        const int nFullLength = pMenu->GetMenuString(nPosition, nullptr, 0, MF_BYPOSITION);
        if (nFullLength > nRoom)
        {
            strText.resize(static_cast<size_t>(nFullLength));
            nLength = pMenu->GetMenuString(nPosition, &strText[0], nFullLength + 1, MF_BYPOSITION);
        }
    }
    strText.resize(static_cast<size_t>(nLength > 0 ? nLength : 0));
}
} // namespace

void XTRmRestrictionsMenu::AdaptToRestrictions(CMenu* pMenu) const
{
    // Items are deleted and greyed by position, at the item being visited, not
    // by command id: Windows resolves an id to its first item in the tree,
    // diving into earlier popups, so with a command standing twice (in a popup
    // and again beside it) the call would act on the wrong one, or on one
    // inside a popup greyed by name that must stay as it was.
    // Walked from the last item to the first, so that deleting by position
    // never moves an item still to be visited.
    const bool bPopupNamesRegistered = !m_setHiddenMenuPopups.empty() || !m_setDisabledMenuPopups.empty();
    std::wstring strName;
    const int nCount = static_cast<int>(pMenu->GetMenuItemCount());
    for (int nPos = nCount - 1; nPos >= 0; --nPos)
    {
        const UINT nPosition = static_cast<UINT>(nPos);
        const UINT nId = pMenu->GetMenuItemID(nPos);
        if (nId == kPopupItemId)
        {
            // Without registered names no name can match, so none is read.
            if (bPopupNamesRegistered)
            {
                ReadItemTextByPosition(pMenu, nPosition, strName);
                if (IsMenuPopupHidden(strName))
                {
                    pMenu->DeleteMenu(nPosition, MF_BYPOSITION);
                    continue;
                }
                if (IsMenuPopupDisabled(strName))
                {
                    pMenu->EnableMenuItem(nPosition, MF_BYPOSITION | MF_DISABLED | MF_GRAYED);
                    continue;
                }
            }
            if (!ContainsMenuPopupItems(pMenu, nPosition))
                pMenu->DeleteMenu(nPosition, MF_BYPOSITION);
        }
        else if (nId != 0)
        {
            if (IsCommandHidden(nId))
                pMenu->DeleteMenu(nPosition, MF_BYPOSITION);
            else if (IsCommandDisabled(nId))
                pMenu->EnableMenuItem(nPosition, MF_BYPOSITION | MF_DISABLED | MF_GRAYED);
        }
    }
    HandleSeparators(pMenu);
}

bool XTRmRestrictionsMenu::ContainsMenuPopupItems(CMenu* pMenu, unsigned int nPosition) const
{
    CMenu* pSubMenu = CMenu::FromHandle(::GetSubMenu(pMenu->GetSafeHmenu(), static_cast<int>(nPosition)));
    if (pSubMenu == nullptr)
        return false;
    AdaptToRestrictions(pSubMenu);
    return static_cast<int>(pSubMenu->GetMenuItemCount()) > 0;
}

void XTRmRestrictionsMenu::HandleSeparators(CMenu* pMenu) const
{
    XTGuiMenuUtils::CleanUpSeparators(pMenu);
}

void XTRmRestrictionsMenu::HideToolBarButtons(CMFCToolBar* pToolBar) const
{
    // Hiding keeps every button at its index, so walking from the last to the
    // first sees each button once.
    const int nCount = pToolBar->GetCount();
    for (int i = nCount - 1; i >= 0; --i)
    {
        const unsigned int nId = pToolBar->GetItemID(i);
        if (nId == 0)
            continue;
        if (IsCommandHidden(nId))
            Gui::HideToolBarButton(pToolBar, nId, true);
    }
}
