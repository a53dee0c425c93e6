// Connections to the rights service's store: the connection text for a
// SQLite file or a PostgreSQL server, checked so that no value can add
// attributes of its own; one attempt bounded in time; a failed attempt
// classified as the service reports it.
#pragma once

#include "XTRmsOdbc.h"
#include "XTRmsStore.h"
#include "XTRmsTypes.h"

#include <memory>
#include <string>
#include <thread>

class XTRmsConnectionFactory
{
public:
    XTRmsConnectionFactory() = default;
    // Waits for an attempt that overstayed its bound: its thread must not
    // outlive the module that started it.
    ~XTRmsConnectionFactory();
    XTRmsConnectionFactory(const XTRmsConnectionFactory&) = delete;
    XTRmsConnectionFactory& operator=(const XTRmsConnectionFactory&) = delete;

    // Connects to the engine's store as the configuration and the server
    // setting name it. A missing SQLite file is refused unless
    // bCreateMissingFile. On failure *pstrProblem is a sentence for a user.
    [[nodiscard]] XTRmsOpenResult Connect(XTRmsEngine nEngine, const XTRmsServiceConfig& config,
        const XTRmsServerSetting& serverSetting, bool bCreateMissingFile,
        std::unique_ptr<XTRmsOdbc::Connection>* ppConnection, std::wstring* pstrProblem);

    // Which store the engine means, as messages and the settings name it.
    static std::wstring StoreLocation(
        XTRmsEngine nEngine, const XTRmsServiceConfig& config, const XTRmsServerSetting& serverSetting);
    // Why a PostgreSQL connection failed, from the driver's state and text.
    static XTRmsOpenResult ClassifyServerError(const XTRmsOdbc::Error& error);

private:
    // The driver gives up by its own login timeout; this waits for that.
    void JoinOverstaying();

    // A connection attempt that outlasted its bound, joined before the next.
    std::thread m_overstaying;
};
