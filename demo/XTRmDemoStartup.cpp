// The demo host's start-up: log the user in before the main window opens.
#include "XTRmDemoApp.h"

#include "XTRmRestrictionManager.h"

bool XTRmDemoRunStartUp(XTRmDemoApp& app)
{
    Rms::RmsResult nServiceResult = Rms::RmsSuccess;
    nServiceResult = app.GetService().Initialize(Rms::RmsApplicationWithHeader, L"", L"", L"", L"", 0, 0, L"");
    if (nServiceResult != Rms::RmsSuccess)
        return false;
    return XTRmRestrictionManager::SendUserLogin(L"admin", XTRmDemoService::DemoPassword());
}
