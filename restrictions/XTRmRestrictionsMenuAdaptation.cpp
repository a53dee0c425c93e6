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

// The whole text of the item at a position, mnemonic ampersand and anything
// behind a tab included: that is the popup's registered name.
std::wstring GetItemTextByPosition(CMenu* pMenu, UINT nPosition)
{
    TCHAR szText[128];
    const int nBufferLength = static_cast<int>(_countof(szText));
    int nLength = pMenu->GetMenuString(nPosition, szText, nBufferLength, MF_BYPOSITION);
    if (nLength < nBufferLength - 1)
        return std::wstring(szText, static_cast<size_t>(nLength > 0 ? nLength : 0));

    // Long texts are rare; ask for the length and read again.
    int nFullLength = pMenu->GetMenuString(nPosition, nullptr, 0, MF_BYPOSITION);
    std::wstring strText(static_cast<size_t>(nFullLength) + 1, L'\0');
    nLength = pMenu->GetMenuString(nPosition, &strText[0], nFullLength + 1, MF_BYPOSITION);
    strText.resize(static_cast<size_t>(nLength > 0 ? nLength : 0));
    return strText;
}
} // namespace

void XTRmRestrictionsMenu::AdaptToRestrictions(CMenu* pMenu) const
{
    // Walked from the last item to the first, so that deleting by position
    // never moves an item still to be visited.
    const int nCount = static_cast<int>(pMenu->GetMenuItemCount());
    for (int nPos = nCount - 1; nPos >= 0; --nPos)
    {
        const UINT nPosition = static_cast<UINT>(nPos);
        const UINT nId = pMenu->GetMenuItemID(nPos);
        if (nId == kPopupItemId)
        {
            const std::wstring strName = GetItemTextByPosition(pMenu, nPosition);
            if (IsMenuPopupHidden(strName))
                pMenu->DeleteMenu(nPosition, MF_BYPOSITION);
            else if (IsMenuPopupDisabled(strName))
                pMenu->EnableMenuItem(nPosition, MF_BYPOSITION | MF_DISABLED | MF_GRAYED);
            else if (!ContainsMenuPopupItems(pMenu, nPosition))
                pMenu->DeleteMenu(nPosition, MF_BYPOSITION);
        }
        else if (nId != 0)
        {
            if (IsCommandHidden(nId))
                pMenu->DeleteMenu(nId, MF_BYCOMMAND);
            else if (IsCommandDisabled(nId))
                pMenu->EnableMenuItem(nId, MF_BYCOMMAND | MF_DISABLED | MF_GRAYED);
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

bool XTRmRestrictionsMenu::Disable(unsigned int nCommandId, CCmdUI* pCmdUI) const
{
    if (!IsCommandDisabled(nCommandId))
        return false;
    pCmdUI->Enable(FALSE);
    return true;
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
