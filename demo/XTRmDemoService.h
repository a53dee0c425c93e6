// The demo's reference rights service: users, roles and rights of a small
// plant-control application, kept in a profile store file; the rights source
// is that store, and the rights server a TCP address the demo can open.
#pragma once

#include "XTRmsRestrictionManagerServiceBase.h"
#include "XTRmDemoProfileStore.h"

#include <string>
#include <vector>

// The rights of the demo application.
enum XTRmDemoRight : int
{
    XTRmDemoRightViewReports = 1,
    XTRmDemoRightEditRecipes = 2,
    XTRmDemoRightRunBatches = 3,
    XTRmDemoRightConfigurePlant = 4,
    XTRmDemoRightManageUsers = 5,
    XTRmDemoRightExportData = 6,
    XTRmDemoRightPrint = 7,
    XTRmDemoRightViewAuditTrail = 8
};

enum XTRmDemoRole : int
{
    XTRmDemoRoleOperator = 1,
    XTRmDemoRoleEngineer = 2,
    XTRmDemoRoleAdministrator = 3
};

class XTRmDemoService : public XTRmsRestrictionManagerServiceBase
{
public:
    explicit XTRmDemoService(const std::wstring& strProfileFile);

    // Makes the rights source unreachable, so that start-up offers the
    // rights server.
    void SetSourceReachable(bool bReachable) { m_bSourceReachable = bReachable; }
    // The user logged in (empty for a guest or before a login).
    const std::wstring& GetCurrentUser() const { return m_strCurrentUser; }
    // The password every demo account accepts.
    static const wchar_t* DemoPassword() { return L"xtrm"; }

    Rms::RmsConnectionTest TryConnectToRestrictionSource(Rms::RmsApplicationType nType, const std::wstring& strPath4,
        int nMode, int nParam1, int nParam2, const std::wstring& strPath5) override;
    Rms::RmsResult Initialize(Rms::RmsApplicationType nType, const std::wstring& strPath1, const std::wstring& strPath2,
        const std::wstring& strPath3, const std::wstring& strPath4, int nParam1, int nParam2,
        const std::wstring& strPath5) override;
    bool GetNeedLogin() const override { return true; }
    Rms::RmsApplicationType GetApplicationType() const override { return m_nApplicationType; }
    XTRmsServerSetting GetServerSetting() const override { return m_serverSetting; }
    void SetServerSetting(const XTRmsServerSetting& setting) override { m_serverSetting = setting; }
    Rms::ERmsLoginResult UserLogin(const std::wstring& strUserName, const std::wstring& strPassword) override;
    Rms::ERmsLoginResult ReconnectToRestrictionSource() override;
    bool IsGuestLoginAllowed() const override { return true; }
    std::wstring GetLastServerMessage() const override { return m_strLastServerMessage; }
    bool GetIsAllowed(int nRestrictionId) const override;
    std::vector<XTRmsUserInfo> GetAllDefinedUsers() const override;
    std::vector<XTRmsUserInfo> GetAllUsers() const override;
    std::vector<XTRmsUserInfo> GetLocalUsers() const override;
    std::vector<XTRmsRoleInfo> GetAllRoles() const override;
    Rms::RmsUserRole GetInitialRole() const override { return static_cast<Rms::RmsUserRole>(XTRmDemoRoleOperator); }
    std::vector<XTRmsRestrictionDefinition> GetRoleRestrDefinitions() const override;
    Rms::RmsResult GetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const override;
    Rms::RmsResult SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed) override;
    Rms::RmsResult CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole) override;
    Rms::RmsResult RemoveUser(const std::wstring& strUserName) override;
    Rms::RmsResult LoadUserProfiles() override;
    Rms::RmsResult SaveUserProfiles() override;
    bool IsUserDefined(const std::wstring& strUserName) const override;
    bool IsSuperUser(const std::wstring& strUserName) const override;
    bool IsDomainActive() const override { return true; }
    std::wstring GetSettingsString() const override;

    // Messages of the store (damaged file, failed save) for the host to show.
    const std::wstring& GetStoreMessage() const { return m_strStoreMessage; }
    void ClearStoreMessage() { m_strStoreMessage.clear(); }

private:
    static std::vector<int> RoleRights(int nRole);
    void SeedProfiles();

    XTRmDemoProfileStore m_store;
    Rms::RmsApplicationType m_nApplicationType = Rms::RmsApplicationWithHeader;
    XTRmsServerSetting m_serverSetting{L"127.0.0.1", 7400};
    bool m_bSourceReachable = true;
    bool m_bThroughServer = false;
    std::wstring m_strCurrentUser;
    bool m_bLoggedIn = false;
    std::wstring m_strLastServerMessage;
    std::wstring m_strStoreMessage;
    std::wstring m_strSourcePath;
};
