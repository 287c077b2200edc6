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

TextFile::TextFile(const std::string& path) : file_(platform::OpenStream(path.c_str(), "rb")) {}

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

bool ReadLine(TextFile& file, char* line) {
    line[0] = '\0';
    if (file.Failed()) return false;
    int length = 0;
    for (;;) {
        const int c = file.Get();
        if (c == EOF) {
            file.MarkFailed();
            line[length] = '\0';
            return length > 0;
        }
        if (c == '\n') break;
        if (length == kLineCapacity - 1) {
            file.MarkFailed();  // the line does not fit: its rest and everything after is lost
            break;
        }
        line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';
    return true;
}

bool ReadWholeFile(const std::string& path, char* buffer, int capacity) {
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return true;
    TextFile file(path);
    if (!file.IsOpen()) return true;
    const int64_t limit = capacity - 1;
    int64_t length = 0;
    for (int64_t read = 0; read < size; ++read) {
        const int c = file.Get();
        if (c == EOF) break;
        if (length == limit) {
            buffer[length] = '\0';
            return false;
        }
        buffer[length++] = static_cast<char>(c);
    }
    buffer[length] = '\0';
    return true;
}

std::string ReadWholeText(const std::string& path, int capacity) {
    std::string buffer(static_cast<size_t>(capacity), '\0');
    ReadWholeFile(path, &buffer[0], capacity);
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
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
