/* The environment a web server gives a CGI program, for the request
 * benchmarks: what lighttpd passes for a request from a browser, with
 * TALVEN_ROOT and the request's own variables. */
#ifndef TALVENPLAN_BENCH_CGI_ENV_H_
#define TALVENPLAN_BENCH_CGI_ENV_H_

#include <stddef.h>

enum { kMaxEnv = 40 };

struct environment {
  char* entries[kMaxEnv]; /* NULL-terminated, for execve */
  char text[4][8192];
};

/* The texts the request benchmarks send and store: a database of about 200
 * bytes with three factors and ten prices, and an offer of about 200 bytes. */
extern const char kDatabase[];
extern const char kOffer[];

/* The environment of a request under the root `root`: a POST of `body`, or
 * (body NULL) a GET of `query`. */
void make_env(struct environment* env, const char* body, const char* query,
              const char* root);

/* The environment of a POST of a body of `length` bytes under `root`. */
void make_post_env(struct environment* env, size_t length, const char* root);

#endif /* TALVENPLAN_BENCH_CGI_ENV_H_ */
