#pragma once

#include <string>
#include <string_view>

namespace pulsaro::testing {

// Both regional decimal separators the number texts are checked with.
inline constexpr std::string_view kSeparators[] = {".", ","};

// Expectations are written with "."; no literal text in them contains one.
inline std::string withSeparator(std::string_view text, std::string_view separator) {
    std::string out;
    for (const char c : text) {
        out += c == '.' ? std::string(separator) : std::string(1, c);
    }
    return out;
}

}  // namespace pulsaro::testing
