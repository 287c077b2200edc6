// The floor the install benchmark compares against: the least a program can
// do to put an archive's items on disk. No checks beyond what it needs to
// find the data, no CRC, no window, no messages; a GUI-subsystem program
// like the installers it stands beside, so its start costs the same.
//
//   kx_floor unzip ARCHIVE OUTDIR   inflates every item of the ZIP in ARCHIVE
//                                   (a plain ZIP or an installer) into OUTDIR
//   kx_floor copy INSTALLER DEST    copies the installer's archive bytes to DEST
//                                   in 10 MiB chunks, as the stub's copy-out does
//   kx_floor start                  does nothing: what starting a process costs
//
// Exit code 0 on success, 1 on a bad archive or an I/O failure, 2 on usage.

#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBufferSize = 1 << 16;
constexpr DWORD kCopyChunk = 10 << 20;
constexpr DWORD kEndRecordSize = 22;
constexpr DWORD kEndSearch = 65535 + kEndRecordSize + 8;  // comment, and our trailer
constexpr DWORD kCentralHeaderSize = 46;
constexpr DWORD kLocalHeaderSize = 30;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kCentralSignature = 0x02014b50;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }

// Closes the handle when the scope ends.
struct File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    explicit File(HANDLE h) : handle(h) {}
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
};

HANDLE OpenForReading(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateForWriting(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadAt(HANDLE file, uint64_t position, void* buffer, DWORD size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    return ReadFile(file, buffer, size, &got, &at) && got == size;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

uint64_t SizeOf(HANDLE file) {
    LARGE_INTEGER size = {};
    return GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

struct Directory {
    std::vector<unsigned char> bytes;
    uint32_t count = 0;
    uint64_t bytesBefore = 0;  // data in front of the ZIP (an installer stub)
};

// Finds the end record in the file's tail and reads the whole central directory.
bool ReadDirectory(HANDLE file, Directory* directory) {
    const uint64_t size = SizeOf(file);
    const DWORD tail = static_cast<DWORD>(size < kEndSearch ? size : kEndSearch);
    std::vector<unsigned char> block(tail);
    if (tail < kEndRecordSize || !ReadAt(file, size - tail, block.data(), tail)) return false;
    for (DWORD at = tail - kEndRecordSize + 1; at-- > 0;) {
        if (Le32(&block[at]) != kEndSignature) continue;
        const unsigned char* end = &block[at];
        const uint32_t directorySize = Le32(end + 12);
        const uint32_t directoryOffset = Le32(end + 16);
        const uint64_t endPosition = size - tail + at;
        if (endPosition < static_cast<uint64_t>(directoryOffset) + directorySize) return false;
        directory->count = Le16(end + 10);
        directory->bytesBefore = endPosition - directoryOffset - directorySize;
        directory->bytes.resize(directorySize);
        return ReadAt(file, directory->bytesBefore + directoryOffset, directory->bytes.data(), directorySize);
    }
    return false;
}

// Creates each missing folder of path's parent; remembers the last parent made.
void MakeParents(const std::string& path, std::string* lastParent) {
    const size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) return;
    const std::string parent = path.substr(0, slash);
    if (parent == *lastParent) return;
    for (size_t at = parent.find('\\', 3); at != std::string::npos; at = parent.find('\\', at + 1)) {
        (void)CreateDirectoryA(parent.substr(0, at).c_str(), nullptr);  // one that exists is fine
    }
    (void)CreateDirectoryA(parent.c_str(), nullptr);
    *lastParent = parent;
}

struct Item {
    uint16_t method = 0;
    uint32_t compressedSize = 0;
    uint32_t localOffset = 0;
};

struct Inflater {
    z_stream stream{};
    std::vector<unsigned char> input = std::vector<unsigned char>(kBufferSize);
    std::vector<unsigned char> output = std::vector<unsigned char>(kBufferSize);
    Inflater() { inflateInit2(&stream, -MAX_WBITS); }
    ~Inflater() { inflateEnd(&stream); }
};

// Streams one item's data from the archive into target: stored bytes as
// they are, deflated ones through raw inflate.
bool WriteItem(HANDLE archive, uint64_t dataStart, const Item& item, HANDLE target, Inflater& inflater) {
    z_stream& stream = inflater.stream;
    inflateReset(&stream);
    uint64_t position = dataStart;
    uint32_t left = item.compressedSize;
    int status = Z_OK;
    while (left > 0 && status != Z_STREAM_END) {
        const DWORD want = left < kBufferSize ? left : kBufferSize;
        if (!ReadAt(archive, position, inflater.input.data(), want)) return false;
        position += want;
        left -= want;
        if (item.method == 0) {
            if (!WriteAll(target, inflater.input.data(), want)) return false;
            continue;
        }
        stream.next_in = inflater.input.data();
        stream.avail_in = want;
        do {
            stream.next_out = inflater.output.data();
            stream.avail_out = kBufferSize;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
            const DWORD produced = kBufferSize - stream.avail_out;
            if (produced > 0 && !WriteAll(target, inflater.output.data(), produced)) return false;
        } while (stream.avail_out == 0 && status != Z_STREAM_END);
    }
    return true;
}

bool ExtractItem(HANDLE archive, const Directory& directory, const Item& item, const std::string& path,
                 Inflater& inflater) {
    unsigned char local[kLocalHeaderSize];
    const uint64_t headerAt = directory.bytesBefore + item.localOffset;
    if (!ReadAt(archive, headerAt, local, sizeof local)) return false;
    const uint64_t dataStart = headerAt + kLocalHeaderSize + Le16(local + 26) + Le16(local + 28);
    File target(CreateForWriting(path));
    return target.IsOpen() && WriteItem(archive, dataStart, item, target.handle, inflater);
}

int Unzip(const char* archivePath, const std::string& outFolder) {
    File archive(OpenForReading(archivePath));
    Directory directory;
    if (!archive.IsOpen() || !ReadDirectory(archive.handle, &directory)) return 1;
    (void)CreateDirectoryA(outFolder.c_str(), nullptr);
    Inflater inflater;
    std::string lastParent;
    size_t at = 0;
    for (uint32_t i = 0; i < directory.count; ++i) {
        const unsigned char* h = directory.bytes.data() + at;
        if (at + kCentralHeaderSize > directory.bytes.size() || Le32(h) != kCentralSignature) return 1;
        const uint16_t nameLength = Le16(h + 28);
        std::string name(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
        const Item item = {Le16(h + 10), Le32(h + 20), Le32(h + 42)};
        at += kCentralHeaderSize + nameLength + Le16(h + 30) + Le16(h + 32);
        const std::string path = outFolder + "\\" + name;
        if (!name.empty() && name.back() == '\\') {
            MakeParents(path, &lastParent);
            continue;
        }
        MakeParents(path, &lastParent);
        if (!ExtractItem(archive.handle, directory, item, path, inflater)) return 1;
    }
    return 0;
}

// The archive length is the installer's last 8 bytes, little-endian.
int CopyArchive(const char* installerPath, const char* destination) {
    File installer(OpenForReading(installerPath));
    if (!installer.IsOpen()) return 1;
    const uint64_t size = SizeOf(installer.handle);
    unsigned char trailer[8];
    if (size < sizeof trailer || !ReadAt(installer.handle, size - 8, trailer, sizeof trailer)) return 1;
    const uint64_t length = Le32(trailer) | static_cast<uint64_t>(Le32(trailer + 4)) << 32;
    if (length == 0 || length > size - 8) return 1;
    File output(CreateForWriting(destination));
    if (!output.IsOpen()) return 1;
    std::vector<unsigned char> chunk(kCopyChunk);
    const uint64_t start = size - 8 - length;
    for (uint64_t copied = 0; copied < length;) {
        const DWORD n = static_cast<DWORD>(length - copied < kCopyChunk ? length - copied : kCopyChunk);
        if (!ReadAt(installer.handle, start + copied, chunk.data(), n) || !WriteAll(output.handle, chunk.data(), n)) {
            return 1;
        }
        copied += n;
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int argc = __argc;
    char** argv = __argv;
    if (argc == 2 && std::strcmp(argv[1], "start") == 0) return 0;
    if (argc == 4 && std::strcmp(argv[1], "unzip") == 0) return Unzip(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "copy") == 0) return CopyArchive(argv[2], argv[3]);
    return 2;
}
