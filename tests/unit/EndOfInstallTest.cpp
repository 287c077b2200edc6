#include "TestSupport.h"
#include "state/Workspace.h"
#include "wizard/EndOfInstall.h"

namespace {

class EndOfInstallTest : public ScratchFolder {
protected:
    InstallerState state;
    void SetUp() override {
        ScratchFolder::SetUp();
        ASSERT_TRUE(platform::CreateFolder((WorkspaceBase() + package::kControlFolder).c_str()));
    }
    void Control(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteBytes(ControlFilePath(name), ToBytes(content)));
    }
};

TEST_F(EndOfInstallTest, MissingFilesGiveNoQuestionNoTargetAndYesNo) {
    state.eoiAskYesNo = false;
    LoadEndOfInstallSettings(state, "C:\\Apps");
    EXPECT_EQ("", state.eoiTarget);
    EXPECT_EQ("", state.eoiMessage);
    EXPECT_TRUE(state.eoiAskYesNo);
    EXPECT_FALSE(platform::PathExists(ControlFilePath("eoi_file.txt").c_str()));
}

TEST_F(EndOfInstallTest, TheTargetIsExpandedWithTheInstallFolderAndKeepsItsLineBreak) {
    state.macroTable.records.push_back(MacroRecord{"%name%", "Sample", "", ""});
    Control("eoi_file.txt", "%install path%\\readme.txt\r\n");
    Control("eoi_message.txt", "Open %name%?\r\nNow?");
    Control("eoi_buttons.txt", "OK");
    LoadEndOfInstallSettings(state, "C:\\Apps\\");
    EXPECT_EQ("C:\\Apps\\readme.txt\n", state.eoiTarget);
    EXPECT_EQ("Open Sample?\nNow?", state.eoiMessage);
    EXPECT_FALSE(state.eoiAskYesNo);
}

TEST_F(EndOfInstallTest, OnlyACapitalOGivesAnOkBoxAndLongTextsAreBounded) {
    for (const char* buttons : {"o", "YESNO", "", " O"}) {
        Control("eoi_buttons.txt", buttons);
        LoadEndOfInstallSettings(state, "");
        EXPECT_TRUE(state.eoiAskYesNo) << buttons;
    }
    Control("eoi_message.txt", std::string(5000, 'm'));
    LoadEndOfInstallSettings(state, "");
    EXPECT_EQ(2047u, state.eoiMessage.size());
}

}  // namespace
