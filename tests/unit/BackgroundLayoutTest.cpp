#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "wizard/BackgroundLayout.h"
#include "wizard/PageController.h"

namespace {

BackgroundRecord Record(int32_t mode, int32_t x = 0, int32_t y = 0) {
    BackgroundRecord record;
    record.placementMode = mode;
    record.x = x;
    record.y = y;
    return record;
}

void ExpectRect(const PixelRect& rect, int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(x, rect.x);
    EXPECT_EQ(y, rect.y);
    EXPECT_EQ(width, rect.width);
    EXPECT_EQ(height, rect.height);
}

TEST(BackgroundWindowPlacement, AGivenSizeIsCentredOnTheScreen) {
    const WindowPlacement placement = PlaceBackgroundWindow(800, 600, 1024, 768);
    EXPECT_FALSE(placement.keepPosition);
    ExpectRect(placement.rect, 112, 84, 800, 600);
}

TEST(BackgroundWindowPlacement, OddSizesTruncateTowardZero) {
    ExpectRect(PlaceBackgroundWindow(801, 601, 1024, 768).rect, 111, 83, 801, 601);  // 111.5, 83.5
    ExpectRect(PlaceBackgroundWindow(2001, 1001, 1024, 768).rect, -488, -116, 2001, 1001);  // -488.5, -116.5
}

TEST(BackgroundWindowPlacement, ASizeOfZeroCoversTheScreenWhereTheWindowIs) {
    for (const auto& size : {std::pair<int32_t, int32_t>{0, 600}, {800, 0}, {0, 0}, {-5, 600}}) {
        const WindowPlacement placement = PlaceBackgroundWindow(size.first, size.second, 1024, 768);
        EXPECT_TRUE(placement.keepPosition) << size.first << " x " << size.second;
        EXPECT_EQ(1024, placement.rect.width);
        EXPECT_EQ(768, placement.rect.height);
    }
}

TEST(BackgroundPicturePlacement, HimetricBecomesPixelsRoundedToNearest) {
    EXPECT_EQ(96, HimetricToPixels(2540, 96));
    EXPECT_EQ(100, HimetricToPixels(2646, 96));  // a 100-pixel bitmap as it reports itself at 96 dpi
    EXPECT_EQ(120, HimetricToPixels(2540, 120));
    EXPECT_EQ(1, HimetricToPixels(14, 96));   // 0.529...
    EXPECT_EQ(0, HimetricToPixels(13, 96));   // 0.491...
    EXPECT_EQ(-1, HimetricToPixels(-14, 96));  // halves and more away from zero on both sides
    EXPECT_EQ(0, HimetricToPixels(0, 96));
}

TEST(BackgroundPicturePlacement, ModeZeroStretchesOverTheClientArea) {
    ExpectRect(PlacePicture(Record(0, 30, 40), 1000, 700, 64, 48), 0, 0, 1000, 700);
}

TEST(BackgroundPicturePlacement, ModeOneCentresAtThePicturesSize) {
    ExpectRect(PlacePicture(Record(1), 1000, 700, 64, 48), 468, 326, 64, 48);
    ExpectRect(PlacePicture(Record(1), 1001, 701, 65, 49), 468, 326, 65, 49);  // each half truncated
}

TEST(BackgroundPicturePlacement, ModeTwoPutsThePictureAtTheRecordsPosition) {
    ExpectRect(PlacePicture(Record(2, 30, 40), 1000, 700, 64, 48), 30, 40, 64, 48);
    ExpectRect(PlacePicture(Record(2, -10, 900), 1000, 700, 64, 48), -10, 900, 64, 48);
}

TEST(BackgroundPicturePlacement, AnyOtherModePutsThePictureTopLeftAtItsSize) {
    for (int32_t mode : {3, 9, -1}) {
        ExpectRect(PlacePicture(Record(mode, 30, 40), 1000, 700, 64, 48), 0, 0, 64, 48);
    }
}

TEST(SlideshowTiming, FourPicturesMoveOnAtEveryQuarter) {
    const float step = SlideshowStep(4);
    EXPECT_EQ(0.25f, step);
    EXPECT_TRUE(SlideshowKeepsPicture(0, step, 9, 40));
    EXPECT_FALSE(SlideshowKeepsPicture(0, step, 10, 40));
    EXPECT_TRUE(SlideshowKeepsPicture(1, step, 19, 40));
    EXPECT_FALSE(SlideshowKeepsPicture(1, step, 20, 40));
    EXPECT_TRUE(SlideshowKeepsPicture(3, step, 39, 40));
    EXPECT_FALSE(SlideshowKeepsPicture(3, step, 40, 40));
}

TEST(SlideshowTiming, NoItemsMeansNoWait) {
    EXPECT_FALSE(SlideshowKeepsPicture(0, SlideshowStep(4), 0, 0));
    EXPECT_FALSE(SlideshowKeepsPicture(3, SlideshowStep(4), 0, 0));
}

// The slideshow run against a pretend installation in which one more item
// is done at every pause. Each picture is recorded with the item count at
// which it was shown.
class SlideshowRun : public testing::Test, public SlideshowView {
protected:
    struct Shown {
        int32_t record;
        int32_t page;
        int32_t itemsDone;
    };

    SlideshowRun() : state(std::make_unique<InstallerState>()) {
        static int window;
        state->backgroundWindow = &window;
        state->currentPage = kPageInstalling;
    }

    void AddRecord(int32_t pageKey) {
        BackgroundRecord& record = state->backgroundRecords[state->backgroundRecordCount++];
        record.pageKey = pageKey;
        record.path = "picture" + std::to_string(state->backgroundRecordCount);
        if (pageKey == kSlideshowPageKey) state->slideshowRecordCount += 1;
    }

    void ShowRecord(int32_t record, int32_t page) override { shown.push_back({record, page, state->progressPosition}); }

    void Pause() override {
        pauses += 1;
        if (pauses == finishAfterPauses) state->currentPage = kPageFinished;
        if (state->progressPosition < state->payloadItemCount) state->progressPosition += 1;
    }

    std::unique_ptr<InstallerState> state;  // large: kept off the stack
    std::vector<Shown> shown;
    int pauses = 0;
    int finishAfterPauses = -1;
};

TEST_F(SlideshowRun, FourPicturesOfFortyItemsShowAtItemsZeroTenTwentyAndThirty) {
    AddRecord(3);  // another page's picture is passed over
    for (int i = 0; i < 4; ++i) AddRecord(kSlideshowPageKey);
    state->payloadItemCount = 40;
    RunSlideshow(*state, *this);
    ASSERT_EQ(4u, shown.size());
    const int32_t expectedItems[] = {0, 10, 20, 30};
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(static_cast<int32_t>(i) + 1, shown[i].record) << "picture " << i;
        EXPECT_EQ(kPageInstalling, shown[i].page);
        EXPECT_EQ(expectedItems[i], shown[i].itemsDone) << "picture " << i;
    }
    EXPECT_EQ(40, pauses);  // the last picture stays until every item is done
}

TEST_F(SlideshowRun, ThreePicturesOfThirtyItemsMoveOnExactlyAtEachThird) {
    for (int i = 0; i < 3; ++i) AddRecord(kSlideshowPageKey);
    state->payloadItemCount = 30;
    RunSlideshow(*state, *this);
    ASSERT_EQ(3u, shown.size());
    EXPECT_EQ(0, shown[0].itemsDone);
    EXPECT_EQ(10, shown[1].itemsDone);
    EXPECT_EQ(20, shown[2].itemsDone);
}

TEST_F(SlideshowRun, PicturesBetweenOtherPagesPicturesAreTakenInRecordOrder) {
    AddRecord(kSlideshowPageKey);
    AddRecord(2);
    AddRecord(kSlideshowPageKey);
    state->payloadItemCount = 4;
    RunSlideshow(*state, *this);
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ(0, shown[0].record);
    EXPECT_EQ(2, shown[1].record);
    EXPECT_EQ(2, shown[1].itemsDone);
}

TEST_F(SlideshowRun, WithoutItemsEveryPictureShowsAtOnce) {
    for (int i = 0; i < 3; ++i) AddRecord(kSlideshowPageKey);
    RunSlideshow(*state, *this);
    EXPECT_EQ(3u, shown.size());
    EXPECT_EQ(0, pauses);
}

TEST_F(SlideshowRun, WithoutSlideshowPicturesNothingIsShown) {
    AddRecord(2);
    AddRecord(7);
    state->payloadItemCount = 40;
    RunSlideshow(*state, *this);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(0, pauses);
}

TEST_F(SlideshowRun, WithoutABackgroundWindowNothingIsShown) {
    for (int i = 0; i < 3; ++i) AddRecord(kSlideshowPageKey);
    state->payloadItemCount = 30;
    state->backgroundWindow = nullptr;
    RunSlideshow(*state, *this);
    EXPECT_TRUE(shown.empty());
}

TEST_F(SlideshowRun, TheFinishedPageEndsTheSlideshow) {
    for (int i = 0; i < 4; ++i) AddRecord(kSlideshowPageKey);
    state->payloadItemCount = 40;
    finishAfterPauses = 5;  // the worker handled fewer lines than there are items
    RunSlideshow(*state, *this);
    EXPECT_EQ(1u, shown.size());
    EXPECT_EQ(5, pauses);
}

}  // namespace
