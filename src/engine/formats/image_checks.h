#pragma once
// The picture family's checkers, split over several sources; images.cpp holds
// the table that names them.

#include <optional>

#include "engine/formats/byte_reader.h"
#include "engine/formats/format_check.h"

namespace tessaro::formats::images {

// One step of a walk through a structure (an IFD, its strips): nothing when
// the walk goes on, else the verdict that ends it.
using Step = std::optional<CheckResult>;
inline constexpr std::nullopt_t kKeepGoing = std::nullopt;

CheckResult CheckJpeg(Fragment& f, const CheckOptions& options);
CheckResult CheckTiff(Fragment& f, const CheckOptions& options);
CheckResult CheckEmf(Fragment& f, const CheckOptions& options);
CheckResult CheckWmf(Fragment& f, const CheckOptions& options);
CheckResult CheckHdr(Fragment& f, const CheckOptions& options);
CheckResult CheckExr(Fragment& f, const CheckOptions& options);
CheckResult CheckPcx(Fragment& f, const CheckOptions& options);
CheckResult CheckDds(Fragment& f, const CheckOptions& options);
CheckResult CheckJ2k(Fragment& f, const CheckOptions& options);
CheckResult CheckJp2(Fragment& f, const CheckOptions& options);
// Camera raws: those built on TIFF (image_raw.cpp) and those of their makers'
// own layouts (image_raw_blocks.cpp).
CheckResult CheckCr2(Fragment& f, const CheckOptions& options);
CheckResult CheckNef(Fragment& f, const CheckOptions& options);
CheckResult CheckArw(Fragment& f, const CheckOptions& options);
CheckResult CheckOrf(Fragment& f, const CheckOptions& options);
CheckResult CheckRw2(Fragment& f, const CheckOptions& options);
CheckResult CheckRaf(Fragment& f, const CheckOptions& options);
CheckResult CheckCrw(Fragment& f, const CheckOptions& options);
CheckResult CheckMrw(Fragment& f, const CheckOptions& options);

}  // namespace tessaro::formats::images
