// The command line of xtrms.exe: one command, its argument and options, in
// any order. Parsing checks everything that can be checked without the
// store, so that a typing mistake never reaches the database.
#pragma once

#include "XTRmsAuditServiceBase.h"

#include <string>

enum class XTRmsToolCommand
{
    None,
    Help,
    Version,
    Drivers,
    Create, // also "upgrade": the same work, named for what the user means
    Info,
    AddUser,
    SetPassword,
    Unlock,
    Disable,
    Enable,
    List,
    Export,
    Import,
    Define,
    Audit,
    Verify,
    Policy
};

class XTRmsToolCommandLine
{
public:
    // Default PBKDF2 iterations for new hashes; the lower bound keeps a
    // mistyped count from producing a hash that is cheap to attack.
    static const unsigned int kDefaultIterations = 600000;
    static const unsigned int kMinIterations = 1000;

    // False on a usage error, with a one-line message for the user.
    bool Parse(int nArgs, const wchar_t* const* ppszArgs, std::wstring* pstrError);

    XTRmsToolCommand GetCommand() const { return m_nCommand; }
    // The user name of the user commands, the file of export, import and
    // define.
    const std::wstring& GetArgument() const { return m_strArgument; }

    bool UsesServer() const { return !m_strServerHost.empty(); }
    const std::wstring& GetDatabaseFile() const { return m_strDatabaseFile; }
    const std::wstring& GetServerHost() const { return m_strServerHost; }
    int GetServerPort() const { return m_nServerPort; }
    const std::wstring& GetServerDatabase() const { return m_strServerDatabase; }
    const std::wstring& GetServerUser() const { return m_strServerUser; }
    unsigned int GetIterations() const { return m_nIterations; }

    const std::wstring& GetRole() const { return m_strRole; }
    const std::wstring& GetFullName() const { return m_strFullName; }
    bool GetNoPassword() const { return m_bNoPassword; }
    // 0: the whole trail.
    size_t GetLast() const { return m_nLast; }
    // audit --from, --to, --who, --event, --text: which entries.
    const XTRmsAuditFilter& GetAuditFilter() const { return m_auditFilter; }
    bool HasAuditFilter() const
    {
        return !m_auditFilter.strFromUtc.empty() || !m_auditFilter.strToUtc.empty() || !m_auditFilter.strUser.empty() ||
            !m_auditFilter.strEvent.empty() || !m_auditFilter.strText.empty();
    }
    // --login NAME: the XTRm administrator to act as (password asked).
    const std::wstring& GetLogin() const { return m_strLogin; }
    // audit checkpoint, and verify --since SEQ:HASH.
    bool GetCheckpoint() const { return m_bCheckpoint; }
    const std::wstring& GetSince() const { return m_strSince; }
    // create --define FILE: the site's rights and roles, written once the
    // schema is there.
    const std::wstring& GetDefineFile() const { return m_strDefineFile; }

    // policy's options; each Has... tells whether it was given.
    bool HasMaxAgeDays() const { return m_bMaxAgeDays; }
    unsigned int GetMaxAgeDays() const { return m_nMaxAgeDays; }
    bool HasMinAgeDays() const { return m_bMinAgeDays; }
    unsigned int GetMinAgeDays() const { return m_nMinAgeDays; }
    bool HasHistory() const { return m_bHistory; }
    unsigned int GetHistory() const { return m_nHistory; }
    bool HasMustChangeAfterReset() const { return m_bMustChangeGiven; }
    bool GetMustChangeAfterReset() const { return m_bMustChangeAfterReset; }
    // The most passwords a policy keeps: each costs a key derivation per change.
    static const unsigned int kMaxHistory = 24;

    // Splits HOST:PORT (an IPv6 host in brackets: [::1]:5432).
    static bool ParseServer(const std::wstring& strText, std::wstring* pstrHost, int* pnPort);
    // A decimal number within [nMin, nMax], nothing else.
    static bool ParseNumber(
        const std::wstring& strText, unsigned long long nMin, unsigned long long nMax, unsigned long long* pnValue);

private:
    bool Validate(unsigned int nSeen, std::wstring* pstrError);

    XTRmsToolCommand m_nCommand = XTRmsToolCommand::None;
    std::wstring m_strCommandName;
    std::wstring m_strArgument;
    std::wstring m_strDatabaseFile;
    std::wstring m_strServerHost;
    int m_nServerPort = 0;
    std::wstring m_strServerDatabase = L"xtrms";
    std::wstring m_strServerUser;
    unsigned int m_nIterations = kDefaultIterations;
    std::wstring m_strRole;
    std::wstring m_strFullName;
    bool m_bNoPassword = false;
    size_t m_nLast = 0;
    std::wstring m_strLogin;
    std::wstring m_strSince;
    std::wstring m_strDefineFile;
    bool m_bCheckpoint = false;
    XTRmsAuditFilter m_auditFilter;
    bool m_bMaxAgeDays = false;
    unsigned int m_nMaxAgeDays = 0;
    bool m_bMinAgeDays = false;
    unsigned int m_nMinAgeDays = 0;
    bool m_bHistory = false;
    unsigned int m_nHistory = 0;
    bool m_bMustChangeGiven = false;
    bool m_bMustChangeAfterReset = true;
};
