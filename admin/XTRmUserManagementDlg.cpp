#include "XTRmUserManagementDlg.h"

#include "XTRmAddUserDlg.h"
#include "XTRmAdminUtil.h"
#include "XTRmResourceIds.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTTxtsTextService.h"

#include <algorithm>
#include <iterator>

namespace
{
// The user logged on to the operating system; empty when the system cannot
// tell. Asked afresh each time rather than cached: the dialog needs it before
// and after its own start-up steps.
std::wstring GetOperatingSystemUserName()
{
    std::wstring strUserName;
    XTGenUserInfo::Instance().GetCurrentUserName(&strUserName);
    return strUserName;
}
} // namespace

IMPLEMENT_DYNAMIC(XTRmUserManagementDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmUserManagementDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_ADD_USER, &XTRmUserManagementDlg::OnAddUser)
ON_BN_CLICKED(IDC_XTRM_REMOVE_USER, &XTRmUserManagementDlg::OnRemoveUser)
ON_LBN_SELCHANGE(IDC_XTRM_USER_LIST, &XTRmUserManagementDlg::OnUserSelChange)
ON_LBN_SETFOCUS(IDC_XTRM_USER_LIST, &XTRmUserManagementDlg::OnUserSelChange)
ON_CONTROL_RANGE(
    BN_CLICKED, IDC_XTRM_RESTRICTION_CHECK1, IDC_XTRM_RESTRICTION_CHECK15, &XTRmUserManagementDlg::OnRestrictionCheck)
ON_BN_CLICKED(IDC_XTRM_RESTRICTIONS_PREVIOUS, &XTRmUserManagementDlg::OnPreviousRestrictions)
ON_BN_CLICKED(IDC_XTRM_RESTRICTIONS_NEXT, &XTRmUserManagementDlg::OnNextRestrictions)
END_MESSAGE_MAP()

XTRmUserManagementDlg::XTRmUserManagementDlg(
    XTRmsRestrictionManagerServiceBase* pService, const bool& bEditAllowed, const bool& bViewOnly, CWnd* pParent)
    : CDialog(IDD_XTRM_USER_MANAGEMENT, pParent), m_pRestrictionManagerService(pService),
      m_bEditable(bEditAllowed && !bViewOnly), m_bEditAllowed(bEditAllowed), m_bViewOnly(bViewOnly), m_bModified(false),
      m_vecRestrictionDefinitions(pService->GetRoleRestrDefinitions()), m_nFirstShownRestriction(0)
{
}

XTRmUserManagementDlg::~XTRmUserManagementDlg() = default;

void XTRmUserManagementDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_XTRM_ADD_USER, m_btnAddUser);
    DDX_Control(pDX, IDC_XTRM_REMOVE_USER, m_btnRemoveUser);
    DDX_Control(pDX, IDC_XTRM_USER_LIST, m_lstUsers);
    DDX_Control(pDX, IDC_XTRM_RESTRICTIONS_FRAME, m_grpRestrictions);

    // The check boxes sit on every second id, in the order of the definitions.
    CButton* const apChecks[] = {&m_chkRestriction1, &m_chkRestriction2, &m_chkRestriction3, &m_chkRestriction4,
        &m_chkRestriction5, &m_chkRestriction6, &m_chkRestriction7, &m_chkRestriction8, &m_chkRestriction9,
        &m_chkRestriction10, &m_chkRestriction11, &m_chkRestriction12, &m_chkRestriction13, &m_chkRestriction14,
        &m_chkRestriction15};
    for (size_t i = 0; i < std::size(apChecks); ++i)
        DDX_Control(pDX, IDC_XTRM_RESTRICTION_CHECK1 + 2 * static_cast<int>(i), *apChecks[i]);

    m_vecRestrictionChecks.assign(std::begin(apChecks), std::end(apChecks));
}

BOOL XTRmUserManagementDlg::OnInitDialog()
{
    const BOOL bResult = CDialog::OnInitDialog();

    LayoutRestrictionChecks();

    XTGuiWndUtil::SetWndControlsEnable(this, m_bEditable);
    XTGuiWndUtil::SetWndControlEnable(this, IDC_XTRM_USER_LIST, true);
    XTGuiWndUtil::SetWndControlEnable(this, IDC_XTRM_MODE_TEXT, true);
    // A view-only dialog must still be closable.
    XTGuiWndUtil::SetWndControlEnable(this, IDOK, true);
    XTGuiWndUtil::SetWndControlEnable(this, IDCANCEL, true);
    // Paging only looks: it stays possible in every mode.
    UpdatePagingButtons();

    unsigned int nModeTextId = IDS_XTRM_MODE_EDITABLE;
    if (!m_bEditable)
        nModeTextId = m_bEditAllowed ? IDS_XTRM_MODE_VIEW_ONLY : IDS_XTRM_MODE_NOT_EDITABLE;
    XTGuiWndUtil::SetWndControlText(this, IDC_XTRM_MODE_TEXT, Txts::GetString(nModeTextId));

    ReloadUsers();

    const std::wstring strOsUserName = GetOperatingSystemUserName();
    for (size_t i = 0; i < m_vecUsers.size(); ++i)
    {
        if (m_vecUsers[i].GetUserNameW() == strOsUserName)
        {
            m_lstUsers.SetCurSel(static_cast<int>(i));
            break;
        }
    }

    UpdateUserControls();
    UpdateRestrictionChecks();

    return bResult;
}

void XTRmUserManagementDlg::LayoutRestrictionChecks()
{
    std::vector<std::wstring> vecNames;
    for (size_t i = 0; i < ShownRestrictionCount(); ++i)
        vecNames.push_back(m_vecRestrictionDefinitions[m_nFirstShownRestriction + i].GetName());
    XTRmAdmin::LayoutControlColumn(*this, m_vecRestrictionChecks, vecNames, false, m_grpRestrictions);
    // Paged, the frame keeps a whole page's height on a shorter last page, so
    // that neither it nor the paging buttons beside it jump while paging.
    if (HasRestrictionPages())
        XTRmAdmin::FitGroupFrame(*this, m_grpRestrictions, *m_vecRestrictionChecks.back());
}

bool XTRmUserManagementDlg::HasRestrictionPages() const
{
    return m_vecRestrictionDefinitions.size() > m_vecRestrictionChecks.size();
}

size_t XTRmUserManagementDlg::ShownRestrictionCount() const
{
    const size_t nDefinitions = m_vecRestrictionDefinitions.size();
    if (m_nFirstShownRestriction >= nDefinitions)
        return 0;
    return std::min(nDefinitions - m_nFirstShownRestriction, m_vecRestrictionChecks.size());
}

void XTRmUserManagementDlg::ShowRestrictionPage(size_t nFirstShown)
{
    m_nFirstShownRestriction = nFirstShown;
    LayoutRestrictionChecks();
    // Boxes coming back from a shorter last page, and the first box after the
    // first page's guard, take the dialog's mode again; the guard is applied
    // afresh below.
    for (size_t i = 0; i < ShownRestrictionCount(); ++i)
        m_vecRestrictionChecks[i]->EnableWindow(m_bEditable);
    UpdatePagingButtons();
    // Without a selected user the page has nobody's rights to show: stale
    // ticks would sit beside other rights' names.
    if (XTRmAdmin::SelectedIndex(m_lstUsers, m_vecUsers) < 0)
    {
        for (CButton* pCheck : m_vecRestrictionChecks)
            pCheck->SetCheck(BST_UNCHECKED);
    }
    UpdateRestrictionChecks();
}

void XTRmUserManagementDlg::UpdatePagingButtons()
{
    // A host's template from before paging has no paging buttons: it shows
    // the first page only, and the rights beyond it cannot be changed there.
    CWnd* pPrevious = GetDlgItem(IDC_XTRM_RESTRICTIONS_PREVIOUS);
    CWnd* pNext = GetDlgItem(IDC_XTRM_RESTRICTIONS_NEXT);
    if (pPrevious == nullptr || pNext == nullptr)
        return;
    const bool bPaged = HasRestrictionPages();
    const bool bPrevious = bPaged && m_nFirstShownRestriction > 0;
    const bool bNext = bPaged &&
        m_nFirstShownRestriction + m_vecRestrictionChecks.size() < m_vecRestrictionDefinitions.size();
    // A button greyed out while it has the focus loses it and would leave
    // the keyboard nowhere: the focus goes to the way back.
    const HWND hFocus = ::GetFocus();
    pPrevious->ShowWindow(bPaged ? SW_SHOW : SW_HIDE);
    pNext->ShowWindow(bPaged ? SW_SHOW : SW_HIDE);
    pPrevious->EnableWindow(bPrevious);
    pNext->EnableWindow(bNext);
    if (hFocus == pPrevious->GetSafeHwnd() && !bPrevious && bNext)
        GotoDlgCtrl(pNext);
    else if (hFocus == pNext->GetSafeHwnd() && !bNext && bPrevious)
        GotoDlgCtrl(pPrevious);
}

void XTRmUserManagementDlg::ReloadUsers()
{
    m_vecUsers = m_pRestrictionManagerService->GetAllDefinedUsers();
    m_btnRemoveUser.EnableWindow(FALSE);
    FillUserList();
    m_lstUsers.SetCurSel(0);
    UpdateUserControls();
    UpdateRestrictionChecks();
}

void XTRmUserManagementDlg::FillUserList()
{
    m_lstUsers.ResetContent();
    for (const XTRmsUserInfo& user : m_vecUsers)
        m_lstUsers.AddString(XTRmAdmin::FormatUserRow(user).c_str());
}

bool XTRmUserManagementDlg::CanRemoveUser(const XTRmsUserInfo& user)
{
    // Also guards the user's first right: neither may be touched for the user
    // working here, for a super user or for a user without a profile.
    return m_pRestrictionManagerService->IsUserDefined(user.GetUserNameW()) && m_bEditable &&
        user.GetUserNameW() != GetOperatingSystemUserName() &&
        !m_pRestrictionManagerService->IsSuperUser(user.GetUserNameW());
}

void XTRmUserManagementDlg::UpdateUserControls()
{
    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecUsers);
    if (nSelection < 0)
        return;
    const XTRmsUserInfo& user = m_vecUsers[nSelection];

    m_grpRestrictions.SetWindowText(
        (Txts::GetString(IDS_XTRM_RIGHTS_OF_USER) + user.GetUserNameW() + XTGenStringDefinesTraits<wchar_t>::ms_szSpace)
            .c_str());
    m_btnRemoveUser.EnableWindow(m_bEditable && CanRemoveUser(user));
}

void XTRmUserManagementDlg::UpdateRestrictionChecks()
{
    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecUsers);
    if (nSelection < 0)
        return;
    const XTRmsUserInfo& user = m_vecUsers[nSelection];

    for (size_t i = 0; i < ShownRestrictionCount(); ++i)
    {
        const size_t nDefinition = m_nFirstShownRestriction + i;
        bool bAllowed = false;
        const Rms::RmsResult nResult = m_pRestrictionManagerService->GetUserIsAllowed(
            user.GetUserNameW(), m_vecRestrictionDefinitions[nDefinition].GetId(), &bAllowed);
        CButton* pCheck = m_vecRestrictionChecks[i];
        pCheck->SetCheck(nResult == Rms::RmsSuccess && bAllowed ? BST_CHECKED : BST_UNCHECKED);
        // The first right is guarded like the user's removal; on a later page
        // the first box shows an ordinary right.
        if (nDefinition == 0)
            pCheck->EnableWindow(m_bEditable && CanRemoveUser(user));
    }
}

void XTRmUserManagementDlg::OnUserSelChange()
{
    UpdateUserControls();
    UpdateRestrictionChecks();
}

void XTRmUserManagementDlg::OnRestrictionCheck(UINT nID)
{
    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecUsers);
    if (nSelection < 0)
        return;
    const std::wstring strUserName = m_vecUsers[nSelection].GetUserNameW();

    for (size_t i = 0; i < m_vecRestrictionChecks.size(); ++i)
    {
        CButton* pCheck = m_vecRestrictionChecks[i];
        // A hidden box has no definition behind it.
        if (pCheck->GetDlgCtrlID() != static_cast<int>(nID) || i >= ShownRestrictionCount())
            continue;
        const bool bAllowed = pCheck->GetCheck() != BST_UNCHECKED;
        m_pRestrictionManagerService->SetUserIsAllowed(
            strUserName, m_vecRestrictionDefinitions[m_nFirstShownRestriction + i].GetId(), bAllowed);
        m_bModified = true;
    }
}

void XTRmUserManagementDlg::OnPreviousRestrictions()
{
    const size_t nPageSize = m_vecRestrictionChecks.size();
    if (!HasRestrictionPages() || m_nFirstShownRestriction == 0)
        return;
    ShowRestrictionPage(m_nFirstShownRestriction > nPageSize ? m_nFirstShownRestriction - nPageSize : 0);
}

void XTRmUserManagementDlg::OnNextRestrictions()
{
    const size_t nPageSize = m_vecRestrictionChecks.size();
    if (!HasRestrictionPages() || m_nFirstShownRestriction + nPageSize >= m_vecRestrictionDefinitions.size())
        return;
    ShowRestrictionPage(m_nFirstShownRestriction + nPageSize);
}

void XTRmUserManagementDlg::OnAddUser()
{
    XTRmAddUserDlg dlg(m_pRestrictionManagerService);
    if (dlg.DoModal() != IDOK)
        return;
    // Confirmed counts as a change even if the service created nothing:
    // Cancel then asks rather than guesses.
    m_bModified = true;
    ReloadUsers();
}

void XTRmUserManagementDlg::OnRemoveUser()
{
    const int nSelection = XTRmAdmin::SelectedIndex(m_lstUsers, m_vecUsers);
    if (nSelection < 0)
        return;
    if (m_pRestrictionManagerService->RemoveUser(m_vecUsers[nSelection].GetUserNameW()) != Rms::RmsSuccess)
        return;
    m_bModified = true;
    ReloadUsers();
}

void XTRmUserManagementDlg::OnOK()
{
    m_pRestrictionManagerService->SaveUserProfiles();
    CDialog::OnOK();
}

void XTRmUserManagementDlg::OnCancel()
{
    // Help id 0: the question has no help topic of its own.
    if (m_bModified && AfxMessageBox(IDS_XTRM_DISCARD_CHANGES, MB_YESNO | MB_ICONQUESTION, 0) != IDYES)
        return;
    m_pRestrictionManagerService->LoadUserProfiles();
    CDialog::OnCancel();
}
