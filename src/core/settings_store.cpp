#include "core/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

namespace pulsaro {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kVersionLine = "Windows Registry Editor Version 5.00";
constexpr std::string_view kDwordPrefix = "dword:";

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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

bool isBlank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

struct ParsedValue {
    std::string name;
    RegistryKey::Type type;
    std::int32_t integer = 0;
    std::string text;
};

// The whole file must be well formed; anything unexpected means it was damaged
// or hand-edited wrongly, and guessing would lose settings silently.
std::optional<std::vector<ParsedValue>> parseFile(std::string_view content) {
    if (!content.empty() && content.back() != '\n') {
        return std::nullopt;  // cut off in the middle of a line
    }
    std::vector<ParsedValue> values;
    bool sawVersion = false;
    bool sawKey = false;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t end = content.find('\n', start);
        std::string_view line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (isBlank(line)) {
            continue;
        }
        if (!sawKey) {
            if (!sawVersion && line == kVersionLine) {
                sawVersion = true;
                continue;
            }
            if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
                return std::nullopt;
            }
            sawKey = true;
            continue;
        }
        ParsedValue value;
        std::size_t pos = 0;
        if (!parseQuoted(line, pos, value.name) || pos >= line.size() || line[pos] != '=') {
            return std::nullopt;
        }
        ++pos;
        if (line.substr(pos).starts_with(kDwordPrefix)) {
            value.type = RegistryKey::Type::Integer;
            if (!parseDword(line.substr(pos + kDwordPrefix.size()), value.integer)) {
                return std::nullopt;
            }
        } else {
            value.type = RegistryKey::Type::String;
            if (!parseQuoted(line, pos, value.text) || pos != line.size()) {
                return std::nullopt;
            }
        }
        for (const ParsedValue& other : values) {
            if (equalsIgnoreCase(other.name, value.name)) {
                return std::nullopt;
            }
        }
        values.push_back(std::move(value));
    }
    if (!sawKey) {
        return std::nullopt;
    }
    return values;
}

enum class ReadResult { Ok, Absent, Failed };

ReadResult readWholeFile(const fs::path& file, std::string& content) {
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found) {
        return ReadResult::Absent;
    }
    if (ec || status.type() != fs::file_type::regular) {
        return ReadResult::Failed;
    }
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) {
        return errno == ENOENT ? ReadResult::Absent : ReadResult::Failed;
    }
    content.clear();
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        content.append(buffer, got);
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    return failed ? ReadResult::Failed : ReadResult::Ok;
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

bool setAside(const fs::path& file) {
    const std::string base = file.string() + ".bad." + timeStamp();
    for (int counter = 1; counter < 1000; ++counter) {
        const fs::path target = counter == 1 ? base : base + "." + std::to_string(counter);
        if (renameNoReplace(file, target)) {
            return true;
        }
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(file, ec))) {
            return false;
        }
    }
    return false;
}

enum class LoadResult { Loaded, Absent, Unavailable };

LoadResult loadKey(const fs::path& file, std::vector<ParsedValue>& values) {
    std::string content;
    switch (readWholeFile(file, content)) {
        case ReadResult::Absent:
            return LoadResult::Absent;
        case ReadResult::Failed:
            return LoadResult::Unavailable;
        case ReadResult::Ok:
            break;
    }
    if (auto parsed = parseFile(content)) {
        values = std::move(*parsed);
        return LoadResult::Loaded;
    }
    // If it cannot be moved aside, starting afresh would overwrite it.
    return setAside(file) ? LoadResult::Absent : LoadResult::Unavailable;
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

[[noreturn]] void ioFailure(const std::string& what, const fs::path& file, int error) {
    throw SettingsIoError(what + " " + file.string() + ": " + std::strerror(error));
}

}  // namespace

fs::path SettingsStore::fileOf(std::string_view keyPath) const {
    std::vector<std::string_view> segments = splitKeyPath(keyPath);
    if (equalsIgnoreCase(segments.front(), "Software")) {
        segments.erase(segments.begin());
    }
    if (segments.empty()) {
        throw std::invalid_argument("settings key path names no key: " + std::string(keyPath));
    }
    fs::path file = root_;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const std::string_view segment = segments[i];
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find_first_of(std::string_view("/\r\n\0", 4)) != std::string_view::npos) {
            throw std::invalid_argument("invalid settings key path: " + std::string(keyPath));
        }
        if (i + 1 < segments.size()) {
            file /= segment;
        } else {
            file /= std::string(segment) + ".reg";
        }
    }
    return file;
}

bool SettingsStore::deleteKey(std::string_view keyPath) const {
    // unlink() refuses folders, so a folder of the same name is never removed.
    return ::unlink(fileOf(keyPath).c_str()) == 0;
}

RegistryKey::RegistryKey(fs::path file, std::string keyPath, bool writable)
    : file_(std::move(file)), keyPath_(std::move(keyPath)), writable_(writable) {}

std::optional<RegistryKey> RegistryKey::openReadOnly(const SettingsStore& store,
                                                     std::string_view keyPath) {
    RegistryKey key(store.fileOf(keyPath), std::string(keyPath), false);
    std::vector<ParsedValue> parsed;
    if (loadKey(key.file_, parsed) != LoadResult::Loaded) {
        return std::nullopt;
    }
    for (ParsedValue& value : parsed) {
        key.values_.push_back(
            {std::move(value.name), value.type, value.integer, std::move(value.text)});
    }
    return key;
}

std::optional<RegistryKey> RegistryKey::openForWriting(const SettingsStore& store,
                                                       std::string_view keyPath, bool create) {
    RegistryKey key(store.fileOf(keyPath), std::string(keyPath), true);
    std::vector<ParsedValue> parsed;
    switch (loadKey(key.file_, parsed)) {
        case LoadResult::Loaded:
            for (ParsedValue& value : parsed) {
                key.values_.push_back(
                    {std::move(value.name), value.type, value.integer, std::move(value.text)});
            }
            return key;
        case LoadResult::Unavailable:
            return std::nullopt;
        case LoadResult::Absent:
            break;
    }
    if (!create) {
        return std::nullopt;
    }
    std::error_code ec;
    fs::create_directories(key.file_.parent_path(), ec);
    if (ec) {
        return std::nullopt;
    }
    try {
        key.save();
    } catch (const SettingsIoError&) {
        return std::nullopt;
    }
    return key;
}

const RegistryKey::Value* RegistryKey::find(std::string_view name) const {
    for (const Value& value : values_) {
        if (equalsIgnoreCase(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

RegistryKey::Value& RegistryKey::findOrAdd(std::string_view name) {
    for (Value& value : values_) {
        if (equalsIgnoreCase(value.name, name)) {
            return value;
        }
    }
    values_.push_back({std::string(name), Type::Integer, 0, {}});
    return values_.back();
}

bool RegistryKey::valueExists(std::string_view name) const {
    return find(name) != nullptr;
}

std::int32_t RegistryKey::readInteger(std::string_view name) const {
    const Value* value = find(name);
    if (value == nullptr) {
        throw std::out_of_range("no settings value " + std::string(name));
    }
    if (value->type != Type::Integer) {
        throw SettingsTypeError("settings value " + std::string(name) + " is not an integer");
    }
    return value->integer;
}

std::string RegistryKey::readString(std::string_view name) const {
    const Value* value = find(name);
    if (value == nullptr) {
        throw std::out_of_range("no settings value " + std::string(name));
    }
    if (value->type != Type::String) {
        throw SettingsTypeError("settings value " + std::string(name) + " is not a string");
    }
    return value->text;
}

void RegistryKey::writeInteger(std::string_view name, std::int32_t value) {
    if (!writable_) {
        throw std::logic_error("settings key opened read-only");
    }
    const std::vector<Value> before = values_;
    Value& slot = findOrAdd(name);
    slot.type = Type::Integer;
    slot.integer = value;
    slot.text.clear();
    try {
        save();
    } catch (...) {
        values_ = before;
        throw;
    }
}

void RegistryKey::writeString(std::string_view name, std::string_view value) {
    if (!writable_) {
        throw std::logic_error("settings key opened read-only");
    }
    const std::vector<Value> before = values_;
    Value& slot = findOrAdd(name);
    slot.type = Type::String;
    slot.integer = 0;
    slot.text = value;
    try {
        save();
    } catch (...) {
        values_ = before;
        throw;
    }
}

bool RegistryKey::deleteValue(std::string_view name) {
    if (!writable_) {
        throw std::logic_error("settings key opened read-only");
    }
    const Value* value = find(name);
    if (value == nullptr) {
        return false;
    }
    const std::vector<Value> before = values_;
    values_.erase(values_.begin() + (value - values_.data()));
    try {
        save();
    } catch (...) {
        values_ = before;
        throw;
    }
    return true;
}

std::vector<std::string> RegistryKey::valueNames() const {
    std::vector<std::string> names;
    names.reserve(values_.size());
    for (const Value& value : values_) {
        names.push_back(value.name);
    }
    return names;
}

void RegistryKey::save() const {
    std::string content = "[" + keyPath_ + "]\n";
    for (const Value& value : values_) {
        appendQuoted(content, value.name);
        content += '=';
        if (value.type == Type::Integer) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%08x", static_cast<std::uint32_t>(value.integer));
            content += kDwordPrefix;
            content += digits;
        } else {
            appendQuoted(content, value.text);
        }
        content += '\n';
    }

    // A unique name beside the target, so rename() stays on one file system.
    std::string temp =
        (file_.parent_path() / ("." + file_.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        ioFailure("cannot create a temporary file for", file_, errno);
    }
    std::FILE* out = ::fdopen(fd, "wb");
    if (out == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        ioFailure("cannot write", file_, error);
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    ok = ok && std::fflush(out) == 0;
    ok = ok && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), file_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        ioFailure("cannot write", file_, error);
    }
    syncFolder(file_.parent_path());
}

}  // namespace pulsaro
