#pragma once
// The loader's first steps: copying the archive out of the installer file
// into the workspace, and extracting the control folder from that copy.
// Both run on the loader thread and stop early when cancelLoading is set,
// setting loaderStopped once their files are closed.

#include <cstdint>
#include <functional>
#include <string>

#include "common/Scope.h"
#include "state/InstallerState.h"

constexpr int64_t kCopyChunkSize = 10485760;  // 10 MiB
constexpr int64_t kMegabyte = 1048576;

// Where the copy reports its progress, in whole MiB. The installer sends
// these to the extraction dialog's bar; either may be empty.
struct CopyProgress {
    std::function<void(int32_t megabytes)> setRange;
    std::function<void(int32_t megabytes)> setPosition;
};

enum class CopyResult {
    Copied,
    Cancelled,    // stopped on a cancel request; loaderStopped is set
    Damaged,      // no whole package: truncated, altered or none appended
    WriteFailed,  // the archive copy could not be written
};

// Finds the package in installerPath (before any certificate table), checks
// its structure, and copies the archive to archiveCopyPath, a new file in
// the workspace, in 10 MiB chunks. When the archive carries an integrity
// record, its CRC-32 is computed during the copy and must match. A solid
// package's stream is checked against its record first, then decompressed
// into archiveCopyPath, which must then hold a whole ZIP archive; its
// progress counts the installer's bytes read. Nothing is copied from a
// package whose structure is damaged. A complete copy's handle is kept
// (KeepArchiveCopy); any other end closes it, which deletes the copy.
CopyResult CopyArchiveOut(InstallerState& state, const std::string& installerPath, const std::string& archiveCopyPath,
                          const CopyProgress& progress);

// Extracts every control item of the archive copy under workspaceBase
// (which ends with a separator), records page images and background pictures, and
// totals the payload. Returns false when it stopped on a cancel request.
bool ExtractControlFolder(InstallerState& state, const std::string& archiveCopyPath, const std::string& workspaceBase);

// The first line of the package's scope.txt, read from the installer file
// itself, before anything is copied out. Absent without the file, and when
// there is no whole package (the copy then reports that).
ScopeSetting ReadScopeSetting(const std::string& installerPath);

// 1 to 9 for the digit characters "1" to "9", else 10.
int32_t DigitIndex(const char* character);

// Fills placementMode, x and y from the picture's companion file (its path
// plus ".txt"): three numbers, one per line, each read from at most its first
// four characters. Missing file or lines give 0.
void ReadPlacement(BackgroundRecord* record);
