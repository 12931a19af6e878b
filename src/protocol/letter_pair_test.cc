#include "protocol/letter_pair.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "protocol/wire.h"
#include "vectors.h"

namespace talvenplan {
namespace {

struct Decoded {
  bool complete;
  std::string bytes;
  std::string rest;
};

Decoded Decode(const std::string& text, std::size_t room = 1000) {
  // A guard byte after the room the decoder is given must stay untouched.
  std::vector<char> out(room + 1, '#');
  DecodedName name = DecodeLetterPairs(text.c_str(), {out.data(), room});
  EXPECT_EQ(out[room], '#');
  if (!name.complete) return {false, "", ""};
  EXPECT_EQ(out[name.size], '\0');
  return {true, std::string(out.data(), name.size), name.rest};
}

TEST(LetterPairTest, EveryByteValueRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  Decoded got =
      Decode(EncodeLetterPairs(all) + "z" + EncodeLetterPairs("/tmp") + "z");
  EXPECT_TRUE(got.complete);
  EXPECT_EQ(got.bytes, all);
  EXPECT_EQ(got.rest, EncodeLetterPairs("/tmp") + "z");
}

TEST(LetterPairTest, AnyLettersDecodeModulo256) {
  // For every byte and every possible second letter, the first letter that
  // completes the sum; a first letter that is NUL or 'z' cannot be written.
  for (int b = 0; b < 256; ++b) {
    for (int second = 1; second < 256; ++second) {
      int first = ((b - 16 * (second - 97)) + 97) & 0xFF;
      if (first == 0 || first == 'z') continue;
      std::string pair = {static_cast<char>(first), static_cast<char>(second)};
      Decoded got = Decode(pair + "z");
      ASSERT_TRUE(got.complete) << b << " " << second;
      ASSERT_EQ(got.bytes, std::string(1, static_cast<char>(b)))
          << b << " " << second;
    }
  }
}

TEST(LetterPairTest, LinksAgreeWithTheVectors) {
  auto vectors = testing::ReadVectors("links.tsv");
  ASSERT_FALSE(vectors.empty());
  for (const auto& v : vectors) {
    EXPECT_EQ(OfferLinkQuery(v[0], v[1]), v[2]);
    Decoded name = Decode(v[2].substr(kOfferKey.size()));
    EXPECT_EQ(name.bytes, v[0]);
    EXPECT_EQ(Decode(name.rest).bytes, v[1]);
  }
}

TEST(OfferNameTest, FormAgreesWithTheVectors) {
  for (const auto& v : testing::ReadVectors("offer_names.tsv")) {
    EXPECT_EQ(IsOfferName(v[0]), v[1] == "yes") << v[0];
  }
}

TEST(LetterPairTest, OnlyTheFirstLetterOfAPairEndsTheName) {
  // "az" is the pair (0, 25): 400 mod 256.
  EXPECT_EQ(Decode("azz").bytes, "\x90");
  Decoded got = Decode("ocbgzcgz");
  EXPECT_EQ(got.bytes, ".a");
  EXPECT_EQ(got.rest, "cgz");
  Decoded empty = Decode("zrest");
  EXPECT_TRUE(empty.complete);
  EXPECT_EQ(empty.bytes, "");
  EXPECT_EQ(empty.rest, "rest");
}

TEST(LetterPairTest, EndingInsideTheNameIsIncomplete) {
  for (const char* text : {"", "oc", "ocb", "ocbz", "oc\xff"}) {
    EXPECT_FALSE(Decode(text).complete) << "'" << text << "'";
  }
}

TEST(LetterPairTest, NameMustFitWithItsNul) {
  std::string text = EncodeLetterPairs("abcd") + "z";
  EXPECT_TRUE(Decode(text, 5).complete);
  EXPECT_FALSE(Decode(text, 4).complete);
  EXPECT_FALSE(Decode(text, 0).complete);
  EXPECT_TRUE(Decode("z", 1).complete);
  EXPECT_FALSE(Decode("z", 0).complete);
}

TEST(LetterPairTest, NeverReadsPastTheEndOfTheText) {
  // The text's NUL is the last byte before an inaccessible page: any read
  // past it faults.
  long page = ::sysconf(_SC_PAGESIZE);
  auto* base =
      static_cast<char*>(::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(base, MAP_FAILED);
  ASSERT_EQ(::mprotect(base + page, page, PROT_NONE), 0);
  char out[16];
  for (const char* text : {"", "o", "oc", "ocb", "ocbg"}) {
    std::size_t size = std::strlen(text) + 1;
    char* at = base + page - size;
    std::memcpy(at, text, size);
    EXPECT_FALSE(DecodeLetterPairs(at, out).complete) << "'" << text << "'";
  }
  ::munmap(base, 2 * page);
}

}  // namespace
}  // namespace talvenplan
