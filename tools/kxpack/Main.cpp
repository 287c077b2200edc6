// kxpack: builds installer files from package folders and reads them back.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace kxpack {
namespace {

struct Command {
    const char* name;
    const char* synopsis;
    int (*run)(const Arguments& args);
};

// Adding a command means adding one line here and one Run function.
constexpr Command kCommands[] = {
    {"build", "build PACKAGE_DIR -o OUT.exe [--solid | --plain] [--stub PATH] [--uninstaller[=PATH]] | --fileinfo-only",
     RunBuild},
    {"list", "list [--info] FILE", RunList},
    {"extract", "extract FILE DIR", RunExtract},
    {"check", "check [--uninstaller] PACKAGE_DIR|FILE", RunCheck},
    {"verify", "verify FILE", RunVerify},
};

void PrintUsage(FILE* stream) {
    std::fputs("Usage:\n", stream);
    for (const Command& command : kCommands) std::fprintf(stream, "  kxpack %s\n", command.synopsis);
    std::fputs("\n"
               "build    zips PACKAGE_DIR (payload and its %KXInstall% control folder) and\n"
               "         appends it to the installer stub; the stub defaults to kxsetup.exe\n"
               "         beside kxpack, else dist/kxsetup.exe. SOURCE_DATE_EPOCH, when set,\n"
               "         replaces every file time so that builds are reproducible. The\n"
               "         archive ends with an integrity record (a CRC-32 of its bytes). A\n"
               "         signed stub loses its signature first: sign the finished installer.\n"
               "         A package without %KXInstall%/fileinfo.txt gets one in the archive\n"
               "         that places every payload file in the install folder;\n"
               "         --fileinfo-only prints it instead of building.\n"
               "         --plain (the default) deflates each item on its own; --solid\n"
               "         stores the items and compresses the whole archive as one .xz\n"
               "         stream (LZMA2, x86 branch filter), which the installer\n"
               "         decompresses before it reads it: smaller, slower to build\n"
               "         and to install.\n"
               "         --uninstaller adds KXInstall's uninstaller (kxuninst.exe beside kxpack,\n"
               "         else dist/kxuninst.exe, or PATH) as the payload item uninstall.exe,\n"
               "         with its fileinfo.txt line, uninstall.txt and, when the package has\n"
               "         none, an uninstall_info.txt with the quiet uninstall command. Only\n"
               "         the archive gets them; the package folder is not changed.\n"
               "list     prints index, name, size, packed size, attributes and UTC write\n"
               "         time of every item, tab-separated. --info prints instead what a\n"
               "         package manager's manifest needs: the scope, the switches, the exit\n"
               "         codes and the entry's DisplayName, DisplayVersion and Publisher.\n"
               "extract  writes every item into DIR; names that would leave DIR are skipped.\n"
               "check    reports control-file mistakes that the installer passes over\n"
               "         silently, one FILE:LINE: message per line on stdout, nothing when\n"
               "         clean; exit status 1 with findings. build prints the same findings\n"
               "         as warnings; --uninstaller checks the package as build\n"
               "         --uninstaller would pack it. A macro is \"%\", a letter, up to 31 more letters,\n"
               "         digits, blanks, \"_\", \".\" or \"-\", and \"%\" on one line; text such\n"
               "         as \"50% of 100%\" is not taken for one.\n"
               "verify   checks an installer as the installer checks itself: the package\n"
               "         found before any signature, the archive's structure and its\n"
               "         integrity record; a solid archive is also decompressed and the\n"
               "         ZIP archive in it checked. Prints FILE: intact, signed | intact,\n"
               "         unsigned | damaged: REASON (\"intact, solid, ...\" for a solid\n"
               "         installer); exit status 0 intact, 1 damaged.\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               stream);
}

const Command* FindCommand(const char* name) {
    for (const Command& command : kCommands) {
        if (std::strcmp(command.name, name) == 0) return &command;
    }
    return nullptr;
}

bool IsHelpOption(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kxpack: %s\nTry 'kxpack --help'.\n", message.c_str());
    return kExitUsage;
}

}  // namespace kxpack

int main(int argc, char** argv) {
    using namespace kxpack;
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const Arguments args(argv + 2, argv + argc);
    if (IsHelpOption(argv[1])) {
        PrintUsage(stdout);
        return kExitOk;
    }
    const Command* command = FindCommand(argv[1]);
    if (command == nullptr) return UsageError(std::string("unknown command '") + argv[1] + "'");
    for (const std::string& arg : args) {
        if (IsHelpOption(arg)) {
            PrintUsage(stdout);
            return kExitOk;
        }
    }
    return command->run(args);
}
