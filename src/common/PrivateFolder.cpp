#include "common/PrivateFolder.h"

#include <cstdint>

#include "platform/Platform.h"

std::string RandomFolderName(const std::string& prefix) {
    static const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    constexpr unsigned kAlphabetSize = sizeof kAlphabet - 1;
    // 252 is the largest multiple of 36 below 256: bytes above it are
    // dropped, so every character is equally likely.
    constexpr unsigned kUsableBytes = 252;
    std::string name = prefix;
    uint8_t bytes[64];
    while (name.size() < prefix.size() + kRandomNameCharacters) {
        if (!platform::FillRandomBytes(bytes, sizeof bytes)) return std::string();
        for (const uint8_t byte : bytes) {
            if (byte >= kUsableBytes || name.size() == prefix.size() + kRandomNameCharacters) continue;
            name += kAlphabet[byte % kAlphabetSize];
        }
    }
    return name;
}

std::string ProtectedFolderRights(const std::string& userSid) {
    // P: nothing inherited from the temporary folder; OICI: every file and
    // folder made inside gets the same. 0x1200a9 is read and execute.
    std::string rights = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
    if (!userSid.empty()) rights += "(A;OICI;0x1200a9;;;" + userSid + ")";
    return rights;
}

std::string PrivateFolderRights() {
    return platform::IsProcessElevated() ? ProtectedFolderRights(platform::CurrentUserSid()) : std::string();
}

std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
    if (parent.empty()) return std::string();
    const std::string rights = PrivateFolderRights();
    for (int attempt = 0; attempt < kPrivateFolderTries; ++attempt) {
        const std::string name = RandomFolderName(prefix);
        if (name.empty()) return std::string();
        const std::string folder = parent + name;
        if (platform::CreateFolderWithRights(folder.c_str(), rights)) return folder;
    }
    return std::string();
}
