#pragma once
// The journal of an installation: what the run is about to change in the
// install folder, written down before each change, so that a run that does
// not complete can be undone, by itself or, after a kill, by the next
// installer or uninstaller that starts there (see Rollback.h).
//
// One record per line: tab-separated fields, the last the CRC-32 of the
// rest as 8 hexadecimal digits, then CR LF. Each record goes to the system
// in one write, unbuffered in the process, so a killed process leaves every
// record it wrote; a record torn by a power cut or a full disk is the last
// one and is ignored, which is safe because its change was never made.
//
//   KXJOURNAL 1 <install folder>       the first line
//   new-file <path>                    a file about to be made where none was
//   kept-file <path> <aside>           a file about to be renamed aside and replaced
//   new-folder <path>                  a folder made by the run
//   key <root> <sub-key> <values>      a registry key as it was, before it is written
//   completed                          the run completed: only the asides are left to remove

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

constexpr char kJournalName[] = "kxinstall.journal";
// What an old file is renamed to while the new one takes its place; a
// number follows when a file of that name is already there.
constexpr char kAsideSuffix[] = ".kxkeep";
// The longest journal read back: every record of 100,000 files with long
// paths fits many times.
constexpr int64_t kLargestJournal = 256ll * 1024 * 1024;

struct JournalRecord {
    enum class Kind { NewFile, KeptFile, NewFolder, RegistryKey, Completed };
    Kind kind = Kind::NewFile;
    std::string path;   // the file or folder; the sub-key for a registry key
    std::string aside;  // for KeptFile
    platform::RegistryRoot root = platform::RegistryRoot::LocalMachine;
    bool keyExisted = false;
    std::vector<platform::RegistryValue> values;  // the key's, when it existed
};

class Journal {
public:
    Journal() = default;
    ~Journal() { Close(); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Creates the journal file at path, which must not exist, and writes
    // the first line. False when it could not be made.
    bool Start(const std::string& path, const std::string& installFolder);
    bool IsOpen() const { return file_ != platform::kNoFile; }
    const std::string& Path() const { return path_; }
    // Each writes its record; false when it could not be written whole, and
    // then the change it announces must not be made.
    bool NewFile(const std::string& path);
    bool KeptFile(const std::string& path, const std::string& aside);
    bool NewFolder(const std::string& path);
    bool RegistryKey(platform::RegistryRoot root, const std::string& subKey);
    bool Completed();
    // Closes the file; the journal stays on disk.
    void Close();

private:
    bool Write(const std::vector<std::string>& fields);

    platform::FileHandle file_ = platform::kNoFile;
    std::string path_;
};

// One record as a line, CRC and CR LF included; the reverse is ParseJournal.
std::string JournalLine(const std::vector<std::string>& fields);

// The records of a journal's bytes. False when the bytes are not a journal,
// or a record before the last is damaged; a damaged last record, or a last
// line without its CR LF, is left out. *installFolder gets the first line's.
bool ParseJournal(const std::string& bytes, std::string* installFolder, std::vector<JournalRecord>* records);

// A name beside path for the old file while a new one replaces it: path with
// kAsideSuffix, and a number where that is taken.
std::string AsideNameFor(const std::string& path);
