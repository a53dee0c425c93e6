// The user management dialog with more rights than check boxes: the boxes
// page, each page's boxes stand for that page's rights, and every rule of the
// dialog holds on every page. Also a host's template from before paging.
#include "XTRmAdminTestFixture.h"

using testing::ElementsAre;

namespace
{
const int kPrevious = IDC_XTRM_RESTRICTIONS_PREVIOUS;
const int kNext = IDC_XTRM_RESTRICTIONS_NEXT;

// The labels of the visible check boxes, in order.
std::vector<std::wstring> ShownRights(const XTRmDialogDriver& d)
{
    std::vector<std::wstring> vecShown;
    for (int i = 0; i < 15; ++i)
    {
        if (d.IsVisible(CheckId(i)))
            vecShown.push_back(d.GetText(CheckId(i)));
    }
    return vecShown;
}

// "Right no. nFirst" to "Right no. nLast", as the fixture names definitions.
std::vector<std::wstring> RightNames(int nFirst, int nLast)
{
    std::vector<std::wstring> vecNames;
    for (int i = nFirst; i <= nLast; ++i)
        vecNames.push_back(L"Right no. " + std::to_wstring(i));
    return vecNames;
}

// Right n (counted from 1) of the fixture's definitions.
std::wstring RightId(int n)
{
    return std::to_wstring(500 + 7 * (n - 1));
}
} // namespace

TEST_F(XTRmAdminTest, FortyRightsPageByFifteenAndRightFortyReachesTheServiceWithItsOwnId)
{
    Definitions(40);
    for (bool bKeep : {true, false})
    {
        SCOPED_TRACE(bKeep ? "OK" : "Cancel, Yes");
        DefinedUsers({{L"ann", L""}, {L"bob", L""}});
        m_svc.mapUserRights = {{{L"bob", 500}, true}, {{L"bob", 605}, true}}; // rights 1 and 16
        m_svc.MarkProfilesSaved();
        m_svc.vecCalls.clear();
        TestApp().Reset();
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            const RECT rcFullPage = d.GetControlRect(IDC_XTRM_RESTRICTIONS_FRAME);
            d.SelectRow(IDC_XTRM_USER_LIST, 1);
            EXPECT_EQ(RightNames(1, 15), ShownRights(d));
            EXPECT_TRUE(d.IsVisible(kPrevious));
            EXPECT_FALSE(d.IsEnabled(kPrevious));
            EXPECT_TRUE(d.IsChecked(CheckId(0)));

            d.Focus(kNext);
            d.Click(kNext);
            EXPECT_EQ(RightNames(16, 30), ShownRights(d));
            EXPECT_TRUE(d.IsChecked(CheckId(0))) << "bob's right 16";
            EXPECT_FALSE(d.IsChecked(CheckId(1)));
            EXPECT_TRUE(d.IsEnabled(kPrevious) && d.IsEnabled(kNext));

            d.Click(kNext);
            // The last page: the unused boxes hidden, the frame and the
            // buttons where a full page has them, the keyboard not stranded.
            EXPECT_EQ(RightNames(31, 40), ShownRights(d));
            EXPECT_FALSE(d.IsEnabled(kNext));
            EXPECT_EQ(kPrevious, d.GetFocusId());
            EXPECT_EQ(rcFullPage.bottom, d.GetControlRect(IDC_XTRM_RESTRICTIONS_FRAME).bottom);
            EXPECT_EQ(RightsFrameText(L"bob"), d.GetText(IDC_XTRM_RESTRICTIONS_FRAME));
            d.Click(CheckId(9));
            // Another user on the same page shows that user's rights.
            d.SelectRow(IDC_XTRM_USER_LIST, 0);
            EXPECT_EQ(RightNames(31, 40), ShownRights(d));
            EXPECT_FALSE(d.IsChecked(CheckId(9)));
            d.SelectRow(IDC_XTRM_USER_LIST, 1);
            EXPECT_TRUE(d.IsChecked(CheckId(9)));

            d.Click(kPrevious);
            d.Click(kPrevious);
            EXPECT_EQ(RightNames(1, 15), ShownRights(d));
            for (int i = 0; i < 15; ++i)
                EXPECT_TRUE(d.IsEnabled(CheckId(i))) << "back from the last page: " << i;
            EXPECT_TRUE(d.IsChecked(CheckId(0)));
            EXPECT_FALSE(d.IsChecked(CheckId(9)));
            if (bKeep)
                d.PressOK();
            else
                d.PressCancel();
        }));
        EXPECT_THAT(
            m_svc.CallsNamed(L"SetUserIsAllowed"), ElementsAre(L"SetUserIsAllowed(bob," + RightId(40) + L",true)"));
        EXPECT_EQ(std::wstring(bKeep ? L"SaveUserProfiles()" : L"LoadUserProfiles()"), m_svc.ChangingCalls().back());
        EXPECT_EQ(bKeep, m_svc.mapUserRights[std::make_pair(std::wstring(L"bob"), 773)]);
        // A right changed on a later page is a change: Cancel asks.
        EXPECT_EQ(bKeep ? 0u : 1u, TestApp().m_vecMessageBoxes.size());
    }
}

TEST_F(XTRmAdminTest, NextLeadsToTheLastRightAndNoFurther)
{
    DefinedUsers({{L"ann", L""}});
    struct Row
    {
        int nDefinitions;
        int nPages;
    };
    for (const Row& row : {Row{16, 2}, Row{30, 2}, Row{31, 3}})
    {
        Definitions(row.nDefinitions);
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            int nPages = 1;
            for (; d.IsEnabled(kNext) && nPages <= 3; ++nPages)
                d.Click(kNext);
            EXPECT_EQ(row.nPages, nPages) << row.nDefinitions;
            EXPECT_EQ(RightNames(15 * (row.nPages - 1) + 1, row.nDefinitions), ShownRights(d)) << row.nDefinitions;
            d.PressOK();
        }));
    }
}

TEST_F(XTRmAdminTest, OnlyTheBoxShowingTheFirstRightIsGuardedOnAnyPage)
{
    Definitions(20);
    DefinedUsers({{L"ann", L""}, {L"sup", L""}, {m_strOsUser, L""}});
    m_svc.setSuperUsers = {L"sup"};
    EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
        for (int nRow : {0, 1, 2})
        {
            SCOPED_TRACE(testing::Message() << "row " << nRow);
            const bool bGuarded = nRow != 0; // a super user, oneself
            d.SelectRow(IDC_XTRM_USER_LIST, nRow);
            EXPECT_EQ(!bGuarded, d.IsEnabled(CheckId(0)));
            d.Click(kNext);
            EXPECT_EQ(RightNames(16, 20), ShownRights(d));
            EXPECT_TRUE(d.IsEnabled(CheckId(0))) << "right 16 is an ordinary right";
            d.Click(CheckId(0));
            d.Click(kPrevious);
            EXPECT_EQ(!bGuarded, d.IsEnabled(CheckId(0)));
        }
        d.PressOK();
    }));
    EXPECT_THAT(m_svc.ChangingCalls(),
        ElementsAre(L"SetUserIsAllowed(ann," + RightId(16) + L",true)",
            L"SetUserIsAllowed(sup," + RightId(16) + L",true)",
            L"SetUserIsAllowed(" + m_strOsUser + L"," + RightId(16) + L",true)", L"SaveUserProfiles()"));
}

TEST_F(XTRmAdminTest, ViewOnlyDialogPagesThroughTheRightsButChangesNothing)
{
    Definitions(40);
    DefinedUsers({{L"ann", L""}});
    m_svc.mapUserRights = {{{L"ann", 773}, true}};
    m_svc.MarkProfilesSaved();
    for (bool bEditAllowed : {true, false})
    {
        SCOPED_TRACE(bEditAllowed ? "opened for viewing" : "not allowed to edit");
        m_svc.vecCalls.clear();
        TestApp().Reset();
        EXPECT_EQ("", ShowUserManagement(bEditAllowed, true, {{"XTRmUserManagementDlg", [&](XTRmDialogDriver& d) {
                                                                   d.Click(kNext);
                                                                   d.Click(kNext);
                                                                   EXPECT_EQ(RightNames(31, 40), ShownRights(d));
                                                                   EXPECT_TRUE(d.IsChecked(CheckId(9)));
                                                                   for (int i = 0; i < 10; ++i)
                                                                       EXPECT_FALSE(d.IsEnabled(CheckId(i))) << i;
                                                                   d.Click(kPrevious);
                                                                   d.Click(kPrevious);
                                                                   EXPECT_EQ(RightNames(1, 15), ShownRights(d));
                                                                   for (int i = 0; i < 15; ++i)
                                                                       EXPECT_FALSE(d.IsEnabled(CheckId(i))) << i;
                                                                   EXPECT_FALSE(d.IsEnabled(IDC_XTRM_ADD_USER));
                                                                   d.PressCancel();
                                                               }}}));
        EXPECT_THAT(m_svc.ChangingCalls(), ElementsAre(L"LoadUserProfiles()"));
        EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty()) << "paging is no change";
    }
}

TEST_F(XTRmAdminTest, PagingWithoutASelectedUserShowsNoTicksAndClicksReachNothing)
{
    Definitions(20);
    DefinedUsers({{L"bob", L""}});
    m_svc.mapUserRights = {{{L"bob", 500}, true}, {{L"bob", 507}, true}};
    EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
        d.Click(IDC_XTRM_REMOVE_USER);
        EXPECT_TRUE(d.IsChecked(CheckId(1))) << "the removed user's page stays as it was";
        // Another page would put those ticks beside other rights.
        d.Click(kNext);
        EXPECT_EQ(RightNames(16, 20), ShownRights(d));
        for (int i = 0; i < 5; ++i)
            EXPECT_FALSE(d.IsChecked(CheckId(i))) << i;
        d.Click(CheckId(1));
        d.PressOK();
    }));
    EXPECT_THAT(m_svc.ChangingCalls(), ElementsAre(L"RemoveUser(bob)", L"SaveUserProfiles()"));
}

TEST_F(XTRmAdminTest, AHostsTemplateWithoutPagingButtonsShowsTheFirstFifteenRights)
{
    // The host's older resources first in the chain, as its own .rc would be.
    struct OldResources
    {
        HMODULE hModule = ::LoadLibraryW(L"XTRmOldAdminTemplates.dll");
        HINSTANCE hPrevious = AfxGetResourceHandle();
        OldResources() { AfxSetResourceHandle(hModule); }
        ~OldResources()
        {
            AfxSetResourceHandle(hPrevious);
            ::FreeLibrary(hModule);
        }
    } old;
    ASSERT_NE(nullptr, old.hModule);
    DefinedUsers({{L"ann", L""}});
    for (int nDefinitions : {5, 40})
    {
        Definitions(nDefinitions);
        m_svc.vecCalls.clear();
        const int nShown = std::min(nDefinitions, 15);
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            EXPECT_EQ(L"Users", d.GetCaption()) << "the host's template";
            EXPECT_FALSE(d.HasControl(kNext));
            EXPECT_EQ(RightNames(1, nShown), ShownRights(d));
            EXPECT_EQ(d.GetControlRect(CheckId(nShown - 1)).bottom + 12,
                d.GetControlRect(IDC_XTRM_RESTRICTIONS_FRAME).bottom);
            d.Click(CheckId(nShown - 1));
            d.PressOK();
        })) << nDefinitions;
        EXPECT_THAT(m_svc.ChangingCalls(),
            ElementsAre(L"SetUserIsAllowed(ann," + RightId(nShown) + L",true)", L"SaveUserProfiles()"));
    }
}
