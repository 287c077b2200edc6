#include "SolidArchive.h"

#include <fcntl.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"
#include "archive/XzFile.h"

namespace kxpack {
namespace {

constexpr uint32_t kSmallestDictionary = 4096;
constexpr size_t kBufferSize = 1 << 20;
constexpr uint32_t kPeHeaderOffsetField = 0x3C;
constexpr uint16_t kMachineI386 = 0x14c;
constexpr uint16_t kMachineAmd64 = 0x8664;

std::string ExtensionOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension;
}

std::string BaseName(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool ReadAt(int fd, off_t offset, unsigned char* buffer, size_t size) {
    return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Owns the two files and the encoder of one compression.
struct Compression {
    int in = -1;
    int out = -1;
    lzma_stream stream = LZMA_STREAM_INIT;
    ~Compression() {
        lzma_end(&stream);
        if (in >= 0) close(in);
        if (out >= 0) close(out);
    }
};

bool StartEncoder(lzma_stream* stream, uint32_t dictionary) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME)) return false;
    options.dict_size = dictionary;
    lzma_filter filters[] = {
        {LZMA_FILTER_X86, nullptr},
        {LZMA_FILTER_LZMA2, &options},
        {LZMA_VLI_UNKNOWN, nullptr},
    };
    return lzma_stream_encoder(stream, filters, LZMA_CHECK_CRC64) == LZMA_OK;
}

// Runs the encoder over the whole input; *crc gets the CRC-32 of its output.
bool Encode(Compression& c, uLong* crc) {
    std::unique_ptr<uint8_t[]> input(new uint8_t[kBufferSize]);
    std::unique_ptr<uint8_t[]> output(new uint8_t[kBufferSize]);
    bool inputEnded = false;
    for (;;) {
        if (c.stream.avail_in == 0 && !inputEnded) {
            const ssize_t got = read(c.in, input.get(), kBufferSize);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            inputEnded = got == 0;
            c.stream.next_in = input.get();
            c.stream.avail_in = static_cast<size_t>(got);
        }
        c.stream.next_out = output.get();
        c.stream.avail_out = kBufferSize;
        const lzma_ret ret = lzma_code(&c.stream, inputEnded ? LZMA_FINISH : LZMA_RUN);
        const size_t produced = kBufferSize - c.stream.avail_out;
        if (!WriteAll(c.out, output.get(), produced)) return false;
        *crc = crc32(*crc, output.get(), static_cast<uInt>(produced));
        if (ret == LZMA_STREAM_END) return true;
        if (ret != LZMA_OK) return false;
    }
}

}  // namespace

bool IsX86Executable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char dos[kPeHeaderOffsetField + 4];
    unsigned char pe[6];
    bool is = ReadAt(fd, 0, dos, sizeof dos) && dos[0] == 'M' && dos[1] == 'Z' &&
              ReadAt(fd, package::ReadLe32(dos + kPeHeaderOffsetField), pe, sizeof pe) &&
              std::memcmp(pe, "PE\0\0", 4) == 0;
    close(fd);
    const uint16_t machine = is ? package::ReadLe16(pe + 4) : 0;
    return machine == kMachineI386 || machine == kMachineAmd64;
}

std::vector<PackageEntry> SolidOrder(const std::vector<PackageEntry>& entries) {
    std::vector<PackageEntry> ordered;
    struct File {
        bool executable;
        std::string extension;
        std::string base;
        const PackageEntry* entry;
    };
    std::vector<File> files;
    for (const PackageEntry& entry : entries) {
        if (entry.isControl || entry.isFolder) {
            ordered.push_back(entry);
        } else {
            files.push_back({IsX86Executable(entry.path), ExtensionOf(entry.name), BaseName(entry.name), &entry});
        }
    }
    std::sort(files.begin(), files.end(), [](const File& a, const File& b) {
        if (a.executable != b.executable) return a.executable;
        if (a.extension != b.extension) return a.extension < b.extension;
        if (a.base != b.base) return a.base < b.base;
        return a.entry->name < b.entry->name;
    });
    for (const File& file : files) ordered.push_back(*file.entry);
    return ordered;
}

uint32_t SolidDictionarySize(int64_t zipSize) {
    uint32_t size = kSmallestDictionary;
    while (size < xz::kMaxSolidDictionary && size < zipSize) size *= 2;
    return size;
}

bool WriteSolidArchive(const std::string& zipPath, const std::string& solidPath, std::string* error) {
    Compression c;
    c.in = open(zipPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (c.in < 0) {
        *error = "cannot open " + zipPath + ": " + std::strerror(errno);
        return false;
    }
    const off_t zipSize = lseek(c.in, 0, SEEK_END);
    if (zipSize < 0 || lseek(c.in, 0, SEEK_SET) != 0) {
        *error = "cannot read " + zipPath + ": " + std::strerror(errno);
        return false;
    }
    c.out = open(solidPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (c.out < 0) {
        *error = "cannot create " + solidPath + ": " + std::strerror(errno);
        return false;
    }
    if (!StartEncoder(&c.stream, SolidDictionarySize(zipSize))) {
        *error = "cannot start the LZMA2 encoder";
        return false;
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    if (!Encode(c, &crc)) {
        *error = "cannot compress " + zipPath + " into " + solidPath;
        return false;
    }
    char record[package::kIntegrityCommentLength + 1];
    std::snprintf(record, sizeof record, "%s%08X", package::kIntegrityPrefix, static_cast<unsigned>(crc));
    if (!WriteAll(c.out, reinterpret_cast<const uint8_t*>(record), package::kIntegrityCommentLength) ||
        fsync(c.out) != 0) {
        *error = "cannot write " + solidPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace kxpack
