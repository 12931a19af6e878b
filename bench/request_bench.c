/* The cost of small requests: talvenplan.cgi against cgi_baseline, the same
 * work done the plain C way, each started as a web server starts a CGI
 * program (fork, exec with the CGI environment, the body on standard input,
 * the answer through a pipe, wait), alternately, in the same run. Both
 * answers must be identical to the byte on every run.
 *
 * For each request it prints the median time of a request and each
 * program's peak resident memory and, when valgrind is given, the
 * instructions each program executes (callgrind's count of user-mode
 * instructions, which does not drift with the machine's load).
 *
 * Then the same for a wholesaler's catalogue of 100,000 price lines (3.6 MB,
 * the list the browser benchmark opens): a put of all of it over itself and
 * the price query on it, with a twentieth of the runs.
 *
 * Usage: request_bench [RUNS [VALGRIND [PROGRAM]]]
 *   1000 runs; VALGRIND "-": no instruction counts; PROGRAM: another build of
 *   talvenplan.cgi to measure (the one built with this benchmark by
 *   default). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgi_env.h"
#include "child.h"

/* The catalogue: as many price lines, and factors, as web_bench.mjs's. */
enum { kCatalogueLines = 100000, kCatalogueFactors = 50 };

static const char kOfferName[] = ".Bench1";

struct request_case {
  const char* label;    /* names the figures */
  const char* body;     /* a command request's body; NULL for a link */
  const char* baseline; /* the program to measure against */
  int instruction_goal; /* the instructions are counted, against a goal */
  int time_goal;        /* the time has a goal */
  int body_file;        /* a body too big for `body`, in a memory file; or -1 */
};

/* Letter pairs: 'a' plus the low four bits, 'a' plus the high four bits. */
static void encode(const char* text, char* out) {
  for (; *text != '\0'; ++text) {
    unsigned char c = (unsigned char)*text;
    *out++ = (char)('a' + (c & 15));
    *out++ = (char)('a' + (c >> 4));
  }
  *out++ = 'z';
  *out = '\0';
}

/* Writes `text` at the end of a memory file. */
static void write_file_fd(int file, const char* text) {
  size_t size = strlen(text);
  if (write(file, text, size) != (ssize_t)size) die("write");
}

static char offer_path[4096];
/* The measured programs: copies in the benchmark's directory. */
static char g_program[4096], g_baseline[4096], g_header[4096];

static void stage_offer(int link) {
  if (link) write_file(offer_path, kOffer, strlen(kOffer));
}

/* An offer that was shown must be gone. */
static int offer_left(int link) {
  return link && access(offer_path, F_OK) == 0;
}

/* What every run of a request must answer: the first run's answer, kept in
 * a memory file (the answers of big requests do not fit in memory here:
 * this process stays small, see child.h). */
struct expected {
  int file;
  int known; /* the first answer is in `file` */
};

static void copy_all(int from, int to) {
  static char chunk[64 * 1024];
  ssize_t got;
  if (lseek(from, 0, SEEK_SET) != 0) die("lseek");
  while ((got = read(from, chunk, sizeof chunk)) > 0) {
    if (write(to, chunk, (size_t)got) != got) die("write");
  }
  if (got < 0) die("read");
}

/* The first bytes of a file, for a message. */
static const char* head_of(int file, char* text, size_t room) {
  ssize_t got = pread(file, text, room - 1, 0);
  text[got > 0 ? got : 0] = '\0';
  return text;
}

/* One run of `path`; its answer must be the expected one (or, when that is
 * not known yet, becomes it). */
static struct child_run run_checked(const char* path, char* const envp[],
                                    int input, int link, int answer,
                                    struct expected* expected) {
  char* argv[] = {(char*)path, NULL};
  struct child_run run;
  stage_offer(link);
  empty_file(answer);
  run = run_child(path, argv, envp, input, answer);
  if (!expected->known) {
    empty_file(expected->file);
    copy_all(answer, expected->file);
    expected->known = 1;
  }
  if (run.status != 0 || !holds(answer, "", expected->file) ||
      offer_left(link)) {
    char got[2048], want[2048];
    fprintf(stderr,
            "%s: exit status %d%s; answer:\n%s\n--- expected:\n%s\n---\n", path,
            run.status, offer_left(link) ? ", offer left" : "",
            head_of(answer, got, sizeof got),
            head_of(expected->file, want, sizeof want));
    exit(2);
  }
  return run;
}

/* User-mode instructions of one run under callgrind. */
static long long count_instructions(const char* valgrind, const char* path,
                                    char* const envp[], int input, int link,
                                    const char* directory) {
  char out_option[4400], out_file[4200], line[256];
  char* argv[] = {(char*)valgrind, "--tool=callgrind", out_option, (char*)path,
                  NULL};
  long long total = -1;
  struct child_run run;
  FILE* file;
  snprintf(out_file, sizeof out_file, "%s/callgrind.out", directory);
  snprintf(out_option, sizeof out_option, "--callgrind-out-file=%s", out_file);
  stage_offer(link);
  run = run_child(valgrind, argv, envp, input, -1);
  file = fopen(out_file, "r");
  if (run.status != 0 || file == NULL) {
    fprintf(stderr, "callgrind of %s failed (exit status %d)\n", path,
            run.status);
    exit(2);
  }
  while (fgets(line, sizeof line, file) != NULL) {
    if (strncmp(line, "totals:", 7) == 0) total = atoll(line + 7);
  }
  fclose(file);
  unlink(out_file);
  if (total < 0) die("callgrind: no totals");
  return total;
}

static void time_case(const struct request_case* request, int runs, int warm_up,
                      const char* valgrind, const char* root) {
  struct expected expected = {memory_file("expected"), 0};
  struct environment env;
  char query[4096], encoded_name[64], encoded_directory[2400];
  char figure[256], program_text[64], baseline_text[64];
  int link = request->body == NULL && request->body_file < 0;
  int input =
      request->body_file >= 0 ? request->body_file : memory_file("body");
  int answer = memory_file("answer");
  long long* program_ns = malloc(sizeof(long long) * (size_t)runs);
  long long* baseline_ns = malloc(sizeof(long long) * (size_t)runs);
  long program_kib = 0, baseline_kib = 0;
  long long program_median, baseline_median;
  double ratio;

  if (program_ns == NULL || baseline_ns == NULL) die("malloc");
  if (link) {
    char directory[1100];
    snprintf(directory, sizeof directory, "%s/offers", root);
    snprintf(offer_path, sizeof offer_path, "%s/%s", directory, kOfferName);
    encode(kOfferName, encoded_name);
    encode(directory, encoded_directory);
    snprintf(query, sizeof query, "TALVENPLAN_FILE=%s%s", encoded_name,
             encoded_directory);
    make_env(&env, NULL, query, root);
  } else if (request->body_file >= 0) {
    make_post_env(&env, (size_t)lseek(input, 0, SEEK_END), root);
  } else {
    if (write(input, request->body, strlen(request->body)) !=
        (ssize_t)strlen(request->body)) {
      die("write");
    }
    make_env(&env, request->body, NULL, root);
  }
  fprintf(stderr, "  %s: %d runs each\n", request->label, runs);

  /* A few runs first, so that both programs start from a warm cache. */
  for (int run = 0; run < warm_up; ++run) {
    run_checked(g_program, env.entries, input, link, answer, &expected);
    run_checked(request->baseline, env.entries, input, link, answer, &expected);
  }
  for (int run = 0; run < runs; ++run) {
    struct child_run program =
        run_checked(g_program, env.entries, input, link, answer, &expected);
    struct child_run baseline = run_checked(request->baseline, env.entries,
                                            input, link, answer, &expected);
    program_ns[run] = program.nanoseconds;
    baseline_ns[run] = baseline.nanoseconds;
    if (program.peak_kib > program_kib) program_kib = program.peak_kib;
    if (baseline.peak_kib > baseline_kib) baseline_kib = baseline.peak_kib;
  }
  program_median = median(program_ns, (size_t)runs);
  baseline_median = median(baseline_ns, (size_t)runs);
  ratio = (double)program_median / (double)baseline_median;
  snprintf(figure, sizeof figure, "%s, time", request->label);
  if (program_median < 5000000 && baseline_median < 5000000) {
    snprintf(program_text, sizeof program_text, "%.1f us",
             program_median / 1e3);
    snprintf(baseline_text, sizeof baseline_text, "%.1f us",
             baseline_median / 1e3);
  } else {
    snprintf(program_text, sizeof program_text, "%.2f ms",
             program_median / 1e6);
    snprintf(baseline_text, sizeof baseline_text, "%.2f ms",
             baseline_median / 1e6);
  }
  print_row(figure, program_text, baseline_text, ratio,
            request->time_goal ? "<= 1.10" : "-", program_kib, baseline_kib,
            request->time_goal ? verdict(ratio, 1.10) : "-");

  snprintf(figure, sizeof figure, "%s, instructions", request->label);
  if (request->instruction_goal && valgrind != NULL) {
    long long program_count =
        count_instructions(valgrind, g_program, env.entries, input, link, root);
    long long baseline_count = count_instructions(
        valgrind, request->baseline, env.entries, input, link, root);
    ratio = (double)program_count / (double)baseline_count;
    snprintf(program_text, sizeof program_text, "%lld", program_count);
    snprintf(baseline_text, sizeof baseline_text, "%lld", baseline_count);
    print_row(figure, program_text, baseline_text, ratio, "<= 1.50", -1, -1,
              verdict(ratio, 1.50));
  } else if (request->instruction_goal) {
    print_row(figure, "-", "-", -1, "<= 1.50", -1, -1,
              "NOT MEASURED (no valgrind)");
  }
  free(program_ns);
  free(baseline_ns);
  if (request->body_file < 0) close(input);
  close(answer);
  close(expected.file);
}

int main(int argc, char** argv) {
  int runs = argc > 1 ? atoi(argv[1]) : 1000;
  const char* valgrind = argc > 2 && strcmp(argv[2], "-") != 0 ? argv[2] : NULL;
  const char* base = getenv("TMPDIR");
  char root[1024], path[4096], body[5][4096];
  static const char* const kNames[] = {"prices", "DEMO_prices", "winter",
                                       "summer"};
  struct expected expected = {memory_file("expected"), 1};
  struct environment env;
  int input, answer;

  if (runs < 1) {
    fprintf(stderr, "usage: request_bench [RUNS [VALGRIND [PROGRAM]]]\n");
    return 2;
  }
  snprintf(root, sizeof root, "%s/request_bench.XXXXXX", base ? base : "/tmp");
  if (mkdtemp(root) == NULL) die("mkdtemp");
  snprintf(path, sizeof path, "%s/bin", root);
  if (mkdir(path, 0755) != 0) die("mkdir");
  copy_program(argc > 3 ? argv[3] : TALVENPLAN_CGI, path, g_program,
               sizeof g_program);
  copy_program(CGI_BASELINE, path, g_baseline, sizeof g_baseline);
  copy_program(HEADER_CGI, path, g_header, sizeof g_header);

  /* A shop directory of five databases, one of them new, made by the
   * program itself; and a directory for offers. */
  snprintf(path, sizeof path, "%s/shop", root);
  if (mkdir(path, 0755) != 0) die("mkdir");
  for (size_t i = 0; i < sizeof kNames / sizeof *kNames; ++i) {
    snprintf(path, sizeof path, "%s/shop/%s", root, kNames[i]);
    write_file(path, kDatabase, strlen(kDatabase));
  }
  snprintf(path, sizeof path, "%s/offers", root);
  if (mkdir(path, 0755) != 0) die("mkdir");
  snprintf(body[0], sizeof body[0], "c\n%s/shop\nk3y new\n", root);
  input = memory_file("create");
  answer = memory_file("answer");
  if (write(input, body[0], strlen(body[0])) != (ssize_t)strlen(body[0])) {
    die("write");
  }
  make_env(&env, body[0], NULL, root);
  write_file_fd(expected.file, "Content-type: text/html\n\ns");
  run_checked(g_program, env.entries, input, 0, answer, &expected);
  close(input);
  close(answer);
  close(expected.file);

  snprintf(body[0], sizeof body[0], "l\n%s/shop\n", root);
  snprintf(body[1], sizeof body[1], "g\n%s/shop\nk3y new\n", root);
  snprintf(body[2], sizeof body[2], "q\n%s/shop\nwholesale prices\n", root);
  snprintf(body[3], sizeof body[3], "x\n%s/shop\n", root);
  const struct request_case cases[] = {
      {"list (5 databases)", body[0], g_baseline, 1, 1, -1},
      {"get (a new database)", body[1], g_baseline, 1, 1, -1},
      {"query (10 prices)", body[2], g_baseline, 0, 1, -1},
      {"offer page", NULL, g_baseline, 0, 1, -1},
      {"header only (unknown letter)", body[3], g_header, 0, 0, -1},
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    time_case(&cases[i], runs, 20, valgrind, root);
  }

  /* The catalogue: put over itself (the same bytes every run), and the
   * price query on it under its last factor. */
  snprintf(path, sizeof path, "%s/shop/catalogue", root);
  long long size = make_shop_list(path, kCatalogueLines, kCatalogueFactors);
  int list = open(path, O_RDONLY | O_CLOEXEC);
  int put = memory_file("put");
  if (list < 0) die(path);
  snprintf(body[4], sizeof body[4], "p\n%s/shop\nk1 catalogue\n", root);
  write_file_fd(put, body[4]);
  copy_all(list, put);
  snprintf(body[4], sizeof body[4], "q\n%s/shop\nf%d catalogue\n", root,
           kCatalogueFactors);
  char put_label[128], query_label[128];
  snprintf(put_label, sizeof put_label, "put (a catalogue of %.1f MB)",
           size / 1048576.0);
  snprintf(query_label, sizeof query_label, "query (a catalogue of %.1f MB)",
           size / 1048576.0);
  const struct request_case big[] = {
      {put_label, NULL, g_baseline, 0, 1, put},
      {query_label, body[4], g_baseline, 0, 1, -1},
  };
  int big_runs = runs / 20 > 5 ? runs / 20 : 5;
  for (size_t i = 0; i < sizeof big / sizeof *big; ++i) {
    time_case(&big[i], big_runs, 3, NULL, root);
  }
  /* Every put wrote the list's own bytes back. */
  int stored = open(path, O_RDONLY | O_CLOEXEC);
  if (stored < 0 || !holds(stored, "", list)) {
    fprintf(stderr, "put: the catalogue does not hold the bytes put\n");
    return 2;
  }
  close(stored);
  close(list);
  close(put);
  unlink(path);

  printf(
      "note\tsmall requests: median time of %d runs of each program, "
      "alternately, from fork to exit;\n"
      "note\t  baseline bench/cgi_baseline.c (same answer bytes), for "
      "\"header only\" bench/header_cgi.c;\n"
      "note\t  the catalogue: bench/web_list.mjs's list of %d price lines, "
      "%d runs of each\n",
      runs, kCatalogueLines, big_runs);

  for (size_t i = 0; i < sizeof kNames / sizeof *kNames; ++i) {
    snprintf(path, sizeof path, "%s/shop/%s", root, kNames[i]);
    unlink(path);
  }
  snprintf(path, sizeof path, "%s/shop/new", root);
  unlink(path);
  snprintf(path, sizeof path, "%s/shop", root);
  rmdir(path);
  snprintf(path, sizeof path, "%s/offers", root);
  rmdir(path);
  unlink(g_program);
  unlink(g_baseline);
  unlink(g_header);
  snprintf(path, sizeof path, "%s/bin", root);
  rmdir(path);
  rmdir(root);
  return bench_status();
}
