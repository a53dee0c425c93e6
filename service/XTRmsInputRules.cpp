#include "XTRmsInputRules.h"

#include <windows.h>

#include <algorithm>
#include <climits>

namespace
{
// No canonical composition merges more than four code points into one, so a
// text this much longer than any limit cannot fit after NFC; it is refused
// before NormalizeString sees it.
const size_t kMaxTextBeforeNfc = 16 * 1024;
// NormalizeString's estimate may be short; it is retried with a larger buffer
// this many times, as its documentation suggests.
const int kNormalizeAttempts = 10;

enum class ECharProblem
{
    None,
    Control,
    LoneSurrogate,
    NonCharacter,
    Bidi,
    Separator
};

bool IsHighSurrogate(wchar_t ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

// The problem with one BMP code unit that is not part of a surrogate pair.
ECharProblem ClassifyUnit(wchar_t ch)
{
    if (ch <= 0x1F || (ch >= 0x7F && ch <= 0x9F))
        return ECharProblem::Control;
    if (IsHighSurrogate(ch) || IsLowSurrogate(ch))
        return ECharProblem::LoneSurrogate;
    if (ch == 0xFEFF || ch == 0xFFFE || ch == 0xFFFF)
        return ECharProblem::NonCharacter;
    // Each of these can reorder what a dialog or a printed trail shows.
    if (ch == 0x061C || ch == 0x200E || ch == 0x200F || (ch >= 0x202A && ch <= 0x202E) ||
        (ch >= 0x2066 && ch <= 0x2069))
        return ECharProblem::Bidi;
    if (ch == 0x2028 || ch == 0x2029)
        return ECharProblem::Separator;
    return ECharProblem::None;
}

// Calls fnVisit(nIndex, nProblem) for every forbidden code unit; a valid
// surrogate pair is one character and always allowed.
template <typename TVisit>
void VisitProblems(const std::wstring& strText, TVisit fnVisit)
{
    for (size_t i = 0; i < strText.size(); ++i)
    {
        if (IsHighSurrogate(strText[i]) && i + 1 < strText.size() && IsLowSurrogate(strText[i + 1]))
        {
            ++i;
            continue;
        }
        ECharProblem nProblem = ClassifyUnit(strText[i]);
        if (nProblem != ECharProblem::None)
            fnVisit(i, nProblem);
    }
}

ECharProblem FirstProblem(const std::wstring& strText)
{
    ECharProblem nFirst = ECharProblem::None;
    VisitProblems(strText, [&](size_t, ECharProblem nProblem) {
        if (nFirst == ECharProblem::None)
            nFirst = nProblem;
    });
    return nFirst;
}

std::wstring DescribeProblem(const std::wstring& strSubject, ECharProblem nProblem)
{
    switch (nProblem)
    {
    case ECharProblem::Control:
        return strSubject + L" must not hold control characters.";
    case ECharProblem::LoneSurrogate:
        return strSubject + L" must be well-formed Unicode text.";
    case ECharProblem::NonCharacter:
        return strSubject + L" must not hold a byte order mark or a Unicode non-character.";
    case ECharProblem::Bidi:
        return strSubject + L" must not hold bidirectional text controls.";
    case ECharProblem::Separator:
        return strSubject + L" must not hold line or paragraph separators.";
    default:
        return std::wstring();
    }
}

bool Refuse(std::wstring* pstrProblem, const std::wstring& strProblem)
{
    if (pstrProblem != nullptr)
        *pstrProblem = strProblem;
    return false;
}

bool IsWellFormed(const std::wstring& strText)
{
    bool bWellFormed = true;
    VisitProblems(strText, [&](size_t, ECharProblem nProblem) {
        if (nProblem == ECharProblem::LoneSurrogate)
            bWellFormed = false;
    });
    return bWellFormed;
}
} // namespace

namespace XTRmsInputRules
{
bool ToNfc(const std::wstring& strText, std::wstring* pstrNfc)
{
    if (!IsWellFormed(strText) || strText.size() > static_cast<size_t>(INT_MAX / 4))
        return false;
    if (strText.empty())
    {
        pstrNfc->clear();
        return true;
    }
    const int nSource = static_cast<int>(strText.size());
    int nCapacity = NormalizeString(NormalizationC, strText.data(), nSource, nullptr, 0);
    if (nCapacity <= 0)
        return false;
    std::wstring strNfc;
    for (int nAttempt = 0; nAttempt < kNormalizeAttempts; ++nAttempt)
    {
        strNfc.assign(static_cast<size_t>(nCapacity), L'\0');
        int nResult = NormalizeString(NormalizationC, strText.data(), nSource, &strNfc[0], nCapacity);
        if (nResult > 0)
        {
            strNfc.resize(static_cast<size_t>(nResult));
            *pstrNfc = strNfc;
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        // On a short buffer the negated result is a new estimate; it grows at
        // least by half so that the loop ends.
        nCapacity = nResult < 0 && -nResult > nCapacity ? -nResult : nCapacity + nCapacity / 2 + 1;
    }
    return false;
}

bool CheckUserName(const std::wstring& strName, std::wstring* pstrNfc, std::wstring* pstrProblem)
{
    const std::wstring strSubject = L"A user name";
    if (strName.empty())
        return Refuse(pstrProblem, L"A user name must not be empty.");
    const std::wstring strTooLong = L"A user name must not be longer than " + std::to_wstring(kMaxUserNameLength) +
        L" characters.";
    if (strName.size() > kMaxTextBeforeNfc)
        return Refuse(pstrProblem, strTooLong);
    // The characters are checked before NFC so that a lone surrogate gets its
    // own sentence; NFC neither makes nor removes any of them, so this is also
    // a check of the stored form.
    ECharProblem nProblem = FirstProblem(strName);
    if (nProblem != ECharProblem::None)
        return Refuse(pstrProblem, DescribeProblem(strSubject, nProblem));
    std::wstring strNfc;
    if (!ToNfc(strName, &strNfc))
        return Refuse(pstrProblem, L"A user name could not be brought into its canonical Unicode form.");
    if (strNfc.size() > kMaxUserNameLength)
        return Refuse(pstrProblem, strTooLong);
    // The audit trail names the database administrator "dba:NAME" and a
    // guest "(guest)"; nobody may pass for either.
    if (CompareStringOrdinal(strNfc.c_str(), static_cast<int>(std::min<size_t>(strNfc.size(), 4)), L"dba:", 4, TRUE) ==
            CSTR_EQUAL ||
        strNfc == L"(guest)")
        return Refuse(pstrProblem, L"A user name must not begin with \"dba:\" or be \"(guest)\".");
    // Spaces at either end would make two names that look the same.
    if (strNfc.front() == L' ' || strNfc.back() == L' ')
        return Refuse(pstrProblem, L"A user name must not begin or end with a space.");
    *pstrNfc = strNfc;
    return true;
}

bool CheckFullName(const std::wstring& strFullName, std::wstring* pstrProblem)
{
    if (strFullName.size() > kMaxFullNameLength)
    {
        return Refuse(pstrProblem,
            L"A full name must not be longer than " + std::to_wstring(kMaxFullNameLength) + L" characters.");
    }
    ECharProblem nProblem = FirstProblem(strFullName);
    if (nProblem != ECharProblem::None)
        return Refuse(pstrProblem, DescribeProblem(L"A full name", nProblem));
    return true;
}

bool CheckLabel(
    const std::wstring& strLabel, const wchar_t* pszSubject, std::wstring* pstrNfc, std::wstring* pstrProblem)
{
    const std::wstring strSubject = pszSubject;
    if (strLabel.empty())
        return Refuse(pstrProblem, strSubject + L" must not be empty.");
    const std::wstring strTooLong = strSubject + L" must not be longer than " + std::to_wstring(kMaxLabelLength) +
        L" characters.";
    if (strLabel.size() > kMaxTextBeforeNfc)
        return Refuse(pstrProblem, strTooLong);
    ECharProblem nProblem = FirstProblem(strLabel);
    if (nProblem != ECharProblem::None)
        return Refuse(pstrProblem, DescribeProblem(strSubject, nProblem));
    std::wstring strNfc;
    if (!ToNfc(strLabel, &strNfc))
        return Refuse(pstrProblem, strSubject + L" could not be brought into its canonical Unicode form.");
    if (strNfc.size() > kMaxLabelLength)
        return Refuse(pstrProblem, strTooLong);
    // Labels are shown in lists and typed as --role: spaces at the ends
    // would make two labels that look the same.
    if (strNfc.front() == L' ' || strNfc.back() == L' ')
        return Refuse(pstrProblem, strSubject + L" must not begin or end with a space.");
    *pstrNfc = strNfc;
    return true;
}

bool IsPasswordLengthAcceptable(const std::wstring& strPassword)
{
    return strPassword.size() <= kMaxPasswordLength;
}

std::wstring ForRecord(const std::wstring& strClaim)
{
    std::wstring strRecord = strClaim;
    VisitProblems(strRecord, [&](size_t nIndex, ECharProblem) { strRecord[nIndex] = L'?'; });
    if (strRecord.size() > kMaxRecordLength)
    {
        size_t nKeep = kMaxRecordLength;
        // Cutting between the halves of a pair would leave a lone surrogate.
        if (IsHighSurrogate(strRecord[nKeep - 1]))
            --nKeep;
        strRecord.resize(nKeep);
    }
    return strRecord;
}
} // namespace XTRmsInputRules
