// Menus adapted to the restriction tables, on real Win32 menus: what the user
// sees afterwards (items, popups, greyed state, separators), the update
// handlers of a real frame, and random menus checked against the properties a
// user relies on.
#include <afxwin.h>

#include "XTGuiLibrary.h"
#include "XTRmDemoIds.h"
#include "XTRmMenuLayout.h"
#include "XTRmRecordingCmdUI.h"
#include "XTRmsScriptedService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
struct AdaptationCase
{
    const char* szName;
    std::wstring strMenu;
    XTRmTables tables;
    std::wstring strExpected;
};

void PrintTo(const AdaptationCase& c, std::ostream* os)
{
    *os << c.szName;
}

class MenuAdaptation : public testing::TestWithParam<AdaptationCase>
{
};

TEST_P(MenuAdaptation, LeavesWhatTheUserMaySee)
{
    const AdaptationCase& c = GetParam();
    CMenu menu;
    ASSERT_TRUE(menu.Attach(BuildMenu(c.strMenu)));
    XTRmTableRestrictions restrictions(c.tables);

    restrictions.AdaptToRestrictions(&menu);

    EXPECT_EQ(DumpMenu(menu.GetSafeHmenu()), c.strExpected);
}

const std::wstring kLongName(300, L'x');
// Either side of the 128 characters that the walk once read in one go.
const std::wstring kName127(127, L'n');
const std::wstring kName128(128, L'n');
const std::wstring kName129(129, L'n');
// A command standing more than once, as hosts do (Print in File and again on
// the bar, in a submenu and beside it): every occurrence must be adapted where
// it stands, the first one in the tree being no different from the others.
const std::wstring kRepeatedPrint =
    L"&File{&Print=5|Sub{Print=5|Print=5|A=1}|-|E&xit=2}|Print=5|G{B=2|Deeper{Print=5}}";

INSTANTIATE_TEST_SUITE_P(Cases, MenuAdaptation,
    testing::Values(AdaptationCase{"EmptyMenu", L"", {}, L""},
        AdaptationCase{"NothingRegistered", L"&File{&New=1|-|E&xit=2}|Help=3", {}, L"&File{&New=1|-|E&xit=2}|Help=3"},
        AdaptationCase{"HiddenAndDisabledCommandsAtEveryDepth",
            L"&File{&New=1|Open=2|Recent{One=3|Two=4|Deeper{Three=5|Four=6}}}|Help=7", {{2, 6, 7}, {3, 5}, {}, {}},
            L"&File{&New=1|Recent{~One=3|Two=4|Deeper{~Three=5}}}"},
        AdaptationCase{"CommandInBothTablesIsDeletedNotGreyed", L"F{A=1|B=2}", {{1}, {1, 2}, {}, {}}, L"F{~B=2}"},
        AdaptationCase{"PopupHiddenByNameAtAnyDepth", L"F{A=1|Sub{B=2}|G{Sub{C=3}|D=4}}", {{}, {}, {L"Sub"}, {}},
            L"F{A=1|G{D=4}}"},
        AdaptationCase{"PopupInBothTablesIsDeleted", L"F{A=1}|G{B=2}", {{}, {}, {L"F"}, {L"F"}}, L"G{B=2}"},
        AdaptationCase{"DisabledPopupIsGreyedAndLeftAsItWas", L"Admin{Users=1|Rights=2|Sub{Other=3}}|F{Users2=4}",
            {{1, 4}, {2}, {L"Sub"}, {L"Admin"}}, L"~Admin{Users=1|Rights=2|Sub{Other=3}}"},
        AdaptationCase{"PopupEmptiedByHiddenCommandsIsRemoved", L"F{A=1|B=2}|G{C=3}", {{1, 2}, {}, {}, {}}, L"G{C=3}"},
        AdaptationCase{"EmptyingCascadesUpwards", L"F{Sub{Deeper{A=1}|-}|-}|G{B=2}", {{1}, {}, {}, {}}, L"G{B=2}"},
        AdaptationCase{"PopupWithNothingButSeparatorsIsRemoved", L"F{-|-}|G{}|H=1", {}, L"H=1"},
        AdaptationCase{"NamesAreComparedWholeCaseAndAmpersandIncluded",
            L"&File{A=1}|Edit{B=2}|&View{C=3}|Tools\tAlt+T{D=4}|Tools{E=5}",
            {{}, {}, {L"File", L"edit", L"&View", L"Tools"}, {}}, L"&File{A=1}|Edit{B=2}|Tools\tAlt+T{D=4}"},
        AdaptationCase{"LongPopupName", L"F{A=1}|" + kLongName + L"{B=2}|" + kLongName + L"y{C=3}",
            {{}, {}, {kLongName}, {}}, L"F{A=1}|" + kLongName + L"y{C=3}"},
        AdaptationCase{"PopupNamesAroundTheOldBufferSize",
            L"F{A=1}|" + kName127 + L"{B=2}|" + kName128 + L"{C=3}|" + kName129 + L"{D=4}|Fx{E=5}",
            {{}, {}, {L"F", kName128}, {kName127}}, L"~" + kName127 + L"{B=2}|" + kName129 + L"{D=4}|Fx{E=5}"},
        AdaptationCase{
            "RepeatedHiddenIdGoneAtEveryDepth", kRepeatedPrint, {{5}, {}, {}, {}}, L"&File{Sub{A=1}|-|E&xit=2}|G{B=2}"},
        AdaptationCase{"RepeatedDisabledIdGreyedAtEveryDepth", kRepeatedPrint, {{}, {5}, {}, {}},
            L"&File{~&Print=5|Sub{~Print=5|~Print=5|A=1}|-|E&xit=2}|~Print=5|G{B=2|Deeper{~Print=5}}"},
        AdaptationCase{"RepeatedIdsOfBothTablesInterleaved", L"F{Save=6|Sub{Print=5|Save=6}}|Save=6|Print=5",
            {{5}, {6}, {}, {}}, L"F{~Save=6|Sub{~Save=6}}|~Save=6"},
        AdaptationCase{"RepeatedHiddenIdBesideADisabledPopup", L"Admin{Print=5|Save=6}|Print=5|G{Print=5|B=2}",
            {{5}, {6}, {}, {L"Admin"}}, L"~Admin{Print=5|Save=6}|G{B=2}"},
        AdaptationCase{"RepeatedDisabledIdBesideADisabledPopup", L"Admin{Print=5|Sub{Print=5}}|Print=5",
            {{}, {5}, {}, {L"Admin"}}, L"~Admin{Print=5|Sub{Print=5}}|~Print=5"},
        AdaptationCase{
            "RepeatedHiddenIdBesideAHiddenPopup", L"Old{Print=5|B=2}|Print=5|C=3", {{5}, {}, {L"Old"}, {}}, L"C=3"},
        AdaptationCase{"RepeatedDisabledIdBesideAHiddenPopup", L"Old{Print=5}|Print=5|F{Print=5}",
            {{}, {5}, {L"Old"}, {}}, L"~Print=5|F{~Print=5}"},
        AdaptationCase{"SeparatorsLeftOverAreCleanedAtEachLevel",
            L"F{A=1|-|B=2|-|C=3|-|D=4}|-|G{-|E=5|-|-|F=6|-}|-|H=7", {{2, 4, 7}, {}, {}, {}},
            L"F{A=1|-|C=3}|-|G{E=5|-|F=6}"}),
    [](const testing::TestParamInfo<AdaptationCase>& info) { return std::string(info.param.szName); });

TEST(MenuAdaptationOnce, NeverEnablesWhatTheMenuAlreadyGreyed)
{
    CMenu menu;
    menu.Attach(BuildMenu(L"F{A=1|B=2}"));
    ::EnableMenuItem(menu.GetSafeHmenu(), 2, MF_BYCOMMAND | MF_GRAYED);
    XTRmTableRestrictions({}).AdaptToRestrictions(&menu);
    EXPECT_EQ(DumpMenu(menu.GetSafeHmenu()), L"F{A=1|~B=2}");
}

TEST(MenuAdaptationOnce, AsksTheRightsServiceOnlyWhileRegistering)
{
    XTRmsScriptedService service;
    service.setDeniedRights = {10, 11};
    XTRmTableRestrictions restrictions({}, &service);
    restrictions.CommandHide(1, 10);
    restrictions.CommandDisable(2, 11);
    restrictions.MenuPopupHide(L"G", std::vector<int>{12, 10});
    service.vecCalls.clear();

    CMenu menu;
    menu.Attach(BuildMenu(L"F{A=1|B=2|C=3}|G{D=4}"));
    restrictions.AdaptToRestrictions(&menu);
    XTRmRecordingCmdUI cmdUI(2);
    restrictions.Disable(2, &cmdUI);

    EXPECT_EQ(DumpMenu(menu.GetSafeHmenu()), L"F{~B=2|C=3}");
    EXPECT_THAT(service.vecCalls, IsEmpty());
}

TEST(MenuAdaptationOnce, WorksOnAMenuLoadedFromTheResources)
{
    // The reference resources carry the demo host's main menu.
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_XTRM_DEMO_MAINFRAME));
    const std::wstring strBefore = DumpMenu(menu.GetSafeHmenu());
    ASSERT_NE(strBefore.find(L"&Administration{"), std::wstring::npos);

    XTRmTableRestrictions({{}, {}, {L"&Administration"}, {}}).AdaptToRestrictions(&menu);

    const std::wstring strAfter = DumpMenu(menu.GetSafeHmenu());
    EXPECT_EQ(strAfter.find(L"&Administration"), std::wstring::npos);
    EXPECT_NE(strAfter.find(L"&File{"), std::wstring::npos);
}

// ---------------------------------------------------------------------------
// Command-update handlers

struct DisableCase
{
    const char* szName;
    XTRmTables tables;
    bool bExpected;
    std::vector<std::wstring> vecExpectedCalls;
};

class DisableForUpdateHandlers : public testing::TestWithParam<DisableCase>
{
};

TEST_P(DisableForUpdateHandlers, TouchesTheCmdUIOnlyForDisabledCommands)
{
    const DisableCase& c = GetParam();
    XTRmRecordingCmdUI cmdUI(7);
    EXPECT_EQ(XTRmTableRestrictions(c.tables).Disable(7, &cmdUI), c.bExpected);
    EXPECT_EQ(cmdUI.m_vecCalls, c.vecExpectedCalls);
}

INSTANTIATE_TEST_SUITE_P(Cases, DisableForUpdateHandlers,
    testing::Values(DisableCase{"Unregistered", {}, false, {}}, DisableCase{"OnlyHidden", {{7}, {}, {}, {}}, false, {}},
        DisableCase{"Disabled", {{}, {7}, {}, {}}, true, {L"Enable(FALSE)"}},
        DisableCase{"HiddenAndDisabled", {{7}, {7}, {}, {}}, true, {L"Enable(FALSE)"}},
        DisableCase{"OtherCommandDisabled", {{}, {8}, {}, {}}, false, {}}),
    [](const testing::TestParamInfo<DisableCase>& info) { return std::string(info.param.szName); });

// A host frame as a host writes it: command handlers, and update handlers that
// ask the restrictions.
class XTRmTestHostFrame : public CFrameWnd
{
public:
    explicit XTRmTestHostFrame(const XTRmTableRestrictions& restrictions) : m_restrictions(restrictions) {}

    const XTRmRestrictionsMenu& m_restrictions;
    std::vector<UINT> m_vecExecuted;

protected:
    void OnCommandOne() { m_vecExecuted.push_back(1); }
    void OnCommandTwo() { m_vecExecuted.push_back(2); }
    void OnUpdateRestricted(CCmdUI* pCmdUI) { m_restrictions.Disable(pCmdUI->m_nID, pCmdUI); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(XTRmTestHostFrame, CFrameWnd)
ON_COMMAND(1, &XTRmTestHostFrame::OnCommandOne)
ON_COMMAND(2, &XTRmTestHostFrame::OnCommandTwo)
ON_UPDATE_COMMAND_UI_RANGE(1, 3, &XTRmTestHostFrame::OnUpdateRestricted)
END_MESSAGE_MAP()

TEST(UpdateHandlers, GreyDisabledCommandsWhenThePopupOpensAndBlockThem)
{
    // 1: handled, disabled; 2: handled, free; 3: no command handler;
    // 4: neither handler.
    XTRmTableRestrictions restrictions({{}, {1}, {}, {}});
    XTRmTestHostFrame* pFrame = new XTRmTestHostFrame(restrictions);
    ASSERT_TRUE(pFrame->Create(nullptr, L"Update handlers"));
    CMenu menu;
    menu.Attach(BuildMenu(L"F{A=1|B=2|C=3|D=4|Sub{E=1}}"));
    pFrame->SetMenu(&menu);
    HMENU hPopup = ::GetSubMenu(menu.GetSafeHmenu(), 0);

    pFrame->SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(hPopup), MAKELPARAM(0, FALSE));
    // Popups are never greyed through the command of their first item.
    EXPECT_EQ(DumpMenu(hPopup), L"~A=1|B=2|~C=3|~D=4|Sub{E=1}");

    // A menu click or an accelerator of a disabled command does not run it.
    pFrame->SendMessage(WM_COMMAND, MAKEWPARAM(1, 0), 0);
    pFrame->SendMessage(WM_COMMAND, MAKEWPARAM(2, 0), 0);
    EXPECT_THAT(pFrame->m_vecExecuted, ElementsAre(2u));

    pFrame->SetMenu(nullptr);
    pFrame->DestroyWindow();
}

// ---------------------------------------------------------------------------
// Random menus and tables against the properties a user relies on.

struct ModelItem
{
    enum Kind
    {
        Separator,
        Command,
        Popup
    } kind;
    std::wstring strText;
    UINT nId = 0;
    std::vector<ModelItem> vecChildren;
};

const wchar_t* const kPopupNames[] = {L"&File", L"File", L"file", L"&Tools", L"Tools\tAlt+T", L"Admin", L"Sub"};

const UINT kFirstModelId = 100;

std::vector<ModelItem> RandomItems(std::mt19937& rng, int nDepth, UINT& nNextId)
{
    std::vector<ModelItem> vecItems(std::uniform_int_distribution<int>(0, 6)(rng));
    for (ModelItem& item : vecItems)
    {
        int nRoll = std::uniform_int_distribution<int>(0, 9)(rng);
        if (nRoll < 2)
        {
            item.kind = ModelItem::Separator;
        }
        else if (nRoll < 4 && nDepth < 4)
        {
            item.kind = ModelItem::Popup;
            item.strText = kPopupNames[std::uniform_int_distribution<int>(0, 6)(rng)];
            item.vecChildren = RandomItems(rng, nDepth + 1, nNextId);
        }
        else
        {
            // A third of the commands repeat an id already in the menu, at any
            // depth: each occurrence must be adapted where it stands.
            item.kind = ModelItem::Command;
            if (nNextId > kFirstModelId && std::uniform_int_distribution<int>(0, 2)(rng) == 0)
                item.nId = std::uniform_int_distribution<UINT>(kFirstModelId, nNextId - 1)(rng);
            else
                item.nId = nNextId++;
            item.strText = L"Cmd" + std::to_wstring(item.nId);
        }
    }
    return vecItems;
}

HMENU BuildModel(const std::vector<ModelItem>& vecItems, bool bPopup)
{
    HMENU hMenu = bPopup ? ::CreatePopupMenu() : ::CreateMenu();
    for (const ModelItem& item : vecItems)
    {
        if (item.kind == ModelItem::Separator)
            ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
        else if (item.kind == ModelItem::Command)
            ::AppendMenuW(hMenu, MF_STRING, item.nId, item.strText.c_str());
        else
            ::AppendMenuW(hMenu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(BuildModel(item.vecChildren, true)),
                item.strText.c_str());
    }
    return hMenu;
}

std::wstring DumpModel(const std::vector<ModelItem>& vecItems)
{
    std::wstring strDump;
    for (const ModelItem& item : vecItems)
    {
        if (!strDump.empty())
            strDump += L'|';
        if (item.kind == ModelItem::Separator)
            strDump += L'-';
        else if (item.kind == ModelItem::Command)
            strDump += item.strText + L'=' + std::to_wstring(item.nId);
        else
            strDump += item.strText + L'{' + DumpModel(item.vecChildren) + L'}';
    }
    return strDump;
}

// What the user finds in a menu: how often each command stands in it, and the
// contents of each popup greyed by name.
struct SeenMenu
{
    std::map<UINT, int> mapCommandCounts;
    std::multiset<std::wstring> setGreyedPopups;
};

// Walks the adapted menu, checking every level outside greyed popups, and
// collects what it sees.
void CheckAdaptedLevel(
    HMENU hMenu, const XTRmTableRestrictions& r, bool bInsideGreyedPopup, SeenMenu& seen, const std::string& strWhere)
{
    const int nCount = ::GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i)
    {
        wchar_t szText[128] = L"";
        ::GetMenuStringW(hMenu, static_cast<UINT>(i), szText, 128, MF_BYPOSITION);
        const UINT nState = ::GetMenuState(hMenu, static_cast<UINT>(i), MF_BYPOSITION);
        const bool bGreyed = (nState & MF_GRAYED) != 0;
        const UINT nId = ::GetMenuItemID(hMenu, i);
        const bool bSeparator = nId == 0;
        if (!bInsideGreyedPopup && bSeparator)
        {
            EXPECT_TRUE(i > 0 && i < nCount - 1) << strWhere << ": leading or trailing separator";
            EXPECT_NE(::GetMenuItemID(hMenu, i + 1), 0u) << strWhere << ": doubled separator";
        }
        if (nId == static_cast<UINT>(-1))
        {
            HMENU hSub = ::GetSubMenu(hMenu, i);
            if (!bInsideGreyedPopup)
            {
                EXPECT_FALSE(r.IsMenuPopupHidden(szText)) << strWhere;
                EXPECT_EQ(bGreyed, r.IsMenuPopupDisabled(szText)) << strWhere;
                // A popup disabled by name stays as it was, even when empty.
                if (bGreyed)
                    seen.setGreyedPopups.insert(szText + (L'{' + DumpMenu(hSub) + L'}'));
                else
                    EXPECT_GT(::GetMenuItemCount(hSub), 0) << strWhere << ": empty popup survived";
            }
            CheckAdaptedLevel(hSub, r, bInsideGreyedPopup || bGreyed, seen, strWhere);
        }
        else if (!bSeparator)
        {
            ++seen.mapCommandCounts[nId];
            if (!bInsideGreyedPopup)
            {
                EXPECT_FALSE(r.IsCommandHidden(nId)) << strWhere << ": command " << nId;
                EXPECT_EQ(bGreyed, r.IsCommandDisabled(nId)) << strWhere << ": command " << nId;
            }
        }
    }
}

// What must be left of the model: every occurrence of a command that no table
// touches, on a path of unrestricted popups, and every popup disabled by name
// as it was, whatever it holds.
void CollectExpected(
    const std::vector<ModelItem>& vecItems, const XTRmTableRestrictions& r, bool bInsideDisabled, SeenMenu& expected)
{
    for (const ModelItem& item : vecItems)
    {
        if (item.kind == ModelItem::Command && (bInsideDisabled || !r.IsCommandHidden(item.nId)))
            ++expected.mapCommandCounts[item.nId];
        if (item.kind != ModelItem::Popup || r.IsMenuPopupHidden(item.strText))
            continue;
        const bool bDisabled = r.IsMenuPopupDisabled(item.strText);
        if (bDisabled && !bInsideDisabled)
            expected.setGreyedPopups.insert(item.strText + L'{' + DumpModel(item.vecChildren) + L'}');
        CollectExpected(item.vecChildren, r, bInsideDisabled || bDisabled, expected);
    }
}

TEST(MenuAdaptationModel, RandomMenusKeepTheirPromises)
{
    std::mt19937 rng(20240607);
    for (int nRound = 0; nRound < 300; ++nRound)
    {
        UINT nNextId = kFirstModelId;
        std::vector<ModelItem> vecModel = RandomItems(rng, 0, nNextId);
        XTRmTables tables;
        std::uniform_int_distribution<int> roll(0, 3);
        for (UINT nId = kFirstModelId; nId < nNextId; ++nId)
        {
            if (roll(rng) == 0)
                tables.vecHiddenCommands.push_back(nId);
            if (roll(rng) == 0)
                tables.vecDisabledCommands.push_back(nId);
        }
        for (const wchar_t* szName : kPopupNames)
        {
            if (roll(rng) == 0)
                tables.vecHiddenPopups.push_back(szName);
            if (roll(rng) == 0)
                tables.vecDisabledPopups.push_back(szName);
        }
        XTRmTableRestrictions restrictions(tables);

        CMenu menu;
        menu.Attach(BuildModel(vecModel, false));
        restrictions.AdaptToRestrictions(&menu);

        const std::string strWhere = "round " + std::to_string(nRound);
        SeenMenu seen;
        CheckAdaptedLevel(menu.GetSafeHmenu(), restrictions, false, seen, strWhere);
        SeenMenu expected;
        CollectExpected(vecModel, restrictions, false, expected);
        EXPECT_EQ(seen.mapCommandCounts, expected.mapCommandCounts) << strWhere;
        EXPECT_EQ(seen.setGreyedPopups, expected.setGreyedPopups) << strWhere;
        if (HasFailure())
            break;
    }
}

// ---------------------------------------------------------------------------
// Separator clean-up on its own

class SeparatorCleanUp : public testing::TestWithParam<std::pair<std::wstring, std::wstring>>
{
};

TEST_P(SeparatorCleanUp, LeavesOnlySeparatorsBetweenItems)
{
    CMenu menu;
    menu.Attach(BuildMenu(GetParam().first, true));
    XTGuiMenuUtils::CleanUpSeparators(&menu);
    EXPECT_EQ(DumpMenu(menu.GetSafeHmenu()), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Cases, SeparatorCleanUp,
    testing::Values(std::make_pair(L"", L""), std::make_pair(L"-", L""), std::make_pair(L"-|-|-", L""),
        std::make_pair(L"A=1|-|B=2", L"A=1|-|B=2"), std::make_pair(L"-|A=1|-", L"A=1"),
        std::make_pair(L"A=1|-|-|-|B=2|-|-|C=3", L"A=1|-|B=2|-|C=3"),
        // A popup's state word carries its item count where MF_SEPARATOR
        // would be: a popup of eight items is no separator.
        std::make_pair(L"-|P{A=1|B=2|C=3|D=4|E=5|F=6|G=7|H=8}|-", L"P{A=1|B=2|C=3|D=4|E=5|F=6|G=7|H=8}")));
} // namespace
