// The settings display dialog and the façade's guards.
#include "XTRmAdminTestFixture.h"

namespace
{
// The metrics of a control's font, as the control draws with it.
TEXTMETRICW ControlFontMetrics(HWND hControl, SIZE* pNarrow = nullptr, SIZE* pWide = nullptr)
{
    TEXTMETRICW metrics{};
    const HDC hDC = ::GetDC(hControl);
    const HGDIOBJ hOld = ::SelectObject(hDC, reinterpret_cast<HFONT>(::SendMessageW(hControl, WM_GETFONT, 0, 0)));
    ::GetTextMetricsW(hDC, &metrics);
    if (pNarrow != nullptr && pWide != nullptr)
    {
        ::GetTextExtentPoint32W(hDC, L"iiiiiiii", 8, pNarrow);
        ::GetTextExtentPoint32W(hDC, L"WWWWWWWW", 8, pWide);
    }
    ::SelectObject(hDC, hOld);
    ::ReleaseDC(hControl, hDC);
    return metrics;
}
} // namespace

TEST_F(XTRmAdminTest, SettingsTextReachesTheControlUnchangedInAReadableFixedPitchFont)
{
    struct Case
    {
        std::wstring strSettings;
        CloseWay way;
    };
    const Case cases[] = {
        {std::wstring(), CloseWay::Button},
        {L"Source:\tC:\\rights\\db\r\nServer:\tlocalhost:7400\r\n\r\n  Users: 3 \u00e4\u00df\u20ac", CloseWay::Escape},
        {L"Source: /srv/rights.db\nServer: rights.plant:7400\n\nUsers: 3\n", CloseWay::CloseBox},
    };
    for (const Case& c : cases)
    {
        m_svc.strSettings = c.strSettings;
        XTRmUiRobot robot;
        robot.Expect("XTRmShowSettingsDlg", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(c.strSettings, d.GetText(IDC_XTRM_SETTINGS_TEXT));
            // The service pads its columns with spaces: they line up only
            // when every character is as wide as any other.
            SIZE sizeNarrow{}, sizeWide{};
            const TEXTMETRICW text = ControlFontMetrics(
                ::GetDlgItem(d.GetHwnd(), IDC_XTRM_SETTINGS_TEXT), &sizeNarrow, &sizeWide);
            EXPECT_EQ(0, text.tmPitchAndFamily & TMPF_FIXED_PITCH) << "a clear bit means fixed pitch";
            EXPECT_EQ(sizeWide.cx, sizeNarrow.cx);
            // Small, but no smaller than the dialog's own text.
            const TEXTMETRICW dialog = ControlFontMetrics(::GetDlgItem(d.GetHwnd(), IDCANCEL));
            EXPECT_GE(text.tmHeight - text.tmInternalLeading, dialog.tmHeight - dialog.tmInternalLeading);
            EXPECT_LE(text.tmHeight, 2 * dialog.tmHeight);
            CloseDialog(d, c.way);
        });
        XTRmRestrictionManager::ShowSettingsDlg(nullptr);
        EXPECT_EQ("", robot.Finish());
    }
}

TEST_F(XTRmAdminTest, SettingsButtonOpensUserManagementForViewingAndReturns)
{
    DefinedUsers({{L"ann", L""}});
    // Opened without a parent, the user management dialog is owned as MFC
    // owns any such dialog: by the main window's last active popup, which in
    // a host with a main window is the settings dialog (then disabled
    // underneath it), and by nobody in a host without one.
    for (bool bMainWindow : {false, true})
    {
        SCOPED_TRACE(bMainWindow ? "host with a main window" : "host without a main window");
        CWnd mainWnd;
        if (bMainWindow)
        {
            ASSERT_TRUE(
                mainWnd.CreateEx(0, nullptr, L"Plant Control", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr));
            mainWnd.ShowWindow(SW_SHOW);
            TestApp().m_pMainWnd = &mainWnd;
        }
        XTRmUiRobot robot;
        HWND hSettings = nullptr;
        robot.Expect("XTRmShowSettingsDlg", [&](XTRmDialogDriver& d) {
            hSettings = d.GetHwnd();
            EXPECT_EQ(mainWnd.m_hWnd, ::GetWindow(hSettings, GW_OWNER));
            d.Click(IDC_XTRM_OPEN_USER_MANAGEMENT);
            EXPECT_TRUE(::IsWindowEnabled(hSettings));
            EXPECT_TRUE(d.IsVisible(IDC_XTRM_SETTINGS_TEXT));
            d.PressCancel();
        });
        robot.Expect("XTRmUserManagementDlg", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(Txts::GetString(IDS_XTRM_MODE_VIEW_ONLY), d.GetText(IDC_XTRM_MODE_TEXT));
            EXPECT_FALSE(d.IsEnabled(IDC_XTRM_ADD_USER));
            EXPECT_EQ(bMainWindow ? hSettings : nullptr, ::GetWindow(d.GetHwnd(), GW_OWNER));
            EXPECT_EQ(!bMainWindow, ::IsWindowEnabled(hSettings) != FALSE);
            d.PressCancel();
        });
        XTRmRestrictionManager::ShowSettingsDlg(nullptr);
        EXPECT_EQ("", robot.Finish());
        TestApp().m_pMainWnd = nullptr;
        if (bMainWindow)
            mainWnd.DestroyWindow();
    }
}

TEST_F(XTRmAdminTest, WithoutAServiceTheFacadeShowsNothing)
{
    XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
    XTRmUiRobot robot; // any dialog would fail the script
    XTRmRestrictionManager::ShowSettingsDlg(nullptr);
    XTRmRestrictionManager::ShowUserManagementDlg(true, false, nullptr);
    EXPECT_EQ("", robot.Finish());
    EXPECT_TRUE(m_svc.vecCalls.empty());
}
