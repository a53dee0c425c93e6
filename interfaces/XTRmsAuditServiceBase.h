// The audit trail for review on screen: an optional interface that a rights
// service may implement beside XTRmsRestrictionManagerServiceBase. XTRm finds
// it with dynamic_cast. Rows come a page at a time, newest first, from the
// store, never the whole trail; only an administrator reads them.
#pragma once

#include <string>
#include <vector>

// Which rows: every field that is not empty must match.
struct XTRmsAuditFilter
{
    std::wstring strFromUtc; // ISO 8601 date or time, inclusive ("2027-01-15" or "2027-01-15T08:00:00Z")
    std::wstring strToUtc;   // ISO 8601, inclusive (a date means the whole day)
    std::wstring strUser;    // acting user or subject, exactly (without regard to case)
    std::wstring strEvent;   // the event name, exactly, e.g. "login-refused"
    std::wstring strText;    // contained in any field (without regard to case)
};

struct XTRmsAuditRow
{
    long long nSequence = 0;
    std::wstring strTimeUtc;
    std::wstring strWorkstation;
    std::wstring strOsUser;
    std::wstring strActor;
    std::wstring strEvent;
    std::wstring strSubject;
    std::wstring strDetail;
};

class XTRmsAuditServiceBase
{
public:
    virtual ~XTRmsAuditServiceBase() = default;

    // True when the logged-in user (or the store's administrator) may read
    // the trail.
    virtual bool CanReadAudit() const = 0;
    // At most nCount rows that match, newest first, all with a sequence
    // below nBeforeSequence (0: from the newest), so that the next page
    // starts below the last row of this one. False with a reason when the
    // trail cannot be read or the user may not read it.
    virtual bool QueryAudit(const XTRmsAuditFilter& filter, long long nBeforeSequence, size_t nCount,
        std::vector<XTRmsAuditRow>* pvecRows, std::wstring* pstrError) = 0;
    // Checks the whole chain; pstrProblem names the first bad row.
    virtual bool VerifyAuditTrail(bool* pbIntact, std::wstring* pstrProblem) = 0;
};
