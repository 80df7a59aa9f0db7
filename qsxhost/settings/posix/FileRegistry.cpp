#include "qsxhost/settings/posix/FileRegistry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/posix/AtomicFile.h"
#include "util/FoldedNames.h"
#include "util/Paths.h"
#include "util/Text.h"

namespace qsxhost {

using qsx::util::AsciiLower;
using qsx::util::AtomicFile;
using qsx::util::DirName;
using qsx::util::EqualsNoCase;
using qsx::util::ErrnoText;
using qsx::util::Fd;
using qsx::util::ReadState;
using qsx::util::ReadWholeFile;
using qsx::util::StartsWithNoCase;
using qsx::util::WriteAll;

namespace {
struct Document;
struct KeyValues;
}

struct FileRegistry::Shared {
    std::string path;
    // The last text read and what it parsed to: one run reads the file for
    // the options, their verdicts and the notes, and a file of millions of
    // values is parsed once.
    std::shared_ptr<const Document> parsed;
    std::string valuesKey;  // the key whose values of `parsed` are held
    std::shared_ptr<const KeyValues> values;
    bool readOnly = false;
    std::string lastError;
    std::string readError;  // why the stored values could not be read (the defaults stood in)
};

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kUserRoot = "HKEY_CURRENT_USER";
// A settings file is a few hundred bytes; anything this large is not one.
constexpr size_t kMaxFileSize = size_t(64) << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string ErrorText(const std::string& what, const std::string& file, int err) {
    return what + " " + file + ": " + ErrnoText(err);
}

// Paths without a root are below HKEY_CURRENT_USER.
std::string NormaliseKeyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    std::string out;
    if (EqualsNoCase(path, "HKCU") || StartsWithNoCase(path, "HKCU\\")) {
        out = kUserRoot;
        out += path.substr(4);
    } else if (StartsWithNoCase(path, "HKEY_")) {
        out = path;
    } else {
        out = kUserRoot;
        if (!path.empty()) {
            out += '\\';
            out += path;
        }
    }
    return out;
}

struct Value {
    std::string name;
    uint32_t type = 0;
    std::string data;
};

// One value line of a key, with the continuation lines of a hex value.
// Its texts are views into its document's: a key of millions of values is
// not millions of small copies.
struct Entry {
    std::string_view raw;  // its lines as read, joined by CR LF; empty once set here
    bool named = false;
    bool readable = false;  // a REG_DWORD or REG_SZ in a form understood here
    bool hexForm = false;
    Value value;
    std::string_view written;  // the data as written after '='

};

struct Section {
    std::string header;  // the line as read or written
    std::string path;
    std::vector<Entry> entries;
};

struct Document {
    // The text read, and the lines of hex values joined; moving the document
    // moves neither.
    std::unique_ptr<const std::string> text;
    std::list<std::string> joined;
    std::vector<Section> sections;
};

bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    ++pos;
    while (pos < s.size()) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
            out += s[pos + 1];
            pos += 2;
        } else {
            out += c;
            ++pos;
        }
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseDword(std::string_view s, uint32_t& v) {
    if (s.size() != 8) return false;
    v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = v << 4 | uint32_t(d);
    }
    return true;
}

void SkipSpaces(std::string_view s, size_t& pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

Entry ParseEntry(std::string_view line) {
    Entry e;
    std::string_view s = TrimRight(line);
    size_t pos = 0;
    std::string name;
    if (!s.empty() && s[0] == '@') {
        pos = 1;
    } else if (!ParseQuoted(s, pos, name)) {
        return e;
    }
    SkipSpaces(s, pos);
    if (pos >= s.size() || s[pos] != '=') return e;
    ++pos;
    SkipSpaces(s, pos);
    e.named = true;
    e.value.name = std::move(name);
    std::string_view data = s.substr(pos);
    e.written = data;
    if (StartsWithNoCase(data, "dword:")) {
        uint32_t v = 0;
        if (!ParseDword(data.substr(6), v)) return e;
        e.value.type = host::REG_DWORD;
        e.value.data = {char(v & 0xff), char(v >> 8 & 0xff), char(v >> 16 & 0xff), char(v >> 24 & 0xff)};
        e.readable = true;
    } else if (!data.empty() && data[0] == '"') {
        size_t p = 0;
        std::string text;
        if (!ParseQuoted(data, p, text) || p != data.size()) return e;
        e.value.type = host::REG_SZ;
        e.value.data = std::move(text);
        e.value.data += '\0';
        e.readable = true;
    } else {
        e.hexForm = StartsWithNoCase(data, "hex");
    }
    return e;
}

// Lines that cannot be read are kept as they are (and skipped when looking
// values up); blank lines and anything before the first key are not kept.
Document Parse(std::string read) {
    Document doc;
    doc.text = std::make_unique<const std::string>(std::move(read));
    std::string_view text = *doc.text;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // Lines end in LF or CR LF; a file without any LF is one whose lines end in CR alone.
    const char end = text.find('\n') == std::string_view::npos ? '\r' : '\n';
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t nl = text.find(end);
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }

    const auto header = [](std::string_view trimmed) {
        return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']';
    };
    const auto blank = [](std::string_view trimmed) { return trimmed.find_first_not_of(" \t") == std::string_view::npos; };
    // Each key's lines counted first: a key of millions of values is then
    // one allocation, not a series of doublings that each move them all.
    std::vector<size_t> counts;
    for (std::string_view line : lines) {
        const std::string_view trimmed = TrimRight(line);
        if (blank(trimmed)) continue;
        if (header(trimmed))
            counts.push_back(0);
        else if (!counts.empty())
            ++counts.back();
    }

    doc.sections.reserve(counts.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        std::string_view trimmed = TrimRight(line);
        if (blank(trimmed)) continue;
        if (header(trimmed)) {
            doc.sections.push_back({std::string(trimmed), std::string(trimmed.substr(1, trimmed.size() - 2)), {}});
            doc.sections.back().entries.reserve(counts[doc.sections.size() - 1]);
            continue;
        }
        if (doc.sections.empty()) continue;
        Entry e = ParseEntry(line);
        e.raw = line;
        // A hex value goes on over indented lines while its line ends in a backslash.
        if (e.hexForm) {
            std::string raw(line);
            while (!TrimRight(line).empty() && TrimRight(line).back() == '\\' && i + 1 < lines.size() &&
                   !lines[i + 1].empty() && (lines[i + 1][0] == ' ' || lines[i + 1][0] == '\t')) {
                line = lines[++i];
                raw += "\r\n";
                raw += line;
            }
            if (raw.size() != e.raw.size()) e.raw = doc.joined.emplace_back(std::move(raw));
        }
        doc.sections.back().entries.push_back(std::move(e));
    }
    return doc;
}

std::string Escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

std::string FormatEntry(const Value& v) {
    std::string out = v.name.empty() ? "@" : "\"" + Escape(v.name) + "\"";
    out += '=';
    if (v.type == host::REG_DWORD) {
        uint32_t d = uint32_t(uint8_t(v.data[0])) | uint32_t(uint8_t(v.data[1])) << 8 |
                     uint32_t(uint8_t(v.data[2])) << 16 | uint32_t(uint8_t(v.data[3])) << 24;
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        out += buf;
    } else {
        std::string_view text = v.data;
        if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
        out += '"';
        out += Escape(text);
        out += '"';
    }
    return out;
}

std::string Serialize(const Document& doc) {
    std::string out(kHeader);
    out += "\r\n\r\n";
    for (const Section& s : doc.sections) {
        out += s.header;
        out += "\r\n";
        for (const Entry& e : s.entries) {
            if (e.raw.empty())
                out += FormatEntry(e.value);
            else
                out += e.raw;
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

bool KeyExists(const Document& doc, const std::string& key) {
    for (const Section& s : doc.sections) {
        if (EqualsNoCase(s.path, key)) return true;
        if (s.path.size() > key.size() && s.path[key.size()] == '\\' && StartsWithNoCase(s.path, key)) return true;
    }
    return false;
}

// A key's values as an import would leave them: a later line for the same
// name wins, and a value in a form not understood here hides earlier ones.
// Found by name in constant time, so that a key of millions of values reads
// in linear time; the values stay in the document they were read from.
struct KeyValues {
    std::shared_ptr<const Document> doc;
    qsx::util::FoldedNameSet names;  // each name once, whatever its spelling
    std::vector<const Entry*> latest;  // by the name's number: the line that wins
    std::vector<uint32_t> numbers;     // the key's named lines in order: their names' numbers

    const Value* Find(std::string_view name) const {
        const auto number = names.Find(name);
        if (!number) return nullptr;
        const Entry* e = latest[*number];
        return e->readable ? &e->value : nullptr;
    }
};

std::shared_ptr<const KeyValues> ValuesOf(std::shared_ptr<const Document> doc, const std::string& key) {
    size_t lines = 0;
    for (const Section& s : doc->sections)
        if (EqualsNoCase(s.path, key)) lines += s.entries.size();
    auto values = std::make_shared<KeyValues>();
    values->names = qsx::util::FoldedNameSet(lines);
    values->numbers.reserve(lines);
    // Names hashed some lines ahead, their slots asked for before they are needed.
    constexpr size_t kAhead = 16;
    uint64_t hashes[kAhead] = {};
    const auto ahead = [&](const std::vector<Entry>& entries, size_t i) {
        if (i >= entries.size() || !entries[i].named) return;
        hashes[i % kAhead] = qsx::util::FoldedNameSet::Hash(entries[i].value.name);
        values->names.Prefetch(hashes[i % kAhead]);
    };
    for (const Section& s : doc->sections) {
        if (!EqualsNoCase(s.path, key)) continue;
        for (size_t i = 0; i < kAhead; ++i) ahead(s.entries, i);
        for (size_t i = 0; i < s.entries.size(); ++i) {
            const Entry& e = s.entries[i];
            const uint64_t hash = hashes[i % kAhead];
            ahead(s.entries, i + kAhead);
            if (!e.named) continue;
            const auto [number, isNew] = values->names.Insert(e.value.name, hash);
            values->numbers.push_back(number);
            if (isNew)
                values->latest.push_back(&e);
            else
                values->latest[number] = &e;
        }
    }
    values->doc = std::move(doc);
    return values;
}

std::shared_ptr<const Document> ParsedOnce(FileRegistry::Shared& shared, std::string text) {
    if (!shared.parsed || *shared.parsed->text != text) {
        shared.parsed = std::make_shared<const Document>(Parse(std::move(text)));
        shared.values.reset();
    }
    return shared.parsed;
}

std::shared_ptr<const KeyValues> ValuesOnce(FileRegistry::Shared& shared, std::string text,
                                                     const std::string& key) {
    const auto doc = ParsedOnce(shared, std::move(text));
    if (!shared.values || shared.valuesKey != key) {
        shared.values = ValuesOf(doc, key);
        shared.valuesKey = key;
    }
    return shared.values;
}

// A value that already exists keeps its place and the spelling of its name;
// a new one goes to the end of the key.
void Apply(Document& doc, const std::string& key, const std::vector<Value>& changes) {
    size_t first = doc.sections.size();
    for (size_t i = 0; i < doc.sections.size() && first == doc.sections.size(); ++i)
        if (EqualsNoCase(doc.sections[i].path, key)) first = i;
    if (first == doc.sections.size()) doc.sections.push_back({"[" + key + "]", key, {}});

    for (const Value& change : changes) {
        bool placed = false;
        for (size_t si = first; si < doc.sections.size(); ++si) {
            Section& s = doc.sections[si];
            if (!EqualsNoCase(s.path, key)) continue;
            // Later lines of the same name go, in one pass over the key.
            size_t kept = 0;
            for (size_t ei = 0; ei < s.entries.size(); ++ei) {
                Entry& e = s.entries[ei];
                if (e.named && EqualsNoCase(e.value.name, change.name)) {
                    if (placed) continue;
                    std::string name = std::move(e.value.name);
                    e = Entry{};
                    e.named = e.readable = true;
                    e.value = change;
                    e.value.name = std::move(name);
                    placed = true;
                }
                if (kept != ei) s.entries[kept] = std::move(e);
                ++kept;
            }
            s.entries.resize(kept);
        }
        if (!placed) {
            Entry e;
            e.named = e.readable = true;
            e.value = change;
            doc.sections[first].entries.push_back(std::move(e));
        }
    }
}

bool Query(const Value* v, uint32_t* type, void* data, uint32_t* size) {
    if (!v) return false;
    if (data) {
        if (!size || v->data.size() > *size) return false;
        std::memcpy(data, v->data.data(), v->data.size());
    }
    if (size) *size = static_cast<uint32_t>(v->data.size());
    if (type) *type = v->type;
    return true;
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The registry editor exports in UTF-16 (little-endian, with a byte-order
// mark); such a file, or one in big-endian UTF-16 with its mark, is read as
// the same text in UTF-8. A lone surrogate or an odd last byte becomes
// U+FFFD, so that the rest of the file still reads.
std::string Utf16ToUtf8(std::string_view in, bool bigEndian) {
    std::string out;
    out.reserve(in.size() / 2);
    const size_t high = bigEndian ? 0 : 1;
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(in[i + 1 - high]) |
                                     static_cast<unsigned char>(in[i + high]) << 8);
    };
    size_t i = 0;
    for (; i + 1 < in.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < in.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    if (i < in.size()) AppendUtf8(out, 0xFFFD);
    return out;
}

ReadState ReadSettingsFile(const std::string& path, std::string& out, std::string& error) {
    std::string why;
    const ReadState state = ReadWholeFile(path, out, kMaxFileSize, &why);
    if (state == ReadState::Failed) error = "cannot read " + path + ": " + why;
    if (state == ReadState::Read && out.size() >= 2 && out[0] == '\xFF' && out[1] == '\xFE')
        out = Utf16ToUtf8(std::string_view(out).substr(2), false);
    else if (state == ReadState::Read && out.size() >= 2 && out[0] == '\xFE' && out[1] == '\xFF')
        out = Utf16ToUtf8(std::string_view(out).substr(2), true);
    return state;
}

bool MakeDirs(const std::string& dir, std::string& error) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return true;
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = ErrorText("cannot create directory", part, errno);
            return false;
        }
    }
    return true;
}

// The file a symbolic link at path points to is replaced rather than the link.
std::string WriteTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target = real;
            std::free(real);
            return target;
        }
    }
    return path;
}

// The new contents go to a fresh file in the same directory, which replaces
// the old one only once it is completely on disk. A new settings file is the
// user's alone; one replaced keeps its mode, even one without write permission
// (the settings are the program's to keep).
bool ReplaceFile(const std::string& target, std::string_view text, std::string& error) {
    AtomicFile file;
    std::string why;
    if (!file.Open(target, &why, 0600, AtomicFile::Protected::Replace)) {
        error = "cannot write " + target + ": " + why;
        return false;
    }
    if (!WriteAll(file.Descriptor(), text)) {
        error = ErrorText("cannot write", target, errno);
        return false;
    }
    if (!file.Commit(&why)) {
        error = "cannot write " + target + ": " + why;
        return false;
    }
    return true;
}

// Merges the key's changes into the file as it is now, under the lock that
// every writer of the file takes.
bool Commit(const std::string& path, const std::string& key, const std::vector<Value>& changes, std::string& error) {
    if (path.empty()) {
        error = "cannot write the settings: no home directory to keep them in";
        return false;
    }
    if (!MakeDirs(DirName(path), error)) return false;
    std::string lockPath = path + ".lock";
    Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Get() < 0) {
        // A lock file that exists serves even where it cannot be written;
        // where it cannot be made, the settings file cannot be written either.
        int err = errno;
        lock.Reset(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (lock.Get() < 0) {
            error = ErrorText("cannot write", path, err);
            return false;
        }
    }
    while (::flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = ErrorText("cannot lock", lockPath, errno);
            return false;
        }
    }
    std::string target = WriteTarget(path);
    std::string old;
    ReadState state = ReadSettingsFile(target, old, error);
    if (state == ReadState::Failed) return false;
    Document doc = Parse(std::move(old));
    Apply(doc, key, changes);
    std::string text = Serialize(doc);
    if (state == ReadState::Read && text == *doc.text) return true;
    return ReplaceFile(target, text, error);
}

class SnapshotKey : public host::RegistryKey {
public:
    explicit SnapshotKey(std::shared_ptr<const KeyValues> values) : values_(std::move(values)) {}
    bool SetValue(const char*, uint32_t, const void*, uint32_t) override { return false; }
    bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
        return Query(values_->Find(name ? name : ""), type, data, size);
    }
    bool Close() override { return true; }

private:
    std::shared_ptr<const KeyValues> values_;
};

class WriteKey : public host::RegistryKey {
public:
    WriteKey(std::shared_ptr<FileRegistry::Shared> shared, std::string key,
             std::shared_ptr<const KeyValues> base)
        : shared_(std::move(shared)), key_(std::move(key)), base_(std::move(base)) {}

    bool SetValue(const char* name, uint32_t type, const void* data, uint32_t size) override {
        std::string n = name ? name : "";
        if (closed_) return Refuse(n, "the key is closed");
        if (n.find_first_of("\r\n") != std::string::npos) return Refuse(n, "the name holds a line break");
        if (size && !data) return Refuse(n, "no data");
        const char* bytes = static_cast<const char*>(data);
        Value v{n, type, {}};
        if (type == host::REG_DWORD) {
            if (size != 4) return Refuse(n, "a number must be 4 bytes");
            v.data.assign(bytes, 4);
        } else if (type == host::REG_SZ) {
            const void* nul = size ? std::memchr(bytes, 0, size) : nullptr;
            v.data.assign(bytes, nul ? static_cast<const char*>(nul) - bytes : size);
            if (v.data.find_first_of("\r\n") != std::string::npos) return Refuse(n, "the text holds a line break");
            v.data += '\0';
        } else {
            return Refuse(n, "only numbers and texts can be stored");
        }
        changes_.push_back(std::move(v));
        return true;
    }

    bool QueryValue(const char* name, uint32_t* type, void* data, uint32_t* size) const override {
        std::string_view n = name ? name : "";
        for (auto it = changes_.rbegin(); it != changes_.rend(); ++it)
            if (EqualsNoCase(it->name, n)) return Query(&*it, type, data, size);
        return Query(base_ ? base_->Find(n) : nullptr, type, data, size);
    }

    bool Close() override {
        if (closed_) return result_;
        closed_ = true;
        if (shared_->readOnly) return result_ = true;
        std::string error;
        result_ = Commit(shared_->path, key_, changes_, error);
        if (!result_) shared_->lastError = error;
        return result_;
    }

private:
    bool Refuse(const std::string& name, const char* why) {
        shared_->lastError = "cannot store \"" + name + "\" in " + shared_->path + ": " + why;
        return false;
    }

    std::shared_ptr<FileRegistry::Shared> shared_;
    std::string key_;
    std::shared_ptr<const KeyValues> base_;  // none when the file could not be read
    std::vector<Value> changes_;
    bool closed_ = false;
    bool result_ = false;
};

}  // namespace

FileRegistry::FileRegistry(std::string filePath) : shared_(std::make_shared<Shared>()) {
    shared_->path = std::move(filePath);
}

std::string FileRegistry::DefaultPath() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string dir = home ? home : "";
        if (dir.empty()) {
            long max = ::sysconf(_SC_GETPW_R_SIZE_MAX);
            std::vector<char> buf(max > 0 ? size_t(max) : 16384);
            struct passwd pw;
            struct passwd* found = nullptr;
            if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
                dir = found->pw_dir;
        }
        if (dir.empty()) return {};
        base = dir + "/.config";
    }
    return base + "/qsxexport/settings.reg";
}

std::unique_ptr<host::RegistryKey> FileRegistry::CreateKey(const char* path) {
    std::string key = NormaliseKeyPath(path ? path : "");
    std::string text;
    std::string error;
    std::shared_ptr<const KeyValues> base;
    ReadState state = ReadSettingsFile(shared_->path, text, error);
    if (state == ReadState::Failed && !shared_->readOnly) {
        shared_->lastError = error;
        return nullptr;
    }
    if (state == ReadState::Read) base = ValuesOnce(*shared_, std::move(text), key);
    return std::make_unique<WriteKey>(shared_, std::move(key), std::move(base));
}

std::unique_ptr<host::RegistryKey> FileRegistry::OpenKey(const char* path) {
    std::string key = NormaliseKeyPath(path ? path : "");
    std::string text;
    std::string error;
    ReadState state = ReadSettingsFile(shared_->path, text, error);
    if (state == ReadState::Failed) shared_->readError = error;
    if (state != ReadState::Read) return nullptr;
    if (!KeyExists(*ParsedOnce(*shared_, text), key)) return nullptr;
    return std::make_unique<SnapshotKey>(ValuesOnce(*shared_, std::move(text), key));
}

KeyContents FileRegistry::Contents(const char* path) const {
    const std::string key = NormaliseKeyPath(path ? path : "");
    KeyContents contents;
    std::string text;
    std::string error;
    if (ReadSettingsFile(shared_->path, text, error) != ReadState::Read) return contents;
    contents.read = true;
    contents.text = text.find('\0') == std::string::npos;
    const auto values = ValuesOnce(*shared_, std::move(text), key);
    const Document& doc = *values->doc;
    contents.keyFound = KeyExists(doc, key);
    if (!contents.keyFound && !doc.sections.empty()) contents.otherKey = doc.sections.front().path;
    contents.source = values;
    contents.lines.reserve(values->numbers.size());
    size_t k = 0;
    for (const Section& s : doc.sections) {
        if (!EqualsNoCase(s.path, key)) continue;
        for (const Entry& e : s.entries)
            if (e.named) contents.lines.push_back({e.value.name, e.written, e.readable, values->numbers[k++]});
    }
    return contents;
}

void FileRegistry::SetReadOnly(bool readOnly) { shared_->readOnly = readOnly; }

std::string FileRegistry::LastError() const { return shared_->lastError; }

std::string FileRegistry::ReadError() const { return shared_->readError; }

const std::string& FileRegistry::Path() const { return shared_->path; }

}  // namespace qsxhost
