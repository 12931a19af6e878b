#include "request/front.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "database/commands.h"
#include "offer/offer.h"
#include "request/confine.h"
#include "request/fd.h"
#include "request/request.h"

namespace talvenplan {
namespace {

constexpr std::string_view kHeader = "Content-type: text/html\n\n";
constexpr std::string_view kOfferKey = "TALVENPLAN_FILE=";

// The request body lives until the process ends; the fields point into it.
constinit char* g_body = nullptr;

// Reads up to `length` bytes; stops at the end of the input or on any error.
std::size_t ReadBody(int fd, char* body, std::size_t length) {
  std::size_t count = 0;
  while (count < length) {
    long got = ReadSome(fd, body + count, length - count);
    if (got <= 0) break;
    count += static_cast<std::size_t>(got);
  }
  return count;
}

int Dispatch(const Request& request, Output& out) {
  switch (request.letter) {
    case 'c':
      return RunCreate(request, out);
    case 'g':
      return RunGet(request, out);
    case 'l':
      return RunList(request, out);
    case 'p':
      return RunPut(request, out);
    case 'q':
      return RunQuery(request, out);
    case 'r':
      return RunRemove(request, out);
    case 's':
      return RunStore(request, out);
    default:
      return 0;  // not a command: the header alone
  }
}

}  // namespace

CgiEnv ReadCgiEnv() {
  CgiEnv env;
  env.query_string = std::getenv("QUERY_STRING");
  env.content_length = std::getenv("CONTENT_LENGTH");
  env.http_content_length = std::getenv("HTTP_CONTENT_LENGTH");
  env.test = std::getenv("TALVEN_TEST");
  env.request_method = std::getenv("REQUEST_METHOD");
  env.root = std::getenv("TALVEN_ROOT");
  return env;
}

int ServeRequest(const CgiEnv& env, int input_fd, std::span<char> line_buffer,
                 Output& out) {
  out.Write(kHeader);

  // Resolved before any change of directory, so that a relative root means
  // the same for every request.
  Root root;
  ResolveRoot(env.root, root);

  if (env.query_string != nullptr &&
      std::strncmp(env.query_string, kOfferKey.data(), kOfferKey.size()) == 0) {
    return ShowOffer(env.query_string + kOfferKey.size(), env, root,
                     line_buffer, out);
  }

  const char* length_text = env.content_length != nullptr
                                ? env.content_length
                                : env.http_content_length;
  if (length_text == nullptr) return Fail(out, "CONTENT_LENGTH not present");
  std::optional<std::int32_t> length = ParseContentLength(length_text);
  if (!length) return Fail(out, "invalid CONTENTT_LENGTH");

  g_body =
      static_cast<char*>(std::malloc(static_cast<std::size_t>(*length) + 1));
  if (g_body == nullptr) return Fail(out, "not enough memory");
  std::size_t count =
      ReadBody(input_fd, g_body, static_cast<std::size_t>(*length));
  g_body[count] = '\0';
  if (count != static_cast<std::size_t>(*length) && env.test == nullptr) {
    return Fail(out, "error reading input data");
  }

  Request request = CutRequest(g_body, count);
  request.line_buffer = line_buffer;
  request.confined = root.confined;
  if (!EnterDirectory(request.directory.data(), root)) {
    return Fail(out, "can't change directory on server");
  }
  return Dispatch(request, out);
}

}  // namespace talvenplan
