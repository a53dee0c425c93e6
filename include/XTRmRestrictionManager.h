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
//
// ShowUserLoginDlg answers a login whose password has expired with the
// change-password dialog at once: changed, the user is logged in; cancelled,
// the refusal is shown and the login dialog comes back. SendUserLogin shows
// no dialog and reports the expiry as a refusal.
#pragma once

#include "XTRmApi.h"
#include "XTRmsRestrictionManagerServiceBase.h"
#include "XTRmsSessionServiceBase.h"

#include <functional>
#include <string>
#include <vector>

class CWnd;

// The progress function of a host that shows no progress; the start-up calls
// it in place of an empty one, which would throw when called.
inline void XTRmNoProgress(bool /*bWorking*/)
{
}

// How SignAction asks for a signature.
struct XTRmSignOptions
{
    // Someone other than the logged-in user may sign: the signer's name is
    // editable. Otherwise it is the logged-in user's and read-only.
    bool bOtherSignerAllowed = false;
    // "Four eyes": a second signature by another person follows the first;
    // its record goes to *pSecondSignature (may be null).
    bool bFourEyes = false;
    XTRmsSignature* pSecondSignature = nullptr;
};

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

    // Electronic signatures (core/XTRmSignatures.cpp). SignAction shows the
    // signing dialog for strMeaning with the host's reasons to choose from
    // (or a reason typed); the service checks the signer's password and
    // records the signature. True only when every signature asked for was
    // given; the records then go to *pSignature (may be null) and, for four
    // eyes, to *options.pSecondSignature. False without a dialog when the
    // service cannot sign or the meaning is empty; false after a message when
    // the signer is to be the logged-in user and nobody named is logged in.
    static bool SignAction(CWnd* pParent, const std::wstring& strMeaning, const std::vector<std::wstring>& vecReasons,
        XTRmsSignature* pSignature, const XTRmSignOptions& options = XTRmSignOptions());
    // For a host's command handler: true at once when the right needs no
    // signature (or the service knows no signatures), else SignAction's
    // answer for the logged-in user.
    static bool ConfirmCommand(
        CWnd* pParent, int nRestrictionId, const std::wstring& strMeaning, const std::vector<std::wstring>& vecReasons);
    // Locks the session after nMinutes without keyboard or mouse input on
    // the calling (GUI) thread: the service's LockSession, then a lock dialog
    // over pMainWnd with every window of the thread disabled until the same
    // user unlocks with his password or another user logs in. After such a
    // switch fnUserChanged gets the new user's name once the host's windows
    // are enabled again; the host then rebuilds its XTRmRestrictionsMenu and
    // adapts freshly loaded menus and toolbars (XTRmRestrictionsMenu::
    // ReloadMenu). False, and nothing watched, when the service has no
    // session interface or nMinutes is 0. Calling it again replaces the
    // earlier settings. Implemented in core/XTRmInactivityLock.cpp.
    static bool EnableInactivityLock(
        CWnd* pMainWnd, unsigned int nMinutes, std::function<void(const std::wstring& strUser)> fnUserChanged);
    static void DisableInactivityLock();
    // Locks at once (a host's "Lock" command). True when the lock dialog was
    // shown; false when the session cannot be locked (no session interface,
    // nobody or a guest logged in) or a lock is showing already.
    static bool LockNow();
    // What the lock's one-second timer runs: locks when the clock shows
    // nMinutes since the last input. Public, like the clock below, for tests
    // and repeatable (headless) runs that move their own clock and need not
    // wait for the timer. True when it locked.
    static bool CheckInactivity();
    // The clock the lock measures with, in milliseconds; empty means
    // GetTickCount64. For tests and repeatable runs only.
    static void SetInactivityClock(std::function<unsigned long long()> fnMilliseconds);

private:
    // The tests' window on the caption and background rules.
    friend struct XTRmFacadeAccess;

    static std::wstring GetApplicationName();
    static int GetApplicationBackgroundImageID();
    static void HandleRMConnectionResult(const Rms::RmsConnectionTest& nResult);
    static bool HandleUserLoginResult(const Rms::ERmsLoginResult& nResult);
    // After UserLogin answered that the password has expired: true when the
    // user changed it and is logged in. Wipes strPassword.
    static bool ChangeExpiredPassword(const std::wstring& strUserName, std::wstring& strPassword);

    static XTRmsRestrictionManagerServiceBase* ms_pRestrictionManagerService;
    static std::wstring ms_strApplicationNameForCaption;
};
