#include "common/Journal.h"


#include "archive/Crc32.h"

namespace {

const char kFirstWord[] = "KXJOURNAL";
const char kVersion[] = "1";

const char* KindWord(JournalRecord::Kind kind) {
    switch (kind) {
    case JournalRecord::Kind::NewFile: return "new-file";
    case JournalRecord::Kind::KeptFile: return "kept-file";
    case JournalRecord::Kind::NewFolder: return "new-folder";
    case JournalRecord::Kind::RegistryKey: return "key";
    case JournalRecord::Kind::Completed: return "completed";
    }
    return "";
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool FromHex(const std::string& text, std::string* bytes) {
    if (text.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        *bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

std::string CrcText(const std::string& text) {
    const uint32_t crc = UpdateCrc32(0, text.data(), text.size());
    std::string digits;
    for (int shift = 28; shift >= 0; shift -= 4) digits += "0123456789abcdef"[(crc >> shift) & 15];
    return digits;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// A value as one field: name, type and data, the name and data in hex.
std::string ValueField(const platform::RegistryValue& value) {
    return Hex(value.name) + ":" + std::to_string(value.type) + ":" + Hex(value.data);
}

bool ParseValueField(const std::string& field, platform::RegistryValue* value) {
    const size_t first = field.find(':');
    const size_t second = first == std::string::npos ? first : field.find(':', first + 1);
    if (second == std::string::npos || second == first + 1 || second - first > 11) return false;
    unsigned long type = 0;
    for (size_t i = first + 1; i < second; ++i) {
        if (field[i] < '0' || field[i] > '9') return false;
        type = type * 10 + static_cast<unsigned long>(field[i] - '0');
    }
    if (type > UINT32_MAX) return false;
    value->type = static_cast<uint32_t>(type);
    return FromHex(field.substr(0, first), &value->name) && FromHex(field.substr(second + 1), &value->data);
}

// The record of a line's fields (CRC already checked and removed).
bool ParseRecord(const std::vector<std::string>& fields, JournalRecord* record) {
    const std::string& word = fields[0];
    const size_t count = fields.size();
    if (word == "new-file" || word == "new-folder") {
        if (count != 2 || fields[1].empty()) return false;
        record->kind = word == "new-file" ? JournalRecord::Kind::NewFile : JournalRecord::Kind::NewFolder;
        record->path = fields[1];
        return true;
    }
    if (word == "kept-file") {
        if (count != 3 || fields[1].empty() || fields[2].empty()) return false;
        record->kind = JournalRecord::Kind::KeptFile;
        record->path = fields[1];
        record->aside = fields[2];
        return true;
    }
    if (word == "completed") {
        record->kind = JournalRecord::Kind::Completed;
        return count == 1;
    }
    if (word != "key" || count < 4 || fields[1].size() != 1 || fields[1][0] < '0' || fields[1][0] > '4') return false;
    if (fields[3] != "0" && fields[3] != "1") return false;
    record->kind = JournalRecord::Kind::RegistryKey;
    record->root = static_cast<platform::RegistryRoot>(fields[1][0] - '0');
    record->keyExisted = fields[3] == "1";
    if (!FromHex(fields[2], &record->path) || record->path.empty()) return false;
    if (count - 4 > platform::kMostRegistryValues) return false;
    for (size_t i = 4; i < count; ++i) {
        platform::RegistryValue value;
        if (!ParseValueField(fields[i], &value)) return false;
        record->values.push_back(value);
    }
    return true;
}

// A line's fields when its CRC matches.
bool CheckedFields(const std::string& line, std::vector<std::string>* fields) {
    const size_t tab = line.rfind('\t');
    if (tab == std::string::npos || line.size() - tab - 1 != 8) return false;
    if (CrcText(line.substr(0, tab)) != line.substr(tab + 1)) return false;
    *fields = SplitFields(line.substr(0, tab));
    return true;
}

bool FitsOneField(const std::string& text) { return text.find_first_of("\t\r\n") == std::string::npos; }

}  // namespace

std::string JournalLine(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) text += (i == 0 ? "" : "\t") + fields[i];
    return text + "\t" + CrcText(text) + "\r\n";
}

bool Journal::Start(const std::string& path, const std::string& installFolder) {
    Close();
    if (!FitsOneField(installFolder)) return false;
    file_ = platform::CreateNewFile(path.c_str());
    if (file_ == platform::kNoFile) return false;
    path_ = path;
    if (Write({kFirstWord, kVersion, installFolder})) return true;
    Close();
    (void)platform::RemoveFile(path.c_str());  // ours, and says nothing yet
    return false;
}

bool Journal::NewFile(const std::string& path) { return Write({KindWord(JournalRecord::Kind::NewFile), path}); }

bool Journal::KeptFile(const std::string& path, const std::string& aside) {
    return Write({KindWord(JournalRecord::Kind::KeptFile), path, aside});
}

bool Journal::NewFolder(const std::string& path) { return Write({KindWord(JournalRecord::Kind::NewFolder), path}); }

bool Journal::RegistryKey(platform::RegistryRoot root, const std::string& subKey) {
    std::vector<platform::RegistryValue> values;
    bool exists = false;
    if (!platform::ReadRegistryValues(root, subKey, &values, &exists)) return false;
    std::vector<std::string> fields = {KindWord(JournalRecord::Kind::RegistryKey),
                                       std::to_string(static_cast<int>(root)), Hex(subKey), exists ? "1" : "0"};
    for (const platform::RegistryValue& value : values) fields.push_back(ValueField(value));
    return Write(fields);
}

bool Journal::Completed() { return Write({KindWord(JournalRecord::Kind::Completed)}); }

void Journal::Close() {
    if (file_ != platform::kNoFile) platform::CloseFile(file_);
    file_ = platform::kNoFile;
}

bool Journal::Write(const std::vector<std::string>& fields) {
    if (file_ == platform::kNoFile) return false;
    for (const std::string& field : fields) {
        if (!FitsOneField(field)) return false;
    }
    const std::string line = JournalLine(fields);
    return line.size() <= UINT32_MAX && platform::WriteToFile(file_, line.data(), static_cast<uint32_t>(line.size()));
}

bool ParseJournal(const std::string& bytes, std::string* installFolder, std::vector<JournalRecord>* records) {
    records->clear();
    size_t start = 0;
    bool first = true;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) return !first;  // a torn last line
        std::vector<std::string> fields;
        const bool checked = CheckedFields(bytes.substr(start, end - start), &fields);
        const bool last = end + 2 == bytes.size();
        start = end + 2;
        if (!checked) {
            if (last && !first) return true;
            return false;
        }
        if (first) {
            if (fields.size() != 3 || fields[0] != kFirstWord || fields[1] != kVersion) return false;
            *installFolder = fields[2];
            first = false;
            continue;
        }
        JournalRecord record;
        if (!ParseRecord(fields, &record)) return false;
        records->push_back(record);
    }
    return !first;
}

std::string AsideNameFor(const std::string& path) {
    std::string aside = path + kAsideSuffix;
    for (int number = 2; platform::PathExists(aside.c_str()) && number < 100000; ++number) {
        aside = path + kAsideSuffix + std::to_string(number);
    }
    return aside;
}
