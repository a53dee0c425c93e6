// A command-update object that shows nothing and records what an update
// handler asked of it, in order, e.g. "Enable(FALSE)", "SetCheck(1)",
// "SetText(Save)".
#pragma once

#include <afxwin.h>

#include <string>
#include <vector>

class XTRmRecordingCmdUI : public CCmdUI
{
public:
    explicit XTRmRecordingCmdUI(UINT nID = 0) { m_nID = nID; }

    std::vector<std::wstring> m_vecCalls;

    void Enable(BOOL bOn = TRUE) override
    {
        m_vecCalls.push_back(bOn ? L"Enable(TRUE)" : L"Enable(FALSE)");
        m_bEnableChanged = TRUE;
    }
    void SetCheck(int nCheck = 1) override { m_vecCalls.push_back(L"SetCheck(" + std::to_wstring(nCheck) + L")"); }
    void SetRadio(BOOL bOn = TRUE) override { m_vecCalls.push_back(bOn ? L"SetRadio(TRUE)" : L"SetRadio(FALSE)"); }
    void SetText(LPCTSTR lpszText) override
    {
        m_vecCalls.push_back(L"SetText(" + std::wstring(lpszText != nullptr ? lpszText : L"") + L")");
    }
};
