// The scripted rights service with every optional interface (passwords, the
// session's lock and signatures, the audit trail): each answers from its own
// table or queue and records its calls in the same log as the rest. Tests of
// a service without an interface use XTRmsScriptedService itself.
#pragma once

#include "XTRmsAuditServiceBase.h"
#include "XTRmsPasswordServiceBase.h"
#include "XTRmsScriptedService.h"
#include "XTRmsSessionServiceBase.h"

class XTRmsScriptedFullService : public XTRmsScriptedService,
                                 public XTRmsPasswordServiceBase,
                                 public XTRmsSessionServiceBase,
                                 public XTRmsAuditServiceBase
{
public:
    // --- passwords: changes answered from the queue, OK when it is empty ---
    std::wstring strLoggedInUser = L"ann";
    bool bCanSetOtherPasswords = false;
    std::deque<Rms::ERmsPasswordResult> quePasswordResults;

    // --- session: unlock and switch answered from the queue, OK when empty --
    bool bLockable = true;
    bool bLocked = false;
    std::deque<Rms::ERmsLoginResult> queSessionResults;
    // Rights denied to one user only, besides setDeniedRights: they follow a
    // switch of user.
    std::map<std::wstring, std::set<int>> mapDeniedRightsOf;

    // --- signatures: the password must be the signer's, the second signer
    // someone else ---
    std::map<std::wstring, std::wstring> mapPasswords{{L"ann", L"pw-ann"}, {L"bob", L"pw-bob"}};
    std::set<int> setSignedRights;
    long long nNextSequence = 100;

    // --- audit: filtered as a store would (the event exactly, the text in
    // subject or detail), paged newest first below a sequence ---
    bool bCanReadAudit = true;
    std::vector<XTRmsAuditRow> vecTrail; // oldest first
    std::wstring strAuditRefusal;        // not empty: QueryAudit refuses with it
    bool bVerifyReadable = true;
    bool bVerifyIntact = true;
    std::wstring strVerifyProblem;

    std::wstring GetLoggedInUserName() const override { return strLoggedInUser; }
    bool CanSetOtherPasswords() const override { return bCanSetOtherPasswords; }
    unsigned int GetMinPasswordLength() const override { return 8; }
    Rms::ERmsPasswordResult ChangeOwnPassword(const std::wstring& strOld, const std::wstring& strNew) override;
    Rms::ERmsPasswordResult SetUserPassword(const std::wstring& strUser, const std::wstring& strNew) override;
    Rms::ERmsPasswordResult ChangeExpiredPassword(
        const std::wstring& strUser, const std::wstring& strOld, const std::wstring& strNew) override;

    bool GetIsAllowed(int nRestrictionId) const override;
    bool LockSession() override;
    bool IsSessionLocked() const override { return bLocked; }
    Rms::ERmsLoginResult UnlockSession(const std::wstring& strPassword) override;
    Rms::ERmsLoginResult SwitchUser(const std::wstring& strUserName, const std::wstring& strPassword) override;
    Rms::ERmsSignResult Sign(const std::wstring& strUser, const std::wstring& strPassword,
        const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
        XTRmsSignature* pSignature) override;
    bool IsSignatureRequired(int nRestrictionId) const override;

    bool CanReadAudit() const override { return bCanReadAudit; }
    bool QueryAudit(const XTRmsAuditFilter& filter, long long nBefore, size_t nCount,
        std::vector<XTRmsAuditRow>* pvecRows, std::wstring* pstrError) override;
    bool VerifyAuditTrail(bool* pbIntact, std::wstring* pstrProblem) override;
};
