#include "TestSupport.h"
#include "common/RemoveFolderTree.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

class RemoveFolderTreeTest : public ScratchFolder {};

TEST_F(RemoveFolderTreeTest, RemovesNestedFoldersAndReadOnlyFiles) {
    const std::string tree = Path("tree");
    ASSERT_TRUE(platform::CreateFolder(tree.c_str()));
    ASSERT_TRUE(platform::CreateFolder((tree + "/sub").c_str()));
    ASSERT_TRUE(platform::CreateFolder((tree + "/sub/deeper").c_str()));
    ASSERT_TRUE(platform::CreateFolder((tree + "/empty").c_str()));
    ASSERT_TRUE(WriteBytes(tree + "/a.txt", ToBytes("a")));
    ASSERT_TRUE(WriteBytes(tree + "/sub/deeper/b.txt", ToBytes("b")));
    ASSERT_TRUE(platform::WriteAttributes((tree + "/sub/deeper/b.txt").c_str(), platform::kAttributeReadOnly));

    EXPECT_TRUE(RemoveFolderTree(tree));
    EXPECT_FALSE(platform::PathExists(tree.c_str()));
}

TEST_F(RemoveFolderTreeTest, AMissingFolderIsNotRemoved) { EXPECT_FALSE(RemoveFolderTree(Path("nothing-here"))); }

// A link planted inside the tree is removed as a link; what it points to stays.
TEST_F(RemoveFolderTreeTest, NeverFollowsALinkOutOfTheTree) {
    const std::string outside = Path("outside");
    const std::string tree = Path("tree");
    ASSERT_TRUE(platform::CreateFolder(outside.c_str()));
    ASSERT_TRUE(WriteBytes(outside + "/precious.txt", ToBytes("keep me")));
    ASSERT_TRUE(WriteBytes(Path("precious-file.txt"), ToBytes("keep me too")));
    ASSERT_TRUE(platform::CreateFolder(tree.c_str()));
#ifdef _WIN32
    if (!CreateSymbolicLinkA((tree + "\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !CreateSymbolicLinkA((tree + "\\filelink").c_str(), Path("precious-file.txt").c_str(), 0)) {
        GTEST_SKIP() << "this system cannot create symbolic links here";
    }
    // Some systems say they made the link and made none.
    if (platform::ReadAttributes((tree + "\\link").c_str()) == platform::kNoAttributes) {
        GTEST_SKIP() << "this system made no symbolic link here";
    }
#else
    ASSERT_EQ(0, symlink(outside.c_str(), (tree + "/link").c_str()));
    ASSERT_EQ(0, symlink(Path("precious-file.txt").c_str(), (tree + "/filelink").c_str()));
#endif
    EXPECT_TRUE(RemoveFolderTree(tree));
    EXPECT_FALSE(platform::PathExists(tree.c_str()));
    EXPECT_EQ("keep me", ReadText(outside + "/precious.txt"));
    EXPECT_EQ("keep me too", ReadText(Path("precious-file.txt")));
}

// The folder given may itself have been made a link (another program can
// put one in place of a folder of the temporary folder): the link goes, and
// what it points to is never listed or emptied.
TEST_F(RemoveFolderTreeTest, AFolderThatIsALinkIsRemovedAsALink) {
    const std::string outside = Path("outside");
    const std::string link = Path("workspace-link");
    ASSERT_TRUE(platform::CreateFolder(outside.c_str()));
    ASSERT_TRUE(platform::CreateFolder((outside + "/sub").c_str()));
    ASSERT_TRUE(WriteBytes(outside + "/sub/precious.txt", ToBytes("keep me")));
#ifdef _WIN32
    if (!CreateSymbolicLinkA(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        platform::ReadAttributes(link.c_str()) == platform::kNoAttributes) {
        GTEST_SKIP() << "this system cannot create symbolic links here";
    }
#else
    ASSERT_EQ(0, symlink(outside.c_str(), link.c_str()));
#endif
    EXPECT_TRUE(RemoveFolderTree(link));
    EXPECT_EQ(platform::kNoAttributes, platform::ReadAttributes(link.c_str()));
    EXPECT_EQ("keep me", ReadText(outside + "/sub/precious.txt"));
    // A file is not a folder to remove.
    EXPECT_FALSE(RemoveFolderTree(outside + "/sub/precious.txt"));
    EXPECT_EQ("keep me", ReadText(outside + "/sub/precious.txt"));
}

}  // namespace
