#pragma once
// Helpers for the unit tests: a scratch folder per test, file helpers, and a
// ZIP writer whose every header field can be set, so that tests can build
// both good archives and hostile variants of them.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "common/RemoveFolderTree.h"
#include "state/Workspace.h"

using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The product builds paths with "\\" on every system; the host's streams need "/".
inline std::string HostPath(std::string path) {
#ifndef _WIN32
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
#endif
    return path;
}

// Through the platform layer, so that UTF-8 names work on Windows too.
inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* out = platform::OpenStream(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

inline Bytes ReadBytes(const std::string& path) {
    Bytes bytes;
    std::FILE* in = platform::OpenStream(path.c_str(), "rb");
    if (in == nullptr) return bytes;
    unsigned char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(in);
    return bytes;
}

// The archive copy as the installer holds it: read beside its handle.
inline Bytes ReadArchiveCopy() {
    Bytes bytes;
    platform::UniqueFile in(platform::OpenHeldFileForReading(ArchiveCopyPath().c_str()));
    if (!in.IsOpen()) return bytes;
    unsigned char chunk[65536];
    for (int64_t got; (got = platform::ReadFileAt(in.Get(), static_cast<int64_t>(bytes.size()), chunk, sizeof chunk)) > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

inline std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Deterministic bytes that compress somewhat.
inline Bytes PatternBytes(size_t size, uint32_t seed = 1) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = (i % 3 == 0) ? static_cast<unsigned char>('a' + (i / 7) % 26) : static_cast<unsigned char>(x >> 24);
    }
    return bytes;
}

// A fresh folder under the temporary folder, removed after the test. The
// process's temporary folder is pointed at it, so workspace paths land here.
class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string Path(const std::string& name) const { return folder_ + name; }
    const std::string& Folder() const { return folder_; }  // ends with a separator

private:
    std::string folder_;
    std::string savedTemp_;
};

struct ZipItem {
    std::string name;
    Bytes data;
    uint16_t method = 8;  // 0 stored, 8 deflated
    uint16_t versionMadeBy = 0x0314;  // host 3 (Unix)
    uint32_t externalAttributes = 0100644u << 16;
    uint16_t flags = 0;
    uint32_t dosTime = (6u << 11) | (30u << 5) | 5;                  // 06:30:10
    uint32_t dosDate = ((2021u - 1980u) << 9) | (3u << 5) | 14u;      // 2021-03-14
    Bytes localExtra;
    Bytes centralExtra;
    // Overrides for hostile variants; -1 keeps the computed value.
    int64_t centralCrc = -1;
    int64_t localCrc = -1;
    int64_t localMethod = -1;
    int64_t localNameLength = -1;
    int64_t uncompressedSizeField = -1;
    int64_t compressedSizeField = -1;
};

// A "UT" extra block with the given flag and times in order.
inline Bytes ExtendedTimestamp(uint8_t flags, const std::vector<int32_t>& times) {
    Bytes block = {'U', 'T', 0, 0, flags};
    for (int32_t t : times) {
        for (int i = 0; i < 4; ++i) block.push_back(static_cast<unsigned char>(static_cast<uint32_t>(t) >> (8 * i)));
    }
    const uint16_t size = static_cast<uint16_t>(block.size() - 4);
    block[2] = static_cast<unsigned char>(size);
    block[3] = static_cast<unsigned char>(size >> 8);
    return block;
}

struct ZipOptions {
    Bytes prefix;          // bytes in front of the archive (a stub)
    std::string comment;   // end record comment
    int64_t thisDisk = 0;  // end record overrides
    int64_t entriesOnDiskDelta = 0;
};

Bytes BuildZip(const std::vector<ZipItem>& items, const ZipOptions& options = ZipOptions());

// A folder entry as ZIP writers store it.
inline ZipItem FolderItem(const std::string& name) {
    ZipItem item;
    item.name = name;
    item.method = 0;
    item.externalAttributes = (040755u << 16) | 0x10;
    return item;
}

inline ZipItem FileItem(const std::string& name, const std::string& text, uint16_t method = 8) {
    ZipItem item;
    item.name = name;
    item.data = ToBytes(text);
    item.method = method;
    return item;
}

// FILETIME of a UTC calendar time, computed independently of the code under test.
uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second);
inline uint64_t UnixToFileTime(int64_t seconds) {
    return static_cast<uint64_t>((seconds + 11644473600LL) * 10000000LL);
}

// Last write time of a file as a FILETIME value, 0 when unreadable.
uint64_t WriteTimeOf(const std::string& path);
