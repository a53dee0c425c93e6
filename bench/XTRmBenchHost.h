// The host side of the benchmarks: a rights service with a logged-in user, a
// restrictions class registering generated commands, and generated menus and
// toolbars.
#pragma once

#include <afxwin.h>
#include <afxcontrolbars.h>

#include "XTRmRestrictionsMenu.h"
#include "XTRmDemoService.h"

#include <memory>
#include <string>

const unsigned int kFirstCommand = 1000;

std::string BenchName(const std::string& strGroup, long nSize);
void SplitBenchName(const std::string& strName, std::string* pstrGroup, long* pnSize);
std::string FormatNanoseconds(double dNanoseconds);

// The demo's reference rights service with a user logged in who holds every
// other one of nRights rights.
class XTRmBenchRightsService
{
public:
    XTRmBenchRightsService(int nRights, int nDeniedEvery);
    ~XTRmBenchRightsService();

    XTRmsRestrictionManagerServiceBase* operator&() { return m_pService.get(); }
    bool GetIsAllowed(int nRestrictionId) const { return m_pService->GetIsAllowed(nRestrictionId); }

private:
    std::wstring m_strProfilePath;
    std::unique_ptr<XTRmDemoService> m_pService;
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
    // Popup names that the generated menus do not use, so that each popup
    // costs its lookups without being restricted.
    void RegisterPopupsUnused();
};

struct XTRmBenchMenuShape
{
    int nPopupsPerLevel = 0; // popups at each level above the last
    int nCommandsPerPopup = 0; // commands in each popup of the last level
    int nLevels = 0;
    long nItems = 0;
    int nCommands = 0;

    static XTRmBenchMenuShape Bounded(int nLevels);
    static XTRmBenchMenuShape Wide(int nCommandsPerPopup);
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
