// The application's entry point, linked into the executable: hands over to
// AfxWinMain, which runs the CWinApp object's InitInstance and Run.
#include <afxwin.h>

extern "C" int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow)
{
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
