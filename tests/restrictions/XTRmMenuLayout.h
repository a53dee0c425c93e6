// Menus written as one line, for tests that read like the menus they check:
//   "&File{&New=101|-|Recent{One=110}}|Edit=200"
// An item is "-" (separator), "text=id" (command) or "text{items}" (popup);
// items are separated by '|'. Dumps mark greyed items with a leading '~'.
#pragma once

#include <afxwin.h>

#include "XTRmRestrictionsMenu.h"

#include <string>
#include <vector>

// A menu bar (or popup) built from a layout text; owns the menu.
HMENU BuildMenu(const std::wstring& strLayout, bool bPopup = false);
std::wstring DumpMenu(HMENU hMenu);

// What a host's derived class would register, applied without asking a rights
// service (the flag overloads).
struct XTRmTables
{
    std::vector<unsigned int> vecHiddenCommands;
    std::vector<unsigned int> vecDisabledCommands;
    std::vector<std::wstring> vecHiddenPopups;
    std::vector<std::wstring> vecDisabledPopups;
};

// A host's derived class; registration and the queries are protected, so
// tests register and ask through it as a host would.
class XTRmHostRestrictions : public XTRmRestrictionsMenu
{
public:
    using XTRmRestrictionsMenu::CommandDisable;
    using XTRmRestrictionsMenu::CommandHide;
    using XTRmRestrictionsMenu::GetIsAllowed;
    using XTRmRestrictionsMenu::IsCommandDisabled;
    using XTRmRestrictionsMenu::IsCommandHidden;
    using XTRmRestrictionsMenu::IsMenuPopupDisabled;
    using XTRmRestrictionsMenu::IsMenuPopupHidden;
    using XTRmRestrictionsMenu::MenuPopupDisable;
    using XTRmRestrictionsMenu::MenuPopupHide;
    using XTRmRestrictionsMenu::XTRmRestrictionsMenu;
};

class XTRmTableRestrictions : public XTRmHostRestrictions
{
public:
    explicit XTRmTableRestrictions(const XTRmTables& tables, XTRmsRestrictionManagerServiceBase* pService = nullptr);
};
