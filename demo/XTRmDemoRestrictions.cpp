#include <afxwin.h>

#include "XTRmDemoRestrictions.h"

#include "XTRmDemoIds.h"
#include "XTRmDemoRights.h"

XTRmDemoRestrictions::XTRmDemoRestrictions(XTRmsRestrictionManagerServiceBase* pService)
    : XTRmRestrictionsMenu(pService)
{
    Register();
}

void XTRmDemoRestrictions::RegisterAgain()
{
    Clear();
    Register();
}

void XTRmDemoRestrictions::Register()
{
    // A command the user must not reach is registered hidden AND disabled:
    // hiding takes it off the menu and the toolbar, disabling makes the
    // update handler refuse it when it comes through an accelerator.
    auto hideAndDisable = [this](unsigned int nId, const auto& rights) {
        CommandHide(nId, rights);
        CommandDisable(nId, rights);
    };

    // Recipes: only those who may edit them create one; the others may open
    // recipes and see that saving exists.
    hideAndDisable(ID_XTRM_DEMO_FILE_NEW_RECIPE, XTRmDemoRightEditRecipes);
    CommandDisable(ID_XTRM_DEMO_FILE_SAVE_RECIPE, XTRmDemoRightEditRecipes);
    CommandDisable(ID_XTRM_DEMO_FILE_SAVE_AS, XTRmDemoRightEditRecipes);
    CommandDisable(ID_XTRM_DEMO_EDIT_CUT, XTRmDemoRightEditRecipes);
    CommandDisable(ID_XTRM_DEMO_EDIT_PASTE, XTRmDemoRightEditRecipes);
    hideAndDisable(ID_XTRM_DEMO_EDIT_RECIPE_PARAMS, XTRmDemoRightEditRecipes);

    // Export goes as a whole; its commands are disabled too, because their
    // accelerators or toolbar buttons would still reach them.
    MenuPopupHide(L"&Export", XTRmDemoRightExportData);
    CommandDisable(ID_XTRM_DEMO_FILE_EXPORT_CSV, XTRmDemoRightExportData);
    hideAndDisable(
        ID_XTRM_DEMO_FILE_EXPORT_AUDIT, std::vector<int>{XTRmDemoRightExportData, XTRmDemoRightViewAuditTrail});

    CommandDisable(ID_XTRM_DEMO_FILE_PRINT, XTRmDemoRightPrint);
    CommandDisable(ID_XTRM_DEMO_FILE_PRINT_PREVIEW, XTRmDemoRightPrint);

    MenuPopupHide(L"&Reports", XTRmDemoRightViewReports);
    CommandDisable(ID_XTRM_DEMO_VIEW_SHIFT_REPORT, XTRmDemoRightViewReports);
    CommandDisable(ID_XTRM_DEMO_VIEW_BATCH_HISTORY, XTRmDemoRightViewReports);
    hideAndDisable(ID_XTRM_DEMO_VIEW_AUDIT_TRAIL, XTRmDemoRightViewAuditTrail);

    CommandDisable(ID_XTRM_DEMO_BATCH_START, XTRmDemoRightRunBatches);
    CommandDisable(ID_XTRM_DEMO_BATCH_HOLD, XTRmDemoRightRunBatches);
    // Aborting a batch needs both rights.
    hideAndDisable(ID_XTRM_DEMO_BATCH_ABORT, std::vector<int>{XTRmDemoRightRunBatches, XTRmDemoRightConfigurePlant});

    // Calibration stays in sight, greyed, so operators know whom to ask.
    MenuPopupDisable(L"&Calibration", XTRmDemoRightConfigurePlant);
    CommandDisable(ID_XTRM_DEMO_TOOLS_CAL_SENSORS, XTRmDemoRightConfigurePlant);
    CommandDisable(ID_XTRM_DEMO_TOOLS_CAL_VALVES, XTRmDemoRightConfigurePlant);
    hideAndDisable(ID_XTRM_DEMO_TOOLS_PLANT_CONFIG, XTRmDemoRightConfigurePlant);

    hideAndDisable(ID_XTRM_DEMO_ADMIN_USERS, XTRmDemoRightManageUsers);
    hideAndDisable(ID_XTRM_DEMO_ADMIN_CONNECTION, XTRmDemoRightManageUsers);
    MenuPopupHide(L"S&ecurity", XTRmDemoRightManageUsers);
    CommandDisable(ID_XTRM_DEMO_ADMIN_AUDIT_SETUP, XTRmDemoRightManageUsers);
    CommandDisable(ID_XTRM_DEMO_ADMIN_PASSWORDS, XTRmDemoRightManageUsers);
    // Without either, the Maintenance popup is left empty and goes too.
    hideAndDisable(ID_XTRM_DEMO_ADMIN_BACKUP, XTRmDemoRightConfigurePlant);
    hideAndDisable(ID_XTRM_DEMO_ADMIN_RESTORE, XTRmDemoRightConfigurePlant);
}
