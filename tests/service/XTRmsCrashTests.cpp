// A workstation killed in the middle of a save: a child process keeps saving
// one change to many users, the test kills it at a moment of its choosing,
// and the store must hold either all of a save or none of it.
#include "XTRmsTestStores.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace
{
const int kUsers = 150;
const int kToggledRight = 3;

std::wstring UserName(int i)
{
    return L"worker" + std::to_wstring(i);
}

std::wstring EnvironmentText(const wchar_t* pszName)
{
    wchar_t szValue[MAX_PATH] = {};
    DWORD nLength = GetEnvironmentVariableW(pszName, szValue, MAX_PATH);
    return nLength > 0 && nLength < MAX_PATH ? std::wstring(szValue) : std::wstring();
}

XTRmsServiceConfig ConfigFor(XTRmsEngine nEngine, const std::wstring& strFile)
{
    XTRmsTestServer server;
    XTRmsFindTestServer(&server);
    XTRmsServiceConfig config = XTRmsAdminConfig(XTRmsTestConfig(nEngine, server, strFile), server);
    config.bCreateDatabase = false;
    return config;
}

// As the store's administrator: what is at stake here is that a save lands
// whole or not at all, whoever makes it.
bool StartService(XTRmsService& service, XTRmsEngine nEngine)
{
    return service.OpenStore(nEngine, true, nullptr);
}

// The child's part: runs only when the parent below starts this executable
// with the store in its environment.
TEST(XTRmsCrashChild, KeepsSavingUntilKilled)
{
    std::wstring strFile = EnvironmentText(L"XTRMS_CRASH_DB");
    std::wstring strMark = EnvironmentText(L"XTRMS_CRASH_MARK");
    if (strMark.empty())
        GTEST_SKIP() << "started by XTRmsCrash only";
    XTRmsEngine nEngine = EnvironmentText(L"XTRMS_CRASH_ENGINE") == L"postgres" ? XTRmsEngine::Postgres
                                                                                : XTRmsEngine::Sqlite;
    XTRmsService service(ConfigFor(nEngine, strFile));
    ASSERT_TRUE(StartService(service, nEngine));
    // Bounded: the parent kills the child long before the last round.
    for (int nRound = 1; nRound <= 2000; ++nRound)
    {
        for (int i = 0; i < kUsers; ++i)
            ASSERT_EQ(service.SetUserIsAllowed(UserName(i), kToggledRight, nRound % 2 == 1), Rms::RmsSuccess);
        {
            std::ofstream mark(strMark.c_str(), std::ios::trunc);
            mark << nRound << std::endl;
        }
        ASSERT_EQ(service.SaveUserProfiles(), Rms::RmsSuccess);
    }
}

class XTRmsCrash : public ::testing::TestWithParam<XTRmsEngine>
{
};

TEST_P(XTRmsCrash, ProcessKilledDuringASaveLosesNothingStored)
{
    XTRmsTestServer server;
    if (GetParam() == XTRmsEngine::Postgres && !XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    std::wstring strFile = XTRmsNewDatabaseFile();
    XTRmsServiceConfig config = ConfigFor(GetParam(), strFile);
    config.bCreateDatabase = true;
    if (GetParam() == XTRmsEngine::Postgres)
    {
        XTRmsTestServer server;
        ASSERT_TRUE(XTRmsFindTestServer(&server) && XTRmsEmptyServerDatabase(config, server));
    }
    {
        XTRmsService service(config);
        ASSERT_TRUE(StartService(service, GetParam()));
        std::wstring strCsv = L"user,full_name,role,disabled,rights\r\n";
        for (int i = 0; i < kUsers; ++i)
            strCsv += UserName(i) + L",,1,0,1;2\r\n";
        std::wstring strError;
        ASSERT_TRUE(service.ImportCsv(strCsv, &strError)) << strError.c_str();
    }

    std::wstring strMark = strFile + L".mark";
    DeleteFileW(strMark.c_str());
    SetEnvironmentVariableW(L"XTRMS_CRASH_DB", strFile.c_str());
    SetEnvironmentVariableW(L"XTRMS_CRASH_MARK", strMark.c_str());
    SetEnvironmentVariableW(L"XTRMS_CRASH_ENGINE", GetParam() == XTRmsEngine::Postgres ? L"postgres" : L"sqlite");
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strCommand = L"\"" + std::wstring(szExe) + L"\" --gtest_filter=XTRmsCrashChild.KeepsSavingUntilKilled";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    // The child's own report would only interleave with ours.
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process = {};
    BOOL bStarted = CreateProcessW(
        nullptr, &strCommand[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"XTRMS_CRASH_MARK", nullptr);
    ASSERT_TRUE(bStarted);

    // Wait until a few saves have landed, then kill the child wherever it is.
    int nRound = 0;
    for (int nWait = 0; nWait < 600 && nRound < 4; ++nWait)
    {
        Sleep(50);
        std::ifstream mark(strMark.c_str());
        mark >> nRound;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
    }
    Sleep(37);
    bool bKilled = TerminateProcess(process.hProcess, 9) != FALSE;
    WaitForSingleObject(process.hProcess, 10000);
    DWORD nExitCode = 0;
    GetExitCodeProcess(process.hProcess, &nExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(bKilled);
    ASSERT_GE(nRound, 4) << "the child did not get going";
    EXPECT_EQ(nExitCode, 9u) << "the child ended by itself";

    // Every user still there, each with the same value of the toggled right:
    // one save wholly in, the next wholly out.
    XTRmsService reader(config);
    ASSERT_TRUE(StartService(reader, GetParam()));
    EXPECT_EQ(reader.GetAllDefinedUsers().size(), static_cast<size_t>(kUsers));
    bool bFirst = false;
    ASSERT_EQ(reader.GetUserIsAllowed(UserName(0), kToggledRight, &bFirst), Rms::RmsSuccess);
    int nSame = 0;
    for (int i = 0; i < kUsers; ++i)
    {
        bool bAllowed = !bFirst;
        bool bKept = false;
        reader.GetUserIsAllowed(UserName(i), kToggledRight, &bAllowed);
        reader.GetUserIsAllowed(UserName(i), 1, &bKept);
        nSame += bAllowed == bFirst && bKept ? 1 : 0;
    }
    EXPECT_EQ(nSame, kUsers) << nRound;
    std::wstring strProblem;
    EXPECT_TRUE(reader.VerifyAuditChain(&strProblem)) << strProblem.c_str();
    DeleteFileW(strMark.c_str());
}

INSTANTIATE_TEST_SUITE_P(Engines, XTRmsCrash, ::testing::Values(XTRmsEngine::Sqlite, XTRmsEngine::Postgres),
    [](const ::testing::TestParamInfo<XTRmsEngine>& info) {
        return std::string(info.param == XTRmsEngine::Sqlite ? "Sqlite" : "Postgres");
    });
} // namespace
