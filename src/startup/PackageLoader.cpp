#include "startup/PackageLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/ArchiveReader.h"
#include "archive/Crc32.h"
#include "archive/PackageFormat.h"
#include "archive/PackageLocator.h"
#include "archive/XzFile.h"
#include "platform/Platform.h"
#include "common/RemoveFolderTree.h"
#include "common/Log.h"
#include "state/Workspace.h"

namespace {

constexpr int32_t kBackgroundPageKeyPosition = 18;
constexpr int32_t kImageSlotPosition = 16;
constexpr int kPlacementLineCharacters = 4;
// The archive reader's sizes and offsets are signed 32-bit numbers.
constexpr int64_t kLargestArchiveCopy = INT32_MAX;

bool StopForCancel(const InstallerState& state) { return state.cancelLoading.load(std::memory_order_acquire); }

// Reads one line of at most capacity - 1 characters; the rest of a longer
// line is skipped so the next read starts on the next line.
bool ReadShortLine(std::FILE* file, char* line, int capacity) {
    if (std::fgets(line, capacity, file) == nullptr) return false;
    if (std::strchr(line, '\n') == nullptr) {
        int c;
        while ((c = std::fgetc(file)) != EOF && c != '\n') {
        }
    }
    return true;
}

bool IsControlItem(const char* name) {
    return std::strncmp(name, package::kControlFolder, package::kControlFolderLength) == 0;
}

bool HasAt(const char* name, size_t length, size_t position, const char* text) {
    const size_t textLength = std::strlen(text);
    return length >= position + textLength && std::memcmp(name + position, text, textLength) == 0;
}

bool EndsWith(const char* name, size_t length, const char* suffix) {
    const size_t suffixLength = std::strlen(suffix);
    return length >= suffixLength && std::memcmp(name + length - suffixLength, suffix, suffixLength) == 0;
}

// Sorts one extracted control item into the image slots and background records.
void RecordControlItem(InstallerState& state, const char* name, const std::string& path) {
    const size_t length = std::strlen(name);
    // A folder entry (which ZIP writers store for every folder) is no
    // picture: as a record it would be the one its page finds, and the page
    // would show nothing.
    if (length > 0 && (name[length - 1] == '/' || name[length - 1] == '\\')) return;
    const size_t folderEnd = package::kControlFolderLength;
    if (HasAt(name, length, folderEnd, "/img/")) {
        state.imageSlots[DigitIndex(name + kImageSlotPosition)] = path;
        return;
    }
    if (!HasAt(name, length, folderEnd, "/bgimg/") || EndsWith(name, length, ".txt")) return;
    if (state.backgroundRecordCount >= kMaxBackgroundRecords) return;  // further pictures are not shown
    BackgroundRecord& record = state.backgroundRecords[state.backgroundRecordCount];
    record = BackgroundRecord();
    record.pageKey = DigitIndex(name + kBackgroundPageKeyPosition);
    record.path = path;
    if (record.pageKey == kSlideshowPageKey) state.slideshowRecordCount += 1;
    state.backgroundRecordCount += 1;
}

CopyResult StoppedForCancel(InstallerState& state, platform::UniqueFile& input, platform::UniqueFile& output) {
    input.Reset();
    output.Reset();
    state.loaderStopped.store(true, std::memory_order_release);
    return CopyResult::Cancelled;
}

// The plain archive, copied as it is.
CopyResult CopyPlainArchive(InstallerState& state, const package::PackageLocation& where, platform::UniqueFile& input,
                            platform::UniqueFile& output, const CopyProgress& progress) {
    const int64_t length = where.archiveLength;
    if (progress.setRange) progress.setRange(static_cast<int32_t>(length / kMegabyte));
    std::unique_ptr<char[]> buffer(new char[kCopyChunkSize + 1]);
    // The copy reads every byte anyway: the integrity check needs no second
    // pass, and the folded CRC-32 keeps up with the copy.
    uint32_t crc = 0;
    for (int64_t copied = 0; copied < length;) {
        if (StopForCancel(state)) return StoppedForCancel(state, input, output);
        const uint32_t chunk = static_cast<uint32_t>(copied + kCopyChunkSize >= length ? length - copied : kCopyChunkSize);
        if (platform::ReadFileAt(input.Get(), where.archiveStart + copied, buffer.get(), chunk) != chunk) {
            return CopyResult::Damaged;
        }
        const int64_t covered = std::max<int64_t>(0, std::min<int64_t>(chunk, where.coveredLength - copied));
        crc = UpdateCrc32(crc, buffer.get(), static_cast<size_t>(covered));
        if (!platform::WriteToFile(output.Get(), buffer.get(), chunk)) return CopyResult::WriteFailed;
        copied += chunk;
        if (progress.setPosition) progress.setPosition(static_cast<int32_t>(copied / kMegabyte));
    }
    if (where.hasIntegrityRecord && crc != where.expectedCrc) {
        LogEvent("package damaged: its CRC-32 does not match its integrity record");
        return CopyResult::Damaged;
    }
    LogEvent("package: " + std::to_string(length) + " bytes, " +
             (where.hasIntegrityRecord ? "CRC-32 matches its integrity record" : "no integrity record"));
    return CopyResult::Copied;
}

struct SolidProgress {
    InstallerState* state;
    const CopyProgress* progress;
};

void ReportSolidProgress(void* context, int64_t consumedInputBytes) {
    const SolidProgress* solid = static_cast<const SolidProgress*>(context);
    if (solid->progress->setPosition) solid->progress->setPosition(static_cast<int32_t>(consumedInputBytes / kMegabyte));
}

bool SolidCancelled(void* context) { return StopForCancel(*static_cast<const SolidProgress*>(context)->state); }

// The solid archive, decompressed into the copy, which must then be a whole
// ZIP archive. The bar runs over the installer's bytes.
CopyResult DecompressSolidArchive(InstallerState& state, const package::PackageLocation& where,
                                  platform::UniqueFile& input, platform::UniqueFile& output,
                                  const CopyProgress& progress) {
    // The stream's own checks do not cover every byte: its record is
    // compared first, before any of it is decompressed. That pass is short
    // (it reads, and the CRC-32 is folded); a cancel waits for its end.
    std::string reason;
    if (!package::CheckIntegrity(input.Get(), where, &reason)) {
        LogEvent("package damaged: " + reason);
        return CopyResult::Damaged;
    }
    if (StopForCancel(state)) return StoppedForCancel(state, input, output);
    if (progress.setRange) progress.setRange(static_cast<int32_t>(where.StreamLength() / kMegabyte));
    SolidProgress context = {&state, &progress};
    xz::XzProgress reporting;
    reporting.report = ReportSolidProgress;
    reporting.cancelled = SolidCancelled;
    reporting.context = &context;
    int64_t written = 0;
    const xz::XzFileResult result = xz::DecompressXzFile(input.Get(), where.archiveStart, where.StreamLength(),
                                                         output.Get(), xz::kMaxSolidDictionary, reporting, &written);
    if (result == xz::XzFileResult::cancelled) return StoppedForCancel(state, input, output);
    if (result == xz::XzFileResult::writeFailed) return CopyResult::WriteFailed;
    // A dictionary above the limit (tooLarge) is damage too: never allocated.
    package::PackageLocation copy;
    if (result != xz::XzFileResult::ok || written > kLargestArchiveCopy ||
        !package::CheckPlainArchive(output.Get(), written, &copy, &reason)) {
        LogEvent("package damaged: its stream does not decompress to a whole archive" +
                 (reason.empty() ? reason : ": " + reason));
        return CopyResult::Damaged;
    }
    LogEvent("package: " + std::to_string(where.archiveLength) + " bytes, solid, CRC-32 matches its integrity "
             "record; " + std::to_string(written) + " bytes decompressed");
    return CopyResult::Copied;
}

}  // namespace

CopyResult CopyArchiveOut(InstallerState& state, const std::string& installerPath, const std::string& archiveCopyPath,
                          const CopyProgress& progress) {
    platform::UniqueFile input(platform::OpenFileForReading(installerPath.c_str()));
    if (!input.IsOpen()) return CopyResult::Damaged;
    package::PackageLocation where;
    std::string reason;
    if (!package::LocatePackage(input.Get(), &where, &reason)) {
        LogEvent("package damaged: " + reason);
        return CopyResult::Damaged;
    }
    // The workspace is new, so the copy is a new file. Its handle lets
    // nobody else write or delete it, and is kept until the workspace goes:
    // what was checked here is what the installation reads. Closed early
    // (a cancel, a failure, a killed process), it takes the copy with it.
    platform::UniqueFile output(platform::CreateHeldFile(archiveCopyPath.c_str()));
    if (!output.IsOpen()) return CopyResult::WriteFailed;
    const CopyResult result = where.isSolid ? DecompressSolidArchive(state, where, input, output, progress)
                                            : CopyPlainArchive(state, where, input, output, progress);
    if (result == CopyResult::Copied) KeepArchiveCopy(output.Release());
    return result;
}

bool ExtractControlFolder(InstallerState& state, const std::string& archiveCopyPath, const std::string& workspaceBase) {
    ArchiveHandle archive = OpenHeldArchive(archiveCopyPath.c_str());
    ArchiveEntry entry;
    (void)GetArchiveItem(archive, -1, &entry);  // no archive: count 0
    const int32_t count = entry.index;
    for (int32_t i = 0; i < count; ++i) {
        // Counted by the central header alone, so a damaged item still counts
        // by the name it gives there; only control items are read further.
        (void)GetArchiveItemFromDirectory(archive, i, &entry);
        if (StopForCancel(state)) {
            CloseArchive(archive);
            state.loaderStopped.store(true, std::memory_order_release);
            return false;
        }
        if (!IsControlItem(entry.name)) {
            state.payloadItemCount += 1;
            state.payloadBytes += static_cast<int64_t>(entry.uncompressedSize);
            continue;
        }
        const std::string path = workspaceBase + entry.name;
        (void)ExtractArchiveItem(archive, i, path.c_str());  // a failed item is simply missing
        RecordControlItem(state, entry.name, path);
    }
    state.neededMegabytes = static_cast<int32_t>(static_cast<double>(state.payloadBytes) / 1024.0 / 1024.0);
    for (int32_t i = 0; i < state.backgroundRecordCount; ++i) ReadPlacement(&state.backgroundRecords[i]);
    state.imageSlots[0] = workspaceBase + package::kControlFolder + "\\img\\setup.jpg";
    if (archive != nullptr) CloseArchive(archive);
    return true;
}

ScopeSetting ReadScopeSetting(const std::string& installerPath) {
    constexpr size_t kScopeFileCapacity = 4096;
    package::PackageLocation where;
    {
        platform::UniqueFile input(platform::OpenFileForReading(installerPath.c_str()));
        std::string reason;
        if (!input.IsOpen() || !package::LocatePackage(input.Get(), &where, &reason)) return ScopeSetting::Absent;
    }
    ArchiveHandle archive = OpenArchiveEndingAt(installerPath.c_str(), where.ArchiveEnd());
    ArchiveEntry entry;
    (void)GetArchiveItem(archive, -1, &entry);
    const int32_t count = entry.index;
    const std::string wanted = std::string(package::kControlFolder) + "/scope.txt";
    std::string text;
    bool found = false;
    for (int32_t i = 0; i < count && !found; ++i) {
        if (GetArchiveItemFromDirectory(archive, i, &entry) != ArchiveResult::Ok || wanted != entry.name) continue;
        found = true;
        (void)ReadArchiveItem(archive, i, &text, kScopeFileCapacity);  // unreadable: an unknown word
    }
    if (archive != nullptr) CloseArchive(archive);
    if (!found) return ScopeSetting::Absent;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    return ScopeSettingFromText(text.substr(0, text.find('\n')));
}

int32_t DigitIndex(const char* character) {
    const char c = character != nullptr ? character[0] : '\0';
    return (c >= '1' && c <= '9') ? c - '0' : 10;
}

void ReadPlacement(BackgroundRecord* record) {
    record->placementMode = record->x = record->y = 0;
    std::FILE* file = platform::OpenStream((record->path + ".txt").c_str(), "r");
    if (file == nullptr) return;
    int32_t* fields[3] = {&record->placementMode, &record->x, &record->y};
    char line[kPlacementLineCharacters + 1];
    for (int32_t* field : fields) {
        if (!ReadShortLine(file, line, sizeof line)) break;
        *field = std::atoi(line);
    }
    std::fclose(file);
}
