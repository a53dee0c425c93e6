// The add-user dialog, opened from the user management dialog's Add button as
// an administrator would open it.
#include "XTRmAdminTestFixture.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
const int kRadioIds[] = {
    IDC_XTRM_ROLE_RADIO1, IDC_XTRM_ROLE_RADIO2, IDC_XTRM_ROLE_RADIO3, IDC_XTRM_ROLE_RADIO4, IDC_XTRM_ROLE_RADIO5};

std::wstring RoleFrameText(const std::wstring& strUser)
{
    return Gui::LoadStringW(IDS_XTRM_ROLE_FOR_USER) + strUser + L" ";
}
} // namespace

class XTRmAddUserTest : public XTRmAdminTest
{
protected:
    void SetUp() override
    {
        XTRmAdminTest::SetUp();
        Definitions(1);
        DefinedUsers({{L"ann", L""}, {L"zoe", L""}});
        m_svc.vecLocalUsers = {{L"ann", L""}, {L"bee", L"Bee Bop"}, {L"cy", L""}};
        m_svc.vecRoles = {
            {Rms::RmsUserRole(10), L"Viewer"}, {Rms::RmsUserRole(20), L"Editor"}, {Rms::RmsUserRole(30), L"Admin"}};
        m_svc.nInitialRole = Rms::RmsUserRole(20);
    }

    // Opens the add-user dialog from the user management dialog, runs the step
    // in it, and checks how the user management dialog goes on: the list read
    // again with the first row selected after OK, untouched after Cancel.
    std::string AddUser(XTRmUiRobot::Step fnStep)
    {
        return ShowUserManagement(true, false,
            {{"XTRmUserManagementDlg",
                 [&](XTRmDialogDriver& d) {
                     d.SelectRow(IDC_XTRM_USER_LIST, 1);
                     const size_t nReadsBefore = m_svc.CountCalls(L"GetAllDefinedUsers");
                     d.Click(IDC_XTRM_ADD_USER);
                     m_bReloaded = m_svc.CountCalls(L"GetAllDefinedUsers") > nReadsBefore;
                     m_vecRowsAfter = d.GetListRows(IDC_XTRM_USER_LIST);
                     m_nSelectionAfter = d.GetListSelection(IDC_XTRM_USER_LIST);
                     d.PressCancel();
                 }},
                {"XTRmAddUserDlg", fnStep}});
    }

    bool m_bReloaded = false;
    std::vector<std::wstring> m_vecRowsAfter;
    int m_nSelectionAfter = -1;
};

TEST_F(XTRmAddUserTest, OffersLocalAccountsWithoutProfileAndTheInitialRoleAndCreatesThePickedOne)
{
    EXPECT_EQ("", AddUser([](XTRmDialogDriver& d) {
        EXPECT_THAT(d.GetListRows(IDC_XTRM_CANDIDATE_LIST), ElementsAre(L"bee [Bee Bop]", L"cy"));
        EXPECT_EQ(0, d.GetListSelection(IDC_XTRM_CANDIDATE_LIST));
        EXPECT_EQ(RoleFrameText(L"bee"), d.GetText(IDC_XTRM_ROLE_FRAME));
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_ALL_USERS)); // no active domain
        const wchar_t* roleNames[] = {L"Viewer", L"Editor", L"Admin"};
        for (int i = 0; i < 5; ++i)
        {
            EXPECT_EQ(i < 3, d.IsVisible(kRadioIds[i]) && d.IsEnabled(kRadioIds[i])) << i;
            EXPECT_EQ(i == 1, d.IsChecked(kRadioIds[i])) << i;
            if (i < 3)
                EXPECT_EQ(roleNames[i], d.GetText(kRadioIds[i]));
            else
                EXPECT_FALSE(d.IsEnabled(kRadioIds[i])) << i;
        }
        EXPECT_EQ(d.GetControlRect(IDC_XTRM_ROLE_RADIO3).bottom + 12, d.GetControlRect(IDC_XTRM_ROLE_FRAME).bottom);
        d.SelectRow(IDC_XTRM_CANDIDATE_LIST, 1);
        EXPECT_EQ(RoleFrameText(L"cy"), d.GetText(IDC_XTRM_ROLE_FRAME));
        d.Click(IDC_XTRM_ROLE_RADIO3);
        d.PressOK();
    }));
    EXPECT_THAT(m_svc.CallsNamed(L"CreateUser"), ElementsAre(L"CreateUser(cy,30)"));
    EXPECT_TRUE(m_bReloaded);
    EXPECT_THAT(m_vecRowsAfter, ElementsAre(L"ann", L"zoe", L"cy"));
    EXPECT_EQ(0, m_nSelectionAfter) << "the first row, not the added user";
    ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size()) << "an added user makes Cancel ask";
}

TEST_F(XTRmAddUserTest, AllAccountsListsDomainAccountsAndTicksTheInitialRoleAgain)
{
    m_svc.bDomainActive = true;
    m_svc.vecAllUsers = {{L"zoe", L""}, {L"DOM\\xi", L"Xi"}, {L"bee", L"Bee Bop"}};
    EXPECT_EQ("", AddUser([](XTRmDialogDriver& d) {
        d.SelectRow(IDC_XTRM_CANDIDATE_LIST, 1);
        d.Click(IDC_XTRM_ROLE_RADIO3);
        d.Click(IDC_XTRM_ALL_USERS);
        EXPECT_THAT(d.GetListRows(IDC_XTRM_CANDIDATE_LIST), ElementsAre(L"DOM\\xi [Xi]", L"bee [Bee Bop]"));
        EXPECT_EQ(0, d.GetListSelection(IDC_XTRM_CANDIDATE_LIST));
        EXPECT_EQ(RoleFrameText(L"DOM\\xi"), d.GetText(IDC_XTRM_ROLE_FRAME));
        // The initial role is ticked again; the user's own tick is not cleared.
        EXPECT_TRUE(d.IsChecked(IDC_XTRM_ROLE_RADIO2));
        EXPECT_TRUE(d.IsChecked(IDC_XTRM_ROLE_RADIO3));
        d.PressOK();
    }));
    EXPECT_THAT(m_svc.CallsNamed(L"CreateUser"), ElementsAre(L"CreateUser(DOM\\xi,20)"));
}

TEST_F(XTRmAddUserTest, NothingIsCreatedWithoutACandidateOrOnCancel)
{
    struct Case
    {
        bool bAllDefined;
        bool bOk;
    };
    for (const Case& c : {Case{true, true}, Case{false, false}})
    {
        m_svc.vecCalls.clear();
        TestApp().Reset();
        if (c.bAllDefined)
            m_svc.vecLocalUsers = {{L"zoe", L""}, {L"ann", L""}};
        EXPECT_EQ("", AddUser([&](XTRmDialogDriver& d) {
            if (c.bAllDefined)
            {
                EXPECT_THAT(d.GetListRows(IDC_XTRM_CANDIDATE_LIST), IsEmpty());
                EXPECT_EQ(-1, d.GetListSelection(IDC_XTRM_CANDIDATE_LIST));
                EXPECT_EQ(L"Role", d.GetText(IDC_XTRM_ROLE_FRAME)); // the template's text
            }
            c.bOk ? d.PressOK() : d.PressCancel();
        }));
        EXPECT_EQ(0u, m_svc.CountCalls(L"CreateUser"));
        // A confirmed dialog still counts as a change for the question on Cancel.
        EXPECT_EQ(c.bOk, m_bReloaded);
        EXPECT_EQ(c.bOk ? 1u : 0u, TestApp().m_vecMessageBoxes.size());
        EXPECT_EQ(c.bOk ? 0 : 1, m_nSelectionAfter);
    }
}

TEST_F(XTRmAddUserTest, OffersAtMostFiveRolesAndCreatesWithRoleZeroWhenNoneIsTicked)
{
    struct Case
    {
        int nRoles;
        int nInitialRole;
        int nClick;
        const wchar_t* pszCreated;
    };
    const Case cases[] = {
        {0, 0, -1, L"CreateUser(bee,0)"},
        {3, 99, -1, L"CreateUser(bee,0)"},  // no role is the initial one
        {7, 106, -1, L"CreateUser(bee,0)"}, // the initial role is not among the five shown
        {7, 106, 4, L"CreateUser(bee,104)"},
    };
    for (const Case& c : cases)
    {
        m_svc.vecCalls.clear();
        m_svc.vecRoles.clear();
        for (int i = 0; i < c.nRoles; ++i)
            m_svc.vecRoles.emplace_back(Rms::RmsUserRole(100 + i), L"Role " + std::to_wstring(i));
        m_svc.nInitialRole = Rms::RmsUserRole(c.nInitialRole);
        EXPECT_EQ("", AddUser([&](XTRmDialogDriver& d) {
            EXPECT_EQ(c.nRoles > 0, d.IsVisible(IDC_XTRM_ROLE_FRAME));
            for (int i = 0; i < 5; ++i)
            {
                EXPECT_EQ(i < c.nRoles, d.IsVisible(kRadioIds[i])) << c.nRoles << "/" << i;
                EXPECT_FALSE(d.IsChecked(kRadioIds[i])) << c.nRoles << "/" << i;
            }
            if (c.nClick >= 0)
                d.Click(kRadioIds[c.nClick]);
            d.PressOK();
        }));
        EXPECT_THAT(m_svc.CallsNamed(L"CreateUser"), ElementsAre(c.pszCreated));
    }
}
