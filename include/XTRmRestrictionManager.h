// XTRm's façade: what a host calls to log its user in, to connect to the rights
// server and to open the administration dialogs. Static members only, called
// on the GUI thread.
//
// Call order: SetRestrictionManagerService (and SetApplicationName, for the
// captions) first, then InitializeRestrictions, then the rest. The start-up,
// login and connection members use the service unchecked: called without one
// they dereference a null pointer. Only the administration members check:
// ShowUserManagementDlg and ShowSettingsDlg then do nothing and
// ShowChangePasswordDlg returns false.
//
// InitializeRestrictions answers
//   RmsInitReady (1)               the source answered, at once or after the
//                                  user retried it in the source selector;
//                                  the service is initialized and, when it
//                                  needs a login, the user logged in;
//   RmsInitReadyThroughServer (3)  the same through the rights server, which
//                                  the user chose in the source selector;
//   RmsInitServiceFailed (4)       the service's Initialize failed, or the
//                                  selector handed back an unknown choice;
//   RmsInitCancelled (5)           the user cancelled the selector, the
//                                  connection settings or the login, or a
//                                  rights-server test answered
//                                  RmsConnectionOk or RmsConnectionAborted.
// The host goes on only for 1 and 3. *pServiceResult (may be null) receives
// the service's Initialize result when Initialize ran, else it is left alone.
// fnProgress(false) comes before each dialog or message box, fnProgress(true)
// when XTRm works again; an empty function means XTRmNoProgress.
//
// Implemented in core/XTRmRestrictionManager.cpp (service and application
// name), core/XTRmInitialization.cpp (InitializeRestrictions),
// core/XTRmLoginFlow.cpp (ShowUserLoginDlg, SendUserLogin, SendUserReLogin),
// core/XTRmServerConnection.cpp (InitServerConnection, ShowConnectionDlg) and
// admin/XTRmAdministration.cpp (ShowUserManagementDlg, ShowSettingsDlg,
// ShowChangePasswordDlg).
#pragma once

#include "XTRmApi.h"
#include "XTRmsRestrictionManagerServiceBase.h"

#include <functional>
#include <string>

class CWnd;

// The progress function of a host that shows no progress; the start-up calls
// it in place of an empty one, which would throw when called.
inline void XTRmNoProgress(bool /*bWorking*/)
{
}

class XTRM_API XTRmRestrictionManager
{
public:
    XTRmRestrictionManager() = delete;

    // The version of the XTRm.dll that is loaded, as XTRM_VERSION counts it:
    // a host built against other headers compares the two.
    static int GetVersion();

    // The host owns the service and keeps it alive while XTRm may call it.
    static void SetRestrictionManagerService(XTRmsRestrictionManagerServiceBase* pService);
    // Shown in the captions of the start-up dialogs; empty means the MFC
    // application's own name.
    static void SetApplicationName(const std::wstring& strApplicationName);

    static Rms::RmsInitResult InitializeRestrictions(Rms::RmsApplicationType nApplicationType,
        const Rms::ClientPaths& paths, const Rms::ClientSettings& settings, std::function<void(bool)> fnProgress,
        Rms::RmsResult* pServiceResult);

    static bool InitServerConnection(Rms::RmsConnectionTest& nLastTest, Rms::RmsApplicationType nApplicationType,
        const Rms::ClientPaths& paths, const Rms::ClientSettings& settings, bool& bConnected,
        std::function<void(bool)> fnProgress);
    static bool ShowConnectionDlg();

    static Rms::ERmsLoginResult ShowUserLoginDlg(
        const std::wstring& strUserName, const std::wstring& strPassword, bool bGuestLoginOffered);
    static bool SendUserLogin(const std::wstring& strUserName, const std::wstring& strPassword);
    static bool SendUserReLogin();

    static void ShowUserManagementDlg(const bool& bEditAllowed, const bool& bViewOnly, CWnd* pParent);
    static void ShowSettingsDlg(CWnd* pParent);
    // Lets the logged-in user change his password (an administrator also
    // another user's). False, and nothing shown, when the service has no
    // password interface; false after a message when nobody or a guest is
    // logged in; true only when a password was changed.
    static bool ShowChangePasswordDlg(CWnd* pParent);
    // An administrator's review of the audit trail: filters, pages, export
    // to CSV and a check of the chain. Nothing shown when the service has no
    // audit interface (XTRmsAuditServiceBase); a message instead when the
    // logged-in user may not read the trail.
    static void ShowAuditTrailDlg(CWnd* pParent);

private:
    // The tests' window on the caption and background rules.
    friend struct XTRmFacadeAccess;

    static std::wstring GetApplicationName();
    static int GetApplicationBackgroundImageID();
    static void HandleRMConnectionResult(const Rms::RmsConnectionTest& nResult);
    static bool HandleUserLoginResult(const Rms::ERmsLoginResult& nResult);

    static XTRmsRestrictionManagerServiceBase* ms_pRestrictionManagerService;
    static std::wstring ms_strApplicationNameForCaption;
};
