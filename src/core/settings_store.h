#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pulsaro {

// A value was read as another type than it was stored with.
class SettingsTypeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reading or writing the store's files failed.
class SettingsIoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The per-user typed settings store: one file per key under a root folder
// (normally $XDG_CONFIG_HOME). The key path "Software\Orvik software\Pulsaro\6.5"
// lives in "<root>/Orvik software/Pulsaro/6.5.reg" (a leading "Software" is
// dropped). The file is in the registry's export text format, UTF-8:
//
//   [Software\Orvik software\Pulsaro\6.5]
//   "FileName"="/home/me/Desktop/beats (1).csv"
//   "LastUsedCounter"=dword:00000001
//
// Integers are 32-bit signed, written as the 8 hex digits of their two's
// complement; in strings backslash, double quote, CR and LF are escaped.
// Value names match without regard to (ASCII) case and keep the spelling
// they were first written with.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path fileOf(std::string_view keyPath) const;

    // Removes the key's file (its folders stay). False when there was no such
    // key or it could not be removed.
    bool deleteKey(std::string_view keyPath) const;

private:
    std::filesystem::path root_;
};

// One key opened for one operation. Holds no file open: opening reads the
// file, and every write replaces it atomically (temporary file beside it,
// flushed, renamed over it), so a crash or a full disk never leaves a
// half-written file. A file that cannot be parsed is moved aside (its name
// plus ".bad." and a time stamp) and the key counts as absent.
class RegistryKey {
public:
    enum class Type { Integer, String };

    // Fails (nullopt) when the key does not exist.
    static std::optional<RegistryKey> openReadOnly(const SettingsStore& store,
                                                   std::string_view keyPath);
    // With create, an absent key is created (its file is written at once,
    // empty); without, an absent key fails. Also nullopt when the folder
    // cannot be made or the file not written.
    static std::optional<RegistryKey> openForWriting(const SettingsStore& store,
                                                     std::string_view keyPath, bool create);

    bool valueExists(std::string_view name) const;
    // Throws SettingsTypeError for a value of the other type, std::out_of_range
    // for a missing value.
    std::int32_t readInteger(std::string_view name) const;
    std::string readString(std::string_view name) const;

    // Throw std::logic_error on a read-only key, SettingsIoError when the file
    // could not be replaced (the old file then stays as it was).
    void writeInteger(std::string_view name, std::int32_t value);
    void writeString(std::string_view name, std::string_view value);
    // False when there was no such value.
    bool deleteValue(std::string_view name);

    // The names in the order they were first written, in their first spelling.
    std::vector<std::string> valueNames() const;

private:
    struct Value {
        std::string name;
        Type type;
        std::int32_t integer = 0;
        std::string text;
    };

    RegistryKey(std::filesystem::path file, std::string keyPath, bool writable);
    const Value* find(std::string_view name) const;
    Value& findOrAdd(std::string_view name);
    void save() const;

    std::filesystem::path file_;
    std::string keyPath_;
    bool writable_;
    std::vector<Value> values_;
};

}  // namespace pulsaro
