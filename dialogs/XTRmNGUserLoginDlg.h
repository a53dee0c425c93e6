// Login dialog without guest login and without header picture: user name
// and password only.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"

#include <string>

class XTRM_API XTRmNGUserLoginDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmNGUserLoginDlg)

public:
    XTRmNGUserLoginDlg(const std::wstring& strCaption, const std::wstring& strUserName, const std::wstring& strPassword,
        CWnd* pParent);
    ~XTRmNGUserLoginDlg() override;

    std::wstring GetUserName() const { return m_strUserName; }
    std::wstring GetPassword() const { return m_strPassword; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnEnChangeLogin();

    DECLARE_MESSAGE_MAP()

private:
    std::wstring m_strUserName;
    std::wstring m_strPassword;
    std::wstring m_strCaption;
};
