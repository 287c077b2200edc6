#include <cstring>

#include "TestSupport.h"
#include "control/ControlFile.h"

namespace {

class ControlFileTest : public ScratchFolder {
protected:
    std::vector<std::string> Lines(const std::string& content, int count) {
        EXPECT_TRUE(WriteBytes(Path("lines.txt"), ToBytes(content)));
        TextFile file(Path("lines.txt"));
        std::vector<std::string> lines;
        char line[kLineCapacity];
        for (int i = 0; i < count; ++i) {
            std::memset(line, 'x', sizeof line);
            ReadLine(file, line);
            lines.push_back(line);
        }
        return lines;
    }
};

using Strings = std::vector<std::string>;

TEST_F(ControlFileTest, BareLineFeedsReadLikeCarriageReturnLineFeeds) {
    const Strings expected = {"first", " second ", "", "fourth", "", ""};
    EXPECT_EQ(expected, Lines("first\r\n second \r\n\r\nfourth\r\n", 6));
    EXPECT_EQ(expected, Lines("first\n second \n\nfourth\n", 6));
    EXPECT_EQ(expected, Lines("first\n second \r\n\nfourth", 6));  // mixed, last line unended
    EXPECT_EQ((Strings{"a\rb", "c\r"}), Lines("a\rb\r\nc\r", 2));  // a lone CR is text
}

TEST_F(ControlFileTest, ALineOf260CharactersEndsTheFilesUsefulContent) {
    const std::string longest(259, 'a');
    EXPECT_EQ((Strings{longest, "next"}), Lines(longest + "\r\nnext\r\n", 2));
    const std::string tooLong(260, 'b');
    EXPECT_EQ((Strings{std::string(259, 'b'), "", ""}), Lines(tooLong + "\r\nnext\r\nmore\r\n", 3));
    EXPECT_EQ((Strings{std::string(259, 'c'), ""}), Lines(std::string(5000, 'c') + "\nnext\n", 2));
}

TEST_F(ControlFileTest, ReadingAMissingFileCreatesNothing) {
    const std::string missing = Path("missing.txt");
    int64_t size = 7;
    EXPECT_FALSE(QueryFileStatus(missing, &size));
    TextFile file(missing);
    char line[kLineCapacity] = "stale";
    EXPECT_FALSE(ReadLine(file, line));
    EXPECT_STREQ("", line);
    char buffer[kEndOfInstallTextCapacity] = "untouched";
    EXPECT_TRUE(ReadWholeFile(missing, buffer, sizeof buffer));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_EQ("", ReadWholeText(missing, kWholeTextCapacity));
    EXPECT_FALSE(platform::PathExists(missing.c_str()));
    EXPECT_FALSE(QueryFileStatus(Folder().substr(0, Folder().size() - 1), &size));  // a folder is no file
}

TEST_F(ControlFileTest, WholeFilesReadAsTextAndStayWithinTheirCapacity) {
    ASSERT_TRUE(WriteBytes(Path("t.txt"), ToBytes("Line one\r\nLine two\r\n")));
    EXPECT_EQ("Line one\nLine two\n", ReadWholeText(Path("t.txt"), kWholeTextCapacity));

    ASSERT_TRUE(WriteBytes(Path("full.txt"), ToBytes(std::string(300, 'u'))));
    char buffer[kUninstallTextCapacity + 8];
    std::memset(buffer, 0, sizeof buffer);
    buffer[kUninstallTextCapacity] = '#';  // a guard just past the capacity
    EXPECT_FALSE(ReadWholeFile(Path("full.txt"), buffer, kUninstallTextCapacity));
    EXPECT_EQ(std::string(259, 'u'), std::string(buffer));
    EXPECT_EQ('#', buffer[kUninstallTextCapacity]);

    // Exactly one short of the capacity fits whole.
    ASSERT_TRUE(WriteBytes(Path("fits.txt"), ToBytes(std::string(259, 'f'))));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_TRUE(ReadWholeFile(Path("fits.txt"), buffer, kUninstallTextCapacity));
    EXPECT_EQ(259u, std::strlen(buffer));
}

TEST(ControlValues, NumbersFollowAtoi) {
    EXPECT_EQ(12, ParseNumber("12abc"));
    EXPECT_EQ(0, ParseNumber("letters"));
    EXPECT_EQ(-3, ParseNumber(" -3"));
    EXPECT_EQ(7, ParseNumber("\t+7 "));
    EXPECT_EQ(0, ParseNumber(""));
    EXPECT_EQ(0, ParseNumber("- 3"));
    EXPECT_EQ(2147483647, ParseNumber("99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, ParseNumber("-99999999999999999999"));
}

TEST(ControlValues, SwitchesAndTerminatorsLookAtTheFirstCharacter) {
    EXPECT_TRUE(ParseSwitch("true"));
    EXPECT_TRUE(ParseSwitch("t"));
    EXPECT_FALSE(ParseSwitch("True"));
    EXPECT_FALSE(ParseSwitch("false"));
    EXPECT_FALSE(ParseSwitch(""));
    EXPECT_FALSE(ParseSwitch(" true"));
    EXPECT_TRUE(IsTerminator("////"));
    EXPECT_TRUE(IsTerminator("/x"));
    EXPECT_FALSE(IsTerminator(" ////"));
    EXPECT_FALSE(IsTerminator(""));
}

}  // namespace
