// What the rights service XTRms costs a host: a login with the default and a
// low PBKDF2 iteration count and the hashing's share of it, the rights
// answered from memory after the login, and for many users the user
// management dialog's data, LoadUserProfiles and provisioning. On SQLite
// always; on PostgreSQL too when bench/run-bench.sh started a cluster.
#define CATCH_CONFIG_ENABLE_BENCHMARKING
#include "XTRmBenchHost.h"
#include "XTRmsBenchStore.h"

#include "XTRmsCrypto.h"
#include "XTRmsOdbc.h"

#include "catch.hpp"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace
{
const unsigned int kLowIterations = 1000;
const unsigned int kDefaultIterations = XTRmsPolicy().nPbkdf2Iterations;
// Timed calls of what lasts too long for Catch2's fifty samples.
const int kSlowCalls = 10;
const int kAddUserCalls = 100;
// The super user who opens the user management at a workstation.
const wchar_t kAdministrator[] = L"bench-admin";
const wchar_t kAdministratorPassword[] = L"bench-pass-3";

std::string EngineName(XTRmsEngine nEngine)
{
    return nEngine == XTRmsEngine::Sqlite ? "SQLite" : "PostgreSQL";
}

// SQLite always; PostgreSQL when a cluster was started for the run.
std::vector<XTRmsEngine> BenchEngines(XTRmsTestServer* pServer)
{
    std::vector<XTRmsEngine> vecEngines = {XTRmsEngine::Sqlite};
    if (XTRmsFindTestServer(pServer, kBenchServerVariable))
        vecEngines.push_back(XTRmsEngine::Postgres);
    else
        std::printf("No PostgreSQL cluster (XTRMS_BENCH_PG_DIR): the service is measured on SQLite only.\n");
    return vecEngines;
}

// A user with a password, given by the store's administrator; a server kept
// from an earlier run keeps its users, so an existing one gets the password
// anew.
bool ProvisionUser(const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server,
    const std::wstring& strUser, int nRole, const std::wstring& strPassword)
{
    std::unique_ptr<XTRmsService> pAdministrator = XTRmsBenchAdministrator(config, nEngine, server);
    if (!pAdministrator)
        return false;
    std::wstring strError;
    Rms::RmsResult nResult = pAdministrator->IsUserDefined(strUser)
        ? pAdministrator->SetPassword(strUser, strPassword, &strError)
        : pAdministrator->AddUser(strUser, strUser, static_cast<Rms::RmsUserRole>(nRole), strPassword, &strError);
    if (nResult != Rms::RmsSuccess)
        std::printf("%ls could not be provisioned: %ls\n", strUser.c_str(), strError.c_str());
    return nResult == Rms::RmsSuccess;
}

// What the user management dialog reads: every user, then every right of
// each user, through the service's interface.
size_t ReadDialogData(const XTRmsRestrictionManagerServiceBase& service)
{
    size_t nAllowed = 0;
    const std::vector<XTRmsRestrictionDefinition> vecRights = service.GetRoleRestrDefinitions();
    for (const XTRmsUserInfo& user : service.GetAllDefinedUsers())
    {
        for (const XTRmsRestrictionDefinition& right : vecRights)
        {
            bool bAllowed = false;
            if (service.GetUserIsAllowed(user.GetUserNameW(), right.GetId(), &bAllowed) == Rms::RmsSuccess && bAllowed)
                ++nAllowed;
        }
    }
    return nAllowed;
}
// The audit trail filled to nRows with rows written by the database itself,
// as a plant's years of logins and changes leave it: rows one minute apart,
// five events, 500 users. The chain of these rows is not computed (the
// review does not check it); the head follows them so that later rows
// append. Raw SQL as the store's administrator, values as parameters.
bool FillAuditTrail(
    const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server, long long nRows)
{
    XTRmsOdbc::Connection connection;
    const bool bPostgres = nEngine == XTRmsEngine::Postgres;
    const std::wstring strConnection = !bPostgres
        ? L"Driver={SQLite3};Database=" + XTRmsOdbc::DriverPath(config.strDatabaseFile) + L";Timeout=5000;"
        : L"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_wstring(server.nPort) + L";Database=" +
            server.strDatabase + L";Uid=" + server.strAdminUser + L";Pwd=" +
            XTRmsOdbc::QuoteValue(server.strAdminPassword) + L";";
    if (!connection.Open(strConnection, 10))
        return false;
    connection.SetTimeout(600);
    // The head's guard would refuse a head that skips rows it did not see
    // written; the administrator switches triggers off for the session.
    if (bPostgres &&
        (!connection.Execute(L"SET search_path = xtrms") ||
            !connection.Execute(L"SET session_replication_role = replica")))
        return false;
    long long nHave = 0;
    {
        XTRmsOdbc::Statement count(connection, L"SELECT COUNT(*) FROM xtrms_audit");
        if (!count.Execute() || !count.Fetch())
            return false;
        nHave = count.GetInt(1);
    }
    if (nHave >= nRows)
        return true;
    const wchar_t* pszInsert = !bPostgres
        ? L"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?) "
          L"INSERT INTO xtrms_audit (seq, at_utc, workstation, os_user, actor, event, subject, detail, hash) "
          L"SELECT h.seq + n.i, strftime('%Y-%m-%dT%H:%M:%SZ', 1800000000 + n.i * 60, 'unixepoch'), 'WS' || (n.i % "
          L"20), "
          L"'op', 'user-' || (n.i % 500), CASE n.i % 5 WHEN 0 THEN 'login' WHEN 1 THEN 'login-refused' "
          L"WHEN 2 THEN 'right-granted' WHEN 3 THEN 'right-withdrawn' ELSE 'password-changed' END, "
          L"'user-' || ((n.i * 7) % 500), 'bench row ' || n.i, '' FROM n, xtrms_audit_head h WHERE h.id = 1"
        : L"INSERT INTO xtrms_audit (seq, at_utc, workstation, os_user, actor, event, subject, detail, hash) "
          L"SELECT h.seq + n.i, to_char(to_timestamp(1800000000 + n.i * 60) AT TIME ZONE 'UTC', "
          L"'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), 'WS' || (n.i % 20), 'op', 'user-' || (n.i % 500), "
          L"CASE n.i % 5 WHEN 0 THEN 'login' WHEN 1 THEN 'login-refused' WHEN 2 THEN 'right-granted' "
          L"WHEN 3 THEN 'right-withdrawn' ELSE 'password-changed' END, 'user-' || ((n.i * 7) % 500), "
          L"'bench row ' || n.i, '' FROM generate_series(1, CAST(? AS bigint)) AS n(i), xtrms_audit_head h "
          L"WHERE h.id = 1";
    XTRmsOdbc::Statement insert(connection, pszInsert);
    insert.Bind(nRows - nHave);
    return insert.Execute() &&
        connection.Execute(
            L"UPDATE xtrms_audit_head SET seq = (SELECT MAX(a.seq) FROM xtrms_audit a), "
            L"hash = (SELECT a.hash FROM xtrms_audit a ORDER BY a.seq DESC LIMIT 1) WHERE id = 1") &&
        connection.Execute(L"ANALYZE");
}
} // namespace

TEST_CASE("XTRms audit review")
{
    const long long kTrailRows = 100000;
    const size_t kPageRows = 200; // what the audit dialog shows at a time
    XTRmsTestServer server;
    for (XTRmsEngine nEngine : BenchEngines(&server))
    {
        const std::string strEngine = EngineName(nEngine);
        const std::wstring strFile = XTRmsBenchNewFile(L"audit");
        const XTRmsServiceConfig config = XTRmsBenchConfig(kLowIterations, strFile, server);
        REQUIRE(ProvisionUser(config, nEngine, server, kAdministrator, kBenchRoles, kAdministratorPassword));
        std::unique_ptr<XTRmsService> pService = XTRmsBenchConnect(config, nEngine);
        REQUIRE(pService);
        REQUIRE(pService->UserLogin(kAdministrator, kAdministratorPassword) == Rms::ERmsLoginOk);
        REQUIRE(FillAuditTrail(config, nEngine, server, kTrailRows));

        // The dialog's first page for each kind of filter, and a page deep
        // in the trail (keyset paging: as quick as the first).
        const struct
        {
            const char* pszWhat;
            XTRmsAuditFilter filter;
            long long nBefore;
        } pages[] = {
            {"no filter", {}, 0},
            {"no filter, below row 1,000", {}, 1000},
            {"one event", {L"", L"", L"", L"right-granted", L""}, 0},
            {"one user", {L"", L"", L"USER-42", L"", L""}, 0},
            {"one day", {L"2027-02-01", L"2027-02-01", L"", L"", L""}, 0},
            {"text, rare", {L"", L"", L"", L"", L"bench row 4711"}, 0},
            // Held by one row in 23 (user-42 and user-420 to 429), alone
            // and beside a day long past.
            {"text, frequent", {L"", L"", L"", L"", L"user-42"}, 0},
            {"text, frequent, one day", {L"2027-02-01", L"2027-02-01", L"", L"", L"user-42"}, 0},
        };
        for (const auto& page : pages)
        {
            std::vector<XTRmsAuditRow> vecRows;
            std::wstring strError;
            REQUIRE(pService->QueryAudit(page.filter, page.nBefore, kPageRows, &vecRows, &strError));
            REQUIRE(!vecRows.empty());
            BENCHMARK_ADVANCED(
                std::string("XTRms QueryAudit, 100,000 rows, first 200, ") + page.pszWhat + ", " + strEngine)
            (Catch::Benchmark::Chronometer meter)
            {
                meter.measure(
                    [&] { return pService->QueryAudit(page.filter, page.nBefore, kPageRows, &vecRows, &strError); });
            };
        }
        // What the trail's text index costs each new row: a login (1,000
        // iterations) writes one, here onto 100,000.
        BENCHMARK_ADVANCED("XTRms UserLogin, 100,000 audit rows, " + strEngine)(Catch::Benchmark::Chronometer meter)
        {
            meter.measure([&] { return pService->UserLogin(kAdministrator, kAdministratorPassword); });
        };
        pService.reset();
        XTRmsBenchRemoveFile(strFile);
    }
}

TEST_CASE("XTRms login and rights from memory")
{
    XTRmsTestServer server;
    for (XTRmsEngine nEngine : BenchEngines(&server))
    {
        const std::string strEngine = EngineName(nEngine);
        const std::wstring strFile = XTRmsBenchNewFile(L"login");
        const XTRmsServiceConfig config = XTRmsBenchConfig(kLowIterations, strFile, server);
        // The administrator sets the store up; the logins are a workstation's.
        REQUIRE(ProvisionUser(config, nEngine, server, L"quick-user", 2, L"bench-pass-1"));
        std::unique_ptr<XTRmsService> pService = XTRmsBenchConnect(config, nEngine);
        REQUIRE(pService);

        // Each login reads the user, hashes, and writes the reset failure
        // count and an audit row in one transaction.
        int nRefused = 0;
        BENCHMARK_ADVANCED(BenchName("XTRms UserLogin, " + strEngine + ", iterations", kLowIterations))
        (Catch::Benchmark::Chronometer meter)
        {
            meter.measure([&] {
                if (pService->UserLogin(L"quick-user", L"bench-pass-1") != Rms::ERmsLoginOk)
                    ++nRefused;
            });
        };
        CHECK(nRefused == 0);

        if (nEngine == XTRmsEngine::Sqlite)
        {
            // The default count, on the same file: each hash keeps its own.
            const XTRmsServiceConfig strong = XTRmsBenchConfig(kDefaultIterations, strFile, server);
            REQUIRE(ProvisionUser(strong, nEngine, server, L"strong-user", 2, L"bench-pass-2"));
            std::unique_ptr<XTRmsService> pStrong = XTRmsBenchConnect(strong, nEngine);
            REQUIRE(pStrong);
            XTRmBenchTimeCalls(
                BenchName("XTRms UserLogin, " + strEngine + ", iterations", kDefaultIterations), kSlowCalls, [&] {
                    if (pStrong->UserLogin(L"strong-user", L"bench-pass-2") != Rms::ERmsLoginOk)
                        ++nRefused;
                });
            CHECK(nRefused == 0);

            // The hashing's share: the service's own PBKDF2, nothing around it.
            const std::vector<unsigned char> vecSalt(16, 0x5a);
            BENCHMARK_ADVANCED(BenchName("PBKDF2-HMAC-SHA256 alone, iterations", kLowIterations))
            (Catch::Benchmark::Chronometer meter)
            {
                meter.measure(
                    [&] { return XTRmsCrypto::Pbkdf2Sha256(L"bench-pass-1", vecSalt, kLowIterations).size(); });
            };
            XTRmBenchTimeCalls(BenchName("PBKDF2-HMAC-SHA256 alone, iterations", kDefaultIterations), kSlowCalls,
                [&] { CHECK(XTRmsCrypto::Pbkdf2Sha256(L"bench-pass-1", vecSalt, kDefaultIterations).size() == 32); });

            // After the login every right comes from memory: rights 1-16 of
            // the Engineer role, asked for ids 0-63.
            REQUIRE(pService->UserLogin(L"quick-user", L"bench-pass-1") == Rms::ERmsLoginOk);
            const XTRmsRestrictionManagerServiceBase* pInterface = pService.get();
            BENCHMARK_ADVANCED("XTRms GetIsAllowed after login")(Catch::Benchmark::Chronometer meter)
            {
                meter.measure([&](int i) { return pInterface->GetIsAllowed(i & 63); });
            };
        }
        pService.reset();
        XTRmsBenchRemoveFile(strFile);
    }
}

TEST_CASE("XTRms many users")
{
    XTRmsTestServer server;
    for (XTRmsEngine nEngine : BenchEngines(&server))
    {
        const std::string strEngine = EngineName(nEngine);
        const std::wstring strFile = XTRmsBenchNewFile(L"users");
        const XTRmsServiceConfig config = XTRmsBenchConfig(kLowIterations, strFile, server);
        // Provisioning is the store's administrator's, as with the console
        // tool; the user management's data is read where the dialog reads
        // it, at a workstation with a super user logged in.
        REQUIRE(ProvisionUser(config, nEngine, server, kAdministrator, kBenchRoles, kAdministratorPassword));
        std::unique_ptr<XTRmsService> pAdministrator = XTRmsBenchAdministrator(config, nEngine, server);
        REQUIRE(pAdministrator);
        std::unique_ptr<XTRmsService> pService = XTRmsBenchConnect(config, nEngine);
        REQUIRE(pService);
        REQUIRE(pService->UserLogin(kAdministrator, kAdministratorPassword) == Rms::ERmsLoginOk);

        int nProvisioned = 0;
        for (int nUsers : {1000, 10000})
        {
            // Bulk provisioning: one transaction for all the users added,
            // then the working copy read again.
            const std::wstring strCsv = XTRmsBenchUsersCsv(nProvisioned, nUsers - nProvisioned);
            bool bImported = false;
            std::wstring strError;
            XTRmBenchTimeCalls(BenchName("XTRms ImportCsv of the users added, " + strEngine, nUsers - nProvisioned), 1,
                [&] { bImported = pAdministrator->ImportCsv(strCsv, &strError); });
            REQUIRE(bImported);
            nProvisioned = nUsers;

            XTRmBenchTimeCalls(BenchName("XTRms LoadUserProfiles, " + strEngine, nUsers), kSlowCalls,
                [&] { CHECK(pService->LoadUserProfiles() == Rms::RmsSuccess); });
            // What the workstation's administrator sees; a server kept from
            // an earlier run may hold a few more.
            REQUIRE(pService->GetAllDefinedUsers().size() >= static_cast<size_t>(nUsers));

            // The working copy is the same whichever engine filled it.
            if (nEngine == XTRmsEngine::Sqlite)
            {
                const XTRmsRestrictionManagerServiceBase* pInterface = pService.get();
                BENCHMARK_ADVANCED(BenchName("user management data: all users, every right", nUsers))
                (Catch::Benchmark::Chronometer meter)
                {
                    meter.measure([&] { return ReadDialogData(*pInterface); });
                };
            }
        }

        // One user at a time, as the console tool adds them: a transaction
        // and a commit each.
        const std::wstring strPrefix = L"added-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
        int nAdded = 0;
        int nFailed = 0;
        XTRmBenchTimeCalls("XTRms AddUser without a password, " + strEngine, kAddUserCalls, [&] {
            std::wstring strError;
            if (pAdministrator->AddUser(strPrefix + std::to_wstring(nAdded++), L"Added",
                    static_cast<Rms::RmsUserRole>(1), L"", &strError) != Rms::RmsSuccess)
                ++nFailed;
        });
        CHECK(nFailed == 0);
        pService.reset();
        pAdministrator.reset();
        XTRmsBenchRemoveFile(strFile);
    }
}
