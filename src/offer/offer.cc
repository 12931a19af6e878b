#include "offer/offer.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "io/fd.h"
#include "io/file.h"
#include "io/line_reader.h"
#include "io/place.h"
#include "offer/answer.h"
#include "protocol/messages.h"
#include "protocol/offer_line.h"
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

// The name a withdrawn offer `name` keeps its bytes under.
void WithdrawnName(const char* name, char (&withdrawn)[NAME_MAX + 1]) {
  std::size_t size = std::strlen(name);
  std::memcpy(withdrawn, name, size);
  std::memcpy(withdrawn + size, kWithdrawnSuffix.data(),
              kWithdrawnSuffix.size());
  withdrawn[size + kWithdrawnSuffix.size()] = '\0';
}

// The answer for a link whose offer cannot be shown: withdrawn, or gone.
int LinkGone(const char* name, Output& out) {
  char withdrawn[NAME_MAX + 1];
  WithdrawnName(name, withdrawn);
  struct stat info {};
  bool was_withdrawn =
      ::fstatat(AT_FDCWD, withdrawn, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(info.st_mode);
  return Fail(out,
              was_withdrawn ? Message::kLinkWithdrawn : Message::kLinkCantOpen);
}

// Whether the offer open in `fd` begins with an offer line holding `key`.
bool HoldsOfferKey(int fd, std::string_view key, const Context& context) {
  LineReader reader(fd, context.lines);
  std::string_view own = OfferLineKey(reader.ReadPiece(kOfferLineMax + 1));
  return !own.empty() && own == key;
}

// Renames the offer at `place`, still the file `id`, to its withdrawn name,
// never over another file, and syncs the directory.
FileError Withdraw(const Place& place, FileId id) {
  Fd dir(::openat(place.dir(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return FileError::kCantName;
  if (!Holds(dir.get(), place.name, id)) return FileError::kChanged;
  char withdrawn[NAME_MAX + 1];
  WithdrawnName(place.name, withdrawn);
  if (::renameat2(dir.get(), place.name, dir.get(), withdrawn,
                  RENAME_NOREPLACE) != 0) {
    if (errno == ENOENT) return FileError::kChanged;
    if (errno != EINVAL && errno != ENOSYS && errno != EPERM) {
      return FileError::kCantName;
    }
    if (::linkat(dir.get(), place.name, dir.get(), withdrawn, 0) != 0) {
      return errno == ENOENT ? FileError::kChanged : FileError::kCantName;
    }
    // Whoever unlinks the offer's own name first has it: a link that
    // claimed it meanwhile showed it, and it stays withdrawn only in name.
    if (::unlinkat(dir.get(), place.name, 0) != 0) {
      ::unlinkat(dir.get(), withdrawn, 0);
      return FileError::kChanged;
    }
  }
  return SyncDirectory(dir.get()) ? FileError::kNone : FileError::kCantSync;
}

}  // namespace

bool NamesOffer(const Request& request) {
  if (request.letter != 'g' && request.letter != 'p' && request.letter != 'q' &&
      request.letter != 'r') {
    return false;
  }
  std::string_view last = request.name.substr(request.name.rfind('/') + 1);
  return IsOfferName(last) || IsWithdrawnName(last) || IsAnswerFileName(last);
}

int RunOfferCommand(const Request& request, const Context& context,
                    Output& out) {
  const bool remove = request.letter == 'r';
  std::string_view last = request.name.substr(request.name.rfind('/') + 1);
  // Of the answer's files, only the slot is read, with the offer's key.
  const bool slot = IsAnswerFileName(last) && last.ends_with(kSlotSuffix);
  if ((!remove && request.letter != 'g') || IsWithdrawnName(last) ||
      (IsAnswerFileName(last) && (!slot || remove))) {
    return Refuse(out);
  }
  // As for a database: under a root the name stays in the request's
  // directory.
  Place place;
  OpenFile file;
  if (!context.root.confined || last.size() == request.name.size()) {
    if (FindParent(context.root, request.name.data(), place) == 0) {
      file = OpenRegular(place.dir(), place.name, O_NOFOLLOW);
    }
  }
  if (slot) {
    return file.fd && !file.directory
               ? ReadAnswerState(place.dir(), place.name, request.key, context,
                                 out)
               : Refuse(out);
  }
  if (!file.fd || file.directory) {
    return remove ? Fail(out, Message::kCantOpenDatabase) : Refuse(out);
  }
  if (!HoldsOfferKey(file.fd.get(), request.key, context)) return Refuse(out);
  if (!remove) return Done(out);  // it waits; its content stays unread
  switch (Withdraw(place, file.id)) {
    case FileError::kNone: return Done(out);
    // Opened by its link meanwhile: there is no offer left to withdraw.
    case FileError::kChanged: return Fail(out, Message::kCantOpenDatabase);
    default: return Fail(out, Message::kCantRemoveDatabase);
  }
}

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
  // An offer that asks for an answer is staged with its slot, or not at all.
  std::string_view first = request.text.substr(0, request.text.find('\n') + 1);
  OfferLine line = ReadOfferLine(first.substr(0, kOfferLineMax + 1));
  if (line.answer &&
      !WriteSlot(here.get(), name, line, request.text.substr(first.size()),
                 !context.root.confined, context)) {
    ::unlinkat(here.get(), name, 0);
    return Fail(out, Message::kCantWriteTemporary);
  }
  if (!SyncDirectory(here.get())) {
    ::unlinkat(here.get(), name, 0);
    if (line.answer) {
      char slot[NAME_MAX + 1];
      std::memcpy(slot, name, sizeof name - 1);
      std::memcpy(slot + sizeof name - 1, kSlotSuffix.data(),
                  kSlotSuffix.size());
      slot[sizeof name - 1 + kSlotSuffix.size()] = '\0';
      ::unlinkat(here.get(), slot, 0);
    }
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
    return LinkGone(name, out);
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
    return LinkGone(name, out);
  }

  if (!head) MarkOpened(name);

  out.Write(kPageStart);
  LineReader content(file.fd.get(), context.lines);
  // The offer line holds the key of whoever staged the offer: the customer
  // never sees it, not even in the page's source.
  std::string_view first = content.ReadPiece(kOfferLineMax + 1);
  if (OfferLineKey(first).empty()) out.Write(first);
  // A read error cuts the page short after it has begun; the exit status
  // tells the server.
  if (content.error() || !content.CopyRestTo(out)) return 1;
  out.Write(kPageEnd);
  return 0;
}

}  // namespace talvenplan
