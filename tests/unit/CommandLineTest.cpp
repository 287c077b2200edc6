#include "TestSupport.h"
#include "common/CommandLine.h"
#include "common/Log.h"

namespace {

TEST(CommandLine, SwitchesInAnyCaseWithTheFolderTakingTheRestOfTheLine) {
    const CommandLine line = ParseCommandLine("/s /log=C:\\logs\\setup.log /D=C:\\Some Folder\\App  ");
    EXPECT_TRUE(line.silent);
    EXPECT_EQ("C:\\logs\\setup.log", line.logPath);
    EXPECT_EQ("C:\\Some Folder\\App", line.folder);
    EXPECT_EQ("", line.unknown);
    EXPECT_FALSE(line.help);

    // /D= comes last: what looks like a switch after it is part of the folder.
    EXPECT_EQ("C:\\A /S", ParseCommandLine("/D=C:\\A /S").folder);
    EXPECT_FALSE(ParseCommandLine("/D=C:\\A /S").silent);
    EXPECT_EQ("C:\\My Logs\\a.log", ParseCommandLine("/LOG=\"C:\\My Logs\\a.log\" /S").logPath);
    EXPECT_TRUE(ParseCommandLine("/LOG=\"C:\\My Logs\\a.log\" /S").silent);
    EXPECT_TRUE(ParseCommandLine("  /?  ").help);
    EXPECT_TRUE(ParseCommandLine("/Help").help);
    const CommandLine none = ParseCommandLine("");
    EXPECT_FALSE(none.silent || none.help);
    EXPECT_EQ("", none.folder + none.logPath + none.unknown);
}

TEST(CommandLine, TheFirstUnknownArgumentIsNamed) {
    EXPECT_EQ("/SILENT", ParseCommandLine("/S /SILENT /X").unknown);
    EXPECT_EQ("/Sx", ParseCommandLine("/Sx").unknown);  // not /S
    EXPECT_EQ("setup.ini", ParseCommandLine("setup.ini /S").unknown);
    EXPECT_TRUE(ParseCommandLine("setup.ini /S").silent);
    EXPECT_EQ("\"\"", ParseCommandLine("\"\"").unknown);
    const std::string text = UnknownSwitchText("/X");
    EXPECT_EQ(0u, text.find("Unknown switch: /X\n\n"));
    EXPECT_NE(std::string::npos, text.find("/D=<folder>"));
    EXPECT_NE(std::string::npos, text.find("4\tanother installation is running"));
    EXPECT_NE(std::string::npos, text.find("5\tthe installation was cancelled; nothing was changed"));
}

class LogTest : public ScratchFolder {};

size_t SplitCount(const std::string& text) {
    size_t pieces = 1;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++pieces;
    return pieces;
}

TEST_F(LogTest, EveryEventIsOneStampedLineOnDiskAtOnce) {
    ASSERT_TRUE(OpenLog(Path("setup.log")));
    LogEvent("placed C:\\App\\a.txt");
    // Flushed as it goes: readable before the log is closed.
    const std::string early = ReadText(Path("setup.log"));
    LogEvent("exit code 0");
    CloseLog();
    LogEvent("after the end");  // no log: nothing
    const std::string log = ReadText(Path("setup.log"));
    ASSERT_EQ(2u + 1, SplitCount(log));
    // "YYYY-MM-DD hh:mm:ss.mmm " and the event.
    EXPECT_EQ(' ', early.at(23));
    EXPECT_EQ("placed C:\\App\\a.txt\r\n", early.substr(24));
    EXPECT_EQ('-', log[4]);
    EXPECT_EQ(':', log[13]);
    EXPECT_NE(std::string::npos, log.find(" exit code 0\r\n"));
    EXPECT_EQ(std::string::npos, log.find("after the end"));
    EXPECT_FALSE(OpenLog(Path("no such folder/setup.log")));
    LogEvent("nowhere");  // goes on without a log
}

}  // namespace
