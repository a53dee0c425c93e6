// CCmdTarget, CWnd and CFrameWnd: window objects over real Win32 windows,
// message maps, the window procedure and the modal loop.
#include <afxwin.h>

#include "afxhandlemap.h"
#include "afximpl.h"

// ---------------------------------------------------------------------------
// Handle maps: one per GUI thread, as in MFC.

namespace
{
using CWndMaps = CAfxHandleMaps<HWND, CWnd>;

CWndMaps& Maps()
{
    return CWndMaps::ForThisThread();
}

thread_local CWnd* t_pWndInit = nullptr;

// Asks a command's update handler whether the command is enabled.
class CTestCmdUI : public CCmdUI
{
public:
    BOOL m_bEnabled = TRUE;
    void Enable(BOOL bOn) override
    {
        m_bEnabled = bOn;
        m_bEnableChanged = TRUE;
    }
    void SetCheck(int) override {}
    void SetRadio(BOOL) override {}
    void SetText(LPCTSTR) override {}
};
thread_local HHOOK t_hHookOldCbtFilter = nullptr;
thread_local const MSG* t_pLastSentMsg = nullptr;
} // namespace

void AFXAPI AfxDeleteTempWndMap()
{
    Maps().DeleteTemporaries([](CWnd* pWnd) { pWnd->m_hWnd = nullptr; });
}

// ---------------------------------------------------------------------------
// Dispatching a message-map entry by its signature.

namespace
{
union MessageMapFunctions {
    AFX_PMSG pfn;
    void (AFX_MSG_CALL CCmdTarget::*pfnCmd_v_v)();
    void (AFX_MSG_CALL CCmdTarget::*pfnCmd_v_u)(UINT);
    BOOL (AFX_MSG_CALL CCmdTarget::*pfnCmd_b_u)(UINT);
    void (AFX_MSG_CALL CCmdTarget::*pfnCmdUI_v_C)(CCmdUI*);
    LRESULT (AFX_MSG_CALL CWnd::*pfn_l_w_l)(WPARAM, LPARAM);
    void (AFX_MSG_CALL CWnd::*pfn_v_v)();
    int (AFX_MSG_CALL CWnd::*pfn_i_s)(LPCREATESTRUCT);
    void (AFX_MSG_CALL CWnd::*pfn_v_u)(UINT);
    void (AFX_MSG_CALL CWnd::*pfn_v_u_p)(UINT, CPoint);
    void (AFX_MSG_CALL CWnd::*pfn_v_u_i_i)(UINT, int, int);
    void (AFX_MSG_CALL CWnd::*pfn_v_M_u_b)(CMenu*, UINT, BOOL);
    void (AFX_MSG_CALL CWnd::*pfn_v_up)(UINT_PTR);
};

const AFX_MSGMAP_ENTRY* FindCommandEntry(const AFX_MSGMAP_ENTRY* lpEntry, UINT nCode, UINT nID)
{
    for (; lpEntry->nSig != AfxSig_end; ++lpEntry)
    {
        if (lpEntry->nMessage == WM_COMMAND && lpEntry->nCode == nCode && nID >= lpEntry->nID &&
            nID <= lpEntry->nLastID)
            return lpEntry;
    }
    return nullptr;
}

const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP_ENTRY* lpEntry, UINT nMsg)
{
    for (; lpEntry->nSig != AfxSig_end; ++lpEntry)
    {
        if (lpEntry->nMessage == nMsg && lpEntry->nMessage != WM_COMMAND)
            return lpEntry;
    }
    return nullptr;
}

BOOL DispatchCmdMsg(CCmdTarget* pTarget, UINT nID, int nCode, AFX_PMSG pfn, void* pExtra, UINT_PTR nSig)
{
    MessageMapFunctions mmf;
    mmf.pfn = pfn;
    if (nCode == (int)CN_UPDATE_COMMAND_UI)
    {
        CCmdUI* pCmdUI = static_cast<CCmdUI*>(pExtra);
        pCmdUI->m_bContinueRouting = FALSE;
        (pTarget->*mmf.pfnCmdUI_v_C)(pCmdUI);
        return !pCmdUI->m_bContinueRouting;
    }
    switch (nSig)
    {
    case AfxSigCmd_v:
        (pTarget->*mmf.pfnCmd_v_v)();
        return TRUE;
    case AfxSigCmd_RANGE:
        (pTarget->*mmf.pfnCmd_v_u)(nID);
        return TRUE;
    case AfxSigCmd_EX:
        return (pTarget->*mmf.pfnCmd_b_u)(nID);
    default:
        return FALSE;
    }
}
} // namespace

// ---------------------------------------------------------------------------
// CCmdTarget

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

CCmdTarget::CCmdTarget() = default;

const AFX_MSGMAP* PASCAL CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_end, (AFX_PMSG)0}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap != nullptr;
         pMap = pMap->pfnGetBaseMap != nullptr ? (*pMap->pfnGetBaseMap)() : nullptr)
    {
        const AFX_MSGMAP_ENTRY* lpEntry = FindCommandEntry(pMap->lpEntries, (UINT)nCode, nID);
        if (lpEntry == nullptr)
            continue;
        if (pHandlerInfo != nullptr)
        {
            pHandlerInfo->pTarget = this;
            pHandlerInfo->pmf = lpEntry->pfn;
            return TRUE;
        }
        return DispatchCmdMsg(this, nID, nCode, lpEntry->pfn, pExtra, lpEntry->nSig);
    }
    return FALSE;
}

void CCmdTarget::BeginWaitCursor()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(1);
}

void CCmdTarget::EndWaitCursor()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(-1);
}

void CCmdTarget::RestoreWaitCursor()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(0);
}

CWaitCursor::CWaitCursor()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(1);
}

CWaitCursor::~CWaitCursor()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(-1);
}

void CWaitCursor::Restore()
{
    if (CWinApp* pApp = AfxGetApp())
        pApp->DoWaitCursor(0);
}

// ---------------------------------------------------------------------------
// Creation hook: attaches the CWnd before the window's first message.

namespace
{
LRESULT CALLBACK AfxCbtFilterHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code != HCBT_CREATEWND || t_pWndInit == nullptr)
        return CallNextHookEx(t_hHookOldCbtFilter, code, wParam, lParam);

    HWND hWnd = reinterpret_cast<HWND>(wParam);
    CWnd* pWndInit = t_pWndInit;
    t_pWndInit = nullptr;
    pWndInit->Attach(hWnd);
    pWndInit->PreSubclassWindow();
    WNDPROC oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (oldProc != &AfxWndProc)
        AfxSetSuperWndProc(pWndInit, oldProc);
    return CallNextHookEx(t_hHookOldCbtFilter, code, wParam, lParam);
}
} // namespace

void AFXAPI AfxHookWindowCreate(CWnd* pWnd)
{
    if (t_hHookOldCbtFilter == nullptr)
        t_hHookOldCbtFilter = SetWindowsHookExW(WH_CBT, &AfxCbtFilterHook, nullptr, GetCurrentThreadId());
    t_pWndInit = pWnd;
}

BOOL AFXAPI AfxUnhookWindowCreate()
{
    if (t_hHookOldCbtFilter != nullptr)
    {
        UnhookWindowsHookEx(t_hHookOldCbtFilter);
        t_hHookOldCbtFilter = nullptr;
    }
    if (t_pWndInit != nullptr)
    {
        t_pWndInit = nullptr;
        return FALSE; // the window was not created
    }
    return TRUE;
}

void AFXAPI AfxSetSuperWndProc(CWnd* pWnd, WNDPROC pfnSuper)
{
    struct Access : CWnd
    {
        static void Set(CWnd* p, WNDPROC pfn) { static_cast<Access*>(p)->m_pfnSuper = pfn; }
    };
    Access::Set(pWnd, pfnSuper);
}

LPCTSTR AFXAPI AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    thread_local wchar_t szName[96];
    wsprintfW(szName, L"Afx:%p:%x:%p:%p:%p", AfxGetInstanceHandle(), nClassStyle, hCursor, hbrBackground, hIcon);
    WNDCLASSW wc = {};
    if (!GetClassInfoW(AfxGetInstanceHandle(), szName, &wc))
    {
        wc.style = nClassStyle;
        wc.lpfnWndProc = &DefWindowProcW;
        wc.hInstance = AfxGetInstanceHandle();
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.hIcon = hIcon;
        wc.lpszClassName = szName;
        RegisterClassW(&wc);
    }
    return szName;
}

// ---------------------------------------------------------------------------
// The window procedure of every window MFC created or subclassed.

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (pWnd == nullptr)
        return DefWindowProcW(hWnd, nMsg, wParam, lParam);

    MSG msg = {hWnd, nMsg, wParam, lParam, 0, {0, 0}};
    const MSG* pOldMsg = t_pLastSentMsg;
    t_pLastSentMsg = &msg;
    pWnd->m_msgCur = msg;
    LRESULT lResult = pWnd->WindowProc(nMsg, wParam, lParam);
    t_pLastSentMsg = pOldMsg;

    if (nMsg == WM_NCDESTROY)
    {
        // The window is gone: give the object back its independence and let
        // it delete itself if it is a self-deleting kind (frames).
        WNDPROC pfnSuper = pWnd->m_pfnSuper;
        if (pfnSuper != nullptr && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &AfxWndProc)
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnSuper));
        if (CWinThread* pThread = AfxGetThread())
        {
            if (pThread->m_pMainWnd == pWnd)
            {
                pThread->m_pMainWnd = nullptr;
                AfxPostQuitMessage(0);
            }
        }
        pWnd->Detach();
        pWnd->m_pfnSuper = nullptr;
        pWnd->PostNcDestroy();
    }
    return lResult;
}

// ---------------------------------------------------------------------------
// CWnd

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

const CWnd CWnd::wndTop;
const CWnd CWnd::wndBottom;
const CWnd CWnd::wndTopMost;
const CWnd CWnd::wndNoTopMost;

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::CWnd() : m_hWnd(nullptr), m_pfnSuper(nullptr), m_nModalResult(0), m_nFlags(0), m_msgCur()
{
}

CWnd::~CWnd()
{
    if (m_hWnd != nullptr && this != &wndTop && this != &wndBottom && this != &wndTopMost && this != &wndNoTopMost)
    {
        auto& permanent = Maps().permanent;
        auto it = permanent.find(m_hWnd);
        if (it != permanent.end() && it->second == this)
        {
            // A window that outlives its object would call into freed memory.
            ::DestroyWindow(m_hWnd);
            if (m_hWnd != nullptr)
                Detach();
        }
    }
}

CWnd* PASCAL CWnd::FromHandlePermanent(HWND hWnd)
{
    auto& permanent = Maps().permanent;
    auto it = permanent.find(hWnd);
    return it == permanent.end() ? nullptr : it->second;
}

CWnd* PASCAL CWnd::FromHandle(HWND hWnd)
{
    if (hWnd == nullptr)
        return nullptr;
    if (CWnd* pWnd = FromHandlePermanent(hWnd))
        return pWnd;
    auto& temporary = Maps().temporary;
    auto it = temporary.find(hWnd);
    if (it != temporary.end())
        return it->second;
    CWnd* pWnd = new CWnd;
    pWnd->m_hWnd = hWnd;
    temporary.emplace(hWnd, pWnd);
    return pWnd;
}

BOOL CWnd::Attach(HWND hWndNew)
{
    if (hWndNew == nullptr)
        return FALSE;
    m_hWnd = hWndNew;
    Maps().permanent[hWndNew] = this;
    auto& temporary = Maps().temporary;
    auto it = temporary.find(hWndNew);
    if (it != temporary.end())
    {
        // Temporary wrappers stay valid but now point at nothing.
        it->second->m_hWnd = nullptr;
        delete it->second;
        temporary.erase(it);
    }
    return TRUE;
}

// MFC answers for a null object too; compiled only inside the subset, whose
// build keeps the null check.
HWND CWnd::GetSafeHwnd() const
{
    return this == nullptr ? nullptr : m_hWnd;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    if (hWnd != nullptr)
    {
        auto& permanent = Maps().permanent;
        auto it = permanent.find(hWnd);
        if (it != permanent.end() && it->second == this)
            permanent.erase(it);
    }
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!Attach(hWnd))
        return FALSE;
    PreSubclassWindow();
    WNDPROC oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (oldProc != &AfxWndProc)
        m_pfnSuper = oldProc;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    HWND hWndControl = ::GetDlgItem(pParent->GetSafeHwnd(), (int)nID);
    return hWndControl != nullptr && SubclassWindow(hWndControl);
}

HWND CWnd::UnsubclassWindow()
{
    if (m_pfnSuper != nullptr)
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
    UINT nID, void* pContext)
{
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
        rect.bottom - rect.top, pParentWnd->GetSafeHwnd(), reinterpret_cast<HMENU>((UINT_PTR)nID), pContext);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam)
{
    CREATESTRUCTW cs = {};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName != nullptr ? lpszClassName
                                            : AfxRegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW));
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs))
    {
        PostNcDestroy();
        return FALSE;
    }
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
        cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    if (!AfxUnhookWindowCreate())
        PostNcDestroy();
    return hWnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd != nullptr && ::DestroyWindow(m_hWnd);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT&)
{
    return TRUE;
}

void CWnd::PreSubclassWindow()
{
}

void CWnd::PostNcDestroy()
{
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

const MSG* CWnd::GetCurrentMessage()
{
    return &m_msgCur;
}

BOOL PASCAL CWnd::WalkPreTranslateTree(HWND hWndStop, MSG* pMsg)
{
    for (HWND hWnd = pMsg->hwnd; hWnd != nullptr; hWnd = ::GetParent(hWnd))
    {
        CWnd* pWnd = FromHandlePermanent(hWnd);
        if (pWnd != nullptr && pWnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == hWndStop)
            break;
    }
    return FALSE;
}

void CWnd::SetWindowText(LPCTSTR lpszString)
{
    ::SetWindowTextW(m_hWnd, lpszString);
}

int CWnd::GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const
{
    return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}

int CWnd::GetWindowTextLength() const
{
    return ::GetWindowTextLengthW(m_hWnd);
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL bEnable)
{
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsWindowEnabled() const
{
    return ::IsWindowEnabled(m_hWnd);
}

CWnd* CWnd::SetFocus()
{
    return FromHandle(::SetFocus(m_hWnd));
}

CWnd* PASCAL CWnd::GetFocus()
{
    return FromHandle(::GetFocus());
}

CWnd* CWnd::GetParent() const
{
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetOwner() const
{
    return FromHandle(::GetWindow(m_hWnd, GW_OWNER));
}

CWnd* CWnd::GetTopLevelParent() const
{
    HWND hWnd = m_hWnd;
    while ((::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) != 0 && ::GetParent(hWnd) != nullptr)
        hWnd = ::GetParent(hWnd);
    return FromHandle(hWnd);
}

int CWnd::GetDlgCtrlID() const
{
    return ::GetDlgCtrlID(m_hWnd);
}

LONG CWnd::GetStyle() const
{
    return ::GetWindowLongW(m_hWnd, GWL_STYLE);
}

LONG CWnd::GetExStyle() const
{
    return ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    DWORD dwStyle = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    DWORD dwNewStyle = (dwStyle & ~dwRemove) | dwAdd;
    if (dwStyle == dwNewStyle)
        return FALSE;
    ::SetWindowLongW(m_hWnd, GWL_STYLE, (LONG)dwNewStyle);
    if (nFlags != 0)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    ::GetClientRect(m_hWnd, lpRect);
}

void CWnd::GetWindowRect(LPRECT lpRect) const
{
    ::GetWindowRect(m_hWnd, lpRect);
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const
{
    ::ClientToScreen(m_hWnd, lpPoint);
}

// A mirrored window (WS_EX_LAYOUTRTL) counts client x from the right, so its
// corners come back with left and right exchanged; MFC puts them in order
// again, and callers that move controls by the rectangle rely on that.
void CWnd::ClientToScreen(LPRECT lpRect) const
{
    ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(lpRect));
    ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(lpRect) + 1);
    if ((GetExStyle() & WS_EX_LAYOUTRTL) != 0)
        CRect::SwapLeftRight(lpRect);
}

void CWnd::ScreenToClient(LPPOINT lpPoint) const
{
    ::ScreenToClient(m_hWnd, lpPoint);
}

void CWnd::ScreenToClient(LPRECT lpRect) const
{
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(lpRect));
    ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(lpRect) + 1);
    if ((GetExStyle() & WS_EX_LAYOUTRTL) != 0)
        CRect::SwapLeftRight(lpRect);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint)
{
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint)
{
    ::MoveWindow(
        m_hWnd, lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, bRepaint);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    HWND hWndInsertAfter = nullptr;
    if (pWndInsertAfter == &wndTop)
        hWndInsertAfter = HWND_TOP;
    else if (pWndInsertAfter == &wndBottom)
        hWndInsertAfter = HWND_BOTTOM;
    else if (pWndInsertAfter == &wndTopMost)
        hWndInsertAfter = HWND_TOPMOST;
    else if (pWndInsertAfter == &wndNoTopMost)
        hWndInsertAfter = HWND_NOTOPMOST;
    else if (pWndInsertAfter != nullptr)
        hWndInsertAfter = pWndInsertAfter->m_hWnd;
    return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner)
{
    RECT rcWindow;
    ::GetWindowRect(m_hWnd, &rcWindow);
    RECT rcArea;
    HWND hWndCenter = pAlternateOwner != nullptr ? pAlternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    if (hWndCenter != nullptr && ::IsWindowVisible(hWndCenter))
        ::GetWindowRect(hWndCenter, &rcArea);
    else
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcArea, 0);
    int x = rcArea.left + ((rcArea.right - rcArea.left) - (rcWindow.right - rcWindow.left)) / 2;
    int y = rcArea.top + ((rcArea.bottom - rcArea.top) - (rcWindow.bottom - rcWindow.top)) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::Invalidate(BOOL bErase)
{
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

void CWnd::InvalidateRect(LPCRECT lpRect, BOOL bErase)
{
    ::InvalidateRect(m_hWnd, lpRect, bErase);
}

void CWnd::UpdateWindow()
{
    ::UpdateWindow(m_hWnd);
}

BOOL CWnd::RedrawWindow(LPCRECT lpRectUpdate, HRGN hrgnUpdate, UINT flags)
{
    return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

void CWnd::GetDlgItem(int nID, HWND* phWnd) const
{
    *phWnd = ::GetDlgItem(m_hWnd, nID);
}

void CWnd::SetDlgItemText(int nID, LPCTSTR lpszString)
{
    ::SetDlgItemTextW(m_hWnd, nID, lpszString);
}

int CWnd::GetDlgItemText(int nID, LPTSTR lpStr, int nMaxCount) const
{
    return (int)::GetDlgItemTextW(m_hWnd, nID, lpStr, nMaxCount);
}

void CWnd::SetDlgItemInt(int nID, UINT nValue, BOOL bSigned)
{
    ::SetDlgItemInt(m_hWnd, nID, nValue, bSigned);
}

UINT CWnd::GetDlgItemInt(int nID, BOOL* lpTrans, BOOL bSigned) const
{
    return ::GetDlgItemInt(m_hWnd, nID, lpTrans, bSigned);
}

void CWnd::CheckDlgButton(int nIDButton, UINT nCheck)
{
    ::CheckDlgButton(m_hWnd, nIDButton, nCheck);
}

UINT CWnd::IsDlgButtonChecked(int nIDButton) const
{
    return ::IsDlgButtonChecked(m_hWnd, nIDButton);
}

void CWnd::CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton)
{
    ::CheckRadioButton(m_hWnd, nIDFirstButton, nIDLastButton, nIDCheckButton);
}

int CWnd::GetCheckedRadioButton(int nIDFirstButton, int nIDLastButton)
{
    for (int nID = nIDFirstButton; nID <= nIDLastButton; ++nID)
    {
        if (::IsDlgButtonChecked(m_hWnd, nID))
            return nID;
    }
    return 0;
}

LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendDlgItemMessageW(m_hWnd, nID, message, wParam, lParam);
}

CWnd* CWnd::GetWindow(UINT nCmd) const
{
    return FromHandle(::GetWindow(m_hWnd, nCmd));
}

CWnd* CWnd::GetNextDlgGroupItem(CWnd* pWndCtl, BOOL bPrevious) const
{
    return FromHandle(::GetNextDlgGroupItem(m_hWnd, pWndCtl->GetSafeHwnd(), bPrevious));
}

CMenu* CWnd::GetMenu() const
{
    return CMenu::FromHandle(::GetMenu(m_hWnd));
}

BOOL CWnd::SetMenu(CMenu* pMenu)
{
    return ::SetMenu(m_hWnd, pMenu != nullptr ? pMenu->m_hMenu : nullptr);
}

void CWnd::DrawMenuBar()
{
    ::DrawMenuBar(m_hWnd);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer)
{
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent)
{
    return ::KillTimer(m_hWnd, nIDEvent);
}

int CWnd::MessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption, UINT nType)
{
    if (lpszCaption == nullptr)
        lpszCaption = AfxGetAppName();
    return ::MessageBoxW(m_hWnd, lpszText, lpszCaption, nType);
}

void CWnd::DoDataExchange(CDataExchange*)
{
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper != nullptr)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(m_msgCur.message, m_msgCur.wParam, m_msgCur.lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (!OnWndMsg(message, wParam, lParam, &lResult))
        lResult = DefWindowProc(message, wParam, lParam);
    return lResult;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    UINT nID = LOWORD(wParam);
    HWND hWndCtrl = reinterpret_cast<HWND>(lParam);
    int nCode = HIWORD(wParam);
    if (hWndCtrl == nullptr)
    {
        // Menu items and accelerators: only enabled commands are executed, as
        // MFC asks the update handlers first.
        nCode = CN_COMMAND;
        CTestCmdUI state;
        state.m_nID = nID;
        if (OnCmdMsg(nID, CN_UPDATE_COMMAND_UI, &state, nullptr) && !state.m_bEnabled)
            return TRUE;
    }
    else if (AfxIsNotifyLockedOut(m_hWnd))
    {
        return TRUE; // a control notification caused by UpdateData itself
    }
    return OnCmdMsg(nID, nCode, nullptr, nullptr);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_COMMAND)
    {
        if (OnCommand(wParam, lParam))
        {
            *pResult = 1;
            return TRUE;
        }
        return FALSE;
    }

    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap != nullptr;
         pMap = pMap->pfnGetBaseMap != nullptr ? (*pMap->pfnGetBaseMap)() : nullptr)
    {
        const AFX_MSGMAP_ENTRY* lpEntry = FindMessageEntry(pMap->lpEntries, message);
        if (lpEntry == nullptr)
            continue;
        MessageMapFunctions mmf;
        mmf.pfn = lpEntry->pfn;
        LRESULT lResult = 0;
        switch (lpEntry->nSig)
        {
        case AfxSig_lwl:
            lResult = (this->*mmf.pfn_l_w_l)(wParam, lParam);
            break;
        case AfxSig_vv:
            (this->*mmf.pfn_v_v)();
            break;
        case AfxSig_is:
            lResult = (this->*mmf.pfn_i_s)(reinterpret_cast<LPCREATESTRUCT>(lParam));
            break;
        case AfxSig_vw:
            (this->*mmf.pfn_v_u)((UINT)wParam);
            break;
        case AfxSig_vwp:
            (this->*mmf.pfn_v_u_p)((UINT)wParam, CPoint(lParam));
            break;
        case AfxSig_vwii:
            (this->*mmf.pfn_v_u_i_i)((UINT)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
            break;
        case AfxSig_vM:
            (this->*mmf.pfn_v_M_u_b)(
                CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), HIWORD(lParam));
            break;
        case AfxSig_vpw:
            (this->*mmf.pfn_v_up)((UINT_PTR)wParam);
            break;
        default:
            return FALSE;
        }
        *pResult = lResult;
        return TRUE;
    }
    return FALSE;
}

int CWnd::OnCreate(LPCREATESTRUCT)
{
    return (int)Default();
}

void CWnd::OnDestroy()
{
    Default();
}

void CWnd::OnClose()
{
    Default();
}

void CWnd::OnSize(UINT, int, int)
{
    Default();
}

void CWnd::OnTimer(UINT_PTR)
{
    Default();
}

void CWnd::OnLButtonDown(UINT, CPoint)
{
    Default();
}

void CWnd::OnInitMenuPopup(CMenu*, UINT, BOOL)
{
    Default();
}

// ---------------------------------------------------------------------------
// Modal loop, as MFC runs it for dialogs and message-box-like windows.

BOOL CWnd::ContinueModal()
{
    return (m_nFlags & WF_CONTINUEMODAL) != 0;
}

void CWnd::EndModalLoop(int nResult)
{
    m_nModalResult = nResult;
    if ((m_nFlags & WF_CONTINUEMODAL) != 0)
    {
        m_nFlags &= ~WF_CONTINUEMODAL;
        PostMessage(WM_NULL);
    }
}

int CWnd::RunModalLoop(DWORD dwFlags)
{
    BOOL bIdle = TRUE;
    LONG lIdleCount = 0;
    BOOL bShowIdle = (dwFlags & MLF_SHOWONIDLE) != 0 && (GetStyle() & WS_VISIBLE) == 0;
    HWND hWndParent = ::GetParent(m_hWnd);
    m_nFlags |= (WF_MODALLOOP | WF_CONTINUEMODAL);
    MSG msg;

    for (;;)
    {
        while (bIdle && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE))
        {
            if (bShowIdle)
            {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                bShowIdle = FALSE;
            }
            if ((dwFlags & MLF_NOIDLEMSG) == 0 && hWndParent != nullptr && lIdleCount == 0)
                ::SendMessageW(hWndParent, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(m_hWnd));
            if ((dwFlags & MLF_NOKICKIDLE) != 0 || !SendMessage(WM_KICKIDLE, MSGF_DIALOGBOX, lIdleCount++))
                bIdle = FALSE;
        }

        do
        {
            if (!::GetMessageW(&msg, nullptr, 0, 0))
            {
                AfxPostQuitMessage((int)msg.wParam);
                m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
                return -1;
            }
            CWinThread* pThread = AfxGetThread();
            if (pThread == nullptr || !pThread->PreTranslateMessage(&msg))
            {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (bShowIdle && (msg.message == 0x118 /* WM_SYSTIMER */ || msg.message == WM_SYSKEYDOWN))
            {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
                bShowIdle = FALSE;
            }
            if (!ContinueModal())
            {
                m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
                return m_nModalResult;
            }
            if (msg.message != WM_MOUSEMOVE && msg.message != WM_NCMOUSEMOVE && msg.message != 0x118)
            {
                bIdle = TRUE;
                lIdleCount = 0;
            }
        } while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    }
}

// ---------------------------------------------------------------------------
// CFrameWnd

IMPLEMENT_DYNCREATE(CFrameWnd, CWnd)

const CRect CFrameWnd::rectDefault(CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_WM_INITMENUPOPUP()
END_MESSAGE_MAP()

CFrameWnd::CFrameWnd() : m_bAutoMenuEnable(TRUE), m_hMenuDefault(nullptr)
{
}

BOOL CFrameWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
    LPCTSTR lpszMenuName, DWORD dwExStyle, void* pContext)
{
    HMENU hMenu = nullptr;
    if (lpszMenuName != nullptr)
    {
        HINSTANCE hInst = AfxFindResourceHandle(lpszMenuName, RT_MENU);
        hMenu = ::LoadMenuW(hInst, lpszMenuName);
        if (hMenu == nullptr)
        {
            if (IS_INTRESOURCE(lpszMenuName))
                AfxSubTrace(L"Warning: failed to load menu %u for CFrameWnd.\n",
                    static_cast<UINT>(reinterpret_cast<ULONG_PTR>(lpszMenuName)));
            else
                AfxSubTrace(L"Warning: failed to load menu %ls for CFrameWnd.\n", lpszMenuName);
            // The frame object is gone afterwards, as in MFC; LoadMenu's error stays.
            const DWORD dwError = ::GetLastError();
            PostNcDestroy();
            ::SetLastError(dwError);
            return FALSE;
        }
    }
    m_hMenuDefault = hMenu;
    if (lpszClassName == nullptr)
        lpszClassName = AfxRegisterWndClass(CS_DBLCLKS, ::LoadCursor(nullptr, IDC_ARROW),
            reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1), ::LoadIcon(nullptr, IDI_APPLICATION));
    int cx = rect.right == 0 && rect.left == CW_USEDEFAULT ? CW_USEDEFAULT : rect.right - rect.left;
    int cy = rect.bottom == 0 && rect.top == CW_USEDEFAULT ? CW_USEDEFAULT : rect.bottom - rect.top;
    if (!CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, cx, cy,
            pParentWnd->GetSafeHwnd(), hMenu, pContext))
    {
        const DWORD dwError = ::GetLastError();
        AfxSubTrace(L"Warning: failed to create CFrameWnd.\n");
        if (hMenu != nullptr)
            ::DestroyMenu(hMenu);
        ::SetLastError(dwError);
        return FALSE;
    }
    return TRUE;
}

BOOL CFrameWnd::LoadFrame(UINT nIDResource, DWORD dwDefaultStyle, CWnd* pParentWnd, void* pContext)
{
    wchar_t szTitle[256] = {};
    AfxLoadString(nIDResource, szTitle, 256);
    wchar_t* pszNewline = wcschr(szTitle, L'\n');
    if (pszNewline != nullptr)
        *pszNewline = 0;
    return Create(nullptr, szTitle[0] != 0 ? szTitle : AfxGetAppName(), dwDefaultStyle & ~FWS_ADDTOTITLE, rectDefault,
        pParentWnd, MAKEINTRESOURCEW(nIDResource), 0, pContext);
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo)
{
    // The frame first, then the application, as MFC routes commands without
    // views or documents.
    if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo))
        return TRUE;
    CWinApp* pApp = AfxGetApp();
    return pApp != nullptr && pApp->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

void CFrameWnd::PostNcDestroy()
{
    // Frames are allocated on the heap and delete themselves, as in MFC.
    delete this;
}
