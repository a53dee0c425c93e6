// The rights server's upgrade script, which travels inside XTRms.dll as a
// resource so that the service and the database it upgrades can never
// disagree on its text. Compiled into the DLL only: it finds the resource
// through its own code's module.
#pragma once

#include <string>
#include <vector>

namespace XTRmsServiceUpgradeScript
{
// The script's statements in order; empty when the resource is missing.
std::vector<std::wstring> Statements();
} // namespace XTRmsServiceUpgradeScript
