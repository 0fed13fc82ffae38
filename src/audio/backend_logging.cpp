#include "audio/backend_logging.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <string>

#if defined(__linux__)
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <initializer_list>
#endif

#if defined(__unix__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pulsaro {

#if defined(__linux__)

extern "C" {
static void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
static void ignoreJackMessage(const char*) {}
}

void silenceBackendLogging() {
    // PortAudio's ALSA host API always links libasound, so linking it here
    // adds no dependency and the handler lands in the one copy PortAudio uses.
    snd_lib_error_set_handler(&ignoreAlsaMessage);

    // JACK support is optional in PortAudio builds. Where it is built in,
    // libjack is loaded with PortAudio at start-up and RTLD_NOLOAD finds that
    // copy; where it is not, JACK prints nothing and is not loaded for this.
    void* jack = dlopen("libjack.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (jack == nullptr) {
        return;
    }
    using SetMessageFunction = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* symbol = dlsym(jack, name)) {
            reinterpret_cast<SetMessageFunction>(symbol)(&ignoreJackMessage);
        }
    }
    // The handle only adds a reference to a library that stays loaded anyway.
    dlclose(jack);
}

#else

void silenceBackendLogging() {}

#endif

namespace {
std::mutex quietMutex;
int quietDepth = 0;
int savedStandardError = -1;
}  // namespace

QuietStandardError::QuietStandardError() {
#if defined(__unix__)
    const std::lock_guard lock(quietMutex);
    if (quietDepth++ > 0) {
        return;
    }
    std::fflush(stderr);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    savedStandardError = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (nowhere != -1 && savedStandardError != -1) {
        ::dup2(nowhere, STDERR_FILENO);
    }
    if (nowhere != -1) {
        ::close(nowhere);
    }
#endif
}

QuietStandardError::~QuietStandardError() {
#if defined(__unix__)
    const std::lock_guard lock(quietMutex);
    if (--quietDepth > 0) {
        return;
    }
    std::fflush(stderr);
    if (savedStandardError != -1) {
        ::dup2(savedStandardError, STDERR_FILENO);
        ::close(savedStandardError);
        savedStandardError = -1;
    }
#endif
}

bool isLibraryLine(std::string_view line) {
    // PortAudio's failed checks, ALSA's library, JACK's client library.
    static constexpr std::array<std::string_view, 5> kPrefixes{
        "Expression '", "ALSA lib ", "Cannot connect to server", "jack server is not running",
        "JackShmReadWritePtr"};
    for (const std::string_view prefix : kPrefixes) {
        if (line.substr(0, prefix.size()) == prefix) {
            return true;
        }
    }
    return false;
}

#if defined(__GLIBC__)

namespace {

// The stream's only writer; stdio holds the stream's lock while it calls.
ssize_t writeFiltered(void*, const char* data, std::size_t size) {
    static std::string pending;
    pending.append(data, size);
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
        if (!isLibraryLine(std::string_view(pending).substr(start, end - start))) {
            for (std::size_t at = start; at <= end;) {
                const ssize_t written = ::write(STDERR_FILENO, pending.data() + at, end + 1 - at);
                if (written <= 0) {
                    break;
                }
                at += static_cast<std::size_t>(written);
            }
        }
    }
    pending.erase(0, start);
    return static_cast<ssize_t>(size);
}

}  // namespace

void filterLibraryLines() {
    static std::once_flag once;
    std::call_once(once, [] {
        const cookie_io_functions_t functions{nullptr, &writeFiltered, nullptr, nullptr};
        FILE* filtered = fopencookie(nullptr, "w", functions);
        if (filtered == nullptr) {
            return;
        }
        // Unbuffered, as stderr is: a line goes out as soon as it is whole.
        std::setvbuf(filtered, nullptr, _IONBF, 0);
        std::fflush(stderr);
        stderr = filtered;
    });
}

#else

void filterLibraryLines() {}

#endif

}  // namespace pulsaro
