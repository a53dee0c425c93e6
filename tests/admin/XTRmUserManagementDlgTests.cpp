// The user management dialog, opened through the façade and driven by the
// robot: what the administrator sees and what reaches the rights service.
#include "XTRmAdminTestFixture.h"

using testing::ElementsAre;
using testing::IsEmpty;

TEST_F(XTRmAdminTest, ListsUsersUnsortedAndSelectsTheOperatingSystemUserExactly)
{
    Definitions(2);
    // Same name in other letter case first: only an exact match counts.
    std::wstring strOtherCase = m_strOsUser;
    for (wchar_t& c : strOtherCase)
        c = iswupper(c) ? towlower(c) : towupper(c);
    for (bool bOsUserListed : {true, false})
    {
        std::vector<XTRmsUserInfo> vecUsers{{L"zed", L"Zed Zulu"}, {strOtherCase, L""}, {L"amy", L""}};
        if (bOsUserListed)
            vecUsers.emplace_back(m_strOsUser, L"The Admin");
        DefinedUsers(vecUsers);
        const int nSelected = bOsUserListed ? 3 : 0;

        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            std::vector<std::wstring> vecRows{L"zed [Zed Zulu]", strOtherCase, L"amy"};
            if (bOsUserListed)
                vecRows.push_back(m_strOsUser + L" [The Admin]");
            EXPECT_EQ(vecRows, d.GetListRows(IDC_XTRM_USER_LIST));
            EXPECT_EQ(nSelected, d.GetListSelection(IDC_XTRM_USER_LIST));
            EXPECT_EQ(RightsFrameText(vecUsers[nSelected].GetUserNameW()), d.GetText(IDC_XTRM_RESTRICTIONS_FRAME));
            EXPECT_EQ(Txts::GetString(IDS_XTRM_MODE_EDITABLE), d.GetText(IDC_XTRM_MODE_TEXT));
            d.PressOK();
        })) << "OS user listed: "
            << bOsUserListed;
    }
}

TEST_F(XTRmAdminTest, OnlyRemoveAndTheFirstRightFollowWhetherTheUserMayBeRemoved)
{
    Definitions(3);
    DefinedUsers({{L"ann", L""}, {m_strOsUser, L""}, {L"sup", L""}, {L"ghost", L""}});
    m_svc.setSuperUsers = {L"sup"};
    m_svc.setReportedUndefined = {L"ghost"};
    m_svc.mapUserRights = {{{L"ann", 500}, true}, {{L"ann", 514}, true}, {{L"sup", 507}, true}};
    const std::wstring strDefined = L"IsUserDefined(", strSuper = L"IsSuperUser(";
    struct Row
    {
        int nRow;
        bool bRemovable;
        std::vector<bool> vecChecked;
        std::vector<std::wstring> vecQuestions; // how the service is asked, in order; the profile first
        bool bRightsFail = false;               // GetUserIsAllowed fails: every box shows cleared
    };
    const Row rows[] = {
        {0, true, {true, false, true}, {strDefined + L"ann)", strSuper + L"ann)"}},   // an ordinary user
        {1, false, {false, false, false}, {strDefined + m_strOsUser + L")"}},         // oneself
        {2, false, {false, true, false}, {strDefined + L"sup)", strSuper + L"sup)"}}, // a super user
        {3, false, {false, false, false}, {strDefined + L"ghost)"}},                  // listed, but without a profile
        {0, true, {false, false, false}, {strDefined + L"ann)", strSuper + L"ann)"}, true},
    };

    EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
        for (const Row& row : rows)
        {
            SCOPED_TRACE(testing::Message() << "row " << row.nRow << (row.bRightsFail ? ", rights fail" : ""));
            m_svc.nGetUserIsAllowedResult = row.bRightsFail ? Rms::RmsFailure : Rms::RmsSuccess;
            m_svc.vecCalls.clear();
            d.SelectRow(IDC_XTRM_USER_LIST, row.nRow);
            EXPECT_EQ(row.bRemovable, d.IsEnabled(IDC_XTRM_REMOVE_USER));
            EXPECT_EQ(row.bRemovable, d.IsEnabled(CheckId(0)));
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(row.vecChecked[i], d.IsChecked(CheckId(i))) << i;
            EXPECT_TRUE(d.IsEnabled(CheckId(1)) && d.IsEnabled(CheckId(2)));
            // Every decision asks the same questions in the same order.
            std::vector<std::wstring> vecAsked;
            for (const std::wstring& strCall : m_svc.vecCalls)
            {
                if (strCall.compare(0, strDefined.size(), strDefined) == 0 ||
                    strCall.compare(0, strSuper.size(), strSuper) == 0)
                    vecAsked.push_back(strCall);
            }
            std::vector<std::wstring> vecExpected;
            while (vecExpected.size() < std::max(vecAsked.size(), row.vecQuestions.size()))
                vecExpected.insert(vecExpected.end(), row.vecQuestions.begin(), row.vecQuestions.end());
            EXPECT_EQ(vecExpected, vecAsked);
        }
        d.PressOK();
    }));
}

TEST_F(XTRmAdminTest, RemoveReloadsTheListWithTheFirstRowSelectedOrChangesNothingWhenRefused)
{
    for (Rms::RmsResult nResult : {Rms::RmsSuccess, Rms::RmsFailure})
    {
        DefinedUsers({{m_strOsUser, L""}, {L"bob", L""}, {L"cy", L"Cy Young"}});
        m_svc.nRemoveUserResult = nResult;
        m_svc.vecCalls.clear();
        TestApp().Reset();
        const bool bRemoved = nResult == Rms::RmsSuccess;

        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            d.SelectRow(IDC_XTRM_USER_LIST, 2);
            d.Click(IDC_XTRM_REMOVE_USER);
            if (bRemoved)
                EXPECT_THAT(d.GetListRows(IDC_XTRM_USER_LIST), ElementsAre(m_strOsUser, L"bob"));
            else
                EXPECT_THAT(d.GetListRows(IDC_XTRM_USER_LIST), ElementsAre(m_strOsUser, L"bob", L"cy [Cy Young]"));
            EXPECT_EQ(bRemoved ? 0 : 2, d.GetListSelection(IDC_XTRM_USER_LIST));
            EXPECT_EQ(RightsFrameText(bRemoved ? m_strOsUser : L"cy"), d.GetText(IDC_XTRM_RESTRICTIONS_FRAME));
            d.PressCancel();
        }));
        EXPECT_THAT(m_svc.CallsNamed(L"RemoveUser"), ElementsAre(L"RemoveUser(cy)"));
        // Only a real change makes Cancel ask; a refused removal is not reported.
        EXPECT_EQ(bRemoved ? 1u : 0u, TestApp().m_vecMessageBoxes.size());
        EXPECT_EQ(3u, m_svc.vecDefinedUsers.size()) << "Cancel reloads the saved profiles";
    }
}

TEST_F(XTRmAdminTest, WithoutUsersFrameAndRightsKeepWhatTheyShowedAndUnselectedClicksReachNothing)
{
    Definitions(2);
    // Opened with no users, the template's state stays; after the last user
    // was removed, what was shown for that user.
    for (bool bOpenedEmpty : {true, false})
    {
        SCOPED_TRACE(bOpenedEmpty ? "opened without users" : "last user removed");
        DefinedUsers(bOpenedEmpty ? std::vector<XTRmsUserInfo>{} : std::vector<XTRmsUserInfo>{{L"bob", L""}});
        m_svc.mapUserRights = {{{L"bob", 507}, true}};
        m_svc.vecCalls.clear();
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            if (!bOpenedEmpty)
                d.Click(IDC_XTRM_REMOVE_USER);
            EXPECT_THAT(d.GetListRows(IDC_XTRM_USER_LIST), IsEmpty());
            EXPECT_EQ(-1, d.GetListSelection(IDC_XTRM_USER_LIST));
            EXPECT_FALSE(d.IsEnabled(IDC_XTRM_REMOVE_USER));
            EXPECT_EQ(bOpenedEmpty ? L"Rights" : RightsFrameText(L"bob"), d.GetText(IDC_XTRM_RESTRICTIONS_FRAME));
            EXPECT_EQ(!bOpenedEmpty, d.IsChecked(CheckId(1)));
            d.Click(CheckId(1));
            d.PressOK();
        }));
        EXPECT_EQ(0u, m_svc.CountCalls(L"SetUserIsAllowed"));
        if (bOpenedEmpty)
            EXPECT_THAT(m_svc.ChangingCalls(), ElementsAre(L"SaveUserProfiles()"));
        else
            EXPECT_THAT(m_svc.ChangingCalls(), ElementsAre(L"RemoveUser(bob)", L"SaveUserProfiles()"));
    }
}

TEST_F(XTRmAdminTest, FocusingTheUserListShowsTheSelectedUsersRightsAfresh)
{
    Definitions(2);
    DefinedUsers({{L"ann", L""}});
    EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
        EXPECT_FALSE(d.IsChecked(CheckId(1)));
        d.Focus(IDOK);
        // Granted behind the dialog's back: only coming back to the list shows it.
        m_svc.mapUserRights[{L"ann", 507}] = true;
        EXPECT_FALSE(d.IsChecked(CheckId(1)));
        d.Focus(IDC_XTRM_USER_LIST);
        EXPECT_TRUE(d.IsChecked(CheckId(1)));
        d.PressOK();
    }));
}

TEST_F(XTRmAdminTest, TogglingARightReachesTheServiceWithItsDefinitionIdAndOkSaves)
{
    Definitions(17); // more than there are check boxes: the first fifteen show
    DefinedUsers({{L"ann", L""}});
    EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
        EXPECT_EQ(L"Right no. 15", d.GetText(CheckId(14)));
        d.Click(CheckId(2));
        d.Click(CheckId(2));
        d.Click(CheckId(14));
        EXPECT_TRUE(d.IsChecked(CheckId(14)));
        d.PressOK();
    }));
    EXPECT_THAT(m_svc.ChangingCalls(),
        ElementsAre(L"SetUserIsAllowed(ann,514,true)", L"SetUserIsAllowed(ann,514,false)",
            L"SetUserIsAllowed(ann,598,true)", L"SaveUserProfiles()"));
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}

TEST_F(XTRmAdminTest, ShowsOneCheckBoxPerDefinitionAndFitsTheFrameBelowTheLastOne)
{
    DefinedUsers({{L"ann", L""}});
    RECT rcTemplateFrame{};
    for (int nDefinitions : {0, 1, 5, 15, 17})
    {
        Definitions(nDefinitions);
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            const int nShown = std::min(nDefinitions, 15);
            for (int i = 0; i < 15; ++i)
                EXPECT_EQ(i < nShown, d.IsVisible(CheckId(i))) << nDefinitions << "/" << i;
            // Up to fifteen rights the dialog looks as it always did.
            for (int nId : {IDC_XTRM_RESTRICTIONS_PREVIOUS, IDC_XTRM_RESTRICTIONS_NEXT})
                EXPECT_EQ(nDefinitions > 15, d.IsVisible(nId)) << nDefinitions << "/" << nId;
            const RECT rcFrame = d.GetControlRect(IDC_XTRM_RESTRICTIONS_FRAME);
            EXPECT_EQ(nShown > 0, d.IsVisible(IDC_XTRM_RESTRICTIONS_FRAME));
            if (nShown == 0)
                rcTemplateFrame = rcFrame; // hidden, so never moved
            else
            {
                EXPECT_EQ(rcTemplateFrame.left, rcFrame.left);
                EXPECT_EQ(rcTemplateFrame.top, rcFrame.top);
                EXPECT_EQ(rcTemplateFrame.right, rcFrame.right);
                EXPECT_EQ(d.GetControlRect(CheckId(nShown - 1)).bottom + 12, rcFrame.bottom) << nDefinitions;
            }
            d.PressOK();
        }));
    }
}

TEST_F(XTRmAdminTest, ViewOnlyModesShowTheirTextAndLetNothingChangeButStillClose)
{
    Definitions(3);
    DefinedUsers({{L"ann", L""}, {L"bob", L""}});
    struct Mode
    {
        bool bEditAllowed;
        bool bViewOnly;
        unsigned int nTextId;
    };
    for (const Mode& mode : {Mode{true, true, IDS_XTRM_MODE_VIEW_ONLY}, Mode{false, false, IDS_XTRM_MODE_NOT_EDITABLE},
             Mode{false, true, IDS_XTRM_MODE_NOT_EDITABLE}})
    {
        m_svc.vecCalls.clear();
        EXPECT_EQ("",
            ShowUserManagement(mode.bEditAllowed, mode.bViewOnly,
                {{"XTRmUserManagementDlg", [&](XTRmDialogDriver& d) {
                      EXPECT_EQ(Txts::GetString(mode.nTextId), d.GetText(IDC_XTRM_MODE_TEXT));
                      EXPECT_TRUE(d.IsEnabled(IDC_XTRM_MODE_TEXT));
                      d.SelectRow(IDC_XTRM_USER_LIST, 1);
                      EXPECT_EQ(RightsFrameText(L"bob"), d.GetText(IDC_XTRM_RESTRICTIONS_FRAME));
                      for (int nId : {IDC_XTRM_ADD_USER, IDC_XTRM_REMOVE_USER, CheckId(0), CheckId(1), CheckId(2)})
                          EXPECT_FALSE(d.IsEnabled(nId)) << nId;
                      EXPECT_TRUE(d.IsEnabled(IDOK));
                      d.PressCancel();
                  }}}));
        EXPECT_THAT(m_svc.ChangingCalls(), ElementsAre(L"LoadUserProfiles()"));
        EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
    }
}

TEST_F(XTRmAdminTest, CancelAsksBeforeDiscardingChangesAndNoKeepsThemOpen)
{
    Definitions(2);
    DefinedUsers({{L"ann", L""}});
    struct Case
    {
        bool bChange;
        CloseWay way;
        std::deque<int> queAnswers;
        std::wstring strLastCall;
    };
    const Case cases[] = {
        {false, CloseWay::Button, {}, L"LoadUserProfiles()"}, // closes at once, still reloads
        {true, CloseWay::Button, {IDYES}, L"LoadUserProfiles()"},
        {true, CloseWay::Escape, {IDYES}, L"LoadUserProfiles()"},
        {true, CloseWay::CloseBox, {IDYES}, L"LoadUserProfiles()"},
        {true, CloseWay::Button, {IDNO}, L"SaveUserProfiles()"}, // stays open; OK then keeps the change
    };
    for (const Case& c : cases)
    {
        m_svc.mapUserRights.clear();
        m_svc.MarkProfilesSaved();
        m_svc.vecCalls.clear();
        TestApp().Reset();
        TestApp().m_queAnswers = c.queAnswers;
        EXPECT_EQ("", ShowUserManagement([&](XTRmDialogDriver& d) {
            if (c.bChange)
                d.Click(CheckId(1));
            CloseDialog(d, c.way);
            if (c.way == CloseWay::Escape)
                return;
            if (!c.queAnswers.empty() && c.queAnswers.front() == IDNO)
            {
                EXPECT_TRUE(d.IsChecked(CheckId(1)));
                d.PressOK();
            }
        }));
        ASSERT_EQ(c.bChange ? 1u : 0u, TestApp().m_vecMessageBoxes.size());
        if (c.bChange)
        {
            const XTRmRecordedMessageBox& box = TestApp().m_vecMessageBoxes[0];
            EXPECT_EQ(Txts::GetString(IDS_XTRM_DISCARD_CHANGES), box.strText);
            EXPECT_EQ(0x24u, box.nType);
            EXPECT_EQ(0u, box.nIDHelp);
        }
        EXPECT_EQ(c.strLastCall, m_svc.ChangingCalls().back());
        // What stays in the service: the change only when it was kept.
        const bool bAllowed = m_svc.mapUserRights[{L"ann", 507}];
        EXPECT_EQ(c.strLastCall == L"SaveUserProfiles()", bAllowed);
    }
}
