// kxpack build --solid: the archive as one .xz stream behind the stub, read
// back through kxpack and, independently, through liblzma and libzip.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "KxpackTestSupport.h"
#include "archive/PackageFormat.h"

namespace kxtest {
namespace {

constexpr char kEpoch[] = "1700000000";
constexpr size_t kRecordSize = 16;

// The smallest x86 PE image header that marks a file as an executable.
std::string FakeExecutable(uint16_t machine, const std::string& body) {
    std::string image(0x100, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = static_cast<char>(0x80);
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    image[0x84] = static_cast<char>(machine & 0xff);
    image[0x85] = static_cast<char>(machine >> 8);
    return image + body;
}

// Every (name, size, attributes, time) line of kxpack list, without the
// index and the packed size, in name order.
std::set<std::string> ListedItems(const std::string& listing) {
    std::set<std::string> items;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        if (fields.size() == 6) items.insert(fields[1] + "\t" + fields[2] + "\t" + fields[4] + "\t" + fields[5]);
    }
    return items;
}

// The ZIP archive of a solid region, decompressed by liblzma; empty when
// liblzma refuses it. memoryLimit bounds the decoder's memory.
std::string DecompressWithLiblzma(const std::string& stream, uint64_t memoryLimit = UINT64_MAX) {
    std::string out(256 << 20, '\0');
    uint64_t limit = memoryLimit;
    size_t inPosition = 0;
    size_t outPosition = 0;
    const lzma_ret ret = lzma_stream_buffer_decode(&limit, 0, nullptr, reinterpret_cast<const uint8_t*>(stream.data()),
                                                   &inPosition, stream.size(), reinterpret_cast<uint8_t*>(&out[0]),
                                                   &outPosition, out.size());
    if (ret != LZMA_OK || inPosition != stream.size()) return std::string();
    out.resize(outPosition);
    return out;
}

std::map<std::string, std::string> TreeOf(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = std::filesystem::relative(item.path(), folder).string();
        tree[name] = item.is_directory() ? std::string("(folder)") : ReadFile(item.path().string());
    }
    return tree;
}

class SolidTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        MakeTestPackage(packageDir);
        WriteFile(packageDir + "/bin/tool.exe", FakeExecutable(0x14c, std::string(5000, 'x')));
        WriteFile(packageDir + "/bin/aaa.dll", FakeExecutable(0x8664, std::string(3000, 'y')));
        WriteFile(packageDir + "/bin/arm.dll", FakeExecutable(0x1c4, "not x86"));
        MakeFakeStub(stubPath);
    }

    RunResult Build(const std::string& out, const std::string& mode,
                    const std::map<std::string, std::string>& env = {{"SOURCE_DATE_EPOCH", kEpoch}}) {
        std::vector<std::string> args = {"build", packageDir, "-o", out, "--stub", stubPath};
        if (!mode.empty()) args.push_back(mode);
        return RunKxpack(args, env);
    }

    // The solid region without its record, and the record.
    static std::string StreamOf(const std::string& installer) {
        const std::string region = ArchiveRegion(ReadFile(installer));
        return region.size() < kRecordSize ? std::string() : region.substr(0, region.size() - kRecordSize);
    }

    TempFolder temp;
    std::string packageDir = temp / "package";
    std::string stubPath = temp / "stub.bin";
};

TEST_F(SolidTest, ASolidBuildIsOneXzStreamOfAZipWithStoredPayloadAndItsRecord) {
    const RunResult run = Build(temp / "solid.exe", "--solid");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("solid archive"), std::string::npos) << run.out;
    const std::string region = ArchiveRegion(ReadFile(temp / "solid.exe"));
    ASSERT_GT(region.size(), 40u);
    EXPECT_EQ(region.compare(0, 6, reinterpret_cast<const char*>(package::kXzMagic), 6), 0);
    const std::string stream = StreamOf(temp / "solid.exe");
    EXPECT_EQ(stream.substr(stream.size() - 2), "YZ");
    char record[17];
    std::snprintf(record, sizeof record, "KXCRC32=%08X",
                  static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(stream.data()),
                                              static_cast<uInt>(stream.size()))));
    EXPECT_EQ(region.substr(region.size() - kRecordSize), record);
    EXPECT_EQ(ReadFile(temp / "solid.exe").size() % 8, 0u);

    // What liblzma and libzip see: control items deflated, payload stored,
    // the x86 executables first, the other files by extension.
    WriteFile(temp / "inner.zip", DecompressWithLiblzma(stream));
    int error = 0;
    zip_t* zip = zip_open((temp / "inner.zip").c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(zip, nullptr) << "libzip error " << error;
    std::vector<std::string> files;
    for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
        zip_stat_t info;
        ASSERT_EQ(zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &info), 0);
        const std::string name = info.name;
        if (name.back() == '/') continue;
        const bool control = name.rfind("%KXInstall%/", 0) == 0;
        EXPECT_EQ(info.comp_method, control ? ZIP_CM_DEFLATE : ZIP_CM_STORE) << name;
        if (!control) files.push_back(name);
    }
    zip_discard(zip);
    const std::vector<std::string> expected = {"bin/aaa.dll", "bin/tool.exe", "bin/data.bin", "bin/readonly.dat",
                                               "bin/arm.dll", "#notes.txt", "Zeta.txt", "readme.txt", "zero.txt"};
    EXPECT_EQ(files, expected);
}

TEST_F(SolidTest, ASolidBuildRoundTripsThroughListExtractAndVerify) {
    ASSERT_EQ(Build(temp / "plain.exe", "--plain").exitCode, 0);
    ASSERT_EQ(Build(temp / "solid.exe", "--solid").exitCode, 0);
    const RunResult verified = RunKxpack({"verify", temp / "solid.exe"});
    EXPECT_EQ(verified.exitCode, 0);
    EXPECT_EQ(verified.out, temp / "solid.exe" + ": intact, solid, unsigned\n");
    EXPECT_EQ(RunKxpack({"verify", temp / "plain.exe"}).out, temp / "plain.exe" + ": intact, unsigned\n");

    const RunResult plainList = RunKxpack({"list", temp / "plain.exe"});
    const RunResult solidList = RunKxpack({"list", temp / "solid.exe"});
    ASSERT_EQ(solidList.exitCode, 0) << solidList.err;
    EXPECT_EQ(ListedItems(solidList.out), ListedItems(plainList.out));
    EXPECT_EQ(ListedItems(solidList.out).size(), 17u);

    ASSERT_EQ(RunKxpack({"extract", temp / "plain.exe", temp / "plain-out"}).exitCode, 0);
    const RunResult extracted = RunKxpack({"extract", temp / "solid.exe", temp / "solid-out"});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_TRUE(TreeOf(temp / "solid-out") == TreeOf(temp / "plain-out")) << "the extracted trees differ";
    EXPECT_EQ(ReadFile(temp / "solid-out/bin/data.bin"), ReadFile(packageDir + "/bin/data.bin"));

    const RunResult checked = RunKxpack({"check", temp / "solid.exe"});
    EXPECT_EQ(checked.out, RunKxpack({"check", temp / "plain.exe"}).out);
    EXPECT_EQ(checked.exitCode, RunKxpack({"check", temp / "plain.exe"}).exitCode) << checked.err;
}

TEST_F(SolidTest, SolidBuildsAreByteIdenticalAndPlainIsTheDefault) {
    ASSERT_EQ(Build(temp / "first.exe", "--solid").exitCode, 0);
    std::map<std::string, std::string> elsewhere = {{"SOURCE_DATE_EPOCH", kEpoch}, {"TZ", "XST5"}};
    ASSERT_EQ(Build(temp / "second.exe", "--solid", elsewhere).exitCode, 0);
    EXPECT_TRUE(ReadFile(temp / "first.exe") == ReadFile(temp / "second.exe")) << "two solid builds differ";

    ASSERT_EQ(Build(temp / "default.exe", "").exitCode, 0);
    ASSERT_EQ(Build(temp / "plain.exe", "--plain").exitCode, 0);
    EXPECT_TRUE(ReadFile(temp / "default.exe") == ReadFile(temp / "plain.exe"));
    EXPECT_EQ(ArchiveRegion(ReadFile(temp / "plain.exe")).compare(0, 4, "PK\x03\x04"), 0);
}

// The stub allocates the dictionary the stream names: a small package names
// a small one, so liblzma decodes it within 1 MiB.
TEST_F(SolidTest, ASmallPackageAsksForASmallDictionary) {
    ASSERT_EQ(Build(temp / "solid.exe", "--solid").exitCode, 0);
    const std::string stream = StreamOf(temp / "solid.exe");
    EXPECT_FALSE(DecompressWithLiblzma(stream, 1 << 20).empty());
    EXPECT_TRUE(DecompressWithLiblzma(stream, 64 << 10).empty());  // the limit does bite
}

TEST_F(SolidTest, CutOrFlippedSolidInstallersAreDamaged) {
    WriteFile(packageDir + "/data/big.bin", std::string(1 << 20, 'z') + ReadFile(packageDir + "/bin/data.bin"));
    ASSERT_EQ(Build(temp / "solid.exe", "--solid").exitCode, 0);
    const std::string good = ReadFile(temp / "solid.exe");
    const size_t streamAt = good.size() - 8 - ArchiveRegion(good).size();
    const size_t streamLength = ArchiveRegion(good).size() - kRecordSize;
    struct Case {
        std::string what;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"cut in half", good.substr(0, good.size() / 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"stream without its record", good.substr(0, good.size() - 8 - kRecordSize)},
    };
    for (size_t at : {streamAt + 3, streamAt + streamLength / 2, streamAt + streamLength - 5, good.size() - 12}) {
        std::string flipped = good;
        flipped[at] ^= 0x10;
        cases.push_back({"flipped byte at " + std::to_string(at - streamAt), flipped});
    }
    for (const Case& c : cases) {
        WriteFile(temp / "damaged.exe", c.bytes);
        const RunResult verified = RunKxpack({"verify", temp / "damaged.exe"});
        EXPECT_EQ(verified.exitCode, 1) << c.what;
        EXPECT_EQ(verified.out.rfind(temp / "damaged.exe" + ": damaged: ", 0), 0u) << c.what << ": " << verified.out;
    }
    // A flipped stream byte whose record was made to match: the stream's own
    // checks still find it, so nothing of it is listed.
    std::string forged = good;
    forged[streamAt + streamLength / 2] ^= 0x10;
    char record[17];
    std::snprintf(record, sizeof record, "KXCRC32=%08X",
                  static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(forged.data() + streamAt),
                                              static_cast<uInt>(streamLength))));
    forged.replace(streamAt + streamLength, kRecordSize, record);
    WriteFile(temp / "forged.exe", forged);
    const RunResult verified = RunKxpack({"verify", temp / "forged.exe"});
    EXPECT_EQ(verified.exitCode, 1) << verified.out;
    EXPECT_NE(verified.out.find("cannot be decompressed"), std::string::npos) << verified.out;
    EXPECT_EQ(RunKxpack({"list", temp / "forged.exe"}).exitCode, 1);
}

}  // namespace
}  // namespace kxtest
