#include "XTRmNGUserLoginDlg.h"

#include "XTRmLoginDlgControls.h"
#include "XTRmResourceIds.h"

#include "XTGuiLibrary.h"
#include "XTSecret.h"

using namespace XTRmLoginDlgControls;

IMPLEMENT_DYNAMIC(XTRmNGUserLoginDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmNGUserLoginDlg, CDialog)
ON_EN_CHANGE(IDC_XTRM_NG_USER_NAME, &XTRmNGUserLoginDlg::OnEnChangeLogin)
ON_EN_CHANGE(IDC_XTRM_NG_PASSWORD, &XTRmNGUserLoginDlg::OnEnChangeLogin)
END_MESSAGE_MAP()

XTRmNGUserLoginDlg::XTRmNGUserLoginDlg(
    const std::wstring& strCaption, const std::wstring& strUserName, const std::wstring& strPassword, CWnd* pParent)
    : CDialog(IDD_XTRM_NG_USER_LOGIN, pParent), m_strUserName(strUserName), m_strPassword(strPassword),
      m_strCaption(strCaption)
{
}

XTRmNGUserLoginDlg::~XTRmNGUserLoginDlg()
{
    XTSecret::Wipe(m_strPassword);
}

void XTRmNGUserLoginDlg::DoDataExchange(CDataExchange* pDX)
{
    Gui::DDX_Text(pDX, IDC_XTRM_NG_USER_NAME, m_strUserName);
    Gui::DDX_Text(pDX, IDC_XTRM_NG_PASSWORD, m_strPassword);
}

BOOL XTRmNGUserLoginDlg::OnInitDialog()
{
    BOOL bResult = CDialog::OnInitDialog();
    SetDlgItemText(IDC_XTRM_NG_USER_NAME, m_strUserName.c_str());
    SetDlgItemText(IDC_XTRM_NG_PASSWORD, m_strPassword.c_str());
    // The password edit keeps the state the template gives it.
    GetDlgItem(IDC_XTRM_NG_USER_NAME)->EnableWindow(TRUE);
    UpdateData(FALSE);
    XTGuiWndUtil::SetWndText(this, m_strCaption);
    return bResult;
}

void XTRmNGUserLoginDlg::OnEnChangeLogin()
{
    UpdateData(TRUE);
    EnableOkForCredentials(*this, m_strUserName, m_strPassword);
}

void XTRmNGUserLoginDlg::OnOK()
{
    UpdateData(TRUE);
    CDialog::OnOK();
}

void XTRmNGUserLoginDlg::OnCancel()
{
    UpdateData(TRUE);
    CDialog::OnCancel();
}
