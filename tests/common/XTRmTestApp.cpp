#include "XTRmTestApp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace
{
XTRmTestApp theApp;

// Each test starts with a recording message-box hook and nothing recorded.
class ResetAppListener : public testing::EmptyTestEventListener
{
    void OnTestStart(const testing::TestInfo&) override { theApp.Reset(); }
};
} // namespace

XTRmTestApp& TestApp()
{
    return theApp;
}

XTRmTestApp::XTRmTestApp() : CWinApp(L"XTRm Test Host")
{
}

void XTRmTestApp::Reset()
{
    m_bShowRealMessageBoxes = false;
    m_queAnswers.clear();
    m_vecMessageBoxes.clear();
}

int XTRmTestApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT nIDPrompt)
{
    m_vecMessageBoxes.push_back({lpszPrompt != nullptr ? lpszPrompt : L"", nType, nIDPrompt});
    if (m_bShowRealMessageBoxes)
        return CWinApp::DoMessageBox(lpszPrompt, nType, nIDPrompt);
    if (!m_queAnswers.empty())
    {
        int nAnswer = m_queAnswers.front();
        m_queAnswers.pop_front();
        return nAnswer;
    }
    UINT nButtons = nType & MB_TYPEMASK;
    return nButtons == MB_YESNO || nButtons == MB_YESNOCANCEL ? IDYES : IDOK;
}

int main(int argc, char** argv)
{
    AfxWinInit(::GetModuleHandleW(nullptr), nullptr, ::GetCommandLineW(), SW_SHOWNORMAL);
    testing::InitGoogleMock(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetAppListener);
    return RUN_ALL_TESTS();
}
