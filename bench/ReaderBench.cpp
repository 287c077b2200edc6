// Measures how fast the archive reader extracts, next to a floor: the same
// archive inflated with plain zlib through the same 16 KB buffers and written
// with plain POSIX calls. Both run alternately in one process on payloads
// generated from fixed seeds, so the ratio compares like with like.
//
// Usage: kx_reader_bench <scratch folder> [repetitions]
// Everything the bench writes under the scratch folder is removed before exit.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"

#ifndef KX_BENCH_BUILD_TYPE
#define KX_BENCH_BUILD_TYPE "unknown"
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kIoBufferSize = 16384;  // the reader's own buffer size
constexpr size_t kGeneratorChunk = 65536;
constexpr int kDefaultRepetitions = 7;

constexpr int kSmallFileCount = 5000;
constexpr uint32_t kSmallFileMin = 1024;
constexpr uint32_t kSmallFileMax = 16384;
constexpr int kLargeFileCount = 4;
constexpr uint64_t kLargeFileSize = 64ull << 20;  // four of them make 256 MiB

// ------------------------------------------------------------ content

// splitmix64: small, fast, and the same stream on every compiler.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

private:
    uint64_t state_;
};

enum class Content { Text, Noise };

const char* const kWords[] = {
    "install", "setup",   "folder", "the",      "of",       "file",    "archive", "version",
    "user",    "program", "data",   "config",   "value",    "=",       "true",    "false",
    "window",  "license", "update", "component", "path",    "system",  "default", "option",
    "and",     "to",      "in",     "is",       "for",      "with",    "resource", "string",
    "icon",    "dialog",  "shortcut", "registry", "key",    "section", "<entry>", "</entry>",
};
constexpr uint32_t kWordCount = sizeof kWords / sizeof kWords[0];

// Produces one file's bytes chunk by chunk from its own seed: words and
// numbers in lines (compresses about like program text) or uniform noise.
class ContentSource {
public:
    ContentSource(Content kind, uint64_t size, uint64_t seed) : kind_(kind), remaining_(size), random_(seed) {}

    // Fills up to capacity bytes; returns how many, 0 at the end.
    size_t Produce(unsigned char* out, size_t capacity) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(capacity, remaining_));
        if (kind_ == Content::Text) {
            FillText(out, n);
        } else {
            FillNoise(out, n);
        }
        remaining_ -= n;
        return n;
    }

private:
    void FillNoise(unsigned char* out, size_t n) {
        for (size_t at = 0; at < n; at += 8) {
            const uint64_t r = random_.Next();
            std::memcpy(out + at, &r, std::min<size_t>(8, n - at));
        }
    }

    void FillText(unsigned char* out, size_t n) {
        size_t at = 0;
        while (at < n) {
            const uint64_t r = random_.Next();
            char piece[32];
            size_t length = 0;
            if ((r >> 40) % 9 == 0) {
                length = static_cast<size_t>(
                    std::snprintf(piece, sizeof piece, "%u ", static_cast<unsigned>((r >> 20) % 100000)));
            } else {
                const char* word = kWords[r % kWordCount];
                length = std::strlen(word);
                std::memcpy(piece, word, length);
                piece[length++] = (r >> 32) % 11 == 0 ? '\n' : ' ';
            }
            const size_t take = std::min(n - at, length);
            std::memcpy(out + at, piece, take);
            at += take;
        }
    }

    Content kind_;
    uint64_t remaining_;
    Random random_;
};

struct PlannedFile {
    std::string name;
    Content kind = Content::Text;
    uint64_t size = 0;
    uint64_t seed = 0;
};

// One to three levels of folders out of six names each.
std::string RandomFolder(Random& random) {
    const uint32_t depth = 1 + random.Below(3);
    std::string folder;
    for (uint32_t level = 0; level < depth; ++level) folder += "dir" + std::to_string(random.Below(6)) + "/";
    return folder;
}

std::vector<PlannedFile> PlanSmallFiles() {
    Random random(0x5EED0001);
    std::vector<PlannedFile> files;
    for (int i = 0; i < kSmallFileCount; ++i) {
        PlannedFile file;
        file.kind = random.Below(3) == 0 ? Content::Noise : Content::Text;
        const char* extension = file.kind == Content::Text ? ".txt" : ".bin";
        file.name = RandomFolder(random) + "file" + std::to_string(i) + extension;
        file.size = kSmallFileMin + random.Below(kSmallFileMax - kSmallFileMin + 1);
        file.seed = random.Next();
        files.push_back(file);
    }
    // A packer walks the tree, so items of one folder sit together.
    std::sort(files.begin(), files.end(),
              [](const PlannedFile& a, const PlannedFile& b) { return a.name < b.name; });
    return files;
}

std::vector<PlannedFile> PlanLargeFiles() {
    std::vector<PlannedFile> files;
    for (int i = 0; i < kLargeFileCount; ++i) {
        PlannedFile file;
        file.kind = i % 2 == 0 ? Content::Text : Content::Noise;
        const char* stem = file.kind == Content::Text ? "media/text" : "media/noise";
        file.name = stem + std::to_string(i) + ".dat";
        file.size = kLargeFileSize;
        file.seed = 0x5EED1000 + static_cast<uint64_t>(i);
        files.push_back(file);
    }
    return files;
}

// ------------------------------------------------------------ archive writing

// What the writer knows about an item; the floor reads from dataOffset and
// the output check compares against crc and uncompressedSize.
struct ItemRecord {
    std::string name;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t headerOffset = 0;
    uint64_t dataOffset = 0;
};

constexpr uint16_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
constexpr uint16_t kDosTime = 12 << 11;
constexpr uint32_t kAttributeArchive = 0x20;

void PutLe16(std::string* out, uint16_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>(value >> 8));
}

void PutLe32(std::string* out, uint32_t value) {
    PutLe16(out, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(out, static_cast<uint16_t>(value >> 16));
}

// The fields local and central headers share, from "version needed" to the
// name and extra lengths.
void PutCommonFields(std::string* out, const ItemRecord& item) {
    PutLe16(out, 20);  // version needed: deflate
    PutLe16(out, 0);   // flags: sizes are in the header, no descriptor
    PutLe16(out, 8);   // method: deflated
    PutLe16(out, kDosTime);
    PutLe16(out, kDosDate);
    PutLe32(out, item.crc);
    PutLe32(out, item.compressedSize);
    PutLe32(out, item.uncompressedSize);
    PutLe16(out, static_cast<uint16_t>(item.name.size()));
    PutLe16(out, 0);  // extra length
}

std::string LocalHeader(const ItemRecord& item) {
    std::string out;
    PutLe32(&out, 0x04034b50);
    PutCommonFields(&out, item);
    return out + item.name;
}

std::string CentralHeader(const ItemRecord& item) {
    std::string out;
    PutLe32(&out, 0x02014b50);
    PutLe16(&out, 20);  // made by: version 2.0 on a FAT host, so attributes are Windows bits
    PutCommonFields(&out, item);
    PutLe16(&out, 0);  // comment length
    PutLe16(&out, 0);  // disk
    PutLe16(&out, 0);  // internal attributes
    PutLe32(&out, kAttributeArchive);
    PutLe32(&out, item.headerOffset);
    return out + item.name;
}

std::string EndRecord(uint16_t count, uint32_t directorySize, uint32_t directoryOffset) {
    std::string out;
    PutLe32(&out, 0x06054b50);
    PutLe16(&out, 0);
    PutLe16(&out, 0);
    PutLe16(&out, count);
    PutLe16(&out, count);
    PutLe32(&out, directorySize);
    PutLe32(&out, directoryOffset);
    PutLe16(&out, 0);
    return out;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, at, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        at += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// Owns one POSIX file descriptor.
class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// Writes a plain ZIP of deflated items: local header, data, then the central
// directory and end record. Sizes and CRC are patched into each local header
// once its data is written, so no data descriptors are needed.
class ZipWriter {
public:
    explicit ZipWriter(const std::string& path)
        : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}

    bool IsOpen() const { return fd_.Get() >= 0; }
    const std::vector<ItemRecord>& Items() const { return items_; }

    bool Add(const PlannedFile& file) {
        ItemRecord item;
        item.name = file.name;
        item.headerOffset = static_cast<uint32_t>(offset_);
        if (!Put(LocalHeader(item))) return false;
        item.dataOffset = offset_;
        ContentSource source(file.kind, file.size, file.seed);
        if (!Deflate(source, &item) || !PatchLocalHeader(item)) return false;
        items_.push_back(item);
        return true;
    }

    bool Finish() {
        const uint64_t directoryOffset = offset_;
        for (const ItemRecord& item : items_) {
            if (!Put(CentralHeader(item))) return false;
        }
        const uint64_t directorySize = offset_ - directoryOffset;
        return Put(EndRecord(static_cast<uint16_t>(items_.size()), static_cast<uint32_t>(directorySize),
                             static_cast<uint32_t>(directoryOffset)));
    }

private:
    bool Put(const void* data, size_t size) {
        offset_ += size;
        return WriteAll(fd_.Get(), data, size);
    }
    bool Put(const std::string& bytes) { return Put(bytes.data(), bytes.size()); }

    bool Deflate(ContentSource& source, ItemRecord* item) {
        z_stream stream{};
        if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return false;
        }
        std::vector<unsigned char> in(kGeneratorChunk), out(kGeneratorChunk);
        uLong crc = crc32(0L, Z_NULL, 0);
        uint64_t plainBytes = 0;
        const uint64_t start = offset_;
        bool ok = true;
        int flush = Z_NO_FLUSH;
        while (ok && flush != Z_FINISH) {
            const size_t got = source.Produce(in.data(), in.size());
            crc = crc32(crc, in.data(), static_cast<uInt>(got));
            plainBytes += got;
            flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(got);
            do {
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                ok = deflate(&stream, flush) != Z_STREAM_ERROR && Put(out.data(), out.size() - stream.avail_out);
            } while (ok && stream.avail_out == 0);
        }
        deflateEnd(&stream);
        item->crc = static_cast<uint32_t>(crc);
        item->uncompressedSize = static_cast<uint32_t>(plainBytes);
        item->compressedSize = static_cast<uint32_t>(offset_ - start);
        return ok;
    }

    bool PatchLocalHeader(const ItemRecord& item) {
        const std::string header = LocalHeader(item);
        const off_t at = static_cast<off_t>(item.headerOffset);
        return ::pwrite(fd_.Get(), header.data(), header.size(), at) == static_cast<ssize_t>(header.size());
    }

    ScopedFd fd_;
    uint64_t offset_ = 0;
    std::vector<ItemRecord> items_;
};

struct Payload {
    std::string label;
    std::string zipPath;
    std::vector<ItemRecord> items;
    uint64_t plainBytes = 0;
    uint64_t zipBytes = 0;
};

bool WritePayload(const std::vector<PlannedFile>& files, Payload* payload) {
    ZipWriter writer(payload->zipPath);
    if (!writer.IsOpen()) return false;
    for (const PlannedFile& file : files) {
        if (!writer.Add(file)) return false;
    }
    if (!writer.Finish()) return false;
    payload->items = writer.Items();
    for (const ItemRecord& item : payload->items) payload->plainBytes += item.uncompressedSize;
    std::error_code error;
    payload->zipBytes = fs::file_size(payload->zipPath, error);
    return !error;
}

// ------------------------------------------------------------ the two extractors

// Ours: the reader's calls in the order ArchiveReader.h gives, each item
// written under target by its sanitised stored name.
bool ExtractWithReader(const Payload& payload, const std::string& target) {
    ArchiveHandle archive = OpenArchive(payload.zipPath.c_str());
    if (archive == nullptr) {
        std::fprintf(stderr, "OpenArchive failed on %s\n", payload.zipPath.c_str());
        return false;
    }
    ArchiveEntry entry;
    bool ok = GetArchiveItem(archive, -1, &entry) == ArchiveResult::Ok;
    const int32_t count = entry.index;
    for (int32_t index = 0; ok && index < count; ++index) {
        ArchiveResult result = GetArchiveItem(archive, index, &entry);
        if (result == ArchiveResult::Ok) {
            result = ExtractArchiveItem(archive, index, (target + "/" + entry.name).c_str());
        }
        if (result != ArchiveResult::Ok) {
            std::fprintf(stderr, "item %d (%s): result 0x%x\n", index, entry.name, static_cast<unsigned>(result));
            ok = false;
        }
    }
    CloseArchive(archive);
    return ok;
}

// The floor: the least work that still inflates every item and writes it.
// No CRC, no file times, folders remembered in memory once made.
class FloorExtractor {
public:
    bool Run(const Payload& payload, const std::string& target) {
        madeFolders_.clear();
        in_.resize(kIoBufferSize);
        out_.resize(kIoBufferSize);
        ScopedFd archive(::open(payload.zipPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (archive.Get() < 0) return false;
        for (const ItemRecord& item : payload.items) {
            const std::string path = target + "/" + item.name;
            if (!MakeParentFolders(target, item.name) || !ExtractItem(archive.Get(), item, path)) {
                std::fprintf(stderr, "floor failed on %s\n", item.name.c_str());
                return false;
            }
        }
        return true;
    }

private:
    bool MakeParentFolders(const std::string& target, const std::string& name) {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            const std::string folder = target + "/" + name.substr(0, slash);
            if (!madeFolders_.insert(folder).second) continue;
            if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        return true;
    }

    bool ExtractItem(int archive, const ItemRecord& item, const std::string& path) {
        ScopedFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (file.Get() < 0) return false;
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
        const uint64_t written = Inflate(archive, item, file.Get(), &stream);
        inflateEnd(&stream);
        return written == item.uncompressedSize;
    }

    // Returns the bytes written, or UINT64_MAX on a failure.
    uint64_t Inflate(int archive, const ItemRecord& item, int file, z_stream* stream) {
        off_t position = static_cast<off_t>(item.dataOffset);
        uint32_t remaining = item.compressedSize;
        uint64_t written = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (stream->avail_in == 0) {
                if (remaining == 0) return UINT64_MAX;  // the data ended before the stream did
                const ssize_t got = ::pread(archive, in_.data(), std::min(remaining, kIoBufferSize), position);
                if (got <= 0) return UINT64_MAX;
                position += got;
                remaining -= static_cast<uint32_t>(got);
                stream->next_in = in_.data();
                stream->avail_in = static_cast<uInt>(got);
            }
            stream->next_out = out_.data();
            stream->avail_out = kIoBufferSize;
            status = inflate(stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END) return UINT64_MAX;
            const size_t produced = kIoBufferSize - stream->avail_out;
            if (!WriteAll(file, out_.data(), produced)) return UINT64_MAX;
            written += produced;
        }
        return written;
    }

    std::set<std::string> madeFolders_;
    std::vector<unsigned char> in_, out_;
};

// ------------------------------------------------------------ checking and timing

bool FileMatches(const std::string& path, const ItemRecord& item, std::vector<unsigned char>* buffer) {
    ScopedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) return false;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t size = 0;
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer->data(), buffer->size());
        if (got < 0) return false;
        if (got == 0) break;
        crc = crc32(crc, buffer->data(), static_cast<uInt>(got));
        size += static_cast<uint64_t>(got);
    }
    return size == item.uncompressedSize && crc == item.crc;
}

size_t CountFiles(const std::string& folder) {
    size_t count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file()) ++count;
    }
    return count;
}

// Reads every extracted file back and compares its size and CRC-32 with what
// went into the archive, so an extractor that skips work cannot look fast.
bool VerifyOutput(const Payload& payload, const std::string& target, const char* who) {
    std::vector<unsigned char> buffer(1 << 20);
    for (const ItemRecord& item : payload.items) {
        if (!FileMatches(target + "/" + item.name, item, &buffer)) {
            std::fprintf(stderr, "%s: %s: wrong output for %s\n", payload.label.c_str(), who, item.name.c_str());
            return false;
        }
    }
    const size_t files = CountFiles(target);
    if (files != payload.items.size()) {
        std::fprintf(stderr, "%s: %s: %zu files in the output, %zu expected\n", payload.label.c_str(), who, files,
                     payload.items.size());
        return false;
    }
    return true;
}

// Empties every output file in place. The next run then rewrites existing
// files: no inode allocation, whose cost on this ext4 swings with how many
// files anyone deleted in the last half minute, and pages freed here are
// reused. A run that fails to write an item leaves it empty, for the check.
bool EmptyOutput(const Payload& payload, const std::string& target) {
    for (const ItemRecord& item : payload.items) {
        if (::truncate((target + "/" + item.name).c_str(), 0) != 0) return false;
    }
    return true;
}

using Extractor = std::function<bool(const std::string& target)>;

struct Contender {
    const char* name;
    Extractor extract;
    std::string target;
    double firstRun = 0;       // into a fresh folder; not in the median
    std::vector<double> runs;  // rewriting the files of the first run
};

// Seconds for one extraction, negative on failure.
double TimeOnce(const Contender& contender) {
    ::sync();  // no run should pay for the write-back of the one before
    const auto start = std::chrono::steady_clock::now();
    if (!contender.extract(contender.target)) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool FirstRun(const Payload& payload, Contender* contender) {
    std::error_code error;
    if (!fs::create_directories(contender->target, error)) return false;
    contender->firstRun = TimeOnce(*contender);
    return contender->firstRun >= 0 && VerifyOutput(payload, contender->target, contender->name);
}

bool TimedRun(const Payload& payload, Contender* contender) {
    if (!EmptyOutput(payload, contender->target)) return false;
    const double seconds = TimeOnce(*contender);
    if (seconds < 0) return false;
    contender->runs.push_back(seconds);
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Row {
    std::string label;
    size_t files = 0;
    uint64_t plainBytes = 0;
    std::vector<double> ours, floor;
};

void PrintRunTimes(const Payload& payload, const Contender& contender) {
    std::printf("  %s: %-5s first run into a fresh folder %.3f s; rewriting (s):", payload.label.c_str(),
                contender.name, contender.firstRun);
    for (const double seconds : contender.runs) std::printf(" %.3f", seconds);
    std::printf("\n");
}

// Each contender first extracts once into a fresh folder, checked; then the
// two alternate, swapping which goes first each repetition, and the output
// is checked again after the last run.
bool Measure(const Payload& payload, const std::string& scratch, int repetitions, Row* row) {
    FloorExtractor floorExtractor;
    Contender ours{"ours", [&](const std::string& target) { return ExtractWithReader(payload, target); },
                   scratch + "/out/ours"};
    Contender floor{"floor", [&](const std::string& target) { return floorExtractor.Run(payload, target); },
                    scratch + "/out/floor"};
    if (!FirstRun(payload, &ours) || !FirstRun(payload, &floor)) return false;
    Contender* const order[2] = {&ours, &floor};
    for (int rep = 0; rep < repetitions; ++rep) {
        for (int turn = 0; turn < 2; ++turn) {
            if (!TimedRun(payload, order[(rep + turn) % 2])) return false;
        }
    }
    if (!VerifyOutput(payload, ours.target, ours.name) || !VerifyOutput(payload, floor.target, floor.name)) {
        return false;
    }
    std::printf("  %s: output of both checked after the first and the last run: sizes and CRC-32 match\n",
                payload.label.c_str());
    PrintRunTimes(payload, ours);
    PrintRunTimes(payload, floor);
    row->ours = ours.runs;
    row->floor = floor.runs;
    return true;
}

// Removes whatever the bench writes under scratch, also after a failure.
void RemoveBenchFiles(const std::string& scratch) {
    std::error_code error;
    for (const char* name : {"out", "small-files.zip", "large-files.zip"}) {
        fs::remove_all(scratch + "/" + name, error);
    }
}

bool RunPayload(const char* label, const std::vector<PlannedFile>& files, const std::string& scratch,
                int repetitions, Row* row) {
    Payload payload;
    payload.label = label;
    payload.zipPath = scratch + "/" + label + ".zip";
    const auto start = std::chrono::steady_clock::now();
    const bool written = WritePayload(files, &payload);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!written) {
        std::fprintf(stderr, "%s: could not write %s\n", label, payload.zipPath.c_str());
        return false;
    }
    std::printf("  %s: %zu files, %.1f MB into a %.1f MB archive, written in %.1f s\n", label, payload.items.size(),
                payload.plainBytes / 1e6, payload.zipBytes / 1e6, seconds);
    std::fflush(stdout);
    row->label = label;
    row->files = payload.items.size();
    row->plainBytes = payload.plainBytes;
    const bool measured = Measure(payload, scratch, repetitions, row);
    RemoveBenchFiles(scratch);  // the large payload alone is over 400 MB on disk
    return measured;
}

void PrintTable(const std::vector<Row>& rows, int repetitions) {
    std::printf("\nArchive reader, host build (%s): median of %d runs each, ours and floor alternating,\n"
                "each run rewriting the (emptied) files of a first, fresh extraction.\n",
                KX_BENCH_BUILD_TYPE, repetitions);
    std::printf("ours  = OpenArchive, then GetArchiveItem + ExtractArchiveItem per item (CRC-32 checked, times set)\n");
    std::printf("floor = pread 16 KB + zlib raw inflate into 16 KB + write(); no CRC-32, no times\n");
    std::printf("MB/s  = 10^6 bytes of extracted output per second; ours/floor > 1 means ours is faster\n\n");
    std::printf("%-12s %6s %8s %10s %11s %11s %13s %14s\n", "payload", "files", "MB", "ours MB/s", "floor MB/s",
                "ours/floor", "ours files/s", "floor files/s");
    for (const Row& row : rows) {
        const double ours = Median(row.ours), floor = Median(row.floor);
        const double megabytes = row.plainBytes / 1e6;
        std::printf("%-12s %6zu %8.1f %10.1f %11.1f %11.2f %13.0f %14.0f\n", row.label.c_str(), row.files, megabytes,
                    megabytes / ours, megabytes / floor, floor / ours, row.files / ours, row.files / floor);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <scratch folder> [repetitions]\n", argv[0]);
        return 2;
    }
    const std::string scratch = argv[1];
    const int repetitions = argc == 3 ? std::atoi(argv[2]) : kDefaultRepetitions;
    std::error_code error;
    fs::create_directories(scratch, error);
    if (repetitions < 1 || !fs::is_directory(scratch, error)) {
        std::fprintf(stderr, "need a usable scratch folder and at least one repetition\n");
        return 2;
    }
    std::vector<Row> rows(2);
    const bool ok = RunPayload("small-files", PlanSmallFiles(), scratch, repetitions, &rows[0]) &&
                    RunPayload("large-files", PlanLargeFiles(), scratch, repetitions, &rows[1]);
    if (!ok) return 1;
    PrintTable(rows, repetitions);
    return 0;
}
