// Which of the demo host's commands and popups depend on which rights of the
// logged-in user.
#pragma once

#include "XTRmRestrictionsMenu.h"

class XTRmDemoRestrictions : public XTRmRestrictionsMenu
{
public:
    // Registers at once for the user logged in now.
    explicit XTRmDemoRestrictions(XTRmsRestrictionManagerServiceBase* pService);

    // After a change of user: forget the old user's tables and ask again.
    void RegisterAgain();

private:
    void Register();
};
