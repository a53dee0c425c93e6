// Toolbar utilities of the GUI library.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTGuiLibrary.h"

namespace
{
bool IsSeparatorButton(const CMFCToolBarButton* pButton)
{
    return (pButton->m_nStyle & TBBS_SEPARATOR) != 0;
}

// A separator shows only between two groups of visible buttons, so that
// hiding buttons never leaves a bar that starts, ends or stutters with one.
void TidySeparators(CMFCToolBar* pToolBar)
{
    const int nCount = pToolBar->GetCount();
    CMFCToolBarButton* pPendingSeparator = nullptr;
    bool bVisibleButtonBefore = false;
    for (int i = 0; i < nCount; ++i)
    {
        CMFCToolBarButton* pButton = pToolBar->GetButton(i);
        if (IsSeparatorButton(pButton))
        {
            pButton->SetVisible(FALSE);
            if (bVisibleButtonBefore && pPendingSeparator == nullptr)
                pPendingSeparator = pButton;
        }
        else if (pButton->IsVisible())
        {
            if (pPendingSeparator != nullptr)
                pPendingSeparator->SetVisible(TRUE);
            pPendingSeparator = nullptr;
            bVisibleButtonBefore = true;
        }
    }
}
} // namespace

bool Gui::HideToolBarButton(CMFCToolBar* pToolBar, unsigned int nCommandId, bool bHide)
{
    if (pToolBar == nullptr || nCommandId == 0)
        return false;
    // Every button of the command: a command hidden on the toolbar must not
    // stay reachable through a second button.
    bool bFound = false;
    for (int i = pToolBar->CommandToIndex(nCommandId); i >= 0; i = pToolBar->CommandToIndex(nCommandId, i + 1))
    {
        CMFCToolBarButton* pButton = pToolBar->GetButton(i);
        if (pButton == nullptr || IsSeparatorButton(pButton))
            continue;
        pButton->SetVisible(bHide ? FALSE : TRUE);
        bFound = true;
    }
    if (!bFound)
        return false;
    TidySeparators(pToolBar);
    // Closes the gaps the hidden buttons left.
    pToolBar->AdjustLayout();
    return true;
}
