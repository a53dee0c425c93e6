#include "XTRmShowSettingsDlg.h"

#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"

namespace
{
// The dialog font's size, so that the text reads as easily as the rest.
const int kSettingsFontPoints = 8;
} // namespace

IMPLEMENT_DYNAMIC(XTRmShowSettingsDlg, CDialog)

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

    // Fixed pitch, so that the service's space-padded columns line up. The
    // face is a wish the font mapper may not grant (Wine has no Courier New):
    // FIXED_PITCH makes it fall back on another fixed-pitch face, never on a
    // proportional one. A negative height is the height of the characters
    // themselves: 8 points on this display, as the dialog's own font is sized.
    const HDC hDC = ::GetDC(m_hWnd);
    const int nHeight = -::MulDiv(kSettingsFontPoints, ::GetDeviceCaps(hDC, LOGPIXELSY), 72);
    ::ReleaseDC(m_hWnd, hDC);
    m_font.Attach(::CreateFontW(nHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
        CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New"));
    SendDlgItemMessage(IDC_XTRM_SETTINGS_TEXT, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.GetSafeHandle()), TRUE);
    SetDlgItemText(IDC_XTRM_SETTINGS_TEXT, m_strSettings.c_str());

    return bResult;
}

void XTRmShowSettingsDlg::OnBnClickedUserManagement()
{
    // Viewing only, whoever is logged in: this is a place to look, not to edit.
    XTRmRestrictionManager::ShowUserManagementDlg(true, true, nullptr);
}
