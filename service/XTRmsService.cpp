// The exported service: every call goes to XTRmsServiceImpl, which keeps the
// store, the session and the working copy behind the DLL's boundary.
#include "XTRmsService.h"

#include "XTRmsServiceImpl.h"
#include "XTRmsStore.h"

#include <algorithm>

XTRmsService::XTRmsService(const XTRmsServiceConfig& config) : m_pImpl(std::make_unique<XTRmsServiceImpl>(config))
{
}

XTRmsService::~XTRmsService() = default;

// --- Start-up and connection ------------------------------------------------

Rms::RmsConnectionTest XTRmsService::TryConnectToRestrictionSource(
    Rms::RmsApplicationType nType, const std::wstring&, int nMode, int, int, const std::wstring&)
{
    return m_pImpl->TryConnect(nType, nMode);
}

Rms::RmsResult XTRmsService::Initialize(Rms::RmsApplicationType nType, const std::wstring&, const std::wstring&,
    const std::wstring&, const std::wstring&, int, int, const std::wstring&)
{
    return m_pImpl->Initialize(nType);
}

bool XTRmsService::GetNeedLogin() const
{
    return true;
}

Rms::RmsApplicationType XTRmsService::GetApplicationType() const
{
    return m_pImpl->GetApplicationType();
}

XTRmsServerSetting XTRmsService::GetServerSetting() const
{
    return m_pImpl->GetServerSetting();
}

void XTRmsService::SetServerSetting(const XTRmsServerSetting& setting)
{
    m_pImpl->SetServerSetting(setting);
}

// --- Login --------------------------------------------------------------------

Rms::ERmsLoginResult XTRmsService::UserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    return m_pImpl->UserLogin(strUserName, strPassword);
}

Rms::ERmsLoginResult XTRmsService::ReconnectToRestrictionSource()
{
    return m_pImpl->Reconnect();
}

bool XTRmsService::IsGuestLoginAllowed() const
{
    return m_pImpl->IsGuestLoginAllowed();
}

std::wstring XTRmsService::GetLastServerMessage() const
{
    return m_pImpl->GetLastServerMessage();
}

bool XTRmsService::GetIsAllowed(int nRestrictionId) const
{
    return m_pImpl->GetIsAllowed(nRestrictionId);
}

// --- Administration through the dialogs --------------------------------------

std::vector<XTRmsUserInfo> XTRmsService::GetAllDefinedUsers() const
{
    return m_pImpl->GetAllDefinedUsers();
}

std::vector<XTRmsUserInfo> XTRmsService::GetAllUsers() const
{
    return m_pImpl->GetAllUsers();
}

std::vector<XTRmsUserInfo> XTRmsService::GetLocalUsers() const
{
    return XTRmsServiceImpl::GetLocalUsers();
}

std::vector<XTRmsRoleInfo> XTRmsService::GetAllRoles() const
{
    return m_pImpl->GetAllRoles();
}

Rms::RmsUserRole XTRmsService::GetInitialRole() const
{
    return m_pImpl->GetInitialRole();
}

std::vector<XTRmsRestrictionDefinition> XTRmsService::GetRoleRestrDefinitions() const
{
    return m_pImpl->GetRights();
}

Rms::RmsResult XTRmsService::GetUserIsAllowed(
    const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const
{
    return m_pImpl->GetUserIsAllowed(strUserName, nRestrictionId, pbAllowed);
}

Rms::RmsResult XTRmsService::SetUserIsAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    return m_pImpl->SetUserIsAllowed(strUserName, nRestrictionId, bAllowed);
}

Rms::RmsResult XTRmsService::CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole)
{
    return m_pImpl->CreateUser(strUserName, nRole);
}

Rms::RmsResult XTRmsService::RemoveUser(const std::wstring& strUserName)
{
    return m_pImpl->RemoveUser(strUserName);
}

Rms::RmsResult XTRmsService::LoadUserProfiles()
{
    return m_pImpl->LoadUserProfiles();
}

Rms::RmsResult XTRmsService::SaveUserProfiles()
{
    return m_pImpl->SaveUserProfiles();
}

bool XTRmsService::IsUserDefined(const std::wstring& strUserName) const
{
    return m_pImpl->IsUserDefined(strUserName);
}

bool XTRmsService::IsSuperUser(const std::wstring& strUserName) const
{
    return m_pImpl->IsSuperUser(strUserName);
}

bool XTRmsService::IsDomainActive() const
{
    return m_pImpl->IsDomainActive();
}

std::wstring XTRmsService::GetSettingsString() const
{
    // Reading the trail may reconnect: the impl's call is not const.
    return m_pImpl->GetSettingsString();
}

// --- Passwords -----------------------------------------------------------------

std::wstring XTRmsService::GetLoggedInUserName() const
{
    return m_pImpl->GetLoggedInUserName();
}

bool XTRmsService::CanSetOtherPasswords() const
{
    return m_pImpl->CanSetOtherPasswords();
}

unsigned int XTRmsService::GetMinPasswordLength() const
{
    return m_pImpl->GetMinPasswordLength();
}

Rms::ERmsPasswordResult XTRmsService::ChangeOwnPassword(
    const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    return m_pImpl->ChangeOwnPassword(strOldPassword, strNewPassword);
}

Rms::ERmsPasswordResult XTRmsService::SetUserPassword(
    const std::wstring& strUserName, const std::wstring& strNewPassword)
{
    return m_pImpl->SetUserPassword(strUserName, strNewPassword);
}

// --- Administration --------------------------------------------------------------

bool XTRmsService::OpenStore(XTRmsEngine nEngine, bool bCreateOrUpgrade, std::wstring* pstrError)
{
    return m_pImpl->OpenStore(nEngine, bCreateOrUpgrade, pstrError);
}

bool XTRmsService::IsStoreAdministrator() const
{
    return m_pImpl->IsStoreAdministrator();
}

XTRmsPolicy XTRmsService::GetPolicy() const
{
    return m_pImpl->GetPolicy();
}

Rms::RmsResult XTRmsService::SetPolicy(const XTRmsPolicy& policy, std::wstring* pstrError)
{
    return m_pImpl->SetPolicy(policy, pstrError);
}

void XTRmsService::Logout()
{
    m_pImpl->Logout();
}

int XTRmsService::GetSchemaVersion() const
{
    return m_pImpl->GetSchemaVersion();
}

int XTRmsService::GetLatestSchemaVersion()
{
    return XTRmsStore::kLatestSchemaVersion;
}

bool XTRmsService::GetInstalledOdbcDrivers(std::vector<std::wstring>* pvecDrivers)
{
    return XTRmsOdbc::InstalledDrivers(pvecDrivers);
}

std::wstring XTRmsService::DescribeMissingOdbcDrivers(const XTRmsServiceConfig& config)
{
    std::vector<std::wstring> vecInstalled;
    if (!GetInstalledOdbcDrivers(&vecInstalled))
        return L"The ODBC driver manager cannot be asked which drivers this workstation has.";
    std::wstring strMissing;
    auto need = [&](bool bUsed, const std::wstring& strDriver, const wchar_t* pszFor) {
        if (bUsed && std::find(vecInstalled.begin(), vecInstalled.end(), strDriver) == vecInstalled.end())
            strMissing += L"The ODBC driver \"" + strDriver + L"\" (for " + pszFor +
                L") is not installed on this workstation.\n";
    };
    need(!config.strDatabaseFile.empty(), config.strSqliteDriver, L"the SQLite store");
    need(!config.serverSetting.GetHost().empty(), config.strPostgresDriver, L"the rights server");
    return strMissing;
}

Rms::RmsResult XTRmsService::AddUser(const std::wstring& strUserName, const std::wstring& strFullName,
    Rms::RmsUserRole nRole, const std::wstring& strPassword, std::wstring* pstrError)
{
    return m_pImpl->AddUser(strUserName, strFullName, nRole, strPassword, pstrError);
}

Rms::RmsResult XTRmsService::SetPassword(
    const std::wstring& strUserName, const std::wstring& strPassword, std::wstring* pstrError)
{
    return m_pImpl->SetPassword(strUserName, strPassword, pstrError);
}

Rms::RmsResult XTRmsService::Unlock(const std::wstring& strUserName, std::wstring* pstrError)
{
    return m_pImpl->Unlock(strUserName, pstrError);
}

Rms::RmsResult XTRmsService::SetDisabled(const std::wstring& strUserName, bool bDisabled, std::wstring* pstrError)
{
    return m_pImpl->SetDisabled(strUserName, bDisabled, pstrError);
}

std::vector<XTRmsUserRecord> XTRmsService::ListUsers() const
{
    return m_pImpl->ListUsers();
}

bool XTRmsService::ExportCsv(std::wstring* pstrCsv, std::wstring* pstrError) const
{
    return m_pImpl->ExportCsv(pstrCsv, pstrError);
}

bool XTRmsService::ImportCsv(const std::wstring& strCsv, std::wstring* pstrError)
{
    return m_pImpl->ImportCsv(strCsv, pstrError);
}

Rms::RmsResult XTRmsService::DefineSite(const std::vector<XTRmsRestrictionDefinition>& vecRights,
    const std::vector<XTRmsRoleDefinition>& vecRoles, size_t* pnChanges, std::wstring* pstrError)
{
    size_t nChanges = 0;
    XTRmsSiteDefinition definition{vecRights, vecRoles, {}, false};
    bool bOk = m_pImpl->DefineSite(definition, &nChanges, pstrError);
    if (pnChanges != nullptr)
        *pnChanges = nChanges;
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

Rms::RmsResult XTRmsService::DefineSite(const std::vector<XTRmsRestrictionDefinition>& vecRights,
    const std::vector<XTRmsRoleDefinition>& vecRoles, const std::vector<int>& vecSignedRights, size_t* pnChanges,
    std::wstring* pstrError)
{
    size_t nChanges = 0;
    XTRmsSiteDefinition definition{vecRights, vecRoles, vecSignedRights, true};
    bool bOk = m_pImpl->DefineSite(definition, &nChanges, pstrError);
    if (pnChanges != nullptr)
        *pnChanges = nChanges;
    return bOk ? Rms::RmsSuccess : Rms::RmsFailure;
}

bool XTRmsService::ParseSiteDefinition(const std::wstring& strText, std::vector<XTRmsRestrictionDefinition>* pvecRights,
    std::vector<XTRmsRoleDefinition>* pvecRoles, std::vector<int>* pvecSignedRights, std::wstring* pstrError)
{
    XTRmsSiteDefinition definition;
    if (!XTRmsSiteDefinition::Parse(strText, &definition, pstrError))
        return false;
    *pvecRights = std::move(definition.vecRights);
    *pvecRoles = std::move(definition.vecRoles);
    *pvecSignedRights = std::move(definition.vecSignedRights);
    return true;
}

bool XTRmsService::ParseSiteDefinition(const std::wstring& strText, std::vector<XTRmsRestrictionDefinition>* pvecRights,
    std::vector<XTRmsRoleDefinition>* pvecRoles, std::wstring* pstrError)
{
    XTRmsSiteDefinition definition;
    if (!XTRmsSiteDefinition::Parse(strText, &definition, pstrError))
        return false;
    *pvecRights = std::move(definition.vecRights);
    *pvecRoles = std::move(definition.vecRoles);
    return true;
}

std::vector<std::wstring> XTRmsService::GetDefinitionDifferences() const
{
    return m_pImpl->GetDefinitionDifferences();
}

std::vector<XTRmsAuditEntry> XTRmsService::GetAuditTrail(size_t nCount) const
{
    return m_pImpl->GetAuditTrail(nCount);
}

bool XTRmsService::VerifyAuditChain(std::wstring* pstrProblem, bool* pbReadable) const
{
    return VerifyAuditChainSince(std::wstring(), pstrProblem, pbReadable);
}

bool XTRmsService::VerifyAuditChainSince(
    const std::wstring& strCheckpoint, std::wstring* pstrProblem, bool* pbReadable) const
{
    return m_pImpl->VerifyAuditChainSince(strCheckpoint, pstrProblem, pbReadable);
}

bool XTRmsService::AuditCheckpoint(std::wstring* pstrCheckpoint, std::wstring* pstrError) const
{
    return m_pImpl->AuditCheckpoint(pstrCheckpoint, pstrError);
}

bool XTRmsService::CanReadAudit() const
{
    return m_pImpl->CanReadAudit();
}

bool XTRmsService::QueryAudit(const XTRmsAuditFilter& filter, long long nBeforeSequence, size_t nCount,
    std::vector<XTRmsAuditRow>* pvecRows, std::wstring* pstrError)
{
    pvecRows->clear();
    std::vector<XTRmsAuditEntry> vecEntries;
    if (!m_pImpl->QueryAudit(filter, nBeforeSequence, nCount, &vecEntries, pstrError))
        return false;
    pvecRows->reserve(vecEntries.size());
    for (XTRmsAuditEntry& entry : vecEntries)
    {
        XTRmsAuditRow row;
        row.nSequence = entry.nSequence;
        row.strTimeUtc = std::move(entry.strTimeUtc);
        row.strWorkstation = std::move(entry.strWorkstation);
        row.strOsUser = std::move(entry.strOsUser);
        row.strActor = std::move(entry.strActor);
        row.strEvent = std::move(entry.strEvent);
        row.strSubject = std::move(entry.strSubject);
        row.strDetail = std::move(entry.strDetail);
        pvecRows->push_back(std::move(row));
    }
    return true;
}

bool XTRmsService::VerifyAuditTrail(bool* pbIntact, std::wstring* pstrProblem)
{
    bool bReadable = false;
    std::wstring strProblem;
    bool bIntact = m_pImpl->VerifyAuditChainSince(std::wstring(), &strProblem, &bReadable);
    if (pbIntact != nullptr)
        *pbIntact = bIntact;
    if (pstrProblem != nullptr)
        *pstrProblem = strProblem;
    return bReadable;
}

bool XTRmsService::CheckAuditFilter(const XTRmsAuditFilter& filter, std::wstring* pstrError)
{
    XTRmsAuditQuery query;
    return XTRmsAuditQuery::FromFilter(filter, &query, pstrError);
}

Rms::ERmsPasswordResult XTRmsService::ChangeExpiredPassword(
    const std::wstring& strUserName, const std::wstring& strOldPassword, const std::wstring& strNewPassword)
{
    return m_pImpl->ChangeExpiredPassword(strUserName, strOldPassword, strNewPassword);
}

bool XTRmsService::LockSession()
{
    return m_pImpl->LockSession();
}

bool XTRmsService::IsSessionLocked() const
{
    return m_pImpl->IsSessionLocked();
}

Rms::ERmsLoginResult XTRmsService::UnlockSession(const std::wstring& strPassword)
{
    return m_pImpl->UnlockSession(strPassword);
}

Rms::ERmsLoginResult XTRmsService::SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword)
{
    return m_pImpl->SwitchUser(strUserName, strPassword);
}

Rms::ERmsSignResult XTRmsService::Sign(const std::wstring& strUserName, const std::wstring& strPassword,
    const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
    XTRmsSignature* pSignature)
{
    return m_pImpl->Sign(strUserName, strPassword, strMeaning, strReason, strFirstSigner, pSignature);
}

bool XTRmsService::IsSignatureRequired(int nRestrictionId) const
{
    return m_pImpl->IsSignatureRequired(nRestrictionId);
}
