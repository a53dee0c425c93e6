// Signing in to the rights service: the login on a SQLite store (decided
// here, with lockout that counts unknown names like real ones) and on a
// rights server (decided there), the guest login, and the credentials they
// rest on. Every login costs one key derivation whatever the account, so
// that time tells nothing about which names exist.
#pragma once

#include "XTRmsPasswordServiceBase.h"
#include "XTRmsServerLink.h"
#include "XTRmsStore.h"
#include "XTRmsTypes.h"
#include "XTRmsWorkingCopy.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

// Who a successful sign-in made the session's user.
struct XTRmsSignedIn
{
    bool bGuest = false;
    bool bSuperUser = false;
    std::wstring strUserName;
    std::wstring strToken; // the rights server's session; empty on SQLite
    std::set<int> setRights;
};

class XTRmsSignIn
{
public:
    // Unix seconds, for lockout periods.
    using Clock = std::function<long long()>;
    // PBKDF2-HMAC-SHA256 giving 32 bytes, or empty on failure.
    using KeyDerivation = std::function<std::vector<unsigned char>(
        const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations)>;

    // Empty seams mean the system's clock and key derivation. The
    // workstation and its OS user are what the audit rows record.
    XTRmsSignIn(Clock fnClock, KeyDerivation fnDeriveKey, std::wstring strWorkstation, std::wstring strOsUser);

    long long Now() const { return m_fnClock(); }
    // Locked now: until a time still ahead, or until an administrator unlocks.
    bool IsLocked(const XTRmsStoredUser& user) const;
    std::vector<unsigned char> DeriveKey(
        const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations) const;
    // A fresh salt and the derived key, as hex, for a new password.
    [[nodiscard]] bool NewCredential(const std::wstring& strPassword, unsigned int nIterations,
        std::wstring* pstrSaltHex, std::wstring* pstrKeyHex) const;
    // What a store keeps of a derived key: its hash; empty for malformed hex.
    static std::wstring StoredHashOf(const std::wstring& strKeyHex);
    // Whether strPassword is the one a SQLite store holds for the user.
    [[nodiscard]] bool IsPasswordOf(const XTRmsStoredUser& user, const std::wstring& strPassword) const;

    // Whether the user must change the password before a session opens:
    // marked so, or older than the policy's maximum age.
    bool IsExpired(const XTRmsStoredUser& user, const XTRmsPolicy& policy) const;
    // Whether strPassword is the user's current one or one of the kept ones.
    [[nodiscard]] bool IsReused(const XTRmsStoredUser& user, const std::vector<XTRmsStoredHash>& vecHistory,
        const std::wstring& strPassword) const;

    // Inside the write transaction, once name and password proved right on
    // an enabled, unlocked account (its failures already cleared): records
    // what the caller does and sets the answer.
    using Proven = std::function<bool(const XTRmsStoredUser& current, Rms::ERmsLoginResult* pnResult)>;
    // A name and password checked as a login checks them, with one key
    // derivation, failures counted and locking, refusals audited under
    // pszRefused; fnProven decides the rest. *pUser is the account as stored.
    [[nodiscard]] Rms::ERmsLoginResult LocalCheck(XTRmsStore& store, const XTRmsPolicy& policy,
        const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszRefused,
        const Proven& fnProven, XTRmsStoredUser* pUser, std::wstring* pstrProblem) const;

    // The logins. The name is in NFC, or a stand-in that cannot exist. Only
    // a store that cannot be read or reached sets *pstrProblem.
    [[nodiscard]] Rms::ERmsLoginResult LocalLogin(XTRmsStore& store, const XTRmsPolicy& policy,
        const XTRmsWorkingCopy& workingCopy, const std::wstring& strUserName, const std::wstring& strPassword,
        XTRmsSignedIn* pSignedIn, std::wstring* pstrProblem) const;
    [[nodiscard]] Rms::ERmsLoginResult LocalGuestLogin(
        XTRmsStore& store, const XTRmsPolicy& policy, XTRmsSignedIn* pSignedIn) const;
    [[nodiscard]] Rms::ERmsLoginResult ServerLogin(XTRmsServerLink& server, const XTRmsPolicy& policy,
        const std::wstring& strUserName, const std::wstring& strPassword, XTRmsSignedIn* pSignedIn,
        std::wstring* pstrProblem) const;

private:
    // Runs fnWork in one write transaction; false unless all of it landed.
    template <typename Work>
    [[nodiscard]] static bool Write(XTRmsStore& store, Work fnWork);
    [[nodiscard]] bool Audit(XTRmsStore& store, const std::wstring& strActor, const wchar_t* pszEvent,
        const std::wstring& strSubject, const std::wstring& strDetail) const;
    // A hash made with fewer iterations than the policy now asks for is made
    // anew while the password is at hand; the login stands either way.
    void LocalRehash(XTRmsStore& store, const XTRmsPolicy& policy, const std::wstring& strUserName,
        const std::wstring& strPassword, unsigned int nOldIterations) const;

    Clock m_fnClock;
    KeyDerivation m_fnDeriveKey;
    std::wstring m_strWorkstation;
    std::wstring m_strOsUser;
};
