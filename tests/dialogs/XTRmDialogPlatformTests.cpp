// The dialog platform and the robot on a dialog of the tests' own: modal
// loop, data exchange both ways, MFC's parse-failure message, the ways out of
// a dialog, the disabled owner and the watchdog; and the places where the MFC
// subset must refuse what real MFC refuses.
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

    // Which member the number field exchanges.
    enum NumberKind
    {
        Signed,
        Unsigned,
        UnsignedLong
    };
    NumberKind m_nNumberKind = Signed;
    int m_nNumber = 7;
    UINT m_nCount = 3;
    DWORD m_dwSize = 3;
    std::wstring m_strName = L"al";
    int m_nRadio = 1;
    int m_nCheck = 0;
    CListBox m_lstItems;
    std::vector<std::wstring> m_vecEvents;
    // Binds a control that the template lacks.
    bool m_bBindMissingControl = false;
    CButton m_btnMissing;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        if (m_nNumberKind == Unsigned)
            DDX_Text(pDX, IDC_TEST_NUMBER, m_nCount);
        else if (m_nNumberKind == UnsignedLong)
            DDX_Text(pDX, IDC_TEST_NUMBER, m_dwSize);
        else
            DDX_Text(pDX, IDC_TEST_NUMBER, m_nNumber);
        Gui::DDX_Text(pDX, IDC_TEST_NAME, m_strName);
        DDX_Radio(pDX, IDC_TEST_RADIO_A, m_nRadio);
        DDX_Check(pDX, IDC_TEST_CHECK, m_nCheck);
        DDX_Control(pDX, IDC_TEST_LIST, m_lstItems);
        if (m_bBindMissingControl)
            DDX_Control(pDX, IDC_TEST_MISSING, m_btnMissing);
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

// UINT and DWORD fields take what MFC takes: a negative number is refused with
// MFC's message, the dialog stays open with the field focused, the member
// keeps its value; a number beyond INT_MAX is a valid one.
TEST(XTRmDialogPlatform, UnsignedFieldRefusesNegativeNumbersWithMfcsMessageAndTakesLargeOnes)
{
    struct Case
    {
        XTRmTestPlatformDlg::NumberKind nKind;
        const wchar_t* pszTyped;
        bool bAccepted;
        unsigned long long nStored;
    } cases[] = {
        {XTRmTestPlatformDlg::Unsigned, L"-1", false, 3},
        {XTRmTestPlatformDlg::UnsignedLong, L"-1", false, 3},
        {XTRmTestPlatformDlg::Unsigned, L" -7 ", false, 3},
        {XTRmTestPlatformDlg::Unsigned, L"4000000000", true, 4000000000ull},
        {XTRmTestPlatformDlg::UnsignedLong, L" 42 ", true, 42},
    };
    TestApp().m_bShowRealMessageBoxes = true;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << (c.nKind == XTRmTestPlatformDlg::Unsigned ? "UINT" : "DWORD") << " '"
                                        << std::string(c.pszTyped, c.pszTyped + wcslen(c.pszTyped)) << "'");
        TestApp().m_vecMessageBoxes.clear();
        XTRmTestPlatformDlg dlg;
        dlg.m_nNumberKind = c.nKind;
        XTRmUiRobot robot;
        robot.Expect("XTRmTestPlatformDlg", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(L"3", d.GetText(IDC_TEST_NUMBER));
            d.SetText(IDC_TEST_NUMBER, c.pszTyped);
            d.PressOK(); // a refusal's message box is met inside this click
            if (c.bAccepted)
                return;
            EXPECT_TRUE(d.IsVisible(IDOK));
            EXPECT_EQ(IDC_TEST_NUMBER, d.GetFocusId());
            EXPECT_EQ(c.pszTyped, d.GetText(IDC_TEST_NUMBER));
            d.PressCancel();
        });
        if (!c.bAccepted)
        {
            robot.ExpectMessageBox([](XTRmDialogDriver& box) {
                EXPECT_EQ(L"Please enter a positive integer.", box.GetMessageText());
                EXPECT_EQ((UINT)MB_ICONEXCLAMATION, box.GetMessageIcon());
                box.PressOK();
            });
        }

        EXPECT_EQ(c.bAccepted ? IDOK : IDCANCEL, dlg.DoModal());
        EXPECT_EQ("", robot.Finish());
        const unsigned long long nStored = c.nKind == XTRmTestPlatformDlg::Unsigned
            ? dlg.m_nCount
            : static_cast<unsigned long long>(dlg.m_dwSize);
        EXPECT_EQ(c.nStored, nStored);
        if (!c.bAccepted)
        {
            ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
            EXPECT_EQ((UINT)AFX_IDP_PARSE_UINT, TestApp().m_vecMessageBoxes[0].nIDHelp);
        }
        else
        {
            EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
        }
    }
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

// ---------------------------------------------------------------------------
// What real MFC refuses or corrects, the subset must too: code that works here
// would otherwise fail on Windows.

// MFC: DDX_Control of a control that the template lacks throws
// CNotSupportedException (CDataExchange::PrepareCtrl); UpdateData reports it,
// and CDialog::OnInitDialog ends the dialog with -1 before it shows.
TEST(XTRmMfcRules, ControlMissingFromTheTemplateKeepsTheDialogFromOpening)
{
    XTRmTestPlatformDlg dlg;
    dlg.m_bBindMissingControl = true;
    XTRmUiRobot robot; // any dialog that showed would fail the script

    EXPECT_EQ(-1, dlg.DoModal());

    EXPECT_EQ("", robot.Finish());
    ASSERT_EQ(1u, TestApp().m_vecMessageBoxes.size());
    EXPECT_EQ(L"An unsupported operation was attempted.", TestApp().m_vecMessageBoxes[0].strText);
    EXPECT_EQ((UINT)MB_ICONEXCLAMATION, TestApp().m_vecMessageBoxes[0].nType);
    EXPECT_EQ(nullptr, dlg.m_btnMissing.m_hWnd);
}

// MFC: CCmdUI's Enable, SetCheck and SetText ENSURE that the command shows
// somewhere, as a menu item below the menu's count or as another control;
// otherwise they throw CInvalidArgException instead of doing nothing.
TEST(XTRmMfcRules, CommandUpdateThatShowsNowhereIsAnInvalidArgument)
{
    CMenu menu;
    ASSERT_TRUE(menu.CreatePopupMenu());
    menu.AppendMenu(MF_STRING, 100, L"&Print");
    struct Row
    {
        const char* pszName;
        CMenu* pMenu;
        UINT nIndex;
        bool bThrows;
    };
    const Row rows[] = {
        {"neither menu nor control", nullptr, 0, true},
        {"menu index past the items", &menu, 1, true},
        {"menu item", &menu, 0, false},
    };
    const std::function<void(CCmdUI&)> calls[] = {
        [](CCmdUI& ui) { ui.Enable(FALSE); },
        [](CCmdUI& ui) { ui.SetCheck(1); },
        [](CCmdUI& ui) { ui.SetText(L"&Print"); },
    };
    for (const Row& row : rows)
    {
        for (size_t i = 0; i < std::size(calls); ++i)
        {
            CCmdUI ui;
            ui.m_nID = 100;
            ui.m_pMenu = row.pMenu;
            ui.m_nIndex = row.nIndex;
            ui.m_nIndexMax = row.pMenu != nullptr ? row.pMenu->GetMenuItemCount() : 0;
            bool bThrown = false;
            try
            {
                calls[i](ui);
            }
            catch (CInvalidArgException* e)
            {
                bThrown = true;
                e->Delete();
            }
            EXPECT_EQ(row.bThrows, bThrown) << row.pszName << ", call " << i;
        }
    }
    EXPECT_EQ((UINT)(MF_GRAYED | MF_DISABLED | MF_CHECKED), menu.GetMenuState(0, MF_BYPOSITION));
}

// MFC: CWnd::ScreenToClient and ClientToScreen of a rectangle swap left and
// right for a mirrored (WS_EX_LAYOUTRTL) window, whose client x runs from the
// right, so that the rectangle comes back in order, fit for MoveWindow.
TEST(XTRmMfcRules, RectanglesOfMirroredWindowsComeBackInOrder)
{
    for (DWORD dwExStyle : {0ul, (DWORD)WS_EX_LAYOUTRTL})
    {
        CWnd parent;
        ASSERT_TRUE(parent.CreateEx(
            dwExStyle, nullptr, L"Mirrored", WS_OVERLAPPEDWINDOW, 100, 100, 300, 200, nullptr, nullptr));
        HWND hChild = ::CreateWindowExW(
            0, L"Static", L"", WS_CHILD | WS_VISIBLE, 10, 20, 40, 30, parent.m_hWnd, nullptr, nullptr, nullptr);
        CRect rcScreen;
        ::GetWindowRect(hChild, &rcScreen);

        CRect rc = rcScreen;
        parent.ScreenToClient(&rc);
        EXPECT_EQ(CRect(10, 20, 50, 50), rc) << "ex style " << dwExStyle;
        parent.ClientToScreen(&rc);
        EXPECT_EQ(rcScreen, rc) << "ex style " << dwExStyle;
        parent.DestroyWindow();
    }
}
