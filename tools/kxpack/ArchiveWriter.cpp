#include "ArchiveWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"

namespace kxpack {
namespace {

constexpr zip_uint16_t kExtendedTimestampId = 0x5455;  // "UT"
constexpr zip_uint8_t kModificationTimeFlag = 0x01;
// DOS dates start in 1980; a day later keeps every time zone inside the range.
constexpr int64_t kEarliestDosTime = 315619200;  // 1980-01-02 00:00:00 UTC

int64_t ClampToInt32(int64_t seconds) {
    if (seconds < INT32_MIN) return INT32_MIN;
    if (seconds > INT32_MAX) return INT32_MAX;
    return seconds;
}

std::string LibzipError(zip_t* archive, const std::string& what, const std::string& name) {
    return what + " " + name + ": " + zip_strerror(archive);
}

// Adds the entry's data or folder record; returns its index, or -1.
zip_int64_t AddEntry(zip_t* archive, const PackageEntry& entry) {
    if (entry.isFolder) return zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_GUESS);
    zip_source_t* source = zip_source_file(archive, entry.path.c_str(), 0, -1);
    if (source == nullptr) return -1;
    const zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) zip_source_free(source);  // not taken over on failure
    return index;
}

bool SetEntryTime(zip_t* archive, zip_uint64_t index, int64_t modified) {
    const int64_t seconds = ClampToInt32(modified);
    const int64_t dosSeconds = seconds < kEarliestDosTime ? kEarliestDosTime : seconds;
    if (zip_file_set_mtime(archive, index, static_cast<time_t>(dosSeconds), 0) != 0) return false;
    const uint32_t unixTime = static_cast<uint32_t>(static_cast<int32_t>(seconds));
    const zip_uint8_t timestamp[5] = {
        kModificationTimeFlag,
        static_cast<zip_uint8_t>(unixTime),
        static_cast<zip_uint8_t>(unixTime >> 8),
        static_cast<zip_uint8_t>(unixTime >> 16),
        static_cast<zip_uint8_t>(unixTime >> 24),
    };
    return zip_file_extra_field_set(archive, index, kExtendedTimestampId, ZIP_EXTRA_FIELD_NEW, timestamp,
                                    sizeof timestamp, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) == 0;
}

// Host UNIX attributes: the reader takes "folder" from S_IFDIR and
// "read-only" from a missing owner-write bit.
bool SetEntryAttributes(zip_t* archive, zip_uint64_t index, const PackageEntry& entry) {
    const uint32_t type = entry.isFolder ? S_IFDIR : S_IFREG;
    const uint32_t mode = type | (entry.mode & 07777);
    return zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX, mode << 16) == 0;
}

bool StoreEntry(zip_t* archive, const PackageEntry& entry, PayloadMethod payloadMethod, std::string* error) {
    const zip_int64_t index = AddEntry(archive, entry);
    if (index < 0) {
        *error = LibzipError(archive, "cannot add", entry.path);
        return false;
    }
    const zip_uint64_t at = static_cast<zip_uint64_t>(index);
    const bool stored = !entry.isControl && payloadMethod == PayloadMethod::Store;
    if (!entry.isFolder && zip_set_file_compression(archive, at, stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                                    stored ? 0 : 9) != 0) {
        *error = LibzipError(archive, "cannot set compression of", entry.name);
        return false;
    }
    if (!SetEntryTime(archive, at, entry.modified) || !SetEntryAttributes(archive, at, entry)) {
        *error = LibzipError(archive, "cannot set time or attributes of", entry.name);
        return false;
    }
    return true;
}

constexpr char kIntegrityPlaceholder[] = "KXCRC32=00000000";

bool ReadAllAt(int fd, int64_t offset, unsigned char* buffer, size_t size) {
    while (size > 0) {
        const ssize_t got = pread(fd, buffer, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buffer += got;
        size -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

// Fills in the placeholder comment: the CRC-32 of every byte before the end
// record, which lets the installer tell a damaged download from a good one.
bool WriteIntegrityRecord(const std::string& zipPath, std::string* error) {
    const int fd = open(zipPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + zipPath + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(package::kIntegrityRecordSize);
    const int64_t covered = ok ? static_cast<int64_t>(info.st_size) - package::kIntegrityRecordSize : 0;
    unsigned char record[package::kIntegrityRecordSize];
    ok = ok && ReadAllAt(fd, covered, record, sizeof record);
    ok = ok && package::ReadLe32(record) == package::kEndRecordSignature &&
         package::ReadLe16(record + 20) == package::kIntegrityCommentLength &&
         std::memcmp(record + package::kEndRecordSize, kIntegrityPlaceholder, package::kIntegrityCommentLength) == 0;
    if (!ok) {
        close(fd);
        *error = "the archive written to " + zipPath + " does not end with the expected end record";
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (int64_t done = 0; ok && done < covered;) {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), covered - done));
        ok = ReadAllAt(fd, done, buffer.data(), chunk);
        if (ok) crc = crc32(crc, buffer.data(), static_cast<uInt>(chunk));
        done += static_cast<int64_t>(chunk);
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(crc));
    const off_t digitsAt = static_cast<off_t>(info.st_size) - 8;
    ok = ok && pwrite(fd, digits, 8, digitsAt) == 8;
    if (close(fd) != 0) ok = false;
    if (!ok) *error = "cannot write the integrity record of " + zipPath + ": " + std::strerror(errno);
    return ok;
}

}  // namespace

bool WriteArchive(const std::vector<PackageEntry>& entries, const std::string& zipPath, PayloadMethod payloadMethod,
                  std::string* error) {
    int openError = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_EXCL, &openError);
    if (archive == nullptr) {
        zip_error_t details;
        zip_error_init_with_code(&details, openError);
        *error = "cannot create " + zipPath + ": " + zip_error_strerror(&details);
        zip_error_fini(&details);
        return false;
    }
    for (const PackageEntry& entry : entries) {
        if (!StoreEntry(archive, entry, payloadMethod, error)) {
            zip_discard(archive);
            return false;
        }
    }
    if (zip_set_archive_comment(archive, kIntegrityPlaceholder, package::kIntegrityCommentLength) != 0) {
        *error = LibzipError(archive, "cannot set the comment of", zipPath);
        zip_discard(archive);
        return false;
    }
    // libzip reads the files and writes the archive only now, through a
    // temporary file of its own that it renames to zipPath on success.
    if (zip_close(archive) != 0) {
        *error = LibzipError(archive, "cannot write", zipPath);
        zip_discard(archive);
        return false;
    }
    return WriteIntegrityRecord(zipPath, error);
}

}  // namespace kxpack
