#pragma once
// The example package installed by the end-to-end tests of unattended
// installation and of removal: its payload and shortcuts, and a fixture that
// runs it to its end and clears what it leaves.

#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "InstallerFixture.h"

namespace example {
using namespace e2e;

constexpr char kProduct[] = "Sample App";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample App";
// The payload from the package folder; build --uninstaller adds uninstall.exe.
inline const std::vector<std::string> kPayload = {"readme.txt", "docs\\manual.txt", "data\\settings.ini"};

inline std::string CurrentTestName() { return testing::UnitTest::GetInstance()->current_test_info()->name(); }

inline std::string SourceFile(const std::string& name) {
    const char* folder = std::getenv("KX_E2E_SOURCES");
    return std::string(folder ? folder : ".") + "\\sample-app\\" + name;
}

inline std::string QuickLaunchFolder() {
    return SpecialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer\\Quick Launch";
}

// Every shortcut file the example package can make.
inline std::vector<std::string> ExampleShortcuts() {
    const std::string group = SpecialFolder(CSIDL_PROGRAMS) + "\\" + kProduct;
    return {group + "\\Readme.lnk", group + "\\User Manual.lnk",
            SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "\\Sample App Readme.lnk",
            QuickLaunchFolder() + "\\Sample App Readme.lnk"};
}

inline void RemoveExampleTraces() {
    for (const std::string& link : ExampleShortcuts()) (void)DeleteFileA(link.c_str());
    (void)RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + "\\" + kProduct);
    (void)DeleteRegistryKey(HKEY_LOCAL_MACHINE, kUninstallKey);
    (void)DeleteRegistryKey(HKEY_CURRENT_USER, kUninstallKey);
}

class ExampleTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        scratch_ = TempFolder() + "kx-e2e-" + CurrentTestName();
        ASSERT_TRUE(RemoveTree(scratch_));
        ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr));
        RemoveExampleTraces();
        // As in a new profile, there is no quick-launch folder: the
        // installer makes it.
        const std::string browserFolder = SpecialFolder(CSIDL_APPDATA) + "\\Microsoft\\Internet Explorer";
        if (!PathExists(browserFolder)) madeFolder_ = browserFolder;
        ASSERT_TRUE(RemoveTree(QuickLaunchFolder()));
    }

    void TearDown() override {
        EndProcessesCaptioned(std::string(kProduct) + " Uninstall");  // an uninstaller's copy left waiting
        InstallerTest::TearDown();
        RemoveExampleTraces();
        (void)RemoveTree(scratch_);
        if (!madeFolder_.empty()) {
            EXPECT_TRUE(RemoveTree(madeFolder_));
        }
    }

    // Runs the package with the arguments to its end; the exit code, or -1
    // when it did not end. Notes whether any window of it ever showed.
    int RunToEnd(const std::string& package, const std::string& arguments) {
        if (!Start(package, arguments)) return -1;
        while (!installer.HasExited()) {
            sawWindow_ = sawWindow_ || installer.ShowsAnyWindow();
            Sleep(2);
        }
        DWORD exitCode = 0;
        return installer.WaitForExit(&exitCode, 0) ? static_cast<int>(exitCode) : -1;
    }

    // What the example leaves: the list, the shortcuts, the entry.
    std::string Traces(const std::string& folder) {
        std::string traces;
        if (!ReadFileBytes(folder + "\\uninstall.ini", &traces)) traces = "(no list)";
        for (const std::string& link : ExampleShortcuts()) traces += PathExists(link) ? "+" + link : "-" + link;
        std::string text;
        traces += ReadRegistryText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", &text) ? text : "(no entry)";
        return traces;
    }

    std::string scratch_;
    std::string madeFolder_;
    bool sawWindow_ = false;
};

}  // namespace example
