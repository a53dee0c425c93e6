// Start-up roads driven through real dialogs and message boxes: each row says
// what the rights service answers, what the user does in each dialog, and
// what the host and the service must see in the end.
#include "XTRmRestrictionManager.h"
#include "XTRmResourceIds.h"
#include "XTRmTestApp.h"
#include "XTRmUiRobot.h"
#include "XTRmsScriptedService.h"
#include "XTTxtsTextService.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The selector's choice is written directly by one test below.
#define private public
#include "XTRmRestrictionSourceSelectorDlg.h"
#undef private

namespace
{
const wchar_t kAppName[] = L"Plant Control";
const char kSelector[] = "XTRmRestrictionSourceSelectorDlg";
const char kSettings[] = "XTRmConnectionSettingsDlg";
const char kLogin[] = "XTRmNGUserLoginDlg";

// Distinct values everywhere, so that a swapped argument shows.
const Rms::RmsApplicationType kType = Rms::RmsApplicationService;
const Rms::ClientPaths kPaths = {L"p1", L"p2", L"p3", L"p4", L"p5"};
const wchar_t kSourceTest[] = L"TryConnectToRestrictionSource(2,p4,1,-5,99,p5)";
const wchar_t kServerTest[] = L"TryConnectToRestrictionSource(2,p4,16,-5,99,p5)";
const wchar_t kInitialize[] = L"Initialize(2,p1,p2,p3,p4,-5,99,p5)";
const Rms::RmsResult kUntouched = static_cast<Rms::RmsResult>(12345);

Rms::ClientSettings Settings(unsigned int nSourceFlags)
{
    Rms::ClientSettings settings;
    settings.nSourceFlags = nSourceFlags;
    settings.nServiceParam1 = -5;
    settings.nServiceParam2 = 99;
    return settings;
}

// What the user does in one dialog or message box.
struct Act
{
    std::string strDialog;
    XTRmUiRobot::Step fnStep;
};

Act Selector(bool bServer)
{
    return {kSelector, [bServer](XTRmDialogDriver& dlg) {
                EXPECT_EQ(kAppName, dlg.GetCaption());
                EXPECT_TRUE(dlg.IsChecked(IDC_XTRM_SOURCE_RETRY));
                if (bServer)
                    dlg.Click(IDC_XTRM_SOURCE_SERVER);
                dlg.PressOK();
            }};
}
const Act kRetry = Selector(false);
const Act kChooseServer = Selector(true);
const Act kRetryNoServerOffered = {kSelector, [](XTRmDialogDriver& dlg) {
                                       EXPECT_TRUE(dlg.IsVisible(IDC_XTRM_SOURCE_RETRY));
                                       EXPECT_FALSE(dlg.IsVisible(IDC_XTRM_SOURCE_SERVER));
                                       dlg.PressOK();
                                   }};
const Act kCancelSelector = {kSelector, [](XTRmDialogDriver& dlg) { dlg.PressCancel(); }};
const Act kCloseSelector = {kSelector, [](XTRmDialogDriver& dlg) { dlg.PressCloseBox(); }};

Act Confirm(const wchar_t* pszPort)
{
    return {kSettings, [pszPort](XTRmDialogDriver& dlg) {
                EXPECT_EQ(kAppName, dlg.GetCaption());
                dlg.SetText(IDC_XTRM_SERVER_PORT, pszPort);
                dlg.PressOK();
            }};
}
const Act kCancelSettings = {kSettings, [](XTRmDialogDriver& dlg) { dlg.PressCancel(); }};

Act Report(UINT nTextId)
{
    return {XTRmUiRobot::MessageBoxClass, [nTextId](XTRmDialogDriver& box) {
                EXPECT_EQ(Txts::GetString(nTextId), box.GetMessageText());
                EXPECT_EQ(static_cast<UINT>(MB_ICONHAND), box.GetMessageIcon());
                box.PressOK();
            }};
}

Act Login(bool bConfirm)
{
    return {kLogin, [bConfirm](XTRmDialogDriver& dlg) {
                EXPECT_EQ(L"", dlg.GetText(IDC_XTRM_NG_USER_NAME));
                EXPECT_EQ(L"", dlg.GetText(IDC_XTRM_NG_PASSWORD));
                dlg.SetText(IDC_XTRM_NG_USER_NAME, L"alice");
                dlg.SetText(IDC_XTRM_NG_PASSWORD, L"secret");
                bConfirm ? dlg.PressOK() : dlg.PressCancel();
            }};
}
const Act kLogIn = Login(true);
const Act kCancelLogin = Login(false);

// The service's calls in short: Src and Srv for the two kinds of connection
// test, whose arguments (like those of Initialize) are checked in full.
std::string ShortCalls(const XTRmsScriptedService& service)
{
    std::string strCalls;
    for (const std::wstring& strCall : service.vecCalls)
    {
        std::wstring strName = strCall.substr(0, strCall.find(L'('));
        std::string strShort;
        if (strName == L"TryConnectToRestrictionSource")
        {
            EXPECT_TRUE(strCall == kSourceTest || strCall == kServerTest) << "arguments: " << testing::PrintToString(strCall);
            strShort = strCall == kServerTest ? "Srv" : "Src";
        }
        else if (strName == L"Initialize")
        {
            EXPECT_EQ(kInitialize, strCall);
            strShort = "Init";
        }
        else if (strName == L"GetApplicationType")
            continue; // asked for the background picture of every dialog
        else if (strName == L"GetServerSetting")
            strShort = "Get";
        else if (strName == L"SetServerSetting")
            strShort = "Set" + std::string(strCall.begin() + strName.size(), strCall.end());
        else
            strShort = std::string(strName.begin(), strName.end());
        strCalls += (strCalls.empty() ? "" : " ") + strShort;
    }
    return strCalls;
}

class StartupTest : public testing::Test
{
protected:
    void SetUp() override
    {
        XTRmRestrictionManager::SetRestrictionManagerService(&m_service);
        XTRmRestrictionManager::SetApplicationName(kAppName);
        TestApp().m_bShowRealMessageBoxes = true;
        // '|' marks a dialog or message box opening, between the progress calls.
        m_robot.SetObserver([this](XTRmDialogDriver&) { m_strProgress += '|'; });
    }
    void TearDown() override
    {
        XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        XTRmRestrictionManager::SetApplicationName(std::wstring());
    }

    void Script(const std::vector<Act>& vecActs)
    {
        for (const Act& act : vecActs)
            m_robot.Expect(act.strDialog, act.fnStep);
    }
    std::function<void(bool)> Recorder()
    {
        return [this](bool bWorking) { m_strProgress += bWorking ? 'T' : 'F'; };
    }
    // Text ids of the message boxes shown, each checked for MB_OK | MB_ICONHAND and help id 0.
    std::vector<UINT> Reports(const std::vector<UINT>& vecCandidates) const
    {
        std::vector<UINT> vecIds;
        for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
        {
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONHAND), box.nType);
            EXPECT_EQ(0u, box.nIDHelp);
            UINT nId = 0;
            for (UINT nCandidate : vecCandidates)
                nId = Txts::GetString(nCandidate) == box.strText ? nCandidate : nId;
            vecIds.push_back(nId);
        }
        return vecIds;
    }

    XTRmsScriptedService m_service;
    XTRmUiRobot m_robot;
    std::string m_strProgress;
};

const std::vector<UINT> kServerTexts = {IDS_XTRM_SERVER_TIMEOUT, IDS_XTRM_SERVER_REFUSED, IDS_XTRM_SERVER_NOT_FOUND,
    IDS_XTRM_SERVER_INCOMPATIBLE};

// ---------------------------------------------------------------------------
// InitializeRestrictions, road by road

struct Road
{
    const char* pszName;
    std::vector<Rms::RmsConnectionTest> vecTests; // answers of the connection tests, in order
    unsigned int nSourceFlags;
    Rms::RmsResult nInitialize;
    bool bNeedLogin;
    std::vector<Act> vecActs;
    Rms::RmsInitResult nResult;
    Rms::RmsResult nServiceResult; // kUntouched: the out-parameter is not written
    const char* pszProgress;       // F: about to show a dialog, |: it opens, T: working again
    std::vector<UINT> vecReports;
    const char* pszCalls;
};

void PrintTo(const Road& road, std::ostream* pOut)
{
    *pOut << road.pszName;
}

using Rms::RmsConnectionTest;
const unsigned int kServer = Rms::RmsSourceFlagServer;
const Rms::RmsResult kOk = Rms::RmsSuccess;

const Road kRoads[] = {
    {"SourceAnswers", {Rms::RmsConnectionOk}, kServer, kOk, false, {}, Rms::RmsInitReady, kOk, "", {},
        "Src Init GetNeedLogin"},
    {"SourceAnswersLogin", {Rms::RmsConnectionOk}, kServer, kOk, true, {kLogIn}, Rms::RmsInitReady, kOk, "F|", {},
        "Src Init GetNeedLogin UserLogin"},
    {"RetryOnceThenSource", {RmsConnectionTest(2), Rms::RmsConnectionOk}, kServer, kOk, false, {kRetry},
        Rms::RmsInitReady, kOk, "F|T", {}, "Src Src Init GetNeedLogin"},
    {"NoServerOffered", {RmsConnectionTest(3), Rms::RmsConnectionOk}, 0x0F, kOk, false, {kRetryNoServerOffered},
        Rms::RmsInitReady, kOk, "F|T", {}, "Src Src Init GetNeedLogin"},
    {"SelectorCancelled", {RmsConnectionTest(2)}, kServer, kOk, true, {kCancelSelector}, Rms::RmsInitCancelled,
        kUntouched, "F|", {}, "Src"},
    {"SelectorClosed", {RmsConnectionTest(2)}, kServer, kOk, true, {kCloseSelector}, Rms::RmsInitCancelled,
        kUntouched, "F|", {}, "Src"},
    {"ServerRefusedThenConnected", {RmsConnectionTest(2), RmsConnectionTest(5), RmsConnectionTest(1)}, kServer, kOk,
        false, {kChooseServer, Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"7401")}, Rms::RmsInitReadyThroughServer,
        kOk, "F|TF|F|T", {IDS_XTRM_SERVER_REFUSED},
        "Src Srv Get Set(localhost,7401) Srv Init GetNeedLogin"},
    {"NotFoundAndTimeoutReportedAfterFirstTest",
        {RmsConnectionTest(2), RmsConnectionTest(6), RmsConnectionTest(2), RmsConnectionTest(6), RmsConnectionTest(7)},
        kServer, kOk, false,
        {kChooseServer, Confirm(L"1"), Report(IDS_XTRM_SERVER_NOT_FOUND), Confirm(L"2"),
            Report(IDS_XTRM_SERVER_TIMEOUT), Confirm(L"3")},
        Rms::RmsInitReadyThroughServer, kOk, "F|TF|TF|F|TF|F|T", {IDS_XTRM_SERVER_NOT_FOUND, IDS_XTRM_SERVER_TIMEOUT},
        "Src Srv Get Set(localhost,1) Srv Get Set(localhost,2) Srv Get Set(localhost,3) Srv Init GetNeedLogin"},
    {"ServerUnconfiguredIncompatibleOther",
        {RmsConnectionTest(2), RmsConnectionTest(3), RmsConnectionTest(8), RmsConnectionTest(42), RmsConnectionTest(1)},
        kServer, kOk, false,
        {kChooseServer, Confirm(L"1"), Report(IDS_XTRM_SERVER_INCOMPATIBLE), Confirm(L"2"), Confirm(L"3")},
        Rms::RmsInitReadyThroughServer, kOk, "F|TF|TF|F|TF|T", {IDS_XTRM_SERVER_INCOMPATIBLE},
        "Src Srv Get Set(localhost,1) Srv Get Set(localhost,2) Srv Get Set(localhost,3) Srv Init GetNeedLogin"},
    {"ServerTestEnds0", {RmsConnectionTest(2), RmsConnectionTest(0)}, kServer, kOk, true, {kChooseServer},
        Rms::RmsInitCancelled, kUntouched, "F|T", {}, "Src Srv"},
    {"ServerTestEnds9", {RmsConnectionTest(2), RmsConnectionTest(4), RmsConnectionTest(9)}, kServer, kOk, true,
        {kChooseServer, Confirm(L"1")}, Rms::RmsInitCancelled, kUntouched, "F|TF|T", {},
        "Src Srv Get Set(localhost,1) Srv"},
    {"SettingsCancelled", {RmsConnectionTest(2), RmsConnectionTest(4)}, kServer, kOk, true,
        {kChooseServer, kCancelSettings}, Rms::RmsInitCancelled, kUntouched, "F|TF|", {}, "Src Srv Get"},
    {"InitializeFails", {Rms::RmsConnectionOk}, kServer, static_cast<Rms::RmsResult>(7), true, {},
        Rms::RmsInitServiceFailed, static_cast<Rms::RmsResult>(7), "", {}, "Src Init"},
    {"LoginCancelledAfterServer", {RmsConnectionTest(2), RmsConnectionTest(1)}, kServer, kOk, true,
        {kChooseServer, kCancelLogin}, Rms::RmsInitCancelled, kOk, "F|TF|", {}, "Src Srv Init GetNeedLogin"},
};

class StartupRoadTest : public StartupTest, public testing::WithParamInterface<Road>
{
};

TEST_P(StartupRoadTest, EndsAsExpected)
{
    const Road& road = GetParam();
    m_service.queConnectionTests.assign(road.vecTests.begin(), road.vecTests.end());
    m_service.nInitializeResult = road.nInitialize;
    m_service.bNeedLogin = road.bNeedLogin;
    Script(road.vecActs);

    Rms::RmsResult nServiceResult = kUntouched;
    Rms::RmsInitResult nResult = XTRmRestrictionManager::InitializeRestrictions(kType, kPaths,
        Settings(road.nSourceFlags), Recorder(), &nServiceResult);

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(road.nResult, nResult);
    EXPECT_EQ(road.nServiceResult, nServiceResult);
    EXPECT_EQ(road.pszProgress, m_strProgress);
    EXPECT_EQ(road.vecReports, Reports(kServerTexts));
    EXPECT_EQ(road.pszCalls, ShortCalls(m_service));
    EXPECT_TRUE(m_service.queConnectionTests.empty()) << "connection tests left unasked";
}

INSTANTIATE_TEST_SUITE_P(Roads, StartupRoadTest, testing::ValuesIn(kRoads),
    [](const testing::TestParamInfo<Road>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------------------
// InitServerConnection on its own: the last test and the connected flag

struct ServerRoad
{
    const char* pszName;
    std::vector<Rms::RmsConnectionTest> vecTests;
    std::vector<Act> vecActs;
    bool bResult;
    Rms::RmsConnectionTest nLastTest;
    bool bConnected; // the flag starts true: false only when a confirmation reset it
    const char* pszProgress;
};

void PrintTo(const ServerRoad& road, std::ostream* pOut)
{
    *pOut << road.pszName;
}

const ServerRoad kServerRoads[] = {
    {"FirstTest0LeavesFlag", {RmsConnectionTest(0)}, {}, false, RmsConnectionTest(0), true, "T"},
    {"FirstTest2SilentThenCancel", {RmsConnectionTest(2)}, {kCancelSettings}, false, RmsConnectionTest(2), true, "TF|"},
    {"ConfirmResetsFlagThen9", {RmsConnectionTest(4), RmsConnectionTest(9)}, {Confirm(L"1")}, false,
        RmsConnectionTest(9), false, "TF|T"},
    {"RefusedThenConnected", {RmsConnectionTest(5), RmsConnectionTest(1)},
        {Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"1")}, true, RmsConnectionTest(1), true, "TF|F|T"},
};

class ServerConnectionTest : public StartupTest, public testing::WithParamInterface<ServerRoad>
{
};

TEST_P(ServerConnectionTest, ReportsLastTestAndConnectedFlag)
{
    const ServerRoad& road = GetParam();
    m_service.queConnectionTests.assign(road.vecTests.begin(), road.vecTests.end());
    Script(road.vecActs);

    Rms::RmsConnectionTest nLastTest = RmsConnectionTest(-1);
    bool bConnected = true;
    bool bResult = XTRmRestrictionManager::InitServerConnection(nLastTest, kType, kPaths, Settings(kServer),
        bConnected, Recorder());

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(road.bResult, bResult);
    EXPECT_EQ(road.nLastTest, nLastTest);
    EXPECT_EQ(road.bConnected, bConnected);
    EXPECT_EQ(road.pszProgress, m_strProgress);
}

INSTANTIATE_TEST_SUITE_P(Roads, ServerConnectionTest, testing::ValuesIn(kServerRoads),
    [](const testing::TestParamInfo<ServerRoad>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------------------
// The connection settings dialog through ShowConnectionDlg

enum class Leave
{
    OK,
    Cancel,
    Escape,
    CloseBox
};

struct SettingsEdit
{
    const char* pszName;
    Rms::RmsApplicationType nType;
    const wchar_t* pszHost; // null: left as shown
    const wchar_t* pszPort;
    Leave nLeave;
    const wchar_t* pszStored; // what reaches the service; null: nothing
};

void PrintTo(const SettingsEdit& edit, std::ostream* pOut)
{
    *pOut << edit.pszName;
}

const SettingsEdit kSettingsEdits[] = {
    {"Unchanged", Rms::RmsApplicationStandard, nullptr, nullptr, Leave::OK, L"SetServerSetting(localhost,7400)"},
    {"HostAndPort", Rms::RmsApplicationWithHeader, L"rights.plant", L"7401", Leave::OK,
        L"SetServerSetting(rights.plant,7401)"},
    {"EmptyHostTopPort", Rms::RmsApplicationStandard, L"", L"65535", Leave::OK, L"SetServerSetting(,65535)"},
    {"PortAbove16Bits", Rms::RmsApplicationStandard, nullptr, L"70000", Leave::OK, L"SetServerSetting(localhost,4464)"},
    {"NegativePort", Rms::RmsApplicationService, nullptr, L"-1", Leave::OK, L"SetServerSetting(localhost,65535)"},
    {"Cancel", Rms::RmsApplicationStandard, L"elsewhere", L"1", Leave::Cancel, nullptr},
    {"Escape", Rms::RmsApplicationWithHeader, L"elsewhere", L"1", Leave::Escape, nullptr},
    {"CloseBox", Rms::RmsApplicationStandard, L"elsewhere", L"1", Leave::CloseBox, nullptr},
};

class ConnectionSettingsTest : public StartupTest, public testing::WithParamInterface<SettingsEdit>
{
};

TEST_P(ConnectionSettingsTest, StoresOnlyConfirmedSetting)
{
    const SettingsEdit& edit = GetParam();
    m_service.nApplicationType = edit.nType;
    m_robot.Expect(kSettings, [&edit](XTRmDialogDriver& dlg) {
        EXPECT_EQ(kAppName, dlg.GetCaption());
        EXPECT_EQ(L"localhost", dlg.GetText(IDC_XTRM_SERVER_HOST));
        EXPECT_EQ(L"7400", dlg.GetText(IDC_XTRM_SERVER_PORT));
        // The header picture only for application type 1, over the whole client area.
        HANDLE hImage = reinterpret_cast<HANDLE>(
            ::SendDlgItemMessageW(dlg.GetHwnd(), IDC_XTRM_BACKGROUND, STM_GETIMAGE, IMAGE_BITMAP, 0));
        EXPECT_EQ(edit.nType == Rms::RmsApplicationWithHeader, hImage != nullptr);
        RECT rcPicture = dlg.GetControlRect(IDC_XTRM_BACKGROUND), rcClient = dlg.GetClientRect();
        EXPECT_TRUE(::EqualRect(&rcPicture, &rcClient));

        if (edit.pszHost != nullptr)
            dlg.SetText(IDC_XTRM_SERVER_HOST, edit.pszHost);
        if (edit.pszPort != nullptr)
            dlg.SetText(IDC_XTRM_SERVER_PORT, edit.pszPort);
        switch (edit.nLeave)
        {
        case Leave::OK: dlg.PressOK(); break;
        case Leave::Cancel: dlg.PressCancel(); break;
        case Leave::Escape: dlg.PressEscape(); break;
        case Leave::CloseBox: dlg.PressCloseBox(); break;
        }
    });

    bool bResult = XTRmRestrictionManager::ShowConnectionDlg();

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(edit.pszStored != nullptr, bResult);
    std::vector<std::wstring> vecExpected;
    if (edit.pszStored != nullptr)
        vecExpected.push_back(edit.pszStored);
    EXPECT_EQ(vecExpected, m_service.ChangingCalls());
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Edits, ConnectionSettingsTest, testing::ValuesIn(kSettingsEdits),
    [](const testing::TestParamInfo<SettingsEdit>& info) { return std::string(info.param.pszName); });

TEST_F(StartupTest, PortThatIsNoNumberKeepsDialogOpen)
{
    m_robot.Expect(kSettings, [this](XTRmDialogDriver& dlg) {
        dlg.SetText(IDC_XTRM_SERVER_HOST, L"rights.plant");
        dlg.SetText(IDC_XTRM_SERVER_PORT, L"74o1");
        dlg.PressOK();
        // MFC's own message, once per exchange of OK; then the port again.
        EXPECT_EQ(2u, TestApp().m_vecMessageBoxes.size());
        EXPECT_TRUE(::IsWindowVisible(dlg.GetHwnd()));
        EXPECT_EQ(IDC_XTRM_SERVER_PORT, dlg.GetFocusId());
        EXPECT_TRUE(m_service.ChangingCalls().empty());
        dlg.SetText(IDC_XTRM_SERVER_PORT, L"7401");
        dlg.PressOK();
    });
    for (int i = 0; i < 2; ++i)
        m_robot.ExpectMessageBox([](XTRmDialogDriver& box) { box.PressOK(); });

    EXPECT_TRUE(XTRmRestrictionManager::ShowConnectionDlg());

    EXPECT_EQ("", m_robot.Finish());
    for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
        EXPECT_EQ(static_cast<UINT>(AFX_IDP_PARSE_INT), box.nIDHelp);
    EXPECT_EQ(std::vector<std::wstring>{L"SetServerSetting(rights.plant,7401)"}, m_service.ChangingCalls());
}

// ---------------------------------------------------------------------------
// No road hangs

TEST_F(StartupTest, WatchdogClosesDialogsNobodyExpected)
{
    // Nobody scripted the report nor the settings dialog that follows it.
    m_service.queConnectionTests = {RmsConnectionTest(5)};
    Rms::RmsConnectionTest nLastTest = RmsConnectionTest(-1);
    bool bConnected = true;
    EXPECT_FALSE(XTRmRestrictionManager::InitServerConnection(nLastTest, kType, kPaths, Settings(kServer),
        bConnected, Recorder()));

    std::string strReport = m_robot.Finish();
    EXPECT_NE(std::string::npos, strReport.find("unexpected dialog #32770 message box")) << strReport;
    EXPECT_NE(std::string::npos, strReport.find("unexpected dialog XTRmConnectionSettingsDlg")) << strReport;
    EXPECT_TRUE(m_service.ChangingCalls().empty());
}

TEST_F(StartupTest, WatchdogClosesSelectorLeftOpen)
{
    m_service.queConnectionTests = {RmsConnectionTest(2)};
    m_robot.SetLeftOpenTimeout(200);
    m_robot.Expect(kSelector, [](XTRmDialogDriver&) {}); // looks, does nothing

    Rms::RmsResult nServiceResult = kUntouched;
    EXPECT_EQ(Rms::RmsInitCancelled,
        XTRmRestrictionManager::InitializeRestrictions(kType, kPaths, Settings(kServer), Recorder(), &nServiceResult));

    std::string strReport = m_robot.Finish();
    EXPECT_NE(std::string::npos, strReport.find("left open by its step")) << strReport;
    EXPECT_EQ(kUntouched, nServiceResult);
}

// A person can only hand back 1 or 2 (the two option buttons are the only
// writers of the choice), and the sequence builds the library's own selector,
// so no host dialog can answer either. The value is written directly to make
// sure that a choice the sequence does not know is never taken for the server.
TEST_F(StartupTest, UnknownSelectorChoiceFailsStartUp)
{
    m_service.queConnectionTests = {RmsConnectionTest(2)};
    m_robot.Expect(kSelector, [](XTRmDialogDriver& dlg) {
        static_cast<XTRmRestrictionSourceSelectorDlg*>(dlg.GetWindow())->m_nSelection = 3;
        dlg.PressOK();
    });

    Rms::RmsResult nServiceResult = kUntouched;
    EXPECT_EQ(Rms::RmsInitServiceFailed,
        XTRmRestrictionManager::InitializeRestrictions(kType, kPaths, Settings(kServer), Recorder(), &nServiceResult));

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(kUntouched, nServiceResult);
    EXPECT_EQ("F|", m_strProgress);
    EXPECT_EQ("Src", ShortCalls(m_service));
}

} // namespace
