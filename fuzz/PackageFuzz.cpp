// Feeds arbitrary bytes to the package locator as an installer file, as the
// stub does with its own file before it copies anything. Besides the
// sanitizers' checks it verifies that a located archive lies inside the file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "archive/PackageLocator.h"
#include "platform/Platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/kx-fuzz-package-" + std::to_string(getpid()) + ".exe";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    platform::UniqueFile installer(platform::OpenFileForReading(path.c_str()));
    package::PackageLocation where;
    std::string reason;
    if (package::LocatePackage(installer.Get(), &where, &reason)) {
        if (where.archiveStart < 0 || where.archiveLength <= 0 ||
            where.ArchiveEnd() + 8 > static_cast<int64_t>(size) || where.coveredLength > where.archiveLength) {
            std::fprintf(stderr, "located archive outside the file\n");
            std::abort();
        }
        (void)package::CheckIntegrity(installer.Get(), where, &reason);
    } else if (reason.empty()) {
        std::fprintf(stderr, "a refused package without a reason\n");
        std::abort();
    }
    return 0;
}
