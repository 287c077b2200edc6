#pragma once
// The one process-wide record of the installer's settings, texts, paths and
// flags. Every field starts empty, zero, false or null. Each field has one
// writer; the flags that cross threads are one-byte atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

constexpr int kImageSlotCount = 20;
constexpr int kMaxBackgroundRecords = 1024;
// Wizard page N - 1 shows the pictures of page key N; key 6 is the
// "Installing..." page, whose pictures form the slideshow.
constexpr int32_t kSlideshowPageKey = 6;

struct BackgroundRecord {
    int32_t placementMode = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t pageKey = 0;  // 1 to 9, or 10
    std::string path;     // the extracted picture
};

struct InstallerState {
    // Start-up and loader hand-over.
    std::atomic<bool> cancelLoading{false};  // main thread -> loader
    std::atomic<bool> loaderStopped{false};  // loader -> main thread, after its files are closed
    std::atomic<bool> loadingComplete{false};

    // Package contents, filled while the control folder is extracted.
    std::array<std::string, kImageSlotCount> imageSlots;
    std::array<BackgroundRecord, kMaxBackgroundRecords> backgroundRecords;
    int32_t backgroundRecordCount = 0;
    int32_t slideshowRecordCount = 0;
    int32_t payloadItemCount = 0;
    int64_t payloadBytes = 0;
    int32_t neededMegabytes = 0;
};
