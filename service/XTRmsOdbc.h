// A small RAII layer over ODBC handles: a connection with bounded waits and
// transactions, and statements whose values always travel as bound
// parameters, never as SQL text.
#pragma once

#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace XTRmsOdbc
{
// The first diagnostic record of a failed call.
struct Error
{
    std::wstring strState; // SQLSTATE, e.g. 08001
    long nNative = 0;
    std::wstring strMessage;
};

// Quotes a connection-string value in braces (a '}' inside is doubled), so
// that a host name, path or password cannot add attributes of its own.
std::wstring QuoteValue(const std::wstring& strValue);
// The value between chOpen and chClose with each chClose inside doubled: the
// quoting of connection strings and of SQLite's full-text phrases.
std::wstring Enclose(const std::wstring& strValue, wchar_t chOpen, wchar_t chClose);

// The names of the ODBC drivers installed for this process's bitness, as the
// driver manager lists them; false when it cannot be asked.
bool InstalledDrivers(std::vector<std::wstring>* pvecDrivers);

// Under Wine the drivers are native programs that read Unix paths: a Windows
// path is translated there; on Windows it is returned unchanged.
std::wstring DriverPath(const std::wstring& strWindowsPath);

struct BoundedCall;

class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects without prompting; the login and every later statement are
    // bounded by nTimeoutSeconds. The caller wipes its connection string.
    bool Open(const std::wstring& strConnectionString, unsigned int nTimeoutSeconds);
    void Close();
    bool IsOpen() const { return m_bOpen; }
    // True when the driver knows the connection is gone (the server ended it
    // or the network dropped it), whatever SQLSTATE the failure carried.
    bool IsDead() const;
    unsigned int GetTimeout() const { return m_nTimeoutSeconds; }
    // For statements made from now on (an upgrade's long ones).
    void SetTimeout(unsigned int nTimeoutSeconds) { m_nTimeoutSeconds = nTimeoutSeconds == 0 ? 1 : nTimeoutSeconds; }
    const Error& GetLastError() const { return m_error; }

    // A statement without values (DDL, pragmas, transaction control).
    bool Execute(const wchar_t* pszSql);

    // A transaction: with a statement (SQLite's BEGIN IMMEDIATE, which takes
    // the write lock at once), or without one through the driver manager
    // (autocommit off until Commit or Rollback).
    bool Begin(const wchar_t* pszBeginSql = nullptr);
    bool Commit();
    bool Rollback();
    bool InTransaction() const { return m_bInTransaction; }

    SQLHDBC GetHandle() const { return m_hDbc; }
    void SetError(const Error& error) { m_error = error; }

    // Runs a call that waits on the database (a statement's execution) on the
    // connection's own thread, and waits for it no longer than the bound plus
    // a margin: the server's statement timeout and the driver's query timeout
    // come first, this catches a server or network that stops answering at
    // all. A call that overstays leaves the connection dead (IsDead); its
    // thread keeps the handles and frees them once the driver lets go, and is
    // joined later, never detached. pKeepAlive holds what the driver may
    // still read (bound values) until then.
    SQLRETURN RunBounded(SQLHSTMT hStmt, const std::function<SQLRETURN()>& fnCall, std::shared_ptr<void> pKeepAlive);
    // Off: calls run on the caller's thread (a local file's own timeouts
    // bound them).
    void SetCallsBounded(bool bBounded) { m_bCallsBounded = bBounded; }
    // A statement's handle that its owner no longer needs; after an
    // overstayed call it is the connection's thread that frees it.
    void FreeStatement(SQLHSTMT hStmt);
    // The extra time given beyond the bound before a call is abandoned.
    static const unsigned int kAbandonMarginSeconds = 1;

private:
    bool EndDriverTransaction(SQLSMALLINT nCompletion);
    void StopWorker();

    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    bool m_bOpen = false;
    bool m_bInTransaction = false;
    bool m_bDriverTransaction = false;
    unsigned int m_nTimeoutSeconds = 5;
    Error m_error;
    std::shared_ptr<BoundedCall> m_pWorker;
    std::thread m_worker;
    // Set once a call overstayed: the handles belong to the worker now.
    std::shared_ptr<BoundedCall> m_pAbandoned;
    bool m_bCallsBounded = true;
};

class Statement
{
public:
    Statement(Connection& connection, const wchar_t* pszSql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters in the order of the '?' marks; bound when Execute runs.
    Statement& Bind(const std::wstring& strValue);
    Statement& Bind(long long nValue);
    Statement& BindNull();

    // Runs the statement; rows then come with Fetch. The values bound stay
    // for a repeated Execute until ClearBindings.
    bool Execute();
    bool Fetch();
    void ClearBindings();

    std::wstring GetText(int nColumn, bool* pbNull = nullptr);
    long long GetInt(int nColumn, bool* pbNull = nullptr);
    // Rows changed by the last INSERT, UPDATE or DELETE.
    long long GetRowCount();

    bool IsValid() const { return m_hStmt != SQL_NULL_HSTMT; }

private:
    struct Value
    {
        bool bText = false;
        bool bNull = false;
        std::wstring strText;
        long long nInt = 0;
        SQLLEN nIndicator = 0;
    };

    bool Fail(SQLRETURN nResult);

    Connection& m_connection;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
    std::wstring m_strSql;
    bool m_bPrepared = false;
    bool m_bCursorOpen = false;
    // A deque keeps each value's address while more are added; shared, so
    // that a call the connection abandoned can keep them alive.
    std::shared_ptr<std::deque<Value>> m_pValues = std::make_shared<std::deque<Value>>();
};

Error ReadError(SQLSMALLINT nHandleType, SQLHANDLE hHandle);
} // namespace XTRmsOdbc
