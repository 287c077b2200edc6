#include "common/CommandLine.h"

#include <cctype>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// Whether text at position starts with the switch name, letter case aside.
bool SwitchAt(const std::string& text, size_t position, const std::string& name) {
    if (text.size() - position < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[position + i]);
        if (std::toupper(c) != static_cast<unsigned char>(name[i])) return false;
    }
    return true;
}

// A switch without a value ends at a blank or at the end of the line.
bool WholeSwitchAt(const std::string& text, size_t position, const std::string& name) {
    const size_t end = position + name.size();
    return SwitchAt(text, position, name) && (end == text.size() || IsSpace(text[end]));
}

std::string TrimEnd(std::string text) {
    while (!text.empty() && IsSpace(text.back())) text.pop_back();
    return text;
}

// A value up to the next blank, or in quotes; position moves behind it.
std::string ReadValue(const std::string& text, size_t* position) {
    size_t at = *position;
    std::string value;
    if (at < text.size() && text[at] == '"') {
        const size_t close = text.find('"', at + 1);
        value = text.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
        at = close == std::string::npos ? text.size() : close + 1;
    } else {
        while (at < text.size() && !IsSpace(text[at])) value += text[at++];
    }
    *position = at;
    return value;
}

}  // namespace

CommandLine ParseCommandLine(const std::string& arguments) {
    CommandLine line;
    size_t at = 0;
    while (at < arguments.size()) {
        if (IsSpace(arguments[at])) {
            ++at;
            continue;
        }
        if (SwitchAt(arguments, at, "/D=")) {
            line.folder = TrimEnd(arguments.substr(at + 3));  // the rest of the line, so it comes last
            break;
        }
        if (SwitchAt(arguments, at, "/LOG=")) {
            at += 5;
            line.logPath = ReadValue(arguments, &at);
            continue;
        }
        if (WholeSwitchAt(arguments, at, "/S")) {
            line.silent = true;
        } else if (WholeSwitchAt(arguments, at, "/ALLUSERS")) {
            line.scope = ScopeSwitch::AllUsers;
        } else if (WholeSwitchAt(arguments, at, "/CURRENTUSER")) {
            line.scope = ScopeSwitch::CurrentUser;
        } else if (WholeSwitchAt(arguments, at, "/KXELEVATED") || WholeSwitchAt(arguments, at, "/KXELEVATED=ALLUSERS")) {
            line.elevatedRun = true;
            line.elevatedForAllUsers = SwitchAt(arguments, at, "/KXELEVATED=");
        } else if (WholeSwitchAt(arguments, at, "/?") || WholeSwitchAt(arguments, at, "/HELP")) {
            line.help = true;
        } else {
            size_t end = at;
            const std::string argument = ReadValue(arguments, &end);
            if (line.unknown.empty()) line.unknown = argument.empty() ? "\"\"" : argument;
            at = end;
            continue;
        }
        while (at < arguments.size() && !IsSpace(arguments[at])) ++at;
    }
    return line;
}

std::string SwitchesText() {
    return "/S\tInstall silently, with the package's defaults: no window, no question.\n"
           "/D=<folder>\tInstall into this folder. It comes last; spaces are allowed, quotes are not needed.\n"
           "/LOG=<file>\tWrite a log of the installation to this file.\n"
           "/ALLUSERS\tInstall for all users of this computer, where the package allows it.\n"
           "/CURRENTUSER\tInstall just for the current user, where the package allows it.\n"
           "/? or /HELP\tShow this text.\n"
           "\n"
           "Exit codes:\n"
           "0\tthe installation finished\n"
           "1\tthe installer could not start\n"
           "2\tthe installation stopped on an error; nothing was changed\n"
           "3\tthe installation finished, but some items were not installed\n"
           "4\tanother installation is running\n"
           "5\tthe installation was cancelled; nothing was changed";
}

std::string UnknownSwitchText(const std::string& argument) {
    return "Unknown switch: " + argument + "\n\nThe installer knows these switches:\n" + SwitchesText();
}
