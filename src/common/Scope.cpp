#include "common/Scope.h"

namespace {

using platform::ProcessRights;

bool Allows(ScopeSetting setting, ScopeSwitch given) {
    switch (given) {
    case ScopeSwitch::None: return true;
    case ScopeSwitch::AllUsers: return setting == ScopeSetting::Machine || setting == ScopeSetting::Either;
    case ScopeSwitch::CurrentUser: return setting == ScopeSetting::User || setting == ScopeSetting::Either;
    }
    return false;
}

Scope EitherScope(ScopeSwitch given, ProcessRights rights, Scope choice) {
    if (given == ScopeSwitch::AllUsers) return Scope::Machine;
    if (given == ScopeSwitch::CurrentUser) return Scope::User;
    return choice != Scope::Legacy ? choice : DefaultChoice(rights);
}

}  // namespace

ScopeSetting ScopeSettingFromText(const std::string& firstLine) {
    std::string word = firstLine;
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t' || word.back() == '\r')) word.pop_back();
    if (word == "user") return ScopeSetting::User;
    if (word == "machine") return ScopeSetting::Machine;
    if (word == "either") return ScopeSetting::Either;
    return ScopeSetting::Invalid;
}

ScopePlan PlanScope(ScopeSetting setting, ScopeSwitch given, ProcessRights rights, Scope choice) {
    ScopePlan plan;
    if (setting == ScopeSetting::Invalid) setting = ScopeSetting::Absent;
    if (!Allows(setting, given)) {
        plan.refused = true;
        return plan;
    }
    switch (setting) {
    case ScopeSetting::User: plan.scope = Scope::User; break;
    case ScopeSetting::Machine: plan.scope = Scope::Machine; break;
    case ScopeSetting::Either: plan.scope = EitherScope(given, rights, choice); break;
    default: plan.scope = Scope::Legacy; break;
    }
    plan.relaunch = NeedsElevation(plan.scope, rights);
    return plan;
}

Scope DefaultChoice(ProcessRights rights) { return rights == ProcessRights::Limited ? Scope::User : Scope::Machine; }

bool NeedsElevation(Scope scope, ProcessRights rights) {
    // A package without a scope asks as it always did: for the highest
    // rights the user has, which a user without any is not asked for.
    if (scope == Scope::Legacy) return rights == ProcessRights::CanElevate;
    return scope == Scope::Machine && rights != ProcessRights::Elevated;
}

ScopeFolders FoldersFor(Scope scope) {
    switch (scope) {
    case Scope::User:
        return {platform::kFolderUserProgramFiles, platform::kFolderPrograms, platform::kFolderDesktopDirectory,
                platform::RegistryRoot::CurrentUser};
    case Scope::Machine:
        return {platform::kFolderProgramFiles, platform::kFolderCommonPrograms,
                platform::kFolderCommonDesktopDirectory, platform::RegistryRoot::LocalMachine};
    default:
        return {platform::kFolderProgramFiles, platform::kFolderPrograms, platform::kFolderDesktopDirectory,
                platform::RegistryRoot::LocalMachine};
    }
}

std::string ScopeName(Scope scope) {
    return scope == Scope::User ? "user" : scope == Scope::Machine ? "machine" : "";
}

Scope ScopeFromName(const std::string& name) {
    return name == "user" ? Scope::User : name == "machine" ? Scope::Machine : Scope::Legacy;
}
