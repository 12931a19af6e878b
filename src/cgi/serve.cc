#include "cgi/serve.h"

#include <limits.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "cgi/confine.h"
#include "database/database.h"
#include "io/fd.h"
#include "offer/answer.h"
#include "offer/offer.h"
#include "protocol/letter_pair.h"
#include "protocol/messages.h"
#include "protocol/request.h"
#include "protocol/wire.h"

namespace talvenplan {
namespace {

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

int Dispatch(const Request& request, const Context& context, Output& out) {
  // An offer is no database, whatever its first line holds: no key but its
  // own reaches it, and nothing reads or rewrites it.
  if (NamesOffer(request)) return RunOfferCommand(request, context, out);
  switch (request.letter) {
    case 'c': return RunCreate(request, context, out);
    case 'g': return RunGet(request, context, out);
    case 'l': return RunList(request, context, out);
    case 'p': return RunPut(request, context, out);
    case 'q': return RunQuery(request, context, out);
    case 'r': return RunRemove(request, context, out);
    case 's': return RunStore(request, context, out);
    default: return 0;  // not a command: the header alone
  }
}

// An offer link: `encoded` is the query string after the offer key.
int ServeOfferLink(const char* encoded, const CgiEnv& env,
                   const Context& context, Output& out) {
  // A name that cannot be an offer is refused before anything else is looked
  // at: a name longer than an offer's does not fit, and one that ran on
  // because its letters were odd in number never has the offer form.
  char name[kOfferNameSize + 1];
  DecodedName decoded = DecodeLetterPairs(encoded, name);
  if (!decoded.complete || !IsOfferName({name, decoded.size})) {
    return Fail(out, Message::kLinkCantOpen);
  }
  // A directory longer than a path can be is one that cannot be entered. A
  // NUL inside it would make chdir enter another one. A site that sets a
  // root keeps links below it, as it does commands.
  char directory[PATH_MAX];
  DecodedName decoded_directory = DecodeLetterPairs(decoded.rest, directory);
  if (!decoded_directory.complete ||
      std::memchr(directory, '\0', decoded_directory.size) != nullptr ||
      !EnterDirectory(directory, context.root)) {
    return Fail(out, Message::kLinkCantChangeDirectory);
  }
  bool head = env.request_method != nullptr &&
              std::strcmp(env.request_method, "HEAD") == 0;
  return ShowOffer(name, head, context, out);
}

// The customer's answer to an offer: `encoded` is the query string after
// the answer key, the offer link's own. Only a POST of a short body is read;
// nothing else changes anything.
int ServeAnswer(const char* encoded, const CgiEnv& env, int input_fd,
                const Context& context, Output& out) {
  if (env.request_method == nullptr ||
      std::strcmp(env.request_method, "POST") != 0) {
    return Fail(out, Message::kAnswerNotPosted);
  }
  const char* length_text = env.content_length != nullptr
                                ? env.content_length
                                : env.http_content_length;
  if (length_text == nullptr) return Fail(out, Message::kAnswerIncomplete);
  std::optional<std::int32_t> length = ParseContentLength(length_text);
  if (!length) return Fail(out, Message::kAnswerIncomplete);
  // Refused before a byte of it is read.
  if (static_cast<std::size_t>(*length) > kAnswerMax) {
    return Fail(out, Message::kAnswerTooLong);
  }
  char body[kAnswerMax];
  std::size_t count =
      ReadBody(input_fd, body, static_cast<std::size_t>(*length));
  if (count != static_cast<std::size_t>(*length)) {
    return Fail(out, Message::kAnswerIncomplete);
  }
  // The offer's name and directory, as its link gives them.
  char name[kOfferNameSize + 1];
  DecodedName decoded = DecodeLetterPairs(encoded, name);
  if (!decoded.complete || !IsOfferName({name, decoded.size})) {
    return Fail(out, Message::kAnswerNoSlot);
  }
  char directory[PATH_MAX];
  DecodedName decoded_directory = DecodeLetterPairs(decoded.rest, directory);
  if (!decoded_directory.complete ||
      std::memchr(directory, '\0', decoded_directory.size) != nullptr ||
      !EnterDirectory(directory, context.root)) {
    return Fail(out, Message::kAnswerNoSlot);
  }
  const bool record_address = env.answer_address != nullptr &&
                              std::strcmp(env.answer_address, "1") == 0;
  return RunAnswer(name, {body, count},
                   record_address ? env.remote_addr : nullptr, context, out);
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
  env.versions = std::getenv("TALVEN_VERSIONS");
  env.remote_user = std::getenv("REMOTE_USER");
  env.remote_addr = std::getenv("REMOTE_ADDR");
  env.answer_address = std::getenv("TALVEN_ANSWER_ADDRESS");
  return env;
}

int VersionsToKeep(const char* text) {
  if (text == nullptr) return 0;
  long value = std::strtol(text, nullptr, 10);
  constexpr long kMost = std::numeric_limits<int>::max();
  return value <= 0 ? 0 : static_cast<int>(value < kMost ? value : kMost);
}

std::optional<std::int32_t> ParseContentLength(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Digits beyond the limit cannot make the value valid again, so stop
  // accumulating once it is out of range.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= kLimit) value = value * 10 + (*p - '0');
  }
  if (negative || value == 0 || value >= kLimit) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

int ServeRequest(const CgiEnv& env, int input_fd, std::span<char> line_buffer,
                 Output& out) {
  out.Write(kHeader);

  // Resolved before any change of directory, so that a relative root means
  // the same for every request.
  Root root;
  ResolveRoot(env.root, root);
  // A login longer than any a person types keeps its beginning.
  const std::string_view login =
      env.remote_user == nullptr
          ? std::string_view()
          : std::string_view(env.remote_user,
                             ::strnlen(env.remote_user, kLoginMost));
  const Context context{root, line_buffer, VersionsToKeep(env.versions), login};

  if (env.query_string != nullptr &&
      std::strncmp(env.query_string, kOfferKey.data(), kOfferKey.size()) == 0) {
    return ServeOfferLink(env.query_string + kOfferKey.size(), env, context,
                          out);
  }
  if (env.query_string != nullptr &&
      std::strncmp(env.query_string, kAnswerKey.data(), kAnswerKey.size()) ==
          0) {
    return ServeAnswer(env.query_string + kAnswerKey.size(), env, input_fd,
                       context, out);
  }

  const char* length_text = env.content_length != nullptr
                                ? env.content_length
                                : env.http_content_length;
  if (length_text == nullptr) return Fail(out, Message::kNoContentLength);
  std::optional<std::int32_t> length = ParseContentLength(length_text);
  if (!length) return Fail(out, Message::kInvalidContentLength);

  // The body is the request's own: the fields point into it, and it lives
  // until the command has answered.
  std::unique_ptr<char, decltype(&std::free)> body(
      static_cast<char*>(std::malloc(static_cast<std::size_t>(*length) + 1)),
      &std::free);
  if (body == nullptr) return Fail(out, Message::kNoMemory);
  std::size_t count =
      ReadBody(input_fd, body.get(), static_cast<std::size_t>(*length));
  body.get()[count] = '\0';
  if (count != static_cast<std::size_t>(*length) && env.test == nullptr) {
    return Fail(out, Message::kShortBody);
  }

  Request request = CutRequest(body.get(), count);
  if (!EnterDirectory(request.directory.data(), root)) {
    return Fail(out, Message::kCantChangeDirectory);
  }
  return Dispatch(request, context, out);
}

}  // namespace talvenplan
