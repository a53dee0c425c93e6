// The session of the logged-in user beyond the login: locking it while the
// user is away and electronic signatures. An optional interface that a
// rights service may implement beside XTRmsRestrictionManagerServiceBase;
// XTRm finds it with dynamic_cast and offers the lock and signing only when
// the service has it. The service decides every answer (a wrong password
// counts toward lockout as at a login) and records each in its audit trail.
#pragma once

#include "XTRmsRestrictionManagerServiceBase.h"

#include <string>

namespace Rms
{
enum ERmsSignResult : int
{
    ERmsSignOk = 0,
    ERmsSignWrongPassword = 1,
    ERmsSignUserLocked = 2,
    ERmsSignAccountDisabled = 3,
    // The second signature of a four-eyes action was given by the first signer.
    ERmsSignSameSigner = 4,
    // Nobody is logged in, or the signer may not sign: a guest, an unknown
    // name (answered like a wrong password where the policy hides names).
    ERmsSignNotPermitted = 5,
    // The store could not be written; nothing was signed.
    ERmsSignStoreFailed = 6,
    // An empty meaning or reason, or text the input rules refuse.
    ERmsSignInvalidInput = 7
};
} // namespace Rms

// What a signature states, as the service recorded it: a host stores it with
// its own data (the batch record, the recipe version).
struct XTRmsSignature
{
    std::wstring strUserName;
    std::wstring strFullName;
    std::wstring strMeaning;      // e.g. "Release batch 4711"
    std::wstring strReason;       // chosen from the host's list or typed
    std::wstring strTimeUtc;      // ISO 8601, the service's clock
    long long nAuditSequence = 0; // the audit row that records it
};

class XTRmsSessionServiceBase
{
public:
    virtual ~XTRmsSessionServiceBase() = default;

    // --- lock ------------------------------------------------------------
    // Locks the logged-in user's session (audited "session-locked"). False
    // when nobody, or a guest, is logged in.
    virtual bool LockSession() = 0;
    virtual bool IsSessionLocked() const = 0;
    // The same user continues (audited "session-unlocked"); a wrong password
    // counts toward lockout and answers as a login does.
    virtual Rms::ERmsLoginResult UnlockSession(const std::wstring& strPassword) = 0;
    // Another user logs in at the locked session instead (audited
    // "user-switched" with both names); the previous user is logged out.
    virtual Rms::ERmsLoginResult SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword) = 0;

    // --- electronic signatures ---------------------------------------------
    // Verifies the signer's name and password and records the signature
    // (audited "signature" with signer, meaning and reason). strFirstSigner
    // is empty for a first signature and names the first signer for the
    // second of a four-eyes action, which must be someone else.
    virtual Rms::ERmsSignResult Sign(const std::wstring& strUserName, const std::wstring& strPassword,
        const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
        XTRmsSignature* pSignature) = 0;
    // True when the store marks this right so that using it needs a signature.
    virtual bool IsSignatureRequired(int nRestrictionId) const = 0;
};
