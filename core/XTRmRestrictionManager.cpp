// The façade's state: the host's rights service and the application name for
// the captions of the start-up dialogs.
#include <afxwin.h>

#include "XTRmRestrictionManager.h"
#include "XTRmResourceIds.h"

XTRmsRestrictionManagerServiceBase* XTRmRestrictionManager::ms_pRestrictionManagerService = nullptr;
std::wstring XTRmRestrictionManager::ms_strApplicationNameForCaption;

void XTRmRestrictionManager::SetRestrictionManagerService(XTRmsRestrictionManagerServiceBase* pService)
{
    ms_pRestrictionManagerService = pService;
}

int XTRmRestrictionManager::GetVersion()
{
    return XTRM_VERSION;
}

void XTRmRestrictionManager::SetApplicationName(const std::wstring& strApplicationName)
{
    if (&strApplicationName != &ms_strApplicationNameForCaption)
        ms_strApplicationNameForCaption = strApplicationName;
}

std::wstring XTRmRestrictionManager::GetApplicationName()
{
    if (!ms_strApplicationNameForCaption.empty())
        return ms_strApplicationNameForCaption;
    CWinApp* pApp = AfxGetModuleState()->m_pCurrentWinApp;
    if (pApp != nullptr && pApp->m_pszAppName != nullptr)
        return pApp->m_pszAppName;
    return std::wstring();
}

int XTRmRestrictionManager::GetApplicationBackgroundImageID()
{
    if (ms_pRestrictionManagerService == nullptr)
        return 0;
    return ms_pRestrictionManagerService->GetApplicationType() == Rms::RmsApplicationWithHeader ? IDB_XTRM_BACKGROUND
                                                                                                : 0;
}
