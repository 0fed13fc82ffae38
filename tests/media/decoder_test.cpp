#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "media/audio_decoder.h"
#include "media/tags.h"
#include "media_test_files.h"

namespace pulsaro::media::test {
namespace {

struct Decoded {
    std::vector<float> samples;
    double duration = 0.0;
    double secondsDecoded = 0.0;
    int skipped = 0;
};

// Odd block sizes, so blocks never line up with the codec's frames.
Decoded decodeAll(const std::filesystem::path& file, int rate) {
    AudioDecoder decoder(file, rate);
    Decoded d;
    std::vector<float> block(997);
    while (const std::size_t n = decoder.read(block)) {
        d.samples.insert(d.samples.end(), block.begin(), block.begin() + static_cast<long>(n));
    }
    EXPECT_EQ(decoder.read(block), 0U) << "the end stays the end";
    d.duration = decoder.durationSeconds();
    d.secondsDecoded = decoder.secondsDecoded();
    d.skipped = decoder.skippedPackets();
    return d;
}

class MediaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) {
            GTEST_SKIP() << "the ffmpeg tool is missing: no test files can be made";
        }
    }
    TempDir dir;
};

struct FormatCase {
    const char* file;
    const char* encoder;  // ffmpeg options; the tags written are the same for all
    int rate;             // asked of the decoder
    double lengthSlack;   // seconds beyond 10 the decoder may give (AAC's last frame)
    std::optional<double> bpm;
};

TEST_F(MediaFiles, EveryFormatDecodesToItsLengthWithTheBeatsInPlaceAndItsTags) {
    const FormatCase cases[] = {
        {"lame.mp3", "-c:a libmp3lame -b:a 128k", 22050, 0.001, 127.5},
        {"lame.mp3", "-c:a libmp3lame -b:a 128k", 48000, 0.001, 127.5},
        {"aac.m4a", "-c:a aac -b:a 128k", 22050, 0.025, 126.0},
        {"opus.opus", "-c:a libopus", 22050, 0.001, 128.0},
        {"vorbis.ogg", "-c:a libvorbis", 22050, 0.001, 128.0},
        {"lossless.flac", "-c:a flac", 11025, 0.001, 128.0},
        {"pcm.wav", "-c:a pcm_s16le", 22050, 0.001, std::nullopt},  // INFO has no tempo
        {"pcm.aiff", "-c:a pcm_s16be -write_id3v2 1", 44100, 0.001, 127.5},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.rate) + " Hz");
        const auto file = dir / c.file;
        // TBPM for ID3v2, BPM for Vorbis comments, tmpo for MP4: each muxer takes its own.
        ASSERT_TRUE(ffmpeg(std::string(kClickSource) + " " + c.encoder +
                           " -metadata artist=Äphex -metadata album='Ü 2' -metadata title=Tïtle"
                           " -metadata TBPM=127.5 -metadata BPM=128,00 -metadata tmpo=126 " +
                           file.string()));
        const Decoded d = decodeAll(file, c.rate);
        const double length = static_cast<double>(d.samples.size()) / c.rate;
        EXPECT_GE(length, 10.0 - 0.001);
        EXPECT_LE(length, 10.0 + c.lengthSlack);
        EXPECT_DOUBLE_EQ(d.secondsDecoded, length);
        EXPECT_NEAR(d.duration, 10.0, 0.05);
        for (const double second : {1.0, 5.0, 9.0}) {
            EXPECT_NEAR(clickAt(d.samples, c.rate, second), second, 0.001) << "beat " << second;
        }
        EXPECT_EQ(readTags(file), (Tags{"Äphex", "Ü 2", "Tïtle", c.bpm}));
    }
}

// Random bytes over a stretch in the middle: the decoder goes on, and the
// audio lost is replaced by as much silence, so the later beats stay put.
TEST_F(MediaFiles, DamageInTheMiddleIsSkippedWithoutMovingTheLaterBeats) {
    const struct {
        const char* file;
        const char* encoder;
        bool decoderSeesIt;  // an Ogg page failing its checksum is dropped by the demuxer
    } cases[] = {{"d.flac", "-c:a flac", true},
                 {"d.m4a", "-c:a aac", true},
                 {"d.opus", "-c:a libopus", false},
                 {"d.ogg", "-c:a libvorbis", false}};
    std::mt19937 random(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = dir / c.file;
        ASSERT_TRUE(ffmpeg(std::string(kClickSource) + " " + c.encoder + " " + file.string()));
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<long>(std::filesystem::file_size(file) / 2));
        for (int i = 0; i < 1500; ++i) {
            f.put(static_cast<char>(random()));
        }
        f.close();
        const Decoded d = decodeAll(file, 22050);
        if (c.decoderSeesIt) {
            EXPECT_GE(d.skipped, 1);
        }
        EXPECT_NEAR(static_cast<double>(d.samples.size()) / 22050, 10.0, 0.025);
        for (const double second : {8.0, 9.0}) {
            EXPECT_NEAR(clickAt(d.samples, 22050, second), second, 0.001) << "beat " << second;
        }
    }
}

// The message of decoding the whole file, or "" when it decodes.
std::string errorOf(const std::filesystem::path& file) {
    try {
        decodeAll(file, 22050);
    } catch (const MediaError& e) {
        EXPECT_EQ(e.file(), file);
        EXPECT_EQ(e.what(), file.string() + ": " + e.reason());
        return e.what();
    }
    return {};
}

// Root opens any file, so the unreadable one is tried by a child become nobody.
bool deniedToNobody(const std::filesystem::path& file) {
    const std::string denied = file.string() + ": cannot be opened: Permission denied";
    if (::geteuid() != 0) {
        return errorOf(file) == denied;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && errorOf(file) == denied ? 0 : 1);
    }
    int status = 1;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(MediaFiles, BadInputsFailWithTheFileAndTheReason) {
    const auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    };
    const auto cut = [&](const char* from, const char* name, std::size_t bytes) {
        std::ifstream in(dir / from, std::ios::binary);
        std::string head(bytes, '\0');
        in.read(head.data(), static_cast<long>(bytes));
        return write(name, head);
    };
    ASSERT_TRUE(ffmpeg(std::string(kClickSource) + " -t 2 -c:a aac " + (dir / "a.m4a").string()));
    ASSERT_TRUE(ffmpeg(std::string(kClickSource) + " -t 2 " + (dir / "a.flac").string()));
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=d=1 " + (dir / "video.mp4").string()));
    ASSERT_EQ(::mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.mp3");
    const auto locked = write("locked.mp3", "ID3 not really");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_exec);  // nobody
    // Every AAC packet of a copy overwritten, the sample tables (at the end) kept.
    std::string m4a(std::filesystem::file_size(dir / "a.m4a"), '\0');
    std::ifstream(dir / "a.m4a", std::ios::binary).read(m4a.data(), static_cast<long>(m4a.size()));
    for (std::size_t i = m4a.find("mdat") + 4; i + 4 < m4a.rfind("moov"); ++i) {
        m4a[i] = static_cast<char>(i * 7919 % 251);
    }
    write("noise.m4a", m4a);

    const struct {
        std::filesystem::path file;
        const char* reason;
    } cases[] = {
        {dir / "missing.mp3", "does not exist"},
        {dir / "folder.mp3", "is a folder, not a file"},
        {dir / "pipe.mp3", "is a named pipe (FIFO), not a file"},  // and no wait for a writer
        {"/dev/zero", "is a device, not a file"},
        {write("empty.flac", ""), "is empty (0 bytes)"},
        {write("text.wav", "just some words, no sound"), "not an audio file FFmpeg can read"},
        {write("page.html", "<html><body>hi</body></html>"), "not an audio file FFmpeg can read"},
        {cut("a.m4a", "cut.m4a", 2000), "(moov atom not found)"},
        {cut("a.flac", "cut.flac", 40), "is cut short or not an audio file FFmpeg can read"},
        {dir / "video.mp4", "has no audio stream (FFmpeg reads it as QuickTime / MOV)"},
        {dir / "noise.m4a", "nothing in it could be decoded ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        const std::string message = errorOf(c.file);
        EXPECT_TRUE(message.starts_with(c.file.string() + ": ")) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    EXPECT_TRUE(deniedToNobody(locked));
    EXPECT_THROW(AudioDecoder(dir / "a.flac", 0), std::invalid_argument);
}

}  // namespace
}  // namespace pulsaro::media::test
