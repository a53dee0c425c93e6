// Ties a host's menu commands and popups to the current user's rights. A host
// derives from it, registers in its constructor (or after Clear) which commands
// and popups depend on which rights, and then adapts menus, toolbars and
// command-update handlers as often as it likes. The rights service is asked
// only while registering.
#pragma once

#include "XTRmApi.h"
#include "XTRmsRestrictionManagerServiceBase.h"

#include <afxwin.h>

#include <boost/unordered_set.hpp>

#include <string>
#include <vector>

class CMFCToolBar;

class XTRM_API XTRmRestrictionsMenu
{
public:
    explicit XTRmRestrictionsMenu(XTRmsRestrictionManagerServiceBase* pService);
    XTRmRestrictionsMenu(const XTRmRestrictionsMenu& other);
    XTRmRestrictionsMenu& operator=(const XTRmRestrictionsMenu& other);
    virtual ~XTRmRestrictionsMenu();

    void Clear();

    // Deletes hidden and greys disabled items and popups of the menu and of
    // every sub-menu below it.
    void AdaptToRestrictions(CMenu* pMenu) const;
    // For an update handler: disables the command when it is registered as
    // disabled and tells whether it did. Defined below, so that a host's
    // compiler inlines it into every update pass instead of calling into the DLL.
    bool Disable(unsigned int nCommandId, CCmdUI* pCmdUI) const;
    void HideToolBarButtons(CMFCToolBar* pToolBar) const;
    // After a change of user: puts a fresh copy of menu resource
    // nMenuResourceId on the window's menu bar and adapts it. Adapting only
    // removes, so the old items could never come back for a user with more
    // rights. The bar keeps its handle (a frame's default menu stays valid).
    // False when the window has no menu bar or the resource is missing.
    bool ReloadMenu(CWnd* pWnd, unsigned int nMenuResourceId) const;

protected:
    // A list means that every right in it is needed; an empty list is always met.
    void CommandHide(unsigned int nCommandId, const std::vector<int>& vecRestrictionIds);
    void CommandHide(unsigned int nCommandId, int nRestrictionId);
    void CommandHide(unsigned int nCommandId, bool bHide);
    void CommandDisable(unsigned int nCommandId, const std::vector<int>& vecRestrictionIds);
    void CommandDisable(unsigned int nCommandId, int nRestrictionId);
    void CommandDisable(unsigned int nCommandId, bool bDisable);
    void MenuPopupHide(const std::wstring& strPopupName, const std::vector<int>& vecRestrictionIds);
    void MenuPopupHide(const std::wstring& strPopupName, int nRestrictionId);
    void MenuPopupHide(const std::wstring& strPopupName, bool bHide);
    void MenuPopupDisable(const std::wstring& strPopupName, const std::vector<int>& vecRestrictionIds);
    void MenuPopupDisable(const std::wstring& strPopupName, int nRestrictionId);
    void MenuPopupDisable(const std::wstring& strPopupName, bool bDisable);

    bool GetIsAllowed(const std::vector<int>& vecRestrictionIds) const;

    // What registration decided; none of these asks the rights service.
    bool IsCommandHidden(unsigned int nCommandId) const;
    bool IsCommandDisabled(unsigned int nCommandId) const;
    bool IsMenuPopupHidden(const std::wstring& strPopupName) const;
    bool IsMenuPopupDisabled(const std::wstring& strPopupName) const;

    void HandleSeparators(CMenu* pMenu) const;

private:
    bool ContainsMenuPopupItems(CMenu* pMenu, unsigned int nPosition) const;

    XTRmsRestrictionManagerServiceBase* m_pRestrictionManagerService;
    boost::unordered_set<unsigned int> m_setHiddenCommands;
    boost::unordered_set<unsigned int> m_setDisabledCommands;
    boost::unordered_set<std::wstring> m_setHiddenMenuPopups;
    boost::unordered_set<std::wstring> m_setDisabledMenuPopups;
};

inline bool XTRmRestrictionsMenu::IsCommandDisabled(unsigned int nCommandId) const
{
    return m_setDisabledCommands.find(nCommandId) != m_setDisabledCommands.end();
}

inline bool XTRmRestrictionsMenu::Disable(unsigned int nCommandId, CCmdUI* pCmdUI) const
{
    if (!IsCommandDisabled(nCommandId))
        return false;
    pCmdUI->Enable(FALSE);
    return true;
}
