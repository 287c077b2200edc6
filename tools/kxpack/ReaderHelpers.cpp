// Shared by the commands that read installers back through the installer's
// own archive reader.
#include <cstdio>

#include "Commands.h"
#include "archive/PackageLocator.h"
#include "platform/Platform.h"

namespace kxpack {

ArchivePtr OpenPackageForReading(const std::string& path, int32_t* count) {
    *count = 0;
    // An installer's archive ends before its trailer and any signature; a
    // plain ZIP file is read as it is.
    int64_t archiveEnd = -1;
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    package::PackageLocation where;
    std::string reason;
    if (file.IsOpen() && package::LocatePackage(file.Get(), &where, &reason)) archiveEnd = where.ArchiveEnd();
    ArchivePtr archive(OpenArchiveEndingAt(path.c_str(), archiveEnd));
    if (!archive) {
        std::fprintf(stderr, "kxpack: %s: not an installer or ZIP archive (or cannot be read)\n", path.c_str());
        return archive;
    }
    ArchiveEntry summary;
    if (GetArchiveItem(archive.get(), -1, &summary) == ArchiveResult::Ok) *count = summary.index;
    return archive;
}

const char* DescribeArchiveResult(ArchiveResult result) {
    switch (result) {
        case ArchiveResult::Ok: return "ok";
        case ArchiveResult::FileOpenFailed: return "file could not be opened or created";
        case ArchiveResult::WriteFailed: return "write failed";
        case ArchiveResult::Corrupt: return "corrupt item headers";
        case ArchiveResult::ReadFailed: return "extra field could not be read";
        case ArchiveResult::ChecksumFailed: return "data does not match its checksum or size";
        case ArchiveResult::UnsafeName: return "name would leave the target folder";
        case ArchiveResult::PasswordMismatch: return "encrypted item";
        case ArchiveResult::BadArgument: return "bad argument";
        case ArchiveResult::WrongHandleKind: return "wrong handle";
        case ArchiveResult::InflateFailed: return "decompression failed or data ended early";
    }
    return "unknown result";
}

}  // namespace kxpack
