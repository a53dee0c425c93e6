// The test host: an ordinary MFC application object. Message boxes are either
// recorded and answered from a script (the default), or shown for real so the
// UI robot can meet them.
#pragma once

#include <afxwin.h>

#include <deque>
#include <string>
#include <vector>

struct XTRmRecordedMessageBox
{
    std::wstring strText;
    UINT nType;
    UINT nIDHelp;
};

class XTRmTestApp : public CWinApp
{
public:
    XTRmTestApp();

    int DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT nIDPrompt) override;

    // Recording mode: every box is recorded and answered with the next
    // scripted answer, else IDOK (IDYES for yes/no questions).
    bool m_bShowRealMessageBoxes = false;
    std::deque<int> m_queAnswers;
    std::vector<XTRmRecordedMessageBox> m_vecMessageBoxes;

    // Back to recording mode with nothing recorded; called before every test.
    void Reset();
};

XTRmTestApp& TestApp();
