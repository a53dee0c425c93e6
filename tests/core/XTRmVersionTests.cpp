// Every shipped DLL and executable tells its version in its properties, read
// back as Explorer reads it.
#include <afxwin.h>

#include "XTRmRestrictionManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
struct FileVersion
{
    DWORD dwMajor = 0, dwMinor = 0, dwPatch = 0;
    DWORD dwFileType = 0;
    std::wstring strOriginalFilename;
    std::wstring strProductVersion;
};

bool ReadFileVersion(const std::wstring& strFile, FileVersion* pVersion)
{
    DWORD dwHandle = 0;
    const DWORD dwSize = ::GetFileVersionInfoSizeW(strFile.c_str(), &dwHandle);
    if (dwSize == 0)
        return false;
    std::vector<BYTE> data(dwSize);
    if (!::GetFileVersionInfoW(strFile.c_str(), 0, dwSize, data.data()))
        return false;
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLength = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&pFixed), &nLength) || pFixed == nullptr)
        return false;
    pVersion->dwMajor = HIWORD(pFixed->dwFileVersionMS);
    pVersion->dwMinor = LOWORD(pFixed->dwFileVersionMS);
    pVersion->dwPatch = HIWORD(pFixed->dwFileVersionLS);
    pVersion->dwFileType = pFixed->dwFileType;
    for (auto [pszKey, pstrValue] : {std::pair{L"OriginalFilename", &pVersion->strOriginalFilename},
             std::pair{L"ProductVersion", &pVersion->strProductVersion}})
    {
        wchar_t* pszValue = nullptr;
        const std::wstring strPath = std::wstring(L"\\StringFileInfo\\040904B0\\") + pszKey;
        if (::VerQueryValueW(data.data(), strPath.c_str(), reinterpret_cast<void**>(&pszValue), &nLength) &&
            pszValue != nullptr)
            *pstrValue = pszValue;
    }
    return true;
}

std::wstring BesideThisProgram(const wchar_t* pszName)
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring strPath = szPath;
    return strPath.substr(0, strPath.find_last_of(L"\\/") + 1) + pszName;
}
} // namespace

TEST(XTRmVersion, EveryShippedFileCarriesTheProjectVersion)
{
    const struct
    {
        const wchar_t* pszFile;
        DWORD dwFileType;
    } files[] = {
        {L"XTRm.dll", VFT_DLL},
        {L"XTRms.dll", VFT_DLL},
        {L"XTHostLibs.dll", VFT_DLL},
        {L"xtrms.exe", VFT_APP},
    };
    for (const auto& file : files)
    {
        FileVersion version;
        ASSERT_TRUE(ReadFileVersion(BesideThisProgram(file.pszFile), &version)) << file.pszFile;
        EXPECT_EQ(version.dwMajor, XTRM_TEST_VERSION_MAJOR) << file.pszFile;
        EXPECT_EQ(version.dwMinor, XTRM_TEST_VERSION_MINOR) << file.pszFile;
        EXPECT_EQ(version.dwPatch, XTRM_TEST_VERSION_PATCH) << file.pszFile;
        EXPECT_EQ(version.dwFileType, file.dwFileType) << file.pszFile;
        EXPECT_EQ(version.strOriginalFilename, file.pszFile);
        EXPECT_EQ(version.strProductVersion, XTRM_TEST_VERSION) << file.pszFile;
    }
}

// The headers, the loaded DLL and the project agree, so a host can tell at
// run time that it was built against the XTRm it loaded.
TEST(XTRmVersion, HeadersAndLoadedLibraryTellTheProjectVersion)
{
    EXPECT_EQ(static_cast<DWORD>(XTRM_VERSION_MAJOR), XTRM_TEST_VERSION_MAJOR);
    EXPECT_EQ(static_cast<DWORD>(XTRM_VERSION_MINOR), XTRM_TEST_VERSION_MINOR);
    EXPECT_EQ(static_cast<DWORD>(XTRM_VERSION_PATCH), XTRM_TEST_VERSION_PATCH);
    EXPECT_EQ(std::wstring(XTRM_VERSION_STRING), XTRM_TEST_VERSION);
    EXPECT_EQ(XTRmRestrictionManager::GetVersion(),
        static_cast<int>(XTRM_TEST_VERSION_MAJOR * 10000 + XTRM_TEST_VERSION_MINOR * 100 + XTRM_TEST_VERSION_PATCH));
}
