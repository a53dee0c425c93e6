// The rights service behind the exported XTRmsService, which only delegates:
// the store it opened, the session of the logged-in user and the working
// copy the dialogs edit. Private to XTRms.dll. The connections, the logins,
// the working copy and the settings text are units of their own; this class
// holds them together and decides who may do what before a store is asked.
#pragma once

#include "XTRmsConnectionFactory.h"
#include "XTRmsPasswordServiceBase.h"
#include "XTRmsSessionServiceBase.h"
#include "XTRmsServerLink.h"
#include "XTRmsServerStore.h"
#include "XTRmsSignIn.h"
#include "XTRmsSiteDefinition.h"
#include "XTRmsStore.h"
#include "XTRmsTypes.h"
#include "XTRmsWorkingCopy.h"

#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

class XTRmsServiceImpl final : private XTRmsServerLink
{
public:
    explicit XTRmsServiceImpl(const XTRmsServiceConfig& config);
    ~XTRmsServiceImpl();
    XTRmsServiceImpl(const XTRmsServiceImpl&) = delete;
    XTRmsServiceImpl& operator=(const XTRmsServiceImpl&) = delete;

    // Start-up and connection.
    Rms::RmsConnectionTest TryConnect(Rms::RmsApplicationType nType, int nMode);
    Rms::RmsResult Initialize(Rms::RmsApplicationType nType);
    Rms::RmsApplicationType GetApplicationType() const { return m_nApplicationType; }
    const XTRmsServerSetting& GetServerSetting() const { return m_serverSetting; }
    void SetServerSetting(const XTRmsServerSetting& setting) { m_serverSetting = setting; }

    // Login and the session.
    Rms::ERmsLoginResult UserLogin(const std::wstring& strUserName, const std::wstring& strPassword);
    Rms::ERmsLoginResult Reconnect();
    bool IsGuestLoginAllowed() const { return m_policy.bGuestLoginAllowed; }
    const std::wstring& GetLastServerMessage() const { return m_strLastServerMessage; }
    bool GetIsAllowed(int nRestrictionId) const;
    std::wstring GetLoggedInUserName() const;
    bool CanSetOtherPasswords() const;
    void Logout();

    // The working copy the dialogs edit.
    std::vector<XTRmsUserInfo> GetAllDefinedUsers() const;
    std::vector<XTRmsUserInfo> GetAllUsers() const;
    // This computer's enabled accounts and the person at the keyboard.
    static std::vector<XTRmsUserInfo> GetLocalUsers();
    std::vector<XTRmsRoleInfo> GetAllRoles() const;
    Rms::RmsUserRole GetInitialRole() const { return m_config.nInitialRole; }
    const std::vector<XTRmsRestrictionDefinition>& GetRights() const { return m_workingCopy.GetRights(); }
    Rms::RmsResult GetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const;
    Rms::RmsResult SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed);
    Rms::RmsResult CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole);
    Rms::RmsResult RemoveUser(const std::wstring& strUserName);
    Rms::RmsResult LoadUserProfiles();
    Rms::RmsResult SaveUserProfiles();
    bool IsUserDefined(const std::wstring& strUserName) const;
    bool IsSuperUser(const std::wstring& strUserName) const;
    bool IsDomainActive() const { return !m_config.vecDirectoryUsers.empty(); }
    std::wstring GetSettingsString();

    // Passwords.
    unsigned int GetMinPasswordLength() const { return m_policy.nMinPasswordLength; }
    Rms::ERmsPasswordResult ChangeOwnPassword(const std::wstring& strOldPassword, const std::wstring& strNewPassword);
    Rms::ERmsPasswordResult SetUserPassword(const std::wstring& strUserName, const std::wstring& strNewPassword);
    Rms::ERmsPasswordResult ChangeExpiredPassword(
        const std::wstring& strUserName, const std::wstring& strOldPassword, const std::wstring& strNewPassword);

    // The session's lock and electronic signatures.
    bool LockSession();
    bool IsSessionLocked() const { return m_bSessionLocked; }
    Rms::ERmsLoginResult UnlockSession(const std::wstring& strPassword);
    Rms::ERmsLoginResult SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword);
    Rms::ERmsSignResult Sign(const std::wstring& strUserName, const std::wstring& strPassword,
        const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
        XTRmsSignature* pSignature);
    bool IsSignatureRequired(int nRestrictionId) const { return m_setSignedRights.count(nRestrictionId) != 0; }

    // Administration, each change at once in its own audited transaction.
    [[nodiscard]] bool OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError);
    bool IsStoreAdministrator() const { return m_bStoreAdministrator; }
    const XTRmsPolicy& GetPolicy() const { return m_policy; }
    Rms::RmsResult SetPolicy(const XTRmsPolicy& policy, std::wstring* pstrError);
    int GetSchemaVersion() const { return m_pStore ? m_nSchemaVersion : 0; }
    Rms::RmsResult AddUser(const std::wstring& strUserName, const std::wstring& strFullName, Rms::RmsUserRole nRole,
        const std::wstring& strPassword, std::wstring* pstrError);
    Rms::RmsResult SetPassword(
        const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError);
    Rms::RmsResult Unlock(const std::wstring& strUserName, std::wstring* pstrError);
    Rms::RmsResult SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError);
    std::vector<XTRmsUserRecord> ListUsers() const;
    [[nodiscard]] bool ExportCsv(std::wstring* pstrCsv, std::wstring* pstrError) const;
    [[nodiscard]] bool ImportCsv(const std::wstring& strCsv, std::wstring* pstrError);
    // The store's administrator's whole definition of the site's rights and
    // roles; *pnChanges how many were added, changed or dropped.
    [[nodiscard]] bool DefineSite(const XTRmsSiteDefinition& definition, size_t* pnChanges, std::wstring* pstrError);
    // How this host's rights and roles differ from the store's it works with.
    const std::vector<std::wstring>& GetDefinitionDifferences() const { return m_vecDefinitionDifferences; }
    std::vector<XTRmsAuditEntry> GetAuditTrail(size_t nCount);
    [[nodiscard]] bool VerifyAuditChainSince(
        const std::wstring& strCheckpoint, std::wstring* pstrProblem, bool* pbReadable);
    [[nodiscard]] bool AuditCheckpoint(std::wstring* pstrCheckpoint, std::wstring* pstrError);
    // The trail reviewed on screen: administrators only, a page at a time.
    bool CanReadAudit() const { return m_pStore != nullptr && MayAdministerNow(); }
    [[nodiscard]] bool QueryAudit(const XTRmsAuditFilter& filter, long long nBeforeSequence, size_t nCount,
        std::vector<XTRmsAuditEntry>* pvecEntries, std::wstring* pstrError);

private:
    // --- XTRmsServerLink -----------------------------------------------------
    [[nodiscard]] bool Call(const std::function<bool(XTRmsServerStore&)>& fnCall) override;
    XTRmsServerStore& Current() override { return *m_pServer; }
    std::wstring Problem() const override { return ServerProblem(); }

    // A rights server, also while its connection is lost and looked for again.
    bool IsServer() const { return m_pServer != nullptr || m_bServerLost; }
    std::wstring StoreLocation(XTRmsEngine nEngine) const;

    // Connects to the chosen engine, checks and migrates the schema, writes
    // the host's definitions and reads the working copy. On failure the old
    // store stays closed and m_strStoreProblem says why.
    XTRmsOpenResult Open(XTRmsEngine nEngine, bool bMigrate, bool bCreateMissingFile, bool bAsAdministrator);
    XTRmsOpenResult Fail(XTRmsOpenResult nResult, const std::wstring& strProblem);
    // A SQLite store's first definition: the host's, when it has none yet.
    [[nodiscard]] bool DefineIfEmpty(XTRmsStore& store, const XTRmsSiteDefinition& host);
    // Rereads definitions and, for an administrator, the users; the previous
    // copy stays when it fails, which is all most callers need. Nobody else
    // sees other users.
    bool ReadWorkingCopy();

    void EndSession();
    void BeginSession(XTRmsSignedIn& signedIn);
    // Whether this session may administer, as far as the service knows
    // without asking the store (the store decides on the current state).
    bool MayAdministerNow() const;
    // Who a change is recorded for: the logged-in user (or "(guest)"), else
    // the store's administrator at the operating system.
    std::wstring Actor() const;
    std::wstring AdminActor() const;
    // The token the server takes: the session's, or none for the database
    // administrator.
    const std::wstring& Token() const { return m_strToken; }

    [[nodiscard]] bool Audit(const std::wstring& strActor, const wchar_t* pszEvent, const std::wstring& strSubject,
        const std::wstring& strDetail);
    // Runs fnWork inside one write transaction; everything or nothing lands.
    template <typename Work>
    [[nodiscard]] bool Write(Work fnWork, std::wstring* pstrError);
    // Inside a write transaction on SQLite: whether the session may
    // administer, judged on the user's state as stored now.
    [[nodiscard]] bool AuthorizeAdministrator(std::wstring* pstrReason);
    // An administrator's change in one transaction on SQLite: authorised
    // first, and refused as a whole when it would leave the store without
    // an enabled super user.
    template <typename Work>
    [[nodiscard]] bool WriteAsAdministrator(Work fnWork, std::wstring* pstrError);
    // One account changed at once (unlock, disable, enable): on a server by
    // its function, here in an administrator's audited transaction.
    template <typename ServerChange, typename StoreChange>
    Rms::RmsResult ChangeAccount(const std::wstring& strUserName, const wchar_t* pszEvent, ServerChange fnServer,
        StoreChange fnStore, std::wstring* pstrError);

    // A refusal of the server as the sentence an administrator reads.
    std::wstring ServerProblem() const;
    // A server call, made again once on a fresh connection when the old one
    // was lost: the session and the changes not saved yet survive.
    template <typename ServerCall>
    [[nodiscard]] bool Server(ServerCall fnCall);
    bool IsConnectionLost() const;
    [[nodiscard]] bool ReopenKeepingSession();
    // The store, reopened first when a rights server was lost.
    bool HaveStore();

    // The audit detail of a right granted or withdrawn: the right, its
    // label and its value before and after.
    std::wstring RightChangeDetail(int nRight, bool bAllowed) const;

    // A user's own new password on SQLite, inside the write transaction
    // that proved the old one: minimum age (unless forced), history, then
    // stored with the age restarted and the must-change mark cleared.
    [[nodiscard]] bool StoreOwnPassword(const XTRmsStoredUser& user, const std::wstring& strNewPassword, bool bForced,
        const wchar_t* pszEvent, Rms::ERmsPasswordResult* pnResult);
    // On a rights server: the keys of the new password under the salts of
    // the current and the kept passwords, which the server compares.
    [[nodiscard]] bool HistoryKeys(
        const std::wstring& strUserName, const std::wstring& strNewPassword, std::wstring* pstrKeys);
    // A password change by the server's function: the user's own (bForced
    // false, with the session) or the one a login asked for; false when the
    // server did not answer (m_strStoreProblem says why).
    [[nodiscard]] bool ChangeOnServer(const std::wstring& strUserName, const std::wstring& strOldPassword,
        const std::wstring& strNewPassword, bool bForced, XTRmsServerLogin* pAnswer);
    // The key of strPassword under the salt the server gives for the name.
    [[nodiscard]] bool ServerKey(
        const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrKeyHex);
    // A new account as the policy wants it: its age starts now and, when the
    // policy says so, it must change its first password.
    void MarkNewAccount(XTRmsStoredUser* pUser) const;
    XTRmsSignedIn SignedInFrom(const XTRmsStoredUser& user) const;
    Rms::ERmsPasswordResult StorePassword(
        const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszEvent);
    [[nodiscard]] bool SaveLocally(std::wstring* pstrError);

    XTRmsServiceConfig m_config;
    XTRmsServerSetting m_serverSetting;
    // What the store applies: the configuration's on SQLite, the server's own
    // on PostgreSQL.
    XTRmsPolicy m_policy;
    Rms::RmsApplicationType m_nApplicationType = Rms::RmsApplicationStandard;
    std::wstring m_strWorkstation;
    std::wstring m_strOsUser;
    XTRmsSignIn m_signIn;
    XTRmsConnectionFactory m_connections;

    // The store that answered last, and why the last attempt failed. The
    // server's functions use the store's connection, so they go first.
    std::unique_ptr<XTRmsStore> m_pStore;
    // On a rights server of version 4 on: the functions that decide.
    std::unique_ptr<XTRmsServerStore> m_pServer;
    XTRmsEngine m_nEngine = XTRmsEngine::Sqlite;
    int m_nSchemaVersion = 0;
    std::wstring m_strStoreProblem;
    // Opened by OpenStore as the store's administrator.
    bool m_bStoreAdministrator = false;
    // A rights server that was open and could not be reached again: the next
    // call tries, keeping the session.
    bool m_bServerLost = false;

    XTRmsWorkingCopy m_workingCopy;
    // Where the host's definition and the store's disagree (the store's
    // applies), as found when the store was opened.
    std::vector<std::wstring> m_vecDefinitionDifferences;

    // The logged-in user; rights answered from memory.
    bool m_bLoggedIn = false;
    bool m_bGuest = false;
    bool m_bSuperUser = false;
    std::wstring m_strUser;
    std::wstring m_strToken; // the server's session
    std::unordered_set<int> m_setRights;
    // Locked while the user is away: no rights, no administration, until
    // the same user unlocks or another one switches in.
    bool m_bSessionLocked = false;
    // Rights whose use needs a signature, as the store marks them.
    std::set<int> m_setSignedRights;
    std::wstring m_strLastServerMessage;
};
