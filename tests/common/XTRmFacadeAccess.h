// Reaches the façade's private rules (application name, background image)
// from tests. The library exports the whole class, so its private members
// are linkable; only the access check is lifted, and only here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <afxwin.h>

#define private public
#include "XTRmRestrictionManager.h"
#undef private

struct XTRmFacadeAccess
{
    static std::wstring GetApplicationName() { return XTRmRestrictionManager::GetApplicationName(); }
    static int GetApplicationBackgroundImageID() { return XTRmRestrictionManager::GetApplicationBackgroundImageID(); }
};
