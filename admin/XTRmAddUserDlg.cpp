#include "XTRmAddUserDlg.h"

#include "XTRmAdminUtil.h"
#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(XTRmAddUserDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmAddUserDlg, CDialog)
ON_LBN_SELCHANGE(IDC_XTRM_CANDIDATE_LIST, &XTRmAddUserDlg::OnUserSelChange)
ON_LBN_SETFOCUS(IDC_XTRM_CANDIDATE_LIST, &XTRmAddUserDlg::OnUserSelChange)
ON_BN_CLICKED(IDC_XTRM_ALL_USERS, &XTRmAddUserDlg::OnShowAllUsers)
END_MESSAGE_MAP()

XTRmAddUserDlg::XTRmAddUserDlg(XTRmsRestrictionManagerServiceBase* pService)
    : CDialog(IDD_XTRM_ADD_USER, nullptr), m_pRestrictionManagerService(pService)
{
}

XTRmAddUserDlg::~XTRmAddUserDlg() = default;

void XTRmAddUserDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_XTRM_CANDIDATE_LIST, m_lstUsers);
    DDX_Control(pDX, IDC_XTRM_ROLE_FRAME, m_grpRole);
    DDX_Control(pDX, IDC_XTRM_ALL_USERS, m_btnAllUsers);
    DDX_Control(pDX, IDC_XTRM_ROLE_RADIO1, m_rbRole1);
    DDX_Control(pDX, IDC_XTRM_ROLE_RADIO2, m_rbRole2);
    DDX_Control(pDX, IDC_XTRM_ROLE_RADIO3, m_rbRole3);
    DDX_Control(pDX, IDC_XTRM_ROLE_RADIO4, m_rbRole4);
    DDX_Control(pDX, IDC_XTRM_ROLE_RADIO5, m_rbRole5);

    m_vecRoleRadios.clear();
    m_vecRoleRadios.push_back(&m_rbRole1);
    m_vecRoleRadios.push_back(&m_rbRole2);
    m_vecRoleRadios.push_back(&m_rbRole3);
    m_vecRoleRadios.push_back(&m_rbRole4);
    m_vecRoleRadios.push_back(&m_rbRole5);
}

BOOL XTRmAddUserDlg::OnInitDialog()
{
    const BOOL bResult = CDialog::OnInitDialog();

    if (!m_pRestrictionManagerService->IsDomainActive())
        m_btnAllUsers.EnableWindow(FALSE);
    FillCandidateUsers(m_pRestrictionManagerService->GetLocalUsers());

    return bResult;
}

void XTRmAddUserDlg::OnShowAllUsers()
{
    // Reading every account of a domain can take a while.
    CWaitCursor wait;
    FillCandidateUsers(m_pRestrictionManagerService->GetAllUsers());
}

void XTRmAddUserDlg::FillCandidateUsers(const std::vector<XTRmsUserInfo>& vecUsers)
{
    m_vecCandidateUsers.clear();
    for (const XTRmsUserInfo& user : vecUsers)
    {
        if (!m_pRestrictionManagerService->IsUserDefined(user.GetUserNameW()))
            m_vecCandidateUsers.push_back(user);
    }
    m_vecRoles = m_pRestrictionManagerService->GetAllRoles();

    FillUserList();
    ShowRoles();
    m_lstUsers.SetCurSel(0);
    OnUserSelChange();
}

void XTRmAddUserDlg::FillUserList()
{
    m_lstUsers.ResetContent();
    for (const XTRmsUserInfo& user : m_vecCandidateUsers)
        m_lstUsers.AddString(XTRmAdmin::FormatUserRow(user).c_str());
}

void XTRmAddUserDlg::ShowRoles()
{
    // Only five radio buttons exist: a service with more roles offers its
    // first five here, and OnOK never looks beyond them either.
    std::vector<std::wstring> vecNames;
    for (const XTRmsRoleInfo& role : m_vecRoles)
        vecNames.push_back(role.GetName());
    const size_t nShown = XTRmAdmin::LayoutControlColumn(*this, m_vecRoleRadios, vecNames, true, m_grpRole);
    if (nShown == 0)
        return;

    const Rms::RmsUserRole nInitialRole = m_pRestrictionManagerService->GetInitialRole();
    for (size_t i = 0; i < nShown; ++i)
    {
        if (m_vecRoles[i].GetId() == nInitialRole)
        {
            m_vecRoleRadios[i]->SetCheck(BST_CHECKED);
            break;
        }
    }
}

void XTRmAddUserDlg::OnUserSelChange()
{
    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecCandidateUsers);
    if (nSelection < 0)
        return;

    m_grpRole.SetWindowText((Gui::LoadStringW(IDS_XTRM_ROLE_FOR_USER) + m_vecCandidateUsers[nSelection].GetUserNameW() +
        XTGenStringDefinesTraits<wchar_t>::ms_strSpace)
                                .c_str());
}

void XTRmAddUserDlg::OnOK()
{
    // Ends the dialog with IDOK whatever follows; the controls still show
    // what they showed when OK was pressed.
    CDialog::OnOK();

    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecCandidateUsers);
    if (nSelection < 0)
        return;
    const std::wstring strUserName = m_vecCandidateUsers[nSelection].GetUserNameW();

    Rms::RmsUserRole nRole = Rms::RmsRoleNone;
    const size_t nShown = std::min(m_vecRoles.size(), m_vecRoleRadios.size());
    for (size_t i = 0; i < nShown; ++i)
    {
        if (m_vecRoleRadios[i]->GetCheck() != BST_UNCHECKED)
        {
            nRole = m_vecRoles[i].GetId();
            break;
        }
    }

    m_pRestrictionManagerService->CreateUser(strUserName, nRole);
}
