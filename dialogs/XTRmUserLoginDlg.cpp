#include "XTRmUserLoginDlg.h"

#include "XTRmLoginDlgControls.h"
#include "XTRmResourceIds.h"

#include "XTGuiLibrary.h"
#include "XTSecret.h"

using namespace XTRmLoginDlgControls;

IMPLEMENT_DYNAMIC(XTRmUserLoginDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmUserLoginDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_LOGIN_NAMED_RADIO, &XTRmUserLoginDlg::OnBnClickedUserLogin)
ON_BN_CLICKED(IDC_XTRM_LOGIN_GUEST_RADIO, &XTRmUserLoginDlg::OnBnClickedGuestLogin)
ON_EN_CHANGE(IDC_XTRM_LOGIN_USER_NAME, &XTRmUserLoginDlg::OnEnChangeLogin)
ON_EN_CHANGE(IDC_XTRM_LOGIN_PASSWORD, &XTRmUserLoginDlg::OnEnChangeLogin)
END_MESSAGE_MAP()

XTRmUserLoginDlg::XTRmUserLoginDlg(const std::wstring& strCaption, const std::wstring& strUserName,
    const std::wstring& strPassword, CWnd* pParent, bool bGuestLoginAllowed)
    : CDialog(IDD_XTRM_USER_LOGIN, pParent), m_strUserName(strUserName), m_strPassword(strPassword),
      m_strCaption(strCaption), m_bGuestLoginAllowed(bGuestLoginAllowed), m_nLoginMode(0)
{
}

XTRmUserLoginDlg::~XTRmUserLoginDlg()
{
    XTSecret::Wipe(m_strPassword);
}

std::wstring XTRmUserLoginDlg::GetUserName() const
{
    return IsGuestLogin() ? std::wstring() : m_strUserName;
}

std::wstring XTRmUserLoginDlg::GetPassword() const
{
    return IsGuestLogin() ? std::wstring() : m_strPassword;
}

void XTRmUserLoginDlg::DoDataExchange(CDataExchange* pDX)
{
    Gui::DDX_Text(pDX, IDC_XTRM_LOGIN_USER_NAME, m_strUserName);
    Gui::DDX_Text(pDX, IDC_XTRM_LOGIN_PASSWORD, m_strPassword);
    // Also without guest login: the template always has the group.
    DDX_Radio(pDX, IDC_XTRM_LOGIN_NAMED_RADIO, m_nLoginMode);
}

BOOL XTRmUserLoginDlg::OnInitDialog()
{
    BOOL bResult = CDialog::OnInitDialog();
    ShowCredentials(*this, IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD, m_strUserName, m_strPassword);
    UpdateData(FALSE);
    ShowLoginModeChoice(*this, m_bGuestLoginAllowed ? SW_SHOW : SW_HIDE);
    XTGuiWndUtil::SetWndText(this, m_strCaption);
    return bResult;
}

void XTRmUserLoginDlg::OnBnClickedUserLogin()
{
    // The edits come back with what the members hold after this exchange,
    // which has just stored the emptied edits: a name typed before choosing
    // guest is not restored.
    UpdateData(TRUE);
    ShowCredentials(*this, IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD, m_strUserName, m_strPassword);
}

void XTRmUserLoginDlg::OnBnClickedGuestLogin()
{
    ChooseGuestLogin(*this);
}

void XTRmUserLoginDlg::OnEnChangeLogin()
{
    if (m_nLoginMode == 1)
    {
        EnableOk(*this, true);
        return;
    }
    UpdateData(TRUE);
    EnableOkForCredentials(*this, m_strUserName, m_strPassword);
}

void XTRmUserLoginDlg::OnOK()
{
    UpdateData(TRUE);
    CDialog::OnOK();
}

void XTRmUserLoginDlg::OnCancel()
{
    UpdateData(TRUE);
    CDialog::OnCancel();
}
