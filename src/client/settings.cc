#include "client/settings.h"

#include <algorithm>

namespace talvenplan::client {
namespace {

bool IsServerSetting(std::string_view name) {
  return std::find(std::begin(kServerSettings), std::end(kServerSettings),
                   name) != std::end(kServerSettings);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void SkipBlanks(std::string_view& text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
}

bool IsNameByte(char c, bool first) {
  return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (!first && c >= '0' && c <= '9');
}

// The value at the start of `rest`, which must then end the line (a comment
// may follow). Empty `problem` when it can be read without a shell.
std::string ReadValue(std::string_view rest, std::string& problem) {
  std::string value;
  const char quote = rest.empty() ? '\0' : rest.front();
  if (quote == '\'' || quote == '"') {
    std::size_t end = rest.find(quote, 1);
    if (end == std::string_view::npos) {
      problem = "its quote does not end on the line";
      return {};
    }
    value = rest.substr(1, end - 1);
    rest.remove_prefix(end + 1);
    if (quote == '"' && value.find_first_of("$`\\") != std::string::npos) {
      problem = "it expands something in double quotes";
      return {};
    }
  } else {
    std::size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end])) ++end;
    value = rest.substr(0, end);
    rest.remove_prefix(end);
    if (value.find_first_of("$`\\\"';&|<>()") != std::string::npos) {
      problem = "its value needs a shell to be read";
      return {};
    }
  }
  SkipBlanks(rest);
  if (!rest.empty() && rest.front() != '#') {
    problem = "more follows its value";
    return {};
  }
  return value;
}

}  // namespace

std::string ReadSettings(std::string_view text,
                         std::map<std::string, std::string>& settings) {
  int number = 0;
  while (!text.empty()) {
    ++number;
    std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(std::min(text.size(), line.size() + 1));
    SkipBlanks(line);
    if (line.starts_with("export") && line.size() > 6 && IsBlank(line[6])) {
      line.remove_prefix(6);
      SkipBlanks(line);
    }
    std::size_t end = 0;
    while (end < line.size() && IsNameByte(line[end], end == 0)) ++end;
    if (end == line.size() || line[end] != '=') continue;
    std::string name(line.substr(0, end));
    if (!IsServerSetting(name)) continue;
    std::string problem;
    std::string value = ReadValue(line.substr(end + 1), problem);
    if (!problem.empty()) {
      return "line " + std::to_string(number) + " sets " + name +
             " in a way the client does not read: " + problem;
    }
    settings[name] = value;
  }
  return {};
}

std::vector<std::string> ProgramSettings(
    const std::map<std::string, std::string>& environment,
    const std::map<std::string, std::string>& file) {
  std::vector<std::string> entries;
  for (std::string_view setting : kServerSettings) {
    std::string name(setting);
    const auto* from = environment.contains(name) ? &environment
                       : file.contains(name)      ? &file
                                                  : nullptr;
    if (from != nullptr) entries.push_back(name + "=" + from->at(name));
  }
  return entries;
}

}  // namespace talvenplan::client
