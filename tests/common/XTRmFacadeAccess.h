// Reaches the façade's private rules (application name, background image)
// from tests, as the friend the façade names.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <afxwin.h>

#include "XTRmRestrictionManager.h"

struct XTRmFacadeAccess
{
    static std::wstring GetApplicationName() { return XTRmRestrictionManager::GetApplicationName(); }
    static int GetApplicationBackgroundImageID() { return XTRmRestrictionManager::GetApplicationBackgroundImageID(); }
};
