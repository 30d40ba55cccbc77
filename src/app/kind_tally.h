#pragma once
// KindTally: one row of the detection count, in catalogue order.

#include <cstdint>
#include <string>

namespace tessaro {

struct KindTally {
  // The kind's extension, whole, however long (empty when the kind has none).
  std::string extension;
  std::int64_t count = 0;
};

}  // namespace tessaro
