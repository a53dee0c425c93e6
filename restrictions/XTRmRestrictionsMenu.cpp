// The four restriction tables: which commands and popups are hidden or
// disabled for the current user. Rights are asked once, at registration; the
// tables keep only the outcome.
#include <afxwin.h>

#include "XTRmRestrictionsMenu.h"

XTRmRestrictionsMenu::XTRmRestrictionsMenu(XTRmsRestrictionManagerServiceBase* pService)
    : m_pRestrictionManagerService(pService)
{
}

XTRmRestrictionsMenu::XTRmRestrictionsMenu(const XTRmRestrictionsMenu& other)
    : m_pRestrictionManagerService(other.m_pRestrictionManagerService), m_setHiddenCommands(other.m_setHiddenCommands),
      m_setDisabledCommands(other.m_setDisabledCommands), m_setHiddenMenuPopups(other.m_setHiddenMenuPopups),
      m_setDisabledMenuPopups(other.m_setDisabledMenuPopups)
{
}

XTRmRestrictionsMenu& XTRmRestrictionsMenu::operator=(const XTRmRestrictionsMenu& other)
{
    if (this != &other)
    {
        m_pRestrictionManagerService = other.m_pRestrictionManagerService;
        m_setHiddenCommands = other.m_setHiddenCommands;
        m_setDisabledCommands = other.m_setDisabledCommands;
        m_setHiddenMenuPopups = other.m_setHiddenMenuPopups;
        m_setDisabledMenuPopups = other.m_setDisabledMenuPopups;
    }
    return *this;
}

XTRmRestrictionsMenu::~XTRmRestrictionsMenu() = default;

void XTRmRestrictionsMenu::Clear()
{
    m_setHiddenCommands.clear();
    m_setDisabledCommands.clear();
    m_setHiddenMenuPopups.clear();
    m_setDisabledMenuPopups.clear();
}

bool XTRmRestrictionsMenu::GetIsAllowed(const std::vector<int>& vecRestrictionIds) const
{
    // Every right of the list is needed; stop at the first one missing.
    for (int nRestrictionId : vecRestrictionIds)
    {
        if (!m_pRestrictionManagerService->GetIsAllowed(nRestrictionId))
            return false;
    }
    return true;
}

void XTRmRestrictionsMenu::CommandHide(unsigned int nCommandId, const std::vector<int>& vecRestrictionIds)
{
    if (!GetIsAllowed(vecRestrictionIds))
        m_setHiddenCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::CommandHide(unsigned int nCommandId, int nRestrictionId)
{
    if (!m_pRestrictionManagerService->GetIsAllowed(nRestrictionId))
        m_setHiddenCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::CommandHide(unsigned int nCommandId, bool bHide)
{
    if (bHide)
        m_setHiddenCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::CommandDisable(unsigned int nCommandId, const std::vector<int>& vecRestrictionIds)
{
    if (!GetIsAllowed(vecRestrictionIds))
        m_setDisabledCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::CommandDisable(unsigned int nCommandId, int nRestrictionId)
{
    if (!m_pRestrictionManagerService->GetIsAllowed(nRestrictionId))
        m_setDisabledCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::CommandDisable(unsigned int nCommandId, bool bDisable)
{
    if (bDisable)
        m_setDisabledCommands.insert(nCommandId);
}

void XTRmRestrictionsMenu::MenuPopupHide(const std::wstring& strPopupName, const std::vector<int>& vecRestrictionIds)
{
    if (!GetIsAllowed(vecRestrictionIds))
        m_setHiddenMenuPopups.insert(strPopupName);
}

void XTRmRestrictionsMenu::MenuPopupHide(const std::wstring& strPopupName, int nRestrictionId)
{
    if (!m_pRestrictionManagerService->GetIsAllowed(nRestrictionId))
        m_setHiddenMenuPopups.insert(strPopupName);
}

void XTRmRestrictionsMenu::MenuPopupHide(const std::wstring& strPopupName, bool bHide)
{
    if (bHide)
        m_setHiddenMenuPopups.insert(strPopupName);
}

void XTRmRestrictionsMenu::MenuPopupDisable(const std::wstring& strPopupName, const std::vector<int>& vecRestrictionIds)
{
    if (!GetIsAllowed(vecRestrictionIds))
        m_setDisabledMenuPopups.insert(strPopupName);
}

void XTRmRestrictionsMenu::MenuPopupDisable(const std::wstring& strPopupName, int nRestrictionId)
{
    if (!m_pRestrictionManagerService->GetIsAllowed(nRestrictionId))
        m_setDisabledMenuPopups.insert(strPopupName);
}

void XTRmRestrictionsMenu::MenuPopupDisable(const std::wstring& strPopupName, bool bDisable)
{
    if (bDisable)
        m_setDisabledMenuPopups.insert(strPopupName);
}

bool XTRmRestrictionsMenu::IsCommandHidden(unsigned int nCommandId) const
{
    return m_setHiddenCommands.find(nCommandId) != m_setHiddenCommands.end();
}

bool XTRmRestrictionsMenu::IsMenuPopupHidden(const std::wstring& strPopupName) const
{
    return m_setHiddenMenuPopups.find(strPopupName) != m_setHiddenMenuPopups.end();
}

bool XTRmRestrictionsMenu::IsMenuPopupDisabled(const std::wstring& strPopupName) const
{
    return m_setDisabledMenuPopups.find(strPopupName) != m_setDisabledMenuPopups.end();
}
