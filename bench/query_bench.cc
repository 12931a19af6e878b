// The price query on a large database: talvenplan.cgi, run as a web server
// runs it, against the plain stdio way (query_baseline), in the same run.
// Both answers must be identical to the byte.
//
// Prints its figures as rows of the table scripts/bench shows (see
// bench/child.h). Exits with 2 when the answers differ, with 1 when a goal
// is missed by more than a quarter.
//
// Usage: query_bench [PRICE_LINES [ROUNDS]]   (1000000 and 5 by default)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kFactor[] = "export";

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(2);
}

// A price list of the usual kind: three factors (the one asked for last),
// a short header, `lines` priced lines and two trailing lines.
std::string MakeDatabase(const std::string& path, long lines) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) Die("fopen");
  std::fputs("bench\n3\nretail 1.0\nwholesale\t0.8\nexport 1.19\n", file);
  std::fprintf(file, "Prices\n\"Winter 2026\"\n%ld\n", lines);
  static const char* const kWords[] = {"Chair", "Table",  "Lamp",  "Shelf",
                                       "Desk",  "Drawer", "Stool", "Bench"};
  std::uint64_t state = 0x2545f4914f6cdd1d;
  for (long i = 0; i < lines; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    unsigned cents = static_cast<unsigned>(state % 1000000);
    const char* word = kWords[(state >> 32) % 8];
    switch ((state >> 40) % 4) {
      case 0:  // a whole price
        std::fprintf(file, "%s %ld %u\n", word, i, cents / 100);
        break;
      case 1:  // one decimal, a longer name
        std::fprintf(file, "%s %ld oak, large %u.%u\n", word, i, cents / 100,
                     cents % 10);
        break;
      default:
        std::fprintf(file, "%s %ld %u.%02u\n", word, i, cents / 100,
                     cents % 100);
    }
  }
  std::fputs("Prices without tax\nEnd\n", file);
  if (std::fclose(file) != 0) Die("fclose");
  return path;
}

int MemoryFile(const char* name) {
  int fd = ::memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) Die("memfd_create");
  return fd;
}

struct Figures {
  long long nanoseconds = 0;
  long peak_kib = 0;
  int status = 0;
};

// Runs `argv` through the spawn program with `env` as its whole environment,
// `input` on standard input and `output` (emptied first) as standard output.
Figures Run(const char* spawn, std::vector<std::string> argv,
            const std::vector<std::string>& env, int input, int output) {
  if (::ftruncate(output, 0) != 0 || ::lseek(output, 0, SEEK_SET) != 0 ||
      ::lseek(input, 0, SEEK_SET) != 0) {
    Die("reset");
  }
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) Die("pipe");
  argv.insert(argv.begin(), spawn);
  std::vector<char*> args, envp;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  for (const std::string& entry : env) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    ::dup2(input, 0);
    ::dup2(output, 1);
    ::dup2(report[1], 3);
    ::execve(spawn, args.data(), envp.data());
    ::_exit(127);
  }
  ::close(report[1]);
  char text[128] = {};
  std::size_t got = 0;
  for (long n; (n = ::read(report[0], text + got, sizeof text - 1 - got)) > 0;)
    got += static_cast<std::size_t>(n);
  ::close(report[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Figures figures;
  if (std::sscanf(text, "%lld %ld %d", &figures.nanoseconds, &figures.peak_kib,
                  &figures.status) != 3) {
    std::fprintf(stderr, "%s did not run\n", argv[1].c_str());
    std::exit(2);
  }
  return figures;
}

// Compares two files' contents, a chunk at a time.
bool SameContent(int a, int b) {
  static char chunk_a[1 << 16], chunk_b[1 << 16];
  off_t size_a = ::lseek(a, 0, SEEK_END), size_b = ::lseek(b, 0, SEEK_END);
  if (size_a != size_b) return false;
  for (off_t at = 0; at < size_a; at += sizeof chunk_a) {
    ssize_t n = ::pread(a, chunk_a, sizeof chunk_a, at);
    if (n <= 0 || ::pread(b, chunk_b, sizeof chunk_b, at) != n) return false;
    if (std::memcmp(chunk_a, chunk_b, static_cast<std::size_t>(n)) != 0) {
      return false;
    }
  }
  return true;
}

bool g_far_miss = false;

// As verdict() in bench/child.c: a miss by more than a quarter is far.
const char* Verdict(double ratio, double goal) {
  if (ratio <= goal) return "met";
  if (ratio <= goal * 1.25) return "MISSED";
  g_far_miss = true;
  return "MISSED (far)";
}

}  // namespace

int main(int argc, char** argv) {
  long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  if (lines < 0 || rounds < 1) {
    std::fprintf(stderr, "usage: query_bench [PRICE_LINES [ROUNDS]]\n");
    return 2;
  }

  const char* base = std::getenv("TMPDIR");
  std::string dir = std::string(base ? base : "/tmp") + "/query_bench.XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) Die("mkdtemp");
  std::string database = MakeDatabase(dir + "/prices", lines);

  std::string body = "q\n" + dir + "\n" + kFactor + " prices\n";
  int input = MemoryFile("body");
  if (::write(input, body.data(), body.size()) !=
      static_cast<ssize_t>(body.size())) {
    Die("write");
  }
  int cgi_output = MemoryFile("cgi");
  int baseline_output = MemoryFile("baseline");
  const std::vector<std::string> cgi_env = {"CONTENT_LENGTH=" +
                                            std::to_string(body.size())};

  std::vector<Figures> cgi, baseline;
  bool identical = true;
  for (int round = 0; round < rounds; ++round) {
    cgi.push_back(
        Run(BENCH_SPAWN, {TALVENPLAN_CGI}, cgi_env, input, cgi_output));
    baseline.push_back(Run(BENCH_SPAWN, {QUERY_BASELINE, database, kFactor}, {},
                           input, baseline_output));
    identical = identical && cgi.back().status == 0 &&
                baseline.back().status == 0 &&
                SameContent(cgi_output, baseline_output);
  }
  off_t answer_size = ::lseek(cgi_output, 0, SEEK_END);
  ::unlink(database.c_str());
  ::rmdir(dir.c_str());

  auto best = [](const std::vector<Figures>& runs) {
    return std::min_element(runs.begin(), runs.end(),
                            [](const Figures& a, const Figures& b) {
                              return a.nanoseconds < b.nanoseconds;
                            })
        ->nanoseconds;
  };
  auto peak = [](const std::vector<Figures>& runs) {
    long kib = 0;
    for (const Figures& run : runs) kib = std::max(kib, run.peak_kib);
    return kib;
  };
  long long cgi_ns = best(cgi), baseline_ns = best(baseline);
  long cgi_kib = peak(cgi), baseline_kib = peak(baseline);
  if (!identical) {
    std::fprintf(stderr, "price query: the answers differ\n");
    return 2;
  }
  // Rows of the results table (see bench/child.h): figure, this program,
  // the baseline, the cost ratio, the goal, peak memory, the verdict. At
  // least 4 times faster is a cost ratio of at most 0.25.
  double ratio = static_cast<double>(cgi_ns) / baseline_ns;
  double per_line = lines > 0 ? 1.0 / static_cast<double>(lines) : 0;
  std::printf(
      "row\tquery %ld price lines, vs stdio\t%.1f ms %.1f ns/line\t%.1f ms "
      "%.1f ns/line\t%.2f\t<= 0.25 (4x faster)\t%ld\t%ld\t%s\n",
      lines, cgi_ns / 1e6, cgi_ns * per_line, baseline_ns / 1e6,
      baseline_ns * per_line, ratio, cgi_kib, baseline_kib,
      Verdict(ratio, 0.25));
  std::printf(
      "row\tquery %ld price lines, peak memory\t%ld KiB\t%ld KiB\t%.2f\t"
      "<= 8192 KiB\t%ld\t%ld\t%s\n",
      lines, cgi_kib, baseline_kib, static_cast<double>(cgi_kib) / baseline_kib,
      cgi_kib, baseline_kib, Verdict(cgi_kib / 8192.0, 1.0));
  std::printf(
      "note\tquery: best of %d rounds of each, alternately; answers identical "
      "(%lld bytes)\n",
      rounds, static_cast<long long>(answer_size));
  return g_far_miss ? 1 : 0;
}
