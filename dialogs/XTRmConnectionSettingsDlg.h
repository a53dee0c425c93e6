// Lets the user edit where the rights server is reached: host and port.
// Works on a copy of the service's setting and never talks to the service;
// the caller stores the edited copy after IDOK.
#pragma once

#include "XTRmApi.h"
#include "XTRmDlgBackgroundBase.h"
#include "XTRmsRestrictionManagerServiceBase.h"

#include <string>

class XTRM_API XTRmConnectionSettingsDlg : public XTRmDlgBackgroundBase
{
    DECLARE_DYNAMIC(XTRmConnectionSettingsDlg)

public:
    XTRmConnectionSettingsDlg(const std::wstring& strCaption, const XTRmsServerSetting& serverSetting, CWnd* pParent,
        UINT nBackgroundImageID);
    ~XTRmConnectionSettingsDlg() override;

    // After IDOK it holds the host and port the user confirmed.
    XTRmsServerSetting& GetServerSetting();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    CWnd* GetBackgroundImageCtrl() override;

private:
    XTRmsServerSetting m_serverSetting;
    std::wstring m_strHost;
    int m_nPort;
    std::wstring m_strCaption;
};
