// The rights service's conformance suite: every case runs on SQLite and,
// where ctest started one, on a PostgreSQL cluster on loopback.
#include <winsock2.h>

#include "XTRmsCrypto.h"
#include "XTRmsStore.h"
#include "XTRmsTestStores.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <thread>

namespace
{
using Rms::ERmsLoginResult;
const auto kOperator = static_cast<Rms::RmsUserRole>(1);
const auto kAdministrator = static_cast<Rms::RmsUserRole>(2);

// For failure messages: the text as far as ASCII reaches.
std::string Narrow(const std::wstring& strText)
{
    std::string strNarrow;
    for (wchar_t ch : strText)
        strNarrow += ch < 0x80 ? static_cast<char>(ch) : '?';
    return strNarrow;
}

// A host's connection test in the given mode.
Rms::RmsConnectionTest TryConnect(XTRmsService& service, int nMode)
{
    return service.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", nMode, 0, 0, L"");
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
        m_config.fnClock = [this] { return m_nNow; };
        m_config.fnDeriveKey = [this](const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt,
                                   unsigned int nIterations) {
            ++m_nKeyDerivations;
            return XTRmsCrypto::Pbkdf2Sha256(strPassword, vecSalt, nIterations, 32);
        };
        if (GetParam() == XTRmsEngine::Postgres)
        {
            ASSERT_TRUE(XTRmsEmptyServerDatabase(m_config, m_server));
        }
        // The store as its administrator creates it: the schema, and on a
        // rights server the host's definitions and policy.
        std::unique_ptr<XTRmsService> pAdmin = Admin();
        ASSERT_TRUE(pAdmin->IsStoreAdministrator());
    }

    // A service started as a host starts it: connection test, Initialize.
    std::unique_ptr<XTRmsService> Start(const XTRmsServiceConfig& config)
    {
        auto pService = std::make_unique<XTRmsService>(config);
        EXPECT_EQ(Probe(*pService), Connected()) << Narrow(pService->GetSettingsString());
        EXPECT_EQ(pService->Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsSuccess);
        return pService;
    }
    std::unique_ptr<XTRmsService> Start() { return Start(m_config); }

    // A host logged in as the given user.
    std::unique_ptr<XTRmsService> StartAs(const wchar_t* pszUser, const wchar_t* pszPassword)
    {
        std::unique_ptr<XTRmsService> pService = Start();
        EXPECT_EQ(pService->UserLogin(pszUser, pszPassword), Rms::ERmsLoginOk) << Narrow(pszUser);
        return pService;
    }

    // The store's administrator: the SQLite file opened directly, or the
    // PostgreSQL superuser.
    std::unique_ptr<XTRmsService> Admin()
    {
        auto pService = std::make_unique<XTRmsService>(XTRmsAdminConfig(m_config, m_server));
        std::wstring strError;
        EXPECT_TRUE(pService->OpenStore(GetParam(), true, &strError)) << Narrow(strError);
        return pService;
    }

    // admin (Administrator) and alice (Operator) with passwords, nopass
    // (Operator) without one; returns a host nobody is logged in to.
    std::unique_ptr<XTRmsService> StartProvisioned()
    {
        std::unique_ptr<XTRmsService> pAdmin = Admin();
        std::wstring strError;
        EXPECT_EQ(pAdmin->AddUser(L"admin", L"The Admin", kAdministrator, L"gate-keeper-1", &strError), Rms::RmsSuccess)
            << Narrow(strError);
        EXPECT_EQ(
            pAdmin->AddUser(L"alice", L"Alice B\u00e4cker", kOperator, L"blue-harbour-7", &strError), Rms::RmsSuccess)
            << Narrow(strError);
        EXPECT_EQ(pAdmin->AddUser(L"nopass", L"", kOperator, L"", &strError), Rms::RmsSuccess);
        return Start();
    }

    // The policy the store applies: the host's configuration on SQLite, the
    // rights server's own (set by its administrator) on PostgreSQL.
    XTRmsServiceConfig WithPolicy(const XTRmsPolicy& policy)
    {
        XTRmsServiceConfig config = m_config;
        config.policy = policy;
        if (GetParam() == XTRmsEngine::Postgres)
        {
            std::wstring strError;
            EXPECT_EQ(Admin()->SetPolicy(policy, &strError), Rms::RmsSuccess) << Narrow(strError);
        }
        return config;
    }

    std::vector<std::wstring> Events()
    {
        std::vector<std::wstring> vecEvents;
        for (const XTRmsAuditEntry& entry : Admin()->GetAuditTrail(0))
            vecEvents.push_back(entry.strEvent + L":" + entry.strSubject + L":" + entry.strDetail);
        return vecEvents;
    }

    // Raw SQL as the store's administrator would type it.
    bool ExecuteAsAdministrator(const std::wstring& strSql)
    {
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(m_config, GetParam(), m_server);
        if (!pConnection)
            return false;
        // The trail refuses changes by trigger even to its owner; the
        // superuser can switch triggers off for the session.
        if (GetParam() == XTRmsEngine::Postgres &&
            (!pConnection->Execute(L"SET search_path = xtrms") ||
                !pConnection->Execute(L"SET session_replication_role = replica")))
            return false;
        return pConnection->Execute(strSql.c_str());
    }

    // Ages a user's password: the injected clock on SQLite (every reading
    // moves), the stored time on the rights server, whose clock is its own.
    void AgePassword(const wchar_t* pszUser, long long nSeconds)
    {
        if (GetParam() == XTRmsEngine::Postgres)
        {
            ASSERT_TRUE(ExecuteAsAdministrator(L"UPDATE xtrms_users SET password_changed = password_changed - " +
                std::to_wstring(nSeconds) + L" WHERE name = '" + pszUser + L"'"));
        }
        else
            m_nNow += nSeconds;
    }

    // A column of a user's row as the store holds it.
    std::wstring Stored(const wchar_t* pszColumn, const wchar_t* pszUser)
    {
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(m_config, GetParam(), m_server);
        if (!pConnection)
            return L"(no connection)";
        XTRmsOdbc::Statement read(*pConnection,
            (std::wstring(L"SELECT ") + pszColumn + L" FROM " + XTRmsTable(GetParam(), L"xtrms_users") +
                L" WHERE name = ?")
                .c_str());
        read.Bind(std::wstring(pszUser));
        return read.Execute() && read.Fetch() ? read.GetText(1) : L"(no row)";
    }

    // Whether the store grants the user the right: 1, 0, or -1 unreadable.
    int HoldsRight(const wchar_t* pszUser, int nRight)
    {
        bool bAllowed = false;
        return Admin()->GetUserIsAllowed(pszUser, nRight, &bAllowed) == Rms::RmsSuccess ? bAllowed : -1;
    }

    Rms::RmsConnectionTest Probe(XTRmsService& service) { return TryConnect(service, XTRmsModeOf(GetParam())); }
    Rms::RmsConnectionTest Connected() const
    {
        return GetParam() == XTRmsEngine::Sqlite ? Rms::RmsConnectionOk : Rms::RmsConnectionServerConnected;
    }

    // An empty store brought to an earlier schema version, as an earlier
    // service left it.
    std::unique_ptr<XTRmsStore> OldStore(int nVersion)
    {
        if (GetParam() == XTRmsEngine::Postgres)
        {
            EXPECT_TRUE(XTRmsEmptyServerDatabase(m_config, m_server));
        }
        else
            DeleteFileW(m_config.strDatabaseFile.c_str());
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(m_config, GetParam(), m_server);
        if (!pConnection)
            return nullptr;
        auto pStore = std::make_unique<XTRmsStore>(GetParam(), std::move(pConnection));
        return pStore->Migrate(nVersion) ? std::move(pStore) : nullptr;
    }

    XTRmsTestServer m_server;
    XTRmsServiceConfig m_config;
    long long m_nNow = 1800000000; // 2027-01-15
    int m_nKeyDerivations = 0;
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
        {"unknown user reported when asked", L"mallory2", L"blue-harbour-7", false, true, Rms::ERmsLoginUnknownUser},
        {"empty password", L"alice", L"", false, false, Rms::ERmsLoginWrongPassword},
        {"empty name", L"", L"blue-harbour-7", false, false, Rms::ERmsLoginWrongPassword},
        {"guest not allowed", L"", L"", false, false, Rms::ERmsLoginGuestNotAllowed},
        {"guest allowed", L"", L"", true, false, Rms::ERmsLoginOk},
        {"account without a password", L"nopass", L"", true, false, Rms::ERmsLoginWrongPassword},
        {"name differs in case", L"Alice", L"blue-harbour-7", false, false, Rms::ERmsLoginWrongPassword},
        {"password longer than any", L"alice", nullptr, false, false, Rms::ERmsLoginWrongPassword},
    };
    StartProvisioned();
    const std::wstring strHuge(1025, L'x');
    for (const LoginCase& c : cases)
    {
        // Each case on fresh counters: earlier failures must not lock.
        ASSERT_EQ(Admin()->Unlock(L"alice", nullptr), Rms::RmsSuccess);
        XTRmsPolicy policy = m_config.policy;
        policy.bGuestLoginAllowed = c.bGuestAllowed;
        policy.bReportUnknownUser = c.bReportUnknown;
        std::unique_ptr<XTRmsService> pService = Start(WithPolicy(policy));
        EXPECT_EQ(pService->UserLogin(c.pszUser, c.pszPassword != nullptr ? c.pszPassword : strHuge), c.nExpected)
            << c.pszWhat;
        EXPECT_EQ(pService->GetIsAllowed(1), c.nExpected == Rms::ERmsLoginOk && *c.pszUser != 0) << c.pszWhat;
    }
}

TEST_P(XTRmsServiceTest, EveryLoginCostsOneKeyDerivationWhateverTheAccount)
{
    StartProvisioned();
    ASSERT_EQ(Admin()->SetDisabled(L"alice", true, nullptr), Rms::RmsSuccess);
    ASSERT_EQ(Admin()->AddUser(L"locked", L"", kOperator, L"pass-word-9", nullptr), Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pService = Start();
    for (int i = 0; i < 3; ++i)
        pService->UserLogin(L"locked", L"wrong-one-1");
    // Known, unknown, locked, disabled, without a password, right or wrong:
    // the same work each time, so that time tells nothing of the account.
    const struct
    {
        const wchar_t* pszUser;
        const wchar_t* pszPassword;
        ERmsLoginResult nExpected;
    } cases[] = {
        {L"alice", L"wrong-one-2", Rms::ERmsLoginWrongPassword}, // disabled tells only the right password
        {L"alice", L"blue-harbour-7", Rms::ERmsLoginAccountDisabled},
        {L"admin", L"gate-keeper-1", Rms::ERmsLoginOk},
        {L"admin", L"gate-keeper-2", Rms::ERmsLoginWrongPassword},
        {L"nobody-here", L"gate-keeper-1", Rms::ERmsLoginWrongPassword},
        {L"locked", L"pass-word-9", Rms::ERmsLoginUserLocked},
        {L"nopass", L"anything-1", Rms::ERmsLoginWrongPassword},
    };
    for (const auto& c : cases)
    {
        m_nKeyDerivations = 0;
        EXPECT_EQ(pService->UserLogin(c.pszUser, c.pszPassword), c.nExpected) << Narrow(c.pszUser);
        EXPECT_EQ(m_nKeyDerivations, 1) << Narrow(c.pszUser);
        EXPECT_FALSE(c.nExpected == Rms::ERmsLoginAccountDisabled && pService->GetIsAllowed(1));
    }
    ASSERT_EQ(Admin()->SetDisabled(L"alice", false, nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    // Refused before any hashing.
    m_nKeyDerivations = 0;
    EXPECT_EQ(pService->UserLogin(L"admin", std::wstring(5000, L'a')), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(m_nKeyDerivations, 0);
}

TEST_P(XTRmsServiceTest, UnknownNamesLeaveTheTraceOfAWrongPasswordAndLockLikeRealOnes)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start();
    size_t nBefore = Admin()->GetAuditTrail(0).size();
    EXPECT_EQ(pService->UserLogin(L"my-Secret-Typed-As-Name", L"whatever1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->GetLastServerMessage(), L"");
    std::vector<XTRmsAuditEntry> vecAudit = Admin()->GetAuditTrail(0);
    ASSERT_EQ(vecAudit.size(), nBefore + 1);
    EXPECT_EQ(vecAudit.back().strEvent, L"login-refused");
    // Three failures lock alice; three under a name nobody has must answer
    // the same, or lockout would tell which names exist.
    for (const wchar_t* pszUser : {L"alice", L"no-such-user"})
    {
        EXPECT_EQ(pService->UserLogin(pszUser, L"bad-1"), Rms::ERmsLoginWrongPassword) << Narrow(pszUser);
        EXPECT_EQ(pService->UserLogin(pszUser, L"bad-2"), Rms::ERmsLoginWrongPassword) << Narrow(pszUser);
        EXPECT_EQ(pService->UserLogin(pszUser, L"bad-3"), Rms::ERmsLoginUserLocked) << Narrow(pszUser);
        EXPECT_EQ(pService->UserLogin(pszUser, L"bad-4"), Rms::ERmsLoginUserLocked) << Narrow(pszUser);
    }
    // What was typed as a name is never recorded: it may be a password.
    for (const XTRmsAuditEntry& entry : Admin()->GetAuditTrail(0))
    {
        EXPECT_EQ((entry.strSubject + entry.strDetail).find(L"no-such-user"), std::wstring::npos);
        EXPECT_EQ(entry.strSubject.find(L"Secret"), std::wstring::npos);
    }
    EXPECT_EQ(pService->GetSettingsString().find(L"Secret"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, ConsecutiveFailuresLockUntilAnAdministratorUnlocks)
{
    StartProvisioned();
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

    std::vector<XTRmsUserRecord> vecUsers = pOther->ListUsers();
    auto itAlice = std::find_if(
        vecUsers.begin(), vecUsers.end(), [](const XTRmsUserRecord& r) { return r.strUserName == L"alice"; });
    ASSERT_NE(itAlice, vecUsers.end());
    EXPECT_TRUE(itAlice->bLocked);
    EXPECT_EQ(itAlice->nFailedLogins, 3u);

    ASSERT_EQ(pOther->Unlock(L"alice", nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(Admin()->Unlock(L"nobody", nullptr), Rms::RmsFailure);
}

TEST_P(XTRmsServiceTest, LockForAPeriodEndsByItself)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.nLockoutThreshold = 2;
    policy.nLockoutSeconds = 60;
    std::unique_ptr<XTRmsService> pService = Start(WithPolicy(policy));
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-2"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    m_nNow += 59;
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    // The period runs out: the injected clock here, the server's own clock
    // there (its lock is moved into the past, as time would).
    m_nNow += 2;
    if (GetParam() == XTRmsEngine::Postgres)
    {
        ASSERT_TRUE(ExecuteAsAdministrator(L"UPDATE xtrms_users SET locked_until = 1000 WHERE name = 'alice'"));
    }
    // The count starts afresh once the lock has run out.
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-3"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
}

// The settings text shows the store, its policy and the latest audit rows,
// and no secret. It is read in a fixed-pitch font: the trail's columns line
// up whatever the lengths of sequence numbers, events and names; a store
// without a rights server says so instead of ":0"; on SQLite the rows carry
// the service's clock, so a repeatable run shows the same times.
TEST_P(XTRmsServiceTest, SettingsTextShowsStorePolicyAndTheTrailInColumnsButNoSecret)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAlice = Start();
    EXPECT_EQ(pAlice->UserLogin(L"alice", L"wrong-password-1"), Rms::ERmsLoginWrongPassword);
    XTRmsServiceConfig config = m_config;
    if (GetParam() == XTRmsEngine::Sqlite)
        config.serverSetting = XTRmsServerSetting();
    std::unique_ptr<XTRmsService> pService = Start(config);
    ASSERT_EQ(pService->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    const std::wstring strText = pService->GetSettingsString();
    const std::wstring strVersion = L"Schema version   : " + std::to_wstring(XTRmsService::GetLatestSchemaVersion());
    for (const wchar_t* pszPart : {GetParam() == XTRmsEngine::Sqlite ? L"SQLite file" : L"PostgreSQL database",
             strVersion.c_str(), L"after 3 failed logins", L"the password is used as the administrator set it",
             L"PBKDF2-HMAC-SHA256, 1000 iterations", L"Logged-in user   : admin", L"  login ",
             L"answered as a wrong password",
             GetParam() == XTRmsEngine::Sqlite ? L"whoever can write the file" : L"decided there"})
        EXPECT_NE(strText.find(pszPart), std::wstring::npos) << Narrow(pszPart) << "\n" << Narrow(strText);
    if (GetParam() == XTRmsEngine::Postgres)
    {
        EXPECT_EQ(strText.find(m_config.strServerPassword), std::wstring::npos);
    }

    std::vector<std::wstring> vecRows;
    size_t nAt = strText.find(L"Latest audit entries:\r\n");
    ASSERT_NE(nAt, std::wstring::npos);
    for (nAt = strText.find(L"\r\n", nAt) + 2; nAt < strText.size();)
    {
        const size_t nEnd = strText.find(L"\r\n", nAt);
        vecRows.push_back(strText.substr(nAt, nEnd - nAt));
        nAt = nEnd + 2;
    }
    ASSERT_GE(vecRows.size(), 4u) << Narrow(strText);
    // Where the time, the subject and "by" begin in each row.
    auto column = [](const std::wstring& strRow, const std::wstring& strWhat) { return strRow.find(strWhat); };
    const std::wstring strTime = GetParam() == XTRmsEngine::Sqlite ? L"2027-01-15T08:00:00Z" : L"T";
    for (const std::wstring& strRow : vecRows)
    {
        EXPECT_EQ(column(strRow, strTime), column(vecRows.front(), strTime)) << Narrow(strRow);
        EXPECT_EQ(strRow.find(L"  by "), vecRows.front().find(L"  by ")) << Narrow(strText);
    }
    if (GetParam() == XTRmsEngine::Sqlite)
    {
        EXPECT_NE(strText.find(L"Rights server    : (none configured)\r\n"), std::wstring::npos) << Narrow(strText);
    }
    // An operator sees neither other users nor the trail.
    const std::wstring strOperator = StartAs(L"alice", L"blue-harbour-7")->GetSettingsString();
    EXPECT_EQ(strOperator.find(L"login  admin"), std::wstring::npos);
    EXPECT_NE(strOperator.find(L"(administrators only)"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, AuditRecordsWhoDidWhat)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.bGuestLoginAllowed = true;
    std::unique_ptr<XTRmsService> pHost = Start(WithPolicy(policy));
    size_t nBefore = Events().size();
    EXPECT_EQ(pHost->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
    EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 1, false), Rms::RmsSuccess);
    EXPECT_EQ(pHost->RemoveUser(L"nopass"), Rms::RmsSuccess);
    EXPECT_EQ(pHost->SaveUserProfiles(), Rms::RmsSuccess);
    EXPECT_EQ(pHost->UserLogin(L"", L""), Rms::ERmsLoginOk);
    EXPECT_EQ(pHost->UserLogin(L"alice", L"nope-nope"), Rms::ERmsLoginWrongPassword);

    const std::vector<std::wstring> vecExpected = {L"login:admin:",
        L"right-granted:alice:right 3 (Configure): no -> yes", L"right-withdrawn:alice:right 1 (View): yes -> no",
        L"user-removed:nopass:", L"guest-login::", L"login-refused:alice:2 wrong password"};
    std::vector<std::wstring> vecEvents = Events();
    ASSERT_EQ(vecEvents.size(), nBefore + vecExpected.size());
    EXPECT_EQ(std::vector<std::wstring>(vecEvents.begin() + static_cast<long>(nBefore), vecEvents.end()), vecExpected);
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    std::vector<XTRmsAuditEntry> vecAudit = pAdmin->GetAuditTrail(0);
    const XTRmsAuditEntry& granted = vecAudit[nBefore + 1];
    EXPECT_EQ(granted.strActor, L"admin");
    EXPECT_EQ(granted.strWorkstation, L"TESTWS");
    EXPECT_FALSE(granted.strOsUser.empty());
    EXPECT_EQ(granted.strTimeUtc.size(), 20u);
    // The latest entries come first in what GetAuditTrail(n) leaves out.
    std::vector<XTRmsAuditEntry> vecLast = pAdmin->GetAuditTrail(2);
    ASSERT_EQ(vecLast.size(), 2u);
    EXPECT_EQ(vecLast[0].strEvent, L"guest-login");
    EXPECT_EQ(vecLast[1].strEvent, L"login-refused");
    std::wstring strProblem;
    EXPECT_TRUE(pAdmin->VerifyAuditChain(&strProblem)) << Narrow(strProblem);
}

struct TamperCase
{
    const char* pszWhat;
    const wchar_t* pszSql;
    const wchar_t* pszProblem;
};

TEST_P(XTRmsServiceTest, AuditChainDetectsEditedAndRemovedRows)
{
    // What the store's administrator could do with the tables themselves.
    // On a rights server the rows are keyed with a key only the server
    // reads, so that even a row rehashed with SHA-256 shows.
    const TamperCase cases[] = {
        {"edited detail", L"UPDATE xtrms_audit SET detail = 'role Operator' WHERE seq = 1", L"row 1 was changed"},
        {"edited actor", L"UPDATE xtrms_audit SET actor = 'someone' WHERE seq = 3", L"row 3 was changed"},
        {"row removed inside", L"DELETE FROM xtrms_audit WHERE seq = 2", L"row 2 is missing"},
        {"newest row removed", L"DELETE FROM xtrms_audit WHERE seq = (SELECT MAX(seq) FROM xtrms_audit)",
            L"rows were removed"},
        {"row rehashed alone", L"UPDATE xtrms_audit SET hash = 'abc' WHERE seq = 4", L"row 4 was changed"},
        {"head moved back", L"UPDATE xtrms_audit_head SET hash = (SELECT hash FROM xtrms_audit WHERE seq = 2)",
            L"head was changed"},
    };
    for (const TamperCase& c : cases)
    {
        SetUp();
        StartProvisioned();
        std::unique_ptr<XTRmsService> pAdmin = Admin();
        std::wstring strProblem;
        ASSERT_TRUE(pAdmin->VerifyAuditChain(&strProblem)) << c.pszWhat;
        ASSERT_TRUE(ExecuteAsAdministrator(c.pszSql)) << c.pszWhat;
        EXPECT_FALSE(pAdmin->VerifyAuditChain(&strProblem)) << c.pszWhat;
        EXPECT_NE(strProblem.find(c.pszProblem), std::wstring::npos) << c.pszWhat << ": " << Narrow(strProblem);
    }
}

TEST_P(XTRmsServiceTest, CheckpointProvesNothingBeforeItChanged)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    std::wstring strCheckpoint;
    std::wstring strError;
    ASSERT_TRUE(pAdmin->AuditCheckpoint(&strCheckpoint, &strError)) << Narrow(strError);
    EXPECT_EQ(strCheckpoint.substr(0, strCheckpoint.find(L':')), std::to_wstring(pAdmin->GetAuditTrail(0).size()));
    // Later rows do not disturb the proof.
    StartAs(L"alice", L"blue-harbour-7");
    std::wstring strProblem;
    bool bReadable = false;
    EXPECT_TRUE(pAdmin->VerifyAuditChainSince(strCheckpoint, &strProblem, &bReadable)) << Narrow(strProblem);
    // A forged checkpoint or a trail rewritten before it does.
    std::wstring strForged = strCheckpoint;
    strForged.back() = strForged.back() == L'0' ? L'1' : L'0';
    EXPECT_FALSE(pAdmin->VerifyAuditChainSince(strForged, &strProblem, &bReadable));
    EXPECT_NE(strProblem.find(L"does not match the checkpoint"), std::wstring::npos) << Narrow(strProblem);
    EXPECT_TRUE(bReadable);
    EXPECT_FALSE(pAdmin->VerifyAuditChainSince(L"5", &strProblem, &bReadable));
    EXPECT_NE(strProblem.find(L"SEQ:HASH"), std::wstring::npos) << Narrow(strProblem);
    EXPECT_FALSE(bReadable);
    // Nobody but an administrator takes checkpoints.
    EXPECT_FALSE(Start()->AuditCheckpoint(&strCheckpoint, &strError));
}

TEST_P(XTRmsServiceTest, ChangesWaitForSaveAndLoadDropsThem)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pDialog = StartAs(L"admin", L"gate-keeper-1");
    std::unique_ptr<XTRmsService> pOther = StartAs(L"admin", L"gate-keeper-1");
    auto change = [&] {
        return pDialog->CreateUser(L"carol", kOperator) == Rms::RmsSuccess &&
            pDialog->SetUserIsAllowed(L"alice", 4, true) == Rms::RmsSuccess &&
            pDialog->RemoveUser(L"nopass") == Rms::RmsSuccess;
    };
    ASSERT_TRUE(change());
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
    ASSERT_TRUE(change());
    ASSERT_EQ(pDialog->SaveUserProfiles(), Rms::RmsSuccess) << Narrow(pDialog->GetLastServerMessage());
    ASSERT_EQ(pOther->LoadUserProfiles(), Rms::RmsSuccess);
    EXPECT_TRUE(pOther->IsUserDefined(L"carol"));
    EXPECT_FALSE(pOther->IsUserDefined(L"nopass"));
    EXPECT_EQ(pOther->GetUserIsAllowed(L"alice", 4, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    // The logged-in user cannot be removed, and unknown rights are refused.
    EXPECT_EQ(pOther->RemoveUser(L"admin"), Rms::RmsFailure);
    EXPECT_EQ(pOther->SetUserIsAllowed(L"alice", 99, true), Rms::RmsFailure);
    EXPECT_EQ(pOther->CreateUser(L"alice", kOperator), Rms::RmsFailure);
    EXPECT_EQ(pOther->CreateUser(L"dave", static_cast<Rms::RmsUserRole>(7)), Rms::RmsFailure);
}

TEST_P(XTRmsServiceTest, FailedSaveChangesNothingStoredAndKeepsTheChanges)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pFirst = StartAs(L"admin", L"gate-keeper-1");
    std::unique_ptr<XTRmsService> pSecond = StartAs(L"admin", L"gate-keeper-1");
    // Both create carol; the second also changes alice. The first save wins,
    // the second fails as a whole.
    ASSERT_EQ(pFirst->CreateUser(L"carol", kOperator), Rms::RmsSuccess);
    ASSERT_EQ(pSecond->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
    ASSERT_EQ(pSecond->CreateUser(L"carol", kAdministrator), Rms::RmsSuccess);
    ASSERT_EQ(pFirst->SaveUserProfiles(), Rms::RmsSuccess);
    size_t nAuditBefore = Admin()->GetAuditTrail(0).size();
    EXPECT_EQ(pSecond->SaveUserProfiles(), Rms::RmsFailure);
    EXPECT_NE(pSecond->GetLastServerMessage().find(L"carol"), std::wstring::npos)
        << Narrow(pSecond->GetLastServerMessage());
    // Nothing of the failed save landed, not even its audit rows.
    std::unique_ptr<XTRmsService> pReader = Admin();
    EXPECT_EQ(HoldsRight(L"alice", 3), 0);
    EXPECT_FALSE(pReader->IsSuperUser(L"carol"));
    EXPECT_EQ(pReader->GetAuditTrail(0).size(), nAuditBefore);
    // The failed side keeps its working copy.
    bool bAllowed = false;
    EXPECT_EQ(pSecond->GetUserIsAllowed(L"alice", 3, &bAllowed), Rms::RmsSuccess);
    EXPECT_TRUE(bAllowed);
    std::wstring strProblem;
    EXPECT_TRUE(pReader->VerifyAuditChain(&strProblem)) << Narrow(strProblem);
}

TEST_P(XTRmsServiceTest, TwoWorkstationsSavingAtOnceBothLand)
{
    StartProvisioned();
    const int kRounds = 5;
    std::unique_ptr<XTRmsService> pLeft = StartAs(L"admin", L"gate-keeper-1");
    std::unique_ptr<XTRmsService> pRight = StartAs(L"admin", L"gate-keeper-1");
    for (int nRound = 0; nRound < kRounds; ++nRound)
    {
        std::wstring strLeftUser = L"left" + std::to_wstring(nRound);
        std::wstring strRightUser = L"right" + std::to_wstring(nRound);
        ASSERT_EQ(pLeft->CreateUser(strLeftUser, kOperator), Rms::RmsSuccess);
        ASSERT_EQ(pLeft->SetUserIsAllowed(L"alice", 3, nRound % 2 == 0), Rms::RmsSuccess);
        ASSERT_EQ(pRight->CreateUser(strRightUser, kAdministrator), Rms::RmsSuccess);
        ASSERT_EQ(pRight->SetUserIsAllowed(L"admin", 1, nRound % 2 != 0), Rms::RmsSuccess);
        Rms::RmsResult nLeft = Rms::RmsFailure;
        Rms::RmsResult nRight = Rms::RmsFailure;
        std::thread left([&] { nLeft = pLeft->SaveUserProfiles(); });
        std::thread right([&] { nRight = pRight->SaveUserProfiles(); });
        left.join();
        right.join();
        EXPECT_EQ(nLeft, Rms::RmsSuccess) << nRound << Narrow(pLeft->GetLastServerMessage());
        EXPECT_EQ(nRight, Rms::RmsSuccess) << nRound << Narrow(pRight->GetLastServerMessage());
    }
    std::unique_ptr<XTRmsService> pReader = Admin();
    for (int nRound = 0; nRound < kRounds; ++nRound)
    {
        EXPECT_TRUE(pReader->IsUserDefined(L"left" + std::to_wstring(nRound)));
        EXPECT_TRUE(pReader->IsSuperUser(L"right" + std::to_wstring(nRound)));
    }
    EXPECT_EQ(HoldsRight(L"alice", 3), 1); // the last round's value, 4 % 2 == 0
    EXPECT_EQ(HoldsRight(L"admin", 1), 0);
    std::wstring strProblem;
    EXPECT_TRUE(pReader->VerifyAuditChain(&strProblem)) << Narrow(strProblem);
}

TEST_P(XTRmsServiceTest, OlderSchemaIsMigratedAndNewerRefused)
{
    {
        std::unique_ptr<XTRmsStore> pStore = OldStore(1);
        ASSERT_TRUE(pStore);
        ASSERT_TRUE(pStore->GetConnection().Execute(
            L"INSERT INTO xtrms_users (name, full_name, role_id) VALUES ('old-timer', 'Old Timer', 1)"));
        ASSERT_TRUE(pStore->GetConnection().Execute(
            L"INSERT INTO xtrms_user_rights (user_name, right_id) VALUES ('old-timer', 2)"));
    }
    if (GetParam() == XTRmsEngine::Postgres)
    {
        // A workstation's account cannot upgrade a rights server.
        XTRmsService workstation(m_config);
        EXPECT_EQ(Probe(workstation), Rms::RmsConnectionServerIncompatible);
        EXPECT_NE(workstation.GetSettingsString().find(L"database administrator"), std::wstring::npos);
    }
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    EXPECT_EQ(pAdmin->GetSchemaVersion(), XTRmsService::GetLatestSchemaVersion());
    EXPECT_TRUE(pAdmin->IsUserDefined(L"old-timer"));
    EXPECT_EQ(HoldsRight(L"old-timer", 2), 1);
    EXPECT_EQ(pAdmin->SetPassword(L"old-timer", L"fresh-password", nullptr), Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->UserLogin(L"old-timer", L"fresh-password"), Rms::ERmsLoginOk);

    ASSERT_TRUE(ExecuteAsAdministrator(L"UPDATE xtrms_schema SET version = 99 WHERE id = 1"));
    XTRmsService newer(m_config);
    EXPECT_EQ(Probe(newer), Rms::RmsConnectionServerIncompatible);
    EXPECT_EQ(newer.Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsFailure);
    EXPECT_EQ(newer.UserLogin(L"old-timer", L"fresh-password"), Rms::ERmsLoginSourceUnavailable);
    std::wstring strSettings = newer.GetSettingsString();
    EXPECT_NE(strSettings.find(L"NOT AVAILABLE"), std::wstring::npos);
    EXPECT_NE(strSettings.find(L"schema version 99"), std::wstring::npos);
    std::wstring strError;
    XTRmsService newerAdmin(XTRmsAdminConfig(m_config, m_server));
    EXPECT_FALSE(newerAdmin.OpenStore(GetParam(), true, &strError));
    EXPECT_NE(strError.find(L"newer"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, StoredPasswordsFromBeforeTheUpgradeStillLogIn)
{
    // A version-3 store whose hashes are the derived keys themselves: the
    // upgrade stores their hashes without knowing any password.
    std::vector<unsigned char> vecSalt(16, 7);
    std::vector<unsigned char> vecKey = XTRmsCrypto::Pbkdf2Sha256(L"old-password-1", vecSalt, 1000, 32);
    {
        std::unique_ptr<XTRmsStore> pStore = OldStore(3);
        ASSERT_TRUE(pStore);
        XTRmsOdbc::Statement insert(pStore->GetConnection(),
            L"INSERT INTO xtrms_users (name, full_name, role_id, password_hash, password_salt, password_iterations) "
            L"VALUES ('veteran', '', 1, ?, ?, 1000)");
        insert.Bind(XTRmsCrypto::ToHex(vecKey)).Bind(XTRmsCrypto::ToHex(vecSalt));
        ASSERT_TRUE(insert.Execute());
    }
    Admin();
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->UserLogin(L"veteran", L"old-password-1"), Rms::ERmsLoginOk);
    // The old column's value no longer logs anyone in.
    EXPECT_NE(Stored(L"password_hash", L"veteran"), XTRmsCrypto::ToHex(vecKey));
    EXPECT_EQ(Stored(L"password_hash", L"veteran").size(), 64u);
}

TEST_P(XTRmsServiceTest, PasswordsFollowThePolicyAndNeverAppearInClear)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"new-password"), Rms::ERmsPasswordNotPermitted);
    ASSERT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"alice");
    EXPECT_FALSE(pService->CanSetOtherPasswords());
    EXPECT_EQ(pService->ChangeOwnPassword(L"wrong-old", L"new-password"), Rms::ERmsPasswordWrongOld);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"short"), Rms::ERmsPasswordTooShort);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"my-ALICE-pass"), Rms::ERmsPasswordContainsUserName);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", std::wstring(1025, L'p')), Rms::ERmsPasswordTooLong);
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
    std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(m_config, GetParam(), m_server);
    ASSERT_TRUE(pConnection);
    XTRmsOdbc::Statement statement(*pConnection,
        (L"SELECT name, password_hash, password_salt, password_iterations FROM " +
            XTRmsTable(GetParam(), L"xtrms_users") + L" WHERE password_hash IS NOT NULL")
            .c_str());
    ASSERT_TRUE(statement.Execute());
    std::vector<std::wstring> vecSalts;
    while (statement.Fetch())
    {
        std::wstring strName = statement.GetText(1);
        std::wstring strHash = statement.GetText(2);
        vecSalts.push_back(statement.GetText(3));
        EXPECT_EQ(strHash.size(), 64u) << Narrow(strName);
        EXPECT_EQ(vecSalts.back().size(), 32u);
        EXPECT_EQ(statement.GetInt(4), 1000);
    }
    EXPECT_EQ(vecSalts.size(), 3u);
    std::sort(vecSalts.begin(), vecSalts.end());
    EXPECT_EQ(std::unique(vecSalts.begin(), vecSalts.end()), vecSalts.end());
    for (const wchar_t* pszSecret : {L"blue-harbour-7", L"gate-keeper-1", L"finally-one", L"Gr\u00fc\u00dfe-2026"})
    {
        EXPECT_EQ(pService->GetSettingsString().find(pszSecret), std::wstring::npos);
        for (const XTRmsAuditEntry& entry : Admin()->GetAuditTrail(0))
            EXPECT_EQ((entry.strDetail + entry.strSubject).find(pszSecret), std::wstring::npos);
    }
}

TEST_P(XTRmsServiceTest, NamesAndRightsRoundTripWithoutLoss)
{
    const std::wstring strName = L"J\u00fcrgen \u64cd\u4f5c\u5458 O'Brien; DROP TABLE xtrms_users";
    ASSERT_EQ(Admin()->AddUser(strName, L"\u00c5sa \"Q\" \u00d8stergaard", kOperator,
                  L"\u043f\u0430\u0440\u043e\u043b\u044c-2026", nullptr),
        Rms::RmsSuccess);
    std::vector<XTRmsUserInfo> vecUsers = Admin()->GetAllDefinedUsers();
    ASSERT_EQ(vecUsers.size(), 1u);
    EXPECT_EQ(vecUsers[0].GetUserNameW(), strName);
    EXPECT_EQ(vecUsers[0].GetFullName(), L"\u00c5sa \"Q\" \u00d8stergaard");
    std::unique_ptr<XTRmsService> pReader = Start();
    EXPECT_EQ(pReader->UserLogin(strName, L"\u043f\u0430\u0440\u043e\u043b\u044c-2026"), Rms::ERmsLoginOk);
    EXPECT_TRUE(pReader->GetIsAllowed(1));
    EXPECT_TRUE(pReader->GetIsAllowed(2));
    EXPECT_FALSE(pReader->GetIsAllowed(3));
    std::vector<XTRmsRestrictionDefinition> vecRights = pReader->GetRoleRestrDefinitions();
    ASSERT_EQ(vecRights.size(), 4u);
    EXPECT_EQ(vecRights[3].GetName(), L"Manage users");
}

// A hash keeps the iteration count it was made with (beyond 16 bits too);
// a login raises an older one to the policy's.
TEST_P(XTRmsServiceTest, HashesKeepTheirIterationsAndALoginRaisesOldOnesToThePolicys)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.nPbkdf2Iterations = 70001;
    XTRmsServiceConfig config = WithPolicy(policy);
    std::unique_ptr<XTRmsService> pService = Start(config);
    m_nKeyDerivations = 0;
    ASSERT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(m_nKeyDerivations, 2); // the login, and the new hash
    EXPECT_EQ(Stored(L"password_iterations", L"alice"), L"70001");
    // The next login takes the new hash, and needs no second one.
    m_nKeyDerivations = 0;
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(m_nKeyDerivations, 1);
    std::vector<std::wstring> vecEvents = Events();
    EXPECT_NE(std::find(vecEvents.begin(), vecEvents.end(), L"password-rehashed:alice:1000 to 70001 iterations"),
        vecEvents.end());
    // A new account's hash; the minimum length holds exactly.
    auto pAdmin = std::make_unique<XTRmsService>(XTRmsAdminConfig(config, m_server));
    ASSERT_TRUE(pAdmin->OpenStore(GetParam(), false, nullptr));
    EXPECT_EQ(pAdmin->AddUser(L"seven", L"", kOperator, L"1234567", nullptr), Rms::RmsFailure);
    EXPECT_EQ(pAdmin->AddUser(L"eight", L"", kOperator, L"12345678", nullptr), Rms::RmsSuccess);
    EXPECT_EQ(Stored(L"password_iterations", L"eight"), L"70001");
    EXPECT_EQ(Start(config)->UserLogin(L"eight", L"12345678"), Rms::ERmsLoginOk);
}

// --- An attacker at a workstation ---------------------------------------------

struct AttackCase
{
    const char* pszWhat;
    std::function<bool(XTRmsService&)> fnAttempt; // true: the attack went through
};

TEST_P(XTRmsServiceTest, ApiRefusesAdministrationToOperatorsGuestsAndNobody)
{
    const wchar_t* const kCsv = L"user,full_name,role,disabled,rights\r\nalice,,2,0,1;2;3;4\r\n";
    const AttackCase attacks[] = {
        {"grant himself a right",
            [](XTRmsService& s) {
                return s.SetUserIsAllowed(L"alice", 4, true) == Rms::RmsSuccess &&
                    s.SaveUserProfiles() == Rms::RmsSuccess;
            }},
        {"create an administrator",
            [](XTRmsService& s) {
                return s.CreateUser(L"mallory", kAdministrator) == Rms::RmsSuccess &&
                    s.SaveUserProfiles() == Rms::RmsSuccess;
            }},
        {"remove the only super user",
            [](XTRmsService& s) {
                return s.RemoveUser(L"admin") == Rms::RmsSuccess && s.SaveUserProfiles() == Rms::RmsSuccess;
            }},
        {"add an administrator",
            [](XTRmsService& s) {
                return s.AddUser(L"mallory", L"", kAdministrator, L"mallory-pass-1", nullptr) == Rms::RmsSuccess;
            }},
        {"reset admin's password",
            [](XTRmsService& s) { return s.SetPassword(L"admin", L"taken-over-1", nullptr) == Rms::RmsSuccess; }},
        {"set admin's password",
            [](XTRmsService& s) { return s.SetUserPassword(L"admin", L"taken-over-1") == Rms::ERmsPasswordOk; }},
        {"import himself as administrator", [kCsv](XTRmsService& s) { return s.ImportCsv(kCsv, nullptr); }},
        {"disable the administrator",
            [](XTRmsService& s) { return s.SetDisabled(L"admin", true, nullptr) == Rms::RmsSuccess; }},
        {"unlock an account", [](XTRmsService& s) { return s.Unlock(L"alice", nullptr) == Rms::RmsSuccess; }},
        {"switch the lockout off",
            [](XTRmsService& s) {
                XTRmsPolicy policy = s.GetPolicy();
                policy.nLockoutThreshold = 0;
                return s.SetPolicy(policy, nullptr) == Rms::RmsSuccess;
            }},
        {"read the users", [](XTRmsService& s) { return !s.ListUsers().empty() || !s.GetAllDefinedUsers().empty(); }},
        {"export the users",
            [](XTRmsService& s) {
                std::wstring strCsv;
                return s.ExportCsv(&strCsv, nullptr);
            }},
        {"read the trail", [](XTRmsService& s) { return !s.GetAuditTrail(0).empty(); }},
        {"take a checkpoint",
            [](XTRmsService& s) {
                std::wstring strCheckpoint;
                return s.AuditCheckpoint(&strCheckpoint, nullptr);
            }},
    };
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.bGuestLoginAllowed = true;
    XTRmsServiceConfig config = WithPolicy(policy);
    const struct
    {
        const char* pszWho;
        const wchar_t* pszUser;
        const wchar_t* pszPassword;
    } attackers[] = {{"nobody", nullptr, nullptr}, {"a guest", L"", L""}, {"an operator", L"alice", L"blue-harbour-7"}};
    for (const auto& attacker : attackers)
    {
        for (const AttackCase& attack : attacks)
        {
            std::unique_ptr<XTRmsService> pHost = Start(config);
            if (attacker.pszUser != nullptr)
            {
                ASSERT_EQ(pHost->UserLogin(attacker.pszUser, attacker.pszPassword), Rms::ERmsLoginOk);
            }
            EXPECT_FALSE(attack.fnAttempt(*pHost)) << attacker.pszWho << ": " << attack.pszWhat;
        }
    }
    // Nothing of it reached the store.
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    EXPECT_FALSE(pAdmin->IsUserDefined(L"mallory"));
    EXPECT_TRUE(pAdmin->IsSuperUser(L"admin"));
    EXPECT_FALSE(pAdmin->IsSuperUser(L"alice"));
    EXPECT_EQ(HoldsRight(L"alice", 4), 0);
    EXPECT_EQ(pAdmin->GetPolicy().nLockoutThreshold, 3u);
    EXPECT_EQ(Start()->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
}

TEST_P(XTRmsServiceTest, StalePowersEndAtTheNextCall)
{
    const struct
    {
        const char* pszWhat;
        std::function<bool(XTRmsService&)> fnDemote;
    } demotions[] = {
        {"disabled", [](XTRmsService& a) { return a.SetDisabled(L"admin", true, nullptr) == Rms::RmsSuccess; }},
        {"demoted",
            [](XTRmsService& a) {
                return a.ImportCsv(L"user,full_name,role,disabled,rights\r\nadmin,The Admin,1,0,1;2\r\n", nullptr);
            }},
        {"removed",
            [](XTRmsService& a) {
                return a.RemoveUser(L"admin") == Rms::RmsSuccess && a.SaveUserProfiles() == Rms::RmsSuccess;
            }},
    };
    for (const auto& demotion : demotions)
    {
        SetUp();
        StartProvisioned();
        ASSERT_EQ(Admin()->AddUser(L"root", L"", kAdministrator, L"night-guard-5", nullptr), Rms::RmsSuccess);
        // Sessions opened while admin was an administrator, one for each
        // attempt, so that each is the first call after his demotion...
        std::unique_ptr<XTRmsService> pSave = StartAs(L"admin", L"gate-keeper-1");
        std::unique_ptr<XTRmsService> pPassword = StartAs(L"admin", L"gate-keeper-1");
        std::unique_ptr<XTRmsService> pUnlock = StartAs(L"admin", L"gate-keeper-1");
        ASSERT_TRUE(pSave->CanSetOtherPasswords());
        ASSERT_EQ(pSave->SetUserIsAllowed(L"alice", 4, true), Rms::RmsSuccess);
        // ...outlive his power, taken away on another workstation.
        ASSERT_TRUE(demotion.fnDemote(*Admin())) << demotion.pszWhat;
        EXPECT_EQ(pSave->SaveUserProfiles(), Rms::RmsFailure) << demotion.pszWhat;
        EXPECT_NE(pPassword->SetUserPassword(L"alice", L"stolen-pass-1"), Rms::ERmsPasswordOk) << demotion.pszWhat;
        EXPECT_EQ(pUnlock->Unlock(L"alice", nullptr), Rms::RmsFailure) << demotion.pszWhat;
        EXPECT_EQ(HoldsRight(L"alice", 4), 0) << demotion.pszWhat;
        EXPECT_EQ(Start()->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk) << demotion.pszWhat;
    }
}

TEST_P(XTRmsServiceTest, NobodyRemovesHimselfOrTheLastSuperUser)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    // The store's only administrator stays, however he would go.
    EXPECT_EQ(pAdmin->SetDisabled(L"admin", true, nullptr), Rms::RmsFailure);
    std::wstring strError;
    EXPECT_FALSE(pAdmin->ImportCsv(L"user,full_name,role,disabled,rights\r\nadmin,The Admin,1,0,1\r\n", &strError));
    EXPECT_TRUE(strError.find(L"super user") != std::wstring::npos) << Narrow(strError);
    ASSERT_EQ(pAdmin->RemoveUser(L"admin"), Rms::RmsSuccess);
    EXPECT_EQ(pAdmin->SaveUserProfiles(), Rms::RmsFailure);
    EXPECT_TRUE(Admin()->IsSuperUser(L"admin"));
    // Nor does anyone remove or disable himself.
    ASSERT_EQ(Admin()->AddUser(L"root", L"", kAdministrator, L"night-guard-5", nullptr), Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pSelf = StartAs(L"admin", L"gate-keeper-1");
    EXPECT_EQ(pSelf->RemoveUser(L"admin"), Rms::RmsFailure);
    EXPECT_EQ(pSelf->SetDisabled(L"admin", true, nullptr), Rms::RmsFailure);
    EXPECT_FALSE(pSelf->ImportCsv(L"user,full_name,role,disabled,rights\r\nadmin,The Admin,1,0,1\r\n", nullptr));
    // With another administrator left, one may go.
    EXPECT_EQ(pSelf->SetDisabled(L"root", true, nullptr), Rms::RmsSuccess);
    EXPECT_EQ(Start()->UserLogin(L"root", L"night-guard-5"), Rms::ERmsLoginAccountDisabled);
}

TEST_P(XTRmsServiceTest, NamesAreCheckedAtEveryDoor)
{
    StartProvisioned();
    const std::wstring kForged[] = {
        std::wstring(L"eve\0admin", 9),
        L"eve\r\n42  2026-12-06T00:00:00Z  login  admin",
        L"eve\u202Enimda",
        L"\uFEFFadmin",
        std::wstring(257, L'n'),
        std::wstring(L"lone\xD800", 5),
        L"dba:postgres",
        L"(guest)",
        L"admin ",
    };
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    std::unique_ptr<XTRmsService> pDialog = StartAs(L"admin", L"gate-keeper-1");
    for (const std::wstring& strName : kForged)
    {
        EXPECT_EQ(pAdmin->AddUser(strName, L"", kOperator, L"", nullptr), Rms::RmsFailure) << Narrow(strName);
        EXPECT_EQ(pDialog->CreateUser(strName, kOperator), Rms::RmsFailure) << Narrow(strName);
        std::wstring strCsv = L"user,full_name,role,disabled,rights\r\n\"" + strName + L"\",,1,0,1\r\n";
        EXPECT_FALSE(pAdmin->ImportCsv(strCsv, nullptr)) << Narrow(strName);
        EXPECT_NE(Start()->UserLogin(strName, L"anything-1"), Rms::ERmsLoginOk) << Narrow(strName);
    }
    EXPECT_EQ(pAdmin->AddUser(L"fullname", std::wstring(257, L'f'), kOperator, L"", nullptr), Rms::RmsFailure);
    // The refused logins left a trail that still verifies.
    std::wstring strProblem;
    EXPECT_TRUE(Admin()->VerifyAuditChain(&strProblem)) << Narrow(strProblem);
    // A name is one user however its letters are composed.
    ASSERT_EQ(pAdmin->AddUser(L"Jos\u00e9", L"", kOperator, L"sierra-nevada-1", nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pAdmin->AddUser(L"Jose\u0301", L"", kOperator, L"", nullptr), Rms::RmsFailure);
    EXPECT_EQ(Start()->UserLogin(L"Jose\u0301", L"sierra-nevada-1"), Rms::ERmsLoginOk);
}

TEST_P(XTRmsServiceTest, ExportedCellsNeverRunAsFormulas)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    ASSERT_EQ(pAdmin->AddUser(L"=HYPERLINK(\"x\")", L"+SUM(A1)", kOperator, L"", nullptr), Rms::RmsSuccess);
    ASSERT_EQ(pAdmin->AddUser(L"@cmd", L"-2, or \"quoted\"\r\nsecond line", kOperator, L"", nullptr),
        Rms::RmsFailure); // a line break is no part of a name
    ASSERT_EQ(pAdmin->AddUser(L"@cmd", L"-2, or \"quoted\"", kOperator, L"", nullptr), Rms::RmsSuccess);
    std::wstring strCsv;
    ASSERT_TRUE(pAdmin->ExportCsv(&strCsv, nullptr));
    for (const wchar_t* pszCell : {L"\"'=HYPERLINK(\"\"x\"\")\",'+SUM(A1)", L"'@cmd,\"'-2, or \"\"quoted\"\"\""})
        EXPECT_NE(strCsv.find(pszCell), std::wstring::npos) << Narrow(pszCell) << "\n" << Narrow(strCsv);
    // And they come back as they were.
    ASSERT_TRUE(pAdmin->ImportCsv(strCsv, nullptr));
    std::vector<XTRmsUserInfo> vecUsers = Admin()->GetAllDefinedUsers();
    EXPECT_TRUE(std::any_of(vecUsers.begin(), vecUsers.end(), [](const XTRmsUserInfo& user) {
        return user.GetUserNameW() == L"@cmd" && user.GetFullName() == L"-2, or \"quoted\"";
    }));
    EXPECT_EQ(vecUsers.size(), 5u);
}

// On a rights server the workstation's own database account is the
// attacker's best tool: with it, only the service's functions answer. (Each
// function's refusals, grants and triggers are checked function by function
// in service/sql/test-contract.sh, as is a workstation frozen inside a
// transaction; here: the store as the service made it.)
TEST_P(XTRmsServiceTest, WorkstationCredentialsReachNoTable)
{
    if (GetParam() != XTRmsEngine::Postgres)
        GTEST_SKIP() << "a SQLite file belongs to whoever can write it";
    StartProvisioned();
    const wchar_t* const kRefused[] = {
        L"SELECT name, password_hash FROM xtrms.xtrms_users",
        L"UPDATE xtrms.xtrms_users SET role_id = 2 WHERE name = 'alice'",
        L"INSERT INTO xtrms.xtrms_user_rights (user_name, right_id) VALUES ('alice', 4)",
        L"DELETE FROM xtrms.xtrms_audit WHERE seq > 1",
        L"SELECT * FROM xtrms.xtrms_secrets",
        L"SELECT * FROM xtrms.xtrms_sessions",
        L"SELECT * FROM xtrms.xtrms_password_history",
        L"SELECT xtrms.xtrms_lock_head()",
        L"SELECT xtrms.xtrms_prove('alice', '', 'ws', 'os', 'x')",
        L"CREATE TABLE public.xtrms_probe (i integer)",
        L"CREATE TEMPORARY TABLE xtrms_probe (i integer)",
        L"SELECT * FROM xtrms.list_users(NULL)",
        L"SELECT xtrms.set_policy(NULL, '{\"lockout_threshold\":0}', 'ws', 'os')",
    };
    std::unique_ptr<XTRmsOdbc::Connection> pStation = XTRmsConnectRaw(m_config, XTRmsEngine::Postgres);
    ASSERT_TRUE(pStation);
    for (const wchar_t* pszSql : kRefused)
    {
        XTRmsOdbc::Statement statement(*pStation, pszSql);
        bool bRan = statement.Execute();
        if (bRan)
            statement.Fetch();
        EXPECT_FALSE(bRan && pStation->GetLastError().strState.empty()) << Narrow(pszSql);
    }
    // Nor can it take the lock that serialises the trail, and hold it.
    ASSERT_TRUE(pStation->Begin());
    EXPECT_FALSE(pStation->Execute(L"LOCK TABLE xtrms.xtrms_audit_head IN EXCLUSIVE MODE"));
    pStation->Rollback();
    // Nothing changed.
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    EXPECT_FALSE(pAdmin->IsSuperUser(L"alice"));
    EXPECT_EQ(pAdmin->GetPolicy().nLockoutThreshold, 3u);
    std::wstring strProblem;
    EXPECT_TRUE(pAdmin->VerifyAuditChain(&strProblem)) << Narrow(strProblem);
    EXPECT_EQ(Start()->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
}

TEST_P(XTRmsServiceTest, SessionAndUnsavedChangesSurviveALostConnection)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pHost = StartAs(L"admin", L"gate-keeper-1");
    ASSERT_EQ(pHost->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
    if (GetParam() == XTRmsEngine::Postgres)
    {
        // As a server restart would: every workstation connection ends.
        std::unique_ptr<XTRmsOdbc::Connection> pDba = XTRmsConnectAdmin(m_config, GetParam(), m_server);
        ASSERT_TRUE(pDba &&
            pDba->Execute(L"SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                          L"WHERE usename = 'xtrms' AND pid <> pg_backend_pid()"));
        // The next call reconnects by itself.
        EXPECT_EQ(pHost->SaveUserProfiles(), Rms::RmsSuccess) << Narrow(pHost->GetLastServerMessage());
    }
    else
    {
        EXPECT_EQ(pHost->ReconnectToRestrictionSource(), Rms::ERmsLoginOk);
        EXPECT_EQ(pHost->SaveUserProfiles(), Rms::RmsSuccess) << Narrow(pHost->GetLastServerMessage());
    }
    EXPECT_EQ(pHost->GetLoggedInUserName(), L"admin");
    EXPECT_EQ(HoldsRight(L"alice", 3), 1);
    // A reconnect with nobody logged in says so, not "wrong password".
    std::unique_ptr<XTRmsService> pNobody = Start();
    EXPECT_EQ(pNobody->ReconnectToRestrictionSource(), Rms::ERmsLoginServerRefused);
    EXPECT_NE(pNobody->GetLastServerMessage().find(L"Nobody is logged in"), std::wstring::npos);
}

TEST_P(XTRmsServiceTest, ImportSetsEveryFieldAndRightAsListed)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    // alice loses right 2 and becomes a disabled Administrator; nopass
    // becomes an enabled Administrator with right 3 only.
    std::wstring strError;
    ASSERT_TRUE(
        pAdmin->ImportCsv(L"user,full_name,role,disabled,rights\r\n"
                          L"alice,Alice Neu,2,1,1\r\n"
                          L"nopass,,2,0,3\r\n",
            &strError))
        << Narrow(strError);
    std::unique_ptr<XTRmsService> pReader = Admin();
    std::vector<XTRmsUserRecord> vecUsers = pReader->ListUsers();
    std::map<std::wstring, XTRmsUserRecord> mapUsers;
    for (const XTRmsUserRecord& user : vecUsers)
        mapUsers[user.strUserName] = user;
    EXPECT_EQ(mapUsers[L"alice"].vecRights, std::vector<int>{1});
    EXPECT_EQ(mapUsers[L"alice"].nRole, 2);
    EXPECT_TRUE(mapUsers[L"alice"].bDisabled);
    EXPECT_EQ(mapUsers[L"alice"].strFullName, L"Alice Neu");
    EXPECT_EQ(mapUsers[L"nopass"].vecRights, std::vector<int>{3});
    EXPECT_EQ(mapUsers[L"nopass"].nRole, 2);
    EXPECT_FALSE(mapUsers[L"nopass"].bDisabled);
    EXPECT_EQ(Start()->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginAccountDisabled);
}

TEST_P(XTRmsServiceTest, SessionsEndWithTheAccountAndGuestsStayGuests)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.bGuestLoginAllowed = true;
    policy.vecGuestRights = {1};
    XTRmsServiceConfig config = WithPolicy(policy);
    std::unique_ptr<XTRmsService> pGuest = Start(config);
    ASSERT_EQ(pGuest->UserLogin(L"", L""), Rms::ERmsLoginOk);
    EXPECT_TRUE(pGuest->GetIsAllowed(1));
    EXPECT_FALSE(pGuest->GetIsAllowed(2));
    EXPECT_EQ(pGuest->GetLoggedInUserName(), L"");
    EXPECT_NE(pGuest->GetSettingsString().find(L"Logged-in user   : (guest)"), std::wstring::npos);
    EXPECT_EQ(pGuest->ChangeOwnPassword(L"", L"guest-password-1"), Rms::ERmsPasswordNotPermitted);
    EXPECT_EQ(pGuest->ReconnectToRestrictionSource(), Rms::ERmsLoginOk);
    EXPECT_NE(pGuest->GetSettingsString().find(L"Logged-in user   : (guest)"), std::wstring::npos);

    // A reconnect does not bring back an account disabled meanwhile.
    std::unique_ptr<XTRmsService> pAlice = StartAs(L"alice", L"blue-harbour-7");
    ASSERT_EQ(Admin()->SetDisabled(L"alice", true, nullptr), Rms::RmsSuccess);
    EXPECT_NE(pAlice->ReconnectToRestrictionSource(), Rms::ERmsLoginOk);
    EXPECT_FALSE(pAlice->GetIsAllowed(1));
    EXPECT_EQ(pAlice->GetLoggedInUserName(), L"");
}

// --- The site's definition -------------------------------------------------

XTRmsRoleDefinition Role(int nId, const wchar_t* pszName, bool bSuperUser, std::vector<int> vecRights)
{
    XTRmsRoleDefinition role;
    role.nId = static_cast<Rms::RmsUserRole>(nId);
    role.strName = pszName;
    role.bSuperUser = bSuperUser;
    role.vecRights = std::move(vecRights);
    return role;
}

std::vector<std::wstring> RightLabels(const std::vector<XTRmsRestrictionDefinition>& vecRights)
{
    std::vector<std::wstring> vecLabels;
    for (const XTRmsRestrictionDefinition& right : vecRights)
        vecLabels.push_back(std::to_wstring(right.GetId()) + L"=" + right.GetName());
    return vecLabels;
}

struct RedefineCase
{
    const char* pszWhat;
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    const wchar_t* pszProblem;
};

TEST_P(XTRmsServiceTest, RedefinitionAddsRenamesAndDropsOnlyWhatNobodyHolds)
{
    StartProvisioned(); // admin: role 2, rights 1-4; alice and nopass: role 1, rights 1, 2
    const std::vector<XTRmsRestrictionDefinition> vecRights = {
        {1, L"View"}, {2, L"Edit records"}, {3, L"Configure"}, {4, L"Manage users"}, {5, L"Export"}};
    const std::vector<XTRmsRoleDefinition> vecRoles = {Role(1, L"Operator", false, {1, 2, 5}),
        Role(2, L"Administrator", true, {1, 2, 3, 4}), Role(3, L"Auditor", false, {1})};
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    size_t nBefore = Events().size();
    size_t nChanges = 0;
    std::wstring strError;
    ASSERT_EQ(pAdmin->DefineSite(vecRights, vecRoles, &nChanges, &strError), Rms::RmsSuccess) << Narrow(strError);
    EXPECT_EQ(nChanges, 4u);
    std::vector<std::wstring> vecEvents = Events();
    ASSERT_EQ(vecEvents.size(), nBefore + 4);
    EXPECT_EQ(std::vector<std::wstring>(vecEvents.begin() + static_cast<long>(nBefore), vecEvents.end()),
        (std::vector<std::wstring>{L"right-renamed:right 2:Edit -> Edit records", L"right-added:right 5:Export",
            L"role-changed:role 1:Operator; rights 1;2;5", L"role-added:role 3:Auditor; rights 1"}));
    EXPECT_EQ(Admin()->GetAuditTrail(1).at(0).strActor.rfind(
                  GetParam() == XTRmsEngine::Postgres ? L"dba:" + m_server.strAdminUser : std::wstring(), 0),
        0u);
    // Hosts read the new definition; users keep the rights they had.
    std::unique_ptr<XTRmsService> pHost = Start();
    EXPECT_EQ(RightLabels(pHost->GetRoleRestrDefinitions()),
        (std::vector<std::wstring>{L"1=View", L"2=Edit records", L"3=Configure", L"4=Manage users", L"5=Export"}));
    for (const XTRmsUserRecord& user : Admin()->ListUsers())
    {
        if (user.strUserName == L"alice")
        {
            EXPECT_EQ(user.vecRights, (std::vector<int>{1, 2}));
        }
    }
    // The same again changes nothing and records nothing.
    ASSERT_EQ(pAdmin->DefineSite(vecRights, vecRoles, &nChanges, &strError), Rms::RmsSuccess) << Narrow(strError);
    EXPECT_EQ(nChanges, 0u);
    EXPECT_EQ(Events().size(), nBefore + 4);

    const RedefineCase cases[] = {
        {"a right still granted", {{1, L"View"}, {3, L"Configure"}, {4, L"Manage users"}, {5, L"Export"}},
            {Role(1, L"Operator", false, {1}), Role(2, L"Administrator", true, {1, 3, 4}),
                Role(3, L"Auditor", false, {1})},
            L"The right 2 (Edit records) cannot be dropped: it is still granted to 3 user(s)"},
        {"a role still held", vecRights,
            {Role(2, L"Administrator", true, {1, 2, 3, 4}), Role(3, L"Auditor", false, {1})},
            L"The role 1 (Operator) cannot be dropped: 2 user(s) still have it"},
        {"the last super user demoted", vecRights,
            {Role(1, L"Operator", false, {1, 2}), Role(2, L"Administrator", false, {1}),
                Role(3, L"Auditor", false, {1})},
            L"last enabled super user"},
        {"a label with a control character", {{1, L"Vi\u0007ew"}}, {Role(1, L"Operator", false, {1})},
            L"The label of right 1 must not hold control characters."},
        {"two roles of one name", vecRights, {Role(1, L"Operator", false, {1}), Role(3, L"OPERATOR", false, {1})},
            L"Role 3 has the name of role 1"},
        {"a role with a right not defined", {{1, L"View"}}, {Role(1, L"Operator", false, {1, 9})},
            L"Role 1 lists right 9, which is not defined."},
        {"a role's id out of range", {{1, L"View"}}, {Role(0, L"Nobody", false, {1})}, L"from 1 to 999999999"},
        {"no role at all", {{1, L"View"}}, {}, L"at least one right and one role"},
    };
    for (const RedefineCase& c : cases)
    {
        nChanges = 7;
        EXPECT_EQ(pAdmin->DefineSite(c.vecRights, c.vecRoles, &nChanges, &strError), Rms::RmsFailure) << c.pszWhat;
        EXPECT_NE(strError.find(c.pszProblem), std::wstring::npos) << c.pszWhat << ": " << Narrow(strError);
        EXPECT_EQ(nChanges, 0u) << c.pszWhat;
        EXPECT_EQ(Events().size(), nBefore + 4) << c.pszWhat;
        EXPECT_EQ(Admin()->GetRoleRestrDefinitions().size(), 5u) << c.pszWhat;
    }

    // An XTRm super user at a workstation is not the store's administrator.
    std::unique_ptr<XTRmsService> pSuperUser = StartAs(L"admin", L"gate-keeper-1");
    EXPECT_EQ(pSuperUser->DefineSite(vecRights, vecRoles, &nChanges, &strError), Rms::RmsFailure);
    EXPECT_NE(strError.find(L"Only the store's administrator"), std::wstring::npos) << Narrow(strError);
    if (GetParam() == XTRmsEngine::Postgres)
    {
        // Nor can the workstation's account call the function itself.
        std::unique_ptr<XTRmsOdbc::Connection> pStation = XTRmsConnectRaw(m_config, XTRmsEngine::Postgres);
        ASSERT_TRUE(pStation);
        EXPECT_FALSE(
            pStation->Execute(L"SELECT xtrms.redefine('[{\"id\":1,\"name\":\"View\"}]', "
                              L"'[{\"id\":1,\"name\":\"Operator\",\"rights\":[1]}]', 'ws', 'os')"));
        EXPECT_EQ(pStation->GetLastError().strState, L"42501");
    }

    // What nobody holds is dropped.
    ASSERT_EQ(
        pAdmin->DefineSite({{1, L"View"}, {2, L"Edit records"}, {3, L"Configure"}, {4, L"Manage users"}},
            {Role(1, L"Operator", false, {1, 2}), Role(2, L"Administrator", true, {1, 2, 3, 4})}, &nChanges, &strError),
        Rms::RmsSuccess)
        << Narrow(strError);
    vecEvents = Events();
    EXPECT_EQ(std::vector<std::wstring>(vecEvents.end() - 3, vecEvents.end()),
        (std::vector<std::wstring>{L"right-removed:right 5:Export", L"role-changed:role 1:Operator; rights 1;2",
            L"role-removed:role 3:Auditor"}));
}

TEST_P(XTRmsServiceTest, AHostWorksWithTheStoresDefinitionAndSaysWhereItsOwnDiffers)
{
    // The host's own definition went into the empty store (SetUp), audited.
    EXPECT_EQ(Events().at(0), L"definitions-written::4 rights, 2 roles");
    // Then the administrator changed it from a file.
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    std::wstring strError;
    ASSERT_EQ(pAdmin->DefineSite({{1, L"View"}, {2, L"Edit records"}, {3, L"Configure"}, {5, L"Export"}},
                  {Role(1, L"Operator", false, {1, 2, 5}), Role(2, L"Administrator", true, {1, 2, 3, 5})}, nullptr,
                  &strError),
        Rms::RmsSuccess)
        << Narrow(strError);
    ASSERT_EQ(pAdmin->AddUser(L"admin", L"", kAdministrator, L"gate-keeper-1", &strError), Rms::RmsSuccess);
    const size_t nEvents = Events().size();

    // A host that still brings rights 1 to 4 works with the store's and
    // writes nothing; where the two part is said.
    std::unique_ptr<XTRmsService> pHost = Start();
    EXPECT_EQ(Events().size(), nEvents);
    EXPECT_EQ(pHost->GetDefinitionDifferences(),
        (std::vector<std::wstring>{L"right 2 is \"Edit records\" in the store", L"right 4 is not in the store",
            L"right 5 is the store's only", L"role 1 is \"Operator; rights 1;2;5\" in the store",
            L"role 2 is \"Administrator; rights 1;2;3;5; super user\" in the store"}));
    EXPECT_NE(pHost->GetSettingsString().find(L"this host's differ: right 2 is \"Edit records\" in the store"),
        std::wstring::npos)
        << Narrow(pHost->GetSettingsString());
    EXPECT_EQ(RightLabels(pHost->GetRoleRestrDefinitions()),
        (std::vector<std::wstring>{L"1=View", L"2=Edit records", L"3=Configure", L"5=Export"}));
    ASSERT_EQ(pHost->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_TRUE(pHost->GetIsAllowed(5));
    EXPECT_FALSE(pHost->GetIsAllowed(4)) << "a right the store does not define is nobody's";
    EXPECT_NE(pHost->SetUserIsAllowed(L"admin", 4, true), Rms::RmsSuccess);
    EXPECT_EQ(RightLabels(Admin()->GetRoleRestrDefinitions()),
        (std::vector<std::wstring>{L"1=View", L"2=Edit records", L"3=Configure", L"5=Export"}));

    // A host that brings the store's definition is told they agree.
    XTRmsServiceConfig same = m_config;
    same.vecRights = {{1, L"View"}, {2, L"Edit records"}, {3, L"Configure"}, {5, L"Export"}};
    same.vecRoles = {Role(1, L"Operator", false, {5, 2, 1}), Role(2, L"Administrator", true, {1, 2, 3, 5})};
    std::unique_ptr<XTRmsService> pAgreeing = Start(same);
    EXPECT_TRUE(pAgreeing->GetDefinitionDifferences().empty());
    EXPECT_NE(pAgreeing->GetSettingsString().find(L"4 rights and 2 roles, the same as this host's"), std::wstring::npos)
        << Narrow(pAgreeing->GetSettingsString());
    // And a host whose own definition breaks the rules is told so, not
    // started on half of it.
    XTRmsServiceConfig broken = m_config;
    broken.vecRights.emplace_back(2, L"Edit again");
    XTRmsService brokenHost(broken);
    EXPECT_NE(Probe(brokenHost), Connected());
    EXPECT_NE(
        brokenHost.GetSettingsString().find(L"This host's rights and roles cannot be used: Right 2 is defined twice."),
        std::wstring::npos)
        << Narrow(brokenHost.GetSettingsString());
}

// --- Password lifecycle, the session's lock and signatures ----------------------

const long long kDay = 86400;

bool HasEvent(const std::vector<std::wstring>& vecEvents, const std::wstring& strEvent)
{
    return std::find(vecEvents.begin(), vecEvents.end(), strEvent) != vecEvents.end();
}

TEST_P(XTRmsServiceTest, ExpiredPasswordsAreChangedWithinTheLoginAndOpenNoSessionBefore)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.nMaxPasswordAgeDays = 30;
    XTRmsServiceConfig config = WithPolicy(policy);
    EXPECT_EQ(Start(config)->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_NE(Start(config)->GetSettingsString().find(L"expires after 30 days"), std::wstring::npos);
    // To the second on the injected clock; the server's own runs on meanwhile.
    const bool bExact = GetParam() == XTRmsEngine::Sqlite;
    AgePassword(L"alice", bExact ? 30 * kDay - 1 : 29 * kDay);
    EXPECT_EQ(Start(config)->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    // Not due: no way around the minimum age or the old password's proof.
    EXPECT_EQ(Start(config)->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"new-river-42"),
        Rms::ERmsPasswordNotPermitted);
    AgePassword(L"alice", bExact ? 1 : kDay);
    std::unique_ptr<XTRmsService> pService = Start(config);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginPasswordExpired);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"");
    EXPECT_FALSE(pService->GetIsAllowed(1));
    // A wrong password gives no hint that the account's password is due.
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-8"), Rms::ERmsLoginWrongPassword);
    // The change names the rule a refused password broke.
    EXPECT_EQ(pService->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"blue-harbour-7"), Rms::ERmsPasswordReused);
    EXPECT_EQ(pService->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"short"), Rms::ERmsPasswordTooShort);
    EXPECT_EQ(
        pService->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"my-alice-1"), Rms::ERmsPasswordContainsUserName);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"");
    // The change logs the user in with his rights.
    EXPECT_EQ(pService->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"new-river-42"), Rms::ERmsPasswordOk);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"alice");
    EXPECT_TRUE(pService->GetIsAllowed(1));
    EXPECT_TRUE(pService->GetIsAllowed(2));
    EXPECT_FALSE(pService->GetIsAllowed(3));
    EXPECT_EQ(Start(config)->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(Start(config)->UserLogin(L"alice", L"new-river-42"), Rms::ERmsLoginOk);
    std::vector<std::wstring> vecEvents = Events();
    EXPECT_TRUE(HasEvent(vecEvents, L"login-refused:alice:6 password expired"));
    EXPECT_TRUE(HasEvent(vecEvents, L"password-expired-change:alice:"));
}

TEST_P(XTRmsServiceTest, AChangeAtLoginCountsAWrongOldPasswordTowardLockout)
{
    m_config.policy.bMustChangeAfterReset = true;
    XTRmsServiceConfig config = WithPolicy(m_config.policy);
    StartProvisioned();
    std::unique_ptr<XTRmsService> pService = Start(config);
    EXPECT_EQ(pService->ChangeExpiredPassword(L"alice", L"bad-one-1", L"new-river-42"), Rms::ERmsPasswordWrongOld);
    EXPECT_EQ(pService->UserLogin(L"alice", L"bad-two-2"), Rms::ERmsLoginWrongPassword);
    // The third failure, whichever door it came through, locks.
    EXPECT_EQ(
        pService->ChangeExpiredPassword(L"alice", L"bad-three-3", L"new-river-42"), Rms::ERmsPasswordAccountLocked);
    EXPECT_EQ(
        pService->ChangeExpiredPassword(L"alice", L"blue-harbour-7", L"new-river-42"), Rms::ERmsPasswordAccountLocked);
    EXPECT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"");
}

TEST_P(XTRmsServiceTest, APasswordAnAdministratorSetsMustBeChangedWhenThePolicySaysSo)
{
    // The default is on; the suite's configuration turns it off.
    EXPECT_TRUE(XTRmsPolicy().bMustChangeAfterReset);
    StartProvisioned();
    for (int nCase = 0; nCase < 6; ++nCase)
    {
        // The switch on, then off; set with a new account, by the console
        // (SetPassword), in the dialog (SetUserPassword).
        const bool bSwitch = nCase < 3;
        const int nHow = nCase % 3;
        const ERmsLoginResult nExpected = bSwitch ? Rms::ERmsLoginPasswordExpired : Rms::ERmsLoginOk;
        SCOPED_TRACE(testing::Message() << "switch " << bSwitch << ", way " << nHow);
        XTRmsPolicy policy = m_config.policy;
        policy.bMustChangeAfterReset = bSwitch;
        XTRmsServiceConfig config = WithPolicy(policy);
        auto pAdmin = std::make_unique<XTRmsService>(XTRmsAdminConfig(config, m_server));
        std::wstring strError;
        ASSERT_TRUE(pAdmin->OpenStore(GetParam(), false, &strError)) << Narrow(strError);
        const std::wstring strUser = L"user" + std::to_wstring(nCase);
        ASSERT_EQ(
            pAdmin->AddUser(strUser, L"", kOperator, nHow == 0 ? L"first-pass-1" : L"", &strError), Rms::RmsSuccess)
            << Narrow(strError);
        if (nHow == 1)
        {
            ASSERT_EQ(pAdmin->SetPassword(strUser, L"first-pass-1", &strError), Rms::RmsSuccess) << Narrow(strError);
        }
        else if (nHow == 2)
        {
            std::unique_ptr<XTRmsService> pDialog = Start(config);
            ASSERT_EQ(pDialog->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
            ASSERT_EQ(pDialog->SetUserPassword(strUser, L"first-pass-1"), Rms::ERmsPasswordOk);
        }
        std::unique_ptr<XTRmsService> pService = Start(config);
        EXPECT_EQ(pService->UserLogin(strUser, L"first-pass-1"), nExpected);
        EXPECT_EQ(pService->GetIsAllowed(1), !bSwitch);
    }
}

TEST_P(XTRmsServiceTest, HistoryAndMinimumAgeHoldForOnesOwnChange)
{
    StartProvisioned();
    XTRmsPolicy policy = m_config.policy;
    policy.nPasswordHistory = 2;
    policy.nMinPasswordAgeDays = 1;
    XTRmsServiceConfig config = WithPolicy(policy);
    std::unique_ptr<XTRmsService> pService = Start(config);
    ASSERT_EQ(pService->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    // An hour short of the minimum age: counted in days, not seconds.
    AgePassword(L"alice", kDay - 3600);
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"first-new-11"), Rms::ERmsPasswordTooRecent);
    const wchar_t* const kSteps[][2] = {
        {L"first-new-11", L"ok"}, {L"blue-harbour-7", L"reused"}, // the last but one
        {L"first-new-11", L"reused"},                             // the current one
        {L"second-new-22", L"ok"}, {L"third-new-33", L"ok"},
        {L"first-new-11", L"reused"}, // the second last: still kept
        {L"blue-harbour-7", L"ok"},   // the third last: no longer kept
    };
    std::wstring strCurrent = L"blue-harbour-7";
    for (const auto& step : kSteps)
    {
        AgePassword(L"alice", kDay);
        bool bOk = std::wstring(step[1]) == L"ok";
        EXPECT_EQ(pService->ChangeOwnPassword(strCurrent, step[0]), bOk ? Rms::ERmsPasswordOk : Rms::ERmsPasswordReused)
            << Narrow(step[0]);
        if (bOk)
            strCurrent = step[0];
    }
    // A wrong old password is told before any rule.
    AgePassword(L"alice", kDay);
    EXPECT_EQ(pService->ChangeOwnPassword(L"wrong-old-1", L"fourth-new-44"), Rms::ERmsPasswordWrongOld);
    EXPECT_EQ(Start(config)->UserLogin(L"alice", strCurrent), Rms::ERmsLoginOk);
    // Disabled meanwhile: no change of one's own until an administrator acts.
    ASSERT_EQ(Admin()->SetDisabled(L"alice", true, nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->ChangeOwnPassword(strCurrent, L"fourth-new-44"), Rms::ERmsPasswordAccountLocked);
}

TEST_P(XTRmsServiceTest, LockUnlockAndSwitchUserAreAuditedAndWrongPasswordsLock)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pGuest = Start();
    EXPECT_FALSE(pGuest->LockSession());
    std::unique_ptr<XTRmsService> pService = StartAs(L"alice", L"blue-harbour-7");
    EXPECT_EQ(pService->SwitchUser(L"admin", L"gate-keeper-1"), Rms::ERmsLoginServerRefused);
    ASSERT_TRUE(pService->LockSession());
    EXPECT_TRUE(pService->IsSessionLocked());
    EXPECT_FALSE(pService->GetIsAllowed(1));
    EXPECT_EQ(pService->ChangeOwnPassword(L"blue-harbour-7", L"new-river-42"), Rms::ERmsPasswordNotPermitted);
    EXPECT_EQ(pService->UnlockSession(L"blue-harbour-8"), Rms::ERmsLoginWrongPassword);
    EXPECT_TRUE(pService->IsSessionLocked());
    EXPECT_EQ(pService->UnlockSession(L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_FALSE(pService->IsSessionLocked());
    EXPECT_TRUE(pService->GetIsAllowed(1));
    // Another user takes over a locked session; a refused one changes nothing.
    ASSERT_TRUE(pService->LockSession());
    EXPECT_EQ(pService->SwitchUser(L"admin", L"gate-keeper-2"), Rms::ERmsLoginWrongPassword);
    EXPECT_TRUE(pService->IsSessionLocked());
    EXPECT_EQ(pService->SwitchUser(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    EXPECT_FALSE(pService->IsSessionLocked());
    EXPECT_EQ(pService->GetLoggedInUserName(), L"admin");
    EXPECT_TRUE(pService->GetIsAllowed(3));
    EXPECT_TRUE(pService->CanSetOtherPasswords());
    std::vector<std::wstring> vecEvents = Events();
    EXPECT_TRUE(HasEvent(vecEvents, L"session-locked:alice:"));
    EXPECT_TRUE(HasEvent(vecEvents, L"session-unlocked:alice:"));
    EXPECT_TRUE(HasEvent(vecEvents, L"user-switched:admin:alice"));
    // The threshold's wrong passwords at the lock lock the account: the
    // right one is then answered as locked, and another user may still come.
    ASSERT_TRUE(pService->LockSession());
    // A locked administrator's screen administers nothing.
    EXPECT_FALSE(pService->CanReadAudit());
    EXPECT_NE(pService->SetDisabled(L"alice", true, nullptr), Rms::RmsSuccess);
    EXPECT_EQ(pService->UnlockSession(L"bad-one-1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UnlockSession(L"bad-two-2"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(pService->UnlockSession(L"bad-three-3"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->UnlockSession(L"gate-keeper-1"), Rms::ERmsLoginUserLocked);
    EXPECT_TRUE(pService->IsSessionLocked());
    EXPECT_FALSE(pService->GetIsAllowed(3));
    EXPECT_EQ(Start()->UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginUserLocked);
    EXPECT_EQ(pService->SwitchUser(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"alice");
    EXPECT_FALSE(pService->CanSetOtherPasswords());
}

struct SignCase
{
    const char* pszWhat;
    const wchar_t* pszSigner;
    const wchar_t* pszPassword;
    const wchar_t* pszReason;
    const wchar_t* pszFirstSigner;
    Rms::ERmsSignResult nExpected;
};

TEST_P(XTRmsServiceTest, SignaturesAreProvenLikeALoginAndRecorded)
{
    std::unique_ptr<XTRmsService> pAdmin = Admin();
    StartProvisioned();
    ASSERT_EQ(pAdmin->AddUser(L"dora", L"Dora", kOperator, L"maple-leaf-11", nullptr), Rms::RmsSuccess);
    ASSERT_EQ(pAdmin->SetDisabled(L"dora", true, nullptr), Rms::RmsSuccess);
    std::unique_ptr<XTRmsService> pNobody = Start();
    XTRmsSignature signature;
    EXPECT_EQ(pNobody->Sign(L"alice", L"blue-harbour-7", L"Release batch 4711", L"Approved", L"", &signature),
        Rms::ERmsSignNotPermitted);
    std::unique_ptr<XTRmsService> pService = StartAs(L"admin", L"gate-keeper-1");
    const SignCase cases[] = {
        {"wrong password", L"alice", L"blue-harbour-8", L"Approved", L"", Rms::ERmsSignWrongPassword},
        {"the first signer again", L"ALICE", L"blue-harbour-7", L"Approved", L"alice", Rms::ERmsSignSameSigner},
        {"disabled signer", L"dora", L"maple-leaf-11", L"Approved", L"", Rms::ERmsSignAccountDisabled},
        {"no reason", L"alice", L"blue-harbour-7", L"", L"", Rms::ERmsSignInvalidInput},
    };
    for (const SignCase& c : cases)
    {
        EXPECT_EQ(pService->Sign(
                      c.pszSigner, c.pszPassword, L"Release batch 4711", c.pszReason, c.pszFirstSigner, &signature),
            c.nExpected)
            << c.pszWhat;
    }
    // A signature records who, what, why and when, and opens no session.
    EXPECT_EQ(pService->Sign(L"alice", L"blue-harbour-7", L"Release batch 4711", L"Approved", L"admin", &signature),
        Rms::ERmsSignOk);
    EXPECT_EQ(pService->GetLoggedInUserName(), L"admin");
    EXPECT_EQ(signature.strUserName, L"alice");
    EXPECT_EQ(signature.strFullName, L"Alice B\u00e4cker");
    EXPECT_EQ(signature.strMeaning, L"Release batch 4711");
    EXPECT_EQ(signature.strReason, L"Approved");
    std::vector<XTRmsAuditEntry> vecTrail = Admin()->GetAuditTrail(1);
    ASSERT_EQ(vecTrail.size(), 1u);
    EXPECT_EQ(vecTrail[0].nSequence, signature.nAuditSequence);
    EXPECT_EQ(vecTrail[0].strTimeUtc, signature.strTimeUtc);
    EXPECT_EQ(vecTrail[0].strEvent, L"signature");
    EXPECT_EQ(vecTrail[0].strActor, L"admin");
    EXPECT_EQ(vecTrail[0].strSubject, L"alice");
    EXPECT_EQ(vecTrail[0].strDetail, L"Release batch 4711; reason: Approved; first signer: admin");
    if (GetParam() == XTRmsEngine::Sqlite)
    {
        EXPECT_EQ(signature.strTimeUtc, XTRmsStore::UtcText(m_nNow));
    }
    // Wrong passwords count toward lockout (afresh after the good one); a
    // locked signer is refused.
    for (const wchar_t* pszWrong : {L"bad-one-1", L"bad-two-2"})
    {
        EXPECT_EQ(pService->Sign(L"alice", pszWrong, L"Release batch 4712", L"Approved", L"", &signature),
            Rms::ERmsSignWrongPassword);
    }
    EXPECT_EQ(pService->Sign(L"alice", L"bad-three-3", L"Release batch 4712", L"Approved", L"", &signature),
        Rms::ERmsSignUserLocked);
    EXPECT_EQ(pService->Sign(L"alice", L"blue-harbour-7", L"Release batch 4712", L"Approved", L"", &signature),
        Rms::ERmsSignUserLocked);
    EXPECT_EQ(Start()->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginUserLocked);
    EXPECT_TRUE(HasEvent(Events(), L"signature-refused:alice:2 wrong password"));
}

TEST_P(XTRmsServiceTest, RightsThatNeedASignatureComeFromTheDefinition)
{
    // A host's own definition, written into a store that has none.
    m_config.vecSignedRights = {4};
    m_config.strDatabaseFile = XTRmsNewDatabaseFile();
    if (GetParam() == XTRmsEngine::Postgres)
    {
        ASSERT_TRUE(XTRmsEmptyServerDatabase(m_config, m_server));
    }
    ASSERT_TRUE(Admin()->IsStoreAdministrator());
    EXPECT_TRUE(Start()->IsSignatureRequired(4));
    EXPECT_FALSE(Start()->IsSignatureRequired(3));
    // The site's file says it later; an overload without them keeps them.
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    std::vector<int> vecSigned;
    std::wstring strError;
    ASSERT_TRUE(XTRmsService::ParseSiteDefinition(
        L"[rights]\n1 = View\n2 = Edit\n3 = Configure\n4 = Manage users\n[role 1]\nname = Operator\nrights = 1, 2\n"
        L"[role 2]\nname = Administrator\nrights = 1, 2, 3, 4\nsuper-user = yes\n[signatures]\nrights = 2, 3\n",
        &vecRights, &vecRoles, &vecSigned, &strError))
        << Narrow(strError);
    EXPECT_EQ(vecSigned, std::vector<int>({2, 3}));
    EXPECT_FALSE(
        XTRmsService::ParseSiteDefinition(L"[rights]\n1 = View\n[role 1]\nname = Operator\n[signatures]\nrights = 5\n",
            &vecRights, &vecRoles, &vecSigned, &strError));
    EXPECT_NE(strError.find(L"line 6"), std::wstring::npos) << Narrow(strError);
    size_t nChanges = 0;
    ASSERT_EQ(Admin()->DefineSite(vecRights, vecRoles, {2, 3}, &nChanges, &strError), Rms::RmsSuccess)
        << Narrow(strError);
    EXPECT_EQ(nChanges, 1u);
    std::unique_ptr<XTRmsService> pService = Start();
    EXPECT_TRUE(pService->IsSignatureRequired(2));
    EXPECT_TRUE(pService->IsSignatureRequired(3));
    EXPECT_FALSE(pService->IsSignatureRequired(4));
    ASSERT_EQ(Admin()->DefineSite(vecRights, vecRoles, &nChanges, &strError), Rms::RmsSuccess) << Narrow(strError);
    EXPECT_TRUE(Start()->IsSignatureRequired(2));
}

TEST(XTRmsConnections, AMissingOdbcDriverIsNamed)
{
    XTRmsTestServer noServer;
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Sqlite, noServer, XTRmsNewDatabaseFile());
    config.strSqliteDriver = L"XTRms Absent SQLite Driver";
    config.strPostgresDriver = L"XTRms Absent PostgreSQL Driver";
    config.serverSetting = XTRmsServerSetting(L"127.0.0.1", 9);
    // The start-up check names both before anything is opened...
    const std::wstring strMissing = XTRmsService::DescribeMissingOdbcDrivers(config);
    EXPECT_NE(
        strMissing.find(L"\"XTRms Absent SQLite Driver\" (for the SQLite store) is not installed"), std::wstring::npos)
        << Narrow(strMissing);
    EXPECT_NE(strMissing.find(L"\"XTRms Absent PostgreSQL Driver\" (for the rights server) is not installed"),
        std::wstring::npos)
        << Narrow(strMissing);
    // ... and says nothing where the drivers are there, or not used.
    XTRmsServiceConfig installed = XTRmsTestConfig(XTRmsEngine::Sqlite, noServer, XTRmsNewDatabaseFile());
    EXPECT_EQ(XTRmsService::DescribeMissingOdbcDrivers(installed), L"");
    XTRmsServiceConfig localOnly = config;
    localOnly.strSqliteDriver = installed.strSqliteDriver;
    localOnly.serverSetting = XTRmsServerSetting();
    EXPECT_EQ(XTRmsService::DescribeMissingOdbcDrivers(localOnly), L"");

    XTRmsService local(config);
    std::wstring strError;
    EXPECT_FALSE(local.OpenStore(XTRmsEngine::Sqlite, true, &strError));
    EXPECT_NE(strError.find(L"The ODBC driver \"XTRms Absent SQLite Driver\" is not installed on this workstation"),
        std::wstring::npos)
        << Narrow(strError);
    EXPECT_EQ(GetFileAttributesW(config.strDatabaseFile.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing created";
    XTRmsService server(config);
    EXPECT_NE(TryConnect(server, Rms::RmsConnectModeServer), Rms::RmsConnectionServerConnected);
    std::wstring strSettings = server.GetSettingsString();
    EXPECT_NE(strSettings.find(L"The ODBC driver \"XTRms Absent PostgreSQL Driver\" is not installed on this "
                               L"workstation"),
        std::wstring::npos)
        << Narrow(strSettings);
}

// --- The local file and the server: what each connection test answers ----

TEST(XTRmsLocalSource, MissingUnreadableAndAbsentFilesAreReportedNotReplaced)
{
    XTRmsTestServer noServer;
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Sqlite, noServer, XTRmsNewDatabaseFile());
    config.bCreateDatabase = false;
    XTRmsService missing(config);
    EXPECT_EQ(TryConnect(missing, Rms::RmsConnectModeSource), Rms::RmsConnectionServerNotFound);
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
    EXPECT_EQ(TryConnect(damaged, Rms::RmsConnectModeSource), Rms::RmsConnectionServerIncompatible);
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
        ASSERT_EQ(creator.AddUser(L"alice", L"", kAdministrator, L"blue-harbour-7", nullptr), Rms::RmsSuccess);
    }
    XTRmsService service(config);
    ASSERT_EQ(TryConnect(service, Rms::RmsConnectModeSource), Rms::RmsConnectionOk);
    ASSERT_EQ(service.Initialize(Rms::RmsApplicationStandard, L"", L"", L"", L"", 0, 0, L""), Rms::RmsSuccess);
    ASSERT_EQ(service.UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    // Another program holds the write lock for longer than the bound: the
    // save fails and keeps its changes, and nothing is replaced.
    std::unique_ptr<XTRmsOdbc::Connection> pHolder = XTRmsConnectRaw(config, XTRmsEngine::Sqlite);
    ASSERT_TRUE(pHolder && pHolder->Begin(L"BEGIN IMMEDIATE"));
    ASSERT_EQ(service.CreateUser(L"bob", kOperator), Rms::RmsSuccess);
    EXPECT_EQ(service.SaveUserProfiles(), Rms::RmsFailure);
    ASSERT_TRUE(pHolder->Rollback());
    // Once the lock is gone everything works on the same data.
    EXPECT_EQ(service.SaveUserProfiles(), Rms::RmsSuccess);
    // A login meanwhile is refused as "store unavailable".
    ASSERT_TRUE(pHolder->Begin(L"BEGIN IMMEDIATE"));
    EXPECT_EQ(service.UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginSourceUnavailable);
    ASSERT_TRUE(pHolder->Rollback());
    XTRmsService reader(config);
    ASSERT_TRUE(reader.OpenStore(XTRmsEngine::Sqlite, false, nullptr));
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
    ASSERT_TRUE(XTRmsEmptyServerDatabase(base, server));
    {
        XTRmsService creator(XTRmsAdminConfig(base, server));
        ASSERT_TRUE(creator.OpenStore(XTRmsEngine::Postgres, true, nullptr));
    }
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
        EXPECT_EQ(TryConnect(service, Rms::RmsConnectModeServer), c.nExpected)
            << c.pszWhat << " " << Narrow(service.GetSettingsString());
    }
}
} // namespace

// The trail as the review dialog pages it: rows that match, newest first.
class XTRmsAuditReviewTest : public XTRmsServiceTest
{
protected:
    // "event:subject" of each row of one query.
    static std::vector<std::wstring> Rows(const std::vector<XTRmsAuditRow>& vecRows)
    {
        std::vector<std::wstring> vecTexts;
        for (const XTRmsAuditRow& row : vecRows)
            vecTexts.push_back(row.strEvent + L":" + row.strSubject);
        return vecTexts;
    }

    // The trail's rows at known times: the provisioning on the 15th, alice's
    // login on the 16th, the administrator's login and two rights changes
    // on the 17th at 10:00, a refused login at midnight after. On a rights
    // server the server's clock writes the rows, so the times are set
    // afterwards, as its administrator could.
    std::unique_ptr<XTRmsService> MakeTrail()
    {
        StartProvisioned();
        const long long nBase = static_cast<long long>(Admin()->GetAuditTrail(0).size());
        StartAs(L"alice", L"blue-harbour-7");
        std::unique_ptr<XTRmsService> pHost = StartAs(L"admin", L"gate-keeper-1");
        EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 3, true), Rms::RmsSuccess);
        EXPECT_EQ(pHost->SetUserIsAllowed(L"alice", 1, false), Rms::RmsSuccess);
        EXPECT_EQ(pHost->SaveUserProfiles(), Rms::RmsSuccess);
        EXPECT_EQ(Start()->UserLogin(L"alice", L"wrong-wrong-1"), Rms::ERmsLoginWrongPassword);
        const std::pair<long long, const wchar_t*> times[] = {{nBase, L"2027-01-15T08:00:00Z"},
            {nBase + 1, L"2027-01-16T09:00:00Z"}, {nBase + 4, L"2027-01-17T10:00:00Z"},
            {nBase + 5, L"2027-01-18T00:00:00Z"}};
        long long nFrom = 1;
        for (const auto& time : times)
        {
            EXPECT_TRUE(ExecuteAsAdministrator(std::wstring(L"UPDATE xtrms_audit SET at_utc = '") + time.second +
                L"' WHERE seq BETWEEN " + std::to_wstring(nFrom) + L" AND " + std::to_wstring(time.first)));
            nFrom = time.first + 1;
        }
        m_nTrailRows = static_cast<size_t>(nFrom - 1);
        return pHost;
    }

    size_t m_nTrailRows = 0;
};

INSTANTIATE_TEST_SUITE_P(
    Engines, XTRmsAuditReviewTest, ::testing::Values(XTRmsEngine::Sqlite, XTRmsEngine::Postgres), EngineName);

struct AuditFilterCase
{
    const char* pszWhat;
    XTRmsAuditFilter filter;
    std::vector<std::wstring> vecExpected; // newest first
};

TEST_P(XTRmsAuditReviewTest, FiltersFindExactlyTheirRowsNewestFirst)
{
    std::unique_ptr<XTRmsService> pHost = MakeTrail();
    const std::wstring kGranted = L"right-granted:alice", kWithdrawn = L"right-withdrawn:alice",
                       kRefused = L"login-refused:alice";
    const AuditFilterCase cases[] = {
        {"one day", {L"2027-01-16", L"2027-01-16", L"", L"", L""}, {L"login:alice"}},
        {"from a time, inclusive", {L"2027-01-17T10:00:00Z", L"", L"", L"", L""},
            {kRefused, kWithdrawn, kGranted, L"login:admin"}},
        {"to a time without seconds, inclusive", {L"2027-01-16T09:00", L"2027-01-17T10:00", L"", L"", L""},
            {kWithdrawn, kGranted, L"login:admin", L"login:alice"}},
        {"a day's end is its last second", {L"2027-01-17", L"2027-01-17", L"", L"", L""},
            {kWithdrawn, kGranted, L"login:admin"}},
        {"user as actor or subject, any case", {L"2027-01-16", L"", L"ALICE", L"", L""},
            {kRefused, kWithdrawn, kGranted, L"login:alice"}},
        {"event exactly", {L"", L"", L"", L"right-granted", L""}, {kGranted}},
        {"event is no prefix", {L"", L"", L"", L"right", L""}, {}},
        {"text in the detail, any case", {L"", L"", L"", L"", L"CONFIGURE"}, {kGranted}},
        {"text spans no fields", {L"", L"", L"", L"", L"alicelogin"}, {}},
        {"everything at once", {L"2027-01-17", L"2027-01-18", L"admin", L"right-withdrawn", L"yes -> no"},
            {kWithdrawn}},
    };
    for (const AuditFilterCase& c : cases)
    {
        std::vector<XTRmsAuditRow> vecRows;
        std::wstring strError;
        ASSERT_TRUE(pHost->QueryAudit(c.filter, 0, 100, &vecRows, &strError)) << c.pszWhat << ": " << Narrow(strError);
        EXPECT_EQ(Rows(vecRows), c.vecExpected) << c.pszWhat;
    }
    // The whole trail, and the rights changes with their values before and
    // after, named by their labels.
    std::vector<XTRmsAuditRow> vecAll;
    std::wstring strError;
    ASSERT_TRUE(pHost->QueryAudit(XTRmsAuditFilter(), 0, 1000, &vecAll, &strError));
    ASSERT_EQ(vecAll.size(), m_nTrailRows);
    EXPECT_EQ(vecAll[1].strDetail, L"right 1 (View): yes -> no");
    EXPECT_EQ(vecAll[2].strDetail, L"right 3 (Configure): no -> yes");
    EXPECT_EQ(vecAll[2].strActor, L"admin");
    EXPECT_EQ(vecAll[2].strTimeUtc, L"2027-01-17T10:00:00Z");

    // Input no row could match is refused, not answered with nothing.
    const std::pair<XTRmsAuditFilter, const wchar_t*> bad[] = {
        {{L"2027-02-29", L"", L"", L"", L""}, L"ISO 8601"},
        {{L"", L"2027-01-15T24:00:00Z", L"", L"", L""}, L"ISO 8601"},
        {{L"15.01.2027", L"", L"", L"", L""}, L"ISO 8601"},
        {{L"2027-01-18", L"2027-01-17", L"", L"", L""}, L"after its end"},
        {{L"", L"", L"a\nb", L"", L""}, L"control characters"},
    };
    for (const auto& b : bad)
    {
        vecAll.assign(1, XTRmsAuditRow());
        EXPECT_FALSE(pHost->QueryAudit(b.first, 0, 10, &vecAll, &strError)) << Narrow(b.second);
        EXPECT_NE(strError.find(b.second), std::wstring::npos) << Narrow(strError);
        EXPECT_TRUE(vecAll.empty());
    }
}

TEST_P(XTRmsAuditReviewTest, PagesMeetWithoutARowLostOrShownTwice)
{
    std::unique_ptr<XTRmsService> pHost = MakeTrail();
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(Start()->UserLogin(L"alice", L"blue-harbour-7"), Rms::ERmsLoginOk);
    const XTRmsAuditFilter alice = {L"", L"", L"alice", L"", L""};
    std::vector<XTRmsAuditRow> vecAll;
    std::wstring strError;
    ASSERT_TRUE(pHost->QueryAudit(alice, 0, 1000, &vecAll, &strError));
    ASSERT_GT(vecAll.size(), 12u);
    // Pages of a size that divides the rows evenly and one that does not.
    for (size_t nPage : {vecAll.size() / 2, size_t(5), size_t(1)})
    {
        std::vector<long long> vecSeen;
        long long nBefore = 0;
        // Bounded: a page that repeats its start must fail, not hang.
        for (size_t nPages = 0; nPages <= vecAll.size() + 1; ++nPages)
        {
            std::vector<XTRmsAuditRow> vecPage;
            ASSERT_TRUE(pHost->QueryAudit(alice, nBefore, nPage, &vecPage, &strError)) << Narrow(strError);
            ASSERT_LE(vecPage.size(), nPage);
            for (const XTRmsAuditRow& row : vecPage)
                vecSeen.push_back(row.nSequence);
            if (vecPage.empty())
                break;
            nBefore = vecPage.back().nSequence;
        }
        std::vector<long long> vecExpected;
        for (const XTRmsAuditRow& row : vecAll)
            vecExpected.push_back(row.nSequence);
        EXPECT_EQ(vecSeen, vecExpected) << "page of " << nPage;
    }
    EXPECT_TRUE(std::is_sorted(vecAll.rbegin(), vecAll.rend(),
        [](const XTRmsAuditRow& a, const XTRmsAuditRow& b) { return a.nSequence < b.nSequence; }));
    // Below the oldest row there is nothing; a page is never the trail.
    std::vector<XTRmsAuditRow> vecRows;
    EXPECT_TRUE(pHost->QueryAudit(alice, vecAll.back().nSequence, 10, &vecRows, &strError));
    EXPECT_TRUE(vecRows.empty());
    EXPECT_FALSE(pHost->QueryAudit(alice, 0, 0, &vecRows, &strError));
    EXPECT_FALSE(pHost->QueryAudit(alice, 0, 1001, &vecRows, &strError));
}

TEST_P(XTRmsAuditReviewTest, OnlyAdministratorsReviewAndVerifyTheTrail)
{
    StartProvisioned();
    std::unique_ptr<XTRmsService> pAdminHost = StartAs(L"admin", L"gate-keeper-1");
    std::unique_ptr<XTRmsService> pOperator = StartAs(L"alice", L"blue-harbour-7");
    std::unique_ptr<XTRmsService> pNobody = Start();
    std::wstring strError;
    for (XTRmsService* pService : {pOperator.get(), pNobody.get()})
    {
        EXPECT_FALSE(pService->CanReadAudit());
        std::vector<XTRmsAuditRow> vecRows(1);
        EXPECT_FALSE(pService->QueryAudit(XTRmsAuditFilter(), 0, 10, &vecRows, &strError));
        EXPECT_TRUE(vecRows.empty());
        EXPECT_NE(strError.find(L"administrator"), std::wstring::npos) << Narrow(strError);
        bool bIntact = true;
        EXPECT_FALSE(pService->VerifyAuditTrail(&bIntact, &strError));
        EXPECT_FALSE(bIntact);
    }
    ASSERT_TRUE(pAdminHost->CanReadAudit());
    bool bIntact = false;
    std::wstring strProblem;
    EXPECT_TRUE(pAdminHost->VerifyAuditTrail(&bIntact, &strProblem));
    EXPECT_TRUE(bIntact) << Narrow(strProblem);
    // A row changed behind the service's back is named.
    ASSERT_TRUE(ExecuteAsAdministrator(L"UPDATE xtrms_audit SET detail = 'forged' WHERE seq = 2"));
    EXPECT_TRUE(pAdminHost->VerifyAuditTrail(&bIntact, &strProblem));
    EXPECT_FALSE(bIntact);
    EXPECT_NE(strProblem.find(L"audit row 2 was changed"), std::wstring::npos) << Narrow(strProblem);
    // An administrator demoted meanwhile reads no more.
    std::wstring strSql = L"UPDATE xtrms_users SET role_id = 1 WHERE name = 'admin'";
    ASSERT_TRUE(ExecuteAsAdministrator(strSql));
    std::vector<XTRmsAuditRow> vecRows;
    EXPECT_FALSE(pAdminHost->QueryAudit(XTRmsAuditFilter(), 0, 10, &vecRows, &strError));
}

// The text filter: literally contained in any one field, without regard to
// case, with the trail's text index and without it (the SQLite trigram
// index, the rights server's pg_trgm index), alone and beside the other
// filters, page after page.
TEST_P(XTRmsAuditReviewTest, TextFilterMatchesLiterallyInOneFieldWithTheIndexAndWithout)
{
    const bool bSqlite = GetParam() == XTRmsEngine::Sqlite;
    std::unique_ptr<XTRmsService> pHost = MakeTrail();
    // Rows written after the index was made: found only if it follows the
    // trail. 2,100 rows of one text make it a text that many rows hold.
    const wchar_t* const pszColumns =
        L"INSERT INTO xtrms_audit (seq, at_utc, workstation, os_user, actor, event, subject, detail, hash) ";
    ASSERT_TRUE(ExecuteAsAdministrator(std::wstring(pszColumns) +
        L"VALUES (1001, '2027-03-01T08:00:00Z', 'LAB_PC-7', 'op', 'carol', 'login', 'carol', '', ''), "
        L"(1002, '2027-03-01T09:00:00Z', 'LABXPC-7', 'op', 'carol', 'login', 'carol', 'yield 50% of plan', ''), "
        L"(1003, '2027-03-02T10:00:00Z', 'WS-Q7', 'Op\\Night', 'dave', 'right-granted', 'carol', 'yield 50', ''), "
        L"(1004, '2027-03-02T11:00:00Z', 'WS2', 'op', 'dave', 'signature', 'dave', 'Batch 4711 RELEASED \"ok\"', '')"));
    ASSERT_TRUE(ExecuteAsAdministrator(
        std::wstring(
            bSqlite ? L"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2100) " : L"") +
        pszColumns +
        L"SELECT 2000 + i, '2027-04-01T00:00:00Z', 'WS3', 'op', 'erin', CASE WHEN i <= 3 THEN 'bulk-old' ELSE 'bulk' "
        L"END, 'erin', 'bulk row ' || i, '' FROM " +
        (bSqlite ? L"n" : L"generate_series(1, 2100) AS n(i)")));

    const struct
    {
        const char* pszWhat;
        XTRmsAuditFilter filter;
        std::vector<long long> vecExpected; // newest first
    } cases[] = {
        {"a text one row holds", {L"", L"", L"", L"", L"batch 4711"}, {1004}},
        {"mixed case", {L"", L"", L"", L"", L"bAtCh 4711 rElEaSeD"}, {1004}},
        {"short text", {L"", L"", L"", L"", L"q7"}, {1003}},
        {"quotes", {L"", L"", L"", L"", L"\"OK\""}, {1004}},
        {"% only itself", {L"", L"", L"", L"", L"50%"}, {1002}},
        {"_ only itself", {L"", L"", L"", L"", L"lab_"}, {1001}},
        {"\\ only itself", {L"", L"", L"", L"", L"op\\n"}, {1003}},
        {"in the time", {L"", L"", L"", L"", L"03-02t10"}, {1003}},
        {"in the workstation", {L"", L"", L"", L"", L"labxpc"}, {1002}},
        {"in the actor or subject", {L"", L"", L"", L"", L"DAVE"}, {1004, 1003}},
        {"in the event", {L"", L"", L"", L"", L"signat"}, {1004}},
        {"in the detail", {L"", L"", L"", L"", L"yield 50"}, {1003, 1002}},
        {"not across two fields", {L"", L"", L"", L"", L"carollogin"}, {}},
        {"not across time and workstation", {L"", L"", L"", L"", L"00zlab"}, {}},
        {"with a user", {L"", L"", L"Dave", L"", L"yield"}, {1003}},
        {"with an event", {L"", L"", L"", L"login", L"-7"}, {1002, 1001}},
        {"with a time range", {L"2027-03-01", L"2027-03-01", L"", L"", L"yield"}, {1002}},
        {"many rows hold it, the event only the oldest", {L"", L"", L"", L"bulk-old", L"bulk row"}, {2003, 2002, 2001}},
        {"few rows hold it, with a time", {L"2027-04-01", L"", L"", L"bulk", L"ROW 210"}, {4100, 2210}},
    };
    // The same rows on every path; on SQLite the second pass has no index
    // (a SQLite without FTS5), on the rights server no pg_trgm index.
    for (int nPass = 0; nPass < 2; ++nPass)
    {
        for (const auto& c : cases)
        {
            std::vector<XTRmsAuditRow> vecRows;
            std::wstring strError;
            ASSERT_TRUE(pHost->QueryAudit(c.filter, 0, 100, &vecRows, &strError)) << c.pszWhat << Narrow(strError);
            std::vector<long long> vecFound;
            for (const XTRmsAuditRow& row : vecRows)
                vecFound.push_back(row.nSequence);
            EXPECT_EQ(vecFound, c.vecExpected) << c.pszWhat << (nPass == 0 ? ", indexed" : ", read");
        }
        // Pages of a text that many rows hold meet without a gap or a row
        // twice, also where the index's newest candidates run out.
        // "bulk row 1" is rows 1, 10-19, 100-199 and 1000-1999.
        const std::pair<XTRmsAuditFilter, size_t> pages[] = {{{L"", L"", L"", L"", L"bulk row 1"}, 1111},
            {{L"", L"", L"", L"bulk", L"bulk row"}, 2097}, {{L"", L"", L"", L"bulk-old", L"bulk"}, 3}};
        for (const auto& [filter, nExpected] : pages)
        {
            std::vector<long long> vecSeen;
            long long nBefore = 0;
            for (int nPage = 0; nPage < 1000; ++nPage)
            {
                std::vector<XTRmsAuditRow> vecPage;
                std::wstring strError;
                ASSERT_TRUE(pHost->QueryAudit(filter, nBefore, 200, &vecPage, &strError)) << Narrow(strError);
                for (const XTRmsAuditRow& row : vecPage)
                    vecSeen.push_back(row.nSequence);
                if (vecPage.size() < 200)
                    break;
                nBefore = vecPage.back().nSequence;
            }
            ASSERT_EQ(vecSeen.size(), nExpected) << Narrow(filter.strText);
            EXPECT_TRUE(
                std::adjacent_find(vecSeen.begin(), vecSeen.end(), std::less_equal<long long>()) == vecSeen.end());
            EXPECT_EQ(vecSeen.back(), filter.strEvent == L"bulk" ? 2004 : 2001);
        }
        if (nPass == 0)
        {
            // Away with the index; a plain table in its place keeps SQLite
            // from making it again, as if FTS5 were missing.
            if (bSqlite)
            {
                for (const wchar_t* pszSql : {L"DROP TRIGGER xtrms_audit_text_insert",
                         L"DROP TRIGGER xtrms_audit_text_update", L"DROP TRIGGER xtrms_audit_text_delete",
                         L"DROP TABLE xtrms_audit_text", L"CREATE TABLE xtrms_audit_text (blocked INTEGER)"})
                    ASSERT_TRUE(ExecuteAsAdministrator(pszSql)) << Narrow(pszSql);
            }
            else
                ASSERT_TRUE(ExecuteAsAdministrator(L"DROP INDEX xtrms_audit_text"));
            // The store opens and writes the trail as before.
            pHost = StartAs(L"admin", L"gate-keeper-1");
        }
    }
    if (!bSqlite)
        return;
    // Where the index can be made again it is, with the rows written
    // without it.
    ASSERT_TRUE(ExecuteAsAdministrator(std::wstring(pszColumns) +
        L"VALUES (1005, '2027-03-03T08:00:00Z', 'WS2', 'op', 'dave', 'signature', 'dave', 'Batch 4712', '')"));
    ASSERT_TRUE(ExecuteAsAdministrator(L"DROP TABLE xtrms_audit_text"));
    pHost = StartAs(L"admin", L"gate-keeper-1");
    {
        std::unique_ptr<XTRmsOdbc::Connection> pConnection = XTRmsConnectAdmin(m_config, GetParam(), m_server);
        ASSERT_TRUE(pConnection);
        XTRmsStore store(GetParam(), std::move(pConnection));
        store.PrepareAuditTextIndex();
        EXPECT_TRUE(store.HasAuditTextIndex());
    }
    std::vector<XTRmsAuditRow> vecRows;
    std::wstring strError;
    ASSERT_TRUE(pHost->QueryAudit({L"", L"", L"", L"", L"BATCH 471"}, 0, 10, &vecRows, &strError));
    ASSERT_EQ(vecRows.size(), 2u);
    EXPECT_EQ(vecRows[0].nSequence, 1005);
}
