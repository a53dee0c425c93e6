// The application object, module state, the resource chain of extension DLLs
// and message boxes.
#include <afxwin.h>

#include "afximpl.h"

#include <cstdarg>
#include <cwchar>

namespace
{
AFX_MODULE_STATE& ProcessModuleState()
{
    // One per process: extension DLLs share the application's state, as with
    // the shared MFC DLL.
    static AFX_MODULE_STATE state;
    return state;
}

wchar_t* DuplicateString(const wchar_t* psz)
{
    size_t nLength = wcslen(psz);
    wchar_t* pszCopy = new wchar_t[nLength + 1];
    wmemcpy(pszCopy, psz, nLength + 1);
    return pszCopy;
}
} // namespace

void AfxSubTrace(LPCWSTR lpszFormat, ...)
{
    const DWORD dwError = ::GetLastError();
    wchar_t szMessage[512];
    va_list args;
    va_start(args, lpszFormat);
    vswprintf(szMessage, sizeof(szMessage) / sizeof(szMessage[0]), lpszFormat, args);
    va_end(args);
    ::OutputDebugStringW(szMessage);
    ::SetLastError(dwError);
}

AFX_MODULE_STATE::AFX_MODULE_STATE()
    : m_pCurrentWinApp(nullptr), m_hCurrentInstanceHandle(nullptr), m_hCurrentResourceHandle(nullptr),
      m_lpszCurrentAppName(nullptr), m_bDLL(FALSE), m_bSystem(FALSE)
{
}

AFX_MODULE_STATE* AFXAPI AfxGetModuleState()
{
    return &ProcessModuleState();
}

CWinApp* AFXAPI AfxGetApp()
{
    return AfxGetModuleState()->m_pCurrentWinApp;
}

CWinThread* AFXAPI AfxGetThread()
{
    return AfxGetApp();
}

CWnd* AFXAPI AfxGetMainWnd()
{
    CWinThread* pThread = AfxGetThread();
    return pThread != nullptr ? pThread->GetMainWnd() : nullptr;
}

HINSTANCE AFXAPI AfxGetInstanceHandle()
{
    HINSTANCE hInstance = AfxGetModuleState()->m_hCurrentInstanceHandle;
    return hInstance != nullptr ? hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AFXAPI AfxGetResourceHandle()
{
    HINSTANCE hResource = AfxGetModuleState()->m_hCurrentResourceHandle;
    return hResource != nullptr ? hResource : AfxGetInstanceHandle();
}

void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource)
{
    AfxGetModuleState()->m_hCurrentResourceHandle = hInstResource;
}

LPCTSTR AFXAPI AfxGetAppName()
{
    return AfxGetModuleState()->m_lpszCurrentAppName;
}

HINSTANCE AFXAPI AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    if (!pState->m_bSystem)
    {
        HINSTANCE hInst = AfxGetResourceHandle();
        if (::FindResourceW(hInst, lpszName, lpszType) != nullptr)
            return hInst;
    }
    for (CDynLinkLibrary* pDLL = pState->m_libraryList.GetHead(); pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
    {
        if (!pDLL->m_bSystem && pDLL->m_hResource != nullptr &&
            ::FindResourceW(pDLL->m_hResource, lpszName, lpszType) != nullptr)
            return pDLL->m_hResource;
    }
    return AfxGetResourceHandle();
}

int AFXAPI AfxLoadString(UINT nIDS, LPTSTR lpszBuf, UINT nMaxBuf)
{
    if (nMaxBuf == 0)
        return 0;
    lpszBuf[0] = 0;
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEW((nIDS >> 4) + 1), RT_STRING);
    return ::LoadStringW(hInst, nIDS, lpszBuf, (int)nMaxBuf);
}

void AFXAPI AfxPostQuitMessage(int nExitCode)
{
    ::PostQuitMessage(nExitCode);
}

// ---------------------------------------------------------------------------
// Extension DLLs

BOOL AFXAPI AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule)
{
    if (hModule == nullptr)
        return FALSE;
    if (state.bInitialized)
        return TRUE;
    state.hModule = hModule;
    state.hResource = hModule;
    state.pFirstSharedClass = nullptr;
    state.pFirstSharedFactory = nullptr;
    state.bInitialized = TRUE;
    return TRUE;
}

void AFXAPI AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll)
{
    if (!state.bInitialized)
        return;
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    CDynLinkLibrary* pDLL = pState->m_libraryList.GetHead();
    while (pDLL != nullptr)
    {
        CDynLinkLibrary* pNext = pDLL->m_pNextDLL;
        if (bAll || pDLL->m_hModule == state.hModule)
            delete pDLL; // unlinks itself
        pDLL = pNext;
    }
    state.bInitialized = FALSE;
}

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CCmdTarget)

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem), m_pNextDLL(nullptr)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    pState->m_libraryList.AddHead(this);
}

CDynLinkLibrary::~CDynLinkLibrary()
{
    AfxGetModuleState()->m_libraryList.Remove(this);
}

// ---------------------------------------------------------------------------
// CWinThread

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

CWinThread::CWinThread() : m_pMainWnd(nullptr), m_pActiveWnd(nullptr), m_nThreadID(::GetCurrentThreadId()), m_msgCur()
{
}

BOOL CWinThread::InitInstance()
{
    return FALSE;
}

int CWinThread::ExitInstance()
{
    return (int)m_msgCur.wParam;
}

CWnd* CWinThread::GetMainWnd()
{
    return m_pActiveWnd != nullptr ? m_pActiveWnd : m_pMainWnd;
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    return CWnd::WalkPreTranslateTree(m_pMainWnd != nullptr ? m_pMainWnd->GetSafeHwnd() : nullptr, pMsg);
}

BOOL CWinThread::PumpMessage()
{
    if (!::GetMessageW(&m_msgCur, nullptr, 0, 0))
        return FALSE;
    if (!PreTranslateMessage(&m_msgCur))
    {
        ::TranslateMessage(&m_msgCur);
        ::DispatchMessageW(&m_msgCur);
    }
    return TRUE;
}

BOOL CWinThread::OnIdle(LONG lCount)
{
    if (lCount <= 0 && m_pMainWnd != nullptr && m_pMainWnd->IsWindowVisible())
    {
        ::SendMessageW(m_pMainWnd->m_hWnd, WM_IDLEUPDATECMDUI, TRUE, 0);
        // Control bars (toolbars) update their buttons too: MFC sends this to
        // every descendant that has a permanent window object.
        ::EnumChildWindows(
            m_pMainWnd->m_hWnd,
            [](HWND hWnd, LPARAM) -> BOOL {
                if (CWnd::FromHandlePermanent(hWnd) != nullptr)
                    ::SendMessageW(hWnd, WM_IDLEUPDATECMDUI, TRUE, 0);
                return TRUE;
            },
            0);
    }
    if (lCount >= 1)
    {
        AfxDeleteTempWndMap();
        CMenu::DeleteTempMap();
    }
    return lCount < 1;
}

int CWinThread::Run()
{
    BOOL bIdle = TRUE;
    LONG lIdleCount = 0;
    for (;;)
    {
        while (bIdle && !::PeekMessageW(&m_msgCur, nullptr, 0, 0, PM_NOREMOVE))
        {
            if (!OnIdle(lIdleCount++))
                bIdle = FALSE;
        }
        do
        {
            if (!PumpMessage())
                return ExitInstance();
            if (m_msgCur.message != WM_MOUSEMOVE && m_msgCur.message != WM_NCMOUSEMOVE)
            {
                bIdle = TRUE;
                lIdleCount = 0;
            }
        } while (::PeekMessageW(&m_msgCur, nullptr, 0, 0, PM_NOREMOVE));
    }
}

// ---------------------------------------------------------------------------
// CWinApp

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

CWinApp::CWinApp(LPCTSTR lpszAppName)
    : m_pszAppName(lpszAppName != nullptr ? DuplicateString(lpszAppName) : nullptr), m_pszExeName(nullptr),
      m_hInstance(nullptr), m_lpCmdLine(nullptr), m_nCmdShow(SW_SHOWNORMAL), m_nWaitCursorCount(0),
      m_hcurWaitCursorRestore(nullptr)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    pState->m_pCurrentWinApp = this;
    pState->m_lpszCurrentAppName = m_pszAppName;
}

CWinApp::~CWinApp()
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    if (pState->m_pCurrentWinApp == this)
    {
        pState->m_pCurrentWinApp = nullptr;
        pState->m_lpszCurrentAppName = nullptr;
    }
    delete[] m_pszAppName;
    delete[] m_pszExeName;
}

BOOL CWinApp::InitApplication()
{
    return TRUE;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return CWinThread::ExitInstance();
}

int CWinApp::Run()
{
    if (m_pMainWnd == nullptr)
        AfxPostQuitMessage(0);
    return CWinThread::Run();
}

int CWinApp::ShowAppMessageBox(CWinApp* pApp, LPCTSTR lpszPrompt, UINT nType, UINT)
{
    // Owner: the active top-level window of this thread, as a modal message
    // box should block what the user was working in.
    HWND hWndOwner = ::GetActiveWindow();
    if (hWndOwner == nullptr && pApp != nullptr && pApp->m_pMainWnd != nullptr)
        hWndOwner = pApp->m_pMainWnd->GetSafeHwnd();
    LPCTSTR lpszCaption = pApp != nullptr && pApp->m_pszAppName != nullptr ? pApp->m_pszAppName : L"";
    if ((nType & MB_ICONMASK) == 0)
    {
        switch (nType & MB_TYPEMASK)
        {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    return ::MessageBoxW(hWndOwner, lpszPrompt, lpszCaption, nType);
}

int CWinApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT nIDPrompt)
{
    return ShowAppMessageBox(this, lpszPrompt, nType, nIDPrompt);
}

HCURSOR CWinApp::LoadStandardCursor(LPCTSTR lpszCursorName) const
{
    return ::LoadCursorW(nullptr, lpszCursorName);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    HINSTANCE hInst = AfxFindResourceHandle(MAKEINTRESOURCEW(nIDResource), RT_GROUP_ICON);
    return ::LoadIconW(hInst, MAKEINTRESOURCEW(nIDResource));
}

void CWinApp::DoWaitCursor(int nCode)
{
    // Counted, so nested waits restore the cursor only at the outermost end.
    if (nCode > 0)
    {
        if (m_nWaitCursorCount++ == 0)
            m_hcurWaitCursorRestore = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        else
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    }
    else if (nCode < 0)
    {
        if (m_nWaitCursorCount > 0 && --m_nWaitCursorCount == 0)
            ::SetCursor(
                m_hcurWaitCursorRestore != nullptr ? m_hcurWaitCursorRestore : ::LoadCursorW(nullptr, IDC_ARROW));
    }
    else if (m_nWaitCursorCount > 0)
    {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    }
}

// ---------------------------------------------------------------------------
// Start-up

BOOL AFXAPI AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPTSTR lpCmdLine, int nCmdShow)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    pState->m_hCurrentInstanceHandle = hInstance;
    if (pState->m_hCurrentResourceHandle == nullptr)
        pState->m_hCurrentResourceHandle = hInstance;

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);

    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr)
    {
        pApp->m_hInstance = hInstance;
        pApp->m_lpCmdLine = lpCmdLine;
        pApp->m_nCmdShow = nCmdShow;

        wchar_t szModule[MAX_PATH] = {};
        ::GetModuleFileNameW(hInstance, szModule, MAX_PATH);
        wchar_t* pszFile = wcsrchr(szModule, L'\\');
        pszFile = pszFile != nullptr ? pszFile + 1 : szModule;
        wchar_t* pszExt = wcsrchr(pszFile, L'.');
        if (pszExt != nullptr)
            *pszExt = 0;
        if (pApp->m_pszExeName == nullptr)
            pApp->m_pszExeName = DuplicateString(pszFile);
        if (pApp->m_pszAppName == nullptr)
        {
            // MFC's rule: the AFX_IDS_APP_TITLE string, else the executable's name.
            wchar_t szTitle[256] = {};
            if (AfxLoadString(0xE000, szTitle, 256) == 0)
                wcscpy(szTitle, pApp->m_pszExeName);
            pApp->m_pszAppName = DuplicateString(szTitle);
        }
        pState->m_lpszCurrentAppName = pApp->m_pszAppName;
    }
    return TRUE;
}

void AFXAPI AfxWinTerm()
{
    AfxDeleteTempWndMap();
}

int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow)
{
    int nReturnCode = -1;
    CWinApp* pApp = AfxGetApp();
    if (!AfxWinInit(hInstance, hPrevInstance, lpCmdLine, nCmdShow) || pApp == nullptr)
        goto InitFailure;
    if (!pApp->InitApplication())
        goto InitFailure;
    if (!pApp->InitInstance())
    {
        if (pApp->m_pMainWnd != nullptr)
        {
            AfxSubTrace(L"Warning: Destroying non-NULL m_pMainWnd\n");
            pApp->m_pMainWnd->DestroyWindow();
        }
        // What the application's ExitInstance answers is the process's exit
        // code, as in MFC: CWinApp's own gives 0, so an application that
        // wants a failed start-up seen says so there.
        nReturnCode = pApp->ExitInstance();
        goto InitFailure;
    }
    nReturnCode = pApp->Run();

InitFailure:
    AfxWinTerm();
    return nReturnCode;
}

// ---------------------------------------------------------------------------
// Message boxes: every one goes through the application's DoMessageBox.

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT nIDHelp)
{
    CWinApp* pApp = AfxGetApp();
    if (pApp != nullptr)
        return pApp->DoMessageBox(lpszText, nType, nIDHelp);
    return ::MessageBoxW(::GetActiveWindow(), lpszText, L"", nType);
}

int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp)
{
    wchar_t szPrompt[1024] = {};
    AfxLoadString(nIDPrompt, szPrompt, 1024);
    if (nIDHelp == (UINT)-1)
        nIDHelp = nIDPrompt;
    return AfxMessageBox(szPrompt, nType, nIDHelp);
}
