// Every reference dialog template has a button that closes it, so that the
// robot (and a person) can always leave it. That each dialog class is met by
// its own run-time class shows in the suites that drive it by name.
#include "XTRmAdminTestFixture.h"

namespace
{
BOOL CALLBACK CollectDialog(HMODULE, LPCWSTR, LPWSTR lpszName, LONG_PTR lParam)
{
    if (IS_INTRESOURCE(lpszName))
        reinterpret_cast<std::vector<UINT>*>(lParam)->push_back(
            static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpszName)));
    return TRUE;
}
} // namespace

TEST(XTRmDialogTemplates, EveryReferenceTemplateCanBeClosedByTheRobot)
{
    // The templates the test host links, that is the reference resources.
    std::vector<UINT> vecTemplates;
    ::EnumResourceNamesW(
        ::GetModuleHandleW(nullptr), RT_DIALOG, CollectDialog, reinterpret_cast<LONG_PTR>(&vecTemplates));
    ASSERT_GE(vecTemplates.size(), 14u);
    for (UINT nTemplate : vecTemplates)
    {
        SCOPED_TRACE(testing::Message() << "template " << nTemplate);
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
