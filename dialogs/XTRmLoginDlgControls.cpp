#include "XTRmLoginDlgControls.h"

#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"

namespace XTRmLoginDlgControls
{
void ShowCredentials(
    CWnd& dlg, int nUserNameID, int nPasswordID, const std::wstring& strUserName, const std::wstring& strPassword)
{
    dlg.SetDlgItemText(nUserNameID, strUserName.c_str());
    dlg.SetDlgItemText(nPasswordID, strPassword.c_str());
    dlg.GetDlgItem(nUserNameID)->EnableWindow(TRUE);
    dlg.GetDlgItem(nPasswordID)->EnableWindow(TRUE);
}

void ChooseGuestLogin(CWnd& dlg)
{
    dlg.UpdateData(TRUE);
    const wchar_t* pszEmpty = XTGenStringDefinesTraits<wchar_t>::ms_szEmpty;
    dlg.SetDlgItemText(IDC_XTRM_LOGIN_USER_NAME, pszEmpty);
    dlg.SetDlgItemText(IDC_XTRM_LOGIN_PASSWORD, pszEmpty);
    dlg.GetDlgItem(IDC_XTRM_LOGIN_USER_NAME)->EnableWindow(FALSE);
    dlg.GetDlgItem(IDC_XTRM_LOGIN_PASSWORD)->EnableWindow(FALSE);
    EnableOk(dlg, true);
}

void ShowLoginModeChoice(CWnd& dlg, int nCmdShow)
{
    dlg.GetDlgItem(IDC_XTRM_LOGIN_NAMED_RADIO)->ShowWindow(nCmdShow);
    dlg.GetDlgItem(IDC_XTRM_LOGIN_GUEST_RADIO)->ShowWindow(nCmdShow);
    dlg.GetDlgItem(IDC_XTRM_LOGIN_MODE_FRAME)->ShowWindow(nCmdShow);
}

void EnableOkForCredentials(CWnd& dlg, const std::wstring& strUserName, const std::wstring& strPassword)
{
    EnableOk(dlg, !strUserName.empty() && !strPassword.empty());
}

void EnableOk(CWnd& dlg, bool bEnable)
{
    dlg.GetDlgItem(IDOK)->EnableWindow(bEnable ? TRUE : FALSE);
}

} // namespace XTRmLoginDlgControls
