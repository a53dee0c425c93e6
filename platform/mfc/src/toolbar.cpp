// MFC subset: CMFCToolBar and its buttons over a Win32 toolbar control.
#include "afxcontrolbars.h"

#include "afximpl.h"

#include <cstring>

namespace
{
// The update object of one toolbar button: state goes to the button object
// and to the control, never to the whole toolbar window.
class CToolCmdUI : public CCmdUI
{
public:
    void Enable(BOOL bOn) override
    {
        m_bEnableChanged = TRUE;
        CMFCToolBar* pToolBar = static_cast<CMFCToolBar*>(m_pOther);
        int nIndex = static_cast<int>(m_nIndex);
        UINT nOldStyle = pToolBar->GetButtonStyle(nIndex);
        UINT nNewStyle = bOn ? (nOldStyle & ~TBBS_DISABLED) : (nOldStyle | TBBS_DISABLED);
        if (nNewStyle != nOldStyle)
            pToolBar->SetButtonStyle(nIndex, nNewStyle);
    }

    void SetCheck(int nCheck) override
    {
        CMFCToolBar* pToolBar = static_cast<CMFCToolBar*>(m_pOther);
        int nIndex = static_cast<int>(m_nIndex);
        UINT nOldStyle = pToolBar->GetButtonStyle(nIndex) & ~(TBBS_CHECKED | TBBS_INDETERMINATE);
        UINT nNewStyle = nOldStyle | (nCheck == 1 ? TBBS_CHECKED : nCheck == 2 ? TBBS_INDETERMINATE : 0);
        if (nNewStyle != pToolBar->GetButtonStyle(nIndex))
            pToolBar->SetButtonStyle(nIndex, nNewStyle);
    }

    void SetText(LPCTSTR) override
    {
        // Buttons of the subset show images only.
    }
};

const int kSeparatorWidth = 8;

// A TOOLBAR resource as the resource compilers write it from the TOOLBAR
// statement. Microsoft's rc writes MFC's layout: WORD version (1), image
// width, image height, button count, then one WORD command id per button (0
// for a separator). windres writes DWORD width, height and count and one DWORD
// per button, without a version. The sizes tell the two apart: a count that
// does not fit the resource's size is not taken.
bool ReadToolBarResource(const BYTE* pData, DWORD cbData, CSize& sizeImage, std::vector<UINT>& ids)
{
    auto word = [pData](DWORD nIndex) {
        WORD w;
        std::memcpy(&w, pData + nIndex * sizeof(WORD), sizeof(w));
        return w;
    };
    auto dword = [pData](DWORD nIndex) {
        DWORD dw;
        std::memcpy(&dw, pData + nIndex * sizeof(DWORD), sizeof(dw));
        return dw;
    };
    // Resource data may be padded to a DWORD boundary.
    auto fits = [cbData](unsigned long long cbNeeded) { return cbData >= cbNeeded && cbData - cbNeeded < 4; };

    ids.clear();
    if (cbData >= 4 * sizeof(WORD) && word(0) == 1 && fits(4ull * sizeof(WORD) + word(3) * sizeof(WORD)))
    {
        sizeImage = CSize(word(1), word(2));
        for (DWORD i = 0; i < word(3); ++i)
            ids.push_back(word(4 + i));
        return sizeImage.cx > 0 && sizeImage.cy > 0;
    }
    if (cbData >= 3 * sizeof(DWORD) && fits(3ull * sizeof(DWORD) + dword(2) * 4ull))
    {
        sizeImage = CSize(static_cast<int>(dword(0)), static_cast<int>(dword(1)));
        for (DWORD i = 0; i < dword(2); ++i)
            ids.push_back(dword(3 + i));
        return sizeImage.cx > 0 && sizeImage.cy > 0 && dword(0) <= 0xFFFF && dword(1) <= 0xFFFF;
    }
    return false;
}
} // namespace

// ---------------------------------------------------------------------------
// Buttons

IMPLEMENT_DYNCREATE(CMFCToolBarButton, CObject)

CMFCToolBarButton::CMFCToolBarButton() : m_nID(0), m_nStyle(TBBS_BUTTON), m_iImage(-1), m_bVisible(TRUE)
{
}

CMFCToolBarButton::CMFCToolBarButton(UINT uiID, int iImage, LPCTSTR, BOOL, BOOL)
    : m_nID(uiID), m_nStyle(TBBS_BUTTON), m_iImage(iImage), m_bVisible(TRUE)
{
}

void CMFCToolBarButton::CopyFrom(const CMFCToolBarButton& src)
{
    m_nID = src.m_nID;
    m_nStyle = src.m_nStyle;
    m_iImage = src.m_iImage;
    m_bVisible = src.m_bVisible;
}

// ---------------------------------------------------------------------------
// Panes

IMPLEMENT_DYNAMIC(CBasePane, CWnd)
IMPLEMENT_DYNAMIC(CPane, CBasePane)
IMPLEMENT_DYNAMIC(CMFCBaseToolBar, CPane)

CBasePane::CBasePane() : m_dwControlBarStyle(0)
{
}

void CPane::AdjustSizeImmediate(BOOL /*bRecalcLayout*/)
{
    AdjustLayout();
}

// ---------------------------------------------------------------------------
// The toolbar

IMPLEMENT_DYNCREATE(CMFCToolBar, CMFCBaseToolBar)

BEGIN_MESSAGE_MAP(CMFCToolBar, CMFCBaseToolBar)
ON_MESSAGE(WM_IDLEUPDATECMDUI, &CMFCToolBar::OnIdleUpdateCmdUI)
END_MESSAGE_MAP()

CMFCToolBar::CMFCToolBar() : m_hImages(nullptr), m_sizeImage(16, 15), m_bRecalcSize(TRUE)
{
}

CMFCToolBar::~CMFCToolBar()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
    for (CMFCToolBarButton* pButton : m_Buttons)
        delete pButton;
    if (m_hImages != nullptr)
        ImageList_Destroy(m_hImages);
}

BOOL CMFCToolBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID)
{
    return CreateEx(pParentWnd, TBSTYLE_FLAT, dwStyle, CRect(1, 1, 1, 1), nID);
}

BOOL CMFCToolBar::CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle, DWORD dwStyle, CRect /*rcBorders*/, UINT nID)
{
    if (pParentWnd == nullptr || pParentWnd->GetSafeHwnd() == nullptr)
        return FALSE;

    static bool s_bCommonControls = false;
    if (!s_bCommonControls)
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
        s_bCommonControls = InitCommonControlsEx(&icc) != FALSE;
    }

    m_dwControlBarStyle = dwStyle & CBRS_ALL;
    DWORD dwWndStyle = (dwStyle & ~CBRS_ALL) | WS_CHILD | (dwCtrlStyle & 0xFFFF) | CCS_NODIVIDER;
    if (dwStyle & CBRS_TOOLTIPS)
        dwWndStyle |= TBSTYLE_TOOLTIPS;
    // The control keeps itself at the parent's top or bottom edge at full width.
    dwWndStyle |= (dwStyle & CBRS_ALIGN_BOTTOM) ? CCS_BOTTOM : CCS_TOP;

    if (!CWnd::CreateEx(0, TOOLBARCLASSNAME, nullptr, dwWndStyle, 0, 0, 0, 0, pParentWnd->GetSafeHwnd(),
            reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID))))
    {
        return FALSE;
    }
    SendMessage(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON));
    SendMessage(TB_SETBITMAPSIZE, 0, MAKELPARAM(m_sizeImage.cx, m_sizeImage.cy));
    if (m_hImages != nullptr)
        SendMessage(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_hImages));
    for (int i = 0; i < GetCount(); ++i)
        AddToControl(i);
    AdjustLayout();
    return TRUE;
}

BOOL CMFCToolBar::LoadBitmap(UINT uiResID, UINT, UINT, BOOL, UINT, UINT)
{
    LPCTSTR lpszName = MAKEINTRESOURCE(uiResID);
    HINSTANCE hInst = AfxFindResourceHandle(lpszName, RT_BITMAP);
    HBITMAP hBitmap = static_cast<HBITMAP>(::LoadImage(hInst, lpszName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (hBitmap == nullptr)
        return FALSE;
    BITMAP bm = {};
    ::GetObject(hBitmap, sizeof(bm), &bm);
    int nImages = m_sizeImage.cx > 0 ? bm.bmWidth / m_sizeImage.cx : 0;
    HIMAGELIST hImages = ImageList_Create(m_sizeImage.cx, m_sizeImage.cy, ILC_COLOR24 | ILC_MASK, nImages, 4);
    if (hImages != nullptr)
        ImageList_AddMasked(hImages, hBitmap, RGB(192, 192, 192));
    ::DeleteObject(hBitmap);
    if (hImages == nullptr)
        return FALSE;

    if (m_hImages != nullptr)
        ImageList_Destroy(m_hImages);
    m_hImages = hImages;
    if (m_hWnd != nullptr)
    {
        SendMessage(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(m_hImages));
        Invalidate();
    }
    return TRUE;
}

BOOL CMFCToolBar::LoadToolBar(UINT uiResID, UINT uiColdResID, UINT uiMenuResID, BOOL bLocked, UINT uiDisabledResID,
    UINT uiMenuDisabledResID, UINT /*uiHotResID*/)
{
    LPCTSTR lpszName = MAKEINTRESOURCE(uiResID);
    HINSTANCE hInst = AfxFindResourceHandle(lpszName, RT_TOOLBAR);
    HRSRC hRsrc = ::FindResource(hInst, lpszName, RT_TOOLBAR);
    HGLOBAL hGlobal = hRsrc != nullptr ? ::LoadResource(hInst, hRsrc) : nullptr;
    const BYTE* pData = hGlobal != nullptr ? static_cast<const BYTE*>(::LockResource(hGlobal)) : nullptr;
    if (pData == nullptr)
    {
        AfxSubTrace(L"Warning: failed to load toolbar %u: no TOOLBAR resource of that id.\n", uiResID);
        return FALSE;
    }
    CSize sizeImage;
    std::vector<UINT> ids;
    if (!ReadToolBarResource(pData, ::SizeofResource(hInst, hRsrc), sizeImage, ids))
    {
        ::SetLastError(ERROR_INVALID_DATA);
        AfxSubTrace(L"Warning: failed to load toolbar %u: its data is not a TOOLBAR resource.\n", uiResID);
        return FALSE;
    }

    m_sizeImage = sizeImage;
    m_bRecalcSize = TRUE;
    if (m_hWnd != nullptr)
        SendMessage(TB_SETBITMAPSIZE, 0, MAKELPARAM(m_sizeImage.cx, m_sizeImage.cy));
    if (!SetButtons(ids.data(), static_cast<int>(ids.size())))
        return FALSE;
    // The button images are the bitmap of the same id; without them the
    // toolbar is not loaded, as in MFC.
    if (!LoadBitmap(uiResID, uiColdResID, uiMenuResID, bLocked, uiDisabledResID, uiMenuDisabledResID))
    {
        AfxSubTrace(L"Warning: failed to load the bitmap of toolbar %u.\n", uiResID);
        return FALSE;
    }
    return TRUE;
}

BOOL CMFCToolBar::SetButtons(const UINT* lpIDArray, int nIDCount, BOOL /*bRemoveImages*/)
{
    RemoveAllButtons();
    int iImage = 0;
    for (int i = 0; i < nIDCount; ++i)
    {
        UINT nID = lpIDArray != nullptr ? lpIDArray[i] : 0;
        if (nID == 0)
            InsertSeparator();
        else
            InsertButton(CMFCToolBarButton(nID, iImage++));
    }
    AdjustLayout();
    return TRUE;
}

int CMFCToolBar::InsertButton(const CMFCToolBarButton& button, INT_PTR iInsertAt)
{
    CObject* pObject = button.GetRuntimeClass()->CreateObject();
    CMFCToolBarButton* pButton = pObject != nullptr ? static_cast<CMFCToolBarButton*>(pObject) : new CMFCToolBarButton;
    pButton->CopyFrom(button);

    int nCount = GetCount();
    int nIndex = (iInsertAt < 0 || iInsertAt > nCount) ? nCount : static_cast<int>(iInsertAt);
    m_Buttons.insert(m_Buttons.begin() + nIndex, pButton);
    m_vecVisibleInControl.insert(m_vecVisibleInControl.begin() + nIndex, pButton->IsVisible() != FALSE);
    if (m_hWnd != nullptr)
        AddToControl(nIndex);
    return nIndex;
}

int CMFCToolBar::InsertSeparator(INT_PTR iInsertAt)
{
    CMFCToolBarButton separator;
    separator.m_nStyle = TBBS_SEPARATOR;
    return InsertButton(separator, iInsertAt);
}

BOOL CMFCToolBar::RemoveButton(int iIndex)
{
    if (iIndex < 0 || iIndex >= GetCount())
        return FALSE;
    delete m_Buttons[iIndex];
    m_Buttons.erase(m_Buttons.begin() + iIndex);
    m_vecVisibleInControl.erase(m_vecVisibleInControl.begin() + iIndex);
    if (m_hWnd != nullptr)
        SendMessage(TB_DELETEBUTTON, static_cast<WPARAM>(iIndex));
    m_bRecalcSize = TRUE;
    return TRUE;
}

void CMFCToolBar::RemoveAllButtons()
{
    while (GetCount() > 0)
        RemoveButton(GetCount() - 1);
}

int CMFCToolBar::GetCount() const
{
    return static_cast<int>(m_Buttons.size());
}

UINT CMFCToolBar::GetItemID(int nIndex) const
{
    const CMFCToolBarButton* pButton = GetButton(nIndex);
    if (pButton == nullptr || (pButton->m_nStyle & TBBS_SEPARATOR))
        return 0;
    return pButton->m_nID;
}

int CMFCToolBar::CommandToIndex(UINT nIDFind, int iIndexFirst) const
{
    for (int i = iIndexFirst < 0 ? 0 : iIndexFirst; i < GetCount(); ++i)
    {
        if (m_Buttons[i]->m_nID == nIDFind)
            return i;
    }
    return -1;
}

CMFCToolBarButton* CMFCToolBar::GetButton(int iIndex) const
{
    if (iIndex < 0 || iIndex >= GetCount())
        return nullptr;
    return m_Buttons[iIndex];
}

void CMFCToolBar::GetItemRect(int nIndex, LPRECT lpRect) const
{
    ::SetRectEmpty(lpRect);
    if (m_hWnd != nullptr && nIndex >= 0 && nIndex < GetCount())
        SendMessage(TB_GETITEMRECT, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(lpRect));
}

UINT CMFCToolBar::GetButtonStyle(int nIndex) const
{
    const CMFCToolBarButton* pButton = GetButton(nIndex);
    return pButton != nullptr ? pButton->m_nStyle : 0;
}

void CMFCToolBar::SetButtonStyle(int nIndex, UINT nStyle)
{
    CMFCToolBarButton* pButton = GetButton(nIndex);
    if (pButton == nullptr)
        return;
    pButton->m_nStyle = nStyle;
    if (m_hWnd != nullptr)
        SyncButton(nIndex);
}

void CMFCToolBar::AdjustLayout()
{
    if (m_hWnd == nullptr)
        return;
    // Only buttons whose visibility changed are touched: each change makes
    // the control lay out all of its buttons again.
    for (int i = 0; i < GetCount(); ++i)
    {
        if (m_vecVisibleInControl[i] != (m_Buttons[i]->IsVisible() != FALSE))
            SyncButton(i);
    }
    // The control closes the gaps of hidden buttons by itself; its own size
    // is worked out again only when buttons came or went, which costs a
    // move of the window.
    if (m_bRecalcSize)
    {
        m_bRecalcSize = FALSE;
        SendMessage(TB_AUTOSIZE);
    }
}

void CMFCToolBar::AdjustSizeImmediate(BOOL bRecalcLayout)
{
    m_bRecalcSize = TRUE;
    CPane::AdjustSizeImmediate(bRecalcLayout);
}

void CMFCToolBar::SyncButton(int nIndex)
{
    const CMFCToolBarButton* pButton = m_Buttons[nIndex];
    m_vecVisibleInControl[nIndex] = pButton->IsVisible() != FALSE;
    TBBUTTONINFO info = {};
    info.cbSize = sizeof(info);
    info.dwMask = TBIF_BYINDEX | TBIF_STATE | TBIF_COMMAND;
    info.idCommand = static_cast<int>(pButton->m_nID);
    // The state half of the style; TBBS_DISABLED is the inverted enabled bit.
    BYTE fsState = static_cast<BYTE>(HIWORD(pButton->m_nStyle));
    fsState ^= TBSTATE_ENABLED;
    if (!pButton->IsVisible())
        fsState |= TBSTATE_HIDDEN;
    else
        fsState &= ~TBSTATE_HIDDEN;
    info.fsState = fsState;
    SendMessage(TB_SETBUTTONINFO, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&info));
}

void CMFCToolBar::AddToControl(int nIndex)
{
    const CMFCToolBarButton* pButton = m_Buttons[nIndex];
    m_vecVisibleInControl[nIndex] = pButton->IsVisible() != FALSE;
    TBBUTTON tbb = {};
    bool bSeparator = (pButton->m_nStyle & TBBS_SEPARATOR) != 0;
    tbb.iBitmap = bSeparator ? kSeparatorWidth : pButton->GetImage();
    tbb.idCommand = bSeparator ? 0 : static_cast<int>(pButton->m_nID);
    BYTE fsState = static_cast<BYTE>(HIWORD(pButton->m_nStyle)) ^ TBSTATE_ENABLED;
    if (!pButton->IsVisible())
        fsState |= TBSTATE_HIDDEN;
    tbb.fsState = fsState;
    tbb.fsStyle = static_cast<BYTE>(LOWORD(pButton->m_nStyle));
    tbb.iString = -1;
    SendMessage(TB_INSERTBUTTON, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(&tbb));
    m_bRecalcSize = TRUE;
}

void CMFCToolBar::OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler)
{
    if (pTarget == nullptr)
        return;
    CToolCmdUI state;
    state.m_pOther = this;
    state.m_nIndexMax = static_cast<UINT>(GetCount());
    for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; state.m_nIndex++)
    {
        const CMFCToolBarButton* pButton = m_Buttons[state.m_nIndex];
        if ((pButton->m_nStyle & TBBS_SEPARATOR) || !pButton->IsVisible())
            continue;
        state.m_nID = pButton->m_nID;
        state.DoUpdate(pTarget, bDisableIfNoHndler);
    }
}

LRESULT CMFCToolBar::OnIdleUpdateCmdUI(WPARAM wParam, LPARAM)
{
    if (!IsWindowVisible())
        return 0;
    // Commands are routed through the frame that owns the bar.
    CWnd* pOwner = GetParent();
    while (pOwner != nullptr && !pOwner->IsKindOf(RUNTIME_CLASS(CFrameWnd)))
        pOwner = pOwner->GetParent();
    OnUpdateCmdUI(static_cast<CFrameWnd*>(pOwner), static_cast<BOOL>(wParam));
    return 0;
}
