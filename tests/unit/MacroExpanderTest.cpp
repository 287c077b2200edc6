#include "TestSupport.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"

namespace {

MacroRecord Plain(const std::string& name, const std::string& value) { return MacroRecord{name, value, "", ""}; }

class MacroExpanderTest : public ScratchFolder {
protected:
    MacroTable table;

    std::string Expand(const std::string& content, const std::string& installPath = std::string()) {
        EXPECT_TRUE(WriteBytes(Path("file.txt"), ToBytes(content)));
        ExpandMacrosInFile(table, Path("file.txt"), installPath);
        const std::string expanded = ReadText(Path("file.txt"));
        // An expanded file is written in UTF-8 with the mark.
        return expanded.substr(expanded.compare(0, kUtf8MarkLength, kUtf8Mark) == 0 ? kUtf8MarkLength : 0);
    }

    void LoadTable(const std::string& content) {
        ASSERT_TRUE(WriteBytes(Path("macros.txt"), ToBytes(content)));
        LoadMacroTable(table, Path("macros.txt"));
    }
};

TEST_F(MacroExpanderTest, TextWithoutMacrosIsRewrittenWithCarriageReturnLineFeeds) {
    EXPECT_EQ("one\r\ntwo\r\nthree", Expand("one\ntwo\r\nthree"));
}

TEST_F(MacroExpanderTest, TheInstallPathLosesOneTrailingBackslash) {
    EXPECT_EQ("C:\\Apps\\file.txt", Expand("%install path%\\file.txt", "C:\\Apps\\"));
    EXPECT_EQ("C:\\Apps\\\\file.txt", Expand("%install path%\\file.txt", "C:\\Apps\\\\"));
    EXPECT_EQ("\\file.txt", Expand("%install path%\\file.txt"));
    EXPECT_EQ("C:\\Appsx", Expand("%install path%x", "C:\\Apps"));
}

TEST_F(MacroExpanderTest, ShellFoldersExpandToTheirPaths) {
    EXPECT_EQ("C:\\Program Files\\Sample|C:\\windows|C:\\windows\\system32",
              Expand("%program files%\\Sample|%windows%|%system%"));
    EXPECT_EQ("D:\\xC:\\windows", Expand("%install path%%windows%", "D:\\x"));
}

TEST_F(MacroExpanderTest, OnlyExactMacrosAreReplaced) {
    EXPECT_EQ("%Program Files% %programfiles% 50% %% %name% %program files", Expand("%Program Files% %programfiles% 50% %% %name% %program files"));
    table.records.push_back(Plain("%name%", "Sample"));
    EXPECT_EQ("50% %% Sample %name", Expand("50% %% %name% %name"));
    EXPECT_EQ("%%Sample%", Expand("%%%name%%"));
}

TEST_F(MacroExpanderTest, InsertedValuesAreNeverRescanned) {
    table.records.push_back(Plain("%a%", "%b%"));
    table.records.push_back(Plain("%b%", "B"));
    table.records.push_back(Plain("%dir%", "%windows%"));
    EXPECT_EQ("%b%B %windows%", Expand("%a%%b% %dir%"));
}

TEST_F(MacroExpanderTest, RecordsAreTriedInOrderBehindEachOther) {
    table.records.push_back(Plain("%x%", "first"));
    table.records.push_back(Plain("%x%", "second"));
    // The earlier record replaces; the later one is tested behind its value.
    EXPECT_EQ("first first", Expand("%x% %x%"));
    EXPECT_EQ("firstsecond", Expand("%x%%x%"));
    table.records.push_back(Plain("", "never"));
    table.records.push_back(Plain("%trail% ", "T"));
    EXPECT_EQ("%trail%x T", Expand("%trail%x %trail% "));
}

TEST_F(MacroExpanderTest, RegistryMacrosReadTheValueAtEachOccurrence) {
    const std::string key = "Software\\KXInstall Tests\\Macros";
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, key, "DataPath", "D:\\Data"));
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, key, "", "default value"));
    table.records.push_back(MacroRecord{"%data%", "HKEY_CURRENT_USER", key, "DataPath"});
    table.records.push_back(MacroRecord{"%default%", "HKEY_CURRENT_USER", key, ""});
    table.records.push_back(MacroRecord{"%badroot%", "HKEY_CURRENT_user", key, "DataPath"});
    table.records.push_back(MacroRecord{"%nokey%", "HKEY_CURRENT_USER", key + "\\Missing", "DataPath"});
    table.records.push_back(MacroRecord{"%novalue%", "HKEY_CURRENT_USER", key, "Missing"});
    EXPECT_EQ("D:\\Data\\x;default value;;;", Expand("%data%\\x;%default%;%badroot%;%nokey%;%novalue%"));
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, key, "DataPath", "E:\\New"));
    EXPECT_EQ("E:\\New", Expand("%data%"));
    // Data that does not fit 259 characters is not inserted cut short.
    ASSERT_TRUE(platform::WriteRegistryString(platform::RegistryRoot::CurrentUser, key, "DataPath", std::string(300, 'v')));
    EXPECT_EQ("[]", Expand("[%data%]"));
    EXPECT_TRUE(platform::DeleteRegistryKey(platform::RegistryRoot::CurrentUser, key));
}

TEST_F(MacroExpanderTest, ExpansionNeverCreatesOrCutsAFile) {
    ExpandMacrosInFile(table, Path("missing.txt"), "C:\\x");
    EXPECT_FALSE(platform::PathExists(Path("missing.txt").c_str()));

    // The text grows past its first reservation; growth that would pass the
    // largest size leaves the rest as written.
    const std::string third(kLargestExpansion / 3, 'g');
    table.records.push_back(Plain("%big%", third));
    const std::string grown = Expand("%big%|%big%|%big%");
    EXPECT_EQ(third + "|" + third + "|%big%", grown);
}

TEST_F(MacroExpanderTest, AListOfFiftyThousandLinesIsExpandedWhole) {
    std::string list;
    for (int i = 0; i < 50000; ++i) list += "file" + std::to_string(i) + ".txt|%install path%\\\n";
    list += "////\n";
    ASSERT_GT(list.size(), kExpansionStart * 10);
    const std::string expanded = Expand(list, "C:\\Apps\\Big");
    std::string expected;
    for (int i = 0; i < 50000; ++i) expected += "file" + std::to_string(i) + ".txt|C:\\Apps\\Big\\\r\n";
    EXPECT_EQ(expected + "////\r\n", expanded);
}

TEST_F(MacroExpanderTest, MacroTableReadsGroupsOfFourUpToTheTerminator) {
    LoadTable("%name%\r\nSample App\r\n\r\n\r\n%reg%\r\nHKEY_LOCAL_MACHINE\r\nSOFTWARE\\Ex\r\nPath\r\n"
              "////\r\nnot\r\na\r\nterminator\r\n"
              "%a%\r\nb\r\nc\r\n/stop\r\n%after%\r\nx\r\n\r\n\r\n");
    ASSERT_EQ(3u, table.records.size());
    EXPECT_EQ("%name%", table.records[0].name);
    EXPECT_EQ("Sample App", table.records[0].value);
    EXPECT_EQ("SOFTWARE\\Ex", table.records[1].subKey);
    EXPECT_EQ("Path", table.records[1].valueName);
    EXPECT_EQ("////", table.records[2].name);  // only the fourth line ends the list
    EXPECT_EQ("not", ProductName(table));
}

TEST_F(MacroExpanderTest, MacroTableEdges) {
    LoadTable("////\r\n////\r\n////\r\n////\r\n");
    EXPECT_TRUE(table.records.empty());
    EXPECT_EQ("", ProductName(table));

    LoadTable("%n%\nlast\n\n");  // no terminator: ends at the end of the file
    ASSERT_EQ(1u, table.records.size());
    EXPECT_EQ("last", ProductName(table));

    std::string many;
    for (int i = 0; i < kMaxMacroRecords + 10; ++i) many += "%m" + std::to_string(i) + "%\nv\n\n\n";
    LoadTable(many);
    EXPECT_EQ(static_cast<size_t>(kMaxMacroRecords), table.records.size());

    LoadMacroTable(table, Path("absent.txt"));
    EXPECT_TRUE(table.records.empty());
    EXPECT_FALSE(platform::PathExists(Path("absent.txt").c_str()));
}

}  // namespace
