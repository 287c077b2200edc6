#pragma once
// The few operating-system services the portable code needs. One
// implementation per system is chosen at link time: PlatformWin32.cpp for the
// stub and the Windows tests, PlatformPosix.cpp for the host tools and tests.
// Paths and texts are UTF-8 strings; "/" and "\" both separate folders on
// every system.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// Windows file attribute bits, used as-is on every system.
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeArchive = 0x20;
constexpr uint32_t kAttributeNormal = 0x80;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr uint32_t kNoAttributes = 0xFFFFFFFFu;

// Paths are UTF-8. The longest one the system's calls take (32,767 UTF-16
// units, given the extended-length prefix) fits this many bytes.
constexpr size_t kPathByteCapacity = 32767 * 3;

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Opens an existing file read-only, shared for reading. kNoFile on failure.
FileHandle OpenFileForReading(const char* path);
// Creates or truncates a file for writing, not shared, with the given
// attributes. Fails (kNoFile) on an existing read-only file.
FileHandle CreateFileForWriting(const char* path, uint32_t attributes);
// Creates a file that must not exist yet, for writing, with the given
// attributes. kNoFile when it exists or cannot be created.
FileHandle CreateNewFile(const char* path, uint32_t attributes = kAttributeNormal);
// Creates a file that must not exist yet, for reading and writing, which
// nobody else may open for writing or delete while this handle is open, and
// which goes when its last handle closes (a killed process included).
// kNoFile when it exists or cannot be created.
FileHandle CreateHeldFile(const char* path);
// Opens for reading a file that this process holds by CreateHeldFile: the
// reader shares the holder's rights with it, and the holder still lets
// nobody else write or delete.
FileHandle OpenHeldFileForReading(const char* path);
// Reads up to size bytes at offset. Returns the bytes read, 0 at end of file,
// -1 on error.
int64_t ReadFileAt(FileHandle file, int64_t offset, void* buffer, uint32_t size);
// Appends size bytes at the current position; false unless all were written.
bool WriteToFile(FileHandle file, const void* data, uint32_t size);
// Size in bytes, -1 on error.
int64_t GetFileSize(FileHandle file);
// Times are FILETIME values: 100 ns units since 1601-01-01 UTC.
bool SetFileTimes(FileHandle file, uint64_t creation, uint64_t access, uint64_t write);
void CloseFile(FileHandle file);

// Owns one open file.
class UniqueFile {
public:
    explicit UniqueFile(FileHandle file = kNoFile) : file_(file) {}
    ~UniqueFile() { Reset(); }
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    FileHandle Get() const { return file_; }
    bool IsOpen() const { return file_ != kNoFile; }
    void Reset(FileHandle file = kNoFile) {
        if (file_ != kNoFile) CloseFile(file_);
        file_ = file;
    }
    // The caller owns the file from now on.
    FileHandle Release() {
        const FileHandle file = file_;
        file_ = kNoFile;
        return file;
    }

private:
    FileHandle file_;
};

// A lock for the few fields two threads share: the system's own on
// Windows, so that the programs need no threads library. Meets the
// standard's Lockable needs, for std::lock_guard.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock();
    void unlock();

private:
    void* state_;
};

// The code of the error that made this thread's last failing call fail
// (GetLastError on Windows, errno elsewhere). Read it before any other call.
uint32_t LastErrorCode();
// The code the system gives a path too long for its calls.
uint32_t PathTooLongErrorCode();
// The code the system gives a refused access (a read-only file replaced, say).
uint32_t AccessDeniedErrorCode();
// The system's own message for an error code, without a trailing line break.
std::string ErrorMessage(uint32_t code);

// Text in the system's ANSI code page as UTF-8, and back. Utf8ToAnsi is
// false when a character has no place in that code page.
std::string AnsiToUtf8(const std::string& ansi);
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);

bool PathExists(const char* path);
// Copies a file over any file at destination.
bool CopyFileReplacing(const char* source, const char* destination);
// Renames a file over any file at destination, in one step.
bool MoveFileReplacing(const char* source, const char* destination);
// Renames a file or folder; fails when destination exists.
bool RenameFile(const char* source, const char* destination);
// Creates one folder level; false when it could not be created (or exists).
bool CreateFolder(const char* path);
// The same, with the rights of a security descriptor in its text form
// (SDDL), set as the folder is made; an empty text gives the usual rights.
// Elsewhere than on Windows the folder is the owner's alone.
bool CreateFolderWithRights(const char* path, const std::string& descriptor);
// The owner, group and access list of a file or folder, as SDDL; empty when
// unknown (and always elsewhere than on Windows).
std::string ReadRights(const char* path);

// Fills size bytes from the system's cryptographic generator; false when
// it gave none.
bool FillRandomBytes(void* buffer, size_t size);
// Whether this process runs with administrator rights: an elevated token,
// or the system account itself.
bool IsProcessElevated();
// What this process may do about administrator rights: none to be had, an
// administrator's that a prompt would give (the token is limited), or held.
enum class ProcessRights { Limited, CanElevate, Elevated };
// A test seam: where the environment variable KXINSTALL_TEST_RIGHTS says
// "limited", "standard" or "refused", its answer stands in for the system's
// ("refused": an administrator whose prompt is refused), since a test
// system may run everything elevated. Nothing else reads it.
ProcessRights QueryProcessRights();
enum class ElevatedRun { Finished, Refused, Failed };
// Starts program with the parameters through the elevation prompt and waits
// for it; its exit code goes to exitCode. The started process no longer
// sees the test seam above, so it answers with its own rights.
ElevatedRun RunElevatedAndWait(const std::string& program, const std::string& parameters, uint32_t* exitCode);
// The process user's security identifier as text ("S-1-5-21-..."); empty
// when unknown (and always elsewhere than on Windows).
std::string CurrentUserSid();
// Removes an empty folder, or a folder link (junction, symbolic link) itself.
bool RemoveFolder(const char* path);
// Removes a file, or a file link itself.
bool RemoveFile(const char* path);
// kNoAttributes when the path does not exist.
uint32_t ReadAttributes(const char* path);
bool WriteAttributes(const char* path, uint32_t attributes);

struct FolderEntry {
    std::string name;
    uint32_t attributes = 0;  // kAttributeDirectory for folders and folder links
    bool isLink = false;      // a junction or symbolic link: never followed
};
// Lists a folder without "." and "..". False when the listing could not be
// started or ended on an error rather than at its end.
bool ListFolder(const char* folder, std::vector<FolderEntry>* entries);

// The process's current folder, without a trailing separator.
std::string GetCurrentFolder();
// The user's temporary folder, with its trailing separator: for the system
// account its private one where the system has GetTempPath2W.
std::string GetTempFolder();
// Full path of the running executable.
std::string GetModuleFilePath();

// A calendar date and time as the archive's DOS fields give it.
struct CivilTime {
    int year, month, day, hour, minute, second;
};
// Converts a local calendar time to a UTC FILETIME value; false when the
// time names no real moment.
bool LocalTimeToFileTime(const CivilTime& local, uint64_t* fileTime);

void SleepMilliseconds(uint32_t milliseconds);
// A reading of a clock that only moves forward, in its own units.
uint64_t ClockReading();
// The local time now, as "YYYY-MM-DD hh:mm:ss.mmm".
std::string LocalTimeStamp();
// Free bytes available to the user on the drive that root names; false
// when unknown.
bool GetFreeBytes(const std::string& root, uint64_t* bytes);

// std::fopen with this system's path rules.
std::FILE* OpenStream(const char* path, const char* mode);

// Shell folders by their CSIDL numbers; empty text when unavailable.
constexpr int kFolderWindows = 0x24;
constexpr int kFolderSystem = 0x25;
constexpr int kFolderProgramFiles = 0x26;
constexpr int kFolderPrograms = 0x02;          // the start menu's Programs folder
constexpr int kFolderCommonPrograms = 0x17;    // the same for every user
constexpr int kFolderDesktopDirectory = 0x10;
constexpr int kFolderAppData = 0x1a;
constexpr int kFolderCommonDesktopDirectory = 0x19;
// No CSIDL names it: the user's own programs folder (%LOCALAPPDATA%\Programs),
// created when missing.
constexpr int kFolderUserProgramFiles = 0x10000;
std::string GetSpecialFolderPath(int folderId);

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };
// Reads a string value (REG_SZ, or REG_EXPAND_SZ unexpanded) of fewer than
// capacity characters, opening the key for reading only. An empty valueName
// reads the key's default value. False when the key or value cannot be
// read, is too long or is not a string.
bool ReadRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                        std::string* value, size_t capacity = 260);
// Creates the key as needed and writes a REG_SZ value.
bool WriteRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                         const std::string& value);
bool WriteRegistryDword(RegistryRoot root, const std::string& subKey, const std::string& valueName, uint32_t value);

// The two writes above go to a RegistryWriter: the system's registry, unless
// a test has put another in its place (one that refuses a root, say).
class RegistryWriter {
public:
    virtual ~RegistryWriter() = default;
    virtual bool WriteString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                             const std::string& value) = 0;
    virtual bool WriteDword(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                            uint32_t value) = 0;
};
RegistryWriter& SystemRegistryWriter();
// Null puts the system's registry back. Not for use while another thread writes.
void SetRegistryWriter(RegistryWriter* writer);
bool ReadRegistryDword(RegistryRoot root, const std::string& subKey, const std::string& valueName, uint32_t* value);
// Removes a key that has no sub-keys, with its values.
bool DeleteRegistryKey(RegistryRoot root, const std::string& subKey);

// One value of a key as the registry holds it: its type (REG_SZ 1, REG_DWORD
// 4, ...) and its bytes.
struct RegistryValue {
    std::string name;
    uint32_t type = 0;
    std::string data;
};
// The most values, and the most bytes of one value, that ReadRegistryValues
// takes: far above what an entry in the list of installed programs holds.
constexpr size_t kMostRegistryValues = 256;
constexpr size_t kLargestRegistryValue = 16 * 1024;
// Every value of a key. *exists is false, and the call true, when there is
// no such key. False when the key cannot be read or holds more than the
// bounds above.
bool ReadRegistryValues(RegistryRoot root, const std::string& subKey, std::vector<RegistryValue>* values,
                        bool* exists);
// Makes the key hold exactly these values: creates it as needed, removes
// every other value and writes these. Goes to the system's registry, never
// to a test's RegistryWriter.
bool RestoreRegistryKey(RegistryRoot root, const std::string& subKey, const std::vector<RegistryValue>& values);

struct FontDescription {
    std::string face;
    int32_t pointSize = 0;
    int32_t weight = 0;
    int32_t italic = 0;  // non-zero for italic, and so on
    int32_t underline = 0;
    int32_t strikeOut = 0;
    int32_t characterSet = 0;
};
// A font of pointSize points on the screen; null where there are no fonts.
void* CreateScreenFont(const FontDescription& font);

// Makes a font file available to this process; false when it is not a font.
bool RegisterFontFile(const char* path);

}  // namespace platform
