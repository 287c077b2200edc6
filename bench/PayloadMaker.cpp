// Writes a benchmark package folder: a payload generated from fixed seeds
// under app/, and the %KXInstall% control files that make the installer
// open on the folder page and place every payload file.
//
//   kx_bench_payload small PACKAGE_DIR INSTALL_FOLDER COUNT
//       COUNT files of 1 to 16 KiB, text-like or random bytes, in nested folders
//   kx_bench_payload large PACKAGE_DIR INSTALL_FOLDER
//       four files of 64 MiB, two text-like, two random
//
// The same arguments give the same bytes on every run and every machine.
// Prints "files=N bytes=B" on success; exit code 1 on any write failure.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSmallSeed = 0x4B58B001;
constexpr uint64_t kLargeSeed = 0x4B58B0FF;
constexpr uint32_t kSmallMin = 1024;
constexpr uint32_t kSmallMax = 16384;
constexpr int kLargeCount = 4;
constexpr uint64_t kLargeSize = 64ull << 20;  // four make 256 MiB
constexpr int kFilesPerFolder = 40;
constexpr int kFoldersPerGroup = 10;
constexpr size_t kChunk = 1 << 16;

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

const char* const kWords[] = {
    "install", "setup", "folder",  "the",    "of",      "file",      "archive", "version", "user",     "program",
    "data",    "value", "=",       "true",   "false",   "window",    "license", "update",  "path",     "system",
    "default", "and",   "to",      "in",     "is",      "for",       "with",    "string",  "resource", "dialog",
    "icon",    "key",   "section", "<item>", "</item>", "component", "option",  "config",  "shortcut", "registry",
};
constexpr uint32_t kWordCount = sizeof kWords / sizeof kWords[0];

struct PlannedFile {
    std::string name;  // relative, "/" between folders
    bool text = true;
    uint64_t size = 0;
    uint64_t seed = 0;
};

// Words and numbers in lines: compresses about as program text does.
void FillText(Random& random, unsigned char* out, size_t n) {
    size_t at = 0;
    while (at < n) {
        const uint64_t r = random.Next();
        char piece[32];
        size_t length = 0;
        if ((r >> 40) % 9 == 0) {
            length = static_cast<size_t>(std::snprintf(piece, sizeof piece, "%u ", static_cast<unsigned>((r >> 20) % 100000)));
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

void FillNoise(Random& random, unsigned char* out, size_t n) {
    for (size_t at = 0; at < n; at += 8) {
        const uint64_t r = random.Next();
        std::memcpy(out + at, &r, std::min<size_t>(8, n - at));
    }
}

bool WriteContent(const fs::path& path, const PlannedFile& file) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    Random random(file.seed);
    std::vector<unsigned char> buffer(kChunk);
    bool ok = true;
    for (uint64_t left = file.size; left > 0 && ok;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        if (file.text) {
            FillText(random, buffer.data(), n);
        } else {
            FillNoise(random, buffer.data(), n);
        }
        ok = std::fwrite(buffer.data(), 1, n, out) == n;
        left -= n;
    }
    return std::fclose(out) == 0 && ok;
}

// Two folder levels, 40 files to a folder, 10 folders to a group: a package
// of n files has about n / 40 folders, as an application's tree would.
std::vector<PlannedFile> PlanSmallFiles(int count) {
    Random random(kSmallSeed);
    std::vector<PlannedFile> files;
    for (int i = 0; i < count; ++i) {
        const int folder = i / kFilesPerFolder;
        PlannedFile file;
        file.text = random.Below(2) == 0;
        char name[96];
        std::snprintf(name, sizeof name, "app/g%03d/f%02d/item%05d.%s", folder / kFoldersPerGroup,
                      folder % kFoldersPerGroup, i, file.text ? "txt" : "bin");
        file.name = name;
        file.size = kSmallMin + random.Below(kSmallMax - kSmallMin + 1);
        file.seed = random.Next();
        files.push_back(file);
    }
    return files;
}

std::vector<PlannedFile> PlanLargeFiles() {
    std::vector<PlannedFile> files;
    for (int i = 0; i < kLargeCount; ++i) {
        PlannedFile file;
        file.text = i % 2 == 0;  // half of the bytes compress, half do not
        file.name = std::string("app/media/") + (file.text ? "text" : "noise") + std::to_string(i) + ".dat";
        file.size = kLargeSize;
        file.seed = kLargeSeed + static_cast<uint64_t>(i);
        files.push_back(file);
    }
    return files;
}

bool WriteText(const fs::path& path, const std::string& text) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && ok;
}

// No fileinfo.txt: kxpack writes one that places every file under
// "%install path%\", as an author's package of thousands of files would
// have it. No welcome text and no license, so the wizard opens on the folder
// page; progress in the wizard.
bool WriteControlFiles(const fs::path& package, const std::string& installFolder) {
    const fs::path control = package / "%KXInstall%";
    std::error_code error;
    fs::create_directories(control, error);
    if (error) return false;
    return WriteText(control / "tt.txt", "KX Bench") &&
           WriteText(control / "def_install.txt", installFolder + "\r\n") &&
           WriteText(control / "installer_settings.txt", "1\r\nfalse\r\n");
}

bool WritePayload(const fs::path& package, const std::vector<PlannedFile>& files) {
    for (const PlannedFile& file : files) {
        const fs::path path = package / file.name;
        std::error_code error;
        fs::create_directories(path.parent_path(), error);
        if (error || !WriteContent(path, file)) {
            std::fprintf(stderr, "kx_bench_payload: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_bench_payload small PACKAGE_DIR INSTALL_FOLDER COUNT\n"
                 "       kx_bench_payload large PACKAGE_DIR INSTALL_FOLDER\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string kind = argv[1];
    std::vector<PlannedFile> files;
    if (kind == "small" && argc == 5) {
        const int count = std::atoi(argv[4]);
        if (count <= 0) return Usage();
        files = PlanSmallFiles(count);
    } else if (kind == "large" && argc == 4) {
        files = PlanLargeFiles();
    } else {
        return Usage();
    }
    const fs::path package = argv[2];
    if (!WritePayload(package, files) || !WriteControlFiles(package, argv[3])) {
        std::fprintf(stderr, "kx_bench_payload: cannot write the package in %s\n", package.c_str());
        return 1;
    }
    uint64_t bytes = 0;
    for (const PlannedFile& file : files) bytes += file.size;
    std::printf("files=%zu bytes=%llu\n", files.size(), static_cast<unsigned long long>(bytes));
    return 0;
}
