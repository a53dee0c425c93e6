// The settings display dialog and the façade's guards.
#include "XTRmAdminTestFixture.h"

TEST_F(XTRmAdminTest, SettingsTextReachesTheControlUnchangedInAFixedPitchFont)
{
    for (const std::wstring& strSettings : {std::wstring(),
             std::wstring(L"Source:\tC:\\rights\\db\r\nServer:\tlocalhost:7400\r\n\r\n  Users: 3 \u00e4\u00df\u20ac"),
             std::wstring(L"Source: /srv/rights.db\nServer: rights.plant:7400\n\nUsers: 3\n")})
    {
        m_svc.strSettings = strSettings;
        XTRmUiRobot robot;
        robot.Expect("CDialog", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(strSettings, d.GetText(IDC_XTRM_SETTINGS_TEXT));
            LOGFONTW font{};
            ::GetObjectW(
                reinterpret_cast<HFONT>(::SendDlgItemMessageW(d.GetHwnd(), IDC_XTRM_SETTINGS_TEXT, WM_GETFONT, 0, 0)),
                sizeof(font), &font);
            EXPECT_STREQ(L"Courier", font.lfFaceName);
            const LONG expected[] = {8, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
                CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0};
            const LONG actual[] = {font.lfHeight, font.lfWidth, font.lfEscapement, font.lfOrientation, font.lfWeight,
                font.lfItalic, font.lfUnderline, font.lfStrikeOut, font.lfCharSet, font.lfOutPrecision,
                font.lfClipPrecision, font.lfQuality, font.lfPitchAndFamily};
            for (size_t i = 0; i < std::size(expected); ++i)
                EXPECT_EQ(expected[i], actual[i]) << "LOGFONT field " << i;
            d.PressOK();
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
        robot.Expect("CDialog", [&](XTRmDialogDriver& d) {
            hSettings = d.GetHwnd();
            EXPECT_EQ(mainWnd.m_hWnd, ::GetWindow(hSettings, GW_OWNER));
            d.Click(IDC_XTRM_OPEN_USER_MANAGEMENT);
            EXPECT_TRUE(::IsWindowEnabled(hSettings));
            EXPECT_TRUE(d.IsVisible(IDC_XTRM_SETTINGS_TEXT));
            d.PressOK();
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
