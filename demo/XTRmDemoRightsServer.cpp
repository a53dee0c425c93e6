#include <winsock2.h>
#include <ws2tcpip.h>

#include "XTRmDemoRightsServer.h"

namespace
{
// What a client reads first from the demo's rights server.
const char kGreeting[] = "XTRMS 1 demo rights server\r\n";

SOCKET Listen(int nPort, int* pnBoundPort)
{
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    // Another program on the port must not be shadowed by us.
    BOOL bExclusive = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&bExclusive), sizeof(bExclusive));

    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(nPort));
    int nLength = sizeof(addr);
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(s, SOMAXCONN) != 0
        || ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &nLength) != 0)
    {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    *pnBoundPort = ntohs(addr.sin_port);
    return s;
}
} // namespace

XTRmDemoRightsServer::~XTRmDemoRightsServer()
{
    Stop();
}

bool XTRmDemoRightsServer::Start(int nPreferredPort)
{
    if (IsRunning())
        return true;
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return false;

    SOCKET s = Listen(nPreferredPort, &m_nPort);
    if (s == INVALID_SOCKET)
        s = Listen(0, &m_nPort);
    if (s == INVALID_SOCKET)
    {
        ::WSACleanup();
        return false;
    }
    m_hListen = static_cast<std::uintptr_t>(s);
    m_bStop = false;
    m_thread = std::thread(&XTRmDemoRightsServer::Serve, this);
    return true;
}

void XTRmDemoRightsServer::Stop()
{
    if (!IsRunning())
        return;
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::closesocket(static_cast<SOCKET>(m_hListen));
    m_hListen = kNoSocket;
    m_nPort = 0;
    ::WSACleanup();
}

void XTRmDemoRightsServer::Serve()
{
    SOCKET hListen = static_cast<SOCKET>(m_hListen);
    while (!m_bStop)
    {
        // Wake up now and then to notice Stop; closing a socket under a
        // blocked accept is not reliable everywhere.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(hListen, &readable);
        timeval wait = {0, 200 * 1000};
        int nReady = ::select(0, &readable, nullptr, nullptr, &wait);
        if (nReady < 0)
            break; // the listening socket is gone: nothing left to serve
        if (nReady == 0)
            continue;
        SOCKET hClient = ::accept(hListen, nullptr, nullptr);
        if (hClient == INVALID_SOCKET)
            continue;
        ::send(hClient, kGreeting, static_cast<int>(sizeof(kGreeting) - 1), 0);
        ::shutdown(hClient, SD_BOTH);
        ::closesocket(hClient);
    }
}
