// XTRms: the reference rights service. Users, roles, rights, password hashes
// and an audit trail in a SQL database reached over ODBC: a SQLite file on
// this machine (the restriction source) or a PostgreSQL server shared by many
// workstations (the rights server). A host creates one from an
// XTRmsServiceConfig and hands it to XTRmRestrictionManager.
#pragma once

#include "XTRmsApi.h"
#include "XTRmsAuditServiceBase.h"
#include "XTRmsPasswordServiceBase.h"
#include "XTRmsRestrictionManagerServiceBase.h"
#include "XTRmsSessionServiceBase.h"
#include "XTRmsTypes.h"

#include <memory>
#include <string>
#include <vector>

class XTRmsServiceImpl;

class XTRMS_API XTRmsService : public XTRmsRestrictionManagerServiceBase,
                               public XTRmsPasswordServiceBase,
                               public XTRmsAuditServiceBase,
                               public XTRmsSessionServiceBase
{
public:
    explicit XTRmsService(const XTRmsServiceConfig& config);
    ~XTRmsService() override;
    XTRmsService(const XTRmsService&) = delete;
    XTRmsService& operator=(const XTRmsService&) = delete;

    // --- XTRmsRestrictionManagerServiceBase ---------------------------------
    // Mode 1 tests the SQLite file, mode 16 the PostgreSQL server; each
    // attempt is bounded by the configured timeout. The engine that answered
    // last is the one Initialize and everything after it use.
    Rms::RmsConnectionTest TryConnectToRestrictionSource(Rms::RmsApplicationType nType, const std::wstring& strPath4,
        int nMode, int nParam1, int nParam2, const std::wstring& strPath5) override;
    Rms::RmsResult Initialize(Rms::RmsApplicationType nType, const std::wstring& strPath1, const std::wstring& strPath2,
        const std::wstring& strPath3, const std::wstring& strPath4, int nParam1, int nParam2,
        const std::wstring& strPath5) override;
    bool GetNeedLogin() const override;
    Rms::RmsApplicationType GetApplicationType() const override;
    XTRmsServerSetting GetServerSetting() const override;
    void SetServerSetting(const XTRmsServerSetting& setting) override;
    Rms::ERmsLoginResult UserLogin(const std::wstring& strUserName, const std::wstring& strPassword) override;
    Rms::ERmsLoginResult ReconnectToRestrictionSource() override;
    bool IsGuestLoginAllowed() const override;
    std::wstring GetLastServerMessage() const override;
    bool GetIsAllowed(int nRestrictionId) const override;
    std::vector<XTRmsUserInfo> GetAllDefinedUsers() const override;
    std::vector<XTRmsUserInfo> GetAllUsers() const override;
    std::vector<XTRmsUserInfo> GetLocalUsers() const override;
    std::vector<XTRmsRoleInfo> GetAllRoles() const override;
    Rms::RmsUserRole GetInitialRole() const override;
    std::vector<XTRmsRestrictionDefinition> GetRoleRestrDefinitions() const override;
    Rms::RmsResult GetUserIsAllowed(
        const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const override;
    Rms::RmsResult SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed) override;
    Rms::RmsResult CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole) override;
    Rms::RmsResult RemoveUser(const std::wstring& strUserName) override;
    Rms::RmsResult LoadUserProfiles() override;
    Rms::RmsResult SaveUserProfiles() override;
    bool IsUserDefined(const std::wstring& strUserName) const override;
    bool IsSuperUser(const std::wstring& strUserName) const override;
    bool IsDomainActive() const override;
    std::wstring GetSettingsString() const override;

    // --- XTRmsPasswordServiceBase ------------------------------------------
    std::wstring GetLoggedInUserName() const override;
    bool CanSetOtherPasswords() const override;
    unsigned int GetMinPasswordLength() const override;
    Rms::ERmsPasswordResult ChangeOwnPassword(
        const std::wstring& strOldPassword, const std::wstring& strNewPassword) override;
    Rms::ERmsPasswordResult SetUserPassword(
        const std::wstring& strUserName, const std::wstring& strNewPassword) override;
    Rms::ERmsPasswordResult ChangeExpiredPassword(const std::wstring& strUserName, const std::wstring& strOldPassword,
        const std::wstring& strNewPassword) override;

    // --- XTRmsSessionServiceBase -------------------------------------------
    // While locked the session answers no right and administers nothing.
    bool LockSession() override;
    bool IsSessionLocked() const override;
    Rms::ERmsLoginResult UnlockSession(const std::wstring& strPassword) override;
    Rms::ERmsLoginResult SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword) override;
    Rms::ERmsSignResult Sign(const std::wstring& strUserName, const std::wstring& strPassword,
        const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
        XTRmsSignature* pSignature) override;
    bool IsSignatureRequired(int nRestrictionId) const override;

    // --- XTRmsAuditServiceBase ---------------------------------------------
    // Administrators only, like GetAuditTrail; a page holds at most 1000
    // rows. Both ends of the time range are inclusive and the user matches
    // the actor or the subject (without regard to case: on SQLite for
    // ASCII letters only).
    bool CanReadAudit() const override;
    bool QueryAudit(const XTRmsAuditFilter& filter, long long nBeforeSequence, size_t nCount,
        std::vector<XTRmsAuditRow>* pvecRows, std::wstring* pstrError) override;
    // True when the chain could be checked; *pbIntact tells the result.
    bool VerifyAuditTrail(bool* pbIntact, std::wstring* pstrProblem) override;
    // Checks a filter as QueryAudit does (ISO 8601 dates, lengths), for a
    // caller that wants to refuse bad input before anything is opened.
    static bool CheckAuditFilter(const XTRmsAuditFilter& filter, std::wstring* pstrError);

    // --- Administration (the console tool, provisioning, tests) ------------
    // These act at once, each in one transaction, and are audited. Every one
    // of them, and every change through the dialogs' operations above, needs
    // a logged-in super user, decided against the user's state at the time
    // of the call (a user demoted, disabled or removed meanwhile is refused),
    // or the store's administrator: whoever opened a SQLite file with
    // OpenStore (whoever can write the file can change it anyway), or a
    // PostgreSQL superuser. Nobody removes, disables or demotes himself or
    // the last enabled super user.
    // Opens the store, creating or upgrading its schema when allowed (on
    // PostgreSQL only the database administrator can); pstrError receives a
    // message fit for a user on failure.
    [[nodiscard]] bool OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError);
    // True after OpenStore by the store's administrator (see above).
    bool IsStoreAdministrator() const;
    // The lockout, guest and password policy the store applies (a rights
    // server's own); changed by an administrator.
    XTRmsPolicy GetPolicy() const;
    Rms::RmsResult SetPolicy(const XTRmsPolicy& policy, std::wstring* pstrError);
    // Ends the session (also on the server).
    void Logout();
    // The schema version of the open store and the newest this service knows.
    int GetSchemaVersion() const;
    static int GetLatestSchemaVersion();
    // The ODBC drivers installed for this process's bitness, by the names the
    // configuration's strSqliteDriver and strPostgresDriver take; false when
    // the driver manager cannot be asked. For a start-up or deployment check.
    static bool GetInstalledOdbcDrivers(std::vector<std::wstring>* pvecDrivers);
    // A start-up check: empty when the ODBC drivers this configuration uses
    // (SQLite for a database file, PostgreSQL for a rights server) are
    // installed, else a message for the user that names the missing ones.
    static std::wstring DescribeMissingOdbcDrivers(const XTRmsServiceConfig& config);
    Rms::RmsResult AddUser(const std::wstring& strUserName, const std::wstring& strFullName, Rms::RmsUserRole nRole,
        const std::wstring& strPassword, std::wstring* pstrError);
    Rms::RmsResult SetPassword(
        const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError);
    Rms::RmsResult Unlock(const std::wstring& strUserName, std::wstring* pstrError);
    Rms::RmsResult SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError);
    std::vector<XTRmsUserRecord> ListUsers() const;
    // Users and rights as CSV (header: user,full_name,role,disabled,rights
    // with the rights separated by ';'); import adds missing users (without
    // a password) and sets role, name, disabled and rights of every listed
    // user, all in one transaction.
    bool ExportCsv(std::wstring* pstrCsv, std::wstring* pstrError) const;
    bool ImportCsv(const std::wstring& strCsv, std::wstring* pstrError);
    // The site's rights and roles as a whole, from the store's administrator
    // only (on PostgreSQL the database administrator; an XTRm super user
    // is refused): rights and roles it does not list are dropped unless a
    // user still holds them, labels, super-user flags and a role's rights
    // (what a new user starts with) change, users' own rights stay. One
    // transaction, each change audited; *pnChanges (may be null) counts them.
    Rms::RmsResult DefineSite(const std::vector<XTRmsRestrictionDefinition>& vecRights,
        const std::vector<XTRmsRoleDefinition>& vecRoles, size_t* pnChanges, std::wstring* pstrError);
    // The same with the rights that need a signature ([signatures]): a
    // definition file says them always; the overload above leaves them.
    Rms::RmsResult DefineSite(const std::vector<XTRmsRestrictionDefinition>& vecRights,
        const std::vector<XTRmsRoleDefinition>& vecRoles, const std::vector<int>& vecSignedRights, size_t* pnChanges,
        std::wstring* pstrError);
    static bool ParseSiteDefinition(const std::wstring& strText, std::vector<XTRmsRestrictionDefinition>* pvecRights,
        std::vector<XTRmsRoleDefinition>* pvecRoles, std::vector<int>* pvecSignedRights, std::wstring* pstrError);
    // Reads the text of a site definition file (INI, as service/README.md
    // describes it); false with a sentence that names the line at fault.
    static bool ParseSiteDefinition(const std::wstring& strText, std::vector<XTRmsRestrictionDefinition>* pvecRights,
        std::vector<XTRmsRoleDefinition>* pvecRoles, std::wstring* pstrError);
    // Where the configuration's rights and roles differ from those of the
    // store, which apply (a host writes its own only into a store without
    // any); empty when they agree.
    std::vector<std::wstring> GetDefinitionDifferences() const;
    // The latest nCount entries, oldest first (0: all).
    std::vector<XTRmsAuditEntry> GetAuditTrail(size_t nCount) const;
    // False when a row was edited, removed or inserted out of the chain;
    // pstrProblem names the first bad sequence number. *pbReadable tells a
    // broken chain (true) from a trail that could not be read at all.
    bool VerifyAuditChain(std::wstring* pstrProblem, bool* pbReadable = nullptr) const;
    // The same, also proving that the trail up to a checkpoint taken earlier
    // ("SEQ:HASH", from AuditCheckpoint) was not changed since.
    bool VerifyAuditChainSince(const std::wstring& strCheckpoint, std::wstring* pstrProblem, bool* pbReadable) const;
    // The head of the trail as "SEQ:HASH", for keeping outside the database.
    // On PostgreSQL the hash is keyed with a key only the server reads.
    bool AuditCheckpoint(std::wstring* pstrCheckpoint, std::wstring* pstrError) const;

private:
    std::unique_ptr<XTRmsServiceImpl> m_pImpl;
};
