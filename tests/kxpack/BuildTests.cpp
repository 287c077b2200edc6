// kxpack build: the installer file layout, the archive's order, times and
// attributes, reproducibility, and what a failed build leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include <filesystem>

#include "KxpackTestSupport.h"
#include "archive/ArchiveReader.h"

namespace kxtest {
namespace {

constexpr int64_t kEpoch = 1700000000;  // 2023-11-14T22:13:20Z, even for DOS time
constexpr uint64_t kEpochFileTime = (kEpoch + 11644473600ULL) * 10000000ULL;

class BuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        expectedNames = MakeTestPackage(packageDir);
        stub = MakeFakeStub(stubPath);
    }

    RunResult Build(const std::string& out, const std::map<std::string, std::string>& env = {}) {
        return RunKxpack({"build", packageDir, "-o", out, "--stub", stubPath}, env);
    }

    void SetAllModifiedTimes(int64_t seconds) {
        for (const auto& item : std::filesystem::recursive_directory_iterator(packageDir)) {
            SetModifiedTime(item.path().string(), seconds);
        }
    }

    // The archive part of an installer, saved as a plain .zip for libzip.
    zip_t* OpenRegionWithLibzip(const std::string& installer) {
        const std::string zipPath = temp / "region.zip";
        WriteFile(zipPath, ArchiveRegion(ReadFile(installer)));
        int error = 0;
        return zip_open(zipPath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    }

    TempFolder temp;
    std::string packageDir = temp / "package";
    std::string stubPath = temp / "stub.bin";
    std::vector<std::string> expectedNames;
    std::string stub;
};

TEST_F(BuildTest, InstallerIsStubZeroPaddingArchiveAndTrailer) {
    // Eight stub sizes give every padding length from 0 to 7.
    for (size_t stubSize = 296; stubSize < 304; ++stubSize) {
        SCOPED_TRACE("stub of " + std::to_string(stubSize) + " bytes");
        stub = MakeFakeStub(stubPath, stubSize);
        const RunResult run = Build(temp / "setup.exe");
        ASSERT_EQ(run.exitCode, 0) << run.err;

        const std::string installer = ReadFile(temp / "setup.exe");
        EXPECT_EQ(installer.size() % 8, 0u);
        const std::string archive = ArchiveRegion(installer);
        ASSERT_FALSE(archive.empty());
        EXPECT_EQ(archive.compare(0, 4, "PK\x03\x04"), 0);
        EXPECT_EQ(installer.compare(0, stub.size(), stub), 0);
        const size_t archiveStart = installer.size() - 8 - archive.size();
        ASSERT_GE(archiveStart, stub.size());
        EXPECT_LT(archiveStart - stub.size(), 8u);
        EXPECT_EQ(installer.substr(stub.size(), archiveStart - stub.size()),
                  std::string(archiveStart - stub.size(), '\0'));
    }
}

TEST_F(BuildTest, ControlItemsComeFirstThenPayloadEachInByteOrder) {
    const RunResult run = Build(temp / "setup.exe");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReaderNames(temp / "setup.exe"), expectedNames);
}

TEST_F(BuildTest, EveryEntryHasOneModificationTimestampAndUnixAttributes) {
    chmod((packageDir + "/empty").c_str(), 0700);  // libzip's own default for folders is 0777
    ASSERT_EQ(Build(temp / "setup.exe", {{"SOURCE_DATE_EPOCH", std::to_string(kEpoch)}}).exitCode, 0);
    zip_t* archive = OpenRegionWithLibzip(temp / "setup.exe");
    ASSERT_NE(archive, nullptr);
    ASSERT_EQ(zip_get_num_entries(archive, 0), static_cast<zip_int64_t>(expectedNames.size()));
    const zip_uint8_t expectedTimestamp[5] = {1, kEpoch & 0xff, (kEpoch >> 8) & 0xff, (kEpoch >> 16) & 0xff,
                                              (kEpoch >> 24) & 0xff};
    for (zip_uint64_t i = 0; i < expectedNames.size(); ++i) {
        const std::string name = zip_get_name(archive, i, ZIP_FL_ENC_RAW);
        SCOPED_TRACE(name);
        for (const zip_flags_t where : {ZIP_FL_LOCAL, ZIP_FL_CENTRAL}) {
            EXPECT_EQ(zip_file_extra_fields_count(archive, i, where), 1);
            zip_uint16_t length = 0;
            const zip_uint8_t* data = zip_file_extra_field_get_by_id(archive, i, 0x5455, 0, &length, where);
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::string(data, data + length), std::string(expectedTimestamp, expectedTimestamp + 5));
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        ASSERT_EQ(zip_file_get_external_attributes(archive, i, 0, &system, &attributes), 0);
        EXPECT_EQ(system, ZIP_OPSYS_UNIX);
        const bool isFolder = name.back() == '/';
        EXPECT_EQ((attributes >> 16) & S_IFMT, isFolder ? S_IFDIR : S_IFREG);
        if (name == "bin/readonly.dat") {
            EXPECT_EQ(attributes >> 16, S_IFREG | 0444u);
        }
        if (name == "empty/") {
            EXPECT_EQ(attributes >> 16, S_IFDIR | 0700u);
        }
        zip_stat_t info;
        ASSERT_EQ(zip_stat_index(archive, i, 0, &info), 0);
        EXPECT_EQ(info.comp_method, isFolder ? ZIP_CM_STORE : ZIP_CM_DEFLATE);
    }
    zip_discard(archive);
}

// Without flag bit 11 the installer would read these names in its own code
// page; the reader gives them back unchanged only when the flag is set.
TEST_F(BuildTest, NamesThatAreNotAsciiAreStoredAsFlaggedUtf8) {
    const std::string uebersicht = "\xC3\x9C" "bersicht.txt";
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC.txt";
    WriteFile(packageDir + "/" + uebersicht, "u");
    WriteFile(packageDir + "/" + japanese, "j");
    ASSERT_EQ(Build(temp / "setup.exe").exitCode, 0);
    const std::vector<std::string> names = ReaderNames(temp / "setup.exe");
    EXPECT_NE(std::find(names.begin(), names.end(), uebersicht), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), japanese), names.end());
}

TEST_F(BuildTest, SourceDateEpochSetsBothDosAndExtendedTimes) {
    SetAllModifiedTimes(1500000000);
    // Built three hours east of UTC, read back in UTC: the reader takes DOS
    // times as local time, and under SOURCE_DATE_EPOCH the packer writes
    // them in UTC whatever its zone.
    ASSERT_EQ(Build(temp / "setup.exe", {{"SOURCE_DATE_EPOCH", std::to_string(kEpoch)}, {"TZ", "XST-3"}}).exitCode,
              0);
    const std::string savedZone = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    ArchiveHandle archive = OpenArchive((temp / "setup.exe").c_str());
    ASSERT_NE(archive, nullptr);
    for (int32_t i = 0; i < static_cast<int32_t>(expectedNames.size()); ++i) {
        ArchiveEntry entry;
        ASSERT_EQ(GetArchiveItem(archive, i, &entry), ArchiveResult::Ok);
        EXPECT_EQ(entry.writeTime, kEpochFileTime) << entry.name;     // "UT" field
        EXPECT_EQ(entry.creationTime, kEpochFileTime) << entry.name;  // DOS fields
    }
    (void)CloseArchive(archive);
    savedZone.empty() ? unsetenv("TZ") : setenv("TZ", savedZone.c_str(), 1);
    tzset();
}

TEST_F(BuildTest, SameSourceDateEpochGivesIdenticalBytesWhateverTheFileTimes) {
    const std::map<std::string, std::string> fixed = {{"SOURCE_DATE_EPOCH", std::to_string(kEpoch)}};
    SetAllModifiedTimes(1500000000);
    ASSERT_EQ(Build(temp / "first.exe", fixed).exitCode, 0);
    SetAllModifiedTimes(1600000000);
    std::map<std::string, std::string> elsewhere = fixed;
    elsewhere["TZ"] = "XST5";  // another build machine's zone
    ASSERT_EQ(Build(temp / "second.exe", elsewhere).exitCode, 0);
    ASSERT_EQ(Build(temp / "real-times.exe").exitCode, 0);
    ASSERT_EQ(Build(temp / "other-epoch.exe", {{"SOURCE_DATE_EPOCH", std::to_string(kEpoch + 2)}}).exitCode, 0);

    const std::string first = ReadFile(temp / "first.exe");
    EXPECT_EQ(first, ReadFile(temp / "second.exe"));
    // The times do reach the bytes: without the variable, or with another
    // value, the output differs.
    EXPECT_NE(first, ReadFile(temp / "real-times.exe"));
    EXPECT_NE(first, ReadFile(temp / "other-epoch.exe"));
}

TEST_F(BuildTest, FailuresExitOneAndKeepThePreviousOutput) {
    const std::string out = temp / "setup.exe";
    WriteFile(out, "previous build");

    // Too large for the installer: found only after the archive was written.
    const std::string hugeStub = temp / "huge-stub.bin";
    WriteFile(hugeStub, "");
    ASSERT_EQ(truncate(hugeStub.c_str(), 0x80000000LL), 0);  // sparse
    RunResult run = RunKxpack({"build", packageDir, "-o", out, "--stub", hugeStub});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("2 GiB"), std::string::npos) << run.err;

    run = RunKxpack({"build", packageDir, "-o", out, "--stub", temp / "missing-stub.bin"});
    EXPECT_EQ(run.exitCode, 1);
    run = RunKxpack({"build", temp / "missing-package", "-o", out, "--stub", stubPath});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(symlink("readme.txt", (packageDir + "/link.txt").c_str()), 0);
    run = RunKxpack({"build", packageDir, "-o", out, "--stub", stubPath});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("link.txt"), std::string::npos) << run.err;

    EXPECT_EQ(ReadFile(out), "previous build");
    for (const auto& item : std::filesystem::directory_iterator(temp.Path())) {
        EXPECT_EQ(item.path().filename().string().rfind(".kxpack-", 0), std::string::npos)
            << "work folder left behind: " << item.path();
    }
}

TEST_F(BuildTest, WithoutStubOptionTheStubComesFromDist) {
    if (Exists(std::filesystem::path(KXPACK_PATH).parent_path().string() + "/kxsetup.exe")) {
        GTEST_SKIP() << "a stub lies beside kxpack and takes precedence";
    }
    const std::vector<std::string> args = {"build", packageDir, "-o", temp / "setup.exe"};
    RunResult run = RunKxpack(args, {}, temp.Path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("--stub"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(temp / "setup.exe"));

    const std::string distStub = MakeFakeStub(temp / "dist/kxsetup.exe", 123);
    run = RunKxpack(args, {}, temp.Path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(temp / "setup.exe").compare(0, distStub.size(), distStub), 0);
}

TEST(BuildUsage, BadArgumentsAreUsageErrors) {
    EXPECT_EQ(RunKxpack({"build"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"build", "package"}).exitCode, 2);              // no -o
    EXPECT_EQ(RunKxpack({"build", "package", "-o"}).exitCode, 2);        // -o without path
    EXPECT_EQ(RunKxpack({"build", "a", "b", "-o", "x.exe"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"build", "package", "-o", "x.exe", "--fast"}).exitCode, 2);
}

}  // namespace
}  // namespace kxtest

namespace kxtest {
namespace {

// The end record's comment is "KXCRC32=" and the CRC-32 of every byte before
// the end record, computed here independently; a changed byte is then found.
TEST_F(BuildTest, TheArchiveEndsWithItsIntegrityRecord) {
    const RunResult run = Build(temp / "setup.exe");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string archive = ArchiveRegion(ReadFile(temp / "setup.exe"));
    ASSERT_GT(archive.size(), 38u);
    const std::string record = archive.substr(archive.size() - 38);
    EXPECT_EQ(record.compare(0, 4, "PK\x05\x06"), 0);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(archive.data()),
                            static_cast<uInt>(archive.size() - 38));
    char expected[32];
    std::snprintf(expected, sizeof expected, "KXCRC32=%08X", static_cast<unsigned>(crc));
    zip_t* zip = OpenRegionWithLibzip(temp / "setup.exe");
    ASSERT_NE(zip, nullptr);
    int length = 0;
    const char* comment = zip_get_archive_comment(zip, &length, ZIP_FL_ENC_RAW);
    EXPECT_EQ(std::string(comment != nullptr ? comment : "", static_cast<size_t>(length)), expected);
    zip_discard(zip);
    EXPECT_EQ(RunKxpack({"verify", temp / "setup.exe"}).exitCode, 0);

    std::string changed = ReadFile(temp / "setup.exe");
    changed[changed.size() - 8 - archive.size() + 40] ^= 0x04;
    WriteFile(temp / "changed.exe", changed);
    const RunResult verified = RunKxpack({"verify", temp / "changed.exe"});
    EXPECT_EQ(verified.exitCode, 1);
    EXPECT_NE(verified.out.find(": damaged: "), std::string::npos) << verified.out;
}

}  // namespace
}  // namespace kxtest
