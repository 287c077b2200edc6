#pragma once
// Text inside the installer is UTF-8. Control files come in UTF-8 (with or
// without the byte order mark) or in the system's ANSI code page; these are
// the rules that tell them apart.

#include <cstddef>
#include <string>

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr size_t kUtf8MarkLength = 3;

// Checks bytes as they come, in any number of pieces: strict UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF).
class Utf8Checker {
public:
    void Feed(const char* data, size_t size);
    // Valid so far and not inside a sequence.
    bool Valid() const { return valid_ && pending_ == 0; }
    bool SawNonAscii() const { return nonAscii_; }

private:
    int pending_ = 0;  // continuation bytes still expected
    unsigned char low_ = 0x80, high_ = 0xBF;  // allowed range of the next one
    bool valid_ = true;
    bool nonAscii_ = false;
};

bool IsValidUtf8(const std::string& text);

enum class TextEncoding { Utf8, Ansi };

// A file that starts with the mark is UTF-8; so is one whose bytes are valid
// UTF-8 and hold at least one non-ASCII byte; the rest is ANSI (plain ASCII
// reads the same either way).
TextEncoding EncodingOf(bool startsWithMark, const Utf8Checker& wholeFile);

// Characters in UTF-8 text: the bytes that start one.
size_t CountUtf8Characters(const std::string& text);
// The longest start of text of at most maxBytes that does not cut a
// character in two.
std::string CutUtf8(const std::string& text, size_t maxBytes);
// The first, and the last, count characters of UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count);
std::string LastCharacters(const std::string& text, size_t count);
