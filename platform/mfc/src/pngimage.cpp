// CPngImage: a PNG (resource, file or memory) decoded with GDI+ into a bitmap.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>

namespace
{
// GDI+ is started on first use and left running: shutting it down from a
// DLL's detach is not allowed, and the process ends soon after anyway.
bool StartGdiPlus()
{
    static bool bStarted = [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return bStarted;
}

HBITMAP DecodeStream(IStream* pStream)
{
    if (pStream == nullptr || !StartGdiPlus())
        return nullptr;
    HBITMAP hBitmap = nullptr;
    {
        Gdiplus::Bitmap image(pStream);
        // Transparent parts take the colour of a dialog's face, where the
        // picture is shown.
        COLORREF crFace = ::GetSysColor(COLOR_3DFACE);
        Gdiplus::Color background(255, GetRValue(crFace), GetGValue(crFace), GetBValue(crFace));
        if (image.GetLastStatus() != Gdiplus::Ok || image.GetHBITMAP(background, &hBitmap) != Gdiplus::Ok)
            hBitmap = nullptr;
    }
    pStream->Release();
    return hBitmap;
}
} // namespace

CPngImage::CPngImage() = default;

CPngImage::~CPngImage() = default;

BOOL CPngImage::Load(UINT uiResID, HINSTANCE hinstRes)
{
    return Load(MAKEINTRESOURCE(uiResID), hinstRes);
}

BOOL CPngImage::Load(LPCTSTR lpszResourceName, HINSTANCE hinstRes)
{
    if (hinstRes == nullptr)
        hinstRes = AfxFindResourceHandle(lpszResourceName, L"PNG");
    HRSRC hResource = ::FindResourceW(hinstRes, lpszResourceName, L"PNG");
    if (hResource == nullptr)
        return FALSE;
    HGLOBAL hData = ::LoadResource(hinstRes, hResource);
    if (hData == nullptr)
        return FALSE;
    return LoadFromBuffer(static_cast<LPBYTE>(::LockResource(hData)), ::SizeofResource(hinstRes, hResource));
}

BOOL CPngImage::LoadFromFile(LPCTSTR lpszPath)
{
    IStream* pStream = nullptr;
    if (FAILED(::SHCreateStreamOnFileW(lpszPath, STGM_READ | STGM_SHARE_DENY_WRITE, &pStream)))
        return FALSE;
    HBITMAP hBitmap = DecodeStream(pStream);
    if (hBitmap == nullptr)
        return FALSE;
    DeleteObject();
    return Attach(hBitmap);
}

BOOL CPngImage::LoadFromBuffer(LPBYTE lpBuffer, UINT uiSize)
{
    if (lpBuffer == nullptr || uiSize == 0)
        return FALSE;
    HBITMAP hBitmap = DecodeStream(::SHCreateMemStream(lpBuffer, uiSize));
    if (hBitmap == nullptr)
        return FALSE;
    DeleteObject();
    return Attach(hBitmap);
}
