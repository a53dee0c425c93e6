// The text GetSettingsString shows in the host's about and settings pages:
// which store, its state, who is logged in, the policy in words and the
// latest audit rows. Composed from facts the service gathers; it reads
// nothing itself.
#pragma once

#include "XTRmsTypes.h"

#include <string>
#include <vector>

class XTRmsSettingsText
{
public:
    // What the service knows at the moment of asking.
    struct Facts
    {
        std::wstring strStoreLocation;
        bool bStoreOpen = false;
        int nSchemaVersion = 0;
        int nLatestSchemaVersion = 0;
        std::wstring strStoreProblem;
        bool bServer = false;
        XTRmsServerSetting serverSetting;
        std::wstring strWorkstation;
        bool bLoggedIn = false;
        bool bGuest = false;
        std::wstring strUser;
        bool bMayAdminister = false;
        size_t nUsers = 0;
        size_t nPendingChanges = 0;
        XTRmsPolicy policy;
        // The store's rights and roles, and how the host's own differ.
        size_t nRights = 0;
        size_t nRoles = 0;
        bool bHostDefines = false;
        std::vector<std::wstring> vecDefinitionDifferences;
        // The latest rows, oldest first; empty for whoever may not read them.
        std::vector<XTRmsAuditEntry> vecAudit;
        bool bMayReadAudit = false;
    };

    // Lines of "label : value", CRLF-ended, then the audit rows.
    static std::wstring Compose(const Facts& facts);
};
