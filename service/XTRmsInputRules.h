// What the rights service accepts as a user name, a full name and a password,
// checked the same at every door: the dialogs, the API, CSV import, login and
// the console tool. Lengths count UTF-16 code units, as std::wstring does.
#pragma once

#include <string>

namespace XTRmsInputRules
{
const size_t kMaxUserNameLength = 256;  // UTF-16 code units of the NFC form
const size_t kMaxFullNameLength = 256;  // UTF-16 code units as given
const size_t kMaxPasswordLength = 1024; // UTF-16 code units
const size_t kMaxRecordLength = 256;    // UTF-16 code units of ForRecord's result
const size_t kMaxLabelLength = 200;     // UTF-16 code units of the NFC form

// The NFC form of a well-formed UTF-16 text (NormalizeString, NormalizationC);
// false for text that is not well-formed (lone surrogates) or cannot be
// normalised. The empty text is its own NFC form.
bool ToNfc(const std::wstring& strText, std::wstring* pstrNfc);

// A user name: not empty, at most kMaxUserNameLength after NFC, no control
// characters (U+0000-U+001F, U+007F-U+009F), no lone surrogates, no U+FEFF,
// U+FFFE or U+FFFF, no bidirectional controls (U+061C, U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069), no U+2028 or U+2029. On success *pstrNfc is
// the name in NFC, the form stored and compared. On failure *pstrProblem (may
// be null) is one sentence for the administrator that never quotes the text:
// it may be a password typed into the wrong field.
bool CheckUserName(const std::wstring& strName, std::wstring* pstrNfc, std::wstring* pstrProblem);

// A full name: may be empty, at most kMaxFullNameLength, the same characters
// forbidden as in a user name.
bool CheckFullName(const std::wstring& strFullName, std::wstring* pstrProblem);

// The label of a right or a role: not empty, at most kMaxLabelLength after
// NFC, the same characters forbidden as in a user name, no space at either
// end. pszSubject names it in the problem ("The label of right 3"). On
// success *pstrNfc is the label in NFC, the form stored.
bool CheckLabel(
    const std::wstring& strLabel, const wchar_t* pszSubject, std::wstring* pstrNfc, std::wstring* pstrProblem);

// Longer passwords are refused before any hashing, so that nobody makes the
// service derive keys from megabytes. The empty password is left to the policy.
bool IsPasswordLengthAcceptable(const std::wstring& strPassword);

// What a workstation claims about itself (computer name, OS user) as the audit
// trail records it: every character a user name may not hold becomes '?', and
// the text is cut to kMaxRecordLength without splitting a surrogate pair.
std::wstring ForRecord(const std::wstring& strClaim);
} // namespace XTRmsInputRules
