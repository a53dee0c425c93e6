// Entry point of XTRm.dll: joins the host's MFC resource chain and registers
// the module with the host's module manager; unloading undoes both.
#include <afxwin.h>
#include <afxdllx.h>

#include "XTRmModule.h"

namespace
{
AFX_EXTENSION_MODULE s_extensionModule = {FALSE, nullptr, nullptr, nullptr, nullptr};
XTRmModule s_module;
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/)
{
    switch (dwReason)
    {
    case DLL_PROCESS_ATTACH:
        if (!AfxInitExtensionModule(s_extensionModule, hInstance))
            return FALSE;
        // MFC keeps the object in its resource chain and frees it on detach.
        new CDynLinkLibrary(s_extensionModule);
        XTGenModuleManager::AddModule(&s_module);
        return TRUE;
    case DLL_PROCESS_DETACH:
        XTGenModuleManager::RemoveModule(&s_module);
        AfxTermExtensionModule(s_extensionModule);
        return TRUE;
    default:
        return TRUE;
    }
}
