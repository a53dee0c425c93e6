// The host's general library: module registry, operating-system user, string
// constants.
#pragma once

#include "XTHostLibsApi.h"

#include <string>
#include <vector>

// A loadable part of the host family, registered with the host's module manager.
class XTHOSTLIBS_API XTGenModule
{
public:
    virtual ~XTGenModule();
    // Called when the host (re)loads the resources its modules share.
    virtual void OnLoadCommonSharedResources();
    // Called when the host has started and when it is about to close.
    virtual void OnHostStarted();
    virtual void OnHostClosing();
};

class XTHOSTLIBS_API XTGenModuleManager
{
public:
    // False when the module is null or registered already.
    static bool AddModule(XTGenModule* pModule);
    // False when the module is not registered.
    static bool RemoveModule(XTGenModule* pModule);
    // The registered modules, in registration order.
    static std::vector<XTGenModule*> GetModules();
    static bool IsModuleRegistered(const XTGenModule* pModule);
};

class XTHOSTLIBS_API XTGenUserInfo
{
public:
    static XTGenUserInfo& Instance();
    // The name of the user logged on to the operating system; false when the
    // system cannot tell (the string is then left empty).
    bool GetCurrentUserName(std::wstring* pstrUserName) const;

private:
    XTGenUserInfo() = default;
};

template <typename TChar>
struct XTGenStringDefinesTraits;

template <>
struct XTHOSTLIBS_API XTGenStringDefinesTraits<wchar_t>
{
    static const std::wstring ms_strEmpty;
    static const wchar_t* const ms_szEmpty;
    static const std::wstring ms_strSpace;
    static const wchar_t* const ms_szSpace;
};
