// The workspace of a run: a new folder with a name of its own each time,
// never the old fixed "%KXInstall%" (run_e2e.sh makes that one a link to a
// folder of files beforehand), an archive copy nobody else can change, and
// rights of its own where the run is elevated.

#include "InstallerFixture.h"

#include <sddl.h>

#include "platform/WideText.h"

using namespace e2e;

namespace {

constexpr char kWorkspacePrefix[] = "kxsetup-";
constexpr char kFinished[] = "Installation finished!\n\nClick done to exit.";

class WorkspaceTest : public InstallerTest {
protected:
    std::string ArchiveCopy() const { return WorkspacePath() + "\\tempfile.tmp"; }
};

TEST_F(WorkspaceTest, EveryRunHasANewWorkspaceOfItsOwn) {
    ASSERT_NE(OpenWizard("full"), nullptr);
    const std::string first = WorkspacePath();
    ASSERT_FALSE(first.empty());
    installer.Kill();
    ASSERT_TRUE(RemoveWorkspaces());
    ASSERT_NE(OpenWizard("full"), nullptr);
    const std::string second = WorkspacePath();
    EXPECT_NE(first, second);
    for (const std::string& folder : {first, second}) {
        const std::string name = folder.substr(TempFolder().size());
        EXPECT_EQ(0u, name.rfind(kWorkspacePrefix, 0)) << name;
        EXPECT_GE(name.size(), sizeof kWorkspacePrefix - 1 + 10) << name;
    }
}

TEST_F(WorkspaceTest, TheArchiveCopyCannotBeWrittenOrDeletedWhileTheWizardShows) {
    ASSERT_NE(OpenWizard("full"), nullptr);
    const std::wstring copy = WidePath(ArchiveCopy());
    HANDLE writer = CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the copy was opened for writing";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(copy.c_str())) << "the copy was deleted";
    EXPECT_FALSE(MoveFileW(copy.c_str(), (copy + L".moved").c_str())) << "the copy was moved";
    EXPECT_TRUE(PathExists(ArchiveCopy()));
}

// The folder of the old fixed name is a link to a folder of files: a run
// that ends with Done, one that ends with Exit and a silent one all leave
// the link and the files as they were.
TEST_F(WorkspaceTest, TheOldFixedFolderIsNeverTouchedEvenAsALink) {
    const std::string fixed = TempFolder() + "%KXInstall%";
    const DWORD attributes = GetFileAttributesW(WidePath(fixed).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        GTEST_SKIP() << fixed << " is no link here (run_e2e.sh makes one)";
    }
    std::string before;
    ASSERT_TRUE(ReadFileBytes(fixed + "\\precious.txt", &before));

    ASSERT_TRUE(Start("full", "/S /D=" + TargetFolder()));
    ASSERT_TRUE(EndsCleanly());
    HWND wizard = OpenWizard("full");
    ASSERT_NE(wizard, nullptr);
    Close(wizard);
    ASSERT_TRUE(EndsCleanly());

    EXPECT_EQ(GetFileAttributesW(WidePath(fixed).c_str()), attributes);
    std::string after;
    EXPECT_TRUE(ReadFileBytes(fixed + "\\precious.txt", &after));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(PathExists(fixed + "\\sub\\kept.txt"));
    (void)RemoveTree(TargetFolder());
}

// Whether the process's token is elevated, and its user as text.
bool ReadToken(DWORD processId, bool* elevated, std::string* user) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == nullptr) return false;
    HANDLE token = nullptr;
    const bool opened = OpenProcessToken(process, TOKEN_QUERY, &token);
    CloseHandle(process);
    if (!opened) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    char buffer[256];
    read = read && GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
    char* text = nullptr;
    read = read && ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    CloseHandle(token);
    if (!read) return false;
    *elevated = elevation.TokenIsElevated != 0;
    *user = text;
    LocalFree(text);
    return true;
}

std::string DaclOf(const std::string& path);

// Whether this file system keeps the rights given to a folder (Wine's may
// not): tried with the system's own call on a folder of the test's.
bool KeepsRights(const std::string& probe) {
    (void)RemoveTree(probe);
    if (!CreateDirectoryW(WidePath(probe).c_str(), nullptr)) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool kept = false;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
        kept = SetFileSecurityW(WidePath(probe).c_str(), DACL_SECURITY_INFORMATION, descriptor) &&
               DaclOf(probe) == "D:P(A;;FA;;;SY)";
        LocalFree(descriptor);
    }
    (void)RemoveTree(probe);
    return kept;
}

std::string DaclOf(const std::string& path) {
    char buffer[4096];
    DWORD needed = 0;
    if (!GetFileSecurityW(WidePath(path).c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed)) return "";
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                              nullptr)) {
        return "";
    }
    const std::string dacl = text;
    LocalFree(text);
    return dacl;
}

TEST_F(WorkspaceTest, AnElevatedRunsWorkspaceHasTheProtectedRights) {
    ASSERT_NE(OpenWizard("full"), nullptr);
    bool elevated = false;
    std::string user;
    ASSERT_TRUE(ReadToken(installer.ProcessId(), &elevated, &user));
    const std::string dacl = DaclOf(WorkspacePath());
    if (!elevated) GTEST_SKIP() << "the installer's token is not elevated here; its workspace has " << dacl;
    if (!KeepsRights(TempFolder() + "kx-e2e-rights-probe")) {
        GTEST_SKIP() << "the token is elevated, but this file system keeps no rights given to a folder: " << dacl;
    }
    EXPECT_EQ(dacl, "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;" + user + ")");
}

}  // namespace
