#include "TestSupport.h"
#include "common/Journal.h"
#include "common/Rollback.h"

namespace {

using platform::RegistryRoot;
using platform::RegistryValue;

const char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Journal Test";

bool SameValues(const std::vector<RegistryValue>& a, const std::vector<RegistryValue>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data) return false;
    }
    return true;
}

std::vector<RegistryValue> ValuesOf(RegistryRoot root, bool* exists) {
    std::vector<RegistryValue> values;
    EXPECT_TRUE(platform::ReadRegistryValues(root, kKey, &values, exists));
    return values;
}

class JournalTest : public ScratchFolder {
protected:
    std::string folder;
    std::string journalPath;

    void SetUp() override {
        ScratchFolder::SetUp();
        folder = Folder() + "App";
        ASSERT_TRUE(platform::CreateFolder(folder.c_str()));
        journalPath = JournalPathIn(folder);
        (void)platform::DeleteRegistryKey(RegistryRoot::LocalMachine, kKey);
    }
    void TearDown() override {
        (void)platform::DeleteRegistryKey(RegistryRoot::LocalMachine, kKey);
        ScratchFolder::TearDown();
    }
    std::string In(const std::string& name) const { return folder + "\\" + name; }
    std::string JournalBytes() const { return ReadText(journalPath); }
};

TEST_F(JournalTest, EveryRecordReadsBackAsWritten) {
    ASSERT_TRUE(platform::WriteRegistryString(RegistryRoot::LocalMachine, kKey, "Display\tName", "x\r\ny"));
    ASSERT_TRUE(platform::WriteRegistryDword(RegistryRoot::LocalMachine, kKey, "NoModify", 1));
    Journal journal;
    ASSERT_TRUE(journal.Start(journalPath, folder + "\\"));
    EXPECT_FALSE(journal.Start(journalPath, folder));  // never over an existing one
    ASSERT_TRUE(journal.Start(journalPath + "2", folder + "\\"));
    ASSERT_TRUE(journal.NewFolder(In("bin")));
    ASSERT_TRUE(journal.NewFile(In("bin\\ü.dll")));
    ASSERT_TRUE(journal.KeptFile(In("readme.txt"), In("readme.txt.kxkeep")));
    ASSERT_TRUE(journal.RegistryKey(RegistryRoot::LocalMachine, kKey));
    ASSERT_TRUE(journal.RegistryKey(RegistryRoot::CurrentUser, kKey));
    EXPECT_FALSE(journal.NewFile("two\tfields"));  // a field never holds a separator
    ASSERT_TRUE(journal.Completed());
    journal.Close();

    std::string installFolder;
    std::vector<JournalRecord> records;
    ASSERT_TRUE(ParseJournal(ReadText(journalPath + "2"), &installFolder, &records));
    EXPECT_EQ(folder + "\\", installFolder);
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(JournalRecord::Kind::NewFolder, records[0].kind);
    EXPECT_EQ(In("bin"), records[0].path);
    EXPECT_EQ(JournalRecord::Kind::NewFile, records[1].kind);
    EXPECT_EQ(In("bin\\ü.dll"), records[1].path);
    EXPECT_EQ(JournalRecord::Kind::KeptFile, records[2].kind);
    EXPECT_EQ(In("readme.txt.kxkeep"), records[2].aside);
    EXPECT_EQ(JournalRecord::Kind::RegistryKey, records[3].kind);
    EXPECT_EQ(kKey, records[3].path);
    EXPECT_TRUE(records[3].keyExisted);
    bool exists = false;
    EXPECT_TRUE(SameValues(ValuesOf(RegistryRoot::LocalMachine, &exists), records[3].values));
    EXPECT_EQ(RegistryRoot::CurrentUser, records[4].root);
    EXPECT_FALSE(records[4].keyExisted);
    EXPECT_EQ(JournalRecord::Kind::Completed, records[5].kind);
}

TEST_F(JournalTest, ATornLastRecordIsLeftOutAndADamagedEarlierOneIsNotGuessedAt) {
    const std::string head = JournalLine({"KXJOURNAL", "1", "C:\\App\\"});
    const std::string first = JournalLine({"new-file", "C:\\App\\a.txt"});
    const std::string last = JournalLine({"kept-file", "C:\\App\\b.txt", "C:\\App\\b.txt.kxkeep"});
    std::string folderText;
    std::vector<JournalRecord> records;
    ASSERT_TRUE(ParseJournal(head + first + last, &folderText, &records));
    EXPECT_EQ(2u, records.size());
    // A power cut may leave any part of the last record.
    for (size_t cut = 1; cut < last.size(); ++cut) {
        ASSERT_TRUE(ParseJournal(head + first + last.substr(0, cut), &folderText, &records)) << cut;
        EXPECT_EQ(1u, records.size()) << cut;
    }
    std::string flipped = first;
    flipped[4] ^= 1;
    EXPECT_FALSE(ParseJournal(head + flipped + last, &folderText, &records));
    EXPECT_FALSE(ParseJournal(first + last, &folderText, &records));  // no first line
    EXPECT_FALSE(ParseJournal("", &folderText, &records));
    EXPECT_FALSE(ParseJournal(head + JournalLine({"rename", "C:\\x"}) + last, &folderText, &records));
    EXPECT_FALSE(ParseJournal(head + JournalLine({"new-file"}) + last, &folderText, &records));
}

TEST_F(JournalTest, UndoPutsBackKeptFilesAndRemovesWhatTheRunMade) {
    ASSERT_TRUE(WriteBytes(In("readme.txt"), ToBytes("version 1")));
    ASSERT_TRUE(WriteBytes(In("untouched.txt"), ToBytes("kept")));
    Journal journal;
    ASSERT_TRUE(journal.Start(journalPath, folder));
    // As the installer does it: each record, then its change.
    ASSERT_TRUE(journal.NewFolder(In("bin")));
    ASSERT_TRUE(platform::CreateFolder(In("bin").c_str()));
    ASSERT_TRUE(journal.NewFile(In("bin\\tool.dll")));
    ASSERT_TRUE(WriteBytes(In("bin\\tool.dll"), ToBytes("new")));
    const std::string aside = AsideNameFor(In("readme.txt"));
    EXPECT_EQ(In("readme.txt") + kAsideSuffix, aside);
    ASSERT_TRUE(journal.KeptFile(In("readme.txt"), aside));
    ASSERT_TRUE(platform::RenameFile(In("readme.txt").c_str(), aside.c_str()));
    ASSERT_TRUE(WriteBytes(In("readme.txt"), ToBytes("version 2")));
    ASSERT_TRUE(platform::WriteAttributes(In("readme.txt").c_str(), platform::kAttributeReadOnly));
    // A file announced but never made, and a replacement never started.
    ASSERT_TRUE(journal.NewFile(In("never.txt")));
    ASSERT_TRUE(journal.KeptFile(In("untouched.txt"), AsideNameFor(In("untouched.txt"))));
    journal.Close();

    std::vector<std::string> log;
    EXPECT_EQ(EarlierRun::PutBack, RecoverEarlierRun(folder, &log));
    EXPECT_EQ("version 1", ReadText(In("readme.txt")));
    EXPECT_EQ("kept", ReadText(In("untouched.txt")));
    EXPECT_FALSE(platform::PathExists(aside.c_str()));
    EXPECT_FALSE(platform::PathExists(In("bin").c_str()));
    EXPECT_FALSE(platform::PathExists(journalPath.c_str()));
    EXPECT_EQ((std::vector<std::string>{"put back " + In("readme.txt"), "removed " + In("bin\\tool.dll"),
                                        "removed folder " + In("bin")}),
              log);
    EXPECT_EQ(EarlierRun::None, RecoverEarlierRun(folder, &log));
}

TEST_F(JournalTest, AJournalThatCannotBeReadTouchesNothingAndNamesTheFolder) {
    ASSERT_TRUE(WriteBytes(In("readme.txt.kxkeep"), ToBytes("version 1")));
    ASSERT_TRUE(WriteBytes(In("readme.txt"), ToBytes("version 2")));
    ASSERT_TRUE(WriteBytes(journalPath, ToBytes(JournalLine({"KXJOURNAL", "2", folder}))));
    std::vector<std::string> log;
    EXPECT_EQ(EarlierRun::Unreadable, RecoverEarlierRun(folder, &log));
    EXPECT_EQ("version 1", ReadText(In("readme.txt.kxkeep")));
    EXPECT_EQ("version 2", ReadText(In("readme.txt")));
    EXPECT_TRUE(platform::PathExists(journalPath.c_str()));
    const std::string text = EarlierRunText(EarlierRun::Unreadable, folder + "\\");
    EXPECT_NE(std::string::npos, text.find("An earlier installation into " + folder + " did not finish")) << text;
    EXPECT_EQ("An earlier installation into " + folder + " did not finish. What it changed has been put back.",
              EarlierRunText(EarlierRun::PutBack, folder));
}

TEST_F(JournalTest, ACompletedRunOnlyLosesItsAsides) {
    ASSERT_TRUE(WriteBytes(In("readme.txt"), ToBytes("version 2")));
    ASSERT_TRUE(WriteBytes(In("readme.txt.kxkeep"), ToBytes("version 1")));
    Journal journal;
    ASSERT_TRUE(journal.Start(journalPath, folder));
    ASSERT_TRUE(journal.NewFile(In("new.txt")));
    ASSERT_TRUE(WriteBytes(In("new.txt"), ToBytes("new")));
    ASSERT_TRUE(journal.KeptFile(In("readme.txt"), In("readme.txt.kxkeep")));
    std::vector<std::string> log;
    CompleteJournal(journal, &log);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ("version 2", ReadText(In("readme.txt")));
    EXPECT_EQ("new", ReadText(In("new.txt")));
    EXPECT_FALSE(platform::PathExists(In("readme.txt.kxkeep").c_str()));
    EXPECT_FALSE(platform::PathExists(journalPath.c_str()));
}

TEST_F(JournalTest, ARegistryKeyComesBackWithEveryValueOrGoesIfItWasNotThere) {
    ASSERT_TRUE(platform::WriteRegistryString(RegistryRoot::LocalMachine, kKey, "DisplayName", "App 1"));
    ASSERT_TRUE(platform::WriteRegistryDword(RegistryRoot::LocalMachine, kKey, "EstimatedSize", 10));
    bool exists = false;
    const std::vector<RegistryValue> before = ValuesOf(RegistryRoot::LocalMachine, &exists);
    Journal journal;
    ASSERT_TRUE(journal.Start(journalPath, folder));
    ASSERT_TRUE(journal.RegistryKey(RegistryRoot::LocalMachine, kKey));
    ASSERT_TRUE(platform::WriteRegistryString(RegistryRoot::LocalMachine, kKey, "DisplayName", "App 2"));
    ASSERT_TRUE(platform::WriteRegistryString(RegistryRoot::LocalMachine, kKey, "Publisher", "new"));
    ASSERT_TRUE(journal.RegistryKey(RegistryRoot::CurrentUser, kKey));
    ASSERT_TRUE(platform::WriteRegistryString(RegistryRoot::CurrentUser, kKey, "DisplayName", "App 2"));
    journal.Close();

    std::vector<std::string> log;
    EXPECT_EQ(EarlierRun::PutBack, UndoJournal(journalPath, &log));
    EXPECT_TRUE(SameValues(before, ValuesOf(RegistryRoot::LocalMachine, &exists)));
    EXPECT_TRUE(exists);
    ValuesOf(RegistryRoot::CurrentUser, &exists);
    EXPECT_FALSE(exists);
}

}  // namespace
