// The demo's store: a fresh one gets the published accounts with their roles,
// a used one is never provisioned over, an unreadable file is never replaced,
// and the demo's policy (guest, lockout) is what its README promises.
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
        for (const wchar_t* pszName : {L"XTRmDemo.db", L"XTRmDemo.db-wal", L"XTRmDemo.db-shm", L"port", L"password"})
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

TEST_F(XTRmDemoStoreTest, TheRightsServerIsReadFromTheClusterFolder)
{
    const struct
    {
        const char* pszWhat;
        const char* pszPort;     // nullptr: no file
        const char* pszPassword; // nullptr: no file
        int nPort;               // 0: not running
        const wchar_t* pszPassword2;
    } cases[] = {
        {"running", "54321\n", "s3cret+pw\n", 54321, L"s3cret+pw"},
        {"stopped: no port file", nullptr, "s3cret+pw\n", 0, nullptr},
        {"no password", "54321\n", nullptr, 0, nullptr},
        {"port out of range", "654321\n", "s3cret+pw\n", 0, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        TearDown();
        if (c.pszPort != nullptr)
            WriteBytes(m_strFolder + L"\\port", c.pszPort);
        if (c.pszPassword != nullptr)
            WriteBytes(m_strFolder + L"\\password", c.pszPassword);
        XTRmsServiceConfig config;
        std::wstring strError;
        EXPECT_EQ(c.nPort != 0, XTRmDemoStore::ReadServer(m_strFolder, &config, &strError));
        EXPECT_EQ(c.nPort, config.serverSetting.GetPortNum());
        if (c.nPort == 0)
        {
            EXPECT_NE(std::wstring::npos, strError.find(m_strFolder));
            continue;
        }
        EXPECT_EQ(L"127.0.0.1", config.serverSetting.GetHost());
        EXPECT_EQ(c.pszPassword2, config.strServerPassword);
        EXPECT_EQ(L"xtrms", config.strServerUser);
        EXPECT_EQ(L"xtrms", config.strServerDatabase);
    }
}
} // namespace
