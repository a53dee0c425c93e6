// The standard controls' wrappers: each member sends the control's own message.
#include <afxwin.h>

namespace
{
BOOL CreateControl(
    CWnd* pWnd, LPCTSTR lpszClass, LPCTSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return pWnd->CreateEx(0, lpszClass, lpszText, dwStyle | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
        rect.bottom - rect.top, pParentWnd->GetSafeHwnd(), reinterpret_cast<HMENU>((UINT_PTR)nID));
}
} // namespace

// ---------------------------------------------------------------------------
// CStatic

IMPLEMENT_DYNAMIC(CStatic, CWnd)

CStatic::CStatic() = default;

CStatic::~CStatic()
{
    DestroyWindow();
}

BOOL CStatic::Create(LPCTSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateControl(this, L"STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
}

HICON CStatic::SetIcon(HICON hIcon)
{
    return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(hIcon)));
}

HICON CStatic::GetIcon() const
{
    return reinterpret_cast<HICON>(SendMessage(STM_GETICON));
}

HBITMAP CStatic::SetBitmap(HBITMAP hBitmap)
{
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap)));
}

HBITMAP CStatic::GetBitmap() const
{
    return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP));
}

// ---------------------------------------------------------------------------
// CButton

IMPLEMENT_DYNAMIC(CButton, CWnd)

CButton::CButton() = default;

CButton::~CButton()
{
    DestroyWindow();
}

BOOL CButton::Create(LPCTSTR lpszCaption, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateControl(this, L"BUTTON", lpszCaption, dwStyle, rect, pParentWnd, nID);
}

UINT CButton::GetState() const
{
    return (UINT)SendMessage(BM_GETSTATE);
}

void CButton::SetState(BOOL bHighlight)
{
    SendMessage(BM_SETSTATE, (WPARAM)bHighlight);
}

int CButton::GetCheck() const
{
    return (int)SendMessage(BM_GETCHECK);
}

void CButton::SetCheck(int nCheck)
{
    SendMessage(BM_SETCHECK, (WPARAM)nCheck);
}

UINT CButton::GetButtonStyle() const
{
    return (UINT)GetStyle() & 0xFFFF;
}

void CButton::SetButtonStyle(UINT nStyle, BOOL bRedraw)
{
    SendMessage(BM_SETSTYLE, nStyle, (LPARAM)bRedraw);
}

HICON CButton::SetIcon(HICON hIcon)
{
    return reinterpret_cast<HICON>(SendMessage(BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(hIcon)));
}

HBITMAP CButton::SetBitmap(HBITMAP hBitmap)
{
    return reinterpret_cast<HBITMAP>(SendMessage(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap)));
}

// ---------------------------------------------------------------------------
// CEdit

IMPLEMENT_DYNAMIC(CEdit, CWnd)

CEdit::CEdit() = default;

CEdit::~CEdit()
{
    DestroyWindow();
}

BOOL CEdit::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateControl(this, L"EDIT", nullptr, dwStyle, rect, pParentWnd, nID);
}

void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll)
{
    SendMessage(EM_SETSEL, (WPARAM)nStartChar, (LPARAM)nEndChar);
    if (!bNoScroll)
        SendMessage(EM_SCROLLCARET);
}

void CEdit::GetSel(int& nStartChar, int& nEndChar) const
{
    DWORD dwStart = 0;
    DWORD dwEnd = 0;
    SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart), reinterpret_cast<LPARAM>(&dwEnd));
    nStartChar = (int)dwStart;
    nEndChar = (int)dwEnd;
}

void CEdit::ReplaceSel(LPCTSTR lpszNewText, BOOL bCanUndo)
{
    SendMessage(EM_REPLACESEL, (WPARAM)bCanUndo, reinterpret_cast<LPARAM>(lpszNewText));
}

void CEdit::SetLimitText(UINT nMax)
{
    SendMessage(EM_SETLIMITTEXT, nMax);
}

UINT CEdit::GetLimitText() const
{
    return (UINT)SendMessage(EM_GETLIMITTEXT);
}

BOOL CEdit::SetReadOnly(BOOL bReadOnly)
{
    return (BOOL)SendMessage(EM_SETREADONLY, (WPARAM)bReadOnly);
}

int CEdit::GetLineCount() const
{
    return (int)SendMessage(EM_GETLINECOUNT);
}

BOOL CEdit::GetModify() const
{
    return (BOOL)SendMessage(EM_GETMODIFY);
}

void CEdit::SetModify(BOOL bModified)
{
    SendMessage(EM_SETMODIFY, (WPARAM)bModified);
}

// ---------------------------------------------------------------------------
// CListBox

IMPLEMENT_DYNAMIC(CListBox, CWnd)

CListBox::CListBox() = default;

CListBox::~CListBox()
{
    DestroyWindow();
}

BOOL CListBox::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateControl(this, L"LISTBOX", nullptr, dwStyle, rect, pParentWnd, nID);
}

int CListBox::GetCount() const
{
    return (int)SendMessage(LB_GETCOUNT);
}

int CListBox::GetCurSel() const
{
    return (int)SendMessage(LB_GETCURSEL);
}

int CListBox::SetCurSel(int nSelect)
{
    return (int)SendMessage(LB_SETCURSEL, (WPARAM)nSelect);
}

int CListBox::GetTopIndex() const
{
    return (int)SendMessage(LB_GETTOPINDEX);
}

int CListBox::SetTopIndex(int nIndex)
{
    return (int)SendMessage(LB_SETTOPINDEX, (WPARAM)nIndex);
}

int CListBox::GetText(int nIndex, LPTSTR lpszBuffer) const
{
    return (int)SendMessage(LB_GETTEXT, (WPARAM)nIndex, reinterpret_cast<LPARAM>(lpszBuffer));
}

int CListBox::GetTextLen(int nIndex) const
{
    return (int)SendMessage(LB_GETTEXTLEN, (WPARAM)nIndex);
}

DWORD_PTR CListBox::GetItemData(int nIndex) const
{
    return (DWORD_PTR)SendMessage(LB_GETITEMDATA, (WPARAM)nIndex);
}

int CListBox::SetItemData(int nIndex, DWORD_PTR dwItemData)
{
    return (int)SendMessage(LB_SETITEMDATA, (WPARAM)nIndex, (LPARAM)dwItemData);
}

int CListBox::GetItemRect(int nIndex, LPRECT lpRect) const
{
    return (int)SendMessage(LB_GETITEMRECT, (WPARAM)nIndex, reinterpret_cast<LPARAM>(lpRect));
}

int CListBox::AddString(LPCTSTR lpszItem)
{
    return (int)SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszItem));
}

int CListBox::InsertString(int nIndex, LPCTSTR lpszItem)
{
    return (int)SendMessage(LB_INSERTSTRING, (WPARAM)nIndex, reinterpret_cast<LPARAM>(lpszItem));
}

int CListBox::DeleteString(UINT nIndex)
{
    return (int)SendMessage(LB_DELETESTRING, nIndex);
}

void CListBox::ResetContent()
{
    SendMessage(LB_RESETCONTENT);
}

int CListBox::FindStringExact(int nIndexStart, LPCTSTR lpszFind) const
{
    return (int)SendMessage(LB_FINDSTRINGEXACT, (WPARAM)nIndexStart, reinterpret_cast<LPARAM>(lpszFind));
}

// ---------------------------------------------------------------------------
// CComboBox

IMPLEMENT_DYNAMIC(CComboBox, CWnd)

CComboBox::CComboBox() = default;

CComboBox::~CComboBox()
{
    DestroyWindow();
}

BOOL CComboBox::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID)
{
    return CreateControl(this, L"COMBOBOX", nullptr, dwStyle, rect, pParentWnd, nID);
}

int CComboBox::GetCount() const
{
    return (int)SendMessage(CB_GETCOUNT);
}

int CComboBox::GetCurSel() const
{
    return (int)SendMessage(CB_GETCURSEL);
}

int CComboBox::SetCurSel(int nSelect)
{
    return (int)SendMessage(CB_SETCURSEL, (WPARAM)nSelect);
}

int CComboBox::GetLBText(int nIndex, LPTSTR lpszText) const
{
    return (int)SendMessage(CB_GETLBTEXT, (WPARAM)nIndex, reinterpret_cast<LPARAM>(lpszText));
}

int CComboBox::GetLBTextLen(int nIndex) const
{
    return (int)SendMessage(CB_GETLBTEXTLEN, (WPARAM)nIndex);
}

DWORD_PTR CComboBox::GetItemData(int nIndex) const
{
    return (DWORD_PTR)SendMessage(CB_GETITEMDATA, (WPARAM)nIndex);
}

int CComboBox::SetItemData(int nIndex, DWORD_PTR dwItemData)
{
    return (int)SendMessage(CB_SETITEMDATA, (WPARAM)nIndex, (LPARAM)dwItemData);
}

void CComboBox::ShowDropDown(BOOL bShowIt)
{
    SendMessage(CB_SHOWDROPDOWN, (WPARAM)bShowIt);
}

BOOL CComboBox::GetDroppedState() const
{
    return (BOOL)SendMessage(CB_GETDROPPEDSTATE);
}

int CComboBox::AddString(LPCTSTR lpszString)
{
    return (int)SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lpszString));
}

int CComboBox::InsertString(int nIndex, LPCTSTR lpszString)
{
    return (int)SendMessage(CB_INSERTSTRING, (WPARAM)nIndex, reinterpret_cast<LPARAM>(lpszString));
}

int CComboBox::DeleteString(UINT nIndex)
{
    return (int)SendMessage(CB_DELETESTRING, nIndex);
}

void CComboBox::ResetContent()
{
    SendMessage(CB_RESETCONTENT);
}

int CComboBox::FindStringExact(int nIndexStart, LPCTSTR lpszFind) const
{
    return (int)SendMessage(CB_FINDSTRINGEXACT, (WPARAM)nIndexStart, reinterpret_cast<LPARAM>(lpszFind));
}
