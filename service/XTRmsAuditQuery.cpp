#include "XTRmsAuditQuery.h"

#include <windows.h>

#include <cwchar>

namespace
{
bool ReadDigits(const std::wstring& strText, size_t nAt, size_t nCount, int* pnValue)
{
    if (nAt + nCount > strText.size())
        return false;
    int nValue = 0;
    for (size_t i = nAt; i < nAt + nCount; ++i)
    {
        if (strText[i] < L'0' || strText[i] > L'9')
            return false;
        nValue = nValue * 10 + (strText[i] - L'0');
    }
    *pnValue = nValue;
    return true;
}

int DaysInMonth(int nYear, int nMonth)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool bLeap = (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
    return nMonth == 2 && bLeap ? 29 : kDays[nMonth - 1];
}

std::wstring Lower(std::wstring strText)
{
    if (!strText.empty())
        CharLowerBuffW(&strText[0], static_cast<DWORD>(strText.size()));
    return strText;
}

bool HasControl(const std::wstring& strText)
{
    for (wchar_t ch : strText)
    {
        if (ch < 0x20 || ch == 0x7F)
            return true;
    }
    return false;
}
} // namespace

bool XTRmsAuditQuery::NormaliseTime(const std::wstring& strText, bool bEnd, std::wstring* pstrUtc)
{
    // YYYY-MM-DD, optionally Thh:mm or Thh:mm:ss, optionally Z (UTC is all
    // the trail knows).
    int nYear = 0, nMonth = 0, nDay = 0;
    if (!ReadDigits(strText, 0, 4, &nYear) || strText.size() < 10 || strText[4] != L'-' ||
        !ReadDigits(strText, 5, 2, &nMonth) || strText[7] != L'-' || !ReadDigits(strText, 8, 2, &nDay))
        return false;
    if (nYear < 1970 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > DaysInMonth(nYear, nMonth))
        return false;
    int nHour = bEnd ? 23 : 0, nMinute = bEnd ? 59 : 0, nSecond = bEnd ? 59 : 0;
    std::wstring strRest = strText.substr(10);
    if (!strRest.empty() && strRest.back() == L'Z')
    {
        if (strRest.size() == 1)
            return false; // a Z belongs to a time
        strRest.pop_back();
    }
    if (!strRest.empty())
    {
        if ((strRest.size() != 6 && strRest.size() != 9) || strRest[0] != L'T' || !ReadDigits(strRest, 1, 2, &nHour) ||
            strRest[3] != L':' || !ReadDigits(strRest, 4, 2, &nMinute))
            return false;
        nSecond = bEnd ? 59 : 0;
        if (strRest.size() == 9 && (strRest[6] != L':' || !ReadDigits(strRest, 7, 2, &nSecond)))
            return false;
        if (nHour > 23 || nMinute > 59 || nSecond > 59)
            return false;
    }
    wchar_t szUtc[32];
    swprintf(szUtc, sizeof(szUtc) / sizeof(szUtc[0]), L"%04d-%02d-%02dT%02d:%02d:%02dZ", nYear, nMonth, nDay, nHour,
        nMinute, nSecond);
    *pstrUtc = szUtc;
    return true;
}

bool XTRmsAuditQuery::FromFilter(const XTRmsAuditFilter& filter, XTRmsAuditQuery* pQuery, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) {
        if (pstrError != nullptr)
            *pstrError = strMessage;
        return false;
    };
    XTRmsAuditQuery query;
    if (!filter.strFromUtc.empty() && !NormaliseTime(filter.strFromUtc, false, &query.strFromUtc))
        return fail(
            L"The start of the time range must be an ISO 8601 date or UTC time, e.g. 2027-01-15 or "
            L"2027-01-15T08:00:00Z.");
    if (!filter.strToUtc.empty() && !NormaliseTime(filter.strToUtc, true, &query.strToUtc))
        return fail(
            L"The end of the time range must be an ISO 8601 date or UTC time, e.g. 2027-01-15 or "
            L"2027-01-15T17:30:00Z.");
    if (!query.strFromUtc.empty() && !query.strToUtc.empty() && query.strFromUtc > query.strToUtc)
        return fail(L"The start of the time range is after its end.");
    // The columns' own widths bound what can match; longer input is a mistake.
    if (filter.strUser.size() > 256 || HasControl(filter.strUser))
        return fail(L"The user to look for must have at most 256 characters and no control characters.");
    if (filter.strEvent.size() > 64 || HasControl(filter.strEvent))
        return fail(L"The event to look for must have at most 64 characters and no control characters.");
    if (filter.strText.size() > 512 || HasControl(filter.strText))
        return fail(L"The text to look for must have at most 512 characters and no control characters.");
    query.strUser = Lower(filter.strUser);
    query.strEvent = filter.strEvent;
    query.strText = Lower(filter.strText);
    *pQuery = std::move(query);
    return true;
}
