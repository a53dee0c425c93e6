// Every dialog of XTRm: the robot meets it by its own run-time class, and
// every reference template has a button that closes it.
#include "XTRmAdminTestFixture.h"

#include "XTRmAddUserDlg.h"
#include "XTRmAuditTrailDlg.h"
#include "XTRmChangePasswordDlg.h"
#include "XTRmConnectionSettingsDlg.h"
#include "XTRmLockDlg.h"
#include "XTRmNGUserLoginDlg.h"
#include "XTRmRestrictionSourceSelectorDlg.h"
#include "XTRmShowSettingsDlg.h"
#include "XTRmSignatureDlg.h"
#include "XTRmUserLoginDlg.h"
#include "XTRmUserLoginHdrDlg.h"
#include "XTRmUserManagementDlg.h"

#include <algorithm>

namespace
{
struct DialogClass
{
    UINT nTemplate;
    CRuntimeClass* pClass; // RUNTIME_CLASS compiles only for a class with DECLARE_DYNAMIC
    const char* pszName;
};

const DialogClass kDialogs[] = {
    {IDD_XTRM_USER_MANAGEMENT, RUNTIME_CLASS(XTRmUserManagementDlg), "XTRmUserManagementDlg"},
    {IDD_XTRM_ADD_USER, RUNTIME_CLASS(XTRmAddUserDlg), "XTRmAddUserDlg"},
    {IDD_XTRM_SHOW_SETTINGS, RUNTIME_CLASS(XTRmShowSettingsDlg), "XTRmShowSettingsDlg"},
    {IDD_XTRM_CHANGE_PASSWORD, RUNTIME_CLASS(XTRmChangePasswordDlg), "XTRmChangePasswordDlg"},
    {IDD_XTRM_AUDIT_TRAIL, RUNTIME_CLASS(XTRmAuditTrailDlg), "XTRmAuditTrailDlg"},
    {IDD_XTRM_USER_LOGIN, RUNTIME_CLASS(XTRmUserLoginDlg), "XTRmUserLoginDlg"},
    {IDD_XTRM_NG_USER_LOGIN, RUNTIME_CLASS(XTRmNGUserLoginDlg), "XTRmNGUserLoginDlg"},
    {IDD_XTRM_USER_LOGIN_HDR, RUNTIME_CLASS(XTRmUserLoginHdrDlg), "XTRmUserLoginHdrDlg"},
    {IDD_XTRM_USER_LOGIN_HDR_NG, RUNTIME_CLASS(XTRmUserLoginHdrDlg), "XTRmUserLoginHdrDlg"},
    {IDD_XTRM_SOURCE_SELECTOR, RUNTIME_CLASS(XTRmRestrictionSourceSelectorDlg), "XTRmRestrictionSourceSelectorDlg"},
    {IDD_XTRM_CONNECTION_SETTINGS, RUNTIME_CLASS(XTRmConnectionSettingsDlg), "XTRmConnectionSettingsDlg"},
    {IDD_XTRM_SIGNATURE, RUNTIME_CLASS(XTRmSignatureDlg), "XTRmSignatureDlg"},
    {IDD_XTRM_EXPIRED_PASSWORD, RUNTIME_CLASS(XTRmChangePasswordDlg), "XTRmChangePasswordDlg"},
    {IDD_XTRM_LOCK, RUNTIME_CLASS(XTRmLockDlg), "XTRmLockDlg"},
};

BOOL CALLBACK CollectDialog(HMODULE, LPCWSTR, LPWSTR lpszName, LONG_PTR lParam)
{
    if (IS_INTRESOURCE(lpszName))
        reinterpret_cast<std::vector<UINT>*>(lParam)->push_back(
            static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpszName)));
    return TRUE;
}
} // namespace

TEST(XTRmDialogClasses, EveryDialogHasItsOwnRunTimeClass)
{
    for (const DialogClass& dialog : kDialogs)
    {
        EXPECT_STREQ(dialog.pszName, dialog.pClass->m_lpszClassName);
        EXPECT_TRUE(dialog.pClass->IsDerivedFrom(RUNTIME_CLASS(CDialog))) << dialog.pszName;
        EXPECT_NE(RUNTIME_CLASS(CDialog), dialog.pClass) << dialog.pszName;
    }
}

TEST(XTRmDialogClasses, EveryReferenceTemplateBelongsToADialogAndTheRobotCanCloseIt)
{
    // The templates the test host links, that is the reference resources.
    std::vector<UINT> vecTemplates;
    ::EnumResourceNamesW(
        ::GetModuleHandleW(nullptr), RT_DIALOG, CollectDialog, reinterpret_cast<LONG_PTR>(&vecTemplates));
    ASSERT_FALSE(vecTemplates.empty());
    for (UINT nTemplate : vecTemplates)
    {
        SCOPED_TRACE(testing::Message() << "template " << nTemplate);
        EXPECT_TRUE(std::any_of(std::begin(kDialogs), std::end(kDialogs), [&](const DialogClass& dialog) {
            return dialog.nTemplate == nTemplate;
        })) << "a template without a dialog class in the table";

        // The template alone, as the robot meets it: a visible, enabled
        // Cancel or OK button must be there to press.
        int nClosedWith = 0;
        XTRmUiRobot robot;
        robot.Expect("CDialog", [&](XTRmDialogDriver& d) {
            nClosedWith = d.HasControl(IDCANCEL) ? IDCANCEL : IDOK;
            d.Click(nClosedWith);
        });
        CDialog dlg(nTemplate, nullptr);
        const INT_PTR nResult = dlg.DoModal();
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(nClosedWith, nResult);
    }
}
