#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "media/audio_decoder.h"
#include "media/tags.h"
#include "temp_dir.h"

namespace pulsaro::media::test {
namespace {

// Runs the ffmpeg tool quietly; false if it failed.
bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
}

std::string bytesOf(const std::filesystem::path& file) {
    std::ostringstream bytes;
    bytes << std::ifstream(file, std::ios::binary).rdbuf();
    return bytes.str();
}

// Ten seconds of stereo at 44.1 kHz: faint noise and a 2 kHz burst (a
// Gaussian of 0.3 ms) centred exactly on every whole second.
constexpr const char* kClickSource =
    "-f lavfi -i \"aevalsrc='0.04*(random(0)-0.5)+0.9*sin(2*PI*2000*t)*"
    "exp(-((t-floor(t+0.5))^2)/(2*0.0003^2))':c=stereo:s=44100:d=10\"";

// Where the burst nearest `second` is: the energy centroid within 2 ms of the
// loudest sample within 100 ms; -1 when nothing there is loud.
double clickAt(const std::vector<float>& samples, int rate, double second) {
    const auto at = [&](long i) { return samples[static_cast<std::size_t>(i)]; };
    const long size = static_cast<long>(samples.size());
    const long centre = std::lround(second * rate);
    if (centre >= size) {
        return -1.0;
    }
    long loudest = centre;
    for (long i = centre - rate / 10, end = std::min(size, centre + rate / 10); i < end; ++i) {
        loudest = std::abs(at(i)) > std::abs(at(loudest)) ? i : loudest;
    }
    double energy = 0.0, moment = 0.0;
    for (long i = loudest - rate / 500; i <= std::min(size - 1, loudest + rate / 500); ++i) {
        energy += double{at(i)} * at(i);
        moment += double{at(i)} * at(i) * static_cast<double>(i);
    }
    return std::abs(at(loudest)) < 0.3F ? -1.0 : moment / energy / rate;
}

struct Decoded {
    std::vector<float> samples;
    double duration, secondsDecoded;
    int skipped;
};

// Odd block sizes, so blocks never line up with the codec's frames.
Decoded decodeAll(const std::filesystem::path& file, int rate) {
    AudioDecoder decoder(file, rate);
    std::vector<float> samples, block(997);
    while (const std::size_t n = decoder.read(block)) {
        samples.insert(samples.end(), block.begin(), block.begin() + static_cast<long>(n));
    }
    EXPECT_EQ(decoder.read(block), 0U) << "the end stays the end";
    return {samples, decoder.durationSeconds(), decoder.secondsDecoded(), decoder.skippedPackets()};
}

class MediaFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
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
    } cases[] = {{"d.mp3", "-c:a libmp3lame", true},
                 {"d.flac", "-c:a flac", true},
                 {"d.m4a", "-c:a aac", true},
                 {"d.opus", "-c:a libopus", false},
                 {"d.ogg", "-c:a libvorbis", false}};
    std::mt19937 random(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto file = dir / c.file;
        ASSERT_TRUE(ffmpeg(std::string(kClickSource) + " " + c.encoder + " " + file.string()));
        std::string bytes = bytesOf(file);
        std::generate_n(bytes.begin() + static_cast<long>(bytes.size() / 2), 1500,
                        [&] { return static_cast<char>(random()); });
        std::ofstream(file, std::ios::binary) << bytes;
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
    std::string m4a = bytesOf(dir / "a.m4a");
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
        {write("cut.m4a", bytesOf(dir / "a.m4a").substr(0, 2000)), "(moov atom not found)"},
        {write("cut.flac", bytesOf(dir / "a.flac").substr(0, 40)),
         "is cut short or not an audio file FFmpeg can read"},
        {dir / "video.mp4", "has no audio stream (FFmpeg reads it as QuickTime / MOV)"},
        {dir / "noise.m4a", "nothing in it could be decoded ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        const std::string message = errorOf(c.file);
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
    EXPECT_TRUE(deniedToNobody(locked));
    EXPECT_THROW(AudioDecoder(dir / "a.flac", 0), std::invalid_argument);
}

}  // namespace
}  // namespace pulsaro::media::test
