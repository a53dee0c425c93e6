// The password policy of the rights service: what a new password must be,
// checked on the workstation before any hashing (a rights server never sees
// the password itself).
#pragma once

#include "XTRmsPasswordServiceBase.h"

#include <string>

namespace XTRmsPassword
{
// The policy: at least nMinLength characters and not containing the user
// name, compared without regard to case.
Rms::ERmsPasswordResult CheckPolicy(
    const std::wstring& strUserName, const std::wstring& strPassword, unsigned int nMinLength);
// A sentence for the console tool and the service's messages.
std::wstring DescribeRefusal(Rms::ERmsPasswordResult nResult, unsigned int nMinLength);
} // namespace XTRmsPassword
