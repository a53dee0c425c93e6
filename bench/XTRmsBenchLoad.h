// The load run of the rights service: many workstations logging in to one
// PostgreSQL server at once.
#pragma once

// Provisions users on the cluster whose pg-cluster.sh folder is
// pszClusterDir (a Unix path), lets 50 workstations (each a service on its
// own thread and connection) log in and read their rights for 60 s, and
// prints logins per second, login latency and errors. Returns 0 when there
// was no error and the audit chain is intact.
int XTRmsRunLoad(const char* pszClusterDir);
