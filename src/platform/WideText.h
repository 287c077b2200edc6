#pragma once
// The Windows side's edge between the UTF-8 text inside the installer and
// the system's wide-character calls.

#include <string>

std::wstring Widen(const std::string& utf8);
// The same for text in another code page (CP_ACP, say).
std::wstring WidenFrom(unsigned codePage, const std::string& text);
std::string Narrow(const wchar_t* wide, size_t length);
std::string Narrow(const wchar_t* wide);  // up to its NUL
inline std::string Narrow(const std::wstring& wide) { return Narrow(wide.data(), wide.size()); }

// A path for the file calls: an absolute path of 260 characters or more
// gets the extended-length prefix ("\\?\", "\\?\UNC\"), which lifts the
// MAX_PATH limit; "/" then has to be "\" already, so it is made so.
std::wstring WidePath(const std::string& utf8Path);
