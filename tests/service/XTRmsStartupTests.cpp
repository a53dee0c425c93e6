// XTRm's start-up with the real rights service: the façade, real dialogs
// driven by the robot, and what lands in the store.
#include "XTRmRestrictionManager.h"
#include "XTRmResourceIds.h"
#include "XTRmTestApp.h"
#include "XTRmUiRobot.h"
#include "XTRmsTestStores.h"
#include "XTTxtsTextService.h"

#include <gtest/gtest.h>

namespace
{
const char kLogin[] = "XTRmNGUserLoginDlg";

XTRmUiRobot::Step TypeLogin(const wchar_t* pszUser, const wchar_t* pszPassword)
{
    return [pszUser, pszPassword](XTRmDialogDriver& dlg) {
        dlg.SetText(IDC_XTRM_NG_USER_NAME, pszUser);
        dlg.SetText(IDC_XTRM_NG_PASSWORD, pszPassword);
        dlg.PressOK();
    };
}

XTRmUiRobot::Step Refusal(UINT nTextId)
{
    return [nTextId](XTRmDialogDriver& box) {
        EXPECT_EQ(Txts::GetString(nTextId), box.GetMessageText());
        box.PressOK();
    };
}

class XTRmsStartupTest : public testing::Test
{
protected:
    void SetUp() override
    {
        TestApp().m_bShowRealMessageBoxes = true;
        m_config = XTRmsTestConfig(XTRmsEngine::Sqlite, XTRmsTestServer(), XTRmsNewDatabaseFile());
        XTRmsService provisioner(m_config);
        ASSERT_TRUE(provisioner.OpenStore(XTRmsEngine::Sqlite, true, nullptr));
        ASSERT_EQ(
            provisioner.AddUser(L"alice", L"Alice", Rms::RmsUserRole(1), L"blue-harbour-7", nullptr), Rms::RmsSuccess);
    }
    void TearDown() override
    {
        XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        TestApp().Reset();
    }

    Rms::RmsInitResult Run(XTRmsService& service, unsigned int nSourceFlags)
    {
        XTRmRestrictionManager::SetRestrictionManagerService(&service);
        Rms::ClientSettings settings;
        settings.nSourceFlags = nSourceFlags;
        Rms::RmsResult nServiceResult = Rms::RmsFailure;
        return XTRmRestrictionManager::InitializeRestrictions(
            Rms::RmsApplicationStandard, Rms::ClientPaths(), settings, XTRmNoProgress, &nServiceResult);
    }

    XTRmsServiceConfig m_config;
    XTRmUiRobot m_robot;
};

TEST_F(XTRmsStartupTest, WrongPasswordIsReportedThenTheRightOneLogsIn)
{
    XTRmsService service(m_config);
    m_robot.Expect(kLogin, TypeLogin(L"alice", L"not-her-password"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_WRONG_PASSWORD))
        .Expect(kLogin, TypeLogin(L"mallory", L"blue-harbour-7"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_WRONG_PASSWORD))
        .Expect(kLogin, TypeLogin(L"alice", L"blue-harbour-7"));
    EXPECT_EQ(Run(service, 0), Rms::RmsInitReady);
    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(service.GetLoggedInUserName(), L"alice");
    EXPECT_TRUE(service.GetIsAllowed(2));
    EXPECT_FALSE(service.GetIsAllowed(3));
    XTRmsService reader(m_config);
    ASSERT_TRUE(reader.OpenStore(XTRmsEngine::Sqlite, false, nullptr));
    std::vector<XTRmsAuditEntry> vecAudit = reader.GetAuditTrail(3);
    ASSERT_EQ(vecAudit.size(), 3u);
    EXPECT_EQ(vecAudit[0].strEvent + vecAudit[1].strEvent + vecAudit[2].strEvent, L"login-refusedlogin-refusedlogin");
}

TEST_F(XTRmsStartupTest, ThirdFailureLocksAndTheLockIsReported)
{
    XTRmsService service(m_config);
    m_robot.Expect(kLogin, TypeLogin(L"alice", L"guess-1"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_WRONG_PASSWORD))
        .Expect(kLogin, TypeLogin(L"alice", L"guess-2"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_WRONG_PASSWORD))
        .Expect(kLogin, TypeLogin(L"alice", L"guess-3"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_USER_LOCKED))
        .Expect(kLogin, TypeLogin(L"alice", L"blue-harbour-7"))
        .ExpectMessageBox(Refusal(IDS_XTRM_LOGIN_USER_LOCKED))
        .Expect(kLogin, [](XTRmDialogDriver& dlg) { dlg.PressCancel(); });
    EXPECT_EQ(Run(service, 0), Rms::RmsInitCancelled);
    EXPECT_EQ("", m_robot.Finish());
    EXPECT_FALSE(service.GetIsAllowed(1));
}

TEST_F(XTRmsStartupTest, MissingLocalFileOffersTheRightsServer)
{
    XTRmsTestServer server;
    if (!XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Postgres, server, XTRmsNewDatabaseFile());
    config.bCreateDatabase = false;
    ASSERT_TRUE(XTRmsEmptyServerDatabase(config, server));
    {
        XTRmsService provisioner(XTRmsAdminConfig(config, server));
        ASSERT_TRUE(provisioner.OpenStore(XTRmsEngine::Postgres, true, nullptr));
        ASSERT_EQ(provisioner.AddUser(L"bob", L"", Rms::RmsUserRole(2), L"river-stone-3", nullptr), Rms::RmsSuccess);
    }
    // The stored setting names a port nobody listens on; the user corrects it.
    config.serverSetting.SetPortNum(server.nPort == 65535 ? 65534 : server.nPort + 1);
    XTRmsService service(config);
    std::wstring strPort = std::to_wstring(server.nPort);
    m_robot
        .Expect("XTRmRestrictionSourceSelectorDlg",
            [](XTRmDialogDriver& dlg) {
                dlg.Click(IDC_XTRM_SOURCE_SERVER);
                dlg.PressOK();
            })
        .Expect("XTRmConnectionSettingsDlg",
            [strPort](XTRmDialogDriver& dlg) {
                EXPECT_EQ(L"127.0.0.1", dlg.GetText(IDC_XTRM_SERVER_HOST));
                dlg.SetText(IDC_XTRM_SERVER_PORT, strPort);
                dlg.PressOK();
            })
        .Expect(kLogin, TypeLogin(L"bob", L"river-stone-3"));
    EXPECT_EQ(Run(service, Rms::RmsSourceFlagServer), Rms::RmsInitReadyThroughServer);
    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(service.GetServerSetting().GetPortNum(), server.nPort);
    EXPECT_EQ(service.GetLoggedInUserName(), L"bob");
    EXPECT_TRUE(service.GetIsAllowed(4));
}
} // namespace
