#pragma once
// The installer's command line: the switches an administrator gives for an
// unattended installation. Case does not matter; each switch starts with "/".

#include <string>

struct CommandLine {
    bool silent = false;    // /S: no window of any kind, the package's defaults
    bool help = false;      // /? or /HELP
    std::string folder;     // /D=<folder>: the rest of the line, spaces included
    std::string logPath;    // /LOG=<file>, quoted when it holds spaces
    std::string unknown;    // the first argument that is none of these
};

// Parses the arguments after the program's own name.
CommandLine ParseCommandLine(const std::string& arguments);

// What /? shows, and what follows the name of an unknown switch.
std::string SwitchesText();
std::string UnknownSwitchText(const std::string& argument);
