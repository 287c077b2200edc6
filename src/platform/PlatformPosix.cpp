// Host stand-ins for the Windows services: "\" is a folder separator here
// too, FILETIME values map to Unix times, and only the read-only attribute
// has a meaning (no owner write permission).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "platform/Platform.h"

namespace platform {
namespace {

constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600LL;

std::string NativePath(const char* path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

timespec TimespecFromFileTime(uint64_t fileTime) {
    timespec result{};
    const int64_t units = static_cast<int64_t>(fileTime) - kUnixEpochInFileTimeSeconds * 10000000LL;
    result.tv_sec = static_cast<time_t>(units / 10000000LL);
    result.tv_nsec = static_cast<long>((units % 10000000LL) * 100);
    if (result.tv_nsec < 0) {
        result.tv_nsec += 1000000000L;
        result.tv_sec -= 1;
    }
    return result;
}

bool IsRealDate(const CivilTime& t) {
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int days = kDaysInMonth[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day <= days && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
           t.second < 60;
}

}  // namespace

Lock::Lock() : state_(new std::mutex) {}
Lock::~Lock() { delete static_cast<std::mutex*>(state_); }
void Lock::lock() { static_cast<std::mutex*>(state_)->lock(); }
void Lock::unlock() { static_cast<std::mutex*>(state_)->unlock(); }

FileHandle OpenFileForReading(const char* path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? kNoFile : fd;
}

FileHandle CreateFileForWriting(const char* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    struct stat existing {};
    // Windows refuses to replace a read-only file, even for an administrator.
    if (::stat(native.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && !(existing.st_mode & S_IWUSR)) {
        errno = EACCES;
        return kNoFile;
    }
    const mode_t mode = (attributes & kAttributeReadOnly) ? 0444 : 0644;
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    return fd < 0 ? kNoFile : fd;
}

FileHandle CreateNewFile(const char* path, uint32_t attributes) {
    const mode_t mode = (attributes & kAttributeReadOnly) ? 0444 : 0644;
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd < 0 ? kNoFile : fd;
}

namespace {

// Held files go when their handle closes, as on Windows; there are no
// sharing rules to keep others out here.
std::mutex heldFilesLock;
std::map<int, std::string>& HeldFiles() {
    static std::map<int, std::string> files;
    return files;
}

}  // namespace

FileHandle CreateHeldFile(const char* path) {
    const std::string native = NativePath(path);
    const int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return kNoFile;
    std::lock_guard<std::mutex> hold(heldFilesLock);
    HeldFiles()[fd] = native;
    return fd;
}

FileHandle OpenHeldFileForReading(const char* path) { return OpenFileForReading(path); }

int64_t ReadFileAt(FileHandle file, int64_t offset, void* buffer, uint32_t size) {
    int64_t total = 0;
    while (total < size) {
        const ssize_t got = ::pread(static_cast<int>(file), static_cast<char*>(buffer) + total, size - total,
                                    static_cast<off_t>(offset + total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        total += got;
    }
    return total;
}

bool WriteToFile(FileHandle file, const void* data, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(static_cast<int>(file), static_cast<const char*>(data) + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<uint32_t>(put);
    }
    return true;
}

int64_t GetFileSize(FileHandle file) {
    struct stat info {};
    if (::fstat(static_cast<int>(file), &info) != 0) return -1;
    return info.st_size;
}

bool SetFileTimes(FileHandle file, uint64_t /*creation*/, uint64_t access, uint64_t write) {
    const timespec times[2] = {TimespecFromFileTime(access), TimespecFromFileTime(write)};
    return ::futimens(static_cast<int>(file), times) == 0;
}

void CloseFile(FileHandle file) {
    const int fd = static_cast<int>(file);
    {
        std::lock_guard<std::mutex> hold(heldFilesLock);
        const auto held = HeldFiles().find(fd);
        if (held != HeldFiles().end()) {
            (void)::unlink(held->second.c_str());  // gone already is as good
            HeldFiles().erase(held);
        }
    }
    ::close(fd);
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

uint32_t PathTooLongErrorCode() { return ENAMETOOLONG; }

uint32_t AccessDeniedErrorCode() { return EACCES; }

std::string ErrorMessage(uint32_t code) { return std::string(std::strerror(static_cast<int>(code))) + "."; }

// The host stands in for a Western system: Windows-1252.
namespace {

// Its characters 0x80 to 0x9F; 0 where it has none. The rest is Latin-1.
const uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t Windows1252ToCodePoint(unsigned char c) {
    if (c < 0x80 || c >= 0xA0) return c;
    const uint32_t mapped = kWindows1252High[c - 0x80];
    return mapped != 0 ? mapped : c;  // the five holes map to the C1 controls, as Windows does
}

void AppendUtf8(uint32_t point, std::string* out) {
    if (point < 0x80) {
        out->push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (point >> 6)));
        out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (point >> 12)));
        out->push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    std::string out;
    for (char c : ansi) AppendUtf8(Windows1252ToCodePoint(static_cast<unsigned char>(c)), &out);
    return out;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
    ansi->clear();
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + length > utf8.size()) return false;
        uint32_t point = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += length;
        int found = -1;
        for (int c = 0; c < 256 && found < 0; ++c) {
            if (Windows1252ToCodePoint(static_cast<unsigned char>(c)) == point) found = c;
        }
        if (found < 0) return false;
        ansi->push_back(static_cast<char>(found));
    }
    return true;
}

bool PathExists(const char* path) {
    struct stat info {};
    return ::stat(NativePath(path).c_str(), &info) == 0;
}

bool CopyFileReplacing(const char* source, const char* destination) {
    UniqueFile in(OpenFileForReading(source));
    if (!in.IsOpen()) return false;
    UniqueFile out(::open(NativePath(destination).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.IsOpen()) return false;
    char buffer[65536];
    for (int64_t offset = 0;;) {
        const int64_t got = ReadFileAt(in.Get(), offset, buffer, sizeof buffer);
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteToFile(out.Get(), buffer, static_cast<uint32_t>(got))) return false;
        offset += got;
    }
}

bool MoveFileReplacing(const char* source, const char* destination) {
    const std::string target = NativePath(destination);
    struct stat existing {};
    // Nor does it rename a file over a read-only one.
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && !(existing.st_mode & S_IWUSR)) {
        errno = EACCES;
        return false;
    }
    return ::rename(NativePath(source).c_str(), target.c_str()) == 0;
}

bool RenameFile(const char* source, const char* destination) {
    // link + unlink refuses an existing destination, as the system call on
    // Windows does; folders are renamed only where nothing is in the way.
    const std::string from = NativePath(source), to = NativePath(destination);
    if (::link(from.c_str(), to.c_str()) == 0) return ::unlink(from.c_str()) == 0;
    if (errno != EPERM || PathExists(destination)) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool CreateFolder(const char* path) { return ::mkdir(NativePath(path).c_str(), 0755) == 0; }

bool CreateFolderWithRights(const char* path, const std::string& descriptor) {
    if (descriptor.empty()) return CreateFolder(path);
    return ::mkdir(NativePath(path).c_str(), 0700) == 0;
}

std::string ReadRights(const char*) { return std::string(); }

bool FillRandomBytes(void* buffer, size_t size) {
    for (size_t filled = 0; filled < size;) {
        const ssize_t got = ::getrandom(static_cast<char*>(buffer) + filled, size - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<size_t>(got);
    }
    return true;
}

bool IsProcessElevated() { return ::geteuid() == 0; }

// No prompt here: the seam's answer, else root or not.
ProcessRights QueryProcessRights() {
    const char* seam = std::getenv("KXINSTALL_TEST_RIGHTS");
    const std::string answer = seam != nullptr ? seam : "";
    if (answer == "limited") return ProcessRights::Limited;
    if (answer == "standard" || answer == "refused") return ProcessRights::CanElevate;
    return IsProcessElevated() ? ProcessRights::Elevated : ProcessRights::Limited;
}

ElevatedRun RunElevatedAndWait(const std::string&, const std::string&, uint32_t*) { return ElevatedRun::Failed; }

std::string CurrentUserSid() { return std::string(); }

bool RemoveFolder(const char* path) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (::lstat(native.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return ::unlink(native.c_str()) == 0;
    return ::rmdir(native.c_str()) == 0;
}

bool RemoveFile(const char* path) { return ::unlink(NativePath(path).c_str()) == 0; }

uint32_t ReadAttributes(const char* path) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (::lstat(native.c_str(), &info) != 0) return kNoAttributes;
    // A link is marked as Windows marks one, with its target's kind.
    const uint32_t link = S_ISLNK(info.st_mode) ? kAttributeReparsePoint : 0;
    if (link != 0 && ::stat(native.c_str(), &info) != 0) return link | kAttributeArchive;
    if (S_ISDIR(info.st_mode)) return link | kAttributeDirectory;
    return link | ((info.st_mode & S_IWUSR) ? kAttributeArchive : (kAttributeArchive | kAttributeReadOnly));
}

bool WriteAttributes(const char* path, uint32_t attributes) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) return false;
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~0222) : (mode | S_IWUSR);
    return ::chmod(native.c_str(), mode) == 0;
}

bool ListFolder(const char* folder, std::vector<FolderEntry>* entries) {
    const std::string native = NativePath(folder);
    DIR* dir = ::opendir(native.c_str());
    if (dir == nullptr) return false;
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* item = ::readdir(dir);
        if (item == nullptr) {
            ok = errno == 0;
            break;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat info {};
        FolderEntry entry;
        entry.name = name;
        if (::lstat((native + "/" + name).c_str(), &info) == 0) {
            entry.isLink = S_ISLNK(info.st_mode);
            if (entry.isLink) {
                struct stat target {};
                if (::stat((native + "/" + name).c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
                    entry.attributes = kAttributeDirectory;
                }
                entry.attributes |= kAttributeReparsePoint;
            } else if (S_ISDIR(info.st_mode)) {
                entry.attributes = kAttributeDirectory;
            } else {
                entry.attributes = (info.st_mode & S_IWUSR) ? kAttributeArchive : kAttributeArchive | kAttributeReadOnly;
            }
        }
        entries->push_back(entry);
    }
    ::closedir(dir);
    return ok;
}

std::string GetCurrentFolder() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

std::string GetTempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp != nullptr && tmp[0] != '\0') ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string GetModuleFilePath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    return std::string(buffer, static_cast<size_t>(length));
}

bool LocalTimeToFileTime(const CivilTime& local, uint64_t* fileTime) {
    if (!IsRealDate(local)) return false;
    tm parts{};
    parts.tm_year = local.year - 1900;
    parts.tm_mon = local.month - 1;
    parts.tm_mday = local.day;
    parts.tm_hour = local.hour;
    parts.tm_min = local.minute;
    parts.tm_sec = local.second;
    parts.tm_isdst = -1;
    const time_t seconds = ::mktime(&parts);
    if (seconds == static_cast<time_t>(-1)) return false;
    *fileTime = static_cast<uint64_t>((static_cast<int64_t>(seconds) + kUnixEpochInFileTimeSeconds) * 10000000LL);
    return true;
}

void SleepMilliseconds(uint32_t milliseconds) { ::usleep(static_cast<useconds_t>(milliseconds) * 1000); }

uint64_t ClockReading() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace platform

// Host stand-ins: fixed shell folders as a default Windows installation
// names them, and a registry that lives in this process only.
namespace platform {
namespace {

std::map<std::string, std::string>& FakeRegistry() {
    static std::map<std::string, std::string> values;
    return values;
}

std::string RegistryPath(RegistryRoot root, const std::string& subKey) {
    return std::to_string(static_cast<int>(root)) + "\\" + subKey + "\\";
}

}  // namespace

std::string LocalTimeStamp() {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local {};
    localtime_r(&now.tv_sec, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
    return text;
}

// Drive letters mean nothing here: every root is the temporary folder's file system.
bool GetFreeBytes(const std::string&, uint64_t* bytes) {
    struct statvfs info {};
    if (::statvfs(NativePath(GetTempFolder().c_str()).c_str(), &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    return true;
}

std::FILE* OpenStream(const char* path, const char* mode) { return std::fopen(NativePath(path).c_str(), mode); }

std::string GetSpecialFolderPath(int folderId) {
    // Folders that shortcuts are written to lie in the temporary folder here.
    const std::string shell = GetTempFolder() + "kx-shell/";
    switch (folderId) {
    case kFolderPrograms: return shell + "Programs";
    case kFolderCommonPrograms: return shell + "Common Programs";
    case kFolderCommonDesktopDirectory: return shell + "Common Desktop";
    case kFolderUserProgramFiles: return shell + "Local\\Programs";
    case kFolderDesktopDirectory: return shell + "Desktop";
    case kFolderAppData: return shell + "AppData";
    case kFolderProgramFiles: return "C:\\Program Files";
    case kFolderWindows: return "C:\\windows";
    case kFolderSystem: return "C:\\windows\\system32";
    default: return std::string();
    }
}

bool ReadRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                        std::string* value, size_t capacity) {
    const auto found = FakeRegistry().find(RegistryPath(root, subKey) + valueName);
    if (found == FakeRegistry().end() || found->second.size() >= capacity) return false;
    *value = found->second;
    return true;
}

namespace {

class ProcessRegistry : public RegistryWriter {
public:
    bool WriteString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                     const std::string& value) override {
        FakeRegistry()[RegistryPath(root, subKey) + valueName] = value;
        return true;
    }

    bool WriteDword(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                    uint32_t value) override {
        FakeRegistry()[RegistryPath(root, subKey) + valueName] = "dword:" + std::to_string(value);
        return true;
    }
};

}  // namespace

RegistryWriter& SystemRegistryWriter() {
    static ProcessRegistry registry;
    return registry;
}

bool ReadRegistryDword(RegistryRoot root, const std::string& subKey, const std::string& valueName, uint32_t* value) {
    const auto found = FakeRegistry().find(RegistryPath(root, subKey) + valueName);
    if (found == FakeRegistry().end() || found->second.compare(0, 6, "dword:") != 0) return false;
    *value = static_cast<uint32_t>(std::stoul(found->second.substr(6)));
    return true;
}

bool DeleteRegistryKey(RegistryRoot root, const std::string& subKey) {
    const std::string prefix = RegistryPath(root, subKey);
    auto& values = FakeRegistry();
    bool found = false;
    for (auto it = values.lower_bound(prefix); it != values.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
        if (it->first.find('\\', prefix.size()) != std::string::npos) return false;  // has sub-keys
        it = values.erase(it);
        found = true;
    }
    return found;
}

// The stand-in keeps strings as their text and numbers as "dword:<n>": they
// are given back as REG_SZ (1) and REG_DWORD (4).
bool ReadRegistryValues(RegistryRoot root, const std::string& subKey, std::vector<RegistryValue>* values,
                        bool* exists) {
    values->clear();
    const std::string prefix = RegistryPath(root, subKey);
    const auto& all = FakeRegistry();
    for (auto it = all.lower_bound(prefix); it != all.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::string name = it->first.substr(prefix.size());
        if (name.find('\\') != std::string::npos) continue;  // a sub-key's
        if (values->size() == kMostRegistryValues || it->second.size() > kLargestRegistryValue) return false;
        if (it->second.compare(0, 6, "dword:") == 0) {
            const uint32_t number = static_cast<uint32_t>(std::stoul(it->second.substr(6)));
            values->push_back({name, 4, std::string(reinterpret_cast<const char*>(&number), 4)});
        } else {
            values->push_back({name, 1, it->second});
        }
    }
    *exists = !values->empty();
    return true;
}

bool RestoreRegistryKey(RegistryRoot root, const std::string& subKey, const std::vector<RegistryValue>& values) {
    const std::string prefix = RegistryPath(root, subKey);
    auto& all = FakeRegistry();
    for (auto it = all.lower_bound(prefix); it != all.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
        it = it->first.find('\\', prefix.size()) == std::string::npos ? all.erase(it) : std::next(it);
    }
    for (const RegistryValue& value : values) {
        uint32_t number = 0;
        if (value.type == 4 && value.data.size() == 4) std::memcpy(&number, value.data.data(), 4);
        all[prefix + value.name] = value.type == 4 ? "dword:" + std::to_string(number) : value.data;
    }
    return true;
}

bool RegisterFontFile(const char* path) { return PathExists(path); }

void* CreateScreenFont(const FontDescription&) { return nullptr; }

}  // namespace platform
