// Text in and out of xtrms.exe. A console gets UTF-16 through
// WriteConsoleW, anything else (a pipe, a file) UTF-8, so that non-ASCII user
// names survive both. Secrets are read without echo at a console, or as one
// line from a redirected standard input, and never kept longer than needed.
#pragma once

#include <windows.h>

#include <string>

class XTRmsToolConsole
{
public:
    XTRmsToolConsole();
    XTRmsToolConsole(const XTRmsToolConsole&) = delete;
    XTRmsToolConsole& operator=(const XTRmsToolConsole&) = delete;

    // Standard output and standard error; "\n" becomes "\r\n".
    void Out(const std::wstring& strText);
    void Err(const std::wstring& strText);

    bool IsInputConsole() const { return m_bInputConsole; }

    // At a console: shows pszPrompt and reads a line without echo. Otherwise
    // reads one line of UTF-8 from standard input. The line break is not
    // part of the secret; the caller wipes it with XTSecret::Wipe.
    bool ReadSecret(const wchar_t* pszPrompt, std::wstring* pstrSecret, std::wstring* pstrError);

    // The longest secret accepted, in characters (console) or bytes (line).
    static const size_t kMaxSecret = 1024;

private:
    void Write(HANDLE hOutput, bool bConsole, const std::wstring& strText);
    bool ReadConsoleSecret(const wchar_t* pszPrompt, std::wstring* pstrSecret, std::wstring* pstrError);
    bool ReadLineSecret(std::wstring* pstrSecret, std::wstring* pstrError);
    static BOOL WINAPI RestoreEchoOnBreak(DWORD nCtrlType);

    HANDLE m_hInput = INVALID_HANDLE_VALUE;
    HANDLE m_hOutput = INVALID_HANDLE_VALUE;
    HANDLE m_hError = INVALID_HANDLE_VALUE;
    bool m_bInputConsole = false;
    bool m_bOutputConsole = false;
    bool m_bErrorConsole = false;

    // The console's mode while echo is off, so that Ctrl+C at the prompt
    // does not leave the administrator's console blind.
    static HANDLE ms_hEchoInput;
    static DWORD ms_nEchoMode;
};
