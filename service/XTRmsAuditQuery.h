// A filter of the audit trail as both engines take it: the time range as the
// stored text of a row's time, so that it compares as text, and the user and
// the text lower-cased. Checked here once, at the door, for the service and
// for the console tool alike.
#pragma once

#include "XTRmsAuditServiceBase.h"

#include <string>

struct XTRmsAuditQuery
{
    std::wstring strFromUtc; // "YYYY-MM-DDThh:mm:ssZ" or empty
    std::wstring strToUtc;
    std::wstring strUser; // lower case
    std::wstring strEvent;
    std::wstring strText; // lower case

    // False with a sentence for the user when a field cannot be used.
    static bool FromFilter(const XTRmsAuditFilter& filter, XTRmsAuditQuery* pQuery, std::wstring* pstrError);
    // One bound of the time range in the rows' form: a date starts at
    // 00:00:00 (bEnd false) or ends at 23:59:59 (bEnd true); a time without
    // seconds takes :00 or :59 the same way. False when it is no ISO 8601
    // date or UTC time.
    static bool NormaliseTime(const std::wstring& strText, bool bEnd, std::wstring* pstrUtc);
};

// The most rows one page may ask for: a page is a screenful, never the trail.
const size_t kXTRmsAuditMaxPage = 1000;
