#include "XTRmsScriptedService.h"

#include <algorithm>

namespace
{
std::wstring B(bool b)
{
    return b ? L"true" : L"false";
}

std::wstring I(int n)
{
    return std::to_wstring(n);
}
} // namespace

std::vector<std::wstring> XTRmsScriptedService::CallsNamed(std::initializer_list<std::wstring> names) const
{
    std::vector<std::wstring> result;
    for (const std::wstring& strCall : vecCalls)
    {
        if (std::find(names.begin(), names.end(), strCall.substr(0, strCall.find(L'('))) != names.end())
            result.push_back(strCall);
    }
    return result;
}

std::vector<std::wstring> XTRmsScriptedService::ChangingCalls() const
{
    return CallsNamed({L"SetUserIsAllowed", L"CreateUser", L"RemoveUser", L"LoadUserProfiles", L"SaveUserProfiles",
        L"SetServerSetting"});
}

Rms::RmsConnectionTest XTRmsScriptedService::TryConnectToRestrictionSource(Rms::RmsApplicationType nType,
    const std::wstring& strPath4, int nMode, int nParam1, int nParam2, const std::wstring& strPath5)
{
    Record(L"TryConnectToRestrictionSource(" + I(nType) + L"," + strPath4 + L"," + I(nMode) + L"," + I(nParam1) + L"," +
        I(nParam2) + L"," + strPath5 + L")");
    return Pop(queConnectionTests, nDefaultConnectionTest);
}

Rms::RmsResult XTRmsScriptedService::Initialize(Rms::RmsApplicationType nType, const std::wstring& strPath1,
    const std::wstring& strPath2, const std::wstring& strPath3, const std::wstring& strPath4, int nParam1, int nParam2,
    const std::wstring& strPath5)
{
    Record(L"Initialize(" + I(nType) + L"," + strPath1 + L"," + strPath2 + L"," + strPath3 + L"," + strPath4 + L"," +
        I(nParam1) + L"," + I(nParam2) + L"," + strPath5 + L")");
    return nInitializeResult;
}

bool XTRmsScriptedService::GetNeedLogin() const
{
    Record(L"GetNeedLogin()");
    return bNeedLogin;
}

Rms::RmsApplicationType XTRmsScriptedService::GetApplicationType() const
{
    Record(L"GetApplicationType()");
    return nApplicationType;
}

XTRmsServerSetting XTRmsScriptedService::GetServerSetting() const
{
    Record(L"GetServerSetting()");
    return serverSetting;
}

void XTRmsScriptedService::SetServerSetting(const XTRmsServerSetting& setting)
{
    Record(L"SetServerSetting(" + setting.GetHost() + L"," + I(setting.GetPortNum()) + L")");
    serverSetting = setting;
}

Rms::ERmsLoginResult XTRmsScriptedService::UserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    Record(L"UserLogin(" + strUserName + L"," + strPassword + L")");
    return Pop(queLoginResults, nDefaultLoginResult);
}

Rms::ERmsLoginResult XTRmsScriptedService::ReconnectToRestrictionSource()
{
    Record(L"ReconnectToRestrictionSource()");
    return Pop(queReconnectResults, nDefaultReconnectResult);
}

bool XTRmsScriptedService::IsGuestLoginAllowed() const
{
    Record(L"IsGuestLoginAllowed()");
    return bGuestLoginAllowed;
}

std::wstring XTRmsScriptedService::GetLastServerMessage() const
{
    Record(L"GetLastServerMessage()");
    return strLastServerMessage;
}

bool XTRmsScriptedService::GetIsAllowed(int nRestrictionId) const
{
    Record(L"GetIsAllowed(" + I(nRestrictionId) + L")");
    return setDeniedRights.count(nRestrictionId) == 0;
}

std::vector<XTRmsUserInfo> XTRmsScriptedService::GetAllDefinedUsers() const
{
    Record(L"GetAllDefinedUsers()");
    return vecDefinedUsers;
}

std::vector<XTRmsUserInfo> XTRmsScriptedService::GetAllUsers() const
{
    Record(L"GetAllUsers()");
    return vecAllUsers;
}

std::vector<XTRmsUserInfo> XTRmsScriptedService::GetLocalUsers() const
{
    Record(L"GetLocalUsers()");
    return vecLocalUsers;
}

std::vector<XTRmsRoleInfo> XTRmsScriptedService::GetAllRoles() const
{
    Record(L"GetAllRoles()");
    return vecRoles;
}

Rms::RmsUserRole XTRmsScriptedService::GetInitialRole() const
{
    Record(L"GetInitialRole()");
    return nInitialRole;
}

std::vector<XTRmsRestrictionDefinition> XTRmsScriptedService::GetRoleRestrDefinitions() const
{
    Record(L"GetRoleRestrDefinitions()");
    return vecDefinitions;
}

Rms::RmsResult XTRmsScriptedService::GetUserIsAllowed(
    const std::wstring& strUserName, int nRestrictionId, bool* pbAllowed) const
{
    Record(L"GetUserIsAllowed(" + strUserName + L"," + I(nRestrictionId) + L")");
    auto it = mapUserRights.find({strUserName, nRestrictionId});
    if (pbAllowed != nullptr)
        *pbAllowed = it != mapUserRights.end() && it->second;
    // A failing call may still have written its answer: only the result says
    // whether to believe it.
    return nGetUserIsAllowedResult;
}

Rms::RmsResult XTRmsScriptedService::SetUserIsAllowed(
    const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    Record(L"SetUserIsAllowed(" + strUserName + L"," + I(nRestrictionId) + L"," + B(bAllowed) + L")");
    mapUserRights[{strUserName, nRestrictionId}] = bAllowed;
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsScriptedService::CreateUser(const std::wstring& strUserName, Rms::RmsUserRole nRole)
{
    Record(L"CreateUser(" + strUserName + L"," + I(nRole) + L")");
    if (nCreateUserResult == Rms::RmsSuccess && !HasProfile(strUserName))
    {
        std::wstring strFullName;
        for (const auto* pUsers : {&vecAllUsers, &vecLocalUsers})
        {
            for (const XTRmsUserInfo& user : *pUsers)
            {
                if (user.GetUserNameW() == strUserName)
                    strFullName = user.GetFullName();
            }
        }
        vecDefinedUsers.emplace_back(strUserName, strFullName);
    }
    return nCreateUserResult;
}

Rms::RmsResult XTRmsScriptedService::RemoveUser(const std::wstring& strUserName)
{
    Record(L"RemoveUser(" + strUserName + L")");
    if (nRemoveUserResult == Rms::RmsSuccess)
    {
        vecDefinedUsers.erase(std::remove_if(vecDefinedUsers.begin(), vecDefinedUsers.end(),
                                  [&](const XTRmsUserInfo& user) { return user.GetUserNameW() == strUserName; }),
            vecDefinedUsers.end());
    }
    return nRemoveUserResult;
}

void XTRmsScriptedService::MarkProfilesSaved()
{
    m_vecSavedUsers = vecDefinedUsers;
    m_mapSavedRights = mapUserRights;
    m_bSaved = true;
}

Rms::RmsResult XTRmsScriptedService::LoadUserProfiles()
{
    Record(L"LoadUserProfiles()");
    if (m_bSaved)
    {
        vecDefinedUsers = m_vecSavedUsers;
        mapUserRights = m_mapSavedRights;
    }
    return Rms::RmsSuccess;
}

Rms::RmsResult XTRmsScriptedService::SaveUserProfiles()
{
    Record(L"SaveUserProfiles()");
    MarkProfilesSaved();
    return Rms::RmsSuccess;
}

bool XTRmsScriptedService::IsUserDefined(const std::wstring& strUserName) const
{
    Record(L"IsUserDefined(" + strUserName + L")");
    return HasProfile(strUserName) && setReportedUndefined.count(strUserName) == 0;
}

bool XTRmsScriptedService::HasProfile(const std::wstring& strUserName) const
{
    return std::any_of(vecDefinedUsers.begin(), vecDefinedUsers.end(),
        [&](const XTRmsUserInfo& user) { return user.GetUserNameW() == strUserName; });
}

bool XTRmsScriptedService::IsSuperUser(const std::wstring& strUserName) const
{
    Record(L"IsSuperUser(" + strUserName + L")");
    return setSuperUsers.count(strUserName) != 0;
}

bool XTRmsScriptedService::IsDomainActive() const
{
    Record(L"IsDomainActive()");
    return bDomainActive;
}

std::wstring XTRmsScriptedService::GetSettingsString() const
{
    Record(L"GetSettingsString()");
    return strSettings;
}
