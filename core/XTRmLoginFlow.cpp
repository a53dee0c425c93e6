// The login flow: asks for a user name and a password, hands them to the
// rights service and reports every refused login until the user is logged in
// or gives up.
#include <afxwin.h>

#include "XTRmChangePasswordDlg.h"
#include "XTRmLoginDlgControls.h"
#include "XTRmNGUserLoginDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTSecret.h"
#include "XTRmUserLoginDlg.h"
#include "XTRmUserLoginHdrDlg.h"

#include "XTTxtsTextService.h"

namespace
{
// One showing of a login dialog: what the user confirmed, read whatever the
// dialog ended with.
template <typename TLoginDlg>
INT_PTR ShowLoginDlg(TLoginDlg& dlg, std::wstring& strUserName, std::wstring& strPassword)
{
    INT_PTR nResult = dlg.DoModal();
    strUserName = dlg.GetUserName();
    strPassword = dlg.GetPassword();
    return nResult;
}

// Wipes the password it guards when it goes out of scope, whichever way the
// scope is left: a rights service that throws from UserLogin must not leave
// the typed password behind in freed memory.
class PasswordWiper
{
public:
    explicit PasswordWiper(std::wstring& strPassword) : m_strPassword(strPassword) {}
    ~PasswordWiper() { XTSecret::Wipe(m_strPassword); }
    PasswordWiper(const PasswordWiper&) = delete;
    PasswordWiper& operator=(const PasswordWiper&) = delete;

private:
    std::wstring& m_strPassword;
};

struct LoginRefusal
{
    Rms::ERmsLoginResult nResult;
    unsigned int nTextId;
    UINT nType;
};

// The refusals the library explains itself; note that 5 and 6 do not follow
// the order of their texts.
const LoginRefusal kLoginRefusals[] = {
    {Rms::ERmsLoginWrongPassword, IDS_XTRM_LOGIN_WRONG_PASSWORD, MB_ICONEXCLAMATION},
    {Rms::ERmsLoginUnknownUser, IDS_XTRM_LOGIN_UNKNOWN_USER, MB_ICONEXCLAMATION},
    {Rms::ERmsLoginUserLocked, IDS_XTRM_LOGIN_USER_LOCKED, MB_ICONHAND},
    {Rms::ERmsLoginServerRefused, IDS_XTRM_LOGIN_SERVER_REFUSED, MB_ICONHAND},
    {Rms::ERmsLoginPasswordExpired, IDS_XTRM_LOGIN_PASSWORD_EXPIRED, MB_ICONEXCLAMATION},
    {Rms::ERmsLoginNoLicense, IDS_XTRM_LOGIN_NO_LICENSE, MB_ICONHAND},
    {Rms::ERmsLoginSourceUnavailable, IDS_XTRM_LOGIN_SOURCE_UNAVAILABLE, MB_ICONHAND},
    {Rms::ERmsLoginGuestNotAllowed, IDS_XTRM_LOGIN_GUEST_NOT_ALLOWED, MB_ICONHAND},
    {Rms::ERmsLoginTooManyUsers, IDS_XTRM_LOGIN_TOO_MANY_USERS, MB_ICONHAND},
    {Rms::ERmsLoginAccountDisabled, IDS_XTRM_LOGIN_ACCOUNT_DISABLED, MB_ICONHAND},
};
} // namespace

Rms::ERmsLoginResult XTRmRestrictionManager::ShowUserLoginDlg(
    const std::wstring& strUserName, const std::wstring& strPassword, bool bGuestLoginOffered)
{
    const bool bGuestLoginAllowed = bGuestLoginOffered && ms_pRestrictionManagerService->IsGuestLoginAllowed();
    const unsigned int nBackgroundImageID = static_cast<unsigned int>(GetApplicationBackgroundImageID());

    // Every attempt gets a fresh dialog with the proposals of this call, not
    // what the user typed last time.
    for (;;)
    {
        const std::wstring strCaption = Txts::GetString(IDS_XTRM_LOGIN_CAPTION);
        std::wstring strEnteredUserName;
        std::wstring strEnteredPassword;
        const PasswordWiper wiper(strEnteredPassword);
        INT_PTR nResult = IDCANCEL;
        if (nBackgroundImageID != 0)
        {
            XTRmUserLoginHdrDlg dlg(
                strCaption, strUserName, strPassword, nullptr, bGuestLoginAllowed, nBackgroundImageID);
            nResult = ShowLoginDlg(dlg, strEnteredUserName, strEnteredPassword);
        }
        else if (bGuestLoginAllowed)
        {
            XTRmUserLoginDlg dlg(strCaption, strUserName, strPassword, nullptr, true);
            nResult = ShowLoginDlg(dlg, strEnteredUserName, strEnteredPassword);
        }
        else
        {
            XTRmNGUserLoginDlg dlg(strCaption, strUserName, strPassword, nullptr);
            nResult = ShowLoginDlg(dlg, strEnteredUserName, strEnteredPassword);
        }

        if (nResult != IDOK)
            return Rms::ERmsLoginCancelled;
        const Rms::ERmsLoginResult nLoginResult = ms_pRestrictionManagerService->UserLogin(
            strEnteredUserName, strEnteredPassword);
        // The user changes an expired password at once and is then logged
        // in; cancelled, it ends as the refusal it was. A guest has none.
        if (nLoginResult == Rms::ERmsLoginPasswordExpired && !strEnteredUserName.empty() &&
            ChangeExpiredPassword(strEnteredUserName, strEnteredPassword))
            return Rms::ERmsLoginOk;
        // Not kept while a refusal is on the screen.
        XTSecret::Wipe(strEnteredPassword);
        if (HandleUserLoginResult(nLoginResult))
            return Rms::ERmsLoginOk;
    }
}

bool XTRmRestrictionManager::ChangeExpiredPassword(const std::wstring& strUserName, std::wstring& strPassword)
{
    // A service without passwords cannot change one: its refusal stays.
    XTRmsPasswordServiceBase* pPasswordService = dynamic_cast<XTRmsPasswordServiceBase*>(ms_pRestrictionManagerService);
    if (pPasswordService == nullptr)
        return false;
    // Like the login dialogs, no parent: the host may have no window yet.
    XTRmChangePasswordDlg dlg(pPasswordService, strUserName, strPassword, nullptr);
    // The dialog holds its own copy from here on.
    XTSecret::Wipe(strPassword);
    return dlg.DoModal() == IDOK;
}

bool XTRmRestrictionManager::SendUserLogin(const std::wstring& strUserName, const std::wstring& strPassword)
{
    return HandleUserLoginResult(ms_pRestrictionManagerService->UserLogin(strUserName, strPassword));
}

bool XTRmRestrictionManager::SendUserReLogin()
{
    return HandleUserLoginResult(ms_pRestrictionManagerService->ReconnectToRestrictionSource());
}

bool XTRmRestrictionManager::HandleUserLoginResult(const Rms::ERmsLoginResult& nResult)
{
    if (nResult == Rms::ERmsLoginOk)
        return true;

    for (const LoginRefusal& refusal : kLoginRefusals)
    {
        if (refusal.nResult == nResult)
        {
            AfxMessageBox(Txts::GetString(refusal.nTextId).c_str(), MB_OK | refusal.nType, 0);
            return false;
        }
    }

    // A reason the library does not know: the server's own words.
    std::wstring strServerMessage = ms_pRestrictionManagerService->GetLastServerMessage();
    if (strServerMessage.empty())
        strServerMessage = Txts::GetString(IDS_XTRM_NO_SERVER_MESSAGE);
    const std::wstring strMessage = Txts::GetString(IDS_XTRM_LOGIN_SERVER_REFUSED) + L" (" + strServerMessage + L")";
    AfxMessageBox(strMessage.c_str(), MB_OK | MB_ICONHAND, 0);
    return false;
}
