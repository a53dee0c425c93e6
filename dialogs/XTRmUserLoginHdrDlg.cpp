#include "XTRmUserLoginHdrDlg.h"

#include "XTRmLoginDlgControls.h"
#include "XTRmResourceIds.h"

#include "XTGuiLibrary.h"
#include "XTSecret.h"

using namespace XTRmLoginDlgControls;

// CDialog here and in OnOK/OnCancel: XTRmDlgBackgroundBase has no run-time class, message map, OnOK or OnCancel.
IMPLEMENT_DYNAMIC(XTRmUserLoginHdrDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmUserLoginHdrDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_LOGIN_NAMED_RADIO, &XTRmUserLoginHdrDlg::OnBnClickedUserLogin)
ON_BN_CLICKED(IDC_XTRM_LOGIN_GUEST_RADIO, &XTRmUserLoginHdrDlg::OnBnClickedGuestLogin)
ON_EN_CHANGE(IDC_XTRM_LOGIN_USER_NAME, &XTRmUserLoginHdrDlg::OnEnChangeLogin)
ON_EN_CHANGE(IDC_XTRM_LOGIN_PASSWORD, &XTRmUserLoginHdrDlg::OnEnChangeLogin)
END_MESSAGE_MAP()

XTRmUserLoginHdrDlg::XTRmUserLoginHdrDlg(const std::wstring& strCaption, const std::wstring& strUserName,
    const std::wstring& strPassword, CWnd* pParent, bool bGuestLoginAllowed, unsigned int nBackgroundImageID)
    : XTRmDlgBackgroundBase(
          bGuestLoginAllowed ? IDD_XTRM_USER_LOGIN_HDR : IDD_XTRM_USER_LOGIN_HDR_NG, pParent, nBackgroundImageID),
      m_strUserName(strUserName), m_strPassword(strPassword), m_strCaption(strCaption),
      m_bGuestLoginAllowed(bGuestLoginAllowed), m_nLoginMode(0)
{
}

XTRmUserLoginHdrDlg::~XTRmUserLoginHdrDlg()
{
    XTSecret::Wipe(m_strPassword);
}

std::wstring XTRmUserLoginHdrDlg::GetUserName() const
{
    return IsGuestLogin() ? std::wstring() : m_strUserName;
}

std::wstring XTRmUserLoginHdrDlg::GetPassword() const
{
    return IsGuestLogin() ? std::wstring() : m_strPassword;
}

void XTRmUserLoginHdrDlg::DoDataExchange(CDataExchange* pDX)
{
    Gui::DDX_Text(pDX, IDC_XTRM_LOGIN_USER_NAME, m_strUserName);
    Gui::DDX_Text(pDX, IDC_XTRM_LOGIN_PASSWORD, m_strPassword);
    // The template without guest login has no radio buttons.
    if (m_bGuestLoginAllowed)
        DDX_Radio(pDX, IDC_XTRM_LOGIN_NAMED_RADIO, m_nLoginMode);
}

BOOL XTRmUserLoginHdrDlg::OnInitDialog()
{
    BOOL bResult = XTRmDlgBackgroundBase::OnInitDialog();
    ShowCredentials(*this, IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD, m_strUserName, m_strPassword);
    UpdateData(FALSE);
    if (m_bGuestLoginAllowed)
        ShowLoginModeChoice(*this, SW_SHOW);
    XTGuiWndUtil::SetWndText(this, m_strCaption);
    // The picture moved under the controls: paint everything afresh.
    Invalidate(TRUE);
    UpdateData(FALSE);
    return bResult;
}

CWnd* XTRmUserLoginHdrDlg::GetBackgroundImageCtrl()
{
    return GetDlgItem(IDC_XTRM_BACKGROUND);
}

void XTRmUserLoginHdrDlg::OnBnClickedUserLogin()
{
    // As in the plain dialog: a name typed before choosing guest is not restored.
    UpdateData(TRUE);
    ShowCredentials(*this, IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD, m_strUserName, m_strPassword);
}

void XTRmUserLoginHdrDlg::OnBnClickedGuestLogin()
{
    ChooseGuestLogin(*this);
}

void XTRmUserLoginHdrDlg::OnEnChangeLogin()
{
    // Without the guest choice every change switches OK on, whatever the
    // edits hold.
    if (!m_bGuestLoginAllowed || m_nLoginMode == 1)
    {
        EnableOk(*this, true);
        return;
    }
    UpdateData(TRUE);
    EnableOkForCredentials(*this, m_strUserName, m_strPassword);
}

void XTRmUserLoginHdrDlg::OnOK()
{
    UpdateData(TRUE);
    CDialog::OnOK();
}

void XTRmUserLoginHdrDlg::OnCancel()
{
    UpdateData(TRUE);
    CDialog::OnCancel();
}
