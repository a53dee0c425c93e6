// The rights server's side of the store. From schema version 4 a
// workstation's database account reaches no table on PostgreSQL, only the
// service's functions, which decide every login, read and change against the
// caller's session and the user's current state. This class wraps those
// calls; values always travel as parameters.
#pragma once

#include "XTRmsOdbc.h"
#include "XTRmsSessionServiceBase.h"
#include "XTRmsStore.h"

#include <set>
#include <string>
#include <vector>

// What the server answered to a login.
struct XTRmsServerLogin
{
    int nResult = 0; // an Rms::ERmsLoginResult
    std::wstring strToken;
    std::wstring strUserName;
    int nRole = 0;
    bool bSuperUser = false;
    std::set<int> setRights;
};

// A session's user as the server sees it now.
struct XTRmsServerSession
{
    std::wstring strUserName;
    int nRole = 0;
    bool bSuperUser = false;
    bool bGuest = false;
    std::set<int> setRights;
};

// Why the server refused a call, from the SQLSTATE its functions raise.
enum class XTRmsServerRefusal
{
    None,
    NotPermitted, // no valid session, or not a super user
    Rule,         // removing oneself, the last super user, ...
    NotFound,     // no such user, role or right; a user exists already
    InvalidInput,
    Timeout, // a lock or statement bound ran out
    Unavailable
};

class XTRmsServerStore
{
public:
    XTRmsServerStore(XTRmsOdbc::Connection& connection, std::wstring strWorkstation, std::wstring strOsUser);

    // True when the database holds the service's functions.
    [[nodiscard]] bool HasFunctions(bool* pbHas);
    [[nodiscard]] bool ReadSchemaVersion(int* pnVersion);
    // A PostgreSQL superuser: may create and upgrade the schema and act
    // without a session (recovery, provisioning).
    [[nodiscard]] bool IsDatabaseAdministrator(bool* pbAdministrator);

    // The host's definitions, written only while the store has none.
    [[nodiscard]] bool Define(const std::vector<XTRmsRestrictionDefinition>& vecRights,
        const std::vector<XTRmsRoleDefinition>& vecRoles, const std::vector<int>& vecSignedRights,
        const XTRmsPolicy& policy, bool* pbWritten);
    // The administrator's whole definition (the database administrator's
    // only): *pnChanges rights and roles added, changed or dropped.
    [[nodiscard]] bool Redefine(const std::vector<XTRmsRestrictionDefinition>& vecRights,
        const std::vector<XTRmsRoleDefinition>& vecRoles, size_t* pnChanges);
    [[nodiscard]] bool ReadDefinitions(
        std::vector<XTRmsRestrictionDefinition>* pvecRights, std::vector<XTRmsRoleDefinition>* pvecRoles);
    // Fills the policy fields the server keeps; the others stay.
    [[nodiscard]] bool ReadPolicy(XTRmsPolicy* pPolicy);

    [[nodiscard]] bool LoginParams(
        const std::wstring& strUserName, std::wstring* pstrSaltHex, unsigned int* pnIterations);
    [[nodiscard]] bool Login(const std::wstring& strUserName, const std::wstring& strKeyHex, XTRmsServerLogin* pLogin);
    void Logout(const std::wstring& strToken);
    // *pbValid is false when the session ended (expired, user removed,
    // disabled or locked).
    [[nodiscard]] bool ReadSession(const std::wstring& strToken, XTRmsServerSession* pSession, bool* pbValid);

    // Administration: an empty token acts as the database administrator,
    // which the server allows only to a superuser.
    [[nodiscard]] bool ListUsers(const std::wstring& strToken, std::vector<XTRmsStoredUser>* pvecUsers);
    [[nodiscard]] bool SaveChanges(const std::wstring& strToken, const std::wstring& strChangesJson);
    [[nodiscard]] bool AddUser(const std::wstring& strToken, const std::wstring& strUserName,
        const std::wstring& strFullName, int nRole, const std::wstring& strSaltHex, unsigned int nIterations,
        const std::wstring& strKeyHex);
    [[nodiscard]] bool SetPassword(const std::wstring& strToken, const std::wstring& strUserName,
        const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex);
    // *pnResult: 0 changed, 1 the old password was wrong.
    [[nodiscard]] bool ChangeOwnPassword(const std::wstring& strToken, const std::wstring& strOldKeyHex,
        const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex, int* pnResult);
    // A stored hash with fewer iterations than the policy's, replaced after a
    // login proved the password; *pbRehashed false when nothing changed.
    [[nodiscard]] bool Rehash(const std::wstring& strToken, const std::wstring& strOldKeyHex,
        const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex, bool* pbRehashed);
    [[nodiscard]] bool Unlock(const std::wstring& strToken, const std::wstring& strUserName);
    [[nodiscard]] bool SetDisabled(const std::wstring& strToken, const std::wstring& strUserName, bool bDisabled);
    [[nodiscard]] bool ImportUsers(const std::wstring& strToken, const std::wstring& strRowsJson);
    [[nodiscard]] bool SetPolicy(const std::wstring& strToken, const std::wstring& strPolicyJson);
    // The latest nCount rows (0: all), oldest first.
    [[nodiscard]] bool ReadAudit(
        const std::wstring& strToken, size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries);
    // One page of the rows that match, newest first, below nBeforeSequence
    // (0: from the newest); the hash column stays empty.
    [[nodiscard]] bool QueryAudit(const std::wstring& strToken, const XTRmsAuditQuery& query, long long nBeforeSequence,
        size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries);
    // nSinceSequence 0: no checkpoint to compare with.
    [[nodiscard]] bool VerifyAudit(const std::wstring& strToken, long long nSinceSequence,
        const std::wstring& strSinceHash, bool* pbIntact, std::wstring* pstrProblem);
    [[nodiscard]] bool Checkpoint(long long* pnSequence, std::wstring* pstrHash);

    // Why the last call failed.
    XTRmsServerRefusal GetRefusal() const;
    // The server's own sentence for a refusal (its functions raise English
    // sentences fit for an administrator), else the driver's message.
    std::wstring GetRefusalText() const;

    // JSON texts the functions take.
    static std::wstring JsonString(const std::wstring& strText);
    static std::wstring PolicyJson(const XTRmsPolicy& policy);
    // The policy's one key that says which rights need a signature.
    static std::wstring SignedRightsJson(const std::vector<int>& vecRights);

    // The password lifecycle and the session (schema version 7).
    // The lifecycle's policy fields and the rights that need a signature.
    [[nodiscard]] bool ReadPasswordPolicy(XTRmsPolicy* pPolicy, std::set<int>* psetSignedRights);
    // Salt and count of the current and each kept password (made-up ones for
    // what does not exist, so that the answer tells nothing), newest first.
    [[nodiscard]] bool PasswordSalts(
        const std::wstring& strUserName, std::vector<std::pair<std::wstring, unsigned int>>* pvecSalts);
    // A user's own change (with the session's token) or a change forced at
    // login (bForced, no token): strHistoryKeys are the new password's keys
    // under PasswordSalts' salts, separated by ';'. pAnswer->nResult is an
    // Rms::ERmsPasswordResult; a forced change that succeeded opened a session.
    [[nodiscard]] bool ChangePassword(const std::wstring& strToken, const std::wstring& strUserName,
        const std::wstring& strOldKeyHex, const std::wstring& strSaltHex, unsigned int nIterations,
        const std::wstring& strKeyHex, const std::wstring& strHistoryKeys, bool bForced, XTRmsServerLogin* pAnswer);
    [[nodiscard]] bool LockSession(const std::wstring& strToken);
    // *pnResult an Rms::ERmsLoginResult.
    [[nodiscard]] bool UnlockSession(const std::wstring& strToken, const std::wstring& strKeyHex, int* pnResult);
    // Ends the locked session in favour of the new user's, audited.
    [[nodiscard]] bool SwitchUser(const std::wstring& strLockedToken, const std::wstring& strToken);
    // *pnResult an Rms::ERmsSignResult; on success the record as the server
    // wrote it.
    [[nodiscard]] bool Sign(const std::wstring& strToken, const std::wstring& strUserName,
        const std::wstring& strKeyHex, const std::wstring& strMeaning, const std::wstring& strReason,
        const std::wstring& strFirstSigner, XTRmsSignature* pSignature, int* pnResult);
    // Users as the import function takes them: name, full name, role,
    // disabled and the whole set of rights of each.
    static std::wstring ImportJson(const std::vector<XTRmsStoredUser>& vecUsers);

private:
    // Rights and roles as define and redefine take them.
    static void DefinitionsJson(const std::vector<XTRmsRestrictionDefinition>& vecRights,
        const std::vector<XTRmsRoleDefinition>& vecRoles, std::wstring* pstrRights, std::wstring* pstrRoles);
    // change_own_password and rehash: the session, the old key and the new
    // credential; the function's number in *pnResult.
    [[nodiscard]] bool CallWithOldKey(const wchar_t* pszSql, const std::wstring& strToken,
        const std::wstring& strOldKeyHex, const std::wstring& strSaltHex, unsigned int nIterations,
        const std::wstring& strKeyHex, long long* pnResult);
    XTRmsOdbc::Statement& BindToken(XTRmsOdbc::Statement& statement, const std::wstring& strToken);
    XTRmsOdbc::Statement& BindClaims(XTRmsOdbc::Statement& statement);

    XTRmsOdbc::Connection& m_connection;
    std::wstring m_strWorkstation;
    std::wstring m_strOsUser;
};
