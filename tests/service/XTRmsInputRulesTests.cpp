// The input rules and the CSV module against what an attacker would type into
// a name, a CSV file or a workstation's claims; NormalizeString as Wine has it.
#include "XTRmsCsv.h"
#include "XTRmsInputRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace
{
const std::wstring kControl = L"A user name must not hold control characters.";
const std::wstring kLoneSurrogate = L"A user name must be well-formed Unicode text.";
const std::wstring kNonCharacter = L"A user name must not hold a byte order mark or a Unicode non-character.";
const std::wstring kBidi = L"A user name must not hold bidirectional text controls.";
const std::wstring kSeparator = L"A user name must not hold line or paragraph separators.";
const std::wstring kTooLong = L"A user name must not be longer than 256 characters.";
const std::wstring kEmpty = L"A user name must not be empty.";

std::wstring Repeat(const std::wstring& strUnit, size_t nTimes)
{
    std::wstring strText;
    for (size_t i = 0; i < nTimes; ++i)
        strText += strUnit;
    return strText;
}

struct SUserNameCase
{
    const char* pszWhat;
    std::wstring strName;
    std::wstring strNfc;     // the stored form when accepted
    std::wstring strProblem; // empty: accepted
};

const SUserNameCase kUserNameCases[] = {
    {"plain", L"alice", L"alice", L""},
    {"space and punctuation", L"Jean-Luc O'Brien", L"Jean-Luc O'Brien", L""},
    {"no-break spaces", L"a\u00A0b\u202Fc", L"a\u00A0b\u202Fc", L""},
    {"supplementary character as a valid pair", L"bob\U0001F600", L"bob\U0001F600", L""},
    {"empty", L"", L"", kEmpty},
    {"NUL cuts the name for C APIs", L"admin\0x"s, L"", kControl},
    {"CR LF forges a line of the printed trail", L"eve\r\n2024-01-01 admin granted all", L"", kControl},
    {"LF alone", L"eve\nadmin", L"", kControl},
    {"tab", L"eve\tadmin", L"", kControl},
    {"U+001F", L"eve\x1F", L"", kControl},
    {"DEL", L"eve\x7F", L"", kControl},
    {"NEL U+0085 is a line break to some readers", L"eve\u0085admin", L"", kControl},
    {"U+009F", L"eve\u009F", L"", kControl},
    {"U+202E shows admin as nimda", L"\u202Enimda", L"", kBidi},
    {"U+202A", L"eve\u202A", L"", kBidi},
    {"U+202D", L"eve\u202D", L"", kBidi},
    {"U+200E", L"eve\u200E", L"", kBidi},
    {"U+200F right-to-left mark", L"eve\u200F", L"", kBidi},
    {"U+061C Arabic letter mark", L"eve\u061C", L"", kBidi},
    {"U+2066", L"eve\u2066", L"", kBidi},
    {"U+2069", L"eve\u2069", L"", kBidi},
    {"U+2028 line separator", L"eve\u2028admin", L"", kSeparator},
    {"U+2029 paragraph separator", L"eve\u2029admin", L"", kSeparator},
    {"byte order mark in front makes a second admin", L"\uFEFFadmin", L"", kNonCharacter},
    {"U+FFFE", L"eve\uFFFE", L"", kNonCharacter},
    {"U+FFFF", L"eve\uFFFF", L"", kNonCharacter},
    {"lone high surrogate at the end", L"eve\xD800", L"", kLoneSurrogate},
    {"lone high surrogate inside",
        L"ev\xD83D"
        L"e",
        L"", kLoneSurrogate},
    {"lone low surrogate",
        L"\xDE00"
        L"eve",
        L"", kLoneSurrogate},
    {"pair in the wrong order", L"eve\xDE00\xD83D", L"", kLoneSurrogate},
    {"256 characters", Repeat(L"a", 256), Repeat(L"a", 256), L""},
    {"257 characters", Repeat(L"a", 257), L"", kTooLong},
    {"256 after NFC from 512 typed", Repeat(L"e\u0301", 256), Repeat(L"\u00E9", 256), L""},
    {"257 after NFC from 514 typed", Repeat(L"e\u0301", 257), L"", kTooLong},
    {"megabytes", Repeat(L"a", 1 << 20), L"", kTooLong},
    {"decomposed accent is stored composed", L"Jose\u0301", L"Jos\u00E9", L""},
    {"Hangul jamo are stored as the syllable", L"\u1100\u1161\u11A8", L"\uAC01", L""},
};
} // namespace

TEST(XTRmsInputRules, UserNames)
{
    for (const SUserNameCase& c : kUserNameCases)
    {
        SCOPED_TRACE(c.pszWhat);
        std::wstring strNfc = L"untouched";
        std::wstring strProblem;
        bool bAccepted = XTRmsInputRules::CheckUserName(c.strName, &strNfc, &strProblem);
        EXPECT_EQ(bAccepted, c.strProblem.empty());
        if (c.strProblem.empty())
        {
            EXPECT_EQ(strNfc, c.strNfc);
        }
        else
        {
            // One fixed sentence: it never quotes what was typed, which may be a password.
            EXPECT_EQ(strProblem, c.strProblem);
            EXPECT_FALSE(XTRmsInputRules::CheckUserName(c.strName, &strNfc, nullptr));
        }
    }
}

TEST(XTRmsInputRules, ToNfc)
{
    const struct
    {
        const char* pszWhat;
        std::wstring strText;
        bool bOk;
        std::wstring strNfc;
    } kCases[] = {
        {"composes", L"e\u0301", true, L"\u00E9"},
        {"already NFC", L"caf\u00E9", true, L"caf\u00E9"},
        {"empty", L"", true, L""},
        {"Angstrom sign is canonically A with ring", L"\u212B", true, L"\u00C5"},
        {"compatibility ligature stays: NFC, not NFKC", L"\uFB01le", true, L"\uFB01le"},
        {"Hangul", L"\u1100\u1161", true, L"\uAC00"},
        {"supplementary", L"\U0001F511", true, L"\U0001F511"},
        {"lone high surrogate", L"a\xD800", false, L""},
        {"lone low surrogate",
            L"\xDC00"
            L"a",
            false, L""},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        std::wstring strNfc = L"untouched";
        EXPECT_EQ(XTRmsInputRules::ToNfc(c.strText, &strNfc), c.bOk);
        if (c.bOk)
        {
            EXPECT_EQ(strNfc, c.strNfc);
        }
    }
}

TEST(XTRmsInputRules, FullNames)
{
    const std::wstring kFullTooLong = L"A full name must not be longer than 256 characters.";
    const struct
    {
        const char* pszWhat;
        std::wstring strFullName;
        std::wstring strProblem; // empty: accepted
    } kCases[] = {
        {"empty", L"", L""},
        {"ordinary", L"O'Brien, Jean-Luc Jr.", L""},
        {"non-Latin", L"\u5C71\u7530 \u592A\u90CE", L""},
        {"supplementary", L"Bob \U0001F600", L""},
        {"256 characters", Repeat(L"x", 256), L""},
        {"257 characters", Repeat(L"x", 257), kFullTooLong},
        {"CR LF", L"Alice\r\nadmin granted", L"A full name must not hold control characters."},
        {"NUL", L"Alice\0Bob"s, L"A full name must not hold control characters."},
        {"bidi override", L"Alice \u202Etxt.exe", L"A full name must not hold bidirectional text controls."},
        {"lone surrogate", L"Alice\xDBFF", L"A full name must be well-formed Unicode text."},
        {"byte order mark", L"\uFEFFAlice", L"A full name must not hold a byte order mark or a Unicode non-character."},
        {"line separator", L"Alice\u2028Bob", L"A full name must not hold line or paragraph separators."},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        std::wstring strProblem;
        EXPECT_EQ(XTRmsInputRules::CheckFullName(c.strFullName, &strProblem), c.strProblem.empty());
        EXPECT_EQ(strProblem, c.strProblem);
    }
}

TEST(XTRmsInputRules, PasswordLength)
{
    const struct
    {
        const char* pszWhat;
        std::wstring strPassword;
        bool bAcceptable;
    } kCases[] = {
        {"empty (the policy refuses it, not the length rule)", L"", true},
        {"1024", Repeat(L"p", 1024), true},
        {"1025", Repeat(L"p", 1025), false},
        {"512 pairs are 1024 code units", Repeat(L"\U0001F511", 512), true},
        {"a megabyte", Repeat(L"p", 1 << 20), false},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(XTRmsInputRules::IsPasswordLengthAcceptable(c.strPassword), c.bAcceptable);
    }
}

TEST(XTRmsInputRules, ForRecord)
{
    const struct
    {
        const char* pszWhat;
        std::wstring strClaim;
        std::wstring strRecorded;
    } kCases[] = {
        {"ordinary computer name", L"WS-042", L"WS-042"},
        {"non-Latin user", L"\u5C71\u7530", L"\u5C71\u7530"},
        {"supplementary pair kept", L"pc\U0001F600", L"pc\U0001F600"},
        {"CR LF cannot forge a trail line", L"PC\r\n2024-01-01 admin granted", L"PC??2024-01-01 admin granted"},
        {"NUL", L"PC\0hidden"s, L"PC?hidden"},
        {"tab", L"a\tb", L"a?b"},
        {"NEL", L"a\u0085b", L"a?b"},
        {"bidi override", L"\u202Eexe.txt", L"?exe.txt"},
        {"bidi isolates and marks", L"\u2066a\u2069\u200F\u061C", L"?a???"},
        {"line separator", L"a\u2028b", L"a?b"},
        {"byte order mark", L"\uFEFFpc", L"?pc"},
        {"lone surrogates",
            L"\xD800"
            L"a\xDC00",
            L"?a?"},
        {"256 kept whole", Repeat(L"a", 256), Repeat(L"a", 256)},
        {"300 cut to 256", Repeat(L"a", 300), Repeat(L"a", 256)},
        {"a pair across the cut is dropped, not split", Repeat(L"a", 255) + L"\U0001F600", Repeat(L"a", 255)},
        {"a pair just before the cut is kept", Repeat(L"a", 254) + L"\U0001F600b", Repeat(L"a", 254) + L"\U0001F600"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(XTRmsInputRules::ForRecord(c.strClaim), c.strRecorded);
    }
}

TEST(XTRmsCsv, FieldQuotesAndGuards)
{
    const struct
    {
        const char* pszWhat;
        std::wstring strValue;
        std::wstring strWritten;
    } kCases[] = {
        {"plain", L"alice", L"alice"},
        {"empty", L"", L""},
        {"comma", L"Smith, John", L"\"Smith, John\""},
        {"quote", L"say \"hi\"", L"\"say \"\"hi\"\"\""},
        {"CRLF", L"a\r\nb", L"\"a\r\nb\""},
        {"LF", L"a\nb", L"\"a\nb\""},
        {"formula", L"=cmd|' /C calc'!A0", L"'=cmd|' /C calc'!A0"},
        {"plus", L"+1", L"'+1"},
        {"minus", L"-2", L"'-2"},
        {"at", L"@SUM(A1)", L"'@SUM(A1)"},
        {"tab", L"\tx", L"'\tx"},
        {"CR: guarded inside the quotes", L"\rx", L"\"'\rx\""},
        {"formula with a comma: guarded inside the quotes", L"=1,2", L"\"'=1,2\""},
        {"minus inside a name", L"Jean-Luc", L"Jean-Luc"},
        {"apostrophe inside a name", L"O'Brien", L"O'Brien"},
        {"apostrophe that guards nothing", L"'quoted", L"'quoted"},
        {"an apostrophe before a formula gets one more", L"'=1", L"''=1"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(XTRmsCsv::Field(c.strValue), c.strWritten);
    }
}

TEST(XTRmsCsv, RecordsRoundTrip)
{
    const std::vector<std::vector<std::wstring>> kRows = {
        {L"user", L"full_name", L"role", L"disabled", L"rights"},
        {L"smith", L"Smith, John", L"2", L"0", L"1;2;3"},
        {L"quoter", L"say \"hi\"", L"1", L"0", L""},
        {L"multi", L"line one\r\nline two", L"1", L"1", L""},
        {L"cr", L"a\rb", L"1", L"0", L""},
        {L"lf", L"a\nb", L"1", L"0", L""},
        {L"=evil", L"+1", L"-2", L"@SUM(A1)", L"\tx"},
        {L"'=1", L"''+", L"'", L"O'Brien", L"'plain"},
        {L"Jos\u00E9", L"\u5C71\u7530 \U0001F600", L"", L"", L""},
        {L""},
        {L"", L""},
        {L"last"},
    };
    std::wstring strCsv;
    for (const std::vector<std::wstring>& row : kRows)
        strCsv += XTRmsCsv::Record(row);
    std::vector<std::vector<std::wstring>> vecRows;
    std::wstring strError;
    ASSERT_TRUE(XTRmsCsv::Parse(strCsv, &vecRows, &strError)) << strError;
    for (std::vector<std::wstring>& row : vecRows)
    {
        for (std::wstring& strField : row)
            strField = XTRmsCsv::Unguard(strField);
    }
    EXPECT_EQ(vecRows, kRows);
}

TEST(XTRmsCsv, Parse)
{
    using Rows = std::vector<std::vector<std::wstring>>;
    const struct
    {
        const char* pszWhat;
        std::wstring strCsv;
        Rows vecRows;
        std::wstring strError; // empty: parses
    } kCases[] = {
        {"CRLF", L"a,b\r\nc,d\r\n", {{L"a", L"b"}, {L"c", L"d"}}, L""},
        {"LF, no final break", L"a,b\nc,d", {{L"a", L"b"}, {L"c", L"d"}}, L""},
        {"CR", L"a,b\rc,d\r", {{L"a", L"b"}, {L"c", L"d"}}, L""},
        {"empty lines skipped", L"\r\na,b\r\n\r\n\n\rc,d\n\n", {{L"a", L"b"}, {L"c", L"d"}}, L""},
        {"empty text", L"", {}, L""},
        {"empty fields", L"a,,\r\n,\r\n", {{L"a", L"", L""}, {L"", L""}}, L""},
        {"line breaks inside quotes kept", L"\"x\r\ny\",\"p\nq\rr\"", {{L"x\r\ny", L"p\nq\rr"}}, L""},
        {"doubled quotes", L"\"a\"\"b\",\"\"\"\"", {{L"a\"b", L"\""}}, L""},
        {"one empty quoted field is a record", L"\"\"\r\n", {{L""}}, L""},
        {"byte order mark at the start", L"\uFEFFuser,x\r\n", {{L"user", L"x"}}, L""},
        {"quote inside an unquoted field", L"a,b\r\nc\"d,e\r\n", {}, L"line 2: a quote inside an unquoted field"},
        {"text after a closing quote", L"h\r\n\"multi\r\nline\"x,y", {},
            L"line 3: text follows the closing quote of a field"},
        {"space after a closing quote", L"\"a\" ,b", {}, L"line 1: text follows the closing quote of a field"},
        {"quoted field not closed: named where it opens", L"h\r\nx,\"never\r\nclosed\r\n", {},
            L"line 2: a quoted field is not closed"},
        {"lines counted through quoted line breaks", L"\"a\nb\",c\r\nd\"e", {},
            L"line 3: a quote inside an unquoted field"},
        {"lines counted through CR and skipped lines", L"a\r\rb\r\n\nc\"", {},
            L"line 5: a quote inside an unquoted field"},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        Rows vecRows = {{L"stale"}};
        std::wstring strError;
        bool bOk = XTRmsCsv::Parse(c.strCsv, &vecRows, &strError);
        EXPECT_EQ(bOk, c.strError.empty());
        EXPECT_EQ(strError, c.strError);
        // A failed parse leaves nothing an import could half-apply.
        EXPECT_EQ(vecRows, c.vecRows);
    }
    std::vector<std::vector<std::wstring>> vecRows;
    EXPECT_FALSE(XTRmsCsv::Parse(L"\"open", &vecRows, nullptr));
}

TEST(XTRmsCsv, Unguard)
{
    const struct
    {
        const char* pszWhat;
        std::wstring strField;
        std::wstring strValue;
    } kCases[] = {
        {"equals", L"'=1", L"=1"},
        {"plus", L"'+1", L"+1"},
        {"minus", L"'-2", L"-2"},
        {"at", L"'@SUM(A1)", L"@SUM(A1)"},
        {"tab", L"'\tx", L"\tx"},
        {"CR", L"'\rx", L"\rx"},
        {"guarded apostrophe before a formula", L"''=1", L"'=1"},
        {"apostrophe that guards nothing stays", L"'quoted", L"'quoted"},
        {"two apostrophes that guard nothing stay", L"''x", L"''x"},
        {"lone apostrophe stays", L"'", L"'"},
        {"apostrophe inside stays", L"O'Brien", L"O'Brien"},
        {"unguarded formula is not touched", L"=1", L"=1"},
        {"empty", L"", L""},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.pszWhat);
        EXPECT_EQ(XTRmsCsv::Unguard(c.strField), c.strValue);
    }
}

TEST(XTRmsCsv, ParseInt)
{
    const int kUntouched = 4242;
    const struct
    {
        const wchar_t* pszText;
        bool bOk;
        int nValue;
    } kCases[] = {
        {L"0", true, 0},
        {L"-5", true, -5},
        {L"17", true, 17},
        {L"007", true, 7},
        {L"-0", true, 0},
        {L"123456789", true, 123456789},
        {L"-123456789", true, -123456789},
        {L"", false, kUntouched},
        {L"-", false, kUntouched},
        {L"12a", false, kUntouched},
        {L"1234567890", false, kUntouched},
        {L"-1234567890", false, kUntouched},
        {L"9999999999999", false, kUntouched},
        {L"+5", false, kUntouched},
        {L" 5", false, kUntouched},
        {L"5 ", false, kUntouched},
        {L"--5", false, kUntouched},
        {L"5-", false, kUntouched},
        {L"'-5", false, kUntouched},
        {L"\uFF15", false, kUntouched},
        {L"\u0665", false, kUntouched},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.pszText)));
        int nValue = kUntouched;
        EXPECT_EQ(XTRmsCsv::ParseInt(c.pszText, &nValue), c.bOk);
        EXPECT_EQ(nValue, c.nValue);
    }
}
