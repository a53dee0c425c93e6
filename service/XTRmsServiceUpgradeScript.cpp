#include "XTRmsServiceUpgradeScript.h"

#include <windows.h>

namespace
{
// The scripts' names in the DLL's resource script (XTRmsServer.rc.in): the
// upgrade to version 4 moved the store into its own schema, the one to 5
// added the administrator's redefinition, the one to 6 the audit trail's
// paged query, the one to 7 the password lifecycle, the session's lock and
// signatures.
const wchar_t* ResourceName(int nVersion)
{
    switch (nVersion)
    {
    case 4:
        return L"XTRMS_POSTGRES_SQL";
    case 5:
        return L"XTRMS_POSTGRES5_SQL";
    case 6: // the audit trail reviewed on screen
        return L"XTRMS_POSTGRES_AUDIT_SQL";
    case 7: // the password lifecycle, the session's lock and signatures
        return L"XTRMS_POSTGRES7_SQL";
    default:
        return nullptr;
    }
}
// A statement ends at a line holding only this, so that function bodies may
// hold semicolons of their own.
const wchar_t kStatementEnd[] = L"--;";
} // namespace

namespace XTRmsServiceUpgradeScript
{
std::vector<std::wstring> Statements(int nVersion)
{
    std::vector<std::wstring> vecStatements;
    HMODULE hModule = nullptr;
    const wchar_t* pszResource = ResourceName(nVersion);
    if (pszResource == nullptr ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&Statements), &hModule))
        return vecStatements;
    HRSRC hResource = FindResourceW(hModule, pszResource, MAKEINTRESOURCEW(10)); // RT_RCDATA
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
