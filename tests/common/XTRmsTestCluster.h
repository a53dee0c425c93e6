// The throwaway PostgreSQL cluster that tools/pg-cluster.sh keeps on a
// loopback port, as the service tests and the benchmarks reach it: its folder
// holds the port, the workstation account's password and the superuser's
// (admin-password); user and database are always "xtrms".
#pragma once

#include <string>

struct XTRmsTestServer
{
    int nPort = 0;
    std::wstring strUser = L"xtrms";
    std::wstring strPassword;
    std::wstring strDatabase = L"xtrms";
    // The cluster's superuser: the database administrator who creates and
    // upgrades the schema.
    std::wstring strAdminUser = L"postgres";
    std::wstring strAdminPassword;
};

// The cluster in the Unix folder strUnixDir; false when it holds none.
bool XTRmsReadTestServer(const std::string& strUnixDir, XTRmsTestServer* pServer);
// The cluster in the folder an environment variable names; false when the
// variable is not set or the folder holds no cluster.
bool XTRmsFindTestServer(XTRmsTestServer* pServer, const char* pszVariable = "XTRMS_TEST_PG_DIR");
