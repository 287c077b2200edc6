#pragma once
// Decompressing an .xz stream held in part of one file into another file,
// through the platform's file calls, with progress and cancellation.

#include <cstdint>

#include "platform/Platform.h"

namespace xz {

// The largest dictionary a solid package may ask for: what the packer's
// strongest setting uses, and what the installer is prepared to allocate.
constexpr uint32_t kMaxSolidDictionary = 64u << 20;

enum class XzFileResult { ok, damaged, tooLarge, cancelled, readFailed, writeFailed };

// Both calls are optional and made on the decompressing thread. report gets
// the input bytes read so far, as each 256 KiB piece is read (the last call
// gives the whole length); cancelled is asked before every decoding step, at
// most 256 KiB of input or 1 MiB of output apart.
struct XzProgress {
    void (*report)(void* context, int64_t consumedInputBytes) = nullptr;
    bool (*cancelled)(void* context) = nullptr;
    void* context = nullptr;
};

// Decompresses the length bytes at start of in, which must be exactly one
// .xz stream, into out (written from out's current position). *written gets
// the bytes written, also on failure. damaged also for a stream cut short or
// followed by anything; tooLarge for a dictionary over maxDictionary.
XzFileResult DecompressXzFile(platform::FileHandle in, int64_t start, int64_t length, platform::FileHandle out,
                              uint32_t maxDictionary, const XzProgress& progress, int64_t* written);

}  // namespace xz
