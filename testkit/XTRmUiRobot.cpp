// The UI robot. A WH_CBT hook notices each dialog window as it activates and
// posts a message to the robot's own message-only window; whatever modal loop
// runs at that moment (the dialog's own, or a message box's) dispatches it, so
// the step runs inside the loop of the dialog it drives. A timer on the same
// window is the watchdog.
#include "XTRmUiRobot.h"

#include <cstdio>
#include <sstream>

namespace
{
const UINT kRobotMeetMessage = WM_APP + 0x5A1;
const UINT_PTR kWatchdogTimer = 1;
const UINT kWatchdogPeriod = 100;
// MFC shows a modal dialog only once its queue is idle, after it activated;
// a timer fires only then too, so a dialog not yet visible is met by it.
const UINT_PTR kMeetTimer = 2;
const UINT kMeetDelay = 10;
const wchar_t kRobotWindowClass[] = L"XTRmUiRobotWindow";

thread_local XTRmUiRobot* t_pActiveRobot = nullptr;

std::string Narrow(const std::wstring& str)
{
    if (str.empty())
        return std::string();
    int nLength = ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), (int)str.size(), nullptr, 0, nullptr, nullptr);
    std::string strResult(nLength, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, str.c_str(), (int)str.size(), &strResult[0], nLength, nullptr, nullptr);
    return strResult;
}

std::wstring WindowText(HWND hWnd)
{
    int nLength = ::GetWindowTextLengthW(hWnd);
    std::wstring str(nLength + 1, L'\0');
    nLength = ::GetWindowTextW(hWnd, &str[0], nLength + 1);
    str.resize(nLength);
    return str;
}

bool IsDialogWindow(HWND hWnd)
{
    wchar_t szClass[16] = {};
    ::GetClassNameW(hWnd, szClass, 16);
    return lstrcmpW(szClass, L"#32770") == 0 && (::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) == 0;
}

// Message boxes keep their icon in static 0x0440 under Wine and in static 20
// on Windows; their text in static 0xFFFF.
const int kMessageTextId = 0xFFFF;
const int kMessageIconIds[] = {0x0440, 20};

std::string DialogClass(HWND hWnd)
{
    if (CWnd* pWnd = CWnd::FromHandlePermanent(hWnd))
        return pWnd->GetRuntimeClass()->m_lpszClassName;
    if (::GetDlgItem(hWnd, kMessageTextId) != nullptr)
        return XTRmUiRobot::kMessageBoxClass;
    return "#32770";
}

std::string Describe(HWND hWnd, const std::string& strClass)
{
    std::string str = strClass + " \"" + Narrow(WindowText(hWnd)) + "\"";
    if (strClass == XTRmUiRobot::kMessageBoxClass)
        str += " saying \"" + Narrow(WindowText(::GetDlgItem(hWnd, kMessageTextId))) + "\"";
    return str;
}
} // namespace

const char* const XTRmUiRobot::kMessageBoxClass = "#32770 message box";

// ---------------------------------------------------------------------------
// XTRmUiRobot

XTRmUiRobot::XTRmUiRobot()
{
    WNDCLASSW wc = {};
    if (!::GetClassInfoW(::GetModuleHandleW(nullptr), kRobotWindowClass, &wc))
    {
        wc.lpfnWndProc = &RobotWndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kRobotWindowClass;
        ::RegisterClassW(&wc);
    }
    m_hRobotWnd = ::CreateWindowExW(
        0, kRobotWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(m_hRobotWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetTimer(m_hRobotWnd, kWatchdogTimer, kWatchdogPeriod, nullptr);
    m_hHook = ::SetWindowsHookExW(WH_CBT, &CbtHook, nullptr, ::GetCurrentThreadId());
    m_pPrevious = t_pActiveRobot;
    t_pActiveRobot = this;
}

XTRmUiRobot::~XTRmUiRobot()
{
    if (!m_bFinished)
    {
        std::string strReport = Finish();
        if (!strReport.empty())
            std::fprintf(stderr, "XTRmUiRobot: %s\n", strReport.c_str());
    }
}

XTRmUiRobot& XTRmUiRobot::Expect(const std::string& strDialogClass, Step fnStep)
{
    m_vecSteps.push_back({strDialogClass, std::move(fnStep)});
    return *this;
}

void XTRmUiRobot::AddFailure(const std::string& strWhat)
{
    m_vecFailures.push_back(strWhat);
}

void XTRmUiRobot::Stop()
{
    if (m_hHook != nullptr)
        ::UnhookWindowsHookEx(m_hHook);
    m_hHook = nullptr;
    if (m_hRobotWnd != nullptr)
    {
        ::KillTimer(m_hRobotWnd, kWatchdogTimer);
        ::DestroyWindow(m_hRobotWnd);
    }
    m_hRobotWnd = nullptr;
    if (t_pActiveRobot == this)
        t_pActiveRobot = m_pPrevious;
}

std::string XTRmUiRobot::Finish()
{
    if (!m_bFinished)
    {
        m_bFinished = true;
        // Dialogs still open here belong to code that has not returned yet
        // (or never will); close them so nothing outlives the script.
        for (Tracked& tracked : m_vecTracked)
        {
            if (::IsWindow(tracked.hWnd) && ::IsWindowVisible(tracked.hWnd))
                Close(tracked, "still open when the script finished");
        }
        Stop();
        for (size_t i = m_nNextStep; i < m_vecSteps.size(); ++i)
            AddFailure("step " + std::to_string(i + 1) + " never ran: no " + m_vecSteps[i].strClass + " opened");
    }
    std::string strReport;
    for (const std::string& strFailure : m_vecFailures)
        strReport += (strReport.empty() ? "" : "\n") + strFailure;
    return strReport;
}

LRESULT CALLBACK XTRmUiRobot::CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    XTRmUiRobot* pRobot = t_pActiveRobot;
    if (pRobot != nullptr && nCode >= 0)
    {
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        if (nCode == HCBT_ACTIVATE)
            pRobot->Notice(hWnd);
        else if (nCode == HCBT_DESTROYWND)
            pRobot->Forget(hWnd);
    }
    return ::CallNextHookEx(nullptr, nCode, wParam, lParam);
}

XTRmUiRobot::Tracked* XTRmUiRobot::Find(HWND hWnd)
{
    for (Tracked& tracked : m_vecTracked)
    {
        if (tracked.hWnd == hWnd)
            return &tracked;
    }
    return nullptr;
}

void XTRmUiRobot::Notice(HWND hWnd)
{
    // Activation comes again for a dialog when a nested one closes: act once
    // per dialog window.
    if (m_bFinished || !IsDialogWindow(hWnd) || Find(hWnd) != nullptr)
        return;
    m_vecTracked.push_back({hWnd, DialogClass(hWnd), State::Waiting, 0});
    ::PostMessageW(m_hRobotWnd, kRobotMeetMessage, reinterpret_cast<WPARAM>(hWnd), 0);
}

void XTRmUiRobot::Forget(HWND hWnd)
{
    // Window handles are reused; a later window with this handle is new.
    for (auto it = m_vecTracked.begin(); it != m_vecTracked.end(); ++it)
    {
        if (it->hWnd == hWnd)
        {
            m_vecTracked.erase(it);
            return;
        }
    }
}

void XTRmUiRobot::Meet(HWND hWnd)
{
    Tracked* pTracked = Find(hWnd);
    if (pTracked == nullptr || pTracked->state != State::Waiting || !::IsWindow(hWnd))
        return; // gone again before anyone could act on it
    if (!::IsWindowVisible(hWnd))
    {
        ::SetTimer(m_hRobotWnd, kMeetTimer, kMeetDelay, nullptr);
        return;
    }
    std::string strClass = pTracked->strClass;

    XTRmDialogDriver driver(*this, hWnd, strClass);
    if (m_fnObserver)
    {
        m_fnObserver(driver);
        if ((pTracked = Find(hWnd)) == nullptr)
            return;
    }

    if (m_nNextStep >= m_vecSteps.size() || m_vecSteps[m_nNextStep].strClass != strClass)
    {
        std::string strExpected = m_nNextStep < m_vecSteps.size()
            ? "step " + std::to_string(m_nNextStep + 1) + " expects " + m_vecSteps[m_nNextStep].strClass
            : "no step left";
        AddFailure("unexpected dialog " + Describe(hWnd, strClass) + " (" + strExpected + ")");
        Close(*pTracked, nullptr);
        return;
    }

    // Advance first: a dialog this step opens is met by the next step while
    // this one is still on the stack.
    Step fnStep = m_vecSteps[m_nNextStep++].fnStep;
    pTracked->state = State::Running;
    if (fnStep)
        fnStep(driver);
    if ((pTracked = Find(hWnd)) != nullptr)
    {
        pTracked->state = State::Done;
        pTracked->nDoneTick = ::GetTickCount();
    }
}

void XTRmUiRobot::MeetWaiting()
{
    std::vector<HWND> vecWaiting;
    for (const Tracked& tracked : m_vecTracked)
    {
        if (tracked.state == State::Waiting)
            vecWaiting.push_back(tracked.hWnd);
    }
    for (HWND hWnd : vecWaiting)
        Meet(hWnd);
}

void XTRmUiRobot::Close(Tracked& tracked, const char* pszWhy)
{
    if (pszWhy != nullptr)
        AddFailure(Describe(tracked.hWnd, tracked.strClass) + " " + pszWhy + "; closed by the watchdog");
    tracked.state = State::Unexpected;
    tracked.nDoneTick = ::GetTickCount();
    // An MFC dialog ends its own modal loop; every other dialog (message
    // boxes included) is ended through the dialog manager.
    CDialog* pDialog = DYNAMIC_DOWNCAST(CDialog, CWnd::FromHandlePermanent(tracked.hWnd));
    if (pDialog != nullptr)
        pDialog->EndDialog(IDCANCEL);
    else
        ::EndDialog(tracked.hWnd, IDCANCEL);
}

void XTRmUiRobot::Watchdog()
{
    // Dialogs that never activated (shown without activation) are met here.
    struct Enum
    {
        static BOOL CALLBACK Proc(HWND hWnd, LPARAM lParam)
        {
            auto* pRobot = reinterpret_cast<XTRmUiRobot*>(lParam);
            if (::IsWindowVisible(hWnd))
                pRobot->Notice(hWnd);
            return TRUE;
        }
    };
    ::EnumThreadWindows(::GetCurrentThreadId(), &Enum::Proc, reinterpret_cast<LPARAM>(this));

    DWORD nNow = ::GetTickCount();
    for (size_t i = 0; i < m_vecTracked.size(); ++i)
    {
        Tracked& tracked = m_vecTracked[i];
        if (!::IsWindow(tracked.hWnd) || !::IsWindowVisible(tracked.hWnd))
            continue;
        if (tracked.state == State::Done && nNow - tracked.nDoneTick > m_nLeftOpenTimeout)
            Close(tracked, "left open by its step");
        else if (tracked.state == State::Unexpected && nNow - tracked.nDoneTick > m_nLeftOpenTimeout)
        {
            // Did not go on the first attempt (a message box without a
            // cancel button, say): the system's close, then again.
            tracked.nDoneTick = nNow;
            ::PostMessageW(tracked.hWnd, WM_CLOSE, 0, 0);
            ::EndDialog(tracked.hWnd, IDCANCEL);
        }
    }
}

LRESULT CALLBACK XTRmUiRobot::RobotWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pRobot = reinterpret_cast<XTRmUiRobot*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pRobot != nullptr && !pRobot->m_bFinished)
    {
        if (nMsg == kRobotMeetMessage)
        {
            pRobot->Meet(reinterpret_cast<HWND>(wParam));
            return 0;
        }
        if (nMsg == WM_TIMER && wParam == kWatchdogTimer)
        {
            pRobot->Watchdog();
            return 0;
        }
        if (nMsg == WM_TIMER && wParam == kMeetTimer)
        {
            ::KillTimer(hWnd, kMeetTimer);
            pRobot->MeetWaiting();
            return 0;
        }
    }
    return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
}

// ---------------------------------------------------------------------------
// XTRmDialogDriver

XTRmDialogDriver::XTRmDialogDriver(XTRmUiRobot& robot, HWND hWnd, std::string strClass)
    : m_robot(robot), m_hWnd(hWnd), m_strClass(std::move(strClass))
{
}

void XTRmDialogDriver::Fail(const std::string& strWhat) const
{
    m_robot.AddFailure(m_strClass + ": " + strWhat);
}

HWND XTRmDialogDriver::Control(int nID, const char* pszAction, bool bUserAction) const
{
    HWND hCtrl = ::GetDlgItem(m_hWnd, nID);
    std::string strWhere = std::string(pszAction) + " " + std::to_string(nID);
    if (hCtrl == nullptr)
    {
        Fail(strWhere + ": no such control");
        return nullptr;
    }
    if (bUserAction && !::IsWindowVisible(hCtrl))
    {
        Fail(strWhere + ": the control is hidden");
        return nullptr;
    }
    if (bUserAction && (!::IsWindowEnabled(hCtrl) || !::IsWindowEnabled(m_hWnd)))
    {
        Fail(strWhere + ": the control is disabled");
        return nullptr;
    }
    return hCtrl;
}

void XTRmDialogDriver::SetText(int nID, const std::wstring& strText)
{
    if (HWND hCtrl = Control(nID, "SetText", true))
        ::SendMessageW(hCtrl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strText.c_str()));
}

void XTRmDialogDriver::Type(int nID, const std::wstring& strText)
{
    HWND hCtrl = Control(nID, "Type", true);
    if (hCtrl == nullptr)
        return;
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hCtrl), TRUE);
    int nLength = ::GetWindowTextLengthW(hCtrl);
    ::SendMessageW(hCtrl, EM_SETSEL, nLength, nLength);
    for (wchar_t ch : strText)
        ::SendMessageW(hCtrl, WM_CHAR, ch, 1);
}

void XTRmDialogDriver::Click(int nID)
{
    if (HWND hCtrl = Control(nID, "Click", true))
        ::SendMessageW(hCtrl, BM_CLICK, 0, 0);
}

void XTRmDialogDriver::SelectRow(int nID, int nRow)
{
    HWND hCtrl = Control(nID, "SelectRow", true);
    if (hCtrl == nullptr)
        return;
    int nCount = (int)::SendMessageW(hCtrl, LB_GETCOUNT, 0, 0);
    if (nRow < 0 || nRow >= nCount)
    {
        Fail("SelectRow " + std::to_string(nID) + ": no row " + std::to_string(nRow) + " among " +
            std::to_string(nCount));
        return;
    }
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hCtrl), TRUE);
    ::SendMessageW(hCtrl, LB_SETCURSEL, nRow, 0);
    if ((::GetWindowLongW(hCtrl, GWL_STYLE) & LBS_NOTIFY) != 0)
        ::SendMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(nID, LBN_SELCHANGE), reinterpret_cast<LPARAM>(hCtrl));
}

void XTRmDialogDriver::Focus(int nID)
{
    if (HWND hCtrl = Control(nID, "Focus", true))
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hCtrl), TRUE);
}

void XTRmDialogDriver::PressKey(UINT nVirtualKey)
{
    HWND hTarget = ::GetFocus();
    if (hTarget == nullptr || (hTarget != m_hWnd && !::IsChild(m_hWnd, hTarget)))
        hTarget = m_hWnd;
    UINT nScan = ::MapVirtualKeyW(nVirtualKey, MAPVK_VK_TO_VSC);
    ::PostMessageW(hTarget, WM_KEYDOWN, nVirtualKey, 1 | (nScan << 16));
    ::PostMessageW(hTarget, WM_KEYUP, nVirtualKey, 1 | (nScan << 16) | 0xC0000000);
}

void XTRmDialogDriver::PressCloseBox()
{
    if ((::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_SYSMENU) == 0)
    {
        Fail("PressCloseBox: the dialog has no close box");
        return;
    }
    ::SendMessageW(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

std::wstring XTRmDialogDriver::GetText(int nID) const
{
    HWND hCtrl = Control(nID, "GetText", false);
    return hCtrl != nullptr ? WindowText(hCtrl) : std::wstring();
}

std::wstring XTRmDialogDriver::GetCaption() const
{
    return WindowText(m_hWnd);
}

bool XTRmDialogDriver::IsEnabled(int nID) const
{
    HWND hCtrl = Control(nID, "IsEnabled", false);
    return hCtrl != nullptr && ::IsWindowEnabled(hCtrl);
}

bool XTRmDialogDriver::IsVisible(int nID) const
{
    HWND hCtrl = Control(nID, "IsVisible", false);
    return hCtrl != nullptr && ::IsWindowVisible(hCtrl);
}

bool XTRmDialogDriver::IsChecked(int nID) const
{
    HWND hCtrl = Control(nID, "IsChecked", false);
    return hCtrl != nullptr && ::SendMessageW(hCtrl, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::wstring> XTRmDialogDriver::GetListRows(int nID) const
{
    std::vector<std::wstring> vecRows;
    HWND hCtrl = Control(nID, "GetListRows", false);
    if (hCtrl == nullptr)
        return vecRows;
    int nCount = (int)::SendMessageW(hCtrl, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < nCount; ++i)
    {
        std::wstring strRow((size_t)::SendMessageW(hCtrl, LB_GETTEXTLEN, i, 0) + 1, L'\0');
        strRow.resize((size_t)::SendMessageW(hCtrl, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&strRow[0])));
        vecRows.push_back(strRow);
    }
    return vecRows;
}

int XTRmDialogDriver::GetListSelection(int nID) const
{
    HWND hCtrl = Control(nID, "GetListSelection", false);
    return hCtrl != nullptr ? (int)::SendMessageW(hCtrl, LB_GETCURSEL, 0, 0) : LB_ERR;
}

RECT XTRmDialogDriver::GetControlRect(int nID) const
{
    RECT rect = {};
    if (HWND hCtrl = Control(nID, "GetControlRect", false))
    {
        ::GetWindowRect(hCtrl, &rect);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(&rect), 2);
    }
    return rect;
}

RECT XTRmDialogDriver::GetClientRect() const
{
    RECT rect = {};
    ::GetClientRect(m_hWnd, &rect);
    return rect;
}

int XTRmDialogDriver::GetFocusId() const
{
    HWND hFocus = ::GetFocus();
    return hFocus != nullptr && ::IsChild(m_hWnd, hFocus) ? ::GetDlgCtrlID(hFocus) : 0;
}

std::wstring XTRmDialogDriver::GetMessageText() const
{
    return GetText(kMessageTextId);
}

UINT XTRmDialogDriver::GetMessageIcon() const
{
    for (int nID : kMessageIconIds)
    {
        HWND hIcon = ::GetDlgItem(m_hWnd, nID);
        if (hIcon == nullptr)
            continue;
        HICON hShown = reinterpret_cast<HICON>(::SendMessageW(hIcon, STM_GETICON, 0, 0));
        const std::pair<LPCWSTR, UINT> icons[] = {{IDI_HAND, MB_ICONHAND}, {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
            {IDI_QUESTION, MB_ICONQUESTION}, {IDI_ASTERISK, MB_ICONASTERISK}};
        for (const auto& icon : icons)
        {
            if (hShown != nullptr && hShown == ::LoadIconW(nullptr, icon.first))
                return icon.second;
        }
    }
    return 0;
}

bool XTRmDialogDriver::SaveScreenshot(const std::wstring& strPath) const
{
    return XTRmSaveWindowScreenshot(m_hWnd, strPath);
}
