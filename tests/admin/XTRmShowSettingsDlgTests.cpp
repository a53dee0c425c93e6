// The settings display dialog and the façade's guards.
#include "XTRmAdminTestFixture.h"

TEST_F(XTRmAdminTest, SettingsTextReachesTheControlUnchangedInAFixedPitchFont)
{
    for (const std::wstring& strSettings : {std::wstring(),
             std::wstring(L"Source:\tC:\\rights\\db\r\nServer:\tlocalhost:7400\r\n\r\n  Users: 3 \u00e4\u00df\u20ac")})
    {
        m_svc.strSettings = strSettings;
        XTRmUiRobot robot;
        robot.Expect("CDialog", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(strSettings, d.GetText(IDC_XTRM_SETTINGS_TEXT));
            LOGFONTW font{};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendDlgItemMessageW(d.GetHwnd(), IDC_XTRM_SETTINGS_TEXT,
                             WM_GETFONT, 0, 0)), sizeof(font), &font);
            EXPECT_STREQ(L"Courier", font.lfFaceName);
            const LONG expected[] = {8, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                OUT_CHARACTER_PRECIS, CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, 0};
            const LONG actual[] = {font.lfHeight, font.lfWidth, font.lfEscapement, font.lfOrientation,
                font.lfWeight, font.lfItalic, font.lfUnderline, font.lfStrikeOut, font.lfCharSet,
                font.lfOutPrecision, font.lfClipPrecision, font.lfQuality, font.lfPitchAndFamily};
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
    XTRmUiRobot robot;
    HWND hSettings = nullptr;
    robot.Expect("CDialog", [&](XTRmDialogDriver& d) {
        hSettings = d.GetHwnd();
        d.Click(IDC_XTRM_OPEN_USER_MANAGEMENT);
        EXPECT_TRUE(d.IsVisible(IDC_XTRM_SETTINGS_TEXT));
        d.PressOK();
    });
    robot.Expect("XTRmUserManagementDlg", [&](XTRmDialogDriver& d) {
        EXPECT_EQ(Txts::GetString(IDS_XTRM_MODE_VIEW_ONLY), d.GetText(IDC_XTRM_MODE_TEXT));
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_ADD_USER));
        // Opened without a parent: the settings dialog neither owns it nor is
        // disabled underneath it.
        EXPECT_NE(hSettings, ::GetWindow(d.GetHwnd(), GW_OWNER));
        EXPECT_TRUE(::IsWindowEnabled(hSettings));
        d.PressCancel();
    });
    XTRmRestrictionManager::ShowSettingsDlg(nullptr);
    EXPECT_EQ("", robot.Finish());
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
