#pragma once
// Helpers for the packer tests: a temporary folder, whole-file I/O, running
// the built kxpack, and a small package folder to build from.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kxtest {

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes data to path, creating the folders on the way.
void WriteFile(const std::string& path, const std::string& data);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void SetModifiedTime(const std::string& path, int64_t seconds);

struct RunResult {
    int exitCode = -1;  // -1 when kxpack did not exit normally
    std::string out;
    std::string err;
};

// Runs the built kxpack with args, in workingFolder when one is given.
// SOURCE_DATE_EPOCH is removed from its environment unless env sets it; env
// adds or replaces variables.
RunResult RunKxpack(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                    const std::string& workingFolder = "");

// The archive between stub and trailer of an installer file's bytes, as the
// trailer locates it; empty when the trailer does not fit.
std::string ArchiveRegion(const std::string& installer);

// A package folder holding control files, payload in sub-folders, an empty
// folder, an empty file, a read-only file and binary data larger than the
// reader's 64 KB buffers. Returns the stored names in the order kxpack must
// write them.
std::vector<std::string> MakeTestPackage(const std::string& folder);

// A few hundred bytes standing in for the installer stub.
std::string MakeFakeStub(const std::string& path, size_t size = 301);

// Stored names of an archive file, in order, read through the installer's reader.
std::vector<std::string> ReaderNames(const std::string& path);

}  // namespace kxtest
