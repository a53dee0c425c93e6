#include "XTRmsTestStores.h"

std::wstring XTRmsNewDatabaseFile()
{
    wchar_t szFolder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szFolder);
    static unsigned int s_nCounter = 0;
    std::wstring strFile = std::wstring(szFolder) + L"xtrms-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
        std::to_wstring(++s_nCounter) + L".db";
    for (const wchar_t* pszSuffix : {L"", L"-wal", L"-shm"})
        DeleteFileW((strFile + pszSuffix).c_str());
    return strFile;
}

XTRmsServiceConfig XTRmsTestConfig(XTRmsEngine nEngine, const XTRmsTestServer& server, const std::wstring& strFile)
{
    XTRmsServiceConfig config;
    config.strDatabaseFile = strFile;
    config.bCreateDatabase = nEngine == XTRmsEngine::Sqlite;
    config.serverSetting = XTRmsServerSetting(L"127.0.0.1", server.nPort);
    config.strServerDatabase = server.strDatabase;
    config.strServerUser = server.strUser;
    config.strServerPassword = server.strPassword;
    config.nTimeoutSeconds = 3;
    config.strWorkstation = L"TESTWS";
    config.policy.nPbkdf2Iterations = 1000;
    config.policy.nLockoutThreshold = 3;
    config.policy.nLockoutSeconds = 0;
    config.policy.nMinPasswordLength = 8;
    // The suite provisions users and logs them in at once; the forced change
    // after an administrator's password has tests of its own.
    config.policy.bMustChangeAfterReset = false;
    config.vecRights = {{1, L"View"}, {2, L"Edit"}, {3, L"Configure"}, {4, L"Manage users"}};
    XTRmsRoleDefinition operatorRole;
    operatorRole.nId = static_cast<Rms::RmsUserRole>(1);
    operatorRole.strName = L"Operator";
    operatorRole.vecRights = {1, 2};
    XTRmsRoleDefinition adminRole;
    adminRole.nId = static_cast<Rms::RmsUserRole>(2);
    adminRole.strName = L"Administrator";
    adminRole.bSuperUser = true;
    adminRole.vecRights = {1, 2, 3, 4};
    config.vecRoles = {operatorRole, adminRole};
    config.nInitialRole = operatorRole.nId;
    return config;
}

std::unique_ptr<XTRmsOdbc::Connection> XTRmsConnectRaw(const XTRmsServiceConfig& config, XTRmsEngine nEngine)
{
    auto pConnection = std::make_unique<XTRmsOdbc::Connection>();
    std::wstring strConnection = nEngine == XTRmsEngine::Sqlite
        ? L"Driver={SQLite3};Database=" + XTRmsOdbc::DriverPath(config.strDatabaseFile) + L";Timeout=5000;"
        : L"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_wstring(config.serverSetting.GetPortNum()) +
            L";Database=" + config.strServerDatabase + L";Uid=" + config.strServerUser + L";Pwd=" +
            XTRmsOdbc::QuoteValue(config.strServerPassword) + L";";
    if (!pConnection->Open(strConnection, 5))
        return nullptr;
    return pConnection;
}

XTRmsServiceConfig XTRmsAdminConfig(const XTRmsServiceConfig& config, const XTRmsTestServer& server)
{
    XTRmsServiceConfig admin = config;
    admin.strServerUser = server.strAdminUser;
    admin.strServerPassword = server.strAdminPassword;
    return admin;
}

std::unique_ptr<XTRmsOdbc::Connection> XTRmsConnectAdmin(
    const XTRmsServiceConfig& config, XTRmsEngine nEngine, const XTRmsTestServer& server)
{
    return XTRmsConnectRaw(XTRmsAdminConfig(config, server), nEngine);
}

std::wstring XTRmsTable(XTRmsEngine nEngine, const wchar_t* pszTable)
{
    return (nEngine == XTRmsEngine::Postgres ? L"xtrms." : L"") + std::wstring(pszTable);
}

bool XTRmsEmptyServerDatabase(const XTRmsServiceConfig& config, const XTRmsTestServer& server)
{
    std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(config, XTRmsEngine::Postgres, server);
    if (!pConnection || !pConnection->Execute(L"DROP SCHEMA IF EXISTS xtrms CASCADE"))
        return false;
    for (const wchar_t* pszTable : {L"xtrms_schema", L"xtrms_rights", L"xtrms_roles", L"xtrms_role_rights",
             L"xtrms_users", L"xtrms_user_rights", L"xtrms_audit", L"xtrms_audit_head", L"xtrms_name_failures"})
    {
        std::wstring strDrop = std::wstring(L"DROP TABLE IF EXISTS ") + pszTable;
        if (!pConnection->Execute(strDrop.c_str()))
            return false;
    }
    return true;
}

int XTRmsModeOf(XTRmsEngine nEngine)
{
    return nEngine == XTRmsEngine::Sqlite ? Rms::RmsConnectModeSource : Rms::RmsConnectModeServer;
}
