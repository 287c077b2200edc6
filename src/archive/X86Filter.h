#pragma once
// The x86 branch filter's decoding side: the encoder turned the relative
// targets of CALL (E8) and JMP (E9) instructions into absolute ones, which
// compress better; this turns them back.

#include <cstddef>
#include <cstdint>

namespace xz {

class X86Filter {
public:
    // startOffset: the position the filtered data starts at (the filter's
    // optional property).
    void Start(uint32_t startOffset);
    // Converts data[0, size) in place and returns how many bytes are done; the
    // rest (at most four, an instruction that may continue beyond size) must
    // be given again at the start of the next call. At the end of the data
    // those last bytes stay as they are.
    size_t Convert(uint8_t* data, size_t size);

private:
    uint32_t position_ = 0;      // of data[0] in the stream
    uint32_t previousMask_ = 0;  // which of the last bytes before an opcode were E8/E9
    uint32_t previousPosition_ = 0;
};

}  // namespace xz
