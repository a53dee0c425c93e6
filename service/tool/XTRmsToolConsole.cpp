#include "XTRmsToolConsole.h"

#include "XTSecret.h"

#include <algorithm>
#include <vector>

HANDLE XTRmsToolConsole::ms_hEchoInput = nullptr;
DWORD XTRmsToolConsole::ms_nEchoMode = 0;

namespace
{
bool IsConsole(HANDLE hHandle)
{
    DWORD nMode = 0;
    return hHandle != nullptr && hHandle != INVALID_HANDLE_VALUE && GetConsoleMode(hHandle, &nMode) != FALSE;
}
} // namespace

XTRmsToolConsole::XTRmsToolConsole()
    : m_hInput(GetStdHandle(STD_INPUT_HANDLE)), m_hOutput(GetStdHandle(STD_OUTPUT_HANDLE)),
      m_hError(GetStdHandle(STD_ERROR_HANDLE))
{
    m_bInputConsole = IsConsole(m_hInput);
    m_bOutputConsole = IsConsole(m_hOutput);
    m_bErrorConsole = IsConsole(m_hError);
}

void XTRmsToolConsole::Out(const std::wstring& strText)
{
    Write(m_hOutput, m_bOutputConsole, strText);
}

void XTRmsToolConsole::Err(const std::wstring& strText)
{
    Write(m_hError, m_bErrorConsole, strText);
}

void XTRmsToolConsole::Write(HANDLE hOutput, bool bConsole, const std::wstring& strText)
{
    if (hOutput == nullptr || hOutput == INVALID_HANDLE_VALUE || strText.empty())
        return;
    std::wstring strLines;
    strLines.reserve(strText.size() + 16);
    for (wchar_t ch : strText)
    {
        if (ch == L'\n' && (strLines.empty() || strLines.back() != L'\r'))
            strLines += L'\r';
        strLines += ch;
    }
    if (bConsole)
    {
        // Older consoles refuse very large single writes.
        const size_t kWriteChunk = 8192;
        for (size_t nDone = 0; nDone < strLines.size();)
        {
            DWORD nWritten = 0;
            DWORD nCount = static_cast<DWORD>(std::min(kWriteChunk, strLines.size() - nDone));
            if (!WriteConsoleW(hOutput, strLines.data() + nDone, nCount, &nWritten, nullptr) || nWritten == 0)
                return;
            nDone += nWritten;
        }
        return;
    }
    int nBytes = WideCharToMultiByte(
        CP_UTF8, 0, strLines.data(), static_cast<int>(strLines.size()), nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0)
        return;
    std::vector<char> vecUtf8(static_cast<size_t>(nBytes));
    WideCharToMultiByte(
        CP_UTF8, 0, strLines.data(), static_cast<int>(strLines.size()), vecUtf8.data(), nBytes, nullptr, nullptr);
    for (size_t nDone = 0; nDone < vecUtf8.size();)
    {
        DWORD nWritten = 0;
        if (!WriteFile(
                hOutput, vecUtf8.data() + nDone, static_cast<DWORD>(vecUtf8.size() - nDone), &nWritten, nullptr) ||
            nWritten == 0)
            return;
        nDone += nWritten;
    }
}

bool XTRmsToolConsole::ReadSecret(const wchar_t* pszPrompt, std::wstring* pstrSecret, std::wstring* pstrError)
{
    XTSecret::Wipe(*pstrSecret);
    if (m_hInput == nullptr || m_hInput == INVALID_HANDLE_VALUE)
    {
        *pstrError = L"There is no standard input to read the password from.";
        return false;
    }
    return m_bInputConsole ? ReadConsoleSecret(pszPrompt, pstrSecret, pstrError)
                           : ReadLineSecret(pstrSecret, pstrError);
}

BOOL WINAPI XTRmsToolConsole::RestoreEchoOnBreak(DWORD)
{
    if (ms_hEchoInput != nullptr)
        SetConsoleMode(ms_hEchoInput, ms_nEchoMode);
    return FALSE; // the default handler still ends the process
}

bool XTRmsToolConsole::ReadConsoleSecret(const wchar_t* pszPrompt, std::wstring* pstrSecret, std::wstring* pstrError)
{
    // The prompt belongs on the screen even when standard error is redirected.
    HANDLE hPrompt = m_bErrorConsole ? m_hError
                                     : CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    bool bPromptConsole = hPrompt != INVALID_HANDLE_VALUE;
    Write(hPrompt, bPromptConsole, pszPrompt);

    DWORD nMode = 0;
    GetConsoleMode(m_hInput, &nMode);
    ms_hEchoInput = m_hInput;
    ms_nEchoMode = nMode;
    SetConsoleCtrlHandler(RestoreEchoOnBreak, TRUE);
    bool bOk = SetConsoleMode(m_hInput, (nMode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT) !=
        FALSE;

    wchar_t szLine[kMaxSecret + 3];
    DWORD nRead = 0;
    bool bTooLong = false;
    if (bOk)
        bOk = ReadConsoleW(m_hInput, szLine, kMaxSecret + 2, &nRead, nullptr) != FALSE;
    size_t nLength = nRead;
    while (nLength > 0 && (szLine[nLength - 1] == L'\n' || szLine[nLength - 1] == L'\r'))
        --nLength;
    bTooLong = nLength > kMaxSecret;
    if (bOk && nRead > 0 && szLine[nRead - 1] != L'\n')
    {
        // No line end: the rest of an overlong line waits; read it away,
        // still without echo.
        bTooLong = true;
        wchar_t szRest[64];
        DWORD nRest = 0;
        while (ReadConsoleW(m_hInput, szRest, 64, &nRest, nullptr) && nRest > 0 && szRest[nRest - 1] != L'\n')
            SecureZeroMemory(szRest, sizeof(szRest));
        SecureZeroMemory(szRest, sizeof(szRest));
    }

    SetConsoleMode(m_hInput, nMode);
    SetConsoleCtrlHandler(RestoreEchoOnBreak, FALSE);
    ms_hEchoInput = nullptr;
    // The Enter key was not echoed either.
    Write(hPrompt, bPromptConsole, L"\n");
    if (hPrompt != m_hError && hPrompt != INVALID_HANDLE_VALUE)
        CloseHandle(hPrompt);

    if (bOk && !bTooLong)
    {
        pstrSecret->reserve(nLength);
        pstrSecret->assign(szLine, nLength);
    }
    SecureZeroMemory(szLine, sizeof(szLine));
    if (!bOk)
        *pstrError = L"The password could not be read from the console.";
    else if (bTooLong)
        *pstrError = L"The password is longer than " + std::to_wstring(kMaxSecret) + L" characters.";
    return bOk && !bTooLong;
}

bool XTRmsToolConsole::ReadLineSecret(std::wstring* pstrSecret, std::wstring* pstrError)
{
    // Byte by byte, so that nothing after the line is taken from the pipe
    // and no copy of the secret is left in a growing buffer.
    char szLine[kMaxSecret + 1];
    size_t nLength = 0;
    bool bLineEnd = false;
    bool bTooLong = false;
    for (;;)
    {
        char ch = 0;
        DWORD nRead = 0;
        if (!ReadFile(m_hInput, &ch, 1, &nRead, nullptr) || nRead == 0)
            break; // end of input (a closed pipe reports an error)
        if (ch == '\n')
        {
            bLineEnd = true;
            break;
        }
        if (nLength == kMaxSecret)
        {
            bTooLong = true;
            continue; // read the rest of the line away
        }
        szLine[nLength++] = ch;
        ch = 0;
    }
    if (nLength > 0 && szLine[nLength - 1] == '\r')
        --nLength;
    // A file saved with a byte order mark.
    size_t nStart = nLength >= 3 && static_cast<unsigned char>(szLine[0]) == 0xEF &&
            static_cast<unsigned char>(szLine[1]) == 0xBB && static_cast<unsigned char>(szLine[2]) == 0xBF
        ? 3
        : 0;
    bool bOk = !bTooLong;
    if (bTooLong)
        *pstrError = L"The password line is longer than " + std::to_wstring(kMaxSecret) + L" bytes.";
    else if (nLength == 0 && !bLineEnd)
    {
        *pstrError = L"Standard input ended before a password line.";
        bOk = false;
    }
    else if (nLength > nStart)
    {
        const char* pszStart = szLine + nStart;
        int nChars = MultiByteToWideChar(
            CP_UTF8, MB_ERR_INVALID_CHARS, pszStart, static_cast<int>(nLength - nStart), nullptr, 0);
        if (nChars <= 0)
        {
            *pstrError = L"The password line is not UTF-8 text.";
            bOk = false;
        }
        else
        {
            pstrSecret->resize(static_cast<size_t>(nChars));
            MultiByteToWideChar(
                CP_UTF8, MB_ERR_INVALID_CHARS, pszStart, static_cast<int>(nLength - nStart), &(*pstrSecret)[0], nChars);
        }
    }
    SecureZeroMemory(szLine, sizeof(szLine));
    return bOk;
}
