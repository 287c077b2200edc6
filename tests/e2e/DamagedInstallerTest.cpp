// Damaged and incomplete installers, as run_e2e.sh makes them from the
// "intact" packages, plain and solid: each tells the user so in a box of its own, before any
// wizard, and ends with exit code 1 and no workspace left.

#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr char kDamagedCaption[] = "Installer";
constexpr char kDamagedText[] = "This installer is damaged or incomplete.\n\nPlease download it again.";
constexpr DWORD kExitCouldNotStart = 1;

class DamagedInstallerTest : public InstallerTest {};

TEST_F(DamagedInstallerTest, EveryDamageIsToldBeforeAnyWizardWithExitCodeOne) {
    // Whole, the same installers open their wizard.
    for (const char* package : {"intact", "intact-solid"}) {
        ASSERT_NE(OpenWizard(package), nullptr) << package;
        installer.Kill();
        ASSERT_TRUE(RemoveWorkspaces());
    }
    for (const char* package : {"damaged-half", "damaged-last-byte", "damaged-in-trailer", "damaged-flipped",
                                "damaged-trailer-outside", "damaged-entry-count", "damaged-garbage",
                                "damaged-stub-alone", "damaged-signed-cut", "damaged-solid-half",
                                "damaged-solid-last-byte", "damaged-solid-flipped", "damaged-solid-forged"}) {
        SCOPED_TRACE(package);
        ASSERT_TRUE(Start(package));
        bool wizardSeen = false;
        HWND box = nullptr;
        WaitUntil([&] {
            wizardSeen = wizardSeen || installer.FindDialog(DialogKind::kWizard) != nullptr;
            box = installer.FindDialog(DialogKind::kMessageBox);
            return box != nullptr || installer.HasExited();
        });
        EXPECT_FALSE(wizardSeen);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(WindowText(box), kDamagedCaption);
        EXPECT_EQ(MessageText(box), kDamagedText);
        EXPECT_TRUE(HasControl(box, IDOK));
        EXPECT_FALSE(HasControl(box, IDCANCEL));
        EXPECT_EQ(installer.FindDialog(DialogKind::kWizard), nullptr);
        Click(box, IDOK);
        DWORD exitCode = 0;
        ASSERT_TRUE(installer.WaitForExit(&exitCode));
        EXPECT_EQ(exitCode, kExitCouldNotStart);
        EXPECT_TRUE(Workspaces().empty());
    }
}

}  // namespace
