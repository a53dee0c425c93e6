// The least working text service: texts are the host's string resources,
// found along the MFC resource chain (application first, then extension DLLs).
#include <afxwin.h>

#include "XTGuiLibrary.h"
#include "XTTxtsTextService.h"

namespace
{
std::wstring LoadResourceString(unsigned int nId)
{
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEW((nId >> 4) + 1), RT_STRING);
    const wchar_t* pszText = nullptr;
    // With a zero buffer size LoadString hands out a pointer into the resource.
    int nLength = ::LoadStringW(hInst, nId, reinterpret_cast<LPWSTR>(&pszText), 0);
    if (nLength <= 0 || pszText == nullptr)
        return std::wstring();
    return std::wstring(pszText, static_cast<size_t>(nLength));
}
} // namespace

std::wstring Txts::GetString(unsigned int nTextId)
{
    return LoadResourceString(nTextId);
}

std::wstring Gui::LoadStringW(unsigned int nId)
{
    return LoadResourceString(nId);
}
