// Dialog data exchange: CWnd::UpdateData, CDataExchange and the DDX_
// functions, with MFC's validation messages and its exception-based failure
// path (DDX_ functions throw, UpdateData catches and returns FALSE).
#include <afxwin.h>

#include "afximpl.h"

#include <cstdlib>
#include <cwchar>

// ---------------------------------------------------------------------------
// Framework texts

namespace
{
// MFC's own resources (mfcsub.rc); not a public id.
const UINT IDS_SUB_NOT_SUPPORTED_EXCEPTION = 0xF182;
const UINT IDS_SUB_INVALID_ARG_EXCEPTION = 0xF184;

HINSTANCE SubsetModule()
{
    HMODULE hModule = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&SubsetModule), &hModule);
    return hModule;
}

// A framework text: the application's resource chain may override it, as
// with MFC's own resource DLL at the end of the chain.
void LoadFrameworkString(UINT nID, LPTSTR lpszBuf, UINT nMaxBuf)
{
    if (AfxLoadString(nID, lpszBuf, nMaxBuf) == 0)
        ::LoadStringW(SubsetModule(), nID, lpszBuf, (int)nMaxBuf);
}

// Same rule for the messages MFC shows by id: AfxMessageBox(nID) with the
// prompt's id as help id.
void FrameworkMessageBox(UINT nIDPrompt, UINT nType = MB_OK)
{
    wchar_t szPrompt[256] = {};
    LoadFrameworkString(nIDPrompt, szPrompt, 256);
    AfxMessageBox(szPrompt, nType, nIDPrompt);
}

// The window whose notifications are locked out while UpdateData runs.
thread_local HWND t_hLockoutNotifyWindow = nullptr;
} // namespace

BOOL AFXAPI AfxIsNotifyLockedOut(HWND hWnd)
{
    return hWnd != nullptr && hWnd == t_hLockoutNotifyWindow;
}

// ---------------------------------------------------------------------------
// Exceptions

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CUserException, CException)
IMPLEMENT_DYNAMIC(CNotSupportedException, CException)
IMPLEMENT_DYNAMIC(CInvalidArgException, CException)

CException::CException() : m_bAutoDelete(TRUE)
{
}

CException::CException(BOOL bAutoDelete) : m_bAutoDelete(bAutoDelete)
{
}

CException::~CException() = default;

void CException::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    if (nMaxError != 0 && lpszError != nullptr)
        *lpszError = 0;
    return FALSE;
}

int CException::ReportError(UINT nType, UINT nMessageID)
{
    wchar_t szMessage[512] = {};
    UINT nHelpContext = 0;
    if (GetErrorMessage(szMessage, 512, &nHelpContext))
        return AfxMessageBox(szMessage, nType, nHelpContext);
    if (nMessageID == 0)
        nMessageID = AFX_IDP_INTERNAL_FAILURE;
    LoadFrameworkString(nMessageID, szMessage, 512);
    return AfxMessageBox(szMessage, nType, nHelpContext);
}

CUserException::CUserException() = default;

CNotSupportedException::CNotSupportedException() = default;

BOOL CNotSupportedException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    LoadFrameworkString(IDS_SUB_NOT_SUPPORTED_EXCEPTION, lpszError, nMaxError);
    return TRUE;
}

CInvalidArgException::CInvalidArgException() = default;

BOOL CInvalidArgException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != nullptr)
        *pnHelpContext = 0;
    LoadFrameworkString(IDS_SUB_INVALID_ARG_EXCEPTION, lpszError, nMaxError);
    return TRUE;
}

void AFXAPI AfxThrowUserException()
{
    throw new CUserException;
}

void AFXAPI AfxThrowNotSupportedException()
{
    throw new CNotSupportedException;
}

void AFXAPI AfxThrowInvalidArgException()
{
    throw new CInvalidArgException;
}

// ---------------------------------------------------------------------------
// UpdateData

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);

    // Setting a control's contents makes it notify its parent (an edit sends
    // EN_CHANGE on WM_SETTEXT); those notifications are not dispatched while
    // the exchange runs, so handlers never see half-exchanged members.
    HWND hWndOldLockout = t_hLockoutNotifyWindow;
    t_hLockoutNotifyWindow = m_hWnd;

    BOOL bOK = FALSE;
    try
    {
        DoDataExchange(&dx);
        bOK = TRUE;
    }
    catch (CUserException* e)
    {
        // Validation failed; the user has been told already.
        e->Delete();
    }
    catch (CException* e)
    {
        e->ReportError(MB_ICONEXCLAMATION, AFX_IDP_INTERNAL_FAILURE);
        e->Delete();
    }
    t_hLockoutNotifyWindow = hWndOldLockout;
    return bOK;
}

// ---------------------------------------------------------------------------
// CDataExchange

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd), m_idLastControl(0), m_bEditLastControl(FALSE)
{
}

HWND CDataExchange::PrepareCtrl(int nIDC)
{
    HWND hWndCtrl = nullptr;
    m_pDlgWnd->GetDlgItem(nIDC, &hWndCtrl);
    if (hWndCtrl == nullptr)
        AfxThrowNotSupportedException(); // the template lacks the control
    m_idLastControl = (UINT)nIDC;
    m_bEditLastControl = FALSE;
    return hWndCtrl;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC)
{
    HWND hWndCtrl = PrepareCtrl(nIDC);
    m_bEditLastControl = TRUE;
    return hWndCtrl;
}

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_idLastControl != 0)
    {
        // Back to the offending field, its text selected for retyping.
        HWND hWndLastControl = nullptr;
        m_pDlgWnd->GetDlgItem((int)m_idLastControl, &hWndLastControl);
        if (hWndLastControl != nullptr)
        {
            ::SetFocus(hWndLastControl);
            if (m_bEditLastControl)
                ::SendMessageW(hWndLastControl, EM_SETSEL, 0, -1);
        }
    }
    AfxThrowUserException();
}

// ---------------------------------------------------------------------------
// DDX_ functions

namespace
{
// MFC's rule for integers: blanks around the number, nothing else; the number
// is read by wcstol/wcstoul without an overflow check, so a text beyond the
// range gives the range's end; a result of 0 counts only when the text starts
// with '0' ("", "-0" and "+0" are refused); unsigned refuses a '-'.
static_assert(sizeof(long) == sizeof(int), "Windows keeps long at 32 bits, as MFC's exchange assumes");

bool ParseNumber(const wchar_t* psz, bool bSigned, long& nValue)
{
    while (*psz == L' ' || *psz == L'\t')
        ++psz;
    const wchar_t chFirst = *psz;
    if (!bSigned && chFirst == L'-')
        return false;
    wchar_t* pszEnd = nullptr;
    const long n = bSigned ? std::wcstol(psz, &pszEnd, 10) : (long)std::wcstoul(psz, &pszEnd, 10);
    if (n == 0 && chFirst != L'0')
        return false;
    psz = pszEnd;
    while (*psz == L' ' || *psz == L'\t')
        ++psz;
    if (*psz != 0)
        return false;
    nValue = n;
    return true;
}

void SetWindowTextIfChanged(HWND hWndCtrl, LPCTSTR lpszNew)
{
    // Only a real change is written, as MFC does: less flicker and no change
    // notification for an unchanged text.
    int nNewLength = lstrlenW(lpszNew);
    wchar_t szOld[256];
    if (nNewLength >= 256 || ::GetWindowTextW(hWndCtrl, szOld, 256) != nNewLength || lstrcmpW(szOld, lpszNew) != 0)
        ::SetWindowTextW(hWndCtrl, lpszNew);
}

template <typename T>
void ExchangeNumber(CDataExchange* pDX, int nIDC, T& value, bool bSigned, UINT nIDPrompt)
{
    HWND hWndCtrl = pDX->PrepareEditCtrl(nIDC);
    wchar_t szText[64];
    if (pDX->m_bSaveAndValidate)
    {
        ::GetWindowTextW(hWndCtrl, szText, 64);
        long n = 0;
        if (!ParseNumber(szText, bSigned, n))
        {
            FrameworkMessageBox(nIDPrompt);
            pDX->Fail();
        }
        value = (T)n;
    }
    else
    {
        if (bSigned)
            swprintf(szText, 64, L"%lld", (long long)value);
        else
            swprintf(szText, 64, L"%llu", (unsigned long long)value);
        SetWindowTextIfChanged(hWndCtrl, szText);
    }
}
} // namespace

void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, int& value)
{
    ExchangeNumber(pDX, nIDC, value, true, AFX_IDP_PARSE_INT);
}

void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, long& value)
{
    ExchangeNumber(pDX, nIDC, value, true, AFX_IDP_PARSE_INT);
}

void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, UINT& value)
{
    ExchangeNumber(pDX, nIDC, value, false, AFX_IDP_PARSE_UINT);
}

void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, DWORD& value)
{
    ExchangeNumber(pDX, nIDC, value, false, AFX_IDP_PARSE_UINT);
}

void AFXAPI DDX_Text(CDataExchange* pDX, int nIDC, LPTSTR value, int nMaxLen)
{
    HWND hWndCtrl = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        ::GetWindowTextW(hWndCtrl, value, nMaxLen);
    else
        SetWindowTextIfChanged(hWndCtrl, value);
}

void AFXAPI DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
    {
        value = (int)::SendMessageW(hWndCtrl, BM_GETCHECK, 0, 0);
    }
    else
    {
        if (value < 0 || value > 2)
            value = 0;
        ::SendMessageW(hWndCtrl, BM_SETCHECK, (WPARAM)value, 0);
    }
}

void AFXAPI DDX_Radio(CDataExchange* pDX, int nIDC, int& value)
{
    // nIDC starts a group (WS_GROUP); the group runs up to the next control
    // with WS_GROUP, and its radio buttons count from 0 in z-order. Other
    // controls inside the group are skipped.
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = -1; // none checked
    int iButton = 0;
    do
    {
        if ((::SendMessageW(hWndCtrl, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0)
        {
            if (pDX->m_bSaveAndValidate)
            {
                if (::SendMessageW(hWndCtrl, BM_GETCHECK, 0, 0) != 0)
                    value = iButton;
            }
            else
            {
                ::SendMessageW(hWndCtrl, BM_SETCHECK, iButton == value, 0);
            }
            ++iButton;
        }
        hWndCtrl = ::GetWindow(hWndCtrl, GW_HWNDNEXT);
    } while (hWndCtrl != nullptr && (::GetWindowLongW(hWndCtrl, GWL_STYLE) & WS_GROUP) == 0);
}

void AFXAPI DDX_LBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        index = (int)::SendMessageW(hWndCtrl, LB_GETCURSEL, 0, 0);
    else
        ::SendMessageW(hWndCtrl, LB_SETCURSEL, (WPARAM)index, 0);
}

void AFXAPI DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    // Subclassed once, on the first exchange; later exchanges find it
    // attached. A template without the control throws as in MFC (PrepareCtrl),
    // so the first exchange fails and the dialog ends before it shows.
    if (rControl.m_hWnd != nullptr)
        return;
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (!rControl.SubclassWindow(hWndCtrl))
        AfxThrowNotSupportedException();
}
