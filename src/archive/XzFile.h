#pragma once
// Decompresses an .xz stream held in a file region into another file.

#include <cstdint>

#include "platform/Platform.h"

namespace xz {

constexpr uint32_t kMaxSolidDictionary = 64u << 20;

enum class XzFileResult { ok, damaged, tooLarge, cancelled, readFailed, writeFailed };

struct XzProgress {
    void (*report)(void* context, int64_t consumedInputBytes) = nullptr;
    bool (*cancelled)(void* context) = nullptr;
    void* context = nullptr;
};

// Decompresses the length bytes at start of in into out (written from out's current position).
XzFileResult DecompressXzFile(platform::FileHandle in, int64_t start, int64_t length, platform::FileHandle out,
                              uint32_t maxDictionary, const XzProgress& progress, int64_t* written);

}  // namespace xz
