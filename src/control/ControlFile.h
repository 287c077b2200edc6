#pragma once
// How every control file is read: text mode (a CR LF pair reads as LF, a bare
// LF also ends a line), lines of at most 259 characters, the list terminator,
// record groups, whole-file texts, numbers and switches. What is read is
// UTF-8, whichever encoding the file is in (see TextEncoding.h). No reader
// ever creates a file.

#include <cstdint>
#include <cstdio>
#include <string>

#include "text/TextEncoding.h"

constexpr int kLineCharacters = 259;
// Bytes of a line in UTF-8: 259 characters of up to four bytes, and the NUL.
constexpr int kLineCapacity = kLineCharacters * 4 + 1;
constexpr int kWholeTextCapacity = 32768;
constexpr int kEndOfInstallTextCapacity = 2048;
constexpr int kUninstallTextCapacity = 260;

// Size of an existing file in *size; false when the file's status cannot be
// queried (no such file), which makes every reader skip the file.
bool QueryFileStatus(const std::string& path, int64_t* size);

// A control file opened for reading as text. Closes itself.
class TextFile {
public:
    explicit TextFile(const std::string& path);
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    // Found when the file was opened; a byte order mark is skipped.
    TextEncoding Encoding() const { return encoding_; }
    // The next character with CR LF read as LF; EOF at the end.
    int Get();
    // An over-long line or the end of the file: every later line is empty.
    bool Failed() const { return failed_; }
    void MarkFailed() { failed_ = true; }

private:
    std::FILE* file_ = nullptr;
    int pending_ = EOF - 1;  // a character read ahead after a CR
    bool failed_ = false;
    TextEncoding encoding_ = TextEncoding::Ansi;
};

// Reads the next line into line (kLineCapacity bytes), without its LF, as
// UTF-8. At the end of the file, or once the stream has failed, it stores an
// empty line and returns false. A line of 260 or more characters stores its
// first 259 and fails the stream (an ANSI file's lines are counted in bytes,
// as they always were).
bool ReadLine(TextFile& file, char* line);

// Reads a whole file as text into buffer, which the caller has cleared, as
// UTF-8. Leaves buffer untouched when the file is missing. At most
// capacity - 1 bytes are kept, so the text always keeps its closing NUL;
// returns false when the file held more than that (the text is then cut,
// never inside a character).
bool ReadWholeFile(const std::string& path, char* buffer, int capacity);

// The same into a string: empty when the file is missing.
std::string ReadWholeText(const std::string& path, int capacity);

// The leading decimal integer of a line as atoi reads it: blanks skipped, an
// optional sign, digits up to the first other character; 0 without digits.
// Values beyond 32 bits are clamped rather than overflowing.
int32_t ParseNumber(const char* line);

// True when the line's first character is "t".
bool ParseSwitch(const char* line);

// True for a list terminator: a line whose first character is "/".
bool IsTerminator(const char* line);
