#include "common/Rollback.h"

#include <algorithm>

#include "common/PathText.h"

namespace {

const char kPartialSuffix[] = ".kxpart";

std::string WithoutTrailingSeparator(std::string folder) {
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

// The whole journal, or false when it cannot be opened or is too large.
bool ReadJournalBytes(const std::string& path, std::string* bytes) {
    platform::UniqueFile file(platform::OpenFileForReading(path.c_str()));
    if (!file.IsOpen()) return false;
    const int64_t size = platform::GetFileSize(file.Get());
    if (size < 0 || size > kLargestJournal) return false;
    bytes->resize(static_cast<size_t>(size));
    for (int64_t done = 0; done < size;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<int64_t>(size - done, 1 << 20));
        const int64_t got = platform::ReadFileAt(file.Get(), done, &(*bytes)[static_cast<size_t>(done)], chunk);
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

bool RemoveOurFile(const std::string& path) {
    if (!platform::PathExists(path.c_str())) return true;
    (void)platform::WriteAttributes(path.c_str(), platform::kAttributeNormal);
    return platform::RemoveFile(path.c_str());
}

bool UndoNewFile(const JournalRecord& record, std::vector<std::string>* log) {
    (void)RemoveOurFile(record.path + kPartialSuffix);  // the list's, while it turns into UTF-8
    const bool existed = platform::PathExists(record.path.c_str());
    if (!RemoveOurFile(record.path)) {
        log->push_back("error: " + record.path + " could not be removed: " +
                       platform::ErrorMessage(platform::LastErrorCode()));
        return false;
    }
    if (existed) log->push_back("removed " + record.path);
    return true;
}

// The old file comes back over whatever took its place, by a rename, so its
// bytes, attributes and times are the ones it had.
bool UndoKeptFile(const JournalRecord& record, std::vector<std::string>* log) {
    (void)RemoveOurFile(record.path + kPartialSuffix);  // what was being extracted, if anything
    if (!platform::PathExists(record.aside.c_str())) return true;  // never renamed, or already back
    if (platform::PathExists(record.path.c_str())) {
        (void)platform::WriteAttributes(record.path.c_str(), platform::kAttributeNormal);
    }
    if (!platform::MoveFileReplacing(record.aside.c_str(), record.path.c_str())) {
        log->push_back("error: " + record.path + " could not be put back from " + record.aside + ": " +
                       platform::ErrorMessage(platform::LastErrorCode()));
        return false;
    }
    log->push_back("put back " + record.path);
    return true;
}

bool UndoRegistryKey(const JournalRecord& record, std::vector<std::string>* log) {
    const std::string where =
        (record.root == platform::RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
        record.path;
    std::vector<platform::RegistryValue> now;
    bool exists = false;
    const bool read = platform::ReadRegistryValues(record.root, record.path, &now, &exists);
    bool undone = true;
    if (record.keyExisted) {
        undone = platform::RestoreRegistryKey(record.root, record.path, record.values);
    } else if (!read || exists) {
        // The values first: a key that someone gave sub-keys meanwhile keeps them.
        (void)platform::RestoreRegistryKey(record.root, record.path, {});
        (void)platform::DeleteRegistryKey(record.root, record.path);
        std::vector<platform::RegistryValue> left;
        bool stays = true;
        undone = platform::ReadRegistryValues(record.root, record.path, &left, &stays) && left.empty();
    } else {
        return true;  // absent before, absent now
    }
    log->push_back(undone ? "put back registry " + where : "error: registry " + where + " could not be put back");
    return undone;
}

bool Undo(const JournalRecord& record, std::vector<std::string>* log) {
    switch (record.kind) {
    case JournalRecord::Kind::NewFile: return UndoNewFile(record, log);
    case JournalRecord::Kind::KeptFile: return UndoKeptFile(record, log);
    case JournalRecord::Kind::NewFolder:
        // Only when empty: what someone else put there meanwhile stays.
        if (platform::RemoveFolder(record.path.c_str())) log->push_back("removed folder " + record.path);
        return true;
    case JournalRecord::Kind::RegistryKey: return UndoRegistryKey(record, log);
    case JournalRecord::Kind::Completed: return true;
    }
    return true;
}

void RemoveAsides(const std::vector<JournalRecord>& records, std::vector<std::string>* log) {
    for (const JournalRecord& record : records) {
        if (record.kind != JournalRecord::Kind::KeptFile || RemoveOurFile(record.aside)) continue;
        log->push_back("error: the old copy " + record.aside + " could not be removed: " +
                       platform::ErrorMessage(platform::LastErrorCode()));
    }
}

bool IsCompleted(const std::vector<JournalRecord>& records) {
    for (const JournalRecord& record : records) {
        if (record.kind == JournalRecord::Kind::Completed) return true;
    }
    return false;
}

}  // namespace

std::string JournalPathIn(const std::string& folder) { return WithoutTrailingSeparator(folder) + "\\" + kJournalName; }

EarlierRun UndoJournal(const std::string& journalPath, std::vector<std::string>* log) {
    std::string bytes;
    if (!ReadJournalBytes(journalPath, &bytes)) {
        // Held open by a live run on Windows; elsewhere, or when it is too
        // large, it is not one this program wrote.
        const platform::UniqueFile probe(platform::OpenFileForReading(journalPath.c_str()));
        const bool busy = platform::PathExists(journalPath.c_str()) && !probe.IsOpen();
        log->push_back("error: the journal " + journalPath + " cannot be read");
        return busy ? EarlierRun::Busy : EarlierRun::Unreadable;
    }
    std::string folder;
    std::vector<JournalRecord> records;
    if (!ParseJournal(bytes, &folder, &records)) {
        log->push_back("error: the journal " + journalPath + " is damaged; nothing was put back");
        return EarlierRun::Unreadable;
    }
    if (IsCompleted(records)) {
        RemoveAsides(records, log);
        (void)platform::RemoveFile(journalPath.c_str());
        return EarlierRun::Completed;
    }
    bool undone = true;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->kind != JournalRecord::Kind::NewFolder) undone = Undo(*record, log) && undone;
    }
    if (!undone) return EarlierRun::NotPutBack;
    // The folders last, after the journal that one of them holds; a run
    // killed in between leaves only empty folders.
    (void)platform::RemoveFile(journalPath.c_str());
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        if (record->kind == JournalRecord::Kind::NewFolder) (void)Undo(*record, log);
    }
    return EarlierRun::PutBack;
}

void CompleteJournal(Journal& journal, std::vector<std::string>* log) {
    if (!journal.IsOpen()) return;
    const std::string path = journal.Path();
    if (!journal.Completed()) {
        // Without the record the asides must stay, or a later start would
        // find a journal whose old files are gone; it puts them back instead.
        log->push_back("error: the journal " + path + " could not be completed");
        journal.Close();
        return;
    }
    journal.Close();
    (void)UndoJournal(path, log);  // a completed journal: the asides go, then the journal
}

EarlierRun RecoverEarlierRun(const std::string& folder, std::vector<std::string>* log) {
    const std::string path = JournalPathIn(folder);
    if (!platform::PathExists(path.c_str())) return EarlierRun::None;
    return UndoJournal(path, log);
}

std::string EarlierRunText(EarlierRun result, const std::string& folder) {
    const std::string where = WithoutTrailingSeparator(folder);
    switch (result) {
    case EarlierRun::PutBack:
        return "An earlier installation into " + where + " did not finish. What it changed has been put back.";
    case EarlierRun::NotPutBack:
        return "An earlier installation into " + where +
               " did not finish, and not everything it changed could be put back. Close any program that uses "
               "files in that folder and try again.";
    case EarlierRun::Unreadable:
        return "An earlier installation into " + where + " did not finish, and its journal " + JournalPathIn(where) +
               " cannot be read. Nothing was put back: the old copies of the files it replaced, ending in " +
               kAsideSuffix + ", are still in that folder.";
    case EarlierRun::Busy: return "Another installation into " + where + " is running.";
    case EarlierRun::None:
    case EarlierRun::Completed: return std::string();
    }
    return std::string();
}
