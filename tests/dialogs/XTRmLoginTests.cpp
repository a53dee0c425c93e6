// The login dialogs and the login flow: which dialog opens, OK following the
// user's typing, guest login, what refused logins show, and the retry loop.
#include "XTRmNGUserLoginDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmTestSteps.h"
#include "XTRmUserLoginDlg.h"
#include "XTRmUserLoginHdrDlg.h"
#include "XTRmsScriptedService.h"

#include "XTTxtsTextService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

using testing::ElementsAre;

namespace
{
class XTRmLoginTest : public testing::Test
{
protected:
    void SetUp() override { XTRmRestrictionManager::SetRestrictionManagerService(&m_service); }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    // The façade's login dialog for an application type and guest setting.
    Rms::ERmsLoginResult ShowLogin(
        Rms::RmsApplicationType nType, bool bGuest, const char* pszClass, std::function<void(XTRmDialogDriver&)> fnUser)
    {
        m_service.nApplicationType = nType;
        m_service.bGuestLoginAllowed = bGuest;
        XTRmUiRobot robot;
        robot.Expect(pszClass, std::move(fnUser));
        Rms::ERmsLoginResult nResult = XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", bGuest);
        EXPECT_EQ("", robot.Finish());
        return nResult;
    }

    XTRmsScriptedService m_service;
};

// One login dialog variant as the façade picks it.
struct Variant
{
    Rms::RmsApplicationType nType;
    bool bGuest;
    const char* pszClass;
    int nUserNameID;
    int nPasswordID;
};

const Variant kPlain = {
    Rms::RmsApplicationStandard, true, "XTRmUserLoginDlg", IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD};
const Variant kHeader = {
    Rms::RmsApplicationWithHeader, true, "XTRmUserLoginHdrDlg", IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD};
const Variant kHeaderNoGuest = {
    Rms::RmsApplicationWithHeader, false, "XTRmUserLoginHdrDlg", IDC_XTRM_LOGIN_USER_NAME, IDC_XTRM_LOGIN_PASSWORD};
const Variant kNoGuest = {
    Rms::RmsApplicationStandard, false, "XTRmNGUserLoginDlg", IDC_XTRM_NG_USER_NAME, IDC_XTRM_NG_PASSWORD};
} // namespace

TEST_F(XTRmLoginTest, DialogFollowsApplicationTypeAndGuestPermission)
{
    struct Row
    {
        Rms::RmsApplicationType nType;
        bool bOffered;
        bool bServiceAllows;
        const char* pszClass;
        bool bGuestChoice;
        size_t nGuestQuestions;
    };
    const Row rows[] = {
        {Rms::RmsApplicationStandard, true, true, "XTRmUserLoginDlg", true, 1},
        {Rms::RmsApplicationService, true, true, "XTRmUserLoginDlg", true, 1},
        {Rms::RmsApplicationStandard, true, false, "XTRmNGUserLoginDlg", false, 1},
        {Rms::RmsApplicationStandard, false, true, "XTRmNGUserLoginDlg", false, 0},
        {Rms::RmsApplicationWithHeader, true, true, "XTRmUserLoginHdrDlg", true, 1},
        {Rms::RmsApplicationWithHeader, true, false, "XTRmUserLoginHdrDlg", false, 1},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string(row.pszClass) + " type " + std::to_string(row.nType));
        m_service.vecCalls.clear();
        m_service.nApplicationType = row.nType;
        m_service.bGuestLoginAllowed = row.bServiceAllows;
        XTRmUiRobot robot;
        robot.Expect(row.pszClass, [&](XTRmDialogDriver& d) {
            EXPECT_EQ(Txts::GetString(IDS_XTRM_LOGIN_CAPTION), d.GetCaption());
            EXPECT_EQ(row.bGuestChoice,
                d.HasControl(IDC_XTRM_LOGIN_GUEST_RADIO) && d.IsVisible(IDC_XTRM_LOGIN_GUEST_RADIO) &&
                    d.IsVisible(IDC_XTRM_LOGIN_MODE_FRAME));
            d.PressCancel();
        });
        EXPECT_EQ(Rms::ERmsLoginCancelled, XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", row.bOffered));
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(row.nGuestQuestions, m_service.CountCalls(L"IsGuestLoginAllowed"));
        EXPECT_EQ(0u, m_service.CountCalls(L"UserLogin"));
        EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
    }
}

TEST_F(XTRmLoginTest, OkNeedsNameAndPasswordExceptInTheHeaderDialogWithoutGuest)
{
    for (const Variant& v : {kPlain, kHeader, kNoGuest, kHeaderNoGuest})
    {
        SCOPED_TRACE(v.pszClass);
        const bool bAlways = v.nType == Rms::RmsApplicationWithHeader && !v.bGuest; // every change switches OK on
        ShowLogin(v.nType, v.bGuest, v.pszClass, [&](XTRmDialogDriver& d) {
            d.Type(v.nUserNameID, L"al");
            EXPECT_EQ(bAlways, d.IsEnabled(IDOK));
            d.Type(v.nPasswordID, L"pw");
            EXPECT_TRUE(d.IsEnabled(IDOK));
            d.Clear(v.nUserNameID);
            EXPECT_EQ(bAlways, d.IsEnabled(IDOK));
            d.SetText(v.nUserNameID, L"alice");
            EXPECT_TRUE(d.IsEnabled(IDOK));
            d.Clear(v.nPasswordID);
            EXPECT_EQ(bAlways, d.IsEnabled(IDOK));
            d.PressCancel();
        });
    }
}

// Guest empties and greys the edits and logs in with empty credentials;
// back from guest, the edits stay empty for a named login.
TEST_F(XTRmLoginTest, GuestLogsInWithEmptyNameAndPasswordAndBackFromGuestTheEditsStayEmpty)
{
    for (bool bBack : {false, true})
    {
        for (const Variant& v : {kPlain, kHeader})
        {
            SCOPED_TRACE(testing::Message() << v.pszClass << (bBack ? " back from guest" : " guest"));
            m_service.vecCalls.clear();
            const Rms::ERmsLoginResult nResult = ShowLogin(v.nType, v.bGuest, v.pszClass, [&](XTRmDialogDriver& d) {
                d.SetText(v.nUserNameID, L"alice");
                d.SetText(v.nPasswordID, L"secret");
                d.Click(IDC_XTRM_LOGIN_GUEST_RADIO);
                EXPECT_EQ(L"", d.GetText(v.nUserNameID) + d.GetText(v.nPasswordID));
                EXPECT_FALSE(d.IsEnabled(v.nUserNameID) || d.IsEnabled(v.nPasswordID));
                EXPECT_TRUE(d.IsEnabled(IDOK));
                if (bBack)
                {
                    d.Click(IDC_XTRM_LOGIN_NAMED_RADIO);
                    EXPECT_TRUE(d.IsEnabled(v.nUserNameID) && d.IsEnabled(v.nPasswordID));
                    EXPECT_EQ(L"", d.GetText(v.nUserNameID) + d.GetText(v.nPasswordID));
                    d.Type(v.nUserNameID, L"bob");
                    d.Type(v.nPasswordID, L"pw");
                }
                d.PressOK();
            });
            EXPECT_EQ(Rms::ERmsLoginOk, nResult);
            EXPECT_THAT(
                m_service.CallsNamed(L"UserLogin"), ElementsAre(bBack ? L"UserLogin(bob,pw)" : L"UserLogin(,)"));
        }
    }
}

TEST(XTRmLoginDialogs, CancelStoresTheEditsAndOnlyTheGuestFlagEmptiesTheAccessors)
{
    // Guest chosen, but the dialog was built without guest login: the
    // accessors still hand back what the members hold. Without guest login
    // the choice is there but hidden, frame included.
    auto chooseGuestAndCancel = [](bool bGuestOffered) {
        return [bGuestOffered](XTRmDialogDriver& d) {
            for (int nID : {IDC_XTRM_LOGIN_NAMED_RADIO, IDC_XTRM_LOGIN_GUEST_RADIO, IDC_XTRM_LOGIN_MODE_FRAME})
                EXPECT_EQ(bGuestOffered, d.IsVisible(nID)) << nID;
            d.SetText(IDC_XTRM_LOGIN_USER_NAME, L"typed");
            ::SendMessageW(::GetDlgItem(d.GetHwnd(), IDC_XTRM_LOGIN_NAMED_RADIO), BM_SETCHECK, BST_UNCHECKED, 0);
            ::SendMessageW(::GetDlgItem(d.GetHwnd(), IDC_XTRM_LOGIN_GUEST_RADIO), BM_SETCHECK, BST_CHECKED, 0);
            d.PressCancel();
        };
    };
    {
        XTRmUserLoginDlg dlg(L"Log in", L"proposed", L"pw", nullptr, false);
        EXPECT_EQ(IDCANCEL, RunModal(dlg, "XTRmUserLoginDlg", chooseGuestAndCancel(false)));
        EXPECT_EQ(L"typed", dlg.GetUserName());
        EXPECT_EQ(L"pw", dlg.GetPassword());
    }
    {
        XTRmUserLoginDlg dlg(L"Log in", L"proposed", L"pw", nullptr, true);
        EXPECT_EQ(IDCANCEL, RunModal(dlg, "XTRmUserLoginDlg", chooseGuestAndCancel(true)));
        EXPECT_EQ(L"", dlg.GetUserName());
        EXPECT_EQ(L"", dlg.GetPassword());
    }
    {
        XTRmUserLoginHdrDlg dlg(L"Log in", L"proposed", L"pw", nullptr, false, IDB_XTRM_BACKGROUND);
        EXPECT_EQ(IDCANCEL, RunModal(dlg, "XTRmUserLoginHdrDlg", [](XTRmDialogDriver& d) {
            d.SetText(IDC_XTRM_LOGIN_PASSWORD, L"typed");
            d.PressCloseBox();
        }));
        EXPECT_EQ(L"typed", dlg.GetPassword());
    }
    {
        XTRmNGUserLoginDlg dlg(L"Log in", L"proposed", L"pw", nullptr);
        EXPECT_EQ(IDCANCEL, RunModal(dlg, "XTRmNGUserLoginDlg", [](XTRmDialogDriver& d) {
            EXPECT_EQ(L"proposed", d.GetText(IDC_XTRM_NG_USER_NAME));
            EXPECT_TRUE(d.IsEnabled(IDC_XTRM_NG_PASSWORD));
            d.SetText(IDC_XTRM_NG_USER_NAME, L"typed");
            d.PressEscape();
        }));
        EXPECT_EQ(L"typed", dlg.GetUserName());
    }
}

TEST_F(XTRmLoginTest, EveryRefusalIsReportedWithItsTextAndIcon)
{
    struct Row
    {
        int nResult;
        unsigned int nTextId;
        UINT nType;
    };
    const Row rows[] = {
        {2, IDS_XTRM_LOGIN_WRONG_PASSWORD, MB_ICONEXCLAMATION},
        {3, IDS_XTRM_LOGIN_UNKNOWN_USER, MB_ICONEXCLAMATION},
        {4, IDS_XTRM_LOGIN_USER_LOCKED, MB_ICONHAND},
        {5, IDS_XTRM_LOGIN_SERVER_REFUSED, MB_ICONHAND},
        {6, IDS_XTRM_LOGIN_PASSWORD_EXPIRED, MB_ICONEXCLAMATION},
        {7, IDS_XTRM_LOGIN_NO_LICENSE, MB_ICONHAND},
        {8, IDS_XTRM_LOGIN_SOURCE_UNAVAILABLE, MB_ICONHAND},
        {9, IDS_XTRM_LOGIN_GUEST_NOT_ALLOWED, MB_ICONHAND},
        {10, IDS_XTRM_LOGIN_TOO_MANY_USERS, MB_ICONHAND},
        {11, IDS_XTRM_LOGIN_ACCOUNT_DISABLED, MB_ICONHAND},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.nResult);
        TestApp().Reset();
        m_service.queLoginResults = {static_cast<Rms::ERmsLoginResult>(row.nResult)};
        EXPECT_FALSE(XTRmRestrictionManager::SendUserLogin(L"alice", L"secret"));
        ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
        EXPECT_EQ(Txts::GetString(row.nTextId), TestApp().m_vecMessageBoxes[0].strText);
        EXPECT_EQ(MB_OK | row.nType, TestApp().m_vecMessageBoxes[0].nType);
        EXPECT_EQ(0u, TestApp().m_vecMessageBoxes[0].nIDHelp);
    }
    EXPECT_EQ(0u, m_service.CountCalls(L"GetLastServerMessage"));
}

TEST_F(XTRmLoginTest, OtherRefusalsShowTheServersReason)
{
    const std::wstring strRefused = Txts::GetString(IDS_XTRM_LOGIN_SERVER_REFUSED);
    const std::wstring strNoReason = Txts::GetString(IDS_XTRM_NO_SERVER_MESSAGE);
    struct Row
    {
        bool bReLogin; // SendUserReLogin, else SendUserLogin
        int nResult;
        std::wstring strServerMessage;
        std::wstring strShown;
    };
    const Row rows[] = {
        {false, 12, L"Licence (3) expired", strRefused + L" (Licence (3) expired)"},
        {false, 0, L"", strRefused + L" (" + strNoReason + L")"},
        {false, -1, L"", strRefused + L" (" + strNoReason + L")"},
        {true, 12, L"Server going down at 18:00", strRefused + L" (Server going down at 18:00)"},
        {true, 0, L"", strRefused + L" (" + strNoReason + L")"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << (row.bReLogin ? "re-login " : "login ") << row.nResult);
        TestApp().Reset();
        m_service.vecCalls.clear();
        m_service.strLastServerMessage = row.strServerMessage;
        const Rms::ERmsLoginResult nResult = static_cast<Rms::ERmsLoginResult>(row.nResult);
        m_service.queLoginResults = {nResult};
        m_service.queReconnectResults = {nResult};
        EXPECT_FALSE(row.bReLogin ? XTRmRestrictionManager::SendUserReLogin()
                                  : XTRmRestrictionManager::SendUserLogin(L"alice", L"secret"));
        ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
        EXPECT_EQ(row.strShown, TestApp().m_vecMessageBoxes[0].strText);
        EXPECT_EQ((UINT)(MB_OK | MB_ICONHAND), TestApp().m_vecMessageBoxes[0].nType);
        EXPECT_EQ(1u, m_service.CountCalls(row.bReLogin ? L"ReconnectToRestrictionSource" : L"UserLogin"));
    }
}

TEST_F(XTRmLoginTest, LoginAndReLoginWithoutDialog)
{
    m_service.queLoginResults = {Rms::ERmsLoginOk};
    EXPECT_TRUE(XTRmRestrictionManager::SendUserLogin(L"alice", L"secret"));
    m_service.queReconnectResults = {Rms::ERmsLoginOk, Rms::ERmsLoginWrongPassword};
    EXPECT_TRUE(XTRmRestrictionManager::SendUserReLogin());
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
    EXPECT_FALSE(XTRmRestrictionManager::SendUserReLogin());
    ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
    EXPECT_EQ(Txts::GetString(IDS_XTRM_LOGIN_WRONG_PASSWORD), TestApp().m_vecMessageBoxes[0].strText);
    EXPECT_EQ((UINT)(MB_OK | MB_ICONEXCLAMATION), TestApp().m_vecMessageBoxes[0].nType);
    EXPECT_THAT(m_service.vecCalls,
        ElementsAre(L"UserLogin(alice,secret)", L"ReconnectToRestrictionSource()", L"ReconnectToRestrictionSource()"));
}

TEST_F(XTRmLoginTest, WrongPasswordsAreReportedAndEachNewDialogShowsTheProposals)
{
    TestApp().m_bShowRealMessageBoxes = true;
    for (const Variant& v : {kNoGuest, kPlain, kHeader})
    {
        SCOPED_TRACE(v.pszClass);
        m_service.vecCalls.clear();
        m_service.nApplicationType = v.nType;
        m_service.queLoginResults = {Rms::ERmsLoginWrongPassword, Rms::ERmsLoginWrongPassword, Rms::ERmsLoginOk};
        auto typePassword = [&v](const wchar_t* pszPassword) {
            return [&v, pszPassword](XTRmDialogDriver& d) {
                EXPECT_EQ(L"alice", d.GetText(v.nUserNameID));
                EXPECT_EQ(L"proposed", d.GetText(v.nPasswordID));
                EXPECT_TRUE(d.IsEnabled(v.nUserNameID) && d.IsEnabled(v.nPasswordID));
                d.SetText(v.nPasswordID, pszPassword);
                d.PressOK();
            };
        };
        auto wrongPasswordBox = [](XTRmDialogDriver& box) {
            EXPECT_EQ(Txts::GetString(IDS_XTRM_LOGIN_WRONG_PASSWORD), box.GetMessageText());
            EXPECT_EQ((UINT)MB_ICONEXCLAMATION, box.GetMessageIcon());
            box.PressOK();
        };
        XTRmUiRobot robot;
        robot.Expect(v.pszClass, typePassword(L"first"))
            .ExpectMessageBox(wrongPasswordBox)
            .Expect(v.pszClass, typePassword(L"second"))
            .ExpectMessageBox(wrongPasswordBox)
            .Expect(v.pszClass, typePassword(L"right"));

        EXPECT_EQ(Rms::ERmsLoginOk, XTRmRestrictionManager::ShowUserLoginDlg(L"alice", L"proposed", v.bGuest));
        EXPECT_EQ("", robot.Finish());
        EXPECT_THAT(m_service.CallsNamed(L"UserLogin"),
            ElementsAre(L"UserLogin(alice,first)", L"UserLogin(alice,second)", L"UserLogin(alice,right)"));
    }
}

// The typed password is wiped from the flow's memory on every way out, also
// when the rights service throws: what stays behind in the freed buffer must
// not be the password. The buffer is read after it was freed on purpose; a
// heap that reuses it meanwhile can only hide a fault, never invent one.
TEST_F(XTRmLoginTest, PasswordIsWipedWhenTheServiceThrowsFromUserLogin)
{
    struct ThrowingService : XTRmsScriptedService
    {
        const wchar_t* pPassword = nullptr;
        Rms::ERmsLoginResult UserLogin(const std::wstring& strUserName, const std::wstring& strPassword) override
        {
            XTRmsScriptedService::UserLogin(strUserName, strPassword);
            pPassword = strPassword.data();
            throw std::runtime_error("rights store gone");
        }
    } service;
    XTRmRestrictionManager::SetRestrictionManagerService(&service);
    // Long enough for a heap buffer; the heap's own bookkeeping may overwrite
    // its first and last characters once it is freed, so only the middle counts.
    const std::wstring strPassword = L"correct horse battery staple 2026 plant!";
    XTRmUiRobot robot;
    robot.Expect("XTRmNGUserLoginDlg", [&](XTRmDialogDriver& d) {
        d.SetText(IDC_XTRM_NG_USER_NAME, L"alice");
        d.SetText(IDC_XTRM_NG_PASSWORD, strPassword);
        d.PressOK();
    });

    EXPECT_THROW(XTRmRestrictionManager::ShowUserLoginDlg(L"", L"", false), std::runtime_error);

    EXPECT_EQ("", robot.Finish());
    ASSERT_NE(nullptr, service.pPassword);
    const volatile wchar_t* pLeft = service.pPassword;
    size_t nLeft = 0;
    for (size_t i = 12; i < strPassword.size() - 8; ++i)
        nLeft += pLeft[i] == strPassword[i] ? 1 : 0;
    EXPECT_EQ(0u, nLeft) << "characters of the password left in its freed buffer";
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}
