// The number writers must give the same characters as printf for the same
// conversion: the mesh file's bytes depend on it.
#include "number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string printf_text(const char* format, int width, int precision, double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, width, precision, value);
  return buffer;
}

std::string scientific(double value, int width, int precision) {
  std::string text;
  mgn_append_scientific(text, value, width, precision);
  return text;
}

std::string fixed(double value, int width, int precision) {
  std::string text;
  mgn_append_fixed(text, value, width, precision);
  return text;
}

std::string general(double value, int precision) {
  std::string text;
  mgn_append_general(text, value, precision);
  return text;
}

// Values where a formatter goes wrong: signed zero, the ends of the range,
// subnormals, carries into a new leading digit or exponent, exact binary
// ties, negative values that round to zero, and three-digit exponents.
const std::vector<double> special_values = {
    0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 0.125, 2.5, 3.5, 1e-7, -1e-7, 4e-7, 5e-7, -5e-7, 6e-7,
    9.99999995, 9.9999999, 99999999.5, 999999.9999995, 0.9999995, -0.9999995, 0.00000049999,
    -0.0000004, 1.23456785e10, 1.00000005, 123456789012345678.0, 1e22, 1e23, 1e-5, 1e100,
    -1e-100, 1e300, 1e-300, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN,
    5e-324 * 3.0, 2.2250738585072009e-308, 0.1, 0.2, 0.3, 1.0 / 3.0, -2.0 / 3.0, M_PI, -M_E,
    std::ldexp(1.0, 52) + 0.5, std::ldexp(1.0, 53), std::ldexp(1.0, -1074)};

// The conversions of the mesh file (%14.7e coordinates, %9.6f node data),
// of the graphics files (%g, %.9g) and a few others of the same kinds.
struct conversion {
  char kind;  // e, f or g (g without a width)
  int width, precision;
};
const std::vector<conversion> conversions = {
    {'e', 14, 7}, {'e', 0, 7}, {'e', 12, 5}, {'e', 20, 15}, {'e', 1, 0},  {'e', 30, 16},
    {'f', 9, 6},  {'f', 0, 6}, {'f', 12, 3}, {'f', 1, 0},   {'f', 25, 10}, {'g', 0, 6},
    {'g', 0, 9},  {'g', 0, 1}, {'g', 0, 0},  {'g', 0, 17}};

void expect_as_printf(double value) {
  for (const conversion& c : conversions) {
    const char* format = c.kind == 'e' ? "%*.*e" : c.kind == 'f' ? "%*.*f" : "%*.*g";
    const std::string got = c.kind == 'e'   ? scientific(value, c.width, c.precision)
                            : c.kind == 'f' ? fixed(value, c.width, c.precision)
                                            : general(value, c.precision);
    // printf's fixed text of the largest values is long; compare in full.
    ASSERT_EQ(got, printf_text(format, c.width, c.precision, value))
        << "value " << std::hexfloat << value << " conversion " << c.kind << c.width << '.' << c.precision;
  }
}

TEST(NumberTextTest, SpecialValuesAsPrintf) {
  for (double value : special_values) expect_as_printf(value);
}

TEST(NumberTextTest, NotFiniteValuesAsPrintf) {
  for (double value : {HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan("")}) expect_as_printf(value);
}

// Random bit patterns cover every exponent; uniform values in the ranges of
// mesh coordinates and of unit normals and parameters cover the digits that
// matter most, near rounding boundaries included (values built as
// n.5 ulps of the printed precision).
TEST(NumberTextTest, RandomValuesAsPrintf) {
  std::mt19937_64 random(20261211);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    expect_as_printf(value);
  }
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int i = 0; i < 40000; ++i) {
    expect_as_printf(unit(random));
    expect_as_printf(std::ldexp(unit(random), 3 * exponent(random)));
  }
  std::uniform_int_distribution<long> digits(0, 99999999);
  for (int i = 0; i < 20000; ++i) {
    // Halfway between two values printed with 8 significant digits, and
    // with 6 decimals.
    const double half_e = (static_cast<double>(digits(random)) + 0.5) * std::pow(10.0, exponent(random) - 7);
    const double half_f = (static_cast<double>(digits(random) % 10000000) + 0.5) * 1e-6;
    expect_as_printf(half_e);
    expect_as_printf(-half_e);
    expect_as_printf(half_f);
    expect_as_printf(-half_f);
  }
}

TEST(NumberTextTest, IntegersAsPrintf) {
  const std::vector<long> values = {0, 1, -1, 9, 10, 99, -100, 123456789, 1234567890, -123456789, LONG_MAX, LONG_MIN};
  for (long value : values)
    for (int width : {0, 1, 4, 9, 12, 25}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%*ld", width, value);
      std::string got;
      mgn_append_integer(got, value, width);
      EXPECT_EQ(got, expected) << value << " width " << width;
    }
}

TEST(NumberTextTest, AppendsAfterExistingText) {
  std::string text = "line:";
  mgn_append_integer(text, 42, 5);
  mgn_append_scientific(text, -0.0, 14, 7);
  mgn_append_fixed(text, 0.25, 9, 6);
  mgn_append_general(text, 1e-5, 6);
  mgn_append_format(text, " %s %ld|", "count", 7L);
  // A formatted piece longer than any line buffer.
  const std::string long_word(1000, 'x');
  mgn_append_format(text, "%s", long_word.c_str());
  EXPECT_EQ(text, "line:   42-0.0000000e+00 0.2500001e-05 count 7|" + long_word);
}

}  // namespace
