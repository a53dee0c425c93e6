#include "XTRmDemoAdmin.h"

#include "XTRmDemoApp.h"
#include "XTRmDemoIds.h"
#include "XTRmDemoMainFrame.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmUiRobot.h"

#include "XTTxtsTextService.h"

#include <cstdio>

namespace
{
// The account the tour gives a profile: one of the directory's, which the
// add-user dialog lists after "all users".
const wchar_t* const kTourUser = L"PLANT\\erin";
// Its right that the tour takes away: one that its role grants.
const int kTourRightIndex = 5; // check box of "Export data"
const int kTourRight = XTRmDemoRightExportData;
// The first password the administrator gives it.
const wchar_t* const kTourPassword = L"night-shift-7";
// The one she chooses at her first login, when that password is due.
const wchar_t* const kTourNewPassword = L"dawn-shift-8";
const wchar_t* const kAdministrator = L"admin";
// Who takes over at the lock after nobody worked for a while.
const wchar_t* const kSwitchUser = L"alice";
// The tour's own clock for the lock on inactivity: minutes pass at once.
unsigned long long g_nTourClock = 0;
// Enough of the audit trail's end to hold everything the tour did.
const size_t kAuditEntriesRead = 50;

int FindRow(const std::vector<std::wstring>& vecRows, const std::wstring& strUserName)
{
    for (size_t i = 0; i < vecRows.size(); ++i)
    {
        // A row is the user name, possibly followed by " [full name]".
        if (vecRows[i] == strUserName || vecRows[i].rfind(strUserName + L" [", 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int FindRow(const XTRmDialogDriver& d, int nListId, const std::wstring& strUserName)
{
    return FindRow(d.GetListRows(nListId), strUserName);
}

// The robot's driver knows list boxes; a drop-down list is picked from the
// same way a click would, with the notification its dialog waits for.
bool SelectComboRow(const XTRmDialogDriver& d, int nComboId, const std::wstring& strUserName)
{
    HWND hCombo = ::GetDlgItem(d.GetHwnd(), nComboId);
    std::vector<std::wstring> vecRows;
    const int nCount = hCombo != nullptr ? static_cast<int>(::SendMessageW(hCombo, CB_GETCOUNT, 0, 0)) : 0;
    for (int i = 0; i < nCount; ++i)
    {
        std::wstring strRow(static_cast<size_t>(::SendMessageW(hCombo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        strRow.resize(
            static_cast<size_t>(::SendMessageW(hCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&strRow[0]))));
        vecRows.push_back(strRow);
    }
    const int nRow = FindRow(vecRows, strUserName);
    if (nRow < 0 || !::IsWindowEnabled(hCombo))
        return false;
    ::SendMessageW(hCombo, CB_SETCURSEL, nRow, 0);
    ::SendMessageW(d.GetHwnd(), WM_COMMAND, MAKEWPARAM(nComboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(hCombo));
    return true;
}

void Screenshot(const XTRmDialogDriver& d, const wchar_t* pszFileName)
{
    // A dialog that has only just appeared may not be on the screen yet under
    // Wine: let it handle what is queued for it (its painting above all) for
    // a moment first.
    const DWORD nStart = ::GetTickCount();
    MSG msg;
    while (::GetTickCount() - nStart < 500)
    {
        while (::PeekMessageW(&msg, d.GetHwnd(), 0, 0, PM_REMOVE))
        {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(20);
    }
    const std::wstring strPath = DemoApp().OutputPath(pszFileName);
    if (d.SaveScreenshot(strPath))
        std::printf("screenshot: %ls\n", strPath.c_str());
    else
        d.Fail("screenshot failed: " + std::string(strPath.begin(), strPath.end()));
}

// The signing dialog filled in as the administrator would: his password and
// the host's first reason, picked from the list.
void SignAsAdministrator(XTRmDialogDriver& d)
{
    d.Type(IDC_XTRM_SIGN_PASSWORD, XTRmDemoAccountPassword(kAdministrator));
    d.Focus(IDC_XTRM_SIGN_REASON);
    HWND hReasons = ::GetDlgItem(d.GetHwnd(), IDC_XTRM_SIGN_REASON);
    ::SendMessageW(hReasons, CB_SETCURSEL, 0, 0);
    ::SendMessageW(
        d.GetHwnd(), WM_COMMAND, MAKEWPARAM(IDC_XTRM_SIGN_REASON, CBN_SELCHANGE), reinterpret_cast<LPARAM>(hReasons));
}

// How a command of the main menu looks to its user now.
std::string MenuState(CWnd* pFrame, UINT nId)
{
    const UINT nState = ::GetMenuState(::GetMenu(pFrame->GetSafeHwnd()), nId, MF_BYCOMMAND);
    return nState == static_cast<UINT>(-1) ? "absent" : (nState & MF_GRAYED) != 0 ? "greyed" : "shown";
}

std::string Narrow(const std::wstring& strText)
{
    return std::string(strText.begin(), strText.end());
}

// The plant's rule that the tour shows at erin's first login: a password an
// administrator gives is the user's to change at the next login. The demo's
// published accounts were created before it held.
void RequireChangeAfterReset(XTRmsService& service)
{
    XTRmsPolicy policy = service.GetPolicy();
    if (policy.bMustChangeAfterReset)
        return;
    policy.bMustChangeAfterReset = true;
    std::wstring strError;
    if (service.SetPolicy(policy, &strError) != Rms::RmsSuccess)
        DemoApp().ReportFailure(
            "the policy cannot require a change after an administrator's password: " + Narrow(strError));
}

// erin logs in for the first time with the password the administrator gave
// her: it is due, and the login itself has her choose her own.
bool WalkFirstLogin()
{
    XTRmUiRobot robot;
    robot.Expect("XTRmUserLoginHdrDlg", [](XTRmDialogDriver& d) {
        d.SetText(IDC_XTRM_LOGIN_USER_NAME, kTourUser);
        d.Type(IDC_XTRM_LOGIN_PASSWORD, kTourPassword);
        d.PressOK();
    });
    robot.Expect("XTRmChangePasswordDlg", [](XTRmDialogDriver& d) {
        d.Type(IDC_XTRM_PASSWORD_NEW, kTourNewPassword);
        d.Type(IDC_XTRM_PASSWORD_CONFIRM, kTourNewPassword);
        Screenshot(d, L"password-expired.png");
        d.PressOK();
    });
    const Rms::ERmsLoginResult nResult = XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", true);
    const std::string strFailures = robot.Finish();
    const std::wstring strUser = DemoApp().GetService().GetLoggedInUserName();
    std::printf(
        "first login of %ls: the administrator's password was due and changed within the login; "
        "logged in: %ls\n",
        kTourUser, strUser.c_str());
    if (!strFailures.empty())
        DemoApp().ReportFailure("first login:\n" + strFailures);
    if (nResult != Rms::ERmsLoginOk || strUser != kTourUser)
        DemoApp().ReportFailure("the due password did not lead through its change to a login");
    return strFailures.empty() && nResult == Rms::ERmsLoginOk && strUser == kTourUser;
}

// The user management dialog does not report a failed save itself; the
// service keeps why, until the next login.
void ReportSaveProblem(CWnd* pParent, const std::wstring& strBefore)
{
    const std::wstring strMessage = DemoApp().GetService().GetLastServerMessage();
    if (strMessage.empty() || strMessage == strBefore)
        return;
    // Nobody would be there to close a message box.
    if (DemoApp().IsHeadless())
    {
        std::printf("rights store: %ls\n", strMessage.c_str());
        return;
    }
    if (pParent != nullptr && pParent->GetSafeHwnd() != nullptr)
        pParent->MessageBox(strMessage.c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
    else
        AfxMessageBox(strMessage.c_str(), MB_OK | MB_ICONEXCLAMATION);
}
} // namespace

namespace XTRmDemoAdmin
{
void ShowUserManagement(CWnd* pParent)
{
    XTRmsService& service = DemoApp().GetService();
    const bool bEditAllowed = service.GetIsAllowed(XTRmDemoRightManageUsers);
    const bool bViewOnly = false;
    const std::wstring strBefore = service.GetLastServerMessage();
    XTRmRestrictionManager::ShowUserManagementDlg(bEditAllowed, bViewOnly, pParent);
    ReportSaveProblem(pParent, strBefore);
}

void ShowSettings(CWnd* pParent)
{
    // The settings dialog can open the user management, which may save.
    const std::wstring strBefore = DemoApp().GetService().GetLastServerMessage();
    XTRmRestrictionManager::ShowSettingsDlg(pParent);
    ReportSaveProblem(pParent, strBefore);
}

bool RunHeadlessTour(CWnd* pParent)
{
    XTRmsService& service = DemoApp().GetService();
    // The tour is the administrator's, whoever the window showed last.
    if (service.GetLoggedInUserName() != kAdministrator)
    {
        std::printf("\n--- The administrator logs in for the administration tour ---\n");
        if (service.UserLogin(kAdministrator, XTRmDemoAccountPassword(kAdministrator)) != Rms::ERmsLoginOk)
        {
            DemoApp().ReportFailure("the administrator could not log in for the administration tour");
            return false;
        }
    }

    RequireChangeAfterReset(service);

    XTRmUiRobot robot;
    robot.Expect("XTRmUserManagementDlg", [](XTRmDialogDriver& d) {
        // A profile left by an earlier run goes first, so that every run adds
        // the same user.
        const int nEarlier = FindRow(d, IDC_XTRM_USER_LIST, kTourUser);
        if (nEarlier >= 0)
        {
            d.SelectRow(IDC_XTRM_USER_LIST, nEarlier);
            d.Click(IDC_XTRM_REMOVE_USER);
        }
        Screenshot(d, L"user-management.png");
        d.Click(IDC_XTRM_ADD_USER);

        const int nAdded = FindRow(d, IDC_XTRM_USER_LIST, kTourUser);
        if (nAdded < 0)
        {
            d.Fail("the new user is not listed");
            d.PressCancel();
            return;
        }
        d.SelectRow(IDC_XTRM_USER_LIST, nAdded);
        d.Click(IDC_XTRM_RESTRICTION_CHECK1 + 2 * kTourRightIndex);
        Screenshot(d, L"user-management-changed.png");
        d.PressOK();
    });
    robot.Expect("XTRmAddUserDlg", [](XTRmDialogDriver& d) {
        // This computer's accounts first; the plant's directory on request.
        d.Click(IDC_XTRM_ALL_USERS);
        const int nRow = FindRow(d, IDC_XTRM_CANDIDATE_LIST, kTourUser);
        if (nRow < 0)
        {
            d.Fail("the directory account to add is not offered");
            d.PressCancel();
            return;
        }
        d.SelectRow(IDC_XTRM_CANDIDATE_LIST, nRow);
        d.Click(IDC_XTRM_ROLE_RADIO2); // Engineer
        Screenshot(d, L"add-user.png");
        d.PressOK();
    });
    robot.Expect("XTRmShowSettingsDlg", [](XTRmDialogDriver& d) {
        Screenshot(d, L"settings.png");
        d.Click(IDC_XTRM_OPEN_USER_MANAGEMENT);
        d.PressCancel();
    });
    robot.Expect("XTRmUserManagementDlg", [](XTRmDialogDriver& d) {
        Screenshot(d, L"user-management-view-only.png");
        d.PressCancel();
    });
    // The administrator sets the new user's first password.
    robot.Expect("XTRmChangePasswordDlg", [](XTRmDialogDriver& d) {
        if (!SelectComboRow(d, IDC_XTRM_PASSWORD_USER, kTourUser))
        {
            d.Fail("the administrator cannot pick the new user's password");
            d.PressCancel();
            return;
        }
        d.Type(IDC_XTRM_PASSWORD_NEW, kTourPassword);
        d.Type(IDC_XTRM_PASSWORD_CONFIRM, kTourPassword);
        Screenshot(d, L"change-password.png");
        d.PressOK();
    });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        if (box.GetMessageText() != Txts::GetString(IDS_XTRM_PASSWORD_CHANGED))
            box.Fail("the password change is not confirmed");
        Screenshot(box, L"password-changed.png");
        box.PressOK();
    });

    // What a regulated plant asks for: the trail reviewed on screen, a
    // signed batch release, and the session locked while nobody works.
    robot.Expect("XTRmAuditTrailDlg", [](XTRmDialogDriver& d) {
        d.Click(IDC_XTRM_AUDIT_VERIFY);
        Screenshot(d, L"audit-trail.png");
        d.PressCancel();
    });
    robot.Expect("XTRmSignatureDlg", [](XTRmDialogDriver& d) {
        SignAsAdministrator(d);
        Screenshot(d, L"signature.png");
        d.PressOK();
    });
    // The plant's configuration is a signed command: the menu asks first.
    const bool bSignedCommand = service.IsSignatureRequired(XTRmDemoRightConfigurePlant);
    if (bSignedCommand)
    {
        robot.Expect("XTRmSignatureDlg", [](XTRmDialogDriver& d) {
            SignAsAdministrator(d);
            d.PressOK();
        });
    }
    robot.Expect("XTRmLockDlg", [](XTRmDialogDriver& d) {
        Screenshot(d, L"lock.png");
        d.Type(IDC_XTRM_LOCK_PASSWORD, XTRmDemoAccountPassword(kAdministrator));
        d.PressOK();
    });
    // Nobody works for a while: the lock comes by itself, alice takes over,
    // and at the next lock the administrator takes the plant back.
    for (const wchar_t* pszUser : {kSwitchUser, kAdministrator})
    {
        robot.Expect("XTRmLockDlg", [pszUser](XTRmDialogDriver& d) {
            d.SetText(IDC_XTRM_LOCK_USER, pszUser);
            d.Type(IDC_XTRM_LOCK_PASSWORD, XTRmDemoAccountPassword(pszUser));
            d.PressOK();
        });
    }

    ShowUserManagement(pParent);
    ShowSettings(pParent);
    XTRmRestrictionManager::ShowChangePasswordDlg(pParent);
    XTRmRestrictionManager::ShowAuditTrailDlg(pParent);
    XTRmsSignature signature;
    const bool bSigned = XTRmRestrictionManager::SignAction(
        pParent, L"Release batch 4711", {L"Batch record reviewed", L"Deviation closed"}, &signature);
    std::printf("signature: %s%ls %ls, \"%ls\", reason \"%ls\", audit row %lld\n", bSigned ? "" : "NOT given ",
        signature.strUserName.c_str(), signature.strTimeUtc.c_str(), signature.strMeaning.c_str(),
        signature.strReason.c_str(), signature.nAuditSequence);
    if (!bSigned || signature.strUserName != kAdministrator || signature.nAuditSequence <= 0)
        DemoApp().ReportFailure("the batch release was not signed");
    pParent->SendMessage(WM_COMMAND, MAKEWPARAM(ID_XTRM_DEMO_TOOLS_PLANT_CONFIG, 0), 0);
    const std::vector<XTRmsAuditEntry> vecLast = service.GetAuditTrail(1);
    const bool bCommandSigned = !vecLast.empty() && vecLast.back().strEvent == L"signature" &&
        vecLast.back().strDetail.rfind(L"Change the plant configuration", 0) == 0;
    std::printf("Tools > Plant Configuration: %s\n",
        !bSignedCommand      ? "needs no signature in this store (made before the demo asked for one)"
            : bCommandSigned ? "signed before it ran"
                             : "NOT signed");
    if (bSignedCommand && !bCommandSigned)
        DemoApp().ReportFailure("the plant configuration ran without its signature");
    const bool bLocked = XTRmRestrictionManager::LockNow();
    std::printf(
        "session lock: %s, unlocked by %ls\n", bLocked ? "shown" : "NOT shown", service.GetLoggedInUserName().c_str());
    if (!bLocked || service.IsSessionLocked() || service.GetLoggedInUserName() != kAdministrator)
        DemoApp().ReportFailure("the session lock did not lock and unlock");
    const std::string strAdminConfig = MenuState(pParent, ID_XTRM_DEMO_TOOLS_PLANT_CONFIG);
    XTRmRestrictionManager::SetInactivityClock([] { return g_nTourClock; });
    g_nTourClock += XTRmDemoMainFrame::kLockMinutes * 60ULL * 1000ULL;
    const bool bIdleLocked = XTRmRestrictionManager::CheckInactivity();
    const std::wstring strSwitched = service.GetLoggedInUserName();
    const std::string strSwitchedConfig = MenuState(pParent, ID_XTRM_DEMO_TOOLS_PLANT_CONFIG);
    XTRmRestrictionManager::LockNow();
    XTRmRestrictionManager::SetInactivityClock(nullptr);
    const std::string strBackConfig = MenuState(pParent, ID_XTRM_DEMO_TOOLS_PLANT_CONFIG);
    std::printf(
        "inactivity: locked after %u minutes without input: %s; %ls took over (Plant Configuration %s, "
        "the administrator's %s), then %ls (%s)\n",
        XTRmDemoMainFrame::kLockMinutes, bIdleLocked ? "yes" : "NO", strSwitched.c_str(), strSwitchedConfig.c_str(),
        strAdminConfig.c_str(), service.GetLoggedInUserName().c_str(), strBackConfig.c_str());
    if (!bIdleLocked || strSwitched != kSwitchUser || strSwitchedConfig == strAdminConfig ||
        service.GetLoggedInUserName() != kAdministrator || strBackConfig != strAdminConfig)
    {
        DemoApp().ReportFailure("the lock on inactivity did not hand the plant to alice and back with her menus");
    }
    const std::string strFailures = robot.Finish();

    // What was saved, read back from the store.
    service.LoadUserProfiles();
    bool bAllowed = true;
    bool bHasPassword = false;
    for (const XTRmsUserRecord& user : service.ListUsers())
    {
        if (user.strUserName == kTourUser)
            bHasPassword = user.bHasPassword;
    }
    const bool bSaved = service.IsUserDefined(kTourUser) &&
        service.GetUserIsAllowed(kTourUser, kTourRight, &bAllowed) == Rms::RmsSuccess && !bAllowed;
    // The audit trail names who did it: the administrator's session, not
    // the store's administrator behind the workstation.
    std::wstring strCreatedBy = L"nobody";
    for (const XTRmsAuditEntry& entry : service.GetAuditTrail(kAuditEntriesRead))
    {
        if (entry.strEvent == L"user-created" && entry.strSubject == kTourUser)
            strCreatedBy = entry.strActor;
    }
    const bool bAudited = strCreatedBy == kAdministrator;
    std::printf(
        "administration: %ls added as engineer, export right taken away, saved: %s; password set: %s; "
        "audited as created by %ls\n",
        kTourUser, bSaved ? "yes" : "NO", bHasPassword ? "yes" : "NO", strCreatedBy.c_str());
    if (!strFailures.empty())
        DemoApp().ReportFailure("administration tour:\n" + strFailures);
    if (!bSaved || !bHasPassword)
        DemoApp().ReportFailure("the store does not hold what the administration tour saved");
    if (!bAudited)
        DemoApp().ReportFailure("the audit trail does not name the administrator for the new user");
    const bool bFirstLogin = WalkFirstLogin();
    return bSaved && bHasPassword && bAudited && strFailures.empty() && bFirstLogin;
}
} // namespace XTRmDemoAdmin
