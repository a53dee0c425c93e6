#include "XTRmsConnectionFactory.h"

#include "XTRmsCrypto.h"

#include <windows.h>

#include <utility>

namespace
{
// Characters a value other than the password may not hold: the driver
// takes braces around the password only.
const wchar_t kUnsafeInServerValue[] = L";{}= \t";

bool Contains(const std::wstring& strText, const wchar_t* pszPart)
{
    return strText.find(pszPart) != std::wstring::npos;
}

// One connection attempt on a thread of its own, so that the caller (the GUI
// thread, usually) waits no longer than the bound even when a driver ignores
// its timeouts. An attempt that overstays is joined later (the next attempt,
// or the factory's end), never left to outlive the DLL.
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

// The driver manager's answers when the driver named is not installed: no
// such driver (IM002, "data source name not found and no default driver"),
// or its library cannot be loaded (IM003). unixODBC, which Wine's odbc32
// hands the call to, gives a driver name it does not know to the loader as a
// file and leaves only its warning: 01000 "[unixODBC][Driver Manager]Can't
// open lib ..." as the failure's one record.
bool IsDriverMissing(const XTRmsOdbc::Error& error)
{
    return error.strState == L"IM002" || error.strState == L"IM003" ||
        (error.strState == L"01000" && Contains(error.strMessage, L"[Driver Manager]") &&
            Contains(error.strMessage, L"Can't open lib"));
}

XTRmsOpenResult Refuse(XTRmsOpenResult nResult, const std::wstring& strProblem, std::wstring* pstrProblem)
{
    *pstrProblem = strProblem;
    return nResult;
}
} // namespace

XTRmsConnectionFactory::~XTRmsConnectionFactory()
{
    JoinOverstaying();
}

void XTRmsConnectionFactory::JoinOverstaying()
{
    if (m_overstaying.joinable())
        m_overstaying.join();
}

XTRmsOpenResult XTRmsConnectionFactory::Connect(XTRmsEngine nEngine, const XTRmsServiceConfig& config,
    const XTRmsServerSetting& serverSetting, bool bCreateMissingFile,
    std::unique_ptr<XTRmsOdbc::Connection>* ppConnection, std::wstring* pstrProblem)
{
    std::wstring strConnection;
    if (nEngine == XTRmsEngine::Sqlite)
    {
        const std::wstring& strFile = config.strDatabaseFile;
        // The SQLite driver reads its attributes unquoted.
        if (strFile.empty() || strFile.find(L';') != std::wstring::npos)
            return Refuse(
                XTRmsOpenResult::AddressInvalid, L"The database file name is empty or holds a ';'.", pstrProblem);
        if (GetFileAttributesW(strFile.c_str()) == INVALID_FILE_ATTRIBUTES && !bCreateMissingFile)
            return Refuse(
                XTRmsOpenResult::NotFound, L"The database file " + strFile + L" does not exist.", pstrProblem);
        strConnection = L"Driver={" + config.strSqliteDriver + L"};Database=" + XTRmsOdbc::DriverPath(strFile) +
            L";Timeout=" + std::to_wstring(config.nTimeoutSeconds * 1000) + L";";
    }
    else
    {
        const std::wstring& strHost = serverSetting.GetHost();
        int nPort = serverSetting.GetPortNum();
        if (strHost.empty())
            return Refuse(XTRmsOpenResult::AddressInvalid, L"No rights server is configured.", pstrProblem);
        if (nPort < 1 || nPort > 65535 || strHost.find_first_of(kUnsafeInServerValue) != std::wstring::npos)
            return Refuse(XTRmsOpenResult::AddressInvalid, L"The rights server address is not valid.", pstrProblem);
        if (config.strServerDatabase.find_first_of(kUnsafeInServerValue) != std::wstring::npos ||
            config.strServerUser.find_first_of(kUnsafeInServerValue) != std::wstring::npos)
            return Refuse(XTRmsOpenResult::AddressInvalid,
                L"The server database or user name holds a character that is not allowed.", pstrProblem);
        strConnection = L"Driver={" + config.strPostgresDriver + L"};Server=" + strHost + L";Port=" +
            std::to_wstring(nPort) + L";Database=" + config.strServerDatabase + L";Uid=" + config.strServerUser +
            L";Pwd=";
        std::wstring strQuotedPassword = XTRmsOdbc::QuoteValue(config.strServerPassword);
        strConnection += strQuotedPassword;
        strConnection += L";";
        XTRmsCrypto::Wipe(strQuotedPassword);
    }
    XTRmsOdbc::Error error;
    JoinOverstaying();
    // ConnectBounded wipes the text, which holds the server's password.
    if (ConnectBounded(strConnection, config.nTimeoutSeconds, ppConnection, &error, &m_overstaying))
    {
        // A server or a network can stop answering; a local file waits no
        // longer than its busy timeout by itself.
        (*ppConnection)->SetCallsBounded(nEngine == XTRmsEngine::Postgres);
        return XTRmsOpenResult::Ok;
    }
    if (IsDriverMissing(error))
    {
        const std::wstring& strDriver = nEngine == XTRmsEngine::Sqlite ? config.strSqliteDriver
                                                                       : config.strPostgresDriver;
        return Refuse(XTRmsOpenResult::Unreadable,
            L"The ODBC driver \"" + strDriver + L"\" is not installed on this workstation, so the " +
                StoreLocation(nEngine, config, serverSetting) +
                L" could not be opened. Install the driver, or configure the name of the one installed (the "
                L"driver manager said: " +
                error.strMessage + L").",
            pstrProblem);
    }
    XTRmsOpenResult nResult = nEngine == XTRmsEngine::Sqlite
        ? (error.strState == L"HYT00" ? XTRmsOpenResult::Timeout : XTRmsOpenResult::Unreadable)
        : ClassifyServerError(error);
    return Refuse(nResult,
        L"The " + StoreLocation(nEngine, config, serverSetting) + L" could not be opened: " + error.strMessage,
        pstrProblem);
}

std::wstring XTRmsConnectionFactory::StoreLocation(
    XTRmsEngine nEngine, const XTRmsServiceConfig& config, const XTRmsServerSetting& serverSetting)
{
    if (nEngine == XTRmsEngine::Sqlite)
        return L"SQLite file " + config.strDatabaseFile;
    return L"PostgreSQL database " + config.strServerDatabase + L" at " + serverSetting.GetHost() + L":" +
        std::to_wstring(serverSetting.GetPortNum()) + L" as " + config.strServerUser;
}

XTRmsOpenResult XTRmsConnectionFactory::ClassifyServerError(const XTRmsOdbc::Error& error)
{
    // psqlODBC reports every refused connection as SQLSTATE 08001 (native
    // error 101), whatever the server said: the server's own SQLSTATE (28P01,
    // 3D000) does not come through, so past the driver's own states only
    // libpq's message tells a refusal from a server that was never reached.
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
