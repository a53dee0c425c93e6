#include "XTRmDlgBackgroundBase.h"

namespace
{
// Height of the band, in client pixels from the top, by which the dialog can
// be dragged: the header part of the background picture.
const int kDragBandHeight = 100;
} // namespace

XTRmDlgBackgroundBase::XTRmDlgBackgroundBase(UINT nIDTemplate, CWnd* pParent, unsigned int nBackgroundImageID)
    : CDialog(nIDTemplate, pParent), m_nBackgroundImageID(nBackgroundImageID)
{
}

XTRmDlgBackgroundBase::~XTRmDlgBackgroundBase()
{
    m_imgBackground.DeleteObject();
}

BOOL XTRmDlgBackgroundBase::OnInitDialog()
{
    CDialog::OnInitDialog();

    // An id of 0, or one without a PNG, leaves the image empty: the control
    // is still stretched and shows nothing, so the template shows as it is.
    m_imgBackground.Load(m_nBackgroundImageID);

    CWnd* pImageCtrl = GetBackgroundImageCtrl();
    if (pImageCtrl == nullptr)
        return TRUE;
    pImageCtrl->SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_imgBackground.GetSafeHandle()));

    CRect rectClient;
    GetClientRect(&rectClient);
    pImageCtrl->SetWindowPos(
        nullptr, rectClient.left, rectClient.top, rectClient.right, rectClient.bottom, SWP_NOZORDER);
    return TRUE;
}

BOOL XTRmDlgBackgroundBase::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message == WM_LBUTTONDOWN)
    {
        CPoint point(pMsg->pt);
        ScreenToClient(&point);
        if (point.y > kDragBandHeight)
            return FALSE;
        // As if the caption had been grabbed: the system moves the dialog
        // with the mouse, and the click still reaches the control under it.
        PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    }
    return CDialog::PreTranslateMessage(pMsg);
}
