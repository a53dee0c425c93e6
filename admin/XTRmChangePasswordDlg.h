// Lets the logged-in user change his own password, and an administrator set
// another user's. Sends the change to the rights service's password interface
// on OK and stays open, with the password edits emptied, when the service
// refuses it. Exported so that a host may show it itself; the façade's
// ShowChangePasswordDlg checks first that a named user is logged in.
//
// Built with a user name and his expired password, it is the login's own
// change: the user is fixed, the old password is the one just typed (never
// typed again, never shown) and OK sends ChangeExpiredPassword, which logs
// the user in when it succeeds.
#pragma once

#include <afxwin.h>

#include "XTRmApi.h"
#include "XTRmsPasswordServiceBase.h"
#include "XTRmsRestrictionManagerServiceBase.h"

#include <string>
#include <vector>

class XTRM_API XTRmChangePasswordDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmChangePasswordDlg)

public:
    // Both interfaces are usually one object: the rights service lists the
    // users, its password interface changes the password.
    XTRmChangePasswordDlg(
        XTRmsRestrictionManagerServiceBase* pService, XTRmsPasswordServiceBase* pPasswordService, CWnd* pParent);
    // After UserLogin answered that the password has expired. The dialog
    // keeps its own copy of the password until it closes and wipes it then.
    XTRmChangePasswordDlg(XTRmsPasswordServiceBase* pPasswordService, const std::wstring& strUserName,
        const std::wstring& strExpiredPassword, CWnd* pParent);
    ~XTRmChangePasswordDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnUserSelChange();
    afx_msg void OnPasswordChange();

    DECLARE_MESSAGE_MAP()

private:
    void FillUserList(bool bCanSetOtherPasswords);
    // The logged-in user when no row is selected.
    std::wstring GetSelectedUserName() const;
    bool IsOwnChange() const;
    // Only one's own change outside the login asks for the old password.
    bool NeedsOldPassword() const;
    void UpdateControls();
    // Empties the password edits and the members that held them, and puts the
    // focus where the user types first.
    void ClearPasswords(bool bOldPasswordToo);
    void WipePasswordMembers();
    void ShowRefusal(Rms::ERmsPasswordResult nResult);

    XTRmsRestrictionManagerServiceBase* m_pRestrictionManagerService;
    XTRmsPasswordServiceBase* m_pPasswordService;
    std::wstring m_strLoggedInUserName;
    unsigned int m_nMinPasswordLength;
    // Row i of m_cboUser shows element i: the list is not sorted.
    std::vector<XTRmsUserInfo> m_vecUsers;
    std::wstring m_strOldPassword;
    std::wstring m_strNewPassword;
    std::wstring m_strConfirmPassword;
    CComboBox m_cboUser;
    CEdit m_edtOldPassword;
    CEdit m_edtNewPassword;
    bool m_bExpiredChange;
    std::wstring m_strExpiredPassword;
};
