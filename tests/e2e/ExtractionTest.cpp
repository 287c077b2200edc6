// Leaving the installer while it copies its package out, through the
// extraction dialog's Cancel button and through WM_CLOSE. The "big" package
// carries 200 MiB of random bytes, so the copy usually runs for a few hundred
// milliseconds after the dialog appears; the test looks for the dialog every
// millisecond and cancels only while the archive copy is still short.
// "big-solid" is a solid package of 200 MiB of zeros: its stream is small,
// and the time goes to decompressing it into the archive copy.

#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr ULONGLONG kBigPayloadBytes = 200ull << 20;  // data\noise.bin in "big"
constexpr int kAttempts = 5;

class ExtractionTest : public InstallerTest {
protected:
    // Starts "big" and returns its extraction dialog, caught while the copy
    // still runs. Process start-up sometimes takes longer than a fast copy;
    // such a run cannot show a cancel during the copy, so it is ended and the
    // installer started again, a few times at most.
    HWND CatchDialogDuringCopy(const std::string& package = "big") {
        for (int attempt = 1; attempt <= kAttempts; ++attempt) {
            if (!Start(package)) return nullptr;
            HWND dialog = installer.WaitForDialog(DialogKind::kExtraction, kWaitMs, 1);
            if (dialog == nullptr) break;
            if (CopiedBytes() < kBigPayloadBytes) return dialog;
            installer.Kill();
            if (!RemoveWorkspaces()) break;
        }
        ADD_FAILURE() << "no extraction dialog caught during the copy in " << kAttempts << " runs";
        return nullptr;
    }

    // Bytes of the archive copied out into the workspace so far.
    static ULONGLONG CopiedBytes() {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!GetFileAttributesExA((WorkspacePath() + "\\tempfile.tmp").c_str(), GetFileExInfoStandard, &data)) {
            return 0;
        }
        return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    // Watches the installer to its end: no wizard may appear on the way.
    testing::AssertionResult EndsWithoutWizard() {
        bool wizardSeen = false;
        WaitUntil([&] {
            wizardSeen = installer.FindDialog(DialogKind::kWizard) != nullptr;
            return wizardSeen || installer.HasExited();
        });
        if (wizardSeen) return testing::AssertionFailure() << "the wizard opened after the cancel";
        return EndsCleanly();
    }
};

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

TEST_F(ExtractionTest, CancelDuringCopyEndsWithoutWizardAndRemovesWorkspace) {
    HWND dialog = CatchDialogDuringCopy();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), "");  // the title is read only after the copy
    EXPECT_EQ(ControlText(dialog, ctl::kExtractionCancel), "Cancel");
    EXPECT_EQ(ClassOf(GetDlgItem(dialog, ctl::kExtractionProgress)), "msctls_progress32");
    Click(dialog, ctl::kExtractionCancel);
    EXPECT_TRUE(EndsWithoutWizard());
}

TEST_F(ExtractionTest, ClosingExtractionDialogActsAsCancel) {
    HWND dialog = CatchDialogDuringCopy();
    ASSERT_NE(dialog, nullptr);
    Close(dialog);
    EXPECT_TRUE(EndsWithoutWizard());
}

// Cancelled while the stream is decompressed, the installer ends as after
// a cancelled copy: no wizard, no workspace, nothing placed.
TEST_F(ExtractionTest, CancelDuringDecompressionEndsWithoutWizardAndLeavesNothing) {
    const bool folderWasThere = PathExists(pkg::kDefaultFolder);
    HWND dialog = CatchDialogDuringCopy("big-solid");
    ASSERT_NE(dialog, nullptr);
    Click(dialog, ctl::kExtractionCancel);
    EXPECT_TRUE(EndsWithoutWizard());
    EXPECT_EQ(PathExists(pkg::kDefaultFolder), folderWasThere);
}

TEST_F(ExtractionTest, ClosingTheDialogDuringDecompressionActsAsCancel) {
    HWND dialog = CatchDialogDuringCopy("big-solid");
    ASSERT_NE(dialog, nullptr);
    Close(dialog);
    EXPECT_TRUE(EndsWithoutWizard());
}

TEST_F(ExtractionTest, SmallPackageGoesOnToWizardByItself) {
    ASSERT_TRUE(Start("full"));
    HWND wizard = installer.WaitForDialog(DialogKind::kWizard);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(installer.FindDialog(DialogKind::kExtraction), nullptr);
    EXPECT_TRUE(ShowsPage(wizard, page::kWelcome));
}

}  // namespace
