// Screenshots of windows as PNG files: paint the window now, copy its
// rectangle from the screen, encode with GDI+.
#include "XTRmUiRobot.h"

#include <objidl.h>

#include <gdiplus.h>

namespace
{
// {557CF406-1A04-11D3-9A73-0000F81EF32E}: GDI+'s built-in PNG encoder.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
} // namespace

bool XTRmSaveWindowScreenshot(HWND hWnd, const std::wstring& strPath)
{
    if (!::IsWindow(hWnd))
        return false;
    ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    // Under Wine the painted pixels reach the screen when the window's
    // surface is flushed, which happens while the thread checks its queue
    // (at most every 50 ms). PM_NOREMOVE leaves the queue as it is.
    ::GdiFlush();
    for (int i = 0; i < 4; ++i)
    {
        MSG msg;
        ::Sleep(30);
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }

    RECT rect;
    ::GetWindowRect(hWnd, &rect);
    int cx = rect.right - rect.left;
    int cy = rect.bottom - rect.top;
    if (cx <= 0 || cy <= 0)
        return false;

    HDC hScreen = ::GetDC(nullptr);
    HDC hMemory = ::CreateCompatibleDC(hScreen);
    HBITMAP hBitmap = ::CreateCompatibleBitmap(hScreen, cx, cy);
    HGDIOBJ hOld = ::SelectObject(hMemory, hBitmap);
    ::BitBlt(hMemory, 0, 0, cx, cy, hScreen, rect.left, rect.top, SRCCOPY);
    ::SelectObject(hMemory, hOld);
    ::DeleteDC(hMemory);
    ::ReleaseDC(nullptr, hScreen);

    bool bSaved = false;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok)
    {
        {
            Gdiplus::Bitmap image(hBitmap, nullptr);
            bSaved = image.Save(strPath.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    ::DeleteObject(hBitmap);
    return bSaved;
}
