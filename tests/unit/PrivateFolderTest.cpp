#include <set>

#include "TestSupport.h"
#include "common/PrivateFolder.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

namespace {

TEST(RandomFolderName, EveryNameIsNewAndOfTheAllowedCharacters) {
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string name = RandomFolderName("kxsetup-");
        ASSERT_EQ(std::string("kxsetup-").size() + kRandomNameCharacters, name.size()) << name;
        EXPECT_EQ(0u, name.rfind("kxsetup-", 0)) << name;
        EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz", 8)) << name;
        names.insert(name);
    }
    EXPECT_EQ(200u, names.size());
}

TEST(ProtectedFolderRights, AdministratorsAndSystemInFullTheUserReadsAndNothingIsInherited) {
    EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;S-1-5-21-1-2-3-1001)",
              ProtectedFolderRights("S-1-5-21-1-2-3-1001"));
    EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", ProtectedFolderRights(""));
}

class PrivateFolderTest : public ScratchFolder {};

TEST_F(PrivateFolderTest, EachFolderIsNewAndEmptyUnderItsParent) {
    const std::string first = CreatePrivateFolder(Path(""), "kxtest-");
    const std::string second = CreatePrivateFolder(Path(""), "kxtest-");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(0u, first.rfind(Path("kxtest-"), 0)) << first;
    std::vector<platform::FolderEntry> entries;
    ASSERT_TRUE(platform::ListFolder(first.c_str(), &entries));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ("", CreatePrivateFolder(Path("missing") + "\\", "kxtest-"));
}

#ifdef _WIN32
// The system reads our text as the descriptor it means: each entry back as given.
TEST(ProtectedFolderRights, TheSystemReadsTheTextAsGiven) {
    const std::string text = ProtectedFolderRights(platform::CurrentUserSid());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    char* back = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &back, nullptr));
    EXPECT_EQ(text, back);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    LocalFree(back);
    LocalFree(descriptor);
}

// Whether this file system keeps the rights given to a folder (Wine's may
// not): tried with the system's own call, not ours.
bool KeepsRights(const std::string& probe) {
    if (!CreateDirectoryA(probe.c_str(), nullptr)) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const BOOL set = SetFileSecurityA(probe.c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return set && platform::ReadRights(probe.c_str()).find("D:P(A;;FA;;;SY)") != std::string::npos;
}

// The rights are given as the folder is made, and what is made inside
// inherits them; read back from the system, not from our own text.
TEST_F(PrivateFolderTest, AProtectedFolderAndWhatIsMadeInItCarryTheRights) {
    const std::string user = platform::CurrentUserSid();
    ASSERT_FALSE(user.empty());
    const std::string folder = Path("protected");
    ASSERT_TRUE(platform::CreateFolderWithRights(folder.c_str(), ProtectedFolderRights(user)));
    ASSERT_TRUE(WriteBytes(folder + "\\inside.txt", ToBytes("x")));
    const std::string rights = platform::ReadRights(folder.c_str());
    if (!KeepsRights(Path("probe"))) GTEST_SKIP() << "this file system keeps no rights given to it: " << rights;
    EXPECT_NE(std::string::npos, rights.find("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;" + user + ")"))
        << rights;
    const std::string inherited = platform::ReadRights((folder + "\\inside.txt").c_str());
    EXPECT_NE(std::string::npos, inherited.find("(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;" + user + ")"))
        << inherited;
    EXPECT_FALSE(platform::CreateFolderWithRights(Path("bad").c_str(), "not a descriptor"));
    EXPECT_FALSE(platform::PathExists(Path("bad").c_str()));
}

// The system account's private temporary folder where the system has one.
TEST(TempFolder, ComesFromGetTempPath2WhereTheSystemHasIt) {
    using TempPathCall = DWORD(WINAPI*)(DWORD, LPWSTR);
    const auto tempPath2 = reinterpret_cast<TempPathCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    wchar_t expected[MAX_PATH + 1];
    const DWORD length = tempPath2 != nullptr ? tempPath2(MAX_PATH + 1, expected) : GetTempPathW(MAX_PATH + 1, expected);
    ASSERT_GT(length, 0u);
    char narrow[4 * MAX_PATH];
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, expected, static_cast<int>(length), narrow, sizeof narrow, nullptr, nullptr);
    ASSERT_GT(bytes, 0);
    EXPECT_EQ(std::string(narrow, static_cast<size_t>(bytes)), platform::GetTempFolder());
}
#endif

}  // namespace
