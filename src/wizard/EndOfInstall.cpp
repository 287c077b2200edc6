#include "wizard/EndOfInstall.h"

#include "control/ControlFile.h"
#include "control/MacroExpander.h"
#include "state/Workspace.h"

namespace {

std::string ExpandAndRead(const InstallerState& state, const char* name, const std::string& installPath) {
    const std::string path = ControlFilePath(name);
    ExpandMacrosInFile(state.macroTable, path, installPath);
    return ReadWholeText(path, kEndOfInstallTextCapacity);
}

}  // namespace

void LoadEndOfInstallSettings(InstallerState& state, const std::string& installFolder) {
    state.eoiTarget = ExpandAndRead(state, "eoi_file.txt", installFolder);
    state.eoiMessage = ExpandAndRead(state, "eoi_message.txt", std::string());
    state.eoiAskYesNo = ExpandAndRead(state, "eoi_buttons.txt", std::string()).compare(0, 1, "O") != 0;
}
