// The UI robot: drives real modal dialogs and message boxes the way a person
// would, from a script of steps, one step per dialog window in the order the
// dialogs open. Win32 and public MFC only, so the same script drives the same
// dialogs against the real MFC.
//
//   XTRmUiRobot robot;
//   robot.Expect("XTRmUserLoginDlg", [](XTRmDialogDriver& dlg) {
//       dlg.SetText(IDC_XTRM_LOGIN_PASSWORD, L"secret");
//       dlg.PressOK();
//   });
//   robot.ExpectMessageBox([](XTRmDialogDriver& box) { box.PressOK(); });
//   ... code that opens the dialogs ...
//   EXPECT_EQ("", robot.Finish());
#pragma once

#include <afxwin.h>

#include <functional>
#include <string>
#include <vector>

class XTRmUiRobot;

// What a step gets: user actions on one dialog and observers of its state.
// Actions refuse (and fail the script) what a person could not do: typing
// into or clicking a control that is hidden or disabled, or a missing one.
class XTRmDialogDriver
{
public:
    XTRmDialogDriver(XTRmUiRobot& robot, HWND hWnd, std::string strClass);

    HWND GetHwnd() const { return m_hWnd; }
    // The MFC object behind the dialog; null for message boxes.
    CWnd* GetWindow() const { return CWnd::FromHandlePermanent(m_hWnd); }
    // The MFC run-time class name, or XTRmUiRobot::kMessageBoxClass, or "#32770".
    const std::string& GetClassName() const { return m_strClass; }

    // --- actions ---------------------------------------------------------
    // Replaces an edit's text at once (WM_SETTEXT): one change notification.
    void SetText(int nID, const std::wstring& strText);
    // Focuses the edit and types the characters at the end of its text
    // (WM_CHAR): one change notification per character.
    void Type(int nID, const std::wstring& strText);
    void Clear(int nID) { SetText(nID, std::wstring()); }
    // A mouse click on a button, check box or radio button (BM_CLICK).
    // Runs synchronously: a dialog the click opens is met by the next step
    // before Click returns.
    void Click(int nID);
    // Picks a list row as a click would: focus, selection, and LBN_SELCHANGE
    // to the parent when the list has LBS_NOTIFY.
    void SelectRow(int nID, int nRow);
    // Moves the focus as Tab would (WM_NEXTDLGCTL).
    void Focus(int nID);
    void PressOK() { Click(IDOK); }
    void PressCancel() { Click(IDCANCEL); }
    // Keys are posted to the focused control like real key presses: they act
    // once the step has returned to the dialog's message loop.
    void PressEscape() { PressKey(VK_ESCAPE); }
    void PressEnter() { PressKey(VK_RETURN); }
    void PressKey(UINT nVirtualKey);
    // The caption's close button (WM_SYSCOMMAND SC_CLOSE).
    void PressCloseBox();

    // --- observers -------------------------------------------------------
    bool HasControl(int nID) const { return ::GetDlgItem(m_hWnd, nID) != nullptr; }
    std::wstring GetText(int nID) const;
    std::wstring GetCaption() const;
    bool IsEnabled(int nID) const;
    // Visible on the screen: the control and the dialog.
    bool IsVisible(int nID) const;
    bool IsChecked(int nID) const;
    std::vector<std::wstring> GetListRows(int nID) const;
    int GetListSelection(int nID) const;
    // In the dialog's client coordinates.
    RECT GetControlRect(int nID) const;
    RECT GetClientRect() const;
    // Id of the control that has the keyboard focus; 0 when none of the dialog's.
    int GetFocusId() const;

    // Message boxes: the text and the icon (IDI_HAND, IDI_EXCLAMATION,
    // IDI_QUESTION, IDI_ASTERISK as MB_ICON... flags; 0 when none).
    std::wstring GetMessageText() const;
    UINT GetMessageIcon() const;

    // A PNG of the dialog as it is on the screen now.
    bool SaveScreenshot(const std::wstring& strPath) const;

    // Fails the script with a note (for checks a step makes without a test
    // framework, as in the demo).
    void Fail(const std::string& strWhat) const;

private:
    HWND Control(int nID, const char* pszAction, bool bUserAction) const;

    XTRmUiRobot& m_robot;
    HWND m_hWnd;
    std::string m_strClass;
};

class XTRmUiRobot
{
public:
    using Step = std::function<void(XTRmDialogDriver&)>;

    // The class name under which message boxes are expected.
    static const char* const kMessageBoxClass;

    // Starts watching this thread's dialogs. One robot per thread at a time.
    XTRmUiRobot();
    // Stops watching; reports to stderr whatever Finish was not asked for.
    ~XTRmUiRobot();
    XTRmUiRobot(const XTRmUiRobot&) = delete;
    XTRmUiRobot& operator=(const XTRmUiRobot&) = delete;

    // The next dialog to open must be of this MFC class (exact run-time class
    // name); the step runs inside that dialog's modal loop, once.
    XTRmUiRobot& Expect(const std::string& strDialogClass, Step fnStep);
    XTRmUiRobot& ExpectMessageBox(Step fnStep) { return Expect(kMessageBoxClass, std::move(fnStep)); }

    // Called for every dialog the robot meets, expected or not, before its
    // step (the demo takes its screenshots here).
    void SetObserver(Step fnObserver) { m_fnObserver = std::move(fnObserver); }

    // How long a dialog may stay open after its step returned before the
    // watchdog closes it and fails the script.
    void SetLeftOpenTimeout(DWORD nMilliseconds) { m_nLeftOpenTimeout = nMilliseconds; }

    // Stops watching and tells what went wrong: unexpected dialogs, steps
    // never used, refused actions, failures noted by steps. Empty when the
    // script ran as written.
    std::string Finish();

    void AddFailure(const std::string& strWhat);

private:
    struct Expectation
    {
        std::string strClass;
        Step fnStep;
    };
    enum class State
    {
        Waiting,   // seen, its step not yet run
        Running,   // its step is on the stack
        Done,      // its step returned
        Unexpected // no step for it: to be closed
    };
    struct Tracked
    {
        HWND hWnd;
        std::string strClass;
        State state;
        DWORD nDoneTick;
    };

    static LRESULT CALLBACK CbtHook(int nCode, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK RobotWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

    void Notice(HWND hWnd);
    void Forget(HWND hWnd);
    void Meet(HWND hWnd);
    void MeetWaiting();
    void Watchdog();
    void Close(Tracked& tracked, const char* pszWhy);
    Tracked* Find(HWND hWnd);
    void Stop();

    HHOOK m_hHook = nullptr;
    HWND m_hRobotWnd = nullptr;
    XTRmUiRobot* m_pPrevious = nullptr;
    std::vector<Expectation> m_vecSteps;
    size_t m_nNextStep = 0;
    std::vector<Tracked> m_vecTracked;
    std::vector<std::string> m_vecFailures;
    Step m_fnObserver;
    DWORD m_nLeftOpenTimeout = 3000;
    bool m_bFinished = false;
};

// A PNG of a window as it is on the screen, frame and caption included.
// Works under Wine, where PrintWindow gives a blank picture: the window is
// painted now and copied from the screen.
bool XTRmSaveWindowScreenshot(HWND hWnd, const std::wstring& strPath);
