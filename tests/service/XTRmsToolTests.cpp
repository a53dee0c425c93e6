// xtrms.exe as an administrator meets it: a child process with its standard
// input, output and error on pipes (or on a console), checked by exit code,
// output and what it left in the store.
#include "XTRmsTestStores.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct SToolResult
{
    DWORD nExitCode = 0xDEAD;
    std::wstring strOut;
    std::wstring strErr;
};

std::wstring FromUtf8(const std::string& strText)
{
    int nChars = MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0);
    std::wstring strWide(static_cast<size_t>(std::max(nChars, 0)), L'\0');
    if (nChars > 0)
        MultiByteToWideChar(CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strWide[0], nChars);
    return strWide;
}

std::string Narrow(const std::wstring& strText)
{
    int nBytes = WideCharToMultiByte(
        CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strNarrow(static_cast<size_t>(std::max(nBytes, 0)), '\0');
    if (nBytes > 0)
        WideCharToMultiByte(
            CP_UTF8, 0, strText.data(), static_cast<int>(strText.size()), &strNarrow[0], nBytes, nullptr, nullptr);
    return strNarrow;
}

std::string ReadPipe(HANDLE hPipe)
{
    std::string strData;
    char szBuffer[4096];
    DWORD nRead = 0;
    while (ReadFile(hPipe, szBuffer, sizeof(szBuffer), &nRead, nullptr) && nRead > 0)
        strData.append(szBuffer, nRead);
    return strData;
}

// Runs xtrms.exe from the test's own folder with strInput on a pipe as its
// standard input, or with hConsoleInput (the test's console) instead.
SToolResult RunTool(
    const std::wstring& strArgs, const std::string& strInput = std::string(), HANDLE hConsoleInput = nullptr)
{
    SToolResult result;
    wchar_t szExe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strExe = szExe;
    strExe = strExe.substr(0, strExe.find_last_of(L'\\') + 1) + L"xtrms.exe";
    std::wstring strCommand = L"\"" + strExe + L"\" " + strArgs;

    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE hInRead = nullptr, hInWrite = nullptr, hOutRead = nullptr, hOutWrite = nullptr, hErrRead = nullptr,
           hErrWrite = nullptr;
    if (!CreatePipe(&hInRead, &hInWrite, &inherit, 0) || !CreatePipe(&hOutRead, &hOutWrite, &inherit, 0) ||
        !CreatePipe(&hErrRead, &hErrWrite, &inherit, 0))
        return result;
    SetHandleInformation(hInWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hOutRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hErrRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hConsoleInput != nullptr ? hConsoleInput : hInRead;
    startup.hStdOutput = hOutWrite;
    startup.hStdError = hErrWrite;
    PROCESS_INFORMATION process = {};
    // Wine now and then refuses a start while the previous tool process is
    // still being torn down; a second attempt after a moment succeeds.
    BOOL bStarted = FALSE;
    DWORD nStartError = 0;
    for (int nAttempt = 0; nAttempt < 3 && !bStarted; ++nAttempt)
    {
        if (nAttempt > 0)
            Sleep(500);
        bStarted = CreateProcessW(strExe.c_str(), &strCommand[0], nullptr, nullptr, TRUE,
            hConsoleInput != nullptr ? 0 : CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
        if (!bStarted)
            nStartError = GetLastError();
    }
    CloseHandle(hInRead);
    CloseHandle(hOutWrite);
    CloseHandle(hErrWrite);
    if (bStarted)
    {
        DWORD nWritten = 0;
        if (!strInput.empty())
            WriteFile(hInWrite, strInput.data(), static_cast<DWORD>(strInput.size()), &nWritten, nullptr);
    }
    CloseHandle(hInWrite);
    std::string strOut, strErr;
    std::thread outReader([&]() { strOut = ReadPipe(hOutRead); });
    std::thread errReader([&]() { strErr = ReadPipe(hErrRead); });
    if (bStarted)
    {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 10000);
        GetExitCodeProcess(process.hProcess, &result.nExitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    outReader.join();
    errReader.join();
    CloseHandle(hOutRead);
    CloseHandle(hErrRead);
    result.strOut = FromUtf8(strOut);
    result.strErr = bStarted ? FromUtf8(strErr) : L"xtrms.exe not started, error " + std::to_wstring(nStartError);
    return result;
}

std::wstring Trimmed(std::wstring strText)
{
    while (!strText.empty() && (strText.back() == L'\n' || strText.back() == L'\r' || strText.back() == L' '))
        strText.pop_back();
    return strText;
}

std::wstring Db(const std::wstring& strFile)
{
    return L" --db \"" + strFile + L"\" --iterations 1000";
}

// A fresh store made by the tool, then opened once by a host that writes
// its rights (1 to 4) and roles (1 Operator: 1, 2; 2 Administrator: all).
std::wstring NewProvisionedStore()
{
    std::wstring strFile = XTRmsNewDatabaseFile();
    SToolResult created = RunTool(L"create" + Db(strFile));
    EXPECT_EQ(created.nExitCode, 0u) << Narrow(created.strErr);
    XTRmsService host(XTRmsTestConfig(XTRmsEngine::Sqlite, XTRmsTestServer(), strFile));
    std::wstring strError;
    EXPECT_TRUE(host.OpenStore(XTRmsEngine::Sqlite, false, &strError)) << Narrow(strError);
    return strFile;
}

void WriteBytes(const std::wstring& strFile, const std::string& strBytes)
{
    HANDLE hFile = CreateFileW(strFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD nWritten = 0;
    WriteFile(hFile, strBytes.data(), static_cast<DWORD>(strBytes.size()), &nWritten, nullptr);
    CloseHandle(hFile);
}

// The list line of one user, or empty.
std::wstring ListLine(const std::wstring& strList, const std::wstring& strUser)
{
    size_t nStart = strList.find(L"\n" + strUser + L" ");
    if (nStart == std::wstring::npos)
        return std::wstring();
    size_t nEnd = strList.find(L'\n', nStart + 1);
    return strList.substr(nStart + 1, nEnd == std::wstring::npos ? std::wstring::npos : nEnd - nStart - 1);
}

bool Contains(const std::wstring& strText, const std::wstring& strPart)
{
    return strText.find(strPart) != std::wstring::npos;
}

// The tool's options for the loopback rights server, without the account.
std::wstring ServerOptions(const XTRmsTestServer& server)
{
    return L" --server 127.0.0.1:" + std::to_wstring(server.nPort) + L" --database " + server.strDatabase +
        L" --iterations 1000";
}

// A provisioned store with ann (Operator, no password) added by the tool.
std::wstring NewStoreWithAnn()
{
    std::wstring strFile = NewProvisionedStore();
    EXPECT_EQ(RunTool(L"add-user ann --role 1 --no-password" + Db(strFile)).nExitCode, 0u);
    return strFile;
}

// A host on the store, as a workstation opens it.
std::unique_ptr<XTRmsService> OpenHost(const std::wstring& strFile)
{
    auto pHost = std::make_unique<XTRmsService>(XTRmsTestConfig(XTRmsEngine::Sqlite, XTRmsTestServer(), strFile));
    std::wstring strError;
    EXPECT_TRUE(pHost->OpenStore(XTRmsEngine::Sqlite, false, &strError)) << Narrow(strError);
    return pHost;
}

// Raw SQL on the store's file, as whoever can write it; the rows' first two
// columns as "a:b" when it reads.
std::vector<std::wstring> RawSql(const std::wstring& strFile, const wchar_t* pszSql)
{
    std::vector<std::wstring> vecRows;
    std::unique_ptr<XTRmsOdbc::Connection> pRaw = XTRmsConnectRaw(
        XTRmsTestConfig(XTRmsEngine::Sqlite, XTRmsTestServer(), strFile), XTRmsEngine::Sqlite);
    EXPECT_TRUE(pRaw);
    if (!pRaw)
        return vecRows;
    XTRmsOdbc::Statement statement(*pRaw, pszSql);
    EXPECT_TRUE(statement.Execute()) << Narrow(pszSql);
    while (statement.Fetch())
        vecRows.push_back(statement.GetText(1) + L":" + statement.GetText(2));
    return vecRows;
}
} // namespace

TEST(XTRmsTool, BadInputFailsWithOneLineAndItsExitCodeAndChangesNothing)
{
    std::wstring strFile = NewStoreWithAnn();
    const std::wstring strDb = Db(strFile);
    const std::wstring strCsv = strFile + L".csv";
    const std::wstring strMissing = L" --db \"" + strFile + L".missing\"";
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", nullptr);

    struct SCase
    {
        std::wstring strArgs;
        std::string strInput; // standard input
        std::string strCsv;   // written to strCsv first, when not empty
        DWORD nExitCode;
        const wchar_t* pszMessage;
    };
    const SCase aCases[] = {
        {L"", "", "", 2, L"No command given"},
        {L"frobnicate" + strDb, "", "", 2, L"Unknown command 'frobnicate'"},
        {L"list", "", "", 2, L"--db FILE or --server"},
        {L"list --bogus" + strDb, "", "", 2, L"Unknown option '--bogus'"},
        {L"list --db=", "", "", 2, L"--db needs a value"},
        {L"list" + strDb + L" --db x.db", "", "", 2, L"--db is given twice"},
        {L"list extra" + strDb, "", "", 2, L"takes no argument"},
        {L"list --role 1" + strDb, "", "", 2, L"--role is not an option of list"},
        {L"add-user --role 1" + strDb, "", "", 2, L"add-user needs a user name"},
        {L"add-user bob" + strDb, "", "", 2, L"needs --role"},
        {L"add-user bob --role 1 --no-password=1" + strDb, "", "", 2, L"takes no value"},
        {L"add-user bob --role 1 --iterations 999" + strDb, "", "", 2, L"--iterations expects"},
        {L"audit --last 0" + strDb, "", "", 2, L"--last expects"},
        {L"audit --from 2027-13-01" + strDb, "", "", 2, L"--from: The start of the time range must be an ISO 8601"},
        {L"audit --to yesterday" + strDb, "", "", 2, L"--to: The end of the time range must be an ISO 8601"},
        {L"audit --to 2027-01-15T08:00:00+01" + strDb, "", "", 2, L"--to: The end"},
        {L"audit --from 2027-01-18 --to 2027-01-17" + strDb, "", "", 2, L"after its end"},
        {L"audit checkpoint --event login" + strDb, "", "", 2, L"takes no --last or filter"},
        {L"list --event login" + strDb, "", "", 2, L"--event is not an option of list"},
        {L"policy --history 25" + strDb, "", "", 2, L"--history expects"},
        {L"policy --max-age-days -1" + strDb, "", "", 2, L"--max-age-days expects"},
        {L"policy --must-change-after-reset maybe" + strDb, "", "", 2, L"expects yes or no"},
        {L"list --history 2" + strDb, "", "", 2, L"--history is not an option of list"},
        {L"list" + strDb + L" --server 127.0.0.1:5432 --user x", "", "", 2, L"exclude each other"},
        {L"list" + strDb + L" --user x", "", "", 2, L"go with --server"},
        {L"list --server 127.0.0.1 --user x", "", "", 2, L"HOST:PORT"},
        {L"list --server 127.0.0.1:65536 --user x", "", "", 2, L"HOST:PORT"},
        {L"list --server ::1:5432 --user x", "", "", 2, L"HOST:PORT"},
        {L"list --server [::1]5432 --user x", "", "", 2, L"HOST:PORT"},
        {L"list --server h;Pwd=x:5432 --user x", "", "", 2, L"HOST:PORT"},
        {L"list --server 127.0.0.1:5432", "", "", 2, L"needs --user"},
        {L"list --server 127.0.0.1:9 --user x", "", "", 2, L"XTRMS_SERVER_PASSWORD"},
        {L"list" + strMissing, "", "", 1, L"does not exist"},
        {L"add-user bob --role 9" + strDb, "", "", 1,
            L"no role '9'; the store's roles are 1 Operator, 2 Administrator"},
        {L"add-user bob --role Nobody" + strDb, "", "", 1, L"no role 'Nobody'"},
        {L"add-user ann --role 1 --no-password" + strDb, "", "", 1, L"ann exists already"},
        {L"add-user bob --role 1" + strDb, "short1\n", "", 1, L"at least 8 characters"},
        {L"add-user bob --role 1" + strDb, "xxBOBxx-long\n", "", 1, L"must not contain the user name"},
        {L"add-user bob --role 1" + strDb, "", "", 1, L"ended before a password"},
        {L"add-user bob --role 1" + strDb, "\r\n", "", 1, L"--no-password"},
        {L"add-user bob --role 1" + strDb, "caf\xC3-long-enough\n", "", 1, L"not UTF-8"},
        {L"set-password nobody" + strDb, "long-enough-1\n", "", 1, L"There is no user nobody"},
        {L"unlock nobody" + strDb, "", "", 1, L"no user nobody"},
        {L"disable nobody" + strDb, "", "", 1, L"no user nobody"},
        {L"enable nobody" + strDb, "", "", 1, L"no user nobody"},
        {L"import \"" + strFile + L".none.csv\"" + strDb, "", "", 1, L"cannot be opened"},
        {L"import \"" + strCsv + L"\"" + strDb, "", "user,full_name,role,disabled,rights\r\nbob,B\"o,1,0,1\r\n", 1,
            L"malformed"},
        {L"import \"" + strCsv + L"\"" + strDb, "", "user,full_name,role,disabled,rights\r\nbob,,7,0,1\r\n", 1,
            L"not a role"},
        {L"import \"" + strCsv + L"\"" + strDb, "", "user,full_name,role,disabled,rights\r\nbob,,1,0,1;9\r\n", 1,
            L"\"9\" is not a right"},
        {L"import \"" + strCsv + L"\"" + strDb, "", "name,role\r\nbob,1\r\n", 1, L"must begin with the header"},
        {L"import \"" + strCsv + L"\"" + strDb, "", "user,full_name,role,disabled,rights\r\nb\xFFob,,1,0,1\r\n", 1,
            L"not UTF-8"},
    };
    for (const SCase& c : aCases)
    {
        SCOPED_TRACE(Narrow(c.strArgs));
        if (!c.strCsv.empty())
            WriteBytes(strCsv, c.strCsv);
        SToolResult result = RunTool(c.strArgs, c.strInput);
        EXPECT_EQ(result.nExitCode, c.nExitCode);
        EXPECT_TRUE(result.strOut.empty()) << Narrow(result.strOut);
        EXPECT_EQ(result.strErr.rfind(L"xtrms: ", 0), 0u) << Narrow(result.strErr);
        EXPECT_TRUE(Contains(result.strErr, c.pszMessage)) << Narrow(result.strErr);
        EXPECT_EQ(result.strErr.find(L'\n'), result.strErr.size() - 1) << "not one line: " << Narrow(result.strErr);
    }

    // None of it reached the store: ann alone, as she was.
    SToolResult list = RunTool(L"list" + strDb);
    EXPECT_EQ(list.nExitCode, 0u);
    EXPECT_EQ(ListLine(list.strOut, L"bob"), L"");
    EXPECT_TRUE(Contains(ListLine(list.strOut, L"ann"), L"1 Operator")) << Narrow(list.strOut);
}

// Export writes a byte order mark; an export edited in a tool that drops it
// must import the same.
class XTRmsToolCsv : public ::testing::TestWithParam<bool>
{
};

TEST_P(XTRmsToolCsv, RoundTripThroughExportAndImportKeepsTheUsers)
{
    const bool bKeepBom = GetParam();
    std::wstring strFirst = NewProvisionedStore();
    const std::wstring strFullName = L"J\u00f6rg M\u00fcller, \\\"North\\\" plant";
    for (const std::wstring& strArgs :
        {L"add-user J\u00f6rg --role administrator --full-name \"" + strFullName + L"\" --no-password",
            std::wstring(L"add-user ann --role 1 --no-password"), std::wstring(L"disable ann")})
    {
        SToolResult result = RunTool(strArgs + Db(strFirst));
        ASSERT_EQ(result.nExitCode, 0u) << Narrow(strArgs) << ": " << Narrow(result.strErr);
    }
    SToolResult firstList = RunTool(L"list" + Db(strFirst));
    ASSERT_EQ(firstList.nExitCode, 0u);
    std::wstring strJoerg = ListLine(firstList.strOut, L"J\u00f6rg");
    EXPECT_TRUE(Contains(strJoerg, L"J\u00f6rg M\u00fcller, \"North\" plant")) << Narrow(firstList.strOut);
    EXPECT_TRUE(Contains(strJoerg, L"2 Administrator")) << Narrow(strJoerg);
    EXPECT_TRUE(Contains(strJoerg, L"1,2,3,4")) << Narrow(strJoerg);
    std::wstring strAnn = ListLine(firstList.strOut, L"ann");
    EXPECT_TRUE(Contains(strAnn, L"disabled")) << Narrow(strAnn);
    EXPECT_TRUE(Contains(strAnn, L" 1,2")) << Narrow(strAnn);
    EXPECT_FALSE(Contains(strAnn, L"has-password")) << Narrow(strAnn);

    std::wstring strCsv = strFirst + L".csv";
    SToolResult exported = RunTool(L"export \"" + strCsv + L"\"" + Db(strFirst));
    ASSERT_EQ(exported.nExitCode, 0u) << Narrow(exported.strErr);
    HANDLE hFile = CreateFileW(strCsv.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
    std::string strBytes(65536, '\0');
    DWORD nRead = 0;
    ReadFile(hFile, &strBytes[0], static_cast<DWORD>(strBytes.size()), &nRead, nullptr);
    CloseHandle(hFile);
    strBytes.resize(nRead);
    ASSERT_EQ(strBytes.compare(0, 3, "\xEF\xBB\xBF"), 0);
    EXPECT_NE(
        strBytes.find("J\xC3\xB6rg,\"J\xC3\xB6rg M\xC3\xBCller, \"\"North\"\" plant\",2,0,1;2;3;4"), std::string::npos)
        << strBytes;
    if (!bKeepBom)
        WriteBytes(strCsv, strBytes.substr(3));

    std::wstring strSecond = NewProvisionedStore();
    SToolResult imported = RunTool(L"import \"" + strCsv + L"\"" + Db(strSecond));
    ASSERT_EQ(imported.nExitCode, 0u) << Narrow(imported.strErr);
    SToolResult secondList = RunTool(L"list" + Db(strSecond));
    EXPECT_EQ(secondList.strOut, firstList.strOut);
}

INSTANTIATE_TEST_SUITE_P(Bom, XTRmsToolCsv, ::testing::Bool(),
    [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "WithBom" : "WithoutBom"; });

TEST(XTRmsTool, PasswordUnlockAndDisableReachTheStoreAndTheList)
{
    std::wstring strFile = NewProvisionedStore();
    auto login = [&](const std::wstring& strPassword) { return OpenHost(strFile)->UserLogin(L"ann", strPassword); };
    auto annInList = [&]() { return ListLine(RunTool(L"list" + Db(strFile)).strOut, L"ann"); };

    SToolResult added = RunTool(L"add-user ann --role Operator" + Db(strFile), "first-Secret\n");
    ASSERT_EQ(added.nExitCode, 0u) << Narrow(added.strErr);
    EXPECT_TRUE(Contains(annInList(), L"has-password"));
    // The password an administrator gave her is hers to replace at once.
    EXPECT_EQ(login(L"first-Secret"), Rms::ERmsLoginPasswordExpired);
    EXPECT_EQ(OpenHost(strFile)->ChangeExpiredPassword(L"ann", L"first-Secret", L"own-Secret-1"), Rms::ERmsPasswordOk);
    EXPECT_EQ(login(L"own-Secret-1"), Rms::ERmsLoginOk);

    // Three failures lock her until an administrator unlocks.
    for (int i = 0; i < 3; ++i)
        login(L"wrong-guess");
    EXPECT_TRUE(Contains(annInList(), L"has-password,locked  3")) << Narrow(annInList());
    ASSERT_EQ(RunTool(L"unlock ann" + Db(strFile)).nExitCode, 0u);
    EXPECT_TRUE(Contains(annInList(), L"has-password  0")) << Narrow(annInList());

    // A line ending of a Windows script is not part of the password.
    SToolResult set = RunTool(L"set-password ann" + Db(strFile),
        "second-S\xC3\xA9"
        "cret\r\nignored\n");
    ASSERT_EQ(set.nExitCode, 0u) << Narrow(set.strErr);
    EXPECT_EQ(login(L"own-Secret-1"), Rms::ERmsLoginWrongPassword);
    EXPECT_EQ(login(L"second-S\u00e9cret"), Rms::ERmsLoginPasswordExpired);

    ASSERT_EQ(RunTool(L"disable ann" + Db(strFile)).nExitCode, 0u);
    EXPECT_TRUE(Contains(annInList(), L"has-password,disabled")) << Narrow(annInList());
    EXPECT_EQ(login(L"second-S\u00e9cret"), Rms::ERmsLoginAccountDisabled);
    ASSERT_EQ(RunTool(L"enable ann" + Db(strFile)).nExitCode, 0u);
    EXPECT_EQ(login(L"second-S\u00e9cret"), Rms::ERmsLoginPasswordExpired);

    // Every step is in the trail, and no password anywhere in it.
    SToolResult audit = RunTool(L"audit" + Db(strFile));
    EXPECT_EQ(audit.nExitCode, 0u);
    for (const wchar_t* pszEvent :
        {L"user-created", L"user-locked", L"user-unlocked", L"password-set", L"user-disabled", L"user-enabled"})
        EXPECT_TRUE(Contains(audit.strOut, pszEvent)) << Narrow(pszEvent);
    EXPECT_FALSE(Contains(audit.strOut + added.strOut + set.strOut, L"cret"));
    SToolResult lastTwo = RunTool(L"audit --last 2" + Db(strFile));
    EXPECT_EQ(std::count(lastTwo.strOut.begin(), lastTwo.strOut.end(), L'\n'), 3) << Narrow(lastTwo.strOut);
    EXPECT_TRUE(Contains(lastTwo.strOut, L"user-enabled")) << Narrow(lastTwo.strOut);
    EXPECT_FALSE(Contains(lastTwo.strOut, L"user-disabled")) << Narrow(lastTwo.strOut);
}

TEST(XTRmsTool, AuditFiltersPickTheirEntriesOldestFirst)
{
    std::wstring strFile = NewProvisionedStore();
    for (const wchar_t* pszCommand : {L"add-user ann --role 1 --no-password", L"add-user bob --role 1 --no-password",
             L"disable ann", L"enable ann", L"disable bob"})
        ASSERT_EQ(RunTool(pszCommand + Db(strFile)).nExitCode, 0u) << Narrow(pszCommand);
    // The data lines of a listing, header left out.
    auto lines = [&](const std::wstring& strArgs) {
        SToolResult result = RunTool(L"audit " + strArgs + Db(strFile));
        EXPECT_EQ(result.nExitCode, 0u) << Narrow(strArgs) << ": " << Narrow(result.strErr);
        std::vector<std::wstring> vecLines;
        size_t nStart = result.strOut.find(L'\n');
        while (nStart != std::wstring::npos && nStart + 1 < result.strOut.size())
        {
            size_t nEnd = result.strOut.find(L'\n', nStart + 1);
            vecLines.push_back(result.strOut.substr(nStart + 1, nEnd - nStart - 1));
            nStart = nEnd;
        }
        return std::make_pair(vecLines, result.strOut);
    };
    auto disabled = lines(L"--event user-disabled");
    ASSERT_EQ(disabled.first.size(), 2u) << Narrow(disabled.second);
    EXPECT_TRUE(Contains(disabled.first[0], L" ann ")) << "oldest first: " << Narrow(disabled.second);
    EXPECT_TRUE(Contains(disabled.first[1], L" bob ")) << Narrow(disabled.second);
    auto ann = lines(L"--who ANN --last 2");
    ASSERT_EQ(ann.first.size(), 2u) << Narrow(ann.second);
    EXPECT_TRUE(Contains(ann.first[0], L"user-disabled")) << Narrow(ann.second);
    EXPECT_TRUE(Contains(ann.first[1], L"user-enabled")) << Narrow(ann.second);
    EXPECT_EQ(lines(L"--text USER-CREATED --from 2000-01-01").first.size(), 2u);
    EXPECT_TRUE(Contains(lines(L"--from 2000-01-01 --to 2000-12-31").second, L"No entry of the audit trail matches."));
}

TEST(XTRmsTool, VerifyTellsAnIntactTrailFromATamperedOne)
{
    std::wstring strFile = NewStoreWithAnn();
    ASSERT_EQ(RunTool(L"disable ann" + Db(strFile)).nExitCode, 0u);
    SToolResult intact = RunTool(L"verify" + Db(strFile));
    EXPECT_EQ(intact.nExitCode, 0u) << Narrow(intact.strErr);
    EXPECT_TRUE(Contains(intact.strOut, L"intact (3 entries)")) << Narrow(intact.strOut);

    RawSql(strFile, L"UPDATE xtrms_audit SET subject = 'bob' WHERE seq = 1");
    SToolResult broken = RunTool(L"verify" + Db(strFile));
    EXPECT_EQ(broken.nExitCode, 3u);
    EXPECT_TRUE(Contains(broken.strErr, L"broken: audit row 1 was changed")) << Narrow(broken.strErr);

    // A trail that cannot be read is a failure, not proof of tampering.
    RawSql(strFile, L"DROP TABLE xtrms_audit");
    SToolResult unreadable = RunTool(L"verify" + Db(strFile));
    EXPECT_EQ(unreadable.nExitCode, 1u) << Narrow(unreadable.strErr);
    EXPECT_FALSE(Contains(unreadable.strErr, L"broken")) << Narrow(unreadable.strErr);
}

// A workstation's administrator asks which ODBC drivers are there before he
// deploys: this machine has both that XTRms uses by default.
TEST(XTRmsTool, DriversNamesTheInstalledOnesAndThoseXtrmsNeeds)
{
    SToolResult drivers = RunTool(L"drivers");
    EXPECT_EQ(drivers.nExitCode, 0u) << Narrow(drivers.strOut) << Narrow(drivers.strErr);
    drivers.strOut.erase(std::remove(drivers.strOut.begin(), drivers.strOut.end(), L'\r'), drivers.strOut.end());
    for (const wchar_t* pszLine :
        {L"\n  SQLite3\n", L"\n  PostgreSQL Unicode\n", L"XTRms uses \"SQLite3\" for SQLite stores: installed\n",
            L"XTRms uses \"PostgreSQL Unicode\" for rights servers: installed\n"})
        EXPECT_TRUE(Contains(drivers.strOut, pszLine)) << Narrow(pszLine) << "\n" << Narrow(drivers.strOut);
}

TEST(XTRmsTool, VersionAndTheStandardStreamsAsFiles)
{
    SToolResult version = RunTool(L"--version");
    EXPECT_EQ(version.nExitCode, 0u);
    EXPECT_EQ(version.strOut.rfind(L"xtrms ", 0), 0u) << Narrow(version.strOut);
    EXPECT_TRUE(Contains(version.strOut, L"schema version " + std::to_wstring(XTRmsService::GetLatestSchemaVersion())))
        << Narrow(version.strOut);

    std::wstring strFile = NewStoreWithAnn();
    DeleteFileW(L"-");
    // "-" is standard output: the CSV alone, nothing written to a file "-".
    SToolResult exported = RunTool(L"export -" + Db(strFile));
    EXPECT_EQ(exported.nExitCode, 0u) << Narrow(exported.strErr);
    EXPECT_EQ(exported.strOut.rfind(L"user,full_name,role,disabled,rights\r\n", 0), 0u) << Narrow(exported.strOut);
    EXPECT_TRUE(Contains(exported.strOut, L"\r\nann,,1,0,1;2\r\n")) << Narrow(exported.strOut);
    EXPECT_EQ(GetFileAttributesW(L"-"), INVALID_FILE_ATTRIBUTES);
    // And standard input, for a pipe.
    SToolResult imported = RunTool(
        L"import -" + Db(strFile), "user,full_name,role,disabled,rights\r\nbea,Bea,2,0,1;2;3;4\r\n");
    EXPECT_EQ(imported.nExitCode, 0u) << Narrow(imported.strErr);
    EXPECT_TRUE(Contains(ListLine(RunTool(L"list" + Db(strFile)).strOut, L"bea"), L"2 Administrator"));
}

TEST(XTRmsTool, NewHashesTakeTheIterationsAsked)
{
    std::wstring strFile = NewProvisionedStore();
    const std::wstring strStore = L" --db \"" + strFile + L"\"";
    ASSERT_EQ(RunTool(L"add-user ann --role 1 --iterations 1000" + strStore, "first-Secret\n").nExitCode, 0u);
    ASSERT_EQ(RunTool(L"add-user bob --role 1 --iterations 70001" + strStore, "river-Stone-4\n").nExitCode, 0u);
    EXPECT_EQ(RawSql(strFile, L"SELECT name, password_iterations FROM xtrms_users ORDER BY name"),
        (std::vector<std::wstring>{L"ann:1000", L"bob:70001"}));
}

namespace
{
// The test's console input, as an inheritable handle for the tool's
// standard input.
HANDLE OpenConsoleInput()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE hInput = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
        OPEN_EXISTING, 0, nullptr);
    if (hInput == INVALID_HANDLE_VALUE)
    {
        // Under Wine a process started without a terminal holds a console
        // that has no input buffer; a fresh one has.
        FreeConsole();
        if (AllocConsole())
            hInput = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                OPEN_EXISTING, 0, nullptr);
    }
    return hInput == INVALID_HANDLE_VALUE ? nullptr : hInput;
}

// Key presses, as a person types them; '\r' is the Enter key.
void TypeAtConsole(HANDLE hInput, const std::wstring& strKeys)
{
    std::vector<INPUT_RECORD> vecRecords;
    for (wchar_t ch : strKeys)
    {
        for (BOOL bDown : {TRUE, FALSE})
        {
            INPUT_RECORD record = {};
            record.EventType = KEY_EVENT;
            record.Event.KeyEvent.bKeyDown = bDown;
            record.Event.KeyEvent.wRepeatCount = 1;
            record.Event.KeyEvent.wVirtualKeyCode = ch == L'\r' ? VK_RETURN : 0;
            record.Event.KeyEvent.uChar.UnicodeChar = ch;
            vecRecords.push_back(record);
        }
    }
    DWORD nWritten = 0;
    WriteConsoleInputW(hInput, vecRecords.data(), static_cast<DWORD>(vecRecords.size()), &nWritten);
}

std::wstring ConsoleScreenText()
{
    HANDLE hOutput = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, 0, nullptr);
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    std::wstring strText;
    if (hOutput != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(hOutput, &info))
    {
        strText.resize(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y);
        DWORD nRead = 0;
        ReadConsoleOutputCharacterW(hOutput, &strText[0], static_cast<DWORD>(strText.size()), {0, 0}, &nRead);
        strText.resize(nRead);
    }
    if (hOutput != INVALID_HANDLE_VALUE)
        CloseHandle(hOutput);
    return strText;
}
} // namespace

TEST(XTRmsTool, AtAConsoleThePasswordIsTypedTwiceWithoutEcho)
{
    HANDLE hInput = OpenConsoleInput();
    ASSERT_NE(hInput, nullptr) << "no console for the test";
    std::wstring strFile = NewProvisionedStore();

    FlushConsoleInputBuffer(hInput);
    TypeAtConsole(hInput, L"Typed-first-1\rTyped-other-2\r");
    SToolResult mismatch = RunTool(L"add-user ann --role 1" + Db(strFile), std::string(), hInput);
    EXPECT_EQ(mismatch.nExitCode, 1u);
    EXPECT_TRUE(Contains(mismatch.strErr, L"do not match")) << Narrow(mismatch.strErr);

    FlushConsoleInputBuffer(hInput);
    TypeAtConsole(hInput, L"Typed-\u00e9-twice\rTyped-\u00e9-twice\r");
    SToolResult added = RunTool(L"add-user ann --role 1" + Db(strFile), std::string(), hInput);
    EXPECT_EQ(added.nExitCode, 0u) << Narrow(added.strErr);
    CloseHandle(hInput);

    // The right password; an administrator's, so it must be changed first.
    EXPECT_EQ(OpenHost(strFile)->UserLogin(L"ann", L"Typed-\u00e9-twice"), Rms::ERmsLoginPasswordExpired);

    // The prompts reached the screen, the typing did not.
    std::wstring strScreen = ConsoleScreenText();
    EXPECT_TRUE(Contains(strScreen, L"Repeat the password")) << Narrow(strScreen);
    EXPECT_FALSE(Contains(strScreen, L"Typed-")) << Narrow(strScreen);
}

TEST(XTRmsTool, RightsServerIsAdministeredByItsAdministratorsOnly)
{
    XTRmsTestServer server;
    if (!XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Postgres, server, std::wstring());
    ASSERT_TRUE(XTRmsEmptyServerDatabase(config, server));
    const std::wstring strServer = ServerOptions(server);
    const std::wstring strAsDba = strServer + L" --user " + server.strAdminUser;
    const std::wstring strAsStation = strServer + L" --user " + server.strUser;

    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", L"Not-the-password-42");
    SToolResult refused = RunTool(L"create" + strAsDba);
    EXPECT_EQ(refused.nExitCode, 1u);
    EXPECT_FALSE(Contains(refused.strErr, L"Not-the-password-42")) << Narrow(refused.strErr);

    // Only the database administrator creates the schema.
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", server.strPassword.c_str());
    SToolResult stationCreate = RunTool(L"create" + strAsStation);
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", server.strAdminPassword.c_str());
    SToolResult created = RunTool(L"create" + strAsDba);
    SToolResult added;
    if (created.nExitCode == 0)
    {
        XTRmsService host(config);
        EXPECT_EQ(
            host.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"", Rms::RmsConnectModeServer, 0, 0, L""),
            Rms::RmsConnectionServerConnected);
        added = RunTool(L"add-user J\u00f6rg --role 2" + strAsDba, "Server-Secret-1\n");
    }
    SToolResult checkpoint = RunTool(L"audit checkpoint" + strAsDba);
    // A workstation's account acts only through an XTRm administrator.
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", server.strPassword.c_str());
    SToolResult anonymous = RunTool(L"add-user eve --role 2" + strAsStation, "Harbor-Light-22\n");
    SToolResult wrongLogin = RunTool(L"list --login J\u00f6rg" + strAsStation, "not-his-password\n");
    SToolResult withLogin = RunTool(
        L"add-user eve --role 1 --login J\u00f6rg" + strAsStation, "Server-Secret-1\nHarbor-Light-22\n");
    SToolResult operatorLogin = RunTool(L"unlock J\u00f6rg --login eve" + strAsStation, "Harbor-Light-22\n");
    SToolResult list = RunTool(L"list --login J\u00f6rg" + strAsStation, "Server-Secret-1\n");
    SToolResult verify = RunTool(
        L"verify --since " + Trimmed(checkpoint.strOut) + L" --login J\u00f6rg" + strAsStation, "Server-Secret-1\n");
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", nullptr);

    EXPECT_EQ(stationCreate.nExitCode, 1u);
    EXPECT_TRUE(Contains(stationCreate.strErr, L"database administrator")) << Narrow(stationCreate.strErr);
    ASSERT_EQ(created.nExitCode, 0u) << Narrow(created.strErr);
    EXPECT_EQ(added.nExitCode, 0u) << Narrow(added.strErr);
    EXPECT_EQ(checkpoint.nExitCode, 0u) << Narrow(checkpoint.strErr);
    EXPECT_EQ(anonymous.nExitCode, 1u);
    EXPECT_TRUE(Contains(anonymous.strErr, L"needs an administrator")) << Narrow(anonymous.strErr);
    EXPECT_EQ(wrongLogin.nExitCode, 1u);
    EXPECT_TRUE(Contains(wrongLogin.strErr, L"wrong name or password")) << Narrow(wrongLogin.strErr);
    EXPECT_EQ(withLogin.nExitCode, 0u) << Narrow(withLogin.strErr);
    EXPECT_EQ(operatorLogin.nExitCode, 1u);
    EXPECT_TRUE(Contains(operatorLogin.strErr, L"eve is not an administrator")) << Narrow(operatorLogin.strErr);
    std::wstring strJoerg = ListLine(list.strOut, L"J\u00f6rg");
    EXPECT_TRUE(Contains(strJoerg, L"2 Administrator  has-password  0       1,2,3,4")) << Narrow(list.strOut);
    EXPECT_TRUE(Contains(ListLine(list.strOut, L"eve"), L"1 Operator")) << Narrow(list.strOut);
    EXPECT_EQ(verify.nExitCode, 0u) << Narrow(verify.strErr);
}

namespace
{
const char kSiteDefinition[] =
    "; The plant's rights and roles\r\n"
    "[rights]\r\n"
    "1 = View reports\r\n"
    "2 = Edit recipes\r\n"
    "3 = Configure the plant\r\n"
    "\r\n"
    "[role 1]\r\n"
    "name = Operator\r\n"
    "rights = 1, 2\r\n"
    "\r\n"
    "# The plant's administrators\r\n"
    "[Role 2]\r\n"
    "Name = Plant manager\r\n"
    "rights = 1,2,3\r\n"
    "super-user = yes\r\n";

// A role section that is right, to complete files whose fault lies elsewhere.
const std::string kRole = "[role 1]\nname = Operator\nrights = 1\n";
} // namespace

TEST(XTRmsTool, DefinitionFilesAreCheckedLineByLineAndNothingIsHalfWritten)
{
    std::wstring strFile = XTRmsNewDatabaseFile();
    ASSERT_EQ(RunTool(L"create" + Db(strFile)).nExitCode, 0u);
    const std::wstring strSite = strFile + L".site.ini";
    struct SCase
    {
        std::string strText;
        const wchar_t* pszMessage;
    };
    const SCase aCases[] = {
        {"1 = View\n" + kRole, L"line 1: KEY = VALUE before the first section."},
        {"[rights\n1 = View\n" + kRole, L"line 1: a section header must end with ']'."},
        {"[users]\nann = 1\n", L"line 1: '[users]' is not a section of a definition"},
        {"[rights]\nView\n" + kRole, L"line 2: a line must be a section header, KEY = VALUE or a comment."},
        {"[rights]\nx = View\n" + kRole, L"line 2: a right's id must be a number from 0 to 999999999."},
        {"[rights]\n-1 = View\n" + kRole, L"line 2: a right's id must be a number"},
        {"[rights]\n1000000000 = View\n" + kRole, L"line 2: a right's id must be a number"},
        {"[rights]\n1 = View\r\n1 = Edit\n" + kRole, L"line 3: right 1 is defined twice."},
        {"[rights]\n1 =\n" + kRole, L"line 2: the label of right 1 must not be empty."},
        {"[rights]\n1 = Vi\x07w\n" + kRole, L"line 2: the label of right 1 must not hold control characters."},
        {"[rights]\n1 = View \xE2\x80\xAE"
         "drawkcab\n" +
                kRole,
            L"line 2: the label of right 1 must not hold bidirectional text controls."},
        {"[rights]\n1 = " + std::string(201, 'x') + "\n" + kRole,
            L"line 2: the label of right 1 must not be longer than 200 characters."},
        {"[rights]\n1 = View\n[rights]\n2 = Edit\n" + kRole,
            L"line 3: the section [rights] is given twice (first on line 1)."},
        {"[rights]\n1 = View\n[role 0]\nname = Nobody\n", L"line 3: a role's id must be from 1 to 999999999."},
        {"[rights]\n1 = View\n" + kRole + "\n[role 1]\nname = Again\n",
            L"line 7: role 1 is defined twice (first on line 3)."},
        {"[rights]\n1 = View\n[role 1]\nname = Operator\ncolour = red\n",
            L"line 5: 'colour' is not a setting of a role (name, rights or super-user)."},
        {"[rights]\n1 = View\n[role 1]\nname = Operator\nNAME = Other\n", L"line 5: NAME of role 1 is given twice."},
        {"[rights]\n1 = View\n2 = Edit\n[role 1]\nname = Operator\nrights = 1,,2\n",
            L"line 6: the rights of role 1 must be right ids separated by commas."},
        {"[rights]\n1 = View\n[role 1]\nname = Operator\nrights = 1, 1\n", L"line 5: role 1 lists right 1 twice."},
        {"[rights]\n1 = View\n[role 1]\nname = Operator\n\nrights = 1, 9\n",
            L"line 6: role 1 lists right 9, which is not defined."},
        {"[rights]\n1 = View\n[role 1]\nname = Operator\nsuper-user = maybe\n",
            L"line 5: super-user of role 1 must be yes or no."},
        {"[rights]\n1 = View\n[role 1]\nrights = 1\n", L"line 3: role 1 has no name = ... line."},
        {"[rights]\n1 = View\n" + kRole + "[role 2]\nname = OPERATOR\n",
            L"line 7: role 2 has the name of role 1 (names are told apart without regard to case)."},
        {"[rights]\n1 = View\n", L": The definition has no roles"},
        {"[rights]\n1 = Caf\xC3\n" + kRole, L"is not UTF-8 text"},
    };
    for (const SCase& c : aCases)
    {
        SCOPED_TRACE(c.strText);
        WriteBytes(strSite, c.strText);
        SToolResult result = RunTool(L"define \"" + strSite + L"\"" + Db(strFile));
        EXPECT_EQ(result.nExitCode, 1u);
        EXPECT_TRUE(result.strOut.empty()) << Narrow(result.strOut);
        EXPECT_TRUE(Contains(result.strErr, c.pszMessage)) << Narrow(result.strErr);
        if (Contains(c.pszMessage, L"line "))
        {
            EXPECT_TRUE(Contains(result.strErr, strSite + L", line ")) << Narrow(result.strErr);
        }
        EXPECT_EQ(result.strErr.find(L'\n'), result.strErr.size() - 1) << "not one line: " << Narrow(result.strErr);
    }
    // Nothing of it reached the store.
    SToolResult info = RunTool(L"info" + Db(strFile));
    EXPECT_TRUE(Contains(info.strOut, L"Roles          : (none)")) << Narrow(info.strOut);
    EXPECT_TRUE(Contains(info.strOut, L"Rights         : (none)")) << Narrow(info.strOut);
    EXPECT_TRUE(Contains(RunTool(L"audit" + Db(strFile)).strOut, L"The audit trail is empty.")) << "nothing audited";
}

namespace
{
// create --define, add-user with a role, a host's login: the order a site
// follows before any workstation starts. strStore: the tool's store options.
void ProvisionAndLogIn(const std::wstring& strStore, XTRmsEngine nEngine, const XTRmsServiceConfig& hostConfig,
    const std::wstring& strSite)
{
    WriteBytes(strSite, kSiteDefinition);
    SToolResult created = RunTool(L"create --define \"" + strSite + L"\"" + strStore);
    ASSERT_EQ(created.nExitCode, 0u) << Narrow(created.strErr);
    EXPECT_TRUE(Contains(created.strOut, L"now has the 3 rights and 2 roles of")) << Narrow(created.strOut);
    SToolResult added = RunTool(L"add-user bob --role operator" + strStore, "Plant-Secret-9\n");
    ASSERT_EQ(added.nExitCode, 0u) << Narrow(added.strErr);
    EXPECT_TRUE(Contains(added.strOut, L"with role 1 Operator")) << Narrow(added.strOut);
    SToolResult manager = RunTool(L"add-user meg --role \"plant manager\" --no-password" + strStore);
    EXPECT_EQ(manager.nExitCode, 0u) << Narrow(manager.strErr);

    XTRmsService host(hostConfig);
    EXPECT_EQ(host.TryConnectToRestrictionSource(Rms::RmsApplicationStandard, L"",
                  nEngine == XTRmsEngine::Sqlite ? Rms::RmsConnectModeSource : Rms::RmsConnectModeServer, 0, 0, L""),
        nEngine == XTRmsEngine::Sqlite ? Rms::RmsConnectionOk : Rms::RmsConnectionServerConnected)
        << Narrow(host.GetSettingsString());
    // The console's password is bob's to replace at his first login.
    ASSERT_EQ(host.UserLogin(L"bob", L"Plant-Secret-9"), Rms::ERmsLoginPasswordExpired);
    ASSERT_EQ(host.ChangeExpiredPassword(L"bob", L"Plant-Secret-9", L"Plant-Secret-10"), Rms::ERmsPasswordOk);
    EXPECT_TRUE(host.GetIsAllowed(1));
    EXPECT_TRUE(host.GetIsAllowed(2));
    EXPECT_FALSE(host.GetIsAllowed(3));

    // Later: the same file again changes nothing; a right added and a label
    // changed land; a right still granted is not dropped.
    SToolResult again = RunTool(L"define \"" + strSite + L"\"" + strStore);
    EXPECT_EQ(again.nExitCode, 0u) << Narrow(again.strErr);
    EXPECT_TRUE(Contains(again.strOut, L"nothing changed")) << Narrow(again.strOut);
    std::string strChanged = kSiteDefinition;
    strChanged.replace(strChanged.find("Edit recipes"), 12, "Edit and approve recipes");
    strChanged.insert(strChanged.find("\r\n\r\n[role 1]"), "\r\n4 = Export data");
    WriteBytes(strSite, strChanged);
    SToolResult changed = RunTool(L"define \"" + strSite + L"\"" + strStore);
    EXPECT_EQ(changed.nExitCode, 0u) << Narrow(changed.strErr);
    EXPECT_TRUE(Contains(changed.strOut, L": 2 changes")) << Narrow(changed.strOut);
    WriteBytes(strSite,
        "[rights]\n1 = View reports\n[role 1]\nname = Operator\nrights = 1\n"
        "[role 2]\nname = Plant manager\nrights = 1\nsuper-user = yes\n");
    SToolResult dropped = RunTool(L"define \"" + strSite + L"\"" + strStore);
    EXPECT_EQ(dropped.nExitCode, 1u);
    EXPECT_TRUE(Contains(dropped.strErr, L"The right 2 (Edit and approve recipes) cannot be dropped"))
        << Narrow(dropped.strErr);
    SToolResult info = RunTool(L"info" + strStore);
    for (const wchar_t* pszLine :
        {L"  2  Edit and approve recipes", L"  3  Configure the plant", L"  4  Export data", L"  2  Plant manager"})
        EXPECT_TRUE(Contains(info.strOut, pszLine)) << Narrow(pszLine) << "\n" << Narrow(info.strOut);
    SToolResult audit = RunTool(L"audit --last 2" + strStore);
    EXPECT_TRUE(Contains(audit.strOut, L"right-renamed")) << Narrow(audit.strOut);
    EXPECT_TRUE(Contains(audit.strOut, L"right-added")) << Narrow(audit.strOut);
}
} // namespace

TEST(XTRmsTool, ASiteIsProvisionedFromAFileBeforeAnyHostStarts)
{
    std::wstring strFile = XTRmsNewDatabaseFile();
    XTRmsServiceConfig hostConfig = XTRmsTestConfig(XTRmsEngine::Sqlite, XTRmsTestServer(), strFile);
    hostConfig.vecRights.clear();
    hostConfig.vecRoles.clear();
    // Without a definition a store takes no user, and says how to give it one.
    std::wstring strBare = XTRmsNewDatabaseFile();
    ASSERT_EQ(RunTool(L"create" + Db(strBare)).nExitCode, 0u);
    SToolResult early = RunTool(L"add-user bob --role Operator --no-password" + Db(strBare));
    EXPECT_EQ(early.nExitCode, 1u);
    EXPECT_TRUE(Contains(early.strErr, L"write them from a file with 'xtrms define FILE'")) << Narrow(early.strErr);
    ProvisionAndLogIn(Db(strFile), XTRmsEngine::Sqlite, hostConfig, strFile + L".site.ini");
}

TEST(XTRmsTool, ARightsServerIsProvisionedFromAFileByItsAdministratorOnly)
{
    XTRmsTestServer server;
    if (!XTRmsFindTestServer(&server))
        GTEST_SKIP() << "no PostgreSQL server here";
    XTRmsServiceConfig config = XTRmsTestConfig(XTRmsEngine::Postgres, server, std::wstring());
    ASSERT_TRUE(XTRmsEmptyServerDatabase(config, server));
    const std::wstring strServer = ServerOptions(server);
    const std::wstring strAsDba = strServer + L" --user " + server.strAdminUser;
    const std::wstring strSite = XTRmsNewDatabaseFile() + L".site.ini";
    // A host whose configuration brings the test's own rights: the file's
    // stand, as the first host finds the store defined.
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", server.strAdminPassword.c_str());
    ProvisionAndLogIn(strAsDba, XTRmsEngine::Postgres, config, strSite);
    // The server keeps its own policy, which its administrator changes; a
    // SQLite file follows its host's and refuses.
    SToolResult policy = RunTool(L"policy --must-change-after-reset no --history 3 --max-age-days 90" + strAsDba);
    EXPECT_EQ(policy.nExitCode, 0u) << Narrow(policy.strErr);
    for (const wchar_t* pszLine :
        {L"max-age-days            90", L"history                 3", L"must-change-after-reset no"})
        EXPECT_TRUE(Contains(policy.strOut, pszLine)) << Narrow(policy.strOut);
    EXPECT_TRUE(Contains(RunTool(L"audit --last 1" + strAsDba).strOut, L"policy-changed"));
    const std::wstring strFile = XTRmsNewDatabaseFile();
    ASSERT_EQ(RunTool(L"create" + Db(strFile)).nExitCode, 0u);
    EXPECT_EQ(RunTool(L"policy --history 3" + Db(strFile)).nExitCode, 1u);
    EXPECT_TRUE(Contains(RunTool(L"policy" + Db(strFile)).strOut, L"must-change-after-reset yes"));
    SToolResult admin = RunTool(L"add-user meg2 --role 2" + strAsDba, "Manager-Secret-3\n");
    EXPECT_EQ(admin.nExitCode, 0u) << Narrow(admin.strErr);
    // An XTRm super user on the workstation's account may administer users,
    // but not what the site's rights are.
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", server.strPassword.c_str());
    SToolResult station = RunTool(
        L"define \"" + strSite + L"\" --login meg2" + strServer + L" --user " + server.strUser, "Manager-Secret-3\n");
    SetEnvironmentVariableW(L"XTRMS_SERVER_PASSWORD", nullptr);
    EXPECT_EQ(station.nExitCode, 1u);
    EXPECT_TRUE(Contains(station.strErr, L"Only the store's administrator")) << Narrow(station.strErr);
}
