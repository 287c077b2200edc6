#include "TestSupport.h"

#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void SetTempEnvironment(const std::string& folder) {
#ifdef _WIN32
    SetEnvironmentVariableA("TMP", folder.c_str());
    SetEnvironmentVariableA("TEMP", folder.c_str());
#else
    setenv("TMPDIR", folder.c_str(), 1);
#endif
}

void Put16(Bytes* out, uint32_t value) {
    out->push_back(static_cast<unsigned char>(value));
    out->push_back(static_cast<unsigned char>(value >> 8));
}

void Put32(Bytes* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void PutBytes(Bytes* out, const Bytes& bytes) { out->insert(out->end(), bytes.begin(), bytes.end()); }

Bytes RawDeflate(const Bytes& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16);
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uint32_t Pick(int64_t override, uint32_t computed) {
    return override >= 0 ? static_cast<uint32_t>(override) : computed;
}

}  // namespace

void ScratchFolder::SetUp() {
    savedTemp_ = platform::GetTempFolder();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ = savedTemp_ + "kxtest-" + info->name() + "-" + std::to_string(stamp);
    ASSERT_TRUE(platform::CreateFolder(folder_.c_str())) << folder_;
#ifdef _WIN32
    folder_ += "\\";
#else
    folder_ += "/";
#endif
    SetTempEnvironment(folder_);
    // Each test's own workspace, as a run makes one in its temporary folder.
    UseWorkspace(folder_ + "workspace");
    ASSERT_TRUE(platform::CreateFolder(WorkspacePath().c_str()));
}

void ScratchFolder::TearDown() {
    ReleaseArchiveCopy();
    UseWorkspace(std::string());
    SetTempEnvironment(savedTemp_);
    if (!folder_.empty()) RemoveFolderTree(folder_.substr(0, folder_.size() - 1));
}

Bytes BuildZip(const std::vector<ZipItem>& items, const ZipOptions& options) {
    Bytes zip = options.prefix;
    const size_t archiveStart = zip.size();
    Bytes central;
    for (const ZipItem& item : items) {
        const Bytes stored = item.method == 8 ? RawDeflate(item.data) : item.data;
        const uint32_t crc = static_cast<uint32_t>(crc32(0L, item.data.data(), static_cast<uInt>(item.data.size())));
        const uint32_t localOffset = static_cast<uint32_t>(zip.size() - archiveStart);
        const uint32_t compressed = Pick(item.compressedSizeField, static_cast<uint32_t>(stored.size()));
        const uint32_t uncompressed = Pick(item.uncompressedSizeField, static_cast<uint32_t>(item.data.size()));
        const uint32_t nameLength = static_cast<uint32_t>(item.name.size());

        Put32(&zip, 0x04034b50);
        Put16(&zip, 20);
        Put16(&zip, item.flags);
        Put16(&zip, Pick(item.localMethod, item.method));
        Put16(&zip, item.dosTime);
        Put16(&zip, item.dosDate);
        Put32(&zip, Pick(item.localCrc, crc));
        Put32(&zip, compressed);
        Put32(&zip, uncompressed);
        Put16(&zip, Pick(item.localNameLength, nameLength));
        Put16(&zip, static_cast<uint32_t>(item.localExtra.size()));
        PutBytes(&zip, ToBytes(item.name));
        PutBytes(&zip, item.localExtra);
        PutBytes(&zip, stored);

        Put32(&central, 0x02014b50);
        Put16(&central, item.versionMadeBy);
        Put16(&central, 20);
        Put16(&central, item.flags);
        Put16(&central, item.method);
        Put16(&central, item.dosTime);
        Put16(&central, item.dosDate);
        Put32(&central, Pick(item.centralCrc, crc));
        Put32(&central, compressed);
        Put32(&central, uncompressed);
        Put16(&central, nameLength);
        Put16(&central, static_cast<uint32_t>(item.centralExtra.size()));
        Put16(&central, 0);  // comment
        Put16(&central, 0);  // disk
        Put16(&central, 0);  // internal attributes
        Put32(&central, item.externalAttributes);
        Put32(&central, localOffset);
        PutBytes(&central, ToBytes(item.name));
        PutBytes(&central, item.centralExtra);
    }
    const uint32_t directoryOffset = static_cast<uint32_t>(zip.size() - archiveStart);
    PutBytes(&zip, central);
    Put32(&zip, 0x06054b50);
    Put16(&zip, static_cast<uint32_t>(options.thisDisk));
    Put16(&zip, 0);
    Put16(&zip, static_cast<uint32_t>(items.size() + options.entriesOnDiskDelta));
    Put16(&zip, static_cast<uint32_t>(items.size()));
    Put32(&zip, static_cast<uint32_t>(central.size()));
    Put32(&zip, directoryOffset);
    Put16(&zip, static_cast<uint32_t>(options.comment.size()));
    PutBytes(&zip, ToBytes(options.comment));
    return zip;
}

uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 by the civil-from-days inverse.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = static_cast<int64_t>(era) * 146097 + dayOfEra - 719468;
    return UnixToFileTime(days * 86400 + hour * 3600 + minute * 60 + second);
}

uint64_t WriteTimeOf(const std::string& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
#else
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return UnixToFileTime(info.st_mtim.tv_sec) + static_cast<uint64_t>(info.st_mtim.tv_nsec / 100);
#endif
}
