#include "XTRmsCsv.h"

namespace
{
// What a spreadsheet takes for the start of a formula (OWASP, CSV injection).
const wchar_t kFormulaStarts[] = L"=+-@\t\r";
const wchar_t kNeedsQuotes[] = L",\"\r\n";
const wchar_t kGuard = L'\'';
const int kMaxIntDigits = 9;

bool IsFormulaStart(wchar_t ch)
{
    return std::wstring(kFormulaStarts).find(ch) != std::wstring::npos;
}

// True when the text is zero or more apostrophes and then a formula start:
// exactly the values that Field guards.
bool NeedsGuard(const std::wstring& strValue)
{
    size_t nFirst = strValue.find_first_not_of(kGuard);
    return nFirst != std::wstring::npos && IsFormulaStart(strValue[nFirst]);
}

bool Fail(
    std::vector<std::vector<std::wstring>>* pvecRows, std::wstring* pstrError, size_t nLine, const wchar_t* pszProblem)
{
    pvecRows->clear();
    if (pstrError != nullptr)
        *pstrError = L"line " + std::to_wstring(nLine) + L": " + pszProblem;
    return false;
}
} // namespace

namespace XTRmsCsv
{
std::wstring Field(const std::wstring& strValue)
{
    std::wstring strContent = NeedsGuard(strValue) ? kGuard + strValue : strValue;
    if (strContent.find_first_of(kNeedsQuotes) == std::wstring::npos)
        return strContent;
    std::wstring strQuoted = L"\"";
    for (wchar_t ch : strContent)
    {
        strQuoted += ch;
        if (ch == L'"')
            strQuoted += L'"';
    }
    return strQuoted + L"\"";
}

std::wstring Record(const std::vector<std::wstring>& vecFields)
{
    if (vecFields.size() == 1 && vecFields[0].empty())
        return L"\"\"\r\n";
    std::wstring strRecord;
    for (size_t i = 0; i < vecFields.size(); ++i)
    {
        if (i > 0)
            strRecord += L',';
        strRecord += Field(vecFields[i]);
    }
    return strRecord + L"\r\n";
}

bool Parse(const std::wstring& strCsv, std::vector<std::vector<std::wstring>>* pvecRows, std::wstring* pstrError)
{
    enum EState
    {
        // Nothing of the field read yet.
        Start,
        Unquoted,
        Quoted,
        // A quote in a quoted field: a second one is a quote, else it closed.
        QuoteInQuoted,
        Closed
    };
    pvecRows->clear();
    std::vector<std::wstring> vecRow;
    std::wstring strField;
    EState nState = Start;
    size_t nLine = 1;
    size_t nQuoteLine = 1;
    // Spreadsheets and editors put one in front of UTF-8 text.
    size_t i = !strCsv.empty() && strCsv[0] == 0xFEFF ? 1 : 0;
    for (; i < strCsv.size(); ++i)
    {
        wchar_t ch = strCsv[i];
        bool bLineBreak = ch == L'\r' || ch == L'\n';
        // CRLF is one line break, inside quotes as well as outside.
        bool bCrLf = ch == L'\r' && i + 1 < strCsv.size() && strCsv[i + 1] == L'\n';
        if (nState == Quoted)
        {
            if (ch == L'"')
                nState = QuoteInQuoted;
            else
            {
                strField += ch;
                if (bCrLf)
                    strField += strCsv[++i];
                if (bLineBreak)
                    ++nLine;
            }
            continue;
        }
        if (nState == QuoteInQuoted)
        {
            if (ch == L'"')
            {
                strField += L'"';
                nState = Quoted;
                continue;
            }
            nState = Closed;
        }
        if (ch == L',')
        {
            vecRow.push_back(strField);
            strField.clear();
            nState = Start;
        }
        else if (bLineBreak)
        {
            if (bCrLf)
                ++i;
            // A line with nothing on it is no record.
            if (nState != Start || !vecRow.empty())
            {
                vecRow.push_back(strField);
                pvecRows->push_back(vecRow);
            }
            vecRow.clear();
            strField.clear();
            nState = Start;
            ++nLine;
        }
        else if (nState == Closed)
            return Fail(pvecRows, pstrError, nLine, L"text follows the closing quote of a field");
        else if (ch == L'"')
        {
            if (nState == Unquoted)
                return Fail(pvecRows, pstrError, nLine, L"a quote inside an unquoted field");
            nState = Quoted;
            nQuoteLine = nLine;
        }
        else
        {
            strField += ch;
            nState = Unquoted;
        }
    }
    if (nState == Quoted)
        return Fail(pvecRows, pstrError, nQuoteLine, L"a quoted field is not closed");
    if (nState != Start || !vecRow.empty())
    {
        vecRow.push_back(strField);
        pvecRows->push_back(vecRow);
    }
    return true;
}

std::wstring Unguard(const std::wstring& strField)
{
    if (strField.size() >= 2 && strField[0] == kGuard && NeedsGuard(strField.substr(1)))
        return strField.substr(1);
    return strField;
}

bool ParseInt(const std::wstring& strText, int* pnValue)
{
    bool bNegative = !strText.empty() && strText[0] == L'-';
    size_t nFirstDigit = bNegative ? 1 : 0;
    size_t nDigits = strText.size() - nFirstDigit;
    if (strText.empty() || nDigits == 0 || nDigits > kMaxIntDigits)
        return false;
    int nValue = 0;
    for (size_t i = nFirstDigit; i < strText.size(); ++i)
    {
        if (strText[i] < L'0' || strText[i] > L'9')
            return false;
        nValue = nValue * 10 + (strText[i] - L'0');
    }
    *pnValue = bNegative ? -nValue : nValue;
    return true;
}
} // namespace XTRmsCsv
