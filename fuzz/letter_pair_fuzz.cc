// Decodes arbitrary offer-link texts, a name and then a directory, into
// buffers of every small size: no read past the text, no write past the
// buffer, and a complete name is what the pairs say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/letter_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t out_size = data[0] % 40;
  // Exactly the bytes and their NUL, and exactly the buffer, so that any
  // access past either is caught.
  char* text = static_cast<char*>(std::malloc(size));
  std::memcpy(text, data + 1, size - 1);
  text[size - 1] = '\0';
  char* out = static_cast<char*>(std::malloc(out_size == 0 ? 1 : out_size));

  talvenplan::DecodedName name =
      talvenplan::DecodeLetterPairs(text, {out, out_size});
  if (name.complete) {
    if (name.size + 1 > out_size || out[name.size] != '\0') std::abort();
    // The name took two letters a byte, and the text goes on after its 'z'.
    if (name.rest != text + 2 * name.size + 1 || name.rest[-1] != 'z') {
      std::abort();
    }
    for (std::size_t i = 0; i < name.size; ++i) {
      unsigned first = static_cast<unsigned char>(text[2 * i]);
      unsigned second = static_cast<unsigned char>(text[2 * i + 1]);
      if (static_cast<unsigned char>(out[i]) !=
          ((first + 16 * second - 97 * 17) & 0xFF)) {
        std::abort();
      }
    }
    std::size_t left = out_size - name.size - 1;
    talvenplan::DecodeLetterPairs(name.rest, {out + name.size + 1, left});
  }
  std::free(out);
  std::free(text);
  return 0;
}
