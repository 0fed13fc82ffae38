#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <string>

#include "media/tags.h"
#include "temp_dir.h"

namespace pulsaro::media::test {
namespace {

TEST(BpmTag, ReadsTheWaysTaggersWriteATempo) {
    const struct {
        const char* text;
        std::optional<double> bpm;
    } cases[] = {
        {"128", 128.0},         {"127.5", 127.5},       {"128,00", 128.0},
        {" 126 BPM", 126.0},    {"174.000", 174.0},     {"0.5", std::nullopt},
        {"", std::nullopt},     {"fast", std::nullopt}, {"-120", std::nullopt},
        {"1000", std::nullopt}, {"nan", std::nullopt},  {"inf", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseBpmTag(c.text), c.bpm) << '"' << c.text << '"';
    }
}

// Files whose tags cannot be read give empty tags at once: no exception, no
// wait on a pipe.
TEST(Tags, UnreadableTagsAreEmpty) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    std::ofstream(dir / "text.mp3") << "no frames here";
    // An ID3v2 header whose frames are garbage and whose size runs past the end.
    std::ofstream(dir / "broken.mp3", std::ios::binary)
        << std::string("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10) << std::string(300, '\xff');
    std::ofstream(dir / "broken.flac", std::ios::binary) << "fLaC" << std::string(64, '\x84');
    for (const auto& file :
         {dir / "missing.mp3", dir / "pipe.mp3", dir / "text.mp3", dir / "broken.mp3",
          dir / "broken.flac", dir.path(), std::filesystem::path("/dev/zero")}) {
        EXPECT_EQ(readTags(file), Tags{}) << file;
    }
}

}  // namespace
}  // namespace pulsaro::media::test
