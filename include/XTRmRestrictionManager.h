// XTRm's façade: what a host calls to log its user in, to connect to the rights
// server and to open the administration dialogs. Static members only.
#pragma once

#include "XTRmApi.h"
#include "XTRmsRestrictionManagerServiceBase.h"

#include <functional>
#include <string>

class CWnd;

class XTRM_API XTRmRestrictionManager
{
public:
    XTRmRestrictionManager() = delete;

    // The host owns the service and keeps it alive while XTRm may call it.
    static void SetRestrictionManagerService(XTRmsRestrictionManagerServiceBase* pService);
    // Shown in the captions of the start-up dialogs; empty means the MFC
    // application's own name.
    static void SetApplicationName(const std::wstring& strApplicationName);

    static Rms::RmsInitResult InitializeRestrictions(Rms::RmsApplicationType nApplicationType,
        const Rms::ClientPaths& paths, const Rms::ClientSettings& settings,
        std::function<void(bool)> fnProgress, Rms::RmsResult* pServiceResult);

    static bool InitServerConnection(Rms::RmsConnectionTest& nLastTest, Rms::RmsApplicationType nApplicationType,
        const Rms::ClientPaths& paths, const Rms::ClientSettings& settings, bool& bConnected,
        std::function<void(bool)> fnProgress);
    static bool ShowConnectionDlg();

    static Rms::ERmsLoginResult ShowUserLoginDlg(const std::wstring& strUserName, const std::wstring& strPassword,
        bool bGuestLoginOffered);
    static bool SendUserLogin(const std::wstring& strUserName, const std::wstring& strPassword);
    static bool SendUserReLogin();

    static void ShowUserManagementDlg(const bool& bEditAllowed, const bool& bViewOnly, CWnd* pParent);
    static void ShowSettingsDlg(CWnd* pParent);
    // Lets the logged-in user change his password (an administrator also
    // another user's). False, and nothing shown, when the service has no
    // password interface; false after a message when nobody or a guest is
    // logged in; true only when a password was changed.
    static bool ShowChangePasswordDlg(CWnd* pParent);

private:
    // The tests' window on the caption and background rules.
    friend struct XTRmFacadeAccess;

    static std::wstring GetApplicationName();
    static int GetApplicationBackgroundImageID();
    static void HandleRMConnectionResult(const Rms::RmsConnectionTest& nResult);
    static bool HandleUserLoginResult(const Rms::ERmsLoginResult& nResult);

    static XTRmsRestrictionManagerServiceBase* ms_pRestrictionManagerService;
    static std::wstring m_strApplicationNameForCaption;
};
