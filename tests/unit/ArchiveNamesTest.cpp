#include <gtest/gtest.h>

#include <string>

#include "archive/ArchiveReader.h"

namespace {

std::string Sanitised(const std::string& stored) {
    char name[kArchiveNameCapacity] = {};
    stored.copy(name, sizeof name - 1);
    SanitiseArchiveName(name);
    return name;
}

TEST(ArchiveNames, SanitisingRepeatsUntilNoRuleApplies) {
    EXPECT_EQ("c.txt", Sanitised("a/b/../c.txt"));
    EXPECT_EQ("x\\y.txt", Sanitised("C:\\x\\y.txt"));
    EXPECT_EQ("abs/z.txt", Sanitised("/abs/z.txt"));
    EXPECT_EQ("../up.txt", Sanitised("../up.txt"));
    EXPECT_EQ("share/f.txt", Sanitised("\\\\server\\..\\share/f.txt"));
    EXPECT_EQ("x", Sanitised("C:/D:\\x"));
    EXPECT_EQ("d", Sanitised("a\\../b/..\\c/../d"));
    EXPECT_EQ("", Sanitised("/"));
}

TEST(ArchiveNames, OrdinaryRelativeNamesAreSafe) {
    for (const char* name : {"readme.txt", "%KXInstall%/img/1/logo.bmp", "a/b\\c.d", "dir/", "./a", "a..b",
                             "..a", "console/x", "icon.d", "COM10", "lpt", "spaces in name.txt"}) {
        EXPECT_TRUE(IsSafeRelativeName(name)) << name;
    }
}

TEST(ArchiveNames, NamesThatLeaveTheFolderOrNameDevicesAreUnsafe) {
    for (const char* name : {"", "../up.txt", "a/../../b", "a\\..\\b", "..", "/abs", "\\abs", "C:x", "c:\\x",
                             "\\\\server\\share", "file.txt:stream", "a/. ./b", "a/... /b", "a/.../b", "NUL",
                             "dir/nul.txt", "Con", "aux.tar.gz", "COM1", "lpt9.log", "ctl\x01.txt", "wild*.txt",
                             "q?.txt", "a/b|c"}) {
        EXPECT_FALSE(IsSafeRelativeName(name)) << name;
    }
}

}  // namespace
