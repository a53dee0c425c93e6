// A host built against the installed XTRm package: it provisions a fresh
// rights store with one user, lets XTRm log that user in through the real
// login dialog, and shows its main window: its German menu and a toolbar
// whose buttons follow the user's rights. It ends with exit code 0 only when
// the user is logged in with his role's rights, its own German Windows-1252
// resources kept their language and text beside XTRm's, and the toolbar shows
// what the user may use. The login dialog is filled in and confirmed from a
// second thread through plain Win32 messages, as a person would type.
//
// With /missing-toolbar its main window asks for a toolbar that is not there:
// it then says which resource failed and why on stderr and ends with exit
// code 2, as a host must rather than ending silently.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmConsumerIds.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmRestrictionsMenu.h"
#include "XTRmsService.h"

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace
{
const wchar_t kUser[] = L"operator";
const wchar_t kPassword[] = L"consumer-2026";
const int kRightView = 1;
const int kRightConfigure = 2;
const Rms::RmsUserRole kOperatorRole = static_cast<Rms::RmsUserRole>(1);

XTRmsServiceConfig MakeConfig(const std::wstring& strFile)
{
    XTRmsServiceConfig config;
    config.strDatabaseFile = strFile;
    config.bCreateDatabase = true;
    config.policy.nPbkdf2Iterations = 1000;
    // The consumer provisions its operator and logs in with that password.
    config.policy.bMustChangeAfterReset = false;
    config.vecRights = {{kRightView, L"View"}, {kRightConfigure, L"Configure"}};
    XTRmsRoleDefinition role;
    role.nId = kOperatorRole;
    role.strName = L"Operator";
    role.vecRights = {kRightView};
    config.vecRoles = {role};
    config.nInitialRole = kOperatorRole;
    return config;
}

struct FindLoginDialog
{
    DWORD dwProcessId;
    HWND hFound;
};

BOOL CALLBACK FindLoginDialogProc(HWND hWnd, LPARAM lParam)
{
    FindLoginDialog* pFind = reinterpret_cast<FindLoginDialog*>(lParam);
    DWORD dwProcessId = 0;
    ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId == pFind->dwProcessId && ::IsWindowVisible(hWnd) &&
        ::GetDlgItem(hWnd, IDC_XTRM_NG_USER_NAME) != nullptr && ::GetDlgItem(hWnd, IDC_XTRM_NG_PASSWORD) != nullptr)
    {
        pFind->hFound = hWnd;
        return FALSE;
    }
    return TRUE;
}

// Waits up to 30 s for the login dialog, types the name and the password and
// presses OK. Tells whether it found the dialog.
bool TypeLogin(const std::atomic<bool>& bStop)
{
    for (int nTry = 0; nTry < 300 && !bStop; ++nTry)
    {
        FindLoginDialog find = {::GetCurrentProcessId(), nullptr};
        ::EnumWindows(FindLoginDialogProc, reinterpret_cast<LPARAM>(&find));
        if (find.hFound != nullptr)
        {
            DWORD_PTR nResult = 0;
            ::SendMessageTimeoutW(::GetDlgItem(find.hFound, IDC_XTRM_NG_USER_NAME), WM_SETTEXT, 0,
                reinterpret_cast<LPARAM>(kUser), SMTO_ABORTIFHUNG, 5000, &nResult);
            ::SendMessageTimeoutW(::GetDlgItem(find.hFound, IDC_XTRM_NG_PASSWORD), WM_SETTEXT, 0,
                reinterpret_cast<LPARAM>(kPassword), SMTO_ABORTIFHUNG, 5000, &nResult);
            ::PostMessageW(find.hFound, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
        }
        ::Sleep(100);
    }
    return false;
}

void DeleteStore(const std::wstring& strFile)
{
    for (const wchar_t* pszSuffix : {L"", L"-wal", L"-shm"})
        ::DeleteFileW((strFile + pszSuffix).c_str());
}

const wchar_t kOverview[] = L"\u00DCbersicht";
const LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

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

// The operator may view but not configure: the configuration command is
// neither shown nor reachable.
class XTRmConsumerRestrictions : public XTRmRestrictionsMenu
{
public:
    explicit XTRmConsumerRestrictions(XTRmsRestrictionManagerServiceBase* pService) : XTRmRestrictionsMenu(pService)
    {
        CommandHide(ID_CONSUMER_CONFIGURE, kRightConfigure);
        CommandDisable(ID_CONSUMER_CONFIGURE, kRightConfigure);
    }
};

// The main window: the German menu and a toolbar of the same id.
class XTRmConsumerFrame : public CFrameWnd
{
public:
    // The frame, or nullptr after writing into strProblem which resource
    // failed and why. MFC deletes a frame whose LoadFrame failed, so the
    // problem is written where the caller keeps it.
    static XTRmConsumerFrame* Create(UINT nIDResource, std::wstring& strProblem)
    {
        auto* pFrame = new XTRmConsumerFrame(nIDResource, strProblem);
        if (!pFrame->LoadFrame(nIDResource, WS_OVERLAPPEDWINDOW))
        {
            const DWORD dwError = ::GetLastError();
            if (strProblem.empty())
            {
                LPCTSTR lpszName = MAKEINTRESOURCE(nIDResource);
                strProblem = ::FindResourceW(AfxFindResourceHandle(lpszName, RT_MENU), lpszName, RT_MENU) == nullptr
                    ? CannotLoad(L"menu", nIDResource, dwError)
                    : L"the window cannot be created (" + SystemMessage(dwError) + L")";
            }
            return nullptr;
        }
        pFrame->m_pstrProblem = nullptr;
        return pFrame;
    }

    CMFCToolBar m_wndToolBar;

protected:
    XTRmConsumerFrame(UINT nIDResource, std::wstring& strProblem)
        : m_nIDResource(nIDResource), m_pstrProblem(&strProblem)
    {
    }

    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct)
    {
        if (CFrameWnd::OnCreate(lpCreateStruct) == -1)
            return -1;
        if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP))
        {
            *m_pstrProblem = L"the toolbar window cannot be created (" + SystemMessage(::GetLastError()) + L")";
            return -1;
        }
        if (!m_wndToolBar.LoadToolBar(m_nIDResource))
        {
            *m_pstrProblem = CannotLoad(L"toolbar", m_nIDResource, ::GetLastError());
            return -1;
        }
        return 0;
    }

    UINT m_nIDResource;
    std::wstring* m_pstrProblem;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(XTRmConsumerFrame, CFrameWnd)
ON_WM_CREATE()
END_MESSAGE_MAP()

// The host's own German resources, beside XTRm's English ones: each kept its
// language, and the Windows-1252 text came through.
void CheckResourceLanguages(std::vector<std::wstring>& vecFailures)
{
    const HINSTANCE hInst = AfxGetResourceHandle();
    if (::FindResourceExW(hInst, RT_MENU, MAKEINTRESOURCE(IDR_CONSUMER_MAIN), kGerman) == nullptr)
        vecFailures.push_back(L"the host's menu is not German");
    if (::FindResourceExW(hInst, RT_STRING, MAKEINTRESOURCE(IDS_CONSUMER_OVERVIEW / 16 + 1), kGerman) == nullptr)
        vecFailures.push_back(L"the host's string table is not German");
    if (::FindResourceExW(hInst, RT_TOOLBAR, MAKEINTRESOURCE(IDR_CONSUMER_MAIN), kGerman) == nullptr)
        vecFailures.push_back(L"the host's toolbar is not German");
    if (::FindResourceExW(hInst, RT_DIALOG, MAKEINTRESOURCE(IDD_XTRM_NG_USER_LOGIN), kEnglish) == nullptr)
        vecFailures.push_back(L"XTRm's login dialog is not US English");
    wchar_t szText[64] = L"";
    ::LoadStringW(hInst, IDS_CONSUMER_OVERVIEW, szText, 64);
    if (std::wstring(szText) != kOverview)
        vecFailures.push_back(L"the host's string reads '" + std::wstring(szText) + L"'");
}

// The frame shows the German menu, and its toolbar the operator's buttons:
// Overview, and neither Configure nor the separator that led to it.
void CheckMainWindow(XTRmConsumerFrame& frame, std::vector<std::wstring>& vecFailures)
{
    wchar_t szItem[64] = L"";
    ::GetMenuStringW(::GetMenu(frame.m_hWnd), ID_CONSUMER_OVERVIEW, szItem, 64, MF_BYCOMMAND);
    if (std::wstring(szItem) != std::wstring(L"&") + kOverview)
        vecFailures.push_back(L"the menu item reads '" + std::wstring(szItem) + L"'");

    struct Expected
    {
        int nCommand;
        bool bHidden;
    };
    const Expected expected[] = {{ID_CONSUMER_OVERVIEW, false}, {0, true}, {ID_CONSUMER_CONFIGURE, true}};
    const int nCount = static_cast<int>(frame.m_wndToolBar.SendMessage(TB_BUTTONCOUNT));
    if (nCount != static_cast<int>(std::size(expected)))
        vecFailures.push_back(L"the toolbar has " + std::to_wstring(nCount) + L" buttons");
    for (int i = 0; i < nCount && i < static_cast<int>(std::size(expected)); ++i)
    {
        TBBUTTON button = {};
        frame.m_wndToolBar.SendMessage(TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&button));
        const bool bHidden = (button.fsState & TBSTATE_HIDDEN) != 0;
        if (button.idCommand != expected[i].nCommand || bHidden != expected[i].bHidden)
            vecFailures.push_back(L"toolbar button " + std::to_wstring(i) + L" is command " +
                std::to_wstring(button.idCommand) + (bHidden ? L", hidden" : L", shown"));
    }
    const HIMAGELIST hImages = reinterpret_cast<HIMAGELIST>(frame.m_wndToolBar.SendMessage(TB_GETIMAGELIST));
    int cx = 0;
    int cy = 0;
    if (hImages == nullptr || !ImageList_GetIconSize(hImages, &cx, &cy) || cx != 16 || cy != 15 ||
        ImageList_GetImageCount(hImages) != 2)
        vecFailures.push_back(L"the toolbar's pictures are not two of 16x15");
}
} // namespace

class XTRmConsumerApp : public CWinApp
{
public:
    XTRmConsumerApp() : CWinApp(L"XTRm Consumer") {}

    BOOL InitInstance() override
    {
        const bool bMissingToolBar = std::wcsstr(m_lpCmdLine, L"/missing-toolbar") != nullptr;
        m_nExitCode = Run(bMissingToolBar ? IDR_CONSUMER_MISSING : IDR_CONSUMER_MAIN);
        std::fflush(stdout);
        std::fflush(stderr);
        // Nothing left to run: the exit code comes from ExitInstance.
        return FALSE;
    }

    int ExitInstance() override { return m_nExitCode; }

private:
    // 0 when every check passed, 1 when one failed, 2 when the main window
    // could not be shown.
    int Run(UINT nIDFrame)
    {
        std::vector<std::wstring> vecFailures;
        CheckResourceLanguages(vecFailures);

        wchar_t szFolder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, szFolder);
        const std::wstring strFile = std::wstring(szFolder) + L"xtrm-consumer-" +
            std::to_wstring(::GetCurrentProcessId()) + L".db";
        DeleteStore(strFile);
        const XTRmsServiceConfig config = MakeConfig(strFile);
        {
            XTRmsService provisioner(config);
            std::wstring strError;
            if (!provisioner.OpenStore(XTRmsEngine::Sqlite, true, &strError) ||
                provisioner.AddUser(kUser, L"Consumer Operator", kOperatorRole, kPassword, &strError) !=
                    Rms::RmsSuccess)
            {
                std::fprintf(stderr, "consumer: cannot provision the store: %ls\n", strError.c_str());
                return 1;
            }
        }

        int nResult = 0;
        {
            XTRmsService service(config);
            if (!LogIn(service))
                vecFailures.push_back(L"the user is not logged in with his role's rights");
            else
                nResult = ShowMainWindow(service, nIDFrame, vecFailures);
            XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        }
        DeleteStore(strFile);
        for (const std::wstring& strFailure : vecFailures)
            std::fprintf(stderr, "consumer: %ls\n", strFailure.c_str());
        if (nResult == 0 && !vecFailures.empty())
            nResult = 1;
        std::printf("consumer: %s\n", nResult == 0 ? "logged in through the installed package" : "FAILED");
        return nResult;
    }

    bool LogIn(XTRmsService& service)
    {
        XTRmRestrictionManager::SetApplicationName(L"XTRm Consumer");
        XTRmRestrictionManager::SetRestrictionManagerService(&service);

        std::atomic<bool> bStop(false);
        bool bTyped = false;
        std::thread typist([&] { bTyped = TypeLogin(bStop); });
        Rms::ClientSettings settings;
        Rms::RmsResult nServiceResult = Rms::RmsFailure;
        const Rms::RmsInitResult nResult = XTRmRestrictionManager::InitializeRestrictions(
            Rms::RmsApplicationStandard, Rms::ClientPaths(), settings, XTRmNoProgress, &nServiceResult);
        bStop = true;
        typist.join();

        const std::wstring strUser = service.GetLoggedInUserName();
        std::printf("consumer: login dialog %s, InitializeRestrictions %d, user '%ls', view %d, configure %d\n",
            bTyped ? "answered" : "not seen", static_cast<int>(nResult), strUser.c_str(),
            service.GetIsAllowed(kRightView) ? 1 : 0, service.GetIsAllowed(kRightConfigure) ? 1 : 0);
        return bTyped && nResult == Rms::RmsInitReady && strUser == kUser && service.GetIsAllowed(kRightView) &&
            !service.GetIsAllowed(kRightConfigure);
    }

    // Shows the main window adapted to the logged-in user and checks it. A
    // window that cannot be shown is reported with the resource that failed.
    int ShowMainWindow(XTRmsService& service, UINT nIDFrame, std::vector<std::wstring>& vecFailures)
    {
        std::wstring strProblem;
        XTRmConsumerFrame* pFrame = XTRmConsumerFrame::Create(nIDFrame, strProblem);
        if (pFrame == nullptr)
        {
            std::fprintf(stderr, "consumer: the main window cannot be shown: %ls\n", strProblem.c_str());
            return 2;
        }
        XTRmConsumerRestrictions restrictions(&service);
        restrictions.HideToolBarButtons(&pFrame->m_wndToolBar);
        pFrame->ShowWindow(SW_SHOW);
        CheckMainWindow(*pFrame, vecFailures);
        pFrame->DestroyWindow();
        return 0;
    }

    int m_nExitCode = 1;
};

XTRmConsumerApp theApp;
