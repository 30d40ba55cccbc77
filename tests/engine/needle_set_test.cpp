// The many-needle search must find exactly what looking for each needle on its
// own finds. Random haystacks over small alphabets make near misses, shared
// prefixes and overlapping occurrences common; the needles outnumber the
// filter's eight buckets, so buckets are shared and rebuilt as needles are found.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/find_bytes.h"

namespace tessaro {
namespace {

struct Case {
  std::string haystack;
  std::vector<std::string> needles;
};

Case RandomCase(std::mt19937& rng, int iteration) {
  Case c;
  const int alphabet = iteration % 7 == 0 ? 256 : 2 + static_cast<int>(rng() % 5);
  const std::size_t length = iteration % 3 == 0 ? rng() % 5000 : rng() % 300;
  for (std::size_t i = 0; i < length; ++i) c.haystack.push_back(static_cast<char>(rng() % alphabet));
  const int count = 1 + static_cast<int>(rng() % 24);
  for (int k = 0; k < count; ++k) {
    std::string needle;
    const std::size_t n = rng() % 13;  // 0 .. 12 bytes: empty, short and long ones
    if (!c.haystack.empty() && rng() % 2 == 0 && n <= c.haystack.size()) {
      needle = c.haystack.substr(rng() % (c.haystack.size() - n + 1), n);  // one that occurs
    } else {
      for (std::size_t i = 0; i < n; ++i) needle.push_back(static_cast<char>(rng() % alphabet));
    }
    c.needles.push_back(needle);
  }
  return c;
}

std::vector<unsigned char> Expected(const Case& c) {
  std::vector<unsigned char> found;
  for (const std::string& n : c.needles) {
    found.push_back(FindBytes(reinterpret_cast<const unsigned char*>(c.haystack.data()), c.haystack.size(),
                              reinterpret_cast<const unsigned char*>(n.data()), n.size()) != nullptr);
  }
  return found;
}

std::vector<unsigned char> Searched(const Case& c, bool fast, std::vector<unsigned char> found = {}) {
  if (found.empty()) found.assign(c.needles.size(), 0);
  NeedleSet set;
  set.Reserve(c.needles.size());
  set.UseFastPath(fast);
  for (std::size_t i = 0; i < c.needles.size(); ++i) {
    set.Add(reinterpret_cast<const unsigned char*>(c.needles[i].data()), c.needles[i].size(), &found[i]);
  }
  set.Search(reinterpret_cast<const unsigned char*>(c.haystack.data()), c.haystack.size());
  return found;
}

TEST(NeedleSetTest, FindsWhatEachNeedleAloneFinds) {
  std::mt19937 rng(20240601);
  for (int iteration = 0; iteration < 20000; ++iteration) {
    const Case c = RandomCase(rng, iteration);
    const auto expected = Expected(c);
    ASSERT_EQ(Searched(c, true), expected) << "iteration " << iteration;
    ASSERT_EQ(Searched(c, false), expected) << "iteration " << iteration;
  }
}

TEST(NeedleSetTest, AnOccurrenceAtTheVeryEndIsFound) {
  // The vector filter stops short of the end; the last positions are done one by one.
  for (std::size_t length = 3; length < 200; ++length) {
    Case c;
    c.haystack.assign(length, 'x');
    c.haystack.replace(length - 3, 3, "abc");
    c.needles = {"abc", "bc", "xab"};
    const std::vector<unsigned char> all(3, 1);
    EXPECT_EQ(Searched(c, true), (length >= 4 ? all : std::vector<unsigned char>{1, 1, 0})) << length;
  }
}

TEST(NeedleSetTest, AFlagAlreadySetStaysSetAndAnEmptyNeedleIsNeverFound) {
  Case c;
  c.haystack = std::string(1000, 'q');
  c.needles = {"absent", "", "qqqq"};
  EXPECT_EQ(Searched(c, true, {1, 0, 0}), (std::vector<unsigned char>{1, 0, 1}));
}

TEST(NeedleSetTest, ManyNeedlesWithOnePrefixShareABucketAndAreAllFound) {
  Case c;
  for (int i = 0; i < 40; ++i) c.needles.push_back("PK\x03" + std::to_string(i));
  for (int i = 0; i < 40; i += 3) c.haystack += "....PK\x03" + std::to_string(i) + "....";
  c.haystack += std::string(4096, '\0');
  EXPECT_EQ(Searched(c, true), Expected(c));
}

}  // namespace
}  // namespace tessaro
