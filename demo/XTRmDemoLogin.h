// The demo host's login as the headless run walks it: a wrong password once,
// the refusal, then the right password; a screenshot of the login dialog
// filled in each time (the start-up script's observer shoots every dialog and
// message box as it opens).
#pragma once

class XTRmDemoApp;
class XTRmUiRobot;

namespace XTRmDemoLogin
{
// Adds the login's steps to a start-up script, at the point where the login
// dialog opens.
void ExpectLogin(XTRmUiRobot& robot, XTRmDemoApp& app);
} // namespace XTRmDemoLogin
