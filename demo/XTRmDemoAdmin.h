// The demo host's administration commands: the user management and settings
// dialogs, a failed save reported to the user, and the headless tour through
// them and the change-password dialog.
#pragma once

#include <afxwin.h>

namespace XTRmDemoAdmin
{
// Users and rights, editable when the logged-in user may manage users.
void ShowUserManagement(CWnd* pParent);
void ShowSettings(CWnd* pParent);
// Headless, as the administrator: gives a directory account a profile with
// a role, takes away one of its rights, saves, sets the account's password,
// and screenshots each dialog; then checks what the store holds. False when
// anything went wrong.
bool RunHeadlessTour(CWnd* pParent);
} // namespace XTRmDemoAdmin
