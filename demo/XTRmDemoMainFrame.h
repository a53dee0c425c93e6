// The demo host's main window: a menu of plant-control commands.
#pragma once

#include <afxwin.h>

class XTRmDemoMainFrame : public CFrameWnd
{
public:
    XTRmDemoMainFrame();

    BOOL Create();
    // Headless: saves a screenshot of the window, then closes it.
    void RunHeadlessTour();

protected:
    void OnFileExit();
    void OnAdminUsers();
    void OnAdminSettings();
    void OnAdminLogin();
    void OnAdminConnection();
    LRESULT OnHeadlessStep(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
