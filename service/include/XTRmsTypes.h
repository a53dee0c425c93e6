// XTRms: the plain types of the reference rights service, which its store and
// tool share with hosts: roles, the policy, the host's configuration, users and
// audit rows as the administration sees them. XTRmsService.h includes it.
#pragma once

#include "XTRmsRestrictionManagerServiceBase.h"

#include <functional>
#include <string>
#include <vector>

// A role: its rights are what a user created with it starts with.
struct XTRmsRoleDefinition
{
    Rms::RmsUserRole nId = Rms::RmsRoleNone;
    std::wstring strName;
    // Members may not be removed by the user management dialog and may set
    // other users' passwords.
    bool bSuperUser = false;
    std::vector<int> vecRights;
};

struct XTRmsPolicy
{
    // Consecutive failed logins that lock an account; 0 never locks.
    unsigned int nLockoutThreshold = 5;
    // How long a lock lasts; 0 until an administrator unlocks.
    unsigned int nLockoutSeconds = 15 * 60;
    // Guests log in with an empty name and password, and get vecGuestRights.
    bool bGuestLoginAllowed = false;
    std::vector<int> vecGuestRights;
    // By default an unknown user is refused exactly like a wrong password, so
    // that user names cannot be probed; true reports it as unknown.
    bool bReportUnknownUser = false;
    unsigned int nMinPasswordLength = 8;
    // PBKDF2-HMAC-SHA256 iterations for new hashes; each hash keeps its own.
    unsigned int nPbkdf2Iterations = 600000;
    // Password lifecycle. A password older than the maximum age (days; 0
    // never) must be changed at the next login; one younger than the minimum
    // age cannot be changed by its owner (a change forced at login can).
    unsigned int nMaxPasswordAgeDays = 0;
    unsigned int nMinPasswordAgeDays = 0;
    // A new password may not repeat the current one nor the last N; each
    // kept hash costs one key derivation per change, so keep N small.
    unsigned int nPasswordHistory = 0;
    // A password an administrator sets (and a new account's) must be
    // changed by its user at the next login.
    bool bMustChangeAfterReset = true;
};

struct XTRmsServiceConfig
{
    // The restriction source: a SQLite database file.
    std::wstring strDatabaseFile;
    // Create the file and its schema when it does not exist. A host that
    // provisions its store beforehand (xtrms create) leaves this false, so
    // that a lost file is reported instead of silently starting empty.
    bool bCreateDatabase = false;

    // The rights server: a PostgreSQL database. Host and port are what the
    // connection settings dialog edits; the credentials are the host's own
    // (never the logged-in user's).
    XTRmsServerSetting serverSetting;
    std::wstring strServerDatabase = L"xtrms";
    std::wstring strServerUser;
    std::wstring strServerPassword;

    // ODBC driver names as the driver manager knows them.
    std::wstring strSqliteDriver = L"SQLite3";
    std::wstring strPostgresDriver = L"PostgreSQL Unicode";
    // Bound of every connection attempt and statement, in seconds.
    unsigned int nTimeoutSeconds = 5;

    // Recorded in the audit trail; empty means this computer's name.
    std::wstring strWorkstation;

    // On SQLite the service applies this policy. A rights server keeps its
    // own, written from here when the store gets its first definitions and
    // changed only by an administrator (SetPolicy): a workstation's
    // configuration cannot loosen the lockout of the whole site.
    XTRmsPolicy policy;
    // Accounts of the host's directory that may be given a profile, beside
    // this computer's local accounts; when there are any, the add-user dialog
    // offers them through its "all users" button.
    std::vector<XTRmsUserInfo> vecDirectoryUsers;
    // The host's rights and roles. Written into the store when it is
    // initialized, so that the console tool and other workstations see them.
    std::vector<XTRmsRestrictionDefinition> vecRights;
    std::vector<XTRmsRoleDefinition> vecRoles;
    Rms::RmsUserRole nInitialRole = Rms::RmsRoleNone;
    // Rights whose use needs an electronic signature; written with the
    // host's definition into a store that has none.
    std::vector<int> vecSignedRights;

    // Seams for tests and benchmarks; empty means the system's. The clock
    // gives Unix seconds (lockout periods); the key derivation is
    // PBKDF2-HMAC-SHA256 giving 32 bytes, or empty on failure.
    std::function<long long()> fnClock;
    std::function<std::vector<unsigned char>(
        const std::wstring& strPassword, const std::vector<unsigned char>& vecSalt, unsigned int nIterations)>
        fnDeriveKey;
};

// Which database a service or tool works on.
enum class XTRmsEngine
{
    Sqlite,
    Postgres
};

// One user as the administration sees it.
struct XTRmsUserRecord
{
    std::wstring strUserName;
    std::wstring strFullName;
    Rms::RmsUserRole nRole = Rms::RmsRoleNone;
    bool bHasPassword = false;
    bool bDisabled = false;
    bool bLocked = false;
    unsigned int nFailedLogins = 0;
    std::vector<int> vecRights;
};

// One row of the audit trail.
struct XTRmsAuditEntry
{
    long long nSequence = 0;
    std::wstring strTimeUtc; // ISO 8601, e.g. 2026-12-05T23:50:00Z
    std::wstring strWorkstation;
    std::wstring strOsUser;
    std::wstring strActor;   // the logged-in or administrating user; empty for none
    std::wstring strEvent;   // login, login-refused, guest-login, user-created, ...
    std::wstring strSubject; // the user the event is about
    std::wstring strDetail;  // e.g. the refusal code or the right id
    std::wstring strHash;    // SHA-256 over the previous row's hash and this row
};
