// Lists the users that have a profile and lets an administrator add and
// remove users and grant or withdraw each right of the selected user. Every
// change goes to the rights service's working copy at once; OK saves the
// profiles, Cancel reloads them. More rights than check boxes are shown a
// page of check boxes at a time.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"

#include "XTRmsRestrictionManagerServiceBase.h"

#include <vector>

class XTRM_API XTRmUserManagementDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmUserManagementDlg)

public:
    XTRmUserManagementDlg(
        XTRmsRestrictionManagerServiceBase* pService, const bool& bEditAllowed, const bool& bViewOnly, CWnd* pParent);
    ~XTRmUserManagementDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnAddUser();
    afx_msg void OnRemoveUser();
    afx_msg void OnUserSelChange();
    afx_msg void OnRestrictionCheck(UINT nID);
    afx_msg void OnPreviousRestrictions();
    afx_msg void OnNextRestrictions();

    DECLARE_MESSAGE_MAP()

private:
    void FillUserList();
    void LayoutRestrictionChecks();
    void ReloadUsers();
    bool CanRemoveUser(const XTRmsUserInfo& user);
    void UpdateUserControls();
    void UpdateRestrictionChecks();
    bool HasRestrictionPages() const;
    size_t ShownRestrictionCount() const;
    void ShowRestrictionPage(size_t nFirstShown);
    void UpdatePagingButtons();

    XTRmsRestrictionManagerServiceBase* m_pRestrictionManagerService;
    bool m_bEditable;
    bool m_bEditAllowed;
    bool m_bViewOnly;
    // Set by every change made in the service; only Cancel reads it.
    bool m_bModified;
    // Row i of m_lstUsers shows element i: the list is not sorted.
    std::vector<XTRmsUserInfo> m_vecUsers;
    // Check box i stands for element m_nFirstShownRestriction + i.
    std::vector<XTRmsRestrictionDefinition> m_vecRestrictionDefinitions;
    // Index of the definition on the first check box: 0 unless paged on.
    size_t m_nFirstShownRestriction;
    std::vector<CButton*> m_vecRestrictionChecks;
    CListBox m_lstUsers;
    CButton m_btnAddUser;
    CButton m_btnRemoveUser;
    CStatic m_grpRestrictions;
    CButton m_chkRestriction1;
    CButton m_chkRestriction2;
    CButton m_chkRestriction3;
    CButton m_chkRestriction4;
    CButton m_chkRestriction5;
    CButton m_chkRestriction6;
    CButton m_chkRestriction7;
    CButton m_chkRestriction8;
    CButton m_chkRestriction9;
    CButton m_chkRestriction10;
    CButton m_chkRestriction11;
    CButton m_chkRestriction12;
    CButton m_chkRestriction13;
    CButton m_chkRestriction14;
    CButton m_chkRestriction15;
};
