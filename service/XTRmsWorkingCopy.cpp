#include "XTRmsWorkingCopy.h"

#include "XTRmsServerStore.h"

#include <algorithm>
#include <utility>

void XTRmsWorkingCopy::Replace(std::vector<XTRmsRestrictionDefinition> vecRights,
    std::vector<XTRmsRoleDefinition> vecRoles, std::vector<XTRmsStoredUser> vecUsers)
{
    m_vecRights.swap(vecRights);
    m_vecRoles.swap(vecRoles);
    m_mapUsers.clear();
    for (XTRmsStoredUser& user : vecUsers)
    {
        std::wstring strName = user.strUserName;
        m_mapUsers.emplace(strName, std::move(user));
    }
    m_vecPending.clear();
}

const XTRmsRoleDefinition* XTRmsWorkingCopy::FindRole(int nRole) const
{
    for (const XTRmsRoleDefinition& role : m_vecRoles)
    {
        if (role.nId == nRole)
            return &role;
    }
    return nullptr;
}

std::wstring XTRmsWorkingCopy::RoleName(int nRole) const
{
    const XTRmsRoleDefinition* pRole = FindRole(nRole);
    return pRole != nullptr ? pRole->strName : std::to_wstring(nRole);
}

bool XTRmsWorkingCopy::IsRightDefined(int nRight) const
{
    return std::any_of(m_vecRights.begin(), m_vecRights.end(),
        [nRight](const XTRmsRestrictionDefinition& right) { return right.GetId() == nRight; });
}

const XTRmsStoredUser* XTRmsWorkingCopy::FindUser(const std::wstring& strUserName) const
{
    auto it = m_mapUsers.find(strUserName);
    return it != m_mapUsers.end() ? &it->second : nullptr;
}

bool XTRmsWorkingCopy::IsSuperUser(const std::wstring& strUserName) const
{
    const XTRmsStoredUser* pUser = FindUser(strUserName);
    const XTRmsRoleDefinition* pRole = pUser != nullptr ? FindRole(pUser->nRole) : nullptr;
    return pRole != nullptr && pRole->bSuperUser;
}

bool XTRmsWorkingCopy::SetRight(const std::wstring& strUserName, int nRight, bool bAllowed)
{
    auto it = m_mapUsers.find(strUserName);
    if (it == m_mapUsers.end() || !IsRightDefined(nRight))
        return false;
    if (bAllowed)
        it->second.setRights.insert(nRight);
    else
        it->second.setRights.erase(nRight);
    // The last choice for a user's right is the one saved.
    m_vecPending.erase(std::remove_if(m_vecPending.begin(), m_vecPending.end(),
                           [&](const XTRmsPendingChange& change) {
                               return change.nKind == XTRmsPendingChange::Right &&
                                   change.user.strUserName == strUserName && change.nRight == nRight;
                           }),
        m_vecPending.end());
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Right;
    change.user.strUserName = strUserName;
    change.nRight = nRight;
    change.bAllowed = bAllowed;
    m_vecPending.push_back(change);
    return true;
}

void XTRmsWorkingCopy::Create(const XTRmsStoredUser& user)
{
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Create;
    change.user = user;
    m_mapUsers[user.strUserName] = user;
    m_vecPending.push_back(change);
}

bool XTRmsWorkingCopy::Remove(const std::wstring& strUserName)
{
    if (m_mapUsers.erase(strUserName) == 0)
        return false;
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Remove;
    change.user.strUserName = strUserName;
    m_vecPending.push_back(change);
    return true;
}

void XTRmsWorkingCopy::MarkHasPassword(const std::wstring& strUserName)
{
    // The copy never holds a credential, only whether there is one.
    auto it = m_mapUsers.find(strUserName);
    if (it != m_mapUsers.end())
        it->second.strHashHex = L"*";
}

void XTRmsWorkingCopy::PutUnsaved(Unsaved unsaved)
{
    m_vecPending = std::move(unsaved.vecPending);
    m_mapUsers = std::move(unsaved.mapUsers);
}

std::wstring XTRmsWorkingCopy::ChangesJson() const
{
    std::wstring strJson = L"[";
    for (const XTRmsPendingChange& change : m_vecPending)
    {
        if (strJson.size() > 1)
            strJson += L",";
        const std::wstring strUser = XTRmsServerStore::JsonString(change.user.strUserName);
        switch (change.nKind)
        {
        case XTRmsPendingChange::Create:
            strJson += L"{\"op\":\"create\",\"user\":" + strUser + L",\"full_name\":" +
                XTRmsServerStore::JsonString(change.user.strFullName) + L",\"role\":" +
                std::to_wstring(change.user.nRole) + L"}";
            break;
        case XTRmsPendingChange::Remove:
            strJson += L"{\"op\":\"remove\",\"user\":" + strUser + L"}";
            break;
        case XTRmsPendingChange::Right:
            strJson += L"{\"op\":\"right\",\"user\":" + strUser + L",\"right\":" + std::to_wstring(change.nRight) +
                L",\"allowed\":" + (change.bAllowed ? L"true" : L"false") + L"}";
            break;
        }
    }
    return strJson + L"]";
}
