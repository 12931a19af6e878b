#include "client/transport.h"

#include <curl/curl.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "io/fd.h"

namespace talvenplan::client {
namespace {

// The response body, collected by libcurl's own writer into a memory stream.
struct MemorySink {
  MemorySink() : file(::open_memstream(&data, &size)) {}
  ~MemorySink() {
    if (file != nullptr) ::fclose(file);
    ::free(data);
  }
  MemorySink(const MemorySink&) = delete;
  MemorySink& operator=(const MemorySink&) = delete;

  char* data = nullptr;
  std::size_t size = 0;
  FILE* file = nullptr;
};

// An anonymous file for the program's standard input or output, kept above
// the three standard descriptors so that mapping it onto 0 or 1 never clashes
// with itself.
Fd MemoryFile() {
  Fd made(::memfd_create("talvenplan-client", MFD_CLOEXEC));
  if (!made || made.get() > 2) return made;
  return Fd(::fcntl(made.get(), F_DUPFD_CLOEXEC, 3));
}

Transfer Broken(Fault fault, long code, std::string detail) {
  Transfer result;
  result.fault = fault;
  result.code = code;
  result.detail = std::move(detail);
  return result;
}

Transfer NotRun(int error, const std::string& what) {
  return Broken(Fault::kNotReached, error, what + ": " + ::strerror(error));
}

// The options of a POST of `body` to `url`: the answer goes to `sink` and
// curl's own error text to `error`.
void SetRequest(CURL* handle, const std::string& url, std::string_view body,
                const Login& login, curl_slist* headers, FILE* sink,
                char* error) {
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                   static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, sink);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
  // Give up on a server that sends nothing at all for two minutes.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 120L);
  // A login from --user, else from the netrc file when it names the host.
  curl_easy_setopt(handle, CURLOPT_NETRC,
                   static_cast<long>(CURL_NETRC_OPTIONAL));
  if (!login.netrc_file.empty()) {
    curl_easy_setopt(handle, CURLOPT_NETRC_FILE, login.netrc_file.c_str());
  }
  if (login.user) {
    curl_easy_setopt(handle, CURLOPT_USERNAME, login.user->c_str());
  }
  if (login.password) {
    curl_easy_setopt(handle, CURLOPT_PASSWORD, login.password->c_str());
  }
}

}  // namespace

Transfer PostOverHttp(const std::string& url, std::string_view body,
                      const Login& login) {
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                           curl_easy_cleanup);
  MemorySink sink;
  // The body is raw bytes, not a form; and a large one goes out at once,
  // without waiting for "100 Continue".
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Content-Type: application/octet-stream"),
      curl_slist_free_all);
  if (!curl || sink.file == nullptr || !headers ||
      curl_slist_append(headers.get(), "Expect:") == nullptr) {
    return Broken(Fault::kNotReached, CURLE_OUT_OF_MEMORY,
                  "can't set up an HTTP request: out of memory");
  }
  char error[CURL_ERROR_SIZE] = "";
  SetRequest(curl.get(), url, body, login, headers.get(), sink.file, error);
  CURLcode code = curl_easy_perform(curl.get());
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (code != CURLE_OK) {
    // Once a response has begun, the request was delivered: what broke off
    // is the answer, and the command may have been carried out.
    return Broken(status != 0 || code == CURLE_PARTIAL_FILE
                      ? Fault::kCutShort
                      : Fault::kNotReached,
                  code, error[0] != '\0' ? error : curl_easy_strerror(code));
  }
  if (::fflush(sink.file) != 0) {
    return Broken(Fault::kCutShort, CURLE_OUT_OF_MEMORY,
                  "out of memory for the answer");
  }
  Transfer result;
  result.answer.assign(sink.data, sink.size);
  if (status != 200) {
    result.fault = Fault::kHttpStatus;
    result.code = status;
  }
  return result;
}

std::string OfferLink(const std::string& url, const std::string& query,
                      std::string& error) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> link(curl_url(),
                                                           curl_url_cleanup);
  if (!link) {
    error = curl_url_strerror(CURLUE_OUT_OF_MEMORY);
    return {};
  }
  char* own = nullptr;
  CURLUcode code = curl_url_set(link.get(), CURLUPART_URL, url.c_str(), 0);
  if (code == CURLUE_OK) {
    CURLUcode got = curl_url_get(link.get(), CURLUPART_QUERY, &own, 0);
    if (got != CURLUE_OK && got != CURLUE_NO_QUERY) code = got;
  }
  std::unique_ptr<char, decltype(&curl_free)> kept(own, curl_free);
  if (code == CURLUE_OK) {
    code = curl_url_set(link.get(), CURLUPART_QUERY, query.c_str(), 0);
  }
  if (code == CURLUE_OK && kept) {
    code = curl_url_set(link.get(), CURLUPART_QUERY, kept.get(),
                        CURLU_APPENDQUERY);
  }
  char* text = nullptr;
  if (code == CURLUE_OK) {
    code = curl_url_get(link.get(), CURLUPART_URL, &text, 0);
  }
  if (code != CURLUE_OK) {
    error = curl_url_strerror(code);
    return {};
  }
  std::string made = text;
  curl_free(text);
  return made;
}

Transfer RunProgram(const std::string& path, std::string_view body,
                    const std::vector<std::string>& settings) {
  Transfer result;
  Fd input = MemoryFile();
  Fd output = MemoryFile();
  if (!input || !output || !WriteAll(input.get(), body) ||
      ::lseek(input.get(), 0, SEEK_SET) != 0) {
    return NotRun(errno, "can't prepare the program's input");
  }

  std::vector<std::string> entries = settings;
  entries.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  std::vector<char*> env;
  for (std::string& entry : entries) env.push_back(entry.data());
  env.push_back(nullptr);
  std::string program = path;
  char* argv[] = {program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, output.get(), 1);
  pid_t pid = 0;
  int failed =
      ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return NotRun(failed, "can't run " + path);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return NotRun(errno, "can't wait for " + path);
  }
  if (WIFSIGNALED(status)) {
    result.fault = Fault::kKilled;
    result.code = WTERMSIG(status);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    result.fault = Fault::kExited;
    result.code = WEXITSTATUS(status);
  }

  char block[65536];
  long got = ::lseek(output.get(), 0, SEEK_SET);
  while (got >= 0) {
    got = ReadSome(output.get(), block, sizeof block);
    if (got == 0) return result;
    if (got > 0) result.answer.append(block, static_cast<std::size_t>(got));
  }
  // The program ran, but what it answered is lost here.
  result.fault = Fault::kCutShort;
  result.code = errno;
  result.detail =
      std::string("can't read the program's output: ") + ::strerror(errno);
  return result;
}

}  // namespace talvenplan::client
