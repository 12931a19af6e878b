#include "protocol/request.h"

#include <cstring>

#include "protocol/bytes.h"
#include "protocol/wire.h"

namespace talvenplan {

Request CutRequest(char* body, std::size_t count) {
  char* const end = body + count;
  char* p = body + (count < 2 ? count : 2);
  Request request;
  request.letter = body[0];

  // Ends the field at `p` and steps past the byte that ended it. At the end
  // of the body the trailing NUL already ends the field.
  auto cut = [end](char*& p) {
    if (p < end) *p++ = '\0';
  };

  char* directory = p;
  while (p < end && !IsLineEnd(*p)) ++p;
  request.directory = {directory, p};
  cut(p);

  if (request.letter == 'l') {
    while (p < end && IsLineEnd(*p)) ++p;
    char* word = p;
    while (p < end && !IsLineEnd(*p)) ++p;
    request.logins = std::string_view(word, p) == kListByWord;
    return request;
  }
  if (request.letter == 's') {
    while (p < end && IsSeparator(*p)) ++p;
    request.text = {p, end};
    return request;
  }

  while (p < end && IsLineEnd(*p)) ++p;
  char* key = p;
  while (p < end && *p != ' ') ++p;
  request.key = {key, ::strnlen(key, static_cast<std::size_t>(p - key))};
  cut(p);

  char* name = p;
  while (p < end && !IsSeparator(*p)) ++p;
  request.name = {name, p};
  cut(p);

  request.text = {p, end};
  return request;
}

std::string BuildBody(char letter, std::string_view directory,
                      std::string_view key, std::string_view name,
                      std::string_view text) {
  std::string body;
  body.reserve(directory.size() + key.size() + name.size() + text.size() + 5);
  body += letter;
  body += '\n';
  body += directory;
  body += '\n';
  if (letter != 'l' && letter != 's') {
    body += key;
    body += ' ';
    body += name;
    body += '\n';
  }
  body += text;
  return body;
}

}  // namespace talvenplan
