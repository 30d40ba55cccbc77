#pragma once
// KindTally: one row of the detection count, in catalogue order; and the
// counts of the format checks' verdicts, kept alike wherever they are shown.

#include <array>
#include <cstdint>
#include <string>

#include "engine/formats/format_check.h"

namespace tessaro {

// The verdicts in the order every output lists them.
inline constexpr formats::Verdict kVerdictOrder[] = {formats::Verdict::kIntact, formats::Verdict::kTruncated,
                                                     formats::Verdict::kDamaged, formats::Verdict::kUnchecked};

// How many fragments got each verdict.
struct VerdictCounts {
  std::array<std::int64_t, 4> byVerdict{};  // indexed by formats::Verdict
  void Add(formats::Verdict verdict) { ++byVerdict[static_cast<std::size_t>(verdict)]; }
  std::int64_t operator[](formats::Verdict verdict) const { return byVerdict[static_cast<std::size_t>(verdict)]; }
};

struct KindTally {
  std::string name;       // the kind's name, as the kind list shows it
  // The kind's extension, whole, however long (empty when the kind has none).
  std::string extension;
  std::int64_t count = 0;
  VerdictCounts verdicts;  // of the fragments counted here, with format checks on
};

}  // namespace tessaro
