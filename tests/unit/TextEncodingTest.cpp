#include <zlib.h>

#include <cstring>

#include "TestSupport.h"
#include "archive/ArchiveReader.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"
#include "text/TextEncoding.h"

namespace {

const char kMuellerUtf8[] = "Willkommen bei M\xC3\xBCller";
const char kMuellerAnsi[] = "Willkommen bei M\xFCller";        // Windows-1252
const char kJapanese[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three characters
const char kEmoji[] = "\xF0\x9F\x98\x80";

TEST(Utf8Checker, AcceptsOnlyStrictUtf8InAnyPieces) {
    EXPECT_TRUE(IsValidUtf8(std::string(kMuellerUtf8) + kJapanese + kEmoji));
    for (const char* bad : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3", "\x80", "\xFF"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
    Utf8Checker pieces;  // a character cut between two reads
    pieces.Feed(kJapanese, 2);
    EXPECT_FALSE(pieces.Valid());
    pieces.Feed(kJapanese + 2, std::strlen(kJapanese) - 2);
    EXPECT_TRUE(pieces.Valid());
    EXPECT_TRUE(pieces.SawNonAscii());
}

TEST(Utf8Text, CountsAndCutsWholeCharacters) {
    const std::string text = std::string("a") + kJapanese + "b";
    EXPECT_EQ(5u, CountUtf8Characters(text));
    EXPECT_EQ("a", CutUtf8(text, 3));  // never half a character
    EXPECT_EQ(std::string("a") + kJapanese, FirstCharacters(text, 4));
    EXPECT_EQ(std::string(kJapanese + 6) + "b", LastCharacters(text, 2));
}

class ControlFileEncodingTest : public ScratchFolder {
protected:
    std::string FirstLine(const std::string& bytes) {
        EXPECT_TRUE(WriteBytes(Path("file.txt"), ToBytes(bytes)));
        TextFile file(Path("file.txt"));
        char line[kLineCapacity];
        ReadLine(file, line);
        return line;
    }
};

TEST_F(ControlFileEncodingTest, LinesAreReadAsUtf8WhicheverEncodingTheFileIsIn) {
    EXPECT_EQ(kMuellerUtf8, FirstLine(std::string(kUtf8Mark) + kMuellerUtf8 + "\r\n"));  // the mark is not text
    EXPECT_EQ(kMuellerUtf8, FirstLine(std::string(kMuellerUtf8) + "\r\n"));
    EXPECT_EQ(kMuellerUtf8, FirstLine(std::string(kMuellerAnsi) + "\r\n"));
    EXPECT_EQ("plain", FirstLine("plain\r\n"));
    // One byte that is not UTF-8 anywhere in the file makes all of it ANSI.
    EXPECT_EQ("M\xC3\x83\xC2\xBC", FirstLine("M\xC3\xBC\r\nlater \xFC\r\n"));
}

TEST_F(ControlFileEncodingTest, TheLineLimitCountsCharacters) {
    std::string umlauts;
    for (int i = 0; i < kLineCharacters; ++i) umlauts += "\xC3\xBC";
    EXPECT_EQ(umlauts, FirstLine(umlauts + "\r\n"));  // 518 bytes, 259 characters
    std::string emoji;
    for (int i = 0; i < kLineCharacters; ++i) emoji += kEmoji;
    EXPECT_EQ(emoji, FirstLine(emoji + "\r\n"));

    ASSERT_TRUE(WriteBytes(Path("long.txt"), ToBytes(umlauts + "\xC3\xBC\r\nnext\r\n")));
    TextFile file(Path("long.txt"));
    char line[kLineCapacity];
    EXPECT_TRUE(ReadLine(file, line));
    EXPECT_EQ(umlauts, line);  // the first 259, and the stream fails
    EXPECT_FALSE(ReadLine(file, line));
    // An ANSI line keeps its limit in bytes and grows when converted.
    EXPECT_EQ(std::string(static_cast<size_t>(kLineCharacters), 'x'), FirstLine(std::string(259, 'x') + "\r\n"));
    EXPECT_EQ(umlauts, FirstLine(std::string(259, '\xFC') + "\r\n"));
}

TEST_F(ControlFileEncodingTest, WholeTextsAreDecodedAndCutBetweenCharacters) {
    ASSERT_TRUE(WriteBytes(Path("ansi.txt"), ToBytes(std::string(kMuellerAnsi) + "\r\n")));
    EXPECT_EQ(std::string(kMuellerUtf8) + "\n", ReadWholeText(Path("ansi.txt"), 100));
    ASSERT_TRUE(WriteBytes(Path("utf8.txt"), ToBytes(std::string(kUtf8Mark) + kJapanese)));
    EXPECT_EQ(kJapanese, ReadWholeText(Path("utf8.txt"), 100));
    char small[8] = {};
    EXPECT_FALSE(ReadWholeFile(Path("utf8.txt"), small, sizeof small));
    EXPECT_EQ(std::string(kJapanese, 6), small);  // two whole characters of the three
}

TEST_F(ControlFileEncodingTest, ExpansionWritesUtf8WithTheMarkAndKeepsAnyFolder) {
    MacroTable table;
    const std::string folder = std::string("C:\\") + kJapanese;
    ASSERT_TRUE(WriteBytes(Path("ansi.txt"), ToBytes(std::string(kMuellerAnsi) + "|%install path%\r\n")));
    ExpandMacrosInFile(table, Path("ansi.txt"), folder);
    EXPECT_EQ(std::string(kUtf8Mark) + kMuellerUtf8 + "|" + folder + "\r\n", ReadText(Path("ansi.txt")));
    ExpandMacrosInFile(table, Path("ansi.txt"), folder);  // read back as UTF-8: unchanged
    EXPECT_EQ(std::string(kUtf8Mark) + kMuellerUtf8 + "|" + folder + "\r\n", ReadText(Path("ansi.txt")));
}

class ArchiveNameEncodingTest : public ScratchFolder {
protected:
    std::string NameOf(const ZipItem& item) {
        EXPECT_TRUE(WriteBytes(Path("names.zip"), BuildZip({item})));
        ArchiveHandle archive = OpenArchive(Path("names.zip").c_str());
        EXPECT_NE(nullptr, archive);
        ArchiveEntry entry;
        const ArchiveResult result = GetArchiveItem(archive, 0, &entry);
        CloseArchive(archive);
        return result == ArchiveResult::Ok ? entry.name : "<refused>";
    }
};

Bytes UnicodePathField(const std::string& storedName, const std::string& utf8Name, uint32_t crcOffset = 0) {
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size()))) + crcOffset;
    const size_t size = 5 + utf8Name.size();
    Bytes field = {0x75, 0x70, static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8), 1};
    for (int shift = 0; shift < 32; shift += 8) field.push_back(static_cast<unsigned char>(crc >> shift));
    field.insert(field.end(), utf8Name.begin(), utf8Name.end());
    return field;
}

TEST_F(ArchiveNameEncodingTest, NamesAreDecodedByTheirFlagTheirUnicodeFieldOrTheCodePage) {
    const std::string uebersicht = "\xC3\x9C" "bersicht.txt";
    ZipItem flagged = FileItem(uebersicht, "x");
    flagged.flags = 0x800;
    EXPECT_EQ(uebersicht, NameOf(flagged));
    EXPECT_EQ(uebersicht, NameOf(FileItem("\xDC" "bersicht.txt", "x")));  // ANSI
    ZipItem unflagged = FileItem(uebersicht, "x");
    EXPECT_EQ("\xC3\x83\xC5\x93" "bersicht.txt", NameOf(unflagged));  // without the flag: taken as ANSI

    ZipItem withField = FileItem("?bersicht.txt", "x");
    withField.localExtra = UnicodePathField("?bersicht.txt", uebersicht);
    EXPECT_EQ(uebersicht, NameOf(withField));
    withField.localExtra = UnicodePathField("?bersicht.txt", uebersicht, 1);  // stale: the name was changed since
    EXPECT_EQ("?bersicht.txt", NameOf(withField));

    ZipItem invalid = FileItem("bad\xFF.txt", "x");
    invalid.flags = 0x800;
    EXPECT_EQ("<refused>", NameOf(invalid));
}

TEST_F(ArchiveNameEncodingTest, TheDirectoryDescriptionTakesTheCentralUnicodeField) {
    const std::string uebersicht = "\xC3\x9C" "bersicht.txt";
    ZipItem item = FileItem("?bersicht.txt", "x");
    item.centralExtra = UnicodePathField("?bersicht.txt", uebersicht);
    ASSERT_TRUE(WriteBytes(Path("names.zip"), BuildZip({item})));
    ArchiveHandle archive = OpenArchive(Path("names.zip").c_str());
    ASSERT_NE(nullptr, archive);
    ArchiveEntry entry;
    EXPECT_EQ(ArchiveResult::Ok, GetArchiveItemFromDirectory(archive, 0, &entry));
    EXPECT_EQ(uebersicht, std::string(entry.name));
    EXPECT_EQ(ArchiveResult::Ok, GetArchiveItem(archive, 0, &entry));  // which reads the local one
    EXPECT_EQ("?bersicht.txt", std::string(entry.name));
    CloseArchive(archive);
}

TEST_F(ArchiveNameEncodingTest, SafetyRulesApplyToTheDecodedName) {
    ZipItem escaping = FileItem("x.txt", "x");
    escaping.localExtra = UnicodePathField("x.txt", "..\\..\\evil.txt");
    EXPECT_EQ("evil.txt", NameOf(escaping));  // sanitised like any stored name
}

}  // namespace
