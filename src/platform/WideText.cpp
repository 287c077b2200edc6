#include "platform/WideText.h"

#include <windows.h>

#include <cwchar>

std::wstring WidenFrom(unsigned codePage, const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring Widen(const std::string& utf8) { return WidenFrom(CP_UTF8, utf8); }

std::string Narrow(const wchar_t* wide, size_t length) {
    if (wide == nullptr || length == 0) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::string Narrow(const wchar_t* wide) { return wide == nullptr ? std::string() : Narrow(wide, std::wcslen(wide)); }

std::wstring WidePath(const std::string& utf8Path) {
    std::wstring path = Widen(utf8Path);
    if (path.size() < MAX_PATH) return path;
    const bool drive = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool unc = (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
    if (!drive && !unc) return path;
    if (unc && path.size() > 2 && path[2] == L'?') return path;  // prefixed already
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return unc ? L"\\\\?\\UNC\\" + path.substr(2) : L"\\\\?\\" + path;
}
