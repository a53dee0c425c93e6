// The demo host's start-up: one call into XTRm tests the rights source, offers
// the rights server when the source is missing, initializes the service and
// logs the user in. Headless, a scripted user walks the road and every dialog
// and message box on the way is saved as a screenshot.
#include "XTRmDemoApp.h"
#include "XTRmDemoLogin.h"

#include "XTRmRestrictionManager.h"
#include "XTRmResourceIds.h"
#include "XTRmUiRobot.h"

#include "XTTxtsTextService.h"

#include <cstdio>
#include <memory>

namespace
{
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

// Every dialog and message box of the start-up, as it opens.
void ShootEveryDialog(XTRmUiRobot& robot, XTRmDemoApp& app)
{
    int nShot = 0;
    robot.SetObserver([&app, nShot](XTRmDialogDriver& dlg) mutable {
        const bool bMessageBox = dlg.GetClassName() == XTRmUiRobot::kMessageBoxClass;
        wchar_t szName[80];
        swprintf(
            szName, 80, L"startup-%02d-%hs.png", ++nShot, bMessageBox ? "message-box" : dlg.GetClassName().c_str());
        std::wstring strPath = app.OutputPath(szName);
        std::wstring strLine = (dlg.SaveScreenshot(strPath) ? L"screenshot " : L"screenshot failed ") + strPath +
            L": \"" + dlg.GetCaption() + L"\"";
        if (bMessageBox)
            strLine += L" saying \"" + dlg.GetMessageText() + L"\"";
        std::printf("%ls\n", strLine.c_str());
    });
}

// The difficult start-up as a person would walk it: the local source is
// missing and a retry does not help, the rights server is chosen, its stored
// port is wrong and the person first confirms it unchanged, reads the report,
// then types the port the administrator gave out.
void ScriptServerStartUp(XTRmUiRobot& robot, XTRmDemoApp& app)
{
    robot.Expect("XTRmRestrictionSourceSelectorDlg", [](XTRmDialogDriver& dlg) { dlg.PressOK(); });
    robot.Expect("XTRmRestrictionSourceSelectorDlg", [](XTRmDialogDriver& dlg) {
        dlg.Click(IDC_XTRM_SOURCE_SERVER);
        dlg.PressOK();
    });
    robot.Expect("XTRmConnectionSettingsDlg", [](XTRmDialogDriver& dlg) { dlg.PressOK(); });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        if (box.GetMessageText() != Txts::GetString(IDS_XTRM_SERVER_NOT_FOUND))
            box.Fail("the wrong port is not reported as a server that cannot be reached");
        box.PressOK();
    });
    robot.Expect("XTRmConnectionSettingsDlg", [&app](XTRmDialogDriver& dlg) {
        dlg.SetText(IDC_XTRM_SERVER_HOST, L"127.0.0.1");
        dlg.SetText(IDC_XTRM_SERVER_PORT, std::to_wstring(app.GetServerPort()));
        dlg.SaveScreenshot(app.OutputPath(L"startup-port-corrected.png"));
        dlg.PressOK();
    });
}
} // namespace

bool XTRmDemoRunStartUp(XTRmDemoApp& app)
{
    XTRmsService& service = app.GetService();

    // The service finds its store itself and needs no paths. Only the
    // --server set-up has a rights server to turn to.
    Rms::ClientPaths paths;
    Rms::ClientSettings settings;
    settings.nSourceFlags = app.UsesServer() ? Rms::RmsSourceFlagServer : 0;
    settings.bGuestLoginOffered = true;

    std::unique_ptr<XTRmUiRobot> pRobot;
    if (!app.IsHeadless())
    {
        std::printf("log in as admin, alice or bob with the password the README gives for each, or as a guest\n");
        if (app.UsesServer())
            std::printf("the rights server listens on 127.0.0.1:%d; the stored setting says port %d\n",
                app.GetServerPort(), service.GetServerSetting().GetPortNum());
    }
    else
    {
        // The store was set up on the administrator's own service: this one
        // has opened nothing yet.
        if (service.IsStoreAdministrator() || !service.ListUsers().empty())
            app.ReportFailure("the workstation's service holds the store administrator's power");
        pRobot = std::make_unique<XTRmUiRobot>();
        ShootEveryDialog(*pRobot, app);
        if (app.UsesServer())
            ScriptServerStartUp(*pRobot, app);
        XTRmDemoLogin::ExpectLogin(*pRobot, app);
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
    Rms::RmsInitResult nResult = XTRmRestrictionManager::InitializeRestrictions(
        Rms::RmsApplicationWithHeader, paths, settings, fnProgress, &nServiceResult);
    pWait.reset();
    std::printf("start-up result %d (%s), service result %d\n", static_cast<int>(nResult), InitResultText(nResult),
        static_cast<int>(nServiceResult));

    const Rms::RmsInitResult nExpected = app.UsesServer() ? Rms::RmsInitReadyThroughServer : Rms::RmsInitReady;
    bool bScriptRan = true;
    if (pRobot)
    {
        std::string strReport = pRobot->Finish();
        bScriptRan = strReport.empty();
        std::printf("start-up script: %s\n", bScriptRan ? "ran as written" : strReport.c_str());
        if (!bScriptRan)
            app.ReportFailure("the start-up did not go as scripted");
        else if (nResult != nExpected)
            app.ReportFailure("the start-up ended otherwise than scripted");
        // The administrator lifts the lock at once, so that bob can take
        // part in the window's tour and the next run finds him as this one.
        // As at a plant: logged in at this workstation as himself (the
        // script's last login), so that the audit trail names him; nobody
        // hands a workstation the store administrator's password.
        else if (!XTRmDemoLogin::LiftLock(service))
            app.ReportFailure("the operator's lock could not be lifted");
    }
    return bScriptRan && (nResult == Rms::RmsInitReady || nResult == Rms::RmsInitReadyThroughServer);
}
