// What the administration tests share: a scripted service set into the façade,
// the operating-system user's name, and a way to open the user management
// dialog under the robot.
#pragma once

#include "XTRmResourceIds.h"
#include "XTRmRestrictionManager.h"
#include "XTRmTestApp.h"
#include "XTRmUiRobot.h"
#include "XTRmsScriptedService.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTTxtsTextService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Check box i of the user management dialog.
inline int CheckId(int i)
{
    return IDC_XTRM_RESTRICTION_CHECK1 + 2 * i;
}

// The user management dialog's frame text for a selected user.
inline std::wstring RightsFrameText(const std::wstring& strUser)
{
    return Txts::GetString(IDS_XTRM_RIGHTS_OF_USER) + strUser + L" ";
}

// The three ways a person closes a dialog without confirming it.
enum class CloseWay
{
    Button,
    Escape, // posted: acts after the step returns
    CloseBox
};

inline void CloseDialog(XTRmDialogDriver& d, CloseWay way)
{
    switch (way)
    {
    case CloseWay::Button:
        d.PressCancel();
        break;
    case CloseWay::Escape:
        d.PressEscape();
        break;
    case CloseWay::CloseBox:
        d.PressCloseBox();
        break;
    }
}

class XTRmAdminTest : public testing::Test
{
protected:
    void SetUp() override
    {
        XTGenUserInfo::Instance().GetCurrentUserName(&m_strOsUser);
        XTRmRestrictionManager::SetRestrictionManagerService(&m_svc);
    }
    void TearDown() override { XTRmRestrictionManager::SetRestrictionManagerService(nullptr); }

    // Definitions with ids unlike their positions, so that an index passed for
    // an id shows.
    void Definitions(int nCount)
    {
        m_svc.vecDefinitions.clear();
        for (int i = 0; i < nCount; ++i)
            m_svc.vecDefinitions.emplace_back(500 + 7 * i, L"Right no. " + std::to_wstring(i + 1));
    }
    // Defined users and their saved state.
    void DefinedUsers(std::vector<XTRmsUserInfo> vecUsers)
    {
        m_svc.vecDefinedUsers = std::move(vecUsers);
        m_svc.MarkProfilesSaved();
    }

    // Opens the user management dialog through the façade; the steps run in
    // the order the dialogs open (first the user management dialog itself).
    std::string ShowUserManagement(
        bool bEditAllowed, bool bViewOnly, std::vector<std::pair<std::string, XTRmUiRobot::Step>> vecSteps)
    {
        XTRmUiRobot robot;
        for (auto& step : vecSteps)
            robot.Expect(step.first, step.second);
        XTRmRestrictionManager::ShowUserManagementDlg(bEditAllowed, bViewOnly, nullptr);
        return robot.Finish();
    }
    std::string ShowUserManagement(XTRmUiRobot::Step fnStep)
    {
        return ShowUserManagement(true, false, {{"XTRmUserManagementDlg", fnStep}});
    }

    XTRmsScriptedService m_svc;
    std::wstring m_strOsUser;
};
