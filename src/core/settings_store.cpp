#include "core/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <mutex>
#include <system_error>
#include <unordered_map>

namespace pulsaro {

namespace fs = std::filesystem;

struct KeyContent {
    struct Value {
        std::string name;
        RegistryKey::Type type = RegistryKey::Type::Integer;
        std::int32_t integer = 0;
        std::string text;
    };

    std::vector<Value> values;  // in the order first written
    // Lower-cased name -> position in values: lookups and the duplicate check
    // stay constant-time, so a big file parses in linear time.
    std::unordered_map<std::string, std::size_t> index;

    const Value* find(std::string_view name) const;
    Value& findOrAdd(std::string_view name);
    // False when a value of that name (in any case) is already there.
    bool add(Value value);
    bool erase(std::string_view name);
};

namespace {

constexpr std::string_view kVersionLine = "Windows Registry Editor Version 5.00";
constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";
// Symbolic links followed before giving up, as the kernel does (ELOOP).
constexpr int kMaxLinkHops = 40;

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = asciiLower(c);
    }
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Built by appending: GCC 12 at -O2 warns falsely (-Wrestrict) about the
// inlined operator+ of a literal and a temporary string.
std::string joined(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (const std::string_view piece : pieces) {
        out += piece;
    }
    return out;
}

std::vector<std::string_view> splitKeyPath(std::string_view keyPath) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = keyPath.find('\\', start);
        segments.push_back(keyPath.substr(start, end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return segments;
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

// Reads a quoted, escaped string starting at line[pos] == '"'; pos ends after
// the closing quote.
bool parseQuoted(std::string_view line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') {
        return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"') {
            return true;
        }
        if (c == '\r') {
            return false;  // a raw CR is never written, so the line is damaged
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size()) {
            return false;
        }
        switch (line[pos++]) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            default:
                return false;
        }
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool parseDword(std::string_view digits, std::int32_t& value) {
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    std::uint32_t bits = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0) {
            return false;
        }
        bits = (bits << 4) | static_cast<std::uint32_t>(d);
    }
    value = static_cast<std::int32_t>(bits);
    return true;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::size_t skipBlanks(std::string_view line, std::size_t pos) {
    const std::size_t next = line.find_first_not_of(kBlanks, pos);
    return next == std::string_view::npos ? line.size() : next;
}

// What the export format allows is read; anything else means the file was
// damaged or hand-edited wrongly, and guessing would lose settings silently.
std::shared_ptr<KeyContent> parseFile(std::string_view text) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    auto content = std::make_shared<KeyContent>();
    bool sawVersion = false;
    bool sawKey = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trimmed(line);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (!sawKey) {
            if (!sawVersion && line == kVersionLine) {
                sawVersion = true;
                continue;
            }
            if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
                return nullptr;
            }
            sawKey = true;
            continue;
        }
        KeyContent::Value value;
        std::size_t pos = 0;
        if (!parseQuoted(line, pos, value.name)) {
            return nullptr;
        }
        pos = skipBlanks(line, pos);
        if (pos >= line.size() || line[pos] != '=') {
            return nullptr;
        }
        pos = skipBlanks(line, pos + 1);
        const std::string_view data = line.substr(pos);
        if (equalsIgnoreCase(data.substr(0, kDwordPrefix.size()), kDwordPrefix)) {
            value.type = RegistryKey::Type::Integer;
            if (!parseDword(data.substr(kDwordPrefix.size()), value.integer)) {
                return nullptr;
            }
        } else {
            value.type = RegistryKey::Type::String;
            if (!parseQuoted(line, pos, value.text) || pos != line.size()) {
                return nullptr;
            }
        }
        if (!content->add(std::move(value))) {
            return nullptr;
        }
    }
    return sawKey ? content : nullptr;
}

std::string render(std::string_view keyPath, const KeyContent& content) {
    std::string text;
    text += '[';
    text += keyPath;
    text += "]\n";
    for (const KeyContent::Value& value : content.values) {
        appendQuoted(text, value.name);
        text += '=';
        if (value.type == RegistryKey::Type::Integer) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%08x", static_cast<std::uint32_t>(value.integer));
            text += kDwordPrefix;
            text += digits;
        } else {
            appendQuoted(text, value.text);
        }
        text += '\n';
    }
    return text;
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
};

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileIdentity identityOf(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim)};
}

fs::path folderOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Where the key's file really is: symbolic links at the end of the path are
// followed, so writes replace their target and the links stay. The result may
// not exist (a dangling link). nullopt for a loop.
std::optional<fs::path> linkTarget(fs::path file) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return file;
        }
        std::error_code ec;
        const fs::path next = fs::read_symlink(file, ec);
        if (ec) {
            return std::nullopt;
        }
        file = next.is_absolute() ? next : folderOf(file) / next;
    }
    return std::nullopt;
}

bool hasWriteBit(mode_t mode) {
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Whether a save could replace target. access() answers for the permissions,
// ACLs and read-only mounts; a file or folder without any write bit is taken
// as meant to be read-only even by root, whom access() lets through.
bool mayReplace(const fs::path& target) {
    const fs::path folder = folderOf(target);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !hasWriteBit(info.st_mode) || ::access(folder.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    if (::stat(target.c_str(), &info) != 0) {
        return errno == ENOENT;
    }
    return S_ISREG(info.st_mode) && hasWriteBit(info.st_mode) &&
           ::access(target.c_str(), W_OK) == 0;
}

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Renames without ever replacing an existing file: link() refuses an existing
// target, unlike rename(). Some file systems lack hard links, hence the
// fallback.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        return ::unlink(from.c_str()) == 0;
    }
    if (errno == EEXIST) {
        return false;
    }
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// A damaged file behind a link is moved aside at the target, so the link
// stays and the next save recreates the target.
bool setAside(const fs::path& file) {
    const std::optional<fs::path> target = linkTarget(file);
    if (!target) {
        return false;
    }
    const std::string base = joined({target->native(), ".bad.", timeStamp()});
    for (int counter = 1; counter < 1000; ++counter) {
        const fs::path aside = counter == 1 ? base : joined({base, ".", std::to_string(counter)});
        if (renameNoReplace(*target, aside)) {
            return true;
        }
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(*target, ec))) {
            return false;
        }
    }
    return false;
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

[[noreturn]] void ioFailure(std::string_view what, const fs::path& file, int error) {
    throw SettingsIoError(joined({what, " ", file.native(), ": ", std::strerror(error)}));
}

// Replaces the file at once: a temporary file beside the link target,
// flushed, renamed over it. Returns the identity of the new file.
FileIdentity saveFile(const fs::path& file, const std::string& text) {
    const std::optional<fs::path> target = linkTarget(file);
    if (!target) {
        ioFailure("cannot follow the links of", file, ELOOP);
    }
    const fs::path folder = folderOf(*target);
    // A unique name beside the target, so rename() stays on one file system.
    std::string temp = (folder / ".").native();
    temp += target->filename().native();
    temp += ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        ioFailure("cannot create a temporary file for", file, errno);
    }
    // Held while the file is written: a start that finds the lock free knows
    // the file is a leftover of a killed save.
    ::flock(fd, LOCK_EX | LOCK_NB);
    // A replaced file keeps its mode, and its owner where the user may give
    // it; a first file stays private to the user.
    struct stat old {};
    if (::stat(target->c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the mode still holds.
        }
    }
    bool ok = true;
    int error = 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote > 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else {
            ok = false;
            error = wrote < 0 ? errno : ENOSPC;
        }
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        error = errno;
    }
    struct stat info {};
    if (ok && ::fstat(fd, &info) != 0) {
        ok = false;
        error = errno;
    }
    // Renamed while still locked, so no start takes it for a leftover.
    if (ok && ::rename(temp.c_str(), target->c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        ioFailure("cannot write", file, error);
    }
    syncFolder(folder);
    return identityOf(info);
}

}  // namespace

// The last content read or written per key file. A file whose time stamp is
// this recent is not remembered: a later change of the same size can carry the
// same stamp (coarse file-system clocks; FAT counts in 2 s steps).
class KeyFileMemory {
public:
    std::shared_ptr<const KeyContent> recall(const fs::path& file, const FileIdentity& identity) {
        const std::lock_guard lock(mutex_);
        const auto found = entries_.find(file.native());
        if (found == entries_.end() || !(found->second.identity == identity)) {
            return nullptr;
        }
        return found->second.content;
    }

    void remember(const fs::path& file, const FileIdentity& identity,
                  std::shared_ptr<const KeyContent> content) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::lock_guard lock(mutex_);
        if (nanoseconds(now) - identity.modifiedNs < kSettledNs) {
            entries_.erase(file.native());
            return;
        }
        entries_[file.native()] = {identity, std::move(content)};
    }

    void forget(const fs::path& file) {
        const std::lock_guard lock(mutex_);
        entries_.erase(file.native());
    }

private:
    static constexpr std::int64_t kSettledNs = 2'000'000'000;

    struct Entry {
        FileIdentity identity;
        std::shared_ptr<const KeyContent> content;
    };

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

namespace {

enum class LoadResult { Loaded, Absent, Unavailable };

bool readAll(int fd, std::string& text, std::size_t expected) {
    text.clear();
    text.reserve(expected);
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

// Every open looks at the file on disk; only an unchanged file is taken from
// memory instead of being read and parsed again.
LoadResult loadKey(KeyFileMemory& memory, const fs::path& file,
                   std::shared_ptr<const KeyContent>& content) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        // ENOTDIR: a file stands where a folder of the path belongs.
        return errno == ENOENT || errno == ENOTDIR ? LoadResult::Absent : LoadResult::Unavailable;
    }
    if (!S_ISREG(info.st_mode)) {
        return LoadResult::Unavailable;
    }
    if (auto known = memory.recall(file, identityOf(info))) {
        content = std::move(known);
        return LoadResult::Loaded;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Absent : LoadResult::Unavailable;
    }
    // The identity is taken before reading: a change made meanwhile gets a
    // newer one, so the next open reads again.
    std::string text;
    const bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                      readAll(fd, text, static_cast<std::size_t>(info.st_size));
    ::close(fd);
    if (!read) {
        return LoadResult::Unavailable;
    }
    if (auto parsed = parseFile(text)) {
        memory.remember(file, identityOf(info), parsed);
        content = std::move(parsed);
        return LoadResult::Loaded;
    }
    memory.forget(file);
    // If it cannot be moved aside, starting afresh would overwrite it.
    return setAside(file) ? LoadResult::Absent : LoadResult::Unavailable;
}

}  // namespace

const KeyContent::Value* KeyContent::find(std::string_view name) const {
    const auto found = index.find(lowered(name));
    return found == index.end() ? nullptr : &values[found->second];
}

KeyContent::Value& KeyContent::findOrAdd(std::string_view name) {
    const auto [slot, added] = index.try_emplace(lowered(name), values.size());
    if (added) {
        values.push_back({std::string(name), RegistryKey::Type::Integer, 0, {}});
    }
    return values[slot->second];
}

bool KeyContent::add(Value value) {
    if (!index.try_emplace(lowered(value.name), values.size()).second) {
        return false;
    }
    values.push_back(std::move(value));
    return true;
}

bool KeyContent::erase(std::string_view name) {
    const auto found = index.find(lowered(name));
    if (found == index.end()) {
        return false;
    }
    const std::size_t position = found->second;
    index.erase(found);
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& [lowerName, at] : index) {
        if (at > position) {
            --at;
        }
    }
    return true;
}

SettingsStore::SettingsStore(fs::path root)
    : root_(std::move(root)), memory_(std::make_unique<KeyFileMemory>()) {}

SettingsStore::~SettingsStore() = default;

fs::path SettingsStore::fileOf(std::string_view keyPath) const {
    std::vector<std::string_view> segments = splitKeyPath(keyPath);
    if (equalsIgnoreCase(segments.front(), "Software")) {
        segments.erase(segments.begin());
    }
    if (segments.empty()) {
        throw std::invalid_argument(joined({"settings key path names no key: ", keyPath}));
    }
    fs::path file = root_;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::string_view segment = segments[i];
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find_first_of(std::string_view("/\r\n\0", 4)) != std::string_view::npos) {
            throw std::invalid_argument(joined({"invalid settings key path: ", keyPath}));
        }
        if (i + 1 < segments.size()) {
            file /= segment;
        } else {
            file /= joined({segment, ".reg"});
        }
    }
    return file;
}

void SettingsStore::removeLeftovers(std::string_view keyPath) const {
    const fs::path file = fileOf(keyPath);
    const std::optional<fs::path> target = linkTarget(file);
    if (!target) {
        return;
    }
    // ".<name>.XXXXXX", as saveFile makes them.
    const std::string prefix = "." + target->filename().native() + ".";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folderOf(*target), error)) {
        const std::string name = entry.path().filename().native();
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 ||
            !entry.is_regular_file(error)) {
            continue;
        }
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        // A save still running holds the lock; a killed one left it free.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(entry.path().c_str());
        }
        ::close(fd);
    }
}

bool SettingsStore::deleteKey(std::string_view keyPath) const {
    const fs::path file = fileOf(keyPath);
    memory_->forget(file);
    // unlink() refuses folders, so a folder of the same name is never removed.
    return ::unlink(file.c_str()) == 0;
}

RegistryKey::RegistryKey(const SettingsStore& store, fs::path file, std::string keyPath,
                         bool writable)
    : store_(&store),
      file_(std::move(file)),
      keyPath_(std::move(keyPath)),
      writable_(writable),
      content_(std::make_shared<const KeyContent>()) {}

std::optional<RegistryKey> RegistryKey::openReadOnly(const SettingsStore& store,
                                                     std::string_view keyPath) {
    RegistryKey key(store, store.fileOf(keyPath), std::string(keyPath), false);
    if (loadKey(*store.memory_, key.file_, key.content_) != LoadResult::Loaded) {
        return std::nullopt;
    }
    return key;
}

std::optional<RegistryKey> RegistryKey::openForWriting(const SettingsStore& store,
                                                       std::string_view keyPath, bool create) {
    RegistryKey key(store, store.fileOf(keyPath), std::string(keyPath), true);
    switch (loadKey(*store.memory_, key.file_, key.content_)) {
        case LoadResult::Loaded: {
            const std::optional<fs::path> target = linkTarget(key.file_);
            if (!target || !mayReplace(*target)) {
                return std::nullopt;
            }
            return key;
        }
        case LoadResult::Unavailable:
            return std::nullopt;
        case LoadResult::Absent:
            break;
    }
    if (!create) {
        return std::nullopt;
    }
    const std::optional<fs::path> target = linkTarget(key.file_);
    if (!target) {
        return std::nullopt;
    }
    if (*target == key.file_) {
        // The key's own folders are made; a link's target folder must exist.
        std::error_code ec;
        fs::create_directories(folderOf(key.file_), ec);
        if (ec) {
            return std::nullopt;
        }
    }
    if (!mayReplace(*target)) {
        return std::nullopt;
    }
    try {
        key.draft_ = std::make_shared<KeyContent>();
        key.commit();
    } catch (const SettingsIoError&) {
        return std::nullopt;
    }
    return key;
}

const KeyContent& RegistryKey::current() const {
    return draft_ ? *draft_ : *content_;
}

void RegistryKey::requireWritable() const {
    if (!writable_) {
        throw std::logic_error("settings key opened read-only");
    }
}

void RegistryKey::apply(const std::function<void(KeyContent&)>& change) {
    requireWritable();
    if (!draft_) {
        // The content may be shared with the store's memory and other keys.
        draft_ = std::make_shared<KeyContent>(*content_);
    }
    if (batching_) {
        change(*draft_);
        return;
    }
    try {
        change(*draft_);
    } catch (...) {
        draft_.reset();
        throw;
    }
    commit();
}

void RegistryKey::commit() {
    if (!draft_) {
        return;
    }
    FileIdentity identity;
    try {
        identity = saveFile(file_, render(keyPath_, *draft_));
    } catch (...) {
        draft_.reset();
        throw;
    }
    content_ = std::move(draft_);
    draft_.reset();
    store_->memory_->remember(file_, identity, content_);
}

void RegistryKey::batch(const std::function<void()>& edits) {
    requireWritable();
    if (batching_) {
        throw std::logic_error("settings batch inside a batch");
    }
    batching_ = true;
    try {
        edits();
    } catch (...) {
        batching_ = false;
        draft_.reset();
        throw;
    }
    batching_ = false;
    commit();
}

bool RegistryKey::valueExists(std::string_view name) const {
    return current().find(name) != nullptr;
}

std::int32_t RegistryKey::readInteger(std::string_view name) const {
    const KeyContent::Value* value = current().find(name);
    if (value == nullptr) {
        throw std::out_of_range(joined({"no settings value ", name}));
    }
    if (value->type != Type::Integer) {
        throw SettingsTypeError(joined({"settings value ", name, " is not an integer"}));
    }
    return value->integer;
}

std::string RegistryKey::readString(std::string_view name) const {
    const KeyContent::Value* value = current().find(name);
    if (value == nullptr) {
        throw std::out_of_range(joined({"no settings value ", name}));
    }
    if (value->type != Type::String) {
        throw SettingsTypeError(joined({"settings value ", name, " is not a string"}));
    }
    return value->text;
}

std::optional<std::int32_t> RegistryKey::findInteger(std::string_view name) const {
    const KeyContent::Value* value = current().find(name);
    if (value == nullptr || value->type != Type::Integer) {
        return std::nullopt;
    }
    return value->integer;
}

std::optional<std::string> RegistryKey::findString(std::string_view name) const {
    const KeyContent::Value* value = current().find(name);
    if (value == nullptr || value->type != Type::String) {
        return std::nullopt;
    }
    return value->text;
}

void RegistryKey::writeInteger(std::string_view name, std::int32_t value) {
    apply([&](KeyContent& content) {
        KeyContent::Value& slot = content.findOrAdd(name);
        slot.type = Type::Integer;
        slot.integer = value;
        slot.text.clear();
    });
}

void RegistryKey::writeString(std::string_view name, std::string_view value) {
    apply([&](KeyContent& content) {
        KeyContent::Value& slot = content.findOrAdd(name);
        slot.type = Type::String;
        slot.integer = 0;
        slot.text = value;
    });
}

bool RegistryKey::deleteValue(std::string_view name) {
    requireWritable();
    if (current().find(name) == nullptr) {
        return false;
    }
    apply([&](KeyContent& content) { content.erase(name); });
    return true;
}

std::vector<std::string> RegistryKey::valueNames() const {
    std::vector<std::string> names;
    names.reserve(current().values.size());
    for (const KeyContent::Value& value : current().values) {
        names.push_back(value.name);
    }
    return names;
}

}  // namespace pulsaro
