// The example package under examples/sample-app: it builds, and its control
// files hold together (every file they name is shipped, lists are closed,
// line ends are CR LF).
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <set>

#include "KxpackTestSupport.h"

namespace kxtest {
namespace {

const std::string kPackage = KX_SAMPLE_PACKAGE_DIR;
const std::string kControl = kPackage + "/%KXInstall%/";
const std::string kInstallPath = "%install path%\\";

// Lines split at CR LF; a final line break gives no empty last line.
std::vector<std::string> ControlLines(const std::string& file) {
    const std::string text = ReadFile(kControl + file);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

// Groups of four lines up to and without the closing group; false when the
// file ends without a closing group of four "////" lines.
bool ReadGroups(const std::string& file, std::vector<std::vector<std::string>>* groups) {
    const std::vector<std::string> lines = ControlLines(file);
    for (size_t i = 0; i + 4 <= lines.size(); i += 4) {
        std::vector<std::string> group(lines.begin() + i, lines.begin() + i + 4);
        if (group[3].rfind('/', 0) == 0) return group == std::vector<std::string>(4, "////") && i + 4 == lines.size();
        groups->push_back(group);
    }
    return false;
}

std::string ToPackagePath(std::string windowsName) {
    std::replace(windowsName.begin(), windowsName.end(), '\\', '/');
    return windowsName;
}

// Names that fileinfo.txt places, each checked to exist in the package.
std::set<std::string> PlacedFiles() {
    std::set<std::string> placed;
    const std::vector<std::string> lines = ControlLines("fileinfo.txt");
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "////");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const size_t bar = lines[i].find('|');
        EXPECT_NE(bar, std::string::npos) << lines[i];
        if (bar == std::string::npos) continue;
        const std::string name = lines[i].substr(0, bar);
        EXPECT_EQ(lines[i].substr(bar + 1), kInstallPath) << lines[i];
        EXPECT_TRUE(Exists(kPackage + "/" + ToPackagePath(name))) << name;
        placed.insert(name);
    }
    return placed;
}

// True when path is "%install path%\" followed by a placed file's name.
bool NamesPlacedFile(const std::string& path, const std::set<std::string>& placed) {
    return path.rfind(kInstallPath, 0) == 0 && placed.count(path.substr(kInstallPath.size())) == 1;
}

const char* const kControlFiles[] = {
    "tt.txt",        "wt.txt",        "license.txt",     "def_install.txt", "fileinfo.txt",    "shortcuts.txt",
    "macros.txt",    "uninstall_info.txt", "installer_settings.txt", "eoi_message.txt", "eoi_file.txt", "eoi_buttons.txt",
};

TEST(SamplePackage, BuildsWithEveryControlFile) {
    TempFolder temp;
    MakeFakeStub(temp / "stub.bin");
    MakeFakeStub(temp / "kxuninst.exe");
    const RunResult run = RunKxpack({"build", kPackage, "-o", temp / "setup.exe", "--stub", temp / "stub.bin",
                                     "--uninstaller=" + temp / "kxuninst.exe"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> names = ReaderNames(temp / "setup.exe");
    for (const char* file : kControlFiles) {
        EXPECT_NE(std::find(names.begin(), names.end(), std::string("%KXInstall%/") + file), names.end()) << file;
    }
    for (const char* added : {"%KXInstall%/uninstall.txt", "uninstall.exe"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), added), names.end()) << added;
    }
}

// What a package manager's manifest needs, for each scope: the example's
// entry with its values as the installer writes them, and its root.
TEST(SamplePackage, InfoGivesTheScopeSwitchesExitCodesAndEntry) {
    struct Case {
        const char* scope;  // null: no scope.txt
        const char* scopeLine;
        const char* key;
    };
    const Case cases[] = {
        {nullptr, "Scope: none", "HKEY_LOCAL_MACHINE\\"},
        {"user", "Scope: user\nElevationRequirement: none", "HKEY_CURRENT_USER\\"},
        {"machine", "Scope: machine\nElevationRequirement: elevatesSelf", "HKEY_LOCAL_MACHINE\\"},
        {"either", "Scope: either", "HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scope ? c.scope : "none");
        TempFolder temp;
        std::filesystem::copy(kPackage, temp / "package", std::filesystem::copy_options::recursive);
        if (c.scope != nullptr) WriteFile(temp / "package/%KXInstall%/scope.txt", std::string(c.scope) + "\r\n");
        MakeFakeStub(temp / "stub.bin");
        MakeFakeStub(temp / "kxuninst.exe");
        ASSERT_EQ(RunKxpack({"build", temp / "package", "-o", temp / "setup.exe", "--stub", temp / "stub.bin",
                             "--uninstaller=" + temp / "kxuninst.exe"})
                      .exitCode,
                  0);
        const RunResult info = RunKxpack({"list", "--info", temp / "setup.exe"});
        ASSERT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out.rfind(c.scopeLine, 0), 0u) << info.out;
        for (const char* fact : {"  Silent: /S\n", "  InstallLocation: /D=<INSTALLPATH>\n", "  4: another installation",
                                 "  DisplayName: Sample App (remove only)\n", "  DisplayVersion: 1.0\n",
                                 "  Publisher: KX Sample Software\n"}) {
            EXPECT_NE(info.out.find(fact), std::string::npos) << fact << "\n" << info.out;
        }
        EXPECT_NE(info.out.find("  Key: " + std::string(c.key)), std::string::npos) << info.out;
        const bool either = c.scope != nullptr && std::string(c.scope) == "either";
        EXPECT_EQ(either, info.out.find("Custom /CURRENTUSER") != std::string::npos) << info.out;
    }
}

TEST(SamplePackage, ControlFilesUseCrLfLineEnds) {
    for (const char* file : kControlFiles) {
        const std::string text = ReadFile(kControl + file);
        ASSERT_FALSE(text.empty()) << file;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << file << " has a bare LF at " << i;
            }
        }
    }
}

TEST(SamplePackage, WholeFileValuesCarryNoTrailingLineBreak) {
    // tt.txt is the title, eoi_file.txt is a path: a line break would
    // become part of them.
    for (const char* file : {"tt.txt", "eoi_file.txt"}) {
        const std::string text = ReadFile(kControl + file);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << file;
    }
}

TEST(SamplePackage, ControlFilesNameOnlyShippedPayload) {
    std::set<std::string> placed = PlacedFiles();
    EXPECT_TRUE(NamesPlacedFile(ReadFile(kControl + "eoi_file.txt"), placed));
    placed.insert("uninstall.exe");  // added by build --uninstaller
    const std::vector<std::string> info = ControlLines("uninstall_info.txt");
    ASSERT_EQ(info.size(), 5u);
    EXPECT_TRUE(NamesPlacedFile(info[2], placed)) << info[2];
    EXPECT_EQ(info[4], "\"" + kInstallPath + "uninstall.exe\" /S");

    std::vector<std::vector<std::string>> shortcuts;
    ASSERT_TRUE(ReadGroups("shortcuts.txt", &shortcuts));
    EXPECT_FALSE(shortcuts.empty());
    for (const std::vector<std::string>& shortcut : shortcuts) {
        EXPECT_TRUE(NamesPlacedFile(shortcut[2], placed)) << shortcut[2];
        EXPECT_TRUE(shortcut[3] == "0" || shortcut[3] == "1" || shortcut[3] == "2") << shortcut[3];
    }
}

TEST(SamplePackage, MacroTableEndsWithTheProductName) {
    std::vector<std::vector<std::string>> macros;
    ASSERT_TRUE(ReadGroups("macros.txt", &macros));
    ASSERT_FALSE(macros.empty());
    for (const std::vector<std::string>& macro : macros) {
        EXPECT_EQ(macro[0].front(), '%');
        EXPECT_EQ(macro[0].back(), '%');
    }
    // The installer registers the product under the last record's value.
    EXPECT_EQ(macros.back()[0], "%ProductName%");
    EXPECT_FALSE(macros.back()[1].empty());
}

}  // namespace
}  // namespace kxtest
