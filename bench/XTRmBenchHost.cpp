#include "XTRmBenchHost.h"

#include "XTRmsBenchStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

std::string BenchName(const std::string& strGroup, long nSize)
{
    return strGroup + " | n=" + std::to_string(nSize);
}

void SplitBenchName(const std::string& strName, std::string* pstrGroup, long* pnSize)
{
    size_t nAt = strName.rfind(" | n=");
    *pstrGroup = nAt == std::string::npos ? strName : strName.substr(0, nAt);
    *pnSize = nAt == std::string::npos ? 0 : std::stol(strName.substr(nAt + 5));
}

std::string FormatNanoseconds(double dNanoseconds)
{
    char szText[32];
    if (dNanoseconds < 1e3)
        std::snprintf(szText, sizeof(szText), "%.2f ns", dNanoseconds);
    else if (dNanoseconds < 1e6)
        std::snprintf(szText, sizeof(szText), "%.2f us", dNanoseconds / 1e3);
    else if (dNanoseconds < 1e9)
        std::snprintf(szText, sizeof(szText), "%.2f ms", dNanoseconds / 1e6);
    else
        std::snprintf(szText, sizeof(szText), "%.2f s", dNanoseconds / 1e9);
    return szText;
}

// ---------------------------------------------------------------------------

std::vector<XTRmBenchResult>& XTRmBenchResults()
{
    static std::vector<XTRmBenchResult> s_vecResults;
    return s_vecResults;
}

void XTRmBenchTimeCalls(const std::string& strName, int nCalls, const std::function<void()>& fnCall)
{
    LARGE_INTEGER nFrequency;
    ::QueryPerformanceFrequency(&nFrequency);
    std::vector<double> vecSamples;
    for (int i = 0; i < nCalls; ++i)
    {
        LARGE_INTEGER nStart;
        LARGE_INTEGER nEnd;
        ::QueryPerformanceCounter(&nStart);
        fnCall();
        ::QueryPerformanceCounter(&nEnd);
        vecSamples.push_back(
            static_cast<double>(nEnd.QuadPart - nStart.QuadPart) * 1e9 / static_cast<double>(nFrequency.QuadPart));
    }
    std::sort(vecSamples.begin(), vecSamples.end());
    XTRmBenchResults().push_back({strName, vecSamples[vecSamples.size() / 2], vecSamples.front()});
    // Catch2 does not report these; say at once what was measured.
    std::printf("\n%s: %d timed call%s, median %s, fastest %s\n", strName.c_str(), nCalls, nCalls == 1 ? "" : "s",
        FormatNanoseconds(vecSamples[vecSamples.size() / 2]).c_str(), FormatNanoseconds(vecSamples.front()).c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------

XTRmBenchRightsService::XTRmBenchRightsService(int nRights, int nDeniedEvery)
{
    m_strFile = XTRmsBenchNewFile(L"baseline");
    // Cheap hashes: the login is set-up here, not what is measured.
    XTRmsServiceConfig config = XTRmsBenchConfig(1000, m_strFile, XTRmsTestServer());
    config.vecRights.clear();
    XTRmsRoleDefinition role;
    role.nId = static_cast<Rms::RmsUserRole>(1);
    role.strName = L"Bench";
    for (int nRight = 0; nRight < nRights; ++nRight)
    {
        config.vecRights.emplace_back(nRight, L"Right " + std::to_wstring(nRight));
        if (nRight % nDeniedEvery != 0)
            role.vecRights.push_back(nRight);
    }
    config.vecRoles = {role};
    config.nInitialRole = role.nId;
    // The store's administrator adds the user; the host's service only logs
    // her in.
    std::unique_ptr<XTRmsService> pAdministrator = XTRmsBenchAdministrator(
        config, XTRmsEngine::Sqlite, XTRmsTestServer());
    std::wstring strError;
    const bool bAdded = pAdministrator &&
        pAdministrator->AddUser(L"alice", L"Alice", role.nId, L"bench-pass-1", &strError) == Rms::RmsSuccess;
    pAdministrator.reset();
    m_pService = XTRmsBenchConnect(config, XTRmsEngine::Sqlite);
    if (!bAdded || !m_pService || m_pService->UserLogin(L"alice", L"bench-pass-1") != Rms::ERmsLoginOk)
    {
        std::fprintf(stderr, "The benchmark's rights service could not be set up.\n");
        std::exit(2);
    }
    m_pInterface = m_pService.get();
}

XTRmBenchRightsService::~XTRmBenchRightsService()
{
    m_pService.reset();
    XTRmsBenchRemoveFile(m_strFile);
}

void XTRmBenchRestrictions::RegisterCommands(int nCommands, int nRights)
{
    for (int i = 0; i < nCommands; ++i)
    {
        const unsigned int nId = kFirstCommand + static_cast<unsigned int>(i);
        CommandHide(nId, RightOf(nId, nRights));
        CommandDisable(nId, RightOf(nId + 5, nRights));
    }
}

void XTRmBenchRestrictions::RegisterCommandsDisabledOnly(int nCommands, int nRights)
{
    for (int i = 0; i < nCommands; ++i)
    {
        const unsigned int nId = kFirstCommand + static_cast<unsigned int>(i);
        CommandDisable(nId, RightOf(nId + 5, nRights));
    }
}

void XTRmBenchRestrictions::RegisterPopupsUnused()
{
    for (int i = 0; i < 50; ++i)
    {
        MenuPopupHide(L"&Unused " + std::to_wstring(i), true);
        MenuPopupDisable(L"&Greyed " + std::to_wstring(i), true);
    }
}

// ---------------------------------------------------------------------------
// Menus

namespace
{
const int kTopPopups = 10;
const int kItemsPerPopup = 10; // nine entries and one separator

// Bounded: every popup holds nine entries and a separator; entries are
// sub-popups above the last level and commands on it.
HMENU BuildBoundedLevel(bool bPopup, int nLevelsLeft, unsigned int& nNextId, int& nPopupNumber)
{
    HMENU hMenu = bPopup ? ::CreatePopupMenu() : ::CreateMenu();
    const int nEntries = bPopup ? kItemsPerPopup - 1 : kTopPopups;
    for (int i = 0; i < nEntries; ++i)
    {
        if (bPopup && i == 5)
            ::AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
        if (nLevelsLeft > 1)
        {
            std::wstring strName = L"&Popup " + std::to_wstring(nPopupNumber++);
            HMENU hSub = BuildBoundedLevel(true, nLevelsLeft - 1, nNextId, nPopupNumber);
            ::AppendMenuW(hMenu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(hSub), strName.c_str());
        }
        else
        {
            std::wstring strText = L"Command " + std::to_wstring(nNextId);
            ::AppendMenuW(hMenu, MF_STRING, nNextId++, strText.c_str());
        }
    }
    return hMenu;
}
} // namespace

XTRmBenchMenuShape XTRmBenchMenuShape::Bounded(int nLevels)
{
    XTRmBenchMenuShape shape;
    shape.nLevels = nLevels;
    // The bar holds ten popups; each level below multiplies by nine.
    long nPopupsAtLevel = kTopPopups;
    shape.nItems = kTopPopups;
    for (int nLevel = 1; nLevel < nLevels; ++nLevel)
    {
        shape.nItems += nPopupsAtLevel * kItemsPerPopup;
        if (nLevel + 1 < nLevels)
            nPopupsAtLevel *= kItemsPerPopup - 1;
    }
    shape.nCommands = static_cast<int>(nPopupsAtLevel * (kItemsPerPopup - 1));
    return shape;
}

XTRmBenchMenuShape XTRmBenchMenuShape::Wide(int nCommandsPerPopup)
{
    XTRmBenchMenuShape shape;
    shape.nLevels = 0;
    shape.nCommandsPerPopup = nCommandsPerPopup;
    shape.nCommands = kTopPopups * nCommandsPerPopup;
    shape.nItems = kTopPopups + kTopPopups * (nCommandsPerPopup + nCommandsPerPopup / 10);
    return shape;
}

XTRmBenchMenuShape XTRmBenchMenuShape::OnePopup(int nItems)
{
    XTRmBenchMenuShape shape;
    shape.nItemsInOnePopup = nItems;
    shape.nCommands = nItems - nItems / 10;
    shape.nItems = nItems; // the bar's one popup item aside
    return shape;
}

HMENU BuildBenchMenu(const XTRmBenchMenuShape& shape)
{
    unsigned int nNextId = kFirstCommand;
    if (shape.nItemsInOnePopup > 0)
    {
        HMENU hPopup = ::CreatePopupMenu();
        for (int i = 0; i < shape.nItemsInOnePopup; ++i)
        {
            if (i % 10 == 9)
            {
                ::AppendMenuW(hPopup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            std::wstring strText = L"Command " + std::to_wstring(nNextId);
            ::AppendMenuW(hPopup, MF_STRING, nNextId++, strText.c_str());
        }
        HMENU hBar = ::CreateMenu();
        ::AppendMenuW(hBar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(hPopup), L"&Popup 0");
        return hBar;
    }
    if (shape.nLevels > 0)
    {
        int nPopupNumber = 0;
        return BuildBoundedLevel(false, shape.nLevels, nNextId, nPopupNumber);
    }
    // Wide: ten popups of commands, a separator after every tenth.
    HMENU hBar = ::CreateMenu();
    for (int nPopup = 0; nPopup < kTopPopups; ++nPopup)
    {
        HMENU hPopup = ::CreatePopupMenu();
        for (int i = 0; i < shape.nCommandsPerPopup; ++i)
        {
            std::wstring strText = L"Command " + std::to_wstring(nNextId);
            ::AppendMenuW(hPopup, MF_STRING, nNextId++, strText.c_str());
            if (i % 10 == 9)
                ::AppendMenuW(hPopup, MF_SEPARATOR, 0, nullptr);
        }
        std::wstring strName = L"&Popup " + std::to_wstring(nPopup);
        ::AppendMenuW(hBar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(hPopup), strName.c_str());
    }
    return hBar;
}

// ---------------------------------------------------------------------------
// Toolbars

XTRmBenchParentWindow::XTRmBenchParentWindow()
{
    m_wnd.CreateEx(0, AfxRegisterWndClass(0), L"XTRm Bench", WS_OVERLAPPEDWINDOW, 0, 0, 800, 200, nullptr, nullptr);
}

XTRmBenchParentWindow::~XTRmBenchParentWindow()
{
    m_wnd.DestroyWindow();
}

std::unique_ptr<CMFCToolBar> BuildBenchToolBar(XTRmBenchParentWindow& parent, int nButtons)
{
    std::vector<UINT> vecIds;
    unsigned int nNextId = kFirstCommand;
    for (int i = 0; i < nButtons; ++i)
        vecIds.push_back(i % 10 == 9 ? 0 : nNextId++);
    auto pToolBar = std::make_unique<CMFCToolBar>();
    pToolBar->Create(parent.Get());
    pToolBar->SetButtons(vecIds.data(), static_cast<int>(vecIds.size()));
    return pToolBar;
}
