// The demo host's start-up: one call into XTRm tests the rights source, offers
// the rights server when the source is down, initializes the service and logs
// the user in. Headless, a scripted user walks the difficult road and every
// dialog and message box on the way is saved as a screenshot.
#include "XTRmDemoAdmin.h"
#include "XTRmDemoApp.h"
#include "XTRmDemoLogin.h"
#include "XTRmDemoRightsServer.h"

#include "XTRmRestrictionManager.h"
#include "XTRmResourceIds.h"
#include "XTRmUiRobot.h"

#include <cstdio>
#include <memory>

namespace
{
// The rights server listens here when the port is free; the service's stored
// setting points elsewhere, so the user has to correct it.
const int kPreferredServerPort = 7401;

XTRmDemoRightsServer& RightsServer()
{
    static XTRmDemoRightsServer server;
    return server;
}

const char* InitResultText(Rms::RmsInitResult nResult)
{
    switch (nResult)
    {
    case Rms::RmsInitReady:
        return "ready, rights source reached";
    case Rms::RmsInitReadyThroughServer:
        return "ready, through the rights server";
    case Rms::RmsInitServiceFailed:
        return "the rights service could not be initialized";
    case Rms::RmsInitCancelled:
        return "the user gave up";
    default:
        return "unknown";
    }
}

// The difficult start-up as a person would walk it: the source is down, a
// retry does not help, the rights server is chosen, its stored port is wrong
// and the person first confirms it unchanged, reads the report, then types
// the right port and logs in, with a wrong password first.
void ScriptDifficultStartUp(XTRmUiRobot& robot, XTRmDemoApp& app, int nServerPort)
{
    int nShot = 0;
    robot.SetObserver([&app, nShot](XTRmDialogDriver& dlg) mutable {
        const bool bMessageBox = dlg.GetClassName() == XTRmUiRobot::MessageBoxClass;
        wchar_t szName[80];
        swprintf(szName, 80, L"startup-%02d-%hs.png", ++nShot, bMessageBox ? "message-box" : dlg.GetClassName().c_str());
        std::wstring strPath = app.OutputPath(szName);
        std::wstring strLine = (dlg.SaveScreenshot(strPath) ? L"screenshot " : L"screenshot failed ") + strPath +
            L": \"" + dlg.GetCaption() + L"\"";
        if (bMessageBox)
            strLine += L" saying \"" + dlg.GetMessageText() + L"\"";
        std::printf("%ls\n", strLine.c_str());
    });

    robot.Expect("XTRmRestrictionSourceSelectorDlg", [](XTRmDialogDriver& dlg) { dlg.PressOK(); });
    robot.Expect("XTRmRestrictionSourceSelectorDlg", [](XTRmDialogDriver& dlg) {
        dlg.Click(IDC_XTRM_SOURCE_SERVER);
        dlg.PressOK();
    });
    robot.Expect("XTRmConnectionSettingsDlg", [](XTRmDialogDriver& dlg) { dlg.PressOK(); });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) { box.PressOK(); });
    robot.Expect("XTRmConnectionSettingsDlg", [&app, nServerPort](XTRmDialogDriver& dlg) {
        dlg.SetText(IDC_XTRM_SERVER_HOST, XTRmDemoRightsServer::GetHost());
        dlg.SetText(IDC_XTRM_SERVER_PORT, std::to_wstring(nServerPort));
        dlg.SaveScreenshot(app.OutputPath(L"startup-port-corrected.png"));
        dlg.PressOK();
    });
    XTRmDemoLogin::ExpectLogin(robot, app);
}
} // namespace

bool XTRmDemoRunStartUp(XTRmDemoApp& app)
{
    XTRmDemoRightsServer& server = RightsServer();
    if (server.Start(kPreferredServerPort))
        std::printf("rights server listening on %ls:%d\n", XTRmDemoRightsServer::GetHost(), server.GetPort());
    else
        std::printf("rights server could not be started: no free port on the loopback interface\n");

    XTRmDemoService& service = app.GetService();
    // Headless runs always show the difficult road.
    if (app.IsHeadless())
        service.SetSourceReachable(false);

    // The reference service keeps its own profile store and needs no paths.
    Rms::ClientPaths paths;
    Rms::ClientSettings settings;
    settings.nSourceFlags = Rms::RmsSourceFlagServer;
    settings.bGuestLoginOffered = true;

    std::unique_ptr<XTRmUiRobot> pRobot;
    if (!app.IsHeadless())
    {
        std::printf("log in as admin, alice or bob; every demo account takes the password \"%ls\"\n",
            XTRmDemoService::DemoPassword());
    }
    else
    {
        pRobot = std::make_unique<XTRmUiRobot>();
        ScriptDifficultStartUp(*pRobot, app, server.GetPort());
    }

    // The demo shows a wait cursor while XTRm works without a dialog.
    std::unique_ptr<CWaitCursor> pWait;
    auto fnProgress = [&pWait](bool bWorking) {
        std::printf("start-up: %s\n", bWorking ? "working" : "asking the user");
        if (bWorking && !pWait)
            pWait = std::make_unique<CWaitCursor>();
        else if (!bWorking)
            pWait.reset();
    };

    Rms::RmsResult nServiceResult = Rms::RmsSuccess;
    Rms::RmsInitResult nResult = XTRmRestrictionManager::InitializeRestrictions(Rms::RmsApplicationWithHeader, paths,
        settings, fnProgress, &nServiceResult);
    pWait.reset();
    std::printf("start-up result %d (%s), service result %d\n", static_cast<int>(nResult), InitResultText(nResult),
        static_cast<int>(nServiceResult));

    // What the profile store had to say while the service initialized.
    XTRmDemoAdmin::ReportStoreMessage(nullptr);

    bool bScriptRan = true;
    if (pRobot)
    {
        std::string strReport = pRobot->Finish();
        bScriptRan = strReport.empty();
        std::printf("start-up script: %s\n", bScriptRan ? "ran as written" : strReport.c_str());
    }
    return bScriptRan && (nResult == Rms::RmsInitReady || nResult == Rms::RmsInitReadyThroughServer);
}
