// Toolbars and frames of the MFC subset against the resources that resource
// compilers really write: a toolbar from the TOOLBAR statement loads with its
// buttons and pictures, broken or missing resources are refused, and every
// refusal leaves the system's reason in GetLastError and a diagnostic that
// names the resource, where MFC's TRACE output goes.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmMfcTestIds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::ElementsAre;
using testing::HasSubstr;

namespace
{

// Collects what the process writes with OutputDebugString while it lives:
// OutputDebugString raises a first-chance exception that a vectored handler
// sees before the system handles it.
class DebugOutput
{
public:
    DebugOutput()
    {
        ms_lines.clear();
        m_pHandler = ::AddVectoredExceptionHandler(1, &DebugOutput::Handler);
    }
    ~DebugOutput() { ::RemoveVectoredExceptionHandler(m_pHandler); }

    std::string Text() const
    {
        std::string strText;
        for (const std::string& strLine : ms_lines)
            strText += strLine;
        return strText;
    }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* pInfo)
    {
        const EXCEPTION_RECORD* pRecord = pInfo->ExceptionRecord;
        if (pRecord->NumberParameters >= 2 && pRecord->ExceptionInformation[1] != 0)
        {
            // The wide form comes first where the system has it; its narrow
            // repetition is then skipped.
            if (pRecord->ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_WIDE_C))
            {
                const wchar_t* psz = reinterpret_cast<const wchar_t*>(pRecord->ExceptionInformation[1]);
                ms_lines.push_back(std::string(psz, psz + wcslen(psz)));
                ms_bWide = true;
            }
            else if (pRecord->ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_C) && !ms_bWide)
            {
                ms_lines.push_back(reinterpret_cast<const char*>(pRecord->ExceptionInformation[1]));
            }
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    PVOID m_pHandler;
    static inline std::vector<std::string> ms_lines;
    static inline bool ms_bWide = false;
};

// The subset writes MFC's diagnostics in every build; the real MFC only in
// debug builds, in words of its own.
#ifdef AFX_SUB_API
const bool kDiagnosticsChecked = true;
#else
const bool kDiagnosticsChecked = false;
#endif

class ToolBarTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_pFrame = new CFrameWnd;
        ASSERT_TRUE(m_pFrame->Create(nullptr, L"Toolbar", WS_OVERLAPPEDWINDOW, CRect(0, 0, 400, 200)));
        ASSERT_TRUE(m_toolBar.CreateEx(m_pFrame, TBSTYLE_FLAT, WS_CHILD | WS_VISIBLE | CBRS_TOP));
    }
    void TearDown() override
    {
        m_toolBar.DestroyWindow();
        m_pFrame->DestroyWindow();
    }

    // What the control holds, left to right: command ids, 0 for separators.
    std::vector<int> ControlCommands() const
    {
        std::vector<int> vecCommands;
        const int nCount = static_cast<int>(m_toolBar.SendMessage(TB_BUTTONCOUNT));
        for (int i = 0; i < nCount; ++i)
        {
            TBBUTTON tbb = {};
            m_toolBar.SendMessage(TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tbb));
            vecCommands.push_back(tbb.idCommand);
        }
        return vecCommands;
    }

    CFrameWnd* m_pFrame = nullptr;
    CMFCToolBar m_toolBar;
};

class ToolBarLayouts : public ToolBarTest, public testing::WithParamInterface<UINT>
{
};

// A frame that notes its end, so a test sees MFC delete it.
class NotingFrame : public CFrameWnd
{
public:
    explicit NotingFrame(bool& bDeleted, bool bFailCreate = false) : m_bDeleted(bDeleted), m_bFailCreate(bFailCreate) {}
    ~NotingFrame() override { m_bDeleted = true; }

protected:
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct)
    {
        if (m_bFailCreate)
            return -1;
        return CFrameWnd::OnCreate(lpCreateStruct);
    }

    bool& m_bDeleted;
    bool m_bFailCreate;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NotingFrame, CFrameWnd)
ON_WM_CREATE()
END_MESSAGE_MAP()
} // namespace

// The TOOLBAR statement as windres writes it and MFC's own layout as
// Microsoft's rc writes it give the same bar.
TEST_P(ToolBarLayouts, LoadsTheButtonsAndThePicturesOfTheBitmapOfTheSameId)
{
    ASSERT_TRUE(m_toolBar.LoadToolBar(GetParam()));

    EXPECT_THAT(ControlCommands(), ElementsAre(ID_TEST_FIRST, 0, ID_TEST_SECOND));
    ASSERT_EQ(3, m_toolBar.GetCount());
    EXPECT_EQ(0u, m_toolBar.GetItemID(1));
    EXPECT_NE(0u, m_toolBar.GetButtonStyle(1) & TBBS_SEPARATOR);
    // Button k shows picture k; separators take none.
    EXPECT_EQ(0, m_toolBar.GetButton(0)->GetImage());
    EXPECT_EQ(1, m_toolBar.GetButton(2)->GetImage());
    const HIMAGELIST hImages = reinterpret_cast<HIMAGELIST>(m_toolBar.SendMessage(TB_GETIMAGELIST));
    ASSERT_NE(nullptr, hImages);
    int cx = 0;
    int cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(hImages, &cx, &cy));
    EXPECT_EQ(16, cx);
    EXPECT_EQ(15, cy);
    EXPECT_EQ(2, ImageList_GetImageCount(hImages));
    // Both buttons are there to be seen and pressed.
    CRect rectFirst;
    CRect rectSecond;
    m_toolBar.GetItemRect(0, &rectFirst);
    m_toolBar.GetItemRect(2, &rectSecond);
    EXPECT_GE(rectFirst.Width(), 16);
    EXPECT_GT(rectSecond.left, rectFirst.right);
}

INSTANTIATE_TEST_SUITE_P(
    MfcSubset, ToolBarLayouts, testing::Values(IDR_TEST_TOOLBAR_STATEMENT, IDR_TEST_TOOLBAR_MFC_LAYOUT));

TEST_F(ToolBarTest, BrokenOrMissingResourcesAreRefusedWithTheReasonAndTheResourceNamed)
{
    struct Case
    {
        UINT nID;
        std::vector<DWORD> vecErrors;
        const char* pszDiagnostic;
    } cases[] = {
        {IDR_TEST_MISSING, {ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND},
            "Warning: failed to load toolbar 9399"},
        {IDR_TEST_TOOLBAR_BAD_VERSION, {ERROR_INVALID_DATA}, "Warning: failed to load toolbar 9302"},
        {IDR_TEST_TOOLBAR_TRUNCATED, {ERROR_INVALID_DATA}, "Warning: failed to load toolbar 9303"},
        {IDR_TEST_TOOLBAR_NO_BITMAP, {ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND},
            "Warning: failed to load the bitmap of toolbar 9304"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszDiagnostic);
        DebugOutput output;
        ::SetLastError(0);
        EXPECT_FALSE(m_toolBar.LoadToolBar(c.nID));
        EXPECT_THAT(c.vecErrors, testing::Contains(::GetLastError()));
        if (kDiagnosticsChecked)
        {
            EXPECT_THAT(output.Text(), HasSubstr(c.pszDiagnostic));
        }
    }
}

// A frame that cannot be made is deleted, as MFC deletes it, and says why.
TEST(MfcSubsetFrame, FrameWithoutItsMenuOrWhoseCreationFailsIsDeletedAndSaysWhy)
{
    struct Case
    {
        UINT nID;
        bool bFailCreate;
        bool bResourceError;
        const char* pszDiagnostic;
    } cases[] = {
        {IDR_TEST_MISSING, false, true, "Warning: failed to load menu 9399 for CFrameWnd."},
        {IDR_TEST_FRAME, true, false, "Warning: failed to create CFrameWnd."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszDiagnostic);
        bool bDeleted = false;
        DebugOutput output;
        auto* pFrame = new NotingFrame(bDeleted, c.bFailCreate);
        ::SetLastError(0);
        EXPECT_FALSE(pFrame->LoadFrame(c.nID, WS_OVERLAPPEDWINDOW));
        const DWORD dwError = ::GetLastError();
        if (c.bResourceError)
        {
            EXPECT_TRUE(dwError == ERROR_RESOURCE_NAME_NOT_FOUND || dwError == ERROR_RESOURCE_TYPE_NOT_FOUND)
                << dwError;
        }
        EXPECT_TRUE(bDeleted);
        if (kDiagnosticsChecked)
        {
            EXPECT_THAT(output.Text(), HasSubstr(c.pszDiagnostic));
        }
    }
}

TEST(MfcSubsetFrame, FrameWithItsResourcesHasItsMenuAndTitle)
{
    bool bDeleted = false;
    DebugOutput output;
    auto* pFrame = new NotingFrame(bDeleted);
    ASSERT_TRUE(pFrame->LoadFrame(IDR_TEST_FRAME, WS_OVERLAPPEDWINDOW));
    wchar_t szItem[32] = L"";
    ::GetMenuStringW(::GetMenu(pFrame->m_hWnd), ID_TEST_FIRST, szItem, 32, MF_BYCOMMAND);
    EXPECT_STREQ(L"&First", szItem);
    wchar_t szTitle[32] = L"";
    pFrame->GetWindowText(szTitle, 32);
    EXPECT_STREQ(L"Frame test", szTitle);
    EXPECT_EQ("", output.Text());
    pFrame->DestroyWindow();
    EXPECT_TRUE(bDeleted);
}
