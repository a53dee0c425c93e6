// The host libraries and message boxes as the library relies on them.
#include "XTRmResourceIds.h"
#include "XTRmTestApp.h"

#include "XTGenLibrary.h"
#include "XTGuiLibrary.h"
#include "XTTxtsTextService.h"

#include <gtest/gtest.h>

TEST(XTRmTextService, TextsComeFromTheHostResourcesByIdAndUnknownIdsGiveEmptyTexts)
{
    EXPECT_EQ(Txts::GetString(IDS_XTRM_LOGIN_CAPTION), L"Log in");
    EXPECT_EQ(Gui::LoadStringW(IDS_XTRM_ROLE_FOR_USER), L"Role for ");
    EXPECT_EQ(Txts::GetString(IDS_XTRM_NO_SERVER_MESSAGE), L"no reason given");
    EXPECT_EQ(Txts::GetString(7296), L"");
    EXPECT_EQ(Gui::LoadStringW(0xFFFF), L"");
}

TEST(XTRmMessageBoxes, EveryMessageBoxReachesTheApplicationWithTextFlagsAndHelpId)
{
    EXPECT_EQ(AfxMessageBox(L"plain", MB_ICONHAND, 0), IDOK);
    TestApp().m_queAnswers.push_back(IDNO);
    EXPECT_EQ(AfxMessageBox(IDS_XTRM_DISCARD_CHANGES, MB_YESNO | MB_ICONQUESTION, 0), IDNO);
    AfxMessageBox(IDS_XTRM_LOGIN_CAPTION);

    const auto& boxes = TestApp().m_vecMessageBoxes;
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].strText, L"plain");
    EXPECT_EQ(boxes[0].nType, static_cast<UINT>(MB_ICONHAND));
    EXPECT_EQ(boxes[0].nIDHelp, 0u);
    EXPECT_EQ(boxes[1].strText, L"You have changed users or rights. Discard all changes?");
    EXPECT_EQ(boxes[1].nType, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes[1].nIDHelp, 0u);
    // MFC's rule: a string-id box without a help id takes the string's id.
    EXPECT_EQ(boxes[2].nIDHelp, static_cast<UINT>(IDS_XTRM_LOGIN_CAPTION));
}

TEST(XTRmGeneralLibrary, ModuleRegistryRefusesNullAndDuplicates)
{
    XTGenModule module;
    EXPECT_FALSE(XTGenModuleManager::AddModule(nullptr));
    EXPECT_TRUE(XTGenModuleManager::AddModule(&module));
    EXPECT_FALSE(XTGenModuleManager::AddModule(&module));
    EXPECT_TRUE(XTGenModuleManager::IsModuleRegistered(&module));
    EXPECT_TRUE(XTGenModuleManager::RemoveModule(&module));
    EXPECT_FALSE(XTGenModuleManager::RemoveModule(&module));
}
