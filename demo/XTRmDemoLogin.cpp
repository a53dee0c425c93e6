#include "XTRmDemoLogin.h"

#include "XTRmDemoApp.h"
#include "XTRmDemoStore.h"

#include "XTRmResourceIds.h"
#include "XTRmUiRobot.h"

#include "XTTxtsTextService.h"

#include <cstdio>
#include <string>

namespace
{
// The demo service has the header picture and allows guests, so its login
// dialog is the header variant with the guest choice.
const char* const kLoginDialog = "XTRmUserLoginHdrDlg";
// The account that locks; the service locks at the fifth failure in a row.
const wchar_t* const kLockedUser = L"bob";

struct LoginAttempt
{
    const wchar_t* pszUserName;
    bool bRightPassword;
    // The refusal the user must read; 0 for a login that succeeds.
    unsigned int nRefusalTextId;
    // Name of an extra screenshot of the filled-in dialog, or of the refusal.
    const wchar_t* pszDialogShot;
    const wchar_t* pszRefusalShot;
};

const LoginAttempt kLoginAttempts[] = {
    {L"admin", false, IDS_XTRM_LOGIN_WRONG_PASSWORD, L"login-wrong-password.png", nullptr},
    {kLockedUser, false, IDS_XTRM_LOGIN_WRONG_PASSWORD, nullptr, nullptr},
    {kLockedUser, false, IDS_XTRM_LOGIN_WRONG_PASSWORD, nullptr, nullptr},
    {kLockedUser, false, IDS_XTRM_LOGIN_WRONG_PASSWORD, nullptr, nullptr},
    {kLockedUser, false, IDS_XTRM_LOGIN_WRONG_PASSWORD, nullptr, nullptr},
    {kLockedUser, false, IDS_XTRM_LOGIN_USER_LOCKED, nullptr, L"login-account-locked.png"},
    // Locked means locked: the right password does not open it either.
    {kLockedUser, true, IDS_XTRM_LOGIN_USER_LOCKED, L"login-locked-right-password.png", nullptr},
    {L"admin", true, 0, L"login-right-password.png", nullptr},
};

void Screenshot(XTRmDemoApp& app, const XTRmDialogDriver& d, const wchar_t* pszFileName)
{
    std::wstring strPath = app.OutputPath(pszFileName);
    std::printf("%s %ls\n", d.SaveScreenshot(strPath) ? "screenshot" : "screenshot failed", strPath.c_str());
}
} // namespace

void XTRmDemoLogin::ExpectLogin(XTRmUiRobot& robot, XTRmDemoApp& app)
{
    int nAttempt = 0;
    for (const LoginAttempt& attempt : kLoginAttempts)
    {
        ++nAttempt;
        robot.Expect(kLoginDialog, [&app, attempt, nAttempt](XTRmDialogDriver& d) {
            // Until somebody has logged in, the workstation shows nobody's
            // profile: the rights service itself keeps them back.
            const size_t nProfiles = app.GetService().GetAllDefinedUsers().size();
            if (nAttempt == 1)
                std::printf("user profiles seen before the login: %zu\n", nProfiles);
            if (nAttempt == 1 && nProfiles != 0)
                d.Fail("the workstation shows user profiles before anybody logged in");
            d.SetText(IDC_XTRM_LOGIN_USER_NAME, attempt.pszUserName);
            d.Type(IDC_XTRM_LOGIN_PASSWORD,
                attempt.bRightPassword ? XTRmDemoAccountPassword(attempt.pszUserName) : std::wstring(L"guess-1234"));
            if (attempt.pszDialogShot != nullptr)
                Screenshot(app, d, attempt.pszDialogShot);
            d.PressOK();
        });
        if (attempt.nRefusalTextId == 0)
            continue;
        robot.ExpectMessageBox([&app, attempt, nAttempt](XTRmDialogDriver& box) {
            const std::wstring strText = box.GetMessageText();
            std::printf("login %d as %ls refused: \"%ls\"\n", nAttempt, attempt.pszUserName, strText.c_str());
            if (strText != Txts::GetString(attempt.nRefusalTextId))
            {
                const std::wstring strExpected = Txts::GetString(attempt.nRefusalTextId);
                box.Fail("login " + std::to_string(nAttempt) + ": expected \"" +
                    std::string(strExpected.begin(), strExpected.end()) + "\"");
            }
            if (attempt.pszRefusalShot != nullptr)
                Screenshot(app, box, attempt.pszRefusalShot);
            box.PressOK();
        });
    }
}

bool XTRmDemoLogin::LiftLock(XTRmsService& service)
{
    return XTRmDemoStore::LiftLock(service, kLockedUser);
}
