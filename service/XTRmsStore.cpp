#include "XTRmsStore.h"

#include "XTRmsCrypto.h"

#include <cwchar>

namespace
{
// One schema for both engines: plain SQL types that SQLite and PostgreSQL
// read alike. Each version is applied once, in order, in one transaction.
const wchar_t* const kMigration1[] = {
    L"CREATE TABLE xtrms_schema (id INTEGER PRIMARY KEY, version INTEGER NOT NULL)",
    L"INSERT INTO xtrms_schema (id, version) VALUES (1, 0)",
    L"CREATE TABLE xtrms_rights (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL)",
    L"CREATE TABLE xtrms_roles (id INTEGER PRIMARY KEY, name VARCHAR(200) NOT NULL, super_user INTEGER NOT NULL)",
    L"CREATE TABLE xtrms_role_rights (role_id INTEGER NOT NULL, right_id INTEGER NOT NULL, "
    L"PRIMARY KEY (role_id, right_id))",
    L"CREATE TABLE xtrms_users (name VARCHAR(256) PRIMARY KEY, full_name VARCHAR(256) NOT NULL, "
    L"role_id INTEGER NOT NULL, password_hash VARCHAR(128), password_salt VARCHAR(64), password_iterations INTEGER)",
    L"CREATE TABLE xtrms_user_rights (user_name VARCHAR(256) NOT NULL, right_id INTEGER NOT NULL, "
    L"PRIMARY KEY (user_name, right_id))",
};
// Lockout and disabled accounts came with version 2.
const wchar_t* const kMigration2[] = {
    L"ALTER TABLE xtrms_users ADD COLUMN failed_logins INTEGER NOT NULL DEFAULT 0",
    L"ALTER TABLE xtrms_users ADD COLUMN locked_until BIGINT NOT NULL DEFAULT 0",
    L"ALTER TABLE xtrms_users ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0",
};
// The audit trail and the head of its chain came with version 3.
const wchar_t* const kMigration3[] = {
    L"CREATE TABLE xtrms_audit (seq BIGINT PRIMARY KEY, at_utc VARCHAR(32) NOT NULL, "
    L"workstation VARCHAR(256) NOT NULL, os_user VARCHAR(256) NOT NULL, actor VARCHAR(256) NOT NULL, "
    L"event VARCHAR(64) NOT NULL, subject VARCHAR(256) NOT NULL, detail VARCHAR(512) NOT NULL, "
    L"hash VARCHAR(64) NOT NULL)",
    L"CREATE TABLE xtrms_audit_head (id INTEGER PRIMARY KEY, seq BIGINT NOT NULL, hash VARCHAR(64) NOT NULL)",
    L"INSERT INTO xtrms_audit_head (id, seq, hash) VALUES (1, 0, '')",
};

// Failed logins under names that do not exist count and lock like real
// ones, so that lockout tells nothing about which names exist; stored
// passwords became the SHA-256 of the derived key (rewritten by the upgrade).
const wchar_t* const kMigration4[] = {
    L"CREATE TABLE xtrms_name_failures (name_key VARCHAR(64) PRIMARY KEY, "
    L"failed_logins INTEGER NOT NULL DEFAULT 0, locked_until BIGINT NOT NULL DEFAULT 0)",
};

// The trail reviewed on screen: a page of the newest rows that match is
// read through an index, whatever the filter. A rights server gets the same
// indexes from its own script.
const wchar_t* const kMigration6[] = {
    L"CREATE INDEX xtrms_audit_event ON xtrms_audit (event, seq)",
    L"CREATE INDEX xtrms_audit_actor ON xtrms_audit (lower(actor), seq)",
    L"CREATE INDEX xtrms_audit_subject ON xtrms_audit (lower(subject), seq)",
    L"CREATE INDEX xtrms_audit_time ON xtrms_audit (at_utc, seq)",
};
// The password lifecycle (age, must change, history) and the rights that
// need a signature came with version 7.
const wchar_t* const kMigration7[] = {
    L"ALTER TABLE xtrms_users ADD COLUMN password_changed BIGINT NOT NULL DEFAULT 0",
    L"ALTER TABLE xtrms_users ADD COLUMN must_change INTEGER NOT NULL DEFAULT 0",
    L"CREATE TABLE xtrms_password_history (user_name VARCHAR(256) NOT NULL, changed BIGINT NOT NULL, "
    L"password_hash VARCHAR(128) NOT NULL, password_salt VARCHAR(64) NOT NULL, password_iterations INTEGER NOT NULL)",
    L"CREATE TABLE xtrms_signed_rights (right_id INTEGER PRIMARY KEY)",
};

struct Migration
{
    const wchar_t* const* ppszStatements;
    size_t nCount;
    // Statements a rights server's script carries in its own form.
    bool bSqliteOnly = false;
};

const Migration kMigrations[] = {
    {kMigration1, sizeof(kMigration1) / sizeof(kMigration1[0])},
    {kMigration2, sizeof(kMigration2) / sizeof(kMigration2[0])},
    {kMigration3, sizeof(kMigration3) / sizeof(kMigration3[0])},
    {kMigration4, sizeof(kMigration4) / sizeof(kMigration4[0])},
    // Version 5 changed nothing in a SQLite file; on a rights server it
    // added the administrator's redefinition (its own script).
    {nullptr, 0},
    {kMigration6, sizeof(kMigration6) / sizeof(kMigration6[0]), true},
    {kMigration7, sizeof(kMigration7) / sizeof(kMigration7[0]), true},
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == XTRmsStore::kLatestSchemaVersion,
    "one migration per schema version");

const wchar_t* const kAuditColumns = L"seq, at_utc, workstation, os_user, actor, event, subject, detail, hash";

// The audit rows' texts in a trigram index, so that a text that few rows
// hold is found without reading every field of every row. SQLite's FTS5
// keeps the trigrams only; the rows stay in xtrms_audit, the one table the
// chain and its verification know. Optional: a SQLite without FTS5 or its
// trigram tokenizer reads the rows as before.
const wchar_t* const kAuditTextTable =
    L"CREATE VIRTUAL TABLE xtrms_audit_text USING fts5(at_utc, workstation, os_user, actor, event, subject, detail, "
    L"content = 'xtrms_audit', content_rowid = 'seq', tokenize = 'trigram')";
const wchar_t* const kAuditTextTriggerNames[] = {
    L"xtrms_audit_text_insert", L"xtrms_audit_text_update", L"xtrms_audit_text_delete"};
const size_t kAuditTextTriggerCount = sizeof(kAuditTextTriggerNames) / sizeof(kAuditTextTriggerNames[0]);

// The index is kept current on every change of the trail, also one made
// behind the service's back, so that a review finds a forged row like any
// other. External content: a row leaves the index with the texts it had.
std::vector<std::wstring> AuditTextTriggers()
{
    auto texts = [](const wchar_t* pszRow) {
        std::wstring strValues;
        for (const wchar_t* pszColumn :
            {L"at_utc", L"workstation", L"os_user", L"actor", L"event", L"subject", L"detail"})
            strValues += std::wstring(L", ") + pszRow + L"." + pszColumn;
        return strValues;
    };
    const std::wstring strColumns = L"at_utc, workstation, os_user, actor, event, subject, detail";
    const std::wstring strAdd = L"INSERT INTO xtrms_audit_text (rowid, " + strColumns + L") VALUES (new.seq" +
        texts(L"new") + L"); ";
    const std::wstring strRemove = L"INSERT INTO xtrms_audit_text (xtrms_audit_text, rowid, " + strColumns +
        L") VALUES ('delete', old.seq" + texts(L"old") + L"); ";
    return {L"CREATE TRIGGER xtrms_audit_text_insert AFTER INSERT ON xtrms_audit BEGIN " + strAdd + L"END",
        L"CREATE TRIGGER xtrms_audit_text_update AFTER UPDATE ON xtrms_audit BEGIN " + strRemove + strAdd + L"END",
        L"CREATE TRIGGER xtrms_audit_text_delete AFTER DELETE ON xtrms_audit BEGIN " + strRemove + L"END"};
}

// How many of a text's newest candidates the index gives before a filter
// beside the text is left to its own index: a few milliseconds' worth, a
// page of 200 where the filter passes one candidate in five.
const long long kAuditTextCandidates = 1000;

// The trigram index matches nothing shorter than three characters.
bool IndexableText(const std::wstring& strText)
{
    size_t nCharacters = 0;
    for (wchar_t ch : strText)
    {
        if (ch < 0xDC00 || ch > 0xDFFF) // a surrogate pair is one character
            ++nCharacters;
    }
    return nCharacters >= 3;
}

// The text as one FTS5 phrase: quoted, its own quotes doubled, so that no
// character of it is query syntax.
std::wstring TextPhrase(const std::wstring& strText)
{
    return XTRmsOdbc::Enclose(strText, L'"', L'"');
}

// A longer statement bound for one scope: an upgrade, or an index filled
// from the whole trail, outlasts a workstation's bound.
class LongerBound
{
public:
    explicit LongerBound(XTRmsOdbc::Connection& connection)
        : m_connection(connection), m_nSaved(connection.GetTimeout())
    {
        m_connection.SetTimeout(XTRmsStore::kUpgradeTimeoutSeconds);
    }
    ~LongerBound() { m_connection.SetTimeout(m_nSaved); }
    LongerBound(const LongerBound&) = delete;
    LongerBound& operator=(const LongerBound&) = delete;

private:
    XTRmsOdbc::Connection& m_connection;
    unsigned int m_nSaved;
};
} // namespace

XTRmsAuditEntry XTRmsStore::ReadAuditRow(XTRmsOdbc::Statement& statement, bool bWithHash)
{
    XTRmsAuditEntry entry;
    entry.nSequence = statement.GetInt(1);
    entry.strTimeUtc = statement.GetText(2);
    entry.strWorkstation = statement.GetText(3);
    entry.strOsUser = statement.GetText(4);
    entry.strActor = statement.GetText(5);
    entry.strEvent = statement.GetText(6);
    entry.strSubject = statement.GetText(7);
    entry.strDetail = statement.GetText(8);
    if (bWithHash)
        entry.strHash = statement.GetText(9);
    return entry;
}

XTRmsStore::XTRmsStore(XTRmsEngine nEngine, std::unique_ptr<XTRmsOdbc::Connection> pConnection)
    : m_nEngine(nEngine), m_pConnection(std::move(pConnection))
{
}

std::wstring XTRmsStore::GetLastErrorText() const
{
    const XTRmsOdbc::Error& error = m_pConnection->GetLastError();
    return error.strMessage + L" (SQLSTATE " + error.strState + L")";
}

bool XTRmsStore::TableExists(const wchar_t* pszTable, bool* pbExists)
{
    XTRmsOdbc::Statement statement(*m_pConnection,
        m_nEngine == XTRmsEngine::Sqlite
            ? L"SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = ?"
            : L"SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
              L"AND table_name = ?");
    statement.Bind(std::wstring(pszTable));
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pbExists = statement.GetInt(1) > 0;
    return true;
}

bool XTRmsStore::ReadSchemaVersion(int* pnVersion)
{
    if (m_nEngine == XTRmsEngine::Postgres)
    {
        // From version 4 the tables are out of a workstation's reach and
        // the version comes from the service's own function.
        XTRmsOdbc::Statement functions(
            *m_pConnection, L"SELECT CASE WHEN to_regprocedure('xtrms.schema_version()') IS NULL THEN 0 ELSE 1 END");
        if (!functions.Execute() || !functions.Fetch())
            return false;
        if (functions.GetInt(1) != 0)
        {
            XTRmsOdbc::Statement version(*m_pConnection, L"SELECT xtrms.schema_version()");
            if (!version.Execute() || !version.Fetch())
                return false;
            *pnVersion = static_cast<int>(version.GetInt(1));
            return true;
        }
    }
    bool bExists = false;
    if (!TableExists(L"xtrms_schema", &bExists))
        return false;
    if (!bExists)
    {
        *pnVersion = 0;
        return true;
    }
    XTRmsOdbc::Statement statement(*m_pConnection, L"SELECT version FROM xtrms_schema WHERE id = 1");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnVersion = static_cast<int>(statement.GetInt(1));
    return true;
}

bool XTRmsStore::ApplyMigration(int nVersion)
{
    const Migration& migration = kMigrations[nVersion - 1];
    for (size_t i = 0; i < (migration.bSqliteOnly && m_nEngine == XTRmsEngine::Postgres ? 0 : migration.nCount); ++i)
    {
        if (!m_pConnection->Execute(migration.ppszStatements[i]))
            return false;
    }
    // From version 4 a rights server's upgrade is a script of its own (the
    // first moves the tables into the owner's schema), which records the
    // version itself.
    if (nVersion >= 4 && m_nEngine == XTRmsEngine::Postgres)
    {
        auto it = m_mapServerUpgrades.find(nVersion);
        if (it == m_mapServerUpgrades.end() || it->second.empty())
        {
            m_pConnection->SetError({L"HY000", 0,
                L"The rights server's upgrade to version " + std::to_wstring(nVersion) + L" is missing."});
            return false;
        }
        for (const std::wstring& strStatement : it->second)
        {
            if (!m_pConnection->Execute(strStatement.c_str()))
                return false;
        }
        return true;
    }
    if (nVersion == 4 && !RehashStoredPasswords())
        return false;
    // Passwords stored before their age was kept count from the upgrade.
    if (nVersion == 7)
    {
        XTRmsOdbc::Statement age(*m_pConnection, L"UPDATE xtrms_users SET password_changed = ?");
        age.Bind(m_fnClock());
        if (!age.Execute())
            return false;
    }
    XTRmsOdbc::Statement statement(*m_pConnection, L"UPDATE xtrms_schema SET version = ? WHERE id = 1");
    statement.Bind(static_cast<long long>(nVersion));
    return statement.Execute();
}

bool XTRmsStore::Migrate(int nTarget)
{
    // An upgrade rewrites every stored hash and rekeys the whole trail.
    LongerBound longer(*m_pConnection);
    for (;;)
    {
        if (!BeginWrite())
            return false;
        // Read under the lock: another workstation may have migrated first.
        int nVersion = 0;
        if (!ReadSchemaVersion(&nVersion))
        {
            Rollback();
            return false;
        }
        if (nVersion >= nTarget)
            return Commit();
        if (!ApplyMigration(nVersion + 1))
        {
            Rollback();
            return false;
        }
        if (!Commit())
            return false;
    }
}

bool XTRmsStore::ReadAuditTextState(bool* pbTable, long long* pnTriggers)
{
    XTRmsOdbc::Statement state(*m_pConnection,
        L"SELECT (SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'xtrms_audit_text'), "
        L"(SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'xtrms_audit' AND name IN (?, ?, "
        L"?))");
    for (const wchar_t* pszTrigger : kAuditTextTriggerNames)
        state.Bind(std::wstring(pszTrigger));
    if (!state.Execute() || !state.Fetch())
        return false;
    *pbTable = state.GetInt(1) > 0;
    *pnTriggers = state.GetInt(2);
    return true;
}

bool XTRmsStore::AuditTextIndexAnswers()
{
    // Fails where this SQLite has no FTS5 or no trigram tokenizer.
    XTRmsOdbc::Statement probe(
        *m_pConnection, L"SELECT rowid FROM xtrms_audit_text WHERE xtrms_audit_text MATCH '\"xtrms\"' LIMIT 1");
    return probe.Execute();
}

void XTRmsStore::PrepareAuditTextIndex()
{
    m_bAuditTextIndex = false;
    if (m_nEngine != XTRmsEngine::Sqlite)
        return;
    bool bTable = false;
    long long nTriggers = 0;
    if (!ReadAuditTextState(&bTable, &nTriggers))
        return;
    if (bTable && nTriggers == static_cast<long long>(kAuditTextTriggerCount) && AuditTextIndexAnswers())
    {
        m_bAuditTextIndex = true;
        return;
    }
    // Made, or mended, under the write lock and looked at again there:
    // another process may be at it. Filling the index reads the whole trail.
    LongerBound longer(*m_pConnection);
    XTRmsScopedTransaction transaction(*this);
    if (!transaction.IsOpen() || !ReadAuditTextState(&bTable, &nTriggers))
        return;
    const bool bUsable = bTable ? AuditTextIndexAnswers() : m_pConnection->Execute(kAuditTextTable);
    if (bUsable && nTriggers == static_cast<long long>(kAuditTextTriggerCount))
    {
        m_bAuditTextIndex = transaction.Commit();
        return;
    }
    for (const wchar_t* pszTrigger : kAuditTextTriggerNames)
    {
        if (!m_pConnection->Execute((std::wstring(L"DROP TRIGGER IF EXISTS ") + pszTrigger).c_str()))
            return;
    }
    if (!bUsable)
    {
        // Triggers into an index this SQLite cannot write would refuse
        // every new audit row: the store goes on without the index.
        (void)transaction.Commit();
        return;
    }
    // Rows written while the triggers were missing are indexed afresh.
    if (!m_pConnection->Execute(L"INSERT INTO xtrms_audit_text (xtrms_audit_text) VALUES ('rebuild')"))
        return;
    for (const std::wstring& strTrigger : AuditTextTriggers())
    {
        if (!m_pConnection->Execute(strTrigger.c_str()))
            return;
    }
    m_bAuditTextIndex = transaction.Commit();
}

bool XTRmsStore::BeginWrite()
{
    // SQLite takes the file's write lock at once. On PostgreSQL only the
    // administrator's upgrade writes directly; no lock a client could hold.
    if (m_nEngine == XTRmsEngine::Sqlite)
        return m_pConnection->Begin(L"BEGIN IMMEDIATE");
    return m_pConnection->Begin();
}

bool XTRmsStore::RehashStoredPasswords()
{
    // Without knowing any password: what was stored (the derived key) is
    // replaced by its hash, which is what logins now compare.
    std::vector<std::pair<std::wstring, std::wstring>> vecHashes;
    {
        XTRmsOdbc::Statement read(*m_pConnection,
            L"SELECT name, password_hash FROM xtrms_users "
            L"WHERE password_hash IS NOT NULL");
        if (!read.Execute())
            return false;
        while (read.Fetch())
        {
            std::wstring strName = read.GetText(1);
            vecHashes.emplace_back(strName, read.GetText(2));
        }
    }
    XTRmsOdbc::Statement update(*m_pConnection, L"UPDATE xtrms_users SET password_hash = ? WHERE name = ?");
    for (auto& entry : vecHashes)
    {
        std::vector<unsigned char> vecKey;
        std::wstring strHash;
        if (XTRmsCrypto::FromHex(entry.second, &vecKey))
        {
            strHash = XTRmsCrypto::ToHex(XTRmsCrypto::Sha256(vecKey.data(), vecKey.size()));
            XTRmsCrypto::Wipe(vecKey);
        }
        update.ClearBindings();
        update.Bind(strHash).Bind(entry.first);
        XTRmsCrypto::Wipe(entry.second);
        if (!update.Execute())
            return false;
    }
    return true;
}

bool XTRmsStore::ReadNameFailures(const std::wstring& strNameKey, unsigned int* pnFailed, long long* pnLockedUntil)
{
    *pnFailed = 0;
    *pnLockedUntil = 0;
    XTRmsOdbc::Statement read(
        *m_pConnection, L"SELECT failed_logins, locked_until FROM xtrms_name_failures WHERE name_key = ?");
    read.Bind(strNameKey);
    if (!read.Execute())
        return false;
    if (read.Fetch())
    {
        *pnFailed = static_cast<unsigned int>(read.GetInt(1));
        *pnLockedUntil = read.GetInt(2);
    }
    return true;
}

bool XTRmsStore::SetNameFailures(const std::wstring& strNameKey, unsigned int nFailed, long long nLockedUntil)
{
    XTRmsOdbc::Statement remove(*m_pConnection, L"DELETE FROM xtrms_name_failures WHERE name_key = ?");
    remove.Bind(strNameKey);
    if (!remove.Execute())
        return false;
    XTRmsOdbc::Statement insert(
        *m_pConnection, L"INSERT INTO xtrms_name_failures (name_key, failed_logins, locked_until) VALUES (?, ?, ?)");
    insert.Bind(strNameKey).Bind(static_cast<long long>(nFailed)).Bind(nLockedUntil);
    return insert.Execute();
}

bool XTRmsStore::CountRows(const wchar_t* pszSql, long long nValue, long long* pnCount)
{
    XTRmsOdbc::Statement count(*m_pConnection, pszSql);
    count.Bind(nValue);
    if (!count.Execute() || !count.Fetch())
        return false;
    *pnCount = count.GetInt(1);
    return true;
}

bool XTRmsStore::CountRightHolders(int nRight, long long* pnCount)
{
    return CountRows(L"SELECT COUNT(*) FROM xtrms_user_rights WHERE right_id = ?", nRight, pnCount);
}

bool XTRmsStore::CountRoleHolders(int nRole, long long* pnCount)
{
    return CountRows(L"SELECT COUNT(*) FROM xtrms_users WHERE role_id = ?", nRole, pnCount);
}

bool XTRmsStore::CountEnabledSuperUsers(long long* pnCount)
{
    XTRmsOdbc::Statement count(*m_pConnection,
        L"SELECT COUNT(*) FROM xtrms_users u JOIN xtrms_roles r ON r.id = u.role_id "
        L"WHERE r.super_user <> 0 AND u.disabled = 0");
    if (!count.Execute() || !count.Fetch())
        return false;
    *pnCount = count.GetInt(1);
    return true;
}

bool XTRmsStore::Commit()
{
    return m_pConnection->Commit();
}

void XTRmsStore::Rollback()
{
    XTRmsOdbc::Error error = m_pConnection->GetLastError();
    m_pConnection->Rollback();
    // The reason of the failure matters, not that of the rollback.
    m_pConnection->SetError(error);
}

bool XTRmsStore::WriteDefinitions(
    const std::vector<XTRmsRestrictionDefinition>& vecRights, const std::vector<XTRmsRoleDefinition>& vecRoles)
{
    XTRmsOdbc::Connection& connection = *m_pConnection;
    if (!connection.Execute(L"DELETE FROM xtrms_rights") || !connection.Execute(L"DELETE FROM xtrms_roles") ||
        !connection.Execute(L"DELETE FROM xtrms_role_rights"))
        return false;
    XTRmsOdbc::Statement insertRight(connection, L"INSERT INTO xtrms_rights (id, name) VALUES (?, ?)");
    for (const XTRmsRestrictionDefinition& right : vecRights)
    {
        insertRight.ClearBindings();
        insertRight.Bind(static_cast<long long>(right.GetId())).Bind(right.GetName());
        if (!insertRight.Execute())
            return false;
    }
    XTRmsOdbc::Statement insertRole(connection, L"INSERT INTO xtrms_roles (id, name, super_user) VALUES (?, ?, ?)");
    XTRmsOdbc::Statement insertRoleRight(
        connection, L"INSERT INTO xtrms_role_rights (role_id, right_id) VALUES (?, ?)");
    for (const XTRmsRoleDefinition& role : vecRoles)
    {
        insertRole.ClearBindings();
        insertRole.Bind(static_cast<long long>(role.nId)).Bind(role.strName).Bind(role.bSuperUser ? 1LL : 0LL);
        if (!insertRole.Execute())
            return false;
        for (int nRight : std::set<int>(role.vecRights.begin(), role.vecRights.end()))
        {
            insertRoleRight.ClearBindings();
            insertRoleRight.Bind(static_cast<long long>(role.nId)).Bind(static_cast<long long>(nRight));
            if (!insertRoleRight.Execute())
                return false;
        }
    }
    return true;
}

bool XTRmsStore::ReadDefinitions(
    std::vector<XTRmsRestrictionDefinition>* pvecRights, std::vector<XTRmsRoleDefinition>* pvecRoles)
{
    pvecRights->clear();
    pvecRoles->clear();
    XTRmsOdbc::Statement rights(*m_pConnection, L"SELECT id, name FROM xtrms_rights ORDER BY id");
    if (!rights.Execute())
        return false;
    while (rights.Fetch())
    {
        int nId = static_cast<int>(rights.GetInt(1));
        pvecRights->emplace_back(nId, rights.GetText(2));
    }
    XTRmsOdbc::Statement roles(*m_pConnection, L"SELECT id, name, super_user FROM xtrms_roles ORDER BY id");
    if (!roles.Execute())
        return false;
    std::map<int, size_t> mapRoleIndex;
    while (roles.Fetch())
    {
        XTRmsRoleDefinition role;
        role.nId = static_cast<Rms::RmsUserRole>(roles.GetInt(1));
        role.strName = roles.GetText(2);
        role.bSuperUser = roles.GetInt(3) != 0;
        mapRoleIndex[role.nId] = pvecRoles->size();
        pvecRoles->push_back(role);
    }
    XTRmsOdbc::Statement roleRights(
        *m_pConnection, L"SELECT role_id, right_id FROM xtrms_role_rights ORDER BY role_id, right_id");
    if (!roleRights.Execute())
        return false;
    while (roleRights.Fetch())
    {
        int nRole = static_cast<int>(roleRights.GetInt(1));
        int nRight = static_cast<int>(roleRights.GetInt(2));
        auto it = mapRoleIndex.find(nRole);
        if (it != mapRoleIndex.end())
            (*pvecRoles)[it->second].vecRights.push_back(nRight);
    }
    return true;
}

bool XTRmsStore::ReadUsers(std::vector<XTRmsStoredUser>* pvecUsers)
{
    pvecUsers->clear();
    XTRmsOdbc::Statement users(*m_pConnection,
        L"SELECT name, full_name, role_id, CASE WHEN password_hash IS NULL THEN 0 ELSE 1 END, "
        L"failed_logins, locked_until, disabled FROM xtrms_users");
    if (!users.Execute())
        return false;
    std::map<std::wstring, size_t> mapIndex;
    while (users.Fetch())
    {
        XTRmsStoredUser user = ReadUserSummary(users);
        mapIndex[user.strUserName] = pvecUsers->size();
        pvecUsers->push_back(std::move(user));
    }
    XTRmsOdbc::Statement rights(*m_pConnection, L"SELECT user_name, right_id FROM xtrms_user_rights");
    if (!rights.Execute())
        return false;
    while (rights.Fetch())
    {
        std::wstring strUser = rights.GetText(1);
        int nRight = static_cast<int>(rights.GetInt(2));
        auto it = mapIndex.find(strUser);
        if (it != mapIndex.end())
            (*pvecUsers)[it->second].setRights.insert(nRight);
    }
    return true;
}

XTRmsStoredUser XTRmsStore::ReadUserSummary(XTRmsOdbc::Statement& statement)
{
    XTRmsStoredUser user;
    user.strUserName = statement.GetText(1);
    user.strFullName = statement.GetText(2);
    user.nRole = static_cast<int>(statement.GetInt(3));
    // Only whether there is a hash travels here, never the hash.
    if (statement.GetInt(4) != 0)
        user.strHashHex = L"*";
    user.nFailedLogins = static_cast<unsigned int>(statement.GetInt(5));
    user.nLockedUntil = statement.GetInt(6);
    user.bDisabled = statement.GetInt(7) != 0;
    return user;
}

bool XTRmsStore::ReadUser(const std::wstring& strUserName, XTRmsStoredUser* pUser, bool* pbFound)
{
    *pbFound = false;
    XTRmsOdbc::Statement user(*m_pConnection,
        L"SELECT name, full_name, role_id, password_hash, password_salt, password_iterations, failed_logins, "
        L"locked_until, disabled, password_changed, must_change FROM xtrms_users WHERE name = ?");
    user.Bind(strUserName);
    if (!user.Execute())
        return false;
    if (!user.Fetch())
        return true;
    *pbFound = true;
    pUser->strUserName = user.GetText(1);
    pUser->strFullName = user.GetText(2);
    pUser->nRole = static_cast<int>(user.GetInt(3));
    pUser->strHashHex = user.GetText(4);
    pUser->strSaltHex = user.GetText(5);
    pUser->nIterations = static_cast<unsigned int>(user.GetInt(6));
    pUser->nFailedLogins = static_cast<unsigned int>(user.GetInt(7));
    pUser->nLockedUntil = user.GetInt(8);
    pUser->bDisabled = user.GetInt(9) != 0;
    pUser->nPasswordChanged = user.GetInt(10);
    pUser->bMustChange = user.GetInt(11) != 0;
    pUser->setRights.clear();
    XTRmsOdbc::Statement rights(*m_pConnection, L"SELECT right_id FROM xtrms_user_rights WHERE user_name = ?");
    rights.Bind(strUserName);
    if (!rights.Execute())
        return false;
    while (rights.Fetch())
        pUser->setRights.insert(static_cast<int>(rights.GetInt(1)));
    return true;
}

bool XTRmsStore::InsertUser(const XTRmsStoredUser& user)
{
    XTRmsOdbc::Statement insert(*m_pConnection,
        L"INSERT INTO xtrms_users (name, full_name, role_id, password_hash, password_salt, password_iterations, "
        L"failed_logins, locked_until, disabled, password_changed, must_change) VALUES (?, ?, ?, ?, ?, ?, 0, 0, ?, ?, "
        L"?)");
    insert.Bind(user.strUserName).Bind(user.strFullName).Bind(static_cast<long long>(user.nRole));
    if (user.strHashHex.empty())
        insert.BindNull().BindNull().Bind(0LL);
    else
        insert.Bind(user.strHashHex).Bind(user.strSaltHex).Bind(static_cast<long long>(user.nIterations));
    insert.Bind(user.bDisabled ? 1LL : 0LL).Bind(user.nPasswordChanged).Bind(user.bMustChange ? 1LL : 0LL);
    if (!insert.Execute())
        return false;
    for (int nRight : user.setRights)
    {
        if (!SetRight(user.strUserName, nRight, true))
            return false;
    }
    return true;
}

bool XTRmsStore::DeleteUser(const std::wstring& strUserName, bool* pbRemoved)
{
    XTRmsOdbc::Statement rights(*m_pConnection, L"DELETE FROM xtrms_user_rights WHERE user_name = ?");
    rights.Bind(strUserName);
    if (!rights.Execute())
        return false;
    XTRmsOdbc::Statement history(*m_pConnection, L"DELETE FROM xtrms_password_history WHERE user_name = ?");
    history.Bind(strUserName);
    if (!history.Execute())
        return false;
    XTRmsOdbc::Statement user(*m_pConnection, L"DELETE FROM xtrms_users WHERE name = ?");
    user.Bind(strUserName);
    if (!user.Execute())
        return false;
    *pbRemoved = user.GetRowCount() > 0;
    return true;
}

bool XTRmsStore::SetRight(const std::wstring& strUserName, int nRight, bool bAllowed)
{
    // Delete first, then insert when granted: the same in both engines, and
    // granting twice is no error.
    XTRmsOdbc::Statement remove(*m_pConnection, L"DELETE FROM xtrms_user_rights WHERE user_name = ? AND right_id = ?");
    remove.Bind(strUserName).Bind(static_cast<long long>(nRight));
    if (!remove.Execute())
        return false;
    if (!bAllowed)
        return true;
    XTRmsOdbc::Statement insert(*m_pConnection, L"INSERT INTO xtrms_user_rights (user_name, right_id) VALUES (?, ?)");
    insert.Bind(strUserName).Bind(static_cast<long long>(nRight));
    return insert.Execute();
}

bool XTRmsStore::SetUserFields(
    const std::wstring& strUserName, const std::wstring& strFullName, int nRole, bool bDisabled)
{
    XTRmsOdbc::Statement update(
        *m_pConnection, L"UPDATE xtrms_users SET full_name = ?, role_id = ?, disabled = ? WHERE name = ?");
    update.Bind(strFullName).Bind(static_cast<long long>(nRole)).Bind(bDisabled ? 1LL : 0LL).Bind(strUserName);
    return update.Execute();
}

bool XTRmsStore::SetPassword(const std::wstring& strUserName, const std::wstring& strHashHex,
    const std::wstring& strSaltHex, unsigned int nIterations)
{
    XTRmsOdbc::Statement update(*m_pConnection,
        L"UPDATE xtrms_users SET password_hash = ?, password_salt = ?, password_iterations = ? WHERE name = ?");
    update.Bind(strHashHex).Bind(strSaltHex).Bind(static_cast<long long>(nIterations)).Bind(strUserName);
    return update.Execute() && update.GetRowCount() == 1;
}

bool XTRmsStore::SetLockState(const std::wstring& strUserName, unsigned int nFailedLogins, long long nLockedUntil)
{
    XTRmsOdbc::Statement update(
        *m_pConnection, L"UPDATE xtrms_users SET failed_logins = ?, locked_until = ? WHERE name = ?");
    update.Bind(static_cast<long long>(nFailedLogins)).Bind(nLockedUntil).Bind(strUserName);
    return update.Execute() && update.GetRowCount() == 1;
}

bool XTRmsStore::SetDisabled(const std::wstring& strUserName, bool bDisabled)
{
    XTRmsOdbc::Statement update(*m_pConnection, L"UPDATE xtrms_users SET disabled = ? WHERE name = ?");
    update.Bind(bDisabled ? 1LL : 0LL).Bind(strUserName);
    return update.Execute() && update.GetRowCount() == 1;
}

std::wstring XTRmsStore::AuditHash(const std::wstring& strPreviousHash, const XTRmsAuditEntry& entry)
{
    // Every field with its length in front, so that no two rows give the
    // same text however their fields are cut.
    std::wstring strText = strPreviousHash;
    auto add = [&strText](const std::wstring& strField) {
        strText += L'|';
        strText += std::to_wstring(strField.size());
        strText += L':';
        strText += strField;
    };
    add(std::to_wstring(entry.nSequence));
    add(entry.strTimeUtc);
    add(entry.strWorkstation);
    add(entry.strOsUser);
    add(entry.strActor);
    add(entry.strEvent);
    add(entry.strSubject);
    add(entry.strDetail);
    return XTRmsCrypto::Sha256Hex(strText);
}

bool XTRmsStore::AppendAudit(const std::wstring& strWorkstation, const std::wstring& strOsUser,
    const std::wstring& strActor, const std::wstring& strEvent, const std::wstring& strSubject,
    const std::wstring& strDetail)
{
    XTRmsOdbc::Statement head(*m_pConnection, L"SELECT seq, hash FROM xtrms_audit_head WHERE id = 1");
    if (!head.Execute() || !head.Fetch())
        return false;
    XTRmsAuditEntry entry;
    entry.nSequence = head.GetInt(1) + 1;
    std::wstring strPrevious = head.GetText(2);
    entry.strTimeUtc = UtcText(m_fnClock());
    entry.strWorkstation = strWorkstation;
    entry.strOsUser = strOsUser;
    entry.strActor = strActor;
    entry.strEvent = strEvent;
    entry.strSubject = strSubject;
    entry.strDetail = strDetail;
    entry.strHash = AuditHash(strPrevious, entry);

    XTRmsOdbc::Statement insert(*m_pConnection,
        L"INSERT INTO xtrms_audit (seq, at_utc, workstation, os_user, actor, event, subject, detail, hash) "
        L"VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(entry.nSequence)
        .Bind(entry.strTimeUtc)
        .Bind(entry.strWorkstation)
        .Bind(entry.strOsUser)
        .Bind(entry.strActor)
        .Bind(entry.strEvent)
        .Bind(entry.strSubject)
        .Bind(entry.strDetail)
        .Bind(entry.strHash);
    if (!insert.Execute())
        return false;
    XTRmsOdbc::Statement update(*m_pConnection, L"UPDATE xtrms_audit_head SET seq = ?, hash = ? WHERE id = 1");
    update.Bind(entry.nSequence).Bind(entry.strHash);
    return update.Execute();
}

bool XTRmsStore::ReadAudit(size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries)
{
    pvecEntries->clear();
    std::wstring strSql = std::wstring(L"SELECT ") + kAuditColumns + L" FROM xtrms_audit ORDER BY seq DESC";
    if (nCount != 0)
        strSql += L" LIMIT ?";
    XTRmsOdbc::Statement statement(*m_pConnection, strSql.c_str());
    if (nCount != 0)
        statement.Bind(static_cast<long long>(nCount));
    if (!statement.Execute())
        return false;
    while (statement.Fetch())
        pvecEntries->push_back(ReadAuditRow(statement));
    std::vector<XTRmsAuditEntry> vecOldestFirst(pvecEntries->rbegin(), pvecEntries->rend());
    pvecEntries->swap(vecOldestFirst);
    return true;
}

bool XTRmsStore::QueryAudit(
    const XTRmsAuditQuery& query, long long nBeforeSequence, size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries)
{
    pvecEntries->clear();
    if (m_bAuditTextIndex && IndexableText(query.strText))
    {
        long long nCandidates = 0;
        if (!CountAuditTextCandidates(query, nBeforeSequence, &nCandidates))
            return false;
        // A text that few rows hold, or the text alone: its rows newest
        // first straight from the index, which stops when the page is full.
        const bool bOtherFilters = !query.strFromUtc.empty() || !query.strToUtc.empty() || !query.strUser.empty() ||
            !query.strEvent.empty();
        if (nCandidates < kAuditTextCandidates || !bOtherFilters)
            return ReadAuditPage(query, nBeforeSequence, nCount, AuditTextUse::AllCandidates, pvecEntries);
        // A text that many rows hold beside other filters: its newest rows
        // may fill the page; if they do not, the other filters' indexes
        // serve better than the rest of the text's rows.
        if (!ReadAuditPage(query, nBeforeSequence, nCount, AuditTextUse::NewestCandidates, pvecEntries))
            return false;
        if (pvecEntries->size() == nCount)
            return true;
        pvecEntries->clear();
    }
    return ReadAuditPage(query, nBeforeSequence, nCount, AuditTextUse::None, pvecEntries);
}

bool XTRmsStore::CountAuditTextCandidates(const XTRmsAuditQuery& query, long long nBeforeSequence, long long* pnCount)
{
    XTRmsOdbc::Statement count(*m_pConnection,
        nBeforeSequence > 0
            ? L"SELECT COUNT(*) FROM (SELECT rowid FROM xtrms_audit_text WHERE xtrms_audit_text MATCH ? "
              L"AND rowid < ? LIMIT ?)"
            : L"SELECT COUNT(*) FROM (SELECT rowid FROM xtrms_audit_text WHERE xtrms_audit_text MATCH ? "
              L"LIMIT ?)");
    count.Bind(TextPhrase(query.strText));
    if (nBeforeSequence > 0)
        count.Bind(nBeforeSequence);
    count.Bind(kAuditTextCandidates);
    if (!count.Execute() || !count.Fetch())
        return false;
    *pnCount = count.GetInt(1);
    return true;
}

bool XTRmsStore::ReadAuditPage(const XTRmsAuditQuery& query, long long nBeforeSequence, size_t nCount,
    AuditTextUse nTextUse, std::vector<XTRmsAuditEntry>* pvecEntries)
{
    pvecEntries->clear();
    // Only the conditions asked for, so that the planner picks the index
    // that serves them; every value is a parameter.
    std::wstring strSql =
        L"SELECT a.seq, a.at_utc, a.workstation, a.os_user, a.actor, a.event, a.subject, a.detail, "
        L"a.hash FROM ";
    const wchar_t* pszBefore = nBeforeSequence > 0 ? L" AND rowid < ?" : L"";
    switch (nTextUse)
    {
    case AuditTextUse::None:
        strSql += L"xtrms_audit a WHERE 1 = 1";
        break;
    case AuditTextUse::AllCandidates:
        // The index leads, newest first, so that the page ends the reading.
        strSql += std::wstring(
                      L"xtrms_audit_text t CROSS JOIN xtrms_audit a ON a.seq = t.rowid WHERE "
                      L"xtrms_audit_text MATCH ?") +
            (nBeforeSequence > 0 ? L" AND t.rowid < ?" : L"");
        break;
    case AuditTextUse::NewestCandidates:
        strSql += std::wstring(L"(SELECT rowid AS id FROM xtrms_audit_text WHERE xtrms_audit_text MATCH ?") +
            pszBefore + L" ORDER BY rowid DESC LIMIT ?) t CROSS JOIN xtrms_audit a ON a.seq = t.id WHERE 1 = 1";
        break;
    }
    if (nBeforeSequence > 0)
        strSql += L" AND a.seq < ?";
    if (!query.strFromUtc.empty())
        strSql += L" AND a.at_utc >= ?";
    if (!query.strToUtc.empty())
        strSql += L" AND a.at_utc <= ?";
    if (!query.strUser.empty())
        strSql += L" AND (lower(a.actor) = ? OR lower(a.subject) = ?)";
    if (!query.strEvent.empty())
        strSql += L" AND a.event = ?";
    // The index's candidates are checked like every row: the same rows with
    // the index as without, whatever its case folding does beyond ASCII.
    if (!query.strText.empty())
        strSql +=
            L" AND (instr(lower(a.at_utc), ?) > 0 OR instr(lower(a.workstation), ?) > 0 OR "
            L"instr(lower(a.os_user), ?) > 0 OR instr(lower(a.actor), ?) > 0 OR instr(lower(a.event), ?) > 0 OR "
            L"instr(lower(a.subject), ?) > 0 OR instr(lower(a.detail), ?) > 0)";
    strSql += nTextUse == AuditTextUse::AllCandidates ? L" ORDER BY t.rowid DESC LIMIT ?"
                                                      : L" ORDER BY a.seq DESC LIMIT ?";
    XTRmsOdbc::Statement statement(*m_pConnection, strSql.c_str());
    if (nTextUse != AuditTextUse::None)
    {
        statement.Bind(TextPhrase(query.strText));
        if (nBeforeSequence > 0)
            statement.Bind(nBeforeSequence);
        if (nTextUse == AuditTextUse::NewestCandidates)
            statement.Bind(kAuditTextCandidates);
    }
    if (nBeforeSequence > 0)
        statement.Bind(nBeforeSequence);
    if (!query.strFromUtc.empty())
        statement.Bind(query.strFromUtc);
    if (!query.strToUtc.empty())
        statement.Bind(query.strToUtc);
    if (!query.strUser.empty())
        statement.Bind(query.strUser).Bind(query.strUser);
    if (!query.strEvent.empty())
        statement.Bind(query.strEvent);
    for (int i = 0; i < (query.strText.empty() ? 0 : 7); ++i)
        statement.Bind(query.strText);
    statement.Bind(static_cast<long long>(nCount));
    if (!statement.Execute())
        return false;
    while (statement.Fetch())
        pvecEntries->push_back(ReadAuditRow(statement));
    return true;
}

bool XTRmsStore::ReadAuditHead(long long* pnSequence, std::wstring* pstrHash)
{
    XTRmsOdbc::Statement head(*m_pConnection, L"SELECT seq, hash FROM xtrms_audit_head WHERE id = 1");
    if (!head.Execute() || !head.Fetch())
        return false;
    *pnSequence = head.GetInt(1);
    *pstrHash = head.GetText(2);
    return true;
}

bool XTRmsStore::VerifyAudit(
    bool* pbIntact, std::wstring* pstrProblem, long long nSinceSequence, const std::wstring& strSinceHash)
{
    *pbIntact = false;
    // One snapshot for head and rows, or a writer between the two reads
    // would look like a broken chain.
    XTRmsScopedTransaction snapshot(*this);
    if (!snapshot.IsOpen())
        return false;
    long long nHeadSequence = 0;
    std::wstring strHeadHash;
    if (!ReadAuditHead(&nHeadSequence, &strHeadHash))
        return false;

    std::wstring strSql = std::wstring(L"SELECT ") + kAuditColumns + L" FROM xtrms_audit ORDER BY seq";
    XTRmsOdbc::Statement rows(*m_pConnection, strSql.c_str());
    if (!rows.Execute())
        return false;
    std::wstring strPrevious;
    long long nExpected = 1;
    bool bCheckpointSeen = nSinceSequence <= 0;
    while (rows.Fetch())
    {
        XTRmsAuditEntry entry = ReadAuditRow(rows);
        if (entry.nSequence != nExpected)
        {
            *pstrProblem = L"audit row " + std::to_wstring(nExpected) + L" is missing";
            return true;
        }
        if (AuditHash(strPrevious, entry) != entry.strHash)
        {
            *pstrProblem = L"audit row " + std::to_wstring(entry.nSequence) + L" was changed";
            return true;
        }
        if (entry.nSequence == nSinceSequence)
        {
            if (entry.strHash != strSinceHash)
            {
                *pstrProblem = L"audit row " + std::to_wstring(nSinceSequence) + L" does not match the checkpoint";
                return true;
            }
            bCheckpointSeen = true;
        }
        strPrevious = entry.strHash;
        ++nExpected;
    }
    if (nExpected - 1 != nHeadSequence || strPrevious != strHeadHash)
    {
        *pstrProblem = L"the audit trail ends at row " + std::to_wstring(nExpected - 1) + L" but its head is row " +
            std::to_wstring(nHeadSequence) + L": rows were removed or the head was changed";
        return true;
    }
    if (!bCheckpointSeen)
    {
        *pstrProblem = L"audit row " + std::to_wstring(nSinceSequence) + L" does not match the checkpoint";
        return true;
    }
    *pbIntact = true;
    pstrProblem->clear();
    return true;
}

std::wstring XTRmsStore::UtcText(long long nUnixSeconds)
{
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(nUnixSeconds + 11644473600LL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = value.LowPart;
    ft.dwHighDateTime = value.HighPart;
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&ft, &st);
    wchar_t szText[32];
    swprintf(szText, sizeof(szText) / sizeof(szText[0]), L"%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth,
        st.wDay, st.wHour, st.wMinute, st.wSecond);
    return szText;
}

long long XTRmsStore::NowUnixSeconds()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER value;
    value.LowPart = ft.dwLowDateTime;
    value.HighPart = ft.dwHighDateTime;
    // 100-ns intervals since 1601 to seconds since 1970.
    return static_cast<long long>(value.QuadPart / 10000000ULL) - 11644473600LL;
}

bool XTRmsStore::SetPasswordAge(const std::wstring& strUserName, long long nChanged, bool bMustChange)
{
    XTRmsOdbc::Statement update(
        *m_pConnection, L"UPDATE xtrms_users SET password_changed = ?, must_change = ? WHERE name = ?");
    update.Bind(nChanged).Bind(bMustChange ? 1LL : 0LL).Bind(strUserName);
    return update.Execute();
}

bool XTRmsStore::ReadPasswordHistory(const std::wstring& strUserName, std::vector<XTRmsStoredHash>* pvecHashes)
{
    pvecHashes->clear();
    XTRmsOdbc::Statement read(*m_pConnection,
        L"SELECT password_hash, password_salt, password_iterations FROM xtrms_password_history "
        L"WHERE user_name = ? ORDER BY rowid DESC");
    read.Bind(strUserName);
    if (!read.Execute())
        return false;
    while (read.Fetch())
    {
        XTRmsStoredHash hash;
        hash.strHashHex = read.GetText(1);
        hash.strSaltHex = read.GetText(2);
        hash.nIterations = static_cast<unsigned int>(read.GetInt(3));
        pvecHashes->push_back(hash);
    }
    return true;
}

bool XTRmsStore::PushPasswordHistory(
    const std::wstring& strUserName, const XTRmsStoredHash& hash, long long nChanged, unsigned int nKeep)
{
    if (nKeep > 0 && !hash.strHashHex.empty())
    {
        XTRmsOdbc::Statement insert(*m_pConnection,
            L"INSERT INTO xtrms_password_history (user_name, changed, password_hash, password_salt, "
            L"password_iterations) VALUES (?, ?, ?, ?, ?)");
        insert.Bind(strUserName).Bind(nChanged).Bind(hash.strHashHex).Bind(hash.strSaltHex);
        insert.Bind(static_cast<long long>(hash.nIterations));
        if (!insert.Execute())
            return false;
    }
    XTRmsOdbc::Statement trim(*m_pConnection,
        L"DELETE FROM xtrms_password_history WHERE user_name = ? AND rowid NOT IN (SELECT rowid FROM "
        L"xtrms_password_history WHERE user_name = ? ORDER BY rowid DESC LIMIT ?)");
    trim.Bind(strUserName).Bind(strUserName).Bind(static_cast<long long>(nKeep));
    return trim.Execute();
}

bool XTRmsStore::ReadSignedRights(std::set<int>* psetRights)
{
    psetRights->clear();
    XTRmsOdbc::Statement read(*m_pConnection, L"SELECT right_id FROM xtrms_signed_rights");
    if (!read.Execute())
        return false;
    while (read.Fetch())
        psetRights->insert(static_cast<int>(read.GetInt(1)));
    return true;
}

bool XTRmsStore::WriteSignedRights(const std::vector<int>& vecRights)
{
    if (!m_pConnection->Execute(L"DELETE FROM xtrms_signed_rights"))
        return false;
    XTRmsOdbc::Statement insert(*m_pConnection, L"INSERT INTO xtrms_signed_rights (right_id) VALUES (?)");
    for (int nRight : std::set<int>(vecRights.begin(), vecRights.end()))
    {
        insert.ClearBindings();
        insert.Bind(static_cast<long long>(nRight));
        if (!insert.Execute())
            return false;
    }
    return true;
}
