#include "control/ControlFile.h"

#include <climits>
#include <cstring>

#include "platform/Platform.h"

bool QueryFileStatus(const std::string& path, int64_t* size) {
    const uint32_t attributes = platform::ReadAttributes(path.c_str());
    if (attributes == platform::kNoAttributes || (attributes & platform::kAttributeDirectory)) return false;
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    if (!file.IsOpen()) return false;
    *size = platform::GetFileSize(file.Get());
    return *size >= 0;
}

namespace {

constexpr size_t kSniffChunk = 65536;

bool IsContinuation(int c) { return (c & 0xC0) == 0x80; }

}  // namespace

// Reads the file once to tell its encoding, then starts again behind any
// byte order mark.
TextFile::TextFile(const std::string& path) : file_(platform::OpenStream(path.c_str(), "rb")) {
    if (file_ == nullptr) return;
    std::string chunk(kSniffChunk, '\0');
    Utf8Checker checker;
    size_t got = std::fread(&chunk[0], 1, chunk.size(), file_);
    const bool marked = got >= kUtf8MarkLength && chunk.compare(0, kUtf8MarkLength, kUtf8Mark) == 0;
    while (got > 0) {
        checker.Feed(chunk.data(), got);
        got = std::fread(&chunk[0], 1, chunk.size(), file_);
    }
    encoding_ = EncodingOf(marked, checker);
    if (std::fseek(file_, marked ? static_cast<long>(kUtf8MarkLength) : 0L, SEEK_SET) != 0) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

TextFile::~TextFile() {
    if (file_ != nullptr) std::fclose(file_);
}

int TextFile::Get() {
    if (file_ == nullptr) return EOF;
    int c;
    if (pending_ != EOF - 1) {
        c = pending_;
        pending_ = EOF - 1;
    } else {
        c = std::fgetc(file_);
    }
    if (c != '\r') return c;
    const int next = std::fgetc(file_);
    if (next == '\n') return '\n';
    pending_ = next;  // a lone CR is an ordinary character
    return c;
}

namespace {

// An ANSI line in UTF-8: at most three bytes for each of its 259.
void ConvertAnsiLine(const TextFile& file, char* line, int length) {
    if (file.Encoding() != TextEncoding::Ansi) return;
    bool ascii = true;
    for (int i = 0; i < length && ascii; ++i) ascii = static_cast<unsigned char>(line[i]) < 0x80;
    if (ascii) return;
    const std::string converted = CutUtf8(platform::AnsiToUtf8(std::string(line, length)), kLineCapacity - 1);
    std::memcpy(line, converted.c_str(), converted.size() + 1);
}

}  // namespace

bool ReadLine(TextFile& file, char* line) {
    line[0] = '\0';
    if (file.Failed()) return false;
    const bool utf8 = file.Encoding() == TextEncoding::Utf8;
    int length = 0;
    int characters = 0;
    for (;;) {
        const int c = file.Get();
        if (c == EOF) {
            file.MarkFailed();
            line[length] = '\0';
            ConvertAnsiLine(file, line, length);
            return length > 0;
        }
        if (c == '\n') break;
        const bool startsCharacter = !utf8 || !IsContinuation(c);
        if (startsCharacter && characters == kLineCharacters) {
            file.MarkFailed();  // the line does not fit: its rest and everything after is lost
            break;
        }
        characters += startsCharacter ? 1 : 0;
        // A valid UTF-8 file has at most three continuation bytes per
        // character; the check keeps the buffer bounded all the same.
        if (length < kLineCapacity - 1) line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';
    ConvertAnsiLine(file, line, length);
    return true;
}

namespace {

// The whole text in UTF-8, at most limit bytes of it; false when cut.
bool ReadDecodedText(const std::string& path, size_t limit, std::string* text) {
    text->clear();
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return true;
    TextFile file(path);
    if (!file.IsOpen()) return true;
    // An ANSI byte takes up to three in UTF-8; read no more than could be kept.
    const size_t rawLimit = limit + 1;
    for (int64_t read = 0; read < size && text->size() < rawLimit; ++read) {
        const int c = file.Get();
        if (c == EOF) break;
        text->push_back(static_cast<char>(c));
    }
    if (file.Encoding() == TextEncoding::Ansi) *text = platform::AnsiToUtf8(*text);
    if (text->size() <= limit) return true;
    *text = CutUtf8(*text, limit);
    return false;
}

}  // namespace

bool ReadWholeFile(const std::string& path, char* buffer, int capacity) {
    std::string text;
    const bool whole = ReadDecodedText(path, static_cast<size_t>(capacity - 1), &text);
    if (!whole || !text.empty()) std::memcpy(buffer, text.c_str(), text.size() + 1);
    return whole;
}

std::string ReadWholeText(const std::string& path, int capacity) {
    std::string text;
    (void)ReadDecodedText(path, static_cast<size_t>(capacity - 1), &text);
    return text.substr(0, std::strlen(text.c_str()));  // the content ends at the first NUL
}

int32_t ParseNumber(const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) value = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int32_t>(value);
}

bool ParseSwitch(const char* line) { return line[0] == 't'; }

bool IsTerminator(const char* line) { return line[0] == '/'; }
