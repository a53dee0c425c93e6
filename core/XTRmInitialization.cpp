// The host's start-up call: reach the rights source (directly, after retries
// or through the rights server), initialize the service, log the user in.
#include <afxwin.h>

#include "XTGenLibrary.h"
#include "XTRmRestrictionManager.h"
#include "XTRmRestrictionSourceSelectorDlg.h"

Rms::RmsInitResult XTRmRestrictionManager::InitializeRestrictions(Rms::RmsApplicationType nApplicationType,
    const Rms::ClientPaths& paths, const Rms::ClientSettings& settings, std::function<void(bool)> fnProgress,
    Rms::RmsResult* pServiceResult)
{
    if (!fnProgress)
        fnProgress = XTRmNoProgress;

    bool bThroughServer = false;
    while (ms_pRestrictionManagerService->TryConnectToRestrictionSource(nApplicationType, paths.strPath4,
               Rms::RmsConnectModeSource, settings.nServiceParam1, settings.nServiceParam2,
               paths.strPath5) != Rms::RmsConnectionOk)
    {
        // The selector is the report: a source that does not answer gets no
        // message of its own, and the user may retry as often as wanted.
        const UINT nBackgroundImageID = static_cast<UINT>(GetApplicationBackgroundImageID());
        fnProgress(false);

        int nSelection = 0;
        {
            XTRmRestrictionSourceSelectorDlg dlg(GetApplicationName(), nullptr,
                (settings.nSourceFlags & Rms::RmsSourceFlagServer) != 0, nBackgroundImageID);
            if (dlg.DoModal() != IDOK)
                return Rms::RmsInitCancelled;
            nSelection = dlg.GetSelection();
        }

        if (nSelection == XTRmRestrictionSourceSelectorDlg::SelectionRetrySource)
        {
            fnProgress(true);
            continue;
        }
        if (nSelection != XTRmRestrictionSourceSelectorDlg::SelectionRightsServer)
            return Rms::RmsInitServiceFailed;

        bThroughServer = true;
        Rms::RmsConnectionTest nLastTest = Rms::RmsConnectionOk;
        bool bConnected = false;
        if (!InitServerConnection(nLastTest, nApplicationType, paths, settings, bConnected, fnProgress))
            return Rms::RmsInitCancelled;
        break;
    }

    const Rms::RmsResult nServiceResult = ms_pRestrictionManagerService->Initialize(nApplicationType, paths.strPath1,
        paths.strPath2, paths.strPath3, paths.strPath4, settings.nServiceParam1, settings.nServiceParam2,
        paths.strPath5);
    if (pServiceResult != nullptr)
        *pServiceResult = nServiceResult;
    if (nServiceResult != Rms::RmsSuccess)
        return Rms::RmsInitServiceFailed;

    if (ms_pRestrictionManagerService->GetNeedLogin())
    {
        fnProgress(false);
        const std::wstring& strEmpty = XTGenStringDefinesTraits<wchar_t>::ms_strEmpty;
        if (ShowUserLoginDlg(strEmpty, strEmpty, settings.bGuestLoginOffered) != Rms::ERmsLoginOk)
            return Rms::RmsInitCancelled;
    }

    return bThroughServer ? Rms::RmsInitReadyThroughServer : Rms::RmsInitReady;
}
