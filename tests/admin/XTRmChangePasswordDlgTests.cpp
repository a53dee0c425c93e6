// The change-password dialog, opened through the façade as a host's menu
// command opens it and driven by the robot: what the user sees and what
// reaches the rights service's password interface.
#include "XTRmAdminTestFixture.h"

#include "../../admin/XTRmChangePasswordDlg.h"
#include "XTRmTestSteps.h"
#include "XTRmsScriptedFullService.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
const int kUserCombo = IDC_XTRM_PASSWORD_USER, kOldEdit = IDC_XTRM_PASSWORD_OLD, kNewEdit = IDC_XTRM_PASSWORD_NEW,
          kConfirmEdit = IDC_XTRM_PASSWORD_CONFIRM;

// A text as the dialog shows it, with the minimum length in it.
std::wstring Shown(unsigned int nTextId)
{
    return Formatted(nTextId, L"8");
}

void PickUser(XTRmDialogDriver& d, int nRow)
{
    PickComboRow(d, kUserCombo, nRow);
}

std::vector<std::wstring> PasswordCalls(const XTRmsScriptedService& svc)
{
    return svc.CallsNamed({L"ChangeOwnPassword", L"SetUserPassword", L"ChangeExpiredPassword"});
}

void Fill(XTRmDialogDriver& d, const std::wstring& strOld, const std::wstring& strNew, const std::wstring& strConfirm)
{
    if (!strOld.empty())
        d.Type(kOldEdit, strOld);
    d.Type(kNewEdit, strNew);
    d.Type(kConfirmEdit, strConfirm);
}
} // namespace

class XTRmChangePasswordTest : public testing::Test
{
protected:
    void SetUp() override { XTRmRestrictionManager::SetRestrictionManagerService(&m_svc); }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    // Runs the dialog's step, then answers the message boxes it opens; starts
    // with nothing recorded.
    std::string Show(XTRmUiRobot::Step fnStep, int nMessageBoxes = 0)
    {
        TestApp().Reset();
        TestApp().m_bShowRealMessageBoxes = true;
        m_svc.vecCalls.clear();
        XTRmUiRobot robot;
        robot.Expect("XTRmChangePasswordDlg", fnStep);
        for (int i = 0; i < nMessageBoxes; ++i)
            robot.ExpectMessageBox([](XTRmDialogDriver& box) { box.PressOK(); });
        m_bChanged = XTRmRestrictionManager::ShowChangePasswordDlg(nullptr);
        return robot.Finish();
    }
    // The texts of the boxes shown, marked when their flags or help id differ.
    static std::vector<std::wstring> Boxes(UINT nIcon)
    {
        std::vector<std::wstring> vecTexts;
        for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
            vecTexts.push_back((box.nType == (MB_OK | nIcon) && box.nIDHelp == 0 ? L"" : L"(flags) ") + box.strText);
        return vecTexts;
    }

    XTRmsScriptedFullService m_svc;
    bool m_bChanged = false;
};

TEST_F(XTRmChangePasswordTest, OwnChangeWithTheLoggedInUserPreselectedAndOnlyAnAdministratorMayPick)
{
    m_svc.vecDefinedUsers = {{L"bob", L"Bob Builder"}, {L"ann", L"Ann Lee"}, {L"cy", L""}};
    for (bool bAdmin : {false, true})
    {
        m_svc.bCanSetOtherPasswords = bAdmin;
        EXPECT_EQ("",
            Show(
                [&](XTRmDialogDriver& d) {
                    EXPECT_EQ(Txts::GetString(IDS_XTRM_PASSWORD_CAPTION), d.GetCaption());
                    EXPECT_EQ(Shown(IDS_XTRM_PASSWORD_POLICY), d.GetText(IDC_XTRM_PASSWORD_POLICY));
                    if (bAdmin)
                        EXPECT_THAT(
                            ComboRows(d, kUserCombo), ElementsAre(L"bob [Bob Builder]", L"ann [Ann Lee]", L"cy"));
                    else
                        EXPECT_THAT(ComboRows(d, kUserCombo), ElementsAre(L"ann [Ann Lee]"));
                    EXPECT_EQ(L"ann [Ann Lee]", d.GetText(kUserCombo));
                    EXPECT_TRUE(d.IsVisible(kUserCombo));
                    EXPECT_EQ(bAdmin, d.IsEnabled(kUserCombo));
                    EXPECT_EQ(kOldEdit, d.GetFocusId());
                    Fill(d, L"old-1", L"new-pass", L"new-pass");
                    d.PressOK();
                },
                1))
            << bAdmin;
        EXPECT_TRUE(m_bChanged);
        EXPECT_THAT(PasswordCalls(m_svc), ElementsAre(L"ChangeOwnPassword(old-1,new-pass)"));
        EXPECT_THAT(Boxes(MB_ICONINFORMATION), ElementsAre(Txts::GetString(IDS_XTRM_PASSWORD_CHANGED)));
    }
}

TEST_F(XTRmChangePasswordTest, OkNeedsTheNewPasswordAndForOnesOwnTheOldOneAndCancelSendsNothing)
{
    struct Action
    {
        int nId;
        const wchar_t* pszText;
        bool bOkEnabled;
    };
    const Action actions[] = {
        {kConfirmEdit, L"y", false},
        {kNewEdit, L"x", false},
        {kOldEdit, L"o", true},
        {kNewEdit, L"", false},
        {kNewEdit, L"y", true},
        {kOldEdit, L"", false},
        {kOldEdit, L"o", true},
    };
    EXPECT_EQ("", Show([&](XTRmDialogDriver& d) {
        EXPECT_FALSE(d.IsEnabled(IDOK));
        for (const Action& a : actions)
        {
            d.SetText(a.nId, a.pszText);
            EXPECT_EQ(a.bOkEnabled, d.IsEnabled(IDOK)) << a.nId << " " << a.pszText;
        }
        d.PressCancel();
    }));
    EXPECT_FALSE(m_bChanged);
    EXPECT_THAT(PasswordCalls(m_svc), IsEmpty());
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}

TEST_F(XTRmChangePasswordTest, EachRefusalShowsItsOwnTextAndKeepsTheDialogOpenWithEmptiedPasswords)
{
    struct Case
    {
        Rms::ERmsPasswordResult nResult;
        unsigned int nTextId;
        UINT nIcon;
    };
    const Case cases[] = {
        {Rms::ERmsPasswordWrongOld, IDS_XTRM_PASSWORD_WRONG_OLD, MB_ICONEXCLAMATION},
        {Rms::ERmsPasswordTooShort, IDS_XTRM_PASSWORD_TOO_SHORT, MB_ICONEXCLAMATION},
        {Rms::ERmsPasswordContainsUserName, IDS_XTRM_PASSWORD_CONTAINS_USER_NAME, MB_ICONEXCLAMATION},
        {Rms::ERmsPasswordNotPermitted, IDS_XTRM_PASSWORD_NOT_PERMITTED, MB_ICONHAND},
        {Rms::ERmsPasswordUnknownUser, IDS_XTRM_PASSWORD_UNKNOWN_USER, MB_ICONHAND},
        {Rms::ERmsPasswordStoreFailed, IDS_XTRM_PASSWORD_STORE_FAILED, MB_ICONHAND},
        {Rms::ERmsPasswordTooLong, IDS_XTRM_PASSWORD_TOO_LONG, MB_ICONEXCLAMATION},
        {Rms::ERmsPasswordReused, IDS_XTRM_PASSWORD_REUSED, MB_ICONEXCLAMATION},
        {Rms::ERmsPasswordTooRecent, IDS_XTRM_PASSWORD_TOO_RECENT, MB_ICONHAND},
        {Rms::ERmsPasswordAccountLocked, IDS_XTRM_PASSWORD_ACCOUNT_LOCKED, MB_ICONHAND},
        {Rms::ERmsPasswordResult(42), IDS_XTRM_PASSWORD_NOT_CHANGED, MB_ICONHAND}, // a newer service's reason
    };
    for (const Case& c : cases)
    {
        m_svc.quePasswordResults = {c.nResult};
        // The user tries again after the refusal, and the service accepts.
        EXPECT_EQ("",
            Show(
                [&](XTRmDialogDriver& d) {
                    Fill(d, L"old-1", L"new-1", L"new-1");
                    d.PressOK();
                    for (int nId : {kOldEdit, kNewEdit, kConfirmEdit})
                        EXPECT_EQ(L"", d.GetText(nId)) << nId;
                    EXPECT_FALSE(d.IsEnabled(IDOK));
                    EXPECT_EQ(kOldEdit, d.GetFocusId());
                    Fill(d, L"old-2", L"new-2", L"new-2");
                    d.PressOK();
                },
                2))
            << c.nResult;
        EXPECT_TRUE(m_bChanged);
        EXPECT_THAT(
            PasswordCalls(m_svc), ElementsAre(L"ChangeOwnPassword(old-1,new-1)", L"ChangeOwnPassword(old-2,new-2)"));
        EXPECT_EQ(Shown(c.nTextId), Boxes(c.nIcon).at(0)) << c.nResult;
    }
}

TEST_F(XTRmChangePasswordTest, ADifferingConfirmationNeverReachesTheService)
{
    for (const wchar_t* pszConfirm : {L"new-2", L"", L"New-1", L"new-1 "})
    {
        EXPECT_EQ("",
            Show(
                [&](XTRmDialogDriver& d) {
                    Fill(d, L"old-1", L"new-1", pszConfirm);
                    d.PressOK();
                    // Both new ones are to be typed again; the old one stays.
                    EXPECT_EQ(L"old-1", d.GetText(kOldEdit));
                    EXPECT_EQ(L"", d.GetText(kNewEdit) + d.GetText(kConfirmEdit));
                    EXPECT_EQ(kNewEdit, d.GetFocusId());
                    d.PressCancel();
                },
                1))
            << pszConfirm;
        EXPECT_FALSE(m_bChanged);
        EXPECT_THAT(PasswordCalls(m_svc), IsEmpty());
        EXPECT_THAT(Boxes(MB_ICONEXCLAMATION), ElementsAre(Txts::GetString(IDS_XTRM_PASSWORD_MISMATCH)));
    }
}

TEST_F(XTRmChangePasswordTest, AnAdministratorSetsThePickedUsersPasswordWithoutTheOldOne)
{
    m_svc.bCanSetOtherPasswords = true;
    struct Case
    {
        std::vector<XTRmsUserInfo> vecDefined;
        std::vector<std::wstring> vecRows;
        int nOwn;
        int nPick;
    };
    const Case cases[] = {
        {{{L"ann", L""}, {L"bob", L""}, {L"cy", L""}}, {L"ann", L"bob", L"cy"}, 0, 2},
        {{{L"bob", L""}, {L"ann", L""}, {L"cy", L""}}, {L"bob", L"ann", L"cy"}, 1, 0},
        // Not listed by the service: the logged-in user comes first all the same.
        {{{L"bob", L""}, {L"cy", L""}}, {L"ann", L"bob", L"cy"}, 0, 1},
    };
    for (const Case& c : cases)
    {
        m_svc.vecDefinedUsers = c.vecDefined;
        EXPECT_EQ("",
            Show(
                [&](XTRmDialogDriver& d) {
                    EXPECT_EQ(c.vecRows, ComboRows(d, kUserCombo));
                    EXPECT_EQ(L"ann", d.GetText(kUserCombo));
                    d.Type(kOldEdit, L"typed-first");
                    PickUser(d, c.nPick);
                    EXPECT_FALSE(d.IsEnabled(kOldEdit));
                    EXPECT_EQ(L"", d.GetText(kOldEdit));
                    PickUser(d, c.nOwn);
                    EXPECT_TRUE(d.IsEnabled(kOldEdit));
                    PickUser(d, c.nPick);
                    Fill(d, L"", L"new-1", L"new-1");
                    d.PressOK();
                },
                1));
        EXPECT_TRUE(m_bChanged);
        EXPECT_THAT(PasswordCalls(m_svc), ElementsAre(L"SetUserPassword(" + c.vecRows[c.nPick] + L",new-1)"));
    }
}

TEST_F(XTRmChangePasswordTest, NoDialogWithoutAPasswordServiceOrForAGuest)
{
    XTRmsScriptedService plainService;
    struct Case
    {
        XTRmsRestrictionManagerServiceBase* pService;
        const wchar_t* pszUser;
        bool bTold;
    };
    for (const Case& c : {Case{nullptr, L"ann", false}, Case{&plainService, L"ann", false}, Case{&m_svc, L"", true}})
    {
        TestApp().Reset(); // recorded, not shown: the robot is to meet no window at all
        XTRmRestrictionManager::SetRestrictionManagerService(c.pService);
        m_svc.strLoggedInUser = c.pszUser;
        XTRmUiRobot robot;
        EXPECT_FALSE(XTRmRestrictionManager::ShowChangePasswordDlg(nullptr));
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(c.bTold ? std::vector<std::wstring>{Txts::GetString(IDS_XTRM_PASSWORD_NAMED_LOGIN_NEEDED)}
                          : std::vector<std::wstring>{},
            Boxes(MB_ICONINFORMATION));
    }
    EXPECT_THAT(PasswordCalls(m_svc), IsEmpty());
}

// A host may show the exported dialog itself (the confirmation is the
// façade's). Closed after a change or cancelled, the dialog holds none of the
// passwords: ending through CDialog::OnOK would read them back in from the
// edits.
TEST_F(XTRmChangePasswordTest, AHostMayShowTheExportedDialogsAndNoPasswordIsLeftInThem)
{
    struct Case
    {
        bool bExpired;
        bool bChange;
        std::vector<std::wstring> vecCalls;
    };
    const Case cases[] = {
        {false, true, {L"ChangeOwnPassword(old-p1,new-p1)"}},
        {true, true, {L"ChangeExpiredPassword(ann,old-p1,new-p1)"}},
        {true, false, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.bExpired ? "expired" : "own") << (c.bChange ? ", OK" : ", Cancel"));
        m_svc.vecCalls.clear();
        XTRmUiRobot robot;
        robot.Expect("XTRmChangePasswordDlg", [&](XTRmDialogDriver& d) {
            Fill(d, c.bExpired ? L"" : L"old-p1", L"new-p1", L"new-p1");
            c.bChange ? d.PressOK() : d.PressCancel();
        });
        XTRmChangePasswordDlg own(&m_svc, &m_svc, nullptr);
        XTRmChangePasswordDlg expired(&m_svc, L"ann", L"old-p1", nullptr);
        XTRmChangePasswordDlg& dlg = c.bExpired ? expired : own;
        EXPECT_EQ(c.bChange ? IDOK : IDCANCEL, dlg.DoModal());
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(c.vecCalls, PasswordCalls(m_svc));
        EXPECT_THAT(BoxTexts(), IsEmpty());
        ExpectNoSecretsIn(dlg, {L"old-p1", L"new-p1"});
    }
}

// IDOK can come while OK is greyed: Enter in a dialog whose default button
// is not OK, or a dialog manager that sends it for a greyed default. With
// the old password missing nothing may reach the service, and the dialog
// stays open.
TEST_F(XTRmChangePasswordTest, AnOkCommandWhileOkIsGreyedSendsNothing)
{
    EXPECT_EQ("", Show([&](XTRmDialogDriver& d) {
        Fill(d, L"", L"new-pass", L"new-pass");
        EXPECT_FALSE(d.IsEnabled(IDOK));
        ::SendMessageW(d.GetHwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
        d.PressCancel();
    }));
    EXPECT_FALSE(m_bChanged);
    EXPECT_THAT(PasswordCalls(m_svc), IsEmpty());
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}

// After a refusal of another user's password the administrator types the
// new one again: the focus goes there, never to the greyed old-password edit.
TEST_F(XTRmChangePasswordTest, AfterAnAdministratorsRefusalTheFocusIsOnTheNewPassword)
{
    m_svc.bCanSetOtherPasswords = true;
    m_svc.vecDefinedUsers = {{L"ann", L""}, {L"bob", L""}};
    m_svc.quePasswordResults = {Rms::ERmsPasswordTooShort};
    EXPECT_EQ("",
        Show(
            [&](XTRmDialogDriver& d) {
                PickUser(d, 1);
                Fill(d, L"", L"short", L"short");
                d.PressOK();
                EXPECT_EQ(kNewEdit, d.GetFocusId());
                EXPECT_FALSE(d.IsEnabled(kOldEdit));
                d.PressCancel();
            },
            1));
    EXPECT_THAT(PasswordCalls(m_svc), ElementsAre(L"SetUserPassword(bob,short)"));
}

// A login whose password has expired: the login flow opens the dialog at once,
// with the user fixed and the typed password as the old one.
namespace
{
void LogIn(XTRmDialogDriver& d)
{
    d.Type(IDC_XTRM_NG_USER_NAME, L"ann");
    d.Type(IDC_XTRM_NG_PASSWORD, L"old-pw");
    d.PressOK();
}

} // namespace

class XTRmExpiredPasswordTest : public testing::Test
{
protected:
    void SetUp() override
    {
        TestApp().Reset();
        // Nobody is logged in before the change; the user may be an
        // administrator, and still changes only his own password here.
        m_svc.strLoggedInUser.clear();
        m_svc.bCanSetOtherPasswords = true;
        m_svc.vecDefinedUsers = {{L"bob", L""}, {L"ann", L"Ann Lee"}};
        m_svc.queLoginResults = {Rms::ERmsLoginPasswordExpired};
        XTRmRestrictionManager::SetRestrictionManagerService(&m_svc);
    }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    XTRmsScriptedFullService m_svc;
};

TEST_F(XTRmExpiredPasswordTest, TheChangeOpensWithTheUserFixedAndCompletesTheLogin)
{
    XTRmUiRobot robot;
    robot.Expect("XTRmNGUserLoginDlg", LogIn);
    robot.Expect("XTRmChangePasswordDlg", [](XTRmDialogDriver& d) {
        EXPECT_EQ(Txts::GetString(IDS_XTRM_EXPIRED_CAPTION), d.GetCaption());
        EXPECT_EQ(Txts::GetString(IDS_XTRM_EXPIRED_TEXT), d.GetText(IDC_XTRM_EXPIRED_TEXT));
        EXPECT_EQ(L"ann", d.GetText(IDC_XTRM_PASSWORD_USER));
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_PASSWORD_USER));
        // The old password is the one just typed: not asked for, not shown.
        EXPECT_FALSE(d.IsVisible(kOldEdit));
        EXPECT_EQ(L"", d.GetText(kOldEdit));
        EXPECT_EQ(kNewEdit, d.GetFocusId());
        EXPECT_FALSE(d.IsEnabled(IDOK));
        Fill(d, L"", L"new-pw-1", L"new-pw-1");
        EXPECT_TRUE(d.IsEnabled(IDOK));
        d.PressOK();
    });
    EXPECT_EQ(Rms::ERmsLoginOk, XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", false));
    EXPECT_EQ("", robot.Finish());
    EXPECT_THAT(PasswordCalls(m_svc), ElementsAre(L"ChangeExpiredPassword(ann,old-pw,new-pw-1)"));
    EXPECT_THAT(m_svc.CallsNamed(L"UserLogin"), ElementsAre(L"UserLogin(ann,old-pw)"));
    EXPECT_THAT(BoxTexts(), IsEmpty());
}

// Each rule has its own text (the change-password tests check them all);
// here the old password must survive refusals for the next try.
TEST_F(XTRmExpiredPasswordTest, RefusalsShowTheBrokenRuleAndKeepTheOldPasswordForTheNextTry)
{
    m_svc.quePasswordResults = {Rms::ERmsPasswordReused, Rms::ERmsPasswordTooRecent};
    XTRmUiRobot robot;
    robot.Expect("XTRmNGUserLoginDlg", LogIn);
    robot.Expect("XTRmChangePasswordDlg", [&](XTRmDialogDriver& d) {
        for (const wchar_t* pszNew : {L"new-pw-1", L"new-pw-2"})
        {
            Fill(d, L"", pszNew, pszNew);
            d.PressOK();
            EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
            EXPECT_EQ(L"", d.GetText(kNewEdit) + d.GetText(kConfirmEdit));
            EXPECT_EQ(kNewEdit, d.GetFocusId());
            EXPECT_FALSE(d.IsEnabled(IDOK));
        }
        Fill(d, L"", L"new-pw-3", L"new-pw-3");
        d.PressOK();
    });
    EXPECT_EQ(Rms::ERmsLoginOk, XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", false));
    EXPECT_EQ("", robot.Finish());
    EXPECT_THAT(BoxTexts(),
        ElementsAre(Txts::GetString(IDS_XTRM_PASSWORD_REUSED), Txts::GetString(IDS_XTRM_PASSWORD_TOO_RECENT)));
    EXPECT_THAT(PasswordCalls(m_svc),
        ElementsAre(L"ChangeExpiredPassword(ann,old-pw,new-pw-1)", L"ChangeExpiredPassword(ann,old-pw,new-pw-2)",
            L"ChangeExpiredPassword(ann,old-pw,new-pw-3)"));
    EXPECT_EQ(1u, m_svc.CountCalls(L"UserLogin"));
}

// Cancelled, the change ends as the refused login it was: the expiry is
// reported and the login dialog comes back. Without a password interface the
// service cannot change it, and the report alone remains.
TEST_F(XTRmExpiredPasswordTest, CancelledOrImpossibleTheLoginIsRefusedAndAskedAgain)
{
    XTRmsScriptedService plainService;
    for (bool bPasswordService : {true, false})
    {
        SCOPED_TRACE(bPasswordService);
        TestApp().Reset();
        XTRmsScriptedService& svc = bPasswordService ? m_svc : plainService;
        svc.queLoginResults = {Rms::ERmsLoginPasswordExpired};
        XTRmRestrictionManager::SetRestrictionManagerService(&svc);
        XTRmUiRobot robot;
        robot.Expect("XTRmNGUserLoginDlg", LogIn);
        if (bPasswordService)
            robot.Expect("XTRmChangePasswordDlg", [](XTRmDialogDriver& d) {
                Fill(d, L"", L"new-pw-1", L"new-pw-1");
                d.PressCancel();
            });
        robot.Expect("XTRmNGUserLoginDlg", [](XTRmDialogDriver& d) {
            EXPECT_EQ(L"", d.GetText(IDC_XTRM_NG_PASSWORD));
            d.PressCancel();
        });
        EXPECT_EQ(Rms::ERmsLoginCancelled, XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", false));
        EXPECT_EQ("", robot.Finish());
        EXPECT_THAT(PasswordCalls(m_svc), IsEmpty());
        EXPECT_THAT(svc.CallsNamed(L"UserLogin"), ElementsAre(L"UserLogin(ann,old-pw)"));
        EXPECT_THAT(BoxTexts(), ElementsAre(Txts::GetString(IDS_XTRM_LOGIN_PASSWORD_EXPIRED)));
    }
}
