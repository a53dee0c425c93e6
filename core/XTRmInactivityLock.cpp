// The lock on inactivity: a message hook that notes when the user last
// touched keyboard or mouse, a timer that compares that with the limit, and
// the lock dialog over the host's main window.
//
// A hook costs every message the GUI thread takes from its queue (under Wine
// three round trips to the server each), so it is armed only until it has
// seen one input message, which it notes before it takes itself out; the
// timer arms it again each second. While the user works, a few messages a
// second pass through it; the lock's resolution is that second.
#include <afxwin.h>

#include "XTRmLockDlg.h"
#include "XTRmRestrictionManager.h"
#include "XTRmsPasswordServiceBase.h"
#include "XTRmsSessionServiceBase.h"

#include <vector>

namespace
{
const UINT kCheckPeriodMilliseconds = 1000;
const unsigned long long kMillisecondsPerMinute = 60ULL * 1000ULL;

struct InactivityLockState
{
    HHOOK hHook = nullptr;
    UINT_PTR nTimerId = 0;
    HWND hMainWnd = nullptr;
    unsigned long long nLimitMilliseconds = 0;
    std::function<void(const std::wstring&)> fnUserChanged;
    std::function<unsigned long long()> fnClock;
    unsigned long long nLastInput = 0;
    bool bLockShowing = false;

    unsigned long long Now() const { return fnClock ? fnClock() : ::GetTickCount64(); }

    bool Arm();
    void Disarm()
    {
        if (hHook != nullptr)
            ::UnhookWindowsHookEx(hHook);
        hHook = nullptr;
    }

    void Stop()
    {
        Disarm();
        if (nTimerId != 0)
            ::KillTimer(nullptr, nTimerId);
        nTimerId = 0;
        hMainWnd = nullptr;
        nLimitMilliseconds = 0;
        fnUserChanged = nullptr;
    }

    // A host that unloads XTRm without disabling the lock must not keep a
    // hook into a library that is gone.
    ~InactivityLockState() { Stop(); }
};

InactivityLockState g_lock;

// Keyboard and mouse only: timers, paints and posted messages of the host
// are not its user.
bool IsUserInput(UINT nMessage)
{
    return (nMessage >= WM_KEYFIRST && nMessage <= WM_KEYLAST) ||
        (nMessage >= WM_MOUSEFIRST && nMessage <= WM_MOUSELAST) ||
        (nMessage >= WM_NCMOUSEMOVE && nMessage <= WM_NCXBUTTONDBLCLK);
}

LRESULT CALLBACK InactivityHookProc(int nCode, WPARAM wParam, LPARAM lParam)
{
    const LRESULT nResult = ::CallNextHookEx(g_lock.hHook, nCode, wParam, lParam);
    // A message only peeked at comes again when it is removed.
    if (nCode == HC_ACTION && wParam == PM_REMOVE && IsUserInput(reinterpret_cast<const MSG*>(lParam)->message))
    {
        g_lock.nLastInput = g_lock.Now();
        g_lock.Disarm();
    }
    return nResult;
}

bool InactivityLockState::Arm()
{
    // Not while the lock is off: the host may have turned it off from its
    // callback, inside a check.
    if (hHook == nullptr && nLimitMilliseconds != 0)
        hHook = ::SetWindowsHookExW(WH_GETMESSAGE, &InactivityHookProc, nullptr, ::GetCurrentThreadId());
    return hHook != nullptr;
}

void CALLBACK InactivityTimerProc(HWND /*hWnd*/, UINT /*nMsg*/, UINT_PTR /*nId*/, DWORD /*nTime*/)
{
    XTRmRestrictionManager::CheckInactivity();
}

// The thread's other top-level windows (tool windows, a dialog the host had
// open) are disabled while the lock shows; the dialog disables its parent
// itself.
class OtherWindowsDisabler
{
public:
    explicit OtherWindowsDisabler(HWND hMainWnd) : m_hMainWnd(hMainWnd)
    {
        ::EnumThreadWindows(::GetCurrentThreadId(), &OtherWindowsDisabler::Collect, reinterpret_cast<LPARAM>(this));
        for (HWND hWnd : m_vecDisabled)
            ::EnableWindow(hWnd, FALSE);
    }
    ~OtherWindowsDisabler()
    {
        for (HWND hWnd : m_vecDisabled)
        {
            if (::IsWindow(hWnd))
                ::EnableWindow(hWnd, TRUE);
        }
    }
    OtherWindowsDisabler(const OtherWindowsDisabler&) = delete;
    OtherWindowsDisabler& operator=(const OtherWindowsDisabler&) = delete;

private:
    static BOOL CALLBACK Collect(HWND hWnd, LPARAM lParam)
    {
        auto* pThis = reinterpret_cast<OtherWindowsDisabler*>(lParam);
        if (hWnd != pThis->m_hMainWnd && ::IsWindowVisible(hWnd) && ::IsWindowEnabled(hWnd))
            pThis->m_vecDisabled.push_back(hWnd);
        return TRUE;
    }

    HWND m_hMainWnd;
    std::vector<HWND> m_vecDisabled;
};
} // namespace

bool XTRmRestrictionManager::EnableInactivityLock(
    CWnd* pMainWnd, unsigned int nMinutes, std::function<void(const std::wstring& strUser)> fnUserChanged)
{
    g_lock.Stop();
    if (nMinutes == 0 || dynamic_cast<XTRmsSessionServiceBase*>(ms_pRestrictionManagerService) == nullptr)
        return false;

    g_lock.hMainWnd = pMainWnd != nullptr ? pMainWnd->GetSafeHwnd() : nullptr;
    g_lock.nLimitMilliseconds = nMinutes * kMillisecondsPerMinute;
    g_lock.fnUserChanged = std::move(fnUserChanged);
    g_lock.nLastInput = g_lock.Now();
    g_lock.nTimerId = ::SetTimer(nullptr, 0, kCheckPeriodMilliseconds, &InactivityTimerProc);
    if (g_lock.nTimerId == 0 || !g_lock.Arm())
    {
        g_lock.Stop();
        return false;
    }
    return true;
}

void XTRmRestrictionManager::DisableInactivityLock()
{
    g_lock.Stop();
}

void XTRmRestrictionManager::SetInactivityClock(std::function<unsigned long long()> fnMilliseconds)
{
    g_lock.fnClock = std::move(fnMilliseconds);
    g_lock.nLastInput = g_lock.Now();
}

bool XTRmRestrictionManager::CheckInactivity()
{
    if (g_lock.nLimitMilliseconds == 0 || g_lock.bLockShowing)
        return false;
    const unsigned long long nNow = g_lock.Now();
    // A clock set back counts as fresh input rather than as a long absence.
    if (nNow < g_lock.nLastInput || nNow - g_lock.nLastInput < g_lock.nLimitMilliseconds)
    {
        g_lock.Arm();
        return false;
    }
    const bool bLocked = LockNow();
    g_lock.Arm();
    return bLocked;
}

bool XTRmRestrictionManager::LockNow()
{
    XTRmsSessionServiceBase* pSession = dynamic_cast<XTRmsSessionServiceBase*>(ms_pRestrictionManagerService);
    if (pSession == nullptr || g_lock.bLockShowing)
        return false;
    // Nobody or a guest logged in: there is nobody to lock out.
    if (!pSession->LockSession())
        return false;

    // The name comes from the password interface; a service without one
    // shows the lock without a name, and every login at it is a switch.
    std::wstring strLockedUserName;
    if (const auto* pPasswordService = dynamic_cast<XTRmsPasswordServiceBase*>(ms_pRestrictionManagerService))
        strLockedUserName = pPasswordService->GetLoggedInUserName();

    HWND hMainWnd = g_lock.hMainWnd;
    if (hMainWnd == nullptr || !::IsWindow(hMainWnd))
        hMainWnd = AfxGetMainWnd() != nullptr ? AfxGetMainWnd()->GetSafeHwnd() : nullptr;

    // Copied: the host may enable the lock again from its callback.
    const std::function<void(const std::wstring&)> fnUserChanged = g_lock.fnUserChanged;
    bool bSwitched = false;
    std::wstring strUserName;
    g_lock.bLockShowing = true;
    {
        const OtherWindowsDisabler disabler(hMainWnd);
        XTRmLockDlg dlg(
            pSession, strLockedUserName, [](Rms::ERmsLoginResult nResult) { HandleUserLoginResult(nResult); },
            CWnd::FromHandle(hMainWnd));
        if (dlg.DoModal() == IDOK)
        {
            bSwitched = dlg.WasUserSwitched();
            strUserName = dlg.GetUserName();
        }
    }
    g_lock.bLockShowing = false;
    g_lock.nLastInput = g_lock.Now();

    // Once the host's windows are back, so that it can rebuild its menus.
    if (bSwitched && fnUserChanged)
        fnUserChanged(strUserName);
    return true;
}
