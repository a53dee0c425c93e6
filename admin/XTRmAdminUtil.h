// Small helpers shared by the administration dialogs.
#pragma once

#include <afxwin.h>

#include <string>
#include <vector>

class XTRmsUserInfo;

namespace XTRmAdmin
{
// The selected row of an unsorted list as an index into the vector it shows,
// or -1 when no row is selected (or the row has no element behind it).
template <typename T>
int SelectedIndex(const CListBox& list, const std::vector<T>& vec)
{
    const int nSelection = list.GetCurSel();
    return nSelection >= 0 && static_cast<size_t>(nSelection) < vec.size() ? nSelection : -1;
}

// A text with "%1" and "%2" replaced by the values (each at its first
// place): a translation puts them wherever its language needs them. A text
// without them comes back unchanged.
std::wstring FormatText(std::wstring strText, const std::wstring& str1, const std::wstring& str2 = std::wstring());

// A user's list row: "name [full name]", or the name alone when the service
// knows no full name.
std::wstring FormatUserRow(const XTRmsUserInfo& user);

// Lays out a column of like controls in a group frame: control i shows label
// i, controls without a label are hidden and disabled, and the frame is fitted
// to the shown ones, or hidden when none is shown. Shown controls are enabled
// only when bEnableShown; otherwise they keep their state. Returns how many
// controls are shown: never more than there are controls.
size_t LayoutControlColumn(CWnd& dlg, const std::vector<CButton*>& vecControls,
    const std::vector<std::wstring>& vecLabels, bool bEnableShown, CWnd& frame);

// Fits a group frame to the column of controls it encloses: left edge, top
// edge and width stay, the bottom goes 12 pixels below the last visible
// control, all in the dialog's client coordinates.
void FitGroupFrame(CWnd& dlg, CWnd& frame, const CWnd& lastVisibleControl);
} // namespace XTRmAdmin
