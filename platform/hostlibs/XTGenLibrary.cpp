// The general library: the host's module registry, the operating-system user
// and string constants.
#include <windows.h>

#include "XTGenLibrary.h"

#include <algorithm>

namespace
{
std::vector<XTGenModule*>& Registry()
{
    // Never destroyed: modules unregister from their DLLs' detach, which may
    // run after this DLL's static objects would have been destroyed.
    static std::vector<XTGenModule*>* pModules = new std::vector<XTGenModule*>;
    return *pModules;
}
} // namespace

XTGenModule::~XTGenModule() = default;

void XTGenModule::OnLoadCommonSharedResources()
{
}

void XTGenModule::OnHostStarted()
{
}

void XTGenModule::OnHostClosing()
{
}

bool XTGenModuleManager::AddModule(XTGenModule* pModule)
{
    if (pModule == nullptr || IsModuleRegistered(pModule))
        return false;
    Registry().push_back(pModule);
    return true;
}

bool XTGenModuleManager::RemoveModule(XTGenModule* pModule)
{
    auto& modules = Registry();
    auto it = std::find(modules.begin(), modules.end(), pModule);
    if (it == modules.end())
        return false;
    modules.erase(it);
    return true;
}

std::vector<XTGenModule*> XTGenModuleManager::GetModules()
{
    return Registry();
}

bool XTGenModuleManager::IsModuleRegistered(const XTGenModule* pModule)
{
    const auto& modules = Registry();
    return std::find(modules.begin(), modules.end(), pModule) != modules.end();
}

XTGenUserInfo& XTGenUserInfo::Instance()
{
    static XTGenUserInfo instance;
    return instance;
}

bool XTGenUserInfo::GetCurrentUserName(std::wstring* pstrUserName) const
{
    if (pstrUserName == nullptr)
        return false;
    wchar_t szName[257] = {};
    DWORD nSize = 257;
    if (!::GetUserNameW(szName, &nSize))
    {
        pstrUserName->clear();
        return false;
    }
    pstrUserName->assign(szName);
    return true;
}

const std::wstring XTGenStringDefinesTraits<wchar_t>::ms_strEmpty;
const wchar_t* const XTGenStringDefinesTraits<wchar_t>::ms_szEmpty = L"";
const std::wstring XTGenStringDefinesTraits<wchar_t>::ms_strSpace = L" ";
const wchar_t* const XTGenStringDefinesTraits<wchar_t>::ms_szSpace = L" ";
