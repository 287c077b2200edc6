// kxpack list: one tab-separated line per archive item.
#include <cstdio>
#include <ctime>

#include "Commands.h"

namespace kxpack {
namespace {

constexpr int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

// FILETIME (100 ns units since 1601, UTC) as YYYY-MM-DDTHH:MM:SSZ.
std::string FormatFileTime(uint64_t fileTime) {
    const int64_t seconds = static_cast<int64_t>(fileTime / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
    const time_t unixTime = static_cast<time_t>(seconds);
    struct tm utc {};
    char text[32] = "?";
    if (gmtime_r(&unixTime, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void PrintEntry(const ArchiveEntry& entry) {
    std::printf("%d\t%s\t%d\t%d\t0x%08x\t%s\n", static_cast<int>(entry.index), entry.name,
                static_cast<int>(entry.uncompressedSize), static_cast<int>(entry.compressedSize),
                static_cast<unsigned>(entry.attributes), FormatFileTime(entry.writeTime).c_str());
}

}  // namespace

int RunList(const Arguments& args) {
    if (args.size() != 1) return UsageError("list takes exactly one FILE");
    int32_t count = 0;
    ArchivePtr archive = OpenPackageForReading(args[0], &count);
    if (!archive) return kExitFailure;
    int status = kExitOk;
    for (int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        const ArchiveResult result = GetArchiveItem(archive.get(), i, &entry);
        if (result != ArchiveResult::Ok) {
            std::fprintf(stderr, "kxpack: item %d: %s\n", static_cast<int>(i), DescribeArchiveResult(result));
            status = kExitFailure;
            continue;
        }
        PrintEntry(entry);
    }
    return status;
}

}  // namespace kxpack
