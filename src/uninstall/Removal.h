#pragma once
// The removal of an installed product, as the uninstaller runs it: the
// files and shortcuts of its uninstall list, the folders that held them,
// both uninstall lists and the entry in the list of installed programs. It
// reaches the windows only through RemovalView, so it runs and is tested
// without them.
//
// The rules, since it often runs elevated: a listed file is removed only
// when it lies inside the install folder or is a shortcut (".lnk"); a path
// that is not plainly absolute is skipped; nothing is removed behind a
// junction or symbolic link, and a listed link is removed as a link; a
// folder goes only when it is empty, and above the install folder only a
// listed start-menu group folder goes.

#include <cstdint>
#include <string>
#include <vector>

#include "common/FailureAnswer.h"
#include "uninstall/UninstallList.h"

class RemovalView {
public:
    virtual ~RemovalView() = default;
    virtual void SetProgressRange(int32_t maximum) = 0;
    // The list line being handled and its number, from 1.
    virtual void ShowProgress(int32_t position, const std::string& path) = 0;
    // A file could not be removed: try again, keep it, or stop.
    virtual FailureAnswer AskAboutFailure(const std::string& message) = 0;
};

struct Removal {
    UninstallList list;
    // The uninstaller the product was registered with. It is still running
    // while the listed items go, so it is removed last (RemoveUninstaller).
    std::string uninstallerPath;
    std::vector<std::string> itemsLeft;  // what could not be removed, as the user is told
    std::vector<std::string> folders;    // to be removed when empty, at the end
};

enum class RemovalOutcome { Removed, Stopped };

// The install folder when the list lacks its closing lines: the registered
// entry's InstallLocation, from the entry (for all users, else for this
// user) whose UninstallString names uninstallerPath. False without one.
bool FindInstallLocation(const std::string& product, const std::string& uninstallerPath, std::string* installPath);

// Removes the listed files and shortcuts (the uninstaller aside), both
// uninstall lists and the registered entry. Stopped after Abort: what is
// left then stays, the lists and the entry too, so the removal can be run
// again.
RemovalOutcome RemoveProduct(Removal& removal, RemovalView& view);

// After the uninstaller has ended: removes it, then the folders that became
// empty, deepest first. A file that stays is added to itemsLeft.
void RemoveUninstallerAndFolders(Removal& removal);

// Exit codes as the installer's: 0 removed, 2 stopped, 3 items left.
int RemovalExitCode(RemovalOutcome outcome, const Removal& removal);

std::string RemovalFailureText(const std::string& path, const std::string& reason);
std::string ConfirmationText(const std::string& product);
// The last box: removed, or removed with up to five of the items that stayed.
std::string RemovedText(const std::string& product, const std::vector<std::string>& itemsLeft);

// What /? shows, and what follows the name of an unknown switch.
std::string UninstallSwitchesText();
std::string UnknownUninstallSwitchText(const std::string& argument);
