// Fuzzes the settings file reader: the input is the content of a key file.
// Opening it, read-only or for writing, must give either a parsed key with
// the file left as it was, or the file moved aside whole (and, for writing, a
// new empty key). The values of a parsed file, written back through the key
// and read again, must come out the same, and writing them once more must
// give the same bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_store.h"
#include "fuzz_common.h"

namespace {

namespace fs = std::filesystem;
using pulsaro::RegistryKey;
using pulsaro::SettingsStore;

constexpr std::string_view kKey = "Software\\Orvik software\\Pulsaro\\6.5";

struct Value {
    std::string name;
    bool integer = false;
    std::int32_t number = 0;
    std::string text;

    bool operator==(const Value&) const = default;
};

std::vector<Value> valuesOf(const RegistryKey& key) {
    std::vector<Value> values;
    for (const std::string& name : key.valueNames()) {
        PULSARO_FUZZ_CHECK(key.valueExists(name));
        Value value;
        value.name = name;
        try {
            value.number = key.readInteger(name);
            value.integer = true;
        } catch (const pulsaro::SettingsTypeError&) {
            value.text = key.readString(name);
        }
        values.push_back(std::move(value));
    }
    return values;
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().native());
    }
    return names;
}

// The file is gone from its place and lies beside it, byte for byte, under
// its name plus ".bad." and a time stamp; nothing else is there.
void expectSetAside(const fs::path& file, std::string_view bytes, std::size_t othersExpected) {
    std::size_t aside = 0;
    std::size_t others = 0;
    const std::string prefix = file.filename().native() + ".bad.";
    for (const std::string& name : entriesOf(file.parent_path())) {
        if (name.starts_with(prefix)) {
            ++aside;
            PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file.parent_path() / name) == bytes);
        } else {
            ++others;
        }
    }
    PULSARO_FUZZ_CHECK(aside == 1);
    PULSARO_FUZZ_CHECK(others == othersExpected);
}

// Only the key file itself: no temporary file and nothing set aside.
void expectOnlyKeyFile(const fs::path& file) {
    const std::vector<std::string> names = entriesOf(file.parent_path());
    PULSARO_FUZZ_CHECK(names.size() == 1 && names.front() == file.filename().native());
}

fs::path placeKeyFile(const SettingsStore& store, std::string_view bytes) {
    const fs::path file = store.fileOf(kKey);
    fs::create_directories(file.parent_path());
    pulsaro::fuzz::writeBytes(file, bytes);
    return file;
}

void writeBack(RegistryKey& key, const std::vector<Value>& values) {
    key.batch([&] {
        for (const Value& value : values) {
            if (value.integer) {
                key.writeInteger(value.name, value.number);
            } else {
                key.writeString(value.name, value.text);
            }
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Read-only.
    std::optional<std::vector<Value>> parsed;
    {
        const fs::path root = pulsaro::fuzz::freshFolder("settings");
        const SettingsStore store(root);
        const fs::path file = placeKeyFile(store, bytes);
        const std::optional<RegistryKey> key = RegistryKey::openReadOnly(store, kKey);
        if (key) {
            parsed = valuesOf(*key);
            PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == bytes);
            expectOnlyKeyFile(file);
            // Opening again (the store may remember the file) agrees.
            const std::optional<RegistryKey> again = RegistryKey::openReadOnly(store, kKey);
            PULSARO_FUZZ_CHECK(again && valuesOf(*again) == *parsed);
        } else {
            PULSARO_FUZZ_CHECK(!fs::exists(fs::symlink_status(file)));
            expectSetAside(file, bytes, 0);
        }
    }

    // For writing, from the same bytes.
    const fs::path root = pulsaro::fuzz::freshFolder("settings");
    fs::path file;
    {
        const SettingsStore store(root);
        file = placeKeyFile(store, bytes);
        std::optional<RegistryKey> key = RegistryKey::openForWriting(store, kKey, true);
        PULSARO_FUZZ_CHECK(key.has_value());
        if (!parsed) {
            // Set aside, and a new empty key written in its place.
            PULSARO_FUZZ_CHECK(key->valueNames().empty());
            expectSetAside(file, bytes, 1);
            const SettingsStore other(root);
            const std::optional<RegistryKey> fresh = RegistryKey::openReadOnly(other, kKey);
            PULSARO_FUZZ_CHECK(fresh && fresh->valueNames().empty());
            return 0;
        }
        PULSARO_FUZZ_CHECK(valuesOf(*key) == *parsed);
        PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == bytes);
        writeBack(*key, *parsed);
        PULSARO_FUZZ_CHECK(valuesOf(*key) == *parsed);
        expectOnlyKeyFile(file);
    }

    // Round trip: a new store reads what was written back.
    const std::string written = pulsaro::fuzz::readBytes(file);
    {
        const SettingsStore store(root);
        std::optional<RegistryKey> key = RegistryKey::openForWriting(store, kKey, false);
        PULSARO_FUZZ_CHECK(key.has_value());
        PULSARO_FUZZ_CHECK(valuesOf(*key) == *parsed);
        writeBack(*key, *parsed);
        PULSARO_FUZZ_CHECK(pulsaro::fuzz::readBytes(file) == written);
        const std::optional<RegistryKey> reread = RegistryKey::openReadOnly(store, kKey);
        PULSARO_FUZZ_CHECK(reread && valuesOf(*reread) == *parsed);
        expectOnlyKeyFile(file);
    }
    return 0;
}
