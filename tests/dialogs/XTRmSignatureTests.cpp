// Electronic signatures through the façade, driven by the robot: who may
// sign, how a reason is given, refusals and the second signer of a four-eyes
// action, and what reaches the rights service each time.
#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmSignatureDlg.h"
#include "XTRmTestSteps.h"
#include "XTRmsScriptedFullService.h"

#include <gmock/gmock.h>

using testing::ElementsAre;
using testing::IsEmpty;

namespace
{
const int kUser = IDC_XTRM_SIGN_USER, kPassword = IDC_XTRM_SIGN_PASSWORD, kReason = IDC_XTRM_SIGN_REASON;
const std::vector<std::wstring> kReasons = {L"Approved", L"Reviewed"};

void PickReason(XTRmDialogDriver& d, int nRow)
{
    PickComboRow(d, kReason, nRow);
}
} // namespace

class XTRmSignatureTest : public testing::Test
{
protected:
    void SetUp() override
    {
        TestApp().Reset();
        XTRmRestrictionManager::SetRestrictionManagerService(&m_svc);
    }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    // Signs "Release batch 4711" with the dialogs' steps in the order they open.
    bool Sign(std::vector<XTRmUiRobot::Step> vecSteps, const XTRmSignOptions& options = XTRmSignOptions())
    {
        m_svc.vecCalls.clear();
        XTRmUiRobot robot;
        for (auto& step : vecSteps)
            robot.Expect("XTRmSignatureDlg", step);
        const bool bSigned = XTRmRestrictionManager::SignAction(
            nullptr, L"Release batch 4711", kReasons, &m_sig, options);
        EXPECT_EQ("", robot.Finish());
        return bSigned;
    }

    XTRmsScriptedFullService m_svc;
    XTRmsSignature m_sig;
};

// By default the logged-in user signs and cannot be replaced, neither by
// typing nor by a program writing into the edit; where the host allows it,
// another signer types his name. The reason is picked or typed.
TEST_F(XTRmSignatureTest, TheLoggedInUserSignsUnlessTheHostAllowsAnotherWithAReasonPickedOrTyped)
{
    struct Case
    {
        bool bOtherSigner;
        const wchar_t* pszSigner;
        int nPick; // -1: typed
        const wchar_t* pszReason;
    };
    const Case cases[] = {
        {false, L"ann", 1, L"Reviewed"},
        {false, L"ann", -1, L"Deviation 12 closed"},
        {true, L"bob", 0, L"Approved"},
        {true, L"ann", -1, L"Typed & checked"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::wstring(c.pszSigner) + L" " + c.pszReason);
        XTRmSignOptions options;
        options.bOtherSignerAllowed = c.bOtherSigner;
        EXPECT_TRUE(Sign({[&](XTRmDialogDriver& d) {
            EXPECT_EQ(Txts::GetString(IDS_XTRM_SIGN_CAPTION), d.GetCaption());
            EXPECT_EQ(Txts::GetString(IDS_XTRM_SIGN_FIRST_NOTE), d.GetText(IDC_XTRM_SIGN_NOTE));
            EXPECT_EQ(L"Release batch 4711", d.GetText(IDC_XTRM_SIGN_MEANING));
            EXPECT_EQ(L"ann", d.GetText(kUser));
            EXPECT_EQ(!c.bOtherSigner, IsReadOnly(d, kUser));
            EXPECT_EQ(kPassword, d.GetFocusId());
            EXPECT_EQ(kReasons, ComboRows(d, kReason));
            EXPECT_EQ(ES_PASSWORD, ::GetWindowLongW(::GetDlgItem(d.GetHwnd(), kPassword), GWL_STYLE) & ES_PASSWORD);
            if (c.bOtherSigner)
                d.Clear(kUser);
            d.Type(kUser, L"mallory");
            if (!c.bOtherSigner)
            {
                EXPECT_EQ(L"ann", d.GetText(kUser));
                d.SetText(kUser, L"mallory");
            }
            else
            {
                d.Clear(kUser);
                d.Type(kUser, c.pszSigner);
            }
            d.Type(kPassword, m_svc.mapPasswords[c.pszSigner]);
            EXPECT_FALSE(d.IsEnabled(IDOK));
            if (c.nPick >= 0)
                PickReason(d, c.nPick);
            else
                d.Type(kReason, c.pszReason);
            EXPECT_TRUE(d.IsEnabled(IDOK));
            d.PressOK();
        }},
            options));
        const std::wstring strPassword = m_svc.mapPasswords[c.pszSigner];
        EXPECT_THAT(m_svc.vecCalls,
            ElementsAre(std::wstring(L"Sign(") + c.pszSigner + L"," + strPassword + L",Release batch 4711," +
                c.pszReason + L",)"));
        EXPECT_EQ(c.pszSigner, m_sig.strUserName);
        EXPECT_EQ(c.pszReason, m_sig.strReason);
        EXPECT_EQ(L"Release batch 4711", m_sig.strMeaning);
        EXPECT_TRUE(TestApp().m_vecMessageBoxes.empty());
    }
}

TEST_F(XTRmSignatureTest, OkNeedsNamePasswordAndAReasonThatIsNotBlank)
{
    struct Action
    {
        int nId;
        const wchar_t* pszText;
        bool bOkEnabled;
    };
    const Action actions[] = {
        {kPassword, L"pw", false},
        {kReason, L"   ", false},
        {kReason, L"ok", true},
        {kUser, L" ", false},
        {kUser, L"bob", true},
        {kPassword, L"", false},
        {kPassword, L"pw-bob", true},
    };
    XTRmSignOptions options;
    options.bOtherSignerAllowed = true;
    EXPECT_FALSE(Sign({[&](XTRmDialogDriver& d) {
        for (const Action& a : actions)
        {
            // Typed, so that the reason's combo box notifies as it does for a person.
            d.Clear(a.nId);
            d.Type(a.nId, a.pszText);
            EXPECT_EQ(a.bOkEnabled, d.IsEnabled(IDOK)) << a.nId << " '" << a.pszText << "'";
        }
        d.SetText(kPassword, L"");
        // Enter while OK is greyed signs nothing.
        ::SendMessageW(d.GetHwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
        d.PressCancel();
    }},
        options));
    EXPECT_THAT(m_svc.vecCalls, IsEmpty());
}

TEST_F(XTRmSignatureTest, AWrongPasswordIsRefusedWithItsTextAndTheSignerTriesAgain)
{
    EXPECT_TRUE(Sign({[&](XTRmDialogDriver& d) {
        d.Type(kPassword, L"pw-bob");
        PickReason(d, 0);
        d.PressOK();
        EXPECT_THAT(BoxTexts(), ElementsAre(Txts::GetString(IDS_XTRM_SIGN_WRONG_PASSWORD)));
        EXPECT_EQ(UINT(MB_OK | MB_ICONEXCLAMATION), TestApp().m_vecMessageBoxes.at(0).nType);
        EXPECT_TRUE(::IsWindowVisible(d.GetHwnd()));
        EXPECT_EQ(L"", d.GetText(kPassword));
        EXPECT_EQ(L"Approved", d.GetText(kReason));
        EXPECT_EQ(kPassword, d.GetFocusId());
        EXPECT_FALSE(d.IsEnabled(IDOK));
        d.Type(kPassword, L"pw-ann");
        d.PressOK();
    }}));
    EXPECT_THAT(m_svc.vecCalls,
        ElementsAre(
            L"Sign(ann,pw-bob,Release batch 4711,Approved,)", L"Sign(ann,pw-ann,Release batch 4711,Approved,)"));
    EXPECT_EQ(100, m_sig.nAuditSequence);
}

// The second signer is named afresh, told whom he follows, and refused when
// he is the first one again; cancelled, the action has no signature at all.
TEST_F(XTRmSignatureTest, FourEyesNeedsASecondPersonAndHandsOutBothSignaturesOnlyWhenComplete)
{
    auto first = [](XTRmDialogDriver& d) {
        d.Type(kPassword, L"pw-ann");
        PickReason(d, 0);
        d.PressOK();
    };
    for (bool bSecondSigns : {true, false})
    {
        SCOPED_TRACE(bSecondSigns);
        TestApp().Reset();
        m_sig = XTRmsSignature();
        XTRmsSignature second;
        XTRmSignOptions options;
        options.bFourEyes = true;
        options.pSecondSignature = &second;
        const bool bSigned = Sign({first,
                                      [&](XTRmDialogDriver& d) {
                                          EXPECT_EQ(Txts::GetString(IDS_XTRM_SIGN_SECOND_CAPTION), d.GetCaption());
                                          EXPECT_NE(d.GetText(IDC_XTRM_SIGN_NOTE).find(L"ann"), std::wstring::npos);
                                          EXPECT_EQ(L"", d.GetText(kUser));
                                          EXPECT_FALSE(IsReadOnly(d, kUser));
                                          EXPECT_EQ(kUser, d.GetFocusId());
                                          d.Type(kUser, L"ann");
                                          d.Type(kPassword, L"pw-ann");
                                          PickReason(d, 1);
                                          d.PressOK();
                                          EXPECT_THAT(
                                              BoxTexts(), ElementsAre(Txts::GetString(IDS_XTRM_SIGN_SAME_SIGNER)));
                                          EXPECT_EQ(L"", d.GetText(kPassword));
                                          EXPECT_EQ(kUser, d.GetFocusId());
                                          if (!bSecondSigns)
                                              return d.PressCancel();
                                          d.Clear(kUser);
                                          d.Type(kUser, L"bob");
                                          d.Type(kPassword, L"pw-bob");
                                          d.PressOK();
                                      }},
            options);
        EXPECT_EQ(bSecondSigns, bSigned);
        std::vector<std::wstring> vecExpected = {
            L"Sign(ann,pw-ann,Release batch 4711,Approved,)", L"Sign(ann,pw-ann,Release batch 4711,Reviewed,ann)"};
        if (bSecondSigns)
            vecExpected.push_back(L"Sign(bob,pw-bob,Release batch 4711,Reviewed,ann)");
        EXPECT_EQ(vecExpected, m_svc.vecCalls);
        EXPECT_EQ(bSecondSigns ? L"ann" : L"", m_sig.strUserName);
        EXPECT_EQ(bSecondSigns ? L"bob" : L"", second.strUserName);
    }
}

// A command's right decides whether it asks for a signature; whatever cannot
// lead to a signature shows no dialog.
TEST_F(XTRmSignatureTest, ACommandAsksForASignatureOnlyWhereItsRightRequiresOne)
{
    XTRmsScriptedService plainService;
    m_svc.setSignedRights = {42};
    struct Case
    {
        XTRmsRestrictionManagerServiceBase* pService;
        int nRight;
        const char* pszAction; // "sign", "cancel" or nullptr: no dialog
        bool bConfirmed;
        std::vector<std::wstring> vecCalls;
    };
    const Case cases[] = {
        {&m_svc, 41, nullptr, true, {L"IsSignatureRequired(41)"}},
        {&plainService, 42, nullptr, true, {}},
        {&m_svc, 42, "sign", true, {L"IsSignatureRequired(42)", L"Sign(ann,pw-ann,Start the CIP cycle,Approved,)"}},
        {&m_svc, 42, "cancel", false, {L"IsSignatureRequired(42)"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.nRight) + (c.pszAction ? c.pszAction : ""));
        XTRmRestrictionManager::SetRestrictionManagerService(c.pService);
        m_svc.vecCalls.clear();
        XTRmUiRobot robot;
        if (c.pszAction != nullptr)
            robot.Expect("XTRmSignatureDlg", [&](XTRmDialogDriver& d) {
                EXPECT_EQ(L"Start the CIP cycle", d.GetText(IDC_XTRM_SIGN_MEANING));
                EXPECT_TRUE(IsReadOnly(d, kUser));
                d.Type(kPassword, L"pw-ann");
                PickReason(d, 0);
                std::string(c.pszAction) == "sign" ? d.PressOK() : d.PressCancel();
            });
        EXPECT_EQ(
            c.bConfirmed, XTRmRestrictionManager::ConfirmCommand(nullptr, c.nRight, L"Start the CIP cycle", kReasons));
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(c.vecCalls, m_svc.vecCalls);
    }
}

TEST_F(XTRmSignatureTest, NoDialogWithoutASigningServiceAMeaningOrALoggedInSigner)
{
    XTRmsScriptedService plainService;
    struct Case
    {
        XTRmsRestrictionManagerServiceBase* pService;
        const wchar_t* pszMeaning;
        const wchar_t* pszLoggedIn;
        bool bTold;
    };
    for (const Case& c : {Case{&plainService, L"Release", L"ann", false}, Case{&m_svc, L"", L"ann", false},
             Case{&m_svc, L"Release", L"", true}})
    {
        TestApp().Reset();
        XTRmRestrictionManager::SetRestrictionManagerService(c.pService);
        m_svc.strLoggedInUser = c.pszLoggedIn;
        XTRmUiRobot robot;
        EXPECT_FALSE(XTRmRestrictionManager::SignAction(nullptr, c.pszMeaning, kReasons, &m_sig));
        EXPECT_EQ("", robot.Finish());
        EXPECT_EQ(c.bTold ? std::vector<std::wstring>{Txts::GetString(IDS_XTRM_SIGN_LOGIN_NEEDED)}
                          : std::vector<std::wstring>{},
            BoxTexts());
    }
    EXPECT_THAT(m_svc.CallsNamed(L"Sign"), IsEmpty());
}

// Refused or signed, the dialog keeps no password behind.
TEST_F(XTRmSignatureTest, ThePasswordIsNotLeftInTheDialog)
{
    XTRmSignatureDlg dlg(&m_svc, L"Release", kReasons, L"ann", false, L"", nullptr);
    EXPECT_EQ(IDOK, RunModal(dlg, "XTRmSignatureDlg", [](XTRmDialogDriver& d) {
        d.Type(kPassword, L"wrong1");
        d.Type(kReason, L"r");
        d.PressOK();
        d.Type(kPassword, L"pw-ann");
        d.PressOK();
    }));
    EXPECT_EQ(L"ann", dlg.GetSignature().strUserName);
    ExpectNoSecretsIn(dlg, {L"wrong1", L"pw-ann"});
}
