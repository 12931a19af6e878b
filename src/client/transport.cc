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

std::string Errno(const std::string& what) {
  return what + ": " + ::strerror(errno);
}

}  // namespace

Transfer PostOverHttp(const std::string& url, std::string_view body) {
  Transfer result;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                           curl_easy_cleanup);
  MemorySink sink;
  if (!curl || sink.file == nullptr) {
    result.problem = "can't set up an HTTP request";
    return result;
  }
  // The body is raw bytes, not a form; and a large one goes out at once,
  // without waiting for "100 Continue".
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
      curl_slist_append(nullptr, "Content-Type: application/octet-stream"),
      curl_slist_free_all);
  if (!headers || curl_slist_append(headers.get(), "Expect:") == nullptr) {
    result.problem = "can't set up an HTTP request";
    return result;
  }
  char error[CURL_ERROR_SIZE] = "";
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                   static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, sink.file);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
  // Give up on a server that sends nothing at all for two minutes.
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 120L);

  CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    result.problem = "can't reach " + url + ": " +
                     (error[0] != '\0' ? error : curl_easy_strerror(code));
    return result;
  }
  if (::fflush(sink.file) != 0) {
    result.problem = "out of memory for the answer";
    return result;
  }
  result.reached = true;
  result.answer.assign(sink.data, sink.size);
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    result.problem =
        "the web server answered with HTTP status " + std::to_string(status);
  }
  return result;
}

Transfer RunProgram(const std::string& path, std::string_view body,
                    const char* root) {
  Transfer result;
  Fd input = MemoryFile();
  Fd output = MemoryFile();
  if (!input || !output || !WriteAll(input.get(), body) ||
      ::lseek(input.get(), 0, SEEK_SET) != 0) {
    result.problem = Errno("can't prepare the program's input");
    return result;
  }

  std::string length = "CONTENT_LENGTH=" + std::to_string(body.size());
  std::string confinement =
      root != nullptr ? "TALVEN_ROOT=" + std::string(root) : std::string();
  char* env[] = {length.data(), root != nullptr ? confinement.data() : nullptr,
                 nullptr};
  std::string program = path;
  char* argv[] = {program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, output.get(), 1);
  pid_t pid = 0;
  int failed = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, env);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    result.problem = "can't run " + path + ": " + ::strerror(failed);
    return result;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result.problem = Errno("can't wait for " + path);
      return result;
    }
  }
  result.reached = true;
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    result.problem =
        path + " was killed by signal " + std::to_string(WTERMSIG(status));
  }

  char block[65536];
  if (::lseek(output.get(), 0, SEEK_SET) != 0) {
    result.problem = Errno("can't read the program's output");
    return result;
  }
  for (;;) {
    long got = ReadSome(output.get(), block, sizeof block);
    if (got < 0) {
      result.problem = Errno("can't read the program's output");
      break;
    }
    if (got == 0) break;
    result.answer.append(block, static_cast<std::size_t>(got));
  }
  return result;
}

}  // namespace talvenplan::client
