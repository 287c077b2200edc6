#pragma once
// CRC-64 with the ECMA-182 polynomial in its reflected form, as .xz blocks
// carry it: the check value of "123456789" is 0x995DC9BBDF1939FA.

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over size bytes of data.
uint64_t UpdateCrc64(uint64_t crc, const void* data, size_t size);
