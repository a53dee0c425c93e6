#include "XTRmsServerStore.h"

#include <cwchar>

namespace
{
std::set<int> ParseRights(const std::wstring& strRights)
{
    std::set<int> setRights;
    size_t nStart = 0;
    while (nStart < strRights.size())
    {
        size_t nEnd = strRights.find(L';', nStart);
        std::wstring strPart = strRights.substr(
            nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart);
        if (!strPart.empty())
            setRights.insert(static_cast<int>(std::wcstol(strPart.c_str(), nullptr, 10)));
        if (nEnd == std::wstring::npos)
            break;
        nStart = nEnd + 1;
    }
    return setRights;
}

std::wstring IntList(const std::vector<int>& vecValues)
{
    std::wstring strList = L"[";
    for (size_t i = 0; i < vecValues.size(); ++i)
        strList += (i == 0 ? L"" : L",") + std::to_wstring(vecValues[i]);
    return strList + L"]";
}
} // namespace

XTRmsServerStore::XTRmsServerStore(
    XTRmsOdbc::Connection& connection, std::wstring strWorkstation, std::wstring strOsUser)
    : m_connection(connection), m_strWorkstation(std::move(strWorkstation)), m_strOsUser(std::move(strOsUser))
{
}

XTRmsOdbc::Statement& XTRmsServerStore::BindToken(XTRmsOdbc::Statement& statement, const std::wstring& strToken)
{
    return strToken.empty() ? statement.BindNull() : statement.Bind(strToken);
}

XTRmsOdbc::Statement& XTRmsServerStore::BindClaims(XTRmsOdbc::Statement& statement)
{
    return statement.Bind(m_strWorkstation).Bind(m_strOsUser);
}

bool XTRmsServerStore::HasFunctions(bool* pbHas)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT CASE WHEN to_regprocedure('xtrms.schema_version()') IS NULL THEN 0 ELSE 1 END");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pbHas = statement.GetInt(1) != 0;
    return true;
}

bool XTRmsServerStore::ReadSchemaVersion(int* pnVersion)
{
    XTRmsOdbc::Statement statement(m_connection, L"SELECT xtrms.schema_version()");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnVersion = static_cast<int>(statement.GetInt(1));
    return true;
}

bool XTRmsServerStore::IsDatabaseAdministrator(bool* pbAdministrator)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT CASE WHEN rolsuper THEN 1 ELSE 0 END FROM pg_roles WHERE rolname = session_user");
    if (!statement.Execute())
        return false;
    *pbAdministrator = statement.Fetch() && statement.GetInt(1) != 0;
    return true;
}

std::wstring XTRmsServerStore::JsonString(const std::wstring& strText)
{
    std::wstring strJson = L"\"";
    for (wchar_t ch : strText)
    {
        if (ch == L'"' || ch == L'\\')
        {
            strJson += L'\\';
            strJson += ch;
        }
        else if (ch < 0x20)
        {
            wchar_t szEscape[8];
            swprintf(szEscape, 8, L"\\u%04x", static_cast<unsigned int>(ch));
            strJson += szEscape;
        }
        else
            strJson += ch;
    }
    return strJson + L"\"";
}

std::wstring XTRmsServerStore::PolicyJson(const XTRmsPolicy& policy)
{
    return L"{\"lockout_threshold\":" + std::to_wstring(policy.nLockoutThreshold) + L",\"lockout_seconds\":" +
        std::to_wstring(policy.nLockoutSeconds) + L",\"guest_allowed\":" +
        (policy.bGuestLoginAllowed ? L"true" : L"false") + L",\"guest_rights\":" + JsonString([&] {
            std::wstring strRights;
            for (int nRight : policy.vecGuestRights)
                strRights += (strRights.empty() ? L"" : L";") + std::to_wstring(nRight);
            return strRights;
        }()) +
        L",\"report_unknown\":" + (policy.bReportUnknownUser ? L"true" : L"false") + L",\"min_password_length\":" +
        std::to_wstring(policy.nMinPasswordLength) + L",\"iterations\":" + std::to_wstring(policy.nPbkdf2Iterations) +
        L",\"max_age_days\":" + std::to_wstring(policy.nMaxPasswordAgeDays) + L",\"min_age_days\":" +
        std::to_wstring(policy.nMinPasswordAgeDays) + L",\"history\":" + std::to_wstring(policy.nPasswordHistory) +
        L",\"must_change_after_reset\":" + (policy.bMustChangeAfterReset ? L"true" : L"false") + L"}";
}

std::wstring XTRmsServerStore::SignedRightsJson(const std::vector<int>& vecRights)
{
    return L"{\"signed_rights\":" + IntList(vecRights) + L"}";
}

std::wstring XTRmsServerStore::ImportJson(const std::vector<XTRmsStoredUser>& vecUsers)
{
    std::wstring strJson = L"[";
    for (const XTRmsStoredUser& user : vecUsers)
    {
        std::wstring strRights;
        for (int nRight : user.setRights)
            strRights += (strRights.empty() ? L"" : L",") + std::to_wstring(nRight);
        strJson += (strJson.size() > 1 ? L"," : L"") + std::wstring(L"{\"user\":") + JsonString(user.strUserName) +
            L",\"full_name\":" + JsonString(user.strFullName) + L",\"role\":" + std::to_wstring(user.nRole) +
            L",\"disabled\":" + (user.bDisabled ? L"true" : L"false") + L",\"rights\":[" + strRights + L"]}";
    }
    return strJson + L"]";
}

void XTRmsServerStore::DefinitionsJson(const std::vector<XTRmsRestrictionDefinition>& vecRights,
    const std::vector<XTRmsRoleDefinition>& vecRoles, std::wstring* pstrRights, std::wstring* pstrRoles)
{
    *pstrRights = L"[";
    for (size_t i = 0; i < vecRights.size(); ++i)
        *pstrRights += (i == 0 ? L"" : L",") + std::wstring(L"{\"id\":") + std::to_wstring(vecRights[i].GetId()) +
            L",\"name\":" + JsonString(vecRights[i].GetName()) + L"}";
    *pstrRights += L"]";
    *pstrRoles = L"[";
    for (size_t i = 0; i < vecRoles.size(); ++i)
        *pstrRoles += (i == 0 ? L"" : L",") + std::wstring(L"{\"id\":") + std::to_wstring(vecRoles[i].nId) +
            L",\"name\":" + JsonString(vecRoles[i].strName) + L",\"super_user\":" +
            (vecRoles[i].bSuperUser ? L"true" : L"false") + L",\"rights\":" + IntList(vecRoles[i].vecRights) + L"}";
    *pstrRoles += L"]";
}

bool XTRmsServerStore::Define(const std::vector<XTRmsRestrictionDefinition>& vecRights,
    const std::vector<XTRmsRoleDefinition>& vecRoles, const std::vector<int>& vecSignedRights,
    const XTRmsPolicy& policy, bool* pbWritten)
{
    std::wstring strRights;
    std::wstring strRoles;
    DefinitionsJson(vecRights, vecRoles, &strRights, &strRoles);
    std::wstring strPolicy = PolicyJson(policy);
    // The first host's rights that need a signature travel with its policy.
    strPolicy.back() = L',';
    strPolicy += SignedRightsJson(vecSignedRights).substr(1);
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.define(CAST(? AS jsonb), CAST(? AS jsonb), CAST(? AS jsonb))");
    statement.Bind(strRights).Bind(strRoles).Bind(strPolicy);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pbWritten = statement.GetInt(1) != 0;
    return true;
}

bool XTRmsServerStore::Redefine(const std::vector<XTRmsRestrictionDefinition>& vecRights,
    const std::vector<XTRmsRoleDefinition>& vecRoles, size_t* pnChanges)
{
    std::wstring strRights;
    std::wstring strRoles;
    DefinitionsJson(vecRights, vecRoles, &strRights, &strRoles);
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.redefine(CAST(? AS jsonb), CAST(? AS jsonb), CAST(? AS text), CAST(? AS text))");
    statement.Bind(strRights).Bind(strRoles);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnChanges = static_cast<size_t>(statement.GetInt(1));
    return true;
}

bool XTRmsServerStore::ReadDefinitions(
    std::vector<XTRmsRestrictionDefinition>* pvecRights, std::vector<XTRmsRoleDefinition>* pvecRoles)
{
    pvecRights->clear();
    pvecRoles->clear();
    XTRmsOdbc::Statement rights(m_connection, L"SELECT id, name FROM xtrms.rights()");
    if (!rights.Execute())
        return false;
    while (rights.Fetch())
    {
        int nId = static_cast<int>(rights.GetInt(1));
        pvecRights->emplace_back(nId, rights.GetText(2));
    }
    XTRmsOdbc::Statement roles(
        m_connection, L"SELECT id, name, CASE WHEN super_user THEN 1 ELSE 0 END, rights FROM xtrms.roles()");
    if (!roles.Execute())
        return false;
    while (roles.Fetch())
    {
        XTRmsRoleDefinition role;
        role.nId = static_cast<Rms::RmsUserRole>(roles.GetInt(1));
        role.strName = roles.GetText(2);
        role.bSuperUser = roles.GetInt(3) != 0;
        std::set<int> setRights = ParseRights(roles.GetText(4));
        role.vecRights.assign(setRights.begin(), setRights.end());
        pvecRoles->push_back(role);
    }
    return true;
}

bool XTRmsServerStore::ReadPolicy(XTRmsPolicy* pPolicy)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT lockout_threshold, lockout_seconds, CASE WHEN guest_allowed THEN 1 ELSE 0 END, guest_rights, "
        L"CASE WHEN report_unknown THEN 1 ELSE 0 END, min_password_length, iterations FROM xtrms.policy()");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    pPolicy->nLockoutThreshold = static_cast<unsigned int>(statement.GetInt(1));
    pPolicy->nLockoutSeconds = static_cast<unsigned int>(statement.GetInt(2));
    pPolicy->bGuestLoginAllowed = statement.GetInt(3) != 0;
    std::set<int> setGuestRights = ParseRights(statement.GetText(4));
    pPolicy->vecGuestRights.assign(setGuestRights.begin(), setGuestRights.end());
    pPolicy->bReportUnknownUser = statement.GetInt(5) != 0;
    pPolicy->nMinPasswordLength = static_cast<unsigned int>(statement.GetInt(6));
    pPolicy->nPbkdf2Iterations = static_cast<unsigned int>(statement.GetInt(7));
    return true;
}

bool XTRmsServerStore::LoginParams(
    const std::wstring& strUserName, std::wstring* pstrSaltHex, unsigned int* pnIterations)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT salt_hex, iterations FROM xtrms.login_params(CAST(? AS text))");
    statement.Bind(strUserName);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pstrSaltHex = statement.GetText(1);
    *pnIterations = static_cast<unsigned int>(statement.GetInt(2));
    return true;
}

bool XTRmsServerStore::Login(const std::wstring& strUserName, const std::wstring& strKeyHex, XTRmsServerLogin* pLogin)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT result, token, user_name, role_id, CASE WHEN super_user THEN 1 ELSE 0 END, rights "
        L"FROM xtrms.login(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    statement.Bind(strUserName).Bind(strKeyHex);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    pLogin->nResult = static_cast<int>(statement.GetInt(1));
    pLogin->strToken = statement.GetText(2);
    pLogin->strUserName = statement.GetText(3);
    pLogin->nRole = static_cast<int>(statement.GetInt(4));
    pLogin->bSuperUser = statement.GetInt(5) != 0;
    pLogin->setRights = ParseRights(statement.GetText(6));
    return true;
}

void XTRmsServerStore::Logout(const std::wstring& strToken)
{
    if (strToken.empty())
        return;
    XTRmsOdbc::Statement statement(m_connection, L"SELECT xtrms.logout(CAST(? AS text))");
    statement.Bind(strToken);
    // A session the server cannot end now ends with its expiry.
    (void)statement.Execute();
}

bool XTRmsServerStore::ReadSession(const std::wstring& strToken, XTRmsServerSession* pSession, bool* pbValid)
{
    *pbValid = false;
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT user_name, role_id, CASE WHEN super_user THEN 1 ELSE 0 END, CASE WHEN guest THEN 1 ELSE 0 END, "
        L"rights FROM xtrms.session(CAST(? AS text))");
    statement.Bind(strToken);
    if (!statement.Execute())
        return false;
    if (!statement.Fetch())
        return GetRefusal() == XTRmsServerRefusal::None;
    *pbValid = true;
    pSession->strUserName = statement.GetText(1);
    pSession->nRole = static_cast<int>(statement.GetInt(2));
    pSession->bSuperUser = statement.GetInt(3) != 0;
    pSession->bGuest = statement.GetInt(4) != 0;
    pSession->setRights = ParseRights(statement.GetText(5));
    return true;
}

bool XTRmsServerStore::ListUsers(const std::wstring& strToken, std::vector<XTRmsStoredUser>* pvecUsers)
{
    pvecUsers->clear();
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT name, full_name, role_id, CASE WHEN has_password THEN 1 ELSE 0 END, failed_logins, locked_until, "
        L"CASE WHEN disabled THEN 1 ELSE 0 END, rights FROM xtrms.list_users(CAST(? AS text))");
    BindToken(statement, strToken);
    if (!statement.Execute())
        return false;
    while (statement.Fetch())
    {
        XTRmsStoredUser user = XTRmsStore::ReadUserSummary(statement);
        user.setRights = ParseRights(statement.GetText(8));
        pvecUsers->push_back(std::move(user));
    }
    // Fetch ends with no data, or with the function's refusal.
    return GetRefusal() == XTRmsServerRefusal::None;
}

bool XTRmsServerStore::SaveChanges(const std::wstring& strToken, const std::wstring& strChangesJson)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.save_changes(CAST(? AS text), CAST(? AS jsonb), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strChangesJson);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::AddUser(const std::wstring& strToken, const std::wstring& strUserName,
    const std::wstring& strFullName, int nRole, const std::wstring& strSaltHex, unsigned int nIterations,
    const std::wstring& strKeyHex)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.add_user(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS integer), "
        L"CAST(? AS text), CAST(? AS integer), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName).Bind(strFullName).Bind(static_cast<long long>(nRole));
    if (strKeyHex.empty())
        statement.BindNull().BindNull().BindNull();
    else
        statement.Bind(strSaltHex).Bind(static_cast<long long>(nIterations)).Bind(strKeyHex);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::SetPassword(const std::wstring& strToken, const std::wstring& strUserName,
    const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.set_password(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS integer), "
        L"CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName).Bind(strSaltHex).Bind(static_cast<long long>(nIterations));
    statement.Bind(strKeyHex);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::CallWithOldKey(const wchar_t* pszSql, const std::wstring& strToken,
    const std::wstring& strOldKeyHex, const std::wstring& strSaltHex, unsigned int nIterations,
    const std::wstring& strKeyHex, long long* pnResult)
{
    XTRmsOdbc::Statement statement(m_connection, pszSql);
    BindToken(statement, strToken).Bind(strOldKeyHex).Bind(strSaltHex).Bind(static_cast<long long>(nIterations));
    statement.Bind(strKeyHex);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnResult = statement.GetInt(1);
    return true;
}

bool XTRmsServerStore::ChangeOwnPassword(const std::wstring& strToken, const std::wstring& strOldKeyHex,
    const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex, int* pnResult)
{
    long long nResult = 0;
    if (!CallWithOldKey(L"SELECT xtrms.change_own_password(CAST(? AS text), CAST(? AS text), CAST(? AS text), "
                        L"CAST(? AS integer), CAST(? AS text), CAST(? AS text), CAST(? AS text))",
            strToken, strOldKeyHex, strSaltHex, nIterations, strKeyHex, &nResult))
        return false;
    *pnResult = static_cast<int>(nResult);
    return true;
}

bool XTRmsServerStore::Rehash(const std::wstring& strToken, const std::wstring& strOldKeyHex,
    const std::wstring& strSaltHex, unsigned int nIterations, const std::wstring& strKeyHex, bool* pbRehashed)
{
    long long nResult = 0;
    if (!CallWithOldKey(L"SELECT xtrms.rehash(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS integer), "
                        L"CAST(? AS text), CAST(? AS text), CAST(? AS text))",
            strToken, strOldKeyHex, strSaltHex, nIterations, strKeyHex, &nResult))
        return false;
    *pbRehashed = nResult != 0;
    return true;
}

bool XTRmsServerStore::Unlock(const std::wstring& strToken, const std::wstring& strUserName)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.unlock(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::SetDisabled(const std::wstring& strToken, const std::wstring& strUserName, bool bDisabled)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.set_disabled(CAST(? AS text), CAST(? AS text), CAST(? AS integer) <> 0, CAST(? AS text), "
        L"CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName).Bind(bDisabled ? 1LL : 0LL);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::ImportUsers(const std::wstring& strToken, const std::wstring& strRowsJson)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.import_users(CAST(? AS text), CAST(? AS jsonb), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strRowsJson);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::SetPolicy(const std::wstring& strToken, const std::wstring& strPolicyJson)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.set_policy(CAST(? AS text), CAST(? AS jsonb), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strPolicyJson);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::ReadAudit(const std::wstring& strToken, size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries)
{
    pvecEntries->clear();
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT seq, at_utc, workstation, os_user, actor, event, subject, detail, hash "
        L"FROM xtrms.read_audit(CAST(? AS text), CAST(? AS integer))");
    BindToken(statement, strToken).Bind(static_cast<long long>(nCount));
    if (!statement.Execute())
        return false;
    std::vector<XTRmsAuditEntry> vecNewestFirst;
    while (statement.Fetch())
        vecNewestFirst.push_back(XTRmsStore::ReadAuditRow(statement));
    if (GetRefusal() != XTRmsServerRefusal::None)
        return false;
    pvecEntries->assign(vecNewestFirst.rbegin(), vecNewestFirst.rend());
    return true;
}

bool XTRmsServerStore::QueryAudit(const std::wstring& strToken, const XTRmsAuditQuery& query, long long nBeforeSequence,
    size_t nCount, std::vector<XTRmsAuditEntry>* pvecEntries)
{
    pvecEntries->clear();
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT seq, at_utc, workstation, os_user, actor, event, subject, detail "
        L"FROM xtrms.query_audit(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text), "
        L"CAST(? AS text), CAST(? AS text), CAST(? AS bigint), CAST(? AS integer))");
    BindToken(statement, strToken);
    // An empty field is no condition: NULL says so to the function.
    for (const std::wstring* pstrField :
        {&query.strFromUtc, &query.strToUtc, &query.strUser, &query.strEvent, &query.strText})
    {
        if (pstrField->empty())
            statement.BindNull();
        else
            statement.Bind(*pstrField);
    }
    statement.Bind(nBeforeSequence).Bind(static_cast<long long>(nCount));
    if (!statement.Execute())
        return false;
    while (statement.Fetch())
        pvecEntries->push_back(XTRmsStore::ReadAuditRow(statement, false));
    return GetRefusal() == XTRmsServerRefusal::None;
}

bool XTRmsServerStore::VerifyAudit(const std::wstring& strToken, long long nSinceSequence,
    const std::wstring& strSinceHash, bool* pbIntact, std::wstring* pstrProblem)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT CASE WHEN intact THEN 1 ELSE 0 END, problem FROM xtrms.verify_audit(CAST(? AS text), "
        L"CAST(? AS bigint), CAST(? AS text))");
    BindToken(statement, strToken);
    if (nSinceSequence > 0)
        statement.Bind(nSinceSequence).Bind(strSinceHash);
    else
        statement.BindNull().BindNull();
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pbIntact = statement.GetInt(1) != 0;
    *pstrProblem = statement.GetText(2);
    return true;
}

bool XTRmsServerStore::Checkpoint(long long* pnSequence, std::wstring* pstrHash)
{
    XTRmsOdbc::Statement statement(m_connection, L"SELECT seq, hash FROM xtrms.audit_checkpoint()");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnSequence = statement.GetInt(1);
    *pstrHash = statement.GetText(2);
    return true;
}

XTRmsServerRefusal XTRmsServerStore::GetRefusal() const
{
    const std::wstring& strState = m_connection.GetLastError().strState;
    if (strState.empty() || strState == L"00000" || strState == L"01000")
        return XTRmsServerRefusal::None;
    if (strState == L"XT001" || strState == L"42501")
        return XTRmsServerRefusal::NotPermitted;
    if (strState == L"XT002")
        return XTRmsServerRefusal::Rule;
    if (strState == L"XT003")
        return XTRmsServerRefusal::NotFound;
    if (strState == L"XT004" || strState.compare(0, 2, L"22") == 0)
        return XTRmsServerRefusal::InvalidInput;
    if (strState == L"55P03" || strState == L"57014" || strState == L"HYT00" || strState == L"HYT01")
        return XTRmsServerRefusal::Timeout;
    return XTRmsServerRefusal::Unavailable;
}

std::wstring XTRmsServerStore::GetRefusalText() const
{
    std::wstring strMessage = m_connection.GetLastError().strMessage;
    // psqlODBC puts "ERROR: " and the server's text behind its own prefixes.
    size_t nError = strMessage.rfind(L"ERROR:");
    if (nError != std::wstring::npos)
        strMessage = strMessage.substr(nError + 6);
    while (!strMessage.empty() && strMessage.front() == L' ')
        strMessage.erase(0, 1);
    size_t nLineEnd = strMessage.find_first_of(L"\r\n;");
    if (nLineEnd != std::wstring::npos && GetRefusal() != XTRmsServerRefusal::Unavailable)
        strMessage.resize(nLineEnd);
    return strMessage;
}

bool XTRmsServerStore::ReadPasswordPolicy(XTRmsPolicy* pPolicy, std::set<int>* psetSignedRights)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT max_age_days, min_age_days, history, CASE WHEN must_change_after_reset THEN 1 ELSE 0 END, "
        L"signed_rights FROM xtrms.password_policy()");
    if (!statement.Execute() || !statement.Fetch())
        return false;
    pPolicy->nMaxPasswordAgeDays = static_cast<unsigned int>(statement.GetInt(1));
    pPolicy->nMinPasswordAgeDays = static_cast<unsigned int>(statement.GetInt(2));
    pPolicy->nPasswordHistory = static_cast<unsigned int>(statement.GetInt(3));
    pPolicy->bMustChangeAfterReset = statement.GetInt(4) != 0;
    *psetSignedRights = ParseRights(statement.GetText(5));
    return true;
}

bool XTRmsServerStore::PasswordSalts(
    const std::wstring& strUserName, std::vector<std::pair<std::wstring, unsigned int>>* pvecSalts)
{
    pvecSalts->clear();
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT salt_hex, iterations FROM xtrms.password_salts(CAST(? AS text))");
    statement.Bind(strUserName);
    if (!statement.Execute())
        return false;
    while (statement.Fetch())
        pvecSalts->emplace_back(statement.GetText(1), static_cast<unsigned int>(statement.GetInt(2)));
    return GetRefusal() == XTRmsServerRefusal::None;
}

bool XTRmsServerStore::ChangePassword(const std::wstring& strToken, const std::wstring& strUserName,
    const std::wstring& strOldKeyHex, const std::wstring& strSaltHex, unsigned int nIterations,
    const std::wstring& strKeyHex, const std::wstring& strHistoryKeys, bool bForced, XTRmsServerLogin* pAnswer)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT result, token, user_name, role_id, CASE WHEN super_user THEN 1 ELSE 0 END, rights "
        L"FROM xtrms.change_password(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text), "
        L"CAST(? AS integer), CAST(? AS text), CAST(? AS text), CAST(? AS integer) <> 0, CAST(? AS text), "
        L"CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName).Bind(strOldKeyHex).Bind(strSaltHex);
    statement.Bind(static_cast<long long>(nIterations)).Bind(strKeyHex).Bind(strHistoryKeys).Bind(bForced ? 1LL : 0LL);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    pAnswer->nResult = static_cast<int>(statement.GetInt(1));
    pAnswer->strToken = statement.GetText(2);
    pAnswer->strUserName = statement.GetText(3);
    pAnswer->nRole = static_cast<int>(statement.GetInt(4));
    pAnswer->bSuperUser = statement.GetInt(5) != 0;
    pAnswer->setRights = ParseRights(statement.GetText(6));
    return true;
}

bool XTRmsServerStore::LockSession(const std::wstring& strToken)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.lock_session(CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::UnlockSession(const std::wstring& strToken, const std::wstring& strKeyHex, int* pnResult)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT xtrms.unlock_session(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strKeyHex);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnResult = static_cast<int>(statement.GetInt(1));
    return true;
}

bool XTRmsServerStore::SwitchUser(const std::wstring& strLockedToken, const std::wstring& strToken)
{
    XTRmsOdbc::Statement statement(
        m_connection, L"SELECT xtrms.switch_user(CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strLockedToken);
    BindToken(statement, strToken);
    BindClaims(statement);
    return statement.Execute();
}

bool XTRmsServerStore::Sign(const std::wstring& strToken, const std::wstring& strUserName,
    const std::wstring& strKeyHex, const std::wstring& strMeaning, const std::wstring& strReason,
    const std::wstring& strFirstSigner, XTRmsSignature* pSignature, int* pnResult)
{
    XTRmsOdbc::Statement statement(m_connection,
        L"SELECT result, user_name, full_name, at_utc, seq FROM xtrms.sign(CAST(? AS text), CAST(? AS text), "
        L"CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text), CAST(? AS text))");
    BindToken(statement, strToken).Bind(strUserName).Bind(strKeyHex).Bind(strMeaning).Bind(strReason);
    statement.Bind(strFirstSigner);
    BindClaims(statement);
    if (!statement.Execute() || !statement.Fetch())
        return false;
    *pnResult = static_cast<int>(statement.GetInt(1));
    pSignature->strUserName = statement.GetText(2);
    pSignature->strFullName = statement.GetText(3);
    pSignature->strTimeUtc = statement.GetText(4);
    pSignature->nAuditSequence = statement.GetInt(5);
    return true;
}
