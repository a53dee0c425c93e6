// The demo's store: a fresh one gets the published accounts with their roles,
// a used one is never provisioned over, an unreadable file is never replaced,
// the demo's policy (guest, lockout) is what its README promises, a lock is
// lifted only by an administrator, and the rights server's folder gives the
// workstation's account to the host and the database administrator's only
// to the set-up.
#include <windows.h>

#include "XTRmDemoRights.h"
#include "XTRmDemoStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace
{
std::string Narrow(const std::wstring& strText)
{
    return std::string(strText.begin(), strText.end());
}

std::string ReadBytes(const std::wstring& strPath)
{
    std::ifstream file(Narrow(strPath), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::wstring& strPath, const std::string& strBytes)
{
    std::ofstream(Narrow(strPath), std::ios::binary) << strBytes;
}

class XTRmDemoStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szFolder[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, szFolder);
        m_strFolder = std::wstring(szFolder) + L"xtrm-demo-test-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_strFolder.c_str(), nullptr);
        m_strFile = m_strFolder + L"\\XTRmDemo.db";
        TearDown();
    }
    void TearDown() override
    {
        for (const wchar_t* pszName :
            {L"XTRmDemo.db", L"XTRmDemo.db-wal", L"XTRmDemo.db-shm", L"port", L"password", L"admin-password"})
            ::DeleteFileW((m_strFolder + L"\\" + pszName).c_str());
    }

    // The demo's configuration on the test file, with cheap hashes.
    std::unique_ptr<XTRmsService> NewService()
    {
        XTRmsServiceConfig config = XTRmDemoStore::MakeConfig();
        config.strDatabaseFile = m_strFile;
        config.policy.nPbkdf2Iterations = 1000;
        return std::make_unique<XTRmsService>(config);
    }

    // The demo's configuration started as the host starts its service: the
    // connection test and Initialize, no administrator's power.
    std::unique_ptr<XTRmsService> NewWorkstation()
    {
        std::unique_ptr<XTRmsService> pService = NewService();
        if (pService->TryConnectToRestrictionSource(
                Rms::RmsApplicationWithHeader, L"", Rms::RmsConnectModeSource, 0, 0, L"") != Rms::RmsConnectionOk ||
            pService->Initialize(Rms::RmsApplicationWithHeader, L"", L"", L"", L"", 0, 0, L"") != Rms::RmsSuccess)
            return nullptr;
        return pService;
    }

    std::wstring m_strFolder;
    std::wstring m_strFile;
};

TEST_F(XTRmDemoStoreTest, AFreshStoreGetsTheAccountsAndAUsedOrUnreadableOneIsLeftAsItIs)
{
    enum class Before
    {
        Missing,
        Used,
        Garbage
    };
    const struct
    {
        const char* pszWhat;
        Before nBefore;
        bool bOk;
        bool bProvisioned;
    } cases[] = {
        {"missing file", Before::Missing, true, true},
        {"store in use", Before::Used, true, false},
        {"not a database", Before::Garbage, false, false},
    };
    const std::string strGarbage(4096, '\x5a');
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        TearDown();
        if (c.nBefore == Before::Used)
        {
            std::unique_ptr<XTRmsService> pEarlier = NewService();
            bool bProvisioned = false;
            ASSERT_TRUE(XTRmDemoStore::Provision(*pEarlier, XTRmsEngine::Sqlite, &bProvisioned, nullptr));
            ASSERT_EQ(Rms::RmsSuccess, pEarlier->SetPassword(L"admin", L"changed-since", nullptr));
        }
        if (c.nBefore == Before::Garbage)
            WriteBytes(m_strFile, strGarbage);

        std::unique_ptr<XTRmsService> pService = NewService();
        bool bProvisioned = true;
        std::wstring strError;
        EXPECT_EQ(c.bOk, XTRmDemoStore::Provision(*pService, XTRmsEngine::Sqlite, &bProvisioned, &strError));
        EXPECT_EQ(c.bProvisioned, bProvisioned);
        if (!c.bOk)
        {
            EXPECT_NE(std::wstring::npos, strError.find(m_strFile)) << Narrow(strError);
            EXPECT_EQ(strGarbage, ReadBytes(m_strFile));
            continue;
        }
        // Every published account logs in with its own password (the admin's
        // of a used store as it was changed), and only the administrator is
        // a super-user.
        for (const XTRmDemoAccount& account : kXTRmDemoAccounts)
        {
            SCOPED_TRACE(Narrow(account.pszUserName));
            const std::wstring strPassword = c.nBefore == Before::Used && account.nRole == XTRmDemoRoleAdministrator
                ? L"changed-since"
                : account.pszPassword;
            EXPECT_EQ(Rms::ERmsLoginOk, pService->UserLogin(account.pszUserName, strPassword));
            EXPECT_EQ(account.nRole == XTRmDemoRoleAdministrator, pService->IsSuperUser(account.pszUserName));
        }
    }
}

TEST_F(XTRmDemoStoreTest, RolesGuestAndLockoutAreTheDemos)
{
    std::unique_ptr<XTRmsService> pService = NewService();
    bool bProvisioned = false;
    ASSERT_TRUE(XTRmDemoStore::Provision(*pService, XTRmsEngine::Sqlite, &bProvisioned, nullptr));

    const struct
    {
        const wchar_t* pszUser; // empty: a guest
        int nRight;
        bool bAllowed;
    } rights[] = {
        {L"", XTRmDemoRightViewReports, true},
        {L"", XTRmDemoRightPrint, false},
        {L"bob", XTRmDemoRightRunBatches, true},
        {L"bob", XTRmDemoRightEditRecipes, false},
        {L"alice", XTRmDemoRightEditRecipes, true},
        {L"alice", XTRmDemoRightManageUsers, false},
        {L"admin", XTRmDemoRightManageUsers, true},
    };
    for (const auto& r : rights)
    {
        SCOPED_TRACE(Narrow(r.pszUser) + " right " + std::to_string(r.nRight));
        ASSERT_EQ(Rms::ERmsLoginOk, pService->UserLogin(r.pszUser, XTRmDemoAccountPassword(r.pszUser)));
        EXPECT_EQ(r.bAllowed, pService->GetIsAllowed(r.nRight));
    }

    // The fifth wrong password in a row locks, and then the right one is
    // refused too.
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(Rms::ERmsLoginWrongPassword, pService->UserLogin(L"bob", L"wrong-password")) << i;
    EXPECT_EQ(Rms::ERmsLoginUserLocked, pService->UserLogin(L"bob", L"wrong-password"));
    EXPECT_EQ(Rms::ERmsLoginUserLocked, pService->UserLogin(L"bob", XTRmDemoAccountPassword(L"bob")));
}

TEST_F(XTRmDemoStoreTest, OnlyAnAdministratorLiftsTheLock)
{
    const struct
    {
        const char* pszWhat;
        // The set-up's own service, or a workstation with this user logged
        // in (nullptr: nobody, empty: a guest).
        bool bStoreAdministrator;
        const wchar_t* pszUser;
        bool bLocked;
        bool bLifted;
    } cases[] = {
        {"the store's administrator", true, nullptr, true, true},
        {"the administrator logged in", false, L"admin", true, true},
        {"nobody logged in", false, nullptr, true, false},
        {"a guest", false, L"", true, false},
        {"an engineer", false, L"alice", true, false},
        {"nothing to lift", false, L"admin", false, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        TearDown();
        std::unique_ptr<XTRmsService> pAdministrator = NewService();
        bool bProvisioned = false;
        ASSERT_TRUE(XTRmDemoStore::Provision(*pAdministrator, XTRmsEngine::Sqlite, &bProvisioned, nullptr));
        if (c.bLocked)
        {
            std::unique_ptr<XTRmsService> pBobsDesk = NewWorkstation();
            ASSERT_TRUE(pBobsDesk);
            for (int i = 0; i < 5; ++i)
                pBobsDesk->UserLogin(L"bob", L"wrong-password");
            ASSERT_EQ(Rms::ERmsLoginUserLocked, pBobsDesk->UserLogin(L"bob", XTRmDemoAccountPassword(L"bob")));
        }

        std::unique_ptr<XTRmsService> pLifter = c.bStoreAdministrator ? std::move(pAdministrator) : NewWorkstation();
        ASSERT_TRUE(pLifter);
        if (c.pszUser != nullptr)
        {
            ASSERT_EQ(Rms::ERmsLoginOk, pLifter->UserLogin(c.pszUser, XTRmDemoAccountPassword(c.pszUser)));
        }
        EXPECT_EQ(c.bLifted, XTRmDemoStore::LiftLock(*pLifter, L"bob"));

        // What bob finds at his workstation afterwards.
        std::unique_ptr<XTRmsService> pBobsDesk = NewWorkstation();
        ASSERT_TRUE(pBobsDesk);
        EXPECT_EQ(!c.bLocked || c.bLifted ? Rms::ERmsLoginOk : Rms::ERmsLoginUserLocked,
            pBobsDesk->UserLogin(L"bob", XTRmDemoAccountPassword(L"bob")));
    }
}

TEST_F(XTRmDemoStoreTest, TheRightsServerIsReadFromTheClusterFolder)
{
    // The host reads the workstation's account, the set-up the database
    // administrator's; each only from its own file.
    const struct
    {
        const char* pszWhat;
        bool bAdministrator;
        const char* pszPort;     // nullptr: no file
        const char* pszPassword; // the workstation's; nullptr: no file
        const char* pszAdminPassword;
        int nPort; // 0: refused
        const wchar_t* pszUser;
        const wchar_t* pszPasswordRead;
    } cases[] = {
        {"workstation", false, "54321\n", "s3cret+pw\n", "adm1n+pw\n", 54321, L"xtrms", L"s3cret+pw"},
        {"administrator", true, "54321\n", "s3cret+pw\n", "adm1n+pw\n", 54321, L"postgres", L"adm1n+pw"},
        {"workstation without the administrator's file", false, "54321\n", "s3cret+pw\n", nullptr, 54321, L"xtrms",
            L"s3cret+pw"},
        {"administrator without his file", true, "54321\n", "s3cret+pw\n", nullptr, 0, nullptr, nullptr},
        {"workstation without its file", false, "54321\n", nullptr, "adm1n+pw\n", 0, nullptr, nullptr},
        {"stopped: no port file", false, nullptr, "s3cret+pw\n", "adm1n+pw\n", 0, nullptr, nullptr},
        {"administrator, stopped", true, nullptr, "s3cret+pw\n", "adm1n+pw\n", 0, nullptr, nullptr},
        {"port out of range", false, "654321\n", "s3cret+pw\n", "adm1n+pw\n", 0, nullptr, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        TearDown();
        if (c.pszPort != nullptr)
            WriteBytes(m_strFolder + L"\\port", c.pszPort);
        if (c.pszPassword != nullptr)
            WriteBytes(m_strFolder + L"\\password", c.pszPassword);
        if (c.pszAdminPassword != nullptr)
            WriteBytes(m_strFolder + L"\\admin-password", c.pszAdminPassword);
        XTRmsServiceConfig config;
        std::wstring strError;
        const bool bRead = c.bAdministrator ? XTRmDemoStore::ReadServerAdministrator(m_strFolder, &config, &strError)
                                            : XTRmDemoStore::ReadServer(m_strFolder, &config, &strError);
        EXPECT_EQ(c.nPort != 0, bRead);
        EXPECT_EQ(c.nPort, config.serverSetting.GetPortNum());
        if (c.nPort == 0)
        {
            EXPECT_NE(std::wstring::npos, strError.find(m_strFolder));
            EXPECT_EQ(L"", config.strServerPassword);
            continue;
        }
        EXPECT_EQ(L"127.0.0.1", config.serverSetting.GetHost());
        EXPECT_EQ(c.pszPasswordRead, config.strServerPassword);
        EXPECT_EQ(c.pszUser, config.strServerUser);
        EXPECT_EQ(L"xtrms", config.strServerDatabase);
    }
}
} // namespace
