// Login dialog without header picture: user name and password, and when
// allowed a choice to log in as guest instead.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"

#include <string>

class XTRM_API XTRmUserLoginDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmUserLoginDlg)

public:
    XTRmUserLoginDlg(const std::wstring& strCaption, const std::wstring& strUserName, const std::wstring& strPassword,
        CWnd* pParent, bool bGuestLoginAllowed);
    ~XTRmUserLoginDlg() override;

    // Empty for a guest login.
    std::wstring GetUserName() const;
    std::wstring GetPassword() const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnBnClickedUserLogin();
    afx_msg void OnBnClickedGuestLogin();
    afx_msg void OnEnChangeLogin();

    DECLARE_MESSAGE_MAP()

private:
    bool IsGuestLogin() const { return m_bGuestLoginAllowed && m_nLoginMode == 1; }

    std::wstring m_strUserName;
    std::wstring m_strPassword;
    std::wstring m_strCaption;
    bool m_bGuestLoginAllowed;
    // Selected button of the group that begins at the named-user radio
    // button: 0 named user, 1 guest.
    int m_nLoginMode;
};
