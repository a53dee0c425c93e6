#include "XTRmsServiceImpl.h"

#include "XTRmsCrypto.h"
#include "XTRmsCsv.h"
#include "XTRmsInputRules.h"
#include "XTRmsPassword.h"
#include "XTRmsServiceUpgradeScript.h"
#include "XTRmsSettingsText.h"
#include "XTRmsSiteDefinition.h"

#include <lm.h>

#include <algorithm>
#include <cwchar>
#include <set>

namespace
{
// Audit rows shown by GetSettingsString.
const size_t kSettingsAuditRows = 10;
const wchar_t kNotPermitted[] = L"Only a logged-in administrator may change users and rights.";
const wchar_t kNotPermittedToRead[] = L"Only a logged-in administrator may read the audit trail.";
const wchar_t kLastSuperUser[] = L"The last enabled super user cannot be removed, disabled or demoted.";

std::wstring ComputerName()
{
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD nSize = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(szName, &nSize) ? std::wstring(szName) : std::wstring();
}

std::wstring OsUserName()
{
    wchar_t szName[257] = {};
    DWORD nSize = 257;
    return GetUserNameW(szName, &nSize) ? std::wstring(szName) : std::wstring();
}

std::vector<XTRmsUserInfo> LocalAccounts()
{
    std::vector<XTRmsUserInfo> vecUsers;
    LPBYTE pBuffer = nullptr;
    DWORD nRead = 0;
    DWORD nTotal = 0;
    DWORD hResume = 0;
    NET_API_STATUS nStatus;
    do
    {
        nStatus = NetUserEnum(
            nullptr, 2, FILTER_NORMAL_ACCOUNT, &pBuffer, MAX_PREFERRED_LENGTH, &nRead, &nTotal, &hResume);
        if ((nStatus == NERR_Success || nStatus == ERROR_MORE_DATA) && pBuffer != nullptr)
        {
            auto pUsers = reinterpret_cast<USER_INFO_2*>(pBuffer);
            for (DWORD i = 0; i < nRead; ++i)
            {
                if ((pUsers[i].usri2_flags & UF_ACCOUNTDISABLE) == 0)
                    vecUsers.emplace_back(
                        pUsers[i].usri2_name, pUsers[i].usri2_full_name != nullptr ? pUsers[i].usri2_full_name : L"");
            }
        }
        if (pBuffer != nullptr)
        {
            NetApiBufferFree(pBuffer);
            pBuffer = nullptr;
        }
    } while (nStatus == ERROR_MORE_DATA);
    // The person at the keyboard is always a candidate, even where the
    // account list cannot be read.
    std::wstring strOsUser = OsUserName();
    if (!strOsUser.empty() && std::none_of(vecUsers.begin(), vecUsers.end(), [&](const XTRmsUserInfo& user) {
            return user.GetUserNameW() == strOsUser;
        }))
        vecUsers.emplace_back(strOsUser, L"");
    return vecUsers;
}

// What a connection test answers the façade for each outcome.
Rms::RmsConnectionTest ToConnectionTest(XTRmsOpenResult nResult, bool bServer)
{
    switch (nResult)
    {
    case XTRmsOpenResult::Ok:
        return bServer ? Rms::RmsConnectionServerConnected : Rms::RmsConnectionOk;
    case XTRmsOpenResult::AddressInvalid:
        return Rms::RmsConnectionServerAddressInvalid;
    case XTRmsOpenResult::AuthRefused:
        return Rms::RmsConnectionServerRefused;
    case XTRmsOpenResult::Timeout:
        return Rms::RmsConnectionServerTimeout;
    case XTRmsOpenResult::Unreadable:
    case XTRmsOpenResult::SchemaNewer:
        return Rms::RmsConnectionServerIncompatible;
    default:
        return Rms::RmsConnectionServerNotFound;
    }
}

// The content rules a password must meet, checked before any hashing.
Rms::ERmsPasswordResult CheckNewPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nMinLength)
{
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsPasswordTooLong;
    return XTRmsPassword::CheckPolicy(strUserName, strPassword, nMinLength);
}

Rms::RmsResult Refuse(std::wstring* pstrError, const std::wstring& strMessage)
{
    if (pstrError != nullptr)
        *pstrError = strMessage;
    return Rms::RmsFailure;
}

// The same for the calls that answer true or false.
bool RefuseFalse(std::wstring* pstrError, const std::wstring& strMessage)
{
    (void)Refuse(pstrError, strMessage);
    return false;
}
} // namespace

XTRmsServiceImpl::XTRmsServiceImpl(const XTRmsServiceConfig& config)
    : m_config(config), m_serverSetting(config.serverSetting), m_policy(config.policy),
      m_strWorkstation(
          XTRmsInputRules::ForRecord(config.strWorkstation.empty() ? ComputerName() : config.strWorkstation)),
      m_strOsUser(XTRmsInputRules::ForRecord(OsUserName())),
      m_signIn(config.fnClock, config.fnDeriveKey, m_strWorkstation, m_strOsUser)
{
}

XTRmsServiceImpl::~XTRmsServiceImpl()
{
    EndSession();
    XTRmsCrypto::Wipe(m_config.strServerPassword);
    // m_connections joins an attempt that overstayed as it ends.
}

// --- Start-up and connection ------------------------------------------------

Rms::RmsConnectionTest XTRmsServiceImpl::TryConnect(Rms::RmsApplicationType nType, int nMode)
{
    m_nApplicationType = nType;
    EndSession();
    // Any mode but the rights server's means the local source.
    if (nMode == Rms::RmsConnectModeServer)
    {
        if (m_serverSetting.GetHost().empty())
        {
            m_nEngine = XTRmsEngine::Postgres;
            Fail(XTRmsOpenResult::AddressInvalid, L"No rights server is configured.");
            return Rms::RmsConnectionServerNotConfigured;
        }
        return ToConnectionTest(Open(XTRmsEngine::Postgres, true, false, false), true);
    }
    return ToConnectionTest(Open(XTRmsEngine::Sqlite, true, m_config.bCreateDatabase, false), false);
}

Rms::RmsResult XTRmsServiceImpl::Initialize(Rms::RmsApplicationType nType)
{
    m_nApplicationType = nType;
    EndSession();
    // A host that skipped the connection test still gets its store: the one
    // tried last, the local file when none was.
    if (!m_pStore && Open(m_nEngine, true, m_config.bCreateDatabase, false) != XTRmsOpenResult::Ok)
        return Rms::RmsFailure;
    return ReadWorkingCopy() ? Rms::RmsSuccess : Rms::RmsFailure;
}

std::wstring XTRmsServiceImpl::StoreLocation(XTRmsEngine nEngine) const
{
    return XTRmsConnectionFactory::StoreLocation(nEngine, m_config, m_serverSetting);
}

XTRmsOpenResult XTRmsServiceImpl::Open(
    XTRmsEngine nEngine, bool bMigrate, bool bCreateMissingFile, bool bAsAdministrator)
{
    m_pServer.reset();
    m_pStore.reset();
    m_bStoreAdministrator = false;
    m_bServerLost = false;
    m_nEngine = nEngine;
    std::unique_ptr<XTRmsOdbc::Connection> pConnection;
    std::wstring strProblem;
    XTRmsOpenResult nConnected = m_connections.Connect(
        nEngine, m_config, m_serverSetting, bCreateMissingFile, &pConnection, &strProblem);
    if (nConnected != XTRmsOpenResult::Ok)
        return Fail(nConnected, strProblem);
    auto pStore = std::make_unique<XTRmsStore>(nEngine, std::move(pConnection));
    if (m_config.fnClock)
        pStore->SetClock(m_config.fnClock);
    bool bDatabaseAdministrator = false;
    if (nEngine == XTRmsEngine::Sqlite)
    {
        // WAL lets several processes of this machine share the file; full
        // syncs keep every commit through a crash.
        std::wstring strBusy = L"PRAGMA busy_timeout = " + std::to_wstring(m_config.nTimeoutSeconds * 1000);
        if (!pStore->GetConnection().Execute(strBusy.c_str()) ||
            !pStore->GetConnection().Execute(L"PRAGMA journal_mode = WAL") ||
            !pStore->GetConnection().Execute(L"PRAGMA synchronous = FULL"))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" cannot be read: " + pStore->GetLastErrorText());
        bDatabaseAdministrator = bAsAdministrator;
    }
    else
    {
        XTRmsServerStore probe(pStore->GetConnection(), m_strWorkstation, m_strOsUser);
        if (!probe.IsDatabaseAdministrator(&bDatabaseAdministrator))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" cannot be read: " + pStore->GetLastErrorText());
    }
    int nVersion = 0;
    if (!pStore->ReadSchemaVersion(&nVersion))
        return Fail(XTRmsOpenResult::Unreadable,
            L"The " + StoreLocation(nEngine) + L" cannot be read: " + pStore->GetLastErrorText());
    if (nVersion > XTRmsStore::kLatestSchemaVersion)
        return Fail(XTRmsOpenResult::SchemaNewer,
            L"The " + StoreLocation(nEngine) + L" has schema version " + std::to_wstring(nVersion) +
                L", newer than this service's " + std::to_wstring(XTRmsStore::kLatestSchemaVersion) +
                L"; update the service.");
    if (nVersion < XTRmsStore::kLatestSchemaVersion)
    {
        // On a rights server only the database administrator shapes the
        // schema; a workstation's account cannot and must not.
        if (!bMigrate || (nEngine == XTRmsEngine::Postgres && !bDatabaseAdministrator))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" has schema version " + std::to_wstring(nVersion) +
                    L"; the database administrator upgrades it to " +
                    std::to_wstring(XTRmsStore::kLatestSchemaVersion) + L" first (xtrms upgrade).");
        for (int nScript = std::max(nVersion + 1, 4);
             nEngine == XTRmsEngine::Postgres && nScript <= XTRmsStore::kLatestSchemaVersion; ++nScript)
        {
            std::vector<std::wstring> vecUpgrade = XTRmsServiceUpgradeScript::Statements(nScript);
            if (vecUpgrade.empty())
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The rights server's upgrade script to version " + std::to_wstring(nScript) + L" is missing.");
            pStore->SetServerUpgrade(nScript, std::move(vecUpgrade));
        }
        if (!pStore->Migrate(XTRmsStore::kLatestSchemaVersion))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" could not be upgraded: " + pStore->GetLastErrorText());
        nVersion = XTRmsStore::kLatestSchemaVersion;
    }
    // The trail's text index where this SQLite has one; a rights server's
    // comes with its upgrade script.
    pStore->PrepareAuditTextIndex();
    // The host's definition is checked like any other, and written only into
    // a store that has none, on both engines. Once a store has one (its first
    // host's, or its administrator's from a file), that is the site's: a
    // host with other rights or roles works with the store's, and only the
    // administrator changes them (xtrms define).
    XTRmsSiteDefinition host{m_config.vecRights, m_config.vecRoles, m_config.vecSignedRights};
    const bool bHostDefines = !host.vecRights.empty() || !host.vecRoles.empty();
    std::wstring strInvalid;
    if (bHostDefines && !host.Check(&strInvalid))
        return Fail(XTRmsOpenResult::Unreadable, L"This host's rights and roles cannot be used: " + strInvalid);
    std::unique_ptr<XTRmsServerStore> pServer;
    if (nEngine == XTRmsEngine::Postgres)
    {
        pServer = std::make_unique<XTRmsServerStore>(pStore->GetConnection(), m_strWorkstation, m_strOsUser);
        bool bWritten = false;
        if (bHostDefines &&
            !pServer->Define(host.vecRights, host.vecRoles, host.vecSignedRights, m_config.policy, &bWritten))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" cannot be written: " + pStore->GetLastErrorText());
        m_policy = m_config.policy;
        if (!pServer->ReadPolicy(&m_policy))
            return Fail(XTRmsOpenResult::Unreadable,
                L"The " + StoreLocation(nEngine) + L" cannot be read: " + pStore->GetLastErrorText());
    }
    else if (bHostDefines && !DefineIfEmpty(*pStore, host))
        return Fail(XTRmsOpenResult::Unreadable,
            L"The " + StoreLocation(nEngine) + L" cannot be written: " + pStore->GetLastErrorText());
    m_pStore = std::move(pStore);
    m_pServer = std::move(pServer);
    m_nSchemaVersion = nVersion;
    m_bStoreAdministrator = bAsAdministrator && bDatabaseAdministrator;
    if (!ReadWorkingCopy())
    {
        std::wstring strUnreadable = L"The " + StoreLocation(nEngine) + L" cannot be read: " +
            m_pStore->GetLastErrorText();
        return Fail(XTRmsOpenResult::Unreadable, strUnreadable);
    }
    m_vecDefinitionDifferences.clear();
    if (bHostDefines)
        m_vecDefinitionDifferences = XTRmsSiteDefinition::Differences(
            host, XTRmsSiteDefinition{m_workingCopy.GetRights(), m_workingCopy.GetRoles(), {}, false});
    m_strStoreProblem.clear();
    return XTRmsOpenResult::Ok;
}

bool XTRmsServiceImpl::DefineIfEmpty(XTRmsStore& store, const XTRmsSiteDefinition& host)
{
    XTRmsScopedTransaction transaction(store);
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    if (!transaction.IsOpen() || !store.ReadDefinitions(&vecRights, &vecRoles))
        return false;
    // Read under the write lock: another process may have written first.
    if (!vecRights.empty() || !vecRoles.empty())
        return true;
    return store.WriteDefinitions(host.vecRights, host.vecRoles) && store.WriteSignedRights(host.vecSignedRights) &&
        store.AppendAudit(m_strWorkstation, m_strOsUser, std::wstring(), L"definitions-written", std::wstring(),
            std::to_wstring(host.vecRights.size()) + L" rights, " + std::to_wstring(host.vecRoles.size()) +
                L" roles") &&
        transaction.Commit();
}

XTRmsOpenResult XTRmsServiceImpl::Fail(XTRmsOpenResult nResult, const std::wstring& strProblem)
{
    m_pServer.reset();
    m_pStore.reset();
    m_bStoreAdministrator = false;
    m_strStoreProblem = strProblem;
    return nResult;
}

bool XTRmsServiceImpl::ReadWorkingCopy()
{
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    std::vector<XTRmsStoredUser> vecUsers;
    if (!HaveStore())
        return false;
    if (IsServer())
    {
        if (!m_pServer->ReadDefinitions(&vecRights, &vecRoles) || !m_pServer->ReadPolicy(&m_policy) ||
            !m_pServer->ReadPasswordPolicy(&m_policy, &m_setSignedRights))
            return false;
        if (MayAdministerNow() && !Server([&] { return m_pServer->ListUsers(m_strToken, &vecUsers); }))
        {
            // Refused: the session lost the power meanwhile.
            if (m_pServer->GetRefusal() != XTRmsServerRefusal::NotPermitted)
                return false;
            m_bSuperUser = false;
            vecUsers.clear();
        }
    }
    else
    {
        if (!m_pStore->ReadDefinitions(&vecRights, &vecRoles) || !m_pStore->ReadSignedRights(&m_setSignedRights))
            return false;
        if (MayAdministerNow() && !m_pStore->ReadUsers(&vecUsers))
            return false;
    }
    m_workingCopy.Replace(std::move(vecRights), std::move(vecRoles), std::move(vecUsers));
    return true;
}

// --- The session --------------------------------------------------------------

void XTRmsServiceImpl::EndSession()
{
    if (m_pServer && !m_strToken.empty())
        m_pServer->Logout(m_strToken);
    XTRmsCrypto::Wipe(m_strToken);
    m_bLoggedIn = false;
    m_bGuest = false;
    m_bSuperUser = false;
    m_bSessionLocked = false;
    m_strUser.clear();
    m_setRights.clear();
}

void XTRmsServiceImpl::BeginSession(XTRmsSignedIn& signedIn)
{
    m_bLoggedIn = true;
    m_bGuest = signedIn.bGuest;
    m_bSuperUser = signedIn.bSuperUser;
    m_strUser = signedIn.strUserName;
    m_strToken = signedIn.strToken;
    XTRmsCrypto::Wipe(signedIn.strToken);
    m_setRights.insert(signedIn.setRights.begin(), signedIn.setRights.end());
}

bool XTRmsServiceImpl::MayAdministerNow() const
{
    return m_bStoreAdministrator || (m_bLoggedIn && !m_bGuest && m_bSuperUser && !m_bSessionLocked);
}

std::wstring XTRmsServiceImpl::Actor() const
{
    if (!m_bLoggedIn)
        return std::wstring();
    return m_bGuest ? std::wstring(L"(guest)") : m_strUser;
}

std::wstring XTRmsServiceImpl::AdminActor() const
{
    return Actor().empty() ? m_strOsUser : Actor();
}

Rms::ERmsLoginResult XTRmsServiceImpl::UserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    m_strLastServerMessage.clear();
    EndSession();
    if (!HaveStore())
        return Rms::ERmsLoginSourceUnavailable;
    // Refused before any hashing: nobody's password is that long, and a huge
    // one would only cost the workstation time.
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsLoginWrongPassword;
    // Names are compared in their composed form; one that breaks the rules
    // cannot exist and is answered like any unknown name.
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr))
        strName = strUserName.empty() ? std::wstring() : std::wstring(L"\uFFFD");
    XTRmsSignedIn signedIn;
    std::wstring strProblem;
    Rms::ERmsLoginResult nResult = Rms::ERmsLoginSourceUnavailable;
    if (IsServer())
        nResult = m_signIn.ServerLogin(*this, m_policy, strName, strPassword, &signedIn, &strProblem);
    else if (strUserName.empty() && strPassword.empty())
        nResult = m_signIn.LocalGuestLogin(*m_pStore, m_policy, &signedIn);
    else
        nResult = m_signIn.LocalLogin(*m_pStore, m_policy, m_workingCopy, strName, strPassword, &signedIn, &strProblem);
    if (!strProblem.empty())
        m_strStoreProblem = strProblem;
    if (nResult != Rms::ERmsLoginOk)
        return nResult;
    BeginSession(signedIn);
    // An administrator sees the users; nobody else does, so nobody else needs
    // the reread.
    if (MayAdministerNow())
        ReadWorkingCopy();
    else
        m_workingCopy.ForgetUsers();
    return nResult;
}

Rms::ERmsLoginResult XTRmsServiceImpl::Reconnect()
{
    m_strLastServerMessage.clear();
    if (!m_bLoggedIn)
    {
        m_strLastServerMessage = L"Nobody is logged in; log in again.";
        if (Open(m_nEngine, true, false, m_bStoreAdministrator) != XTRmsOpenResult::Ok)
            return Rms::ERmsLoginSourceUnavailable;
        return Rms::ERmsLoginServerRefused;
    }
    // The session and the changes not saved yet survive the reconnect.
    bool bGuest = m_bGuest;
    std::wstring strUser = m_strUser;
    std::wstring strToken = m_strToken;
    XTRmsWorkingCopy::Unsaved unsaved = m_workingCopy.GetUnsaved();
    m_strToken.clear();
    XTRmsOpenResult nOpened = Open(m_nEngine, true, false, m_bStoreAdministrator);
    auto restore = [&](Rms::ERmsLoginResult nResult) {
        if (nResult == Rms::ERmsLoginOk && !unsaved.vecPending.empty())
            m_workingCopy.PutUnsaved(unsaved);
        else if (nResult != Rms::ERmsLoginOk)
        {
            XTRmsCrypto::Wipe(strToken);
            EndSession();
        }
        return nResult;
    };
    if (nOpened != XTRmsOpenResult::Ok)
    {
        m_strToken = strToken;
        return Rms::ERmsLoginSourceUnavailable;
    }
    m_setRights.clear();
    if (IsServer())
    {
        XTRmsServerSession session;
        bool bValid = false;
        if (!m_pServer->ReadSession(strToken, &session, &bValid))
        {
            m_strToken = strToken;
            return Rms::ERmsLoginSourceUnavailable;
        }
        if (!bValid)
        {
            m_strLastServerMessage = L"The session has ended; log in again.";
            return restore(Rms::ERmsLoginServerRefused);
        }
        m_strToken = strToken;
        m_bSuperUser = session.bSuperUser;
        m_setRights.insert(session.setRights.begin(), session.setRights.end());
        ReadWorkingCopy();
        return restore(Rms::ERmsLoginOk);
    }
    if (bGuest)
    {
        if (!m_policy.bGuestLoginAllowed)
            return restore(Rms::ERmsLoginGuestNotAllowed);
        m_setRights.insert(m_policy.vecGuestRights.begin(), m_policy.vecGuestRights.end());
        return restore(Rms::ERmsLoginOk);
    }
    XTRmsStoredUser user;
    bool bFound = false;
    if (!m_pStore->ReadUser(strUser, &user, &bFound))
        return restore(Rms::ERmsLoginSourceUnavailable);
    // The session ends when the account went away, was disabled or locked.
    if (!bFound)
        return restore(Rms::ERmsLoginWrongPassword);
    if (user.bDisabled)
        return restore(Rms::ERmsLoginAccountDisabled);
    if (m_signIn.IsLocked(user))
        return restore(Rms::ERmsLoginUserLocked);
    const XTRmsRoleDefinition* pRole = m_workingCopy.FindRole(user.nRole);
    m_bSuperUser = pRole != nullptr && pRole->bSuperUser;
    m_setRights.insert(user.setRights.begin(), user.setRights.end());
    ReadWorkingCopy();
    return restore(Rms::ERmsLoginOk);
}

bool XTRmsServiceImpl::GetIsAllowed(int nRestrictionId) const
{
    return m_bLoggedIn && !m_bSessionLocked && m_setRights.count(nRestrictionId) != 0;
}

std::wstring XTRmsServiceImpl::GetLoggedInUserName() const
{
    return m_bLoggedIn && !m_bGuest ? m_strUser : std::wstring();
}

bool XTRmsServiceImpl::CanSetOtherPasswords() const
{
    return m_bLoggedIn && !m_bGuest && m_bSuperUser;
}

void XTRmsServiceImpl::Logout()
{
    EndSession();
    ReadWorkingCopy();
}

// --- Writing: transactions, authorisation, the server's calls -----------------

bool XTRmsServiceImpl::Audit(const std::wstring& strActor, const wchar_t* pszEvent, const std::wstring& strSubject,
    const std::wstring& strDetail)
{
    return m_pStore->AppendAudit(m_strWorkstation, m_strOsUser, strActor, pszEvent, strSubject, strDetail);
}

template <typename Work>
bool XTRmsServiceImpl::Write(Work fnWork, std::wstring* pstrError)
{
    if (!m_pStore)
    {
        if (pstrError != nullptr)
            *pstrError = m_strStoreProblem.empty() ? L"The store is not open." : m_strStoreProblem;
        return false;
    }
    std::wstring strReason;
    XTRmsScopedTransaction transaction(*m_pStore);
    if (!transaction.IsOpen())
    {
        if (pstrError != nullptr)
            *pstrError = L"The store cannot be written: " + m_pStore->GetLastErrorText();
        return false;
    }
    if (!fnWork(&strReason))
    {
        if (pstrError != nullptr)
            *pstrError = strReason.empty() ? L"The store cannot be written: " + m_pStore->GetLastErrorText()
                                           : strReason;
        return false; // the transaction rolls back
    }
    if (!transaction.Commit())
    {
        if (pstrError != nullptr)
            *pstrError = L"The change could not be committed: " + m_pStore->GetLastErrorText();
        return false;
    }
    return true;
}

bool XTRmsServiceImpl::AuthorizeAdministrator(std::wstring* pstrReason)
{
    // Judged on the user's state as stored now, so that a user demoted,
    // disabled, locked or removed elsewhere has lost the power.
    if (m_bStoreAdministrator)
        return true;
    *pstrReason = kNotPermitted;
    if (!m_bLoggedIn || m_bGuest)
        return false;
    XTRmsStoredUser current;
    bool bFound = false;
    if (!m_pStore->ReadUser(m_strUser, &current, &bFound))
    {
        pstrReason->clear();
        return false;
    }
    const XTRmsRoleDefinition* pRole = bFound ? m_workingCopy.FindRole(current.nRole) : nullptr;
    if (!bFound || current.bDisabled || m_signIn.IsLocked(current) || pRole == nullptr || !pRole->bSuperUser)
    {
        m_bSuperUser = false;
        return false;
    }
    pstrReason->clear();
    return true;
}

template <typename Work>
bool XTRmsServiceImpl::WriteAsAdministrator(Work fnWork, std::wstring* pstrError)
{
    return Write(
        [&](std::wstring* pstrReason) {
            long long nBefore = 0;
            long long nAfter = 0;
            if (!AuthorizeAdministrator(pstrReason) || !m_pStore->CountEnabledSuperUsers(&nBefore) ||
                !fnWork(pstrReason) || !m_pStore->CountEnabledSuperUsers(&nAfter))
                return false;
            if (nBefore > 0 && nAfter == 0)
            {
                *pstrReason = kLastSuperUser;
                return false;
            }
            return true;
        },
        pstrError);
}

std::wstring XTRmsServiceImpl::ServerProblem() const
{
    if (!m_pServer)
        return m_strStoreProblem;
    switch (m_pServer->GetRefusal())
    {
    case XTRmsServerRefusal::NotPermitted:
        return kNotPermitted;
    case XTRmsServerRefusal::Timeout:
        return L"The rights server did not answer in time; try again.";
    case XTRmsServerRefusal::Unavailable:
        return L"The rights server cannot be reached: " + m_pStore->GetLastErrorText();
    default:
        return m_pServer->GetRefusalText();
    }
}

template <typename ServerCall>
bool XTRmsServiceImpl::Server(ServerCall fnCall)
{
    if (!HaveStore() || !m_pServer)
        return false;
    if (fnCall())
        return true;
    if (!IsConnectionLost() || !ReopenKeepingSession())
        return false;
    return fnCall();
}

bool XTRmsServiceImpl::HaveStore()
{
    // A rights server lost by an earlier call is looked for again.
    if (!m_pStore && m_bServerLost)
        (void)ReopenKeepingSession();
    return m_pStore != nullptr;
}

bool XTRmsServiceImpl::Call(const std::function<bool(XTRmsServerStore&)>& fnCall)
{
    // The server is looked up at each try: a reconnect replaces it.
    return Server([&] { return fnCall(*m_pServer); });
}

bool XTRmsServiceImpl::IsConnectionLost() const
{
    if (!m_pStore)
        return false;
    const std::wstring& strState = m_pStore->GetConnection().GetLastError().strState;
    // A call the connection gave up on met a server that stopped answering:
    // reconnecting at once would only wait as long again. The next call
    // finds the connection dead and tries.
    if (strState == L"HYT00")
        return false;
    // Communication link failure, connection gone, or ended by the server.
    return strState == L"08S01" || strState == L"08003" || strState == L"08006" || strState == L"57P01" ||
        strState == L"57P02" || strState == L"57P03" || m_pStore->GetConnection().IsDead();
}

bool XTRmsServiceImpl::ReopenKeepingSession()
{
    const bool bLoggedIn = m_bLoggedIn;
    const bool bGuest = m_bGuest;
    const bool bSuperUser = m_bSuperUser;
    const std::wstring strUser = m_strUser;
    std::wstring strToken = m_strToken;
    const std::unordered_set<int> setRights = m_setRights;
    XTRmsWorkingCopy::Unsaved unsaved = m_workingCopy.GetUnsaved();
    m_strToken.clear();
    m_bLoggedIn = false;
    bool bOpened = Open(m_nEngine, false, false, m_bStoreAdministrator) == XTRmsOpenResult::Ok;
    // The session waits for the server to come back, unless it never was one.
    m_bServerLost = !bOpened && m_nEngine == XTRmsEngine::Postgres;
    m_bLoggedIn = bLoggedIn;
    m_bGuest = bGuest;
    m_bSuperUser = bSuperUser;
    m_strUser = strUser;
    m_strToken = strToken;
    XTRmsCrypto::Wipe(strToken);
    m_setRights = setRights;
    m_workingCopy.PutUnsaved(std::move(unsaved));
    return bOpened;
}

// --- The working copy the dialogs edit ----------------------------------------

std::vector<XTRmsUserInfo> XTRmsServiceImpl::GetAllDefinedUsers() const
{
    std::vector<XTRmsUserInfo> vecUsers;
    vecUsers.reserve(m_workingCopy.GetUsers().size());
    for (const auto& entry : m_workingCopy.GetUsers())
        vecUsers.emplace_back(entry.first, entry.second.strFullName);
    return vecUsers;
}

std::vector<XTRmsUserInfo> XTRmsServiceImpl::GetAllUsers() const
{
    std::vector<XTRmsUserInfo> vecUsers = LocalAccounts();
    vecUsers.insert(vecUsers.end(), m_config.vecDirectoryUsers.begin(), m_config.vecDirectoryUsers.end());
    return vecUsers;
}

std::vector<XTRmsUserInfo> XTRmsServiceImpl::GetLocalUsers()
{
    return LocalAccounts();
}

std::vector<XTRmsRoleInfo> XTRmsServiceImpl::GetAllRoles() const
{
    std::vector<XTRmsRoleInfo> vecRoles;
    for (const XTRmsRoleDefinition& role : m_workingCopy.GetRoles())
        vecRoles.emplace_back(role.nId, role.strName);
    return vecRoles;
}

Rms::RmsResult XTRmsServiceImpl::GetUserIsAllowed(
    const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const
{
    const XTRmsStoredUser* pUser = m_workingCopy.FindUser(strUserName);
    if (pUser == nullptr || pbAllowed == nullptr)
        return Rms::RmsFailure;
    *pbAllowed = pUser->setRights.count(nRestrictionId) != 0;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    if (!MayAdministerNow() || !m_workingCopy.SetRight(strUserName, nRestrictionId, bAllowed))
        return Rms::RmsFailure;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole)
{
    const XTRmsRoleDefinition* pRole = m_workingCopy.FindRole(nRole);
    std::wstring strName;
    if (!MayAdministerNow() || !XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr) || pRole == nullptr ||
        m_workingCopy.FindUser(strName) != nullptr)
        return Rms::RmsFailure;
    XTRmsStoredUser user;
    user.strUserName = strName;
    user.nRole = nRole;
    user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    MarkNewAccount(&user);
    for (const XTRmsUserInfo& account : GetAllUsers())
    {
        if (account.GetUserNameW() == strUserName)
        {
            if (XTRmsInputRules::CheckFullName(account.GetFullName(), nullptr))
                user.strFullName = account.GetFullName();
            break;
        }
    }
    m_workingCopy.Create(user);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::RemoveUser(const std::wstring& strUserName)
{
    // The logged-in user cannot pull the floor from under his own feet.
    if (!MayAdministerNow() || (m_bLoggedIn && !m_bGuest && strUserName == m_strUser) ||
        !m_workingCopy.Remove(strUserName))
        return Rms::RmsFailure;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::LoadUserProfiles()
{
    m_workingCopy.DropPending();
    if (!ReadWorkingCopy())
    {
        if (m_pStore)
            m_strStoreProblem = L"The store cannot be read: " + m_pStore->GetLastErrorText();
        return Rms::RmsFailure;
    }
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::SaveUserProfiles()
{
    // A message describes the last save only.
    m_strLastServerMessage.clear();
    if (m_workingCopy.GetPending().empty())
        return Rms::RmsSuccess;
    std::wstring strError;
    bool bSaved = false;
    if (IsServer())
    {
        bSaved = Server([&] { return m_pServer->SaveChanges(Token(), m_workingCopy.ChangesJson()); });
        if (!bSaved)
            strError = ServerProblem();
    }
    else
        bSaved = SaveLocally(&strError);
    if (!bSaved)
    {
        // Nothing stored changed; the working copy and its changes stay, so
        // the administrator loses nothing and may try again.
        m_strLastServerMessage = strError;
        return Rms::RmsFailure;
    }
    m_workingCopy.DropPending();
    // Others' changes that landed meanwhile come in with the reread.
    ReadWorkingCopy();
    return Rms::RmsSuccess;
}

bool XTRmsServiceImpl::SaveLocally(std::wstring* pstrError)
{
    std::wstring strActor = AdminActor();
    return WriteAsAdministrator(
        [&](std::wstring* pstrReason) {
            for (const XTRmsPendingChange& change : m_workingCopy.GetPending())
            {
                const std::wstring& strUser = change.user.strUserName;
                switch (change.nKind)
                {
                case XTRmsPendingChange::Create:
                    if (!m_pStore->InsertUser(change.user))
                    {
                        *pstrReason = L"The user " + strUser +
                            L" could not be created (another workstation may have created it): " +
                            m_pStore->GetLastErrorText();
                        return false;
                    }
                    if (!Audit(
                            strActor, L"user-created", strUser, L"role " + m_workingCopy.RoleName(change.user.nRole)))
                        return false;
                    break;
                case XTRmsPendingChange::Remove: {
                    if (m_bLoggedIn && strUser == m_strUser)
                    {
                        *pstrReason = L"Nobody can remove himself.";
                        return false;
                    }
                    bool bRemoved = false;
                    if (!m_pStore->DeleteUser(strUser, &bRemoved) || !Audit(strActor, L"user-removed", strUser, L""))
                        return false;
                    break;
                }
                case XTRmsPendingChange::Right: {
                    XTRmsStoredUser stored;
                    bool bFound = false;
                    if (!m_pStore->ReadUser(strUser, &stored, &bFound))
                        return false;
                    if (!bFound)
                    {
                        *pstrReason = L"The user " + strUser + L" was removed meanwhile; reload the users.";
                        return false;
                    }
                    if ((stored.setRights.count(change.nRight) != 0) == change.bAllowed)
                        break; // already so: nothing to change, nothing to audit
                    if (!m_pStore->SetRight(strUser, change.nRight, change.bAllowed) ||
                        !Audit(strActor, change.bAllowed ? L"right-granted" : L"right-withdrawn", strUser,
                            RightChangeDetail(change.nRight, change.bAllowed)))
                        return false;
                    break;
                }
                }
            }
            return true;
        },
        pstrError);
}

std::wstring XTRmsServiceImpl::RightChangeDetail(int nRight, bool bAllowed) const
{
    // The label as the store defines it, so that the row still reads right
    // after the right was renamed or dropped.
    std::wstring strLabel;
    for (const XTRmsRestrictionDefinition& right : m_workingCopy.GetRights())
    {
        if (right.GetId() == nRight)
            strLabel = right.GetName();
    }
    return L"right " + std::to_wstring(nRight) + L" (" + strLabel + L"): " + (bAllowed ? L"no -> yes" : L"yes -> no");
}

bool XTRmsServiceImpl::IsUserDefined(const std::wstring& strUserName) const
{
    return m_workingCopy.FindUser(strUserName) != nullptr;
}

bool XTRmsServiceImpl::IsSuperUser(const std::wstring& strUserName) const
{
    return m_workingCopy.IsSuperUser(strUserName);
}

std::wstring XTRmsServiceImpl::GetSettingsString()
{
    XTRmsSettingsText::Facts facts;
    facts.strStoreLocation = StoreLocation(m_nEngine);
    facts.bStoreOpen = m_pStore != nullptr;
    facts.nSchemaVersion = m_nSchemaVersion;
    facts.nLatestSchemaVersion = XTRmsStore::kLatestSchemaVersion;
    facts.strStoreProblem = m_strStoreProblem;
    facts.bServer = IsServer();
    facts.serverSetting = m_serverSetting;
    facts.strWorkstation = m_strWorkstation;
    facts.bLoggedIn = m_bLoggedIn;
    facts.bGuest = m_bGuest;
    facts.strUser = m_strUser;
    facts.nUsers = m_workingCopy.GetUsers().size();
    facts.nPendingChanges = m_workingCopy.GetPending().size();
    facts.policy = m_policy;
    facts.bMayAdminister = MayAdministerNow();
    facts.nRights = m_workingCopy.GetRights().size();
    facts.nRoles = m_workingCopy.GetRoles().size();
    facts.bHostDefines = !m_config.vecRights.empty() || !m_config.vecRoles.empty();
    facts.vecDefinitionDifferences = m_vecDefinitionDifferences;
    // Read last, as the reader's power may end on the way.
    facts.vecAudit = GetAuditTrail(kSettingsAuditRows);
    facts.bMayReadAudit = MayAdministerNow();
    return XTRmsSettingsText::Compose(facts);
}

// --- Passwords ------------------------------------------------------------------

Rms::ERmsPasswordResult XTRmsServiceImpl::StorePassword(
    const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszEvent)
{
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!m_signIn.NewCredential(strPassword, m_policy.nPbkdf2Iterations, &strSaltHex, &strKeyHex))
        return Rms::ERmsPasswordStoreFailed;
    if (IsServer())
    {
        bool bOk = Server([&] {
            return m_pServer->SetPassword(Token(), strUserName, strSaltHex, m_policy.nPbkdf2Iterations, strKeyHex);
        });
        XTRmsCrypto::Wipe(strKeyHex);
        if (bOk)
            return Rms::ERmsPasswordOk;
        m_strStoreProblem = ServerProblem();
        switch (m_pServer->GetRefusal())
        {
        case XTRmsServerRefusal::NotPermitted:
            return Rms::ERmsPasswordNotPermitted;
        case XTRmsServerRefusal::NotFound:
            return Rms::ERmsPasswordUnknownUser;
        default:
            return Rms::ERmsPasswordStoreFailed;
        }
    }
    std::wstring strHash = XTRmsSignIn::StoredHashOf(strKeyHex);
    XTRmsCrypto::Wipe(strKeyHex);
    bool bUnknown = false;
    bool bOk = WriteAsAdministrator(
        [&](std::wstring*) {
            XTRmsStoredUser before;
            bool bFound = false;
            if (!m_pStore->ReadUser(strUserName, &before, &bFound))
                return false;
            if (!bFound || !m_pStore->SetPassword(strUserName, strHash, strSaltHex, m_policy.nPbkdf2Iterations))
            {
                bUnknown = true;
                return false;
            }
            // The replaced password joins the history; the one the
            // administrator chose is the user's to replace at once.
            return m_pStore->PushPasswordHistory(strUserName,
                       {before.strHashHex, before.strSaltHex, before.nIterations}, before.nPasswordChanged,
                       m_policy.nPasswordHistory) &&
                m_pStore->SetPasswordAge(strUserName, m_signIn.Now(), m_policy.bMustChangeAfterReset) &&
                Audit(AdminActor(), pszEvent, strUserName, std::wstring());
        },
        &m_strStoreProblem);
    if (bOk)
    {
        m_workingCopy.MarkHasPassword(strUserName);
        return Rms::ERmsPasswordOk;
    }
    if (m_strStoreProblem == kNotPermitted)
        return Rms::ERmsPasswordNotPermitted;
    return bUnknown ? Rms::ERmsPasswordUnknownUser : Rms::ERmsPasswordStoreFailed;
}

Rms::ERmsPasswordResult XTRmsServiceImpl::ChangeOwnPassword(
    const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    std::wstring strUser = GetLoggedInUserName();
    if (strUser.empty() || m_bSessionLocked || !HaveStore())
        return strUser.empty() || m_bSessionLocked ? Rms::ERmsPasswordNotPermitted : Rms::ERmsPasswordStoreFailed;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strOldPassword))
        return Rms::ERmsPasswordWrongOld;
    Rms::ERmsPasswordResult nPolicy = CheckNewPassword(strUser, strNewPassword, m_policy.nMinPasswordLength);
    if (IsServer())
    {
        if (nPolicy != Rms::ERmsPasswordOk)
            return nPolicy;
        XTRmsServerLogin answer;
        if (!ChangeOnServer(strUser, strOldPassword, strNewPassword, false, &answer))
        {
            return m_pServer->GetRefusal() == XTRmsServerRefusal::NotPermitted ? Rms::ERmsPasswordNotPermitted
                                                                               : Rms::ERmsPasswordStoreFailed;
        }
        return static_cast<Rms::ERmsPasswordResult>(answer.nResult);
    }
    XTRmsStoredUser user;
    bool bFound = false;
    if (!m_pStore->ReadUser(strUser, &user, &bFound))
        return Rms::ERmsPasswordStoreFailed;
    if (!bFound)
        return Rms::ERmsPasswordUnknownUser;
    // Locked or disabled meanwhile: only an administrator helps now.
    if (user.bDisabled || m_signIn.IsLocked(user))
        return Rms::ERmsPasswordAccountLocked;
    if (!m_signIn.IsPasswordOf(user, strOldPassword))
    {
        // A refusal whose audit row cannot be written is reported as a
        // store failure: the attempt must not go unrecorded.
        bool bAudited = Write(
            [&](std::wstring*) { return Audit(strUser, L"password-change-refused", strUser, L"wrong old password"); },
            nullptr);
        return bAudited ? Rms::ERmsPasswordWrongOld : Rms::ERmsPasswordStoreFailed;
    }
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    Rms::ERmsPasswordResult nResult = Rms::ERmsPasswordStoreFailed;
    bool bOk = Write(
        [&](std::wstring*) {
            XTRmsStoredUser current;
            bool bStillThere = false;
            return m_pStore->ReadUser(strUser, &current, &bStillThere) && bStillThere &&
                StoreOwnPassword(current, strNewPassword, false, L"password-changed", &nResult);
        },
        nullptr);
    return bOk ? nResult : Rms::ERmsPasswordStoreFailed;
}

bool XTRmsServiceImpl::StoreOwnPassword(const XTRmsStoredUser& user, const std::wstring& strNewPassword, bool bForced,
    const wchar_t* pszEvent, Rms::ERmsPasswordResult* pnResult)
{
    const long long nNow = m_signIn.Now();
    // A forced change is due now, whatever the password's age.
    if (!bForced && !user.bMustChange && m_policy.nMinPasswordAgeDays != 0 &&
        nNow - user.nPasswordChanged < static_cast<long long>(m_policy.nMinPasswordAgeDays) * 86400)
    {
        *pnResult = Rms::ERmsPasswordTooRecent;
        return true;
    }
    std::vector<XTRmsStoredHash> vecHistory;
    if (!m_pStore->ReadPasswordHistory(user.strUserName, &vecHistory))
        return false;
    if (vecHistory.size() > m_policy.nPasswordHistory)
        vecHistory.resize(m_policy.nPasswordHistory);
    if (m_signIn.IsReused(user, vecHistory, strNewPassword))
    {
        *pnResult = Rms::ERmsPasswordReused;
        return true;
    }
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!m_signIn.NewCredential(strNewPassword, m_policy.nPbkdf2Iterations, &strSaltHex, &strKeyHex))
        return false;
    std::wstring strHash = XTRmsSignIn::StoredHashOf(strKeyHex);
    XTRmsCrypto::Wipe(strKeyHex);
    if (!m_pStore->SetPassword(user.strUserName, strHash, strSaltHex, m_policy.nPbkdf2Iterations) ||
        !m_pStore->PushPasswordHistory(user.strUserName, {user.strHashHex, user.strSaltHex, user.nIterations},
            user.nPasswordChanged, m_policy.nPasswordHistory) ||
        !m_pStore->SetPasswordAge(user.strUserName, nNow, false) ||
        !Audit(user.strUserName, pszEvent, user.strUserName, std::wstring()))
        return false;
    *pnResult = Rms::ERmsPasswordOk;
    return true;
}

bool XTRmsServiceImpl::ChangeOnServer(const std::wstring& strUserName, const std::wstring& strOldPassword,
    const std::wstring& strNewPassword, bool bForced, XTRmsServerLogin* pAnswer)
{
    std::wstring strOldKeyHex;
    std::wstring strHistoryKeys;
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    bool bAnswered = ServerKey(strUserName, strOldPassword, &strOldKeyHex) &&
        HistoryKeys(strUserName, strNewPassword, &strHistoryKeys) &&
        m_signIn.NewCredential(strNewPassword, m_policy.nPbkdf2Iterations, &strSaltHex, &strKeyHex) && Server([&] {
            // A change at login has no session yet: the server proves the
            // old key instead.
            return m_pServer->ChangePassword(bForced ? std::wstring() : Token(), strUserName, strOldKeyHex, strSaltHex,
                m_policy.nPbkdf2Iterations, strKeyHex, strHistoryKeys, bForced, pAnswer);
        });
    XTRmsCrypto::Wipe(strOldKeyHex);
    XTRmsCrypto::Wipe(strKeyHex);
    if (!bAnswered)
        m_strStoreProblem = ServerProblem();
    return bAnswered;
}

bool XTRmsServiceImpl::ServerKey(
    const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrKeyHex)
{
    std::wstring strSaltHex;
    unsigned int nIterations = 0;
    std::vector<unsigned char> vecSalt;
    if (!Server([&] { return m_pServer->LoginParams(strUserName, &strSaltHex, &nIterations); }) ||
        !XTRmsCrypto::FromHex(strSaltHex, &vecSalt))
        return false;
    std::vector<unsigned char> vecKey = m_signIn.DeriveKey(strPassword, vecSalt, nIterations);
    *pstrKeyHex = XTRmsCrypto::ToHex(vecKey);
    XTRmsCrypto::Wipe(vecKey);
    return !pstrKeyHex->empty();
}

bool XTRmsServiceImpl::HistoryKeys(
    const std::wstring& strUserName, const std::wstring& strNewPassword, std::wstring* pstrKeys)
{
    std::vector<std::pair<std::wstring, unsigned int>> vecSalts;
    if (!Server([&] { return m_pServer->PasswordSalts(strUserName, &vecSalts); }))
        return false;
    pstrKeys->clear();
    for (const auto& salt : vecSalts)
    {
        std::vector<unsigned char> vecSalt;
        if (!XTRmsCrypto::FromHex(salt.first, &vecSalt))
            return false;
        std::vector<unsigned char> vecKey = m_signIn.DeriveKey(strNewPassword, vecSalt, salt.second);
        *pstrKeys += (pstrKeys->empty() ? L"" : L";") + XTRmsCrypto::ToHex(vecKey);
        XTRmsCrypto::Wipe(vecKey);
    }
    return true;
}

void XTRmsServiceImpl::MarkNewAccount(XTRmsStoredUser* pUser) const
{
    pUser->nPasswordChanged = m_signIn.Now();
    pUser->bMustChange = m_policy.bMustChangeAfterReset;
}

XTRmsSignedIn XTRmsServiceImpl::SignedInFrom(const XTRmsStoredUser& user) const
{
    XTRmsSignedIn signedIn;
    const XTRmsRoleDefinition* pRole = m_workingCopy.FindRole(user.nRole);
    signedIn.strUserName = user.strUserName;
    signedIn.bSuperUser = pRole != nullptr && pRole->bSuperUser;
    signedIn.setRights = user.setRights;
    return signedIn;
}

namespace
{
// What a proof of name and password answered, as a password change reads it.
Rms::ERmsPasswordResult PasswordResultOf(Rms::ERmsLoginResult nLogin)
{
    switch (nLogin)
    {
    case Rms::ERmsLoginOk:
        return Rms::ERmsPasswordOk;
    case Rms::ERmsLoginWrongPassword:
    case Rms::ERmsLoginUnknownUser:
        return Rms::ERmsPasswordWrongOld;
    case Rms::ERmsLoginUserLocked:
    case Rms::ERmsLoginAccountDisabled:
        return Rms::ERmsPasswordAccountLocked;
    default:
        return Rms::ERmsPasswordStoreFailed;
    }
}

Rms::ERmsSignResult SignResultOf(Rms::ERmsLoginResult nLogin)
{
    switch (nLogin)
    {
    case Rms::ERmsLoginOk:
        return Rms::ERmsSignOk;
    case Rms::ERmsLoginWrongPassword:
        return Rms::ERmsSignWrongPassword;
    case Rms::ERmsLoginUserLocked:
        return Rms::ERmsSignUserLocked;
    case Rms::ERmsLoginAccountDisabled:
        return Rms::ERmsSignAccountDisabled;
    case Rms::ERmsLoginSourceUnavailable:
        return Rms::ERmsSignStoreFailed;
    default:
        return Rms::ERmsSignNotPermitted;
    }
}
} // namespace

Rms::ERmsPasswordResult XTRmsServiceImpl::ChangeExpiredPassword(
    const std::wstring& strUserName, const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    m_strLastServerMessage.clear();
    EndSession();
    if (!HaveStore())
        return Rms::ERmsPasswordStoreFailed;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strOldPassword))
        return Rms::ERmsPasswordWrongOld;
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr))
        strName = std::wstring(L"\uFFFD");
    Rms::ERmsPasswordResult nRule = CheckNewPassword(strName, strNewPassword, m_policy.nMinPasswordLength);
    if (IsServer())
    {
        if (nRule != Rms::ERmsPasswordOk)
            return nRule;
        XTRmsServerLogin answer;
        if (!ChangeOnServer(strName, strOldPassword, strNewPassword, true, &answer))
            return Rms::ERmsPasswordStoreFailed;
        if (answer.nResult != Rms::ERmsPasswordOk)
            return static_cast<Rms::ERmsPasswordResult>(answer.nResult);
        XTRmsSignedIn signedIn;
        signedIn.strUserName = answer.strUserName;
        signedIn.strToken = answer.strToken;
        XTRmsCrypto::Wipe(answer.strToken);
        signedIn.bSuperUser = answer.bSuperUser;
        signedIn.setRights = answer.setRights;
        BeginSession(signedIn);
    }
    else
    {
        Rms::ERmsPasswordResult nChange = Rms::ERmsPasswordStoreFailed;
        XTRmsStoredUser user;
        std::wstring strProblem;
        Rms::ERmsLoginResult nProof = m_signIn.LocalCheck(
            *m_pStore, m_policy, strName, strOldPassword, L"password-change-refused",
            [&](const XTRmsStoredUser& current, Rms::ERmsLoginResult* pnResult) {
                *pnResult = Rms::ERmsLoginServerRefused;
                // Not a way around the minimum age: only a password that is
                // due is changed here.
                if (!m_signIn.IsExpired(current, m_policy))
                {
                    nChange = Rms::ERmsPasswordNotPermitted;
                    return Audit(strName, L"password-change-refused", strName, L"not expired");
                }
                if (nRule != Rms::ERmsPasswordOk)
                {
                    nChange = nRule;
                    return true;
                }
                if (!StoreOwnPassword(current, strNewPassword, true, L"password-expired-change", &nChange))
                    return false;
                if (nChange != Rms::ERmsPasswordOk)
                    return true;
                *pnResult = Rms::ERmsLoginOk;
                return Audit(strName, L"login", strName, L"");
            },
            &user, &strProblem);
        if (!strProblem.empty())
            m_strStoreProblem = strProblem;
        if (nProof == Rms::ERmsLoginServerRefused)
            return nChange;
        if (nProof != Rms::ERmsLoginOk)
            return PasswordResultOf(nProof);
        XTRmsSignedIn signedIn = SignedInFrom(user);
        BeginSession(signedIn);
    }
    if (MayAdministerNow())
        ReadWorkingCopy();
    else
        m_workingCopy.ForgetUsers();
    return Rms::ERmsPasswordOk;
}

// --- The session's lock and signatures ------------------------------------------

bool XTRmsServiceImpl::LockSession()
{
    if (!m_bLoggedIn || m_bGuest || !HaveStore())
        return false;
    if (m_bSessionLocked)
        return true;
    // Locked even when the row cannot be written: the screen must not stay
    // open because the store is away.
    m_bSessionLocked = true;
    if (IsServer())
        (void)Server([&] { return m_pServer->LockSession(Token()); });
    else
        (void)Write([&](std::wstring*) { return Audit(m_strUser, L"session-locked", m_strUser, L""); }, nullptr);
    return true;
}

Rms::ERmsLoginResult XTRmsServiceImpl::UnlockSession(const std::wstring& strPassword)
{
    if (!m_bSessionLocked)
        return Rms::ERmsLoginServerRefused;
    if (!HaveStore())
        return Rms::ERmsLoginSourceUnavailable;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsLoginWrongPassword;
    Rms::ERmsLoginResult nResult = Rms::ERmsLoginSourceUnavailable;
    if (IsServer())
    {
        std::wstring strKeyHex;
        int nAnswer = 0;
        if (!ServerKey(m_strUser, strPassword, &strKeyHex) ||
            !Server([&] { return m_pServer->UnlockSession(Token(), strKeyHex, &nAnswer); }))
        {
            XTRmsCrypto::Wipe(strKeyHex);
            m_strStoreProblem = ServerProblem();
            return Rms::ERmsLoginSourceUnavailable;
        }
        XTRmsCrypto::Wipe(strKeyHex);
        nResult = static_cast<Rms::ERmsLoginResult>(nAnswer);
    }
    else
    {
        XTRmsStoredUser user;
        std::wstring strProblem;
        nResult = m_signIn.LocalCheck(
            *m_pStore, m_policy, m_strUser, strPassword, L"unlock-refused",
            [&](const XTRmsStoredUser&, Rms::ERmsLoginResult* pnResult) {
                *pnResult = Rms::ERmsLoginOk;
                return Audit(m_strUser, L"session-unlocked", m_strUser, L"");
            },
            &user, &strProblem);
        if (!strProblem.empty())
            m_strStoreProblem = strProblem;
    }
    if (nResult == Rms::ERmsLoginOk)
        m_bSessionLocked = false;
    return nResult;
}

Rms::ERmsLoginResult XTRmsServiceImpl::SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword)
{
    if (!m_bSessionLocked)
        return Rms::ERmsLoginServerRefused;
    if (!HaveStore())
        return Rms::ERmsLoginSourceUnavailable;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword) || strUserName.empty())
        return Rms::ERmsLoginWrongPassword;
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr))
        strName = std::wstring(L"\uFFFD");
    XTRmsSignedIn signedIn;
    std::wstring strProblem;
    Rms::ERmsLoginResult nResult = IsServer()
        ? m_signIn.ServerLogin(*this, m_policy, strName, strPassword, &signedIn, &strProblem)
        : m_signIn.LocalLogin(*m_pStore, m_policy, m_workingCopy, strName, strPassword, &signedIn, &strProblem);
    if (!strProblem.empty())
        m_strStoreProblem = strProblem;
    // Refused: the previous user's session stays, locked.
    if (nResult != Rms::ERmsLoginOk)
        return nResult;
    const std::wstring strPrevious = m_strUser;
    bool bRecorded = false;
    if (IsServer())
    {
        bRecorded = Server([&] { return m_pServer->SwitchUser(Token(), signedIn.strToken); });
        // The server ended the previous session with the switch.
        if (bRecorded)
            XTRmsCrypto::Wipe(m_strToken);
    }
    else
        bRecorded = Write(
            [&](std::wstring*) {
                return Audit(signedIn.strUserName, L"user-switched", signedIn.strUserName, strPrevious);
            },
            nullptr);
    EndSession();
    if (!bRecorded)
    {
        // A switch the trail does not show does not happen.
        if (m_pServer && !signedIn.strToken.empty())
            m_pServer->Logout(signedIn.strToken);
        XTRmsCrypto::Wipe(signedIn.strToken);
        return Rms::ERmsLoginSourceUnavailable;
    }
    BeginSession(signedIn);
    if (MayAdministerNow())
        ReadWorkingCopy();
    else
        m_workingCopy.ForgetUsers();
    return Rms::ERmsLoginOk;
}

Rms::ERmsSignResult XTRmsServiceImpl::Sign(const std::wstring& strUserName, const std::wstring& strPassword,
    const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
    XTRmsSignature* pSignature)
{
    if (!m_bLoggedIn || m_bGuest || m_bSessionLocked || pSignature == nullptr)
        return Rms::ERmsSignNotPermitted;
    std::wstring strMeaningNfc;
    std::wstring strReasonNfc;
    if (!XTRmsInputRules::CheckLabel(strMeaning, L"The meaning", &strMeaningNfc, nullptr) ||
        !XTRmsInputRules::CheckLabel(strReason, L"The reason", &strReasonNfc, nullptr))
        return Rms::ERmsSignInvalidInput;
    std::wstring strFirst;
    if (!strFirstSigner.empty() && !XTRmsInputRules::CheckUserName(strFirstSigner, &strFirst, nullptr))
        return Rms::ERmsSignInvalidInput;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsSignWrongPassword;
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr))
        strName = std::wstring(L"\uFFFD");
    // Four eyes: the second signer is another person, whatever the case
    // the name was typed in.
    if (!strFirst.empty() && CompareStringOrdinal(strFirst.c_str(), -1, strName.c_str(), -1, TRUE) == CSTR_EQUAL)
        return Rms::ERmsSignSameSigner;
    if (!HaveStore())
        return Rms::ERmsSignStoreFailed;
    const std::wstring strDetail = strMeaningNfc + L"; reason: " + strReasonNfc +
        (strFirst.empty() ? std::wstring() : L"; first signer: " + strFirst);
    XTRmsSignature signature;
    signature.strMeaning = strMeaningNfc;
    signature.strReason = strReasonNfc;
    if (IsServer())
    {
        std::wstring strKeyHex;
        int nAnswer = Rms::ERmsSignStoreFailed;
        bool bAnswered = ServerKey(strName, strPassword, &strKeyHex) && Server([&] {
            return m_pServer->Sign(
                Token(), strName, strKeyHex, strMeaningNfc, strReasonNfc, strFirst, &signature, &nAnswer);
        });
        XTRmsCrypto::Wipe(strKeyHex);
        if (!bAnswered)
        {
            m_strStoreProblem = ServerProblem();
            return m_pServer->GetRefusal() == XTRmsServerRefusal::NotPermitted ? Rms::ERmsSignNotPermitted
                                                                               : Rms::ERmsSignStoreFailed;
        }
        if (nAnswer != Rms::ERmsSignOk)
            return static_cast<Rms::ERmsSignResult>(nAnswer);
    }
    else
    {
        XTRmsStoredUser user;
        std::wstring strProblem;
        bool bExpired = false;
        Rms::ERmsLoginResult nProof = m_signIn.LocalCheck(
            *m_pStore, m_policy, strName, strPassword, L"signature-refused",
            [&](const XTRmsStoredUser& current, Rms::ERmsLoginResult* pnResult) {
                // A password that is due must be changed before it signs.
                if (m_signIn.IsExpired(current, m_policy))
                {
                    bExpired = true;
                    *pnResult = Rms::ERmsLoginPasswordExpired;
                    return Audit(m_strUser, L"signature-refused", strName, L"6 password expired");
                }
                std::wstring strHead;
                *pnResult = Rms::ERmsLoginOk;
                signature.strUserName = current.strUserName;
                signature.strFullName = current.strFullName;
                signature.strTimeUtc = XTRmsStore::UtcText(m_signIn.Now());
                return Audit(m_strUser, L"signature", current.strUserName, strDetail) &&
                    m_pStore->ReadAuditHead(&signature.nAuditSequence, &strHead);
            },
            &user, &strProblem);
        if (!strProblem.empty())
            m_strStoreProblem = strProblem;
        if (nProof == Rms::ERmsLoginUnknownUser)
            return Rms::ERmsSignNotPermitted;
        if (nProof != Rms::ERmsLoginOk)
            return bExpired ? Rms::ERmsSignNotPermitted : SignResultOf(nProof);
    }
    *pSignature = signature;
    return Rms::ERmsSignOk;
}

Rms::ERmsPasswordResult XTRmsServiceImpl::SetUserPassword(
    const std::wstring& strUserName, const std::wstring& strNewPassword)
{
    if (!CanSetOtherPasswords())
        return Rms::ERmsPasswordNotPermitted;
    if (!HaveStore())
        return Rms::ERmsPasswordStoreFailed;
    Rms::ERmsPasswordResult nPolicy = CheckNewPassword(strUserName, strNewPassword, m_policy.nMinPasswordLength);
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    return StorePassword(strUserName, strNewPassword, L"password-set");
}

// --- Administration ---------------------------------------------------------------

bool XTRmsServiceImpl::OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError)
{
    EndSession();
    if (Open(nEngine, bCreateOrUpgrade, bCreateOrUpgrade, true) == XTRmsOpenResult::Ok)
        return true;
    return RefuseFalse(pstrError, m_strStoreProblem);
}

Rms::RmsResult XTRmsServiceImpl::SetPolicy(const XTRmsPolicy& policy, std::wstring* pstrError)
{
    if (!HaveStore())
        return Refuse(pstrError, m_strStoreProblem);
    if (!MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    if (IsServer())
    {
        if (!Server([&] { return m_pServer->SetPolicy(Token(), XTRmsServerStore::PolicyJson(policy)); }))
            return Refuse(pstrError, ServerProblem());
        ReadWorkingCopy();
        return Rms::RmsSuccess;
    }
    // A SQLite store applies the host's configuration.
    m_policy = policy;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::AddUser(const std::wstring& strUserName, const std::wstring& strFullName,
    Rms::RmsUserRole nRole, const std::wstring& strPassword, std::wstring* pstrError)
{
    std::wstring strProblem;
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, &strProblem) ||
        !XTRmsInputRules::CheckFullName(strFullName, &strProblem))
        return Refuse(pstrError, strProblem);
    if (!HaveStore())
        return Refuse(pstrError, m_strStoreProblem);
    if (!MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    const XTRmsRoleDefinition* pRole = m_workingCopy.FindRole(nRole);
    if (pRole == nullptr)
        return Refuse(pstrError, L"There is no role " + std::to_wstring(nRole) + L" in the store.");
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!strPassword.empty())
    {
        Rms::ERmsPasswordResult nPolicy = CheckNewPassword(strName, strPassword, m_policy.nMinPasswordLength);
        if (nPolicy != Rms::ERmsPasswordOk)
            return Refuse(pstrError, XTRmsPassword::DescribeRefusal(nPolicy, m_policy.nMinPasswordLength));
        if (!m_signIn.NewCredential(strPassword, m_policy.nPbkdf2Iterations, &strSaltHex, &strKeyHex))
            return Refuse(pstrError, L"The password could not be hashed.");
    }
    XTRmsStoredUser user;
    user.strUserName = strName;
    user.strFullName = strFullName;
    user.nRole = nRole;
    user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    MarkNewAccount(&user);
    if (IsServer())
    {
        bool bOk = Server([&] {
            return m_pServer->AddUser(
                Token(), strName, strFullName, nRole, strSaltHex, m_policy.nPbkdf2Iterations, strKeyHex);
        });
        XTRmsCrypto::Wipe(strKeyHex);
        if (!bOk)
            return Refuse(pstrError, ServerProblem());
        // The new user joins the working copy as the server made him; a full
        // reread per user would make provisioning quadratic.
        user.strHashHex = strSaltHex.empty() ? L"" : L"*";
        m_workingCopy.PutUser(user);
        return Rms::RmsSuccess;
    }
    if (!strKeyHex.empty())
    {
        user.strHashHex = XTRmsSignIn::StoredHashOf(strKeyHex);
        user.strSaltHex = strSaltHex;
        user.nIterations = m_policy.nPbkdf2Iterations;
        XTRmsCrypto::Wipe(strKeyHex);
    }
    std::wstring strActor = AdminActor();
    bool bOk = WriteAsAdministrator(
        [&](std::wstring* pstrReason) {
            XTRmsStoredUser existing;
            bool bExists = false;
            if (!m_pStore->ReadUser(strName, &existing, &bExists))
                return false;
            if (bExists)
            {
                *pstrReason = L"The user " + strName + L" exists already.";
                return false;
            }
            return m_pStore->InsertUser(user) && Audit(strActor, L"user-created", strName, L"role " + pRole->strName) &&
                (user.strHashHex.empty() || Audit(strActor, L"password-set", strName, L""));
        },
        pstrError);
    if (!bOk)
        return Rms::RmsFailure;
    // The copy knows whether there is a password, never the hash.
    user.strHashHex = user.strHashHex.empty() ? L"" : L"*";
    user.strSaltHex.clear();
    m_workingCopy.PutUser(user);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsServiceImpl::SetPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError)
{
    if (!MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    Rms::ERmsPasswordResult nResult = CheckNewPassword(strUserName, strPassword, m_policy.nMinPasswordLength);
    if (nResult == Rms::ERmsPasswordOk)
        nResult = StorePassword(strUserName, strPassword, L"password-set");
    if (nResult == Rms::ERmsPasswordOk)
        return Rms::RmsSuccess;
    return Refuse(pstrError,
        (nResult == Rms::ERmsPasswordStoreFailed || nResult == Rms::ERmsPasswordNotPermitted) &&
                !m_strStoreProblem.empty()
            ? m_strStoreProblem
            : XTRmsPassword::DescribeRefusal(nResult, m_policy.nMinPasswordLength));
}

Rms::RmsResult XTRmsServiceImpl::Unlock(const std::wstring& strUserName, std::wstring* pstrError)
{
    if (!MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    return ChangeAccount(
        strUserName, L"user-unlocked", [&] { return m_pServer->Unlock(Token(), strUserName); },
        [&] { return m_pStore->SetLockState(strUserName, 0, 0); }, pstrError);
}

Rms::RmsResult XTRmsServiceImpl::SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError)
{
    if (!MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    if (bDisabled && m_bLoggedIn && strUserName == m_strUser)
        return Refuse(pstrError, L"Nobody can disable himself.");
    return ChangeAccount(
        strUserName, bDisabled ? L"user-disabled" : L"user-enabled",
        [&] { return m_pServer->SetDisabled(Token(), strUserName, bDisabled); },
        [&] { return m_pStore->SetDisabled(strUserName, bDisabled); }, pstrError);
}

template <typename ServerChange, typename StoreChange>
Rms::RmsResult XTRmsServiceImpl::ChangeAccount(const std::wstring& strUserName, const wchar_t* pszEvent,
    ServerChange fnServer, StoreChange fnStore, std::wstring* pstrError)
{
    bool bOk = false;
    if (IsServer())
    {
        // The server decides, changes and audits in one of its functions.
        bOk = Server(fnServer);
        if (!bOk)
            return Refuse(pstrError, ServerProblem());
    }
    else
    {
        std::wstring strActor = AdminActor();
        bOk = WriteAsAdministrator(
            [&](std::wstring* pstrReason) {
                if (!fnStore())
                {
                    *pstrReason = L"There is no user " + strUserName + L".";
                    return false;
                }
                return Audit(strActor, pszEvent, strUserName, L"");
            },
            pstrError);
    }
    if (bOk)
        ReadWorkingCopy();
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

std::vector<XTRmsUserRecord> XTRmsServiceImpl::ListUsers() const
{
    std::vector<XTRmsUserRecord> vecRecords;
    const long long nNow = m_signIn.Now();
    for (const auto& entry : m_workingCopy.GetUsers())
    {
        const XTRmsStoredUser& user = entry.second;
        XTRmsUserRecord record;
        record.strUserName = user.strUserName;
        record.strFullName = user.strFullName;
        record.nRole = static_cast<Rms::RmsUserRole>(user.nRole);
        record.bHasPassword = !user.strHashHex.empty();
        record.bDisabled = user.bDisabled;
        record.bLocked = user.nLockedUntil < 0 || user.nLockedUntil > nNow;
        record.nFailedLogins = user.nFailedLogins;
        record.vecRights.assign(user.setRights.begin(), user.setRights.end());
        vecRecords.push_back(record);
    }
    return vecRecords;
}

bool XTRmsServiceImpl::ExportCsv(std::wstring* pstrCsv, std::wstring* pstrError) const
{
    if (!m_pStore)
        return RefuseFalse(pstrError, m_strStoreProblem);
    if (!MayAdministerNow())
        return RefuseFalse(pstrError, kNotPermitted);
    std::wstring strCsv = XTRmsCsv::Record({L"user", L"full_name", L"role", L"disabled", L"rights"});
    for (const XTRmsUserRecord& record : ListUsers())
    {
        std::wstring strRights;
        for (int nRight : record.vecRights)
            strRights += (strRights.empty() ? L"" : L";") + std::to_wstring(nRight);
        strCsv += XTRmsCsv::Record({record.strUserName, record.strFullName, std::to_wstring(record.nRole),
            record.bDisabled ? L"1" : L"0", strRights});
    }
    *pstrCsv = strCsv;
    return true;
}

bool XTRmsServiceImpl::DefineSite(const XTRmsSiteDefinition& definition, size_t* pnChanges, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) { return RefuseFalse(pstrError, strMessage); };
    *pnChanges = 0;
    if (!HaveStore())
        return fail(m_strStoreProblem);
    // What the site's rights are is the store's administrator's to say, not
    // an XTRm administrator's at a workstation.
    if (!m_bStoreAdministrator)
        return fail(
            L"Only the store's administrator defines the site's rights and roles: on a rights server "
            L"the database administrator, on a SQLite file whoever opens it with xtrms.");
    XTRmsSiteDefinition wanted = definition;
    std::wstring strProblem;
    if (!wanted.Check(&strProblem))
        return fail(strProblem);
    if (wanted.vecRights.empty() || wanted.vecRoles.empty())
        return fail(L"The definition must have at least one right and one role.");
    if (IsServer())
    {
        if (!Server([&] { return m_pServer->Redefine(wanted.vecRights, wanted.vecRoles, pnChanges); }))
            return fail(ServerProblem());
        // The rights that need a signature are kept with the server's policy.
        std::set<int> setWanted(wanted.vecSignedRights.begin(), wanted.vecSignedRights.end());
        if (wanted.bSaysSignedRights && setWanted != m_setSignedRights)
        {
            if (!Server([&] {
                    return m_pServer->SetPolicy(Token(), XTRmsServerStore::SignedRightsJson(wanted.vecSignedRights));
                }))
                return fail(ServerProblem());
            ++*pnChanges;
        }
        ReadWorkingCopy();
        return true;
    }
    std::wstring strActor = AdminActor();
    bool bOk = WriteAsAdministrator(
        [&](std::wstring* pstrReason) {
            XTRmsSiteDefinition current;
            if (!m_pStore->ReadDefinitions(&current.vecRights, &current.vecRoles))
                return false;
            std::vector<XTRmsSiteDefinition::Change> vecChanges = wanted.ChangesFrom(current);
            for (const XTRmsSiteDefinition::Change& change : vecChanges)
            {
                long long nHolders = 0;
                if (change.nKind == XTRmsSiteDefinition::Change::RightRemoved)
                {
                    if (!m_pStore->CountRightHolders(change.nId, &nHolders))
                        return false;
                    if (nHolders > 0)
                        return RefuseFalse(pstrReason,
                            L"The right " + std::to_wstring(change.nId) + L" (" + change.strDetail +
                                L") cannot be dropped: it is still granted to " + std::to_wstring(nHolders) +
                                L" user(s). Withdraw it from them first, or keep it in the definition.");
                }
                else if (change.nKind == XTRmsSiteDefinition::Change::RoleRemoved)
                {
                    if (!m_pStore->CountRoleHolders(change.nId, &nHolders))
                        return false;
                    if (nHolders > 0)
                        return RefuseFalse(pstrReason,
                            L"The role " + std::to_wstring(change.nId) + L" (" + change.strDetail +
                                L") cannot be dropped: " + std::to_wstring(nHolders) +
                                L" user(s) still have it. Give them another role first, or keep it in the "
                                L"definition.");
                }
            }
            std::set<int> setSigned;
            if (!m_pStore->ReadSignedRights(&setSigned))
                return false;
            std::set<int> setWanted(wanted.vecSignedRights.begin(), wanted.vecSignedRights.end());
            if (wanted.bSaysSignedRights && setWanted != setSigned)
            {
                std::wstring strList;
                for (int nRight : setWanted)
                    strList += (strList.empty() ? L"" : L";") + std::to_wstring(nRight);
                if (!m_pStore->WriteSignedRights(wanted.vecSignedRights) ||
                    !Audit(strActor, L"signatures-changed", L"", strList.empty() ? L"none" : strList))
                    return false;
                ++*pnChanges;
            }
            if (vecChanges.empty())
                return true;
            if (!m_pStore->WriteDefinitions(wanted.vecRights, wanted.vecRoles))
                return false;
            for (const XTRmsSiteDefinition::Change& change : vecChanges)
            {
                if (!Audit(strActor, change.strEvent.c_str(), change.strSubject, change.strDetail))
                    return false;
            }
            *pnChanges += vecChanges.size();
            return true;
        },
        pstrError);
    if (!bOk)
        *pnChanges = 0;
    else
        ReadWorkingCopy();
    return bOk;
}

bool XTRmsServiceImpl::ImportCsv(const std::wstring& strCsv, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) { return RefuseFalse(pstrError, strMessage); };
    if (!HaveStore())
        return fail(m_strStoreProblem);
    if (!MayAdministerNow())
        return fail(kNotPermitted);
    std::vector<std::vector<std::wstring>> vecRows;
    std::wstring strParseError;
    if (!XTRmsCsv::Parse(strCsv, &vecRows, &strParseError))
        return fail(L"The CSV text is malformed: " + strParseError + L".");
    if (vecRows.empty() || vecRows[0].size() != 5 || vecRows[0][0] != L"user")
        return fail(L"The CSV text must begin with the header user,full_name,role,disabled,rights.");
    // Every row is checked before anything is written.
    std::vector<XTRmsStoredUser> vecUsers;
    std::set<std::wstring> setSeen;
    for (size_t i = 1; i < vecRows.size(); ++i)
    {
        // A cell the export guarded against spreadsheets comes back as it was.
        std::vector<std::wstring> row;
        for (const std::wstring& strCell : vecRows[i])
            row.push_back(XTRmsCsv::Unguard(strCell));
        std::wstring strWhere = L"Row " + std::to_wstring(i + 1) + L": ";
        if (row.size() != 5)
            return fail(strWhere + L"5 fields expected, " + std::to_wstring(row.size()) + L" found.");
        XTRmsStoredUser user;
        std::wstring strProblem;
        user.strFullName = row[1];
        if (!XTRmsInputRules::CheckUserName(row[0], &user.strUserName, &strProblem) ||
            !XTRmsInputRules::CheckFullName(user.strFullName, &strProblem))
            return fail(strWhere + strProblem);
        if (!setSeen.insert(user.strUserName).second)
            return fail(strWhere + L"the user " + user.strUserName + L" is listed twice.");
        if (!XTRmsCsv::ParseInt(row[2], &user.nRole) || m_workingCopy.FindRole(user.nRole) == nullptr)
            return fail(strWhere + L"\"" + row[2] + L"\" is not a role of this store.");
        if (row[3] != L"0" && row[3] != L"1")
            return fail(strWhere + L"disabled must be 0 or 1.");
        user.bDisabled = row[3] == L"1";
        size_t nStart = 0;
        while (nStart < row[4].size())
        {
            size_t nEnd = row[4].find(L';', nStart);
            std::wstring strRight = row[4].substr(
                nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
            int nRight = 0;
            if (!XTRmsCsv::ParseInt(strRight, &nRight) || !m_workingCopy.IsRightDefined(nRight))
                return fail(strWhere + L"\"" + strRight + L"\" is not a right of this store.");
            user.setRights.insert(nRight);
            if (nEnd == std::wstring::npos)
                break;
            nStart = nEnd + 1;
        }
        if (m_bLoggedIn && user.strUserName == m_strUser)
        {
            const XTRmsRoleDefinition* pRole = m_workingCopy.FindRole(user.nRole);
            if (user.bDisabled || pRole == nullptr || !pRole->bSuperUser)
                return fail(strWhere + L"nobody can disable or demote himself.");
        }
        vecUsers.push_back(user);
    }
    if (IsServer())
    {
        // The whole file in one call, applied by the server in one
        // transaction.
        std::wstring strJson = XTRmsServerStore::ImportJson(vecUsers);
        if (!Server([&] { return m_pServer->ImportUsers(Token(), strJson); }))
            return fail(ServerProblem());
        ReadWorkingCopy();
        return true;
    }
    std::wstring strActor = AdminActor();
    bool bOk = WriteAsAdministrator(
        [&](std::wstring*) {
            for (const XTRmsStoredUser& user : vecUsers)
            {
                XTRmsStoredUser existing;
                bool bExists = false;
                if (!m_pStore->ReadUser(user.strUserName, &existing, &bExists))
                    return false;
                if (!bExists)
                {
                    XTRmsStoredUser created = user;
                    MarkNewAccount(&created);
                    if (!m_pStore->InsertUser(created))
                        return false;
                }
                else
                {
                    if (!m_pStore->SetUserFields(user.strUserName, user.strFullName, user.nRole, user.bDisabled))
                        return false;
                    for (int nRight : existing.setRights)
                    {
                        if (user.setRights.count(nRight) == 0 && !m_pStore->SetRight(user.strUserName, nRight, false))
                            return false;
                    }
                    for (int nRight : user.setRights)
                    {
                        if (existing.setRights.count(nRight) == 0 &&
                            !m_pStore->SetRight(user.strUserName, nRight, true))
                            return false;
                    }
                }
                if (!Audit(strActor, L"user-imported", user.strUserName, bExists ? L"updated" : L"created"))
                    return false;
            }
            return true;
        },
        pstrError);
    if (bOk)
        ReadWorkingCopy();
    return bOk;
}

std::vector<XTRmsAuditEntry> XTRmsServiceImpl::GetAuditTrail(size_t nCount)
{
    std::vector<XTRmsAuditEntry> vecEntries;
    // The trail tells who did what: for administrators only.
    if (!m_pStore || !MayAdministerNow())
        return vecEntries;
    if (IsServer())
    {
        if (!Server([&] { return m_pServer->ReadAudit(Token(), nCount, &vecEntries); }))
            vecEntries.clear();
    }
    else if (!m_pStore->ReadAudit(nCount, &vecEntries))
        vecEntries.clear();
    return vecEntries;
}

bool XTRmsServiceImpl::VerifyAuditChainSince(
    const std::wstring& strCheckpoint, std::wstring* pstrProblem, bool* pbReadable)
{
    std::wstring strProblem;
    bool bIntact = false;
    bool bReadable = false;
    long long nSince = 0;
    std::wstring strSinceHash;
    size_t nColon = strCheckpoint.find(L':');
    if (!strCheckpoint.empty())
    {
        if (nColon == std::wstring::npos || nColon == 0 || nColon > 18 ||
            strCheckpoint.find_first_not_of(L"0123456789") != nColon)
            strProblem = L"The checkpoint must be written SEQ:HASH, as xtrms audit checkpoint prints it.";
        else
        {
            nSince = std::wcstoll(strCheckpoint.c_str(), nullptr, 10);
            strSinceHash = strCheckpoint.substr(nColon + 1);
        }
    }
    if (!strProblem.empty())
        ;
    else if (!m_pStore)
        strProblem = m_strStoreProblem;
    else if (!MayAdministerNow())
        strProblem = kNotPermitted;
    else if (IsServer())
    {
        if (!Server([&] { return m_pServer->VerifyAudit(Token(), nSince, strSinceHash, &bIntact, &strProblem); }))
            strProblem = L"The audit trail cannot be read: " + ServerProblem();
        else
            bReadable = true;
    }
    else if (!m_pStore->VerifyAudit(&bIntact, &strProblem, nSince, strSinceHash))
        strProblem = L"The audit trail cannot be read: " + m_pStore->GetLastErrorText();
    else
        bReadable = true;
    if (pstrProblem != nullptr)
        *pstrProblem = strProblem;
    if (pbReadable != nullptr)
        *pbReadable = bReadable;
    return bIntact && bReadable;
}

bool XTRmsServiceImpl::QueryAudit(const XTRmsAuditFilter& filter, long long nBeforeSequence, size_t nCount,
    std::vector<XTRmsAuditEntry>* pvecEntries, std::wstring* pstrError)
{
    pvecEntries->clear();
    XTRmsAuditQuery query;
    if (!XTRmsAuditQuery::FromFilter(filter, &query, pstrError))
        return false;
    if (nCount == 0 || nCount > kXTRmsAuditMaxPage || nBeforeSequence < 0)
        return RefuseFalse(
            pstrError, L"A page of the audit trail holds 1 to " + std::to_wstring(kXTRmsAuditMaxPage) + L" rows.");
    if (!HaveStore())
        return RefuseFalse(pstrError, m_strStoreProblem);
    // The trail tells who did what: for administrators only (a rights
    // server decides on the session's user as he is now).
    if (!MayAdministerNow())
        return RefuseFalse(pstrError, kNotPermittedToRead);
    if (IsServer())
    {
        if (!Server([&] { return m_pServer->QueryAudit(Token(), query, nBeforeSequence, nCount, pvecEntries); }))
        {
            pvecEntries->clear();
            return RefuseFalse(pstrError, ServerProblem());
        }
        return true;
    }
    // On SQLite judged on the user's state as stored now, as every change is.
    std::wstring strReason;
    if (!AuthorizeAdministrator(&strReason))
        return RefuseFalse(pstrError,
            strReason.empty() ? L"The audit trail cannot be read: " + m_pStore->GetLastErrorText()
                              : std::wstring(kNotPermittedToRead));
    if (!m_pStore->QueryAudit(query, nBeforeSequence, nCount, pvecEntries))
    {
        pvecEntries->clear();
        return RefuseFalse(pstrError, L"The audit trail cannot be read: " + m_pStore->GetLastErrorText());
    }
    return true;
}

bool XTRmsServiceImpl::AuditCheckpoint(std::wstring* pstrCheckpoint, std::wstring* pstrError)
{
    if (!m_pStore)
        return RefuseFalse(pstrError, m_strStoreProblem);
    if (!MayAdministerNow())
        return RefuseFalse(pstrError, kNotPermitted);
    long long nSequence = 0;
    std::wstring strHash;
    bool bOk = IsServer() ? m_pServer->Checkpoint(&nSequence, &strHash) : m_pStore->ReadAuditHead(&nSequence, &strHash);
    if (!bOk)
        return RefuseFalse(pstrError,
            IsServer() ? ServerProblem() : L"The audit trail cannot be read: " + m_pStore->GetLastErrorText());
    *pstrCheckpoint = std::to_wstring(nSequence) + L":" + strHash;
    return true;
}
