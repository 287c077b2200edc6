#include "wizard/Slideshow.h"

#include "state/TheInstaller.h"
#include "wizard/BackgroundLayout.h"
#include "wizard/Pictures.h"

namespace {

constexpr DWORD kPauseMilliseconds = 100;

class Win32SlideshowView : public SlideshowView {
public:
    void ShowRecord(int32_t record, int32_t page) override {
        ShowBackgroundRecord(theInstaller, record, page);
        // The background belongs to the loader's thread: it is only asked to repaint.
        InvalidateRect(static_cast<HWND>(theInstaller.backgroundWindow), nullptr, FALSE);
    }

    void Pause() override { Sleep(kPauseMilliseconds); }
};

}  // namespace

DWORD WINAPI BackgroundSlideshow(void*) {
    Win32SlideshowView view;
    RunSlideshow(theInstaller, view);
    return 0;
}
