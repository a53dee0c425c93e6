#include "XTRmsTool.h"

#include "XTSecret.h"

#include <algorithm>
#include <vector>

namespace
{
// Files read or written stay in memory; no user table comes near this size.
const DWORD kMaxFileBytes = 64 * 1024 * 1024;

const wchar_t kHelpText[] =
    L"xtrms - administration of an XTRms rights store\n"
    L"\n"
    L"Usage: xtrms COMMAND [ARGUMENT] STORE [OPTIONS]   (options in any order)\n"
    L"\n"
    L"Store, one of:\n"
    L"  --db FILE               a SQLite database file\n"
    L"  --server HOST:PORT      a PostgreSQL server ([::1]:5432 for IPv6), with\n"
    L"    --user NAME           the database account to connect as and\n"
    L"    --database NAME       the database (default: xtrms).\n"
    L"                          The account's password is taken from the\n"
    L"                          environment variable XTRMS_SERVER_PASSWORD or,\n"
    L"                          when it is not set, asked for at the console.\n"
    L"  --iterations N          PBKDF2 iterations of new password hashes\n"
    L"                          (default 600000, at least 1000)\n"
    L"  --login NAME            act as the XTRm administrator NAME (password\n"
    L"                          asked, or the first line of standard input).\n"
    L"                          Changes need an administrator: NAME, or on a\n"
    L"                          server the database administrator's account\n"
    L"                          (--user postgres, say), which alone creates\n"
    L"                          and upgrades the schema. A SQLite file is\n"
    L"                          administered by whoever may write it.\n"
    L"\n"
    L"Commands:\n"
    L"  create [--define FILE]  create the schema in a new or empty database, or\n"
    L"                          upgrade an older one to this tool's version;\n"
    L"                          then, with --define, write FILE's rights and roles\n"
    L"  upgrade                 the same as create\n"
    L"  define FILE             make the store's rights and roles those of FILE\n"
    L"                          (INI, UTF-8; - is standard input): adds, renames\n"
    L"                          and drops, but never a right or a role a user\n"
    L"                          still holds. The store's administrator only\n"
    L"  info                    engine, location, schema version, roles, rights\n"
    L"  add-user NAME --role ROLE [--full-name TEXT] [--no-password]\n"
    L"                          add a user with a role (its number or name) and\n"
    L"                          the role's rights; asks for the password unless\n"
    L"                          --no-password is given\n"
    L"  set-password NAME       set a user's password\n"
    L"  unlock NAME             end a user's lock, reset the failed logins\n"
    L"  disable NAME            refuse the user's logins from now on\n"
    L"  enable NAME             accept the user's logins again\n"
    L"  list                    users with role, flags (has-password, disabled,\n"
    L"                          locked), failed logins and rights\n"
    L"  export FILE             users and rights to a CSV file (UTF-8); FILE -\n"
    L"                          writes to standard output\n"
    L"  import FILE             add or update the users of such a CSV file (-:\n"
    L"                          standard input, after any password line)\n"
    L"                          (UTF-8, with or without byte order mark); users\n"
    L"                          it adds have no password yet\n"
    L"  audit [--last N] [--from TIME] [--to TIME] [--who NAME] [--event EVENT]\n"
    L"        [--text TEXT]     the audit trail, oldest first; only the latest N\n"
    L"                          entries with --last; only the entries from/to\n"
    L"                          TIME (ISO 8601 in UTC: 2027-01-15 or\n"
    L"                          2027-01-15T08:00:00Z; both ends inclusive, a\n"
    L"                          date as --to means the whole day), by or about\n"
    L"                          the user NAME, of the event EVENT (e.g.\n"
    L"                          right-granted), or holding TEXT in any field\n"
    L"                          (without regard to case)\n"
    L"  audit checkpoint        the head of the trail as SEQ:HASH, to keep\n"
    L"                          outside the database\n"
    L"  verify [--since SEQ:HASH]\n"
    L"                          check the audit trail's hash chain; with --since\n"
    L"                          also that nothing up to that checkpoint changed\n"
    L"  policy [--max-age-days N] [--min-age-days N] [--history N]\n"
    L"         [--must-change-after-reset yes|no]\n"
    L"                          show the password policy, or change it on a\n"
    L"                          rights server: days a password lives (0:\n"
    L"                          forever) and must at least be kept, earlier\n"
    L"                          passwords not to be chosen again (keep it small:\n"
    L"                          each costs a key derivation per change), and\n"
    L"                          whether a password an administrator sets must\n"
    L"                          be changed at the next login\n"
    L"  drivers                 the ODBC drivers installed on this workstation,\n"
    L"                          and whether those XTRms uses by default are there\n"
    L"  version, --version      the tool's version and the schema it writes\n"
    L"  help                    this text\n"
    L"\n"
    L"Passwords are typed at the console without echo, twice for add-user.\n"
    L"When standard input is not a console, its first line is the password\n"
    L"(UTF-8), once; scripts pipe it in. Passwords are never shown or logged.\n"
    L"\n"
    L"CSV: the header user,full_name,role,disabled,rights, then one user a row:\n"
    L"role a number, disabled 0 or 1, rights numbers separated by ';'.\n"
    L"\n"
    L"Definition file: a [rights] section of ID = LABEL lines, then a section\n"
    L"[role ID] for each role with name = NAME, rights = ID, ID, ... and\n"
    L"super-user = yes or no; lines starting with ; or # are comments.\n"
    L"\n"
    L"Exit codes:\n"
    L"  0  success; for verify: the audit trail is intact\n"
    L"  1  the command failed: store not reachable or not readable, unknown\n"
    L"     user or role, password refused, file not readable, bad CSV, ...\n"
    L"  2  usage error: unknown command or option, missing or malformed value\n"
    L"  3  verify: the audit trail is broken; the first problem is printed\n";

// Driver messages may span lines; a failure stays one line on stderr.
std::wstring OneLine(std::wstring strText)
{
    for (wchar_t& ch : strText)
    {
        if (ch == L'\r' || ch == L'\n' || ch == L'\t')
            ch = L' ';
    }
    while (!strText.empty() && strText.back() == L' ')
        strText.pop_back();
    return strText;
}

std::wstring SystemMessage(DWORD nError)
{
    wchar_t* pszMessage = nullptr;
    DWORD nLength = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, nError, 0,
        reinterpret_cast<wchar_t*>(&pszMessage), 0, nullptr);
    std::wstring strMessage = nLength > 0 && pszMessage != nullptr ? OneLine(pszMessage)
                                                                   : L"system error " + std::to_wstring(nError);
    if (pszMessage != nullptr)
        LocalFree(pszMessage);
    return strMessage;
}

std::wstring JoinRights(const std::vector<int>& vecRights)
{
    std::wstring strRights;
    for (int nRight : vecRights)
        strRights += (strRights.empty() ? L"" : L",") + std::to_wstring(nRight);
    return strRights.empty() ? std::wstring(L"-") : strRights;
}

// Columns padded to their widest cell, two spaces apart.
std::wstring FormatTable(const std::vector<std::vector<std::wstring>>& vecRows)
{
    std::vector<size_t> vecWidths;
    for (const auto& row : vecRows)
    {
        vecWidths.resize(std::max(vecWidths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i)
            vecWidths[i] = std::max(vecWidths[i], row[i].size());
    }
    std::wstring strText;
    for (const auto& row : vecRows)
    {
        std::wstring strLine;
        for (size_t i = 0; i < row.size(); ++i)
        {
            strLine += row[i];
            if (i + 1 < row.size())
                strLine += std::wstring(vecWidths[i] - row[i].size() + 2, L' ');
        }
        strText += strLine + L"\n";
    }
    return strText;
}
} // namespace

XTRmsTool::XTRmsTool(XTRmsToolConsole& console) : m_console(console)
{
}

XTRmsTool::~XTRmsTool()
{
    m_pService.reset();
    XTSecret::Wipe(m_strServerPassword);
}

const wchar_t* XTRmsTool::GetHelpText()
{
    return kHelpText;
}

int XTRmsTool::Fail(const std::wstring& strMessage, int nExitCode)
{
    m_console.Err(L"xtrms: " + OneLine(strMessage) + L"\n");
    return nExitCode;
}

int XTRmsTool::RunDrivers()
{
    std::vector<std::wstring> vecDrivers;
    if (!XTRmsService::GetInstalledOdbcDrivers(&vecDrivers))
        return Fail(L"The ODBC driver manager cannot list its drivers on this workstation.", kExitFailed);
    const XTRmsServiceConfig defaults;
    std::wstring strText = L"ODBC drivers installed for " + std::to_wstring(sizeof(void*) * 8) + L"-bit programs:\n";
    for (const std::wstring& strDriver : vecDrivers)
        strText += L"  " + strDriver + L"\n";
    if (vecDrivers.empty())
        strText += L"  (none)\n";
    bool bAllThere = true;
    for (const auto& [strDriver, pszStore] : {std::pair{defaults.strSqliteDriver, L"SQLite stores"},
             std::pair{defaults.strPostgresDriver, L"rights servers"}})
    {
        const bool bThere = std::find(vecDrivers.begin(), vecDrivers.end(), strDriver) != vecDrivers.end();
        bAllThere = bAllThere && bThere;
        strText += L"XTRms uses \"" + strDriver + L"\" for " + pszStore + L": " +
            (bThere ? L"installed" : L"NOT installed (or named otherwise: see the configuration's driver names)") +
            L"\n";
    }
    m_console.Out(strText);
    return bAllThere ? kExitOk : kExitFailed;
}

int XTRmsTool::Run(int nArgs, const wchar_t* const* ppszArgs)
{
    std::wstring strError;
    if (!m_commandLine.Parse(nArgs, ppszArgs, &strError))
        return Fail(strError, kExitUsage);
    XTRmsToolCommand nCommand = m_commandLine.GetCommand();
    if (nCommand == XTRmsToolCommand::Help)
    {
        m_console.Out(kHelpText);
        return kExitOk;
    }
    if (nCommand == XTRmsToolCommand::Version)
    {
        m_console.Out(L"xtrms " XTRMS_VERSION_TEXT L", schema version " +
            std::to_wstring(XTRmsService::GetLatestSchemaVersion()) + L"\n");
        return kExitOk;
    }
    if (nCommand == XTRmsToolCommand::Drivers)
        return RunDrivers();
    if (nCommand == XTRmsToolCommand::Create)
        return RunCreate();
    int nExitCode = kExitFailed;
    if (!OpenStore(false, &strError, &nExitCode))
        return Fail(strError, nExitCode);
    // Everything but info reads other users or changes something.
    if (nCommand != XTRmsToolCommand::Info && !m_pService->IsStoreAdministrator() &&
        !m_pService->CanSetOtherPasswords())
        return Fail(
            L"This needs an administrator: log in with --login NAME, or connect as the database "
            L"administrator.");
    switch (nCommand)
    {
    case XTRmsToolCommand::Info:
        return RunInfo();
    case XTRmsToolCommand::AddUser:
        return RunAddUser();
    case XTRmsToolCommand::SetPassword:
        return RunSetPassword();
    case XTRmsToolCommand::Unlock:
    case XTRmsToolCommand::Disable:
    case XTRmsToolCommand::Enable:
        return RunUserChange();
    case XTRmsToolCommand::List:
        return RunList();
    case XTRmsToolCommand::Export:
        return RunExport();
    case XTRmsToolCommand::Import:
        return RunImport();
    case XTRmsToolCommand::Define:
        return RunDefine(m_commandLine.GetArgument());
    case XTRmsToolCommand::Audit:
        return RunAudit();
    case XTRmsToolCommand::Verify:
        return RunVerify();
    case XTRmsToolCommand::Policy:
        return RunPolicy();
    default:
        return Fail(L"This command is not implemented.", kExitUsage);
    }
}

// --- The store ------------------------------------------------------------------

bool XTRmsTool::ReadServerPassword(std::wstring* pstrError, int* pnExitCode)
{
    if (m_bServerPasswordRead)
        return true;
    *pnExitCode = kExitFailed;
    const wchar_t* pszVariable = L"XTRMS_SERVER_PASSWORD";
    DWORD nSize = GetEnvironmentVariableW(pszVariable, nullptr, 0);
    if (nSize > 0)
    {
        std::wstring strValue(nSize, L'\0');
        DWORD nLength = GetEnvironmentVariableW(pszVariable, &strValue[0], nSize);
        if (nLength < nSize)
        {
            m_strServerPassword.reserve(nLength);
            m_strServerPassword.assign(strValue.data(), nLength);
            m_bServerPasswordRead = true;
        }
        XTSecret::Wipe(strValue);
        if (m_bServerPasswordRead)
            return true;
    }
    if (!m_console.IsInputConsole())
    {
        *pstrError =
            L"The server password is missing: set XTRMS_SERVER_PASSWORD, or run at a console to be asked "
            L"for it.";
        *pnExitCode = kExitUsage;
        return false;
    }
    std::wstring strPrompt = L"Password of database user " + m_commandLine.GetServerUser() + L" at " +
        m_commandLine.GetServerHost() + L":" + std::to_wstring(m_commandLine.GetServerPort()) + L": ";
    m_bServerPasswordRead = m_console.ReadSecret(strPrompt.c_str(), &m_strServerPassword, pstrError);
    return m_bServerPasswordRead;
}

bool XTRmsTool::OpenStore(bool bCreateOrUpgrade, std::wstring* pstrError, int* pnExitCode)
{
    *pnExitCode = kExitFailed;
    XTRmsServiceConfig config;
    // The tool brings no rights or roles: it works with those the host
    // wrote into the store, and must never replace them.
    config.policy.nPbkdf2Iterations = m_commandLine.GetIterations();
    XTRmsEngine nEngine = XTRmsEngine::Sqlite;
    if (m_commandLine.UsesServer())
    {
        nEngine = XTRmsEngine::Postgres;
        if (!ReadServerPassword(pstrError, pnExitCode))
            return false;
        config.serverSetting = XTRmsServerSetting(m_commandLine.GetServerHost(), m_commandLine.GetServerPort());
        config.strServerDatabase = m_commandLine.GetServerDatabase();
        config.strServerUser = m_commandLine.GetServerUser();
        config.strServerPassword = m_strServerPassword;
    }
    else
    {
        // The driver runs elsewhere than the current folder's meaning for a
        // relative name; an absolute path also reads better in messages.
        const std::wstring& strFile = m_commandLine.GetDatabaseFile();
        DWORD nSize = GetFullPathNameW(strFile.c_str(), 0, nullptr, nullptr);
        std::wstring strFull(nSize, L'\0');
        DWORD nLength = nSize > 0 ? GetFullPathNameW(strFile.c_str(), nSize, &strFull[0], nullptr) : 0;
        m_strDatabaseFile = nLength > 0 && nLength < nSize ? strFull.substr(0, nLength) : strFile;
        config.strDatabaseFile = m_strDatabaseFile;
    }
    m_pService = std::make_unique<XTRmsService>(config);
    XTSecret::Wipe(config.strServerPassword);
    std::wstring strError;
    if (m_pService->OpenStore(nEngine, bCreateOrUpgrade, &strError))
        return m_commandLine.GetLogin().empty() || LogIn(pstrError);
    *pstrError = strError.empty() ? L"The " + DescribeStore() + L" could not be opened." : strError;
    return false;
}

bool XTRmsTool::LogIn(std::wstring* pstrError)
{
    const std::wstring& strUser = m_commandLine.GetLogin();
    std::wstring strPassword;
    std::wstring strPrompt = L"Password of " + strUser + L": ";
    if (!m_console.ReadSecret(strPrompt.c_str(), &strPassword, pstrError))
        return false;
    Rms::ERmsLoginResult nResult = m_pService->UserLogin(strUser, strPassword);
    XTSecret::Wipe(strPassword);
    // The same answer for an unknown name and a wrong password, as at a
    // login dialog.
    switch (nResult)
    {
    case Rms::ERmsLoginOk:
        break;
    case Rms::ERmsLoginUserLocked:
        *pstrError = L"The account " + strUser + L" is locked.";
        return false;
    case Rms::ERmsLoginAccountDisabled:
        *pstrError = L"The account " + strUser + L" is disabled.";
        return false;
    case Rms::ERmsLoginPasswordExpired:
        *pstrError = L"The password of " + strUser + L" must be changed first: log in once at a workstation.";
        return false;
    case Rms::ERmsLoginSourceUnavailable:
        *pstrError = L"The store did not answer the login.";
        return false;
    default:
        *pstrError = L"The login as " + strUser + L" was refused: wrong name or password.";
        return false;
    }
    if (!m_pService->CanSetOtherPasswords())
    {
        *pstrError = strUser + L" is not an administrator.";
        return false;
    }
    return true;
}

std::wstring XTRmsTool::DescribeStore() const
{
    if (!m_commandLine.UsesServer())
        return L"SQLite file " + m_strDatabaseFile;
    return L"PostgreSQL database " + m_commandLine.GetServerDatabase() + L" at " + m_commandLine.GetServerHost() +
        L":" + std::to_wstring(m_commandLine.GetServerPort()) + L" as " + m_commandLine.GetServerUser();
}

std::wstring XTRmsTool::DescribeRole(Rms::RmsUserRole nRole) const
{
    for (const XTRmsRoleInfo& role : m_pService->GetAllRoles())
    {
        if (role.GetId() == nRole)
            return std::to_wstring(nRole) + L" " + role.GetName();
    }
    return std::to_wstring(nRole);
}

bool XTRmsTool::ResolveRole(const std::wstring& strRole, Rms::RmsUserRole* pnRole, std::wstring* pstrError) const
{
    std::vector<XTRmsRoleInfo> vecRoles = m_pService->GetAllRoles();
    if (vecRoles.empty())
    {
        *pstrError =
            L"The store defines no roles yet: write them from a file with 'xtrms define FILE', or let the host "
            L"application write its own when it first opens the store.";
        return false;
    }
    unsigned long long nNumber = 0;
    bool bNumber = XTRmsToolCommandLine::ParseNumber(strRole, 0, 0x7FFFFFFF, &nNumber);
    std::wstring strKnown;
    for (const XTRmsRoleInfo& role : vecRoles)
    {
        // Names as a person types them: case does not matter.
        bool bMatch = bNumber
            ? static_cast<unsigned long long>(role.GetId()) == nNumber
            : CompareStringOrdinal(role.GetName().c_str(), -1, strRole.c_str(), -1, TRUE) == CSTR_EQUAL;
        if (bMatch)
        {
            *pnRole = role.GetId();
            return true;
        }
        strKnown += (strKnown.empty() ? L"" : L", ") + std::to_wstring(role.GetId()) + L" " + role.GetName();
    }
    *pstrError = L"There is no role '" + strRole + L"'; the store's roles are " + strKnown + L".";
    return false;
}

bool XTRmsTool::IsUserKnown(const std::wstring& strUserName) const
{
    std::vector<XTRmsUserRecord> vecUsers = m_pService->ListUsers();
    return std::any_of(
        vecUsers.begin(), vecUsers.end(), [&](const XTRmsUserRecord& user) { return user.strUserName == strUserName; });
}

bool XTRmsTool::ReadNewPassword(const std::wstring& strUserName, std::wstring* pstrPassword, std::wstring* pstrError)
{
    std::wstring strPrompt = L"New password for " + strUserName + L": ";
    if (!m_console.ReadSecret(strPrompt.c_str(), pstrPassword, pstrError))
        return false;
    if (pstrPassword->empty())
    {
        *pstrError = m_commandLine.GetCommand() == XTRmsToolCommand::AddUser
            ? L"No password was given; add --no-password to create the user without one."
            : L"No password was given.";
        return false;
    }
    if (!m_console.IsInputConsole())
        return true;
    // Typed blind, so typed twice.
    std::wstring strRepeated;
    bool bOk = m_console.ReadSecret(L"Repeat the password: ", &strRepeated, pstrError);
    if (bOk && strRepeated != *pstrPassword)
    {
        *pstrError = L"The passwords do not match.";
        bOk = false;
    }
    XTSecret::Wipe(strRepeated);
    if (!bOk)
        XTSecret::Wipe(*pstrPassword);
    return bOk;
}

// --- Commands -------------------------------------------------------------------

int XTRmsTool::RunCreate()
{
    std::wstring strError;
    int nExitCode = kExitFailed;
    // A store already at this version is left as it is, and said so.
    const std::wstring& strDefine = m_commandLine.GetDefineFile();
    if (OpenStore(false, &strError, &nExitCode))
    {
        m_console.Out(L"The " + DescribeStore() + L" has schema version " +
            std::to_wstring(m_pService->GetSchemaVersion()) + L", the newest; nothing to do.\n");
        return strDefine.empty() ? kExitOk : RunDefine(strDefine);
    }
    if (nExitCode == kExitUsage || !OpenStore(true, &strError, &nExitCode))
        return Fail(strError, nExitCode);
    m_console.Out(L"The " + DescribeStore() + L" now has schema version " +
        std::to_wstring(m_pService->GetSchemaVersion()) + L".\n");
    if (!strDefine.empty())
        return RunDefine(strDefine);
    if (m_pService->GetAllRoles().empty())
        m_console.Out(
            L"It defines no roles or rights yet: write them with 'xtrms define FILE', or the host application "
            L"writes its own when it first opens the store.\n");
    return kExitOk;
}

int XTRmsTool::RunDefine(const std::wstring& strFile)
{
    std::wstring strText;
    std::wstring strError;
    if (!ReadUtf8File(strFile, L"text", &strText, &strError))
        return Fail(strError);
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    std::vector<int> vecSignedRights;
    if (!XTRmsService::ParseSiteDefinition(strText, &vecRights, &vecRoles, &vecSignedRights, &strError))
        return Fail(strFile + (strError.compare(0, 5, L"line ") == 0 ? L", " : L": ") + strError);
    size_t nChanges = 0;
    if (m_pService->DefineSite(vecRights, vecRoles, vecSignedRights, &nChanges, &strError) != Rms::RmsSuccess)
        return Fail(strError);
    const std::wstring strWhat = std::to_wstring(vecRights.size()) + L" rights and " +
        std::to_wstring(vecRoles.size()) + L" roles";
    m_console.Out(nChanges == 0 ? L"The store already has the " + strWhat + L" of " + strFile + L"; nothing changed.\n"
                                : L"The store now has the " + strWhat + L" of " + strFile + L": " +
                std::to_wstring(nChanges) + L" changes, each in the audit trail.\n");
    return kExitOk;
}

int XTRmsTool::RunPolicy()
{
    const XTRmsToolCommandLine& line = m_commandLine;
    XTRmsPolicy policy = m_pService->GetPolicy();
    if (line.HasMaxAgeDays() || line.HasMinAgeDays() || line.HasHistory() || line.HasMustChangeAfterReset())
    {
        // A SQLite store keeps no policy: each host applies its own.
        if (!m_commandLine.UsesServer())
            return Fail(
                L"A SQLite store follows the policy of the host that opens it; set it in the host's "
                L"configuration. Only a rights server keeps a policy of its own.");
        if (line.HasMaxAgeDays())
            policy.nMaxPasswordAgeDays = line.GetMaxAgeDays();
        if (line.HasMinAgeDays())
            policy.nMinPasswordAgeDays = line.GetMinAgeDays();
        if (line.HasHistory())
            policy.nPasswordHistory = line.GetHistory();
        if (line.HasMustChangeAfterReset())
            policy.bMustChangeAfterReset = line.GetMustChangeAfterReset();
        std::wstring strError;
        if (m_pService->SetPolicy(policy, &strError) != Rms::RmsSuccess)
            return Fail(strError);
        policy = m_pService->GetPolicy();
    }
    auto days = [](unsigned int nDays) { return nDays == 0 ? std::wstring(L"0 (none)") : std::to_wstring(nDays); };
    m_console.Out(L"max-age-days            " + days(policy.nMaxPasswordAgeDays) + L"\n" + L"min-age-days            " +
        days(policy.nMinPasswordAgeDays) + L"\n" + L"history                 " +
        std::to_wstring(policy.nPasswordHistory) + L"\n" + L"must-change-after-reset " +
        (policy.bMustChangeAfterReset ? L"yes" : L"no") + L"\n" + L"min-password-length     " +
        std::to_wstring(policy.nMinPasswordLength) + L"\n" + L"lockout                 " +
        (policy.nLockoutThreshold == 0 ? std::wstring(L"never")
                                       : L"after " + std::to_wstring(policy.nLockoutThreshold) + L" failed logins") +
        L"\n");
    return kExitOk;
}

int XTRmsTool::RunInfo()
{
    std::wstring strText;
    strText += L"Engine         : " + std::wstring(m_commandLine.UsesServer() ? L"PostgreSQL" : L"SQLite") + L"\n";
    strText += L"Location       : " +
        (m_commandLine.UsesServer()
                ? m_commandLine.GetServerHost() + L":" + std::to_wstring(m_commandLine.GetServerPort()) +
                    L", database " + m_commandLine.GetServerDatabase() + L", as " + m_commandLine.GetServerUser()
                : m_strDatabaseFile) +
        L"\n";
    strText += L"Schema version : " + std::to_wstring(m_pService->GetSchemaVersion()) + L" (this tool knows " +
        std::to_wstring(XTRmsService::GetLatestSchemaVersion()) + L")\n";
    strText += L"Users          : " + std::to_wstring(m_pService->ListUsers().size()) + L"\n";
    std::vector<XTRmsRoleInfo> vecRoles = m_pService->GetAllRoles();
    strText += L"Roles          :" + std::wstring(vecRoles.empty() ? L" (none)" : L"") + L"\n";
    for (const XTRmsRoleInfo& role : vecRoles)
        strText += L"  " + std::to_wstring(role.GetId()) + L"  " + role.GetName() + L"\n";
    std::vector<XTRmsRestrictionDefinition> vecRights = m_pService->GetRoleRestrDefinitions();
    strText += L"Rights         :" + std::wstring(vecRights.empty() ? L" (none)" : L"") + L"\n";
    for (const XTRmsRestrictionDefinition& right : vecRights)
        strText += L"  " + std::to_wstring(right.GetId()) + L"  " + right.GetName() + L"\n";
    m_console.Out(strText);
    return kExitOk;
}

int XTRmsTool::RunAddUser()
{
    const std::wstring& strUserName = m_commandLine.GetArgument();
    Rms::RmsUserRole nRole = Rms::RmsRoleNone;
    std::wstring strError;
    // Everything that can be refused is refused before the password is asked.
    if (!ResolveRole(m_commandLine.GetRole(), &nRole, &strError))
        return Fail(strError);
    if (IsUserKnown(strUserName))
        return Fail(L"The user " + strUserName + L" exists already.");
    std::wstring strPassword;
    if (!m_commandLine.GetNoPassword() && !ReadNewPassword(strUserName, &strPassword, &strError))
        return Fail(strError);
    Rms::RmsResult nResult = m_pService->AddUser(
        strUserName, m_commandLine.GetFullName(), nRole, strPassword, &strError);
    XTSecret::Wipe(strPassword);
    if (nResult != Rms::RmsSuccess)
        return Fail(strError);
    m_console.Out(L"User " + strUserName + L" added with role " + DescribeRole(nRole) +
        (m_commandLine.GetNoPassword() ? L", without a password.\n" : L".\n"));
    return kExitOk;
}

int XTRmsTool::RunSetPassword()
{
    const std::wstring& strUserName = m_commandLine.GetArgument();
    if (!IsUserKnown(strUserName))
        return Fail(L"There is no user " + strUserName + L".");
    std::wstring strPassword;
    std::wstring strError;
    if (!ReadNewPassword(strUserName, &strPassword, &strError))
        return Fail(strError);
    Rms::RmsResult nResult = m_pService->SetPassword(strUserName, strPassword, &strError);
    XTSecret::Wipe(strPassword);
    if (nResult != Rms::RmsSuccess)
        return Fail(strError);
    m_console.Out(L"The password of " + strUserName + L" is set.\n");
    return kExitOk;
}

int XTRmsTool::RunUserChange()
{
    const std::wstring& strUserName = m_commandLine.GetArgument();
    std::wstring strError;
    Rms::RmsResult nResult = Rms::RmsFailure;
    const wchar_t* pszDone = L"";
    switch (m_commandLine.GetCommand())
    {
    case XTRmsToolCommand::Unlock:
        nResult = m_pService->Unlock(strUserName, &strError);
        pszDone = L" is unlocked.\n";
        break;
    case XTRmsToolCommand::Disable:
        nResult = m_pService->SetDisabled(strUserName, true, &strError);
        pszDone = L" is disabled.\n";
        break;
    default:
        nResult = m_pService->SetDisabled(strUserName, false, &strError);
        pszDone = L" is enabled.\n";
        break;
    }
    if (nResult != Rms::RmsSuccess)
        return Fail(strError);
    m_console.Out(L"User " + strUserName + pszDone);
    return kExitOk;
}

int XTRmsTool::RunList()
{
    std::vector<XTRmsUserRecord> vecUsers = m_pService->ListUsers();
    if (vecUsers.empty())
    {
        m_console.Out(L"No users.\n");
        return kExitOk;
    }
    std::vector<std::vector<std::wstring>> vecRows;
    vecRows.push_back({L"USER", L"FULL NAME", L"ROLE", L"FLAGS", L"FAILED", L"RIGHTS"});
    for (const XTRmsUserRecord& user : vecUsers)
    {
        std::wstring strFlags;
        auto flag = [&strFlags](bool bSet, const wchar_t* pszFlag) {
            if (bSet)
                strFlags += (strFlags.empty() ? L"" : L",") + std::wstring(pszFlag);
        };
        flag(user.bHasPassword, L"has-password");
        flag(user.bDisabled, L"disabled");
        flag(user.bLocked, L"locked");
        vecRows.push_back(
            {user.strUserName, user.strFullName.empty() ? L"-" : user.strFullName, DescribeRole(user.nRole),
                strFlags.empty() ? L"-" : strFlags, std::to_wstring(user.nFailedLogins), JoinRights(user.vecRights)});
    }
    m_console.Out(FormatTable(vecRows));
    return kExitOk;
}

int XTRmsTool::RunExport()
{
    const std::wstring& strFile = m_commandLine.GetArgument();
    std::wstring strCsv;
    std::wstring strError;
    if (!m_pService->ExportCsv(&strCsv, &strError))
        return Fail(strError);
    // With a byte order mark, so that a spreadsheet on Windows reads the
    // names as UTF-8 rather than in the ANSI code page.
    std::string strUtf8 = "\xEF\xBB\xBF";
    int nBytes = WideCharToMultiByte(
        CP_UTF8, 0, strCsv.data(), static_cast<int>(strCsv.size()), nullptr, 0, nullptr, nullptr);
    if (nBytes > 0)
    {
        size_t nStart = strUtf8.size();
        strUtf8.resize(nStart + static_cast<size_t>(nBytes));
        WideCharToMultiByte(
            CP_UTF8, 0, strCsv.data(), static_cast<int>(strCsv.size()), &strUtf8[nStart], nBytes, nullptr, nullptr);
    }
    if (strFile == L"-")
    {
        // The CSV alone on standard output, for a pipe: no mark, no summary.
        HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD nWritten = 0;
        const size_t nSkip = 3;
        if (!WriteFile(hOut, strUtf8.data() + nSkip, static_cast<DWORD>(strUtf8.size() - nSkip), &nWritten, nullptr) ||
            nWritten != strUtf8.size() - nSkip)
            return Fail(L"The users could not be written to standard output: " + SystemMessage(GetLastError()));
        return kExitOk;
    }
    HANDLE hFile = CreateFileW(
        strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return Fail(L"The file " + strFile + L" cannot be written: " + SystemMessage(GetLastError()));
    DWORD nWritten = 0;
    bool bWritten = WriteFile(hFile, strUtf8.data(), static_cast<DWORD>(strUtf8.size()), &nWritten, nullptr) &&
        nWritten == strUtf8.size();
    DWORD nError = GetLastError();
    bWritten = CloseHandle(hFile) && bWritten;
    if (!bWritten)
    {
        DeleteFileW(strFile.c_str());
        return Fail(L"The file " + strFile + L" could not be written completely: " + SystemMessage(nError));
    }
    m_console.Out(std::to_wstring(m_pService->ListUsers().size()) + L" users exported to " + strFile + L".\n");
    return kExitOk;
}

bool XTRmsTool::ReadUtf8File(
    const std::wstring& strFile, const wchar_t* pszKind, std::wstring* pstrText, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) {
        *pstrError = strMessage;
        return false;
    };
    const bool bStandardInput = strFile == L"-";
    HANDLE hFile = bStandardInput ? GetStdHandle(STD_INPUT_HANDLE)
                                  : CreateFileW(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE || hFile == nullptr)
        return fail(L"The file " + strFile + L" cannot be opened: " + SystemMessage(GetLastError()));
    LARGE_INTEGER nSize = {};
    std::string strUtf8;
    bool bRead = false;
    if (bStandardInput)
    {
        // Whatever standard input holds after the password lines, up to the
        // same size as a file.
        char szBuffer[65536];
        DWORD nRead = 0;
        bRead = true;
        while (ReadFile(hFile, szBuffer, sizeof(szBuffer), &nRead, nullptr) && nRead > 0)
        {
            strUtf8.append(szBuffer, nRead);
            if (strUtf8.size() > kMaxFileBytes)
            {
                bRead = false;
                break;
            }
        }
        nSize.QuadPart = static_cast<LONGLONG>(strUtf8.size());
    }
    else
    {
        bRead = GetFileSizeEx(hFile, &nSize) != FALSE && nSize.QuadPart <= kMaxFileBytes;
        if (bRead)
        {
            strUtf8.resize(static_cast<size_t>(nSize.QuadPart));
            DWORD nRead = 0;
            bRead = strUtf8.empty() ||
                (ReadFile(hFile, &strUtf8[0], static_cast<DWORD>(strUtf8.size()), &nRead, nullptr) &&
                    nRead == strUtf8.size());
        }
        CloseHandle(hFile);
    }
    if (!bRead)
        return fail(nSize.QuadPart > kMaxFileBytes ? L"The file " + strFile + L" is larger than 64 MB."
                                                   : L"The file " + strFile + L" cannot be read.");
    size_t nStart = strUtf8.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    pstrText->clear();
    if (strUtf8.size() > nStart)
    {
        const char* pszStart = strUtf8.data() + nStart;
        int nLength = static_cast<int>(strUtf8.size() - nStart);
        int nChars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszStart, nLength, nullptr, 0);
        if (nChars <= 0)
            return fail(L"The file " + strFile + L" is not UTF-8 text; save it as " + pszKind + L" in UTF-8.");
        pstrText->resize(static_cast<size_t>(nChars));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszStart, nLength, &(*pstrText)[0], nChars);
    }
    return true;
}

int XTRmsTool::RunImport()
{
    const std::wstring& strFile = m_commandLine.GetArgument();
    std::wstring strCsv;
    std::wstring strError;
    if (!ReadUtf8File(strFile, L"CSV", &strCsv, &strError))
        return Fail(strError);
    if (!m_pService->ImportCsv(strCsv, &strError))
        return Fail(strFile + L": " + strError);
    m_console.Out(
        L"Imported " + strFile + L"; the store has " + std::to_wstring(m_pService->ListUsers().size()) + L" users.\n");
    return kExitOk;
}

int XTRmsTool::RunAudit()
{
    if (m_commandLine.GetCheckpoint())
    {
        std::wstring strCheckpoint;
        std::wstring strError;
        if (!m_pService->AuditCheckpoint(&strCheckpoint, &strError))
            return Fail(strError);
        m_console.Out(strCheckpoint + L"\n");
        return kExitOk;
    }
    // Page by page from the store, newest first, until --last is reached or
    // nothing older matches; printed oldest first.
    const size_t nLast = m_commandLine.GetLast();
    const size_t kPage = 1000;
    std::vector<XTRmsAuditRow> vecNewestFirst;
    long long nBefore = 0;
    for (;;)
    {
        size_t nWant = nLast == 0 ? kPage : std::min(kPage, nLast - vecNewestFirst.size());
        std::vector<XTRmsAuditRow> vecPage;
        std::wstring strError;
        if (!m_pService->QueryAudit(m_commandLine.GetAuditFilter(), nBefore, nWant, &vecPage, &strError))
            return Fail(strError);
        vecNewestFirst.insert(vecNewestFirst.end(), vecPage.begin(), vecPage.end());
        if (vecPage.size() < nWant || (nLast != 0 && vecNewestFirst.size() >= nLast))
            break;
        nBefore = vecPage.back().nSequence;
    }
    if (vecNewestFirst.empty())
    {
        m_console.Out(m_commandLine.HasAuditFilter() ? L"No entry of the audit trail matches.\n"
                                                     : L"The audit trail is empty.\n");
        return kExitOk;
    }
    std::vector<std::vector<std::wstring>> vecRows;
    vecRows.push_back({L"SEQ", L"TIME (UTC)", L"EVENT", L"SUBJECT", L"DETAIL", L"BY", L"ON"});
    // A line break in a stored name must not forge lines of the listing.
    auto orDash = [](std::wstring strText) {
        for (wchar_t& ch : strText)
        {
            if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || ch == 0x2028 || ch == 0x2029)
                ch = L'?';
        }
        return strText.empty() ? std::wstring(L"-") : strText;
    };
    for (auto it = vecNewestFirst.rbegin(); it != vecNewestFirst.rend(); ++it)
    {
        const XTRmsAuditRow& entry = *it;
        vecRows.push_back({std::to_wstring(entry.nSequence), entry.strTimeUtc, entry.strEvent, orDash(entry.strSubject),
            orDash(entry.strDetail), orDash(entry.strActor), orDash(entry.strWorkstation + L"\\" + entry.strOsUser)});
    }
    m_console.Out(FormatTable(vecRows));
    return kExitOk;
}

int XTRmsTool::RunVerify()
{
    std::wstring strProblem;
    bool bReadable = false;
    if (!m_pService->VerifyAuditChainSince(m_commandLine.GetSince(), &strProblem, &bReadable))
    {
        // A trail that cannot be read is a failure, not proof of tampering.
        if (!bReadable)
            return Fail(strProblem, kExitFailed);
        return Fail(L"The audit trail is broken: " + strProblem, kExitAuditBroken);
    }
    m_console.Out(
        L"The audit trail is intact (" + std::to_wstring(m_pService->GetAuditTrail(0).size()) + L" entries).\n");
    return kExitOk;
}
