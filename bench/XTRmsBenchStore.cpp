#include "XTRmsBenchStore.h"

#include <windows.h>

#include <cstdio>

std::vector<int> XTRmsBenchRoleRights(int nRole)
{
    const int nLast = nRole == 1 ? 8 : nRole == 2 ? 16 : kBenchRights;
    std::vector<int> vecRights;
    for (int nRight = 1; nRight <= nLast; ++nRight)
        vecRights.push_back(nRight);
    return vecRights;
}

XTRmsServiceConfig XTRmsBenchConfig(
    unsigned int nIterations, const std::wstring& strFile, const XTRmsTestServer& server)
{
    XTRmsServiceConfig config;
    config.strDatabaseFile = strFile;
    config.bCreateDatabase = true;
    config.serverSetting = XTRmsServerSetting(L"127.0.0.1", server.nPort);
    config.strServerDatabase = server.strDatabase;
    config.strServerUser = server.strUser;
    config.strServerPassword = server.strPassword;
    config.strWorkstation = L"BENCHWS";
    config.policy.nPbkdf2Iterations = nIterations;
    // The benchmarks provision users and log them in at once.
    config.policy.bMustChangeAfterReset = false;
    for (int nRight = 1; nRight <= kBenchRights; ++nRight)
        config.vecRights.emplace_back(nRight, L"Right " + std::to_wstring(nRight));
    const wchar_t* const apszRoles[kBenchRoles] = {L"Operator", L"Engineer", L"Administrator"};
    for (int nRole = 1; nRole <= kBenchRoles; ++nRole)
    {
        XTRmsRoleDefinition role;
        role.nId = static_cast<Rms::RmsUserRole>(nRole);
        role.strName = apszRoles[nRole - 1];
        role.bSuperUser = nRole == kBenchRoles;
        role.vecRights = XTRmsBenchRoleRights(nRole);
        config.vecRoles.push_back(role);
    }
    config.nInitialRole = static_cast<Rms::RmsUserRole>(1);
    return config;
}

std::wstring XTRmsBenchNewFile(const wchar_t* pszPurpose)
{
    wchar_t szFolder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szFolder);
    static unsigned int s_nCounter = 0;
    std::wstring strFile = std::wstring(szFolder) + L"xtrms-bench-" + pszPurpose + L"-" +
        std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++s_nCounter) + L".db";
    XTRmsBenchRemoveFile(strFile);
    return strFile;
}

void XTRmsBenchRemoveFile(const std::wstring& strFile)
{
    for (const wchar_t* pszSuffix : {L"", L"-wal", L"-shm", L"-journal"})
        ::DeleteFileW((strFile + pszSuffix).c_str());
}

std::unique_ptr<XTRmsService> XTRmsBenchAdministrator(
    const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server)
{
    XTRmsServiceConfig admin = config;
    if (nEngine == XTRmsEngine::Postgres)
    {
        admin.strServerUser = server.strAdminUser;
        admin.strServerPassword = server.strAdminPassword;
    }
    auto pService = std::make_unique<XTRmsService>(admin);
    std::wstring strError;
    if (!pService->OpenStore(nEngine, true, &strError))
    {
        std::fprintf(stderr, "The store could not be opened as its administrator: %ls\n", strError.c_str());
        return nullptr;
    }
    if (!pService->IsStoreAdministrator())
    {
        std::fprintf(stderr, "The account %ls is not the store's administrator.\n", admin.strServerUser.c_str());
        return nullptr;
    }
    return pService;
}

std::unique_ptr<XTRmsService> XTRmsBenchConnect(const XTRmsServiceConfig& config, XTRmsEngine nEngine)
{
    auto pService = std::make_unique<XTRmsService>(config);
    const bool bServer = nEngine == XTRmsEngine::Postgres;
    const int nMode = bServer ? Rms::RmsConnectModeServer : Rms::RmsConnectModeSource;
    Rms::RmsConnectionTest nTest = pService->TryConnectToRestrictionSource(
        Rms::RmsApplicationStandard, L"", nMode, 0, 0, L"");
    if (nTest != (bServer ? Rms::RmsConnectionServerConnected : Rms::RmsConnectionOk))
        return nullptr;
    if (pService->Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L"") != Rms::RmsSuccess)
        return nullptr;
    return pService;
}

std::wstring XTRmsBenchUserName(int nUser)
{
    wchar_t szName[32];
    std::swprintf(szName, 32, L"user-%05d", nUser);
    return szName;
}

std::wstring XTRmsBenchUsersCsv(int nFirst, int nCount)
{
    std::wstring strCsv = L"user,full_name,role,disabled,rights\r\n";
    for (int nUser = nFirst; nUser < nFirst + nCount; ++nUser)
    {
        const int nRole = 1 + nUser % kBenchRoles;
        std::wstring strRights;
        for (int nRight : XTRmsBenchRoleRights(nRole))
            strRights += (strRights.empty() ? L"" : L";") + std::to_wstring(nRight);
        strCsv += XTRmsBenchUserName(nUser) + L",Bench User " + std::to_wstring(nUser) + L"," + std::to_wstring(nRole) +
            L",0," + strRights + L"\r\n";
    }
    return strCsv;
}
