#include "core/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <variant>

namespace pulsaro {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kKey = "Software\\Orvik software\\Pulsaro\\6.5";

ino_t readInode(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One value as a test expects it to be stored.
struct Stored {
    std::string name;
    std::variant<std::int32_t, std::string> value;
};

void expectValues(const RegistryKey& key, const std::vector<Stored>& expected) {
    std::vector<std::string> names;
    for (const Stored& stored : expected) {
        names.push_back(stored.name);
        if (const auto* integer = std::get_if<std::int32_t>(&stored.value)) {
            EXPECT_EQ(key.readInteger(stored.name), *integer) << stored.name;
        } else {
            EXPECT_EQ(key.readString(stored.name), std::get<std::string>(stored.value))
                << stored.name;
        }
    }
    EXPECT_EQ(key.valueNames(), names);
}

void setModified(const fs::path& file, std::int64_t nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(nanoseconds / 1'000'000'000),
                                static_cast<long>(nanoseconds % 1'000'000'000)}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
}

std::int64_t nowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
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
        makeWritableAgain();
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

    // Every entry under the root: a file's bytes, a link's target, "<folder>".
    std::map<fs::path, std::string> snapshot() const {
        std::map<fs::path, std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            if (entry.is_symlink()) {
                found[entry.path()] = "-> " + fs::read_symlink(entry.path()).string();
            } else if (entry.is_directory()) {
                found[entry.path()] = "<folder>";
            } else {
                found[entry.path()] = readBytes(entry.path());
            }
        }
        return found;
    }

    void makeWritableAgain() const {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(root_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink()) {
                fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write,
                                fs::perm_options::add, ec);
                if (it->is_directory()) {
                    fs::permissions(it->path(), fs::perms::owner_exec, fs::perm_options::add, ec);
                }
            }
        }
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
    // The forgiving readers: nothing for a missing value or the other type.
    EXPECT_EQ(key->findInteger("Count"), 3);
    EXPECT_EQ(key->findString("Name"), "3");
    EXPECT_EQ(key->findInteger("Name"), std::nullopt);
    EXPECT_EQ(key->findString("Count"), std::nullopt);
    EXPECT_EQ(key->findInteger("Missing"), std::nullopt);
}

TEST_F(SettingsStoreTest, ReplacingKeepsTheModeAndStartRemovesOnlyDeadLeftovers) {
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    const fs::path file = store_.fileOf(kKey);
    for (const mode_t mode : {mode_t{0644}, mode_t{0640}, mode_t{0600}}) {
        ::chmod(file.c_str(), mode);
        key->writeInteger("Count", static_cast<std::int32_t>(mode));
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }

    // A killed save's file is removed; one a running save holds stays, and
    // so does anything else.
    const fs::path folder = file.parent_path();
    const fs::path dead = folder / ".6.5.reg.Ab12Cd";
    const fs::path live = folder / ".6.5.reg.Xy34Zw";
    const fs::path other = folder / ".6.5.reg.bak";
    for (const fs::path& leftover : {dead, live, other}) {
        writeBytes(leftover, "[partial");
    }
    const int writer = ::open(live.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    store_.removeLeftovers(kKey);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(file));
    ::close(writer);
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
    EXPECT_THROW(key->batch([] {}), std::logic_error);
    EXPECT_EQ(key->readInteger("Count"), 1);
    EXPECT_EQ(readBytes(keyFile()), before);
}

TEST_F(SettingsStoreTest, ReadsWhatTheFormatAllowsAndSetsAsideTheRest) {
    const std::string header = "[Software\\Orvik software\\Pulsaro\\6.5]\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::vector<Stored>> values;  // nullopt: set aside
    };
    const Case cases[] = {
        {"as exported, byte-order mark and CR LF",
         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
         "\r\n"
         "[Software\\Orvik software\\Pulsaro\\6.5]\r\n"
         "\"Small\"=dword:1A\r\n"
         "\n"
         "\"Negative\"=dword:FFFFFFFF\r\n"
         "\"Name\"=\"x\"\r\n",
         {{{"Small", 26}, {"Negative", -1}, {"Name", "x"}}}},
        {"no final line break", header + "\"Count\"=dword:0000", {{{"Count", 0}}}},
        {"no final line break after CR LF text", "[K]\r\n\"Name\"=\"a\"", {{{"Name", "a"}}}},
        {"blanks around the line and around =",
         " \t[Software\\Orvik software\\Pulsaro\\6.5] \n"
         "\t\"Count\" \t=\t dword:00000002 \t\r\n"
         "  \"Name\"  =  \" a b \"  \n",
         {{{"Count", 2}, {"Name", " a b "}}}},
        {"comment lines",
         "; saved by hand\n" + header + "; the mode\n\"Count\"=dword:3\n  ;\tend\n",
         {{{"Count", 3}}}},
        {"dword in any case",
         header + "\"A\"=DWORD:1\n\"B\"=Dword:2\n\"C\"=dWoRd:ff\n",
         {{{"A", 1}, {"B", 2}, {"C", 255}}}},
        {"key without values", header, {std::vector<Stored>{}}},

        {"torn inside a name", header + "\"Cou", std::nullopt},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), std::nullopt},
        {"exported as UTF-16", std::string("\xFF\xFE[\0K\0]\0\r\0\n\0", 12), std::nullopt},
        {"empty file", "", std::nullopt},
        {"only a byte-order mark and comments", "\xEF\xBB\xBF; nothing\n", std::nullopt},
        {"no key line", "\"Count\"=dword:00000001\n", std::nullopt},
        {"second key line", header + header, std::nullopt},
        {"bad escape", header + "\"Name\"=\"a\\tb\"\n", std::nullopt},
        {"missing closing quote", header + "\"Name\"=\"abc\n", std::nullopt},
        {"missing opening quote", header + "Name=\"abc\"\n", std::nullopt},
        {"text after the value", header + "\"Name\"=\"abc\" x\n", std::nullopt},
        {"comment after a value", header + "\"Count\"=dword:1 ; one\n", std::nullopt},
        {"bad hex", header + "\"Count\"=dword:0000001g\n", std::nullopt},
        {"no hex digits", header + "\"Count\"=dword:\n", std::nullopt},
        {"more than 8 hex digits", header + "\"Count\"=dword:000000001\n", std::nullopt},
        {"unknown type", header + "\"Count\"=hex:01,02\n", std::nullopt},
        {"duplicate names in other case", header + "\"Count\"=dword:00000001\n\"COUNT\"=\"x\"\n",
         std::nullopt},
        {"version line after the key", header + "Windows Registry Editor Version 5.00\n",
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        writeBytes(keyFile(), c.bytes);

        const auto key = RegistryKey::openReadOnly(store_, kKey);
        if (c.values) {
            ASSERT_TRUE(key);
            expectValues(*key, *c.values);
            EXPECT_EQ(readBytes(keyFile()), c.bytes);
            EXPECT_TRUE(strayFiles().empty());
            continue;
        }
        EXPECT_FALSE(key);
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

// Unix lets root write anywhere, so a file or folder without any write bit is
// what marks it read-only here; the rows hold for other users through access().
TEST_F(SettingsStoreTest, KeyThatCannotBeWrittenOpensOnlyForReadingAndLinksAreWrittenThrough) {
    const fs::path dotfiles = root_ / "dotfiles";
    const fs::path target = dotfiles / "pulsaro.reg";
    const auto linkTo = [&](const fs::path& to) {
        fs::remove(keyFile());
        fs::create_symlink(to, keyFile());
    };
    const auto moveBehindLink = [&] {
        fs::create_directories(dotfiles);
        fs::rename(keyFile(), target);
        linkTo("../../dotfiles/pulsaro.reg");
    };
    struct Case {
        const char* what;
        std::function<void()> arrange;  // the key file holds Count 1 before
        bool writable;
        bool readable;
    };
    const Case cases[] = {
        {"read-only file", [&] { fs::permissions(keyFile(), fs::perms::owner_read); }, false, true},
        {"read-only folder",
         [&] {
             fs::permissions(keyFile().parent_path(),
                             fs::perms::owner_read | fs::perms::owner_exec);
         },
         false, true},
        {"file behind a link", moveBehindLink, true, true},
        {"file behind a chain of links",
         [&] {
             moveBehindLink();
             fs::create_symlink(target, root_ / "second link");
             linkTo(root_ / "second link");
         },
         true, true},
        {"read-only file behind a link",
         [&] {
             moveBehindLink();
             fs::permissions(target, fs::perms::owner_read);
         },
         false, true},
        {"link into a read-only folder",
         [&] {
             moveBehindLink();
             fs::permissions(dotfiles, fs::perms::owner_read | fs::perms::owner_exec);
         },
         false, true},
        {"dangling link into an existing folder",
         [&] {
             moveBehindLink();
             fs::remove(target);
         },
         true, false},
        {"dangling link into a missing folder", [&] { linkTo(root_ / "gone" / "x.reg"); }, false,
         false},
        {"link loop", [&] { linkTo(keyFile()); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        makeWritableAgain();
        fs::remove_all(root_);
        RegistryKey::openForWriting(store_, kKey, true)->writeInteger("Count", 1);
        c.arrange();
        const bool wasLink = fs::is_symlink(keyFile());
        const auto before = snapshot();

        const auto readable = RegistryKey::openReadOnly(store_, kKey);
        ASSERT_EQ(readable.has_value(), c.readable);
        if (readable) {
            EXPECT_EQ(readable->readInteger("Count"), 1);
        }
        EXPECT_EQ(RegistryKey::openForWriting(store_, kKey, false).has_value(),
                  c.writable && c.readable);

        auto writable = RegistryKey::openForWriting(store_, kKey, true);
        ASSERT_EQ(writable.has_value(), c.writable);
        if (!writable) {
            EXPECT_EQ(snapshot(), before);
            continue;
        }
        writable->writeInteger("Other", 2);
        EXPECT_EQ(fs::is_symlink(keyFile()), wasLink);
        const auto reread = RegistryKey::openReadOnly(store_, kKey);
        ASSERT_TRUE(reread);
        EXPECT_EQ(reread->readInteger("Other"), 2);
        EXPECT_EQ(reread->valueExists("Count"), c.readable);
        if (wasLink) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
        }
        for (const auto& [path, content] : snapshot()) {
            EXPECT_FALSE(path.filename().string().starts_with(".")) << "left behind: " << path;
        }
    }
}

TEST_F(SettingsStoreTest, BatchReplacesTheFileOnceAndRollsBackAsAWhole) {
    const auto inode = [&] { return readInode(keyFile()); };
    auto key = RegistryKey::openForWriting(store_, kKey, true);
    ASSERT_TRUE(key);
    key->writeInteger("Count", 1);
    key->writeString("Name", "old");
    const std::string before = readBytes(keyFile());
    const ino_t inodeBefore = inode();

    key->batch([&] {
        key->writeInteger("Count", 2);
        key->writeString("Added", "new");
        EXPECT_TRUE(key->deleteValue("name"));
        key->writeString("Name", "again");
        // Edits are seen at once but reach the disk only at the end.
        EXPECT_EQ(key->readInteger("Count"), 2);
        EXPECT_EQ(key->valueNames(), (std::vector<std::string>{"Count", "Added", "Name"}));
        EXPECT_EQ(readBytes(keyFile()), before);
        EXPECT_EQ(inode(), inodeBefore);
        EXPECT_THROW(key->batch([] {}), std::logic_error);
    });
    EXPECT_NE(inode(), inodeBefore);
    EXPECT_EQ(readBytes(keyFile()),
              "[Software\\Orvik software\\Pulsaro\\6.5]\n"
              "\"Count\"=dword:00000002\n"
              "\"Added\"=\"new\"\n"
              "\"Name\"=\"again\"\n");
    EXPECT_TRUE(strayFiles().empty());

    const std::string committed = readBytes(keyFile());
    const ino_t inodeCommitted = inode();
    const std::vector<Stored> kept = {{"Count", 2}, {"Added", "new"}, {"Name", "again"}};
    EXPECT_THROW(key->batch([&] {
        key->writeInteger("Count", 3);
        key->writeInteger("Lost", 1);
        throw std::runtime_error("edits failed");
    }),
                 std::runtime_error);
    expectValues(*key, kept);
    EXPECT_EQ(readBytes(keyFile()), committed);
    EXPECT_EQ(inode(), inodeCommitted);

    // A folder now stands where the file is replaced, so the one save fails.
    fs::remove(keyFile());
    fs::create_directories(keyFile() / "inside");
    EXPECT_THROW(key->batch([&] {
        key->writeInteger("Count", 4);
        key->deleteValue("Added");
    }),
                 SettingsIoError);
    expectValues(*key, kept);
    EXPECT_TRUE(fs::is_directory(keyFile() / "inside"));
    EXPECT_TRUE(strayFiles().empty());
}

// The store keeps what it parsed, so every kind of change to the file must
// make the next open read it again.
TEST_F(SettingsStoreTest, OpeningAgainSeesEveryChangeOfTheFile) {
    const std::string header = "[Software\\Orvik software\\Pulsaro\\6.5]\n";
    const std::string one = header + "\"Count\"=dword:00000001\n";
    const std::string two = header + "\"Count\"=dword:00000002\n";
    const std::int64_t hourAgo = nowNs() - 3600LL * 1'000'000'000 + 123;
    const std::int64_t justNow = nowNs() - 500'000'000;
    ASSERT_EQ(one.size(), two.size());

    struct Case {
        const char* what;
        std::int64_t stamp;  // of the file as first read
        std::function<void()> change;
        std::optional<std::int32_t> count;  // nullopt: no key
    };
    const Case cases[] = {
        {"rewritten in place, same size, 1 ns later", hourAgo,
         [&] {
             writeBytes(keyFile(), two);
             setModified(keyFile(), hourAgo + 1);
         },
         2},
        {"replaced by a file of the same size and time", hourAgo,
         [&] {
             const fs::path other = keyFile().parent_path() / "other";
             writeBytes(other, two);
             setModified(other, hourAgo);
             fs::rename(other, keyFile());
         },
         2},
        {"grown in place, same time", hourAgo,
         [&] {
             writeBytes(keyFile(), two + "\"More\"=dword:00000001\n");
             setModified(keyFile(), hourAgo);
         },
         2},
        {"rewritten just after it was written, same size and time", justNow,
         [&] {
             writeBytes(keyFile(), two);
             setModified(keyFile(), justNow);
         },
         2},
        {"deleted", hourAgo, [&] { fs::remove(keyFile()); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        writeBytes(keyFile(), one);
        setModified(keyFile(), c.stamp);
        ASSERT_EQ(RegistryKey::openReadOnly(store_, kKey)->readInteger("Count"), 1);
        ASSERT_EQ(RegistryKey::openReadOnly(store_, kKey)->readInteger("Count"), 1);

        c.change();
        const auto key = RegistryKey::openReadOnly(store_, kKey);
        ASSERT_EQ(key.has_value(), c.count.has_value());
        if (key) {
            EXPECT_EQ(key->readInteger("Count"), *c.count);
        }
    }

    // Keys opened on the same remembered content each keep their own values.
    fs::remove_all(root_);
    writeBytes(keyFile(), one);
    setModified(keyFile(), hourAgo);
    const auto reader = RegistryKey::openReadOnly(store_, kKey);
    auto writer = RegistryKey::openForWriting(store_, kKey, false);
    ASSERT_TRUE(reader && writer);
    writer->writeInteger("Count", 5);
    EXPECT_EQ(reader->readInteger("Count"), 1);
    EXPECT_EQ(RegistryKey::openReadOnly(store_, kKey)->readInteger("Count"), 5);
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
