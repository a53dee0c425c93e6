#include "XTRmsSettingsText.h"

#include <algorithm>

std::wstring XTRmsSettingsText::Compose(const Facts& facts)
{
    const XTRmsPolicy& policy = facts.policy;
    std::wstring strText;
    auto line = [&strText](const wchar_t* pszLabel, const std::wstring& strValue) {
        strText += pszLabel;
        strText += strValue;
        strText += L"\r\n";
    };
    line(L"Store            : ", facts.strStoreLocation);
    if (facts.bStoreOpen)
        line(L"Schema version   : ",
            std::to_wstring(facts.nSchemaVersion) + L" (this service knows " +
                std::to_wstring(facts.nLatestSchemaVersion) + L")");
    else
        line(L"Store state      : ",
            facts.strStoreProblem.empty() ? std::wstring(L"not opened yet")
                                          : L"NOT AVAILABLE - " + facts.strStoreProblem);
    line(L"Rights server    : ",
        facts.serverSetting.GetHost().empty()
            ? std::wstring(L"(none configured)")
            : facts.serverSetting.GetHost() + L":" + std::to_wstring(facts.serverSetting.GetPortNum()));
    if (facts.bStoreOpen)
        line(L"Enforced by      : ",
            facts.bServer ? std::wstring(L"the rights server (every login and change decided there)")
                          : std::wstring(L"this service (whoever can write the file can change it)"));
    line(L"Workstation      : ", facts.strWorkstation);
    line(L"Logged-in user   : ",
        !facts.bLoggedIn   ? std::wstring(L"(none)")
            : facts.bGuest ? std::wstring(L"(guest)")
                           : facts.strUser);
    line(L"Users            : ",
        (facts.bMayAdminister ? std::to_wstring(facts.nUsers) : std::wstring(L"(administrators only)")) +
            (facts.nPendingChanges == 0 ? std::wstring()
                                        : L", " + std::to_wstring(facts.nPendingChanges) + L" unsaved changes"));
    if (facts.bStoreOpen)
    {
        // The store's definition applies; a host that brought another one
        // is told where they part, so that a missing right is found.
        std::wstring strDefinitions = L"the store's, " + std::to_wstring(facts.nRights) + L" rights and " +
            std::to_wstring(facts.nRoles) + L" roles";
        const size_t nShown = std::min<size_t>(facts.vecDefinitionDifferences.size(), 5);
        for (size_t i = 0; i < nShown; ++i)
            strDefinitions += (i == 0 ? L"; this host's differ: " : L", ") + facts.vecDefinitionDifferences[i];
        if (facts.vecDefinitionDifferences.size() > nShown)
            strDefinitions += L" and " + std::to_wstring(facts.vecDefinitionDifferences.size() - nShown) + L" more";
        else if (nShown == 0 && facts.bHostDefines)
            strDefinitions += L", the same as this host's";
        line(L"Definitions      : ", strDefinitions);
    }
    line(L"Passwords        : ",
        L"PBKDF2-HMAC-SHA256, " + std::to_wstring(policy.nPbkdf2Iterations) +
            L" iterations, 16-byte salt per user; at least " + std::to_wstring(policy.nMinPasswordLength) +
            L" characters, not containing the user name");
    line(L"Lockout          : ",
        policy.nLockoutThreshold == 0 ? std::wstring(L"never")
                                      : L"after " + std::to_wstring(policy.nLockoutThreshold) + L" failed logins, " +
                (policy.nLockoutSeconds == 0 ? std::wstring(L"until an administrator unlocks")
                                             : L"for " + std::to_wstring(policy.nLockoutSeconds) + L" s"));
    line(L"Password age     : ",
        (policy.nMaxPasswordAgeDays == 0 ? std::wstring(L"never expires")
                                         : L"expires after " + std::to_wstring(policy.nMaxPasswordAgeDays) + L" days") +
            (policy.nMinPasswordAgeDays == 0
                    ? std::wstring()
                    : L", kept at least " + std::to_wstring(policy.nMinPasswordAgeDays) + L" days"));
    line(L"Password history : ",
        policy.nPasswordHistory == 0
            ? std::wstring(L"the current password cannot be chosen again")
            : L"the current and the last " + std::to_wstring(policy.nPasswordHistory) + L" cannot be chosen again");
    line(L"After a reset    : ",
        policy.bMustChangeAfterReset ? L"the user must change the password at the next login"
                                     : L"the password is used as the administrator set it");
    line(L"Unknown users    : ", policy.bReportUnknownUser ? L"reported as unknown" : L"answered as a wrong password");
    line(L"Guest login      : ", policy.bGuestLoginAllowed ? L"allowed" : L"not allowed");
    strText += L"\r\nLatest audit entries:\r\n";
    if (facts.vecAudit.empty())
        strText += facts.bMayReadAudit ? L"  (none)\r\n" : L"  (administrators only)\r\n";
    // Columns padded to their widest entry: the dialog shows the text in a
    // fixed-pitch font, so they line up.
    auto detail = [](const XTRmsAuditEntry& entry) {
        return entry.strDetail.empty() ? std::wstring() : L"(" + entry.strDetail + L")";
    };
    size_t nSequenceWidth = 0, nEventWidth = 0, nSubjectWidth = 0, nDetailWidth = 0;
    for (const XTRmsAuditEntry& entry : facts.vecAudit)
    {
        nSequenceWidth = std::max(nSequenceWidth, std::to_wstring(entry.nSequence).size());
        nEventWidth = std::max(nEventWidth, entry.strEvent.size());
        nSubjectWidth = std::max(nSubjectWidth, entry.strSubject.size());
        nDetailWidth = std::max(nDetailWidth, detail(entry).size());
    }
    auto padded = [](const std::wstring& strValue, size_t nWidth, bool bRight) {
        const std::wstring strFill(nWidth > strValue.size() ? nWidth - strValue.size() : 0, L' ');
        return bRight ? strFill + strValue : strValue + strFill;
    };
    for (const XTRmsAuditEntry& entry : facts.vecAudit)
    {
        strText += L"  " + padded(std::to_wstring(entry.nSequence), nSequenceWidth, true) + L"  " + entry.strTimeUtc +
            L"  " + padded(entry.strEvent, nEventWidth, false);
        if (nSubjectWidth > 0)
            strText += L"  " + padded(entry.strSubject, nSubjectWidth, false);
        if (nDetailWidth > 0)
            strText += L"  " + padded(detail(entry), nDetailWidth, false);
        strText += L"  by " + (entry.strActor.empty() ? std::wstring(L"-") : entry.strActor) + L" on " +
            entry.strWorkstation + L"\\" + entry.strOsUser + L"\r\n";
    }
    return strText;
}
