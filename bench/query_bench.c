/* The price query on a large database: talvenplan.cgi, started as a web
 * server starts it, against the plain stdio way (query_baseline), taking
 * turns in the same run. Both answers must be identical to the byte.
 *
 * Usage: query_bench [PRICE_LINES [ROUNDS]]   (1000000 and 5 by default) */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "child.h"

int main(int argc, char** argv) {
  long long lines = argc > 1 ? atoll(argv[1]) : 1000000;
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  const char* base = getenv("TMPDIR");
  char root[2048], database[4096], body[4200], length[64];
  char figure[128], program_text[64], baseline_text[64];
  struct best program = {-1, 0}, baseline = {-1, 0};
  double ratio, per_line = lines > 0 ? 1.0 / (double)lines : 0;

  if (lines < 0 || rounds < 1) {
    fprintf(stderr, "usage: query_bench [PRICE_LINES [ROUNDS]]\n");
    return 2;
  }
  snprintf(root, sizeof root, "%s/query_bench.XXXXXX", base ? base : "/tmp");
  if (mkdtemp(root) == NULL) die("mkdtemp");
  snprintf(database, sizeof database, "%s/prices", root);
  make_price_list(database, lines);

  snprintf(body, sizeof body, "q\n%s\nexport prices\n", root);
  snprintf(length, sizeof length, "CONTENT_LENGTH=%zu", strlen(body));
  int input = memory_file("body");
  if (write(input, body, strlen(body)) != (ssize_t)strlen(body)) die("write");
  char* program_argv[] = {TALVENPLAN_CGI, NULL};
  char* program_env[] = {length, NULL};
  char* baseline_argv[] = {QUERY_BASELINE, database, "export", NULL};
  char* baseline_env[] = {NULL};
  int program_answer = memory_file("program");
  int baseline_answer = memory_file("baseline");

  fprintf(stderr, "  query: %d rounds each\n", rounds);
  for (int round = 0; round < rounds; ++round) {
    empty_file(program_answer);
    empty_file(baseline_answer);
    struct child_run p = run_child(TALVENPLAN_CGI, program_argv, program_env,
                                   input, program_answer);
    struct child_run b = run_child(QUERY_BASELINE, baseline_argv,
                                   baseline_env, -1, baseline_answer);
    if (p.status != 0 || b.status != 0 ||
        !holds(program_answer, "", baseline_answer)) {
      fprintf(stderr, "price query: the answers differ\n");
      return 2;
    }
    keep_best(&program, &p);
    keep_best(&baseline, &b);
  }
  unlink(database);
  rmdir(root);

  /* At least 4 times faster is a cost ratio of at most 0.25. */
  ratio = (double)program.nanoseconds / (double)baseline.nanoseconds;
  snprintf(figure, sizeof figure, "query %lld price lines, vs stdio", lines);
  snprintf(program_text, sizeof program_text, "%.1f ms %.1f ns/line",
           program.nanoseconds / 1e6, program.nanoseconds * per_line);
  snprintf(baseline_text, sizeof baseline_text, "%.1f ms %.1f ns/line",
           baseline.nanoseconds / 1e6, baseline.nanoseconds * per_line);
  print_row(figure, program_text, baseline_text, ratio, "<= 0.25 (4x faster)",
            program.peak_kib, baseline.peak_kib, verdict(ratio, 0.25));
  snprintf(figure, sizeof figure, "query %lld price lines, peak memory",
           lines);
  snprintf(program_text, sizeof program_text, "%ld KiB", program.peak_kib);
  snprintf(baseline_text, sizeof baseline_text, "%ld KiB", baseline.peak_kib);
  print_row(figure, program_text, baseline_text,
            (double)program.peak_kib / (double)baseline.peak_kib,
            "<= 8192 KiB", program.peak_kib, baseline.peak_kib,
            verdict(program.peak_kib / 8192.0, 1.0));
  printf(
      "note\tquery: best of %d rounds of each, taking turns; answers "
      "identical\n",
      rounds);
  return bench_status();
}
