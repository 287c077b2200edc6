// Solid packages: found by their first bytes, checked against their record,
// decompressed into the archive copy, which is then a plain archive.
#include <zlib.h>

#include <cstdio>

#include "SolidStreams.h"
#include "TestSupport.h"
#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"
#include "startup/PackageLoader.h"
#include "state/Workspace.h"

namespace {

constexpr size_t kRecordSize = 16;

template <size_t N>
Bytes StreamBytes(const unsigned char (&stream)[N]) {
    return Bytes(stream, stream + N);
}

// The stream followed by its integrity record.
Bytes SolidArchive(const Bytes& stream) {
    Bytes archive = stream;
    char record[kRecordSize + 1];
    std::snprintf(record, sizeof record, "KXCRC32=%08X",
                  static_cast<unsigned>(crc32(crc32(0L, Z_NULL, 0), stream.data(), static_cast<uInt>(stream.size()))));
    archive.insert(archive.end(), record, record + kRecordSize);
    return archive;
}

Bytes Installer(const Bytes& archive) {
    Bytes file = PatternBytes(3001, 5);
    file[0] = 'M';
    file[1] = 'Z';
    file.insert(file.end(), archive.begin(), archive.end());
    unsigned char trailer[8];
    package::WriteLe64(trailer, archive.size());
    file.insert(file.end(), trailer, trailer + 8);
    return file;
}

class SolidPackageTest : public ScratchFolder {
protected:
    InstallerState state;
    std::vector<int32_t> ranges;
    std::vector<int32_t> positions;

    CopyResult Copy(const Bytes& installer) {
        EXPECT_TRUE(WriteBytes(Path("setup.exe"), installer));
        ReleaseArchiveCopy();  // one run's copy goes before the next run's
        CopyProgress progress;
        progress.setRange = [this](int32_t megabytes) { ranges.push_back(megabytes); };
        progress.setPosition = [this](int32_t megabytes) { positions.push_back(megabytes); };
        return CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), progress);
    }

    std::string DamageOf(const Bytes& installer) {
        EXPECT_TRUE(WriteBytes(Path("setup.exe"), installer));
        platform::UniqueFile file(platform::OpenFileForReading(Path("setup.exe").c_str()));
        package::PackageLocation where;
        std::string reason;
        const bool whole = package::LocatePackage(file.Get(), &where, &reason) &&
                           package::CheckIntegrity(file.Get(), where, &reason);
        return whole ? std::string() : reason;
    }
};

TEST_F(SolidPackageTest, TheXzMagicMakesASolidPackageWhoseRecordCoversTheStream) {
    const Bytes stream = StreamBytes(kSolidZipStream);
    const Bytes installer = Installer(SolidArchive(stream));
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), installer));
    platform::UniqueFile file(platform::OpenFileForReading(Path("setup.exe").c_str()));
    package::PackageLocation where;
    std::string reason;
    ASSERT_TRUE(package::LocatePackage(file.Get(), &where, &reason)) << reason;
    EXPECT_TRUE(where.isSolid);
    EXPECT_TRUE(where.hasIntegrityRecord);
    EXPECT_EQ(static_cast<int64_t>(stream.size()), where.StreamLength());
    EXPECT_EQ(static_cast<int64_t>(stream.size() + kRecordSize), where.archiveLength);
    EXPECT_TRUE(package::CheckIntegrity(file.Get(), where, &reason)) << reason;
}

TEST_F(SolidPackageTest, TheCopyIsThePlainArchiveThatTheLoaderReads) {
    ASSERT_EQ(CopyResult::Copied, Copy(Installer(SolidArchive(StreamBytes(kSolidZipStream)))));
    const Bytes copy = ReadArchiveCopy();
    ASSERT_EQ(kSolidZipSize, copy.size());
    EXPECT_EQ(package::kLocalHeaderSignature, package::ReadLe32(copy.data()));
    EXPECT_EQ(std::vector<int32_t>{0}, ranges);  // below 1 MiB, over the installer's bytes
    EXPECT_FALSE(positions.empty());
    ASSERT_TRUE(ExtractControlFolder(state, ArchiveCopyPath(), WorkspaceBase()));
    EXPECT_EQ("Solid Title", ReadText(WorkspaceBase() + "%KXInstall%/tt.txt"));
    EXPECT_EQ(1, state.payloadItemCount);
    EXPECT_EQ(static_cast<int64_t>(kSolidReadmeSize), state.payloadBytes);
}

// Every damage is found before anything is read from the copy, and none of
// it is kept.
TEST_F(SolidPackageTest, DamagedSolidPackagesAreRefused) {
    const Bytes stream = StreamBytes(kSolidZipStream);
    const Bytes good = SolidArchive(stream);
    Bytes flipped = good;
    flipped[stream.size() / 2] ^= 0x04;
    Bytes forged = stream;
    forged[stream.size() / 2] ^= 0x04;
    Bytes badDigits = good;
    badDigits[good.size() - 1] = 'x';
    const struct {
        const char* what;
        Bytes archive;
        bool foundUndecompressed;  // by the locator and the record, else only by decompressing
    } cases[] = {
        {"flipped stream byte", flipped, true},
        {"cut stream", Bytes(good.begin() + 10, good.end()), true},
        {"stream cut before its record", SolidArchive(Bytes(stream.begin(), stream.end() - 3)), true},
        {"no record", stream, true},
        {"malformed record", badDigits, true},
        {"flipped stream byte, record to match", SolidArchive(forged), false},
        {"a stream of something else than a ZIP archive", SolidArchive(StreamBytes(kSolidTextStream)), false},
        {"a dictionary above the stub's limit", SolidArchive(StreamBytes(kSolidHugeDictionaryStream)), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.foundUndecompressed, !DamageOf(Installer(c.archive)).empty()) << c.what;
        EXPECT_EQ(CopyResult::Damaged, Copy(Installer(c.archive))) << c.what;
#ifdef _WIN32
        EXPECT_FALSE(platform::PathExists(ArchiveCopyPath().c_str())) << c.what;  // its handle took it along
#endif
    }
}

TEST_F(SolidPackageTest, CancelStopsTheDecompression) {
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(SolidArchive(StreamBytes(kSolidZipStream)))));
    CopyProgress progress;
    progress.setRange = [this](int32_t) { state.cancelLoading = true; };  // as the stream begins
    EXPECT_EQ(CopyResult::Cancelled, CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), progress));
    EXPECT_TRUE(state.loaderStopped);
#ifdef _WIN32
    EXPECT_FALSE(platform::PathExists(ArchiveCopyPath().c_str()));
#endif
}

}  // namespace
