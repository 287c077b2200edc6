// kxpack verify: checks an installer the way the installer checks itself.
#include <cstdio>

#include "Commands.h"
#include "archive/PackageLocator.h"
#include "platform/Platform.h"

namespace kxpack {
namespace {

// The installer decompresses a solid archive before it reads it, and calls
// it damaged when the stream fails its checks or holds no whole ZIP archive.
bool CheckSolidContents(platform::FileHandle file, const package::PackageLocation& where, std::string* reason) {
    SolidCopy copy;
    if (!copy.Decompress(file, where, reason)) return false;
    package::PackageLocation inner;
    if (!package::CheckPlainArchive(copy.File(), copy.Length(), &inner, reason)) {
        *reason = "the solid archive's ZIP archive: " + *reason;
        return false;
    }
    return true;
}

}  // namespace

int RunVerify(const Arguments& args) {
    if (args.size() != 1) return UsageError("verify takes exactly one FILE");
    const std::string& path = args[0];
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    package::PackageLocation where;
    std::string reason = "the file cannot be opened";
    bool intact = file.IsOpen() && package::LocatePackage(file.Get(), &where, &reason) &&
                        package::CheckIntegrity(file.Get(), where, &reason);
    if (intact && where.isSolid) intact = CheckSolidContents(file.Get(), where, &reason);
    if (!intact) {
        std::printf("%s: damaged: %s\n", path.c_str(), reason.c_str());
        return kExitFailure;
    }
    std::printf("%s: intact, %s%s\n", path.c_str(), where.isSolid ? "solid, " : "",
                where.isSigned ? "signed" : "unsigned");
    return kExitOk;
}

}  // namespace kxpack
