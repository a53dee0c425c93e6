// The library's entry point, module registration and the façade's state rules.
#include "XTRmFacadeAccess.h"
#include "XTRmResourceIds.h"
#include "XTRmTestApp.h"
#include "XTRmsScriptedService.h"

#include "XTGenLibrary.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace
{
int CountChainedLibraries()
{
    int nCount = 0;
    for (CDynLinkLibrary* pDLL = AfxGetModuleState()->m_libraryList.GetHead(); pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
        ++nCount;
    return nCount;
}

bool ChainHoldsModule(HMODULE hModule)
{
    for (CDynLinkLibrary* pDLL = AfxGetModuleState()->m_libraryList.GetHead(); pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
    {
        if (pDLL->m_hModule == hModule)
            return true;
    }
    return false;
}

// Restores the façade's statics, which live as long as the library.
class FacadeStateTest : public testing::Test
{
protected:
    void TearDown() override
    {
        XTRmRestrictionManager::SetRestrictionManagerService(nullptr);
        XTRmRestrictionManager::SetApplicationName(std::wstring());
    }
};
} // namespace

TEST(XTRmEntryPoint, LoadingRegistersTheModuleAndJoinsTheResourceChainUnloadingUndoesBoth)
{
    // The test executable links XTRm.dll: its module is registered already.
    HMODULE hLinked = ::GetModuleHandleW(L"XTRm.dll");
    ASSERT_NE(hLinked, nullptr);
    EXPECT_TRUE(ChainHoldsModule(hLinked));

    const size_t nModulesBefore = XTGenModuleManager::GetModules().size();
    const int nLibrariesBefore = CountChainedLibraries();

    HMODULE hProbe = ::LoadLibraryW(L"XTRmLoadProbe.dll");
    ASSERT_NE(hProbe, nullptr) << "error " << ::GetLastError();
    auto modules = XTGenModuleManager::GetModules();
    ASSERT_EQ(modules.size(), nModulesBefore + 1);
    EXPECT_NE(std::string(typeid(*modules.back()).name()).find("XTRmModule"), std::string::npos);
    EXPECT_EQ(CountChainedLibraries(), nLibrariesBefore + 1);
    EXPECT_TRUE(ChainHoldsModule(hProbe));

    ASSERT_TRUE(::FreeLibrary(hProbe));
    EXPECT_EQ(XTGenModuleManager::GetModules().size(), nModulesBefore);
    EXPECT_EQ(CountChainedLibraries(), nLibrariesBefore);
    EXPECT_FALSE(ChainHoldsModule(hProbe));
}

TEST_F(FacadeStateTest, ApplicationNameFallsBackToTheMfcApplicationName)
{
    EXPECT_EQ(XTRmFacadeAccess::GetApplicationName(), L"XTRm Test Host");

    XTRmRestrictionManager::SetApplicationName(L"Plant Monitor");
    EXPECT_EQ(XTRmFacadeAccess::GetApplicationName(), L"Plant Monitor");

    XTRmRestrictionManager::SetApplicationName(std::wstring());
    EXPECT_EQ(XTRmFacadeAccess::GetApplicationName(), L"XTRm Test Host");
}

TEST_F(FacadeStateTest, ApplicationNameIsEmptyWithoutNameAndWithoutApplicationObject)
{
    AFX_MODULE_STATE* pState = AfxGetModuleState();
    CWinApp* pApp = pState->m_pCurrentWinApp;
    pState->m_pCurrentWinApp = nullptr;
    std::wstring strName = XTRmFacadeAccess::GetApplicationName();
    pState->m_pCurrentWinApp = pApp;
    EXPECT_EQ(strName, L"");
}

struct BackgroundCase
{
    bool bServiceSet;
    Rms::RmsApplicationType nType;
    int nExpectedImage;
};

class BackgroundImageRule : public FacadeStateTest, public testing::WithParamInterface<BackgroundCase>
{
};

TEST_P(BackgroundImageRule, FollowsTheApplicationType)
{
    XTRmsScriptedService service;
    service.nApplicationType = GetParam().nType;
    XTRmRestrictionManager::SetRestrictionManagerService(GetParam().bServiceSet ? &service : nullptr);
    EXPECT_EQ(XTRmFacadeAccess::GetApplicationBackgroundImageID(), GetParam().nExpectedImage);
    EXPECT_EQ(service.CountCalls(L"GetApplicationType"), GetParam().bServiceSet ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, BackgroundImageRule,
    testing::Values(BackgroundCase{false, Rms::RmsApplicationWithHeader, 0},
        BackgroundCase{true, Rms::RmsApplicationWithHeader, IDB_XTRM_BACKGROUND},
        BackgroundCase{true, Rms::RmsApplicationStandard, 0}, BackgroundCase{true, Rms::RmsApplicationService, 0},
        BackgroundCase{true, static_cast<Rms::RmsApplicationType>(-1), 0}));
