// One reader for the numbers of every input file: the run configuration, the measurement files and the
// parameter files. A number is an optional sign, digits with at most one decimal point (at least one digit),
// and an optional exponent: E, e, D or d, an optional sign and digits. The files differ in a few points,
// which the options name. Conversion is correctly rounded and does not depend on the locale.
#pragma once

#include <cstdint>
#include <string_view>

namespace tubefit {

enum class NumberRead {
  kOk,
  kNotANumber,  // the text is not of the form of a number (of the kind asked for)
  kNotFinite,   // a real beyond the 32-bit float range, or (with nonfinite_words) NaN or Infinity
};

struct NumberOptions {
  // "1.5+3" means 1.5E+3: an exponent may be written with its sign alone (parameter files).
  bool bare_exponent_sign = false;
  // A text with one comma and no decimal point reads the comma as the decimal point: "1,5" is 1.5
  // (configuration file).
  bool decimal_comma = false;
  // The words NaN and Inf or Infinity (any case, with or without a sign) are numbers that are not finite,
  // rather than texts that are not numbers (configuration file).
  bool nonfinite_words = false;
  // A whole number beyond the 32-bit range is held at the end of the range instead of refused
  // (measurement files).
  bool clamp_integers = false;
};

// Reads the whole of text as a real. A value too small for a float reads as 0 (or the nearest subnormal).
// value is set only when the result is kOk.
NumberRead ReadReal(std::string_view text, float& value, const NumberOptions& options = {});

// Reads the whole of text as a whole number: an optional sign and decimal digits. value is set only when
// the result is kOk.
NumberRead ReadInteger(std::string_view text, int32_t& value, const NumberOptions& options = {});

}  // namespace tubefit
