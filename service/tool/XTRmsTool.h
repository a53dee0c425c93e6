// xtrms.exe: administration of a rights-service store from the command line,
// through the exported administration API of XTRms only.
#pragma once

#include "XTRmsService.h"
#include "XTRmsToolCommandLine.h"
#include "XTRmsToolConsole.h"

#include <memory>
#include <string>

class XTRmsTool
{
public:
    // Exit codes, as documented in the help text.
    static const int kExitOk = 0;
    static const int kExitFailed = 1;
    static const int kExitUsage = 2;
    static const int kExitAuditBroken = 3;

    explicit XTRmsTool(XTRmsToolConsole& console);
    ~XTRmsTool();
    XTRmsTool(const XTRmsTool&) = delete;
    XTRmsTool& operator=(const XTRmsTool&) = delete;

    int Run(int nArgs, const wchar_t* const* ppszArgs);

    static const wchar_t* GetHelpText();

private:
    // On failure *pnExitCode tells a usage error (no server password) from
    // a store that could not be opened.
    bool OpenStore(bool bCreateOrUpgrade, std::wstring* pstrError, int* pnExitCode);
    bool ReadServerPassword(std::wstring* pstrError, int* pnExitCode);
    // --login: the XTRm administrator the tool acts as.
    bool LogIn(std::wstring* pstrError);
    bool ReadNewPassword(const std::wstring& strUserName, std::wstring* pstrPassword, std::wstring* pstrError);
    bool ResolveRole(const std::wstring& strRole, Rms::RmsUserRole* pnRole, std::wstring* pstrError) const;
    bool IsUserKnown(const std::wstring& strUserName) const;
    std::wstring DescribeStore() const;
    std::wstring DescribeRole(Rms::RmsUserRole nRole) const;

    int RunCreate();
    int RunDrivers();
    int RunInfo();
    int RunPolicy();
    int RunAddUser();
    int RunSetPassword();
    int RunUserChange();
    int RunList();
    int RunExport();
    int RunImport();
    int RunDefine(const std::wstring& strFile);
    // A UTF-8 text file (with or without a byte order mark), or standard
    // input for "-"; pszKind names what it should be saved as.
    bool ReadUtf8File(
        const std::wstring& strFile, const wchar_t* pszKind, std::wstring* pstrText, std::wstring* pstrError);
    int RunAudit();
    int RunVerify();

    // One line on standard error, prefixed with the tool's name.
    int Fail(const std::wstring& strMessage, int nExitCode = kExitFailed);

    XTRmsToolConsole& m_console;
    XTRmsToolCommandLine m_commandLine;
    std::wstring m_strDatabaseFile; // --db made absolute
    // Read once, even when create opens the store twice; wiped at the end.
    std::wstring m_strServerPassword;
    bool m_bServerPasswordRead = false;
    std::unique_ptr<XTRmsService> m_pService;
};
