// The copy-out of a 256 MiB package, with and without the integrity record:
// what computing the CRC-32 inside the copy loop costs. Both installers hold
// the same archive bytes but for the end record's comment; runs alternate and
// the medians are printed side by side.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "startup/PackageLoader.h"
#include "state/Workspace.h"
#include "BenchTiming.h"

namespace {

constexpr size_t kPayloadBytes = size_t(256) << 20;
constexpr double kTargetRatio = 1.05;

void PutLe(std::string* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>(value >> (8 * i)));
}

// One stored item of incompressible bytes, as an installer around a stub.
std::string MakeInstaller(const std::string& data, bool withRecord) {
    const std::string name = "data/payload.bin";
    const uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    std::string header;
    PutLe(&header, 0, 2);  // flags
    PutLe(&header, 0, 2);  // stored
    PutLe(&header, 0, 4);  // DOS time and date
    PutLe(&header, crc, 4);
    PutLe(&header, data.size(), 4);
    PutLe(&header, data.size(), 4);
    PutLe(&header, name.size(), 2);
    PutLe(&header, 0, 2);  // extra
    std::string archive = "PK\x03\x04";
    PutLe(&archive, 20, 2);
    archive += header + name + data;
    const size_t directoryOffset = archive.size();
    archive += "PK\x01\x02";
    PutLe(&archive, 20, 2);
    PutLe(&archive, 20, 2);
    archive += header;
    PutLe(&archive, 0, 2 + 2 + 2 + 4);  // comment, disk, internal and external attributes
    PutLe(&archive, 0, 4);              // local header offset
    archive += name;
    const size_t directorySize = archive.size() - directoryOffset;
    const std::string comment = withRecord ? "KXCRC32=00000000" : "";
    archive += "PK\x05\x06";
    PutLe(&archive, 0, 4);
    PutLe(&archive, 1, 2);
    PutLe(&archive, 1, 2);
    PutLe(&archive, directorySize, 4);
    PutLe(&archive, directoryOffset, 4);
    PutLe(&archive, comment.size(), 2);
    archive += comment;
    if (withRecord) {
        const uLong covered = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(archive.data()),
                                    static_cast<uInt>(archive.size() - 38));
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(covered));
        archive.replace(archive.size() - 8, 8, digits);
    }
    std::string installer(4096, 'S');
    installer += archive;
    PutLe(&installer, archive.size(), 8);
    return installer;
}

double CopyOnce(const std::string& installer) {
    InstallerState state;
    const auto start = std::chrono::steady_clock::now();
    const CopyResult result = CopyArchiveOut(state, installer, ArchiveCopyPath(), CopyProgress());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // The copy is held, as in an installer, until released; releasing it
    // deletes it, so the next copy is a new file again, as the loader wants.
    ReleaseArchiveCopy();
    if (result != CopyResult::Copied) {
        std::fprintf(stderr, "copy-out of %s failed\n", installer.c_str());
        std::exit(1);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <scratch folder> [repetitions]\n", argv[0]);
        return 2;
    }
    const std::string scratch = argv[1];
    const int repetitions = argc == 3 ? std::atoi(argv[2]) : 7;
    std::filesystem::create_directories(scratch + "/temp");
    // The workspace lands in the scratch folder.
#ifdef _WIN32
    _putenv_s("TMP", (scratch + "\\temp").c_str());
#else
    setenv("TMPDIR", (scratch + "/temp").c_str(), 1);
#endif

    std::string data(kPayloadBytes, '\0');
    uint64_t x = 88172645463325252ull;
    for (size_t i = 0; i < data.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (int b = 0; b < 8; ++b) data[i + b] = static_cast<char>(x >> (8 * b));
    }
    const std::string plain = scratch + "/plain.exe";
    const std::string checked = scratch + "/checked.exe";
    std::ofstream(plain, std::ios::binary) << MakeInstaller(data, false);
    std::ofstream(checked, std::ios::binary) << MakeInstaller(data, true);
    data.clear();

    std::vector<double> plainMs;
    std::vector<double> checkedMs;
    (void)CopyOnce(plain);  // warms the page cache for both
    (void)CopyOnce(checked);
    for (int i = 0; i < repetitions; ++i) {
        plainMs.push_back(CopyOnce(plain));
        checkedMs.push_back(CopyOnce(checked));
    }
    const double plainMedian = Median(plainMs);
    const double checkedMedian = Median(checkedMs);
    const double ratio = checkedMedian / plainMedian;
#ifdef _WIN32
    const char* build = "Windows build";
#else
    const char* build = "host build";
#endif
    std::printf("\nCopy-out of a 256 MiB package, %s: median of %d alternating runs\n", build, repetitions);
    std::printf("  without integrity record %8.1f ms\n", plainMedian);
    std::printf("  with integrity record    %8.1f ms (CRC-32 in the copy loop)\n", checkedMedian);
    std::printf("  with/without %.3f (target <= %.2f: %s)\n", ratio, kTargetRatio,
                ratio <= kTargetRatio ? "met" : "MISSED");
    std::filesystem::remove_all(scratch);
    return 0;
}
