#include "XTRmAdminUtil.h"

#include "XTRmsRestrictionManagerServiceBase.h"

#include <algorithm>
#include <utility>

namespace XTRmAdmin
{
std::wstring FormatText(std::wstring strText, const std::wstring& str1, const std::wstring& str2)
{
    for (const auto& arg : {std::make_pair(L"%1", &str1), std::make_pair(L"%2", &str2)})
    {
        const size_t nPos = strText.find(arg.first);
        if (nPos != std::wstring::npos)
            strText.replace(nPos, 2, *arg.second);
    }
    return strText;
}

namespace
{
const int kFrameBottomMargin = 12;
}

std::wstring FormatUserRow(const XTRmsUserInfo& user)
{
    if (user.GetFullName().empty())
        return user.GetUserNameW();
    return user.GetUserNameW() + L" [" + user.GetFullName() + L"]";
}

size_t LayoutControlColumn(CWnd& dlg, const std::vector<CButton*>& vecControls,
    const std::vector<std::wstring>& vecLabels, bool bEnableShown, CWnd& frame)
{
    const size_t nShown = std::min(vecLabels.size(), vecControls.size());
    for (size_t i = 0; i < vecControls.size(); ++i)
    {
        CButton* pControl = vecControls[i];
        if (i < nShown)
        {
            pControl->ShowWindow(SW_SHOW);
            if (bEnableShown)
                pControl->EnableWindow(TRUE);
            pControl->SetWindowText(vecLabels[i].c_str());
        }
        else
        {
            pControl->ShowWindow(SW_HIDE);
            pControl->EnableWindow(FALSE);
        }
    }

    if (nShown == 0)
    {
        frame.ShowWindow(SW_HIDE);
        return 0;
    }
    // A later layout may bring controls back after one without any.
    frame.ShowWindow(SW_SHOW);
    FitGroupFrame(dlg, frame, *vecControls[nShown - 1]);
    return nShown;
}

void FitGroupFrame(CWnd& dlg, CWnd& frame, const CWnd& lastVisibleControl)
{
    CRect rcFrame;
    frame.GetWindowRect(&rcFrame);
    dlg.ScreenToClient(&rcFrame);

    CRect rcLast;
    lastVisibleControl.GetWindowRect(&rcLast);
    dlg.ScreenToClient(&rcLast);

    rcFrame.bottom = rcLast.bottom + kFrameBottomMargin;
    frame.MoveWindow(&rcFrame, TRUE);
}
} // namespace XTRmAdmin
