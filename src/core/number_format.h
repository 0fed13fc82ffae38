#pragma once

#include <string>
#include <string_view>

#include "core/fixed_point.h"

namespace pulsaro {

// Number patterns: "0" is a digit always written, "#" a digit written only
// when significant (trailing decimal zeros are dropped, and the separator with
// them when no decimal remains), "." marks where the decimal separator goes,
// every other character is copied as it stands. Without a "0" before the
// point a zero whole part is left out (0.5 with ".0" gives ".5"). The value is
// expanded to 18 significant digits first, then rounded at the last digit
// shown, halves away from zero. No thousands separators. A minus sign, when
// anything non-zero is shown, leads the whole text, literals included. Literal
// text between placeholders is not supported (std::invalid_argument).
// Examples: (0.47, " 00.00") -> " 00.47"; (127.6596, "0.#") -> "127.7";
// (63.8298, "=0") -> "=64"; (127.5, "BPM: 0.0") -> "BPM: 127.5".
std::string formatPattern(long double value, std::string_view pattern,
                          std::string_view decimalSeparator);

// The C library's "%.Nf" with halves away from zero (same decimal expansion
// as formatPattern) and the given decimal separator. decimals >= 0. As with
// printf, a negative value keeps its sign even when it rounds to zero.
std::string formatDecimals(long double value, int decimals, std::string_view decimalSeparator);

// Reads a decimal number written with the given separator: optional blanks
// around it, optional sign, digits with at most one separator (at least one
// digit), optional exponent ("e" or "E", optional sign, digits). No thousands
// separators. Throws std::invalid_argument when the text is not such a number,
// ArithmeticError when it is beyond the long double range; too small reads as 0.
long double parseNumber(std::string_view text, std::string_view decimalSeparator);

// Reads the same texts as parseNumber as fixed point, rounded to four decimals
// ties to even on the written digits (so "0.00005" is a true tie and gives 0).
// Throws std::invalid_argument or ArithmeticError.
Fixed parseFixed(std::string_view text, std::string_view decimalSeparator);

// False for an empty text; otherwise whether parseNumber accepts it.
bool isNumeric(std::string_view text, std::string_view decimalSeparator);

}  // namespace pulsaro
