#pragma once
// The installer's command line: the switches an administrator gives for an
// unattended installation. Case does not matter; each switch starts with "/".

#include <string>

#include "common/Scope.h"

struct CommandLine {
    bool silent = false;    // /S: no window of any kind, the package's defaults
    bool help = false;      // /? or /HELP
    std::string folder;     // /D=<folder>: the rest of the line, spaces included
    std::string logPath;    // /LOG=<file>, quoted when it holds spaces
    ScopeSwitch scope = ScopeSwitch::None;  // /ALLUSERS or /CURRENTUSER, the last one given
    // /KXELEVATED: started again elevated by a first run, which waits for
    // this one; =ALLUSERS: after the folder page chose all users.
    bool elevatedRun = false;
    bool elevatedForAllUsers = false;
    std::string unknown;    // the first argument that is none of these
};

// Parses the arguments after the program's own name.
CommandLine ParseCommandLine(const std::string& arguments);

// What /? shows, and what follows the name of an unknown switch.
std::string SwitchesText();
std::string UnknownSwitchText(const std::string& argument);
