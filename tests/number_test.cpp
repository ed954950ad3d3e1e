// The number reader of the input files, as one table: text, the options that differ between the files,
// and the expected result. Expected values are the decimal numbers written, rounded to float by hand.
#include "text/number.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace tubefit {
namespace {

constexpr NumberOptions kPlain{};
constexpr NumberOptions kConfig{false, true, true, false};
constexpr NumberOptions kPar{true, false, false, false};
constexpr NumberOptions kMeas{false, false, false, true};

struct RealCase {
  const char* text;
  NumberOptions options;
  NumberRead read;
  float value;
};

TEST(ReadReal, Table) {
  const RealCase cases[] = {
      {"1.5", kPlain, NumberRead::kOk, 1.5f},
      {"-.25", kPlain, NumberRead::kOk, -0.25f},
      {"+2.", kPlain, NumberRead::kOk, 2.0f},
      {"1.5e2", kPlain, NumberRead::kOk, 150.0f},
      {"1.5D-1", kPlain, NumberRead::kOk, 0.15f},
      {"2d+3", kPlain, NumberRead::kOk, 2000.0f},
      {"1e-50", kPlain, NumberRead::kOk, 0.0f},
      {"1e-400", kPlain, NumberRead::kOk, 0.0f},
      {"1e39", kPlain, NumberRead::kNotFinite, 0.0f},
      {"1e+0400", kPlain, NumberRead::kNotFinite, 0.0f},
      {"0.00001e43", kPlain, NumberRead::kOk, 1e38f},
      {"-3.5e38", kPlain, NumberRead::kNotFinite, 0.0f},
      {"", kPlain, NumberRead::kNotANumber, 0.0f},
      {".", kPlain, NumberRead::kNotANumber, 0.0f},
      {"1.5e", kPlain, NumberRead::kNotANumber, 0.0f},
      {"1.2.3", kPlain, NumberRead::kNotANumber, 0.0f},
      {"0x10", kPlain, NumberRead::kNotANumber, 0.0f},
      {"1.5+3", kPlain, NumberRead::kNotANumber, 0.0f},
      {"1.5+3", kPar, NumberRead::kOk, 1500.0f},
      {"1.5-1", kPar, NumberRead::kOk, 0.15f},
      {"1,5", kPlain, NumberRead::kNotANumber, 0.0f},
      {"1,5", kConfig, NumberRead::kOk, 1.5f},
      {"-0,125e1", kConfig, NumberRead::kOk, -1.25f},
      {",5", kConfig, NumberRead::kOk, 0.5f},
      {"1,5,3", kConfig, NumberRead::kNotANumber, 0.0f},
      {"1.5,3", kConfig, NumberRead::kNotANumber, 0.0f},
      {"nan", kPlain, NumberRead::kNotANumber, 0.0f},
      {"NaN", kConfig, NumberRead::kNotFinite, 0.0f},
      {"-Infinity", kConfig, NumberRead::kNotFinite, 0.0f},
      {"+inf", kConfig, NumberRead::kNotFinite, 0.0f},
      {"infinite", kConfig, NumberRead::kNotANumber, 0.0f},
  };
  for (const RealCase& c : cases) {
    float value = -7.0f;
    EXPECT_EQ(ReadReal(c.text, value, c.options), c.read) << c.text;
    EXPECT_EQ(value, c.read == NumberRead::kOk ? c.value : -7.0f) << c.text;
  }
}

struct IntCase {
  const char* text;
  NumberOptions options;
  NumberRead read;
  int32_t value;
};

TEST(ReadInteger, Table) {
  const int32_t max = std::numeric_limits<int32_t>::max();
  const int32_t min = std::numeric_limits<int32_t>::min();
  const IntCase cases[] = {
      {"42", kPlain, NumberRead::kOk, 42},
      {"+7", kPlain, NumberRead::kOk, 7},
      {"-2147483648", kPlain, NumberRead::kOk, min},
      {"2147483647", kPlain, NumberRead::kOk, max},
      {"2147483648", kPlain, NumberRead::kNotANumber, 0},
      {"99999999999999999999999", kConfig, NumberRead::kNotANumber, 0},
      {"99999999999999999999999", kMeas, NumberRead::kOk, max},
      {"-2147483649", kMeas, NumberRead::kOk, min},
      {"-", kPlain, NumberRead::kNotANumber, 0},
      {"1.0", kPlain, NumberRead::kNotANumber, 0},
      {"1,5", kConfig, NumberRead::kNotANumber, 0},
      {"1e3", kPlain, NumberRead::kNotANumber, 0},
  };
  for (const IntCase& c : cases) {
    int32_t value = -7;
    EXPECT_EQ(ReadInteger(c.text, value, c.options), c.read) << c.text;
    EXPECT_EQ(value, c.read == NumberRead::kOk ? c.value : -7) << c.text;
  }
}

}  // namespace
}  // namespace tubefit
