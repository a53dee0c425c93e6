// The lock on inactivity, end to end through the robot: no lock while input
// keeps coming, the lock dialog over a disabled host after the limit, unlock,
// refusals, switch user with the host's menu adapted to the new user, and a
// lock that cannot be opened or was disabled doing nothing. The clock is the
// test's own and the input is posted: nothing waits.
#include <afxwin.h>

#include "XTRmDemoIds.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmRestrictionsMenu.h"
#include "XTRmTestSteps.h"
#include "XTRmsScriptedFullService.h"

#include <gmock/gmock.h>

#include <memory>

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
const int kRightBatchStart = 11;
const int kRightBatchHold = 12;

// The host's restrictions: starting a batch is hidden and holding one greyed
// for a user without the rights.
class XTRmLockTestRestrictions : public XTRmRestrictionsMenu
{
public:
    explicit XTRmLockTestRestrictions(XTRmsRestrictionManagerServiceBase* pService) : XTRmRestrictionsMenu(pService)
    {
        CommandHide(ID_XTRM_DEMO_BATCH_START, kRightBatchStart);
        CommandDisable(ID_XTRM_DEMO_BATCH_HOLD, kRightBatchHold);
    }
};

// "absent", "greyed" or "enabled", as the user sees the command on the bar.
std::string CommandState(HWND hWnd, UINT nCommandId)
{
    const HMENU hMenu = ::GetMenu(hWnd);
    const UINT nState = ::GetMenuState(hMenu, nCommandId, MF_BYCOMMAND);
    if (nState == static_cast<UINT>(-1))
        return "absent";
    return (nState & MF_GRAYED) != 0 ? "greyed" : "enabled";
}

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

class XTRmInactivityLockTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_service.strLoggedInUser = L"olga";
        m_service.mapDeniedRightsOf[L"olga"] = {kRightBatchStart, kRightBatchHold};
        XTRmRestrictionManager::SetRestrictionManagerService(&m_service);
        XTRmRestrictionManager::SetInactivityClock([this] { return m_nNow; });

        m_pFrame = new CFrameWnd; // deletes itself when destroyed
        ASSERT_TRUE(m_pFrame->Create(nullptr, L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CFrameWnd::rectDefault,
            nullptr, MAKEINTRESOURCE(IDR_XTRM_DEMO_MAINFRAME)));
        m_hFrame = m_pFrame->GetSafeHwnd();
        // A tool window of the host: it must not stay reachable either.
        m_hTool = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Tool", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 120,
            60, m_hFrame, nullptr, nullptr, nullptr);
        m_restrictions = std::make_unique<XTRmLockTestRestrictions>(&m_service);
        m_restrictions->AdaptToRestrictions(CMenu::FromHandle(::GetMenu(m_hFrame)));
        PumpMessages();
    }

    void TearDown() override
    {
        XTRmRestrictionManager::DisableInactivityLock();
        XTRmRestrictionManager::SetInactivityClock(nullptr);
        XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        ::DestroyWindow(m_hTool);
        m_pFrame->DestroyWindow();
    }

    // What the host does in its callback: fresh restrictions for the new
    // user, the menu bar reloaded and adapted.
    bool EnableLock(unsigned int nMinutes = 5)
    {
        return XTRmRestrictionManager::EnableInactivityLock(m_pFrame, nMinutes, [this](const std::wstring& strUser) {
            m_vecUserChanges.push_back(strUser);
            m_bHostEnabledInCallback = ::IsWindowEnabled(m_hFrame) && ::IsWindowEnabled(m_hTool);
            m_restrictions = std::make_unique<XTRmLockTestRestrictions>(&m_service);
            EXPECT_TRUE(m_restrictions->ReloadMenu(m_pFrame, IDR_XTRM_DEMO_MAINFRAME));
        });
    }

    // The user touches the host: the message goes through the thread's queue.
    void Input(UINT nMessage)
    {
        ::PostMessageW(m_hFrame, nMessage, nMessage == WM_KEYDOWN ? 'A' : 0, 0);
        PumpMessages();
    }

    std::vector<std::wstring> SessionCalls() const
    {
        return m_service.CallsNamed({L"LockSession", L"UnlockSession", L"SwitchUser"});
    }

    void Minutes(unsigned long long nMinutes) { m_nNow += nMinutes * 60000ULL; }

    // What the user sees while the lock is up, checked in every lock step.
    void ExpectLockedHost(XTRmDialogDriver& d, const std::wstring& strUser)
    {
        EXPECT_EQ(Txts::GetString(IDS_XTRM_LOCK_CAPTION), d.GetCaption());
        EXPECT_EQ(Formatted(IDS_XTRM_LOCK_TEXT, strUser), d.GetText(IDC_XTRM_LOCK_TEXT));
        EXPECT_EQ(strUser, d.GetText(IDC_XTRM_LOCK_USER));
        EXPECT_EQ(m_hFrame, ::GetWindow(d.GetHwnd(), GW_OWNER));
        EXPECT_FALSE(::IsWindowEnabled(m_hFrame));
        EXPECT_FALSE(::IsWindowEnabled(m_hTool));
        EXPECT_FALSE(d.IsEnabled(IDOK));
        EXPECT_EQ(0, ::GetWindowLongW(d.GetHwnd(), GWL_STYLE) & WS_SYSMENU); // no close box
        EXPECT_FALSE(d.HasControl(IDCANCEL));
    }

    XTRmsScriptedFullService m_service;
    unsigned long long m_nNow = 1000000;
    CFrameWnd* m_pFrame = nullptr;
    HWND m_hFrame = nullptr;
    HWND m_hTool = nullptr;
    std::unique_ptr<XTRmLockTestRestrictions> m_restrictions;
    std::vector<std::wstring> m_vecUserChanges;
    bool m_bHostEnabledInCallback = false;
};
} // namespace

TEST_F(XTRmInactivityLockTest, InputKeepsTheLockAwayUntilTheLimitPassesWithoutIt)
{
    ASSERT_TRUE(EnableLock(5));
    XTRmUiRobot robot; // no steps: any dialog before the limit fails the test
    for (UINT nMessage : {WM_KEYDOWN, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_CHAR})
    {
        Minutes(4);
        Input(nMessage);
        Minutes(4);
        EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity()) << nMessage;
    }
    // The host's own traffic is not its user.
    for (UINT nMessage : {WM_TIMER, WM_PAINT, WM_NULL, WM_APP})
        Input(nMessage);
    EXPECT_THAT(SessionCalls(), IsEmpty());
    EXPECT_EQ("", robot.Finish());

    Minutes(1); // five minutes since the last key or mouse message
    XTRmUiRobot lockRobot;
    lockRobot.Expect("XTRmLockDlg", [&](XTRmDialogDriver& d) {
        ExpectLockedHost(d, L"olga");
        EXPECT_EQ(L"Locked \u2014 olga \u2014 log in to continue", d.GetText(IDC_XTRM_LOCK_TEXT));
        ::SendMessageW(d.GetHwnd(), WM_COMMAND, IDOK, 0); // Enter on the greyed OK: nothing to send
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"olga-pw");
        EXPECT_TRUE(d.IsEnabled(IDOK));
        d.PressOK();
    });
    EXPECT_TRUE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_EQ("", lockRobot.Finish());
    EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"UnlockSession(olga-pw)"));
    EXPECT_TRUE(::IsWindowEnabled(m_hFrame));
    EXPECT_TRUE(::IsWindowEnabled(m_hTool));
    EXPECT_THAT(m_vecUserChanges, IsEmpty());
    // The unlock starts a fresh period. Watched, as every lock must be: a
    // lock nobody answers would never close.
    XTRmUiRobot none;
    Minutes(4);
    EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_EQ("", none.Finish());
}

TEST_F(XTRmInactivityLockTest, RefusedPasswordsShowTheLoginTextsAndKeepTheLock)
{
    struct Row
    {
        Rms::ERmsLoginResult nResult;
        unsigned int nTextId;
    };
    const Row rows[] = {
        {Rms::ERmsLoginWrongPassword, IDS_XTRM_LOGIN_WRONG_PASSWORD},
        {Rms::ERmsLoginAccountDisabled, IDS_XTRM_LOGIN_ACCOUNT_DISABLED},
        {Rms::ERmsLoginServerRefused, IDS_XTRM_LOGIN_SERVER_REFUSED},
    };
    ASSERT_TRUE(EnableLock(5));
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.nResult);
        TestApp().Reset();
        m_service.vecCalls.clear();
        m_service.queSessionResults = {row.nResult, Rms::ERmsLoginOk};
        XTRmUiRobot robot;
        robot.Expect("XTRmLockDlg", [&](XTRmDialogDriver& d) {
            d.Type(IDC_XTRM_LOCK_PASSWORD, L"wrong");
            d.PressOK();
            EXPECT_THAT(BoxTexts(), ElementsAre(Txts::GetString(row.nTextId)));
            // Still locked, the password gone, the host still out of reach.
            EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
            EXPECT_EQ(L"", d.GetText(IDC_XTRM_LOCK_PASSWORD));
            EXPECT_FALSE(::IsWindowEnabled(m_hFrame));
            // Escape does not open the lock either.
            ::SendMessageW(d.GetHwnd(), WM_COMMAND, IDCANCEL, 0);
            EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
            d.Type(IDC_XTRM_LOCK_PASSWORD, L"right");
            d.PressOK();
        });
        EXPECT_TRUE(XTRmRestrictionManager::LockNow());
        EXPECT_EQ("", robot.Finish());
        EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"UnlockSession(wrong)", L"UnlockSession(right)"));
        EXPECT_TRUE(::IsWindowEnabled(m_hFrame));
        EXPECT_THAT(m_vecUserChanges, IsEmpty());
    }
}

TEST_F(XTRmInactivityLockTest, SwitchUserTellsTheHostAndTheMenuFollowsTheNewUser)
{
    ASSERT_TRUE(EnableLock(5));
    EXPECT_EQ("absent", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_START));
    EXPECT_EQ("greyed", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_HOLD));

    m_service.queSessionResults = {Rms::ERmsLoginWrongPassword, Rms::ERmsLoginOk};
    XTRmUiRobot robot;
    robot.Expect("XTRmLockDlg", [&](XTRmDialogDriver& d) {
        ExpectLockedHost(d, L"olga");
        d.SetText(IDC_XTRM_LOCK_USER, L"max");
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"bad");
        d.PressOK();
        EXPECT_EQ(L"max", d.GetText(IDC_XTRM_LOCK_USER)); // kept for the next try
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"max-pw");
        d.PressOK();
    });
    Minutes(5);
    EXPECT_TRUE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_EQ("", robot.Finish());

    EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"SwitchUser(max,bad)", L"SwitchUser(max,max-pw)"));
    EXPECT_THAT(m_vecUserChanges, ElementsAre(L"max"));
    EXPECT_TRUE(m_bHostEnabledInCallback);
    EXPECT_EQ("enabled", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_START));
    EXPECT_EQ("enabled", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_HOLD));
    EXPECT_EQ("enabled", CommandState(m_hFrame, ID_XTRM_DEMO_FILE_EXIT));

    // And back to olga: her limits return on a freshly loaded menu.
    m_service.vecCalls.clear();
    XTRmUiRobot back;
    back.Expect("XTRmLockDlg", [&](XTRmDialogDriver& d) {
        ExpectLockedHost(d, L"max");
        d.SetText(IDC_XTRM_LOCK_USER, L"olga");
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"olga-pw");
        d.PressOK();
    });
    EXPECT_TRUE(XTRmRestrictionManager::LockNow());
    EXPECT_EQ("", back.Finish());
    EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"SwitchUser(olga,olga-pw)"));
    EXPECT_THAT(m_vecUserChanges, ElementsAre(L"max", L"olga"));
    EXPECT_EQ("absent", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_START));
    EXPECT_EQ("greyed", CommandState(m_hFrame, ID_XTRM_DEMO_BATCH_HOLD));
}

TEST_F(XTRmInactivityLockTest, LockedAccountOffersSwitchUserOnly)
{
    ASSERT_TRUE(EnableLock(5));
    m_service.queSessionResults = {Rms::ERmsLoginUserLocked, Rms::ERmsLoginOk};
    XTRmUiRobot robot;
    robot.Expect("XTRmLockDlg", [&](XTRmDialogDriver& d) {
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"guess");
        d.PressOK();
        EXPECT_THAT(BoxTexts(), ElementsAre(Txts::GetString(IDS_XTRM_LOGIN_USER_LOCKED)));
        EXPECT_EQ(Formatted(IDS_XTRM_LOCK_ACCOUNT_LOCKED, L"olga"), d.GetText(IDC_XTRM_LOCK_TEXT));
        EXPECT_EQ(L"", d.GetText(IDC_XTRM_LOCK_USER));
        d.SetText(IDC_XTRM_LOCK_USER, L"olga");
        d.Type(IDC_XTRM_LOCK_PASSWORD, L"again");
        EXPECT_FALSE(d.IsEnabled(IDOK));
        ::SendMessageW(d.GetHwnd(), WM_COMMAND, IDOK, 0); // Enter: must not reach the service
        d.SetText(IDC_XTRM_LOCK_USER, L"max");
        EXPECT_TRUE(d.IsEnabled(IDOK));
        d.SetText(IDC_XTRM_LOCK_PASSWORD, L"max-pw");
        d.PressOK();
    });
    Minutes(6);
    EXPECT_TRUE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_EQ("", robot.Finish());
    EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"UnlockSession(guess)", L"SwitchUser(max,max-pw)"));
    EXPECT_THAT(m_vecUserChanges, ElementsAre(L"max"));
}

TEST_F(XTRmInactivityLockTest, NothingLocksWhenTheLockCannotOpenOrWasDisabled)
{
    XTRmUiRobot robot; // no steps: any dialog fails the test

    // A guest (or nobody) cannot be locked out: the service says so.
    ASSERT_TRUE(EnableLock(5));
    m_service.bLockable = false;
    Minutes(10);
    EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_FALSE(XTRmRestrictionManager::LockNow());
    EXPECT_THAT(SessionCalls(), ElementsAre(L"LockSession()", L"LockSession()"));

    // Disabled: the limit passes unnoticed.
    m_service.bLockable = true;
    m_service.vecCalls.clear();
    XTRmRestrictionManager::DisableInactivityLock();
    Minutes(10);
    EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_FALSE(EnableLock(0));
    Minutes(10);
    EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_THAT(SessionCalls(), IsEmpty());

    // A service without the session interface: nothing to enable or lock.
    XTRmsScriptedService plain;
    XTRmRestrictionManager::SetRestrictionManagerService(&plain);
    EXPECT_FALSE(EnableLock(5));
    Minutes(10);
    EXPECT_FALSE(XTRmRestrictionManager::CheckInactivity());
    EXPECT_FALSE(XTRmRestrictionManager::LockNow());
    EXPECT_EQ("", robot.Finish());
    EXPECT_TRUE(::IsWindowEnabled(m_hFrame));
}
