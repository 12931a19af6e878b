/* A put and a store of a large text (100 MB by default), talvenplan.cgi
 * started as a web server starts it: its peak memory against the body's
 * size. The program holds the request body whole, as the protocol reads
 * it, so its peak memory is about the body's size; the goal is the body and
 * at most 8 MiB besides. Every round checks that the file holds the whole
 * text.
 *
 * Usage: big_bench [MEGABYTES [ROUNDS]]   (100 MB and 3 rounds) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "child.h"

static const char kHeader[] = "Content-type: text/html\n\n";

/* Whether the file at `path` holds exactly what `text` holds. */
static int file_holds(const char* path, int text) {
  int file = open(path, O_RDONLY | O_CLOEXEC);
  int same = file >= 0 && holds(file, "", text);
  if (file >= 0) close(file);
  return same;
}

/* Runs the request in `body` (a memory file: the command's lines, then the
 * text) and returns its answer after the header in `got`. */
static struct child_run request(int body, int answer, char* got, size_t room) {
  char length[64];
  snprintf(length, sizeof length, "CONTENT_LENGTH=%lld",
           (long long)lseek(body, 0, SEEK_END));
  char* env[] = {length, "REQUEST_METHOD=POST", NULL};
  char* argv[] = {TALVENPLAN_CGI, NULL};
  empty_file(answer);
  struct child_run run = run_child(TALVENPLAN_CGI, argv, env, body, answer);
  read_file(answer, got, room);
  size_t header = strlen(kHeader);
  if (strncmp(got, kHeader, header) != 0) {
    run.status = -1;
  } else {
    memmove(got, got + header, strlen(got + header) + 1);
  }
  return run;
}

static void row(const char* command, long long megabytes, long long size,
                const struct best* program) {
  char figure[128], program_text[64], body_text[64];
  long body_kib = (long)(size / 1024);
  snprintf(figure, sizeof figure, "%s %lld MB, peak memory vs the body",
           command, megabytes);
  snprintf(program_text, sizeof program_text, "%ld KiB", program->peak_kib);
  snprintf(body_text, sizeof body_text, "%ld KiB", body_kib);
  print_row(
      figure, program_text, body_text,
      (double)program->peak_kib / (double)body_kib, "<= body + 8192 KiB",
      program->peak_kib, -1,
      verdict((double)program->peak_kib / (double)(body_kib + 8192), 1.0));
}

int main(int argc, char** argv) {
  long long megabytes = argc > 1 ? atoll(argv[1]) : 100;
  int rounds = argc > 2 ? atoi(argv[2]) : 3;
  const char* base = getenv("TMPDIR");
  char root[2048], database[4096], offer[4200], got[256];
  struct best put = {-1, 0}, store = {-1, 0};

  if (megabytes < 1 || rounds < 1) {
    fprintf(stderr, "usage: big_bench [MEGABYTES [ROUNDS]]\n");
    return 2;
  }
  snprintf(root, sizeof root, "%s/big_bench.XXXXXX", base ? base : "/tmp");
  if (mkdtemp(root) == NULL) die("mkdtemp");
  snprintf(database, sizeof database, "%s/big", root);

  /* The text: a database whose key line is the key, then price lines. It
   * starts with a printable byte, so that store takes it whole too. */
  long long size = megabytes * 1000 * 1000;
  static char lines[1 << 16];
  const char line[] = "Oak chair, large 149.90\n";
  size_t used = 0;
  for (; used + sizeof line - 1 <= sizeof lines; used += sizeof line - 1) {
    memcpy(lines + used, line, sizeof line - 1);
  }
  int text = memory_file("text");
  dprintf(text, "k1\n0\nBig\n\"\"\n0\n");
  while (lseek(text, 0, SEEK_END) < size) {
    if (write(text, lines, used) != (ssize_t)used) die("write");
  }
  if (ftruncate(text, size) != 0) die("ftruncate");

  /* The two request bodies: the command's lines, then the text. */
  int put_body = memory_file("put"), store_body = memory_file("store");
  dprintf(put_body, "p\n%s\nk1 big\n", root);
  dprintf(store_body, "s\n%s\n", root);
  if (copy_file_range(text, (loff_t[]){0}, put_body, NULL, (size_t)size, 0) !=
          size ||
      copy_file_range(text, (loff_t[]){0}, store_body, NULL, (size_t)size, 0) !=
          size) {
    die("copy_file_range");
  }

  fprintf(stderr, "  put and store of %lld MB: %d rounds each\n", megabytes,
          rounds);
  int answer = memory_file("answer");
  for (int round = 0; round < rounds; ++round) {
    write_file(database, "k1\n", 3);
    struct child_run run = request(put_body, answer, got, sizeof got);
    if (run.status != 0 || strcmp(got, "s") != 0 ||
        !file_holds(database, text)) {
      fprintf(stderr, "put of %lld MB: not whole (answer %s)\n", megabytes,
              got);
      return 2;
    }
    keep_best(&put, &run);

    run = request(store_body, answer, got, sizeof got);
    snprintf(offer, sizeof offer, "%s/%s", root, got + 1);
    if (run.status != 0 || got[0] != 's' || strlen(got) != 8 ||
        !file_holds(offer, text)) {
      fprintf(stderr, "store of %lld MB: not whole (answer %s)\n", megabytes,
              got);
      return 2;
    }
    unlink(offer);
    keep_best(&store, &run);
  }
  unlink(database);
  rmdir(root);

  row("put", megabytes, size, &put);
  row("store", megabytes, size, &store);
  printf("note\tput, store: largest peak memory of %d rounds\n", rounds);
  return bench_status();
}
