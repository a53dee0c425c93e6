#include "XTRmsServiceUpgradeScript.h"

#include <windows.h>

namespace
{
// The script's name in the DLL's resource script (XTRmsServer.rc.in).
const wchar_t kResourceName[] = L"XTRMS_POSTGRES_SQL";
// A statement ends at a line holding only this, so that function bodies may
// hold semicolons of their own.
const wchar_t kStatementEnd[] = L"--;";
} // namespace

namespace XTRmsServiceUpgradeScript
{
std::vector<std::wstring> Statements()
{
    std::vector<std::wstring> vecStatements;
    HMODULE hModule = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&Statements), &hModule))
        return vecStatements;
    HRSRC hResource = FindResourceW(hModule, kResourceName, MAKEINTRESOURCEW(10)); // RT_RCDATA
    HGLOBAL hData = hResource != nullptr ? LoadResource(hModule, hResource) : nullptr;
    const char* pData = hData != nullptr ? static_cast<const char*>(LockResource(hData)) : nullptr;
    DWORD nSize = hResource != nullptr ? SizeofResource(hModule, hResource) : 0;
    if (pData == nullptr || nSize == 0)
        return vecStatements;
    int nLength = MultiByteToWideChar(CP_UTF8, 0, pData, static_cast<int>(nSize), nullptr, 0);
    std::wstring strScript(static_cast<size_t>(nLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, pData, static_cast<int>(nSize), &strScript[0], nLength);
    std::wstring strStatement;
    size_t nStart = 0;
    while (nStart < strScript.size())
    {
        size_t nEnd = strScript.find(L'\n', nStart);
        std::wstring strLine = strScript.substr(
            nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
        nStart = nEnd == std::wstring::npos ? strScript.size() : nEnd + 1;
        if (!strLine.empty() && strLine.back() == L'\r')
            strLine.pop_back();
        if (strLine == kStatementEnd)
        {
            if (strStatement.find_first_not_of(L" \t\r\n") != std::wstring::npos)
                vecStatements.push_back(strStatement);
            strStatement.clear();
        }
        else
            strStatement += strLine + L"\n";
    }
    return vecStatements;
}
} // namespace XTRmsServiceUpgradeScript
