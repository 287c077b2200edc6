// kxpack build: package folder -> installer file (stub, padding, ZIP, trailer).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "ArchiveWriter.h"
#include "MadeFiles.h"
#include "Commands.h"
#include "PackageCheck.h"
#include "PackageTree.h"
#include "SolidArchive.h"
#include "Uninstaller.h"
#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"
#include "platform/Platform.h"

namespace kxpack {
namespace {

constexpr char kStubName[] = "kxsetup.exe";
// The installer reads its own size as a signed 32-bit number.
constexpr int64_t kLargestInstaller = INT32_MAX;

struct BuildOptions {
    std::string packageDir;
    std::string output;
    std::string stub;  // empty: look for the default stub
    bool fileInfoOnly = false;  // print the fileinfo.txt that would be made, build nothing
    bool addUninstaller = false;
    std::string uninstaller;  // --uninstaller=PATH; empty: look for the default one
    bool solid = false;  // --solid: the archive as one .xz stream; --plain: deflated items
};

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "kxpack: %s\n", message.c_str());
    return kExitFailure;
}

// 0 when the arguments are complete, else the usage error's exit code.
int ParseBuildArguments(const Arguments& args, BuildOptions* options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-o" || arg == "--stub") {
            if (i + 1 == args.size()) return UsageError("build: " + arg + " needs a path");
            (arg == "-o" ? options->output : options->stub) = args[++i];
        } else if (arg == "--fileinfo-only") {
            options->fileInfoOnly = true;
        } else if (arg == "--solid" || arg == "--plain") {
            options->solid = arg == "--solid";
        } else if (arg == "--uninstaller" || arg.compare(0, 14, "--uninstaller=") == 0) {
            options->addUninstaller = true;
            options->uninstaller = arg.size() > 14 ? arg.substr(14) : std::string();
            if (arg.size() == 14) return UsageError("build: --uninstaller= needs a path");
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("build: unknown option '" + arg + "'");
        } else if (options->packageDir.empty()) {
            options->packageDir = arg;
        } else {
            return UsageError("build: more than one PACKAGE_DIR");
        }
    }
    if (options->packageDir.empty()) return UsageError("build: PACKAGE_DIR missing");
    if (options->output.empty() && !options->fileInfoOnly) return UsageError("build: -o OUT.exe missing");
    return 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ExecutableFolder() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    const std::string path(buffer, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A program of ours beside the packer, else in dist/; empty when neither exists.
std::string FindDefaultProgram(const std::string& name) {
    const std::string folder = ExecutableFolder();
    if (!folder.empty() && IsRegularFile(folder + "/" + name)) return folder + "/" + name;
    if (IsRegularFile("dist/" + name)) return "dist/" + name;
    return std::string();
}

// SOURCE_DATE_EPOCH, when set, must be a plain count of seconds.
bool ReadSourceDateEpoch(bool* present, int64_t* seconds, std::string* error) {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    *present = text != nullptr;
    if (!*present) return true;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || errno != 0) {
        *error = std::string("SOURCE_DATE_EPOCH is not a number of seconds: '") + text + "'";
        return false;
    }
    *seconds = value;
    return true;
}

// A private folder beside the output, removed with everything in it when the
// build ends; the finished installer is renamed out of it, so a failed build
// never leaves a half-written output behind.
class ScratchFolder {
public:
    bool Create(const std::string& besidePath, std::string* error) {
        const std::filesystem::path parent = std::filesystem::path(besidePath).parent_path();
        std::string pattern = (parent.empty() ? std::string(".") : parent.string()) + "/.kxpack-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            *error = SystemError("cannot create a work folder for", besidePath);
            return false;
        }
        path_ = pattern;
        return true;
    }
    ~ScratchFolder() {
        std::error_code ignored;  // leftovers are harmless hidden files
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

bool WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Appends the file at path to out, its first limit bytes when limit is not
// negative; the bytes copied go to *copied.
bool AppendFile(int out, const std::string& path, int64_t limit, int64_t* copied, std::string* error) {
    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        *error = SystemError("cannot open", path);
        return false;
    }
    char buffer[65536];
    *copied = 0;
    bool ok = true;
    for (;;) {
        const size_t want = limit < 0 ? sizeof buffer : static_cast<size_t>(std::min<int64_t>(sizeof buffer, limit - *copied));
        if (want == 0) break;
        const ssize_t got = read(in, buffer, want);
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            *error = SystemError("cannot read", path);
            ok = false;
            break;
        }
        if (!WriteAll(out, buffer, static_cast<size_t>(got))) {
            *error = SystemError("cannot write the installer while copying", path);
            ok = false;
            break;
        }
        *copied += got;
    }
    close(in);
    return ok;
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// Zero bytes between stub and archive so that stub + padding + archive +
// trailer is a multiple of the file alignment.
uint32_t PaddingFor(int64_t stubSize, int64_t archiveSize) {
    const int64_t used = (stubSize + archiveSize + package::kTrailerSize) % package::kFileAlignment;
    return static_cast<uint32_t>((package::kFileAlignment - used) % package::kFileAlignment);
}

bool CheckSizes(int64_t stubSize, int64_t archiveSize, std::string* error) {
    if (stubSize < 0 || archiveSize < 0) {
        *error = "cannot read the size of the stub or the archive";
        return false;
    }
    const int64_t total = stubSize + PaddingFor(stubSize, archiveSize) + archiveSize + package::kTrailerSize;
    if (total > kLargestInstaller) {
        *error = "installer would be " + std::to_string(total) + " bytes; the installer reads at most 2 GiB - 1";
        return false;
    }
    return true;
}

// A stub signed on its own would carry its signature into the installer,
// where the appended package makes it invalid: worse than none. Such a
// stub's table is left behind, and its directory entry and the checksum are
// cleared in the output (StubCopy::Finish).
struct StubCopy {
    int64_t length = -1;  // bytes of the stub to copy; -1 for all
    package::CertificateTable table;
    bool wasSigned = false;

    bool Find(const std::string& stubPath) {
        platform::UniqueFile file(platform::OpenFileForReading(stubPath.c_str()));
        if (!file.IsOpen()) return false;
        wasSigned = package::FindCertificateTable(file.Get(), platform::GetFileSize(file.Get()), &table);
        if (wasSigned) length = table.start;
        return true;
    }
    bool Finish(int out) const {
        if (!wasSigned) return true;
        const unsigned char zeros[8] = {};
        return pwrite(out, zeros, 8, table.directoryEntryAt) == 8 && pwrite(out, zeros, 4, table.checksumAt) == 4;
    }
};

// Writes stub, padding, archive and trailer to the new file installerPath.
bool AssembleInstaller(const std::string& stubPath, const std::string& archivePath,
                       const std::string& installerPath, std::string* error) {
    StubCopy stubCopy;
    if (!stubCopy.Find(stubPath)) {
        *error = SystemError("cannot open", stubPath);
        return false;
    }
    if (stubCopy.wasSigned) {
        std::fprintf(stderr,
                     "kxpack: warning: %s is signed; its signature was removed, since the appended package would "
                     "make it invalid. Sign the finished installer instead.\n",
                     stubPath.c_str());
    }
    const int64_t stubSize = stubCopy.wasSigned ? stubCopy.length : FileSize(stubPath);
    const int64_t archiveSize = FileSize(archivePath);
    if (!CheckSizes(stubSize, archiveSize, error)) return false;
    // Executable like a linker's output: 0777 less the umask.
    const int out = open(installerPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
    if (out < 0) {
        *error = SystemError("cannot create", installerPath);
        return false;
    }
    int64_t copiedStub = 0;
    int64_t copiedArchive = 0;
    bool ok = AppendFile(out, stubPath, stubCopy.length, &copiedStub, error);
    const char zeros[package::kFileAlignment] = {};
    ok = ok && WriteAll(out, zeros, PaddingFor(copiedStub, archiveSize));
    ok = ok && AppendFile(out, archivePath, -1, &copiedArchive, error);
    unsigned char trailer[package::kTrailerSize];
    package::WriteLe64(trailer, static_cast<uint64_t>(copiedArchive));
    ok = ok && copiedStub == stubSize && copiedArchive == archiveSize && WriteAll(out, trailer, sizeof trailer);
    ok = ok && stubCopy.Finish(out);
    ok = ok && fsync(out) == 0;
    if (close(out) != 0) ok = false;
    if (!ok && error->empty()) *error = SystemError("cannot write", installerPath);
    return ok;
}

// Collects and checks the package.
bool LoadPackage(const std::string& packageDir, std::vector<PackageEntry>* entries, std::string* error) {
    if (!CollectPackageEntries(packageDir, entries, error) || !CheckPackageEntries(*entries, error)) return false;
    if (entries->empty()) {
        *error = "package folder is empty: " + packageDir;
        return false;
    }
    return true;
}

// With SOURCE_DATE_EPOCH every time becomes that value.
bool FixTimes(std::vector<PackageEntry>* entries, std::string* error) {
    bool fixedTime = false;
    int64_t epoch = 0;
    if (!ReadSourceDateEpoch(&fixedTime, &epoch, error)) return false;
    if (fixedTime) {
        // DOS times are local times: work in UTC so the bytes do not depend
        // on the build machine's time zone.
        setenv("TZ", "UTC0", 1);
        tzset();
        for (PackageEntry& entry : *entries) entry.modified = epoch;
    }
    return true;
}

bool AddUninstallerTo(const std::string& packageDir, const BuildOptions& options, const std::string& scratch,
                      std::vector<PackageEntry>* entries, std::string* error) {
    const std::vector<UninstallerConflict> conflicts = FindUninstallerConflicts(*entries);
    if (!conflicts.empty()) {
        *error = packageDir + "/" + conflicts.front().item + ": " + conflicts.front().message;
        return false;
    }
    const std::string program = options.uninstaller.empty() ? FindDefaultProgram(kUninstallerProgram) : options.uninstaller;
    if (program.empty()) {
        *error = std::string("no uninstaller: ") + kUninstallerProgram + " is neither beside kxpack nor in dist/; pass "
                 "--uninstaller=PATH";
        return false;
    }
    return AddUninstaller(entries, program, scratch, error);
}

// The plain archive at zipPath; for a solid package its payload stored and
// the whole compressed into archivePath. The stub decompresses it into a
// copy that its reader reads with 32-bit offsets, so that copy is bounded
// like a plain installer.
bool WriteChosenArchive(const std::vector<PackageEntry>& entries, bool solid, const std::string& zipPath,
                        const std::string& archivePath, std::string* error) {
    if (!solid) return WriteArchive(entries, zipPath, PayloadMethod::Deflate, error);
    if (!WriteArchive(SolidOrder(entries), zipPath, PayloadMethod::Store, error)) return false;
    const int64_t zipSize = FileSize(zipPath);
    if (zipSize > kLargestInstaller) {
        *error = "the solid archive would hold " + std::to_string(zipSize) +
                 " bytes; the installer decompresses at most 2 GiB - 1";
        return false;
    }
    return WriteSolidArchive(zipPath, archivePath, error);
}

}  // namespace

// Without a fileinfo.txt of its own, a package places every payload file in
// the install folder, as the list made here says.
bool MakeFileInfo(const std::string& packageDir, const std::string& scratch, std::vector<PackageEntry>* entries,
                  std::string* error) {
    if (FindEntry(entries, kControlPrefix + "fileinfo.txt") != nullptr) return true;
    AddControlFolder(entries);
    if (!PutControlFile(entries, "fileinfo.txt", FileInfoFor(*entries), scratch, error)) return false;
    SortPackageEntries(entries);
    std::fprintf(stderr,
                 "kxpack: %s has no %sfileinfo.txt: the archive gets one that places every payload file in the "
                 "install folder (kxpack build --fileinfo-only prints it)\n",
                 packageDir.c_str(), kControlPrefix.c_str());
    return true;
}

int PrintFileInfo(const BuildOptions& options) {
    std::vector<PackageEntry> entries;
    std::string error;
    if (!LoadPackage(options.packageDir, &entries, &error)) return Fail(error);
    std::fputs(FileInfoFor(entries).c_str(), stdout);
    return kExitOk;
}

int RunBuild(const Arguments& args) {
    BuildOptions options;
    if (const int usage = ParseBuildArguments(args, &options)) return usage;
    if (options.fileInfoOnly) return PrintFileInfo(options);
    const std::string stub = options.stub.empty() ? FindDefaultProgram(kStubName) : options.stub;
    if (stub.empty()) {
        return Fail(std::string("no installer stub: ") + kStubName + " is neither beside kxpack nor at dist/" +
                    kStubName + "; pass --stub PATH");
    }
    if (!IsRegularFile(stub)) return Fail("installer stub not found: " + stub);

    std::string error;
    std::vector<PackageEntry> entries;
    if (!LoadPackage(options.packageDir, &entries, &error)) return Fail(error);
    // Findings warn but never stop a build: the installer runs either way.
    PackageContents contents = ContentsOfFolder(options.packageDir, entries);
    contents.addsUninstaller = options.addUninstaller;
    for (const Finding& finding : CheckPackage(contents)) {
        std::fprintf(stderr, "kxpack: warning: %s\n", FormatFinding(finding).c_str());
    }

    ScratchFolder scratch;
    if (!scratch.Create(options.output, &error)) return Fail(error);
    if (!MakeFileInfo(options.packageDir, scratch.Path(), &entries, &error)) return Fail(error);
    if (options.addUninstaller &&
        !AddUninstallerTo(options.packageDir, options, scratch.Path(), &entries, &error)) {
        return Fail(error);
    }
    if (!FixTimes(&entries, &error)) return Fail(error);
    const std::string zipPath = scratch.Path() + "/archive.zip";
    const std::string installerPath = scratch.Path() + "/installer.exe";
    const std::string archivePath = options.solid ? scratch.Path() + "/archive.solid" : zipPath;
    if (!WriteChosenArchive(entries, options.solid, zipPath, archivePath, &error)) return Fail(error);
    if (!AssembleInstaller(stub, archivePath, installerPath, &error)) return Fail(error);
    if (rename(installerPath.c_str(), options.output.c_str()) != 0) {
        return Fail(SystemError("cannot write", options.output));
    }
    if (options.solid) {
        std::printf("%s: %zu items, solid archive %lld bytes of %lld\n", options.output.c_str(), entries.size(),
                    static_cast<long long>(FileSize(archivePath)), static_cast<long long>(FileSize(zipPath)));
    } else {
        std::printf("%s: %zu items, archive %lld bytes\n", options.output.c_str(), entries.size(),
                    static_cast<long long>(FileSize(archivePath)));
    }
    return kExitOk;
}

}  // namespace kxpack
