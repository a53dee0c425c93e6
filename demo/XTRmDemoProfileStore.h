// The reference rights service's user profiles: who has a profile, with which
// role and which rights. The service works on an in-memory working copy;
// Save writes it to a file that survives a restart, Load throws the working
// copy away and reads the file again.
//
// The file is replaced atomically and the previous good file is kept beside
// it, so a crash while saving or a damaged file never costs what was saved
// before: a damaged file is set aside (never overwritten) and the last good
// copy is loaded instead.
#pragma once

#include <set>
#include <string>
#include <vector>

struct XTRmDemoUserProfile
{
    std::wstring strUserName;
    std::wstring strFullName;
    int nRole = 0;
    std::set<int> setAllowed; // restriction ids the user is allowed

    bool operator==(const XTRmDemoUserProfile& other) const
    {
        return strUserName == other.strUserName && strFullName == other.strFullName && nRole == other.nRole
            && setAllowed == other.setAllowed;
    }
};

class XTRmDemoProfileStore
{
public:
    enum class LoadResult
    {
        Loaded,    // the file was read
        Missing,   // no file yet; the working copy is unchanged
        Recovered, // the file was damaged; the last good copy was read
        Damaged    // the file was damaged and no good copy exists; working copy unchanged
    };

    explicit XTRmDemoProfileStore(std::wstring strFilePath);

    const std::wstring& GetFilePath() const { return m_strFilePath; }
    std::wstring GetBackupPath() const { return m_strFilePath + L".bak"; }
    std::wstring GetDamagedPath() const { return m_strFilePath + L".damaged"; }

    // The working copy, in the order users were added.
    const std::vector<XTRmDemoUserProfile>& GetProfiles() const { return m_vecProfiles; }
    const XTRmDemoUserProfile* Find(const std::wstring& strUserName) const;
    // False when the user has a profile already.
    bool Add(const XTRmDemoUserProfile& profile);
    // False when the user has no profile.
    bool Remove(const std::wstring& strUserName);
    bool SetAllowed(const std::wstring& strUserName, int nRestrictionId, bool bAllowed);
    void Replace(std::vector<XTRmDemoUserProfile> vecProfiles) { m_vecProfiles = std::move(vecProfiles); }

    // pstrMessage receives a text for the user whenever the result is neither
    // Loaded nor Missing.
    LoadResult Load(std::wstring* pstrMessage);
    // False with a text for the user when the file could not be written; the
    // file on disk is then unchanged.
    bool Save(std::wstring* pstrMessage) const;

    // The file format, exposed for tests of damaged files.
    static std::string Serialize(const std::vector<XTRmDemoUserProfile>& vecProfiles);
    static bool Parse(const std::string& strData, std::vector<XTRmDemoUserProfile>* pvecProfiles);

private:
    XTRmDemoUserProfile* FindMutable(const std::wstring& strUserName);

    std::wstring m_strFilePath;
    std::vector<XTRmDemoUserProfile> m_vecProfiles;
};
