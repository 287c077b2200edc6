// What build makes for the archive: the fileinfo.txt of a package without
// one, and with --uninstaller the uninstaller, its line and its control
// files; what it leaves alone, and the packages it refuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "KxpackTestSupport.h"

namespace kxtest {
namespace {

const char kLine[] = "uninstall.exe|%install path%\\";

class UninstallerOption : public testing::Test {
protected:
    void SetUp() override {
        MakeFakeStub(temp / "stub.bin");
        uninstaller = MakeFakeStub(temp / "kxuninst.exe", 999);
    }
    RunResult Build(const std::string& package) {
        return RunKxpack({"build", package, "-o", temp / "setup.exe", "--stub", temp / "stub.bin",
                          "--uninstaller=" + temp / "kxuninst.exe"});
    }
    // A control file or payload item of the built installer.
    std::string Packed(const std::string& name) {
        std::filesystem::remove_all(temp / "out");
        const RunResult run = RunKxpack({"extract", temp / "setup.exe", temp / "out"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return ReadFile(temp / ("out/" + name));
    }

    TempFolder temp;
    std::string uninstaller;
};

TEST_F(UninstallerOption, AddsTheUninstallerItsLineAndItsControlFilesToTheArchiveOnly) {
    const std::string package = temp / "package";
    MakeTestPackage(package);
    const std::string fileInfo = ReadFile(package + "/%KXInstall%/fileinfo.txt");
    const RunResult run = Build(package);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Packed("uninstall.exe"), uninstaller);
    EXPECT_EQ(Packed("%KXInstall%/fileinfo.txt"),
              "readme.txt|%install path%\\\r\nbin\\data.bin|%install path%\\\r\n" + std::string(kLine) + "\r\n////\r\n");
    EXPECT_EQ(Packed("%KXInstall%/uninstall.txt"), "%install path%\\uninstall.exe");
    EXPECT_EQ(Packed("%KXInstall%/uninstall_info.txt"), "\r\n\r\n\r\n\r\n\"%install path%\\uninstall.exe\" /S\r\n");
    // The package folder stays as the author left it.
    EXPECT_EQ(ReadFile(package + "/%KXInstall%/fileinfo.txt"), fileInfo);
    EXPECT_FALSE(Exists(package + "/%KXInstall%/uninstall.txt"));
    EXPECT_FALSE(Exists(package + "/uninstall.exe"));

    // The package's own uninstall_info.txt is packed as it is.
    WriteFile(package + "/%KXInstall%/uninstall_info.txt", "2.0\r\n");
    ASSERT_EQ(Build(package).exitCode, 0);
    EXPECT_EQ(Packed("%KXInstall%/uninstall_info.txt"), "2.0\r\n");
}

TEST_F(UninstallerOption, TheLineGoesBeforeTheTerminatorInTheFilesOwnLineEnds) {
    const std::string package = temp / "package";
    WriteFile(package + "/a.txt", "a");
    const struct {
        const char* given;  // nullptr: no fileinfo.txt
        std::string packed;
    } cases[] = {
        {nullptr, "a.txt|%install path%\\\r\n" + std::string(kLine) + "\r\n////\r\n"},
        {"a.txt|C:\\A\n////\n", "a.txt|C:\\A\n" + std::string(kLine) + "\n////\n"},
        {"a.txt|C:\\A", "a.txt|C:\\A\r\n" + std::string(kLine) + "\r\n"},
        {"\xEF\xBB\xBF////\r\n", "\xEF\xBB\xBF" + std::string(kLine) + "\r\n////\r\n"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.given ? test.given : "(none)");
        std::filesystem::remove(package + "/%KXInstall%/fileinfo.txt");
        if (test.given != nullptr) WriteFile(package + "/%KXInstall%/fileinfo.txt", test.given);
        const RunResult run = Build(package);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Packed("%KXInstall%/fileinfo.txt"), test.packed);
    }
}

TEST_F(UninstallerOption, APackageWithItsOwnUninstallerIsRefusedByBuildAndCheck) {
    for (const char* own : {"%KXInstall%/uninstall.txt", "Uninstall.EXE"}) {
        SCOPED_TRACE(own);
        const std::string package = temp / "package";
        std::filesystem::remove_all(package);
        MakeTestPackage(package);
        WriteFile(package + "/" + own, "mine");
        const RunResult run = Build(package);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(own), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--uninstaller"), std::string::npos) << run.err;
        EXPECT_FALSE(Exists(temp / "setup.exe"));
        const RunResult check = RunKxpack({"check", "--uninstaller", package});
        EXPECT_EQ(check.exitCode, 1);
        EXPECT_EQ(check.out.rfind(std::string(own) + ":1: ", 0), 0u) << check.out;
        EXPECT_EQ(RunKxpack({"check", package}).exitCode, 0);
    }
}

TEST_F(UninstallerOption, APackageWithoutFileInfoPlacesEveryPayloadFileAndIsToldSo) {
    const std::string package = temp / "package";
    MakeTestPackage(package);
    std::filesystem::remove(package + "/%KXInstall%/fileinfo.txt");
    const std::string made =
        "#notes.txt|%install path%\\\r\nZeta.txt|%install path%\\\r\nbin\\data.bin|%install path%\\\r\n"
        "bin\\readonly.dat|%install path%\\\r\nreadme.txt|%install path%\\\r\nzero.txt|%install path%\\\r\n////\r\n";
    const RunResult printed = RunKxpack({"build", package, "--fileinfo-only"});
    EXPECT_EQ(printed.exitCode, 0) << printed.err;
    EXPECT_EQ(printed.out, made);
    const RunResult run = RunKxpack({"build", package, "-o", temp / "setup.exe", "--stub", temp / "stub.bin"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("has no %KXInstall%/fileinfo.txt"), std::string::npos) << run.err;
    EXPECT_EQ(Packed("%KXInstall%/fileinfo.txt"), made);
    EXPECT_FALSE(Exists(package + "/%KXInstall%/fileinfo.txt"));
}

}  // namespace
}  // namespace kxtest
