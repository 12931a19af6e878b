#include "offer/answer.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "io/fd.h"
#include "io/file.h"
#include "protocol/messages.h"
#include "protocol/percent.h"
#include "protocol/sha256.h"
#include "protocol/wire.h"

namespace talvenplan {
namespace {

// "2026-12-09T17:13:05.123456Z", and the day alone.
constexpr std::size_t kIsoStampSize = 27;
void IsoStamp(char (&stamp)[kIsoStampSize + 1]) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  // Room for what the compiler cannot rule out; the clock's years have
  // four digits.
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, now.tv_nsec / 1000);
  std::memcpy(stamp, text, kIsoStampSize);
  stamp[kIsoStampSize] = '\0';
}

// NAME and `suffix`, into `out`.
void Beside(std::string_view name, std::string_view suffix,
            char (&out)[NAME_MAX + 1]) {
  std::memcpy(out, name.data(), name.size());
  std::memcpy(out + name.size(), suffix.data(), suffix.size());
  out[name.size() + suffix.size()] = '\0';
}

// A text that grows in a fixed buffer; `full` once anything did not fit.
struct Text {
  char* data;
  std::size_t capacity;
  std::size_t size = 0;
  bool full = false;
  void Add(std::string_view part) {
    if (part.size() > capacity - size) {
      full = true;
      return;
    }
    std::memcpy(data + size, part.data(), part.size());
    size += part.size();
  }
  // "WORD VALUE\n"
  void Line(std::string_view word, std::string_view value) {
    Add(word);
    Add(" ");
    Add(value);
    Add("\n");
  }
  // The value percent-encoded (protocol/percent.h): it never breaks its
  // line.
  void LineEncoded(std::string_view word, std::string_view value) {
    Add(word);
    Add(" ");
    if (value.size() * kPercentWidth > capacity - size) {
      full = true;
      return;
    }
    size += PercentEncode(value, data + size);
    Add("\n");
  }
  std::string_view view() const { return {data, size}; }
};

// The value of the line "WORD VALUE" in `text`, or an empty view.
std::string_view Field(std::string_view text, std::string_view word) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.size() > word.size() && line.starts_with(word) &&
        line[word.size()] == ' ') {
      return line.substr(word.size() + 1);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return {};
}

// Reads the small regular file `name` in `dir`, never through a link, into
// `buffer`: its bytes, or nullopt when it cannot be read or does not fit.
// `mark`: it must carry the offer mark.
std::optional<std::string_view> ReadSmall(int dir, const char* name,
                                          std::span<char> buffer,
                                          bool mark = false) {
  OpenFile file = OpenRegular(dir, name, O_NOFOLLOW);
  if (!file.fd || file.directory) return std::nullopt;
  if (mark && !HasMark(file.fd.get(), kOfferMarkName, kOfferMarkValue)) {
    return std::nullopt;
  }
  std::size_t size = 0;
  while (size < buffer.size()) {
    long got =
        ReadSome(file.fd.get(), buffer.data() + size, buffer.size() - size);
    if (got < 0) return std::nullopt;
    if (got == 0) return std::string_view(buffer.data(), size);
    size += static_cast<std::size_t>(got);
  }
  return std::nullopt;  // larger than any file the program writes here
}

bool Exists(const char* name) {
  struct stat info {};
  return ::fstatat(AT_FDCWD, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// The customer's form, its values decoded.
struct AnswerForm {
  std::string_view decision, name, message, sha256;
};

// Decodes one form value (%HH and + for a space) into `out`, which has room
// for `value.size()` bytes. nullopt for a broken escape.
std::optional<std::string_view> DecodeFormValue(std::string_view value,
                                                char* out) {
  std::size_t size = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      if (i + 2 >= value.size()) return std::nullopt;
      int high = HexValue(value[i + 1]);
      int low = HexValue(value[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high << 4 | low);
      i += 2;
    }
    out[size++] = c;
  }
  return std::string_view(out, size);
}

// Characters in `text` where it is UTF-8 with no control character but,
// where `lines`, a line break or tab; nullopt otherwise.
std::optional<std::size_t> TextLength(std::string_view text, bool lines) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      bool allowed = c >= 0x20 ? c != 0x7f
                               : lines && (c == '\n' || c == '\r' || c == '\t');
      if (!allowed) return std::nullopt;
      ++i;
      continue;
    }
    std::size_t extra = c >= 0xf0 && c <= 0xf4   ? 3
                        : c >= 0xe0 && c <= 0xef ? 2
                        : c >= 0xc2 && c <= 0xdf ? 1
                                                 : 0;
    if (extra == 0 || i + extra >= text.size()) return std::nullopt;
    std::uint32_t point = c & (0x3f >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return std::nullopt;
      point = point << 6 | (next & 0x3f);
    }
    // Overlong forms, surrogates and what lies beyond Unicode.
    constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (point < kLeast[extra] || (point >= 0xd800 && point <= 0xdfff) ||
        point > 0x10ffff) {
      return std::nullopt;
    }
    i += extra + 1;
  }
  return count;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

constexpr std::size_t kNameMost = 200;
constexpr std::size_t kMessageMost = 1000;

// Reads the form from `body` into `form`, its values decoded into
// `decoded` (room for body.size() bytes). Each field once, no other field,
// and every value as the landing page sends it.
bool ReadForm(std::string_view body, char* decoded, AnswerForm& form) {
  bool seen[4] = {};
  std::string_view* fields[4] = {&form.decision, &form.name, &form.message,
                                 &form.sha256};
  constexpr std::string_view kNames[4] = {"decision", "name", "message",
                                          "sha256"};
  while (!body.empty()) {
    std::size_t end = body.find('&');
    std::string_view pair = body.substr(0, end);
    body.remove_prefix(end == std::string_view::npos ? body.size() : end + 1);
    std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) return false;
    std::string_view key = pair.substr(0, equals);
    int which = 0;
    while (which < 4 && kNames[which] != key) ++which;
    if (which == 4 || seen[which]) return false;
    seen[which] = true;
    auto value = DecodeFormValue(pair.substr(equals + 1), decoded);
    if (!value) return false;
    *fields[which] = *value;
    decoded += value->size();
  }
  form.name = Trim(form.name);
  auto name = TextLength(form.name, false);
  auto message = TextLength(form.message, true);
  return (form.decision == "accept" || form.decision == "decline") && name &&
         *name >= 1 && *name <= kNameMost && message &&
         *message <= kMessageMost && IsSha256Hex(form.sha256);
}

// Links the answer `text` in as `answer` in `dir`, whole and once: written
// and synced under a put's temporary name first, then linked, which fails
// when an answer is there already, then the name synced.
std::optional<Message> WriteAnswer(int dir, const char* answer,
                                   std::string_view text) {
  char temporary[sizeof kPutTemplate];
  std::memcpy(temporary, kPutTemplate, sizeof kPutTemplate);
  UniqueFile file = CreateUniqueFile(dir, temporary);
  if (!file.fd || !WriteDurably(file.fd, dir, temporary, {text})) {
    return Message::kAnswerCantWrite;
  }
  int linked = ::linkat(dir, temporary, dir, answer, 0);
  int error = errno;
  ::unlinkat(dir, temporary, 0);
  if (linked != 0) {
    return error == EEXIST ? Message::kAnswerAlready
                           : Message::kAnswerCantWrite;
  }
  if (!SyncDirectory(dir)) {
    ::unlinkat(dir, answer, 0);
    return Message::kAnswerCantWrite;
  }
  return std::nullopt;
}

}  // namespace

bool WriteSlot(int dir, const char* name, const OfferLine& line,
               std::string_view shown, bool mark, const Context& context) {
  Sha256 hash;
  hash.Update(shown);
  char hex[kSha256HexSize + 1];
  hash.FinishHex(hex);
  char stamp[kIsoStampSize + 1];
  IsoStamp(stamp);
  char buffer[2048];
  Text slot{buffer, sizeof buffer};
  slot.Add("talvenplan-slot 1\n");
  slot.Line("key", line.key);
  if (!line.until.empty()) slot.Line("until", line.until);
  slot.Line("sha256", hex);
  slot.Line("staged", stamp);
  if (!context.login.empty()) slot.LineEncoded("by", context.login);
  if (slot.full) return false;

  char slot_name[NAME_MAX + 1];
  Beside(name, kSlotSuffix, slot_name);
  Fd file(::openat(dir, slot_name,
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file) return false;
  if (!SetMark(file.get(), kOfferMarkName, kOfferMarkValue) && mark) {
    file.Close();
    ::unlinkat(dir, slot_name, 0);
    return false;
  }
  return WriteDurably(file, dir, slot_name, {slot.view()});
}

void MarkOpened(const char* name) {
  char slot[NAME_MAX + 1];
  Beside(name, kSlotSuffix, slot);
  if (!Exists(slot)) return;
  char opened[NAME_MAX + 1];
  Beside(name, kOpenedSuffix, opened);
  // Like the claim, unsynced: a crash that loses the mark costs the
  // customer the answer, never the offer.
  Fd file(::open(opened, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0666));
  if (!file) return;
  char stamp[kIsoStampSize + 1];
  IsoStamp(stamp);
  char line[64];
  int size = std::snprintf(line, sizeof line, "opened %s\n", stamp);
  if (WriteAll(file.get(), {line, static_cast<std::size_t>(size)})) {
    file.Close();
  }
}

int ReadAnswerState(int place_dir, const char* slot_name, std::string_view key,
                    const Context& context, Output& out) {
  std::string_view name(slot_name);
  name.remove_suffix(kSlotSuffix.size());
  std::span<char> buffer = context.lines;
  auto slot = ReadSmall(place_dir, slot_name, buffer.first(4096));
  if (!slot || key.empty() || Field(*slot, "key") != key) return Refuse(out);
  Done(out);
  out.Write("\n");
  for (std::string_view rest = *slot; !rest.empty();) {
    std::size_t end = rest.find('\n');
    std::string_view line =
        rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.starts_with("key ")) out.Write(line);
    rest.remove_prefix(line.size());
  }
  char sibling[NAME_MAX + 1];
  Beside(name, kOpenedSuffix, sibling);
  if (auto opened = ReadSmall(place_dir, sibling, buffer.subspan(4096, 256))) {
    out.Write(*opened);
  }
  Beside(name, kAnswerSuffix, sibling);
  if (auto answer =
          ReadSmall(place_dir, sibling, buffer.subspan(8192, 32 * 1024))) {
    std::size_t first = answer->find('\n');
    if (first != std::string_view::npos) out.Write(answer->substr(first + 1));
  }
  return 0;
}

int RunAnswer(const char* name, std::string_view body, const char* address,
              const Context& context, Output& out) {
  // The form is read before any file is looked at.
  char decoded[kAnswerMax];
  AnswerForm form;
  if (body.size() > sizeof decoded || !ReadForm(body, decoded, form)) {
    return Fail(out, Message::kAnswerIncomplete);
  }

  char slot_name[NAME_MAX + 1];
  Beside(name, kSlotSuffix, slot_name);
  char buffer[4096];
  // Without a root, only a slot store made is one: as for the offer's link.
  auto slot = ReadSmall(AT_FDCWD, slot_name, buffer, !context.root.confined);
  if (!slot) return Fail(out, Message::kAnswerNoSlot);
  char answer_name[NAME_MAX + 1];
  Beside(name, kAnswerSuffix, answer_name);
  if (Exists(answer_name)) return Fail(out, Message::kAnswerAlready);
  char opened[NAME_MAX + 1];
  Beside(name, kOpenedSuffix, opened);
  if (!Exists(opened)) return Fail(out, Message::kAnswerNotOpened);
  char stamp[kIsoStampSize + 1];
  IsoStamp(stamp);
  // The offer's last valid day, whole, in UTC.
  std::string_view until = Field(*slot, "until");
  if (!until.empty() && std::string_view(stamp, 10) > until) {
    return Fail(out, Message::kAnswerExpired);
  }

  std::string_view staged = Field(*slot, "sha256");
  const bool matched = staged == form.sha256;
  char text_buffer[4 * kAnswerMax];
  Text text{text_buffer, sizeof text_buffer};
  text.Add("talvenplan-answer 1\n");
  text.Line("decision", form.decision);
  text.LineEncoded("name", form.name);
  text.LineEncoded("message", form.message);
  text.Line("at", stamp);
  text.Line("sha256", form.sha256);
  text.Line("matched", matched ? "yes" : "no");
  if (address != nullptr) text.LineEncoded("address", address);
  if (text.full) return Fail(out, Message::kAnswerIncomplete);

  Fd here = OpenDirectory(".");
  if (!here) return Fail(out, Message::kAnswerCantWrite);
  if (auto failed = WriteAnswer(here.get(), answer_name, text.view())) {
    return Fail(out, *failed);
  }
  // The receipt: what the page shows the customer.
  Done(out);
  out.Write("\ndecision ");
  out.Write(form.decision);
  out.Write("\nat ");
  out.Write(std::string_view(stamp));
  out.Write("\nsha256 ");
  out.Write(form.sha256);
  out.Write(matched ? "\nmatched yes\n" : "\nmatched no\n");
  return 0;
}

}  // namespace talvenplan
