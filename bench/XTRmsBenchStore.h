// Stores of the rights service XTRms for the benchmarks and the load run: a
// configuration like a host's, SQLite files in the prefix's temporary folder,
// the throwaway PostgreSQL cluster that bench/run-bench.sh starts, and the
// users a run provisions.
#pragma once

#include "XTRmsService.h"
#include "XTRmsTestCluster.h"

#include <memory>
#include <string>
#include <vector>

// Rights 1..32 and three roles: Operator (1: rights 1-8), Engineer (2: rights
// 1-16) and a super-user Administrator (3: all 32).
const int kBenchRights = 32;
const int kBenchRoles = 3;

// The cluster bench/run-bench.sh started names its folder in this variable.
const char kBenchServerVariable[] = "XTRMS_BENCH_PG_DIR";

// The rights and roles above and nIterations for new hashes, otherwise the
// default policy; the file, and the server with the workstation's account.
XTRmsServiceConfig XTRmsBenchConfig(
    unsigned int nIterations, const std::wstring& strFile, const XTRmsTestServer& server);

// The rights a user of role nRole holds.
std::vector<int> XTRmsBenchRoleRights(int nRole);

// A new SQLite file name in the temporary folder; removed with its WAL files
// by XTRmsBenchRemoveFile.
std::wstring XTRmsBenchNewFile(const wchar_t* pszPurpose);
void XTRmsBenchRemoveFile(const std::wstring& strFile);

// The store's administrator, as the console tool opens the store: the file
// itself on SQLite, the cluster's superuser on PostgreSQL. It creates the
// schema and writes the definitions (and a rights server's policy, from
// config); provisioning and the administrator's figures use it. Null, with
// why on stderr, when the store cannot be opened or the account is not its
// administrator.
std::unique_ptr<XTRmsService> XTRmsBenchAdministrator(
    const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server);

// A service connected to the engine and initialized, as a host starts it,
// with the workstation's account: it administers only once a super user
// logged in on it. Null when that fails.
std::unique_ptr<XTRmsService> XTRmsBenchConnect(const XTRmsServiceConfig& config, XTRmsEngine nEngine);

// CSV of users nFirst..nFirst+nCount-1 ("user-00042", roles in turn), for
// ImportCsv.
std::wstring XTRmsBenchUsersCsv(int nFirst, int nCount);
std::wstring XTRmsBenchUserName(int nUser);
