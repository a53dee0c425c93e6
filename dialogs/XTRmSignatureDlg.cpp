#include "XTRmSignatureDlg.h"

#include "XTRmAdminUtil.h"
#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTSecret.h"
#include "XTTxtsTextService.h"

namespace
{
struct SignRefusal
{
    Rms::ERmsSignResult nResult;
    unsigned int nTextId;
    UINT nIcon;
};

// What the signer can put right at once gets a warning; what needs an
// administrator gets an error.
const SignRefusal kSignRefusals[] = {
    {Rms::ERmsSignWrongPassword, IDS_XTRM_SIGN_WRONG_PASSWORD, MB_ICONEXCLAMATION},
    {Rms::ERmsSignUserLocked, IDS_XTRM_SIGN_USER_LOCKED, MB_ICONHAND},
    {Rms::ERmsSignAccountDisabled, IDS_XTRM_SIGN_ACCOUNT_DISABLED, MB_ICONHAND},
    {Rms::ERmsSignSameSigner, IDS_XTRM_SIGN_SAME_SIGNER, MB_ICONEXCLAMATION},
    {Rms::ERmsSignNotPermitted, IDS_XTRM_SIGN_NOT_PERMITTED, MB_ICONHAND},
    {Rms::ERmsSignStoreFailed, IDS_XTRM_SIGN_STORE_FAILED, MB_ICONHAND},
    {Rms::ERmsSignInvalidInput, IDS_XTRM_SIGN_INVALID_INPUT, MB_ICONEXCLAMATION},
};

// Blanks alone name nobody and give no reason.
bool IsBlank(const std::wstring& strText)
{
    return strText.find_first_not_of(L" \t") == std::wstring::npos;
}

std::wstring WindowText(const CWnd& wnd)
{
    std::wstring strText(static_cast<size_t>(wnd.GetWindowTextLength()) + 1, L'\0');
    strText.resize(static_cast<size_t>(wnd.GetWindowText(&strText[0], static_cast<int>(strText.size()))));
    return strText;
}
} // namespace

IMPLEMENT_DYNAMIC(XTRmSignatureDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmSignatureDlg, CDialog)
ON_EN_CHANGE(IDC_XTRM_SIGN_USER, &XTRmSignatureDlg::OnInputChange)
ON_EN_CHANGE(IDC_XTRM_SIGN_PASSWORD, &XTRmSignatureDlg::OnInputChange)
ON_CONTROL(CBN_EDITCHANGE, IDC_XTRM_SIGN_REASON, &XTRmSignatureDlg::OnInputChange)
ON_CBN_SELCHANGE(IDC_XTRM_SIGN_REASON, &XTRmSignatureDlg::OnReasonSelChange)
END_MESSAGE_MAP()

XTRmSignatureDlg::XTRmSignatureDlg(XTRmsSessionServiceBase* pSessionService, const std::wstring& strMeaning,
    const std::vector<std::wstring>& vecReasons, const std::wstring& strSignerName, bool bSignerEditable,
    const std::wstring& strFirstSigner, CWnd* pParent)
    : CDialog(IDD_XTRM_SIGNATURE, pParent), m_pSessionService(pSessionService), m_strMeaning(strMeaning),
      m_vecReasons(vecReasons), m_strUserName(strSignerName), m_bSignerEditable(bSignerEditable),
      m_strFirstSigner(strFirstSigner)
{
}

XTRmSignatureDlg::~XTRmSignatureDlg()
{
    XTSecret::Wipe(m_strPassword);
}

void XTRmSignatureDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_XTRM_SIGN_USER, m_edtUserName);
    DDX_Control(pDX, IDC_XTRM_SIGN_PASSWORD, m_edtPassword);
    DDX_Control(pDX, IDC_XTRM_SIGN_REASON, m_cboReason);
    Gui::DDX_Text(pDX, IDC_XTRM_SIGN_USER, m_strUserName);
    Gui::DDX_Text(pDX, IDC_XTRM_SIGN_PASSWORD, m_strPassword);
    Gui::DDX_Text(pDX, IDC_XTRM_SIGN_REASON, m_strReason);
}

BOOL XTRmSignatureDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    const bool bSecond = !m_strFirstSigner.empty();
    XTGuiWndUtil::SetWndText(this, Txts::GetString(bSecond ? IDS_XTRM_SIGN_SECOND_CAPTION : IDS_XTRM_SIGN_CAPTION));
    const std::wstring strNote = XTRmAdmin::FormatText(
        Txts::GetString(bSecond ? IDS_XTRM_SIGN_SECOND_NOTE : IDS_XTRM_SIGN_FIRST_NOTE), m_strFirstSigner);
    XTGuiWndUtil::SetWndControlText(this, IDC_XTRM_SIGN_NOTE, strNote);
    XTGuiWndUtil::SetWndControlText(this, IDC_XTRM_SIGN_MEANING, m_strMeaning);

    for (const std::wstring& strReason : m_vecReasons)
        m_cboReason.AddString(strReason.c_str());
    // Read-only rather than disabled: the signer's name stays legible, and
    // the dialog manager still lets the user select and copy it.
    m_edtUserName.SetReadOnly(m_bSignerEditable ? FALSE : TRUE);
    UpdateControls();

    if (m_bSignerEditable && IsBlank(m_strUserName))
        GotoDlgCtrl(&m_edtUserName);
    else
        GotoDlgCtrl(&m_edtPassword);
    return FALSE;
}

void XTRmSignatureDlg::UpdateControls()
{
    // The password by its length only: it is read once, on OK.
    const bool bComplete = !IsBlank(WindowText(m_edtUserName)) && m_edtPassword.GetWindowTextLength() > 0 &&
        !IsBlank(WindowText(m_cboReason));
    GetDlgItem(IDOK)->EnableWindow(bComplete ? TRUE : FALSE);
}

void XTRmSignatureDlg::OnInputChange()
{
    UpdateControls();
}

void XTRmSignatureDlg::OnReasonSelChange()
{
    // The edit part shows the picked row only after this notification.
    const int nSelection = m_cboReason.GetCurSel();
    if (nSelection >= 0 && static_cast<size_t>(nSelection) < m_vecReasons.size())
        m_cboReason.SetWindowText(m_vecReasons[nSelection].c_str());
    UpdateControls();
}

void XTRmSignatureDlg::OnOK()
{
    // Enter reaches here also while OK is greyed.
    if (!GetDlgItem(IDOK)->IsWindowEnabled())
        return;
    // A name read-only on the screen is the proposed one, whatever a program
    // may have put into its edit.
    const std::wstring strFixedSigner = m_strUserName;
    UpdateData(TRUE);
    if (!m_bSignerEditable)
        m_strUserName = strFixedSigner;
    XTRmsSignature signature;
    const Rms::ERmsSignResult nResult = m_pSessionService->Sign(
        m_strUserName, m_strPassword, m_strMeaning, m_strReason, m_strFirstSigner, &signature);
    XTSecret::Wipe(m_strPassword);
    if (nResult == Rms::ERmsSignOk)
    {
        m_signature = signature;
        // Not CDialog::OnOK: its exchange would read the password back in.
        EndDialog(IDOK);
        return;
    }

    m_edtPassword.SetWindowText(XTGenStringDefinesTraits<wchar_t>::ms_szEmpty);
    // The same person twice: another person is to sign, starting with the name.
    if (nResult == Rms::ERmsSignSameSigner && m_bSignerEditable)
    {
        GotoDlgCtrl(&m_edtUserName);
    }
    else
    {
        GotoDlgCtrl(&m_edtPassword);
    }
    ShowRefusal(nResult);
}

void XTRmSignatureDlg::OnCancel()
{
    XTSecret::Wipe(m_strPassword);
    CDialog::OnCancel();
}

void XTRmSignatureDlg::ShowRefusal(Rms::ERmsSignResult nResult)
{
    // A result the library does not know is still a refusal: nothing signed.
    unsigned int nTextId = IDS_XTRM_SIGN_NOT_SIGNED;
    UINT nIcon = MB_ICONHAND;
    for (const SignRefusal& refusal : kSignRefusals)
    {
        if (refusal.nResult == nResult)
        {
            nTextId = refusal.nTextId;
            nIcon = refusal.nIcon;
            break;
        }
    }
    AfxMessageBox(Txts::GetString(nTextId).c_str(), MB_OK | nIcon, 0);
}
