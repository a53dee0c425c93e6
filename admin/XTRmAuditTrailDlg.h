// An administrator's review of the audit trail: filters (time range, user,
// event, text), the rows that match newest first a page at a time as the
// rights service's audit interface serves them, export of every matching row
// to a CSV file, and a check of the trail's hash chain. Exported so that a
// host may show it itself; the façade's ShowAuditTrailDlg first checks that
// the service has the interface and that the user may read the trail.
#pragma once

#include <afxwin.h>

#include "XTRmApi.h"
#include "XTRmsAuditServiceBase.h"

#include <string>
#include <vector>

class XTRM_API XTRmAuditTrailDlg : public CDialog
{
    DECLARE_DYNAMIC(XTRmAuditTrailDlg)

public:
    // Rows a page shows; the store is asked for one more, to know whether
    // there are older ones.
    static const size_t kPageRows = 200;
    // Rows the export asks for at a time.
    static const size_t kExportPageRows = 1000;

    XTRmAuditTrailDlg(XTRmsAuditServiceBase* pAuditService, CWnd* pParent);
    ~XTRmAuditTrailDlg() override;

    // The export's cells as a spreadsheet may read them: a text that starts
    // like a formula (=, +, -, @, tab, CR, also behind apostrophes) gets an
    // apostrophe in front, and a cell with a comma, a quote or a line break
    // is quoted. One record ends with CRLF.
    static std::wstring CsvRecord(const std::vector<std::wstring>& vecCells);

protected:
    BOOL OnInitDialog() override;

    // Where the export goes: a save-file dialog; false when the user
    // cancelled. Virtual so that a host (or a test) may choose otherwise.
    virtual bool AskExportFile(std::wstring* pstrPath);

    afx_msg void OnApply();
    afx_msg void OnOlder();
    afx_msg void OnNewer();
    afx_msg void OnExport();
    afx_msg void OnVerify();

    DECLARE_MESSAGE_MAP()

private:
    // Reads the filter fields; the service checks them.
    XTRmsAuditFilter ReadFilter() const;
    // Shows the page below nBeforeSequence (0: the newest); false, with a
    // message, when the service refused.
    bool LoadPage(long long nBeforeSequence);
    void ShowRows(const std::vector<XTRmsAuditRow>& vecRows);
    void UpdatePaging();
    void ShowError(unsigned int nTextId, const std::wstring& strDetail);
    // Every row that matches the current filter into strPath.
    bool WriteExport(const std::wstring& strPath, size_t* pnRows, std::wstring* pstrError);

    XTRmsAuditServiceBase* m_pAuditService;
    // The filter the list shows (applied, not as typed since).
    XTRmsAuditFilter m_filter;
    // The "before" sequence of each page from the newest to the one shown.
    std::vector<long long> m_vecPageStarts;
    std::vector<XTRmsAuditRow> m_vecRows;
    bool m_bHasOlder = false;
};
