#include "XTRmsService.h"

#include "XTRmsCrypto.h"
#include "XTRmsPassword.h"
#include "XTRmsStore.h"

#include <lm.h>

#include <algorithm>
#include <map>
#include <memory>
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
// its timeouts. An attempt that overstays finishes and frees itself.
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
    std::unique_ptr<XTRmsOdbc::Connection>* ppConnection, XTRmsOdbc::Error* pError)
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
    worker.detach();
    // The driver's own login timeout comes first; this bound catches what it
    // does not cover (name resolution, a driver that ignores it).
    if (WaitForSingleObject(pAttempt->hDone, (nTimeoutSeconds + 2) * 1000) != WAIT_OBJECT_0)
    {
        *pError = {L"HYT00", 0, L"The database did not answer in time."};
        return false;
    }
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

// CSV fields: quoted when they hold a separator, a quote or a line break.
std::wstring CsvField(const std::wstring& strValue)
{
    if (strValue.find_first_of(L",\"\r\n") == std::wstring::npos)
        return strValue;
    std::wstring strQuoted = L"\"";
    for (wchar_t ch : strValue)
    {
        strQuoted += ch;
        if (ch == L'"')
            strQuoted += L'"';
    }
    return strQuoted + L"\"";
}

// Splits CSV text into rows of fields; false with a message on malformed text.
bool ParseCsv(const std::wstring& strCsv, std::vector<std::vector<std::wstring>>* pvecRows, std::wstring* pstrError)
{
    pvecRows->clear();
    std::vector<std::wstring> vecRow;
    std::wstring strField;
    bool bQuoted = false;
    bool bFieldStarted = false;
    size_t nLine = 1;
    for (size_t i = 0; i < strCsv.size(); ++i)
    {
        wchar_t ch = strCsv[i];
        if (bQuoted)
        {
            if (ch == L'"')
            {
                if (i + 1 < strCsv.size() && strCsv[i + 1] == L'"')
                {
                    strField += L'"';
                    ++i;
                }
                else
                    bQuoted = false;
            }
            else
            {
                if (ch == L'\n')
                    ++nLine;
                strField += ch;
            }
            continue;
        }
        if (ch == L'"' && !bFieldStarted)
        {
            bQuoted = true;
            bFieldStarted = true;
        }
        else if (ch == L',')
        {
            vecRow.push_back(strField);
            strField.clear();
            bFieldStarted = false;
        }
        else if (ch == L'\n' || ch == L'\r')
        {
            if (ch == L'\r' && i + 1 < strCsv.size() && strCsv[i + 1] == L'\n')
                ++i;
            if (bFieldStarted || !vecRow.empty())
            {
                vecRow.push_back(strField);
                pvecRows->push_back(vecRow);
            }
            vecRow.clear();
            strField.clear();
            bFieldStarted = false;
            ++nLine;
        }
        else if (ch == L'"')
        {
            *pstrError = L"line " + std::to_wstring(nLine) + L": a quote inside an unquoted field";
            return false;
        }
        else
        {
            strField += ch;
            bFieldStarted = true;
        }
    }
    if (bQuoted)
    {
        *pstrError = L"line " + std::to_wstring(nLine) + L": a quoted field is not closed";
        return false;
    }
    if (bFieldStarted || !vecRow.empty())
    {
        vecRow.push_back(strField);
        pvecRows->push_back(vecRow);
    }
    return true;
}

bool ParseInt(const std::wstring& strText, int* pnValue)
{
    if (strText.empty() || strText.size() > 9)
        return false;
    int nValue = 0;
    size_t i = 0;
    bool bNegative = strText[0] == L'-';
    if (bNegative)
        i = 1;
    if (i == strText.size())
        return false;
    for (; i < strText.size(); ++i)
    {
        if (strText[i] < L'0' || strText[i] > L'9')
            return false;
        nValue = nValue * 10 + (strText[i] - L'0');
    }
    *pnValue = bNegative ? -nValue : nValue;
    return true;
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

class XTRmsServiceImpl
{
public:
    explicit XTRmsServiceImpl(const XTRmsServiceConfig& config)
        : m_config(config), m_serverSetting(config.serverSetting),
          m_strWorkstation(config.strWorkstation.empty() ? ComputerName() : config.strWorkstation),
          m_strOsUser(OsUserName())
    {
    }

    ~XTRmsServiceImpl() { XTRmsCrypto::Wipe(m_config.strServerPassword); }

    XTRmsServiceConfig m_config;
    XTRmsServerSetting m_serverSetting;
    Rms::RmsApplicationType m_nApplicationType = Rms::RmsApplicationStandard;
    std::wstring m_strWorkstation;
    std::wstring m_strOsUser;

    // The store that answered last, and why the last attempt failed.
    std::unique_ptr<XTRmsStore> m_pStore;
    XTRmsEngine m_nEngine = XTRmsEngine::Sqlite;
    int m_nSchemaVersion = 0;
    std::wstring m_strStoreProblem;

    // The working copy the administration dialogs see, and its changes.
    std::vector<XTRmsRestrictionDefinition> m_vecRights;
    std::vector<XTRmsRoleDefinition> m_vecRoles;
    std::map<std::wstring, XTRmsStoredUser> m_mapUsers;
    std::vector<XTRmsPendingChange> m_vecPending;

    // The logged-in user; rights answered from memory.
    bool m_bLoggedIn = false;
    bool m_bGuest = false;
    std::wstring m_strUser;
    std::unordered_set<int> m_setRights;
    std::wstring m_strLastServerMessage;

    std::wstring StoreLocation(XTRmsEngine nEngine) const
    {
        if (nEngine == XTRmsEngine::Sqlite)
            return L"SQLite file " + m_config.strDatabaseFile;
        return L"PostgreSQL database " + m_config.strServerDatabase + L" at " + m_serverSetting.GetHost() + L":" +
            std::to_wstring(m_serverSetting.GetPortNum()) + L" as " + m_config.strServerUser;
    }

    // Connects to the chosen engine, checks and migrates the schema, writes
    // the host's definitions and reads the working copy. On failure the old
    // store stays closed and m_strStoreProblem says why.
    XTRmsOpenResult Open(XTRmsEngine nEngine, bool bMigrate, bool bCreateMissingFile)
    {
        m_pStore.reset();
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
        bool bConnected = ConnectBounded(strConnection, m_config.nTimeoutSeconds, &pConnection, &error);
        if (!bConnected)
        {
            XTRmsOpenResult nResult = nEngine == XTRmsEngine::Sqlite
                ? (error.strState == L"HYT00" ? XTRmsOpenResult::Timeout : XTRmsOpenResult::Unreadable)
                : ClassifyServerError(error);
            return Fail(nResult, L"The " + StoreLocation(nEngine) + L" could not be opened: " + error.strMessage);
        }
        auto pStore = std::make_unique<XTRmsStore>(nEngine, std::move(pConnection));
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
            if (!bMigrate)
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" has schema version " + std::to_wstring(nVersion) +
                        L"; upgrade it to " + std::to_wstring(XTRmsStore::kLatestSchemaVersion) + L" first.");
            if (!pStore->Migrate(XTRmsStore::kLatestSchemaVersion))
                return Fail(XTRmsOpenResult::Unreadable,
                    L"The " + StoreLocation(nEngine) + L" could not be upgraded: " + pStore->GetLastErrorText());
            nVersion = XTRmsStore::kLatestSchemaVersion;
        }
        if (!m_config.vecRights.empty() || !m_config.vecRoles.empty())
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
        m_nSchemaVersion = nVersion;
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
        m_pStore.reset();
        m_strStoreProblem = strProblem;
        return nResult;
    }

    // Rereads definitions and users; the previous copy stays when it fails.
    bool ReadWorkingCopy()
    {
        std::vector<XTRmsRestrictionDefinition> vecRights;
        std::vector<XTRmsRoleDefinition> vecRoles;
        std::vector<XTRmsStoredUser> vecUsers;
        if (!m_pStore || !m_pStore->ReadDefinitions(&vecRights, &vecRoles) || !m_pStore->ReadUsers(&vecUsers))
            return false;
        m_vecRights.swap(vecRights);
        m_vecRoles.swap(vecRoles);
        m_mapUsers.clear();
        for (XTRmsStoredUser& user : vecUsers)
        {
            std::wstring strName = user.strUserName;
            m_mapUsers.emplace(strName, std::move(user));
        }
        m_vecPending.clear();
        RefreshLoggedInRights();
        return true;
    }

    void RefreshLoggedInRights()
    {
        if (!m_bLoggedIn || m_bGuest)
            return;
        auto it = m_mapUsers.find(m_strUser);
        m_setRights.clear();
        if (it != m_mapUsers.end())
            m_setRights.insert(it->second.setRights.begin(), it->second.setRights.end());
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

    std::wstring Actor() const
    {
        if (!m_bLoggedIn)
            return std::wstring();
        return m_bGuest ? std::wstring(L"(guest)") : m_strUser;
    }

    // Who a change is recorded for: the logged-in user, else the one at the
    // operating system (the console tool, provisioning).
    std::wstring AdminActor() const { return Actor().empty() ? m_strOsUser : Actor(); }

    bool Audit(const std::wstring& strActor, const wchar_t* pszEvent, const std::wstring& strSubject,
        const std::wstring& strDetail)
    {
        return m_pStore->AppendAudit(m_strWorkstation, m_strOsUser, strActor, pszEvent, strSubject, strDetail);
    }

    // Runs fnWork inside one write transaction; everything or nothing lands.
    template <typename Work>
    bool Write(Work fnWork, std::wstring* pstrError)
    {
        if (!m_pStore)
        {
            if (pstrError != nullptr)
                *pstrError = m_strStoreProblem.empty() ? L"The store is not open." : m_strStoreProblem;
            return false;
        }
        std::wstring strReason;
        if (!m_pStore->BeginWrite())
        {
            if (pstrError != nullptr)
                *pstrError = L"The store cannot be written: " + m_pStore->GetLastErrorText();
            return false;
        }
        if (!fnWork(&strReason))
        {
            m_pStore->Rollback();
            if (pstrError != nullptr)
                *pstrError = strReason.empty() ? L"The store cannot be written: " + m_pStore->GetLastErrorText()
                                               : strReason;
            return false;
        }
        if (!m_pStore->Commit())
        {
            if (pstrError != nullptr)
                *pstrError = L"The change could not be committed: " + m_pStore->GetLastErrorText();
            return false;
        }
        return true;
    }

    Rms::ERmsPasswordResult StorePassword(
        const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszEvent)
    {
        XTRmsPasswordHash hash;
        if (!XTRmsPassword::Hash(strPassword, m_config.policy.nPbkdf2Iterations, &hash))
            return Rms::ERmsPasswordStoreFailed;
        bool bUnknown = false;
        bool bOk = Write(
            [&](std::wstring*) {
                if (!m_pStore->SetPassword(strUserName, hash.strHashHex, hash.strSaltHex, hash.nIterations))
                {
                    bUnknown = true;
                    return false;
                }
                return Audit(AdminActor(), pszEvent, strUserName, std::wstring());
            },
            nullptr);
        if (bOk)
        {
            auto it = m_mapUsers.find(strUserName);
            if (it != m_mapUsers.end())
                it->second.strHashHex = L"*";
            return Rms::ERmsPasswordOk;
        }
        return bUnknown ? Rms::ERmsPasswordUnknownUser : Rms::ERmsPasswordStoreFailed;
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
    // Any mode but the rights server's means the local source.
    if (nMode == Rms::RmsConnectModeServer)
    {
        if (m_pImpl->m_serverSetting.GetHost().empty())
        {
            m_pImpl->m_nEngine = XTRmsEngine::Postgres;
            m_pImpl->Fail(XTRmsOpenResult::AddressInvalid, L"No rights server is configured.");
            return Rms::RmsConnectionServerNotConfigured;
        }
        return ToConnectionTest(m_pImpl->Open(XTRmsEngine::Postgres, true, false), true);
    }
    return ToConnectionTest(m_pImpl->Open(XTRmsEngine::Sqlite, true, m_pImpl->m_config.bCreateDatabase), false);
}

Rms::RmsResult XTRmsService::Initialize(Rms::RmsApplicationType nType, const std::wstring&, const std::wstring&,
    const std::wstring&, const std::wstring&, int, int, const std::wstring&)
{
    m_pImpl->m_nApplicationType = nType;
    m_pImpl->m_bLoggedIn = false;
    m_pImpl->m_bGuest = false;
    m_pImpl->m_strUser.clear();
    m_pImpl->m_setRights.clear();
    // A host that skipped the connection test still gets its store: the one
    // tried last, the local file when none was.
    if (!m_pImpl->m_pStore &&
        m_pImpl->Open(m_pImpl->m_nEngine, true, m_pImpl->m_config.bCreateDatabase) != XTRmsOpenResult::Ok)
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
    const XTRmsPolicy& policy = impl.m_config.policy;
    impl.m_strLastServerMessage.clear();
    impl.m_bLoggedIn = false;
    impl.m_bGuest = false;
    impl.m_strUser.clear();
    impl.m_setRights.clear();
    if (!impl.m_pStore)
        return Rms::ERmsLoginSourceUnavailable;

    if (strUserName.empty() && strPassword.empty())
    {
        if (!policy.bGuestLoginAllowed)
        {
            impl.Write(
                [&](std::wstring*) { return impl.Audit(L"", L"login-refused", L"", L"9 guest not allowed"); }, nullptr);
            return Rms::ERmsLoginGuestNotAllowed;
        }
        if (!impl.Write([&](std::wstring*) { return impl.Audit(L"(guest)", L"guest-login", L"", L""); }, nullptr))
            return Rms::ERmsLoginSourceUnavailable;
        impl.m_bLoggedIn = true;
        impl.m_bGuest = true;
        impl.m_setRights.insert(policy.vecGuestRights.begin(), policy.vecGuestRights.end());
        return Rms::ERmsLoginOk;
    }

    XTRmsStoredUser user;
    bool bFound = false;
    if (!impl.m_pStore->ReadUser(strUserName, &user, &bFound))
    {
        impl.m_strStoreProblem = L"The store cannot be read: " + impl.m_pStore->GetLastErrorText();
        return Rms::ERmsLoginSourceUnavailable;
    }
    long long nNow = XTRmsStore::NowUnixSeconds();
    bool bLocked = bFound && (user.nLockedUntil < 0 || user.nLockedUntil > nNow);
    if (bLocked)
    {
        impl.Write(
            [&](std::wstring*) { return impl.Audit(L"", L"login-refused", user.strUserName, L"4 locked"); }, nullptr);
        return Rms::ERmsLoginUserLocked;
    }
    // An unknown user, an empty field or an account without a password costs
    // the same hashing as a real check, so that timing tells nothing.
    bool bPasswordOk = XTRmsPassword::Verify(strPassword, bFound ? user.strHashHex : std::wstring(),
        bFound ? user.strSaltHex : std::wstring(), bFound ? user.nIterations : policy.nPbkdf2Iterations);
    if (!bFound)
    {
        // The typed name is not recorded: it may be a password typed into the
        // wrong field.
        impl.Write([&](std::wstring*) { return impl.Audit(L"", L"login-refused", L"", L"2 unknown user"); }, nullptr);
        return policy.bReportUnknownUser ? Rms::ERmsLoginUnknownUser : Rms::ERmsLoginWrongPassword;
    }
    if (!bPasswordOk || strUserName.empty())
    {
        bool bNowLocked = false;
        bool bWritten = impl.Write(
            [&](std::wstring*) {
                // Counted under the write lock, so that failures on several
                // workstations at once all count.
                XTRmsStoredUser current;
                bool bStillThere = false;
                if (!impl.m_pStore->ReadUser(strUserName, &current, &bStillThere))
                    return false;
                if (!bStillThere)
                    return impl.Audit(L"", L"login-refused", L"", L"2 unknown user");
                // A lock that has run out starts the count afresh.
                unsigned int nFailed = current.nLockedUntil > 0 && current.nLockedUntil <= nNow
                    ? 1
                    : current.nFailedLogins + 1;
                long long nLockedUntil = 0;
                if (policy.nLockoutThreshold != 0 && nFailed >= policy.nLockoutThreshold)
                {
                    nLockedUntil = policy.nLockoutSeconds == 0 ? -1 : nNow + policy.nLockoutSeconds;
                    bNowLocked = true;
                }
                return impl.m_pStore->SetLockState(strUserName, nFailed, nLockedUntil) &&
                    impl.Audit(L"", L"login-refused", strUserName,
                        bNowLocked ? L"2 wrong password, now locked" : L"2 wrong password") &&
                    (!bNowLocked ||
                        impl.Audit(L"", L"user-locked", strUserName, std::to_wstring(nFailed) + L" failed logins"));
            },
            nullptr);
        if (!bWritten)
            return Rms::ERmsLoginSourceUnavailable;
        return bNowLocked ? Rms::ERmsLoginUserLocked : Rms::ERmsLoginWrongPassword;
    }
    if (user.bDisabled)
    {
        impl.Write(
            [&](std::wstring*) { return impl.Audit(L"", L"login-refused", strUserName, L"11 disabled"); }, nullptr);
        return Rms::ERmsLoginAccountDisabled;
    }
    bool bWritten = impl.Write(
        [&](std::wstring*) {
            return impl.m_pStore->SetLockState(strUserName, 0, 0) &&
                impl.Audit(strUserName, L"login", strUserName, L"");
        },
        nullptr);
    if (!bWritten)
        return Rms::ERmsLoginSourceUnavailable;
    impl.m_bLoggedIn = true;
    impl.m_strUser = user.strUserName;
    impl.m_setRights.insert(user.setRights.begin(), user.setRights.end());
    auto it = impl.m_mapUsers.find(user.strUserName);
    if (it != impl.m_mapUsers.end())
    {
        it->second.nFailedLogins = 0;
        it->second.nLockedUntil = 0;
    }
    return Rms::ERmsLoginOk;
}

Rms::ERmsLoginResult XTRmsService::ReconnectToRestrictionSource()
{
    XTRmsServiceImpl& impl = *m_pImpl;
    bool bLoggedIn = impl.m_bLoggedIn;
    bool bGuest = impl.m_bGuest;
    std::wstring strUser = impl.m_strUser;
    if (impl.Open(impl.m_nEngine, true, false) != XTRmsOpenResult::Ok)
        return Rms::ERmsLoginSourceUnavailable;
    if (!bLoggedIn)
        return Rms::ERmsLoginWrongPassword;
    if (bGuest)
        return impl.m_config.policy.bGuestLoginAllowed ? Rms::ERmsLoginOk : Rms::ERmsLoginGuestNotAllowed;
    XTRmsStoredUser user;
    bool bFound = false;
    if (!impl.m_pStore->ReadUser(strUser, &user, &bFound))
        return Rms::ERmsLoginSourceUnavailable;
    // The session ends when the account went away, was disabled or locked.
    impl.m_bLoggedIn = false;
    impl.m_strUser.clear();
    impl.m_setRights.clear();
    if (!bFound)
        return Rms::ERmsLoginWrongPassword;
    if (user.bDisabled)
        return Rms::ERmsLoginAccountDisabled;
    if (user.nLockedUntil < 0 || user.nLockedUntil > XTRmsStore::NowUnixSeconds())
        return Rms::ERmsLoginUserLocked;
    impl.m_bLoggedIn = true;
    impl.m_strUser = strUser;
    impl.m_setRights.insert(user.setRights.begin(), user.setRights.end());
    return Rms::ERmsLoginOk;
}

bool XTRmsService::IsGuestLoginAllowed() const
{
    return m_pImpl->m_config.policy.bGuestLoginAllowed;
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
    if (it == impl.m_mapUsers.end() || !impl.IsRightDefined(nRestrictionId))
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
    if (strUserName.empty() || pRole == nullptr || impl.m_mapUsers.count(strUserName) != 0)
        return Rms::RmsFailure;
    XTRmsPendingChange change;
    change.nKind = XTRmsPendingChange::Create;
    change.user.strUserName = strUserName;
    change.user.nRole = nRole;
    change.user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    for (const XTRmsUserInfo& account : GetAllUsers())
    {
        if (account.GetUserNameW() == strUserName)
        {
            change.user.strFullName = account.GetFullName();
            break;
        }
    }
    impl.m_mapUsers[strUserName] = change.user;
    impl.m_vecPending.push_back(change);
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::RemoveUser(const std::wstring& strUserName)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    // The logged-in user cannot pull the floor from under their own feet.
    if (impl.m_mapUsers.count(strUserName) == 0 ||
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

Rms::RmsResult XTRmsService::SaveUserProfiles()
{
    XTRmsServiceImpl& impl = *m_pImpl;
    // A message describes the last save only.
    impl.m_strLastServerMessage.clear();
    if (impl.m_vecPending.empty())
        return Rms::RmsSuccess;
    std::wstring strActor = impl.AdminActor();
    std::wstring strError;
    bool bSaved = impl.Write(
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
                            L" could not be created (another workstation may "
                            L"have created it): " +
                            impl.m_pStore->GetLastErrorText();
                        return false;
                    }
                    if (!impl.Audit(strActor, L"user-created", strUser,
                            L"role " + RoleName(impl.m_vecRoles, change.user.nRole)))
                        return false;
                    break;
                case XTRmsPendingChange::Remove: {
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
    const XTRmsPolicy& policy = impl.m_config.policy;
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
    line(L"Workstation      : ", impl.m_strWorkstation);
    line(L"Logged-in user   : ",
        !impl.m_bLoggedIn   ? std::wstring(L"(none)")
            : impl.m_bGuest ? std::wstring(L"(guest)")
                            : impl.m_strUser);
    line(L"Users            : ",
        std::to_wstring(impl.m_mapUsers.size()) +
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
        strText += L"  (none)\r\n";
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
    return m_pImpl->m_bLoggedIn && !m_pImpl->m_bGuest && IsSuperUser(m_pImpl->m_strUser);
}

unsigned int XTRmsService::GetMinPasswordLength() const
{
    return m_pImpl->m_config.policy.nMinPasswordLength;
}

Rms::ERmsPasswordResult XTRmsService::ChangeOwnPassword(
    const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    std::wstring strUser = GetLoggedInUserName();
    if (strUser.empty() || !impl.m_pStore)
        return strUser.empty() ? Rms::ERmsPasswordNotPermitted : Rms::ERmsPasswordStoreFailed;
    XTRmsStoredUser user;
    bool bFound = false;
    if (!impl.m_pStore->ReadUser(strUser, &user, &bFound))
        return Rms::ERmsPasswordStoreFailed;
    if (!bFound)
        return Rms::ERmsPasswordUnknownUser;
    if (!XTRmsPassword::Verify(strOldPassword, user.strHashHex, user.strSaltHex, user.nIterations))
    {
        impl.Write(
            [&](std::wstring*) {
                return impl.Audit(strUser, L"password-change-refused", strUser, L"wrong old password");
            },
            nullptr);
        return Rms::ERmsPasswordWrongOld;
    }
    Rms::ERmsPasswordResult nPolicy = XTRmsPassword::CheckPolicy(
        strUser, strNewPassword, impl.m_config.policy.nMinPasswordLength);
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    return impl.StorePassword(strUser, strNewPassword, L"password-changed");
}

Rms::ERmsPasswordResult XTRmsService::SetUserPassword(
    const std::wstring& strUserName, const std::wstring& strNewPassword)
{
    if (!CanSetOtherPasswords())
        return Rms::ERmsPasswordNotPermitted;
    if (!m_pImpl->m_pStore)
        return Rms::ERmsPasswordStoreFailed;
    Rms::ERmsPasswordResult nPolicy = XTRmsPassword::CheckPolicy(
        strUserName, strNewPassword, m_pImpl->m_config.policy.nMinPasswordLength);
    if (nPolicy != Rms::ERmsPasswordOk)
        return nPolicy;
    return m_pImpl->StorePassword(strUserName, strNewPassword, L"password-set");
}

// --- Administration without a login -------------------------------------------

bool XTRmsService::OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError)
{
    XTRmsOpenResult nResult = m_pImpl->Open(nEngine, bCreateOrUpgrade, bCreateOrUpgrade);
    if (nResult == XTRmsOpenResult::Ok)
        return true;
    if (pstrError != nullptr)
        *pstrError = m_pImpl->m_strStoreProblem;
    return false;
}

int XTRmsService::GetSchemaVersion() const
{
    return m_pImpl->m_pStore ? m_pImpl->m_nSchemaVersion : 0;
}

int XTRmsService::GetLatestSchemaVersion()
{
    return XTRmsStore::kLatestSchemaVersion;
}

Rms::RmsResult XTRmsService::AddUser(const std::wstring& strUserName, const std::wstring& strFullName,
    Rms::RmsUserRole nRole, const std::wstring& strPassword, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    auto fail = [pstrError](const std::wstring& strMessage) {
        if (pstrError != nullptr)
            *pstrError = strMessage;
        return Rms::RmsFailure;
    };
    if (!XTRmsPassword::IsValidUserName(strUserName))
        return fail(L"A user name must not be empty, longer than 256 characters or hold control characters.");
    const XTRmsRoleDefinition* pRole = impl.FindRole(nRole);
    if (pRole == nullptr)
        return fail(L"There is no role " + std::to_wstring(nRole) + L" in the store.");
    XTRmsStoredUser user;
    user.strUserName = strUserName;
    user.strFullName = strFullName;
    user.nRole = nRole;
    user.setRights.insert(pRole->vecRights.begin(), pRole->vecRights.end());
    if (!strPassword.empty())
    {
        Rms::ERmsPasswordResult nPolicy = XTRmsPassword::CheckPolicy(
            strUserName, strPassword, impl.m_config.policy.nMinPasswordLength);
        if (nPolicy != Rms::ERmsPasswordOk)
            return fail(XTRmsPassword::DescribeRefusal(nPolicy, impl.m_config.policy.nMinPasswordLength));
        XTRmsPasswordHash hash;
        if (!XTRmsPassword::Hash(strPassword, impl.m_config.policy.nPbkdf2Iterations, &hash))
            return fail(L"The password could not be hashed.");
        user.strHashHex = hash.strHashHex;
        user.strSaltHex = hash.strSaltHex;
        user.nIterations = hash.nIterations;
    }
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.Write(
        [&](std::wstring* pstrReason) {
            XTRmsStoredUser existing;
            bool bExists = false;
            if (!impl.m_pStore->ReadUser(strUserName, &existing, &bExists))
                return false;
            if (bExists)
            {
                *pstrReason = L"The user " + strUserName + L" exists already.";
                return false;
            }
            return impl.m_pStore->InsertUser(user) &&
                impl.Audit(strActor, L"user-created", strUserName, L"role " + pRole->strName) &&
                (user.strHashHex.empty() || impl.Audit(strActor, L"password-set", strUserName, L""));
        },
        pstrError);
    if (!bOk)
        return Rms::RmsFailure;
    user.strHashHex = user.strHashHex.empty() ? L"" : L"*";
    user.strSaltHex.clear();
    impl.m_mapUsers[strUserName] = user;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsService::SetPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    Rms::ERmsPasswordResult nResult = XTRmsPassword::CheckPolicy(
        strUserName, strPassword, impl.m_config.policy.nMinPasswordLength);
    if (nResult == Rms::ERmsPasswordOk)
        nResult = impl.StorePassword(strUserName, strPassword, L"password-set");
    if (nResult == Rms::ERmsPasswordOk)
        return Rms::RmsSuccess;
    if (pstrError != nullptr)
        *pstrError = nResult == Rms::ERmsPasswordStoreFailed && !impl.m_strStoreProblem.empty()
            ? impl.m_strStoreProblem
            : XTRmsPassword::DescribeRefusal(nResult, impl.m_config.policy.nMinPasswordLength);
    return Rms::RmsFailure;
}

Rms::RmsResult XTRmsService::Unlock(const std::wstring& strUserName, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.Write(
        [&](std::wstring* pstrReason) {
            if (!impl.m_pStore->SetLockState(strUserName, 0, 0))
            {
                *pstrReason = L"There is no user " + strUserName + L".";
                return false;
            }
            return impl.Audit(strActor, L"user-unlocked", strUserName, L"");
        },
        pstrError);
    if (bOk)
        impl.ReadWorkingCopy();
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmsService::SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.Write(
        [&](std::wstring* pstrReason) {
            if (!impl.m_pStore->SetDisabled(strUserName, bDisabled))
            {
                *pstrReason = L"There is no user " + strUserName + L".";
                return false;
            }
            return impl.Audit(strActor, bDisabled ? L"user-disabled" : L"user-enabled", strUserName, L"");
        },
        pstrError);
    if (bOk)
        impl.ReadWorkingCopy();
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

std::vector<XTRmsUserRecord> XTRmsService::ListUsers() const
{
    std::vector<XTRmsUserRecord> vecRecords;
    long long nNow = XTRmsStore::NowUnixSeconds();
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
    {
        if (pstrError != nullptr)
            *pstrError = m_pImpl->m_strStoreProblem;
        return false;
    }
    std::wstring strCsv = L"user,full_name,role,disabled,rights\r\n";
    for (const XTRmsUserRecord& record : ListUsers())
    {
        std::wstring strRights;
        for (int nRight : record.vecRights)
            strRights += (strRights.empty() ? L"" : L";") + std::to_wstring(nRight);
        strCsv += CsvField(record.strUserName) + L"," + CsvField(record.strFullName) + L"," +
            std::to_wstring(record.nRole) + L"," + (record.bDisabled ? L"1" : L"0") + L"," + strRights + L"\r\n";
    }
    *pstrCsv = strCsv;
    return true;
}

bool XTRmsService::ImportCsv(const std::wstring& strCsv, std::wstring* pstrError)
{
    XTRmsServiceImpl& impl = *m_pImpl;
    auto fail = [pstrError](const std::wstring& strMessage) {
        if (pstrError != nullptr)
            *pstrError = strMessage;
        return false;
    };
    if (!impl.m_pStore)
        return fail(impl.m_strStoreProblem);
    std::vector<std::vector<std::wstring>> vecRows;
    std::wstring strParseError;
    if (!ParseCsv(strCsv, &vecRows, &strParseError))
        return fail(L"The CSV text is malformed: " + strParseError + L".");
    if (vecRows.empty() || vecRows[0].size() != 5 || vecRows[0][0] != L"user")
        return fail(L"The CSV text must begin with the header user,full_name,role,disabled,rights.");
    // Every row is checked before anything is written.
    std::vector<XTRmsStoredUser> vecUsers;
    for (size_t i = 1; i < vecRows.size(); ++i)
    {
        const std::vector<std::wstring>& row = vecRows[i];
        std::wstring strWhere = L"Row " + std::to_wstring(i + 1) + L": ";
        if (row.size() != 5)
            return fail(strWhere + L"5 fields expected, " + std::to_wstring(row.size()) + L" found.");
        XTRmsStoredUser user;
        user.strUserName = row[0];
        user.strFullName = row[1];
        if (!XTRmsPassword::IsValidUserName(user.strUserName))
            return fail(strWhere + L"the user name is empty, too long or holds control characters.");
        if (!ParseInt(row[2], &user.nRole) || impl.FindRole(user.nRole) == nullptr)
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
            if (!ParseInt(strRight, &nRight) || !impl.IsRightDefined(nRight))
                return fail(strWhere + L"\"" + strRight + L"\" is not a right of this store.");
            user.setRights.insert(nRight);
            if (nEnd == std::wstring::npos)
                break;
            nStart = nEnd + 1;
        }
        vecUsers.push_back(user);
    }
    std::wstring strActor = impl.AdminActor();
    bool bOk = impl.Write(
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
    if (m_pImpl->m_pStore)
        m_pImpl->m_pStore->ReadAudit(nCount, &vecEntries);
    return vecEntries;
}

bool XTRmsService::VerifyAuditChain(std::wstring* pstrProblem, bool* pbReadable) const
{
    std::wstring strProblem;
    bool bIntact = false;
    bool bReadable = false;
    if (!m_pImpl->m_pStore)
        strProblem = m_pImpl->m_strStoreProblem;
    else if (!m_pImpl->m_pStore->VerifyAudit(&bIntact, &strProblem))
        strProblem = L"The audit trail cannot be read: " + m_pImpl->m_pStore->GetLastErrorText();
    else
        bReadable = true;
    if (pstrProblem != nullptr)
        *pstrProblem = strProblem;
    if (pbReadable != nullptr)
        *pbReadable = bReadable;
    return bIntact;
}
