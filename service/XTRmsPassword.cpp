#include "XTRmsPassword.h"

#include "XTRmsCrypto.h"

#include <windows.h>

namespace
{
const size_t kSaltBytes = 16;
const size_t kKeyBytes = 32;
// Iterations of a stored hash beyond this are taken for a damaged row rather
// than let one login take hours.
const unsigned int kMaxIterations = 10000000;

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
bool Hash(const std::wstring& strPassword, unsigned int nIterations, XTRmsPasswordHash* pHash)
{
    std::vector<unsigned char> vecSalt = XTRmsCrypto::RandomBytes(kSaltBytes);
    if (vecSalt.size() != kSaltBytes || nIterations == 0)
        return false;
    std::vector<unsigned char> vecKey = XTRmsCrypto::Pbkdf2Sha256(strPassword, vecSalt, nIterations, kKeyBytes);
    if (vecKey.size() != kKeyBytes)
        return false;
    pHash->strHashHex = XTRmsCrypto::ToHex(vecKey);
    pHash->strSaltHex = XTRmsCrypto::ToHex(vecSalt);
    pHash->nIterations = nIterations;
    XTRmsCrypto::Wipe(vecKey);
    return true;
}

bool Verify(const std::wstring& strPassword, const std::wstring& strHashHex, const std::wstring& strSaltHex,
    unsigned int nIterations)
{
    std::vector<unsigned char> vecExpected;
    std::vector<unsigned char> vecSalt;
    bool bUsable = !strHashHex.empty() && XTRmsCrypto::FromHex(strHashHex, &vecExpected) &&
        XTRmsCrypto::FromHex(strSaltHex, &vecSalt) && vecExpected.size() == kKeyBytes && !vecSalt.empty() &&
        nIterations > 0 && nIterations <= kMaxIterations;
    if (!bUsable)
    {
        vecExpected.assign(kKeyBytes, 0);
        vecSalt.assign(kSaltBytes, 0);
        if (nIterations == 0 || nIterations > kMaxIterations)
            nIterations = 1;
    }
    std::vector<unsigned char> vecKey = XTRmsCrypto::Pbkdf2Sha256(strPassword, vecSalt, nIterations, kKeyBytes);
    bool bEqual = XTRmsCrypto::ConstantTimeEqual(vecKey, vecExpected);
    XTRmsCrypto::Wipe(vecKey);
    return bUsable && bEqual && !strPassword.empty();
}

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

bool IsValidUserName(const std::wstring& strUserName)
{
    if (strUserName.empty() || strUserName.size() > 256)
        return false;
    for (wchar_t ch : strUserName)
    {
        if (ch < 0x20 || ch == 0x7F)
            return false;
    }
    return true;
}
} // namespace XTRmsPassword
