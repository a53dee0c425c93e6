#include "XTRmDemoAdmin.h"

#include "XTRmDemoApp.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmUiRobot.h"

#include <cstdio>

namespace
{
// The account the tour gives a profile: local, without one in the seed.
const wchar_t* const pszTourUser = L"carol";
// Its right that the tour takes away: one that its role grants.
const int nTourRightIndex = 5; // check box of "Export data"
const int nTourRight = XTRmDemoRightExportData;

int FindRow(const XTRmDialogDriver& d, int nListId, const std::wstring& strUserName)
{
    const std::vector<std::wstring> vecRows = d.GetListRows(nListId);
    for (size_t i = 0; i < vecRows.size(); ++i)
    {
        // A row is the user name, possibly followed by " [full name]".
        if (vecRows[i] == strUserName || vecRows[i].rfind(strUserName + L" [", 0) == 0)
            return static_cast<int>(i);
    }
    return -1;
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
} // namespace

namespace XTRmDemoAdmin
{
void ShowUserManagement(CWnd* pParent)
{
    const bool bEditAllowed = DemoApp().GetService().GetIsAllowed(XTRmDemoRightManageUsers);
    const bool bViewOnly = false;
    XTRmRestrictionManager::ShowUserManagementDlg(bEditAllowed, bViewOnly, pParent);
    ReportStoreMessage(pParent);
}

void ShowSettings(CWnd* pParent)
{
    XTRmRestrictionManager::ShowSettingsDlg(pParent);
    ReportStoreMessage(pParent);
}

void ReportStoreMessage(CWnd* pParent)
{
    XTRmDemoService& service = DemoApp().GetService();
    const std::wstring strMessage = service.GetStoreMessage();
    if (strMessage.empty())
        return;
    service.ClearStoreMessage();
    // Nobody would be there to close a message box.
    if (DemoApp().IsHeadless())
    {
        std::printf("profile store: %ls\n", strMessage.c_str());
        return;
    }
    if (pParent != nullptr && pParent->GetSafeHwnd() != nullptr)
        pParent->MessageBox(strMessage.c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
    else
        AfxMessageBox(strMessage.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

bool RunHeadlessTour(CWnd* pParent)
{
    XTRmUiRobot robot;
    robot.Expect("XTRmUserManagementDlg", [](XTRmDialogDriver& d) {
        // A profile left by an earlier run goes first, so that every run adds
        // the same user.
        const int nEarlier = FindRow(d, IDC_XTRM_USER_LIST, pszTourUser);
        if (nEarlier >= 0)
        {
            d.SelectRow(IDC_XTRM_USER_LIST, nEarlier);
            d.Click(IDC_XTRM_REMOVE_USER);
        }
        Screenshot(d, L"user-management.png");
        d.Click(IDC_XTRM_ADD_USER);

        const int nAdded = FindRow(d, IDC_XTRM_USER_LIST, pszTourUser);
        if (nAdded < 0)
        {
            d.Fail("the new user is not listed");
            d.PressCancel();
            return;
        }
        d.SelectRow(IDC_XTRM_USER_LIST, nAdded);
        d.Click(IDC_XTRM_RESTRICTION_CHECK1 + 2 * nTourRightIndex);
        Screenshot(d, L"user-management-changed.png");
        d.PressOK();
    });
    robot.Expect("XTRmAddUserDlg", [](XTRmDialogDriver& d) {
        const int nRow = FindRow(d, IDC_XTRM_CANDIDATE_LIST, pszTourUser);
        if (nRow < 0)
        {
            d.Fail("the account to add is not offered");
            d.PressCancel();
            return;
        }
        d.SelectRow(IDC_XTRM_CANDIDATE_LIST, nRow);
        d.Click(IDC_XTRM_ROLE_RADIO2); // Engineer
        Screenshot(d, L"add-user.png");
        d.PressOK();
    });
    // The settings dialog has no class of its own.
    robot.Expect("CDialog", [](XTRmDialogDriver& d) {
        Screenshot(d, L"settings.png");
        d.Click(IDC_XTRM_OPEN_USER_MANAGEMENT);
        d.PressOK();
    });
    robot.Expect("XTRmUserManagementDlg", [](XTRmDialogDriver& d) {
        Screenshot(d, L"user-management-view-only.png");
        d.PressCancel();
    });

    ShowUserManagement(pParent);
    ShowSettings(pParent);
    const std::string strFailures = robot.Finish();

    // What was saved, read back from the file.
    XTRmDemoService& service = DemoApp().GetService();
    service.LoadUserProfiles();
    ReportStoreMessage(pParent);
    bool bAllowed = true;
    const bool bSaved = service.IsUserDefined(pszTourUser)
        && service.GetUserIsAllowed(pszTourUser, nTourRight, &bAllowed) == Rms::RmsSuccess && !bAllowed;
    std::printf("administration: %ls added as engineer, export right taken away, profiles saved: %s\n", pszTourUser,
        bSaved ? "yes" : "NO");
    if (!strFailures.empty())
        std::printf("administration tour failed:\n%s\n", strFailures.c_str());
    return bSaved && strFailures.empty();
}
} // namespace XTRmDemoAdmin
