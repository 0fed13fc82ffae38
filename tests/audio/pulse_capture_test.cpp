// Capture from a private PulseAudio with one null sink: a click train played
// into the sink comes out of its monitor on time, and each way the server or
// the input can go is reported with its cause, without a word from libpulse.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/audio_capture.h"

namespace pulsaro {
namespace {

constexpr int kClickPeriod = 12000;  // a click every quarter second
const std::string kMonitor = "pulsaro_test.monitor";

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <typename Condition>
bool waitUntil(double seconds, Condition condition) {
    for (const double end = now() + seconds; now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (condition()) {
            return true;
        }
    }
    return condition();
}

// A private PulseAudio (its files and the client's in a folder of its own)
// with a null sink that a player thread keeps sending clicks into.
class Server {
public:
    Server() : dir_(std::filesystem::temp_directory_path() / "pulsaro-pulse-XXXXXX") {
        dir_ = ::mkdtemp(dir_.data());
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) {
            ::setenv(name, dir_.c_str(), 1);
        }
        ::setenv("PULSE_SERVER", ("unix:" + dir_ + "/native").c_str(), 1);
    }
    ~Server() {
        crash(SIGTERM);
        std::filesystem::remove_all(dir_);
    }

    bool start() {
        const std::string log = "--log-target=file:" + dir_ + "/server.log";
        const std::string socket =
            "module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native";
        if ((pid_ = ::fork()) == 0) {
            ::execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                     "--use-pid-file=no", log.c_str(), "-L", socket.c_str(), "-L",
                     "module-null-sink sink_name=pulsaro_test rate=48000", nullptr);
            ::_exit(127);
        }
        const bool up =
            waitUntil(10, [] { return std::system("pactl info > /dev/null 2>&1") == 0; });
        player_ = std::jthread([](std::stop_token stop) {
            const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, 48000, 1};
            pa_simple* out =
                pa_simple_new(nullptr, "pulsaro tests", PA_STREAM_PLAYBACK, "pulsaro_test",
                              "clicks", &format, nullptr, nullptr, nullptr);
            if (out == nullptr) {
                return;
            }
            std::vector<float> period(kClickPeriod, 0.0f);
            std::fill_n(period.begin(), 48, 0.8f);
            while (!stop.stop_requested() &&
                   pa_simple_write(out, period.data(), period.size() * 4, nullptr) == 0) {
            }
            pa_simple_free(out);
        });
        return up;
    }
    void crash(int signal = SIGKILL) {
        if (pid_ > 0 && ::kill(pid_, signal) == 0) {
            ::waitpid(std::exchange(pid_, -1), nullptr, 0);
        }
        stopPlaying();
    }
    void stopPlaying() { player_ = {}; }

private:
    std::string dir_;
    pid_t pid_ = -1;
    std::jthread player_;
};

// Reads for `seconds`, each read's last frame heard after the one before
// and near the time it is read; gives where the clicks begin and counts the
// frames.
std::vector<std::int64_t> listen(AudioCapture& capture, double seconds, std::int64_t& frames) {
    std::vector<std::int64_t> clicks;
    std::vector<float> block(4096);
    double last = -1e300;
    for (const double end = now() + seconds; now() < end;) {
        const std::size_t n = capture.read(block);
        for (std::size_t i = 0; i < n; ++i, ++frames) {
            if (block[i] > 0.4f &&
                (clicks.empty() || frames - clicks.back() > capture.sampleRate() / 10)) {
                clicks.push_back(frames);
            }
        }
        if (n > 0) {
            const double at = capture.heardAt(frames - 1);
            EXPECT_GT(at, last);
            EXPECT_NEAR(at, now(), 0.2);
            last = at;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return clicks;
}

// What start() says: its error, else whether frames come in.
std::string startError(AudioCapture& capture, const std::string& input) {
    try {
        capture.start(input);
    } catch (const CaptureError& error) {
        return error.what();
    }
    std::vector<float> block(4096);
    return waitUntil(5, [&] { return capture.read(block) > 0; }) ? "started" : "silent";
}

TEST(PulseCapture, HearsTheMonitorOnTimeAndSaysWhyItStopped) {
    if (std::system("command -v pulseaudio > /dev/null && command -v pactl > /dev/null") != 0) {
        GTEST_SKIP() << "pulseaudio or pactl is not installed";
    }
    // libpulse must not print anything: the standard error goes to a file.
    std::FILE* printed = std::tmpfile();
    const int savedStderr = ::dup(2);
    ::dup2(::fileno(printed), 2);
    Server server;
    auto capture = makePulseCapture(48000, "pulsaro tests");
    const std::string refused = "cannot reach the sound server: Connection refused";
    const double before = now();
    EXPECT_EQ(startError(*capture, ""), refused);
    EXPECT_LT(now() - before, 1.0);
    EXPECT_THROW(listCaptureInputs(), CaptureError);
    EXPECT_TRUE(server.start());
    EXPECT_EQ(startError(*capture, "nosuch"), "the input \"nosuch\" does not exist");
    std::string monitors;
    for (const CaptureInput& input : listCaptureInputs()) {
        monitors += input.monitor && !input.description.empty() ? input.name + " " : "";
    }
    EXPECT_EQ(monitors, kMonitor + " ");

    for (const double rate : {48000.0, 44100.0, 11025.0}) {
        SCOPED_TRACE(rate);
        capture = makePulseCapture(rate, "pulsaro tests");
        EXPECT_EQ(startError(*capture, ""), "started");
        std::int64_t frames = 0;
        const std::vector<std::int64_t> clicks = listen(*capture, 1.6, frames);
        EXPECT_GT(frames, rate);
        EXPECT_EQ(capture->droppedFrames(), 0u);
        EXPECT_GE(clicks.size(), 4u);
        for (std::size_t i = 1; i < clicks.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(clicks[i] - clicks[i - 1]), kClickPeriod * rate / 48000,
                        1.0);
            EXPECT_NEAR(capture->heardAt(clicks[i]) - capture->heardAt(clicks[i - 1]), 0.25, 0.001);
        }
    }

    struct Fault {
        std::string input;
        void (*cause)(Server&);
        std::string failure;
        std::string thenStart;  // what start() says right after
    };
    const Fault faults[] = {
        {"", [](Server& s) { s.crash(); }, "the sound server went away", refused},
        {kMonitor,
         [](Server& s) {
             EXPECT_EQ(std::system("pactl unload-module module-null-sink"), 0);
             s.stopPlaying();
         },
         "the input \"" + kMonitor + "\" is gone", "the input \"" + kMonitor + "\" does not exist"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.failure);
        // The second start follows a restarted server, and so must work.
        EXPECT_EQ(startError(*capture, fault.input), "started");
        fault.cause(server);
        EXPECT_TRUE(waitUntil(2, [&] { return capture->state() == CaptureState::Failed; }));
        EXPECT_EQ(capture->failure(), fault.failure);
        EXPECT_EQ(startError(*capture, fault.input), fault.thenStart);
        EXPECT_EQ(capture->state(), CaptureState::Stopped);
        if (fault.thenStart == refused) {
            EXPECT_TRUE(server.start());
        }
    }

    ::dup2(savedStderr, 2);
    EXPECT_EQ(std::ftell(printed), 0) << "something was written to the standard error";
    std::fclose(printed);
}

}  // namespace
}  // namespace pulsaro
