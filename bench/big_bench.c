/* A put and a store of a large text (100 MB by default): talvenplan.cgi,
 * started as a web server starts it, against `dd conv=fsync` writing the
 * same text to a file in the same directory, alternately. The program holds
 * the request body whole, as the protocol reads it, so its peak memory is
 * about the body's size; dd streams and needs almost none. Every round checks
 * that the file holds the whole text.
 *
 * Usage: big_bench DD [MEGABYTES [ROUNDS]]   (100 MB and 3 rounds) */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "child.h"

static const char kHeader[] = "Content-type: text/html\n\n";

/* Whether the file at `path` holds exactly what `text` (a memory file)
 * holds. */
static int same_file(const char* path, int text) {
  static char a[1 << 16], b[1 << 16];
  int file = open(path, O_RDONLY | O_CLOEXEC);
  off_t size = lseek(text, 0, SEEK_END);
  int same = file >= 0 && lseek(file, 0, SEEK_END) == size;
  for (off_t at = 0; same && at < size; at += (off_t)sizeof a) {
    ssize_t n = pread(text, a, sizeof a, at);
    same = n > 0 && pread(file, b, (size_t)n, at) == n &&
           memcmp(a, b, (size_t)n) == 0;
  }
  if (file >= 0) close(file);
  return same;
}

struct figures {
  long long best;
  long peak_kib;
};

static void take(struct figures* f, const struct child_run* run) {
  if (f->best < 0 || run->nanoseconds < f->best) f->best = run->nanoseconds;
  if (run->peak_kib > f->peak_kib) f->peak_kib = run->peak_kib;
}

static void rows(const char* command, long long megabytes, long long size,
                 const struct figures* program, const struct figures* dd) {
  char figure[128], program_text[64], baseline_text[64], body_text[64];
  long body_kib = (long)(size / 1024);
  snprintf(figure, sizeof figure, "%s %lld MB, vs dd conv=fsync", command,
           megabytes);
  snprintf(program_text, sizeof program_text, "%.1f ms %.0f MB/s",
           program->best / 1e6, size * 1e3 / program->best);
  snprintf(baseline_text, sizeof baseline_text, "%.1f ms %.0f MB/s",
           dd->best / 1e6, size * 1e3 / dd->best);
  print_row(figure, program_text, baseline_text,
            (double)program->best / (double)dd->best, "-", program->peak_kib,
            dd->peak_kib, "-");
  /* The goal: the body, and at most 8 MiB besides. */
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
  const char* dd = argc > 1 ? argv[1] : NULL;
  long long megabytes = argc > 2 ? atoll(argv[2]) : 100;
  int rounds = argc > 3 ? atoi(argv[3]) : 3;
  const char* base = getenv("TMPDIR");
  char root[2048], database[4096], copy[4096], of[4200], offer[4096];
  char put_length[64], store_length[64];
  struct figures put = {-1, 0}, store = {-1, 0}, put_dd = {-1, 0},
                 store_dd = {-1, 0};

  if (dd == NULL || megabytes < 1 || rounds < 1) {
    fprintf(stderr, "usage: big_bench DD [MEGABYTES [ROUNDS]]\n");
    return 2;
  }
  snprintf(root, sizeof root, "%s/big_bench.XXXXXX", base ? base : "/tmp");
  if (mkdtemp(root) == NULL) die("mkdtemp");
  snprintf(database, sizeof database, "%s/big", root);
  snprintf(copy, sizeof copy, "%s/copy", root);
  snprintf(of, sizeof of, "of=%s", copy);

  /* The text: a database whose key line is the key, then price lines. It
   * starts with a printable byte, so that store takes it whole too. */
  long long size = megabytes * 1000 * 1000;
  int text = memory_file("text");
  {
    static char chunk[1 << 16];
    const char line[] = "Oak chair, large 149.90\n";
    size_t used = 0;
    for (long long done = 0; done < size;) {
      if (done == 0) {
        memcpy(chunk, "k1\n0\nBig\n\"\"\n0\n", 14);
        used = 14;
      }
      while (used + sizeof line - 1 <= sizeof chunk) {
        memcpy(chunk + used, line, sizeof line - 1);
        used += sizeof line - 1;
      }
      if ((long long)used > size - done) used = (size_t)(size - done);
      if (write(text, chunk, used) != (ssize_t)used) die("write");
      done += (long long)used;
      used = 0;
    }
  }

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
  snprintf(put_length, sizeof put_length, "CONTENT_LENGTH=%lld",
           (long long)lseek(put_body, 0, SEEK_END));
  snprintf(store_length, sizeof store_length, "CONTENT_LENGTH=%lld",
           (long long)lseek(store_body, 0, SEEK_END));
  char* put_env[] = {put_length, "REQUEST_METHOD=POST", NULL};
  char* store_env[] = {store_length, "REQUEST_METHOD=POST", NULL};
  char* program_argv[] = {TALVENPLAN_CGI, NULL};
  char* dd_env[] = {NULL};
  char* dd_argv[] = {(char*)dd, of, "bs=1M", "conv=fsync", "status=none", NULL};

  fprintf(stderr, "  put and store of %lld MB: %d rounds each\n", megabytes,
          rounds);
  int answer = memory_file("answer");
  char got[256];
  for (int round = 0; round < rounds; ++round) {
    write_file(database, "k1\n", 3);
    empty_file(answer);
    struct child_run run =
        run_child(TALVENPLAN_CGI, program_argv, put_env, put_body, answer);
    read_file(answer, got, sizeof got);
    if (run.status != 0 || strcmp(got, "Content-type: text/html\n\ns") != 0 ||
        !same_file(database, text)) {
      fprintf(stderr, "put of %lld MB: not whole (answer %s)\n", megabytes,
              got);
      return 2;
    }
    take(&put, &run);
    unlink(copy);
    run = run_child(dd, dd_argv, dd_env, text, -1);
    if (run.status != 0 || !same_file(copy, text)) die("dd");
    take(&put_dd, &run);

    empty_file(answer);
    run =
        run_child(TALVENPLAN_CGI, program_argv, store_env, store_body, answer);
    read_file(answer, got, sizeof got);
    if (run.status != 0 || strncmp(got, kHeader, strlen(kHeader)) != 0 ||
        got[strlen(kHeader)] != 's' || strlen(got) != strlen(kHeader) + 8) {
      fprintf(stderr, "store of %lld MB answered %s\n", megabytes, got);
      return 2;
    }
    snprintf(offer, sizeof offer, "%s/%s", root, got + strlen(kHeader) + 1);
    if (!same_file(offer, text)) {
      fprintf(stderr, "store of %lld MB: not whole\n", megabytes);
      return 2;
    }
    unlink(offer);
    take(&store, &run);
    unlink(copy);
    run = run_child(dd, dd_argv, dd_env, text, -1);
    if (run.status != 0 || !same_file(copy, text)) die("dd");
    take(&store_dd, &run);
  }
  unlink(database);
  unlink(copy);
  rmdir(root);

  rows("put", megabytes, size, &put, &put_dd);
  rows("store", megabytes, size, &store, &store_dd);
  printf(
      "note\tput, store: best time and largest peak memory of %d rounds, each "
      "beside dd writing the same text to a file and syncing it\n",
      rounds);
  return bench_status();
}
