// The rights server as the service's parts reach it: through the connection
// the service holds now, which it may replace when the old one was lost.
#pragma once

#include "XTRmsServerStore.h"

#include <functional>
#include <string>

class XTRmsServerLink
{
public:
    // One call to the server, made again once on a fresh connection when the
    // old one was lost (a server restart, a dropped network); false when the
    // server refused it or could not be reached.
    [[nodiscard]] virtual bool Call(const std::function<bool(XTRmsServerStore&)>& fnCall) = 0;
    // The server as connected now, for a call that is not worth a reconnect.
    virtual XTRmsServerStore& Current() = 0;
    // Why the last call failed, as the sentence an administrator reads.
    virtual std::wstring Problem() const = 0;

protected:
    // Not owned through this interface.
    ~XTRmsServerLink() = default;
};
