// Dialog data exchange of wide strings with edit controls, the way MFC's
// DDX_Text does it for CString.
#include <afxwin.h>

#include "XTGuiLibrary.h"
#include "XTSecret.h"

// The strings exchanged here are often passwords: a buffer that held one is
// wiped before it is given back to the heap.
using XTSecret::Wipe;

void Gui::DDX_Text(CDataExchange* pDX, int nIDC, std::wstring& value)
{
    HWND hWndCtrl = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
    {
        std::wstring strText((size_t)::GetWindowTextLengthW(hWndCtrl) + 1, L'\0');
        strText.resize((size_t)::GetWindowTextW(hWndCtrl, &strText[0], (int)strText.size()));
        Wipe(value);
        value.swap(strText);
        Wipe(strText);
        return;
    }

    // Only a real change is written, as MFC does: no flicker and no change
    // notification for an unchanged text.
    std::wstring strOld((size_t)::GetWindowTextLengthW(hWndCtrl) + 1, L'\0');
    strOld.resize((size_t)::GetWindowTextW(hWndCtrl, &strOld[0], (int)strOld.size()));
    if (strOld != value)
        ::SetWindowTextW(hWndCtrl, value.c_str());
    Wipe(strOld);
}
