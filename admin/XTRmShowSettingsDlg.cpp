#include "XTRmShowSettingsDlg.h"

#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"

BEGIN_MESSAGE_MAP(XTRmShowSettingsDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_OPEN_USER_MANAGEMENT, &XTRmShowSettingsDlg::OnBnClickedUserManagement)
END_MESSAGE_MAP()

XTRmShowSettingsDlg::XTRmShowSettingsDlg(const std::wstring& strSettings, CWnd* pParent)
    : CDialog(IDD_XTRM_SHOW_SETTINGS, pParent), m_strSettings(strSettings)
{
}

XTRmShowSettingsDlg::~XTRmShowSettingsDlg()
{
    m_font.DeleteObject();
}

BOOL XTRmShowSettingsDlg::OnInitDialog()
{
    const BOOL bResult = CDialog::OnInitDialog();

    // Fixed pitch, so that the service's columns line up.
    m_font.Attach(::CreateFontW(8, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
        CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0, L"Courier"));
    SendDlgItemMessage(IDC_XTRM_SETTINGS_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.GetSafeHandle()), TRUE);
    SetDlgItemText(IDC_XTRM_SETTINGS_TEXT, m_strSettings.c_str());

    return bResult;
}

void XTRmShowSettingsDlg::OnBnClickedUserManagement()
{
    // Viewing only, whoever is logged in: this is a place to look, not to edit.
    XTRmRestrictionManager::ShowUserManagementDlg(true, true, nullptr);
}
