// What the three login dialogs do alike with their controls.
#pragma once

#include <afxwin.h>

#include <string>

namespace XTRmLoginDlgControls
{
// Puts the name and the password into their edits and lets the user edit them.
void ShowCredentials(
    CWnd& dlg, int nUserNameID, int nPasswordID, const std::wstring& strUserName, const std::wstring& strPassword);

// Guest login: stores the controls, empties and disables both edits (the guest
// types nothing) and lets the user confirm.
void ChooseGuestLogin(CWnd& dlg);

// Shows or hides the two login-mode radio buttons and their frame.
void ShowLoginModeChoice(CWnd& dlg, int nCmdShow);

// OK only with both a user name and a password.
void EnableOkForCredentials(CWnd& dlg, const std::wstring& strUserName, const std::wstring& strPassword);

void EnableOk(CWnd& dlg, bool bEnable);
} // namespace XTRmLoginDlgControls
