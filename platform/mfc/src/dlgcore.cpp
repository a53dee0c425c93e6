// CDialog: modal and modeless dialogs from templates found along the resource
// chain, run the way MFC runs them (the owner disabled, a modeless dialog
// window, CWnd::RunModalLoop with PreTranslateMessage and IsDialogMessage).
#include <afxwin.h>

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog()
    : m_lpszTemplateName(nullptr), m_hDialogTemplate(nullptr), m_lpDialogTemplate(nullptr), m_lpDialogInit(nullptr),
      m_pParentWnd(nullptr), m_hWndTop(nullptr)
{
}

CDialog::CDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd) : CDialog()
{
    m_lpszTemplateName = lpszTemplateName;
    m_pParentWnd = pParentWnd;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(MAKEINTRESOURCE(nIDTemplate), pParentWnd)
{
}

CDialog::~CDialog()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

// ---------------------------------------------------------------------------
// The dialog procedure: MFC windows do their work in the window procedure, so
// the dialog procedure only runs OnInitDialog (the dialog manager's default
// processing calls it from WM_INITDIALOG).

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* pDlg = DYNAMIC_DOWNCAST(CDialog, CWnd::FromHandlePermanent(hWnd));
    if (pDlg == nullptr)
        return TRUE;

    RECT rectOld;
    ::GetWindowRect(hWnd, &rectOld);
    BOOL bWasVisible = (pDlg->GetStyle() & WS_VISIBLE) != 0;

    pDlg->PreInitDialog();
    BOOL bResult = pDlg->OnInitDialog();

    // MFC centres a dialog that neither showed nor moved itself in
    // OnInitDialog and has no enabled owner.
    if (pDlg->m_hWnd == nullptr || bWasVisible || (pDlg->GetStyle() & (WS_VISIBLE | WS_CHILD)) != 0)
        return bResult;
    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    if (rect.left != rectOld.left || rect.top != rectOld.top)
        return bResult;
    HWND hWndOwner = ::GetWindow(hWnd, GW_OWNER);
    if (hWndOwner != nullptr && ::IsWindowEnabled(hWndOwner))
        return bResult;
    if (pDlg->CheckAutoCenter())
        pDlg->CenterWindow();
    return bResult;
}

BOOL CDialog::CheckAutoCenter()
{
    // A template that positions itself (DS_CENTER, DS_CENTERMOUSE,
    // DS_ABSALIGN) is left alone.
    return (GetStyle() & (DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN)) == 0;
}

void CDialog::PreInitDialog()
{
}

BOOL CDialog::OnInitDialog()
{
    // Members to controls; a failing exchange ends the dialog as in MFC.
    if (!UpdateData(FALSE))
    {
        EndDialog(-1);
        return FALSE;
    }
    return TRUE; // the dialog manager puts the focus on the first tab stop
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return; // the exchange told the user and put the focus on the control
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult)
{
    if ((m_nFlags & (WF_MODALLOOP | WF_CONTINUEMODAL)) != 0)
        EndModalLoop(nResult);
    ::EndDialog(m_hWnd, nResult);
}

// ---------------------------------------------------------------------------
// Keyboard: the dialog manager's navigation (Tab, arrows, Enter, Escape).

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    if (CWnd::PreTranslateMessage(pMsg))
        return TRUE;

    // Escape in a multi-line edit would otherwise be swallowed by the edit.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_CANCEL) &&
        (::GetWindowLongW(pMsg->hwnd, GWL_STYLE) & ES_MULTILINE) != 0)
    {
        wchar_t szClass[16] = {};
        ::GetClassNameW(pMsg->hwnd, szClass, 16);
        if (lstrcmpiW(szClass, L"Edit") == 0)
        {
            HWND hItem = ::GetDlgItem(m_hWnd, IDCANCEL);
            if (hItem == nullptr || ::IsWindowEnabled(hItem))
            {
                SendMessage(WM_COMMAND, IDCANCEL, 0);
                return TRUE;
            }
        }
    }
    return PreTranslateInput(pMsg);
}

BOOL CDialog::PreTranslateInput(LPMSG lpMsg)
{
    // Only keyboard and mouse input goes through the dialog manager.
    if ((lpMsg->message < WM_KEYFIRST || lpMsg->message > WM_KEYLAST) &&
        (lpMsg->message < WM_MOUSEFIRST || lpMsg->message > WM_MOUSELAST))
        return FALSE;
    return ::IsDialogMessageW(m_hWnd, lpMsg);
}

// ---------------------------------------------------------------------------
// Creation

BOOL CDialog::CreateDlgIndirect(LPCDLGTEMPLATE lpDialogTemplate, CWnd* pParentWnd, HINSTANCE hInst)
{
    if (hInst == nullptr)
        hInst = AfxGetResourceHandle();
    m_nModalResult = -1;
    m_nFlags |= WF_CONTINUEMODAL;

    // The object is attached (and the window subclassed) before the dialog
    // gets its first message, so WM_INITDIALOG reaches OnInitDialog.
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateDialogIndirectParamW(hInst, lpDialogTemplate, pParentWnd->GetSafeHwnd(), &AfxDlgProc, 0);
    if (!AfxUnhookWindowCreate())
        PostNcDestroy();

    if (hWnd != nullptr && (m_nFlags & WF_CONTINUEMODAL) == 0)
    {
        // OnInitDialog ended the dialog already.
        ::DestroyWindow(hWnd);
        hWnd = nullptr;
    }
    return hWnd != nullptr;
}

BOOL CDialog::Create(LPCTSTR lpszTemplateName, CWnd* pParentWnd)
{
    m_lpszTemplateName = lpszTemplateName;
    HINSTANCE hInst = AfxFindResourceHandle(lpszTemplateName, RT_DIALOG);
    HRSRC hResource = ::FindResourceW(hInst, lpszTemplateName, RT_DIALOG);
    HGLOBAL hTemplate = hResource != nullptr ? ::LoadResource(hInst, hResource) : nullptr;
    if (hTemplate == nullptr)
        return FALSE;
    if (pParentWnd == nullptr)
        pParentWnd = AfxGetMainWnd();
    m_pParentWnd = pParentWnd;
    return CreateDlgIndirect(static_cast<LPCDLGTEMPLATE>(::LockResource(hTemplate)), pParentWnd, hInst);
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    return Create(MAKEINTRESOURCE(nIDTemplate), pParentWnd);
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATE lpDialogTemplate, CWnd* pParentWnd, void* lpDialogInit)
{
    if (pParentWnd == nullptr)
        pParentWnd = AfxGetMainWnd();
    m_lpDialogInit = lpDialogInit;
    return CreateDlgIndirect(lpDialogTemplate, pParentWnd, nullptr);
}

BOOL CDialog::InitModalIndirect(LPCDLGTEMPLATE lpDialogTemplate, CWnd* pParentWnd, void* lpDialogInit)
{
    m_lpDialogTemplate = lpDialogTemplate;
    m_pParentWnd = pParentWnd;
    m_lpDialogInit = lpDialogInit;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Modal

HWND CDialog::PreModal()
{
    m_nModalResult = -1;
    m_nFlags |= WF_CONTINUEMODAL;

    // The owner: the given parent, else the application's main window; a
    // popup cannot be owned by a child window, and the top-level window is
    // disabled as well when it is not the owner itself.
    HWND hWnd = m_pParentWnd->GetSafeHwnd();
    if (hWnd == nullptr)
    {
        CWnd* pMainWnd = AfxGetMainWnd();
        hWnd = pMainWnd->GetSafeHwnd();
        if (hWnd != nullptr)
            hWnd = ::GetLastActivePopup(hWnd);
    }
    while (hWnd != nullptr && (::GetWindowLongW(hWnd, GWL_STYLE) & WS_CHILD) != 0)
        hWnd = ::GetParent(hWnd);

    HWND hWndTop = hWnd;
    for (HWND hWndTemp = hWnd; hWndTemp != nullptr; hWndTemp = ::GetParent(hWndTemp))
        hWndTop = hWndTemp;
    m_hWndTop = nullptr;
    if (hWndTop != nullptr && hWndTop != hWnd && ::IsWindowEnabled(hWndTop))
    {
        m_hWndTop = hWndTop;
        ::EnableWindow(hWndTop, FALSE);
    }
    return hWnd;
}

void CDialog::PostModal()
{
    if (m_hWndTop != nullptr)
        ::EnableWindow(m_hWndTop, TRUE);
    m_hWndTop = nullptr;
}

INT_PTR CDialog::DoModal()
{
    LPCDLGTEMPLATE lpDialogTemplate = m_lpDialogTemplate;
    HINSTANCE hInst = AfxGetResourceHandle();
    if (m_lpszTemplateName != nullptr)
    {
        hInst = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
        HRSRC hResource = ::FindResourceW(hInst, m_lpszTemplateName, RT_DIALOG);
        m_hDialogTemplate = hResource != nullptr ? ::LoadResource(hInst, hResource) : nullptr;
    }
    if (m_hDialogTemplate != nullptr)
        lpDialogTemplate = static_cast<LPCDLGTEMPLATE>(::LockResource(m_hDialogTemplate));
    if (lpDialogTemplate == nullptr)
        return -1;

    HWND hWndParent = PreModal();
    BOOL bEnableParent = FALSE;
    if (hWndParent != nullptr && hWndParent != ::GetDesktopWindow() && ::IsWindowEnabled(hWndParent))
    {
        ::EnableWindow(hWndParent, FALSE);
        bEnableParent = TRUE;
    }

    if (CreateDlgIndirect(lpDialogTemplate, CWnd::FromHandle(hWndParent), hInst))
    {
        if ((m_nFlags & WF_CONTINUEMODAL) != 0)
        {
            DWORD dwFlags = MLF_SHOWONIDLE;
            if ((GetStyle() & DS_NOIDLEMSG) != 0)
                dwFlags |= MLF_NOIDLEMSG;
            RunModalLoop(dwFlags);
        }
        if (m_hWnd != nullptr)
            ::SetWindowPos(
                m_hWnd, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }

    if (bEnableParent)
        ::EnableWindow(hWndParent, TRUE);
    if (hWndParent != nullptr && ::GetActiveWindow() == m_hWnd)
        ::SetActiveWindow(hWndParent);

    DestroyWindow();
    PostModal();
    m_hDialogTemplate = nullptr;
    return m_nModalResult;
}

// ---------------------------------------------------------------------------
// Navigation and layout

void CDialog::NextDlgCtrl() const
{
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 0, 0);
}

void CDialog::PrevDlgCtrl() const
{
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, 1, 0);
}

void CDialog::GotoDlgCtrl(CWnd* pWndCtrl)
{
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pWndCtrl->GetSafeHwnd()), 1);
}

void CDialog::SetDefID(UINT nID)
{
    ::SendMessageW(m_hWnd, DM_SETDEFID, nID, 0);
}

DWORD CDialog::GetDefID() const
{
    return (DWORD)::SendMessageW(m_hWnd, DM_GETDEFID, 0, 0);
}

void CDialog::MapDialogRect(LPRECT lpRect) const
{
    ::MapDialogRect(m_hWnd, lpRect);
}
