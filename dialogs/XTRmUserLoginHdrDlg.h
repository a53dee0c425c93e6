// Login dialog with the application's header picture (application type 1):
// user name and password, and when allowed a choice to log in as guest.
#pragma once

#include "XTRmApi.h"
#include "XTRmDlgBackgroundBase.h"

#include <string>

class XTRM_API XTRmUserLoginHdrDlg : public XTRmDlgBackgroundBase
{
    DECLARE_DYNAMIC(XTRmUserLoginHdrDlg)

public:
    XTRmUserLoginHdrDlg(const std::wstring& strCaption, const std::wstring& strUserName,
        const std::wstring& strPassword, CWnd* pParent, bool bGuestLoginAllowed, unsigned int nBackgroundImageID);
    ~XTRmUserLoginHdrDlg() override;

    // Empty for a guest login.
    std::wstring GetUserName() const;
    std::wstring GetPassword() const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    CWnd* GetBackgroundImageCtrl() override;

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
