#include <cstdio>

#include "TestSupport.h"
#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"
#include "startup/PackageLoader.h"
#include "state/Workspace.h"

namespace {

constexpr size_t kPeAt = 0x80;
constexpr size_t kOptionalAt = kPeAt + 4 + 20;
constexpr size_t kCertificateEntryAt = kOptionalAt + 96 + 4 * 8;

void PutLe32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The headers a PE32 image has up to its data directories, in front of filler.
Bytes FakePeStub(size_t size) {
    Bytes stub = PatternBytes(size, 7);
    stub[0] = 'M';
    stub[1] = 'Z';
    PutLe32(stub, 0x3C, kPeAt);
    PutLe32(stub, kPeAt, 0x00004550);
    stub[kPeAt + 4 + 16] = 224;  // size of the optional header
    stub[kPeAt + 4 + 17] = 0;
    stub[kOptionalAt] = 0x0b;
    stub[kOptionalAt + 1] = 0x01;
    PutLe32(stub, kOptionalAt + 92, 16);  // data directories
    PutLe32(stub, kCertificateEntryAt, 0);
    PutLe32(stub, kCertificateEntryAt + 4, 0);
    return stub;
}

// Stub, zero padding to a multiple of 8, archive, trailer: as the packer builds.
Bytes Installer(const Bytes& stub, const Bytes& archive, bool align = true) {
    Bytes file = stub;
    const size_t used = (stub.size() + archive.size() + 8) % 8;
    if (align && used != 0) file.resize(file.size() + 8 - used, 0);
    file.insert(file.end(), archive.begin(), archive.end());
    unsigned char trailer[8];
    package::WriteLe64(trailer, archive.size());
    file.insert(file.end(), trailer, trailer + 8);
    return file;
}

// What a signing tool does: pad to 8 with zeros, append the table, name it.
Bytes Sign(Bytes file, size_t tableSize, uint32_t seed = 3) {
    file.resize((file.size() + 7) / 8 * 8, 0);
    PutLe32(file, kCertificateEntryAt, static_cast<uint32_t>(file.size()));
    PutLe32(file, kCertificateEntryAt + 4, static_cast<uint32_t>(tableSize));
    const Bytes table = PatternBytes(tableSize, seed);
    file.insert(file.end(), table.begin(), table.end());
    return file;
}

// An archive whose end record carries the integrity record.
Bytes WithIntegrityRecord(const std::vector<ZipItem>& items) {
    ZipOptions options;
    options.comment = "KXCRC32=00000000";
    Bytes zip = BuildZip(items, options);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), zip.data(), static_cast<uInt>(zip.size() - 38));
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(crc));
    std::copy(digits, digits + 8, zip.end() - 8);
    return zip;
}

std::vector<ZipItem> SomeItems() {
    ZipItem big = FileItem("data/big.bin", "", 8);
    big.data = PatternBytes(300000);
    return {FileItem("%KXInstall%/tt.txt", "Title"), big, FileItem("readme.txt", "read me", 0)};
}

class PackageLocatorTest : public ScratchFolder {
protected:
    bool Locate(const Bytes& file, package::PackageLocation* where, std::string* reason) {
        EXPECT_TRUE(WriteBytes(Path("setup.exe"), file));
        platform::UniqueFile handle(platform::OpenFileForReading(Path("setup.exe").c_str()));
        return handle.IsOpen() && package::LocatePackage(handle.Get(), where, reason) &&
               package::CheckIntegrity(handle.Get(), *where, reason);
    }
    // The reason the file is damaged; empty when it is intact.
    std::string DamageOf(const Bytes& file) {
        package::PackageLocation where;
        std::string reason;
        return Locate(file, &where, &reason) ? std::string() : reason;
    }
    CopyResult CopyOut(const Bytes& file) {
        EXPECT_TRUE(WriteBytes(Path("setup.exe"), file));
        InstallerState state;
        ReleaseArchiveCopy();  // one run's copy goes before the next run's
        return CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), CopyProgress());
    }
};

TEST_F(PackageLocatorTest, FindsThePackageBeforeACertificateTableAlignedOrNot) {
    const Bytes archive = WithIntegrityRecord(SomeItems());
    const Bytes stub = FakePeStub(1001);
    struct Case {
        const char* what;
        Bytes file;
        bool isSigned;
    };
    const Case cases[] = {
        {"unsigned", Installer(stub, archive), false},
        {"signed, aligned", Sign(Installer(stub, archive), 5000), true},
        {"signed, misaligned", Sign(Installer(stub, archive, false), 1234), true},
        {"table larger than 64 KiB", Sign(Installer(stub, BuildZip(SomeItems()), false), 70000), true},
    };
    for (const Case& c : cases) {
        package::PackageLocation where;
        std::string reason;
        ASSERT_TRUE(Locate(c.file, &where, &reason)) << c.what << ": " << reason;
        EXPECT_EQ(c.isSigned, where.isSigned) << c.what;
        const Bytes found(c.file.begin() + where.archiveStart, c.file.begin() + where.ArchiveEnd());
        EXPECT_TRUE(found == archive || found == BuildZip(SomeItems())) << c.what;
        EXPECT_EQ(CopyResult::Copied, CopyOut(c.file)) << c.what;
        EXPECT_EQ(found, ReadArchiveCopy()) << c.what;
    }
    // The misaligned case really leaves zero bytes between trailer and table.
    EXPECT_NE(0u, Installer(stub, archive, false).size() % 8);
}

TEST_F(PackageLocatorTest, AnEmptyArchiveIsAPackageAndAPlainStubIsNot) {
    EXPECT_EQ("", DamageOf(Installer(FakePeStub(600), BuildZip({}))));
    EXPECT_EQ("no package is appended", DamageOf(Installer(FakePeStub(600), Bytes())));
    EXPECT_NE("", DamageOf(FakePeStub(600)));
    EXPECT_NE("", DamageOf(Sign(FakePeStub(600), 800)));
}

// Every kind of damage a download or a careless tool can do is told apart
// from a whole package, and nothing of it is copied.
TEST_F(PackageLocatorTest, DamagedInstallersAreRefused) {
    const Bytes archive = WithIntegrityRecord(SomeItems());
    const Bytes good = Installer(FakePeStub(1001), archive);
    const size_t archiveAt = good.size() - 8 - archive.size();
    ASSERT_EQ("", DamageOf(good));

    std::vector<std::pair<std::string, Bytes>> damaged;
    for (size_t keep : {good.size() / 2, good.size() - 1, good.size() - 5, archiveAt + 30}) {
        damaged.push_back({"cut to " + std::to_string(keep), Bytes(good.begin(), good.begin() + keep)});
    }
    Bytes flipped = good;
    flipped[archiveAt + 200] ^= 0x20;  // inside the deflated item
    damaged.push_back({"flipped payload byte", flipped});
    Bytes outside = good;
    package::WriteLe64(&outside[good.size() - 8], good.size());
    damaged.push_back({"trailer pointing outside the file", outside});
    Bytes tooManyEntries = good;
    tooManyEntries[good.size() - 8 - 38 + 8] += 1;  // entries on this disk
    tooManyEntries[good.size() - 8 - 38 + 10] += 1;  // entries in all
    damaged.push_back({"entry count larger than the directory", tooManyEntries});
    damaged.push_back({"garbage after the stub", Installer(FakePeStub(1001), PatternBytes(5000))});
    Bytes shifted = good;
    shifted[archiveAt] = 'X';
    damaged.push_back({"no local header first", shifted});
    Bytes badDigits = good;
    badDigits[good.size() - 9] = 'g';
    damaged.push_back({"malformed integrity record", badDigits});

    for (const auto& entry : damaged) {
        EXPECT_NE("", DamageOf(entry.second)) << entry.first;
        EXPECT_EQ(CopyResult::Damaged, CopyOut(entry.second)) << entry.first;
    }
    // Signed, the same damage is still found.
    EXPECT_NE("", DamageOf(Sign(flipped, 3000)));
    EXPECT_EQ(CopyResult::Damaged, CopyOut(Sign(flipped, 3000)));
}

// Without an integrity record a changed byte inside an item passes here; the
// reader's own CRC check catches it when the item is extracted.
TEST_F(PackageLocatorTest, WithoutIntegrityRecordOnlyTheStructureIsChecked) {
    const Bytes archive = BuildZip(SomeItems());
    Bytes file = Installer(FakePeStub(1001), archive);
    file[file.size() - 8 - archive.size() + 200] ^= 0x20;
    package::PackageLocation where;
    std::string reason;
    ASSERT_TRUE(Locate(file, &where, &reason)) << reason;
    EXPECT_FALSE(where.hasIntegrityRecord);
    EXPECT_EQ(CopyResult::Copied, CopyOut(file));
}

TEST(IntegrityRecord, RecognisedByTheLastBytesAlone) {
    Bytes record(38, 0);
    PutLe32(record, 0, package::kEndRecordSignature);
    record[20] = 16;
    const std::string comment = "KXCRC32=0A1B2C3D";
    std::copy(comment.begin(), comment.end(), record.begin() + 22);
    bool present = false;
    uint32_t crc = 0;
    EXPECT_TRUE(package::ReadIntegrityRecord(record.data(), &present, &crc));
    EXPECT_TRUE(present);
    EXPECT_EQ(0x0A1B2C3Du, crc);
    record[30] = 'a';  // lower case is no record of ours
    EXPECT_FALSE(package::ReadIntegrityRecord(record.data(), &present, &crc));
    record[22] = 'k';  // another comment: no record
    EXPECT_TRUE(package::ReadIntegrityRecord(record.data(), &present, &crc));
    EXPECT_FALSE(present);
}

}  // namespace
