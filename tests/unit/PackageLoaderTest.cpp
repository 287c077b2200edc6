#include "TestSupport.h"
#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"
#include "startup/PackageLoader.h"
#include "state/Workspace.h"

namespace {

struct ProgressLog {
    std::vector<int32_t> ranges;
    std::vector<int32_t> positions;
    CopyProgress Sink() {
        CopyProgress progress;
        progress.setRange = [this](int32_t megabytes) { ranges.push_back(megabytes); };
        progress.setPosition = [this](int32_t megabytes) { positions.push_back(megabytes); };
        return progress;
    }
};

// A valid archive of exactly size bytes: one stored item fills it.
Bytes ZipOfSize(size_t size) {
    const size_t overhead = BuildZip({FileItem("a.bin", "", 0)}).size();
    ZipItem item = FileItem("a.bin", "", 0);
    item.data = PatternBytes(size - overhead);
    return BuildZip({item});
}

Bytes Installer(const Bytes& stub, const Bytes& archive, uint64_t trailerValue) {
    Bytes file = stub;
    file.insert(file.end(), archive.begin(), archive.end());
    unsigned char trailer[8];
    package::WriteLe64(trailer, trailerValue);
    file.insert(file.end(), trailer, trailer + 8);
    return file;
}

class PackageLoaderTest : public ScratchFolder {
protected:
    InstallerState state;
    ProgressLog log;

    CopyResult Copy(const Bytes& installer) {
        EXPECT_TRUE(WriteBytes(Path("setup.exe"), installer));
        ReleaseArchiveCopy();  // one run's copy goes before the next run's
        return CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), log.Sink());
    }

    void LoadPackage(const std::vector<ZipItem>& items) {
        const Bytes archive = BuildZip(items);
        ASSERT_EQ(CopyResult::Copied, Copy(Installer(PatternBytes(3000), archive, archive.size())));
        ASSERT_TRUE(ExtractControlFolder(state, ArchiveCopyPath(), WorkspaceBase()));
    }
};

TEST_F(PackageLoaderTest, CopiesExactlyTheArchiveBytesOutOfTheInstaller) {
    const Bytes archive = BuildZip({FileItem("a.txt", "alpha")});
    EXPECT_EQ(CopyResult::Copied, Copy(Installer(PatternBytes(5000), archive, archive.size())));
    EXPECT_EQ(archive, ReadArchiveCopy());
    EXPECT_EQ(std::vector<int32_t>{0}, log.ranges);  // below 1 MiB
    EXPECT_EQ(std::vector<int32_t>{0}, log.positions);
}

TEST_F(PackageLoaderTest, CopiesInTenMebibyteChunks) {
    const Bytes archive = ZipOfSize(kCopyChunkSize);
    EXPECT_EQ(CopyResult::Copied, Copy(Installer(ToBytes("MZstub"), archive, archive.size())));
    EXPECT_EQ(std::vector<int32_t>{10}, log.ranges);
    EXPECT_EQ(std::vector<int32_t>{10}, log.positions);
    EXPECT_EQ(archive, ReadArchiveCopy());

    ProgressLog second;
    const Bytes oneMore = ZipOfSize(kCopyChunkSize + 1);
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(ToBytes("MZstub"), oneMore, oneMore.size())));
    ReleaseArchiveCopy();
    EXPECT_EQ(CopyResult::Copied, CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), second.Sink()));
    EXPECT_EQ((std::vector<int32_t>{10, 10}), second.positions);
    EXPECT_EQ(oneMore, ReadArchiveCopy());
}

// A stub alone, a bogus trailer or a missing file: nothing is copied, and the
// installer says it is damaged instead of showing a wizard with defaults.
TEST_F(PackageLoaderTest, NoPackageMeansDamagedAndNothingIsCopied) {
    const Bytes stub = PatternBytes(4000);
    for (const Bytes& installer : {Installer(stub, Bytes(), 0), stub, Installer(stub, Bytes(), 1ull << 40),
                                   Installer(stub, Bytes(), ~0ull), ToBytes("tiny")}) {
        EXPECT_EQ(CopyResult::Damaged, Copy(installer)) << installer.size();
        EXPECT_FALSE(platform::PathExists(ArchiveCopyPath().c_str()));
    }
    EXPECT_EQ(CopyResult::Damaged, CopyArchiveOut(state, Path("missing.exe"), ArchiveCopyPath(), log.Sink()));
    EXPECT_TRUE(log.ranges.empty());
}

// An archive of no items is a package: the wizard shows its defaults.
TEST_F(PackageLoaderTest, AnEmptyArchiveYieldsAnEmptyPackage) {
    const Bytes archive = BuildZip({});
    EXPECT_EQ(CopyResult::Copied, Copy(Installer(PatternBytes(4000), archive, archive.size())));
    EXPECT_EQ(archive, ReadArchiveCopy());
    EXPECT_TRUE(ExtractControlFolder(state, ArchiveCopyPath(), WorkspaceBase()));
    EXPECT_EQ(0, state.payloadItemCount);
    EXPECT_EQ(0, state.backgroundRecordCount);
    EXPECT_EQ(WorkspaceBase() + "%KXInstall%\\img\\setup.jpg", state.imageSlots[0]);
}

TEST_F(PackageLoaderTest, CancelStopsTheCopyBeforeTheNextChunk) {
    const Bytes archive = ZipOfSize(kCopyChunkSize + 100);
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(Bytes(), archive, archive.size())));
    CopyProgress progress;
    int32_t chunks = 0;
    progress.setPosition = [this, &chunks](int32_t) {
        chunks += 1;
        state.cancelLoading = true;
    };
    EXPECT_EQ(CopyResult::Cancelled, CopyArchiveOut(state, Path("setup.exe"), ArchiveCopyPath(), progress));
    EXPECT_TRUE(state.loaderStopped);
    EXPECT_EQ(1, chunks);
#ifdef _WIN32
    EXPECT_FALSE(platform::PathExists(ArchiveCopyPath().c_str()));  // its handle took it along
#endif
}

TEST_F(PackageLoaderTest, ExtractsControlItemsAndCountsThePayload) {
    LoadPackage({FolderItem("%KXInstall%/"), FileItem("%KXInstall%/tt.txt", "Title"),
                 FileItem("%KXInstall%/img/3/first.bmp", "1"), FileItem("%KXInstall%/img/3/second.bmp", "2"),
                 FileItem("%KXInstall%/img/setup.jpg", "j"), FileItem("%KXInstall%/img/x/letter.bmp", "l"),
                 FileItem("%kxinstall%/other-case.txt", std::string(1500000, 'p')), FolderItem("bin/"),
                 FileItem("bin/app.dat", std::string(700000, 'q'))});
    const std::string t = WorkspaceBase();
    EXPECT_EQ("Title", ReadText(t + "%KXInstall%/tt.txt"));
    EXPECT_EQ(t + "%KXInstall%/img/3/second.bmp", state.imageSlots[3]);
    EXPECT_EQ(t + "%KXInstall%/img/x/letter.bmp", state.imageSlots[10]);  // setup.jpg came earlier
    EXPECT_EQ(t + "%KXInstall%\\img\\setup.jpg", state.imageSlots[0]);
    EXPECT_EQ(3, state.payloadItemCount);  // other letter case, the folder entry, the file
    EXPECT_EQ(2200000, state.payloadBytes);
    EXPECT_EQ(2, state.neededMegabytes);
    EXPECT_FALSE(platform::PathExists((t + "bin").c_str()));
    EXPECT_FALSE(platform::PathExists((t + "%kxinstall%/other-case.txt").c_str()));
}

TEST_F(PackageLoaderTest, RecordsBackgroundPicturesWithTheirPlacement) {
    LoadPackage({FileItem("%KXInstall%/bgimg/2/sky.bmp", "s"), FileItem("%KXInstall%/bgimg/2/sky.bmp.txt", "1\r\n-25\r\n300\r\n"),
                 FileItem("%KXInstall%/bgimg/6/a.bmp", "a"), FileItem("%KXInstall%/bgimg/6/b.bmp", "b"),
                 FileItem("%KXInstall%/bgimg/6/b.bmp.txt", "2\n12345\n7abc\n"), FolderItem("%KXInstall%/bgimg/0/"),
                 FolderItem("%KXInstall%/bgimg/6/"), FileItem("%KXInstall%/bgimg/0/z.bmp", "z"),
                 FileItem("%KXInstall%/bgimg/q/c.bmp", "c")});
    ASSERT_EQ(5, state.backgroundRecordCount);  // folder entries are no pictures
    EXPECT_EQ(2, state.slideshowRecordCount);
    const BackgroundRecord& sky = state.backgroundRecords[0];
    EXPECT_EQ(2, sky.pageKey);
    EXPECT_EQ(WorkspaceBase() + "%KXInstall%/bgimg/2/sky.bmp", sky.path);
    EXPECT_EQ(1, sky.placementMode);
    EXPECT_EQ(-25, sky.x);
    EXPECT_EQ(300, sky.y);
    const BackgroundRecord& withoutCompanion = state.backgroundRecords[1];
    EXPECT_EQ(6, withoutCompanion.pageKey);
    EXPECT_EQ(0, withoutCompanion.placementMode + withoutCompanion.x + withoutCompanion.y);
    const BackgroundRecord& longLines = state.backgroundRecords[2];
    EXPECT_EQ(2, longLines.placementMode);
    EXPECT_EQ(1234, longLines.x);  // only the first four characters count
    EXPECT_EQ(7, longLines.y);
    EXPECT_EQ(10, state.backgroundRecords[3].pageKey);  // bgimg/0/z.bmp
    EXPECT_EQ(WorkspaceBase() + "%KXInstall%/bgimg/0/z.bmp", state.backgroundRecords[3].path);
    EXPECT_EQ(10, state.backgroundRecords[4].pageKey);
}

TEST_F(PackageLoaderTest, CancelDuringExtractionKeepsWhatWasExtracted) {
    const Bytes archive = BuildZip({FileItem("%KXInstall%/a.txt", "a"), FileItem("%KXInstall%/b.txt", "b")});
    ASSERT_EQ(CopyResult::Copied, Copy(Installer(Bytes(), archive, archive.size())));
    state.cancelLoading = true;
    EXPECT_FALSE(ExtractControlFolder(state, ArchiveCopyPath(), WorkspaceBase()));
    EXPECT_TRUE(state.loaderStopped);
    EXPECT_FALSE(platform::PathExists(ControlFilePath("a.txt").c_str()));
}

TEST_F(PackageLoaderTest, HostileControlNamesStayInsideTheWorkspace) {
    LoadPackage({FileItem("%KXInstall%/../../escaped.txt", "x"), FileItem("%KXInstall%/..\\sibling.txt", "y"),
                 FileItem("%KXInstall%/ok.txt", "z")});
    EXPECT_EQ("z", ReadText(ControlFilePath("ok.txt")));
    EXPECT_FALSE(platform::PathExists(Path("escaped.txt").c_str()));
    EXPECT_FALSE(platform::PathExists(Path("sibling.txt").c_str()));
}

// Read from the installer file itself, before anything is copied out.
TEST_F(PackageLoaderTest, TheScopeIsReadFromTheInstallerItself) {
    struct Case {
        const char* text;  // null: no scope.txt
        ScopeSetting setting;
    };
    const Case cases[] = {
        {nullptr, ScopeSetting::Absent},           {"machine\r\n", ScopeSetting::Machine},
        {"\xEF\xBB\xBF" "either", ScopeSetting::Either}, {"user\nmachine\n", ScopeSetting::User},
        {"everyone\r\n", ScopeSetting::Invalid},   {"", ScopeSetting::Invalid},
    };
    for (const Case& c : cases) {
        std::vector<ZipItem> items = {FileItem("%KXInstall%/tt.txt", "Title"), FileItem("a.txt", "payload")};
        if (c.text != nullptr) items.push_back(FileItem("%KXInstall%/scope.txt", c.text));
        const Bytes archive = BuildZip(items);
        ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(PatternBytes(3000), archive, archive.size())));
        EXPECT_EQ(c.setting, ReadScopeSetting(Path("setup.exe"))) << (c.text ? c.text : "none");
    }
    // A file too large for one word is not read whole: an unknown word.
    const Bytes large = BuildZip({FileItem("%KXInstall%/scope.txt", "user\r\n" + std::string(8192, ' '))});
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(PatternBytes(3000), large, large.size())));
    EXPECT_EQ(ScopeSetting::Invalid, ReadScopeSetting(Path("setup.exe")));
    // No whole package: no scope (the copy reports the damage).
    const Bytes archive = BuildZip({FileItem("%KXInstall%/scope.txt", "user")});
    ASSERT_TRUE(WriteBytes(Path("setup.exe"), Installer(PatternBytes(3000), archive, archive.size() + 5000)));
    EXPECT_EQ(ScopeSetting::Absent, ReadScopeSetting(Path("setup.exe")));
    EXPECT_EQ(ScopeSetting::Absent, ReadScopeSetting(Path("missing.exe")));
}

TEST(DigitIndex, DigitsOneToNineAndEverythingElse) {
    EXPECT_EQ(1, DigitIndex("1"));
    EXPECT_EQ(9, DigitIndex("9"));
    for (const char* other : {"0", "a", "", "/"}) EXPECT_EQ(10, DigitIndex(other)) << other;
}

}  // namespace

namespace {

// The copy is made new, never over a file that is there: another program
// could have put it there.
TEST_F(PackageLoaderTest, AFileAlreadyInTheCopysPlaceIsNeverUsed) {
    ASSERT_TRUE(WriteBytes(ArchiveCopyPath(), ToBytes("planted")));
    const Bytes archive = BuildZip({FileItem("%KXInstall%/tt.txt", "This package")});
    EXPECT_EQ(CopyResult::WriteFailed, Copy(Installer(PatternBytes(100), archive, archive.size())));
    EXPECT_EQ("planted", ReadText(ArchiveCopyPath()));
}

#ifdef _WIN32
// While the copy is kept, nobody can write it or delete it; released, it is gone.
TEST_F(PackageLoaderTest, TheKeptCopyCannotBeChangedAndGoesWhenReleased) {
    const Bytes archive = BuildZip({FileItem("%KXInstall%/tt.txt", "This package")});
    ASSERT_EQ(CopyResult::Copied, Copy(Installer(PatternBytes(100), archive, archive.size())));
    EXPECT_EQ(platform::kNoFile, platform::CreateFileForWriting(ArchiveCopyPath().c_str(), platform::kAttributeNormal));
    EXPECT_FALSE(platform::RemoveFile(ArchiveCopyPath().c_str()));
    EXPECT_FALSE(platform::MoveFileReplacing(ArchiveCopyPath().c_str(), Path("moved.tmp").c_str()));
    EXPECT_EQ(archive, ReadArchiveCopy());
    ArchiveHandle reader = OpenHeldArchive(ArchiveCopyPath().c_str());
    EXPECT_NE(nullptr, reader);
    if (reader != nullptr) CloseArchive(reader);
    ReleaseArchiveCopy();
    EXPECT_FALSE(platform::PathExists(ArchiveCopyPath().c_str()));
}
#endif

}  // namespace
