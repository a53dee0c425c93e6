// The audit trail dialog, opened through the façade as a host's menu command
// opens it and driven by the robot: what the administrator sees, what
// reaches the service's audit interface, and what the export writes.
#include "XTRmAdminTestFixture.h"

#include "XTRmAuditTrailDlg.h"
#include "XTRmTestSteps.h"
#include "XTRmsScriptedFullService.h"

#include <fstream>
#include <iterator>
#include <sstream>

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
// Rows 1..nRows: odd ones logins, even ones rights granted.
void MakeTrail(XTRmsScriptedFullService& svc, long long nRows)
{
    for (long long n = 1; n <= nRows; ++n)
        svc.vecTrail.push_back({n, L"2027-01-15T08:00:00Z", L"WS1", L"op", L"admin",
            n % 2 ? L"login" : L"right-granted", L"user" + std::to_wstring(n), L""});
}

std::vector<std::wstring> AuditCalls(const XTRmsScriptedService& svc)
{
    return svc.CallsNamed({L"QueryAudit", L"VerifyAuditTrail"});
}

const int kList = IDC_XTRM_AUDIT_LIST;

// The sequence numbers of the rows shown, first and last, and how many.
std::wstring Shown(const XTRmDialogDriver& d)
{
    std::vector<std::wstring> vecRows = d.GetListRows(kList);
    if (vecRows.empty())
        return L"none";
    auto seq = [](const std::wstring& strRow) { return strRow.substr(0, strRow.find(L'\t')); };
    return seq(vecRows.front()) + L".." + seq(vecRows.back()) + L" (" + std::to_wstring(vecRows.size()) + L")";
}

// The dialog with the export's file chosen by the test instead of a
// save-file dialog.
class XTRmAuditTrailTestDlg : public XTRmAuditTrailDlg
{
public:
    XTRmAuditTrailTestDlg(XTRmsAuditServiceBase* pService, std::wstring strPath)
        : XTRmAuditTrailDlg(pService, nullptr), m_strPath(std::move(strPath))
    {
    }

protected:
    bool AskExportFile(std::wstring* pstrPath) override
    {
        *pstrPath = m_strPath;
        return true;
    }

private:
    std::wstring m_strPath;
};
} // namespace

class XTRmAuditTrailTest : public testing::Test
{
protected:
    void SetUp() override
    {
        XTRmRestrictionManager::SetRestrictionManagerService(&m_svc);
        TestApp().Reset();
        TestApp().m_bShowRealMessageBoxes = true;
    }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    XTRmsScriptedFullService m_svc;
};

TEST_F(XTRmAuditTrailTest, NothingWithoutTheInterfaceAndAMessageForNonAdministrators)
{
    XTRmsScriptedService plain;
    XTRmRestrictionManager::SetRestrictionManagerService(&plain);
    XTRmUiRobot silent;
    XTRmRestrictionManager::ShowAuditTrailDlg(nullptr);
    EXPECT_EQ(silent.Finish(), "");

    XTRmRestrictionManager::SetRestrictionManagerService(&m_svc);
    m_svc.bCanReadAudit = false;
    MakeTrail(m_svc, 3);
    XTRmUiRobot robot;
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        EXPECT_EQ(box.GetMessageText(), Txts::GetString(IDS_XTRM_AUDIT_NOT_PERMITTED));
        box.PressOK();
    });
    XTRmRestrictionManager::ShowAuditTrailDlg(nullptr);
    EXPECT_EQ(robot.Finish(), "");
    EXPECT_THAT(AuditCalls(m_svc), IsEmpty()) << "not a row read for a non-administrator";
}

TEST_F(XTRmAuditTrailTest, PagesComeFromTheServiceAndTheFilterReachesIt)
{
    MakeTrail(m_svc, 450);
    XTRmUiRobot robot;
    robot.Expect("XTRmAuditTrailDlg", [this](XTRmDialogDriver& d) {
        // The newest page, and one row more asked for to know of older ones.
        EXPECT_EQ(Shown(d), L"450..251 (200)");
        EXPECT_EQ(
            d.GetListRows(kList).front(), L"450\t2027-01-15T08:00:00Z\tadmin\tright-granted\tuser450\t [WS1\\op]");
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_AUDIT_NEWER));
        EXPECT_TRUE(d.IsEnabled(IDC_XTRM_AUDIT_OLDER));
        EXPECT_EQ(d.GetText(IDC_XTRM_AUDIT_PAGE_INFO), Formatted(IDS_XTRM_AUDIT_PAGE, L"1", L"200"));
        d.Click(IDC_XTRM_AUDIT_OLDER);
        EXPECT_EQ(Shown(d), L"250..51 (200)");
        d.Click(IDC_XTRM_AUDIT_OLDER);
        EXPECT_EQ(Shown(d), L"50..1 (50)");
        EXPECT_EQ(d.GetText(IDC_XTRM_AUDIT_PAGE_INFO), Formatted(IDS_XTRM_AUDIT_PAGE, L"401", L"450"));
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_AUDIT_OLDER)) << "nothing older than row 1";
        d.Click(IDC_XTRM_AUDIT_NEWER);
        EXPECT_EQ(Shown(d), L"250..51 (200)");
        EXPECT_TRUE(d.IsEnabled(IDC_XTRM_AUDIT_NEWER));

        // A filter starts again at the newest matching row.
        d.Type(IDC_XTRM_AUDIT_FROM, L" 2027-01-15 ");
        d.Type(IDC_XTRM_AUDIT_TO, L"2027-01-16T12:00");
        d.Type(IDC_XTRM_AUDIT_USER, L"admin");
        d.Type(IDC_XTRM_AUDIT_EVENT, L"right-granted");
        d.Type(IDC_XTRM_AUDIT_TEXT, L"user");
        d.Click(IDC_XTRM_AUDIT_APPLY);
        EXPECT_EQ(Shown(d), L"450..52 (200)");
        EXPECT_FALSE(d.IsEnabled(IDC_XTRM_AUDIT_NEWER));
        EXPECT_TRUE(d.IsEnabled(IDC_XTRM_AUDIT_OLDER));
        d.Click(IDC_XTRM_AUDIT_OLDER);
        EXPECT_EQ(Shown(d), L"50..2 (25)");

        // A filter the service refuses: its reason, and the list as it was.
        m_svc.strAuditRefusal = L"The start of the time range must be an ISO 8601 date.";
        d.SetText(IDC_XTRM_AUDIT_FROM, L"15.01.2027");
        d.Click(IDC_XTRM_AUDIT_APPLY);
        EXPECT_EQ(Shown(d), L"50..2 (25)");
        d.PressCancel();
    });
    robot.ExpectMessageBox([](XTRmDialogDriver& box) {
        EXPECT_EQ(box.GetMessageText(),
            Formatted(IDS_XTRM_AUDIT_QUERY_FAILED, L"The start of the time range must be an ISO 8601 date."));
        box.PressOK();
    });
    XTRmRestrictionManager::ShowAuditTrailDlg(nullptr);
    EXPECT_EQ(robot.Finish(), "");
    EXPECT_THAT(AuditCalls(m_svc),
        ElementsAre(L"QueryAudit(||||,0,201)", L"QueryAudit(||||,251,201)", L"QueryAudit(||||,51,201)",
            L"QueryAudit(||||,251,201)", L"QueryAudit(2027-01-15|2027-01-16T12:00|admin|right-granted|user,0,201)",
            L"QueryAudit(2027-01-15|2027-01-16T12:00|admin|right-granted|user,52,201)",
            L"QueryAudit(15.01.2027|2027-01-16T12:00|admin|right-granted|user,0,201)"));
}

TEST_F(XTRmAuditTrailTest, ExportWritesEveryMatchingRowFormulaSafe)
{
    MakeTrail(m_svc, 2500); // 1250 logins: more than one page of the export
    m_svc.vecTrail[2498].strSubject = L"=HYPERLINK(\"http://x\")";
    m_svc.vecTrail[2496].strActor = L"@SUM(A1)";
    m_svc.vecTrail[2494].strDetail = L"'-2+3";
    m_svc.vecTrail[2492].strSubject = L"a,b \"c\"";
    wchar_t szTemp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    const std::wstring strPath = std::wstring(szTemp) + L"xtrm-audit-export.csv";
    ::DeleteFileW(strPath.c_str());

    XTRmUiRobot robot;
    robot.Expect("XTRmAuditTrailDlg", [](XTRmDialogDriver& d) {
        d.Type(IDC_XTRM_AUDIT_EVENT, L"login");
        d.Click(IDC_XTRM_AUDIT_APPLY);
        // Typed but not applied: the export writes what the list shows.
        d.Type(IDC_XTRM_AUDIT_TEXT, L"user1");
        d.Click(IDC_XTRM_AUDIT_EXPORT);
        d.PressCancel();
    });
    robot.ExpectMessageBox([&](XTRmDialogDriver& box) {
        EXPECT_EQ(box.GetMessageText(), Formatted(IDS_XTRM_AUDIT_EXPORTED, L"1250", strPath));
        box.PressOK();
    });
    XTRmAuditTrailTestDlg dlg(&m_svc, strPath);
    dlg.DoModal();
    EXPECT_EQ(robot.Finish(), "");
    const std::vector<std::wstring> vecCalls = AuditCalls(m_svc);
    EXPECT_THAT(std::vector<std::wstring>(vecCalls.begin() + 2, vecCalls.end()),
        ElementsAre(L"QueryAudit(|||login|,0,1000)", L"QueryAudit(|||login|,501,1000)"));

    std::ifstream file(strPath.c_str(), std::ios::binary);
    const std::string strCsv((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    ::DeleteFileW(strPath.c_str());
    ASSERT_EQ(strCsv.rfind("\xEF\xBB\xBF"
                           "sequence,time_utc,workstation,os_user,actor,event,subject,detail\r\n",
                  0),
        0u);
    std::vector<std::string> vecLines;
    std::istringstream lines(strCsv);
    for (std::string strLine; std::getline(lines, strLine);)
        vecLines.push_back(strLine);
    ASSERT_EQ(vecLines.size(), 1251u);
    EXPECT_EQ(vecLines[1], "2499,2027-01-15T08:00:00Z,WS1,op,admin,login,\"'=HYPERLINK(\"\"http://x\"\")\",\r");
    EXPECT_EQ(vecLines[2], "2497,2027-01-15T08:00:00Z,WS1,op,'@SUM(A1),login,user2497,\r");
    EXPECT_EQ(vecLines[3], "2495,2027-01-15T08:00:00Z,WS1,op,admin,login,user2495,''-2+3\r");
    EXPECT_EQ(vecLines[4], "2493,2027-01-15T08:00:00Z,WS1,op,admin,login,\"a,b \"\"c\"\"\",\r");
    EXPECT_EQ(vecLines.back(), "1,2027-01-15T08:00:00Z,WS1,op,admin,login,user1,\r");
}

TEST_F(XTRmAuditTrailTest, VerifyShowsTheResult)
{
    const struct
    {
        bool bReadable;
        bool bIntact;
        const wchar_t* pszProblem;
        std::wstring strShown;
    } cases[] = {
        {true, true, L"", Txts::GetString(IDS_XTRM_AUDIT_INTACT)},
        {true, false, L"audit row 17 was changed", Formatted(IDS_XTRM_AUDIT_BROKEN, L"audit row 17 was changed")},
        {false, false, L"The store cannot be reached.",
            Formatted(IDS_XTRM_AUDIT_VERIFY_FAILED, L"The store cannot be reached.")},
    };
    MakeTrail(m_svc, 5);
    for (const auto& c : cases)
    {
        m_svc.bVerifyReadable = c.bReadable;
        m_svc.bVerifyIntact = c.bIntact;
        m_svc.strVerifyProblem = c.pszProblem;
        m_svc.vecCalls.clear();
        XTRmUiRobot robot;
        robot.Expect("XTRmAuditTrailDlg", [&](XTRmDialogDriver& d) {
            EXPECT_EQ(d.GetText(IDC_XTRM_AUDIT_VERIFY_RESULT), L"");
            d.Click(IDC_XTRM_AUDIT_VERIFY);
            EXPECT_EQ(d.GetText(IDC_XTRM_AUDIT_VERIFY_RESULT), c.strShown);
            d.PressCancel();
        });
        XTRmRestrictionManager::ShowAuditTrailDlg(nullptr);
        EXPECT_EQ(robot.Finish(), "");
        EXPECT_EQ(AuditCalls(m_svc).back(), L"VerifyAuditTrail()");
    }
}
