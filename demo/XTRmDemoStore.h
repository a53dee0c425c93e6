// The demo host's rights service set-up: its configuration of XTRms, where
// its store is (the SQLite file beside the build, or the throwaway PostgreSQL
// cluster that `make demo DEMO_ARGS=--server` starts), and the demo accounts
// a store without users gets.
#pragma once

#include "XTRmsService.h"

#include <string>

namespace XTRmDemoStore
{
// The demo's rights, roles, policy and directory accounts; the store's
// location is the caller's to fill in.
XTRmsServiceConfig MakeConfig();

// Reads what tools/pg-cluster.sh keeps in its folder (the port, and the
// workstation account's password in a file of its own) into the server part
// of pConfig: what every workstation of the plant connects with. False, with
// a message for the user, when the cluster is not running.
bool ReadServer(const std::wstring& strFolder, XTRmsServiceConfig* pConfig, std::wstring* pstrError);
// The same with the database administrator's account and password
// (admin-password): for setting up the store only, never for a host's own
// service.
bool ReadServerAdministrator(const std::wstring& strFolder, XTRmsServiceConfig* pConfig, std::wstring* pstrError);

// Opens the engine's store as its administrator, creating a missing SQLite
// file or the server's schema, and gives it the demo accounts when it has no
// users yet; a store with users is used as it is. The service must be one of
// the administrator's own (a SQLite file's, or a rights server's with the
// database administrator's account), not the host's. A store that cannot be
// read is left untouched: false, with why. *pbProvisioned tells whether the
// accounts were added now.
bool Provision(XTRmsService& service, XTRmsEngine nEngine, bool* pbProvisioned, std::wstring* pstrError);

// Unlocks an account that is locked or has failed logins counted, as
// whoever the service acts for: the store's administrator, or a super user
// logged in on it. False when the account cannot be seen (the service acts
// for nobody who may see it) or the unlock is refused.
bool LiftLock(XTRmsService& service, const std::wstring& strUserName);

// A loopback port that nobody listens on: nPreferred when it is free, else
// the kernel's pick of a free one; released again at once.
int ClosedLoopbackPort(int nPreferred = 0);
} // namespace XTRmDemoStore
