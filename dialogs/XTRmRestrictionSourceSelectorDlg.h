// Shown when the rights service cannot reach its source of users and rights:
// the user chooses to try the source again (1) or, when offered, to use the
// rights server instead (2).
#pragma once

#include "XTRmApi.h"
#include "XTRmDlgBackgroundBase.h"

#include <string>

class XTRM_API XTRmRestrictionSourceSelectorDlg : public XTRmDlgBackgroundBase
{
    DECLARE_DYNAMIC(XTRmRestrictionSourceSelectorDlg)

public:
    XTRmRestrictionSourceSelectorDlg(const std::wstring& strCaption, CWnd* pParent, bool bOfferServerConnection,
        unsigned int nBackgroundImageID);
    virtual ~XTRmRestrictionSourceSelectorDlg();

    // 1: try the source again; 2: connect to the rights server. Valid after
    // DoModal returned IDOK.
    int GetSelection() const { return m_nSelection; }

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual CWnd* GetBackgroundImageCtrl();

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
