#include "core/settings_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>

namespace pulsaro {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "Software\\Orvik software\\Pulsaro\\6.5";

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path uniqueRoot() {
    std::random_device random;
    return fs::temp_directory_path() /
           ("pulsaro-settings-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root_); }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    fs::path keyFile() const { return root_ / "Orvik software" / "Pulsaro" / "6.5.reg"; }

    // Everything in the key's folder other than the key file itself.
    std::vector<fs::path> strayFiles() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(keyFile().parent_path())) {
            if (entry.path() != keyFile()) {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    const fs::path root_ = uniqueRoot();
    const SettingsStore store_{root_};
};

TEST_F(SettingsStoreTest, MapsKeyPathsToFilesUnderTheRoot) {
    struct Case {
        std::string_view keyPath;
        fs::path relative;
    };
    const Case cases[] = {
        {kKey, "Orvik software/Pulsaro/6.5.reg"},
        {"SOFTWARE\\Orvik software\\Pulsaro\\6.5", "Orvik software/Pulsaro/6.5.reg"},
        {"Orvik software\\Pulsaro\\6.5", "Orvik software/Pulsaro/6.5.reg"},
        {"Software\\Software\\x", "Software/x.reg"},
        {"Pulsaro", "Pulsaro.reg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(store_.fileOf(c.keyPath), root_ / c.relative) << c.keyPath;
    }
}

TEST_F(SettingsStoreTest, RejectsKeyPathsThatWouldLeaveTheRoot) {
    const std::string_view bad[] = {
        "",          "Software",        "Software\\", "Software\\\\Pulsaro", "Software\\..\\x",
        "..\\x",     "Software\\.\\x",  "a\\..",      "a/..\\..\\x",         "Software\\a/b",
        "\\Pulsaro", "Software\\x\\..",
    };
    for (const std::string_view keyPath : bad) {
        EXPECT_THROW(store_.fileOf(keyPath), std::invalid_argument) << keyPath;
        EXPECT_THROW(RegistryKey::openForWriting(store_, keyPath, true), std::invalid_argument)
            << keyPath;
    }
    EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(SettingsStoreTest, RoundTripsBothTypesThroughAFreshAccessor) {
    const std::int32_t integers[] = {0, 1, 26, -1, -10, INT32_MAX, INT32_MIN};
    const std::string texts[] = {
        "",
        "/home/me/Desktop/beats (1).csv",
        "say \"hi\"",
        "C:\\Users\\me\\",
        "two\nlines\r\nand\rcr",
        "\\n is not a newline",
        "Grüße, 日本語, ♩=120",
        "trailing backslash \\",
        "=dword:00000001",
    };
    {
        auto key = RegistryKey::openForWriting(store_, kKey, true);
        ASSERT_TRUE(key);
        for (std::size_t i = 0; i < std::size(integers); ++i) {
            key->writeInteger("Int" + std::to_string(i), integers[i]);
        }
        for (std::size_t i = 0; i < std::size(texts); ++i) {
            key->writeString("Text \"" + std::to_string(i) + "\"\\\n", texts[i]);
        }
    }
    const auto key = RegistryKey::openReadOnly(store_, kKey);
    ASSERT_TRUE(key);
    for (std::size_t i = 0; i < std::size(integers); ++i) {
        EXPECT_EQ(key->readInteger("Int" + std::to_string(i)), integers[i]);
    }
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        EXPECT_EQ(key->readString("Text \"" + std::to_string(i) + "\"\\\n"), texts[i]);
    }
}

TEST_F(SettingsStoreTest, WritesTheExactFileText) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeString("FileName", "/home/me/Desktop/beats (1).csv");
    key->writeInteger("LastUsedCounter", 26);
    key->writeInteger("Offset", -10);
    key->writeString("Quote\"d", "a\\b\"c\r\nd");
    key->writeInteger("lastusedcounter", 1);
    EXPECT_EQ(readBytes(keyFile()),
              "[Software\\Orvik software\\Pulsaro\\6.5]\n"
              "\"FileName\"=\"/home/me/Desktop/beats (1).csv\"\n"
              "\"LastUsedCounter\"=dword:00000001\n"
              "\"Offset\"=dword:fffffff6\n"
              "\"Quote\\\"d\"=\"a\\\\b\\\"c\\r\\nd\"\n");
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(SettingsStoreTest, ReadsFilesWrittenByHand) {
    writeBytes(keyFile(),
               "Windows Registry Editor Version 5.00\r\n"
               "\r\n"
               "[Software\\Orvik software\\Pulsaro\\6.5]\r\n"
               "\"Small\"=dword:1A\r\n"
               "\n"
               "\"Negative\"=dword:FFFFFFFF\r\n"
               "\"Name\"=\"x\"\r\n");
    const auto key = RegistryKey::openReadOnly(store_, kKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->readInteger("Small"), 26);
    EXPECT_EQ(key->readInteger("Negative"), -1);
    EXPECT_EQ(key->readString("Name"), "x");
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"Small", "Negative", "Name"}));
}

TEST_F(SettingsStoreTest, MatchesNamesWithoutCaseAndKeepsTheFirstSpelling) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeInteger("transparency", 40);
    key->writeInteger("Transparency", 60);
    key->writeString("FileName", "a.csv");
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"transparency", "FileName"}));
    EXPECT_TRUE(key->valueExists("TRANSPARENCY"));

    const auto reread = RegistryKey::openReadOnly(store_, kKey);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->valueNames(), (std::vector<std::string>{"transparency", "FileName"}));
    EXPECT_EQ(reread->readInteger("TransParency"), 60);
    EXPECT_EQ(reread->readString("filename"), "a.csv");
}

TEST_F(SettingsStoreTest, DeletedValueIsGoneAndComesBackLastInItsNewSpelling) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeInteger("a", 1);
    key->writeInteger("b", 2);
    EXPECT_TRUE(key->deleteValue("A"));
    EXPECT_FALSE(key->deleteValue("a"));
    key->writeInteger("A", 3);
    EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"b", "A"}));
    EXPECT_EQ(RegistryKey::openReadOnly(store_, kKey)->valueNames(), key->valueNames());
}

TEST_F(SettingsStoreTest, ReadingTheWrongTypeOrAMissingValueThrows) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeInteger("Count", 3);
    key->writeString("Name", "3");
    EXPECT_THROW(key->readString("Count"), SettingsTypeError);
    EXPECT_THROW(key->readInteger("Name"), SettingsTypeError);
    EXPECT_THROW(key->readInteger("Missing"), std::out_of_range);
    EXPECT_THROW(key->readString("Missing"), std::out_of_range);
    EXPECT_FALSE(key->valueExists("Missing"));
}

TEST_F(SettingsStoreTest, AbsentKeyOpensOnlyWithCreate) {
    EXPECT_FALSE(RegistryKey::openReadOnly(store_, kKey));
    EXPECT_FALSE(RegistryKey::openForWriting(store_, kKey, false));
    EXPECT_FALSE(fs::exists(root_ / "Orvik software"));

    const auto created = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(created);
    EXPECT_TRUE(created->valueNames().empty());
    EXPECT_EQ(readBytes(keyFile()), "[Software\\Orvik software\\Pulsaro\\6.5]\n");
    EXPECT_TRUE(RegistryKey::openReadOnly(store_, kKey));
    EXPECT_TRUE(RegistryKey::openForWriting(store_, kKey, false));
}

TEST_F(SettingsStoreTest, ReadOnlyKeyRefusesChanges) {
    RegistryKey::openForWriting(store_, kKey, true)->writeInteger("Count", 1);
    const std::string before = readBytes(keyFile());
    auto key = RegistryKey::openReadOnly(store_, kKey);
    ASSERT_TRUE(key);
    EXPECT_THROW(key->writeInteger("Count", 2), std::logic_error);
    EXPECT_THROW(key->writeString("Name", "x"), std::logic_error);
    EXPECT_THROW(key->deleteValue("Count"), std::logic_error);
    EXPECT_EQ(key->readInteger("Count"), 1);
    EXPECT_EQ(readBytes(keyFile()), before);
}

TEST_F(SettingsStoreTest, UnparsableFilesAreSetAsideUntouched) {
    const std::string header = "[Software\\Orvik software\\Pulsaro\\6.5]\n";
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"torn in the middle of a line", header + "\"Count\"=dword:0000"},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"empty file", ""},
        {"no key line", "\"Count\"=dword:00000001\n"},
        {"second key line", header + header},
        {"bad escape", header + "\"Name\"=\"a\\tb\"\n"},
        {"missing closing quote", header + "\"Name\"=\"abc\n"},
        {"missing opening quote", header + "Name=\"abc\"\n"},
        {"text after the value", header + "\"Name\"=\"abc\" x\n"},
        {"bad hex", header + "\"Count\"=dword:0000001g\n"},
        {"no hex digits", header + "\"Count\"=dword:\n"},
        {"more than 8 hex digits", header + "\"Count\"=dword:000000001\n"},
        {"unknown type", header + "\"Count\"=hex:01,02\n"},
        {"duplicate names in other case", header + "\"Count\"=dword:00000001\n\"COUNT\"=\"x\"\n"},
        {"version line after the key", header + "Windows Registry Editor Version 5.00\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        writeBytes(keyFile(), c.bytes);

        EXPECT_FALSE(RegistryKey::openReadOnly(store_, kKey));
        EXPECT_FALSE(fs::exists(keyFile()));
        const std::vector<fs::path> setAside = strayFiles();
        ASSERT_EQ(setAside.size(), 1u);
        EXPECT_TRUE(setAside[0].filename().string().starts_with("6.5.reg.bad.")) << setAside[0];
        EXPECT_EQ(readBytes(setAside[0]), c.bytes);
    }
}

TEST_F(SettingsStoreTest, CreateAfterABadFileGivesAFreshKeyAndKeepsEverySetAsideFile) {
    const std::string garbage = "this is not a settings file\n";
    writeBytes(keyFile(), garbage);
    EXPECT_FALSE(RegistryKey::openForWriting(store_, kKey, false));
    ASSERT_EQ(strayFiles().size(), 1u);

    // A second bad file within the same second must not replace the first.
    const std::string torn = "[Software\\Orvik software\\Pulsaro\\6.5]\n\"Cou";
    writeBytes(keyFile(), torn);
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->valueNames().empty());
    key->writeInteger("Count", 1);
    EXPECT_EQ(RegistryKey::openReadOnly(store_, kKey)->readInteger("Count"), 1);

    std::vector<std::string> setAside;
    for (const fs::path& file : strayFiles()) {
        setAside.push_back(readBytes(file));
    }
    std::sort(setAside.begin(), setAside.end());
    EXPECT_EQ(setAside, (std::vector<std::string>{torn, garbage}));
}

// Root ignores permission bits, so the write is made to fail with a file-size
// limit instead: the temporary file hits it halfway through.
TEST_F(SettingsStoreTest, WriteFailingMidwayLeavesFileAndValuesAsTheyWere) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeString("FileName", "old.csv");
    const std::string before = readBytes(keyFile());

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        key->writeString("FileName", std::string(1024 * 1024, 'x'));
    } catch (const SettingsIoError&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(readBytes(keyFile()), before);
    EXPECT_TRUE(strayFiles().empty());
    EXPECT_EQ(key->readString("FileName"), "old.csv");
    key->writeInteger("Count", 1);
    EXPECT_EQ(RegistryKey::openReadOnly(store_, kKey)->valueNames(),
              (std::vector<std::string>{"FileName", "Count"}));
}

TEST_F(SettingsStoreTest, FailedRenameThrowsAndChangesNothing) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeInteger("Count", 1);
    // A folder now stands where the file is replaced, so rename() must fail.
    fs::remove(keyFile());
    fs::create_directories(keyFile() / "inside");

    EXPECT_THROW(key->writeInteger("Count", 2), SettingsIoError);
    EXPECT_THROW(key->writeInteger("Other", 2), SettingsIoError);
    EXPECT_THROW(key->deleteValue("Count"), SettingsIoError);
    EXPECT_EQ(key->readInteger("Count"), 1);
    EXPECT_FALSE(key->valueExists("Other"));
    EXPECT_TRUE(fs::is_directory(keyFile() / "inside"));
    EXPECT_TRUE(strayFiles().empty());
    EXPECT_FALSE(RegistryKey::openReadOnly(store_, kKey));
}

TEST_F(SettingsStoreTest, CreateFailsWithoutThrowingWhenSomethingIsInTheWay) {
    writeBytes(root_ / "Orvik software", "a file where the folder belongs");
    EXPECT_FALSE(RegistryKey::openForWriting(store_, kKey, true));
    EXPECT_EQ(readBytes(root_ / "Orvik software"), "a file where the folder belongs");

    fs::remove(root_ / "Orvik software");
    fs::create_directories(keyFile());
    EXPECT_FALSE(RegistryKey::openForWriting(store_, kKey, true));
    EXPECT_FALSE(RegistryKey::openReadOnly(store_, kKey));
    EXPECT_TRUE(fs::is_directory(keyFile()));
}

TEST_F(SettingsStoreTest, DeleteKeyRemovesOnlyTheFile) {
    RegistryKey::openForWriting(store_, kKey, true)->writeInteger("Count", 1);
    RegistryKey::openForWriting(store_, "Software\\Orvik software\\Pulsaro\\6.4", true)
        ->writeInteger("Count", 2);

    EXPECT_TRUE(store_.deleteKey(kKey));
    EXPECT_FALSE(fs::exists(keyFile()));
    EXPECT_TRUE(fs::is_directory(keyFile().parent_path()));
    EXPECT_FALSE(RegistryKey::openReadOnly(store_, kKey));
    EXPECT_EQ(RegistryKey::openReadOnly(store_, "Software\\Orvik software\\Pulsaro\\6.4")
                  ->readInteger("Count"),
              2);
    EXPECT_FALSE(store_.deleteKey(kKey));
}

TEST_F(SettingsStoreTest, DeleteKeyLeavesAFolderOfTheSameNameAlone) {
    fs::create_directories(keyFile());
    EXPECT_FALSE(store_.deleteKey(kKey));
    EXPECT_TRUE(fs::is_directory(keyFile()));
}

}  // namespace
}  // namespace pulsaro
