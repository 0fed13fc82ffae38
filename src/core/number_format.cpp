#include "core/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace pulsaro {

namespace {

constexpr int kSignificantDigits = 18;

// |value| as 18 significant decimal digits; digits[0] weighs 10^exponent.
struct Expansion {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

Expansion expand(long double value) {
    if (!std::isfinite(value)) {
        throw ArithmeticError("Invalid floating point operation");
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*Le", kSignificantDigits - 1, value);
    Expansion e;
    e.negative = std::signbit(value);
    // The locale's decimal point may be any character, so only digits count.
    const char* p = text;
    for (; *p != '\0' && *p != 'e' && *p != 'E'; ++p) {
        if (*p >= '0' && *p <= '9') {
            e.digits.push_back(*p);
        }
    }
    if (*p != '\0') {
        e.exponent = static_cast<int>(std::strtol(p + 1, nullptr, 10));
    }
    return e;
}

void increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

// The expansion times 10^decimals, rounded half away from zero to an integer;
// zero-padded to more than `decimals` digits so a whole part always exists.
std::string scaledDigits(const Expansion& e, int decimals) {
    const long keep = static_cast<long>(e.exponent) + decimals + 1;
    const long available = static_cast<long>(e.digits.size());
    std::string out;
    bool roundUp = false;
    if (keep <= 0) {
        roundUp = keep == 0 && e.digits.front() >= '5';
    } else if (keep >= available) {
        out = e.digits + std::string(static_cast<std::size_t>(keep - available), '0');
    } else {
        out = e.digits.substr(0, static_cast<std::size_t>(keep));
        roundUp = e.digits[static_cast<std::size_t>(keep)] >= '5';
    }
    if (roundUp) {
        increment(out);
    }
    const auto minSize = static_cast<std::size_t>(decimals) + 1;
    if (out.size() < minSize) {
        out.insert(0, minSize - out.size(), '0');
    }
    return out;
}

struct Split {
    std::string whole;     // without leading zeros, empty for zero
    std::string fraction;  // all requested decimals
    bool zero = true;
};

Split roundedParts(const Expansion& e, int decimals) {
    const std::string scaled = scaledDigits(e, decimals);
    const std::size_t point = scaled.size() - static_cast<std::size_t>(decimals);
    Split s;
    s.whole = scaled.substr(0, point);
    s.fraction = scaled.substr(point);
    s.zero = scaled.find_first_not_of('0') == std::string::npos;
    s.whole.erase(0, std::min(s.whole.find_first_not_of('0'), s.whole.size()));
    return s;
}

struct PatternLayout {
    std::string_view prefix;
    std::string_view suffix;
    std::size_t minInteger = 0;
    int minFraction = 0;
    int maxFraction = 0;
};

PatternLayout layoutOf(std::string_view pattern) {
    constexpr std::string_view kPlaceholders = "0#.";
    const std::size_t first = pattern.find_first_of(kPlaceholders);
    if (first == std::string_view::npos) {
        throw std::invalid_argument("Number pattern without placeholders");
    }
    const std::size_t last = pattern.find_last_of(kPlaceholders);
    PatternLayout layout;
    layout.prefix = pattern.substr(0, first);
    layout.suffix = pattern.substr(last + 1);
    bool afterPoint = false;
    for (const char c : pattern.substr(first, last - first + 1)) {
        if (c == '.') {
            if (afterPoint) {
                throw std::invalid_argument("Number pattern with two decimal points");
            }
            afterPoint = true;
        } else if (c != '0' && c != '#') {
            throw std::invalid_argument("Literal text between number placeholders");
        } else if (afterPoint) {
            ++layout.maxFraction;
            if (c == '0') {
                layout.minFraction = layout.maxFraction;
            }
        } else if (c == '0') {
            ++layout.minInteger;
        }
    }
    return layout;
}

std::string joined(std::string_view whole, std::string_view fraction, std::string_view separator) {
    std::string out(whole);
    if (!fraction.empty()) {
        out += separator;
        out += fraction;
    }
    return out;
}

// A number split into its parts as written; nothing is converted yet.
struct Scanned {
    bool negative = false;
    std::string integerDigits;
    std::string fractionDigits;
    long exponent = 0;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<Scanned> scan(std::string_view text, std::string_view separator) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    Scanned s;
    std::size_t i = 0;
    auto takeSign = [&] {
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            return text[i++] == '-';
        }
        return false;
    };
    auto takeDigits = [&](std::string& into) {
        while (i < text.size() && isDigit(text[i])) {
            into.push_back(text[i++]);
        }
    };
    s.negative = takeSign();
    takeDigits(s.integerDigits);
    if (!separator.empty() && text.substr(i).starts_with(separator)) {
        i += separator.size();
        takeDigits(s.fractionDigits);
    }
    if (s.integerDigits.empty() && s.fractionDigits.empty()) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        const bool negativeExponent = takeSign();
        std::string exponentDigits;
        takeDigits(exponentDigits);
        if (exponentDigits.empty()) {
            return std::nullopt;
        }
        // Saturated: far beyond any long double, still safe to do sums with.
        constexpr long kExponentCap = 1'000'000;
        for (const char c : exponentDigits) {
            s.exponent = std::min(kExponentCap, s.exponent * 10 + (c - '0'));
        }
        if (negativeExponent) {
            s.exponent = -s.exponent;
        }
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    return s;
}

Scanned scanOrThrow(std::string_view text, std::string_view separator) {
    std::optional<Scanned> s = scan(text, separator);
    if (!s) {
        throw std::invalid_argument("'" + std::string(text) +
                                    "' is not a valid floating point value");
    }
    return *s;
}

}  // namespace

std::string formatPattern(long double value, std::string_view pattern,
                          std::string_view decimalSeparator) {
    const PatternLayout layout = layoutOf(pattern);
    const Expansion e = expand(value);
    Split parts = roundedParts(e, layout.maxFraction);
    if (parts.whole.size() < layout.minInteger) {
        parts.whole.insert(0, layout.minInteger - parts.whole.size(), '0');
    }
    const auto minFraction = static_cast<std::size_t>(layout.minFraction);
    while (parts.fraction.size() > minFraction && parts.fraction.back() == '0') {
        parts.fraction.pop_back();
    }
    std::string out = e.negative && !parts.zero ? "-" : "";
    out += layout.prefix;
    out += joined(parts.whole, parts.fraction, decimalSeparator);
    out += layout.suffix;
    return out;
}

std::string formatDecimals(long double value, int decimals, std::string_view decimalSeparator) {
    if (decimals < 0) {
        throw std::invalid_argument("Negative number of decimals");
    }
    const Expansion e = expand(value);
    Split parts = roundedParts(e, decimals);
    if (parts.whole.empty()) {
        parts.whole.push_back('0');
    }
    // Like printf, the sign follows the value even when it rounds to zero.
    // Appended, not prepended: GCC 12 warns falsely (-Wrestrict) on
    // assigning or prepending a literal to a std::string.
    std::string out;
    if (e.negative) {
        out.push_back('-');
    }
    out += joined(parts.whole, parts.fraction, decimalSeparator);
    return out;
}

long double parseNumber(std::string_view text, std::string_view decimalSeparator) {
    const Scanned s = scanOrThrow(text, decimalSeparator);
    // Rebuilt in the C form so the conversion ignores the process locale.
    std::string canonical = s.negative ? "-" : "";
    canonical += s.integerDigits.empty() ? "0" : s.integerDigits;
    canonical += '.';
    canonical += s.fractionDigits;
    canonical += 'e';
    canonical += std::to_string(s.exponent);
    long double value = 0.0L;
    const auto [end, error] =
        std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (error == std::errc::result_out_of_range) {
        const std::string digits = s.integerDigits + s.fractionDigits;
        const auto firstSignificant = static_cast<long>(digits.find_first_not_of('0'));
        const long magnitude =
            static_cast<long>(s.integerDigits.size()) + s.exponent - 1 - firstSignificant;
        if (magnitude < 0) {
            return s.negative ? -0.0L : 0.0L;
        }
        throw ArithmeticError("Floating point overflow");
    }
    if (error != std::errc() || end != canonical.data() + canonical.size()) {
        throw std::invalid_argument("'" + std::string(text) +
                                    "' is not a valid floating point value");
    }
    return value;
}

Fixed parseFixed(std::string_view text, std::string_view decimalSeparator) {
    const Scanned s = scanOrThrow(text, decimalSeparator);
    // Rounded on the decimal digits themselves: a detour through binary would
    // move written ties like 0.00005 off the halfway point.
    std::string digits = s.integerDigits + s.fractionDigits;
    long unitsEnd = static_cast<long>(s.integerDigits.size()) + s.exponent + 4;
    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos) {
        return 0;
    }
    digits.erase(0, firstSignificant);
    unitsEnd -= static_cast<long>(firstSignificant);
    if (unitsEnd > 19) {
        throw ArithmeticError("Floating point overflow");
    }
    if (unitsEnd < 0) {
        return 0;
    }
    const auto end = static_cast<std::size_t>(unitsEnd);
    if (digits.size() < end) {
        digits.append(end - digits.size(), '0');
    }
    std::uint64_t magnitude = 0;
    for (std::size_t i = 0; i < end; ++i) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digits[i] - '0');
    }
    if (digits.size() > end) {
        const char next = digits[end];
        const bool beyondHalf = digits.find_first_not_of('0', end + 1) != std::string::npos;
        if (next > '5' || (next == '5' && (beyondHalf || magnitude % 2 != 0))) {
            ++magnitude;
        }
    }
    constexpr std::uint64_t kMaxPositive = std::uint64_t{1} << 63;
    if (magnitude > kMaxPositive - (s.negative ? 0 : 1)) {
        throw ArithmeticError("Floating point overflow");
    }
    if (s.negative) {
        return -static_cast<Fixed>(magnitude - 1) - 1;
    }
    return static_cast<Fixed>(magnitude);
}

bool isNumeric(std::string_view text, std::string_view decimalSeparator) {
    if (text.empty()) {
        return false;
    }
    try {
        parseNumber(text, decimalSeparator);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    } catch (const ArithmeticError&) {
        return false;
    }
}

}  // namespace pulsaro
