#include "XTRmDemoMainFrame.h"

#include "XTRmDemoApp.h"
#include "XTRmDemoIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmUiRobot.h"

#include <cstdio>

namespace
{
const UINT WM_XTRM_DEMO_HEADLESS = WM_APP + 40;
}

BEGIN_MESSAGE_MAP(XTRmDemoMainFrame, CFrameWnd)
    ON_COMMAND(ID_XTRM_DEMO_FILE_EXIT, &XTRmDemoMainFrame::OnFileExit)
    ON_COMMAND(ID_XTRM_DEMO_ADMIN_USERS, &XTRmDemoMainFrame::OnAdminUsers)
    ON_COMMAND(ID_XTRM_DEMO_ADMIN_SETTINGS, &XTRmDemoMainFrame::OnAdminSettings)
    ON_COMMAND(ID_XTRM_DEMO_ADMIN_LOGIN, &XTRmDemoMainFrame::OnAdminLogin)
    ON_COMMAND(ID_XTRM_DEMO_ADMIN_CONNECTION, &XTRmDemoMainFrame::OnAdminConnection)
    ON_MESSAGE(WM_XTRM_DEMO_HEADLESS, &XTRmDemoMainFrame::OnHeadlessStep)
END_MESSAGE_MAP()

XTRmDemoMainFrame::XTRmDemoMainFrame() = default;

BOOL XTRmDemoMainFrame::Create()
{
    if (!LoadFrame(IDR_XTRM_DEMO_MAINFRAME, WS_OVERLAPPEDWINDOW))
        return FALSE;
    SetWindowPos(nullptr, 40, 40, 760, 480, SWP_NOZORDER | SWP_NOACTIVATE);
    return TRUE;
}

void XTRmDemoMainFrame::OnFileExit()
{
    PostMessage(WM_CLOSE);
}

void XTRmDemoMainFrame::OnAdminUsers()
{
    bool bEditAllowed = DemoApp().GetService().GetIsAllowed(XTRmDemoRightManageUsers);
    bool bViewOnly = false;
    XTRmRestrictionManager::ShowUserManagementDlg(bEditAllowed, bViewOnly, this);
}

void XTRmDemoMainFrame::OnAdminSettings()
{
    XTRmRestrictionManager::ShowSettingsDlg(this);
}

void XTRmDemoMainFrame::OnAdminLogin()
{
    XTRmRestrictionManager::ShowUserLoginDlg(DemoApp().GetService().GetCurrentUser(), std::wstring(), true);
}

void XTRmDemoMainFrame::OnAdminConnection()
{
    XTRmRestrictionManager::ShowConnectionDlg();
}

void XTRmDemoMainFrame::RunHeadlessTour()
{
    // After the window has painted: the step runs from the message loop.
    PostMessage(WM_XTRM_DEMO_HEADLESS, 0);
}

LRESULT XTRmDemoMainFrame::OnHeadlessStep(WPARAM wParam, LPARAM)
{
    if (wParam == 0)
    {
        std::wstring strPath = DemoApp().OutputPath(L"main-window.png");
        if (XTRmSaveWindowScreenshot(m_hWnd, strPath))
            std::printf("screenshot: %ls\n", strPath.c_str());
        else
            std::printf("screenshot failed: %ls\n", strPath.c_str());
        PostMessage(WM_CLOSE);
    }
    return 0;
}
