#include "TestSupport.h"
#include "archive/Crc32.h"

namespace {

uint32_t ZlibCrc(uint32_t crc, const unsigned char* data, size_t size) {
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

// Every length around the 64-byte blocks, every alignment, continued from
// other values: the same results as zlib, whichever path is taken here.
TEST(Crc32, MatchesZlibForEveryLengthAlignmentAndStartValue) {
    const Bytes data = PatternBytes(70000, 11);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t size : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(127), size_t(128),
                            size_t(200), size_t(1000), size_t(4096), size_t(65536 + 17)}) {
            for (uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
                ASSERT_EQ(ZlibCrc(start, data.data() + offset, size), UpdateCrc32(start, data.data() + offset, size))
                    << "offset " << offset << ", size " << size << ", start " << start;
            }
        }
    }
    // Pieces continue one another.
    const uint32_t whole = UpdateCrc32(0, data.data(), data.size());
    EXPECT_EQ(whole, UpdateCrc32(UpdateCrc32(0, data.data(), 1000), data.data() + 1000, data.size() - 1000));
    EXPECT_EQ(0xCBF43926u, UpdateCrc32(0, "123456789", 9));  // the check value of CRC-32
    std::printf("CRC-32 folding with carry-less multiplication: %s\n", Crc32UsesFolding() ? "used" : "not available");
}

}  // namespace
