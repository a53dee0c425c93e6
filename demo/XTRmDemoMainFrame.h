// The demo host's main window: a menu, a toolbar and accelerators of
// plant-control commands, adapted to the logged-in user's rights.
#pragma once

#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmDemoRestrictions.h"

#include <map>
#include <memory>
#include <string>

class XTRmDemoMainFrame : public CFrameWnd
{
public:
    // Creates the main window with its menu, toolbar and accelerators, or
    // returns nullptr after writing into strProblem which resource failed and
    // why. MFC deletes a frame whose LoadFrame failed, so the problem is
    // written where the caller keeps it.
    static XTRmDemoMainFrame* Create(std::wstring& strProblem);
    // Headless: prints and screenshots the adapted window for the logged-in
    // user and for an operator, then closes it.
    void RunHeadlessTour();

    // Registers the logged-in user's restrictions afresh and adapts a freshly
    // loaded menu and toolbar; with bPrint, prints the menu before and after.
    void ApplyRestrictions(bool bPrint);
    // After this many minutes without keyboard or mouse input the session
    // locks (Administration > Lock Screen locks at once).
    static const unsigned int kLockMinutes = 5;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    explicit XTRmDemoMainFrame(std::wstring& strProblem);

    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnSize(UINT nType, int cx, int cy);
    void OnDestroy();
    void OnFileExit();
    void OnAdminUsers();
    void OnAdminSettings();
    void OnAdminLogin();
    void OnAdminConnection();
    void OnAdminChangePassword();
    void OnAdminLock();
    void OnPlantCommand(UINT nID);
    void OnUpdateRestrictedCommand(CCmdUI* pCmdUI);
    LRESULT OnHeadlessStep(WPARAM wParam, LPARAM lParam);

    void ShowStatus(const std::wstring& strLastCommand);
    std::wstring CommandName(UINT nID) const;
    void PrintToolBar() const;
    // Sends a command as an accelerator key would and tells whether it ran.
    bool TryAccelerator(UINT nID);

    std::unique_ptr<XTRmDemoRestrictions> m_pRestrictions;
    CMFCToolBar m_wndToolBar;
    CWnd m_wndStatus;
    HACCEL m_hAccelTable;
    // Texts of every command of the unadapted menu, for messages.
    std::map<UINT, std::wstring> m_mapCommandNames;
    UINT m_nLastCommand;
    // Where OnCreate says what failed, while Create runs.
    std::wstring* m_pstrProblem;

    DECLARE_MESSAGE_MAP()
};
