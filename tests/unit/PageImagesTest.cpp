#include "TestSupport.h"
#include "wizard/PageImages.h"

namespace {

class PageImagesTest : public ScratchFolder {
protected:
    InstallerState state;
    void AddRecord(int32_t pageKey, const std::string& path) {
        BackgroundRecord& record = state.backgroundRecords[state.backgroundRecordCount++];
        record.pageKey = pageKey;
        record.path = path;
    }
};

TEST_F(PageImagesTest, LogosFallBackToTheDefaultWhenThePageHasNone) {
    state.imageSlots[0] = Path("setup.jpg");
    state.imageSlots[3] = Path("three.bmp");
    state.imageSlots[4] = Path("missing.bmp");
    ASSERT_TRUE(WriteBytes(Path("three.bmp"), ToBytes("BM")));
    EXPECT_EQ(Path("three.bmp"), LogoPathForPage(state, 2));  // "Installation Directory"
    EXPECT_EQ(Path("setup.jpg"), LogoPathForPage(state, 3));  // named, but not there
    EXPECT_EQ(Path("setup.jpg"), LogoPathForPage(state, 0));
    EXPECT_EQ(Path("setup.jpg"), LogoPathForPage(state, 6));
}

TEST_F(PageImagesTest, BackgroundRecordsAreFoundByPageKeyFromAStart) {
    AddRecord(2, "a");
    AddRecord(6, "b");
    AddRecord(6, "");
    AddRecord(6, "c");
    EXPECT_EQ(0, FindBackgroundRecord(state, 2, 0));
    EXPECT_EQ(1, FindBackgroundRecord(state, 6, 0));
    EXPECT_EQ(3, FindBackgroundRecord(state, 6, 2));  // an empty path is skipped
    EXPECT_EQ(4, FindBackgroundRecord(state, 6, 4));  // none left: the count
    EXPECT_EQ(4, FindBackgroundRecord(state, 9, 0));
    EXPECT_EQ(4, FindBackgroundRecord(state, 6, 1024));
    EXPECT_EQ(4, FindBackgroundRecord(state, 6, -5));
}

}  // namespace
