// kxpack check: each control-file mistake that the installer passes over
// silently is reported once, at its file and line; a clean package, and
// text that merely holds percent signs, give nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "KxpackTestSupport.h"

namespace kxtest {
namespace {

const std::string kClosingGroup = "////\r\n////\r\n////\r\n////\r\n";

// Lines ended by CR LF, as packages write them.
std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

std::vector<std::string> OutputLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> FullscreenLines() {
    return {"Demo", "", "800", "600", "Arial", "24", "700", "0", "0", "0", "0", "37", "true", "false",
            "2",    "255", "255", "255", "0",  "0", "0", "0", "0", "128", "0", "0", "0"};
}

// A package with every control file the installer reads, all of them right.
// Its texts hold percent signs that start no macro, and macros side by side.
void MakeCleanPackage(const std::string& folder) {
    const std::string control = folder + "/%KXInstall%/";
    WriteFile(folder + "/readme.txt", "Read me.\r\n");
    WriteFile(folder + "/bin/tool.exe", "MZ");
    WriteFile(control + "macros.txt", CrLf({"%name%", "Demo", "", ""}) + kClosingGroup);
    WriteFile(control + "wt.txt", CrLf({"Welcome to %name%, to be placed under %program files%%name%.",
                                        "Setup is 50% done at 100%; 100%% sure, % of % or %1%."}));
    WriteFile(control + "tt.txt", "%name% Setup");
    WriteFile(control + "license.txt", "License of %name%.");
    WriteFile(control + "def_install.txt", CrLf({"%program files%\\%name%"}));
    WriteFile(control + "shortcuts.txt", CrLf({"%name%", "Readme", "%install path%\\readme.txt", "1", "", "%name%",
                                               "%install path%\\bin\\tool.exe", "0"}) +
                                             kClosingGroup);
    WriteFile(control + "installer_settings.txt", CrLf({"1", "false"}));
    WriteFile(control + "fullscreen.txt", CrLf(FullscreenLines()));
    WriteFile(control + "fileinfo.txt", CrLf({"readme.txt|%install path%\\", "bin\\|%install path%\\",
                                              "bin\\tool.exe|%install path%\\bin\\", "////"}));
    WriteFile(control + "uninstall.txt", "%install path%\\bin\\tool.exe");
    WriteFile(control + "eoi_file.txt", "%install path%\\readme.txt");
    WriteFile(control + "eoi_message.txt", "Open the readme of %name%?");
    WriteFile(control + "eoi_buttons.txt", "YESNO");
    WriteFile(control + "img/1/logo.bmp", "BM");
    WriteFile(control + "bgimg/2/sky.bmp", "BM");
    WriteFile(control + "bgimg/2/sky.bmp.txt", CrLf({"0", " -10", "+20"}));
}

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        MakeCleanPackage(packageDir);
    }

    // Starts again from the clean package, for the next case of a test.
    void Reset() {
        std::filesystem::remove_all(packageDir);
        MakeCleanPackage(packageDir);
    }

    void SetControl(const std::string& name, const std::string& text) {
        WriteFile(packageDir + "/%KXInstall%/" + name, text);
    }

    // Replaces line number `line` (1-based) of a clean CR LF control file.
    void SetLine(const std::string& name, size_t line, const std::string& text) {
        std::vector<std::string> lines = SplitCrLf(ReadFile(packageDir + "/%KXInstall%/" + name));
        ASSERT_LE(line, lines.size());
        lines[line - 1] = text;
        SetControl(name, CrLf(lines));
    }

    std::vector<std::string> Findings(const std::string& input) {
        const RunResult run = RunKxpack({"check", input});
        EXPECT_EQ(run.err, "");
        // Hints alone do not fail the check.
        bool faults = false;
        for (const std::string& line : OutputLines(run.out)) faults = faults || line.find(": hint: ") == std::string::npos;
        EXPECT_EQ(run.exitCode, faults ? 1 : 0) << run.out;
        return OutputLines(run.out);
    }

    void ExpectNoFindings() { EXPECT_EQ(Joined(Findings(packageDir)), ""); }

    // Exactly one finding, at where ("name:line" under the control folder),
    // whose message contains words.
    void ExpectOnlyFinding(const std::string& where, const std::string& words) {
        const std::vector<std::string> findings = Findings(packageDir);
        ASSERT_EQ(findings.size(), 1u) << Joined(findings);
        EXPECT_EQ(findings[0].rfind("%KXInstall%/" + where + ": ", 0), 0u) << findings[0];
        EXPECT_NE(findings[0].find(words), std::string::npos) << findings[0];
    }

    TempFolder temp;
    std::string packageDir = temp / "package";
};

TEST(CheckSample, ExamplePackageHasNoFindingsAsFolderOrInstaller) {
    const RunResult folder = RunKxpack({"check", "--uninstaller", KX_SAMPLE_PACKAGE_DIR});
    EXPECT_EQ(folder.exitCode, 0);
    EXPECT_EQ(folder.out + folder.err, "");

    TempFolder temp;
    MakeFakeStub(temp / "stub.bin");
    MakeFakeStub(temp / "kxuninst.exe");
    const RunResult build = RunKxpack({"build", KX_SAMPLE_PACKAGE_DIR, "-o", temp / "setup.exe", "--stub",
                                       temp / "stub.bin", "--uninstaller=" + temp / "kxuninst.exe"});
    ASSERT_EQ(build.exitCode, 0) << build.err;
    EXPECT_EQ(build.err.find("warning"), std::string::npos) << build.err;
    const RunResult installer = RunKxpack({"check", temp / "setup.exe"});
    EXPECT_EQ(installer.exitCode, 0);
    EXPECT_EQ(installer.out + installer.err, "");
}

TEST_F(CheckTest, CleanPackageHasNoFindings) { ExpectNoFindings(); }

TEST_F(CheckTest, UninstallInfoIsReadForItsFiveLinesAndOnlyWithAnUninstaller) {
    SetControl("uninstall_info.txt", CrLf({"1.0", "%name% Ltd", "", "", "\"%install path%\\bin\\tool.exe\" /S"}));
    ExpectNoFindings();
    SetControl("uninstall_info.txt", CrLf({"1.0", "", "", "", "", "extra"}));
    ExpectOnlyFinding("uninstall_info.txt:6", "reads 5 lines");
    SetControl("uninstall_info.txt", CrLf({"%Version%"}));
    ExpectOnlyFinding("uninstall_info.txt:1", "%Version% is neither built in nor defined");
    SetControl("uninstall_info.txt", CrLf({"1.0"}));
    std::filesystem::remove(packageDir + "/%KXInstall%/uninstall.txt");
    ExpectOnlyFinding("uninstall_info.txt:1", "nothing is registered");
    const RunResult withUninstaller = RunKxpack({"check", "--uninstaller", packageDir});
    EXPECT_EQ(withUninstaller.exitCode, 0) << withUninstaller.out;
}

TEST_F(CheckTest, TheScopeIsOneOfThreeWords) {
    for (const char* word : {"user", "machine", "either"}) {
        SetControl("scope.txt", CrLf({word}));
        ExpectNoFindings();
    }
    for (const char* word : {"everyone", "User", ""}) {
        SetControl("scope.txt", CrLf({word}));
        ExpectOnlyFinding("scope.txt:1", "not user, machine or either");
    }
}

TEST_F(CheckTest, LineLongerThanTheLineBufferIsReported) {
    SetControl("def_install.txt", CrLf({"C:\\" + std::string(256, 'x')}));  // 259 characters read whole
    ExpectNoFindings();
    SetControl("def_install.txt", CrLf({"C:\\" + std::string(257, 'x')}));
    ExpectOnlyFinding("def_install.txt:1", "line of 260 characters");
    Reset();
    SetLine("shortcuts.txt", 2, std::string(300, 'n'));
    ExpectOnlyFinding("shortcuts.txt:2", "line of 300 characters");
    Reset();
    SetLine("macros.txt", 2, std::string(260, 'v'));
    ExpectOnlyFinding("macros.txt:2", "keeps the first 259");
}

TEST_F(CheckTest, Utf8LinesAreMeasuredInCharactersAndAnsiFilesGetAHint) {
    std::string umlauts;
    for (int i = 0; i < 256; ++i) umlauts += "\xC3\xBC";
    SetControl("def_install.txt", CrLf({"C:\\" + umlauts}));  // 259 characters in 515 bytes
    ExpectNoFindings();
    SetControl("def_install.txt", CrLf({"C:\\" + umlauts + "\xC3\xBC"}));
    ExpectOnlyFinding("def_install.txt:1", "line of 260 characters");
    Reset();
    SetControl("wt.txt", "Willkommen bei M\xFCller");  // Windows-1252
    ExpectOnlyFinding("wt.txt:1", "hint: not UTF-8");
}

TEST_F(CheckTest, WholeTextsHaveNoLineLimit) {
    SetControl("license.txt", std::string(1000, 'x') + "\r\n" + std::string(400, 'y'));
    ExpectNoFindings();
}

TEST_F(CheckTest, PlacementLineLongerThanFourCharactersIsReported) {
    SetLine("bgimg/2/sky.bmp.txt", 2, "-1000");
    ExpectOnlyFinding("bgimg/2/sky.bmp.txt:2", "reads only its first 4, \"-100\"");
    SetLine("bgimg/2/sky.bmp.txt", 2, "-999");
    ExpectNoFindings();
}

TEST_F(CheckTest, ListsWithoutTheirEndAreReported) {
    SetControl("fileinfo.txt", CrLf({"readme.txt|%install path%\\", "bin\\tool.exe|%install path%\\"}));
    ExpectOnlyFinding("fileinfo.txt:2", "no end line");
    Reset();
    SetControl("macros.txt", CrLf({"%name%", "Demo", "", ""}));
    ExpectOnlyFinding("macros.txt:4", "no closing group");
    Reset();
    // One "////" line where four are needed: the groups never close.
    SetControl("shortcuts.txt", CrLf({"%name%", "Readme", "%install path%\\readme.txt", "1", "////"}));
    ExpectOnlyFinding("shortcuts.txt:5", "no closing group");
}

TEST_F(CheckTest, ClosingGroupThatSwallowsARecordLineIsReported) {
    // The second record lacks its location line, so "////" lands in it.
    SetControl("shortcuts.txt", CrLf({"%name%", "Readme", "%install path%\\readme.txt", "1", "", "%name%",
                                      "%install path%\\bin\\tool.exe"}) +
                                    kClosingGroup);
    ExpectOnlyFinding("shortcuts.txt:5", "closing group (lines 5 to 8)");
}

TEST_F(CheckTest, TextAfterTheEndOfAListIsReported) {
    SetControl("fileinfo.txt", CrLf({"readme.txt|%install path%\\", "////", "", "bin\\tool.exe|%install path%\\"}));
    ExpectOnlyFinding("fileinfo.txt:4", "ended at line 2");
    SetControl("fileinfo.txt", CrLf({"readme.txt|%install path%\\", "////", "", "////"}));
    ExpectNoFindings();
}

TEST_F(CheckTest, WholeTextsAtTheirCapacityAreReported) {
    const std::pair<const char*, size_t> capacities[] = {
        {"wt.txt", 32768},         {"tt.txt", 32768},         {"license.txt", 32768},    {"uninstall.txt", 260},
        {"eoi_file.txt", 2048},    {"eoi_message.txt", 2048}, {"eoi_buttons.txt", 2048},
    };
    for (const auto& [name, capacity] : capacities) {
        SCOPED_TRACE(name);
        Reset();
        SetControl(name, std::string(capacity - 1, 'O'));
        ExpectNoFindings();
        SetControl(name, std::string(capacity, 'O'));
        ExpectOnlyFinding(std::string(name) + ":1", "file of " + std::to_string(capacity) + " bytes");
    }
}

TEST_F(CheckTest, UndefinedMacrosAreReportedInTheFilesTheInstallerExpands) {
    SetLine("wt.txt", 2, "Welcome to %nmae%.");
    ExpectOnlyFinding("wt.txt:2", "%nmae% is neither built in nor defined in macros.txt");
    Reset();
    SetLine("fileinfo.txt", 1, "readme.txt|%Install Path%\\");
    ExpectOnlyFinding("fileinfo.txt:1", "did you mean %install path%?");
    Reset();
    SetLine("fullscreen.txt", 5, "%FONT%");
    ExpectOnlyFinding("fullscreen.txt:5", "%FONT%");
    Reset();
    SetControl("eoi_message.txt", "Open it?\r\nIt lies in %APPDATA%.");
    ExpectOnlyFinding("eoi_message.txt:2", "%APPDATA%");
    Reset();
    // macros.txt is never expanded: values are inserted as written.
    SetLine("macros.txt", 2, "%other%");
    ExpectNoFindings();
}

TEST_F(CheckTest, MacroNamesCountOnlyAsTheTableDefinesThem) {
    // A record name read with a trailing blank matches only that text.
    SetLine("macros.txt", 1, "%name% ");
    const std::vector<std::string> findings = Findings(packageDir);
    ASSERT_FALSE(findings.empty());
    for (const std::string& finding : findings) {
        EXPECT_NE(finding.find("%name% is neither"), std::string::npos) << finding;
        EXPECT_EQ(finding.find("tt.txt"), std::string::npos) << "\"%name% Setup\" matches the name with its blank";
    }
}

TEST_F(CheckTest, FileInfoNamesMustMatchAPayloadItemExactly) {
    const std::pair<const char*, const char*> cases[] = {
        {"Readme.txt", "did you mean \"readme.txt\"?"},
        {"bin/tool.exe", "write \"\\\" between folders"},
        {"missing.txt", "\"missing.txt\" matches no payload item"},
        {"", "\"\" matches no payload item"},
    };
    for (const auto& [name, words] : cases) {
        SCOPED_TRACE(name);
        SetLine("fileinfo.txt", 2, std::string(name) + "|%install path%\\");
        ExpectOnlyFinding("fileinfo.txt:2", words);
    }
}

TEST_F(CheckTest, ShortFullscreenFileIsReportedOnce) {
    std::vector<std::string> lines = FullscreenLines();
    lines.resize(26);
    SetControl("fullscreen.txt", CrLf(lines));
    ExpectOnlyFinding("fullscreen.txt:26", "26 of the 27 lines");
    lines.resize(10);
    SetControl("fullscreen.txt", CrLf(lines));
    ExpectOnlyFinding("fullscreen.txt:10", "10 of the 27 lines");
}

TEST_F(CheckTest, NumberLinesWithoutANumberAreReported) {
    struct Case {
        const char* file;
        size_t line;
        const char* text;
    };
    const Case bad[] = {
        {"installer_settings.txt", 1, "one"}, {"shortcuts.txt", 4, "desktop"}, {"shortcuts.txt", 8, ""},
        {"fullscreen.txt", 3, "wide"},        {"fullscreen.txt", 12, "- 3"},   {"fullscreen.txt", 27, ""},
        {"bgimg/2/sky.bmp.txt", 3, "x"},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(std::string(c.file) + " line " + std::to_string(c.line));
        Reset();
        SetLine(c.file, c.line, c.text);
        ExpectOnlyFinding(c.file + (":" + std::to_string(c.line)), "holds no number; the installer reads 0");
    }
    // A number followed by other text, and blanks with a sign, read as numbers.
    Reset();
    SetLine("installer_settings.txt", 1, "1abc");
    SetLine("fullscreen.txt", 3, " -3");
    SetLine("bgimg/2/sky.bmp.txt", 1, "+7");
    ExpectNoFindings();
}

TEST_F(CheckTest, MissingNumberAndSwitchLinesAreReported) {
    SetControl("installer_settings.txt", "");
    const std::vector<std::string> findings = Findings(packageDir);
    ASSERT_EQ(findings.size(), 2u) << Joined(findings);
    EXPECT_EQ(findings[0].rfind("%KXInstall%/installer_settings.txt:1: a number is expected", 0), 0u) << findings[0];
    EXPECT_EQ(findings[1].rfind("%KXInstall%/installer_settings.txt:2: \"true\" or \"false\"", 0), 0u) << findings[1];
    Reset();
    SetControl("bgimg/2/sky.bmp.txt", CrLf({"0", "1"}));
    ExpectOnlyFinding("bgimg/2/sky.bmp.txt:3", "file ends before this line");
}

TEST_F(CheckTest, ShortcutLocationOutsideTheThreeIsReported) {
    for (const char* location : {"3", "-1"}) {
        SCOPED_TRACE(location);
        SetLine("shortcuts.txt", 4, location);
        ExpectOnlyFinding("shortcuts.txt:4", std::string("location ") + location + " is none of");
    }
}

TEST_F(CheckTest, AGroupOnAQuickLaunchRecordIsAHint) {
    SetLine("shortcuts.txt", 5, "Sample");  // the second record's group
    ExpectNoFindings();                      // on the desktop: not worth a word
    SetLine("shortcuts.txt", 8, "2");
    ExpectOnlyFinding("shortcuts.txt:5", "hint: the group \"Sample\" is not used for a quick launch shortcut");
}

TEST_F(CheckTest, SwitchesMustReadExactlyTrueOrFalse) {
    const std::pair<const char*, const char*> cases[] = {
        {"True", "reads false"}, {"true ", "reads true"}, {"t", "reads true"}, {"", "reads false"}};
    for (const auto& [text, reading] : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        SetLine("installer_settings.txt", 2, text);
        ExpectOnlyFinding("installer_settings.txt:2", reading);
    }
    Reset();
    SetLine("fullscreen.txt", 13, "yes");
    ExpectOnlyFinding("fullscreen.txt:13", "\"yes\" is neither \"true\" nor \"false\"");
    Reset();
    SetLine("fullscreen.txt", 14, "FALSE");
    ExpectOnlyFinding("fullscreen.txt:14", "reads false");
}

TEST_F(CheckTest, AListOfAnySizeIsExpandedAndSoNotReported) {
    std::vector<std::string> lines(5000, "readme.txt|%install path%\\");  // 28 bytes each with CR LF
    lines.push_back("////");
    SetControl("fileinfo.txt", CrLf(lines));
    ExpectNoFindings();
}

TEST_F(CheckTest, InstallerAndZipAreCheckedLikeTheFolder) {
    SetLine("fileinfo.txt", 1, "Readme.txt|%install path%\\");
    const std::string expected = "%KXInstall%/fileinfo.txt:1: \"Readme.txt\" matches no payload item";
    const std::string scratch = temp / "tmp";
    std::filesystem::create_directories(scratch);
    MakeFakeStub(temp / "stub.bin");

    const RunResult build = RunKxpack({"build", packageDir, "-o", temp / "setup.exe", "--stub", temp / "stub.bin"});
    EXPECT_EQ(build.exitCode, 0) << build.err;
    EXPECT_EQ(build.err.rfind("kxpack: warning: " + expected, 0), 0u) << build.err;
    EXPECT_EQ(OutputLines(build.err).size(), 1u) << build.err;
    WriteFile(temp / "package.zip", ArchiveRegion(ReadFile(temp / "setup.exe")));

    for (const std::string& input : {temp / "setup.exe", temp / "package.zip"}) {
        SCOPED_TRACE(input);
        const RunResult run = RunKxpack({"check", input}, {{"TMPDIR", scratch}});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "");
        const std::vector<std::string> findings = OutputLines(run.out);
        ASSERT_EQ(findings.size(), 1u) << run.out;
        EXPECT_EQ(findings[0].rfind(expected, 0), 0u) << findings[0];
        EXPECT_TRUE(std::filesystem::is_empty(scratch)) << "extracted control items left behind";
    }
}

TEST(CheckUsage, ArgumentMistakesAreUsageErrorsAndUnreadableInputFails) {
    EXPECT_EQ(RunKxpack({"check"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"check", "a", "b"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"check", "-x"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"check", ""}).exitCode, 2);

    TempFolder temp;
    WriteFile(temp / "notes.txt", std::string(5000, 'x'));
    for (const std::string& path : {temp / "notes.txt", temp / "missing.exe"}) {
        SCOPED_TRACE(path);
        const RunResult run = RunKxpack({"check", path});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(OutputLines(run.err).size(), 1u) << run.err;
    }
}

}  // namespace
}  // namespace kxtest
