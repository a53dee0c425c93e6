// The demo host's rights, roles and accounts: what it asks XTRm about, and
// what it provisions a fresh store with.
#pragma once

#include <string>

// The rights of the demo application.
enum XTRmDemoRight : int
{
    XTRmDemoRightViewReports = 1,
    XTRmDemoRightEditRecipes = 2,
    XTRmDemoRightRunBatches = 3,
    XTRmDemoRightConfigurePlant = 4,
    XTRmDemoRightManageUsers = 5,
    XTRmDemoRightExportData = 6,
    XTRmDemoRightPrint = 7,
    XTRmDemoRightViewAuditTrail = 8
};

enum XTRmDemoRole : int
{
    XTRmDemoRoleOperator = 1,
    XTRmDemoRoleEngineer = 2,
    XTRmDemoRoleAdministrator = 3
};

struct XTRmDemoAccount
{
    const wchar_t* pszUserName;
    const wchar_t* pszFullName;
    XTRmDemoRole nRole;
    const wchar_t* pszPassword;
};

// The accounts a fresh store gets. Their passwords are published in the
// README on purpose, so that anyone can try the demo; the program itself
// never shows them. None contains its user name, which the policy refuses.
inline constexpr XTRmDemoAccount kXTRmDemoAccounts[] = {
    {L"admin", L"Plant Administrator", XTRmDemoRoleAdministrator, L"plant-2026"},
    {L"alice", L"Alice Baker", XTRmDemoRoleEngineer, L"recipe-2026"},
    {L"bob", L"Bob Carter", XTRmDemoRoleOperator, L"batch-2026"},
};

// The demo password of one of those accounts; empty for any other name.
inline std::wstring XTRmDemoAccountPassword(const std::wstring& strUserName)
{
    for (const XTRmDemoAccount& account : kXTRmDemoAccounts)
    {
        if (strUserName == account.pszUserName)
            return account.pszPassword;
    }
    return std::wstring();
}
