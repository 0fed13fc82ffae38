#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace pulsaro::media::test {

// A private folder under $TMPDIR (never the user's home), removed afterwards.
class TempDir {
public:
    TempDir() : path_(std::filesystem::temp_directory_path() / "pulsaro-media-XXXXXX") {
        if (::mkdtemp(path_.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }
    std::filesystem::path path() const { return path_; }

private:
    std::string path_;
};

}  // namespace pulsaro::media::test
