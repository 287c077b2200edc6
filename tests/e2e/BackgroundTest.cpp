// The full-screen background behind the wizard: its window (size, place,
// frame), what it paints (flat fill, gradient, text in the package font and
// its shadow, a page picture in each placement mode), the installing page's
// slideshow, and what closing the framed window does.
//
// Colours are read from screenshots of the whole screen. The packages
// (tests/e2e/packages/background-*) use plain colours so that every sample
// is exact. The framed package's font file is Wine's tahomabd.ttf with its
// family renamed to "KXTest", a face no system has, so text in any other
// font shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "Driver.h"
#include "InstallerFixture.h"

using namespace e2e;

namespace {

constexpr char kFramed[] = "background-framed";          // 800 x 600, flat fill, text, a picture per page
constexpr char kBorderless[] = "background-borderless";  // 800 x 0: full screen, gradient
constexpr char kSlideshow[] = "background-slideshow";    // four pictures, 40 payload items
constexpr char kBig[] = "background-big";                // the framed background over a 200 MiB file

constexpr DWORD kPaintMs = 300;  // lets a change reach the screen
constexpr int kTextMargin = 20;

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << c.red << "," << c.green << "," << c.blue << ")";
}

// The framed package's colours (its fullscreen.txt and pictures).
constexpr Rgb kFill = {40, 80, 120};
constexpr Rgb kTextColour = {250, 220, 30};
constexpr Rgb kShadowColour = {200, 30, 30};
constexpr int kShadowOffset = 4;
constexpr char kText[] = "KX Font Check";
constexpr char kPackageFace[] = "KXTest";
constexpr int kFontPoints = 36;
constexpr int kFontWeight = 700;
constexpr Rgb kWelcomeGreen = {0, 200, 0};         // page key 1, mode 2 at 30, 420, 40 x 30
constexpr Rgb kLicenseMagenta = {200, 0, 200};     // page key 2, mode 1, 700 x 20
constexpr Rgb kFolderCyan = {0, 200, 200};         // page key 3, mode 0
constexpr Rgb kShortcutsOrange = {250, 140, 0};    // page key 4, mode 7, 50 x 40
// The borderless package's gradient.
constexpr Rgb kGradientTop = {10, 40, 200};
constexpr Rgb kGradientBottom = {200, 160, 10};
// The slideshow's four pictures, in record order.
const Rgb kSlides[] = {{220, 20, 20}, {20, 200, 20}, {20, 20, 220}, {220, 220, 20}};
constexpr Rgb kSlideshowFill = {90, 90, 90};

testing::AssertionResult Near(const Rgb& seen, const Rgb& expected, int tolerance) {
    const bool within = std::abs(seen.red - expected.red) <= tolerance &&
                      std::abs(seen.green - expected.green) <= tolerance &&
                      std::abs(seen.blue - expected.blue) <= tolerance;
    if (within) return testing::AssertionSuccess();
    return testing::AssertionFailure() << seen << ", expected " << expected << " within " << tolerance;
}

// Smallest rectangle holding some pixels; empty while right < left.
struct Box {
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;  // right and bottom inclusive
    bool Empty() const { return right < left; }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
    void Add(int x, int y) {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
    }
};

// Pixels of one colour, as offsets from the top left corner of their box:
// the shape of a text's fully covered pixels wherever it was drawn.
struct Ink {
    Box box;
    std::vector<POINT> pixels;  // in scan order, top to bottom, left to right
    void Add(int x, int y) {
        box.Add(x, y);
        pixels.push_back({x, y});
    }
    std::vector<std::pair<int, int>> Shape() const {
        std::vector<std::pair<int, int>> shape;
        for (const POINT& p : pixels) shape.emplace_back(p.y - box.top, p.x - box.left);
        return shape;
    }
};

// How many pixels belong to one shape and not to the other.
size_t ShapeDifference(const Ink& a, const Ink& b) {
    const auto first = a.Shape();
    const auto second = b.Shape();
    std::vector<std::pair<int, int>> apart;
    std::set_symmetric_difference(first.begin(), first.end(), second.begin(), second.end(),
                                  std::back_inserter(apart));
    return apart.size();
}

// The whole screen as the driver saves it, read back from its BMP file.
class Screenshot {
public:
    testing::AssertionResult Take() {
        const std::string path = TempFolder() + "kx-background-shot.bmp";
        if (!SaveScreenshot(nullptr, path)) return testing::AssertionFailure() << "no screenshot";
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const bool read = bytes_.size() >= sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        if (!read) return testing::AssertionFailure() << "unreadable screenshot " << path;
        BITMAPINFOHEADER info;
        std::memcpy(&info, bytes_.data() + sizeof(BITMAPFILEHEADER), sizeof info);
        width_ = info.biWidth;
        height_ = info.biHeight;  // bottom-up
        stride_ = (width_ * 3 + 3) & ~3;
        offset_ = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        if (info.biBitCount != 24 || bytes_.size() < offset_ + static_cast<size_t>(stride_) * height_) {
            return testing::AssertionFailure() << "unexpected screenshot layout";
        }
        return testing::AssertionSuccess();
    }

    // Screen coordinates; black outside the screen.
    Rgb At(int x, int y) const {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0};
        const size_t at = offset_ + static_cast<size_t>(height_ - 1 - y) * stride_ + static_cast<size_t>(x) * 3;
        return {static_cast<unsigned char>(bytes_[at + 2]), static_cast<unsigned char>(bytes_[at + 1]),
                static_cast<unsigned char>(bytes_[at])};
    }

    // Where the area (screen coordinates) holds exactly that colour.
    Ink Find(const RECT& area, const Rgb& colour) const {
        Ink ink;
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                if (At(x, y) == colour) ink.Add(x, y);
            }
        }
        return ink;
    }

private:
    std::vector<char> bytes_;
    int width_ = 0, height_ = 0, stride_ = 0;
    size_t offset_ = 0;
};

// The background's text as this process draws it, white on black, in the
// given face: its fully covered pixels.
Ink DrawnInk(const char* face) {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(kFontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72);
    HDC memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 1024;
    info.bmiHeader.biHeight = -200;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HFONT font = CreateFontA(height, 0, 0, 0, kFontWeight, 0, 0, 0, 0, 0, 0, 0, 0, face);
    HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
    HGDIOBJ oldFont = SelectObject(memory, font);
    RECT area = {0, 0, 1024, 200};
    FillRect(memory, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetTextColor(memory, RGB(255, 255, 255));
    SetBkMode(memory, TRANSPARENT);
    DrawTextA(memory, kText, -1, &area, DT_SINGLELINE);
    GdiFlush();
    Ink ink;
    const auto* pixels = static_cast<const uint32_t*>(bits);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 1024; ++x) {
            if ((pixels[y * 1024 + x] & 0xFFFFFF) == 0xFFFFFF) ink.Add(x, y);
        }
    }
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(font);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return ink;
}

// The wizard inside a background: its child dialog with the folder field.
HWND InnerWizard(HWND background) {
    for (HWND child = FindWindowExA(background, nullptr, "#32770", nullptr); child != nullptr;
         child = FindWindowExA(background, child, "#32770", nullptr)) {
        if (KindOf(child) == DialogKind::kWizard) return child;
    }
    return nullptr;
}

class BackgroundTest : public InstallerTest {
protected:
    void SetUp() override {
        InstallerTest::SetUp();
        ASSERT_TRUE(RemoveTree(TargetFolder()));
    }
    void TearDown() override {
        InstallerTest::TearDown();
        (void)RemoveTree(TargetFolder());  // leftovers are removed again by the next SetUp
    }

    // Starts the package and waits for its background with the wizard inside.
    testing::AssertionResult OpenBackground(const std::string& package) {
        testing::AssertionResult started = Start(package);
        if (!started) return started;
        const bool found = WaitUntil([&] {
            for (HWND dialog : installer.Dialogs()) {
                HWND inner = IsWindowVisible(dialog) ? InnerWizard(dialog) : nullptr;
                if (inner != nullptr && IsWindowVisible(inner)) {
                    background = dialog;
                    wizard = inner;
                    return true;
                }
            }
            return installer.HasExited();
        });
        if (!found || wizard == nullptr) return testing::AssertionFailure() << "no background holding the wizard";
        return ShowsPage(wizard, page::kWelcome);
    }

    // The client area's top left corner and size, in screen coordinates.
    RECT Client() const {
        RECT client;
        GetClientRect(background, &client);
        POINT origin = {0, 0};
        ClientToScreen(background, &origin);
        OffsetRect(&client, origin.x, origin.y);
        return client;
    }

    // A colour at client coordinates of the background, after a pause for painting.
    Rgb ClientPixel(int x, int y) {
        const RECT client = Client();
        EXPECT_TRUE(shot.Take());
        return shot.At(client.left + x, client.top + y);
    }

    // Walks to the summary with the test's target folder and no shortcuts.
    testing::AssertionResult WalkToSummaryInto(const std::string& folder) {
        testing::AssertionResult walked = ClickTo(wizard, ctl::kNext, page::kLicense);
        if (walked) walked = ClickTo(wizard, ctl::kNext, page::kFolder);
        if (walked && !SetControlText(wizard, ctl::kFolder, folder)) walked = testing::AssertionFailure() << "folder";
        if (walked) walked = ClickTo(wizard, ctl::kNext, page::kShortcuts);
        for (int box : {ctl::kDesktop, ctl::kStartMenu, ctl::kQuickLaunch}) {
            if (walked && !SetChecked(wizard, box, false)) walked = testing::AssertionFailure() << "box " << box;
        }
        if (walked) walked = ClickTo(wizard, ctl::kNext, page::kSummary);
        return walked;
    }

    // Waits for the overwrite question about one payload file.
    HWND WaitForOverwriteQuestion(const std::string& name) {
        HWND box = nullptr;
        WaitUntil([&] {
            box = installer.FindDialog(DialogKind::kMessageBox);
            return (box != nullptr && MessageText(box).find("named " + name + " ") != std::string::npos) ||
                   installer.HasExited();
        });
        if (box == nullptr || MessageText(box).find("named " + name + " ") == std::string::npos) return nullptr;
        return box;
    }

    HWND background = nullptr;
    HWND wizard = nullptr;
    Screenshot shot;
};

TEST_F(BackgroundTest, FramedBackgroundOfGivenSizeIsCentredWithCaptionAndHoldsTheWizard) {
    ASSERT_TRUE(OpenBackground(kFramed));
    RECT frame;
    ASSERT_TRUE(GetWindowRect(background, &frame));
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(screenWidth / 2 - 400, frame.left);
    EXPECT_EQ(screenHeight / 2 - 300, frame.top);
    EXPECT_EQ(800, frame.right - frame.left);
    EXPECT_EQ(600, frame.bottom - frame.top);
    if (screenWidth == 1024 && screenHeight == 768) {
        EXPECT_EQ(112, frame.left);
        EXPECT_EQ(84, frame.top);
    }
    const LONG style = GetWindowLongA(background, GWL_STYLE);
    EXPECT_EQ(WS_CAPTION, style & WS_CAPTION);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_EQ(pkg::kTitle, WindowText(background));
    EXPECT_EQ(background, GetAncestor(wizard, GA_PARENT));
}

TEST_F(BackgroundTest, BorderlessBackgroundWithAZeroHeightCoversTheScreen) {
    ASSERT_TRUE(OpenBackground(kBorderless));
    RECT frame;
    ASSERT_TRUE(GetWindowRect(background, &frame));
    EXPECT_EQ(0, frame.left);
    EXPECT_EQ(0, frame.top);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), frame.right);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), frame.bottom);
    const LONG style = GetWindowLongA(background, GWL_STYLE);
    EXPECT_EQ(0, style & WS_CAPTION);
    EXPECT_EQ(0, style & WS_THICKFRAME);
    EXPECT_EQ(background, GetAncestor(wizard, GA_PARENT));
}

TEST_F(BackgroundTest, GradientRunsFromTheFillColourAtTheTopToTheEndColourAtTheBottom) {
    ASSERT_TRUE(OpenBackground(kBorderless));
    Sleep(kPaintMs);
    const RECT client = Client();
    ASSERT_TRUE(shot.Take());
    const int last = client.bottom - client.top - 1;
    for (int x : {5, static_cast<int>(client.right - client.left) - 6}) {
        EXPECT_TRUE(Near(shot.At(client.left + x, client.top), kGradientTop, 2)) << "top, x " << x;
        EXPECT_TRUE(Near(shot.At(client.left + x, client.top + last), kGradientBottom, 3)) << "bottom, x " << x;
        const Rgb middle = {(kGradientTop.red + kGradientBottom.red) / 2, (kGradientTop.green + kGradientBottom.green) / 2,
                            (kGradientTop.blue + kGradientBottom.blue) / 2};
        EXPECT_TRUE(Near(shot.At(client.left + x, client.top + last / 2), middle, 3)) << "middle, x " << x;
    }
}

TEST_F(BackgroundTest, FlatFillIsTheFillColourFromTopToBottom) {
    ASSERT_TRUE(OpenBackground(kFramed));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kShortcuts));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kSummary));  // a page without a picture
    Sleep(kPaintMs);
    const RECT client = Client();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    ASSERT_TRUE(shot.Take());
    for (const POINT& p : {POINT{5, 5}, POINT{width - 6, 5}, POINT{5, height - 1}, POINT{width - 6, height - 1},
                           POINT{50, 435}}) {
        EXPECT_EQ(kFill, shot.At(client.left + p.x, client.top + p.y)) << p.x << ", " << p.y;
    }
}

// Text and shadow are the same glyphs, the shadow 4 pixels right of and
// below the text and under it, so its fully covered pixels reach exactly 4
// pixels further right and down.
TEST_F(BackgroundTest, TextIsDrawnInsideTheMarginOverItsShadow) {
    ASSERT_TRUE(OpenBackground(kFramed));
    Sleep(kPaintMs);
    const RECT client = Client();
    ASSERT_TRUE(shot.Take());
    const RECT top = {client.left, client.top, client.right, client.top + 200};
    const Box text = shot.Find(top, kTextColour).box;
    const Box shadow = shot.Find(top, kShadowColour).box;
    ASSERT_FALSE(text.Empty()) << "no text in " << kTextColour;
    ASSERT_FALSE(shadow.Empty()) << "no shadow in " << kShadowColour;
    EXPECT_EQ(kShadowOffset, shadow.right - text.right);
    EXPECT_EQ(kShadowOffset, shadow.bottom - text.bottom);
    EXPECT_GE(text.left - client.left, kTextMargin);
    EXPECT_LT(text.left - client.left, kTextMargin + 10);
    EXPECT_GE(text.top - client.top, kTextMargin);
    EXPECT_LT(text.top - client.top, kTextMargin + 20);
}

// The text's fully covered pixels form the same shape as this process
// draws with the package's font file, and another shape than the font the
// system falls back to for an unknown face.
TEST_F(BackgroundTest, TextIsInThePackagesFont) {
    ASSERT_TRUE(OpenBackground(kFramed));
    Sleep(kPaintMs);
    const RECT client = Client();
    ASSERT_TRUE(shot.Take());
    const Ink seen = shot.Find({client.left, client.top, client.right, client.top + 200}, kTextColour);
    ASSERT_FALSE(seen.box.Empty());

    const Ink fallback = DrawnInk("KXNoSuchFace");  // before the face exists in this process
    const char* packages = std::getenv("KX_E2E_PACKAGES");
    const std::string font = std::string(packages ? packages : ".") + "\\background-font.ttf";
    ASSERT_GT(AddFontResourceExA(font.c_str(), FR_PRIVATE, nullptr), 0) << font;
    const Ink packaged = DrawnInk(kPackageFace);
    (void)RemoveFontResourceExA(font.c_str(), FR_PRIVATE, nullptr);  // this process ends soon anyway
    ASSERT_GT(ShapeDifference(packaged, fallback), 100u) << "the two fonts cannot be told apart";

    EXPECT_EQ(0u, ShapeDifference(seen, packaged))
        << "text " << seen.box.Width() << " x " << seen.box.Height() << ", package font " << packaged.box.Width()
        << " x " << packaged.box.Height() << ", fallback " << fallback.box.Width() << " x "
        << fallback.box.Height();
}

TEST_F(BackgroundTest, EachPagesPictureIsPlacedByItsMode) {
    ASSERT_TRUE(OpenBackground(kFramed));
    const RECT client = Client();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    auto at = [&](int x, int y) { return shot.At(client.left + x, client.top + y); };

    // Welcome, mode 2: at the record's 30, 420, in its own 40 x 30.
    Sleep(kPaintMs);
    ASSERT_TRUE(shot.Take());
    for (const POINT& p : {POINT{30, 420}, POINT{69, 420}, POINT{30, 449}, POINT{69, 449}}) {
        EXPECT_EQ(kWelcomeGreen, at(p.x, p.y)) << "mode 2 inside " << p.x << ", " << p.y;
    }
    for (const POINT& p : {POINT{29, 435}, POINT{70, 435}, POINT{50, 419}, POINT{50, 450}}) {
        EXPECT_EQ(kFill, at(p.x, p.y)) << "mode 2 outside " << p.x << ", " << p.y;
    }

    // License, mode 1: 700 x 20, centred; its left end shows beside the wizard.
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    Sleep(kPaintMs);
    ASSERT_TRUE(shot.Take());
    const int left = width / 2 - 350;
    const int top = height / 2 - 10;
    for (const POINT& p : {POINT{left, top}, POINT{left, top + 19}, POINT{left + 20, top + 10}}) {
        EXPECT_EQ(kLicenseMagenta, at(p.x, p.y)) << "mode 1 inside " << p.x << ", " << p.y;
    }
    for (const POINT& p : {POINT{left - 1, top + 10}, POINT{left + 20, top - 1}, POINT{left + 20, top + 20}}) {
        EXPECT_EQ(kFill, at(p.x, p.y)) << "mode 1 outside " << p.x << ", " << p.y;
    }
    EXPECT_EQ(kFill, at(30, 435)) << "the welcome picture is gone";

    // Installation Directory, mode 0: a 2 x 2 picture stretched over the client area.
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kFolder));
    Sleep(kPaintMs);
    ASSERT_TRUE(shot.Take());
    for (const POINT& p : {POINT{0, 0}, POINT{width - 1, 0}, POINT{0, height - 1}, POINT{width - 1, height - 1},
                           POINT{left - 1, top + 10}}) {
        EXPECT_EQ(kFolderCyan, at(p.x, p.y)) << "mode 0 " << p.x << ", " << p.y;
    }

    // Shortcuts, mode 7 (any other): top left, in its own 50 x 40.
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kShortcuts));
    Sleep(kPaintMs);
    ASSERT_TRUE(shot.Take());
    for (const POINT& p : {POINT{0, 0}, POINT{49, 0}, POINT{0, 39}, POINT{49, 15}}) {
        EXPECT_EQ(kShortcutsOrange, at(p.x, p.y)) << "other mode inside " << p.x << ", " << p.y;
    }
    for (const POINT& p : {POINT{50, 5}, POINT{5, 40}, POINT{width - 1, height - 1}}) {
        EXPECT_EQ(kFill, at(p.x, p.y)) << "other mode outside " << p.x << ", " << p.y;
    }
}

// Four pictures and 40 payload items: the second comes with the 10th item
// done, the third with the 20th, the fourth with the 30th. Files that exist
// already at items 10 and 11 (20 and 21, 30 and 31) make the worker stop and
// ask: at item 10's question 9 items are done, at item 11's 10.
TEST_F(BackgroundTest, SlideshowFollowsTheInstalledShareOfItems) {
    ASSERT_TRUE(OpenBackground(kSlideshow));
    ASSERT_TRUE(WalkToSummaryInto(TargetFolder()));
    ASSERT_TRUE(CreateDirectoryA(TargetFolder().c_str(), nullptr));
    for (int item : {10, 11, 20, 21, 30, 31}) {
        std::ofstream(TargetFolder() + "\\item" + std::to_string(item) + ".txt") << "there before\n";
    }
    Click(wizard, ctl::kNext);  // "Install"
    for (int shown = 0; shown < 3; ++shown) {
        const int item = 10 * (shown + 1);
        HWND before = WaitForOverwriteQuestion("item" + std::to_string(item) + ".txt");
        ASSERT_NE(before, nullptr) << "item " << item;
        // Three slideshow ticks: the picture has not moved on with item - 1 done.
        Sleep(kPaintMs);
        EXPECT_EQ(kSlides[shown], ClientPixel(10, 10)) << "with " << item - 1 << " items done";
        if (shown == 0) {
            // Closing the background while the wizard's worker asks is let go.
            Close(background);
            Sleep(kPaintMs);
            EXPECT_TRUE(IsWindowVisible(before));
            EXPECT_EQ(before, installer.FindDialog(DialogKind::kMessageBox));
        }
        Click(before, IDNO);
        ASSERT_NE(WaitForOverwriteQuestion("item" + std::to_string(item + 1) + ".txt"), nullptr);
        const bool moved = WaitUntil([&] { return ClientPixel(10, 10) == kSlides[shown + 1]; }, 3000, 50);
        EXPECT_TRUE(moved) << "with " << item << " items done: " << ClientPixel(10, 10) << ", expected "
                           << kSlides[shown + 1];
        Click(installer.FindDialog(DialogKind::kMessageBox), IDNO);
    }
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    Sleep(kPaintMs);
    EXPECT_EQ(kSlideshowFill, ClientPixel(10, 10)) << "the finished page has no picture";
    // On the finished page the background's close box ends the installer like the wizard's.
    Close(background);
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(BackgroundTest, ClosingTheFramedBackgroundBeforeInstallingEndsTheInstaller) {
    ASSERT_TRUE(OpenBackground(kFramed));
    ASSERT_TRUE(ClickTo(wizard, ctl::kNext, page::kLicense));
    Close(background);
    EXPECT_TRUE(EndsCleanly());
}

TEST_F(BackgroundTest, ClosingTheFramedBackgroundWhileInstallingAsksBeforeCancelling) {
    ASSERT_TRUE(OpenBackground(kBig));
    ASSERT_TRUE(WalkToSummaryInto(TargetFolder()));
    Click(wizard, ctl::kNext);  // "Install"
    ASSERT_TRUE(WaitUntil([&] { return ControlVisible(wizard, ctl::kCancel); }, kWaitMs, 1));
    Close(background);
    HWND question = WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ("Are you sure you wish to cancel the installation?", MessageText(question));
    EXPECT_TRUE(IsWindowVisible(background));
    Click(question, IDNO);  // go on installing
    ASSERT_TRUE(ShowsPage(wizard, page::kFinished));
    EXPECT_TRUE(PathExists(TargetFolder() + "\\data\\noise.bin"));
    EXPECT_TRUE(PathExists(TargetFolder() + "\\data\\filler.bin"));
    Close(background);
    EXPECT_TRUE(EndsCleanly());
}

}  // namespace
