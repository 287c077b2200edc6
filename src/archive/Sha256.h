#pragma once
// SHA-256, for the blocks of .xz streams that carry it as their check.

#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    Sha256() { Reset(); }
    void Reset();
    void Update(const void* data, size_t size);
    // The 32-byte digest; the object must be Reset before it is used again.
    void Finish(uint8_t digest[32]);

private:
    void Compress(const uint8_t* block);

    uint32_t state_[8];
    uint8_t block_[64];
    uint64_t length_ = 0;  // bytes so far
};
