// Password hashes and the password policy of the rights service.
#pragma once

#include "XTRmsPasswordServiceBase.h"

#include <string>

struct XTRmsPasswordHash
{
    std::wstring strHashHex;
    std::wstring strSaltHex;
    unsigned int nIterations = 0;
};

namespace XTRmsPassword
{
// PBKDF2-HMAC-SHA256 with a fresh 16-byte salt.
bool Hash(const std::wstring& strPassword, unsigned int nIterations, XTRmsPasswordHash* pHash);

// Compares in constant time. Without a stored hash (unknown user, no
// password set) it still derives a key of the same cost and answers false,
// so that the time taken tells nothing.
bool Verify(const std::wstring& strPassword, const std::wstring& strHashHex, const std::wstring& strSaltHex,
    unsigned int nIterations);

// The policy: at least nMinLength characters and not containing the user
// name, compared without regard to case.
Rms::ERmsPasswordResult CheckPolicy(
    const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nMinLength);
// A sentence for the console tool and the service's messages.
std::wstring DescribeRefusal(Rms::ERmsPasswordResult nResult, unsigned int nMinLength);

// Not empty, at most 256 characters, no control characters.
bool IsValidUserName(const std::wstring& strUserName);
} // namespace XTRmsPassword
