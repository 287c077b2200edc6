#pragma once
// The packer's commands. Each takes the arguments that follow its own name
// and returns the process exit code; messages go to stderr, results to stdout.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/PackageLocator.h"
#include "platform/Platform.h"

namespace kxpack {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Arguments = std::vector<std::string>;

int RunBuild(const Arguments& args);
int RunList(const Arguments& args);
int RunExtract(const Arguments& args);
int RunCheck(const Arguments& args);
int RunVerify(const Arguments& args);

// Prints "kxpack: message" and a pointer to --help on stderr; returns kExitUsage.
int UsageError(const std::string& message);

// Closes an archive handle when it goes out of scope.
struct ArchiveCloser {
    void operator()(ArchiveReaderState* handle) const { (void)CloseArchive(handle); }  // nothing to recover
};
using ArchivePtr = std::unique_ptr<ArchiveReaderState, ArchiveCloser>;

// A solid installer's ZIP archive, decompressed as the installer does into
// a temporary file, which goes with this object.
class SolidCopy {
public:
    SolidCopy() = default;
    ~SolidCopy();
    SolidCopy(const SolidCopy&) = delete;
    SolidCopy& operator=(const SolidCopy&) = delete;
    // False with a short lower-case reason when the stream cannot be
    // decompressed (or no temporary file made).
    bool Decompress(platform::FileHandle installer, const package::PackageLocation& where, std::string* reason);
    const std::string& Path() const { return path_; }
    platform::FileHandle File() const { return file_; }
    int64_t Length() const { return length_; }

private:
    int file_ = -1;
    std::string path_;
    int64_t length_ = 0;
};

// Opens path with the installer's archive reader and puts the item count in
// *count; a solid installer's archive is decompressed first. Null, after one
// line on stderr, when the file holds no archive.
ArchivePtr OpenPackageForReading(const std::string& path, int32_t* count);

// A short lower-case description of a reader result, for messages.
const char* DescribeArchiveResult(ArchiveResult result);

}  // namespace kxpack
