// MFC subset: CPngImage, a PNG from the resource chain decoded with GDI+.
// Included by afxcontrolbars.h, as in MFC.
#pragma once

#include "afxwin.h"

class AFX_SUB_API CPngImage : public CBitmap
{
public:
    CPngImage();
    virtual ~CPngImage();

    // A resource of type "PNG": searched along the resource chain when no
    // instance handle is given. FALSE (and no bitmap) when there is none.
    BOOL Load(UINT uiResID, HINSTANCE hinstRes = nullptr);
    BOOL Load(LPCTSTR lpszResourceName, HINSTANCE hinstRes = nullptr);
    BOOL LoadFromFile(LPCTSTR lpszPath);
    BOOL LoadFromBuffer(LPBYTE lpBuffer, UINT uiSize);
};
