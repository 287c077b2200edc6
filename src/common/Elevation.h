#pragma once
// Starting this program again with administrator rights, for the installer
// and the uninstaller alike. The new process gets the same arguments behind
// a marker switch, so that it does not start itself once more.

#include <string>

#include "platform/Platform.h"

// The marker; "=ALLUSERS" behind it says the folder page chose all users.
constexpr char kElevatedSwitch[] = "/KXELEVATED";

// Runs this program elevated with the marker and arguments and waits for
// it; its exit code goes to exitCode. The log at logPath (when there is one)
// is closed meanwhile, since the new process writes on in it, and opened
// again after.
platform::ElevatedRun RelaunchElevated(const std::string& marker, const std::string& arguments,
                                       const std::string& logPath, int* exitCode);

// What the user is told when the prompt was refused or could not be shown.
std::string RightsRefusedText(bool canChooseJustForMe);
