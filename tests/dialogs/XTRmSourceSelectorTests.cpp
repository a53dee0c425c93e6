// The restriction source selector and the background base: options and the
// value handed back, the picture stretched over the client area (also on
// templates of the tests' own, with a small picture or none), and the drag
// band at the top.
#include "XTRmDialogTestIds.h"
#include "XTRmRestrictionSourceSelectorDlg.h"
#include "XTRmResourceIds.h"
#include "XTRmUiRobot.h"

#include <gtest/gtest.h>

#include <functional>

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
    XTRmUiRobot robot;
    robot.Expect("XTRmRestrictionSourceSelectorDlg", std::move(fnUser));
    INT_PTR nResult = dlg.DoModal();
    EXPECT_EQ("", robot.Finish());
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

TEST(XTRmSourceSelector, OffersRetrySelectedAndTheServerOnlyWhenAsked)
{
    for (bool bOfferServer : {true, false})
    {
        SelectorRun run = RunSelector(bOfferServer, 0, [&](XTRmDialogDriver& d) {
            EXPECT_EQ(L"Sample Host", d.GetCaption());
            EXPECT_TRUE(d.IsVisible(IDC_XTRM_SOURCE_RETRY));
            EXPECT_TRUE(d.IsChecked(IDC_XTRM_SOURCE_RETRY));
            EXPECT_EQ(bOfferServer, d.IsVisible(IDC_XTRM_SOURCE_SERVER));
            d.PressOK();
        });
        EXPECT_EQ(IDOK, run.nResult);
        EXPECT_EQ(XTRmRestrictionSourceSelectorDlg::SelectionRetrySource, run.nSelection);
    }
}

TEST(XTRmSourceSelector, LastClickedOptionWins)
{
    SelectorRun server = RunSelector(true, 0, [](XTRmDialogDriver& d) {
        d.Click(IDC_XTRM_SOURCE_SERVER);
        EXPECT_TRUE(d.IsVisible(IDOK)); // clicking an option does not close the dialog
        d.PressOK();
    });
    EXPECT_EQ(XTRmRestrictionSourceSelectorDlg::SelectionRightsServer, server.nSelection);

    SelectorRun retry = RunSelector(true, 0, [](XTRmDialogDriver& d) {
        d.Click(IDC_XTRM_SOURCE_SERVER);
        d.Click(IDC_XTRM_SOURCE_RETRY);
        d.PressOK();
    });
    EXPECT_EQ(XTRmRestrictionSourceSelectorDlg::SelectionRetrySource, retry.nSelection);
}

TEST(XTRmSourceSelector, CancelAndCloseBoxEndWithCancel)
{
    EXPECT_EQ(IDCANCEL, RunSelector(true, 0, [](XTRmDialogDriver& d) { d.PressCancel(); }).nResult);
    EXPECT_EQ(IDCANCEL, RunSelector(true, 0, [](XTRmDialogDriver& d) { d.PressCloseBox(); }).nResult);
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
    XTRmUiRobot robot;
    robot.Expect("XTRmTestBackgroundDlg", [](XTRmDialogDriver& d) {
        EXPECT_FALSE(d.HasControl(IDC_XTRM_BACKGROUND));
        RECT rcTemplate = {0, 0, 200, 150}; // the template's size, in dialog units
        ::MapDialogRect(d.GetHwnd(), &rcTemplate);
        EXPECT_TRUE(rcTemplate == d.GetClientRect());
        EXPECT_EQ(IDC_TEST_NUMBER, d.GetFocusId());
        d.PressCancel();
    });
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ("", robot.Finish());
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
