#include "protocol/messages.h"

#include <iterator>
#include <string_view>

#include "protocol/wire.h"

namespace talvenplan {
namespace {

enum class MessageKind {
  kCommand,  // "fs" and the text; exit status 1
  kStore,    // "fs" and the text; a normal end
  kLink,     // the text alone; a normal end
};

struct MessageEntry {
  Message message;
  MessageKind kind;
  std::string_view text;
};

using enum Message;
using enum MessageKind;

// The texts are the protocol's own, spelling included: clients match them.
constexpr MessageEntry kMessages[] = {
    {kNoContentLength, kCommand, "CONTENT_LENGTH not present"},
    {kInvalidContentLength, kCommand, "invalid CONTENTT_LENGTH"},
    {kNoMemory, kCommand, "not enough memory"},
    {kShortBody, kCommand, "error reading input data"},
    {kCantChangeDirectory, kCommand, "can't change directory on server"},
    {kCantOpenDirectory, kCommand, "can't open directory on server"},
    {kCantOpenDatabase, kCommand, "can't open database on server"},
    {kCantReadDatabase, kCommand, "can't read database on server"},
    {kCantWriteDatabase, kCommand, "can't write database on server"},
    {kCantWriteOnDatabase, kCommand, "can't write on database"},
    {kCantRemoveDatabase, kCommand, "can't remove the database"},
    {kCantCreateTemporary, kStore, "can't create temporary file"},
    {kCantOpenTemporary, kStore, "can't open temporary file"},
    {kCantWriteTemporary, kStore, "can't write temporary file"},
    {kLinkCantChangeDirectory, kLink,
     "error on server:can't change directory on server"},
    {kLinkCantOpen, kLink, "error on server: can't open temp file"},
    {kLinkWithdrawn, kLink, "error on server: offer withdrawn"},
    {kAnswerNotPosted, kLink, "error on server: answers are posted"},
    {kAnswerTooLong, kLink, "error on server: answer too long"},
    {kAnswerIncomplete, kLink, "error on server: answer incomplete"},
    {kAnswerNoSlot, kLink, "error on server: offer takes no answer"},
    {kAnswerAlready, kLink, "error on server: offer already answered"},
    {kAnswerNotOpened, kLink, "error on server: offer not opened"},
    {kAnswerExpired, kLink, "error on server: offer expired"},
    {kAnswerCantWrite, kLink, "error on server: can't write the answer"},
};

// Fail looks a message up by its place in the enum.
constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < std::size(kMessages); ++i) {
    if (static_cast<std::size_t>(kMessages[i].message) != i) return false;
  }
  return true;
}
static_assert(InEnumOrder());

}  // namespace

int Fail(Output& out, Message message) {
  const MessageEntry& entry = kMessages[static_cast<int>(message)];
  if (entry.kind != kLink) out.Write(kFailed);
  out.Write(entry.text);
  return entry.kind == kCommand ? 1 : 0;
}

int Done(Output& out) {
  out.Write(kDone);
  return 0;
}

int Refuse(Output& out) {
  out.Write(kRefused);
  return 0;
}

}  // namespace talvenplan
