#pragma once
// Reads items out of a ZIP archive held in a file, possibly with other data
// (an installer stub) in front of it. Stored and deflated items; no
// multi-disk archives, no ZIP64, no encryption.
//
// A handle belongs to the thread that opened it. Calling order:
//   OpenArchive; GetArchiveItem(-1) for the count; for each index upward
//   GetArchiveItem, then ExtractArchiveItem for the items wanted; CloseArchive.

#include <cstddef>
#include <cstdint>
#include <string>

enum class ArchiveResult : uint32_t {
    Ok = 0,
    FileOpenFailed = 0x200,    // archive not opened, or target file not created
    WriteFailed = 0x400,       // writing the target file failed
    Corrupt = 0x700,           // local header disagrees with the central one, or
                               // a central header on the way could not be read
    ReadFailed = 0x800,        // the local extra field could not be read
    ChecksumFailed = 0x900,    // the data does not match its CRC-32 or size
    UnsafeName = 0xA00,        // the name would write outside its target folder
    PasswordMismatch = 0x1000, // encrypted item: not supported
    BadArgument = 0x10000,     // no handle, or index out of range
    WrongHandleKind = 0x80000, // not an archive reader handle
    InflateFailed = 0x5000000, // decompression failed, or the data ended early
};

// Names are held in UTF-8: 259 characters of up to four bytes, and the NUL.
constexpr int kArchiveNameCharacters = 259;
constexpr int kArchiveNameCapacity = kArchiveNameCharacters * 4 + 1;

struct ArchiveEntry {
    int32_t index = 0;                    // item number; for -1, the item count
    char name[kArchiveNameCapacity] = {}; // sanitised stored name
    uint32_t attributes = 0;              // Windows attribute bits
    uint64_t accessTime = 0;              // FILETIME values
    uint64_t creationTime = 0;
    uint64_t writeTime = 0;
    int32_t compressedSize = 0;
    int32_t uncompressedSize = 0;
};

struct ArchiveReaderState;
using ArchiveHandle = ArchiveReaderState*;

// Opens the archive at path. Null when the file cannot be opened or holds no
// valid end record; the file is then closed.
ArchiveHandle OpenArchive(const char* path);
// The same for a file that this process holds (platform::CreateHeldFile),
// read beside the holder's handle.
ArchiveHandle OpenHeldArchive(const char* path);
// The same for an archive that ends at archiveEnd, before other data (an
// installer's trailer and signature); -1 means at the end of the file.
ArchiveHandle OpenArchiveEndingAt(const char* path, int64_t archiveEnd);

// Describes item index into entry, or with index -1 puts the item count into
// entry->index. entry's index, name and uncompressedSize are cleared first.
ArchiveResult GetArchiveItem(ArchiveHandle handle, int32_t index, ArchiveEntry* entry);
// The same from the central directory alone, which a pass over every item
// reads in one sweep: the local header is neither read nor checked, the
// name comes with the central extra field and the times are the DOS ones.
ArchiveResult GetArchiveItemFromDirectory(ArchiveHandle handle, int32_t index, ArchiveEntry* entry);

// Writes item index to targetPath, creating missing folders; a relative target
// is taken under the current folder of OpenArchive's time. A folder item
// creates the folder. The data is checked against its CRC-32 and size; a
// target whose data fails the check is removed.
ArchiveResult ExtractArchiveItem(ArchiveHandle handle, int32_t index, const char* targetPath);
// The same to a file that must not exist yet, in a folder that exists (a
// full path): no folder is tested or created, and nothing in the way is
// ever written over. FileOpenFailed when something is there.
ArchiveResult ExtractArchiveItemToNewFile(ArchiveHandle handle, int32_t index, const char* targetPath);

// Reads item index into data, checked as extraction checks it; an item of
// more than capacity bytes is not read (BadArgument). data is empty on failure.
ArchiveResult ReadArchiveItem(ArchiveHandle handle, int32_t index, std::string* data, size_t capacity);

// Releases the handle; it is invalid afterwards.
ArchiveResult CloseArchive(ArchiveHandle handle);

// The stored name as UTF-8: as it is when the entry's flag bit 11 says so;
// else from an Info-ZIP Unicode path field (0x7075) of the extra field whose
// CRC-32 matches the stored name; else from the ANSI code page. False when
// the name is not valid UTF-8 where it claims to be, or does not fit
// kArchiveNameCapacity.
bool DecodeArchiveName(const char* stored, size_t length, uint16_t flags, const unsigned char* extra,
                       size_t extraLength, char* name);

// Applies the stored-name rules: drops a drive prefix, a leading separator and
// everything up to a "\..\", "\../", "/../" or "/..\", until none applies.
void SanitiseArchiveName(char* name);

// True when name, joined under a folder, stays inside it on every system: no
// ".." component, no drive, root or UNC prefix, no ":" (alternate data
// streams), no reserved device name, no component that Windows would trim to
// nothing or to "..", no control characters or wildcards.
bool IsSafeRelativeName(const char* name);
