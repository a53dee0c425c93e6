#include <winsock2.h>
#include <ws2tcpip.h>

#include "XTRmDemoStore.h"

#include "XTRmDemoRights.h"
#include "XTSecret.h"

#include <cstdio>

namespace
{
// What tools/pg-cluster.sh creates; only port and passwords vary.
const wchar_t kServerHost[] = L"127.0.0.1";
const wchar_t kServerUser[] = L"xtrms";
const wchar_t kServerAdministrator[] = L"postgres";
const wchar_t kServerDatabase[] = L"xtrms";

// A small file of the cluster's folder as text, without its line break;
// empty when it cannot be read. The bytes read are wiped: one of these files
// holds the password.
std::wstring ReadSmallFile(const std::wstring& strPath)
{
    HANDLE hFile = ::CreateFileW(
        strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return std::wstring();
    char szBuffer[256] = {};
    DWORD nRead = 0;
    const BOOL bRead = ::ReadFile(hFile, szBuffer, sizeof(szBuffer) - 1, &nRead, nullptr);
    ::CloseHandle(hFile);
    std::wstring strText;
    if (bRead)
    {
        for (DWORD i = 0; i < nRead && szBuffer[i] != '\r' && szBuffer[i] != '\n'; ++i)
            strText += static_cast<wchar_t>(static_cast<unsigned char>(szBuffer[i]));
    }
    ::SecureZeroMemory(szBuffer, sizeof(szBuffer));
    return strText;
}

XTRmsRoleDefinition Role(XTRmDemoRole nRole, const wchar_t* pszName, bool bSuperUser, std::vector<int> vecRights)
{
    XTRmsRoleDefinition role;
    role.nId = static_cast<Rms::RmsUserRole>(nRole);
    role.strName = pszName;
    role.bSuperUser = bSuperUser;
    role.vecRights = std::move(vecRights);
    return role;
}

// The cluster's port and one of its accounts, with the password kept in the
// folder's file of that name.
bool ReadAccount(const std::wstring& strFolder, const wchar_t* pszPasswordFile, const wchar_t* pszUser,
    XTRmsServiceConfig* pConfig, std::wstring* pstrError)
{
    const std::wstring strPort = ReadSmallFile(strFolder + L"\\port");
    const int nPort = strPort.empty() || strPort.size() > 5 ? 0 : _wtoi(strPort.c_str());
    std::wstring strPassword = ReadSmallFile(strFolder + L"\\" + pszPasswordFile);
    if (nPort <= 0 || nPort > 65535 || strPassword.empty())
    {
        XTSecret::Wipe(strPassword);
        *pstrError = L"No rights server is running for the demo in " + strFolder +
            L". Start it with tools/pg-cluster.sh start, or run make demo DEMO_ARGS=--server.";
        return false;
    }
    pConfig->serverSetting = XTRmsServerSetting(kServerHost, nPort);
    pConfig->strServerUser = pszUser;
    pConfig->strServerDatabase = kServerDatabase;
    XTSecret::Wipe(pConfig->strServerPassword);
    pConfig->strServerPassword = strPassword;
    XTSecret::Wipe(strPassword);
    return true;
}
} // namespace

namespace XTRmDemoStore
{
XTRmsServiceConfig MakeConfig()
{
    XTRmsServiceConfig config;
    config.vecRights = {
        {XTRmDemoRightViewReports, L"View reports"},
        {XTRmDemoRightEditRecipes, L"Edit recipes"},
        {XTRmDemoRightRunBatches, L"Start and stop batches"},
        {XTRmDemoRightConfigurePlant, L"Configure the plant"},
        {XTRmDemoRightManageUsers, L"Manage users and rights"},
        {XTRmDemoRightExportData, L"Export data"},
        {XTRmDemoRightPrint, L"Print"},
        {XTRmDemoRightViewAuditTrail, L"View the audit trail"},
    };
    config.vecRoles = {
        Role(XTRmDemoRoleOperator, L"Operator", false,
            {XTRmDemoRightViewReports, XTRmDemoRightRunBatches, XTRmDemoRightPrint}),
        Role(XTRmDemoRoleEngineer, L"Engineer", false,
            {XTRmDemoRightViewReports, XTRmDemoRightEditRecipes, XTRmDemoRightRunBatches, XTRmDemoRightExportData,
                XTRmDemoRightPrint}),
        Role(XTRmDemoRoleAdministrator, L"Administrator", true,
            {XTRmDemoRightViewReports, XTRmDemoRightEditRecipes, XTRmDemoRightRunBatches, XTRmDemoRightConfigurePlant,
                XTRmDemoRightManageUsers, XTRmDemoRightExportData, XTRmDemoRightPrint, XTRmDemoRightViewAuditTrail}),
    };
    // A change of the plant's configuration is signed, like a batch record.
    config.vecSignedRights = {XTRmDemoRightConfigurePlant};
    // A new profile starts with the least a plant worker needs.
    config.nInitialRole = static_cast<Rms::RmsUserRole>(XTRmDemoRoleOperator);

    config.policy.nLockoutThreshold = 5;
    config.policy.nLockoutSeconds = 15 * 60;
    // Anyone at the plant may look at the reports, and do nothing else.
    config.policy.bGuestLoginAllowed = true;
    config.policy.vecGuestRights = {XTRmDemoRightViewReports};
    config.policy.nMinPasswordLength = 8;
    // The demo's accounts are published with their passwords and log in as
    // they are: a forced change at the first login would stop the tour.
    config.policy.bMustChangeAfterReset = false;

    // The plant's directory, as the add-user dialog's "all users" lists it.
    config.vecDirectoryUsers = {{L"PLANT\\dave", L"Dave Evans"}, {L"PLANT\\erin", L"Erin Fischer"}};
    return config;
}

bool ReadServer(const std::wstring& strFolder, XTRmsServiceConfig* pConfig, std::wstring* pstrError)
{
    return ReadAccount(strFolder, L"password", kServerUser, pConfig, pstrError);
}

bool ReadServerAdministrator(const std::wstring& strFolder, XTRmsServiceConfig* pConfig, std::wstring* pstrError)
{
    return ReadAccount(strFolder, L"admin-password", kServerAdministrator, pConfig, pstrError);
}

bool Provision(XTRmsService& service, XTRmsEngine nEngine, bool* pbProvisioned, std::wstring* pstrError)
{
    *pbProvisioned = false;
    if (!service.OpenStore(nEngine, true, pstrError))
        return false;
    // A workstation's account opens an existing server store too, but sees
    // no users in it and may add none: say so rather than fail at the first.
    if (!service.IsStoreAdministrator())
    {
        if (pstrError != nullptr)
            *pstrError = L"Only the store's administrator can give it the demo accounts, and this account is not it.";
        return false;
    }
    // Users are what makes a store this demo's: an empty one, whether just
    // created or left by a provisioning that broke off, gets the accounts.
    if (!service.ListUsers().empty())
        return true;
    for (const XTRmDemoAccount& account : kXTRmDemoAccounts)
    {
        std::wstring strPassword = account.pszPassword;
        const Rms::RmsResult nResult = service.AddUser(account.pszUserName, account.pszFullName,
            static_cast<Rms::RmsUserRole>(account.nRole), strPassword, pstrError);
        XTSecret::Wipe(strPassword);
        if (nResult != Rms::RmsSuccess)
            return false;
    }
    *pbProvisioned = true;
    return true;
}

bool LiftLock(XTRmsService& service, const std::wstring& strUserName)
{
    // Failed logins are written straight to the store: read it afresh.
    service.LoadUserProfiles();
    const std::wstring strBy = service.GetLoggedInUserName().empty() ? L"the store's administrator"
                                                                     : service.GetLoggedInUserName();
    for (const XTRmsUserRecord& user : service.ListUsers())
    {
        if (user.strUserName != strUserName)
            continue;
        if (!user.bLocked && user.nFailedLogins == 0)
            return true;
        std::wstring strError;
        if (service.Unlock(user.strUserName, &strError) != Rms::RmsSuccess)
        {
            std::printf("%ls could not be unlocked: %ls\n", user.strUserName.c_str(), strError.c_str());
            return false;
        }
        std::printf(
            "%ls unlocked by %ls (%u failed logins)\n", user.strUserName.c_str(), strBy.c_str(), user.nFailedLogins);
        return true;
    }
    // Only an administrator sees the users at all.
    std::printf("%ls could not be unlocked: the rights service shows no such user here\n", strUserName.c_str());
    return false;
}

int ClosedLoopbackPort(int nPreferred)
{
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 0;
    int nPort = 0;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET)
    {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The preferred port when it is free (a repeatable run shows the
        // same one), else any free one.
        address.sin_port = htons(static_cast<u_short>(nPreferred));
        if (nPreferred != 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            address.sin_port = 0;
        else if (nPreferred != 0)
            nPort = nPreferred;
        int nLength = sizeof(address);
        if (nPort == 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
            nPort = ntohs(address.sin_port);
        ::closesocket(s);
    }
    ::WSACleanup();
    return nPort;
}
} // namespace XTRmDemoStore
