// The lock over a host's main window while its user is away: the same user
// continues with his password (UnlockSession), another user logs in instead
// (SwitchUser). Calls the session interface itself on OK and stays open on a
// refusal, so that nothing behind it becomes reachable between two attempts.
// There is no way to close it without a login: no Cancel, no close box, and
// Escape does nothing.
#pragma once

#include <afxwin.h>

#include "XTRmApi.h"
#include "XTRmsSessionServiceBase.h"

#include <functional>
#include <string>

class XTRM_API XTRmLockDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmLockDlg)

public:
    // fnShowRefusal shows a refused login to the user (the login flow's
    // messages) and is called for every answer but ERmsLoginOk.
    XTRmLockDlg(XTRmsSessionServiceBase* pSessionService, const std::wstring& strLockedUserName,
        std::function<void(Rms::ERmsLoginResult)> fnShowRefusal, CWnd* pParent);
    ~XTRmLockDlg() override;

    // After IDOK: who is logged in now, and whether that is someone else.
    std::wstring GetUserName() const { return m_strLoggedInUserName; }
    bool WasUserSwitched() const { return m_bUserSwitched; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnEditChange();

    DECLARE_MESSAGE_MAP()

private:
    std::wstring GetEnteredUserName() const;
    // Switch user only: the locked user's own account refused to unlock.
    bool IsUserOffered(const std::wstring& strUserName) const;
    void ShowLockText();
    void UpdateControls();

    XTRmsSessionServiceBase* m_pSessionService;
    std::wstring m_strLockedUserName;
    std::function<void(Rms::ERmsLoginResult)> m_fnShowRefusal;
    bool m_bAccountLocked;
    std::wstring m_strUserName;
    std::wstring m_strPassword;
    std::wstring m_strLoggedInUserName;
    bool m_bUserSwitched;
    CEdit m_edtUserName;
    CEdit m_edtPassword;
};
