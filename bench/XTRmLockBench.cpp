// What the lock on inactivity costs the host's message loop: the same loop
// pumping the same posted messages, once without the lock and once with it
// (its message hook sees every message the loop takes), and the timer's
// once-a-second check on its own.
#define CATCH_CONFIG_ENABLE_BENCHMARKING
#include <afxwin.h>

#include "XTRmRestrictionManager.h"
#include "XTRmsService.h"
#include "XTRmsSessionServiceBase.h"

#include "catch.hpp"

#include <type_traits>

namespace
{
const int kMessages = 1000;

// The lock needs a service with the session interface. XTRms gains it in its
// own right; until then the benchmark adds one that never locks.
class XTRmBenchSessionAddOn : public XTRmsSessionServiceBase
{
public:
    bool LockSession() override { return false; }
    bool IsSessionLocked() const override { return false; }
    Rms::ERmsLoginResult UnlockSession(const std::wstring&) override { return Rms::ERmsLoginWrongPassword; }
    Rms::ERmsLoginResult SwitchUser(const std::wstring&, const std::wstring&) override
    {
        return Rms::ERmsLoginWrongPassword;
    }
    Rms::ERmsSignResult Sign(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&,
        const std::wstring&, XTRmsSignature*) override
    {
        return Rms::ERmsSignNotPermitted;
    }
    bool IsSignatureRequired(int) const override { return false; }
};

template <typename TService, bool = std::is_base_of<XTRmsSessionServiceBase, TService>::value>
class XTRmBenchSessionService : public TService, public XTRmBenchSessionAddOn
{
public:
    using TService::TService;
};

template <typename TService>
class XTRmBenchSessionService<TService, true> : public TService
{
public:
    using TService::TService;
};

// A host's window that answers everything with DefWindowProc.
class XTRmBenchLoopWindow
{
public:
    XTRmBenchLoopWindow()
    {
        m_hWnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    }
    ~XTRmBenchLoopWindow() { ::DestroyWindow(m_hWnd); }
    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd;
};

// Posts kMessages messages, every other one mouse input or none at all, and
// pumps them as a host's loop does. Returns how many it dispatched.
int PumpPostedMessages(HWND hWnd, bool bWithInput)
{
    for (int i = 0; i < kMessages; ++i)
        ::PostMessageW(hWnd, bWithInput && (i & 1) != 0 ? WM_MOUSEMOVE : WM_APP + 1, 0, 0);
    int nDispatched = 0;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        ++nDispatched;
    }
    return nDispatched;
}
} // namespace

TEST_CASE("Inactivity lock in the host's message loop")
{
    XTRmBenchSessionService<XTRmsService> service{XTRmsServiceConfig()};
    XTRmRestrictionManager::SetRestrictionManagerService(&service);
    XTRmBenchLoopWindow window;
    CWnd* pMainWnd = CWnd::FromHandle(window.Get());

    BENCHMARK("message loop, 1,000 posted messages, half input, without the lock")
    {
        return PumpPostedMessages(window.Get(), true);
    };
    BENCHMARK("message loop, 1,000 posted messages, no input, without the lock")
    {
        return PumpPostedMessages(window.Get(), false);
    };

    REQUIRE(XTRmRestrictionManager::EnableInactivityLock(pMainWnd, 60, nullptr));
    // The user at work: the hook takes itself out at the first input and
    // the timer arms it again a second later.
    BENCHMARK("message loop, 1,000 posted messages, half input, with the lock")
    {
        return PumpPostedMessages(window.Get(), true);
    };
    // The user away: the hook stays armed and sees every message.
    BENCHMARK("message loop, 1,000 posted messages, no input, with the lock")
    {
        XTRmRestrictionManager::CheckInactivity(); // arms it, as the timer would
        return PumpPostedMessages(window.Get(), false);
    };
    BENCHMARK("the timer's inactivity check")
    {
        return XTRmRestrictionManager::CheckInactivity();
    };
    XTRmRestrictionManager::DisableInactivityLock();

    // Once more without, so that a drift of the machine's load shows.
    BENCHMARK("message loop, 1,000 posted messages, half input, without the lock again")
    {
        return PumpPostedMessages(window.Get(), true);
    };
    XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
}
