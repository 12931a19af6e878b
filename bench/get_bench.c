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

/* A database of about `bytes` bytes: a key line, three factors, and price
 * lines. */
static long long make_database(const char* path, long long bytes) {
  static const char* const kWords[] = {"Chair", "Table",  "Lamp",  "Shelf",
                                       "Desk",  "Drawer", "Stool", "Bench"};
  FILE* file = fopen(path, "w");
  unsigned long long state = 0x2545f4914f6cdd1dULL;
  long long lines = bytes / 24, size;
  if (file == NULL) die(path);
  fprintf(file, "k3y\n3\nretail 1.0\nwholesale 0.8\nexport 1.19\n");
  fprintf(file, "Prices\n\"Winter 2026\"\n%lld\n", lines);
  for (long long i = 0; i < lines; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    fprintf(file, "%s %lld %u.%02u\n", kWords[(state >> 32) % 8], i,
            (unsigned)(state % 10000), (unsigned)(state >> 40) % 100);
  }
  fputs("Prices without tax\nEnd\n", file);
  size = ftell(file);
  if (fclose(file) != 0) die("fclose");
  return size;
}

/* Whether `answer` holds `prefix` and then the whole of `file`. */
static int same_answer(int answer, const char* prefix, int file) {
  static char a[1 << 16], b[1 << 16];
  size_t prefix_size = strlen(prefix);
  off_t answer_size = lseek(answer, 0, SEEK_END);
  off_t file_size = lseek(file, 0, SEEK_END);
  if (answer_size != (off_t)prefix_size + file_size) return 0;
  if (pread(answer, a, prefix_size, 0) != (ssize_t)prefix_size ||
      memcmp(a, prefix, prefix_size) != 0) {
    return 0;
  }
  for (off_t at = 0; at < file_size; at += (off_t)sizeof a) {
    ssize_t n = pread(file, a, sizeof a, at);
    if (n <= 0 || pread(answer, b, (size_t)n, at + (off_t)prefix_size) != n ||
        memcmp(a, b, (size_t)n) != 0) {
      return 0;
    }
  }
  return 1;
}

int main(int argc, char** argv) {
  const char* cat = argc > 1 ? argv[1] : NULL;
  long long megabytes = argc > 2 ? atoll(argv[2]) : 100;
  int rounds = argc > 3 ? atoi(argv[3]) : 7;
  const char* base = getenv("TMPDIR");
  char root[2048], database[4096], body[4096], length[64];
  char figure[128], program_text[64], baseline_text[64];
  long long best_program = -1, best_cat = -1, size;
  long program_kib = 0, cat_kib = 0;
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
  size = make_database(database, megabytes * 1000 * 1000);
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
      program.status == 0 && same_answer(answer, kHeader, file) == 1;
  empty_file(answer);
  struct child_run copy = run_child(cat, cat_argv, cat_env, -1, answer);
  int cat_right = copy.status == 0 && same_answer(answer, "", file) == 1;
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
    if (best_program < 0 || program.nanoseconds < best_program) {
      best_program = program.nanoseconds;
    }
    if (best_cat < 0 || copy.nanoseconds < best_cat) {
      best_cat = copy.nanoseconds;
    }
    if (program.peak_kib > program_kib) program_kib = program.peak_kib;
    if (copy.peak_kib > cat_kib) cat_kib = copy.peak_kib;
  }
  close(file);
  unlink(database);
  rmdir(root);

  ratio = (double)best_program / (double)best_cat;
  snprintf(figure, sizeof figure, "get %lld MB into a pipe, vs cat", megabytes);
  snprintf(program_text, sizeof program_text, "%.1f ms %.0f MB/s",
           best_program / 1e6, size * 1e3 / best_program);
  snprintf(baseline_text, sizeof baseline_text, "%.1f ms %.0f MB/s",
           best_cat / 1e6, size * 1e3 / best_cat);
  print_row(figure, program_text, baseline_text, ratio, "<= 1.50", program_kib,
            cat_kib, verdict(ratio, 1.50));
  printf(
      "note\tget: best of %d rounds of each, alternately, into a pipe that "
      "is drained\n",
      rounds);
  return bench_status();
}
