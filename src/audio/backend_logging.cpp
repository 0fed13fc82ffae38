#include "audio/backend_logging.h"

#include <cstdio>
#include <mutex>

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

}  // namespace pulsaro
