// MFC subset: CMFCToolBar over a real Win32 toolbar control.
// The button objects hold what MFC's buttons hold (command, image, style,
// visibility); the Win32 control shows them, one control button per object
// at the same index, hidden buttons included.
#pragma once

#include "afxwin.h"

#include <vector>

#ifndef WM_IDLEUPDATECMDUI
// Sent by the idle loop to every control bar: wParam TRUE greys the commands
// without a handler.
#define WM_IDLEUPDATECMDUI 0x0363
#endif

#ifndef RT_TOOLBAR
#define RT_TOOLBAR MAKEINTRESOURCE(241)
#endif

// Pane (control bar) styles. They live in the pane, never in the window style.
#define CBRS_ALIGN_LEFT 0x1000L
#define CBRS_ALIGN_TOP 0x2000L
#define CBRS_ALIGN_RIGHT 0x4000L
#define CBRS_ALIGN_BOTTOM 0x8000L
#define CBRS_ALIGN_ANY 0xF000L
#define CBRS_BORDER_LEFT 0x0100L
#define CBRS_BORDER_TOP 0x0200L
#define CBRS_BORDER_RIGHT 0x0400L
#define CBRS_BORDER_BOTTOM 0x0800L
#define CBRS_BORDER_ANY 0x0F00L
#define CBRS_TOOLTIPS 0x0010L
#define CBRS_FLYBY 0x0020L
#define CBRS_FLOAT_MULTI 0x0040L
#define CBRS_BORDER_3D 0x0080L
#define CBRS_HIDE_INPLACE 0x0008L
#define CBRS_SIZE_DYNAMIC 0x0004L
#define CBRS_SIZE_FIXED 0x0002L
#define CBRS_FLOATING 0x0001L
#define CBRS_GRIPPER 0x00400000L
#define CBRS_ALL 0x0040FFFFL
#define CBRS_NOALIGN 0x00000000L
#define CBRS_LEFT (CBRS_ALIGN_LEFT | CBRS_BORDER_RIGHT)
#define CBRS_TOP (CBRS_ALIGN_TOP | CBRS_BORDER_BOTTOM)
#define CBRS_RIGHT (CBRS_ALIGN_RIGHT | CBRS_BORDER_LEFT)
#define CBRS_BOTTOM (CBRS_ALIGN_BOTTOM | CBRS_BORDER_TOP)

#define AFX_DEFAULT_TOOLBAR_STYLE (WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_HIDE_INPLACE)
#ifndef AFX_IDW_TOOLBAR
#define AFX_IDW_TOOLBAR 0xE800
#endif

// Button styles: the low word is the control's button style, the high word
// its state.
#define TBBS_BUTTON MAKELONG(TBSTYLE_BUTTON, 0)
#define TBBS_SEPARATOR MAKELONG(TBSTYLE_SEP, 0)
#define TBBS_CHECKBOX MAKELONG(TBSTYLE_CHECK, 0)
#define TBBS_GROUP MAKELONG(TBSTYLE_GROUP, 0)
#define TBBS_CHECKGROUP (TBBS_GROUP | TBBS_CHECKBOX)
#define TBBS_CHECKED MAKELONG(0, TBSTATE_CHECKED)
#define TBBS_PRESSED MAKELONG(0, TBSTATE_PRESSED)
#define TBBS_DISABLED MAKELONG(0, TBSTATE_ENABLED)
#define TBBS_INDETERMINATE MAKELONG(0, TBSTATE_INDETERMINATE)
#define TBBS_HIDDEN MAKELONG(0, TBSTATE_HIDDEN)

class CMFCToolBar;

class AFX_SUB_API CMFCToolBarButton : public CObject
{
    DECLARE_DYNCREATE(CMFCToolBarButton)
public:
    CMFCToolBarButton();
    CMFCToolBarButton(
        UINT uiID, int iImage, LPCTSTR lpszText = nullptr, BOOL bUserButton = FALSE, BOOL bLocked = FALSE);
    virtual ~CMFCToolBarButton() = default;

    UINT m_nID;
    UINT m_nStyle;

    virtual void CopyFrom(const CMFCToolBarButton& src);

    // Visibility is a wish until the toolbar lays itself out again
    // (AdjustLayout), as in MFC.
    virtual void SetVisible(BOOL bShow = TRUE) { m_bVisible = bShow; }
    BOOL IsVisible() const { return m_bVisible; }
    // Hidden for want of room; the subset's bars never run out of room.
    BOOL IsHidden() const { return FALSE; }

    int GetImage() const { return m_iImage; }
    virtual void SetImage(int iImage) { m_iImage = iImage; }

protected:
    int m_iImage;
    BOOL m_bVisible;
};

// The layers of MFC's control-bar family that the subset's toolbar needs.
class AFX_SUB_API CBasePane : public CWnd
{
    DECLARE_DYNAMIC(CBasePane)
public:
    CBasePane();
    virtual void AdjustLayout() {}
    DWORD GetPaneStyle() const { return m_dwControlBarStyle; }
    virtual void SetPaneStyle(DWORD dwNewStyle) { m_dwControlBarStyle = dwNewStyle; }

protected:
    DWORD m_dwControlBarStyle;
};

class AFX_SUB_API CPane : public CBasePane
{
    DECLARE_DYNAMIC(CPane)
public:
    virtual void AdjustSizeImmediate(BOOL bRecalcLayout = TRUE);
};

class AFX_SUB_API CMFCBaseToolBar : public CPane
{
    DECLARE_DYNAMIC(CMFCBaseToolBar)
};

class AFX_SUB_API CMFCToolBar : public CMFCBaseToolBar
{
    DECLARE_DYNCREATE(CMFCToolBar)
public:
    CMFCToolBar();
    virtual ~CMFCToolBar();

    virtual BOOL Create(CWnd* pParentWnd, DWORD dwStyle = AFX_DEFAULT_TOOLBAR_STYLE, UINT nID = AFX_IDW_TOOLBAR);
    virtual BOOL CreateEx(CWnd* pParentWnd, DWORD dwCtrlStyle = TBSTYLE_FLAT, DWORD dwStyle = AFX_DEFAULT_TOOLBAR_STYLE,
        CRect rcBorders = CRect(1, 1, 1, 1), UINT nID = AFX_IDW_TOOLBAR);

    // A TOOLBAR resource (button ids, 0 for separators) and the bitmap of the
    // same id, looked up along the resource chain.
    virtual BOOL LoadToolBar(UINT uiResID, UINT uiColdResID = 0, UINT uiMenuResID = 0, BOOL bLocked = FALSE,
        UINT uiDisabledResID = 0, UINT uiMenuDisabledResID = 0, UINT uiHotResID = 0);
    // A strip of button images; light grey (192, 192, 192) is transparent.
    virtual BOOL LoadBitmap(UINT uiResID, UINT uiColdResID = 0, UINT uiMenuResID = 0, BOOL bLocked = FALSE,
        UINT uiDisabledResID = 0, UINT uiMenuDisabledResID = 0);
    // One button per id, 0 for a separator; button k gets image k.
    virtual BOOL SetButtons(const UINT* lpIDArray, int nIDCount, BOOL bRemoveImages = TRUE);

    virtual int InsertButton(const CMFCToolBarButton& button, INT_PTR iInsertAt = -1);
    virtual int InsertSeparator(INT_PTR iInsertAt = -1);
    virtual BOOL RemoveButton(int iIndex);
    virtual void RemoveAllButtons();

    int GetCount() const;
    // The command of the button at an index; 0 for a separator.
    UINT GetItemID(int nIndex) const;
    int CommandToIndex(UINT nIDFind, int iIndexFirst = 0) const;
    CMFCToolBarButton* GetButton(int iIndex) const;
    void GetItemRect(int nIndex, LPRECT lpRect) const;
    UINT GetButtonStyle(int nIndex) const;
    void SetButtonStyle(int nIndex, UINT nStyle);

    // Shows the buttons as their objects now say (visibility, style) and
    // closes the gaps of hidden buttons.
    virtual void AdjustLayout();
    // Also fits the bar to its parent again (after the parent was resized).
    virtual void AdjustSizeImmediate(BOOL bRecalcLayout = TRUE);

    // The update pass over the visible buttons, as the idle loop runs it.
    virtual void OnUpdateCmdUI(CFrameWnd* pTarget, BOOL bDisableIfNoHndler);

protected:
    LRESULT OnIdleUpdateCmdUI(WPARAM wParam, LPARAM lParam);
    void SyncButton(int nIndex);
    void AddToControl(int nIndex);

    std::vector<CMFCToolBarButton*> m_Buttons;
    // Per button: whether the control shows it, as last laid out.
    std::vector<bool> m_vecVisibleInControl;
    HIMAGELIST m_hImages;
    CSize m_sizeImage;
    // Buttons came or went since the control last worked out its size.
    BOOL m_bRecalcSize;

    DECLARE_MESSAGE_MAP()
};
