#include "XTRmChangePasswordDlg.h"

#include "XTRmAdminUtil.h"
#include "XTRmLoginDlgControls.h"
#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTSecret.h"
#include "XTTxtsTextService.h"

#include <algorithm>

namespace
{
struct PasswordRefusal
{
    Rms::ERmsPasswordResult nResult;
    unsigned int nTextId;
    UINT nIcon;
};

// What the user can put right at once gets a warning; what needs someone
// else gets an error.
const PasswordRefusal kPasswordRefusals[] = {
    {Rms::ERmsPasswordWrongOld, IDS_XTRM_PASSWORD_WRONG_OLD, MB_ICONEXCLAMATION},
    {Rms::ERmsPasswordTooShort, IDS_XTRM_PASSWORD_TOO_SHORT, MB_ICONEXCLAMATION},
    {Rms::ERmsPasswordContainsUserName, IDS_XTRM_PASSWORD_CONTAINS_USER_NAME, MB_ICONEXCLAMATION},
    {Rms::ERmsPasswordNotPermitted, IDS_XTRM_PASSWORD_NOT_PERMITTED, MB_ICONHAND},
    {Rms::ERmsPasswordUnknownUser, IDS_XTRM_PASSWORD_UNKNOWN_USER, MB_ICONHAND},
    {Rms::ERmsPasswordStoreFailed, IDS_XTRM_PASSWORD_STORE_FAILED, MB_ICONHAND},
    {Rms::ERmsPasswordTooLong, IDS_XTRM_PASSWORD_TOO_LONG, MB_ICONEXCLAMATION},
    {Rms::ERmsPasswordReused, IDS_XTRM_PASSWORD_REUSED, MB_ICONEXCLAMATION},
    // Waiting is not something the user can do at once.
    {Rms::ERmsPasswordTooRecent, IDS_XTRM_PASSWORD_TOO_RECENT, MB_ICONHAND},
    {Rms::ERmsPasswordAccountLocked, IDS_XTRM_PASSWORD_ACCOUNT_LOCKED, MB_ICONHAND},
};

// The texts carry "%1" where the minimum length goes, so that a translation
// can put the number wherever its language needs it. Texts without it come
// back unchanged.
std::wstring TextWithLength(unsigned int nTextId, unsigned int nLength)
{
    return XTRmAdmin::FormatText(Txts::GetString(nTextId), std::to_wstring(nLength));
}
} // namespace

IMPLEMENT_DYNAMIC(XTRmChangePasswordDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmChangePasswordDlg, CDialog)
ON_CBN_SELCHANGE(IDC_XTRM_PASSWORD_USER, &XTRmChangePasswordDlg::OnUserSelChange)
ON_EN_CHANGE(IDC_XTRM_PASSWORD_OLD, &XTRmChangePasswordDlg::OnPasswordChange)
ON_EN_CHANGE(IDC_XTRM_PASSWORD_NEW, &XTRmChangePasswordDlg::OnPasswordChange)
END_MESSAGE_MAP()

XTRmChangePasswordDlg::XTRmChangePasswordDlg(
    XTRmsRestrictionManagerServiceBase* pService, XTRmsPasswordServiceBase* pPasswordService, CWnd* pParent)
    : CDialog(IDD_XTRM_CHANGE_PASSWORD, pParent), m_pRestrictionManagerService(pService),
      m_pPasswordService(pPasswordService), m_nMinPasswordLength(0), m_bExpiredChange(false)
{
}

XTRmChangePasswordDlg::XTRmChangePasswordDlg(XTRmsPasswordServiceBase* pPasswordService,
    const std::wstring& strUserName, const std::wstring& strExpiredPassword, CWnd* pParent)
    : CDialog(IDD_XTRM_EXPIRED_PASSWORD, pParent), m_pRestrictionManagerService(nullptr),
      m_pPasswordService(pPasswordService), m_strLoggedInUserName(strUserName), m_nMinPasswordLength(0),
      m_bExpiredChange(true), m_strExpiredPassword(strExpiredPassword)
{
}

XTRmChangePasswordDlg::~XTRmChangePasswordDlg()
{
    WipePasswordMembers();
    XTSecret::Wipe(m_strExpiredPassword);
}

void XTRmChangePasswordDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_XTRM_PASSWORD_USER, m_cboUser);
    DDX_Control(pDX, IDC_XTRM_PASSWORD_OLD, m_edtOldPassword);
    DDX_Control(pDX, IDC_XTRM_PASSWORD_NEW, m_edtNewPassword);
    Gui::DDX_Text(pDX, IDC_XTRM_PASSWORD_OLD, m_strOldPassword);
    Gui::DDX_Text(pDX, IDC_XTRM_PASSWORD_NEW, m_strNewPassword);
    Gui::DDX_Text(pDX, IDC_XTRM_PASSWORD_CONFIRM, m_strConfirmPassword);
}

BOOL XTRmChangePasswordDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // Before the login nobody is logged in: the user is the one who tried.
    if (!m_bExpiredChange)
        m_strLoggedInUserName = m_pPasswordService->GetLoggedInUserName();
    m_nMinPasswordLength = m_pPasswordService->GetMinPasswordLength();

    XTGuiWndUtil::SetWndText(
        this, Txts::GetString(m_bExpiredChange ? IDS_XTRM_EXPIRED_CAPTION : IDS_XTRM_PASSWORD_CAPTION));
    XTGuiWndUtil::SetWndControlText(
        this, IDC_XTRM_PASSWORD_POLICY, TextWithLength(IDS_XTRM_PASSWORD_POLICY, m_nMinPasswordLength));

    const bool bCanSetOtherPasswords = !m_bExpiredChange && m_pPasswordService->CanSetOtherPasswords();
    FillUserList(bCanSetOtherPasswords);
    // Shown also when it cannot be changed: the user sees whose password
    // this is.
    m_cboUser.EnableWindow(bCanSetOtherPasswords ? TRUE : FALSE);
    if (m_bExpiredChange)
    {
        // A host's older template may lack the text; the caption says it too.
        if (GetDlgItem(IDC_XTRM_EXPIRED_TEXT) != nullptr)
            SetDlgItemText(IDC_XTRM_EXPIRED_TEXT, Txts::GetString(IDS_XTRM_EXPIRED_TEXT).c_str());
        m_edtOldPassword.ShowWindow(SW_HIDE);
    }
    UpdateControls();

    // Most people open this to change their own password: the focus goes
    // to the first edit to type into rather than to the user list.
    if (NeedsOldPassword())
        GotoDlgCtrl(&m_edtOldPassword);
    else
        GotoDlgCtrl(&m_edtNewPassword);
    return FALSE;
}

void XTRmChangePasswordDlg::FillUserList(bool bCanSetOtherPasswords)
{
    m_vecUsers.clear();
    // At the login the service answers no list yet: the one user is enough.
    const std::vector<XTRmsUserInfo> vecDefinedUsers = m_bExpiredChange
        ? std::vector<XTRmsUserInfo>()
        : m_pRestrictionManagerService->GetAllDefinedUsers();
    for (const XTRmsUserInfo& user : vecDefinedUsers)
    {
        if (bCanSetOtherPasswords || user.GetUserNameW() == m_strLoggedInUserName)
            m_vecUsers.push_back(user);
    }
    // The logged-in user is always offered, first when the service does not
    // list him among the users with a profile.
    auto itLoggedIn = std::find_if(m_vecUsers.begin(), m_vecUsers.end(),
        [this](const XTRmsUserInfo& user) { return user.GetUserNameW() == m_strLoggedInUserName; });
    if (itLoggedIn == m_vecUsers.end())
        itLoggedIn = m_vecUsers.insert(m_vecUsers.begin(), XTRmsUserInfo(m_strLoggedInUserName, std::wstring()));
    const int nLoggedIn = static_cast<int>(itLoggedIn - m_vecUsers.begin());

    m_cboUser.ResetContent();
    for (const XTRmsUserInfo& user : m_vecUsers)
        m_cboUser.AddString(XTRmAdmin::FormatUserRow(user).c_str());
    m_cboUser.SetCurSel(nLoggedIn);
}

std::wstring XTRmChangePasswordDlg::GetSelectedUserName() const
{
    const int nSelection = m_cboUser.GetCurSel();
    if (nSelection < 0 || static_cast<size_t>(nSelection) >= m_vecUsers.size())
        return m_strLoggedInUserName;
    return m_vecUsers[nSelection].GetUserNameW();
}

bool XTRmChangePasswordDlg::IsOwnChange() const
{
    return GetSelectedUserName() == m_strLoggedInUserName;
}

bool XTRmChangePasswordDlg::NeedsOldPassword() const
{
    return IsOwnChange() && !m_bExpiredChange;
}

void XTRmChangePasswordDlg::UpdateControls()
{
    const bool bNeedsOld = NeedsOldPassword();
    // An old password typed before choosing another user would never be
    // sent: it does not stay behind in a greyed edit.
    if (!bNeedsOld && m_edtOldPassword.GetWindowTextLength() > 0)
        m_edtOldPassword.SetWindowText(XTGenStringDefinesTraits<wchar_t>::ms_szEmpty);
    m_edtOldPassword.EnableWindow(bNeedsOld ? TRUE : FALSE);

    // Lengths only: the passwords themselves are read once, on OK.
    const bool bComplete = m_edtNewPassword.GetWindowTextLength() > 0 &&
        (!bNeedsOld || m_edtOldPassword.GetWindowTextLength() > 0);
    GetDlgItem(IDOK)->EnableWindow(bComplete ? TRUE : FALSE);
}

void XTRmChangePasswordDlg::OnUserSelChange()
{
    UpdateControls();
}

void XTRmChangePasswordDlg::OnPasswordChange()
{
    UpdateControls();
}

void XTRmChangePasswordDlg::OnOK()
{
    // Enter reaches here also while OK is greyed.
    if (!GetDlgItem(IDOK)->IsWindowEnabled())
        return;
    UpdateData(TRUE);

    if (m_strNewPassword != m_strConfirmPassword)
    {
        // As Windows does after a mistyped confirmation: both new ones are
        // typed again, the old one stays.
        ClearPasswords(false);
        AfxMessageBox(Txts::GetString(IDS_XTRM_PASSWORD_MISMATCH).c_str(), MB_OK | MB_ICONEXCLAMATION, 0);
        return;
    }

    Rms::ERmsPasswordResult nResult = Rms::ERmsPasswordNotPermitted;
    if (m_bExpiredChange)
        nResult = m_pPasswordService->ChangeExpiredPassword(
            m_strLoggedInUserName, m_strExpiredPassword, m_strNewPassword);
    else if (IsOwnChange())
        nResult = m_pPasswordService->ChangeOwnPassword(m_strOldPassword, m_strNewPassword);
    else
        nResult = m_pPasswordService->SetUserPassword(GetSelectedUserName(), m_strNewPassword);
    if (nResult == Rms::ERmsPasswordOk)
    {
        WipePasswordMembers();
        XTSecret::Wipe(m_strExpiredPassword);
        // Not CDialog::OnOK: its exchange would read the passwords back in.
        EndDialog(IDOK);
        return;
    }

    ClearPasswords(true);
    ShowRefusal(nResult);
}

void XTRmChangePasswordDlg::OnCancel()
{
    WipePasswordMembers();
    XTSecret::Wipe(m_strExpiredPassword);
    CDialog::OnCancel();
}

void XTRmChangePasswordDlg::ClearPasswords(bool bOldPasswordToo)
{
    WipePasswordMembers();
    const wchar_t* pszEmpty = XTGenStringDefinesTraits<wchar_t>::ms_szEmpty;
    if (bOldPasswordToo)
        m_edtOldPassword.SetWindowText(pszEmpty);
    m_edtNewPassword.SetWindowText(pszEmpty);
    SetDlgItemText(IDC_XTRM_PASSWORD_CONFIRM, pszEmpty);

    if (bOldPasswordToo && NeedsOldPassword())
        GotoDlgCtrl(&m_edtOldPassword);
    else
        GotoDlgCtrl(&m_edtNewPassword);
}

void XTRmChangePasswordDlg::WipePasswordMembers()
{
    XTSecret::Wipe(m_strOldPassword);
    XTSecret::Wipe(m_strNewPassword);
    XTSecret::Wipe(m_strConfirmPassword);
}

void XTRmChangePasswordDlg::ShowRefusal(Rms::ERmsPasswordResult nResult)
{
    // A result the library does not know, say from a newer service, is still
    // a refusal: nothing was changed.
    unsigned int nTextId = IDS_XTRM_PASSWORD_NOT_CHANGED;
    UINT nIcon = MB_ICONHAND;
    for (const PasswordRefusal& refusal : kPasswordRefusals)
    {
        if (refusal.nResult == nResult)
        {
            nTextId = refusal.nTextId;
            nIcon = refusal.nIcon;
            break;
        }
    }
    // Only the too-short text names the length; the others have no "%1".
    AfxMessageBox(TextWithLength(nTextId, m_nMinPasswordLength).c_str(), MB_OK | nIcon, 0);
}
