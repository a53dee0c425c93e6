// What XTRm's restrictions cost a host: Disable in every update pass against
// a bare hash-set probe, against the same probe and Enable written inline, and
// against asking the rights service directly; registration, the menu walk (up
// to 10,000 items in one popup) and toolbar hiding at growing sizes. The rights
// service's own figures are in XTRmsBench.cpp, its load run in
// XTRmsBenchLoad.cpp.
#define CATCH_CONFIG_RUNNER
#define CATCH_CONFIG_ENABLE_BENCHMARKING
#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmBenchHost.h"
#include "XTRmsBenchLoad.h"

#include "catch.hpp"

#include <boost/unordered_set.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace
{
// Ids the update handlers ask for, mixed so that every other one is disabled.
std::vector<unsigned int> UpdateIds()
{
    std::vector<unsigned int> vecIds;
    for (unsigned int i = 0; i < 64; ++i)
        vecIds.push_back(kFirstCommand + i * 7);
    return vecIds;
}

// A command-update object that shows nothing, so that only the decision is
// measured (the real menu or button update is the same with or without XTRm).
class NullCmdUI : public CCmdUI
{
public:
    void Enable(BOOL bOn) override { m_bEnableChanged = bOn ? TRUE : FALSE; }
};
} // namespace

TEST_CASE("Disable in an update handler")
{
    XTRmBenchRightsService service(/*nRights*/ 200, /*nDeniedEvery*/ 2);
    XTRmBenchRestrictions restrictions(&service);
    restrictions.RegisterCommands(/*nCommands*/ 500, /*nRightsUsed*/ 200);
    const std::vector<unsigned int> vecIds = UpdateIds();
    NullCmdUI cmdUI;

    boost::unordered_set<unsigned int> setProbe;
    for (unsigned int nId : vecIds)
    {
        if (restrictions.IsCommandDisabled(nId))
            setProbe.insert(nId);
    }

    BENCHMARK_ADVANCED("bare hash-set probe")(Catch::Benchmark::Chronometer meter)
    {
        meter.measure([&](int i) { return setProbe.find(vecIds[i & 63]) != setProbe.end(); });
    };
    BENCHMARK_ADVANCED("Disable")(Catch::Benchmark::Chronometer meter)
    {
        meter.measure([&](int i) { return restrictions.Disable(vecIds[i & 63], &cmdUI); });
    };
    // What Disable does, written inline in the handler: the probe, then the
    // virtual Enable on a hit. The CCmdUI comes through a pointer the compiler
    // cannot see through, as a handler's argument does.
    CCmdUI* volatile pHandlerCmdUI = &cmdUI;
    BENCHMARK_ADVANCED("fair baseline: probe, then Enable on a hit")(Catch::Benchmark::Chronometer meter)
    {
        meter.measure([&](int i) {
            const bool bHit = setProbe.find(vecIds[i & 63]) != setProbe.end();
            if (bHit)
                pHandlerCmdUI->Enable(FALSE);
            return bHit;
        });
    };
    BENCHMARK_ADVANCED("baseline: handler asks the rights service")(Catch::Benchmark::Chronometer meter)
    {
        // What a host writes without XTRm: one service call per handler call.
        meter.measure([&](int i) {
            bool bAllowed = service.GetIsAllowed(XTRmBenchRestrictions::RightOf(vecIds[i & 63], 200));
            if (!bAllowed)
                cmdUI.Enable(FALSE);
            return bAllowed;
        });
    };
}

TEST_CASE("Registration of N commands")
{
    XTRmBenchRightsService service(200, 2);
    for (int nCommands : {100, 1000, 10000})
    {
        // The tables' own share: the same insertions into bare hash sets.
        BENCHMARK_ADVANCED(BenchName("bare hash sets filled alike", nCommands))(Catch::Benchmark::Chronometer meter)
        {
            meter.measure([&] {
                boost::unordered_set<unsigned int> setHidden;
                boost::unordered_set<unsigned int> setDisabled;
                for (int i = 0; i < nCommands; ++i)
                {
                    const unsigned int nId = kFirstCommand + static_cast<unsigned int>(i);
                    if (nId % 2 == 0)
                        setHidden.insert(nId);
                    else
                        setDisabled.insert(nId);
                }
                return setHidden.size() + setDisabled.size();
            });
        };
        BENCHMARK_ADVANCED(BenchName("registration (one right each)", nCommands))(Catch::Benchmark::Chronometer meter)
        {
            meter.measure([&] {
                XTRmBenchRestrictions restrictions(&service);
                restrictions.RegisterCommands(nCommands, 200);
                return restrictions.IsCommandHidden(kFirstCommand);
            });
        };
    }
}

namespace
{
// Adapts a fresh copy of the menu per run; building it is not measured.
void BenchmarkAdaptation(const std::string& strGroup, const XTRmBenchMenuShape& shape, bool bHideToo = true)
{
    // A tenth of the commands hidden (unless bHideToo is false), another
    // tenth disabled.
    XTRmBenchRightsService service(200, 10);
    XTRmBenchRestrictions restrictions(&service);
    if (bHideToo)
        restrictions.RegisterCommands(shape.nCommands, 200);
    else
        restrictions.RegisterCommandsDisabledOnly(shape.nCommands, 200);
    restrictions.RegisterPopupsUnused();

    BENCHMARK_ADVANCED(BenchName(strGroup, shape.nItems))(Catch::Benchmark::Chronometer meter)
    {
        std::vector<CMenu> vecMenus(static_cast<size_t>(meter.runs()));
        for (CMenu& menu : vecMenus)
            menu.Attach(BuildBenchMenu(shape));
        meter.measure([&](int i) { restrictions.AdaptToRestrictions(&vecMenus[static_cast<size_t>(i)]); });
        CMenu::DeleteTempMap();
    };
}
} // namespace

TEST_CASE("AdaptToRestrictions")
{
    // About ten items per popup, as real menus have: more items, more levels.
    for (int nLevels : {2, 3, 4})
        BenchmarkAdaptation("AdaptToRestrictions, ~10 items per popup", XTRmBenchMenuShape::Bounded(nLevels));
    // Ten popups of ever more items.
    for (int nPerPopup : {10, 100, 1000})
        BenchmarkAdaptation("AdaptToRestrictions, 10 popups of growing width", XTRmBenchMenuShape::Wide(nPerPopup));
    // One popup up to 10,000 items: each item costs the walk the same wherever
    // it stands; what grows faster is Win32 deleting in the middle of it.
    for (int nItems : {10, 100, 1000, 10000})
        BenchmarkAdaptation("AdaptToRestrictions, one popup of n items", XTRmBenchMenuShape::OnePopup(nItems));
    // The same without hidden commands: what is left when Win32 deletes
    // nothing in the middle of the popup.
    for (int nItems : {10, 100, 1000, 10000})
    {
        BenchmarkAdaptation(
            "AdaptToRestrictions, one popup of n items, greyed only", XTRmBenchMenuShape::OnePopup(nItems), false);
    }
}

TEST_CASE("HideToolBarButtons")
{
    XTRmBenchRightsService service(200, 10);
    XTRmBenchRestrictions restrictions(&service);
    restrictions.RegisterCommands(10000, 200);
    XTRmBenchParentWindow parent;

    for (int nButtons : {100, 1000})
    {
        BENCHMARK_ADVANCED(BenchName("HideToolBarButtons", nButtons))(Catch::Benchmark::Chronometer meter)
        {
            std::vector<std::unique_ptr<CMFCToolBar>> vecBars;
            for (int i = 0; i < meter.runs(); ++i)
                vecBars.push_back(BuildBenchToolBar(parent, nButtons));
            meter.measure([&](int i) { restrictions.HideToolBarButtons(vecBars[static_cast<size_t>(i)].get()); });
        };
    }
}

// ---------------------------------------------------------------------------
// A summary after Catch2's own report: each benchmark's median and fastest
// sample and, for the ones measured at several sizes, how the cost grows.

namespace
{
struct SummaryListener : Catch::TestEventListenerBase
{
    using TestEventListenerBase::TestEventListenerBase;

    void benchmarkEnded(Catch::BenchmarkStats<> const& stats) override
    {
        std::vector<double> vecSamples;
        for (const auto& sample : stats.samples)
            vecSamples.push_back(sample.count());
        std::sort(vecSamples.begin(), vecSamples.end());
        if (!vecSamples.empty())
            XTRmBenchResults().push_back({stats.info.name, vecSamples[vecSamples.size() / 2], vecSamples.front()});
    }

    // On a machine shared with other work, a sample that lasts milliseconds
    // is likely to be preempted: the fastest sample is the least disturbed,
    // so growth is reckoned from it.
    void testRunEnded(Catch::TestRunStats const&) override
    {
        std::printf("\n=== Summary per call: median, fastest sample, growth of the fastest ===\n");
        std::map<std::string, std::pair<long, double>> mapPrevious;
        for (const XTRmBenchResult& result : XTRmBenchResults())
        {
            std::string strGroup;
            long nSize = 0;
            SplitBenchName(result.strName, &strGroup, &nSize);
            std::printf("%-58s %11s %11s", result.strName.c_str(), FormatNanoseconds(result.dMedian).c_str(),
                FormatNanoseconds(result.dFastest).c_str());
            auto it = mapPrevious.find(strGroup);
            if (nSize > 0 && it != mapPrevious.end())
            {
                std::printf("   %.1fx size: %.1fx time", static_cast<double>(nSize) / it->second.first,
                    result.dFastest / it->second.second);
            }
            std::printf("\n");
            if (nSize > 0)
                mapPrevious[strGroup] = {nSize, result.dFastest};
        }
    }
};
} // namespace

CATCH_REGISTER_LISTENER(SummaryListener)

namespace
{
CWinApp theBenchApp(L"XTRm Bench");
}

int main(int argc, char* argv[])
{
    // The load run of the rights service is a mode of its own, without Catch2.
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0)
        return XTRmsRunLoad(argv[2]);
    AfxWinInit(::GetModuleHandleW(nullptr), nullptr, ::GetCommandLineW(), SW_HIDE);
    Catch::Session session;
    // Fewer samples and resamples than Catch2's defaults keep `make bench`
    // within a few minutes; the command line can ask for more.
    session.configData().benchmarkSamples = 50;
    session.configData().benchmarkResamples = 10000;
    int nResult = session.applyCommandLine(argc, argv);
    if (nResult != 0)
        return nResult;
    return session.run();
}
