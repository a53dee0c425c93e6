// The signing dialog: the meaning of an electronic signature, the signer's
// name and password, and a reason chosen from the host's list or typed. On
// OK it asks the rights service to sign and stays open, with the password
// emptied, when the service refuses. Exported so that a host may show it
// itself; the façade's SignAction and ConfirmCommand show it for the host.
#pragma once

#include <afxwin.h>

#include "XTRmApi.h"
#include "XTRmsSessionServiceBase.h"

#include <string>
#include <vector>

class XTRM_API XTRmSignatureDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmSignatureDlg)

public:
    // strSignerName is proposed, and the only signer when bSignerEditable is
    // false. strFirstSigner is empty for a first signature; for the second of
    // a four-eyes action it names the first signer, whom the service refuses.
    XTRmSignatureDlg(XTRmsSessionServiceBase* pSessionService, const std::wstring& strMeaning,
        const std::vector<std::wstring>& vecReasons, const std::wstring& strSignerName, bool bSignerEditable,
        const std::wstring& strFirstSigner, CWnd* pParent);
    ~XTRmSignatureDlg() override;

    // The signature as the service recorded it, after DoModal returned IDOK.
    const XTRmsSignature& GetSignature() const { return m_signature; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnInputChange();
    afx_msg void OnReasonSelChange();

    DECLARE_MESSAGE_MAP()

private:
    void UpdateControls();
    void ShowRefusal(Rms::ERmsSignResult nResult);

    XTRmsSessionServiceBase* m_pSessionService;
    std::wstring m_strMeaning;
    std::vector<std::wstring> m_vecReasons;
    std::wstring m_strUserName;
    bool m_bSignerEditable;
    std::wstring m_strFirstSigner;
    std::wstring m_strPassword;
    std::wstring m_strReason;
    XTRmsSignature m_signature;
    CEdit m_edtUserName;
    CEdit m_edtPassword;
    CComboBox m_cboReason;
};
