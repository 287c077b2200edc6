// Whole installations and what they leave behind: the placed files,
// compared byte for byte with the package's sources; the overwrite question
// and its three answers; the uninstall list line by line; the shortcuts; the
// uninstall entry in the registry; the separate progress window; a cancel
// confirmed half-way; the closing box and the file it opens. Each test
// installs into a scratch folder of its own and removes the keys and
// shortcuts it makes.

#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "InstallerFixture.h"
#include "platform/WideText.h"

using namespace e2e;

namespace {

constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kProduct[] = "E2E Product";
constexpr char kOldContent[] = "A file that was there before the installation.\r\n";
constexpr int kPlainProgressBar = 1021;   // chosen by the base package's installer_settings.txt
constexpr int kSmoothProgressBar = 1022;  // chosen by "separate-progress"
constexpr char kCancelQuestion[] = "Are you sure you wish to cancel the installation?";
constexpr char kCancelledText[] = "The installation was cancelled. Nothing was changed.";
constexpr DWORD kExitCancelled = 5;
// eoi_message.txt of "end-of-install", whose eoi_file.txt names opened.cmd:
// a script that leaves opened.flag beside itself when it runs.
constexpr char kClosingMessage[] = "E2E Product is installed.\nRun its first-start script now?";
// Longer than the script takes to leave its flag after a "Yes" under Wine.
constexpr DWORD kScriptWaitMs = 3000;

// "placement" names these items in this order; its fileinfo.txt then names
// docs\guide.txt a second time, README.TXT in the wrong letter case, and one
// more line after its terminator. data\filler.bin is named by no line.
const std::vector<std::string> kPlacedItems = {"readme.txt", "docs\\guide.txt", "data\\bytes.bin"};

// The example package, as shipped in examples/sample-app.
namespace sample {
constexpr char kPackage[] = "sample-app";
constexpr char kProduct[] = "Sample App";
constexpr char kTitle[] = "Sample App 1.0 Setup";
constexpr char kClosingQuestion[] = "Sample App 1.0 has been installed.\nDo you want to read the readme file now?";
const std::vector<std::string> kPayload = {"readme.txt", "docs\\manual.txt", "data\\settings.ini"};
}  // namespace sample

// Shortcut check boxes to tick on the Shortcuts page.
enum Boxes { kNoBoxes = 0, kDesktopBox = 1, kStartMenuBox = 2, kQuickLaunchBox = 4, kAllBoxes = 7 };

std::string OverwriteQuestion(const std::string& name) {
    return "The file named " + name + " already exists at the selected location.\nDo you wish to replace it?";
}

// A file of a test package's source folder, as run_e2e.sh assembled it.
std::string SourceFile(const std::string& package, const std::string& name) {
    const char* folder = std::getenv("KX_E2E_SOURCES");
    return std::string(folder ? folder : ".") + "\\" + package + "\\" + name;
}

// The lines as the installer writes a list: each one ended by CR LF.
std::string ListOf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string UninstallKey(const std::string& product) { return kUninstallKey + product; }

// A REG_SZ value's text, up to its closing NUL if it has one.
std::string StoredText(const RegistryValue& value) { return value.data.substr(0, value.data.find('\0')); }

std::string DwordBytes(DWORD number) { return std::string(reinterpret_cast<const char*>(&number), sizeof number); }

// Names of the entries of a folder, "." and ".." left out.
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

std::string CurrentTestName() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }

class InstallRunTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        scratch_ = TempFolder() + "kx-e2e-" + CurrentTestName();
        ASSERT_TRUE(RemoveTree(scratch_));
        ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr));
        typedFolder_ = InstallFolder();
        ForgetProduct(kProduct);
    }

    void TearDown() override {
        InstallerTest::TearDown();
        for (const std::string& product : products_) {
            EXPECT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, UninstallKey(product))) << product;
        }
        (void)RemoveTree(scratch_);  // leftovers are removed again by the next run's SetUp
    }

    std::string InstallFolder() const { return scratch_ + "\\E2E Product"; }
    std::string Installed(const std::string& name) const { return InstallFolder() + "\\" + name; }
    std::string ListText() const {
        std::string text;
        return ReadFileBytes(Installed("uninstall.ini"), &text) ? text : "(no uninstall.ini)";
    }

    // The uninstall entry of product is removed now, so that only this
    // test's installation can make it, and again at the end.
    void ForgetProduct(const std::string& product) {
        ASSERT_TRUE(DeleteRegistryKey(HKEY_LOCAL_MACHINE, UninstallKey(product))) << product;
        products_.push_back(product);
    }

    // A file of other content where the installer will want to place name.
    testing::AssertionResult PutOldFile(const std::string& name) {
        (void)CreateDirectoryA(InstallFolder().c_str(), nullptr);  // checked through the write below
        if (WriteFileBytes(Installed(name), kOldContent)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "cannot write " << Installed(name);
    }

    testing::AssertionResult NextTo(HWND wizard, const std::string& pageName, const std::string& title) {
        Click(wizard, ctl::kNext);
        return ShowsPage(wizard, pageName, title);
    }

    // Walks the wizard to the summary with typedFolder_ in the folder field
    // and the boxes ticked, and clicks "Install". Null when the walk fails.
    HWND StartInstall(const std::string& package, int boxes, const std::string& title = pkg::kTitle) {
        HWND wizard = OpenWizard(package, startArguments_);
        if (wizard == nullptr) return nullptr;
        testing::AssertionResult walked = ShowsPage(wizard, page::kWelcome, title);
        if (walked) walked = NextTo(wizard, page::kLicense, title);
        if (walked) walked = NextTo(wizard, page::kFolder, title);
        if (walked && !SetControlText(wizard, ctl::kFolder, typedFolder_)) {
            walked = testing::AssertionFailure() << "cannot type the folder";
        }
        if (walked) walked = NextTo(wizard, page::kShortcuts, title);
        if (walked) walked = TickBoxes(wizard, boxes);
        if (walked) walked = NextTo(wizard, page::kSummary, title);
        if (!walked) {
            ADD_FAILURE() << "walking to the summary of " << package << ": " << walked.message();
            return nullptr;
        }
        Click(wizard, ctl::kNext);  // "Install"
        return wizard;
    }

    static testing::AssertionResult TickBoxes(HWND wizard, int boxes) {
        const bool ticked = SetChecked(wizard, ctl::kDesktop, (boxes & kDesktopBox) != 0) &&
                            SetChecked(wizard, ctl::kStartMenu, (boxes & kStartMenuBox) != 0) &&
                            SetChecked(wizard, ctl::kQuickLaunch, (boxes & kQuickLaunchBox) != 0);
        return ticked ? testing::AssertionSuccess() : testing::AssertionFailure() << "cannot tick the boxes";
    }

    // Waits for the overwrite question about name and checks its wording,
    // caption, buttons and owner. Null when none comes.
    HWND WaitForOverwriteQuestion(HWND owner, const std::string& name) {
        HWND box = WaitForMessageBox();
        if (box == nullptr) {
            ADD_FAILURE() << "no question about " << name;
            return nullptr;
        }
        EXPECT_EQ(WindowText(box), pkg::kTitle);
        EXPECT_EQ(MessageText(box), OverwriteQuestion(name));
        EXPECT_TRUE(HasControl(box, IDYES) && HasControl(box, IDNO) && HasControl(box, IDCANCEL));
        EXPECT_EQ(GetWindow(box, GW_OWNER), owner);
        return box;
    }

    // Presses a button of a message box and waits until the box is gone.
    static void Answer(HWND box, int button) {
        Click(box, button);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "the box stays after button " << button;
    }

    void ExpectPlacedFromSource(const std::string& package, const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            EXPECT_TRUE(SameContent(Installed(name), SourceFile(package, name))) << name;
        }
    }

    void ExpectUninstallEntry(const std::string& product, const std::string& uninstaller) {
        const std::string key = UninstallKey(product);
        RegistryValue value;
        ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "DisplayName", &value)) << key;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(StoredText(value), product + " (remove only)");
        ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "UninstallString", &value));
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(StoredText(value), "\"" + uninstaller + "\"");
        for (const char* flag : {"NoModify", "NoRepair"}) {
            ASSERT_TRUE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, flag, &value)) << flag;
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD)) << flag;
            EXPECT_EQ(value.data, DwordBytes(1)) << flag;
        }
    }

    void InstallExample(const std::string& package);

    std::string scratch_;
    std::string typedFolder_;  // what StartInstall types into the folder field
    std::string startArguments_;  // what StartInstall gives the installer

private:
    std::vector<std::string> products_;
};

// --- placement, the overwrite question and the uninstall list ---

TEST_F(InstallRunTest, PlacesNamedItemsByteForByteAndAsksWhenANameComesAgain) {
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    // The second docs\guide.txt line finds the file that the first one placed.
    HWND question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    ExpectPlacedFromSource("placement", kPlacedItems);
    Answer(question, IDYES);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    EXPECT_EQ(installer.FindDialog(DialogKind::kMessageBox), nullptr);
    ExpectPlacedFromSource("placement", kPlacedItems);
    EXPECT_FALSE(PathExists(Installed("cased"))) << "README.TXT matches no item";
    EXPECT_FALSE(PathExists(Installed("after"))) << "a line after the terminator was read";
    EXPECT_FALSE(PathExists(Installed("data\\filler.bin"))) << "an item no line names was placed";
    EXPECT_EQ(ProgressPosition(wizard, kPlainProgressBar), 4);
    EXPECT_EQ(ListText(), ListOf({kProduct, Installed("readme.txt"), Installed("docs\\guide.txt"),
                                  Installed("data\\bytes.bin"), Installed("docs\\guide.txt"),
                                  Installed("uninstall.ini"), InstallFolder() + "\\", "||||"}));
    ExpectUninstallEntry(kProduct, Installed("readme.txt"));
}

TEST_F(InstallRunTest, YesReplacesTheExistingFileAndListsIt) {
    ASSERT_TRUE(PutOldFile("readme.txt"));
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "readme.txt");
    ASSERT_NE(question, nullptr);
    std::string content;
    EXPECT_TRUE(ReadFileBytes(Installed("readme.txt"), &content) && content == kOldContent)
        << "replaced before the answer";
    Answer(question, IDYES);
    question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    ExpectPlacedFromSource("placement", kPlacedItems);
    EXPECT_EQ(ListText(), ListOf({kProduct, Installed("readme.txt"), Installed("docs\\guide.txt"),
                                  Installed("data\\bytes.bin"), Installed("docs\\guide.txt"),
                                  Installed("uninstall.ini"), InstallFolder() + "\\", "||||"}));
}

TEST_F(InstallRunTest, NoKeepsTheExistingFileUnlistedAndTheInstallationGoesOn) {
    ASSERT_TRUE(PutOldFile("readme.txt"));
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "readme.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDNO);
    question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDNO);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    std::string content;
    EXPECT_TRUE(ReadFileBytes(Installed("readme.txt"), &content));
    EXPECT_EQ(content, kOldContent);
    ExpectPlacedFromSource("placement", {"docs\\guide.txt", "data\\bytes.bin"});
    // Every handled line moves the bar, the two answered No included.
    EXPECT_EQ(ProgressPosition(wizard, kPlainProgressBar), 4);
    EXPECT_EQ(ListText(), ListOf({kProduct, Installed("docs\\guide.txt"), Installed("data\\bytes.bin"),
                                  Installed("uninstall.ini"), InstallFolder() + "\\", "||||"}));
    ExpectUninstallEntry(kProduct, Installed("readme.txt"));
}

// The folder did not exist: the run made it, and takes it away again.
TEST_F(InstallRunTest, CancelInTheQuestionPutsEverythingBack) {
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Click(question, IDCANCEL);

    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    HWND told = WaitForMessageBox();
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(WindowText(told), pkg::kTitle);
    EXPECT_EQ(MessageText(told), kCancelledText);
    Click(told, IDOK);
    EXPECT_TRUE(EndsCleanly(kExitCancelled));
    EXPECT_FALSE(PathExists(InstallFolder()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UninstallKey(kProduct)));
}

// --- the separate progress window ---

// The existing readme.txt holds the worker in the overwrite question, which
// keeps the progress window up long enough to look at it.
TEST_F(InstallRunTest, SeparateProgressWindowOwnsTheQuestionThenGivesWayToTheFinishedPage) {
    ASSERT_TRUE(PutOldFile("readme.txt"));
    HWND wizard = StartInstall("separate-progress", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND progress = installer.WaitForDialog(DialogKind::kProgress);
    ASSERT_NE(progress, nullptr);
    HWND question = WaitForOverwriteQuestion(progress, "readme.txt");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(progress), "Loading installer...");
    EXPECT_TRUE(IsWindowVisible(progress));
    EXPECT_FALSE(IsWindowVisible(wizard));
    EXPECT_EQ(ControlText(progress, ctl::kStatus), "Installing\n" + Installed("readme.txt") + "...");
    EXPECT_TRUE(ControlVisible(progress, kSmoothProgressBar));
    Answer(question, IDYES);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    EXPECT_TRUE(IsWindowVisible(wizard));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(progress); })) << "the progress window stays";
    ExpectPlacedFromSource("separate-progress", {"readme.txt", "data\\filler.bin"});
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly());
}

// --- a cancel confirmed while files are placed ---

// "cancel" places readme.txt, then 200 MiB of noise, then data\filler.bin.
// The cancel is clicked as soon as readme.txt is there, while the noise is
// still being written or about to be.
TEST_F(InstallRunTest, CancelConfirmedHalfWayPutsEverythingBack) {
    HWND wizard = StartInstall("cancel", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return PathExists(Installed("readme.txt")); }, kWaitMs, 1));
    Click(wizard, ctl::kCancel);
    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(MessageText(question), kCancelQuestion);
    ASSERT_TRUE(HasControl(question, IDYES));
    Click(question, IDYES);

    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(question); }));
    HWND told = WaitForMessageBox();
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(MessageText(told), kCancelledText);
    Click(told, IDOK);
    EXPECT_TRUE(EndsCleanly(kExitCancelled));
    EXPECT_FALSE(PathExists(InstallFolder()));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UninstallKey(kProduct)));
}

// --- files that cannot be placed ---

// The system's own text for an error code, as the installer quotes it.
std::string SystemMessage(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

std::string FailureText(const std::string& destination, const std::string& reason) {
    return "The file " + destination + " could not be installed:\n" + reason +
           "\n\nClick Retry to try again, Ignore to skip this file, or Abort to stop the installation.";
}

constexpr char kDamagedReason[] = "The installer's copy of this file is damaged.";

class FailedFileTest : public InstallRunTest {
protected:
    void TearDown() override {
        if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
        (void)SetFileAttributesA(Installed("readme.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        InstallRunTest::TearDown();
    }

    // Waits for the question about a file that could not be placed and
    // checks its caption, buttons and owner. Null when none comes.
    HWND WaitForFailureQuestion(HWND owner) {
        HWND box = WaitForMessageBox();
        if (box == nullptr) {
            ADD_FAILURE() << "no question about a failed file, " << OpenDialogs();
            return nullptr;
        }
        EXPECT_EQ(WindowText(box), pkg::kTitle);
        EXPECT_TRUE(HasControl(box, IDABORT) && HasControl(box, IDRETRY) && HasControl(box, IDIGNORE));
        EXPECT_EQ(GetWindow(box, GW_OWNER), owner);
        return box;
    }

    // The old file is whole and nothing partial lies beside it.
    void ExpectOldFileWhole(const std::string& name, const std::string& oldContent = kOldContent) {
        std::string content;
        EXPECT_TRUE(ReadFileBytes(Installed(name), &content)) << name;
        EXPECT_EQ(content, oldContent) << name;
        EXPECT_FALSE(PathExists(Installed(name) + ".kxpart")) << name;
    }

    HANDLE held_ = INVALID_HANDLE_VALUE;
};

TEST_F(FailedFileTest, AReadOnlyFileAnsweredYesThenIgnoreIsSkippedAndNamed) {
    ASSERT_TRUE(PutOldFile("readme.txt"));
    ASSERT_TRUE(SetFileAttributesA(Installed("readme.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "readme.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    HWND failure = WaitForFailureQuestion(wizard);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(MessageText(failure), FailureText(Installed("readme.txt"), SystemMessage(ERROR_ACCESS_DENIED)));
    ExpectOldFileWhole("readme.txt");
    Answer(failure, IDIGNORE);
    question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "Installation finished, but these items were not installed:\n" +
                                                      Installed("readme.txt") + "\n\nClick done to exit.");
    EXPECT_EQ(ProgressPosition(wizard, kPlainProgressBar), 4);  // the skipped file counts
    ExpectOldFileWhole("readme.txt");
    ExpectPlacedFromSource("placement", {"docs\\guide.txt", "data\\bytes.bin"});
    EXPECT_EQ(ListText(), ListOf({kProduct, Installed("docs\\guide.txt"), Installed("data\\bytes.bin"),
                                  Installed("docs\\guide.txt"), Installed("uninstall.ini"), InstallFolder() + "\\",
                                  "||||"}));
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly(3));
}

TEST_F(FailedFileTest, AFileHeldOpenIsReplacedByRetryOnceItIsReleased) {
    ASSERT_TRUE(PutOldFile("readme.txt"));
    held_ = CreateFileA(Installed("readme.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held_, INVALID_HANDLE_VALUE);
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "readme.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    HWND failure = WaitForFailureQuestion(wizard);
    ASSERT_NE(failure, nullptr);
    const std::string text = MessageText(failure);
    EXPECT_TRUE(text == FailureText(Installed("readme.txt"), SystemMessage(ERROR_SHARING_VIOLATION)) ||
                text == FailureText(Installed("readme.txt"), SystemMessage(ERROR_ACCESS_DENIED)))
        << text;
    CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
    ExpectOldFileWhole("readme.txt");
    Answer(failure, IDRETRY);
    question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);

    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "Installation finished!\n\nClick done to exit.");
    ExpectPlacedFromSource("placement", kPlacedItems);
    EXPECT_FALSE(PathExists(Installed("readme.txt.kxpart")));
    EXPECT_EQ(ListText(), ListOf({kProduct, Installed("readme.txt"), Installed("docs\\guide.txt"),
                                  Installed("data\\bytes.bin"), Installed("docs\\guide.txt"),
                                  Installed("uninstall.ini"), InstallFolder() + "\\", "||||"}));
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly(0));
}

// "item-damaged" has no integrity record, so it starts; its data\marked.bin
// fails its own CRC-32 check when it is placed.
TEST_F(FailedFileTest, DamagedItemDataIsToldAndAbortStopsWithExitCodeTwo) {
    ASSERT_TRUE(CreateDirectoryA(InstallFolder().c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(Installed("data").c_str(), nullptr));
    ASSERT_TRUE(PutOldFile("data\\marked.bin"));
    HWND wizard = StartInstall("item-damaged", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "data\\marked.bin");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    HWND failure = WaitForFailureQuestion(wizard);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(MessageText(failure), FailureText(Installed("data\\marked.bin"), kDamagedReason));
    Answer(failure, IDABORT);

    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(failure); }));
    HWND told = WaitForMessageBox();
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(MessageText(told), "The installation was stopped. Nothing was changed.");
    Click(told, IDOK);
    EXPECT_TRUE(EndsCleanly(2));
    ExpectOldFileWhole("data\\marked.bin");
    // What the run placed before is gone again.
    EXPECT_EQ(FolderEntries(InstallFolder()), std::vector<std::string>{"data"});
    EXPECT_EQ(FolderEntries(Installed("data")), std::vector<std::string>{"marked.bin"});
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, UninstallKey(kProduct)));
}

// K: is a small drive of its own (run_e2e.sh mounts it). The folder page
// finds room for the 3 MiB of data\filler.bin; then the drive is filled up
// to 1 MiB before Install is pressed.
TEST_F(FailedFileTest, AFullDiskIsToldAndLeavesTheOldFileWhole) {
    const char* drive = std::getenv("KX_E2E_FULL_DRIVE");
    if (drive == nullptr) GTEST_SKIP() << "no small drive: run_e2e.sh mounts one only when run as root (as CI is)";
    const std::string root = std::string(drive) + "\\";
    (void)RemoveTree(root + "E2E Product");
    (void)DeleteFileA((root + "ballast").c_str());
    typedFolder_ = root + "E2E Product";
    const auto installed = [&](const std::string& name) { return typedFolder_ + "\\" + name; };
    ASSERT_TRUE(CreateDirectoryA(typedFolder_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(installed("data").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(installed("data\\filler.bin"), kOldContent));

    HWND wizard = StartInstall("full", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    HWND question = WaitForOverwriteQuestion(wizard, "data\\filler.bin");
    ASSERT_NE(question, nullptr);
    // The worker waits in the question: fill the drive now.
    ULARGE_INTEGER available = {};
    ASSERT_TRUE(GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr));
    ASSERT_GT(available.QuadPart, 1048576u);
    ASSERT_TRUE(WriteFileBytes(root + "ballast", std::string(available.QuadPart - 1048576, 'b')));
    Answer(question, IDYES);
    HWND failure = WaitForFailureQuestion(wizard);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(MessageText(failure), FailureText(installed("data\\filler.bin"), SystemMessage(ERROR_DISK_FULL)));
    std::string content;
    EXPECT_TRUE(ReadFileBytes(installed("data\\filler.bin"), &content) && content == kOldContent);
    EXPECT_EQ(FolderEntries(installed("data")), std::vector<std::string>{"filler.bin"});  // no partial file
    Answer(failure, IDABORT);

    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(failure); }));
    HWND told = WaitForMessageBox();
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(MessageText(told), "The installation was stopped. Nothing was changed.");
    Click(told, IDOK);
    EXPECT_TRUE(EndsCleanly(2));
    EXPECT_TRUE(ReadFileBytes(installed("data\\filler.bin"), &content) && content == kOldContent);
    // Everything else the run placed, the list with it, went again.
    EXPECT_EQ(FolderEntries(typedFolder_), std::vector<std::string>{"data"});
    EXPECT_EQ(FolderEntries(installed("data")), std::vector<std::string>{"filler.bin"});
    EXPECT_TRUE(RemoveTree(typedFolder_));
    EXPECT_TRUE(DeleteFileA((root + "ballast").c_str()));
}

// --- packages in any language ---

namespace unicode {
constexpr char kProduct[] = "日本語アプリ";
constexpr char kTitle[] = "Müller 日本 日本語アプリ Setup";
constexpr char kWelcome[] = "Willkommen bei Müller.\n日本語のテキスト 😀";
constexpr char kLicense[] = "ライセンス für Müller";
const std::string kLongGroup(100, 'G');
const std::string kLongName(100, 'N');
}  // namespace unicode

// Sets the temporary folder for this process and the installers it starts;
// puts the old one back at the end.
class TemporaryFolderScope {
public:
    explicit TemporaryFolderScope(const std::string& folder) {
        for (const wchar_t* name : {L"TEMP", L"TMP"}) {
            wchar_t old[MAX_PATH] = {};
            const DWORD length = GetEnvironmentVariableW(name, old, MAX_PATH);
            saved_.push_back(length > 0 && length < MAX_PATH ? std::wstring(old, length) : std::wstring());
            SetEnvironmentVariableW(name, Widen(folder).c_str());
        }
    }
    ~TemporaryFolderScope() {
        SetEnvironmentVariableW(L"TEMP", saved_[0].empty() ? nullptr : saved_[0].c_str());
        SetEnvironmentVariableW(L"TMP", saved_[1].empty() ? nullptr : saved_[1].c_str());
    }

private:
    std::vector<std::wstring> saved_;
};

// "unicode": UTF-8 control files with and without the mark, German,
// Japanese and an emoji in the title and texts, payload names "Übersicht.txt"
// and "日本語.txt", a product (so a registry key and a start-menu group) with
// a Japanese name, and a second shortcut whose path passes 260 characters.
TEST_F(InstallRunTest, APackageInAnyLanguageShowsAndInstallsItsOwnCharacters) {
    ForgetProduct(unicode::kProduct);
    const std::string programs = SpecialFolder(CSIDL_PROGRAMS);
    ASSERT_FALSE(programs.empty());
    const std::string group = programs + "\\" + unicode::kProduct;
    const std::string longGroup = programs + "\\" + unicode::kLongGroup;
    (void)RemoveTree(group);
    (void)RemoveTree(longGroup);
    const std::string folder = scratch_ + "\\フォルダ Müller";
    typedFolder_ = folder;
    ASSERT_TRUE(CreateDirectoryW(Widen(folder).c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + "\\日本語.txt", kOldContent));

    HWND wizard = OpenWizard("unicode");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome, unicode::kTitle));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), unicode::kWelcome);
    ASSERT_TRUE(NextTo(wizard, page::kLicense, unicode::kTitle));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), unicode::kLicense);
    ASSERT_TRUE(NextTo(wizard, page::kFolder, unicode::kTitle));
    EXPECT_EQ(ControlText(wizard, ctl::kFolder), "C:\\Program Files\\" + std::string(unicode::kProduct));
    ASSERT_TRUE(SetControlText(wizard, ctl::kFolder, folder));
    ASSERT_TRUE(NextTo(wizard, page::kShortcuts, unicode::kTitle));
    ASSERT_TRUE(TickBoxes(wizard, kStartMenuBox));
    ASSERT_TRUE(NextTo(wizard, page::kSummary, unicode::kTitle));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary).find("The files will be installed to:\n" + folder + "\n"), 0u);
    Click(wizard, ctl::kNext);  // "Install"

    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(question), unicode::kTitle);
    EXPECT_EQ(MessageText(question), OverwriteQuestion("日本語.txt"));
    Answer(question, IDYES);
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished, unicode::kTitle));
    EXPECT_EQ(ControlText(wizard, ctl::kSummary), "Installation finished!\n\nClick done to exit.");

    for (const char* name : {"Übersicht.txt", "日本語.txt"}) {
        EXPECT_TRUE(SameContent(folder + "\\" + name, SourceFile("unicode", name))) << name;
    }
    std::string target, workingFolder;
    EXPECT_TRUE(ReadShellLink(group + "\\日本語.lnk", &target, &workingFolder));
    EXPECT_EQ(target, folder + "\\日本語.txt");
    const std::string longLink = longGroup + "\\" + unicode::kLongName + ".lnk";
    EXPECT_GT(longLink.size(), 260u);
    EXPECT_TRUE(PathExists(longLink)) << longLink;
    std::string text;
    EXPECT_TRUE(ReadRegistryText(HKEY_LOCAL_MACHINE, UninstallKey(unicode::kProduct), "DisplayName", &text));
    EXPECT_EQ(text, std::string(unicode::kProduct) + " (remove only)");
    // A Japanese line has no place in a Western code page: the list is UTF-8.
    std::string list;
    ASSERT_TRUE(ReadFileBytes(folder + "\\uninstall.ini", &list));
    EXPECT_EQ(list, "\xEF\xBB\xBF" + ListOf({unicode::kProduct, folder + "\\Übersicht.txt", folder + "\\日本語.txt",
                                             group, group + "\\日本語.lnk", longGroup, longLink,
                                             folder + "\\uninstall.ini", folder + "\\", "||||"}));
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly());
    EXPECT_TRUE(RemoveTree(group));
    EXPECT_TRUE(RemoveTree(longGroup));
}

TEST_F(InstallRunTest, AnAnsiWelcomeTextIsStillShownRight) {
    HWND wizard = OpenWizard("ansi");
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kWelcome));
    EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard, ctl::kText)), "Willkommen bei Müller.");
}

// The user's temporary folder has a Japanese name: the workspace goes there
// and is removed there.
TEST_F(InstallRunTest, ATemporaryFolderWithAJapaneseNameHoldsTheWorkspace) {
    const std::string temp = scratch_ + "\\一時";
    ASSERT_TRUE(CreateDirectoryW(Widen(temp).c_str(), nullptr));
    TemporaryFolderScope scope(temp);
    ASSERT_EQ(TempFolder(), temp + "\\");
    HWND wizard = StartInstall("placement", kNoBoxes);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(Workspaces().size(), 1u) << "no workspace in " << temp;
    HWND question = WaitForOverwriteQuestion(wizard, "docs\\guide.txt");
    ASSERT_NE(question, nullptr);
    Answer(question, IDYES);
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    ExpectPlacedFromSource("placement", kPlacedItems);
    Click(wizard, ctl::kNext);  // "Done"
    EXPECT_TRUE(EndsCleanly());  // which looks in this temporary folder
}

// --- the closing box after "Done" ---

class ClosingBoxTest : public InstallRunTest {
protected:
    // Installs the package, presses "Done" and returns the closing box,
    // checked for its caption and text. Null when none comes.
    HWND InstallAndPressDone(const std::string& package) {
        HWND wizard = StartInstall(package, kNoBoxes);
        if (wizard == nullptr) return nullptr;
        EXPECT_TRUE(ShowsPage(wizard, page::kFinished));
        Click(wizard, ctl::kNext);  // "Done"
        HWND box = WaitForMessageBox();
        if (box == nullptr) {
            ADD_FAILURE() << "no closing box";
            return nullptr;
        }
        EXPECT_EQ(WindowText(box), pkg::kTitle);
        EXPECT_EQ(MessageText(box), kClosingMessage);
        return box;
    }

    bool ScriptRan() const {
        return WaitUntil([&] { return PathExists(Installed("opened.flag")); }, kScriptWaitMs);
    }
};

// The log says how the file was opened: from an elevated run through the
// signed-in user's shell where one answers; Wine's does not, so there the
// installer opens it itself.
TEST_F(ClosingBoxTest, OkBoxThenOpensTheFile) {
    const std::string log = TempFolder() + "kx-e2e-closing.log";
    (void)DeleteFileA(log.c_str());
    startArguments_ = "/LOG=" + log;
    HWND box = InstallAndPressDone("end-of-install-ok");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(HasControl(box, IDYES) || HasControl(box, IDNO));
    ASSERT_TRUE(HasControl(box, IDOK));
    Click(box, IDOK);
    EXPECT_TRUE(EndsCleanly());
    EXPECT_TRUE(ScriptRan());
    std::string text;
    ASSERT_TRUE(ReadFileBytes(log, &text));
    const bool throughShell = text.find(" through the signed-in user's shell\r\n") != std::string::npos;
    const bool fromInstaller = text.find(" from the installer\r\n") != std::string::npos;
    EXPECT_TRUE(throughShell != fromInstaller) << text;
    (void)DeleteFileA(log.c_str());
}

TEST_F(ClosingBoxTest, YesInTheYesNoBoxOpensTheFile) {
    HWND box = InstallAndPressDone("end-of-install");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(HasControl(box, IDOK));
    ASSERT_TRUE(HasControl(box, IDYES) && HasControl(box, IDNO));
    Click(box, IDYES);
    EXPECT_TRUE(EndsCleanly());
    EXPECT_TRUE(ScriptRan());
}

TEST_F(ClosingBoxTest, NoInTheYesNoBoxOpensNothing) {
    HWND box = InstallAndPressDone("end-of-install");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(HasControl(box, IDNO));
    Click(box, IDNO);
    EXPECT_TRUE(EndsCleanly());
    EXPECT_FALSE(ScriptRan());
}

// --- the example package, from the first page to "Done" ---

// Installs the example package, or a signed copy of it, and checks all it
// leaves: the payload, the list and the uninstall entry; No to the closing
// question opens nothing.
void InstallRunTest::InstallExample(const std::string& package) {
    HWND wizard = StartInstall(package, kNoBoxes, sample::kTitle);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished, sample::kTitle));
    ExpectPlacedFromSource(sample::kPackage, sample::kPayload);
    std::vector<std::string> list = {sample::kProduct};
    for (const std::string& name : sample::kPayload) list.push_back(Installed(name));
    // Added by build --uninstaller, after the package's own lines.
    list.insert(list.end(), {Installed("uninstall.exe"), Installed("uninstall.ini"), InstallFolder() + "\\", "||||"});
    EXPECT_EQ(ListText(), ListOf(list));
    ExpectUninstallEntry(sample::kProduct, Installed("uninstall.exe"));

    Click(wizard, ctl::kNext);  // "Done"
    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(WindowText(question), sample::kTitle);
    EXPECT_EQ(MessageText(question), sample::kClosingQuestion);
    EXPECT_TRUE(HasControl(question, IDYES));
    ASSERT_TRUE(HasControl(question, IDNO));
    Click(question, IDNO);
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(InstallRunTest, ExamplePackageInstallsItsPayloadListAndEntryAndNoOpensNothing) {
    ASSERT_NO_FATAL_FAILURE(ForgetProduct(sample::kProduct));
    InstallExample(sample::kPackage);
}

// Signed by run_e2e.sh: once, twice (a nested signature), and a hand-made
// installer whose length was no multiple of 8 before it was signed.
TEST_F(InstallRunTest, SignedCopiesOfTheExampleInstallExactlyLikeIt) {
    ASSERT_NO_FATAL_FAILURE(ForgetProduct(sample::kProduct));
    for (const char* package : {"sample-app-signed", "sample-app-nested", "sample-app-signed-misaligned"}) {
        SCOPED_TRACE(package);
        ASSERT_TRUE(RemoveTree(InstallFolder()));
        InstallExample(package);
        if (HasFatalFailure()) return;
        installer.Kill();
    }
}

// Solid builds of the example, as it is and signed: the stub decompresses
// the archive and the installation goes on as from the plain one.
TEST_F(InstallRunTest, SolidCopiesOfTheExampleInstallExactlyLikeIt) {
    ASSERT_NO_FATAL_FAILURE(ForgetProduct(sample::kProduct));
    for (const char* package : {"sample-app-solid", "sample-app-solid-signed"}) {
        SCOPED_TRACE(package);
        ASSERT_TRUE(RemoveTree(InstallFolder()));
        InstallExample(package);
        if (HasFatalFailure()) return;
        installer.Kill();
    }
}

// --- shortcuts ---

// "shortcuts" lists, in this order: KX E2E Readme and KX E2E Filler in the
// start-menu group KX E2E Group, KX E2E Desktop Readme on the desktop (its
// group "KX E2E Ignored Group" unused there) and KX E2E Quick Readme in the
// quick-launch bar (its group "KX E2E Quick Group" unused there too). Its uninstaller, data\filler.bin, lies below the install
// folder, so the list gets a copy in data\.
class InstallShortcutTest : public InstallRunTest {
protected:
    void SetUp() override {
        InstallRunTest::SetUp();
        if (HasFatalFailure()) return;
        group_ = SpecialFolder(CSIDL_PROGRAMS) + "\\KX E2E Group";
        desktop_ = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        quickLaunch_ = SpecialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
        RemoveShortcuts();
        // As in a new profile, there is no quick-launch folder: the
        // installer makes it.
        const std::string browserFolder = SpecialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer";
        if (!PathExists(browserFolder)) madeFolder_ = browserFolder;
        ASSERT_TRUE(RemoveTree(quickLaunch_)) << quickLaunch_;
    }

    void TearDown() override {
        InstallRunTest::TearDown();
        RemoveShortcuts();
        if (!madeFolder_.empty()) {
            EXPECT_TRUE(RemoveTree(madeFolder_)) << madeFolder_;
        }
    }

    void RemoveShortcuts() {
        EXPECT_TRUE(RemoveTree(group_)) << group_;
        for (const std::string& link : {DesktopLink(), QuickLaunchLink()}) {
            (void)DeleteFileA(link.c_str());
            EXPECT_FALSE(PathExists(link)) << link;
        }
    }

    std::string GroupLink(const std::string& name) const { return group_ + "\\" + name + ".lnk"; }
    std::string DesktopLink() const { return desktop_ + "\\KX E2E Desktop Readme.lnk"; }
    std::string QuickLaunchLink() const { return quickLaunch_ + "\\KX E2E Quick Readme.lnk"; }

    // The list holds these lines and then the copy's path, the install path
    // and the end marker; the copy beside the uninstaller holds only these.
    void ExpectListAndCopy(std::vector<std::string> lines) const {
        const std::string copyPath = Installed("data\\uninstall.ini");
        std::string copy;
        EXPECT_TRUE(ReadFileBytes(copyPath, &copy)) << copyPath;
        EXPECT_EQ(copy, ListOf(lines));
        lines.insert(lines.end(), {copyPath, InstallFolder() + "\\", "||||"});
        EXPECT_EQ(ListText(), ListOf(lines));
    }

    static void ExpectLink(const std::string& link, const std::string& target, const std::string& workingFolder) {
        std::string readTarget;
        std::string readFolder;
        ASSERT_TRUE(ReadShellLink(link, &readTarget, &readFolder)) << link;
        EXPECT_EQ(readTarget, target) << link;
        EXPECT_EQ(readFolder, workingFolder) << link;
    }

    std::string group_;
    std::string desktop_;
    std::string quickLaunch_;

private:
    std::string madeFolder_;  // made by this test, removed at its end
};

TEST_F(InstallShortcutTest, EveryTickedLocationGetsItsLinksAndTwoListLinesEach) {
    typedFolder_ = InstallFolder() + "\\";  // a folder typed with its backslash gets no second one
    HWND wizard = StartInstall("shortcuts", kAllBoxes);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));

    const std::string folder = InstallFolder() + "\\";
    ExpectLink(GroupLink("KX E2E Readme"), Installed("readme.txt"), folder);
    ExpectLink(GroupLink("KX E2E Filler"), Installed("data\\filler.bin"), folder + "data\\");
    ExpectLink(DesktopLink(), Installed("readme.txt"), folder);
    ExpectLink(QuickLaunchLink(), Installed("readme.txt"), folder);
    EXPECT_FALSE(PathExists(desktop_ + "\\KX E2E Ignored Group"));
    EXPECT_FALSE(PathExists(quickLaunch_ + "\\KX E2E Quick Group"));
    EXPECT_FALSE(PathExists(quickLaunch_ + "KX E2E Quick Group"));
    ExpectListAndCopy({kProduct, Installed("readme.txt"), Installed("data\\filler.bin"), group_,
                       GroupLink("KX E2E Readme"), group_, GroupLink("KX E2E Filler"), "", DesktopLink(), "",
                       QuickLaunchLink()});
    ExpectUninstallEntry(kProduct, Installed("data\\filler.bin"));
}

TEST_F(InstallShortcutTest, UntickedLocationsGetNoLinksAndNoListLines) {
    HWND wizard = StartInstall("shortcuts", kStartMenuBox);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));

    ExpectLink(GroupLink("KX E2E Readme"), Installed("readme.txt"), InstallFolder() + "\\");
    EXPECT_FALSE(PathExists(DesktopLink()));
    EXPECT_FALSE(PathExists(QuickLaunchLink()));
    ExpectListAndCopy({kProduct, Installed("readme.txt"), Installed("data\\filler.bin"), group_,
                       GroupLink("KX E2E Readme"), group_, GroupLink("KX E2E Filler")});
}

}  // namespace
