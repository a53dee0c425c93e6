#include "XTRmsToolCommandLine.h"

#include "XTRmsService.h"

namespace
{
enum : unsigned int
{
    kOptDb = 1 << 0,
    kOptServer = 1 << 1,
    kOptDatabase = 1 << 2,
    kOptUser = 1 << 3,
    kOptIterations = 1 << 4,
    kOptRole = 1 << 5,
    kOptFullName = 1 << 6,
    kOptNoPassword = 1 << 7,
    kOptLast = 1 << 8,
    kOptLogin = 1 << 9,
    kOptSince = 1 << 10,
    kOptDefine = 1 << 11,
    kOptFrom = 1 << 12,
    kOptTo = 1 << 13,
    kOptWho = 1 << 14,
    kOptEvent = 1 << 15,
    kOptText = 1 << 16,
    kOptAuditFilter = kOptFrom | kOptTo | kOptWho | kOptEvent | kOptText,
    kOptMaxAge = 1 << 17,
    kOptMinAge = 1 << 18,
    kOptHistory = 1 << 19,
    kOptMustChange = 1 << 20,
    kOptStore = kOptDb | kOptServer | kOptDatabase | kOptUser | kOptIterations | kOptLogin
};

struct SCommand
{
    const wchar_t* pszName;
    XTRmsToolCommand nCommand;
    const wchar_t* pszArgument; // what the one argument is; nullptr: none
    unsigned int nOptions;      // beside the store options
};

const SCommand kCommands[] = {
    {L"help", XTRmsToolCommand::Help, nullptr, 0},
    {L"version", XTRmsToolCommand::Version, nullptr, 0},
    {L"drivers", XTRmsToolCommand::Drivers, nullptr, 0},
    {L"create", XTRmsToolCommand::Create, nullptr, kOptDefine},
    {L"upgrade", XTRmsToolCommand::Create, nullptr, kOptDefine},
    {L"info", XTRmsToolCommand::Info, nullptr, 0},
    {L"add-user", XTRmsToolCommand::AddUser, L"a user name", kOptRole | kOptFullName | kOptNoPassword},
    {L"set-password", XTRmsToolCommand::SetPassword, L"a user name", 0},
    {L"unlock", XTRmsToolCommand::Unlock, L"a user name", 0},
    {L"disable", XTRmsToolCommand::Disable, L"a user name", 0},
    {L"enable", XTRmsToolCommand::Enable, L"a user name", 0},
    {L"list", XTRmsToolCommand::List, nullptr, 0},
    {L"export", XTRmsToolCommand::Export, L"a file name", 0},
    {L"import", XTRmsToolCommand::Import, L"a file name", 0},
    {L"define", XTRmsToolCommand::Define, L"a definition file", 0},
    {L"audit", XTRmsToolCommand::Audit, nullptr, kOptLast | kOptAuditFilter},
    {L"verify", XTRmsToolCommand::Verify, nullptr, kOptSince},
    {L"policy", XTRmsToolCommand::Policy, nullptr, kOptMaxAge | kOptMinAge | kOptHistory | kOptMustChange},
};

struct SOption
{
    const wchar_t* pszName;
    unsigned int nBit;
    bool bValue;
};

const SOption kOptions[] = {
    {L"--db", kOptDb, true},
    {L"--server", kOptServer, true},
    {L"--database", kOptDatabase, true},
    {L"--user", kOptUser, true},
    {L"--iterations", kOptIterations, true},
    {L"--role", kOptRole, true},
    {L"--full-name", kOptFullName, true},
    {L"--no-password", kOptNoPassword, false},
    {L"--last", kOptLast, true},
    {L"--login", kOptLogin, true},
    {L"--since", kOptSince, true},
    {L"--define", kOptDefine, true},
    {L"--from", kOptFrom, true},
    {L"--to", kOptTo, true},
    {L"--who", kOptWho, true},
    {L"--event", kOptEvent, true},
    {L"--text", kOptText, true},
    {L"--max-age-days", kOptMaxAge, true},
    {L"--min-age-days", kOptMinAge, true},
    {L"--history", kOptHistory, true},
    {L"--must-change-after-reset", kOptMustChange, true},
};

const wchar_t* const kSeeHelp = L"; 'xtrms help' lists the commands and options.";

const SCommand* FindCommand(XTRmsToolCommand nCommand, const std::wstring& strName)
{
    for (const SCommand& command : kCommands)
    {
        if (nCommand == XTRmsToolCommand::None ? strName == command.pszName : nCommand == command.nCommand)
            return &command;
    }
    return nullptr;
}
} // namespace

bool XTRmsToolCommandLine::ParseNumber(
    const std::wstring& strText, unsigned long long nMin, unsigned long long nMax, unsigned long long* pnValue)
{
    // Ten digits are plenty for every bound here and cannot overflow.
    if (strText.empty() || strText.size() > 10)
        return false;
    unsigned long long nValue = 0;
    for (wchar_t ch : strText)
    {
        if (ch < L'0' || ch > L'9')
            return false;
        nValue = nValue * 10 + static_cast<unsigned long long>(ch - L'0');
    }
    if (nValue < nMin || nValue > nMax)
        return false;
    *pnValue = nValue;
    return true;
}

bool XTRmsToolCommandLine::ParseServer(const std::wstring& strText, std::wstring* pstrHost, int* pnPort)
{
    std::wstring strHost;
    std::wstring strPort;
    if (!strText.empty() && strText[0] == L'[')
    {
        size_t nClose = strText.find(L']');
        if (nClose == std::wstring::npos || nClose + 1 >= strText.size() || strText[nClose + 1] != L':')
            return false;
        strHost = strText.substr(1, nClose - 1);
        strPort = strText.substr(nClose + 2);
    }
    else
    {
        // A bare IPv6 address has several colons and is ambiguous.
        size_t nColon = strText.find(L':');
        if (nColon == std::wstring::npos || strText.find(L':', nColon + 1) != std::wstring::npos)
            return false;
        strHost = strText.substr(0, nColon);
        strPort = strText.substr(nColon + 1);
    }
    // What would let a host name add attributes to the connection string.
    if (strHost.empty() || strHost.find_first_of(L";{}=[] \t\r\n") != std::wstring::npos)
        return false;
    unsigned long long nPort = 0;
    if (!ParseNumber(strPort, 1, 65535, &nPort))
        return false;
    *pstrHost = strHost;
    *pnPort = static_cast<int>(nPort);
    return true;
}

bool XTRmsToolCommandLine::Parse(int nArgs, const wchar_t* const* ppszArgs, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) {
        *pstrError = strMessage;
        return false;
    };
    unsigned int nSeen = 0;
    bool bOptionsEnded = false;
    int nPositional = 0;
    for (int i = 1; i < nArgs; ++i)
    {
        std::wstring strArg = ppszArgs[i];
        bool bOption = !bOptionsEnded && strArg.size() > 1 && strArg[0] == L'-';
        if (bOption && strArg == L"--")
        {
            bOptionsEnded = true;
            continue;
        }
        if (!bOptionsEnded && (strArg == L"--help" || strArg == L"-h" || strArg == L"-?" || strArg == L"/?"))
        {
            // Asking for help wins over everything else on the line.
            m_nCommand = XTRmsToolCommand::Help;
            return true;
        }
        if (!bOptionsEnded && strArg == L"--version")
        {
            m_nCommand = XTRmsToolCommand::Version;
            return true;
        }
        if (!bOption)
        {
            if (nPositional == 0)
            {
                const SCommand* pCommand = FindCommand(XTRmsToolCommand::None, strArg);
                if (pCommand == nullptr)
                    return fail(L"Unknown command '" + strArg + L"'" + kSeeHelp);
                m_nCommand = pCommand->nCommand;
                m_strCommandName = strArg;
            }
            else if (nPositional == 1)
                m_strArgument = strArg;
            else
                return fail(L"Unexpected argument '" + strArg + L"'" + kSeeHelp);
            ++nPositional;
            continue;
        }

        std::wstring strName = strArg;
        std::wstring strValue;
        bool bInlineValue = false;
        size_t nEquals = strArg.find(L'=');
        if (nEquals != std::wstring::npos)
        {
            strName = strArg.substr(0, nEquals);
            strValue = strArg.substr(nEquals + 1);
            bInlineValue = true;
        }
        const SOption* pOption = nullptr;
        for (const SOption& option : kOptions)
        {
            if (strName == option.pszName)
                pOption = &option;
        }
        if (pOption == nullptr)
            return fail(L"Unknown option '" + strName + L"'" + kSeeHelp);
        if ((nSeen & pOption->nBit) != 0)
            return fail(strName + L" is given twice.");
        nSeen |= pOption->nBit;
        if (!pOption->bValue)
        {
            if (bInlineValue)
                return fail(strName + L" takes no value.");
            m_bNoPassword = true;
            continue;
        }
        if (!bInlineValue)
        {
            if (i + 1 >= nArgs)
                return fail(strName + L" needs a value.");
            strValue = ppszArgs[++i];
        }
        unsigned long long nNumber = 0;
        switch (pOption->nBit)
        {
        case kOptDb:
            m_strDatabaseFile = strValue;
            break;
        case kOptServer:
            if (!ParseServer(strValue, &m_strServerHost, &m_nServerPort))
                return fail(
                    L"--server expects HOST:PORT with a port from 1 to 65535, e.g. 127.0.0.1:5432 or [::1]:5432.");
            break;
        case kOptDatabase:
            m_strServerDatabase = strValue;
            break;
        case kOptUser:
            m_strServerUser = strValue;
            break;
        case kOptIterations:
            if (!ParseNumber(strValue, kMinIterations, 100000000, &nNumber))
                return fail(
                    L"--iterations expects a number from " + std::to_wstring(kMinIterations) + L" to 100000000.");
            m_nIterations = static_cast<unsigned int>(nNumber);
            break;
        case kOptRole:
            m_strRole = strValue;
            break;
        case kOptFullName:
            m_strFullName = strValue;
            break;
        case kOptLogin:
            m_strLogin = strValue;
            break;
        case kOptSince:
            m_strSince = strValue;
            break;
        case kOptDefine:
            m_strDefineFile = strValue;
            break;
        case kOptFrom:
            m_auditFilter.strFromUtc = strValue;
            break;
        case kOptTo:
            m_auditFilter.strToUtc = strValue;
            break;
        case kOptWho:
            m_auditFilter.strUser = strValue;
            break;
        case kOptEvent:
            m_auditFilter.strEvent = strValue;
            break;
        case kOptText:
            m_auditFilter.strText = strValue;
            break;
        case kOptMaxAge:
        case kOptMinAge:
            if (!ParseNumber(strValue, 0, 36500, &nNumber))
                return fail(strName + L" expects a number of days from 0 to 36500 (0: no limit).");
            if (pOption->nBit == kOptMaxAge)
            {
                m_bMaxAgeDays = true;
                m_nMaxAgeDays = static_cast<unsigned int>(nNumber);
            }
            else
            {
                m_bMinAgeDays = true;
                m_nMinAgeDays = static_cast<unsigned int>(nNumber);
            }
            break;
        case kOptHistory:
            if (!ParseNumber(strValue, 0, kMaxHistory, &nNumber))
                return fail(
                    L"--history expects a number of passwords from 0 to " + std::to_wstring(kMaxHistory) + L".");
            m_bHistory = true;
            m_nHistory = static_cast<unsigned int>(nNumber);
            break;
        case kOptMustChange:
            if (strValue != L"yes" && strValue != L"no")
                return fail(L"--must-change-after-reset expects yes or no.");
            m_bMustChangeGiven = true;
            m_bMustChangeAfterReset = strValue == L"yes";
            break;
        case kOptLast:
            if (!ParseNumber(strValue, 1, 1000000000, &nNumber))
                return fail(L"--last expects a number of entries from 1 up.");
            m_nLast = static_cast<size_t>(nNumber);
            break;
        }
        if (strValue.empty())
            return fail(strName + L" needs a value.");
    }
    return Validate(nSeen, pstrError);
}

bool XTRmsToolCommandLine::Validate(unsigned int nSeen, std::wstring* pstrError)
{
    auto fail = [pstrError](const std::wstring& strMessage) {
        *pstrError = strMessage;
        return false;
    };
    if (m_nCommand == XTRmsToolCommand::None)
        return fail(std::wstring(L"No command given") + kSeeHelp);
    // These need no store.
    if (m_nCommand == XTRmsToolCommand::Help || m_nCommand == XTRmsToolCommand::Version ||
        (m_nCommand == XTRmsToolCommand::Drivers && nSeen == 0))
        return true;
    const SCommand* pCommand = FindCommand(m_nCommand, std::wstring());
    // "audit checkpoint" prints the head of the trail instead of the trail.
    if (m_nCommand == XTRmsToolCommand::Audit && m_strArgument == L"checkpoint")
    {
        if ((nSeen & (kOptLast | kOptAuditFilter)) != 0)
            return fail(L"audit checkpoint takes no --last or filter" + std::wstring(kSeeHelp));
        m_strArgument.clear();
        m_bCheckpoint = true;
    }
    if (pCommand->pszArgument != nullptr && m_strArgument.empty())
        return fail(m_strCommandName + L" needs " + pCommand->pszArgument + kSeeHelp);
    if (pCommand->pszArgument == nullptr && !m_strArgument.empty())
        return fail(m_strCommandName + L" takes no argument, but '" + m_strArgument + L"' was given.");
    for (const SOption& option : kOptions)
    {
        if ((nSeen & option.nBit) != 0 && ((kOptStore | pCommand->nOptions) & option.nBit) == 0)
            return fail(std::wstring(option.pszName) + L" is not an option of " + m_strCommandName + kSeeHelp);
    }
    bool bDb = (nSeen & kOptDb) != 0;
    bool bServer = (nSeen & kOptServer) != 0;
    if (bDb == bServer)
        return fail(bDb ? L"--db and --server exclude each other: choose one store."
                        : L"Choose the store with --db FILE or --server HOST:PORT --user NAME.");
    if (bDb && (nSeen & (kOptDatabase | kOptUser)) != 0)
        return fail(L"--database and --user go with --server, not with --db.");
    if (bServer && (nSeen & kOptUser) == 0)
        return fail(L"--server needs --user NAME, the database account to connect as.");
    // A mistyped date is refused here, before a password is asked for.
    std::wstring strFilterError;
    if ((nSeen & kOptAuditFilter) != 0 && !XTRmsService::CheckAuditFilter(m_auditFilter, &strFilterError))
    {
        const wchar_t* pszOption = (nSeen & kOptFrom) != 0 && strFilterError.find(L"start") != std::wstring::npos
            ? L"--from: "
            : (nSeen & kOptTo) != 0 && strFilterError.find(L"end") != std::wstring::npos ? L"--to: "
                                                                                         : L"";
        return fail(pszOption + strFilterError);
    }
    if (m_nCommand == XTRmsToolCommand::AddUser && (nSeen & kOptRole) == 0)
        return fail(L"add-user needs --role ID (a role's number or name; 'xtrms info' lists them).");
    return true;
}
