#include "wizard/BackgroundLayout.h"

#include "wizard/PageController.h"
#include "wizard/PageImages.h"

namespace {

constexpr int64_t kHimetricPerInch = 2540;

// Halves of the screen and of the window are taken in floating point and
// the difference truncated toward zero, so an odd size leans left and up.
int32_t CentredStart(int32_t screen, int32_t size) { return static_cast<int32_t>(screen * 0.5 - size * 0.5); }

bool OnFinishedPage(const InstallerState& state) { return state.currentPage.load() == kPageFinished; }

// The 32-bit build computes in the x87 unit's wider registers; a value that
// goes through memory is rounded to single precision there too, so every
// build moves the slideshow on at the same item.
float Single(float value) {
    volatile float stored = value;
    return stored;
}

}  // namespace

WindowPlacement PlaceBackgroundWindow(int32_t width, int32_t height, int32_t screenWidth, int32_t screenHeight) {
    WindowPlacement placement;
    if (width > 0 && height > 0) {
        placement.rect = {CentredStart(screenWidth, width), CentredStart(screenHeight, height), width, height};
    } else {
        placement.keepPosition = true;
        placement.rect = {0, 0, screenWidth, screenHeight};
    }
    return placement;
}

int32_t HimetricToPixels(int32_t himetric, int32_t pixelsPerInch) {
    const int64_t product = static_cast<int64_t>(himetric) * pixelsPerInch;
    const int64_t half = kHimetricPerInch / 2;
    const int64_t pixels = product >= 0 ? (product + half) / kHimetricPerInch : -((-product + half) / kHimetricPerInch);
    return static_cast<int32_t>(pixels);
}

PixelRect PlacePicture(const BackgroundRecord& record, int32_t clientWidth, int32_t clientHeight,
                       int32_t pictureWidth, int32_t pictureHeight) {
    switch (record.placementMode) {
    case 0: return {0, 0, clientWidth, clientHeight};
    case 1:
        return {static_cast<int32_t>(clientWidth * 0.5) - static_cast<int32_t>(pictureWidth * 0.5),
                static_cast<int32_t>(clientHeight * 0.5) - static_cast<int32_t>(pictureHeight * 0.5), pictureWidth,
                pictureHeight};
    case 2: return {record.x, record.y, pictureWidth, pictureHeight};
    default: return {0, 0, pictureWidth, pictureHeight};
    }
}

float SlideshowStep(int32_t pictureCount) { return Single(1.0f / static_cast<float>(pictureCount)); }

// The fraction is single precision like the step, so that a share that is
// exact in items (10 of 30 for three pictures) is reached at that item.
bool SlideshowKeepsPicture(int32_t shown, float step, int32_t itemsDone, int32_t itemCount) {
    if (itemCount == 0) return false;
    const float fraction = Single(static_cast<float>(itemsDone) / static_cast<float>(itemCount));
    const float threshold = Single(static_cast<float>(shown + 1) * step);
    return fraction < threshold;
}

void RunSlideshow(const InstallerState& state, SlideshowView& view) {
    if (state.backgroundWindow == nullptr) return;
    const int32_t count = state.slideshowRecordCount;
    const float step = SlideshowStep(count);
    int32_t record = 0;
    for (int32_t shown = 0; shown < count; ++shown) {
        const int32_t page = state.currentPage.load();
        if (page == kPageFinished) return;
        record = FindBackgroundRecord(state, page + 1, record);
        view.ShowRecord(record, page);
        // The finished page also ends the wait: the worker may have handled
        // fewer lines than the package has items.
        while (SlideshowKeepsPicture(shown, step, state.progressPosition.load(), state.payloadItemCount) &&
               !OnFinishedPage(state)) {
            view.Pause();
        }
        record += 1;
    }
}
