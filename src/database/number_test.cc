// The conversions against the C library itself, over hand-picked texts and
// values and a few million generated ones.
#include "database/number.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "vectors.h"

namespace talvenplan {
namespace {

using namespace std::string_literals;

// Counts the differences and keeps the first few for the failure message.
struct Mismatches {
  int count = 0;
  std::string first;
  void Add(const std::string& what) {
    if (count++ < 5) first += what + "\n";
  }
};

void CheckInt(const std::string& text, Mismatches& bad) {
  int expected = std::atoi(text.c_str());
  int got = ParseInt(text);
  if (got != expected) {
    bad.Add(Quote(text, 120) + ": " + std::to_string(got) + " want " +
            std::to_string(expected));
  }
}

void CheckDouble(const std::string& text, Mismatches& bad) {
  double expected = std::strtod(text.c_str(), nullptr);
  double got = ParseDouble(text);
  // Bit for bit: the sign of zero and of NaN, and NaN payloads, count too.
  if (std::bit_cast<std::uint64_t>(got) !=
      std::bit_cast<std::uint64_t>(expected)) {
    char values[128];
    std::snprintf(values, sizeof values, ": %a want %a", got, expected);
    bad.Add(Quote(text, 120) + values);
  }
}

void CheckFixed(double value, Mismatches& bad) {
  char expected[400];
  int size = std::snprintf(expected, sizeof expected, "%f", value);
  char got[kMaxFixedText + 8];
  std::size_t got_size = FormatFixed(value, got);
  if (got_size > kMaxFixedText ||
      std::string(got, got_size) != std::string(expected, size)) {
    char bits[64];
    std::snprintf(bits, sizeof bits, "%a: ", value);
    bad.Add(bits + std::string(got, got_size) + " want " + expected);
  }
}

double RandomBits(std::mt19937_64& random) {
  return std::bit_cast<double>(random());
}

// A finite double whose binary exponent is spread evenly over [low, high].
double RandomScaled(std::mt19937_64& random, int low, int high) {
  std::uniform_int_distribution<int> exponent(low, high);
  double mantissa = 1.0 + static_cast<double>(random() >> 11) * 0x1p-53;
  double value = std::ldexp(mantissa, exponent(random));
  return (random() & 1) ? -value : value;
}

std::string Format(const char* format, int precision, double value) {
  char text[2000];
  std::snprintf(text, sizeof text, format, precision, value);
  return text;
}

TEST(NumberTest, ReadsTheVectorsAsTheyAreWritten) {
  auto vectors = testing::ReadVectors("numbers.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    SCOPED_TRACE(Quote(v[0]));
    EXPECT_EQ(ParseInt(v[0]), std::stoi(v[1]));
    double value = ParseDouble(v[0]);
    if (v[2] == "nan") {
      EXPECT_TRUE(std::isnan(value));
    } else {
      double expected = std::strtod(v[2].c_str(), nullptr);
      EXPECT_EQ(value, expected);
      EXPECT_EQ(std::signbit(value), std::signbit(expected));
    }
  }
}

TEST(ParseIntTest, MatchesAtoi) {
  Mismatches bad;
  for (const std::string& text : {""s,
                                  " "s,
                                  "+"s,
                                  "-"s,
                                  "0"s,
                                  "-0"s,
                                  "42abc"s,
                                  " \t\n\v\f\r12"s,
                                  "+-1"s,
                                  "- 1"s,
                                  "--1"s,
                                  "1 2"s,
                                  "0x10"s,
                                  "1e3"s,
                                  "2147483647"s,
                                  "2147483648"s,
                                  "-2147483648"s,
                                  "-2147483649"s,
                                  "4294967296"s,
                                  "4294967297"s,
                                  "9223372036854775807"s,
                                  "9223372036854775808"s,
                                  "-9223372036854775808"s,
                                  "-9223372036854775809"s,
                                  "18446744073709551617"s,
                                  "99999999999999999999999"s,
                                  "-99999999999999999999999"s,
                                  "000000000000000000000000042"s,
                                  "1\0 2"s,
                                  "\0 2"s,
                                  "\xa0 5"s,
                                  "\x85 5"s,
                                  std::string(5000, '9'),
                                  "-" + std::string(5000, '9')}) {
    CheckInt(text, bad);
  }
  std::mt19937_64 random(1);
  const std::string alphabet = "0123456789 \t\n+-x.\0a"s;
  for (int i = 0; i < 300000; ++i) {
    std::string text;
    if (random() % 2) text.append(random() % 3, " \t\n\v"[random() % 4]);
    if (random() % 2) text += "+-"[random() % 2];
    std::size_t digits = random() % 24;
    for (std::size_t d = 0; d < digits; ++d)
      text += "0123456789"[random() % 10];
    if (random() % 4 == 0) text += alphabet[random() % alphabet.size()];
    CheckInt(text, bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

TEST(ParseDoubleTest, MatchesStrtodOnHandPickedTexts) {
  Mismatches bad;
  std::vector<std::string> texts = {
      // Blanks, signs, what may follow a number, and where a text ends.
      ""s, "   "s, "\n"s, "+"s, "-"s, "."s, "+."s, "-.5"s, "5."s, "+5"s, "-0"s,
      "+-5"s, "-+5"s, "--5"s, " \t\n\v\f\r1.5"s, "\xa0 1"s, "1e"s, "1e+"s,
      "1E-"s, "1e5"s, "1E+05x"s, "1.e5"s, ".e5"s, "e5"s, "1e-5x"s, "12,50"s,
      "10\n "s, "10 \n "s, "1\0 2"s, "\0 2"s, "1.5\0e3"s,
      // Hexadecimal, infinity and NaN.
      "0x"s, "0x1p3"s, "0X1P-2"s, "0x.8"s, "0xg"s, "-0x1p3"s, "0x1.8p"s,
      "0x1p99999"s, "0x1p-99999"s, "00x1p3"s, "inf"s, "-INF"s, "Infinity"s,
      "infinit"s, "+inFINity"s, "in"s, "nan"s, "-nan"s, "NaN(123)"s,
      "nan(0x7)"s, "nan("s, "nan()"s, "nan(abc_1)"s, "nan(a b)"s,
      // The ends of the range, and of exact arithmetic.
      "1e400"s, "-1e400"s, "1e-400"s, "-1e-400"s, "4.9e-324"s,
      "2.4703282292062327e-324"s, "2.4703282292062328e-324"s,
      "2.2250738585072011e-308"s, "2.2250738585072014e-308"s,
      "1.7976931348623157e308"s, "1.7976931348623158e308"s,
      "1.7976931348623159e308"s, "0.1"s, "0.3"s, "9007199254740992"s,
      "9007199254740993"s, "9007199254740993.0001"s, "9007199254740992.0"s,
      "900719925474099.3"s, "0.9007199254740993"s, "9999999999999999999"s,
      "18446744073709551615"s, "18446744073709551617"s,
      "0.0000000000000000000001"s, "0.00000000000000000000001"s,
      "0.000000000000000000000001"s, "123.0000000000000000000001"s,
      "123456789012345678901234567890"s, "1e99999999999999999999"s,
      "1e-99999999999999999999"s, "0e99999999999999999999"s};
  // Long digit strings, up to a whole line piece.
  const std::string max = Format("%.*f", 0, DBL_MAX);
  texts.insert(
      texts.end(),
      {max, max + ".5", "1" + max, "0." + std::string(400, '0') + "1",
       "1" + std::string(5000, '0'), "0." + std::string(5000, '0') + "1e5000",
       std::string(kMaxNumberText, '7'),
       "0." + std::string(kMaxNumberText - 2, '3'),
       "1." + std::string(kMaxNumberText - 4, '0') + "e9"});
  for (const std::string& text : texts) CheckDouble(text, bad);
  EXPECT_EQ(bad.count, 0) << bad.first;
}

TEST(ParseDoubleTest, MatchesStrtodOnPrintedDoubles) {
  Mismatches bad;
  std::mt19937_64 random(2);
  for (int i = 0; i < 400000; ++i) {
    double value = i % 2 ? RandomBits(random) : RandomScaled(random, -40, 60);
    CheckDouble(Format("%.*g", 17, value), bad);
    CheckDouble(Format("%.*e", static_cast<int>(random() % 25), value), bad);
    if (i % 8 == 0) CheckDouble(Format("%.*a", -1, value), bad);
    if (i % 16 == 0) CheckDouble(Format("%.*f", 6, value), bad);
    // Few digits, many decimals: around the limits of exact arithmetic.
    CheckDouble(Format("%.*f", static_cast<int>(random() % 26),
                       RandomScaled(random, -30, 64)),
                bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

// Halfway between two neighbouring doubles is where rounding is hardest: the
// exact halfway text, and texts just below and just above it.
TEST(ParseDoubleTest, MatchesStrtodHalfwayBetweenDoubles) {
  Mismatches bad;
  std::mt19937_64 random(3);
  for (int i = 0; i < 30000; ++i) {
    double low =
        std::fabs(i % 2 ? RandomBits(random) : RandomScaled(random, -60, 80));
    if (!std::isfinite(low) || low == DBL_MAX) continue;
    double high = std::nextafter(low, INFINITY);
    // Both fit a long double's 64-bit mantissa, and so does their midpoint.
    long double middle =
        (static_cast<long double>(low) + static_cast<long double>(high)) / 2;
    char text[1000];
    std::snprintf(text, sizeof text, "%.800Le", middle);
    std::string exact = text;
    std::size_t e = exact.find('e');
    std::string digits = exact.substr(0, e), power = exact.substr(e);
    while (digits.back() == '0') digits.pop_back();
    CheckDouble(digits + power, bad);
    CheckDouble(digits + "000001" + power, bad);
    std::string below = digits;
    std::size_t last = below.size() - 1;
    if (below[last] != '.' && below[last] != '0') {
      --below[last];
      CheckDouble(below + "99999999" + power, bad);
    }
    CheckDouble(digits.substr(0, 19 + random() % 6) + power, bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

TEST(ParseDoubleTest, MatchesStrtodOnGeneratedTexts) {
  Mismatches bad;
  std::mt19937_64 random(4);
  auto pick = [&random](const std::string& from) {
    return from[random() % from.size()];
  };
  const std::string digits = "0123456789";
  const std::string soup = "0123456789..eE+-xXpPabcdefinftyINFTYNn() \t\n,_\0"s;
  for (int i = 0; i < 600000; ++i) {
    std::string text;
    if (i % 2) {  // loose soup of the characters strtod cares about
      std::size_t size = random() % 14;
      for (std::size_t c = 0; c < size; ++c) text += pick(soup);
    } else {  // blanks, sign, mantissa, exponent, whatever follows
      if (random() % 4 == 0) text.append(1 + random() % 2, pick(" \t\n"));
      if (random() % 3 == 0) text += pick("+-");
      if (random() % 8 == 0) text += pick("0.");
      if (random() % 10 == 0) text += "0x";
      std::size_t whole = random() % 4 == 0 ? random() % 40 : random() % 8;
      for (std::size_t c = 0; c < whole; ++c) text += pick(digits);
      if (random() % 2) {
        text += '.';
        std::size_t part = random() % 4 == 0 ? random() % 40 : random() % 8;
        for (std::size_t c = 0; c < part; ++c) text += pick(digits);
      }
      if (random() % 3 == 0) {
        text += pick("eEpP");
        if (random() % 2) text += pick("+-");
        std::size_t power = random() % 5;
        for (std::size_t c = 0; c < power; ++c) text += pick(digits);
      }
      if (random() % 3 == 0) text += pick(soup);
    }
    CheckDouble(text, bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

TEST(FormatFixedTest, MatchesPrintfOnHandPickedValues) {
  Mismatches bad;
  std::vector<double> values = {0.0,
                                -0.0,
                                INFINITY,
                                -INFINITY,
                                NAN,
                                -NAN,
                                std::bit_cast<double>(0x7ff0000000000001u),
                                std::bit_cast<double>(0xfff8000000000123u),
                                DBL_MAX,
                                -DBL_MAX,
                                DBL_MIN,
                                -DBL_MIN,
                                DBL_TRUE_MIN,
                                -DBL_TRUE_MIN,
                                0.5,
                                1.0,
                                10.0,
                                12.5,
                                124.375,
                                89.99999761581421,
                                1e-6,
                                5e-7,
                                -5e-7,
                                4.9999999999999998e-7,
                                0.0078125,
                                0.0234375,
                                -0.0078125,
                                999999.9999995,
                                0.9999995,
                                0x1p43,
                                0x1p53,
                                0x1p63,
                                0x1p64,
                                1e15,
                                1e16,
                                1e22,
                                1e23,
                                1e300};
  for (double base : {5e-7, 0.0078125, 0x1p43, 0x1p53, 0x1p63, 0x1p64, 0.5}) {
    double below = base, above = base;
    for (int step = 0; step < 50; ++step) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, INFINITY);
      values.insert(values.end(), {below, above, -below, -above});
    }
  }
  for (double value : values) CheckFixed(value, bad);
  EXPECT_EQ(bad.count, 0) << bad.first;
}

TEST(FormatFixedTest, MatchesPrintfOnGeneratedValues) {
  Mismatches bad;
  std::mt19937_64 random(5);
  for (int i = 0; i < 100000; ++i) CheckFixed(RandomBits(random), bad);
  for (int i = 0; i < 1000000; ++i) {
    CheckFixed(RandomScaled(random, -30, 70), bad);
  }
  // Odd multiples of 2^-7 have a 5 in the seventh decimal and nothing
  // after: printf rounds them half to even. Around 2^43 to 2^53 the exact
  // way hands over to the general one.
  for (int i = 0; i < 300000; ++i) {
    int scale = static_cast<int>(random() % 60);
    double value = std::ldexp(static_cast<double>(random() >> 11 | 1),
                              -7 - static_cast<int>(random() % 4) - 53 + scale);
    CheckFixed(i % 2 ? -value : value, bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

// The query's own arithmetic: a price read from text times a factor rounded
// to single precision.
TEST(FormatFixedTest, MatchesPrintfOnRepricedPrices) {
  Mismatches bad;
  std::mt19937_64 random(6);
  for (int i = 0; i < 1000000; ++i) {
    std::string price = std::to_string(random() % 100000000) + "." +
                        std::to_string(random() % 100);
    std::string factor =
        std::to_string(random() % 4) + "." + std::to_string(random() % 1000);
    float rounded = static_cast<float>(ParseDouble(factor));
    CheckFixed(ParseDouble(price) * static_cast<double>(rounded), bad);
  }
  EXPECT_EQ(bad.count, 0) << bad.first;
}

}  // namespace
}  // namespace talvenplan
