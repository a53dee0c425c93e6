#include <winsock2.h>
#include <ws2tcpip.h>

#include "XTRmDemoService.h"

#include "XTGenLibrary.h"

#include <algorithm>

namespace
{
struct DemoAccount
{
    const wchar_t* pszUserName;
    const wchar_t* pszFullName;
    bool bLocal;
};

// The accounts the demo's "operating system" knows; domain accounts are
// listed only when all accounts are asked for.
const DemoAccount kAccounts[] = {
    {L"admin", L"Plant Administrator", true},
    {L"alice", L"Alice Baker", true},
    {L"bob", L"Bob Carter", true},
    {L"carol", L"", true},
    {L"PLANT\\dave", L"Dave Evans", false},
    {L"PLANT\\erin", L"Erin Fischer", false},
};

const XTRmsRestrictionDefinition kDefinitions[] = {
    {XTRmDemoRightViewReports, L"View reports"},
    {XTRmDemoRightEditRecipes, L"Edit recipes"},
    {XTRmDemoRightRunBatches, L"Start and stop batches"},
    {XTRmDemoRightConfigurePlant, L"Configure the plant"},
    {XTRmDemoRightManageUsers, L"Manage users and rights"},
    {XTRmDemoRightExportData, L"Export data"},
    {XTRmDemoRightPrint, L"Print"},
    {XTRmDemoRightViewAuditTrail, L"View the audit trail"},
};

// Tries a TCP connection to host:port on this machine's network, for the
// rights-server test.
bool CanConnect(const std::wstring& strHost, int nPort)
{
    if (nPort <= 0 || nPort > 65535 || strHost.empty())
        return false;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return false;
    bool bConnected = false;
    ADDRINFOW hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* pResult = nullptr;
    if (GetAddrInfoW(strHost.c_str(), std::to_wstring(nPort).c_str(), &hints, &pResult) == 0)
    {
        SOCKET s = socket(pResult->ai_family, pResult->ai_socktype, pResult->ai_protocol);
        if (s != INVALID_SOCKET)
        {
            bConnected = connect(s, pResult->ai_addr, static_cast<int>(pResult->ai_addrlen)) == 0;
            closesocket(s);
        }
        FreeAddrInfoW(pResult);
    }
    WSACleanup();
    return bConnected;
}
} // namespace

XTRmDemoService::XTRmDemoService(const std::wstring& strProfileFile) : m_store(strProfileFile)
{
}

std::vector<int> XTRmDemoService::RoleRights(int nRole)
{
    switch (nRole)
    {
    case XTRmDemoRoleAdministrator:
        return {1, 2, 3, 4, 5, 6, 7, 8};
    case XTRmDemoRoleEngineer:
        return {XTRmDemoRightViewReports, XTRmDemoRightEditRecipes, XTRmDemoRightRunBatches, XTRmDemoRightExportData,
            XTRmDemoRightPrint};
    default:
        return {XTRmDemoRightViewReports, XTRmDemoRightRunBatches, XTRmDemoRightPrint};
    }
}

void XTRmDemoService::SeedProfiles()
{
    auto add = [this](const wchar_t* pszUser, const wchar_t* pszFull, int nRole) {
        XTRmDemoUserProfile profile;
        profile.strUserName = pszUser;
        profile.strFullName = pszFull;
        profile.nRole = nRole;
        for (int nRight : RoleRights(nRole))
            profile.setAllowed.insert(nRight);
        m_store.Add(profile);
    };
    add(L"admin", L"Plant Administrator", XTRmDemoRoleAdministrator);
    add(L"alice", L"Alice Baker", XTRmDemoRoleEngineer);
    add(L"bob", L"Bob Carter", XTRmDemoRoleOperator);
    // The person running the demo gets a profile too, so the administration
    // dialog can select them.
    std::wstring strOsUser;
    if (XTGenUserInfo::Instance().GetCurrentUserName(&strOsUser) && !strOsUser.empty() && m_store.Find(strOsUser) == nullptr)
        add(strOsUser.c_str(), L"", XTRmDemoRoleAdministrator);
}

Rms::RmsConnectionTest XTRmDemoService::TryConnectToRestrictionSource(Rms::RmsApplicationType, const std::wstring&,
    int nMode, int, int, const std::wstring&)
{
    if (nMode == 16)
    {
        if (!CanConnect(m_serverSetting.GetHost(), m_serverSetting.GetPortNum()))
            return Rms::RmsConnectionServerNotFound;
        m_bThroughServer = true;
        return Rms::RmsConnectionServerConnected;
    }
    return m_bSourceReachable ? Rms::RmsConnectionOk : Rms::RmsConnectionServerNotFound;
}

Rms::RmsResult XTRmDemoService::Initialize(Rms::RmsApplicationType nType, const std::wstring&, const std::wstring&,
    const std::wstring&, const std::wstring&, int, int, const std::wstring&)
{
    m_nApplicationType = nType;
    std::wstring strMessage;
    switch (m_store.Load(&strMessage))
    {
    case XTRmDemoProfileStore::LoadResult::Missing:
        SeedProfiles();
        if (!m_store.Save(&strMessage))
            m_strStoreMessage = strMessage;
        break;
    case XTRmDemoProfileStore::LoadResult::Recovered:
        m_strStoreMessage = strMessage;
        break;
    case XTRmDemoProfileStore::LoadResult::Damaged:
        // Nothing saved survives: start from the seed, but leave the damaged
        // file set aside for the administrator.
        m_strStoreMessage = strMessage;
        SeedProfiles();
        break;
    default:
        break;
    }
    return Rms::RmsSuccess;
}

Rms::ERmsLoginResult XTRmDemoService::UserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    m_strLastServerMessage.clear();
    if (strUserName.empty() && strPassword.empty())
    {
        m_strCurrentUser.clear();
        m_bLoggedIn = true; // guest
        return Rms::ERmsLoginOk;
    }
    if (m_store.Find(strUserName) == nullptr)
        return Rms::ERmsLoginUnknownUser;
    if (strPassword != DemoPassword())
        return Rms::ERmsLoginWrongPassword;
    m_strCurrentUser = strUserName;
    m_bLoggedIn = true;
    return Rms::ERmsLoginOk;
}

Rms::ERmsLoginResult XTRmDemoService::ReconnectToRestrictionSource()
{
    if (!m_bSourceReachable && !m_bThroughServer)
        return Rms::ERmsLoginSourceUnavailable;
    return m_bLoggedIn ? Rms::ERmsLoginOk : Rms::ERmsLoginUnknownUser;
}

bool XTRmDemoService::GetIsAllowed(int nRestrictionId) const
{
    if (!m_bLoggedIn)
        return false;
    if (m_strCurrentUser.empty())
        return nRestrictionId == XTRmDemoRightViewReports; // guests only look
    const XTRmDemoUserProfile* pProfile = m_store.Find(m_strCurrentUser);
    return pProfile != nullptr && pProfile->setAllowed.count(nRestrictionId) != 0;
}

std::vector<XTRmsUserInfo> XTRmDemoService::GetAllDefinedUsers() const
{
    std::vector<XTRmsUserInfo> users;
    for (const XTRmDemoUserProfile& profile : m_store.GetProfiles())
        users.emplace_back(profile.strUserName, profile.strFullName);
    return users;
}

std::vector<XTRmsUserInfo> XTRmDemoService::GetAllUsers() const
{
    std::vector<XTRmsUserInfo> users;
    for (const DemoAccount& account : kAccounts)
        users.emplace_back(account.pszUserName, account.pszFullName);
    return users;
}

std::vector<XTRmsUserInfo> XTRmDemoService::GetLocalUsers() const
{
    std::vector<XTRmsUserInfo> users;
    for (const DemoAccount& account : kAccounts)
    {
        if (account.bLocal)
            users.emplace_back(account.pszUserName, account.pszFullName);
    }
    return users;
}

std::vector<XTRmsRoleInfo> XTRmDemoService::GetAllRoles() const
{
    return {{static_cast<Rms::RmsUserRole>(XTRmDemoRoleOperator), L"Operator"},
        {static_cast<Rms::RmsUserRole>(XTRmDemoRoleEngineer), L"Engineer"},
        {static_cast<Rms::RmsUserRole>(XTRmDemoRoleAdministrator), L"Administrator"}};
}

std::vector<XTRmsRestrictionDefinition> XTRmDemoService::GetRoleRestrDefinitions() const
{
    return std::vector<XTRmsRestrictionDefinition>(std::begin(kDefinitions), std::end(kDefinitions));
}

Rms::RmsResult XTRmDemoService::GetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const
{
    const XTRmDemoUserProfile* pProfile = m_store.Find(strUserName);
    if (pProfile == nullptr || pbAllowed == nullptr)
        return Rms::RmsFailure;
    *pbAllowed = pProfile->setAllowed.count(nRestrictionId) != 0;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmDemoService::SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    return m_store.SetAllowed(strUserName, nRestrictionId, bAllowed) ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmDemoService::CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole)
{
    XTRmDemoUserProfile profile;
    profile.strUserName = strUserName;
    for (const DemoAccount& account : kAccounts)
    {
        if (strUserName == account.pszUserName)
            profile.strFullName = account.pszFullName;
    }
    profile.nRole = nRole;
    for (int nRight : RoleRights(nRole))
        profile.setAllowed.insert(nRight);
    return m_store.Add(profile) ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmDemoService::RemoveUser(const std::wstring& strUserName)
{
    // The logged-in user cannot pull the floor from under their own feet.
    if (strUserName == m_strCurrentUser)
        return Rms::RmsFailure;
    return m_store.Remove(strUserName) ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmDemoService::LoadUserProfiles()
{
    std::wstring strMessage;
    XTRmDemoProfileStore::LoadResult nResult = m_store.Load(&strMessage);
    if (nResult == XTRmDemoProfileStore::LoadResult::Recovered || nResult == XTRmDemoProfileStore::LoadResult::Damaged)
        m_strStoreMessage = strMessage;
    return nResult == XTRmDemoProfileStore::LoadResult::Damaged ? Rms::RmsFailure : Rms::RmsSuccess;
}

Rms::RmsResult XTRmDemoService::SaveUserProfiles()
{
    std::wstring strMessage;
    if (m_store.Save(&strMessage))
        return Rms::RmsSuccess;
    m_strStoreMessage = strMessage;
    return Rms::RmsFailure;
}

bool XTRmDemoService::IsUserDefined(const std::wstring& strUserName) const
{
    return m_store.Find(strUserName) != nullptr;
}

bool XTRmDemoService::IsSuperUser(const std::wstring& strUserName) const
{
    return strUserName == L"admin";
}

std::wstring XTRmDemoService::GetSettingsString() const
{
    std::wstring strText;
    strText += L"Rights source     : " + m_store.GetFilePath() + L"\r\n";
    strText += L"Source reachable  : " + std::wstring(m_bSourceReachable ? L"yes" : L"no") + L"\r\n";
    strText += L"Rights server     : " + m_serverSetting.GetHost() + L":" + std::to_wstring(m_serverSetting.GetPortNum()) + L"\r\n";
    strText += L"Connected through : " + std::wstring(m_bThroughServer ? L"rights server" : L"rights source") + L"\r\n";
    strText += L"Logged-in user    : " + (m_bLoggedIn ? (m_strCurrentUser.empty() ? std::wstring(L"(guest)") : m_strCurrentUser) : std::wstring(L"(none)")) + L"\r\n";
    strText += L"User profiles     : " + std::to_wstring(m_store.GetProfiles().size()) + L"\r\n";
    return strText;
}
