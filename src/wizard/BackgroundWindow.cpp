#include "wizard/BackgroundWindow.h"

#include <windows.h>

#include <string>

#include "resources/ResourceIds.h"
#include "state/TheInstaller.h"
#include "wizard/BackgroundLayout.h"
#include "wizard/Pictures.h"
#include "platform/WideText.h"

namespace {

void (*loadingCompleteNotice)() = nullptr;

constexpr int kTextMargin = 20;

using GradientFillFunction = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);

// msimg32 is not a known DLL, so a bare name would also be looked for in the
// installer's own folder: it is loaded by its full path in the system folder.
// Never freed: the background paints until the process ends. Null when the
// library or the call is missing, and the fill is then flat.
GradientFillFunction LoadGradientFill() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\msimg32.dll";
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) return nullptr;
    return reinterpret_cast<GradientFillFunction>(reinterpret_cast<void*>(GetProcAddress(library, "GradientFill")));
}

// Resolved once, on first use; only the background's thread paints.
GradientFillFunction GradientFillEntry() {
    static const GradientFillFunction entry = LoadGradientFill();
    return entry;
}

// A vertex colour channel carries the 8-bit channel in its high byte.
TRIVERTEX Vertex(LONG x, LONG y, Colour colour) {
    TRIVERTEX vertex = {};
    vertex.x = x;
    vertex.y = y;
    vertex.Red = static_cast<COLOR16>(GetRValue(colour) << 8);
    vertex.Green = static_cast<COLOR16>(GetGValue(colour) << 8);
    vertex.Blue = static_cast<COLOR16>(GetBValue(colour) << 8);
    return vertex;
}

bool FillGradient(HDC dc, const RECT& area, Colour top, Colour bottom) {
    const GradientFillFunction gradientFill = GradientFillEntry();
    if (gradientFill == nullptr) return false;
    TRIVERTEX vertices[2] = {Vertex(area.left, area.top, top), Vertex(area.right, area.bottom, bottom)};
    GRADIENT_RECT rectangle = {0, 1};
    return gradientFill(dc, vertices, 2, &rectangle, 1, GRADIENT_FILL_RECT_V) != FALSE;
}

void FillSolid(HDC dc, const RECT& area, Colour colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

void PaintFill(HDC dc, const RECT& client) {
    const InstallerState& state = theInstaller;
    if (state.gradientEnabled && FillGradient(dc, client, state.backgroundColour, state.gradientEndColour)) return;
    FillSolid(dc, client, state.backgroundColour);
}

// DT_MODIFYSTRING would write into the text; it changes nothing drawn.
void DrawBackgroundText(HDC dc, RECT area) {
    const InstallerState& state = theInstaller;
    const UINT format = state.textFormat & ~static_cast<UINT>(DT_MODIFYSTRING);
    std::wstring text = Widen(state.backgroundText);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, format);
}

// The shadow, when there is one, lies shadowOffset pixels right of and below
// the text, and is drawn first so the text covers it.
void PaintText(HDC dc, const RECT& client) {
    const InstallerState& state = theInstaller;
    RECT text = client;
    InflateRect(&text, -kTextMargin, -kTextMargin);
    RECT shadow = text;
    OffsetRect(&shadow, state.shadowOffset, state.shadowOffset);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previousFont = state.backgroundFont ? SelectObject(dc, static_cast<HFONT>(state.backgroundFont)) : nullptr;
    if (state.shadowEnabled) {
        SetTextColor(dc, state.shadowColour);
        DrawBackgroundText(dc, shadow);
    }
    SetTextColor(dc, state.textColour);
    DrawBackgroundText(dc, text);
    if (previousFont != nullptr) SelectObject(dc, previousFont);
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    PaintFill(dc, client);
    RenderBackgroundPicture(theInstaller, dc, client);
    PaintText(dc, client);
    EndPaint(window, &paint);
}

void PlaceWindow(HWND window) {
    const InstallerState& state = theInstaller;
    const WindowPlacement placement = PlaceBackgroundWindow(state.backgroundWidth, state.backgroundHeight,
                                                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const PixelRect& rect = placement.rect;
    SetWindowPos(window, HWND_TOP, rect.x, rect.y, rect.width, rect.height, placement.keepPosition ? SWP_NOMOVE : 0);
}

// The wizard waits for loadingComplete, and finds the background through
// backgroundWindow, which is therefore set first.
void OnInitDialog(HWND window) {
    InstallerState& state = theInstaller;
    state.backgroundWindow = window;
    state.loadingComplete.store(true, std::memory_order_release);
    loadingCompleteNotice();
    PlaceWindow(window);
    HICON icon = LoadIconW(static_cast<HINSTANCE>(state.instance), MAKEINTRESOURCEW(IDI_SETUP));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetWindowTextW(window, Widen(TitleText(state)).c_str());
    UpdateWindow(window);
}

// The dialog inside the background that a close is meant for: the wizard,
// or the progress window while it stands in for the hidden wizard. Null
// when neither is up or it is busy with a question of its own.
HWND ActiveInnerDialog(HWND background) {
    for (HWND child = FindWindowExW(background, nullptr, L"#32770", nullptr); child != nullptr;
         child = FindWindowExW(background, child, L"#32770", nullptr)) {
        if (IsWindowVisible(child) && IsWindowEnabled(child)) return child;
    }
    return nullptr;
}

// Closing the background closes what runs inside it, as that window's own
// close box would: the wizard ends, and with it the process and this
// window, or, while files are placed, the cancel question comes up. Before
// the wizard has opened, and while it asks something, the close is let go:
// ending the background alone would leave a wizard without its frame.
void OnClose(HWND background) {
    HWND inner = ActiveInnerDialog(background);
    if (inner != nullptr) PostMessageW(inner, WM_CLOSE, 0, 0);  // posted: the wizard's thread may ask a question
}

INT_PTR CALLBACK BackgroundDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(window); break;
    case WM_PAINT: OnPaint(window); break;
    case WM_CLOSE: OnClose(window); break;
    }
    return FALSE;
}

}  // namespace

void RunBackgroundWindow(void (*notifyLoadingComplete)()) {
    loadingCompleteNotice = notifyLoadingComplete;
    InstallerState& state = theInstaller;
    const int dialog = state.borderlessBackground ? IDD_BACKGROUND_BORDERLESS : IDD_BACKGROUND_FRAMED;
    DialogBoxParamW(static_cast<HINSTANCE>(state.instance), MAKEINTRESOURCEW(dialog), nullptr, BackgroundDialogProc,
                    0);
    state.loadingComplete.store(true, std::memory_order_release);  // a background that never opened holds nothing up
    loadingCompleteNotice();
}
