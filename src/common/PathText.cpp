#include "common/PathText.h"

#include <cctype>

namespace {

#ifdef _WIN32
constexpr bool kRootedIsAbsolute = false;  // "\dir" is relative to the current drive
#else
constexpr bool kRootedIsAbsolute = true;  // the host's "/dir", where the tests run
#endif

char Folded(char c) {
    if (c == '/') return '\\';
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Dots and blanks alone: the system trims them to "." or "..", or to nothing.
bool IsDotsComponent(const std::string& component) {
    return component.find_first_not_of(". ") == std::string::npos;
}

// Checks each component from position on; the first must not be empty.
bool ComponentsArePlain(const std::string& path, size_t position) {
    while (position < path.size()) {
        size_t end = path.find('\\', position);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(position, end - position);
        if (component.empty() && end < path.size()) return false;  // "\\" inside the path
        if (!component.empty() && IsDotsComponent(component)) return false;
        position = end + 1;
    }
    return true;
}

}  // namespace

std::string WithBackslashes(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

bool IsPlainAbsolutePath(const std::string& original) {
    const std::string path = WithBackslashes(original);
    size_t rest = 0;
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
        rest = 3;
    } else if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share: "\\?\" and "\\.\" name devices, not servers.
        const size_t share = path.find('\\', 2);
        if (share == std::string::npos || share == 2 || share + 1 >= path.size()) return false;
        const std::string server = path.substr(2, share - 2);
        if (server == "?" || server == ".") return false;
        rest = 2;
    } else if (kRootedIsAbsolute && path.size() > 1 && path[0] == '\\' && path[1] != '\\') {
        rest = 1;
    } else {
        return false;
    }
    if (path.find(':', rest) != std::string::npos) return false;
    return ComponentsArePlain(path, rest);
}

bool SamePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Folded(a[i]) != Folded(b[i])) return false;
    }
    return true;
}

std::string FoldedPath(std::string path) {
    for (char& c : path) c = Folded(c);
    return path;
}

bool LiesInside(const std::string& path, const std::string& folder) {
    if (folder.empty() || Folded(folder.back()) != '\\' || path.size() <= folder.size()) return false;
    return SamePath(path.substr(0, folder.size()), folder);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LastComponent(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
