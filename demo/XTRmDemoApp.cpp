#include "XTRmDemoApp.h"

#include "XTRmDemoLogin.h"
#include "XTRmDemoMainFrame.h"
#include "XTRmDemoStore.h"
#include "XTRmRestrictionManager.h"
#include "XTSecret.h"
#include "XTRmUiRobot.h"

#include <shellapi.h>

#include <cstdio>

namespace
{
XTRmDemoApp theApp;

std::wstring ExeFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath(szPath);
    return strPath.substr(0, strPath.find_last_of(L"\\/"));
}

// A plain absolute path reads better in messages and in what the headless
// run prints.
std::wstring FullPath(const std::wstring& strPath)
{
    wchar_t szFull[MAX_PATH] = {};
    if (::GetFullPathNameW(strPath.c_str(), MAX_PATH, szFull, nullptr) == 0)
        return strPath;
    return szFull;
}
} // namespace

XTRmDemoApp& DemoApp()
{
    return theApp;
}

// One name for the application's own message boxes and XTRm's dialogs.
const wchar_t kApplicationName[] = L"XTRm Demo - Plant Control";

XTRmDemoApp::XTRmDemoApp() : CWinApp(kApplicationName)
{
}

std::wstring XTRmDemoApp::OutputPath(const std::wstring& strFileName) const
{
    return m_strOutputFolder + L"\\" + strFileName;
}

void XTRmDemoApp::ReportFailure(const std::string& strWhat)
{
    m_bFailed = true;
    std::printf("CHECK FAILED: %s\n", strWhat.c_str());
}

void XTRmDemoApp::ParseCommandLine()
{
    // Options: /headless, /server [folder], /database <file>, /out <folder>,
    // /gallery (each also with "--"). The build folder holds the SQLite file and the
    // folder of the PostgreSQL cluster that `make demo` starts.
    wchar_t szHeadless[8] = {};
    m_bHeadless = ::GetEnvironmentVariableW(L"XTRM_HEADLESS", szHeadless, 8) > 0 && szHeadless[0] == L'1';
    m_strOutputFolder = ExeFolder() + L"\\..\\demo-output";
    m_strDatabaseFile = ExeFolder() + L"\\..\\XTRmDemo.db";
    m_strServerFolder = ExeFolder() + L"\\..\\demo-postgres";

    int nArgs = 0;
    LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs);
    for (int i = 1; ppszArgs != nullptr && i < nArgs; ++i)
    {
        std::wstring strArg = ppszArgs[i];
        if (strArg == L"/headless" || strArg == L"--headless")
            m_bHeadless = true;
        else if (strArg == L"/gallery" || strArg == L"--gallery")
            m_bGallery = true;
        else if (strArg == L"/server" || strArg == L"--server")
        {
            m_bServer = true;
            // The cluster's folder may follow, as a Windows path.
            if (i + 1 < nArgs && ppszArgs[i + 1][0] != L'-' && ppszArgs[i + 1][0] != L'/')
                m_strServerFolder = ppszArgs[++i];
        }
        else if ((strArg == L"/database" || strArg == L"--database") && i + 1 < nArgs)
            m_strDatabaseFile = ppszArgs[++i];
        else if ((strArg == L"/out" || strArg == L"--out") && i + 1 < nArgs)
            m_strOutputFolder = ppszArgs[++i];
    }
    ::LocalFree(ppszArgs);
    m_strOutputFolder = FullPath(m_strOutputFolder);
    m_strDatabaseFile = FullPath(m_strDatabaseFile);
    m_strServerFolder = FullPath(m_strServerFolder);
    ::CreateDirectoryW(m_strOutputFolder.c_str(), nullptr);
}

void XTRmDemoApp::ShowStartUpProblem(const char* pszWhat, const std::wstring& strProblem, const wchar_t* pszScreenshot)
{
    std::fprintf(stderr, "%s: %ls\n", pszWhat, strProblem.c_str());
    // Headless, the box is met by a robot that keeps its picture and closes it.
    std::unique_ptr<XTRmUiRobot> pRobot;
    if (m_bHeadless)
    {
        pRobot = std::make_unique<XTRmUiRobot>();
        pRobot->ExpectMessageBox([this, pszScreenshot](XTRmDialogDriver& box) {
            const std::wstring strPath = OutputPath(pszScreenshot);
            std::printf("%s %ls\n", box.SaveScreenshot(strPath) ? "screenshot" : "screenshot failed", strPath.c_str());
            box.PressOK();
        });
    }
    AfxMessageBox(strProblem.c_str(), MB_OK | MB_ICONHAND);
    if (pRobot)
        pRobot->Finish();
}

bool XTRmDemoApp::SetUpStore(const XTRmsServiceConfig& workstation, bool* pbProvisioned, std::wstring* pstrProblem)
{
    // The store is set up by its administrator on a service of his own that
    // ends here: the host's service never holds more power than the user
    // logged in on it. On SQLite that is whoever may write the file, on the
    // rights server the database administrator, whose password stays in the
    // cluster's folder and in this function.
    XTRmsServiceConfig config = workstation;
    if (m_bServer && !XTRmDemoStore::ReadServerAdministrator(m_strServerFolder, &config, pstrProblem))
    {
        XTSecret::Wipe(config.strServerPassword);
        return false;
    }
    XTRmsService administrator(config);
    XTSecret::Wipe(config.strServerPassword);
    const XTRmsEngine nEngine = m_bServer ? XTRmsEngine::Postgres : XTRmsEngine::Sqlite;
    if (!XTRmDemoStore::Provision(administrator, nEngine, pbProvisioned, pstrProblem))
    {
        // Whatever is in the file stays there: the administrator decides.
        if (!m_bServer)
            *pstrProblem += L"\n\nThe file has been left as it is. Move it aside to let the demo create a new one.";
        return false;
    }
    // A lock left by an interrupted run would spoil the script; nobody is
    // logged in yet to lift it, so the set-up does, as the store's
    // administrator.
    if (m_bHeadless && !XTRmDemoLogin::LiftLock(administrator))
        ReportFailure("a lock left by an earlier run could not be lifted");
    return true;
}

bool XTRmDemoApp::CreateService()
{
    XTRmsServiceConfig config = XTRmDemoStore::MakeConfig();
    std::wstring strProblem;
    if (m_bServer)
    {
        // This workstation has no local copy of the rights: start-up has to
        // turn to the rights server, with the workstation's own account.
        config.strDatabaseFile = FullPath(ExeFolder() + L"\\..\\demo-offline\\XTRmDemo.db");
        if (!XTRmDemoStore::ReadServer(m_strServerFolder, &config, &strProblem))
        {
            ShowStartUpProblem("rights store problem", strProblem, L"store-problem.png");
            return false;
        }
        m_nServerPort = config.serverSetting.GetPortNum();
    }
    else
    {
        config.strDatabaseFile = m_strDatabaseFile;
    }
    // A workstation without the store's ODBC driver is told which one.
    strProblem = XTRmsService::DescribeMissingOdbcDrivers(config);
    if (!strProblem.empty())
    {
        ShowStartUpProblem("missing ODBC driver", strProblem, L"odbc-driver-missing.png");
        return false;
    }
    if (m_bGallery)
    {
        // The pictures show the trail's times and workstation: the same on
        // every run and every machine (2027-01-15 08:00 UTC).
        config.fnClock = [] { return 1800000000LL; };
        config.strWorkstation = L"PLANT-PC-07";
    }
    // The store is set up below, before anything else; a file that
    // disappears while the demo runs is then reported, not recreated.
    config.bCreateDatabase = false;
    bool bProvisioned = false;
    if (!SetUpStore(config, &bProvisioned, &strProblem))
    {
        XTSecret::Wipe(config.strServerPassword);
        ShowStartUpProblem("rights store problem", strProblem, L"store-problem.png");
        return false;
    }
    if (m_bServer)
        std::printf("rights server: PostgreSQL on 127.0.0.1:%d, %s\n", m_nServerPort,
            bProvisioned ? "demo accounts added" : "its users as they are");
    else
        std::printf("rights store: %ls, %s\n", m_strDatabaseFile.c_str(),
            bProvisioned ? "created with the demo accounts" : "used as it is");

    m_pService = std::make_unique<XTRmsService>(config);
    XTSecret::Wipe(config.strServerPassword);
    if (m_bServer)
    {
        // The stored setting names a port where nothing listens, as after the
        // server moved: the user has to correct it in the connection dialog.
        const int nWrongPort = XTRmDemoStore::ClosedLoopbackPort(m_bGallery ? 54321 : 0);
        m_pService->SetServerSetting(XTRmsServerSetting(L"127.0.0.1", nWrongPort > 0 ? nWrongPort : 1));
    }
    return true;
}

BOOL XTRmDemoApp::InitInstance()
{
    ParseCommandLine();

    if (!CreateService())
    {
        m_bFailed = true;
        std::printf("start-up ended: the rights store cannot be used\n");
        return FALSE;
    }
    XTRmRestrictionManager::SetRestrictionManagerService(m_pService.get());
    XTRmRestrictionManager::SetApplicationName(kApplicationName);

    if (!XTRmDemoRunStartUp(*this))
    {
        if (m_bHeadless)
            m_bFailed = true;
        std::printf("start-up ended: the user gave up\n");
        return FALSE;
    }

    std::wstring strProblem;
    XTRmDemoMainFrame* pFrame = XTRmDemoMainFrame::Create(strProblem);
    if (pFrame == nullptr)
    {
        // Without its resources the host cannot work: the user learns which
        // one is missing, and the exit code says that the start failed.
        m_bFailed = true;
        ShowStartUpProblem(
            "main window problem", L"The main window cannot be shown: " + strProblem + L".", L"window-problem.png");
        return FALSE;
    }
    m_pMainWnd = pFrame;
    pFrame->ShowWindow(m_nCmdShow);
    pFrame->UpdateWindow();
    if (m_bHeadless)
        pFrame->RunHeadlessTour();
    return TRUE;
}

int XTRmDemoApp::ExitInstance()
{
    XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
    m_pService.reset();
    const int nExitCode = CWinApp::ExitInstance();
    if (m_bHeadless)
        std::printf("headless run: %s\n", m_bFailed ? "FAILED, see above" : "every check passed");
    std::fflush(stdout);
    return m_bFailed ? 1 : nExitCode;
}
