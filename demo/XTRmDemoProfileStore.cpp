#include "XTRmDemoProfileStore.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <utility>

namespace
{
const char szHeader[] = "XTRmDemoProfiles 1";

std::string ToUtf8(const std::wstring& str)
{
    if (str.empty())
        return std::string();
    const int nBytes = ::WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0,
        nullptr, nullptr);
    std::string strResult(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &strResult[0], nBytes, nullptr,
        nullptr);
    return strResult;
}

bool FromUtf8(const std::string& str, std::wstring* pstrResult)
{
    pstrResult->clear();
    if (str.empty())
        return true;
    const int nChars = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, str.data(),
        static_cast<int>(str.size()), nullptr, 0);
    if (nChars <= 0)
        return false;
    pstrResult->resize(static_cast<size_t>(nChars));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, str.data(), static_cast<int>(str.size()),
        &(*pstrResult)[0], nChars);
    return true;
}

// Names may hold any character; tabs and line breaks would break the format.
std::string Escape(const std::wstring& str)
{
    std::string strResult;
    for (char c : ToUtf8(str))
    {
        switch (c)
        {
        case '\\': strResult += "\\\\"; break;
        case '\t': strResult += "\\t"; break;
        case '\n': strResult += "\\n"; break;
        case '\r': strResult += "\\r"; break;
        default: strResult += c; break;
        }
    }
    return strResult;
}

bool Unescape(const std::string& str, std::wstring* pstrResult)
{
    std::string strRaw;
    for (size_t i = 0; i < str.size(); ++i)
    {
        if (str[i] != '\\')
        {
            strRaw += str[i];
            continue;
        }
        if (++i == str.size())
            return false;
        switch (str[i])
        {
        case '\\': strRaw += '\\'; break;
        case 't': strRaw += '\t'; break;
        case 'n': strRaw += '\n'; break;
        case 'r': strRaw += '\r'; break;
        default: return false;
        }
    }
    return FromUtf8(strRaw, pstrResult);
}

std::vector<std::string> SplitTabs(const std::string& strLine)
{
    std::vector<std::string> vecFields;
    size_t nStart = 0;
    for (;;)
    {
        const size_t nTab = strLine.find('\t', nStart);
        vecFields.push_back(strLine.substr(nStart, nTab - nStart));
        if (nTab == std::string::npos)
            return vecFields;
        nStart = nTab + 1;
    }
}

bool ParseInt(const std::string& str, int* pnValue)
{
    if (str.empty() || str.size() > 11)
        return false;
    size_t i = (str[0] == '-') ? 1 : 0;
    if (i == str.size())
        return false;
    long long nValue = 0;
    for (; i < str.size(); ++i)
    {
        if (str[i] < '0' || str[i] > '9')
            return false;
        nValue = nValue * 10 + (str[i] - '0');
    }
    if (str[0] == '-')
        nValue = -nValue;
    if (nValue < INT32_MIN || nValue > INT32_MAX)
        return false;
    *pnValue = static_cast<int>(nValue);
    return true;
}

// FNV-1a: enough to tell a truncated or edited file from a whole one.
uint32_t Checksum(const std::string& str)
{
    uint32_t nHash = 2166136261u;
    for (unsigned char c : str)
    {
        nHash ^= c;
        nHash *= 16777619u;
    }
    return nHash;
}

std::string FormatChecksum(uint32_t nHash)
{
    char szHash[9];
    std::snprintf(szHash, sizeof(szHash), "%08x", nHash);
    return szHash;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::wstring& strPath, std::string* pstrData)
{
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        const DWORD nError = ::GetLastError();
        return (nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND) ? ReadResult::Missing
                                                                                 : ReadResult::Failed;
    }
    pstrData->clear();
    char buffer[4096];
    DWORD nRead = 0;
    bool bOk = true;
    while ((bOk = ::ReadFile(hFile, buffer, sizeof(buffer), &nRead, nullptr) != FALSE) && nRead > 0)
        pstrData->append(buffer, nRead);
    ::CloseHandle(hFile);
    return bOk ? ReadResult::Ok : ReadResult::Failed;
}

bool WriteWholeFile(const std::wstring& strPath, const std::string& strData)
{
    HANDLE hFile = ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD nWritten = 0;
    const bool bOk = ::WriteFile(hFile, strData.data(), static_cast<DWORD>(strData.size()), &nWritten, nullptr)
        && nWritten == strData.size() && ::FlushFileBuffers(hFile);
    ::CloseHandle(hFile);
    if (!bOk)
        ::DeleteFileW(strPath.c_str());
    return bOk;
}

bool FileExists(const std::wstring& strPath)
{
    return ::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
} // namespace

XTRmDemoProfileStore::XTRmDemoProfileStore(std::wstring strFilePath) : m_strFilePath(std::move(strFilePath))
{
}

const XTRmDemoUserProfile* XTRmDemoProfileStore::Find(const std::wstring& strUserName) const
{
    for (const XTRmDemoUserProfile& profile : m_vecProfiles)
    {
        if (profile.strUserName == strUserName)
            return &profile;
    }
    return nullptr;
}

XTRmDemoUserProfile* XTRmDemoProfileStore::FindMutable(const std::wstring& strUserName)
{
    return const_cast<XTRmDemoUserProfile*>(Find(strUserName));
}

bool XTRmDemoProfileStore::Add(const XTRmDemoUserProfile& profile)
{
    if (profile.strUserName.empty() || Find(profile.strUserName) != nullptr)
        return false;
    m_vecProfiles.push_back(profile);
    return true;
}

bool XTRmDemoProfileStore::Remove(const std::wstring& strUserName)
{
    const auto it = std::find_if(m_vecProfiles.begin(), m_vecProfiles.end(),
        [&](const XTRmDemoUserProfile& profile) { return profile.strUserName == strUserName; });
    if (it == m_vecProfiles.end())
        return false;
    m_vecProfiles.erase(it);
    return true;
}

bool XTRmDemoProfileStore::SetAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed)
{
    XTRmDemoUserProfile* pProfile = FindMutable(strUserName);
    if (pProfile == nullptr)
        return false;
    if (bAllowed)
        pProfile->setAllowed.insert(nRestrictionId);
    else
        pProfile->setAllowed.erase(nRestrictionId);
    return true;
}

std::string XTRmDemoProfileStore::Serialize(const std::vector<XTRmDemoUserProfile>& vecProfiles)
{
    std::string strBody = std::string(szHeader) + "\n";
    for (const XTRmDemoUserProfile& profile : vecProfiles)
    {
        strBody += "user\t" + Escape(profile.strUserName) + "\t" + Escape(profile.strFullName) + "\t"
            + std::to_string(profile.nRole) + "\t";
        bool bFirst = true;
        for (int nId : profile.setAllowed)
        {
            if (!bFirst)
                strBody += ",";
            strBody += std::to_string(nId);
            bFirst = false;
        }
        strBody += "\n";
    }
    return strBody + "end\t" + std::to_string(vecProfiles.size()) + "\t" + FormatChecksum(Checksum(strBody)) + "\n";
}

bool XTRmDemoProfileStore::Parse(const std::string& strData, std::vector<XTRmDemoUserProfile>* pvecProfiles)
{
    // The end line names the number of users and the checksum of everything
    // before it: a file cut short or edited by hand does not pass.
    if (strData.empty() || strData.back() != '\n')
        return false;
    const size_t nEndLine = strData.rfind("\nend\t", strData.size() - 2);
    if (nEndLine == std::string::npos)
        return false;
    const std::string strBody = strData.substr(0, nEndLine + 1);
    const std::vector<std::string> vecEnd = SplitTabs(strData.substr(nEndLine + 1, strData.size() - nEndLine - 2));
    int nCount = 0;
    if (vecEnd.size() != 3 || !ParseInt(vecEnd[1], &nCount) || vecEnd[2] != FormatChecksum(Checksum(strBody)))
        return false;

    std::istringstream lines(strBody);
    std::string strLine;
    if (!std::getline(lines, strLine) || strLine != szHeader)
        return false;
    std::vector<XTRmDemoUserProfile> vecProfiles;
    while (std::getline(lines, strLine))
    {
        const std::vector<std::string> vecFields = SplitTabs(strLine);
        XTRmDemoUserProfile profile;
        if (vecFields.size() != 5 || vecFields[0] != "user" || !Unescape(vecFields[1], &profile.strUserName)
            || profile.strUserName.empty() || !Unescape(vecFields[2], &profile.strFullName)
            || !ParseInt(vecFields[3], &profile.nRole))
            return false;
        std::istringstream ids(vecFields[4]);
        std::string strId;
        while (std::getline(ids, strId, ','))
        {
            int nId = 0;
            if (!ParseInt(strId, &nId))
                return false;
            profile.setAllowed.insert(nId);
        }
        vecProfiles.push_back(std::move(profile));
    }
    if (static_cast<size_t>(nCount) != vecProfiles.size())
        return false;
    *pvecProfiles = std::move(vecProfiles);
    return true;
}

XTRmDemoProfileStore::LoadResult XTRmDemoProfileStore::Load(std::wstring* pstrMessage)
{
    std::string strData;
    std::vector<XTRmDemoUserProfile> vecProfiles;
    const ReadResult nRead = ReadWholeFile(m_strFilePath, &strData);
    if (nRead == ReadResult::Ok && Parse(strData, &vecProfiles))
    {
        m_vecProfiles = std::move(vecProfiles);
        return LoadResult::Loaded;
    }
    if (nRead == ReadResult::Missing && !FileExists(GetBackupPath()))
        return LoadResult::Missing;

    // Keep the damaged file for whoever wants to look at it; the next save
    // must not overwrite it, nor may the backup be replaced by it.
    const wchar_t* const pszWhat = nRead == ReadResult::Missing ? L"is missing"
        : nRead == ReadResult::Failed                        ? L"cannot be read"
                                                             : L"is damaged";
    std::wstring strSetAside;
    if (nRead != ReadResult::Missing
        && ::MoveFileExW(m_strFilePath.c_str(), GetDamagedPath().c_str(), MOVEFILE_REPLACE_EXISTING))
        strSetAside = L" It was kept as \"" + GetDamagedPath() + L"\".";

    std::string strBackup;
    if (ReadWholeFile(GetBackupPath(), &strBackup) == ReadResult::Ok && Parse(strBackup, &vecProfiles))
    {
        m_vecProfiles = std::move(vecProfiles);
        // Put the good copy back in place so the next start reads it directly.
        ::CopyFileW(GetBackupPath().c_str(), m_strFilePath.c_str(), FALSE);
        if (pstrMessage != nullptr)
            *pstrMessage = L"The user profile file \"" + m_strFilePath + L"\" " + pszWhat + L"."
                + strSetAside + L" The previous saved copy was loaded instead.";
        return LoadResult::Recovered;
    }
    if (pstrMessage != nullptr)
        *pstrMessage = L"The user profile file \"" + m_strFilePath + L"\" " + pszWhat
            + L", and there is no earlier copy to fall back on." + strSetAside
            + L" The profiles in use were kept unchanged.";
    return LoadResult::Damaged;
}

bool XTRmDemoProfileStore::Save(std::wstring* pstrMessage) const
{
    const std::wstring strTemp = m_strFilePath + L".tmp";
    if (!WriteWholeFile(strTemp, Serialize(m_vecProfiles)))
    {
        if (pstrMessage != nullptr)
            *pstrMessage = L"The user profiles could not be written to \"" + strTemp
                + L"\". The profiles saved before are unchanged.";
        return false;
    }
    // The file being replaced becomes the backup, but only if it is whole:
    // a damaged file must never push out the last good copy.
    std::string strCurrent;
    std::vector<XTRmDemoUserProfile> vecCurrent;
    const ReadResult nRead = ReadWholeFile(m_strFilePath, &strCurrent);
    if (nRead == ReadResult::Ok && Parse(strCurrent, &vecCurrent))
        ::CopyFileW(m_strFilePath.c_str(), GetBackupPath().c_str(), FALSE);
    else if (nRead != ReadResult::Missing)
        ::MoveFileExW(m_strFilePath.c_str(), GetDamagedPath().c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!::MoveFileExW(strTemp.c_str(), m_strFilePath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        ::DeleteFileW(strTemp.c_str());
        if (pstrMessage != nullptr)
            *pstrMessage = L"The user profiles could not be saved to \"" + m_strFilePath
                + L"\". The profiles saved before are unchanged.";
        return false;
    }
    return true;
}
