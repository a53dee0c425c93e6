// Shows the rights service's description of its settings, unchanged, in a
// fixed-pitch font, with a way into the user management dialog for viewing.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"

#include <string>

class XTRM_API XTRmShowSettingsDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmShowSettingsDlg)

public:
    XTRmShowSettingsDlg(const std::wstring& strSettings, CWnd* pParent);
    ~XTRmShowSettingsDlg() override;

protected:
    BOOL OnInitDialog() override;

    afx_msg void OnBnClickedUserManagement();

    DECLARE_MESSAGE_MAP()

private:
    std::wstring m_strSettings;
    CFont m_font;
};
