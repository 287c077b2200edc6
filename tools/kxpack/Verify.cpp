// kxpack verify: checks an installer the way the installer checks itself.
#include <cstdio>

#include "Commands.h"
#include "archive/PackageLocator.h"
#include "platform/Platform.h"

namespace kxpack {

int RunVerify(const Arguments& args) {
    if (args.size() != 1) return UsageError("verify takes exactly one FILE");
    const std::string& path = args[0];
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    package::PackageLocation where;
    std::string reason = "the file cannot be opened";
    const bool intact = file.IsOpen() && package::LocatePackage(file.Get(), &where, &reason) &&
                        package::CheckIntegrity(file.Get(), where, &reason);
    if (!intact) {
        std::printf("%s: damaged: %s\n", path.c_str(), reason.c_str());
        return kExitFailure;
    }
    std::printf("%s: intact, %s\n", path.c_str(), where.isSigned ? "signed" : "unsigned");
    return kExitOk;
}

}  // namespace kxpack
