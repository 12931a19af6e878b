#define _GNU_SOURCE
#include "cgi_env.h"

#include <stdio.h>
#include <string.h>

#include "child.h"

/* What lighttpd passes a CGI program for a request from a browser, less
 * the variables that depend on the request (added by make_env). */
static const char* const kServerEnv[] = {
    "DOCUMENT_ROOT=/var/www/html",
    "GATEWAY_INTERFACE=CGI/1.1",
    "HTTP_ACCEPT=text/html,application/xhtml+xml,application/xml;q=0.9,*/*;"
    "q=0.8",
    "HTTP_ACCEPT_ENCODING=gzip, deflate, br",
    "HTTP_ACCEPT_LANGUAGE=fi-FI,fi;q=0.9,en-US;q=0.8,en;q=0.7",
    "HTTP_CONNECTION=keep-alive",
    "HTTP_HOST=shop.example.com",
    "HTTP_USER_AGENT=Mozilla/5.0 (X11; Linux x86_64; rv:128.0) "
    "Gecko/20100101 Firefox/128.0",
    "REDIRECT_STATUS=200",
    "REMOTE_ADDR=192.0.2.17",
    "REMOTE_PORT=50758",
    "REQUEST_SCHEME=http",
    "SCRIPT_FILENAME=/usr/lib/cgi-bin/talvenplan.cgi",
    "SCRIPT_NAME=/cgi-bin/talvenplan.cgi",
    "SERVER_ADDR=192.0.2.1",
    "SERVER_NAME=shop.example.com",
    "SERVER_PORT=80",
    "SERVER_PROTOCOL=HTTP/1.1",
    "SERVER_SOFTWARE=lighttpd/1.4.69",
};

static void add(struct environment* env, size_t* count, char* entry) {
  if (*count + 1 >= kMaxEnv) die("too many variables");
  env->entries[(*count)++] = entry;
  env->entries[*count] = NULL;
}

/* A POST of `length` bytes, or (query not NULL) a GET of `query`. */
static void make(struct environment* env, size_t length, const char* query,
                 const char* root) {
  size_t count = 0;
  for (size_t i = 0; i < sizeof kServerEnv / sizeof *kServerEnv; ++i) {
    add(env, &count, (char*)kServerEnv[i]);
  }
  snprintf(env->text[0], sizeof env->text[0], "TALVEN_ROOT=%s", root);
  add(env, &count, env->text[0]);
  if (query == NULL) {
    snprintf(env->text[1], sizeof env->text[1], "CONTENT_LENGTH=%zu", length);
    snprintf(env->text[2], sizeof env->text[2], "HTTP_CONTENT_LENGTH=%zu",
             length);
    add(env, &count, env->text[1]);
    add(env, &count, env->text[2]);
    add(env, &count, "CONTENT_TYPE=application/x-www-form-urlencoded");
    add(env, &count, "QUERY_STRING=");
    add(env, &count, "REQUEST_METHOD=POST");
    add(env, &count, "REQUEST_URI=/cgi-bin/talvenplan.cgi");
  } else {
    snprintf(env->text[1], sizeof env->text[1], "QUERY_STRING=%s", query);
    snprintf(env->text[2], sizeof env->text[2],
             "REQUEST_URI=/cgi-bin/talvenplan.cgi?%s", query);
    add(env, &count, env->text[1]);
    add(env, &count, env->text[2]);
    add(env, &count, "REQUEST_METHOD=GET");
  }
}

void make_env(struct environment* env, const char* body, const char* query,
              const char* root) {
  if (body != NULL)
    make(env, strlen(body), NULL, root);
  else
    make(env, 0, query, root);
}

void make_post_env(struct environment* env, size_t length, const char* root) {
  make(env, length, NULL, root);
}

const char kDatabase[] =
    "k3y\n3\nretail 1.0\nwholesale 0.8\nvip 0.75\n"
    "Winter prices\n\"Talvenplan shop\"\n10\n"
    "Chair 49.90\nTable, oak 199.00\nLamp 24.50\nShelf 89\nDesk 310.5\n"
    "Drawer 45.00\nStool 19.99\nBench 120.00\nMirror 64.25\nRug 75.00\n"
    "Prices in EUR\nEnd\n";

const char kOffer[] =
    "<p>Offer for Example Oy, valid until 31 January.</p>\n"
    "<table><tr><td>Chair</td><td>39.92</td></tr>\n"
    "<tr><td>Table, oak</td><td>159.20</td></tr>\n"
    "<tr><td>Lamp</td><td>19.60</td></tr></table>\n";
