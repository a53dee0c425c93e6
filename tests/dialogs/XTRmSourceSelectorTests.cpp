// The restriction source selector and the background base: options and the
// value handed back, the picture stretched over the client area (also on
// templates of the tests' own, with a small picture or none), and the drag
// band at the top.
#include "XTRmDialogTestIds.h"
#include "XTRmRestrictionSourceSelectorDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmTestSteps.h"
#include "XTRmUiRobot.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

// A dialog of the tests' own on the background base, for templates that the
// library's dialogs do not have.
class XTRmTestBackgroundDlg : public XTRmDlgBackgroundBase
{
    DECLARE_DYNAMIC(XTRmTestBackgroundDlg)
public:
    XTRmTestBackgroundDlg(UINT nTemplate, unsigned int nImageID) : XTRmDlgBackgroundBase(nTemplate, nullptr, nImageID)
    {
    }
    BOOL m_bInitDialogResult = FALSE;

protected:
    BOOL OnInitDialog() override
    {
        m_bInitDialogResult = XTRmDlgBackgroundBase::OnInitDialog();
        return m_bInitDialogResult;
    }
    CWnd* GetBackgroundImageCtrl() override { return GetDlgItem(IDC_XTRM_BACKGROUND); }
};

// CDialog: XTRmDlgBackgroundBase has no run-time class of its own.
IMPLEMENT_DYNAMIC(XTRmTestBackgroundDlg, CDialog)

namespace
{
// The exported dialog hands these values to whoever shows it.
static_assert(XTRmRestrictionSourceSelectorDlg::SelectionRetrySource == 1 &&
        XTRmRestrictionSourceSelectorDlg::SelectionRightsServer == 2,
    "the selector's choices keep their values");

struct SelectorRun
{
    INT_PTR nResult;
    int nSelection;
};

SelectorRun RunSelector(bool bOfferServer, unsigned int nImageID, std::function<void(XTRmDialogDriver&)> fnUser)
{
    XTRmRestrictionSourceSelectorDlg dlg(L"Sample Host", nullptr, bOfferServer, nImageID);
    const INT_PTR nResult = RunModal(dlg, "XTRmRestrictionSourceSelectorDlg", std::move(fnUser));
    return {nResult, dlg.GetSelection()};
}

bool operator==(const RECT& a, const RECT& b)
{
    return ::EqualRect(&a, &b) != FALSE;
}

// A left click as the modal loop hands it to PreTranslateMessage.
MSG ClickMessage(HWND hWndTarget, HWND hWndDialog, POINT ptClient)
{
    MSG msg = {};
    msg.hwnd = hWndTarget;
    msg.message = WM_LBUTTONDOWN;
    msg.wParam = MK_LBUTTON;
    msg.pt = ptClient;
    ::ClientToScreen(hWndDialog, &msg.pt);
    POINT ptTarget = msg.pt;
    ::ScreenToClient(hWndTarget, &ptTarget);
    msg.lParam = MAKELPARAM(ptTarget.x, ptTarget.y);
    return msg;
}

bool TakeDragStart(HWND hWndDialog, POINT ptExpected)
{
    MSG msg;
    if (!::PeekMessageW(&msg, hWndDialog, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE))
        return false;
    EXPECT_EQ((WPARAM)HTCAPTION, msg.wParam);
    EXPECT_EQ(MAKELPARAM(ptExpected.x, ptExpected.y), msg.lParam);
    return true;
}
} // namespace

// Retry is offered and ticked, the server only when asked for; the last
// option clicked is the choice, and Cancel or the close box end with Cancel.
TEST(XTRmSourceSelector, OffersRetrySelectedTheServerOnlyWhenAskedAndTheLastClickWins)
{
    using Sel = XTRmRestrictionSourceSelectorDlg;
    struct Case
    {
        bool bOfferServer;
        std::vector<int> vecClicks;
        void (XTRmDialogDriver::*pfnLeave)();
        INT_PTR nResult;
        int nSelection; // after OK
    };
    const Case cases[] = {
        {true, {}, &XTRmDialogDriver::PressOK, IDOK, Sel::SelectionRetrySource},
        {false, {}, &XTRmDialogDriver::PressOK, IDOK, Sel::SelectionRetrySource},
        {true, {IDC_XTRM_SOURCE_SERVER}, &XTRmDialogDriver::PressOK, IDOK, Sel::SelectionRightsServer},
        {true, {IDC_XTRM_SOURCE_SERVER, IDC_XTRM_SOURCE_RETRY}, &XTRmDialogDriver::PressOK, IDOK,
            Sel::SelectionRetrySource},
        {true, {}, &XTRmDialogDriver::PressCancel, IDCANCEL, 0},
        {true, {}, &XTRmDialogDriver::PressCloseBox, IDCANCEL, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "server offered " << c.bOfferServer << ", clicks " << c.vecClicks.size());
        SelectorRun run = RunSelector(c.bOfferServer, 0, [&](XTRmDialogDriver& d) {
            EXPECT_EQ(L"Sample Host", d.GetCaption());
            EXPECT_TRUE(d.IsVisible(IDC_XTRM_SOURCE_RETRY));
            EXPECT_TRUE(d.IsChecked(IDC_XTRM_SOURCE_RETRY));
            EXPECT_EQ(c.bOfferServer, d.IsVisible(IDC_XTRM_SOURCE_SERVER));
            for (int nId : c.vecClicks)
                d.Click(nId);
            EXPECT_TRUE(d.IsVisible(IDOK)); // clicking an option does not close the dialog
            (d.*c.pfnLeave)();
        });
        EXPECT_EQ(c.nResult, run.nResult);
        if (c.nResult == IDOK)
        {
            EXPECT_EQ(c.nSelection, run.nSelection);
        }
    }
}

TEST(XTRmDlgBackgroundBase, PictureCoversTheClientAreaWhateverItsTemplateSizeWithOrWithoutAnImage)
{
    for (UINT nTemplate : {(UINT)IDD_XTRM_SOURCE_SELECTOR, (UINT)IDD_TEST_SMALL_PICTURE})
    {
        for (unsigned int nImageID : {(unsigned int)IDB_XTRM_BACKGROUND, 0u})
        {
            SCOPED_TRACE(testing::Message() << "template " << nTemplate << ", image " << nImageID);
            XTRmTestBackgroundDlg dlg(nTemplate, nImageID);
            XTRmUiRobot robot;
            robot.Expect("XTRmTestBackgroundDlg", [&](XTRmDialogDriver& d) {
                EXPECT_TRUE(d.GetControlRect(IDC_XTRM_BACKGROUND) == d.GetClientRect());
                HWND hPicture = ::GetDlgItem(d.GetHwnd(), IDC_XTRM_BACKGROUND);
                HANDLE hImage = (HANDLE)::SendMessageW(hPicture, STM_GETIMAGE, IMAGE_BITMAP, 0);
                EXPECT_EQ(nImageID != 0, hImage != nullptr);
                d.PressOK();
            });
            EXPECT_EQ(IDOK, dlg.DoModal());
            EXPECT_EQ("", robot.Finish());
            EXPECT_TRUE(dlg.m_bInitDialogResult);
        }
    }
}

TEST(XTRmDlgBackgroundBase, TemplateWithoutThePictureControlOpensAsItIs)
{
    XTRmTestBackgroundDlg dlg(IDD_TEST_PLATFORM, IDB_XTRM_BACKGROUND);
    const INT_PTR nResult = RunModal(dlg, "XTRmTestBackgroundDlg", [](XTRmDialogDriver& d) {
        EXPECT_FALSE(d.HasControl(IDC_XTRM_BACKGROUND));
        RECT rcTemplate = {0, 0, 200, 150}; // the template's size, in dialog units
        ::MapDialogRect(d.GetHwnd(), &rcTemplate);
        EXPECT_TRUE(rcTemplate == d.GetClientRect());
        EXPECT_EQ(IDC_TEST_NUMBER, d.GetFocusId());
        d.PressCancel();
    });
    EXPECT_EQ(IDCANCEL, nResult);
    EXPECT_TRUE(dlg.m_bInitDialogResult);
}

TEST(XTRmDlgBackgroundBase, TopHundredPixelsDragTheDialogAndClicksStillReachControls)
{
    RunSelector(true, IDB_XTRM_BACKGROUND, [](XTRmDialogDriver& d) {
        HWND hDlg = d.GetHwnd();
        CWnd* pDlg = d.GetWindow();

        MSG atBandEdge = ClickMessage(hDlg, hDlg, {30, 100});
        pDlg->PreTranslateMessage(&atBandEdge);
        EXPECT_TRUE(TakeDragStart(hDlg, {30, 100}));

        MSG belowBand = ClickMessage(hDlg, hDlg, {30, 101});
        EXPECT_FALSE(pDlg->PreTranslateMessage(&belowBand));
        EXPECT_FALSE(TakeDragStart(hDlg, {30, 101}));

        // An option button moved into the band: the click drags and also
        // selects the option, as a person clicking it expects.
        HWND hServer = ::GetDlgItem(hDlg, IDC_XTRM_SOURCE_SERVER);
        ::SetWindowPos(hServer, nullptr, 20, 40, 150, 20, SWP_NOZORDER);
        MSG onOption = ClickMessage(hServer, hDlg, {25, 50});
        EXPECT_TRUE(pDlg->PreTranslateMessage(&onOption));
        EXPECT_TRUE(TakeDragStart(hDlg, {25, 50}));
        EXPECT_EQ(IDC_XTRM_SOURCE_SERVER, d.GetFocusId());
        ::SendMessageW(hServer, WM_LBUTTONUP, 0, onOption.lParam);
        EXPECT_TRUE(d.IsChecked(IDC_XTRM_SOURCE_SERVER));
        d.PressCancel();
    });
}
