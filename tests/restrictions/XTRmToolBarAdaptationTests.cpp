// Toolbar buttons of hidden commands, on a real Win32 toolbar in a real frame:
// which buttons the user still sees, that no gap is left, the order in which
// they are hidden, and the update pass that greys disabled commands.
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTGuiLibrary.h"
#include "XTRmDemoIds.h"
#include "XTRmMenuLayout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using testing::ElementsAre;

namespace
{
// Notes which commands are hidden each time the bar lays itself out again,
// which is once per button that the GUI library hides.
class XTRmRecordingToolBar : public CMFCToolBar
{
public:
    std::vector<std::vector<UINT>> m_vecHiddenAtLayout;

    void AdjustLayout() override
    {
        std::vector<UINT> vecHidden;
        for (int i = 0; i < GetCount(); ++i)
        {
            if (GetItemID(i) != 0 && !GetButton(i)->IsVisible())
                vecHidden.push_back(GetItemID(i));
        }
        m_vecHiddenAtLayout.push_back(vecHidden);
        CMFCToolBar::AdjustLayout();
    }
};

class ToolBarFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        m_pFrame = new CFrameWnd;
        ASSERT_TRUE(m_pFrame->Create(nullptr, L"Toolbar", WS_OVERLAPPEDWINDOW, CRect(0, 0, 600, 200)));
        ASSERT_TRUE(m_toolBar.Create(m_pFrame));
    }
    void TearDown() override
    {
        m_toolBar.DestroyWindow();
        m_pFrame->DestroyWindow();
    }

    void SetButtons(const std::vector<UINT>& vecIds)
    {
        m_toolBar.SetButtons(vecIds.data(), static_cast<int>(vecIds.size()));
        m_toolBar.m_vecHiddenAtLayout.clear();
    }

    // What the control shows, left to right: command ids, 0 for separators.
    std::vector<UINT> ShownItems() const
    {
        std::vector<UINT> vecShown;
        int nCount = static_cast<int>(m_toolBar.SendMessage(TB_BUTTONCOUNT));
        for (int i = 0; i < nCount; ++i)
        {
            TBBUTTON tbb = {};
            m_toolBar.SendMessage(TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tbb));
            if (!(tbb.fsState & TBSTATE_HIDDEN))
                vecShown.push_back(static_cast<UINT>(tbb.idCommand));
        }
        return vecShown;
    }

    // Each shown item starts where the one before it ends.
    void ExpectNoGaps() const
    {
        int nCount = static_cast<int>(m_toolBar.SendMessage(TB_BUTTONCOUNT));
        LONG nRightOfPrevious = -1;
        for (int i = 0; i < nCount; ++i)
        {
            TBBUTTON tbb = {};
            m_toolBar.SendMessage(TB_GETBUTTON, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tbb));
            if (tbb.fsState & TBSTATE_HIDDEN)
                continue;
            CRect rect;
            m_toolBar.GetItemRect(i, &rect);
            if (nRightOfPrevious >= 0)
            {
                EXPECT_EQ(rect.left, nRightOfPrevious) << "gap before item " << i;
            }
            nRightOfPrevious = rect.right;
        }
    }

    bool IsEnabled(UINT nId) const { return m_toolBar.SendMessage(TB_ISBUTTONENABLED, nId) != 0; }

    CFrameWnd* m_pFrame = nullptr;
    XTRmRecordingToolBar m_toolBar;
};

struct ToolBarCase
{
    const char* szName;
    std::vector<UINT> vecButtons;
    XTRmTables tables;
    std::vector<UINT> vecExpectedShown;
    std::vector<std::vector<UINT>> vecExpectedLayouts;
};

void PrintTo(const ToolBarCase& c, std::ostream* os)
{
    *os << c.szName;
}

class ToolBarHiding : public ToolBarFixture, public testing::WithParamInterface<ToolBarCase>
{
};

TEST_P(ToolBarHiding, HidesButtonsOfHiddenCommandsFromLastToFirst)
{
    const ToolBarCase& c = GetParam();
    SetButtons(c.vecButtons);

    XTRmTableRestrictions(c.tables).HideToolBarButtons(&m_toolBar);

    EXPECT_EQ(ShownItems(), c.vecExpectedShown);
    EXPECT_EQ(m_toolBar.m_vecHiddenAtLayout, c.vecExpectedLayouts);
    ExpectNoGaps();
    for (UINT nId : c.vecButtons)
    {
        if (nId != 0)
        {
            EXPECT_TRUE(IsEnabled(nId)) << "button " << nId << " greyed by hiding";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolBarHiding,
    testing::Values(ToolBarCase{"NoButtons", {}, {{1}, {}, {}, {}}, {}, {}},
        ToolBarCase{"NothingHidden", {1, 2, 0, 3}, {{}, {2}, {}, {}}, {1, 2, 0, 3}, {}},
        ToolBarCase{"MiddleButtons", {1, 2, 0, 3, 4, 0, 5}, {{2, 4}, {3}, {}, {}}, {1, 0, 3, 0, 5}, {{4}, {2, 4}}},
        ToolBarCase{
            "WholeGroupTakesItsSeparator", {1, 2, 0, 3, 4, 0, 5}, {{3, 4}, {}, {}, {}}, {1, 2, 0, 5}, {{4}, {3, 4}}},
        ToolBarCase{"LeadingAndTrailingGroups", {1, 0, 2, 0, 3}, {{1, 3}, {}, {}, {}}, {2}, {{3}, {1, 3}}},
        ToolBarCase{"Everything", {1, 0, 2}, {{1, 2}, {}, {}, {}}, {}, {{2}, {1, 2}}},
        ToolBarCase{"SeveralButtonsOfOneCommand", {1, 2, 0, 1}, {{1}, {}, {}, {}}, {2}, {{1, 1}, {1, 1}}}),
    [](const testing::TestParamInfo<ToolBarCase>& info) { return std::string(info.param.szName); });

TEST_F(ToolBarFixture, ShowingAButtonAgainBringsBackItsSeparator)
{
    SetButtons({1, 0, 2});
    Gui::HideToolBarButton(&m_toolBar, 2, true);
    EXPECT_THAT(ShownItems(), ElementsAre(1u));
    Gui::HideToolBarButton(&m_toolBar, 2, false);
    EXPECT_THAT(ShownItems(), ElementsAre(1u, 0u, 2u));
    ExpectNoGaps();
    EXPECT_FALSE(Gui::HideToolBarButton(&m_toolBar, 9, true));
}

TEST_F(ToolBarFixture, LoadsButtonsFromTheResources)
{
    // The reference resources carry the demo host's toolbar.
    ASSERT_TRUE(m_toolBar.LoadToolBar(IDR_XTRM_DEMO_MAINFRAME));
    ASSERT_GT(m_toolBar.GetCount(), 2);
    const std::vector<UINT> vecShown = ShownItems();
    ASSERT_EQ(vecShown.size(), static_cast<size_t>(m_toolBar.GetCount()));
    for (int i = 0; i < m_toolBar.GetCount(); ++i)
        EXPECT_EQ(m_toolBar.GetItemID(i), vecShown[i]);
    EXPECT_NE(std::find(vecShown.begin(), vecShown.end(), 0u), vecShown.end()) << "no separator";
}

// Update handlers of the frame run for the toolbar's buttons as for menus.
class XTRmToolBarHostFrame : public CFrameWnd
{
public:
    const XTRmRestrictionsMenu* m_pRestrictions = nullptr;

protected:
    void OnCommandAny(UINT) {}
    void OnUpdateRestricted(CCmdUI* pCmdUI) { m_pRestrictions->Disable(pCmdUI->m_nID, pCmdUI); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(XTRmToolBarHostFrame, CFrameWnd)
ON_COMMAND_RANGE(1, 2, &XTRmToolBarHostFrame::OnCommandAny)
ON_UPDATE_COMMAND_UI_RANGE(1, 3, &XTRmToolBarHostFrame::OnUpdateRestricted)
END_MESSAGE_MAP()

TEST(ToolBarUpdate, IdlePassGreysDisabledAndUnhandledCommands)
{
    XTRmTableRestrictions restrictions({{}, {1}, {}, {}});
    XTRmToolBarHostFrame* pFrame = new XTRmToolBarHostFrame;
    pFrame->m_pRestrictions = &restrictions;
    ASSERT_TRUE(pFrame->Create(nullptr, L"Toolbar update", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CRect(0, 0, 400, 150)));
    CMFCToolBar toolBar;
    ASSERT_TRUE(toolBar.Create(pFrame));
    const UINT ids[] = {1, 2, 0, 3, 4};
    toolBar.SetButtons(ids, 5);

    // As the idle loop does after each message.
    toolBar.SendMessage(WM_IDLEUPDATECMDUI, TRUE);

    // 1 disabled by the restrictions, 2 free, 3 and 4 without a command handler.
    std::vector<bool> vecEnabled;
    for (UINT nId : {1u, 2u, 3u, 4u})
        vecEnabled.push_back(toolBar.SendMessage(TB_ISBUTTONENABLED, nId) != 0);
    EXPECT_THAT(vecEnabled, ElementsAre(false, true, false, false));
    EXPECT_TRUE(toolBar.GetButtonStyle(0) & TBBS_DISABLED);

    toolBar.DestroyWindow();
    pFrame->DestroyWindow();
}
} // namespace
