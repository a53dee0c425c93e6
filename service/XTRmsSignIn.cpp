#include "XTRmsSignIn.h"

#include "XTRmsCrypto.h"

#include <utility>

namespace
{
const size_t kSaltBytes = 16;
const size_t kKeyBytes = 32;
// More iterations than any policy sets: a stored count above it is damage.
const unsigned int kMaxStoredIterations = 10000000;

std::vector<unsigned char> SystemDeriveKey(
    const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations)
{
    return XTRmsCrypto::Pbkdf2Sha256(strPassword, vecSalt, nIterations, kKeyBytes);
}
} // namespace

XTRmsSignIn::XTRmsSignIn(Clock fnClock, KeyDerivation fnDeriveKey, std::wstring strWorkstation, std::wstring strOsUser)
    : m_fnClock(fnClock ? std::move(fnClock) : Clock(&XTRmsStore::NowUnixSeconds)),
      m_fnDeriveKey(fnDeriveKey ? std::move(fnDeriveKey) : KeyDerivation(&SystemDeriveKey)),
      m_strWorkstation(std::move(strWorkstation)), m_strOsUser(std::move(strOsUser))
{
}

bool XTRmsSignIn::IsLocked(const XTRmsStoredUser& user) const
{
    return user.nLockedUntil < 0 || user.nLockedUntil > m_fnClock();
}

std::vector<unsigned char> XTRmsSignIn::DeriveKey(
    const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations) const
{
    return m_fnDeriveKey(strPassword, vecSalt, nIterations);
}

bool XTRmsSignIn::NewCredential(const std::wstring& strPassword, unsigned int nIterations, std::wstring* pstrSaltHex,
    std::wstring* pstrKeyHex) const
{
    std::vector<unsigned char> vecSalt = XTRmsCrypto::RandomBytes(kSaltBytes);
    if (vecSalt.size() != kSaltBytes)
        return false;
    std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, nIterations);
    if (vecKey.size() != kKeyBytes)
        return false;
    *pstrSaltHex = XTRmsCrypto::ToHex(vecSalt);
    *pstrKeyHex = XTRmsCrypto::ToHex(vecKey);
    XTRmsCrypto::Wipe(vecKey);
    return true;
}

std::wstring XTRmsSignIn::StoredHashOf(const std::wstring& strKeyHex)
{
    std::vector<unsigned char> vecKey;
    if (!XTRmsCrypto::FromHex(strKeyHex, &vecKey))
        return std::wstring();
    std::wstring strHash = XTRmsCrypto::ToHex(XTRmsCrypto::Sha256(vecKey.data(), vecKey.size()));
    XTRmsCrypto::Wipe(vecKey);
    return strHash;
}

bool XTRmsSignIn::IsPasswordOf(const XTRmsStoredUser& user, const std::wstring& strPassword) const
{
    std::vector<unsigned char> vecSalt;
    std::vector<unsigned char> vecStored;
    if (!XTRmsCrypto::FromHex(user.strSaltHex, &vecSalt) || !XTRmsCrypto::FromHex(user.strHashHex, &vecStored))
        return false;
    std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, user.nIterations);
    std::vector<unsigned char> vecHash = vecKey.empty() ? std::vector<unsigned char>()
                                                        : XTRmsCrypto::Sha256(vecKey.data(), vecKey.size());
    XTRmsCrypto::Wipe(vecKey);
    return !strPassword.empty() && XTRmsCrypto::ConstantTimeEqual(vecHash, vecStored);
}

template <typename Work>
bool XTRmsSignIn::Write(XTRmsStore& store, Work fnWork)
{
    XTRmsScopedTransaction transaction(store);
    // Anything short of the commit rolls back as the transaction ends.
    return transaction.IsOpen() && fnWork() && transaction.Commit();
}

bool XTRmsSignIn::Audit(XTRmsStore& store, const std::wstring& strActor, const wchar_t* pszEvent,
    const std::wstring& strSubject, const std::wstring& strDetail) const
{
    return store.AppendAudit(m_strWorkstation, m_strOsUser, strActor, pszEvent, strSubject, strDetail);
}

bool XTRmsSignIn::IsExpired(const XTRmsStoredUser& user, const XTRmsPolicy& policy) const
{
    return user.bMustChange ||
        (policy.nMaxPasswordAgeDays != 0 &&
            m_fnClock() - user.nPasswordChanged >= static_cast<long long>(policy.nMaxPasswordAgeDays) * 86400);
}

bool XTRmsSignIn::IsReused(
    const XTRmsStoredUser& user, const std::vector<XTRmsStoredHash>& vecHistory, const std::wstring& strPassword) const
{
    if (!user.strHashHex.empty() && IsPasswordOf(user, strPassword))
        return true;
    for (const XTRmsStoredHash& hash : vecHistory)
    {
        XTRmsStoredUser earlier;
        earlier.strHashHex = hash.strHashHex;
        earlier.strSaltHex = hash.strSaltHex;
        earlier.nIterations = hash.nIterations;
        if (IsPasswordOf(earlier, strPassword))
            return true;
    }
    return false;
}

Rms::ERmsLoginResult XTRmsSignIn::LocalCheck(XTRmsStore& store, const XTRmsPolicy& policy,
    const std::wstring& strUserName, const std::wstring& strPassword, const wchar_t* pszRefused, const Proven& fnProven,
    XTRmsStoredUser* pUser, std::wstring* pstrProblem) const
{
    XTRmsStoredUser user;
    bool bFound = false;
    if (!store.ReadUser(strUserName, &user, &bFound))
    {
        *pstrProblem = L"The store cannot be read: " + store.GetLastErrorText();
        return Rms::ERmsLoginSourceUnavailable;
    }
    // The key is derived exactly once whatever the name, the account's state
    // or the password, so that time tells nothing.
    std::vector<unsigned char> vecSalt;
    std::vector<unsigned char> vecStored;
    unsigned int nIterations = policy.nPbkdf2Iterations;
    bool bHasPassword = bFound && !user.strHashHex.empty() && XTRmsCrypto::FromHex(user.strSaltHex, &vecSalt) &&
        XTRmsCrypto::FromHex(user.strHashHex, &vecStored) && vecStored.size() == kKeyBytes && user.nIterations > 0 &&
        user.nIterations <= kMaxStoredIterations;
    if (bHasPassword)
        nIterations = user.nIterations;
    else
        vecSalt.assign(kSaltBytes, 0);
    std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, nIterations);
    std::vector<unsigned char> vecKeyHash = vecKey.empty() ? std::vector<unsigned char>()
                                                           : XTRmsCrypto::Sha256(vecKey.data(), vecKey.size());
    XTRmsCrypto::Wipe(vecKey);
    bool bPasswordOk = bHasPassword && !strUserName.empty() && !strPassword.empty() &&
        XTRmsCrypto::ConstantTimeEqual(vecKeyHash, vecStored);

    const long long nNow = m_fnClock();
    Rms::ERmsLoginResult nResult = Rms::ERmsLoginSourceUnavailable;
    bool bWritten = Write(store, [&]() {
        // Decided under the write lock, on the state as stored now, so that
        // failures on several workstations at once all count.
        XTRmsStoredUser current;
        bool bStillThere = false;
        if (!store.ReadUser(strUserName, &current, &bStillThere))
            return false;
        auto nextFailure = [&](unsigned int nFailedBefore, long long nLockedUntil, bool* pbNowLocked,
                               long long* pnLockedUntil) {
            // A lock that has run out starts the count afresh.
            unsigned int nFailed = nLockedUntil > 0 && nLockedUntil <= nNow ? 1 : nFailedBefore + 1;
            *pbNowLocked = policy.nLockoutThreshold != 0 && nFailed >= policy.nLockoutThreshold;
            *pnLockedUntil = !*pbNowLocked ? 0 : policy.nLockoutSeconds == 0 ? -1 : nNow + policy.nLockoutSeconds;
            return nFailed;
        };
        if (!bFound || !bStillThere)
        {
            // Unknown names count and lock like real ones. The typed name is
            // not recorded: it may be a password typed into the wrong field.
            std::wstring strKey = XTRmsCrypto::Sha256Hex(L"xtrms-unknown-name:" + strUserName);
            unsigned int nFailedBefore = 0;
            long long nLockedUntil = 0;
            if (!store.ReadNameFailures(strKey, &nFailedBefore, &nLockedUntil))
                return false;
            if (nLockedUntil < 0 || nLockedUntil > nNow)
            {
                nResult = Rms::ERmsLoginUserLocked;
                return Audit(store, L"", pszRefused, L"", L"4 locked");
            }
            bool bNowLocked = false;
            long long nNewLockedUntil = 0;
            unsigned int nFailed = nextFailure(nFailedBefore, nLockedUntil, &bNowLocked, &nNewLockedUntil);
            nResult = bNowLocked            ? Rms::ERmsLoginUserLocked
                : policy.bReportUnknownUser ? Rms::ERmsLoginUnknownUser
                                            : Rms::ERmsLoginWrongPassword;
            return store.SetNameFailures(strKey, nFailed, nNewLockedUntil) &&
                Audit(store, L"", pszRefused, L"", L"2 unknown user");
        }
        if (IsLocked(current))
        {
            nResult = Rms::ERmsLoginUserLocked;
            return Audit(store, L"", pszRefused, strUserName, L"4 locked");
        }
        if (!bPasswordOk)
        {
            bool bNowLocked = false;
            long long nLockedUntil = 0;
            unsigned int nFailed = nextFailure(current.nFailedLogins, current.nLockedUntil, &bNowLocked, &nLockedUntil);
            nResult = bNowLocked ? Rms::ERmsLoginUserLocked : Rms::ERmsLoginWrongPassword;
            return store.SetLockState(strUserName, nFailed, nLockedUntil) &&
                Audit(store, L"", pszRefused, strUserName,
                    bNowLocked ? L"2 wrong password, now locked" : L"2 wrong password") &&
                (!bNowLocked ||
                    Audit(store, L"", L"user-locked", strUserName, std::to_wstring(nFailed) + L" failed logins"));
        }
        if (current.bDisabled)
        {
            nResult = Rms::ERmsLoginAccountDisabled;
            return Audit(store, L"", pszRefused, strUserName, L"11 disabled");
        }
        user = current;
        return store.SetLockState(strUserName, 0, 0) && fnProven(current, &nResult);
    });
    // A refusal whose audit row cannot be written is no answer at all.
    if (!bWritten)
        return Rms::ERmsLoginSourceUnavailable;
    *pUser = user;
    return nResult;
}

Rms::ERmsLoginResult XTRmsSignIn::LocalLogin(XTRmsStore& store, const XTRmsPolicy& policy,
    const XTRmsWorkingCopy& workingCopy, const std::wstring& strUserName, const std::wstring& strPassword,
    XTRmsSignedIn* pSignedIn, std::wstring* pstrProblem) const
{
    XTRmsStoredUser user;
    Rms::ERmsLoginResult nResult = LocalCheck(
        store, policy, strUserName, strPassword, L"login-refused",
        [&](const XTRmsStoredUser& current, Rms::ERmsLoginResult* pnResult) {
            // The right password of an expired account opens no session:
            // the user changes it first (ChangeExpiredPassword).
            if (IsExpired(current, policy))
            {
                *pnResult = Rms::ERmsLoginPasswordExpired;
                return Audit(store, L"", L"login-refused", strUserName, L"6 password expired");
            }
            *pnResult = Rms::ERmsLoginOk;
            return Audit(store, strUserName, L"login", strUserName, L"");
        },
        &user, pstrProblem);
    if (nResult == Rms::ERmsLoginOk)
    {
        const XTRmsRoleDefinition* pRole = workingCopy.FindRole(user.nRole);
        pSignedIn->bGuest = false;
        pSignedIn->strUserName = user.strUserName;
        pSignedIn->bSuperUser = pRole != nullptr && pRole->bSuperUser;
        pSignedIn->setRights = user.setRights;
        if (user.nIterations < policy.nPbkdf2Iterations)
            LocalRehash(store, policy, user.strUserName, strPassword, user.nIterations);
    }
    return nResult;
}

void XTRmsSignIn::LocalRehash(XTRmsStore& store, const XTRmsPolicy& policy, const std::wstring& strUserName,
    const std::wstring& strPassword, unsigned int nOldIterations) const
{
    std::wstring strSaltHex;
    std::wstring strKeyHex;
    if (!NewCredential(strPassword, policy.nPbkdf2Iterations, &strSaltHex, &strKeyHex))
        return;
    std::wstring strHash = StoredHashOf(strKeyHex);
    XTRmsCrypto::Wipe(strKeyHex);
    // Best effort: a hash that could not move on still proves the password.
    (void)Write(store, [&]() {
        return store.SetPassword(strUserName, strHash, strSaltHex, policy.nPbkdf2Iterations) &&
            Audit(store, strUserName, L"password-rehashed", strUserName,
                std::to_wstring(nOldIterations) + L" to " + std::to_wstring(policy.nPbkdf2Iterations) + L" iterations");
    });
}

Rms::ERmsLoginResult XTRmsSignIn::LocalGuestLogin(
    XTRmsStore& store, const XTRmsPolicy& policy, XTRmsSignedIn* pSignedIn) const
{
    if (!policy.bGuestLoginAllowed)
    {
        bool bAudited = Write(
            store, [&]() { return Audit(store, L"", L"login-refused", L"", L"9 guest not allowed"); });
        return bAudited ? Rms::ERmsLoginGuestNotAllowed : Rms::ERmsLoginSourceUnavailable;
    }
    if (!Write(store, [&]() { return Audit(store, L"(guest)", L"guest-login", L"", L""); }))
        return Rms::ERmsLoginSourceUnavailable;
    pSignedIn->bGuest = true;
    pSignedIn->bSuperUser = false;
    pSignedIn->strUserName.clear();
    pSignedIn->setRights.clear();
    pSignedIn->setRights.insert(policy.vecGuestRights.begin(), policy.vecGuestRights.end());
    return Rms::ERmsLoginOk;
}

Rms::ERmsLoginResult XTRmsSignIn::ServerLogin(XTRmsServerLink& server, const XTRmsPolicy& policy,
    const std::wstring& strUserName, const std::wstring& strPassword, XTRmsSignedIn* pSignedIn,
    std::wstring* pstrProblem) const
{
    // The workstation derives the key from the salt the server gives (a
    // stable made-up one for unknown names); the server decides, counts,
    // locks and audits.
    std::wstring strKeyHex;
    bool bGuest = strUserName.empty() && strPassword.empty();
    unsigned int nIterations = 0;
    if (!bGuest)
    {
        std::wstring strSaltHex;
        std::vector<unsigned char> vecSalt;
        if (!server.Call(
                [&](XTRmsServerStore& store) { return store.LoginParams(strUserName, &strSaltHex, &nIterations); }) ||
            !XTRmsCrypto::FromHex(strSaltHex, &vecSalt))
        {
            *pstrProblem = server.Problem();
            return Rms::ERmsLoginSourceUnavailable;
        }
        std::vector<unsigned char> vecKey = DeriveKey(strPassword, vecSalt, nIterations);
        strKeyHex = XTRmsCrypto::ToHex(vecKey);
        XTRmsCrypto::Wipe(vecKey);
    }
    XTRmsServerLogin login;
    bool bAnswered = server.Call([&](XTRmsServerStore& store) { return store.Login(strUserName, strKeyHex, &login); });
    if (!bAnswered || login.nResult != Rms::ERmsLoginOk)
    {
        XTRmsCrypto::Wipe(strKeyHex);
        if (bAnswered)
            return static_cast<Rms::ERmsLoginResult>(login.nResult);
        *pstrProblem = server.Problem();
        return Rms::ERmsLoginSourceUnavailable;
    }
    pSignedIn->bGuest = bGuest;
    pSignedIn->strToken = login.strToken;
    XTRmsCrypto::Wipe(login.strToken);
    pSignedIn->strUserName = login.strUserName;
    pSignedIn->bSuperUser = !bGuest && login.bSuperUser;
    pSignedIn->setRights = login.setRights;
    if (!bGuest && nIterations < policy.nPbkdf2Iterations)
    {
        std::wstring strSaltHex;
        std::wstring strNewKeyHex;
        bool bRehashed = false;
        // Best effort: the login stands whether or not the hash moves on.
        if (NewCredential(strPassword, policy.nPbkdf2Iterations, &strSaltHex, &strNewKeyHex))
            (void)server.Current().Rehash(
                pSignedIn->strToken, strKeyHex, strSaltHex, policy.nPbkdf2Iterations, strNewKeyHex, &bRehashed);
        XTRmsCrypto::Wipe(strNewKeyHex);
    }
    XTRmsCrypto::Wipe(strKeyHex);
    return Rms::ERmsLoginOk;
}
