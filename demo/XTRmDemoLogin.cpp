#include "XTRmDemoLogin.h"

#include "XTRmDemoApp.h"

#include "XTRmResourceIds.h"
#include "XTRmUiRobot.h"

#include <cstdio>
#include <string>

namespace
{
// The demo service has the header picture and allows guests, so its login
// dialog is the header variant with the guest choice.
const char* const LOGIN_DIALOG = "XTRmUserLoginHdrDlg";
const wchar_t* const USER = L"admin";

void Screenshot(XTRmDemoApp& app, const XTRmDialogDriver& d, const wchar_t* pszFileName)
{
    std::wstring strPath = app.OutputPath(pszFileName);
    std::printf("%s %ls\n", d.SaveScreenshot(strPath) ? "screenshot" : "screenshot failed", strPath.c_str());
}
} // namespace

void XTRmDemoLogin::ExpectLogin(XTRmUiRobot& robot, XTRmDemoApp& app)
{
    robot.Expect(LOGIN_DIALOG, [&app](XTRmDialogDriver& d) {
        d.SetText(IDC_XTRM_LOGIN_USER_NAME, USER);
        d.Type(IDC_XTRM_LOGIN_PASSWORD, L"guess");
        Screenshot(app, d, L"login-wrong-password.png");
        d.PressOK();
    });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        std::printf("login refused: \"%ls\"\n", box.GetMessageText().c_str());
        box.PressOK();
    });
    robot.Expect(LOGIN_DIALOG, [&app](XTRmDialogDriver& d) {
        d.SetText(IDC_XTRM_LOGIN_USER_NAME, USER);
        d.Type(IDC_XTRM_LOGIN_PASSWORD, XTRmDemoService::DemoPassword());
        Screenshot(app, d, L"login-right-password.png");
        d.PressOK();
    });
}
