// The rights service's database: schema migrations, users, rights, roles,
// credentials and the chained audit trail, on SQLite or PostgreSQL over one
// ODBC connection. Every statement takes its values as parameters.
#pragma once

#include "XTRmsAuditQuery.h"
#include "XTRmsOdbc.h"
#include "XTRmsTypes.h"

#include <map>
#include <functional>
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
    // Unix time the password was set (0: before the store knew), and whether
    // its user must change it at the next login.
    long long nPasswordChanged = 0;
    bool bMustChange = false;
};

// A password the user had, kept so that it is not chosen again: the hash of
// the derived key with its salt and count, never the password.
struct XTRmsStoredHash
{
    std::wstring strHashHex;
    std::wstring strSaltHex;
    unsigned int nIterations = 0;
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
    static const int kLatestSchemaVersion = 7;
    // The bound of each statement of an upgrade.
    static const unsigned int kUpgradeTimeoutSeconds = 600;

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

    // The statements of the PostgreSQL upgrade to nVersion (4 and on), which
    // the database administrator's Migrate runs.
    void SetServerUpgrade(int nVersion, std::vector<std::wstring> vecStatements)
    {
        m_mapServerUpgrades[nVersion] = std::move(vecStatements);
    }

    // Write transactions: one writer at a time across every connection, so
    // counters, the audit chain and concurrent saves never tear.
    bool BeginWrite();
    bool Commit();
    void Rollback();

    // Definitions, read by all. WriteDefinitions replaces them as a whole;
    // call between BeginWrite and Commit.
    bool WriteDefinitions(
        const std::vector<XTRmsRestrictionDefinition>& vecRights, const std::vector<XTRmsRoleDefinition>& vecRoles);
    bool ReadDefinitions(
        std::vector<XTRmsRestrictionDefinition>* pvecRights, std::vector<XTRmsRoleDefinition>* pvecRoles);

    // A user without credentials from the columns name, full name, role, has
    // a password (0/1), failed logins, locked until, disabled (0/1), in that
    // order: what both engines' user lists give.
    static XTRmsStoredUser ReadUserSummary(XTRmsOdbc::Statement& statement);
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
    // When the password was set and whether it must be changed at the next
    // login.
    bool SetPasswordAge(const std::wstring& strUserName, long long nChanged, bool bMustChange);
    // The user's earlier passwords, newest first.
    bool ReadPasswordHistory(const std::wstring& strUserName, std::vector<XTRmsStoredHash>* pvecHashes);
    // Keeps a replaced password and drops all but the newest nKeep.
    bool PushPasswordHistory(
        const std::wstring& strUserName, const XTRmsStoredHash& hash, long long nChanged, unsigned int nKeep);
    // The rights whose use needs a signature; written with the definitions.
    bool ReadSignedRights(std::set<int>* psetRights);
    bool WriteSignedRights(const std::vector<int>& vecRights);
    bool SetDisabled(const std::wstring& strUserName, bool bDisabled);
    // Failed logins under a name that does not exist, keyed by a digest of
    // the name so that the typed text is never stored.
    bool ReadNameFailures(const std::wstring& strNameKey, unsigned int* pnFailed, long long* pnLockedUntil);
    bool SetNameFailures(const std::wstring& strNameKey, unsigned int nFailed, long long nLockedUntil);
    // Users who hold the right, or have the role: what a redefinition may
    // not drop.
    bool CountRightHolders(int nRight, long long* pnCount);
    bool CountRoleHolders(int nRole, long long* pnCount);
    // Users whose role is a super user's and who are not disabled.
    bool CountEnabledSuperUsers(long long* pnCount);
    // Appends one row to the audit trail, chained to the one before.
    bool AppendAudit(const std::wstring& strWorkstation, const std::wstring& strOsUser, const std::wstring& strActor,
        const std::wstring& strEvent, const std::wstring& strSubject, const std::wstring& strDetail);

    // The latest nCount rows, oldest first (0: all).
    bool ReadAudit(size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries);
    // At most nCount rows that match, newest first, all below
    // nBeforeSequence (0: from the newest).
    bool QueryAudit(const XTRmsAuditQuery& query, long long nBeforeSequence, size_t nCount,
        std::vector<XTRmsAuditEntry>* pvecEntries);
    // SQLite: makes or mends the trail's text index where this SQLite can
    // (FTS5 with its trigram tokenizer), once per opening; without it the
    // text filter reads the rows. Never fails: the store works either way.
    void PrepareAuditTextIndex();
    bool HasAuditTextIndex() const { return m_bAuditTextIndex; }
    // With nSinceSequence > 0 also checks that row's hash against a
    // checkpoint taken earlier. Rows and head are read in one transaction.
    bool VerifyAudit(bool* pbIntact, std::wstring* pstrProblem, long long nSinceSequence = 0,
        const std::wstring& strSinceHash = std::wstring());
    bool ReadAuditHead(long long* pnSequence, std::wstring* pstrHash);

    // One audit row from the columns seq, at_utc, workstation, os_user,
    // actor, event, subject, detail and (bWithHash) hash, in that order:
    // what the trail's table and the rights server's functions give.
    static XTRmsAuditEntry ReadAuditRow(XTRmsOdbc::Statement& statement, bool bWithHash = true);
    // The hash of one audit row, chained over the previous row's hash.
    static std::wstring AuditHash(const std::wstring& strPreviousHash, const XTRmsAuditEntry& entry);
    // The audit rows' time: "YYYY-MM-DDThh:mm:ssZ" of Unix seconds.
    static std::wstring UtcText(long long nUnixSeconds);
    static long long NowUnixSeconds();
    // The clock of the audit rows (the service's, so that a test or a
    // repeatable demo run sets one clock for all); the system's by default.
    void SetClock(std::function<long long()> fnClock) { m_fnClock = std::move(fnClock); }

private:
    // How a page's query uses the text index: not at all, every candidate
    // newest first, or only the newest few thousand.
    enum class AuditTextUse
    {
        None,
        AllCandidates,
        NewestCandidates
    };
    bool ReadAuditPage(const XTRmsAuditQuery& query, long long nBeforeSequence, size_t nCount, AuditTextUse nTextUse,
        std::vector<XTRmsAuditEntry>* pvecEntries);
    // The text's candidates below nBeforeSequence, counted up to the most
    // the index gives on its own.
    bool CountAuditTextCandidates(const XTRmsAuditQuery& query, long long nBeforeSequence, long long* pnCount);
    bool ReadAuditTextState(bool* pbTable, long long* pnTriggers);
    bool AuditTextIndexAnswers();
    bool TableExists(const wchar_t* pszTable, bool* pbExists);
    bool ApplyMigration(int nVersion);
    bool RehashStoredPasswords();
    // SELECT COUNT(*) with one number as its parameter.
    bool CountRows(const wchar_t* pszSql, long long nValue, long long* pnCount);

    XTRmsEngine m_nEngine;
    std::unique_ptr<XTRmsOdbc::Connection> m_pConnection;
    std::function<long long()> m_fnClock = &XTRmsStore::NowUnixSeconds;
    std::map<int, std::vector<std::wstring>> m_mapServerUpgrades;
    bool m_bAuditTextIndex = false;
};

// One write transaction that rolls back unless it was committed, on every
// way out of the scope.
class XTRmsScopedTransaction
{
public:
    explicit XTRmsScopedTransaction(XTRmsStore& store) : m_store(store), m_bOpen(store.BeginWrite()) {}
    ~XTRmsScopedTransaction()
    {
        if (m_bOpen)
            m_store.Rollback();
    }
    XTRmsScopedTransaction(const XTRmsScopedTransaction&) = delete;
    XTRmsScopedTransaction& operator=(const XTRmsScopedTransaction&) = delete;

    bool IsOpen() const { return m_bOpen; }
    [[nodiscard]] bool Commit()
    {
        if (!m_bOpen)
            return false;
        m_bOpen = false;
        return m_store.Commit();
    }

private:
    XTRmsStore& m_store;
    bool m_bOpen;
};
