// Registration of commands and popups against rights, and the four tables.
#include "XTRmMenuLayout.h"
#include "XTRmsScriptedService.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace
{
using HostRestrictions = XTRmHostRestrictions;

enum class Table
{
    HiddenCommands,
    DisabledCommands,
    HiddenPopups,
    DisabledPopups
};

// One registration operation per table and overload, so every case runs
// against all twelve.
struct Registrar
{
    Table table;
    // The rule is a list of rights, one right, or a fixed answer: each table
    // has the three overloads.
    template <class Rule>
    void Register(HostRestrictions& r, const Rule& rule) const
    {
        switch (table)
        {
        case Table::HiddenCommands:
            r.CommandHide(100u, rule);
            break;
        case Table::DisabledCommands:
            r.CommandDisable(100u, rule);
            break;
        case Table::HiddenPopups:
            r.MenuPopupHide(L"&Tools", rule);
            break;
        case Table::DisabledPopups:
            r.MenuPopupDisable(L"&Tools", rule);
            break;
        }
    }
    // Which of the four queries answer true for the registered key.
    static std::vector<bool> Queries(const HostRestrictions& r)
    {
        return {r.IsCommandHidden(100u), r.IsCommandDisabled(100u), r.IsMenuPopupHidden(L"&Tools"),
            r.IsMenuPopupDisabled(L"&Tools")};
    }
    std::vector<bool> Only() const
    {
        std::vector<bool> result(4, false);
        result[static_cast<size_t>(table)] = true;
        return result;
    }
};

const std::vector<bool> kNone(4, false);

class RegistrationTest : public testing::TestWithParam<Table>
{
protected:
    XTRmsScriptedService service;
    HostRestrictions restrictions{&service};
    Registrar registrar{GetParam()};
};
} // namespace

// A list needs every right, asked in order up to the first one missing.
TEST_P(RegistrationTest, ListNeedsEveryRightAndStopsAtTheFirstMissingOne)
{
    struct Row
    {
        std::set<int> setDenied;
        std::vector<int> vecRights;
        bool bRestricted;
        std::vector<std::wstring> vecCalls;
    };
    const Row rows[] = {
        {{}, {}, false, {}},
        {{2}, {1, 2, 3}, true, {L"GetIsAllowed(1)", L"GetIsAllowed(2)"}},
        {{}, {7, 3, 5}, false, {L"GetIsAllowed(7)", L"GetIsAllowed(3)", L"GetIsAllowed(5)"}},
    };
    for (const Row& row : rows)
    {
        restrictions.Clear();
        service.vecCalls.clear();
        service.setDeniedRights = row.setDenied;
        registrar.Register(restrictions, row.vecRights);
        EXPECT_EQ(Registrar::Queries(restrictions), row.bRestricted ? registrar.Only() : kNone);
        EXPECT_EQ(service.vecCalls, row.vecCalls);
    }
}

TEST_P(RegistrationTest, SingleRightAsksOnce)
{
    registrar.Register(restrictions, 4);
    EXPECT_EQ(Registrar::Queries(restrictions), kNone);
    service.setDeniedRights = {4};
    registrar.Register(restrictions, 4);
    EXPECT_EQ(Registrar::Queries(restrictions), registrar.Only());
    EXPECT_EQ(service.vecCalls, (std::vector<std::wstring>{L"GetIsAllowed(4)", L"GetIsAllowed(4)"}));
}

TEST_P(RegistrationTest, FlagNeverAsksTheService)
{
    registrar.Register(restrictions, false);
    EXPECT_EQ(Registrar::Queries(restrictions), kNone);
    registrar.Register(restrictions, true);
    EXPECT_EQ(Registrar::Queries(restrictions), registrar.Only());
    EXPECT_TRUE(service.vecCalls.empty());
}

TEST_P(RegistrationTest, RegistrationsCombineByAnyOf)
{
    service.setDeniedRights = {9};
    registrar.Register(restrictions, 9);
    registrar.Register(restrictions, 9); // held once, still restricted
    service.setDeniedRights.clear();
    registrar.Register(restrictions, std::vector<int>{1, 2});
    registrar.Register(restrictions, false);
    EXPECT_EQ(Registrar::Queries(restrictions), registrar.Only());
}

TEST_P(RegistrationTest, ClearEmptiesAndLaterRegistrationsAskTheSameService)
{
    registrar.Register(restrictions, true);
    restrictions.Clear();
    EXPECT_EQ(Registrar::Queries(restrictions), kNone);
    service.setDeniedRights = {3};
    registrar.Register(restrictions, 3);
    EXPECT_EQ(Registrar::Queries(restrictions), registrar.Only());
    EXPECT_EQ(service.CountCalls(L"GetIsAllowed"), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllTables, RegistrationTest,
    testing::Values(Table::HiddenCommands, Table::DisabledCommands, Table::HiddenPopups, Table::DisabledPopups));

TEST(RestrictionTables, PopupNamesAreComparedWholeAndCaseSensitively)
{
    XTRmsScriptedService service;
    HostRestrictions restrictions(&service);
    restrictions.MenuPopupHide(L"&Tools", true);
    restrictions.MenuPopupDisable(L"&Export\tCtrl+E", true);
    EXPECT_TRUE(restrictions.IsMenuPopupHidden(L"&Tools"));
    for (const wchar_t* pszOther : {L"Tools", L"&tools", L"&Tools ", L"T&ools", L""})
        EXPECT_FALSE(restrictions.IsMenuPopupHidden(pszOther)) << pszOther;
    EXPECT_TRUE(restrictions.IsMenuPopupDisabled(L"&Export\tCtrl+E"));
    EXPECT_FALSE(restrictions.IsMenuPopupDisabled(L"&Export"));
}

TEST(RestrictionTables, CommandIdsAreExactKeysIncludingTheExtremes)
{
    XTRmsScriptedService service;
    HostRestrictions restrictions(&service);
    for (unsigned int nId : {0u, 1u, 0xFFFFu, 0x10000u, 0xFFFFFFFFu})
        restrictions.CommandHide(nId, true);
    for (unsigned int nId : {0u, 1u, 0xFFFFu, 0x10000u, 0xFFFFFFFFu})
        EXPECT_TRUE(restrictions.IsCommandHidden(nId)) << nId;
    EXPECT_FALSE(restrictions.IsCommandHidden(2u));
    EXPECT_FALSE(restrictions.IsCommandHidden(0xFFFEu));
}

TEST(RestrictionTables, CopyAnswersLikeItsSourceAndOutlivesIt)
{
    XTRmsScriptedService service;
    service.setDeniedRights = {5};
    auto source = std::make_unique<HostRestrictions>(&service);
    source->CommandHide(10u, 5);
    source->CommandDisable(11u, true);
    source->MenuPopupHide(L"&Admin", std::vector<int>{1, 5});
    source->MenuPopupDisable(L"&View", true);

    HostRestrictions copy(*source);
    HostRestrictions assigned(&service);
    assigned.CommandHide(99u, true);
    assigned = *source;
    HostRestrictions& alias = *source;
    *source = alias; // assigned to itself, it keeps its tables
    EXPECT_TRUE(source->IsCommandHidden(10u) && source->IsMenuPopupDisabled(L"&View"));
    source.reset();

    for (const HostRestrictions* p : {&copy, &assigned})
    {
        EXPECT_TRUE(p->IsCommandHidden(10u));
        EXPECT_FALSE(p->IsCommandHidden(99u));
        EXPECT_TRUE(p->IsCommandDisabled(11u));
        EXPECT_TRUE(p->IsMenuPopupHidden(L"&Admin"));
        EXPECT_TRUE(p->IsMenuPopupDisabled(L"&View"));
    }
    // Both share the service: a later registration asks it.
    copy.CommandDisable(12u, 5);
    EXPECT_TRUE(copy.IsCommandDisabled(12u));
    EXPECT_FALSE(assigned.IsCommandDisabled(12u));
}

TEST(RestrictionTables, NullServiceIsFineForFlagsEmptyListsQueriesAndClear)
{
    HostRestrictions restrictions(nullptr);
    restrictions.CommandHide(1u, true);
    restrictions.CommandDisable(2u, std::vector<int>{});
    restrictions.MenuPopupHide(L"&X", false);
    EXPECT_TRUE(restrictions.IsCommandHidden(1u));
    EXPECT_FALSE(restrictions.IsCommandDisabled(2u));
    EXPECT_TRUE(restrictions.GetIsAllowed({}));
    HostRestrictions copy(restrictions);
    restrictions.Clear();
    EXPECT_FALSE(restrictions.IsCommandHidden(1u));
    EXPECT_TRUE(copy.IsCommandHidden(1u));
}
