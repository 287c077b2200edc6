// Two installers of one user share the workspace folder: a second one
// started while the first runs says so and leaves the first one's workspace
// alone; once the first has ended, the next one starts as usual.

#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr char kCaption[] = "Installer";
constexpr char kAnotherRunning[] =
    "Another installation is already running.\n\nWait for it to finish, then start this installer again.";
constexpr DWORD kExitAnotherRunning = 4;

class SecondInstallerTest : public InstallerTest {};

TEST_F(SecondInstallerTest, ASecondRunIsToldAndTouchesNothingOfTheFirst) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    std::string copyBefore;
    ASSERT_TRUE(ReadFileBytes(WorkspacePath() + "\\tempfile.tmp", &copyBefore));

    Installer second;
    ASSERT_TRUE(second.Start(PackagePath("full")));
    HWND box = second.WaitForDialog(DialogKind::kMessageBox);
    ASSERT_NE(box, nullptr) << "no box from the second installer";
    EXPECT_EQ(WindowText(box), kCaption);
    EXPECT_EQ(MessageText(box), kAnotherRunning);
    EXPECT_EQ(second.FindDialog(DialogKind::kWizard), nullptr);
    Click(box, IDOK);
    DWORD exitCode = 0;
    ASSERT_TRUE(second.WaitForExit(&exitCode));
    EXPECT_EQ(exitCode, kExitAnotherRunning);

    std::string copyAfter;
    ASSERT_TRUE(ReadFileBytes(WorkspacePath() + "\\tempfile.tmp", &copyAfter));
    EXPECT_TRUE(copyAfter == copyBefore) << "the first installer's archive copy changed";
    EXPECT_EQ(Workspaces().size(), 1u) << "the second installer made a workspace";
    EXPECT_TRUE(ShowsPage(wizard, page::kWelcome));
    Close(wizard);
    ASSERT_TRUE(EndsCleanly());

    // The first one gone, the next run owns the workspace.
    ASSERT_NE(OpenWizard("full"), nullptr);
}

// A run that was killed leaves the claim abandoned; the next run takes it.
// Its archive copy went with it: the copy's handle deletes it on close.
TEST_F(SecondInstallerTest, AKilledRunDoesNotBlockTheNext) {
    ASSERT_NE(OpenWizard("full"), nullptr);
    const std::string copy = WorkspacePath() + "\\tempfile.tmp";
    ASSERT_TRUE(PathExists(copy));
    installer.Kill();
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(copy); })) << copy << " stayed after the kill";
    ASSERT_TRUE(RemoveWorkspaces());
    ASSERT_NE(OpenWizard("full"), nullptr);
}

}  // namespace
