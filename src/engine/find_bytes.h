#pragma once
// Substring search over raw bytes: one needle, or many at once.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessaro {

// Position of the first occurrence of `needle` in `haystack`, or null. An empty
// needle is never found.
const unsigned char* FindBytes(const unsigned char* haystack, std::size_t haystackLength,
                               const unsigned char* needle, std::size_t needleLength);

// Tells which of a set of needles occur in a haystack, in one pass over it.
//
// A container fragment is searched for the content strings of every candidate
// kind together; searching for each in turn would walk each 256 KiB chunk once
// per string and leave the scan far behind the disk. Needles of three bytes or
// more go through a filter that looks at two of the first three bytes of every
// position, many positions at once (32 positions per step where the processor has AVX2); the
// few positions it lets through are compared in full. Shorter needles use
// FindBytes.
//
// The set only points at the needles and their flags; both must outlive its
// use. Reserve once, then Clear and Add per use: nothing is allocated then.
class NeedleSet {
 public:
  void Reserve(std::size_t needles);
  void Clear();
  // `found` is set to 1 once the needle has occurred; a needle whose flag is
  // already set is not looked for. An empty needle is never found.
  void Add(const unsigned char* needle, std::size_t length, unsigned char* found);
  // Looks for every needle whose flag is still 0 in `haystack`.
  void Search(const unsigned char* haystack, std::size_t length);

  // The filter, for the tests and the benchmarks: false forces the plain
  // one-needle-at-a-time search.
  static bool FastPathAvailable();
  void UseFastPath(bool on) { fastPath_ = on && FastPathAvailable(); }

  static constexpr int kBuckets = 8;

 private:
  struct Needle {
    const unsigned char* bytes;
    std::size_t length;
    unsigned char* found;
  };
  // Groups the unfound long needles into buckets and fills the nibble tables.
  // False when no long needle is left.
  bool Build();
  // Compares the needles of the buckets in `mask` at `position`; true when one
  // was found (the tables are then out of date).
  bool Verify(const unsigned char* haystack, std::size_t length, std::size_t position,
              unsigned mask);
  std::size_t ScanScalar(const unsigned char* haystack, std::size_t length, std::size_t from);
  std::size_t ScanAvx2(const unsigned char* haystack, std::size_t length, std::size_t from);

  std::vector<Needle> short_;   // one or two bytes
  std::vector<Needle> long_;    // three bytes or more
  // Bucket b holds the indexes into long_ of bucketStart_[b] .. bucketStart_[b+1).
  std::vector<std::uint32_t> bucketMembers_;
  std::vector<unsigned char> bucketOf_;  // per long_ needle, during Build
  std::uint32_t bucketStart_[kBuckets + 1] = {};
  // For filtered byte j (0: the needle's byte 0, 1: its byte 2): low[j][n] has
  // bit b set when some needle of bucket b has low nibble n there; high[j][n]
  // the same for the high nibble.
  alignas(32) unsigned char low_[2][16] = {};
  alignas(32) unsigned char high_[2][16] = {};
  bool fastPath_ = FastPathAvailable();
};

}  // namespace tessaro
