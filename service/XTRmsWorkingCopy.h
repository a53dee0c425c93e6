// The rights, roles and users the administration dialogs see, and the
// changes they made that wait for SaveUserProfiles. Read from the store as a
// whole; the users only for an administrator (nobody else sees them).
#pragma once

#include "XTRmsStore.h"
#include "XTRmsTypes.h"

#include <map>
#include <string>
#include <vector>

// A change the user management dialog made that waits for SaveUserProfiles.
struct XTRmsPendingChange
{
    enum Kind
    {
        Create,
        Remove,
        Right
    };
    Kind nKind = Right;
    XTRmsStoredUser user; // Create: the whole user; otherwise its name
    int nRight = 0;
    bool bAllowed = false;
};

class XTRmsWorkingCopy
{
public:
    // The changes not saved yet and the users as they show them, kept across
    // a reconnect.
    struct Unsaved
    {
        std::vector<XTRmsPendingChange> vecPending;
        std::map<std::wstring, XTRmsStoredUser> mapUsers;
    };

    // What the store holds now; the changes not saved are dropped.
    void Replace(std::vector<XTRmsRestrictionDefinition> vecRights, std::vector<XTRmsRoleDefinition> vecRoles,
        std::vector<XTRmsStoredUser> vecUsers);

    const std::vector<XTRmsRestrictionDefinition>& GetRights() const { return m_vecRights; }
    const std::vector<XTRmsRoleDefinition>& GetRoles() const { return m_vecRoles; }
    const std::map<std::wstring, XTRmsStoredUser>& GetUsers() const { return m_mapUsers; }
    const std::vector<XTRmsPendingChange>& GetPending() const { return m_vecPending; }

    const XTRmsRoleDefinition* FindRole(int nRole) const;
    // The role's name, or its number when the store has no such role.
    std::wstring RoleName(int nRole) const;
    bool IsRightDefined(int nRight) const;
    const XTRmsStoredUser* FindUser(const std::wstring& strUserName) const;
    bool IsSuperUser(const std::wstring& strUserName) const;

    // The dialogs' changes, kept until saved. False when the user or the
    // right is not in the copy; the caller decides who may change.
    [[nodiscard]] bool SetRight(const std::wstring& strUserName, int nRight, bool bAllowed);
    void Create(const XTRmsStoredUser& user);
    [[nodiscard]] bool Remove(const std::wstring& strUserName);
    void DropPending() { m_vecPending.clear(); }
    // Another user's session: no users, no changes of the one before.
    void ForgetUsers()
    {
        m_mapUsers.clear();
        m_vecPending.clear();
    }

    // A change made in the store at once (administration): the copy follows.
    void PutUser(const XTRmsStoredUser& user) { m_mapUsers[user.strUserName] = user; }
    void MarkHasPassword(const std::wstring& strUserName);

    Unsaved GetUnsaved() const { return {m_vecPending, m_mapUsers}; }
    void PutUnsaved(Unsaved unsaved);

    // The pending changes as the rights server's save function takes them.
    std::wstring ChangesJson() const;

private:
    std::vector<XTRmsRestrictionDefinition> m_vecRights;
    std::vector<XTRmsRoleDefinition> m_vecRoles;
    std::map<std::wstring, XTRmsStoredUser> m_mapUsers;
    std::vector<XTRmsPendingChange> m_vecPending;
};
