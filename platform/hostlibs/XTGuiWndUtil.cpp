// Small window utilities of the GUI library.
#include <afxwin.h>

#include "XTGuiLibrary.h"

bool XTGuiWndUtil::SetWndText(CWnd* pWnd, const std::wstring& strText)
{
    if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr)
        return false;
    return ::SetWindowTextW(pWnd->GetSafeHwnd(), strText.c_str()) != FALSE;
}

bool XTGuiWndUtil::SetWndControlText(CWnd* pWnd, unsigned int nControlId, const std::wstring& strText)
{
    if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr)
        return false;
    return ::SetDlgItemTextW(pWnd->GetSafeHwnd(), static_cast<int>(nControlId), strText.c_str()) != FALSE;
}

bool XTGuiWndUtil::SetWndControlEnable(CWnd* pWnd, unsigned int nControlId, bool bEnable)
{
    if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr)
        return false;
    HWND hWndControl = ::GetDlgItem(pWnd->GetSafeHwnd(), static_cast<int>(nControlId));
    if (hWndControl == nullptr)
        return false;
    ::EnableWindow(hWndControl, bEnable ? TRUE : FALSE);
    return true;
}

bool XTGuiWndUtil::SetWndControlsEnable(CWnd* pWnd, bool bEnable)
{
    if (pWnd == nullptr || pWnd->GetSafeHwnd() == nullptr)
        return false;
    // Direct children only: the controls of a dialog, not the insides of
    // composite controls.
    for (HWND hWndChild = ::GetWindow(pWnd->GetSafeHwnd(), GW_CHILD); hWndChild != nullptr;
         hWndChild = ::GetWindow(hWndChild, GW_HWNDNEXT))
    {
        ::EnableWindow(hWndChild, bEnable ? TRUE : FALSE);
    }
    return true;
}
