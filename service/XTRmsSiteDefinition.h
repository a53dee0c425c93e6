// A site's rights and roles: read from the file an administrator writes
// (xtrms define), checked by the same rules whether they come from that file
// or from a host's configuration, and compared with what a store holds.
#pragma once

#include "XTRmsTypes.h"

#include <string>
#include <vector>

struct XTRmsSiteDefinition
{
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    // Rights whose use needs an electronic signature ([signatures] rights).
    std::vector<int> vecSignedRights;
    // Whether the definition says which rights need one: a file always does
    // (none without the section); a caller that does not leaves them as
    // the store has them.
    bool bSaysSignedRights = true;

    // The highest id a right or a role may have: nine digits, which every
    // engine and the CSV read alike. Rights start at 0, roles at 1 (0 is no
    // role).
    static const int kMaxId = 999999999;

    // One change a redefinition makes, in the order it is applied and
    // audited: rights by id, then roles by id.
    struct Change
    {
        enum Kind
        {
            RightAdded,
            RightRenamed,
            RightRemoved,
            RoleAdded,
            RoleChanged,
            RoleRemoved
        };
        Kind nKind = RightAdded;
        int nId = 0;
        // The audit row's event, subject ("right 3", "role 2") and detail.
        std::wstring strEvent;
        std::wstring strSubject;
        std::wstring strDetail;
    };

    // Reads the INI text of a definition file (README: "Site definition
    // file"). False with a sentence beginning "line N: " for the first line
    // at fault, or without a line for what the file lacks as a whole.
    static bool Parse(const std::wstring& strText, XTRmsSiteDefinition* pDefinition, std::wstring* pstrError);

    // The rules every definition meets, wherever it comes from: ids in
    // range and each once, labels by XTRmsInputRules (brought into NFC
    // here), role names distinct whatever their case (they are typed as
    // --role), and a role lists only rights that are defined.
    bool Check(std::wstring* pstrError);

    // What turns the definition held now into this one.
    std::vector<Change> ChangesFrom(const XTRmsSiteDefinition& current) const;

    // How a host's own definition differs from the store's, in short
    // phrases for the settings text ("right 5 is not in the store"); empty
    // when they agree.
    static std::vector<std::wstring> Differences(const XTRmsSiteDefinition& host, const XTRmsSiteDefinition& store);

    // A role as the audit trail records it: "NAME; rights 1;2; super user".
    static std::wstring DescribeRole(const XTRmsRoleDefinition& role);
};
