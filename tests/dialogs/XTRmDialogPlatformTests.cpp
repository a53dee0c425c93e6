// The dialog platform and the robot on a dialog of the tests' own: modal
// loop, data exchange both ways, MFC's parse-failure message, the ways out of
// a dialog, the disabled owner and the watchdog.
#include "XTRmDialogTestIds.h"
#include "XTRmTestApp.h"
#include "XTRmUiRobot.h"

#include "XTGuiLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::ElementsAre;

class XTRmTestPlatformDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmTestPlatformDlg)
public:
    explicit XTRmTestPlatformDlg(CWnd* pParent = nullptr) : CDialog(IDD_TEST_PLATFORM, pParent) {}

    int m_nNumber = 7;
    std::wstring m_strName = L"al";
    int m_nRadio = 1;
    int m_nCheck = 0;
    CListBox m_lstItems;
    std::vector<std::wstring> m_vecEvents;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, IDC_TEST_NUMBER, m_nNumber);
        Gui::DDX_Text(pDX, IDC_TEST_NAME, m_strName);
        DDX_Radio(pDX, IDC_TEST_RADIO_A, m_nRadio);
        DDX_Check(pDX, IDC_TEST_CHECK, m_nCheck);
        DDX_Control(pDX, IDC_TEST_LIST, m_lstItems);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_lstItems.AddString(L"one");
        m_lstItems.AddString(L"two");
        return TRUE;
    }
    afx_msg void OnNameChange()
    {
        m_vecEvents.push_back(L"name " + std::to_wstring(GetDlgItem(IDC_TEST_NAME)->GetWindowTextLength()));
    }
    afx_msg void OnRadio(UINT nID) { m_vecEvents.push_back(L"radio " + std::to_wstring(nID - IDC_TEST_RADIO_A)); }
    afx_msg void OnListSelChange() { m_vecEvents.push_back(L"row " + std::to_wstring(m_lstItems.GetCurSel())); }

    DECLARE_MESSAGE_MAP()
};

IMPLEMENT_DYNAMIC(XTRmTestPlatformDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmTestPlatformDlg, CDialog)
    ON_EN_CHANGE(IDC_TEST_NAME, &XTRmTestPlatformDlg::OnNameChange)
    ON_CONTROL_RANGE(BN_CLICKED, IDC_TEST_RADIO_A, IDC_TEST_RADIO_C, &XTRmTestPlatformDlg::OnRadio)
    ON_LBN_SELCHANGE(IDC_TEST_LIST, &XTRmTestPlatformDlg::OnListSelChange)
END_MESSAGE_MAP()

TEST(XTRmDialogPlatform, ExchangesMembersBothWaysAndDispatchesOnlyTheUsersNotifications)
{
    XTRmTestPlatformDlg dlg;
    XTRmUiRobot robot;
    robot.Expect("XTRmTestPlatformDlg", [&](XTRmDialogDriver& d) {
        EXPECT_EQ(L"7", d.GetText(IDC_TEST_NUMBER));
        EXPECT_EQ(L"al", d.GetText(IDC_TEST_NAME));
        EXPECT_TRUE(d.IsChecked(IDC_TEST_RADIO_B));
        EXPECT_EQ(&dlg.m_lstItems, CWnd::FromHandlePermanent(::GetDlgItem(d.GetHwnd(), IDC_TEST_LIST)));
        EXPECT_EQ(IDC_TEST_NUMBER, d.GetFocusId()); // first tab stop
        d.SetText(IDC_TEST_NUMBER, L" -42 ");
        d.Type(IDC_TEST_NAME, L"ex");
        d.Click(IDC_TEST_RADIO_C);
        d.Click(IDC_TEST_CHECK);
        d.SelectRow(IDC_TEST_LIST, 1);
        d.PressOK();
    });

    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ("", robot.Finish());
    EXPECT_EQ(-42, dlg.m_nNumber);
    EXPECT_EQ(L"alex", dlg.m_strName);
    EXPECT_EQ(2, dlg.m_nRadio);
    EXPECT_EQ(1, dlg.m_nCheck);
    // Nothing from the exchange in OnInitDialog; one change per typed character.
    EXPECT_THAT(dlg.m_vecEvents, ElementsAre(L"name 3", L"name 4", L"radio 2", L"row 1"));
    EXPECT_EQ(nullptr, dlg.m_lstItems.m_hWnd);
}

TEST(XTRmDialogPlatform, NonNumberShowsMfcsMessageAndKeepsTheDialogOpenWithFocusOnTheField)
{
    TestApp().m_bShowRealMessageBoxes = true;
    XTRmTestPlatformDlg dlg;
    XTRmUiRobot robot;
    robot.Expect("XTRmTestPlatformDlg", [](XTRmDialogDriver& d) {
        d.SetText(IDC_TEST_NUMBER, L"12a");
        d.PressOK(); // the message box below is met inside this click
        EXPECT_TRUE(d.IsVisible(IDOK));
        EXPECT_EQ(IDC_TEST_NUMBER, d.GetFocusId());
        d.SetText(IDC_TEST_NUMBER, L"12");
        d.PressOK();
    });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        EXPECT_EQ(L"Please enter an integer.", box.GetMessageText());
        EXPECT_EQ((UINT)MB_ICONEXCLAMATION, box.GetMessageIcon());
        box.PressOK();
    });

    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ("", robot.Finish());
    EXPECT_EQ(12, dlg.m_nNumber);
    ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
    EXPECT_EQ((UINT)MB_OK, TestApp().m_vecMessageBoxes[0].nType);
    EXPECT_EQ((UINT)AFX_IDP_PARSE_INT, TestApp().m_vecMessageBoxes[0].nIDHelp);
}

TEST(XTRmDialogPlatform, CancelEscapeAndCloseBoxEndWithCancelAndStoreNothing)
{
    const std::function<void(XTRmDialogDriver&)> ways[] = {
        [](XTRmDialogDriver& d) { d.PressCancel(); },
        [](XTRmDialogDriver& d) { d.PressEscape(); },
        [](XTRmDialogDriver& d) { d.PressCloseBox(); },
    };
    for (const auto& way : ways)
    {
        XTRmTestPlatformDlg dlg;
        XTRmUiRobot robot;
        robot.Expect("XTRmTestPlatformDlg", [&](XTRmDialogDriver& d) {
            d.SetText(IDC_TEST_NUMBER, L"99");
            way(d);
        });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(7, dlg.m_nNumber);
    }
}

TEST(XTRmDialogPlatform, OwnerIsDisabledWhileTheDialogRuns)
{
    CWnd owner;
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"Owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr));
    owner.ShowWindow(SW_SHOW);
    XTRmTestPlatformDlg dlg(&owner);
    XTRmUiRobot robot;
    robot.Expect("XTRmTestPlatformDlg", [&](XTRmDialogDriver& d) {
        EXPECT_FALSE(owner.IsWindowEnabled());
        EXPECT_EQ(owner.m_hWnd, ::GetWindow(d.GetHwnd(), GW_OWNER));
        d.PressOK();
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ("", robot.Finish());
    EXPECT_TRUE(owner.IsWindowEnabled());
    owner.DestroyWindow();
}

TEST(XTRmDialogPlatform, WatchdogClosesWhatTheScriptDoesNotOwnAndFailsTheScript)
{
    {
        XTRmTestPlatformDlg dlg;
        XTRmUiRobot robot;
        robot.ExpectMessageBox([](XTRmDialogDriver& box) { box.PressOK(); });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
        std::string strReport = robot.Finish();
        EXPECT_THAT(strReport, testing::HasSubstr("unexpected dialog XTRmTestPlatformDlg \"Platform test\""));
        EXPECT_THAT(strReport, testing::HasSubstr("step 1 never ran"));
    }
    {
        XTRmTestPlatformDlg dlg;
        XTRmUiRobot robot;
        robot.SetLeftOpenTimeout(200);
        robot.Expect("XTRmTestPlatformDlg", [](XTRmDialogDriver& d) {
            d.Click(IDC_TEST_MISSING);
            d.Click(IDC_TEST_CHECK);
        });
        EXPECT_EQ(IDCANCEL, dlg.DoModal());
        std::string strReport = robot.Finish();
        EXPECT_THAT(strReport, testing::HasSubstr("Click 9199: no such control"));
        EXPECT_THAT(strReport, testing::HasSubstr("left open by its step; closed by the watchdog"));
    }
}
