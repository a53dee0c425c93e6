// CSV as the rights service exports and imports users (RFC 4180 style, UTF-16
// in memory; the console tool does the UTF-8 on disk).
#pragma once

#include <string>
#include <vector>

namespace XTRmsCsv
{
// One field as written: quoted when it holds a comma, quote, CR or LF (quotes
// doubled). A field starting with '=', '+', '-', '@', tab or CR gets a leading
// apostrophe, inside the quotes if any, so that a spreadsheet never runs it as
// a formula; so does one that starts with apostrophes followed by one of
// those, so that Unguard gives back exactly what was written. Numbers the
// import parses should be written without Field, or unguarded before parsing.
std::wstring Field(const std::wstring& strValue);

// One record: the fields joined by commas, ended by CRLF. A record of one
// empty field is written as "" so that Parse does not skip it as a blank line.
std::wstring Record(const std::vector<std::wstring>& vecFields);

// Splits text into rows of fields; false with a message naming the line
// ("line 3: ...") on malformed text: a quote inside an unquoted field, text
// after a closing quote, a quoted field not closed (named by the line where it
// opened). CRLF, LF and CR all end a record; line breaks inside quotes are
// kept. Empty lines are skipped, and so is a byte order mark at the start.
// pstrError may be null; on failure *pvecRows is empty.
bool Parse(const std::wstring& strCsv, std::vector<std::vector<std::wstring>>* pvecRows, std::wstring* pstrError);

// Undoes Field's formula guard on import: a leading apostrophe is dropped when
// what follows is one of = + - @ tab CR, after any further apostrophes.
std::wstring Unguard(const std::wstring& strField);

// A decimal int as CSV and the console write it: optional '-', then one to
// nine ASCII digits, nothing else, so it cannot overflow. *pnValue is left
// alone on failure.
bool ParseInt(const std::wstring& strText, int* pnValue);
} // namespace XTRmsCsv
