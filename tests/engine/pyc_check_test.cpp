// The Python bytecode checker on small code objects made by hand, checked
// against what CPython's own marshal accepts: references that loop or point
// ahead, unknown type bytes, fields of the wrong type, cuts inside the code
// object, and the type that only one version knows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/check_kit.h"

namespace tessaro::formats {
namespace {

using testing::Le;

// A 16-byte header of the version of `magic`, then a module's code object
// in the 3.11+ layout whose constants are `consts`.
std::string Pyc(std::uint16_t magic, const std::string& consts, char code = 'c') {
  const std::string empty = ")" + std::string(1, '\0');
  const std::string noBytes = "s" + Le(0);
  std::string b =
      Le(magic, 2) + "\r\n" + std::string(12, '\0') + code;
  b += Le(0) + Le(0) + Le(0) + Le(1) + Le(0);  // argcount ... flags
  b += "s" + Le(2) + std::string("\x97\0", 2);             // the bytecode
  b += consts + empty + empty + noBytes + "z\1m" + "z\1m" + "z\1m" + Le(1) + noBytes + noBytes;
  return b;
}

constexpr std::uint16_t k311 = 3495;
constexpr std::uint16_t k314 = 3627;

TEST(PycCheckTest, WalksTheMarshalStreamOfTheVersionThatWroteIt) {
  const std::string none = ")\1N";
  const std::string whole = Pyc(k311, none);
  std::string nested;
  for (int i = 0; i < 300; ++i) nested += ")\1";
  testing::ExpectCases({
      {"whole, zeros after", "pyc", whole + std::string(500, '\0'), Verdict::kIntact, whole.size()},
      {"another file after", "pyc", whole + whole, Verdict::kIntact, whole.size()},
      {"cut inside the code object's names", "pyc", whole.substr(0, whole.size() - 20), Verdict::kTruncated, kUnknown},
      {"cut inside its integers", "pyc", whole.substr(0, 23), Verdict::kTruncated, kUnknown},
      {"an unknown type byte", "pyc", Pyc(k311, ")\1?"), Verdict::kDamaged, kUnknown},
      {"None where the constants belong", "pyc", Pyc(k311, "N"), Verdict::kDamaged, kUnknown},
      {"a tuple with a null in it", "pyc", Pyc(k311, ")\0010"), Verdict::kDamaged, kUnknown},
      {"a reference to the code object from inside it", "pyc", Pyc(k311, ")\1r" + Le(0), '\xE3'), Verdict::kDamaged,
       kUnknown},
      {"a reference to an object not yet seen", "pyc", Pyc(k311, ")\1r" + Le(5)), Verdict::kDamaged, kUnknown},
      {"a reference to an earlier object", "pyc", Pyc(k311, ")\2\xE9" + Le(7) + "r" + Le(0)), Verdict::kIntact,
       Pyc(k311, ")\2\xE9" + Le(7) + "r" + Le(0)).size()},
      {"a long whose top digit is zero", "pyc", Pyc(k311, ")\1l" + Le(1) + std::string(2, '\0')), Verdict::kDamaged,
       kUnknown},
      {"a slice, which 3.14 knows", "pyc", Pyc(k314, ")\1:NNN"), Verdict::kIntact, Pyc(k314, ")\1:NNN").size()},
      {"a slice, which 3.11 does not know", "pyc", Pyc(k311, ")\1:NNN"), Verdict::kDamaged, kUnknown},
      {"constants nested too deep to walk", "pyc", Pyc(k311, nested + "N"), Verdict::kUnchecked, kUnknown},
      {"a string instead of the code object", "pyc", Pyc(k311, none, 's'), Verdict::kDamaged, kUnknown},
      {"a magic of no known version", "pyc", Pyc(4000, none), Verdict::kUnchecked, kUnknown},
  });
}

}  // namespace
}  // namespace tessaro::formats
