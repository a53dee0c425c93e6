// The lock on inactivity: a message hook that notes when the user last
// touched keyboard or mouse, a timer that compares that with the limit, and
// the lock dialog over the host's main window.
//
// The hook runs for every message the GUI thread takes from its queue, so it
// does no more than compare the message number and, for input, read the
// clock; everything else waits for the timer once a second.
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

    void Stop()
    {
        if (hHook != nullptr)
            ::UnhookWindowsHookEx(hHook);
        if (nTimerId != 0)
            ::KillTimer(nullptr, nTimerId);
        hHook = nullptr;
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
    // A message only peeked at comes again when it is removed.
    if (nCode == HC_ACTION && wParam == PM_REMOVE && IsUserInput(reinterpret_cast<const MSG*>(lParam)->message))
        g_lock.nLastInput = g_lock.Now();
    return ::CallNextHookEx(g_lock.hHook, nCode, wParam, lParam);
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

    g_lock.hHook = ::SetWindowsHookExW(WH_GETMESSAGE, &InactivityHookProc, nullptr, ::GetCurrentThreadId());
    g_lock.nTimerId = ::SetTimer(nullptr, 0, kCheckPeriodMilliseconds, &InactivityTimerProc);
    if (g_lock.hHook == nullptr || g_lock.nTimerId == 0)
    {
        g_lock.Stop();
        return false;
    }
    g_lock.hMainWnd = pMainWnd != nullptr ? pMainWnd->GetSafeHwnd() : nullptr;
    g_lock.nLimitMilliseconds = nMinutes * kMillisecondsPerMinute;
    g_lock.fnUserChanged = std::move(fnUserChanged);
    g_lock.nLastInput = g_lock.Now();
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
        return false;
    return LockNow();
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
