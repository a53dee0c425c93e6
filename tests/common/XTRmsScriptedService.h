// A rights service for tests: answers from per-test tables, keeps a small
// working model of users and rights so that dialogs see their own changes,
// and records every call with its arguments, in order.
#pragma once

#include "XTRmsRestrictionManagerServiceBase.h"

#include <deque>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class XTRmsScriptedService : public XTRmsRestrictionManagerServiceBase
{
public:
    // --- answers ---------------------------------------------------------
    // Queues are consumed one answer per call; when empty the default answers.
    std::deque<Rms::RmsConnectionTest> queConnectionTests;
    Rms::RmsConnectionTest nDefaultConnectionTest = Rms::RmsConnectionOk;
    Rms::RmsResult nInitializeResult = Rms::RmsSuccess;
    bool bNeedLogin = false;
    Rms::RmsApplicationType nApplicationType = Rms::RmsApplicationStandard;
    XTRmsServerSetting serverSetting{L"localhost", 7400};
    std::deque<Rms::ERmsLoginResult> queLoginResults;
    Rms::ERmsLoginResult nDefaultLoginResult = Rms::ERmsLoginOk;
    std::deque<Rms::ERmsLoginResult> queReconnectResults;
    Rms::ERmsLoginResult nDefaultReconnectResult = Rms::ERmsLoginOk;
    bool bGuestLoginAllowed = true;
    std::wstring strLastServerMessage;
    // Rights of the current user: allowed unless listed here.
    std::set<int> setDeniedRights;

    std::vector<XTRmsUserInfo> vecDefinedUsers;
    std::vector<XTRmsUserInfo> vecAllUsers;
    std::vector<XTRmsUserInfo> vecLocalUsers;
    std::vector<XTRmsRoleInfo> vecRoles;
    Rms::RmsUserRole nInitialRole = Rms::RmsRoleNone;
    std::vector<XTRmsRestrictionDefinition> vecDefinitions;
    // Rights of each defined user: (user, restriction id) -> allowed.
    std::map<std::pair<std::wstring, int>, bool> mapUserRights;
    std::set<std::wstring> setSuperUsers;
    // Listed users whom IsUserDefined still denies a profile.
    std::set<std::wstring> setReportedUndefined;
    bool bDomainActive = false;
    std::wstring strSettings;
    Rms::RmsResult nGetUserIsAllowedResult = Rms::RmsSuccess; // the answer is written even on failure
    Rms::RmsResult nRemoveUserResult = Rms::RmsSuccess;
    Rms::RmsResult nCreateUserResult = Rms::RmsSuccess;

    // --- record ----------------------------------------------------------
    mutable std::vector<std::wstring> vecCalls;
    // Calls whose name (the text before '(') is the given one, in order.
    std::vector<std::wstring> CallsNamed(const std::wstring& strName) const { return CallsNamed({strName}); }
    std::vector<std::wstring> CallsNamed(std::initializer_list<std::wstring> names) const;
    size_t CountCalls(const std::wstring& strName) const { return CallsNamed(strName).size(); }
    // Calls that change the service (create, remove, rights, load, save, server setting).
    std::vector<std::wstring> ChangingCalls() const;

    // --- the service -----------------------------------------------------
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

    // Profiles as last saved; LoadUserProfiles goes back to them.
    void MarkProfilesSaved();

protected:
    // The next answer of a queue; the default when it is empty.
    template <typename T>
    static T Pop(std::deque<T>& que, T defaultValue)
    {
        if (que.empty())
            return defaultValue;
        T value = que.front();
        que.pop_front();
        return value;
    }

private:
    void Record(const std::wstring& strCall) const { vecCalls.push_back(strCall); }
    bool HasProfile(const std::wstring& strUserName) const;

    std::vector<XTRmsUserInfo> m_vecSavedUsers;
    std::map<std::pair<std::wstring, int>, bool> m_mapSavedRights;
    bool m_bSaved = false;
};
