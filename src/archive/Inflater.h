#pragma once
// Raw deflate decoding, the ZIP items' method 8: Huffman tables of two
// levels, a 32 KiB history, and the output handed out in pieces as it is
// made. Pull style: it asks for compressed bytes when it has used what it
// has, so one call decodes one whole item in bounded memory.

#include <cstdint>
#include <memory>

enum class InflateResult {
    Ok,           // the stream ended, or the output wanted is all out
    Damaged,      // the data breaks the format, or ends before the stream
    ReadFailed,
    WriteFailed,
};

// Fills buffer with up to size compressed bytes: how many, 0 when there are
// none left, negative when they could not be read.
struct InflateInput {
    int64_t (*read)(void* context, unsigned char* buffer, uint32_t size);
    void* context;
};

// Takes the next piece of output; false when it could not be kept.
struct InflateOutput {
    bool (*write)(void* context, const unsigned char* data, uint32_t size);
    void* context;
};

// The buffers and tables, kept from one item to the next: setting them up
// costs more than a small file's data.
struct Inflater;
struct InflaterDeleter {
    void operator()(Inflater* inflater) const;
};
using InflaterPointer = std::unique_ptr<Inflater, InflaterDeleter>;

// Null when there is no memory for it.
InflaterPointer NewInflater();

// Decodes one raw deflate stream until its last block ends or outputSize
// bytes are out, whichever comes first; *produced says how many came out.
InflateResult Inflate(Inflater* inflater, const InflateInput& input, const InflateOutput& output, uint32_t outputSize,
                      uint32_t* produced);
