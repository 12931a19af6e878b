#include "offer/offer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "io/fd.h"
#include "io/file.h"
#include "io/line_reader.h"
#include "protocol/messages.h"
#include "protocol/wire.h"

namespace talvenplan {
namespace {

constexpr std::string_view kPageStart =
    "<html><head><title>Offer</title></head>"
    "<body>\n<h1 align=\"center\">Offer</h1>\n";
constexpr std::string_view kPageEnd = "</body></html>\n";

bool StillNamed(const char* name, FileId id) {
  struct stat info {};
  return ::fstatat(AT_FDCWD, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         FileId{info.st_dev, info.st_ino} == id;
}

}  // namespace

int RunStore(const Request& request, const Context& context, Output& out) {
  // Only a file that holds the whole text, NUL bytes included, on disk under
  // its name, is an offer: an empty text makes none.
  if (request.text.empty()) return Fail(out, Message::kCantWriteTemporary);
  // The directory is opened first: the new name must be synced before "s".
  // The name is chosen and the file created in one step, so no other request
  // can take the name in between. A leading "." keeps the file out of
  // listings.
  Fd here = OpenDirectory(".");
  if (!here) return Fail(out, Message::kCantOpenTemporary);
  char name[sizeof kOfferTemplate];
  std::memcpy(name, kOfferTemplate, sizeof kOfferTemplate);
  UniqueFile file = CreateUniqueFile(here.get(), name);
  if (!file.fd) {
    return Fail(out, file.names_exhausted ? Message::kCantCreateTemporary
                                          : Message::kCantOpenTemporary);
  }
  // The mark is what lets a link show the file where no root confines the
  // links. There a file system without extended attributes can hold no
  // offer a link would show, and a link that could never work is refused
  // now rather than when the customer opens it.
  if (!SetMark(file.fd.get(), kOfferMarkName, kOfferMarkValue) &&
      !context.root.confined) {
    file.fd.Close();
    ::unlinkat(here.get(), name, 0);
    return Fail(out, Message::kCantWriteTemporary);
  }
  // A failed write leaves no file behind.
  if (!WriteDurably(file.fd, here.get(), name, {request.text})) {
    return Fail(out, Message::kCantWriteTemporary);
  }
  if (!SyncDirectory(here.get())) {
    ::unlinkat(here.get(), name, 0);
    return Fail(out, Message::kCantWriteTemporary);
  }
  Done(out);
  out.Write(std::string_view(name));
  return 0;
}

int ShowOffer(const char* name, bool head, const Context& context,
              Output& out) {
  // A regular file only, never through a symbolic link. Under a root every
  // file of the offer form in the data tree is an offer (offers staged
  // before the mark existed included); without one, anything the server's
  // user can write would be, so there the file must be one store made.
  OpenFile file = OpenRegular(AT_FDCWD, name, O_NOFOLLOW);
  if (!file.fd || file.directory ||
      (!context.root.confined &&
       !HasMark(file.fd.get(), kOfferMarkName, kOfferMarkValue))) {
    return Fail(out, Message::kLinkCantOpen);
  }

  // Claim the offer before showing it: of several requests that opened it
  // at the same moment, only the one whose unlink removes the name shows it.
  // An offer that cannot be removed (a read-only directory) is not shown
  // either: it could be shown again. A HEAD request (a link checker, a
  // preview) shows it but leaves it.
  // The claim is not synced: the page is no answer a client builds on, and
  // a sync would cost every offer page a fifth of its time.
  // The name is removed only while it still holds the file that was opened
  // and checked, not another one put there since.
  if (!head && (!StillNamed(name, file.id) || ::unlink(name) != 0)) {
    return Fail(out, Message::kLinkCantOpen);
  }

  out.Write(kPageStart);
  LineReader content(file.fd.get(), context.lines);
  // A read error cuts the page short after it has begun; the exit status
  // tells the server.
  if (!content.CopyRestTo(out)) return 1;
  out.Write(kPageEnd);
  return 0;
}

}  // namespace talvenplan
