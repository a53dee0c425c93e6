#include "XTRmsScriptedFullService.h"

Rms::ERmsPasswordResult XTRmsScriptedFullService::ChangeOwnPassword(
    const std::wstring& strOld, const std::wstring& strNew)
{
    vecCalls.push_back(L"ChangeOwnPassword(" + strOld + L"," + strNew + L")");
    return Pop(quePasswordResults, Rms::ERmsPasswordOk);
}

Rms::ERmsPasswordResult XTRmsScriptedFullService::SetUserPassword(
    const std::wstring& strUser, const std::wstring& strNew)
{
    vecCalls.push_back(L"SetUserPassword(" + strUser + L"," + strNew + L")");
    return Pop(quePasswordResults, Rms::ERmsPasswordOk);
}

Rms::ERmsPasswordResult XTRmsScriptedFullService::ChangeExpiredPassword(
    const std::wstring& strUser, const std::wstring& strOld, const std::wstring& strNew)
{
    vecCalls.push_back(L"ChangeExpiredPassword(" + strUser + L"," + strOld + L"," + strNew + L")");
    return Pop(quePasswordResults, Rms::ERmsPasswordOk);
}

bool XTRmsScriptedFullService::GetIsAllowed(int nRestrictionId) const
{
    const auto it = mapDeniedRightsOf.find(strLoggedInUser);
    return XTRmsScriptedService::GetIsAllowed(nRestrictionId) &&
        (it == mapDeniedRightsOf.end() || it->second.count(nRestrictionId) == 0);
}

bool XTRmsScriptedFullService::LockSession()
{
    vecCalls.push_back(L"LockSession()");
    bLocked = bLockable;
    return bLockable;
}

Rms::ERmsLoginResult XTRmsScriptedFullService::UnlockSession(const std::wstring& strPassword)
{
    vecCalls.push_back(L"UnlockSession(" + strPassword + L")");
    const Rms::ERmsLoginResult nResult = Pop(queSessionResults, Rms::ERmsLoginOk);
    bLocked = bLocked && nResult != Rms::ERmsLoginOk;
    return nResult;
}

Rms::ERmsLoginResult XTRmsScriptedFullService::SwitchUser(
    const std::wstring& strUserName, const std::wstring& strPassword)
{
    vecCalls.push_back(L"SwitchUser(" + strUserName + L"," + strPassword + L")");
    const Rms::ERmsLoginResult nResult = Pop(queSessionResults, Rms::ERmsLoginOk);
    if (nResult == Rms::ERmsLoginOk)
    {
        strLoggedInUser = strUserName;
        bLocked = false;
    }
    return nResult;
}

Rms::ERmsSignResult XTRmsScriptedFullService::Sign(const std::wstring& strUser, const std::wstring& strPassword,
    const std::wstring& strMeaning, const std::wstring& strReason, const std::wstring& strFirstSigner,
    XTRmsSignature* pSignature)
{
    vecCalls.push_back(
        L"Sign(" + strUser + L"," + strPassword + L"," + strMeaning + L"," + strReason + L"," + strFirstSigner + L")");
    const auto it = mapPasswords.find(strUser);
    if (it == mapPasswords.end() || it->second != strPassword)
        return Rms::ERmsSignWrongPassword;
    if (strUser == strFirstSigner)
        return Rms::ERmsSignSameSigner;
    *pSignature = {strUser, L"Full " + strUser, strMeaning, strReason, L"2026-12-06T08:00:00Z", nNextSequence++};
    return Rms::ERmsSignOk;
}

bool XTRmsScriptedFullService::IsSignatureRequired(int nRestrictionId) const
{
    vecCalls.push_back(L"IsSignatureRequired(" + std::to_wstring(nRestrictionId) + L")");
    return setSignedRights.count(nRestrictionId) != 0;
}

bool XTRmsScriptedFullService::QueryAudit(const XTRmsAuditFilter& filter, long long nBefore, size_t nCount,
    std::vector<XTRmsAuditRow>* pvecRows, std::wstring* pstrError)
{
    vecCalls.push_back(L"QueryAudit(" + filter.strFromUtc + L"|" + filter.strToUtc + L"|" + filter.strUser + L"|" +
        filter.strEvent + L"|" + filter.strText + L"," + std::to_wstring(nBefore) + L"," + std::to_wstring(nCount) +
        L")");
    pvecRows->clear();
    if (!strAuditRefusal.empty())
    {
        *pstrError = strAuditRefusal;
        return false;
    }
    for (auto it = vecTrail.rbegin(); it != vecTrail.rend() && pvecRows->size() < nCount; ++it)
    {
        if ((nBefore == 0 || it->nSequence < nBefore) && (filter.strEvent.empty() || it->strEvent == filter.strEvent) &&
            (filter.strText.empty() || (it->strSubject + it->strDetail).find(filter.strText) != std::wstring::npos))
            pvecRows->push_back(*it);
    }
    return true;
}

bool XTRmsScriptedFullService::VerifyAuditTrail(bool* pbIntact, std::wstring* pstrProblem)
{
    vecCalls.push_back(L"VerifyAuditTrail()");
    *pbIntact = bVerifyIntact;
    *pstrProblem = strVerifyProblem;
    return bVerifyReadable;
}
