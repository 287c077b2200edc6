#include "archive/ArchiveReader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/Crc32.h"
#include "archive/Inflater.h"
#include "archive/PackageFormat.h"
#include "text/TextEncoding.h"
#include "platform/Platform.h"

using package::ReadLe16;
using package::ReadLe32;

namespace {

constexpr uint32_t kReaderKind = 0x4b585a52;  // "RZXK"
constexpr uint32_t kDeadKind = 0xdeadbeef;
constexpr uint32_t kBufferSize = 65536;  // as many bytes per system call as a plain copy takes
constexpr uint32_t kReadWindowSize = 65536;
constexpr uint32_t kWindowedReadLimit = 4096;
constexpr uint32_t kEndSearchWindow = 65535;
constexpr uint32_t kEndSearchBlock = 1028;
constexpr size_t kPathCapacity = platform::kPathByteCapacity;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagEncrypted = 0x1;
constexpr uint16_t kFlagDataDescriptor = 0x8;
constexpr uint16_t kFlagUtf8Name = 0x800;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

struct CentralHeader {
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosDateTime = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
};

}  // namespace

struct ArchiveReaderState {
    uint32_t kind = kReaderKind;
    platform::UniqueFile file;
    int64_t fileSize = 0;

    // From the end record.
    uint32_t entryCount = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    int64_t bytesBefore = 0;

    // The current central directory entry.
    uint32_t currentNumber = 0;
    int64_t currentPosition = 0;
    CentralHeader current;
    char currentName[kArchiveNameCapacity] = {};
    bool currentValid = false;

    // Where each central header read so far starts, by entry number, so that
    // any entry seen before is reached again without walking from the first.
    std::vector<int64_t> entryPositions;

    // Where the current item's data starts, once its local header is checked.
    int64_t dataStart = 0;

    ArchiveEntry cachedEntry;
    int32_t cachedIndex = -1;

    // Items written together share their DOS time; converting it costs a
    // time-zone lookup, so the last conversion is kept.
    uint32_t lastDosDateTime = 0;
    uint64_t lastDosFileTime = 0;
    bool lastDosValid = false;

    std::unique_ptr<unsigned char[]> inputBuffer;
    std::string baseFolder;

    // The part of the file read last for small reads (see ReadExactly).
    std::unique_ptr<unsigned char[]> window;
    int64_t windowStart = -1;
    uint32_t windowLength = 0;

    // One inflater for every deflated item, made when the first comes.
    InflaterPointer inflater;
};

namespace {

// Whether the window read last holds [position, position + size).
bool InReadWindow(const ArchiveReaderState* state, int64_t position, uint32_t size) {
    return state->windowStart >= 0 && position >= state->windowStart &&
           position + size <= state->windowStart + state->windowLength;
}

// Headers are read through a window of the file: the central directory is
// read in order, and a small item's local header and data lie together, so
// one system call serves many reads. Larger reads go to the file directly.
bool ReadExactly(ArchiveReaderState* state, int64_t position, void* buffer, uint32_t size) {
    if (position < 0) return false;
    if (size > kWindowedReadLimit) {
        return platform::ReadFileAt(state->file.Get(), position, buffer, size) == static_cast<int64_t>(size);
    }
    if (!InReadWindow(state, position, size)) {
        if (!state->window) state->window.reset(new unsigned char[kReadWindowSize]);
        const int64_t got = platform::ReadFileAt(state->file.Get(), position, state->window.get(), kReadWindowSize);
        state->windowStart = got < 0 ? -1 : position;
        state->windowLength = got < 0 ? 0 : static_cast<uint32_t>(got);
        if (!InReadWindow(state, position, size)) return false;
    }
    std::memcpy(buffer, state->window.get() + (position - state->windowStart), size);
    return true;
}

// Item data: from the window when it holds all of it, else from the file.
int64_t ReadItemData(ArchiveReaderState* state, int64_t position, void* buffer, uint32_t size) {
    if (!InReadWindow(state, position, size)) return platform::ReadFileAt(state->file.Get(), position, buffer, size);
    std::memcpy(buffer, state->window.get() + (position - state->windowStart), size);
    return size;
}

// Position of the end record, or -1 when the last 64 KiB hold none.
int64_t FindEndRecord(ArchiveReaderState* state) {
    const int64_t size = state->fileSize;
    const int64_t windowStart = size > kEndSearchWindow ? size - kEndSearchWindow : 0;
    unsigned char block[kEndSearchBlock];
    int64_t blockEnd = size;
    while (blockEnd > windowStart) {
        const int64_t blockStart = std::max(windowStart, blockEnd - static_cast<int64_t>(kEndSearchBlock));
        const uint32_t length = static_cast<uint32_t>(blockEnd - blockStart);
        if (!ReadExactly(state, blockStart, block, length)) return -1;
        for (int64_t at = static_cast<int64_t>(length) - 4; at >= 0; --at) {
            if (ReadLe32(block + at) == package::kEndRecordSignature) return blockStart + at;
        }
        if (blockStart == windowStart) break;
        blockEnd = blockStart + 4;  // blocks overlap so a signature across them is found
    }
    return -1;
}

bool ReadEndRecord(ArchiveReaderState* state, int64_t recordPosition) {
    unsigned char record[package::kEndRecordSize];
    if (!ReadExactly(state, recordPosition, record, sizeof record)) return false;
    const uint16_t thisDisk = ReadLe16(record + 4);
    const uint16_t directoryDisk = ReadLe16(record + 6);
    const uint16_t entriesOnDisk = ReadLe16(record + 8);
    const uint16_t totalEntries = ReadLe16(record + 10);
    state->directorySize = ReadLe32(record + 12);
    state->directoryOffset = ReadLe32(record + 16);
    if (thisDisk != 0 || directoryDisk != 0 || entriesOnDisk != totalEntries) return false;
    const int64_t directoryEnd = static_cast<int64_t>(state->directoryOffset) + state->directorySize;
    if (recordPosition < directoryEnd) return false;
    state->entryCount = totalEntries;
    state->bytesBefore = recordPosition - directoryEnd;
    return true;
}

// Reads the central header at the current position, with its name.
bool ReadCurrentHeader(ArchiveReaderState* state) {
    state->currentValid = false;
    unsigned char header[package::kCentralHeaderSize];
    if (!ReadExactly(state, state->currentPosition + state->bytesBefore, header, sizeof header)) return false;
    if (ReadLe32(header) != package::kCentralHeaderSignature) return false;
    CentralHeader& h = state->current;
    h.versionMadeBy = ReadLe16(header + 4);
    h.flags = ReadLe16(header + 8);
    h.method = ReadLe16(header + 10);
    h.dosDateTime = ReadLe32(header + 12);
    h.crc = ReadLe32(header + 16);
    h.compressedSize = ReadLe32(header + 20);
    h.uncompressedSize = ReadLe32(header + 24);
    h.nameLength = ReadLe16(header + 28);
    h.extraLength = ReadLe16(header + 30);
    h.commentLength = ReadLe16(header + 32);
    h.externalAttributes = ReadLe32(header + 38);
    h.localHeaderOffset = ReadLe32(header + 42);
    // A longer name would have to be cut, and a cut name can name another place.
    if (h.nameLength >= kArchiveNameCapacity) return false;
    const int64_t namePosition = state->currentPosition + state->bytesBefore + package::kCentralHeaderSize;
    if (!ReadExactly(state, namePosition, state->currentName, h.nameLength)) return false;
    state->currentName[h.nameLength] = '\0';
    // 259 characters at most: UTF-8 ones when the flag says so, else bytes.
    const bool utf8 = (h.flags & kFlagUtf8Name) != 0;
    const size_t characters = utf8 ? CountUtf8Characters(state->currentName) : h.nameLength;
    if (characters > static_cast<size_t>(kArchiveNameCharacters)) return false;
    state->currentValid = true;
    if (state->currentNumber == state->entryPositions.size()) state->entryPositions.push_back(state->currentPosition);
    return true;
}

void GoToFirstEntry(ArchiveReaderState* state) {
    state->currentPosition = state->directoryOffset;
    state->currentNumber = 0;
    ReadCurrentHeader(state);
}

bool GoToNextEntry(ArchiveReaderState* state) {
    if (!state->currentValid || state->currentNumber + 1 >= state->entryCount) return false;
    const CentralHeader& h = state->current;
    state->currentPosition += package::kCentralHeaderSize + h.nameLength + h.extraLength + h.commentLength;
    state->currentNumber += 1;
    return ReadCurrentHeader(state);
}

bool GoToEntry(ArchiveReaderState* state, uint32_t number) {
    if (state->currentValid && state->currentNumber == number) return true;
    const std::vector<int64_t>& known = state->entryPositions;
    if (!known.empty()) {
        // Jump to the entry itself, or to the furthest one known before it.
        const uint32_t start = number < known.size() ? number : static_cast<uint32_t>(known.size() - 1);
        if (!state->currentValid || state->currentNumber > number || state->currentNumber < start) {
            state->currentNumber = start;
            state->currentPosition = known[start];
            ReadCurrentHeader(state);
        }
    } else if (!state->currentValid || state->currentNumber > number) {
        GoToFirstEntry(state);
    }
    while (state->currentValid && state->currentNumber < number) {
        if (!GoToNextEntry(state)) return false;
    }
    return state->currentValid && state->currentNumber == number;
}

uint32_t AttributesFromHeader(const CentralHeader& h) {
    const uint32_t host = h.versionMadeBy >> 8;
    const uint32_t a = h.externalAttributes;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        return a & (platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem |
                    platform::kAttributeDirectory | platform::kAttributeArchive);
    }
    uint32_t attributes = platform::kAttributeArchive;
    if (a & (1u << 30)) attributes |= platform::kAttributeDirectory;
    if (!(a & (1u << 23))) attributes |= platform::kAttributeReadOnly;
    return attributes;
}

uint64_t FileTimeFromDos(uint32_t dosDateTime) {
    const uint32_t time = dosDateTime & 0xFFFF;
    const uint32_t date = dosDateTime >> 16;
    platform::CivilTime local;
    local.year = 1980 + static_cast<int>(date >> 9);
    local.month = static_cast<int>((date >> 5) & 15);
    local.day = static_cast<int>(date & 31);
    local.hour = static_cast<int>(time >> 11);
    local.minute = static_cast<int>((time >> 5) & 63);
    local.second = static_cast<int>(2 * (time & 31));
    uint64_t fileTime = 0;
    if (platform::LocalTimeToFileTime(local, &fileTime)) return fileTime;
    // A date that names no real moment (month 0, say) takes the DOS epoch.
    const platform::CivilTime epoch = {1980, 1, 1, 0, 0, 0};
    platform::LocalTimeToFileTime(epoch, &fileTime);
    return fileTime;
}

uint64_t FileTimeFromUnix(int32_t seconds) {
    return static_cast<uint64_t>((static_cast<int64_t>(seconds) + kUnixEpochInFileTimeSeconds) * 10000000LL);
}

// Applies the first "UT" block of a local extra field.
void ApplyExtendedTimestamp(const std::vector<unsigned char>& extra, ArchiveEntry* entry) {
    const size_t length = extra.size();
    for (size_t offset = 0; offset + 4 < length;) {
        const uint16_t dataSize = ReadLe16(&extra[offset + 2]);
        if (extra[offset] == 'U' && extra[offset + 1] == 'T') {
            const size_t blockEnd = std::min(length, offset + 4 + dataSize);
            const unsigned char flags = extra[offset + 4];
            size_t at = offset + 5;
            uint64_t* targets[3] = {&entry->writeTime, &entry->accessTime, &entry->creationTime};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1 << bit))) continue;
                if (at + 4 > blockEnd) break;
                *targets[bit] = FileTimeFromUnix(static_cast<int32_t>(ReadLe32(&extra[at])));
                at += 4;
            }
            return;
        }
        offset += 4 + static_cast<size_t>(dataSize);
    }
}

bool IsValidHandle(ArchiveHandle handle) { return handle != nullptr; }

// Checks the item's local header against the current central one and reads
// its extra field. Sets dataStart, which stays valid while the item is cached.
ArchiveResult CheckLocalHeader(ArchiveReaderState* state, std::vector<unsigned char>* extra) {
    const CentralHeader& h = state->current;
    const int64_t headerPosition = static_cast<int64_t>(h.localHeaderOffset) + state->bytesBefore;
    unsigned char local[package::kLocalHeaderSize];
    if (!ReadExactly(state, headerPosition, local, sizeof local)) return ArchiveResult::Corrupt;
    if (ReadLe32(local) != package::kLocalHeaderSignature) return ArchiveResult::Corrupt;
    const uint16_t method = ReadLe16(local + 8);
    if (method != h.method || (method != kMethodStored && method != kMethodDeflated)) return ArchiveResult::Corrupt;
    const uint16_t nameLength = ReadLe16(local + 26);
    const uint16_t extraLength = ReadLe16(local + 28);
    if (nameLength != h.nameLength) return ArchiveResult::Corrupt;
    if (!(h.flags & kFlagDataDescriptor)) {
        if (ReadLe32(local + 14) != h.crc || ReadLe32(local + 18) != h.compressedSize ||
            ReadLe32(local + 22) != h.uncompressedSize) {
            return ArchiveResult::Corrupt;
        }
    }
    extra->resize(extraLength);
    const int64_t extraPosition = headerPosition + package::kLocalHeaderSize + nameLength;
    if (extraLength > 0 && !ReadExactly(state, extraPosition, extra->data(), extraLength)) {
        return ArchiveResult::ReadFailed;
    }
    state->dataStart = static_cast<int64_t>(h.localHeaderOffset) + package::kLocalHeaderSize + nameLength + extraLength;
    return ArchiveResult::Ok;
}

// Name, attributes, DOS times and sizes of the current entry, its name
// decoded with the given extra field.
bool DescribeFromHeader(ArchiveReaderState* state, int32_t index, const std::vector<unsigned char>& extra,
                        ArchiveEntry* entry) {
    const CentralHeader& h = state->current;
    entry->index = index;
    if (!DecodeArchiveName(state->currentName, h.nameLength, h.flags, extra.data(), extra.size(), entry->name)) {
        return false;
    }
    SanitiseArchiveName(entry->name);
    entry->attributes = AttributesFromHeader(h);
    if (!state->lastDosValid || state->lastDosDateTime != h.dosDateTime) {
        state->lastDosFileTime = FileTimeFromDos(h.dosDateTime);
        state->lastDosDateTime = h.dosDateTime;
        state->lastDosValid = true;
    }
    const uint64_t dosTime = state->lastDosFileTime;
    entry->accessTime = entry->creationTime = entry->writeTime = dosTime;
    entry->compressedSize = static_cast<int32_t>(h.compressedSize);
    entry->uncompressedSize = static_cast<int32_t>(h.uncompressedSize);
    return true;
}

ArchiveResult DescribeItem(ArchiveReaderState* state, int32_t index, ArchiveEntry* entry) {
    if (index == state->cachedIndex) {
        *entry = state->cachedEntry;
        return ArchiveResult::Ok;
    }
    // From here the current entry moves; the cache is valid again only once
    // this item is described, so a hit always means current entry == index.
    state->cachedIndex = -1;
    if (!GoToEntry(state, static_cast<uint32_t>(index))) return ArchiveResult::Corrupt;
    std::vector<unsigned char> extra;
    const ArchiveResult checked = CheckLocalHeader(state, &extra);
    if (checked != ArchiveResult::Ok) return checked;
    if (!DescribeFromHeader(state, index, extra, entry)) return ArchiveResult::Corrupt;
    ApplyExtendedTimestamp(extra, entry);

    state->cachedEntry = *entry;
    state->cachedIndex = index;
    return ArchiveResult::Ok;
}

// The central header's description alone: its extra field names the item,
// and the local header is not read.
ArchiveResult DescribeFromDirectory(ArchiveReaderState* state, int32_t index, ArchiveEntry* entry) {
    if (index != state->cachedIndex) state->cachedIndex = -1;  // the current entry may move
    if (!GoToEntry(state, static_cast<uint32_t>(index))) return ArchiveResult::Corrupt;
    const CentralHeader& h = state->current;
    std::vector<unsigned char> extra(h.extraLength);
    const int64_t extraPosition =
        state->currentPosition + state->bytesBefore + package::kCentralHeaderSize + h.nameLength;
    if (h.extraLength > 0 && !ReadExactly(state, extraPosition, extra.data(), h.extraLength)) {
        return ArchiveResult::ReadFailed;
    }
    return DescribeFromHeader(state, index, extra, entry) ? ArchiveResult::Ok : ArchiveResult::Corrupt;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsRootedPath(const std::string& path) {
    return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
}

// Creates level (a folder path ending at a separator or not) and the levels
// above it that are missing, looking upward first so that an existing
// folder costs one test, however deep it lies.
void EnsureFolder(const std::string& level, size_t keep) {
    std::string path = level;
    while (!path.empty() && IsSeparator(path.back())) path.pop_back();
    if (path.size() <= keep || path.size() >= kPathCapacity || platform::PathExists(path.c_str())) return;
    const size_t parentEnd = path.find_last_of("/\\");
    if (parentEnd != std::string::npos && parentEnd > 0) EnsureFolder(path.substr(0, parentEnd), keep);
    platform::CreateFolder(path.c_str());
}

// Creates base (when given and missing) and every level of folder below it.
// Failures are not reported: the file creation that follows fails instead.
void EnsureFolderChain(const std::string& base, const std::string& folder) {
    if (!base.empty() && !platform::PathExists(base.c_str())) platform::CreateFolder(base.c_str());
    if (folder.empty()) return;
    EnsureFolder(base + folder, base.size());
}

// Where an item's data goes: an open file, or else a text in memory.
struct ItemSink {
    platform::FileHandle file = platform::kNoFile;
    std::string* text = nullptr;
};

bool WriteToSink(const ItemSink& sink, const unsigned char* data, uint32_t size) {
    if (sink.text == nullptr) return platform::WriteToFile(sink.file, data, size);
    sink.text->append(reinterpret_cast<const char*>(data), size);
    return true;
}

// Where the inflater reads the current item's compressed bytes from.
struct ItemSource {
    ArchiveReaderState* state;
    int64_t position;
    uint32_t remaining;
};

int64_t ReadItemPiece(void* context, unsigned char* buffer, uint32_t size) {
    ItemSource* source = static_cast<ItemSource*>(context);
    const uint32_t want = std::min(source->remaining, size);
    if (want == 0) return 0;
    const int64_t got = ReadItemData(source->state, source->position, buffer, want);
    if (got <= 0) return -1;
    source->position += got;
    source->remaining -= static_cast<uint32_t>(got);
    return got;
}

struct CheckedSink {
    const ItemSink* target;
    uint32_t crc;
};

bool WriteCheckedPiece(void* context, const unsigned char* data, uint32_t size) {
    CheckedSink* sink = static_cast<CheckedSink*>(context);
    sink->crc = UpdateCrc32(sink->crc, data, size);
    return WriteToSink(*sink->target, data, size);
}

// Streams the current item's data into the target, checking its size
// and CRC-32 at the end.
ArchiveResult CopyItemData(ArchiveReaderState* state, const ItemSink& target) {
    const CentralHeader& h = state->current;
    ItemSource source{state, state->dataStart + state->bytesBefore, h.compressedSize};
    CheckedSink sink{&target, 0};
    uint32_t produced = 0;
    if (h.method == kMethodDeflated) {
        if (!state->inflater) state->inflater = NewInflater();
        if (!state->inflater) return ArchiveResult::InflateFailed;
        const InflateResult inflated = Inflate(state->inflater.get(), InflateInput{ReadItemPiece, &source},
                                               InflateOutput{WriteCheckedPiece, &sink}, h.uncompressedSize, &produced);
        if (inflated == InflateResult::WriteFailed) return ArchiveResult::WriteFailed;
        if (inflated != InflateResult::Ok) return ArchiveResult::InflateFailed;
    } else {
        if (!state->inputBuffer) state->inputBuffer.reset(new unsigned char[kBufferSize]);
        unsigned char* input = state->inputBuffer.get();
        while (produced < h.uncompressedSize) {
            const int64_t got = ReadItemPiece(&source, input, std::min(kBufferSize, h.uncompressedSize - produced));
            if (got <= 0) return ArchiveResult::InflateFailed;  // the data ended before the item did
            if (!WriteCheckedPiece(&sink, input, static_cast<uint32_t>(got))) return ArchiveResult::WriteFailed;
            produced += static_cast<uint32_t>(got);
        }
    }
    if (produced != h.uncompressedSize || sink.crc != h.crc) return ArchiveResult::ChecksumFailed;
    return ArchiveResult::Ok;
}

ArchiveResult ExtractFolderItem(ArchiveReaderState* state, const std::string& target) {
    if (IsRootedPath(target)) {
        EnsureFolderChain(std::string(), target);
    } else {
        EnsureFolderChain(state->baseFolder, target);
    }
    return ArchiveResult::Ok;
}

// newFile: target is a full path in a folder that exists, and must not
// exist itself.
ArchiveResult ExtractFileItem(ArchiveReaderState* state, const ArchiveEntry& entry, const std::string& target,
                              bool newFile) {
    const size_t split = target.find_last_of("/\\");
    std::string fullPath;
    if (newFile && IsRootedPath(target)) {
        fullPath = target;
    } else if (split == std::string::npos) {
        fullPath = state->baseFolder + target;
        EnsureFolderChain(state->baseFolder, std::string());
    } else {
        const std::string folder = target.substr(0, split + 1);
        if (IsRootedPath(folder)) {
            fullPath = target;
            EnsureFolderChain(std::string(), folder);
        } else {
            fullPath = state->baseFolder + target;
            EnsureFolderChain(state->baseFolder, folder);
        }
    }
    if (fullPath.size() >= kPathCapacity) return ArchiveResult::FileOpenFailed;

    platform::UniqueFile file(newFile ? platform::CreateNewFile(fullPath.c_str(), entry.attributes)
                                      : platform::CreateFileForWriting(fullPath.c_str(), entry.attributes));
    if (!file.IsOpen()) return ArchiveResult::FileOpenFailed;
    ItemSink sink;
    sink.file = file.Get();
    const ArchiveResult copied = CopyItemData(state, sink);
    if (copied == ArchiveResult::Ok) {
        platform::SetFileTimes(file.Get(), entry.creationTime, entry.accessTime, entry.writeTime);
        return ArchiveResult::Ok;
    }
    if (copied == ArchiveResult::ChecksumFailed) {
        // Wrong data must not pass for the item: remove it rather than leave
        // a file that looks installed.
        file.Reset();
        if (entry.attributes & platform::kAttributeReadOnly) {
            platform::WriteAttributes(fullPath.c_str(), platform::kAttributeNormal);
        }
        platform::RemoveFile(fullPath.c_str());
    }
    return copied;
}

}  // namespace

namespace {

ArchiveHandle OpenArchiveFile(const char* path, int64_t archiveEnd, bool held) {
    if (path == nullptr) return nullptr;
    std::unique_ptr<ArchiveReaderState> state(new ArchiveReaderState);
    state->baseFolder = platform::GetCurrentFolder();
    if (state->baseFolder.empty() || !IsSeparator(state->baseFolder.back())) state->baseFolder += '\\';
    if (state->baseFolder.size() >= kPathCapacity) state->baseFolder.clear();

    state->file.Reset(held ? platform::OpenHeldFileForReading(path) : platform::OpenFileForReading(path));
    if (!state->file.IsOpen()) return nullptr;
    state->fileSize = platform::GetFileSize(state->file.Get());
    if (archiveEnd >= 0 && archiveEnd <= state->fileSize) state->fileSize = archiveEnd;
    if (state->fileSize < package::kEndRecordSize) return nullptr;
    const int64_t recordPosition = FindEndRecord(state.get());
    if (recordPosition < 0 || !ReadEndRecord(state.get(), recordPosition)) return nullptr;
    GoToFirstEntry(state.get());
    return state.release();
}

}  // namespace

ArchiveHandle OpenArchive(const char* path) { return OpenArchiveFile(path, -1, false); }

ArchiveHandle OpenHeldArchive(const char* path) { return OpenArchiveFile(path, -1, true); }

ArchiveHandle OpenArchiveEndingAt(const char* path, int64_t archiveEnd) { return OpenArchiveFile(path, archiveEnd, false); }

ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveEntry* entry) {
    if (entry == nullptr) return ArchiveResult::BadArgument;
    entry->index = 0;
    entry->name[0] = '\0';
    entry->uncompressedSize = 0;
    if (!IsValidHandle(handle)) return ArchiveResult::BadArgument;
    if (handle->kind != kReaderKind) return ArchiveResult::WrongHandleKind;
    if (index < -1 || index >= static_cast<int64_t>(handle->entryCount)) return ArchiveResult::BadArgument;
    if (index == -1) {
        *entry = ArchiveEntry();
        entry->index = static_cast<int32_t>(handle->entryCount);
        return ArchiveResult::Ok;
    }
    return DescribeItem(handle, index, entry);
}

ArchiveResult GetArchiveItemFromDirectory(ArchiveHandle handle, int32_t index, ArchiveEntry* entry) {
    if (index == -1 || entry == nullptr) return GetArchiveItem(handle, index, entry);
    entry->index = 0;
    entry->name[0] = '\0';
    entry->uncompressedSize = 0;
    if (!IsValidHandle(handle)) return ArchiveResult::BadArgument;
    if (handle->kind != kReaderKind) return ArchiveResult::WrongHandleKind;
    if (index < 0 || index >= static_cast<int64_t>(handle->entryCount)) return ArchiveResult::BadArgument;
    return DescribeFromDirectory(handle, index, entry);
}

namespace {

ArchiveResult ExtractItem(ArchiveHandle handle, int32_t index, const char* targetPath, bool newFile) {
    if (!IsValidHandle(handle) || targetPath == nullptr) return ArchiveResult::BadArgument;
    if (handle->kind != kReaderKind) return ArchiveResult::WrongHandleKind;
    if (index < 0 || index >= static_cast<int64_t>(handle->entryCount)) return ArchiveResult::BadArgument;

    ArchiveEntry entry;
    const ArchiveResult described = DescribeItem(handle, index, &entry);
    if (described != ArchiveResult::Ok) return described;

    if (!IsSafeRelativeName(entry.name)) return ArchiveResult::UnsafeName;
    if (handle->current.flags & kFlagEncrypted) return ArchiveResult::PasswordMismatch;
    const std::string target = targetPath;
    if (entry.attributes & platform::kAttributeDirectory) return ExtractFolderItem(handle, target);
    return ExtractFileItem(handle, entry, target, newFile);
}

}  // namespace

ArchiveResult ExtractArchiveItem(ArchiveHandle handle, int32_t index, const char* targetPath) {
    return ExtractItem(handle, index, targetPath, false);
}

ArchiveResult ExtractArchiveItemToNewFile(ArchiveHandle handle, int32_t index, const char* targetPath) {
    return ExtractItem(handle, index, targetPath, true);
}

ArchiveResult ReadArchiveItem(ArchiveHandle handle, int32_t index, std::string* data, size_t capacity) {
    if (!IsValidHandle(handle) || data == nullptr) return ArchiveResult::BadArgument;
    if (handle->kind != kReaderKind) return ArchiveResult::WrongHandleKind;
    if (index < 0 || index >= static_cast<int64_t>(handle->entryCount)) return ArchiveResult::BadArgument;
    ArchiveEntry entry;
    const ArchiveResult described = DescribeItem(handle, index, &entry);
    if (described != ArchiveResult::Ok) return described;
    if (handle->current.flags & kFlagEncrypted) return ArchiveResult::PasswordMismatch;
    if (handle->current.uncompressedSize > capacity) return ArchiveResult::BadArgument;
    data->clear();
    ItemSink sink;
    sink.text = data;
    const ArchiveResult copied = CopyItemData(handle, sink);
    if (copied != ArchiveResult::Ok) data->clear();
    return copied;
}

ArchiveResult CloseArchive(ArchiveHandle handle) {
    if (!IsValidHandle(handle)) return ArchiveResult::BadArgument;
    if (handle->kind != kReaderKind) return ArchiveResult::WrongHandleKind;
    handle->kind = kDeadKind;
    delete handle;
    return ArchiveResult::Ok;
}
