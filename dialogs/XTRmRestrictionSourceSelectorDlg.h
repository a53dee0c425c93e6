// Shown when the rights service cannot reach its source of users and rights:
// the user chooses to try the source again or, when offered, to use the
// rights server instead.
#pragma once

#include "XTRmApi.h"
#include "XTRmDlgBackgroundBase.h"

#include <string>

class XTRM_API XTRmRestrictionSourceSelectorDlg : public XTRmDlgBackgroundBase
{
    DECLARE_DYNAMIC(XTRmRestrictionSourceSelectorDlg)

public:
    XTRmRestrictionSourceSelectorDlg(
        const std::wstring& strCaption, CWnd* pParent, bool bOfferServerConnection, unsigned int nBackgroundImageID);
    ~XTRmRestrictionSourceSelectorDlg() override;

    // The choices GetSelection hands back.
    enum ESelection : int
    {
        SelectionRetrySource = 1,
        SelectionRightsServer = 2
    };

    // One of ESelection; valid after DoModal returned IDOK.
    int GetSelection() const { return m_nSelection; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    CWnd* GetBackgroundImageCtrl() override;

    afx_msg void OnBnClickedRetry();
    afx_msg void OnBnClickedServerConnection();

    DECLARE_MESSAGE_MAP()

private:
    // Tests hand back a choice that no button can produce.
    friend struct XTRmSourceSelectorTestPeer;

    std::wstring m_strCaption;
    bool m_bOfferServerConnection;
    int m_nSelection;
};
