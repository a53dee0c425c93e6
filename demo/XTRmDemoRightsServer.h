// The demo's rights server: a TCP listener on this machine's loopback
// interface that greets whoever connects and hangs up. It is what the
// reference rights service reaches when the user switches to the rights
// server, so the connection test at start-up is a real network connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class XTRmDemoRightsServer
{
public:
    XTRmDemoRightsServer() = default;
    ~XTRmDemoRightsServer();
    XTRmDemoRightsServer(const XTRmDemoRightsServer&) = delete;
    XTRmDemoRightsServer& operator=(const XTRmDemoRightsServer&) = delete;

    // Listens on 127.0.0.1, on the preferred port when it is free, else on
    // one the system picks. False when no port could be opened at all.
    bool Start(int nPreferredPort);
    void Stop();

    bool IsRunning() const { return m_hListen != kNoSocket; }
    static const wchar_t* GetHost() { return L"127.0.0.1"; }
    int GetPort() const { return m_nPort; }

private:
    void Serve();

    // A SOCKET, kept as an integer so this header needs no Winsock.
    static const std::uintptr_t kNoSocket = ~std::uintptr_t(0);
    std::uintptr_t m_hListen = kNoSocket;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
