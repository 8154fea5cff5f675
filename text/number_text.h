// Numbers to and from UTF-16 text, independent of any locale.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>

// Reads the number at the start of `text`: optional leading white space,
// sign, digits with at most one '.', optional exponent. Whatever follows the
// number is ignored; text without a number gives 0.0. The whole text
// "+Infinity", "-Infinity" or "NaN", in any letter case, gives that value.
// The text ends at its first zero code unit, if it has one.
double ParseDouble(std::u16string_view text);

// Appends `value` with `decimals` digits after the point (clamped to
// 0..512; -1 means up to 10, trailing zeros removed) to `out`. Infinities
// and NaN come out as "+Infinity", "-Infinity" and "NaN"; a zero never shows
// a minus sign. FormatFloat prints the float widened to double.
void FormatDouble(double value, std::int32_t decimals, std::pmr::u16string& out);
void FormatFloat(float value, std::int32_t decimals, std::pmr::u16string& out);

// Rounds a double to the nearest float, defined for every double: values
// beyond the float range become infinities, NaN stays NaN.
float NarrowToFloat(double value);
