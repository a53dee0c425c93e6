#include "XTRmDemoApp.h"

#include "XTRmDemoMainFrame.h"
#include "XTRmRestrictionManager.h"

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

void XTRmDemoApp::ParseCommandLine()
{
    // Options: /headless, /source-down, /profiles <file>, /out <folder>.
    wchar_t szHeadless[8] = {};
    m_bHeadless = ::GetEnvironmentVariableW(L"XTRM_HEADLESS", szHeadless, 8) > 0 && szHeadless[0] == L'1';
    m_strOutputFolder = ExeFolder() + L"\\..\\demo-output";
    m_strProfileFile = ExeFolder() + L"\\..\\XTRmDemoProfiles.txt";

    int nArgs = 0;
    LPWSTR* ppszArgs = ::CommandLineToArgvW(::GetCommandLineW(), &nArgs);
    for (int i = 1; ppszArgs != nullptr && i < nArgs; ++i)
    {
        std::wstring strArg = ppszArgs[i];
        if (strArg == L"/headless" || strArg == L"--headless")
            m_bHeadless = true;
        else if (strArg == L"/source-down" || strArg == L"--source-down")
            m_bSourceDown = true;
        else if ((strArg == L"/profiles" || strArg == L"--profiles") && i + 1 < nArgs)
            m_strProfileFile = ppszArgs[++i];
        else if ((strArg == L"/out" || strArg == L"--out") && i + 1 < nArgs)
            m_strOutputFolder = ppszArgs[++i];
    }
    ::LocalFree(ppszArgs);
    // A plain absolute path reads better in what the headless run prints.
    wchar_t szFull[MAX_PATH] = {};
    if (::GetFullPathNameW(m_strOutputFolder.c_str(), MAX_PATH, szFull, nullptr) > 0)
        m_strOutputFolder = szFull;
    ::CreateDirectoryW(m_strOutputFolder.c_str(), nullptr);
}

BOOL XTRmDemoApp::InitInstance()
{
    ParseCommandLine();

    m_pService = std::make_unique<XTRmDemoService>(m_strProfileFile);
    m_pService->SetSourceReachable(!m_bSourceDown);
    XTRmRestrictionManager::SetRestrictionManagerService(m_pService.get());
    XTRmRestrictionManager::SetApplicationName(kApplicationName);

    if (!XTRmDemoRunStartUp(*this))
    {
        std::printf("start-up ended: the user gave up\n");
        return FALSE;
    }

    auto* pFrame = new XTRmDemoMainFrame;
    if (!pFrame->Create())
        return FALSE;
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
    std::fflush(stdout);
    return CWinApp::ExitInstance();
}
