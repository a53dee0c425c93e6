// A host built against the installed XTRm package: it provisions a fresh
// rights store with one user, lets XTRm log that user in through the real
// login dialog, and ends with exit code 0 only when the user is logged in
// with his role's rights. The login dialog is filled in and confirmed from a
// second thread through plain Win32 messages, as a person would type.
#include <afxwin.h>

#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmsService.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

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
} // namespace

class XTRmConsumerApp : public CWinApp
{
public:
    XTRmConsumerApp() : CWinApp(L"XTRm Consumer") {}

    BOOL InitInstance() override
    {
        m_nExitCode = LogIn() ? 0 : 1;
        std::fflush(stdout);
        return FALSE;
    }

    int ExitInstance() override { return m_nExitCode; }

private:
    bool LogIn()
    {
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
                std::printf("consumer: cannot provision the store: %ls\n", strError.c_str());
                return false;
            }
        }

        bool bLoggedIn = false;
        {
            XTRmsService service(config);
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
            bLoggedIn = bTyped && nResult == Rms::RmsInitReady && strUser == kUser &&
                service.GetIsAllowed(kRightView) && !service.GetIsAllowed(kRightConfigure);
            std::printf("consumer: login dialog %s, InitializeRestrictions %d, user '%ls', view %d, configure %d\n",
                bTyped ? "answered" : "not seen", static_cast<int>(nResult), strUser.c_str(),
                service.GetIsAllowed(kRightView) ? 1 : 0, service.GetIsAllowed(kRightConfigure) ? 1 : 0);
            XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        }
        DeleteStore(strFile);
        std::printf("consumer: %s\n", bLoggedIn ? "logged in through the installed package" : "FAILED");
        return bLoggedIn;
    }

    int m_nExitCode = 1;
};

XTRmConsumerApp theApp;
