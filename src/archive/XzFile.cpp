// Stand-in until the stub's own decoder arrives: the host decodes with the
// system's liblzma, the Windows build decodes nothing and calls every stream
// damaged. Same contract as XzFile.h.
#include "archive/XzFile.h"

#include <memory>

#ifndef _WIN32
#include <lzma.h>
#endif

namespace xz {

#ifdef _WIN32

XzFileResult DecompressXzFile(platform::FileHandle, int64_t, int64_t, platform::FileHandle, uint32_t,
                              const XzProgress&, int64_t* written) {
    *written = 0;
    return XzFileResult::damaged;
}

#else

namespace {

constexpr uint32_t kBufferSize = 1 << 20;

struct LzmaEnd {
    lzma_stream* stream;
    ~LzmaEnd() { lzma_end(stream); }
};

}  // namespace

XzFileResult DecompressXzFile(platform::FileHandle in, int64_t start, int64_t length, platform::FileHandle out,
                              uint32_t maxDictionary, const XzProgress& progress, int64_t* written) {
    *written = 0;
    lzma_stream stream = LZMA_STREAM_INIT;
    // The decoder's memory is about the dictionary and a few MiB more.
    if (lzma_stream_decoder(&stream, static_cast<uint64_t>(maxDictionary) + (16u << 20), 0) != LZMA_OK) {
        return XzFileResult::tooLarge;
    }
    LzmaEnd end{&stream};
    std::unique_ptr<uint8_t[]> input(new uint8_t[kBufferSize]);
    std::unique_ptr<uint8_t[]> output(new uint8_t[kBufferSize]);
    int64_t consumed = 0;
    for (;;) {
        if (progress.cancelled != nullptr && progress.cancelled(progress.context)) return XzFileResult::cancelled;
        lzma_action action = LZMA_RUN;
        if (stream.avail_in == 0 && consumed < length) {
            const uint32_t want = static_cast<uint32_t>(length - consumed < kBufferSize ? length - consumed : kBufferSize);
            if (platform::ReadFileAt(in, start + consumed, input.get(), want) != want) return XzFileResult::readFailed;
            stream.next_in = input.get();
            stream.avail_in = want;
            consumed += want;
            if (progress.report != nullptr) progress.report(progress.context, consumed);
        }
        if (stream.avail_in == 0 && consumed == length) action = LZMA_FINISH;
        stream.next_out = output.get();
        stream.avail_out = kBufferSize;
        const lzma_ret ret = lzma_code(&stream, action);
        const uint32_t produced = kBufferSize - static_cast<uint32_t>(stream.avail_out);
        if (produced > 0 && !platform::WriteToFile(out, output.get(), produced)) return XzFileResult::writeFailed;
        *written += produced;
        if (ret == LZMA_STREAM_END) return stream.avail_in == 0 && consumed == length ? XzFileResult::ok : XzFileResult::damaged;
        if (ret == LZMA_MEMLIMIT_ERROR) return XzFileResult::tooLarge;
        if (ret != LZMA_OK) return XzFileResult::damaged;
    }
}

#endif

}  // namespace xz
