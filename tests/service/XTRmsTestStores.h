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
// would do.
std::unique_ptr<XTRmsOdbc::Connection> XTRmsConnectRaw(const XTRmsServiceConfig& config, XTRmsEngine nEngine);

// Drops every table of the service from the PostgreSQL test database.
bool XTRmsEmptyServerDatabase(const XTRmsServiceConfig& config);

// The connection-test mode of the engine: 1 the local file, 16 the server.
int XTRmsModeOf(XTRmsEngine nEngine);
