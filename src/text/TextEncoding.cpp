#include "text/TextEncoding.h"

void Utf8Checker::Feed(const char* data, size_t size) {
    for (size_t i = 0; i < size && valid_; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (pending_ > 0) {
            if (c < low_ || c > high_) valid_ = false;
            low_ = 0x80;
            high_ = 0xBF;
            --pending_;
            continue;
        }
        if (c < 0x80) continue;
        nonAscii_ = true;
        if (c >= 0xC2 && c <= 0xDF) {
            pending_ = 1;
        } else if (c == 0xE0) {
            pending_ = 2;
            low_ = 0xA0;  // no overlong forms
        } else if (c == 0xED) {
            pending_ = 2;
            high_ = 0x9F;  // no surrogates
        } else if (c >= 0xE1 && c <= 0xEF) {
            pending_ = 2;
        } else if (c == 0xF0) {
            pending_ = 3;
            low_ = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            pending_ = 3;
        } else if (c == 0xF4) {
            pending_ = 3;
            high_ = 0x8F;  // nothing above U+10FFFF
        } else {
            valid_ = false;
        }
    }
}

bool IsValidUtf8(const std::string& text) {
    Utf8Checker checker;
    checker.Feed(text.data(), text.size());
    return checker.Valid();
}

TextEncoding EncodingOf(bool startsWithMark, const Utf8Checker& wholeFile) {
    if (startsWithMark) return TextEncoding::Utf8;
    return wholeFile.Valid() && wholeFile.SawNonAscii() ? TextEncoding::Utf8 : TextEncoding::Ansi;
}

namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

size_t CountUtf8Characters(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += IsContinuation(c) ? 0 : 1;
    return count;
}

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && IsContinuation(text[end])) --end;
    return text.substr(0, end);
}

std::string FirstCharacters(const std::string& text, size_t count) {
    size_t end = 0;
    for (size_t seen = 0; end < text.size(); ++end) {
        if (!IsContinuation(text[end]) && seen++ == count) break;
    }
    return text.substr(0, end);
}

std::string LastCharacters(const std::string& text, size_t count) {
    size_t start = text.size();
    for (size_t seen = 0; start > 0 && seen < count;) {
        --start;
        if (!IsContinuation(text[start])) ++seen;
    }
    return text.substr(start);
}
