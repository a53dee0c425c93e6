// XTRm's module object, registered with the host's module manager while the
// library is loaded.
#pragma once

#include "XTGenLibrary.h"

class XTRmModule : public XTGenModule
{
public:
    XTRmModule() = default;
    ~XTRmModule() override = default;

    // The module has no shared resources or host events of its own: it keeps
    // the base's behaviour.
    void OnHostStarted() override {}
    void OnHostClosing() override {}
};
