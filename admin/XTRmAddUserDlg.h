// Lets an administrator give a user account without a profile a profile with
// a role. The rights service creates the user on OK.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"

#include "XTRmsRestrictionManagerServiceBase.h"

#include <vector>

class XTRM_API XTRmAddUserDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmAddUserDlg)

public:
    explicit XTRmAddUserDlg(XTRmsRestrictionManagerServiceBase* pService);
    ~XTRmAddUserDlg() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    afx_msg void OnUserSelChange();
    afx_msg void OnShowAllUsers();

    DECLARE_MESSAGE_MAP()

private:
    void FillCandidateUsers(const std::vector<XTRmsUserInfo>& vecUsers);
    void FillUserList();
    void ShowRoles();

    XTRmsRestrictionManagerServiceBase* m_pRestrictionManagerService;
    // Row i of m_lstUsers shows element i: the list is not sorted.
    std::vector<XTRmsUserInfo> m_vecCandidateUsers;
    // Radio button i offers element i.
    std::vector<XTRmsRoleInfo> m_vecRoles;
    std::vector<CButton*> m_vecRoleRadios;
    CListBox m_lstUsers;
    CStatic m_grpRole;
    CButton m_btnAllUsers;
    CButton m_rbRole1;
    CButton m_rbRole2;
    CButton m_rbRole3;
    CButton m_rbRole4;
    CButton m_rbRole5;
};
