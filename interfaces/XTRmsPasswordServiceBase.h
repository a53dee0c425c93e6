// Passwords: an optional interface that a rights service may implement beside
// XTRmsRestrictionManagerServiceBase. XTRm finds it with dynamic_cast and
// offers the change-password dialog only when the service has it.
#pragma once

#include <string>
#include <vector>

namespace Rms
{
// Result of a password change; every refusal has its own text in the host's
// resources.
enum ERmsPasswordResult : int
{
    ERmsPasswordOk = 0,
    // The old password given for one's own change is not the user's.
    ERmsPasswordWrongOld = 1,
    // Shorter than the service's minimum length.
    ERmsPasswordTooShort = 2,
    // Contains the user name (compared without regard to case).
    ERmsPasswordContainsUserName = 3,
    // Nobody is logged in, a guest is, or another user's password was to be
    // set by someone who is not an administrator.
    ERmsPasswordNotPermitted = 4,
    // No such user in the store.
    ERmsPasswordUnknownUser = 5,
    // The store could not be written; nothing changed.
    ERmsPasswordStoreFailed = 6,
    // Longer than any password the service takes (refused before hashing).
    ERmsPasswordTooLong = 7,
    // One of the user's last passwords (the policy's history), or the
    // current one.
    ERmsPasswordReused = 8,
    // The current password is younger than the policy's minimum age.
    ERmsPasswordTooRecent = 9,
    // The account is locked or disabled: no change until an administrator acts.
    ERmsPasswordAccountLocked = 10
};
} // namespace Rms

class XTRmsPasswordServiceBase
{
public:
    virtual ~XTRmsPasswordServiceBase() = default;

    // The user logged in now; empty for a guest or before any login.
    virtual std::wstring GetLoggedInUserName() const = 0;
    // True when the logged-in user may set other users' passwords.
    virtual bool CanSetOtherPasswords() const = 0;
    // The shortest password the policy accepts.
    virtual unsigned int GetMinPasswordLength() const = 0;
    // The logged-in user's own change; the old password is required.
    virtual Rms::ERmsPasswordResult ChangeOwnPassword(
        const std::wstring& strOldPassword, const std::wstring& strNewPassword) = 0;
    // An administrator sets another user's password (no old one needed).
    virtual Rms::ERmsPasswordResult SetUserPassword(
        const std::wstring& strUserName, const std::wstring& strNewPassword) = 0;
    // After UserLogin answered ERmsLoginPasswordExpired (the password is
    // older than the policy allows, or must be changed at this login): the
    // user changes it with the password he just typed, which the service
    // checks again (a wrong one counts toward lockout). ERmsPasswordOk means
    // the password is changed and the user is logged in, as after
    // ERmsLoginOk. A service whose passwords never expire keeps the default.
    virtual Rms::ERmsPasswordResult ChangeExpiredPassword(const std::wstring& /*strUserName*/,
        const std::wstring& /*strOldPassword*/, const std::wstring& /*strNewPassword*/)
    {
        return Rms::ERmsPasswordNotPermitted;
    }
};
