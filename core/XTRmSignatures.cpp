// Electronic signatures for the host: the signing dialog for one or two
// signers, and the check a host's command handler makes for a right that
// needs a signature.
#include <afxwin.h>

#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmSignatureDlg.h"
#include "XTRmsPasswordServiceBase.h"

#include "XTTxtsTextService.h"

namespace
{
// One showing of the signing dialog; the record only when it was signed.
bool ShowSignatureDlg(CWnd* pParent, XTRmsSessionServiceBase* pSessionService, const std::wstring& strMeaning,
    const std::vector<std::wstring>& vecReasons, const std::wstring& strSignerName, bool bSignerEditable,
    const std::wstring& strFirstSigner, XTRmsSignature& signature)
{
    XTRmSignatureDlg dlg(
        pSessionService, strMeaning, vecReasons, strSignerName, bSignerEditable, strFirstSigner, pParent);
    if (dlg.DoModal() != IDOK)
        return false;
    signature = dlg.GetSignature();
    return true;
}
} // namespace

bool XTRmRestrictionManager::SignAction(CWnd* pParent, const std::wstring& strMeaning,
    const std::vector<std::wstring>& vecReasons, XTRmsSignature* pSignature, const XTRmSignOptions& options)
{
    XTRmsSessionServiceBase* pSessionService = dynamic_cast<XTRmsSessionServiceBase*>(ms_pRestrictionManagerService);
    // A signature without a meaning states nothing: the host's mistake, not
    // the user's, so there is nothing to show him.
    if (pSessionService == nullptr || strMeaning.empty())
        return false;

    // Only the password interface knows who is logged in.
    const XTRmsPasswordServiceBase* pPasswordService = dynamic_cast<const XTRmsPasswordServiceBase*>(
        ms_pRestrictionManagerService);
    const std::wstring strLoggedInUser = pPasswordService != nullptr ? pPasswordService->GetLoggedInUserName()
                                                                     : std::wstring();
    if (strLoggedInUser.empty() && !options.bOtherSignerAllowed)
    {
        AfxMessageBox(Txts::GetString(IDS_XTRM_SIGN_LOGIN_NEEDED).c_str(), MB_OK | MB_ICONINFORMATION, 0);
        return false;
    }

    XTRmsSignature first;
    if (!ShowSignatureDlg(pParent, pSessionService, strMeaning, vecReasons, strLoggedInUser,
            options.bOtherSignerAllowed, std::wstring(), first))
        return false;

    // The second signer is always someone to name: never the first one,
    // whom the service refuses.
    XTRmsSignature second;
    if (options.bFourEyes &&
        !ShowSignatureDlg(
            pParent, pSessionService, strMeaning, vecReasons, std::wstring(), true, first.strUserName, second))
        return false;

    // Handed out only whole: half of a four-eyes action is no signature.
    if (pSignature != nullptr)
        *pSignature = first;
    if (options.bFourEyes && options.pSecondSignature != nullptr)
        *options.pSecondSignature = second;
    return true;
}

bool XTRmRestrictionManager::ConfirmCommand(
    CWnd* pParent, int nRestrictionId, const std::wstring& strMeaning, const std::vector<std::wstring>& vecReasons)
{
    // A service that knows no signatures marks no right so.
    const XTRmsSessionServiceBase* pSessionService = dynamic_cast<const XTRmsSessionServiceBase*>(
        ms_pRestrictionManagerService);
    if (pSessionService == nullptr || !pSessionService->IsSignatureRequired(nRestrictionId))
        return true;
    return SignAction(pParent, strMeaning, vecReasons, nullptr);
}
