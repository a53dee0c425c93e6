// The rights server's upgrade scripts, which travel inside XTRms.dll as a
// resource so that the service and the database it upgrades can never
// disagree on its text. Compiled into the DLL only: it finds the resource
// through its own code's module.
#pragma once

#include <string>
#include <vector>

namespace XTRmsServiceUpgradeScript
{
// The statements, in order, of the script that brings a rights server to
// nVersion (4 to 7); empty when there is no such script or its resource is
// missing.
std::vector<std::wstring> Statements(int nVersion);
} // namespace XTRmsServiceUpgradeScript
