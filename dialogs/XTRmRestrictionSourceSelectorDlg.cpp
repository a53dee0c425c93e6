#include "XTRmRestrictionSourceSelectorDlg.h"

#include "XTRmResourceIds.h"

#include "XTGuiLibrary.h"

// CDialog here and in OnOK/OnCancel: XTRmDlgBackgroundBase has no run-time class, message map, OnOK or OnCancel.
IMPLEMENT_DYNAMIC(XTRmRestrictionSourceSelectorDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmRestrictionSourceSelectorDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_SOURCE_RETRY, &XTRmRestrictionSourceSelectorDlg::OnBnClickedRetry)
ON_BN_CLICKED(IDC_XTRM_SOURCE_SERVER, &XTRmRestrictionSourceSelectorDlg::OnBnClickedServerConnection)
END_MESSAGE_MAP()

XTRmRestrictionSourceSelectorDlg::XTRmRestrictionSourceSelectorDlg(
    const std::wstring& strCaption, CWnd* pParent, bool bOfferServerConnection, unsigned int nBackgroundImageID)
    : XTRmDlgBackgroundBase(IDD_XTRM_SOURCE_SELECTOR, pParent, nBackgroundImageID), m_strCaption(strCaption),
      m_bOfferServerConnection(bOfferServerConnection), m_nSelection(SelectionRetrySource)
{
}

XTRmRestrictionSourceSelectorDlg::~XTRmRestrictionSourceSelectorDlg() = default;

BOOL XTRmRestrictionSourceSelectorDlg::OnInitDialog()
{
    BOOL bResult = XTRmDlgBackgroundBase::OnInitDialog();
    UpdateData(FALSE);

    // The retry option is selected, in step with the initial choice.
    CWnd* pRetry = GetDlgItem(IDC_XTRM_SOURCE_RETRY);
    pRetry->ShowWindow(SW_SHOW);
    pRetry->SendMessage(BM_SETCHECK, BST_CHECKED);
    GetDlgItem(IDC_XTRM_SOURCE_SERVER)->ShowWindow(m_bOfferServerConnection ? SW_SHOW : SW_HIDE);

    XTGuiWndUtil::SetWndText(this, m_strCaption);
    Invalidate(TRUE);
    UpdateData(FALSE);
    return bResult;
}

void XTRmRestrictionSourceSelectorDlg::OnBnClickedRetry()
{
    UpdateData(TRUE);
    m_nSelection = SelectionRetrySource;
}

void XTRmRestrictionSourceSelectorDlg::OnBnClickedServerConnection()
{
    UpdateData(TRUE);
    m_nSelection = SelectionRightsServer;
}

void XTRmRestrictionSourceSelectorDlg::OnOK()
{
    UpdateData(TRUE);
    CDialog::OnOK();
}

void XTRmRestrictionSourceSelectorDlg::OnCancel()
{
    UpdateData(TRUE);
    CDialog::OnCancel();
}

CWnd* XTRmRestrictionSourceSelectorDlg::GetBackgroundImageCtrl()
{
    return GetDlgItem(IDC_XTRM_BACKGROUND);
}
