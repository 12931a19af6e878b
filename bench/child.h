/* Starting a measured program the way a web server starts a CGI program,
 * and the figures the benchmarks print. Shared by the benchmark drivers,
 * which are small static C programs: a child's peak resident memory as the
 * kernel reports it counts the memory of the process it was forked from, and
 * a small parent keeps that (and the cost of fork) near the floor. */
#ifndef TALVENPLAN_BENCH_CHILD_H_
#define TALVENPLAN_BENCH_CHILD_H_

#include <stddef.h>

struct child_run {
  long long nanoseconds; /* fork to exit, output drained */
  long peak_kib;         /* the child's peak resident memory */
  int status;            /* exit status, or 128 + the signal */
  long long output_size; /* bytes the child wrote on standard output */
};

/* Runs `path` with `argv` and `envp` (its whole environment), `input` as
 * standard input (rewound first; -1 for /dev/null) and a pipe as standard
 * output, which is drained while the child runs, as a web server does. What
 * comes through the pipe is appended to `sink` unless it is -1. Standard
 * error goes to /dev/null. The time runs from just before fork until the
 * pipe has ended and the child has been waited for. Dies on setup errors. */
struct child_run run_child(const char* path, char* const argv[],
                           char* const envp[], int input, int sink);

/* An empty file in memory, for bodies and drained answers. */
int memory_file(const char* name);

/* Empties a file made by memory_file. */
void empty_file(int fd);

/* Reads all of a file made by memory_file into `buffer` (NUL-terminated);
 * dies when it does not fit. Returns the size. */
size_t read_file(int fd, char* buffer, size_t room);

/* Copies the program at `path` into `directory` (same base name) and drops
 * the copy from the page cache, so that the first exec reads it back the
 * way exec reads a program after a boot. Returns the copy's path in `copy`.
 *
 * Why: how a program's pages came into the page cache changes what its exec
 * costs. This machine's kernel execs a program whose file was just written
 * in large pieces (cp, install) 10-15% faster than one written in small
 * pieces (the linker) or read back by exec itself, and by how much depends
 * on the program's size and layout. Measured programs are all put in the
 * second state, the one a server is in for most of its life. */
void copy_program(const char* path, const char* directory, char* copy,
                  size_t room);

/* Writes all of `data` to a new file at `path`. */
void write_file(const char* path, const char* data, size_t size);

/* Writes a price list of `lines` price lines to a new file at `path` and
 * returns its size: the key line "k3y", three factors ("export 1.19" last),
 * a short header, price lines of three shapes, and two trailing lines. */
long long make_price_list(const char* path, long long lines);

/* Writes the price list bench/web_list.mjs makes, byte for byte (a shop's
 * list: the key line "k1", `factors` factors f1, f2, ..., titles, `lines`
 * price lines of furniture and a closing note) to a new file at `path` and
 * returns its size. The browser benchmark opens the same list: a change to
 * one is a change to both (cmp their files of 100,000 lines). */
long long make_shop_list(const char* path, long lines, int factors);

/* Whether `file` holds `prefix` and then exactly what `content` holds. */
int holds(int file, const char* prefix, int content);

/* The best (shortest) time and the largest peak memory of a program's runs
 * so far; start from {-1, 0}. */
struct best {
  long long nanoseconds;
  long peak_kib;
};
void keep_best(struct best* best, const struct child_run* run);

_Noreturn void die(const char* what);

/* Prints one row of the results table (tab-separated, "row" first):
 * the figure, this program's value, the baseline's, the ratio (this
 * program's cost divided by the baseline's; negative: none), the goal, this
 * program's and the baseline's peak memory in KiB (negative: not measured)
 * and the verdict. Lines that begin "note" and a tab are printed under the
 * table. */
void print_row(const char* figure, const char* program, const char* baseline,
               double ratio, const char* goal, long program_kib,
               long baseline_kib, const char* verdict);

/* The verdict for a cost ratio against its goal (at most `goal`): "met",
 * "MISSED", or "MISSED (far)" when it is more than a quarter above the goal.
 * A far miss also sets the exit status that bench_status() returns. */
const char* verdict(double ratio, double goal);
int bench_status(void);

/* Sorts `count` times and returns their median. */
long long median(long long* values, size_t count);

#endif /* TALVENPLAN_BENCH_CHILD_H_ */
