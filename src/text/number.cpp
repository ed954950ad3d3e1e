#include "text/number.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace tubefit {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSign(char c) { return c == '+' || c == '-'; }

std::string Lower(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool IsNonFiniteWord(std::string_view text) {
  if (!text.empty() && IsSign(text[0])) text.remove_prefix(1);
  const std::string word = Lower(text);
  return word == "nan" || word == "inf" || word == "infinity";
}

// The power of ten of the leading non-zero digit of a canonical number (digits, point, "e" exponent), so
// that an out-of-range value can be told too large (order above 0) from too small. Exponents beyond the
// int range are held there.
int64_t DecimalOrder(const std::string& canonical) {
  const size_t e = canonical.find('e');
  const std::string mantissa = canonical.substr(0, e);
  int64_t exponent = 0;
  if (e != std::string::npos) {
    size_t i = e + 1;
    const bool negative = i < canonical.size() && canonical[i] == '-';
    if (i < canonical.size() && IsSign(canonical[i])) ++i;
    for (; i < canonical.size(); ++i) {
      exponent = exponent * 10 + (canonical[i] - '0');
      if (exponent > 1000000000) exponent = 1000000000;
    }
    if (negative) exponent = -exponent;
  }
  const size_t point = mantissa.find('.');
  const int64_t int_digits = static_cast<int64_t>(point == std::string::npos ? mantissa.size() : point);
  int64_t position = 0;  // digits before the first non-zero one, the point not counted
  for (char c : mantissa) {
    if (c == '.') continue;
    if (c != '0') break;
    ++position;
  }
  return exponent + int_digits - position - 1;
}

}  // namespace

NumberRead ReadReal(std::string_view text, float& value, const NumberOptions& options) {
  if (options.nonfinite_words && IsNonFiniteWord(text)) return NumberRead::kNotFinite;
  std::string comma_text;
  if (options.decimal_comma && text.find('.') == std::string_view::npos) {
    const size_t comma = text.find(',');
    if (comma != std::string_view::npos && text.find(',', comma + 1) == std::string_view::npos) {
      comma_text = std::string(text);
      comma_text[comma] = '.';
      text = comma_text;
    }
  }

  // The canonical form for the conversion: no sign, a digit before the point, "e" for the exponent.
  size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && IsSign(text[i])) ++i;
  std::string canonical;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) canonical += text[i++], ++digits;
  if (i < text.size() && text[i] == '.') {
    if (digits == 0) canonical += '0';
    canonical += text[i++];
    while (i < text.size() && IsDigit(text[i])) canonical += text[i++], ++digits;
  }
  if (digits == 0) return NumberRead::kNotANumber;
  if (i < text.size()) {
    const char c = text[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
    } else if (!(options.bare_exponent_sign && IsSign(c))) {
      return NumberRead::kNotANumber;
    }
    canonical += 'e';
    if (i < text.size() && IsSign(text[i])) canonical += text[i++];
    size_t exponent_digits = 0;
    while (i < text.size() && IsDigit(text[i])) canonical += text[i++], ++exponent_digits;
    if (exponent_digits == 0 || i != text.size()) return NumberRead::kNotANumber;
  }

  const char* first = canonical.data();
  const char* last = first + canonical.size();
  float v = 0.0f;
  const std::from_chars_result r = std::from_chars(first, last, v);
  // The canonical form always converts; it can only fall outside the float range, above it or below it.
  if (r.ec == std::errc::result_out_of_range) {
    if (DecimalOrder(canonical) > 0) return NumberRead::kNotFinite;
    // Below the float range: the nearest subnormal or zero, through a double (0 when even that underflows).
    double d = 0.0;
    std::from_chars(first, last, d);
    v = static_cast<float>(d);
  }
  if (!std::isfinite(v)) return NumberRead::kNotFinite;
  value = negative ? -v : v;
  return NumberRead::kOk;
}

NumberRead ReadInteger(std::string_view text, int32_t& value, const NumberOptions& options) {
  size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && IsSign(text[i])) ++i;
  if (i == text.size()) return NumberRead::kNotANumber;
  // The magnitude, held at one past the largest int32_t so that a long run of digits cannot overflow.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return NumberRead::kNotANumber;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit + 1;
  }
  const int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > std::numeric_limits<int32_t>::max() || signed_value < std::numeric_limits<int32_t>::min()) {
    if (!options.clamp_integers) return NumberRead::kNotANumber;
    value = negative ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
    return NumberRead::kOk;
  }
  value = static_cast<int32_t>(signed_value);
  return NumberRead::kOk;
}

}  // namespace tubefit
