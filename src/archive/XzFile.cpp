#include "archive/XzFile.h"

#include <memory>

#include "archive/XzDecoder.h"

namespace xz {
namespace {

constexpr uint32_t kInputPiece = 256u << 10;
constexpr uint32_t kOutputPiece = 1u << 20;

bool Cancelled(const XzProgress& progress) { return progress.cancelled != nullptr && progress.cancelled(progress.context); }

void Report(const XzProgress& progress, int64_t consumed) {
    if (progress.report != nullptr) progress.report(progress.context, consumed);
}

// The input piece by piece, from start to start + length.
struct InputPieces {
    platform::FileHandle file;
    int64_t next;
    int64_t end;
    std::unique_ptr<uint8_t[]> buffer{new uint8_t[kInputPiece]};
    size_t size = 0, pos = 0;

    bool AtEnd() const { return pos == size && next == end; }
    // Reads the next piece once the last one is used; false on a failed or short read.
    bool Refill() {
        if (pos < size || next == end) return true;
        const int64_t left = end - next;
        const uint32_t want = left < kInputPiece ? static_cast<uint32_t>(left) : kInputPiece;
        if (platform::ReadFileAt(file, next, buffer.get(), want) != want) return false;
        next += want;
        size = want;
        pos = 0;
        return true;
    }
};

}  // namespace

XzFileResult DecompressXzFile(platform::FileHandle in, int64_t start, int64_t length, platform::FileHandle out,
                              uint32_t maxDictionary, const XzProgress& progress, int64_t* written) {
    *written = 0;
    if (start < 0 || length < 0) return XzFileResult::readFailed;
    auto decoder = std::make_unique<XzDecoder>(maxDictionary);
    std::unique_ptr<uint8_t[]> output(new uint8_t[kOutputPiece]);
    InputPieces input{in, start, start + length};
    while (true) {
        const bool newPiece = input.pos == input.size && !input.AtEnd();
        if (!input.Refill()) return XzFileResult::readFailed;
        if (newPiece) Report(progress, input.next - start);
        if (Cancelled(progress)) return XzFileResult::cancelled;
        size_t consumed = 0, produced = 0;
        const XzStatus status = decoder->Decode(input.buffer.get() + input.pos, input.size - input.pos, &consumed,
                                                output.get(), kOutputPiece, &produced);
        input.pos += consumed;
        if (produced > 0) {
            if (!platform::WriteToFile(out, output.get(), static_cast<uint32_t>(produced))) return XzFileResult::writeFailed;
            *written += static_cast<int64_t>(produced);
        }
        if (status == XzStatus::damaged) return XzFileResult::damaged;
        if (status == XzStatus::tooLarge) return XzFileResult::tooLarge;
        if (status == XzStatus::streamEnd) return input.AtEnd() ? XzFileResult::ok : XzFileResult::damaged;
        // Nothing left to give and nothing more came out: the stream is cut short.
        if (input.AtEnd() && produced < kOutputPiece && consumed == 0) return XzFileResult::damaged;
    }
}

}  // namespace xz
