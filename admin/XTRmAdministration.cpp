// The façade's entries into the administration dialogs.
#include "XTRmRestrictionManager.h"

#include "XTRmAuditTrailDlg.h"
#include "XTRmChangePasswordDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmShowSettingsDlg.h"
#include "XTRmUserManagementDlg.h"
#include "XTRmsPasswordServiceBase.h"

#include "XTTxtsTextService.h"

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

bool XTRmRestrictionManager::ShowChangePasswordDlg(CWnd* pParent)
{
    // Passwords are an optional part of a rights service: without it there
    // is nothing to offer, and nothing to say either.
    XTRmsPasswordServiceBase* pPasswordService = dynamic_cast<XTRmsPasswordServiceBase*>(ms_pRestrictionManagerService);
    if (pPasswordService == nullptr)
        return false;

    if (pPasswordService->GetLoggedInUserName().empty())
    {
        AfxMessageBox(Txts::GetString(IDS_XTRM_PASSWORD_NAMED_LOGIN_NEEDED).c_str(), MB_OK | MB_ICONINFORMATION, 0);
        return false;
    }

    XTRmChangePasswordDlg dlg(ms_pRestrictionManagerService, pPasswordService, pParent);
    if (dlg.DoModal() != IDOK)
        return false;
    AfxMessageBox(Txts::GetString(IDS_XTRM_PASSWORD_CHANGED).c_str(), MB_OK | MB_ICONINFORMATION, 0);
    return true;
}

void XTRmRestrictionManager::ShowAuditTrailDlg(CWnd* pParent)
{
    // The trail is an optional part of a rights service, like passwords.
    XTRmsAuditServiceBase* pAuditService = dynamic_cast<XTRmsAuditServiceBase*>(ms_pRestrictionManagerService);
    if (pAuditService == nullptr)
        return;
    if (!pAuditService->CanReadAudit())
    {
        AfxMessageBox(Txts::GetString(IDS_XTRM_AUDIT_NOT_PERMITTED).c_str(), MB_OK | MB_ICONINFORMATION, 0);
        return;
    }
    XTRmAuditTrailDlg dlg(pAuditService, pParent);
    dlg.DoModal();
}
