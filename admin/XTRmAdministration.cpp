// The façade's entries into the administration dialogs.
#include "XTRmRestrictionManager.h"

#include "XTRmShowSettingsDlg.h"
#include "XTRmUserManagementDlg.h"

void XTRmRestrictionManager::ShowUserManagementDlg(const bool& bEditAllowed, const bool& bViewOnly, CWnd* pParent)
{
    if (ms_pRestrictionManagerService == nullptr)
        return;
    XTRmUserManagementDlg dlg(ms_pRestrictionManagerService, bEditAllowed, bViewOnly, pParent);
    dlg.DoModal();
}

void XTRmRestrictionManager::ShowSettingsDlg(CWnd* pParent)
{
    if (ms_pRestrictionManagerService == nullptr)
        return;
    XTRmShowSettingsDlg dlg(ms_pRestrictionManagerService->GetSettingsString(), pParent);
    dlg.DoModal();
}
