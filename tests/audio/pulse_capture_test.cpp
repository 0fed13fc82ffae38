// Capture from a private PulseAudio with one null sink: a click train played
// into the sink comes out of its monitor on time, and each way the server or
// the input can go is reported with its cause, without a word from libpulse.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_capture.h"

extern char** environ;

namespace pulsaro {
namespace {

constexpr std::uint32_t kSinkRate = 48000;
constexpr int kClickPeriod = 12000;  // a click every quarter second
const std::string kMonitor = "pulsaro_test.monitor";

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <typename Condition>
bool waitUntil(double seconds, Condition condition) {
    for (const double end = now() + seconds; now() < end;) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

bool onPath(const std::string& program) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(path, dir, ':');) {
        if (::access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

// A private PulseAudio (its files, the client's too, in a folder of its own)
// with a null sink that a player thread keeps sending clicks into.
class Server {
public:
    Server() {
        std::string dir =
            (std::filesystem::temp_directory_path() / "pulsaro-pulse-XXXXXX").string();
        dir_ = ::mkdtemp(dir.data());
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
        pid_ =
            run({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                 "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native",
                 "-L", "module-null-sink sink_name=pulsaro_test rate=48000"});
        const bool up = waitUntil(10, [] {
            try {
                return !listCaptureInputs().empty();
            } catch (const CaptureError&) {
                return false;
            }
        });
        playing_ = true;
        player_ = std::thread(&Server::play, this);
        return up;
    }
    void crash(int signal = SIGKILL) {
        if (pid_ > 0) {
            ::kill(pid_, signal);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        stopPlaying();
    }
    void unplug() {
        const pid_t pactl = run({"pactl", "unload-module", "module-null-sink"});
        ::waitpid(pactl, nullptr, 0);
        stopPlaying();
    }

private:
    pid_t run(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = dir_ + "/server.log";
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    void play() {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kSinkRate, 1};
        pa_simple* out = pa_simple_new(nullptr, "pulsaro tests", PA_STREAM_PLAYBACK, "pulsaro_test",
                                       "clicks", &spec, nullptr, nullptr, nullptr);
        std::vector<float> period(kClickPeriod, 0.0f);
        std::fill_n(period.begin(), 48, 0.8f);
        while (out != nullptr && playing_ &&
               pa_simple_write(out, period.data(), period.size() * sizeof(float), nullptr) == 0) {
        }
        if (out != nullptr) {
            pa_simple_free(out);
        }
    }
    void stopPlaying() {
        playing_ = false;
        if (player_.joinable()) {
            player_.join();
        }
    }

    std::string dir_;
    pid_t pid_ = -1;
    std::atomic<bool> playing_{false};
    std::thread player_;
};

// Reads for `seconds`: the frames where clicks begin, and whether each read's
// last frame was heard after the one before and near the time it was read.
struct Heard {
    std::vector<std::int64_t> clicks;
    std::int64_t frames = 0;
    bool inOrder = true;
    double worstAge = 0;  // the read's time less its last frame's, farthest from 0
};

Heard listen(AudioCapture& capture, double seconds) {
    Heard heard;
    std::vector<float> block(4096);
    double last = -1e300;
    const auto refractory = static_cast<std::int64_t>(capture.sampleRate() / 10);
    for (const double end = now() + seconds; now() < end;) {
        const std::size_t n = capture.read(block);
        for (std::size_t i = 0; i < n; ++i, ++heard.frames) {
            if (block[i] > 0.4f &&
                (heard.clicks.empty() || heard.frames - heard.clicks.back() > refractory)) {
                heard.clicks.push_back(heard.frames);
            }
        }
        if (n > 0) {
            const double at = capture.heardAt(heard.frames - 1);
            heard.inOrder = heard.inOrder && at > last;
            last = at;
            const double age = now() - at;
            heard.worstAge = std::abs(age) > std::abs(heard.worstAge) ? age : heard.worstAge;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return heard;
}

// Until release(), what is written to the standard error goes to a file.
class CaughtStderr {
public:
    CaughtStderr()
        : path_((std::filesystem::temp_directory_path() /
                 ("pulsaro-stderr-" + std::to_string(::getpid())))
                    .string()),
          saved_(::dup(2)) {
        const int file = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, 2);
        ::close(file);
    }
    ~CaughtStderr() { release(); }
    std::string release() {
        if (saved_ < 0) {
            return {};
        }
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
        std::ifstream in(path_);
        const std::string said((std::istreambuf_iterator<char>(in)), {});
        std::filesystem::remove(path_);
        return said;
    }

private:
    std::string path_;
    int saved_;
};

bool skipWithoutPulse() {
    return !onPath("pulseaudio") || !onPath("pactl");
}

TEST(PulseCapture, HearsTheMonitorOnTimeAtEachRate) {
    if (skipWithoutPulse()) {
        GTEST_SKIP() << "pulseaudio or pactl is not installed";
    }
    Server server;
    ASSERT_TRUE(server.start());
    bool listed = false;
    for (const CaptureInput& input : listCaptureInputs()) {
        listed = listed || (input.name == kMonitor && input.monitor && !input.description.empty());
    }
    EXPECT_TRUE(listed) << kMonitor << " is not among the inputs";

    for (const double rate : {48000.0, 44100.0, 11025.0}) {
        SCOPED_TRACE(rate);
        auto capture = makePulseCapture(rate, "pulsaro tests");
        capture->start("");
        ASSERT_EQ(capture->state(), CaptureState::Running);
        ASSERT_TRUE(waitUntil(5, [&] { return listen(*capture, 0.05).frames > 0; }));
        const Heard heard = listen(*capture, 1.6);
        EXPECT_GT(heard.frames, rate);
        EXPECT_TRUE(heard.inOrder);
        EXPECT_LT(std::abs(heard.worstAge), 0.2);
        EXPECT_EQ(capture->droppedFrames(), 0u);
        ASSERT_GE(heard.clicks.size(), 4u);
        const double spacing = kClickPeriod * rate / kSinkRate;
        for (std::size_t i = 1; i < heard.clicks.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(heard.clicks[i] - heard.clicks[i - 1]), spacing, 1.0);
            EXPECT_NEAR(capture->heardAt(heard.clicks[i]) - capture->heardAt(heard.clicks[i - 1]),
                        0.25, 0.001);
        }
    }
}

std::string startError(AudioCapture& capture, const std::string& input) {
    try {
        capture.start(input);
    } catch (const CaptureError& error) {
        return error.what();
    }
    return "started";
}

TEST(PulseCapture, SaysWhyItCannotStartOrStopped) {
    if (skipWithoutPulse()) {
        GTEST_SKIP() << "pulseaudio or pactl is not installed";
    }
    // libpulse must not print anything on the way.
    CaughtStderr stderrOutput;
    Server server;
    auto capture = makePulseCapture(48000, "pulsaro tests");
    const std::string refused = "cannot reach the sound server: Connection refused";
    const double before = now();
    EXPECT_EQ(startError(*capture, ""), refused);
    EXPECT_LT(now() - before, 1.0);
    EXPECT_THROW(listCaptureInputs(), CaptureError);

    ASSERT_TRUE(server.start());
    EXPECT_EQ(startError(*capture, "nosuch"), "the input \"nosuch\" does not exist");

    struct Fault {
        const char* what;
        std::string input;
        void (*cause)(Server&);
        std::string failure;
        std::string thenStart;  // what start() says right after
    };
    const Fault faults[] = {
        {"the server killed", "", [](Server& s) { s.crash(); }, "the sound server went away",
         refused},
        {"the input unplugged", kMonitor, [](Server& s) { s.unplug(); },
         "the input \"" + kMonitor + "\" is gone", "the input \"" + kMonitor + "\" does not exist"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        // The second start follows a restarted server, and so must work.
        capture->start(fault.input);
        ASSERT_TRUE(waitUntil(5, [&] { return listen(*capture, 0.05).frames > 0; }));
        fault.cause(server);
        const double at = now();
        EXPECT_TRUE(waitUntil(3, [&] { return capture->state() == CaptureState::Failed; }));
        EXPECT_LT(now() - at, 2.0);
        EXPECT_EQ(capture->failure(), fault.failure);
        EXPECT_EQ(startError(*capture, fault.input), fault.thenStart);
        EXPECT_EQ(capture->state(), CaptureState::Stopped);
        if (fault.thenStart == refused) {
            ASSERT_TRUE(server.start());
        }
    }

    EXPECT_EQ(stderrOutput.release(), "");
}

}  // namespace
}  // namespace pulsaro
