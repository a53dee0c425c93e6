#include "XTRmsOdbc.h"

#include <vector>

namespace XTRmsOdbc
{
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
    std::wstring strQuoted = L"{";
    for (wchar_t ch : strValue)
    {
        strQuoted += ch;
        if (ch == L'}')
            strQuoted += L'}';
    }
    strQuoted += L'}';
    return strQuoted;
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
    m_bOpen = false;
    m_bInTransaction = false;
}

bool Connection::IsDead() const
{
    if (!m_bOpen)
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
        SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
}

Statement& Statement::Bind(const std::wstring& strValue)
{
    Value value;
    value.bText = true;
    value.strText = strValue;
    m_values.push_back(std::move(value));
    return *this;
}

Statement& Statement::Bind(long long nValue)
{
    Value value;
    value.nInt = nValue;
    m_values.push_back(value);
    return *this;
}

Statement& Statement::BindNull()
{
    Value value;
    value.bText = true;
    value.bNull = true;
    m_values.push_back(value);
    return *this;
}

void Statement::ClearBindings()
{
    if (m_hStmt != SQL_NULL_HSTMT)
        SQLFreeStmt(m_hStmt, SQL_RESET_PARAMS);
    m_values.clear();
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
    for (Value& value : m_values)
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
    SQLRETURN nResult = SQLExecute(m_hStmt);
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
