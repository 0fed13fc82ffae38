#pragma once

// Helpers shared by the fuzz targets: a scratch folder per process and an
// abort that says which property broke.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace pulsaro::fuzz {

// A property the target checks does not hold: report it and let libFuzzer
// save the input.
[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "\n*** fuzz property broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

#define PULSARO_FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::pulsaro::fuzz::broken(#condition))

// One folder per fuzzer process under $TMPDIR (run.sh points it at a folder
// of its own, on tmpfs when there is one, as the settings store syncs every
// write). libFuzzer may end without running atexit handlers; run.sh removes
// what is left.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        namespace fs = std::filesystem;
        const fs::path base = fs::temp_directory_path();
        std::string pattern = (base / "pulsaro-fuzz-XXXXXX").native();
        if (::mkdtemp(pattern.data()) == nullptr) {
            broken("cannot make a scratch folder");
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return fs::path(pattern);
    }();
    return folder;
}

// Empties the scratch folder and returns a fresh, empty subfolder of it.
inline std::filesystem::path freshFolder(std::string_view name) {
    namespace fs = std::filesystem;
    const fs::path folder = scratchFolder() / std::string(name);
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    if (ec) {
        broken("cannot make a fresh folder");
    }
    return folder;
}

inline void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        broken("cannot write a test file");
    }
}

inline std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        broken("cannot read a test file");
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace pulsaro::fuzz
