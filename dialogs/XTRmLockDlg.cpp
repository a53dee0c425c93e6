#include "XTRmLockDlg.h"

#include "XTRmAdminUtil.h"
#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTSecret.h"
#include "XTTxtsTextService.h"

namespace
{
// "%1" marks where the user's name goes, wherever a translation needs it.
std::wstring TextWithUserName(unsigned int nTextId, const std::wstring& strUserName)
{
    return XTRmAdmin::FormatText(Txts::GetString(nTextId), strUserName);
}
} // namespace

IMPLEMENT_DYNAMIC(XTRmLockDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmLockDlg, CDialog)
ON_EN_CHANGE(IDC_XTRM_LOCK_USER, &XTRmLockDlg::OnEditChange)
ON_EN_CHANGE(IDC_XTRM_LOCK_PASSWORD, &XTRmLockDlg::OnEditChange)
END_MESSAGE_MAP()

XTRmLockDlg::XTRmLockDlg(XTRmsSessionServiceBase* pSessionService, const std::wstring& strLockedUserName,
    std::function<void(Rms::ERmsLoginResult)> fnShowRefusal, CWnd* pParent)
    : CDialog(IDD_XTRM_LOCK, pParent), m_pSessionService(pSessionService), m_strLockedUserName(strLockedUserName),
      m_fnShowRefusal(std::move(fnShowRefusal)), m_bAccountLocked(false), m_strUserName(strLockedUserName),
      m_bUserSwitched(false)
{
}

XTRmLockDlg::~XTRmLockDlg()
{
    XTSecret::Wipe(m_strPassword);
}

void XTRmLockDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_XTRM_LOCK_USER, m_edtUserName);
    DDX_Control(pDX, IDC_XTRM_LOCK_PASSWORD, m_edtPassword);
    Gui::DDX_Text(pDX, IDC_XTRM_LOCK_USER, m_strUserName);
    Gui::DDX_Text(pDX, IDC_XTRM_LOCK_PASSWORD, m_strPassword);
}

BOOL XTRmLockDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    XTGuiWndUtil::SetWndText(this, Txts::GetString(IDS_XTRM_LOCK_CAPTION));
    ShowLockText();
    UpdateControls();
    // The user who comes back most often is the one who left.
    GotoDlgCtrl(&m_edtPassword);
    return FALSE;
}

std::wstring XTRmLockDlg::GetEnteredUserName() const
{
    std::wstring strText(static_cast<size_t>(m_edtUserName.GetWindowTextLength()) + 1, L'\0');
    const int nLength = m_edtUserName.GetWindowText(&strText[0], static_cast<int>(strText.size()));
    strText.resize(nLength > 0 ? static_cast<size_t>(nLength) : 0);
    return strText;
}

bool XTRmLockDlg::IsUserOffered(const std::wstring& strUserName) const
{
    return !strUserName.empty() && !(m_bAccountLocked && strUserName == m_strLockedUserName);
}

void XTRmLockDlg::ShowLockText()
{
    XTGuiWndUtil::SetWndControlText(this, IDC_XTRM_LOCK_TEXT,
        TextWithUserName(m_bAccountLocked ? IDS_XTRM_LOCK_ACCOUNT_LOCKED : IDS_XTRM_LOCK_TEXT, m_strLockedUserName));
}

void XTRmLockDlg::UpdateControls()
{
    // Lengths only: the password is read once, on OK.
    const bool bComplete = IsUserOffered(GetEnteredUserName()) && m_edtPassword.GetWindowTextLength() > 0;
    GetDlgItem(IDOK)->EnableWindow(bComplete ? TRUE : FALSE);
}

void XTRmLockDlg::OnEditChange()
{
    UpdateControls();
}

void XTRmLockDlg::OnOK()
{
    // Enter reaches here also while OK is greyed.
    if (!GetDlgItem(IDOK)->IsWindowEnabled())
        return;
    UpdateData(TRUE);
    if (!IsUserOffered(m_strUserName))
        return;

    // The name left as it was continues the session; any other name is a
    // switch, which the service refuses like a login when it must.
    const bool bSameUser = m_strUserName == m_strLockedUserName;
    const Rms::ERmsLoginResult nResult = bSameUser ? m_pSessionService->UnlockSession(m_strPassword)
                                                   : m_pSessionService->SwitchUser(m_strUserName, m_strPassword);
    XTSecret::Wipe(m_strPassword);
    m_edtPassword.SetWindowText(XTGenStringDefinesTraits<wchar_t>::ms_szEmpty);
    if (nResult == Rms::ERmsLoginOk)
    {
        m_strLoggedInUserName = m_strUserName;
        m_bUserSwitched = !bSameUser;
        // Not CDialog::OnOK: its exchange would read the edits again.
        EndDialog(IDOK);
        return;
    }

    if (bSameUser && nResult == Rms::ERmsLoginUserLocked)
    {
        // Only someone else can go on now: the locked name is not offered.
        m_bAccountLocked = true;
        ShowLockText();
        m_edtUserName.SetWindowText(XTGenStringDefinesTraits<wchar_t>::ms_szEmpty);
    }
    UpdateControls();
    if (m_fnShowRefusal)
        m_fnShowRefusal(nResult);
    GotoDlgCtrl(m_bAccountLocked && GetEnteredUserName().empty() ? &m_edtUserName : &m_edtPassword);
}

void XTRmLockDlg::OnCancel()
{
    // Escape must not open the lock.
}
