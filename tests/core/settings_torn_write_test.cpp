// A writer killed at any moment must leave the key file whole: a child
// process rewrites a key over and over, alternating between two complete sets
// of values, and is killed with SIGKILL at a random moment; the file must then
// parse (not be set aside) and hold one of the two sets, never a mixture.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "core/settings_store.h"

namespace pulsaro {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "Software\\Orvik software\\Pulsaro\\6.5";
constexpr int kKills = 200;

struct Setting {
    std::string name;
    std::variant<std::int32_t, std::string> value;

    bool operator==(const Setting&) const = default;
};
using Settings = std::vector<Setting>;

// Two sets that differ in every value; the first has one value more, so the
// second deletes it. The long strings make each write take a while.
const Settings& setA() {
    static const Settings set{{"Counter", std::int32_t{1}},
                              {"Tempo", std::string("128.5")},
                              {"FileName", std::string(40000, 'a') + "\\\"\r\n"},
                              {"Delimiter", std::int32_t{0}},
                              {"OnlyInA", std::string("present")}};
    return set;
}

const Settings& setB() {
    static const Settings set{{"Counter", std::int32_t{2}},
                              {"Tempo", std::string("96,25")},
                              {"FileName", std::string(30000, 'b')},
                              {"Delimiter", std::int32_t{-1}}};
    return set;
}

void writeSet(RegistryKey& key, const Settings& set) {
    key.batch([&] {
        if (&set == &setB()) {
            key.deleteValue("OnlyInA");
        }
        for (const Setting& setting : set) {
            if (const auto* integer = std::get_if<std::int32_t>(&setting.value)) {
                key.writeInteger(setting.name, *integer);
            } else {
                key.writeString(setting.name, std::get<std::string>(setting.value));
            }
        }
    });
}

Settings readSet(const RegistryKey& key) {
    Settings set;
    for (const std::string& name : key.valueNames()) {
        try {
            set.push_back({name, key.readInteger(name)});
        } catch (const SettingsTypeError&) {
            set.push_back({name, key.readString(name)});
        }
    }
    return set;
}

// The child: writes the other set each time, and reports its first complete
// write through the pipe. Never returns.
[[noreturn]] void writeForever(const fs::path& root, int ready) {
    try {
        const SettingsStore store(root);
        bool reported = false;
        while (true) {
            std::optional<RegistryKey> key = RegistryKey::openForWriting(store, kKey, false);
            if (!key) {
                ::_exit(3);
            }
            writeSet(*key, key->readInteger("Counter") == 1 ? setB() : setA());
            if (!reported) {
                const char byte = 1;
                if (::write(ready, &byte, 1) != 1) {
                    ::_exit(4);
                }
                reported = true;
            }
        }
    } catch (...) {
        ::_exit(2);
    }
}

std::vector<std::string> setAsideFiles(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().native();
        if (name.find(".bad.") != std::string::npos) {
            names.push_back(name);
        }
    }
    return names;
}

class SettingsTornWrite : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        root_ = fs::temp_directory_path() /
                ("pulsaro-torn-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path root_;
};

TEST_F(SettingsTornWrite, KilledWriterLeavesOneCompleteSet) {
    // The first set, and how long one write of a set takes here.
    std::chrono::steady_clock::duration perWrite{};
    {
        const SettingsStore store(root_);
        std::optional<RegistryKey> key = RegistryKey::openForWriting(store, kKey, true);
        ASSERT_TRUE(key);
        constexpr int kTimed = 6;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTimed; ++i) {
            writeSet(*key, i % 2 == 0 ? setB() : setA());
        }
        perWrite = (std::chrono::steady_clock::now() - start) / kTimed;
        ASSERT_EQ(readSet(*key), setA());
    }
    const fs::path file = SettingsStore(root_).fileOf(kKey);
    // Kills land anywhere within the next few writes after the first.
    const auto spread = std::max<std::int64_t>(
        1, std::chrono::duration_cast<std::chrono::microseconds>(perWrite).count() * 3);

    const std::uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int64_t> delay(0, spread);
    int sawA = 0;
    int sawB = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            writeForever(root_, ready[1]);
        }
        ::close(ready[1]);
        char byte = 0;
        const ssize_t got = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
        if (got == 1) {
            ::usleep(static_cast<useconds_t>(delay(random)));
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(got, 1) << "the writer ended before its first write, status " << status;
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer ended by itself, status " << status << ", kill " << kill;

        const SettingsStore store(root_);
        const std::optional<RegistryKey> key = RegistryKey::openReadOnly(store, kKey);
        ASSERT_TRUE(key) << "the key file does not parse after kill " << kill;
        ASSERT_TRUE(setAsideFiles(file.parent_path()).empty()) << "kill " << kill;
        const Settings found = readSet(*key);
        if (found == setA()) {
            ++sawA;
        } else if (found == setB()) {
            ++sawB;
        } else {
            FAIL() << "neither complete set after kill " << kill;
        }
    }
    // Each child writes at least once, always the other set: both turn up.
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
    // A writer killed inside a write leaves its temporary file behind: how
    // many kills landed there (about half on a disk where syncing takes its
    // time, few on tmpfs). Recorded, not required, as it depends on the disk.
    int interrupted = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path())) {
        interrupted += entry.path().filename().native().starts_with(".") ? 1 : 0;
    }
    RecordProperty("sawA", sawA);
    RecordProperty("sawB", sawB);
    RecordProperty("interrupted", interrupted);
}

}  // namespace
}  // namespace pulsaro
