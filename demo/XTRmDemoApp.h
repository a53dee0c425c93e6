// The sample host application: loads XTRm, hands over its reference rights
// service, logs the user in and shows a main window whose menu follows the
// user's rights.
#pragma once

#include <afxwin.h>

#include "XTRmDemoService.h"

#include <memory>
#include <string>

class XTRmDemoApp : public CWinApp
{
public:
    XTRmDemoApp();

    BOOL InitInstance() override;
    int ExitInstance() override;

    XTRmDemoService& GetService() { return *m_pService; }
    // Run without anybody watching: script the dialogs, save screenshots,
    // print what happened, and exit.
    bool IsHeadless() const { return m_bHeadless; }
    bool IsSourceDown() const { return m_bSourceDown; }
    // Where the headless run writes its screenshots.
    const std::wstring& GetOutputFolder() const { return m_strOutputFolder; }
    std::wstring OutputPath(const std::wstring& strFileName) const;

private:
    void ParseCommandLine();

    std::unique_ptr<XTRmDemoService> m_pService;
    bool m_bHeadless = false;
    bool m_bSourceDown = false;
    std::wstring m_strOutputFolder;
    std::wstring m_strProfileFile;
};

XTRmDemoApp& DemoApp();

// Start-up of the demo host: tests the rights source, logs the user in.
// False when the user gave up (the application then ends).
bool XTRmDemoRunStartUp(XTRmDemoApp& app);
