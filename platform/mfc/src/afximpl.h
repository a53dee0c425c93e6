// Internals shared by the subset's implementation files; not part of its API.
#pragma once

#include <afxwin.h>

void AFXAPI AfxSetSuperWndProc(CWnd* pWnd, WNDPROC pfnSuper);
// Frees the temporary CWnd wrappers of this thread (done at idle time).
void AFXAPI AfxDeleteTempWndMap();
// While UpdateData runs for a window, its controls' notifications are not
// dispatched (dlgdata.cpp), as in MFC.
BOOL AFXAPI AfxIsNotifyLockedOut(HWND hWnd);
// MFC's TRACE diagnostics ("Warning: failed to load toolbar 1234"), written
// to the debugger's output in every build; the caller's last error survives,
// so a host can still say why the call failed.
void AfxSubTrace(LPCWSTR lpszFormat, ...);

// MFC's private messages (afxpriv.h).
#ifndef WM_KICKIDLE
#define WM_KICKIDLE 0x036A
#endif
#ifndef WM_IDLEUPDATECMDUI
#define WM_IDLEUPDATECMDUI 0x0363
#endif
