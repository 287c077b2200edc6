// kxpack list: one tab-separated line per archive item.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <unistd.h>

#include "Commands.h"
#include "archive/PackageFormat.h"
#include "common/Scope.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"

namespace kxpack {
namespace {

constexpr int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

// FILETIME (100 ns units since 1601, UTC) as YYYY-MM-DDTHH:MM:SSZ.
std::string FormatFileTime(uint64_t fileTime) {
    const int64_t seconds = static_cast<int64_t>(fileTime / kFileTimeUnitsPerSecond) - kSecondsFrom1601To1970;
    const time_t unixTime = static_cast<time_t>(seconds);
    struct tm utc {};
    char text[32] = "?";
    if (gmtime_r(&unixTime, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void PrintEntry(const ArchiveEntry& entry) {
    std::printf("%d\t%s\t%d\t%d\t0x%08x\t%s\n", static_cast<int>(entry.index), entry.name,
                static_cast<int>(entry.uncompressedSize), static_cast<int>(entry.compressedSize),
                static_cast<unsigned>(entry.attributes), FormatFileTime(entry.writeTime).c_str());
}

// The control items --info reads, by name, read whole (each is small).
std::map<std::string, std::string> ReadControlItems(ArchiveReaderState* archive, int32_t count) {
    constexpr size_t kControlItemCapacity = 1 << 20;
    const std::string prefix = std::string(package::kControlFolder) + "/";
    std::map<std::string, std::string> items;
    for (int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        if (GetArchiveItem(archive, i, &entry) != ArchiveResult::Ok) continue;
        const std::string name = entry.name;
        if (name.compare(0, prefix.size(), prefix) != 0 || items.count(name.substr(prefix.size())) != 0) continue;
        std::string data;
        if (ReadArchiveItem(archive, i, &data, kControlItemCapacity) == ArchiveResult::Ok) {
            items[name.substr(prefix.size())] = data;
        }
    }
    return items;
}

// The lines of a control file as the installer reads them: through a file,
// in its encoding, one line at a time.
std::vector<std::string> ControlLines(const std::string& data, size_t count) {
    char path[] = "/tmp/kxpack-info-XXXXXX";
    const int descriptor = mkstemp(path);
    std::vector<std::string> lines(count);
    if (descriptor < 0) return lines;
    const bool written = write(descriptor, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    close(descriptor);
    if (written) {
        TextFile file(path);
        char line[kLineCapacity];
        for (std::string& text : lines) {
            if (ReadLine(file, line)) text = line;
        }
    }
    unlink(path);
    return lines;
}

MacroTable LoadMacros(const std::map<std::string, std::string>& items) {
    MacroTable table;
    const auto found = items.find("macros.txt");
    if (found == items.end()) return table;
    char path[] = "/tmp/kxpack-info-XXXXXX";
    const int descriptor = mkstemp(path);
    if (descriptor < 0) return table;
    const bool written = write(descriptor, found->second.data(), found->second.size()) ==
                         static_cast<ssize_t>(found->second.size());
    close(descriptor);
    if (written) LoadMacroTable(table, path);
    unlink(path);
    return table;
}

const char kExitCodes[] =
    "ExpectedReturnCodes:\n"
    "  0: the installation finished (also: the user chose not to install)\n"
    "  1: the installer could not start: damaged, a switch it does not know or allow, or administrator rights "
    "refused\n"
    "  2: the installation stopped on an error; what it changed was put back\n"
    "  3: the installation finished, but some items were not installed\n"
    "  4: another installation is running (winget: installInProgress)\n"
    "  5: the installation was cancelled; what it changed was put back (winget: cancelledByUser)\n";

void PrintScope(ScopeSetting setting) {
    switch (setting) {
    case ScopeSetting::User:
        std::printf("Scope: user\nElevationRequirement: none (never asks for rights)\n"
                    "ScopeSwitches: /CURRENTUSER (accepted, not needed)\n");
        break;
    case ScopeSetting::Machine:
        std::printf("Scope: machine\nElevationRequirement: elevatesSelf\nScopeSwitches: /ALLUSERS (accepted, not needed)\n");
        break;
    case ScopeSetting::Either:
        std::printf("Scope: either\nElevationRequirement: elevatesSelf (for all users)\n"
                    "ScopeSwitches:\n  user: Custom /CURRENTUSER\n  machine: Custom /ALLUSERS\n");
        break;
    default:
        std::printf("Scope: none (no scope.txt%s): asks for the highest rights the user has; the entry goes to "
                    "HKEY_LOCAL_MACHINE, else HKEY_CURRENT_USER\nElevationRequirement: elevatesSelf\n",
                    setting == ScopeSetting::Invalid ? ", or one naming no scope" : "");
        break;
    }
}

// Facts for a package manager's manifest: switches, exit codes, scope and
// the entry in the list of installed programs.
int PrintInfo(const std::string& path) {
    int32_t count = 0;
    ArchivePtr archive = OpenPackageForReading(path, &count);
    if (!archive) return kExitFailure;
    const std::map<std::string, std::string> items = ReadControlItems(archive.get(), count);
    const auto scopeFile = items.find("scope.txt");
    const ScopeSetting setting = scopeFile == items.end()
                                     ? ScopeSetting::Absent
                                     : ScopeSettingFromText(ControlLines(scopeFile->second, 1)[0]);
    PrintScope(setting);
    std::printf("InstallerSwitches:\n  Silent: /S\n  SilentWithProgress: /S\n  InstallLocation: /D=<INSTALLPATH>\n"
                "  Log: /LOG=\"<LOGPATH>\"\n");
    std::printf("%s", kExitCodes);
    const MacroTable macros = LoadMacros(items);
    const std::string product = ProductName(macros);
    if (product.empty() || (items.count("uninstall.txt") == 0)) {
        std::printf("AppsAndFeaturesEntries: none (no uninstaller is registered)\n");
        return kExitOk;
    }
    std::vector<std::string> info(2);
    const auto infoFile = items.find("uninstall_info.txt");
    if (infoFile != items.end()) info = ControlLines(infoFile->second, 2);
    const char* root = setting == ScopeSetting::User     ? "HKEY_CURRENT_USER"
                       : setting == ScopeSetting::Either ? "HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, as chosen"
                                                         : "HKEY_LOCAL_MACHINE";
    std::printf("AppsAndFeaturesEntries:\n  DisplayName: %s (remove only)\n  DisplayVersion: %s\n  Publisher: %s\n"
                "  Key: %s\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s\n",
                product.c_str(), ExpandMacros(macros, info[0], std::string()).c_str(),
                ExpandMacros(macros, info[1], std::string()).c_str(), root, product.c_str());
    return kExitOk;
}

}  // namespace

int RunList(const Arguments& args) {
    if (args.size() == 2 && args[0] == "--info") return PrintInfo(args[1]);
    if (args.size() != 1) return UsageError("list takes exactly one FILE");
    int32_t count = 0;
    ArchivePtr archive = OpenPackageForReading(args[0], &count);
    if (!archive) return kExitFailure;
    int status = kExitOk;
    for (int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        const ArchiveResult result = GetArchiveItem(archive.get(), i, &entry);
        if (result != ArchiveResult::Ok) {
            std::fprintf(stderr, "kxpack: item %d: %s\n", static_cast<int>(i), DescribeArchiveResult(result));
            status = kExitFailure;
            continue;
        }
        PrintEntry(entry);
    }
    return status;
}

}  // namespace kxpack
