#pragma once
// The full-screen background's arithmetic: where its window and its picture
// go, and when the installing page's slideshow moves on to its next picture.
// No window here: BackgroundWindow.cpp and Slideshow.cpp supply the sizes,
// the drawing and the waiting.

#include <cstdint>

#include "state/InstallerState.h"

struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct WindowPlacement {
    bool keepPosition = false;  // full screen: the window stays where its template put it
    PixelRect rect;             // x and y unused when keepPosition is set
};

// The background window at width x height pixels, centred on the screen,
// when both are above 0; otherwise the screen's size at its own position.
WindowPlacement PlaceBackgroundWindow(int32_t width, int32_t height, int32_t screenWidth, int32_t screenHeight);

// A picture's HIMETRIC extent (hundredths of a millimetre) in pixels at
// pixelsPerInch, rounded to the nearest pixel, halves away from zero.
int32_t HimetricToPixels(int32_t himetric, int32_t pixelsPerInch);

// Where a picture of pictureWidth x pictureHeight pixels goes on a client
// area of clientWidth x clientHeight, by the record's placement mode:
// 0 stretched over the client area, 1 centred, 2 at the record's x and y,
// any other at the top left corner; the last three at the picture's size.
PixelRect PlacePicture(const BackgroundRecord& record, int32_t clientWidth, int32_t clientHeight,
                       int32_t pictureWidth, int32_t pictureHeight);

// The share of the installation between two slideshow pictures:
// 1 / pictureCount in single precision (the packages' timing rests on it).
float SlideshowStep(int32_t pictureCount);

// Whether picture `shown` (counting from 0) stays up: the installed fraction
// itemsDone / itemCount has not yet reached (shown + 1) x step. Never with
// no items, so an empty payload shows every picture at once.
bool SlideshowKeepsPicture(int32_t shown, float step, int32_t itemsDone, int32_t itemCount);

// What the slideshow needs from the background window.
class SlideshowView {
public:
    virtual ~SlideshowView() = default;
    // Puts record's picture on the background for page (or marks it missing)
    // and repaints; a picture arriving after the wizard left page is dropped.
    virtual void ShowRecord(int32_t record, int32_t page) = 0;
    // Waits a moment (100 ms) for the installation to go on.
    virtual void Pause() = 0;
};

// The installing page's slideshow: shows its pictures one after the other,
// each as the installed fraction reaches its share, and ends after the last,
// on the finished page, or at once without a background window or pictures.
// Runs on a thread of its own; it only reads the worker's counters.
void RunSlideshow(const InstallerState& state, SlideshowView& view);
