#include "XTRmsService.h"

#include "XTRmsCrypto.h"
#include "XTRmsCsv.h"
#include "XTRmsInputRules.h"
#include "XTRmsPassword.h"
#include "XTRmsServerStore.h"
#include "XTRmsStore.h"

#include <lm.h>

#include <algorithm>
#include <map>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <unordered_set>

namespace
{
// Audit rows shown by GetSettingsString.
const size_t kSettingsAuditRows = 10;

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

bool Contains(const std::wstring& strText, const wchar_t* pszPart)
{
    return strText.find(pszPart) != std::wstring::npos;
}

// One connection attempt on a thread of its own, so that the caller (the GUI
// thread, usually) waits no longer than the bound even when a driver ignores
// its timeouts. An attempt that overstays is joined later (the next attempt,
// or the service's end), never left to outlive the DLL.
struct ConnectAttempt
{
    std::unique_ptr<XTRmsOdbc::Connection> pConnection = std::make_unique<XTRmsOdbc::Connection>();
    std::wstring strConnectionString;
    unsigned int nTimeoutSeconds = 5;
    bool bOk = false;
    HANDLE hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    ~ConnectAttempt()
    {
        XTRmsCrypto::Wipe(strConnectionString);
        if (hDone != nullptr)
            CloseHandle(hDone);
    }
};

bool ConnectBounded(std::wstring& strConnectionString, unsigned int nTimeoutSeconds,
    std::unique_ptr<XTRmsOdbc::Connection>* ppConnection, XTRmsOdbc::Error* pError, std::thread* pOverstaying)
{
    auto pAttempt = std::make_shared<ConnectAttempt>();
    pAttempt->strConnectionString = strConnectionString;
    pAttempt->nTimeoutSeconds = nTimeoutSeconds;
    XTRmsCrypto::Wipe(strConnectionString);
    if (pAttempt->hDone == nullptr)
    {
        *pError = {L"HY000", 0, L"No event for the connection attempt."};
        return false;
    }
    std::thread worker([pAttempt]() {
        pAttempt->bOk = pAttempt->pConnection->Open(pAttempt->strConnectionString, pAttempt->nTimeoutSeconds);
        XTRmsCrypto::Wipe(pAttempt->strConnectionString);
        SetEvent(pAttempt->hDone);
    });
    // The driver's own login timeout comes first; this bound catches what it
    // does not cover (name resolution, a driver that ignores it).
    if (WaitForSingleObject(pAttempt->hDone, (nTimeoutSeconds + 2) * 1000) != WAIT_OBJECT_0)
    {
        *pOverstaying = std::move(worker);
        *pError = {L"HYT00", 0, L"The database did not answer in time."};
        return false;
    }
    worker.join();
    if (!pAttempt->bOk)
    {
        *pError = pAttempt->pConnection->GetLastError();
        return false;
    }
    *ppConnection = std::move(pAttempt->pConnection);
    return true;
}

XTRmsOpenResult ClassifyServerError(const XTRmsOdbc::Error& error)
{
    const std::wstring& strMessage = error.strMessage;
    if (error.strState == L"HYT00" || error.strState == L"HYT01" || Contains(strMessage, L"timeout expired") ||
        Contains(strMessage, L"timed out"))
        return XTRmsOpenResult::Timeout;
    if (error.strState == L"28000" || error.strState == L"28P01" || Contains(strMessage, L"authentication failed") ||
        Contains(strMessage, L"no pg_hba.conf entry") || Contains(strMessage, L"password is required"))
        return XTRmsOpenResult::AuthRefused;
    if (Contains(strMessage, L"does not exist") || error.strState == L"IM002")
        return XTRmsOpenResult::Unreadable; // connected, but no such database or driver
    return XTRmsOpenResult::Unreachable;
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

std::wstring RoleName(const std::vector<XTRmsRoleDefinition>& vecRoles, int nRole)
{
    for (const XTRmsRoleDefinition& role : vecRoles)
    {
        if (role.nId == nRole)
            return role.strName;
    }
    return std::to_wstring(nRole);
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

} // namespace

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

namespace
{
const wchar_t kNotPermitted[] = L"Only a logged-in administrator may change users and rights.";
const wchar_t kLastSuperUser[] = L"The last enabled super user cannot be removed, disabled or demoted.";
const size_t kSaltBytes = 16;

std::vector<unsigned char> SystemDeriveKey(
    const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations)
{
    return XTRmsCrypto::Pbkdf2Sha256(strPassword, vecSalt, nIterations, 32);
}

// The PostgreSQL upgrade script, a resource of this DLL, as statements.
std::vector<std::wstring> ServerUpgradeStatements()
{
    std::vector<std::wstring> vecStatements;
    HMODULE hModule = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ServerUpgradeStatements), &hModule))
        return vecStatements;
    HRSRC hResource = FindResourceW(hModule, L"XTRMS_POSTGRES_SQL", MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL hData = hResource != nullptr ? LoadResource(hModule, hResource) : nullptr;
    const char* pData = hData != nullptr ? static_cast<const char*>(LockResource(hData)) : nullptr;
    DWORD nSize = hResource != nullptr ? SizeofResource(hModule, hResource) : 0;
    if (pData == nullptr || nSize == 0)
        return vecStatements;
    int nLength = MultiByteToWideChar(CP_UTF8, 0, pData, static_cast<int>(nSize), nullptr, 0);
    std::wstring strScript(static_cast<size_t>(nLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pData, static_cast<int>(nSize), &strScript[0], nLength);
    // Statements end at lines holding only "--;", so that function bodies
    // may hold semicolons of their own.
    std::wstring strStatement;
    size_t nStart = 0;
    while (nStart < strScript.size())
    {
        size_t nEnd = strScript.find(L'\n', nStart);
        std::wstring strLine = strScript.substr(nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
        nStart = nEnd == std::wstring::npos ? strScript.size() : nEnd + 1;
        if (!strLine.empty() && strLine.back() == L'\r')
            strLine.pop_back();
        if (strLine == L"--;")
        {
            if (strStatement.find_first_not_of(L" \t\r\n") != std::wstring::npos)
                vecStatements.push_back(strStatement);
            strStatement.clear();
        }
        else
            strStatement += strLine + L"\n";
    }
    return vecStatements;
}
} // namespace

class XTRmsServiceImpl
{
public:
    explicit XTRmsServiceImpl(const XTRmsServiceConfig& config)
        : m_config(config), m_serverSetting(config.serverSetting), m_policy(config.policy),
          m_strWorkstation(XTRmsInputRules::ForRecord(config.strWorkstation.empty() ? ComputerName()
                                                                                      : config.strWorkstation)),
          m_strOsUser(XTRmsInputRules::ForRecord(OsUserName()))
    {
        m_fnClock = config.fnClock ? config.fnClock : &XTRmsStore::NowUnixSeconds;
        m_fnDeriveKey = config.fnDeriveKey ? config.fnDeriveKey : &SystemDeriveKey;
    }

    ~XTRmsServiceImpl()
    {
        EndSession();
        JoinOverstayingConnect();
        XTRmsCrypto::Wipe(m_config.strServerPassword);
    }

    // The driver gives up by its own login timeout; this waits for that.
    void JoinOverstayingConnect()
    {
        if (m_overstayingConnect.joinable())
            m_overstayingConnect.join();
    }

    XTRmsServiceConfig m_config;
    XTRmsServerSetting m_serverSetting;
    // What the store applies: the configuration's on SQLite, the server's own
    // on PostgreSQL.
    XTRmsPolicy m_policy;
    Rms::RmsApplicationType m_nApplicationType = Rms::RmsApplicationStandard;
    std::wstring m_strWorkstation;
    std::wstring m_strOsUser;
    std::function<long long()> m_fnClock;
    std::function<std::vector<unsigned char>(const std::wstring&, const std::vector<unsigned char>&, unsigned int)>
        m_fnDeriveKey;

    // The store that answered last, and why the last attempt failed.
    std::unique_ptr<XTRmsStore> m_pStore;
    // On a rights server of version 4 on: the functions that decide.
    std::unique_ptr<XTRmsServerStore> m_pServer;
    XTRmsEngine m_nEngine = XTRmsEngine::Sqlite;
    int m_nSchemaVersion = 0;
    std::wstring m_strStoreProblem;
    // Opened by OpenStore as the store's administrator.
    bool m_bStoreAdministrator = false;
    // A connection attempt that outlasted its bound, joined before the next.
    std::thread m_overstayingConnect;

    // The working copy the administration dialogs see, and its changes.
    std::vector<XTRmsRestrictionDefinition> m_vecRights;
    std::vector<XTRmsRoleDefinition> m_vecRoles;
    std::map<std::wstring, XTRmsStoredUser> m_mapUsers;
    std::vector<XTRmsPendingChange> m_vecPending;

    // The logged-in user; rights answered from memory.
    bool m_bLoggedIn = false;
    bool m_bGuest = false;
    bool m_bSuperUser = false;
    std::wstring m_strUser;
    std::wstring m_strToken; // the server's session
    std::unordered_set<int> m_setRights;
    std::wstring m_strLastServerMessage;

    bool IsServer() const { return m_pServer != nullptr; }

    std::wstring StoreLocation(XTRmsEngine nEngine) const
    {
        if (nEngine == XTRmsEngine::Sqlite)
            return L"SQLite file " + m_config.strDatabaseFile;
        return L"PostgreSQL database " + m_config.strServerDatabase + L" at " + m_serverSetting.GetHost() + L":" +
            std::to_wstring(m_serverSetting.GetPortNum()) + L" as " + m_config.strServerUser;
    }

    void EndSession()
    {
        if (m_pServer && !m_strToken.empty())
            m_pServer->Logout(m_strToken);
        XTRmsCrypto::Wipe(m_strToken);
        m_bLoggedIn = false;
        m_bGuest = false;
        m_bSuperUser = false;
        m_strUser.clear();
        m_setRights.clear();
    }

    // Whether this session may administer, as far as the service knows
    // without asking the store (the store decides on the current state).
    bool MayAdministerNow() const { return m_bStoreAdministrator || (m_bLoggedIn && !m_bGuest && m_bSuperUser); }

    std::vector<unsigned char> DeriveKey(
        const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations)
    {
        return m_fnDeriveKey(strPassword, vecSalt, nIterations);
    }

    // A fresh salt and the derived key, as hex, for a new password.
    bool NewCredential(const std::wstring& strPassword, std::wstring* pstrSaltHex, std::wstring* pstrKeyHex)
    {
        std::vector<unsigned char> vecSalt = XTRmsCrypto::RandomBytes(kSaltBytes);
        if (vecSalt.size() != kSaltBytes)
            return false;
        std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, m_policy.nPbkdf2Iterations);
        if (vecKey.size() != 32)
            return false;
        *pstrSaltHex = XTRmsCrypto::ToHex(vecSalt);
        *pstrKeyHex = XTRmsCrypto::ToHex(vecKey);
        XTRmsCrypto::Wipe(vecKey);
        return true;
    }

    // What a store keeps of a derived key: its hash.
    static std::wstring StoredHashOf(const std::wstring& strKeyHex)
    {
        std::vector<unsigned char> vecKey;
        if (!XTRmsCrypto::FromHex(strKeyHex, &vecKey))
            return std::wstring();
        std::wstring strHash = XTRmsCrypto::ToHex(XTRmsCrypto::Sha256(vecKey.data(), vecKey.size()));
        XTRmsCrypto::Wipe(vecKey);
        return strHash;
    }

    // Connects to the chosen engine, checks and migrates the schema, writes
    // the host's definitions and reads the working copy. On failure the old
    // store stays closed and m_strStoreProblem says why.
    XTRmsOpenResult Open(XTRmsEngine nEngine, bool bMigrate, bool bCreateMissingFile, bool bAsAdministrator)
    {
        m_pServer.reset();
        m_pStore.reset();
        m_bStoreAdministrator = false;
        m_nEngine = nEngine;
        std::wstring strConnection;
        if (nEngine == XTRmsEngine::Sqlite)
        {
            const std::wstring& strFile = m_config.strDatabaseFile;
            // The SQLite driver reads its attributes unquoted.
            if (strFile.empty() || strFile.find(L';') != std::wstring::npos)
                return Fail(XTRmsOpenResult::AddressInvalid, L"The database file name is empty or holds a ';'.");
            if (GetFileAttributesW(strFile.c_str()) == INVALID_FILE_ATTRIBUTES && !bCreateMissingFile)
                return Fail(XTRmsOpenResult::NotFound, L"The database file " + strFile + L" does not exist.");
            strConnection = L"Driver={" + m_config.strSqliteDriver + L"};Database=" + XTRmsOdbc::DriverPath(strFile) +
                L";Timeout=" + std::to_wstring(m_config.nTimeoutSeconds * 1000) + L";";
        }
        else
        {
            const std::wstring& strHost = m_serverSetting.GetHost();
            int nPort = m_serverSetting.GetPortNum();
            if (strHost.empty())
                return Fail(XTRmsOpenResult::AddressInvalid, L"No rights server is configured.");
            // The driver takes braces around the password only: the other
            // values must not be able to add attributes of their own.
            const wchar_t* pszUnsafe = L";{}= \t";
            if (nPort < 1 || nPort > 65535 || strHost.find_first_of(pszUnsafe) != std::wstring::npos)
                return Fail(XTRmsOpenResult::AddressInvalid, L"The rights server address is not valid.");
            if (m_config.strServerDatabase.find_first_of(pszUnsafe) != std::wstring::npos ||
                m_config.strServerUser.find_first_of(pszUnsafe) != std::wstring::npos)
                return Fail(XTRmsOpenResult::AddressInvalid,
                    L"The server database or user name holds a character that is not allowed.");
            strConnection = L"Driver={" + m_config.strPostgresDriver + L"};Server=" + strHost + L";Port=" +
                std::to_wstring(nPort) + L";Database=" + m_config.strServerDatabase + L";Uid=" +
                m_config.strServerUser + L";Pwd=";
            std::wstring strQuotedPassword = XTRmsOdbc::QuoteValue(m_config.strServerPassword);
            strConnection += strQuotedPassword;
            strConnection += L";";
            XTRmsCrypto::Wipe(strQuotedPassword);
        }
        std::unique_ptr<XTRmsOdbc::Connection> pConnection;
        XTRmsOdbc::Error error;
        JoinOverstayingConnect();
        bool bConnected =
            ConnectBounded(strConnection, m_config.nTimeoutSeconds, &pConnection, &error, &m_overstayingConnect);
        if (!bConnected)
        {
            XTRmsOpenResult nResult = nEngine == XTRmsEngine::Sqlite
                ? (error.strState == L"HYT00" ? XTRmsOpenResult::Timeout : XTRmsOpenResult::Unreadable)
                : ClassifyServerError(error);
            return Fail(nResult, L"The " + StoreLocation(nEngine) + L" could not be opened: " + error.strMessage);
        }
        auto pStore = std::make_unique<XTRmsStore>(nEngine, std::move(pConnection));
        bool bDatabaseAdministrator = false;
        if (nEngine == XTRmsEngine::Sqlite)
        {
            // WAL lets several processes of this machine share the file;
            // full syncs keep every commit through a crash.
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
            if (nEngine == XTRmsEngine::Postgres)
            {
                std::vector<std::wstring> vecUpgrade = ServerUpgradeStatements();
                if (vecUpgrade.empty())
                    return Fail(XTRmsOpenResult::Unreadable, L"The rights server's upgrade script is missing.");
                pStore->SetServerUpgrade(std::move(vecUpgrade));
            }
            if (!pStore->Migrate(XTRmsStore::kLatestSchemaVersion))
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" could not be upgraded: " + pStore->GetLastErrorText());
            nVersion = XTRmsStore::kLatestSchemaVersion;
        }
        std::unique_ptr<XTRmsServerStore> pServer;
        if (nEngine == XTRmsEngine::Postgres)
        {
            pServer = std::make_unique<XTRmsServerStore>(pStore->GetConnection(), m_strWorkstation, m_strOsUser);
            bool bWritten = false;
            if ((!m_config.vecRights.empty() || !m_config.vecRoles.empty()) &&
                !pServer->Define(m_config.vecRights, m_config.vecRoles, m_config.policy, &bWritten))
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" cannot be written: " + pStore->GetLastErrorText());
            m_policy = m_config.policy;
            if (!pServer->ReadPolicy(&m_policy))
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" cannot be read: " + pStore->GetLastErrorText());
        }
        else if (!m_config.vecRights.empty() || !m_config.vecRoles.empty())
        {
            bool bWritten = pStore->BeginWrite() && pStore->WriteDefinitions(m_config.vecRights, m_config.vecRoles);
            if (!bWritten || !pStore->Commit())
            {
                if (bWritten)
                    pStore->Rollback();
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" cannot be written: " + pStore->GetLastErrorText());
            }
        }
        m_pStore = std::move(pStore);
        m_pServer = std::move(pServer);
        m_nSchemaVersion = nVersion;
        m_bStoreAdministrator = bAsAdministrator && bDatabaseAdministrator;
        if (!ReadWorkingCopy())
        {
            std::wstring strProblem = L"The " + StoreLocation(nEngine) + L" cannot be read: " +
                m_pStore->GetLastErrorText();
            return Fail(XTRmsOpenResult::Unreadable, strProblem);
        }
        m_strStoreProblem.clear();
        return XTRmsOpenResult::Ok;
    }

    XTRmsOpenResult Fail(XTRmsOpenResult nResult, const std::wstring& strProblem)
    {
        m_pServer.reset();
        m_pStore.reset();
        m_bStoreAdministrator = false;
        m_strStoreProblem = strProblem;
        return nResult;
    }

    // Rereads definitions and, for an administrator, the users; the previous
    // copy stays when it fails. Nobody else sees other users.
    bool ReadWorkingCopy()
    {
        std::vector<XTRmsRestrictionDefinition> vecRights;
        std::vector<XTRmsRoleDefinition> vecRoles;
        std::vector<XTRmsStoredUser> vecUsers;
        if (!m_pStore)
            return false;
        if (IsServer())
        {
            if (!m_pServer->ReadDefinitions(&vecRights, &vecRoles) || !m_pServer->ReadPolicy(&m_policy))
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
            if (!m_pStore->ReadDefinitions(&vecRights, &vecRoles))
                return false;
            if (MayAdministerNow() && !m_pStore->ReadUsers(&vecUsers))
                return false;
        }
        m_vecRights.swap(vecRights);
        m_vecRoles.swap(vecRoles);
        m_mapUsers.clear();
        for (XTRmsStoredUser& user : vecUsers)
        {
            std::wstring strName = user.strUserName;
            m_mapUsers.emplace(strName, std::move(user));
        }
        m_vecPending.clear();
        return true;
    }

    const XTRmsRoleDefinition* FindRole(int nRole) const
    {
        for (const XTRmsRoleDefinition& role : m_vecRoles)
        {
            if (role.nId == nRole)
                return &role;
        }
        return nullptr;
    }

    bool IsRightDefined(int nRight) const
    {
        return std::any_of(m_vecRights.begin(), m_vecRights.end(),
            [nRight](const XTRmsRestrictionDefinition& right) { return right.GetId() == nRight; });
    }

    bool IsLocked(const XTRmsStoredUser& user) const
    {
        return user.nLockedUntil < 0 || user.nLockedUntil > m_fnClock();
    }

    std::wstring Actor() const
    {
        if (!m_bLoggedIn)
            return std::wstring();
        return m_bGuest ? std::wstring(L"(guest)") : m_strUser;
    }

    // Who a change is recorded for: the logged-in user, else the store's
    // administrator at the operating system (the console tool, provisioning).
    std::wstring AdminActor() const { return Actor().empty() ? m_strOsUser : Actor(); }

    [[nodiscard]] bool Audit(const std::wstring& strActor, const wchar_t* pszEvent, const std::wstring& strSubject,
        const std::wstring& strDetail)
    {
        return m_pStore->AppendAudit(m_strWorkstation, m_strOsUser, strActor, pszEvent, strSubject, strDetail);
    }

    // Runs fnWork inside one write transaction; everything or nothing lands.
    template <typename Work>
    [[nodiscard]] bool Write(Work fnWork, std::wstring* pstrError)
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

    // Inside a write transaction on SQLite: whether the session may
    // administer, judged on the user's state as stored now, so that a user
    // demoted, disabled, locked or removed elsewhere has lost the power.
    [[nodiscard]] bool AuthorizeAdministrator(std::wstring* pstrReason)
    {
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
        const XTRmsRoleDefinition* pRole = bFound ? FindRole(current.nRole) : nullptr;
        if (!bFound || current.bDisabled || IsLocked(current) || pRole == nullptr || !pRole->bSuperUser)
        {
            m_bSuperUser = false;
            return false;
        }
        pstrReason->clear();
        return true;
    }

    // An administrator's change in one transaction on SQLite: authorised
    // first, and refused as a whole when it would leave the store without
    // an enabled super user.
    template <typename Work>
    [[nodiscard]] bool WriteAsAdministrator(Work fnWork, std::wstring* pstrError)
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

    // A refusal of the server as the sentence an administrator reads.
    std::wstring ServerProblem() const
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

    // A server call, made again once on a fresh connection when the old one
    // was lost (a server restart, a dropped network): the session and the
    // changes not saved yet survive, and the caller notices nothing.
    template <typename Call>
    [[nodiscard]] bool Server(Call fnCall)
    {
        if (!m_pServer)
            return false;
        if (fnCall())
            return true;
        if (!IsConnectionLost() || !ReopenKeepingSession())
            return false;
        return fnCall();
    }

    bool IsConnectionLost() const
    {
        if (!m_pStore)
            return false;
        const std::wstring& strState = m_pStore->GetConnection().GetLastError().strState;
        // Communication link failure, connection gone, or ended by the server.
        return strState == L"08S01" || strState == L"08003" || strState == L"08006" || strState == L"57P01" ||
            strState == L"57P02" || strState == L"57P03" || m_pStore->GetConnection().IsDead();
    }

    bool ReopenKeepingSession()
    {
        const bool bLoggedIn = m_bLoggedIn;
        const bool bGuest = m_bGuest;
        const bool bSuperUser = m_bSuperUser;
        const std::wstring strUser = m_strUser;
        std::wstring strToken = m_strToken;
        const std::unordered_set<int> setRights = m_setRights;
        const std::vector<XTRmsPendingChange> vecPending = m_vecPending;
        const std::map<std::wstring, XTRmsStoredUser> mapUsers = m_mapUsers;
        m_strToken.clear();
        m_bLoggedIn = false;
        bool bOpened = Open(m_nEngine, false, false, m_bStoreAdministrator) == XTRmsOpenResult::Ok;
        m_bLoggedIn = bLoggedIn;
        m_bGuest = bGuest;
        m_bSuperUser = bSuperUser;
        m_strUser = strUser;
        m_strToken = strToken;
        XTRmsCrypto::Wipe(strToken);
        m_setRights = setRights;
        m_vecPending = vecPending;
        m_mapUsers = mapUsers;
        return bOpened;
    }

    // The token the server takes: the session's, or none for the database
    // administrator.
    const std::wstring& Token() const { return m_strToken; }

    Rms::ERmsPasswordResult StorePassword(
        const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszEvent)
    {
        std::wstring strSaltHex;
        std::wstring strKeyHex;
        if (!NewCredential(strPassword, &strSaltHex, &strKeyHex))
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
        std::wstring strHash = StoredHashOf(strKeyHex);
        XTRmsCrypto::Wipe(strKeyHex);
        bool bUnknown = false;
        bool bRefused = false;
        bool bOk = WriteAsAdministrator(
            [&](std::wstring*) {
                if (!m_pStore->SetPassword(strUserName, strHash, strSaltHex, m_policy.nPbkdf2Iterations))
                {
                    bUnknown = true;
                    return false;
                }
                return Audit(AdminActor(), pszEvent, strUserName, std::wstring());
            },
            &m_strStoreProblem);
        bRefused = !bOk && m_strStoreProblem == kNotPermitted;
        if (bOk)
        {
            auto it = m_mapUsers.find(strUserName);
            if (it != m_mapUsers.end())
                it->second.strHashHex = L"*";
            return Rms::ERmsPasswordOk;
        }
        if (bRefused)
            return Rms::ERmsPasswordNotPermitted;
        return bUnknown ? Rms::ERmsPasswordUnknownUser : Rms::ERmsPasswordStoreFailed;
    }

    // Login on SQLite: the key is derived exactly once whatever the name,
    // the account's state or the password, so that time tells nothing.
    Rms::ERmsLoginResult LocalLogin(const std::wstring& strUserName, const std::wstring& strPassword)
    {
        XTRmsStoredUser user;
        bool bFound = false;
        if (!m_pStore->ReadUser(strUserName, &user, &bFound))
        {
            m_strStoreProblem = L"The store cannot be read: " + m_pStore->GetLastErrorText();
            return Rms::ERmsLoginSourceUnavailable;
        }
        std::vector<unsigned char> vecSalt;
        std::vector<unsigned char> vecStored;
        unsigned int nIterations = m_policy.nPbkdf2Iterations;
        bool bHasPassword = bFound && !user.strHashHex.empty() && XTRmsCrypto::FromHex(user.strSaltHex, &vecSalt) &&
            XTRmsCrypto::FromHex(user.strHashHex, &vecStored) && vecStored.size() == 32 && user.nIterations > 0 &&
            user.nIterations <= 10000000;
        if (bHasPassword)
            nIterations = user.nIterations;
        else
            vecSalt.assign(kSaltBytes, 0);
        std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, nIterations);
        std::vector<unsigned char> vecKeyHash =
            vecKey.empty() ? std::vector<unsigned char>() : XTRmsCrypto::Sha256(vecKey.data(), vecKey.size());
        XTRmsCrypto::Wipe(vecKey);
        bool bPasswordOk = bHasPassword && !strUserName.empty() && !strPassword.empty() &&
            XTRmsCrypto::ConstantTimeEqual(vecKeyHash, vecStored);

        const long long nNow = m_fnClock();
        Rms::ERmsLoginResult nResult = Rms::ERmsLoginSourceUnavailable;
        bool bWritten = Write(
            [&](std::wstring*) {
                // Decided under the write lock, on the state as stored now,
                // so that failures on several workstations at once all count.
                XTRmsStoredUser current;
                bool bStillThere = false;
                if (!m_pStore->ReadUser(strUserName, &current, &bStillThere))
                    return false;
                const XTRmsPolicy& policy = m_policy;
                auto nextFailure = [&](unsigned int nFailedBefore, long long nLockedUntil, bool* pbNowLocked,
                                       long long* pnLockedUntil) {
                    // A lock that has run out starts the count afresh.
                    unsigned int nFailed = nLockedUntil > 0 && nLockedUntil <= nNow ? 1 : nFailedBefore + 1;
                    *pbNowLocked = policy.nLockoutThreshold != 0 && nFailed >= policy.nLockoutThreshold;
                    *pnLockedUntil = !*pbNowLocked ? 0 : policy.nLockoutSeconds == 0 ? -1 : nNow + policy.nLockoutSeconds;
                    return nFailed;
                };
                if (!bFound || !bStillThere)
                {
                    // Unknown names count and lock like real ones. The typed
                    // name is not recorded: it may be a password typed into
                    // the wrong field.
                    std::wstring strKey = XTRmsCrypto::Sha256Hex(L"xtrms-unknown-name:" + strUserName);
                    unsigned int nFailedBefore = 0;
                    long long nLockedUntil = 0;
                    if (!m_pStore->ReadNameFailures(strKey, &nFailedBefore, &nLockedUntil))
                        return false;
                    if (nLockedUntil < 0 || nLockedUntil > nNow)
                    {
                        nResult = Rms::ERmsLoginUserLocked;
                        return Audit(L"", L"login-refused", L"", L"4 locked");
                    }
                    bool bNowLocked = false;
                    long long nNewLockedUntil = 0;
                    unsigned int nFailed = nextFailure(nFailedBefore, nLockedUntil, &bNowLocked, &nNewLockedUntil);
                    nResult = bNowLocked ? Rms::ERmsLoginUserLocked
                        : policy.bReportUnknownUser ? Rms::ERmsLoginUnknownUser
                                                    : Rms::ERmsLoginWrongPassword;
                    return m_pStore->SetNameFailures(strKey, nFailed, nNewLockedUntil) &&
                        Audit(L"", L"login-refused", L"", L"2 unknown user");
                }
                if (IsLocked(current))
                {
                    nResult = Rms::ERmsLoginUserLocked;
                    return Audit(L"", L"login-refused", strUserName, L"4 locked");
                }
                if (!bPasswordOk)
                {
                    bool bNowLocked = false;
                    long long nLockedUntil = 0;
                    unsigned int nFailed =
                        nextFailure(current.nFailedLogins, current.nLockedUntil, &bNowLocked, &nLockedUntil);
                    nResult = bNowLocked ? Rms::ERmsLoginUserLocked : Rms::ERmsLoginWrongPassword;
                    return m_pStore->SetLockState(strUserName, nFailed, nLockedUntil) &&
                        Audit(L"", L"login-refused", strUserName,
                            bNowLocked ? L"2 wrong password, now locked" : L"2 wrong password") &&
                        (!bNowLocked ||
                            Audit(L"", L"user-locked", strUserName, std::to_wstring(nFailed) + L" failed logins"));
                }
                if (current.bDisabled)
                {
                    nResult = Rms::ERmsLoginAccountDisabled;
                    return Audit(L"", L"login-refused", strUserName, L"11 disabled");
                }
                nResult = Rms::ERmsLoginOk;
                user = current;
                return m_pStore->SetLockState(strUserName, 0, 0) && Audit(strUserName, L"login", strUserName, L"");
            },
            nullptr);
        if (!bWritten)
            return Rms::ERmsLoginSourceUnavailable;
        if (nResult == Rms::ERmsLoginOk)
        {
            const XTRmsRoleDefinition* pRole = FindRole(user.nRole);
            m_bLoggedIn = true;
            m_strUser = user.strUserName;
            m_bSuperUser = pRole != nullptr && pRole->bSuperUser;
            m_setRights.insert(user.setRights.begin(), user.setRights.end());
            if (user.nIterations < m_policy.nPbkdf2Iterations)
                Rehash(user.strUserName, strPassword, user.nIterations);
        }
        return nResult;
    }

    // A hash made with fewer iterations than the policy now asks for is made
    // anew while the password is at hand; the login stands either way.
    void Rehash(const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nOldIterations)
    {
        std::wstring strSaltHex;
        std::wstring strKeyHex;
        if (!NewCredential(strPassword, &strSaltHex, &strKeyHex))
            return;
        std::wstring strHash = StoredHashOf(strKeyHex);
        XTRmsCrypto::Wipe(strKeyHex);
        (void)Write(
            [&](std::wstring*) {
                return m_pStore->SetPassword(strUserName, strHash, strSaltHex, m_policy.nPbkdf2Iterations) &&
                    Audit(strUserName, L"password-rehashed", strUserName,
                        std::to_wstring(nOldIterations) + L" to " + std::to_wstring(m_policy.nPbkdf2Iterations) +
                            L" iterations");
            },
            nullptr);
    }

    // Login on a rights server: the workstation derives the key from the
    // salt the server gives (a stable made-up one for unknown names) and the
    // server decides, counts, locks and audits.
    Rms::ERmsLoginResult ServerLogin(const std::wstring& strUserName, const std::wstring& strPassword)
    {
        std::wstring strKeyHex;
        bool bGuest = strUserName.empty() && strPassword.empty();
        unsigned int nIterations = 0;
        if (!bGuest)
        {
            std::wstring strSaltHex;
            std::vector<unsigned char> vecSalt;
            if (!Server([&] { return m_pServer->LoginParams(strUserName, &strSaltHex, &nIterations); }) ||
                !XTRmsCrypto::FromHex(strSaltHex, &vecSalt))
            {
                m_strStoreProblem = ServerProblem();
                return Rms::ERmsLoginSourceUnavailable;
            }
            std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, nIterations);
            strKeyHex = XTRmsCrypto::ToHex(vecKey);
            XTRmsCrypto::Wipe(vecKey);
        }
        XTRmsServerLogin login;
        bool bAnswered = Server([&] { return m_pServer->Login(strUserName, strKeyHex, &login); });
        if (!bAnswered || login.nResult != Rms::ERmsLoginOk)
        {
            XTRmsCrypto::Wipe(strKeyHex);
            if (bAnswered)
                return static_cast<Rms::ERmsLoginResult>(login.nResult);
            m_strStoreProblem = ServerProblem();
            return Rms::ERmsLoginSourceUnavailable;
        }
        m_bLoggedIn = true;
        m_bGuest = bGuest;
        m_strToken = login.strToken;
        XTRmsCrypto::Wipe(login.strToken);
        m_strUser = login.strUserName;
        m_bSuperUser = !bGuest && login.bSuperUser;
        m_setRights.insert(login.setRights.begin(), login.setRights.end());
        if (!bGuest && nIterations < m_policy.nPbkdf2Iterations)
        {
            std::wstring strSaltHex;
            std::wstring strNewKeyHex;
            bool bRehashed = false;
            // Best effort: the login stands whether or not the hash moves on.
            if (NewCredential(strPassword, &strSaltHex, &strNewKeyHex))
                (void)m_pServer->Rehash(
                    m_strToken, strKeyHex, strSaltHex, m_policy.nPbkdf2Iterations, strNewKeyHex, &bRehashed);
            XTRmsCrypto::Wipe(strNewKeyHex);
        }
        XTRmsCrypto::Wipe(strKeyHex);
        return Rms::ERmsLoginOk;
    }
};

XTRmsService::XTRmsService(const XTRmsServiceConfig& config) : m_pImpl(std::make_unique<XTRmsServiceImpl>(config))
{
}

XTRmsService::~XTRmsService() = default;

// --- Start-up and connection ------------------------------------------------

Rms::RmsConnectionTest XTRmsService::TryConnectToRestrictionSource(
    Rms::RmsApplicationType nType, const std::wstring&, int nMode, int, int, const std::wstring&)
{
    m_pImpl->m_nApplicationType = nType;
    m_pImpl->EndSession();
    // Any mode but the rights server's means the local source.
    if (nMode == Rms::RmsConnectModeServer)
    {
        if (m_pImpl->m_serverSetting.GetHost().empty())
        {
            m_pImpl->m_nEngine = XTRmsEngine::Postgres;
            m_pImpl->Fail(XTRmsOpenResult::AddressInvalid, L"No rights server is configured.");
            return Rms::RmsConnectionServerNotConfigured;
        }
        return ToConnectionTest(m_pImpl->Open(XTRmsEngine::Postgres, true, false, false), true);
    }
    return ToConnectionTest(
        m_pImpl->Open(XTRmsEngine::Sqlite, true, m_pImpl->m_config.bCreateDatabase, false), false);
}

Rms::RmsResult XTRmsService::Initialize(Rms::RmsApplicationType nType, const std::wstring&, const std::wstring&,
    const std::wstring&, const std::wstring&, int, int, const std::wstring&)
{
    m_pImpl->m_nApplicationType = nType;
    m_pImpl->EndSession();
    // A host that skipped the connection test still gets its store: the one
    // tried last, the local file when none was.
    if (!m_pImpl->m_pStore &&
        m_pImpl->Open(m_pImpl->m_nEngine, true, m_pImpl->m_config.bCreateDatabase, false) != XTRmsOpenResult::Ok)
        return Rms::RmsFailure;
    return m_pImpl->ReadWorkingCopy() ? Rms::RmsSuccess : Rms::RmsFailure;
}

bool XTRmsService::GetNeedLogin() const
{
    return true;
}

Rms::RmsApplicationType XTRmsService::GetApplicationType() const
{
    return m_pImpl->m_nApplicationType;
}

XTRmsServerSetting XTRmsService::GetServerSetting() const
{
    return m_pImpl->m_serverSetting;
}

void XTRmsService::SetServerSetting(const XTRmsServerSetting& setting)
{
    m_pImpl->m_serverSetting = setting;
}

// --- Login --------------------------------------------------------------------

Rms::ERmsLoginResult XTRmsService::UserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    impl.m_strLastServerMessage.clear();
    impl.EndSession();
    if (!impl.m_pStore)
        return Rms::ERmsLoginSourceUnavailable;
    // Refused before any hashing: nobody's password is that long, and a
    // huge one would only cost the workstation time.
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsLoginWrongPassword;
    // Names are compared in their composed form; one that breaks the rules
    // cannot exist and is answered like any unknown name.
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr))
        strName = strUserName.empty() ? std::wstring() : std::wstring(L"\uFFFD");
    Rms::ERmsLoginResult nResult = Rms::ERmsLoginSourceUnavailable;
    if (impl.IsServer())
        nResult = impl.ServerLogin(strName, strPassword);
    else if (strUserName.empty() && strPassword.empty())
    {
        if (!impl.m_policy.bGuestLoginAllowed)
        {
            bool bAudited = impl.Write(
                [&](std::wstring*) { return impl.Audit(L"", L"login-refused", L"", L"9 guest not allowed"); },
                nullptr);
            return bAudited ? Rms::ERmsLoginGuestNotAllowed : Rms::ERmsLoginSourceUnavailable;
        }
        if (!impl.Write([&](std::wstring*) { return impl.Audit(L"(guest)", L"guest-login", L"", L""); }, nullptr))
            return Rms::ERmsLoginSourceUnavailable;
        impl.m_bLoggedIn = true;
        impl.m_bGuest = true;
        impl.m_setRights.insert(impl.m_policy.vecGuestRights.begin(), impl.m_policy.vecGuestRights.end());
        nResult = Rms::ERmsLoginOk;
    }
    else
        nResult = impl.LocalLogin(strName, strPassword);
    // An administrator sees the users; nobody else does.
    if (nResult == Rms::ERmsLoginOk)
        impl.ReadWorkingCopy();
    return nResult;
}

Rms::ERmsLoginResult XTRmsService::ReconnectToRestrictionSource()
{
    XTRmsServiceImpl& impl = *m_pImpl;
    impl.m_strLastServerMessage.clear();
    if (!impl.m_bLoggedIn)
    {
        impl.m_strLastServerMessage = L"Nobody is logged in; log in again.";
        if (impl.Open(impl.m_nEngine, true, false, impl.m_bStoreAdministrator) != XTRmsOpenResult::Ok)
            return Rms::ERmsLoginSourceUnavailable;
        return Rms::ERmsLoginServerRefused;
    }
    // The session and the changes not saved yet survive the reconnect.
    bool bGuest = impl.m_bGuest;
    std::wstring strUser = impl.m_strUser;
    std::wstring strToken = impl.m_strToken;
    std::vector<XTRmsPendingChange> vecPending = impl.m_vecPending;
    std::map<std::wstring, XTRmsStoredUser> mapUsers = impl.m_mapUsers;
    impl.m_strToken.clear();
    XTRmsOpenResult nOpened = impl.Open(impl.m_nEngine, true, false, impl.m_bStoreAdministrator);
    auto restore = [&](Rms::ERmsLoginResult nResult) {
        if (nResult == Rms::ERmsLoginOk && !vecPending.empty())
        {
            impl.m_vecPending = vecPending;
            impl.m_mapUsers = mapUsers;
        }
        else if (nResult != Rms::ERmsLoginOk)
        {
            XTRmsCrypto::Wipe(strToken);
            impl.EndSession();
        }
        return nResult;
    };
    if (nOpened != XTRmsOpenResult::Ok)
    {
        impl.m_strToken = strToken;
        return Rms::ERmsLoginSourceUnavailable;
    }
    impl.m_setRights.clear();
    if (impl.IsServer())
    {
        XTRmsServerSession session;
        bool bValid = false;
        if (!impl.m_pServer->ReadSession(strToken, &session, &bValid))
        {
            impl.m_strToken = strToken;
            return Rms::ERmsLoginSourceUnavailable;
        }
        if (!bValid)
        {
            impl.m_strLastServerMessage = L"The session has ended; log in again.";
            return restore(Rms::ERmsLoginServerRefused);
        }
        impl.m_strToken = strToken;
        impl.m_bSuperUser = session.bSuperUser;
        impl.m_setRights.insert(session.setRights.begin(), session.setRights.end());
        impl.ReadWorkingCopy();
        return restore(Rms::ERmsLoginOk);
    }
    if (bGuest)
    {
        if (!impl.m_policy.bGuestLoginAllowed)
            return restore(Rms::ERmsLoginGuestNotAllowed);
        impl.m_setRights.insert(impl.m_policy.vecGuestRights.begin(), impl.m_policy.vecGuestRights.end());
        return restore(Rms::ERmsLoginOk);
    }
    XTRmsStoredUser user;
    bool bFound = false;
    if (!impl.m_pStore->ReadUser(strUser, &user, &bFound))
        return restore(Rms::ERmsLoginSourceUnavailable);
    // The session ends when the account went away, was disabled or locked.
    if (!bFound)
        return restore(Rms::ERmsLoginWrongPassword);
    if (user.bDisabled)
        return restore(Rms::ERmsLoginAccountDisabled);
    if (impl.IsLocked(user))
        return restore(Rms::ERmsLoginUserLocked);
    const XTRmsRoleDefinition* pRole = impl.FindRole(user.nRole);
    impl.m_bSuperUser = pRole != nullptr && pRole->bSuperUser;
    impl.m_setRights.insert(user.setRights.begin(), user.setRights.end());
    impl.ReadWorkingCopy();
    return restore(Rms::ERmsLoginOk);
}

bool XTRmsService::IsGuestLoginAllowed() const
{
    return m_pImpl->m_policy.bGuestLoginAllowed;
}

std::wstring XTRmsService::GetLastServerMessage() const
{
    return m_pImpl->m_strLastServerMessage;
}

bool XTRmsService::GetIsAllowed(int nRestrictionId) const
{
    return m_pImpl->m_bLoggedIn && m_pImpl->m_setRights.count(nRestrictionId) != 0;
}

// --- Administration through the dialogs --------------------------------------

std::vector<XTRmsUserInfo> XTRmsService::GetAllDefinedUsers() const
{
    std::vector<XTRmsUserInfo> vecUsers;
    vecUsers.reserve(m_pImpl->m_mapUsers.size());
    for (const auto& entry : m_pImpl->m_mapUsers)
        vecUsers.emplace_back(entry.first, entry.second.strFullName);
    return vecUsers;
}

std::vector<XTRmsUserInfo> XTRmsService::GetAllUsers() const
{
    std::vector<XTRmsUserInfo> vecUsers = LocalAccounts();
    vecUsers.insert(
        vecUsers.end(), m_pImpl->m_config.vecDirectoryUsers.begin(), m_pImpl->m_config.vecDirectoryUsers.end());
    return vecUsers;
}

std::vector<XTRmsUserInfo> XTRmsService::GetLocalUsers() const
{
    return LocalAccounts();
}

std::vector<XTRmsRoleInfo> XTRmsService::GetAllRoles() const
{
    std::vector<XTRmsRoleInfo> vecRoles;
    for (const XTRmsRoleDefinition& role : m_pImpl->m_vecRoles)
        vecRoles.emplace_back(role.nId, role.strName);
    return vecRoles;
}

Rms::RmsUserRole XTRmsService::GetInitialRole() const
{
    return m_pImpl->m_config.nInitialRole;
}

std::vector<XTRmsRestrictionDefinition> XTRmsService::GetRoleRestrDefinitions() const
{
    return m_pImpl->m_vecRights;
}

Rms::RmsResult XTRmsService::GetUserIsAllowed(
    const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const
{
    auto it = m_pImpl->m_mapUsers.find(strUserName);
    if (it == m_pImpl->m_mapUsers.end() || pbAllowed == nullptr)
        return Rms::RmsFailure;
    *pbAllowed = it->second.setRights.count(nRestrictionId) != 0;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    auto it = impl.m_mapUsers.find(strUserName);
    if (!impl.MayAdministerNow() || it == impl.m_mapUsers.end() || !impl.IsRightDefined(nRestrictionId))
        return Rms::RmsFailure;
    if (bAllowed)
        it->second.setRights.insert(nRestrictionId);
    else
        it->second.setRights.erase(nRestrictionId);
    // The last choice for a user's right is the one saved.
    auto& vecPending = impl.m_vecPending;
    vecPending.erase(std::remove_if(vecPending.begin(), vecPending.end(),
                         [&](const XTRmsPendingChange& change) {
                             return change.nKind == XTRmsPendingChange::Right &&
                                 change.user.strUserName == strUserName && change.nRight == nRestrictionId;
                         }),
        vecPending.end());
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Right;
    change.user.strUserName = strUserName;
    change.nRight = nRestrictionId;
    change.bAllowed = bAllowed;
    vecPending.push_back(change);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    const XTRmsRoleDefinition* pRole = impl.FindRole(nRole);
    std::wstring strName;
    if (!impl.MayAdministerNow() || !XTRmsInputRules::CheckUserName(strUserName, &strName, nullptr) ||
        pRole == nullptr || impl.m_mapUsers.count(strName) != 0)
        return Rms::RmsFailure;
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Create;
    change.user.strUserName = strName;
    change.user.nRole = nRole;
    change.user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    for (const XTRmsUserInfo& account : GetAllUsers())
    {
        if (account.GetUserNameW() == strUserName)
        {
            if (XTRmsInputRules::CheckFullName(account.GetFullName(), nullptr))
                change.user.strFullName = account.GetFullName();
            break;
        }
    }
    impl.m_mapUsers[strName] = change.user;
    impl.m_vecPending.push_back(change);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::RemoveUser(const std::wstring& strUserName)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    // The logged-in user cannot pull the floor from under their own feet.
    if (!impl.MayAdministerNow() || impl.m_mapUsers.count(strUserName) == 0 ||
        (impl.m_bLoggedIn && !impl.m_bGuest && strUserName == impl.m_strUser))
        return Rms::RmsFailure;
    impl.m_mapUsers.erase(strUserName);
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Remove;
    change.user.strUserName = strUserName;
    impl.m_vecPending.push_back(change);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::LoadUserProfiles()
{
    m_pImpl->m_vecPending.clear();
    if (!m_pImpl->ReadWorkingCopy())
    {
        if (m_pImpl->m_pStore)
            m_pImpl->m_strStoreProblem = L"The store cannot be read: " + m_pImpl->m_pStore->GetLastErrorText();
        return Rms::RmsFailure;
    }
    return Rms::RmsSuccess;
}

namespace
{
// The pending changes as the server's save function takes them.
std::wstring ChangesJson(const std::vector<XTRmsPendingChange>& vecPending)
{
    std::wstring strJson = L"[";
    for (const XTRmsPendingChange& change : vecPending)
    {
        if (strJson.size() > 1)
            strJson += L",";
        const std::wstring strUser = XTRmsServerStore::JsonString(change.user.strUserName);
        switch (change.nKind)
        {
        case XTRmsPendingChange::Create:
            strJson += L"{\"op\":\"create\",\"user\":" + strUser +
                L",\"full_name\":" + XTRmsServerStore::JsonString(change.user.strFullName) +
                L",\"role\":" + std::to_wstring(change.user.nRole) + L"}";
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
} // namespace

Rms::RmsResult XTRmsService::SaveUserProfiles()
{
    XTRmsServiceImpl& impl = *m_pImpl;
    // A message describes the last save only.
    impl.m_strLastServerMessage.clear();
    if (impl.m_vecPending.empty())
        return Rms::RmsSuccess;
    std::wstring strError;
    bool bSaved = false;
    if (impl.IsServer())
    {
        bSaved = impl.Server([&] { return impl.m_pServer->SaveChanges(impl.Token(), ChangesJson(impl.m_vecPending)); });
        if (!bSaved)
            strError = impl.ServerProblem();
    }
    else
    {
        std::wstring strActor = impl.AdminActor();
        bSaved = impl.WriteAsAdministrator(
            [&](std::wstring* pstrReason) {
                for (const XTRmsPendingChange& change : impl.m_vecPending)
                {
                    const std::wstring& strUser = change.user.strUserName;
                    switch (change.nKind)
                    {
                    case XTRmsPendingChange::Create:
                        if (!impl.m_pStore->InsertUser(change.user))
                        {
                            *pstrReason = L"The user " + strUser +
                                L" could not be created (another workstation may have created it): " +
                                impl.m_pStore->GetLastErrorText();
                            return false;
                        }
                        if (!impl.Audit(strActor, L"user-created", strUser,
                                L"role " + RoleName(impl.m_vecRoles, change.user.nRole)))
                            return false;
                        break;
                    case XTRmsPendingChange::Remove: {
                        if (impl.m_bLoggedIn && strUser == impl.m_strUser)
                        {
                            *pstrReason = L"Nobody can remove himself.";
                            return false;
                        }
                        bool bRemoved = false;
                        if (!impl.m_pStore->DeleteUser(strUser, &bRemoved) ||
                            !impl.Audit(strActor, L"user-removed", strUser, L""))
                            return false;
                        break;
                    }
                    case XTRmsPendingChange::Right: {
                        XTRmsStoredUser stored;
                        bool bFound = false;
                        if (!impl.m_pStore->ReadUser(strUser, &stored, &bFound))
                            return false;
                        if (!bFound)
                        {
                            *pstrReason = L"The user " + strUser + L" was removed meanwhile; reload the users.";
                            return false;
                        }
                        if ((stored.setRights.count(change.nRight) != 0) == change.bAllowed)
                            break; // already so: nothing to change, nothing to audit
                        if (!impl.m_pStore->SetRight(strUser, change.nRight, change.bAllowed) ||
                            !impl.Audit(strActor, change.bAllowed ? L"right-granted" : L"right-withdrawn", strUser,
                                std::to_wstring(change.nRight)))
                            return false;
                        break;
                    }
                    }
                }
                return true;
            },
            &strError);
    }
    if (!bSaved)
    {
        // Nothing stored changed; the working copy and its changes stay, so
        // the administrator loses nothing and may try again.
        impl.m_strLastServerMessage = strError;
        return Rms::RmsFailure;
    }
    impl.m_vecPending.clear();
    // Others' changes that landed meanwhile come in with the reread.
    impl.ReadWorkingCopy();
    return Rms::RmsSuccess;
}

bool XTRmsService::IsUserDefined(const std::wstring& strUserName) const
{
    return m_pImpl->m_mapUsers.count(strUserName) != 0;
}

bool XTRmsService::IsSuperUser(const std::wstring& strUserName) const
{
    auto it = m_pImpl->m_mapUsers.find(strUserName);
    if (it == m_pImpl->m_mapUsers.end())
        return false;
    const XTRmsRoleDefinition* pRole = m_pImpl->FindRole(it->second.nRole);
    return pRole != nullptr && pRole->bSuperUser;
}

bool XTRmsService::IsDomainActive() const
{
    return !m_pImpl->m_config.vecDirectoryUsers.empty();
}

std::wstring XTRmsService::GetSettingsString() const
{
    const XTRmsServiceImpl& impl = *m_pImpl;
    const XTRmsPolicy& policy = impl.m_policy;
    std::wstring strText;
    auto line = [&strText](const wchar_t* pszLabel, const std::wstring& strValue) {
        strText += pszLabel;
        strText += strValue;
        strText += L"\r\n";
    };
    line(L"Store            : ", impl.StoreLocation(impl.m_nEngine));
    if (impl.m_pStore)
        line(L"Schema version   : ",
            std::to_wstring(impl.m_nSchemaVersion) + L" (this service knows " +
                std::to_wstring(XTRmsStore::kLatestSchemaVersion) + L")");
    else
        line(L"Store state      : ",
            impl.m_strStoreProblem.empty() ? std::wstring(L"not opened yet")
                                           : L"NOT AVAILABLE - " + impl.m_strStoreProblem);
    line(L"Rights server    : ",
        impl.m_serverSetting.GetHost() + L":" + std::to_wstring(impl.m_serverSetting.GetPortNum()));
    if (impl.m_pStore)
        line(L"Enforced by      : ",
            impl.IsServer() ? std::wstring(L"the rights server (every login and change decided there)")
                            : std::wstring(L"this service (whoever can write the file can change it)"));
    line(L"Workstation      : ", impl.m_strWorkstation);
    line(L"Logged-in user   : ",
        !impl.m_bLoggedIn   ? std::wstring(L"(none)")
            : impl.m_bGuest ? std::wstring(L"(guest)")
                            : impl.m_strUser);
    line(L"Users            : ",
        (impl.MayAdministerNow() ? std::to_wstring(impl.m_mapUsers.size()) : std::wstring(L"(administrators only)")) +
            (impl.m_vecPending.empty() ? std::wstring()
                                       : L", " + std::to_wstring(impl.m_vecPending.size()) + L" unsaved changes"));
    line(L"Passwords        : ",
        L"PBKDF2-HMAC-SHA256, " + std::to_wstring(policy.nPbkdf2Iterations) +
            L" iterations, 16-byte salt per user; at least " + std::to_wstring(policy.nMinPasswordLength) +
            L" characters, not containing the user name");
    line(L"Lockout          : ",
        policy.nLockoutThreshold == 0 ? std::wstring(L"never")
                                      : L"after " + std::to_wstring(policy.nLockoutThreshold) + L" failed logins, " +
                (policy.nLockoutSeconds == 0 ? std::wstring(L"until an administrator unlocks")
                                             : L"for " + std::to_wstring(policy.nLockoutSeconds) + L" s"));
    line(L"Unknown users    : ", policy.bReportUnknownUser ? L"reported as unknown" : L"answered as a wrong password");
    line(L"Guest login      : ", policy.bGuestLoginAllowed ? L"allowed" : L"not allowed");
    std::vector<XTRmsAuditEntry> vecAudit = GetAuditTrail(kSettingsAuditRows);
    strText += L"\r\nLatest audit entries:\r\n";
    if (vecAudit.empty())
        strText += impl.MayAdministerNow() ? L"  (none)\r\n" : L"  (administrators only)\r\n";
    for (const XTRmsAuditEntry& entry : vecAudit)
    {
        strText += L"  " + std::to_wstring(entry.nSequence) + L"  " + entry.strTimeUtc + L"  " + entry.strEvent;
        if (!entry.strSubject.empty())
            strText += L"  " + entry.strSubject;
        if (!entry.strDetail.empty())
            strText += L"  (" + entry.strDetail + L")";
        strText += L"  by " + (entry.strActor.empty() ? std::wstring(L"-") : entry.strActor) + L" on " +
            entry.strWorkstation + L"\\" + entry.strOsUser + L"\r\n";
    }
    return strText;
}

// --- Passwords -----------------------------------------------------------------

std::wstring XTRmsService::GetLoggedInUserName() const
{
    return m_pImpl->m_bLoggedIn && !m_pImpl->m_bGuest ? m_pImpl->m_strUser : std::wstring();
}

bool XTRmsService::CanSetOtherPasswords() const
{
    return m_pImpl->m_bLoggedIn && !m_pImpl->m_bGuest && m_pImpl->m_bSuperUser;
}

unsigned int XTRmsService::GetMinPasswordLength() const
{
    return m_pImpl->m_policy.nMinPasswordLength;
}

namespace
{
// The content rules a password must meet, checked before any hashing.
Rms::ERmsPasswordResult CheckNewPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nMinLength)
{
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strPassword))
        return Rms::ERmsPasswordTooLong;
    return XTRmsPassword::CheckPolicy(strUserName, strPassword, nMinLength);
}
} // namespace

Rms::ERmsPasswordResult XTRmsService::ChangeOwnPassword(
    const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    std::wstring strUser = GetLoggedInUserName();
    if (strUser.empty() || !impl.m_pStore)
        return strUser.empty() ? Rms::ERmsPasswordNotPermitted : Rms::ERmsPasswordStoreFailed;
    if (!XTRmsInputRules::IsPasswordLengthAcceptable(strOldPassword))
        return Rms::ERmsPasswordWrongOld;
    Rms::ERmsPasswordResult nPolicy = CheckNewPassword(strUser, strNewPassword, impl.m_policy.nMinPasswordLength);
    if (impl.IsServer())
    {
        if (nPolicy != Rms::ERmsPasswordOk)
            return nPolicy;
        std::wstring strOldSaltHex;
        unsigned int nOldIterations = 0;
        std::vector<unsigned char> vecOldSalt;
        std::wstring strSaltHex;
        std::wstring strKeyHex;
        if (!impl.Server([&] { return impl.m_pServer->LoginParams(strUser, &strOldSaltHex, &nOldIterations); }) ||
            !XTRmsCrypto::FromHex(strOldSaltHex, &vecOldSalt) ||
            !impl.NewCredential(strNewPassword, &strSaltHex, &strKeyHex))
            return Rms::ERmsPasswordStoreFailed;
        std::vector<unsigned char> vecOldKey = impl.DeriveKey(strOldPassword, vecOldSalt, nOldIterations);
        std::wstring strOldKeyHex = XTRmsCrypto::ToHex(vecOldKey);
        XTRmsCrypto::Wipe(vecOldKey);
        int nResult = -1;
        bool bAnswered = impl.Server([&] {
            return impl.m_pServer->ChangeOwnPassword(
                impl.Token(), strOldKeyHex, strSaltHex, impl.m_policy.nPbkdf2Iterations, strKeyHex, &nResult);
        });
        XTRmsCrypto::Wipe(strOldKeyHex);
        XTRmsCrypto::Wipe(strKeyHex);
        if (!bAnswered)
        {
            impl.m_strStoreProblem = impl.ServerProblem();
            return impl.m_pServer->GetRefusal() == XTRmsServerRefusal::NotPermitted ? Rms::ERmsPasswordNotPermitted
                                                                                      : Rms::ERmsPasswordStoreFailed;
        }
        return nResult == 0 ? Rms::ERmsPasswordOk : Rms::ERmsPasswordWrongOld;
    }
    XTRmsStoredUser user;
    bool bFound = false;
    if (!impl.m_pStore->ReadUser(strUser, &user, &bFound))
        return Rms::ERmsPasswordStoreFailed;
    if (!bFound)
        return Rms::ERmsPasswordUnknownUser;
    std::vector<unsigned char> vecSalt;
    std::vector<unsigned char> vecStored;
    bool bOldOk = false;
    if (XTRmsCrypto::FromHex(user.strSaltHex, &vecSalt) && XTRmsCrypto::FromHex(user.strHashHex, &vecStored))
    {
        std::vector<unsigned char> vecKey = impl.DeriveKey(strOldPassword, vecSalt, user.nIterations);
        std::vector<unsigned char> vecHash =
            vecKey.empty() ? std::vector<unsigned char>() : XTRmsCrypto::Sha256(vecKey.data(), vecKey.size());
        XTRmsCrypto::Wipe(vecKey);
        bOldOk = !strOldPassword.empty() && XTRmsCrypto::ConstantTimeEqual(vecHash, vecStored);
    }
    if (!bOldOk)
    {
        bool bAudited = impl.Write(
            [&](std::wstring*) {
                return impl.Audit(strUser, L"password-change-refused", strUser, L"wrong old password");
            },
            nullptr);
        return bAudited ? Rms::ERmsPasswordWrongOld : Rms::ERmsPasswordStoreFailed;
    }
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!impl.NewCredential(strNewPassword, &strSaltHex, &strKeyHex))
        return Rms::ERmsPasswordStoreFailed;
    std::wstring strHash = XTRmsServiceImpl::StoredHashOf(strKeyHex);
    XTRmsCrypto::Wipe(strKeyHex);
    bool bOk = impl.Write(
        [&](std::wstring*) {
            return impl.m_pStore->SetPassword(strUser, strHash, strSaltHex, impl.m_policy.nPbkdf2Iterations) &&
                impl.Audit(strUser, L"password-changed", strUser, std::wstring());
        },
        nullptr);
    return bOk ? Rms::ERmsPasswordOk : Rms::ERmsPasswordStoreFailed;
}

Rms::ERmsPasswordResult XTRmsService::SetUserPassword(
    const std::wstring& strUserName, const std::wstring& strNewPassword)
{
    if (!CanSetOtherPasswords())
        return Rms::ERmsPasswordNotPermitted;
    if (!m_pImpl->m_pStore)
        return Rms::ERmsPasswordStoreFailed;
    Rms::ERmsPasswordResult nPolicy =
        CheckNewPassword(strUserName, strNewPassword, m_pImpl->m_policy.nMinPasswordLength);
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    return m_pImpl->StorePassword(strUserName, strNewPassword, L"password-set");
}

// --- Administration --------------------------------------------------------------

bool XTRmsService::OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError)
{
    m_pImpl->EndSession();
    XTRmsOpenResult nResult = m_pImpl->Open(nEngine, bCreateOrUpgrade, bCreateOrUpgrade, true);
    if (nResult == XTRmsOpenResult::Ok)
        return true;
    if (pstrError != nullptr)
        *pstrError = m_pImpl->m_strStoreProblem;
    return false;
}

bool XTRmsService::IsStoreAdministrator() const
{
    return m_pImpl->m_bStoreAdministrator;
}

XTRmsPolicy XTRmsService::GetPolicy() const
{
    return m_pImpl->m_policy;
}

void XTRmsService::Logout()
{
    m_pImpl->EndSession();
    m_pImpl->ReadWorkingCopy();
}

int XTRmsService::GetSchemaVersion() const
{
    return m_pImpl->m_pStore ? m_pImpl->m_nSchemaVersion : 0;
}

int XTRmsService::GetLatestSchemaVersion()
{
    return XTRmsStore::kLatestSchemaVersion;
}

namespace
{
Rms::RmsResult Refuse(std::wstring* pstrError, const std::wstring& strMessage)
{
    if (pstrError != nullptr)
        *pstrError = strMessage;
    return Rms::RmsFailure;
}
} // namespace

Rms::RmsResult XTRmsService::SetPolicy(const XTRmsPolicy& policy, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    if (!impl.m_pStore)
        return Refuse(pstrError, impl.m_strStoreProblem);
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    if (impl.IsServer())
    {
        if (!impl.Server([&] { return impl.m_pServer->SetPolicy(impl.Token(), XTRmsServerStore::PolicyJson(policy)); }))
            return Refuse(pstrError, impl.ServerProblem());
        impl.ReadWorkingCopy();
        return Rms::RmsSuccess;
    }
    // A SQLite store applies the host's configuration.
    impl.m_policy = policy;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::AddUser(const std::wstring& strUserName, const std::wstring& strFullName,
    Rms::RmsUserRole nRole, const std::wstring& strPassword, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    std::wstring strProblem;
    std::wstring strName;
    if (!XTRmsInputRules::CheckUserName(strUserName, &strName, &strProblem) ||
        !XTRmsInputRules::CheckFullName(strFullName, &strProblem))
        return Refuse(pstrError, strProblem);
    if (!impl.m_pStore)
        return Refuse(pstrError, impl.m_strStoreProblem);
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    const XTRmsRoleDefinition* pRole = impl.FindRole(nRole);
    if (pRole == nullptr)
        return Refuse(pstrError, L"There is no role " + std::to_wstring(nRole) + L" in the store.");
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!strPassword.empty())
    {
        Rms::ERmsPasswordResult nPolicy = CheckNewPassword(strName, strPassword, impl.m_policy.nMinPasswordLength);
        if (nPolicy != Rms::ERmsPasswordOk)
            return Refuse(pstrError, XTRmsPassword::DescribeRefusal(nPolicy, impl.m_policy.nMinPasswordLength));
        if (!impl.NewCredential(strPassword, &strSaltHex, &strKeyHex))
            return Refuse(pstrError, L"The password could not be hashed.");
    }
    if (impl.IsServer())
    {
        bool bOk = impl.Server([&] {
            return impl.m_pServer->AddUser(
                impl.Token(), strName, strFullName, nRole, strSaltHex, impl.m_policy.nPbkdf2Iterations, strKeyHex);
        });
        XTRmsCrypto::Wipe(strKeyHex);
        if (!bOk)
            return Refuse(pstrError, impl.ServerProblem());
        // The new user joins the working copy as the server made him; a
        // full reread per user would make provisioning quadratic.
        XTRmsStoredUser added;
        added.strUserName = strName;
        added.strFullName = strFullName;
        added.nRole = nRole;
        added.strHashHex = strSaltHex.empty() ? L"" : L"*";
        added.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
        impl.m_mapUsers[strName] = added;
        return Rms::RmsSuccess;
    }
    XTRmsStoredUser user;
    user.strUserName = strName;
    user.strFullName = strFullName;
    user.nRole = nRole;
    user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    if (!strKeyHex.empty())
    {
        user.strHashHex = XTRmsServiceImpl::StoredHashOf(strKeyHex);
        user.strSaltHex = strSaltHex;
        user.nIterations = impl.m_policy.nPbkdf2Iterations;
        XTRmsCrypto::Wipe(strKeyHex);
    }
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.WriteAsAdministrator(
        [&](std::wstring* pstrReason) {
            XTRmsStoredUser existing;
            bool bExists = false;
            if (!impl.m_pStore->ReadUser(strName, &existing, &bExists))
                return false;
            if (bExists)
            {
                *pstrReason = L"The user " + strName + L" exists already.";
                return false;
            }
            return impl.m_pStore->InsertUser(user) &&
                impl.Audit(strActor, L"user-created", strName, L"role " + pRole->strName) &&
                (user.strHashHex.empty() || impl.Audit(strActor, L"password-set", strName, L""));
        },
        pstrError);
    if (!bOk)
        return Rms::RmsFailure;
    user.strHashHex = user.strHashHex.empty() ? L"" : L"*";
    user.strSaltHex.clear();
    impl.m_mapUsers[strName] = user;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::SetPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    Rms::ERmsPasswordResult nResult = CheckNewPassword(strUserName, strPassword, impl.m_policy.nMinPasswordLength);
    if (nResult == Rms::ERmsPasswordOk)
        nResult = impl.StorePassword(strUserName, strPassword, L"password-set");
    if (nResult == Rms::ERmsPasswordOk)
        return Rms::RmsSuccess;
    return Refuse(pstrError,
        (nResult == Rms::ERmsPasswordStoreFailed || nResult == Rms::ERmsPasswordNotPermitted) &&
                !impl.m_strStoreProblem.empty()
            ? impl.m_strStoreProblem
            : XTRmsPassword::DescribeRefusal(nResult, impl.m_policy.nMinPasswordLength));
}

Rms::RmsResult XTRmsService::Unlock(const std::wstring& strUserName, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    bool bOk = false;
    if (impl.IsServer())
    {
        bOk = impl.Server([&] { return impl.m_pServer->Unlock(impl.Token(), strUserName); });
        if (!bOk)
            return Refuse(pstrError, impl.ServerProblem());
    }
    else
    {
        std::wstring strActor = impl.AdminActor();
        bOk = impl.WriteAsAdministrator(
            [&](std::wstring* pstrReason) {
                if (!impl.m_pStore->SetLockState(strUserName, 0, 0))
                {
                    *pstrReason = L"There is no user " + strUserName + L".";
                    return false;
                }
                return impl.Audit(strActor, L"user-unlocked", strUserName, L"");
            },
            pstrError);
    }
    if (bOk)
        impl.ReadWorkingCopy();
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmsService::SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted);
    if (bDisabled && impl.m_bLoggedIn && strUserName == impl.m_strUser)
        return Refuse(pstrError, L"Nobody can disable himself.");
    bool bOk = false;
    if (impl.IsServer())
    {
        bOk = impl.Server([&] { return impl.m_pServer->SetDisabled(impl.Token(), strUserName, bDisabled); });
        if (!bOk)
            return Refuse(pstrError, impl.ServerProblem());
    }
    else
    {
        std::wstring strActor = impl.AdminActor();
        bOk = impl.WriteAsAdministrator(
            [&](std::wstring* pstrReason) {
                if (!impl.m_pStore->SetDisabled(strUserName, bDisabled))
                {
                    *pstrReason = L"There is no user " + strUserName + L".";
                    return false;
                }
                return impl.Audit(strActor, bDisabled ? L"user-disabled" : L"user-enabled", strUserName, L"");
            },
            pstrError);
    }
    if (bOk)
        impl.ReadWorkingCopy();
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

std::vector<XTRmsUserRecord> XTRmsService::ListUsers() const
{
    std::vector<XTRmsUserRecord> vecRecords;
    long long nNow = m_pImpl->m_fnClock();
    for (const auto& entry : m_pImpl->m_mapUsers)
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

bool XTRmsService::ExportCsv(std::wstring* pstrCsv, std::wstring* pstrError) const
{
    if (!m_pImpl->m_pStore)
        return Refuse(pstrError, m_pImpl->m_strStoreProblem) == Rms::RmsSuccess;
    if (!m_pImpl->MayAdministerNow())
        return Refuse(pstrError, kNotPermitted) == Rms::RmsSuccess;
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

bool XTRmsService::ImportCsv(const std::wstring& strCsv, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    auto fail = [pstrError](const std::wstring& strMessage) { return Refuse(pstrError, strMessage) == Rms::RmsSuccess; };
    if (!impl.m_pStore)
        return fail(impl.m_strStoreProblem);
    if (!impl.MayAdministerNow())
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
        if (!XTRmsCsv::ParseInt(row[2], &user.nRole) || impl.FindRole(user.nRole) == nullptr)
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
            if (!XTRmsCsv::ParseInt(strRight, &nRight) || !impl.IsRightDefined(nRight))
                return fail(strWhere + L"\"" + strRight + L"\" is not a right of this store.");
            user.setRights.insert(nRight);
            if (nEnd == std::wstring::npos)
                break;
            nStart = nEnd + 1;
        }
        if (impl.m_bLoggedIn && user.strUserName == impl.m_strUser)
        {
            const XTRmsRoleDefinition* pRole = impl.FindRole(user.nRole);
            if (user.bDisabled || pRole == nullptr || !pRole->bSuperUser)
                return fail(strWhere + L"nobody can disable or demote himself.");
        }
        vecUsers.push_back(user);
    }
    if (impl.IsServer())
    {
        // The whole file in one call, applied by the server in one
        // transaction.
        std::wstring strJson = L"[";
        for (const XTRmsStoredUser& user : vecUsers)
        {
            std::wstring strRights;
            for (int nRight : user.setRights)
                strRights += (strRights.empty() ? L"" : L",") + std::to_wstring(nRight);
            strJson += (strJson.size() > 1 ? L"," : L"") + std::wstring(L"{\"user\":") +
                XTRmsServerStore::JsonString(user.strUserName) +
                L",\"full_name\":" + XTRmsServerStore::JsonString(user.strFullName) +
                L",\"role\":" + std::to_wstring(user.nRole) + L",\"disabled\":" + (user.bDisabled ? L"true" : L"false") +
                L",\"rights\":[" + strRights + L"]}";
        }
        strJson += L"]";
        if (!impl.Server([&] { return impl.m_pServer->ImportUsers(impl.Token(), strJson); }))
            return fail(impl.ServerProblem());
        impl.ReadWorkingCopy();
        return true;
    }
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.WriteAsAdministrator(
        [&](std::wstring*) {
            for (const XTRmsStoredUser& user : vecUsers)
            {
                XTRmsStoredUser existing;
                bool bExists = false;
                if (!impl.m_pStore->ReadUser(user.strUserName, &existing, &bExists))
                    return false;
                if (!bExists)
                {
                    if (!impl.m_pStore->InsertUser(user))
                        return false;
                }
                else
                {
                    if (!impl.m_pStore->SetUserFields(user.strUserName, user.strFullName, user.nRole, user.bDisabled))
                        return false;
                    for (int nRight : existing.setRights)
                    {
                        if (user.setRights.count(nRight) == 0 &&
                            !impl.m_pStore->SetRight(user.strUserName, nRight, false))
                            return false;
                    }
                    for (int nRight : user.setRights)
                    {
                        if (existing.setRights.count(nRight) == 0 &&
                            !impl.m_pStore->SetRight(user.strUserName, nRight, true))
                            return false;
                    }
                }
                if (!impl.Audit(strActor, L"user-imported", user.strUserName, bExists ? L"updated" : L"created"))
                    return false;
            }
            return true;
        },
        pstrError);
    if (bOk)
        impl.ReadWorkingCopy();
    return bOk;
}

std::vector<XTRmsAuditEntry> XTRmsService::GetAuditTrail(size_t nCount) const
{
    std::vector<XTRmsAuditEntry> vecEntries;
    // The trail tells who did what: for administrators only.
    if (!m_pImpl->m_pStore || !m_pImpl->MayAdministerNow())
        return vecEntries;
    if (m_pImpl->IsServer())
    {
        if (!m_pImpl->Server([&] { return m_pImpl->m_pServer->ReadAudit(m_pImpl->Token(), nCount, &vecEntries); }))
            vecEntries.clear();
    }
    else if (!m_pImpl->m_pStore->ReadAudit(nCount, &vecEntries))
        vecEntries.clear();
    return vecEntries;
}

bool XTRmsService::VerifyAuditChain(std::wstring* pstrProblem, bool* pbReadable) const
{
    return VerifyAuditChainSince(std::wstring(), pstrProblem, pbReadable);
}

bool XTRmsService::VerifyAuditChainSince(
    const std::wstring& strCheckpoint, std::wstring* pstrProblem, bool* pbReadable) const
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
    else if (!m_pImpl->m_pStore)
        strProblem = m_pImpl->m_strStoreProblem;
    else if (!m_pImpl->MayAdministerNow())
        strProblem = kNotPermitted;
    else if (m_pImpl->IsServer())
    {
        if (!m_pImpl->Server([&] {
                return m_pImpl->m_pServer->VerifyAudit(m_pImpl->Token(), nSince, strSinceHash, &bIntact, &strProblem);
            }))
            strProblem = L"The audit trail cannot be read: " + m_pImpl->ServerProblem();
        else
            bReadable = true;
    }
    else if (!m_pImpl->m_pStore->VerifyAudit(&bIntact, &strProblem, nSince, strSinceHash))
        strProblem = L"The audit trail cannot be read: " + m_pImpl->m_pStore->GetLastErrorText();
    else
        bReadable = true;
    if (pstrProblem != nullptr)
        *pstrProblem = strProblem;
    if (pbReadable != nullptr)
        *pbReadable = bReadable;
    return bIntact && bReadable;
}

bool XTRmsService::AuditCheckpoint(std::wstring* pstrCheckpoint, std::wstring* pstrError) const
{
    const XTRmsServiceImpl& impl = *m_pImpl;
    if (!impl.m_pStore)
        return Refuse(pstrError, impl.m_strStoreProblem) == Rms::RmsSuccess;
    if (!impl.MayAdministerNow())
        return Refuse(pstrError, kNotPermitted) == Rms::RmsSuccess;
    long long nSequence = 0;
    std::wstring strHash;
    bool bOk = impl.IsServer() ? impl.m_pServer->Checkpoint(&nSequence, &strHash)
                               : impl.m_pStore->ReadAuditHead(&nSequence, &strHash);
    if (!bOk)
        return Refuse(pstrError,
                   impl.IsServer() ? impl.ServerProblem()
                                   : L"The audit trail cannot be read: " + impl.m_pStore->GetLastErrorText()) ==
            Rms::RmsSuccess;
    *pstrCheckpoint = std::to_wstring(nSequence) + L":" + strHash;
    return true;
}
