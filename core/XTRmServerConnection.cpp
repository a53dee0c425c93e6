// Connecting to the rights server: test, report, let the user correct the
// address, test again.
#include <afxwin.h>

#include "XTRmConnectionSettingsDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTTxtsTextService.h"

bool XTRmRestrictionManager::InitServerConnection(Rms::RmsConnectionTest& nLastTest,
    Rms::RmsApplicationType nApplicationType, const Rms::ClientPaths& paths, const Rms::ClientSettings& settings,
    bool& bConnected, std::function<void(bool)> fnProgress)
{
    if (!fnProgress)
        fnProgress = XTRmNoProgress;

    bool bFirstTest = true;
    for (;;)
    {
        fnProgress(true);
        nLastTest = ms_pRestrictionManagerService->TryConnectToRestrictionSource(nApplicationType, paths.strPath4,
            Rms::RmsConnectModeServer, settings.nServiceParam1, settings.nServiceParam2, paths.strPath5);

        switch (nLastTest)
        {
        case Rms::RmsConnectionServerConnected:
        case Rms::RmsConnectionServerConnectedReadOnly:
            bConnected = true;
            return true;
        case Rms::RmsConnectionOk:
        case Rms::RmsConnectionAborted:
            return false;
        case Rms::RmsConnectionServerNotFound:
        case Rms::RmsConnectionServerTimeout:
            // The first test runs with whatever address was stored; the user
            // has not asked for it yet, so only later failures are reported.
            if (!bFirstTest)
            {
                fnProgress(false);
                HandleRMConnectionResult(nLastTest);
            }
            break;
        case Rms::RmsConnectionServerRefused:
        case Rms::RmsConnectionServerIncompatible:
            fnProgress(false);
            HandleRMConnectionResult(nLastTest);
            break;
        default:
            break;
        }

        fnProgress(false);
        if (!ShowConnectionDlg())
            return false;
        bConnected = false;
        bFirstTest = false;
    }
}

bool XTRmRestrictionManager::ShowConnectionDlg()
{
    XTRmsServerSetting setting = ms_pRestrictionManagerService->GetServerSetting();
    XTRmConnectionSettingsDlg dlg(
        GetApplicationName(), setting, nullptr, static_cast<UINT>(GetApplicationBackgroundImageID()));
    if (dlg.DoModal() != IDOK)
        return false;

    setting = dlg.GetServerSetting();
    ms_pRestrictionManagerService->SetServerSetting(setting);
    return true;
}

void XTRmRestrictionManager::HandleRMConnectionResult(const Rms::RmsConnectionTest& nResult)
{
    unsigned int nTextId = 0;
    switch (nResult)
    {
    case Rms::RmsConnectionServerNotFound:
        nTextId = IDS_XTRM_SERVER_NOT_FOUND;
        break;
    case Rms::RmsConnectionServerRefused:
        nTextId = IDS_XTRM_SERVER_REFUSED;
        break;
    case Rms::RmsConnectionServerTimeout:
        nTextId = IDS_XTRM_SERVER_TIMEOUT;
        break;
    case Rms::RmsConnectionServerIncompatible:
        nTextId = IDS_XTRM_SERVER_INCOMPATIBLE;
        break;
    default:
        return;
    }
    AfxMessageBox(Txts::GetString(nTextId).c_str(), MB_OK | MB_ICONHAND, 0);
}
