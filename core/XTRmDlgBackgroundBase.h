// Base of the dialogs that can show the application's background picture: it
// loads the PNG by id, puts it into a picture control stretched over the whole
// client area, and lets the user drag the dialog by its top band.
#pragma once

#include <afxwin.h>
#include "XTRmApi.h"
#include <afxcontrolbars.h>

// Declares no run-time class, message map, OnOK or OnCancel: derived dialogs
// name CDialog for these, and must name this class once it has any of them.
class XTRM_API XTRmDlgBackgroundBase : public CDialog
{
public:
    // nBackgroundImageID 0 means no picture.
    XTRmDlgBackgroundBase(UINT nIDTemplate, CWnd* pParent, unsigned int nBackgroundImageID);
    ~XTRmDlgBackgroundBase() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    // Derived dialogs call this first from their own OnInitDialog.
    BOOL OnInitDialog() override;
    // The picture control that receives the image; null for none.
    virtual CWnd* GetBackgroundImageCtrl() = 0;

private:
    CPngImage m_imgBackground;
    unsigned int m_nBackgroundImageID;
};
