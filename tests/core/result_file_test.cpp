#include "core/result_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <tuple>

namespace pulsaro {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Expectations are written with '|' for the delimiter.
std::string delimited(std::string_view text, char delimiter) {
    std::string out(text);
    std::replace(out.begin(), out.end(), '|', delimiter);
    return out;
}

class ResultFileTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root_); }
    void TearDown() override { fs::remove_all(root_); }

    std::map<fs::path, std::string> snapshot() const {
        std::map<fs::path, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            files[entry.path()] = entry.is_regular_file() ? readBytes(entry.path()) : "<dir>";
        }
        return files;
    }

    const fs::path root_ =
        fs::temp_directory_path() / ("pulsaro-results-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(std::random_device{}()));
    const fs::path file_ = root_ / "beats (1).csv";
};

Record someRecord(SaveType type, std::string bpm = "128") {
    const bool full = type == SaveType::BpmFull || type == SaveType::MpmFull;
    const bool bpmType = type == SaveType::BpmFull || type == SaveType::BpmQuick;
    return {type,
            std::move(bpm),
            pitchFieldText("Pitchrange(±8%): 118 - 138 "),
            bpmType ? delayText(1'280'000, ".") : "0",
            full ? "Some Artist" : "",
            full ? "Some Album" : "",
            full ? "Some Track" : ""};
}

TEST_F(ResultFileTest, EachTypeWritesItsHeaderOnCreationAndItsFieldsWithEachDelimiter) {
    struct Case {
        SaveType type;
        const char* fileName;
        const char* header;
        const char* record;
    };
    const Case cases[] = {
        {SaveType::BpmFull, "beats (1).csv",
         "BPM:|PitchRange +-8%:|Artist/Group:|Album:|Track:|Delay (ms):|File created by Pulsaro",
         "128|118 - 138|Some Artist|Some Album|Some Track|468.8"},
        {SaveType::BpmQuick, "Q_beats (1).csv",
         "BPM:|PitchRange +-8%:|Delay (ms):|File created by Pulsaro", "128|118 - 138|468.8"},
        {SaveType::MpmFull, "beats (1).csv",
         "BPM:|Artist/Group:|Album:|Track:|MPM 2/3:|MPM 1/2:|MPM 1/3:|MPM 1/4:|MPM 1/8:|"
         "File created by Pulsaro",
         "128|Some Artist|Some Album|Some Track|85|64|43|32|16"},
        {SaveType::MpmQuick, "Q_beats (1).csv",
         "BPM:|MPM 2/3:|MPM 1/2:|MPM 1/3:|MPM 1/4:|MPM 1/8:|File created by Pulsaro",
         "128|85|64|43|32|16"},
    };
    for (const std::optional<std::int32_t> stored : {0, 1, 2, 7}) {
        for (const Case& c : cases) {
            const char delimiter = delimiterFor(stored);
            SCOPED_TRACE(std::string(c.record) + " with delimiter " + std::to_string(*stored));
            fs::remove_all(root_);
            fs::create_directories(root_);
            const Record record = someRecord(c.type, bpmText(1'280'000, "."));
            const std::string expected = (root_ / c.fileName).string();
            EXPECT_EQ(saveRecord(file_.string(), record, delimiter, "."), expected);
            EXPECT_EQ(saveRecord(file_.string(), record, delimiter, "."), expected);
            const std::string line = delimited(c.record, delimiter) + "\r\n";
            EXPECT_EQ(readBytes(root_ / c.fileName),
                      delimited(c.header, delimiter) + "\r\n" + line + line);
            EXPECT_EQ(snapshot().size(), 1U);
        }
    }
    EXPECT_EQ(delimiterFor(std::nullopt), '\t');
}

TEST_F(ResultFileTest, ExistingFileGetsNoHeaderAMissingLineBreakFirstAndKeepsItsDelimiter) {
    const std::string header =
        "BPM:|Artist/Group:|Album:|Track:|MPM 2/3:|MPM 1/2:|MPM 1/3:|"
        "MPM 1/4:|MPM 1/8:|File created by Pulsaro";
    const std::string tab = delimited(header, '\t') + "\r\n";
    const std::string semi = delimited(header, ';');
    const std::string bpmLine = "128|118 - 138|Some Artist|Some Album|Some Track|468.8\r\n";
    const std::string mpmLine = "128|Some Artist|Some Album|Some Track|85|64|43|32|16\r\n";
    // Before an MPM and a BPM save with the delimiter given; what is kept of it
    // (no file: the header) and the delimiter the records get.
    const std::tuple<std::optional<std::string>, std::string, char, char> cases[] = {
        {std::nullopt, semi + "\r\n", ';', ';'},
        {"", "", ';', ';'},
        {"old", "old\r\n", ';', ';'},
        {"old\r", "old\r\r\n", ';', ';'},
        {"old\n", "old\n", ';', ';'},
        {"old\r\n", "old\r\n", ';', ';'},
        {tab, tab, ',', '\t'},
        {semi, semi + "\r\n", '\t', ';'},
        {"BPM:,x\n", "BPM:,x\n", ';', ';'},
    };
    for (const auto& [before, kept, given, used] : cases) {
        SCOPED_TRACE(kept);
        fs::remove(file_);
        if (before) {
            writeBytes(file_, *before);
        }
        saveRecord(file_.string(), someRecord(SaveType::MpmFull), given, ".");
        saveRecord(file_.string(), someRecord(SaveType::BpmFull), given, ".");
        EXPECT_EQ(readBytes(file_), kept + delimited(mpmLine + bpmLine, used));
    }
}

// A field with the delimiter or a quote is quoted, control characters in names
// become blanks; only the ends of the whole line are trimmed. MPM values come
// from the BPM text, halves rounded away from zero.
TEST_F(ResultFileTest, RecordLinesQuoteFieldsBlankNamesAndRoundTheMpmValues) {
    struct Case {
        Record record;
        const char* separator;
        char delimiter;
        const char* line;
    };
    const Case cases[] = {
        {{SaveType::MpmFull, "125", "", "0", "AC;DC", "a,b", "x\ty"},
         ".",
         ';',
         "125;\"AC;DC\";a,b;x y;83;63;42;31;16"},
        {{SaveType::MpmFull, bpmText(1'276'543, "."), "", "0", "Björk", "Sigur Rós", "坂本龍一"},
         ".",
         ';',
         "127.7;Björk;Sigur Rós;坂本龍一;85;64;43;32;16"},
        {{SaveType::MpmFull, bpmText(1'276'500, "."), "", "0", "   ", "", ""},
         ".",
         '\t',
         "127.7\t   \t\t\t85\t64\t43\t32\t16"},
        {{SaveType::MpmFull, bpmText(1'275'000, ","), "", "0", "", "", ""},
         ",",
         ',',
         "\"127,5\",,,,85,64,43,32,16"},  // 42.5 -> 43
        {{SaveType::BpmFull, "127,5", "", "470,6", "Crosby, Stills & Nash", "", "12\" Mix"},
         ",",
         ',',
         R"("127,5",,"Crosby, Stills & Nash",,"12"" Mix","470,6")"},
        {{SaveType::BpmFull, "1", "", "", "", "", "12\" Mix"}, ".", ';', R"(1;;;;"12"" Mix";)"},
        {{SaveType::MpmFull, "3", "", "0", "a\r\nb", "x\ty", "\x7f"},
         ".",
         '\t',
         "3\ta  b\tx y\t \t2\t2\t1\t1\t0"},
        {{SaveType::BpmFull, "1.5", "", "1", "Björk", "", ""}, ".", ',', "1.5,,Björk,,,1"},
        {{SaveType::MpmFull, "3", "", "0", "", "", ""}, ".", ';', "3;;;;2;2;1;1;0"},
        {{SaveType::BpmFull, "128", "", "", "   ", "", ""}, ".", ';', "128;;   ;;;"},
        {{SaveType::BpmFull, " 128", "", "", "   ", "", ""}, ".", '\t', "128"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        writeBytes(file_, "");
        saveRecord(file_.string(), c.record, c.delimiter, c.separator);
        EXPECT_EQ(readBytes(file_), std::string(c.line) + "\r\n");
    }
    fs::remove(file_);
    EXPECT_THROW(saveRecord(file_.string(), someRecord(SaveType::MpmFull, "x"), ';', "."),
                 std::invalid_argument);
    EXPECT_FALSE(fs::exists(file_));
}

TEST(QuickSaveFileName, PutsQBeforeTheTrimmedNameInTheTrimmedFolder) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/me/Desktop/beats (1).csv", "/home/me/Desktop/Q_beats (1).csv"},
        {" /home/me/ \t beats.csv \n", "/home/me/Q_beats.csv"},
        // Only '/' separates folders here.
        {"set 12:30.csv", "Q_set 12:30.csv"},
        {"/m/a\\b.csv", "/m/Q_a\\b.csv"},
        {"beats.csv", "Q_beats.csv"},
        {"/m/Q_beats.csv", "/m/Q_Q_beats.csv"},
        {"/m/", "/m/Q_"},
        {"", ""},
        {" \t", ""},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(quickSaveFileName(name), expected) << name;
    }
}

TEST(ResultTexts, FormatTheTempoDelayAndPitchCaption) {
    EXPECT_EQ(bpmText(1'280'000, "."), "128");
    EXPECT_EQ(bpmText(1'276'543, ","), "127,7");
    EXPECT_EQ(delayText(1'280'000, "."), "468.8");
    EXPECT_EQ(delayText(1'276'543, ","), "470");
    EXPECT_EQ(pitchFieldText("Pitchrange(±8%):\t118 - 138 \r\n"), "118 - 138");
    EXPECT_EQ(pitchFieldText("a: b: c"), "b: c");
    EXPECT_EQ(pitchFieldText(" no colon "), "no colon");
}

TEST_F(ResultFileTest, FailureIsReportedAndLeavesTheFileAsItWas) {
    const std::string old = "BPM:;File created by Pulsaro\r\n120\r\n";
    const std::string planted = "it is a symbolic link that another account could have made";
    const auto linkTo = [&](const fs::path& target, uid_t owner, fs::perms folder) {
        writeBytes(target, old);
        fs::create_directory(root_ / "shared");
        fs::create_symlink(target, root_ / "shared" / "beats.csv");
        if (::lchown((root_ / "shared" / "beats.csv").c_str(), owner, static_cast<gid_t>(-1)) !=
            0) {
            return std::string();  // only root can plant a link as another account
        }
        fs::permissions(root_ / "shared", folder);
        return (root_ / "shared" / "beats.csv").string();
    };
    struct Case {
        const char* what;
        std::function<std::string()> arrange;  // the file name to save to
        std::string reason;
        rlim_t sizeLimit = RLIM_INFINITY;  // bytes a file may grow to
    };
    const Case cases[] = {
        {"missing folder", [&] { return (root_ / "gone" / "beats.csv").string(); },
         std::strerror(ENOENT)},
        {"folder in the file's place",
         [&] {
             fs::create_directory(file_);
             return file_.string();
         },
         std::strerror(EISDIR)},
        {"file without write bits",  // root included, whom chmod does not stop
         [&] {
             writeBytes(file_, old);
             fs::permissions(file_, fs::perms::owner_read | fs::perms::group_read);
             return file_.string();
         },
         std::strerror(EACCES)},
        {"new file in a folder without write bits",
         [&] {
             fs::create_directory(root_ / "locked");
             fs::permissions(root_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
             return (root_ / "locked" / "beats.csv").string();
         },
         std::strerror(EACCES)},
        {"a device", [] { return std::string("/dev/full"); }, "it is not a regular file"},
        {"a FIFO, even with a reader",
         [&] {
             ::mkfifo(file_.c_str(), 0600);
             return file_.string();
         },
         "it is not a regular file"},
        {"a name with a NUL", [&] { return file_.string() + std::string(1, '\0') + "x"; },
         "the name holds a NUL character"},
        {"a link of another account",
         [&] { return linkTo(root_ / "mine.csv", 4321, fs::perms::owner_all); }, planted},
        {"my link in a folder others may write",
         [&] {
             return linkTo(root_ / "mine.csv", ::geteuid(),
                           fs::perms::owner_all | fs::perms::others_all);
         },
         planted},
        {"disk full inside the record",
         [&] {
             writeBytes(file_, old);
             return file_.string();
         },
         std::strerror(EFBIG), old.size() + 5},
        {"disk full inside the header", [&] { return file_.string(); }, std::strerror(EFBIG), 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root_);
        fs::create_directories(root_);
        const std::string name = c.arrange();
        if (name.empty()) {
            continue;  // a row only root can arrange
        }
        const auto before = snapshot();

        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limited = saved;
        limited.rlim_cur = std::min(c.sizeLimit, saved.rlim_max);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        std::string message;
        try {
            saveRecord(name, someRecord(SaveType::BpmFull), ';', ".");
        } catch (const ResultFileError& e) {
            message = e.what();
        }
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        std::string shown;  // a NUL reads as \0
        for (const char ch : name) {
            shown += ch == '\0' ? std::string("\\0") : std::string(1, ch);
        }
        EXPECT_NE(message.find("\"" + shown + "\": " + c.reason), std::string::npos) << message;
        EXPECT_EQ(snapshot(), before);
    }

    // No result file at all: nothing written, and said so.
    EXPECT_THROW(saveRecord(" ", someRecord(SaveType::BpmQuick), ';', "."), NoResultFileError);
}

TEST_F(ResultFileTest, MyLinkInAFolderOnlyIWriteIsFollowed) {
    writeBytes(file_, "");
    const fs::path link = root_ / "link.csv";
    fs::create_symlink(file_, link);
    saveRecord(link.string(), someRecord(SaveType::BpmFull), ';', ".");
    EXPECT_NE(readBytes(file_).find("Some Track"), std::string::npos);
}

}  // namespace
}  // namespace pulsaro
