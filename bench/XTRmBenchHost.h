// The host side of the benchmarks: a rights service with a logged-in user, a
// restrictions class registering generated commands, generated menus and
// toolbars, and the results the summary prints.
#pragma once

#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmRestrictionsMenu.h"
#include "XTRmsService.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

const unsigned int kFirstCommand = 1000;

std::string BenchName(const std::string& strGroup, long nSize);
void SplitBenchName(const std::string& strName, std::string* pstrGroup, long* pnSize);
std::string FormatNanoseconds(double dNanoseconds);

// One benchmark for the summary, per call.
struct XTRmBenchResult
{
    std::string strName;
    double dMedian;
    double dFastest;
};

// Every result so far, in the order measured.
std::vector<XTRmBenchResult>& XTRmBenchResults();

// Times nCalls calls one by one and records them, for what lasts too long for
// Catch2's fifty samples (a login hashing 600,000 iterations takes seconds).
void XTRmBenchTimeCalls(const std::string& strName, int nCalls, const std::function<void()>& fnCall);

// The reference rights service XTRms on a fresh SQLite file, with a user
// logged in who holds nRights rights (0..nRights-1) except every
// nDeniedEvery-th. Rights are answered from memory after the login.
class XTRmBenchRightsService
{
public:
    XTRmBenchRightsService(int nRights, int nDeniedEvery);
    ~XTRmBenchRightsService();

    XTRmsRestrictionManagerServiceBase* operator&() { return m_pService.get(); }
    // Through the service's interface, as a host holds it.
    bool GetIsAllowed(int nRestrictionId) const { return m_pInterface->GetIsAllowed(nRestrictionId); }

private:
    std::wstring m_strFile;
    std::unique_ptr<XTRmsService> m_pService;
    const XTRmsRestrictionManagerServiceBase* m_pInterface = nullptr;
};

class XTRmBenchRestrictions : public XTRmRestrictionsMenu
{
public:
    explicit XTRmBenchRestrictions(XTRmsRestrictionManagerServiceBase* pService) : XTRmRestrictionsMenu(pService) {}

    using XTRmRestrictionsMenu::IsCommandDisabled;
    using XTRmRestrictionsMenu::IsCommandHidden;

    // The right that command nId depends on, out of nRights.
    static int RightOf(unsigned int nId, int nRights) { return static_cast<int>(nId % static_cast<unsigned>(nRights)); }

    // Commands kFirstCommand... : hidden when their right is missing and
    // disabled when the next right is, each registration asking the service.
    void RegisterCommands(int nCommands, int nRights);
    // The same commands disabled as above, none hidden: the walk without
    // Win32's deletions.
    void RegisterCommandsDisabledOnly(int nCommands, int nRights);
    // Popup names that the generated menus do not use, so that each popup
    // costs its lookups without being restricted.
    void RegisterPopupsUnused();
};

struct XTRmBenchMenuShape
{
    int nPopupsPerLevel = 0;   // popups at each level above the last
    int nCommandsPerPopup = 0; // commands in each popup of the last level
    int nLevels = 0;
    long nItems = 0;
    int nCommands = 0;

    int nItemsInOnePopup = 0; // for OnePopup: the popup's items, every tenth a separator

    static XTRmBenchMenuShape Bounded(int nLevels);
    static XTRmBenchMenuShape Wide(int nCommandsPerPopup);
    // A bar of one popup of nItems items: the widest level a host could build.
    static XTRmBenchMenuShape OnePopup(int nItems);
};

HMENU BuildBenchMenu(const XTRmBenchMenuShape& shape);

// A hidden top-level window that parents the benchmark toolbars.
class XTRmBenchParentWindow
{
public:
    XTRmBenchParentWindow();
    ~XTRmBenchParentWindow();
    CWnd* Get() { return &m_wnd; }

private:
    CWnd m_wnd;
};

// A separator after every ninth button.
std::unique_ptr<CMFCToolBar> BuildBenchToolBar(XTRmBenchParentWindow& parent, int nButtons);
