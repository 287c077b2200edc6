#include "wizard/Pictures.h"

#include <ole2.h>
#include <olectl.h>

#include "platform/Platform.h"
#include "wizard/BackgroundLayout.h"
#include "platform/WideText.h"

namespace {

// Reads the file into a movable memory block that the stream frees.
IStream* StreamFromFile(const std::string& path, DWORD* size) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    *size = GetFileSize(file, nullptr);
    HGLOBAL block = (*size != INVALID_FILE_SIZE && *size > 0) ? GlobalAlloc(GMEM_MOVEABLE, *size) : nullptr;
    bool read = false;
    if (block != nullptr) {
        void* data = GlobalLock(block);
        DWORD got = 0;
        read = data != nullptr && ReadFile(file, data, *size, &got, nullptr) && got == *size;
        GlobalUnlock(block);
    }
    CloseHandle(file);
    IStream* stream = nullptr;
    if (!read || FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        if (block != nullptr) GlobalFree(block);
        return nullptr;
    }
    return stream;
}

// The picture in the file; null when it cannot be read or decoded.
IPicture* DecodePicture(const std::string& path) {
    IPicture* decoded = nullptr;
    DWORD size = 0;
    if (IStream* stream = StreamFromFile(path, &size)) {
        if (FAILED(OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                  reinterpret_cast<void**>(&decoded)))) {
            decoded = nullptr;
        }
        stream->Release();
    }
    return decoded;
}

}  // namespace

void LoadPictureFromFile(InstallerState& state, const std::string& path, void** target) {
    IPicture* decoded = DecodePicture(path);
    IPicture* old = nullptr;
    {
        std::lock_guard<platform::Lock> hold(state.pictureLock);
        old = static_cast<IPicture*>(*target);
        *target = decoded;
    }
    if (old != nullptr) old->Release();
}

void RenderPicture(InstallerState& state, void* const* picture, HDC dc, const RECT& destination, const RECT& bounds) {
    std::lock_guard<platform::Lock> hold(state.pictureLock);
    IPicture* drawn = static_cast<IPicture*>(*picture);
    if (drawn == nullptr) return;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    drawn->get_Width(&width);
    drawn->get_Height(&height);
    drawn->Render(dc, destination.left, destination.top, destination.right - destination.left,
                  destination.bottom - destination.top, 0, height, width, -height, &bounds);
}

void ShowBackgroundRecord(InstallerState& state, int32_t record, int32_t page) {
    const bool inTable = record >= 0 && record < kMaxBackgroundRecords;
    const std::string path = inTable ? state.backgroundRecords[record].path : std::string();
    const bool present = !path.empty() && platform::PathExists(path.c_str());
    IPicture* decoded = present ? DecodePicture(path) : nullptr;  // slow: outside the lock
    IPicture* old = decoded;  // dropped unless it goes up
    {
        std::lock_guard<platform::Lock> hold(state.pictureLock);
        if (state.currentPage.load() == page) {
            state.currentBackgroundRecord = record;
            state.backgroundImageMissing = !present;
            old = present ? static_cast<IPicture*>(state.backgroundPicture) : nullptr;
            if (present) state.backgroundPicture = decoded;
        }
    }
    if (old != nullptr) old->Release();
}

void RenderBackgroundPicture(InstallerState& state, HDC dc, const RECT& client) {
    std::lock_guard<platform::Lock> hold(state.pictureLock);
    IPicture* picture = static_cast<IPicture*>(state.backgroundPicture);
    const int32_t record = state.currentBackgroundRecord;
    if (picture == nullptr || state.backgroundImageMissing || record < 0 || record >= kMaxBackgroundRecords) return;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    const int32_t pixelWidth = HimetricToPixels(width, GetDeviceCaps(dc, LOGPIXELSX));
    const int32_t pixelHeight = HimetricToPixels(height, GetDeviceCaps(dc, LOGPIXELSY));
    const PixelRect place =
        PlacePicture(state.backgroundRecords[record], client.right, client.bottom, pixelWidth, pixelHeight);
    picture->Render(dc, place.x, place.y, place.width, place.height, 0, height, width, -height, &client);
}
