// The rights service's conformance suite: every case runs on SQLite and,
// where ctest started one, on a PostgreSQL cluster on loopback.
#include <winsock2.h>

#include "XTRmsStore.h"
#include "XTRmsTestStores.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace
{
using Rms::ERmsLoginResult;

// For failure messages: the text as far as ASCII reaches.
std::string Narrow(const std::wstring& strText)
{
    std::string strNarrow;
    for (wchar_t ch : strText)
        strNarrow += ch < 0x80 ? static_cast<char>(ch) : '?';
    return strNarrow;
}

class XTRmsServiceTest : public ::testing::TestWithParam<XTRmsEngine>
{
protected:
    void SetUp() override
    {
        if (GetParam() == XTRmsEngine::Postgres)
        {
            if (!XTRmsFindTestServer(&m_server))
                GTEST_SKIP() << "no PostgreSQL server here";
        }
        m_config = XTRmsTestConfig(GetParam(), m_server, XTRmsNewDatabaseFile());
        if (GetParam() == XTRmsEngine::Postgres)
        {
            ASSERT_TRUE(XTRmsEmptyServerDatabase(m_config));
        }
    }

    // A service started as a host starts it: connection test, Initialize.
    std::unique_ptr<XTRmsService> Start(const XTRmsServiceConfig& config)
    {
        auto pService = std::make_unique<XTRmsService>(config);
        Rms::RmsConnectionTest nTest = pService->TryConnectToRestrictionSource(
            Rms::RmsApplicationStandard, L"", XTRmsModeOf(GetParam()), 0, 0, L"");
        EXPECT_EQ(nTest, GetParam() == XTRmsEngine::Sqlite ? Rms::RmsConnectionOk : Rms::RmsConnectionServerConnected)
            << Narrow(pService->GetSettingsString());
        EXPECT_EQ(pService->Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsSuccess);
        return pService;
    }
    std::unique_ptr<XTRmsService> Start() { return Start(m_config); }

    // admin (Administrator) and alice (Operator) with passwords, nopass
    // (Operator) without one.
    std::unique_ptr<XTRmsService> StartProvisioned()
    {
        std::unique_ptr<XTRmsService> pService = Start();
        std::wstring strError;
        EXPECT_EQ(
            pService->AddUser(L"admin", L"The Admin", static_cast<Rms::RmsUserRole>(2), L"gate-keeper-1", &strError),
            Rms::RmsSuccess)
            << strError.c_str();
        EXPECT_EQ(pService->AddUser(
                      L"alice", L"Alice B\u00e4cker", static_cast<Rms::RmsUserRole>(1), L"blue-harbour-7", &strError),
            Rms::RmsSuccess)
            << strError.c_str();
        EXPECT_EQ(pService->AddUser(L"nopass", L"", static_cast<Rms::RmsUserRole>(1), L"", &strError), Rms::RmsSuccess);
        return pService;
    }

    std::vector<std::wstring> Events(const XTRmsService& service)
    {
        std::vector<std::wstring> vecEvents;
        for (const XTRmsAuditEntry& entry : service.GetAuditTrail(0))
            vecEvents.push_back(entry.strEvent + L":" + entry.strSubject + L":" + entry.strDetail);
        return vecEvents;
    }

    bool Execute(const wchar_t* pszSql)
    {
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectRaw(m_config, GetParam());
        return pConnection && pConnection->Execute(pszSql);
    }

    XTRmsTestServer m_server;
    XTRmsServiceConfig m_config;
};

std::string EngineName(const ::testing::TestParamInfo<XTRmsEngine>& info)
{
    return info.param == XTRmsEngine::Sqlite ? "Sqlite" : "Postgres";
}

INSTANTIATE_TEST_SUITE_P(
    Engines, XTRmsServiceTest, ::testing::Values(XTRmsEngine::Sqlite, XTRmsEngine::Postgres), EngineName);

struct LoginCase
{
    const char* pszWhat;
    const wchar_t* pszUser;
    const wchar_t* pszPassword;
    bool bGuestAllowed;
    bool bReportUnknown;
    ERmsLoginResult nExpected;
};

TEST_P(XTRmsServiceTest, LoginAnswersEachCaseWithItsCode)
{
    const LoginCase cases[] = {
        {"right password", L"alice", L"blue-harbour-7", false, false, Rms::ERmsLoginOk},
        {"wrong password", L"alice", L"blue-harbouR-7", false, false, Rms::ERmsLoginWrongPassword},
        {"unknown user like a wrong password", L"mallory", L"blue-harbour-7", false, false,
            Rms::ERmsLoginWrongPassword},
        {"unknown user reported when asked", L"mallory", L"blue-harbour-7", false, true, Rms::ERmsLoginUnknownUser},
        {"empty password", L"alice", L"", false, false, Rms::ERmsLoginWrongPassword},
        {"empty name", L"", L"blue-harbour-7", false, false, Rms::ERmsLoginWrongPassword},
        {"guest not allowed", L"", L"", false, false, Rms::ERmsLoginGuestNotAllowed},
        {"guest allowed", L"", L"", true, false, Rms::ERmsLoginOk},
        {"account without a password", L"nopass", L"", true, false, Rms::ERmsLoginWrongPassword},
        {"name differs in case", L"Alice", L"blue-harbour-7", false, false, Rms::ERmsLoginWrongPassword},
    };
    StartProvisioned();
    for (const LoginCase& c : cases)
    {
        XTRmsServiceConfig config = m_config;
        config.policy.bGuestLoginAllowed = c.bGuestAllowed;
        config.policy.bReportUnknownUser = c.bReportUnknown;
        std::unique_ptr<XTRmsService> pService = Start(config);
        EXPECT_EQ(pService->UserLogin(c.pszUser, c.pszPassword), c.nExpected) << c.pszWhat;
        EXPECT_EQ(pService->GetIsAllowed(1), c.nExpected == Rms::ERmsLoginOk && *c.pszUser != 0) << c.pszWhat;
    }
}

TEST_P(XTRmsServiceTest, DisabledAccountIsRefusedOnlyWithTheRightPassword)
{
    std::unique_ptr<XTRmsService> pAdmin = StartProvisioned();
    ASSERT_EQ(pAdmin->SetDisabled(L"alice", true, nullptr), Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->UserLogin(L"alice", L"wrong-one"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginAccountDisabled);
    EXPECT_FALSE(pService->GetIsAllowed(1));
    ASSERT_EQ(pAdmin->SetDisabled(L"alice", false, nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
}

TEST_P(XTRmsServiceTest, ConsecutiveFailuresLockUntilAnAdministratorUnlocks)
{
    std::unique_ptr<XTRmsService> pAdmin = StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start();
    // A success between failures starts the count again.
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-2"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-3"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-4"), Rms::ERmsLoginWrongPassword);
    // The third consecutive failure locks; then even the right password is refused.
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-5"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    // A second workstation sees the same lock; other users are not affected.
    std::unique_ptr<XTRmsService> pOther = Start();
    EXPECT_EQ(pOther->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pOther->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);

    ASSERT_TRUE(pAdmin->LoadUserProfiles() == Rms::RmsSuccess);
    std::vector<XTRmsUserRecord> vecUsers = pAdmin->ListUsers();
    auto itAlice = std::find_if(
        vecUsers.begin(), vecUsers.end(), [](const XTRmsUserRecord& r) { return r.strUserName == L"alice"; });
    ASSERT_NE(itAlice, vecUsers.end());
    EXPECT_TRUE(itAlice->bLocked);
    EXPECT_EQ(itAlice->nFailedLogins, 3u);

    ASSERT_EQ(pAdmin->Unlock(L"alice", nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(pAdmin->Unlock(L"nobody", nullptr), Rms::RmsFailure);
}

TEST_P(XTRmsServiceTest, LockForAPeriodEndsByItself)
{
    StartProvisioned();
    XTRmsServiceConfig config = m_config;
    config.policy.nLockoutThreshold = 2;
    config.policy.nLockoutSeconds = 1;
    std::unique_ptr<XTRmsService> pService = Start(config);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-2"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    Sleep(2100);
    // The count starts afresh once the lock has run out.
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-3"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
}

TEST_P(XTRmsServiceTest, UnknownUserLeavesTheSameTraceAsAWrongPassword)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start();
    size_t nBefore = pService->GetAuditTrail(0).size();
    EXPECT_EQ(pService->UserLogin(L"my-Secret-Typed-As-Name", L"whatever1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->GetLastServerMessage(), L"");
    std::vector<XTRmsAuditEntry> vecAudit = pService->GetAuditTrail(0);
    ASSERT_EQ(vecAudit.size(), nBefore + 1);
    EXPECT_EQ(vecAudit.back().strEvent, L"login-refused");
    // What was typed as a name is never recorded: it may be a password.
    for (const XTRmsAuditEntry& entry : vecAudit)
        EXPECT_EQ(entry.strSubject.find(L"Secret"), std::wstring::npos);
    EXPECT_EQ(pService->GetSettingsString().find(L"Secret"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, AuditRecordsWhoDidWhat)
{
    std::unique_ptr<XTRmsService> pService = StartProvisioned();
    XTRmsServiceConfig config = m_config;
    config.policy.bGuestLoginAllowed = true;
    std::unique_ptr<XTRmsService> pHost = Start(config);
    EXPECT_EQ(pHost->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
    EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 1, false), Rms::RmsSuccess);
    EXPECT_EQ(pHost->RemoveUser(L"nopass"), Rms::RmsSuccess);
    EXPECT_EQ(pHost->SaveUserProfiles(), Rms::RmsSuccess);
    EXPECT_EQ(pHost->UserLogin(L"", L""), Rms::ERmsLoginOk);
    EXPECT_EQ(pHost->UserLogin(L"alice", L"nope-nope"), Rms::ERmsLoginWrongPassword);

    const std::vector<std::wstring> vecExpected = {L"user-created:admin:role Administrator", L"password-set:admin:",
        L"user-created:alice:role Operator", L"password-set:alice:", L"user-created:nopass:role Operator",
        L"login:admin:", L"right-granted:alice:3", L"right-withdrawn:alice:1", L"user-removed:nopass:",
        L"guest-login::", L"login-refused:alice:2 wrong password"};
    EXPECT_EQ(Events(*pHost), vecExpected);
    std::vector<XTRmsAuditEntry> vecAudit = pHost->GetAuditTrail(0);
    ASSERT_EQ(vecAudit.size(), vecExpected.size());
    EXPECT_EQ(vecAudit[6].strActor, L"admin");
    EXPECT_EQ(vecAudit[6].strWorkstation, L"TESTWS");
    EXPECT_FALSE(vecAudit[6].strOsUser.empty());
    EXPECT_EQ(vecAudit[6].strTimeUtc.size(), 20u);
    // The latest entries come first in what GetAuditTrail(n) leaves out.
    std::vector<XTRmsAuditEntry> vecLast = pHost->GetAuditTrail(2);
    ASSERT_EQ(vecLast.size(), 2u);
    EXPECT_EQ(vecLast[0].strEvent, L"guest-login");
    EXPECT_EQ(vecLast[1].strEvent, L"login-refused");
    std::wstring strProblem;
    EXPECT_TRUE(pHost->VerifyAuditChain(&strProblem)) << strProblem.c_str();
}

struct TamperCase
{
    const char* pszWhat;
    const wchar_t* pszSql;
    const wchar_t* pszProblem;
};

TEST_P(XTRmsServiceTest, AuditChainDetectsEditedAndRemovedRows)
{
    const TamperCase cases[] = {
        {"edited detail", L"UPDATE xtrms_audit SET detail = 'role Operator' WHERE seq = 1", L"row 1 was changed"},
        {"edited actor", L"UPDATE xtrms_audit SET actor = 'someone' WHERE seq = 3", L"row 3 was changed"},
        {"row removed inside", L"DELETE FROM xtrms_audit WHERE seq = 2", L"row 2 is missing"},
        {"newest row removed", L"DELETE FROM xtrms_audit WHERE seq = 5", L"rows were removed"},
        {"row rehashed alone", L"UPDATE xtrms_audit SET hash = 'abc' WHERE seq = 4", L"row 4 was changed"},
    };
    for (const TamperCase& c : cases)
    {
        SetUp();
        std::unique_ptr<XTRmsService> pService = StartProvisioned();
        std::wstring strProblem;
        ASSERT_TRUE(pService->VerifyAuditChain(&strProblem)) << c.pszWhat;
        ASSERT_TRUE(Execute(c.pszSql)) << c.pszWhat;
        EXPECT_FALSE(pService->VerifyAuditChain(&strProblem)) << c.pszWhat;
        EXPECT_NE(strProblem.find(c.pszProblem), std::wstring::npos) << c.pszWhat << ": " << Narrow(strProblem);
    }
}

TEST_P(XTRmsServiceTest, ChangesWaitForSaveAndLoadDropsThem)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pDialog = Start();
    std::unique_ptr<XTRmsService> pOther = Start();
    ASSERT_EQ(pDialog->CreateUser(L"carol", static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);
    ASSERT_EQ(pDialog->SetUserIsAllowed(L"alice", 4, true), Rms::RmsSuccess);
    ASSERT_EQ(pDialog->RemoveUser(L"nopass"), Rms::RmsSuccess);
    // The working copy shows the changes at once; the store does not.
    bool bAllowed = false;
    EXPECT_TRUE(pDialog->IsUserDefined(L"carol"));
    EXPECT_FALSE(pDialog->IsUserDefined(L"nopass"));
    EXPECT_EQ(pDialog->GetUserIsAllowed(L"carol", 2, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    ASSERT_EQ(pOther->LoadUserProfiles(), Rms::RmsSuccess);
    EXPECT_FALSE(pOther->IsUserDefined(L"carol"));
    EXPECT_TRUE(pOther->IsUserDefined(L"nopass"));

    // Load drops them all.
    ASSERT_EQ(pDialog->LoadUserProfiles(), Rms::RmsSuccess);
    EXPECT_FALSE(pDialog->IsUserDefined(L"carol"));
    EXPECT_TRUE(pDialog->IsUserDefined(L"nopass"));
    EXPECT_EQ(pDialog->GetUserIsAllowed(L"alice", 4, &bAllowed), Rms::RmsSuccess);
    EXPECT_FALSE(bAllowed);
    EXPECT_EQ(pDialog->SaveUserProfiles(), Rms::RmsSuccess);
    ASSERT_EQ(pOther->LoadUserProfiles(), Rms::RmsSuccess);
    EXPECT_FALSE(pOther->IsUserDefined(L"carol"));

    // Save applies them all.
    ASSERT_EQ(pDialog->CreateUser(L"carol", static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);
    ASSERT_EQ(pDialog->SetUserIsAllowed(L"alice", 4, true), Rms::RmsSuccess);
    ASSERT_EQ(pDialog->RemoveUser(L"nopass"), Rms::RmsSuccess);
    ASSERT_EQ(pDialog->SaveUserProfiles(), Rms::RmsSuccess);
    ASSERT_EQ(pOther->LoadUserProfiles(), Rms::RmsSuccess);
    EXPECT_TRUE(pOther->IsUserDefined(L"carol"));
    EXPECT_FALSE(pOther->IsUserDefined(L"nopass"));
    EXPECT_EQ(pOther->GetUserIsAllowed(L"alice", 4, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    // The logged-in user cannot be removed, and unknown rights are refused.
    ASSERT_EQ(pOther->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_EQ(pOther->RemoveUser(L"admin"), Rms::RmsFailure);
    EXPECT_EQ(pOther->SetUserIsAllowed(L"alice", 99, true), Rms::RmsFailure);
    EXPECT_EQ(pOther->CreateUser(L"alice", static_cast<Rms::RmsUserRole>(1)), Rms::RmsFailure);
    EXPECT_EQ(pOther->CreateUser(L"dave", static_cast<Rms::RmsUserRole>(7)), Rms::RmsFailure);
}

TEST_P(XTRmsServiceTest, FailedSaveChangesNothingStoredAndKeepsTheChanges)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pFirst = Start();
    std::unique_ptr<XTRmsService> pSecond = Start();
    // Both create carol; the second also changes alice. The first save wins,
    // the second fails as a whole.
    ASSERT_EQ(pFirst->CreateUser(L"carol", static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);
    ASSERT_EQ(pSecond->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
    ASSERT_EQ(pSecond->CreateUser(L"carol", static_cast<Rms::RmsUserRole>(2)), Rms::RmsSuccess);
    ASSERT_EQ(pFirst->SaveUserProfiles(), Rms::RmsSuccess);
    size_t nAuditBefore = pFirst->GetAuditTrail(0).size();
    EXPECT_EQ(pSecond->SaveUserProfiles(), Rms::RmsFailure);
    EXPECT_NE(pSecond->GetLastServerMessage().find(L"carol"), std::wstring::npos);
    // Nothing of the failed save landed, not even its audit rows.
    std::unique_ptr<XTRmsService> pReader = Start();
    bool bAllowed = true;
    EXPECT_EQ(pReader->GetUserIsAllowed(L"alice", 3, &bAllowed), Rms::RmsSuccess);
    EXPECT_FALSE(bAllowed);
    EXPECT_FALSE(pReader->IsSuperUser(L"carol"));
    EXPECT_EQ(pReader->GetAuditTrail(0).size(), nAuditBefore);
    // The failed side keeps its working copy.
    EXPECT_EQ(pSecond->GetUserIsAllowed(L"alice", 3, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    std::wstring strProblem;
    EXPECT_TRUE(pReader->VerifyAuditChain(&strProblem)) << strProblem.c_str();
}

TEST_P(XTRmsServiceTest, TwoWorkstationsSavingAtOnceBothLand)
{
    StartProvisioned();
    const int kRounds = 5;
    std::unique_ptr<XTRmsService> pLeft = Start();
    std::unique_ptr<XTRmsService> pRight = Start();
    for (int nRound = 0; nRound < kRounds; ++nRound)
    {
        std::wstring strLeftUser = L"left" + std::to_wstring(nRound);
        std::wstring strRightUser = L"right" + std::to_wstring(nRound);
        ASSERT_EQ(pLeft->CreateUser(strLeftUser, static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);
        ASSERT_EQ(pLeft->SetUserIsAllowed(L"alice", 3, nRound % 2 == 0), Rms::RmsSuccess);
        ASSERT_EQ(pRight->CreateUser(strRightUser, static_cast<Rms::RmsUserRole>(2)), Rms::RmsSuccess);
        ASSERT_EQ(pRight->SetUserIsAllowed(L"admin", 1, nRound % 2 != 0), Rms::RmsSuccess);
        Rms::RmsResult nLeft = Rms::RmsFailure;
        Rms::RmsResult nRight = Rms::RmsFailure;
        std::thread left([&] { nLeft = pLeft->SaveUserProfiles(); });
        std::thread right([&] { nRight = pRight->SaveUserProfiles(); });
        left.join();
        right.join();
        EXPECT_EQ(nLeft, Rms::RmsSuccess) << nRound << pLeft->GetLastServerMessage().c_str();
        EXPECT_EQ(nRight, Rms::RmsSuccess) << nRound;
    }
    std::unique_ptr<XTRmsService> pReader = Start();
    for (int nRound = 0; nRound < kRounds; ++nRound)
    {
        EXPECT_TRUE(pReader->IsUserDefined(L"left" + std::to_wstring(nRound)));
        EXPECT_TRUE(pReader->IsSuperUser(L"right" + std::to_wstring(nRound)));
    }
    bool bAllowed = false;
    EXPECT_EQ(pReader->GetUserIsAllowed(L"alice", 3, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed); // the last round's value, 4 % 2 == 0
    EXPECT_EQ(pReader->GetUserIsAllowed(L"admin", 1, &bAllowed), Rms::RmsSuccess);
    EXPECT_FALSE(bAllowed);
    std::wstring strProblem;
    EXPECT_TRUE(pReader->VerifyAuditChain(&strProblem)) << strProblem.c_str();
}

TEST_P(XTRmsServiceTest, OlderSchemaIsMigratedAndNewerRefused)
{
    // A version-1 store as an earlier service left it.
    {
        XTRmsServiceConfig config = m_config;
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectRaw(config, GetParam());
        ASSERT_TRUE(pConnection);
        XTRmsStore store(GetParam(), std::move(pConnection));
        ASSERT_TRUE(store.Migrate(1));
        ASSERT_TRUE(store.GetConnection().Execute(
            L"INSERT INTO xtrms_users (name, full_name, role_id) VALUES ('old-timer', 'Old Timer', 1)"));
        ASSERT_TRUE(store.GetConnection().Execute(
            L"INSERT INTO xtrms_user_rights (user_name, right_id) VALUES ('old-timer', 2)"));
    }
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->GetSchemaVersion(), XTRmsService::GetLatestSchemaVersion());
    bool bAllowed = false;
    EXPECT_TRUE(pService->IsUserDefined(L"old-timer"));
    EXPECT_EQ(pService->GetUserIsAllowed(L"old-timer", 2, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    EXPECT_EQ(pService->SetPassword(L"old-timer", L"fresh-password", nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UserLogin(L"old-timer", L"fresh-password"), Rms::ERmsLoginOk);

    ASSERT_TRUE(Execute(L"UPDATE xtrms_schema SET version = 99 WHERE id = 1"));
    XTRmsService newer(m_config);
    EXPECT_EQ(newer.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", XTRmsModeOf(GetParam()), 0, 0, L""),
        Rms::RmsConnectionServerIncompatible);
    EXPECT_EQ(newer.Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsFailure);
    EXPECT_EQ(newer.UserLogin(L"old-timer", L"fresh-password"), Rms::ERmsLoginSourceUnavailable);
    std::wstring strSettings = newer.GetSettingsString();
    EXPECT_NE(strSettings.find(L"NOT AVAILABLE"), std::wstring::npos);
    EXPECT_NE(strSettings.find(L"schema version 99"), std::wstring::npos);
    std::wstring strError;
    EXPECT_FALSE(newer.OpenStore(GetParam(), true, &strError));
    EXPECT_NE(strError.find(L"newer"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, PasswordsFollowThePolicyAndNeverAppearInClear)
{
    std::unique_ptr<XTRmsService> pAdmin = StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"new-password"), Rms::ERmsPasswordNotPermitted);
    ASSERT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"alice");
    EXPECT_FALSE(pService->CanSetOtherPasswords());
    EXPECT_EQ(pService->ChangeOwnPassword(L"wrong-old", L"new-password"), Rms::ERmsPasswordWrongOld);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"short"), Rms::ERmsPasswordTooShort);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"my-ALICE-pass"), Rms::ERmsPasswordContainsUserName);
    EXPECT_EQ(pService->SetUserPassword(L"admin", L"taken-over!"), Rms::ERmsPasswordNotPermitted);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"Gr\u00fc\u00dfe-2026"), Rms::ERmsPasswordOk);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"Gr\u00fc\u00dfe-2026"), Rms::ERmsLoginOk);

    ASSERT_EQ(pService->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_TRUE(pService->CanSetOtherPasswords());
    EXPECT_EQ(pService->SetUserPassword(L"nopass", L"finally-one"), Rms::ERmsPasswordOk);
    EXPECT_EQ(pService->SetUserPassword(L"ghost", L"finally-one"), Rms::ERmsPasswordUnknownUser);
    EXPECT_EQ(pService->UserLogin(L"nopass", L"finally-one"), Rms::ERmsLoginOk);

    // Stored are a hash, a salt and the iteration count; no password.
    std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectRaw(m_config, GetParam());
    ASSERT_TRUE(pConnection);
    XTRmsOdbc::Statement statement(*pConnection,
        L"SELECT name, password_hash, password_salt, password_iterations FROM xtrms_users WHERE password_hash IS NOT "
        L"NULL");
    ASSERT_TRUE(statement.Execute());
    std::vector<std::wstring> vecSalts;
    while (statement.Fetch())
    {
        std::wstring strName = statement.GetText(1);
        std::wstring strHash = statement.GetText(2);
        vecSalts.push_back(statement.GetText(3));
        EXPECT_EQ(strHash.size(), 64u) << strName.c_str();
        EXPECT_EQ(vecSalts.back().size(), 32u);
        EXPECT_EQ(statement.GetInt(4), 1000);
    }
    EXPECT_EQ(vecSalts.size(), 3u);
    std::sort(vecSalts.begin(), vecSalts.end());
    EXPECT_EQ(std::unique(vecSalts.begin(), vecSalts.end()), vecSalts.end());
    for (const wchar_t* pszSecret : {L"blue-harbour-7", L"gate-keeper-1", L"finally-one", L"Gr\u00fc\u00dfe-2026"})
    {
        EXPECT_EQ(pService->GetSettingsString().find(pszSecret), std::wstring::npos);
        for (const XTRmsAuditEntry& entry : pService->GetAuditTrail(0))
            EXPECT_EQ((entry.strDetail + entry.strSubject).find(pszSecret), std::wstring::npos);
    }
}

TEST_P(XTRmsServiceTest, NamesAndRightsRoundTripWithoutLoss)
{
    std::unique_ptr<XTRmsService> pService = Start();
    const std::wstring strName = L"J\u00fcrgen \u64cd\u4f5c\u5458 O'Brien; DROP TABLE xtrms_users";
    ASSERT_EQ(pService->AddUser(strName, L"\u00c5sa \"Q\" \u00d8stergaard", static_cast<Rms::RmsUserRole>(1),
                  L"\u043f\u0430\u0440\u043e\u043b\u044c-2026", nullptr),
        Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pReader = Start();
    std::vector<XTRmsUserInfo> vecUsers = pReader->GetAllDefinedUsers();
    ASSERT_EQ(vecUsers.size(), 1u);
    EXPECT_EQ(vecUsers[0].GetUserNameW(), strName);
    EXPECT_EQ(vecUsers[0].GetFullName(), L"\u00c5sa \"Q\" \u00d8stergaard");
    EXPECT_EQ(pReader->UserLogin(strName, L"\u043f\u0430\u0440\u043e\u043b\u044c-2026"), Rms::ERmsLoginOk);
    EXPECT_TRUE(pReader->GetIsAllowed(1));
    EXPECT_TRUE(pReader->GetIsAllowed(2));
    EXPECT_FALSE(pReader->GetIsAllowed(3));
    std::vector<XTRmsRestrictionDefinition> vecRights = pReader->GetRoleRestrDefinitions();
    ASSERT_EQ(vecRights.size(), 4u);
    EXPECT_EQ(vecRights[3].GetName(), L"Manage users");
}

TEST_P(XTRmsServiceTest, SettingsShowStorePolicyAndLatestAuditButNoSecret)
{
    std::unique_ptr<XTRmsService> pService = StartProvisioned();
    ASSERT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    std::wstring strSettings = pService->GetSettingsString();
    for (const wchar_t* pszPart : {GetParam() == XTRmsEngine::Sqlite ? L"SQLite file" : L"PostgreSQL database",
             L"Schema version   : 3", L"after 3 failed logins", L"PBKDF2-HMAC-SHA256, 1000 iterations",
             L"Logged-in user   : alice", L"login  alice", L"answered as a wrong password"})
        EXPECT_NE(strSettings.find(pszPart), std::wstring::npos) << Narrow(pszPart);
    if (GetParam() == XTRmsEngine::Postgres)
    {
        EXPECT_EQ(strSettings.find(m_config.strServerPassword), std::wstring::npos);
    }
}

// --- The local file and the server: what each connection test answers ----

TEST(XTRmsLocalSource, MissingUnreadableAndAbsentFilesAreReportedNotReplaced)
{
    XTRmsTestServer noServer;
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Sqlite, noServer, XTRmsNewDatabaseFile());
    config.bCreateDatabase = false;
    XTRmsService missing(config);
    EXPECT_EQ(
        missing.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeSource, 0, 0, L""),
        Rms::RmsConnectionServerNotFound);
    EXPECT_EQ(missing.Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsFailure);
    EXPECT_EQ(missing.UserLogin(L"admin", L"anything"), Rms::ERmsLoginSourceUnavailable);
    EXPECT_EQ(GetFileAttributesW(config.strDatabaseFile.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing created";
    EXPECT_NE(missing.GetSettingsString().find(L"does not exist"), std::wstring::npos);

    // A file that is not a database is reported, and stays as it was.
    HANDLE hFile = CreateFileW(config.strDatabaseFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    const char szJunk[] = "This is not a database, but someone's notes. Keep them.\n";
    DWORD nWritten = 0;
    WriteFile(hFile, szJunk, sizeof(szJunk) - 1, &nWritten, nullptr);
    CloseHandle(hFile);
    XTRmsService damaged(config);
    EXPECT_EQ(
        damaged.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeSource, 0, 0, L""),
        Rms::RmsConnectionServerIncompatible);
    EXPECT_NE(damaged.GetSettingsString().find(L"NOT AVAILABLE"), std::wstring::npos);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(config.strDatabaseFile.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, sizeof(szJunk) - 1);
    std::wstring strError;
    EXPECT_FALSE(damaged.OpenStore(XTRmsEngine::Sqlite, true, &strError));
    EXPECT_FALSE(strError.empty());
    DeleteFileW(config.strDatabaseFile.c_str());
}

TEST(XTRmsLocalSource, FileLockedByAnotherProcessIsWaitedForNeverTakenForDamaged)
{
    XTRmsTestServer noServer;
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Sqlite, noServer, XTRmsNewDatabaseFile());
    config.nTimeoutSeconds = 1;
    {
        XTRmsService creator(config);
        ASSERT_TRUE(creator.OpenStore(XTRmsEngine::Sqlite, true, nullptr));
        ASSERT_EQ(creator.AddUser(L"alice", L"", static_cast<Rms::RmsUserRole>(1), L"blue-harbour-7", nullptr),
            Rms::RmsSuccess);
    }
    XTRmsService service(config);
    ASSERT_EQ(
        service.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeSource, 0, 0, L""),
        Rms::RmsConnectionOk);
    ASSERT_EQ(service.Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsSuccess);
    // Another program holds the write lock for longer than the bound: the
    // login is refused as "store unavailable", and nothing is replaced.
    std::unique_ptr<XTRmsOdbc::Connection> pHolder = XTRmsConnectRaw(config, XTRmsEngine::Sqlite);
    ASSERT_TRUE(pHolder && pHolder->Begin(L"BEGIN IMMEDIATE"));
    EXPECT_EQ(service.UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginSourceUnavailable);
    ASSERT_EQ(service.CreateUser(L"bob", static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);
    EXPECT_EQ(service.SaveUserProfiles(), Rms::RmsFailure);
    ASSERT_TRUE(pHolder->Rollback());
    // Once the lock is gone everything works on the same data.
    EXPECT_EQ(service.UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(service.SaveUserProfiles(), Rms::RmsSuccess);
    XTRmsService reader(config);
    ASSERT_EQ(
        reader.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeSource, 0, 0, L""),
        Rms::RmsConnectionOk);
    EXPECT_TRUE(reader.IsUserDefined(L"alice"));
    EXPECT_TRUE(reader.IsUserDefined(L"bob"));
}

// A loopback listener that accepts connections and never says a word.
class SilentListener
{
public:
    SilentListener()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(m_socket, 4);
        int nLength = sizeof(address);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
    }
    ~SilentListener()
    {
        closesocket(m_socket);
        WSACleanup();
    }
    int GetPort() const { return m_nPort; }
    SOCKET GetSocket() const { return m_socket; }

private:
    SOCKET m_socket = INVALID_SOCKET;
    int m_nPort = 0;
};

// A loopback listener that answers every connection like a web server would.
class HttpListener
{
public:
    HttpListener() : m_thread([this] { Serve(); }) {}
    ~HttpListener()
    {
        m_bStop = true;
        m_thread.join();
    }
    int GetPort() const { return m_listener.GetPort(); }

private:
    void Serve()
    {
        // Bounded: a few connections within the test's time.
        for (int nTurn = 0; nTurn < 200 && !m_bStop; ++nTurn)
        {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_listener.GetSocket(), &readable);
            timeval wait = {0, 50000};
            if (select(0, &readable, nullptr, nullptr, &wait) != 1)
                continue;
            SOCKET client = accept(m_listener.GetSocket(), nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            const char szAnswer[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            send(client, szAnswer, sizeof(szAnswer) - 1, 0);
            closesocket(client);
        }
    }

    SilentListener m_listener;
    volatile bool m_bStop = false;
    std::thread m_thread;
};

// A loopback port that nobody listens on: bound and closed again.
int ClosedLoopbackPort()
{
    SilentListener listener;
    return listener.GetPort();
}

TEST(XTRmsRightsServer, ConnectionTestsAnswerTheFacadesCodes)
{
    XTRmsTestServer server;
    if (!XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    XTRmsServiceConfig base = XTRmsTestConfig(XTRmsEngine::Postgres, server, L"");
    ASSERT_TRUE(XTRmsEmptyServerDatabase(base));
    SilentListener silent;
    HttpListener web;
    struct Case
    {
        const char* pszWhat;
        std::wstring strHost;
        int nPort;
        std::wstring strPassword;
        Rms::RmsConnectionTest nExpected;
    };
    const Case cases[] = {
        {"connected", L"127.0.0.1", server.nPort, server.strPassword, Rms::RmsConnectionServerConnected},
        {"connected over IPv6 loopback name", L"localhost", server.nPort, server.strPassword,
            Rms::RmsConnectionServerConnected},
        {"closed port", L"127.0.0.1", ClosedLoopbackPort(), server.strPassword, Rms::RmsConnectionServerNotFound},
        {"wrong credentials", L"127.0.0.1", server.nPort, L"not-" + server.strPassword,
            Rms::RmsConnectionServerRefused},
        {"password with braces", L"127.0.0.1", server.nPort, L"}{;Uid=postgres", Rms::RmsConnectionServerRefused},
        {"a web server on the port", L"127.0.0.1", web.GetPort(), server.strPassword, Rms::RmsConnectionServerNotFound},
        {"no answer", L"127.0.0.1", silent.GetPort(), server.strPassword, Rms::RmsConnectionServerTimeout},
        {"port out of range", L"127.0.0.1", 70000, server.strPassword, Rms::RmsConnectionServerAddressInvalid},
        {"host with attributes", L"127.0.0.1;Port=1", server.nPort, server.strPassword,
            Rms::RmsConnectionServerAddressInvalid},
        {"no host", L"", server.nPort, server.strPassword, Rms::RmsConnectionServerNotConfigured},
    };
    for (const Case& c : cases)
    {
        XTRmsServiceConfig config = base;
        config.strServerPassword = c.strPassword;
        XTRmsService service(config);
        service.SetServerSetting(XTRmsServerSetting(c.strHost, c.nPort));
        EXPECT_EQ(service.TryConnectToRestrictionSource(
                      Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeServer, 0, 0, L""),
            c.nExpected)
            << c.pszWhat << " " << Narrow(service.GetSettingsString());
    }
}
} // namespace
