// The demo host's administration commands: the user management and settings
// dialogs, the profile store's messages, and the headless tour through both.
#pragma once

#include <afxwin.h>

namespace XTRmDemoAdmin
{
// Users and rights, editable when the logged-in user may manage users.
void ShowUserManagement(CWnd* pParent);
void ShowSettings(CWnd* pParent);
// Tells the user what the profile store reported (a damaged file, a failed
// save), once; nothing when it reported nothing.
void ReportStoreMessage(CWnd* pParent);
// Headless: adds a user with a role, takes away one of the new user's
// rights, saves, and screenshots each administration dialog; then checks
// that the saved profiles hold the change. False when anything went wrong.
bool RunHeadlessTour(CWnd* pParent);
} // namespace XTRmDemoAdmin
