// Shared by the commands that read installers back through the installer's
// own archive reader.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "Commands.h"
#include "archive/PackageLocator.h"
#include "archive/XzFile.h"
#include "platform/Platform.h"

namespace kxpack {

namespace {

std::string TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && base[0] != '\0' ? base : "/tmp";
}

const char* DescribeXzResult(xz::XzFileResult result) {
    switch (result) {
        case xz::XzFileResult::ok: return "ok";
        case xz::XzFileResult::damaged: return "its stream is damaged";
        case xz::XzFileResult::tooLarge: return "its stream asks for a larger dictionary than the installer allows";
        case xz::XzFileResult::cancelled: return "cancelled";
        case xz::XzFileResult::readFailed: return "its stream cannot be read";
        case xz::XzFileResult::writeFailed: return "the decompressed archive cannot be written";
    }
    return "unknown result";
}

}  // namespace

SolidCopy::~SolidCopy() {
    if (file_ >= 0) close(file_);
    if (!path_.empty()) unlink(path_.c_str());
}

bool SolidCopy::Decompress(platform::FileHandle installer, const package::PackageLocation& where, std::string* reason) {
    std::string pattern = TemporaryFolder() + "/kxpack-solid-XXXXXX";
    file_ = mkstemp(pattern.data());
    if (file_ < 0) {
        *reason = "no temporary file for the decompressed archive in " + TemporaryFolder();
        return false;
    }
    path_ = pattern;
    const xz::XzFileResult result = xz::DecompressXzFile(installer, where.archiveStart, where.StreamLength(), file_,
                                                         xz::kMaxSolidDictionary, xz::XzProgress(), &length_);
    if (result != xz::XzFileResult::ok) {
        *reason = std::string("the solid archive cannot be decompressed: ") + DescribeXzResult(result);
        return false;
    }
    return true;
}

ArchivePtr OpenPackageForReading(const std::string& path, int32_t* count) {
    *count = 0;
    // An installer's archive ends before its trailer and any signature; a
    // plain ZIP file is read as it is, and a solid installer's archive is
    // read from its decompressed copy.
    int64_t archiveEnd = -1;
    std::string archivePath = path;
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    package::PackageLocation where;
    std::string reason;
    SolidCopy copy;
    if (file.IsOpen() && package::LocatePackage(file.Get(), &where, &reason)) archiveEnd = where.ArchiveEnd();
    if (archiveEnd >= 0 && where.isSolid) {
        if (!copy.Decompress(file.Get(), where, &reason)) {
            std::fprintf(stderr, "kxpack: %s: %s\n", path.c_str(), reason.c_str());
            return ArchivePtr();
        }
        archivePath = copy.Path();
        archiveEnd = -1;
    }
    // The reader keeps its own handle: the copy's name may go once it is open.
    ArchivePtr archive(OpenArchiveEndingAt(archivePath.c_str(), archiveEnd));
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
