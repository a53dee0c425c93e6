// A rights server that stops answering: every call returns, refused, and the
// next one after the server is back carries on with the same session.
#include <winsock2.h>

#include "XTRmsTestStores.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{
// A loopback relay in front of the test cluster that can freeze: it then
// holds every connection open and passes nothing, as a dead network would;
// thawed, it drops the connections it held (the network came back, they did
// not) and relays new ones. It serves only a few within a test's time.
class FreezingRelay
{
public:
    explicit FreezingRelay(int nTargetPort) : m_nTargetPort(nTargetPort)
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(m_listener, 8);
        int nLength = sizeof(address);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &nLength);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FreezingRelay()
    {
        m_bStop = true;
        m_thread.join();
        closesocket(m_listener);
        WSACleanup();
    }
    int GetPort() const { return m_nPort; }
    void Freeze() { m_bFrozen = true; }
    // Returns once the held connections are dropped, so that a connection
    // made after it is relayed.
    void Thaw()
    {
        m_bFrozen = false;
        for (int nWait = 0; nWait < 200 && !m_bThawed; ++nWait)
            Sleep(10);
    }

private:
    void Serve()
    {
        std::vector<std::pair<SOCKET, SOCKET>> vecPairs;
        auto dropAll = [&vecPairs] {
            for (const auto& pair : vecPairs)
            {
                closesocket(pair.first);
                closesocket(pair.second);
            }
            vecPairs.clear();
        };
        bool bWasFrozen = false;
        // Bounded: at most a few minutes, then it stops by itself.
        for (int nTurn = 0; nTurn < 6000 && !m_bStop; ++nTurn)
        {
            if (bWasFrozen && !m_bFrozen)
            {
                dropAll();
                m_bThawed = true;
            }
            bWasFrozen = m_bFrozen;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_listener, &readable);
            if (!m_bFrozen)
            {
                for (const auto& pair : vecPairs)
                {
                    FD_SET(pair.first, &readable);
                    FD_SET(pair.second, &readable);
                }
            }
            timeval wait = {0, 20000};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            if (FD_ISSET(m_listener, &readable))
            {
                SOCKET client = accept(m_listener, nullptr, nullptr);
                SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
                sockaddr_in target = {};
                target.sin_family = AF_INET;
                target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                target.sin_port = htons(static_cast<u_short>(m_nTargetPort));
                if (client != INVALID_SOCKET &&
                    connect(server, reinterpret_cast<sockaddr*>(&target), sizeof(target)) == 0)
                    vecPairs.emplace_back(client, server);
                else
                {
                    closesocket(client);
                    closesocket(server);
                }
            }
            if (m_bFrozen)
                continue;
            char buffer[16384];
            for (const auto& pair : vecPairs)
            {
                for (int nWay = 0; nWay < 2; ++nWay)
                {
                    SOCKET from = nWay == 0 ? pair.first : pair.second;
                    SOCKET to = nWay == 0 ? pair.second : pair.first;
                    if (!FD_ISSET(from, &readable))
                        continue;
                    int nRead = recv(from, buffer, sizeof(buffer), 0);
                    if (nRead > 0)
                        send(to, buffer, nRead, 0);
                }
            }
        }
        dropAll();
    }

    int m_nTargetPort;
    int m_nPort = 0;
    SOCKET m_listener = INVALID_SOCKET;
    std::atomic<bool> m_bFrozen{false};
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bThawed{false};
    std::thread m_thread;
};

TEST(XTRmsBoundedCalls, AServerThatStopsAnsweringCostsACallItsBoundOnly)
{
    XTRmsTestServer server;
    if (!XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Postgres, server, L"");
    config.nTimeoutSeconds = 2;
    ASSERT_TRUE(XTRmsEmptyServerDatabase(config, server));
    {
        XTRmsService admin(XTRmsAdminConfig(config, server));
        ASSERT_TRUE(admin.OpenStore(XTRmsEngine::Postgres, true, nullptr));
        ASSERT_EQ(
            admin.AddUser(L"admin", L"", static_cast<Rms::RmsUserRole>(2), L"gate-keeper-1", nullptr), Rms::RmsSuccess);
    }
    FreezingRelay relay(server.nPort);
    config.serverSetting = XTRmsServerSetting(L"127.0.0.1", relay.GetPort());
    XTRmsService service(config);
    ASSERT_EQ(
        service.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeServer, 0, 0, L""),
        Rms::RmsConnectionServerConnected);
    ASSERT_EQ(service.UserLogin(L"admin", L"gate-keeper-1"), Rms::ERmsLoginOk);
    ASSERT_EQ(service.CreateUser(L"carol", static_cast<Rms::RmsUserRole>(1)), Rms::RmsSuccess);

    // The server stops answering in the middle of the session: the save
    // comes back refused instead of hanging, and keeps its change.
    relay.Freeze();
    EXPECT_EQ(service.SaveUserProfiles(), Rms::RmsFailure);
    EXPECT_FALSE(service.GetLastServerMessage().empty());
    EXPECT_TRUE(service.IsUserDefined(L"carol"));

    // Back again: the next call reconnects, the session and the change are
    // still there.
    relay.Thaw();
    Rms::RmsResult nSaved = service.SaveUserProfiles();
    const std::wstring strMessage = service.GetLastServerMessage();
    EXPECT_EQ(nSaved, Rms::RmsSuccess) << std::string(strMessage.begin(), strMessage.end());
    EXPECT_EQ(service.GetLoggedInUserName(), L"admin");
    XTRmsService reader(XTRmsAdminConfig(config, server));
    reader.SetServerSetting(XTRmsServerSetting(L"127.0.0.1", server.nPort));
    ASSERT_TRUE(reader.OpenStore(XTRmsEngine::Postgres, false, nullptr));
    EXPECT_TRUE(reader.IsUserDefined(L"carol"));
}
} // namespace
