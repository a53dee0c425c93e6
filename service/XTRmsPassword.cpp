#include "XTRmsPassword.h"

#include "XTRmsCrypto.h"

#include <windows.h>

namespace
{
std::wstring Lower(const std::wstring& strText)
{
    std::wstring strLower = strText;
    if (!strLower.empty())
        CharLowerBuffW(&strLower[0], static_cast<DWORD>(strLower.size()));
    return strLower;
}
} // namespace

namespace XTRmsPassword
{
Rms::ERmsPasswordResult CheckPolicy(
    const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nMinLength)
{
    if (strPassword.size() < nMinLength || strPassword.empty())
        return Rms::ERmsPasswordTooShort;
    std::wstring strLowerPassword = Lower(strPassword);
    bool bContains = !strUserName.empty() && strLowerPassword.find(Lower(strUserName)) != std::wstring::npos;
    XTRmsCrypto::Wipe(strLowerPassword);
    return bContains ? Rms::ERmsPasswordContainsUserName : Rms::ERmsPasswordOk;
}

std::wstring DescribeRefusal(Rms::ERmsPasswordResult nResult, unsigned int nMinLength)
{
    switch (nResult)
    {
    case Rms::ERmsPasswordOk:
        return L"The password was accepted.";
    case Rms::ERmsPasswordWrongOld:
        return L"The old password is not correct.";
    case Rms::ERmsPasswordTooShort:
        return L"The password must have at least " + std::to_wstring(nMinLength) + L" characters.";
    case Rms::ERmsPasswordTooLong:
        return L"The password must have at most 1024 characters.";
    case Rms::ERmsPasswordContainsUserName:
        return L"The password must not contain the user name.";
    case Rms::ERmsPasswordNotPermitted:
        return L"Only an administrator may set another user's password.";
    case Rms::ERmsPasswordUnknownUser:
        return L"There is no such user.";
    default:
        return L"The password could not be stored.";
    }
}

} // namespace XTRmsPassword
