#pragma once
// CRC-32 with the ZIP/zlib polynomial, the same values as zlib's crc32(),
// folded with carry-less multiplication where the processor has it (512-bit
// where the processor and the system support it, else 128-bit): several
// times faster than the table, so that checking a whole package costs next
// to nothing beside copying it.

#include <cstddef>
#include <cstdint>

// Continues crc (0 to start) over size bytes of data.
uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size);

// Whether UpdateCrc32 uses the carry-less multiplication path here.
bool Crc32UsesFolding();
