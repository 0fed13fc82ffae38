#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

// The values of one key, and the store's memory of parsed files; both are
// defined with the parser.
struct KeyContent;
class KeyFileMemory;

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
//
// Reading also takes what people write by hand in that format: a UTF-8
// byte-order mark, CR LF line ends, no final line break, blanks around the
// line and around "=", ";" comment lines, "dword:" in any case, and an
// optional "Windows Registry Editor Version 5.00" line before the key line.
//
// The store remembers the last parsed content of each key file with the
// file's identity (device, inode, size, modification time), so opening a key
// again costs one stat() while nobody changed the file. A file changed less
// than two seconds before it was read is read again each time: a coarse
// file-system clock could give a later change of the same size the same
// time. Not meant for use from several threads at once, though the memory is
// guarded.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path root);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path fileOf(std::string_view keyPath) const;

    // Removes the temporary files that saves of the key killed midway left
    // beside its file; those a running save is writing stay.
    void removeLeftovers(std::string_view keyPath) const;

    // Removes the key's file (its folders stay). False when there was no such
    // key or it could not be removed.
    bool deleteKey(std::string_view keyPath) const;

private:
    friend class RegistryKey;

    std::filesystem::path root_;
    // Holds no settings of its own: it only saves parsing unchanged files.
    std::unique_ptr<KeyFileMemory> memory_;
};

// One key opened for one operation. Holds no file open: opening reads the
// file, and every write replaces it atomically (temporary file beside it,
// flushed, renamed over it), so a crash or a full disk never leaves a
// half-written file. A file that cannot be parsed is moved aside (its name
// plus ".bad." and a time stamp) and the key counts as absent. A key file
// that is a symbolic link is read and replaced at the link's target, so the
// link stays. A key must not outlive its store.
class RegistryKey {
public:
    enum class Type { Integer, String };

    // Fails (nullopt) when the key does not exist.
    static std::optional<RegistryKey> openReadOnly(const SettingsStore& store,
                                                   std::string_view keyPath);
    // With create, an absent key is created (its file is written at once,
    // empty); without, an absent key fails. Also nullopt when the key cannot
    // be written: the file or its folder lacks write permission (a file or
    // folder without any write bit counts as read-only even for root), the
    // folder cannot be made, or the file not written.
    static std::optional<RegistryKey> openForWriting(const SettingsStore& store,
                                                     std::string_view keyPath, bool create);

    bool valueExists(std::string_view name) const;
    // Throws SettingsTypeError for a value of the other type, std::out_of_range
    // for a missing value.
    std::int32_t readInteger(std::string_view name) const;
    std::string readString(std::string_view name) const;
    // The value when it exists with that type; nullopt when it is missing or
    // of the other type, so one damaged value costs only itself.
    std::optional<std::int32_t> findInteger(std::string_view name) const;
    std::optional<std::string> findString(std::string_view name) const;

    // Throw std::logic_error on a read-only key, SettingsIoError when the file
    // could not be replaced (the old file and the values then stay as they
    // were).
    void writeInteger(std::string_view name, std::int32_t value);
    void writeString(std::string_view name, std::string_view value);
    // False when there was no such value.
    bool deleteValue(std::string_view name);

    // Runs edits with every write and deletion kept in memory (reads see
    // them), then replaces the file once for all of them. When edits throw or
    // the file cannot be replaced, every value is back as before and the
    // exception (SettingsIoError for the file) propagates. Throws
    // std::logic_error on a read-only key or inside another batch.
    void batch(const std::function<void()>& edits);

    // The names in the order they were first written, in their first spelling.
    std::vector<std::string> valueNames() const;

private:
    RegistryKey(const SettingsStore& store, std::filesystem::path file, std::string keyPath,
                bool writable);
    const KeyContent& current() const;
    void requireWritable() const;
    // Applies change to the draft; outside a batch, saves it at once.
    void apply(const std::function<void(KeyContent&)>& change);
    void commit();

    const SettingsStore* store_;
    std::filesystem::path file_;
    std::string keyPath_;
    bool writable_;
    std::shared_ptr<const KeyContent> content_;
    // The changed copy while a write or a batch is under way.
    std::shared_ptr<KeyContent> draft_;
    bool batching_ = false;
};

}  // namespace pulsaro
