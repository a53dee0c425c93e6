#include "XTRmDemoMainFrame.h"

#include "XTRmDemoAdmin.h"
#include "XTRmDemoApp.h"
#include "XTRmDemoIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmUiRobot.h"

#include <cstdio>
#include <cwchar>

namespace
{
const UINT kHeadlessStepMessage = WM_APP + 40;
const UINT_PTR kMenuShotTimer = 0x5845;
const int kStatusId = 0xE900;

enum HeadlessStep : WPARAM
{
    ShootLoggedInUser,
    SwitchToOperator,
    ShootOperator,
    ShootOperatorMenu,
    RestoreUser
};

// What the user reads: the mnemonic ampersands gone ("&&" is a literal one).
std::wstring Readable(const std::wstring& strText)
{
    std::wstring strReadable;
    for (size_t i = 0; i < strText.size(); ++i)
    {
        if (strText[i] == L'&' && i + 1 < strText.size())
            ++i;
        strReadable += strText[i];
    }
    return strReadable;
}

std::wstring ItemText(HMENU hMenu, int nPos)
{
    wchar_t szText[256] = L"";
    ::GetMenuStringW(hMenu, static_cast<UINT>(nPos), szText, 256, MF_BYPOSITION);
    return szText;
}

// One line per item, indented by depth; greyed items are marked.
void PrintMenu(HMENU hMenu, int nDepth)
{
    const int nCount = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i)
    {
        const std::wstring strIndent(static_cast<size_t>(nDepth) * 4, L' ');
        const UINT nId = ::GetMenuItemID(hMenu, i);
        if (nId == 0)
        {
            std::printf("%ls------------------------\n", strIndent.c_str());
            continue;
        }
        std::wstring strText = Readable(ItemText(hMenu, i));
        std::wstring strShortcut;
        size_t nTab = strText.find(L'\t');
        if (nTab != std::wstring::npos)
        {
            strShortcut = strText.substr(nTab + 1);
            strText.resize(nTab);
        }
        if (nId == static_cast<UINT>(-1))
            strText += L" >";
        const bool bGreyed = (::GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED) != 0;
        std::printf("%ls%-*ls%-10ls%s\n", strIndent.c_str(), 32 - nDepth * 4, strText.c_str(), strShortcut.c_str(),
            bGreyed ? "[greyed]" : "");
        if (nId == static_cast<UINT>(-1))
            PrintMenu(::GetSubMenu(hMenu, i), nDepth + 1);
    }
}

void CollectCommandNames(HMENU hMenu, std::map<UINT, std::wstring>& mapNames)
{
    const int nCount = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i)
    {
        const UINT nId = ::GetMenuItemID(hMenu, i);
        if (nId == static_cast<UINT>(-1))
        {
            CollectCommandNames(::GetSubMenu(hMenu, i), mapNames);
        }
        else if (nId != 0)
        {
            std::wstring strText = Readable(ItemText(hMenu, i));
            mapNames[nId] = strText.substr(0, strText.find(L'\t'));
        }
    }
}

// What the system says about an error, without its closing full stop.
std::wstring SystemMessage(DWORD dwError)
{
    wchar_t* pszText = nullptr;
    const DWORD nLength = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError,
        0, reinterpret_cast<LPWSTR>(&pszText), 0, nullptr);
    std::wstring strText = nLength != 0 ? std::wstring(pszText, nLength) : L"error " + std::to_wstring(dwError);
    ::LocalFree(pszText);
    while (!strText.empty() && std::wcschr(L"\r\n. ", strText.back()) != nullptr)
        strText.pop_back();
    return strText;
}

std::wstring CannotLoad(const wchar_t* pszWhat, UINT nID, DWORD dwError)
{
    return std::wstring(pszWhat) + L" " + std::to_wstring(nID) + L" cannot be loaded (" + SystemMessage(dwError) + L")";
}

void SaveScreenshot(HWND hWnd, const wchar_t* pszFileName)
{
    std::wstring strPath = DemoApp().OutputPath(pszFileName);
    if (XTRmSaveWindowScreenshot(hWnd, strPath))
        std::printf("screenshot: %ls\n", strPath.c_str());
    else
        std::printf("screenshot failed: %ls\n", strPath.c_str());
}

void CALLBACK ShootOpenMenu(HWND hWnd, UINT, UINT_PTR nIDEvent, DWORD)
{
    ::KillTimer(hWnd, nIDEvent);
    // The open popup is a window of the system's menu class.
    HWND hPopup = ::FindWindowW(L"#32768", nullptr);
    if (hPopup != nullptr && ::IsWindowVisible(hPopup))
        SaveScreenshot(hPopup, L"menu-file-operator.png");
    else
        std::printf("screenshot failed: no open menu\n");
    ::EndMenu();
    ::PostMessageW(hWnd, kHeadlessStepMessage, RestoreUser, 0);
}
} // namespace

BEGIN_MESSAGE_MAP(XTRmDemoMainFrame, CFrameWnd)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_DESTROY()
ON_COMMAND(ID_XTRM_DEMO_FILE_EXIT, &XTRmDemoMainFrame::OnFileExit)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_USERS, &XTRmDemoMainFrame::OnAdminUsers)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_SETTINGS, &XTRmDemoMainFrame::OnAdminSettings)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_LOGIN, &XTRmDemoMainFrame::OnAdminLogin)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_CONNECTION, &XTRmDemoMainFrame::OnAdminConnection)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_CHANGE_PASSWORD, &XTRmDemoMainFrame::OnAdminChangePassword)
ON_COMMAND(ID_XTRM_DEMO_ADMIN_LOCK, &XTRmDemoMainFrame::OnAdminLock)
ON_COMMAND_RANGE(ID_XTRM_DEMO_FIRST_COMMAND, ID_XTRM_DEMO_LAST_COMMAND, &XTRmDemoMainFrame::OnPlantCommand)
// Every restricted command asks the restrictions before it is shown or
// run, whether it comes from the menu, the toolbar or an accelerator.
ON_UPDATE_COMMAND_UI_RANGE(
    ID_XTRM_DEMO_ADMIN_USERS, ID_XTRM_DEMO_LAST_COMMAND, &XTRmDemoMainFrame::OnUpdateRestrictedCommand)
ON_MESSAGE(kHeadlessStepMessage, &XTRmDemoMainFrame::OnHeadlessStep)
END_MESSAGE_MAP()

XTRmDemoMainFrame::XTRmDemoMainFrame(std::wstring& strProblem)
    : m_hAccelTable(nullptr), m_nLastCommand(0), m_pstrProblem(&strProblem)
{
}

XTRmDemoMainFrame* XTRmDemoMainFrame::Create(std::wstring& strProblem)
{
    auto* pFrame = new XTRmDemoMainFrame(strProblem);
    LPCTSTR lpszName = MAKEINTRESOURCE(IDR_XTRM_DEMO_MAINFRAME);
    if (!pFrame->LoadFrame(IDR_XTRM_DEMO_MAINFRAME, WS_OVERLAPPEDWINDOW))
    {
        // OnCreate said what failed; otherwise the menu or the window did.
        const DWORD dwError = ::GetLastError();
        if (strProblem.empty())
            strProblem = ::FindResource(AfxFindResourceHandle(lpszName, RT_MENU), lpszName, RT_MENU) == nullptr
                ? CannotLoad(L"menu", IDR_XTRM_DEMO_MAINFRAME, dwError)
                : L"the window cannot be created (" + SystemMessage(dwError) + L")";
        return nullptr;
    }
    pFrame->m_pstrProblem = nullptr;
    // The headless tour and the users' shortcuts rely on the accelerators.
    pFrame->m_hAccelTable = ::LoadAccelerators(AfxFindResourceHandle(lpszName, RT_ACCELERATOR), lpszName);
    if (pFrame->m_hAccelTable == nullptr)
    {
        strProblem = CannotLoad(L"accelerator table", IDR_XTRM_DEMO_MAINFRAME, ::GetLastError());
        pFrame->DestroyWindow();
        return nullptr;
    }
    pFrame->SetWindowPos(nullptr, 40, 40, 760, 480, SWP_NOZORDER | SWP_NOACTIVATE);
    pFrame->ApplyRestrictions(DemoApp().IsHeadless());
    // Another user may take over at the lock: the menu and toolbar follow.
    XTRmRestrictionManager::EnableInactivityLock(pFrame, kLockMinutes, [pFrame](const std::wstring& strUser) {
        if (DemoApp().IsHeadless())
            std::printf("%ls took over at the lock\n", strUser.c_str());
        pFrame->ApplyRestrictions(false);
    });
    return pFrame;
}

int XTRmDemoMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct)
{
    if (CFrameWnd::OnCreate(lpCreateStruct) == -1)
        return -1;
    if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_TOOLTIPS))
    {
        *m_pstrProblem = L"the toolbar window cannot be created (" + SystemMessage(::GetLastError()) + L")";
        return -1;
    }
    if (!m_wndToolBar.LoadToolBar(IDR_XTRM_DEMO_MAINFRAME))
    {
        *m_pstrProblem = CannotLoad(L"toolbar", IDR_XTRM_DEMO_MAINFRAME, ::GetLastError());
        return -1;
    }
    if (!m_wndStatus.CreateEx(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, m_hWnd,
            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kStatusId))))
    {
        *m_pstrProblem = L"the status window cannot be created (" + SystemMessage(::GetLastError()) + L")";
        return -1;
    }
    m_wndStatus.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)));
    return 0;
}

void XTRmDemoMainFrame::OnDestroy()
{
    // The lock watches this window; it is going.
    XTRmRestrictionManager::DisableInactivityLock();
    CFrameWnd::OnDestroy();
}

void XTRmDemoMainFrame::OnSize(UINT, int cx, int cy)
{
    if (m_wndToolBar.GetSafeHwnd() == nullptr)
        return;
    m_wndToolBar.AdjustSizeImmediate();
    CRect rectBar;
    m_wndToolBar.GetWindowRect(&rectBar);
    int nTop = rectBar.Height() + 12;
    m_wndStatus.MoveWindow(12, nTop, cx - 24, cy - nTop - 12);
}

BOOL XTRmDemoMainFrame::PreTranslateMessage(MSG* pMsg)
{
    if (m_hAccelTable != nullptr && pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST &&
        ::TranslateAcceleratorW(m_hWnd, m_hAccelTable, pMsg))
    {
        return TRUE;
    }
    return CFrameWnd::PreTranslateMessage(pMsg);
}

void XTRmDemoMainFrame::ApplyRestrictions(bool bPrint)
{
    XTRmsService& service = DemoApp().GetService();
    if (m_pRestrictions == nullptr)
        m_pRestrictions = std::make_unique<XTRmDemoRestrictions>(&service);
    else
        m_pRestrictions->RegisterAgain();

    // Adaptation only takes away, so every user starts from the full menu.
    CMenu menu;
    if (!menu.LoadMenu(IDR_XTRM_DEMO_MAINFRAME))
        return;
    m_mapCommandNames.clear();
    CollectCommandNames(menu.GetSafeHmenu(), m_mapCommandNames);
    const std::wstring strUser = service.GetLoggedInUserName().empty() ? L"(guest)" : service.GetLoggedInUserName();
    // The full menu is the same for every user: printed once.
    static bool s_bPrintedFullMenu = false;
    if (bPrint && !s_bPrintedFullMenu)
    {
        s_bPrintedFullMenu = true;
        std::printf("\nMain menu before adaptation:\n");
        PrintMenu(menu.GetSafeHmenu(), 1);
    }
    m_pRestrictions->AdaptToRestrictions(&menu);

    HMENU hOldMenu = ::GetMenu(m_hWnd);
    SetMenu(&menu);
    m_hMenuDefault = menu.Detach();
    if (hOldMenu != nullptr)
        ::DestroyMenu(hOldMenu);
    DrawMenuBar();

    m_wndToolBar.LoadToolBar(IDR_XTRM_DEMO_MAINFRAME);
    m_pRestrictions->HideToolBarButtons(&m_wndToolBar);
    // Grey the disabled buttons now rather than at the next idle time.
    m_wndToolBar.SendMessage(WM_IDLEUPDATECMDUI, TRUE);
    CRect rectClient;
    GetClientRect(&rectClient);
    OnSize(SIZE_RESTORED, rectClient.Width(), rectClient.Height());

    if (bPrint)
    {
        std::printf("\nMain menu after adaptation for user %ls:\n", strUser.c_str());
        PrintMenu(::GetMenu(m_hWnd), 1);
        PrintToolBar();
    }
    ShowStatus(L"");
}

void XTRmDemoMainFrame::PrintToolBar() const
{
    std::printf("\nToolbar after adaptation (one line per button shown):\n");
    for (int i = 0; i < m_wndToolBar.GetCount(); ++i)
    {
        const CMFCToolBarButton* pButton = m_wndToolBar.GetButton(i);
        if (!pButton->IsVisible())
            continue;
        const UINT nId = m_wndToolBar.GetItemID(i);
        if (nId == 0)
        {
            std::printf("    |\n");
            continue;
        }
        std::printf("    %-28ls%s\n", CommandName(nId).c_str(),
            (m_wndToolBar.GetButtonStyle(i) & TBBS_DISABLED) ? "[greyed]" : "");
    }
}

std::wstring XTRmDemoMainFrame::CommandName(UINT nID) const
{
    auto it = m_mapCommandNames.find(nID);
    return it != m_mapCommandNames.end() ? it->second : L"command " + std::to_wstring(nID);
}

void XTRmDemoMainFrame::ShowStatus(const std::wstring& strLastCommand)
{
    const std::wstring strUser = DemoApp().GetService().GetLoggedInUserName();
    std::wstring strText = L"Logged in as " + (strUser.empty() ? std::wstring(L"a guest") : strUser) +
        L".\r\n\r\nMenu items and toolbar buttons the user may not see are gone; those the user may not use are "
        L"greyed, and their keyboard shortcuts do nothing.";
    if (!strLastCommand.empty())
        strText += L"\r\n\r\nLast command: " + strLastCommand;
    m_wndStatus.SetWindowText(strText.c_str());
}

void XTRmDemoMainFrame::OnUpdateRestrictedCommand(CCmdUI* pCmdUI)
{
    if (m_pRestrictions != nullptr && m_pRestrictions->Disable(pCmdUI->m_nID, pCmdUI))
        return;
    if (pCmdUI->m_nID == ID_XTRM_DEMO_VIEW_TOOLBAR)
        pCmdUI->SetCheck(m_wndToolBar.IsWindowVisible() ? 1 : 0);
}

void XTRmDemoMainFrame::OnPlantCommand(UINT nID)
{
    // The store may ask for a signature before the configuration changes.
    if (nID == ID_XTRM_DEMO_TOOLS_PLANT_CONFIG &&
        !XTRmRestrictionManager::ConfirmCommand(
            this, XTRmDemoRightConfigurePlant, L"Change the plant configuration", {L"Planned change", L"Maintenance"}))
    {
        return;
    }
    m_nLastCommand = nID;
    if (nID == ID_XTRM_DEMO_VIEW_AUDIT_TRAIL)
        XTRmRestrictionManager::ShowAuditTrailDlg(this);
    if (nID == ID_XTRM_DEMO_VIEW_TOOLBAR)
    {
        m_wndToolBar.ShowWindow(m_wndToolBar.IsWindowVisible() ? SW_HIDE : SW_SHOW);
        CRect rectClient;
        GetClientRect(&rectClient);
        OnSize(SIZE_RESTORED, rectClient.Width(), rectClient.Height());
    }
    ShowStatus(CommandName(nID));
}

bool XTRmDemoMainFrame::TryAccelerator(UINT nID)
{
    m_nLastCommand = 0;
    SendMessage(WM_COMMAND, MAKEWPARAM(nID, 1), 0);
    return m_nLastCommand == nID;
}

void XTRmDemoMainFrame::OnFileExit()
{
    PostMessage(WM_CLOSE);
}

void XTRmDemoMainFrame::OnAdminUsers()
{
    XTRmDemoAdmin::ShowUserManagement(this);
}

void XTRmDemoMainFrame::OnAdminSettings()
{
    XTRmDemoAdmin::ShowSettings(this);
}

void XTRmDemoMainFrame::OnAdminLogin()
{
    XTRmRestrictionManager::ShowUserLoginDlg(DemoApp().GetService().GetLoggedInUserName(), std::wstring(), true);
    // Another user may be logged in now: the menu and toolbar follow.
    ApplyRestrictions(false);
}

void XTRmDemoMainFrame::OnAdminConnection()
{
    XTRmRestrictionManager::ShowConnectionDlg();
}

void XTRmDemoMainFrame::OnAdminChangePassword()
{
    // The library itself tells a guest why not, and the user that it is done.
    XTRmRestrictionManager::ShowChangePasswordDlg(this);
}

void XTRmDemoMainFrame::OnAdminLock()
{
    // Nobody or a guest logged in: there is nothing to lock.
    if (!XTRmRestrictionManager::LockNow())
        MessageBox(L"Only a logged-in user's session can be locked.", nullptr, MB_OK | MB_ICONINFORMATION);
}

void XTRmDemoMainFrame::RunHeadlessTour()
{
    // After the window has painted: the steps run from the message loop.
    PostMessage(kHeadlessStepMessage, ShootLoggedInUser);
}

LRESULT XTRmDemoMainFrame::OnHeadlessStep(WPARAM wParam, LPARAM)
{
    static std::wstring s_strTourUser;
    XTRmsService& service = DemoApp().GetService();
    switch (wParam)
    {
    case ShootLoggedInUser:
        SaveScreenshot(m_hWnd, L"main-window.png");
        PostMessage(kHeadlessStepMessage, SwitchToOperator);
        break;
    case SwitchToOperator: {
        // What a change of user does to the window: the host registers again
        // and adapts freshly loaded menus.
        s_strTourUser = service.GetLoggedInUserName();
        std::printf("\n--- The operator bob logs in ---\n");
        if (service.UserLogin(L"bob", XTRmDemoAccountPassword(L"bob")) != Rms::ERmsLoginOk)
            DemoApp().ReportFailure("the operator bob cannot log in after the administrator lifted his lock");
        // An operator administers nobody: the service shows him no profile.
        const size_t nProfiles = service.GetAllDefinedUsers().size();
        std::printf("user profiles the operator sees: %zu\n", nProfiles);
        if (nProfiles != 0)
            DemoApp().ReportFailure("the operator sees other users' profiles");
        ApplyRestrictions(true);
        std::printf("\nAccelerators for the operator:\n");
        for (UINT nId : {ID_XTRM_DEMO_FILE_NEW_RECIPE, ID_XTRM_DEMO_FILE_SAVE_RECIPE, ID_XTRM_DEMO_BATCH_ABORT,
                 ID_XTRM_DEMO_BATCH_START})
        {
            std::printf("    %-28ls%s\n", CommandName(nId).c_str(),
                TryAccelerator(nId) ? "ran" : "refused (update handler disables it)");
        }
        ShowStatus(L"");
        PostMessage(kHeadlessStepMessage, ShootOperator);
        break;
    }
    case ShootOperator:
        SaveScreenshot(m_hWnd, L"main-window-operator.png");
        PostMessage(kHeadlessStepMessage, ShootOperatorMenu);
        break;
    case ShootOperatorMenu:
        // Opens the File menu as Alt+F would; a timer inside the menu's own
        // loop takes the picture and closes it again.
        SetTimer(kMenuShotTimer, 500, ShootOpenMenu);
        PostMessage(WM_SYSCOMMAND, SC_KEYMENU, L'f');
        break;
    case RestoreUser:
        if (!s_strTourUser.empty())
        {
            if (service.UserLogin(s_strTourUser, XTRmDemoAccountPassword(s_strTourUser)) != Rms::ERmsLoginOk)
                std::printf("%ls could not log in again\n", s_strTourUser.c_str());
            ApplyRestrictions(false);
        }
        XTRmDemoAdmin::RunHeadlessTour(this);
        PostMessage(WM_CLOSE);
        break;
    default:
        break;
    }
    return 0;
}
