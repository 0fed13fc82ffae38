#pragma once

// Shared by the Link session's test and its benchmark: the network check,
// the tap clock, and link_peer (a second member of the session in another
// process) driven over a pair of pipes.

#include <fcntl.h>
#include <net/if.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace pulsaro::link_test {

// Whether loopback is the only network interface: Link may only run where
// it cannot reach a real network.
inline bool onlyLoopback() {
    struct if_nameindex* names = if_nameindex();
    bool ok = names != nullptr;
    for (auto* n = names; ok && n->if_index != 0; ++n) {
        ok = std::strcmp(n->if_name, "lo") == 0;
    }
    if_freenameindex(names);
    return ok;
}

// Tap-clock seconds now: steady_clock since its epoch.
inline double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Polls every 2 ms for up to 5 s.
template <class Done>
bool waitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// link_peer on a pair of pipes; it leaves the session when its input ends.
// Throws std::runtime_error when it cannot be started.
class LinkPeer {
public:
    struct View {
        double tempo = 0, beat = 0;
        std::size_t peers = 0;
    };

    explicit LinkPeer(const char* path) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("no pipes for link_peer");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {const_cast<char*>(path), nullptr};
        const int spawned = posix_spawn(&pid_, path, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        to_ = fdopen(in[1], "w");
        from_ = fdopen(out[0], "r");
        if (spawned != 0) {
            throw std::runtime_error(std::string("cannot start ") + path);
        }
    }
    LinkPeer(const LinkPeer&) = delete;
    LinkPeer& operator=(const LinkPeer&) = delete;
    ~LinkPeer() {
        std::fclose(to_);
        std::fclose(from_);
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
        }
    }

    // One command line, one answer line ("" when the peer said nothing).
    std::string ask(const std::string& command) {
        char answer[256] = "";
        std::fprintf(to_, "%s\n", command.c_str());
        std::fflush(to_);
        return std::fgets(answer, sizeof answer, from_) ? answer : "";
    }
    // Tempo, beat at t for the quantum, and peers as the peer sees them;
    // all 0 when it did not answer.
    View state(double t, int quantum = 4) {
        View v;
        char command[64];
        std::snprintf(command, sizeof command, "state %.9f %d", t, quantum);
        std::sscanf(ask(command).c_str(), "%lf %lf %zu", &v.tempo, &v.beat, &v.peers);
        return v;
    }

private:
    pid_t pid_ = 0;
    std::FILE* to_ = nullptr;
    std::FILE* from_ = nullptr;
};

}  // namespace pulsaro::link_test
