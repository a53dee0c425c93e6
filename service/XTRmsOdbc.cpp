#include "XTRmsOdbc.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace XTRmsOdbc
{
// The state shared by a connection and the thread that runs its calls.
struct BoundedCall
{
    std::mutex mutex;
    std::condition_variable changed;
    std::function<SQLRETURN()> fnCall;
    bool bCallWaiting = false;
    bool bCallDone = false;
    bool bStop = false;
    SQLRETURN nResult = SQL_ERROR;
    // After an overstayed call: what the thread frees once the driver lets
    // go, and what it keeps alive until then.
    bool bAbandoned = false;
    bool bFinished = false;
    SQLHENV hEnv = SQL_NULL_HENV;
    SQLHDBC hDbc = SQL_NULL_HDBC;
    std::vector<SQLHSTMT> vecStatements;
    std::vector<std::shared_ptr<void>> vecKeepAlive;
};

namespace
{
void RunCalls(std::shared_ptr<BoundedCall> pCall)
{
    std::unique_lock<std::mutex> lock(pCall->mutex);
    for (;;)
    {
        pCall->changed.wait(lock, [&] { return pCall->bCallWaiting || pCall->bStop; });
        if (!pCall->bCallWaiting)
            return;
        std::function<SQLRETURN()> fnCall = std::move(pCall->fnCall);
        pCall->bCallWaiting = false;
        lock.unlock();
        SQLRETURN nResult = fnCall();
        lock.lock();
        pCall->nResult = nResult;
        pCall->bCallDone = true;
        pCall->changed.notify_all();
        if (pCall->bAbandoned)
        {
            // Nobody waits for this answer any more: the handles go.
            for (SQLHSTMT hStmt : pCall->vecStatements)
                SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
            SQLDisconnect(pCall->hDbc);
            SQLFreeHandle(SQL_HANDLE_DBC, pCall->hDbc);
            SQLFreeHandle(SQL_HANDLE_ENV, pCall->hEnv);
            pCall->vecStatements.clear();
            pCall->vecKeepAlive.clear();
            pCall->bFinished = true;
            return;
        }
    }
}

// Threads of abandoned calls, joined once they have finished, and at the
// latest when the library is unloaded (at process exit they have already
// ended).
class Graveyard
{
public:
    ~Graveyard()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& entry : m_entries)
            entry.second.join();
    }

    void Add(std::shared_ptr<BoundedCall> pCall, std::thread thread)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        JoinFinished();
        m_entries.emplace_back(std::move(pCall), std::move(thread));
    }

private:
    void JoinFinished()
    {
        for (auto it = m_entries.begin(); it != m_entries.end();)
        {
            bool bFinished = false;
            {
                std::lock_guard<std::mutex> callLock(it->first->mutex);
                bFinished = it->first->bFinished;
            }
            if (bFinished)
            {
                it->second.join();
                it = m_entries.erase(it);
            }
            else
                ++it;
        }
    }

    std::mutex m_mutex;
    std::vector<std::pair<std::shared_ptr<BoundedCall>, std::thread>> m_entries;
};

Graveyard& TheGraveyard()
{
    static Graveyard s_graveyard;
    return s_graveyard;
}
} // namespace

Error ReadError(SQLSMALLINT nHandleType, SQLHANDLE hHandle)
{
    Error error;
    SQLWCHAR szState[6] = {};
    SQLINTEGER nNative = 0;
    SQLWCHAR szMessage[1024] = {};
    SQLSMALLINT nLength = 0;
    if (hHandle != SQL_NULL_HANDLE &&
        SQL_SUCCEEDED(SQLGetDiagRecW(nHandleType, hHandle, 1, szState, &nNative, szMessage,
            static_cast<SQLSMALLINT>(sizeof(szMessage) / sizeof(szMessage[0])), &nLength)))
    {
        error.strState = reinterpret_cast<const wchar_t*>(szState);
        error.nNative = nNative;
        error.strMessage = reinterpret_cast<const wchar_t*>(szMessage);
        // Drivers end their messages with line breaks of their own.
        while (!error.strMessage.empty() && (error.strMessage.back() == L'\n' || error.strMessage.back() == L'\r'))
            error.strMessage.pop_back();
    }
    else
    {
        error.strState = L"HY000";
        error.strMessage = L"The ODBC driver manager gave no diagnostic.";
    }
    return error;
}

std::wstring QuoteValue(const std::wstring& strValue)
{
    return Enclose(strValue, L'{', L'}');
}

std::wstring Enclose(const std::wstring& strValue, wchar_t chOpen, wchar_t chClose)
{
    std::wstring strEnclosed(1, chOpen);
    for (wchar_t ch : strValue)
    {
        strEnclosed += ch;
        if (ch == chClose)
            strEnclosed += chClose;
    }
    return strEnclosed + chClose;
}

std::wstring DriverPath(const std::wstring& strWindowsPath)
{
    typedef char*(CDECL * UnixFileNameFn)(LPCWSTR);
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    auto pfnUnixFileName = hKernel != nullptr
        ? reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(GetProcAddress(hKernel, "wine_get_unix_file_name")))
        : nullptr;
    if (pfnUnixFileName == nullptr)
        return strWindowsPath;
    char* pszUnix = pfnUnixFileName(strWindowsPath.c_str());
    if (pszUnix == nullptr)
        return strWindowsPath;
    std::wstring strUnix;
    int nLength = MultiByteToWideChar(CP_UTF8, 0, pszUnix, -1, nullptr, 0);
    if (nLength > 1)
    {
        strUnix.resize(static_cast<size_t>(nLength));
        MultiByteToWideChar(CP_UTF8, 0, pszUnix, -1, &strUnix[0], nLength);
        strUnix.resize(static_cast<size_t>(nLength - 1));
    }
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return strUnix.empty() ? strWindowsPath : strUnix;
}

bool InstalledDrivers(std::vector<std::wstring>* pvecDrivers)
{
    pvecDrivers->clear();
    SQLHENV hEnv = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &hEnv)))
        return false;
    SQLSetEnvAttr(hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLWCHAR szName[256];
    SQLWCHAR szAttributes[1024];
    SQLSMALLINT nName = 0, nAttributes = 0;
    SQLUSMALLINT nDirection = SQL_FETCH_FIRST;
    SQLRETURN nResult;
    while (SQL_SUCCEEDED(nResult = SQLDriversW(hEnv, nDirection, szName, sizeof(szName) / sizeof(szName[0]), &nName,
                             szAttributes, sizeof(szAttributes) / sizeof(szAttributes[0]), &nAttributes)))
    {
        pvecDrivers->push_back(reinterpret_cast<const wchar_t*>(szName));
        nDirection = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, hEnv);
    return nResult == SQL_NO_DATA;
}

Connection::Connection() = default;

Connection::~Connection()
{
    Close();
}

bool Connection::Open(const std::wstring& strConnectionString, unsigned int nTimeoutSeconds)
{
    Close();
    m_nTimeoutSeconds = nTimeoutSeconds == 0 ? 1 : nTimeoutSeconds;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv)))
    {
        m_hEnv = SQL_NULL_HENV;
        m_error = {L"IM004", 0, L"The ODBC driver manager could not be loaded."};
        return false;
    }
    SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc)))
    {
        m_error = ReadError(SQL_HANDLE_ENV, m_hEnv);
        m_hDbc = SQL_NULL_HDBC;
        Close();
        return false;
    }
    SQLSetConnectAttrW(
        m_hDbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_nTimeoutSeconds)), 0);
    SQLSetConnectAttrW(
        m_hDbc, SQL_ATTR_CONNECTION_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_nTimeoutSeconds)), 0);
    // The driver manager takes a writable buffer.
    std::vector<SQLWCHAR> vecIn(strConnectionString.begin(), strConnectionString.end());
    vecIn.push_back(0);
    SQLWCHAR szOut[1024] = {};
    SQLSMALLINT nOut = 0;
    SQLRETURN nResult = SQLDriverConnectW(m_hDbc, nullptr, vecIn.data(), SQL_NTS, szOut,
        static_cast<SQLSMALLINT>(sizeof(szOut) / sizeof(szOut[0])), &nOut, SQL_DRIVER_NOPROMPT);
    // Both copies may hold a password.
    SecureZeroMemory(vecIn.data(), vecIn.size() * sizeof(SQLWCHAR));
    SecureZeroMemory(szOut, sizeof(szOut));
    if (!SQL_SUCCEEDED(nResult))
    {
        m_error = ReadError(SQL_HANDLE_DBC, m_hDbc);
        Close();
        return false;
    }
    m_bOpen = true;
    return true;
}

SQLRETURN Connection::RunBounded(
    SQLHSTMT hStmt, const std::function<SQLRETURN()>& fnCall, std::shared_ptr<void> pKeepAlive)
{
    if (m_pAbandoned || !m_bOpen)
    {
        m_error = {L"08003", 0, L"The database connection was given up after it stopped answering."};
        return SQL_ERROR;
    }
    if (!m_bCallsBounded)
        return fnCall();
    if (!m_pWorker)
    {
        m_pWorker = std::make_shared<BoundedCall>();
        m_worker = std::thread(RunCalls, m_pWorker);
    }
    BoundedCall& call = *m_pWorker;
    std::unique_lock<std::mutex> lock(call.mutex);
    call.fnCall = fnCall;
    call.bCallWaiting = true;
    call.bCallDone = false;
    call.changed.notify_all();
    if (call.changed.wait_for(
            lock, std::chrono::seconds(m_nTimeoutSeconds + kAbandonMarginSeconds), [&] { return call.bCallDone; }))
        return call.nResult;
    // The server or the network stopped answering. Whoever asked gets the
    // answer now; the connection's handles and the call's values go to its
    // thread, which frees them once the driver returns.
    call.bAbandoned = true;
    call.hEnv = m_hEnv;
    call.hDbc = m_hDbc;
    call.vecStatements.push_back(hStmt);
    call.vecKeepAlive.push_back(std::move(pKeepAlive));
    lock.unlock();
    m_hEnv = SQL_NULL_HENV;
    m_hDbc = SQL_NULL_HDBC;
    m_bOpen = false;
    m_bInTransaction = false;
    m_pAbandoned = m_pWorker;
    m_pWorker.reset();
    TheGraveyard().Add(m_pAbandoned, std::move(m_worker));
    m_error = {L"HYT00", 0, L"The database did not answer in time."};
    return SQL_ERROR;
}

void Connection::FreeStatement(SQLHSTMT hStmt)
{
    if (m_pAbandoned)
    {
        std::lock_guard<std::mutex> lock(m_pAbandoned->mutex);
        // Once the thread has disconnected, the driver has freed it too.
        if (!m_pAbandoned->bFinished &&
            std::find(m_pAbandoned->vecStatements.begin(), m_pAbandoned->vecStatements.end(), hStmt) ==
                m_pAbandoned->vecStatements.end())
            m_pAbandoned->vecStatements.push_back(hStmt);
        return;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
}

void Connection::StopWorker()
{
    if (!m_pWorker)
        return;
    {
        std::lock_guard<std::mutex> lock(m_pWorker->mutex);
        m_pWorker->bStop = true;
        m_pWorker->changed.notify_all();
    }
    m_worker.join();
    m_pWorker.reset();
}

void Connection::Close()
{
    if (m_hDbc != SQL_NULL_HDBC)
    {
        if (m_bOpen)
        {
            if (m_bInTransaction)
                Rollback();
            SQLDisconnect(m_hDbc);
        }
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        m_hDbc = SQL_NULL_HDBC;
    }
    if (m_hEnv != SQL_NULL_HENV)
    {
        SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
        m_hEnv = SQL_NULL_HENV;
    }
    StopWorker();
    m_bOpen = false;
    m_bInTransaction = false;
}

bool Connection::IsDead() const
{
    if (!m_bOpen || m_pAbandoned)
        return true;
    SQLUINTEGER nDead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttrW(m_hDbc, SQL_ATTR_CONNECTION_DEAD, &nDead, 0, nullptr)) &&
        nDead == SQL_CD_TRUE;
}

bool Connection::Execute(const wchar_t* pszSql)
{
    Statement statement(*this, pszSql);
    return statement.Execute();
}

bool Connection::Begin(const wchar_t* pszBeginSql)
{
    if (m_bInTransaction || !m_bOpen)
        return false;
    if (pszBeginSql != nullptr)
    {
        if (!Execute(pszBeginSql))
            return false;
        m_bDriverTransaction = false;
    }
    else
    {
        if (!SQL_SUCCEEDED(SQLSetConnectAttrW(m_hDbc, SQL_ATTR_AUTOCOMMIT,
                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)), 0)))
        {
            m_error = ReadError(SQL_HANDLE_DBC, m_hDbc);
            return false;
        }
        m_bDriverTransaction = true;
    }
    m_bInTransaction = true;
    return true;
}

bool Connection::EndDriverTransaction(SQLSMALLINT nCompletion)
{
    bool bOk = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_hDbc, nCompletion));
    if (!bOk)
    {
        m_error = ReadError(SQL_HANDLE_DBC, m_hDbc);
        SQLEndTran(SQL_HANDLE_DBC, m_hDbc, SQL_ROLLBACK);
    }
    SQLSetConnectAttrW(
        m_hDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0);
    return bOk;
}

bool Connection::Commit()
{
    if (!m_bInTransaction)
        return false;
    if (m_bDriverTransaction)
    {
        m_bInTransaction = false;
        return EndDriverTransaction(SQL_COMMIT);
    }
    if (Execute(L"COMMIT"))
    {
        m_bInTransaction = false;
        return true;
    }
    // A commit that failed leaves nothing half done.
    Error error = m_error;
    Rollback();
    m_error = error;
    return false;
}

bool Connection::Rollback()
{
    if (!m_bInTransaction)
        return false;
    m_bInTransaction = false;
    if (m_bDriverTransaction)
        return EndDriverTransaction(SQL_ROLLBACK);
    return Execute(L"ROLLBACK");
}

Statement::Statement(Connection& connection, const wchar_t* pszSql) : m_connection(connection), m_strSql(pszSql)
{
    if (!connection.IsOpen())
    {
        connection.SetError({L"08003", 0, L"The database connection is not open."});
        return;
    }
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.GetHandle(), &m_hStmt)))
    {
        connection.SetError(ReadError(SQL_HANDLE_DBC, connection.GetHandle()));
        m_hStmt = SQL_NULL_HSTMT;
        return;
    }
    SQLSetStmtAttrW(m_hStmt, SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(connection.GetTimeout())), 0);
}

Statement::~Statement()
{
    if (m_hStmt != SQL_NULL_HSTMT)
        m_connection.FreeStatement(m_hStmt);
}

Statement& Statement::Bind(const std::wstring& strValue)
{
    Value value;
    value.bText = true;
    value.strText = strValue;
    m_pValues->push_back(std::move(value));
    return *this;
}

Statement& Statement::Bind(long long nValue)
{
    Value value;
    value.nInt = nValue;
    m_pValues->push_back(value);
    return *this;
}

Statement& Statement::BindNull()
{
    Value value;
    value.bText = true;
    value.bNull = true;
    m_pValues->push_back(value);
    return *this;
}

void Statement::ClearBindings()
{
    if (m_hStmt != SQL_NULL_HSTMT)
        SQLFreeStmt(m_hStmt, SQL_RESET_PARAMS);
    m_pValues->clear();
}

bool Statement::Fail(SQLRETURN nResult)
{
    if (SQL_SUCCEEDED(nResult) || nResult == SQL_NO_DATA)
        return false;
    m_connection.SetError(ReadError(SQL_HANDLE_STMT, m_hStmt));
    return true;
}

bool Statement::Execute()
{
    if (m_hStmt == SQL_NULL_HSTMT)
        return false;
    // What a caller reads after this statement is about this statement.
    m_connection.SetError(Error());
    if (m_bCursorOpen)
    {
        SQLFreeStmt(m_hStmt, SQL_CLOSE);
        m_bCursorOpen = false;
    }
    if (!m_bPrepared)
    {
        std::vector<SQLWCHAR> vecSql(m_strSql.begin(), m_strSql.end());
        vecSql.push_back(0);
        if (Fail(SQLPrepareW(m_hStmt, vecSql.data(), SQL_NTS)))
            return false;
        m_bPrepared = true;
    }
    SQLUSMALLINT nParameter = 1;
    for (Value& value : *m_pValues)
    {
        SQLRETURN nResult;
        if (value.bText)
        {
            // Even an empty string is sent with a column size of one: some
            // drivers refuse a size of zero.
            SQLULEN nColumnSize = value.strText.empty() ? 1 : value.strText.size();
            value.nIndicator = value.bNull ? SQL_NULL_DATA
                                           : static_cast<SQLLEN>(value.strText.size() * sizeof(SQLWCHAR));
            nResult = SQLBindParameter(m_hStmt, nParameter, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, nColumnSize, 0,
                value.bNull ? nullptr : const_cast<wchar_t*>(value.strText.c_str()),
                static_cast<SQLLEN>((value.strText.size() + 1) * sizeof(SQLWCHAR)), &value.nIndicator);
        }
        else
        {
            value.nIndicator = 0;
            nResult = SQLBindParameter(m_hStmt, nParameter, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                &value.nInt, 0, &value.nIndicator);
        }
        if (Fail(nResult))
            return false;
        ++nParameter;
    }
    SQLHSTMT hStmt = m_hStmt;
    SQLRETURN nResult = m_connection.RunBounded(
        hStmt, [hStmt] { return SQLExecute(hStmt); }, m_pValues);
    if (!m_connection.IsOpen())
    {
        // Abandoned: the handle is the connection's thread's now.
        m_hStmt = SQL_NULL_HSTMT;
        return false;
    }
    if (Fail(nResult))
        return false;
    m_bCursorOpen = true;
    return true;
}

bool Statement::Fetch()
{
    if (m_hStmt == SQL_NULL_HSTMT || !m_bCursorOpen)
        return false;
    SQLRETURN nResult = SQLFetch(m_hStmt);
    if (SQL_SUCCEEDED(nResult))
        return true;
    Fail(nResult);
    return false;
}

std::wstring Statement::GetText(int nColumn, bool* pbNull)
{
    std::wstring strText;
    if (pbNull != nullptr)
        *pbNull = false;
    SQLWCHAR szBuffer[256];
    for (;;)
    {
        SQLLEN nIndicator = 0;
        SQLRETURN nResult = SQLGetData(
            m_hStmt, static_cast<SQLUSMALLINT>(nColumn), SQL_C_WCHAR, szBuffer, sizeof(szBuffer), &nIndicator);
        if (nResult == SQL_NO_DATA || !SQL_SUCCEEDED(nResult))
        {
            Fail(nResult);
            break;
        }
        if (nIndicator == SQL_NULL_DATA)
        {
            if (pbNull != nullptr)
                *pbNull = true;
            break;
        }
        // Text longer than the buffer arrives in parts, each ended with a
        // terminator, and the driver reports truncation until the last.
        size_t nChars = 0;
        while (nChars < sizeof(szBuffer) / sizeof(szBuffer[0]) && szBuffer[nChars] != 0)
            ++nChars;
        strText.append(reinterpret_cast<const wchar_t*>(szBuffer), nChars);
        if (nResult == SQL_SUCCESS)
            break;
    }
    return strText;
}

long long Statement::GetInt(int nColumn, bool* pbNull)
{
    long long nValue = 0;
    SQLLEN nIndicator = 0;
    SQLRETURN nResult = SQLGetData(m_hStmt, static_cast<SQLUSMALLINT>(nColumn), SQL_C_SBIGINT, &nValue, 0, &nIndicator);
    bool bNull = !SQL_SUCCEEDED(nResult) || nIndicator == SQL_NULL_DATA;
    if (!SQL_SUCCEEDED(nResult))
        Fail(nResult);
    if (pbNull != nullptr)
        *pbNull = bNull;
    return bNull ? 0 : nValue;
}

long long Statement::GetRowCount()
{
    SQLLEN nRows = 0;
    if (m_hStmt == SQL_NULL_HSTMT || !SQL_SUCCEEDED(SQLRowCount(m_hStmt, &nRows)))
        return -1;
    return nRows;
}
} // namespace XTRmsOdbc
