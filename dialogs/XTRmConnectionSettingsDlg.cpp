#include "XTRmConnectionSettingsDlg.h"

#include "XTGuiLibrary.h"
#include "XTRmResourceIds.h"

// CDialog here and in OnOK: XTRmDlgBackgroundBase has no run-time class or OnOK of its own.
IMPLEMENT_DYNAMIC(XTRmConnectionSettingsDlg, CDialog)

XTRmConnectionSettingsDlg::XTRmConnectionSettingsDlg(
    const std::wstring& strCaption, const XTRmsServerSetting& serverSetting, CWnd* pParent, UINT nBackgroundImageID)
    : XTRmDlgBackgroundBase(IDD_XTRM_CONNECTION_SETTINGS, pParent, nBackgroundImageID), m_serverSetting(serverSetting),
      m_strHost(serverSetting.GetHost()), m_nPort(serverSetting.GetPortNum()), m_strCaption(strCaption)
{
}

XTRmConnectionSettingsDlg::~XTRmConnectionSettingsDlg() = default;

XTRmsServerSetting& XTRmConnectionSettingsDlg::GetServerSetting()
{
    return m_serverSetting;
}

void XTRmConnectionSettingsDlg::DoDataExchange(CDataExchange* pDX)
{
    Gui::DDX_Text(pDX, IDC_XTRM_SERVER_HOST, m_strHost);
    // MFC's integer exchange: a text that is no number is reported by MFC's
    // own message and leaves the focus on the port edit.
    DDX_Text(pDX, IDC_XTRM_SERVER_PORT, m_nPort);
}

BOOL XTRmConnectionSettingsDlg::OnInitDialog()
{
    XTRmDlgBackgroundBase::OnInitDialog();
    XTGuiWndUtil::SetWndText(this, m_strCaption);
    // The picture was placed after the controls were drawn; repaint it all now.
    Invalidate(TRUE);
    UpdateWindow();
    return TRUE;
}

void XTRmConnectionSettingsDlg::OnOK()
{
    if (GetSafeHwnd() != nullptr)
        UpdateData(TRUE);
    m_serverSetting.SetHost(m_strHost);
    // A TCP port is 16 bits wide; larger numbers keep their low 16 bits.
    m_serverSetting.SetPortNum(static_cast<int>(static_cast<unsigned short>(m_nPort)));
    // Exchanges once more and ends the dialog only when the port is a number.
    CDialog::OnOK();
}

CWnd* XTRmConnectionSettingsDlg::GetBackgroundImageCtrl()
{
    return GetDlgItem(IDC_XTRM_BACKGROUND);
}
