// The wizard's pages in the real installer: order, skipping of pages without
// content, captions, button texts and which controls each page shows, and
// the ways out before installing. Packages leave out the welcome text, the
// license text or the shortcuts to reach every row of the page table.

#include "InstallerFixture.h"
#include "platform/WideText.h"
#include "resources/ResourceIds.h"

using namespace e2e;

namespace {

class WizardPagesTest : public InstallerTest {};

TEST_F(WizardPagesTest, OpensOnWelcomePageWithWelcomeTextAndNextExit) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kText));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), pkg::kWelcomeText);
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Next");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Exit");
    // The stub's icon, whose frames are PNG images, loads at each of its sizes.
    HMODULE stub = LoadLibraryExW(Widen(PackagePath("full")).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(stub, nullptr);
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(LoadImageW(stub, MAKEINTRESOURCEW(IDI_SETUP), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        BITMAP colour = {};
        EXPECT_TRUE(GetIconInfo(icon, &info) && info.hbmColor != nullptr &&
                    GetObjectW(info.hbmColor, sizeof colour, &colour) != 0 && colour.bmWidth == size)
            << size;
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    FreeLibrary(stub);
    for (int hidden : {ctl::kFolder, ctl::kBrowse, ctl::kFolderPrompt, ctl::kLicensePrompt, ctl::kSummary,
                       ctl::kDesktop, ctl::kStartMenu, ctl::kQuickLaunch, ctl::kStatus, ctl::kCancel, ctl::kCredit}) {
        EXPECT_FALSE(ControlVisible(wizard, hidden)) << "control " << hidden;
    }
}

TEST_F(WizardPagesTest, NextWalksThroughEveryPageUpToSummary) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome));

    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), pkg::kLicenseText);
    EXPECT_TRUE(ControlVisible(wizard, ctl::kText));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kLicensePrompt));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "I Agree");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "I Disagree");

    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), pkg::kDefaultFolder);
    for (int shown : {ctl::kFolder, ctl::kBrowse, ctl::kFolderPrompt, ctl::kDiskSpace}) {
        EXPECT_TRUE(ControlVisible(wizard, shown)) << "control " << shown;
    }
    EXPECT_FALSE(ControlVisible(wizard, ctl::kText));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kLicensePrompt));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Next");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Previous");

    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kShortcuts));
    for (int box : {ctl::kDesktop, ctl::kStartMenu, ctl::kQuickLaunch}) {
        EXPECT_TRUE(ControlVisible(wizard, box)) << "check box " << box;
        EXPECT_TRUE(IsChecked(wizard, box)) << "check box " << box;
    }
    EXPECT_FALSE(ControlVisible(wizard, ctl::kFolder));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Next");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Previous");

    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kSummary));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kSummary));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kDesktop));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Install");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Previous");
}

TEST_F(WizardPagesTest, PreviousWalksBackToWelcomeWhereExitEndsTheInstaller) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(WalkToSummary(wizard));

    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kShortcuts));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kStartMenu));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kSummary));
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kFolder));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kFolder));
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kLicense));
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "I Disagree");
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kWelcome));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), pkg::kWelcomeText);

    Click(wizard, ctl::kPrevious);  // "Exit"
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(WizardPagesTest, ExitOnWelcomePageEndsTheInstaller) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome));
    Click(wizard, ctl::kPrevious);
    EXPECT_TRUE(EndsCleanly());
    EXPECT_EQ(installer.FindDialog(DialogKind::kWizard), nullptr);
}

TEST_F(WizardPagesTest, IDisagreeReturnsToWelcomePage) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kWelcome));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kLicensePrompt));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Next");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Exit");
    EXPECT_FALSE(installer.HasExited());
}

TEST_F(WizardPagesTest, WithoutLicenseWelcomeAndFolderPagesLeadToEachOther) {
    HWND wizard = OpenWizard("welcome-only");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Previous");
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kWelcome));
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Exit");
}

TEST_F(WizardPagesTest, WithoutWelcomeLicensePageOffersExitThatEndsTheInstaller) {
    HWND wizard = OpenWizard("license-only");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kLicense));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), pkg::kLicenseText);
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "I Agree");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Exit");

    // Going back from the folder page skips the missing welcome page.
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Previous");
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kLicense));

    Click(wizard, ctl::kPrevious);  // "Exit"
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(WizardPagesTest, WithoutTextsOpensOnFolderPageWhereExitEndsTheInstaller) {
    HWND wizard = OpenWizard("no-texts");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kFolder));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kFolder));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kText));
    EXPECT_EQ(ControlText(wizard, ctl::kNext), "Next");
    EXPECT_EQ(ControlText(wizard, ctl::kPrevious), "Exit");
    Click(wizard, ctl::kPrevious);
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(WizardPagesTest, WithoutShortcutsShortcutPageIsSkippedBothWays) {
    HWND wizard = OpenWizard("no-shortcuts");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, TargetFolder()));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kSummary));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "The files will be installed to:\n" + TargetFolder());
    for (int box : {ctl::kDesktop, ctl::kStartMenu, ctl::kQuickLaunch}) {
        EXPECT_FALSE(ControlVisible(wizard, box)) << "check box " << box;
    }
    ASSERT_TRUE(ClickTo(wizard, ctl::kPrevious, page::kFolder));
}

TEST_F(WizardPagesTest, ShortcutPageShowsOnlyBoxesOfUsedLocations) {
    HWND wizard = OpenWizard("start-menu-only");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kShortcuts));
    EXPECT_TRUE(ControlVisible(wizard, ctl::kStartMenu));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kDesktop));
    EXPECT_FALSE(ControlVisible(wizard, ctl::kQuickLaunch));
}

TEST_F(WizardPagesTest, EmptyTitleLeavesCaptionWithDashAndPageName) {
    HWND wizard = OpenWizard("untitled");
    ASSERT_NE(wizard, nullptr);
    EXPECT_TRUE(ShowsPage(wizard, page::kWelcome, ""));
    EXPECT_EQ(WindowText(wizard), " - Welcome");
}

TEST_F(WizardPagesTest, ClosingWizardOnFolderPageEndsTheInstaller) {
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    Close(wizard);
    EXPECT_TRUE(EndsCleanly());
}

}  // namespace
