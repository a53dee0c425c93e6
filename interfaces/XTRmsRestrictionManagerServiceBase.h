// The rights service: the host's own component that knows users, roles, rights
// and the rights server. XTRm only asks it; the host creates it, hands it over
// and keeps it alive for as long as XTRm may call it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Rms
{
// Service results: 0 is success, every other value a failure.
enum RmsResult : int
{
    RmsSuccess = 0,
    RmsFailure = 1
};

// Handed on unread, except that type 1 asks for the header picture.
enum RmsApplicationType : int
{
    RmsApplicationStandard = 0,
    RmsApplicationWithHeader = 1,
    RmsApplicationService = 2
};

// Result of TryConnectToRestrictionSource. Enumerations with a fixed
// underlying type hold any int, so values a newer service invents still pass.
enum RmsConnectionTest : int
{
    RmsConnectionOk = 0,
    RmsConnectionServerConnected = 1,
    RmsConnectionServerNotFound = 2,
    RmsConnectionServerNotConfigured = 3,
    RmsConnectionServerAddressInvalid = 4,
    RmsConnectionServerRefused = 5,
    RmsConnectionServerTimeout = 6,
    RmsConnectionServerConnectedReadOnly = 7,
    RmsConnectionServerIncompatible = 8,
    RmsConnectionAborted = 9
};

enum ERmsLoginResult : int
{
    ERmsLoginCancelled = 0,
    ERmsLoginOk = 1,
    ERmsLoginWrongPassword = 2,
    ERmsLoginUnknownUser = 3,
    ERmsLoginUserLocked = 4,
    ERmsLoginServerRefused = 5,
    ERmsLoginPasswordExpired = 6,
    ERmsLoginNoLicense = 7,
    ERmsLoginSourceUnavailable = 8,
    ERmsLoginGuestNotAllowed = 9,
    ERmsLoginTooManyUsers = 10,
    ERmsLoginAccountDisabled = 11
};

enum RmsInitResult : int
{
    RmsInitReady = 1,
    RmsInitReadyThroughServer = 3,
    RmsInitServiceFailed = 4,
    RmsInitCancelled = 5
};

// A role id; the roles themselves are the service's.
enum RmsUserRole : int
{
    RmsRoleNone = 0
};

struct ClientPaths
{
    std::wstring strPath1;
    std::wstring strPath2;
    std::wstring strPath3;
    std::wstring strPath4;
    std::wstring strPath5;
};

// Source flag that lets the user switch to the rights server.
const unsigned int RmsSourceFlagServer = 0x10;

// Modes of TryConnectToRestrictionSource: test the restriction source itself,
// or the rights server.
const int RmsConnectModeSource = 1;
const int RmsConnectModeServer = 0x10;

struct ClientSettings
{
    unsigned int nSourceFlags = 0;
    bool bGuestLoginOffered = false;
    int nServiceParam1 = 0;
    int nServiceParam2 = 0;
};
} // namespace Rms

class XTRmsUserInfo
{
public:
    XTRmsUserInfo() = default;
    XTRmsUserInfo(std::wstring strUserName, std::wstring strFullName)
        : m_strUserName(std::move(strUserName)), m_strFullName(std::move(strFullName))
    {
    }

    const std::wstring& GetUserNameW() const { return m_strUserName; }
    const std::wstring& GetFullName() const { return m_strFullName; }

private:
    std::wstring m_strUserName;
    std::wstring m_strFullName;
};

class XTRmsRoleInfo
{
public:
    XTRmsRoleInfo() = default;
    XTRmsRoleInfo(Rms::RmsUserRole nId, std::wstring strName) : m_nId(nId), m_strName(std::move(strName)) {}

    Rms::RmsUserRole GetId() const { return m_nId; }
    const std::wstring& GetName() const { return m_strName; }

private:
    Rms::RmsUserRole m_nId = Rms::RmsRoleNone;
    std::wstring m_strName;
};

class XTRmsRestrictionDefinition
{
public:
    XTRmsRestrictionDefinition() = default;
    XTRmsRestrictionDefinition(int nId, std::wstring strName) : m_nId(nId), m_strName(std::move(strName)) {}

    int GetId() const { return m_nId; }
    const std::wstring& GetName() const { return m_strName; }

private:
    int m_nId = 0;
    std::wstring m_strName;
};

// Where the rights server is reached.
class XTRmsServerSetting
{
public:
    XTRmsServerSetting() = default;
    XTRmsServerSetting(std::wstring strHost, int nPort) : m_strHost(std::move(strHost)), m_nPort(nPort) {}

    const std::wstring& GetHost() const { return m_strHost; }
    void SetHost(const std::wstring& strHost) { m_strHost = strHost; }
    int GetPortNum() const { return m_nPort; }
    void SetPortNum(int nPort) { m_nPort = nPort; }

private:
    std::wstring m_strHost;
    int m_nPort = 0;
};

class XTRmsRestrictionManagerServiceBase
{
public:
    virtual ~XTRmsRestrictionManagerServiceBase() = default;

    // Start-up and connection.
    virtual Rms::RmsConnectionTest TryConnectToRestrictionSource(Rms::RmsApplicationType nType,
        const std::wstring& strPath4, int nMode, int nParam1, int nParam2, const std::wstring& strPath5) = 0;
    virtual Rms::RmsResult Initialize(Rms::RmsApplicationType nType, const std::wstring& strPath1,
        const std::wstring& strPath2, const std::wstring& strPath3, const std::wstring& strPath4, int nParam1,
        int nParam2, const std::wstring& strPath5) = 0;
    virtual bool GetNeedLogin() const = 0;
    virtual Rms::RmsApplicationType GetApplicationType() const = 0;
    virtual XTRmsServerSetting GetServerSetting() const = 0;
    virtual void SetServerSetting(const XTRmsServerSetting& setting) = 0;

    // Login.
    virtual Rms::ERmsLoginResult UserLogin(const std::wstring& strUserName, const std::wstring& strPassword) = 0;
    virtual Rms::ERmsLoginResult ReconnectToRestrictionSource() = 0;
    virtual bool IsGuestLoginAllowed() const = 0;
    virtual std::wstring GetLastServerMessage() const = 0;

    // The current user's rights.
    virtual bool GetIsAllowed(int nRestrictionId) const = 0;

    // Administration.
    virtual std::vector<XTRmsUserInfo> GetAllDefinedUsers() const = 0;
    virtual std::vector<XTRmsUserInfo> GetAllUsers() const = 0;
    virtual std::vector<XTRmsUserInfo> GetLocalUsers() const = 0;
    virtual std::vector<XTRmsRoleInfo> GetAllRoles() const = 0;
    virtual Rms::RmsUserRole GetInitialRole() const = 0;
    virtual std::vector<XTRmsRestrictionDefinition> GetRoleRestrDefinitions() const = 0;
    virtual Rms::RmsResult GetUserIsAllowed(
        const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const = 0;
    virtual Rms::RmsResult SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed) = 0;
    virtual Rms::RmsResult CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole) = 0;
    virtual Rms::RmsResult RemoveUser(const std::wstring& strUserName) = 0;
    virtual Rms::RmsResult LoadUserProfiles() = 0;
    virtual Rms::RmsResult SaveUserProfiles() = 0;
    virtual bool IsUserDefined(const std::wstring& strUserName) const = 0;
    virtual bool IsSuperUser(const std::wstring& strUserName) const = 0;
    virtual bool IsDomainActive() const = 0;
    virtual std::wstring GetSettingsString() const = 0;
};
