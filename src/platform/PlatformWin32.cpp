#include <windows.h>

#include "platform/Platform.h"

namespace platform {
namespace {

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

FileHandle OpenFileForReading(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
}

FileHandle CreateFileForWriting(const char* path, uint32_t attributes) {
    // Windows refuses this itself; an emulator running as a privileged user
    // may not, so the rule is kept here for every caller alike.
    const DWORD existing = GetFileAttributesA(path);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) return kNoFile;
    // Only the bits CreateFileA accepts for a file; a folder bit has no place here.
    const DWORD flags = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags ? flags : FILE_ATTRIBUTE_NORMAL,
                              nullptr);
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

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool CreateFolder(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

// RemoveDirectoryA removes a junction or folder symbolic link itself, never
// what it points to.
bool RemoveFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

bool RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

uint32_t ReadAttributes(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes == INVALID_FILE_ATTRIBUTES ? kNoAttributes : attributes;
}

bool WriteAttributes(const char* path, uint32_t attributes) { return SetFileAttributesA(path, attributes) != FALSE; }

bool ListFolder(const char* folder, std::vector<FolderEntry>* entries) {
    const std::string pattern = std::string(folder) + "\\*";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = name;
        entry.attributes = found.dwFileAttributes;
        entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries->push_back(entry);
    } while (FindNextFileA(find, &found));
    const bool ended = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return ended;
}

std::string GetCurrentFolder() {
    char buffer[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

std::string GetTempFolder() {
    char buffer[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
}

std::string GetModuleFilePath() {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    return std::string(buffer, length);
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

}  // namespace platform
