// The install-folder page: the disk-space label follows the folder field,
// and a folder that is too short or whose drive has no room is refused with
// a warning that leaves the user on that page.

#include <cstdio>
#include <cstdlib>

#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr char kInvalidPath[] = "You have to enter a valid install path before continuing.";
// A UNC folder's "drive" is its first character, a backslash.
constexpr char kNoSpaceOnUnc[] =
    "There isn't enough free disk space on drive \\.\nPlease free some disk space and try again.";
constexpr char kUncFolder[] = "\\\\server\\share\\E2E Product";

class FolderPageTest : public InstallerTest {
protected:
    HWND OpenFolderPage(const std::string& package = "full") {
        HWND wizard = OpenWizard(package);
        if (wizard == nullptr) return nullptr;
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
        EXPECT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
        return wizard;
    }

    // Next on the folder page with this folder gives a warning; OK on it
    // returns to the folder page with the folder unchanged.
    void ExpectRefused(HWND wizard, const std::string& folder, const std::string& warning) {
        ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, folder));
        Click(wizard, ctl::kNext);
        HWND box = WaitForMessageBox();
        ASSERT_NE(box, nullptr) << "no warning for \"" << folder << "\"";
        EXPECT_EQ(WindowText(box), pkg::kTitle);
        EXPECT_EQ(MessageText(box), warning);
        EXPECT_TRUE(HasControl(box, IDOK));
        EXPECT_FALSE(HasControl(box, IDYES));
        Click(box, IDOK);
        EXPECT_TRUE(WaitUntil([&] { return installer.FindDialog(DialogKind::kMessageBox) == nullptr; }));
        EXPECT_TRUE(ShowsPage(wizard, page::kFolder));
        EXPECT_TRUE(ControlVisible(wizard, ctl::kFolder));
        EXPECT_EQ(ControlText(wizard, ctl::kFolder), folder);
    }
};

// Free megabytes on the drive that root names, as the installer counts them.
long long FreeMegabytes(const std::string& root) {
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) return -1;
    return static_cast<long long>(available.QuadPart / 1048576);
}

TEST_F(FolderPageTest, EmptyFolderIsRefused) {
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    ExpectRefused(wizard, "", kInvalidPath);
}

TEST_F(FolderPageTest, OneCharacterFolderIsRefused) {
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    ExpectRefused(wizard, "C", kInvalidPath);
}

TEST_F(FolderPageTest, UncFolderHasNoFreeSpaceAndIsRefused) {
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    ExpectRefused(wizard, kUncFolder, kNoSpaceOnUnc);
    EXPECT_EQ(ControlText(wizard, ctl::kDiskSpace), "Disk space needed: 3 MB\nAvailable disk space: 0 MB");
}

// Next then leads straight to "Summary", which runs the same check.
TEST_F(FolderPageTest, WithoutShortcutsFolderIsCheckedOnTheWayToSummary) {
    HWND wizard = OpenFolderPage("no-shortcuts");
    ASSERT_NE(wizard, nullptr);
    ExpectRefused(wizard, kUncFolder, kNoSpaceOnUnc);
}

TEST_F(FolderPageTest, DiskSpaceLabelFollowsFolderField) {
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    const std::string folder = TargetFolder();
    unsigned needed = 0;
    unsigned long long available = 0;
    // The label follows within a timer tick or two; the UNC text first proves it changes.
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, kUncFolder));
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlText(wizard, ctl::kDiskSpace).find("Available disk space: 0 MB") != std::string::npos; },
        2000));
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, folder));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return std::sscanf(ControlText(wizard, ctl::kDiskSpace).c_str(),
                               "Disk space needed: %u MB\nAvailable disk space: %llu MB", &needed, &available) == 2 &&
                   available > 0;
        },
        2000))
        << ControlText(wizard, ctl::kDiskSpace);
    EXPECT_EQ(needed, static_cast<unsigned>(pkg::kNeededMegabytes));
    const long long expected = FreeMegabytes(folder.substr(0, 2) + "\\");
    ASSERT_GT(expected, 0);
    // Other programs write to the same disk meanwhile; the figure only has to be that drive's.
    EXPECT_NEAR(static_cast<double>(available), static_cast<double>(expected), 512.0);
}

TEST_F(FolderPageTest, FolderIsCheckedAgainWhenGoingBackFromSummary) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(WalkToSummary(wizard));
    // The field is hidden here, but its text is still what the check reads.
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, kUncFolder));
    Click(wizard, ctl::kPrevious);
    HWND box = WaitForMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageText(box), kNoSpaceOnUnc);
    Click(box, IDOK);
    EXPECT_TRUE(ShowsPage(wizard, page::kFolder));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kFolder));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kStartMenu));
}

// L: is a read-only drive with room to spare (run_e2e.sh mounts it): only
// the write check can refuse it, and it leaves nothing there.
TEST_F(FolderPageTest, AFolderOnAReadOnlyDriveIsRefusedByTheWriteCheck) {
    const char* drive = std::getenv("KX_E2E_READONLY_DRIVE");
    if (drive == nullptr) GTEST_SKIP() << "no read-only drive: run_e2e.sh mounts one only when run as root (as CI is)";
    HWND wizard = OpenFolderPage();
    ASSERT_NE(wizard, nullptr);
    ASSERT_GT(FreeMegabytes(std::string(drive) + "\\"), pkg::kNeededMegabytes);
    const std::string folder = std::string(drive) + "\\E2E Product";
    ExpectRefused(wizard, folder,
                  "You can't write to the folder " + folder +
                      ".\nChoose another folder, or start the installer as an administrator.");
    EXPECT_FALSE(PathExists(folder));
}

}  // namespace
