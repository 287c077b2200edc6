#pragma once
// Who a package is installed for: the setting of scope.txt, the switches
// that choose where the package lets them, and what each choice means for
// rights, folders and the registry. Plain code: it decides, others act.

#include <string>

#include "platform/Platform.h"

// scope.txt's first line. Absent: no file, so everything is as it was before
// packages had a scope; Invalid: a word the installer does not know, which
// it reads as Absent (kxpack check reports it).
enum class ScopeSetting { Absent, User, Machine, Either, Invalid };
ScopeSetting ScopeSettingFromText(const std::string& firstLine);

// Legacy: the package has no scope; the entry goes where it can be written.
enum class Scope { Legacy, User, Machine };
enum class ScopeSwitch { None, AllUsers, CurrentUser };

struct ScopePlan {
    bool refused = false;   // a switch the package does not allow: exit code 1
    Scope scope = Scope::Legacy;
    bool relaunch = false;  // start again elevated before anything is copied out
};

// choice is the folder page's, for Either; Legacy when none was made yet.
ScopePlan PlanScope(ScopeSetting setting, ScopeSwitch given, platform::ProcessRights rights,
                    Scope choice = Scope::Legacy);
// What the folder page of an Either package starts on.
Scope DefaultChoice(platform::ProcessRights rights);
// Whether a scope needs rights that this process has not got.
bool NeedsElevation(Scope scope, platform::ProcessRights rights);

// The shell folders and the registry root of a scope. Quick Launch has no
// common folder: it stays the user's for every scope.
struct ScopeFolders {
    int programFiles;
    int programs;
    int desktop;
    platform::RegistryRoot root;
};
ScopeFolders FoldersFor(Scope scope);

// "user", "machine", or empty for Legacy: as the uninstall list records it.
std::string ScopeName(Scope scope);
Scope ScopeFromName(const std::string& name);
