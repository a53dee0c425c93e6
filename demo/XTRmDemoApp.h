// The sample host application: loads XTRm, hands over the reference rights
// service XTRms with the demo's rights and accounts, logs the user in and
// shows a main window whose menu follows the user's rights.
#pragma once

#include <afxwin.h>

#include "XTRmDemoRights.h"
#include "XTRmsService.h"

#include <memory>
#include <string>

class XTRmDemoApp : public CWinApp
{
public:
    XTRmDemoApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    XTRmsService& GetService() { return *m_pService; }
    // Run without anybody watching: script the dialogs, save screenshots,
    // print what happened, and exit.
    bool IsHeadless() const { return m_bHeadless; }
    // The rights come from the PostgreSQL rights server (--server); the local
    // store is missing, and the stored server setting names a wrong port.
    bool UsesServer() const { return m_bServer; }
    // Where the rights server really listens (0 without --server).
    int GetServerPort() const { return m_nServerPort; }
    // Where the headless run writes its screenshots.
    const std::wstring& GetOutputFolder() const { return m_strOutputFolder; }
    std::wstring OutputPath(const std::wstring& strFileName) const;
    // A check of the headless run failed: said at once, and the demo ends
    // with exit code 1.
    void ReportFailure(const std::string& strWhat);

private:
    void ParseCommandLine();
    // Configures the service, has the store set up, and sets the wrong
    // server port of the --server walk. False after telling the user why the
    // demo cannot start.
    bool CreateService();
    // Finds or provisions the store as its administrator, given the
    // workstation's configuration. False with why.
    bool SetUpStore(const XTRmsServiceConfig& workstation, bool* pbProvisioned, std::wstring* pstrProblem);
    // Tells the user why the demo cannot start: on stderr and in a message
    // box (headless, the robot keeps its picture and closes it).
    void ShowStartUpProblem(const char* pszWhat, const std::wstring& strProblem, const wchar_t* pszScreenshot);

    std::unique_ptr<XTRmsService> m_pService;
    bool m_bHeadless = false;
    bool m_bServer = false;
    // A repeatable run for the gallery: one fixed time, workstation and port.
    bool m_bGallery = false;
    bool m_bFailed = false;
    int m_nServerPort = 0;
    std::wstring m_strOutputFolder;
    std::wstring m_strDatabaseFile;
    std::wstring m_strServerFolder;
};

XTRmDemoApp& DemoApp();

// Start-up of the demo host: tests the rights source, logs the user in.
// False when the user gave up (the application then ends).
bool XTRmDemoRunStartUp(XTRmDemoApp& app);
