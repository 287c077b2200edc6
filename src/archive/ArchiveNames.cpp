#include <cctype>
#include <cstring>
#include <string>

#include "archive/ArchiveReader.h"

#include "archive/Crc32.h"
#include "archive/PackageFormat.h"
#include "text/TextEncoding.h"
#include "platform/Platform.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Drops everything up to and including the first occurrence of pattern.
bool DropThrough(char* name, const char* pattern) {
    const char* found = std::strstr(name, pattern);
    if (found == nullptr) return false;
    const char* rest = found + std::strlen(pattern);
    std::memmove(name, rest, std::strlen(rest) + 1);
    return true;
}

bool ApplyOneRule(char* name) {
    if (name[0] != '\0' && name[1] == ':') {
        std::memmove(name, name + 2, std::strlen(name + 2) + 1);
        return true;
    }
    if (IsSeparator(name[0])) {
        std::memmove(name, name + 1, std::strlen(name + 1) + 1);
        return true;
    }
    return DropThrough(name, "\\..\\") || DropThrough(name, "\\../") || DropThrough(name, "/../") ||
           DropThrough(name, "/..\\");
}

bool IsReservedDeviceName(const std::string& component) {
    // Windows opens the device whatever extension follows: "nul.txt" is NUL.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

bool IsSafeComponent(const std::string& component) {
    if (component.empty() || component == ".") return true;
    // Windows trims trailing dots and blanks, so ". ." or "..." could become "..".
    if (component.find_first_not_of(". ") == std::string::npos) return false;
    return !IsReservedDeviceName(component);
}

}  // namespace

void SanitiseArchiveName(char* name) {
    while (ApplyOneRule(name)) {
    }
}

bool IsSafeRelativeName(const char* name) {
    if (name == nullptr || name[0] == '\0' || IsSeparator(name[0])) return false;
    std::string component;
    for (const char* p = name;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\0' || IsSeparator(static_cast<char>(c))) {
            if (!IsSafeComponent(component)) return false;
            component.clear();
            if (c == '\0') return true;
            continue;
        }
        if (c < 0x20 || std::strchr(":<>\"|?*", c) != nullptr) return false;
        component += static_cast<char>(c);
    }
}

namespace {

constexpr uint16_t kFlagUtf8Name = 0x800;
constexpr uint16_t kUnicodePathId = 0x7075;

// The UTF-8 name of the first Unicode path field, when its CRC-32 is the
// stored name's; empty otherwise.
std::string UnicodePathField(const char* stored, size_t length, const unsigned char* extra, size_t extraLength) {
    for (size_t offset = 0; offset + 4 <= extraLength;) {
        const uint16_t id = package::ReadLe16(extra + offset);
        const size_t size = package::ReadLe16(extra + offset + 2);
        const size_t data = offset + 4;
        if (data + size > extraLength) break;
        if (id == kUnicodePathId && size > 5 && extra[data] == 1) {
            const uint32_t nameCrc = package::ReadLe32(extra + data + 1);
            const uint32_t storedCrc = UpdateCrc32(0, stored, length);
            if (nameCrc != storedCrc) return std::string();
            return std::string(reinterpret_cast<const char*>(extra + data + 5), size - 5);
        }
        offset = data + size;
    }
    return std::string();
}

}  // namespace

bool DecodeArchiveName(const char* stored, size_t length, uint16_t flags, const unsigned char* extra,
                       size_t extraLength, char* name) {
    const std::string raw(stored, length);
    std::string decoded;
    if (flags & kFlagUtf8Name) {
        decoded = raw;
    } else {
        decoded = UnicodePathField(stored, length, extra, extraLength);
        if (decoded.empty()) {
            Utf8Checker checker;
            checker.Feed(raw.data(), raw.size());
            decoded = checker.SawNonAscii() ? platform::AnsiToUtf8(raw) : raw;
        }
    }
    if (!IsValidUtf8(decoded) || decoded.size() >= static_cast<size_t>(kArchiveNameCapacity) ||
        CountUtf8Characters(decoded) > static_cast<size_t>(kArchiveNameCharacters) ||
        decoded.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(name, decoded.c_str(), decoded.size() + 1);
    return true;
}
