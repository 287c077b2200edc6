#include "KxpackTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"

extern char** environ;

namespace kxtest {

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/kxpack-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;  // a leftover temporary folder is harmless
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& data) {
    std::error_code ignored;  // a failure shows up when the file is read back
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void SetModifiedTime(const std::string& path, int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    (void)utimensat(AT_FDCWD, path.c_str(), times, 0);  // checked through the archive's times
}

namespace {

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& env) {
    std::vector<std::string> result;
    for (char** item = environ; *item != nullptr; ++item) {
        const std::string entry = *item;
        const std::string name = entry.substr(0, entry.find('='));
        if (name != "SOURCE_DATE_EPOCH" && env.count(name) == 0) result.push_back(entry);
    }
    for (const auto& [name, value] : env) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

RunResult RunKxpack(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                    const std::string& workingFolder) {
    TempFolder capture;
    const std::string outPath = capture / "stdout";
    const std::string errPath = capture / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!workingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());

    std::vector<std::string> argv = {KXPACK_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = ChildEnvironment(env);
    std::vector<char*> argvPointers = PointersTo(argv);
    std::vector<char*> envPointers = PointersTo(envp);

    RunResult result;
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, KXPACK_PATH, &actions, nullptr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

std::string ArchiveRegion(const std::string& installer) {
    if (installer.size() < package::kTrailerSize) return std::string();
    const size_t trailerAt = installer.size() - package::kTrailerSize;
    const uint64_t length = package::ReadLe64(reinterpret_cast<const unsigned char*>(installer.data() + trailerAt));
    if (length > trailerAt) return std::string();
    return installer.substr(trailerAt - length, length);
}

namespace {

// Bytes of every value, then noise that deflate cannot shrink, then text it
// can: about 150 KB, so items span several of the reader's 64 KB buffers.
std::string MakeBinaryData() {
    std::string data;
    for (int i = 0; i < 256; ++i) data += static_cast<char>(i);
    uint32_t state = 12345;
    for (int i = 0; i < 150000; ++i) {
        state = state * 1103515245u + 12345u;
        data += static_cast<char>(state >> 24);
    }
    for (int i = 0; i < 2000; ++i) data += "line " + std::to_string(i) + " of sample data\r\n";
    return data;
}

}  // namespace

std::vector<std::string> MakeTestPackage(const std::string& folder) {
    const std::string control = folder + "/%KXInstall%";
    WriteFile(control + "/tt.txt", "Demo Setup");
    WriteFile(control + "/fileinfo.txt", "readme.txt|%install path%\\\r\nbin\\data.bin|%install path%\\\r\n////\r\n");
    WriteFile(control + "/img/1/logo.bmp", std::string("BM\0\0\x7f\x80\xff", 7));
    WriteFile(folder + "/#notes.txt", "sorts before the control folder byte-wise\n");
    WriteFile(folder + "/Zeta.txt", "upper case sorts before lower case\n");
    WriteFile(folder + "/bin/data.bin", MakeBinaryData());
    WriteFile(folder + "/bin/readonly.dat", "read-only payload\n");
    chmod((folder + "/bin/readonly.dat").c_str(), 0444);
    std::filesystem::create_directories(folder + "/empty");
    WriteFile(folder + "/readme.txt", "Read me.\r\n");
    WriteFile(folder + "/zero.txt", "");
    return {
        "%KXInstall%/",        "%KXInstall%/fileinfo.txt", "%KXInstall%/img/", "%KXInstall%/img/1/",
        "%KXInstall%/img/1/logo.bmp", "%KXInstall%/tt.txt", "#notes.txt",       "Zeta.txt",
        "bin/",                "bin/data.bin",             "bin/readonly.dat", "empty/",
        "readme.txt",          "zero.txt",
    };
}

std::string MakeFakeStub(const std::string& path, size_t size) {
    std::string stub = "MZ";
    for (size_t i = stub.size(); i < size; ++i) stub += static_cast<char>((i * 37 + 11) & 0xff);
    WriteFile(path, stub);
    return stub;
}

std::vector<std::string> ReaderNames(const std::string& path) {
    std::vector<std::string> names;
    ArchiveHandle archive = OpenArchive(path.c_str());
    if (archive == nullptr) return names;
    ArchiveEntry entry;
    (void)GetArchiveItem(archive, -1, &entry);  // a failure leaves the count 0
    const int32_t count = entry.index;
    for (int32_t i = 0; i < count; ++i) {
        if (GetArchiveItem(archive, i, &entry) == ArchiveResult::Ok) names.push_back(entry.name);
    }
    (void)CloseArchive(archive);  // read-only handle
    return names;
}

}  // namespace kxtest
