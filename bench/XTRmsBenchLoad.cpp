#include "XTRmsBenchLoad.h"

#include "XTRmsBenchStore.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
const int kWorkstations = 50;
const int kUsers = 50;
const int kLoadSeconds = 60;
// A site's administrator imports this many users a third into the run; the
// workstations' logins must not wait for it.
const int kImportedUsers = 10000;
const int kImportAfterSeconds = 20;
// Enough to keep the hashing in the picture without letting it hide the
// database's share; the default 600,000 would measure PBKDF2 alone.
const unsigned int kLoadIterations = 1000;
// How long the workstations may take to connect before the run gives up.
const DWORD kReadyTimeoutMs = 120 * 1000;

double NowSeconds()
{
    static LARGE_INTEGER s_nFrequency = [] {
        LARGE_INTEGER nFrequency;
        ::QueryPerformanceFrequency(&nFrequency);
        return nFrequency;
    }();
    LARGE_INTEGER nNow;
    ::QueryPerformanceCounter(&nNow);
    return static_cast<double>(nNow.QuadPart) / static_cast<double>(s_nFrequency.QuadPart);
}

std::wstring LoadUserName(int nUser)
{
    return L"load-" + XTRmsBenchUserName(nUser);
}

// Distinct per user and free of the user name, as the policy asks.
std::wstring LoadPassword(int nUser)
{
    return L"harbour-gate-" + std::to_wstring(7000 + nUser * 37);
}

std::string Narrow(const std::wstring& strText)
{
    std::string strNarrow;
    for (wchar_t ch : strText)
        strNarrow += ch < 128 ? static_cast<char>(ch) : '?';
    return strNarrow;
}

struct Workstation
{
    int nIndex = 0;
    std::vector<double> vecLatencies; // seconds per login
    std::vector<double> vecStarts;    // when each login began
    long long nLogins = 0;
    long long nRightReads = 0;
    long long nErrors = 0;
    std::string strFirstError;

    void Error(const std::string& strWhat)
    {
        if (nErrors++ == 0)
            strFirstError = strWhat;
    }
};

struct Run
{
    XTRmsServiceConfig config;
    HANDLE hStart = nullptr;
    std::atomic<int> nReady{0};
    double dDeadline = 0;
};

// One workstation: connects as a host starts, then logs its user in and reads
// every right, again and again until the deadline.
void RunWorkstation(Run& run, Workstation& station)
{
    XTRmsServiceConfig config = run.config;
    config.strWorkstation = L"LOADWS-" + std::to_wstring(station.nIndex);
    std::unique_ptr<XTRmsService> pService = XTRmsBenchConnect(config, XTRmsEngine::Postgres);
    if (!pService)
        station.Error("the workstation could not connect");
    ++run.nReady;
    ::WaitForSingleObject(run.hStart, INFINITE);
    if (!pService)
        return;

    const int nUser = station.nIndex % kUsers;
    const std::wstring strUser = LoadUserName(nUser);
    const std::wstring strPassword = LoadPassword(nUser);
    const std::vector<int> vecRoleRights = XTRmsBenchRoleRights(1 + nUser % kBenchRoles);
    const std::set<int> setExpected(vecRoleRights.begin(), vecRoleRights.end());
    const XTRmsRestrictionManagerServiceBase& service = *pService;
    while (NowSeconds() < run.dDeadline)
    {
        double dStart = NowSeconds();
        Rms::ERmsLoginResult nResult = pService->UserLogin(strUser, strPassword);
        station.vecLatencies.push_back(NowSeconds() - dStart);
        station.vecStarts.push_back(dStart);
        ++station.nLogins;
        if (nResult != Rms::ERmsLoginOk)
        {
            station.Error(
                "login answered " + std::to_string(nResult) + ": " + Narrow(pService->GetLastServerMessage()));
            continue;
        }
        // Rights 0 and kBenchRights + 1 exist for no one.
        bool bRightsAsStored = true;
        for (int nRight = 0; nRight <= kBenchRights + 1; ++nRight)
        {
            if (service.GetIsAllowed(nRight) != (setExpected.count(nRight) != 0))
                bRightsAsStored = false;
            ++station.nRightReads;
        }
        if (!bRightsAsStored)
            station.Error("rights after the login differ from the stored ones");
    }
}

double Percentile(const std::vector<double>& vecSorted, double dFraction)
{
    if (vecSorted.empty())
        return 0;
    size_t nRank = static_cast<size_t>(std::ceil(dFraction * static_cast<double>(vecSorted.size())));
    return vecSorted[std::min(vecSorted.size() - 1, nRank == 0 ? 0 : nRank - 1)];
}
} // namespace

int XTRmsRunLoad(const char* pszClusterDir)
{
    XTRmsTestServer server;
    if (!XTRmsReadTestServer(pszClusterDir, &server))
    {
        std::fprintf(stderr, "No PostgreSQL cluster in %s (tools/pg-cluster.sh start it first).\n", pszClusterDir);
        return 2;
    }
    Run run;
    run.config = XTRmsBenchConfig(kLoadIterations, L"", server);
    std::printf("XTRms load run: %d workstations, %d users, PBKDF2 %u iterations, %d s, PostgreSQL at 127.0.0.1:%d\n",
        kWorkstations, kUsers, kLoadIterations, kLoadSeconds, server.nPort);
    std::fflush(stdout);

    // Provisioning, by the database administrator: the schema, the rights,
    // roles and policy, the users with their passwords. A cluster kept from
    // an earlier run keeps its users; their passwords are set again. The
    // workstations log in with their own account.
    double dSetupStart = NowSeconds();
    std::unique_ptr<XTRmsService> pAdmin = XTRmsBenchAdministrator(run.config, XTRmsEngine::Postgres, server);
    if (!pAdmin)
    {
        std::fprintf(stderr, "The rights server could not be opened as its administrator.\n");
        return 2;
    }
    for (int nUser = 0; nUser < kUsers; ++nUser)
    {
        const std::wstring strUser = LoadUserName(nUser);
        std::wstring strError;
        Rms::RmsResult nResult = pAdmin->IsUserDefined(strUser)
            ? pAdmin->SetPassword(strUser, LoadPassword(nUser), &strError)
            : pAdmin->AddUser(strUser, L"Load user " + std::to_wstring(nUser),
                  static_cast<Rms::RmsUserRole>(1 + nUser % kBenchRoles), LoadPassword(nUser), &strError);
        if (nResult != Rms::RmsSuccess)
        {
            std::fprintf(stderr, "User %d could not be provisioned: %s\n", nUser, Narrow(strError).c_str());
            return 2;
        }
    }
    double dProvisioned = NowSeconds();

    // Every workstation connects on its own thread before the clock starts.
    run.hStart = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Workstation> vecStations(kWorkstations);
    std::vector<std::thread> vecThreads;
    for (int i = 0; i < kWorkstations; ++i)
    {
        vecStations[static_cast<size_t>(i)].nIndex = i;
        vecThreads.emplace_back(RunWorkstation, std::ref(run), std::ref(vecStations[static_cast<size_t>(i)]));
    }
    while (run.nReady < kWorkstations && (NowSeconds() - dProvisioned) * 1000 < kReadyTimeoutMs)
        ::Sleep(20);
    double dConnected = NowSeconds();
    // A workstation still connecting after the bound joins late and counts
    // as an error.
    const int nReadyAtStart = run.nReady;
    run.dDeadline = dConnected + kLoadSeconds;
    ::SetEvent(run.hStart);
    // The import, by the database administrator, while the workstations log in.
    double dImportStart = 0;
    double dImportEnd = 0;
    bool bImported = false;
    std::wstring strImportError;
    {
        std::wstring strCsv = L"user,full_name,role,disabled,rights\r\n";
        const std::wstring strPrefix = L"bulk-" + std::to_wstring(::GetCurrentProcessId()) + L"-";
        for (int i = 0; i < kImportedUsers; ++i)
            strCsv += strPrefix + std::to_wstring(i) + L",Imported user," + std::to_wstring(1 + i % kBenchRoles) +
                L",0,1\r\n";
        while (NowSeconds() < dConnected + kImportAfterSeconds)
            ::Sleep(50);
        dImportStart = NowSeconds();
        bImported = pAdmin->ImportCsv(strCsv, &strImportError);
        dImportEnd = NowSeconds();
    }
    for (std::thread& thread : vecThreads)
        thread.join();
    double dEnd = NowSeconds();
    ::CloseHandle(run.hStart);

    std::vector<double> vecLatencies;
    std::vector<double> vecDuringImport;
    std::vector<double> vecOutsideImport;
    long long nLogins = 0;
    long long nRightReads = 0;
    long long nErrors = 0;
    std::string strFirstError;
    for (const Workstation& station : vecStations)
    {
        vecLatencies.insert(vecLatencies.end(), station.vecLatencies.begin(), station.vecLatencies.end());
        for (size_t i = 0; i < station.vecLatencies.size(); ++i)
        {
            // A login that overlapped the import in any part.
            const double dStart = station.vecStarts[i];
            const bool bDuring = dStart < dImportEnd && dStart + station.vecLatencies[i] > dImportStart;
            (bDuring ? vecDuringImport : vecOutsideImport).push_back(station.vecLatencies[i]);
        }
        nLogins += station.nLogins;
        nRightReads += station.nRightReads;
        nErrors += station.nErrors;
        if (strFirstError.empty() && !station.strFirstError.empty())
            strFirstError = "workstation " + std::to_string(station.nIndex) + ": " + station.strFirstError;
    }
    if (nReadyAtStart < kWorkstations)
    {
        nErrors += kWorkstations - nReadyAtStart;
        if (strFirstError.empty())
            strFirstError = "workstations still connecting after the bound";
    }
    std::sort(vecLatencies.begin(), vecLatencies.end());
    std::sort(vecDuringImport.begin(), vecDuringImport.end());
    std::sort(vecOutsideImport.begin(), vecOutsideImport.end());
    if (!bImported)
    {
        ++nErrors;
        if (strFirstError.empty())
            strFirstError = "the import failed: " + Narrow(strImportError);
    }
    const double dElapsed = dEnd - dConnected;

    // Concurrent logins append to one audit chain: it must still verify.
    double dVerifyStart = NowSeconds();
    std::wstring strProblem;
    bool bChainIntact = pAdmin->VerifyAuditChain(&strProblem);
    double dVerified = NowSeconds();

    std::printf("  set-up: provisioning %.2f s, %d workstations connected in %.2f s\n", dProvisioned - dSetupStart,
        nReadyAtStart, dConnected - dProvisioned);
    std::printf("  logins: %lld in %.1f s = %.1f per second; GetIsAllowed calls: %lld\n", nLogins, dElapsed,
        static_cast<double>(nLogins) / dElapsed, nRightReads);
    std::printf("  login latency: p50 %.1f ms, p99 %.1f ms, fastest %.1f ms, slowest %.1f ms\n",
        Percentile(vecLatencies, 0.50) * 1e3, Percentile(vecLatencies, 0.99) * 1e3,
        vecLatencies.empty() ? 0 : vecLatencies.front() * 1e3, vecLatencies.empty() ? 0 : vecLatencies.back() * 1e3);
    std::printf(
        "  import of %d users during the load: %.2f s; login p99 %.1f ms while it ran (%zu logins), %.1f ms "
        "otherwise\n",
        kImportedUsers, dImportEnd - dImportStart, Percentile(vecDuringImport, 0.99) * 1e3, vecDuringImport.size(),
        Percentile(vecOutsideImport, 0.99) * 1e3);
    std::printf("  errors: %lld%s%s\n", nErrors, nErrors != 0 ? ", first: " : "", strFirstError.c_str());
    std::printf("  audit chain: %s (verified in %.2f s)\n", bChainIntact ? "intact" : Narrow(strProblem).c_str(),
        dVerified - dVerifyStart);
    std::fflush(stdout);
    return nErrors == 0 && bChainIntact ? 0 : 1;
}
