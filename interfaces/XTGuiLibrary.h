// The host's GUI library: small window, menu and toolbar utilities.
#pragma once

#include "XTHostLibsApi.h"

#include <string>

class CWnd;
class CMenu;
class CMFCToolBar;
class CDataExchange;

namespace Gui
{
// A string resource of the host, looked up along the MFC resource chain.
XTHOSTLIBS_API std::wstring LoadStringW(unsigned int nId);

// Exchanges an edit control's text with a wide-string member, both ways,
// like MFC's DDX_Text does for CString.
XTHOSTLIBS_API void DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value);

// Hides (or shows again) the toolbar button of a command and re-lays out the
// bar so that no gap is left.
XTHOSTLIBS_API bool HideToolBarButton(CMFCToolBar* pToolBar, unsigned int nCommandId, bool bHide);
} // namespace Gui

class XTHOSTLIBS_API XTGuiWndUtil
{
public:
    static bool SetWndText(CWnd* pWnd, const std::wstring& strText);
    static bool SetWndControlText(CWnd* pWnd, unsigned int nControlId, const std::wstring& strText);
    static bool SetWndControlEnable(CWnd* pWnd, unsigned int nControlId, bool bEnable);
    // Every child control of the window.
    static bool SetWndControlsEnable(CWnd* pWnd, bool bEnable);
};

class XTHOSTLIBS_API XTGuiMenuUtils
{
public:
    // Removes leading, trailing and doubled separators at one menu level.
    static void CleanUpSeparators(CMenu* pMenu);
};
