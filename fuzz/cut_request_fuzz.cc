// Cuts arbitrary bodies into request fields: every field must lie inside the
// body and stand as a C string, whatever bytes arrive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Exactly the bytes and the trailing NUL, so any read past them is caught.
  char* body = static_cast<char*>(std::malloc(size + 1));
  std::memcpy(body, data, size);
  body[size] = '\0';
  talvenplan::Request request = talvenplan::CutRequest(body, size);
  for (std::string_view field :
       {request.directory, request.key, request.name}) {
    if (field.data()[field.size()] != '\0') std::abort();
    if (std::memchr(field.data(), '\0', field.size()) != nullptr) std::abort();
  }
  if (size > 0 && request.letter != body[0]) std::abort();
  if (!request.text.empty() &&
      (request.text.data() < body ||
       request.text.data() + request.text.size() != body + size)) {
    std::abort();
  }
  std::free(body);
  return 0;
}
