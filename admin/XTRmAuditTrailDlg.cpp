#include "XTRmAuditTrailDlg.h"

#include "XTRmAdminUtil.h"
#include "XTRmResourceIds.h"

#include "XTTxtsTextService.h"

#include <commdlg.h>

namespace
{
// Column starts of the list in dialog units, the same as the headings'
// positions in the template.
const int kTabStops[] = {30, 116, 176, 246, 306};

const int kFilterEdits[] = {
    IDC_XTRM_AUDIT_FROM, IDC_XTRM_AUDIT_TO, IDC_XTRM_AUDIT_USER, IDC_XTRM_AUDIT_EVENT, IDC_XTRM_AUDIT_TEXT};
// The longest filter the service takes (the text); a longer one is cut by
// the edit, not refused after typing.
const int kMaxFilterLength = 512;

// The texts carry "%1" and "%2" where the values go, so that a translation
// can put them wherever its language needs them.
std::wstring FormatText(unsigned int nTextId, const std::wstring& str1, const std::wstring& str2 = std::wstring())
{
    return XTRmAdmin::FormatText(Txts::GetString(nTextId), str1, str2);
}

// A stored name holds no tab or line break that could shift the columns of
// its row (the service refuses them, but the list does not rely on that).
std::wstring Cell(std::wstring strText)
{
    for (wchar_t& ch : strText)
    {
        if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F))
            ch = L'?';
    }
    return strText;
}

std::vector<std::wstring> ExportCells(const XTRmsAuditRow& row)
{
    return {std::to_wstring(row.nSequence), row.strTimeUtc, row.strWorkstation, row.strOsUser, row.strActor,
        row.strEvent, row.strSubject, row.strDetail};
}

bool WriteUtf8(HANDLE hFile, const std::wstring& strText)
{
    if (strText.empty())
        return true;
    const int nBytes = ::WideCharToMultiByte(
        CP_UTF8, 0, strText.c_str(), static_cast<int>(strText.size()), nullptr, 0, nullptr, nullptr);
    std::string strUtf8(static_cast<size_t>(nBytes), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, strText.c_str(), static_cast<int>(strText.size()), &strUtf8[0], nBytes, nullptr, nullptr);
    DWORD nWritten = 0;
    return ::WriteFile(hFile, strUtf8.data(), static_cast<DWORD>(strUtf8.size()), &nWritten, nullptr) &&
        nWritten == strUtf8.size();
}
} // namespace

IMPLEMENT_DYNAMIC(XTRmAuditTrailDlg, CDialog)

BEGIN_MESSAGE_MAP(XTRmAuditTrailDlg, CDialog)
ON_BN_CLICKED(IDC_XTRM_AUDIT_APPLY, &XTRmAuditTrailDlg::OnApply)
ON_BN_CLICKED(IDC_XTRM_AUDIT_OLDER, &XTRmAuditTrailDlg::OnOlder)
ON_BN_CLICKED(IDC_XTRM_AUDIT_NEWER, &XTRmAuditTrailDlg::OnNewer)
ON_BN_CLICKED(IDC_XTRM_AUDIT_EXPORT, &XTRmAuditTrailDlg::OnExport)
ON_BN_CLICKED(IDC_XTRM_AUDIT_VERIFY, &XTRmAuditTrailDlg::OnVerify)
END_MESSAGE_MAP()

XTRmAuditTrailDlg::XTRmAuditTrailDlg(XTRmsAuditServiceBase* pAuditService, CWnd* pParent)
    : CDialog(IDD_XTRM_AUDIT_TRAIL, pParent), m_pAuditService(pAuditService)
{
}

XTRmAuditTrailDlg::~XTRmAuditTrailDlg() = default;

std::wstring XTRmAuditTrailDlg::CsvRecord(const std::vector<std::wstring>& vecCells)
{
    std::wstring strRecord;
    for (size_t i = 0; i < vecCells.size(); ++i)
    {
        std::wstring strCell = vecCells[i];
        // What a spreadsheet takes for the start of a formula (OWASP, CSV
        // injection), also behind apostrophes a reader might strip.
        const size_t nFirst = strCell.find_first_not_of(L'\'');
        if (nFirst != std::wstring::npos && std::wstring(L"=+-@\t\r").find(strCell[nFirst]) != std::wstring::npos)
            strCell.insert(strCell.begin(), L'\'');
        if (strCell.find_first_of(L",\"\r\n") != std::wstring::npos)
        {
            std::wstring strQuoted = L"\"";
            for (wchar_t ch : strCell)
            {
                strQuoted += ch;
                if (ch == L'"')
                    strQuoted += L'"';
            }
            strCell = strQuoted + L"\"";
        }
        if (i > 0)
            strRecord += L',';
        strRecord += strCell;
    }
    return strRecord + L"\r\n";
}

BOOL XTRmAuditTrailDlg::OnInitDialog()
{
    const BOOL bResult = CDialog::OnInitDialog();
    SendDlgItemMessage(IDC_XTRM_AUDIT_LIST, LB_SETTABSTOPS, sizeof(kTabStops) / sizeof(kTabStops[0]),
        reinterpret_cast<LPARAM>(kTabStops));
    SetDlgItemText(IDC_XTRM_AUDIT_VERIFY_RESULT, L"");
    for (int nId : kFilterEdits)
        SendDlgItemMessage(nId, EM_LIMITTEXT, kMaxFilterLength, 0);
    // The newest rows of the whole trail, as a reviewer starts.
    m_vecPageStarts.assign(1, 0);
    if (!LoadPage(0))
        UpdatePaging();
    return bResult;
}

XTRmsAuditFilter XTRmAuditTrailDlg::ReadFilter() const
{
    std::vector<std::wstring> vecFields;
    for (int nId : kFilterEdits)
    {
        wchar_t szText[kMaxFilterLength + 2] = {};
        GetDlgItemText(nId, szText, kMaxFilterLength + 2);
        std::wstring strField(szText);
        // Spaces typed around a value are never meant.
        const size_t nFirst = strField.find_first_not_of(L" \t");
        const size_t nLast = strField.find_last_not_of(L" \t");
        vecFields.push_back(
            nFirst == std::wstring::npos ? std::wstring() : strField.substr(nFirst, nLast - nFirst + 1));
    }
    XTRmsAuditFilter filter;
    filter.strFromUtc = vecFields[0];
    filter.strToUtc = vecFields[1];
    filter.strUser = vecFields[2];
    filter.strEvent = vecFields[3];
    filter.strText = vecFields[4];
    return filter;
}

bool XTRmAuditTrailDlg::LoadPage(long long nBeforeSequence)
{
    std::vector<XTRmsAuditRow> vecRows;
    std::wstring strError;
    if (!m_pAuditService->QueryAudit(m_filter, nBeforeSequence, kPageRows + 1, &vecRows, &strError))
    {
        ShowError(IDS_XTRM_AUDIT_QUERY_FAILED, strError);
        return false;
    }
    m_bHasOlder = vecRows.size() > kPageRows;
    if (m_bHasOlder)
        vecRows.resize(kPageRows);
    ShowRows(vecRows);
    m_vecRows.swap(vecRows);
    UpdatePaging();
    return true;
}

void XTRmAuditTrailDlg::ShowRows(const std::vector<XTRmsAuditRow>& vecRows)
{
    SendDlgItemMessage(IDC_XTRM_AUDIT_LIST, WM_SETREDRAW, FALSE, 0);
    SendDlgItemMessage(IDC_XTRM_AUDIT_LIST, LB_RESETCONTENT, 0, 0);
    for (const XTRmsAuditRow& row : vecRows)
    {
        const std::wstring strRow = std::to_wstring(row.nSequence) + L"\t" + Cell(row.strTimeUtc) + L"\t" +
            Cell(row.strActor) + L"\t" + Cell(row.strEvent) + L"\t" + Cell(row.strSubject) + L"\t" +
            Cell(row.strDetail) + L" [" + Cell(row.strWorkstation) + L"\\" + Cell(row.strOsUser) + L"]";
        SendDlgItemMessage(IDC_XTRM_AUDIT_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(strRow.c_str()));
    }
    SendDlgItemMessage(IDC_XTRM_AUDIT_LIST, WM_SETREDRAW, TRUE, 0);
    GetDlgItem(IDC_XTRM_AUDIT_LIST)->Invalidate();
}

void XTRmAuditTrailDlg::UpdatePaging()
{
    const size_t nFirst = (m_vecPageStarts.size() - 1) * kPageRows + 1;
    SetDlgItemText(IDC_XTRM_AUDIT_PAGE_INFO,
        m_vecRows.empty()
            ? Txts::GetString(IDS_XTRM_AUDIT_NO_ROWS).c_str()
            : FormatText(IDS_XTRM_AUDIT_PAGE, std::to_wstring(nFirst), std::to_wstring(nFirst + m_vecRows.size() - 1))
                  .c_str());
    GetDlgItem(IDC_XTRM_AUDIT_NEWER)->EnableWindow(m_vecPageStarts.size() > 1);
    GetDlgItem(IDC_XTRM_AUDIT_OLDER)->EnableWindow(m_bHasOlder);
    GetDlgItem(IDC_XTRM_AUDIT_EXPORT)->EnableWindow(!m_vecRows.empty());
}

void XTRmAuditTrailDlg::ShowError(unsigned int nTextId, const std::wstring& strDetail)
{
    AfxMessageBox(FormatText(nTextId, strDetail).c_str(), MB_OK | MB_ICONEXCLAMATION, 0);
}

void XTRmAuditTrailDlg::OnApply()
{
    // A filter the service refuses leaves the list as it was, with the
    // filter it shows.
    XTRmsAuditFilter previous = m_filter;
    m_filter = ReadFilter();
    if (!LoadPage(0))
    {
        m_filter = previous;
        return;
    }
    m_vecPageStarts.assign(1, 0);
    UpdatePaging();
}

void XTRmAuditTrailDlg::OnOlder()
{
    if (!m_bHasOlder || m_vecRows.empty())
        return;
    const long long nBefore = m_vecRows.back().nSequence;
    m_vecPageStarts.push_back(nBefore);
    if (!LoadPage(nBefore))
        m_vecPageStarts.pop_back();
}

void XTRmAuditTrailDlg::OnNewer()
{
    if (m_vecPageStarts.size() < 2)
        return;
    const long long nSaved = m_vecPageStarts.back();
    m_vecPageStarts.pop_back();
    if (!LoadPage(m_vecPageStarts.back()))
        m_vecPageStarts.push_back(nSaved);
}

bool XTRmAuditTrailDlg::AskExportFile(std::wstring* pstrPath)
{
    wchar_t szPath[MAX_PATH] = L"audit-trail.csv";
    std::wstring strFilter = Txts::GetString(IDS_XTRM_AUDIT_CSV_FILTER);
    // The resource separates the filter's parts with '|', as MFC's file
    // dialog takes them; the common dialog wants NULs.
    for (wchar_t& ch : strFilter)
    {
        if (ch == L'|')
            ch = L'\0';
    }
    strFilter.push_back(L'\0');
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = strFilter.c_str();
    ofn.lpstrFile = szPath;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"csv";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!::GetSaveFileNameW(&ofn))
        return false;
    *pstrPath = szPath;
    return true;
}

bool XTRmAuditTrailDlg::WriteExport(const std::wstring& strPath, size_t* pnRows, std::wstring* pstrError)
{
    *pnRows = 0;
    HANDLE hFile = ::CreateFileW(
        strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    // A byte order mark, so that spreadsheets read the names right.
    bool bOk = WriteUtf8(hFile, L"\xFEFF") &&
        WriteUtf8(hFile,
            CsvRecord(
                {L"sequence", L"time_utc", L"workstation", L"os_user", L"actor", L"event", L"subject", L"detail"}));
    // Every matching row, a page at a time from the store: never the whole
    // trail in memory, and the filter the list shows, not what was typed
    // since.
    long long nBefore = 0;
    while (bOk)
    {
        std::vector<XTRmsAuditRow> vecRows;
        if (!m_pAuditService->QueryAudit(m_filter, nBefore, kExportPageRows, &vecRows, pstrError))
        {
            if (pstrError->empty())
                *pstrError = L"?"; // still the store's failure, not the file's
            bOk = false;
            break;
        }
        std::wstring strPage;
        for (const XTRmsAuditRow& row : vecRows)
            strPage += CsvRecord(ExportCells(row));
        bOk = WriteUtf8(hFile, strPage);
        *pnRows += vecRows.size();
        if (vecRows.size() < kExportPageRows)
            break;
        nBefore = vecRows.back().nSequence;
    }
    ::CloseHandle(hFile);
    if (!bOk)
        ::DeleteFileW(strPath.c_str()); // half a trail would read as the whole
    return bOk;
}

void XTRmAuditTrailDlg::OnExport()
{
    std::wstring strPath;
    if (!AskExportFile(&strPath))
        return;
    size_t nRows = 0;
    std::wstring strError;
    if (!WriteExport(strPath, &nRows, &strError))
    {
        // The store's refusal, or the file's.
        if (!strError.empty())
            ShowError(IDS_XTRM_AUDIT_QUERY_FAILED, strError);
        else
            ShowError(IDS_XTRM_AUDIT_EXPORT_FAILED, strPath);
        return;
    }
    AfxMessageBox(
        FormatText(IDS_XTRM_AUDIT_EXPORTED, std::to_wstring(nRows), strPath).c_str(), MB_OK | MB_ICONINFORMATION, 0);
}

void XTRmAuditTrailDlg::OnVerify()
{
    CWaitCursor wait;
    bool bIntact = false;
    std::wstring strProblem;
    std::wstring strResult;
    if (!m_pAuditService->VerifyAuditTrail(&bIntact, &strProblem))
        strResult = FormatText(IDS_XTRM_AUDIT_VERIFY_FAILED, strProblem);
    else if (bIntact)
        strResult = Txts::GetString(IDS_XTRM_AUDIT_INTACT);
    else
        strResult = FormatText(IDS_XTRM_AUDIT_BROKEN, strProblem);
    SetDlgItemText(IDC_XTRM_AUDIT_VERIFY_RESULT, strResult.c_str());
}
