// kxpack list and extract, which read installers back through the
// installer's own archive reader, and the command line's exit codes.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "KxpackTestSupport.h"

namespace kxtest {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

class ReadBackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        names = MakeTestPackage(packageDir);
        MakeFakeStub(temp / "stub.bin");
        const RunResult run = RunKxpack({"build", packageDir, "-o", installer, "--stub", temp / "stub.bin"},
                                        {{"SOURCE_DATE_EPOCH", "1700000000"}});
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    // Compressed sizes as libzip reads them from the archive region.
    std::vector<zip_uint64_t> CompressedSizes() {
        const std::string zipPath = temp / "region.zip";
        WriteFile(zipPath, ArchiveRegion(ReadFile(installer)));
        std::vector<zip_uint64_t> sizes;
        int error = 0;
        zip_t* archive = zip_open(zipPath.c_str(), ZIP_RDONLY, &error);
        if (archive == nullptr) return sizes;
        for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(zip_get_num_entries(archive, 0)); ++i) {
            zip_stat_t info;
            sizes.push_back(zip_stat_index(archive, i, 0, &info) == 0 ? info.comp_size : ~0ull);
        }
        zip_discard(archive);
        return sizes;
    }

    TempFolder temp;
    std::string packageDir = temp / "package";
    std::string installer = temp / "setup.exe";
    std::vector<std::string> names;
};

std::string ExpectedAttributes(const std::string& name) {
    if (name.back() == '/') return "0x00000030";           // folder, archive
    if (name == "bin/readonly.dat") return "0x00000021";   // read-only, archive
    return "0x00000020";
}

TEST_F(ReadBackTest, ListPrintsOneTabSeparatedLinePerItem) {
    const RunResult run = RunKxpack({"list", installer});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = Split(run.out, '\n');
    const std::vector<zip_uint64_t> compressed = CompressedSizes();
    ASSERT_EQ(lines.size(), names.size());
    ASSERT_EQ(compressed.size(), names.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const std::vector<std::string> fields = Split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 6u);
        EXPECT_EQ(fields[0], std::to_string(i));
        EXPECT_EQ(fields[1], names[i]);
        const bool isFolder = names[i].back() == '/';
        const size_t size = isFolder ? 0 : ReadFile(packageDir + "/" + names[i]).size();
        EXPECT_EQ(fields[2], std::to_string(size));
        EXPECT_EQ(fields[3], std::to_string(compressed[i]));
        EXPECT_EQ(fields[4], ExpectedAttributes(names[i]));
        EXPECT_EQ(fields[5], "2023-11-14T22:13:20Z");
    }
}

TEST_F(ReadBackTest, ExtractRoundTripsEveryFileByteForByte) {
    const std::string out = temp / "out";
    const RunResult run = RunKxpack({"extract", installer, out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        if (name.back() == '/') {
            EXPECT_TRUE(std::filesystem::is_directory(out + "/" + name));
        } else {
            ASSERT_TRUE(Exists(out + "/" + name));
            EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(packageDir + "/" + name));
        }
    }
    EXPECT_GT(ReadFile(out + "/bin/data.bin").size(), 100000u);  // spans many reader buffers
}

// A plain ZIP written as an attacker would: names that climb out of the target.
void WriteHostileZip(const std::string& path) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    static const char kGood[] = "harmless\n";
    static const char kEvil[] = "escaped\n";
    const std::pair<const char*, const char*> items[] = {
        {"good.txt", kGood}, {"../evil.txt", kEvil}, {"sub/../../evil2.txt", kEvil}, {"sub/ok.txt", kGood}};
    for (const auto& [name, text] : items) {
        zip_source_t* source = zip_source_buffer(archive, text, std::strlen(text), 0);
        ASSERT_GE(zip_file_add(archive, name, source, ZIP_FL_ENC_RAW), 0) << name;
    }
    ASSERT_EQ(zip_close(archive), 0);
}

TEST(ExtractHostile, NamesThatLeaveTheFolderAreSkippedAndReported) {
    TempFolder temp;
    const std::string zipPath = temp / "hostile.zip";
    WriteHostileZip(zipPath);
    const std::string target = temp / "area/inner";

    const RunResult listed = RunKxpack({"list", zipPath});  // a plain ZIP reads too
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("\t../evil.txt\t"), std::string::npos) << listed.out;

    const RunResult run = RunKxpack({"extract", zipPath, target});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("../evil.txt"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(target + "/good.txt"), "harmless\n");
    EXPECT_EQ(ReadFile(target + "/sub/ok.txt"), "harmless\n");
    for (const auto& item : std::filesystem::recursive_directory_iterator(temp.Path())) {
        EXPECT_EQ(item.path().filename().string().find("evil"), std::string::npos) << item.path();
    }
}

TEST(CommandLine, HelpGoesToStdoutWithExitZero) {
    const RunResult run = RunKxpack({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("kxpack build PACKAGE_DIR -o OUT.exe"), std::string::npos) << run.out;
    EXPECT_EQ(RunKxpack({"list", "--help"}).exitCode, 0);
}

TEST(CommandLine, MissingOrUnknownCommandsAndWrongCountsAreUsageErrors) {
    EXPECT_EQ(RunKxpack({}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"pack"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"list"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"list", "a.exe", "b.exe"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"extract", "a.exe"}).exitCode, 2);
    EXPECT_EQ(RunKxpack({"extract", "a.exe", "out", "more"}).exitCode, 2);
}

TEST(CommandLine, AFileThatIsNoPackageFailsWithOneLine) {
    TempFolder temp;
    WriteFile(temp / "notes.txt", std::string(5000, 'x'));
    for (const std::string& path : {temp / "notes.txt", temp / "missing.exe"}) {
        for (const char* command : {"list", "extract"}) {
            SCOPED_TRACE(std::string(command) + " " + path);
            const std::vector<std::string> args = command == std::string("list")
                                                      ? std::vector<std::string>{command, path}
                                                      : std::vector<std::string>{command, path, temp / "out"};
            const RunResult run = RunKxpack(args);
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(Split(run.err, '\n').size(), 1u) << run.err;
        }
    }
}

}  // namespace
}  // namespace kxtest
