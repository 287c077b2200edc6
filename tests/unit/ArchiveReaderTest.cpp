#include <cstring>
#include <memory>

#include "TestSupport.h"
#include "archive/ArchiveReader.h"

namespace {

struct CloseHandle {
    void operator()(ArchiveReaderState* handle) const { CloseArchive(handle); }
};
using Archive = std::unique_ptr<ArchiveReaderState, CloseHandle>;

class ArchiveReaderTest : public ScratchFolder {
protected:
    Archive OpenBuilt(const std::vector<ZipItem>& items, const ZipOptions& options = ZipOptions()) {
        const std::string path = Path("archive.zip");
        EXPECT_TRUE(WriteBytes(path, BuildZip(items, options)));
        return Archive(OpenArchive(path.c_str()));
    }

    int32_t Count(ArchiveHandle archive) {
        ArchiveEntry entry;
        EXPECT_EQ(ArchiveResult::Ok, GetArchiveItem(archive, -1, &entry));
        return entry.index;
    }
};

TEST_F(ArchiveReaderTest, ListsAndExtractsStoredAndDeflatedItems) {
    const Bytes big = PatternBytes(100000);  // more than one of the reader's 64 KB buffers each way
    ZipItem deflated;
    deflated.name = "data/big.bin";
    deflated.data = big;
    Archive archive = OpenBuilt({FileItem("readme.txt", "hello\r\n", 0), deflated});
    ASSERT_TRUE(archive);
    ASSERT_EQ(2, Count(archive.get()));

    ArchiveEntry entry;
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 1, &entry));
    EXPECT_EQ(1, entry.index);
    EXPECT_STREQ("data/big.bin", entry.name);
    EXPECT_EQ(100000, entry.uncompressedSize);
    EXPECT_LT(entry.compressedSize, entry.uncompressedSize);

    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("out/readme.txt").c_str()));
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("out/data/big.bin").c_str()));
    EXPECT_EQ("hello\r\n", ReadText(Path("out/readme.txt")));
    EXPECT_EQ(big, ReadBytes(Path("out/data/big.bin")));
}

TEST_F(ArchiveReaderTest, WalksBackwardAndForwardThroughTheDirectory) {
    Archive archive = OpenBuilt({FileItem("a", "1"), FileItem("b", "22"), FileItem("c", "333")});
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    for (int32_t i : {2, 0, 1, 1, 2, 0}) {
        ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), i, &entry));
        EXPECT_EQ(std::string(1, static_cast<char>('a' + i)), entry.name);
        EXPECT_EQ(i + 1, entry.uncompressedSize);
    }
    // An extraction right after a description of another item takes the right data.
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 2, Path("c").c_str()));
    EXPECT_EQ("333", ReadText(Path("c")));
}

TEST_F(ArchiveReaderTest, IndexesOutsideTheArchiveAreBadArguments) {
    Archive archive = OpenBuilt({FileItem("a", "1"), FileItem("b", "2")});
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    std::strcpy(entry.name, "stale");
    entry.uncompressedSize = 9;
    EXPECT_EQ(ArchiveResult::BadArgument, GetArchiveItem(archive.get(), 2, &entry));
    EXPECT_EQ(0, entry.index);
    EXPECT_STREQ("", entry.name);
    EXPECT_EQ(0, entry.uncompressedSize);
    EXPECT_EQ(ArchiveResult::BadArgument, GetArchiveItem(archive.get(), -2, &entry));
    EXPECT_EQ(ArchiveResult::BadArgument, ExtractArchiveItem(archive.get(), 2, Path("x").c_str()));
    EXPECT_EQ(ArchiveResult::BadArgument, ExtractArchiveItem(archive.get(), -1, Path("x").c_str()));
}

TEST_F(ArchiveReaderTest, NoHandleGivesBadArgumentAndACountOfZero) {
    ArchiveEntry entry;
    entry.index = 5;
    EXPECT_EQ(ArchiveResult::BadArgument, GetArchiveItem(nullptr, -1, &entry));
    EXPECT_EQ(0, entry.index);
    EXPECT_EQ(ArchiveResult::BadArgument, ExtractArchiveItem(nullptr, 0, "x"));
    EXPECT_EQ(ArchiveResult::BadArgument, CloseArchive(nullptr));
    EXPECT_EQ(nullptr, OpenArchive(Path("missing.zip").c_str()));
}

TEST_F(ArchiveReaderTest, FindsTheArchiveBehindAStubAndALongComment) {
    ZipOptions options;
    options.prefix = PatternBytes(70000, 7);  // larger than the end-record search window
    options.comment = std::string(65513, 'c');
    Archive archive = OpenBuilt({FileItem("in/side.txt", "behind the stub")}, options);
    ASSERT_TRUE(archive);
    ASSERT_EQ(1, Count(archive.get()));
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("side.txt").c_str()));
    EXPECT_EQ("behind the stub", ReadText(Path("side.txt")));
}

TEST_F(ArchiveReaderTest, RejectsFilesWithoutAValidEndRecord) {
    ZipOptions tooLongComment;
    tooLongComment.comment = std::string(65514, 'c');
    ZipOptions otherDisk;
    otherDisk.thisDisk = 1;
    ZipOptions countsDiffer;
    countsDiffer.entriesOnDiskDelta = 1;
    for (const ZipOptions& options : {tooLongComment, otherDisk, countsDiffer}) {
        EXPECT_FALSE(OpenBuilt({FileItem("a", "1")}, options));
    }
    for (const Bytes& junk : {Bytes(), Bytes(21, 0), PatternBytes(5000), ToBytes("PK\x05\x06")}) {
        ASSERT_TRUE(WriteBytes(Path("junk.zip"), junk));
        EXPECT_EQ(nullptr, OpenArchive(Path("junk.zip").c_str()));
    }
    // A directory that claims to end past its end record.
    Bytes zip = BuildZip({FileItem("a", "1")});
    zip[zip.size() - 6] = 0xFF;  // directory offset
    ASSERT_TRUE(WriteBytes(Path("bad.zip"), zip));
    EXPECT_EQ(nullptr, OpenArchive(Path("bad.zip").c_str()));
}

TEST_F(ArchiveReaderTest, SanitisesStoredNames) {
    Archive archive = OpenBuilt({FileItem("a/b/../c.txt", "1"), FileItem("C:\\x\\y.txt", "2"),
                                 FileItem("/abs/z.txt", "3"), FileItem("../up.txt", "4")});
    ASSERT_TRUE(archive);
    const char* expected[] = {"c.txt", "x\\y.txt", "abs/z.txt", "../up.txt"};
    ArchiveEntry entry;
    for (int32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), i, &entry));
        EXPECT_STREQ(expected[i], entry.name);
    }
}

TEST_F(ArchiveReaderTest, NeverWritesAnUnsafeNameAnywhere) {
    Archive archive = OpenBuilt({FileItem("../up.txt", "escape"), FileItem("ok/../../up2.txt", "escape"),
                                 FileItem("dir/NUL.txt", "device"), FileItem("file.txt:stream", "ads"),
                                 FileItem("sub/.. /x", "trimmed")});
    ASSERT_TRUE(archive);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(ArchiveResult::UnsafeName, ExtractArchiveItem(archive.get(), i, Path("out/item").c_str())) << i;
    }
    EXPECT_FALSE(platform::PathExists(Path("out").c_str()));
}

TEST_F(ArchiveReaderTest, DosTimesAreLocalAndTheExtendedTimestampOverridesThem) {
    ZipItem plain = FileItem("plain.txt", "p");
    ZipItem stamped = FileItem("stamped.txt", "s");
    // Another block first, then a "UT" block with only a modification time.
    stamped.localExtra = {0x0a, 0x00, 0x02, 0x00, 0xAA, 0xBB};
    const Bytes ut = ExtendedTimestamp(1, {1600000000});
    stamped.localExtra.insert(stamped.localExtra.end(), ut.begin(), ut.end());
    ZipItem allThree = FileItem("all.txt", "a");
    allThree.localExtra = ExtendedTimestamp(7, {1500000000, 1400000000, 1300000000});
    Archive archive = OpenBuilt({plain, stamped, allThree});
    ASSERT_TRUE(archive);

    const uint64_t dos = UtcFileTime(2021, 3, 14, 6, 30, 10);  // the tests run with TZ=UTC
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 0, &entry));
    EXPECT_EQ(dos, entry.writeTime);
    EXPECT_EQ(dos, entry.accessTime);
    EXPECT_EQ(dos, entry.creationTime);
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 1, &entry));
    EXPECT_EQ(UnixToFileTime(1600000000), entry.writeTime);
    EXPECT_EQ(dos, entry.accessTime);
    EXPECT_EQ(dos, entry.creationTime);
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 2, &entry));
    EXPECT_EQ(UnixToFileTime(1500000000), entry.writeTime);
    EXPECT_EQ(UnixToFileTime(1400000000), entry.accessTime);
    EXPECT_EQ(UnixToFileTime(1300000000), entry.creationTime);
}

TEST_F(ArchiveReaderTest, MalformedExtraFieldsAndDatesStayInBounds) {
    ZipItem truncatedBlock = FileItem("t.txt", "t");
    truncatedBlock.localExtra = {'U', 'T', 0x40, 0x00, 0x07, 1, 2};  // claims 64 bytes, holds 3
    ZipItem badDate = FileItem("d.txt", "d");
    badDate.dosDate = (5u << 9) | (0u << 5) | 0u;  // month 0, day 0
    Archive archive = OpenBuilt({truncatedBlock, badDate});
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 0, &entry));
    EXPECT_EQ(UtcFileTime(2021, 3, 14, 6, 30, 10), entry.writeTime);
    ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 1, &entry));
    EXPECT_EQ(UtcFileTime(1980, 1, 1, 0, 0, 0), entry.writeTime);
}

TEST_F(ArchiveReaderTest, ExtractedFilesGetTheirTimes) {
    ZipItem item = FileItem("timed.txt", "t");
    item.localExtra = ExtendedTimestamp(1, {1234567890});
    Archive archive = OpenBuilt({item});
    ASSERT_TRUE(archive);
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("timed.txt").c_str()));
    archive.reset();
    EXPECT_EQ(UnixToFileTime(1234567890), WriteTimeOf(Path("timed.txt")));
}

TEST_F(ArchiveReaderTest, AttributesFollowTheHostThatMadeTheArchive) {
    ZipItem dosReadOnlyHidden = FileItem("dos.txt", "d");
    dosReadOnlyHidden.versionMadeBy = 0x0014;  // host 0
    dosReadOnlyHidden.externalAttributes = 0x23;
    ZipItem unixReadOnly = FileItem("ro.txt", "r");
    unixReadOnly.externalAttributes = 0100444u << 16;
    ZipItem unixWritable = FileItem("rw.txt", "w");
    Archive archive = OpenBuilt({dosReadOnlyHidden, unixReadOnly, unixWritable, FolderItem("folder/")});
    ASSERT_TRUE(archive);
    const uint32_t expected[] = {0x23, 0x21, 0x20, 0x30};
    ArchiveEntry entry;
    for (int32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), i, &entry));
        EXPECT_EQ(expected[i], entry.attributes) << entry.name;
    }
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("ro.txt").c_str()));
    EXPECT_TRUE(platform::ReadAttributes(Path("ro.txt").c_str()) & platform::kAttributeReadOnly);
#ifdef _WIN32
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("dos.txt").c_str()));
    EXPECT_EQ(0x23u, platform::ReadAttributes(Path("dos.txt").c_str()) & 0x27u);
    platform::WriteAttributes(Path("dos.txt").c_str(), platform::kAttributeNormal);
#endif
    // Replacing a read-only file fails before anything is written.
    EXPECT_EQ(ArchiveResult::FileOpenFailed, ExtractArchiveItem(archive.get(), 2, Path("ro.txt").c_str()));
    EXPECT_EQ("r", ReadText(Path("ro.txt")));
    platform::WriteAttributes(Path("ro.txt").c_str(), platform::kAttributeNormal);
}

TEST_F(ArchiveReaderTest, FolderItemsCreateEveryLevelAndNoFile) {
    Archive archive = OpenBuilt({FolderItem("one/two/"), FileItem("x/y\\z/file.txt", "deep")});
    ASSERT_TRUE(archive);
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("base/one/two/").c_str()));
    EXPECT_EQ(platform::kAttributeDirectory,
              platform::ReadAttributes(Path("base/one/two").c_str()) & platform::kAttributeDirectory);
    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::ListFolder(Path("base/one/two").c_str(), &entries));
    EXPECT_TRUE(entries.empty());
    // Mixed separators in the target create every level.
    ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("m/x/y\\z/file.txt").c_str()));
    EXPECT_EQ("deep", ReadText(Path("m/x/y/z/file.txt")));
}

TEST_F(ArchiveReaderTest, AnEmptyItemIsAnEmptyFileWithItsTimes) {
    ZipItem empty = FileItem("empty.txt", "", 0);
    empty.localExtra = ExtendedTimestamp(1, {1000000000});
    ZipItem emptyDeflated = FileItem("empty2.txt", "", 8);
    Archive archive = OpenBuilt({empty, emptyDeflated});
    ASSERT_TRUE(archive);
    ASSERT_TRUE(WriteBytes(Path("empty.txt"), ToBytes("old content")));
    EXPECT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 0, Path("empty.txt").c_str()));
    EXPECT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("empty2.txt").c_str()));
    archive.reset();
    EXPECT_TRUE(ReadBytes(Path("empty.txt")).empty());
    EXPECT_TRUE(platform::PathExists(Path("empty2.txt").c_str()));
    EXPECT_EQ(UnixToFileTime(1000000000), WriteTimeOf(Path("empty.txt")));
}

TEST_F(ArchiveReaderTest, LocalHeadersMustAgreeWithTheDirectory) {
    std::vector<ZipItem> items;
    ZipItem crc = FileItem("crc", "x");
    crc.localCrc = 1234;
    ZipItem method = FileItem("method", "x");
    method.localMethod = 0;
    ZipItem name = FileItem("name", "x");
    name.localNameLength = 3;
    ZipItem unsupported = FileItem("bzip", "x", 0);
    unsupported.localMethod = 12;
    ZipItem descriptor = FileItem("descriptor", "x");  // sizes may differ when bit 3 is set
    descriptor.flags = 0x8;
    descriptor.localCrc = 0;
    Archive archive = OpenBuilt({crc, method, name, unsupported, descriptor});
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ArchiveResult::Corrupt, GetArchiveItem(archive.get(), i, &entry)) << i;
        EXPECT_EQ(ArchiveResult::Corrupt, ExtractArchiveItem(archive.get(), i, Path("out.txt").c_str())) << i;
    }
    EXPECT_FALSE(platform::PathExists(Path("out.txt").c_str()));
    EXPECT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), 4, &entry));

    // The directory alone still names and sizes each item, and reading one
    // afterwards still finds its local header wrong.
    const char* names[] = {"crc", "method", "name", "bzip"};
    for (int32_t i = 0; i < 4; ++i) {
        ASSERT_EQ(ArchiveResult::Ok, GetArchiveItemFromDirectory(archive.get(), i, &entry)) << i;
        EXPECT_STREQ(names[i], entry.name);
        EXPECT_EQ(1, entry.uncompressedSize);
        EXPECT_EQ(ArchiveResult::Corrupt, ExtractArchiveItem(archive.get(), i, Path("out.txt").c_str())) << i;
        EXPECT_EQ(ArchiveResult::Corrupt, GetArchiveItem(archive.get(), i, &entry)) << i;
    }
    EXPECT_FALSE(platform::PathExists(Path("out.txt").c_str()));
}

TEST_F(ArchiveReaderTest, ANewFileIsNeverWrittenOverAndGoesWhenItsDataIsBad) {
    ZipItem wrongCrc = FileItem("crc.txt", "payload payload payload");
    wrongCrc.centralCrc = wrongCrc.localCrc = 0x12345678;
    Archive archive = OpenBuilt({FileItem("a.txt", "alpha"), wrongCrc});
    ASSERT_TRUE(archive);
    EXPECT_EQ(ArchiveResult::Ok, ExtractArchiveItemToNewFile(archive.get(), 0, Path("a.txt").c_str()));
    EXPECT_EQ("alpha", ReadText(Path("a.txt")));
    ASSERT_TRUE(WriteBytes(Path("b.txt"), ToBytes("already here")));
    EXPECT_EQ(ArchiveResult::FileOpenFailed, ExtractArchiveItemToNewFile(archive.get(), 0, Path("b.txt").c_str()));
    EXPECT_EQ("already here", ReadText(Path("b.txt")));
    EXPECT_EQ(ArchiveResult::ChecksumFailed, ExtractArchiveItemToNewFile(archive.get(), 1, Path("crc.txt").c_str()));
    EXPECT_FALSE(platform::PathExists(Path("crc.txt").c_str()));
}

TEST_F(ArchiveReaderTest, DamagedDataIsReportedAndNotLeftInPlace) {
    ZipItem wrongCrc = FileItem("crc.txt", "payload payload payload");
    wrongCrc.centralCrc = wrongCrc.localCrc = 0x12345678;
    ZipItem tooLong = FileItem("long.txt", "payload", 0);
    tooLong.uncompressedSizeField = tooLong.compressedSizeField = 5000;  // runs into the directory
    ZipItem shortStream = FileItem("short.txt", "payload");
    shortStream.uncompressedSizeField = 100;  // the deflate stream ends before that
    Archive archive = OpenBuilt({wrongCrc, tooLong, shortStream});
    ASSERT_TRUE(archive);
    EXPECT_EQ(ArchiveResult::ChecksumFailed, ExtractArchiveItem(archive.get(), 0, Path("crc.txt").c_str()));
    EXPECT_FALSE(platform::PathExists(Path("crc.txt").c_str()));
    EXPECT_NE(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("long.txt").c_str()));
    EXPECT_EQ(ArchiveResult::ChecksumFailed, ExtractArchiveItem(archive.get(), 2, Path("short.txt").c_str()));
    EXPECT_FALSE(platform::PathExists(Path("short.txt").c_str()));
}

TEST_F(ArchiveReaderTest, CorruptDeflateDataFailsWithoutHanging) {
    ZipItem item;
    item.name = "garbage.bin";
    item.data = PatternBytes(50000);
    Bytes zip = BuildZip({item});
    for (size_t i = 40; i < 2000; i += 3) zip[i] ^= 0x5A;  // inside the compressed data
    ASSERT_TRUE(WriteBytes(Path("damaged.zip"), zip));
    Archive archive(OpenArchive(Path("damaged.zip").c_str()));
    ASSERT_TRUE(archive);
    const ArchiveResult result = ExtractArchiveItem(archive.get(), 0, Path("garbage.bin").c_str());
    EXPECT_TRUE(result == ArchiveResult::InflateFailed || result == ArchiveResult::ChecksumFailed);
}

// A stored item that claims bytes but holds none: the copy loop has no input
// at all (found by fuzzing).
TEST_F(ArchiveReaderTest, AStoredItemWithoutDataFailsCleanly) {
    ZipItem item = FileItem("empty.bin", "", 0);
    item.uncompressedSizeField = 5;
    ASSERT_TRUE(WriteBytes(Path("nodata.zip"), BuildZip({item})));
    Archive archive(OpenArchive(Path("nodata.zip").c_str()));
    ASSERT_TRUE(archive);
    EXPECT_EQ(ArchiveResult::InflateFailed, ExtractArchiveItem(archive.get(), 0, Path("empty.bin").c_str()));
}

TEST_F(ArchiveReaderTest, TruncatedArchivesNeverCrash) {
    const Bytes zip = BuildZip({FileItem("a.txt", "alpha"), FileItem("b/c.txt", std::string(3000, 'c'))});
    for (size_t cut = 0; cut < zip.size(); cut += 7) {
        Bytes damaged(zip.begin(), zip.end() - static_cast<std::ptrdiff_t>(cut));
        ASSERT_TRUE(WriteBytes(Path("cut.zip"), damaged));
        Archive archive(OpenArchive(Path("cut.zip").c_str()));
        if (!archive) continue;
        ArchiveEntry entry;
        (void)GetArchiveItem(archive.get(), -1, &entry);
        for (int32_t i = 0; i < entry.index; ++i) {
            ArchiveEntry item;
            (void)GetArchiveItem(archive.get(), i, &item);
            (void)ExtractArchiveItem(archive.get(), i, Path("cut/out").c_str());
        }
    }
}

TEST_F(ArchiveReaderTest, OverlongNamesAndUnreadableEntriesEndTheWalk) {
    Archive archive = OpenBuilt({FileItem(std::string(300, 'n'), "x"), FileItem("after.txt", "y")});
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    EXPECT_NE(ArchiveResult::Ok, GetArchiveItem(archive.get(), 0, &entry));
    EXPECT_NE(ArchiveResult::Ok, GetArchiveItem(archive.get(), 1, &entry));
    EXPECT_NE(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), 1, Path("after.txt").c_str()));
}

}  // namespace

namespace {

TEST_F(ArchiveReaderTest, ItemsAreReachedInAnyOrder) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 300; ++i) items.push_back(FileItem("f" + std::to_string(i), "content " + std::to_string(i)));
    Archive archive = OpenBuilt(items);
    ASSERT_TRUE(archive);
    ArchiveEntry entry;
    for (int32_t i : {299, 0, 150, 151, 3, 298, 2, 2}) {
        ASSERT_EQ(ArchiveResult::Ok, GetArchiveItem(archive.get(), i, &entry));
        EXPECT_EQ("f" + std::to_string(i), std::string(entry.name));
    }
    for (int32_t i : {17, 250, 16}) {
        ASSERT_EQ(ArchiveResult::Ok, ExtractArchiveItem(archive.get(), i, Path("out").c_str()));
        EXPECT_EQ("content " + std::to_string(i), ReadText(Path("out")));
    }
}

}  // namespace
