// The rights service's database: schema migrations, users, rights, roles,
// credentials and the chained audit trail, on SQLite or PostgreSQL over one
// ODBC connection. Every statement takes its values as parameters.
#pragma once

#include "XTRmsOdbc.h"
#include "XTRmsService.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A user as stored, with or without the credential columns.
struct XTRmsStoredUser
{
    std::wstring strUserName;
    std::wstring strFullName;
    int nRole = 0;
    std::wstring strHashHex; // empty: no password set
    std::wstring strSaltHex;
    unsigned int nIterations = 0;
    unsigned int nFailedLogins = 0;
    // 0 not locked; a positive value the Unix time the lock ends; -1 until
    // an administrator unlocks.
    long long nLockedUntil = 0;
    bool bDisabled = false;
    std::set<int> setRights;
};

// What happened when a store was opened; the service maps it to the codes
// the façade understands.
enum class XTRmsOpenResult
{
    Ok,
    NotFound,       // the SQLite file does not exist
    AddressInvalid, // the server address or the path cannot be used
    Unreachable,    // host unknown or connection refused
    AuthRefused,    // the database refused the configured credentials
    Timeout,        // no answer within the bound
    Unreadable,     // connected, but the store cannot be read or migrated
    SchemaNewer     // written by a newer service
};

class XTRmsStore
{
public:
    static const int kLatestSchemaVersion = 3;

    XTRmsStore(XTRmsEngine nEngine, std::unique_ptr<XTRmsOdbc::Connection> pConnection);

    XTRmsEngine GetEngine() const { return m_nEngine; }
    XTRmsOdbc::Connection& GetConnection() { return *m_pConnection; }
    // The last database error as a sentence for the administrator.
    std::wstring GetLastErrorText() const;

    // Schema. ReadSchemaVersion gives 0 for a database without our tables.
    bool ReadSchemaVersion(int* pnVersion);
    // Applies the migrations after the current version up to nTarget, each
    // in its own transaction under the store's write lock.
    bool Migrate(int nTarget);

    // Write transactions: one writer at a time across every connection, so
    // counters, the audit chain and concurrent saves never tear.
    bool BeginWrite();
    bool Commit();
    void Rollback();

    // Definitions: written from the host's configuration, read by all.
    bool WriteDefinitions(
        const std::vector<XTRmsRestrictionDefinition>& vecRights, const std::vector<XTRmsRoleDefinition>& vecRoles);
    bool ReadDefinitions(
        std::vector<XTRmsRestrictionDefinition>* pvecRights, std::vector<XTRmsRoleDefinition>* pvecRoles);

    // Users. ReadUsers leaves the credential columns empty.
    bool ReadUsers(std::vector<XTRmsStoredUser>* pvecUsers);
    // False on a database error; *pbFound tells whether the user exists.
    bool ReadUser(const std::wstring& strUserName, XTRmsStoredUser* pUser, bool* pbFound);

    // Changes; call between BeginWrite and Commit.
    bool InsertUser(const XTRmsStoredUser& user);
    // *pbRemoved is false when there was no such user.
    bool DeleteUser(const std::wstring& strUserName, bool* pbRemoved);
    bool SetRight(const std::wstring& strUserName, int nRight, bool bAllowed);
    bool SetUserFields(const std::wstring& strUserName, const std::wstring& strFullName, int nRole, bool bDisabled);
    bool SetPassword(const std::wstring& strUserName, const std::wstring& strHashHex, const std::wstring& strSaltHex,
        unsigned int nIterations);
    bool SetLockState(const std::wstring& strUserName, unsigned int nFailedLogins, long long nLockedUntil);
    bool SetDisabled(const std::wstring& strUserName, bool bDisabled);
    // Appends one row to the audit trail, chained to the one before.
    bool AppendAudit(const std::wstring& strWorkstation, const std::wstring& strOsUser, const std::wstring& strActor,
        const std::wstring& strEvent, const std::wstring& strSubject, const std::wstring& strDetail);

    // The latest nCount rows, oldest first (0: all).
    bool ReadAudit(size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries);
    bool VerifyAudit(bool* pbIntact, std::wstring* pstrProblem);

    // The hash of one audit row, chained over the previous row's hash.
    static std::wstring AuditHash(const std::wstring& strPreviousHash, const XTRmsAuditEntry& entry);
    static std::wstring NowUtcText();
    static long long NowUnixSeconds();

private:
    bool TableExists(const wchar_t* pszTable, bool* pbExists);
    bool ApplyMigration(int nVersion);

    XTRmsEngine m_nEngine;
    std::unique_ptr<XTRmsOdbc::Connection> m_pConnection;
};
