#include "XTRmsSiteDefinition.h"

#include "XTRmsInputRules.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>

namespace
{
// Where each part of a definition was read, so that a problem found after
// parsing still names its line.
struct Lines
{
    std::vector<size_t> vecRight;      // the right's line
    std::vector<size_t> vecRole;       // the role's section header
    std::vector<size_t> vecRoleName;   // its name line (or the header)
    std::vector<size_t> vecRoleRights; // its rights line (or the header)
};

const size_t kMaxAuditDetail = 512;

bool Refuse(std::wstring* pstrError, const std::wstring& strMessage)
{
    if (pstrError != nullptr)
        *pstrError = strMessage;
    return false;
}

// "line 4: " in a file; nothing for a definition given in code, where the
// sentence then begins with a capital.
std::wstring Sentence(size_t nLine, const std::wstring& strText)
{
    if (nLine != 0)
        return L"line " + std::to_wstring(nLine) + L": " + strText;
    std::wstring strSentence = strText;
    if (!strSentence.empty() && strSentence[0] >= L'a' && strSentence[0] <= L'z')
        strSentence[0] = static_cast<wchar_t>(strSentence[0] - L'a' + L'A');
    return strSentence;
}

size_t LineOf(const std::vector<size_t>* pvecLines, size_t nIndex)
{
    return pvecLines != nullptr && nIndex < pvecLines->size() ? (*pvecLines)[nIndex] : 0;
}

std::wstring Trim(const std::wstring& strText)
{
    size_t nFirst = strText.find_first_not_of(L" \t");
    if (nFirst == std::wstring::npos)
        return std::wstring();
    size_t nLast = strText.find_last_not_of(L" \t");
    return strText.substr(nFirst, nLast - nFirst + 1);
}

bool EqualsNoCase(const std::wstring& strA, const std::wstring& strB)
{
    return CompareStringOrdinal(strA.c_str(), static_cast<int>(strA.size()), strB.c_str(),
               static_cast<int>(strB.size()), TRUE) == CSTR_EQUAL;
}

// A decimal id as written in the file: ASCII digits only, nine at most.
bool ParseId(const std::wstring& strText, int* pnId)
{
    if (strText.empty() || strText.size() > 9 || strText.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    *pnId = std::stoi(strText);
    return true;
}

std::wstring JoinIds(const std::vector<int>& vecIds, const wchar_t* pszSeparator)
{
    std::wstring strText;
    for (int nId : vecIds)
        strText += (strText.empty() ? L"" : pszSeparator) + std::to_wstring(nId);
    return strText;
}

std::wstring Cut(std::wstring strText)
{
    if (strText.size() > kMaxAuditDetail)
        strText.resize(kMaxAuditDetail);
    return strText;
}

std::vector<int> SortedRights(const XTRmsRoleDefinition& role)
{
    std::set<int> setRights(role.vecRights.begin(), role.vecRights.end());
    return std::vector<int>(setRights.begin(), setRights.end());
}

bool CheckAt(XTRmsSiteDefinition& definition, const Lines* pLines, std::wstring* pstrError)
{
    std::map<int, size_t> mapRights;
    for (size_t i = 0; i < definition.vecRights.size(); ++i)
    {
        XTRmsRestrictionDefinition& right = definition.vecRights[i];
        const size_t nLine = LineOf(pLines ? &pLines->vecRight : nullptr, i);
        const std::wstring strRight = L"right " + std::to_wstring(right.GetId());
        if (right.GetId() < 0 || right.GetId() > XTRmsSiteDefinition::kMaxId)
            return Refuse(pstrError, Sentence(nLine, L"a right's id must be from 0 to 999999999."));
        if (!mapRights.emplace(right.GetId(), i).second)
            return Refuse(pstrError, Sentence(nLine, strRight + L" is defined twice."));
        std::wstring strLabel;
        std::wstring strProblem;
        const std::wstring strSubject = L"the label of " + strRight;
        if (!XTRmsInputRules::CheckLabel(right.GetName(), strSubject.c_str(), &strLabel, &strProblem))
            return Refuse(pstrError, Sentence(nLine, strProblem));
        right = XTRmsRestrictionDefinition(right.GetId(), strLabel);
    }
    std::set<int> setRoles;
    for (size_t i = 0; i < definition.vecRoles.size(); ++i)
    {
        XTRmsRoleDefinition& role = definition.vecRoles[i];
        const std::wstring strRole = L"role " + std::to_wstring(role.nId);
        if (role.nId < 1 || role.nId > XTRmsSiteDefinition::kMaxId)
            return Refuse(pstrError,
                Sentence(LineOf(pLines ? &pLines->vecRole : nullptr, i), L"a role's id must be from 1 to 999999999."));
        if (!setRoles.insert(role.nId).second)
            return Refuse(
                pstrError, Sentence(LineOf(pLines ? &pLines->vecRole : nullptr, i), strRole + L" is defined twice."));
        const size_t nNameLine = LineOf(pLines ? &pLines->vecRoleName : nullptr, i);
        std::wstring strName;
        std::wstring strProblem;
        const std::wstring strSubject = L"the name of " + strRole;
        if (!XTRmsInputRules::CheckLabel(role.strName, strSubject.c_str(), &strName, &strProblem))
            return Refuse(pstrError, Sentence(nNameLine, strProblem));
        role.strName = strName;
        for (size_t j = 0; j < i; ++j)
        {
            if (EqualsNoCase(definition.vecRoles[j].strName, role.strName))
                return Refuse(pstrError,
                    Sentence(nNameLine,
                        strRole + L" has the name of role " + std::to_wstring(definition.vecRoles[j].nId) +
                            L" (names are told apart without regard to case)."));
        }
        for (int nRight : role.vecRights)
        {
            if (mapRights.count(nRight) == 0)
                return Refuse(pstrError,
                    Sentence(LineOf(pLines ? &pLines->vecRoleRights : nullptr, i),
                        strRole + L" lists right " + std::to_wstring(nRight) + L", which is not defined."));
        }
    }
    return true;
}

// One "key = value" of a [role N] section.
bool ReadRoleEntry(const std::wstring& strKey, const std::wstring& strValue, size_t nLine, XTRmsRoleDefinition* pRole,
    unsigned int* pnSeen, Lines* pLines, std::wstring* pstrError)
{
    const std::wstring strRole = L"role " + std::to_wstring(pRole->nId);
    unsigned int nBit = EqualsNoCase(strKey, L"name") ? 1u
        : EqualsNoCase(strKey, L"rights")             ? 2u
        : EqualsNoCase(strKey, L"super-user")         ? 4u
                                                      : 0u;
    if (nBit == 0)
        return Refuse(
            pstrError, Sentence(nLine, L"'" + strKey + L"' is not a setting of a role (name, rights or super-user)."));
    if ((*pnSeen & nBit) != 0)
        return Refuse(pstrError, Sentence(nLine, strKey + L" of " + strRole + L" is given twice."));
    *pnSeen |= nBit;
    if (nBit == 1)
    {
        pRole->strName = strValue;
        pLines->vecRoleName.back() = nLine;
    }
    else if (nBit == 2)
    {
        pLines->vecRoleRights.back() = nLine;
        std::set<int> setSeen;
        size_t nStart = 0;
        while (!strValue.empty())
        {
            size_t nComma = strValue.find(L',', nStart);
            std::wstring strItem = Trim(
                strValue.substr(nStart, nComma == std::wstring::npos ? std::wstring::npos : nComma - nStart));
            int nRight = 0;
            if (!ParseId(strItem, &nRight))
                return Refuse(pstrError,
                    Sentence(nLine, L"the rights of " + strRole + L" must be right ids separated by commas."));
            if (!setSeen.insert(nRight).second)
                return Refuse(
                    pstrError, Sentence(nLine, strRole + L" lists right " + std::to_wstring(nRight) + L" twice."));
            pRole->vecRights.push_back(nRight);
            if (nComma == std::wstring::npos)
                break;
            nStart = nComma + 1;
        }
    }
    else
    {
        if (!EqualsNoCase(strValue, L"yes") && !EqualsNoCase(strValue, L"no"))
            return Refuse(pstrError, Sentence(nLine, L"super-user of " + strRole + L" must be yes or no."));
        pRole->bSuperUser = EqualsNoCase(strValue, L"yes");
    }
    return true;
}
} // namespace

bool XTRmsSiteDefinition::Parse(const std::wstring& strText, XTRmsSiteDefinition* pDefinition, std::wstring* pstrError)
{
    XTRmsSiteDefinition definition;
    Lines lines;
    enum class Section
    {
        None,
        Rights,
        Role,
        Signatures
    } nSection = Section::None;
    size_t nRightsSection = 0;
    size_t nSignaturesSection = 0;
    size_t nSignaturesLine = 0;
    std::map<int, size_t> mapRoleSections;
    unsigned int nRoleSeen = 0;
    size_t nStart = strText.compare(0, 1, L"\uFEFF") == 0 ? 1 : 0;
    for (size_t nLine = 1; nStart <= strText.size(); ++nLine)
    {
        // CRLF, LF and CR each end a line.
        size_t nEnd = strText.find_first_of(L"\r\n", nStart);
        std::wstring strLine = Trim(
            strText.substr(nStart, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart));
        if (nEnd == std::wstring::npos)
            nStart = strText.size() + 1;
        else
            nStart = nEnd + (strText.compare(nEnd, 2, L"\r\n") == 0 ? 2 : 1);
        if (strLine.empty() || strLine[0] == L';' || strLine[0] == L'#')
            continue;
        if (strLine[0] == L'[')
        {
            if (strLine.back() != L']')
                return Refuse(pstrError, Sentence(nLine, L"a section header must end with ']'."));
            std::wstring strName = Trim(strLine.substr(1, strLine.size() - 2));
            int nRole = 0;
            if (EqualsNoCase(strName, L"rights"))
            {
                if (nRightsSection != 0)
                    return Refuse(pstrError,
                        Sentence(nLine,
                            L"the section [rights] is given twice (first on line " + std::to_wstring(nRightsSection) +
                                L")."));
                nRightsSection = nLine;
                nSection = Section::Rights;
            }
            else if (EqualsNoCase(strName, L"signatures"))
            {
                if (nSignaturesSection != 0)
                    return Refuse(pstrError,
                        Sentence(nLine,
                            L"the section [signatures] is given twice (first on line " +
                                std::to_wstring(nSignaturesSection) + L")."));
                nSignaturesSection = nLine;
                nSection = Section::Signatures;
            }
            else if (strName.size() > 4 && EqualsNoCase(strName.substr(0, 4), L"role") &&
                (strName[4] == L' ' || strName[4] == L'\t') && ParseId(Trim(strName.substr(5)), &nRole))
            {
                auto inserted = mapRoleSections.emplace(nRole, nLine);
                if (!inserted.second)
                    return Refuse(pstrError,
                        Sentence(nLine,
                            L"role " + std::to_wstring(nRole) + L" is defined twice (first on line " +
                                std::to_wstring(inserted.first->second) + L")."));
                XTRmsRoleDefinition role;
                role.nId = static_cast<Rms::RmsUserRole>(nRole);
                definition.vecRoles.push_back(role);
                lines.vecRole.push_back(nLine);
                lines.vecRoleName.push_back(nLine);
                lines.vecRoleRights.push_back(nLine);
                nRoleSeen = 0;
                nSection = Section::Role;
            }
            else
                return Refuse(pstrError,
                    Sentence(nLine,
                        L"'[" + strName +
                            L"]' is not a section of a definition ([rights], [role N] or [signatures])."));
            continue;
        }
        size_t nEquals = strLine.find(L'=');
        if (nEquals == std::wstring::npos)
            return Refuse(pstrError, Sentence(nLine, L"a line must be a section header, KEY = VALUE or a comment."));
        std::wstring strKey = Trim(strLine.substr(0, nEquals));
        std::wstring strValue = Trim(strLine.substr(nEquals + 1));
        if (nSection == Section::None)
            return Refuse(pstrError, Sentence(nLine, L"KEY = VALUE before the first section."));
        if (nSection == Section::Rights)
        {
            int nRight = 0;
            if (!ParseId(strKey, &nRight))
                return Refuse(pstrError, Sentence(nLine, L"a right's id must be a number from 0 to 999999999."));
            definition.vecRights.emplace_back(nRight, strValue);
            lines.vecRight.push_back(nLine);
            continue;
        }
        if (nSection == Section::Signatures)
        {
            if (!EqualsNoCase(strKey, L"rights"))
                return Refuse(
                    pstrError, Sentence(nLine, L"'" + strKey + L"' is not a setting of [signatures] (rights)."));
            if (nSignaturesLine != 0)
                return Refuse(pstrError, Sentence(nLine, L"rights of [signatures] is given twice."));
            nSignaturesLine = nLine;
            XTRmsRoleDefinition list;
            unsigned int nSeen = 1;
            Lines ignored;
            ignored.vecRoleRights.push_back(0);
            // The same list of ids a role's rights are.
            if (!ReadRoleEntry(L"rights", strValue, nLine, &list, &nSeen, &ignored, pstrError))
            {
                size_t nAt = pstrError != nullptr ? pstrError->find(L"role 0") : std::wstring::npos;
                if (nAt != std::wstring::npos)
                    pstrError->replace(nAt, 6, L"[signatures]");
                return false;
            }
            definition.vecSignedRights = list.vecRights;
            continue;
        }
        if (!ReadRoleEntry(strKey, strValue, nLine, &definition.vecRoles.back(), &nRoleSeen, &lines, pstrError))
            return false;
    }
    for (size_t i = 0; i < definition.vecRoles.size(); ++i)
    {
        if (definition.vecRoles[i].strName.empty())
            return Refuse(pstrError,
                Sentence(lines.vecRole[i],
                    L"role " + std::to_wstring(definition.vecRoles[i].nId) + L" has no name = ... line."));
    }
    if (definition.vecRights.empty())
        return Refuse(pstrError, L"The definition has no rights: a [rights] section with ID = LABEL lines.");
    if (definition.vecRoles.empty())
        return Refuse(pstrError, L"The definition has no roles: a [role N] section for each.");
    if (!CheckAt(definition, &lines, pstrError))
        return false;
    for (int nRight : definition.vecSignedRights)
    {
        if (std::none_of(definition.vecRights.begin(), definition.vecRights.end(),
                [nRight](const XTRmsRestrictionDefinition& right) { return right.GetId() == nRight; }))
            return Refuse(pstrError,
                Sentence(nSignaturesLine,
                    L"[signatures] lists right " + std::to_wstring(nRight) + L", which [rights] does not define."));
    }
    *pDefinition = std::move(definition);
    return true;
}

bool XTRmsSiteDefinition::Check(std::wstring* pstrError)
{
    if (!CheckAt(*this, nullptr, pstrError))
        return false;
    std::set<int> setSeen;
    for (int nRight : vecSignedRights)
    {
        if (!setSeen.insert(nRight).second ||
            std::none_of(vecRights.begin(), vecRights.end(),
                [nRight](const XTRmsRestrictionDefinition& right) { return right.GetId() == nRight; }))
            return Refuse(pstrError,
                L"The right " + std::to_wstring(nRight) +
                    L" that needs a signature is not defined, or is listed twice.");
    }
    return true;
}

std::wstring XTRmsSiteDefinition::DescribeRole(const XTRmsRoleDefinition& role)
{
    std::vector<int> vecRights = SortedRights(role);
    return Cut(role.strName + L"; rights " + (vecRights.empty() ? std::wstring(L"none") : JoinIds(vecRights, L";")) +
        (role.bSuperUser ? L"; super user" : L""));
}

std::vector<XTRmsSiteDefinition::Change> XTRmsSiteDefinition::ChangesFrom(const XTRmsSiteDefinition& current) const
{
    std::vector<Change> vecChanges;
    auto add = [&](Change::Kind nKind, int nId, const wchar_t* pszEvent, const wchar_t* pszWhat,
                   const std::wstring& strDetail) {
        Change change;
        change.nKind = nKind;
        change.nId = nId;
        change.strEvent = pszEvent;
        change.strSubject = pszWhat + std::to_wstring(nId);
        change.strDetail = Cut(strDetail);
        vecChanges.push_back(change);
    };
    std::map<int, std::wstring> mapOld;
    std::map<int, std::wstring> mapNew;
    for (const XTRmsRestrictionDefinition& right : current.vecRights)
        mapOld[right.GetId()] = right.GetName();
    for (const XTRmsRestrictionDefinition& right : vecRights)
        mapNew[right.GetId()] = right.GetName();
    std::set<int> setIds;
    for (const auto& entry : mapOld)
        setIds.insert(entry.first);
    for (const auto& entry : mapNew)
        setIds.insert(entry.first);
    for (int nId : setIds)
    {
        auto itOld = mapOld.find(nId);
        auto itNew = mapNew.find(nId);
        if (itOld == mapOld.end())
            add(Change::RightAdded, nId, L"right-added", L"right ", itNew->second);
        else if (itNew == mapNew.end())
            add(Change::RightRemoved, nId, L"right-removed", L"right ", itOld->second);
        else if (itOld->second != itNew->second)
            add(Change::RightRenamed, nId, L"right-renamed", L"right ", itOld->second + L" -> " + itNew->second);
    }
    std::map<int, const XTRmsRoleDefinition*> mapOldRoles;
    std::map<int, const XTRmsRoleDefinition*> mapNewRoles;
    for (const XTRmsRoleDefinition& role : current.vecRoles)
        mapOldRoles[role.nId] = &role;
    for (const XTRmsRoleDefinition& role : vecRoles)
        mapNewRoles[role.nId] = &role;
    setIds.clear();
    for (const auto& entry : mapOldRoles)
        setIds.insert(entry.first);
    for (const auto& entry : mapNewRoles)
        setIds.insert(entry.first);
    for (int nId : setIds)
    {
        auto itOld = mapOldRoles.find(nId);
        auto itNew = mapNewRoles.find(nId);
        if (itOld == mapOldRoles.end())
            add(Change::RoleAdded, nId, L"role-added", L"role ", DescribeRole(*itNew->second));
        else if (itNew == mapNewRoles.end())
            add(Change::RoleRemoved, nId, L"role-removed", L"role ", itOld->second->strName);
        else if (DescribeRole(*itOld->second) != DescribeRole(*itNew->second))
            add(Change::RoleChanged, nId, L"role-changed", L"role ", DescribeRole(*itNew->second));
    }
    return vecChanges;
}

std::vector<std::wstring> XTRmsSiteDefinition::Differences(
    const XTRmsSiteDefinition& host, const XTRmsSiteDefinition& store)
{
    // The store's definition seen as a change of the host's: what the host
    // lacks is "added", what the store lacks "removed".
    std::vector<std::wstring> vecDifferences;
    for (const Change& change : store.ChangesFrom(host))
    {
        switch (change.nKind)
        {
        case Change::RightAdded:
        case Change::RoleAdded:
            vecDifferences.push_back(change.strSubject + L" is the store's only");
            break;
        case Change::RightRemoved:
        case Change::RoleRemoved:
            vecDifferences.push_back(change.strSubject + L" is not in the store");
            break;
        case Change::RightRenamed:
            for (const XTRmsRestrictionDefinition& right : store.vecRights)
            {
                if (right.GetId() == change.nId)
                    vecDifferences.push_back(change.strSubject + L" is \"" + right.GetName() + L"\" in the store");
            }
            break;
        default:
            vecDifferences.push_back(change.strSubject + L" is \"" + change.strDetail + L"\" in the store");
            break;
        }
    }
    return vecDifferences;
}
