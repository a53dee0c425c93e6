// The demo host's login as the headless run walks it: a wrong password for
// the administrator; the operator bob mistyping until his account locks, and
// the lock holding against his right password; then the administrator with
// the right one. Each refusal is checked against the text the user must
// read; the start-up script's observer shoots every dialog and message box.
#pragma once

class XTRmDemoApp;
class XTRmsService;
class XTRmUiRobot;

namespace XTRmDemoLogin
{
// Adds the login's steps to a start-up script, at the point where the login
// dialog opens.
void ExpectLogin(XTRmUiRobot& robot, XTRmDemoApp& app);
// Unlocks the account the script locks (XTRmDemoStore::LiftLock).
bool LiftLock(XTRmsService& service);
} // namespace XTRmDemoLogin
