#include "XTRmMenuLayout.h"

#include <cwchar>
#include <stdexcept>

namespace
{
void Parse(HMENU hMenu, const std::wstring& s, size_t& pos);

void ParseItem(HMENU hMenu, const std::wstring& s, size_t& pos)
{
    size_t nStart = pos;
    while (pos < s.size() && s[pos] != L'|' && s[pos] != L'{' && s[pos] != L'}' && s[pos] != L'=')
        ++pos;
    std::wstring strText = s.substr(nStart, pos - nStart);
    if (pos < s.size() && s[pos] == L'{')
    {
        HMENU hSub = ::CreatePopupMenu();
        ++pos;
        Parse(hSub, s, pos);
        if (pos >= s.size() || s[pos] != L'}')
            throw std::invalid_argument("menu layout: missing '}'");
        ++pos;
        ::AppendMenuW(hMenu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(hSub), strText.c_str());
    }
    else if (pos < s.size() && s[pos] == L'=')
    {
        ++pos;
        UINT nId = static_cast<UINT>(std::wcstoul(s.c_str() + pos, nullptr, 10));
        while (pos < s.size() && iswdigit(s[pos]))
            ++pos;
        ::AppendMenuW(hMenu, MF_STRING, nId, strText.c_str());
    }
    else if (strText == L"-")
    {
        ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    }
    else
    {
        throw std::invalid_argument("menu layout: item without id or items");
    }
}

void Parse(HMENU hMenu, const std::wstring& s, size_t& pos)
{
    if (pos < s.size() && s[pos] == L'}')
        return; // an empty popup
    for (;;)
    {
        ParseItem(hMenu, s, pos);
        if (pos >= s.size() || s[pos] != L'|')
            return;
        ++pos;
    }
}
} // namespace

HMENU BuildMenu(const std::wstring& strLayout, bool bPopup)
{
    HMENU hMenu = bPopup ? ::CreatePopupMenu() : ::CreateMenu();
    size_t pos = 0;
    if (!strLayout.empty())
        Parse(hMenu, strLayout, pos);
    if (pos != strLayout.size())
        throw std::invalid_argument("menu layout: unexpected text");
    return hMenu;
}

std::wstring DumpMenu(HMENU hMenu)
{
    std::wstring strDump;
    int nCount = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i)
    {
        wchar_t szText[512] = L"";
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = szText;
        info.cch = 511;
        ::GetMenuItemInfoW(hMenu, static_cast<UINT>(i), TRUE, &info);
        if (i > 0)
            strDump += L'|';
        if (info.fType & MFT_SEPARATOR)
        {
            strDump += L'-';
            continue;
        }
        if (info.fState & MFS_GRAYED)
            strDump += L'~';
        strDump += szText;
        if (info.hSubMenu != nullptr)
            strDump += L'{' + DumpMenu(info.hSubMenu) + L'}';
        else
            strDump += L'=' + std::to_wstring(info.wID);
    }
    return strDump;
}

XTRmTableRestrictions::XTRmTableRestrictions(const XTRmTables& tables, XTRmsRestrictionManagerServiceBase* pService)
    : XTRmHostRestrictions(pService)
{
    for (unsigned int nId : tables.vecHiddenCommands)
        CommandHide(nId, true);
    for (unsigned int nId : tables.vecDisabledCommands)
        CommandDisable(nId, true);
    for (const std::wstring& strName : tables.vecHiddenPopups)
        MenuPopupHide(strName, true);
    for (const std::wstring& strName : tables.vecDisabledPopups)
        MenuPopupDisable(strName, true);
}
