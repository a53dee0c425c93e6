// Stores for the service tests: a fresh SQLite file per test, and the
// throwaway PostgreSQL cluster that ctest starts on a loopback port, emptied
// before each test.
#pragma once

#include "XTRmsOdbc.h"
#include "XTRmsService.h"
#include "XTRmsTestCluster.h"

#include <memory>
#include <string>

// A new, unique file name in the prefix's temporary folder; the file does
// not exist yet.
std::wstring XTRmsNewDatabaseFile();

// Rights 1 to 4, an Operator role (1: rights 1, 2) and a super-user
// Administrator role (2: all rights), cheap hashes, lockout after three
// failures; the engine's store set up.
XTRmsServiceConfig XTRmsTestConfig(XTRmsEngine nEngine, const XTRmsTestServer& server, const std::wstring& strFile);

// A raw connection to the test store, for what only an intruder or a crash
// would do: with the configuration's own credentials (on PostgreSQL the
// workstation account's).
std::unique_ptr<XTRmsOdbc::Connection> XTRmsConnectRaw(const XTRmsServiceConfig& config, XTRmsEngine nEngine);
// The same as the database administrator (on SQLite: the file again).
std::unique_ptr<XTRmsOdbc::Connection> XTRmsConnectAdmin(
    const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server);
// The configuration with the database administrator's credentials.
XTRmsServiceConfig XTRmsAdminConfig(const XTRmsServiceConfig& config, const XTRmsTestServer& server);

// Drops the service's schema and every table of it from the PostgreSQL test
// database.
bool XTRmsEmptyServerDatabase(const XTRmsServiceConfig& config, const XTRmsTestServer& server);
// A table of the store as the administrator names it in raw SQL.
std::wstring XTRmsTable(XTRmsEngine nEngine, const wchar_t* pszTable);

// The connection-test mode of the engine: 1 the local file, 16 the server.
int XTRmsModeOf(XTRmsEngine nEngine);
