/* Get of a large database: talvenplan.cgi, started as a web server starts
 * it, copying a database into a pipe that is drained, against `cat` of the
 * same file into a drained pipe, alternately, in the same run. One round
 * first checks the answer byte for byte: the header, "s", then the file as
 * stored (its key line is the key, so "s" and the file are the whole
 * answer).
 *
 * Usage: get_bench CAT [MEGABYTES [ROUNDS]]   (100 MB and 7 rounds) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "child.h"

static const char kHeader[] = "Content-type: text/html\n\ns";

int main(int argc, char** argv) {
  const char* cat = argc > 1 ? argv[1] : NULL;
  long long megabytes = argc > 2 ? atoll(argv[2]) : 100;
  int rounds = argc > 3 ? atoi(argv[3]) : 7;
  const char* base = getenv("TMPDIR");
  char root[2048], database[4096], body[4096], length[64];
  char figure[128], program_text[64], baseline_text[64];
  struct best best_program = {-1, 0}, best_cat = {-1, 0};
  long long size;
  int input, answer, file;
  double ratio;

  if (cat == NULL || megabytes < 1 || rounds < 1) {
    fprintf(stderr, "usage: get_bench CAT [MEGABYTES [ROUNDS]]\n");
    return 2;
  }
  snprintf(root, sizeof root, "%s/get_bench.XXXXXX", base ? base : "/tmp");
  if (mkdtemp(root) == NULL) die("mkdtemp");
  snprintf(database, sizeof database, "%s/big", root);
  fprintf(stderr, "  get: writing a %lld MB database\n", megabytes);
  size = make_price_list(database, megabytes * 1000 * 1000 / 24);
  file = open(database, O_RDONLY | O_CLOEXEC);
  if (file < 0) die(database);

  snprintf(body, sizeof body, "g\n%s\nk3y big\n", root);
  snprintf(length, sizeof length, "CONTENT_LENGTH=%zu", strlen(body));
  input = memory_file("body");
  if (write(input, body, strlen(body)) != (ssize_t)strlen(body)) die("write");
  char* program_env[] = {length, "REQUEST_METHOD=POST", NULL};
  char* program_argv[] = {TALVENPLAN_CGI, NULL};
  char* cat_env[] = {NULL};
  char* cat_argv[] = {(char*)cat, database, NULL};

  /* The check round, which also brings the file into the page cache. */
  answer = memory_file("answer");
  struct child_run program =
      run_child(TALVENPLAN_CGI, program_argv, program_env, input, answer);
  int program_right =
      program.status == 0 && holds(answer, kHeader, file);
  empty_file(answer);
  struct child_run copy = run_child(cat, cat_argv, cat_env, -1, answer);
  int cat_right = copy.status == 0 && holds(answer, "", file);
  close(answer);
  if (!program_right || !cat_right) {
    fprintf(stderr, "get of %lld bytes: the %s answer is wrong\n", size,
            program_right ? "cat" : "talvenplan.cgi");
    return 2;
  }

  fprintf(stderr, "  get: %d rounds each\n", rounds);
  for (int round = 0; round < rounds; ++round) {
    program = run_child(TALVENPLAN_CGI, program_argv, program_env, input, -1);
    copy = run_child(cat, cat_argv, cat_env, -1, -1);
    if (program.status != 0 || copy.status != 0 ||
        program.output_size != size + (long long)strlen(kHeader) ||
        copy.output_size != size) {
      fprintf(stderr, "get of %lld bytes: a round failed\n", size);
      return 2;
    }
    keep_best(&best_program, &program);
    keep_best(&best_cat, &copy);
  }
  close(file);
  unlink(database);
  rmdir(root);

  ratio = (double)best_program.nanoseconds / (double)best_cat.nanoseconds;
  snprintf(figure, sizeof figure, "get %lld MB into a pipe, vs cat", megabytes);
  snprintf(program_text, sizeof program_text, "%.1f ms %.0f MB/s",
           best_program.nanoseconds / 1e6,
           size * 1e3 / best_program.nanoseconds);
  snprintf(baseline_text, sizeof baseline_text, "%.1f ms %.0f MB/s",
           best_cat.nanoseconds / 1e6, size * 1e3 / best_cat.nanoseconds);
  print_row(figure, program_text, baseline_text, ratio, "<= 1.50",
            best_program.peak_kib, best_cat.peak_kib, verdict(ratio, 1.50));
  printf(
      "note\tget: best of %d rounds of each, alternately, into a pipe that "
      "is drained\n",
      rounds);
  return bench_status();
}
