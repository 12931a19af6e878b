// The number conversions the price query spends its time in, against the C
// library's: reading prices (ParseDouble / strtod) and writing repriced ones
// (FormatFixed / snprintf "%f").
//
// Usage: number_bench [COUNT]   (1000000 texts by default)
// Prints its figures as rows of the table scripts/bench shows.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "database/number.h"

namespace {

double Now() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e9 +
         static_cast<double>(now.tv_nsec);
}

// Best of five passes over the inputs, in nanoseconds per item.
template <typename Pass>
double Time(std::size_t count, Pass pass) {
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    double start = Now();
    pass();
    best = std::min(best, Now() - start);
  }
  return best / static_cast<double>(count);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  if (count == 0) return 2;
  std::vector<std::string> texts;
  std::vector<double> products;
  std::uint64_t state = 0x9e3779b97f4a7c15;
  for (std::size_t i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u\n",
                  static_cast<unsigned>(state % 10000),
                  static_cast<unsigned>(state >> 40) % 100);
    texts.emplace_back(text);
    products.push_back(std::strtod(text, nullptr) * static_cast<double>(1.19f));
  }

  volatile double sink = 0;
  double parse = Time(count, [&] {
    double sum = 0;
    for (const std::string& text : texts) sum += talvenplan::ParseDouble(text);
    sink = sum;
  });
  double strtod = Time(count, [&] {
    double sum = 0;
    for (const std::string& text : texts) {
      sum += std::strtod(text.c_str(), nullptr);
    }
    sink = sum;
  });
  char out[talvenplan::kMaxFixedText + 1];
  double format = Time(count, [&] {
    std::size_t total = 0;
    for (double value : products) total += talvenplan::FormatFixed(value, out);
    sink = static_cast<double>(total);
  });
  double snprintf = Time(count, [&] {
    std::size_t total = 0;
    for (double value : products) {
      total +=
          static_cast<std::size_t>(std::snprintf(out, sizeof out, "%f", value));
    }
    sink = static_cast<double>(total);
  });
  // Rows of the results table (see bench/child.h): figure, this program,
  // the baseline, the cost ratio, the goal, peak memory, the verdict.
  std::printf(
      "row\tread a price, vs strtod\t%.1f ns\t%.1f ns\t%.2f\t-\t-\t-\t-\n",
      parse, strtod, parse / strtod);
  std::printf(
      "row\twrite a price, vs snprintf %%f\t%.1f ns\t%.1f ns\t%.2f\t-\t-\t-"
      "\t-\n",
      format, snprintf, format / snprintf);
  std::printf(
      "note\tnumbers: ParseDouble and FormatFixed, best of 5 passes over %zu "
      "price texts\n",
      count);
  return 0;
}
