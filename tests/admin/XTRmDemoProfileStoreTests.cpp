// The demo service's profile store: profiles survive a restart, and a damaged
// file never costs what was saved before.
#include "XTRmDemoProfileStore.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

namespace
{
class XTRmDemoProfileStoreTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t szDir[MAX_PATH];
        ::GetTempPathW(MAX_PATH, szDir);
        m_strPath = std::wstring(szDir) + L"xtrm_profiles_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
        TearDown();
    }
    void TearDown() override
    {
        for (const wchar_t* pszSuffix : {L"", L".bak", L".damaged", L".tmp"})
            ::DeleteFileW((m_strPath + pszSuffix).c_str());
    }
    static XTRmDemoUserProfile Profile(const std::wstring& strName, std::set<int> setAllowed)
    {
        return {strName, L"Full\tName\\of " + strName + L"\r\n\u00e4", 3, std::move(setAllowed)};
    }
    void Damage(const std::wstring& strPath, const std::string& strAppend)
    {
        std::ofstream file(std::string(strPath.begin(), strPath.end()), std::ios::binary | std::ios::app);
        file << strAppend;
    }

    std::wstring m_strPath;
};
} // namespace

TEST_F(XTRmDemoProfileStoreTest, SavedProfilesSurviveARestartAndLoadDropsUnsavedChanges)
{
    XTRmDemoProfileStore store(m_strPath);
    std::wstring strMessage;
    EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Missing, store.Load(&strMessage));
    ASSERT_TRUE(store.Add(Profile(L"ann", {1, 5})));
    EXPECT_FALSE(store.Add(Profile(L"ann", {})));
    ASSERT_TRUE(store.Add(Profile(L"b\tob", {})));
    ASSERT_TRUE(store.Save(&strMessage));

    store.SetAllowed(L"ann", 7, true);
    store.Remove(L"b\tob");
    EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Loaded, store.Load(&strMessage));
    XTRmDemoProfileStore restarted(m_strPath);
    EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Loaded, restarted.Load(&strMessage));
    const std::vector<XTRmDemoUserProfile> expected{Profile(L"ann", {1, 5}), Profile(L"b\tob", {})};
    EXPECT_EQ(expected, store.GetProfiles());
    EXPECT_EQ(expected, restarted.GetProfiles());
}

TEST_F(XTRmDemoProfileStoreTest, ADamagedFileIsSetAsideAndTheLastGoodCopyComesBack)
{
    struct Case { const char* pszWhat; std::string strAppend; bool bSecondSave; };
    const Case cases[] = {
        {"a user line added by hand, earlier copy kept", "user\tx\t\t0\t\n", true},
        {"junk after the end, no earlier copy", "junk", false},
    };
    for (const Case& c : cases)
    {
        TearDown();
        XTRmDemoProfileStore store(m_strPath);
        store.Add(Profile(L"ann", {1}));
        ASSERT_TRUE(store.Save(nullptr));
        if (c.bSecondSave)
        {
            store.Add(Profile(L"cy", {2}));
            ASSERT_TRUE(store.Save(nullptr));
        }
        Damage(m_strPath, c.strAppend);

        XTRmDemoProfileStore restarted(m_strPath);
        restarted.Add(Profile(L"in use", {}));
        std::wstring strMessage;
        const XTRmDemoProfileStore::LoadResult nResult = restarted.Load(&strMessage);
        EXPECT_NE(std::wstring::npos, strMessage.find(m_strPath + L".damaged")) << c.pszWhat;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((m_strPath + L".damaged").c_str()));
        if (c.bSecondSave)
        {
            // The backup holds the save before the last one: all it can offer.
            EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Recovered, nResult) << c.pszWhat;
            EXPECT_EQ(std::vector<XTRmDemoUserProfile>{Profile(L"ann", {1})}, restarted.GetProfiles());
            XTRmDemoProfileStore again(m_strPath); // the good copy is back in place
            EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Loaded, again.Load(nullptr));
        }
        else
        {
            EXPECT_EQ(XTRmDemoProfileStore::LoadResult::Damaged, nResult) << c.pszWhat;
            EXPECT_EQ(std::vector<XTRmDemoUserProfile>{Profile(L"in use", {})}, restarted.GetProfiles());
        }
    }
}
