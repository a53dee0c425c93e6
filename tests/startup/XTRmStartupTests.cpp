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

#include "XTRmRestrictionSourceSelectorDlg.h"

// The selector's choice is written directly by one test below.
struct XTRmSourceSelectorTestPeer
{
    static void SetSelection(CWnd* pDlg, XTRmRestrictionSourceSelectorDlg::ESelection nSelection)
    {
        static_cast<XTRmRestrictionSourceSelectorDlg*>(pDlg)->m_nSelection = nSelection;
    }
};

namespace
{
const wchar_t kAppName[] = L"Plant Control";
const char kSelector[] = "XTRmRestrictionSourceSelectorDlg";
const char kSettings[] = "XTRmConnectionSettingsDlg";
const char kLogin[] = "XTRmNGUserLoginDlg";

// Distinct values everywhere, so that a swapped argument shows.
const Rms::RmsApplicationType kType = Rms::RmsApplicationService;
const Rms::ClientPaths kPaths = {L"p1", L"p2", L"p3", L"p4", L"p5"};
// The connection modes as numbers: what a service built apart from XTRm sees.
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

// The header picture (or the empty picture control) over the whole client area.
void ExpectBackgroundPicture(XTRmDialogDriver& dlg, bool bImage)
{
    HANDLE hImage = reinterpret_cast<HANDLE>(
        ::SendDlgItemMessageW(dlg.GetHwnd(), IDC_XTRM_BACKGROUND, STM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_EQ(bImage, hImage != nullptr);
    RECT rcPicture = dlg.GetControlRect(IDC_XTRM_BACKGROUND), rcClient = dlg.GetClientRect();
    EXPECT_TRUE(::EqualRect(&rcPicture, &rcClient));
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
    return {XTRmUiRobot::kMessageBoxClass, [nTextId](XTRmDialogDriver& box) {
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
            EXPECT_TRUE(strCall == kSourceTest || strCall == kServerTest) << testing::PrintToString(strCall);
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
    // Every report is an error box with an OK button and no help.
    void ExpectErrorBoxesOnly() const
    {
        for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
        {
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONHAND), box.nType) << testing::PrintToString(box.strText);
            EXPECT_EQ(0u, box.nIDHelp);
        }
    }

    XTRmsScriptedService m_service;
    XTRmUiRobot m_robot;
    std::string m_strProgress;
};

// Rows print and name their tests by their name.
template <typename Row>
auto operator<<(std::ostream& out, const Row& row) -> decltype(row.pszName, out)
{
    return out << row.pszName;
}
const auto RowName = [](const auto& info) { return std::string(info.param.pszName); };

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
    const char* pszCalls;
};

const unsigned int kServer = Rms::RmsSourceFlagServer;
const Rms::RmsResult kOk = Rms::RmsSuccess, k7 = static_cast<Rms::RmsResult>(7);
const Rms::RmsInitResult kReady = Rms::RmsInitReady, kViaServer = Rms::RmsInitReadyThroughServer,
                         kFailed = Rms::RmsInitServiceFailed, kGaveUp = Rms::RmsInitCancelled;
// Connection tests as the service answers them, in call order.
std::vector<Rms::RmsConnectionTest> Tests(std::initializer_list<int> answers)
{
    std::vector<Rms::RmsConnectionTest> vecTests;
    for (int n : answers)
        vecTests.push_back(static_cast<Rms::RmsConnectionTest>(n));
    return vecTests;
}
const char kThreeConfirmations[] =
    "Src Srv Get Set(localhost,1) Srv Get Set(localhost,2) Srv Get Set(localhost,3) Srv Init GetNeedLogin";

const Road kRoads[] = {
    {"SourceAnswers", Tests({0}), kServer, kOk, false, {}, kReady, kOk, "", "Src Init GetNeedLogin"},
    {"SourceAnswersLogin", Tests({0}), kServer, kOk, true, {kLogIn}, kReady, kOk, "F|",
        "Src Init GetNeedLogin UserLogin"},
    {"RetryOnceThenSource", Tests({2, 0}), kServer, kOk, false, {kRetry}, kReady, kOk, "F|T",
        "Src Src Init GetNeedLogin"},
    {"NoServerOffered", Tests({3, 0}), 0x0F, kOk, false, {kRetryNoServerOffered}, kReady, kOk, "F|T",
        "Src Src Init GetNeedLogin"},
    {"SelectorCancelled", Tests({2}), kServer, kOk, true, {kCancelSelector}, kGaveUp, kUntouched, "F|", "Src"},
    {"SelectorClosed", Tests({2}), kServer, kOk, true, {kCloseSelector}, kGaveUp, kUntouched, "F|", "Src"},
    {"ServerRefusedThenConnected", Tests({2, 5, 1}), kServer, kOk, false,
        {kChooseServer, Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"7401")}, kViaServer, kOk, "F|TF|F|T",
        "Src Srv Get Set(localhost,7401) Srv Init GetNeedLogin"},
    {"NotFoundAndTimeoutReportedAfterFirstTest", Tests({2, 6, 2, 6, 7}), kServer, kOk, false,
        {kChooseServer, Confirm(L"1"), Report(IDS_XTRM_SERVER_NOT_FOUND), Confirm(L"2"),
            Report(IDS_XTRM_SERVER_TIMEOUT), Confirm(L"3")},
        kViaServer, kOk, "F|TF|TF|F|TF|F|T", kThreeConfirmations},
    {"UnconfiguredIncompatibleUnknown", Tests({2, 3, 8, 42, 1}), kServer, kOk, false,
        {kChooseServer, Confirm(L"1"), Report(IDS_XTRM_SERVER_INCOMPATIBLE), Confirm(L"2"), Confirm(L"3")}, kViaServer,
        kOk, "F|TF|TF|F|TF|T", kThreeConfirmations},
    {"ServerTestEnds0", Tests({2, 0}), kServer, kOk, true, {kChooseServer}, kGaveUp, kUntouched, "F|T", "Src Srv"},
    {"ServerTestEnds9", Tests({2, 4, 9}), kServer, kOk, true, {kChooseServer, Confirm(L"1")}, kGaveUp, kUntouched,
        "F|TF|T", "Src Srv Get Set(localhost,1) Srv"},
    {"SettingsCancelled", Tests({2, 4}), kServer, kOk, true, {kChooseServer, kCancelSettings}, kGaveUp, kUntouched,
        "F|TF|", "Src Srv Get"},
    {"InitializeFails", Tests({0}), kServer, k7, true, {}, kFailed, k7, "", "Src Init"},
    {"LoginCancelledAfterServer", Tests({2, 1}), kServer, kOk, true, {kChooseServer, kCancelLogin}, kGaveUp, kOk,
        "F|TF|", "Src Srv Init GetNeedLogin"},
    {"LoginAfterServer", Tests({2, 1}), kServer, kOk, true, {kChooseServer, kLogIn}, kViaServer, kOk, "F|TF|",
        "Src Srv Init GetNeedLogin UserLogin"},
    {"InitializeFailsAfterServer", Tests({2, 7}), kServer, k7, true, {kChooseServer}, kFailed, k7, "F|T",
        "Src Srv Init"},
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
    Rms::RmsInitResult nResult = XTRmRestrictionManager::InitializeRestrictions(
        kType, kPaths, Settings(road.nSourceFlags), Recorder(), &nServiceResult);

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(road.nResult, nResult);
    EXPECT_EQ(road.nServiceResult, nServiceResult);
    EXPECT_EQ(road.pszProgress, m_strProgress);
    ExpectErrorBoxesOnly();
    EXPECT_EQ(road.pszCalls, ShortCalls(m_service));
    EXPECT_TRUE(m_service.queConnectionTests.empty()) << "connection tests left unasked";
}

INSTANTIATE_TEST_SUITE_P(Roads, StartupRoadTest, testing::ValuesIn(kRoads), RowName);

// An application with a header: its picture behind the selector and the
// login dialog, and the guest choice there because the host offers it.
TEST_F(StartupTest, HeaderApplicationShowsItsPictureAndTheGuestChoiceTheHostOffers)
{
    m_service.nApplicationType = Rms::RmsApplicationWithHeader;
    m_service.queConnectionTests = {Rms::RmsConnectionServerNotFound, Rms::RmsConnectionOk};
    m_service.bNeedLogin = true;
    m_robot.Expect(kSelector, [](XTRmDialogDriver& dlg) {
        ExpectBackgroundPicture(dlg, true);
        dlg.PressOK();
    });
    m_robot.Expect("XTRmUserLoginHdrDlg", [](XTRmDialogDriver& dlg) {
        ExpectBackgroundPicture(dlg, true);
        EXPECT_EQ(Txts::GetString(IDS_XTRM_LOGIN_CAPTION), dlg.GetCaption());
        EXPECT_EQ(L"", dlg.GetText(IDC_XTRM_LOGIN_USER_NAME));
        dlg.Click(IDC_XTRM_LOGIN_GUEST_RADIO);
        dlg.PressOK();
    });
    Rms::ClientSettings settings = Settings(kServer);
    settings.bGuestLoginOffered = true;

    Rms::RmsResult nServiceResult = kUntouched;
    EXPECT_EQ(Rms::RmsInitReady,
        XTRmRestrictionManager::InitializeRestrictions(kType, kPaths, settings, Recorder(), &nServiceResult));

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(kOk, nServiceResult);
    EXPECT_EQ("F|TF|", m_strProgress);
    EXPECT_EQ("Src Src Init GetNeedLogin IsGuestLoginAllowed UserLogin", ShortCalls(m_service));
    EXPECT_EQ(std::vector<std::wstring>{L"UserLogin(,)"}, m_service.CallsNamed(L"UserLogin"));
}

// ---------------------------------------------------------------------------
// InitServerConnection on its own: the last test and the connected flag

struct ServerRoad
{
    const char* pszName;
    std::vector<Rms::RmsConnectionTest> vecTests;
    std::vector<Act> vecActs;
    bool bResult;
    int nLastTest;
    bool bConnectedBefore; // the flag as the host hands it in
    bool bConnected;       // and as it comes back
    const char* pszProgress;
};

const ServerRoad kServerRoads[] = {
    {"FirstTest0LeavesFlag", Tests({0}), {}, false, 0, true, true, "T"},
    {"FirstTest9LeavesFlag", Tests({9}), {}, false, 9, false, false, "T"},
    {"FirstTest2SilentThenCancel", Tests({2}), {kCancelSettings}, false, 2, true, true, "TF|"},
    {"ConfirmResetsFlagThen9", Tests({4, 9}), {Confirm(L"1")}, false, 9, true, false, "TF|T"},
    {"RefusedThenConnected", Tests({5, 1}), {Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"1")}, true, 1, false, true,
        "TF|F|T"},
    {"Connected7SetsFlag", Tests({7}), {}, true, 7, false, true, "T"},
};

class ServerConnectionTest : public StartupTest, public testing::WithParamInterface<ServerRoad>
{
};

TEST_P(ServerConnectionTest, ReportsLastTestAndConnectedFlag)
{
    const ServerRoad& road = GetParam();
    m_service.queConnectionTests.assign(road.vecTests.begin(), road.vecTests.end());
    Script(road.vecActs);

    Rms::RmsConnectionTest nLastTest = static_cast<Rms::RmsConnectionTest>(-1);
    bool bConnected = road.bConnectedBefore;
    bool bResult = XTRmRestrictionManager::InitServerConnection(
        nLastTest, kType, kPaths, Settings(kServer), bConnected, Recorder());

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(road.bResult, bResult);
    EXPECT_EQ(road.nLastTest, static_cast<int>(nLastTest));
    EXPECT_EQ(road.bConnected, bConnected);
    EXPECT_EQ(road.pszProgress, m_strProgress);
}

INSTANTIATE_TEST_SUITE_P(Roads, ServerConnectionTest, testing::ValuesIn(kServerRoads), RowName);

// ---------------------------------------------------------------------------
// The connection settings dialog through ShowConnectionDlg

struct SettingsEdit
{
    const char* pszName;
    Rms::RmsApplicationType nType;
    const wchar_t* pszHost; // null: left as shown
    const wchar_t* pszPort;
    void (XTRmDialogDriver::*pfnLeave)();
    const wchar_t* pszStored; // what reaches the service; null: nothing
};

const SettingsEdit kSettingsEdits[] = {
    {"Unchanged", Rms::RmsApplicationStandard, nullptr, nullptr, &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,7400)"},
    {"HostAndPort", Rms::RmsApplicationWithHeader, L"rights.plant", L"7401", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(rights.plant,7401)"},
    {"EmptyHostTopPort", Rms::RmsApplicationStandard, L"", L"65535", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(,65535)"},
    {"PortAbove16Bits", Rms::RmsApplicationStandard, nullptr, L"70000", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,4464)"},
    {"NegativePort", Rms::RmsApplicationService, nullptr, L"-1", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,65535)"},
    // MFC reads the port with wcstol and no overflow check: a text beyond the
    // int range is taken as INT_MAX or INT_MIN, whose low 16 bits go on.
    {"PortBeyondInt", Rms::RmsApplicationStandard, nullptr, L"99999999999", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,65535)"},
    {"PortBelowInt", Rms::RmsApplicationStandard, nullptr, L"-99999999999", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,0)"},
    {"ZeroWithBlanks", Rms::RmsApplicationStandard, nullptr, L" 00 ", &XTRmDialogDriver::PressOK,
        L"SetServerSetting(localhost,0)"},
    {"Cancel", Rms::RmsApplicationWithHeader, L"elsewhere", L"1", &XTRmDialogDriver::PressCancel, nullptr},
    {"CloseBox", Rms::RmsApplicationStandard, L"elsewhere", L"1", &XTRmDialogDriver::PressCloseBox, nullptr},
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
        ExpectBackgroundPicture(dlg, edit.nType == Rms::RmsApplicationWithHeader);

        if (edit.pszHost != nullptr)
            dlg.SetText(IDC_XTRM_SERVER_HOST, edit.pszHost);
        if (edit.pszPort != nullptr)
            dlg.SetText(IDC_XTRM_SERVER_PORT, edit.pszPort);
        (dlg.*edit.pfnLeave)();
    });

    bool bResult = XTRmRestrictionManager::ShowConnectionDlg();

    EXPECT_EQ("", m_robot.Finish());
    EXPECT_EQ(edit.pszStored != nullptr, bResult);
    EXPECT_EQ(edit.pszStored ? std::vector<std::wstring>{edit.pszStored} : std::vector<std::wstring>{},
        m_service.ChangingCalls());
    EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Edits, ConnectionSettingsTest, testing::ValuesIn(kSettingsEdits), RowName);

// MFC's integer exchange refuses what is not a number, and a result of 0 from
// a text that does not begin with '0': the empty text and a signed zero too.
struct RejectedPort
{
    const char* pszName;
    const wchar_t* pszPort;
};

const RejectedPort kRejectedPorts[] = {
    {"Letter", L"74o1"},
    {"Empty", L""},
    {"Blank", L" "},
    {"MinusZero", L"-0"},
    {"PlusZero", L"+0"},
    {"Hexadecimal", L"0x1F"},
};

class RejectedPortTest : public StartupTest, public testing::WithParamInterface<RejectedPort>
{
};

TEST_P(RejectedPortTest, KeepsDialogOpenWithMfcsMessage)
{
    m_robot.Expect(kSettings, [this](XTRmDialogDriver& dlg) {
        dlg.SetText(IDC_XTRM_SERVER_HOST, L"rights.plant");
        dlg.SetText(IDC_XTRM_SERVER_PORT, GetParam().pszPort);
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
        m_robot.ExpectMessageBox([](XTRmDialogDriver& box) {
            EXPECT_EQ(L"Please enter an integer.", box.GetMessageText());
            box.PressOK();
        });

    EXPECT_TRUE(XTRmRestrictionManager::ShowConnectionDlg());

    EXPECT_EQ("", m_robot.Finish());
    for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
        EXPECT_EQ(static_cast<UINT>(AFX_IDP_PARSE_INT), box.nIDHelp);
    EXPECT_EQ(std::vector<std::wstring>{L"SetServerSetting(rights.plant,7401)"}, m_service.ChangingCalls());
}

INSTANTIATE_TEST_SUITE_P(Texts, RejectedPortTest, testing::ValuesIn(kRejectedPorts), RowName);

// ---------------------------------------------------------------------------
// No road hangs

TEST_F(StartupTest, WatchdogClosesDialogsNobodyExpected)
{
    // Nobody scripted the report nor the settings dialog that follows it.
    m_service.queConnectionTests = {Rms::RmsConnectionServerRefused};
    Rms::RmsConnectionTest nLastTest = Rms::RmsConnectionOk;
    bool bConnected = true;
    EXPECT_FALSE(XTRmRestrictionManager::InitServerConnection(
        nLastTest, kType, kPaths, Settings(kServer), bConnected, Recorder()));

    std::string strReport = m_robot.Finish();
    EXPECT_NE(std::string::npos, strReport.find("unexpected dialog #32770 message box")) << strReport;
    EXPECT_NE(std::string::npos, strReport.find("unexpected dialog XTRmConnectionSettingsDlg")) << strReport;
    EXPECT_TRUE(m_service.ChangingCalls().empty());
}

// A person can only hand back one of the two choices (the option buttons are
// the only writers of it), and the sequence builds the library's own selector,
// so no host dialog can answer either. The value is written directly to make
// sure that a choice the sequence does not know is never taken for the server.
TEST_F(StartupTest, UnknownSelectorChoiceFailsStartUp)
{
    m_service.queConnectionTests = {Rms::RmsConnectionServerNotFound};
    m_robot.Expect(kSelector, [](XTRmDialogDriver& dlg) {
        XTRmSourceSelectorTestPeer::SetSelection(dlg.GetWindow(),
            static_cast<XTRmRestrictionSourceSelectorDlg::ESelection>(
                XTRmRestrictionSourceSelectorDlg::SelectionRightsServer + 1));
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

// A host without a progress display passes an empty function, which must
// never be called: it would throw through the host's start-up.
TEST_F(StartupTest, EmptyProgressFunctionThroughEveryDialogOfTheStartUpAndTheServerConnection)
{
    const std::vector<Rms::RmsConnectionTest> vecTests = Tests({2, 2, 2, 5, 1, 5, 7});
    m_service.queConnectionTests.assign(vecTests.begin(), vecTests.end());
    m_service.bNeedLogin = true;
    Script({kRetry, kChooseServer, Confirm(L"1"), Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"2"), kLogIn,
        Report(IDS_XTRM_SERVER_REFUSED), Confirm(L"3")});
    Rms::RmsResult nServiceResult = kUntouched;
    EXPECT_EQ(Rms::RmsInitReadyThroughServer,
        XTRmRestrictionManager::InitializeRestrictions(kType, kPaths, Settings(kServer), nullptr, &nServiceResult));
    EXPECT_EQ(kOk, nServiceResult);

    Rms::RmsConnectionTest nLastTest = Rms::RmsConnectionOk;
    bool bConnected = false;
    EXPECT_TRUE(
        XTRmRestrictionManager::InitServerConnection(nLastTest, kType, kPaths, Settings(kServer), bConnected, nullptr));
    EXPECT_EQ("", m_robot.Finish());
    EXPECT_TRUE(bConnected);
}

} // namespace
