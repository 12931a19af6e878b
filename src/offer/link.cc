#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "offer/letter_pair.h"
#include "offer/offer.h"
#include "request/confine.h"
#include "request/fd.h"
#include "request/line_reader.h"

namespace talvenplan {
namespace {

// The answers to a link that shows nothing. They are for a browser: no status
// word, and the process ends normally.
constexpr std::string_view kCantOpen = "error on server: can't open temp file";
constexpr std::string_view kCantChangeDirectory =
    "error on server:can't change directory on server";

constexpr std::string_view kPageStart =
    "<html><head><title>Offer</title></head>"
    "<body>\n<h1 align=\"center\">Offer</h1>\n";
constexpr std::string_view kPageEnd = "</body></html>\n";

int Refuse(Output& out, std::string_view message) {
  out.Write(message);
  return 0;
}

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9');
}

// Only names of the form store makes are offers: "." and six letters or
// digits. Anything else (other files, "..", paths into subdirectories) is
// out of a link's reach.
bool IsOfferName(std::string_view name) {
  if (name.size() != 7 || name[0] != '.') return false;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (!IsNameByte(name[i])) return false;
  }
  return true;
}

}  // namespace

int ShowOffer(const char* encoded, const CgiEnv& env, const Root& root,
              std::span<char> buffer, Output& out) {
  // The name, then the directory, each with its NUL, one after the other.
  // A name that cannot be an offer is refused before anything else is
  // looked at: a name cut short, or one that ran on because its letters
  // were odd in number, never has the offer form.
  DecodedName name = DecodeLetterPairs(encoded, buffer);
  const char* name_path = buffer.data();
  if (!name.complete || !IsOfferName({name_path, name.size})) {
    return Refuse(out, kCantOpen);
  }
  std::span<char> after_name = buffer.subspan(name.size + 1);
  DecodedName directory = DecodeLetterPairs(name.rest, after_name);
  if (!directory.complete) return Refuse(out, kCantChangeDirectory);
  const char* directory_path = after_name.data();
  // A NUL inside the directory would make chdir enter another one.
  if (std::memchr(directory_path, '\0', directory.size) != nullptr) {
    return Refuse(out, kCantChangeDirectory);
  }

  // A site that sets a root keeps links below it, as it does commands.
  if (!EnterDirectory(directory_path, root)) {
    return Refuse(out, kCantChangeDirectory);
  }

  // No symbolic link is followed, and a FIFO cannot hold the open up.
  Fd file(::open(name_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!file) return Refuse(out, kCantOpen);
  struct stat info;
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return Refuse(out, kCantOpen);
  }

  // Claim the offer before showing it: of several requests that opened it
  // at the same moment, only the one whose unlink removes the name shows it.
  // An offer that cannot be removed (a read-only directory) is not shown
  // either: it could be shown again. A HEAD request (a link checker, a
  // preview) shows it but leaves it.
  bool head = env.request_method != nullptr &&
              std::strcmp(env.request_method, "HEAD") == 0;
  if (!head && ::unlink(name_path) != 0) return Refuse(out, kCantOpen);

  // The decoded names are no longer needed: the buffer carries the content.
  out.Write(kPageStart);
  LineReader content(file.get(), buffer);
  content.CopyRestTo(out);
  out.Write(kPageEnd);
  return 0;
}

}  // namespace talvenplan
