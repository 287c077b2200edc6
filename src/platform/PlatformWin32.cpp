#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/Win32Handles.h"
#include "platform/WideText.h"

namespace platform {
namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    }
    return HKEY_CURRENT_USER;
}

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FILETIME ToFileTime(uint64_t value) {
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(value);
    result.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return result;
}

uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

// A slim reader/writer lock is one pointer, which state_ holds.
Lock::Lock() : state_(nullptr) { static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK fits"); }
Lock::~Lock() = default;
void Lock::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&state_)); }

FileHandle OpenFileForReading(const char* path) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

namespace {

// Only the bits CreateFileW accepts for a file; a folder bit has no place here.
DWORD FileCreationFlags(uint32_t attributes) {
    const DWORD flags = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
    return flags ? flags : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

FileHandle CreateFileForWriting(const char* path, uint32_t attributes) {
    // Windows refuses this itself; an emulator running as a privileged user
    // may not, so the rule is kept here for every caller alike.
    const std::wstring widePath = WidePath(path);
    const DWORD existing = GetFileAttributesW(widePath.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return kNoFile;
    }
    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FileCreationFlags(attributes),
                              nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

FileHandle CreateNewFile(const char* path, uint32_t attributes) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FileCreationFlags(attributes), nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

FileHandle CreateHeldFile(const char* path) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

// The holder has write and delete rights, so a second handle must share
// them; the holder's own sharing still refuses them to anyone else.
FileHandle OpenHeldFileForReading(const char* path) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

int64_t ReadFileAt(FileHandle file, int64_t offset, void* buffer, uint32_t size) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!SetFilePointerEx(ToHandle(file), position, nullptr, FILE_BEGIN)) return -1;
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!ReadFile(ToHandle(file), static_cast<char*>(buffer) + total, size - total, &got, nullptr)) return -1;
        if (got == 0) break;
        total += got;
    }
    return total;
}

bool WriteToFile(FileHandle file, const void* data, uint32_t size) {
    DWORD done = 0;
    while (done < size) {
        DWORD put = 0;
        if (!WriteFile(ToHandle(file), static_cast<const char*>(data) + done, size - done, &put, nullptr) || put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

int64_t GetFileSize(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(ToHandle(file), &size)) return -1;
    return size.QuadPart;
}

bool SetFileTimes(FileHandle file, uint64_t creation, uint64_t access, uint64_t write) {
    const FILETIME c = ToFileTime(creation), a = ToFileTime(access), w = ToFileTime(write);
    return SetFileTime(ToHandle(file), &c, &a, &w) != FALSE;
}

void CloseFile(FileHandle file) { CloseHandle(ToHandle(file)); }

uint32_t LastErrorCode() { return GetLastError(); }

uint32_t PathTooLongErrorCode() { return ERROR_FILENAME_EXCED_RANGE; }

uint32_t AccessDeniedErrorCode() { return ERROR_ACCESS_DENIED; }

std::string ErrorMessage(uint32_t code) {
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text / sizeof text[0], nullptr);
    std::string message = Narrow(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) message = "Error " + std::to_string(code) + ".";
    return message;
}

std::string AnsiToUtf8(const std::string& ansi) { return Narrow(WidenFrom(CP_ACP, ansi)); }

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
    ansi->clear();
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) return utf8.empty();
    BOOL lost = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, &lost);
    if (size <= 0 || lost) return false;
    ansi->resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &(*ansi)[0], size,
                        nullptr, &lost);
    return !lost;
}

bool PathExists(const char* path) { return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool CopyFileReplacing(const char* source, const char* destination) {
    return CopyFileW(WidePath(source).c_str(), WidePath(destination).c_str(), FALSE) != FALSE;
}

bool MoveFileReplacing(const char* source, const char* destination) {
    // As above: a read-only file is never replaced, whoever runs us.
    const DWORD existing = GetFileAttributesW(WidePath(destination).c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
        !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return MoveFileExW(WidePath(source).c_str(), WidePath(destination).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RenameFile(const char* source, const char* destination) {
    return MoveFileExW(WidePath(source).c_str(), WidePath(destination).c_str(), 0) != FALSE;
}

bool CreateFolder(const char* path) { return CreateDirectoryW(WidePath(path).c_str(), nullptr) != FALSE; }

bool CreateFolderWithRights(const char* path, const std::string& descriptor) {
    if (descriptor.empty()) return CreateFolder(path);
    PSECURITY_DESCRIPTOR rights = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(Widen(descriptor).c_str(), SDDL_REVISION_1, &rights,
                                                              nullptr)) {
        return false;  // never a folder with the usual rights in its place
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, rights, FALSE};
    const BOOL made = CreateDirectoryW(WidePath(path).c_str(), &attributes);
    const DWORD error = GetLastError();
    LocalFree(rights);
    SetLastError(error);
    return made != FALSE;
}

std::string ReadRights(const char* path) {
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    (void)GetFileSecurityW(WidePath(path).c_str(), parts, nullptr, 0, &needed);  // asks for the size
    if (needed == 0 || needed > 65536) return std::string();
    std::vector<char> buffer(needed);
    if (!GetFileSecurityW(WidePath(path).c_str(), parts, buffer.data(), needed, &needed)) return std::string();
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer.data(), SDDL_REVISION_1, parts, &text, nullptr)) {
        return std::string();
    }
    const std::string result = Narrow(text);
    LocalFree(text);
    return result;
}

// RtlGenRandom, the generator behind the system's cryptographic services,
// exported by advapi32 under this name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

bool FillRandomBytes(void* buffer, size_t size) {
    return size <= 0xFFFFFFFFu && SystemFunction036(buffer, static_cast<ULONG>(size)) != FALSE;
}

namespace {

// The process token's user, in a buffer large enough for any SID.
bool ReadTokenUser(std::vector<char>* buffer) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD needed = 0;
    (void)GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    bool read = false;
    if (needed > 0 && needed <= 4096) {
        buffer->resize(needed);
        read = GetTokenInformation(token, TokenUser, buffer->data(), needed, &needed) != FALSE;
    }
    CloseHandle(token);
    return read;
}

bool TokenIsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return read && elevation.TokenIsElevated != 0;
}

}  // namespace

bool IsProcessElevated() {
    if (TokenIsElevated()) return true;
    std::vector<char> user;
    if (!ReadTokenUser(&user)) return false;
    return IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid) != FALSE;
}

namespace {

constexpr wchar_t kRightsSeam[] = L"KXINSTALL_TEST_RIGHTS";

std::wstring RightsSeam() {
    wchar_t answer[16] = {};
    const DWORD length = GetEnvironmentVariableW(kRightsSeam, answer, 16);
    return length > 0 && length < 16 ? std::wstring(answer, length) : std::wstring();
}

// A split token: the user is an administrator whose rights a prompt gives.
bool TokenIsLimitedAdministrator() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    const BOOL read = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
    CloseHandle(token);
    return read && type == TokenElevationTypeLimited;
}

}  // namespace

ProcessRights QueryProcessRights() {
    const std::wstring seam = RightsSeam();
    if (seam == L"limited") return ProcessRights::Limited;
    if (seam == L"standard" || seam == L"refused") return ProcessRights::CanElevate;
    if (IsProcessElevated()) return ProcessRights::Elevated;
    return TokenIsLimitedAdministrator() ? ProcessRights::CanElevate : ProcessRights::Limited;
}

ElevatedRun RunElevatedAndWait(const std::string& program, const std::string& parameters, uint32_t* exitCode) {
    if (RightsSeam() == L"refused") return ElevatedRun::Refused;
    (void)SetEnvironmentVariableW(kRightsSeam, nullptr);
    const std::wstring file = Widen(program);
    const std::wstring arguments = Widen(parameters);
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = L"runas";
    run.lpFile = file.c_str();
    run.lpParameters = arguments.c_str();
    run.nShow = SW_SHOWNORMAL;
    // The shell may hand the start to a COM object: the call wants COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const BOOL started = ShellExecuteExW(&run);
    const DWORD error = GetLastError();
    if (SUCCEEDED(com)) CoUninitialize();
    if (!started) {
        SetLastError(error);
        return error == ERROR_CANCELLED ? ElevatedRun::Refused : ElevatedRun::Failed;
    }
    if (run.hProcess == nullptr) return ElevatedRun::Failed;
    WaitForSingleObject(run.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL read = GetExitCodeProcess(run.hProcess, &code);
    CloseHandle(run.hProcess);
    if (!read) return ElevatedRun::Failed;
    *exitCode = code;
    return ElevatedRun::Finished;
}

std::string CurrentUserSid() {
    std::vector<char> user;
    if (!ReadTokenUser(&user)) return std::string();
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) return std::string();
    const std::string result = Narrow(text);
    LocalFree(text);
    return result;
}

// RemoveDirectoryW removes a junction or folder symbolic link itself, never
// what it points to.
bool RemoveFolder(const char* path) { return RemoveDirectoryW(WidePath(path).c_str()) != FALSE; }

bool RemoveFile(const char* path) { return DeleteFileW(WidePath(path).c_str()) != FALSE; }

uint32_t ReadAttributes(const char* path) {
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? kNoAttributes : attributes;
}

bool WriteAttributes(const char* path, uint32_t attributes) {
    return SetFileAttributesW(WidePath(path).c_str(), attributes) != FALSE;
}

bool ListFolder(const char* folder, std::vector<FolderEntry>* entries) {
    const std::string pattern = std::string(folder) + "\\*";
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(WidePath(pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = Narrow(found.cFileName);
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = name;
        entry.attributes = found.dwFileAttributes;
        entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries->push_back(entry);
    } while (FindNextFileW(find, &found));
    const bool ended = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return ended;
}

namespace {

constexpr DWORD kLongPathCapacity = 32768;

}  // namespace

std::string GetCurrentFolder() {
    std::wstring buffer(kLongPathCapacity, L'\0');
    const DWORD length = GetCurrentDirectoryW(kLongPathCapacity, &buffer[0]);
    if (length == 0 || length >= kLongPathCapacity) return std::string();
    return Narrow(buffer.data(), length);
}

std::string GetTempFolder() {
    // GetTempPath2W gives the system account its own folder, which other
    // users cannot write, where GetTempPathW would give the shared
    // Windows\Temp. Older systems have only the latter.
    using TempPathCall = DWORD(WINAPI*)(DWORD, LPWSTR);
    const TempPathCall tempPath2 = reinterpret_cast<TempPathCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = tempPath2 != nullptr ? tempPath2(MAX_PATH + 1, buffer) : GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return Narrow(buffer, length);
}

std::string GetModuleFilePath() {
    std::wstring buffer(kLongPathCapacity, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], kLongPathCapacity);
    if (length == 0 || length >= kLongPathCapacity) return std::string();
    return Narrow(buffer.data(), length);
}

bool LocalTimeToFileTime(const CivilTime& local, uint64_t* fileTime) {
    SYSTEMTIME system = {};
    system.wYear = static_cast<WORD>(local.year);
    system.wMonth = static_cast<WORD>(local.month);
    system.wDay = static_cast<WORD>(local.day);
    system.wHour = static_cast<WORD>(local.hour);
    system.wMinute = static_cast<WORD>(local.minute);
    system.wSecond = static_cast<WORD>(local.second);
    FILETIME localTime, utcTime;
    if (!SystemTimeToFileTime(&system, &localTime)) return false;
    if (!LocalFileTimeToFileTime(&localTime, &utcTime)) return false;
    *fileTime = FromFileTime(utcTime);
    return true;
}

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

uint64_t ClockReading() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

namespace {

// The number in at least width digits, with leading zeros. Formatted by
// hand: the C library's printf would bring its whole floating-point part.
std::string Padded(unsigned value, size_t width) {
    std::string digits = std::to_string(value);
    return digits.size() < width ? std::string(width - digits.size(), '0') + digits : digits;
}

}  // namespace

std::string LocalTimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Padded(now.wYear, 4) + "-" + Padded(now.wMonth, 2) + "-" + Padded(now.wDay, 2) + " " + Padded(now.wHour, 2) +
           ":" + Padded(now.wMinute, 2) + ":" + Padded(now.wSecond, 2) + "." + Padded(now.wMilliseconds, 3);
}

bool GetFreeBytes(const std::string& root, uint64_t* bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(Widen(root).c_str(), &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

std::FILE* OpenStream(const char* path, const char* mode) { return _wfopen(WidePath(path).c_str(), Widen(mode).c_str()); }

namespace {

// FOLDERID_UserProgramFiles, spelt out so no GUID library is needed.
const GUID kUserProgramFilesId = {0x5cd7aee2, 0x2219, 0x4a67, {0xb8, 0x5d, 0x6c, 0x9c, 0xe1, 0x56, 0x60, 0xcb}};

std::string UserProgramFilesPath() {
    wchar_t* path = nullptr;
    if (FAILED(SHGetKnownFolderPath(kUserProgramFilesId, KF_FLAG_CREATE, nullptr, &path)) || path == nullptr) {
        if (path != nullptr) CoTaskMemFree(path);
        // Where the system does not know the folder: the same place.
        const std::string local = GetSpecialFolderPath(CSIDL_LOCAL_APPDATA);
        if (local.empty()) return std::string();
        const std::string programs = local + "\\Programs";
        (void)CreateDirectoryW(WidePath(programs.c_str()).c_str(), nullptr);
        return PathExists(programs.c_str()) ? programs : std::string();
    }
    const std::string result = Narrow(path);
    CoTaskMemFree(path);
    return result;
}

}  // namespace

std::string GetSpecialFolderPath(int folderId) {
    if (folderId == kFolderUserProgramFiles) return UserProgramFilesPath();
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || items == nullptr) return std::string();
    wchar_t path[MAX_PATH] = {};
    const BOOL converted = SHGetPathFromIDListW(items, path);
    CoTaskMemFree(items);
    return converted ? Narrow(path) : std::string();
}

bool ReadRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                        std::string* value, size_t capacity) {
    RegKey key;
    if (RegOpenKeyExW(RootKey(root), Widen(subKey).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<wchar_t> data(capacity, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    const LONG status = RegQueryValueExW(key.Get(), Widen(valueName).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    // Stored strings need not end with a NUL; never read past the data.
    const size_t characters = std::min<size_t>(size / sizeof(wchar_t), data.size());
    value->assign(Narrow(data.data(), wcsnlen(data.data(), characters)));
    return true;
}

namespace {

class SystemRegistry : public RegistryWriter {
public:
    bool WriteString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                     const std::string& value) override {
        const std::wstring wide = Widen(value);
        return SetValue(root, subKey, valueName, REG_SZ, wide.c_str(),
                        static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }

    bool WriteDword(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                    uint32_t value) override {
        const DWORD data = value;
        return SetValue(root, subKey, valueName, REG_DWORD, &data, sizeof data);
    }

private:
    static bool SetValue(RegistryRoot root, const std::string& subKey, const std::string& valueName, DWORD type,
                         const void* data, DWORD size) {
        RegKey key;
        const LONG created = RegCreateKeyExW(RootKey(root), Widen(subKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, key.Receive(), nullptr);
        if (created != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(created));
            return false;
        }
        const LONG set =
            RegSetValueExW(key.Get(), Widen(valueName).c_str(), 0, type, static_cast<const BYTE*>(data), size);
        SetLastError(static_cast<DWORD>(set));
        return set == ERROR_SUCCESS;
    }
};

}  // namespace

RegistryWriter& SystemRegistryWriter() {
    static SystemRegistry registry;
    return registry;
}

bool ReadRegistryDword(RegistryRoot root, const std::string& subKey, const std::string& valueName, uint32_t* value) {
    RegKey key;
    if (RegOpenKeyExW(RootKey(root), Widen(subKey).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExW(key.Get(), Widen(valueName).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD) {
        return false;
    }
    *value = data;
    return true;
}

bool DeleteRegistryKey(RegistryRoot root, const std::string& subKey) {
    return RegDeleteKeyW(RootKey(root), Widen(subKey).c_str()) == ERROR_SUCCESS;
}

bool ReadRegistryValues(RegistryRoot root, const std::string& subKey, std::vector<RegistryValue>* values,
                        bool* exists) {
    values->clear();
    RegKey key;
    const LONG opened = RegOpenKeyExW(RootKey(root), Widen(subKey).c_str(), 0, KEY_QUERY_VALUE, key.Receive());
    *exists = opened != ERROR_FILE_NOT_FOUND;
    if (!*exists) return true;
    if (opened != ERROR_SUCCESS) return false;
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(kLargestRegistryValue);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(data.size());
        const LONG status = RegEnumValueW(key.Get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS || values->size() == kMostRegistryValues) return false;
        values->push_back({Narrow(name.data(), nameLength), type,
                           std::string(reinterpret_cast<const char*>(data.data()), size)});
    }
}

bool RestoreRegistryKey(RegistryRoot root, const std::string& subKey, const std::vector<RegistryValue>& values) {
    std::vector<RegistryValue> present;
    bool exists = false;
    if (!ReadRegistryValues(root, subKey, &present, &exists)) return false;
    RegKey key;
    if (RegCreateKeyExW(RootKey(root), Widen(subKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr,
                        key.Receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool restored = true;
    for (const RegistryValue& value : present) {
        restored = RegDeleteValueW(key.Get(), Widen(value.name).c_str()) == ERROR_SUCCESS && restored;
    }
    for (const RegistryValue& value : values) {
        restored = RegSetValueExW(key.Get(), Widen(value.name).c_str(), 0, value.type,
                                  reinterpret_cast<const BYTE*>(value.data.data()),
                                  static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                   restored;
    }
    return restored;
}

bool RegisterFontFile(const char* path) { return AddFontResourceW(WidePath(path).c_str()) > 0; }

void* CreateScreenFont(const FontDescription& font) {
    HDC screen = GetDC(nullptr);
    const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const int height = -MulDiv(font.pointSize, pixelsPerInch, 72);
    return CreateFontW(height, 0, 0, 0, font.weight, static_cast<DWORD>(font.italic), static_cast<DWORD>(font.underline),
                       static_cast<DWORD>(font.strikeOut), static_cast<DWORD>(font.characterSet), 0, 0, 0, 0,
                       Widen(font.face).c_str());
}

}  // namespace platform
