// Small steps and observations that several suites share: drop-down lists
// (the robot drives list boxes only), the texts of the recorded message
// boxes, texts with "%1"/"%2" filled in, and secrets left in a dialog object.
#pragma once

#include "XTRmTestApp.h"
#include "XTRmUiRobot.h"

#include "XTTxtsTextService.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

// Runs a dialog the test made itself under the robot, with one step in it.
template <typename Dialog>
INT_PTR RunModal(Dialog& dlg, const char* pszClass, XTRmUiRobot::Step fnStep)
{
    XTRmUiRobot robot;
    robot.Expect(pszClass, std::move(fnStep));
    const INT_PTR nResult = dlg.DoModal();
    EXPECT_EQ("", robot.Finish());
    return nResult;
}

// A drop-down pick as a person makes it, notified as the combo box does;
// refused while the list is disabled or hidden.
inline void PickComboRow(XTRmDialogDriver& d, int nId, int nRow)
{
    if (!d.IsEnabled(nId) || !d.IsVisible(nId))
        return d.Fail("combo box " + std::to_string(nId) + " cannot be picked from");
    d.Focus(nId);
    HWND hCombo = ::GetDlgItem(d.GetHwnd(), nId);
    ::SendMessageW(hCombo, CB_SETCURSEL, nRow, 0);
    ::SendMessageW(d.GetHwnd(), WM_COMMAND, MAKEWPARAM(nId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(hCombo));
}

inline std::vector<std::wstring> ComboRows(const XTRmDialogDriver& d, int nId)
{
    HWND hCombo = ::GetDlgItem(d.GetHwnd(), nId);
    std::vector<std::wstring> vecRows((size_t)::SendMessageW(hCombo, CB_GETCOUNT, 0, 0));
    for (size_t i = 0; i < vecRows.size(); ++i)
    {
        vecRows[i].resize((size_t)::SendMessageW(hCombo, CB_GETLBTEXTLEN, i, 0) + 1);
        vecRows[i].resize((size_t)::SendMessageW(hCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&vecRows[i][0])));
    }
    return vecRows;
}

inline bool IsReadOnly(const XTRmDialogDriver& d, int nId)
{
    return (::GetWindowLongW(::GetDlgItem(d.GetHwnd(), nId), GWL_STYLE) & ES_READONLY) != 0;
}

// The texts of the message boxes recorded since the test app's last reset.
inline std::vector<std::wstring> BoxTexts()
{
    std::vector<std::wstring> vecTexts;
    for (const XTRmRecordedMessageBox& box : TestApp().m_vecMessageBoxes)
        vecTexts.push_back(box.strText);
    return vecTexts;
}

// A text of the host's resources with its "%1" and "%2" filled in.
inline std::wstring Formatted(unsigned int nTextId, const std::wstring& str1, const std::wstring& str2 = {})
{
    std::wstring strText = Txts::GetString(nTextId);
    for (const auto& part : {std::make_pair(L"%1", &str1), std::make_pair(L"%2", &str2)})
    {
        const size_t nPos = strText.find(part.first);
        if (nPos != std::wstring::npos)
            strText.replace(nPos, 2, *part.second);
    }
    return strText;
}

// Short secrets live inside the strings' own buffers, inside the object,
// where the test can look for them after the dialog closed.
template <typename Dialog>
void ExpectNoSecretsIn(const Dialog& dlg, std::initializer_list<const wchar_t*> secrets)
{
    const std::wstring strObject(reinterpret_cast<const wchar_t*>(&dlg), sizeof(dlg) / sizeof(wchar_t));
    for (const wchar_t* pszSecret : secrets)
        EXPECT_EQ(strObject.find(pszSecret), std::wstring::npos) << "a password stayed in the dialog";
}
