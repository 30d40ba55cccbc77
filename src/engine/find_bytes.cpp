// Substring search. One needle: the C library's memmem where it has one (a
// two-way search with a vectorised first-byte scan), else memchr for the first
// byte and a compare of the rest. Many needles: a nibble-table filter over two
// bytes of each position, eight buckets of needles at a time, in the manner of
// the Teddy search of Hyperscan.

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "engine/find_bytes.h"

#include <bit>
#include <cstring>
#include <string.h>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define TESSARO_NEEDLES_AVX2 1
#include <immintrin.h>
#endif

namespace tessaro {

const unsigned char* FindBytes(const unsigned char* haystack, std::size_t haystackLength,
                               const unsigned char* needle, std::size_t needleLength) {
  if (needleLength == 0 || needleLength > haystackLength) return nullptr;
#if defined(__GLIBC__)
  return static_cast<const unsigned char*>(::memmem(haystack, haystackLength, needle, needleLength));
#else
  const unsigned char first = needle[0];
  const unsigned char* p = haystack;
  const unsigned char* last = haystack + (haystackLength - needleLength);
  while (p <= last) {
    p = static_cast<const unsigned char*>(std::memchr(p, first, static_cast<std::size_t>(last - p) + 1));
    if (p == nullptr) return nullptr;
    if (std::memcmp(p + 1, needle + 1, needleLength - 1) == 0) return p;
    ++p;
  }
  return nullptr;
#endif
}

namespace {

// The filter looks at the bytes 0 and 2 of a needle, not 0 and 1: content
// strings in UTF-16 ("W\0o\0r\0d\0") have a zero at every odd place, and a
// filter on "W\0" would let through every W of a document's text. Two bytes
// rather than three keep it as fast as the read that feeds it; the compare
// that follows settles the rare position that gets through.
constexpr std::size_t kFirst = 0;
constexpr std::size_t kSecond = 2;
constexpr std::size_t kPrefix = 3;  // a needle this long or longer goes through the filter

}  // namespace

bool NeedleSet::FastPathAvailable() {
#if defined(TESSARO_NEEDLES_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

void NeedleSet::Reserve(std::size_t needles) {
  short_.reserve(needles);
  long_.reserve(needles);
  bucketMembers_.reserve(needles);
  bucketOf_.reserve(needles);
}

void NeedleSet::Clear() {
  short_.clear();
  long_.clear();
}

void NeedleSet::Add(const unsigned char* needle, std::size_t length, unsigned char* found) {
  if (length == 0) return;  // never found: its flag stays as it is
  (length < kPrefix ? short_ : long_).push_back(Needle{needle, length, found});
}

bool NeedleSet::Build() {
  // Needles with the same two filtered bytes share a bucket, so the filter lets
  // through no position that none of them could begin at. Past eight distinct
  // pairs, buckets are shared.
  std::uint32_t keys[kBuckets];
  std::uint16_t nibbleSets[kBuckets][4] = {};  // per bucket: the nibbles of its pairs
  int used = 0;
  std::uint32_t count[kBuckets] = {};
  bucketOf_.resize(long_.size());
  std::size_t live = 0;
  for (std::size_t i = 0; i < long_.size(); ++i) {
    const Needle& needle = long_[i];
    if (*needle.found) {
      bucketOf_[i] = kBuckets;  // left out
      continue;
    }
    ++live;
    const std::uint32_t key = needle.bytes[kFirst] | (needle.bytes[kSecond] << 8);
    int bucket = -1;
    for (int b = 0; b < used; ++b) {
      if (keys[b] == key) {
        bucket = b;
        break;
      }
    }
    if (bucket < 0) {
      if (used < kBuckets) {
        keys[used] = key;
        bucket = used++;
      } else {
        // The bucket whose tables grow the least: the filter lets a position
        // through when each of the four nibbles is in its bucket's set, so
        // what counts is the product of the four set sizes.
        std::uint64_t best = ~std::uint64_t{0};
        for (int b = 0; b < kBuckets; ++b) {
          std::uint64_t before = 1, after = 1;
          for (int nibble = 0; nibble < 4; ++nibble) {
            const unsigned value = (key >> (4 * nibble)) & 15;
            const int size = std::popcount(nibbleSets[b][nibble]);
            before *= static_cast<std::uint64_t>(size);
            after *= static_cast<std::uint64_t>(size + ((nibbleSets[b][nibble] >> value) & 1 ? 0 : 1));
          }
          if (after - before < best) {
            best = after - before;
            bucket = b;
          }
        }
      }
    }
    for (int nibble = 0; nibble < 4; ++nibble) {
      nibbleSets[bucket][nibble] |= static_cast<std::uint16_t>(1u << ((key >> (4 * nibble)) & 15));
    }
    bucketOf_[i] = static_cast<unsigned char>(bucket);
    ++count[bucket];
  }
  if (live == 0) return false;

  bucketStart_[0] = 0;
  for (int b = 0; b < kBuckets; ++b) bucketStart_[b + 1] = bucketStart_[b] + count[b];
  bucketMembers_.resize(live);
  std::uint32_t fill[kBuckets];
  for (int b = 0; b < kBuckets; ++b) fill[b] = bucketStart_[b];
  std::memset(low_, 0, sizeof low_);
  std::memset(high_, 0, sizeof high_);
  for (std::size_t i = 0; i < long_.size(); ++i) {
    const int bucket = bucketOf_[i];
    if (bucket == kBuckets) continue;
    bucketMembers_[fill[bucket]++] = static_cast<std::uint32_t>(i);
    const unsigned char bit = static_cast<unsigned char>(1u << bucket);
    const unsigned char first = long_[i].bytes[kFirst];
    const unsigned char second = long_[i].bytes[kSecond];
    low_[0][first & 15] |= bit;
    high_[0][first >> 4] |= bit;
    low_[1][second & 15] |= bit;
    high_[1][second >> 4] |= bit;
  }
  return true;
}

bool NeedleSet::Verify(const unsigned char* haystack, std::size_t length, std::size_t position,
                       unsigned mask) {
  bool found = false;
  while (mask != 0) {
    const int bucket = std::countr_zero(mask);
    mask &= mask - 1;
    for (std::uint32_t m = bucketStart_[bucket]; m < bucketStart_[bucket + 1]; ++m) {
      const Needle& needle = long_[bucketMembers_[m]];
      if (*needle.found || needle.length > length - position) continue;
      if (std::memcmp(haystack + position, needle.bytes, needle.length) == 0) {
        *needle.found = 1;
        found = true;
      }
    }
  }
  return found;
}

// The filter one position at a time: for the last few positions of a haystack.
std::size_t NeedleSet::ScanScalar(const unsigned char* h, std::size_t length, std::size_t from) {
  for (std::size_t p = from; p + kPrefix <= length; ++p) {
    const unsigned char a = h[p + kFirst];
    const unsigned char b = h[p + kSecond];
    const unsigned mask = low_[0][a & 15] & high_[0][a >> 4] & low_[1][b & 15] & high_[1][b >> 4];
    if (mask != 0 && Verify(h, length, p, mask) && !Build()) return length;
  }
  return length;
}

#if defined(TESSARO_NEEDLES_AVX2)
__attribute__((target("avx2"))) std::size_t NeedleSet::ScanAvx2(const unsigned char* h,
                                                                std::size_t length,
                                                                std::size_t from) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  __m256i lo0, hi0, lo1, hi1;
  auto loadTables = [&]() __attribute__((target("avx2"))) {
    lo0 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low_[0])));
    hi0 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(high_[0])));
    lo1 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low_[1])));
    hi1 = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(high_[1])));
  };
  loadTables();
  // For 32 positions at once: the buckets whose prefixes could begin there.
  auto candidates = [&](const unsigned char* at) __attribute__((target("avx2"))) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + kFirst));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + kSecond));
    __m256i r = _mm256_and_si256(
        _mm256_shuffle_epi8(lo0, _mm256_and_si256(v0, nibble)),
        _mm256_shuffle_epi8(hi0, _mm256_and_si256(_mm256_srli_epi16(v0, 4), nibble)));
    r = _mm256_and_si256(r, _mm256_shuffle_epi8(lo1, _mm256_and_si256(v1, nibble)));
    r = _mm256_and_si256(r, _mm256_shuffle_epi8(hi1, _mm256_and_si256(_mm256_srli_epi16(v1, 4), nibble)));
    return r;
  };
  // Compares in full at every position of a block that the filter let through.
  // A found needle changes the buckets, so the rest of the block is filtered
  // again with the new tables. 0: nothing found; 1: found, tables rebuilt;
  // 2: no long needle is left to look for.
  auto settle = [&](std::size_t base, __m256i r) __attribute__((target("avx2"))) {
    int outcome = 0;
    alignas(32) unsigned char lanes[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), r);
    unsigned bits = ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, _mm256_setzero_si256())));
    while (bits != 0) {
      const int i = std::countr_zero(bits);
      bits &= bits - 1;
      if (!Verify(h, length, base + static_cast<std::size_t>(i), lanes[i])) continue;
      if (!Build()) return 2;
      loadTables();
      outcome = 1;
      r = candidates(h + base);
      _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), r);
      bits = ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, _mm256_setzero_si256())));
      bits &= ~((2u << i) - 1u);  // the positions after i
    }
    return outcome;
  };

  std::size_t p = from;
  // Each block reads 34 bytes: 32 positions and the two bytes after the last.
  while (p + 64 + kPrefix - 1 <= length) {
    const __m256i a = candidates(h + p);
    __m256i b = candidates(h + p + 32);
    if (!_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_or_si256(a, b))) {
      if (!_mm256_testz_si256(a, a)) {
        const int outcome = settle(p, a);
        if (outcome == 2) return length;
        if (outcome == 1) b = candidates(h + p + 32);
      }
      if (!_mm256_testz_si256(b, b) && settle(p + 32, b) == 2) return length;
    }
    p += 64;
  }
  while (p + 32 + kPrefix - 1 <= length) {
    const __m256i a = candidates(h + p);
    if (!_mm256_testz_si256(a, a) && settle(p, a) == 2) return length;
    p += 32;
  }
  return ScanScalar(h, length, p);
}
#else
std::size_t NeedleSet::ScanAvx2(const unsigned char* h, std::size_t length, std::size_t from) {
  return ScanScalar(h, length, from);
}
#endif

void NeedleSet::Search(const unsigned char* haystack, std::size_t length) {
  for (const Needle& needle : short_) {
    if (!*needle.found && FindBytes(haystack, length, needle.bytes, needle.length)) *needle.found = 1;
  }
  if (long_.empty()) return;
  if (!fastPath_) {
    for (const Needle& needle : long_) {
      if (!*needle.found && FindBytes(haystack, length, needle.bytes, needle.length)) *needle.found = 1;
    }
    return;
  }
  if (!Build()) return;
  ScanAvx2(haystack, length, 0);
}

}  // namespace tessaro
